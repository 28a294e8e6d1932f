#include "gui/shown_edit.h"

#include "platform/ui/shown_text.h"

#include <algorithm>
#include <vector>

namespace dz::gui {

namespace {

// Where each stored character begins in the shown form, and the stored and shown lengths at
// the end: a cut of the shown form falls only on these.
struct Boundary {
    std::size_t shown;
    std::size_t stored;
};

std::vector<Boundary> boundaries(std::string_view stored) {
    std::vector<Boundary> out;
    std::size_t shown = 0;
    for (std::size_t i = 0; i < stored.size();) {
        out.push_back({shown, i});
        // One stored character (a C1 control's two bytes, a lone byte shown as a control), and
        // its shown length.
        const std::size_t bytes = dz::ui::shown_detail::unit_bytes(stored, i);
        shown += dz::ui::shown_text(stored.substr(i, bytes)).size();
        i += bytes;
    }
    out.push_back({shown, stored.size()});
    return out;
}

}  // namespace

std::string editedBack(std::string_view stored, std::string_view edited) {
    const std::string shown = dz::ui::shown_text(stored);
    if (edited == shown) return std::string(stored);
    const std::size_t most = std::min(shown.size(), edited.size());
    std::size_t prefix = 0;
    while (prefix < most && shown[prefix] == edited[prefix]) ++prefix;
    std::size_t suffix = 0;
    while (suffix < most - prefix && shown[shown.size() - 1 - suffix] == edited[edited.size() - 1 - suffix]) ++suffix;
    // The kept parts end and start on whole stored characters: half an escape kept is text typed.
    const auto marks = boundaries(stored);
    Boundary head{0, 0}, tail{shown.size(), stored.size()};
    for (const Boundary& b : marks) {
        if (b.shown <= prefix) head = b;
        if (b.shown >= shown.size() - suffix && b.shown < tail.shown) tail = b;
    }
    const std::size_t typedFrom = head.shown, typedTo = edited.size() - (shown.size() - tail.shown);
    return std::string(stored.substr(0, head.stored)) + std::string(edited.substr(typedFrom, typedTo - typedFrom)) +
           std::string(stored.substr(tail.stored));
}

}  // namespace dz::gui
