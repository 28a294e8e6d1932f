#include "convert/open_files.h"

namespace dz::convert {

void OpenFilesList::KeepClosed(const std::string& abbr, uint16_t fileNo, const std::string& path) {
    if (!path.empty()) closed_[{abbr, fileNo}] = path;
}

std::string OpenFilesList::ClosedPath(const std::string& abbr, uint16_t fileNo) const {
    const auto it = closed_.find({abbr, fileNo});
    return it == closed_.end() ? std::string() : it->second;
}

void OpenFilesList::clear() {
    std::vector<file_num_map>::clear();
    closed_.clear();
}

uint16_t FindFileHandle(const OpenFilesList& list, const std::string& abbr, uint16_t fileNo) {
    for (const auto& e : list)
        if (e.fileNo == fileNo && e.abbr == abbr && e.handle != 0) return e.handle;
    return 0;
}

bool RebindFileHandle(OpenFilesList& list, const std::string& abbr, uint16_t fileNo, uint16_t handle) {
    for (auto& e : list) {
        if (e.fileNo == fileNo && e.abbr == abbr) {
            e.handle = handle;
            if (handle != 0) list.closed_.erase({abbr, fileNo});
            return true;
        }
    }
    return false;
}

void NoteRefused(OpenFilesList& list, const std::string& abbr, uint16_t fileNo) {
    for (const auto& e : list)
        if (e.fileNo == fileNo && e.abbr == abbr) return;
    list.push_back({abbr, fileNo, 0});
}

}  // namespace dz::convert
