#include "platform/datafile/journal_removal.h"

#include "platform/datafile/owned_fd.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace dz::xio {
namespace {

std::mutex g_hookMutex;
std::function<void(const std::string&)> g_emptiedHook;

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Empties the file standing at `journal` while it is still `named`; the data file it served is
// whole on disk by then (its writer synced it before its journal goes).
void empty_names_of(const std::string& journal, const struct stat& named) {
    const Fd fd(::open(journal.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat held {};
    if (fd.fd < 0 || ::fstat(fd.fd, &held) != 0 || !same_file(held, named)) return;
    if (::ftruncate(fd.fd, 0) == 0) (void)::fsync(fd.fd);
}

}  // namespace

int remove_journal(const JournalRemoval& r) {
    struct stat named {};
    if (::lstat(r.journal.c_str(), &named) != 0) return errno;
    if (!S_ISREG(named.st_mode)) return EINVAL;
    if (r.inode != 0 && (named.st_dev != r.device || named.st_ino != r.inode)) return ESTALE;
    if (named.st_nlink > 1) {
        empty_names_of(r.journal, named);
        std::function<void(const std::string&)> hook;
        {
            std::lock_guard<std::mutex> lock(g_hookMutex);
            hook = g_emptiedHook;
        }
        if (hook) hook(r.journal);
    }
    if (::unlink(r.journal.c_str()) != 0) return errno;
    if (r.syncFolder) {
        const std::string::size_type slash = r.journal.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : r.journal.substr(0, slash);
        const Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.fd < 0 || ::fsync(dir.fd) != 0) return errno;
    }
    return 0;
}

void set_journal_emptied_hook_for_tests(std::function<void(const std::string& journal)> hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_emptiedHook = std::move(hook);
}

}  // namespace dz::xio
