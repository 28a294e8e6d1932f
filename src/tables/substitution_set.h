// The substitution set of one text file: the table definitions of the run's table group, and
// the callback SubstituteValue that the import calls for each field value it reads.
//
// How a record loop uses it (one set per text file, destroyed when the file is done):
//
//     dz::tables::SubstitutionSet set(command, tableName, recordMessages);
//     if (!tableName.empty()) {
//         if (!set.IsLoaded())   // no MASTER.XVM, or no such group in it
//             return EndFile(dz::tables::SubstitutionSet::LoadFailureText(tableName));  // 12015
//         import.xvlSetSubstitutionCB(&dz::tables::SubstituteValue, &set);
//     }
//
// Warnings (12071, 12072 under option 2) are appended to `recordMessages`, which the loop
// prints with the record and clears before the next one. A refusal (option 3) answers false
// with the text in the reject message. A job (field 16) or union (field 46) mapped to a new
// value and a new extra leaves the extra as the pending extra, which the job-cost master
// conversion reads after the record and then clears (ClearPendingExtra).
#pragma once

#include "tables/xvm_fields.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dz::tables {

// One table of the loaded group. All zero when a lookup finds none.
struct TableDefinition {
    uint16_t fieldId = 0;
    uint16_t blankValueOption = 0;  // DNEWBLK: 2 warn, 3 reject, other keep silently
    uint16_t notFoundOption = 0;    // DNOEXST: the same for an old value not in the table
    uint8_t mapJobToExtra = 0;      // 1 when DXONJOB is not 0
};

// The extra that a job or union substitution mapped, with where it came from.
struct PendingExtra {
    uint16_t fieldNumber = 0;  // number of the substituted field in its data file
    int32_t startLine = 0;     // text-file line at which the record starts
    std::string value;         // at most 40 characters; empty = nothing pending
};

class SubstitutionSet {
public:
    // Loads the definitions of `group` when it is not empty. `messages` is the record's message
    // list; it must outlive the set.
    SubstitutionSet(uint16_t command, std::string group, std::vector<std::string>& messages);
    ~SubstitutionSet();
    SubstitutionSet(const SubstitutionSet&) = delete;
    SubstitutionSet& operator=(const SubstitutionSet&) = delete;

    // Opens MASTER.XVM by path and reads the group's definitions. The group must exist (a
    // group record or at least one definition); otherwise the file is closed again and the
    // handle stays 0. True when loaded.
    bool LoadDefinitions();
    // The definition for a field id and section (GL parts map to 9001-9004); empty when none.
    TableDefinition FindDefinition(int fieldId, int section) const;

    // Handle of the open MASTER.XVM; 0 when not open.
    uint16_t handle() const { return handle_; }
    bool IsLoaded() const { return handle_ != 0; }
    const std::string& groupName() const { return group_; }
    const std::vector<TableDefinition>& definitions() const { return definitions_; }
    std::vector<std::string>& messages() { return messages_; }

    const PendingExtra& pendingExtra() const { return pending_; }
    // True, with the extra, when an extra is pending for that record start line and field.
    bool PendingExtraFor(int32_t startLine, uint16_t fieldNumber, std::string& extra) const;
    void SetPendingExtra(uint16_t fieldNumber, int32_t startLine, std::string_view value);
    void ClearPendingExtra() { pending_ = PendingExtra{}; }

    // Reads the entry (group, field id, old value cut to 40) without a lock; true when found.
    bool LookUp(uint16_t fieldId, std::string_view oldValue);
    // A text field of the entry last found ("NEWACCT", ...).
    std::string EntryText(const char* fieldName) const;

    // 12015 naming the group: the text a record loop ends the file with.
    static std::string LoadFailureText(std::string_view group);

private:
    uint16_t handle_ = 0;
    uint16_t command_ = 0;
    std::string group_;
    std::vector<TableDefinition> definitions_;
    std::vector<std::string>& messages_;
    PendingExtra pending_;
    XvmFields fields_;
};

// The import's substitution callback; `ctx` is the SubstitutionSet. True = go on with the
// record, false = refuse it with `rejectMsg` as the reason.
bool SubstituteValue(std::string& value, int16_t fieldId, int16_t section, int16_t dataFileHandle,
                     int16_t fieldNo, std::string& rejectMsg, int32_t startLine, void* ctx);

// The GL kind of a group: when its first definition is a GL table, `section` becomes that
// table's section (0, 1, 9, 10 or 7) and `fieldName` its new-value field.
void GlPrefixFieldName(const SubstitutionSet& set, int& section, std::string& fieldName);
// Section `section` of an account, formatted again when the account came in formatted.
std::string GetAccountSection(std::string_view account, int section);
// Puts `part` in place of section 1, 9, 10 or 7 of `account` (any other section: `part`
// becomes the whole account); the result is formatted as a whole account.
void SetAccountSection(int section, std::string_view part, std::string& account);
// Puts a mapped extra into the field that follows a job (description 15) or union (41) field
// of the data file's current record, cut to that description's width.
void PutFieldTruncated(int16_t dataFileHandle, std::string_view extra, int16_t fieldId, int16_t fieldNo);

}  // namespace dz::tables
