#include "platform/ui/hub.h"

#include "platform/ui/framework.h"
#include "platform/ui/full_output.h"
#include "platform/ui/run_state.h"
#include "platform/ui/ui.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace dz::ui {
namespace {

bool is_accept(const Panel& p, const PanelMessage& m) {
    return m == p.button_message(kHubStartButton);
}

bool is_cancel(const Panel& p, const PanelMessage& m) {
    return m == p.escape_message() || m == p.button_message(kHubCancelButton);
}

// Opens the print job for the chosen destination; 0 when it cannot be opened.
int open_report(const xh_hub_def& def, Destination dest, const std::string& path) {
    return xp_open_print(def.print, dest, path);
}

std::string describe(Destination d, const std::string& path) {
    switch (d) {
    case Destination::Screen: return "the screen";
    case Destination::Printer: return "the printer";
    default: return path;
    }
}

// A report file that is there and is no regular file: a device, a pipe.
bool is_device(const std::string& path) {
    std::error_code ec;
    const auto st = std::filesystem::status(path, ec);
    return !ec && std::filesystem::exists(st) && !std::filesystem::is_regular_file(st);
}

int run_started(const xh_hub_def& def, Destination dest, const std::string& path) {
    // A printed report that cannot be printed is kept in the report folder instead.
    const std::string kept = dest == Destination::Printer ? default_report_file(def.report_name) : path;
    int print = open_report(def, dest, kept);
    if (!print) {
        xw_wr_message(kError, "Unable to create the report file " + path + ".");
        return 0;
    }
    if (def.on_start) def.on_start(HubStart{print}, def.user_data);
    const std::string name = def.report_name.empty() ? std::string("report") : def.report_name;
    // A failure the run ended with was said then, with what to do: it is not said twice.
    const bool said = xp_failure_said(print);
    const NextStep step = xp_failure_step(print);
    const int closed = xp_close_print(print);
    if (closed == kPrintKept) {
        std::error_code ec;
        const auto where = std::filesystem::absolute(kept, ec);
        xw_wr_message(kWarning, "The " + name + " was not printed. It is shown on the screen and kept in " +
                                    (ec ? kept : where.lexically_normal().string()) + ".");
    }
    else if (closed != 0 && !said) {
        // A device that took no more answers in its own words: it is no disk to be out of space.
        if (closed == kPrintDiskFull && about_device(step))
            xw_wr_message(kError, "Unable to print the " + name + ": " + std::strerror(ENOSPC), step);
        else if (closed == kPrintDiskFull && !def.disk_full_text.empty())
            xw_wr_message(kError, "Unable to print the " + name + ": " + def.disk_full_text, step);
        else
            current().notice(Notice{kError, "Unable to print the " + name + " to " + describe(dest, path) + ".", {},
                                    dest == Destination::Screen});
    }
    return print;
}

}  // namespace

std::string default_report_file(const std::string& report_name) {
    std::string name = report_name.empty() ? std::string("report") : report_name;
    std::replace(name.begin(), name.end(), ' ', '_');
    return report_file_path(name + ".txt");
}

std::string report_file_path(const std::string& typed) {
    const std::string& folder = run_state().report_folder;
    if (folder.empty() || typed.empty() || typed == "-") return typed;
    const std::filesystem::path p(typed);
    return p.is_absolute() ? typed : (std::filesystem::path(folder) / p).lexically_normal().string();
}

int xh_process_hub(const xh_hub_def& def) {
    // A background run or a played-back macro has nobody to ask: it starts at once, its report
    // going to a file.
    if (InBackground() || MacroStatus() == kMacroPlayback) {
        // A background run's report goes to run_state().report_path: "-" is the screen (standard
        // output on the command line), "" the default file name.
        const std::string& wanted = run_state().report_path;
        if (wanted == "-")
            run_started(def, Destination::Screen, "");
        else
            run_started(def, Destination::File, wanted.empty() ? default_report_file(def.report_name) : wanted);
        if (def.on_end) def.on_end(def.user_data);
        return 0;
    }

    std::string screen = def.screen.empty() ? std::string("HUB") : def.screen;
    std::string panel = def.panel.empty() ? std::string("HUB") : def.panel;
    auto proc = [&def](Panel& p, const PanelMessage& m) {
        return def.on_panel ? def.on_panel(p, m) : 1;
    };
    int hub = xw_show_panel(def.screen_file, screen, panel, proc, def.user_data, def.command);
    if (!hub) {
        xw_wr_message(kError, "Unable to show the " + screen + " " + panel + " panel.");
        if (def.on_end) def.on_end(def.user_data);
        return 0;
    }
    if (Panel* p = xw_find_panel(hub)) {
        if (p->has_field(kHubDestinationField) && p->choice(kHubDestinationField) == 0)
            p->set_choice(kHubDestinationField, static_cast<int>(Destination::File));
        if (p->has_field(kHubFileField) && p->text(kHubFileField).empty())
            p->set_text(kHubFileField, default_report_file(def.report_name));
        if (!def.process_word.empty() && p->title().empty()) p->set_title("Start " + def.process_word);
    }

    // The report file is asked for only while the report goes to a file.
    auto fileFieldFollows = [](Panel& p) {
        if (p.has_field(kHubFileField) && p.has_field(kHubDestinationField))
            p.disable_field(kHubFileField, p.choice(kHubDestinationField) != static_cast<int>(Destination::File));
    };
    if (Panel* p = xw_find_panel(hub)) fileFieldFollows(*p);
    for (;;) {
        PanelMessage m = xw_rd_panel(hub);
        Panel* p = xw_find_panel(hub);
        if (!p) break;  // closed by its callback
        p->proc()(*p, m);
        p = xw_find_panel(hub);
        if (!p) break;
        fileFieldFollows(*p);
        if (is_cancel(*p, m)) break;
        if (!is_accept(*p, m)) continue;

        // Storing the run as a background task is the command's choice from here on.
        if (p->has_field(kHubBackgroundField) && p->checked(kHubBackgroundField))
            if (zqApplication* app = zqApplication::instance())
                if (zqTask* task = app->FindTask(def.command)) task->SetAllowBackground(true);
        const bool stored = (p->has_field(kHubBackgroundField) && p->checked(kHubBackgroundField)) ||
                            MacroStatus() == kMacroRecord || MacroStatus() == kMacroChange;
        if (stored) {
            // Stored, not run (a background task, a recorded step): no report is made now, and
            // the last one stays as it is.
            p->set_hidden(true);
            xw_refresh();
            if (def.on_start) def.on_start(HubStart{0}, def.user_data);
            break;
        }
        int choice = p->has_field(kHubDestinationField) ? p->choice(kHubDestinationField) : 1;
        Destination dest = choice == 2   ? Destination::Screen
                           : choice == 3 ? Destination::Printer
                                         : Destination::File;
        std::string path = report_file_path(p->text(kHubFileField));
        if (dest == Destination::File && path.empty()) path = default_report_file(def.report_name);
        p->set_hidden(true);
        xw_refresh();
        if (run_started(def, dest, path) == 0) {
            // The report could not be opened: back to the hub.
            if (Panel* again = xw_find_panel(hub)) again->set_hidden(false);
            continue;
        }
        // The folder chosen is where the next report goes by default; a device's folder (a
        // report sent to /dev/null or /dev/full) is no place to make the next report in.
        if (dest == Destination::File && !run_state().report_folder.empty() && !is_device(path)) {
            const auto folder = std::filesystem::path(path).parent_path();
            if (!folder.empty()) run_state().report_folder = folder.string();
        }
        break;
    }
    xw_close_panel(hub);
    if (def.on_end) def.on_end(def.user_data);
    return hub;
}

}  // namespace dz::ui
