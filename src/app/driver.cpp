// The driver's first half: the task body, the choice of text files and their checks, and the AP
// invoice options.
#include "app/driver.h"

#include "app/converter_factory.h"
#include "app/stored_options.h"
#include "app/unwritable_files.h"
#include "convert/backup.h"
#include "convert/run_marker.h"
#include "convert/sticky_folders.h"
#include "convert/texts.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_encoding.h"
#include "platform/import/xvl_messages.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/import/xvl_timestamp.h"
#include "platform/import/xvl_values.h"
#include "platform/suite/company.h"
#include "platform/suite/control.h"
#include "platform/ui/own_files.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"

#include <optional>
#include "platform/suite/xm_options.h"
#include "platform/ui/framework.h"
#include "platform/ui/hub.h"
#include "platform/ui/print.h"
#include "platform/ui/run_state.h"
#include "platform/ui/ui.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace dz::app {

using dz::xvl::xvlRCString;
namespace ui = dz::ui;

namespace {

std::string g_folder;            // the folder of the last selection
int g_filterIndex = 0;           // the chooser's filter, always the first
ConverterFactory g_factory;      // empty: the program's factory
RunObserver* g_observer = nullptr;

// Convert, Examine Files, Prefill: the first, second or third of adjacent message numbers.
int ByMode(const ui::zqTask& task, int convert, int examine, int prefill) {
    switch (ModeOf(task)) {
    case DriverMode::Convert: return convert;
    case DriverMode::Examine: return examine;
    default: return prefill;
    }
}

bool Single(const ConversionTypeList& selection) { return selection.files.size() < 2; }

// The common end of a failed check: an error that ends the run for a single file, otherwise
// "OK to skip?" where 4 ends the run and any other answer removes the file.
int FailCheck(ConversionTypeList& selection, std::size_t index, const std::string& singleText,
              const std::string& question) {
    if (Single(selection)) {
        ui::xw_wr_message(ui::kError, singleText);
        return kCheckEndRun;
    }
    if (ui::xw_wr_message(ui::kOkToSkip, question) == ui::kEnd) return kCheckEndRun;
    selection.files.erase(selection.files.begin() + static_cast<std::ptrdiff_t>(index));
    return kCheckRemoved;
}

void RunEnded(const std::string& why) {
    if (g_observer) g_observer->RunEnded(why);
}

// The open company's settings file, as the person can find it.
std::string SettingsFileName() {
    const dz::suite::Company* company = dz::suite::current_company();
    return company ? PathAsFound(company->settings_file().string()) : dz::suite::kSettingsFileName;
}

// The step that asks for leave to write `files` (", " between them): the file the data-file
// layer refused first, as its WritableFile step names it (`refused`; none: {}), then the others
// it did not come to, every one absolute; what truly keeps one of them from being written, where
// their owners' leave would not lift it, in their place (TrueWriteBar). Where the settings would lose their `group` (not ""),
// it asks for that beside the leave to write.
ui::NextStep WritableFilesStep(const ui::NextStep& refused, const std::vector<std::string>& files,
                               const std::string& group) {
    if (ui::NextStep bar = TrueWriteBar(refused, files)) return bar;
    std::vector<std::string> named;
    if (!refused.args.empty()) named.push_back(PathAsFound(refused.args.front()));
    for (const std::string& f : files) {
        std::error_code ec;
        if (named.empty() || !std::filesystem::equivalent(named.front(), f, ec)) named.push_back(f);
    }
    std::string joined;
    for (const std::string& f : named) joined += (joined.empty() ? "" : ", ") + f;
    if (!group.empty()) {
        if (joined.empty()) return {ui::Step::KeepFilesGroup, {group, SettingsFileName()}};
        return {ui::Step::KeepFilesGroup, {joined, group, SettingsFileName()}};
    }
    if (named.empty()) return refused;
    return {ui::Step::WritableFile, {joined}};
}

// Why this user could not replace the open company's settings, or open their lock file.
std::string SettingsRefusal() {
    const dz::suite::Company* company = dz::suite::current_company();
    const std::string why = company ? dz::suite::settings_replace_refusal(company->settings_file()) : std::string();
    return why.empty() ? xvlRCString::Get(13967) : why;
}

// A stored run's file refused before anything of it is read: it ends as a file that ended early
// ends, with why and what to do, on its line and in the company's log.
void EndUnreadFile(const TextFileEntry& entry, const std::string& why, const ui::NextStep& next, bool converting) {
    FileOutcome outcome;
    outcome.entry = entry;
    outcome.converting = converting;
    outcome.endedWhy = why;
    outcome.endedNext = next;
    dz::suite::x_log(ui::with_step(std::filesystem::path(entry.path).filename().string() + ": " +
                                       EndingSummary(outcome),
                                   next, ui::Voice::CommandLine));
    if (g_observer) {
        g_observer->FileStarting(entry);
        g_observer->FileFinished(outcome);
    }
}

}  // namespace

DriverMode ModeOf(const ui::zqTask& task) {
    if (task.Name() == "Convert") return DriverMode::Convert;
    if (task.Name() == "Examine Files") return DriverMode::Examine;
    return DriverMode::Prefill;
}

void SetConverterFactory(ConverterFactory factory) { g_factory = std::move(factory); }

std::unique_ptr<dz::convert::xvConvert> MakeConverter(std::uint16_t code) {
    if (g_factory) return g_factory(code);
    return CreateConverter(code);
}

void SetRunObserver(RunObserver* observer) { g_observer = observer; }
RunObserver* CurrentRunObserver();
RunObserver* CurrentRunObserver() { return g_observer; }

void ResetTextFileFolder() {
    g_folder.clear();
    g_filterIndex = 0;
}

const std::string& RememberedTextFileFolder() { return g_folder; }

void CloseRunFiles(OpenFilesList& openFiles) {
    for (auto& f : openFiles) {
        if (f.handle == 0) continue;
        // Each conversion committed or restored the files it wrote; nothing of a run is pending here.
        (void)xio_end_writes(f.handle);
        xio_cls_file(f.handle);
        f.handle = 0;
    }
    openFiles.clear();
}

bool ParseDate(const std::string& text, x_date_type& date, std::string* why) {
    std::vector<unsigned> parts;
    std::string sep;
    std::string number;
    std::string t = text;
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.pop_back();
    std::size_t i = 0;
    while (i < t.size() && std::isspace(static_cast<unsigned char>(t[i]))) ++i;
    for (; i <= t.size(); ++i) {
        const char c = i < t.size() ? t[i] : '\0';
        if (std::isdigit(static_cast<unsigned char>(c))) {
            if (number.size() >= 4) return false;
            number += c;
            continue;
        }
        if (number.empty()) return false;
        parts.push_back(static_cast<unsigned>(std::stoul(number)));
        number.clear();
        if (c == '\0') break;
        if (c != '/' && c != '-') return false;
        sep += c;
    }
    if (parts.size() != 3) return false;
    unsigned month, day, year;
    if (sep == "--") {
        year = parts[0], month = parts[1], day = parts[2];
    } else if (sep == "//") {
        month = parts[0], day = parts[1], year = parts[2];
        if (year < 100) year += year < 50 ? 2000 : 1900;
    } else {
        return false;
    }
    const auto m = static_cast<int>(month), d = static_cast<int>(day), y = static_cast<int>(year);
    const xvl::DateCheck check = xvl::CheckDate(m, d, y, 1);
    if (check == xvl::kDayPastMonthEnd && why) *why = xvl::MonthLengthText(m, y);
    if (check != xvl::kDateExists) return false;
    date = dz::suite::zqDate(month, day, year);
    return true;
}

// ---- The task ------------------------------------------------------------------------------

void RunConvertExamineTask(ui::zqTask& task) {
    const bool converting = ModeOf(task) == DriverMode::Convert;
    // Every step said in this run names this command to run again.
    const ui::CommandSteps steps(converting ? ui::Command::Convert : ui::Command::Examine);
    // Examine Files writes nothing: every data file of the run is opened read-only (an older
    // one is read as it is, not upgraded).
    std::optional<xio_read_only_scope> readOnly;
    if (ModeOf(task) == DriverMode::Examine) readOnly.emplace(true);
    // A conversion that could not replace the company's files in a sticky folder would find it
    // out only after its commits: refused before anything is written, and foretold by Examine.
    if (dz::convert::StickyRefusal sticky; !dz::convert::ConversionMayReplaceItsFiles(sticky, ui::steps_command())) {
        ui::xw_wr_message(ui::kError, sticky.text, sticky.next);
        RunEnded(sticky.ending);
        task.End(ui::zqTask::kEndedCancelled);
        return;
    }
    // A conversion that died between the commits of its data files is put back before any data
    // file is opened; Examine Files, which writes nothing, does not look at a company in that state.
    // A conversion stored for later makes no copies now: it needs no backup folder of its own.
    const bool storing = ui::MacroStatus() == ui::kMacroRecord || ui::MacroStatus() == ui::kMacroChange;
    const auto use = !converting ? dz::convert::CompanyUse::Look
                     : storing   ? dz::convert::CompanyUse::Write
                                 : dz::convert::CompanyUse::Convert;
    if (std::string ending; !dz::convert::RecoverInterruptedRuns(use, nullptr, &ending)) {
        RunEnded(ending);
        task.End(ui::zqTask::kEndedCancelled);
        return;
    }
    // The control file must be readable before anything is asked.
    if (dz::suite::xc_open_control_file(0) != dz::suite::kControlFileFailed) dz::suite::xc_cls_control_file();

    if (ui::MacroStatus() == ui::kMacroNone) {
        task.TermBackground();
        task.SetAllowBackground(false);
    }

    ConversionTypeList selection;
    auto ctx = std::make_unique<RunContext>();
    ctx->task = &task;

    auto endWithoutRun = [&](const std::string& why) {
        CloseRunFiles(ctx->openFiles);
        ctx.reset();
        RunEnded(why);
        task.End(ui::zqTask::kEndedCancelled);
    };

    if (ui::InBackground() || ui::MacroStatus() == ui::kMacroPlayback) {
        StoredRun stored;
        std::string error;
        if (!ReadStoredRun(task.ID(), stored, error)) {
            ui::xw_wr_message(ui::kError, "The stored " + task.Name() + " run cannot be replayed: " + error +
                                              ".\rStore the run again.");
            endWithoutRun(error);
            return;
        }
        ctx->fileList = std::move(stored.fileList);
        ctx->tableName = std::move(stored.tableName);
        ctx->options = stored.options;
        UnpackTextFileList(selection, ctx->fileList.data(), ctx->fileList.size());
        const std::size_t storedFiles = selection.files.size();
        CheckAllDataFiles(selection, ctx->openFiles, task);  // a failing file is run all the same
        // but one this user may not write, which ended as it was refused: the rest run.
        if (selection.files.size() != storedFiles) PackTextFileList(selection, ctx->fileList);
    } else {
        if (ui::MacroStatus() == ui::kMacroChange) {
            ui::xw_wr_message(ui::kInfo, xvlRCString::Get(12032, task.Name()));
            endWithoutRun("a macro step cannot be changed");
            return;
        }
        const std::string title = converting ? "Convert - Text File Selection" : "Examine Files - Text File Selection";
        bool ok = ChooseTextFiles(selection, title);
        std::string why = "no text file was chosen";
        if (ok) {
            std::string checkEnding;
            ok = ValidateTextFiles(selection, ctx->openFiles, task, &checkEnding);
            // The files left out at the checks are named as not run when the run closes.
            ctx->skipped = selection.skipped;
            // Nothing left after the checks: each file was skipped, not the run ended by a person.
            why = selection.files.empty() ? std::string(kEveryFileSkipped) : checkEnding;
        }
        if (ok) {
            ok = AskApInvoiceOptions(selection, ctx->openFiles, task, ctx->options.paidTotalsMode);
            why = "the AP invoice options were cancelled";
        }
        if (!ok) {
            endWithoutRun(why);
            return;
        }
        ctx->options.dupInvoiceMode = selection.DupInvoiceMode();
        PackTextFileList(selection, ctx->fileList);
        if (ui::MacroStatus() == ui::kMacroRecord || ui::MacroStatus() == ui::kMacroChange) {
            dz::suite::xm_clear_options(task.ID());  // a new recording inherits nothing
            DescribeTextFiles(selection, task.ID());
        }
    }

    // The report hub: the run goes on in its callbacks.
    ui::xh_hub_def def;
    def.command = task.ID();
    def.screen_file = dz::convert::GetScreenFileHandle();
    def.screen = converting ? "CONVERT" : "EXAMINE";
    def.panel = "HUB";
    def.process_word = converting ? "conversion" : "examine files";
    def.report_name = converting ? "conversion report" : "examine files report";
    def.disk_full_text = xvlRCString::Get(12013);
    def.print.title = converting ? "Conversion Report" : "Examine Files Report";
    def.print.width = 132;
    def.print.flags = 1;
    def.print.preferences = ui::xp_get_preferences(0) | 65u;
    RunContext* run = ctx.get();
    def.on_panel = [run](ui::Panel& hub, const ui::PanelMessage& m) { return OnHubPanel(hub, m, *run); };
    def.on_start = [](const ui::HubStart& start, void* data) { return OnHubStart(start, *static_cast<RunContext*>(data)); };
    def.on_end = [](void* data) { OnHubEnd(*static_cast<RunContext*>(data)); };
    def.user_data = run;
    ui::xh_process_hub(def);
    ui::xw_dispatch_messages();
    if (!run->finished) {  // a hub that never called its end leaves nothing open either
        CloseRunFiles(run->openFiles);
        task.End(ui::zqTask::kEndedCancelled);
    }
}

// ---- Choosing --------------------------------------------------------------------------------

bool ChooseTextFiles(ConversionTypeList& selection, const std::string& title) {
    ui::FileChooser request;
    request.mode = ui::ChooseMode::Many;
    request.title = title;
    request.filters = {{"Text Files", "txt"}, {"All Files", "*"}};
    request.filter_index = g_filterIndex;
    request.initial_folder = g_folder;
    std::vector<std::string> chosen;
    const int status = ui::zqfdlgFileChooseMany(request, chosen);
    for (auto it = chosen.rbegin(); it != chosen.rend(); ++it) {
        // A name given twice is one file: checked unstamped both times, it would be converted twice.
        const bool again = std::any_of(selection.files.begin(), selection.files.end(),
                                       [&](const TextFileEntry& e) { return e.path == *it; });
        if (!again) selection.files.push_back(TextFileEntry{*it, 0});
    }
    if (status != 0) return false;
    // Remembered whole, however deep: its first characters would name another folder, or none.
    if (!chosen.empty()) g_folder = std::filesystem::path(chosen.front()).parent_path().string();
    if (selection.files.size() >= 2)
        std::stable_sort(selection.files.begin(), selection.files.end(),
                         [](const TextFileEntry& a, const TextFileEntry& b) { return a.path < b.path; });
    return true;
}

// ---- Checks ----------------------------------------------------------------------------------

bool ValidateTextFiles(ConversionTypeList& selection, OpenFilesList& openFiles, ui::zqTask& task,
                       std::string* ending) {
    for (std::size_t i = 0; i < selection.files.size(); ++i) {
        // Only the head of the file is read here, and only from a regular file: a FIFO would
        // hold the run up for good and a device would never end its first line.
        std::string head;
        const auto read = dz::files::read_file_head(selection.files[i].path, kTextFileHeadLimit, head);
        std::istringstream in(head);
        int r = read == dz::files::HeadRead::NotRegular ? CheckRegularFile(selection, i)
                                                        : CheckOpen(selection, read == dz::files::HeadRead::Ok, i, task);
        TextFileEntry checked = selection.files[i];  // with its type once the first line gave it
        if (r == kCheckStays) r = CheckConversionType(selection, in, i, task);
        if (r == kCheckStays) checked.code = selection.files[i].code;
        if (r == kCheckStays) r = CheckTemplate(selection, in, i, task);
        bool dataFiles = false;  // the check of the data files the text file needs ended it
        bool settings = false;   // and it refused the company's settings, not a data file
        if (r == kCheckStays) {
            r = CheckDataFiles(selection, i, openFiles, task, &settings);
            dataFiles = r == kCheckEndRun;
        }
        if (r == kCheckStays) r = CheckAlreadyConverted(selection, i, task, &openFiles);
        if (r == kCheckEndRun) {
            if (ending)
                *ending = !dataFiles ? xvlRCString::Get(ByMode(task, 13782, 13783, 13784))
                          : settings ? xvlRCString::Get(ByMode(task, 14134, 14135, 14136))
                                     : xvlRCString::Get(ByMode(task, 13785, 13786, 13787));
            return false;
        }
        if (r == kCheckRemoved) {
            selection.skipped.push_back(checked);
            --i;  // the next file has moved into this place
        }
    }
    if (selection.files.empty()) return false;
    SortSelection(selection);
    return true;
}

void SortSelection(ConversionTypeList& selection) {
    if (selection.files.size() < 2) return;
    std::stable_sort(selection.files.begin(), selection.files.end(), [](const TextFileEntry& a, const TextFileEntry& b) {
        if (a.code != b.code) return a.code < b.code;
        return a.path < b.path;
    });
}

int CheckOpen(ConversionTypeList& selection, bool opened, std::size_t index, ui::zqTask&) {
    if (opened) return kCheckStays;
    const std::string& path = selection.files[index].path;
    return FailCheck(selection, index, xvlRCString::Get(12047, path), xvlRCString::Get(12046, path));
}

int CheckRegularFile(ConversionTypeList& selection, std::size_t index) {
    const std::string& path = selection.files[index].path;
    return FailCheck(selection, index, xvlRCString::Get(12881, path), xvlRCString::Get(12880, path));
}

int CheckConversionType(ConversionTypeList& selection, std::istream& in, std::size_t index, ui::zqTask&) {
    in.clear();
    in.seekg(0);
    char mark[2] = {};
    if (in.read(mark, 2) && dz::xvl::FindByteOrderMark(std::string_view(mark, 2)) == dz::xvl::ByteOrderMark::Utf16) {
        const std::string path = selection.files[index].path;
        return FailCheck(selection, index, xvlRCString::Get(12931, path), xvlRCString::Get(12930, path));
    }
    in.clear();
    in.seekg(0);
    if (dz::convert::ReadConversionType(selection, in, selection.files[index])) return kCheckStays;
    const std::string path = selection.files[index].path;
    // A first line of the wrong form is no question of an installed type: the message says
    // what is wrong with it and how it must look.
    std::string mended;
    in.clear();
    const auto fault = dz::convert::FindFirstLineFault(in, mended);
    if (fault == dz::convert::FirstLineFault::None)
        return FailCheck(selection, index, xvlRCString::Get(12049, path), xvlRCString::Get(12048, path));
    const int what = fault == dz::convert::FirstLineFault::Quoted       ? 12912
                     : fault == dz::convert::FirstLineFault::Semicolons ? dz::xvl::kMsgSemicolons
                     : fault == dz::convert::FirstLineFault::Tabs       ? dz::xvl::kMsgTabs
                                                                        : 12915;
    const std::string problem = xvlRCString::Get(what), form = xvlRCString::Get(12916, mended);
    return FailCheck(selection, index, xvlRCString::Get(12911, path, problem, form),
                     xvlRCString::Get(12910, path, problem, form));
}

namespace {

// `extra` as a paragraph of its own under a message, before its closing question when it has one.
std::string UnderMessage(std::string text, const std::string& extra, bool question) {
    const std::size_t at = question ? text.rfind("\r\r") : std::string::npos;
    text.insert(at == std::string::npos ? text.size() : at, "\r\r" + extra);
    return text;
}

// The data-file layer's words of a file in use ("/co/MASTER.GLM is in use: the lock file ... is
// held by ..."), said under a message that says already that the file is in use: the cause
// alone, as a sentence of its own.
std::string InUseCause(const std::string& reason) {
    std::string cause = reason;
    if (const auto at = reason.find(" is in use: "); at != std::string::npos)
        cause = reason.substr(at + 12);
    else if (const auto by = reason.find(" is in use by "); by != std::string::npos)
        cause = "It is held by " + reason.substr(by + 14);
    dz::suite::x_upper_first(cause);
    return cause;
}

}  // namespace

int CheckTemplate(ConversionTypeList& selection, std::istream& in, std::size_t index, ui::zqTask&) {
    in.clear();
    in.seekg(0);
    std::string templatePath;
    if (dz::convert::ReadTemplatePath(in, templatePath)) return kCheckStays;
    const std::string path = selection.files[index].path;
    // The help goes under the message, before its question.
    auto withHelp = [](const std::string& text, const std::string& help) {
        return UnderMessage(text, help, text.find("\r\rIs it OK to skip?") != std::string::npos);
    };
    if (templatePath.empty()) {
        std::string mended;
        in.clear();
        (void)dz::convert::FindFirstLineFault(in, mended);
        if (mended.find(',') == mended.rfind(',')) {  // no template field: one of the type's own
            const auto* type = dz::convert::FindConversionType(selection.files[index].code);
            mended += "," + dz::convert::DefaultTemplateName(type ? type->abbreviation : "GLM");
        }
        const std::string form = xvlRCString::Get(12916, mended);
        return FailCheck(selection, index, withHelp(xvlRCString::Get(12051, path), form),
                         withHelp(xvlRCString::Get(12050, path), form));
    }
    // A template named without a folder is named as written, with the folders searched for it.
    for (const auto& folder : dz::convert::TemplateFolders(false)) {
        if (templatePath.rfind(folder, 0) != 0) continue;
        const std::string name = templatePath.substr(folder.size());
        std::string folders;
        for (const auto& f : dz::convert::TemplateFolders()) folders += (folders.empty() ? "\r" : "\rand then in\r") + f;
        const std::string help = xvlRCString::Get(12917, folders);
        return FailCheck(selection, index, withHelp(xvlRCString::Get(12053, name, path), help),
                         withHelp(xvlRCString::Get(12052, name, path), help));
    }
    return FailCheck(selection, index, xvlRCString::Get(12053, templatePath, path),
                     xvlRCString::Get(12052, templatePath, path));
}

int CheckDataFiles(ConversionTypeList& selection, std::size_t index, OpenFilesList& openFiles, ui::zqTask& task,
                   bool* settingsRefused) {
    const TextFileEntry entry = selection.files[index];
    std::uint16_t error = 0;
    // The file that failed: the last entry this converter added without a handle, else the
    // optional file it found absent. Never an entry an earlier file left in the list.
    std::string failedAbbr;
    bool unwritable = false;  // "in use" only for want of permission to write
    bool settings = false;    // the data files opened, but the company's settings may not be rewritten
    std::string lostGroup;    // by this user, for no cause but the group they would lose
    dz::suite::SettingsLockBar settingsLock;  // or for no cause but the settings' lock file
    std::string reason;       // the data-file layer's own words for a file it refused
    ui::NextStep next;        // and what the person can do about it
    {
        auto converter = MakeConverter(entry.code);
        if (!converter) return kCheckStays;  // the factory has said so already
        const std::size_t before = openFiles.size();
        // A conversion that stores its numbers rewrites the company's settings once its data
        // files have committed: one that could not is refused now, before anything is read
        // (Examine Files foretells it; a prefill stores none).
        const bool numbers = ModeOf(task) != DriverMode::Prefill && StoresNumbers(entry.code);
        const bool fit = ModeOf(task) == DriverMode::Convert;  // a look makes no lock file
        const std::string group = numbers ? SettingsGroupLost() : std::string();
        if (converter->OpenFiles(openFiles, static_cast<std::uint16_t>(task.ID()), error)) {
            const std::vector<std::string> files = numbers ? UnwritableRunFiles(*converter, true, fit)
                                                           : std::vector<std::string>{};
            if (numbers && files.empty() && group.empty()) settingsLock = SettingsLockBarred(fit);
            if (files.empty() && group.empty() && settingsLock.path.empty()) return kCheckStays;
            error = 7;
            unwritable = settings = settingsLock.path.empty();
            if (settingsRefused && settings) *settingsRefused = true;
            lostGroup = files.empty() ? group : std::string();
            next = settings ? WritableFilesStep({}, files, group) : settingsLock.next;
        } else {
            for (std::size_t i = openFiles.size(); failedAbbr.empty() && i > before; --i)
                if (openFiles[i - 1].handle == 0) failedAbbr = openFiles[i - 1].abbr;
            if (failedAbbr.empty()) failedAbbr = converter->FailedOpen().abbr;
            unwritable = converter->FailedUnwritable();
            reason = converter->FailedReason();
            next = converter->FailedNext();
            // Every file this user may not write is named at once, the one refused first.
            if (unwritable) next = WritableFilesStep(next, UnwritableRunFiles(*converter, numbers, fit), group);
        }
    }
    // Nothing is asked in the background: a file refused for want of leave to write ends below,
    // before anything of it is read; any other is run all the same, and ends where its converter
    // meets what refused it.
    const bool background = ui::InBackground() || ui::MacroStatus() == ui::kMacroPlayback;
    if (background && !(error == 7 && (unwritable || !settingsLock.path.empty()))) return kCheckEndRun;

    const bool single = Single(selection);
    if (error == kErrorInterfaceDeclined) {
        // The person answered the warning; which file it cost them is said, not left to be
        // noticed missing from the list (nor, with one file, left to an ending that gives no why).
        ui::xw_wr_message(ui::kInfo, xvlRCString::Get(13262, entry.path));
        if (single) return kCheckEndRun;
        selection.files.erase(selection.files.begin() + static_cast<std::ptrdiff_t>(index));
        return kCheckRemoved;
    }

    std::string description;
    if (settings || !settingsLock.path.empty()) {
        description = "Company settings";
    } else if (!failedAbbr.empty()) {
        std::string abbr = failedAbbr.substr(0, 79);
        dz::suite::x_capitalize(abbr);
        description = abbr;
        std::string name;
        if (dz::suite::xa_get_zq_nam(abbr, name)) description = abbr.substr(0, 2) + " " + name;
    }
    std::string errorText;
    bool inUse = false;    // the message says the file is in use by another
    bool generic = false;  // the message says no more than "old version or corrupt"
    switch (error) {
    case 3: errorText = "does not exist"; break;
    case 7:
        // A company folder or data file this user may not write is no other user's doing.
        // Nor is a lock file that no lock can be taken on (a link, a pipe): nothing holds it.
        errorText = !settingsLock.path.empty()
                        ? xvlRCString::Get(14090, settingsLock.path, settingsLock.owner, settingsLock.why)
                    : !lostGroup.empty()                        ? xvlRCString::Get(13998, lostGroup)
                    : unwritable                                ? ui::unwritable_words(next)
                    : next.step == ui::Step::RemoveLockFile ? xvlRCString::Get(13442)
                    : ui::journal_refusal(next.step)    ? xvlRCString::Get(13622)
                                                            : "is being used by another user or another conversion";
        inUse = lostGroup.empty() && !unwritable && next.step != ui::Step::RemoveLockFile && !ui::journal_refusal(next.step);
        break;
    case 9843: errorText = "is an Tolvane file and Tolvane is not installed"; break;
    case 9844: errorText = "is a General Ledger file and General Ledger is not installed"; break;
    case 9845: errorText = "is a Check/Cash Management file and Check/Cash Management is not installed"; break;
    default:
        errorText = "is either an old version or corrupt";
        generic = true;
        break;
    }
    // "Old version or corrupt" covers many faults, and "in use" several holders (a conversion
    // running, a lock file that cannot be had): the data-file layer's reason goes under the
    // message (before its question), so that the user learns which, and which lock file.
    const bool explained = generic || (error == 7 && !unwritable);
    // Another program holds the file: wait for it (named when the data-file layer knows it).
    if (!next && error == 7 && !unwritable) next = {ui::Step::AgainWhenFinished, {}};
    auto withReason = [&](const std::string& text, bool question) {
        if (explained && !reason.empty()) return UnderMessage(text, inUse ? InUseCause(reason) : reason, question);
        if (!settingsLock.path.empty()) return UnderMessage(text, xvlRCString::Get(13989, SettingsFileName()), question);
        // Why a file that is only read, or is not a data file, must be written.
        // (Where the refusal is the group alone, the message has said it: the why is not said twice.)
        if (settings)
            return UnderMessage(text,
                                lostGroup.empty() ? xvlRCString::Get(13962, SettingsFileName(), SettingsRefusal())
                                                  : xvlRCString::Get(13989, SettingsFileName()),
                                question);
        if (unwritable && ModeOf(task) == DriverMode::Prefill) return UnderMessage(text, xvlRCString::Get(13961), question);
        return text;
    };
    if (background) {
        EndUnreadFile(entry, description + " file " + errorText, next, ModeOf(task) == DriverMode::Convert);
        selection.files.erase(selection.files.begin() + static_cast<std::ptrdiff_t>(index));
        return kCheckRemoved;
    }

    // A journal refused when the command started was said then, with what to do about it; the
    // file it stands beside is not opened for the rest of the command. Said again here, the same
    // cause would come twice: one of several files is left out (the closing message names it as
    // not run); a single file ends the run, named in a box of its own that names the data file
    // and says no more, unless the front end names each file that did not run itself.
    if (error == 7 && ui::journal_refusal(next.step) && ui::step_said_in_command(next)) {
        if (single) {
            const RunObserver* observer = CurrentRunObserver();
            if (!(observer && observer->NamesEachFile()))
                ui::xw_wr_message(ui::kError, xvlRCString::Get(ByMode(task, 12055, 12057, 12059), entry.path,
                                                               description, errorText));
            return kCheckEndRun;
        }
        selection.files.erase(selection.files.begin() + static_cast<std::ptrdiff_t>(index));
        return kCheckRemoved;
    }

    if (single) {
        if (error == 13) return kCheckEndRun;
        ui::xw_wr_message(ui::kError, withReason(xvlRCString::Get(ByMode(task, 12055, 12057, 12059), entry.path,
                                                                  description, errorText),
                                                 false),
                          next);
        return kCheckEndRun;
    }
    const std::string question =
        error == 13 ? xvlRCString::Get(ByMode(task, 12061, 12062, 12063), description, entry.path)
                    : withReason(xvlRCString::Get(ByMode(task, 12054, 12056, 12058), entry.path, description, errorText),
                                 true);
    if (ui::xw_wr_message(ui::kOkToSkip, question, next) == ui::kEnd) return kCheckEndRun;
    selection.files.erase(selection.files.begin() + static_cast<std::ptrdiff_t>(index));
    return kCheckRemoved;
}

int CheckAlreadyConverted(ConversionTypeList& selection, std::size_t index, ui::zqTask& task,
                          const OpenFilesList* openFiles) {
    const std::string path = selection.files[index].path;
    dz::xvl::LastConvert last;
    std::string stampLine;
    const bool stamped = dz::xvl::xvl_imp_xv_get_last_convert(path, last) && !last.date.empty();
    if (!stamped && !(openFiles && dz::convert::ConvertedBefore(*openFiles, path, stampLine) &&
                      dz::xvl::ParseLastConvert("\n" + stampLine, last) && !last.date.empty()))
        return kCheckStays;
    const std::string text =
        !last.user.empty()
            ? xvlRCString::Get(ByMode(task, 12064, 12066, 12068), path, last.user, last.date, last.time)
            : xvlRCString::Get(ByMode(task, 12065, 12067, 12069), path, last.date, last.time);
    const int answer = ui::xw_wr_message(ui::kThreeWay, text);
    if (answer == ui::kEnd) return kCheckEndRun;
    if (answer == ui::kSkip) {
        selection.files.erase(selection.files.begin() + static_cast<std::ptrdiff_t>(index));
        return selection.files.empty() ? kCheckEndRun : kCheckRemoved;
    }
    return kCheckStays;
}

bool CheckAllDataFiles(ConversionTypeList& selection, OpenFilesList& openFiles, ui::zqTask& task) {
    for (std::size_t i = 0; i < selection.files.size(); ++i) {
        const int r = CheckDataFiles(selection, i, openFiles, task);
        if (r == kCheckEndRun) return false;
        if (r == kCheckRemoved) --i;
    }
    return true;
}

// ---- AP invoice options ----------------------------------------------------------------------

namespace {

// True when some record type of the open data file has a row (also when that cannot be told:
// the cautious answer here is that data exist).
bool HoldsAnyRecord(std::uint16_t h) {
    xio_file_def def;
    if (xio_get_def(h, def) != XIO_OK) return true;
    for (const std::uint16_t rec : def.recordNumbers) {
        bool any = false;
        if (xio_row_changes(h, rec, &any) < 0 || any) return true;
    }
    return false;
}

}  // namespace

bool AskApInvoiceOptions(ConversionTypeList& selection, OpenFilesList& openFiles, ui::zqTask& task,
                         std::uint32_t& paidTotalsMode) {
    const bool anyInvoices = std::any_of(selection.files.begin(), selection.files.end(),
                                         [](const TextFileEntry& e) { return e.code == 402; });
    if (ModeOf(task) != DriverMode::Convert || ui::InBackground() || !anyInvoices) return true;

    const int h = ui::xw_show_panel(dz::convert::GetScreenFileHandle(), "QUERY", "API", {}, nullptr, task.ID());
    if (!h) {
        ui::xw_wr_message(ui::kError, "Unable to show the QUERY API panel.");
        return false;
    }
    // Any record on file (a vendor alone is enough) makes "accumulate without clearing" the
    // preselected answer: clearing would lose every vendor's paid totals. The history invoices
    // count only when the AP master holds nothing.
    const std::uint16_t apm = dz::convert::FindFileHandle(openFiles, "APM", 1);
    bool dataExist = apm && HoldsAnyRecord(apm);
    if (!dataExist) {
        const std::uint16_t api = dz::convert::FindFileHandle(openFiles, "API", 2);
        dataExist = api && HoldsAnyRecord(api);
    }

    ui::Panel* p = ui::xw_find_panel(h);
    if (dataExist) p->set_choice(1, 2);
    p->write_text(2, 3, "Select how you want RA-Dodedoz to process existing");
    p->write_text(3, 3, "vendor paid invoice totals when converting invoice");
    p->write_text(4, 3, "records:");
    ui::xw_chg_radio_alpha(h, 1, 1, "Clear totals and then accumulate ");
    ui::xw_chg_radio_alpha(h, 1, 2, "Accumulate without clearing ");
    ui::xw_chg_radio_alpha(h, 1, 3, "Do not clear or accumulate ");
    ui::xw_refresh();

    for (;;) {
        const ui::PanelMessage m = ui::xw_rd_panel(h);
        p = ui::xw_find_panel(h);
        if (!p || m == p->escape_message() || m == p->button_message(1)) {
            ui::xw_close_panel(h);
            return false;
        }
        if (m != p->button_message(3)) continue;
        const int choice = p->choice(1);
        if (choice < 1 || choice > 3) continue;
        if (dataExist && choice == 1 &&
            ui::xw_wr_message(ui::kYesNo, "Are you sure you want to clear accumulated totals for all vendors?") ==
                ui::kNo)
            continue;
        paidTotalsMode = static_cast<std::uint32_t>(choice);
        ui::xw_close_panel(h);
        return true;
    }
}

}  // namespace dz::app
