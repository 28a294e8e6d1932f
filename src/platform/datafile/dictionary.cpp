#include "platform/datafile/dictionary.h"

#include "platform/datafile/data_folder.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

namespace dz::xio {

const RecordDef* Dictionary::record(uint16_t n) const {
    for (const auto& r : records)
        if (r.number == n) return &r;
    return nullptr;
}

const RecordDef* Dictionary::header(uint16_t n) const {
    for (const auto& r : headers)
        if (r.number == n) return &r;
    return nullptr;
}

const FieldDef* Dictionary::field(uint16_t n) const {
    if (n == 0 || n >= fields.size()) return nullptr;
    return &fields[n];
}

static bool same_name(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    if (a == b) return true;  // names are mostly asked for as the dictionary spells them
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

uint16_t Dictionary::fieldNumber(const RecordDef& owner, const std::string& fname) const {
    for (uint16_t n = owner.firstField; n && n <= owner.lastField; ++n)
        if (same_name(fields[n].def.name, fname)) return n;
    return 0;
}

const FileEntry* Dictionary::file(uint16_t fileNo) const {
    for (const auto& f : files)
        if (f.number == fileNo) return &f;
    // A data file with a single file number answers to any number (XVM is asked for by code).
    if (files.size() == 1) return &files.front();
    return nullptr;
}

namespace {

// Thrown inside the parser; turned into "file:line: reason".
struct DictError {
    int line;
    std::string text;
};

int line_of(const toml::node& n) { return static_cast<int>(n.source().begin.line); }

[[noreturn]] void fail(const toml::node& n, const std::string& text) { throw DictError{line_of(n), text}; }

void check_keys(const toml::table& t, std::initializer_list<const char*> allowed, const char* what) {
    for (const auto& [k, v] : t) {
        bool ok = false;
        for (const char* a : allowed)
            if (k.str() == a) ok = true;
        if (!ok) fail(v, std::string("unknown entry '") + std::string(k.str()) + "' in " + what);
    }
}

const toml::node& need(const toml::table& t, const char* key, const char* what) {
    const toml::node* n = t.get(key);
    if (!n) fail(t, std::string(what) + " lacks '" + key + "'");
    return *n;
}

int64_t get_int(const toml::node& n, const char* key, int64_t lo, int64_t hi) {
    auto v = n.value<int64_t>();
    if (!n.is_integer() || !v) fail(n, std::string("'") + key + "' must be a whole number");
    if (*v < lo || *v > hi)
        fail(n, std::string("'") + key + "' must be between " + std::to_string(lo) + " and " + std::to_string(hi));
    return *v;
}

int64_t opt_int(const toml::table& t, const char* key, int64_t dflt, int64_t lo, int64_t hi) {
    const toml::node* n = t.get(key);
    return n ? get_int(*n, key, lo, hi) : dflt;
}

bool opt_bool(const toml::table& t, const char* key, bool dflt) {
    const toml::node* n = t.get(key);
    if (!n) return dflt;
    if (!n->is_boolean()) fail(*n, std::string("'") + key + "' must be true or false");
    return *n->value<bool>();
}

std::string get_str(const toml::node& n, const char* key) {
    if (!n.is_string()) fail(n, std::string("'") + key + "' must be a text");
    return *n.value<std::string>();
}

std::string opt_str(const toml::table& t, const char* key, const std::string& dflt) {
    const toml::node* n = t.get(key);
    return n ? get_str(*n, key) : dflt;
}

bool valid_field_name(const std::string& s) {
    if (s.empty() || s.size() > 7) return false;
    if (!std::isupper(static_cast<unsigned char>(s[0]))) return false;
    for (char c : s)
        if (!std::isupper(static_cast<unsigned char>(c)) && !std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

uint16_t default_length(uint16_t type) {
    switch (type) {
        case XIO_TYPE_LOGICAL: return 1;
        case XIO_TYPE_DATE: return 8;
        case XIO_TYPE_TIME: return 6;
        case XIO_TYPE_CHOICE2: return 2;
        case XIO_TYPE_CHOICE3:
        case XIO_TYPE_CHOICE3B: return 3;
        default: return 10;
    }
}

void read_default(const toml::node& n, xio_fld_def& f) {
    switch (f.type) {
        case XIO_TYPE_TEXT:
        case XIO_TYPE_RIGHT_TEXT: {
            std::string s = get_str(n, "default");
            if (s.size() > f.length) fail(n, "default of " + f.name + " is longer than the field");
            f.defaultValue.text = s;
            break;
        }
        case XIO_TYPE_LOGICAL:
            if (n.is_boolean()) f.defaultValue.flag = *n.value<bool>() ? 1 : 0;
            else f.defaultValue.flag = static_cast<uint16_t>(get_int(n, "default", 0, 1));
            break;
        case XIO_TYPE_DATE: {
            int64_t v = get_int(n, "default", 0, 99991231);  // yyyymmdd, 0 blank
            f.defaultValue.date = {static_cast<uint16_t>(v / 100 % 100), static_cast<uint16_t>(v % 100),
                                   static_cast<uint16_t>(v / 10000)};
            break;
        }
        case XIO_TYPE_TIME: {
            int64_t v = get_int(n, "default", 0, 235959);  // hhmmss
            f.defaultValue.time = {static_cast<uint16_t>(v / 10000), static_cast<uint16_t>(v / 100 % 100),
                                   static_cast<uint16_t>(v % 100)};
            break;
        }
        default: {
            auto d = n.value<double>();
            if (!d || !(n.is_integer() || n.is_floating_point())) fail(n, "default of " + f.name + " must be a number");
            if (xio_is_choice_type(f.type) && (*d < 0 || *d > static_cast<double>(f.items.size())))
                fail(n, "default of " + f.name + " is not one of its items");
            f.defaultValue.number = *d;
        }
    }
}

// One [[record]] or [[header]] table, before numbering.
struct Part {
    const toml::table* table;
    bool isHeader;
    int line;
};

std::shared_ptr<Dictionary> parse(const toml::table& root) {
    auto d = std::make_shared<Dictionary>();
    check_keys(root, {"abbreviation", "name", "version", "multi_user", "files", "record", "header", "key"},
               "the dictionary");
    d->abbr = get_str(need(root, "abbreviation", "the dictionary"), "abbreviation");
    if (d->abbr.empty() || d->abbr.size() > 3) fail(*root.get("abbreviation"), "the abbreviation has 1 to 3 characters");
    for (auto& c : d->abbr) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    d->name = get_str(need(root, "name", "the dictionary"), "name");
    d->version = static_cast<int>(get_int(need(root, "version", "the dictionary"), "version", 1, 1000000));
    d->multiUser = opt_bool(root, "multi_user", false);

    const toml::node& filesNode = need(root, "files", "the dictionary");
    const toml::array* files = filesNode.as_array();
    if (!files || files->empty()) fail(filesNode, "'files' must list at least one data file");
    for (const auto& fn : *files) {
        const toml::table* ft = fn.as_table();
        if (!ft) fail(fn, "each entry of 'files' is { number = ..., name = \"...\" }");
        check_keys(*ft, {"number", "name"}, "a file entry");
        FileEntry fe;
        fe.number = static_cast<uint16_t>(get_int(need(*ft, "number", "a file entry"), "number", 0, 65535));
        fe.name = get_str(need(*ft, "name", "a file entry"), "name");
        for (const auto& other : d->files)
            if (other.number == fe.number) fail(fn, "file number " + std::to_string(fe.number) + " is listed twice");
        if (fe.name.empty()) fail(fn, "a file entry needs a name");
        d->files.push_back(fe);
    }

    // Records and headers, numbered in the order they stand in the file.
    std::vector<Part> parts;
    for (const char* kind : {"record", "header"}) {
        const toml::node* n = root.get(kind);
        if (!n) continue;
        const toml::array* arr = n->as_array();
        if (!arr) fail(*n, std::string("'") + kind + "' must be written [[" + kind + "]]");
        for (const auto& e : *arr) {
            const toml::table* t = e.as_table();
            if (!t) fail(e, std::string("each '") + kind + "' is a table");
            parts.push_back({t, std::string(kind) == "header", line_of(*t)});
        }
    }
    std::stable_sort(parts.begin(), parts.end(), [](const Part& a, const Part& b) { return a.line < b.line; });
    if (parts.empty()) fail(root, "the dictionary has no record types");

    d->fields.resize(1);
    for (const Part& p : parts) {
        const toml::table& t = *p.table;
        const char* what = p.isHeader ? "a header" : "a record";
        check_keys(t, {"number", "name", "key", "key_blank_allowed", "fields"}, what);
        RecordDef r;
        r.isHeader = p.isHeader;
        r.line = p.line;
        r.number = static_cast<uint16_t>(get_int(need(t, "number", what), "number", 1, 65535));
        r.name = get_str(need(t, "name", what), "name");
        auto& list = p.isHeader ? d->headers : d->records;
        for (const auto& o : list)
            if (o.number == r.number)
                fail(t, std::string(p.isHeader ? "header " : "record ") + std::to_string(r.number) + " is defined twice");
        const toml::node& fieldsNode = need(t, "fields", what);
        const toml::array* fa = fieldsNode.as_array();
        if (!fa || fa->empty()) fail(fieldsNode, std::string(what) + " needs at least one field");
        r.firstField = static_cast<uint16_t>(d->fields.size());
        for (const auto& fn : *fa) {
            const toml::table* ft = fn.as_table();
            if (!ft) fail(fn, "each field is { name = \"...\", type = ..., ... }");
            check_keys(*ft, {"name", "description", "type", "length", "width", "decimals", "import_decimals", "signed",
                             "key_format", "key_section", "key_kind", "ud_target", "default", "items", "jc_index"},
                       "a field");
            if (d->fields.size() >= 65535) fail(fn, "too many fields");
            FieldDef f;
            f.line = line_of(fn);
            xio_fld_def& fd = f.def;
            fd.number = static_cast<uint16_t>(d->fields.size());
            fd.name = get_str(need(*ft, "name", "a field"), "name");
            if (!valid_field_name(fd.name))
                fail(fn, "field name '" + fd.name + "' must be 1 to 7 upper-case letters or digits, a letter first");
            for (uint16_t o = r.firstField; o < fd.number; ++o)
                if (d->fields[o].def.name == fd.name) fail(fn, "field " + fd.name + " appears twice in " + r.name);
            fd.description = opt_str(*ft, "description", fd.name);
            fd.type = static_cast<uint16_t>(get_int(need(*ft, "type", "a field"), "type", 0, 9));
            fd.length = static_cast<uint16_t>(opt_int(*ft, "length", xio_is_text_type(fd.type) ? 0 : default_length(fd.type), 0, 32000));
            if (xio_is_text_type(fd.type) && fd.length == 0) fail(fn, "text field " + fd.name + " needs a length");
            fd.displayWidth = static_cast<uint16_t>(opt_int(*ft, "width", fd.length, 0, 32000));
            fd.decimals = static_cast<uint16_t>(opt_int(*ft, "decimals", 0, 0, 9));
            fd.importDecimals =
                static_cast<uint16_t>(opt_int(*ft, "import_decimals", fd.decimals, fd.decimals, 9));
            fd.isSigned = opt_bool(*ft, "signed", false);
            fd.keyFormat = static_cast<uint16_t>(opt_int(*ft, "key_format", 0, 0, 65535));
            fd.keySection = static_cast<uint16_t>(opt_int(*ft, "key_section", 0, 0, 10));
            fd.keyKind = static_cast<uint16_t>(opt_int(*ft, "key_kind", 0, 0, 65535));
            fd.udFlag = opt_bool(*ft, "ud_target", false) ? 0 : 1;
            fd.record = p.isHeader ? 0 : r.number;
            fd.header = p.isHeader ? r.number : 0;
            if (const toml::node* items = ft->get("items")) {
                if (!xio_is_choice_type(fd.type)) fail(*items, "only choice fields (types 7, 8, 9) have items");
                const toml::array* ia = items->as_array();
                if (!ia) fail(*items, "'items' is a list of texts");
                for (const auto& it : *ia) fd.items.push_back(get_str(it, "items"));
            }
            if (const toml::node* dn = ft->get("default")) read_default(*dn, fd);
            f.jcIndex = static_cast<uint16_t>(opt_int(*ft, "jc_index", 0, 0, 65535));
            if (f.jcIndex) {
                if (p.isHeader) fail(fn, "a header field has no jc_index");
                for (uint16_t o = r.firstField; o < fd.number; ++o)
                    if (d->fields[o].jcIndex == f.jcIndex)
                        fail(fn, "jc_index " + std::to_string(f.jcIndex) + " of " + fd.name + " is also the index of " +
                                     d->fields[o].def.name);
            }
            d->fields.push_back(std::move(f));
        }
        r.lastField = static_cast<uint16_t>(d->fields.size() - 1);
        if (const toml::node* kn = t.get("key")) {
            if (p.isHeader) fail(*kn, "a header has no key");
            const toml::array* ka = kn->as_array();
            if (!ka || ka->empty()) fail(*kn, "'key' lists the primary key's field names");
            for (const auto& k : *ka) {
                std::string kname = get_str(k, "key");
                uint16_t no = d->fieldNumber(r, kname);
                if (!no || d->fields[no].def.name != kname) fail(k, "key field " + kname + " is not a field of " + r.name);
                r.primaryKey.push_back(no);
            }
        } else if (!p.isHeader) {
            fail(t, "record " + std::to_string(r.number) + " needs a primary 'key'");
        }
        r.keyBlankAllowed = !p.isHeader && opt_bool(t, "key_blank_allowed", false);
        list.push_back(std::move(r));
    }
    auto byNumber = [](const RecordDef& a, const RecordDef& b) { return a.number < b.number; };
    std::sort(d->records.begin(), d->records.end(), byNumber);
    std::sort(d->headers.begin(), d->headers.end(), byNumber);
    if (d->records.empty()) fail(root, "the dictionary has no record types");

    if (const toml::node* kn = root.get("key")) {
        const toml::array* ka = kn->as_array();
        if (!ka) fail(*kn, "file keys are written [[key]]");
        for (const auto& e : *ka) {
            const toml::table* t = e.as_table();
            if (!t) fail(e, "each key is a table");
            check_keys(*t, {"number", "record", "name", "fields", "unique", "blank_allowed", "excluded", "excluded2"},
                       "a key");
            KeyDef k;
            k.line = line_of(*t);
            xio_key_def& kd = k.def;
            kd.number = static_cast<uint16_t>(get_int(need(*t, "number", "a key"), "number", 1, 65535));
            if (kd.number != d->keys.size() + 1)
                fail(*t, "file keys are numbered 1, 2, 3, ... in order; expected " + std::to_string(d->keys.size() + 1));
            kd.record = static_cast<uint16_t>(get_int(need(*t, "record", "a key"), "record", 1, 65535));
            const RecordDef* r = d->record(kd.record);
            if (!r) fail(*t, "key " + std::to_string(kd.number) + " names record " + std::to_string(kd.record) + ", which is not defined");
            kd.name = opt_str(*t, "name", "");
            if (kd.name.size() > 50) fail(*t, "a key name has at most 50 characters");
            kd.unique = opt_bool(*t, "unique", true);
            kd.blankAllowed = opt_bool(*t, "blank_allowed", false);
            kd.excluded1 = opt_bool(*t, "excluded", false);
            kd.excluded2 = opt_bool(*t, "excluded2", false);
            const toml::node& fn = need(*t, "fields", "a key");
            const toml::array* fa = fn.as_array();
            if (!fa || fa->empty()) fail(fn, "a key lists its field names");
            for (const auto& f : *fa) {
                std::string fname = get_str(f, "fields");
                uint16_t no = d->fieldNumber(*r, fname);
                if (!no || d->fields[no].def.name != fname) fail(f, "key field " + fname + " is not a field of " + r->name);
                kd.fields.push_back(no);
            }
            d->keys.push_back(std::move(k));
        }
    }
    return d;
}

std::mutex g_mutex;
std::map<std::string, std::shared_ptr<const Dictionary>> g_dicts;
bool g_loaded = false;
std::string g_loadError;

}  // namespace

std::shared_ptr<const Dictionary> parse_dictionary(const std::string& text, const std::string& name,
                                                   std::string& error) {
    try {
        toml::table root = toml::parse(text, name);
        auto d = parse(root);
        d->source = name;
        return d;
    } catch (const toml::parse_error& e) {
        std::ostringstream os;
        os << name << ":" << e.source().begin.line << ": " << e.description();
        error = os.str();
    } catch (const DictError& e) {
        error = name + ":" + std::to_string(e.line) + ": " + e.text;
    }
    return nullptr;
}

std::shared_ptr<const Dictionary> load_dictionary(const std::filesystem::path& file, std::string& error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = file.string() + ": cannot be read";
        return nullptr;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    return parse_dictionary(ss.str(), file.string(), error);
}

bool load_all(const std::filesystem::path& folder, std::string& error) {
    std::map<std::string, std::shared_ptr<const Dictionary>> dicts;
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
        if (e.path().extension() == ".toml") files.push_back(e.path());
    if (ec) {
        error = folder.string() + ": " + ec.message();
        std::lock_guard lock(g_mutex);
        g_loaded = true;
        g_loadError = error;
        return false;
    }
    std::sort(files.begin(), files.end());
    bool ok = true;
    std::string firstError;
    for (const auto& f : files) {
        std::string err;
        auto d = load_dictionary(f, err);
        if (d && dicts.count(d->abbr)) err = f.string() + ":1: abbreviation " + d->abbr + " is defined by another file too";
        if (!d || !err.empty()) {
            if (ok) firstError = err;
            ok = false;
            continue;
        }
        dicts[d->abbr] = d;
    }
    std::lock_guard lock(g_mutex);
    g_dicts = std::move(dicts);
    g_loaded = true;
    g_loadError = firstError;
    error = firstError;
    return ok;
}

std::shared_ptr<const Dictionary> get(const std::string& abbr, std::string& error) {
    bool loaded;
    {
        std::lock_guard lock(g_mutex);
        loaded = g_loaded;
    }
    if (!loaded) {
        std::string err;
        load_all(data_folder() / "dictionary", err);
    }
    std::string key = abbr;
    for (auto& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::lock_guard lock(g_mutex);
    auto it = g_dicts.find(key);
    if (it != g_dicts.end()) return it->second;
    error = "no data dictionary for " + abbr;
    if (!g_loadError.empty()) error += " (" + g_loadError + ")";
    return nullptr;
}

std::vector<std::string> abbrs() {
    std::string err;
    get("", err);  // loads on first use
    std::lock_guard lock(g_mutex);
    std::vector<std::string> out;
    for (const auto& [k, v] : g_dicts) out.push_back(k);
    return out;
}

}  // namespace dz::xio
