// The handlers of the PM property file's records: late charges, units, unit SF types, lease
// units, unit history, checklist items and misc income sources, and the steps every handler of
// the property file shares. Each checks the record staged in the property
// file's buffer, corrects it there and returns false with the first fault's text as the reason.
#include "converters/pm/xvpmp.h"

#include "converters/pm/pm_late_charge.h"

#include "convert/texts.h"
#include "platform/datafile/xio.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"

namespace dz::pm {

using namespace convert;

// ---- The steps the handlers share ------------------------------------------------------------------

bool RequireKey(const StagedField& property, std::string& reason) {
    if (!property.Blank()) return true;
    reason = Msg(12380, property.Label());
    return false;
}

bool RequireFields(std::initializer_list<const StagedField*> fields, const StagedField& property, std::string& reason) {
    for (const StagedField* f : fields) {
        if (!f->Blank()) continue;
        reason = Msg(12381, f->Label(), TermLabel(kPropertyTerm), property.Text());
        return false;
    }
    return true;
}

bool PropertyStep(const PmpRecordContext& c, const StagedField& property, std::string& reason) {
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

bool RequirePropertyLink(const PmpRecordContext& c, const StagedField& property,
                         std::initializer_list<const StagedField*> fields, std::string& reason) {
    return RequireKey(property, reason) && RequireFields(fields, property, reason) && PropertyStep(c, property, reason);
}

namespace {

using Field = StagedField;

// The unit on file takes its stored spelling; examining, one met earlier in the text file is
// taken as given. Otherwise 12434.
bool UnitStep(const PmpRecordContext& c, const Field& property, const Field& unit, std::string& reason) {
    const Found found = FindUnit(c.pmp, property.Text(), unit.Text(), c.Scope());
    if (found.where == Found::OnFile) unit.Put(found.stored[1]);
    if (found) return true;
    reason = UnitMissingText(12434, property.Text(), unit.Text());
    return false;
}

std::string ChoiceShown(const Field& f) { return ChoiceValueText(f.file, f.no, f.Number()); }

// ---- Unit history ------------------------------------------------------------------------------------------

bool ConvertUnitHistory(const PmpRecordContext& c, uint16_t rec, const char* propertyName, const char* unitName,
                        const char* dateName, const char* label, std::string& reason) {
    const Field property(c.pmp, rec, propertyName), unit(c.pmp, rec, unitName), date(c.pmp, rec, dateName);
    if (!RequirePropertyLink(c, property, {&unit, &date}, reason) || !UnitStep(c, property, unit, reason)) return false;

    // The property's period ending date: on file, or examining, as the text file gave it.
    x_date_type periodEnd;
    if (ReadByKey(c.pmp, kPmpProperty, "PROP", property.Text())) {
        periodEnd = GetDate(c.pmp, kPmpProperty, "PPEREND");
    } else if (!c.converting) {
        c.state->properties.Find(PropertyIdText(c.pmp, property.Text()), nullptr, &periodEnd);
    }
    if (IsUnsetDate(periodEnd) || suite::xd_compare_dates(periodEnd, date.Date()) >= 0) return true;
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

    static constexpr LateChargeMessages kTexts{12413, "940/941", 12414, 12415, 12416, "943/944", 12417,
                                               "were not converted/will not convert", "945/946", 12418, 12419,
                                               "948/949", 12422, 12438, nullptr, nullptr, 12420, 12421};
    return CheckLateChargeSteps(pmp, kPmpLateCharge, "PL", c.pms, c.Scope(), kTexts, reason, messages);
}

// ---- Units ----------------------------------------------------------------------------------------------------

bool ConvertUnit(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages) {
    constexpr uint16_t R = kPmpUnitRecord;
    const Field property(c.pmp, R, "UPROP"), unit(c.pmp, R, "UNIT"), unitClass(c.pmp, R, "UCLASS");
    if (!RequirePropertyLink(c, property, {&unit, &unitClass}, reason)) return false;
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
    if (!RequirePropertyLink(c, property, {&unit, &sfType, &date}, reason) || !UnitStep(c, property, unit, reason))
        return false;
    if (std::string value = sfType.Text(); c.state->sfTypes.Spelling(value)) sfType.Put(value);
    return true;
}

bool ConvertLeaseUnit(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages) {
    constexpr uint16_t R = kPmpLeaseUnit;
    const Field property(c.pmp, R, "LUPROP"), unit(c.pmp, R, "LUUNIT"), lease(c.pmp, R, "LULEASE"),
        dummy(c.pmp, R, "LUDUMMY");
    if (!RequirePropertyLink(c, property, {&unit, &lease}, reason) || !UnitStep(c, property, unit, reason))
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
    if (!RequirePropertyLink(c, property, {&text}, reason)) return false;
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
    if (!RequirePropertyLink(c, property, {&source, &description, &account}, reason)) return false;
    // GL accounts come from the GL master file only, never from earlier lines.
    const Found found = FindGlAccount(c.glm, account.Text(), {nullptr, true});
    if (!found) {
        reason = Msg(12435, GlText(account.Text(), 0), TermLabel(kMiscIncomeTerm, false));
        return false;
    }
    account.Put(found.stored[0]);
    return true;
}

}  // namespace dz::pm
