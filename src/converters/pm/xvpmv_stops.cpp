#include "converters/pm/xvpmv.h"

#include "platform/datafile/xio.h"
#include "platform/suite/xd.h"

namespace dz::pm {

using namespace convert;

namespace {

// One side of the stops and caps: the stop fields or the cap fields, with their labels.
struct Side {
    const char* word;  // "Stop" or "Cap"
    const char* method;
    const char* methodLabel;
    const char* none;  // the text of method 1
    const char* sfType;
    const char* sfTypeLabel;
    const char* amount;
    const char* amountLabel;
    const char* frequency;
    const char* frequencyLabel;
    const char* from;
    const char* fromLabel;
    const char* to;
    const char* toLabel;
    const char* accumulated;
    const char* accumulatedLabel;
};

constexpr Side kSides[] = {
    {"Stop", "RCSTOP", "Stop method", "No stop(1)", "RCSSF", "Stop SF type", "RCSAMT", "Stop amount", "RCSF",
     "Stop frequency", "RCSFROM", "Stop from date", "RCSTO", "Stop to date", "RCASTOP", "Accumulated stop"},
    {"Cap", "RCCAP", "Cap method", "No cap(1)", "RCCSF", "Cap SF type", "RCCAMT", "Cap amount", "RCCF",
     "Cap frequency", "RCCFROM", "Cap from date", "RCCTO", "Cap to date", "RCACAP", "Accumulated cap"},
};

constexpr int kNoMethod = 1, kNoSfTypeMethod = 2, kPerSfMethod = 3;

std::string FrequencyText(double months) {
    return FormatNumber("%.0f", months) + (months == 1 ? " month" : " months");
}

bool SameDate(const x_date_type& a, const x_date_type& b) { return suite::xd_compare_dates(a, b) == 0; }

}  // namespace

bool OnRecoveryGrid(const x_date_type& date, x_date_type running, int months) {
    if (months < 1) months = 1;
    const long side = suite::xd_compare_dates(date, running);
    const int step = side > 0 ? months : -months;
    // Each step moves on from the one before, so a month end, once cut short, stays short. A step
    // that no longer moves (the calendar's first or last month) ends the walk off the grid.
    while (side != 0 && (side > 0 ? suite::xd_compare_dates(running, date) < 0
                                  : suite::xd_compare_dates(running, date) > 0)) {
        const x_date_type before = running;
        suite::xd_offset_date(running, step, 0);
        const long moved = suite::xd_compare_dates(running, before);
        if (side > 0 ? moved <= 0 : moved >= 0) return false;
    }
    return SameDate(running, date);
}

bool CheckStopsAndCaps(const RecordChecks& r, RecoveryLease& lease, uint16_t pmp, RecoveryAnswers* answers) {
    const uint16_t pmv = r.file();

    // The accumulated amounts are the suite's running figures: never taken over.
    for (const auto& [name, label] : {std::pair{"RCCASTP", "Accumulated stop"}, std::pair{"RCCACAP", "Accumulated cap"},
                                      std::pair{"RCPRAS", "Prerecon accumulated stop"},
                                      std::pair{"RCPRAC", "Recrecon accumulated cap"}})
        r.NotSupported(name, label, 12658, 1445, 1446);

    // The methods, read once before anything changes.
    const int methods[2] = {r.Result(kSides[0].method), r.Result(kSides[1].method)};

    // No stop or no cap: the side's fields are cleared, one note naming the first.
    for (int s = 0; s < 2; ++s) {
        const Side& side = kSides[s];
        if (methods[s] != kNoMethod) continue;
        std::string label, value;
        for (const auto& [name, fieldLabel] :
             {std::pair{side.sfType, side.sfTypeLabel}, std::pair{side.amount, side.amountLabel},
              std::pair{side.frequency, side.frequencyLabel}, std::pair{side.from, side.fromLabel},
              std::pair{side.to, side.toLabel}, std::pair{side.accumulated, side.accumulatedLabel}}) {
            const uint16_t field = r.No(name);
            if (field == 0 || r.Blank(field)) continue;
            if (label.empty()) label = fieldLabel, value = r.ValueText(field);
            StagedField(pmv, kPmvRecoveryControl, field).Clear();
        }
        if (!label.empty())
            r.Note(Msg(12651, side.methodLabel, side.none, label, value, r.Word("were/will be"), r.Number(1436, 1437)));
    }
    // A method without SF type: a given SF type is cleared.
    for (int s = 0; s < 2; ++s) {
        const Side& side = kSides[s];
        if (methods[s] != kNoSfTypeMethod) continue;
        if (const std::string type = r.Text(side.sfType); !type.empty()) {
            PutText(pmv, r.No(side.sfType), "");
            r.Note(Msg(12652, side.methodLabel, side.sfTypeLabel, type, r.Word("was/will be"), r.Number(1438, 1439)));
        }
    }
    // Dollars per SF: the SF type is required.
    for (int s = 0; s < 2; ++s)
        if (methods[s] == kPerSfMethod && r.Text(kSides[s].sfType).empty())
            return r.Reject(Msg(12653, kSides[s].methodLabel, kSides[s].sfTypeLabel, RecoveryKey(r)));

    // A given SF type, whatever the method, must be one of the unit's, of the lease's property.
    for (const Side& side : kSides) {
        const std::string sought = r.Text(side.sfType);
        if (sought.empty()) continue;
        const std::string* leaseProperty = lease.Property();
        if (!leaseProperty) return false;
        const std::string& property = *leaseProperty;
        const std::string unit = r.Text("RCUNIT");
        std::string stored = sought;
        bool found = false;
        if (answers) {
            // Many leases of a property name the same unit SF type.
            std::string key = property;
            key.append(1, '\0').append(unit).append(1, '\0').append(sought);
            auto known = answers->unitSfTypes.find(key);
            if (known == answers->unitSfTypes.end()) {
                const bool onFile = FindUnitSfType(pmp, property, unit, stored);
                known = answers->unitSfTypes.emplace(std::move(key), onFile ? std::optional(stored) : std::nullopt).first;
            }
            found = known->second.has_value();
            if (found) stored = *known->second;
        } else {
            found = FindUnitSfType(pmp, property, unit, stored);
        }
        if (!found)
            return r.Reject(Msg(12662, TermLabel(kUnitTerm) + ", " + Term(kOtherTerm),
                                property + ", " + unit + ", " + sought, side.sfTypeLabel));
        PutText(pmv, r.No(side.sfType), stored);
    }

    // The periods. Each rule runs for the stop side, then the cap side.
    const double recoveryMonths = r.Number("RCFREQ");
    const x_date_type recoveryFrom = r.Date("RCNFD"), recoveryTo = r.Date("RCNTD");
    double months[2];
    for (int s = 0; s < 2; ++s) months[s] = r.Number(kSides[s].frequency);

    // Without a frequency the dates are cleared, each with its note.
    for (int s = 0; s < 2; ++s) {
        if (months[s] != 0) continue;
        const Side& side = kSides[s];
        for (const auto& [name, label] : {std::pair{side.from, side.fromLabel}, std::pair{side.to, side.toLabel}}) {
            const x_date_type date = r.Date(name);
            if (IsUnsetDate(date)) continue;
            r.Note(Msg(12673, side.word, label, DateText(date), r.Word("was/will be"), r.Number(1465, 1466)));
            StagedField(pmv, kPmvRecoveryControl, name).Clear();
        }
    }
    // The dates, read once: nothing below changes them.
    x_date_type froms[2], tos[2];
    for (int s = 0; s < 2; ++s) froms[s] = r.Date(kSides[s].from), tos[s] = r.Date(kSides[s].to);
    const auto bothSet = [&](int s) { return !IsUnsetDate(froms[s]) && !IsUnsetDate(tos[s]); };
    // With one, both dates are required.
    for (int s = 0; s < 2; ++s) {
        if (months[s] == 0) continue;
        const Side& side = kSides[s];
        if (IsUnsetDate(froms[s])) return r.Reject(Msg(12674, side.word, side.fromLabel, RecoveryKey(r)));
        if (IsUnsetDate(tos[s])) return r.Reject(Msg(12674, side.word, side.toLabel, RecoveryKey(r)));
    }
    // The period runs forwards...
    for (int s = 0; s < 2; ++s) {
        if (!bothSet(s)) continue;
        const Side& side = kSides[s];
        const x_date_type &from = froms[s], &to = tos[s];
        if (suite::xd_compare_dates(from, to) > 0)
            return r.Reject(Msg(12675, side.word, DateText(from), side.word, DateText(to)));
    }
    // ...and makes up the side's frequency.
    for (int s = 0; s < 2; ++s) {
        if (!bothSet(s)) continue;
        const Side& side = kSides[s];
        const x_date_type &from = froms[s], &to = tos[s];
        const int limit = months[s] < 1 ? 1 : static_cast<int>(months[s]);
        if (RecoveryMonthCount(from, to, limit) != months[s])
            return r.Reject(Msg(12676, side.word, DateText(from), side.word, DateText(to), FrequencyText(months[s])));
    }
    // The recovery's own frequency: the recovery's own period.
    for (int s = 0; s < 2; ++s) {
        if (months[s] == 0 || months[s] != recoveryMonths) continue;
        const Side& side = kSides[s];
        const x_date_type &from = froms[s], &to = tos[s];
        if (!SameDate(from, recoveryFrom))
            return r.Reject(Msg(12677, side.word, "from", DateText(from), "from", DateText(recoveryFrom)));
        if (!SameDate(to, recoveryTo))
            return r.Reject(Msg(12677, side.word, "to", DateText(to), "to", DateText(recoveryTo)));
    }
    // Another frequency: the period starts and ends where recovery periods do.
    const int step = static_cast<int>(recoveryMonths);
    for (int s = 0; s < 2; ++s) {
        if (months[s] == 0 || months[s] == recoveryMonths) continue;
        const Side& side = kSides[s];
        const x_date_type &from = froms[s], &to = tos[s];
        if (!OnRecoveryGrid(from, recoveryFrom, step))
            return r.Reject(Msg(12678, side.word, "from", DateText(from), "from", DateText(recoveryFrom)));
        if (!OnRecoveryGrid(to, recoveryTo, step))
            return r.Reject(Msg(12678, side.word, "to", DateText(to), "to", DateText(recoveryTo)));
    }
    return true;
}

}  // namespace dz::pm
