// Helpers of the conversion library: sectioned-value checks, blank collapsing, path
// splitting and report-design lookup.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dz::xvl {

// Non-zero when `text`, unformatted or formatted (separators at their places), is a complete
// value of section `section` of key format `fmt` (width and characters; GL account sections
// exact in width). Not a data lookup; shows no message.
std::uint16_t xvl_imp_is_sectioned_field_valid(int fmt, std::string_view text, int section);

// Trims blanks (and tabs) at both ends and collapses every run of them inside to one blank.
void xvl_imp_minimize_string(std::string& text);

// A path split into its folder (up to and including the last "\" or "/", or a drive "C:")
// and its file name.
struct xvlPathParts {
    std::string folder;
    std::string name;
};
xvlPathParts xvlParsePathname(std::string_view path);

// Non-zero when the open company has a report design of that name (any letter case).
std::uint16_t xvlValidateDesignName(std::string_view name);

}  // namespace dz::xvl
