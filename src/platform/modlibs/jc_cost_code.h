// Cost codes (key format 18): one to four sections, a group cost code being one whose trailing
// sections are zero. Shared by the JC module library and the JC converters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dz::modlibs {

// The most sections a cost code has.
inline constexpr int kJcMaxCostCodeSections = 4;

// True when `text` is empty or holds only '0' digits and blanks.
bool IsZeroOrBlank(std::string_view text);
// Overwrites every character of `text` with '0', keeping its length.
void ZeroFill(std::string& text);

// The sections in use by the company's cost-code format: one more than xk_num_sections(18),
// at most four.
int JcCostCodeSections();

// The level of a cost code (formatted or not): the number of its leading sections that are not
// zero. Answers true (a group cost code) when the level is below the number of sections; an
// empty or all-zero cost code is a group of level 0.
bool JcCostCodeLevel(const std::string& costCode, uint16_t& level);

}  // namespace dz::modlibs
