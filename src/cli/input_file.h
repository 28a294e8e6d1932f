// The files a person names to a command for reading (a load file, a table text file, the text
// files of a prefill): each is checked the one way, on an open that cannot block, so that a
// FIFO, a folder or a device is refused at once with what it is.
#pragma once

#include <string>

namespace dz::cli {

// Opens `path` for `command` ("load", "tables import"): kExitOk with `fd` (the caller's to
// close); otherwise the message is on standard error and the exit status is returned
// (`missing` for a name that does not exist, 2 for anything that is not a regular file or
// cannot be read).
int open_input(const std::string& command, const std::string& path, int& fd, int missing = 64);
// The same check, the file closed again (the command reads it by its own means, which open it
// the same way).
int check_input(const std::string& command, const std::string& path);

}  // namespace dz::cli
