// The one door through which the core talks to a person. The desktop program answers with
// dialogs, the command line with prompts or flags, tests with scripted answers. The core never
// includes a toolkit and never blocks on anything but this interface.
//
// What a front end implements is the class `Ui`; everything else in this folder (panels, the
// message queue, the report hub, printing, stored options, run state, tasks) is shared program
// logic that calls it. Every method but `message` has a harmless default, so a front end only
// overrides what it can show.
#pragma once

#include "platform/ui/line_spool.h"
#include "platform/ui/next_step.h"
#include "platform/ui/panel.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dz::ui {

// ---- Message boxes --------------------------------------------------------------------------
enum MessageKind : int {
    kInfo = 101,          // information, OK
    kWarning = 102,       // warning, OK
    kError = 103,         // error, OK
    kYesNo = 104,         // yes/no: 1 yes, 2 no
    kOkToSkip = 105,      // "OK to skip?" / OK-cancel: 4 ends or cancels, anything else goes on
    kYesNoCancel = 107,   // 1 yes, 2 no, 4 cancel
    kQuestion = 108,      // yes/no: 1 yes, 2 no
    kThreeWay = 109,      // 2 skip the file, 4 end the run, anything else (1) goes ahead
};

// Answer codes of `message`. Several names share a code because kinds read them differently.
enum Answer : int {
    kOk = 1,
    kYes = 1,
    kGoOn = 1,
    kNo = 2,
    kSkip = 2,
    kCancel = 4,
    kEnd = 4,
};

// True for the kinds that ask something (104, 105, 107, 108, 109).
bool is_question(int kind);

// A message box that says what happened (`text`: the cause, never what to do about it) and
// what the person can do next, as a value each front end words its own way.
struct Notice {
    int kind = kError;
    std::string text;
    NextStep next;
    // The report sent to the screen could not be shown in full: a front end that writes the
    // screen's lines itself (the command line) has said which output failed, and why.
    bool screen_report = false;
};

// ---- File choosers --------------------------------------------------------------------------
enum class ChooseMode {
    Many,   // several existing files
    One,    // one existing file
    New,    // a file to create (it may exist)
};

struct FileFilter {
    std::string description;  // "Text Files"
    std::string extension;    // "txt", or "*" for all files
};

struct FileChooser {
    ChooseMode mode = ChooseMode::One;
    std::string title;
    std::vector<FileFilter> filters;
    int filter_index = 0;
    std::string file_name;        // proposed name
    std::string initial_folder;   // "" = the chooser's default folder
};

struct FileChoice {
    int status = 1;                   // 0 = chosen (OK), anything else = cancelled
    std::vector<std::string> paths;   // in the order the person chose them
    int filter_index = 0;
};

// ---- Record picker --------------------------------------------------------------------------
struct RecordList {
    std::string title;
    std::vector<std::string> columns;  // column headings
    std::vector<std::vector<std::string>> rows;
    int start = 0;                     // 0-based row shown first / preselected
};

// ---- Reports shown on screen or sent to a printer -------------------------------------------
struct ReportDocument {
    std::string title;
    int width = 132;
    // One entry per printed line; a line starting with '\f' begins a new page.
    std::vector<std::string> lines;
    // Where the lines of a printed report are, after those above (a print job holds none in
    // memory): its spool, or the report file it was written to. Read with for_each_line.
    std::shared_ptr<const LineSpool> spool = nullptr;
};

// Gives each line of `report` in turn to `each` (which returns false to stop): those it holds,
// then those of its spool. False when the spool could not be read back whole.
bool for_each_line(const ReportDocument& report, const std::function<bool(std::string_view)>& each);
// Every line of `report` in one list (small documents, tests).
std::vector<std::string> all_lines(const ReportDocument& report);

// ---- The main window ------------------------------------------------------------------------
struct MenuItem {
    std::string menu;        // "Tasks", "Setup"
    std::string text;        // "&Convert..."
    int command = 0;
    std::string prompt;      // status-bar text
    bool separator_before = false;
};

struct MainWindowDef {
    std::string title;                 // "RA Dodedoz"
    std::vector<MenuItem> items;       // the program's own entries, in menu order
    std::string exit_prompt;           // prompt of the framework's exit command
};

class Ui {
public:
    // A front end that goes while installed uninstalls itself: panels still open (a step that
    // failed half-way leaves them so) are then closed through the silent default, never
    // through a front end that is gone.
    virtual ~Ui();

    // A message box of kind `kind` (see MessageKind). Returns an Answer code. Kinds 101-103
    // return kOk.
    virtual int message(int kind, const std::string& text) = 0;
    // A message box with its next step. The default says the step in the command line's words
    // after the text, through `message`; a front end with words of its own overrides it.
    virtual int notice(const Notice& notice);

    // A file chooser. The default cancels.
    virtual FileChoice choose_files(const FileChooser& request);

    // Panels. The core owns every panel's state; these say when to show, redraw or remove one.
    virtual void panel_opened(Panel& panel) {}
    virtual void panel_changed(Panel& panel) {}
    virtual void panel_closed(Panel& panel) {}
    // Waits for the person's next action on a panel shown modally, writes what they typed into
    // the panel's fields, and returns the action (use panel.button_message(n) /
    // panel.escape_message()). The default escapes, so nothing ever waits forever.
    virtual PanelMessage read_panel(Panel& panel);
    // Takes in, without waiting, what the person did since the last call: a button or a stop
    // request on a modeless panel is posted with xw_post_message.
    virtual void pump() {}
    // Repaints what changed (after panel_changed calls).
    virtual void refresh() {}
    virtual void beep() {}
    virtual void help(const std::string& topic) {}

    // A record picker. Returns the picked row (1-based), 0 when nothing was picked.
    virtual int list_records(const RecordList& list) { return 0; }

    // A report sent to the screen, or to a printer. False when it could not be shown/printed.
    virtual bool show_report(const ReportDocument& report);
    virtual bool print_report(const ReportDocument& report) { return false; }
    // Whether show_report reads the report's lines (a window or a list shows the whole
    // document). A front end that puts each line where it goes in report_line needs none kept:
    // a print job to the screen then keeps none.
    virtual bool reads_whole_report() const { return true; }
    // Each line of a report for the screen as it is printed ('\f' first when it starts a page
    // after the report's first line), before the whole report reaches show_report. False when
    // the line could not be put where it goes (with errno saying why: ENOSPC for a full disk):
    // the print fails then, as a file that cannot be written does.
    virtual bool report_line(const std::string& line) { return true; }
    // What the person can do about the last line report_line could not put where it goes
    // (free space on the disk of the file it went to, or name another). None by default.
    virtual NextStep report_line_step() { return {}; }
    // A report was written to the file `path` (absolute): the person is told where it is.
    // `report` has the title and width alone: the lines are in the file, never held in memory.
    virtual void report_written(const ReportDocument& report, const std::string& path) {}

    // The background task's one-line state.
    virtual void task_line(const std::string& text) {}

    // Interactive start: the splash, the main window (built, then shown), foreground set-up.
    virtual void splash(const std::string& title) {}
    virtual bool create_main_window(const MainWindowDef& def) { return true; }
    virtual bool init_foreground() { return true; }
    virtual void show_main_window() {}
};

// The interface in force. Never null: until a front end installs its own, a silent one that
// answers OK/yes/go on and records nothing.
Ui& current();
// Installs `ui` (not owned). nullptr restores the silent default, as destroying `ui` does.
void set_current(Ui* ui);

// ---- The calls the program makes ------------------------------------------------------------
// A message box (the window handle and flags of the suite's call are not needed).
int xw_wr_message(int kind, const std::string& text);
// The same with what the person can do next (see Notice).
int xw_wr_message(int kind, const std::string& text, const NextStep& next);

// File choosers; `chosen` receives the paths. Return the chooser status: 0 = OK.
int zqfdlgFileChooseMany(const FileChooser& request, std::vector<std::string>& chosen);
int zqfdlgFileChooseOne(const FileChooser& request, std::string& chosen);
int zqfdlgFileChooseNew(const FileChooser& request, std::string& chosen);

// A record picker over `list`. Returns the picked row (1-based), 0 when none.
int xl_list_records(const RecordList& list);

// The background task's line; an empty text clears it.
void x_update_task(const std::string& text);

// Ends the program at once after telling the person why (an error box), for a state it cannot
// go on from (no memory left for a run's option blocks).
[[noreturn]] void x_abort(const std::string& text);

}  // namespace dz::ui
