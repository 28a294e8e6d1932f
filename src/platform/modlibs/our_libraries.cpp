#include "platform/modlibs/gl_fiscal_entity.h"
#include "platform/modlibs/libraries.h"

namespace dz::modlibs {

Registry our_module_libraries() {
    Registry r;
    r.suiteVersion = kOurLibraryVersion;
    // Modules whose entries no caller needs yet are present, so that they load.
    for (const char* code : {"CM", "PM", "AR"}) r.add_library(ModuleLibrary{code, kOurLibraryVersion, {}});
    r.add_library(gl_library());
    r.add_object_library(gl_common_library());
    r.add_library(pr_library());
    r.add_library(jc_library());
    r.add_library(ap_library());
    return r;
}

}  // namespace dz::modlibs
