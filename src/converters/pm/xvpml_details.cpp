// Lease modifications and options, recurring charges and their log. Each checks the record staged
// in the lease file's buffer, corrects it there and returns false with the first fault's text as
// the reason; warnings go to the record's message list.
#include "converters/pm/xvpml.h"

#include "convert/texts.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"

namespace dz::pm {

using namespace convert;

namespace {

using Field = StagedField;

// The word of a frequency's item number as charge descriptions show it; empty for any other.
const char* FrequencyWord(int code) {
    static const char* const kWords[] = {"week", "biweek", "month", "quarter", "half-year", "year"};
    return code >= 1 && code <= 6 ? kWords[code - 1] : "";
}

}  // namespace

std::string RecurringFrequencyWord(int code) { return FrequencyWord(code); }

// ---- Lease modification ----------------------------------------------------------------------------------

bool xvPML::ConvertLeaseModification(uint16_t pml, xvl::xvlImpInfo&, std::string& reason, convert::MessageList&,
                                     bool converting) {
    constexpr uint16_t R = kPmlModification;
    const Field lease(pml, R, "LMLEASE"), revision(pml, R, "LMREV"), date(pml, R, "LMDATE"),
        newLease(pml, R, "LMNLS"), newRevision(pml, R, "LMNREV");
    const LookupScope scope{&RecordIds(), converting};
    for (const Field* f : {&lease, &date})
        if (f->Blank()) {
            reason = Msg(12445, f->Label());
            return false;
        }
    if (!ChildLease(m_leaseCache, pml, lease, revision, scope, reason)) return false;
    if (!newLease.Text().empty() && !ChildLease(m_leaseCache, pml, newLease, newRevision, scope, reason)) {
        reason = Msg(12859, "New " + TermLabel(kLeaseTerm) + ", New " + TermLabel(kRevisionTerm),
                     LeaseKeyText(newLease.Text(), newRevision.Number()));
        return false;
    }
    PutText(pml, R, "LMOLCMB", LeaseKeyText(lease.Text(), revision.Number()));
    if (!newLease.Text().empty()) PutText(pml, R, "LMNLCMB", LeaseKeyText(newLease.Text(), newRevision.Number()));
    return true;
}

// ---- Lease option ------------------------------------------------------------------------------------------

bool xvPML::ConvertLeaseOption(uint16_t pml, xvl::xvlImpInfo&, std::string& reason, convert::MessageList& messages,
                               bool converting, uint16_t pmp) {
    constexpr uint16_t R = kPmlOption;
    const Field description(pml, R, "LODESC"), lease(pml, R, "LOLEASE"), revision(pml, R, "LOREV"),
        sequence(pml, R, "LOSEQ"), category(pml, R, "LOCAT"), property(pml, R, "LOPROP"), unit(pml, R, "LOUNIT");
    const LookupScope scope{&RecordIds(), converting};
    if (!description.Text().empty()) convert::CrToCrLf(pml, description.no);
    if (lease.Text().empty()) {
        reason = Msg(12445, lease.Label());
        return false;
    }
    if (!ChildLease(m_leaseCache, pml, lease, revision, scope, reason)) return false;
    // Convert refuses a number already on file; Examine Files one that ran past 999 over the
    // options earlier in the text file, which Convert could never give either.
    double number = sequence.Number();
    if (IsZero(number) && !NextSequenceNumber(pml, R, {"LOLEASE", "LOREV"}, "LOSEQ", scope, number)) {
        reason = Msg(12471, TermLabel(kLeaseTerm) + " Option record",
                     lease.Text() + ", " + WholeText(revision.Number()));
        return false;
    }
    std::string spelling = category.Text();
    if (m_list423.Spelling(spelling)) category.Put(spelling);

    if (property.Text().empty()) {
        if (!unit.Text().empty()) {
            messages.push_back(Msg(12472, TermLabel(kUnitTerm), TermLabel(kPropertyTerm), TermLabel(kUnitTerm),
                                   unit.Text(), ModeWord("not converted/will not convert", converting),
                                   ModeWord("1140/1141", converting)));
            unit.Put(std::string());
        }
        return true;
    }
    // Property and unit come from the property file only: this conversion writes neither.
    const std::string storedProperty = ReadOnce("property\t" + property.Text(), [&] {
        const Found found = FindProperty(pmp, property.Text(), {nullptr, true});
        return found ? found.stored[0] : std::string();
    });
    if (storedProperty.empty()) {
        reason = PropertyMissingText(12452, property.Text());
        return false;
    }
    property.Put(storedProperty);
    if (unit.Text().empty()) return true;
    const std::string storedUnit = StoredUnit(pmp, storedProperty, unit.Text());
    if (storedUnit.empty()) {
        reason = UnitMissingText(12453, storedProperty, unit.Text());
        return false;
    }
    unit.Put(storedUnit);
    return true;
}

// ---- Recurring charge --------------------------------------------------------------------------------------

bool xvPML::ConvertRecurringCharge(uint16_t pml, xvl::xvlImpInfo& info, std::string& reason,
                                   convert::MessageList& messages, bool converting, uint16_t pmp, uint16_t pms,
                                   xvl::xvlImport& import) {
    constexpr uint16_t R = kPmlRecurringCharge;
    const Field lease(pml, R, "RCLEASE"), revision(pml, R, "RCREV"), chargeType(pml, R, "RCCT"),
        unit(pml, R, "RCUNIT"), sfType(pml, R, "RCSQFT"), demand(pml, R, "RCDMND"), amountType(pml, R, "RCAMTT"),
        formula(pml, R, "RCFORM"), deposit(pml, R, "RCAFDEP"), next(pml, R, "RCNDATE"), last(pml, R, "RCLSDT"),
        end(pml, R, "RCTDATE");
    const LookupScope scope{&RecordIds(), converting};
    if (lease.Text().empty()) {
        reason = Msg(12445, lease.Label());
        return false;
    }
    for (const Field* f : {&chargeType, &unit, &sfType})
        if (f->Blank()) {
            reason = Msg(12446, f->Label(), LeaseKeyLabel(), LeaseKeyText(lease.Text(), revision.Number()));
            return false;
        }
    const Found leaseFound = ChildLease(m_leaseCache, pml, lease, revision, scope, reason);
    if (!leaseFound) return false;
    // The lease's property: on file, or (examining) that of the lease earlier in the text file.
    std::string property;
    if (leaseFound.where == Found::OnFile) {
        property = m_leaseCache.Last().property;
        PutText(pml, R, "RCPROP", property);
    } else if (const auto examined = m_examinedLeaseProperties.Find(UpperKey(lease.Text()))) {
        property = *examined;
    }
    if (!TakeUnit(pmp, property, unit, reason)) return false;

    if (!TakeChargeType(pms, chargeType, reason)) return false;
    // A charge without a frequency would be a one-time charge, which the suite no longer keeps.
    if (!import.xvlImpWasItImported(info.FormatID(), "RCFREQ")) {
        reason = Msg(12485);
        return false;
    }
    // Item 1 ("None") is what a charge without an on-demand type holds.
    if (demand.Result() > 1) {
        messages.push_back(Msg(12486, "On demand type", ShownValue(demand),
                               ModeWord("was not/will not be", converting), ModeWord("1159/1160", converting)));
        demand.Clear();
    }
    const int amountResult = amountType.Result();
    if (!formula.Text().empty()) {
        if (amountResult == 2) {
            if (!FormulaExists(formula.Text()) && !FormulaExists(formula.Text()))
                messages.push_back(Msg(12482, formula.Text(), ModeWord("converted/will convert", converting),
                                       ModeWord("1154/1155", converting)));
        } else {
            messages.push_back(Msg(12480, "Formula", formula.Text(),
                                   ModeWord("was not converted/will not convert", converting), "Determine amount from",
                                   "Formula (2)", ModeWord("1151/1152", converting)));
            formula.Put(std::string());
        }
    }
    std::string spelling = sfType.Text();
    if (m_list417.Spelling(spelling)) sfType.Put(spelling);
    spelling = deposit.Text();
    if (!spelling.empty() && m_list422.Spelling(spelling)) deposit.Put(spelling);

    if (!next.Blank()) {
        if (suite::xd_compare_dates(next.Date(), last.Date()) < 1) {
            reason = Msg(12487, DateText(next.Date()), DateText(last.Date()));
            return false;
        }
    } else if (last.Blank() || end.Blank() || suite::xd_compare_dates(end.Date(), last.Date()) >= 1) {
        messages.push_back(Msg(12488));
    }
    if (amountResult == 2) PutText(pml, R, "RCADESC", std::string("Formula / ") + FrequencyWord(Field(pml, R, "RCFREQ").Result()));
    return true;
}

// ---- Recurring charge log ------------------------------------------------------------------------------------

bool xvPML::ConvertRecurringChargeLog(uint16_t pml, xvl::xvlImpInfo& info, std::string& reason,
                                      convert::MessageList&, bool converting, xvl::xvlImport& import) {
    constexpr uint16_t R = kPmlRecurringLog;
    const Field lease(pml, R, "RCLLEAS"), revision(pml, R, "RCLREV"), chargeType(pml, R, "RCLCT"),
        unit(pml, R, "RCLUNIT"), effective(pml, R, "RCLEFDT");
    if (lease.Text().empty()) {
        reason = Msg(12445, lease.Label());
        return false;
    }
    for (const Field* f : {&chargeType, &unit, &effective})
        if (f->Blank()) {
            reason = Msg(12446, f->Label(), TermLabel(kLeaseTerm), lease.Text());
            return false;
        }
    const WrittenCharge& written = m_lastCharge;
    if (converting && written.kept && written.revision == revision.Number() && written.lease == lease.Text() &&
        written.chargeType == chargeType.Text() && written.unit == unit.Text()) {
        return CheckLogAmountType(written.amountType, lease.Text(), chargeType.Text(), unit.Text(), info, import, reason);
    }
    const Found charge = FindRecord(pml, kPmlRecurringCharge,
                                    {{"RCLEASE", lease.Text()},
                                     {"RCREV", revision.Number()},
                                     {"RCCT", chargeType.Text()},
                                     {"RCUNIT", unit.Text()}},
                                    {&RecordIds(), converting});
    int amountType = 0;
    if (charge.where == Found::OnFile) {
        lease.Put(charge.stored[0]);
        revision.Put(GetNumber(pml, kPmlRecurringCharge, "RCREV"));
        chargeType.Put(charge.stored[2]);
        unit.Put(charge.stored[3]);
        amountType = Field(pml, kPmlRecurringCharge, "RCAMTT").Result();
    } else if (charge.where == Found::EarlierInText) {
        amountType = charge.value;
    } else {
        reason = Msg(12489, (lease.Text() + ", " + WholeText(revision.Number()) + ", " + chargeType.Text() + ", " +
                             unit.Text())
                                .substr(0, 199));
        return false;
    }
    return CheckLogAmountType(amountType, lease.Text(), chargeType.Text(), unit.Text(), info, import, reason);
}

bool xvPML::CheckLogAmountType(int amountType, const std::string& lease, const std::string& chargeType,
                               const std::string& unit, xvl::xvlImpInfo& info, xvl::xvlImport& import,
                               std::string& reason) {
    if (amountType != 1) {
        reason = Msg(12490, lease + ", " + chargeType + ", " + unit);
        return false;
    }
    if (!import.xvlImpWasItImported(info.FormatID(), "RCLFREQ")) {
        reason = Msg(12491);
        return false;
    }
    return true;
}

}  // namespace dz::pm
