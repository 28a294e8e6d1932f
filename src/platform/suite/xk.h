// Key formats, custom descriptions and custom lists of the open company.
//
// A key format is a custom description number with one or more sections. Values are stored
// unformatted (the sections' characters one after another, each section at its own position)
// and shown formatted (the sections joined by their separators). A section code names part of
// a value: for every format 0 is the whole value and 1..n the n sections; the GL account
// format 9 has the codes below. Sections are positional over the unformatted value, so a
// leading part of an account (a prefix) yields the same sections as the whole account.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dz::suite {

inline constexpr int kGlAccountFormat = 9;
inline constexpr int kJobFormat = 16;
inline constexpr int kPhaseFormat = 18;

// Section codes of the GL account format.
enum GlSection : int {
    kGlWhole = 0,        // the whole account
    kGlPrefixA = 1,      // prefix A
    kGlPrefixBPart = 2,  // the prefix B part alone
    kGlPrefixCPart = 3,  // the prefix C part alone
    kGlBase = 4,         // the base part
    kGlSuffix = 5,       // the suffix
    kGlPrefix = 6,       // the whole prefix, all levels in use
    kGlBaseAccount = 7,  // base + suffix, as base-account records hold it
    kGlDisplay = 8,      // the whole account as typed and shown
    kGlPrefixAB = 9,     // prefix A followed by the prefix B part
    kGlPrefixABC = 10,   // prefix A, the prefix B part and the prefix C part
};

// Unformatted width of a section; 0 when the format or the section does not exist.
int xk_width(int fmt, int section);
// Format 9: the number of prefix levels in use (0 to 3). Other formats: sections - 1
// (0 for a one-section or unknown format).
int xk_num_sections(int fmt);
// True when format 9 has at least one prefix level. Always false for other formats.
bool xk_prefixed(int fmt);
// True when the format's whole value has more than one section.
bool xk_multi_section(int fmt);
// Editor style of a section: every part of it is kept in capitals / right-justified.
bool xk_capitals(int fmt, int section);
bool xk_right_justify(int fmt, int section);

// Replaces `text` by its section `section`. With `formatted` the text is unformatted first.
// A section beyond the value's length comes back empty; trailing blanks are dropped.
void xk_get_section(int fmt, bool formatted, int section, std::string& text);
// Inserts the separators of a value of `section`. Idempotent: a formatted value comes back
// as it was. Characters beyond the format's width are kept after the last section, never cut.
void xk_format_field(int fmt, int section, std::string& text);
// Removes the separators of a value of `section`; an unformatted value comes back as it was.
void xk_unformat_field(int fmt, int section, std::string& text);
// Joins the sections of a key into its unformatted value: every section but the last given
// one is padded to its width (on the left when right-justified); trailing blanks are dropped.
std::string xk_build_key(int fmt, const std::vector<std::string>& sections);
// True when `text` (formatted or not) is a complete value of that section: GL sections exact
// in width, other formats at most their width, no separator characters or control characters
// inside, separators (when typed) at their places. Otherwise shows a message box through the
// UI interface and returns false.
bool xk_valid(int fmt, int section, std::string_view text);
// The same test without a message; `why` (optional) receives the reason.
bool xk_check(int fmt, int section, std::string_view text, std::string* why = nullptr);
// xk_unformat_field of `text` into `value`, then xk_check of `value`, in one look at the format:
// for a column of key values read line by line. `text` must not be held by `value`.
bool xk_unformat_check(int fmt, int section, std::string_view text, std::string& value, std::string* why = nullptr);

// Custom description `n`; with a section, the description of that section of key format n.
// Empty when the company has none.
std::string xk_description(int n, int section = 0);

// Custom list `n` as one text: the default first, then the values allowed, separated by
// kListSeparator. Callers drop the first entry when the text holds two or more; a list
// without values is its default alone (empty when neither is set).
inline constexpr char kListSeparator = '\t';
std::string xk_get_custom_list(int n);
// The first entry of custom list `n` (its default); empty when none.
std::string xk_get_custom_list_default(int n);
// Splits a list text into its entries; an empty text gives no entries.
std::vector<std::string> cl_string_to_cListContainer(std::string_view text);

}  // namespace dz::suite
