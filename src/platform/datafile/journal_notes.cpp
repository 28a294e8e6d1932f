#include "platform/datafile/journal_notes.h"

#include "platform/datafile/lock_file.h"
#include "platform/datafile/locks.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace dz::xio {
namespace {

// At the head of the lock file: a tag, how many nonces were ever noted (big-endian), then the
// latest kJournalNotes nonces, the n-th noted in slot n modulo kJournalNotes.
constexpr char kTag[8] = {'d', 'z', 'j', 'n', 'o', 't', 'e', '1'};
constexpr std::size_t kCountAt = sizeof(kTag);
constexpr std::size_t kSlotsAt = kCountAt + 4;
using Head = std::array<unsigned char, kSlotsAt + 4 * kJournalNotes>;

uint32_t get32(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
void put32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

// How many slots hold a nonce (0 when the head holds no notes).
uint32_t filled(const Head& head) {
    if (std::memcmp(head.data(), kTag, sizeof(kTag)) != 0) return 0;
    const uint32_t count = get32(&head[kCountAt]);
    return count < static_cast<uint32_t>(kJournalNotes) ? count : static_cast<uint32_t>(kJournalNotes);
}

// The head of the data file's lock file, when one may believe what it holds
// (lock_file_trusted); a head of no notes otherwise, or when there is none.
Head trusted_head(const std::string& dataFile) {
    Head head{};
    struct stat st {};
    if (!read_lock_file_head(dataFile, head.data(), head.size(), &st) ||
        !lock_file_trusted(dataFile, lock_file_path(dataFile).string(), st))
        head.fill(0);
    return head;
}

}  // namespace

std::optional<uint32_t> journal_nonce(int journalFd) {
    unsigned char header[16];
    std::size_t done = 0;
    while (done < sizeof(header)) {
        const ssize_t got = ::pread(journalFd, header + done, sizeof(header) - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return std::nullopt;
        done += static_cast<std::size_t>(got);
    }
    return get32(header + 12);
}

bool note_committed_journal(const std::string& dataFile, uint32_t nonce) {
    // Notes of a head no one may believe are not carried on: they are written afresh.
    Head head = trusted_head(dataFile);
    const uint32_t count = filled(head) == 0 ? 0 : get32(&head[kCountAt]);
    if (count == 0) head.fill(0);
    std::memcpy(head.data(), kTag, sizeof(kTag));
    put32(&head[kSlotsAt + 4 * (count % kJournalNotes)], nonce);
    put32(&head[kCountAt], count + 1 == 0 ? static_cast<uint32_t>(kJournalNotes) : count + 1);
    return write_lock_file_head(dataFile, head.data(), head.size());
}

bool committed_journal_noted(const std::string& dataFile, uint32_t nonce) {
    const Head head = trusted_head(dataFile);
    const uint32_t n = filled(head);
    for (uint32_t i = 0; i < n; ++i)
        if (get32(&head[kSlotsAt + 4 * i]) == nonce) return true;
    return false;
}

}  // namespace dz::xio
