// Printing. A print job collects lines built field by field (`xp_put_field`, `xp_wr_line`) and
// sends them to the destination chosen in the report hub: a text file (the default), the
// screen, or a printer. No job holds its lines in memory: each goes to its file, or to the
// screen, as it is printed; a destination that needs the whole document at the end has them
// spooled (see LineSpool). Notes are spooled in a print file of their own (`zp_*`) and printed
// into a report at its end.
//
// Columns count from 0 in a line `width` characters wide (132 by default); trailing blanks are
// not written. A line starting with '\f' begins a new page.
#pragma once

#include "platform/ui/next_step.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace dz::ui {

enum class Destination { File = 1, Screen = 2, Printer = 3, Spool = 4 };

struct PrintDef {
    std::string title;
    int width = 132;
    int flags = 1;
    std::uint32_t preferences = 0;
};

inline constexpr int kPageLength = 60;     // lines per page
inline constexpr int kPrintRight = 1;      // xp_put_field flag: right-aligned in its width

// Opens a print job. `path` is the file for Destination::File; for Destination::Printer the file
// the report is kept in when it cannot be printed ("" none). Returns the print handle, 0 when
// the file cannot be created.
int xp_open_print(const PrintDef& def, Destination dest, const std::string& path = "");
// xp_close_print: the report was not printed but is kept in the job's file (and shown).
inline constexpr int kPrintKept = 2;
// xp_close_print: the report's file could not be written for lack of space.
inline constexpr int kPrintDiskFull = 3;
// Ends a print job: the file is closed, or the report goes to the screen or printer. Returns 0,
// kPrintKept, kPrintDiskFull, or another non-zero value when it could not be delivered.
int xp_close_print(int print);
// The system's error number of the first line of the open job `print` that could not be written
// (ENOSPC: a full disk), 0 when every line was or the failure gave none.
int xp_error(int print);
// What the person can do about the first line of the open job `print` that could not be
// written: for a file on a full disk, free space or name another report file; for the screen,
// what the front end says of the line it could not put where it goes (Ui::report_line_step).
NextStep xp_failure_step(int print);
// The failure of the open job `print` was said (the run it reports on ended with it): whoever
// closes the job does not say it again.
void xp_mark_failure_said(int print);
bool xp_failure_said(int print);
// The printed lines of an open job, read back from its spool into a list valid until the next
// call (tests); none for a file, nor for a screen that takes each line as it is printed.
const std::vector<std::string>* xp_lines(int print);
// Gives each printed line of the open job `print` in turn to `each` (which returns false to
// stop), read back from its spool. False when there is no such job or its lines could not be
// read back whole.
bool xp_each_line(int print, const std::function<bool(std::string_view)>& each);

PrintDef xp_get_def(int print);
std::uint32_t xp_get_preferences(int which);
// Puts `text` into the line being built at `col`, cut to `width` (right-aligned with kPrintRight).
void xp_put_field(int print, int col, int width, int flags, std::string_view text);
// Writes the line being built after `spacing` - 1 blank lines; `page` first starts a new page
// (unless the page is still empty). Returns 0, non-zero when the line could not be written.
int xp_wr_line(int print, int spacing, int unused, int page);
int xp_lines_left(int print);

// The notes print file of a command: spooled, then printed into a report at its end.
struct PrintFileDef {
    int kind = 2;
    int print = 0;            // the spool's print handle, set by zp_open_print_file
    int command = 0;
    int file_kind = 201;
    int width = 132;
};

// Opens (or reopens, emptied) the print file of (command, file_kind). Returns 0, non-zero on
// failure; sets def.print, on which lines are built with xp_put_field.
int zp_open_print_file(PrintFileDef& def);
// Writes the line built on def.print after `spacing` - 1 blank lines. Returns 0 or non-zero.
int zp_put_line(const PrintFileDef& def, int spacing);
// Prints the spooled file into the report `print`, from a new page. Returns 0, 2 on failure.
int zp_print_file(int command, int file_kind, int print);
void zp_cls_print_file(int command, int file_kind);

// Ends every print job without delivering it (tests).
void reset_printing();

}  // namespace dz::ui
