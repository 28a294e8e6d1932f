// Lines kept out of memory. A print job whose destination needs the whole document at its end
// (a report window, a printer, the notes printed into a report) keeps its lines here rather than
// in a list, so that what a run holds does not grow with its report: the first few are buffered,
// the rest go to an unnamed temporary file (gone with the last holder), and all are read back
// when the document is delivered. A report file already written is read back the same way.
//
// When no temporary file can be made or written (a full disk), the lines from there on are kept
// in memory: a report is never cut short for want of room to spool it.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace dz::ui {

class LineSpool {
public:
    LineSpool() = default;
    ~LineSpool();
    LineSpool(const LineSpool&) = delete;
    LineSpool& operator=(const LineSpool&) = delete;

    // The lines of the file at `path` as it stands when they are read (a report written
    // already); a spool of a file takes no lines of its own.
    static std::shared_ptr<const LineSpool> of_file(std::string path);

    // Appends a line (one without a line end of its own).
    void add(std::string_view line);
    // Gives each line in turn to `each`, which returns false to stop. False when the lines could
    // not be read back whole (or `each` stopped).
    bool for_each(const std::function<bool(std::string_view)>& each) const;
    // The lines read back into a list (small documents, tests).
    std::vector<std::string> lines() const;

private:
    void flush();

    std::string file_;                // of_file: the file read back
    int fd_ = -1;                     // the unnamed temporary file, once the buffer overflowed
    bool no_file_ = false;            // none could be made or written: memory from there on
    off_t written_ = 0;               // bytes of whole lines in the temporary file
    std::string buffer_;              // lines not yet written, each ended by '\n'
    std::vector<std::string> kept_;   // lines kept in memory after the file failed
};

}  // namespace dz::ui
