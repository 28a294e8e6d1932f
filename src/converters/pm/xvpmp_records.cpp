// The handlers of the PM property file's records: late charges, units, unit SF types, lease
// units, unit history, checklist items and misc income sources, and the provisional handler of
// the property record and its other detail records. Each checks the record staged in the property
// file's buffer, corrects it there and returns false with the first fault's text as the reason.
#include "converters/pm/xvpmp.h"

#include "convert/texts.h"
#include "platform/datafile/xio.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"

namespace dz::pm {

namespace {

using Field = StagedField;

// ---- The steps the handlers share ------------------------------------------------------------------

// The record's property (its first key field) is required: 12380.
bool RequireKey(const Field& property, std::string& reason) {
    if (!property.Blank()) return true;
    reason = Msg(12380, property.Label());
    return false;
}

// A further field is required: 12381 naming it, the property term and the record's property.
bool RequireFields(std::initializer_list<const Field*> fields, const Field& property, std::string& reason) {
    for (const Field* f : fields) {
        if (!f->Blank()) continue;
        reason = Msg(12381, f->Label(), TermLabel(kPropertyTerm), property.Text());
        return false;
    }
    return true;
}

// The property on file takes its stored spelling; examining, one met earlier in the text file is
// taken as given. Otherwise 12412.
bool PropertyStep(const PmpRecordContext& c, const Field& property, std::string& reason) {
    const std::string given = property.Text();
    auto& onFile = c.state->propertiesOnFile;
    if (const auto it = onFile.find(given); it != onFile.end()) {
        property.Put(it->second);
        return true;
    }
    const Found found = FindProperty(c.pmp, given, c.Scope());
    if (found.where == Found::OnFile) {
        property.Put(found.stored[0]);
        onFile.emplace(given, found.stored[0]);
    }
    if (found) return true;
    reason = PropertyMissingText(12412, property.Text());
    return false;
}

// The unit on file takes its stored spelling; examining, one met earlier in the text file is
// taken as given. Otherwise 12434.
bool UnitStep(const PmpRecordContext& c, const Field& property, const Field& unit, std::string& reason) {
    const Found found = FindUnit(c.pmp, property.Text(), unit.Text(), c.Scope());
    if (found.where == Found::OnFile) unit.Put(found.stored[1]);
    if (found) return true;
    reason = UnitMissingText(12434, property.Text(), unit.Text());
    return false;
}

// ---- Late charges ----------------------------------------------------------------------------------------

// One late-charge step: its fields are the first step's, `step` strides further on.
struct LateChargeStep {
    int n;  // 1 to 3
    Field active, type, frequency, frequencyDays, repeat, startFormula, calc, amount, percent, rate, formula, grace,
        graceFormula, graceDays, interestStart, maxDays;
    LateChargeStep(uint16_t pmp, int step, int stride)
        : n(step),
          active(At(pmp, "PLACT1", step, stride)),
          type(At(pmp, "PLCALC1", step, stride)),
          frequency(At(pmp, "PLFREQ1", step, stride)),
          frequencyDays(At(pmp, "PLFRQD1", step, stride)),
          repeat(At(pmp, "PLREP1", step, stride)),
          startFormula(At(pmp, "PLSTF1", step, stride)),
          calc(At(pmp, "PLCGCL1", step, stride)),
          amount(At(pmp, "PLAMT1", step, stride)),
          percent(At(pmp, "PLPCT1", step, stride)),
          rate(At(pmp, "PLINRT1", step, stride)),
          formula(At(pmp, "PLFRML1", step, stride)),
          grace(At(pmp, "PLGDPC1", step, stride)),
          graceFormula(At(pmp, "PLGDF1", step, stride)),
          graceDays(At(pmp, "PLGCDY1", step, stride)),
          interestStart(At(pmp, "PLINT1", step, stride)),
          maxDays(At(pmp, "PLMAXD1", step, stride)) {}
    static Field At(uint16_t pmp, const char* first, int step, int stride) {
        return Field(Field(pmp, kPmpLateCharge, first), step - 1, stride);
    }
    std::string Label(const char* format) const { return FormatInt(format, n); }
};

std::string ChoiceShown(const Field& f) { return ChoiceValueText(f.file, f.no, f.Number()); }
std::string ItemShown(const Field& f, int item) { return ChoiceValueText(f.file, f.no, item); }

// A formula field that names no formula on file: 12419 (the field is kept).
void CheckFormula(const Field& f, bool converting, convert::MessageList& messages) {
    const std::string name = f.Text();
    if (name.empty() || FormulaExists(name)) return;
    messages.push_back(Msg(12419, name, ModeWord("converted/will convert", converting),
                           ModeWord("948/949", converting)));
}

// The step is off: every field not at its default goes back to it; the first one is named.
void ResetInactiveStep(const LateChargeStep& s, bool converting, convert::MessageList& messages) {
    struct Reset {
        const Field* field;
        enum Kind { Choice, Whole, Text, Money, Percent } kind;
    };
    const Reset fields[] = {{&s.type, Reset::Choice},          {&s.frequency, Reset::Choice},
                            {&s.frequencyDays, Reset::Whole},  {&s.repeat, Reset::Choice},
                            {&s.startFormula, Reset::Text},    {&s.calc, Reset::Choice},
                            {&s.amount, Reset::Money},         {&s.percent, Reset::Percent},
                            {&s.rate, Reset::Text},            {&s.formula, Reset::Text},
                            {&s.grace, Reset::Choice},         {&s.graceFormula, Reset::Text},
                            {&s.graceDays, Reset::Whole},      {&s.interestStart, Reset::Whole},
                            {&s.maxDays, Reset::Whole}};
    bool named = false;
    for (const auto& [f, kind] : fields) {
        std::string shown;
        switch (kind) {
        case Reset::Choice:
            if (f->Result() == 1) continue;
            shown = ChoiceShown(*f);
            f->Put(1.0);
            break;
        case Reset::Text:
            if (f->Text().empty()) continue;
            shown = f->Text();
            f->Clear();
            break;
        default:
            if (IsZero(f->Number())) continue;
            shown = kind == Reset::Money ? Amount(f->Number())
                    : kind == Reset::Percent ? Millionths(f->Number())
                                             : WholeText(f->Number());
            f->Put(0.0);
            break;
        }
        if (named) continue;
        named = true;
        messages.push_back(Msg(12413, std::to_string(s.n), f->Label(), shown,
                               ModeWord("were not converted/will not convert", converting),
                               ModeWord("940/941", converting)));
    }
}

bool CheckActiveStep(const PmpRecordContext& c, const LateChargeStep& s, std::string& reason,
                     convert::MessageList& messages) {
    const bool conv = c.converting;
    const int type = s.type.Result(), calc = s.calc.Result(), grace = s.grace.Result();
    const std::string step = std::to_string(s.n);
    // The field does not apply to the step's type, calc or grace period: reset, with 12417.
    auto notApplicable = [&](const Field& f, const std::string& shown, const char* label, const std::string& needed) {
        messages.push_back(Msg(12417, f.Label(), shown, ModeWord("were not converted/will not convert", conv),
                               s.Label(label), needed, ModeWord("945/946", conv)));
    };

    // 1. The calc type must suit the late charge type.
    if ((type == 1 && calc == 6) || (type == 2 && calc != 2 && calc != 3) || (type == 3 && calc != 6)) {
        reason = Msg(12414, step, ItemShown(s.calc, calc), step, ItemShown(s.type, type));
        return false;
    }
    // 2. Fee: frequency days only with "Every".
    if (type == 1) {
        if (s.frequency.Result() == 3) {
            if (s.frequencyDays.Number() <= 0) {
                reason = Msg(12415, step, step);
                return false;
            }
        } else if (!IsZero(s.frequencyDays.Number())) {
            messages.push_back(Msg(12416, step, ModeWord("was not converted/will not convert", conv), step,
                                   ModeWord("943/944", conv)));
            s.frequencyDays.Put(0.0);
        }
    }
    // 3, 4. A formula only for type 3, an interest start only for type 2.
    if ((type == 1 || type == 2) && !s.formula.Text().empty()) {
        notApplicable(s.formula, s.formula.Text(), "Late charge type %d", "Formula (3)");
        s.formula.Clear();
    }
    if ((type == 1 || type == 3) && !IsZero(s.interestStart.Number())) {
        notApplicable(s.interestStart, WholeText(s.interestStart.Number()), "Late charge type %d", "Interest (2)");
        s.interestStart.Put(0.0);
    }
    // 5. Interest needs its start.
    if (type == 2 && IsZero(s.interestStart.Number())) {
        reason = Msg(12418, step, step);
        return false;
    }
    // 6. Interest and formula charges are not fees: no frequency or repeat of their own.
    if (type == 2 || type == 3) {
        if (s.frequency.Result() != 1) {
            notApplicable(s.frequency, ChoiceShown(s.frequency), "Late charge type %d", "Fee (1)");
            s.frequency.Put(1.0);
        }
        if (!IsZero(s.frequencyDays.Number())) {
            notApplicable(s.frequencyDays, WholeText(s.frequencyDays.Number()), "Late charge type %d", "Fee (1)");
            s.frequencyDays.Put(0.0);
        }
        if (s.repeat.Result() != 1) {
            notApplicable(s.repeat, ChoiceShown(s.repeat), "Late charge type %d", "Fee (1)");
            s.repeat.Put(1.0);
        }
    }
    // 7. The formula of a formula charge.
    if (s.formula.Text().empty()) {
        if (type == 3) {
            reason = Msg(12422, s.formula.Label(), s.Label("Late charge type %d"), ItemShown(s.type, 3));
            return false;
        }
    } else {
        CheckFormula(s.formula, conv, messages);
    }
    // 8, 9. The amount and percent the calc type uses (kept even when zero).
    if ((calc == 1 || calc == 4 || calc == 5) && IsZero(s.amount.Number()))
        messages.push_back(Msg(12438, "flat amount", s.amount.Label()));
    if ((calc == 2 || calc == 4 || calc == 5) && IsZero(s.percent.Number()))
        messages.push_back(Msg(12438, "percent", s.percent.Label()));
    // 10. The interest rate of calc 3: on file (its stored spelling) or, examining, met earlier.
    if (calc == 3) {
        if (s.rate.Text().empty()) {
            reason = Msg(12420, s.rate.Label(), step, ItemShown(s.calc, 3));
            return false;
        }
        const Found found = FindRecord(c.pms, kPmsInterestRate, {{"VALID", s.rate.Text()}}, c.Scope());
        if (!found) {
            reason = Msg(12421, s.rate.Label(), s.rate.Text());
            return false;
        }
        if (found.where == Found::OnFile) s.rate.Put(found.stored[0]);
    }
    // 11-13. What the calc type does not use (calc 6, a formula, keeps amount and percent).
    if (calc != 1 && calc != 4 && calc != 5 && calc != 6 && !IsZero(s.amount.Number())) {
        notApplicable(s.amount, Amount(s.amount.Number()), "Calc type %d", "Flat Amount (1, 4, or 5)");
        s.amount.Put(0.0);
    }
    if (calc != 2 && calc != 4 && calc != 5 && calc != 6 && !IsZero(s.percent.Number())) {
        notApplicable(s.percent, Millionths(s.percent.Number()), "Calc type %d", "Percentage (2, 4, or 5)");
        s.percent.Put(0.0);
    }
    if (calc != 3 && !s.rate.Text().empty()) {
        notApplicable(s.rate, s.rate.Text(), "Calc type %d", ItemShown(s.calc, 3));
        s.rate.Clear();
    }
    // 14, 15. Grace days or a grace formula, as the grace period calc says.
    if (grace == 1 && !s.graceFormula.Text().empty()) {
        notApplicable(s.graceFormula, s.graceFormula.Text(), "Grace period calc %d", "Grace Formula (2)");
        s.graceFormula.Clear();
    } else if (grace == 2) {
        if (!IsZero(s.graceDays.Number())) {
            notApplicable(s.graceDays, WholeText(s.graceDays.Number()), "Grace period calc %d", "Grace Days (1)");
            s.graceDays.Put(0.0);
        }
        if (s.graceFormula.Text().empty()) {
            reason = Msg(12422, s.graceFormula.Label(), s.Label("Grace period calc %d"), ItemShown(s.grace, 2));
            return false;
        }
        CheckFormula(s.graceFormula, conv, messages);
    }
    // 16. The start formula.
    CheckFormula(s.startFormula, conv, messages);
    return true;
}

// ---- Unit history ------------------------------------------------------------------------------------------

bool ConvertUnitHistory(const PmpRecordContext& c, uint16_t rec, const char* propertyName, const char* unitName,
                        const char* dateName, const char* label, std::string& reason) {
    const Field property(c.pmp, rec, propertyName), unit(c.pmp, rec, unitName), date(c.pmp, rec, dateName);
    if (!RequireKey(property, reason) || !RequireFields({&unit, &date}, property, reason) ||
        !PropertyStep(c, property, reason) || !UnitStep(c, property, unit, reason))
        return false;

    // The property's period ending date: on file, or examining, as the text file gave it.
    x_date_type periodEnd;
    if (ReadByKey(c.pmp, kPmpProperty, "PROP", property.Text())) {
        periodEnd = GetDate(c.pmp, kPmpProperty, "PPEREND");
    } else if (!c.converting) {
        std::string key = property.Text();
        suite::x_capitalize(key);
        if (const auto it = c.state->propertyPeriodEnds.find(key); it != c.state->propertyPeriodEnds.end())
            periodEnd = it->second;
    }
    if (IsBlank(periodEnd) || suite::xd_compare_dates(periodEnd, date.Date()) >= 0) return true;
    const std::string key = (property.Text() + ", " + unit.Text() + ", " + DateText(date.Date())).substr(0, 80);
    reason = Msg(12442, label, key, TermLabel(kPropertyTerm), DateText(periodEnd));
    return false;
}

}  // namespace

// ---- Late charge ---------------------------------------------------------------------------------------------

bool ConvertPropertyLateCharge(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages) {
    const uint16_t pmp = c.pmp;
    const Field description(pmp, kPmpLateCharge, "PLDESC"), property(pmp, kPmpLateCharge, "PLPROP");
    if (!description.Text().empty()) convert::CrToCrLf(pmp, description.no);
    if (!RequireKey(property, reason) || !PropertyStep(c, property, reason)) return false;

    // Steps 2 and 3 lie one step's width of field numbers after step 1, field for field.
    const int stride = FieldNo(pmp, kPmpLateCharge, "PLACT2") - FieldNo(pmp, kPmpLateCharge, "PLACT1");
    for (int n = 1; n <= 3; ++n) {
        const LateChargeStep step(pmp, n, stride);
        if (step.active.Result() == 0)
            ResetInactiveStep(step, c.converting, messages);
        else if (!CheckActiveStep(c, step, reason, messages))
            return false;
    }
    return true;
}

// ---- Units ----------------------------------------------------------------------------------------------------

bool ConvertUnit(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages) {
    constexpr uint16_t R = kPmpUnitRecord;
    const Field property(c.pmp, R, "UPROP"), unit(c.pmp, R, "UNIT"), unitClass(c.pmp, R, "UCLASS");
    if (!RequireKey(property, reason) || !RequireFields({&unit, &unitClass}, property, reason) ||
        !PropertyStep(c, property, reason))
        return false;
    if (std::string value = unitClass.Text(); c.state->unitClasses.Spelling(value)) unitClass.Put(value);
    // The current tenant and lease come from the leases when they are converted.
    const std::pair<const char*, int> current[] = {{"UCURTEN", kTenantTerm}, {"UCURLES", kLeaseTerm}};
    for (const auto& [name, term] : current) {
        const Field f(c.pmp, R, name);
        if (f.Text().empty()) continue;
        messages.push_back(Msg(12854, "Current " + TermLabel(term, false), f.Text()));
        f.Clear();
    }
    return true;
}

bool ConvertUnitSfType(const PmpRecordContext& c, std::string& reason, convert::MessageList&) {
    constexpr uint16_t R = kPmpUnitSfType;
    const Field property(c.pmp, R, "UFPROP"), unit(c.pmp, R, "UFUNIT"), sfType(c.pmp, R, "UFSFTYP"),
        date(c.pmp, R, "UFDATE");
    if (!RequireKey(property, reason) || !RequireFields({&unit, &sfType, &date}, property, reason) ||
        !PropertyStep(c, property, reason) || !UnitStep(c, property, unit, reason))
        return false;
    if (std::string value = sfType.Text(); c.state->sfTypes.Spelling(value)) sfType.Put(value);
    return true;
}

bool ConvertLeaseUnit(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages) {
    constexpr uint16_t R = kPmpLeaseUnit;
    const Field property(c.pmp, R, "LUPROP"), unit(c.pmp, R, "LUUNIT"), lease(c.pmp, R, "LULEASE"),
        dummy(c.pmp, R, "LUDUMMY");
    if (!RequireKey(property, reason) || !RequireFields({&unit, &lease}, property, reason) ||
        !PropertyStep(c, property, reason) || !UnitStep(c, property, unit, reason))
        return false;
    // The lease itself is linked by the lease conversion.
    if (!IsZero(dummy.Number())) {
        messages.push_back(Msg(12385, "Dummy", WholeText(dummy.Number()), ModeWord("was not/will not be", c.converting),
                               ModeWord("906/907", c.converting)));
        dummy.Put(0.0);
    }
    return true;
}

bool ConvertUnitLeaseHistory(const PmpRecordContext& c, std::string& reason, convert::MessageList&) {
    return ConvertUnitHistory(c, kPmpUnitLeaseHistory, "ULHPROP", "ULHUNIT", "ULHDATE", "Leasing history", reason);
}

bool ConvertUnitOccupancyHistory(const PmpRecordContext& c, std::string& reason, convert::MessageList&) {
    return ConvertUnitHistory(c, kPmpUnitOccupancyHistory, "UOHPROP", "UOHUNIT", "UOHDATE", "Occupancy history",
                              reason);
}

// ---- Checklist items and misc income sources ---------------------------------------------------------------

bool ConvertPropertyChecklistItem(const PmpRecordContext& c, std::string& reason, convert::MessageList&) {
    constexpr uint16_t R = kPmpChecklistItem;
    const Field property(c.pmp, R, "PPPROP"), text(c.pmp, R, "PPTEXT"), type(c.pmp, R, "PPTYPE"),
        number(c.pmp, R, "PPNUM");
    if (!RequireKey(property, reason) || !RequireFields({&text}, property, reason) ||
        !PropertyStep(c, property, reason))
        return false;
    if (!IsZero(number.Number())) return true;  // a number given is kept as it is
    double next = 0;
    if (NextSequenceNumber(c.pmp, R, {"PPPROP", "PPTYPE"}, "PPNUM", c.Scope(), next)) return true;
    reason = Msg(12433, "Checklist item", property.Text() + ", " + ChoiceShown(type));
    return false;
}

bool ConvertMiscIncomeSource(const PmpRecordContext& c, std::string& reason, convert::MessageList&) {
    constexpr uint16_t R = kPmpMiscIncomeSource;
    const Field property(c.pmp, R, "MIPROP"), source(c.pmp, R, "MISRC"), description(c.pmp, R, "MIDESC"),
        account(c.pmp, R, "MIGL");
    if (!RequireKey(property, reason) || !RequireFields({&source, &description, &account}, property, reason) ||
        !PropertyStep(c, property, reason))
        return false;
    // GL accounts come from the GL master file only, never from earlier lines.
    const Found found = FindGlAccount(c.glm, account.Text(), {nullptr, true});
    if (!found) {
        reason = Msg(12435, GlText(account.Text(), 0), TermLabel(kMiscIncomeTerm, false));
        return false;
    }
    account.Put(found.stored[0]);
    return true;
}

// ---- The records still to be given their own rules -----------------------------------------------------------

bool ConvertPropertyRecordProvisional(const PmpRecordContext& c, uint16_t rec, std::string& reason) {
    const auto* keys = xio_primary_key_fields(c.pmp, rec);
    if (keys == nullptr || keys->empty()) return true;
    const Field property(c.pmp, rec, keys->front());
    if (!RequireKey(property, reason)) return false;
    return rec == kPmpProperty || PropertyStep(c, property, reason);
}

}  // namespace dz::pm
