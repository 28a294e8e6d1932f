// The keys the first pass of the AR conversion collects: the record-ID text of each contact and
// customer of the text file, with its key field's text as the file gives it. A text file of a
// million customers collects a million pairs, so each pair is kept end to end in one arena (its
// two lengths, then its texts) and an open hash table of arena places finds them, instead of a
// tree node and two strings per pair. A look-up reads one slot and the pair it points at: the
// table is far larger than the caches, so every extra place read is a wait on memory. For the
// same reason pairs are only written down as the first pass meets them, and go into the table
// together at the first look-up, each slot asked for well before it is read.
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
    const char* At(uint64_t unit) const {
        const uint64_t offset = unit << kUnitBits;
        return blocks_[offset >> kBlockBits].get() + (offset & ((uint64_t{1} << kBlockBits) - 1));
    }
    static Header HeaderOf(const char* pair) {
        Header h;
        std::memcpy(&h, pair, sizeof h);
        return h;
    }
    // Room for `size` bytes in one block; the unit of the first.
    uint64_t Reserve(std::size_t size);
    std::size_t Probe(std::string_view idText, std::size_t hash, bool& found) const;
    // Puts the pairs written down since the last look-up into the table, in the order met.
    void Settle() const;
    void Resize(std::size_t slots) const;

    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t used_ = 0;  // bytes used in the last block, a whole number of units
    struct Slot {
        uint32_t unit = 0;  // the pair's unit + 1; 0 empty
        uint32_t hash = 0;  // low half of the text's hash: most misses end without reading the pair
    };
    // The table and what waits for it; both change at a look-up, which is why they are mutable.
    mutable std::size_t size_ = 0;      // pairs in the table
    mutable std::vector<Slot> slots_;   // a power of two, at most half full
    mutable std::vector<Slot> pending_; // written down, not yet in the table
};

}  // namespace dz::ar
