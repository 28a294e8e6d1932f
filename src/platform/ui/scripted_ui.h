// A person played by a script, for tests (and the base of the command line's front end): answers,
// file choices, panel actions and stop requests are queued in advance; everything the program
// showed is recorded.
#pragma once

#include "platform/ui/ui.h"

#include <deque>
#include <string>
#include <vector>

namespace dz::ui {

// One thing a person does on a panel.
struct PanelAction {
    enum class Kind {
        Text,     // types `text` into field `field`
        Choice,   // picks radio `value` (or list entry `value`) of field `field`
        Check,    // sets check box `field` to `value` != 0
        Item,     // picks the list entry whose text is `text`
        Button,   // presses button `field`
        Escape,   // escapes (or presses a progress panel's Stop)
        Edited,   // reports field `field` as changed (message 108)
        Raw,      // any message
        GridLeave,  // types `text` into the grid's current cell and leaves it for line `value`,
                    // column `field` (kMsgGridLeave; counted from 0)
        GridMove,   // leaves the grid's current cell unchanged for line `value`, column `field`
        GridList,   // asks for the list of the grid's current cell
    };
    Kind kind = Kind::Escape;
    int field = 0;
    int value = 0;
    std::string text;
    PanelMessage raw;

    static PanelAction type(int field, std::string text) { return {Kind::Text, field, 0, std::move(text), {}}; }
    static PanelAction choose(int field, int value) { return {Kind::Choice, field, value, {}, {}}; }
    static PanelAction check(int field, bool on) { return {Kind::Check, field, on ? 1 : 0, {}, {}}; }
    static PanelAction item(int field, std::string text) { return {Kind::Item, field, 0, std::move(text), {}}; }
    static PanelAction press(int button) { return {Kind::Button, button, 0, {}, {}}; }
    static PanelAction escape() { return {Kind::Escape, 0, 0, {}, {}}; }
    static PanelAction edited(int field) { return {Kind::Edited, field, 0, {}, {}}; }
    static PanelAction message(PanelMessage m) { return {Kind::Raw, 0, 0, {}, m}; }
    // Types into the grid's current cell and leaves it for (line, column), counted from 0.
    static PanelAction grid_type(std::string text, int line, int column) {
        return {Kind::GridLeave, column, line, std::move(text), {}};
    }
    // Leaves the current cell unchanged for (line, column).
    static PanelAction grid_move(int line, int column) { return {Kind::GridMove, column, line, {}, {}}; }
    static PanelAction grid_list() { return {Kind::GridList, 0, 0, {}, {}}; }

    // Sets a field without producing a message (Text, Choice, Check, Item).
    bool is_silent() const { return kind == Kind::Text || kind == Kind::Choice || kind == Kind::Check || kind == Kind::Item; }
    // Applies a silent action to the panel; for the others returns the message it produces.
    PanelMessage apply(Panel& panel) const;
};

class ScriptedUi : public Ui {
public:
    struct Shown {
        int kind = 0;
        std::string text;   // what happened, without its next step
        int answer = 0;
        NextStep next;      // what the person can do next (a notice's)
    };

    ScriptedUi();
    ~ScriptedUi() override;

    // ---- What the person will do ----
    // Answers to questions (kinds 104-109), in order. Without a queued answer a question gets
    // `default_answer` and is counted in unanswered().
    void answer(int code) { answers_.push_back(code); }
    int default_answer = kYes;
    // File chooser results, in order; without one a chooser is cancelled.
    void choose(std::vector<std::string> paths) { choices_.push_back(FileChoice{0, std::move(paths), 0}); }
    void cancel_chooser() { choices_.push_back(FileChoice{1, {}, 0}); }
    // Actions read by modal reads of a panel ("SCREEN/PANEL", any letter case; a run-time
    // window by its title). Without one a modal read escapes and is counted in unanswered().
    void on_panel(const std::string& panel, PanelAction action);
    // An action done on an open panel while the program runs: applied at the `nth` dispatch
    // (counted from 1) at which the panel is open.
    void at_dispatch(int nth, const std::string& panel, PanelAction action);
    // Record picker answers (1-based rows, 0 none), in order; without one, 0.
    void pick(int row) { picks_.push_back(row); }
    // Start-up: whether the main window can be made.
    bool main_window_ok = true;
    bool foreground_ok = true;

    // ---- What the program showed ----
    const std::vector<Shown>& messages() const { return shown_; }
    std::vector<std::string> message_texts() const;
    const std::vector<FileChooser>& choosers() const { return choosers_; }
    const std::vector<ReportDocument>& reports() const { return reports_; }
    const std::vector<ReportDocument>& printed() const { return printed_; }
    const std::vector<std::string>& task_lines() const { return task_lines_; }
    const std::vector<RecordList>& record_lists() const { return lists_; }
    // "open SCREEN/PANEL", "close SCREEN/PANEL", "splash", "main window", "show main window".
    const std::vector<std::string>& events() const { return events_; }
    bool panel_was_opened(const std::string& panel) const;
    int unanswered() const { return unanswered_; }
    int dispatches() const { return pumps_; }
    int beeps() const { return beeps_; }
    // The screen text of a panel when it closed (last one of that name), empty when never.
    std::vector<std::string> last_screen(const std::string& panel) const;

    // ---- Ui ----
    int message(int kind, const std::string& text) override;
    int notice(const Notice& notice) override;
    FileChoice choose_files(const FileChooser& request) override;
    void panel_opened(Panel& panel) override;
    void panel_closed(Panel& panel) override;
    PanelMessage read_panel(Panel& panel) override;
    void pump() override;
    void beep() override { ++beeps_; }
    int list_records(const RecordList& list) override;
    bool show_report(const ReportDocument& report) override;
    bool print_report(const ReportDocument& report) override;
    void task_line(const std::string& text) override { task_lines_.push_back(text); }
    void splash(const std::string& title) override { events_.push_back("splash"); }
    bool create_main_window(const MainWindowDef& def) override;
    bool init_foreground() override { return foreground_ok; }
    void show_main_window() override { events_.push_back("show main window"); }

    MainWindowDef main_window;

protected:
    // Decides a question's answer from the queue (counting unanswered ones).
    int next_answer(int kind);
    // Records a message box and its answer; returns the answer.
    int record(int kind, const std::string& text, int answer, const NextStep& next = {});
    static std::string panel_key(const Panel& panel);

private:
    struct Timed {
        int nth;
        std::string panel;
        PanelAction action;
        int seen = 0;
    };
    std::deque<int> answers_;
    std::deque<FileChoice> choices_;
    std::vector<std::pair<std::string, std::deque<PanelAction>>> panel_actions_;
    std::vector<Timed> timed_;
    std::deque<int> picks_;
    std::vector<Shown> shown_;
    std::vector<FileChooser> choosers_;
    std::vector<ReportDocument> reports_;
    std::vector<ReportDocument> printed_;
    std::vector<std::string> task_lines_;
    std::vector<RecordList> lists_;
    std::vector<std::string> events_;
    std::vector<std::pair<std::string, std::vector<std::string>>> screens_;
    int unanswered_ = 0;
    int pumps_ = 0;
    int beeps_ = 0;
};

}  // namespace dz::ui
