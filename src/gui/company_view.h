// The company the desktop works in: the one named at start (--company, $DODEDOZ_COMPANY) or one
// chosen later with File > Open Company..., and what the main window shows of it.
#pragma once

#include <string>

namespace dz::gui {

class MainWindow;

// Opens the company in `folder`. A settings file that cannot be used is reported in a message
// box, and the company open before (if any) stays open.
bool openCompany(const std::string& folder);

// Shows the open company in `w` (when there is a window): its folder at the status bar's right
// and the program's own menus on; without a company those menus stay off, since every task needs
// one. Reports of the company go where its last report went, else into its folder.
void showCompany(MainWindow* w);

}  // namespace dz::gui
