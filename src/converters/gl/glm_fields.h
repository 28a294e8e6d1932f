// Small helpers the GL master handlers share: fields of the GL master buffer by name, the GL
// account format's sections, record-ID lookups of earlier records of the same text file, and
// message texts with their Convert / Examine Files word pairs.
#pragma once

#include "convert/lookups.h"
#include "convert/record_fields.h"
#include "converters/gl/xvglm.h"
#include "platform/datafile/x_value.h"

#include <cstdint>
#include <string>

namespace dz::gl {

// Forgets the field numbers and the account format's layout kept so far.
void ForgetFieldNumbers();

// ---- The GL account format (custom description 9) -------------------------------------------
// Section `section` of an unformatted (or formatted) account value.
std::string AccountSection(const std::string& account, int section);
// The number of prefix levels in use (0 to 3), as xk_num_sections answers for the account format.
int PrefixLevels();

}  // namespace dz::gl
