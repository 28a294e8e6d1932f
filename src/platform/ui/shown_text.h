// Text read from a file, a folder or a record, as it may be shown: on a terminal, in a report,
// in the log or in a message box. A control character in it (ESC starting a terminal's escape
// sequence, a backspace, a bell) is written as a backslash and the three octal digits of its
// byte ("\033"), so that it is seen and never acted on. So is a C1 control, written in UTF-8
// (C2 80 to C2 9F) or as a lone byte 0x80 to 0x9F that no UTF-8 character holds: a terminal of
// eight-bit characters reads 0x9B as ESC [. What is stored (data files, reject files, time
// stamps) is never passed through here: it keeps its bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dz::ui {

enum class LineBreaks {
    Escaped,  // CR and LF are shown as "\015" and "\012", as every other control character
    Kept,     // CR and LF stay: a message's own lines ("\r" breaks a message's text)
    Blank,    // a CR, an LF or a CR LF becomes one blank: a line of a report or of the log
};

namespace shown_detail {
inline bool is_control(unsigned char c) { return c < 0x20 || c == 0x7f; }
// The second byte of a C1 control (U+0080 to U+009F, written C2 80 to C2 9F in UTF-8), which
// some terminals also act on.
inline bool is_c1_after(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    return i + 1 < text.size() && c == 0xc2 && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
           static_cast<unsigned char>(text[i + 1]) <= 0x9f;
}
// The bytes of the well-formed UTF-8 character that starts at `i` (2 to 4; no overlong form, no
// surrogate), else 0. `cut`, when given, is set when the text ends inside a character that was
// well formed so far: a stream holds such bytes until the rest comes.
inline std::size_t utf8_char(std::string_view text, std::size_t i, bool* cut = nullptr) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t bytes = 0;
    unsigned char low = 0x80, high = 0xbf;  // the bounds of the second byte
    if (c >= 0xc2 && c <= 0xdf) {
        bytes = 2;
    } else if (c >= 0xe0 && c <= 0xef) {
        bytes = 3;
        low = c == 0xe0 ? 0xa0 : 0x80;
        high = c == 0xed ? 0x9f : 0xbf;
    } else if (c >= 0xf0 && c <= 0xf4) {
        bytes = 4;
        low = c == 0xf0 ? 0x90 : 0x80;
        high = c == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < bytes; ++k) {
        if (i + k >= text.size()) {
            if (cut) *cut = true;
            return 0;
        }
        const auto b = static_cast<unsigned char>(text[i + k]);
        if (k == 1 ? b < low || b > high : (b & 0xc0) != 0x80) return 0;
    }
    return bytes;
}
// How many bytes from `i` are one control character to show: 1 for a C0 control, DEL or a lone
// byte 0x80 to 0x9F, 2 for a C1 control written in UTF-8; 0 for anything else.
inline std::size_t control_bytes(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (is_control(c)) return 1;
    if (c < 0x80) return 0;
    if (is_c1_after(text, i)) return 2;
    if (utf8_char(text, i) != 0) return 0;
    return c <= 0x9f ? 1 : 0;
}
// The bytes from `i` shown as one: a control, a whole UTF-8 character, else one byte.
inline std::size_t unit_bytes(std::string_view text, std::size_t i) {
    if (const std::size_t control = control_bytes(text, i)) return control;
    const std::size_t bytes = utf8_char(text, i);
    return bytes == 0 ? 1 : bytes;
}
inline void octal(unsigned char c, std::string& out) {
    out += '\\';
    out += static_cast<char>('0' + (c >> 6));
    out += static_cast<char>('0' + ((c >> 3) & 7));
    out += static_cast<char>('0' + (c & 7));
}
}  // namespace shown_detail

// Whether `text` holds a control character: most texts hold none and are shown as they are.
inline bool needs_showing(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); i += shown_detail::unit_bytes(text, i))
        if (shown_detail::control_bytes(text, i) != 0) return true;
    return false;
}

// `text` with its control characters (each byte of a C1 control) written in octal.
inline std::string shown_text(std::string_view text, LineBreaks breaks = LineBreaks::Escaped) {
    using namespace shown_detail;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool lineBreak = c == '\r' || c == '\n';
        const std::size_t bytes = unit_bytes(text, i);
        if (lineBreak && breaks == LineBreaks::Kept) {
            out += text[i];
        } else if (lineBreak && breaks == LineBreaks::Blank) {
            out += ' ';
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (control_bytes(text, i) != 0) {
            for (std::size_t k = 0; k < bytes; ++k) octal(static_cast<unsigned char>(text[i + k]), out);
        } else {
            out.append(text.substr(i, bytes));
        }
        i += bytes;
    }
    return out;
}

// How many bytes of `text`, from its start, fit into `width` bytes once shown (as shown_text
// shows them with `breaks`): whole characters only, and an escape ("\033") never cut, so that
// a cell or a line cut there shows whole characters of what it shows. A CR LF shown as one
// blank goes as one.
inline std::size_t shown_fit(std::string_view text, std::size_t width, LineBreaks breaks = LineBreaks::Escaped) {
    using namespace shown_detail;
    std::size_t used = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t bytes = unit_bytes(text, i), shown = bytes;
        if ((c == '\r' || c == '\n') && breaks != LineBreaks::Escaped) {
            if (breaks == LineBreaks::Blank && c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') bytes = 2;
        } else if (control_bytes(text, i) != 0) {
            shown = 4 * bytes;  // a whole character: an escape is never cut
        }
        if (used + shown > width) break;
        used += shown;
        i += bytes;
    }
    return i;
}

}  // namespace dz::ui
