#include "platform/import/xvl_rcstring.h"

#include <toml++/toml.h>

#include "platform/ui/next_step.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/datafile/data_folder.h"
#include "platform/ui/shown_text.h"

namespace dz::xvl {

namespace {

std::string line_of(const toml::source_region& where) {
    return where.begin.line ? ", line " + std::to_string(where.begin.line) : std::string();
}

// A message number is a plain decimal of at most nine digits, above zero.
bool parse_number(std::string_view key, int& number) {
    if (key.empty() || key.size() > 9) return false;
    int n = 0;
    for (char c : key) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    if (n <= 0) return false;
    number = n;
    return true;
}

}  // namespace

MessageTable MessageTable::load(const std::filesystem::path& file) {
    MessageTable table;
    table.file_ = file;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        table.error_ = "message table " + file.string() + " does not exist or is not a file";
        return table;
    }
    toml::table doc;
    try {
        doc = toml::parse_file(file.string());
    } catch (const toml::parse_error& e) {
        table.error_ = "message table " + file.string() + line_of(e.source()) + ": " + std::string(e.description());
        return table;
    }
    std::map<int, std::string> texts;
    for (auto&& [key, node] : doc) {
        const std::string where = "message table " + file.string() + line_of(key.source()) + ": entry '" +
                                  std::string(key.str()) + "'";
        int number = 0;
        if (!parse_number(key.str(), number)) {
            table.error_ = where + " is not a message number";
            return table;
        }
        const auto* text = node.as_string();
        if (!text) {
            table.error_ = where + " is not a quoted text";
            return table;
        }
        if (!texts.emplace(number, text->get()).second) {
            table.error_ = where + " repeats message " + std::to_string(number);
            return table;
        }
    }
    table.texts_ = std::move(texts);
    return table;
}

const std::string* MessageTable::find(int number) const {
    auto it = texts_.find(number);
    return it == texts_.end() ? nullptr : &it->second;
}

std::string MessageTable::MissingText(int number) const {
    if (!ok()) return "Message " + std::to_string(number) + " cannot be shown: " + error_;
    return "Message " + std::to_string(number) + " has no text in the message table " + file_.string();
}

std::string MessageTable::get(int number, const std::vector<std::string_view>& values) const {
    const std::string* text = find(number);
    if (!text) return MissingText(number);
    return fill_placeholders(*text, values);
}

std::string fill_placeholders(std::string_view text, const std::vector<std::string_view>& values) {
    std::string out;
    out.reserve(text.size() + 64);
    std::size_t slot = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t open = text.find('#', pos);
        const std::size_t close = open == std::string_view::npos ? open : text.find('#', open + 1);
        if (close == std::string_view::npos) {  // no (further) complete placeholder
            out.append(text.substr(pos));
            break;
        }
        out.append(text.substr(pos, open - pos));
        if (slot < values.size() && values[slot] != xvlRCString::NotSet) {
            // Values come from text files, records and folders: their control characters are
            // shown, not sent on. Line breaks stay, for a value that is itself a message.
            const std::string_view v = values[slot];
            if (ui::needs_showing(v))
                out.append(ui::shown_text(v, ui::LineBreaks::Kept));
            else
                out.append(v);
        } else {
            out.append(text.substr(open, close - open + 1));
        }
        ++slot;
        pos = close + 1;
    }
    return out;
}

std::filesystem::path xvlRCString::DefaultFile() { return dz::data_folder() / "messages" / "messages.toml"; }

const MessageTable& xvlRCString::Table() {
    static const MessageTable table = MessageTable::load(DefaultFile());
    return table;
}

std::string xvlRCString::GetValues(int number, std::initializer_list<std::string_view> values) {
    return Table().get(number, std::vector<std::string_view>(values));
}

namespace {
// The steps a front end words (platform/ui/next_step.h) are numbered messages of this table.
std::string FillStepMessage(int number, const std::vector<std::string>& values) {
    return xvlRCString::Table().get(number, std::vector<std::string_view>(values.begin(), values.end()));
}
}  // namespace

void InstallStepWords() { ui::set_message_filler(&FillStepMessage); }

bool xvlRCString::Has(int number) { return Table().find(number) != nullptr; }

std::string xvlRCString::TableError() { return Table().error(); }

std::string ErrorCause(int error) {
    if (error == 0) return {};
    return error == ENOSPC ? xvlRCString::Get(12013) : std::string(std::strerror(error));
}

std::string WithCause(const std::string& text, const std::string& cause) {
    return cause.empty() ? text : text + ": " + cause;
}

}  // namespace dz::xvl
