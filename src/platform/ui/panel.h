// Panels: windows laid out in character cells, described in a screen file and drawn by whichever
// front end is in force. The core keeps the whole state of every open panel here (texts in their
// cells, field values, buttons, progress bar); a front end only renders that state and turns what
// the person does into panel messages. So the desktop, the command line and the tests all see the
// same panel.
//
// Rows and columns count from 1. A panel is `rows` x `cols` cells.
#pragma once

#include "platform/ui/grid.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dz::ui {

// ---- Panel messages -------------------------------------------------------------------------
// A window procedure receives one `PanelMessage` at a time. `msg` is the event number; what `key`
// and `field` carry depends on it.
inline constexpr int kMsgLeaveField = 8;    // key = how the field was left
inline constexpr int kMsgScrollKey = 8;     // on list panels: key 5/6 one row up/down, 13/14 five rows
inline constexpr int kMsgScrollTo = 10;     // key = scroll-bar position
inline constexpr int kMsgButton = 13;       // direct style: key = button number (Enter on it)
inline constexpr int kMsgEscape = 14;       // escape, the window's close box, or a stop request
inline constexpr int kMsgOpen = 101;        // the window was created (sent once, before kMsgShown)
inline constexpr int kMsgShown = 103;       // the window is shown
inline constexpr int kMsgFocusIn = 104;
inline constexpr int kMsgFocusOut = 105;
inline constexpr int kMsgCommand = 107;     // command style: key 13 Enter on button `field`
inline constexpr int kMsgEdited = 108;      // field = the field whose value the person changed
inline constexpr int kMsgClosed = 204;      // the window is being closed by the person
inline constexpr int kMsgUser = 1001;       // 1001 and up belong to the window procedure

inline constexpr int kKeyEnter = 13;
inline constexpr int kKeyEscape = 14;

struct PanelMessage {
    int msg = 0;
    int key = 0;
    int field = 0;
    friend bool operator==(const PanelMessage&, const PanelMessage&) = default;
};

// How a panel reports a button to its procedure. Panels differ: some procedures expect a command
// message (107 with key 13 and the button), others the bare event (13 with the button). The
// screen file says which. Escape is 14 on every panel.
enum class EventStyle { Command, Direct };

// ---- Panel descriptions (from the screen file) ----------------------------------------------
enum class FieldKind { Text, Number, Date, Choice, List, Check, Combo };

struct FieldDef {
    int number = 0;
    FieldKind kind = FieldKind::Text;
    int row = 1, col = 1;
    int width = 10;           // cells; for Choice/Check the width of the widest label
    int height = 1;           // a List field shows this many rows
    int max_length = 0;       // characters a person may type; 0 = width; -1 = any (the program says)
    std::string label;        // Check: the text beside the box
    std::vector<std::string> choices;  // Choice: one label per radio button (numbered from 1)
    std::vector<std::string> items;    // List/Combo: entries present when the panel opens
    std::string value;        // Text/Number/Date: initial text
    int choice = 0;           // Choice: initial choice (1-based); List/Combo: selected entry
    bool checked = false;     // Check
    bool disabled = false;
    bool hidden = false;
};

struct ButtonDef {
    int number = 0;
    std::string label;        // "~" marks the accelerator letter, as in "~Yes"
    int row = 1, col = 1;
    int width = 10;
    int height = 1;
    bool escape = false;      // pressing it is the same as escape (e.g. a progress panel's Stop)
    bool disabled = false;
};

struct TextDef {
    int row = 1, col = 1;
    std::string text;
};

struct PanelDef {
    std::string screen;       // e.g. "CONVERT"
    std::string name;         // e.g. "STATUSS"
    std::string title;
    int rows = 10, cols = 70;
    EventStyle events = EventStyle::Command;
    bool progress_bar = false;  // a progress bar spanning the panel below `bar_row`
    int bar_row = 0;
    std::vector<TextDef> texts;
    std::vector<FieldDef> fields;
    std::vector<ButtonDef> buttons;

    const FieldDef* field(int number) const;
    const ButtonDef* button(int number) const;
};

// ---- Open panels ----------------------------------------------------------------------------
class Panel;
// The window procedure. Its result is the procedure's own (most return 1).
using PanelProc = std::function<int(Panel&, const PanelMessage&)>;

struct FieldState {
    FieldDef def;
    std::string text;
    int choice = 0;           // Choice: chosen radio (1-based, 0 none); List/Combo: selected entry
    bool checked = false;
    std::vector<std::string> items;    // List/Combo entries
    std::vector<std::string> choices;  // Choice labels (may be relabelled)
    bool disabled = false;
    bool hidden = false;
};

// A key that runs a command of the panel as its button would (e.g. "Ctrl+S" -> 12).
struct KeyCommand {
    std::string key;          // "Ctrl+S", "F2", "Ctrl+Shift+S"
    int command = 0;
    std::string text;         // what it does, for menus and help ("Save")
    bool on_menu = false;     // also an entry of the window's File menu while the panel is open
    bool enabled = true;      // off: shown, but does nothing (a command the panel cannot run now)
};

struct ButtonState {
    ButtonDef def;
    bool disabled = false;
    bool drawn = true;
};

class Panel {
public:
    Panel(int handle, PanelDef def, PanelProc proc, void* data, int command);

    int handle() const { return handle_; }
    // The panel this one is shown inside (0 = none); it closes with its parent.
    int parent() const { return parent_; }
    void set_parent(int parent) { parent_ = parent; }
    const PanelDef& def() const { return def_; }
    int command() const { return command_; }
    void* data() const { return data_; }
    void set_data(void* data) { data_ = data; }
    const PanelProc& proc() const { return proc_; }
    bool closed() const { return closed_; }
    bool hidden() const { return hidden_; }
    void set_hidden(bool hidden);

    // Size and title; a window built at run time may be resized by its procedure.
    int rows() const { return static_cast<int>(cells_.size()); }
    int cols() const { return cols_; }
    void resize(int rows, int cols);
    const std::string& title() const { return title_; }
    void set_title(std::string title);

    // Text in cells. `clear_to` (a column, inclusive) blanks the cells from `col` first;
    // text beyond the panel's edge is cut.
    void write_text(int row, int col, std::string_view text, int clear_to = 0);
    void clear_cells(int row, int col, int to_col);
    void clear();                                   // every cell blank
    const std::string& line(int row) const;         // the row's cells, `cols()` characters
    std::string text_at(int row, int col, int len) const;  // trailing blanks removed
    std::vector<std::string> screen_text() const;   // every row, trailing blanks removed

    // Fields.
    bool has_field(int n) const;
    FieldState* field(int n);
    const FieldState* field(int n) const;
    const std::vector<FieldState>& fields() const { return fields_; }
    void set_text(int n, std::string text);
    std::string text(int n) const;
    void set_choice(int n, int choice);             // Choice radio or List/Combo selection
    int choice(int n) const;
    void set_checked(int n, bool checked);
    bool checked(int n) const;
    // Inserts an entry into a List or Combo field at 1-based `position` (0 or past the end: last).
    void insert_item(int n, int position, std::string text);
    void clear_items(int n);
    std::vector<std::string> items(int n) const;
    std::string selected_item(int n) const;         // "" when nothing is selected
    void relabel_choice(int n, int choice, std::string label);
    void hide_field(int n, bool hidden = true);
    void disable_field(int n, bool disabled = true);
    void add_field(FieldDef def);                   // a field drawn at run time
    void remove_field(int n);
    int active_field() const { return active_field_; }
    void set_active_field(int n);

    // Buttons.
    void draw_button(ButtonDef def);                // adds or replaces button def.number
    void clear_button(int n);
    void enable_button(int n, bool enabled);
    const ButtonState* button(int n) const;
    const std::vector<ButtonState>& buttons() const { return buttons_; }

    // Scroll thumb of a list-like panel: proportion (0..1000) and position.
    void set_scroll(int proportion, int position);
    int scroll_proportion() const { return scroll_proportion_; }
    int scroll_position() const { return scroll_position_; }

    // Keys that run commands (the front end binds them; a key press is the command's button
    // message, whether or not a button with that number is drawn).
    void add_key(std::string key, int command, std::string text);
    void add_key(KeyCommand key);
    const std::vector<KeyCommand>& keys() const { return keys_; }

    // A grid shown in the panel (see grid.h); null when the panel has none.
    Grid* grid() const { return grid_.get(); }
    Grid& attach_grid();
    void detach_grid();

    // The progress bar, 0..100.
    void set_progress(int percent);
    int progress() const { return progress_; }

    // What a person does, as the message the procedure expects (see EventStyle): to post on a
    // modeless panel, or to return from a modal read.
    PanelMessage button_message(int n) const;
    PanelMessage escape_message() const;
    PanelMessage edited_message(int field) const;

    // Changed since the last refresh.
    bool dirty() const { return dirty_ || (grid_ && grid_->dirty); }
    void mark_clean() {
        dirty_ = false;
        if (grid_) {
            grid_->dirty = grid_->structure_changed = false;
            grid_->changed_lines.clear();
        }
    }
    void mark_closed() { closed_ = true; }

private:
    void touch() { dirty_ = true; }

    int handle_;
    int parent_ = 0;
    PanelDef def_;
    PanelProc proc_;
    void* data_;
    int command_;
    std::string title_;
    int cols_;
    std::vector<std::string> cells_;
    std::vector<FieldState> fields_;
    std::vector<ButtonState> buttons_;
    int active_field_ = 0;
    int scroll_proportion_ = 0;
    int scroll_position_ = 0;
    int progress_ = 0;
    std::shared_ptr<Grid> grid_;
    std::vector<KeyCommand> keys_;
    bool dirty_ = true;
    bool hidden_ = false;
    bool closed_ = false;
};

// ---- The panel service ----------------------------------------------------------------------
// Shows panel `panel` of screen `screen` from the open screen file `screen_file` with procedure
// `proc` (may be empty) and `data`. The procedure receives kMsgOpen, then kMsgShown, before this
// returns. Returns the panel handle, 0 when the screen file has no such panel.
int xw_show_panel(int screen_file, const std::string& screen, const std::string& panel,
                  PanelProc proc, void* data, int command = 0);
// Shows a panel inside another one (e.g. the list beside a hub); it closes with its parent.
int xw_show_child_panel(int parent, int screen_file, const std::string& screen, const std::string& panel,
                        PanelProc proc, void* data, int command = 0);
// Opens a window built at run time (no screen-file description): `rows` x `cols`, titled.
int xw_open_window(const std::string& title, int rows, int cols, PanelProc proc, void* data,
                   EventStyle events = EventStyle::Direct);
// Closes a panel and the panels shown inside it; the front end removes them. Messages still
// queued for them are dropped.
void xw_close_panel(int handle);
// The open panel with this handle, nullptr when there is none.
Panel* xw_find_panel(int handle);
// The data pointer given when the panel was shown.
void* xw_get_data(int handle);

// Queues a message for a panel's procedure.
void xw_post_message(int handle, int msg, int key = 0, int field = 0);
// Lets the front end take in what the person did (without waiting), then delivers every queued
// message to its panel's procedure, in order.
void xw_dispatch_messages();
// Has the front end redraw every panel that changed.
void xw_refresh();
// Modal read: waits for the person's next action on this panel (a button, escape, ...) and
// returns it as the panel's procedure would receive it. The front end writes what the person
// typed into the panel's fields before returning. Queued messages are dispatched first.
PanelMessage xw_rd_panel(int handle);
// Runs a panel modally: reads actions and hands them to its procedure until the panel closes.
void xw_run_modal(int handle);

// Panel helpers named as the program's callers name them.
void xw_chg_radio_alpha(int handle, int field, int choice, const std::string& label);
void xw_hide_fields(int handle, const std::vector<int>& fields);
void xw_ins_combo(int handle, int field, int position, const std::string& text);
// State of a field: 0 = absent, 1 = present and empty, 2 = present with a value.
int xw_get_field_def(int handle, int field);
void xw_wr_help(const std::string& topic);
void xw_beep();

// Every open panel, oldest first (front ends and tests).
std::vector<Panel*> open_panels();
// Closes every panel and forgets every queued message (tests).
void reset_panels();

}  // namespace dz::ui
