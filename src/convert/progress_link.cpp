#include "convert/platform_links.h"

namespace dz::convert {

void AddProgressMessages(ConvertProgress*, uint32_t) {}
void AddProgressNotes(ConvertProgress*, uint32_t) {}

}  // namespace dz::convert
