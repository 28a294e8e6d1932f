#include "platform/import/xvl_source.h"

#include "platform/import/xvl_rcstring.h"
#include "platform/import/xvl_text.h"
#include "platform/ui/own_files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace dz::xvl {

namespace {

// How many bytes at the end of `data` begin a UTF-8 character that the data cuts off (0 to 3).
std::size_t cutCharacter(std::string_view data) {
    const std::size_t n = data.size();
    for (std::size_t back = 1; back <= 3 && back <= n; ++back) {
        const auto c = static_cast<unsigned char>(data[n - back]);
        if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        const std::size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return len > back ? back : 0;
    }
    return 0;
}

}  // namespace

std::shared_ptr<TextSource> TextSource::Open(const std::string& path, bool* notRegular, std::string* what) {
    int fd = -1;
    std::string why;
    unsigned long long size = 0;
    const files::InputOpen r = files::open_input_file(path, fd, why, &size);
    if (notRegular) *notRegular = r == files::InputOpen::NotRegular;
    if (what) *what = why;
    if (r != files::InputOpen::Ok) return nullptr;
    return std::shared_ptr<TextSource>(new TextSource(path, fd, size));
}

TextSource::~TextSource() {
    if (fd_ >= 0) ::close(fd_);
}

long TextSource::ReadAt(uint64_t offset, char* buffer, std::size_t n) const {
    while (true) {
        const ssize_t r = ::pread(fd_, buffer, n, static_cast<off_t>(offset));
        if (r < 0 && errno == EINTR) continue;
        // The bytes read past what the hash covers, when this read reaches its end: the
        // conversion's own reading hashes the file, with no pass of its own.
        const uint64_t hashed = hash_.Length();
        if (r > 0 && offset <= hashed && hashed < offset + static_cast<uint64_t>(r)) {
            const auto skip = static_cast<std::size_t>(hashed - offset);
            hash_.Add(std::string_view(buffer + skip, static_cast<std::size_t>(r) - skip));
        }
        return static_cast<long>(r);
    }
}

bool TextSource::WholeHash(uint64_t& hash, uint64_t& length) const {
    std::vector<char> piece(256 * 1024);
    long r = 0;
    do r = ReadAt(hash_.Length(), piece.data(), piece.size());  // each read hashes what it adds
    while (r > 0);
    if (r < 0) return false;
    hash = hash_.Value();
    length = hash_.Length();
    return true;
}

bool TextSource::ReadHead(std::size_t limit, std::string& out) const {
    out.resize(limit);
    std::size_t got = 0;
    while (got < limit) {
        const long r = ReadAt(got, out.data() + got, limit - got);
        if (r < 0) {
            out.clear();
            return false;
        }
        if (r == 0) break;
        got += static_cast<std::size_t>(r);
    }
    out.resize(got);
    return true;
}

template <typename Sink>
bool TextSource::copyRange(uint64_t begin, uint64_t end, Sink&& sink, uint64_t* copied) const {
    if (copied) *copied = 0;
    std::vector<char> piece(static_cast<std::size_t>(std::min<uint64_t>(kPiece, end > begin ? end - begin : 1)));
    while (begin < end) {
        const long r = ReadAt(begin, piece.data(), static_cast<std::size_t>(std::min<uint64_t>(piece.size(), end - begin)));
        if (r == 0 && end == kToEnd) return true;
        if (r <= 0) return false;
        if (!sink(std::string_view(piece.data(), static_cast<std::size_t>(r)))) return false;
        begin += static_cast<uint64_t>(r);
        if (copied) *copied += static_cast<uint64_t>(r);
    }
    return true;
}

bool TextSource::CopyRange(uint64_t begin, uint64_t end, std::FILE* out) const {
    return copyRange(begin, end, [&](std::string_view b) { return std::fwrite(b.data(), 1, b.size(), out) == b.size(); },
                     nullptr);
}

bool TextSource::CopyRange(uint64_t begin, uint64_t end, int fd, uint64_t* copied) const {
    // File to file inside the kernel: the bytes are copied once, not read out and written back
    // (a stamp copies the whole text file). Where that cannot be done (another file system, an
    // older kernel, a descriptor it does not take), the rest goes piece by piece; `fd` has moved
    // on by exactly what was copied.
    uint64_t done = 0;
    if (copied) *copied = 0;
    while (begin < end) {
        loff_t from = static_cast<loff_t>(begin);
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(end - begin, uint64_t{1} << 30));
        const ssize_t r = ::copy_file_range(fd_, &from, fd, nullptr, want, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            if (done == 0 || errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
                errno == EBADF) {
                uint64_t rest = 0;
                const bool ok =
                    copyRange(begin, end, [&](std::string_view b) { return files::write_all(fd, b); }, &rest);
                if (copied) *copied = done + rest;
                return ok;
            }
            return false;
        }
        if (r == 0) return end == kToEnd;  // the file ends here
        begin += static_cast<uint64_t>(r);
        done += static_cast<uint64_t>(r);
        if (copied) *copied = done;
    }
    return true;
}

std::optional<TextEncoding> TextSource::Encoding() const {
    if (encoding_) return encoding_;
    // Piece by piece, a character cut at a piece's end carried into the next.
    std::vector<char> piece(kPiece + 4);
    std::size_t carried = 0;
    uint64_t offset = 0;
    bool first = true;
    while (true) {
        const long r = ReadAt(offset, piece.data() + carried, kPiece);
        if (r < 0) return std::nullopt;
        const uint64_t start = offset - carried;  // the file offset of the piece's first byte
        offset += static_cast<uint64_t>(r);
        std::string_view data(piece.data(), carried + static_cast<std::size_t>(r));
        std::size_t skipped = 0;
        if (first) {
            skipped = Utf8BomLength(data);
            data.remove_prefix(skipped);
            first = false;
        }
        // The end: a character still cut is invalid.
        const std::size_t cut = r == 0 ? 0 : cutCharacter(data);
        const std::size_t valid = Utf8ValidLength(data.substr(0, data.size() - cut));
        if (valid < data.size() - cut) {
            nonUtf8At_ = start + skipped + valid;
            encoding_ = TextEncoding::Windows1252;
            return encoding_;
        }
        if (r == 0) {
            encoding_ = TextEncoding::Utf8;
            return encoding_;
        }
        std::memmove(piece.data(), data.data() + data.size() - cut, cut);
        carried = cut;
    }
}

uint64_t TextSource::FirstNonUtf8Line() const {
    if (Encoding() != TextEncoding::Windows1252) return 0;
    // Line ends before that byte, each of LF, CR, CR LF and LF CR counting once, as the reader
    // counts them: a Ctrl-Z between a line end and its partner does not part them.
    std::vector<char> piece(kPiece);
    uint64_t line = 1;
    char previous = 0;
    for (uint64_t offset = 0; offset < nonUtf8At_;) {
        const long r = ReadAt(offset, piece.data(), static_cast<std::size_t>(std::min<uint64_t>(kPiece, nonUtf8At_ - offset)));
        if (r <= 0) return 0;
        for (long i = 0; i < r; ++i) {
            const char c = piece[static_cast<std::size_t>(i)];
            if (c == '\n' || c == '\r') {
                const bool pair = (previous == '\r' && c == '\n') || (previous == '\n' && c == '\r');
                if (!pair) ++line;
                previous = pair ? 0 : c;
            } else if (c != kCtrlZ) {
                previous = 0;
            }
        }
        offset += static_cast<uint64_t>(r);
    }
    return line;
}

bool TextSource::StillNamedBy(const std::string& path) const { return files::same_file(fd_, path); }

std::string Windows1252Note(const TextSource& text, const std::string& path) {
    if (text.Encoding() != TextEncoding::Windows1252) return {};
    constexpr int kMsgReadAsWindows1252 = 12918;
    return xvlRCString::Get(kMsgReadAsWindows1252, path, std::to_string(text.FirstNonUtf8Line()));
}

}  // namespace dz::xvl
