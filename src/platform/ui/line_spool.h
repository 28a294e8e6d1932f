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
#include <cstdint>
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
    // already; a device, which keeps nothing, gives none); a spool of a file takes no lines of
    // its own.
    static std::shared_ptr<const LineSpool> of_file(std::string path);

    // Appends a line (one without a line end of its own).
    void add(std::string_view line);
    // Gives each line in turn to `each`, which returns false to stop. False when the lines could
    // not be read back whole (or `each` stopped).
    bool for_each(const std::function<bool(std::string_view)>& each) const;
    // As for_each, from the line that starts `from` bytes into the lines (each counted with its
    // line end), each given with where it starts: a reader that kept where a line starts reads
    // on from there without reading what comes before (a report shown a page at a time).
    bool for_each_from(std::uint64_t from,
                       const std::function<bool(std::string_view line, std::uint64_t at)>& each) const;
    // The bytes of the lines as they stand (a file's size as it is now): a reader that kept
    // places in them sees that they changed under it.
    std::uint64_t size() const;
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
    std::uint64_t kept_bytes_ = 0;    // theirs, each with its line end
};

// Every read of a spool's file goes through `read` (as pread) while it is set, so that a test
// can fail a read or shorten the file under the spool; nullptr restores pread.
void set_spool_read_hook_for_tests(std::function<ssize_t(int fd, char* buf, std::size_t n, off_t at)> read);

}  // namespace dz::ui
