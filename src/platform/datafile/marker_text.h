// The text of a run marker, written and read in this one place.
//
//   dodedoz run marker 4
//   host <host>
//   process <process number>
//   mark <16 hex digits>              the run's own number, which every data file it commits carries
//   part <way>                        main marker only: one per part, before its copies
//   main <way>                        part only: the way back to the main marker
//   had <data file> <uid> <gid> <access list>
//                                     one per data file copied, written as its copy is made
//                                     (the marker not yet filled has its head and these lines
//                                     alone): what the file had, which whatever command finishes
//                                     or clears the run gives back (a put-back killed midway
//                                     leaves files of its runner's)
//   copy <copy name> <length> <hash>  one per copy: decimal length, 16 hex digits of the hash
//   end
//
// The access list is its entries, "," between them, each "<kind>:<id>:<permission>" in decimal
// (kind: 0 owner, 1 named user, 2 owning group, 3 named group, 4 mask, 5 others).
// A marker of version 3 is the same without `had` lines; one of version 2 also without its
// `mark` line; one of version 1 ("dodedoz run
// marker", no number) may give its process's start on its second line and names each copy by
// the path it was made under in a ".backup" folder, without length or hash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/datafile/access_list.h"

namespace dz::xio {

// "<data file>~<host>~<process>[~<n>]": the data file's name and the run ("<host>~<process>"),
// or false when `name` is not a copy's name.
bool parse_copy_name(const std::string& name, std::string& dataFile, std::string& run);

// What a data file had when its run began: its owner, its group and its access list.
struct FileHad {
    FileOwners owners;
    AccessList list;
    bool operator==(const FileHad& o) const {
        return owners.uid == o.owners.uid && owners.gid == o.owners.gid && list == o.list;
    }
};

struct MarkerCopy {
    std::string name, dataFile;
    uint64_t length = 0, hash = 0;
    std::optional<FileHad> had;  // what its data file had (the marker's `had` line of it)
};

struct MarkerText {
    enum State { Empty, Whole, Unreadable } state = Empty;
    std::string why;                 // Unreadable: why
    int version = 0;                 // 1 to 4 (0: empty)
    bool numbered = false;           // gives its run's number (version 3 and later)
    uint64_t number = 0;
    std::string host, process;       // as the marker gives them
    std::string main;                // a part: the way to the main marker's data folder
    std::vector<std::string> parts;  // the main: the ways to the parts' data folders
    std::vector<MarkerCopy> copies;  // Whole: the copies it names
    std::map<std::string, FileHad> had;  // by data file name: what each had (filled or not)
    std::size_t namesEnd = 0;        // the length of its lines before the first copy
};

// Reads the text of the marker of run `run` (its file name gives it). Empty: no text, or no
// `end` (a run killed while filling it had not committed). Unreadable, with why: a first line
// that is no head, a copy without length and hash or not of its own run, a data file named
// twice, a marker of version 3 or later without one `mark`, a `had` line that is not one or
// names a data file twice, or a line of any other kind.
MarkerText parse_marker_text(const std::string& text, const std::string& run);

// The head every marker of this version starts with.
std::string marker_head(const std::string& host, long process, uint64_t number);
std::string marker_part_line(const std::string& way);
std::string marker_main_line(const std::string& way);
std::string marker_copy_line(const std::string& copyName, uint64_t length, uint64_t hash);
// The head of a marker not yet filled, which gives what the data files copied had.
std::string marker_unfilled_head(const std::string& host, long process);
std::string marker_had_line(const std::string& dataFile, const FileHad& had);
std::string marker_end_line();

}  // namespace dz::xio
