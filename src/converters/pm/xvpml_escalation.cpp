// The index escalation control's handler: the recurring charge it escalates, its adjustment
// bases or base-year values, calculation methods, CPI or Porter wage indexes, dates and
// retroactive method; the fields of the other method, of the other index type and those the
// suite calculates are cleared with notes.
#include "converters/pm/xvpml.h"

#include "platform/datafile/xio.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"

#include <set>

namespace dz::pm {

using namespace convert;

namespace {

using Field = StagedField;

constexpr uint16_t R = kPmlIndexEscalation;
constexpr int kBases = 10;

// The checks of one escalation record, in the order they run.
class Escalation {
public:
    Escalation(xvPML& converter, uint16_t pml, uint16_t pms, uint16_t pmp, bool converting,
               std::string& reason, convert::MessageList& messages)
        : c_(converter), pml_(pml), pms_(pms), pmp_(pmp), converting_(converting), reason_(reason),
          messages_(messages), lease_(pml, R, "IELEASE"), revision_(pml, R, "IEREV"), chargeType_(pml, R, "IECT"),
          unit_(pml, R, "IECU"), firstBasis_(pml, R, "IEABC1") {}

    bool Run() {
        if (!Key() || !RecurringCharge()) return false;
        const bool baseYear = Field(pml_, R, "IEBYC").Result() != 0;
        ClearBasisValues(baseYear);
        if (!baseYear) {
            if (!Bases()) return false;
            if (firstBasis_.Text().empty()) return Reject(Msg(12499));
        } else if (const Field average(pml_, R, "IEAVG"); average.Result() != 0) {
            messages_.push_back(
                Msg(12500, Mode("was not converted/will not convert"), Mode("1176/1177")));
            average.Clear();
        }
        cpi_ = Field(pml_, R, "IEIT").Result() == 1;
        return CalcMethods() && IndexIds({"IEIND1", "IEIND2", "IEPRVI"}) && RequiredFields() && Dates() &&
               BaseYearFields(baseYear) && IndexIds({"IEBYI"}) && Retroactive() && OtherIndexType() &&
               CalculatedFields();
    }

private:
    std::string Mode(const char* pair) const { return ModeWord(pair, converting_); }
    bool Reject(std::string text) {
        reason_ = std::move(text);
        return false;
    }
    std::string KeyText() const {
        return lease_.Text() + ", " + WholeText(revision_.Number()) + ", " + chargeType_.Text() + ", " + unit_.Text();
    }
    // Adjustment basis n (1 to 10): its charge type, unit and amount follow one another.
    Field BasisField(int n, int offset) const { return Field(firstBasis_, 3 * (n - 1) + offset, 1); }

    // 1-3. The key.
    bool Key() {
        if (lease_.Text().empty()) return Reject(Msg(12445, lease_.Label()));
        for (const Field* f : {&chargeType_, &unit_})
            if (f->Text().empty())
                return Reject(
                    Msg(12446, f->Label(), LeaseKeyLabel(), LeaseKeyText(lease_.Text(), revision_.Number())));
        return true;
    }

    // 4. The recurring charge escalated: on file or, examining, earlier in the text file; its
    // amount must come from tables.
    bool RecurringCharge() {
        const Found found = FindRecord(pml_, kPmlRecurringCharge,
                                       {{"RCLEASE", lease_.Text()}, {"RCREV", revision_.Number()},
                                        {"RCCT", chargeType_.Text()}, {"RCUNIT", unit_.Text()}},
                                       {&c_.RecordIds(), converting_});
        if (!found) return Reject(Msg(12489, KeyText()));
        int amountType = found.value;
        if (found.where == Found::OnFile) {
            lease_.Put(found.stored[0]);
            revision_.Put(GetNumber(pml_, kPmlRecurringCharge, "RCREV"));
            chargeType_.Put(found.stored[2]);
            unit_.Put(found.stored[3]);
            amountType = Field(pml_, kPmlRecurringCharge, "RCAMTT").Result();
        }
        if (amountType != 1) return Reject(Msg(12490, KeyText()));
        return true;
    }

    // 5. With base year calculation no basis stays; without it no amount (they are calculated).
    void ClearBasisValues(bool baseYear) {
        FirstCleared first;
        for (int n = 1; n <= kBases; ++n)
            for (int offset = baseYear ? 0 : 2; offset < 3; ++offset) first.Clear(BasisField(n, offset));
        if (!first.Any()) return;
        messages_.push_back(baseYear ? Msg(12492, first.label, first.value, Mode("were not converted/will not convert"),
                                           Mode("1166/1167"))
                                     : Msg(12493, first.label, first.value, Mode("not converted/will not convert"),
                                           Mode("1168/1169")));
    }

    // 6. The adjustment bases: no gaps, each with its unit, none twice.
    bool Bases() {
        std::set<std::string> seen;
        bool gap = false;
        for (int n = 1; n <= kBases; ++n) {
            const Field charge = BasisField(n, 0), unit = BasisField(n, 1);
            if (charge.Text().empty()) {
                if (!unit.Text().empty()) return Reject(Msg(12494, unit.Label(), unit.Text(), charge.Label()));
                gap = true;
                continue;
            }
            if (gap) return Reject(Msg(12495, charge.Label(), charge.Text()));
            if (!ChargeType(charge)) return false;
            if (unit.Text().empty()) return Reject(Msg(12496, unit.Label(), charge.Label(), charge.Text()));
            xio_init_record(pml_, kPmlRecurringCharge);
            PutText(pml_, kPmlRecurringCharge, "RCLEASE", lease_.Text());
            PutNumber(pml_, kPmlRecurringCharge, "RCREV", revision_.Number());
            PutText(pml_, kPmlRecurringCharge, "RCCT", charge.Text());
            PutText(pml_, kPmlRecurringCharge, "RCUNIT", unit.Text());
            std::string id;
            c_.RecordIdText(pml_, id, kPmlRecurringCharge);
            if (!seen.insert(id).second) return Reject(Msg(12498, charge.Text() + ", " + unit.Text()));
            if (!Unit(unit)) return false;
        }
        return true;
    }

    // "<default>" in any case, or a charge type on file (its stored spelling).
    bool ChargeType(const Field& f) {
        if (IsDefaultChargeType(f.Text())) {
            f.Put(kDefaultChargeType);
            return true;
        }
        const std::string stored = c_.StoredChargeType(pms_, f.Text());
        if (stored.empty())
            return Reject(Msg(12474, TermLabel(kChargeTypeTerm), f.Text(), TermLabel(kChargeTypeTerm)));
        f.Put(stored);
        return true;
    }

    // A unit of the lease's property (on file; examining, a lease earlier in the text file gives
    // its property; otherwise the property is blank and no unit is found).
    bool Unit(const Field& f) {
        if (!propertyKnown_) {
            propertyKnown_ = true;
            if (FindLease(pml_, lease_.Text(), revision_.Number(), {nullptr, true}))
                property_ = GetText(pml_, kPmlLease, "LPROP");
            else if (!converting_)
                if (const auto examined = c_.m_examinedLeaseProperties.Find(UpperKey(lease_.Text())))
                    property_ = *examined;
        }
        const std::string stored = c_.StoredUnit(pmp_, property_, f.Text());
        if (stored.empty()) return Reject(Msg(12497, PropertyUnitLabel(), property_ + ", " + f.Text(), f.Label()));
        f.Put(stored);
        return true;
    }

    // 8. The calculation methods, of the record's index type.
    bool CalcMethods() {
        constexpr uint16_t kCalcMethod = kPmsCalcMethod;
        for (const char* name : {"IECALC1", "IECALC2"}) {
            const Field f(pml_, R, name);
            if (f.Text().empty()) continue;
            const Found found = FindRecord(pms_, kCalcMethod, {{"CMID", f.Text()}}, {&c_.RecordIds(), converting_});
            if (!found) return Reject(Msg(12502, f.Text()));
            const Field type(pms_, kCalcMethod, "CMTYPE");
            int typeNumber = found.value;
            if (found.where == Found::OnFile) {
                f.Put(found.stored[0]);
                typeNumber = type.Result();
            }
            if (typeNumber != (cpi_ ? 1 : 2))
                return Reject(Msg(12503, f.Text(), ChoiceValueText(pms_, type.no, typeNumber),
                                  cpi_ ? "CPI (1)" : "Porter (2)"));
        }
        return true;
    }

    // 9, 14. Index IDs of the record's index type: on file (the first record of the ID, its
    // stored spelling) or, examining, accepted earlier in the text file.
    bool IndexIds(std::initializer_list<const char*> names) {
        const uint16_t rec = cpi_ ? kPmsCpiIndex : kPmsPorterWage;
        const char* key = cpi_ ? "CPIID" : "PWID";
        const auto& examined = cpi_ ? c_.m_examinedCpiIds : c_.m_examinedPorterWageIds;
        for (const char* name : names) {
            const Field f(pml_, R, name);
            const std::string id = f.Text();
            if (id.empty()) continue;
            if (!converting_ && examined.count(UpperKey(id))) continue;
            xio_init_record(pms_, rec);
            PutText(pms_, rec, key, id);
            const bool read = xio_rd_ge(pms_, rec, 0, 0) == XIO_OK;
            const std::string stored = read ? GetText(pms_, rec, key) : std::string();
            if (!read || UpperKey(stored) != UpperKey(id))
                return Reject(Msg(12504, cpi_ ? "CPI" : "Porter's Wage", id));
            f.Put(stored);
        }
        return true;
    }

    // 10. The required fields; a blank previous index date is the current one.
    bool RequiredFields() {
        const std::string keyField = TermLabel(kLeaseTerm) + " Index Escal Cntrls";
        for (const char* name : {"IECALC1", "IEIND1", "IEPRVI", "IECID", "IEPID", "IENAD"}) {
            const Field f(pml_, R, name);
            if (!f.Blank()) continue;
            if (std::string(name) == "IEPID") {
                f.Put(GetDate(pml_, R, "IECID"));
                continue;
            }
            return Reject(Msg(12446, f.Label(), keyField, KeyText()));
        }
        return true;
    }

    // 11, 12. The adjustment frequency and the order of the index dates.
    bool Dates() {
        const double frequency = GetNumber(pml_, R, "IEFREQ");
        if (frequency <= 0) return Reject(Msg(12505, WholeText(frequency)));
        const x_date_type current = GetDate(pml_, R, "IECID"), previous = GetDate(pml_, R, "IEPID");
        if (suite::xd_compare_dates(current, previous) < 0)
            return Reject(Msg(12506, DateText(current), DateText(previous)));
        return true;
    }

    // 13. Base-year values only with base year calculation, and then the ones it needs.
    bool BaseYearFields(bool baseYear) {
        const Field date(pml_, R, "IEBYID"), year(pml_, R, "IEBY"), index(pml_, R, "IEBYI"),
            value(pml_, R, "IEBYIV"), base(pml_, R, "IEBYB");
        if (!baseYear) {
            ClearWithOneNote({&date, &year, &index, &value, &base}, 12507, "were not converted/will not convert",
                             "1185/1186");
            return true;
        }
        if (index.Text().empty()) return Reject(Msg(12508, index.Label()));
        if (value.Number() <= 0 && date.Blank()) return Reject(Msg(12508, value.Label() + " or " + date.Label()));
        if (base.Number() <= 0) return Reject(Msg(12508, base.Label()));
        return true;
    }

    // 15-17. The retroactive method's charge type and unit.
    bool Retroactive() {
        const Field method(pml_, R, "IERETRO"), chargeType(pml_, R, "IERCT"), unit(pml_, R, "IERU");
        const double r = method.Number();
        if (r != 1 && chargeType.Text().empty())
            return Reject(Msg(12510, chargeType.Label(), ChoiceValueText(pml_, method.no, r)));
        if (r != 1 && r != 2 && unit.Text().empty())
            return Reject(Msg(12510, unit.Label(), ChoiceValueText(pml_, method.no, r)));
        auto clear = [&](const Field& f) {
            messages_.push_back(Msg(12509, f.Label(), f.Text(), Mode("was not converted/will not convert"),
                                    r == 1 ? "No Retroactive Escal (1)" : "Create a charge (2)",
                                    Mode("1188/1189")));
            f.Clear();
        };
        if (r == 1 && !chargeType.Text().empty()) clear(chargeType);
        if ((r == 1 || r == 2) && !unit.Text().empty()) clear(unit);
        if (!chargeType.Text().empty() && !ChargeType(chargeType)) return false;
        return unit.Text().empty() || Unit(unit);
    }

    // 18. The other index type's fields go; a Porter wage index takes a cap or stop as an amount
    // or as a percent, not both.
    bool OtherIndexType() {
        const char* indexType = cpi_ ? "CPI (1)" : "Porter (2)";
        auto clear = [&](const char* name, const char* label) {
            const Field f(pml_, R, name);
            if (f.Blank()) return;
            messages_.push_back(Msg(12511, label, ShownValue(f), Mode("was not converted/will not convert"), indexType,
                                    Mode("1191/1192")));
            f.Clear();
        };
        if (cpi_) {
            clear("IEWRM", "Wage rate multiplier");
            clear("IEPPF", "Per penny factor");
            return true;
        }
        clear("IELF", "Lease factor");
        clear("IEFP", "Floor percent");
        const Field capAmount(pml_, R, "IECA"), stopAmount(pml_, R, "IESA"), capPercent(pml_, R, "IECP"),
            stopPercent(pml_, R, "IESP");
        const std::pair<const Field*, std::pair<const Field*, const Field*>> rules[] = {
            {&capAmount, {&capPercent, &stopPercent}}, {&stopAmount, {&stopPercent, &capPercent}}};
        for (const auto& [amount, percents] : rules) {
            if (amount->Blank()) continue;
            const Field* percent = !percents.first->Blank() ? percents.first : percents.second;
            if (!percent->Blank()) return Reject(Msg(12512, ShownValue(*amount), ShownValue(*percent)));
        }
        clear("IELC", "Lease cap");
        clear("IEAC", "Accumulated cap");
        return true;
    }

    // 19, 20. What the suite calculates: the retroactive and distribution figures, one note
    // each; the index results, one note for the run.
    bool CalculatedFields() {
        const std::pair<const char*, const char*> figures[] = {{"IERETPD", "Number retro periods"},
                                                               {"IERCHGA", "Retroactive charge"},
                                                               {"IEDSTPD", "Num distrib thru periods"},
                                                               {"IEDAMT", "Distribution amount"}};
        for (const auto& [name, label] : figures) {
            const Field f(pml_, R, name);
            if (f.Blank()) continue;
            messages_.push_back(Msg(12857, label, ShownValue(f), Mode("was/will be"), Mode("1295/1296")));
            f.Clear();
        }
        const uint16_t first = FieldNo(pml_, R, "IEI1R1"), last = FieldNo(pml_, R, "IEI2R30");
        std::vector<Field> results;
        for (uint16_t no = first; first != 0 && no <= last; ++no) results.emplace_back(pml_, R, no);
        results.emplace_back(pml_, R, "IEFR");
        std::vector<const Field*> run;
        for (const auto& f : results) run.push_back(&f);
        ClearWithOneNote(run, 12501, "not converted/will not convert", "1178/1179");
        return true;
    }

    // Clears each field that holds a value; one note names the first.
    void ClearWithOneNote(const std::vector<const Field*>& fields, int message, const char* words,
                          const char* numbers) {
        FirstCleared first;
        for (const Field* f : fields) first.Clear(*f);
        if (first.Any()) messages_.push_back(Msg(message, first.label, first.value, Mode(words), Mode(numbers)));
    }

    xvPML& c_;
    uint16_t pml_, pms_, pmp_;
    bool converting_;
    std::string& reason_;
    convert::MessageList& messages_;
    const Field lease_, revision_, chargeType_, unit_, firstBasis_;
    bool cpi_ = true;
    bool propertyKnown_ = false;
    std::string property_;
};

}  // namespace

bool xvPML::ConvertIndexEscalation(uint16_t pml, xvl::xvlImpInfo&, std::string& reason,
                                   convert::MessageList& messages, bool converting, uint16_t pms, uint16_t pmp) {
    return Escalation(*this, pml, pms, pmp, converting, reason, messages).Run();
}

}  // namespace dz::pm
