#include "platform/ui/line_spool.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
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

// Splits `bytes` at its line ends, giving each whole line to `each`; the unended rest stays in
// `partial`. False when `each` stopped.
bool split_lines(std::string& partial, std::string_view bytes, const std::function<bool(std::string_view)>& each) {
    for (;;) {
        const std::size_t end = bytes.find('\n');
        if (end == std::string_view::npos) {
            partial.append(bytes);
            return true;
        }
        bool go = true;
        if (partial.empty()) {
            go = each(bytes.substr(0, end));
        } else {
            partial.append(bytes.substr(0, end));
            go = each(partial);
            partial.clear();
        }
        if (!go) return false;
        bytes.remove_prefix(end + 1);
    }
}

// Reads the lines of the open file `fd` up to `limit` bytes (-1: to its end).
bool read_lines(int fd, off_t limit, const std::function<bool(std::string_view)>& each) {
    std::string chunk(kBufferBytes, '\0');
    std::string partial;
    off_t at = 0;
    while (limit < 0 || at < limit) {
        std::size_t want = chunk.size();
        if (limit >= 0) want = std::min<std::size_t>(want, static_cast<std::size_t>(limit - at));
        const ssize_t n = ::pread(fd, chunk.data(), want, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        at += n;
        if (!split_lines(partial, std::string_view(chunk.data(), static_cast<std::size_t>(n)), each)) return false;
    }
    if (limit >= 0 && at < limit) return false;  // the spool lost bytes it had taken
    return partial.empty() || each(partial);     // a file's last line without its line end
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
    split_lines(partial, buffer_, [this](std::string_view l) {
        kept_.emplace_back(l);
        return true;
    });
    buffer_.clear();
    buffer_.shrink_to_fit();
}

bool LineSpool::for_each(const std::function<bool(std::string_view)>& each) const {
    if (!file_.empty()) {
        const int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        const bool read = read_lines(fd, -1, each);
        ::close(fd);
        return read;
    }
    if (fd_ >= 0 && !read_lines(fd_, written_, each)) return false;
    std::string partial;
    if (!split_lines(partial, buffer_, each)) return false;
    for (const std::string& l : kept_)
        if (!each(l)) return false;
    return true;
}

std::vector<std::string> LineSpool::lines() const {
    std::vector<std::string> out;
    for_each([&out](std::string_view l) {
        out.emplace_back(l);
        return true;
    });
    return out;
}

}  // namespace dz::ui
