// Comparing names (formats, special values, files, choice texts) without regard to letter case.
#pragma once

#include <cstddef>
#include <string_view>

namespace dz::xvl {

// Letter case folding of the ASCII letters only: text is bytes, whatever the locale.
inline char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }
// The same towards capitals; bytes of UTF-8 sequences stay as they are.
inline char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c; }

inline bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldAscii(a[i]) != foldAscii(b[i])) return false;
    return true;
}

}  // namespace dz::xvl
