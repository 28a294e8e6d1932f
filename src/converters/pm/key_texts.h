// Keys a conversion keeps by the million for a pass after its records: each key a few short
// texts (a lease and its revision, a charge type, a unit).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <tuple>
#include <vector>

namespace dz::pm {

// A list of keys of N texts each. A string object costs 32 bytes before its text; here a key
// costs its texts' bytes, a byte of length each, and a 4-byte place: a million leases keep some
// 16 MB instead of 64. The texts lie end to end in blocks that never move, so the views a key
// gives stay valid while keys are added (until clear or assignment).
//
// `Key` is an aggregate of N std::string_view members, in the order the texts are given.
template <class Key, std::size_t N>
class KeyTexts {
public:
    KeyTexts() = default;
    KeyTexts(std::initializer_list<Key> keys) { *this = keys; }
    KeyTexts& operator=(std::initializer_list<Key> keys) {
        clear();
        for (const Key& k : keys) push_back(k);
        return *this;
    }

    void push_back(const Key& key) {
        const std::array<std::string_view, N> texts = Texts(key);
        std::size_t bytes = 0;
        for (std::string_view t : texts) bytes += LengthBytes(t.size()) + t.size();
        char* at = Room(bytes);
        for (std::string_view t : texts) {
            at = PutLength(at, t.size());
            if (!t.empty()) std::memcpy(at, t.data(), t.size());
            at += t.size();
        }
    }

    std::size_t size() const { return places_.size(); }
    bool empty() const { return places_.empty(); }
    Key operator[](std::size_t i) const {
        const uint32_t place = places_[i];
        const char* at = blocks_[place >> kOffsetBits].get() + (place & kOffsetMask);
        std::array<std::string_view, N> texts;
        for (std::string_view& t : texts) {
            std::size_t length = 0;
            at = GetLength(at, length);
            t = {at, length};
            at += length;
        }
        return std::make_from_tuple<Key>(texts);
    }
    // Keys of empty texts added, or keys dropped from the end.
    void resize(std::size_t count) {
        if (count < size()) places_.resize(count);
        while (size() < count) push_back(Key{});
    }
    void clear() {
        places_.clear();
        blocks_.clear();
        used_ = kBlockBytes;
    }

    class iterator {
    public:
        using value_type = Key;
        using difference_type = std::ptrdiff_t;
        iterator() = default;
        iterator(const KeyTexts* list, std::size_t at) : list_(list), at_(at) {}
        Key operator*() const { return (*list_)[at_]; }
        iterator& operator++() {
            ++at_;
            return *this;
        }
        iterator operator++(int) {
            iterator was = *this;
            ++at_;
            return was;
        }
        bool operator==(const iterator& other) const { return at_ == other.at_; }

    private:
        const KeyTexts* list_ = nullptr;
        std::size_t at_ = 0;
    };
    iterator begin() const { return {this, 0}; }
    iterator end() const { return {this, size()}; }

private:
    static std::array<std::string_view, N> Texts(const Key& key) {
        static_assert(N >= 1 && N <= 4, "a key of one to four texts");
        if constexpr (N == 1) {
            const auto& [a] = key;
            return {a};
        } else if constexpr (N == 2) {
            const auto& [a, b] = key;
            return {a, b};
        } else if constexpr (N == 3) {
            const auto& [a, b, c] = key;
            return {a, b, c};
        } else {
            const auto& [a, b, c, d] = key;
            return {a, b, c, d};
        }
    }
    // A length below 128 is one byte; longer ones take seven bits a byte, the high bit saying
    // another follows.
    static std::size_t LengthBytes(std::size_t length) {
        std::size_t n = 1;
        while (length >= 128) length >>= 7, ++n;
        return n;
    }
    static char* PutLength(char* at, std::size_t length) {
        while (length >= 128) {
            *at++ = static_cast<char>(0x80 | (length & 0x7F));
            length >>= 7;
        }
        *at++ = static_cast<char>(length);
        return at;
    }
    static const char* GetLength(const char* at, std::size_t& length) {
        length = 0;
        for (unsigned shift = 0;; shift += 7) {
            const auto byte = static_cast<unsigned char>(*at++);
            length |= std::size_t{byte & 0x7Fu} << shift;
            if (!(byte & 0x80)) return at;
        }
    }

    // A place is its block's number and the offset in it. A key longer than a block has a block
    // of its own, at offset 0.
    static constexpr unsigned kOffsetBits = 16;
    static constexpr uint32_t kOffsetMask = (1u << kOffsetBits) - 1;
    static constexpr std::size_t kBlockBytes = std::size_t{1} << kOffsetBits;
    static constexpr std::size_t kMaxBlocks = std::size_t{1} << (32 - kOffsetBits);

    // Where `bytes` more go, its place listed.
    char* Room(std::size_t bytes) {
        if (used_ + bytes > kBlockBytes) {
            if (blocks_.size() >= kMaxBlocks) throw std::length_error("too many keys kept");
            blocks_.push_back(std::make_unique<char[]>(std::max(bytes, kBlockBytes)));
            used_ = 0;
        }
        places_.push_back(static_cast<uint32_t>(((blocks_.size() - 1) << kOffsetBits) | used_));
        char* at = blocks_.back().get() + used_;
        // A key of its own block fills it: the next key starts a new one.
        used_ = bytes > kBlockBytes ? kBlockBytes : used_ + bytes;
        return at;
    }

    std::deque<uint32_t> places_;  // a deque: a million keys grow without a second copy
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t used_ = kBlockBytes;  // bytes used in the last block (none yet: full)
};

}  // namespace dz::pm
