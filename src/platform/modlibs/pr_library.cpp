// Our PR module library's entries: the payroll system file and the record pickers over it.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "platform/datafile/xio.h"
#include "platform/modlibs/entry_types.h"
#include "platform/modlibs/libraries.h"
#include "platform/ui/ui.h"

namespace dz::modlibs {

namespace {

const char kSystemFileName[] = "SYSTEM.PRS";

// Record types of the payroll system file.
enum PrsRecord : uint16_t {
    kPayIdRecord = 1,
    kDeductionRecord = 3,
    kFringeRecord = 4,
    kUnionRecord = 7,
    kLocalRecord = 8,
    kClassRecord = 9,
};

bool same_text(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

int pr_open_system_file(entry::PrOpenRequest& request, uint16_t, uint16_t) {
    request.handle = 0;
    uint16_t fileNo = 0;
    bool found = false;
    for (uint16_t n = 0; n < 64 && !found; ++n) {
        if (same_text(xio_file_name("PRS", n), kSystemFileName)) {
            fileNo = n;
            found = true;
        }
    }
    if (!found) return XIO_NO_DICTIONARY;
    xio_ask_request ask;
    ask.command = request.command;
    ask.abbr = "PRS";
    ask.fileNo = fileNo;
    uint16_t handle = 0;
    int status = xio_ask_file(ask, handle);
    if (status == XIO_OK) request.handle = static_cast<int16_t>(handle);
    return status;
}

std::string field_text(uint16_t h, uint16_t rec, uint16_t fld) {
    x_value_def v;
    if (xio_get_field(h, rec, fld, v) != XIO_OK) return "";
    xio_fld_def def;
    if (xio_get_fld_def(h, fld, def) != XIO_OK) return v.text;
    if (xio_is_number_type(def.type) || xio_is_choice_type(def.type)) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(def.decimals), v.number);
        return buf;
    }
    return v.longText.empty() ? v.text : v.longText;
}

// Shows the records of `rec` in the picker, keeping those whose leading key fields equal the
// non-empty `filters`; the picked record's last key field goes into `picked`.
int pick_record(uint16_t prs, uint16_t rec, const std::string& title, const std::vector<std::string>& filters,
                std::string& picked) {
    if (prs == 0) return 0;
    xio_rec_def def;
    if (xio_get_rec_def(prs, rec, def) != XIO_OK || def.primaryKeyFields.empty()) return 0;
    const std::vector<uint16_t>& keys = def.primaryKeyFields;
    // A description column: the record's first text field outside the key.
    uint16_t descField = 0;
    for (uint16_t f = def.firstField; f <= def.lastField && descField == 0; ++f) {
        if (std::find(keys.begin(), keys.end(), f) != keys.end()) continue;
        xio_fld_def fd;
        if (xio_get_fld_def(prs, f, fd) == XIO_OK && xio_is_text_type(fd.type)) descField = f;
    }

    ui::RecordList list;
    list.title = title;
    for (uint16_t k : keys) {
        xio_fld_def fd;
        xio_get_fld_def(prs, k, fd);
        list.columns.push_back(fd.description.empty() ? fd.name : fd.description);
    }
    if (descField) {
        xio_fld_def fd;
        xio_get_fld_def(prs, descField, fd);
        list.columns.push_back(fd.description.empty() ? fd.name : fd.description);
    }
    std::vector<std::string> codes;
    for (int st = xio_rd_first(prs, rec, 0, 0); st == XIO_OK; st = xio_rd_next(prs, rec, 0, 0)) {
        std::vector<std::string> row;
        for (uint16_t k : keys) row.push_back(field_text(prs, rec, k));
        bool keep = true;
        for (size_t i = 0; i < filters.size() && i + 1 < keys.size(); ++i) {
            if (!filters[i].empty() && !same_text(filters[i], row[i])) keep = false;
        }
        if (!keep) continue;
        codes.push_back(row.back());
        if (descField) row.push_back(field_text(prs, rec, descField));
        list.rows.push_back(std::move(row));
    }
    if (list.rows.empty()) return 0;
    int chosen = ui::xl_list_records(list);
    if (chosen < 1 || static_cast<size_t>(chosen) > codes.size()) return 0;
    picked = codes[static_cast<size_t>(chosen) - 1];
    return 1;
}

// The departments record is the one the dictionary names after departments.
uint16_t department_record(uint16_t prs) {
    xio_file_def fd;
    if (xio_get_def(prs, fd) != XIO_OK) return 0;
    for (uint16_t r : fd.recordNumbers) {
        xio_rec_def rd;
        if (xio_get_rec_def(prs, r, rd) != XIO_OK) continue;
        std::string name = rd.name;
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (name.rfind("DEP", 0) == 0) return r;
    }
    return 0;
}

int pr_list_dedids(uint16_t, uint16_t prs, std::string& picked) {
    return pick_record(prs, kDeductionRecord, "deductions", {}, picked);
}
int pr_list_depts(uint16_t, uint16_t prs, std::string& picked) {
    uint16_t rec = prs ? department_record(prs) : 0;
    return rec ? pick_record(prs, rec, "departments", {}, picked) : 0;
}
int pr_list_fringes(uint16_t, uint16_t prs, std::string& picked) {
    return pick_record(prs, kFringeRecord, "fringes", {}, picked);
}
int pr_list_payids(uint16_t, uint16_t prs, std::string& picked) {
    return pick_record(prs, kPayIdRecord, "pay IDs", {}, picked);
}
int pr_list_unions(uint16_t, uint16_t prs, std::string& picked) {
    return pick_record(prs, kUnionRecord, "unions", {}, picked);
}
int pr_list_uclass(uint16_t, uint16_t prs, const std::string& unionCode, const std::string& local,
                   std::string& picked) {
    return pick_record(prs, kClassRecord, "classes", {unionCode, local}, picked);
}
int pr_list_locals(uint16_t, uint16_t prs, const std::string& unionCode, std::string& picked) {
    return pick_record(prs, kLocalRecord, "locals", {unionCode}, picked);
}

}  // namespace

ModuleLibrary pr_library() {
    ModuleLibrary lib{"PR", kOurLibraryVersion, {}};
    lib.entries["PR_OPEN_SYSTEM_FILE"] = entry_address<entry::PR_OPEN_SYSTEM_FILE>(&pr_open_system_file);
    lib.entries["PR_LIST_DEDIDS"] = entry_address<entry::PR_LIST>(&pr_list_dedids);
    lib.entries["PR_LIST_DEPTS"] = entry_address<entry::PR_LIST>(&pr_list_depts);
    lib.entries["PR_LIST_FRINGES"] = entry_address<entry::PR_LIST>(&pr_list_fringes);
    lib.entries["PR_LIST_PAYIDS"] = entry_address<entry::PR_LIST>(&pr_list_payids);
    lib.entries["PR_LIST_UNIONS"] = entry_address<entry::PR_LIST>(&pr_list_unions);
    lib.entries["PR_LIST_UCLASS"] = entry_address<entry::PR_LIST_UCLASS>(&pr_list_uclass);
    lib.entries["PR_LIST_LOCALS"] = entry_address<entry::PR_LIST_LOCALS>(&pr_list_locals);
    return lib;
}

}  // namespace dz::modlibs
