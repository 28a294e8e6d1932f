// The company the desktop works in: the one named at start (--company, $DODEDOZ_COMPANY) or one
// chosen later with File > Open Company..., and what the main window shows of it.
#pragma once

#include <string>

namespace dz::gui {

class MainWindow;

// Messages of the desktop's refusals of a company folder (the folder, then the cause where there is one).
inline constexpr int kCompanyNotFound = 13320;     // no such folder
inline constexpr int kCompanyNotReadable = 13321;  // the user may not read it or its settings
inline constexpr int kCompanyNotACompany = 13322;  // a folder (or file) without company settings
inline constexpr int kCompanyNotOpened = 13323;    // any other cause, named after it

// Why `folder` cannot be opened as a company, in the desktop's words: not found, permission
// denied, not a company; empty when it may be opened (its settings are read then).
std::string companyFolderRefusal(const std::string& folder);

// Opens the company in `folder`. A settings file that cannot be used is reported in a message
// box, and the company open before (if any) stays open.
bool openCompany(const std::string& folder);

// File > Open Company...: opens the company in `folder` as openCompany does and, when it is
// another than the one open before, closes that company's report windows: a report left open
// would be read as one of the new company. False (all left as it was) when it was refused.
bool switchCompany(const std::string& folder, MainWindow* w);

// Shows the open company in `w` (when there is a window): its folder at the status bar's right
// and the program's own menus on; without a company those menus stay off, since every task needs
// one. Reports of the company go where its last report went, else into its folder.
void showCompany(MainWindow* w);

}  // namespace dz::gui
