// The editor's side of SubstitutionMasterFile: opening a table for editing with its format
// check, saving a document (in place or under another group), and tidying up when the editor
// closes.
//
// Saves are all or nothing: the removals, the rows and header 1 are written in one transaction
// that is rolled back on any failure, and the rows' flags (and the cut of old values in Save
// As) change only after the commit, so a failed save leaves both the file and the document as
// they were and the edits can still be saved elsewhere.
#include "tables/master_file.h"
#include "tables/save_failure.h"
#include "tables/table_editor.h"

#include "platform/datafile/utf8.h"
#include "platform/datafile/xio.h"
#include "platform/suite/util.h"
#include "platform/suite/xk.h"
#include "platform/ui/ui.h"

#include <map>
#include <string>

namespace dz::tables {

namespace {

constexpr uint16_t kLeaveAsItIs = 65535;
constexpr int kSaveRefused = XIO_BAD_CALL;  // the table could not be opened for the save

// Wait texts are shown for each of the first 49 steps, then for every tenth, and for the last,
// so that the count ends on the true one; a text is built only for a step that shows it.
template <typename Text>
void Progress(int n, bool last, Text&& text) {
    if (n < 50 || n % 10 == 0 || last) ui::x_update_task(text());
}

std::string SavingText(int n, int total) {
    return "Saving table to disk: " + std::to_string(n) + " of " + std::to_string(total) + " rows saved";
}

// The rows of a save, counted as they are written. Rows left as they were are on disk already:
// once the save is committed the count ends on the table's whole number of rows, and only then
// (a save that fails has saved no row).
class SaveProgress {
public:
    explicit SaveProgress(int total) : total_(total) {}
    void Row(int at) {
        Progress(at, false, [this, at] { return Text(at); });
    }
    void Done() {
        if (total_ > 0 && shown_ != total_) ui::x_update_task(Text(total_));
    }

private:
    std::string Text(int at) {
        shown_ = at;
        return SavingText(at, total_);
    }
    int total_;
    int shown_ = 0;
};

std::string Upper(std::string s) {
    suite::x_capitalize(s);
    return s;
}

// Ends a write's transaction: commits on success, otherwise drops every write. The cause of a
// failure is taken before the rollback forgets it.
int EndSave(uint16_t h, int status, SaveFailure& failure) {
    if (status == XIO_OK) {
        status = xio_end_writes(h);
        if (status == XIO_OK) return XIO_OK;
    }
    failure = SaveFailureOf(h, status);
    // The write has failed already and says so; dropping its writes is all that is left to try.
    (void)xio_rollback(h);
    (void)xio_end_writes(h);
    return status;
}

// Says why a save wrote nothing: the wait text of its rows goes, the box says what to do.
void SayNotSaved(const SaveFailure& failure, const std::string& command, ui::Voice voice) {
    ui::x_update_task("");
    ui::xw_wr_message(ui::kError, SaveFailureText(failure, command, voice));
}

}  // namespace

// ---- Opening for edit ---------------------------------------------------------------------

bool SubstitutionMasterFile::PassesOpenChecks(std::string_view group, uint16_t applCode, uint16_t fieldId,
                                              bool warn, bool check) {
    if (SameText(group, kNewTableGroup) && !CheckMaxGroups()) return false;
    if (!AcceptGroupName(group)) return false;
    return !check || CheckFormat(group, applCode, fieldId, warn);
}

bool SubstitutionMasterFile::OpenForEdit(std::string_view group, uint16_t applCode, uint16_t fieldId, bool warn,
                                         uint16_t oldSize, uint16_t mapJobToExtra, uint16_t blankValueOption,
                                         uint16_t notFoundOption, bool check, bool save) {
    if (!PassesOpenChecks(group, applCode, fieldId, warn, check)) return false;
    const std::string prevName = groupName_;
    const uint32_t prevAppl = application_;
    const uint16_t prevField = fieldId_;
    // A save writes inside its own transaction; otherwise letting go of the previous table and
    // making this one (group widths, then definition) are a write of their own, so that a stop
    // between them never leaves a group without its table.
    const bool ownWrite = !saving_ && Open() && !ReadOnly();
    int s = ownWrite ? xio_start_writes(H()) : XIO_OK;
    if (s == XIO_OK) {
        if (Open() && !IsUnnamedGroup(groupName_))
            PutDefinitionArgs(oldSize, mapJobToExtra, blankValueOption, notFoundOption);
        ReleaseDefinition(save);
        SetCurrentTable(group, applCode > 0 ? applCode - 1u : 0u, fieldId);
        s = WriteDefinition(oldSize, mapJobToExtra, blankValueOption, notFoundOption);
        if (s == XIO_NOT_FOUND) s = XIO_OK;  // nothing to lock: nothing was written either
    }
    // Taken before the previous table is locked again, which may say something else.
    SaveFailure failure;
    if (ownWrite)
        s = EndSave(H(), s, failure);
    else if (s != XIO_OK)
        failure = SaveFailureOf(H(), s);
    if (s == XIO_OK) return true;
    SetCurrentTable(prevName, prevAppl, prevField);
    WriteDefinition(0, kLeaveAsItIs, 0, 0);
    // A save says why it wrote nothing, with a step that works; a table another user holds is
    // said as when it is chosen.
    if (saving_ && failure.cause != SaveFailure::Cause::InUse)
        SayNotSaved(failure, saving_, voice_);
    else
        ui::xw_wr_message(ui::kInfo, s == XIO_LOCKED ? "Another user is currently modifying this table."
                                                     : "Unable to access this table, please run fendrick on your "
                                                       "Master.xvc file");
    return false;
}

bool SubstitutionMasterFile::OpenToFill(std::string_view group, uint16_t applCode, uint16_t fieldId) {
    const uint32_t appl = applCode > 0 ? applCode - 1u : 0u;
    if (!Open() || ReadOnly() || HasTable(group, appl, fieldId))
        return OpenForEdit(group, applCode, fieldId, false, 0, kLeaveAsItIs, 0, 0, true, false);
    if (!PassesOpenChecks(group, applCode, fieldId, false, true)) return false;
    ReleaseDefinition(false);
    SetCurrentTable(group, appl, fieldId);
    return true;
}

void SubstitutionMasterFile::BackTo(const std::string& group, uint32_t application, uint16_t fieldId) {
    const uint16_t h = H();
    // A table made by the dropped writes is gone; its lock, and that of another table the save
    // went to, go too.
    const bool same = SameText(groupName_, group) && application_ == application && fieldId_ == fieldId;
    if (!same || !ReadDefinition(groupName_, application_, fieldId_, false)) xio_unlock_record(h, kDefinitionRecord);
    SetCurrentTable(group, application, fieldId);
    if (ReadDefinition(group, application, fieldId, false)) (void)xio_rd_record(h, kDefinitionRecord, 0, 1);
}

std::string SubstitutionMasterFile::RefusedGroupName(std::string_view group) {
    std::string refusal = GroupNameRefusal(group);
    if (refusal.empty()) return refusal;
    // A group stored under such a name before names were checked can still be opened, and so
    // saved under a name that can be shown. None is stored under a name longer than a group
    // name holds: looking one up would find the group of its first characters.
    if (Open() && GroupNameTooLong(group).empty()) {
        xio_init_record(H(), kGroupRecord);
        PutText(H(), kGroupRecord, fields_.table, StoredGroupName(group));
        if (xio_find_record(H(), kGroupRecord, 0) == XIO_OK) return {};
    }
    return refusal;
}

bool SubstitutionMasterFile::AcceptGroupName(std::string_view group) {
    const std::string refusal = RefusedGroupName(group);
    if (refusal.empty()) return true;
    ui::xw_wr_message(ui::kWarning, refusal);
    return false;
}

bool SubstitutionMasterFile::CheckFormat(std::string_view group, uint16_t applCode, uint16_t fieldId, bool warn) {
    const uint32_t appl = applCode > 0 ? applCode - 1u : 0u;
    const bool gl = appl == kApplGL;
    if (!Open() || IsUnnamedGroup(group) || (!gl && fieldId != kFieldJob && fieldId != kFieldPhase)) return true;
    const uint16_t h = H();
    const std::string name(StoredGroupName(group));
    // Stored widths: the group record, when a table that keeps them exists.
    bool stored = false;
    if (gl) {
        xio_init_record(h, kDefinitionRecord);
        PutText(h, kDefinitionRecord, fields_.dTable, name);
        PutNumber(h, kDefinitionRecord, fields_.dAppl, appl);
        PutNumber(h, kDefinitionRecord, fields_.dField, 0);
        stored = xio_rd_ge(h, kDefinitionRecord, 0, 0) == XIO_OK &&
                 SameText(GetText(h, kDefinitionRecord, fields_.dTable), name) &&
                 GetCount(h, kDefinitionRecord, fields_.dAppl, 0xFFFFFFFFu) == appl;
    } else {
        stored = HasTable(name, appl, fieldId);
    }
    if (stored) {
        xio_init_record(h, kGroupRecord);
        PutText(h, kGroupRecord, fields_.table, name);
        stored = xio_rd_record(h, kGroupRecord, 0, 0) == XIO_OK;
    }
    if (!stored) {
        if (!warn) return true;
        std::string text;
        if (fieldId == kFieldJob) {
            if (suite::xk_width(suite::kJobFormat, 2) == 0 && suite::xk_width(suite::kJobFormat, 0) >= 10)
                text = "If you want formatted Jobs, be sure the job format\ris set in Custom Descriptions before "
                       "you begin.\r\rDo you want to continue?";
        } else if (fieldId == kFieldPhase) {
            if (suite::xk_width(suite::kPhaseFormat, 2) == 0 && suite::xk_width(suite::kPhaseFormat, 0) >= 12) {
                const std::string desc = suite::xk_description(suite::kPhaseFormat);
                std::string plural = desc;
                suite::x_pluralize(plural);
                suite::x_upper_first(plural);
                text = "If you want formatted " + plural + ", be sure the " + desc +
                       " format\ris set in Custom Descriptions before you begin.\r\rDo you want to continue?";
            }
        } else if (suite::xk_width(suite::kGlAccountFormat, 1) == 0 && suite::xk_width(suite::kGlAccountFormat, 5) == 0 &&
                   suite::xk_width(suite::kGlAccountFormat, 4) >= 10) {
            xio_ask_request req;
            req.command = command_;
            req.abbr = "GLM";
            uint16_t glm = 0;
            const int s = xio_ask_file(req, glm);
            if (s == XIO_OK && glm != 0) xio_cls_file(glm);
            if (s == XIO_NO_FILE || s == XIO_OPTIONAL_ABSENT)
                text = "Please be sure the account format is set\rin Custom Descriptions before you begin.\r\rDo "
                       "you want to continue?";
        }
        if (text.empty()) return true;
        return ui::xw_wr_message(ui::kYesNo, text) != ui::kNo;
    }
    auto width = [&](uint16_t fld) { return static_cast<int>(GetCount(h, kGroupRecord, fld)); };
    std::vector<int> was, now;
    std::string detail;
    if (gl) {
        const uint16_t f[] = {fields_.taLen, fields_.tbLen, fields_.tcLen, fields_.tbsLen, fields_.tsufLen};
        for (int i = 0; i < 5; ++i) {
            was.push_back(width(f[i]));
            now.push_back(suite::xk_width(suite::kGlAccountFormat, i + 1));
        }
        detail = "Prefix A: " + std::to_string(was[0]) + ", Prefix B: " + std::to_string(was[1]) +
                 ", Prefix C: " + std::to_string(was[2]) + ", Base: " + std::to_string(was[3]) + ", and Suffix " +
                 std::to_string(was[4]);
    } else {
        const bool job = fieldId == kFieldJob;
        const std::vector<uint16_t> f = job ? std::vector<uint16_t>{fields_.tj1Len, fields_.tj2Len, fields_.tj3Len}
                                            : std::vector<uint16_t>{fields_.tp1Len, fields_.tp2Len, fields_.tp3Len,
                                                                    fields_.tp4Len};
        for (std::size_t i = 0; i < f.size(); ++i) {
            was.push_back(width(f[i]));
            now.push_back(suite::xk_width(fieldId, static_cast<int>(i) + 1));
        }
        detail = "Section 1: " + std::to_string(was[0]) + ", Section 2: " + std::to_string(was[1]) + ", ";
        detail += job ? "and Section 3: " + std::to_string(was[2])
                      : "Section 3: " + std::to_string(was[2]) + ", and Section 4: " + std::to_string(was[3]);
    }
    if (was == now) return true;
    ui::xw_wr_message(ui::kInfo,
                      "Incompatible format.\r\rThe section lengths originally used for this table don't match the "
                      "current custom description section lengths.\r\rThe original section lengths were " +
                          detail + ".");
    return false;
}

// ---- Queries ------------------------------------------------------------------------------

bool SubstitutionMasterFile::HasTable(std::string_view group, uint32_t application, uint16_t fieldId) {
    if (!Open() || IsUnnamedGroup(group)) return false;
    const uint16_t h = H();
    xio_init_record(h, kDefinitionRecord);
    PutText(h, kDefinitionRecord, fields_.dTable, StoredGroupName(group));
    PutNumber(h, kDefinitionRecord, fields_.dAppl, application);
    PutNumber(h, kDefinitionRecord, fields_.dField, fieldId);
    return xio_find_record(h, kDefinitionRecord, 0) == XIO_OK;
}

bool SubstitutionMasterFile::HasApplicationTable(std::string_view group, uint32_t application) {
    if (!Open() || IsUnnamedGroup(group)) return false;
    const uint16_t h = H();
    const std::string name(StoredGroupName(group));
    xio_init_record(h, kDefinitionRecord);
    PutText(h, kDefinitionRecord, fields_.dTable, name);
    PutNumber(h, kDefinitionRecord, fields_.dAppl, application);
    PutNumber(h, kDefinitionRecord, fields_.dField, 0);
    return xio_rd_ge(h, kDefinitionRecord, 0, 0) == XIO_OK &&
           SameText(GetText(h, kDefinitionRecord, fields_.dTable), name) &&
           GetCount(h, kDefinitionRecord, fields_.dAppl, 0xFFFFFFFFu) == application;
}

bool SubstitutionMasterFile::ReadOptions(TableSummary& t) {
    if (!ReadDefinition(groupName_, application_, fieldId_, false)) return false;
    const uint16_t h = H();
    if (xio_rd_record(h, kDefinitionRecord, 0, 0) != XIO_OK) return false;
    t.application = application_;
    t.fieldId = fieldId_;
    t.oldSize = static_cast<uint16_t>(GetCount(h, kDefinitionRecord, fields_.dOldSiz, kValueMax));
    t.mapJobToExtra = static_cast<uint16_t>(GetCount(h, kDefinitionRecord, fields_.dXOnJob));
    t.blankValueOption = static_cast<uint16_t>(GetCount(h, kDefinitionRecord, fields_.dNewBlk));
    t.notFoundOption = static_cast<uint16_t>(GetCount(h, kDefinitionRecord, fields_.dNoExst));
    return true;
}

void SubstitutionMasterFile::ListGroups(ui::Panel& panel, int field) {
    if (!Open()) {
        ui::xw_wr_message(ui::kInfo, "No previous table groups have been created");
        return;
    }
    ui::RecordList list;
    list.title = "Table Groups";
    list.columns = {"Table group"};
    const std::string typed = Upper(panel.text(field));
    const std::vector<std::string> names = GroupNames();
    list.start = static_cast<int>(names.size()) - 1;
    for (std::size_t i = 0; i < names.size(); ++i) {
        list.rows.push_back({names[i]});
        if (list.start == static_cast<int>(names.size()) - 1 && Upper(names[i]) >= typed)
            list.start = static_cast<int>(i);
    }
    if (list.start < 0) list.start = 0;
    const int picked = ui::xl_list_records(list);
    if (picked >= 1 && picked <= static_cast<int>(names.size()))
        panel.set_text(field, names[static_cast<std::size_t>(picked - 1)]);
}

std::vector<std::string> SubstitutionMasterFile::GroupNames() {
    std::vector<std::string> names;
    if (!Open()) return names;
    for (int s = xio_rd_first(H(), kGroupRecord, 0, 0); s == XIO_OK; s = xio_rd_next(H(), kGroupRecord, 0, 0))
        names.push_back(GetText(H(), kGroupRecord, fields_.table));
    return names;
}

bool SubstitutionMasterFile::ReadLastChoice(std::string& group, uint16_t& applCode, uint16_t& fieldId) {
    if (!Open() || xio_rd_header(H(), kLastChoiceHeader, 0) != XIO_OK) return false;
    group = GetText(H(), 0, fields_.lstTble);
    applCode = static_cast<uint16_t>(GetCount(H(), 0, fields_.lstAppl));
    fieldId = static_cast<uint16_t>(GetCount(H(), 0, fields_.lstFld));
    return true;
}

int SubstitutionMasterFile::WriteLastChoice(bool failIfUnreadable) {
    const uint16_t h = H();
    int s = xio_rd_header(h, kLastChoiceHeader, 1);
    if (s != XIO_OK) return failIfUnreadable ? s : XIO_OK;
    PutText(h, 0, fields_.lstTble, groupName_);
    PutNumber(h, 0, fields_.lstAppl, application_ + 1);
    PutNumber(h, 0, fields_.lstFld, fieldId_);
    s = xio_wr_header(h, kLastChoiceHeader);
    if (s != XIO_OK) xio_free_header(h, kLastChoiceHeader);
    return s;
}

// ---- Saving -------------------------------------------------------------------------------

int SubstitutionMasterFile::DeleteEntry(std::string_view group, const std::string& oldValue, bool mustExist) {
    const uint16_t h = H();
    xio_init_record(h, kEntryRecord);
    PutText(h, kEntryRecord, fields_.fTable, group);
    PutNumber(h, kEntryRecord, fields_.fField, fieldId_);
    PutText(h, kEntryRecord, fields_.fOldVal, oldValue);
    int s = xio_rd_record(h, kEntryRecord, 0, 1);
    if (s == XIO_NOT_FOUND) return mustExist ? s : XIO_OK;  // a row never saved has no entry
    if (s != XIO_OK) return s;
    s = xio_del_record(h, kEntryRecord);
    if (s != XIO_OK) xio_unlock_record(h, kEntryRecord);
    return s;
}

// One row as an entry of the current table: a new record, or the stored one replaced.
int SubstitutionMasterFile::WriteRow(const SubstitutionRow& row, std::string_view oldValue, bool asNew) {
    const uint16_t h = H();
    PutEntryKey(oldValue);
    if (!asNew) {
        const int s = xio_rd_record(h, kEntryRecord, 0, 1);
        if (s != XIO_OK) return s;
    }
    PutEntryValues(row);
    const int s = asNew ? xio_wr_record(h, kEntryRecord) : xio_rep_record(h, kEntryRecord);
    if (s != XIO_OK && !asNew) xio_unlock_record(h, kEntryRecord);
    return s;
}

void SubstitutionMasterFile::PutEntryKey(std::string_view oldValue) {
    const uint16_t h = H();
    xio_init_record(h, kEntryRecord);
    PutText(h, kEntryRecord, fields_.fTable, groupName_);
    PutNumber(h, kEntryRecord, fields_.fField, fieldId_);
    PutText(h, kEntryRecord, fields_.fOldVal, oldValue);
}

void SubstitutionMasterFile::PutEntryValues(const SubstitutionRow& row) {
    const uint16_t h = H();
    PutText(h, kEntryRecord, fields_.EntryField(NewValueFieldName(fieldId_)), Utf8Prefix(row.newValue, kValueMax));
    if (ThirdValueFieldName(fieldId_) != nullptr)
        PutText(h, kEntryRecord, fields_.newXOnJ, Utf8Prefix(row.thirdValue, kValueMax));
}

int SubstitutionMasterFile::Save(SubstitutionTable& doc, bool groupRecord) {
    if (!Open()) {
        ui::xw_wr_message(ui::kError, "I/O error occurred during save. Please try 'Save As'");
        return handle_ == 0 ? XIO_NO_FILE : XIO_IO_ERROR;
    }
    // Asked again at each save: the right to write may have been taken away since the editor
    // opened the file, and a write it no longer has would leave its journal behind.
    if (ReadOnly() || !MayWriteNow()) {
        SayNotSaved(UnwritableFailure(), "Save", voice_);
        return XIO_LOCKED;
    }
    const uint16_t h = H();
    const std::string was = groupName_;
    const uint32_t wasAppl = application_;
    const uint16_t wasField = fieldId_;
    SaveFailure failure;
    // Everything below is one write: a save stopped anywhere leaves the table as it was.
    int s = xio_start_writes(h);
    if (s != XIO_OK) {
        EndSave(h, s, failure);
        SayNotSaved(failure, "Save", voice_);
        return s;
    }
    saving_ = "Save";
    const bool current = OpenForEdit(groupName_, static_cast<uint16_t>(application_ + 1), fieldId_, false, doc.oldSize,
                                     doc.thirdWidth != 0 ? 1 : 0, doc.blankValueOption, doc.notFoundOption, false, true);
    saving_ = nullptr;
    if (!current) {
        EndSave(h, kSaveRefused, failure);  // said by OpenForEdit
        BackTo(was, wasAppl, wasField);
        return kSaveRefused;
    }
    // Removed rows first, so that a value removed and typed again is written afresh.
    int n = 0;
    if (s == XIO_OK && doc.removedRows) ui::x_update_task("Freeing deleted disk space");
    for (SubstitutionRow* r = doc.removedRows; r && s == XIO_OK; r = r->next) {
        s = DeleteEntry(groupName_, r->oldValue, false);
        ++n;
        Progress(n, !r->next, [n] { return "Freeing deleted disk space: " + std::to_string(n) + " records deleted"; });
    }
    const bool pending = doc.pendingNewRow && !doc.pendingNewRow->oldValue.empty();
    // Counted, not taken from the row numbers, which wrap past 65535 rows.
    const int total = doc.RowCount() + (pending ? 1 : 0);
    std::vector<SubstitutionRow*> written;
    written.reserve(static_cast<std::size_t>(total));
    if (s == XIO_OK) ui::x_update_task("Saving table to disk");
    SaveProgress progress(total);
    n = 0;
    // New rows are added a run at a time; a changed one is replaced where it comes.
    std::vector<std::pair<SubstitutionRow*, int>> adds;  // with their places in the list
    auto writeAdds = [&] {
        if (s == XIO_OK && !adds.empty())
            s = xio_wr_records(h, kEntryRecord, adds.size(), [&](std::size_t i) {
                const auto [r, at] = adds[i];
                PutEntryKey(Utf8Prefix(r->oldValue, kValueMax));
                PutEntryValues(*r);
                written.push_back(r);
                progress.Row(at);
            });
        adds.clear();
    };
    for (SubstitutionRow* r = doc.firstRow; r && s == XIO_OK; r = r->next) {
        ++n;
        if (!r->modified || r->oldValue.empty()) continue;
        if (r->newEntry != 0) {
            adds.emplace_back(r, n);
            continue;
        }
        writeAdds();
        if (s != XIO_OK) break;
        s = WriteRow(*r, Utf8Prefix(r->oldValue, kValueMax), false);
        written.push_back(r);
        progress.Row(n);
    }
    writeAdds();
    if (s == XIO_OK && pending && doc.pendingNewRow->modified) {
        ++n;
        s = WriteRow(*doc.pendingNewRow, Utf8Prefix(doc.pendingNewRow->oldValue, kValueMax),
                     doc.pendingNewRow->newEntry != 0);
        written.push_back(doc.pendingNewRow);
        progress.Row(n);
    }
    if (s == XIO_OK && groupRecord) s = WriteGroupRecord();
    if (s == XIO_OK) s = WriteLastChoice(true);
    s = EndSave(h, s, failure);
    if (s != XIO_OK) {
        BackTo(was, wasAppl, wasField);
        SayNotSaved(failure, "Save", voice_);
        return s;
    }
    progress.Done();
    for (SubstitutionRow* r : written) r->newEntry = r->modified = 0;
    FreeRemovedRows(doc);
    return XIO_OK;
}

bool SubstitutionMasterFile::SaveAs(std::string_view newName, SubstitutionTable& doc) {
    if (!AcceptGroupName(newName)) return false;
    // Old values are cut to the old size as they are written: two that become equal would
    // stop the write halfway, so they are refused before anything is touched.
    std::vector<SubstitutionRow*> rows = ListRows(doc);
    if (doc.pendingNewRow && !doc.pendingNewRow->oldValue.empty()) rows.push_back(doc.pendingNewRow);
    const std::size_t size = doc.oldSize > 0 ? doc.oldSize : kValueMax;
    std::map<std::string, const SubstitutionRow*> keys;
    for (const SubstitutionRow* r : rows) {
        const std::string key = Upper(CutOldValue(doc.fieldId, r->oldValue, size));
        auto [it, added] = keys.emplace(key, r);
        if (!added) {
            ui::xw_wr_message(ui::kInfo, "Unable to reduce old size because " + it->second->oldValue + " and " +
                                             r->oldValue + " both become " + key + " after doing a Save As.");
            return false;
        }
    }
    if (!Open()) {
        xio_ask_request req;
        req.command = command_;
        req.abbr = kXvmAbbr;
        req.create = true;
        uint16_t h = 0;
        const int s = xio_ask_file(req, h);
        if (s != XIO_OK || h == 0 || !fields_.Resolve(h)) {
            if (s == XIO_OK && h != 0) xio_cls_file(h);
            // The box's own words, then the cause in the program's words and what to do.
            const std::string cause = "\r\r" + SaveFailureDetail(SaveFailureOf(0, s), "Save As");
            if (s == XIO_LOCKED)
                ui::xw_wr_message(ui::kInfo, "The MASTER.XVM File is in use or read only, data not saved." + cause);
            else if (s != XIO_OPTIONAL_ABSENT)
                ui::xw_wr_message(ui::kInfo,
                                  "IO error occurred during save.\r\rIf this error continues, export this table and "
                                  "run Fendrick on the MASTER.XVM file and/or reinstall your XV software" +
                                      cause);
            return false;
        }
        handle_ = h;
    }
    if (ReadOnly() || !MayWriteNow()) {
        SayNotSaved(UnwritableFailure(), "Save As", voice_);
        return false;
    }
    const uint16_t h = H();
    const std::string name(newName);  // never longer than a group name holds (AcceptGroupName)
    xio_init_record(h, kGroupRecord);
    PutText(h, kGroupRecord, fields_.table, name);
    int s = xio_find_record(h, kGroupRecord, 0);
    if (s != XIO_OK && s != XIO_NOT_FOUND) {
        ui::xw_wr_message(ui::kError, "IO error occured, please try again.");
        return false;
    }
    const std::string was = groupName_;
    const uint32_t wasAppl = application_;
    const uint16_t wasField = fieldId_;
    SaveFailure failure;
    // The group record, the table made current and its rows are one write.
    const bool newGroup = s == XIO_NOT_FOUND;
    s = xio_start_writes(h);
    if (s == XIO_OK && newGroup) {
        s = xio_wr_record(h, kGroupRecord);
        if (s == XIO_DUPLICATE) s = XIO_OK;  // another user wrote it meanwhile
    }
    if (s != XIO_OK) {
        EndSave(h, s, failure);
        SayNotSaved(failure, "Save As", voice_);
        return false;
    }
    saving_ = "Save As";
    const bool current = OpenForEdit(name, static_cast<uint16_t>(application_ + 1), fieldId_, false, doc.oldSize,
                                     doc.thirdWidth != 0 ? 1 : 0, doc.blankValueOption, doc.notFoundOption,
                                     name != doc.groupName, true);
    saving_ = nullptr;
    if (!current) {
        EndSave(h, kSaveRefused, failure);  // said by OpenForEdit
        BackTo(was, wasAppl, wasField);
        return false;
    }
    // Every stored entry of the table goes; the document's rows take their place.
    if (s == XIO_OK) ui::x_update_task("Freeing disk space");
    int n = 0;
    std::vector<std::string> stored;
    if (s == XIO_OK) {
        xio_init_record(h, kEntryRecord);
        PutText(h, kEntryRecord, fields_.fTable, groupName_);
        PutNumber(h, kEntryRecord, fields_.fField, fieldId_);
        PutText(h, kEntryRecord, fields_.fOldVal, "");
        int r = xio_rd_ge(h, kEntryRecord, 0, 0);
        for (; r == XIO_OK && IsCurrentEntry(groupName_, fieldId_, fields_.fTable, fields_.fField);
             r = xio_rd_next(h, kEntryRecord, 0, 0))
            stored.push_back(GetText(h, kEntryRecord, fields_.fOldVal));
        if (r != XIO_OK && r != XIO_END && r != XIO_END_OLD) s = r;
    }
    for (const std::string& v : stored) {
        if (s != XIO_OK) break;
        s = DeleteEntry(groupName_, v, true);
        ++n;
        Progress(n, n == static_cast<int>(stored.size()),
                 [n] { return "Freeing disk space: " + std::to_string(n) + " records deleted"; });
    }
    if (s == XIO_OK) ui::x_update_task("Saving table to disk");
    SaveProgress progress(static_cast<int>(rows.size()));
    if (s == XIO_OK)
        s = xio_wr_records(h, kEntryRecord, rows.size(), [&](std::size_t i) {
            const SubstitutionRow* r = rows[i];
            PutEntryKey(CutOldValue(doc.fieldId, r->oldValue, size));
            PutEntryValues(*r);
            progress.Row(static_cast<int>(i) + 1);
        });
    if (s == XIO_OK) s = WriteLastChoice(false);
    s = EndSave(h, s, failure);
    if (s != XIO_OK) {
        BackTo(was, wasAppl, wasField);
        SayNotSaved(failure, "Save As", voice_);
        return false;
    }
    progress.Done();
    // Each row keeps the old value as it was written, so that what the editor shows is what is
    // stored (a GL value's separators do not count against the size).
    for (SubstitutionRow* r : rows) {
        r->oldValue = CutOldValue(doc.fieldId, r->oldValue, size);
        r->newEntry = r->modified = 0;
    }
    FreeRemovedRows(doc);
    return true;
}

// ---- Closing ------------------------------------------------------------------------------

void SubstitutionMasterFile::DeleteEmptyGroup() {
    ReleaseDefinition(false);
    if (!Open() || IsUnnamedGroup(groupName_) || ReadOnly()) return;
    const uint16_t h = H();
    xio_init_record(h, kDefinitionRecord);
    PutText(h, kDefinitionRecord, fields_.dTable, groupName_);
    PutNumber(h, kDefinitionRecord, fields_.dAppl, 0);
    PutNumber(h, kDefinitionRecord, fields_.dField, 0);
    if (xio_rd_ge(h, kDefinitionRecord, 0, 0) == XIO_OK &&
        SameText(GetText(h, kDefinitionRecord, fields_.dTable), groupName_))
        return;
    xio_init_record(h, kGroupRecord);
    PutText(h, kGroupRecord, fields_.table, groupName_);
    if (xio_find_record(h, kGroupRecord, 0) != XIO_OK) return;
    if (ui::xw_wr_message(ui::kYesNo, "Table group " + groupName_ +
                                          " doesn't contain any tables.\r\rDo you want to delete this table group?") !=
        ui::kYes)
        return;
    if (xio_rd_record(h, kGroupRecord, 0, 1) == XIO_OK && xio_del_record(h, kGroupRecord) != XIO_OK)
        xio_unlock_record(h, kGroupRecord);
}

}  // namespace dz::tables
