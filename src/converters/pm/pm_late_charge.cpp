#include "converters/pm/pm_late_charge.h"

#include "convert/texts.h"
#include "platform/datafile/xio.h"

#include <array>
#include <iterator>
#include <map>
#include <mutex>

namespace dz::pm {

using namespace convert;

namespace {

using Field = StagedField;

constexpr uint16_t kInterestRateRecord = 2;  // of the PM system file

// The step fields' names after the prefix, in the order LateChargeStep takes them.
constexpr const char* kStepFields[] = {"ACT1", "CALC1", "FREQ1", "FRQD1", "REP1", "STF1", "CGCL1", "AMT1",
                                       "PCT1", "INRT1", "FRML1", "GDPC1", "GDF1", "GCDY1", "INT1", "MAXD1", "ACT2"};
constexpr std::size_t kNames = std::size(kStepFields);

// The full names of the step fields for `prefix`, kept for the run of the program: field numbers
// are looked up by the name's address first, so a name made afresh for every record would be
// looked up in the dictionary every time.
const std::array<std::string, kNames>& StepFieldNames(const std::string& prefix) {
    static std::mutex guard;  // runs in the background share the names
    static std::map<std::string, std::array<std::string, kNames>> names;
    const std::lock_guard lock(guard);
    auto [it, added] = names.try_emplace(prefix);
    if (added)
        for (std::size_t i = 0; i < kNames; ++i) it->second[i] = prefix + kStepFields[i];
    return it->second;
}

// One late-charge step: its fields are the first step's, `step` strides further on.
struct LateChargeStep {
    int n;  // 1 to 3
    Field active, type, frequency, frequencyDays, repeat, startFormula, calc, amount, percent, rate, formula, grace,
        graceFormula, graceDays, interestStart, maxDays;
    LateChargeStep(uint16_t file, uint16_t rec, const std::array<std::string, kNames>& names, int step, int stride)
        : n(step),
          active(At(file, rec, names[0], step, stride)),
          type(At(file, rec, names[1], step, stride)),
          frequency(At(file, rec, names[2], step, stride)),
          frequencyDays(At(file, rec, names[3], step, stride)),
          repeat(At(file, rec, names[4], step, stride)),
          startFormula(At(file, rec, names[5], step, stride)),
          calc(At(file, rec, names[6], step, stride)),
          amount(At(file, rec, names[7], step, stride)),
          percent(At(file, rec, names[8], step, stride)),
          rate(At(file, rec, names[9], step, stride)),
          formula(At(file, rec, names[10], step, stride)),
          grace(At(file, rec, names[11], step, stride)),
          graceFormula(At(file, rec, names[12], step, stride)),
          graceDays(At(file, rec, names[13], step, stride)),
          interestStart(At(file, rec, names[14], step, stride)),
          maxDays(At(file, rec, names[15], step, stride)) {}
    static Field At(uint16_t file, uint16_t rec, const std::string& first, int step, int stride) {
        return Field(Field(file, rec, first.c_str()), step - 1, stride);
    }
    std::string Label(const char* format) const { return FormatInt(format, n); }
};

std::string ChoiceShown(const Field& f) { return ChoiceValueText(f.file, f.no, f.Number()); }
std::string ItemShown(const Field& f, int item) { return ChoiceValueText(f.file, f.no, item); }

class StepChecker {
public:
    StepChecker(uint16_t pms, const LookupScope& scope, const LateChargeMessages& texts, std::string& reason,
                convert::MessageList& messages)
        : pms_(pms), scope_(scope), t_(texts), reason_(reason), messages_(messages) {}

    // The step is off: every field not at its default goes back to it; the first one is named.
    void ResetInactive(const LateChargeStep& s) {
        struct Reset {
            const Field* field;
            enum Kind { Choice, Whole, Text, Money, Percent } kind;
        };
        const Reset fields[] = {{&s.type, Reset::Choice},         {&s.frequency, Reset::Choice},
                                {&s.frequencyDays, Reset::Whole}, {&s.repeat, Reset::Choice},
                                {&s.startFormula, Reset::Text},   {&s.calc, Reset::Choice},
                                {&s.amount, Reset::Money},        {&s.percent, Reset::Percent},
                                {&s.rate, Reset::Text},           {&s.formula, Reset::Text},
                                {&s.grace, Reset::Choice},        {&s.graceFormula, Reset::Text},
                                {&s.graceDays, Reset::Whole},     {&s.interestStart, Reset::Whole},
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
                shown = kind == Reset::Money     ? Amount(f->Number())
                        : kind == Reset::Percent ? Millionths(f->Number())
                                                 : WholeText(f->Number());
                f->Put(0.0);
                break;
            }
            if (named) continue;
            named = true;
            messages_.push_back(Msg(t_.inactive, std::to_string(s.n), f->Label(), shown,
                                    Mode("were not converted/will not convert"), Mode(t_.inactiveNumbers)));
        }
    }

    bool CheckActive(const LateChargeStep& s) {
        const int type = s.type.Result(), calc = s.calc.Result(), grace = s.grace.Result();
        const std::string step = std::to_string(s.n);

        // 1. The calc type must suit the late charge type.
        if ((type == 1 && calc == 6) || (type == 2 && calc != 2 && calc != 3) || (type == 3 && calc != 6))
            return Reject(Msg(t_.typeAndCalc, step, ItemShown(s.calc, calc), step, ItemShown(s.type, type)));
        // 2. Fee: frequency days only with "Every".
        if (type == 1) {
            if (s.frequency.Result() == 3) {
                if (s.frequencyDays.Number() <= 0) return Reject(Msg(t_.daysRequired, step, step));
            } else if (!IsZero(s.frequencyDays.Number())) {
                messages_.push_back(Msg(t_.daysCleared, step, Mode("was not converted/will not convert"), step,
                                        Mode(t_.daysNumbers)));
                s.frequencyDays.Put(0.0);
            }
        }
        // 3, 4. A formula only for type 3, an interest start only for type 2.
        if ((type == 1 || type == 2) && !s.formula.Text().empty()) {
            NotApplicable(s, s.formula, s.formula.Text(), "Late charge type %d", "Formula (3)");
            s.formula.Clear();
        }
        if ((type == 1 || type == 3) && !IsZero(s.interestStart.Number())) {
            NotApplicable(s, s.interestStart, WholeText(s.interestStart.Number()), "Late charge type %d",
                          "Interest (2)");
            s.interestStart.Put(0.0);
        }
        // 5. Interest needs its start.
        if (type == 2 && IsZero(s.interestStart.Number())) return Reject(Msg(t_.interestStartRequired, step, step));
        // 6. Interest and formula charges are not fees: no frequency or repeat of their own.
        if (type == 2 || type == 3) {
            if (s.frequency.Result() != 1) {
                NotApplicable(s, s.frequency, ChoiceShown(s.frequency), "Late charge type %d", "Fee (1)");
                s.frequency.Put(1.0);
            }
            if (!IsZero(s.frequencyDays.Number())) {
                NotApplicable(s, s.frequencyDays, WholeText(s.frequencyDays.Number()), "Late charge type %d",
                              "Fee (1)");
                s.frequencyDays.Put(0.0);
            }
            if (s.repeat.Result() != 1) {
                NotApplicable(s, s.repeat, ChoiceShown(s.repeat), "Late charge type %d", "Fee (1)");
                s.repeat.Put(1.0);
            }
        }
        // 7. The formula of a formula charge.
        if (s.formula.Text().empty()) {
            if (type == 3)
                return Reject(
                    Msg(t_.formulaRequired, s.formula.Label(), s.Label("Late charge type %d"), ItemShown(s.type, 3)));
        } else {
            CheckFormula(s.formula);
        }
        // 8, 9. The amount and percent the calc type uses (kept even when zero).
        if ((calc == 1 || calc == 4 || calc == 5) && IsZero(s.amount.Number())) ValueMissing("flat amount", s.amount);
        if ((calc == 2 || calc == 4 || calc == 5) && IsZero(s.percent.Number())) ValueMissing("percent", s.percent);
        // 10. The interest rate of calc 3: on file (its stored spelling) or, examining, met earlier.
        if (calc == 3) {
            if (s.rate.Text().empty()) return Reject(Msg(t_.rateRequired, s.rate.Label(), step, ItemShown(s.calc, 3)));
            const Found found = FindRecord(pms_, kInterestRateRecord, {{"VALID", s.rate.Text()}}, scope_);
            if (!found) return Reject(Msg(t_.rateMissing, s.rate.Label(), s.rate.Text()));
            if (found.where == Found::OnFile) s.rate.Put(found.stored[0]);
        }
        // 11-13. What the calc type does not use (calc 6, a formula, keeps amount and percent).
        if (calc != 1 && calc != 4 && calc != 5 && calc != 6 && !IsZero(s.amount.Number())) {
            NotApplicable(s, s.amount, Amount(s.amount.Number()), "Calc type %d", "Flat Amount (1, 4, or 5)");
            s.amount.Put(0.0);
        }
        if (calc != 2 && calc != 4 && calc != 5 && calc != 6 && !IsZero(s.percent.Number())) {
            NotApplicable(s, s.percent, Millionths(s.percent.Number()), "Calc type %d", "Percentage (2, 4, or 5)");
            s.percent.Put(0.0);
        }
        if (calc != 3 && !s.rate.Text().empty()) {
            NotApplicable(s, s.rate, s.rate.Text(), "Calc type %d", ItemShown(s.calc, 3));
            s.rate.Clear();
        }
        // 14, 15. Grace days or a grace formula, as the grace period calc says.
        if (grace == 1 && !s.graceFormula.Text().empty()) {
            NotApplicable(s, s.graceFormula, s.graceFormula.Text(), "Grace period calc %d", "Grace Formula (2)");
            s.graceFormula.Clear();
        } else if (grace == 2) {
            if (!IsZero(s.graceDays.Number())) {
                NotApplicable(s, s.graceDays, WholeText(s.graceDays.Number()), "Grace period calc %d",
                              "Grace Days (1)");
                s.graceDays.Put(0.0);
            }
            if (s.graceFormula.Text().empty())
                return Reject(Msg(t_.formulaRequired, s.graceFormula.Label(), s.Label("Grace period calc %d"),
                                  ItemShown(s.grace, 2)));
            CheckFormula(s.graceFormula);
        }
        // 16. The start formula.
        CheckFormula(s.startFormula);
        return true;
    }

private:
    std::string Mode(const char* pair) const { return ModeWord(pair, scope_.converting); }
    bool Reject(std::string text) {
        reason_ = std::move(text);
        return false;
    }
    // The field does not apply to the step's type, calc or grace period: reset by the caller.
    void NotApplicable(const LateChargeStep& s, const Field& f, const std::string& shown, const char* label,
                       const std::string& needed) {
        messages_.push_back(Msg(t_.notApplicable, f.Label(), shown, Mode(t_.notApplicableWords), s.Label(label),
                                needed, Mode(t_.notApplicableNumbers)));
    }
    // A formula field that names no formula on file is noted; the field is kept.
    void CheckFormula(const Field& f) {
        const std::string name = f.Text();
        if (name.empty() || FormulaExists(name)) return;
        messages_.push_back(Msg(t_.formulaMissing, name, Mode("converted/will convert"), Mode(t_.formulaNumbers)));
    }
    void ValueMissing(const char* what, const Field& f) {
        if (t_.valueMissingWords)
            messages_.push_back(
                Msg(t_.valueMissing, what, Mode(t_.valueMissingWords), f.Label(), Mode(t_.valueMissingNumbers)));
        else
            messages_.push_back(Msg(t_.valueMissing, what, f.Label()));
    }

    uint16_t pms_;
    LookupScope scope_;
    const LateChargeMessages& t_;
    std::string& reason_;
    convert::MessageList& messages_;
};

}  // namespace

bool CheckLateChargeSteps(uint16_t file, uint16_t rec, const std::string& prefix, uint16_t pms,
                          const LookupScope& scope, const LateChargeMessages& texts, std::string& reason,
                          convert::MessageList& messages) {
    // Steps 2 and 3 lie one step's width of field numbers after step 1, field for field.
    const auto& names = StepFieldNames(prefix);
    const int stride = FieldNo(file, rec, names[kNames - 1].c_str()) - FieldNo(file, rec, names[0].c_str());
    StepChecker checker(pms, scope, texts, reason, messages);
    for (int n = 1; n <= 3; ++n) {
        const LateChargeStep step(file, rec, names, n, stride);
        if (step.active.Result() == 0)
            checker.ResetInactive(step);
        else if (!checker.CheckActive(step))
            return false;
    }
    return true;
}

}  // namespace dz::pm
