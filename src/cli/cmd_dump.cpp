// dodedoz-cli dump --company DIR ABBR [--file N]: every header and record of one data file as
// stable, diff-able text that `load` takes back as it is. A line naming the data file comes first,
// then the headers, then the records record type by record type in key-0 order, one line each:
//
//   @XVM 0
//   H1 LSTTBLE="" LSTAPPL=0 LSTFLD=0
//   R3 FTABLE="Main" FFIELD=9 FOLDVAL="100" ...
//   N3 "notes of the record above"
//
// Texts are quoted with \" \\ and \xHH for control characters and bytes that are not UTF-8,
// every other character as it is; numbers are the stored values in their shortest exact
// fixed-point form (never an exponent); logical fields 1/0; choices their item number; dates
// YYYY-MM-DD (empty when blank); times HH:MM:SS.
#include "cli/commands.h"
#include "cli/company_folder.h"
#include "cli/dump_format.h"

#include "convert/conversion_types.h"
#include "platform/datafile/dictionary.h"
#include "platform/datafile/xio.h"
#include "platform/ui/console_ui.h"
#include "platform/import/xvl_template.h"

#include <algorithm>
#include <iostream>
#include <sstream>

namespace {

// Where the text files of the conversion type `abbr` put their records: the data files its own
// template (xv<abbr>.tpl) names. Empty when `abbr` is no conversion type.
std::vector<std::string> converted_into(const std::string& abbr, std::string& typeName) {
    std::vector<std::string> into;
    for (const auto& t : dz::convert::KnownConversionTypes()) {
        if (abbr != t.abbreviation) continue;
        typeName = t.name;
        std::string path;
        std::istringstream line("#," + abbr + "," + dz::convert::DefaultTemplateName(abbr) + "\n");
        dz::xvl::xvlImpTemplate tpl;
        std::vector<dz::xvl::ZQAbbr> files;
        if (!dz::convert::ReadTemplatePath(line, path) || tpl.xvlImpTemplateCreate(path, {}) == 1 ||
            !tpl.GetZQAbbrs(files))
            break;
        for (const auto& f : files)
            if (std::find(into.begin(), into.end(), f.abbr) == into.end()) into.push_back(f.abbr);
    }
    return into;
}

// Says where the records of a conversion type of that name are, when its text files write
// other data files than `abbr` (true when it said so).
bool say_where_converted(const std::string& abbr) {
    std::string typeName;
    const auto into = converted_into(abbr, typeName);
    if (into.empty() || std::find(into.begin(), into.end(), abbr) != into.end()) return false;
    std::string list, commands;
    for (const auto& a : into) {
        list += (list.empty() ? "" : ", ") + a;
        commands += (commands.empty() ? "" : ", ") + ("dump " + a);
    }
    std::cerr << "dodedoz-cli: dump: " << typeName << " (" << abbr << " text files) are converted into " << list
              << ": see " << commands << "\n";
    return true;
}

// One line of FIELD=value pairs for fields first..last of the buffer.
std::string fields_line(uint16_t h, uint16_t first, uint16_t last) {
    std::string line;
    for (uint16_t n = first; n <= last; ++n) {
        dz::xio_fld_def f;
        dz::x_value_def v;
        dz::xio_get_fld_def(h, n, f, 1, true);
        dz::xio_get_field(h, 0, n, v);
        line += " " + f.name + "=" + dz::cli::dump_value(f, v);
    }
    return line;
}

int run_dump(const std::string& dir, const std::string& abbrIn, int fileNo, bool fileGiven) {
    using namespace dz;
    std::string abbr = abbrIn;
    for (auto& c : abbr) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string error;
    auto dict = xio::get(abbr, error);
    if (!dict) {
        std::cerr << "dodedoz-cli: dump: " << error << "\n";
        say_where_converted(abbr);
        std::string names;
        for (const auto& a : xio::abbrs()) names += " " + a;
        std::cerr << "dodedoz-cli: dump: the data files are" << names << "\n";
        return cli::kExitFailure;
    }
    if (!fileGiven) fileNo = dict->files.front().number;
    const bool listed = std::any_of(dict->files.begin(), dict->files.end(),
                                    [&](const xio::FileEntry& f) { return f.number == fileNo; });
    if (!listed) {
        std::cerr << "dodedoz-cli: dump: " << abbr << " has no file number " << fileNo << "\n";
        return cli::kExitFailure;
    }
    if (!cli::open_company_folder(dir, "dump", false)) return cli::kExitFailure;
    xio_ask_request req;
    req.abbr = abbr;
    req.readOnly = true;  // a look: an older file is read as it is, never upgraded
    req.fileNo = static_cast<uint16_t>(fileNo);
    uint16_t h = 0;
    const int status = xio_ask_file(req, h);
    if (status != XIO_OK) {
        const std::string name = dict->file(req.fileNo)->name;
        // A journal said when the command started, with its step: the refusal says no more.
        if (const std::string said = cli::journal_refusal_said(status, abbr + " file " + name); !said.empty()) {
            std::cerr << "dodedoz-cli: dump: " << said << "\n";
            return cli::kExitFailure;
        }
        const std::string subject = abbr + " file " + name;
        std::string said;
        if (status == XIO_LOCKED && !ui::journal_refusal(xio_error_next_step().step)) {
            said = cli::in_use_refusal(subject);
        } else {
            std::string why = status == XIO_NO_FILE  ? "does not exist"
                              : status == XIO_CORRUPT ? "is either an old version or corrupt"
                              // A journal beside it that is not its own: nothing holds the file.
                              : status == XIO_LOCKED ? "cannot be opened"
                                                     : "cannot be opened (status " + std::to_string(status) + ")";
            // The data files' own text of a missing file says "does not exist" again: it is left out.
            if (status != XIO_NO_FILE) why += ": " + xio_error_text();
            said = subject + " " + why;
        }
        // Who holds a file in use, and what to do, follows when the layer knows (a journal's
        // refusal was said with its step when the command started).
        const ui::NextStep next = xio_error_next_step();
        std::cerr << "dodedoz-cli: dump: "
                  << ui::console_text(ui::with_step(said,
                                                    ui::journal_refusal(next.step) ? ui::NextStep{} : next, ui::Voice::CommandLine))
                  << "\n";
        return cli::kExitFailure;
    }
    std::ostringstream out;
    out << "@" << abbr << " " << fileNo << "\n";
    int result = cli::kExitOk;
    xio_file_def def;
    xio_get_def(h, def);
    for (uint16_t hdr : def.headerNumbers) {
        xio_rec_def rd;
        xio_get_header_def(h, hdr, rd);
        int s = xio_rd_header(h, hdr, 0);
        if (s != XIO_OK) {
            std::cerr << "dodedoz-cli: dump: " << abbr << " header " << hdr << " cannot be read (status " << s << ")\n";
            result = cli::kExitFailure;
            break;
        }
        out << "H" << hdr << fields_line(h, rd.firstField, rd.lastField) << "\n";
        xio_free_header(h, hdr);
    }
    std::size_t records = 0;
    for (uint16_t rec : def.recordNumbers) {
        if (result != cli::kExitOk) break;
        xio_rec_def rd;
        xio_get_rec_def(h, rec, rd, 1);
        // Every stored row, those that repeat a key too: nothing on file goes unseen.
        const int s = xio_rd_every(h, rec, [&] {
            ++records;
            out << "R" << rec << fields_line(h, rd.firstField, rd.lastField) << "\n";
            std::string notes, piece;
            if (xio_rd_notes(h, rec, 0) == XIO_OK)
                while (xio_get_notes(h, piece) == XIO_OK) notes += piece;
            if (!notes.empty()) out << "N" << rec << " " << dz::cli::dump_quoted(notes) << "\n";
            return true;
        });
        if (s != XIO_END) {
            std::cerr << "dodedoz-cli: dump: " << abbr << " record " << rec << " cannot be read (status " << s << ")\n";
            result = cli::kExitFailure;
        }
    }
    xio_cls_file(h);
    std::cout << out.str();
    // Asked for by the name of a conversion type whose records are elsewhere, a file without
    // records says where they are.
    if (result == cli::kExitOk && records == 0 && !fileGiven) say_where_converted(abbr);
    return result;
}

const bool registered = dz::cli::register_command([](CLI::App& app, int& exitCode) {
    auto* cmd = app.add_subcommand("dump", "Print every header and record of a data file as text");
    auto company = std::make_shared<std::string>();
    auto abbr = std::make_shared<std::string>();
    auto fileNo = std::make_shared<int>(0);
    cmd->add_option("--company", *company, "Company folder")->required();
    cmd->add_option("ABBR", *abbr, "Data-file abbreviation (GLM, XVM, ...)")->required();
    auto* fileOpt = cmd->add_option("--file", *fileNo, "File number (default: the abbreviation's first file)");
    cmd->callback([=, &exitCode] { exitCode = run_dump(*company, *abbr, *fileNo, fileOpt->count() > 0); });
});

}  // namespace
