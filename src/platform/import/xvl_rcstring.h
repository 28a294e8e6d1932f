// Message texts by number, with their "#...#" placeholders filled in order.
//
// The texts live in one data file, <data folder>/messages/messages.toml, read once on first use.
// Substitution is plain text replacement, never a format call: texts contain "%", and values may
// contain "#" without being taken for placeholders. A control character in a value is shown
// escaped ("\033", see platform/ui/shown_text.h); line breaks stay.
//
// Failure is never silent: a number that has no text, or a table that cannot be read, gives a
// text that names the number and the cause (MessageTable::MissingText), so a message box or
// report line shows what went wrong instead of an empty line. `xvlRCString::Has` and
// `xvlRCString::TableError` let a caller (start-up, tests) check beforehand.
#pragma once

#include <concepts>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace dz::xvl {

// A loaded table of numbered texts. Loading never throws: a file that cannot be read or parsed,
// or an entry that is not `number = "text"`, leaves the table empty with `error()` saying why
// (file, line and entry where known).
class MessageTable {
public:
    MessageTable() = default;
    static MessageTable load(const std::filesystem::path& file);

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::filesystem::path& file() const { return file_; }
    std::size_t size() const { return texts_.size(); }
    // The raw text of `number` (placeholders unfilled), or null when it has none.
    const std::string* find(int number) const;
    const std::map<int, std::string>& texts() const { return texts_; }

    // The text of `number` with its placeholders filled in order from `values`. A placeholder
    // whose value is missing or is the not-set filler keeps its own "#...#" text.
    std::string get(int number, const std::vector<std::string_view>& values) const;
    // What `get` gives for a number without a text (or when the table is not loaded).
    std::string MissingText(int number) const;

private:
    std::filesystem::path file_;
    std::string error_;
    std::map<int, std::string> texts_;
};

// Fills the "#...#" placeholders of `text` in order with `values` (see MessageTable::get).
std::string fill_placeholders(std::string_view text, const std::vector<std::string_view>& values);

class xvlRCString {
public:
    // Filler for the substitution slots a message does not use.
    static constexpr std::string_view NotSet = "!#REPLACEMENT_NOT_SET#!";
    static constexpr std::size_t MaxValues = 10;

    // Get(number, s1 .. s8) as callers write it; up to ten values are accepted.
    template <typename... S>
        requires(sizeof...(S) <= MaxValues && (std::convertible_to<const S&, std::string_view> && ...))
    static std::string Get(int number, const S&... values) {
        return GetValues(number, {std::string_view(values)...});
    }
    static std::string GetValues(int number, std::initializer_list<std::string_view> values);

    // True when the table has a text for `number`.
    static bool Has(int number);
    // Empty when the table was read; otherwise why it could not be.
    static std::string TableError();
    // The process-wide table (loaded on first use from the data folder).
    static const MessageTable& Table();
    // Where the process-wide table is read from.
    static std::filesystem::path DefaultFile();
};

// Words every next step (platform/ui/next_step.h) from this table. Each program calls it once at
// its start, before anything can fail; a step said before it is said as missing words.
void InstallStepWords();

// The words that follow a failure's own as its cause, for the system's error number of the call
// that failed: "Out of disk space" (12013) for a full disk, else the system's own words; empty
// for 0.
std::string ErrorCause(int error);
// `text`, followed by ": " and `cause` when there is one.
std::string WithCause(const std::string& text, const std::string& cause);

}  // namespace dz::xvl
