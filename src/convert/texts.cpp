#include "convert/texts.h"

#include "convert/platform_links.h"
#include "convert/reports.h"
#include "platform/datafile/stored_number.h"
#include "platform/datafile/utf8.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_template.h"
#include "platform/import/xvl_timestamp.h"
#include "platform/ui/own_files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>
#include <sys/stat.h>

namespace dz::convert {
namespace fs = std::filesystem;

namespace {

uint16_t g_screenFileHandle = 0;

std::string Format(const char* fmt, auto... args) {
    char buf[128];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

void TrimTrailingBlanks(std::string& s) {
    const auto last = s.find_last_not_of(' ');
    s.resize(last == std::string::npos ? 0 : last + 1);
}

bool AllDigits(const std::string& s) {
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// The fixed-width text of one value by its field type, so that record-ID texts compare in key
// order (numbers padded, dates year first).
// printf's "%0*.0f" of a value that is not negative: whole values (every key number a
// conversion meets) are written directly, anything else through printf.
std::string ZeroPaddedWhole(double value, int width) {
    if (value >= 0 && value < 1e18 && value == std::trunc(value)) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, static_cast<unsigned long long>(value)).ptr;
        const auto n = static_cast<std::size_t>(end - digits);
        std::string out(width > 0 && static_cast<std::size_t>(width) > n ? static_cast<std::size_t>(width) - n : 0, '0');
        out.append(digits, n);
        return out;
    }
    return Format("%0*.0f", width, value);
}

// Blank-filled to, or cut at, `width` characters (texts are UTF-8).
void PadOrCut(std::string& text, std::size_t width) {
    const std::size_t chars = Utf8Length(text);
    if (chars < width) text.append(width - chars, ' ');
    else text.resize(Utf8Prefix(text, width).size());
}

// Whether capitalizing can change the text: a lowercase ASCII letter or a byte beyond ASCII
// (which the C library's case tables may map). Most key values are capitals and digits already.
bool MayCapitalize(const std::string& text) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || u >= 0x80) return true;
    }
    return false;
}

void AlignKeyText(const xio_fld_def& def, std::string& text) {
    if (def.type != XIO_TYPE_TEXT) return;
    const std::size_t width = std::min<std::size_t>(def.length, 81);
    const std::size_t chars = Utf8Length(text);
    if (chars < width) {
        const bool right = def.keyFormat != 0 && (AllDigits(text) || KeyFormatMultiSection(def.keyFormat));
        if (right)
            text.insert(0, width - chars, ' ');
        else
            text.append(width - chars, ' ');
    }
    if (MayCapitalize(text)) Capitalize(text);
}

// A text key value aligned as its key compares and blank-filled to, or cut at, its width; `def`
// is the field's definition.
void FixWidth(const xio_fld_def& def, uint16_t, uint16_t, std::string& text) {
    AlignKeyText(def, text);
    const std::size_t width = def.displayWidth ? def.displayWidth : def.length;
    if (width < 255) PadOrCut(text, width);
}

std::string FixedWidthText(const xio_fld_def& def, const x_value_def& v, uint16_t file, uint16_t field) {
    switch (def.type) {
    case XIO_TYPE_TEXT: {
        std::string text = v.text;
        FixWidth(def, file, field, text);
        return text;
    }
    case XIO_TYPE_NUMBER: {
        std::string out;
        if (def.isSigned) {
            out = ZeroPaddedWhole(v.number + std::pow(10.0, def.length), def.length + 1);
            out.resize(std::min<std::size_t>(out.size(), def.length + 1u));
        } else {
            out = ZeroPaddedWhole(std::fabs(v.number), static_cast<int>(def.length));
            out.resize(std::min<std::size_t>(out.size(), def.length));
        }
        return out;
    }
    case XIO_TYPE_LOGICAL:
        return v.flag ? "1" : "0";
    case XIO_TYPE_DATE:
        return Format("%04hu%02hu%02hu", v.date.year, v.date.month, v.date.day).substr(0, 8);
    case XIO_TYPE_TIME:
        return Format("%02hu%02hu%02hu", v.time.hour, v.time.minute, v.time.second).substr(0, 6);
    case XIO_TYPE_RIGHT_TEXT: {
        std::string text = v.text;
        const std::size_t width = def.displayWidth ? def.displayWidth : def.length;
        if (text.size() < width) text.insert(0, width - text.size(), ' ');
        return text;
    }
    case XIO_TYPE_EDITED:
        return Format("%09.0f", v.number).substr(0, 9);
    case XIO_TYPE_CHOICE2:
        return Format("%02d", xio_whole_part(v.number, 0)).substr(0, 2);
    case XIO_TYPE_CHOICE3:
    case XIO_TYPE_CHOICE3B:
        return Format("%03d", xio_whole_part(v.number, 0)).substr(0, 3);
    default:
        return "";
    }
}

void AppendKeyDisplay(std::string& out, uint16_t file, uint16_t record, const std::vector<uint16_t>& fields) {
    out += " - ";
    bool first = true;
    for (uint16_t f : fields) {
        std::string text;
        FieldDisplayText(text, file, record, f);
        if (!first) out += ", ";
        out += "'" + text + "'";
        first = false;
    }
}

uint16_t OpenByPath(const std::string& path) {
    uint16_t handle = 0;
    return xio_open_file(path, 1, handle) == XIO_OK ? handle : 0;
}

}  // namespace

// ---- Reject file and time stamp ----------------------------------------------------------------

namespace {

// The reject file's name with counter `n` (0: none).
std::string RejectCandidate(const std::string& textPath, const std::string& abbreviation, long n) {
    const auto slash = textPath.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? std::string() : textPath.substr(0, slash + 1);
    const std::string prefix = ModuleInstalled("PM") ? "Rej" : "Reject";
    return folder + prefix + (n == 0 ? std::string() : std::to_string(n)) + abbreviation + ".txt";
}

bool Taken(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));  // a dangling link takes its name too
}

}  // namespace

std::string RejectFileName(const std::string& textPath, const std::string& abbreviation) {
    long n = 0;
    while (Taken(RejectCandidate(textPath, abbreviation, n))) ++n;
    return RejectCandidate(textPath, abbreviation, n);
}

std::string ClaimRejectFile(const std::string& textPath, const std::string& abbreviation) {
    // The name is taken by creating the file: whatever stands under a name, a link above all,
    // is passed over, and nothing can be planted between the choice and the first reject.
    for (long n = 0;; ++n) {
        const std::string name = RejectCandidate(textPath, abbreviation, n);
        if (files::claim_new_file(name, 0666)) return name;
        // Any other failure (the folder cannot be written): the name stands, and the first
        // reject then reports that the file cannot be made.
        if (errno != EEXIST) return name;
    }
}

void ReleaseRejectFile(const std::string& rejectName) {
    if (!rejectName.empty()) files::drop_claimed_file(rejectName);
}

std::string BuildTimeStampLine(const std::string& usingText) {
    std::string oper;
    if (!OperatorName(oper)) oper.clear();
    const auto [d, t] = TodayAndNow();
    const xvl::StampClock clock{d.year, d.month, d.day, t.hour, t.minute};
    return xvl::BuildTimeStampLine(oper, clock, usingText);
}

bool TimeStampTextFile(const std::string& textPath, NotesReport* notes, const std::string& usingText,
                       const xvl::TextSource* source, const std::string& stampLine) {
    std::error_code ec;
    const auto size = source ? source->Size() : fs::file_size(textPath, ec);
    std::string error;
    const std::string line = stampLine.empty() ? BuildTimeStampLine(usingText) : stampLine;
    // An empty text file has no first line to keep: it is left as it is.
    const bool stamped = !ec && size > 0 &&
                         (source ? xvl::StampTextFile(*source, line, error) : xvl::StampTextFile(textPath, line, error));
    if (stamped) return true;
    if (notes) {
        notes->PrintMessageLine("", 0, "");
        notes->PrintMessageLine("", 0, "Note: Time stamp not added to original text file");
    }
    return false;
}

// ---- A conversion the stamp could not follow --------------------------------------------------------

namespace {

// One row per converted text file, named by a number that grows with each conversion (twenty
// digits, so the names' order is the conversions' order), the newest kConvertedTextsKept kept.
constexpr const char* kConvertedTextsPrefix = "converted_text:";
constexpr std::size_t kConvertedTextsKept = 256;
// The one row an earlier version kept, replaced by each conversion into the file; still read,
// so a text file it recorded stays known as converted.
constexpr const char* kConvertedTextMeta = "converted_text";
constexpr std::size_t kLegacyIdentityHead = 64 * 1024;

std::string IdentityText(uint64_t length, const struct timespec& changed, uint64_t hash) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%llu %lld.%09ld %016llx", static_cast<unsigned long long>(length),
                  static_cast<long long>(changed.tv_sec), static_cast<long>(changed.tv_nsec),
                  static_cast<unsigned long long>(hash));
    return buf;
}

// The earlier version's identity: size, time of last change, a hash of the first 64 KiB.
std::string LegacyIdentity(const std::string& path) {
    struct stat st {};
    std::string head;
    if (::stat(path.c_str(), &st) != 0 ||
        files::read_file_head(path, kLegacyIdentityHead, head) != files::HeadRead::Ok)
        return "";
    uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : head) hash = (hash ^ c) * 1099511628211ull;
    char buf[96];
    std::snprintf(buf, sizeof buf, "%llu %lld.%09ld %016llx", static_cast<unsigned long long>(st.st_size),
                  static_cast<long long>(st.st_mtim.tv_sec), static_cast<long>(st.st_mtim.tv_nsec),
                  static_cast<unsigned long long>(hash));
    return buf;
}

// The stamp line of a recorded "<identity>\n<stamp line>" when the identity is `identity`.
bool StampOf(const std::string& recorded, const std::string& identity, std::string& stampLine) {
    if (recorded.size() <= identity.size() || recorded.compare(0, identity.size(), identity) != 0 ||
        recorded[identity.size()] != '\n')
        return false;
    stampLine = recorded.substr(identity.size() + 1);
    return true;
}

}  // namespace

std::string TextFileIdentity(const std::string& path, const xvl::TextSource* source) {
    std::shared_ptr<xvl::TextSource> own;
    if (!source) {
        own = xvl::TextSource::Open(path);
        source = own.get();
    }
    struct stat st {};
    uint64_t hash = 0, length = 0;
    if (!source || ::fstat(source->Fd(), &st) != 0 || !source->WholeHash(hash, length)) return "";
    return IdentityText(length, st.st_mtim, hash);
}

int RecordConvertedText(uint16_t handle, const std::string& identity, const std::string& stampLine) {
    if (identity.empty()) return XIO_OK;
    std::vector<std::pair<std::string, std::string>> rows;
    if (int s = xio_list_meta(handle, kConvertedTextsPrefix, rows); s != XIO_OK) return s;
    // The same text file converted again keeps one row, the newest; then the oldest go, so the
    // new row makes the bound.
    uint64_t last = 0;
    std::vector<std::string> drop;
    std::size_t left = 0;
    std::string ignored;
    for (const auto& [name, value] : rows) {
        uint64_t number = 0;
        const char* digits = name.data() + std::strlen(kConvertedTextsPrefix);
        const auto parsed = std::from_chars(digits, name.data() + name.size(), number);
        if (parsed.ec == std::errc() && parsed.ptr == name.data() + name.size()) last = std::max(last, number);
        if (StampOf(value, identity, ignored))
            drop.push_back(name);
        else
            ++left;
    }
    for (std::size_t i = 0; i < rows.size() && left >= kConvertedTextsKept; ++i)
        if (!StampOf(rows[i].second, identity, ignored)) {
            drop.push_back(rows[i].first);
            --left;
        }
    for (const auto& name : drop)
        if (int s = xio_drop_meta(handle, name); s != XIO_OK) return s;
    char number[32];
    std::snprintf(number, sizeof number, "%020llu",
                  static_cast<unsigned long long>(last == UINT64_MAX ? last : last + 1));
    return xio_put_meta(handle, kConvertedTextsPrefix + std::string(number), identity + "\n" + stampLine);
}

bool ConvertedBefore(const OpenFilesList& files, const std::string& path, std::string& stampLine) {
    const std::string identity = TextFileIdentity(path);
    if (identity.empty()) return false;
    std::string legacy;
    bool legacyMade = false;
    for (const auto& e : files) {
        if (e.handle == 0) continue;
        std::vector<std::pair<std::string, std::string>> rows;
        if (xio_list_meta(e.handle, kConvertedTextsPrefix, rows) == XIO_OK)
            for (auto it = rows.rbegin(); it != rows.rend(); ++it)
                if (StampOf(it->second, identity, stampLine)) return true;
        std::string value;
        if (xio_get_meta(e.handle, kConvertedTextMeta, value) != XIO_OK) continue;
        if (!legacyMade) legacy = LegacyIdentity(path), legacyMade = true;
        if (!legacy.empty() && StampOf(value, legacy, stampLine)) return true;
    }
    return false;
}

// ---- Record-ID texts -----------------------------------------------------------------------------

void AlignKeyText(uint16_t file, uint16_t field, std::string& text) {
    if (const xio_fld_def* def = xio_field_def(file, field)) AlignKeyText(*def, text);
}

namespace {

// Copies a key value (at most a few dozen bytes) a word at a time, the last word overlapping:
// for copies this short, the compiler's own expansion (a string instruction) is far slower.
void CopyShort(char* to, const char* from, std::size_t n) {
    if (n >= 8) {
        for (std::size_t i = 0; i + 8 < n; i += 8) std::memcpy(to + i, from + i, 8);
        std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + n - 4, from + n - 4, 4);
    } else {
        for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
    }
}

// The common text key value, appended as FixWidth would shape it without a copy of its own:
// plain ASCII that capitalizing leaves as it is. False (nothing appended) for any other value,
// which takes the general way, and for an empty one, which may receive a new identifier.
bool AppendPlainKeyText(const xio_fld_def& def, std::string_view value, std::string& out) {
    value = Utf8PrefixBytes(value, x_value_def::kTextMax);  // as a field read gives it
    if (value.empty()) return false;
    bool digits = true;
    for (char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || u >= 0x80) return false;
        digits = digits && u >= '0' && u <= '9';
    }
    // One byte a character: aligned to the key's width, then blank-filled to, or cut at, the
    // field's own.
    const std::size_t alignWidth = std::min<std::size_t>(def.length, 81);
    std::size_t before = 0, after = 0;
    if (value.size() < alignWidth) {
        if (def.keyFormat != 0 && (digits || KeyFormatMultiSection(def.keyFormat)))
            before = alignWidth - value.size();
        else
            after = alignWidth - value.size();
    }
    const std::size_t width = def.displayWidth ? def.displayWidth : def.length;
    std::size_t total = width < 255 ? width : before + value.size() + after;
    // Kept from the compiler's reasoning: knowing it short, it fills the blanks with a string
    // instruction whose start-up cost outweighs the whole field, where the library's fill does not.
    asm("" : "+r"(total));
    // Blanks, then the value (what fits) written over them.
    const std::size_t start = out.size();
    out.resize(start + total, ' ');
    const std::size_t lead = std::min(before, total);
    CopyShort(out.data() + start + lead, value.data(), std::min(value.size(), total - lead));
    return true;
}

}  // namespace

void FormatKeyField(uint16_t file, std::string& out, uint16_t field) {
    const xio_fld_def* found = xio_field_def(file, field);
    if (!found) return;
    const xio_fld_def& def = *found;
    // Kept from call to call: every record's ID text passes here once a key field, and a text
    // key is aligned and padded without allocating once these have grown.
    thread_local x_value_def value;
    thread_local std::string text;
    if (def.type == XIO_TYPE_TEXT && AppendPlainKeyText(def, xio_get_text(file, field), out)) return;
    xio_get_field(file, 0, field, value);
    if (def.type == XIO_TYPE_TEXT && def.keyKind == XIO_KEY_KIND_NEW_ID && value.text.empty()) {
        // A new record of a file keyed by identifier: it receives its identifier now, and is
        // stored with it.
        value.text = NewKeyIdentifier().substr(0, 81);
        xio_put_field(file, 0, field, value);
    }
    if (def.type == XIO_TYPE_TEXT) {
        text.assign(value.text);
        FixWidth(def, file, field, text);
        out += text;
        return;
    }
    out += FixedWidthText(def, value, file, field);
}

void RecordIdText(uint16_t file, std::string& out, uint16_t record) {
    // The prefix first: it ends in a tab, so trimming the key's trailing blanks stops there.
    char prefix[16];
    char* end = std::to_chars(prefix, prefix + sizeof prefix, file * 100 + record).ptr;
    out.assign(prefix, static_cast<std::size_t>(end - prefix)).append("\t0\t");
    if (const auto* fields = xio_primary_key_fields(file, record))
        for (uint16_t f : *fields) FormatKeyField(file, out, f);
    TrimTrailingBlanks(out);
}

void KeyIdText(uint16_t file, std::string& out, uint16_t record, uint16_t key) {
    out.clear();
    xio_key_def def;
    if (xio_get_key_def(file, key, def, record) == XIO_OK)
        for (uint16_t f : def.fields) FormatKeyField(file, out, f);
    TrimTrailingBlanks(out);
    if (!out.empty()) out.insert(0, std::to_string(record) + "\t0\t");
}

void StripRecordId(std::string& text) {
    const auto tab1 = text.find('\t');
    const auto tab2 = tab1 == std::string::npos ? std::string::npos : text.find('\t', tab1 + 1);
    const auto start = tab2 == std::string::npos ? std::string::npos : text.find_first_not_of(' ', tab2 + 1);
    text = start == std::string::npos ? std::string() : text.substr(start);
}

// ---- Display texts -----------------------------------------------------------------------------

void FieldDisplayText(std::string& out, uint16_t file, uint16_t record, uint16_t field) {
    out.clear();
    xio_fld_def def;
    if (xio_get_fld_def(file, field, def) != XIO_OK) return;
    x_value_def v;
    xio_get_field(file, record, field, v);
    switch (def.type) {
    case XIO_TYPE_TEXT:
        out = MinimizeString(def.keyFormat ? FormatKeyValue(def.keyFormat, def.keySection, v.text) : v.text);
        break;
    case XIO_TYPE_NUMBER:
        out = AlphaNumber(v.number, def.decimals, def.keyFormat);
        break;
    case XIO_TYPE_LOGICAL:
        out = v.flag ? "TRUE" : "FALSE";
        break;
    case XIO_TYPE_DATE:
        out = AlphaDate(v.date);
        break;
    case XIO_TYPE_TIME:
        out = AlphaTime(v.time);
        break;
    // Right-aligned text and edited numbers have no edit masks here: they read as plain text
    // and plain numbers.
    case XIO_TYPE_RIGHT_TEXT:
        out = MinimizeString(v.text);
        break;
    case XIO_TYPE_EDITED:
        out = AlphaNumber(v.number, def.decimals, 0);
        break;
    case XIO_TYPE_CHOICE2:
    case XIO_TYPE_CHOICE3:
    case XIO_TYPE_CHOICE3B:
        xio_get_item_alpha(file, field, xio_whole_part<uint16_t>(v.number, 0), out);
        break;
    default:
        break;
    }
}

void RecordKeyDisplay(std::string& out, uint16_t file, uint16_t record) {
    out.clear();
    xio_rec_def rec;
    if (xio_get_rec_def(file, record, rec) != XIO_OK) return;
    AppendKeyDisplay(out, file, record, rec.primaryKeyFields);
}

void KeyDisplay(std::string& out, uint16_t file, uint16_t record, uint16_t key) {
    out.clear();
    xio_key_def def;
    if (xio_get_key_def(file, key, def, record) != XIO_OK) return;
    AppendKeyDisplay(out, file, record, def.fields);
}

// ---- Long texts ----------------------------------------------------------------------------------

std::string CrToCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        out.push_back(text[i]);
        if (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')) out.push_back('\n');
    }
    return out;
}

void CrToCrLf(uint16_t file, uint16_t field) {
    x_value_def v;
    if (xio_get_field(file, 0, field, v) != XIO_OK) return;
    const std::string& source = v.longText.empty() ? v.text : v.longText;
    const std::string mended = CrToCrLf(source);
    if (mended == source) return;
    v.longText = mended;
    v.text = mended.substr(0, x_value_def::kTextMax);
    xio_put_field(file, 0, field, v);
}

// ---- String helpers ------------------------------------------------------------------------------

void TrimChar(std::string& s, int mode, char c) {
    if (mode == 0 || mode == 2) {
        const auto first = s.find_first_not_of(c);
        s.erase(0, first == std::string::npos ? s.size() : first);
    }
    if (mode == 1 || mode == 2) {
        const auto last = s.find_last_not_of(c);
        s.erase(last == std::string::npos ? 0 : last + 1);
    }
}

int FindLastCharOf(const std::string& s, const std::string& chars) {
    const auto pos = s.find_last_of(chars);
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

void DeleteChars(std::string& s, std::size_t pos, std::size_t count) {
    if (pos >= s.size()) return;
    s.erase(pos, count == 0 ? std::string::npos : count);
}

// ---- Templates ---------------------------------------------------------------------------------

bool TemplateErrorText(const OpenFilesList& list, const xvl::xvlImpTemplate& tpl, std::string& out) {
    std::vector<xvl::ZQAbbr> abbrs;
    if (!tpl.GetZQAbbrs(abbrs)) return false;
    for (const auto& a : abbrs) {
        if (a.abbr.empty()) continue;
        const file_num_map* entry = nullptr;
        for (const auto& e : list) {
            std::string x = e.abbr, y = a.abbr;
            Capitalize(x);
            Capitalize(y);
            if (x == y && (e.fileNo == a.fileNo || e.fileNo == 0)) {
                entry = &e;
                break;
            }
        }
        if (entry && entry->handle != 0) continue;
        out = a.fileNo != 0 ? a.abbr + " - code " + std::to_string(a.fileNo) : a.abbr;
        return true;
    }
    return false;
}

// ---- Data files by name -----------------------------------------------------------------------

uint16_t OpenMasterFile(const std::string& abbreviation) {
    std::string folder = DataFolderOf(abbreviation);
    if (folder.empty()) return 0;
    while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    return OpenByPath(folder + "/MASTER." + abbreviation);
}

uint16_t OpenDataFileByName(const std::string& abbreviation, const std::string& name) {
    std::string folder = DataFolderOf(abbreviation);
    if (folder.empty()) return 0;
    if (folder.back() != '/' && folder.back() != '\\') folder += '/';
    return OpenByPath(folder + name + "." + abbreviation);
}

uint16_t ReadScreenFile(const std::string& module) { return ModuleCountry(module); }

uint16_t GetScreenFileHandle() { return g_screenFileHandle; }
void SetScreenFileHandle(uint16_t handle) { g_screenFileHandle = handle; }

}  // namespace dz::convert
