#include "platform/datafile/data_folder.h"

#include <cstdlib>

namespace dz {

std::filesystem::path data_folder() {
    if (const char* env = std::getenv("DODEDOZ_DATA"); env && *env) return env;
    return DZ_SOURCE_DATA_DIR;
}

}  // namespace dz
