// The layout of MASTER.XVM as the substitution tables use it: its record types, the fixed
// list of applications and field ids a table may belong to, and which entry field carries a
// table's new and third values.
//
// MASTER.XVM holds, besides header 1 (the editor's last choice):
//   record 1  table group       key TABLE                      stored GL/job/phase section widths
//   record 2  table definition  key DTABLE, DAPPL, DFIELD      options of one table
//   record 3  table entry       key FTABLE, FFIELD, FOLDVAL    one old value and its new value(s)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dz::tables {

// The name that stands for a group that was never saved; it is never stored. An empty name
// means the same.
inline constexpr std::string_view kNewTableGroup = "New table group";
inline constexpr std::size_t kGroupNameMax = 80;
// Old, new and third values hold at most 40 characters; lookups cut the text-file value to 40.
inline constexpr std::size_t kValueMax = 40;
// A group file may hold at most this many table groups.
inline constexpr int kMaxGroups = 100;

inline constexpr const char* kXvmAbbr = "XVM";
inline constexpr const char* kXvmFileName = "MASTER.XVM";

inline constexpr uint16_t kGroupRecord = 1;
inline constexpr uint16_t kDefinitionRecord = 2;
inline constexpr uint16_t kEntryRecord = 3;
inline constexpr uint16_t kLastChoiceHeader = 1;

// Our own status: the group record could not be read back after it was written (or a
// definition after it was written).
inline constexpr int kRecordUnreadable = 14;

// Field ids (custom description numbers below 9000; 9001-9004 are parts of a GL account).
inline constexpr uint16_t kFieldGlAccount = 9;
inline constexpr uint16_t kFieldGlPrefixA = 9001;
inline constexpr uint16_t kFieldGlPrefixAB = 9002;
inline constexpr uint16_t kFieldGlPrefixABC = 9003;
inline constexpr uint16_t kFieldGlBase = 9004;
inline constexpr uint16_t kFieldCategory = 12;
inline constexpr uint16_t kFieldExtra = 15;
inline constexpr uint16_t kFieldJob = 16;
inline constexpr uint16_t kFieldPhase = 18;
inline constexpr uint16_t kFieldUnionLocal = 46;
// Custom description of the field that follows a job (15, the extra) or a union (41, the local).
inline constexpr int kExtraFormat = 15;
inline constexpr int kLocalFormat = 41;

// Application numbers (DAPPL).
inline constexpr uint32_t kApplGL = 1;
inline constexpr uint32_t kApplJC = 2;
inline constexpr uint32_t kApplAP = 3;
inline constexpr uint32_t kApplPR = 4;
inline constexpr uint32_t kApplPM = 5;
inline constexpr uint32_t kApplXX = 6;
inline constexpr uint32_t kApplTL = 7;
inline constexpr uint32_t kApplAR = 8;

// A field id that a table may have. `needs` names an application that must also be installed
// for the editor to offer it (empty: none).
struct SubstitutionField {
    uint16_t id = 0;
    std::string_view needs;
};

// One application of the list, in DAPPL order.
struct SubstitutionApplication {
    uint32_t number = 0;     // DAPPL
    std::string_view code;   // the suite's application code ("GL", ...)
    std::string_view name;   // "General Ledger", ...
    std::vector<SubstitutionField> fields;  // in list order
};

// The eight applications with their 52 field ids.
const std::vector<SubstitutionApplication>& SubstitutionApplications();
// The application of that DAPPL number, or null.
const SubstitutionApplication* FindApplication(uint32_t number);
// The DAPPL number whose list holds the field id; 0 when none does.
uint32_t ApplicationOfField(uint16_t fieldId);

// Entry field that carries a table's new value: NEWACCT, NEWPREA, ... , FNEWVAL.
const char* NewValueFieldName(uint16_t fieldId);
// Entry field that carries a table's third value (NEWXONJ for 16 and 46), or null.
const char* ThirdValueFieldName(uint16_t fieldId);

// True for an empty name or "New table group" (in any letter case).
bool IsUnnamedGroup(std::string_view name);
// Why `name` cannot name a new table group: it is longer than a group name holds, or it holds a
// control character, which would act on a terminal wherever the group is named (13481, the name
// and the character shown escaped). Empty when it can.
inline constexpr int kMsgGroupNameControl = 13481;
std::string GroupNameRefusal(std::string_view name);
// Why `name` is too long for a table group name (13700, saying the most it holds: it is never cut
// to fit); empty when it fits. GroupNameRefusal says this first.
inline constexpr int kMsgGroupNameTooLong = 13700;
std::string GroupNameTooLong(std::string_view name);
// Why the default of custom list `list` cannot be a new value of a table whose new values hold
// at most `most` characters (13710, with its length): a new row never takes it cut. Empty when
// it fits.
inline constexpr int kMsgListDefaultTooLong = 13710;
std::string ListDefaultTooLong(std::string_view value, int list, std::size_t most);
// The group name as MASTER.XVM holds it: its first kGroupNameMax characters (not bytes: a name of
// accented letters within the limit is kept whole). Names longer than that are refused before.
std::string StoredGroupName(std::string_view name);
// A new value counts as blank when it is empty or a single space.
bool IsBlankValue(std::string_view value);
// The first 40 characters of a value.
std::string CutValue(std::string_view value);
// Letter-case-blind equality of two texts (key texts of the data files compare this way).
bool SameText(std::string_view a, std::string_view b);

}  // namespace dz::tables
