// Loaded into a program under test (LD_PRELOAD): the program is killed (SIGKILL, as a power cut
// or `kill -9` would end it) at the Nth point given by DZ_KILL_AT_SYNC, counting two points for
// each fsync or fdatasync it makes: just before the call and just after it returns. Without the
// variable, or past the last point, every call goes through untouched.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>

namespace {

long g_point = 0;

long KillPoint() {
    static const long at = [] {
        const char* v = std::getenv("DZ_KILL_AT_SYNC");
        return v ? std::atol(v) : 0L;
    }();
    return at;
}

void Point() {
    if (++g_point == KillPoint()) ::raise(SIGKILL);
}

template <typename Call>
int Synced(const char* name, int fd) {
    static const auto real = reinterpret_cast<Call>(::dlsym(RTLD_NEXT, name));
    Point();
    const int r = real(fd);
    Point();
    return r;
}

}  // namespace

extern "C" int fsync(int fd) { return Synced<int (*)(int)>("fsync", fd); }
extern "C" int fdatasync(int fd) { return Synced<int (*)(int)>("fdatasync", fd); }
