// The report hub: the panel from which a person starts a report-producing run. It shows the
// caller's hub panel (with the caller's callback for its own fields and buttons) plus the choice
// of where the report goes, opens the print job, calls the start callback with it, delivers the
// report and calls the end callback. In a background run it starts at once, without a panel.
#pragma once

#include "platform/ui/panel.h"
#include "platform/ui/print.h"

#include <functional>
#include <string>

namespace dz::ui {

// Fields and buttons the hub owns on every hub panel.
inline constexpr int kHubDestinationField = 21;   // choice: 1 file, 2 screen, 3 printer
inline constexpr int kHubFileField = 22;          // the report file for destination 1
inline constexpr int kHubBackgroundField = 23;    // check box: store the run as a background task
inline constexpr int kHubCancelButton = 1;
inline constexpr int kHubStartButton = 3;

struct HubStart {
    int print = 0;            // the print handle of the report; 0 when the run is only stored
};

struct xh_hub_def {
    int command = 0;
    int screen_file = 0;
    std::string screen;       // "CONVERT"; empty: the generic hub panel "HUB"/"HUB"
    std::string panel;        // "HUB"
    std::string process_word; // "conversion"
    std::string report_name;  // "conversion report"
    // The cause said after "Unable to print the <report>" when the report's file could not be
    // written for lack of space; empty: the plain words.
    std::string disk_full_text;
    PrintDef print;
    // Every message of the hub panel goes here first (it may read or draw its own fields).
    std::function<int(Panel& hub, const PanelMessage& m)> on_panel;
    // The run itself, with the open print job; or, when the person ticked "Store as a background
    // task", the storing of the run, without one. Returns 1.
    std::function<int(const HubStart& start, void* user_data)> on_start;
    // Called once at the end, started or not.
    std::function<void(void* user_data)> on_end;
    void* user_data = nullptr;
};

// Runs the hub to its end. Returns the hub panel's handle (closed by then), 0 when no hub panel
// could be shown (the end callback has still been called).
int xh_process_hub(const xh_hub_def& def);

// The report file proposed for a hub ("conversion report" -> "conversion_report.txt").
std::string default_report_file(const std::string& report_name);
// A report file name as typed: one without a folder goes into run_state().report_folder when
// that is set.
std::string report_file_path(const std::string& typed);

}  // namespace dz::ui
