#include "cli/input_file.h"

#include "cli/commands.h"
#include "platform/ui/own_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <iostream>

namespace dz::cli {

int open_input(const std::string& command, const std::string& path, int& fd, int missing) {
    std::string what;
    switch (files::open_input_file(path, fd, what)) {
        case files::InputOpen::Ok:
            return kExitOk;
        case files::InputOpen::NotRegular:
            std::cerr << "dodedoz-cli: " << command << ": " << path << " is " << what << ", not a file\n";
            return kExitFailure;
        case files::InputOpen::CannotOpen:
            break;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        std::cerr << "dodedoz-cli: " << command << ": " << path << " does not exist\n";
        return missing;
    }
    std::cerr << "dodedoz-cli: " << command << ": cannot read " << path << ": " << what << "\n";
    return kExitFailure;
}

int check_input(const std::string& command, const std::string& path) {
    int fd = -1;
    const int rc = open_input(command, path, fd);
    if (fd >= 0) ::close(fd);
    return rc;
}

}  // namespace dz::cli
