// dodedoz-cli convert --company DIR [options] FILE...
// dodedoz-cli examine --company DIR [options] FILE...
// dodedoz-cli replay --company DIR [--report FILE] [--notes FILE] convert|examine
//
// The Convert and Examine Files commands run from a shell: the same driver as the desktop
// program, with the person's answers given by options (docs/cli.md lists every question). The
// conversion report and the notes go to standard output or to files; one summary line per text
// file goes to standard error. Exit status: 0 every file ran and no record was rejected; 1 every
// file ran and some records were rejected; 2 a file could not be converted, ended early, or the
// run ended; 64 a usage error.
#include "app/driver.h"
#include "app/interface_warning.h"
#include "app/stored_options.h"
#include "app/xv_app.h"
#include "cli/cli_ui.h"
#include "cli/commands.h"
#include "cli/file_ending.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/suite/company.h"
#include "platform/ui/full_output.h"
#include "platform/ui/hub.h"
#include "platform/ui/own_files.h"
#include "platform/ui/run_state.h"
#include "platform/ui/shown_text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <unistd.h>
#include <utility>
#include <vector>

namespace dz::cli {
namespace {

namespace fs = std::filesystem;
using dz::ui::PanelAction;

constexpr int kExitRejected = 1;
const std::string kClearTotalsQuestion = "Are you sure you want to clear accumulated totals for all vendors?";

struct ConvertArgs {
    std::string company;
    std::vector<std::string> files;
    std::string table;
    std::string notes;
    int paidTotals = 0;          // 0: the panel's preselection
    int duplicates = 0;          // 0: as the first line says
    std::string clearThrough;
    std::string statementDate;
    std::string interfaceWarning = "no";
    bool store = false;
    std::string replayCommand;   // replay: "convert" or "examine"
    CliUiOptions ui;
};

// One destination of the printed lines: standard output or a report file claimed before the
// run. Each line is written as it is printed, so that a destination that cannot take it fails
// the print while the conversion can still be put back.
class ReportOutput {
public:
    ReportOutput() = default;
    ReportOutput(const ReportOutput&) = delete;
    ReportOutput& operator=(const ReportOutput&) = delete;
    ~ReportOutput() { (void)Close(); }

    // "" or "-" is standard output. False, with the reason, when the file cannot be opened.
    bool Claim(const std::string& path, std::string& why) {
        path_ = path;
        if (path.empty() || path == "-") {
            fd_ = STDOUT_FILENO;
            return true;
        }
        fd_ = dz::files::open_report_file(path, why);
        owned_ = fd_ >= 0;
        return fd_ >= 0;
    }
    // A file gets a form feed before each page but its first; standard output none.
    // False, with errno set, when the line (or one before it) could not be written.
    bool Write(const std::string& line, bool page) {
        if (ok_) ok_ = dz::files::write_all(fd_, (page && IsFile() && written_ ? "\f" : "") + line + "\n");
        if (!ok_ && error_ == 0) error_ = errno;
        written_ = true;
        if (!ok_) errno = error_;
        return ok_;
    }
    // False when a line or the close failed.
    bool Close() {
        if (owned_ && ::close(fd_) != 0) {
            if (ok_) error_ = errno;
            ok_ = false;
        }
        owned_ = false;
        fd_ = -1;
        return ok_;
    }
    // The system's error number of the first write that failed, else 0.
    int error() const { return error_; }
    bool IsFile() const { return !path_.empty() && path_ != "-"; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
    bool owned_ = false;
    bool ok_ = true;
    int error_ = 0;
    bool written_ = false;
};

// The command line's person: the CliUi answers, plus the printed lines routed to the report
// and the notes destinations, and the per-file summary lines.
class ConvertUi : public CliUi, public dz::app::RunObserver {
public:
    ConvertUi(const CliUiOptions& options, bool clearTotalsConfirmed)
        : CliUi(options), clearTotalsConfirmed_(clearTotalsConfirmed) {
        // Every report comes here through the screen destination and is routed by show_report.
        dz::ui::run_state().report_path = "-";
        dz::app::SetRunObserver(this);
    }
    ~ConvertUi() override { dz::app::SetRunObserver(nullptr); }

    int message(int kind, const std::string& text) override {
        if (kind == dz::ui::kYesNo && text == kClearTotalsQuestion && clearTotalsConfirmed_) {
            std::cerr << "dodedoz: question: " << text << "\ndodedoz: answered: yes (--paid-totals 1)\n";
            return record(kind, text, dz::ui::kYes);
        }
        if (kind == dz::ui::kError) ++errors_;
        return CliUi::message(kind, text);
    }
    int notice(const dz::ui::Notice& n) override {
        // On the command line every report line goes to its own destination as it is printed,
        // and the one that could not be written is named when the outputs close: the hub's
        // "to the screen" would send the reader to a report that went to a file.
        if (n.screen_report) return dz::ui::kOk;
        if (n.kind == dz::ui::kError) ++errors_;
        // A step about the report or notes file is what to do about the failure of that output:
        // the outputs' close does not say it again.
        if (dz::ui::about_full_output(n.next))
            outputFailureSaid_ = true;
        return CliUi::notice(n);
    }

    // Opens the report and the notes destinations before the run. Notes without a destination
    // of their own follow the report into its destination, as its next pages. False after
    // saying why when a file cannot be opened.
    bool ClaimOutputs(const std::string& reportFile, const std::string& notesFile) {
        std::string why;
        if (!report_.Claim(reportFile, why)) return Refused("report", reportFile, why);
        std::error_code ec;
        const bool shared = notesFile.empty() || notesFile == reportFile ||
                            (report_.IsFile() && notesFile != "-" && fs::equivalent(notesFile, reportFile, ec));
        if (shared) return true;
        notesOwn_ = std::make_unique<ReportOutput>();
        if (!notesOwn_->Claim(notesFile, why)) return Refused("notes", notesFile, why);
        notes_ = notesOwn_.get();
        return true;
    }

    // Every line goes out as it is printed; a line that cannot be written fails the print.
    bool report_line(const std::string& raw) override {
        const bool page = firstLine_ || (!raw.empty() && raw.front() == '\f');
        const std::string line = !raw.empty() && raw.front() == '\f' ? raw.substr(1) : raw;
        if (page) {
            if (line.rfind("Messages recorded while ", 0) == 0) inNotes_ = true;
            if (line.rfind("Converting ", 0) == 0 || line.rfind("Examining ", 0) == 0) inNotes_ = false;
        }
        firstLine_ = false;
        ReportOutput& out = inNotes_ ? *notes_ : report_;
        // A line for the terminal the progress line is drawn on takes its place: the progress
        // line is drawn again below the report's lines, never kept among them.
        if (!out.IsFile() && stdoutIsTerminal_) erase_progress_line();
        const bool written = out.Write(line, page);
        if (!written && !failedOutput_) failedOutput_ = &out;
        return written;
    }
    // The output that could not take a line first: free space on its disk, or name another.
    dz::ui::NextStep report_line_step() override { return failedOutput_ ? FullStep(*failedOutput_) : dz::ui::NextStep{}; }
    // The lines went out as they were printed: none is kept for the end.
    bool show_report(const dz::ui::ReportDocument&) override { return true; }
    bool reads_whole_report() const override { return false; }

    void FileStarting(const dz::app::TextFileEntry&) override { errorsAtStart_ = errors_; }
    void FileFinished(const dz::app::FileOutcome& o) override {
        // A file that ended early (its data files put back) was not converted, whatever said so.
        const bool failed = o.converterMissing || o.stopped || !o.endedWhy.empty() || errors_ != errorsAtStart_;
        close_progress_line();
        if (dz::ui::about_full_output(o.endedNext))
            outputFailureSaid_ = true;  // said with the file's ending, here or in the closing message
        // A file whose data files were put back kept none of the records it read: counting them
        // as accepted would read as kept. A file that ended early is said by its ending, in
        // Examine Files as in Convert.
        const bool ended = !dz::app::EndingSummary(o).empty();
        // The path stays on its line whatever it holds (a line break in a name included).
        const std::string path = dz::ui::shown_text(o.entry.path);
        if (ended && (o.converting || !o.saidAtClose)) {
            // Else the run's closing message says how this file ended, with what to do: once.
            // A run in the background has no closing message: its line says what to do next.
            if (!o.saidAtClose) std::cerr << FileEndingLine(o, *this) << "\n";
        } else {
            std::cerr << "dodedoz: " << path << ": " << o.accepted << " accepted, " << o.rejected
                      << " rejected, " << o.messages << (o.messages == 1 ? " message, " : " messages, ") << o.notes
                      << (o.notes == 1 ? " note" : " notes");
            if (o.stopped) std::cerr << "; stopped";
            else if (failed) std::cerr << "; not completed";
            std::cerr << "\n";
        }
        if (!o.encodingNote.empty()) std::cerr << "dodedoz: " << o.encodingNote << "\n";
        if (failed) ++failedFiles_;
        if (o.rejected > 0) rejected_ = true;
        ran_.insert(o.entry.path);
    }
    // Each file gets its own line here (and a file not run one after the run).
    bool NamesEachFile() const override { return true; }
    void RunEnded(const std::string& why) override { ended_ = why; }
    void ClearEnded() { ended_.clear(); }

    // Closes the report and the notes; false (after saying why) when either could not be written.
    bool CloseOutputs() {
        bool ok = true;
        for (ReportOutput* out : {&report_, notesOwn_.get()}) {
            if (out && !out->Close()) {
                ok = false;
                // The failure the run ended with was said then, with what to do.
                if (outputFailureSaid_ && out == failedOutput_) continue;
                std::cerr << "dodedoz-cli: cannot write the " << (out == &report_ ? "report" : "notes") << " file "
                          << (out->IsFile() ? out->path() : std::string("(standard output)"));
                // A device answers in its own words: it is no disk to be out of space.
                const std::string cause = dz::ui::about_device(FullStep(*out)) ? std::strerror(out->error())
                                                                               : dz::xvl::ErrorCause(out->error());
                if (!cause.empty()) std::cerr << ": " << cause;
                std::cerr << "\n";
            }
        }
        return ok;
    }

    int failedFiles() const { return failedFiles_; }
    bool rejected() const { return rejected_; }
    const std::string& ended() const { return ended_; }
    bool ran(const std::string& path) const { return ran_.count(path) != 0; }
    int filesRun() const { return static_cast<int>(ran_.size()); }

private:
    // What to do about an output that took no more (ENOSPC): free space on its disk, or name
    // another; nothing for another failure.
    dz::ui::NextStep FullStep(const ReportOutput& out) const {
        if (out.error() != ENOSPC) return {};
        std::error_code ec;
        // Standard output is named by what it is (a file or a device it was sent to).
        const fs::path where = out.IsFile() ? fs::absolute(out.path(), ec) : fs::read_symlink("/proc/self/fd/1", ec);
        if (ec && !out.IsFile()) return {};
        const std::string file = ec ? out.path() : where.lexically_normal().string();
        return dz::ui::full_output_step(file, &out == notesOwn_.get());
    }

    static bool Refused(const char* what, const std::string& path, const std::string& why) {
        std::cerr << "dodedoz-cli: cannot write the " << what << " file " << path << ": " << why << "\n";
        return false;
    }

    bool clearTotalsConfirmed_;
    int errors_ = 0;
    int errorsAtStart_ = 0;
    int failedFiles_ = 0;
    bool rejected_ = false;
    bool inNotes_ = false;
    std::string ended_;
    bool firstLine_ = true;
    bool stdoutIsTerminal_ = ::isatty(STDOUT_FILENO) != 0;
    std::set<std::string> ran_;
    ReportOutput report_;
    std::unique_ptr<ReportOutput> notesOwn_;
    ReportOutput* notes_ = &report_;
    ReportOutput* failedOutput_ = nullptr;  // the output that could not take a line first
    bool outputFailureSaid_ = false;        // a notice said what to do about it
};

bool OpenCompany(const std::string& folder, const char* name) {
    try {
        dz::suite::open_company(folder);
        return true;
    } catch (const dz::suite::SettingsError& e) {
        std::cerr << "dodedoz-cli: " << name << ": " << e.what() << "\n";
        return false;
    }
}

// The stored spelling of a table group of MASTER.XVM (letter case ignored); empty when none,
// or when MASTER.XVM cannot be opened, with the reason in `why`.
std::string FindTableGroup(const std::string& wanted, std::string& why) {
    xio_ask_request request;
    request.abbr = "XVM";
    request.readOnly = true;  // only looked up, before the run: Examine must write nothing
    std::uint16_t h = 0;
    if (xio_ask_file(request, h) != XIO_OK) {
        // What stands in the way, and who may move it (the run, which says it, has not started).
        why = dz::ui::console_text(dz::ui::with_step(xio_error_text(), xio_error_next_step(), dz::ui::Voice::CommandLine));
        return {};
    }
    if (h == 0) return {};
    auto upper = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    };
    std::string found;
    const std::uint16_t field = xio_num(h, XIO_NUM_RECORD, 1, "TABLE");
    for (int s = xio_rd_first(h, 1, 0, 0); s == XIO_OK && found.empty(); s = xio_rd_next(h, 1, 0, 0)) {
        x_value_def v;
        xio_get_field(h, 1, field, v);
        if (upper(v.text) == upper(wanted)) found = v.text;
    }
    xio_cls_file(h);
    return found;
}

// A report or notes file that would replace a text file of the run, a data file, or what a
// link points to is refused before anything runs (false after saying why).
bool OutputsAllowed(const ConvertArgs& args, const char* name, const std::vector<std::string>& files) {
    const std::pair<const char*, const std::string*> outputs[] = {{"--report", &args.ui.report},
                                                                  {"--notes", &args.notes}};
    for (const auto& [option, path] : outputs) {
        if (path->empty() || *path == "-") continue;
        std::string why = dz::files::report_file_refusal(*path);
        std::error_code ec;
        for (const auto& f : files)
            if (why.empty() && fs::equivalent(*path, f, ec)) why = "it is a text file to be converted";
        if (!why.empty()) {
            std::cerr << "dodedoz-cli: " << name << ": " << option << ": " << *path << ": " << why << "\n";
            return false;
        }
    }
    return true;
}

int Status(const ConvertUi& ui, const dz::ui::zqTask* task, int expectedFiles) {
    if (!task || !task->Ended() || task->Status() != dz::ui::zqTask::kEndedOk || !ui.ended().empty()) return kExitFailure;
    if (ui.failedFiles() > 0 || ui.filesRun() < expectedFiles) return kExitFailure;
    return ui.rejected() ? kExitRejected : kExitOk;
}

int RunConvert(const ConvertArgs& args, int command) {
    const char* name = command == dz::app::kCmdConvert ? "convert" : "examine";
    x_date_type clear, statement;
    // A date of the right form whose day is past its month's last is told as one that does not exist.
    const auto badDate = [name](const char* option, const std::string& text, const std::string& why) {
        std::cerr << "dodedoz-cli: " << name << ": " << option << ": '" << text << "' "
                  << (why.empty() ? "is not a date (M/D/YYYY or YYYY-MM-DD)" : "does not exist: " + why) << "\n";
        return kExitUsage;
    };
    std::string dateWhy;
    if (!args.clearThrough.empty() && !dz::app::ParseDate(args.clearThrough, clear, &dateWhy))
        return badDate("--clear-checks-through", args.clearThrough, dateWhy);
    if (!args.statementDate.empty() && !dz::app::ParseDate(args.statementDate, statement, &dateWhy))
        return badDate("--statement-date", args.statementDate, dateWhy);
    std::vector<std::string> files, given;  // the absolute paths, and the names as typed
    for (const auto& f : args.files) {
        const std::string path = fs::absolute(f).lexically_normal().string();
        // A file named twice (or once more through a link) would be checked while still
        // unstamped both times and so converted twice: its records posted twice.
        const auto same = std::find_if(files.begin(), files.end(), [&](const std::string& earlier) {
            std::error_code ec;
            return earlier == path || fs::equivalent(earlier, path, ec);
        });
        if (same == files.end()) {
            files.push_back(path);
            given.push_back(f);
        } else {
            std::cerr << "dodedoz-cli: " << name << ": " << f << ": the same file as "
                      << given[static_cast<std::size_t>(same - files.begin())] << "; taken once\n";
        }
    }
    if (!OutputsAllowed(args, name, files)) return kExitUsage;
    if (!OpenCompany(args.company, name)) return kExitFailure;

    int rc = kExitOk;
    {
        ConvertUi ui(args.ui, args.paidTotals == 1);
        if (!args.store && !ui.ClaimOutputs(args.ui.report, args.notes)) {
            dz::suite::close_company();
            return kExitFailure;
        }
        if (args.store) dz::ui::run_state().macro_status = dz::ui::kMacroRecord;
        dz::app::CXVApp& app = dz::app::theApp();
        if (!app.InitInstance()) {
            std::cerr << "dodedoz-cli: " << name << ": the program could not start\n";
            dz::suite::close_company();
            return kExitFailure;
        }

        std::string table;
        if (!args.table.empty()) {
            std::string why;
            table = FindTableGroup(args.table, why);
            if (table.empty()) {
                // A table file that cannot be read is not one without the group: said as it is.
                if (!why.empty())
                    std::cerr << "dodedoz-cli: " << name << ": --table: MASTER.XVM cannot be opened: " << why << "\n";
                else
                    std::cerr << "dodedoz-cli: " << name << ": --table: there is no table group \"" << args.table
                              << "\" in MASTER.XVM\n";
                app.ExitInstance();
                dz::suite::close_company();
                return kExitFailure;
            }
        }

        // The person's answers, queued for the panels the run will show.
        ui.choose(files);
        if (args.paidTotals != 0) ui.on_panel("QUERY/API", PanelAction::choose(1, args.paidTotals));
        ui.on_panel("QUERY/API", PanelAction::press(3));
        const int warningButton = args.interfaceWarning == "yes" ? 11 : args.interfaceWarning == "create" ? 13 : 12;
        for (std::size_t i = 0; i < files.size(); ++i)
            ui.on_panel(dz::app::kInterfaceWarningTitle, PanelAction::press(warningButton));
        const std::string hub = command == dz::app::kCmdConvert ? "CONVERT/HUB" : "EXAMINE/HUB";
        if (!table.empty()) ui.on_panel(hub, PanelAction::item(1, "Use " + table));
        else ui.on_panel(hub, PanelAction::choose(1, 1));
        if (args.duplicates != 0 || !args.clearThrough.empty() || !args.statementDate.empty()) {
            ui.on_panel(hub, PanelAction::press(11));
            if (args.duplicates != 0) ui.on_panel("QUERY/GENERAL", PanelAction::choose(1, args.duplicates));
            if (!args.clearThrough.empty()) ui.on_panel("QUERY/GENERAL", PanelAction::type(2, args.clearThrough));
            if (!args.statementDate.empty()) ui.on_panel("QUERY/GENERAL", PanelAction::type(3, args.statementDate));
            ui.on_panel("QUERY/GENERAL", PanelAction::press(3));
        }
        ui.on_panel(hub, PanelAction::choose(dz::ui::kHubDestinationField, 2));
        ui.on_panel(hub, PanelAction::press(dz::ui::kHubStartButton));

        app.RunCommand(command);
        const dz::ui::zqTask* task = app.FindTask(command);
        // Options that no panel of this run asked for are said to be unused, not silently dropped.
        const bool generalGiven = args.duplicates != 0 || !args.clearThrough.empty() || !args.statementDate.empty();
        if (ui.ended().empty() && args.paidTotals != 0 && !ui.panel_was_opened("QUERY/API"))
            std::cerr << "dodedoz-cli: " << name << ": --paid-totals not used: no AP invoice file was converted\n";
        if (ui.ended().empty() && generalGiven && !ui.panel_was_opened("QUERY/GENERAL"))
            std::cerr << "dodedoz-cli: " << name
                      << ": --duplicate-invoices, --clear-checks-through and --statement-date not used: they apply to AP "
                         "invoice files whose first line offers the duplicate-invoice choice\n";
        if (args.store) {
            rc = task && task->Ended() && task->Status() == dz::ui::zqTask::kEndedOk && ui.ended().empty() ? kExitOk
                                                                                                          : kExitFailure;
            if (rc == kExitOk)
                std::cerr << "dodedoz: stored the " << name << " run for replay in "
                          << (fs::path(args.company) / "options" / std::to_string(command)).string() << "\n";
        } else {
            rc = Status(ui, task, static_cast<int>(files.size()));
            // Files skipped at a question are not run, which is no run that ended.
            const bool skipped = ui.ended() == dz::app::kEveryFileSkipped;
            for (const auto& f : files)
                if (!ui.ran(f)) std::cerr << "dodedoz: " << f << (skipped ? ": skipped; not run\n" : ": not run\n");
            if (!ui.CloseOutputs()) rc = kExitFailure;
            if (skipped) ui.ClearEnded();
        }
        if (!ui.ended().empty()) std::cerr << "dodedoz-cli: " << name << ": the run ended: " << ui.ended() << "\n";
        app.ExitInstance();
    }
    dz::suite::close_company();
    return rc;
}

int RunReplay(const ConvertArgs& args) {
    const int command = args.replayCommand == "convert" ? dz::app::kCmdConvert : dz::app::kCmdExamine;
    if (!OpenCompany(args.company, "replay")) return kExitFailure;
    // The stored text files, to keep the report off them; the run itself says what is wrong
    // with a list that cannot be read.
    std::vector<std::string> files;
    dz::app::StoredRun stored;
    std::string error;
    dz::convert::ConversionTypeList list;
    if (dz::app::ReadStoredRun(command, stored, error) &&
        dz::app::UnpackTextFileList(list, stored.fileList.data(), stored.fileList.size()))
        for (const auto& f : list.files) files.push_back(f.path);
    if (!OutputsAllowed(args, "replay", files)) {
        dz::suite::close_company();
        return kExitUsage;
    }
    int rc = kExitOk;
    {
        ConvertUi ui(args.ui, false);
        if (!ui.ClaimOutputs(args.ui.report, args.notes)) {
            dz::suite::close_company();
            return kExitFailure;
        }
        dz::ui::run_state().in_background = true;
        dz::ui::run_state().steps = {command};
        dz::app::CXVApp& app = dz::app::theApp();
        app.InitInstance();  // a background start runs the stored step and ends
        const dz::ui::zqTask* task = app.FindTask(command);
        rc = Status(ui, task, 0);
        if (rc == kExitOk && ui.filesRun() == 0) rc = kExitFailure;
        if (!ui.ended().empty()) std::cerr << "dodedoz-cli: replay: the run ended: " << ui.ended() << "\n";
        if (!ui.CloseOutputs()) rc = kExitFailure;
        app.ExitInstance();
    }
    dz::suite::close_company();
    return rc;
}

void AddRunOptions(CLI::App* cmd, ConvertArgs& args, bool converting) {
    cmd->add_option("--company", args.company, "Company folder")->required();
    cmd->add_option("--table", args.table, "Substitution table group to apply (default: none)");
    cmd->add_option("--notes", args.notes, "Notes file (default: with the report, as its next pages)")
        ->transform(dz::cli::StandardOutputAsDash);
    if (converting)
        cmd->add_option("--paid-totals", args.paidTotals,
                        "AP invoice files: 1 clear vendor paid totals and accumulate, 2 accumulate, 3 keep "
                        "(default: 2 when vendors or invoices exist, else 1)")
            ->check(CLI::Range(1, 3));
    cmd->add_option("--duplicate-invoices", args.duplicates,
                    "AP invoice files: 1 reject invoices with duplicate numbers, 2 change their number "
                    "(default: as the file's first line says)")
        ->check(CLI::Range(1, 2));
    cmd->add_option("--clear-checks-through", args.clearThrough,
                    "AP invoice files: mark as cleared the checks dated on or before DATE (when AP creates CM entries)");
    cmd->add_option("--statement-date", args.statementDate,
                    "AP invoice files: statement date for cleared checks without one");
    cmd->add_option("--interface-warning", args.interfaceWarning,
                    "An interface turned on without entry creation: no drops the file (default), yes goes on, "
                    "create turns entry creation on")
        ->check(CLI::IsMember({"no", "yes", "create"}));
    cmd->add_flag("--store", args.store, "Store the run's files and options for 'replay' instead of running it");
    add_ui_options(*cmd, args.ui, converting ? kConvertAgainHelp : kReadAgainHelp);
    cmd->add_option("files", args.files, "Text files")->required();
    cmd->footer("Exit status: 0 every file ran and no record was rejected; 1 every file ran and some records were "
                "rejected; 2 a file could not be converted, ended early, or the run ended; 64 usage error. "
                "docs/cli.md lists every question and its default.");
}

[[maybe_unused]] static bool reg = register_command([](CLI::App& app, int& exitCode) {
    static ConvertArgs convertArgs, examineArgs, replayArgs;
    auto* convert = app.add_subcommand("convert", "Convert text files into the company's data files");
    AddRunOptions(convert, convertArgs, true);
    convert->callback([&exitCode] { exitCode = RunConvert(convertArgs, dz::app::kCmdConvert); });

    auto* examine = app.add_subcommand("examine", "Examine text files for field errors; writes nothing");
    AddRunOptions(examine, examineArgs, false);
    examine->callback([&exitCode] { exitCode = RunConvert(examineArgs, dz::app::kCmdExamine); });

    auto* replay = app.add_subcommand("replay", "Run a stored convert or examine run without any question");
    replay->add_option("--company", replayArgs.company, "Company folder")->required();
    replay->add_option("--report", replayArgs.ui.report, "Report file (default: standard output)")
        ->transform(dz::cli::StandardOutputAsDash);
    replay->add_option("--notes", replayArgs.notes, "Notes file (default: with the report, as its next pages)")
        ->transform(dz::cli::StandardOutputAsDash);
    replay->add_option("command", replayArgs.replayCommand, "convert or examine")
        ->required()
        ->check(CLI::IsMember({"convert", "examine"}));
    replay->callback([&exitCode] { exitCode = RunReplay(replayArgs); });
});

}  // namespace
}  // namespace dz::cli
