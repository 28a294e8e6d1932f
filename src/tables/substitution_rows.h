// The document of one open substitution table: its rows, its options and the row edits the
// editor makes. It works with or without a grid attached: the command line loads, changes,
// sorts and saves it headless; the editor drives it from the grid (see table_editor.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dz::tables {

// One line of a table: an old value with its new value and, for job and union tables, a third
// value. Rows form a doubly linked list owned by their SubstitutionTable.
struct SubstitutionRow {
    uint8_t newEntry = 0;   // 1 while no entry record exists under the old value
    uint8_t modified = 0;   // 1 while the row must be written at the next save
    int32_t rowNumber = 0;  // 1-based position in the list (a table may hold more than 65,535)
    std::string oldValue;   // at most 40 characters each
    std::string newValue;
    std::string thirdValue;
    SubstitutionRow* previous = nullptr;
    SubstitutionRow* next = nullptr;
};

// The document of one open table: its row list, the current row, the line being typed (not yet
// in the list) and the rows removed since the last save.
class SubstitutionTable {
public:
    SubstitutionTable() = default;
    SubstitutionTable(std::string group, uint16_t fieldId, uint32_t application);
    ~SubstitutionTable();
    SubstitutionTable(const SubstitutionTable&) = delete;
    SubstitutionTable& operator=(const SubstitutionTable&) = delete;

    // Frees every row, the pending new row and the removed rows.
    void Clear();
    // Number of rows in the list (the pending new row and removed rows not counted).
    int RowCount() const;

    std::string groupName;
    uint16_t fieldId = 0;
    uint32_t application = 0;
    int masterHandle = 0;        // MASTER.XVM's handle, 0 when not open
    int payrollHandle = 0;       // the payroll system file for list lookups, 0 when not open
    bool hasList = false;        // the new value is picked from the field's custom list
    std::string listDefault;     // that list's default value; empty when it does not fit
    std::string listDefaultRefusal;  // why the list's default does not fit a new value; empty when it does
    uint32_t nextRowNumber = 1;  // rows plus one
    uint16_t oldSize = 0;        // longest old value, 1 to 40
    uint16_t newWidth = 0;       // width of the new value's format
    uint16_t thirdWidth = 0;     // width of the third value; 0 = no third column
    uint16_t blankValueOption = 1;
    uint16_t notFoundOption = 1;
    bool modified = false;       // unsaved changes
    SubstitutionRow* firstRow = nullptr;
    SubstitutionRow* currentRow = nullptr;
    SubstitutionRow* pendingNewRow = nullptr;  // owned; never part of the list
    SubstitutionRow* removedRows = nullptr;    // owned; linked through `next`
    SubstitutionRow* savedCopy = nullptr;      // owned; the row as it was when its edit began
};

// ---- Row order ----------------------------------------------------------------------------
// True when old value `a` sorts before `b`: plain numbers (a digit 1-9 then digits) first, by
// value; then every other value without regard to letter case.
bool CompareOldValues(const std::string& a, const std::string& b);
// Sorts the list by CompareOldValues (equal values keep their order), renumbers the rows
// 1..n and sets the next row number to n + 1. The pending new row stays apart.
void SortTableRows(SubstitutionTable& doc);
// Renumbers the rows 1..n; the next row number becomes n + 1.
void RenumberRows(SubstitutionTable& doc);
// The rows of the list in order.
std::vector<SubstitutionRow*> ListRows(const SubstitutionTable& doc);

// ---- Row edits ----------------------------------------------------------------------------
// Leading and trailing blanks and tabs removed; those inside stay.
std::string TrimBlanks(const std::string& text);
// The pending new row, if any, joins the list at its end; a fresh zeroed pending row (new
// entry set; a list field's new value starts as the list default) becomes current.
SubstitutionRow* StartNewRow(SubstitutionTable& doc);
// The first key in a row: marks the table modified and keeps a copy of the row as it was.
void BeginRowEdit(SubstitutionTable& doc, SubstitutionRow* row);
// The cursor leaves a changed row: a saved row whose old value changed becomes new and its
// previous old value waits in the removed rows for the next save. `entered`: the pending row
// was entered (only then is its modified flag set).
void CommitRowEdit(SubstitutionTable& doc, SubstitutionRow* row, bool entered = true);
// Restores an existing row from its saved copy; on the pending new row, drops it and starts
// a fresh one. Nothing without an edit in progress.
void CancelRowEdit(SubstitutionTable& doc, SubstitutionRow* row);
// Unlinks a row of the list and keeps it in the removed rows (its entry is deleted at the
// next save); the rows are renumbered. Marks the table modified.
void RemoveRow(SubstitutionTable& doc, SubstitutionRow* row);
// Moves every row and the pending row to the removed rows. Marks the table modified.
void RemoveAllRows(SubstitutionTable& doc);
// Frees the removed rows (after a save deleted their entries).
void FreeRemovedRows(SubstitutionTable& doc);
// True when the first row or the pending new row has an old value, or the table is modified:
// the condition under which a save does anything.
bool HasSomethingToSave(const SubstitutionTable& doc);

// True when `value` is not in the table yet. `found` is cleared first. An empty value answers
// false. The list is searched in order, then the pending new row, comparing old values without
// regard to letter case; a match is handed back in `found` and answers false.
bool FindRow(const SubstitutionTable& doc, const std::string& value, SubstitutionRow*& found);

// Links an empty row in just before the current row, so that the current row keeps its place
// after it; before the first row it becomes the first row; into an empty list it becomes the
// first and current row. Returns the new row.
SubstitutionRow* AppendRow(SubstitutionTable& doc);

}  // namespace dz::tables
