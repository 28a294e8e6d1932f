// A grid of cells inside a panel: columns with header lines and sizes, lines of texts, a cursor.
// The core owns the whole state, as it does a panel's; a front end shows it (a table view on
// the desktop) and turns what the person does into panel messages:
//
//   kMsgGridLeave  the person left the grid's current cell for the cell (key = line,
//                  field = column), both counted from 0. What they typed into the cell they
//                  left is in Grid::edit_text. The program decides: it accepts the cell (then
//                  moves the cursor with Grid::set_cursor) or refuses it (the cursor stays in
//                  the cell and the typed text stays in it, see Grid::refuse).
//   kMsgGridList   the person asked for the list of values of the current cell.
//
// Commands (keys and buttons of the grid's panel) arrive as the panel's button messages.
#pragma once

#include <string>
#include <vector>

namespace dz::ui {

inline constexpr int kMsgGridLeave = 120;
inline constexpr int kMsgGridList = 121;

struct GridColumn {
    std::vector<std::string> header;    // header lines, top first
    int size = 10;                      // characters a person may type
    int display_width = 10;             // cells the column shows
    int header_width = 10;
    bool capitals = false;              // typed letters become capitals
    bool right_justify = false;
    std::vector<std::string> items;     // not empty: the value is picked from this drop-down list
    bool enabled = true;
};

class Grid {
public:
    std::vector<GridColumn> columns;

    int line_count() const { return static_cast<int>(lines_.size()); }
    const std::vector<std::string>& line(int n) const { return lines_.at(static_cast<std::size_t>(n)); }
    std::string cell(int line, int column) const;
    void set_cell(int line, int column, std::string text);
    // Appends an empty line (at `at`, or at the end when out of range); returns its number.
    int add_line(int at = -1);
    void delete_line(int line);
    // Every line removed (the columns stay).
    void clear_lines();
    // Sets every line at once (large tables).
    void set_lines(std::vector<std::vector<std::string>> lines);

    // The cursor, counted from 0; the edit text starts as the cell's text.
    int cursor_line() const { return line_; }
    int cursor_column() const { return column_; }
    void set_cursor(int line, int column);
    // What the person typed into the current cell (see kMsgGridLeave).
    std::string edit_text;
    // The last leave was refused: the front end keeps the cursor and edit_text.
    bool refused() const { return refused_; }
    void refuse() { refused_ = true; }

    // The first line shown and how many lines the view shows.
    int top_line = 0;
    int visible_lines = 9;
    // Scroll thumb: size and position in percent; position -1 hides it.
    int thumb_size = 100;
    int thumb_position = -1;
    // Advance to the next cell after Enter (toggled by a command).
    bool auto_advance = true;

    // Changed since the front end last drew it; a structural change (lines added or removed,
    // columns rebuilt) asks for a full redraw.
    bool dirty = true;
    bool structure_changed = true;
    // Changed lines since the last draw (when not structural).
    std::vector<int> changed_lines;

private:
    std::vector<std::vector<std::string>> lines_;
    int line_ = 0;
    int column_ = 0;
    bool refused_ = false;
};

}  // namespace dz::ui
