// Reading text files: lines and comma-separated columns.
//
// Lines end with LF, CR, CR LF or LF CR; the second character of a pair belongs to the line end,
// any other character after a single CR or LF starts the next line. A Ctrl-Z (26) is dropped
// wherever it stands, and the character after it is taken in its place. Text is bytes here:
// the encoding is decided for the whole file (xvl_encoding.h) and values are converted after
// they are split.
//
// Columns are separated by commas. A column whose first non-blank character is a double quote
// is quoted: it runs to the next double quote that is not doubled ("" stands for one "), may
// hold commas and line ends, and keeps its blanks; only blanks may follow the closing quote.
// Unquoted columns lose their leading and trailing blanks and tabs; a double quote inside them
// is an ordinary character.
//
// A record is a line, unless a quoted column is still open at its end: then the record goes on
// over the following lines, line ends included, up to the line on which the quote closes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace dz::xvl {

inline constexpr char kCtrlZ = 26;

// Walks the lines of a text held in memory.
class LineReader {
public:
    LineReader() = default;
    explicit LineReader(std::string_view data, std::size_t offset = 0) : data_(data), pos_(offset) {}

    // The next line without its line end. `rawBegin`/`rawEnd` receive the byte range of the
    // line including its line end (for copying it unchanged). False at the end of the data.
    bool next(std::string& line, std::size_t* rawBegin = nullptr, std::size_t* rawEnd = nullptr);
    // The same without copying: `line` points into the data, or into `scratch` when the line
    // held a Ctrl-Z that had to be left out.
    bool next(std::string_view& line, std::string& scratch, std::size_t* rawBegin = nullptr,
              std::size_t* rawEnd = nullptr);
    // The same, telling in `quoted` whether the line holds a double quote.
    bool next(std::string_view& line, std::string& scratch, std::size_t* rawBegin, std::size_t* rawEnd, bool& quoted);
    // True when a further line follows (a trailing Ctrl-Z alone is no line).
    bool atEnd() const;
    std::size_t offset() const { return pos_; }
    void seek(std::size_t offset) { pos_ = offset; }
    std::string_view data() const { return data_; }

private:
    std::string_view data_;
    std::size_t pos_ = 0;
};

// One line from a stream, by the same rules (`ReadTextLine`): the line is emptied first; a
// stream in a failed state, or at its end, yields an empty line and false.
bool ReadTextLine(std::istream& in, std::string& line);

// The line end of the first line of `data`: its bytes ("\r\n", "\n\r", "\r", "\n") or "" when
// the data holds a single line without one. `firstLineEnd` receives the offset just past it.
std::string FirstLineEnd(std::string_view data, std::size_t* firstLineEnd = nullptr);

// Where a line leaves the quoting of its record: `from` is the state the line starts in (a new
// record starts at a column's start); InQuote at the end means the record goes on.
enum class QuoteState { ColumnStart, Unquoted, InQuote, AfterQuote };
QuoteState ScanQuotes(std::string_view line, QuoteState from = QuoteState::ColumnStart);

// The line end of the line at data[begin, end) (as LineReader gave its raw range), Ctrl-Z left
// out; empty for a last line without one.
std::string_view RawLineEnd(std::string_view data, std::size_t begin, std::size_t end, std::string& scratch);

// Splits `line` into columns (rules above). Returns false on a malformed quote, with
// `badColumn` the 1-based column at fault; the columns before it are filled.
bool SplitColumns(std::string_view line, std::vector<std::string>& columns, std::size_t& badColumn);

// The same into views: unquoted columns and quoted ones without doubled quotes point into
// `line`; the others into `scratch`, which must not change while the views are used.
bool SplitColumnViews(std::string_view line, std::vector<std::string_view>& columns, std::string& scratch,
                      std::size_t& badColumn);
// The same, keeping at most `keep` columns: those after them are still read (their quoting can
// make the line malformed) but only counted, so that a line of a million commas costs no
// memory. `lastFilled` receives the number of the last of them that is not blank (0 when
// every one is), for the count of columns that a line's blank tail does not extend.
bool SplitColumnViews(std::string_view line, std::vector<std::string_view>& columns, std::string& scratch,
                      std::size_t& badColumn, std::size_t keep, std::size_t& lastFilled);
// The same, also listing the places of the columns kept whose views are not empty, in order, in
// the first `nonEmptyCount` entries of `nonEmpty` (which only grows): most columns of a wide line
// are empty, and a reader of the others need not pass over them.
// `quoted` false tells that the line is known to hold no double quote (true: it may hold one).
bool SplitColumnViews(std::string_view line, std::vector<std::string_view>& columns, std::string& scratch,
                      std::size_t& badColumn, std::size_t keep, std::size_t& lastFilled,
                      std::vector<uint32_t>& nonEmpty, std::size_t& nonEmptyCount, bool quoted = true);

// The first column only, by the same rules, for a look at a line's record type. An unquoted
// text up to the first comma when the quoting is malformed.
std::string FirstColumn(std::string_view line);

// The separator a line uses in place of the comma: ';' or a tab when the line holds no comma but
// one of them (';' first), else 0. A spreadsheet set to a language whose decimal mark is the
// comma saves its "CSV" with semicolons, and a "text" export uses tabs.
char OtherSeparator(std::string_view line);

}  // namespace dz::xvl
