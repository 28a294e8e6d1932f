// Reading and writing company.toml. The reader checks every entry and refuses the whole file
// at the first problem, naming the file, the entry (dotted path), its line and what was
// expected. The writer produces the canonical layout documented in docs/company.md.
#include "platform/datafile/access_list.h"
#include "platform/datafile/made_file.h"
#include "platform/datafile/users.h"
#include "platform/suite/company.h"
#include "platform/suite/internal.h"
#include "platform/ui/own_files.h"
#include "platform/ui/shown_text.h"

#include <toml++/toml.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <set>
#include <sstream>
#include <system_error>

namespace dz::suite {

namespace {

namespace fs = std::filesystem;

class Reader {
public:
    explicit Reader(fs::path file) : file_(std::move(file)) {}

    [[noreturn]] void fail(const std::string& entry, const std::string& expected,
                           const toml::node* found) const {
        std::ostringstream msg;
        msg << file_.string() << ": entry '" << entry << "'";
        if (found) {
            msg << " (line " << found->source().begin.line << ")";
            msg << ": expected " << expected;
        } else {
            msg << " is missing: expected " << expected;
        }
        throw SettingsError(msg.str());
    }

    static std::string join(const std::string& path, std::string_view key) {
        return path.empty() ? std::string(key) : path + "." + std::string(key);
    }

    // Refuses keys that the format does not know, so that a misspelt entry is not ignored.
    void only_keys(const toml::table& t, const std::string& path,
                   std::initializer_list<std::string_view> keys) const {
        for (const auto& [k, v] : t) {
            bool known = false;
            for (auto allowed : keys) known = known || k.str() == allowed;
            if (!known) {
                std::string list;
                for (auto allowed : keys) list += (list.empty() ? "" : ", ") + std::string(allowed);
                fail(join(path, k.str()), "no such entry (known entries: " + list + ")", &v);
            }
        }
    }

    const toml::table& table(const toml::table& parent, const std::string& path,
                             std::string_view key) const {
        const toml::node* n = parent.get(key);
        if (!n) fail(join(path, key), "a table", nullptr);
        if (!n->is_table()) fail(join(path, key), "a table", n);
        return *n->as_table();
    }

    const toml::table* opt_table(const toml::table& parent, const std::string& path,
                                 std::string_view key) const {
        const toml::node* n = parent.get(key);
        if (!n) return nullptr;
        if (!n->is_table()) fail(join(path, key), "a table", n);
        return n->as_table();
    }

    std::string string(const toml::table& parent, const std::string& path, std::string_view key,
                       bool allow_empty = true) const {
        const toml::node* n = parent.get(key);
        const char* what = allow_empty ? "a text in double quotes" : "a non-empty text in double quotes";
        if (!n) fail(join(path, key), what, nullptr);
        if (!n->is_string()) fail(join(path, key), what, n);
        std::string s = n->as_string()->get();
        if (!allow_empty && s.empty()) fail(join(path, key), what, n);
        check_text(s, join(path, key), n);
        return s;
    }

    std::string string_node(const toml::node& n, const std::string& entry) const {
        if (!n.is_string()) fail(entry, "a text in double quotes", &n);
        std::string s = n.as_string()->get();
        check_text(s, entry, &n);
        return s;
    }

    // Tabs and line breaks would break list texts and single-line reports; any other control
    // character (an ESC) would be taken into the data files and act on the terminal that shows
    // it. Each is said as what it is.
    void check_text(const std::string& s, const std::string& entry, const toml::node* n) const {
        for (unsigned char c : s) {
            if (c == '\t' || c == '\n' || c == '\r') fail(entry, "a text without tabs or line breaks", n);
            if (c < 0x20)
                fail(entry, "a text without control characters; it holds the control character " +
                                ui::shown_text(std::string(1, static_cast<char>(c))), n);
        }
    }

    std::int64_t integer(const toml::table& parent, const std::string& path, std::string_view key,
                         std::int64_t lo, std::int64_t hi, const std::string& expected) const {
        const toml::node* n = parent.get(key);
        if (!n) fail(join(path, key), expected, nullptr);
        return integer_node(*n, join(path, key), lo, hi, expected);
    }

    std::int64_t integer_node(const toml::node& n, const std::string& entry, std::int64_t lo,
                              std::int64_t hi, const std::string& expected) const {
        if (!n.is_integer()) fail(entry, expected, &n);
        std::int64_t v = n.as_integer()->get();
        if (v < lo || v > hi) fail(entry, expected, &n);
        return v;
    }

    bool boolean(const toml::table& parent, const std::string& path, std::string_view key) const {
        const toml::node* n = parent.get(key);
        if (!n) fail(join(path, key), "true or false", nullptr);
        if (!n->is_boolean()) fail(join(path, key), "true or false", n);
        return n->as_boolean()->get();
    }

    const toml::array& array(const toml::table& parent, const std::string& path,
                             std::string_view key, const std::string& expected) const {
        const toml::node* n = parent.get(key);
        if (!n) fail(join(path, key), expected, nullptr);
        if (!n->is_array()) fail(join(path, key), expected, n);
        return *n->as_array();
    }

    std::vector<std::string> strings(const toml::table& parent, const std::string& path,
                                     std::string_view key) const {
        const auto& arr = array(parent, path, key, "a list of texts, e.g. [\"A\", \"B\"]");
        std::vector<std::string> out;
        for (std::size_t i = 0; i < arr.size(); ++i) {
            out.push_back(string_node(*arr.get(i), join(path, key) + "[" + std::to_string(i) + "]"));
        }
        return out;
    }

    // A table key that must be a number (descriptions, formats, lists).
    int number_key(std::string_view key, const std::string& path, const toml::node& n, int lo,
                   int hi) const {
        int v = 0;
        bool ok = !key.empty() && key.size() <= 5;
        for (char c : key) ok = ok && c >= '0' && c <= '9';
        if (ok) v = std::stoi(std::string(key));
        if (!ok || v < lo || v > hi) {
            fail(join(path, key),
                 "a number from " + std::to_string(lo) + " to " + std::to_string(hi) + " as the entry name", &n);
        }
        return v;
    }

    const fs::path& file() const { return file_; }

private:
    fs::path file_;
};

bool is_app_code(const std::string& code) {
    for (const auto& a : known_applications()) {
        if (a == code) return true;
    }
    return false;
}

std::string app_list() {
    std::string s;
    for (const auto& a : known_applications()) s += (s.empty() ? "" : ", ") + a;
    return s;
}

std::string app_code(const Reader& r, const toml::node& n, const std::string& entry) {
    std::string code = r.string_node(n, entry);
    if (!is_app_code(code)) r.fail(entry, "an application code (" + app_list() + ")", &n);
    return code;
}

KeyFormat read_format(const Reader& r, int number, const toml::table& t, const std::string& path) {
    KeyFormat f;
    f.number = number;
    if (number == 9) {
        r.only_keys(t, path, {"prefix_levels", "sections", "descriptions"});
        f.prefix_levels = static_cast<int>(
            r.integer(t, path, "prefix_levels", 0, 3, "the number of prefix levels in use, 0 to 3"));
    } else {
        r.only_keys(t, path, {"sections"});
    }
    const auto& arr = r.array(t, path, "sections", "a list of sections, e.g. [{ description = \"Job\", width = 6 }]");
    std::size_t expected = number == 9 ? static_cast<std::size_t>(f.prefix_levels) + 2 : 0;
    if (number == 9 && arr.size() != expected) {
        r.fail(path + ".sections",
               std::to_string(expected) + " sections (one per prefix level, then the base and the suffix)",
               t.get("sections"));
    }
    if (arr.empty()) r.fail(path + ".sections", "at least one section", t.get("sections"));
    if (arr.size() > 9) r.fail(path + ".sections", "at most 9 sections", t.get("sections"));
    for (std::size_t i = 0; i < arr.size(); ++i) {
        std::string spath = path + ".sections[" + std::to_string(i) + "]";
        const toml::node* n = arr.get(i);
        if (!n->is_table()) r.fail(spath, "a table { description = ..., width = ... }", n);
        const toml::table& st = *n->as_table();
        r.only_keys(st, spath, {"description", "width", "separator", "capitals", "right_justify"});
        KeySection s;
        s.description = r.string(st, spath, "description");
        bool suffix = number == 9 && i + 1 == arr.size();
        s.width = static_cast<int>(r.integer(st, spath, "width", suffix ? 0 : 1, 40,
                                             suffix ? "a width from 0 to 40" : "a width from 1 to 40"));
        s.separator = st.get("separator") ? r.string(st, spath, "separator") : std::string();
        if (s.separator.size() > 3) r.fail(spath + ".separator", "at most 3 characters", st.get("separator"));
        for (unsigned char c : s.separator) {
            if (std::isalnum(c)) r.fail(spath + ".separator", "punctuation or a blank, not letters or digits", st.get("separator"));
        }
        s.capitals = st.get("capitals") ? r.boolean(st, spath, "capitals") : false;
        s.right_justify = st.get("right_justify") ? r.boolean(st, spath, "right_justify") : false;
        f.sections.push_back(std::move(s));
    }
    if (number == 9) {
        const toml::table& d = r.table(t, path, "descriptions");
        r.only_keys(d, path + ".descriptions", {"6", "7", "8", "9", "10"});
        for (const char* k : {"6", "7", "8", "9", "10"}) {
            f.gl_descriptions[std::stoi(k)] = r.string(d, path + ".descriptions", k);
        }
    }
    return f;
}

CompanySettings parse(const Reader& r, const toml::table& root) {
    CompanySettings s;
    r.only_keys(root, "", {"company", "operator", "control", "countries", "applications",
                           "interfaces", "file_control", "security", "formulas", "report_designs",
                           "descriptions", "formats", "lists", "counters"});

    const auto& company = r.table(root, "", "company");
    r.only_keys(company, "company", {"version", "name"});
    r.integer(company, "company", "version", kSettingsVersion, kSettingsVersion,
              "version " + std::to_string(kSettingsVersion) + " (this program's settings format)");
    s.name = r.string(company, "company", "name");

    const auto& op = r.table(root, "", "operator");
    r.only_keys(op, "operator", {"name"});
    s.operator_name = r.string(op, "operator", "name");

    const auto& control = r.table(root, "", "control");
    r.only_keys(control, "control", {"accounting_method", "jc_transaction_flag"});
    s.accounting_method = static_cast<int>(r.integer(control, "control", "accounting_method", 1, 3,
                                                     "1 (accrual), 2 (cash) or 3 (both)"));
    s.jc_transaction_flag = static_cast<int>(r.integer(control, "control", "jc_transaction_flag", 0, 1,
                                                       "0 (JCT file 6) or 1 (JCT file 7)"));

    const auto& countries = r.table(root, "", "countries");
    r.only_keys(countries, "countries", {"AP", "PR"});
    const std::string country_expected = "1 (USA), 2 (Canada), 61 (Australia) or 0 (unknown)";
    for (const char* m : {"AP", "PR"}) {
        auto v = static_cast<int>(r.integer(countries, "countries", m, 0, 61, country_expected));
        if (v != 0 && v != 1 && v != 2 && v != 61) r.fail(std::string("countries.") + m, country_expected, countries.get(m));
        (std::string(m) == "AP" ? s.country_ap : s.country_pr) = v;
    }

    const auto& apps = r.table(root, "", "applications");
    r.only_keys(apps, "applications", {"installed"});
    const auto& inst = r.array(apps, "applications", "installed", "a list of application codes");
    for (std::size_t i = 0; i < inst.size(); ++i) {
        s.installed.insert(app_code(r, *inst.get(i), "applications.installed[" + std::to_string(i) + "]"));
    }

    if (const toml::node* n = root.get("interfaces")) {
        if (!n->is_array_of_tables()) r.fail("interfaces", "[[interfaces]] tables", n);
        const auto& arr = *n->as_array();
        for (std::size_t i = 0; i < arr.size(); ++i) {
            std::string p = "interfaces[" + std::to_string(i) + "]";
            const auto& t = *arr.get(i)->as_table();
            r.only_keys(t, p, {"from", "to", "active", "creates_entries"});
            InterfaceDef d;
            if (!t.get("from")) r.fail(p + ".from", "an application code", nullptr);
            if (!t.get("to")) r.fail(p + ".to", "an application code", nullptr);
            d.from = app_code(r, *t.get("from"), p + ".from");
            d.to = app_code(r, *t.get("to"), p + ".to");
            d.active = r.boolean(t, p, "active");
            d.creates_entries = r.boolean(t, p, "creates_entries");
            for (const auto& other : s.interfaces) {
                if (other.from == d.from && other.to == d.to) r.fail(p, "one entry per pair of applications", arr.get(i));
            }
            s.interfaces.push_back(d);
        }
    }

    if (const auto* fc = r.opt_table(root, "", "file_control")) {
        for (const auto& [k, v] : *fc) {
            std::string key(k.str());
            if (key.empty() || key.size() > 3) r.fail("file_control." + key, "a data-file abbreviation of 1 to 3 characters as the entry name", &v);
            s.file_control[key] = r.string_node(v, "file_control." + key);
        }
    }

    if (const auto* sec = r.opt_table(root, "", "security")) {
        for (const auto& [k, v] : *sec) {
            std::string entry = "security." + std::string(k.str());
            if (!is_app_code(std::string(k.str()))) r.fail(entry, "an application code (" + app_list() + ") as the entry name", &v);
            if (!v.is_array()) r.fail(entry, "a list of option numbers (group * 1000 + option)", &v);
            const auto& arr = *v.as_array();
            auto& opts = s.security_allowed[std::string(k.str())];
            for (std::size_t i = 0; i < arr.size(); ++i) {
                auto num = r.integer_node(*arr.get(i), entry + "[" + std::to_string(i) + "]", 1, 999999,
                                          "an option number (group * 1000 + option)");
                opts.insert(static_cast<int>(num));
            }
        }
    }

    if (const auto* f = r.opt_table(root, "", "formulas")) {
        r.only_keys(*f, "formulas", {"names"});
        s.formulas = r.strings(*f, "formulas", "names");
    }
    if (const auto* f = r.opt_table(root, "", "report_designs")) {
        r.only_keys(*f, "report_designs", {"names"});
        s.report_designs = r.strings(*f, "report_designs", "names");
    }

    const auto& desc = r.table(root, "", "descriptions");
    for (const auto& [k, v] : desc) {
        int n = r.number_key(k.str(), "descriptions", v, 1, 9999);
        s.descriptions[n] = r.string_node(v, "descriptions." + std::string(k.str()));
    }

    const auto& formats = r.table(root, "", "formats");
    for (const auto& [k, v] : formats) {
        int n = r.number_key(k.str(), "formats", v, 1, 9999);
        std::string p = "formats." + std::string(k.str());
        if (!v.is_table()) r.fail(p, "a table", &v);
        s.formats[n] = read_format(r, n, *v.as_table(), p);
    }
    if (!s.formats.count(9)) r.fail("formats.9", "the GL account format", nullptr);

    if (const auto* lists = r.opt_table(root, "", "lists")) {
        for (const auto& [k, v] : *lists) {
            int n = r.number_key(k.str(), "lists", v, 1, 9999);
            std::string p = "lists." + std::string(k.str());
            if (!v.is_table()) r.fail(p, "a table { default = ..., values = [...] }", &v);
            const auto& t = *v.as_table();
            r.only_keys(t, p, {"default", "values"});
            CustomList l;
            l.default_value = r.string(t, p, "default");
            l.values = r.strings(t, p, "values");
            s.lists[n] = std::move(l);
        }
    }

    if (const auto* counters = r.opt_table(root, "", "counters")) {
        r.only_keys(*counters, "counters", {"last_run", "batch"});
        for (const char* which : {"last_run", "batch"}) {
            const auto* t = r.opt_table(*counters, "counters", which);
            if (!t) continue;
            for (const auto& [k, v] : *t) {
                std::string entry = "counters." + std::string(which) + "." + std::string(k.str());
                auto num = static_cast<std::uint32_t>(
                    r.integer_node(v, entry, 0, 0xFFFFFFFFLL, "a whole number from 0 to 4294967295"));
                (std::string(which) == "last_run" ? s.last_run : s.batch_numbers)[std::string(k.str())] = num;
            }
        }
    }
    return s;
}

// TOML basic string with the escapes the format requires.
std::string q(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04X", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string qlist(const std::vector<std::string>& v) {
    std::string out = "[";
    for (std::size_t i = 0; i < v.size(); ++i) out += (i ? ", " : "") + q(v[i]);
    return out + "]";
}

// A key that TOML accepts bare (letters, digits, '_' and '-'), else quoted.
std::string key(const std::string& k) {
    bool bare = !k.empty();
    for (unsigned char c : k) bare = bare && (std::isalnum(c) || c == '_' || c == '-');
    return bare ? k : q(k);
}

std::string render(const CompanySettings& s) {
    std::ostringstream o;
    o << "# Company settings. Described in docs/company.md. The program rewrites this file when a\n"
         "# counter moves or an interface is activated; comments are not kept.\n\n";
    o << "[company]\nversion = " << kSettingsVersion << "\nname = " << q(s.name) << "\n\n";
    o << "[operator]\nname = " << q(s.operator_name) << "\n\n";
    o << "[control]\n# 1 accrual only, 2 cash only, 3 both\naccounting_method = " << s.accounting_method
      << "\n# 1: job cost transactions in JCT file 7, 0: file 6\njc_transaction_flag = "
      << s.jc_transaction_flag << "\n\n";
    o << "[countries]\n# 1 USA, 2 Canada, 61 Australia, 0 unknown\nAP = " << s.country_ap
      << "\nPR = " << s.country_pr << "\n\n";
    std::vector<std::string> inst;
    for (const auto& a : known_applications()) {
        if (s.installed.count(a)) inst.push_back(a);
    }
    o << "[applications]\ninstalled = " << qlist(inst) << "\n\n";
    for (const auto& i : s.interfaces) {
        o << "[[interfaces]]\nfrom = " << q(i.from) << "\nto = " << q(i.to)
          << "\nactive = " << (i.active ? "true" : "false")
          << "\ncreates_entries = " << (i.creates_entries ? "true" : "false") << "\n\n";
    }
    o << "[file_control]\n# abbreviation = data folder (relative to the company folder); the\n"
         "# company folder itself when an abbreviation is not listed\n";
    for (const auto& [k, v] : s.file_control) o << key(k) << " = " << q(v) << "\n";
    o << "\n[security]\n# application = [allowed options, group * 1000 + option]\n";
    for (const auto& [app, opts] : s.security_allowed) {
        o << key(app) << " = [";
        bool first = true;
        for (int opt : opts) {
            o << (first ? "" : ", ") << opt;
            first = false;
        }
        o << "]\n";
    }
    o << "\n";
    o << "[formulas]\nnames = " << qlist(s.formulas) << "\n\n";
    o << "[report_designs]\nnames = " << qlist(s.report_designs) << "\n\n";
    o << "[descriptions]\n";
    for (const auto& [n, d] : s.descriptions) o << n << " = " << q(d) << "\n";
    for (const auto& [n, f] : s.formats) {
        o << "\n[formats." << n << "]\n";
        if (n == 9) o << "prefix_levels = " << f.prefix_levels << "\n";
        o << "sections = [\n";
        for (const auto& sec : f.sections) {
            o << "  { description = " << q(sec.description) << ", width = " << sec.width
              << ", separator = " << q(sec.separator) << ", capitals = " << (sec.capitals ? "true" : "false")
              << ", right_justify = " << (sec.right_justify ? "true" : "false") << " },\n";
        }
        o << "]\n";
        if (n == 9) {
            o << "[formats.9.descriptions]\n";
            for (const auto& [code, d] : f.gl_descriptions) o << code << " = " << q(d) << "\n";
        }
    }
    for (const auto& [n, l] : s.lists) {
        o << "\n[lists." << n << "]\ndefault = " << q(l.default_value) << "\nvalues = " << qlist(l.values) << "\n";
    }
    o << "\n[counters.last_run]\n";
    for (const auto& [k, v] : s.last_run) o << key(k) << " = " << v << "\n";
    o << "\n[counters.batch]\n";
    for (const auto& [k, v] : s.batch_numbers) o << key(k) << " = " << v << "\n";
    return o.str();
}

}  // namespace

CompanySettings read_settings(const fs::path& file) {
    Reader r(file);
    std::error_code ec;
    const bool there = fs::exists(file, ec);
    // A folder this user may not enter hides the file without its being missing: say so.
    if (ec) throw SettingsError(file.string() + ": the settings file cannot be read: " + ec.message(), ec.value());
    if (!there) {
        throw SettingsError(file.string() + ": the settings file does not exist (expected a company folder made by 'dodedoz-cli company init')");
    }
    // A pipe or a device would be waited on or read without end.
    if (!fs::is_regular_file(file, ec)) throw SettingsError(file.string() + ": the settings file is not a regular file");
    if (::access(file.c_str(), R_OK) != 0) {
        const int error = errno;
        throw SettingsError(file.string() + ": the settings file cannot be read: " + std::strerror(error), error);
    }
    toml::table root;
    try {
        root = toml::parse_file(file.string());
    } catch (const toml::parse_error& e) {
        std::ostringstream msg;
        msg << file.string() << ": line " << e.source().begin.line << ": not valid TOML: " << e.description();
        throw SettingsError(msg.str());
    }
    return parse(r, root);
}

SettingsRefusal settings_refusal(const fs::path& file) {
    SettingsRefusal refusal;
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return refusal;
    const fs::path parent = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    refusal.unwritable = ::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) != 0 ||
                         ::faccessat(AT_FDCWD, parent.c_str(), W_OK | X_OK, AT_EACCESS) != 0;
    // The new file takes this user's group, or the folder's where it gives its own; this user
    // then gives it the old file's where they are of that group. Root gives it anything. Told
    // beside a want of leave to write, so that leave given does not meet this next.
    struct stat folder {};
    if (::geteuid() == 0 || ::stat(parent.c_str(), &folder) != 0 ||
        st.st_gid == ((folder.st_mode & S_ISGID) ? folder.st_gid : ::getegid()))
        return refusal;
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(0, ::getgroups(0, nullptr))));
    const int n = ::getgroups(static_cast<int>(groups.size()), groups.data());
    if (std::find(groups.begin(), groups.begin() + std::max(0, n), st.st_gid) == groups.begin() + std::max(0, n))
        refusal.group = xio::group_name(st.st_gid);
    return refusal;
}

std::string SettingsRefusal::words() const {
    std::string text;
    if (unwritable) text = "you may not write it, or the folder it is in";
    if (!group.empty())
        text += (text.empty() ? "" : ", and ") + std::string("its group ") + group +
                " would be lost, as you are not a member of it";
    return text;
}

std::string settings_replace_refusal(const fs::path& file) { return settings_refusal(file).words(); }

void clear_stale_settings_copy(const fs::path& file) {
    const std::string aside = file.string() + ".new";
    struct stat named {};
    if (::lstat(aside.c_str(), &named) != 0) return;
    // A rewrite holds its new copy locked from before the copy has its name until it is renamed
    // into place: one found unlocked is a killed rewrite's. A link, a pipe or anything this user
    // may not open is no rewrite's either: its name goes, never what it points to.
    const int fd = S_ISREG(named.st_mode) ? ::open(aside.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC) : -1;
    struct stat held {};
    const bool live = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    const bool same = fd < 0 || (::fstat(fd, &held) == 0 && held.st_dev == named.st_dev && held.st_ino == named.st_ino);
    if (!live && same) ::unlink(aside.c_str());
    if (fd >= 0) ::close(fd);
}

void write_settings(const fs::path& file, const CompanySettings& settings) {
    // Written aside, flushed to the disk, then renamed over the old file: a crash leaves
    // either the old settings or the new ones, never a part.
    // One who may not write the file never replaces it, whatever the folder lets them do: the
    // rename would give the company's settings to them.
    if (const std::string refusal = settings_replace_refusal(file); !refusal.empty())
        throw SettingsError(file.string() + ": cannot be written: " + refusal, EACCES);
    clear_stale_settings_copy(file);
    // The new copy is made by the one maker with the old file's rights from its first moment: its
    // owner (root's rewrite; another writer's makes it theirs, the list naming its former owner
    // with what it had, where it names anyone), group, bits and access list. A new company's
    // file is this user's, readable past the umask as it asks.
    xio::MadeFile spec;
    spec.name = file.string() + ".new";
    if (std::optional<xio::MadeRights> rights = xio::rights_for(file.string(), 07)) {
        spec.rights = std::move(*rights);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
            spec.rights.giveOwner = false;
        spec.rights.list = [mask](const xio::FileOwners&, bool) { return std::optional(xio::AccessList::of_bits(0644 & ~mask)); };
    }
    // Locked before anyone may meet it: no other command takes it for a killed rewrite's.
    spec.beforeNamed = [](int fd) { (void)::flock(fd, LOCK_EX); };
    const xio::Made made = xio::make_file(spec);
    int err = made.error;
    const std::string bytes = render(settings);
    if (err == 0 && !files::write_all(made.fd, bytes)) err = errno ? errno : EIO;
    if (err == 0 && ::fsync(made.fd) != 0) err = errno;
    if (err == 0 && ::rename(spec.name.c_str(), file.c_str()) != 0) err = errno;
    if (made.fd >= 0) {
        if (err != 0) ::unlink(spec.name.c_str());
        ::close(made.fd);
    }
    if (err != 0) throw SettingsError(file.string() + ": cannot be written: " + std::strerror(err), err);
}

}  // namespace dz::suite
