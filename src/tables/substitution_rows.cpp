#include "tables/substitution_rows.h"

#include "tables/substitution_fields.h"

#include <utility>

namespace dz::tables {

SubstitutionTable::SubstitutionTable(std::string group, uint16_t field, uint32_t appl)
    : groupName(std::move(group)), fieldId(field), application(appl) {
    if (groupName.size() > kGroupNameMax) groupName.resize(kGroupNameMax);
}

SubstitutionTable::~SubstitutionTable() { Clear(); }

static void FreeChain(SubstitutionRow* row) {
    while (row) {
        SubstitutionRow* next = row->next;
        delete row;
        row = next;
    }
}

void SubstitutionTable::Clear() {
    FreeChain(firstRow);
    FreeChain(removedRows);
    delete pendingNewRow;
    firstRow = currentRow = pendingNewRow = removedRows = nullptr;
    nextRowNumber = 1;
}

int SubstitutionTable::RowCount() const {
    int n = 0;
    for (const SubstitutionRow* r = firstRow; r; r = r->next) ++n;
    return n;
}

bool FindRow(const SubstitutionTable& doc, const std::string& value, SubstitutionRow*& found) {
    found = nullptr;
    if (value.empty()) return false;
    for (SubstitutionRow* r = doc.firstRow; r; r = r->next) {
        if (SameText(r->oldValue, value)) {
            found = r;
            return false;
        }
    }
    if (doc.pendingNewRow && SameText(doc.pendingNewRow->oldValue, value)) {
        found = doc.pendingNewRow;
        return false;
    }
    return true;
}

SubstitutionRow* AppendRow(SubstitutionTable& doc) {
    auto* row = new SubstitutionRow;
    SubstitutionRow* current = doc.currentRow;
    if (!doc.firstRow || !current) {
        if (!doc.firstRow) {
            doc.firstRow = doc.currentRow = row;
        } else {
            // No current row in a non-empty list: the row goes last.
            SubstitutionRow* last = doc.firstRow;
            while (last->next) last = last->next;
            last->next = row;
            row->previous = last;
        }
    } else {
        row->next = current;
        row->previous = current->previous;
        if (current->previous)
            current->previous->next = row;
        else
            doc.firstRow = row;
        current->previous = row;
    }
    ++doc.nextRowNumber;
    return row;
}

}  // namespace dz::tables
