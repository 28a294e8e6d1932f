// The line that says how a text file ended early, on standard error: its path, what it read
// and kept and what ended it, then what to do next. The same for every command that runs files
// (convert, examine, replay, run).
#pragma once

#include "app/driver.h"
#include "platform/ui/console_ui.h"
#include "platform/ui/next_step.h"
#include "platform/ui/shown_text.h"

#include <string>

namespace dz::cli {

// Empty for a file that ran to its end. The path stays on its line whatever it holds. The next
// step follows unless `ui` has said it already in this command (several files that ended for one
// cause share it).
inline std::string FileEndingLine(const dz::app::FileOutcome& o, dz::ui::ConsoleUi& ui) {
    const std::string ending = dz::app::EndingSummary(o);
    if (ending.empty()) return {};
    const std::string line = "dodedoz: " + dz::ui::shown_text(o.entry.path) + ": " + ending;
    return dz::ui::console_text(
        ui.first_saying(o.endedNext) ? dz::ui::with_step(line, o.endedNext, dz::ui::Voice::CommandLine) : line);
}

}  // namespace dz::cli
