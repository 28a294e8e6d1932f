// What a person does next, in the desktop's words. The data-file layer says it as the command
// line does ("run the command again once it has finished"); the desktop has no command to run
// again, so its message boxes say it the desktop's way.
#pragma once

#include <string>

namespace dz::gui {

std::string DesktopWords(std::string text);

}  // namespace dz::gui
