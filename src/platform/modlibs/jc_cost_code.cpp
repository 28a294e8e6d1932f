#include "platform/modlibs/jc_cost_code.h"

#include <algorithm>

#include "platform/suite/xk.h"

namespace dz::modlibs {

bool IsZeroOrBlank(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c == '0' || c == ' '; });
}

void ZeroFill(std::string& text) { std::fill(text.begin(), text.end(), '0'); }

int JcCostCodeSections() {
    return std::clamp(suite::xk_num_sections(suite::kPhaseFormat) + 1, 1, kJcMaxCostCodeSections);
}

bool JcCostCodeLevel(const std::string& costCode, uint16_t& level) {
    const int n = JcCostCodeSections();
    level = 0;
    // A one-section format keeps the whole value in its only section.
    if (n <= 1) {
        if (!IsZeroOrBlank(costCode)) ++level;
        return level < n;
    }
    // Unformatted once; each section is then a part of it. Kept from call to call: every
    // record asks.
    thread_local std::string plain, section;
    plain = costCode;
    suite::xk_unformat_field(suite::kPhaseFormat, 0, plain);
    for (int s = 1; s <= n; ++s) {
        section = plain;
        suite::xk_get_section(suite::kPhaseFormat, false, s, section);
        if (IsZeroOrBlank(section)) break;
        ++level;
    }
    return level < n;
}

}  // namespace dz::modlibs
