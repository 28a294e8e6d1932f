// Our JC module library's entries: field numbers by JC index, cost-code levels, the JC date
// context and the tax group of a job cost.
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "platform/datafile/dictionary.h"
#include "platform/datafile/xio.h"
#include "platform/modlibs/entry_types.h"
#include "platform/modlibs/jc_cost_code.h"
#include "platform/modlibs/libraries.h"

namespace dz::modlibs {

namespace {

constexpr uint16_t kJobRecord = 1;
constexpr uint16_t kPhaseRecord = 3;
constexpr uint16_t kCategoryRecord = 4;
constexpr uint16_t kSettingsHeader = 2;
constexpr int kCostTypes = 6;

// Field numbers by JC index, one table per record type, built once per dictionary: the totals
// rebuild asks for every mapped field of every record.
using IndexTables = std::map<uint16_t, std::vector<uint16_t>>;

const IndexTables* index_tables(uint16_t jcm) {
    xio_file_def def;
    if (xio_get_def(jcm, def) != XIO_OK) return nullptr;
    std::string error;
    std::shared_ptr<const xio::Dictionary> dict = xio::get(def.abbr, error);
    if (!dict) return nullptr;

    static std::mutex mutex;
    static std::map<std::shared_ptr<const xio::Dictionary>, IndexTables> cache;
    std::lock_guard<std::mutex> hold(mutex);
    auto [it, added] = cache.try_emplace(dict);
    if (added) {
        for (const xio::RecordDef& r : dict->records) {
            std::vector<uint16_t>& table = it->second[r.number];
            for (uint16_t n = r.firstField; n && n <= r.lastField; ++n) {
                const uint16_t index = dict->fields[n].jcIndex;
                if (index == 0) continue;
                if (table.size() <= index) table.resize(index + 1u, 0);
                table[index] = n;
            }
        }
    }
    return &it->second;
}

uint16_t jcm_num(uint16_t jcm, uint16_t kind, uint16_t record, uint16_t index) {
    if (kind != XIO_NUM_RECORD || index == 0) return 0;
    const IndexTables* tables = index_tables(jcm);
    if (!tables) return 0;
    auto it = tables->find(record);
    if (it == tables->end() || index >= it->second.size()) return 0;
    return it->second[index];
}

int jc_group_phase(const std::string& costCode, uint16_t, uint16_t* level) {
    uint16_t found = 0;
    const bool group = JcCostCodeLevel(costCode, found);
    if (level) *level = found;
    return group ? 1 : 0;
}

x_value_def header_value(uint16_t jcm, const char* name) {
    x_value_def v;
    if (uint16_t f = xio_num(jcm, XIO_NUM_HEADER, kSettingsHeader, name)) xio_get_field(jcm, 0, f, v);
    return v;
}

int jc_init_date(entry::JCDateContext** slot, uint16_t, uint16_t jcm) {
    if (!slot) return 1;
    *slot = nullptr;
    if (xio_rd_header(jcm, kSettingsHeader, 0) != XIO_OK) return 1;
    auto* context = new (std::nothrow) entry::JCDateContext;
    if (context) {
        context->periodEnd = header_value(jcm, "CPEDATE").date;
        context->lastAccountingDate = header_value(jcm, "CLACTDT").date;
    }
    xio_free_header(jcm, kSettingsHeader);
    *slot = context;
    return context ? 0 : 1;
}

int jc_free_date(entry::JCDateContext** slot) {
    if (!slot) return 0;
    delete *slot;
    *slot = nullptr;
    return 0;
}

// Reads the record `rec` whose primary key fields take `key`, in order. The caller's buffer of
// that record is kept aside and put back by the destructor.
class KeyedRead {
public:
    KeyedRead(uint16_t jcm, uint16_t rec, const std::vector<std::string>& key) : jcm_(jcm), rec_(rec) {
        saved_ = xio_save_record(jcm, rec);
        xio_rec_def def;
        if (!saved_ || xio_get_rec_def(jcm, rec, def) != XIO_OK || def.primaryKeyFields.size() != key.size()) return;
        xio_init_record(jcm, rec);
        for (size_t i = 0; i < key.size(); ++i) {
            x_value_def v;
            v.text = key[i];
            xio_put_field(jcm, rec, def.primaryKeyFields[i], v);
        }
        found_ = xio_rd_record(jcm, rec, 0, 0) == XIO_OK;
    }
    ~KeyedRead() {
        if (saved_) xio_restore_record_id(jcm_, saved_);
    }
    KeyedRead(const KeyedRead&) = delete;
    KeyedRead& operator=(const KeyedRead&) = delete;

    bool found() const { return found_; }
    x_value_def Value(const char* name) const { return Value(xio_num(jcm_, XIO_NUM_RECORD, rec_, name)); }
    x_value_def Value(uint16_t field) const {
        x_value_def v;
        if (found_ && field) xio_get_field(jcm_, rec_, field, v);
        return v;
    }

private:
    uint16_t jcm_;
    uint16_t rec_;
    uint16_t saved_ = 0;
    bool found_ = false;
};

int jc_get_cost_tax_group(uint16_t jcm, const std::string&, uint16_t, const std::string& job, const std::string& extra,
                          const std::string& costCode, const std::string& category, std::string& taxGroup) {
    if (job.empty()) return 0;
    double type = 0;
    if (!category.empty()) {
        KeyedRead cat(jcm, kCategoryRecord, {job, extra, costCode, category});
        if (!cat.found()) return 0;
        type = cat.Value("CCTYPE").number;
    } else {
        KeyedRead phase(jcm, kPhaseRecord, {job, extra, costCode});
        if (!phase.found()) return 0;
        type = phase.Value("PCTYPE").number;
    }
    if (!(type >= 1 && type <= kCostTypes)) return 0;
    KeyedRead jobRecord(jcm, kJobRecord, {job});
    const uint16_t first = xio_num(jcm, XIO_NUM_RECORD, kJobRecord, "JLTXGRP");
    if (!jobRecord.found() || !first) return 0;
    const std::string group = jobRecord.Value(static_cast<uint16_t>(first + static_cast<int>(type) - 1)).text;
    if (group.empty()) return 0;
    taxGroup = group;
    return 1;
}

}  // namespace

ModuleLibrary jc_library() {
    ModuleLibrary lib{"JC", kOurLibraryVersion, {}};
    lib.entries["JCM_NUM"] = entry_address<entry::JCM_NUM>(&jcm_num);
    lib.entries["JC_GROUP_PHASE"] = entry_address<entry::JC_GROUP_PHASE>(&jc_group_phase);
    lib.entries["JC_INIT_DATE"] = entry_address<entry::JC_INIT_DATE>(&jc_init_date);
    lib.entries["JC_FREE_DATE"] = entry_address<entry::JC_FREE_DATE>(&jc_free_date);
    lib.entries["JC_GET_COST_TAX_GROUP"] = entry_address<entry::JC_GET_COST_TAX_GROUP>(&jc_get_cost_tax_group);
    return lib;
}

}  // namespace dz::modlibs
