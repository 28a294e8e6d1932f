// Comparing names (formats, special values, files, choice texts) without regard to letter case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace dz::xvl {

// Letter case folding of the ASCII letters only: text is bytes, whatever the locale.
inline char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }
// The same towards capitals; bytes of UTF-8 sequences stay as they are.
inline char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c; }

// Every small ASCII letter of `text` in capitals, eight bytes at a time: in a word, a byte below
// 0x80 is a small letter when adding 0x80 - 'a' to its low seven bits reaches the top bit and
// adding 0x7F - 'z' does not; that top bit shifted down to 0x20 is what the letter loses. The
// last word may overlap the one before it: a capital stays a capital.
inline void upperAsciiAll(std::string& text) {
    constexpr uint64_t kOnes = 0x0101010101010101ULL, kTops = 0x8080808080808080ULL;
    const std::size_t n = text.size();
    char* const p = text.data();
    if (n < 8) {
        for (std::size_t i = 0; i < n; ++i) p[i] = upperAscii(p[i]);
        return;
    }
    auto word = [p](std::size_t at) {
        uint64_t w;
        std::memcpy(&w, p + at, 8);
        const uint64_t low = w & ~kTops;
        const uint64_t small = (low + kOnes * (0x80 - 'a')) & ~(low + kOnes * (0x7F - 'z')) & ~w & kTops;
        w ^= small >> 2;
        std::memcpy(p + at, &w, 8);
    };
    for (std::size_t at = 0; at + 8 < n; at += 8) word(at);
    word(n - 8);
}

inline bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldAscii(a[i]) != foldAscii(b[i])) return false;
    return true;
}

}  // namespace dz::xvl
