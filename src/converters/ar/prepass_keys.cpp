#include "converters/ar/prepass_keys.h"

#include <functional>
#include <stdexcept>

namespace dz::ar {

namespace {
std::size_t HashOf(std::string_view text) { return std::hash<std::string_view>{}(text); }
}  // namespace

std::size_t PrepassKeys::Probe(const std::vector<Slot>& slots, By by, std::string_view text, std::size_t hash,
                               bool& found) const {
    const std::size_t mask = slots.size() - 1;
    const auto low = static_cast<uint32_t>(hash);
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const Slot& slot = slots[at];
        if (slot.unit == 0) {
            found = false;
            return at;
        }
        if (slot.hash == low) {
            const char* pair = At(slot.unit - 1);
            if ((by == By::Id ? IdOf(pair) : KeyOf(pair)) == text) {
                found = true;
                return at;
            }
        }
    }
}

void PrepassKeys::Resize(std::vector<Slot>& slots, std::size_t size) {
    std::vector<Slot> old = std::move(slots);
    slots.assign(size, Slot{});
    // The slots keep the low half of each hash, and a table of 32-bit unit numbers never has
    // more than 2^32 slots: the stored half places a slot without reading its text again.
    const std::size_t mask = slots.size() - 1;
    for (const Slot& slot : old) {
        if (slot.unit == 0) continue;
        std::size_t at = slot.hash & mask;
        while (slots[at].unit != 0) at = (at + 1) & mask;
        slots[at] = slot;
    }
}

void PrepassKeys::Settle() const {
    if (pending_.empty()) return;
    std::size_t size = slots_.empty() ? 1024 : slots_.size();
    while ((size_ + pending_.size()) * 2 > size) size *= 2;
    if (size != slots_.size()) {
        Resize(slots_, size);
        if (byKey_) Resize(keySlots_, size);
    }
    const std::size_t mask = size - 1;
    // Each slot is asked for some pairs ahead: the reads then overlap instead of waiting in turn.
    constexpr std::size_t kAhead = 16;
    const std::size_t count = pending_.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (i + kAhead < count) {
            __builtin_prefetch(&slots_[pending_[i + kAhead].idHash & mask], 1);
            if (byKey_) __builtin_prefetch(&keySlots_[pending_[i + kAhead].keyHash & mask], 1);
        }
        const Pending& next = pending_[i];
        const char* pair = At(next.unit - 1);
        bool found = false;
        const std::size_t at = Probe(slots_, By::Id, IdOf(pair), next.idHash, found);
        if (found) continue;  // met earlier: the first value stays
        slots_[at] = Slot{next.unit, next.idHash};
        ++size_;
        if (!byKey_) continue;
        // A record-ID text follows from the key, so kept pairs never share a key; were one
        // repeated all the same, the first would answer, as it does by record-ID text.
        const std::size_t keyAt = Probe(keySlots_, By::Key, KeyOf(pair), next.keyHash, found);
        if (!found) keySlots_[keyAt] = Slot{next.unit, next.keyHash};
    }
    pending_.clear();
    pending_.shrink_to_fit();
}

uint64_t PrepassKeys::Reserve(std::size_t size) {
    const std::size_t standard = std::size_t{1} << kBlockBits;
    const std::size_t unit = std::size_t{1} << kUnitBits;
    size = (size + unit - 1) & ~(unit - 1);
    // A pair is a record-ID text and a key field: a few hundred bytes at most, far below a block.
    if (size > standard) throw std::length_error("record-ID text too long to keep");
    if (blocks_.empty() || used_ + size > standard) {
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(standard));  // written before read
        used_ = 0;
    }
    const uint64_t offset = (static_cast<uint64_t>(blocks_.size() - 1) << kBlockBits) + used_;
    if ((offset >> kUnitBits) >= UINT32_MAX) throw std::length_error("too many record-ID texts to keep");
    used_ += size;
    return offset >> kUnitBits;
}

void PrepassKeys::StartByKey() {
    byKey_ = true;
    for (Pending& p : pending_) p.keyHash = static_cast<uint32_t>(HashOf(KeyOf(At(p.unit - 1))));
    keySlots_.assign(slots_.size(), Slot{});
    for (const Slot& slot : slots_) {
        if (slot.unit == 0) continue;
        const std::string_view key = KeyOf(At(slot.unit - 1));
        const std::size_t hash = HashOf(key);
        bool found = false;
        const std::size_t at = Probe(keySlots_, By::Key, key, hash, found);
        if (!found) keySlots_[at] = Slot{slot.unit, static_cast<uint32_t>(hash)};
    }
}

void PrepassKeys::emplace(std::string_view idText, std::string_view key) {
    if (!byKey_) {
        if (!prefixed_ && idText.size() >= key.size() && idText.ends_with(key)) {
            prefix_.assign(idText.substr(0, idText.size() - key.size()));
            prefixed_ = true;
        }
        if (!prefixed_ || idText.size() != prefix_.size() + key.size() || !idText.starts_with(prefix_) ||
            !idText.ends_with(key))
            StartByKey();
    }
    const std::size_t hash = HashOf(idText);
    const uint64_t unit = Reserve(sizeof(Header) + idText.size() + key.size());
    char* out = const_cast<char*>(At(unit));
    const Header h{static_cast<uint32_t>(idText.size()), static_cast<uint32_t>(key.size())};
    std::memcpy(out, &h, sizeof h);
    idText.copy(out + sizeof h, idText.size());
    key.copy(out + sizeof h + idText.size(), key.size());
    pending_.push_back(Pending{static_cast<uint32_t>(unit + 1), static_cast<uint32_t>(hash),
                               byKey_ ? static_cast<uint32_t>(HashOf(key)) : 0u});
}

bool PrepassKeys::find(std::string_view idText, std::string& key) const {
    Settle();
    if (size_ == 0) return false;
    bool found = false;
    const std::size_t at = Probe(slots_, By::Id, idText, HashOf(idText), found);
    if (!found) return false;
    key.assign(KeyOf(At(slots_[at].unit - 1)));
    return true;
}

bool PrepassKeys::hasKey(std::string_view key) const {
    Settle();
    if (size_ == 0) return false;
    bool found = false;
    if (byKey_) {
        Probe(keySlots_, By::Key, key, HashOf(key), found);
    } else {
        // Every pair kept has `prefix_` + its key as its record-ID text, so a pair has this key
        // exactly when it has that text.
        const std::string_view id = Prefixed(key);
        Probe(slots_, By::Id, id, HashOf(id), found);
    }
    return found;
}

void PrepassKeys::prefetchKey(std::string_view key) const {
    Settle();
    if (size_ == 0) return;
    if (byKey_)
        __builtin_prefetch(&keySlots_[HashOf(key) & (keySlots_.size() - 1)]);
    else
        __builtin_prefetch(&slots_[HashOf(Prefixed(key)) & (slots_.size() - 1)]);
}

void PrepassKeys::clear() {
    blocks_.clear();
    used_ = 0;
    size_ = 0;
    for (auto* v : {&slots_, &keySlots_}) {
        v->clear();
        v->shrink_to_fit();
    }
    pending_.clear();
    pending_.shrink_to_fit();
    byKey_ = false;
    prefixed_ = false;
    prefix_.clear();
}

}  // namespace dz::ar
