// The record handlers of the PM transaction converters. Each checks and completes the staged
// record (and the payment read with it) and answers accept or reject; the passes write.
#include "converters/pm/xvpmt.h"

#include "platform/datafile/stored_number.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_case.h"

#include <algorithm>
#include <charconv>

namespace dz::pm {

using namespace convert;

namespace {

bool IsLeapYear(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysInMonth(unsigned month, unsigned year) {
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 31;
    return days[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

}  // namespace

const Found& xvPMT::CachedFind(uint16_t file, uint16_t rec, const std::vector<KeyValue>& keys, const LookupScope& scope) {
    // Keys compare without regard to case: the cache's key is upper-cased.
    std::string& id = lookupId_;
    id.clear();
    auto number = [&](long long n) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
        id.append(digits, end);
    };
    number(file);
    id += '\t';
    number(rec);
    for (const auto& k : keys) {
        id += '\t';
        if (k.isNumber) {
            number(static_cast<long long>(k.number));  // revisions are whole
        } else {
            for (char c : k.text) id += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        }
    }
    if (auto it = lookups_.find(id); it != lookups_.end()) return it->second;
    uncached_ = FindRecord(file, rec, keys, scope);
    // What stood earlier in the text file may change as the file goes on: only answers from the
    // data files are kept.
    if (uncached_.where == Found::EarlierInText) return uncached_;
    return lookups_.emplace(id, std::move(uncached_)).first->second;
}

// ---- Sales volume (record 9) ------------------------------------------------------------------------

bool xvPMT::ConvertSalesVolume(uint16_t pmt, xvl::xvlImpInfo&, std::string& reason, convert::MessageList& messages,
                               bool converting) {
    constexpr uint16_t R = kPmtRecSalesVolume;
    static constexpr convert::FieldNames<kSalesFields> kNames{
        "SVPROP", "SVUNIT", "SVTEN", "SVLEASE", "SVREV",  "SVRDATE", "SVTDATE", "SVSDATE", "SVVOL",
        "SVTYPE", "SVSTYPE", "SVSCAT", "SVRUN", "SVSEQ", "SVAPPL", "SVBATCH", "SVBSRC", "SVLRCMB"};
    if (salesResolvedFor_ != pmt) {
        sales_.Resolve(pmt, R, kNames);
        salesResolvedFor_ = pmt;
    }
    const auto& f = sales_;
    const LookupScope scope{&RecordIds(), converting};
    std::string prop = GetText(pmt, f[kSvProp]);
    std::string unit = GetText(pmt, f[kSvUnit]);
    std::string tenant = GetText(pmt, f[kSvTen]);
    std::string lease = GetText(pmt, f[kSvLease]);
    double revision = GetNumber(pmt, f[kSvRev]);
    auto required = [&](const char* field) {
        reason = Msg(12525, FieldLabel(pmt, R, field), TermLabel(kPropertyTerm), prop);
        return false;
    };

    // Required fields, before anything is looked up.
    if (prop.empty()) {
        reason = Msg(12524, FieldLabel(pmt, R, "SVPROP"));
        return false;
    }
    if (unit.empty()) return required("SVUNIT");
    if (tenant.empty()) return required("SVTEN");
    if (lease.empty()) return required("SVLEASE");
    if (IsUnsetDate(GetDate(pmt, f[kSvRDate]))) return required("SVRDATE");
    if (IsUnsetDate(GetDate(pmt, f[kSvTDate]))) return required("SVTDATE");
    x_date_type salesDate = GetDate(pmt, f[kSvSDate]);
    if (IsUnsetDate(salesDate)) return required("SVSDATE");
    if (IsZero(GetNumber(pmt, f[kSvVol]))) {
        reason = Msg(12526, FieldLabel(pmt, R, "SVVOL"), TermLabel(kPropertyTerm), prop);
        return false;
    }

    // A line naming what an earlier one named takes what its lookups gave. The texts are parted
    // by a character none holds.
    std::string& key = salesKey_;
    key.clear();
    for (const std::string* text : {&prop, &unit, &tenant, &lease}) {
        for (char c : *text) key += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        key += '\0';
    }
    key += std::to_string(static_cast<long long>(revision));  // revisions are whole
    key += '\0';
    for (char c : GetText(pmt, f[kSvSCat])) key += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    const auto cached = salesFacts_.find(key);
    const SalesFacts* facts = cached != salesFacts_.end() ? &cached->second : nullptr;
    bool onFile = true;  // every record found on file, so that later lines may take the answers
    std::string leaseText;
    if (facts) {
        prop = facts->prop;
        unit = facts->unit;
        tenant = facts->tenant;
        lease = facts->lease;
        PutText(pmt, f[kSvProp], prop);
        PutText(pmt, f[kSvUnit], unit);
        PutText(pmt, f[kSvTen], tenant);
        PutText(pmt, f[kSvLease], lease);
        leaseText = LeaseKeyText(lease, revision);
    } else {
        // The records it names, each giving back its stored spelling into `value` (its field
        // `at` of the key); a missing one rejects the line with the text `missing` makes.
        auto take = [&](const Found& found, std::string& value, std::size_t at, auto&& missing) {
            if (!found) {
                reason = missing();
                return false;
            }
            if (found.where == Found::OnFile) value = found.stored[at];
            onFile = onFile && found.where == Found::OnFile;
            return true;
        };
        if (!take(CachedFind(pmp, 1, {{"PROP", prop}}, scope), prop, 0,
                  [&] { return PropertyMissingText(12527, prop); }) ||
            !take(CachedFind(pmp, 17, {{"UPROP", prop}, {"UNIT", unit}}, scope), unit, 1,
                  [&] { return UnitMissingText(12528, prop, unit); }) ||
            !take(CachedFind(pmn, 1, {{"TENANT", tenant}}, scope), tenant, 0,
                  [&] { return TenantMissingText(12529, tenant); }) ||
            !take(CachedFind(pml, 1, {{"LEASE", lease}, {"LREV", revision}}, scope), lease, 0,
                  [&] { return LeaseMissingText(12859, lease, revision); }))
            return false;
        PutText(pmt, f[kSvProp], prop);
        PutText(pmt, f[kSvUnit], unit);
        PutText(pmt, f[kSvTen], tenant);
        PutText(pmt, f[kSvLease], lease);
        leaseText = LeaseKeyText(lease, revision);

        // The unit is let under the lease, and the tenant holds it.
        const Found* found =
            &CachedFind(pmp, 20, {{"LUPROP", prop}, {"LUUNIT", unit}, {"LULEASE", lease}, {"LUREV", revision}}, scope);
        onFile = onFile && found->where == Found::OnFile;
        if (!*found) {
            reason = Msg(12531,
                         TermLabel(kPropertyTerm) + ", " + TermLabel(kUnitTerm) + ", " + TermLabel(kLeaseTerm) + ", " +
                             TermLabel(kRevisionTerm),
                         prop + ", " + unit + ", " + leaseText);
            return false;
        }
        found = &CachedFind(pmn, 5, {{"TENID", tenant}, {"TLEASE", lease}, {"TLREV", revision}}, scope);
        onFile = onFile && found->where == Found::OnFile;
        if (!*found) {
            reason = Msg(12531, TermLabel(kTenantTerm) + ", " + TermLabel(kLeaseTerm) + ", " + TermLabel(kRevisionTerm),
                         tenant + ", " + leaseText);
            return false;
        }
    }

    // The sales date by the sales period type.
    switch (xio_whole_part(GetNumber(pmt, f[kSvType]), 0)) {
        case 1:
            salesDate.day = 0;
            break;
        case 2:
            salesDate.month = 1;
            salesDate.day = 1;
            break;
        case 3: {
            // The percent-rent control's year end (none when it is not on file), read once a lease.
            const std::string id = leaseText;
            auto known = yearEnds_.find(id);
            if (known == yearEnds_.end()) {
                xio_init_record(pmr, 1);
                PutText(pmr, 1, "PRLEASE", lease);
                PutNumber(pmr, 1, "PRREV", revision);
                known = yearEnds_.emplace(id, xio_rd_record(pmr, 1, 0, 0) == XIO_OK ? GetDate(pmr, 1, "PRFCYE")
                                                                                    : x_date_type{}).first;
            }
            const x_date_type yearEnd = known->second;
            if (IsUnsetDate(yearEnd) || (yearEnd.month == salesDate.month && yearEnd.day == salesDate.day)) break;
            const x_date_type old = salesDate;
            salesDate.month = yearEnd.month;
            // A year end of February 29 falls on the month's last day in a year without one.
            salesDate.day = static_cast<uint16_t>(
                std::min<unsigned>(yearEnd.day, DaysInMonth(yearEnd.month, salesDate.year)));
            if (salesDate == old) break;
            messages.push_back(Msg(12538, ModeWord("was/will be", converting), DateText(old), DateText(salesDate),
                                   converting ? "1217" : "1218"));
            break;
        }
        default:
            break;
    }
    PutDate(pmt, f[kSvSDate], salesDate);

    // The sales type: the list's first value when blank, the list's spelling when listed.
    std::string type = GetText(pmt, f[kSvSType]);
    if (type.empty()) {
        type = DefaultSalesType;
    } else {
        for (const auto& v : SalesTypeList)
            if (xvl::equalNoCase(v, type)) {
                type = v;
                break;
            }
    }
    PutText(pmt, f[kSvSType], type);

    // The sales category of the lease.
    if (facts) {
        PutText(pmt, f[kSvSCat], facts->category);
    } else {
        const std::string category = GetText(pmt, f[kSvSCat]);
        if (category.empty()) {
            reason = Msg(12536);
            return false;
        }
        const Found& found =
            CachedFind(pmr, 2, {{"SCLEASE", lease}, {"SCREV", revision}, {"SCSLCAT", category}}, scope);
        if (!found) {
            reason = Msg(12537, category, leaseText, TermLabel(kLeaseTerm));
            return false;
        }
        const std::string stored = found.where == Found::OnFile ? found.stored[2] : category;
        PutText(pmt, f[kSvSCat], stored);
        if (onFile && found.where == Found::OnFile)
            salesFacts_.emplace(salesKey_, SalesFacts{prop, unit, tenant, lease, stored});
    }

    // The run.
    PutNumber(pmt, f[kSvRun], RunNumber);
    RunUsed = 1;
    PutNumber(pmt, f[kSvSeq], NextSequenceNumber());
    PutText(pmt, f[kSvAppl], kPmtAppl);
    if (GetText(pmt, f[kSvBatch]).empty()) PutText(pmt, f[kSvBatch], BatchNumber);
    PutNumber(pmt, f[kSvBSrc], kPmtBatchSource);
    PutText(pmt, f[kSvLrCmb], leaseText);
    return true;
}

}  // namespace dz::pm
