#include "platform/suite/util.h"

#include "platform/datafile/made_file.h"
#include "platform/suite/company.h"
#include "platform/suite/xd.h"
#include "platform/ui/own_files.h"
#include "platform/ui/shown_text.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <random>
#include <system_error>

namespace dz::suite {

namespace fs = std::filesystem;

namespace {

bool is_vowel(char c) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u';
}

std::uint64_t random64() {
    static std::mt19937_64 gen([] {
        std::random_device rd;
        return (static_cast<std::uint64_t>(rd()) << 32) ^ rd() ^
               static_cast<std::uint64_t>(::getpid()) ^
               static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }());
    return gen();
}

}  // namespace

void x_capitalize(std::string& text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

void x_lower_case(std::string& text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

void x_init_caps(std::string& text) {
    bool start = true;
    for (char& c : text) {
        auto u = static_cast<unsigned char>(c);
        if (std::isalpha(u)) {
            c = static_cast<char>(start ? std::toupper(u) : std::tolower(u));
            start = false;
        } else {
            start = c == ' ' || c == '\t' || c == '-' || c == '/';
        }
    }
}

void x_upper_first(std::string& text) {
    if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
}

void x_pluralize(std::string& text) {
    std::size_t end = text.find_last_not_of(' ');
    if (end == std::string::npos) return;
    std::string word_end = text.substr(0, end + 1);
    std::string tail = text.substr(end + 1);
    const char last = word_end.back();
    if (!std::isalpha(static_cast<unsigned char>(last))) {
        text = word_end + "s" + tail;
        return;
    }
    const bool upper = std::isupper(static_cast<unsigned char>(last)) &&
                       (word_end.size() < 2 || !std::islower(static_cast<unsigned char>(word_end[word_end.size() - 2])));
    auto cased = [&](const char* s) {
        std::string r(s);
        if (upper) x_capitalize(r);
        return r;
    };
    const char l = static_cast<char>(std::tolower(static_cast<unsigned char>(last)));
    const char before = word_end.size() >= 2 ? static_cast<char>(std::tolower(static_cast<unsigned char>(word_end[word_end.size() - 2]))) : ' ';
    if (l == 'y' && std::isalpha(static_cast<unsigned char>(before)) && !is_vowel(before)) {
        word_end.pop_back();
        word_end += cased("ies");
    } else if (l == 's' || l == 'x' || l == 'z' || ((l == 'h') && (before == 'c' || before == 's'))) {
        word_end += cased("es");
    } else {
        word_end += cased("s");
    }
    text = word_end + tail;
}

void x_strins(std::string_view word, std::string& text, std::size_t pos) {
    text.insert(std::min(pos, text.size()), word);
}

fs::path x_log_path() {
    if (const Company* c = current_company()) return c->folder() / "dodedoz.log";
    return x_temp_folder() / "dodedoz.log";
}

namespace {

// A company's log is made by the one maker with company.toml's rights, read and write at most:
// whoever may write the settings may add to it, whoever may only read them may only read it.
void make_company_log(const std::string& log, const std::string& settings) {
    struct stat st {};
    if (::lstat(log.c_str(), &st) == 0 || errno != ENOENT) return;
    std::optional<xio::MadeRights> rights = xio::rights_for(settings, 06);
    if (!rights) return;
    xio::MadeFile spec;
    spec.name = log;
    spec.rights = std::move(*rights);
    const xio::Made made = xio::make_file(spec);
    if (made.fd >= 0) ::close(made.fd);
}

}  // namespace

void x_log(std::string_view text) {
    const LocalDateTime at = xd_get_date_time();
    const x_date_type& d = at.date;
    const x_time_type& t = at.time;
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u ", unsigned(d.year), unsigned(d.month),
                  unsigned(d.day), unsigned(t.hour), unsigned(t.minute), unsigned(t.second));
    // The company folder is shared: a log name planted as a link is not followed. One entry is
    // one line, whatever the text holds: names and values read from files are shown escaped.
    // Every user who may write the company's settings may add to its log.
    const Company* company = current_company();
    if (company) make_company_log(x_log_path().string(), company->settings_file().string());
    files::append_to_file(x_log_path().string(), std::string(stamp) + ui::shown_text(text, ui::LineBreaks::Blank) + "\n",
                          0644, company ? company->settings_file().string() : std::string());
}

void x_update_task(int percent, std::string_view text) {
    std::string line = "[" + std::to_string(percent) + "%] " + ui::shown_text(text, ui::LineBreaks::Blank);
    // Progress is for a person watching: standard error sent to a file or a pipe gets none, as
    // a run in the foreground shows its progress line only on a terminal. The log keeps it.
    static const bool terminal = ::isatty(STDERR_FILENO) != 0;
    if (terminal) std::cerr << line << "\n";
    x_log(line);
}

void x_abort(std::string_view text) {
    std::cerr << "dodedoz: " << ui::shown_text(text, ui::LineBreaks::Kept) << "\n";
    x_log(text);
    std::_Exit(2);
}

bool x_copy_file(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    return fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec) && !ec;
}

bool x_delete_file(const fs::path& path) {
    std::error_code ec;
    return fs::remove(path, ec) && !ec;
}

bool x_mkdir(const fs::path& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    return !ec && fs::is_directory(path, ec);
}

bool x_dir_exists(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

bool x_valid_path(const fs::path& path) { return x_dir_exists(path); }

fs::path x_temp_folder() {
    std::error_code ec;
    fs::path p = fs::temp_directory_path(ec);
    return ec ? fs::path("/tmp") : p;
}

fs::path x_temp_name() {
    fs::path dir = x_temp_folder();
    if (!x_dir_exists(dir)) return {};
    for (int i = 0; i < 100; ++i) {
        char name[40];
        std::snprintf(name, sizeof name, "dz%08llx.tmp", static_cast<unsigned long long>(random64() & 0xFFFFFFFFULL));
        fs::path p = dir / name;
        std::error_code ec;
        if (!fs::exists(p, ec)) return p;
    }
    return {};
}

std::string x_path_remove_backslash(std::string_view path) {
    std::string s(path);
    while (s.size() > 1 && (s.back() == '\\' || s.back() == '/')) {
        if (s.size() == 3 && s[1] == ':') break;  // "C:\" stays a root
        s.pop_back();
    }
    return s;
}

fs::path xdf_get_global_data_folder() {
    if (const Company* c = current_company()) return c->folder();
    std::error_code ec;
    fs::path p = fs::current_path(ec);
    return ec ? fs::path(".") : p;
}

std::string x_new_uuid() {
    // 48-bit Unix milliseconds, version 7, 12 bits that keep identifiers of one millisecond in
    // order, variant 10, 62 random bits.
    static std::mutex m;
    static std::uint64_t last_ms = 0;
    static std::uint16_t seq = 0;
    std::uint64_t ms;
    std::uint16_t counter;
    {
        std::lock_guard<std::mutex> lock(m);
        ms = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::system_clock::now().time_since_epoch())
                                            .count());
        if (ms <= last_ms) {
            ms = last_ms;
            if (++seq > 0x0FFF) {  // more than 4096 in one millisecond: borrow the next one
                ++ms;
                seq = 0;
            }
        } else {
            seq = static_cast<std::uint16_t>(random64() & 0x03FF);
        }
        last_ms = ms;
        counter = seq;
    }
    std::array<unsigned char, 16> b{};
    for (int i = 0; i < 6; ++i) b[i] = static_cast<unsigned char>(ms >> (8 * (5 - i)));
    b[6] = static_cast<unsigned char>(0x70 | ((counter >> 8) & 0x0F));
    b[7] = static_cast<unsigned char>(counter & 0xFF);
    std::uint64_t r = random64();
    for (int i = 8; i < 16; ++i) b[i] = static_cast<unsigned char>(r >> (8 * (i - 8)));
    b[8] = static_cast<unsigned char>(0x80 | (b[8] & 0x3F));
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += hex[b[i] >> 4];
        out += hex[b[i] & 0x0F];
    }
    return out;
}

}  // namespace dz::suite
