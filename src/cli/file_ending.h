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

// Empty for a file that ran to its end. The path stays on its line whatever it holds.
inline std::string FileEndingLine(const dz::app::FileOutcome& o) {
    const std::string ending = dz::app::EndingSummary(o);
    if (ending.empty()) return {};
    return dz::ui::console_text(dz::ui::with_step("dodedoz: " + dz::ui::shown_text(o.entry.path) + ": " + ending,
                                                  o.endedNext, dz::ui::Voice::CommandLine));
}

}  // namespace dz::cli
