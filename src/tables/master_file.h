// SubstitutionMasterFile: the table editor's object on MASTER.XVM, and the record-level
// operations that the editor, the import, the prefill and the conversions build on.
//
// The current table is (group name, application, field id). While a named table is open its
// definition record (record 2) stays locked by this object, across processes: a second program
// that tries to open the same table gets 7. The record-2 buffer of the open handle then holds
// that definition with the option values the caller put into it; ReleaseDefinition writes them
// (or drops the lock, or removes a table left without entries).
//
// Status codes are those of the record service (0 done, 3 no file, 5 disk full, 7 locked,
// 11 not found) plus kRecordUnreadable (14).
#pragma once

#include "platform/ui/next_step.h"
#include "tables/substitution_fields.h"
#include "tables/substitution_rows.h"
#include "tables/xvm_fields.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace dz::ui {
class Panel;
}

namespace dz::tables {

// One table of a group, as the command line lists it.
struct TableSummary {
    uint32_t application = 0;
    uint16_t fieldId = 0;
    uint16_t oldSize = 0;
    uint16_t mapJobToExtra = 0;
    uint16_t blankValueOption = 0;
    uint16_t notFoundOption = 0;
    int entries = 0;
};

// One group with its tables. A group may exist only through its definitions (a group whose
// only tables need no stored widths has no group record until it is saved under a name).
struct GroupSummary {
    std::string name;
    bool hasGroupRecord = false;
    std::vector<TableSummary> tables;
};

class SubstitutionMasterFile {
public:
    // The current group's group record, written when it is missing: a conversion finds a
    // table group by it. XIO_OK or the failing status.
    int WriteGroupRecord();
    // Opens MASTER.XVM by its file code and reads the job-cost options.
    explicit SubstitutionMasterFile(uint16_t command);
    // The same, using `handle` when it is greater than 0.
    SubstitutionMasterFile(uint16_t command, int handle);
    // Uses or opens the file and makes (group, application, field id) the current table; the
    // job-cost options are not read.
    SubstitutionMasterFile(uint16_t command, int handle, std::string_view group, uint32_t application,
                           uint16_t fieldId);
    // The file is not closed here: a second object may work over the same handle. Call Close.
    ~SubstitutionMasterFile() = default;
    SubstitutionMasterFile(const SubstitutionMasterFile&) = delete;
    SubstitutionMasterFile& operator=(const SubstitutionMasterFile&) = delete;

    // Clears the current table; keeps a handle greater than 0, otherwise asks for file code
    // "XVM": 0 keeps the new handle, 3 (no file yet) leaves 0, anything else stores -1.
    void OpenFile(uint16_t command, int handle);
    // Closes the file when the handle is greater than 0 (its locks go with it).
    void Close();

    // The path a conversion opens: MASTER.XVM in the data folder of file code "XVM".
    static std::filesystem::path MasterPath();
    // Opens MASTER.XVM by that path (open mode 1). Status of the open; `handle` 0 on failure.
    static int OpenByPath(uint16_t& handle);

    // True when the file is open and holds at least one group record.
    bool HasGroups();
    // False, after an information box, when the file holds 100 group records or more.
    bool CheckMaxGroups();
    // Number of group records; -1 when the file is not open.
    int CountGroups();

    // Reads the definition (group, application, field id) into the record-2 buffer. Plain mode:
    // the buffer is cleared to the key (DXONJOB 1 for field 46) and the answer is whether the
    // definition exists. Lock mode: the stored definition is read with a lock and the option
    // values the caller had put into the buffer are put back over it. False without file access
    // when the file is not open or the group is unnamed.
    bool ReadDefinition(std::string_view group, uint32_t application, uint16_t fieldId, bool lock);
    // Creates the current table's definition when it is missing and leaves it locked. Arguments
    // are written only when set: old size when not 0, map job to extra below 65535, the two
    // options when not 0. 0 on success; 11 when there is nothing to lock (no file, unnamed
    // group); 7 when another user holds the table; any other code is a failure.
    int WriteDefinition(uint16_t oldSize, uint16_t mapJobToExtra, uint16_t blankValueOption,
                        uint16_t notFoundOption);
    // Gives up the current table: a table without entries loses its definition; otherwise with
    // `save` the locked definition is replaced (with the buffer's option values), without it
    // the lock is released. 0, or the failing code (7 when another user holds the table; then
    // nothing is changed).
    int ReleaseDefinition(bool save);

    // True when the record-3 buffer holds an entry of that group (letter case ignored) and
    // field id.
    bool IsCurrentEntry(std::string_view group, uint16_t fieldId, uint16_t tableFieldNo, uint16_t fieldFieldNo);
    // Reads the entries of (group, field id) in key order into the document's row list, each
    // linked in after the current row. 0, or the record-service code that stopped the reading
    // (the rows read so far stay).
    int LoadRows(std::string_view group, uint16_t fieldId, SubstitutionTable& doc);
    // Writes one entry of the current table: a new record, or (when an entry with that old
    // value exists) the stored entry read with a lock and replaced. Values are cut to 40
    // characters; the third value only goes to tables that have one. 0, or the failing code.
    int WriteEntry(std::string_view oldValue, std::string_view newValue, std::string_view thirdValue = {});

    // The groups of the file in key order with their tables and entry counts.
    int ListGroups(std::vector<GroupSummary>& groups);

    // ---- The editor's operations (application list codes: DAPPL + 1, 1 = none) ----
    // Makes the given table the current one: the previous one is released (written back with
    // the given options when `save`), the new one's definition created if needed and locked.
    // The release and the making (group widths, definition) are one write. On a refusal the
    // previous table is current and locked again and the answer is false.
    bool OpenForEdit(std::string_view group, uint16_t applCode, uint16_t fieldId, bool warn, uint16_t oldSize,
                     uint16_t mapJobToExtra, uint16_t blankValueOption, uint16_t notFoundOption, bool check,
                     bool save);
    // Makes the given table the current one for a command that fills it and then saves it
    // (import, prefill): a table on file is opened as OpenForEdit opens it; one not on file yet
    // passes OpenForEdit's checks but nothing is written or locked: Save makes it (group widths,
    // definition, group record) in the same write as its rows, so that a fill stopped anywhere,
    // or one that keeps no row, leaves no half-made table or group. False after saying why.
    bool OpenToFill(std::string_view group, uint16_t applCode, uint16_t fieldId);
    // Why `group` cannot name a new group (GroupNameRefusal: a control character in it); empty
    // when it can, or when a group is already stored under it.
    std::string RefusedGroupName(std::string_view group);
    // False, after a warning (13481), for a name RefusedGroupName refuses.
    bool AcceptGroupName(std::string_view group);
    // The format warnings and the stored-width check of GL, job and phase tables.
    bool CheckFormat(std::string_view group, uint16_t applCode, uint16_t fieldId, bool warn);
    // Writes the document's rows into the current table, all or nothing: the table made current
    // (its definition and group widths when it is not on file yet), the rows and header 1 are one
    // write. With `groupRecord` the group also gets its group record when it has none, in that
    // write. 0 only when everything was written; every failure answers a non-zero code and leaves
    // the file, the rows and their flags as they were.
    int Save(SubstitutionTable& doc, bool groupRecord = false);
    // Writes every row of the document as the table of group `newName`, all or nothing (the group
    // record and the definition in the same write as the rows); old
    // values are cut to the document's old size (refused first when two rows would then
    // collide). True when written.
    bool SaveAs(std::string_view newName, SubstitutionTable& doc);
    // When the editor closes: releases the open table (deleted when empty) and offers to
    // delete a named group left without tables.
    void DeleteEmptyGroup();
    // Reads header 1: the editor's last choice. False when not readable.
    bool ReadLastChoice(std::string& group, uint16_t& applCode, uint16_t& fieldId);
    // True when (group, application number, field id) has a definition.
    bool HasTable(std::string_view group, uint32_t application, uint16_t fieldId);
    // True when the group has a definition of that application (any field).
    bool HasApplicationTable(std::string_view group, uint32_t application);
    // The stored options of the current table (plain read); false when it has no definition.
    bool ReadOptions(TableSummary& options);
    // The List button of Save As: the groups in a record list, positioned at the first group at
    // or after the text of `field`; a group picked there goes into that field.
    void ListGroups(ui::Panel& panel, int field);
    // Names of the group records in key order.
    std::vector<std::string> GroupNames();
    void set_handle(int handle) { handle_ = handle; }
    // True when the file is open but this user may only read it: the tables are shown, never
    // changed (saves say why and write nothing; opening a table writes and locks nothing).
    bool ReadOnly() const;

    // Whose words a failed save is said in: the editor's (its changes stay in it: choose Save
    // again), or the command line's (its command kept nothing: run the command again).
    void SetVoice(ui::Voice voice) { voice_ = voice; }

    void SetCurrentTable(std::string_view group, uint32_t application, uint16_t fieldId);
    const std::string& groupName() const { return groupName_; }
    uint32_t application() const { return application_; }
    uint16_t fieldId() const { return fieldId_; }
    int handle() const { return handle_; }
    uint16_t command() const { return command_; }
    bool jcTracksExtras() const { return jcTracksExtras_; }
    bool jcUsesCategories() const { return jcUsesCategories_; }
    const XvmFields& fields() const { return fields_; }

private:
    bool Open() const { return handle_ > 0; }
    uint16_t H() const { return static_cast<uint16_t>(handle_); }
    void ReadJcOptions();
    bool ResolveFields();
    void PutDefinitionArgs(uint16_t oldSize, uint16_t mapJobToExtra, uint16_t blankValueOption,
                           uint16_t notFoundOption);
    int WriteGroupWidths();
    bool AnyEntry(std::string_view group, uint16_t fieldId);
    int WriteRow(const SubstitutionRow& row, std::string_view oldValue, bool asNew);
    // The entry record's key (the buffer made afresh), and a row's values.
    void PutEntryKey(std::string_view oldValue);
    void PutEntryValues(const SubstitutionRow& row);
    int DeleteEntry(std::string_view group, const std::string& oldValue, bool mustExist);
    int WriteLastChoice(bool failIfUnreadable);
    // OpenForEdit's checks of a table about to be made current.
    bool PassesOpenChecks(std::string_view group, uint16_t applCode, uint16_t fieldId, bool warn, bool check);
    // After a failed save has dropped its writes: `group`'s table (the one current before the
    // save) is current again and locked when it is on file; nothing is made or written.
    void BackTo(const std::string& group, uint32_t application, uint16_t fieldId);

    std::string groupName_{kNewTableGroup};
    uint32_t application_ = 0;
    uint16_t fieldId_ = 0;
    int handle_ = 0;
    int lockStatus_ = 0;  // status of the last definition read with a lock
    // The save ("Save", "Save As") that makes its table current, while it does: a refusal then
    // is that save's failure, said in its words.
    const char* saving_ = nullptr;
    ui::Voice voice_ = ui::Voice::Desktop;
    uint16_t command_ = 0;
    bool jcTracksExtras_ = true;
    bool jcUsesCategories_ = true;
    XvmFields fields_;
};

}  // namespace dz::tables
