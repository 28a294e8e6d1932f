// The escalation and administrative-fee groups of a lease's recovery control (record 4), and the
// budget types either may use: those the property recovery control of the lease's property and
// charge type marks.
#include "converters/pm/xvpmv.h"

#include "platform/datafile/xio.h"
#include "platform/suite/util.h"

namespace dz::pm {

using namespace convert;

namespace {

constexpr uint16_t kPmlLease = 1, kPmlRecurringCharge = 13;
constexpr int kBudgetedExpenses = 2;
constexpr int kNoRetroactive = 1, kCreateACharge = 2;

// `format` with its "%s" filled with custom description `term` in lower case.
std::string LowerTermLabel(const char* format, int term) {
    std::string t = Term(term);
    suite::x_lower_case(t);
    std::string out = format;
    out.replace(out.find("%s"), 2, t);
    return out;
}

// Whether a field of a group not marked holds a value: a choice one other than its first item, a
// text one that is not empty, a number one that is not 0 (these groups hold nothing else). Most
// records leave the groups they do not use empty, so the labels of a group's note are built only
// when there is something to clear.
bool AnyHeld(const RecordChecks& r, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        const uint16_t field = r.No(name);
        const xio_fld_def* def = field == 0 ? nullptr : xio_field_def(r.file(), field);
        if (!def) continue;
        const bool held = xio_is_choice_type(def->type) ? GetNumber(r.file(), field) != 1
                          : xio_is_text_type(def->type) ? !GetText(r.file(), field).empty()
                                                        : GetNumber(r.file(), field) != 0;
        if (held) return true;
    }
    return false;
}

// A recurring charge of this record's lease named by the charge-type and unit fields `type` and
// `unit`; when on file both take its stored spelling. The record's own charge, named exactly as
// stored (as the escalation names it by default), was found when the record was identified, and
// its keys already hold the stored spelling.
bool FindLeaseCharge(const RecordChecks& r, uint16_t pml, const char* type, const char* unit) {
    if (r.Text(type) == r.Text("RCCT") && r.Text(unit) == r.Text("RCUNIT")) return true;
    return r.LookupCopyBack(pml, kPmlRecurringCharge,
                            {{"RCLEASE", r.Text("RCLEASE")},
                             {"RCREV", r.Number("RCREV")},
                             {"RCCT", r.Text(type)},
                             {"RCUNIT", r.Text(unit)}},
                            {"RCLEASE", "RCREV", type, unit});
}

std::string LeaseChargeKey(const RecordChecks& r, const char* type, const char* unit) {
    return r.Text("RCLEASE") + ", " + WholeText(r.Number("RCREV")) + ", " + r.Text(type) + ", " +
           r.Text(unit);
}

}  // namespace

std::string RecoveryKey(const RecordChecks& r) {
    return r.Text("RCLEASE") + ", " + WholeText(r.Number("RCREV")) + ", " + r.Text("RCCT") + ", " +
           r.Text("RCUNIT");
}

const std::string* RecoveryLease::Property() {
    if (state_ == kUnread) {
        const bool onFile = ReadOnFile(pml_, kPmlLease, {{"LEASE", r_.Text("RCLEASE")}, {"LREV", r_.Number("RCREV")}});
        state_ = onFile ? kOnFile : kMissing;
        if (onFile) property_ = GetText(pml_, kPmlLease, "LPROP");
    }
    if (state_ == kOnFile) return &property_;
    r_.Reject(Msg(12661, LeaseKeyLabel(), LeaseKeyText(r_.Text("RCLEASE"), r_.Number("RCREV")), RecoveryKey(r_)));
    return nullptr;
}

bool xvPMV::CheckRecoveryBudgetType(const RecordChecks& r, RecoveryLease& lease, const RecordIdMap& ids,
                                    double type, const char* rangeWord, const char* word) const {
    // The texts of the messages are made only for a message.
    const auto shown = [type] { return WholeText(type); };
    if (type < 1 || type > 10) return r.Reject(Msg(12644, rangeWord, shown()));

    const std::string* leaseProperty = lease.Property();
    if (!leaseProperty) return false;
    const std::string& property = *leaseProperty;
    const auto controlKey = [&] { return property + ", " + r.Text("RCCT"); };

    // Bit n - 1 of the control's word is its use-budget-type flag n; the word of a control on
    // file is read from it, that of one an earlier line creates is the record-ID map's.
    // Many leases of a property share its control: kept until a property recovery control line.
    std::string key = property;
    key.append(1, '\0').append(r.Text("RCCT"));
    auto known = answers_.controls.find(key);
    if (known == answers_.controls.end()) {
        RecoveryAnswers::Control control;
        control.found = FindRecoveryRecord(r, kPmvPropertyControl, {{"PRCPROP", property}, {"PRCCT", r.Text("RCCT")}},
                                           {}, ids, control.word);
        known = answers_.controls.emplace(std::move(key), control).first;
    }
    if (!known->second.found) return r.Reject(Msg(12666, word, shown(), TermLabel(kPropertyTerm), controlKey()));
    const uint16_t flags = known->second.word;
    const int n = static_cast<int>(type);
    if (n != type || ExtractBits(flags, static_cast<uint16_t>(n - 1), 1) == 0)
        return r.Reject(Msg(12667, word, shown(), TermLabel(kPropertyTerm), controlKey()));
    return true;
}

// ---- Escalation ------------------------------------------------------------------------------------

bool xvPMV::ConvertEscalation(const RecordChecks& r, RecoveryLease& lease, uint16_t pml, uint16_t pms,
                              const RecordIdMap& ids) const {
    const auto chargeLabel = [] { return LowerTermLabel("Escal %s", kChargeTypeTerm); };
    const auto unitLabel = [] { return LowerTermLabel("Escal charge %s", kUnitTerm); };
    const auto retroLabel = [] { return LowerTermLabel("Escal retro %s", kChargeTypeTerm); };
    const auto retroUnitLabel = [] { return LowerTermLabel("Escal retro chg %s", kUnitTerm); };

    if (r.Result("RCESC") == 0) {
        if (AnyHeld(r, {"RCECHGT", "RCECHGU", "RCEMTHD", "RCEBUDG", "RCEBCM", "RCECM", "RCEPI", "RCERET",
                        "RCECT", "RCECU"}))
            r.ClearGroup({{"RCECHGT", chargeLabel()},
                          {"RCECHGU", unitLabel()},
                          {"RCEMTHD", "Escal method", 1},
                          {"RCEBUDG", "Escal budget type"},
                          {"RCEBCM", "Escal basis calc method"},
                          {"RCECM", "Escal calc method"},
                          {"RCEPI", "Escal percent increase"},
                          {"RCERET", "Escal retro opt", 1},
                          {"RCECT", retroLabel()},
                          {"RCECU", retroUnitLabel()}},
                         12639, 1418, 1419);
        return true;
    }

    // Without a charge named the recovery escalates its own.
    if (r.Text("RCECHGT").empty() && r.Text("RCECHGU").empty()) {
        PutText(r.file(), r.No("RCECHGT"), r.Text("RCCT"));
        PutText(r.file(), r.No("RCECHGU"), r.Text("RCUNIT"));
    }
    if (r.Text("RCEBCM").empty()) return r.Reject(Msg(12640, "Escal basis calc method", RecoveryKey(r)));
    if (r.Text("RCECM").empty()) return r.Reject(Msg(12640, "Escal calc method", RecoveryKey(r)));
    if (r.Text("RCECHGT").empty()) return r.Reject(Msg(12640, chargeLabel(), RecoveryKey(r)));
    if (r.Text("RCECHGU").empty()) return r.Reject(Msg(12640, unitLabel(), RecoveryKey(r)));

    const double budget = r.Number("RCEBUDG");
    if (r.Result("RCEMTHD") != kBudgetedExpenses) {
        if (budget != 0) {
            PutNumber(r.file(), r.No("RCEBUDG"), 0);
            r.Note(Msg(12641, WholeText(budget), r.Word("was/will be"), r.Number(1421, 1422)));
        }
    } else if (budget != 0 && !CheckRecoveryBudgetType(r, lease, ids, budget, "Escal", "Escal")) {
        return false;
    }

    if (!FindLeaseCharge(r, pml, "RCECHGT", "RCECHGU"))
        return r.Reject(Msg(12668, TermLabel(kLeaseTerm), LeaseChargeKey(r, "RCECHGT", "RCECHGU")));
    if (!CheckCalcMethod(r, pms, "RCEBCM", "Escal basis calc method", &answers_) ||
        !CheckCalcMethod(r, pms, "RCECM", "Escal calc method", &answers_))
        return false;

    // The retroactive option decides which of the retro charge's fields stay.
    const auto clearRetro = [&r](const char* name, std::string (*label)(), int message, int convertNo,
                                 int examineNo) {
        const std::string value = r.Text(name);
        if (value.empty()) return;
        PutText(r.file(), r.No(name), "");
        r.Note(Msg(message, label(), value, r.Word("was/will be"), r.Number(convertNo, examineNo)));
    };
    const int retro = r.Result("RCERET");
    if (retro == kNoRetroactive) {
        clearRetro("RCECT", retroLabel, 12669, 1459, 1460);
        clearRetro("RCECU", retroUnitLabel, 12669, 1459, 1460);
    } else if (retro == kCreateACharge) {
        clearRetro("RCECU", retroUnitLabel, 12670, 1461, 1462);
        if (!r.Text("RCECT").empty() && !CheckChargeType(r, pms, "RCECT", retroLabel(), &answers_)) return false;
    } else if (retro > kCreateACharge) {
        const std::string option = r.ValueText(r.No("RCERET"));
        if (r.Text("RCECT").empty()) return r.Reject(Msg(12671, option, retroLabel()));
        if (r.Text("RCECU").empty()) return r.Reject(Msg(12671, option, retroUnitLabel()));
        if (!FindLeaseCharge(r, pml, "RCECT", "RCECU"))
            return r.Reject(Msg(12672, TermLabel(kLeaseTerm), LeaseChargeKey(r, "RCECT", "RCECU")));
    }
    return true;
}

// ---- Administrative fee ---------------------------------------------------------------------------

bool xvPMV::ConvertAdministrativeFee(const RecordChecks& r, RecoveryLease& lease, uint16_t pms,
                                     const RecordIdMap& ids) const {
    const auto chargeLabel = [] { return LowerTermLabel("Admin fee %s", kChargeTypeTerm); };
    if (r.Result("RCFEE") == 0) {
        if (AnyHeld(r, {"RCFMETH", "RCFBUD", "RCFBCM", "RCFCM", "RCFP", "RCFCT"}))
            r.ClearGroup({{"RCFMETH", "Fee method", 1},
                          {"RCFBUD", "Admin fee budget type"},
                          {"RCFBCM", "Fee basis calc mthd"},
                          {"RCFCM", "Admin fee calc method"},
                          {"RCFP", "Admin fee percent"},
                          {"RCFCT", chargeLabel()}},
                         12646, 1428, 1429);
        return true;
    }

    if (r.Text("RCFBCM").empty()) return r.Reject(Msg(12647, "Admin fee basis calc mthd", RecoveryKey(r)));
    if (r.Text("RCFCM").empty()) return r.Reject(Msg(12647, "Admin fee calc method", RecoveryKey(r)));
    if (r.Text("RCFCT").empty()) return r.Reject(Msg(12647, chargeLabel(), RecoveryKey(r)));

    const double budget = r.Number("RCFBUD");
    if (r.Result("RCFMETH") != kBudgetedExpenses) {
        if (budget != 0) {
            PutNumber(r.file(), r.No("RCFBUD"), 0);
            r.Note(Msg(12648, WholeText(budget), r.Word("was/will be"), r.Number(1431, 1432)));
        }
    } else if (budget != 0 && !CheckRecoveryBudgetType(r, lease, ids, budget, "Admin fee", "Admin")) {
        return false;
    }

    // The fee percent is taken as it stands.
    return CheckCalcMethod(r, pms, "RCFBCM", "Admin fee basis calc method", &answers_) &&
           CheckCalcMethod(r, pms, "RCFCM", "Admin fee calc mthd", &answers_) &&
           CheckChargeType(r, pms, "RCFCT", "Admin fee charge type", &answers_);
}

}  // namespace dz::pm
