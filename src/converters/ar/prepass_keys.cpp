#include "converters/ar/prepass_keys.h"

#include <functional>

namespace dz::ar {

namespace {
std::size_t HashOf(std::string_view text) { return std::hash<std::string_view>{}(text); }
}  // namespace

std::size_t PrepassKeys::Probe(std::string_view idText, std::size_t hash, bool& found) const {
    const std::size_t mask = slots_.size() - 1;
    const auto low = static_cast<uint32_t>(hash);
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const Slot& slot = slots_[at];
        if (slot.item == 0) {
            found = false;
            return at;
        }
        if (slot.hash == low && IdOf(items_[slot.item - 1]) == idText) {
            found = true;
            return at;
        }
    }
}

void PrepassKeys::Grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 1024 : old.size() * 2, Slot{});
    // The slots keep the low half of each hash, and a table of 32-bit item numbers never has
    // more than 2^32 slots: the stored half places a slot without reading its text again.
    const std::size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
        if (slot.item == 0) continue;
        std::size_t at = slot.hash & mask;
        while (slots_[at].item != 0) at = (at + 1) & mask;
        slots_[at] = slot;
    }
}

uint64_t PrepassKeys::Reserve(std::size_t size) {
    const std::size_t standard = std::size_t{1} << kBlockBits;
    // A pair is a record-ID text and a key field: a few hundred bytes at most, far below a block.
    if (blocks_.empty() || used_ + size > standard) {
        blocks_.push_back(std::make_unique<char[]>(standard));
        used_ = 0;
    }
    const uint64_t offset = (static_cast<uint64_t>(blocks_.size() - 1) << kBlockBits) + used_;
    used_ += size;
    return offset;
}

void PrepassKeys::emplace(std::string_view idText, std::string_view key) {
    if ((items_.size() + 1) * 2 > slots_.size()) Grow();
    bool found = false;
    const std::size_t hash = HashOf(idText);
    const std::size_t at = Probe(idText, hash, found);
    if (found) return;
    const uint64_t offset = Reserve(idText.size() + key.size());
    char* out = blocks_[offset >> kBlockBits].get() + (offset & ((uint64_t{1} << kBlockBits) - 1));
    idText.copy(out, idText.size());
    key.copy(out + idText.size(), key.size());
    items_.push_back({offset, static_cast<uint32_t>(idText.size()), static_cast<uint32_t>(key.size())});
    slots_[at] = Slot{static_cast<uint32_t>(items_.size()), static_cast<uint32_t>(hash)};
}

bool PrepassKeys::find(std::string_view idText, std::string& key) const {
    if (items_.empty()) return false;
    bool found = false;
    const std::size_t at = Probe(idText, HashOf(idText), found);
    if (!found) return false;
    const Item& item = items_[slots_[at].item - 1];
    key.assign(At(item.offset) + item.idLen, item.keyLen);
    return true;
}

void PrepassKeys::clear() {
    blocks_.clear();
    used_ = 0;
    items_.clear();
    items_.shrink_to_fit();
    slots_.clear();
    slots_.shrink_to_fit();
}

}  // namespace dz::ar
