// The command line's way of facing a person: message boxes are printed to the error stream and
// answered by options given in advance or, when a prompt reader is set (standard input is a
// terminal), by asking; nothing ever waits when there is no reader. A progress panel becomes
// one line redrawn in place on a terminal; reports sent to the screen go to the output stream.
// Panels read modally take the actions queued for them (see ScriptedUi) and are cancelled
// otherwise.
#pragma once

#include "platform/ui/scripted_ui.h"

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace dz::ui {

struct ConsoleOptions {
    // A file that fails a check (kind 105) or was converted before (kind 109, unless `again`):
    // skip it, or end the run. The command line skips unless told to end.
    bool skip_problem_files = false;
    // Kind 109: go ahead with a file converted before.
    bool again = false;
    // Yes/no questions (104, 107, 108): the answer when nobody is asked. Unset: no.
    std::optional<bool> yes;
    // Show the progress line (only sensible on a terminal).
    bool progress_line = false;
    // Seconds on a clock that never goes back, for the progress line's pace and elapsed time.
    // Unset: the steady clock.
    std::function<double()> clock;
    // The terminal's width in columns, asked at each drawing (a terminal can be resized); the
    // progress line is made to fit it. Unset or 0: the full line.
    std::function<int()> columns;
};

// The progress line's parts, fitted into `columns` (0: no limit) by dropping, in this order,
// the pace, the elapsed time, the word "records", then narrowing the bar and the name, then the
// bar and the count; the percentage stays longest. Never
// wider than columns - 1, so that a terminal does not wrap it.
std::string fit_progress_line(std::string name, int percent, const std::string& records, const std::string& elapsed,
                              const std::string& pace, int columns);

class ConsoleUi : public ScriptedUi {
public:
    // Reads one answer line; nullopt at end of input.
    using PromptReader = std::function<std::optional<std::string>(const std::string& prompt)>;

    ConsoleUi(ConsoleOptions options, std::ostream& out, std::ostream& err);
    ~ConsoleUi() override;

    // Set when a person can be asked (standard input is a terminal). Options given
    // explicitly still answer without asking.
    void set_prompt_reader(PromptReader reader) { reader_ = std::move(reader); }
    ConsoleOptions& options() { return options_; }

    int message(int kind, const std::string& text) override;
    // Printed with its next step in the command line's words.
    int notice(const Notice& notice) override;
    PanelMessage read_panel(Panel& panel) override;
    void panel_opened(Panel& panel) override;
    void panel_changed(Panel& panel) override;
    void panel_closed(Panel& panel) override;
    bool show_report(const ReportDocument& report) override;
    bool print_report(const ReportDocument& report) override;
    void task_line(const std::string& text) override;

    // Draws the progress line a last time, as the panel stands, and ends it, and writes the last
    // line of a count not written yet (rows saved): for a front end that prints its own lines (a
    // file's summary, a save's totals) after them.
    void close_progress_line();
    // Wipes the progress line off the terminal, for lines written to the same terminal (a report
    // sent to the screen): it is drawn again below them at its next change.
    void erase_progress_line();

    // True when `next` is a step not said yet in this command, which from now on counts as said:
    // a step several files share is said with the first, not repeated with each.
    bool first_saying(const NextStep& next);

    // Whether a yes/no option was given explicitly (then no prompt is shown).
    bool yes_given = false;
    bool problem_given = false;

private:
    int say(int kind, const std::string& printed, const std::string& text, const NextStep& next);
    int decide(int kind);
    int ask(int kind);
    void end_progress_line();
    void flush_task_line();
    void start_progress(Panel& panel);
    void draw_progress(Panel& panel, bool final);

    ConsoleOptions options_;
    std::ostream& out_;
    std::ostream& err_;
    PromptReader reader_;
    bool progress_shown_ = false;
    // The progress line of the panel being shown: when it opened and was last drawn, what the
    // last drawing showed and how wide it was.
    int progress_panel_ = 0;
    double progress_start_ = 0;
    double progress_drawn_at_ = 0;
    std::string progress_drawn_;
    std::size_t progress_width_ = 0;
    // The run of task lines being written: their text without its numbers, when one was last
    // written, and the latest not written yet.
    std::string task_stem_;
    double task_printed_at_ = 0;
    std::string task_pending_;
    // The next steps said so far: each is said once in a command, where it first comes.
    std::vector<NextStep> steps_said_;
};

// A message text as printed: "\r" line breaks become new lines, and other control characters
// are shown escaped ("\033").
std::string console_text(const std::string& text);

}  // namespace dz::ui
