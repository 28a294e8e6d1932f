// Reads the #include lines of the program's sources and reports every one that runs up the
// layers. The layers, lowest first: platform; tables and modules; convert; converters; app;
// cli and gui. A file may include its own layer's folders and any lower layer, never a higher
// layer nor a neighbour on its own level (tables and modules, cli and gui, know nothing of each
// other; no converter folder includes another). Only gui may include Qt.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace dz::layers {

struct Violation {
    std::string file;     // relative to the scanned source folder
    int line = 0;
    std::string target;   // what the line includes
    std::string reason;
};

// The level of a source folder ("convert", "converters", ...): 0 for platform up to 5 for cli
// and gui; -1 for a folder that belongs to no layer.
int LayerLevel(const std::string& folder);

// Every offending include of one file, `relative` to `srcRoot`.
std::vector<Violation> ScanFile(const std::filesystem::path& srcRoot, const std::filesystem::path& relative);
// Every offending include under `srcRoot` (the folder holding platform/, convert/, ...), and
// every source in a folder that belongs to no layer.
std::vector<Violation> ScanTree(const std::filesystem::path& srcRoot);

}  // namespace dz::layers
