// dodedoz-cli tables list|show|export|import|prefill: the substitution tables of a company.
//
//   tables list --company DIR
//       every table group with its tables: application, field id and name, entry count and
//       the two options (what a blank new value and an old value not in the table do).
//   tables show --company DIR GROUP [--app A] [--field F]
//       the entries of the group's tables (or of the one chosen), one per line in the table
//       text format "old,new" or "old,new,third", each table under a heading line.
//   tables export --company DIR GROUP --app A --field F FILE
//       writes the table's rows as the editor's ~Export... does.
//   tables import --company DIR GROUP --app A --field F [--report R] [--old-size N] FILE
//       opens the table as the editor does (a missing one is created), imports FILE (report to
//       R or standard output, summary on standard error) and saves.
//   tables prefill --company DIR GROUP --app A --field F [--on-error skip|end] [--reconvert]
//                  [--old-size N] FILE...
//       checks and reads the text files through their converters as the editor's ~Prefill...
//       does, derives GL accounts, prints the messages and the rows added, and saves.
// Exit status: 0; 1 when import lines were rejected; 2 when the table is held by another user,
// a file cannot be read or written, or the save fails; 64 for usage.
#include "cli/commands.h"
#include "cli/company_folder.h"
#include "cli/input_file.h"

#include "app/driver.h"
#include "app/table_text_commands.h"
#include "cli/cli_ui.h"
#include "platform/datafile/data_folder.h"
#include "platform/ui/full_output.h"
#include "platform/ui/screen_file.h"
#include "platform/ui/own_files.h"
#include "platform/ui/print.h"
#include "tables/table_text.h"

#include "platform/datafile/xio.h"
#include "platform/suite/company.h"
#include "platform/suite/xk.h"
#include "tables/master_file.h"
#include "tables/substitution_fields.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <iostream>
#include <memory>
#include <sstream>

namespace {

using namespace dz;
using namespace dz::tables;

constexpr uint16_t kTablesCommand = 4010;

// The name of a table's field as the editor lists it.
std::string FieldName(uint16_t fieldId) {
    auto gl = [](int section, const char* fallback) {
        std::string d = suite::xk_description(suite::kGlAccountFormat, section);
        return d.empty() ? std::string(fallback) : d;
    };
    switch (fieldId) {
        case kFieldGlPrefixA: return gl(suite::kGlPrefixA, "Prefix A");
        case kFieldGlPrefixAB: return gl(suite::kGlPrefixAB, "Prefix AB");
        case kFieldGlPrefixABC: return gl(suite::kGlPrefixABC, "Prefix ABC");
        case kFieldGlBase: return gl(suite::kGlBaseAccount, "Base account");
        default: {
            std::string d = suite::xk_description(fieldId, 0);
            return d.empty() ? "field " + std::to_string(fieldId) : d;
        }
    }
}

std::string AppCode(uint32_t appl) {
    const SubstitutionApplication* a = FindApplication(appl);
    return a ? std::string(a->code) : "application " + std::to_string(appl);
}

// What a table option does, in the words of the editor's options panel (0, never set, is 1).
std::string OptionText(uint16_t option) {
    static const std::vector<std::string> kChoices = []() -> std::vector<std::string> {
        try {
            const ui::ScreenFile screens = ui::load_screen_file(dz::data_folder() / "screens" / "XV.toml");
            const ui::PanelDef* def = screens.find("TABLE", "OPTIONS");
            const ui::FieldDef* f = def ? def->field(2) : nullptr;
            if (f) return f->choices;
        } catch (const std::exception&) {
        }
        return {};  // the numbers then stand for themselves
    }();
    const std::size_t at = option == 0 ? 0 : option - 1u;
    if (at >= kChoices.size()) return std::to_string(option);
    std::string text = kChoices[at];
    text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

std::string TableHeading(const TableSummary& t) {
    std::ostringstream s;
    s << AppCode(t.application) << " " << t.fieldId << " " << FieldName(t.fieldId) << ": " << t.entries
      << (t.entries == 1 ? " entry" : " entries");
    if (ThirdValueFieldName(t.fieldId) && t.mapJobToExtra != 0) s << ", with new extra";
    s << " (when the new value is blank: " << OptionText(t.blankValueOption)
      << "; when the old value is not in the table: " << OptionText(t.notFoundOption) << ")";
    return s.str();
}

// Opens the company and its table file; prints why on failure. A command that writes a table
// (`writes`) may read the company's data files to fill it: a conversion that stopped while
// posting is put back first, as every command that may write does.
bool OpenTables(const std::string& dir, const char* what, SubstitutionMasterFile*& out,
                std::unique_ptr<SubstitutionMasterFile>& holder, bool writes = false) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) {
        std::cerr << "dodedoz-cli: tables " << what << ": company folder " << dir << " does not exist\n";
        return false;
    }
    try {
        suite::open_company(dir);
    } catch (const suite::SettingsError& e) {
        std::cerr << "dodedoz-cli: tables " << what << ": " << e.what() << "\n";
        return false;
    }
    if (writes && !cli::recover_interrupted_runs(std::string("tables ") + what, true)) return false;
    holder = std::make_unique<SubstitutionMasterFile>(kTablesCommand);
    if (holder->handle() <= 0) {
        // The table file's constructor goes on to other files after a failed open, so the error
        // text no longer tells why this one failed: the open is made again here for its own error.
        std::string detail;
        if (holder->handle() != 0) {
            xio_ask_request req;
            req.command = kTablesCommand;
            req.abbr = kXvmAbbr;
            uint16_t h = 0;
            const int status = xio_ask_file(req, h);
            if (status == XIO_OK && h != 0) {
                xio_cls_file(h);
                detail = "it is not a table file";
            } else {
                // Said with its step, here or (a journal) when the command started.
                std::string refusal = cli::unwritable_refusal(status, kXvmFileName);
                if (refusal.empty()) refusal = cli::journal_refusal_said(status, kXvmFileName);
                if (!refusal.empty()) {
                    std::cerr << "dodedoz-cli: tables " << what << ": " << refusal << "\n";
                    return false;
                }
                // What stands in the way, and who may move it.
                detail = ui::console_text(ui::with_step(xio_error_text(), xio_error_next_step(), ui::Voice::CommandLine));
            }
        }
        std::cerr << "dodedoz-cli: tables " << what << ": " << kXvmFileName
                  << (holder->handle() == 0 ? " does not exist" : " cannot be opened") << " in "
                  << SubstitutionMasterFile::MasterPath().parent_path().string();
        if (!detail.empty()) std::cerr << ": " << detail;
        std::cerr << "\n";
        return false;
    }
    out = holder.get();
    return true;
}

int RunList(const std::string& dir) {
    xio_read_only_scope readOnly;  // a look: nothing is written, no file upgraded
    SubstitutionMasterFile* mf = nullptr;
    std::unique_ptr<SubstitutionMasterFile> holder;
    if (!OpenTables(dir, "list", mf, holder)) return cli::kExitFailure;
    std::vector<GroupSummary> groups;
    const int status = mf->ListGroups(groups);
    mf->Close();
    if (status != XIO_OK) {
        std::cerr << "dodedoz-cli: tables list: " << kXvmFileName << " cannot be read (status " << status << ")\n";
        return cli::kExitFailure;
    }
    if (groups.empty()) std::cout << "No table groups\n";
    for (const auto& g : groups) {
        std::cout << g.name << "\n";
        if (g.tables.empty()) std::cout << "  (no tables)\n";
        for (const auto& t : g.tables) std::cout << "  " << TableHeading(t) << "\n";
    }
    return cli::kExitOk;
}

// A group name longer than a group name holds names no group: said with the limit, before a
// lookup could find the group of its first characters.
bool GroupNameRefused(const char* verb, const std::string& group) {
    const std::string why = GroupNameTooLong(group);
    if (why.empty()) return false;
    std::cerr << "dodedoz-cli: tables " << verb << ": " << why << "\n";
    return true;
}

// --app takes an application code ("GL") or its number (1 to 8).
bool ParseApp(const std::string& text, uint32_t& appl) {
    for (const auto& a : SubstitutionApplications()) {
        if (SameText(text, a.code) || text == std::to_string(a.number)) {
            appl = a.number;
            return true;
        }
    }
    return false;
}

int RunShow(const std::string& dir, const std::string& group, const std::string& appText, int field, bool fieldGiven) {
    xio_read_only_scope readOnly;  // a look: nothing is written, no file upgraded
    if (GroupNameRefused("show", group)) return cli::kExitUsage;
    uint32_t appl = 0;
    if (!appText.empty() && !ParseApp(appText, appl)) {
        std::cerr << "dodedoz-cli: tables show: unknown application '" << appText
                  << "' (use GL, JC, AP, PR, PM, XX, TL or AR)\n";
        return cli::kExitUsage;
    }
    if (fieldGiven && (field <= 0 || field > 65535)) {
        std::cerr << "dodedoz-cli: tables show: field id " << field << " is out of range\n";
        return cli::kExitUsage;
    }
    SubstitutionMasterFile* mf = nullptr;
    std::unique_ptr<SubstitutionMasterFile> holder;
    if (!OpenTables(dir, "show", mf, holder)) return cli::kExitFailure;
    std::vector<GroupSummary> groups;
    int status = mf->ListGroups(groups);
    if (status != XIO_OK) {
        mf->Close();
        std::cerr << "dodedoz-cli: tables show: " << kXvmFileName << " cannot be read (status " << status << ")\n";
        return cli::kExitFailure;
    }
    const GroupSummary* g = nullptr;
    for (const auto& candidate : groups)
        if (SameText(candidate.name, group)) g = &candidate;
    if (!g) {
        mf->Close();
        std::cerr << "dodedoz-cli: tables show: table group '" << group << "' does not exist\n";
        return cli::kExitFailure;
    }
    std::ostringstream out;
    int shown = 0;
    for (const auto& t : g->tables) {
        if (appl != 0 && t.application != appl) continue;
        if (fieldGiven && t.fieldId != field) continue;
        SubstitutionTable doc(g->name, t.fieldId, t.application);
        status = mf->LoadRows(g->name, t.fieldId, doc);
        if (status != XIO_OK) {
            mf->Close();
            std::cerr << "dodedoz-cli: tables show: the entries of " << AppCode(t.application) << " " << t.fieldId
                      << " cannot be read (status " << status << ")\n";
            return cli::kExitFailure;
        }
        out << "[" << g->name << "] " << TableHeading(t) << "\n";
        const bool third = ThirdValueFieldName(t.fieldId) != nullptr && t.mapJobToExtra != 0;
        for (const SubstitutionRow* r = doc.firstRow; r; r = r->next) {
            // Both values as the editor shows them (a new account with its separators, as its
            // old value is typed), each as a table text file holds it: the line imports back to
            // the same row.
            out << TableFileValue(r->oldValue, true) << "," << TableFileValue(ShownNewValue(t.fieldId, r->newValue), false);
            if (third) out << "," << TableFileValue(r->thirdValue, false);
            out << "\n";
        }
        ++shown;
    }
    mf->Close();
    if (shown == 0 && (appl != 0 || fieldGiven)) {
        std::cerr << "dodedoz-cli: tables show: table group '" << g->name << "' has no such table\n";
        return cli::kExitFailure;
    }
    std::cout << out.str();
    return cli::kExitOk;
}

// ---- export, import, prefill -----------------------------------------------------------------

constexpr int kExitRejected = 1;

struct TableArgs {
    std::string company, group, app;
    int field = 0;
    int oldSize = 0;  // 0: not given
};

// The table named on the command line: application and field checked, the table opened (and
// locked) as the editor opens it, or created when `create`. Answers an exit status; the open
// file and the document on success.
class CliTable {
public:
    int Open(const TableArgs& a, const char* verb, bool create) {
        if (!ParseApp(a.app, appl_)) {
            std::cerr << "dodedoz-cli: tables " << verb << ": unknown application '" << a.app
                      << "' (use GL, JC, AP, PR, PM, XX, TL or AR)\n";
            return cli::kExitUsage;
        }
        const SubstitutionApplication* app = FindApplication(appl_);
        const bool listed = a.field > 0 && a.field <= 65535 &&
                            std::any_of(app->fields.begin(), app->fields.end(),
                                        [&](const SubstitutionField& f) { return f.id == a.field; });
        if (!listed) {
            std::cerr << "dodedoz-cli: tables " << verb << ": field " << a.field << " is not a field of "
                      << app->code << "\n";
            return cli::kExitUsage;
        }
        if (IsUnnamedGroup(a.group)) {
            std::cerr << "dodedoz-cli: tables " << verb << ": a table group name is needed\n";
            return cli::kExitUsage;
        }
        if (GroupNameRefused(verb, a.group)) return cli::kExitUsage;
        if (!OpenTables(a.company, verb, mf_, holder_, create)) return cli::kExitFailure;
        // A name no new group may take ends the command before anything is read, as one too long
        // does; a look finds only groups on file, whatever their names.
        if (const std::string refused = create ? mf_->RefusedGroupName(a.group) : std::string(); !refused.empty()) {
            std::cerr << "dodedoz-cli: tables " << verb << ": " << refused << "\n";
            return cli::kExitUsage;
        }
        mf_->SetVoice(ui::Voice::CommandLine);
        const auto field = static_cast<uint16_t>(a.field);
        const bool exists = mf_->HasTable(a.group, appl_, field);
        if (!exists && !create) {
            std::cerr << "dodedoz-cli: tables " << verb << ": table group '" << a.group << "' has no such table\n";
            return cli::kExitUsage;
        }
        if (!create) {  // a look: the table is read as it stands, not locked
            mf_->SetCurrentTable(a.group, appl_, field);
            doc_ = OpenTableDocument(*mf_);
            return cli::kExitOk;
        }
        // A table on file is locked while it is filled; one not on file yet is made by the save,
        // in the same write as its rows.
        if (!mf_->OpenToFill(a.group, static_cast<uint16_t>(appl_ + 1), field))
            return cli::kExitFailure;  // the reason was shown
        locked_ = true;
        doc_ = OpenTableDocument(*mf_);
        if (!exists) {
            // The editor's default options, as a definition made now would hold them (never set).
            doc_->blankValueOption = doc_->notFoundOption = 0;
            if (a.oldSize != 0) doc_->oldSize = static_cast<uint16_t>(a.oldSize);
        }
        return cli::kExitOk;
    }
    // Writes the rows; false after saying why (a save that fails says why itself, with what to
    // do). A group made here is one a conversion can use, whatever its tables' fields: it gets
    // its group record, as the editor's Save As gives one, in the same write as the rows.
    bool Save() {
        if (!doc_->modified) return true;
        return mf_->Save(*doc_, true) == XIO_OK;
    }
    ~CliTable() {
        if (!mf_) return;
        if (locked_) mf_->ReleaseDefinition(false);
        mf_->Close();
    }
    SubstitutionTable& doc() { return *doc_; }

private:
    uint32_t appl_ = 0;
    SubstitutionMasterFile* mf_ = nullptr;
    std::unique_ptr<SubstitutionMasterFile> holder_;
    std::unique_ptr<SubstitutionTable> doc_;
    bool locked_ = false;
};

int RunExport(const TableArgs& a, const std::string& file, bool force) {
    xio_read_only_scope readOnly;  // a look at the table: MASTER.XVM is not written
    CliTable t;
    if (int rc = t.Open(a, "export", false); rc != cli::kExitOk) return rc;
    std::string why;
    if (!WriteTableFile(t.doc(), file, why, force)) {
        if (why == kTableFileExists) why += " (--force replaces it)";
        std::cerr << "dodedoz-cli: tables export: cannot write " << file << ": " << why << "\n";
        return cli::kExitFailure;
    }
    return cli::kExitOk;
}

// The cause of a failed write, flush or close of a report: the device's own answer.
std::string ReportCause(int error) {
    return error != 0 ? std::string(std::strerror(error)) : std::string("nothing more could be written");
}

// The import itself; `reportFailure` gets the line that says the report was not written. The
// table is saved before the report's totals are printed: they say what the save kept.
int ImportTable(const TableArgs& a, const std::string& report, const std::string& file, std::string& reportFailure) {
    cli::CliUiOptions uiOptions;
    cli::CliUi ui(uiOptions);
    CliTable t;
    if (int rc = t.Open(a, "import", true); rc != cli::kExitOk) return rc;
    ui::PrintDef def;
    def.title = "Import Report";
    const int print = ui::xp_open_print(def, ui::Destination::Spool);
    const ImportOutcome o = ImportRowsWithoutTotals(t.doc(), file, print, {});
    if (o.rowsImported()) {
        t.doc().modified = true;
        SortTableRows(t.doc());
    }
    const bool changes = t.doc().modified;
    const bool saved = !o.opened || t.Save();
    // The save's last count comes before the report and totals that say what it kept.
    ui.close_progress_line();
    const RowsKept kept = saved ? RowsKept::Kept : RowsKept::NotSaved;
    EndImportReport(print, file, t.doc().fieldId, o, kept);
    const bool reportOnScreen = report.empty() || report == "-";
    std::string why;
    int error = 0;
    const int fd = reportOnScreen ? -1 : files::open_report_file(report, why);
    bool written = reportOnScreen || fd >= 0;
    // The lines come back from the print's spool and go out a piece at a time, never all held.
    std::string piece;
    auto flush = [&] {
        if (reportOnScreen) {
            std::cout << piece;
        } else if (written) {
            errno = 0;
            if (!files::write_all(fd, piece)) {
                written = false;
                error = errno;
                why = ReportCause(error);
            }
        }
        piece.clear();
    };
    ui::xp_each_line(print, [&](std::string_view l) {
        if (!l.empty() && l.front() == '\f') l.remove_prefix(1);
        piece.append(l).push_back('\n');
        if (piece.size() >= 64 * 1024) flush();
        return written;
    });
    // A report in a file says how its text was read, as the screen does.
    if (!reportOnScreen && !o.encodingNote.empty()) piece += ui::console_text(o.encodingNote) + "\n";
    flush();
    ui::xp_close_print(print);
    if (fd >= 0 && ::close(fd) != 0 && written) {
        written = false;
        error = errno;
        why = ReportCause(error);
    }
    auto notWritten = [&](const std::string& table) {
        std::string line = table + "the report could not be written to " + report + ": " + why;
        // A device that took no more is no disk to free space on: it is named for what it is.
        const ui::NextStep next = error == ENOSPC ? ui::full_output_step(report, false) : ui::NextStep{};
        if (ui::about_device(next)) line += "; " + ui::step_words(next, ui::Voice::CommandLine);
        reportFailure = "dodedoz-cli: tables import: " + line + "\n";
    };
    if (!o.opened) {
        if (!written) notWritten("");
        return cli::kExitFailure;
    }
    // The summary repeats the report's totals: it is for a report that went to a file.
    if (o.counts.records >= 1 && !reportOnScreen) std::cerr << ui::console_text(ImportSummary(o.counts, kept)) << "\n";
    if (!o.encodingNote.empty()) std::cerr << "dodedoz: " << ui::console_text(o.encodingNote) << "\n";
    if (!written) {
        // The table and its report are two things: whichever was written is said as such.
        notWritten(!saved ? "" : changes ? "the table was saved, but " : "the table is unchanged, and ");
        return cli::kExitFailure;
    }
    if (!saved) return cli::kExitFailure;
    return o.counts.rejected > 0 ? kExitRejected : cli::kExitOk;
}

int RunImport(const TableArgs& a, const std::string& report, const std::string& file) {
    if (const int rc = cli::check_input("tables import", file); rc != cli::kExitOk) return rc;
    std::string reportFailure;
    const int rc = ImportTable(a, report, file, reportFailure);
    // Said last, after the save's own count.
    std::cerr << reportFailure;
    return rc;
}

int RunPrefillCli(const TableArgs& a, const cli::CliUiOptions& uiOptions, const std::vector<std::string>& paths) {
    for (const auto& p : paths)
        if (const int rc = cli::check_input("tables prefill", p); rc != cli::kExitOk) return rc;
    cli::CliUi ui(uiOptions);
    CliTable t;
    if (int rc = t.Open(a, "prefill", true); rc != cli::kExitOk) return rc;
    // Every prefilled row would take the list's default, which does not fit: nothing is read.
    if (!t.doc().listDefaultRefusal.empty()) {
        std::cerr << "dodedoz-cli: tables prefill: " << t.doc().listDefaultRefusal << "\n";
        return cli::kExitFailure;
    }
    app::InstallPrefillCallback();
    ui::zqTask task("Prefill Table", 0, kTablesCommand, 0, "", "");
    app::ConversionTypeList selection;
    for (const auto& p : paths) selection.files.push_back(app::TextFileEntry{p, 0});
    app::OpenFilesList openFiles;
    const int before = t.doc().RowCount();
    std::string ending;
    const bool checked = app::ValidateTextFiles(selection, openFiles, task, &ending);
    const app::PrefillOutcome o = checked ? app::RunPrefill(selection, openFiles, t.doc(), task, ui::Voice::CommandLine)
                                          : app::PrefillOutcome{};
    app::CloseRunFiles(openFiles);
    // A check that ended the run was said with its file: nothing was read, so nothing is found
    // or saved, and the table stays as it was.
    if (!checked) {
        if (selection.files.empty()) ending = std::string(app::kEveryFileSkipped) + ": nothing is prefilled";
        if (!ending.empty()) std::cerr << "dodedoz-cli: tables prefill: " << ending << "\n";
        return cli::kExitFailure;
    }
    for (const auto& note : o.encodingNotes) std::cerr << "dodedoz: " << ui::console_text(note) << "\n";
    if (o.found) {
        t.doc().modified = true;
        SortTableRows(t.doc());
    } else if (selection.files.size() > o.unread) {  // of the files read
        ui::xw_wr_message(ui::kInfo, "No unique values found to prefill.");
    }
    // Counted once the save has said what it kept: rows it did not write were never added.
    const int added = t.doc().RowCount() - before;
    const bool saved = t.Save();
    ui.close_progress_line();
    if (saved) std::cout << added << (added == 1 ? " row added\n" : " rows added\n");
    else std::cout << added << (added == 1 ? " new row" : " new rows") << " not saved\n";
    // A text file left out at a check, or that no converter reads, was not read: as a file that
    // cannot be read, it fails the command, whatever the others added.
    const bool everyFileRead = selection.skipped.empty() && o.unread == 0;
    return saved && everyFileRead ? cli::kExitOk : cli::kExitFailure;
}

void AddTableArgs(CLI::App* cmd, const std::shared_ptr<TableArgs>& a, bool oldSize) {
    cmd->add_option("--company", a->company, "Company folder")->required();
    cmd->add_option("GROUP", a->group, "Table group name")->required();
    cmd->add_option("--app", a->app, "Application code (GL, JC, AP, PR, PM, XX, TL, AR)")->required();
    cmd->add_option("--field", a->field, "Field id (9, 9001-9004, 16, ...)")->required();
    // Given, it is 1 to 40 like any size the editor takes; 0 stands only for "not given".
    if (oldSize)
        cmd->add_option("--old-size", a->oldSize, "Old value size of a table created here (1-40)")
            ->check(CLI::Range(1, 40));
}

const bool registered = dz::cli::register_command([](CLI::App& app, int& exitCode) {
    auto* cmd = app.add_subcommand("tables", "The substitution tables of a company");
    cmd->require_subcommand(1);

    auto* list = cmd->add_subcommand("list", "Table groups with their tables and entry counts");
    auto listCompany = std::make_shared<std::string>();
    list->add_option("--company", *listCompany, "Company folder")->required();
    list->callback([=, &exitCode] { exitCode = RunList(*listCompany); });

    auto* show = cmd->add_subcommand("show", "The entries of a table group's tables");
    auto company = std::make_shared<std::string>();
    auto group = std::make_shared<std::string>();
    auto appText = std::make_shared<std::string>();
    auto field = std::make_shared<int>(0);
    show->add_option("--company", *company, "Company folder")->required();
    show->add_option("GROUP", *group, "Table group name")->required();
    show->add_option("--app", *appText, "Application code (GL, JC, AP, PR, PM, XX, TL, AR)");
    auto* fieldOpt = show->add_option("--field", *field, "Field id (9, 9001-9004, 16, ...)");
    show->callback([=, &exitCode] { exitCode = RunShow(*company, *group, *appText, *field, fieldOpt->count() > 0); });

    auto* exp = cmd->add_subcommand("export", "Write a table's rows to a table text file");
    auto expArgs = std::make_shared<TableArgs>();
    auto expFile = std::make_shared<std::string>();
    AddTableArgs(exp, expArgs, false);
    auto expForce = std::make_shared<bool>(false);
    exp->add_option("FILE", *expFile, "Table text file to write")->required();
    exp->add_flag("--force", *expForce, "Replace FILE when it exists");
    exp->callback([=, &exitCode] { exitCode = RunExport(*expArgs, *expFile, *expForce); });

    auto* imp = cmd->add_subcommand("import", "Read a table text file into a table and save it");
    auto impArgs = std::make_shared<TableArgs>();
    auto impFile = std::make_shared<std::string>();
    auto impReport = std::make_shared<std::string>();
    AddTableArgs(imp, impArgs, true);
    imp->add_option("--report", *impReport, "Import report file (default: standard output)")
        ->transform(dz::cli::StandardOutputAsDash);
    imp->add_option("FILE", *impFile, "Table text file to read")->required();
    imp->callback([=, &exitCode] { exitCode = RunImport(*impArgs, *impReport, *impFile); });

    auto* pre = cmd->add_subcommand("prefill", "Fill a table with the values of text files and save it");
    auto preArgs = std::make_shared<TableArgs>();
    auto preFiles = std::make_shared<std::vector<std::string>>();
    auto preUi = std::make_shared<cli::CliUiOptions>();
    AddTableArgs(pre, preArgs, true);
    pre->add_option("--on-error", preUi->on_error, "A text file that fails a check: skip (default) or end")
        ->check(CLI::IsMember({"skip", "end"}));
    pre->add_flag("--reconvert", preUi->reconvert, "Read a text file converted before");
    pre->add_option("FILE", *preFiles, "Text files")->required();
    pre->callback([=, &exitCode] { exitCode = RunPrefillCli(*preArgs, *preUi, *preFiles); });
});

}  // namespace
