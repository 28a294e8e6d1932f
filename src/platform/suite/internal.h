// Internals shared by the suite service files; not for callers outside src/platform/suite/.
#pragma once

#include "platform/suite/company.h"
#include "platform/suite/zc.h"

#include <functional>
#include <string_view>

namespace dz::suite {

// Points the data-file library's folder lookup at the open company (or clears it).
void install_folder_resolver();

// The open company's settings; empty settings (nothing installed, no formats, no lists)
// while no company is open, so that every service answers "none" rather than failing.
const CompanySettings& active_settings();

// Changes the company's settings file under the company lock: the file is re-read (another
// program may have changed it), `change` is applied to what was read, the result is written,
// and `adopt` copies the changed parts into the open company's settings. Only those parts
// move into memory, so settings in use never change under a running conversion. `change`
// answers false to leave the file as it is (nothing is written or adopted). False when the
// file cannot be read or written, or `change` declined; `failure` (when given) then says why
// (its error 0 when `change` declined).
bool update_settings_file(Company& company, const std::function<bool(CompanySettings& disk)>& change,
                          const std::function<void(const CompanySettings& disk, CompanySettings& mem)>& adopt,
                          SettingsFailure* failure = nullptr);

// True when a and b are equal ignoring ASCII letter case.
bool equal_nocase(std::string_view a, std::string_view b);

}  // namespace dz::suite
