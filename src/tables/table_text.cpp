#include "tables/table_text.h"

#include "platform/datafile/utf8.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_helpers.h"
#include "platform/import/xvl_import.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/import/xvl_source.h"
#include "platform/suite/xk.h"
#include "platform/ui/own_files.h"
#include "platform/ui/print.h"
#include "platform/ui/ui.h"
#include "platform/ui/wrap_lines.h"
#include "tables/master_file.h"
#include "tables/substitution_fields.h"
#include "tables/table_editor.h"
#include "tables/xvm_fields.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace dz::tables {

namespace {

std::string Folded(const std::string& value) {
    std::string f = value;
    for (char& c : f) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return f;
}

const char* Word(uint32_t n, const char* one, const char* many) { return n == 1 ? one : many; }

std::string Counted(uint32_t n, const char* one, const char* many) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%6u %s", n, Word(n, one, many));
    return buf;
}

}  // namespace

std::unique_ptr<SubstitutionTable> OpenTableDocument(SubstitutionMasterFile& file) {
    const std::string group = file.groupName();
    const uint16_t field = file.fieldId();
    const bool named = file.handle() > 0 && !IsUnnamedGroup(group);
    auto defaultOld = [&]() -> int { return field == 431 ? 30 : field == 301 ? 15 : field == 300 ? 10 : 0; };
    int oldWidth = defaultOld();
    int thirdWidth = field == kFieldUnionLocal ? suite::xk_width(kLocalFormat, 0) : 0;
    uint16_t blank = 1, notFound = 1;
    if (named) {
        TableSummary t;
        if (file.ReadOptions(t)) {
            oldWidth = t.oldSize != 0 ? t.oldSize : defaultOld();
            thirdWidth = 0;
            if (t.mapJobToExtra == 1 && field == kFieldJob) thirdWidth = suite::xk_width(kExtraFormat, 0);
            if (t.mapJobToExtra == 1 && field == kFieldUnionLocal) thirdWidth = suite::xk_width(kLocalFormat, 0);
            // As stored: 0 (never set) stays 0, so that an edit does not turn it into 1.
            blank = t.blankValueOption;
            notFound = t.notFoundOption;
        }
    }
    const ValueFormat vf = NewValueFormat(field);
    const int newWidth = suite::xk_width(vf.format, vf.section);
    if (oldWidth == 0) oldWidth = newWidth;
    oldWidth = std::clamp(oldWidth, 1, static_cast<int>(kValueMax));
    const bool hasList = field < 9000 && !suite::xk_get_custom_list(field).empty();

    auto doc = std::make_unique<SubstitutionTable>(group.empty() ? std::string(kNewTableGroup) : group, field,
                                                   file.application());
    doc->masterHandle = std::max(0, file.handle());
    doc->oldSize = static_cast<uint16_t>(oldWidth);
    doc->newWidth = static_cast<uint16_t>(newWidth);
    doc->thirdWidth = static_cast<uint16_t>(thirdWidth);
    doc->blankValueOption = blank;
    doc->notFoundOption = notFound;
    doc->hasList = hasList;
    if (hasList) {
        // A default longer than a new value holds is never put into a row cut: rows then start
        // without it, and whoever would have used it is told why.
        std::string listDefault = suite::xk_get_custom_list_default(field);
        doc->listDefaultRefusal = ListDefaultTooLong(listDefault, field, newWidth > 0 ? newWidth : kValueMax);
        if (doc->listDefaultRefusal.empty()) doc->listDefault = std::move(listDefault);
    }
    if (named) file.LoadRows(doc->groupName, field, *doc);
    SortTableRows(*doc);
    return doc;
}

RowIndex::RowIndex(const SubstitutionTable& doc) {
    for (SubstitutionRow* r = doc.firstRow; r; r = r->next) Add(r);
    if (doc.pendingNewRow) Add(doc.pendingNewRow);
}

std::size_t RowIndex::SlotOf(const std::string& f, std::size_t h) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
        const Slot& s = slots_[i];
        if (s.entry == 0 || (s.hash == h && entries_[s.entry - 1].first == f)) return i;
    }
}

SubstitutionRow* RowIndex::Find(const std::string& value) const {
    if (slots_.empty()) return nullptr;
    const std::string f = Folded(value);
    const Slot& s = slots_[SlotOf(f, std::hash<std::string>{}(f))];
    return s.entry == 0 ? nullptr : entries_[s.entry - 1].second;
}

void RowIndex::Add(SubstitutionRow* row) {
    if (row->oldValue.empty()) return;
    if ((entries_.size() + 1) * 4 > slots_.size() * 3) {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
        const std::size_t mask = slots_.size() - 1;
        for (const Slot& s : old) {
            if (s.entry == 0) continue;
            std::size_t i = s.hash & mask;
            while (slots_[i].entry != 0) i = (i + 1) & mask;
            slots_[i] = s;
        }
    }
    std::string f = Folded(row->oldValue);
    const std::size_t h = std::hash<std::string>{}(f);
    Slot& s = slots_[SlotOf(f, h)];
    if (s.entry != 0) return;  // the first row of a value wins
    entries_.emplace_back(std::move(f), row);
    s = Slot{h, entries_.size()};
}

// ---- Export -----------------------------------------------------------------------------------

std::string TableFileValue(const std::string& value, bool first) {
    const bool edgeBlank = !value.empty() && (value.front() == ' ' || value.front() == '\t' ||
                                              value.back() == ' ' || value.back() == '\t');
    const bool needs = value.find_first_of(",\"\r\n") != std::string::npos || edgeBlank ||
                       (first && !value.empty() && value.front() == '#');
    if (!needs) return value;
    std::string q = "\"";
    for (char c : value) {
        if (c == '"') q += '"';
        q += c;
    }
    q += '"';
    return q;
}

bool CanExport(const SubstitutionTable& doc) {
    return (doc.firstRow && !doc.firstRow->oldValue.empty()) ||
           (doc.pendingNewRow && !doc.pendingNewRow->oldValue.empty());
}

std::string TableFileText(const SubstitutionTable& doc) {
    std::string out;
    auto line = [&](const SubstitutionRow& r) {
        out += TableFileValue(r.oldValue, true);
        out += ',';
        out += TableFileValue(r.newValue, false);
        if (doc.thirdWidth != 0) {
            out += ',';
            out += TableFileValue(r.thirdValue, false);
        }
        out += "\r\n";
    };
    for (const SubstitutionRow* r = doc.firstRow; r; r = r->next) line(*r);
    if (doc.pendingNewRow && !doc.pendingNewRow->oldValue.empty()) line(*doc.pendingNewRow);
    return out;
}

std::string ShownNewValue(uint16_t fieldId, const std::string& stored) {
    bool formatted = false;
    switch (fieldId) {
        case kFieldGlAccount: case kFieldGlPrefixAB: case kFieldGlPrefixABC: case kFieldJob: case kFieldPhase:
        case 300: case 301: formatted = true; break;
        case kFieldGlBase: formatted = suite::xk_width(suite::kGlAccountFormat, suite::kGlSuffix) > 0; break;
        default: break;
    }
    if (stored.empty() || !formatted) return stored;
    const ValueFormat f = NewValueFormat(fieldId);
    std::string v = stored;
    suite::xk_format_field(f.format, f.section, v);
    return v;
}

bool WriteTableFile(const SubstitutionTable& doc, const std::string& path, std::string& why, bool replace) {
    // The rule of report files: never a data file (the open MASTER.XVM among them), a link, or
    // something that is not a file.
    why = files::report_file_refusal(path);
    if (!why.empty()) return false;
    std::error_code ec;
    if (!replace && std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
        why = kTableFileExists;
        return false;
    }
    return files::replace_file_atomically(path, TableFileText(doc), 0644, why);
}

namespace {
ui::FileChooser TableFileChooser(ui::ChooseMode mode, const char* title) {
    ui::FileChooser req;
    req.mode = mode;
    req.title = title;
    req.filters = {{"Text Files", "txt"}, {"All Files", "*"}};
    return req;
}
}  // namespace

bool ExportTableFile(SubstitutionTable& doc) {
    if (!CanExport(doc)) return false;
    std::string path;
    if (ui::zqfdlgFileChooseNew(TableFileChooser(ui::ChooseMode::New, "Export File"), path) != 0 || path.empty())
        return false;
    std::string why;
    if (WriteTableFile(doc, path, why, false)) return false;
    if (why == kTableFileExists) {
        if (ui::xw_wr_message(ui::kQuestion, "The file " + path + " already exists.\r\rReplace it?") != ui::kYes)
            return false;
        if (WriteTableFile(doc, path, why, true)) return false;
    }
    ui::xw_wr_message(ui::kError, "Unable to write the file " + path + ":\r" + why);
    return false;
}

// ---- Import -----------------------------------------------------------------------------------

namespace {

// The four lines of the totals. Rows a failed save did not keep are never said as added or
// changed: they are counted as not saved.
std::vector<std::string> TotalsLines(const ImportCounts& c, RowsKept kept) {
    const bool saved = kept == RowsKept::Kept;
    return {saved ? Counted(c.added, "entry added", "entries added")
                  : Counted(c.added, "new entry not saved", "new entries not saved"),
            saved ? Counted(c.changed, "entry changed", "entries changed")
                  : Counted(c.changed, "changed entry not saved", "changed entries not saved"),
            Counted(c.duplicates(), "exact duplicate", "exact duplicates"),
            Counted(c.rejected, "rejected entry", "rejected entries")};
}

}  // namespace

std::string ImportSummary(const ImportCounts& c, RowsKept kept) {
    std::string text;
    for (const std::string& line : TotalsLines(c, kept)) text += (text.empty() ? "" : "\r") + line;
    return text;
}

std::string ImportHeadingText(const std::string& fileName, uint16_t fieldId) {
    std::string name = fileName;
    if (name.size() > 60) {
        const auto slash = name.find_last_of("\\/");
        if (slash != std::string::npos) name = name.substr(slash + 1);
        name = name.substr(0, 60);
    }
    const ValueFormat vf = NewValueFormat(fieldId);
    std::string desc = suite::xk_description(vf.format, vf.section);
    if (desc.empty() && vf.fallback) desc = vf.fallback;
    if (!desc.empty()) desc[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(desc[0])));
    return "Importing " + name + " into '" + desc + "' table";
}

int PrintImportHeading(int print, const std::string& fileName, uint16_t fieldId, bool columnHeadings) {
    if (print == 0) return 0;
    ui::xp_put_field(print, 0, ui::xp_get_def(print).width, 0, ImportHeadingText(fileName, fieldId));
    if (int s = ui::xp_wr_line(print, 2, 0, 0)) return s;
    if (!columnHeadings) return 0;
    ui::xp_put_field(print, 0, 6, ui::kPrintRight, "Line");
    ui::xp_put_field(print, 8, 80, 0, "Reason not accepted");
    return ui::xp_wr_line(print, 2, 0, 0);
}

int PrintImportReject(int print, const std::string& message, int32_t line) {
    if (print == 0) return 0;
    // A reason longer than its column goes on below it: the limit it names is never cut off.
    const auto room = static_cast<std::size_t>(std::max(1, ui::xp_get_def(print).width - 15));
    bool first = true;
    for (const std::string& piece : ui::WrapLines(message, room)) {
        if (first) ui::xp_put_field(print, 0, 6, ui::kPrintRight, std::to_string(line));
        ui::xp_put_field(print, 8, static_cast<int>(room), 0, piece);
        if (int s = ui::xp_wr_line(print, 1, 0, 0)) return s;
        first = false;
    }
    return 0;
}

int PrintImportTotals(int print, const ImportCounts& c, RowsKept kept) {
    if (print == 0) return 0;
    ui::xp_put_field(print, 2, 80, 0,
                     kept == RowsKept::Kept ? "Totals:" : "Totals: the table was not saved, and nothing of this file was kept");
    if (int s = ui::xp_wr_line(print, 2, 0, 0)) return s;
    for (const auto& l : TotalsLines(c, kept)) {
        ui::xp_put_field(print, 0, 80, 0, l);
        if (int s = ui::xp_wr_line(print, 1, 0, 0)) return s;
    }
    return 0;
}

namespace {

const std::string kOneFormat;  // a table text file has one unnamed format

// The special columns of the import's format, found once: a value is then read in place, with
// no search and no copy.
struct ImportColumns {
    explicit ImportColumns(const xvl::xvlImport& import)
        : oldAt(import.xvlImpSpecialPosition(kOneFormat, "OldId")),
          newAt(import.xvlImpSpecialPosition(kOneFormat, "NewId1")),
          thirdAt(import.xvlImpSpecialPosition(kOneFormat, "NewId2")) {}
    int oldAt, newAt, thirdAt;
};

const std::string& ValueAt(const xvl::xvlImport& import, int position) {
    return import.xvlImpSpecialValueAt(kOneFormat, position).text;
}

// `refused` (optional) receives why a new row of the record was not added.
SubstitutionRow* ApplyRow(const xvl::xvlImport& import, const ImportColumns& cols, SubstitutionTable& doc,
                          RowIndex& index, ImportCounts& counts, std::string* refused = nullptr) {
    const std::string& oldValue = ValueAt(import, cols.oldAt);
    if (oldValue.empty()) return nullptr;
    const std::string& given = ValueAt(import, cols.newAt);
    const bool third = cols.thirdAt >= 0;
    const std::string& thirdValue = ValueAt(import, cols.thirdAt);
    SubstitutionRow* row = index.Find(oldValue);
    if (!row) {
        if (refused && given.empty() && !doc.listDefaultRefusal.empty()) {
            *refused = doc.listDefaultRefusal;
            return nullptr;
        }
        row = AppendRow(doc);
        ++counts.added;
        row->oldValue = CutValue(oldValue);
        row->newValue = CutValue(doc.hasList && given.empty() ? std::string_view(doc.listDefault) : given);
        if (third) row->thirdValue = CutValue(thirdValue);
        row->newEntry = 1;
        row->modified = 1;
        index.Add(row);
        return row;
    }
    if (row->newValue == given && (!third || row->thirdValue == thirdValue)) return nullptr;
    ++counts.changed;
    row->newValue = CutValue(given);
    if (third) row->thirdValue = CutValue(thirdValue);
    row->modified = 1;
    return row;
}

}  // namespace

SubstitutionRow* ApplyImportedRow(xvl::xvlImport& import, SubstitutionTable& doc, RowIndex& index,
                                  ImportCounts& counts) {
    return ApplyRow(import, ImportColumns(import), doc, index, counts);
}

ImportOutcome ImportRowsWithoutTotals(SubstitutionTable& doc, const std::string& path, int print,
                                      const ImportProgress& progress) {
    ImportOutcome out;
    const ValueFormat vf = NewValueFormat(doc.fieldId);
    xvl::xvlImpTemplate tpl;
    tpl.xvlImpAddFormatID("");
    // A GL value is read with its separators; OldValueTooLong below checks it against the size.
    const int oldWidth = doc.oldSize != 0 ? OldValueTypedWidth(doc.fieldId, doc.oldSize) : doc.newWidth;
    tpl.xvlImpAppendField({"OldId", "Old value", static_cast<uint16_t>(oldWidth), 0, 0, false});
    // A new value of a key format is read as a text file's field of that format is: with or
    // without its separators (the editor shows them), kept without them, refused when it does not
    // fit the format, as the editor refuses a typed one.
    xvl::xvlImpSpecFldDef newValue{"NewId1", "New value", doc.newWidth, static_cast<int16_t>(vf.format),
                                   static_cast<int16_t>(vf.section), suite::xk_capitals(vf.format, vf.section)};
    newValue.keyFormat = NewValueFormatted(doc.fieldId);
    tpl.xvlImpAppendField(newValue);
    if (doc.thirdWidth != 0 && (doc.fieldId == kFieldJob || doc.fieldId == kFieldUnionLocal)) {
        const int f = doc.fieldId == kFieldJob ? kExtraFormat : kLocalFormat;
        tpl.xvlImpAppendField({"NewId2", "New third column value", static_cast<uint16_t>(suite::xk_width(f, 0)),
                               static_cast<int16_t>(f), 0, suite::xk_capitals(f, 0)});
    }
    xvl::xvlImport import(tpl);
    const ImportColumns cols(import);
    xvl::xvlImpInfo info;
    out.opened = import.xvlImpFileNames(path, "", false);
    if (out.opened) out.encodingNote = xvl::Windows1252Note(*import.Source(), path);
    if (!out.opened) {
        // Nothing is read from a file that could not be opened: the report shows no lines.
        ui::xw_wr_message(ui::kInfo, "Unable to open text file " + path +
                                         ", it may already be open in another application.\r\rNothing from this "
                                         "text file will be imported.");
    }
    RowIndex index(doc);
    FrontInserts inserts(doc);
    bool printing = true;
    auto reject = [&](const std::string& message, int32_t line) {
        ++out.counts.rejected;
        if (printing && out.counts.rejected == 1 && PrintImportHeading(print, path, doc.fieldId, true) != 0)
            printing = false;
        if (printing && PrintImportReject(print, message, line) != 0) printing = false;
    };
    while (out.opened) {
        const int s = import.xvlImportNextRec(info);
        if (s == 2) break;
        ++out.counts.records;
        if (s == 1) {
            reject(info.Message(), info.StartLine());
        } else {
            const std::string& ov = ValueAt(import, cols.oldAt);
            std::string tooLong = cols.oldAt >= 0 ? OldValueTooLong(doc.fieldId, ov, doc.oldSize) : std::string();
            if (ov.empty() && ValueAt(import, cols.newAt).empty() &&
                (cols.thirdAt < 0 || ValueAt(import, cols.thirdAt).empty())) {
                // A line of no values (",,") is no entry at all: never counted as one already in
                // the table. One with a new value and no old value changes nothing, as before.
                reject("The line holds no values, and an entry needs an old value (fld 1, col 1)",
                       info.StartLine());
            } else if (!tooLong.empty()) {
                reject("Old value '" + ov + "' has " + std::to_string(OldValueLength(doc.fieldId, ov)) +
                           " characters; the old value size is " + std::to_string(doc.oldSize) + " (fld 1, col 1)",
                       info.StartLine());
            } else {
                // A new row without a new value would take the list's default, which does not fit.
                std::string refused;
                ApplyRow(import, cols, doc, index, out.counts, &refused);
                if (!refused.empty()) reject(refused, info.StartLine());
            }
        }
        if (progress && !progress(out.counts.records, out.counts.rejected, info.PercentDone())) {
            out.stopped = true;
            return out;
        }
    }
    out.reportCut = !printing;
    return out;
}

ImportOutcome ImportTableRows(SubstitutionTable& doc, const std::string& path, int print,
                              const ImportProgress& progress) {
    ImportOutcome out = ImportRowsWithoutTotals(doc, path, print, progress);
    if (out.stopped) return out;
    EndImportReport(print, path, doc.fieldId, out, RowsKept::Kept);
    if (progress) out.stopped = !progress(out.counts.records, out.counts.rejected, 100);
    return out;
}

void EndImportReport(int print, const std::string& path, uint16_t fieldId, const ImportOutcome& outcome,
                     RowsKept kept) {
    bool printing = !outcome.reportCut;
    if (printing && outcome.counts.rejected == 0) printing = PrintImportHeading(print, path, fieldId, false) == 0;
    if (printing) PrintImportTotals(print, outcome.counts, kept);
}

// ---- Prefill ----------------------------------------------------------------------------------

namespace {

// The kind of a GL account value of `section` for a prefix or base table; 0 for none.
uint16_t GlKind(int16_t section) {
    switch (section) {
        case suite::kGlPrefixA: return kFieldGlPrefixA;
        case 6:
            if (suite::xk_width(suite::kGlAccountFormat, 3) >= 1) return kFieldGlPrefixABC;
            if (suite::xk_width(suite::kGlAccountFormat, 2) >= 1) return kFieldGlPrefixAB;
            return kFieldGlPrefixA;
        case suite::kGlBaseAccount: return kFieldGlBase;
        case suite::kGlPrefixAB: return kFieldGlPrefixAB;
        case suite::kGlPrefixABC: return kFieldGlPrefixABC;
        default: return 0;
    }
}

}  // namespace

bool PrefillValue(const std::string& value, int16_t fieldId, int16_t section, const std::string& textFileName,
                  void* context) {
    auto* ctx = static_cast<PrefillContext*>(context);
    if (value.empty() || !ctx) return true;
    SubstitutionTable& doc = *ctx->doc;
    uint16_t kind = 0;
    if (doc.fieldId > 9000 && fieldId == kFieldGlAccount)
        kind = GlKind(section);
    else if (section == 0 || (fieldId == kFieldGlAccount && section == suite::kGlDisplay))
        // Converters hand whole GL accounts as typed (section 8): they fill an account table too.
        kind = static_cast<uint16_t>(fieldId);
    if (kind == 0 || kind != doc.fieldId) return true;
    // Measured whole: a value cut to what a row holds first could pass as one that fits.
    const std::size_t length = OldValueLength(doc.fieldId, value);
    if (length > doc.oldSize) {
        const std::string shown = Utf8Length(value) > kValueMax ? CutValue(value) + "..." : value;
        if (ctx->message.empty())
            ctx->message = "Some values were too long and not prefilled.\r\rFor example '" + shown + "' in\r" +
                           textFileName + "\rhas " + std::to_string(length) +
                           " characters and the maximum allowed is " + std::to_string(doc.oldSize) + ".\r\r" +
                           (ctx->voice == ui::Voice::CommandLine ? xvl::xvlRCString::Get(13960)
                                                                 : "Use the options button to increase the old value size.");
        return false;
    }
    const std::string v = CutValue(value);
    if (ctx->index.Find(v)) return true;
    ctx->found = 1;
    SubstitutionRow* row = AppendRow(doc);
    row->oldValue = v;
    if (doc.hasList) row->newValue = CutValue(doc.listDefault);
    row->newEntry = 1;
    row->modified = 1;
    ctx->index.Add(row);
    return true;
}

namespace {

// Looks up an entry of (group, kind, old value) by its exact key; the record-3 buffer then
// holds it.
bool FindEntry(uint16_t h, const XvmFields& f, const std::string& group, uint16_t kind, const std::string& oldValue) {
    xio_init_record(h, kEntryRecord);
    PutText(h, kEntryRecord, f.fTable, group);
    PutNumber(h, kEntryRecord, f.fField, kind);
    PutText(h, kEntryRecord, f.fOldVal, oldValue);
    return xio_rd_record(h, kEntryRecord, 0, 0) == XIO_OK;
}

// Does the group have any entry of `kind`?
bool AnyEntryOf(uint16_t h, const XvmFields& f, const std::string& group, uint16_t kind) {
    xio_init_record(h, kEntryRecord);
    PutText(h, kEntryRecord, f.fTable, group);
    PutNumber(h, kEntryRecord, f.fField, kind);
    PutText(h, kEntryRecord, f.fOldVal, "");
    return xio_rd_ge(h, kEntryRecord, 0, 0) == XIO_OK && SameText(GetText(h, kEntryRecord, f.fTable), group) &&
           static_cast<uint16_t>(GetCount(h, kEntryRecord, f.fField)) == kind;
}

uint16_t PrefixKind() {
    if (suite::xk_width(suite::kGlAccountFormat, suite::kGlPrefixABC) > 0) return kFieldGlPrefixABC;
    if (suite::xk_width(suite::kGlAccountFormat, suite::kGlPrefixAB) > 0) return kFieldGlPrefixAB;
    if (suite::xk_width(suite::kGlAccountFormat, suite::kGlPrefixA) > 0) return kFieldGlPrefixA;
    return 0;
}

}  // namespace

std::string DeriveGLAccount(SubstitutionTable& doc, const std::string& oldValue, uint16_t prefixKind) {
    if (doc.masterHandle <= 0) return {};
    const auto h = static_cast<uint16_t>(doc.masterHandle);
    XvmFields f;
    if (!f.Resolve(h)) return {};
    const std::size_t len = oldValue.size();
    for (std::size_t n = 1; n < len; ++n) {
        const std::string ending = oldValue.substr(len - n);
        if (!FindEntry(h, f, doc.groupName, kFieldGlBase, ending)) continue;
        std::string base = GetText(h, kEntryRecord, f.newBase);
        if (IsBlankValue(base)) base = ending;
        const std::string prefix = oldValue.substr(0, len - n);
        if (!FindEntry(h, f, doc.groupName, prefixKind, prefix)) return {};
        const uint16_t fld = prefixKind == kFieldGlPrefixA ? f.newPreA : prefixKind == kFieldGlPrefixAB ? f.newPreB : f.newPreC;
        std::string newPrefix = GetText(h, kEntryRecord, fld);
        if (IsBlankValue(newPrefix)) newPrefix = prefix;
        return newPrefix + base;
    }
    return {};
}

bool PrefillGLAccounts(SubstitutionTable& doc, const PrefillStatus& status) {
    if (doc.masterHandle <= 0) return false;
    const auto h = static_cast<uint16_t>(doc.masterHandle);
    XvmFields f;
    if (!f.Resolve(h)) return false;
    if (!AnyEntryOf(h, f, doc.groupName, kFieldGlBase)) return false;
    const uint16_t kind = PrefixKind();
    if (kind == 0 || !AnyEntryOf(h, f, doc.groupName, kind)) return false;
    RenumberRows(doc);
    const std::string text = "Prefilling new GL Accounts:";
    if (status && !status(text, 0)) return false;
    bool changed = false;
    auto fill = [&](SubstitutionRow& row) {
        if (row.oldValue.empty() || !IsBlankValue(row.newValue)) return;
        std::string derived = DeriveGLAccount(doc, row.oldValue, kind);
        if (derived.empty()) return;
        suite::xk_unformat_field(suite::kGlAccountFormat, 0, derived);
        if (!xvl::xvl_imp_is_sectioned_field_valid(suite::kGlAccountFormat, derived, 0)) return;
        row.newValue = CutValue(derived);
        row.modified = 1;  // Save writes modified rows only
        changed = true;
    };
    const int rows = doc.RowCount();
    int step = 1;
    for (SubstitutionRow* r = doc.firstRow; r; r = r->next, ++step) {
        fill(*r);
        if (step % 5 == 0 && status && !status(text, static_cast<int>(step * 100.0 / (rows + 1) + 0.5))) return changed;
    }
    if (doc.pendingNewRow) fill(*doc.pendingNewRow);
    if (status) status("Prefilling new GL Account values:", 100);
    return changed;
}

}  // namespace dz::tables
