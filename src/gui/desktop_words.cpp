#include "gui/desktop_words.h"

#include <string_view>

namespace dz::gui {

namespace {

struct Words {
    std::string_view commandLine, desktop;
};
// The longer phrases first: the last is a part of each of them.
constexpr Words kWords[] = {
    {"run the command again once it has finished", "try again when it has finished"},
    {"run the command again to put them back first", "choose Convert again to put them back first"},
    {"run the command again", "try again"},
};

}  // namespace

std::string DesktopWords(std::string text) {
    for (const Words& w : kWords)
        for (auto at = text.find(w.commandLine); at != std::string::npos; at = text.find(w.commandLine, at + w.desktop.size()))
            text.replace(at, w.commandLine.size(), w.desktop);
    return text;
}

}  // namespace dz::gui
