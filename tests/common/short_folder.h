// Where a test makes the folders whose paths the program's reports show: a report shows a path
// longer than its column by the file's name alone and wraps a long line, so a test that compares
// what a report lays out needs folders whose paths are as long on every machine, however long
// the path of the system's temporary folder (TMPDIR) is.
#pragma once

#include <unistd.h>

#include <filesystem>

namespace dz::testing_support {

// "/tmp", whatever TMPDIR says; the system's temporary folder only where there is no /tmp to
// write in.
inline std::filesystem::path ShortTempFolder() {
    if (::access("/tmp", W_OK | X_OK) == 0) return "/tmp";
    return std::filesystem::temp_directory_path();
}

}  // namespace dz::testing_support
