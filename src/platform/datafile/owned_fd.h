// A descriptor closed when its holder goes.
#pragma once

#include <unistd.h>

namespace dz::xio {

struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& o) noexcept : fd(o.fd) { o.fd = -1; }
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) {
            reset();
            fd = o.fd;
            o.fd = -1;
        }
        return *this;
    }
    void reset(int f = -1) {
        if (fd >= 0) ::close(fd);
        fd = f;
    }
};

}  // namespace dz::xio
