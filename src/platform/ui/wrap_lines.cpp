#include "platform/ui/wrap_lines.h"

#include "platform/datafile/utf8.h"
#include "platform/ui/shown_text.h"

namespace dz::ui {

std::vector<std::string> WrapLines(std::string_view text, std::size_t width) {
    std::vector<std::string> lines;
    if (width <= kContinuationIndent.size() + 1) width = kContinuationIndent.size() + 2;
    // Measured as it is shown: an escaped control character takes four columns, and a line is
    // cut between whole characters of what is shown, never inside an escape ("\033").
    const bool escaped = needs_showing(text);
    const auto shown = [escaped](std::string_view piece) {
        return escaped ? shown_text(piece, LineBreaks::Blank) : std::string(piece);
    };
    const auto fit = [escaped](std::string_view piece, std::size_t room) {
        return escaped ? shown_fit(piece, room, LineBreaks::Blank) : Utf8PrefixBytes(piece, room).size();
    };
    std::string_view rest = text;
    bool first = true;
    do {
        const std::size_t room = first ? width : width - kContinuationIndent.size();
        std::string_view piece = rest.substr(0, fit(rest, room));
        if (piece.size() < rest.size()) {
            // Break after the last blank of the line when there is one in its second half;
            // a long word is broken where the line ends. A line break is shown as a blank.
            const auto blank = piece.find_last_of(escaped ? " \r\n" : " ");
            if (blank != std::string_view::npos && shown(piece.substr(0, blank)).size() >= room / 2)
                piece = piece.substr(0, blank + 1);
            // A character wider than the room (an escape on a narrow line) still goes, whole.
            for (std::size_t w = room + 1; piece.empty() && w <= room + 8; ++w) piece = rest.substr(0, fit(rest, w));
            if (piece.empty()) piece = rest.substr(0, 1);
        }
        std::string line = first ? std::string() : std::string(kContinuationIndent);
        std::string kept = shown(piece);
        while (!kept.empty() && kept.back() == ' ' && piece.size() < rest.size()) kept.pop_back();
        line += kept;
        lines.push_back(std::move(line));
        rest.remove_prefix(piece.size());
        first = false;
    } while (!rest.empty());
    return lines;
}

}  // namespace dz::ui
