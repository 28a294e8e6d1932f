// The keys the first pass of the AR conversion collects: the record-ID text of each contact and
// customer of the text file, with its key field's text as the file gives it. A text file of a
// million customers collects a million pairs, so the texts are kept end to end in one arena and
// an open hash table of indexes finds them, instead of a tree node and two strings per pair.
#pragma once

#include <cstdint>
#include <deque>
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
    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    void clear();

private:
    struct Item {
        uint64_t offset;   // of the record-ID text in the arena; the key follows it
        uint32_t idLen;
        uint32_t keyLen;
    };
    static constexpr unsigned kBlockBits = 20;  // 1 MB blocks
    const char* At(uint64_t offset) const {
        return blocks_[offset >> kBlockBits].get() + (offset & ((uint64_t{1} << kBlockBits) - 1));
    }
    std::string_view IdOf(const Item& item) const { return {At(item.offset), item.idLen}; }
    // Room for `size` bytes in one block; the offset of the first.
    uint64_t Reserve(std::size_t size);
    std::size_t Probe(std::string_view idText, std::size_t hash, bool& found) const;
    void Grow();

    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t used_ = 0;  // bytes used in the last block
    std::deque<Item> items_;
    struct Slot {
        uint32_t item = 0;  // item index + 1; 0 empty
        uint32_t hash = 0;  // low half of the text's hash: most misses end without reading the item
    };
    std::vector<Slot> slots_;  // a power of two, at most half full
};

}  // namespace dz::ar
