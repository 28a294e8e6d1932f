#include "converters/pm/xvpmv.h"

#include <cmath>

#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/import/xvl_messages.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"

namespace dz::pm {

using namespace convert;

namespace {

constexpr uint16_t kPmsCalcMethod = 5, kPmsChargeType = 1;
constexpr uint16_t kPmlRecurringCharge = 13;
constexpr uint16_t kPmpPropertyCharge = 5, kPmpSfType = 8;
constexpr int kRecoverableExpense = 3;

std::string ChargeTypeTerm() { return Term(kChargeTypeTerm); }

}  // namespace

namespace {

// The key of a kept answer of the PM system file: the file, the record and the value sought.
std::string SetupKey(uint16_t pms, uint16_t rec, const std::string& value) {
    std::string key;
    key.reserve(4 + value.size());
    key.append(reinterpret_cast<const char*>(&pms), sizeof pms).append(reinterpret_cast<const char*>(&rec), sizeof rec);
    return key.append(value);
}

// The record `rec` of the PM system file whose key field `keyField` holds `value`, the stored key
// copied back into the field `name` of `r`'s record when on file; `typeField` (when named) read.
RecoveryAnswers::Setup LookupSetup(const RecordChecks& r, uint16_t pms, uint16_t rec, const char* keyField,
                                   const char* typeField, const char* name, const std::string& value,
                                   RecoveryAnswers* answers) {
    if (answers) {
        if (const auto known = answers->setup.find(SetupKey(pms, rec, value)); known != answers->setup.end()) {
            if (known->second.onFile) PutText(r.file(), r.No(name), known->second.stored);
            return known->second;
        }
    }
    RecoveryAnswers::Setup found;
    found.onFile = r.LookupCopyBack(pms, rec, {{keyField, value}}, {name});
    if (found.onFile) {
        found.stored = GetText(pms, rec, keyField);
        if (typeField) found.type = xio_get_field_result(pms, 0, FieldNo(pms, rec, typeField));
    }
    if (answers) answers->setup.emplace(SetupKey(pms, rec, value), found);
    return found;
}

}  // namespace

bool CheckCalcMethod(const RecordChecks& r, uint16_t pms, const char* name, std::string_view label,
                     RecoveryAnswers* answers) {
    const std::string value = r.Text(name);
    const RecoveryAnswers::Setup method = LookupSetup(r, pms, kPmsCalcMethod, "CMID", "CMTYPE", name, value, answers);
    if (!method.onFile) return r.Reject(Msg(12637, value, label));
    if (method.type != kRecoverableExpense) {
        PutText(r.file(), r.No(name), value);  // the record is refused as given
        return r.Reject(Msg(12636, value, label));
    }
    return true;
}

bool CheckChargeType(const RecordChecks& r, uint16_t pms, const char* name, std::string_view label,
                     RecoveryAnswers* answers) {
    const std::string value = r.Text(name);
    if (!LookupSetup(r, pms, kPmsChargeType, "CT", nullptr, name, value, answers).onFile)
        return r.Reject(Msg(12638, value, label));
    return true;
}

namespace {

// "#400 429#": the property term (capital) and custom description 429.
std::string PropertySfTypeLabel() { return TermLabel(kPropertyTerm) + " " + Term(kOtherTerm); }

}  // namespace

bool CheckSfType(const RecordChecks& r, uint16_t pmp, const std::string& property, const char* name, bool tracking) {
    const std::string value = r.Text(name);
    const std::string key = property + ", " + value;
    if (FindRecord(pmp, kPmpSfType, {{"PFPROP", property}, {"PFSFTYP", value}}, LookupScope{nullptr, true}).where !=
        Found::OnFile)
        return r.Reject(Msg(12633, PropertySfTypeLabel(), key, r.Label(name)));
    if (tracking && xio_get_field_result(pmp, 0, FieldNo(pmp, kPmpSfType, "PFTRACK")) == 0)
        return r.Reject(Msg(12654, PropertySfTypeLabel(), key, r.Label(name)));
    PutText(r.file(), r.No(name), GetText(pmp, kPmpSfType, "PFSFTYP"));
    return true;
}

namespace {

// Budget type `type` of a marked escalation or fee group whose method is budgeted expenses: it
// must lie in 1..10 (12644) and its use-budget-type flag must be marked (12643).
bool CheckBudgetType(const RecordChecks& r, double type, const char* word) {
    const std::string shown = WholeText(type);
    if (type < 1 || type > 10) return r.Reject(Msg(12644, word, shown));
    const std::string flag = "PRCB" + shown;
    if (r.Result(flag.c_str()) == 0) return r.Reject(Msg(12643, word, shown, shown));
    return true;
}

}  // namespace

bool xvPMV::WholeMonths(const RecordChecks& r, const char* field) const {
    const double months = r.Number(field);
    if (months == std::trunc(months)) return true;
    int fld = 0, col = 0;
    if (import_) (void)import_->xvlImpFieldPlace(formatId_, field, fld, col);
    std::string reason = Msg(12920, FormatNumber("%g", months), std::to_string(fld), std::to_string(col));
    AppendReasonCode(reason, xvl::kErrNumberRange);
    return r.Reject(std::move(reason));
}

// ---- Record 1: the property recovery control ---------------------------------------------------

bool xvPMV::ConvertPropertyRecoveryControl(uint16_t pmv, uint16_t pmp, uint16_t pms, const xvl::xvlImpInfo& info,
                                           std::string& reason, MessageList& messages, bool converting,
                                           const xvl::xvlImport& import) const {
    const RecordChecks r(pmv, kPmvPropertyControl, reason, messages, converting);
    // This line may create or replace a control that lease recovery controls check against.
    answers_.controls.clear();

    // Identification.
    if (r.Text("PRCPROP").empty()) return r.Reject(Msg(12623, r.Label("PRCPROP")));
    if (r.Text("PRCCT").empty())
        return r.Reject(Msg(12624, r.Label("PRCCT"), TermLabel(kPropertyTerm), r.Text("PRCPROP")));
    const auto keyText = [&r] { return r.Text("PRCPROP") + ", " + r.Text("PRCCT"); };
    if (!r.LookupCopyBack(pmp, kPmpPropertyCharge, {{"PCPROP", r.Text("PRCPROP")}, {"PCCT", r.Text("PRCCT")}},
                          {"PRCPROP", "PRCCT"}))
        return r.Reject(Msg(12625, TermLabel(kPropertyTerm) + " " + ChargeTypeTerm(), keyText()));

    // Frequency: whole months. A fraction the text file gave is refused, never cut in silence.
    if (r.Number("PRCFREQ") < 1) return r.Reject(Msg(12626));
    if (!WholeMonths(r, "PRCFREQ")) return false;

    // Accounting method. The note shows the value held (nothing for a blank one), not a fixed text.
    const double held = r.Number("PRCAMOP");
    const auto setMethod = [&](double to) {
        const std::string old = held == 0 ? std::string() : r.ValueText(r.No("PRCAMOP"));
        PutNumber(pmv, r.No("PRCAMOP"), to);
        r.Note(Msg(12627, r.Word("was/will be"), old, r.ValueText(r.No("PRCAMOP")), r.Number(1404, 1405)));
    };
    switch (accountingMethod_) {
    case 1:
        if (held != 1) setMethod(1);
        break;
    case 2:
        if (held != 2) setMethod(2);
        break;
    case 3:
        if (!import.xvlImpWasItImported(info.FormatID(), "PRCAMOP")) return r.Reject(Msg(12628));
        break;
    default: break;
    }

    // Reconciliation.
    if (r.Result("PRCREC") == 0) {
        r.ClearGroup({{"PRCRBCM", "Recon basis calc method"},
                      {"PRCRCM", "Recon calc method"},
                      {"PRCRACT", "Recon adjust charge type"},
                      {"PRCRSPC", "Recon subtract prev chgs"},
                      {"PRCRINV", "Recon print on invoice"}},
                     12634, 1412, 1413);
    } else {
        for (const auto& [name, label] : {std::pair{"PRCRBCM", "Recon basis calc method"},
                                          std::pair{"PRCRCM", "Recon calc method"},
                                          std::pair{"PRCRACT", "Recon adjust charge type"}})
            if (r.Text(name).empty()) return r.Reject(Msg(12635, label, keyText()));
        if (!CheckCalcMethod(r, pms, "PRCRBCM", "Recon basis calc method", &answers_) ||
            !CheckCalcMethod(r, pms, "PRCRCM", "Recon calc method", &answers_) ||
            !CheckChargeType(r, pms, "PRCRACT", "Recon adjust charge type", &answers_))
            return false;
    }

    // Escalation.
    if (r.Result("PRCESC") == 0) {
        r.ClearGroup({{"PRCEM", "Escal method", 1},
                      {"PRCEBT", "Escal budget type"},
                      {"PRCEBCM", "Escal basis calc method"},
                      {"PRCECM", "Escal calc method"},
                      {"PRCEPCT", "Escal percent increase"},
                      {"PRCERET", "Escal retro opt", 1},
                      {"PRCERC", "Escal retro charge type"}},
                     12639, 1418, 1419);
    } else {
        if (r.Text("PRCEBCM").empty()) return r.Reject(Msg(12640, "Escal basis calc method", keyText()));
        if (r.Text("PRCECM").empty()) return r.Reject(Msg(12640, "Escal calc method", keyText()));
        const double type = r.Number("PRCEBT");
        if (r.Result("PRCEM") == 2) {
            if (type == 0) return r.Reject(Msg(12642, keyText()));
            if (!CheckBudgetType(r, type, "Escalation")) return false;
        } else if (type != 0) {
            PutNumber(pmv, r.No("PRCEBT"), 0);
            r.Note(Msg(12641, WholeText(type), r.Word("was/will be"), r.Number(1421, 1422)));
        }
        const std::string retro = r.Text("PRCERC");
        if (r.Result("PRCERET") != 2 && !retro.empty()) {
            PutText(pmv, r.No("PRCERC"), "");
            r.Note(Msg(12645, retro, r.Word("was/will be"), r.Number(1426, 1427)));
        }
        if (!CheckCalcMethod(r, pms, "PRCEBCM", "Escal basis calc method", &answers_) ||
            !CheckCalcMethod(r, pms, "PRCECM", "Escal calc method", &answers_))
            return false;
        if (!r.Text("PRCERC").empty() && !CheckChargeType(r, pms, "PRCERC", "Escal retro charge type", &answers_)) return false;
    }

    // Administrative fee.
    if (r.Result("PRCFEE") == 0) {
        r.ClearGroup({{"PRCFM", "Fee method", 1},
                      {"PRCFBT", "Admin fee budget type"},
                      {"PRCFBCM", "Fee basis calc mthd"},
                      {"PRCFCM", "Admin fee calc method"},
                      {"PRCFPCT", "Admin fee percent"},
                      {"PRCFCT", "Admin fee charge type"}},
                     12646, 1428, 1429);
    } else {
        for (const auto& [name, label] : {std::pair{"PRCFBCM", "Admin fee basis calc mthd"},
                                          std::pair{"PRCFCM", "Admin fee calc method"},
                                          std::pair{"PRCFCT", "Admin fee charge type"}})
            if (r.Text(name).empty()) return r.Reject(Msg(12647, label, keyText()));
        const double type = r.Number("PRCFBT");
        if (r.Result("PRCFM") == 2) {
            if (type == 0) return r.Reject(Msg(12649, keyText()));
            if (!CheckBudgetType(r, type, "Administrative fee")) return false;
        } else if (type != 0) {
            PutNumber(pmv, r.No("PRCFBT"), 0);
            r.Note(Msg(12648, WholeText(type), r.Word("was/will be"), r.Number(1431, 1432)));
        }
        if (!CheckCalcMethod(r, pms, "PRCFBCM", "Admin fee basis calc method", &answers_) ||
            !CheckCalcMethod(r, pms, "PRCFCM", "Admin fee calc mthd", &answers_) ||
            !CheckChargeType(r, pms, "PRCFCT", "Admin fee charge type", &answers_))
            return false;
    }

    // Base square footage.
    if (const double sf = r.Number("PRCBSF"); sf != 0) {
        PutNumber(pmv, r.No("PRCBSF"), 0);
        r.Note(Msg(12650, "Base square footage", WholeText(sf), r.Word("was not/will not be"), r.Number(1434, 1435)));
    }

    // Stops and caps: both methods are read before anything changes.
    const int stop = r.Result("PRCSM"), cap = r.Result("PRCCM");
    const auto noMethod = [&](const char* method, const char* none, std::initializer_list<RecordChecks::GroupField> f) {
        std::string label, value;
        for (const auto& g : f) {
            const uint16_t field = r.No(g.name);
            if (field == 0 || r.Blank(field)) continue;
            if (label.empty()) label = g.label, value = r.ValueText(field);
            StagedField(pmv, kPmvPropertyControl, field).Clear();
        }
        if (!label.empty())
            r.Note(Msg(12651, method, none, label, value, r.Word("were/will be"), r.Number(1436, 1437)));
    };
    if (stop == 1) noMethod("Stop method", "No stop(1)", {{"PRCSSF", "Stop SF type"}, {"PRCSA", "Stop amount"}, {"PRCSF", "Stop frequency"}});
    if (cap == 1) noMethod("Cap method", "No cap(1)", {{"PRCCSF", "Cap SF type"}, {"PRCCA", "Cap amount"}, {"PRCCF", "Cap frequency"}});
    const auto noSfType = [&](const char* method, const char* label, const char* name) {
        const std::string value = r.Text(name);
        if (value.empty()) return;
        PutText(pmv, r.No(name), "");
        r.Note(Msg(12652, method, label, value, r.Word("was/will be"), r.Number(1438, 1439)));
    };
    if (stop == 2) noSfType("Stop method", "Stop SF type", "PRCSSF");
    if (cap == 2) noSfType("Cap method", "Cap SF type", "PRCCSF");
    if (stop == 3 && r.Text("PRCSSF").empty()) return r.Reject(Msg(12653, "Stop method", "Stop SF type", keyText()));
    if (cap == 3 && r.Text("PRCCSF").empty()) return r.Reject(Msg(12653, "Cap method", "Cap SF type", keyText()));

    // Square-footage types.
    const std::string property = r.Text("PRCPROP");
    if (!r.Text("PRCSSF").empty() && !CheckSfType(r, pmp, property, "PRCSSF", false)) return false;
    if (!r.Text("PRCCSF").empty() && !CheckSfType(r, pmp, property, "PRCCSF", false)) return false;
    if (!r.Text("PRCOSF").empty() && !CheckSfType(r, pmp, property, "PRCOSF", true)) return false;
    return true;
}

// ---- Record 4: the recovery control of a lease's recurring charge -----------------------------

bool xvPMV::ConvertRecoveryControl(uint16_t pmv, uint16_t pml, uint16_t pms, uint16_t pmp, std::string& reason,
                                   MessageList& messages, const RecordIdMap& ids, bool converting) const {
    const RecordChecks r(pmv, kPmvRecoveryControl, reason, messages, converting);
    const auto leaseLabel = [] { return LeaseKeyLabel(); };
    const auto leaseText = [&r] { return LeaseKeyText(r.Text("RCLEASE"), r.Number("RCREV")); };
    const auto chargeKey = [&r] {
        return r.Text("RCLEASE") + ", " + WholeText(r.Number("RCREV")) + ", " + r.Text("RCCT");
    };
    const auto recoveryKey = [&] { return chargeKey() + ", " + r.Text("RCUNIT"); };

    // 1. Identification: the recurring charge, its stored keys copied back.
    if (r.Text("RCLEASE").empty()) return r.Reject(Msg(12623, r.Label("RCLEASE")));
    if (r.Text("RCCT").empty()) return r.Reject(Msg(12624, r.Label("RCCT"), leaseLabel(), leaseText()));
    if (r.Text("RCUNIT").empty())
        return r.Reject(Msg(12624, r.Label("RCUNIT"), TermLabel(kLeaseTerm) + " recov control", chargeKey()));
    if (!r.LookupCopyBack(pml, kPmlRecurringCharge,
                          {{"RCLEASE", r.Text("RCLEASE")}, {"RCREV", r.Number("RCREV")}, {"RCCT", r.Text("RCCT")},
                           {"RCUNIT", r.Text("RCUNIT")}},
                          {"RCLEASE", "RCREV", "RCCT", "RCUNIT"}))
        return r.Reject(Msg(12625, TermLabel(kLeaseTerm) + " recurring charge", recoveryKey()));

    // 2. Frequency and next recovery dates.
    const double frequency = r.Number("RCFREQ");
    if (frequency < 1) return r.Reject(Msg(12626));
    const x_date_type from = r.Date("RCNFD"), to = r.Date("RCNTD");
    if (IsUnsetDate(from)) return r.Reject(Msg(12655, "from", recoveryKey()));
    if (IsUnsetDate(to)) return r.Reject(Msg(12655, "to", recoveryKey()));
    if (suite::xd_compare_dates(from, to) > 0) return r.Reject(Msg(12656, DateText(to), DateText(from)));
    // A fraction is refused as one before the month count, which shows the frequency in whole months.
    if (!WholeMonths(r, "RCFREQ")) return false;
    const int months = static_cast<int>(frequency);
    if (RecoveryMonthCount(from, to, months) != months)
        return r.Reject(Msg(12657, DateText(from), DateText(to),
                            FormatNumber("%.0f", frequency) + (frequency == 1 ? " month" : " months")));

    // The adjusting charge's label names the charge-type term in lower case, as it reads mid-sentence.
    const auto adjustLabel = [] {
        std::string term = ChargeTypeTerm();
        suite::x_lower_case(term);
        return "Recon adjust " + term;
    };

    // 3. Current and effective dates: not carried.
    for (const auto& [name, label] : {std::pair{"RCCFD", "Current recov from date"},
                                      std::pair{"RCCTD", "Current recov to date"},
                                      std::pair{"RCEFD", "Effective from date"}, std::pair{"RCETD", "Effective to date"}})
        r.NotSupported(name, label, 12603, 1445, 1446);

    // 4. Reconcile.
    if (r.Result("RCREC") == 0) {
        r.ClearGroup({{"RCRBCM", "Recon basis calc method"},
                      {"RCRCM", "Recon calc method"},
                      {"RCRACT", adjustLabel()},
                      {"RCRSPC", "Recon subtract prev chgs"},
                      {"RCRINV", "Recon print on invoice"}},
                     12634, 1412, 1413);
    } else {
        if (r.Text("RCRBCM").empty()) return r.Reject(Msg(12635, "Recon basis calc method", recoveryKey()));
        if (r.Text("RCRCM").empty()) return r.Reject(Msg(12635, "Recon calc method", recoveryKey()));
        if (r.Text("RCRACT").empty()) return r.Reject(Msg(12635, adjustLabel(), recoveryKey()));
        if (!CheckCalcMethod(r, pms, "RCRBCM", "Recon basis calc method", &answers_) ||
            !CheckCalcMethod(r, pms, "RCRCM", "Recon calc method", &answers_) || !CheckChargeType(r, pms, "RCRACT", adjustLabel(), &answers_))
            return false;
    }

    // 5. Escalation, 6. administrative fee.
    RecoveryLease lease(r, pml);
    if (!ConvertEscalation(r, lease, pml, pms, ids) || !ConvertAdministrativeFee(r, lease, pms, ids)) return false;

    // 7. Accumulated amounts, stops and caps.
    if (!CheckStopsAndCaps(r, lease, pmp, &answers_)) return false;

    // 8. Projected occupancy, the occupancy SF type and the fields conversion does not carry.
    r.NotSupported("RCPOCCP", "Projected occupancy", 12658, 1445, 1446);
    if (!r.Text("RCOSF").empty()) {
        const std::string* property = lease.Property();
        if (!property || !CheckSfType(r, pmp, *property, "RCOSF", true)) return false;
    }
    // Most records leave these empty: a label is looked up only for a value to note.
    const auto notCarried = [&r](const char* name) {
        if (!r.Blank(r.No(name))) r.NotSupported(name, r.Label(name), 12658, 1445, 1446);
    };
    for (const char* name : {"RCLRS", "RCLES", "RCLFS"}) notCarried(name);
    {
        std::string label, value;
        const uint16_t first = r.No("RCRR1"), last = r.No("RCFR30");
        for (uint16_t field = first; first != 0 && field <= last; ++field) {
            if (GetNumber(pmv, field) == 0) continue;
            if (label.empty()) label = FieldLabel(pmv, field), value = r.ValueText(field);
            PutNumber(pmv, field, 0);
        }
        if (!label.empty()) r.Note(Msg(12679, label, value, r.Word("were/will be"), r.Number(1472, 1473)));
    }
    for (const char* name : {"RCPAE", "RCPEB", "RCPAB", "RCAWO"}) notCarried(name);
    return true;
}

}  // namespace dz::pm
