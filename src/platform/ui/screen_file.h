// The program's screen file: every panel it shows, described as data (data/screens/<name>.toml)
// so that the desktop and the command line draw the same panels.
#pragma once

#include "platform/ui/panel.h"

#include <filesystem>
#include <string>
#include <vector>

namespace dz::ui {

struct ScreenFile {
    std::string name;                 // "XV"
    std::vector<PanelDef> panels;
    // Screen and panel names compare without regard to letter case.
    const PanelDef* find(const std::string& screen, const std::string& panel) const;
};

// Reads a screen file. Throws std::runtime_error naming the file and what is wrong with it.
ScreenFile load_screen_file(const std::filesystem::path& path);
ScreenFile parse_screen_file(const std::string& text, const std::string& name);

// Where screen files are found: set by the application at start-up; until then
// $DODEDOZ_DATA/screens.
void set_screens_folder(const std::filesystem::path& folder);
std::filesystem::path screens_folder();

inline constexpr int kNoScreenFile = 0xFFFF;

// Opens screen file `name` (e.g. "XV" reads XV.toml). Returns its handle, kNoScreenFile when it
// is missing or unreadable (the reason goes to stderr).
int xw_open_screen_file(const std::string& name);
void xw_cls_screen_file(int handle);
// The open screen file with this handle; nullptr when none.
const ScreenFile* xw_screen_file(int handle);
// The panel description, searched in `handle` or, when that is not open, in every open file.
const PanelDef* xw_find_panel_def(int handle, const std::string& screen, const std::string& panel);

}  // namespace dz::ui
