// The run's list of open data files, which the driver owns and every converter reads and
// extends. Its entries are the import library's `file_num_map`, so a template binds to the same
// list.
#pragma once

#include "platform/import/xvl_template.h"

#include <cstdint>
#include <string>
#include <vector>

namespace dz::convert {

using dz::file_num_map;
using OpenFilesList = std::vector<file_num_map>;

// The handle of the first entry with that file number and abbreviation (exact) and a handle;
// 0 when there is none.
uint16_t FindFileHandle(const OpenFilesList& list, const std::string& abbr, uint16_t fileNo);
// Sets the handle of the first entry with that file number and abbreviation; false when none.
bool RebindFileHandle(OpenFilesList& list, const std::string& abbr, uint16_t fileNo, uint16_t handle);

}  // namespace dz::convert
