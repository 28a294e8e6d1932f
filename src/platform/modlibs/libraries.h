// Our own module libraries, one builder per module, gathered by our_module_libraries().
#pragma once

#include "platform/modlibs/registry.h"

namespace dz::modlibs {

// The version every one of our libraries (and the suite interface) reports: newer than any
// minimum the program asks for.
inline constexpr const char* kOurLibraryVersion = "8.1.0";

ModuleLibrary gl_library();
ModuleLibrary pr_library();

}  // namespace dz::modlibs
