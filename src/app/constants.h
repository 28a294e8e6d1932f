// Read-only values shared across the program. They live as long as the program and nothing
// changes them; a caller that needs a changed text copies it first.
#pragma once

#include "platform/import/xvl_rcstring.h"

#include <string>

namespace dz::app {

// The empty text, wherever a text argument has nothing to say.
inline const std::string EmptyString;
// Passed for every replacement of a message that the message does not use, so that a call
// always supplies all eight.
inline const std::string ReplacementNotSet{dz::xvl::xvlRCString::NotSet};
// The group name given to template dependencies that the AP conversion declares.
inline const std::string EndGroup = "__END_GROUP";
// Written into three text fields of each cash-management transaction the AP conversion creates.
inline const std::string DoesNotApply = "Does Not Apply";

}  // namespace dz::app
