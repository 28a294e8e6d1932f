// Where the program's shipped data (dictionary, templates, message table) is found.
#pragma once

#include <filesystem>

namespace dz {

// $DODEDOZ_DATA when set, else the data/ folder of the source tree the program was built from.
std::filesystem::path data_folder();

}  // namespace dz
