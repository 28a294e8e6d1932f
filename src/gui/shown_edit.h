// A stored text is shown and edited with its control characters written out ("\033" for ESC);
// what the person leaves of that form is taken back as the bytes it stands for.
#pragma once

#include <string>
#include <string_view>

namespace dz::gui {

// `stored` as it is after the person turned its shown form into `edited`: the part of the shown
// form they left as it was keeps the bytes it showed (an escape they did not touch stays one
// byte), the part they typed is taken as typed (four characters "\033" typed stay four).
std::string editedBack(std::string_view stored, std::string_view edited);

}  // namespace dz::gui
