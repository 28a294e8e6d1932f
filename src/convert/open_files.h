// The run's list of open data files, which the driver owns and every converter reads and
// extends. Its entries are the import library's `file_num_map`, so a template binds to the same
// list.
//
// A data file has one entry, whatever was refused before: an open that failed leaves an entry
// with handle 0, which a later open of the same file fills. Two entries of one file would have
// the one that is rebound differ from the one that is found, and a failed text file take the
// file away from the next.
#pragma once

#include "platform/import/xvl_template.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace dz::convert {

using dz::file_num_map;

class OpenFilesList : public std::vector<file_num_map> {
public:
    using std::vector<file_num_map>::vector;

    // The data file this program closed (for a copy or a put-back) and could not open again,
    // at `path`: the next text file of the run opens it again rather than finding it gone.
    void KeepClosed(const std::string& abbr, uint16_t fileNo, const std::string& path);
    // Where such a file is; "" when the file was not closed so.
    std::string ClosedPath(const std::string& abbr, uint16_t fileNo) const;
    // Forgets the entries, and with them the files closed so: those of one run are no other's.
    void clear();

private:
    friend bool RebindFileHandle(OpenFilesList&, const std::string&, uint16_t, uint16_t);
    std::map<std::pair<std::string, uint16_t>, std::string> closed_;
};

// The handle of the first entry with that file number and abbreviation (exact) and a handle;
// 0 when there is none.
uint16_t FindFileHandle(const OpenFilesList& list, const std::string& abbr, uint16_t fileNo);
// Sets the handle of the first entry with that file number and abbreviation; false when none.
// A file given a handle is no longer one closed to be opened again.
bool RebindFileHandle(OpenFilesList& list, const std::string& abbr, uint16_t fileNo, uint16_t handle);
// A data file that could not be opened: its entry keeps (or, when it has none, gets) handle 0.
void NoteRefused(OpenFilesList& list, const std::string& abbr, uint16_t fileNo);

}  // namespace dz::convert
