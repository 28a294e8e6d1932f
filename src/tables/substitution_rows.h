// The rows of one open substitution table, as the table file object fills and searches them.
// The editor's document grows around this list (grid state, options, commands); what is here
// is what loading, import and prefill rely on.
#pragma once

#include <cstdint>
#include <string>

namespace dz::tables {

// One line of a table: an old value with its new value and, for job and union tables, a third
// value. Rows form a doubly linked list owned by their SubstitutionTable.
struct SubstitutionRow {
    uint8_t newEntry = 0;   // 1 while no entry record exists under the old value
    uint8_t modified = 0;   // 1 while the row must be written at the next save
    int16_t rowNumber = 0;  // 1-based position in the list
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
    uint16_t nextRowNumber = 1;  // rows plus one
    SubstitutionRow* firstRow = nullptr;
    SubstitutionRow* currentRow = nullptr;
    SubstitutionRow* pendingNewRow = nullptr;  // owned; never part of the list
    SubstitutionRow* removedRows = nullptr;    // owned; linked through `next`
};

// True when `value` is not in the table yet. `found` is cleared first. An empty value answers
// false. The list is searched in order, then the pending new row, comparing old values without
// regard to letter case; a match is handed back in `found` and answers false.
bool FindRow(const SubstitutionTable& doc, const std::string& value, SubstitutionRow*& found);

// Links an empty row in just before the current row, so that the current row keeps its place
// after it; before the first row it becomes the first row; into an empty list it becomes the
// first and current row. Returns the new row.
SubstitutionRow* AppendRow(SubstitutionTable& doc);

}  // namespace dz::tables
