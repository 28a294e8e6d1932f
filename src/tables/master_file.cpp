#include "tables/master_file.h"

#include "platform/datafile/xio.h"
#include "platform/suite/control.h"
#include "platform/suite/xk.h"
#include "platform/ui/ui.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace dz::tables {

namespace {

constexpr uint16_t kLeaveAsItIs = 65535;

}  // namespace

// ---- Opening ----------------------------------------------------------------------------------

SubstitutionMasterFile::SubstitutionMasterFile(uint16_t command) : SubstitutionMasterFile(command, 0) {}

SubstitutionMasterFile::SubstitutionMasterFile(uint16_t command, int handle) {
    OpenFile(command, handle);
    ReadJcOptions();
}

SubstitutionMasterFile::SubstitutionMasterFile(uint16_t command, int handle, std::string_view group,
                                               uint32_t application, uint16_t fieldId) {
    OpenFile(command, handle);
    SetCurrentTable(group, application, fieldId);
}

void SubstitutionMasterFile::OpenFile(uint16_t command, int handle) {
    command_ = command;
    groupName_.clear();
    application_ = 0;
    fieldId_ = 0;
    if (handle > 0) {
        handle_ = handle;
    } else {
        xio_ask_request req;
        req.command = command;
        req.abbr = kXvmAbbr;
        uint16_t h = 0;
        int status = xio_ask_file(req, h);
        if (status == XIO_OK && h != 0)
            handle_ = h;
        else if (status == XIO_NO_FILE)
            handle_ = 0;
        else
            handle_ = -1;
    }
    if (handle_ > 0 && !ResolveFields()) {
        // Not a table file: treat it like a file that could not be opened.
        if (handle <= 0) xio_cls_file(H());
        handle_ = -1;
    }
}

bool SubstitutionMasterFile::ResolveFields() { return fields_.Resolve(H()); }

bool SubstitutionMasterFile::ReadOnly() const { return Open() && xio_is_read_only(H()); }

void SubstitutionMasterFile::Close() {
    if (Open()) xio_cls_file(H());
    handle_ = 0;
}

std::filesystem::path SubstitutionMasterFile::MasterPath() {
    std::string dir = suite::xc_get_file_control_def(kXvmAbbr).string();
    if (dir.empty()) return {};
    if (dir.back() != '/' && dir.back() != '\\') dir += '/';
    return std::filesystem::path(dir + kXvmFileName);
}

int SubstitutionMasterFile::OpenByPath(uint16_t& handle) {
    handle = 0;
    const std::filesystem::path path = MasterPath();
    if (path.empty()) return XIO_NO_FILE;
    int status = xio_open_file(path, 1, handle);
    if (status != XIO_OK) handle = 0;
    return status;
}

// Job-cost options decide whether the extra (15) and category (12) fields are offered. Both
// stay on when the job-cost master file cannot be read.
void SubstitutionMasterFile::ReadJcOptions() {
    jcTracksExtras_ = true;
    jcUsesCategories_ = true;
    std::string name;
    if (!suite::xa_get_zq_nam("JCM", name)) return;
    xio_ask_request req;
    req.command = command_;
    req.abbr = "JCM";
    uint16_t jc = 0;
    if (xio_ask_file(req, jc) != XIO_OK || jc == 0) return;
    if (xio_rd_header(jc, 2, 0) == XIO_OK) {
        uint16_t track = xio_num(jc, XIO_NUM_HEADER, 2, "PTRACKX");
        uint16_t cat = xio_num(jc, XIO_NUM_HEADER, 2, "CCATUSG");
        if (track != 0 && cat != 0) {
            jcTracksExtras_ = GetNumber(jc, 0, track) == 2;
            jcUsesCategories_ = GetNumber(jc, 0, cat) != 2;
        }
        xio_free_header(jc, 2);
    }
    xio_cls_file(jc);
}

void SubstitutionMasterFile::SetCurrentTable(std::string_view group, uint32_t application, uint16_t fieldId) {
    groupName_ = StoredGroupName(group);
    application_ = application;
    fieldId_ = fieldId;
}

// ---- Groups -----------------------------------------------------------------------------------

bool SubstitutionMasterFile::HasGroups() {
    if (!Open()) return false;
    return xio_rd_first(H(), kGroupRecord, 0, 0) == XIO_OK;
}

int SubstitutionMasterFile::CountGroups() {
    if (!Open()) return -1;
    int n = 0;
    for (int s = xio_rd_first(H(), kGroupRecord, 0, 0); s == XIO_OK; s = xio_rd_next(H(), kGroupRecord, 0, 0)) ++n;
    return n;
}

bool SubstitutionMasterFile::CheckMaxGroups() {
    if (!Open()) return true;
    if (CountGroups() > kMaxGroups - 1) {
        ui::xw_wr_message(ui::kInfo,
                          "The maximum number of tables allowed is exceeded. You must delete an existing table "
                          "type before you may create a new one.");
        return false;
    }
    return true;
}

// ---- Definitions ------------------------------------------------------------------------------

bool SubstitutionMasterFile::ReadDefinition(std::string_view group, uint32_t application, uint16_t fieldId,
                                            bool lock) {
    if (!Open() || IsUnnamedGroup(group)) return false;
    const uint16_t h = H();
    const std::string name = StoredGroupName(group);
    if (!lock) {
        xio_init_record(h, kDefinitionRecord);
        PutNumber(h, kDefinitionRecord, fields_.dXOnJob, fieldId == kFieldUnionLocal ? 1 : 0);
        PutText(h, kDefinitionRecord, fields_.dTable, name);
        PutNumber(h, kDefinitionRecord, fields_.dAppl, application);
        PutNumber(h, kDefinitionRecord, fields_.dField, fieldId);
        return xio_find_record(h, kDefinitionRecord, 0) == XIO_OK;
    }
    // The buffer carries the option values the caller wants written; keep them across the read.
    const double oldSize = GetNumber(h, kDefinitionRecord, fields_.dOldSiz);
    const double xOnJob = GetNumber(h, kDefinitionRecord, fields_.dXOnJob);
    const double newBlk = GetNumber(h, kDefinitionRecord, fields_.dNewBlk);
    const double noExst = GetNumber(h, kDefinitionRecord, fields_.dNoExst);
    PutText(h, kDefinitionRecord, fields_.dTable, name);
    PutNumber(h, kDefinitionRecord, fields_.dAppl, application);
    PutNumber(h, kDefinitionRecord, fields_.dField, fieldId);
    const bool found = xio_find_record(h, kDefinitionRecord, 0) == XIO_OK;
    lockStatus_ = xio_rd_record(h, kDefinitionRecord, 0, 1);
    PutNumber(h, kDefinitionRecord, fields_.dOldSiz, oldSize);
    PutNumber(h, kDefinitionRecord, fields_.dXOnJob, xOnJob);
    PutNumber(h, kDefinitionRecord, fields_.dNewBlk, newBlk);
    PutNumber(h, kDefinitionRecord, fields_.dNoExst, noExst);
    return found;
}

void SubstitutionMasterFile::PutDefinitionArgs(uint16_t oldSize, uint16_t mapJobToExtra, uint16_t blankValueOption,
                                               uint16_t notFoundOption) {
    const uint16_t h = H();
    if (oldSize != 0) PutNumber(h, kDefinitionRecord, fields_.dOldSiz, oldSize);
    if (mapJobToExtra < kLeaveAsItIs) PutNumber(h, kDefinitionRecord, fields_.dXOnJob, mapJobToExtra);
    if (blankValueOption != 0) PutNumber(h, kDefinitionRecord, fields_.dNewBlk, blankValueOption);
    if (notFoundOption != 0) PutNumber(h, kDefinitionRecord, fields_.dNoExst, notFoundOption);
}

// Records, in the group record, the section widths of the format the new table's values
// follow, so that a later change of the format is noticed when the table is opened again.
int SubstitutionMasterFile::WriteGroupRecord() {
    const uint16_t h = H();
    xio_init_record(h, kGroupRecord);
    PutText(h, kGroupRecord, fields_.table, groupName_);
    if (xio_find_record(h, kGroupRecord, 0) == XIO_OK) return XIO_OK;
    const int s = xio_wr_record(h, kGroupRecord);
    return s == XIO_DUPLICATE ? XIO_OK : s;  // another program wrote it meanwhile
}

int SubstitutionMasterFile::WriteGroupWidths() {
    const uint16_t h = H();
    if (int s = WriteGroupRecord(); s != XIO_OK) return s;
    int s = xio_rd_record(h, kGroupRecord, 0, 1);
    if (s == XIO_NOT_FOUND) return kRecordUnreadable;
    if (s != XIO_OK) return s;
    auto put = [&](uint16_t fld, int fmt, int section) {
        PutNumber(h, kGroupRecord, fld, suite::xk_width(fmt, section));
    };
    if (application_ == kApplGL) {
        put(fields_.taLen, suite::kGlAccountFormat, 1);
        put(fields_.tbLen, suite::kGlAccountFormat, 2);
        put(fields_.tcLen, suite::kGlAccountFormat, 3);
        put(fields_.tbsLen, suite::kGlAccountFormat, 4);
        put(fields_.tsufLen, suite::kGlAccountFormat, 5);
    } else if (fieldId_ == kFieldJob) {
        put(fields_.tj1Len, suite::kJobFormat, 1);
        put(fields_.tj2Len, suite::kJobFormat, 2);
        put(fields_.tj3Len, suite::kJobFormat, 3);
    } else {
        put(fields_.tp1Len, suite::kPhaseFormat, 1);
        put(fields_.tp2Len, suite::kPhaseFormat, 2);
        put(fields_.tp3Len, suite::kPhaseFormat, 3);
        put(fields_.tp4Len, suite::kPhaseFormat, 4);
    }
    s = xio_rep_record(h, kGroupRecord);
    if (s != XIO_OK) xio_unlock_record(h, kGroupRecord);
    return s;
}

int SubstitutionMasterFile::WriteDefinition(uint16_t oldSize, uint16_t mapJobToExtra, uint16_t blankValueOption,
                                            uint16_t notFoundOption) {
    if (!Open() || IsUnnamedGroup(groupName_)) return XIO_NOT_FOUND;
    const uint16_t h = H();
    if (ReadOnly()) {
        // A reader's look: the table as stored, or none; nothing is made, nothing locked.
        if (!ReadDefinition(groupName_, application_, fieldId_, false)) return XIO_NOT_FOUND;
        const int s = xio_rd_record(h, kDefinitionRecord, 0, 0);
        return s == XIO_OK ? XIO_OK : s == XIO_NOT_FOUND ? kRecordUnreadable : s;
    }
    if (!ReadDefinition(groupName_, application_, fieldId_, false)) {
        if (application_ == kApplGL || fieldId_ == kFieldJob || fieldId_ == kFieldPhase) {
            // The widths are rewritten before the definition exists; the group record's
            // buffer is separate, so the key in the record-2 buffer survives.
            if (int s = WriteGroupWidths(); s != XIO_OK) return s;
        }
        PutDefinitionArgs(oldSize, mapJobToExtra, blankValueOption, notFoundOption);
        // A failed write must not pass for "nothing to lock" (11) below.
        int s = xio_wr_record(h, kDefinitionRecord);
        if (s != XIO_OK && s != XIO_DUPLICATE) return s;
    }
    int s = xio_rd_record(h, kDefinitionRecord, 0, 1);
    if (s == XIO_NOT_FOUND) return kRecordUnreadable;  // removed by another program meanwhile
    if (s != XIO_OK) return s;
    PutDefinitionArgs(oldSize, mapJobToExtra, blankValueOption, notFoundOption);
    return XIO_OK;
}

bool SubstitutionMasterFile::AnyEntry(std::string_view group, uint16_t fieldId) {
    const uint16_t h = H();
    xio_init_record(h, kEntryRecord);
    PutText(h, kEntryRecord, fields_.fTable, group);
    PutNumber(h, kEntryRecord, fields_.fField, fieldId);
    PutText(h, kEntryRecord, fields_.fOldVal, "");
    if (xio_rd_ge(h, kEntryRecord, 0, 0) != XIO_OK) return false;
    return IsCurrentEntry(group, fieldId, fields_.fTable, fields_.fField);
}

int SubstitutionMasterFile::ReleaseDefinition(bool save) {
    if (!Open() || IsUnnamedGroup(groupName_) || ReadOnly()) return XIO_OK;  // a reader holds no lock
    if (!ReadDefinition(groupName_, application_, fieldId_, true)) return XIO_OK;
    // Without the lock the record current on this handle is not this table's definition (or
    // another user holds it): deleting or replacing "the current record" would hit the wrong one.
    if (lockStatus_ != XIO_OK) return lockStatus_;
    const uint16_t h = H();
    int s;
    if (!AnyEntry(groupName_, fieldId_)) {
        s = xio_del_record(h, kDefinitionRecord);
    } else if (save) {
        s = xio_rep_record(h, kDefinitionRecord);
    } else {
        return xio_unlock_record(h, kDefinitionRecord);
    }
    if (s != XIO_OK) xio_unlock_record(h, kDefinitionRecord);
    return s;
}

// ---- Entries ----------------------------------------------------------------------------------

bool SubstitutionMasterFile::IsCurrentEntry(std::string_view group, uint16_t fieldId, uint16_t tableFieldNo,
                                            uint16_t fieldFieldNo) {
    if (!Open()) return false;
    const uint16_t h = H();
    return SameText(GetText(h, kEntryRecord, tableFieldNo), group) &&
           static_cast<uint16_t>(GetCount(h, kEntryRecord, fieldFieldNo)) == fieldId;
}

int SubstitutionMasterFile::LoadRows(std::string_view group, uint16_t fieldId, SubstitutionTable& doc) {
    if (!Open()) return XIO_OK;
    const uint16_t h = H();
    const uint16_t newField = fields_.EntryField(NewValueFieldName(fieldId));
    const char* third = ThirdValueFieldName(fieldId);
    xio_init_record(h, kEntryRecord);
    PutText(h, kEntryRecord, fields_.fTable, group);
    PutNumber(h, kEntryRecord, fields_.fField, fieldId);
    PutText(h, kEntryRecord, fields_.fOldVal, "");
    xio_begin_reads(h);  // one read lock for the whole table
    int s = xio_rd_ge(h, kEntryRecord, 0, 0);
    for (; s == XIO_OK && IsCurrentEntry(group, fieldId, fields_.fTable, fields_.fField);
         s = xio_rd_next(h, kEntryRecord, 0, 0)) {
        auto* row = new SubstitutionRow;
        row->oldValue = CutValue(GetText(h, kEntryRecord, fields_.fOldVal));
        row->newValue = CutValue(GetText(h, kEntryRecord, newField));
        row->thirdValue = third ? CutValue(GetText(h, kEntryRecord, fields_.newXOnJ)) : std::string();
        SubstitutionRow* cur = doc.currentRow;
        if (!cur) {
            // An empty list (or no cursor): the row goes to the end of the list.
            SubstitutionRow* last = doc.firstRow;
            while (last && last->next) last = last->next;
            row->previous = last;
            if (last)
                last->next = row;
            else
                doc.firstRow = row;
        } else {
            row->previous = cur;
            row->next = cur->next;
            if (cur->next) cur->next->previous = row;
            cur->next = row;
        }
        doc.currentRow = row;
        ++doc.nextRowNumber;
    }
    xio_end_reads(h);
    return (s == XIO_OK || s == XIO_END || s == XIO_END_OLD) ? XIO_OK : s;
}

int SubstitutionMasterFile::WriteEntry(std::string_view oldValue, std::string_view newValue,
                                       std::string_view thirdValue) {
    if (!Open()) return XIO_NO_FILE;
    if (IsUnnamedGroup(groupName_) || oldValue.empty()) return XIO_BAD_CALL;
    const uint16_t h = H();
    const uint16_t newField = fields_.EntryField(NewValueFieldName(fieldId_));
    const char* third = ThirdValueFieldName(fieldId_);
    xio_init_record(h, kEntryRecord);
    PutText(h, kEntryRecord, fields_.fTable, groupName_);
    PutNumber(h, kEntryRecord, fields_.fField, fieldId_);
    PutText(h, kEntryRecord, fields_.fOldVal, CutValue(oldValue));
    int s = xio_rd_record(h, kEntryRecord, 0, 1);
    const bool exists = s == XIO_OK;
    if (!exists && s != XIO_NOT_FOUND) return s;
    PutText(h, kEntryRecord, newField, CutValue(newValue));
    if (third) PutText(h, kEntryRecord, fields_.newXOnJ, CutValue(thirdValue));
    s = exists ? xio_rep_record(h, kEntryRecord) : xio_wr_record(h, kEntryRecord);
    if (s != XIO_OK && exists) xio_unlock_record(h, kEntryRecord);
    return s;
}

// ---- Listing ----------------------------------------------------------------------------------

int SubstitutionMasterFile::ListGroups(std::vector<GroupSummary>& groups) {
    groups.clear();
    if (!Open()) return handle_ == 0 ? XIO_NO_FILE : XIO_IO_ERROR;
    const uint16_t h = H();
    // Every walk below in one read transaction: a group of many entries is read under one
    // read lock, not one per entry.
    struct Reads {
        uint16_t h;
        ~Reads() { xio_end_reads(h); }
    } reads{h};
    xio_begin_reads(h);
    auto group = [&](const std::string& name) -> GroupSummary& {
        for (auto& g : groups)
            if (SameText(g.name, name)) return g;
        groups.push_back(GroupSummary{name, false, {}});
        return groups.back();
    };
    int s = xio_rd_first(h, kGroupRecord, 0, 0);
    for (; s == XIO_OK; s = xio_rd_next(h, kGroupRecord, 0, 0))
        group(GetText(h, kGroupRecord, fields_.table)).hasGroupRecord = true;
    if (s != XIO_END && s != XIO_END_OLD) return s;
    s = xio_rd_first(h, kDefinitionRecord, 0, 0);
    for (; s == XIO_OK; s = xio_rd_next(h, kDefinitionRecord, 0, 0)) {
        TableSummary t;
        t.application = GetCount(h, kDefinitionRecord, fields_.dAppl, 0xFFFFFFFFu);
        t.fieldId = static_cast<uint16_t>(GetCount(h, kDefinitionRecord, fields_.dField));
        t.oldSize = static_cast<uint16_t>(GetCount(h, kDefinitionRecord, fields_.dOldSiz, kValueMax));
        t.mapJobToExtra = static_cast<uint16_t>(GetCount(h, kDefinitionRecord, fields_.dXOnJob));
        t.blankValueOption = static_cast<uint16_t>(GetCount(h, kDefinitionRecord, fields_.dNewBlk));
        t.notFoundOption = static_cast<uint16_t>(GetCount(h, kDefinitionRecord, fields_.dNoExst));
        group(GetText(h, kDefinitionRecord, fields_.dTable)).tables.push_back(t);
    }
    if (s != XIO_END && s != XIO_END_OLD) return s;
    // Entries are counted in a second pass: walking record 3 leaves the record-2 walk alone,
    // but keeping the passes apart keeps each walk's cursor simple.
    for (auto& g : groups) {
        for (auto& t : g.tables) {
            xio_init_record(h, kEntryRecord);
            PutText(h, kEntryRecord, fields_.fTable, g.name);
            PutNumber(h, kEntryRecord, fields_.fField, t.fieldId);
            PutText(h, kEntryRecord, fields_.fOldVal, "");
            s = xio_rd_ge(h, kEntryRecord, 0, 0);
            for (; s == XIO_OK && IsCurrentEntry(g.name, t.fieldId, fields_.fTable, fields_.fField);
                 s = xio_rd_next(h, kEntryRecord, 0, 0))
                ++t.entries;
            if (s != XIO_OK && s != XIO_END && s != XIO_END_OLD) return s;
        }
    }
    // Groups in key order (letter case ignored), as the group records are.
    std::stable_sort(groups.begin(), groups.end(), [](const GroupSummary& a, const GroupSummary& b) {
        std::string x = a.name, y = b.name;
        for (auto& c : x) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (auto& c : y) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return x < y;
    });
    return XIO_OK;
}

}  // namespace dz::tables
