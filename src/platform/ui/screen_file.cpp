#include "platform/ui/screen_file.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <stdexcept>

namespace dz::ui {
namespace {

bool same_name(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::toupper(x) == std::toupper(y);
           });
}

[[noreturn]] void bad(const std::string& file, const std::string& what) {
    throw std::runtime_error("screen file " + file + ": " + what);
}

int get_int(const toml::table& t, const char* key, int def) {
    if (auto v = t[key].value<int64_t>()) return static_cast<int>(*v);
    return def;
}

std::string get_str(const toml::table& t, const char* key, const std::string& def = {}) {
    if (auto v = t[key].value<std::string>()) return *v;
    return def;
}

bool get_bool(const toml::table& t, const char* key, bool def = false) {
    if (auto v = t[key].value<bool>()) return *v;
    return def;
}

std::vector<std::string> get_strings(const toml::table& t, const char* key) {
    std::vector<std::string> out;
    if (const auto* arr = t[key].as_array())
        for (const auto& e : *arr)
            if (auto s = e.value<std::string>()) out.push_back(*s);
    return out;
}

FieldKind kind_of(const std::string& file, const std::string& panel, const std::string& k) {
    static const std::map<std::string, FieldKind> kinds = {
        {"text", FieldKind::Text},     {"number", FieldKind::Number}, {"date", FieldKind::Date},
        {"choice", FieldKind::Choice}, {"list", FieldKind::List},     {"check", FieldKind::Check},
        {"combo", FieldKind::Combo}};
    auto it = kinds.find(k);
    if (it == kinds.end()) bad(file, "panel " + panel + ": unknown field kind \"" + k + "\"");
    return it->second;
}

// `copy = "SCREEN/PANEL"` starts from a panel described earlier in the file; what the entry
// gives besides replaces the copied value (fields, buttons and texts are added).
PanelDef read_panel(const toml::table& t, const std::string& file, const ScreenFile& so_far) {
    PanelDef p;
    if (auto copy = t["copy"].value<std::string>()) {
        auto slash = copy->find('/');
        const PanelDef* from =
            slash == std::string::npos ? nullptr : so_far.find(copy->substr(0, slash), copy->substr(slash + 1));
        if (!from) bad(file, "copy of an unknown panel \"" + *copy + "\"");
        p = *from;
    }
    p.screen = get_str(t, "screen");
    p.name = get_str(t, "name");
    if (p.screen.empty() || p.name.empty()) bad(file, "a panel without screen or name");
    const std::string id = p.screen + "/" + p.name;
    p.title = get_str(t, "title", p.title);
    p.rows = get_int(t, "rows", p.rows);
    p.cols = get_int(t, "cols", p.cols);
    if (p.rows < 1 || p.cols < 1 || p.rows > 200 || p.cols > 300) bad(file, id + ": bad size");
    std::string ev = get_str(t, "events", p.events == EventStyle::Direct ? "direct" : "command");
    if (ev == "command")
        p.events = EventStyle::Command;
    else if (ev == "direct")
        p.events = EventStyle::Direct;
    else
        bad(file, id + ": events must be \"command\" or \"direct\"");
    p.progress_bar = get_bool(t, "progress_bar", p.progress_bar);
    p.bar_row = get_int(t, "bar_row", p.bar_row);
    if (const auto* texts = t["text"].as_array())
        for (const auto& e : *texts) {
            const auto* tt = e.as_table();
            if (!tt) bad(file, id + ": text entries must be tables");
            p.texts.push_back(TextDef{get_int(*tt, "row", 1), get_int(*tt, "col", 1), get_str(*tt, "text")});
        }
    if (const auto* fields = t["field"].as_array())
        for (const auto& e : *fields) {
            const auto* ft = e.as_table();
            if (!ft) bad(file, id + ": field entries must be tables");
            FieldDef f;
            f.number = get_int(*ft, "number", 0);
            if (f.number < 1) bad(file, id + ": a field needs a number from 1");
            if (p.field(f.number)) bad(file, id + ": field " + std::to_string(f.number) + " twice");
            f.kind = kind_of(file, id, get_str(*ft, "kind", "text"));
            f.row = get_int(*ft, "row", 1);
            f.col = get_int(*ft, "col", 1);
            f.width = get_int(*ft, "width", 10);
            f.height = get_int(*ft, "height", 1);
            f.max_length = get_int(*ft, "max_length", 0);
            f.label = get_str(*ft, "label");
            f.choices = get_strings(*ft, "choices");
            f.items = get_strings(*ft, "items");
            f.value = get_str(*ft, "value");
            f.choice = get_int(*ft, "choice", 0);
            f.checked = get_bool(*ft, "checked");
            f.disabled = get_bool(*ft, "disabled");
            f.hidden = get_bool(*ft, "hidden");
            p.fields.push_back(std::move(f));
        }
    if (const auto* buttons = t["button"].as_array())
        for (const auto& e : *buttons) {
            const auto* bt = e.as_table();
            if (!bt) bad(file, id + ": button entries must be tables");
            ButtonDef b;
            b.number = get_int(*bt, "number", 0);
            if (b.number < 1) bad(file, id + ": a button needs a number from 1");
            b.label = get_str(*bt, "label");
            b.row = get_int(*bt, "row", 1);
            b.col = get_int(*bt, "col", 1);
            b.width = get_int(*bt, "width", 10);
            b.height = get_int(*bt, "height", 1);
            b.escape = get_bool(*bt, "escape");
            b.disabled = get_bool(*bt, "disabled");
            p.buttons.push_back(std::move(b));
        }
    return p;
}

ScreenFile from_table(const toml::table& root, const std::string& name) {
    ScreenFile sf;
    sf.name = name;
    const auto* panels = root["panel"].as_array();
    if (!panels) bad(name, "no [[panel]] entries");
    for (const auto& e : *panels) {
        const auto* t = e.as_table();
        if (!t) bad(name, "[[panel]] entries must be tables");
        PanelDef p = read_panel(*t, name, sf);
        if (sf.find(p.screen, p.name)) bad(name, "panel " + p.screen + "/" + p.name + " twice");
        sf.panels.push_back(std::move(p));
    }
    return sf;
}

std::filesystem::path g_folder;

struct Open {
    std::map<int, std::unique_ptr<ScreenFile>> files;
    int next = 1;
};
Open& open_files() {
    static Open o;
    return o;
}

}  // namespace

const PanelDef* ScreenFile::find(const std::string& screen, const std::string& panel) const {
    for (const auto& p : panels)
        if (same_name(p.screen, screen) && same_name(p.name, panel)) return &p;
    return nullptr;
}

ScreenFile parse_screen_file(const std::string& text, const std::string& name) {
    try {
        return from_table(toml::parse(text, name), name);
    } catch (const toml::parse_error& e) {
        bad(name, std::string(e.description()) + " at line " +
                      std::to_string(e.source().begin.line));
    }
}

ScreenFile load_screen_file(const std::filesystem::path& path) {
    try {
        ScreenFile sf = from_table(toml::parse_file(path.string()), path.string());
        sf.name = path.stem().string();
        return sf;
    } catch (const toml::parse_error& e) {
        bad(path.string(), std::string(e.description()) + " at line " +
                               std::to_string(e.source().begin.line));
    }
}

void set_screens_folder(const std::filesystem::path& folder) { g_folder = folder; }

std::filesystem::path screens_folder() {
    if (!g_folder.empty()) return g_folder;
    if (const char* d = std::getenv("DODEDOZ_DATA"); d && *d) return std::filesystem::path(d) / "screens";
    return "screens";
}

int xw_open_screen_file(const std::string& name) {
    auto& o = open_files();
    try {
        auto sf = std::make_unique<ScreenFile>(load_screen_file(screens_folder() / (name + ".toml")));
        sf->name = name;
        int h = o.next++;
        o.files[h] = std::move(sf);
        return h;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return kNoScreenFile;
    }
}

void xw_cls_screen_file(int handle) { open_files().files.erase(handle); }

const ScreenFile* xw_screen_file(int handle) {
    auto& o = open_files();
    auto it = o.files.find(handle);
    return it == o.files.end() ? nullptr : it->second.get();
}

const PanelDef* xw_find_panel_def(int handle, const std::string& screen, const std::string& panel) {
    if (const ScreenFile* sf = xw_screen_file(handle)) return sf->find(screen, panel);
    for (auto& [h, sf] : open_files().files)
        if (const PanelDef* p = sf->find(screen, panel)) return p;
    return nullptr;
}

}  // namespace dz::ui
