// dodedoz-cli load --company DIR FILE: writes the headers, records and notes of FILE into the
// company's data files. FILE holds what `dump` prints, each data file's lines after a line that
// names it:
//
//   # GL master records       (comments and blank lines are skipped)
//   @GLM                      (the data file: abbreviation, then the file number when it is not
//                              the abbreviation's first file)
//   H1 FIELD=value ...        (a header: the fields named are set, the others keep their value)
//   R1 FIELD=value ...        (a record: the fields not named take their defaults)
//   N1 "notes"                (the notes of the record on the line above)
//
// FILE is read as text files are converted: as UTF-8 when it is valid UTF-8, else as
// Windows-1252; a UTF-8 byte-order mark is skipped and a UTF-16 file refused. Values are
// written as dump prints them (see dump_format.h). Every line is checked and written inside one transaction per data file; when any line is refused (unknown data file,
// record, header or field, a value the field cannot hold, a field named twice, a duplicate
// key) every refused line is reported with its number and nothing is kept. With --keep-existing a
// record whose key is on file already is left as it is, so that set-up records shared by several
// samples load in any order. A file whose first record line names no data file stops there, with
// one message, since every line after it would be refused for the same reason.
#include "cli/commands.h"
#include "cli/company_folder.h"
#include "cli/input_file.h"
#include "cli/dump_format.h"

#include "platform/datafile/dictionary.h"
#include "platform/datafile/xio.h"
#include "platform/ui/console_ui.h"
#include "platform/import/xvl_encoding.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

namespace {

// The longest load line read: far beyond any record a dump prints.
constexpr std::size_t kMaxLoadLine = 1u << 20;

using namespace dz;

// Upper case, for names compared without regard to case.
std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// "1 record", "2 records".
std::string Counted(unsigned n, const std::string& word) { return std::to_string(n) + " " + word + (n == 1 ? "" : "s"); }

// An open data file and what the load has done to it.
struct Target {
    std::string abbr;
    uint16_t fileNo = 0;
    uint16_t handle = 0;
    xio_file_def def;
    std::set<uint16_t> headersSet;
    // Field name (upper case) to definition, per header ('H' << 16 | n) or record ('R' << 16 | n).
    std::map<uint32_t, std::map<std::string, xio_fld_def>> fields;
    unsigned headers = 0, records = 0, notes = 0, kept = 0;

    std::string label() const { return abbr + " file " + std::to_string(fileNo); }

    const std::map<std::string, xio_fld_def>& fields_of(char kind, uint16_t n) {
        auto& map = fields[static_cast<uint32_t>(kind) << 16 | n];
        if (map.empty()) {
            xio_rec_def rd;
            if (kind == 'H') xio_get_header_def(handle, n, rd);
            else xio_get_rec_def(handle, n, rd, 1);
            for (uint16_t f = rd.firstField; f <= rd.lastField && f != 0; ++f) {
                xio_fld_def fd;
                xio_get_fld_def(handle, f, fd, 1, true);
                map[upper(fd.name)] = fd;
            }
        }
        return map;
    }
};

class Loader {
public:
    Loader(std::string file, bool keepExisting) : file_(std::move(file)), keepExisting_(keepExisting) {}

    ~Loader() {
        for (auto& t : targets_)
            if (t->handle) {
                if (!committed_) (void)xio_rollback(t->handle);  // a failed load; closing drops it too
                xio_cls_file(t->handle);
            }
    }

    int run() {
        // Only a regular file, opened without blocking: it ends, and its size is known.
        int fd = -1;
        if (const int rc = cli::open_input("load", file_, fd, cli::kExitFailure); rc != cli::kExitOk) return rc;
        std::string rawText;
        char piece[1 << 16];
        ssize_t got;
        while ((got = ::read(fd, piece, sizeof piece)) > 0 || (got < 0 && errno == EINTR))
            if (got > 0) rawText.append(piece, static_cast<std::size_t>(got));
        ::close(fd);
        if (got < 0) {
            std::cerr << "dodedoz-cli: load: cannot read " << file_ << "\n";
            return cli::kExitFailure;
        }
        // Read as text files are converted: UTF-8 when it is valid UTF-8, else Windows-1252.
        std::string text;
        if (!xvl::DecodeTextFile(rawText, text)) {
            std::cerr << "dodedoz-cli: load: " << file_ << " is UTF-16; save it as UTF-8\n";
            return cli::kExitFailure;
        }
        std::istringstream in(text);
        std::string line;
        for (unsigned number = 1; std::getline(in, line); ++number) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::string why;
            // No line of a dump comes near this: a longer one is not a load line.
            if (line.size() > kMaxLoadLine) refuse(number, "the line is longer than " + std::to_string(kMaxLoadLine) + " bytes");
            else if (!take(line, why)) refuse(number, why);
            if (stop_) break;
        }
        if (refused_ > 0) {
            for (auto& t : targets_) (void)xio_rollback(t->handle);  // closing drops what is left
            std::cerr << "dodedoz-cli: load: " << file_ << ": " << refused_ << (refused_ == 1 ? " line" : " lines")
                      << " refused; nothing was loaded\n";
            return cli::kExitFailure;
        }
        for (auto& t : targets_) {
            if (const int s = xio_end_writes(t->handle); s != XIO_OK) {
                // Only a failing store gets here; the files committed before this one keep
                // their records, and the message says so.
                // The layer's words say why; what a person can do follows, when it knows.
                std::cerr << "dodedoz-cli: load: "
                          << ui::console_text(ui::with_step(t->label() + " could not be committed: " + xio_error_text(),
                                                            xio_error_next_step(), ui::Voice::CommandLine))
                          << "\n";
                return cli::kExitFailure;
            }
        }
        committed_ = true;
        for (auto& t : targets_) {
            std::cout << "Loaded " << t->label() << ": " << Counted(t->headers, "header") << ", "
                      << Counted(t->records, "record") << ", " << Counted(t->notes, "note");
            if (t->kept > 0) std::cout << "; " << t->kept << (t->kept == 1 ? " record was" : " records were") << " on file already and kept";
            std::cout << "\n";
        }
        return cli::kExitOk;
    }

private:
    void refuse(unsigned number, const std::string& why) {
        ++refused_;
        if (refused_ <= kShownRefusals)
            std::cerr << "dodedoz-cli: load: " << file_ << ":" << number << ": " << why << "\n";
        else if (refused_ == kShownRefusals + 1)
            std::cerr << "dodedoz-cli: load: further refused lines are not shown\n";
    }

    // One line; false with the reason when it is refused.
    bool take(const std::string& line, std::string& why) {
        if (line.empty() || line[0] == '#') return true;
        const char kind = line[0];
        if (kind == '@') {
            skipSection_ = !open_target(line.substr(1), why);
            return !skipSection_;
        }
        // The lines of a data file that was refused, and the notes of a refused record, add
        // nothing to the refusal already reported.
        if (skipSection_ || (kind == 'N' && skipNotes_)) return true;
        skipNotes_ = false;
        if (kind != 'H' && kind != 'R' && kind != 'N') {
            why = "a line begins with @, H, R, N or # (got \"" + line.substr(0, 20) + "\")";
            return false;
        }
        std::size_t at = 1;
        unsigned n = 0;
        while (at < line.size() && std::isdigit(static_cast<unsigned char>(line[at])) && n < 65536)
            n = n * 10 + static_cast<unsigned>(line[at++] - '0');
        if (at == 1 || n >= 65536 || (at < line.size() && line[at] != ' ')) {
            why = std::string("no ") + (kind == 'H' ? "header" : "record") + " number after " + kind;
            return false;
        }
        if (!target_) {
            // Every line after this one would be refused for the same reason: say it once.
            why = "no data file named yet: add a line @ABBR (for example @GLM, as dump prints it) before this "
                  "line";
            stop_ = true;
            return false;
        }
        const auto num = static_cast<uint16_t>(n);
        const std::string rest = line.substr(at);
        if (kind == 'N') return notes(num, rest, why);
        const auto& list = kind == 'H' ? target_->def.headerNumbers : target_->def.recordNumbers;
        if (std::find(list.begin(), list.end(), num) == list.end()) {
            why = target_->label() + " has no " + (kind == 'H' ? "header " : "record ") + std::to_string(num);
            return false;
        }
        lastRecord_ = 0;
        if (kind == 'H') return header(num, rest, why);
        keptLast_ = false;
        const bool written = record(num, rest, why);
        skipNotes_ = !written || keptLast_;
        return written;
    }

    bool open_target(const std::string& text, std::string& why) {
        target_ = nullptr;
        lastRecord_ = 0;
        std::string abbr;
        std::size_t at = 0;
        while (at < text.size() && text[at] == ' ') ++at;
        while (at < text.size() && text[at] != ' ') abbr += text[at++];
        abbr = upper(abbr);
        std::string error;
        auto dict = xio::get(abbr, error);
        if (abbr.empty() || !dict) {
            why = abbr.empty() ? "no data file named after @" : "no data file " + abbr + ": " + error;
            return false;
        }
        int fileNo = dict->files.front().number;
        std::string number = text.substr(at);
        number.erase(0, number.find_first_not_of(' '));
        number.erase(number.find_last_not_of(' ') + 1);
        if (!number.empty()) {
            if (number.size() > 5 || number.find_first_not_of("0123456789") != std::string::npos) {
                why = "\"" + number + "\" is not a file number";
                return false;
            }
            fileNo = std::stoi(number);
        }
        if (std::none_of(dict->files.begin(), dict->files.end(),
                         [&](const xio::FileEntry& f) { return f.number == fileNo; })) {
            why = abbr + " has no file number " + std::to_string(fileNo);
            return false;
        }
        for (auto& t : targets_)
            if (t->abbr == abbr && t->fileNo == fileNo) {
                target_ = t.get();
                return true;
            }
        auto t = std::make_unique<Target>();
        t->abbr = abbr;
        t->fileNo = static_cast<uint16_t>(fileNo);
        xio_ask_request req;
        req.abbr = abbr;
        req.fileNo = t->fileNo;
        const int status = xio_ask_file(req, t->handle);
        if (status != XIO_OK) {
            const std::string named = t->label() + " (" + dict->file(req.fileNo)->name + ")";
            // Nothing holds a file this user may not write, and waiting never helps.
            why = cli::unwritable_refusal(status, named);
            if (!why.empty()) return false;
            // A journal said when the command started, with its step: the line says no more.
            why = cli::journal_refusal_said(status, named);
            if (!why.empty()) return false;
            // The data files' own text of a missing file says "does not exist" again: it is left out.
            why = status == XIO_NO_FILE ? named + " does not exist"
                  // A journal beside it that is not its own: nothing holds the file.
                  : status == XIO_LOCKED && ui::journal_refusal(xio_error_next_step().step)
                      ? named + " cannot be opened: " + xio_error_text()
                  : status == XIO_LOCKED
                      ? cli::in_use_refusal(named)
                      : named + " cannot be opened (status " + std::to_string(status) + "): " + xio_error_text();
            // What stands in the way and who may move it: said with the refusal, as a conversion says it.
            if (const ui::NextStep next = xio_error_next_step(); next)
                why = ui::console_text(ui::with_step(why, next, ui::Voice::CommandLine));
            return false;
        }
        xio_get_def(t->handle, t->def);
        // Held for writing, or the file's lines could not stand or fall together.
        if (const int started = xio_start_writes(t->handle); started != XIO_OK) {
            const std::string subject = t->label() + " (" + dict->file(req.fileNo)->name + ")";
            why = started == XIO_LOCKED ? cli::in_use_refusal(subject)
                                        : subject + " cannot be written (status " + std::to_string(started) + ")";
            xio_cls_file(t->handle);
            t->handle = 0;
            return false;
        }
        target_ = t.get();
        targets_.push_back(std::move(t));
        return true;
    }

    // Puts the FIELD=value pairs of `rest` into the buffer of header or record `n`.
    bool put_fields(char kind, uint16_t n, const std::string& rest, std::string& why) {
        const auto& fields = target_->fields_of(kind, n);
        const std::string owner = std::string(kind == 'H' ? "header " : "record ") + std::to_string(n);
        std::set<std::string> seen;
        std::size_t at = 0;
        while (at < rest.size()) {
            if (rest[at] == ' ') {
                ++at;
                continue;
            }
            const std::size_t eq = rest.find('=', at);
            const std::size_t space = rest.find(' ', at);
            if (eq == std::string::npos || (space != std::string::npos && space < eq)) {
                why = "\"" + rest.substr(at, std::min(space, rest.size()) - at) + "\" is not FIELD=value";
                return false;
            }
            const std::string name = upper(rest.substr(at, eq - at));
            auto it = fields.find(name);
            if (it == fields.end()) {
                why = "unknown field " + rest.substr(at, eq - at) + " in " + owner + " of " + target_->label();
                return false;
            }
            if (!seen.insert(name).second) {
                why = "field " + it->second.name + " is given twice";
                return false;
            }
            const xio_fld_def& f = it->second;
            std::string text;
            at = eq + 1;
            if (xio_is_text_type(f.type)) {
                const std::size_t used = dz::cli::read_quoted(std::string_view(rest).substr(at), text);
                if (used == 0) {
                    why = "field " + f.name + ": a text is written in quotes, with \\\" \\\\ and \\xHH";
                    return false;
                }
                at += used;
                if (at < rest.size() && rest[at] != ' ') {
                    why = "field " + f.name + ": nothing may follow the closing quote";
                    return false;
                }
            } else {
                const std::size_t end = std::min(rest.find(' ', at), rest.size());
                text = rest.substr(at, end - at);
                at = end;
            }
            x_value_def v;
            std::string bad;
            if (!dz::cli::parse_value(f, text, v, bad)) {
                why = "field " + f.name + ": \"" + text + "\" " + bad;
                return false;
            }
            if (xio_put_field(target_->handle, kind == 'H' ? 0 : n, f.number, v) != XIO_OK) {
                why = "field " + f.name + " cannot be set";
                return false;
            }
        }
        return true;
    }

    bool header(uint16_t n, const std::string& rest, std::string& why) {
        if (!target_->headersSet.insert(n).second) {
            why = "header " + std::to_string(n) + " of " + target_->label() + " is given twice";
            return false;
        }
        const uint16_t h = target_->handle;
        if (const int s = xio_rd_header(h, n, 1); s != XIO_OK) {
            why = "header " + std::to_string(n) + " cannot be read (status " + std::to_string(s) + ")";
            return false;
        }
        const bool ok = put_fields('H', n, rest, why);
        const int s = ok ? xio_wr_header(h, n) : XIO_OK;
        xio_free_header(h, n);
        if (!ok) return false;
        if (s != XIO_OK) {
            why = "header " + std::to_string(n) + " cannot be written (status " + std::to_string(s) + "): " + xio_error_text();
            return false;
        }
        ++target_->headers;
        return true;
    }

    bool record(uint16_t n, const std::string& rest, std::string& why) {
        const uint16_t h = target_->handle;
        xio_init_record(h, n);
        if (!put_fields('R', n, rest, why)) return false;
        uint16_t dupKey = 0;
        const int s = xio_wr_record(h, n, &dupKey);
        if (s == XIO_DUPLICATE && keepExisting_) {
            // Set-up records that an earlier load or conversion already wrote stay as they are,
            // notes and all.
            ++target_->kept;
            lastRecord_ = 0;
            keptLast_ = true;
            return true;
        }
        if (s == XIO_DUPLICATE) {
            xio_key_def key;
            xio_get_key_def(h, dupKey, key, n);
            why = "duplicate key " + (key.name.empty() ? std::to_string(dupKey) : key.name) + " in " + target_->label();
            return false;
        }
        if (s != XIO_OK) {
            why = "record " + std::to_string(n) + " cannot be written (status " + std::to_string(s) + "): " + xio_error_text();
            return false;
        }
        ++target_->records;
        lastRecord_ = n;
        return true;
    }

    // The notes of the record written by the line above.
    bool notes(uint16_t n, const std::string& rest, std::string& why) {
        const uint16_t last = lastRecord_;
        lastRecord_ = 0;  // one notes line per record
        if (last != n) {
            why = "N" + std::to_string(n) + " must follow the R" + std::to_string(n) + " line of its record";
            return false;
        }
        std::string text;
        const std::string_view v = std::string_view(rest).substr(rest.find_first_not_of(' ') == std::string::npos
                                                                      ? rest.size()
                                                                      : rest.find_first_not_of(' '));
        const std::size_t used = dz::cli::read_quoted(v, text);
        if (used == 0 || v.find_first_not_of(' ', used) != std::string_view::npos) {
            why = "notes are one quoted text, with \\\" \\\\ and \\xHH";
            return false;
        }
        const uint16_t h = target_->handle;
        int s = xio_rd_notes(h, n, 1);
        if (s == XIO_OK) s = xio_put_notes(h, text);
        if (s == XIO_OK) s = xio_wr_notes(h);
        if (s != XIO_OK) {
            why = "notes cannot be written (status " + std::to_string(s) + "): " + xio_error_text();
            return false;
        }
        ++target_->notes;
        return true;
    }

    static constexpr unsigned kShownRefusals = 50;
    std::string file_;
    std::vector<std::unique_ptr<Target>> targets_;
    Target* target_ = nullptr;
    uint16_t lastRecord_ = 0;  // record type written by the line above; 0 none
    unsigned refused_ = 0;
    bool skipSection_ = false;  // the data file of the lines below was refused
    bool skipNotes_ = false;    // the record above was refused
    bool committed_ = false;
    bool stop_ = false;  // the rest of the file is not read
    bool keepExisting_ = false;
    bool keptLast_ = false;  // the record above was on file already and kept
};

const bool registered = dz::cli::register_command([](CLI::App& app, int& exitCode) {
    auto* cmd = app.add_subcommand("load", "Write headers, records and notes, written as dump prints them, into data files");
    auto company = std::make_shared<std::string>();
    auto file = std::make_shared<std::string>();
    cmd->add_option("--company", *company, "Company folder")->required();
    auto keep = std::make_shared<bool>(false);
    cmd->add_option("FILE", *file, "The lines to load")->required();
    cmd->add_flag("--keep-existing", *keep,
                  "A record whose key is on file already is kept as it is (its line and notes are skipped) instead of "
                  "refused");
    cmd->callback([=, &exitCode] {
        if (!dz::cli::open_company_folder(*company, "load", true)) {
            exitCode = dz::cli::kExitFailure;
            return;
        }
        exitCode = Loader(*file, *keep).run();
    });
});

}  // namespace
