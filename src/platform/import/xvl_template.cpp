#include "platform/import/xvl_template.h"

#include "platform/import/xvl_case.h"
#include "platform/import/xvl_messages.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace dz::xvl {

namespace {

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Words of one template line: blank-separated; "..." is one word ("" inside stands for ").
// False with an unclosed quote.
bool splitWords(std::string_view line, std::vector<std::string>& words) {
    words.clear();
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (true) {
        while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= n) return true;
        std::string w;
        if (line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < n) {
                if (line[i] == '"') {
                    if (i + 1 < n && line[i + 1] == '"') {
                        w.push_back('"');
                        i += 2;
                        continue;
                    }
                    closed = true;
                    ++i;
                    break;
                }
                w.push_back(line[i++]);
            }
            if (!closed) return false;
        } else {
            while (i < n && line[i] != ' ' && line[i] != '\t') w.push_back(line[i++]);
        }
        words.push_back(std::move(w));
    }
}

bool parseNumber(const std::string& s, long lo, long hi, long& out) {
    if (s.empty() || s.size() > 6) return false;
    std::size_t i = 0;
    bool neg = false;
    if (s[0] == '-') {
        neg = true;
        i = 1;
        if (s.size() == 1) return false;
    }
    long v = 0;
    for (; i < s.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
        v = v * 10 + (s[i] - '0');
    }
    if (neg) v = -v;
    if (v < lo || v > hi) return false;
    out = v;
    return true;
}

bool parseSpecialType(const std::string& word, SpecialType& t) {
    const std::string w = lower(word);
    if (w == "text") t = SpecialType::Text;
    else if (w == "longtext") t = SpecialType::LongText;
    else if (w == "number") t = SpecialType::Number;
    else if (w == "logical") t = SpecialType::Logical;
    else if (w == "date") t = SpecialType::Date;
    else return false;
    return true;
}

}  // namespace

std::string xvlImpTemplate::fold(std::string_view id) { return upper(id); }

int xvlImpTemplate::fail(int code, int line, std::string what) {
    error_ = Msg(kMsgTemplateFault, name_, std::to_string(line), what);
    return code;
}

int xvlImpTemplate::xvlImpTemplateCreate(const std::filesystem::path& path,
                                         const std::vector<file_num_map>& openFiles) {
    name_ = path.string();
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    if (in) ss << in.rdbuf();
    if (!in || in.bad()) {
        formats_.clear();
        parsed_ = ready_ = false;
        return fail(1, 0, Msg(kMsgTplCannotRead));
    }
    return CreateFromText(ss.str(), path.string(), openFiles);
}

int xvlImpTemplate::CreateFromText(std::string_view text, const std::string& name,
                                   const std::vector<file_num_map>& openFiles) {
    name_ = name;
    error_.clear();
    version_.clear();
    formats_.clear();
    groupStarts_.clear();
    deps_.clear();
    parsed_ = ready_ = false;
    if (int rc = parse(text)) return rc;
    parsed_ = true;
    if (int rc = bind(openFiles)) return rc;
    ready_ = true;
    return 0;
}

int xvlImpTemplate::xvlImpTemplateVersion(const std::filesystem::path& path, std::string& text) {
    text.clear();
    xvlImpTemplate t;
    std::ifstream in(path, std::ios::binary);
    if (!in) return 1;
    std::ostringstream ss;
    ss << in.rdbuf();
    t.name_ = path.string();
    if (t.parse(ss.str()) != 0) return 1;
    text = t.version_;
    return 0;
}

int xvlImpTemplate::parse(std::string_view text) {
    std::vector<std::string> words;
    TemplateFormat* cur = nullptr;
    std::vector<std::pair<int, std::vector<std::string>>> groupLines;  // checked after all formats
    int lineNo = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t e = text.find_first_of("\r\n", pos);
        if (e == std::string_view::npos) e = text.size();
        std::string_view raw = text.substr(pos, e - pos);
        ++lineNo;
        pos = e + 1;
        if (e < text.size() && text[e] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
        if (e >= text.size()) pos = text.size() + 1;

        std::size_t s = raw.find_first_not_of(" \t\x1a");
        if (s == std::string_view::npos || raw[s] == '#' || raw[s] == ';') continue;
        if (!splitWords(raw, words)) return fail(2, lineNo, Msg(kMsgTplUnclosedQuote));
        if (words.empty()) continue;
        const std::string kw = lower(words[0]);
        const std::size_t argc = words.size() - 1;
        auto expects = [&](int what) { return fail(2, lineNo, Msg(kMsgTplExpects, words[0], Msg(what))); };
        auto needFormat = [&]() { return fail(2, lineNo, Msg(kMsgTplOutsideFormat, words[0])); };

        if (kw == "version") {
            // Everything after the word, as written (quotes taken off a single quoted word).
            if (argc == 1) version_ = words[1];
            else {
                std::string_view rest = raw.substr(s + words[0].size());
                std::size_t b = rest.find_first_not_of(" \t");
                std::size_t t2 = rest.find_last_not_of(" \t");
                version_ = b == std::string_view::npos ? std::string() : std::string(rest.substr(b, t2 - b + 1));
            }
        } else if (kw == "format") {
            if (argc != 1) return expects(kMsgTplWhatOneId);
            for (const auto& f : formats_)
                if (fold(f.id) == fold(words[1]))
                    return fail(2, lineNo, Msg(kMsgTplDuplicateFormat, words[1], std::to_string(f.line)));
            TemplateFormat f;
            f.id = words[1];
            f.line = lineNo;
            formats_.push_back(std::move(f));
            cur = &formats_.back();
        } else if (kw == "file") {
            if (!cur) return needFormat();
            long no = 0;
            if (argc != 2 || words[1].empty() || words[1].size() > 3 || !parseNumber(words[2], 0, 65535, no))
                return expects(kMsgTplWhatFile);
            cur->abbr = upper(words[1]);
            cur->fileNo = static_cast<uint16_t>(no);
        } else if (kw == "record") {
            if (!cur) return needFormat();
            long no = 0;
            if (argc != 1 || !parseNumber(words[1], 0, 65535, no)) return expects(kMsgTplWhatRecord);
            cur->record = static_cast<uint16_t>(no);
            cur->recordGiven = true;
        } else if (kw == "permissions") {
            if (!cur) return needFormat();
            long no = 0;
            if (argc != 1 || !parseNumber(words[1], 1, 3, no)) return expects(kMsgTplWhatPermissions);
            cur->permissions = static_cast<int>(no);
            cur->permissionsGiven = true;
        } else if (kw == "data") {
            if (!cur) return needFormat();
            if (argc != 0) return expects(kMsgTplWhatNothing);
            cur->extraData = 0;
        } else if (kw == "userfields") {
            if (!cur) return needFormat();
            long no = 0;
            if (argc != 1 || !parseNumber(words[1], 1, 49, no))
                return expects(kMsgTplWhatUdRecord);
            cur->extraData = static_cast<int>(no);
        } else if (kw == "notes") {
            if (!cur) return needFormat();
            if (argc != 0) return expects(kMsgTplWhatNothing);
            cur->extraData = 50;  // 50 + record, completed below
        } else if (kw == "field") {
            if (!cur) return needFormat();
            if (argc != 1 && argc != 3 && argc != 5) return expects(kMsgTplWhatField);
            TemplateColumn c;
            c.name = upper(words[1]);
            c.line = lineNo;
            for (std::size_t i = 2; i + 1 < words.size(); i += 2) {
                long v = 0;
                const std::string opt = lower(words[i]);
                if (opt == "id" && parseNumber(words[i + 1], 0, 32767, v)) {
                    c.idGiven = true;
                    c.fieldId = static_cast<int16_t>(v);
                } else if (opt == "section" && parseNumber(words[i + 1], 0, 32767, v)) {
                    c.section = static_cast<int16_t>(v);
                } else {
                    return expects(kMsgTplWhatField);
                }
            }
            for (const auto& o : cur->columns)
                if (!o.special && o.name == c.name)
                    return fail(2, lineNo, Msg(kMsgTplDuplicateColumn, c.name, std::to_string(o.line)));
            cur->columns.push_back(std::move(c));
        } else if (kw == "special") {
            if (!cur) return needFormat();
            if (argc != 2) return expects(kMsgTplWhatSpecial);
            TemplateColumn c;
            c.special = true;
            c.name = words[1];
            c.line = lineNo;
            if (!parseSpecialType(words[2], c.type)) return fail(2, lineNo, Msg(kMsgTplBadSpecialType, words[2]));
            for (const auto& o : cur->columns)
                if (o.special && equalNoCase(o.name, c.name))
                    return fail(2, lineNo, Msg(kMsgTplDuplicateColumn, c.name, std::to_string(o.line)));
            cur->columns.push_back(std::move(c));
        } else if (kw == "group") {
            if (argc != 1) return expects(kMsgTplWhatOneId);
            groupLines.push_back({lineNo, words});
        } else if (kw == "depend") {
            if (argc != 2) return expects(kMsgTplWhatDepend);
            groupLines.push_back({lineNo, words});
        } else {
            return fail(2, lineNo, Msg(kMsgTplUnknownWord, words[0]));
        }
    }

    if (formats_.empty()) return fail(2, lineNo, Msg(kMsgTplNoFormats));
    for (auto& f : formats_) {
        if (f.abbr.empty()) return fail(2, f.line, Msg(kMsgTplNoFile, f.id));
        if (!f.recordGiven) return fail(2, f.line, Msg(kMsgTplNoRecord, f.id));
        // Record number 0 names no record: its lines reach the converter, which refuses them.
        if (f.record == 0 && f.extraData != 0) return fail(2, f.line, Msg(kMsgTplBadRecord, "0", f.abbr));
        if (f.columns.empty()) return fail(2, f.line, Msg(kMsgTplNoColumns, f.id));
        if (f.extraData == 50) f.extraData = 50 + f.record;
        for (const auto& c : f.columns) {
            f.hasSpecials = f.hasSpecials || c.special;
            f.convertedNotes = f.convertedNotes || (c.special && equalNoCase(c.name, "Converted Notes"));
        }
        // Records that add to a stored record must find it.
        if (!f.permissionsGiven && f.extraData != 0) f.permissions = 1;
        if (f.id.empty() && formats_.size() > 1) return fail(2, f.line, Msg(kMsgTplMixedIds));
    }
    for (const auto& [line, w] : groupLines) {
        for (std::size_t i = 1; i < w.size(); ++i) {
            const bool end = i == 2 && (lower(w[i]) == "end" || w[i] == kEndGroup);
            if (!end && !FindFormat(w[i])) return fail(2, line, Msg(kMsgTplUndeclaredFormat, w[i]));
        }
        if (lower(w[0]) == "group") xvlImpAddGroup(w[1]);
        else xvlImpAddDependency(w[1], lower(w[2]) == "end" ? std::string(kEndGroup) : w[2]);
    }
    return 0;
}

int xvlImpTemplate::bind(const std::vector<file_num_map>& openFiles) {
    for (auto& f : formats_) {
        const file_num_map* entry = nullptr;
        for (const auto& m : openFiles)
            if (equalNoCase(m.abbr, f.abbr) && (m.fileNo == f.fileNo || m.fileNo == 0)) {
                entry = &m;
                break;
            }
        if (!entry || entry->handle == 0)
            return fail(3, f.line, Msg(kMsgTplFileNotOpen, f.abbr, std::to_string(f.fileNo)));
        f.handle = entry->handle;
        if (f.record == 0) {
            // No record, so no fields: only special columns.
            for (const auto& c : f.columns)
                if (!c.special) return fail(4, c.line, Msg(kMsgTplBadField, f.abbr, c.name, "0"));
            f.keyColumns.clear();
            continue;
        }
        if (xio_get_rec_def(f.handle, f.record, f.recDef) != XIO_OK)
            return fail(4, f.line, Msg(kMsgTplBadRecord, std::to_string(f.record), f.abbr));
        if (f.extraData >= 1 && f.extraData <= 49) {
            xio_rec_def ud;
            if (xio_get_rec_def(f.handle, static_cast<uint16_t>(f.extraData), ud) != XIO_OK)
                return fail(4, f.line, Msg(kMsgTplBadUdRecord, std::to_string(f.extraData), f.abbr));
        }
        f.keyColumns.clear();
        for (auto& c : f.columns) {
            if (c.special) continue;
            c.fieldNo = xio_num(f.handle, XIO_NUM_RECORD, f.record, c.name);
            if (c.fieldNo == 0 || xio_get_fld_def(f.handle, c.fieldNo, c.def) != XIO_OK)
                return fail(4, c.line, Msg(kMsgTplBadField, f.abbr, c.name, std::to_string(f.record)));
            if (!c.idGiven) {
                c.fieldId = static_cast<int16_t>(c.def.keyFormat);
                c.section = c.def.keyFormat == 9 ? 8 : 0;
            }
        }
        for (uint16_t kf : f.recDef.primaryKeyFields)
            for (std::size_t i = 0; i < f.columns.size(); ++i)
                if (!f.columns[i].special && f.columns[i].fieldNo == kf) {
                    f.columns[i].keyField = true;
                    f.keyColumns.push_back(i);
                }
    }
    return 0;
}

bool xvlImpTemplate::GetZQAbbrs(std::vector<ZQAbbr>& out) const {
    out.clear();
    if (!parsed_) return false;
    for (const auto& f : formats_) {
        if (f.abbr.empty()) continue;
        bool seen = false;
        for (const auto& z : out) seen = seen || (z.abbr == f.abbr && z.fileNo == f.fileNo);
        if (!seen) out.push_back({f.abbr, f.fileNo});
    }
    return true;
}

void xvlImpTemplate::xvlImpAddFormatID(const std::string& id) {
    TemplateFormat f;
    f.id = id;
    formats_.push_back(std::move(f));
    parsed_ = ready_ = true;
    if (name_.empty()) name_ = "(in memory)";
}

void xvlImpTemplate::xvlImpAppendField(const xvlImpSpecFldDef& def) {
    if (formats_.empty()) xvlImpAddFormatID("");
    TemplateColumn c;
    c.special = true;
    c.name = def.name;
    c.description = def.description;
    c.width = def.width;
    c.fieldId = def.format;
    c.section = def.section;
    c.capitals = def.capitals;
    c.type = def.type;
    c.keyFormat = def.keyFormat;
    formats_.back().hasSpecials = true;
    formats_.back().convertedNotes = formats_.back().convertedNotes || equalNoCase(c.name, "Converted Notes");
    formats_.back().columns.push_back(std::move(c));
}

void xvlImpTemplate::xvlImpAddGroup(const std::string& id) { groupStarts_.insert(fold(id)); }

void xvlImpTemplate::xvlImpAddDependency(const std::string& id, const std::string& nextId) {
    deps_[fold(id)].insert(nextId == kEndGroup ? std::string(kEndGroup) : fold(nextId));
}

bool xvlImpTemplate::IsGroupStart(std::string_view id) const { return groupStarts_.count(fold(id)) != 0; }

bool xvlImpTemplate::MayFollow(std::string_view id, std::string_view next) const {
    auto it = deps_.find(fold(id));
    if (it == deps_.end()) return false;
    return it->second.count(next == kEndGroup ? std::string(kEndGroup) : fold(next)) != 0;
}

int xvlImpTemplate::xvlImpWhatGivenIDsExist(uint16_t file, uint16_t recType, std::set<std::string>& ids) const {
    ids.clear();
    if (!ready_) return 1;
    for (const auto& f : formats_)
        if (f.handle == file && f.record == recType && f.extraData == 0) ids.insert(f.id);
    return 0;
}

const TemplateFormat* xvlImpTemplate::FindFormat(std::string_view id) const {
    for (const auto& f : formats_)
        if (equalNoCase(f.id, id)) return &f;
    return nullptr;
}

}  // namespace dz::xvl
