// A fast 64-bit hash of a stream of bytes, fed piece by piece. It tells whether two streams are
// the same (a converted text file and the file under its name now; a data file's backup copy and
// the file written back from it); it is no protection against someone who makes two streams
// collide on purpose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace dz {

class StreamHash {
public:
    // Adds the next bytes: the result is the same however the stream is cut into pieces.
    void Add(std::string_view bytes);
    // The hash of every byte added so far (more may be added after).
    uint64_t Value() const;
    uint64_t Length() const { return length_; }

private:
    static constexpr std::size_t kStripe = 32;  // four lanes of eight bytes
    uint64_t lanes_[4] = {0x60EA27EEADC0B5D6ull, 0xC2B2AE3D27D4EB4Full, 0, 0x61C8864E7A143579ull};
    unsigned char pending_[kStripe] = {};  // the bytes of a stripe not yet whole
    std::size_t pendingCount_ = 0;
    uint64_t length_ = 0;
};

}  // namespace dz
