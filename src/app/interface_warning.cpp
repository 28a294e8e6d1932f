#include "app/interface_warning.h"

#include "platform/suite/control.h"
#include "platform/ui/panel.h"
#include "platform/ui/run_state.h"
#include "platform/ui/ui.h"

#include <algorithm>

namespace dz::app {

namespace ui = dz::ui;

namespace {

constexpr int kCheckboxField = 1;
constexpr int kYesButton = 11;
constexpr int kNoButton = 12;
constexpr int kCreateButton = 13;
constexpr int kWidth = 50;

// Turned on, not creating entries, and the destination is installed.
bool IsInactive(const std::string& source, const std::string& destination) {
    dz::suite::xc_interface_def def;
    def.source = source.substr(0, 3);
    def.destination = destination.substr(0, 3);
    return dz::suite::xc_get_interface_def(def) && def.createEntries == 0 &&
           dz::suite::xa_appl_installed(destination) != 0;
}

std::string AppName(const std::string& code) {
    std::string name;
    if (dz::suite::xa_get_zq_apl(code, name) && !name.empty()) return name;
    return code;
}

void Close(ui::Panel& window, InterfaceWarningState& state, bool result) {
    state.result = result;
    state.answered = true;
    ui::xw_close_panel(window.handle());
}

}  // namespace

bool CheckInterfaceWarning(const std::string& source, const std::string& destination, int securityOption) {
    if (ui::InBackground() || ui::MacroStatus() == ui::kMacroPlayback) return true;
    dz::suite::x_zq_dst_info record;
    const int count = dz::suite::xa_get_zq_dst(1, record, source, destination);
    if (count < 1) return true;
    const bool allowed = securityOption != 0 &&
                         dz::suite::xs_option_allowed(securityOption / 1000, securityOption % 1000, source) != 0;
    return WarnInactiveInterfaces(count, {{record.source, record.destination}}, allowed);
}

bool WarnInactiveInterfaces(int count, const std::vector<std::pair<std::string, std::string>>& records, bool allowed) {
    InterfaceWarningState state;
    for (int i = 0; i < count && i < static_cast<int>(records.size()); ++i) {
        const auto& [source, destination] = records[static_cast<std::size_t>(i)];
        state.destinations.push_back(destination);
        if (IsInactive(source, destination)) state.inactive.push_back(destination);
    }
    if (state.inactive.empty()) return true;
    state.source = records.front().first;
    state.destination = records.front().second;
    state.createAllowed = allowed;
    state.result = true;
    return ShowInterfaceWarning(state);
}

bool ShowInterfaceWarning(InterfaceWarningState& state) {
    const int rows = static_cast<int>(state.inactive.size()) + 8;
    // Fifty columns, or wider when the longest line would be cut (long application names).
    std::size_t longest = std::string("are turned on, but entries are not being created:").size();
    const std::string source = AppName(state.source);
    if (state.inactive.size() == 1)
        longest = std::max(longest, std::string("The interface from  to ").size() + source.size() +
                                        AppName(state.inactive.front()).size());
    else
        longest = std::max(longest, std::string("The following interfaces from ").size() + source.size());
    const int cols = std::max(kWidth, static_cast<int>(longest) + 4);
    const int h = ui::xw_open_window(kInterfaceWarningTitle, rows, cols, InterfaceWarningProc, &state,
                                     ui::EventStyle::Direct);
    if (!h) return state.result;
    ui::xw_run_modal(h);
    if (ui::xw_find_panel(h)) ui::xw_close_panel(h);
    return state.result;
}

int InterfaceWarningProc(ui::Panel& window, const ui::PanelMessage& m) {
    auto* state = static_cast<InterfaceWarningState*>(window.data());
    if (!state) return 1;
    if (m.msg == ui::kMsgOpen) {
        DrawInterfaceWarning(window, *state);
    } else if (m.msg == ui::kMsgButton && m.key == kYesButton) {
        ReadWarningCheckbox(window);
        Close(window, *state, true);
    } else if (m.msg == ui::kMsgButton && m.key == kNoButton) {
        Close(window, *state, false);
    } else if (m.msg == ui::kMsgButton && m.key == kCreateButton && state->createAllowed) {
        if (ActivateInterfaces(*state)) {
            RecheckInterfaces(window, *state);
            Close(window, *state, true);
        } else {
            // The person can still answer Yes or No; the window says why nothing changed.
            const int row = static_cast<int>(state->inactive.size()) + 6;
            window.write_text(row, 3, "Not done: " + state->failure, window.cols());
            ui::xw_beep();
            ui::xw_refresh();
        }
    } else if (m.msg == ui::kMsgEscape) {
        Close(window, *state, false);
    }
    return 1;
}

void DrawInterfaceWarning(ui::Panel& window, InterfaceWarningState& state) {
    const int n = static_cast<int>(state.inactive.size());
    ui::FieldDef box;
    box.number = kCheckboxField;
    box.kind = ui::FieldKind::Check;
    box.row = n + 5;
    box.col = 3;
    box.width = 32;
    box.label = "Don't display warning in future";
    box.disabled = true;
    window.add_field(box);

    const int buttonRow = n + 8;
    window.draw_button(ui::ButtonDef{kYesButton, "~Yes", buttonRow, 3, 10, 1, false, false});
    window.draw_button(ui::ButtonDef{kNoButton, "~No", buttonRow, 15, 10, 1, false, false});
    if (state.createAllowed)
        window.draw_button(ui::ButtonDef{kCreateButton, "~Create Entries", buttonRow, 27, 18, 1, false, false});

    state.sourceName = AppName(state.source);
    if (n == 1)
        window.write_text(2, 3, "The interface from " + state.sourceName + " to " + AppName(state.inactive.front()));
    else
        window.write_text(2, 3, "The following interfaces from " + state.sourceName);
    window.write_text(3, 3, std::string(n == 1 ? "is " : "are ") + "turned on, but entries are not being created" +
                                (n == 1 ? "." : ":"));
    if (n > 1)
        for (int i = 0; i < n; ++i) window.write_text(4 + i, 7, AppName(state.inactive[static_cast<std::size_t>(i)]));
    window.write_text(n + 7, 3, "Continue?");
    window.set_active_field(kCheckboxField);
    ui::xw_refresh();
}

bool ActivateInterfaces(InterfaceWarningState& state) {
    if (dz::suite::xc_open_control_file(1) == dz::suite::kControlFileFailed) {
        state.failure = "the control file cannot be opened.";
        return false;
    }
    bool ok = true;
    for (const auto& destination : state.inactive) {
        dz::suite::xc_interface_def def;
        def.source = state.source.substr(0, 3);
        def.destination = destination.substr(0, 3);
        dz::suite::xc_get_interface_def(def);
        def.createEntries = 1;
        if (!dz::suite::xc_activate_interface(def)) {
            ok = false;
            state.failure = "the " + destination + " interface cannot be set.";
            break;
        }
    }
    if (ok && !dz::suite::xc_wr_control_file()) {
        ok = false;
        state.failure = "the control file cannot be written.";
    }
    dz::suite::xc_cls_control_file();
    return ok;
}

bool RecheckInterfaces(ui::Panel& window, InterfaceWarningState& state) {
    state.inactive.clear();
    for (const auto& destination : state.destinations)
        if (IsInactive(state.source, destination)) state.inactive.push_back(destination);
    if (!state.inactive.empty()) {
        window.remove_field(kCheckboxField);
        window.clear();
        DrawInterfaceWarning(window, state);
    }
    return true;
}

bool ReadWarningCheckbox(ui::Panel& window) { return window.checked(kCheckboxField); }

}  // namespace dz::app
