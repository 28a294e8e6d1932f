#include "convert/record_id_map.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace dz::convert {

namespace {

// A reference is a block number and an offset in it (in 2-byte units), plus one so that 0 is
// never a reference. Blocks hold 1 MiB; a longer text gets a block of its own.
constexpr unsigned kOffsetBits = 19;
constexpr std::size_t kBlockUnits = std::size_t{1} << kOffsetBits;
constexpr std::size_t kMaxBlocks = (std::size_t{1} << (32 - kOffsetBits)) - 1;

uint16_t Tag(uint64_t hash) { return static_cast<uint16_t>(hash >> 48); }

// Record-ID texts are short (a few dozen bytes) and differ mostly in their last bytes: sixteen
// bytes at a time folded by one wide multiplication, the overlapping last words of the text
// likewise, so that every bit of the result depends on every byte (the index takes the low bits,
// the tag the high ones).
__extension__ using Wide = unsigned __int128;

uint64_t Fold(uint64_t a, uint64_t b) {
    const Wide r = static_cast<Wide>(a) * b;
    return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
}

uint64_t Load64(const char* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint64_t Load32(const char* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint64_t Hash(std::string_view text) {
    constexpr uint64_t k0 = 0xA0761D6478BD642Full, k1 = 0xE7037ED1A0B428DBull, k2 = 0x8EBC6AF09C88C6E3ull;
    const char* p = text.data();
    const std::size_t size = text.size();
    std::size_t n = size;
    uint64_t seed = k0 ^ size;
    for (; n > 16; p += 16, n -= 16) seed = Fold(Load64(p) ^ k1, Load64(p + 8) ^ seed);
    uint64_t a = 0, b = 0;
    if (n >= 8) {
        a = Load64(p), b = Load64(p + n - 8);
    } else if (n >= 4) {
        a = Load32(p), b = Load32(p + n - 4);
    } else if (n > 0) {
        a = (uint64_t{static_cast<unsigned char>(p[0])} << 16) | (uint64_t{static_cast<unsigned char>(p[n / 2])} << 8) |
            static_cast<unsigned char>(p[n - 1]);
    }
    return Fold(k1 ^ size, Fold(a ^ k1, b ^ seed) ^ k2);
}

// How a text is stored: a run of n blanks (3 <= n <= 255) as kRun and n; a kRun byte of the text
// as kRun and 1; every other byte as it is. Two texts are equal exactly when their stored forms
// are, so lookups compare and hash stored forms.
constexpr char kRun = '\x01';

void Shorten(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == ' ') {
            std::size_t n = 1;
            while (i + n < text.size() && text[i + n] == ' ') ++n;
            i += n;
            for (; n >= 3; n -= std::min<std::size_t>(n, 255)) {
                out += kRun;
                out += static_cast<char>(std::min<std::size_t>(n, 255));
            }
            out.append(n, ' ');
            continue;
        }
        out += c;
        if (c == kRun) out += '\x01';
        ++i;
    }
}

// The stored form of a text looked up (valid until the next lookup). Every record passes here
// once or more, so a text without kRun bytes (all of them in practice) is copied a stretch at a
// time between its runs of blanks into a buffer that only ever grows.
std::string_view Stored(std::string_view text) {
    static thread_local std::string buffer;
    const char* in = text.data();
    const char* const end = in + text.size();
    if (text.empty() || std::memchr(in, kRun, text.size())) {
        Shorten(text, buffer);
        return buffer;
    }
    if (buffer.size() < text.size()) buffer.resize(std::max<std::size_t>(text.size(), 2 * buffer.size()));
    char* const start = buffer.data();
    char* out = start;
    while (in < end) {
        const auto* blank = static_cast<const char*>(std::memchr(in, ' ', static_cast<std::size_t>(end - in)));
        if (!blank) blank = end;
        std::memcpy(out, in, static_cast<std::size_t>(blank - in));
        out += blank - in;
        in = blank;
        if (in == end) break;
        std::size_t n = 1;
        while (in + n < end && in[n] == ' ') ++n;
        in += n;
        // Never longer than the blanks it stands for: the buffer holds the text's size.
        for (; n >= 3; n -= std::min<std::size_t>(n, 255)) {
            *out++ = kRun;
            *out++ = static_cast<char>(std::min<std::size_t>(n, 255));
        }
        for (; n > 0; --n) *out++ = ' ';
    }
    return {start, static_cast<std::size_t>(out - start)};
}

std::size_t UnitsFor(std::size_t textSize, bool longText) {
    return (4 + (longText ? 4 : 0) + textSize + 1) / 2;
}

}  // namespace

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kHugeFrom = 2 * kHugePage;  // smaller tables take ordinary memory

}  // namespace

template <class T>
T* RecordIdMap::SlotAllocator<T>::allocate(std::size_t n) {
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kHugeFrom) return static_cast<T*>(::operator new(bytes));
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (!p) throw std::bad_alloc();
#if defined(__linux__)
    (void)madvise(p, rounded, MADV_HUGEPAGE);  // advice only: ordinary pages serve as well
#endif
    return static_cast<T*>(p);
}

template <class T>
void RecordIdMap::SlotAllocator<T>::deallocate(T* p, std::size_t n) {
    if (n * sizeof(T) < kHugeFrom) ::operator delete(p);
    else std::free(p);
}

template struct RecordIdMap::SlotAllocator<RecordIdMap::Slot>;

static_assert(sizeof(RecordIdMap::Entry) == 4 && alignof(RecordIdMap::Entry) == 2,
              "an entry's text starts right behind its four bytes");

std::string RecordIdMap::Text::str() const {
    std::string out;
    const std::string_view s = stored();
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != kRun || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const auto n = static_cast<unsigned char>(s[++i]);
        if (n == 1) out += kRun;
        else out.append(n, ' ');
    }
    return out;
}

bool operator==(const RecordIdMap::Text& a, std::string_view b) { return a.stored() == Stored(b); }

std::size_t RecordIdMap::Text::size() const {
    if (length_ != kLongText) return length_;
    uint32_t n = 0;
    std::memcpy(&n, reinterpret_cast<const char*>(this) + sizeof(Text), sizeof n);
    return n;
}

const char* RecordIdMap::Text::data() const {
    return reinterpret_cast<const char*>(this) + sizeof(Text) + (length_ == kLongText ? 4 : 0);
}

RecordIdMap::RecordIdMap(const RecordIdMap& other) { *this = other; }

RecordIdMap& RecordIdMap::operator=(const RecordIdMap& other) {
    if (this == &other) return *this;
    other.fillFor({});
    other.settled();
    clear();
    for (const Slot& s : other.slots_)
        if (s.ref() != kEmpty && s.ref() != kErased) {
            const Entry* e = other.entryAt(s.ref());
            emplaceStored(e->first.stored(), e->second);
        }
    return *this;
}

RecordIdMap& RecordIdMap::operator=(RecordIdMap&& other) noexcept {
    if (this == &other) return *this;
    fillFor({});
    other.fillFor({});
    slots_ = std::move(other.slots_);
    blocks_ = std::move(other.blocks_);
    blockSizes_ = std::move(other.blockSizes_);
    blockEnds_ = std::move(other.blockEnds_);
    blockUsed_ = other.blockUsed_;
    dead_ = other.dead_;
    size_ = other.size_;
    used_ = other.used_;
    pending_ = other.pending_;
    pendingText_.swap(other.pendingText_);
    pendingHash_ = other.pendingHash_;
    pendingValue_ = other.pendingValue_;
    pendingRef_ = other.pendingRef_;
    topRef_ = other.topRef_;
    other.clear();
    return *this;
}

RecordIdMap::Entry* RecordIdMap::entryAt(uint32_t ref) const {
    const uint32_t r = ref - 1;
    return std::launder(reinterpret_cast<Entry*>(blocks_[r >> kOffsetBits].get() + (r & (kBlockUnits - 1))));
}

std::size_t RecordIdMap::probe(std::string_view text, uint64_t hash, bool& found) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = static_cast<std::size_t>(hash) & mask;
    std::size_t firstErased = SIZE_MAX;
    const uint16_t tag = Tag(hash);
    for (;; i = (i + 1) & mask) {
        const Slot& s = slots_[i];
        const uint32_t ref = s.ref();
        if (ref == kEmpty) {
            found = false;
            return firstErased != SIZE_MAX ? firstErased : i;
        }
        if (ref == kErased) {
            if (firstErased == SIZE_MAX) firstErased = i;
        } else if (s.tag == tag && entryAt(ref)->first.stored() == text) {
            found = true;
            return i;
        }
    }
}

RecordIdMap::iterator RecordIdMap::find(std::string_view text) {
    return const_cast<iterator>(std::as_const(*this).find(text));
}

RecordIdMap::const_iterator RecordIdMap::find(std::string_view text) const {
    fillFor(text);
    if (settled().size_ == 0) return nullptr;
    const std::string_view stored = Stored(text);
    if (aboveAll(stored)) return nullptr;
    bool found = false;
    const std::size_t i = probe(stored, Hash(stored), found);
    return found ? entryAt(slots_[i].ref()) : nullptr;
}

uint16_t& RecordIdMap::at(std::string_view text) {
    iterator it = find(text);
    if (!it) throw std::out_of_range("no record-ID text " + std::string(text));
    return it->second;
}

const uint16_t& RecordIdMap::at(std::string_view text) const {
    const_iterator it = find(text);
    if (!it) throw std::out_of_range("no record-ID text " + std::string(text));
    return it->second;
}

uint32_t RecordIdMap::store(std::string_view text, uint16_t value) {
    const bool longText = text.size() >= kLongText;
    if (text.size() > UINT32_MAX) throw std::length_error("record-ID text too long");
    const std::size_t units = UnitsFor(text.size(), longText);
    if (blocks_.empty() || blockUsed_ + units > blockSizes_.back()) {
        if (blocks_.size() >= kMaxBlocks) throw std::length_error("too many record-ID texts");
        const std::size_t size = std::max(units, kBlockUnits);
        if (!blocks_.empty()) blockEnds_.push_back(blockUsed_);
        blocks_.push_back(std::make_unique<uint16_t[]>(size));
        blockSizes_.push_back(size);
        blockUsed_ = 0;
    }
    uint16_t* at = blocks_.back().get() + blockUsed_;
    auto* e = new (at) Entry();
    e->second = value;
    char* bytes = reinterpret_cast<char*>(at) + sizeof(Entry);
    if (longText) {
        e->first.length_ = kLongText;
        const auto n = static_cast<uint32_t>(text.size());
        std::memcpy(bytes, &n, sizeof n);
        bytes += sizeof n;
    } else {
        e->first.length_ = static_cast<uint16_t>(text.size());
    }
    if (!text.empty()) std::memcpy(bytes, text.data(), text.size());
    const auto ref = static_cast<uint32_t>(((blocks_.size() - 1) << kOffsetBits) | blockUsed_) + 1;
    blockUsed_ += units;
    return ref;
}

void RecordIdMap::grow() {
    auto old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
    used_ = 0;
    const std::size_t mask = slots_.size() - 1;
    if (dead_ == 0) {
        // Every entry in the blocks is live: they are read in the order they lie, not in the
        // scattered order of the slots. They are hashed some at a time and their slots asked of
        // memory together, so that the waits for scattered slots overlap.
        constexpr std::size_t kBatch = 16;
        uint32_t refs[kBatch];
        uint64_t hashes[kBatch];
        std::size_t batched = 0;
        auto place = [&] {
            for (std::size_t k = 0; k < batched; ++k) {
                std::size_t i = static_cast<std::size_t>(hashes[k]) & mask;
                while (slots_[i].ref() != kEmpty) i = (i + 1) & mask;
                slots_[i].set(refs[k], Tag(hashes[k]));
            }
            used_ += batched;
            batched = 0;
        };
        for (std::size_t b = 0; b < blocks_.size(); ++b) {
            const std::size_t end = b + 1 < blocks_.size() ? blockEnds_[b] : blockUsed_;
            for (std::size_t at = 0; at < end;) {
                const uint32_t ref = static_cast<uint32_t>((b << kOffsetBits) | at) + 1;
                const Text& text = entryAt(ref)->first;
                const uint64_t hash = Hash(text.stored());
                __builtin_prefetch(&slots_[static_cast<std::size_t>(hash) & mask], 1);
                refs[batched] = ref;
                hashes[batched] = hash;
                if (++batched == kBatch) place();
                at += UnitsFor(text.size(), text.length_ == kLongText);
            }
        }
        place();
        return;
    }
    for (const Slot& s : old) {
        const uint32_t ref = s.ref();
        if (ref == kEmpty || ref == kErased) continue;
        // The slot keeps too few bits of the hash for an index: the text is hashed again.
        std::size_t i = static_cast<std::size_t>(Hash(entryAt(ref)->first.stored())) & mask;
        while (slots_[i].ref() != kEmpty) i = (i + 1) & mask;
        slots_[i] = s;
        ++used_;
    }
}

std::pair<RecordIdMap::iterator, bool> RecordIdMap::emplace(std::string_view text, uint16_t value) {
    fillFor(text);
    settled();
    return emplaceStored(Stored(text), value, true);
}

void RecordIdMap::add(std::string_view text, uint16_t value) {
    fillFor(text);
    settled();
    const std::string_view stored = Stored(text);
    const uint64_t hash = Hash(stored);
    // A text above every text held (a file in key order) is new: stored now, its slot set later.
    if (aboveAll(stored)) {
        emplaceStored(stored, value, hash, true);
        return;
    }
    pendingText_.assign(stored);
    pendingHash_ = hash;
    pendingValue_ = value;
    pending_ = true;
    if (!slots_.empty()) __builtin_prefetch(&slots_[static_cast<std::size_t>(pendingHash_) & (slots_.size() - 1)]);
}

void RecordIdMap::placePending() {
    pending_ = false;
    if (pendingRef_ == 0) {
        emplaceStored(pendingText_, pendingValue_, pendingHash_);
        return;
    }
    // A new text: the first free slot from its place (room was made when it was stored).
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = static_cast<std::size_t>(pendingHash_) & mask;
    while (slots_[i].ref() != kEmpty && slots_[i].ref() != kErased) i = (i + 1) & mask;
    if (slots_[i].ref() == kEmpty) ++used_;
    slots_[i].set(pendingRef_, Tag(pendingHash_));
    pendingRef_ = 0;
}

std::pair<RecordIdMap::iterator, bool> RecordIdMap::emplaceStored(std::string_view text, uint16_t value, bool later) {
    return emplaceStored(text, value, Hash(text), later);
}

std::pair<RecordIdMap::iterator, bool> RecordIdMap::emplaceStored(std::string_view text, uint16_t value,
                                                                  uint64_t hash, bool later) {
    if ((used_ + 1) * 4 > slots_.size() * 3) grow();
    const bool above = aboveAll(text);
    if (above && later) {
        // New for certain: no look-up now; the slot is asked of memory and set at the next call.
        const uint32_t ref = store(text, value);
        topRef_ = ref;
        ++size_;
        pendingRef_ = ref;
        pendingHash_ = hash;
        pending_ = true;
        __builtin_prefetch(&slots_[static_cast<std::size_t>(hash) & (slots_.size() - 1)], 1);
        return {entryAt(ref), true};
    }
    bool found = false;
    const std::size_t i = probe(text, hash, found);
    if (found) return {entryAt(slots_[i].ref()), false};
    const uint32_t ref = store(text, value);
    if (above) topRef_ = ref;
    if (slots_[i].ref() == kEmpty) ++used_;
    slots_[i].set(ref, Tag(hash));
    ++size_;
    return {entryAt(ref), true};
}

std::size_t RecordIdMap::erase(std::string_view text) {
    fillFor(text);
    if (settled().size_ == 0) return 0;
    const std::string_view stored = Stored(text);
    bool found = false;
    const std::size_t i = probe(stored, Hash(stored), found);
    if (!found) return 0;
    // The entry and its text stay where they are (unreachable); a text file erases few.
    slots_[i].set(kErased, 0);
    --size_;
    ++dead_;
    return 1;
}

void RecordIdMap::clear() {
    fillFor({});
    pending_ = false;
    pendingRef_ = 0;
    topRef_ = 0;
    slots_.clear();
    slots_.shrink_to_fit();
    blocks_.clear();
    blockSizes_.clear();
    blockEnds_.clear();
    blockUsed_ = 0;
    dead_ = 0;
    size_ = used_ = 0;
}

void RecordIdMap::reserve(std::size_t count) {
    fillFor({});
    if (pending_ || size_ != 0 || used_ != 0 || !blocks_.empty()) return;
    // As grow() sizes it: a power of two from 64, at most three quarters full.
    std::size_t slots = 64;
    while (count * 4 > slots * 3) slots *= 2;
    if (slots > slots_.size()) slots_.assign(slots, Slot{});
}

std::size_t RecordIdMap::MemoryBytes() const {
    fillFor({});
    settled();
    std::size_t bytes = slots_.capacity() * sizeof(Slot);
    for (std::size_t units : blockSizes_) bytes += units * sizeof(uint16_t);
    return bytes;
}

}  // namespace dz::convert
