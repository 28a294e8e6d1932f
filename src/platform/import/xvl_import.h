// Record-by-record import of a text file through a template.
//
// The text file is read in one encoding, decided for the whole file (xvl_encoding.h): values
// reach the data files as UTF-8, and a UTF-16 file is not opened. A record is one line, or more
// when a quoted value holds line ends (xvl_text.h); only long texts may keep them, and a NUL
// byte refuses the record.
//
// Each record of the text file is one line; its first column names the record's format in the
// template (unless the template's single format has an empty id, as in-memory templates do),
// the other columns are the format's columns in order. Blank lines and lines that begin with
// "#" (the type line, time-stamp lines, comments) are skipped but counted, so StartLine is
// the line's number in the file, the first line being 1.
//
// xvlImportNextRec converts every column to its field's type and stages the record in its
// data file's record buffer: a new record starts from the dictionary defaults, a replacement
// from the stored record; a blank column leaves its field at that start value. Refused
// records come back with Status 1, an error number (ImportError) and a message that names the
// field and its column, "(fld n, col m)": fld counts the format's columns, col the line's.
//
// Rejects: xvlRecToRejectFile copies the lines of the records read since the last reject or
// the last read into the caller's record (see there) to the reject file, byte for byte. The
// reject file is made at the first reject; its first line is the text file's "#" line, so it
// can be corrected and converted as it stands.
#pragma once

#include "platform/datafile/xio.h"
#include "platform/import/xvl_encoding.h"
#include "platform/import/xvl_source.h"
#include "platform/import/xvl_template.h"
#include "platform/import/xvl_timestamp.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace dz::xvl {

class xvlImport;

// One staged record.
class xvlImpInfo {
public:
    int Status() const { return status_; }  // 0, or 1 = refused by the library
    int Error() const { return error_; }    // ImportError when Status is 1
    const std::string& Message() const { return message_; }
    const std::string& FormatID() const { return formatId_; }
    uint16_t ImportedRecs() const { return importedRecs_; }  // record number in the data file
    void SetImportedRecs(uint16_t rec) { importedRecs_ = rec; }
    uint16_t FileNumUsed() const { return fileNumUsed_; }  // data-file handle
    int RecExtraData() const { return recExtraData_; }    // 0 data, 1..49 user fields, >50 notes
    int32_t StartLine() const { return startLine_; }
    int PercentDone() const { return percentDone_; }
    bool ReplaceRecord() const { return replaceRecord_; }
    void SetReplaceRecord(bool replace) { replaceRecord_ = replace; }
    uint16_t ImportedUDs() const { return importedUDs_; }
    void SetImportedUDs(uint16_t rec) { importedUDs_ = rec; }
    uint16_t UDRecordLocked() const { return udRecordLocked_; }
    void SetUDRecordLocked(uint16_t rec) { udRecordLocked_ = rec; }
    bool ImportedNotes() const { return importedNotes_; }  // the format carries "Converted Notes"
    // The group the record belongs to (xvlImportNextGroup): its first record's data.
    uint16_t GroupImportedRec() const { return groupImportedRec_; }
    int32_t GroupStartLine() const { return groupStartLine_; }
    const std::string& GroupID() const { return groupId_; }

private:
    friend class xvlImport;
    int status_ = 0;
    int error_ = 0;
    std::string message_;
    std::string formatId_;
    uint16_t importedRecs_ = 0;
    uint16_t fileNumUsed_ = 0;
    int recExtraData_ = 0;
    int32_t startLine_ = 0;
    int percentDone_ = 0;
    bool replaceRecord_ = false;
    uint16_t importedUDs_ = 0;
    uint16_t udRecordLocked_ = 0;
    bool importedNotes_ = false;
    uint16_t groupImportedRec_ = 0;
    int32_t groupStartLine_ = 0;
    std::string groupId_;
};

// Called for each value read whose column has a field id, before the value is converted;
// may change the value. False refuses the record with `rejectMsg` (error 5).
using SubstitutionCB = bool (*)(std::string& value, int16_t fieldId, int16_t section, int16_t dataFileHandle,
                                int16_t fieldNo, std::string& rejectMsg, int32_t startLine, void* ctx);
// Offered each value read whose column has a field id; false = the value is too long for the
// table (the value is still imported).
using PrefillCB = bool (*)(const std::string& value, int16_t fieldId, int16_t section,
                           const std::string& textFileName, void* ctx);
// Called for each record of a group once it is staged; false refuses the record and its whole
// group with `reason` (error 5).
using GroupCB = bool (*)(xvlImpInfo& info, std::string& reason, void* ctx);

class xvlImport {
public:
    explicit xvlImport(const xvlImpTemplate& tpl);
    ~xvlImport();
    xvlImport(const xvlImport&) = delete;
    xvlImport& operator=(const xvlImport&) = delete;

    // Values longer than 80 bytes go into long-text fields (through x_value_def::longText)
    // instead of being refused.
    void xvlSetAcceptLongText(bool on) { acceptLongText_ = on; }
    // A new record starts from the dictionary defaults (otherwise from what the buffer holds).
    void xvlSetClearExtendedFields(bool on) { clearExtended_ = on; }
    // Examine: a modify-only record that is not on file is staged as new instead of refused.
    void xvlChangeRepToWrRep(bool on) { repToWrRep_ = on; }
    void xvlSetSubstitutionCB(SubstitutionCB fn, void* ctx) { subst_ = fn; substCtx_ = ctx; }
    void xvlSetPrefillCB(PrefillCB fn, void* ctx) { prefill_ = fn; prefillCtx_ = ctx; }
    void xvlSetGroupCB(GroupCB fn, void* ctx) { group_ = fn; groupCtx_ = ctx; }

    // Opens the text file and names the reject file ("" = none). False when the text file
    // cannot be read, is not a regular file, is UTF-16 (LastErrorText says so), or the reject
    // file could not be created in its folder. The reject file itself is made at the first
    // reject. The text is read in pieces as the records are (kMaxRecordBytes bounds a record),
    // never held whole.
    bool xvlImpFileNames(const std::string& textFile, const std::string& rejectFile, bool = false);
    // The same over a text file already open: every pass of a conversion reads the one open
    // file, whatever its name comes to name meanwhile.
    bool xvlImpOpen(std::shared_ptr<TextSource> source, const std::string& rejectFile);
    // The open text file (null when none).
    const std::shared_ptr<TextSource>& Source() const { return source_; }

    // The most bytes a record may take. A longer one is refused whole (error
    // kErrRecordTooLong) and copied to the reject file piece by piece, without being held.
    static constexpr std::size_t kMaxRecordBytes = 4u << 20;

    // 2 = end of file (also when no text file is open), 1 = refused, 0 = staged.
    int xvlImportNextRec(xvlImpInfo& info);
    // Reads one group by the template's group declarations, calling the group callback for
    // each record. 2 end, 1 refused (a record error, a dependency break or the callback), 0.
    // The info holds the group's head and the record last read (the failing one on 1).
    int xvlImportNextGroup(xvlImpInfo& info);
    // The next record's format id (and, in `info`, its record number, data file and extra-data
    // kind) without reading it. 2 at the end, 1 when the template lacks the format, else 0.
    int xvlImpWhatIsNextID(std::string& id, xvlImpInfo& info);

    // Copies the current record to the reject file; `line` receives its line there. The
    // current record is the one last read with xvlImportNextRec into an info object, together
    // with the records read after it into other info objects (a payment read ahead with its
    // transaction): one call keeps them together. Without a reject file: true, line 0. False
    // when the reject file cannot be written (xvlRejectFileFull tells a full disk).
    bool xvlRecToRejectFile(int32_t& line);
    // The same, with a comment line "# <reason>" before the record (skipped on re-import).
    bool xvlRecToRejectFile(int32_t& line, const std::string& reason);
    // Copies the whole current group; `line` receives the line of its first record.
    bool xvlGroupToRejectFile(int32_t& line);

    // A special value of the record last read in `format`; none when the format has no such
    // column. Names compare without regard to letter case.
    std::optional<x_value_def> xvlImpGetSpecialValue(const std::string& format, const std::string& name) const;
    // 1, 2 or 3 (2 when the format is unknown).
    int xvlImpGetPermissions(const std::string& format) const;
    // Where the field (or special value) stands in lines of the format, as the import's refusals
    // name it: `fld` counts the format's columns, `col` the line's. False when it has no column.
    bool xvlImpFieldPlace(const std::string& format, const std::string& field, int& fld, int& col) const;
    // Does the format have a column for the field (or special value)?
    bool xvlImpWasItImported(const std::string& format, const std::string& field) const;
    // Did the line last read, of that format, give the field (or special value) a non-blank
    // value? False for a blank column, a format without the column, or a line that was refused.
    bool xvlImpLineGave(const std::string& format, const std::string& field) const;
    // The same special values by position, for a converter that asks on every line: the
    // position of special `name` in `format` (-1 when the format has no such column), found once,
    // then the value there as xvlImpGetSpecialValue answers it (empty for -1), without a search
    // or a copy. The value changes with the next record read in the format.
    int xvlImpSpecialPosition(const std::string& format, const std::string& name) const;
    const x_value_def& xvlImpSpecialValueAt(const std::string& format, int position) const;
    // Every special value of the record last read in `format` in one look-up, by position: at a
    // position below the span's size what xvlImpSpecialValueAt answers there (beyond it, and for
    // an empty span, it answers the empty value). Changes with the next record read in the format.
    std::span<const x_value_def> xvlImpSpecialValues(const std::string& format) const;

    // Converts `text` to the type of `def`. False with Status 1, Error and Message in `info`.
    bool xvlConvertField(const xio_fld_def& def, const std::string& text, x_value_def& value, xvlImpInfo& info);
    // Copies the key fields of the record in info's buffer into the buffer of its
    // user-defined-field record (RecExtraData).
    void xvlImpCopyKeyToUd(const xvlImpInfo& info);

    // Writes the time-stamp line into the text file (when `stamp`) and closes the text and
    // reject files (when `close`). False when a stamp was asked for and not written; the
    // reason is in LastErrorText().
    bool xvlImpTimeStampAndCloseFile(bool stamp, bool close, const std::string& usingText);

    const std::string& LastErrorText() const { return lastError_; }
    const std::string& RejectFileName() const { return rejectPath_; }
    bool RejectFileCreated() const { return rejectFile_ != nullptr; }
    // True when the reject file's last write failed for lack of space.
    bool xvlRejectFileFull() const { return rejectError_ == ENOSPC; }
    // True when the last open or reject failed because the reject file could not be made (its
    // folder does not take it, or it could not be created); LastErrorText() then says why.
    // A write to it that failed leaves LastErrorText() saying why too (its cause only).
    bool RejectFileRefused() const { return rejectRefused_; }
    // The system's error number of the reject file's last failure (its folder's, when the
    // folder refused it), 0 when none is known.
    int RejectError() const { return rejectError_; }

private:
    // Where a record lies in the file.
    struct Span {
        uint64_t begin = 0, end = 0;
        int32_t first = 0, last = 0;  // its lines
        bool unclosed = false;        // the file ended inside a quoted value
        bool tooLong = false;         // over kMaxRecordBytes: passed over, only `head` kept
        std::string head;
        bool quoted = true;  // false: the record holds no double quote
    };
    struct Peeked {
        bool found = false;
        uint64_t begin = 0, end = 0;  // in the file
        std::size_t next = 0;         // in the window
        int32_t line = 0;      // the record's first line
        int32_t lastLine = 0;  // and its last
        std::string id;
        const TemplateFormat* format = nullptr;
    };
    Peeked peek();
    // Records are consumed by pos_ and lineNo_ moving past them; a record read ahead by peek
    // is taken along into the current reject span without being staged.
    void takeAlong(const Peeked& p);
    // The next record: `text` (in the window or scratch, or the head of a record too long),
    // `span`, and `after`, the window offset past it. Blank and "#" lines before it are
    // consumed. False at the end of the file.
    bool nextRecord(std::string_view& text, Span& span, std::size_t& after, std::string& lineScratch,
                    std::string& joined);
    // Reads the next piece of the file into the window, dropping what lies before pos_.
    bool fill();
    // Passes over a record too long to hold, from window offset `begin`, and keeps its place in
    // pendingLong_.
    void skipLongRecord(std::size_t begin, int32_t firstLine);
    uint64_t here() const { return base_ + pos_; }
    int readRecord(xvlImpInfo& info, bool joinSpan);
    int stage(const TemplateFormat& fmt, xvlImpInfo& info);
    // A text field's value that may be taken as it stands is only checked and left in `viewed`
    // (`value` then stays as it was); any other is converted into `value`.
    bool convertColumn(const TemplateFormat& fmt, std::size_t index, std::string_view text, x_value_def& value,
                       std::string_view& viewed, bool& blank, xvlImpInfo& info);
    // Puts column `i` of the line staged into field `fld`: its viewed text, else its value.
    int put(uint16_t h, uint16_t rec, uint16_t fld, std::size_t i) {
        if (viewed_[i].data() != nullptr) return xio_put_text(h, fld, viewed_[i]);
        return xio_put_field(h, rec, fld, values_[i]);
    }
    // A key-format column's value unformatted, checked and in capitals where the format wants
    // them: `value` when `ok`, else the reason in `why`.
    struct KeyAnswer {
        bool known = false;
        uint64_t generation = 0;  // of the company's settings
        std::string raw;          // the column's value, trimmed
        bool ok = false;
        std::string value;
        std::string why;
        uint32_t misses = 0;  // lines since the value last repeated
        // The column's key format, for the settings of `shapeGeneration`: does it have a
        // width (values are unformatted), are values in capitals.
        bool shapeKnown = false;
        uint64_t shapeGeneration = 0;
        bool formatted = false;
        bool capitals = false;
    };
    // The answers kept for a column (keyScratch_ for a column of no template format).
    KeyAnswer& keySlot(const TemplateFormat& fmt, std::size_t index);
    // Does the key-format column's format have a width, as xk_width answers for the current
    // settings; fills the slot's shape.
    bool keyFormatted(KeyAnswer& slot, int keyFormat, uint64_t generation);
    // The answer for `raw` in a column of key format `keyFormat`, whose slot is `column`.
    const KeyAnswer& keyAnswer(KeyAnswer& column, int keyFormat, int section, std::string_view raw);
    void refuse(xvlImpInfo& info, int error, std::string message);
    void describe(xvlImpInfo& info, std::string_view id, const TemplateFormat* fmt, int32_t line);
    bool writeReject(uint64_t begin, uint64_t end, int32_t firstLine, int32_t lastLine,
                     const std::string* reason, int32_t& line);
    int percent(uint64_t offset) const;
    void toUtf8Columns();
    std::string templateName() const;
    // The template's format of that id, as FindFormat answers.
    const TemplateFormat* findFormat(std::string_view id) const;

    const xvlImpTemplate& tpl_;
    bool acceptLongText_ = false;
    bool clearExtended_ = false;
    bool repToWrRep_ = false;
    SubstitutionCB subst_ = nullptr;
    void* substCtx_ = nullptr;
    PrefillCB prefill_ = nullptr;
    void* prefillCtx_ = nullptr;
    GroupCB group_ = nullptr;
    void* groupCtx_ = nullptr;

    bool open_ = false;
    std::string textPath_;
    std::shared_ptr<TextSource> source_;
    // The window of the file being read: data_ views buffer_, whose first byte is the file's
    // byte base_; pos_ is in the window.
    std::string buffer_;
    std::size_t held_ = 0;  // bytes of buffer_ that hold the file; the rest is room
    std::string_view data_;
    uint64_t base_ = 0;
    bool atFileEnd_ = false;  // the window reaches the end of the file
    bool readFailed_ = false;
    std::size_t pos_ = 0;
    std::size_t keepColumns_ = 0;  // columns split and kept: the widest format's, and one more
    std::size_t lastFilled_ = 0;   // the last non-blank column past those kept (0: none)
    std::optional<Span> pendingLong_;  // a record too long, passed over, not yet consumed
    TextEncoding encoding_ = TextEncoding::Utf8;
    int32_t lineNo_ = 0;     // lines consumed so far
    std::string firstLine_;  // raw first line when it begins with "#", with its line end
    std::string lineEnd_ = "\r\n";

    // The span of text that the next reject copies.
    bool spanValid_ = false;
    const xvlImpInfo* spanOwner_ = nullptr;
    uint64_t spanBegin_ = 0, spanEnd_ = 0;  // in the file
    int32_t spanFirst_ = 0, spanLast_ = 0;

    std::string rejectPath_;
    std::FILE* rejectFile_ = nullptr;
    int32_t rejectLines_ = 0;
    bool rejectRefused_ = false;
    int rejectError_ = 0;  // the system's error number of the reject file's last failed write

    // Work areas, kept to avoid allocations per record.
    std::vector<std::string_view> columns_;  // into the line or columnScratch_
    std::vector<uint32_t> nonEmpty_;         // the places of columns_ that are not empty: the first nonEmptyCount_
    std::size_t nonEmptyCount_ = 0;
    std::string columnScratch_;
    std::string work_;  // a column value that callbacks may change
    std::vector<x_value_def> values_;  // by column: what the line's non-blank columns convert to
    std::vector<std::string_view> viewed_;  // by column: a text field's value where it lies, or none
    std::vector<char> blank_;
    std::vector<std::size_t> filled_;    // stage's room for the columns of its line that are not blank
    const TemplateFormat* stagedFormat_ = nullptr;  // the format blank_ describes
    // Special values by format: its special columns, found once, and their values by column.
    struct Specials {
        std::size_t columnCount = 0;  // of the format when `columns` was found
        std::vector<std::size_t> columns;
        std::vector<x_value_def> values;
    };
    std::map<const TemplateFormat*, Specials> specials_;
    // The entry of the format last staged or asked about (lines of one format follow each
    // other); a map's entries stay where they are until it is cleared.
    mutable const TemplateFormat* specialsFormat_ = nullptr;
    mutable Specials* specialsEntry_ = nullptr;
    // The entry of `fmt`, null when there is none.
    Specials* specialsOf(const TemplateFormat* fmt) const {
        if (fmt != specialsFormat_) {
            const auto it = specials_.find(fmt);
            if (it == specials_.end()) return nullptr;
            specialsFormat_ = fmt;
            specialsEntry_ = const_cast<Specials*>(&it->second);
        }
        return specialsEntry_;
    }
    // The special column xvlImpGetSpecialValue found last, by format and name as asked.
    static constexpr std::size_t kNoSpecial = static_cast<std::size_t>(-1);
    struct SpecialAsked {
        const TemplateFormat* format = nullptr;
        std::size_t columnCount = 0;  // of the format when it was found
        std::string name;
        std::size_t column = kNoSpecial;  // none: the format has no such special column
    };
    mutable SpecialAsked lastSpecial_;
    // The format found last, by the id as it was asked for.
    struct Found {
        const TemplateFormat* formats = nullptr;  // the template's formats when it was found
        std::size_t count = 0;
        std::string id;
        const TemplateFormat* format = nullptr;
    };
    mutable Found found_;
    // The last key answer by format and column (formats by their place in the template).
    std::vector<std::vector<KeyAnswer>> keyAnswers_;
    KeyAnswer keyScratch_;  // for a column of no template format
    // The answers of the format keySlot was last asked about, and the template's formats then.
    struct KeyRow {
        const TemplateFormat* format = nullptr;
        const TemplateFormat* formats = nullptr;
        std::size_t count = 0;
        KeyAnswer* answers = nullptr;
        std::size_t size = 0;
    };
    KeyRow keyRow_;
    std::string lineScratch_;
    std::string recordScratch_;         // a record of several lines
    std::vector<std::string> decoded_;  // Windows-1252 columns as UTF-8
    std::string lastError_;
};

}  // namespace dz::xvl
