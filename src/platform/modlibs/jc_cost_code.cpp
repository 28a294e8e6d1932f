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
    for (int s = 1; s <= n; ++s) {
        std::string section = costCode;
        // A one-section format keeps the whole value in its only section.
        if (n > 1) suite::xk_get_section(suite::kPhaseFormat, true, s, section);
        if (IsZeroOrBlank(section)) break;
        ++level;
    }
    return level < n;
}

}  // namespace dz::modlibs
