// Our GL module library's entries.
#include "platform/datafile/xio.h"
#include "platform/modlibs/entry_types.h"
#include "platform/modlibs/libraries.h"

namespace dz::modlibs {

namespace {
int gl_rd_header(uint16_t glm, uint16_t header, uint16_t lock) { return xio_rd_header(glm, header, lock); }
}  // namespace

ModuleLibrary gl_library() {
    ModuleLibrary lib{"GL", kOurLibraryVersion, {}};
    lib.entries["GL_RD_HEADER"] = entry_address<entry::GL_RD_HEADER>(&gl_rd_header);
    return lib;
}

}  // namespace dz::modlibs
