// Text in the data files is UTF-8: field lengths count characters, not bytes, and a value is
// never cut inside a character.
#pragma once

#include <cstddef>
#include <string_view>

namespace dz {

inline bool IsUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The number of characters (bytes that do not continue a character).
inline std::size_t Utf8Length(std::string_view s) {
    std::size_t n = 0;
    for (char c : s) n += IsUtf8Continuation(c) ? 0 : 1;
    return n;
}

// The first `chars` characters of `s` (all of it when it is shorter).
inline std::string_view Utf8Prefix(std::string_view s, std::size_t chars) {
    if (s.size() <= chars) return s;
    std::size_t i = 0;
    for (std::size_t n = 0; i < s.size(); ++i) {
        if (IsUtf8Continuation(s[i])) continue;
        if (n++ == chars) break;
    }
    return s.substr(0, i);
}

// The longest start of `s` of at most `bytes` bytes that ends between two characters.
inline std::string_view Utf8PrefixBytes(std::string_view s, std::size_t bytes) {
    if (s.size() <= bytes) return s;
    std::size_t i = bytes;
    while (i > 0 && IsUtf8Continuation(s[i])) --i;
    return s.substr(0, i);
}

}  // namespace dz
