// Another module's data file a converter reads beside its own (the GL master of a CM bank, the
// tax master of a vendor): the run's open entry when the run has the file open, else the file
// opened here. It closes the file only when it opened it, whichever way the conversion ends.
#pragma once

#include "convert/open_files.h"

#include <cstdint>
#include <string>

namespace dz::convert {

class SideFile {
public:
    SideFile() = default;
    ~SideFile() { Close(); }
    SideFile(const SideFile&) = delete;
    SideFile& operator=(const SideFile&) = delete;

    // The run's entry of `abbr` (file number `fileNo`) when it is open; otherwise
    // "MASTER.<abbr>", or "<name>.<abbr>" when a name is given, opened here. Lets go of the file
    // held before. The handle; 0 when the file is neither open nor can be opened.
    uint16_t Open(const OpenFilesList& list, const std::string& abbr, const std::string& name = {},
                  uint16_t fileNo = 1);
    // Closes the file when it was opened here; either way the object holds no file after.
    void Close();

    uint16_t handle() const { return handle_; }
    // True when the file was opened here (and so is closed here).
    bool opened() const { return opened_; }
    // A side file reads as its handle in the data-file calls.
    operator uint16_t() const { return handle_; }

private:
    uint16_t handle_ = 0;
    bool opened_ = false;
};

}  // namespace dz::convert
