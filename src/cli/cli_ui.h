// The command line's front end: message boxes on stderr answered by the options below (or by a
// prompt when standard input is a terminal), a one-line progress display on a terminal, reports
// to a file or standard output, and Ctrl-C as the stop request. A sub-command that runs a task
// adds the options with add_ui_options and installs a CliUi for the length of its run.
#pragma once

#include "platform/ui/console_ui.h"

#include <CLI/CLI.hpp>

#include <string>

namespace dz::cli {

struct CliUiOptions {
    std::string on_error;     // "skip" (default) or "end": a file that fails a check
    bool reconvert = false;   // convert again a file converted before
    bool yes = false;         // answer yes to yes/no questions
    bool no = false;          // answer no to yes/no questions (the default)
    std::string report;       // report file; "" or "-" = standard output
};

// What --reconvert says it does: a conversion converts such a file again; a command that only
// reads (examine) reads it again, converting nothing.
inline constexpr const char* kConvertAgainHelp = "Convert again a text file that was converted before";
inline constexpr const char* kReadAgainHelp =
    "Read again a text file that was converted before, as converting it again would (nothing is converted)";

// --on-error, --reconvert (with `reconvertHelp`), --yes, --no, --report.
void add_ui_options(CLI::App& command, CliUiOptions& options, const char* reconvertHelp = kConvertAgainHelp);

class CliUi : public dz::ui::ConsoleUi {
public:
    // Installs itself as the UI in force and Ctrl-C as the stop request.
    explicit CliUi(const CliUiOptions& options);
    ~CliUi() override;
    CliUi(const CliUi&) = delete;
    CliUi& operator=(const CliUi&) = delete;

    // Queues, for the hub panel "SCREEN/HUB", the report destination of --report (the caller
    // then queues its own choices and the Start button).
    void queue_hub_destination(const std::string& hub_panel);

    void pump() override;

private:
    CliUiOptions cli_;
    bool stop_sent_ = false;
};

}  // namespace dz::cli
