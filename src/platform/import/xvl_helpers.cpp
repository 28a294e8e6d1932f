#include "platform/import/xvl_helpers.h"

#include "platform/suite/company.h"
#include "platform/suite/xk.h"

#include <cctype>

namespace dz::xvl {

std::uint16_t xvl_imp_is_sectioned_field_valid(int fmt, std::string_view text, int section) {
    // Callers validate values as read (unformatted) and values they have just formatted.
    return suite::xk_check(fmt, section, text) ? 1 : 0;
}

void xvl_imp_minimize_string(std::string& text) {
    std::string out;
    bool blank = false;
    for (char c : text) {
        if (c == ' ' || c == '\t') {
            blank = !out.empty();
            continue;
        }
        if (blank) out += ' ';
        blank = false;
        out += c;
    }
    text = std::move(out);
}

xvlPathParts xvlParsePathname(std::string_view path) {
    std::size_t cut = path.find_last_of("\\/");
    if (cut == std::string_view::npos && path.size() >= 2 && path[1] == ':' &&
        std::isalpha(static_cast<unsigned char>(path[0]))) {
        cut = 1;  // "C:name": the drive is the folder
    }
    if (cut == std::string_view::npos) return {std::string(), std::string(path)};
    return {std::string(path.substr(0, cut + 1)), std::string(path.substr(cut + 1))};
}

std::uint16_t xvlValidateDesignName(std::string_view name) {
    const suite::Company* c = suite::current_company();
    if (!c || name.empty()) return 0;
    for (const auto& d : c->settings().report_designs) {
        if (d.size() == name.size() &&
            std::equal(d.begin(), d.end(), name.begin(), [](char a, char b) {
                return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
            })) {
            return 1;
        }
    }
    return 0;
}

}  // namespace dz::xvl
