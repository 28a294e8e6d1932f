#include "platform/ui/grid.h"

#include <utility>

namespace dz::ui {

std::string Grid::cell(int line, int column) const {
    if (line < 0 || line >= line_count()) return {};
    const auto& l = lines_[static_cast<std::size_t>(line)];
    return column >= 0 && column < static_cast<int>(l.size()) ? l[static_cast<std::size_t>(column)] : std::string();
}

void Grid::set_cell(int line, int column, std::string text) {
    if (line < 0 || line >= line_count() || column < 0) return;
    auto& l = lines_[static_cast<std::size_t>(line)];
    if (static_cast<int>(l.size()) <= column) l.resize(static_cast<std::size_t>(column) + 1);
    l[static_cast<std::size_t>(column)] = std::move(text);
    if (line == line_ && column == column_) edit_text = l[static_cast<std::size_t>(column)];
    dirty = true;
    changed_lines.push_back(line);
}

int Grid::add_line(int at) {
    std::vector<std::string> blank(columns.size());
    if (at < 0 || at >= line_count()) {
        lines_.push_back(std::move(blank));
        at = line_count() - 1;
    } else {
        lines_.insert(lines_.begin() + at, std::move(blank));
    }
    dirty = structure_changed = true;
    return at;
}

void Grid::delete_line(int line) {
    if (line < 0 || line >= line_count()) return;
    lines_.erase(lines_.begin() + line);
    if (line_ >= line_count()) line_ = line_count() - 1;
    if (line_ < 0) line_ = 0;
    dirty = structure_changed = true;
}

void Grid::clear_lines() {
    lines_.clear();
    line_ = column_ = 0;
    top_line = 0;
    edit_text.clear();
    dirty = structure_changed = true;
}

void Grid::set_lines(std::vector<std::vector<std::string>> lines) {
    lines_ = std::move(lines);
    dirty = structure_changed = true;
}

void Grid::set_cursor(int line, int column) {
    line_ = line;
    column_ = column;
    refused_ = false;
    edit_text = cell(line, column);
    if (line < top_line) top_line = line;
    if (line >= top_line + visible_lines) top_line = line - visible_lines + 1;
    if (top_line < 0) top_line = 0;
    dirty = true;
}

}  // namespace dz::ui
