// The encoding of a text file, decided once for the whole file.
//
// The data files hold UTF-8. A text file that is valid UTF-8 is read as UTF-8; any other is read
// as Windows-1252 (what spreadsheets on Windows write as "CSV") and its text is converted to
// UTF-8 as it is read. A UTF-8 byte-order mark at the start is skipped. UTF-16 files (a
// byte-order mark FF FE or FE FF) are not read at all. Line ends, commas, quotes and Ctrl-Z are
// the same bytes in both encodings, so lines and columns are found before any conversion, and
// the reject file and the time stamp keep the text file's own bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dz::xvl {

enum class TextEncoding { Utf8, Windows1252 };

enum class ByteOrderMark { None, Utf8, Utf16 };

// What the first bytes of `data` mark.
ByteOrderMark FindByteOrderMark(std::string_view data);
// The bytes that a UTF-8 byte-order mark takes at the start of `data` (3 or 0).
std::size_t Utf8BomLength(std::string_view data);

// True when `data` is valid UTF-8. With `cutEnd`, a character cut off at the end counts as valid
// (for the head of a file).
bool IsValidUtf8(std::string_view data, bool cutEnd = false);
// How many bytes from the start of `data` are valid UTF-8: data.size() when all are.
std::size_t Utf8ValidLength(std::string_view data, bool cutEnd = false);

// UTF-8 unless `data` (without its byte-order mark) is not valid UTF-8.
TextEncoding DecideEncoding(std::string_view data, bool cutEnd = false);

// Appends `text`, read in `encoding`, to `out` as UTF-8.
void AppendAsUtf8(std::string_view text, TextEncoding encoding, std::string& out);
std::string ToUtf8(std::string_view text, TextEncoding encoding);
// UTF-8 `text` in `encoding`; characters Windows-1252 lacks become '?'.
std::string FromUtf8(std::string_view text, TextEncoding encoding);

// A whole text file read by these rules: its text as UTF-8, without a byte-order mark. False
// for a UTF-16 file.
bool DecodeTextFile(std::string_view data, std::string& out);

}  // namespace dz::xvl
