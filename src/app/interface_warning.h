// Interface warnings. An interface between two modules can be turned on in the control file
// while its entry creation is off; a conversion that would write data whose entries would then
// be missed asks first. When such interfaces exist, the modal "Interface Warning" window lists
// them and the person continues (~Yes), stops (~No, or escape) or, when the security option
// allows, turns entry creation on (~Create Entries) and continues.
#pragma once

#include <string>
#include <vector>

namespace dz::ui {
class Panel;
struct PanelMessage;
}  // namespace dz::ui

namespace dz::app {

struct InterfaceWarningState {
    std::string source;                         // "AP"
    std::string sourceName;                     // "Accounts Payable"
    std::string destination;                    // the first destination met
    std::vector<std::string> destinations;      // every destination met
    std::vector<std::string> inactive;          // destinations turned on without entry creation
    bool result = true;
    bool createAllowed = false;
    bool answered = false;
    std::string failure;                        // why "Create Entries" did not work, shown in the window
};

// True to go on; false when the person chose not to continue. `securityOption` is the group
// times 1000 plus the option (1160: option 160 of group 1), 0 when entries may never be created
// from here.
bool CheckInterfaceWarning(const std::string& source, const std::string& destination, int securityOption);

// The steps, for tests.
bool WarnInactiveInterfaces(int count, const std::vector<std::pair<std::string, std::string>>& records, bool allowed);
bool ShowInterfaceWarning(InterfaceWarningState& state);
int InterfaceWarningProc(dz::ui::Panel& window, const dz::ui::PanelMessage& m);
void DrawInterfaceWarning(dz::ui::Panel& window, InterfaceWarningState& state);
// Sets the entry-creation flag of every inactive interface and writes the control file; false
// (with state.failure set) when the control file cannot be opened, read or written.
bool ActivateInterfaces(InterfaceWarningState& state);
bool RecheckInterfaces(dz::ui::Panel& window, InterfaceWarningState& state);
bool ReadWarningCheckbox(dz::ui::Panel& window);

inline constexpr const char* kInterfaceWarningTitle = "Interface Warning";

}  // namespace dz::app
