// The time-stamp line that marks a converted text file, and its reading back.
//
// The line (byte-exact, it is stored in the user's text file):
//   #,"Previously Converted","by <operator>","on <m>/<d>/<yy>","at <h>:<mm>AM|PM","using <text>"LF
// "by" is left out when no operator name is known. The year is written without its century
// (2026 -> 26, 2005 -> 5). The clock is a 12-hour clock: 0:xx is written 12:xxAM, 12:xx is
// 12:xxPM, 13:05 is 1:05PM; the minute has two digits.
//
// Files stamped by the old program wrote noon as "12:xxAM" and midnight as "0:xxAM"; reading
// back takes both forms as they stand.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace dz::xvl {

struct StampClock {
    int year = 0;  // four digits
    int month = 0;
    int day = 0;
    int hour = 0;  // 0..23
    int minute = 0;
};

// The whole line, ending with its line feed.
std::string BuildTimeStampLine(const std::string& operatorName, const StampClock& clock,
                               const std::string& usingText);

// `data` with `stampLine` inserted after its first line (after that line's own line end; a
// line end "\n" is added first when the first line has none). The stamp is written in the
// text file's encoding (xvl_encoding.h), and its final "\n" becomes the first line's own line
// end. Every other byte is kept.
std::string InsertStampLine(std::string_view data, const std::string& stampLine);

// Inserts the line into the file: writes the new content to a file beside it, flushes it, and
// renames it over the original. The original is never deleted first; on any failure it stays
// as it was, the file beside it is removed, and `error` says what failed.
bool StampTextFile(const std::filesystem::path& textFile, const std::string& stampLine, std::string& error);
// The same through a text file already open: the new content is read from that open file, in
// pieces, and the stamp is refused when its name no longer names it (a file put in its place
// meanwhile is left alone).
class TextSource;
bool StampTextFile(const TextSource& source, const std::string& stampLine, std::string& error);

// What a time-stamp line says, each text as it stands in the line ("by Ann", "on 12/6/26",
// "at 9:37PM"); user empty when the line names nobody.
struct LastConvert {
    std::string user;
    std::string date;
    std::string time;
    std::string usingText;  // "using xvglm.tpl"
};

// Finds the time-stamp line among the "#" lines that follow the first line. False when the
// file has none (or cannot be read).
bool xvl_imp_xv_get_last_convert(const std::filesystem::path& textFile, LastConvert& out);
bool ParseLastConvert(std::string_view data, LastConvert& out);

// Test seam: the rename used by StampTextFile (std::filesystem::rename by default). Returns
// false and fills `error` on failure. Reset with an empty function.
using RenameFn = std::function<bool(const std::filesystem::path& from, const std::filesystem::path& to,
                                    std::string& error)>;
void SetStampRenameForTests(RenameFn fn);

}  // namespace dz::xvl
