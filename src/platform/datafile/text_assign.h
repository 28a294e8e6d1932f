// Copying a value into a string that is reused line after line (a record buffer's cell, a
// staged value).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace dz {

// dst = s. When `s` fits the storage `dst` already has and does not lie inside it, the bytes
// are copied straight in: a general assign also handles overlap and growth, and costs several
// times more for the short values of a record. `s` may view `dst` itself.
inline void AssignText(std::string& dst, std::string_view s) {
    const std::size_t n = s.size();
    const auto from = reinterpret_cast<std::uintptr_t>(s.data());
    const auto b = reinterpret_cast<std::uintptr_t>(dst.data());
    if (n <= dst.capacity() && (from + n <= b || from > b + dst.capacity())) {
        dst.clear();
        dst.append(s.data(), n);
        return;
    }
    dst.assign(s.data(), n);
}

}  // namespace dz
