// The text of a run marker, written and read in this one place.
//
//   dodedoz run marker 3
//   host <host>
//   process <process number>
//   mark <16 hex digits>              the run's own number, which every data file it commits carries
//   part <way>                        main marker only: one per part, before its copies
//   main <way>                        part only: the way back to the main marker
//   copy <copy name> <length> <hash>  one per copy: decimal length, 16 hex digits of the hash
//   end
//
// A marker of version 2 is the same without its `mark` line; one of version 1 ("dodedoz run
// marker", no number) may give its process's start on its second line and names each copy by
// the path it was made under in a ".backup" folder, without length or hash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dz::xio {

// "<data file>~<host>~<process>[~<n>]": the data file's name and the run ("<host>~<process>"),
// or false when `name` is not a copy's name.
bool parse_copy_name(const std::string& name, std::string& dataFile, std::string& run);

struct MarkerCopy {
    std::string name, dataFile;
    uint64_t length = 0, hash = 0;
};

struct MarkerText {
    enum State { Empty, Whole, Unreadable } state = Empty;
    std::string why;                 // Unreadable: why
    int version = 0;                 // 1, 2 or 3 (0: empty)
    bool numbered = false;           // gives its run's number (version 3)
    uint64_t number = 0;
    std::string host, process;       // as the marker gives them
    std::string main;                // a part: the way to the main marker's data folder
    std::vector<std::string> parts;  // the main: the ways to the parts' data folders
    std::vector<MarkerCopy> copies;  // Whole: the copies it names
    std::size_t namesEnd = 0;        // the length of its lines before the first copy
};

// Reads the text of the marker of run `run` (its file name gives it). Empty: no text, or no
// `end` (a run killed while filling it had not committed). Unreadable, with why: a first line
// that is no head, a copy without length and hash or not of its own run, a data file named
// twice, a version 3 marker without one `mark`, or a line of any other kind.
MarkerText parse_marker_text(const std::string& text, const std::string& run);

// The head every marker of this version starts with.
std::string marker_head(const std::string& host, long process, uint64_t number);
std::string marker_part_line(const std::string& way);
std::string marker_main_line(const std::string& way);
std::string marker_copy_line(const std::string& copyName, uint64_t length, uint64_t hash);
std::string marker_end_line();

}  // namespace dz::xio
