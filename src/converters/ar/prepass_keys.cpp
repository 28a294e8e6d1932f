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
    const std::size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
        if (slot.item == 0) continue;
        std::size_t at = HashOf(IdOf(items_[slot.item - 1])) & mask;
        while (slots_[at].item != 0) at = (at + 1) & mask;
        slots_[at] = slot;
    }
}

void PrepassKeys::emplace(std::string_view idText, std::string_view key) {
    if ((items_.size() + 1) * 2 > slots_.size()) Grow();
    bool found = false;
    const std::size_t hash = HashOf(idText);
    const std::size_t at = Probe(idText, hash, found);
    if (found) return;
    items_.push_back({arena_.size(), static_cast<uint32_t>(idText.size()), static_cast<uint32_t>(key.size())});
    arena_.append(idText);
    arena_.append(key);
    slots_[at] = Slot{static_cast<uint32_t>(items_.size()), static_cast<uint32_t>(hash)};
}

bool PrepassKeys::find(std::string_view idText, std::string& key) const {
    if (items_.empty()) return false;
    bool found = false;
    const std::size_t at = Probe(idText, HashOf(idText), found);
    if (!found) return false;
    const Item& item = items_[slots_[at].item - 1];
    key.assign(arena_.data() + item.offset + item.idLen, item.keyLen);
    return true;
}

void PrepassKeys::clear() {
    arena_.clear();
    arena_.shrink_to_fit();
    items_.clear();
    items_.shrink_to_fit();
    slots_.clear();
    slots_.shrink_to_fit();
}

}  // namespace dz::ar
