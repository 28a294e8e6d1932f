#include "platform/datafile/stream_hash.h"

#include <algorithm>
#include <cstring>

namespace dz {

namespace {

constexpr uint64_t kP1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t kP2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t kP3 = 0x165667B19E3779F9ull;
constexpr uint64_t kP4 = 0x85EBCA77C2B2AE63ull;
constexpr uint64_t kP5 = 0x27D4EB2F165667C5ull;

constexpr uint64_t Rotl(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

// Little-endian whatever the machine: a company moved to another machine keeps its hashes.
uint64_t Load64(const unsigned char* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
uint32_t Load32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint64_t Round(uint64_t acc, uint64_t input) { return Rotl(acc + input * kP2, 31) * kP1; }
uint64_t Merge(uint64_t acc, uint64_t lane) { return (acc ^ Round(0, lane)) * kP1 + kP4; }

void Stripe(uint64_t (&lanes)[4], const unsigned char* p) {
    for (int i = 0; i < 4; ++i) lanes[i] = Round(lanes[i], Load64(p + 8 * i));
}

}  // namespace

void StreamHash::Add(std::string_view bytes) {
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    length_ += n;
    if (pendingCount_ > 0) {
        const std::size_t take = std::min(n, kStripe - pendingCount_);
        std::memcpy(pending_ + pendingCount_, p, take);
        pendingCount_ += take;
        p += take;
        n -= take;
        if (pendingCount_ < kStripe) return;
        Stripe(lanes_, pending_);
        pendingCount_ = 0;
    }
    for (; n >= kStripe; p += kStripe, n -= kStripe) Stripe(lanes_, p);
    std::memcpy(pending_, p, n);
    pendingCount_ = n;
}

uint64_t StreamHash::Value() const {
    uint64_t h = length_ >= kStripe ? Rotl(lanes_[0], 1) + Rotl(lanes_[1], 7) + Rotl(lanes_[2], 12) + Rotl(lanes_[3], 18)
                                    : lanes_[2] + kP5;
    if (length_ >= kStripe)
        for (const uint64_t lane : lanes_) h = Merge(h, lane);
    h += length_;
    const unsigned char* p = pending_;
    std::size_t n = pendingCount_;
    for (; n >= 8; p += 8, n -= 8) h = Rotl(h ^ Round(0, Load64(p)), 27) * kP1 + kP4;
    if (n >= 4) {
        h = Rotl(h ^ (Load32(p) * kP1), 23) * kP2 + kP3;
        p += 4;
        n -= 4;
    }
    for (; n > 0; ++p, --n) h = Rotl(h ^ (static_cast<uint64_t>(*p) * kP5), 11) * kP1;
    h ^= h >> 33;
    h *= kP2;
    h ^= h >> 29;
    h *= kP3;
    h ^= h >> 32;
    return h;
}

}  // namespace dz
