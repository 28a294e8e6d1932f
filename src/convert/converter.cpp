#include "convert/converter.h"

#include "convert/texts.h"
#include "convert/platform_links.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

namespace dz::convert {

bool xvConvert::OpenDataFile(const std::string& abbr, uint16_t fileNo, uint16_t fileCode, uint8_t flag,
                             OpenFilesList& list, uint16_t commandId, uint16_t& error, bool optional) {
    for (const auto& e : list)
        if (e.abbr == abbr && e.fileNo == fileNo && e.handle != 0) return true;

    xio_ask_request req;
    req.command = commandId;
    req.abbr = abbr.substr(0, 3);
    req.fileNo = fileNo;
    req.flag = flag;
    req.fileCode = fileCode;
    uint16_t handle = 0;
    // What is said of a refusal is this open's own, never what an earlier failure left.
    xio_forget_error();
    int status = xio_ask_file(req, handle);
    failedUnwritable_ = status == XIO_LOCKED && xio_error_unwritable();
    if (status == XIO_OK) {
        // A file that cannot be held for writing fails as its open would: without writes started
        // each write would stand alone, beyond what a stop or a failure can take back.
        status = xio_start_writes(handle);
        if (status != XIO_OK) xio_cls_file(handle);
    }
    error = static_cast<uint16_t>(status);
    if (status == XIO_OK) {
        // The file's entry, when an earlier open of it was refused, takes the handle.
        if (!RebindFileHandle(list, abbr, fileNo, handle)) list.push_back({abbr, fileNo, handle});
        return true;
    }
    failedOpen_ = {abbr, fileNo, 0};
    failedReason_ = xio_error_text();
    failedNext_ = xio_error_next_step();
    // Only a file that is not there may be done without: one that is there but damaged, in use
    // or unreadable would have the run go on as if it held nothing.
    if (optional && status == XIO_NO_FILE) {
        error = XIO_OPTIONAL_ABSENT;
        return true;
    }
    NoteRefused(list, abbr, fileNo);
    return false;
}

bool xvConvert::NotInstalled(const std::string& abbr, uint16_t fileNo, uint16_t code, OpenFilesList& list,
                             uint16_t& error) {
    error = code;
    failedOpen_ = {abbr, fileNo, 0};
    NoteRefused(list, abbr, fileNo);
    return false;
}

void xvConvert::RecordIdText(uint16_t file, std::string& out, uint16_t record) {
    convert::RecordIdText(file, out, record);
}

void xvConvert::ExaminedIdText(uint16_t file, std::string& out, uint16_t record) {
    if (examinedFile_ == file && examinedRec_ == record && file != 0)
        out.assign(examinedId_);
    else
        convert::RecordIdText(file, out, record);
}

void xvConvert::StripRecordId(std::string& text) { convert::StripRecordId(text); }

bool xvConvert::TimeStampTextFile(const std::string& textPath, NotesReport* notes, const std::string& usingText) {
    return convert::TimeStampTextFile(textPath, notes, usingText);
}

void xvConvert::AppendReasonCode(std::string& reason, int error) {
    static constexpr const char* kCodes[22] = {
        nullptr,  " (50)", " (50)", " (51)", " (52)", nullptr,  " (53)", " (54)",
        " (55)",  " (56)", " (57)", " (58)", " (59)", " (60)",  " (61)", nullptr,
        " (62)",  " (63)", nullptr, nullptr, " (64)", " (65)"};
    if (error >= 1 && error <= 21 && kCodes[error]) reason += kCodes[error];
}

}  // namespace dz::convert

// ---- Record services that read and write records ------------------------------------------------

namespace dz::convert {
namespace {

std::string RecordName(uint16_t file, uint16_t record) {
    xio_rec_def def;
    return xio_get_rec_def(file, record, def) == XIO_OK ? def.name : std::string();
}

std::string KeyName(uint16_t file, uint16_t key, uint16_t record) {
    xio_key_def def;
    if (xio_get_key_def(file, key, def, record) != XIO_OK) return "";
    return def.name.substr(0, 50);
}

// "<name> - 'v1', 'v2'(76)" for the record, or "<key name> - ...(77)" for key `key` > 0.
std::string NameAndKey(uint16_t file, uint16_t record, uint16_t key) {
    std::string values;
    if (key > 0) {
        KeyDisplay(values, file, record, key);
        return KeyName(file, key, record) + values + "(77)";
    }
    RecordKeyDisplay(values, file, record);
    return RecordName(file, record) + values + "(76)";
}

std::string RecordKeyValues(uint16_t file, uint16_t record) {
    std::string values;
    RecordKeyDisplay(values, file, record);
    return values;
}

// Why a record is rejected when writing it failed with `status` (not a duplicate).
std::string WriteFailureText(uint16_t file, uint16_t rec, int status, uint16_t key) {
    std::string reason = status == XIO_DISK_FULL ? "Out of disk space" : "I/O Error writing record";
    std::string values;
    if (key > 0) {
        KeyDisplay(values, file, rec, key);
        return reason + values + "(77)";
    }
    return reason + RecordKeyValues(file, rec) + "(76)";
}

// The line that heads notes written by a conversion.
std::string NotesStampLine() {
    const auto [today, now] = TodayAndNow();
    std::string line = AlphaDate(today) + "  " + AlphaTime(now);
    std::string oper;
    if (OperatorName(oper)) line += ", " + oper;
    return line + "  (Conversion)\r\r";
}

const std::string& NotesText(const x_value_def& v) { return v.longText.empty() ? v.text : v.longText; }

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

xvConvert::AddedType* xvConvert::WaitingType(uint16_t file, uint16_t rec, bool keeping) {
    AddedType* type = nullptr;
    for (auto& t : addedTypes_)
        if (t.file == file && t.rec == rec) type = &t;
    if (!type) {
        if (!keeping) return nullptr;
        // Only a record type with no record on file can answer for the texts: every row it will
        // hold is then one this text file added.
        AddedType t;
        t.file = file;
        t.rec = rec;
        bool anyRow = true;
        t.changes = xio_row_changes(file, rec, &anyRow);
        t.lazy = t.changes >= 0 && !anyRow;
        // A key field that receives an identifier when its text is made must have it made.
        if (const auto* fields = xio_primary_key_fields(file, rec))
            for (uint16_t f : *fields)
                if (const xio_fld_def* def = xio_field_def(file, f);
                    def && def->type == XIO_TYPE_TEXT && def->keyKind == XIO_KEY_KIND_NEW_ID)
                    t.lazy = false;
        addedTypes_.push_back(t);  // a deque: entries stay where they are
        if (!t.lazy) return nullptr;
        if (waitingTypes_++ == 0) recordIds_.SetSource(&waitingIds_);
        return &addedTypes_.back();
    }
    if (!type->lazy) return nullptr;
    // A row added, removed or rekeyed by anything else: what today's texts are is still known.
    if (xio_row_changes(file, rec) != type->changes) {
        Settle(*type);
        return nullptr;
    }
    return type;
}

void xvConvert::Settle(AddedType& type) {
    if (!type.lazy) return;
    type.lazy = false;
    --waitingTypes_;
    if (type.lastRow == 0) {
        if (!waitingTypes_) recordIds_.SetSource(nullptr);
        return;
    }
    // The rows up to the last one added here are all this text file's own records.
    recordIds_.SetSource(nullptr);
    std::string id;
    (void)xio_rd_rows_aside(type.file, type.rec, type.lastRow, [&] {
        convert::RecordIdText(type.file, id, type.rec);
        recordIds_.add(id, 0);
    });
    if (waitingTypes_) recordIds_.SetSource(&waitingIds_);
}

void xvConvert::WaitingIds::Fill(std::string_view text) {
    // A record-ID text starts with its file and record type (file * 100 + record).
    uint32_t prefix = 0;
    bool whole = text.empty();
    if (!whole) {
        std::size_t i = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && i < 9; ++i)
            prefix = prefix * 10 + static_cast<uint32_t>(text[i] - '0');
        if (i == 0 || i >= text.size() || text[i] != '\t') whole = true;  // not one: every type answers
    }
    for (auto& t : owner_.addedTypes_)
        if (t.lazy && (whole || static_cast<uint32_t>(t.file) * 100 + t.rec == prefix)) owner_.Settle(t);
}

bool xvConvert::WriteRecord(uint16_t file, xvl::xvlImpInfo& info, std::string& reason, const x_value_def* notes,
                            uint16_t permissions, bool& diskFull, bool force) {
    diskFull = false;
    reason.clear();
    const uint16_t rec = info.ImportedRecs();
    const bool adding = !info.ReplaceRecord();
    const bool udRecord = IsUserFieldsRecord(info.RecExtraData());
    uint16_t dupKey = 0;
    int status = XIO_OK;
    bool repeated = false;
    std::string& idText = writtenId_;
    idText.clear();

    AddedType* waiting = nullptr;
    if (adding) {
        const bool keeping = permissions == kPermAdd && !force && keepAddedIds_;
        waiting = WaitingType(file, rec, keeping);
        status = xio_wr_record(file, rec, &dupKey);
        if (waiting) {
            if (status == XIO_OK && keeping) {
                ++waiting->changes;
                waiting->priorRow = waiting->lastRow;
                waiting->lastRow = xio_current_row(file, rec);
            } else if (status == XIO_DUPLICATE && dupKey == 0) {
                repeated = true;  // the record on file is one an earlier line added
            }
        } else if (status == XIO_OK && keeping) {
            RecordIdText(file, idText, rec);
            recordIds_.add(idText, 0);
        }
    } else if (udRecord || force) {
        // A replace may give a record another key: the texts kept must be the added ones.
        if (AddedType* t = WaitingType(file, rec, false)) Settle(*t);
        status = xio_rep_record(file, rec, &dupKey);
    } else {
        if (AddedType* t = WaitingType(file, rec, false)) Settle(*t);
        // A line that may only modify records (permissions 1) may modify one that an earlier
        // line created or modified; any other replacement happens once per text file.
        RecordIdText(file, idText, rec);
        if (recordIds_.count(idText) && permissions != kPermModifyOnly) {
            repeated = true;
        } else {
            status = xio_rep_record(file, rec, &dupKey);
            if (status == XIO_OK) recordIds_.add(idText, 0);
        }
    }

    auto unlockAll = [&] {
        if (!adding) xio_unlock_record(file, rec, 1);
        if (info.UDRecordLocked()) xio_unlock_record(file, info.UDRecordLocked(), 1);
    };

    if (!repeated && status == XIO_DUPLICATE && dupKey == 0) {
        // A key an earlier line of this text file wrote: the file repeats the record.
        if (idText.empty()) RecordIdText(file, idText, rec);
        repeated = recordIds_.count(idText) > 0;
        idText.clear();
    }
    if (repeated || status != XIO_OK) {
        if (repeated)
            reason = "The text file has duplicate " + NameAndKey(file, rec, 0);
        else if (status == XIO_DUPLICATE)
            reason = "Duplicate " + NameAndKey(file, rec, dupKey);
        else {
            diskFull = status == XIO_DISK_FULL;
            reason = WriteFailureText(file, rec, status, dupKey);
        }
        unlockAll();
        return false;
    }

    // Takes back a record this call added, so that a rejected line leaves nothing behind.
    // A user-field record that cannot be taken back keeps its record: neither stays alone.
    auto undoAdd = [&](bool withUd) {
        if (withUd && info.ImportedUDs() && !info.UDRecordLocked() &&
            xio_del_record(file, info.ImportedUDs()) != XIO_OK)
            return false;
        const bool deleted = xio_del_record(file, rec) == XIO_OK;
        if (deleted && !idText.empty()) recordIds_.erase(idText);
        if (deleted && waiting && waiting->lazy && xio_row_changes(file, rec) == waiting->changes + 1) {
            ++waiting->changes;
            waiting->lastRow = waiting->priorRow;
        }
        return deleted;
    };

    // The record's user-defined fields.
    if (info.ImportedUDs()) {
        const int udStatus = info.UDRecordLocked() ? xio_rep_record(file, info.ImportedUDs(), nullptr)
                                                   : xio_wr_record(file, info.ImportedUDs(), nullptr);
        if (udStatus != XIO_OK) {
            diskFull = udStatus == XIO_DISK_FULL;
            if (adding && undoAdd(false))
                reason = "Unable to write record's user defined fields" + RecordKeyValues(file, rec) + "(78)";
            else
                reason = "Record was saved but user defined fields couldn't be written";
            if (info.UDRecordLocked()) xio_unlock_record(file, info.UDRecordLocked(), 1);
            return false;
        }
    } else if (info.UDRecordLocked()) {
        xio_unlock_record(file, info.UDRecordLocked(), 1);
    }

    // The record's notes.
    if (info.ImportedNotes() && notes && !NotesText(*notes).empty()) {
        const std::string& text = NotesText(*notes);
        if (text.size() > kMaxNotesLength) {
            reason = "Notes are too long" + RecordKeyValues(file, rec) + "(79)";
            if (adding) undoAdd(true);
            return false;
        }
        int notesStatus = xio_rd_notes(file, rec, 1);
        if (notesStatus == XIO_OK) {
            xio_put_notes(file, NotesStampLine());
            xio_put_notes(file, text);
            notesStatus = xio_wr_notes(file);
        }
        if (notesStatus != XIO_OK) {
            diskFull = notesStatus == XIO_DISK_FULL;
            if (adding && undoAdd(true))
                reason = "Unable to write record's notes" + RecordKeyValues(file, rec) + "(79)";
            else
                reason = "Record was saved but notes couldn't be written";
            return false;
        }
    }
    return true;
}

bool xvConvert::WriteFailed(uint16_t file, uint16_t rec, int status, std::string& reason) {
    reason = WriteFailureText(file, rec, status, 0);
    if (status == XIO_DISK_FULL) handlerDiskFull_ = true;
    return false;
}

bool xvConvert::ExamineRecord(uint16_t file, xvl::xvlImpInfo& info, std::string& reason, uint16_t value,
                              uint16_t permissions, const x_value_def* notes) {
    enum class Outcome { New, Existing, Repeated, Missing, IoError };
    reason.clear();
    const uint16_t rec = info.ImportedRecs();
    Outcome outcome = Outcome::New;
    uint16_t decidingKey = 0;
    std::vector<std::string> pending;
    // The ID text is built in a buffer kept from record to record, and stays there for the
    // caller (ExaminedIdText) when the record is accepted.
    examinedFile_ = 0;
    std::string& idText = examinedId_;
    idText.clear();
    bool metEarlier = false;
    bool idAdded = false;  // the record's ID is in the map already, taken back unless accepted

    int status = xio_find_record(file, rec, 0);
    if (status == XIO_OK) {
        outcome = Outcome::Existing;
    } else if (status == XIO_NOT_FOUND) {
        RecordIdText(file, idText, rec);
        if (permissions == kPermModifyOnly) {
            if (recordIds_.count(idText))
                metEarlier = true;  // an earlier line creates the record this line modifies
            else
                outcome = Outcome::Missing;
        } else {
            // One look-up: most records are new, so the ID goes in at once.
            idAdded = recordIds_.emplace(idText, value).second;
            if (!idAdded) outcome = Outcome::Repeated;
        }
    } else {
        outcome = Outcome::IoError;
    }

    // A new record must not clash by any other unique key, on file or earlier in the text file.
    // A modification of a record met earlier keeps that record's other keys.
    if (outcome == Outcome::New && !metEarlier) {
        // Keys 1, 2, ... until the file has no more (the whole file definition is not needed).
        xio_key_def keyDef;
        for (uint16_t k = 1; outcome == Outcome::New && xio_get_key_def(file, k, keyDef) == XIO_OK; ++k) {
            if (keyDef.record != rec || keyDef.excluded1 || keyDef.excluded2 || !keyDef.unique) continue;
            // A blank value of a key that allows blanks clashes with nothing, on file or not.
            std::string keyText;
            KeyIdText(file, keyText, rec, k);
            if (keyText.empty() && keyDef.blankAllowed) continue;
            status = xio_find_record(file, rec, k);
            if (status == XIO_OK) {
                outcome = Outcome::Existing;
                decidingKey = k;
            } else if (status == XIO_NOT_FOUND) {
                if (recordIds_.count(keyText)) {
                    outcome = Outcome::Repeated;
                    decidingKey = k;
                } else {
                    pending.push_back(keyText);
                }
            } else {
                outcome = Outcome::IoError;
            }
        }
    }

    // A record on file that this line replaces: once per text file.
    if (outcome == Outcome::Existing && decidingKey == 0 && info.ReplaceRecord()) {
        RecordIdText(file, idText, rec);
        if (recordIds_.count(idText) && permissions != kPermModifyOnly)
            outcome = Outcome::Repeated;
        else
            pending.push_back(idText);
    }

    bool accepted = false;
    switch (outcome) {
    case Outcome::New:
        accepted = true;
        break;
    case Outcome::Existing:
        accepted = info.ReplaceRecord() && decidingKey == 0;
        if (!accepted) reason = "Duplicate " + NameAndKey(file, rec, decidingKey);
        break;
    case Outcome::Repeated:
        reason = "The text file has duplicate " + NameAndKey(file, rec, decidingKey);
        break;
    case Outcome::Missing:
        reason = "The record to modify doesn't currently exist: " + RecordName(file, rec) +
                 RecordKeyValues(file, rec) + "(62)";
        break;
    case Outcome::IoError:
        reason = "I/O Error examining record";
        break;
    }
    // Convert writes the record before it finds its notes too long: a new record is taken back,
    // a replaced one keeps its place in the map.
    if (accepted && info.ImportedNotes() && notes && NotesText(*notes).size() > kMaxNotesLength) {
        reason = "Notes are too long" + RecordKeyValues(file, rec) + "(79)";
        accepted = false;
        if (outcome == Outcome::Existing)
            for (const auto& t : pending) recordIds_.emplace(t, value);
    }
    if (accepted)
        for (const auto& t : pending) recordIds_.emplace(t, value);
    else if (idAdded)
        recordIds_.erase(idText);
    if (accepted && !idText.empty()) {
        examinedFile_ = file;
        examinedRec_ = rec;
    }

    if (info.ReplaceRecord()) xio_unlock_record(file, rec, 1);
    if (info.UDRecordLocked()) xio_unlock_record(file, info.UDRecordLocked(), 1);
    return accepted;
}

bool xvConvert::SaveNotes(uint16_t file, uint16_t record, const std::string& formatId, xvl::xvlImport& import,
                          std::string& reason, bool converting) {
    reason.clear();
    if (xio_find_record(file, record, 0) != XIO_OK) {
        std::string idText;
        RecordIdText(file, idText, record);
        if (!recordIds_.count(idText)) {
            reason = "The record to modify doesn't currently exist (fld 1, col 1) (62)";
            return false;
        }
    }
    if (!converting) return true;

    if (xio_rd_notes(file, record, 1) != XIO_OK) {
        reason = "I/O Error saving note";
        return false;
    }
    // The notes already on file stay in front of the new ones.
    std::vector<std::string> existing;
    std::size_t existingSize = 0;
    for (std::string piece; xio_get_notes(file, piece) == XIO_OK;) {
        existingSize += piece.size();
        existing.push_back(std::move(piece));
    }
    for (const auto& piece : existing) xio_put_notes(file, piece);
    const bool hadNotes = !existing.empty();

    // The new pieces are gathered before any is put: notes lines that one after the other would
    // grow a record's notes past the longest its own notes may be are refused, since each line
    // rewrites all the notes before it and a file of them would otherwise never end.
    std::vector<std::string> added;
    std::size_t addedText = 0;
    if (auto converted = import.xvlImpGetSpecialValue(formatId, "Converted Notes")) {
        const std::string& text = NotesText(*converted);
        if (!text.empty()) {
            if (hadNotes) added.emplace_back("\r\r");
            added.push_back(NotesStampLine());
            added.push_back(text);
            addedText += text.size();
        }
    } else {
        for (int n = 1; n <= 99; ++n) {
            auto note = import.xvlImpGetSpecialValue(formatId, "NOTE" + std::to_string(n));
            if (!note || NotesText(*note).empty()) break;
            if (added.empty() && hadNotes) added.emplace_back("\r\r");
            if (addedText > 0) added.emplace_back("\r");  // each note on a line of its own
            added.push_back(NotesText(*note));
            addedText += added.back().size();
        }
    }
    const bool write = addedText > 0;
    const bool tooLong = write && existingSize + addedText > kMaxNotesLength;
    if (!tooLong)
        for (const auto& piece : added) xio_put_notes(file, piece);
    // Writing releases the notes; without new notes the old ones are written back unchanged.
    if (xio_wr_notes(file) != XIO_OK && write && !tooLong) {
        reason = "I/O Error saving note";
        return false;
    }
    if (tooLong) {
        reason = "Notes are too long" + RecordKeyValues(file, record) + "(79)";
        return false;
    }
    return true;
}

bool xvConvert::WriteUserFields(xvl::xvlImport& import, xvl::xvlImpInfo& info, std::string& reason) {
    reason.clear();
    const int udRec = info.RecExtraData();
    if (udRec < 1 || udRec > 49) return true;
    const uint16_t file = info.FileNumUsed();
    const auto ud = static_cast<uint16_t>(udRec);

    std::string name;
    if (auto v = import.xvlImpGetSpecialValue(info.FormatID(), "cust fld name")) name = v->text.substr(0, 40);
    const std::string recordName = file ? RecordName(file, info.ImportedRecs()) : std::string();
    const std::string missing =
        "The user defined field '" + name + "' does not exist for the " + recordName + " record (80)";

    // A user-defined-field record holds its record's key, then the user-defined fields.
    xio_rec_def udDef;
    if (name.empty() || file == 0 || xio_get_rec_def(file, ud, udDef) != XIO_OK) {
        reason = missing;
        return false;
    }
    uint16_t field = 0;
    xio_fld_def fieldDef;
    const auto firstUd = static_cast<uint16_t>(udDef.firstField + udDef.primaryKeyFields.size());
    for (uint16_t f = firstUd; f <= udDef.lastField && field == 0; ++f) {
        xio_fld_def d;
        if (xio_get_fld_def(file, f, d) == XIO_OK && d.udFlag == 0 && EqualsNoCase(d.name, name)) {
            field = f;
            fieldDef = d;
        }
    }
    if (field == 0) {
        reason = missing;
        return false;
    }

    // Property tax records need the tax ID of their property.
    if (udDef.lastField >= udDef.firstField + 2) {
        xio_fld_def f1, f2, f3;
        xio_get_fld_def(file, udDef.firstField, f1);
        xio_get_fld_def(file, udDef.firstField + 1, f2);
        xio_get_fld_def(file, udDef.firstField + 2, f3);
        if (f1.name == "UPTPROP" && f2.name == "UPTTXID" && f3.name == "UPTYEAR") {
            // The tax ID is the second key field of the property tax record (13) the fields
            // belong to.
            x_value_def taxId;
            xio_rec_def taxDef;
            if (xio_get_rec_def(file, 13, taxDef) == XIO_OK && taxDef.primaryKeyFields.size() >= 2)
                xio_get_field(file, 13, taxDef.primaryKeyFields[1], taxId);
            if (taxId.text.find_first_not_of(' ') == std::string::npos) {
                reason = "This Tax ID field is blank, add a valid Tax ID and Tax year to the text file(82)";
                return false;
            }
        }
    }

    auto text = import.xvlImpGetSpecialValue(info.FormatID(), "cust fld value");
    x_value_def value;
    if (!text || !import.xvlConvertField(fieldDef, NotesText(*text), value, info)) {
        if (info.Status() == 1) {
            reason = info.Message();
            AppendReasonCode(reason, info.Error());
        } else {
            reason = "Unable to convert '" + name + "' for the " + recordName + " record (81)";
        }
        return false;
    }
    if (NotesText(*text).empty()) return true;  // an empty value writes nothing

    // The user-defined-field record starts clean, takes its record's key, and is read for
    // update when it is already on file; WriteRecord writes it and releases it.
    xio_init_record(file, ud);
    import.xvlImpCopyKeyToUd(info);
    info.SetImportedUDs(ud);
    if (xio_rd_record(file, ud, 0, 1) == XIO_OK) info.SetUDRecordLocked(ud);
    xio_put_field(file, ud, field, value);
    return true;
}

}  // namespace dz::convert
