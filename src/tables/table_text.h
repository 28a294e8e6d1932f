// Substitution tables to and from text files: the table text file ("old,new[,third]" per
// line) that export writes and import reads, the import's report, and the prefill callback
// that converters hand every field value of a text file to.
//
// Everything here works on the document alone (no grid, no progress window): the editor's
// commands and the command line (app/table_text_commands.h) supply the file choice, the
// progress and the report's print job.
#pragma once

#include "platform/ui/next_step.h"
#include "tables/substitution_rows.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace dz::xvl {
class xvlImport;
}

namespace dz::tables {

class SubstitutionMasterFile;

// The document of a table as the editor opens it: options from the stored definition (or the
// editor's defaults for a table not stored yet), widths from the field's format, rows loaded
// and sorted.
std::unique_ptr<SubstitutionTable> OpenTableDocument(SubstitutionMasterFile& file);

// Old values folded to one letter case -> their row: the import and the prefill look values up
// here instead of walking the list for each of a million values. The folded values lie in one
// list, in the order added; an open table of their hashes finds them (no node per value).
class RowIndex {
public:
    explicit RowIndex(const SubstitutionTable& doc);
    // The row holding `value` in any letter case, or null.
    SubstitutionRow* Find(const std::string& value) const;
    void Add(SubstitutionRow* row);

private:
    struct Slot {
        std::size_t hash = 0;
        std::size_t entry = 0;  // its place in entries_ plus one; 0 a free slot
    };
    // The slot of folded value `f` with hash `h`, or the free slot where it would go.
    std::size_t SlotOf(const std::string& f, std::size_t h) const;
    std::vector<Slot> slots_;  // a power of two, at most three quarters full
    std::vector<std::pair<std::string, SubstitutionRow*>> entries_;
};

// While it lives, AppendRow links rows in at the front of the list in the order they come
// (the editor's current row is the pending new row, which is no part of the list); the
// current row is given back at the end. Callers sort afterwards.
class FrontInserts {
public:
    explicit FrontInserts(SubstitutionTable& doc) : doc_(doc), saved_(doc.currentRow) { doc.currentRow = doc.firstRow; }
    ~FrontInserts() { doc_.currentRow = saved_; }
    FrontInserts(const FrontInserts&) = delete;
    FrontInserts& operator=(const FrontInserts&) = delete;

private:
    SubstitutionTable& doc_;
    SubstitutionRow* saved_;
};

// ---- Export ---------------------------------------------------------------------------------
// One value as a table text file holds it: in double quotes (inner quotes doubled) when it
// would not read back as it stands (a comma, a double quote, blanks or a tab at either end, an
// old value starting with "#"), otherwise as it is.
std::string TableFileValue(const std::string& value, bool first);
// The whole file: one CR LF ended line per row in list order, the pending new row last when
// it has an old value.
std::string TableFileText(const SubstitutionTable& doc);
// A stored new value as the editor shows it: an account, prefix, job or phase with the
// separators of its format (a base account with them only when the format has a suffix), any
// other value as stored. Imported, it is stored as it was.
std::string ShownNewValue(uint16_t fieldId, const std::string& stored);
// True when export has something to write (the first row or the pending row has an old value).
bool CanExport(const SubstitutionTable& doc);
// Writes the file aside and renames it over `path`; false with `why` and `path` untouched.
// Never over a data file, a link or anything but a regular file; an existing file only when
// `replace` (the person said so).
bool WriteTableFile(const SubstitutionTable& doc, const std::string& path, std::string& why, bool replace);
// The text `why` holds when `path` exists and `replace` was not given.
inline constexpr const char* kTableFileExists = "the file exists";
// The editor's ~Export... command: chooser, write, an error box on failure. Never adds rows.
bool ExportTableFile(SubstitutionTable& doc);

// ---- Import ---------------------------------------------------------------------------------
struct ImportCounts {
    uint32_t records = 0, added = 0, changed = 0, rejected = 0;
    uint32_t duplicates() const { return records - added - changed - rejected; }
};

// The progress of an import after each record: false when the person stopped it.
using ImportProgress = std::function<bool(uint32_t records, uint32_t rejected, int percent)>;

struct ImportOutcome {
    ImportCounts counts;
    bool opened = false;   // the file could be read
    bool stopped = false;  // the person stopped the import
    bool reportCut = false;  // a line of the report could not be printed: none after it is
    std::string encodingNote;  // said of a file read as Windows-1252, as a conversion says it
    bool rowsImported() const { return counts.added + counts.changed > 0; }
};

// What the totals say of the rows counted as added or changed: kept (in the editor, or saved),
// or not saved (the save after the import failed, and kept none of them).
enum class RowsKept { Kept, NotSaved };

// Reads `path` into the document, printing the report on `print` (0: no report). A file that
// cannot be read gives the message box and imports nothing. Shows no summary (ImportSummary).
ImportOutcome ImportTableRows(SubstitutionTable& doc, const std::string& path, int print,
                              const ImportProgress& progress);
// The same without the report's ending (its totals): the command line saves first, then ends
// the report with EndImportReport, saying what the save kept.
ImportOutcome ImportRowsWithoutTotals(SubstitutionTable& doc, const std::string& path, int print,
                                      const ImportProgress& progress);
// The report's ending: the heading of a report that rejected nothing, then the totals.
void EndImportReport(int print, const std::string& path, uint16_t fieldId, const ImportOutcome& outcome,
                     RowsKept kept);
// Adds or changes the row of the record just read; the row, or null for an exact duplicate or
// an empty old value.
SubstitutionRow* ApplyImportedRow(xvl::xvlImport& import, SubstitutionTable& doc, RowIndex& index,
                                  ImportCounts& counts);
// The summary box's text.
std::string ImportSummary(const ImportCounts& counts, RowsKept kept = RowsKept::Kept);
// The report's parts.
std::string ImportHeadingText(const std::string& fileName, uint16_t fieldId);
int PrintImportHeading(int print, const std::string& fileName, uint16_t fieldId, bool columnHeadings);
int PrintImportReject(int print, const std::string& message, int32_t line);
int PrintImportTotals(int print, const ImportCounts& counts, RowsKept kept = RowsKept::Kept);

// ---- Prefill --------------------------------------------------------------------------------
// The state of one prefill run, handed to every converter as the callback's context.
struct PrefillContext {
    explicit PrefillContext(SubstitutionTable& d) : doc(&d), index(d), inserts(d) {}
    SubstitutionTable* doc;
    std::string message;  // the too-long message of the current text file
    // Whose words its last paragraph is in: the command line has no Options button.
    ui::Voice voice = ui::Voice::Desktop;
    uint8_t found = 0;    // 1 once a row was added
    RowIndex index;
    FrontInserts inserts;
};

// The prefill callback (the import library's PrefillCB): adds a value of the table's kind that
// the table lacks; false for a value too long for the table.
bool PrefillValue(const std::string& value, int16_t fieldId, int16_t section, const std::string& textFileName,
                  void* context);

// Status of the GL account derivation: text and percent; false when the person stopped.
using PrefillStatus = std::function<bool(const std::string& text, int value)>;
// Fills blank new values of a GL account table from the group's prefix and base tables. True
// when a row was changed (each such row is marked modified).
bool PrefillGLAccounts(SubstitutionTable& doc, const PrefillStatus& status);
// The new account derived for old account `oldValue` with prefix table `prefixKind`; empty
// when none.
std::string DeriveGLAccount(SubstitutionTable& doc, const std::string& oldValue, uint16_t prefixKind);

}  // namespace dz::tables
