// Text read from a file, a folder or a record, as it may be shown: on a terminal, in a report,
// in the log or in a message box. A control character in it (ESC starting a terminal's escape
// sequence, a backspace, a bell) is written as a backslash and the three octal digits of its
// byte ("\033"), so that it is seen and never acted on. What is stored (data files, reject
// files, time stamps) is never passed through here: it keeps its bytes.
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
inline void octal(unsigned char c, std::string& out) {
    out += '\\';
    out += static_cast<char>('0' + (c >> 6));
    out += static_cast<char>('0' + ((c >> 3) & 7));
    out += static_cast<char>('0' + (c & 7));
}
}  // namespace shown_detail

// Whether `text` holds a control character: most texts hold none and are shown as they are.
inline bool needs_showing(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i)
        if (shown_detail::is_control(static_cast<unsigned char>(text[i])) || shown_detail::is_c1_after(text, i))
            return true;
    return false;
}

// `text` with its control characters (and the two bytes of a C1 control) written in octal.
inline std::string shown_text(std::string_view text, LineBreaks breaks = LineBreaks::Escaped) {
    using namespace shown_detail;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool lineBreak = c == '\r' || c == '\n';
        if (lineBreak && breaks == LineBreaks::Kept) {
            out += text[i];
        } else if (lineBreak && breaks == LineBreaks::Blank) {
            out += ' ';
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (is_control(c)) {
            octal(c, out);
        } else if (is_c1_after(text, i)) {
            octal(c, out);
            octal(static_cast<unsigned char>(text[++i]), out);
        } else {
            out += text[i];
        }
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
        std::size_t bytes = 1, shown = 1;
        if ((c == '\r' || c == '\n') && breaks != LineBreaks::Escaped) {
            if (breaks == LineBreaks::Blank && c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') bytes = 2;
        } else if (is_control(c)) {
            shown = 4;
        } else if (is_c1_after(text, i)) {
            bytes = 2;
            shown = 8;
        } else if (c >= 0x80) {
            // A character of UTF-8 goes with its continuation bytes, as it is shown.
            while (i + bytes < text.size() && (static_cast<unsigned char>(text[i + bytes]) & 0xC0) == 0x80) ++bytes;
            shown = bytes;
        }
        if (used + shown > width) break;
        used += shown;
        i += bytes;
    }
    return i;
}

}  // namespace dz::ui
