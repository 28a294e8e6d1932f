// The passes after the records of a converted property text file: a default charge record for
// every property with a GL prefix, the unit counts of every property kept (corrected where the
// property had none, noted where it had others), and every unit's occupied and leased flags
// against its history as of the property's period ending date. A stop, or a write that fails,
// ends the file with both data files restored and the text file unstamped.
#include "converters/pm/xvpmp.h"

#include "convert/progress.h"
#include "convert/reports.h"
#include "convert/texts.h"
#include "platform/datafile/stored_number.h"
#include "platform/datafile/xio.h"

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

namespace dz::pm {

using namespace convert;

using convert::ConvertContext;

namespace {

int Result(uint16_t file, uint16_t rec, const char* name) { return xio_get_field_result(file, 0, FieldNo(file, rec, name)); }

// The unit's flag in its history (record `rec`) as of `date`: the last entry of the unit dated
// on or before it; none counts as not set.
bool HistoryFlag(uint16_t pmp, uint16_t rec, const char* const names[4], const std::string& property,
                 const std::string& unit, const x_date_type& date) {
    xio_init_record(pmp, rec);
    PutText(pmp, rec, names[0], property);
    PutText(pmp, rec, names[1], unit);
    PutDate(pmp, rec, names[2], date);
    const int after = xio_rd_gt(pmp, rec, 0, 0);
    const int read = after == XIO_END ? xio_rd_last(pmp, rec, 0, 0) : xio_rd_previous(pmp, rec, 0, 0);
    return read == XIO_OK && EqualNoCase(GetText(pmp, rec, names[0]), property) &&
           EqualNoCase(GetText(pmp, rec, names[1]), unit) && Result(pmp, rec, names[3]) != 0;
}

void SortUnique(std::vector<std::string>& keys) {
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
}

std::string Upper(std::string text) {
    for (char& ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return text;
}

// Whether the property has a unit on file.
bool HasUnit(uint16_t pmp, const std::string& property) {
    xio_init_record(pmp, kPmpUnitRecord);
    PutText(pmp, kPmpUnitRecord, "UPROP", property);
    return xio_rd_ge(pmp, kPmpUnitRecord, 0, 0) == XIO_OK && EqualNoCase(GetText(pmp, kPmpUnitRecord, "UPROP"), property);
}

bool ReadForUpdate(uint16_t pmp, const std::string& property) {
    xio_init_record(pmp, kPmpProperty);
    PutText(pmp, kPmpProperty, "PROP", property);
    return xio_rd_record(pmp, kPmpProperty, 0, 1) == XIO_OK;
}

}  // namespace

bool xvPMP::CreateDefaultChargeRecords(ConvertContext& ctx) {
    constexpr uint16_t R = kPmpPropertyCharge;
    // A stop here counts as the record loop's stop does: not as one more message.
    PassProgress progress(*this, ctx, state_.properties.size(), "Creating default charge recs:",
                          "Creating default charge records:", false);
    bool ended = false;
    state_.properties.ForEach([&](std::string_view id, const std::string& prefix) {
        if (ended) return;
        std::string property(id);
        convert::StripRecordId(property);
        if (!property.empty()) {
            xio_init_record(pmp_, R);
            PutText(pmp_, R, "PCPROP", property);
            PutText(pmp_, R, "PCCT", kDefaultChargeType);
            // A default charge already on file stays as it is: the write of one finds it.
            PutText(pmp_, R, "PCGLPFX", prefix);
            uint16_t clash = 0;
            const int written = xio_wr_record(pmp_, R, &clash);
            if (written != XIO_OK && !(written == XIO_DUPLICATE && clash == 0)) {
                ended = true;
                EndFile(ctx, DataFileFailure(ctx), true, true);
                return;
            }
        }
        ended = !progress.Step();
    });
    return !ended;
}

bool xvPMP::CheckPropertyUnitCounts(ConvertContext& ctx) {
    constexpr uint16_t P = kPmpProperty, U = kPmpUnitRecord;
    const std::string label = "Checking Props & Units:";
    auto& properties = state_.convertedProperties;
    std::sort(properties.begin(), properties.end());
    properties.erase(std::unique(properties.begin(), properties.end()), properties.end());
    // The units walked here are the ones the history pass checks: what each holds is kept for it.
    auto& keys = state_.convertedUnitKeys;
    SortUnique(keys);
    auto& flags = state_.convertedUnitFlags;
    flags.assign(keys.size(), {-1, -1});
    std::string unitKey;
    PassProgress progress(*this, ctx, properties.size(), label, label, true);
    ClosingNotes notes(*ctx.notes);
    const std::string unitTerm = TermLabel(kUnitTerm, true, true), unitsTerm = TermLabel(kUnitTerm, false, true);
    auto& listingNone = state_.propertiesListingNoUnits;
    if (state_.propertyReplaced) listingNone.clear();
    SortUnique(listingNone);
    for (const std::string& property : properties) {
        // A property written here listing no units, none on file: nothing to count or correct.
        if (!property.empty() &&
            std::binary_search(listingNone.begin(), listingNone.end(), Upper(property)) && !HasUnit(pmp_, property)) {
            if (!progress.Step()) return false;
            continue;
        }
        // Read plainly first: most properties need no change, and a lock costs a system call.
        xio_init_record(pmp_, P);
        PutText(pmp_, P, "PROP", property);
        if (!property.empty() && xio_rd_record(pmp_, P, 0, 0) == XIO_OK) {
            // The property's units follow one another in key order (keys ignore letter case).
            int units = 0, occupied = 0, leased = 0;
            xio_init_record(pmp_, U);
            PutText(pmp_, U, "UPROP", property);
            for (int s = xio_rd_ge(pmp_, U, 0, 0); s == XIO_OK && EqualNoCase(GetText(pmp_, U, "UPROP"), property);
                 s = xio_rd_next(pmp_, U, 0, 0)) {
                ++units;
                const int occupancy = Result(pmp_, U, "UOCC"), lease = Result(pmp_, U, "ULESED");
                occupied += occupancy == 1;
                leased += lease == 1;
                unitKey = Upper(GetText(pmp_, U, "UPROP") + '\t' + GetText(pmp_, U, "UNIT"));
                if (const auto at = std::lower_bound(keys.begin(), keys.end(), unitKey);
                    at != keys.end() && *at == unitKey)
                    flags[static_cast<std::size_t>(at - keys.begin())] = {occupancy, lease};
            }
            struct Count {
                const char* field;
                int actual;
                std::string word;
            };
            const Count counts[] = {{"PUNIT", units, unitTerm},
                                    {"POCOUNT", occupied, "Occupied " + unitsTerm},
                                    {"PLCOUNT", leased, "Leased " + unitsTerm}};
            std::vector<std::pair<const char*, uint16_t>> corrected;
            for (const auto& [field, actual, word] : counts) {
                // A count no integer holds matches none, and is corrected.
                const auto listed = static_cast<uint16_t>(xio_whole_part(GetNumber(pmp_, P, field), -1));
                const auto counted = static_cast<uint16_t>(actual);
                if (listed == counted) continue;
                if (listed == 0) {
                    corrected.emplace_back(field, counted);
                    continue;
                }
                notes.Add(Msg(12440, TermLabel(kPropertyTerm), GetText(pmp_, P, "PROP"), std::to_string(listed), word,
                              std::to_string(counted)));
                if (ctx.progress) ctx.progress->notes += 1;
            }
            // Corrected counts that cannot be written end the file as a failed write does.
            if (!corrected.empty()) {
                if (!ReadForUpdate(pmp_, property)) return EndFile(ctx, DataFileFailure(ctx), true, true);
                for (const auto& [field, counted] : corrected) PutNumber(pmp_, P, field, counted);
                if (xio_rep_record(pmp_, P) != XIO_OK) {
                    xio_unlock_record(pmp_, P, 1);
                    return EndFile(ctx, DataFileFailure(ctx), true, true);
                }
            }
        }
        if (!progress.Step()) return false;
    }
    if (notes.Started()) ctx.notes->PrintMessageLine("", 0, Msg(12441));
    return true;
}

bool xvPMP::CheckUnitHistory(ConvertContext& ctx) {
    static const char* const kOccupancy[4] = {"UOHPROP", "UOHUNIT", "UOHDATE", "UOHOCC"};
    static const char* const kLease[4] = {"ULHPROP", "ULHUNIT", "ULHDATE", "ULHLEAS"};
    auto& keys = state_.convertedUnitKeys;
    auto& flags = state_.convertedUnitFlags;
    if (flags.size() != keys.size()) {
        SortUnique(keys);
        flags.assign(keys.size(), {-1, -1});
    }

    const std::string label = "Checking unit history:";
    PassProgress progress(*this, ctx, keys.size(), label, label, true);
    ClosingNotes notes(*ctx.notes);
    const std::string unitTerm = TermLabel(kUnitTerm);
    // Keys in order bring a property's units together: its period end is read once for them.
    std::string lastProperty;
    x_date_type periodEnd;
    bool first = true;
    // A history table without a single entry says "not occupied" or "not leased" for every unit.
    auto anyEntry = [&](uint16_t rec) {
        xio_init_record(pmp_, rec);
        return xio_rd_first(pmp_, rec, 0, 0) == XIO_OK;
    };
    const bool anyOccupancy = anyEntry(kPmpUnitOccupancyHistory), anyLease = anyEntry(kPmpUnitLeaseHistory);
    for (std::size_t at = 0; at < keys.size(); ++at) {
        const std::string& whole = keys[at];
        const std::string key = whole.substr(0, 80);
        const auto tab = key.find('\t');
        const std::string property = key.substr(0, tab);
        const std::string unit = tab == std::string::npos ? std::string() : key.substr(tab + 1);
        if (!property.empty() && !unit.empty()) {
            if (first || property != lastProperty) {
                first = false;
                lastProperty = property;
                periodEnd = ReadByKey(pmp_, kPmpProperty, "PROP", property)
                                ? GetDate(pmp_, kPmpProperty, "PPEREND")
                                : x_date_type{};
            }
            // The unit as the count pass met it, else as read now (a key too long for the read
            // was not met there).
            std::pair<int, int> held = whole.size() <= 80 ? flags[at] : std::pair<int, int>{-1, -1};
            if (!IsUnsetDate(periodEnd) && held.first < 0) {
                xio_init_record(pmp_, kPmpUnitRecord);
                PutText(pmp_, kPmpUnitRecord, "UPROP", property);
                PutText(pmp_, kPmpUnitRecord, "UNIT", unit);
                if (xio_rd_record(pmp_, kPmpUnitRecord, 0, 0) == XIO_OK)
                    held = {Result(pmp_, kPmpUnitRecord, "UOCC"), Result(pmp_, kPmpUnitRecord, "ULESED")};
            }
            if (!IsUnsetDate(periodEnd) && held.first >= 0) {
                const bool occupied = held.first != 0;
                const bool leased = held.second != 0;
                const bool wasOccupied =
                    anyOccupancy && HistoryFlag(pmp_, kPmpUnitOccupancyHistory, kOccupancy, property, unit, periodEnd);
                const bool wasLeased =
                    anyLease && HistoryFlag(pmp_, kPmpUnitLeaseHistory, kLease, property, unit, periodEnd);
                auto note = [&](bool flag, bool history, const char* yes, const char* no, const char* table) {
                    if (flag == history) return;
                    notes.Add(Msg(12443, unitTerm, property + ", " + unit, flag ? yes : no, table));
                    notes.Add(Msg(12444, unitTerm, history ? yes : no, DateText(periodEnd)));
                    if (ctx.progress) ctx.progress->notes += 1;
                };
                note(occupied, wasOccupied, "Occupied", "Not occupied", "Occupancy history");
                note(leased, wasLeased, "Leased", "Not leased", "Lease history");
            }
        }
        if (!progress.Step()) return false;
    }
    return true;
}

}  // namespace dz::pm
