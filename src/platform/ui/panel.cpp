#include "platform/ui/panel.h"

#include "platform/ui/screen_file.h"
#include "platform/ui/ui.h"

#include <algorithm>
#include <deque>
#include <map>
#include <memory>

namespace dz::ui {

const FieldDef* PanelDef::field(int number) const {
    for (const auto& f : fields)
        if (f.number == number) return &f;
    return nullptr;
}

const ButtonDef* PanelDef::button(int number) const {
    for (const auto& b : buttons)
        if (b.number == number) return &b;
    return nullptr;
}

namespace {
FieldState state_of(const FieldDef& def) {
    FieldState s;
    s.def = def;
    s.text = def.value;
    s.choice = def.choice;
    s.checked = def.checked;
    s.items = def.items;
    s.choices = def.choices;
    s.disabled = def.disabled;
    s.hidden = def.hidden;
    return s;
}
const std::string kEmpty;
}  // namespace

Panel::Panel(int handle, PanelDef def, PanelProc proc, void* data, int command)
    : handle_(handle), def_(std::move(def)), proc_(std::move(proc)), data_(data), command_(command) {
    title_ = def_.title;
    cols_ = std::max(1, def_.cols);
    cells_.assign(std::max(1, def_.rows), std::string(cols_, ' '));
    for (const auto& t : def_.texts) write_text(t.row, t.col, t.text);
    for (const auto& f : def_.fields) fields_.push_back(state_of(f));
    for (const auto& b : def_.buttons) buttons_.push_back(ButtonState{b, b.disabled, true});
    for (const auto& f : fields_)
        if (!f.hidden && !f.disabled) {
            active_field_ = f.def.number;
            break;
        }
}

void Panel::set_hidden(bool hidden) {
    hidden_ = hidden;
    touch();
}

void Panel::resize(int rows, int cols) {
    rows = std::max(1, rows);
    cols = std::max(1, cols);
    for (auto& l : cells_) l.resize(cols, ' ');
    cells_.resize(rows, std::string(cols, ' '));
    cols_ = cols;
    touch();
}

void Panel::set_title(std::string title) {
    title_ = std::move(title);
    touch();
}

void Panel::write_text(int row, int col, std::string_view text, int clear_to) {
    if (clear_to >= col) clear_cells(row, col, clear_to);
    if (row < 1 || row > rows() || col < 1 || col > cols_) return;
    std::string& l = cells_[row - 1];
    std::size_t at = static_cast<std::size_t>(col - 1);
    std::size_t n = std::min(text.size(), l.size() - at);
    l.replace(at, n, text.substr(0, n));
    touch();
}

void Panel::clear_cells(int row, int col, int to_col) {
    if (row < 1 || row > rows()) return;
    col = std::max(col, 1);
    to_col = std::min(to_col, cols_);
    if (to_col < col) return;
    std::string& l = cells_[row - 1];
    for (int c = col; c <= to_col; ++c) l[c - 1] = ' ';
    touch();
}

void Panel::clear() {
    for (auto& l : cells_) l.assign(cols_, ' ');
    touch();
}

const std::string& Panel::line(int row) const {
    if (row < 1 || row > rows()) return kEmpty;
    return cells_[row - 1];
}

std::string Panel::text_at(int row, int col, int len) const {
    const std::string& l = line(row);
    if (col < 1 || col > static_cast<int>(l.size()) || len <= 0) return {};
    std::string s = l.substr(col - 1, len);
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

std::vector<std::string> Panel::screen_text() const {
    std::vector<std::string> out;
    for (const auto& l : cells_) {
        std::string s = l;
        s.erase(s.find_last_not_of(' ') + 1);
        out.push_back(s);
    }
    return out;
}

bool Panel::has_field(int n) const { return field(n) != nullptr; }

FieldState* Panel::field(int n) {
    for (auto& f : fields_)
        if (f.def.number == n) return &f;
    return nullptr;
}

const FieldState* Panel::field(int n) const {
    for (const auto& f : fields_)
        if (f.def.number == n) return &f;
    return nullptr;
}

void Panel::set_text(int n, std::string text) {
    if (auto* f = field(n)) {
        f->text = std::move(text);
        touch();
    }
}

std::string Panel::text(int n) const {
    const auto* f = field(n);
    return f ? f->text : std::string();
}

void Panel::set_choice(int n, int choice) {
    if (auto* f = field(n)) {
        f->choice = choice;
        touch();
    }
}

int Panel::choice(int n) const {
    const auto* f = field(n);
    return f ? f->choice : 0;
}

void Panel::set_checked(int n, bool checked) {
    if (auto* f = field(n)) {
        f->checked = checked;
        touch();
    }
}

bool Panel::checked(int n) const {
    const auto* f = field(n);
    return f && f->checked;
}

void Panel::insert_item(int n, int position, std::string text) {
    auto* f = field(n);
    if (!f) return;
    if (position < 1 || position > static_cast<int>(f->items.size()))
        f->items.push_back(std::move(text));
    else
        f->items.insert(f->items.begin() + (position - 1), std::move(text));
    touch();
}

void Panel::clear_items(int n) {
    if (auto* f = field(n)) {
        f->items.clear();
        f->choice = 0;
        touch();
    }
}

std::vector<std::string> Panel::items(int n) const {
    const auto* f = field(n);
    return f ? f->items : std::vector<std::string>{};
}

std::string Panel::selected_item(int n) const {
    const auto* f = field(n);
    if (!f || f->choice < 1 || f->choice > static_cast<int>(f->items.size())) return {};
    return f->items[f->choice - 1];
}

void Panel::relabel_choice(int n, int choice, std::string label) {
    auto* f = field(n);
    if (!f || choice < 1) return;
    if (static_cast<int>(f->choices.size()) < choice) f->choices.resize(choice);
    f->choices[choice - 1] = std::move(label);
    touch();
}

void Panel::hide_field(int n, bool hidden) {
    if (auto* f = field(n)) {
        f->hidden = hidden;
        touch();
    }
}

void Panel::disable_field(int n, bool disabled) {
    if (auto* f = field(n)) {
        f->disabled = disabled;
        touch();
    }
}

void Panel::add_field(FieldDef def) {
    remove_field(def.number);
    fields_.push_back(state_of(def));
    touch();
}

void Panel::remove_field(int n) {
    auto it = std::remove_if(fields_.begin(), fields_.end(),
                             [n](const FieldState& f) { return f.def.number == n; });
    if (it != fields_.end()) {
        fields_.erase(it, fields_.end());
        if (active_field_ == n) active_field_ = 0;
        touch();
    }
}

void Panel::set_active_field(int n) {
    active_field_ = n;
    touch();
}

void Panel::draw_button(ButtonDef def) {
    for (auto& b : buttons_)
        if (b.def.number == def.number) {
            b = ButtonState{def, def.disabled, true};
            touch();
            return;
        }
    buttons_.push_back(ButtonState{def, def.disabled, true});
    touch();
}

void Panel::clear_button(int n) {
    for (auto& b : buttons_)
        if (b.def.number == n) b.drawn = false;
    touch();
}

void Panel::enable_button(int n, bool enabled) {
    for (auto& b : buttons_)
        if (b.def.number == n) b.disabled = !enabled;
    touch();
}

const ButtonState* Panel::button(int n) const {
    for (const auto& b : buttons_)
        if (b.def.number == n && b.drawn) return &b;
    return nullptr;
}

void Panel::set_scroll(int proportion, int position) {
    scroll_proportion_ = proportion;
    scroll_position_ = position;
    touch();
}

void Panel::add_key(KeyCommand key) {
    keys_.push_back(std::move(key));
    touch();
}

void Panel::add_key(std::string key, int command, std::string text) {
    keys_.push_back(KeyCommand{std::move(key), command, std::move(text)});
    touch();
}

Grid& Panel::attach_grid() {
    if (!grid_) grid_ = std::make_shared<Grid>();
    touch();
    return *grid_;
}

void Panel::detach_grid() {
    grid_.reset();
    touch();
}

void Panel::set_progress(int percent) {
    progress_ = std::clamp(percent, 0, 100);
    touch();
}

PanelMessage Panel::button_message(int n) const {
    if (const auto* b = button(n); b && b->def.escape) return escape_message();
    if (def_.events == EventStyle::Command) return PanelMessage{kMsgCommand, kKeyEnter, n};
    return PanelMessage{kMsgButton, n, 0};
}

PanelMessage Panel::escape_message() const { return PanelMessage{kMsgEscape, 0, 0}; }

PanelMessage Panel::edited_message(int field) const { return PanelMessage{kMsgEdited, 0, field}; }

// ---- The panel service ----------------------------------------------------------------------
namespace {
struct Posted {
    int handle;
    PanelMessage m;
};

struct Registry {
    std::map<int, std::unique_ptr<Panel>> panels;
    std::deque<Posted> queue;
    int next = 1;
};

Registry& reg() {
    static Registry r;
    return r;
}

void deliver(Panel& p, const PanelMessage& m) {
    if (!p.closed() && p.proc()) p.proc()(p, m);
}

int open_panel(PanelDef def, PanelProc proc, void* data, int command, int parent = 0) {
    auto& r = reg();
    int h = r.next++;
    if (r.next > 0xFFFE) r.next = 1;
    auto panel = std::make_unique<Panel>(h, std::move(def), std::move(proc), data, command);
    panel->set_parent(parent);
    Panel& p = *panel;
    r.panels[h] = std::move(panel);
    current().panel_opened(p);
    deliver(p, PanelMessage{kMsgOpen, 0, 0});
    deliver(p, PanelMessage{kMsgShown, 0, 0});
    return h;
}
}  // namespace

int xw_show_panel(int screen_file, const std::string& screen, const std::string& panel,
                  PanelProc proc, void* data, int command) {
    const PanelDef* def = xw_find_panel_def(screen_file, screen, panel);
    if (!def) return 0;
    return open_panel(*def, std::move(proc), data, command);
}

int xw_show_child_panel(int parent, int screen_file, const std::string& screen, const std::string& panel,
                        PanelProc proc, void* data, int command) {
    const PanelDef* def = xw_find_panel_def(screen_file, screen, panel);
    if (!def) return 0;
    return open_panel(*def, std::move(proc), data, command, parent);
}

int xw_open_window(const std::string& title, int rows, int cols, PanelProc proc, void* data,
                   EventStyle events) {
    PanelDef def;
    def.title = title;
    def.rows = rows;
    def.cols = cols;
    def.events = events;
    return open_panel(std::move(def), std::move(proc), data, 0);
}

void xw_close_panel(int handle) {
    auto& r = reg();
    auto it = r.panels.find(handle);
    if (it == r.panels.end()) return;
    std::vector<int> children;
    for (auto& [h, p] : r.panels)
        if (p->parent() == handle) children.push_back(h);
    for (int c : children) xw_close_panel(c);
    it = r.panels.find(handle);
    if (it == r.panels.end()) return;
    std::unique_ptr<Panel> p = std::move(it->second);
    r.panels.erase(it);
    p->mark_closed();
    current().panel_closed(*p);
}

Panel* xw_find_panel(int handle) {
    auto& r = reg();
    auto it = r.panels.find(handle);
    return it == r.panels.end() ? nullptr : it->second.get();
}

void* xw_get_data(int handle) {
    Panel* p = xw_find_panel(handle);
    return p ? p->data() : nullptr;
}

void xw_post_message(int handle, int msg, int key, int field) {
    reg().queue.push_back(Posted{handle, PanelMessage{msg, key, field}});
}

void xw_dispatch_messages() {
    current().pump();
    auto& r = reg();
    // Messages posted while dispatching wait for the next dispatch, so that a procedure that
    // posts to itself cannot keep this loop alive.
    std::size_t n = r.queue.size();
    while (n-- > 0 && !r.queue.empty()) {
        Posted p = r.queue.front();
        r.queue.pop_front();
        if (Panel* panel = xw_find_panel(p.handle)) deliver(*panel, p.m);
    }
}

void xw_refresh() {
    for (auto& [h, p] : reg().panels)
        if (p->dirty()) {
            current().panel_changed(*p);
            p->mark_clean();
        }
    current().refresh();
}

PanelMessage xw_rd_panel(int handle) {
    xw_dispatch_messages();
    xw_refresh();
    Panel* p = xw_find_panel(handle);
    if (!p) return PanelMessage{kMsgEscape, 0, 0};
    return current().read_panel(*p);
}

void xw_run_modal(int handle) {
    // A procedure that never closes its panel would hold the program forever; a front end
    // that keeps escaping ends it after a generous number of reads.
    for (int guard = 0; guard < 100000; ++guard) {
        Panel* p = xw_find_panel(handle);
        if (!p) return;
        PanelMessage m = xw_rd_panel(handle);
        p = xw_find_panel(handle);
        if (!p) return;
        deliver(*p, m);
        xw_dispatch_messages();
    }
    xw_close_panel(handle);
}

void xw_chg_radio_alpha(int handle, int field, int choice, const std::string& label) {
    if (Panel* p = xw_find_panel(handle)) p->relabel_choice(field, choice, label);
}

void xw_hide_fields(int handle, const std::vector<int>& fields) {
    if (Panel* p = xw_find_panel(handle))
        for (int f : fields) p->hide_field(f);
}

void xw_ins_combo(int handle, int field, int position, const std::string& text) {
    if (Panel* p = xw_find_panel(handle)) p->insert_item(field, position, text);
}

int xw_get_field_def(int handle, int field) {
    Panel* p = xw_find_panel(handle);
    const FieldState* f = p ? p->field(field) : nullptr;
    if (!f) return 0;
    bool empty = f->text.empty() && f->choice == 0 && !f->checked;
    return empty ? 1 : 2;
}

void xw_wr_help(const std::string& topic) { current().help(topic); }
void xw_beep() { current().beep(); }

std::vector<Panel*> open_panels() {
    std::vector<Panel*> out;
    for (auto& [h, p] : reg().panels) out.push_back(p.get());
    return out;
}

void reset_panels() {
    auto& r = reg();
    std::vector<int> handles;
    for (auto& [h, p] : r.panels) handles.push_back(h);
    for (int h : handles) xw_close_panel(h);
    r.queue.clear();
}

}  // namespace dz::ui
