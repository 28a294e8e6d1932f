#include "converters/gl/glm_fields.h"

#include "convert/texts.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/suite/company.h"
#include "platform/suite/util.h"
#include "platform/suite/xk.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>
#include <cstdio>

namespace dz::gl {

namespace {

// Where the parts of an account lie in its stored value, as the account format gives them.
struct Span {
    int offset = 0;
    int width = 0;  // 0: the part is not in use
};
struct Spans {
    bool ready = false;
    std::array<int, 12> format{};  // the account format they were taken from: levels, widths
    int levels = 0;
    Span prefixA, prefixAB, prefixABC, baseAccount;
};
// The open company's account format in a few numbers, to tell when it changed.
std::array<int, 12> FormatSignature() {
    std::array<int, 12> sig{};
    sig.fill(-1);
    const suite::Company* company = suite::current_company();
    if (!company) return sig;
    const auto it = company->settings().formats.find(suite::kGlAccountFormat);
    if (it == company->settings().formats.end()) return sig;
    sig[0] = it->second.prefix_levels;
    for (std::size_t i = 0; i < it->second.sections.size() && i + 1 < sig.size(); ++i)
        sig[i + 1] = it->second.sections[i].width;
    return sig;
}
Spans& AccountSpans() {
    static Spans spans;
    const auto sig = FormatSignature();
    if (!spans.ready || sig != spans.format) {
        spans.format = sig;
        const int fmt = suite::kGlAccountFormat;
        spans.levels = suite::xk_num_sections(fmt);
        spans.prefixA = {0, suite::xk_width(fmt, suite::kGlPrefixA)};
        spans.prefixAB = {0, suite::xk_width(fmt, suite::kGlPrefixAB)};
        spans.prefixABC = {0, suite::xk_width(fmt, suite::kGlPrefixABC)};
        spans.baseAccount = {suite::xk_width(fmt, suite::kGlPrefix), suite::xk_width(fmt, suite::kGlBaseAccount)};
        spans.ready = true;
    }
    return spans;
}

}  // namespace

void ForgetFieldNumbers() {
    convert::ForgetFieldNumbers();
    AccountSpans().ready = false;
}


std::string AccountSection(const std::string& account, int section) {
    const Spans& spans = AccountSpans();
    const Span* span = section == suite::kGlPrefixA     ? &spans.prefixA
                       : section == suite::kGlPrefixAB  ? &spans.prefixAB
                       : section == suite::kGlPrefixABC ? &spans.prefixABC
                       : section == suite::kGlBaseAccount ? &spans.baseAccount
                                                          : nullptr;
    std::string text = account;
    if (!span) {
        suite::xk_get_section(suite::kGlAccountFormat, false, section, text);
        return text;
    }
    // The same positional cut as the key-format service, without building the layout each time.
    const auto off = static_cast<std::size_t>(span->offset);
    if (span->width == 0 || off >= text.size()) return {};
    text = text.substr(off, static_cast<std::size_t>(span->width));
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

int PrefixLevels() { return AccountSpans().levels; }

}  // namespace dz::gl
