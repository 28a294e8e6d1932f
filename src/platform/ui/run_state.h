// How the program is running: interactively, in the background, or recording or playing back
// a macro; and whether the person or the system asked a background run to end.
#pragma once

#include <csignal>
#include <string>
#include <vector>

namespace dz::ui {

enum MacroState : int {
    kMacroNone = 0,
    kMacroRecord = 1,
    kMacroChange = 2,
    kMacroPlayback = 3,
};

struct RunState {
    bool in_background = false;
    int macro_status = kMacroNone;
    unsigned code = 0;                // bit 0: a company setting read by the JC transaction run
    std::vector<int> steps;           // command numbers that a background/playback start runs
    std::string report_path;          // a background run's report file ("" default name, "-" screen)
    // Where a report file goes by default, and a report name typed without a folder: the folder
    // last written to, else the company's (the desktop sets it). "" the working folder.
    std::string report_folder;
};

RunState& run_state();
// Restores the interactive defaults and clears a terminate request (tests).
void reset_run_state();

bool InBackground();
// Non-zero when the run is to end (a background run that was told to stop).
int CheckTerminate();
int MacroStatus();
unsigned Code();

// Asks a running background job to end; safe to call from a signal handler.
void request_terminate();
void clear_terminate();

}  // namespace dz::ui
