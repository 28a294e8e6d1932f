// A text file opened once for a whole conversion.
//
// The file is opened without blocking and checked on its descriptor (files::open_input_file),
// and every later read goes through that descriptor: the record passes, the reject file's
// copies and the time stamp. A file swapped in under the same name after the open is never
// read; the stamp is then refused rather than written over the newcomer. Nothing here holds
// the file whole: it is read in pieces at given offsets.
#pragma once

#include "platform/import/xvl_encoding.h"
#include "platform/datafile/stream_hash.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace dz::xvl {

class TextSource {
public:
    // Opens `path`. Null when it cannot be opened or is not a regular file; `notRegular` then
    // says which, and `what` names what the path is (or why the open failed).
    static std::shared_ptr<TextSource> Open(const std::string& path, bool* notRegular = nullptr,
                                            std::string* what = nullptr);
    ~TextSource();
    TextSource(const TextSource&) = delete;
    TextSource& operator=(const TextSource&) = delete;

    const std::string& Path() const { return path_; }
    // The size when opened (progress is measured against it).
    uint64_t Size() const { return size_; }
    // Up to `n` bytes from `offset`: the count read, 0 at the end, -1 on a read error.
    long ReadAt(uint64_t offset, char* buffer, std::size_t n) const;
    // The hash and length of the whole file as this source read it. Every byte is hashed once,
    // when a read first reaches it in order from the start, so a second reading of the file
    // hashes nothing and cannot change it; what no read reached yet is read here, to the end.
    // False on a read error.
    bool WholeHash(uint64_t& hash, uint64_t& length) const;
    // At most `limit` bytes from the start.
    bool ReadHead(std::size_t limit, std::string& out) const;
    // Copies the bytes [begin, end) to `out`, in pieces. False on a read or write error, or
    // when the file no longer holds them all.
    // kToEnd as `end` copies up to the end of the file, whatever it is then; `copied` receives
    // the count.
    static constexpr uint64_t kToEnd = ~uint64_t{0};
    bool CopyRange(uint64_t begin, uint64_t end, std::FILE* out) const;
    bool CopyRange(uint64_t begin, uint64_t end, int fd, uint64_t* copied = nullptr) const;
    int Fd() const { return fd_; }
    // The encoding of the whole file, decided by one streaming look and then kept. None on a
    // read error.
    std::optional<TextEncoding> Encoding() const;
    // For a file read as Windows-1252: the number (from 1) of its first line that is not valid
    // UTF-8; 0 for a UTF-8 file or on a read error.
    uint64_t FirstNonUtf8Line() const;
    // Does `path` still name the file that was opened (links resolved)?
    bool StillNamedBy(const std::string& path) const;

    // The size of the pieces read.
    static constexpr std::size_t kPiece = 1 << 20;

private:
    TextSource(std::string path, int fd, uint64_t size) : path_(std::move(path)), fd_(fd), size_(size) {}
    template <typename Sink>
    bool copyRange(uint64_t begin, uint64_t end, Sink&& sink, uint64_t* copied) const;

    std::string path_;
    int fd_ = -1;
    uint64_t size_ = 0;
    mutable std::optional<TextEncoding> encoding_;
    mutable uint64_t nonUtf8At_ = 0;  // the offset of the first byte that is not UTF-8
    mutable StreamHash hash_;         // over the bytes [0, hash_.Length()) as they were read
};

// What is said of a text file read as Windows-1252, by every command that reads one (12918: `path`
// and its first line that is not UTF-8); empty for a UTF-8 file.
std::string Windows1252Note(const TextSource& text, const std::string& path);

}  // namespace dz::xvl
