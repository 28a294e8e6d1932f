// A report line too long for its room is wrapped onto further lines, never cut: the words that
// say a limit reach the reader whole.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace dz::ui {

// Continuation lines of a wrapped text start with this.
inline constexpr std::string_view kContinuationIndent = "  ";

// Splits `text` into lines of at most `width` bytes, never inside a character, breaking after a
// blank when one is in the line's second half; every line after the first is indented by
// kContinuationIndent. Nothing of the text is lost but the blanks at the breaks. Control
// characters are shown escaped ("\033") and line breaks as blanks: a report line is one line.
std::vector<std::string> WrapLines(std::string_view text, std::size_t width);

}  // namespace dz::ui
