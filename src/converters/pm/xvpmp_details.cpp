// The records below a property: its PA records, charges, taxes and insurance, its SF types and
// their monthly, calendar-year and fiscal-year occupancy.
#include "converters/pm/xvpmp.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"

namespace dz::pm {

using namespace convert;

namespace {

using Field = StagedField;
constexpr double kMaxOccupancy = 200000000;  // 200 percent, in millionths

// Occupancy above 200 percent: 12439.
bool OccupancyInRange(const Field& occupancy, std::string& reason) {
    if (occupancy.Number() <= kMaxOccupancy) return true;
    reason = Msg(12439, Millionths(occupancy.Number()));
    return false;
}

// A year of a tax or occupancy record: below 100 a two-digit year (below 50 in this century),
// from 1000 as it is; anything else is refused with 12803 naming `label`. A two-digit year is
// rewritten whole.
bool YearStep(const Field& year, const std::string& label, std::string& reason) {
    const double y = year.Number();
    if (y >= 0 && y < 100) {
        year.Put(y + (y < 50 ? 2000 : 1900));
        return true;
    }
    if (y >= 1000) return true;
    reason = Msg(12803, label, WholeText(y));
    return false;
}

// The property link that also gives the property's occupancy tracking: ten times its
// calendar-year flag plus its fiscal-year flag, from the record on file or (examining) as kept
// with the property met earlier in the text file.
bool PropertyTracking(const PmpRecordContext& c, const Field& property, uint16_t& tracking,
                      std::string& reason) {
    const Found found = FindProperty(c.pmp, property.Text(), c.Scope());
    if (!found) {
        reason = PropertyMissingText(12412, property.Text());
        return false;
    }
    tracking = found.value;
    if (found.where == Found::OnFile) {
        property.Put(found.stored[0]);
        const bool year = Field(c.pmp, kPmpProperty, "PTKCYOC").Result() != 0;
        const bool fiscal = Field(c.pmp, kPmpProperty, "PTKFYOC").Result() != 0;
        tracking = static_cast<uint16_t>((year ? 10 : 0) + (fiscal ? 1 : 0));
    }
    return true;
}

// The occupancy record's SF type must be one of the property's, tracked: 12429, 12430 naming the
// record type as `kind`. On file, the SF type takes its stored spelling.
bool SfTypeLink(const PmpRecordContext& c, const Field& property, const Field& sfType, const char* kind,
                std::string& reason) {
    const Found found =
        FindRecord(c.pmp, kPmpSfType, {{"PFPROP", property.Text()}, {"PFSFTYP", sfType.Text()}}, c.Scope());
    if (!found) {
        reason = Msg(12429, TermLabel(kPropertyTerm) + " " + TermLabel(kSfTypeTerm, false),
                     property.Text() + ", " + sfType.Text());
        return false;
    }
    bool tracked = found.value != 0;
    if (found.where == Found::OnFile) {
        sfType.Put(found.stored[1]);
        tracked = Field(c.pmp, kPmpSfType, "PFTRACK").Result() != 0;
    }
    if (tracked) return true;
    reason = Msg(12430, TermLabel(kOtherTerm), kind);
    return false;
}

// A GL prefix given on a detail record: found by the account format's prefix levels, it takes
// the stored key; else 12388. Formats of other levels are not looked up.
bool PrefixStep(const PmpRecordContext& c, const Field& prefix, std::string& reason) {
    std::string stored;
    if (!StoredGlPrefix(c, prefix.Text(), stored)) {
        reason = Msg(12388, GlText(prefix.Text(), suite::kGlPrefix));
        return false;
    }
    prefix.Put(stored);
    return true;
}

}  // namespace

bool ConvertPropertyPA(const PmpRecordContext& c, std::string& reason, convert::MessageList&) {
    constexpr uint16_t R = kPmpPropertyPA;
    const Field property(c.pmp, R, "PAPROP"), type(c.pmp, R, "PATYPE"), name(c.pmp, R, "PANAME");
    if (!RequireKey(property, reason) || !RequireFields({&type}, property, reason)) return false;
    if (name.Text().empty()) name.Put(property.Text());
    if (!PropertyStep(c, property, reason)) return false;
    if (std::string value = type.Text(); c.state->paTypes.Spelling(value)) type.Put(value);
    return true;
}

bool ConvertPropertyCharge(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages) {
    constexpr uint16_t R = kPmpPropertyCharge;
    const Field property(c.pmp, R, "PCPROP"), chargeType(c.pmp, R, "PCCT"), priority(c.pmp, R, "PCPMT"),
        taxGroup(c.pmp, R, "PCTXGRP"), prefix(c.pmp, R, "PCGLPFX");
    if (!RequirePropertyLink(c, property, {&chargeType}, reason)) return false;

    // The property's default charge is no charge type of the system file.
    if (EqualNoCase(chargeType.Text(), kDefaultChargeType)) {
        chargeType.Put(kDefaultChargeType);
    } else {
        const Found found = FindChargeType(c.pms, chargeType.Text(), c.Scope());
        if (!found) {
            reason = Msg(12407, TermLabel(kChargeTypeTerm), chargeType.Text(), TermLabel(kChargeTypeTerm));
            return false;
        }
        if (found.where == Found::OnFile) chargeType.Put(found.stored[0]);
    }
    if (IsZero(priority.Number())) {
        reason = Msg(12408, "Payment priority", TermLabel(kChargeTypeTerm), chargeType.Text());
        return false;
    }

    if (const std::string group = taxGroup.Text(); !group.empty()) {
        const std::string taxName = TermLabel(kTaxGroupTerm);
        if (!c.usingTax) {
            messages.push_back(Msg(12409, taxName, group, ModeWord("was not/will not be", c.converting),
                                   ModeWord("935/936", c.converting)));
            taxGroup.Clear();
        } else if (c.txm == 0) {
            reason = Msg(12410, taxName, group);
            return false;
        } else {
            const Found found = FindRecord(c.txm, 2, {{"GROUP", group}}, {nullptr, true});
            if (!found) {
                reason = Msg(12411, taxName, group, group);
                return false;
            }
            taxGroup.Put(found.stored[0]);
        }
    }

    // A charge without a prefix posts under its property's.
    if (prefix.Text().empty()) {
        prefix.Put(PropertyPrefix(c, property.Text()));
        return true;
    }
    return PrefixStep(c, prefix, reason);
}

bool ConvertPropertyTax(const PmpRecordContext& c, std::string& reason, convert::MessageList&) {
    constexpr uint16_t R = kPmpPropertyTax;
    const Field property(c.pmp, R, "PTPROP"), taxId(c.pmp, R, "PTTXID"), year(c.pmp, R, "PTYEAR");
    if (!RequireKey(property, reason) || !RequireFields({&taxId}, property, reason)) return false;
    // The year is part of the key: a line must give it, a year 0 included.
    if (c.import && !c.import->xvlImpWasItImported(c.formatId, "PTYEAR")) {
        reason = Msg(12381, year.Label(), TermLabel(kPropertyTerm), property.Text());
        return false;
    }
    return PropertyStep(c, property, reason) &&
           YearStep(year, TermLabel(kPropertyTerm) + " tax year", reason);
}

bool ConvertPropertyInsurance(const PmpRecordContext& c, std::string& reason, convert::MessageList&) {
    constexpr uint16_t R = kPmpInsurance;
    const Field property(c.pmp, R, "PIPROP"), type(c.pmp, R, "PIINSTY"), sequence(c.pmp, R, "PISEQ");
    if (!RequirePropertyLink(c, property, {&type}, reason)) return false;
    if (std::string value = type.Text(); c.state->insuranceTypes.Spelling(value)) type.Put(value);
    if (!IsZero(sequence.Number())) return true;  // a number given is kept as it is
    double next = 0;
    if (NextSequenceNumber(c.pmp, R, {"PIPROP"}, "PISEQ", c.Scope(), next)) return true;
    reason = Msg(12433, "Insurance", property.Text());
    return false;
}

bool ConvertPropertySfType(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages) {
    constexpr uint16_t R = kPmpSfType;
    const Field property(c.pmp, R, "PFPROP"), sfType(c.pmp, R, "PFSFTYP"), track(c.pmp, R, "PFTRACK"),
        occupancy(c.pmp, R, "PFCOCC");
    if (!RequirePropertyLink(c, property, {&sfType}, reason)) return false;
    if (std::string value = sfType.Text(); c.state->sfTypes.Spelling(value)) sfType.Put(value);
    if (track.Result() == 0 && !IsZero(occupancy.Number())) {
        messages.push_back(Msg(12428, Millionths(occupancy.Number()),
                               ModeWord("was not converted/will not convert", c.converting),
                               ModeWord("959/960", c.converting)));
        occupancy.Put(0.0);
    }
    return OccupancyInRange(occupancy, reason);
}

bool ConvertMonthlyOccupancy(const PmpRecordContext& c, std::string& reason, convert::MessageList&) {
    constexpr uint16_t R = kPmpMonthlyOccupancy;
    const Field property(c.pmp, R, "PMPROP"), sfType(c.pmp, R, "PMSFTYP"), month(c.pmp, R, "PMMYR"),
        occupancy(c.pmp, R, "PMOCC");
    return RequirePropertyLink(c, property, {&sfType, &month}, reason) &&
           SfTypeLink(c, property, sfType, "Occupancy - monthy", reason) &&
           OccupancyInRange(occupancy, reason);
}

bool ConvertCalYearOccupancy(const PmpRecordContext& c, std::string& reason, convert::MessageList&) {
    constexpr uint16_t R = kPmpCalYearOccupancy;
    const Field property(c.pmp, R, "PCYPROP"), sfType(c.pmp, R, "PCYSFT"), year(c.pmp, R, "PCYYEAR"),
        occupancy(c.pmp, R, "PCYOCC");
    const std::string term = TermLabel(kPropertyTerm);
    uint16_t tracking = 0;
    if (!RequireKey(property, reason) || !RequireFields({&sfType, &year}, property, reason) ||
        !YearStep(year, term + " occupancy - cal yr year", reason) ||
        !PropertyTracking(c, property, tracking, reason) ||
        !SfTypeLink(c, property, sfType, "Occupancy - cal yr", reason))
        return false;
    if (tracking / 10 == 0) {
        reason = Msg(12431, term + " occupancy - cal yr");
        return false;
    }
    return OccupancyInRange(occupancy, reason);
}

bool ConvertFiscalYearOccupancy(const PmpRecordContext& c, std::string& reason, convert::MessageList&) {
    constexpr uint16_t R = kPmpFiscalYearOccupancy;
    const Field property(c.pmp, R, "PFYPROP"), sfType(c.pmp, R, "PFYSFT"), yearEnd(c.pmp, R, "PFYFYE"),
        occupancy(c.pmp, R, "PFYOCC");
    const std::string term = TermLabel(kPropertyTerm);
    uint16_t tracking = 0;
    if (!RequireKey(property, reason) || !RequireFields({&sfType, &yearEnd}, property, reason) ||
        !PropertyTracking(c, property, tracking, reason) ||
        !SfTypeLink(c, property, sfType, "Occupancy - fisc yr", reason))
        return false;
    if (tracking % 10 == 0) {
        reason = Msg(12432, term + " occupancy - fisc yr");
        return false;
    }
    // The fiscal year end must be the last day of a fiscal year of the property's calendar.
    const std::string prefix = PropertyPrefix(c, property.Text());
    const std::string shown = GlText(prefix, suite::kGlPrefix);
    x_date_type periodEnd, fiscalEnd;
    if (!FiscalDates(c, prefix, yearEnd.Date(), periodEnd, fiscalEnd)) {
        reason = Msg(12399, shown);
        return false;
    }
    const x_date_type given = yearEnd.Date();
    if (fiscalEnd.month != given.month || fiscalEnd.day != given.day || fiscalEnd.year != given.year) {
        reason = Msg(12402, DateText(given), shown);
        return false;
    }
    return OccupancyInRange(occupancy, reason);
}

}  // namespace dz::pm
