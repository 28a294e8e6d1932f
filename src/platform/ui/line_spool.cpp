#include "platform/ui/line_spool.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace dz::ui {
namespace {

// Lines gather in memory up to this many bytes before they go to the file: a short report never
// touches the disk, a long one is written in large pieces.
constexpr std::size_t kBufferBytes = 64 * 1024;

// An unnamed file in the temporary folder, readable and writable by this process alone and
// removed when its last descriptor closes; -1 when none can be made.
int unnamed_temporary_file() {
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec) dir = "/tmp";
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    // A file system without unnamed files: a named one, unlinked at once.
    std::string name = (dir / "dodedoz-spool-XXXXXX").string();
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(name.c_str());
    return fd;
}

bool write_at(int fd, const std::string& bytes, off_t at) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, at + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

using Each = std::function<bool(std::string_view, std::uint64_t)>;

std::function<ssize_t(int, char*, std::size_t, off_t)>& read_hook() {
    static std::function<ssize_t(int, char*, std::size_t, off_t)> hook;
    return hook;
}

ssize_t read_at(int fd, char* buf, std::size_t n, off_t at) {
    return read_hook() ? read_hook()(fd, buf, n, at) : ::pread(fd, buf, n, at);
}

// Splits `bytes` at its line ends, giving each whole line to `each` with where it starts (`at`,
// moved past it); the unended rest stays in `partial`. False when `each` stopped.
bool split_lines(std::string& partial, std::string_view bytes, std::uint64_t& at, const Each& each) {
    for (;;) {
        const std::size_t end = bytes.find('\n');
        if (end == std::string_view::npos) {
            partial.append(bytes);
            return true;
        }
        bool go = true;
        const std::uint64_t start = at;
        if (partial.empty()) {
            go = each(bytes.substr(0, end), start);
            at += end + 1;
        } else {
            partial.append(bytes.substr(0, end));
            go = each(partial, start);
            at += partial.size() + 1;
            partial.clear();
        }
        if (!go) return false;
        bytes.remove_prefix(end + 1);
    }
}

// Reads the lines of the open file `fd` from `from` up to `limit` bytes (-1: to its end).
bool read_lines(int fd, off_t from, off_t limit, const Each& each) {
    std::string chunk(kBufferBytes, '\0');
    std::string partial;
    off_t at = from;
    std::uint64_t line = static_cast<std::uint64_t>(from);
    while (limit < 0 || at < limit) {
        std::size_t want = chunk.size();
        if (limit >= 0) want = std::min<std::size_t>(want, static_cast<std::size_t>(limit - at));
        const ssize_t n = read_at(fd, chunk.data(), want, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        at += n;
        if (!split_lines(partial, std::string_view(chunk.data(), static_cast<std::size_t>(n)), line, each)) return false;
    }
    if (limit >= 0 && at < limit) return false;         // the spool lost bytes it had taken
    return partial.empty() || each(partial, line);      // a file's last line without its line end
}

}  // namespace

LineSpool::~LineSpool() {
    if (fd_ >= 0) ::close(fd_);
}

std::shared_ptr<const LineSpool> LineSpool::of_file(std::string path) {
    auto spool = std::make_shared<LineSpool>();
    spool->file_ = std::move(path);
    return spool;
}

void LineSpool::add(std::string_view line) {
    if (no_file_) {
        kept_.emplace_back(line);
        kept_bytes_ += line.size() + 1;
        return;
    }
    buffer_.append(line);
    buffer_.push_back('\n');
    if (buffer_.size() >= kBufferBytes) flush();
}

void LineSpool::flush() {
    if (buffer_.empty() || no_file_) return;
    if (fd_ < 0) fd_ = unnamed_temporary_file();
    if (fd_ >= 0 && write_at(fd_, buffer_, written_)) {
        written_ += static_cast<off_t>(buffer_.size());
        buffer_.clear();
        return;
    }
    // Nowhere to spool: what the buffer holds, and every line after it, stays in memory.
    no_file_ = true;
    std::string partial;
    std::uint64_t at = 0;
    split_lines(partial, buffer_, at, [this](std::string_view l, std::uint64_t) {
        kept_.emplace_back(l);
        kept_bytes_ += l.size() + 1;
        return true;
    });
    buffer_.clear();
    buffer_.shrink_to_fit();
}

bool LineSpool::for_each(const std::function<bool(std::string_view)>& each) const {
    return for_each_from(0, [&each](std::string_view line, std::uint64_t) { return each(line); });
}

bool LineSpool::for_each_from(std::uint64_t from, const Each& each) const {
    if (!file_.empty()) {
        // A report sent to a device (/dev/null, a printer's port) kept nothing to read back, and
        // some give bytes without end (/dev/zero): only a regular file is read.
        const int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return false;
        struct stat st {};
        const bool read = ::fstat(fd, &st) == 0 && (!S_ISREG(st.st_mode) ||
                                                    read_lines(fd, static_cast<off_t>(from), -1, each));
        ::close(fd);
        return read;
    }
    // The lines in order: the temporary file's, the buffer's, then those kept in memory.
    const auto written = static_cast<std::uint64_t>(written_);
    if (fd_ >= 0 && from < written && !read_lines(fd_, static_cast<off_t>(from), written_, each)) return false;
    std::uint64_t at = written;
    std::string partial;
    if (from < at + buffer_.size()) {
        const std::size_t skip = from > at ? static_cast<std::size_t>(from - at) : 0;
        at += skip;
        if (!split_lines(partial, std::string_view(buffer_).substr(skip), at, each)) return false;
    } else {
        at += buffer_.size();
    }
    for (const std::string& l : kept_) {
        if (at >= from && !each(l, at)) return false;
        at += l.size() + 1;
    }
    return true;
}

std::uint64_t LineSpool::size() const {
    if (!file_.empty()) {
        struct stat st {};
        return ::stat(file_.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    }
    return static_cast<std::uint64_t>(written_) + buffer_.size() + kept_bytes_;
}

std::vector<std::string> LineSpool::lines() const {
    std::vector<std::string> out;
    for_each([&out](std::string_view l) {
        out.emplace_back(l);
        return true;
    });
    return out;
}

void set_spool_read_hook_for_tests(std::function<ssize_t(int, char*, std::size_t, off_t)> read) {
    read_hook() = std::move(read);
}

}  // namespace dz::ui
