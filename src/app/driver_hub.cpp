// The driver's second half: the report hub's callbacks (table group, options, the list of text
// files), the start of the run or its storing for replay, and the per-file loop with its closing
// message.
#include "app/driver.h"

#include "app/stored_options.h"
#include "convert/texts.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/suite/company.h"
#include "platform/suite/control.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"
#include "platform/suite/xm_options.h"
#include "platform/suite/zc.h"
#include "platform/ui/framework.h"
#include "platform/ui/hub.h"
#include "platform/ui/next_step.h"
#include "platform/ui/panel.h"
#include "platform/ui/run_state.h"
#include "platform/ui/ui.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string_view>
#include <tuple>
#include <utility>

namespace dz::app {

RunObserver* CurrentRunObserver();

namespace ui = dz::ui;
using dz::xvl::xvlRCString;

namespace {

constexpr int kTableListField = 1;
constexpr int kOptionsButton = 11;
constexpr int kVisibleRows = 5;

ConversionTypeList SelectionOf(const RunContext& ctx) {
    ConversionTypeList selection;
    UnpackTextFileList(selection, ctx.fileList.data(), ctx.fileList.size());
    return selection;
}

bool IsCommand(const ui::PanelMessage& m, int button) {
    return m.msg == ui::kMsgCommand && m.key == ui::kKeyEnter && m.field == button;
}

void UpdateTextFileListScrollBar(ui::Panel& panel, const RunContext& ctx) {
    const int proportion = ctx.rows > kVisibleRows
                               ? static_cast<int>(std::lround(500.0 / static_cast<double>(ctx.rows)))
                               : 0;
    panel.set_scroll(proportion, ctx.firstRow);
}

void ScrollTextFileListTo(ui::Panel& panel, RunContext& ctx, int row) {
    const int last = std::max(1, static_cast<int>(ctx.rows) - (kVisibleRows - 1));
    ctx.firstRow = std::clamp(row, 1, last);
    UpdateTextFileListScrollBar(panel, ctx);
}

void ScrollTextFileListBy(ui::Panel& panel, RunContext& ctx, int key) {
    int by = 0;
    if (key == 5) by = -1;
    if (key == 6) by = 1;
    if (key == 13) by = -kVisibleRows;
    if (key == 14) by = kVisibleRows;
    if (by != 0) ScrollTextFileListTo(panel, ctx, ctx.firstRow + by);
}

std::string Plural(std::uint32_t n, const char* one, const char* many) { return n == 1 ? one : many; }

// A file's counts as the closing message names a file beside one that ended early: those of a
// file that ran to its end, or, of one that ended early without words of its own there, with
// "not completed" after them.
std::string FileCounts(const std::string& fileName, const FileOutcome& o) {
    const std::string counts =
        xvlRCString::Get(13520, fileName, std::to_string(o.accepted), std::to_string(o.rejected),
                         std::to_string(o.messages), Plural(o.messages, "message", "messages"),
                         std::to_string(o.notes), Plural(o.notes, "note", "notes"));
    return o.endedWhy.empty() ? counts : xvlRCString::Get(13523, counts);
}

// The closing message of a run, 0 when the counts call for none. An examine's words speak of
// "this file"; one of several files has its own words for them.
int ClosingMessage(bool converting, std::uint32_t rejected, std::uint32_t messages, std::uint32_t notes,
                   bool severalFiles) {
    const int row = (rejected > 0 ? 1 : 0) | (messages > 0 ? 2 : 0) | (notes > 0 ? 4 : 0);
    static const int convert[8] = {0, 12034, 12035, 12036, 12264, 12040, 12041, 12042};
    static const int examine[8] = {0, 12037, 12038, 12039, 12264, 12043, 12044, 12045};
    static const int examineSeveral[8] = {0, 13330, 13331, 13332, 12264, 13333, 13334, 13335};
    return converting ? convert[row] : severalFiles ? examineSeveral[row] : examine[row];
}

// The words written left of `field` on its row, without the colon: the field's name as the
// person reads it.
std::string FieldLabel(const ui::Panel& panel, int field) {
    const ui::FieldDef* f = panel.def().field(field);
    if (!f) return {};
    const ui::TextDef* label = nullptr;
    for (const auto& t : panel.def().texts)
        if (t.row == f->row && t.col < f->col && (!label || t.col > label->col)) label = &t;
    if (!label) return {};
    std::string text = label->text;
    while (!text.empty() && (text.back() == ':' || text.back() == ' ')) text.pop_back();
    return text;
}

// The date in `field` of the options panel, empty for none. A text that is no date, or a day
// its month lacks, is said naming the option, which becomes the active field; false then.
bool ReadOptionDate(ui::Panel& panel, int field, x_date_type& date) {
    const std::string text = panel.text(field);
    std::string why;
    if (text.empty() || ParseDate(text, date, &why)) return true;
    ui::xw_wr_message(ui::kError, why.empty() ? xvlRCString::Get(13280, FieldLabel(panel, field), text)
                                              : xvlRCString::Get(13281, FieldLabel(panel, field), text, why));
    panel.set_active_field(field);
    return false;
}

}  // namespace

std::uint32_t FileSize(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) return 0;
    return static_cast<std::uint32_t>(std::min<std::uintmax_t>(size, 0xFFFFFFFFu));
}


namespace {
// The ending's first line names what failed; a stop is said as the person knows it.
std::string EndingCause(const FileOutcome& o) {
    return o.stopped ? std::string("stopped") : o.endedWhy.substr(0, o.endedWhy.find('\r'));
}
}  // namespace

std::string PutBackSummary(const FileOutcome& o) {
    if (!o.converting || o.endedWhy.empty()) return {};
    const std::uint32_t read = o.accepted + o.rejected;
    // Only a file that had written a data file had one to put back.
    // A write that stands with its journal until a writing command takes it back was not put back.
    const int number = o.endedRestore == 1 ? 13271 : o.endedWritten && o.endedRestore != 3 ? 13270 : 13272;
    return xvlRCString::Get(number, std::to_string(read), EndingCause(o));
}

std::string EndingSummary(const FileOutcome& o) {
    if (o.endedWhy.empty()) return {};
    if (o.converting) return PutBackSummary(o);
    return xvlRCString::Get(kMsgExamineEndedEarly, std::to_string(o.accepted + o.rejected), EndingCause(o));
}

// ---- The hub panel ---------------------------------------------------------------------------

int OnHubPanel(ui::Panel& hub, const ui::PanelMessage& m, RunContext& ctx) {
    if (m.msg == ui::kMsgShown) {
        ctx.hub = hub.handle();
        InitHubChildPanel(hub, ctx);
        hub.set_active_field(kTableListField);
        return 1;
    }
    if (IsCommand(m, ui::kHubStartButton)) {
        // The hub's "store as a background task" box makes this run one to store.
        if (ctx.task && hub.has_field(ui::kHubBackgroundField))
            ctx.task->SetAllowBackground(hub.checked(ui::kHubBackgroundField));
        ctx.tableName.clear();
        const int chosen = hub.choice(kTableListField);
        if (chosen > 1) {
            const std::string entry = hub.selected_item(kTableListField);
            if (entry.size() >= 5) ctx.tableName = entry.substr(4);
        }
        return 1;
    }
    if (IsCommand(m, kOptionsButton) && hub.button(kOptionsButton)) ShowGeneralOptions(ctx);
    return 1;
}

void InitHubChildPanel(ui::Panel& hub, RunContext& ctx) {
    const ConversionTypeList selection = SelectionOf(ctx);
    const int screenFile = dz::convert::GetScreenFileHandle();
    ctx.childPanel = ui::xw_show_child_panel(hub.handle(), screenFile, "EXAMINE", "CHILD", ListTextFilesPanel, &ctx,
                                             hub.command());

    // The table groups of MASTER.XVM, after the panel's own "no table group" entry.
    xio_ask_request request;
    request.command = static_cast<std::uint16_t>(hub.command());
    request.abbr = "XVM";
    request.fileNo = 0;
    std::uint16_t h = 0;
    if (xio_ask_file(request, h) == XIO_OK && h != 0) {
        const std::uint16_t tableField = xio_num(h, XIO_NUM_RECORD, 1, "TABLE");
        int position = 2;
        for (int s = xio_rd_first(h, 1, 0, 0); s == XIO_OK; s = xio_rd_next(h, 1, 0, 0)) {
            x_value_def value;
            xio_get_field(h, 1, tableField, value);
            hub.insert_item(kTableListField, position++, "Use " + value.text);
        }
        if (position == 3) hub.set_choice(kTableListField, 2);  // the only group is the likely one
        xio_cls_file(h);
    }

    const bool invoices = std::any_of(selection.files.begin(), selection.files.end(),
                                      [](const TextFileEntry& e) { return e.code == 402; });
    if (invoices) {
        ctx.options.apInvoiceFile = 1;
        if (ctx.options.dupInvoiceMode != 0) {
            ui::ButtonDef b;
            b.number = kOptionsButton;
            b.label = "~Options...";
            b.row = hub.rows() - 2;
            b.col = 33;
            b.width = 14;
            hub.draw_button(b);
        }
    }
}

bool ShowGeneralOptions(RunContext& ctx) {
    const int h = ui::xw_show_panel(dz::convert::GetScreenFileHandle(), "QUERY", "GENERAL", {}, nullptr,
                                    ctx.task ? ctx.task->ID() : 0);
    if (!h) {
        ui::xw_wr_message(ui::kError, "Unable to show the QUERY GENERAL panel.");
        return false;
    }
    ui::Panel* p = ui::xw_find_panel(h);
    if (ctx.options.dupInvoiceMode != 0) p->set_choice(1, static_cast<int>(ctx.options.dupInvoiceMode));
    const bool datesAllowed = dz::suite::zc_create_entries("AP", "CM") != 0;
    p->disable_field(2, !datesAllowed);
    p->disable_field(3, !datesAllowed);
    if (datesAllowed && (!ctx.options.clearDate.blank() || !ctx.options.statementDate.blank())) {
        p->set_text(2, dz::suite::xd_alpha_date(ctx.options.clearDate));
        p->set_text(3, dz::suite::xd_alpha_date(ctx.options.statementDate));
    }
    ui::xw_refresh();
    for (;;) {
        const ui::PanelMessage m = ui::xw_rd_panel(h);
        p = ui::xw_find_panel(h);
        if (!p || m == p->escape_message() || m == p->button_message(1)) {
            ui::xw_close_panel(h);
            return false;
        }
        if (m != p->button_message(3)) continue;
        x_date_type clear, statement;
        if (datesAllowed && (!ReadOptionDate(*p, 2, clear) || !ReadOptionDate(*p, 3, statement))) continue;
        if (p->choice(1) >= 1) ctx.options.dupInvoiceMode = static_cast<std::uint32_t>(p->choice(1));
        if (datesAllowed) {
            ctx.options.clearDate = clear;
            ctx.options.statementDate = statement;
        }
        ui::xw_close_panel(h);
        return true;
    }
}

int ListTextFilesPanel(ui::Panel& panel, const ui::PanelMessage& m) {
    auto* ctx = static_cast<RunContext*>(panel.data());
    if (!ctx) return 1;
    if (m.msg == ui::kMsgShown) {
        FillTextFileList(panel, *ctx, SelectionOf(*ctx));
    } else if (m.msg == ui::kMsgScrollTo) {
        ScrollTextFileListTo(panel, *ctx, m.key);
    } else if (m.msg == ui::kMsgScrollKey) {
        ScrollTextFileListBy(panel, *ctx, m.key);
    }
    return 1;
}

void FillTextFileList(ui::Panel& panel, RunContext& ctx, const ConversionTypeList& selection) {
    if (static_cast<int>(selection.files.size()) > panel.rows()) panel.resize(static_cast<int>(selection.files.size()), panel.cols());
    int row = 1;
    for (const auto& f : selection.files) {
        const auto* type = dz::convert::FindConversionType(f.code);
        const std::string name = type && type->name ? type->name : std::to_string(f.code);
        panel.write_text(row++, 2, " " + name + " - " + std::filesystem::path(f.path).filename().string(), panel.cols());
    }
    ctx.rows = static_cast<std::uint16_t>(selection.files.size());
    ctx.firstRow = 1;
    if (ctx.rows > kVisibleRows) UpdateTextFileListScrollBar(panel, ctx);
}

// ---- Start and end ---------------------------------------------------------------------------

int OnHubStart(const ui::HubStart& start, RunContext& ctx) {
    ui::zqTask& task = *ctx.task;
    const int macro = ui::MacroStatus();
    if (!task.AllowBackground() && macro != ui::kMacroRecord && macro != ui::kMacroChange) {
        if (ui::Panel* hub = ui::xw_find_panel(ctx.hub)) hub->set_hidden(true);
        ConversionTypeList selection = SelectionOf(ctx);
        selection.skipped = ctx.skipped;
        RunTextFiles(selection, ctx.openFiles, start.print, task, ctx.tableName, ctx.options);
        return 1;
    }
    // A background task stored from the hub starts a new set of stored lines; a recording
    // already began its own with the file list.
    if (macro != ui::kMacroRecord && macro != ui::kMacroChange) dz::suite::xm_clear_options(task.ID());
    StoreRunOptions(task, ctx.fileList, ctx.tableName, ctx.options);
    // Nothing in the desktop runs a stored task: the person is told what does.
    if (macro != ui::kMacroRecord && macro != ui::kMacroChange && !ui::InBackground()) {
        const bool converting = ModeOf(task) == DriverMode::Convert;
        const auto* company = dz::suite::current_company();
        const std::string folder =
            company ? std::filesystem::absolute(company->folder()).lexically_normal().string() : std::string("DIR");
        ui::xw_wr_message(ui::kInfo, xvlRCString::Get(13261, converting ? "conversion" : "examine files", folder,
                                                       converting ? "convert" : "examine"));
    }
    return 1;
}

void OnHubEnd(RunContext& ctx) {
    CloseRunFiles(ctx.openFiles);
    ctx.finished = true;
    if (ctx.task) ctx.task->End(ui::zqTask::kEndedOk);
}

// ---- The per-file loop -----------------------------------------------------------------------

void RunTextFiles(ConversionTypeList& selection, OpenFilesList& openFiles, int printDef, ui::zqTask& task,
                  const std::string& tableName, const ConversionOptions& options) {
    const bool converting = ModeOf(task) == DriverMode::Convert;
    if (dz::suite::xc_open_control_file(0) != dz::suite::kControlFileFailed) dz::suite::xc_cls_control_file();
    dz::convert::ConvertProgress progress;

    if (!ui::InBackground()) {
        if (selection.files.empty()) {
            ui::xw_refresh();
        } else {
            if (selection.files.size() == 1) {
                progress.single_file = 1;
                progress.total_bytes = FileSize(selection.files.front().path);
            } else {
                progress.single_file = 0;
                std::uint64_t total = 0;
                for (const auto& f : selection.files) total += FileSize(f.path);
                progress.total_bytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(total, 0xFFFFFFFFu));
            }
            dz::convert::ShowProgressPanel(progress, dz::convert::GetScreenFileHandle(),
                                           converting ? "CONVERT" : "EXAMINE",
                                           selection.files.size() == 1 ? "STATUSS" : "STATUSM");
        }
    }

    RunObserver* observer = CurrentRunObserver();
    std::string encodingNotes;  // of the files not read as UTF-8, each after an empty line
    std::string putBack;        // of the files ended early and put back, each after an empty line
    // Each file of the run once, as it ended, in run order.
    std::vector<std::pair<TextFileEntry, std::string>> everyFile;
    bool notRun = !selection.skipped.empty();
    auto nameOf = [](const std::string& path) { return std::filesystem::path(path).filename().string(); };
    // The closing message's counts are those of the files that ran to their end: a file ended
    // early kept nothing, and its ending (a printout that failed, a stop) was said already.
    struct {
        std::uint32_t rejected = 0, messages = 0, notes = 0, files = 0;
    } kept;
    bool endedEarly = false;
    bool endedBox = false;      // a file ended with a failure the closing message says
    ui::NextStep closingNext;   // the first such failure's next step
    for (std::size_t index = 0; index < selection.files.size(); ++index) {
        const TextFileEntry& entry = selection.files[index];
        // A background run that was told to end stops between two files as well.
        if (progress.StopRequested() || (ui::InBackground() && ui::CheckTerminate())) {
            for (std::size_t rest = index; rest < selection.files.size(); ++rest)
                everyFile.emplace_back(selection.files[rest], xvlRCString::Get(13521, nameOf(selection.files[rest].path)));
            notRun = true;
            break;
        }
        FileOutcome outcome;
        outcome.entry = entry;
        if (observer) observer->FileStarting(entry);
        auto converter = MakeConverter(entry.code);
        if (!converter) {
            outcome.converterMissing = true;
            everyFile.emplace_back(entry, xvlRCString::Get(13521, nameOf(entry.path)));
            notRun = true;
            if (observer) observer->FileFinished(outcome);
            continue;
        }
        outcome.converting = converting;
        // How the last file ended is no part of this one's ending: a file after one that ended
        // early is not taken for one more.
        progress.ended_why.clear();
        progress.ended_restore = 0;
        progress.ended_next = {};
        progress.ended_box = false;
        progress.ended_written = false;
        progress.ended_not_given.clear();
        progress.ended_give_back = {};
        const auto records = progress.run_records, rejected = progress.run_rejected;
        const auto messages = progress.messages, notes = progress.notes;
        ConversionOptions copy = options;
        progress.encoding_note.clear();
        converter->ConvertFile(openFiles, entry, &progress, printDef, task, tableName, &copy);
        outcome.encodingNote = progress.encoding_note;
        if (!outcome.encodingNote.empty()) encodingNotes += "\r\r" + outcome.encodingNote;
        converter.reset();
        outcome.stopped = progress.StopRequested() || (ui::InBackground() && ui::CheckTerminate());
        outcome.rejected = progress.run_rejected - rejected;
        const std::uint32_t read = progress.run_records - records;
        outcome.accepted = read > outcome.rejected ? read - outcome.rejected : 0;
        outcome.messages = progress.messages - messages;
        outcome.notes = progress.notes - notes;
        outcome.endedWhy = progress.ended_why;
        outcome.endedRestore = progress.ended_restore;
        outcome.endedWritten = progress.ended_written;
        outcome.endedNext = progress.ended_next;
        // A run with a window closes with one message: an ending said in a box is said there.
        outcome.saidAtClose = progress.ended_box && !outcome.endedWhy.empty() && progress.panel != 0 &&
                              !ui::InBackground();
        const std::string fileName = nameOf(entry.path);
        std::string ending;  // the file's early end as the closing message says it
        // A conversion's ending always says what it kept; an examine's is said when the closing
        // message is where it is said, in the command line's words.
        if (const std::string summary = EndingSummary(outcome);
            !summary.empty() && (outcome.converting || outcome.saidAtClose))
            ending = fileName + ": " + summary;
        // The window's totals, like the closing message's, leave out a file that ended early;
        // with every data file put back, the file's own row no longer counts its records as accepted.
        if (!outcome.endedWhy.empty())
            progress.FileEnded({read, outcome.rejected, outcome.messages + outcome.notes,
                                converting && outcome.endedRestore != 1});
        if (outcome.saidAtClose) {
            // What the ending said below its first line (why, where) follows it.
            if (const auto more = outcome.endedWhy.find('\r'); more != std::string::npos) {
                const auto from = outcome.endedWhy.find_first_not_of('\r', more);
                if (from != std::string::npos) ending += "\r" + outcome.endedWhy.substr(from);
            }
            // Then what the put-back could not give back, with the administrator's step: the
            // desktop's one box (a front end that names each file itself says it on its own).
            if (!progress.ended_not_given.empty() && !observer) {
                ending += "\r\r" + ui::with_step(progress.ended_not_given, progress.ended_give_back, ui::Voice::Desktop);
                progress.ended_not_given.clear();
            }
            endedBox = true;
            if (!closingNext) closingNext = outcome.endedNext;
        }
        if (!progress.ended_not_given.empty()) ui::xw_wr_message(ui::kWarning, progress.ended_not_given, progress.ended_give_back);
        if (!ending.empty()) putBack += "\r\r" + ending;
        everyFile.emplace_back(entry, ending.empty() ? FileCounts(fileName, outcome) : ending);
        if (outcome.endedWhy.empty()) {
            kept.rejected += outcome.rejected;
            kept.messages += outcome.messages;
            kept.notes += outcome.notes;
            ++kept.files;
        }
        endedEarly = endedEarly || !outcome.endedWhy.empty();
        // A run in the background has no window and no closing message: its log keeps how a
        // file ended early, with what to do, beside the run's task lines.
        if (ui::InBackground() && !outcome.endedWhy.empty())
            dz::suite::x_log(
                ui::with_step(fileName + ": " + EndingSummary(outcome), outcome.endedNext, ui::Voice::CommandLine));
        // What the file counted after its last record (its closing notes, a failure at its end)
        // shows in the window too, so that the window's count is the closing message's.
        if (progress.panel) {
            ui::xw_post_message(progress.panel, dz::convert::kProgressPosition);
            ui::xw_dispatch_messages();
            ui::xw_refresh();
        }
        if (observer) observer->FileFinished(outcome);
    }

    const int window = progress.panel;
    if (ui::InBackground() || window == 0) return;
    // Examine Files keeps nothing, so a stop there has nothing to report.
    if (progress.StopRequested() && !converting) {
        ui::xw_close_panel(window);
        return;
    }
    // The run is over: the window says how it ended, and its button no longer offers to stop anything.
    const char* ending = progress.StopRequested() ? "Conversion stopped"
                         : endedEarly ? (converting ? "Conversion ended early" : "Examine ended early")
                                      : (converting ? "Conversion finished" : "Examine finished");
    (void)progress.SetStatusText(ending, -1);
    if (ui::Panel* p = ui::xw_find_panel(window))
        if (const ui::ButtonState* b = p->button(1)) {
            ui::ButtonDef done = b->def;
            done.label = "~Close";
            p->draw_button(done);
            ui::xw_refresh();
        }
    // What was put back comes first: the counts that follow are of the files that were kept.
    // When a file of several ended early or was not run, every file is named once, as it ended,
    // so that none is taken for another's failure (unless the front end names each file itself).
    // A file left out at the checks is named where it would have run (by type, then path; one
    // whose type could not be read after the others), not after the files that ran.
    const auto runsBefore = [](const TextFileEntry& a, const TextFileEntry& b) {
        return std::tuple(a.code == 0, a.code, a.path) < std::tuple(b.code == 0, b.code, b.path);
    };
    for (const auto& skipped : selection.skipped) {
        const auto at = std::find_if(everyFile.begin(), everyFile.end(),
                                     [&](const auto& named) { return runsBefore(skipped, named.first); });
        everyFile.emplace(at, skipped, xvlRCString::Get(13522, nameOf(skipped.path)));
    }
    const bool several = selection.files.size() + selection.skipped.size() > 1;
    const bool nameEach = several && (endedEarly || notRun) && !(observer && observer->NamesEachFile());
    std::string closing = putBack;
    if (nameEach) {
        closing.clear();
        for (const auto& named : everyFile) closing += "\r\r" + named.second;
    }
    if (const int n = ClosingMessage(converting, kept.rejected, kept.messages, kept.notes, kept.files > 1)) {
        std::vector<std::string> values;
        if (kept.rejected > 0) {
            values.push_back(!converting                              ? std::string()
                             : dz::suite::xa_appl_installed("PM") != 0 ? std::string("Rejxxx.txt ")
                                                                       : std::string("Rejectxxx.txt "));
            values.push_back(std::to_string(kept.rejected));
            values.push_back(Plural(kept.rejected, "record", "records"));
        }
        if (kept.messages > 0) {
            values.push_back(std::to_string(kept.messages));
            values.push_back(Plural(kept.messages, "message", "messages"));
        }
        if (kept.notes > 0) {
            values.push_back(std::to_string(kept.notes));
            values.push_back(Plural(kept.notes, "note", "notes"));
        }
        std::vector<std::string_view> views(values.begin(), values.end());
        closing += "\r\r" + xvlRCString::Table().get(n, views);
    }
    closing += encodingNotes;
    // A conversion the person stopped is done again when they choose.
    if (!closingNext && progress.StopRequested()) closingNext = {ui::Step::Again, {}};
    // One box for the run: a failure that ended a file makes it an error box with what to do.
    if (!closing.empty()) ui::xw_wr_message(endedBox ? ui::kError : ui::kInfo, closing.substr(2), closingNext);
    ui::xw_close_panel(window);
}

}  // namespace dz::app
