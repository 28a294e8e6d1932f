// The keys the first pass of the AR conversion collects: the record-ID text of each contact and
// customer of the text file, with its key field's text as the file gives it. A text file of a
// million customers collects a million pairs, so each pair is kept end to end in one arena (its
// two lengths, then its texts) and open hash tables of arena places find them, instead of a
// tree node and two strings per pair. A look-up reads one slot and the pair it points at: the
// tables are far larger than the caches, so every extra place read is a wait on memory. For the
// same reason pairs are only written down as the first pass meets them, and go into the tables
// together at the first look-up, each slot asked for well before it is read.
//
// A record-ID text is mostly its record's prefix followed by the key itself. While every pair
// written down is so made, with one prefix, a pair's key is found through its record-ID text
// (the prefix and the key), and the table by key is neither built nor kept: the first pair
// that is not so made starts it, over every pair written down before.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dz::ar {

class PrepassKeys {
public:
    // Adds the pair unless `idText` is already there (the first value stays).
    void emplace(std::string_view idText, std::string_view key);
    // The key stored for `idText` (compared exactly); false when there is none.
    bool find(std::string_view idText, std::string& key) const;
    // Whether a pair kept (the first for its record-ID text) has exactly `key` as its key.
    bool hasKey(std::string_view key) const;
    // Asks memory for the slot hasKey(key) reads first, so that other work overlaps the wait.
    void prefetchKey(std::string_view key) const;
    std::size_t size() const {
        Settle();
        return size_;
    }
    bool empty() const { return size_ == 0 && pending_.empty(); }
    void clear();

private:
    // Pairs start on 8-byte units, so a slot names a pair by a 32-bit unit number.
    static constexpr unsigned kUnitBits = 3;
    static constexpr unsigned kBlockBits = 20;  // 1 MB blocks
    struct Header {
        uint32_t idLen;
        uint32_t keyLen;
    };
    struct Slot {
        uint32_t unit = 0;  // the pair's unit + 1; 0 empty
        uint32_t hash = 0;  // low half of the text's hash: most misses end without reading the pair
    };
    enum class By { Id, Key };

    const char* At(uint64_t unit) const {
        const uint64_t offset = unit << kUnitBits;
        return blocks_[offset >> kBlockBits].get() + (offset & ((uint64_t{1} << kBlockBits) - 1));
    }
    static Header HeaderOf(const char* pair) {
        Header h;
        std::memcpy(&h, pair, sizeof h);
        return h;
    }
    static std::string_view IdOf(const char* pair) { return {pair + sizeof(Header), HeaderOf(pair).idLen}; }
    static std::string_view KeyOf(const char* pair) {
        const Header h = HeaderOf(pair);
        return {pair + sizeof(Header) + h.idLen, h.keyLen};
    }
    // Room for `size` bytes in one block; the unit of the first.
    uint64_t Reserve(std::size_t size);
    // The slot of the pair whose record-ID text (or key) is `text`, else the empty slot that
    // ends its run.
    std::size_t Probe(const std::vector<Slot>& slots, By by, std::string_view text, std::size_t hash,
                      bool& found) const;
    // Puts the pairs written down since the last look-up into the tables, in the order met.
    void Settle() const;
    static void Resize(std::vector<Slot>& slots, std::size_t size);

    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t used_ = 0;  // bytes used in the last block, a whole number of units
    // The tables and what waits for them; they change at a look-up, which is why they are mutable.
    mutable std::size_t size_ = 0;        // pairs in the tables
    mutable std::vector<Slot> slots_;     // by record-ID text: a power of two, at most half full
    mutable std::vector<Slot> keySlots_;  // the same pairs by key, as large
    struct Pending {
        uint32_t unit;  // as in Slot
        uint32_t idHash;
        uint32_t keyHash;  // while there is a table by key
    };
    mutable std::vector<Pending> pending_;  // written down, not yet in the tables
    // Whether the table by key is kept; else every pair written down has the record-ID text
    // `prefix_` + its key (`prefixed_` once the first pair gave the prefix).
    bool byKey_ = false;
    bool prefixed_ = false;
    std::string prefix_;
    mutable std::string prefixedKey_;  // a look-up's `prefix_` + key, kept for its room
    // Starts the table by key: the key hashes of the pairs waiting, and the pairs in the tables.
    void StartByKey();
    // The record-ID text a pair of key `key` has while there is no table by key.
    std::string_view Prefixed(std::string_view key) const {
        prefixedKey_.assign(prefix_).append(key);
        return prefixedKey_;
    }
};

}  // namespace dz::ar
