// The record-ID texts met in a text file, each with a 16-bit value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dz::convert {

// A text file of millions of records meets millions of texts, and the map holds all of them
// until the file ends, so every byte per entry counts. Each entry is its value, its length and
// its bytes, end to end in large blocks (no pointer, no allocation of its own); an open hash
// table of 6-byte slots finds them. Entries never move, so a found entry stays valid while
// others are added. A record-ID text holds its key fields at their full widths, right-aligned
// ones behind runs of blanks, so a run of three or more blanks is kept as two bytes.
class RecordIdMap {
public:
    // An entry's text, stored (runs of blanks shortened) right behind it.
    class Text {
    public:
        Text(const Text&) = delete;  // its bytes stay behind the original
        Text& operator=(const Text&) = delete;
        std::string str() const;
        explicit operator std::string() const { return str(); }
        friend bool operator==(const Text& a, std::string_view b);
        friend std::ostream& operator<<(std::ostream& os, const Text& t) { return os << t.str(); }

    private:
        friend class RecordIdMap;
        Text() = default;
        std::string_view stored() const { return {data(), size()}; }
        std::size_t size() const;  // of the stored bytes
        const char* data() const;
        uint16_t length_ = 0;  // kLongText: the length follows in 4 bytes
    };
    struct Entry {
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;
        uint16_t second = 0;  // its value
        Text first;           // the text (last: its bytes follow the entry)

    private:
        friend class RecordIdMap;
        Entry() = default;
    };
    using iterator = Entry*;
    using const_iterator = const Entry*;

    // Texts a map holds without having them yet, which its owner puts in when asked: before any
    // call that could tell them from the texts it has. Fill(text) puts in whatever text of the same
    // part before its first tab may be waiting; Fill("") every text.
    class Source {
    public:
        virtual void Fill(std::string_view text) = 0;

    protected:
        ~Source() = default;
    };

    RecordIdMap() = default;
    RecordIdMap(const RecordIdMap& other);
    RecordIdMap& operator=(const RecordIdMap& other);
    RecordIdMap(RecordIdMap&& other) noexcept { *this = std::move(other); }
    RecordIdMap& operator=(RecordIdMap&& other) noexcept;

    iterator find(std::string_view text);
    const_iterator find(std::string_view text) const;
    iterator end() { return nullptr; }
    const_iterator end() const { return nullptr; }
    std::size_t count(std::string_view text) const { return find(text) ? 1 : 0; }
    // The value of a text that is in the map; std::out_of_range otherwise.
    uint16_t& at(std::string_view text);
    const uint16_t& at(std::string_view text) const;
    // The value of a text, added with 0 when it is not in the map yet.
    uint16_t& operator[](std::string_view text) { return emplace(text, 0).first->second; }
    // Adds a text with its value unless it is already in the map (which keeps its value).
    std::pair<iterator, bool> emplace(std::string_view text, uint16_t value);
    // The same for a caller that needs no answer: the text's slot is asked of memory now and
    // the text placed at the map's next call, so that the wait for a slot among millions
    // overlaps the caller's other work. (A failure to allocate surfaces at this call or the next.)
    void add(std::string_view text, uint16_t value);
    std::size_t erase(std::string_view text);
    std::size_t size() const {
        fillFor({});
        return settled().size_;
    }
    bool empty() const { return size() == 0; }
    void clear();
    // Room for `count` texts before the slot table grows, for a caller that knows how many are
    // coming (a second pass over a text file): the table is not rebuilt on the way. Only a map
    // that has held no text takes it; any other grows as texts come.
    void reserve(std::size_t count);
    // The bytes the map holds (its slots and blocks, not the object itself).
    std::size_t MemoryBytes() const;
    // The texts this map holds without having them yet (null: none); not copied with the map.
    void SetSource(Source* source) { source_ = source; }

private:
    void fillFor(std::string_view text) const {
        if (source_) source_->Fill(text);
    }
    Source* source_ = nullptr;

    static constexpr uint16_t kLongText = 0xFFFF;
    static constexpr uint32_t kEmpty = 0;
    static constexpr uint32_t kErased = 0xFFFFFFFFu;
    // Where an entry is (kEmpty, kErased or a reference into the blocks), and 16 bits of its
    // text's hash that the index does not use, which spare most comparisons of texts.
    struct Slot {
        uint16_t refLow = 0, refHigh = 0, tag = 0;
        uint32_t ref() const { return refLow | (uint32_t{refHigh} << 16); }
        void set(uint32_t r, uint16_t t) {
            refLow = static_cast<uint16_t>(r), refHigh = static_cast<uint16_t>(r >> 16), tag = t;
        }
    };
    // The map with the text `add` left pending placed.
    const RecordIdMap& settled() const {
        if (pending_) const_cast<RecordIdMap*>(this)->placePending();
        return *this;
    }
    void placePending();
    // The slot of `text`, or the slot where it would go (`found` false).
    std::size_t probe(std::string_view text, uint64_t hash, bool& found) const;
    Entry* entryAt(uint32_t ref) const;
    // Adds a text as stored (runs of blanks shortened) unless it is in the map already. With
    // `later`, a text above every text held is stored at once and its slot set at the next call.
    std::pair<iterator, bool> emplaceStored(std::string_view stored, uint16_t value, bool later = false);
    std::pair<iterator, bool> emplaceStored(std::string_view stored, uint16_t value, uint64_t hash, bool later = false);
    // Whether a stored text is above every text held (in the order of their bytes).
    bool aboveAll(std::string_view stored) const {
        return topRef_ != 0 ? stored > entryAt(topRef_)->first.stored() : size_ == 0;
    }
    uint32_t store(std::string_view stored, uint16_t value);
    void grow();

    // Memory for a slot table of millions: in 2 MB pages where the system offers them, since
    // every look-up lands on a page of its own.
    template <class T>
    struct SlotAllocator {
        using value_type = T;
        SlotAllocator() = default;
        template <class U>
        SlotAllocator(const SlotAllocator<U>&) {}
        T* allocate(std::size_t n);
        void deallocate(T* p, std::size_t n);
        friend bool operator==(const SlotAllocator&, const SlotAllocator&) { return true; }
    };
    // A power of two, at most three quarters full (erased slots count).
    std::vector<Slot, SlotAllocator<Slot>> slots_;
    std::vector<std::unique_ptr<uint16_t[]>> blocks_;
    std::vector<std::size_t> blockSizes_;  // in 2-byte units
    std::size_t blockUsed_ = 0;            // 2-byte units used in the last block
    std::vector<std::size_t> blockEnds_;   // 2-byte units used in each block before the last
    std::size_t dead_ = 0;                 // erased entries (still in the blocks)
    std::size_t size_ = 0, used_ = 0;      // live entries; slots not empty
    // A text `add` has not placed yet: its stored form, hash and value; or (pendingRef_ not 0)
    // the entry, stored already, of a new text whose slot is not set yet.
    bool pending_ = false;
    std::string pendingText_;
    uint64_t pendingHash_ = 0;
    uint16_t pendingValue_ = 0;
    uint32_t pendingRef_ = 0;
    // The entry of the highest stored text ever held (erased ones stay in the blocks), 0 for
    // none: texts above it are new without a look-up, as the texts of a file in key order are.
    uint32_t topRef_ = 0;
};

}  // namespace dz::convert
