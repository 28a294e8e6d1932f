// The lease child records' handlers called on a staged record: charge controls, deposits, late
// charges, index escalation controls, checklist items and insurance. Examine Files is played by
// entering the records met earlier into the converter's record-ID map.
#include "pml_fixture.h"

#include "convert/texts.h"

#include <gmock/gmock.h>

namespace dz::pm::testing {

using namespace convert;
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class PmlChildTest : public PmlTest {
protected:
    void Adjust(suite::CompanySettings& s) override {
        PmlTest::Adjust(s);
        s.lists[kDepositTypeList] = {"Security", {"Security", "Pet"}};
        s.lists[kInsuranceTypeList] = {"Liability", {"Liability", "Fire"}};
        s.formulas = {"LATEFEE", "GRACE"};
    }
    void SetUp() override {
        PmlTest::SetUp();
        Property("BARE");
        Unit("BARE", "B1");
        const uint16_t pmp = H("PMP");  // STRIP takes a GL prefix
        ASSERT_TRUE(ReadByKeys(pmp, 1, {{"PROP", "STRIP"}}));
        PutText(pmp, 1, "PGLPFX", "11233");
        ASSERT_EQ(xio_rep_record(pmp, 1), XIO_OK);
        ASSERT_EQ(xio_commit(pmp), XIO_OK);
        Lease("L1", 0, "STRIP", "U100", "ACME");
        Lease("L2", 0, "BARE", "B1", "BAKER");
        Lease("H1", 0, "STRIP", "U200", "BAKER", 6);
        ChargeType("RENT");
        ChargeType("CAM");
        InterestRate("INT5");
        GlPrefix("11233");
        GlPrefix("44555");
        Put("PMP", 7, {{"PDPROP", "STRIP"}, {"PDDTYPE", "Security"}});
        converter.LoadLists();
        converter.m_glmFile = H("GLM");
    }

    // The record `rec` of `abbr` now in the buffer was met earlier in the text file.
    void Met(const std::string& abbr, uint16_t rec, uint16_t value = 0) {
        std::string id;
        convert::RecordIdText(H(abbr), id, rec);
        converter.RecordIds()[id] = value;
    }
    template <typename Handler>
    bool Call(Handler handler) {
        reason.clear();
        messages.clear();
        return handler();
    }
    bool ChargeControl(const FieldValues& v, bool converting = true) {
        Stage("PML", kPmlChargeControl, v);
        return Call([&] {
            return converter.ConvertChargeControl(H("PML"), info, reason, messages, converting, H("PMS"), H("PMP"),
                                                  H("PMN"));
        });
    }
    bool Deposit(const FieldValues& v, bool converting = true) {
        Stage("PML", kPmlDeposit, v);
        return Call([&] {
            return converter.ConvertDeposit(H("PML"), info, reason, messages, converting, H("PMP"), H("PMS"));
        });
    }
    bool LateCharge(const FieldValues& v, bool converting = true) {
        Stage("PML", kPmlLateCharge, v);
        return Call([&] { return converter.ConvertLateCharge(H("PML"), info, reason, messages, converting, H("PMS")); });
    }
    bool Escalation(const FieldValues& v, bool converting = true) {
        Stage("PML", kPmlIndexEscalation, v);
        return Call([&] {
            return converter.ConvertIndexEscalation(H("PML"), info, reason, messages, converting, H("PMS"), H("PMP"));
        });
    }
    std::string Pml(uint16_t rec, const char* field) { return GetText(H("PML"), rec, field); }
    double PmlNumber(uint16_t rec, const char* field) { return GetNumber(H("PML"), rec, field); }

    xvPML converter;
    xvl::xvlImpInfo info;
    std::string reason;
    convert::MessageList messages;
};

// ---- Charge control ------------------------------------------------------------------------------------------

TEST_F(PmlChildTest, ChargeControlDefaultsAndStoredSpellings) {
    // "<DEFAULT>" needs no charge type; the prefix comes from the property, the bill-to from the lease.
    ASSERT_TRUE(ChargeControl({{"LCLEASE", "L1"}, {"LCCT", "<DEFAULT>"}, {"LCPMTOR", "1"}})) << reason;
    EXPECT_EQ(Pml(10, "LCCT"), "<default>");
    EXPECT_EQ(Pml(10, "LCGLPFX"), "11233");
    EXPECT_EQ(Pml(10, "LCBTTEN"), "ACME");
    EXPECT_EQ(Pml(10, "LCBTADD"), "Billing");
    // A property charge's prefix comes first; spellings are the stored ones; an address type
    // outside the list is kept.
    Put("PMP", 5, {{"PCPROP", "STRIP"}, {"PCCT", "RENT"}, {"PCGLPFX", "44555"}});
    ASSERT_TRUE(ChargeControl(
        {{"LCLEASE", "L1"}, {"LCCT", "rent"}, {"LCPMTOR", "2"}, {"LCBTTEN", "baker"}, {"LCBTADD", "Office"}}))
        << reason;
    EXPECT_EQ(Pml(10, "LCCT"), "RENT");
    EXPECT_EQ(Pml(10, "LCGLPFX"), "44555");
    EXPECT_EQ(Pml(10, "LCBTTEN"), "BAKER");
    EXPECT_EQ(Pml(10, "LCBTADD"), "Office");
    EXPECT_THAT(messages, IsEmpty());
}

TEST_F(PmlChildTest, ChargeControlRejections) {
    const std::vector<std::pair<FieldValues, std::string>> cases = {
        {{{"LCLEASE", "L1"}, {"LCCT", "RENT"}, {"LCPMTOR", "0"}},
         "The Payment priority is required for Charge type 'RENT'(1121)"},
        {{{"LCLEASE", "L1"}, {"LCCT", "GAS"}, {"LCPMTOR", "1"}},
         "The Charge type 'GAS' was not found in the Charge type records(1143)"},
        {{{"LCLEASE", "L9"}, {"LCCT", "RENT"}, {"LCPMTOR", "1"}}, "Lease, Revision 'L9(0)' does not yet exist(1820)"},
        {{{"LCLEASE", "L2"}, {"LCCT", "RENT"}, {"LCPMTOR", "1"}},
         "GL prefix is required for Lease, Revision 'L2(0)'(1101)"},
        {{{"LCLEASE", "L1"}, {"LCCT", "RENT"}, {"LCPMTOR", "1"}, {"LCGLPFX", "99999"}}, "' not found in GL prefixes(1144)"},
        {{{"LCLEASE", "L1"}, {"LCCT", "RENT"}, {"LCPMTOR", "1"}, {"LCBTTEN", "NOPE"}},
         "Tenant 'NOPE' does not yet exist(1105)"},
    };
    for (const auto& [values, expected] : cases) {
        EXPECT_FALSE(ChargeControl(values)) << expected;
        EXPECT_THAT(reason, HasSubstr(expected));
    }
}

TEST_F(PmlChildTest, ChargeControlExaminedLeaseGivesThePropertyAndLeavesTheBillToBlank) {
    Stage("PML", kPmlLease, {{"LEASE", "NEW"}});
    Met("PML", kPmlLease, 3);
    converter.m_examinedLeaseProperties.Add("NEW", "STRIP");
    ASSERT_TRUE(ChargeControl({{"LCLEASE", "new"}, {"LCCT", "CAM"}, {"LCPMTOR", "1"}}, false)) << reason;
    EXPECT_EQ(Pml(10, "LCGLPFX"), "11233");
    EXPECT_EQ(Pml(10, "LCBTTEN"), "");
    Stage("PMN", kPmnTenant, {{"TENANT", "NEWT"}});
    Met("PMN", kPmnTenant);
    EXPECT_TRUE(ChargeControl({{"LCLEASE", "new"}, {"LCCT", "CAM"}, {"LCPMTOR", "1"}, {"LCBTTEN", "newt"}}, false))
        << reason;
    // Converting, the same lease would be on file by then; absent, it is refused.
    EXPECT_FALSE(ChargeControl({{"LCLEASE", "new"}, {"LCCT", "CAM"}, {"LCPMTOR", "1"}}, true));
    EXPECT_THAT(reason, HasSubstr("'new(0)' does not yet exist"));
}

// ---- Deposit -------------------------------------------------------------------------------------------------

TEST_F(PmlChildTest, DepositInterestAndLetterOfCreditRules) {
    const FieldValues base = {{"LDLEASE", "l1"}, {"LDDTYPE", "security"}, {"LDUNIT", "u100"}};
    auto with = [&](FieldValues more) {
        FieldValues v = base;
        v.insert(v.end(), more.begin(), more.end());
        return v;
    };
    // A letter of credit loses its rate, and then the interest terms.
    ASSERT_TRUE(Deposit(with({{"LDLTCRD", "1"}, {"LDREF", "1"}, {"LDINTRT", "INT5"}, {"LDINTBS", "2"}}))) << reason;
    EXPECT_THAT(messages,
                ElementsAre("Deposit letter of credit is marked, Interest rate ID with 'INT5' not converted(1127)",
                            "Interest rate is blank, interest fields (like Interest basis with 'Deposit balance (2)') "
                            "not converted(1132)"));
    EXPECT_EQ(Pml(3, "LDDTYPE"), "Security");
    EXPECT_EQ(Pml(3, "LDUNIT"), "U100");
    // A refundable deposit keeps a known rate and its terms.
    ASSERT_TRUE(Deposit(with({{"LDREF", "1"}, {"LDINTRT", "int5"}, {"LDCOMP", "2"}, {"LDINTBL", "100"}})));
    EXPECT_THAT(messages, IsEmpty());
    EXPECT_EQ(Pml(3, "LDINTRT"), "INT5");
    EXPECT_EQ(PmlNumber(3, "LDCOMP"), 2);
    EXPECT_FALSE(Deposit(with({{"LDREF", "1"}, {"LDINTRT", "INT9"}})));
    EXPECT_EQ(reason, "Interest rate ID 'INT9' not found in Interest rates(1131)");
    // Every interest term off its default: one note, the first named, all reset.
    ASSERT_TRUE(Deposit(with({{"LDINTBS", "2"}, {"LDCOMP", "3"}, {"LDPAYTM", "2"}, {"LDINTBL", "500"}}), false));
    EXPECT_THAT(messages, ElementsAre(HasSubstr("(like Interest basis with 'Deposit balance (2)') will not convert(1133)")));
    EXPECT_EQ(PmlNumber(3, "LDINTBS") + PmlNumber(3, "LDCOMP") + PmlNumber(3, "LDPAYTM") + PmlNumber(3, "LDINTBL"), 3);
    // A bank without a letter of credit.
    ASSERT_TRUE(Deposit(with({{"LDBNKLC", "First Bank"}})));
    EXPECT_THAT(messages, ElementsAre("Deposit letter of credit not marked, fields (like Letter of credit bank with "
                                      "'First Bank') not converted(1134)"));
    EXPECT_EQ(Pml(3, "LDBNKLC"), "");
    // A refundable deposit that is not refundable loses the rate.
    ASSERT_TRUE(Deposit(with({{"LDINTRT", "INT5"}})));
    EXPECT_THAT(messages, ElementsAre(HasSubstr("Refundable is not marked, Interest rate ID with 'INT5'")));
}

TEST_F(PmlChildTest, DepositAccrualDatesAndClosedLeaseBalances) {
    const FieldValues base = {{"LDLEASE", "L1"}, {"LDDTYPE", "Security"}, {"LDUNIT", "U100"}};
    auto with = [&](FieldValues more, const char* lease = "L1", const char* unit = "U100") {
        FieldValues v = base;
        v[0].second = lease;
        v[2].second = unit;
        v.insert(v.end(), more.begin(), more.end());
        return v;
    };
    EXPECT_FALSE(Deposit(with({{"LDACCTH", "6/30/2026"}})));
    EXPECT_EQ(reason, "Start accrual date '' must be less than Accrued through date ' 6/30/2026'(1136)");
    // One day late is too late; the same day passes.
    EXPECT_FALSE(Deposit(with({{"LDSTACC", "7/1/2026"}, {"LDACCTH", "6/30/2026"}})));
    EXPECT_THAT(reason, HasSubstr("' 7/01/2026' must be less than"));
    EXPECT_TRUE(Deposit(with({{"LDSTACC", "6/30/2026"}, {"LDACCTH", "6/30/2026"}}))) << reason;
    // A historical lease's refundable deposit holds no balance.
    EXPECT_TRUE(Deposit(with({{"LDREF", "1"}}, "H1", "U200"))) << reason;
    EXPECT_FALSE(Deposit(with({{"LDREF", "1"}, {"LDINTRT", "INT5"}, {"LDINTBL", "2500"}}, "H1", "U200")));
    EXPECT_EQ(reason, "Interest Balance with '25.00' is not allowed on a refundable deposit that has a historical "
                      "lease(1297)");
    // Examining, an earlier canceled lease gives its status and property.
    Stage("PML", kPmlLease, {{"LEASE", "C9"}});
    Met("PML", kPmlLease, 2);
    converter.m_examinedLeaseProperties.Add("C9", "STRIP");
    EXPECT_FALSE(Deposit(with({{"LDREF", "1"}, {"LDBAL", "100"}}, "c9"), false));
    EXPECT_THAT(reason, HasSubstr("Balance with '1.00' is not allowed on a refundable deposit that has a canceled"));
    EXPECT_FALSE(Deposit(with({}, "L2", "B1")));
    EXPECT_EQ(reason, "Deposit 'Security' is not yet set up for Property 'BARE' so it cannot be a Lease deposit(1126)");
}

// Child records keep the last lease found on file, never a lease not found: a deposit before its
// lease is refused, the same deposit after it is kept; the next lease's deposit reads its own.
TEST_F(PmlChildTest, TheLeaseKeptBetweenChildRecordsIsOnlyOneFoundOnFile) {
    auto deposit = [&](const char* lease, const char* unit) {
        return Line("3", "PML", kPmlDeposit,
                    {{"LDLEASE", lease}, {"LDDTYPE", "Security"}, {"LDUNIT", unit}, {"LDREF", "1"}, {"LDBAL", "10.00"}});
    };
    const std::string report = PmlTest::Run(
        {deposit("N2", "U200"), LeaseLine("N2", {{"LUNIT", "U200"}}), deposit("N2", "U200"), deposit("H1", "U200")},
        true);
    EXPECT_EQ(Count(report, "Lease, Revision 'N2(0)' does not yet exist(1820)"), 1) << report;
    EXPECT_EQ(Count(report, "Balance with '10.00' is not allowed on a refundable deposit that has a historical"), 1)
        << report;
    EXPECT_EQ(Count(report, "Lease Deposit                3              0              2             1"), 1) << report;
}

// ---- Late charge ---------------------------------------------------------------------------------------------

TEST_F(PmlChildTest, LateChargeInactiveStepsAreResetWithOneNoteEach) {
    ASSERT_TRUE(LateCharge({{"LLLEASE", "l1"}, {"LLDESC", "a\rb"}})) << reason;
    EXPECT_THAT(messages, IsEmpty());
    EXPECT_EQ(Pml(11, "LLLEASE"), "L1");
    EXPECT_EQ(Pml(11, "LLDESC"), "a\r\nb");
    ASSERT_TRUE(LateCharge({{"LLLEASE", "L1"}, {"LLAMT2", "2500"}, {"LLGDF2", "GRACE"}}));
    EXPECT_THAT(messages, ElementsAre("Step 2 not active, its fields (like Flat amount 2 with '25.00') were not "
                                      "converted(1145)"));
    EXPECT_EQ(PmlNumber(11, "LLAMT2"), 0);
    EXPECT_EQ(Pml(11, "LLGDF2"), "");
}

TEST_F(PmlChildTest, LateChargeActiveStepRules) {
    struct Case {
        FieldValues step1;
        std::string rejected;                // empty: kept
        std::vector<std::string> notes;      // substrings, in order
    };
    const std::vector<Case> cases = {
        {{{"LLCALC1", "1"}, {"LLCGCL1", "6"}},
         "Calculation type 1 cannot be 'Formula (6)' when Late charge type 1 is 'Fee (1)'(1147)", {}},
        {{{"LLCALC1", "3"}, {"LLCGCL1", "6"}},
         "A formula for Formula 1 is required when Late charge type 1 is 'Formula (3)'(1157)", {}},
        {{{"LLFREQ1", "3"}, {"LLAMT1", "100"}}, "Frequency days 1 is required when Frequency 1 is 'Every (3)'(1148)", {}},
        {{{"LLCALC1", "2"}, {"LLCGCL1", "3"}, {"LLINRT1", "INT5"}},
         "Interest start 1 is required when Late charge type 1 is 'Interest (2)'(1153)", {}},
        {{{"LLCALC1", "2"}, {"LLCGCL1", "3"}, {"LLINT1", "5"}},
         "Interest rate 1 is required when Calc type 1 is 'Interest rate (3)'(1156)", {}},
        {{{"LLCALC1", "2"}, {"LLCGCL1", "3"}, {"LLINT1", "5"}, {"LLINRT1", "NOPE"}},
         "Interest rate 1 'NOPE' not found in Interest rates(1131)", {}},
        {{{"LLCGCL1", "4"}},
         "",
         {"A valid flat amount still needs to be added for Late charge Flat amount 1(1197)",
          "A valid percent still needs to be added for Late charge Percent 1(1197)"}},
        {{{"LLAMT1", "100"}, {"LLPCT1", "2500000"}, {"LLFRQD1", "10"}},
         "",
         {"Frequency days 1 was not converted because Frequency 1 is not 'Every (3)'(1149)",
          "Percent 1 with '2.500000' was not converted because Calc type 1 is not 'Percentage (2, 4, or 5)'(1151)"}},
        {{{"LLCALC1", "3"}, {"LLCGCL1", "6"}, {"LLFRML1", "NOFORM"}, {"LLAMT1", "100"}, {"LLPCT1", "1000000"}},
         "",
         {"Formula 'NOFORM' does not yet exist, the field converted but the formula needs to be created(1154)"}},
    };
    for (const auto& c : cases) {
        FieldValues v = {{"LLLEASE", "L1"}, {"LLACT1", "1"}};
        v.insert(v.end(), c.step1.begin(), c.step1.end());
        const bool kept = LateCharge(v);
        EXPECT_EQ(kept, c.rejected.empty()) << reason;
        EXPECT_EQ(reason, c.rejected);
        ASSERT_EQ(messages.size(), c.notes.size()) << (messages.empty() ? reason : messages.front());
        for (std::size_t i = 0; i < c.notes.size(); ++i) EXPECT_THAT(messages[i], HasSubstr(c.notes[i]));
    }
    EXPECT_EQ(PmlNumber(11, "LLAMT1"), 100);  // calc type 6 keeps the amount and the percent
    EXPECT_EQ(PmlNumber(11, "LLPCT1"), 1000000);
    // A rejection in step 3 keeps the notes of the steps before it.
    EXPECT_FALSE(LateCharge({{"LLLEASE", "L1"}, {"LLACT1", "1"}, {"LLFRQD1", "4"}, {"LLAMT1", "100"}, {"LLACT3", "1"}, {"LLCALC3", "3"},
                             {"LLCGCL3", "6"}}));
    EXPECT_THAT(reason, HasSubstr("Formula 3 is required"));
    EXPECT_THAT(messages, ElementsAre(HasSubstr("Frequency days 1 was not converted")));
    EXPECT_FALSE(LateCharge({{"LLLEASE", "L9"}, {"LLACT1", "1"}, {"LLCALC1", "1"}, {"LLCGCL1", "6"}}));
    EXPECT_THAT(reason, HasSubstr("'L9(0)' does not yet exist(1820)"));
}

// ---- Index escalation ----------------------------------------------------------------------------------------

class PmlEscalationTest : public PmlChildTest {
protected:
    void SetUp() override {
        PmlChildTest::SetUp();
        RecurringCharge("L1", 0, "RENT", "U100");
        RecurringCharge("L1", 0, "CAM", "U100", true);
        Put("PMS", kPmsCalcMethod, {{"CMID", "M1"}, {"CMTYPE", "1"}});
        Put("PMS", kPmsCalcMethod, {{"CMID", "P1"}, {"CMTYPE", "2"}});
        Put("PMS", kPmsCpiIndex, {{"CPIID", "CPIW"}, {"CPIDATE", "1/31/2026"}});
        Put("PMS", kPmsPorterWage, {{"PWID", "PW1"}, {"PWDATE", "1/31/2026"}});
    }
    // A CPI escalation of L1's rent that passes every rule, changed by `more`.
    bool Run(FieldValues more, bool converting = true) {
        FieldValues v = {{"IELEASE", "l1"},     {"IECT", "rent"},      {"IECU", "u100"},       {"IEABC1", "cam"},
                         {"IEABU1", "u200"},    {"IECALC1", "m1"},     {"IEIND1", "cpiw"},     {"IEPRVI", "CPIW"},
                         {"IECID", "3/1/2026"}, {"IENAD", "3/1/2027"}, {"IEFREQ", "12"},       {"IERETRO", "1"}};
        for (const auto& [name, value] : more) {
            const auto it = std::find_if(v.begin(), v.end(), [&](const auto& p) { return std::string(p.first) == name; });
            if (it != v.end()) it->second = value;
            else v.emplace_back(name, value);
        }
        return Escalation(v, converting);
    }
};

TEST_F(PmlEscalationTest, KeptWithStoredSpellingsAndCalculatedFieldsCleared) {
    ASSERT_TRUE(Run({{"IEABA1", "500"}, {"IEABC2", "<DEFAULT>"}, {"IEABU2", "U100"}, {"IEBY", "2025"},
                     {"IEWRM", "1500"}, {"IERETPD", "2"}, {"IEDAMT", "1000"}, {"IEI1R3", "12345"}, {"IEFR", "99"},
                     {"IERCT", "RENT"}}))
        << reason;
    EXPECT_THAT(messages,
                ElementsAre("Adj amounts (like Adj basis amount 1 with '5.00') not converted, they are calculated(1168)",
                            "Base year calc not marked, base fields (like Base year with '2025') were not converted(1185)",
                            "Retro charge type with 'RENT' was not converted, Retroactive method is 'No Retroactive Escal "
                            "(1)'(1188)",
                            "Wage rate multiplier with '1.500' was not converted, Index Type is 'CPI (1)'(1191)",
                            "Number retro periods cannot be converted, '2' was cleared(1295)",
                            "Distribution amount cannot be converted, '10.00' was cleared(1295)",
                            "Index Results (like Index 1 result 3 with '0.12345') not converted, they are calculated(1178)"));
    EXPECT_EQ(Pml(18, "IELEASE") + Pml(18, "IECT") + Pml(18, "IECU"), "L1RENTU100");
    EXPECT_EQ(Pml(18, "IEABC1") + Pml(18, "IEABU1") + Pml(18, "IEABC2"), "CAMU200<default>");
    EXPECT_EQ(Pml(18, "IECALC1") + Pml(18, "IEIND1"), "M1CPIW");
    EXPECT_EQ(DateText(GetDate(H("PML"), 18, "IEPID")), " 3/01/2026");  // the current date
    EXPECT_EQ(PmlNumber(18, "IEFR") + PmlNumber(18, "IEI1R3"), 0);
}

TEST_F(PmlEscalationTest, Rejections) {
    const std::vector<std::pair<FieldValues, std::string>> cases = {
        {{{"IECT", "GAS"}}, "The Recurring charge record 'l1, 0, GAS, u100' does not yet exist(1163)"},
        {{{"IECT", "CAM"}}, "Recurring charge record 'L1, 0, CAM, U100' does not use tables to calculate charges(1164)"},
        {{{"IEABC1", ""}, {"IEABU1", ""}}, "At least one Adjustment Basis is required"},
        {{{"IEABU2", "U100"}}, "Adj basis unit 2 with 'U100' invalid because Adj basis chg type 2 is blank(1170)"},
        {{{"IEABC3", "RENT"}, {"IEABU3", "U100"}},
         "Adj basis chg type 3 with 'RENT' invalid because there cannot be gaps in adjust basis fields 1-10(1171)"},
        {{{"IEABC2", "RENT"}}, "Adj basis unit 2 is required when Adj basis chg type 2 has a value, it has 'RENT'(1172)"},
        {{{"IEABC2", "CAM"}, {"IEABU2", "U200"}}, "Duplicate Adjustment Basis 'CAM, U200'(1174)"},
        {{{"IEABU1", "U999"}}, "Property Unit 'STRIP, U999' does not yet exist, field Adj basis unit 1 invalid(1173)"},
        {{{"IEABC1", "GAS"}}, "The Charge type 'GAS' was not found in the Charge type records(1143)"},
        {{{"IECALC1", "P1"}}, "Calculation 'P1' with type 'Porter (2)' cannot be used, Index type is 'CPI (1)'(1181)"},
        {{{"IECALC2", "M9"}}, "The Calculation method record 'M9' does not yet exist(1180)"},
        {{{"IEPRVI", "CPIX"}}, "The CPI record 'CPIX' does not yet exist(1182)"},
        {{{"IENAD", ""}}, "Next adjustment date is required for Lease Index Escal Cntrls 'L1, 0, RENT, U100'(1101)"},
        {{{"IEFREQ", "0"}}, "Adjustment frequency must be greater than or equal to one, it has '0'(1183)"},
        {{{"IEPID", "4/1/2026"}}, "Current index date ' 3/01/2026' must be greater than or equal to Previous index"},
        {{{"IEBYC", "1"}, {"IEBYI", "CPIW"}, {"IEBYB", "100"}},
         "Base year index value or Base year index date is required when Base year calculation is marked(1187)"},
        {{{"IERETRO", "2"}}, "Retro charge type is required when Retroactive method is 'Create a charge (2)'(1190)"},
        {{{"IERETRO", "3"}, {"IERCT", "RENT"}}, "Retro unit is required when Retroactive method is 'Distribute (3)'"},
        {{{"IEIT", "2"}, {"IECALC1", "P1"}, {"IEIND1", "PW1"}, {"IEPRVI", "pw1"}, {"IECA", "1000"}, {"IESP", "5000"}},
         "Either Cap/Stop amount with '10.00' or Cap/Stop percent with '5.000' must be blank when Index type is "
         "'Porter'(1193)"},
    };
    for (const auto& [values, expected] : cases) {
        EXPECT_FALSE(Run(values)) << expected;
        EXPECT_THAT(reason, HasSubstr(expected));
    }
}

TEST_F(PmlEscalationTest, BaseYearAndExaminedRecords) {
    ASSERT_TRUE(Run({{"IEBYC", "1"}, {"IEAVG", "1"}, {"IEBYI", "cpiw"}, {"IEBYID", "1/31/2020"}, {"IEBYB", "100"},
                     {"IEIT", "1"}, {"IELF", "5"}}))
        << reason;
    EXPECT_THAT(messages, ElementsAre(HasSubstr("adjustments (like Adj basis chg type 1 with 'cam') were not converted"),
                                      HasSubstr("Use average over term with 'YES' was not converted(1176)")));
    EXPECT_EQ(Pml(18, "IEBYI") + Pml(18, "IEABU1"), "CPIW");
    // Examining: the recurring charge, calculation method and index met earlier stand in.
    Stage("PML", kPmlRecurringCharge, {{"RCLEASE", "L1"}, {"RCCT", "RENT"}, {"RCUNIT", "U200"}});
    Met("PML", kPmlRecurringCharge, 2);
    EXPECT_FALSE(Run({{"IECU", "U200"}}, false));
    EXPECT_THAT(reason, HasSubstr("does not use tables"));
    Met("PML", kPmlRecurringCharge, 1);
    Stage("PMS", kPmsCalcMethod, {{"CMID", "NEWM"}});
    Met("PMS", kPmsCalcMethod, 1);
    converter.m_examinedCpiIds.insert("NEWI");
    EXPECT_FALSE(Run({{"IECU", "U200"}, {"IECALC1", "newm"}, {"IEIND1", "newi"}}, true));
    EXPECT_TRUE(Run({{"IECU", "U200"}, {"IECALC1", "newm"}, {"IEIND1", "newi"}}, false)) << reason;
}

// ---- Checklist items and insurance ---------------------------------------------------------------------------

TEST_F(PmlChildTest, ChecklistAndInsuranceNumbering) {
    for (int n = 1; n <= 4; ++n)
        Put("PML", kPmlChecklist, {{"LPLEASE", "L1"}, {"LPPRTYP", "1"}, {"LPNUM", std::to_string(n)}, {"LPTEXT", "x"}});
    auto item = [&](const char* lease, const char* type, bool converting = true) {
        Stage("PML", kPmlChecklist, {{"LPLEASE", lease}, {"LPPRTYP", type}, {"LPTEXT", "Keys"}});
        return Call([&] { return converter.ConvertChecklistItem(H("PML"), info, reason, messages, converting); });
    };
    ASSERT_TRUE(item("l1", "1")) << reason;
    EXPECT_EQ(Pml(7, "LPLEASE") + "/" + WholeText(PmlNumber(7, "LPNUM")), "L1/5");
    ASSERT_TRUE(item("L1", "2"));
    EXPECT_EQ(PmlNumber(7, "LPNUM"), 1);
    // Examining, numbers given earlier in the text file are taken.
    Stage("PML", kPmlChecklist, {{"LPLEASE", "L1"}, {"LPPRTYP", "2"}, {"LPNUM", "1"}});
    Met("PML", kPmlChecklist);
    ASSERT_TRUE(item("L1", "2", false));
    EXPECT_EQ(PmlNumber(7, "LPNUM"), 2);
    // After 999 numbering starts again at 1, which is taken.
    Put("PML", kPmlChecklist, {{"LPLEASE", "L1"}, {"LPPRTYP", "1"}, {"LPNUM", "999"}, {"LPTEXT", "x"}});
    EXPECT_FALSE(item("L1", "1"));
    EXPECT_EQ(reason, "Unable to create a unique sequence number for Lease Checklist item record with 'L1, 0'(1139)");

    auto insurance = [&](const char* type, bool converting = true) {
        Stage("PML", kPmlInsurance, {{"LILEASE", "l1"}, {"LINSTYP", type}});
        return Call([&] { return converter.ConvertInsurance(H("PML"), info, reason, messages, converting); });
    };
    ASSERT_TRUE(insurance("fire")) << reason;
    EXPECT_EQ(Pml(8, "LINSTYP") + "/" + WholeText(PmlNumber(8, "LISEQ")), "Fire/1");
    EXPECT_FALSE(insurance(""));
    EXPECT_EQ(reason, "Insurance type is required for Lease, Revision 'l1(0)'(1101)");
}

TEST_F(PmlChildTest, AStopAmongTheChildRecordsRestoresEveryFile) {
    ExpectStopRestores(
        {LeaseLine("N1"), Line("3", "PML", kPmlDeposit, {{"LDLEASE", "N1"}, {"LDDTYPE", "Security"}, {"LDUNIT", "U100"}}),
         Line("7", "PML", kPmlChecklist, {{"LPLEASE", "N1"}, {"LPTEXT", "Keys"}}),
         Line("8", "PML", kPmlInsurance, {{"LILEASE", "N1"}, {"LINSTYP", "Fire"}}),
         Line("11", "PML", kPmlLateCharge, {{"LLLEASE", "N1"}})},
        4);
    EXPECT_FALSE(ReadLease("N1"));
}

// Every number up to 999 taken earlier in the text file: Examine refuses the next one as
// Convert does, rather than keep 1000.
TEST_F(PmlChildTest, AllNumbersTakenIsRefusedInBothModes) {
    std::vector<std::string> lines;
    for (int n = 0; n < 1000; ++n)
        lines.push_back(Line("8", "PML", kPmlInsurance, {{"LILEASE", "L2"}, {"LINSTYP", "Fire"}}));
    for (bool converting : {false, true}) {
        const std::string report = PmlTest::Run(lines, converting);
        EXPECT_EQ(Count(report, "Unable to create a unique sequence number for Lease Insurance record with 'L2, 0'"), 1)
            << (converting ? "Convert" : "Examine");
    }
}

}  // namespace
}  // namespace dz::pm::testing
