#include "layer_scan.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <regex>

namespace dz::layers {
namespace fs = std::filesystem;

namespace {

std::string FirstPart(const fs::path& relative) {
    return relative.empty() ? std::string() : relative.begin()->string();
}

// The module folder under converters/ ("gl" of converters/gl/xvglm.h); empty elsewhere.
std::string ConverterFolder(const fs::path& relative) {
    if (FirstPart(relative) != "converters") return {};
    auto it = relative.begin();
    return ++it == relative.end() ? std::string() : it->string();
}

bool IsSource(const fs::path& p) {
    const std::string ext = p.extension().string();
    return ext == ".h" || ext == ".hpp" || ext == ".cpp" || ext == ".cc";
}

// Qt's headers: <QWidget>, <QtCore/QString>, <qglobal.h> is not used by the program.
bool IsQt(const std::string& target) {
    if (target.size() < 2 || target[0] != 'Q') return false;
    return std::isupper(static_cast<unsigned char>(target[1])) || target[1] == 't';
}

}  // namespace

int LayerLevel(const std::string& folder) {
    if (folder == "platform") return 0;
    if (folder == "tables" || folder == "modules") return 1;
    if (folder == "convert") return 2;
    if (folder == "converters") return 3;
    if (folder == "app") return 4;
    if (folder == "cli" || folder == "gui") return 5;
    return -1;
}

std::vector<Violation> ScanFile(const fs::path& srcRoot, const fs::path& relative) {
    std::vector<Violation> out;
    const std::string from = FirstPart(relative);
    const int level = LayerLevel(from);
    std::ifstream in(srcRoot / relative);
    static const std::regex kInclude(R"(^\s*#\s*include\s*([<"])([^">]+)[">])");
    std::string text;
    int lineNo = 0;
    while (std::getline(in, text)) {
        ++lineNo;
        std::smatch m;
        if (!std::regex_search(text, m, kInclude)) continue;
        const bool quoted = m[1] == "\"";
        const std::string target = m[2];
        if (IsQt(target)) {
            if (from != "gui") out.push_back({relative.generic_string(), lineNo, target, "Qt outside gui"});
            continue;
        }
        // A project header: named from src/, or (quoted) beside the including file.
        fs::path named = fs::path(target).lexically_normal();
        if (quoted) {
            fs::path beside = (relative.parent_path() / target).lexically_normal();
            if (!beside.empty() && FirstPart(beside) != ".." && fs::exists(srcRoot / beside)) named = beside;
        }
        const std::string to = FirstPart(named);
        const int toLevel = LayerLevel(to);
        if (to == from && to == "converters" && ConverterFolder(named) != ConverterFolder(relative)) {
            // Converters share what they share through convert/, never through each other.
            out.push_back({relative.generic_string(), lineNo, target, "includes another converter's folder"});
            continue;
        }
        if (toLevel < 0 || to == from) continue;  // a system header, or the file's own layer folder
        if (toLevel > level)
            out.push_back({relative.generic_string(), lineNo, target, "runs up the layers"});
        else if (toLevel == level)
            out.push_back({relative.generic_string(), lineNo, target, "includes a neighbour on its own level"});
    }
    return out;
}

std::vector<Violation> ScanTree(const fs::path& srcRoot) {
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(srcRoot))
        if (e.is_regular_file() && IsSource(e.path())) files.push_back(fs::relative(e.path(), srcRoot));
    std::sort(files.begin(), files.end());
    std::vector<Violation> out;
    for (const auto& f : files) {
        if (LayerLevel(FirstPart(f)) < 0) {
            out.push_back({f.generic_string(), 0, "", "in a folder that belongs to no layer"});
            continue;
        }
        auto found = ScanFile(srcRoot, f);
        out.insert(out.end(), found.begin(), found.end());
    }
    return out;
}

}  // namespace dz::layers
