#include "platform/import/xvl_encoding.h"

#include <cstdint>
#include <cstring>

namespace dz::xvl {

namespace {

// Windows-1252 bytes 0x80 to 0x9F; the five it leaves unassigned keep their own code.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendCodePoint(uint32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Windows-1252 byte for a code point, or '?'.
char toCp1252(uint32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    for (int i = 0; i < 32; ++i)
        if (kCp1252High[i] == cp) return static_cast<char>(0x80 + i);
    return '?';
}

}  // namespace

ByteOrderMark FindByteOrderMark(std::string_view data) {
    if (data.size() >= 2 && ((data[0] == '\xFF' && data[1] == '\xFE') || (data[0] == '\xFE' && data[1] == '\xFF')))
        return ByteOrderMark::Utf16;
    if (Utf8BomLength(data) != 0) return ByteOrderMark::Utf8;
    return ByteOrderMark::None;
}

std::size_t Utf8BomLength(std::string_view data) { return data.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0; }

bool IsValidUtf8(std::string_view data, bool cutEnd) { return Utf8ValidLength(data, cutEnd) == data.size(); }

std::size_t Utf8ValidLength(std::string_view data, bool cutEnd) {
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    const std::size_t n = data.size();
    std::size_t i = 0;
    while (i < n) {
        // Plain ASCII eight bytes at a time.
        if (i + 8 <= n) {
            uint64_t w;
            std::memcpy(&w, p + i, 8);
            if ((w & 0x8080808080808080ULL) == 0) {
                i += 8;
                continue;
            }
        }
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t len;
        unsigned char lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;        // no overlong forms
            else if (c == 0xED) hi = 0x9F;   // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;
            else if (c == 0xF4) hi = 0x8F;   // nothing above U+10FFFF
        } else {
            return i;
        }
        for (std::size_t k = 1; k < len; ++k) {
            if (i + k >= n) return cutEnd ? n : i;
            const unsigned char d = p[i + k];
            if (k == 1 ? (d < lo || d > hi) : (d & 0xC0) != 0x80) return i;
        }
        i += len;
    }
    return n;
}

TextEncoding DecideEncoding(std::string_view data, bool cutEnd) {
    return IsValidUtf8(data.substr(Utf8BomLength(data)), cutEnd) ? TextEncoding::Utf8 : TextEncoding::Windows1252;
}

void AppendAsUtf8(std::string_view text, TextEncoding encoding, std::string& out) {
    if (encoding == TextEncoding::Utf8) {
        out.append(text);
        return;
    }
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        appendCodePoint(c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c, out);
    }
}

std::string ToUtf8(std::string_view text, TextEncoding encoding) {
    std::string out;
    AppendAsUtf8(text, encoding, out);
    return out;
}

std::string FromUtf8(std::string_view text, TextEncoding encoding) {
    if (encoding == TextEncoding::Utf8) return std::string(text);
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = p[i];
        std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (i + len > text.size()) len = text.size() - i;
        uint32_t cp = len == 1 ? c : c & (0x3F >> (len - 1));
        for (std::size_t k = 1; k < len; ++k) cp = cp << 6 | (p[i + k] & 0x3F);
        out.push_back(toCp1252(cp));
        i += len;
    }
    return out;
}

bool DecodeTextFile(std::string_view data, std::string& out) {
    out.clear();
    if (FindByteOrderMark(data) == ByteOrderMark::Utf16) return false;
    const std::string_view text = data.substr(Utf8BomLength(data));
    AppendAsUtf8(text, DecideEncoding(text), out);
    return true;
}

}  // namespace dz::xvl
