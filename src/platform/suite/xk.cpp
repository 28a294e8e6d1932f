#include "platform/suite/xk.h"

#include "platform/suite/company.h"
#include "platform/suite/internal.h"
#include "platform/suite/util.h"
#include "platform/ui/ui.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <map>
#include <optional>

namespace dz::suite {

namespace {

struct Part {
    int width = 0;
    std::string separator;  // written after this part when a further part follows
    bool capitals = false;
    bool right_justify = false;
};

// Where a section lies in the format's whole unformatted value, and what it is made of.
struct Layout {
    int offset = 0;
    int width = 0;  // the parts' widths added up
    std::vector<Part> parts;
    std::bitset<256> separatorChars;  // the parts' separator characters, blanks left out
    // The first characters of the parts' separators, blanks included: a text holding none of
    // them has no separator to remove.
    std::bitset<256> separatorStarts;
    // Per character, what a check needs to know of it (kStartsSeparator, kRefused): one table
    // read a character answers both questions in a single pass.
    std::array<std::uint8_t, 256> classes{};
};

constexpr std::uint8_t kStartsSeparator = 1;  // begins one of the separators
constexpr std::uint8_t kRefused = 2;          // a control character or a separator character

// Answers worked out from the settings, kept while settings_generation() stays the same (one
// set per thread: a display thread and a conversion may both ask). Nothing in the settings can
// change meanwhile, so the formats and layouts they point at stand as they are.
struct Resolved {
    int fmt = 0;
    int section = 0;  // -1: the format itself
    const void* answer = nullptr;
    bool used = false;
};
constexpr std::size_t kResolvedSlots = 64;  // a power of two
struct ResolvedSet {
    std::uint64_t generation = 0;
    Resolved slots[kResolvedSlots];
    void clear() {
        for (auto& r : slots) r = Resolved{};
    }
};
ResolvedSet& resolved_now() {
    thread_local ResolvedSet set;
    const std::uint64_t g = settings_generation();
    if (set.generation != g) {
        set.clear();
        set.generation = g;
    }
    return set;
}
Resolved& resolved_slot(ResolvedSet& set, int fmt, int section) {
    const auto h = static_cast<std::size_t>(static_cast<unsigned>(fmt) * 31u + static_cast<unsigned>(section + 1));
    return set.slots[h & (kResolvedSlots - 1)];
}

const KeyFormat* find_format_live(int fmt) {
    const auto& formats = active_settings().formats;
    auto it = formats.find(fmt);
    return it == formats.end() ? nullptr : &it->second;
}

const KeyFormat* find_format(int fmt) {
    ResolvedSet& set = resolved_now();
    Resolved& r = resolved_slot(set, fmt, -1);
    if (r.used && r.fmt == fmt && r.section == -1) return static_cast<const KeyFormat*>(r.answer);
    const KeyFormat* f = find_format_live(fmt);
    r = Resolved{fmt, -1, f, true};
    return f;
}

Part part_of(const KeySection& s) { return Part{s.width, s.separator, s.capitals, s.right_justify}; }

Layout finished(Layout l) {
    for (const auto& p : l.parts) {
        l.width += p.width;
        if (!p.separator.empty()) l.separatorStarts.set(static_cast<unsigned char>(p.separator.front()));
        for (const char c : p.separator)
            if (c != ' ') l.separatorChars.set(static_cast<unsigned char>(c));
    }
    for (unsigned c = 0; c < 256; ++c) {
        if (l.separatorStarts.test(c)) l.classes[c] |= kStartsSeparator;
        if (c < 0x20 || c == 0x7F || l.separatorChars.test(c)) l.classes[c] |= kRefused;
    }
    return l;
}

Layout gl_layout(const KeyFormat& f, int section) {
    const int levels = f.prefix_levels;
    // Part indices: prefixes 0..levels-1, then base, then suffix (may be width 0).
    std::vector<Part> all;
    for (const auto& s : f.sections) all.push_back(part_of(s));
    const int base = levels;
    const int suffix = levels + 1;
    auto range = [&](int first, int last) {  // parts first..last inclusive
        Layout l;
        for (int i = 0; i < first; ++i) l.offset += all[i].width;
        for (int i = first; i <= last; ++i) {
            if (all[i].width > 0) l.parts.push_back(all[i]);
        }
        return finished(std::move(l));
    };
    switch (section) {
        case kGlWhole:
        case kGlDisplay: return range(0, suffix);
        case kGlPrefixA: return levels >= 1 ? range(0, 0) : Layout{};
        case kGlPrefixBPart: return levels >= 2 ? range(1, 1) : Layout{};
        case kGlPrefixCPart: return levels >= 3 ? range(2, 2) : Layout{};
        case kGlBase: return range(base, base);
        case kGlSuffix: return range(suffix, suffix);
        case kGlPrefix: return levels >= 1 ? range(0, levels - 1) : Layout{};
        case kGlBaseAccount: return range(base, suffix);
        case kGlPrefixAB: return levels >= 2 ? range(0, 1) : Layout{};
        case kGlPrefixABC: return levels >= 3 ? range(0, 2) : Layout{};
        default: return Layout{};
    }
}

Layout build_layout(const KeyFormat& f, int fmt, int section) {
    if (fmt == kGlAccountFormat) return gl_layout(f, section);
    Layout l;
    if (section == 0) {
        for (const auto& s : f.sections) l.parts.push_back(part_of(s));
    } else if (section >= 1 && section <= static_cast<int>(f.sections.size())) {
        for (int i = 0; i < section - 1; ++i) l.offset += f.sections[i].width;
        l.parts.push_back(part_of(f.sections[section - 1]));
    }
    return finished(std::move(l));
}

// The layouts of a format, built once and used while the live format is still the one they were
// built from: every key field of every record asks for them, often several times. Checking the
// live format costs a few comparisons and allocates nothing, so settings adopted while the
// program runs (or another company opened) are never answered from an older format.
struct FormatLayouts {
    int number = 0;
    int prefixLevels = 0;
    std::vector<Part> sections;   // the live format's sections when the layouts were built
    std::vector<std::optional<Layout>> layouts;  // by section code, each built when first asked for
    bool matches(const KeyFormat& f) const {
        if (f.prefix_levels != prefixLevels || f.sections.size() != sections.size()) return false;
        for (std::size_t i = 0; i < sections.size(); ++i) {
            const KeySection& live = f.sections[i];
            const Part& kept = sections[i];
            if (live.width != kept.width || live.capitals != kept.capitals ||
                live.right_justify != kept.right_justify || live.separator != kept.separator)
                return false;
        }
        return true;
    }
};

const Layout& layout_live(ResolvedSet& set, int fmt, int section) {
    static const Layout none{};
    const KeyFormat* f = find_format_live(fmt);
    if (!f || f->sections.empty()) return none;
    // One cache per thread: a display thread and a conversion may both ask.
    thread_local std::map<int, FormatLayouts> cache;
    FormatLayouts& c = cache[fmt];
    if (c.layouts.empty() || !c.matches(*f)) {
        set.clear();  // what it held of this format's layouts is about to go
        c.number = fmt;
        c.prefixLevels = f->prefix_levels;
        c.sections.clear();
        for (const auto& s : f->sections) c.sections.push_back(part_of(s));
        const int codes = fmt == kGlAccountFormat ? kGlPrefixABC + 1 : static_cast<int>(f->sections.size()) + 1;
        c.layouts.assign(static_cast<std::size_t>(codes), std::nullopt);
    }
    if (section < 0 || section >= static_cast<int>(c.layouts.size())) return none;
    auto& l = c.layouts[static_cast<std::size_t>(section)];
    if (!l) l = build_layout(*f, fmt, section);
    return *l;
}

// Every key field of every record asks for a layout, often several times: within one generation
// of the settings the answer is the one found before.
const Layout& layout(int fmt, int section) {
    ResolvedSet& set = resolved_now();
    Resolved* r = &resolved_slot(set, fmt, section);
    if (r->used && r->fmt == fmt && r->section == section) return *static_cast<const Layout*>(r->answer);
    const Layout& l = layout_live(set, fmt, section);
    r = &resolved_slot(set, fmt, section);
    *r = Resolved{fmt, section, &l, true};
    return l;
}

bool at(std::string_view text, std::size_t pos, const std::string& sep) {
    // The first character decides almost every time, without a call.
    return !sep.empty() && pos + sep.size() <= text.size() && text[pos] == sep.front() &&
           text.compare(pos, sep.size(), sep) == 0;
}

// Removes separators found where a formatted value has them. Each part takes up to its width,
// stopping early at its separator (a short part that was typed with its separator).
void unformat_into(const Layout& l, std::string_view text, std::string& out) {
    out.clear();
    std::size_t pos = 0;
    for (std::size_t i = 0; i < l.parts.size() && pos < text.size(); ++i) {
        const Part& p = l.parts[i];
        const bool last = i + 1 == l.parts.size();
        std::size_t j = pos;
        for (int n = 0; j < text.size() && n < p.width; ++n, ++j) {
            if (!last && at(text, j, p.separator)) break;
        }
        out.append(text.substr(pos, j - pos));
        pos = j;
        if (!last && at(text, pos, p.separator)) pos += p.separator.size();
    }
    if (pos < text.size()) out.append(text.substr(pos));
}

// Inserts the separators into an unformatted value `u`.
void format_unformatted_into(const Layout& l, std::string_view u, std::string& out) {
    out.clear();
    std::size_t pos = 0;
    for (std::size_t i = 0; i < l.parts.size() && pos < u.size(); ++i) {
        if (i > 0) out += l.parts[i - 1].separator;
        std::size_t n = std::min<std::size_t>(l.parts[i].width, u.size() - pos);
        out.append(u.substr(pos, n));
        pos += n;
    }
    if (pos < u.size()) out.append(u.substr(pos));
}

void trim_right(std::string& s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
}

}  // namespace

int xk_width(int fmt, int section) { return layout(fmt, section).width; }

int xk_num_sections(int fmt) {
    const KeyFormat* f = find_format(fmt);
    if (!f) return 0;
    if (fmt == kGlAccountFormat) return f->prefix_levels;
    return f->sections.empty() ? 0 : static_cast<int>(f->sections.size()) - 1;
}

bool xk_prefixed(int fmt) { return fmt == kGlAccountFormat && xk_num_sections(fmt) > 0; }

bool xk_multi_section(int fmt) { return layout(fmt, 0).parts.size() > 1; }

bool xk_capitals(int fmt, int section) {
    const Layout& l = layout(fmt, section);
    if (l.parts.empty()) return false;
    for (const auto& p : l.parts) {
        if (!p.capitals) return false;
    }
    return true;
}

bool xk_right_justify(int fmt, int section) {
    const Layout& l = layout(fmt, section);
    if (l.parts.empty()) return false;
    for (const auto& p : l.parts) {
        if (!p.right_justify) return false;
    }
    return true;
}

void xk_get_section(int fmt, bool formatted, int section, std::string& text) {
    if (formatted) xk_unformat_field(fmt, 0, text);
    const Layout& l = layout(fmt, section);
    const auto off = static_cast<std::size_t>(l.offset);
    if (l.parts.empty() || off >= text.size()) {
        text.clear();
        return;
    }
    text.erase(0, off);
    if (text.size() > static_cast<std::size_t>(l.width)) text.resize(static_cast<std::size_t>(l.width));
    trim_right(text);
}

void xk_format_field(int fmt, int section, std::string& text) {
    const Layout& l = layout(fmt, section);
    if (l.parts.empty()) return;
    thread_local std::string plain, out;
    unformat_into(l, text, plain);
    format_unformatted_into(l, plain, out);
    text.swap(out);
}

void xk_unformat_field(int fmt, int section, std::string& text) {
    const Layout& l = layout(fmt, section);
    if (l.parts.empty()) return;
    thread_local std::string out;
    unformat_into(l, text, out);
    text.swap(out);
}

std::string xk_build_key(int fmt, const std::vector<std::string>& sections) {
    const Layout& l = layout(fmt, 0);
    std::size_t given = sections.size();
    while (given > 0 && sections[given - 1].find_first_not_of(' ') == std::string::npos) --given;
    std::string out;
    for (std::size_t i = 0; i < given; ++i) {
        std::string s = sections[i];
        trim_right(s);
        if (i < l.parts.size() && i + 1 < given) {
            const auto w = static_cast<std::size_t>(l.parts[i].width);
            if (s.size() < w) {
                s = l.parts[i].right_justify ? std::string(w - s.size(), ' ') + s : s + std::string(w - s.size(), ' ');
            }
        }
        out += s;
    }
    trim_right(out);
    return out;
}

namespace {

// What the characters of `text` are, taken together (kStartsSeparator, kRefused).
std::uint8_t classes_of(const Layout& l, std::string_view text) {
    std::uint8_t any = 0;
    for (const unsigned char c : text) any |= l.classes[c];
    return any;
}

// Whether `text` holds a character that begins one of the layout's separators. Without one,
// removing the separators leaves the text as it is.
bool holds_separator_start(const Layout& l, std::string_view text) {
    if (l.separatorStarts.none()) return false;
    return (classes_of(l, text) & kStartsSeparator) != 0;
}

// Whether the unformatted value `u` with its separators inserted is `text` (letter case aside):
// format_unformatted_into compared in place, without building the formatted text.
bool formats_to(const Layout& l, std::string_view u, std::string_view text) {
    std::size_t pos = 0, at = 0;
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    auto next_is = [&](std::string_view piece) {
        if (piece.size() > text.size() - at) return false;
        for (const char c : piece)
            if (upper(text[at++]) != upper(c)) return false;
        return true;
    };
    for (std::size_t i = 0; i < l.parts.size() && pos < u.size(); ++i) {
        if (i > 0 && !next_is(l.parts[i - 1].separator)) return false;
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(l.parts[i].width), u.size() - pos);
        if (!next_is(u.substr(pos, n))) return false;
        pos += n;
    }
    return next_is(u.substr(pos)) && at == text.size();
}

// The checks of a value with its separators removed; `classes` is classes_of(l, u).
bool check_unformatted(const Layout& l, int fmt, std::string_view u, std::uint8_t classes, std::string* why) {
    auto refuse = [&](std::string reason) {
        if (why) *why = std::move(reason);
        return false;
    };
    if (u.empty()) return refuse("it is blank");
    const int width = l.width;
    if (classes & kRefused) {
        // The first such character names the reason.
        for (unsigned char c : u) {
            if (c < 0x20 || c == 0x7F) return refuse("it holds a control character");
            if (l.separatorChars.test(c)) return refuse("it holds a separator character");
        }
    }
    if (fmt == kGlAccountFormat) {
        if (u.find(' ') != std::string::npos) return refuse("it holds a blank");
        if (static_cast<int>(u.size()) != width) {
            return refuse("it must be " + std::to_string(width) + " characters long");
        }
    } else if (static_cast<int>(u.size()) > width) {
        return refuse("it may be at most " + std::to_string(width) + " characters long");
    } else if (u.front() == ' ' && !l.parts.front().right_justify) {
        return refuse("it begins with a blank");
    }
    return true;
}

bool check_in(const Layout& l, int fmt, std::string_view text, std::string* why) {
    if (l.parts.empty()) {
        if (why) *why = "this part of the key is not in use";
        return false;
    }
    // Most values are typed without separators: nothing to remove.
    const std::uint8_t classes = classes_of(l, text);
    if (!(classes & kStartsSeparator)) return check_unformatted(l, fmt, text, classes, why);
    // Working texts kept from call to call: a check of every key field of every record
    // allocates nothing once they have grown.
    thread_local std::string unformatted, again, formatted;
    unformat_into(l, text, unformatted);
    const std::string_view u = unformatted;
    if (u != text) {
        unformat_into(l, u, again);
        format_unformatted_into(l, again, formatted);
        if (!equal_nocase(formatted, text)) {
            if (why) *why = "its separators are not where the key format puts them";
            return false;
        }
    }
    return check_unformatted(l, fmt, u, classes_of(l, u), why);
}

}  // namespace

bool xk_check(int fmt, int section, std::string_view text, std::string* why) {
    return check_in(layout(fmt, section), fmt, text, why);
}

bool xk_unformat_check(int fmt, int section, std::string_view text, std::string& value, std::string* why) {
    const Layout& l = layout(fmt, section);
    if (l.parts.empty()) {
        value.assign(text);
        return check_in(l, fmt, value, why);
    }
    const std::uint8_t classes = classes_of(l, text);
    if (!(classes & kStartsSeparator)) {
        // Nothing to remove: the value is the text, checked as it is.
        value.assign(text);
        return check_unformatted(l, fmt, value, classes, why);
    }
    unformat_into(l, text, value);
    // A value typed with its separators is stored only when it shows again as it was typed (as
    // xk_check has it). Otherwise a section typed short before its separator ("0-1" for sections
    // of 3) would be stored with the sections slid together ("01"), and one typed with a
    // separator too many ("12-3-4" leaves "123-4") would keep a separator inside the stored key.
    bool typedAsShown = value == text || formats_to(l, value, text);
    if (typedAsShown && holds_separator_start(l, value)) {
        thread_local std::string again;
        unformat_into(l, value, again);
        typedAsShown = again == value;
    }
    if (!typedAsShown) {
        if (why) *why = "its separators are not where the key format puts them";
        return false;
    }
    return check_in(l, fmt, value, why);
}

bool xk_valid(int fmt, int section, std::string_view text) {
    std::string why;
    if (xk_check(fmt, section, text, &why)) return true;
    std::string what = xk_description(fmt, section);
    if (what.empty()) what = xk_description(fmt, 0);
    if (what.empty()) what = "value";
    x_upper_first(what);
    dz::ui::current().message(102, what + " '" + std::string(text) + "' is invalid: " + why + ".");
    return false;
}

std::string xk_description(int n, int section) {
    const auto& s = active_settings();
    if (section == 0) {
        auto it = s.descriptions.find(n);
        return it == s.descriptions.end() ? std::string() : it->second;
    }
    const KeyFormat* f = find_format(n);
    if (!f) return {};
    if (n == kGlAccountFormat) {
        const int levels = f->prefix_levels;
        if (section >= 1 && section <= 3) return section <= levels ? f->sections[section - 1].description : "";
        if (section == kGlBase) return f->sections[levels].description;
        if (section == kGlSuffix) return f->sections[levels + 1].description;
        auto it = f->gl_descriptions.find(section);
        return it == f->gl_descriptions.end() ? std::string() : it->second;
    }
    if (section >= 1 && section <= static_cast<int>(f->sections.size())) return f->sections[section - 1].description;
    return {};
}

std::string xk_get_custom_list(int n) {
    const auto& lists = active_settings().lists;
    auto it = lists.find(n);
    if (it == lists.end()) return {};
    const CustomList& l = it->second;
    if (l.values.empty()) return l.default_value;
    std::string out = l.default_value;
    for (const auto& v : l.values) {
        out += kListSeparator;
        out += v;
    }
    return out;
}

std::string xk_get_custom_list_default(int n) {
    const auto& lists = active_settings().lists;
    auto it = lists.find(n);
    return it == lists.end() ? std::string() : it->second.default_value;
}

std::vector<std::string> cl_string_to_cListContainer(std::string_view text) {
    std::vector<std::string> out;
    if (text.empty()) return out;
    std::size_t start = 0;
    while (true) {
        std::size_t end = text.find(kListSeparator, start);
        out.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return out;
}

}  // namespace dz::suite
