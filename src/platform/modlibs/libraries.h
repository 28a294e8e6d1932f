// Our own module libraries, one builder per module, gathered by our_module_libraries().
//
// Adding an entry the program calls:
//   1. its function type in entry_types.h (typed arguments, the result the callers test);
//   2. its thunk in modules/entries.h and .cpp, named as the entry, on a new slot of its module,
//      with the entry's fallback result;
//   3. its implementation here, registered under the entry's export name in the module's builder.
// Adding a module object: a factory returning a ModuleObject, registered by name in an
// ObjectLibrary (e.g. "GLCOMMON", owned by module "GL") added in our_module_libraries().
#pragma once

#include "platform/modlibs/registry.h"

namespace dz::modlibs {

// The version every one of our libraries (and the suite interface) reports: newer than any
// minimum the program asks for.
inline constexpr const char* kOurLibraryVersion = "8.1.0";

ModuleLibrary gl_library();
ModuleLibrary pr_library();
ModuleLibrary jc_library();
ModuleLibrary ap_library();

}  // namespace dz::modlibs
