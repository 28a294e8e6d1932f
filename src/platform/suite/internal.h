// Internals shared by the suite service files; not for callers outside src/platform/suite/.
#pragma once

#include "platform/suite/company.h"

#include <string_view>

namespace dz::suite {

// Points the data-file library's folder lookup at the open company (or clears it).
void install_folder_resolver();

// The open company's settings; empty settings (nothing installed, no formats, no lists)
// while no company is open, so that every service answers "none" rather than failing.
const CompanySettings& active_settings();

// True when a and b are equal ignoring ASCII letter case.
bool equal_nocase(std::string_view a, std::string_view b);

}  // namespace dz::suite
