#include "tables/substitution_rows.h"

#include "tables/substitution_fields.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace dz::tables {

SubstitutionTable::SubstitutionTable(std::string group, uint16_t field, uint32_t appl)
    : groupName(StoredGroupName(group)), fieldId(field), application(appl) {}

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
    delete savedCopy;
    firstRow = currentRow = pendingNewRow = removedRows = savedCopy = nullptr;
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
    if (current == doc.pendingNewRow) current = nullptr;  // the pending row is never in the list
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

// ---- Row order ----------------------------------------------------------------------------

namespace {

bool IsPlainNumber(const std::string& v) {
    if (v.empty() || v[0] < '1' || v[0] > '9') return false;
    return std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int CompareNoCase(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] == b[i]) continue;  // values sorted side by side share long beginnings
        const int x = std::toupper(static_cast<unsigned char>(a[i]));
        const int y = std::toupper(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

void PushRemoved(SubstitutionTable& doc, SubstitutionRow* row) {
    row->previous = nullptr;
    row->next = doc.removedRows;
    doc.removedRows = row;
}

}  // namespace

namespace {

// CompareOldValues with each value's plain-number test already made.
bool Before(bool na, const std::string& a, bool nb, const std::string& b) {
    if (na != nb) return na;
    if (na) return a.size() != b.size() ? a.size() < b.size() : a < b;
    return CompareNoCase(a, b) < 0;
}

}  // namespace

bool CompareOldValues(const std::string& a, const std::string& b) {
    return Before(IsPlainNumber(a), a, IsPlainNumber(b), b);
}

std::vector<SubstitutionRow*> ListRows(const SubstitutionTable& doc) {
    std::vector<SubstitutionRow*> rows;
    for (SubstitutionRow* r = doc.firstRow; r; r = r->next) rows.push_back(r);
    return rows;
}

void RenumberRows(SubstitutionTable& doc) {
    int32_t n = 0;
    for (SubstitutionRow* r = doc.firstRow; r; r = r->next) r->rowNumber = ++n;
    doc.nextRowNumber = static_cast<uint32_t>(n + 1);
}

// A stable sort of the linked rows through a vector: the order of an insertion sort by the
// same comparison, without its quadratic time on large tables.
// Whether a value is a plain number is found once per row, not once per comparison. A list
// made of a few runs already in order (a table read back from its file, rows imported in
// order at its front) is merged instead: the same stable order in linear time.
void SortTableRows(SubstitutionTable& doc) {
    struct Keyed {
        bool number;
        SubstitutionRow* row;
    };
    std::vector<Keyed> keyed;
    for (SubstitutionRow* r = doc.firstRow; r; r = r->next) keyed.push_back({IsPlainNumber(r->oldValue), r});
    const auto before = [](const Keyed& a, const Keyed& b) {
        return Before(a.number, a.row->oldValue, b.number, b.row->oldValue);
    };
    constexpr std::size_t kMergedRuns = 16;
    std::vector<std::size_t> runs{0};  // where each run begins
    for (std::size_t i = 1; i < keyed.size() && runs.size() <= kMergedRuns; ++i)
        if (before(keyed[i], keyed[i - 1])) runs.push_back(i);
    if (runs.size() > kMergedRuns) {
        std::stable_sort(keyed.begin(), keyed.end(), before);
    } else {
        // Neighbouring runs merged pairwise: equal values keep their order.
        runs.push_back(keyed.size());
        while (runs.size() > 2) {
            std::vector<std::size_t> merged;
            std::size_t k = 0;
            for (; k + 2 < runs.size(); k += 2) {
                std::inplace_merge(keyed.begin() + static_cast<std::ptrdiff_t>(runs[k]),
                                   keyed.begin() + static_cast<std::ptrdiff_t>(runs[k + 1]),
                                   keyed.begin() + static_cast<std::ptrdiff_t>(runs[k + 2]), before);
                merged.push_back(runs[k]);
            }
            for (; k < runs.size(); ++k) merged.push_back(runs[k]);
            runs = std::move(merged);
        }
    }
    std::vector<SubstitutionRow*> rows;
    rows.reserve(keyed.size());
    for (const Keyed& k : keyed) rows.push_back(k.row);
    SubstitutionRow* prev = nullptr;
    for (SubstitutionRow* r : rows) {
        r->previous = prev;
        r->next = nullptr;
        if (prev) prev->next = r;
        prev = r;
    }
    doc.firstRow = rows.empty() ? nullptr : rows.front();
    if (doc.currentRow != doc.pendingNewRow && !rows.empty()) doc.currentRow = rows.front();
    RenumberRows(doc);
}

// ---- Row edits ----------------------------------------------------------------------------

std::string TrimBlanks(const std::string& text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t b = 0, e = text.size();
    while (b < e && blank(text[b])) ++b;
    while (e > b && blank(text[e - 1])) --e;
    return text.substr(b, e - b);
}

SubstitutionRow* StartNewRow(SubstitutionTable& doc) {
    if (SubstitutionRow* p = doc.pendingNewRow) {
        SubstitutionRow* last = doc.firstRow;
        while (last && last->next) last = last->next;
        p->previous = last;
        p->next = nullptr;
        if (last)
            last->next = p;
        else
            doc.firstRow = p;
        RenumberRows(doc);
    }
    auto* row = new SubstitutionRow;
    row->newEntry = 1;
    if (doc.hasList) row->newValue = CutValue(doc.listDefault);
    row->rowNumber = static_cast<int32_t>(doc.nextRowNumber);
    doc.pendingNewRow = row;
    doc.currentRow = row;
    return row;
}

void BeginRowEdit(SubstitutionTable& doc, SubstitutionRow* row) {
    doc.modified = true;
    if (!row || doc.savedCopy) return;
    doc.savedCopy = new SubstitutionRow(*row);
    doc.savedCopy->previous = doc.savedCopy->next = nullptr;
}

void CommitRowEdit(SubstitutionTable& doc, SubstitutionRow* row, bool entered) {
    SubstitutionRow* copy = doc.savedCopy;
    doc.savedCopy = nullptr;
    if (!row) {
        delete copy;
        return;
    }
    if (copy && !row->newEntry && copy->oldValue != row->oldValue) {
        // The entry under the previous old value goes at the next save.
        row->newEntry = 1;
        PushRemoved(doc, copy);
    } else {
        delete copy;
    }
    if (!copy) return;
    if (row != doc.pendingNewRow || entered) row->modified = 1;
}

void CancelRowEdit(SubstitutionTable& doc, SubstitutionRow* row) {
    SubstitutionRow* copy = doc.savedCopy;
    if (!copy || !row) return;
    doc.savedCopy = nullptr;
    if (row == doc.pendingNewRow) {
        delete copy;
        delete doc.pendingNewRow;
        doc.pendingNewRow = nullptr;
        StartNewRow(doc);
        return;
    }
    row->oldValue = copy->oldValue;
    row->newValue = copy->newValue;
    row->thirdValue = copy->thirdValue;
    row->newEntry = copy->newEntry;
    row->modified = copy->modified;
    delete copy;
}

void RemoveRow(SubstitutionTable& doc, SubstitutionRow* row) {
    if (!row || row == doc.pendingNewRow) return;
    doc.modified = true;
    if (doc.savedCopy) {
        // The saved copy knows the old value the stored entry has.
        row->oldValue = doc.savedCopy->oldValue;
        row->newEntry = doc.savedCopy->newEntry;
        delete doc.savedCopy;
        doc.savedCopy = nullptr;
    }
    SubstitutionRow* after = row->next ? row->next : (doc.pendingNewRow ? doc.pendingNewRow : row->previous);
    if (row->previous) row->previous->next = row->next;
    else doc.firstRow = row->next;
    if (row->next) row->next->previous = row->previous;
    if (doc.currentRow == row) doc.currentRow = after;
    if (row->newEntry)
        delete row;  // never stored: nothing to delete on file
    else
        PushRemoved(doc, row);
    RenumberRows(doc);
}

void RemoveAllRows(SubstitutionTable& doc) {
    doc.modified = true;
    delete doc.savedCopy;
    doc.savedCopy = nullptr;
    for (SubstitutionRow* r = doc.firstRow; r;) {
        SubstitutionRow* next = r->next;
        if (r->newEntry) delete r;
        else PushRemoved(doc, r);
        r = next;
    }
    doc.firstRow = nullptr;
    delete doc.pendingNewRow;
    doc.pendingNewRow = nullptr;
    doc.currentRow = nullptr;
    doc.nextRowNumber = 1;
}

void FreeRemovedRows(SubstitutionTable& doc) {
    FreeChain(doc.removedRows);
    doc.removedRows = nullptr;
}

bool HasSomethingToSave(const SubstitutionTable& doc) {
    return (doc.firstRow && !doc.firstRow->oldValue.empty()) ||
           (doc.pendingNewRow && !doc.pendingNewRow->oldValue.empty()) || doc.modified;
}

}  // namespace dz::tables
