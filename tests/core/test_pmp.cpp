// The PM property and system converter in process: the handlers of late charges, units, unit
// history, checklist items, misc income sources and PM system records on a staged record; then
// whole text files for the dropped repeats, the passes after the records and the ways a run ends
// before its data stands.
#include "pm_fixture.h"

#include "converters/pm/xvpmp.h"

#include "convert/progress.h"
#include "modules/module_dlls.h"
#include "convert/texts.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/store.h"
#include "platform/import/xvl_import.h"
#include "platform/ui/framework.h"
#include "platform/ui/print.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <optional>


namespace dz::pm::testing {

using namespace convert;
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

class PmpTest : public PmFixture {
protected:
    void SetUp() override {
        PmFixture::SetUp();
        state.unitClasses.Load(kUnitClassList);
        state.sfTypes.Load(kSfTypeTerm);
        Property("HARBOR", "01");
        BaseAccount("400000");
        InterestRate("PRIME");
        ASSERT_TRUE(modules::LoadModuleDlls());  // the GL fiscal entity
    }

    PmpRecordContext Ctx(bool converting = true) {
        PmpRecordContext c;
        c.pmp = H("PMP");
        c.pms = H("PMS");
        c.glm = H("GLM");
        c.cmm = H("CMM");
        c.apm = apm;
        c.txm = txm;
        c.usingTax = usingTax;
        c.cmMultipleCash = cmMultipleCash;
        c.converting = converting;
        c.ids = &ids;
        c.state = &state;
        return c;
    }
    // The record `rec` of `abbr` now in the buffer is met in the text file.
    void Met(const std::string& abbr, uint16_t rec) {
        std::string id;
        convert::RecordIdText(H(abbr), id, rec);
        ids.emplace(id, 0);
    }
    using Handler = bool (*)(const PmpRecordContext&, std::string&, convert::MessageList&);
    // Runs `handler` on the staged record: the reason ("" when accepted).
    std::string Check(Handler handler, bool converting = true) {
        reason.clear();
        messages.clear();
        const bool ok = handler(Ctx(converting), reason, messages);
        EXPECT_EQ(ok, reason.empty()) << reason;
        return reason;
    }
    std::string Text(uint16_t rec, const char* name) { return GetText(H("PMP"), rec, name); }
    double Number(uint16_t rec, const char* name) { return GetNumber(H("PMP"), rec, name); }

    PmpState state;
    RecordIdMap ids;
    uint16_t apm = 0, txm = 0;
    bool usingTax = true, cmMultipleCash = false;
    std::string reason;
    convert::MessageList messages;
};

// ---- Late charges -------------------------------------------------------------------------------------

TEST_F(PmpTest, AnInactiveStepGoesBackToItsDefaultsWithOneWarning) {
    Stage("PMP", 6, {{"PLPROP", "harbor"}, {"PLCALC2", "2"}, {"PLAMT2", "1250"}});
    EXPECT_EQ(Check(ConvertPropertyLateCharge), "");
    EXPECT_THAT(messages, ElementsAre("Step 2 not active, its fields (like Late charge type 2 with 'Interest (2)') "
                                      "were not converted(940)"));
    EXPECT_EQ(Text(6, "PLPROP"), "HARBOR");
    EXPECT_EQ(Number(6, "PLCALC2"), 1);
    EXPECT_EQ(Number(6, "PLAMT2"), 0);
    // A percent alone is shown with six decimals; Examine Files words it its own way.
    Stage("PMP", 6, {{"PLPROP", "HARBOR"}, {"PLPCT3", "1500000"}});
    EXPECT_EQ(Check(ConvertPropertyLateCharge, false), "");
    EXPECT_THAT(messages, ElementsAre(HasSubstr("Step 3 not active, its fields (like Percent 3 with '1.500000') will "
                                                "not convert(941)")));
}

TEST_F(PmpTest, ActiveStepsAreCheckedInOrderEachOnItsOwnFields) {
    struct Case {
        FieldValues fields;
        const char* reason;   // "" accepted
        const char* message;  // the first message, "" none
    };
    const std::vector<Case> cases = {
        // Type 3 with calc 5: the pair is refused before the formula is looked at.
        {{{"PLACT1", "1"}, {"PLCALC1", "3"}, {"PLCGCL1", "5"}},
         "Calculation type 1 cannot be 'Lesser of amt and pct (5)' when Late charge type 1 is 'Formula (3)'(942)", ""},
        {{{"PLACT1", "1"}, {"PLCALC1", "3"}, {"PLCGCL1", "6"}},
         "A formula for Formula 1 is required when Late charge type 1 is 'Formula (3)'(952)", ""},
        {{{"PLACT1", "1"}, {"PLFREQ1", "3"}, {"PLAMT1", "100"}},
         "Frequency days 1 is required when Frequency 1 is 'Every (3)'(972)", ""},
        {{{"PLACT1", "1"}, {"PLFREQ1", "2"}, {"PLFRQD1", "10"}, {"PLAMT1", "100"}}, "",
         "Frequency days 1 was not converted because Frequency 1 is not 'Every (3)'(943)"},
        {{{"PLACT1", "1"}, {"PLCALC1", "2"}, {"PLCGCL1", "2"}, {"PLPCT1", "1"}},
         "Interest start 1 is required when Late charge type 1 is 'Interest (2)'(947)", ""},
        {{{"PLACT1", "1"}, {"PLCALC1", "2"}, {"PLCGCL1", "2"}, {"PLPCT1", "1"}, {"PLINT1", "5"}, {"PLFREQ1", "2"}},
         "", "Frequency 1 with 'Monthly (2)' were not converted because Late charge type 1 is not 'Fee (1)'(945)"},
        // Calc 6 keeps its amount and percent.
        {{{"PLACT1", "1"}, {"PLCALC1", "3"}, {"PLCGCL1", "6"}, {"PLFRML1", "F"}, {"PLAMT1", "100"}, {"PLPCT1", "1"}},
         "", "Formula 'F' does not yet exist, the field converted but the formula needs to be created(948)"},
        {{{"PLACT1", "1"}}, "", "A valid flat amount needs to be added for Late charge Flat amount 1(973)"},
        {{{"PLACT1", "1"}, {"PLCALC1", "2"}, {"PLCGCL1", "3"}, {"PLINT1", "5"}},
         "Interest rate 1 is required when Calc type 1 is 'Interest rate (3)'(950)", ""},
        {{{"PLACT1", "1"}, {"PLCALC1", "2"}, {"PLCGCL1", "3"}, {"PLINT1", "5"}, {"PLINRT1", "NONE"}},
         "Interest rate 1 'NONE' not found in Interest rates(951)", ""},
        // Steps 2 and 3 read their own fields.
        {{{"PLACT3", "1"}, {"PLCALC3", "3"}, {"PLCGCL3", "6"}},
         "A formula for Formula 3 is required when Late charge type 3 is 'Formula (3)'(952)", ""},
        {{{"PLACT2", "1"}, {"PLAMT2", "100"}, {"PLGDPC2", "2"}, {"PLGCDY2", "4"}},
         "A formula for Grace formula 2 is required when Grace period calc 2 is 'Grace Formula (2)'(952)",
         "Grace days 2 with '4' were not converted because Grace period calc 2 is not 'Grace Days (1)'(945)"},
    };
    for (const auto& c : cases) {
        FieldValues fields = c.fields;
        fields.push_back({"PLPROP", "HARBOR"});
        Stage("PMP", 6, fields);
        EXPECT_EQ(Check(ConvertPropertyLateCharge), c.reason);
        EXPECT_EQ(messages.empty() ? "" : messages.front(), c.message) << c.reason;
    }
    // An interest rate on file takes its stored spelling; examining, one met earlier passes.
    Stage("PMP", 6, {{"PLPROP", "HARBOR"}, {"PLACT1", "1"}, {"PLCALC1", "2"}, {"PLCGCL1", "3"}, {"PLINT1", "5"},
                     {"PLINRT1", "prime"}, {"PLAMT1", "100"}});
    EXPECT_EQ(Check(ConvertPropertyLateCharge), "");
    EXPECT_EQ(Text(6, "PLINRT1"), "PRIME");
    EXPECT_EQ(Number(6, "PLAMT1"), 0);
    Stage("PMS", 2, {{"VALID", "DAILY"}});
    Met("PMS", 2);
    Stage("PMP", 6, {{"PLPROP", "HARBOR"}, {"PLACT1", "1"}, {"PLCALC1", "2"}, {"PLCGCL1", "3"}, {"PLINT1", "5"},
                     {"PLINRT1", "DAILY"}});
    EXPECT_EQ(Check(ConvertPropertyLateCharge, false), "");
    EXPECT_THAT(Check(ConvertPropertyLateCharge, true), HasSubstr("'DAILY' not found in Interest rates(951)"));
}

// ---- Units, unit history, checklist items, misc income sources ------------------------------------------

TEST_F(PmpTest, UnitsTakeStoredSpellingsAndLoseWhatLeasesFill) {
    Stage("PMP", 17, {{"UPROP", "harbor"}, {"UNIT", "H1"}, {"UCLASS", "premium"}, {"UCURTEN", "ACME"},
                      {"UCURLES", "L9"}});
    EXPECT_EQ(Check(ConvertUnit), "");
    EXPECT_EQ(Text(17, "UPROP"), "HARBOR");
    EXPECT_EQ(Text(17, "UCLASS"), "Premium");
    EXPECT_EQ(Text(17, "UCURTEN") + Text(17, "UCURLES"), "");
    EXPECT_THAT(messages, ElementsAre(HasSubstr("Current Tenant with 'ACME' cannot be converted"),
                                      HasSubstr("Current Lease with 'L9' cannot be converted")));
    // The required fields come before the property.
    Stage("PMP", 17, {{"UPROP", "NOPE"}, {"UCLASS", "Standard"}});
    EXPECT_EQ(Check(ConvertUnit), "Unit is required for Property 'NOPE'(902)");
    Stage("PMP", 17, {{"UPROP", "NOPE"}, {"UNIT", "N1"}, {"UCLASS", "Standard"}});
    EXPECT_EQ(Check(ConvertUnit), "Property 'NOPE' does not yet exist(939)");
    // Examining, a property met earlier in the text file is enough.
    Stage("PMP", 1, {{"PROP", "NOPE"}});
    Met("PMP", 1);
    Stage("PMP", 17, {{"UPROP", "NOPE"}, {"UNIT", "N1"}, {"UCLASS", "Standard"}});
    EXPECT_EQ(Check(ConvertUnit, false), "");

    Unit("HARBOR", "H1");
    Stage("PMP", 20, {{"LUPROP", "HARBOR"}, {"LUUNIT", "h1"}, {"LULEASE", "L1"}, {"LUDUMMY", "1"}});
    EXPECT_EQ(Check(ConvertLeaseUnit), "");
    EXPECT_EQ(Text(20, "LUUNIT"), "H1");
    EXPECT_EQ(Number(20, "LUDUMMY"), 0);
    EXPECT_THAT(messages, ElementsAre("Dummy is not being used, its value '1' was not converted(906)"));
    Stage("PMP", 19, {{"UFPROP", "HARBOR"}, {"UFUNIT", "H2"}, {"UFSFTYP", "usable"}, {"UFDATE", "1/1/2026"}});
    EXPECT_EQ(Check(ConvertUnitSfType), "Property Unit 'HARBOR, H2' does not yet exist(966)");
}

TEST_F(PmpTest, HistoryMayNotPassThePropertysPeriodEnd) {
    Unit("HARBOR", "H1");
    Stage("PMP", 25, {{"ULHPROP", "HARBOR"}, {"ULHUNIT", "H1"}, {"ULHDATE", "12/31/2026"}});
    EXPECT_EQ(Check(ConvertUnitLeaseHistory), "");
    Stage("PMP", 25, {{"ULHPROP", "HARBOR"}, {"ULHUNIT", "H1"}, {"ULHDATE", "1/1/2027"}});
    EXPECT_EQ(Check(ConvertUnitLeaseHistory),
              "Leasing history 'HARBOR, H1,  1/01/2027' is beyond the Property Period ending date '12/31/2026'(977)");
    Stage("PMP", 26, {{"UOHPROP", "HARBOR"}, {"UOHUNIT", "H1"}});
    EXPECT_EQ(Check(ConvertUnitOccupancyHistory), "Date is required for Property 'HARBOR'(902)");
    // Examining: the text file's period end of a property and unit met earlier; none, no limit.
    Stage("PMP", 1, {{"PROP", "DOCK"}});
    Met("PMP", 1);
    Stage("PMP", 17, {{"UPROP", "DOCK"}, {"UNIT", "D1"}});
    Met("PMP", 17);
    Stage("PMP", 26, {{"UOHPROP", "DOCK"}, {"UOHUNIT", "D1"}, {"UOHDATE", "1/1/2027"}});
    EXPECT_EQ(Check(ConvertUnitOccupancyHistory, false), "");
    state.properties.Add(PropertyIdText(H("PMP"), "dock"), "01", suite::zqDate(6, 30, 2026));
    EXPECT_THAT(Check(ConvertUnitOccupancyHistory, false), HasSubstr("Period ending date ' 6/30/2026'(977)"));
}

TEST_F(PmpTest, ChecklistItemsAreNumberedAfterTheLastOfTheirPropertyAndType) {
    for (int n = 1; n <= 4; ++n)
        Put("PMP", 12, {{"PPPROP", "HARBOR"}, {"PPTYPE", "2"}, {"PPNUM", std::to_string(n)}, {"PPTEXT", "x"}});
    Stage("PMP", 12, {{"PPPROP", "harbor"}, {"PPTYPE", "2"}, {"PPTEXT", "Keys"}});
    EXPECT_EQ(Check(ConvertPropertyChecklistItem), "");
    EXPECT_EQ(Number(12, "PPNUM"), 5);
    // Examining, the next one moves past the one met earlier.
    Met("PMP", 12);
    Stage("PMP", 12, {{"PPPROP", "HARBOR"}, {"PPTYPE", "2"}, {"PPTEXT", "Meters"}});
    EXPECT_EQ(Check(ConvertPropertyChecklistItem, false), "");
    EXPECT_EQ(Number(12, "PPNUM"), 6);
    // The last property in key order, with 999 on file: 1, which is taken.
    Property("ZED");
    Put("PMP", 12, {{"PPPROP", "ZED"}, {"PPTYPE", "1"}, {"PPNUM", "1"}, {"PPTEXT", "x"}});
    Put("PMP", 12, {{"PPPROP", "ZED"}, {"PPTYPE", "1"}, {"PPNUM", "999"}, {"PPTEXT", "x"}});
    Stage("PMP", 12, {{"PPPROP", "ZED"}, {"PPTYPE", "1"}, {"PPTEXT", "Keys"}});
    EXPECT_EQ(Check(ConvertPropertyChecklistItem),
              "Unable to create a unique sequence number for Checklist item with 'ZED, General (1)'(965)");
    // Examining can reach 1000 past items met earlier, which Convert never gives.
    Stage("PMP", 12, {{"PPPROP", "ZED"}, {"PPTYPE", "3"}, {"PPNUM", "999"}});
    Met("PMP", 12);
    Put("PMP", 12, {{"PPPROP", "ZED"}, {"PPTYPE", "3"}, {"PPNUM", "998"}, {"PPTEXT", "x"}});
    Stage("PMP", 12, {{"PPPROP", "ZED"}, {"PPTYPE", "3"}, {"PPTEXT", "Keys"}});
    EXPECT_THAT(Check(ConvertPropertyChecklistItem, false), HasSubstr("'ZED, Move-out (3)'(965)"));
}

TEST_F(PmpTest, MiscIncomeSourcesNeedTheirAccountInGl) {
    GlAccount("01112340000");
    Stage("PMP", 21, {{"MIPROP", "HARBOR"}, {"MISRC", "PARK"}, {"MIGL", "01999990000"}});
    EXPECT_EQ(Check(ConvertMiscIncomeSource), "Description is required for Property 'HARBOR'(902)");
    Stage("PMP", 21, {{"MIPROP", "HARBOR"}, {"MISRC", "PARK"}, {"MIDESC", "Parking"}, {"MIGL", "01999990000"}});
    EXPECT_THAT(Check(ConvertMiscIncomeSource, false),
                HasSubstr("not found in GL accounts for this Misc income source record(967)"));
    Stage("PMP", 21, {{"MIPROP", "HARBOR"}, {"MISRC", "PARK"}, {"MIDESC", "Parking"}, {"MIGL", "01112340000"}});
    EXPECT_EQ(Check(ConvertMiscIncomeSource), "");
}

// ---- PM system records ----------------------------------------------------------------------------------

TEST_F(PmpTest, ChargeTypesNeedTheAccountsTheirAccountingMethodPostsTo) {
    Stage("PMS", 1, {{"CT", "RENT"}, {"CTCDESC", "Rent"}, {"CTPDESC", "Rent paid"}, {"CTGLREV", "400000"}});
    EXPECT_EQ(Check(ConvertChargeType),
              "Prepaid base account is required for Charge type 'RENT' when using accrual accounting(903)");
    state.accountingMethod = 2;
    EXPECT_EQ(Check(ConvertChargeType), "");
    EXPECT_EQ(GetText(H("PMS"), 1, "CTSMCT"), "RENT");
    Stage("PMS", 1, {{"CT", "RENT"}, {"CTCDESC", "Rent"}, {"CTPDESC", "Rent paid"}, {"CTGLREC", "120000"}});
    EXPECT_THAT(Check(ConvertChargeType), HasSubstr("when using Cash only accounting(980)"));
    Stage("PMS", 1, {{"CT", "RENT"}, {"CTCDESC", "Rent"}, {"CTPDESC", "Rent paid"}, {"CTGLREV", "400000"},
                     {"CTGLREC", "120000"}});
    EXPECT_THAT(Check(ConvertChargeType), HasSubstr("Receivable base account '"));
    EXPECT_THAT(reason, HasSubstr("' not found in GL base accounts(904)"));

    Stage("PMS", 2, {{"VALID", "ZERO"}, {"VALDATE", "1/1/2026"}});
    EXPECT_EQ(Check(ConvertInterestRate), "Rate cannot be blank or zero for Interest ID 'ZERO'(905)");
    Stage("PMS", 2, {{"VALID", "NEG"}, {"VALDATE", "1/1/2026"}, {"VALUE", "-1000000"}});
    EXPECT_EQ(Check(ConvertInterestRate), "");

    Stage("PMS", 4, {{"MBID", "M1"}, {"MBVND", "V1"}, {"MBAPB", "B1"}});
    EXPECT_EQ(Check(ConvertManagerBroker, false), "");
    EXPECT_THAT(messages, ElementsAre("AP vendor is not being used, its value 'V1' will not be converted(907)",
                                      "AP bank is not being used, its value 'B1' will not be converted(907)"));
    EXPECT_EQ(GetText(H("PMS"), 4, "MBVND") + GetText(H("PMS"), 4, "MBAPB"), "");
}

// Without GL prefixes no charge type or manager can be set up; interest rates still can.
class PmpNonPrefixed : public PmpTest {
protected:
    void Adjust(suite::CompanySettings& settings) override {
        auto& gl = settings.formats[9];
        gl.prefix_levels = 0;
        gl.sections.erase(gl.sections.begin(), gl.sections.end() - 2);  // the base and the suffix
    }
};

TEST_F(PmpNonPrefixed, ChargeTypesAndManagersNeedAPrefixedAccountFormat) {
    Stage("PMS", 1, {{"CT", "RENT"}, {"CTCDESC", "Rent"}, {"CTPDESC", "Rent paid"}, {"CTGLPRE", "400000"}});
    EXPECT_EQ(Check(ConvertChargeType), "Charge types cannot be converted when using a non-prefixed GL account format(900)");
    Stage("PMS", 4, {{"MBID", "M1"}});
    EXPECT_EQ(Check(ConvertManagerBroker),
              "Manager/Broker's cannot be converted when using a non-prefixed GL account format(900)");
    Stage("PMS", 2, {{"VALID", "PRIME"}, {"VALDATE", "1/1/2026"}, {"VALUE", "1"}});
    EXPECT_EQ(Check(ConvertInterestRate), "");
}

TEST(KeptPropertiesTest, KeepsTheFirstOfEachPropertyWithoutRegardToCaseInTheOrderAdded) {
    KeptProperties kept;
    for (int i = 0; i < 5000; ++i)  // past several growths of the table
        EXPECT_TRUE(kept.Add("101\t0\tp" + std::to_string(i), i % 2 ? "01110" : "01210", suite::zqDate(1, 1, 2000 + i % 50)));
    EXPECT_FALSE(kept.Add("101\t0\tP7", "99999", {}));
    std::string prefix;
    x_date_type end;
    ASSERT_TRUE(kept.Find("101\t0\tP7", &prefix, &end));
    EXPECT_EQ(prefix, "01110");
    EXPECT_EQ(end, suite::zqDate(1, 1, 2007));
    EXPECT_FALSE(kept.Find("101\t0\tP5000", nullptr, nullptr));
    std::vector<std::string> order;
    kept.ForEach([&](std::string_view id, const std::string&) { order.emplace_back(id); });
    ASSERT_EQ(order.size(), 5000u);
    EXPECT_EQ(order[4999], "101\t0\tp4999");
}

// ---- The property record -------------------------------------------------------------------------------

class PmpProperty : public PmpTest {
protected:
    void SetUp() override {
        PmpTest::SetUp();
        GlCalendar(2026, 11);
        for (const char* prefix : {"01", "011", "01110", "012", "01210"}) GlPrefix(prefix);
        Bank("OPER");
    }
    // A property that passes, with `changes` over it.
    void StageProperty(const FieldValues& changes) {
        FieldValues values = {{"PROP", "P1"},         {"PNAME", "Pier One"},      {"PTYPE", "Office"},
                              {"PGLPFX", "01110"},    {"POPBANK", "oper"},        {"PPEREND", "11/30/2026"},
                              {"PFYEND", "12/31/2026"}, {"PPAYDAY", "1"},        {"PTRAKVL", "1"}};
        for (const auto& [name, value] : changes) {
            auto at = std::find_if(values.begin(), values.end(), [&](const auto& v) { return std::string(v.first) == name; });
            if (at == values.end())
                values.emplace_back(name, value);
            else
                at->second = value;
        }
        std::erase_if(values, [](const auto& v) { return v.second.empty(); });  // left blank
        Stage("PMP", 1, values);
    }
    std::string Try(const FieldValues& changes, bool converting = true) {
        StageProperty(changes);
        return Check(ConvertProperty, converting);
    }
};

TEST_F(PmpProperty, FieldsAreRequiredInOrderAndValuesCheckedInRange) {
    EXPECT_EQ(Try({}), "");
    EXPECT_EQ(Text(1, "POPBANK"), "OPER");  // the bank's stored spelling
    EXPECT_THAT(messages, ElementsAre(HasSubstr("(913)")));  // OPER has no cash account
    EXPECT_EQ(Try({{"PNAME", ""}, {"PFYEND", ""}}), "Property name is required for Property 'P1'(902)");
    EXPECT_EQ(Try({{"PFYEND", ""}}), "Fiscal year end is required for Property 'P1'(902)");
    EXPECT_EQ(Try({{"PPAYDAY", "31"}}), "");
    for (const char* day : {"0", "32"})
        EXPECT_EQ(Try({{"PPAYDAY", day}}), "Payment days must be between 1 and 31 when Payment days type is "
                                                "'Day of month', " + std::string(day) + " days is invalid(921)");
    EXPECT_EQ(Try({{"PPAYTYP", "2"}, {"PPAYDAY", "40"}}), "");
    EXPECT_EQ(Try({{"PGLPFX", "01999"}}), "GL prefix '01-9-99' not found in GL prefixes(911)");
    EXPECT_EQ(Try({{"PMGR", "NOBODY"}}), "The Manager 'NOBODY' was not found in the Manager/broker records(917)");
    EXPECT_EQ(Try({{"PSUMVND", "V1"}}),  // no AP master file open
              "Summary vendor 'V1' does not yet exist as an Account payable summary vendor(920)");
    EXPECT_EQ(Try({{"POPBANK", "NONE"}}), "CM bank 'NONE' not found in Check Management banks(912)");
}

TEST_F(PmpProperty, DatesMustBeEndsOfThePrefixsFiscalCalendar) {
    EXPECT_EQ(Try({{"PPEREND", "11/29/2026"}}),
              "Period end date '11/29/2026' doesn't match an entry in GL's fiscal calendar for prefix '01-1-10'(924)");
    EXPECT_EQ(Try({{"PFYEND", "11/30/2026"}}),
              "Fiscal end date '11/30/2026' doesn't match final entry in GL's fiscal calendar for prefix '01-1-10'(926)");
    // Months the calendar does not hold, and a calendar of thirteen periods.
    EXPECT_THAT(Try({{"PPEREND", "1/31/2030"}, {"PFYEND", "12/31/2030"}}), HasSubstr("(924)"));
    // The fiscal year end before the period end is refused before the calendar is asked for it.
    EXPECT_EQ(Try({{"PFYEND", "11/29/2026"}}),
              "Fiscal year end date 11/29/2026 must be greater than or equal to the Period end date 11/30/2026(925)");
    const uint16_t glm = H("GLM");
    ASSERT_EQ(xio_rd_header(glm, 1, 1), XIO_OK);
    PutFlag(glm, xio_num(glm, XIO_NUM_HEADER, 1, "U13PA"), 1);
    ASSERT_EQ(xio_wr_header(glm, 1), XIO_OK);
    state.answers = {};  // a run reads the GL master file once: this one changes it
    EXPECT_EQ(Try({}), "GL prefix '01-1-10' uses 13 periods. Thirteen period prefixes are not allowed in PM(922)");
    // No calendar at all.
    ASSERT_EQ(xio_rd_header(glm, 1, 1), XIO_OK);
    for (uint16_t f = xio_num(glm, XIO_NUM_HEADER, 1, "P2Y1"), n = 0; n < 52; ++n)
        xio_put_field(glm, 0, static_cast<uint16_t>(f + n), x_value_def{});
    ASSERT_EQ(xio_wr_header(glm, 1), XIO_OK);
    state.answers = {};
    EXPECT_EQ(Try({}), "A GL fiscal calendar date that prefix '01-1-10' uses is not set up correctly(923)");

    x_date_type period, year;
    EXPECT_TRUE(GetFiscalCalendarDates(glm, "", suite::zqDate(6, 1, 2026), period, year));
    EXPECT_TRUE(IsUnsetDate(period) && IsUnsetDate(year));
    modules::ReleaseModuleDlls();  // no fiscal entity can be made
    EXPECT_FALSE(GetFiscalCalendarDates(glm, "01110", suite::zqDate(6, 1, 2026), period, year));
}

TEST_F(PmpProperty, FieldsThatDoNotApplyAreResetWithOneWarningEach) {
    // Vacancy loss not tracked: one warning, and the account reset is not looked up.
    EXPECT_EQ(Try({{"PTRAKVL", "0"}, {"PVLRNBS", "2"}, {"PVLACT", "999900"}, {"PVLRND", "2"}}), "");
    EXPECT_THAT(messages, ElementsAre("Vacancy loss not marked, loss fields (like Vac loss rent basis with 'Lease rent "
                                      "(2)') not converted(927)",
                                      HasSubstr("(913)")));
    EXPECT_EQ(Number(1, "PVLRNBS") + Number(1, "PVLRND"), 2);
    EXPECT_EQ(Text(1, "PVLACT"), "");
    EXPECT_EQ(Try({{"PVLACT", "999900"}}), "Vacancy Loss GL Acct '9999-00' not found in GL base accounts(929)");
    // Compare option 3: the first amount is reset, then the formula is missing.
    EXPECT_EQ(Try({{"PRTCO", "3"}, {"PRTCM1", "5"}}), "Compare formula required when Compare options is 3(932)");
    EXPECT_THAT(messages, ElementsAre("Compare amount 1 with '5' was not converted because Compare options is not 1(930)"));
    EXPECT_EQ(Try({{"PRTCO", "1"}, {"PRTCF", "F1"}, {"PRTCSM", "2"}}, false), "");
    EXPECT_THAT(messages, ElementsAre(HasSubstr("Compare sales measure with 'Net sales (2)' will not convert because "
                                                "Compare options is not 2(931)"),
                                      HasSubstr("Compare formula with 'F1' will not convert because Compare options is "
                                                "not 3(931)"),
                                      HasSubstr("(913)")));
    // The first GPR run from the last rent run, when that is a whole date.
    EXPECT_EQ(Try({{"PLSTRR", "6/30/2024"}}), "");
    EXPECT_EQ(DateText(GetDate(H("PMP"), 1, "PFGRR")), DateText(suite::zqDate(6, 30, 2024)));
    EXPECT_EQ(Number(1, "PFGRRC"), 1);
    EXPECT_EQ(Try({}), "");
    EXPECT_EQ(Number(1, "PFGRRC"), 0);
    EXPECT_TRUE(IsUnsetDate(GetDate(H("PMP"), 1, "PFGRR")));
}

TEST_F(PmpProperty, TheBanksCashAccountIsComparedWithThePrefix) {
    GlAccount("01210100000");
    Put("CMM", 1, {{"BANKACC", "OTHER"}, {"BGENCSH", "01210100000"}, {"BPMVALD", "1"}});
    EXPECT_EQ(Try({{"POPBANK", "other"}}), "");
    EXPECT_THAT(messages, ElementsAre("Bank 'OTHER' prefix '01-2-10' does not match prop prefix '01-1-10'. CR's will "
                                      "create I/C trans(983)"));
    EXPECT_EQ(Try({{"POPBANK", "other"}, {"PGLPFX", "01210"}}), "");
    EXPECT_THAT(messages, ::testing::IsEmpty());
    // A bank with a cash account PM may not use.
    Put("CMM", 1, {{"BANKACC", "PAY"}, {"BGENCSH", "01210100000"}});
    EXPECT_EQ(Try({{"POPBANK", "PAY"}}), "Bank 'PAY' is not step up to allow PM to use it(982)");
}

// ---- Detail records -------------------------------------------------------------------------------------------

TEST_F(PmpTest, ChargesKeepTheDefaultInLowerCaseAndCheckTaxGroupsAsTaxIsUsed) {
    Stage("PMP", 5, {{"PCPROP", "harbor"}, {"PCCT", "<DEFAULT>"}, {"PCPMT", "1"}});
    EXPECT_EQ(Check(ConvertPropertyCharge), "");
    EXPECT_EQ(Text(5, "PCCT"), "<default>");
    EXPECT_EQ(Text(5, "PCGLPFX"), "01");  // the property's
    // The payment priority before the tax group (no tax file is open).
    Stage("PMP", 5, {{"PCPROP", "HARBOR"}, {"PCCT", "<default>"}, {"PCTXGRP", "CITY"}});
    EXPECT_EQ(Check(ConvertPropertyCharge), "The Payment priority is required for Charge type '<default>'(934)");
    Stage("PMP", 5, {{"PCPROP", "HARBOR"}, {"PCCT", "<default>"}, {"PCPMT", "1"}, {"PCTXGRP", "CITY"}});
    EXPECT_EQ(Check(ConvertPropertyCharge), "Tax file could not be opened, Tax group with 'CITY' could not be verified(937)");
    usingTax = false;
    Stage("PMP", 5, {{"PCPROP", "HARBOR"}, {"PCCT", "<default>"}, {"PCPMT", "1"}, {"PCTXGRP", "CITY"}});
    EXPECT_EQ(Check(ConvertPropertyCharge, false), "");
    EXPECT_THAT(messages, ElementsAre("PM settings do not have Using tax marked, Tax group with 'CITY' will not be "
                                      "converted(936)"));
    EXPECT_EQ(Text(5, "PCTXGRP"), "");
    Stage("PMP", 5, {{"PCPROP", "HARBOR"}, {"PCCT", "NONE"}, {"PCPMT", "1"}});
    EXPECT_EQ(Check(ConvertPropertyCharge), "The Charge type 'NONE' was not found in the Charge type records(933)");
}

TEST_F(PmpTest, TaxYearsOfTwoDigitsAreCompletedAndOthersRefused) {
    const std::vector<std::pair<const char*, const char*>> years = {
        {"24", "2024"}, {"75", "1975"}, {"0", "2000"}, {"50", "1950"}, {"49", "2049"}, {"2024", "2024"},
        {"1000", "1000"}, {"999", ""}, {"150", ""}, {"-1", ""}};
    for (const auto& [given, stored] : years) {
        Stage("PMP", 13, {{"PTPROP", "HARBOR"}, {"PTTXID", "CNTY"}, {"PTYEAR", given}});
        const std::string result = Check(ConvertPropertyTax);
        if (*stored) {
            EXPECT_EQ(result, "") << given;
            EXPECT_EQ(WholeText(Number(13, "PTYEAR")), stored) << given;
        } else {
            EXPECT_EQ(result, "Property tax year '" + std::string(given) + "' is not a valid year(981)");
        }
    }
}

TEST_F(PmpTest, InsuranceIsNumberedAfterTheLastOnFileUpTo999) {
    for (int n = 1; n <= 4; ++n) Put("PMP", 15, {{"PIPROP", "HARBOR"}, {"PISEQ", std::to_string(n)}, {"PIINSTY", "x"}});
    for (bool converting : {false, true}) {
        ids.clear();
        std::vector<double> given;
        for (int i = 0; i < 3; ++i) {
            Stage("PMP", 15, {{"PIPROP", "harbor"}, {"PIINSTY", "Liability"}});
            EXPECT_EQ(Check(ConvertPropertyInsurance, converting), "");
            given.push_back(Number(15, "PISEQ"));
            if (converting) {
                ASSERT_EQ(xio_wr_record(H("PMP"), 15), XIO_OK);
            } else {
                Met("PMP", 15);
            }
        }
        EXPECT_THAT(given, ElementsAre(5, 6, 7)) << converting;
    }
    // Examining, the numbers met in the text file may run out: 1000 is no number.
    Property("ZED");
    Put("PMP", 15, {{"PIPROP", "ZED"}, {"PISEQ", "998"}, {"PIINSTY", "x"}});
    ids.clear();
    Stage("PMP", 15, {{"PIPROP", "ZED"}, {"PISEQ", "999"}});
    Met("PMP", 15);
    Stage("PMP", 15, {{"PIPROP", "ZED"}, {"PIINSTY", "x"}});
    EXPECT_EQ(Check(ConvertPropertyInsurance, false),
              "Unable to create a unique sequence number for Insurance with 'ZED'(965)");
}

TEST_F(PmpTest, OccupancyNeedsATrackedSfTypeAndAtMost200Percent) {
    Put("PMP", 8, {{"PFPROP", "HARBOR"}, {"PFSFTYP", "Rentable"}, {"PFTRACK", "1"}});
    Put("PMP", 8, {{"PFPROP", "HARBOR"}, {"PFSFTYP", "Usable"}});
    Stage("PMP", 8, {{"PFPROP", "HARBOR"}, {"PFSFTYP", "Gross"}, {"PFCOCC", "80000000"}});
    EXPECT_EQ(Check(ConvertPropertySfType), "");
    EXPECT_THAT(messages, ElementsAre("Current occupancy with '80.000000' was not converted because Track occupancy is "
                                      "not marked(959)"));
    EXPECT_EQ(Number(8, "PFCOCC"), 0);
    for (const auto& [occupancy, result] : std::vector<std::pair<const char*, const char*>>{
             {"200000000", ""},
             {"200000001", "The Occupancy cannot be greater than 200 percent, it is 200.000001 percent(975)"}}) {
        Stage("PMP", 9, {{"PMPROP", "HARBOR"}, {"PMSFTYP", "rentable"}, {"PMMYR", "11/1/2026"}, {"PMOCC", occupancy}});
        EXPECT_EQ(Check(ConvertMonthlyOccupancy), result);
    }
    EXPECT_EQ(Text(9, "PMSFTYP"), "Rentable");
    Stage("PMP", 9, {{"PMPROP", "HARBOR"}, {"PMSFTYP", "Gross"}, {"PMMYR", "11/1/2026"}});
    EXPECT_EQ(Check(ConvertMonthlyOccupancy), "Property SF type 'HARBOR, Gross' does not yet exist(961)");
    Stage("PMP", 9, {{"PMPROP", "HARBOR"}, {"PMSFTYP", "Usable"}, {"PMMYR", "11/1/2026"}});
    EXPECT_THAT(Check(ConvertMonthlyOccupancy), HasSubstr("on the SF record for this Occupancy - monthy record(962)"));
}

TEST_F(PmpTest, YearOccupancyFollowsThePropertysTrackingAsTheTextFileGaveIt) {
    GlCalendar(2026);
    // Examining: properties and an SF type met earlier, with the values the loop keeps.
    for (const auto& [prop, tracking] : std::vector<std::pair<const char*, uint16_t>>{{"CAL", 10}, {"FIS", 1}, {"BOTH", 11}}) {
        Stage("PMP", 1, {{"PROP", prop}});
        std::string id;
        convert::RecordIdText(H("PMP"), id, 1);
        ids.emplace(id, tracking);
        state.properties.Add(id, "01", {});
        Stage("PMP", 8, {{"PFPROP", prop}, {"PFSFTYP", "Rentable"}});
        convert::RecordIdText(H("PMP"), id, 8);
        ids.emplace(id, 1);
    }
    auto calendarYear = [&](const char* prop) {
        Stage("PMP", 10, {{"PCYPROP", prop}, {"PCYSFT", "Rentable"}, {"PCYYEAR", "23"}});
        return Check(ConvertCalYearOccupancy, false);
    };
    auto fiscalYear = [&](const char* prop, const char* end) {
        Stage("PMP", 11, {{"PFYPROP", prop}, {"PFYSFT", "Rentable"}, {"PFYFYE", end}});
        return Check(ConvertFiscalYearOccupancy, false);
    };
    EXPECT_EQ(calendarYear("CAL"), "");
    EXPECT_EQ(Number(10, "PCYYEAR"), 2023);
    EXPECT_THAT(calendarYear("FIS"), HasSubstr("for this Property occupancy - cal yr record(963)"));
    EXPECT_EQ(calendarYear("BOTH"), "");
    EXPECT_THAT(fiscalYear("CAL", "12/31/2026"), HasSubstr("for this Property occupancy - fisc yr record(964)"));
    EXPECT_EQ(fiscalYear("FIS", "12/31/2025"), "");  // the prefix from the text file's property
    EXPECT_THAT(fiscalYear("BOTH", "11/30/2026"),
                HasSubstr("Fiscal end date '11/30/2026' doesn't match final entry in GL's fiscal calendar"));
    Stage("PMP", 10, {{"PCYPROP", "CAL"}, {"PCYSFT", "Rentable"}, {"PCYYEAR", "500"}});
    EXPECT_EQ(Check(ConvertCalYearOccupancy, false), "Property occupancy - cal yr year '500' is not a valid year(981)");
}

TEST_F(PmpTest, DepositsResetInterestTermsOnceAndCheckTheirBankAndAccounts) {
    BaseAccount("210000");
    GlAccount("01210100000");
    Put("CMM", 1, {{"BANKACC", "MULTI"}, {"BMLTCSH", "1"}, {"BPMCABF", "2"}, {"BPMCSHB", "100000"},
                   {"BPMCSHF", "01210100000"}, {"BGENCSH", "01110100000"}, {"BPMVALD", "1"}});
    auto deposit = [&](const FieldValues& values, bool converting = true) {
        FieldValues all = {{"PDPROP", "HARBOR"}, {"PDDTYPE", "Security"}, {"PDBANK", "multi"}};
        all.insert(all.end(), values.begin(), values.end());
        Stage("PMP", 7, all);
        return Check(ConvertPropertyDeposit, converting);
    };
    EXPECT_EQ(deposit({{"PDREF", "1"}, {"PDDLIAB", "210000"}, {"PDINTBS", "2"}, {"PDCOMP", "3"}, {"PDPAYTM", "2"}}), "");
    EXPECT_EQ(Text(7, "PDBANK"), "MULTI");
    // Multiple cash accounts off: the general account, in another prefix than the property's.
    EXPECT_THAT(messages, ElementsAre("Interest rate is blank, interest fields (like Interest basis with 'Deposit "
                                      "balance (2)') not converted(956)",
                                      HasSubstr("PM/general cash acct '01-1-10' does not match property prefix")));
    EXPECT_EQ(Number(7, "PDINTBS") + Number(7, "PDCOMP") + Number(7, "PDPAYTM"), 3);
    // With multiple cash accounts, BPMCABF 2 names the base PM account (no prefix: not compared),
    // 1 the full one.
    cmMultipleCash = true;
    state.answers = {};
    EXPECT_EQ(deposit({{"PDREF", "1"}, {"PDDLIAB", "210000"}}), "");
    EXPECT_THAT(messages, ::testing::IsEmpty());
    const uint16_t cmm = H("CMM");
    ASSERT_TRUE(ReadByKey(cmm, 1, "BANKACC", "MULTI"));
    PutNumber(cmm, 1, "BPMCABF", 1);
    ASSERT_EQ(xio_rep_record(cmm, 1), XIO_OK);
    state.answers = {};  // the bank changed behind the run's back
    EXPECT_EQ(deposit({{"PDREF", "1"}, {"PDDLIAB", "210000"}}), "");
    EXPECT_THAT(messages, ElementsAre(HasSubstr("The prefix of bank 'MULTI' PM/general cash acct '01-2-10' does not "
                                                "match property prefix")));
    // Not refundable with a rate: the rate is not converted, so no interest account is needed.
    EXPECT_EQ(deposit({{"PDDREV", "400000"}, {"PDINTRT", "prime"}}, false), "");
    EXPECT_THAT(messages, ElementsAre(HasSubstr("Refundable not marked, interest fields (like Interest Rate with "
                                                "'prime') will not convert(955)"),
                                      HasSubstr("(914)")));
    EXPECT_EQ(Text(7, "PDINTRT"), "");
    // A rate needs both interest accounts, asked after the accounts given were found.
    EXPECT_EQ(deposit({{"PDREF", "1"}, {"PDDLIAB", "210000"}, {"PDINTRT", "prime"}, {"PDILIAB", "999900"}}),
              "Interest liability acct '9999-00' not found in GL base accounts(904)");
    EXPECT_EQ(deposit({{"PDREF", "1"}, {"PDDLIAB", "210000"}, {"PDINTRT", "prime"}, {"PDILIAB", "210000"}}),
              "Interest exp/clr acct must contain a base account because Interest rate is not blank(958)");
    EXPECT_EQ(Text(7, "PDINTRT"), "PRIME");
    EXPECT_EQ(deposit({{"PDREF", "1"}}), "A Deposit liab acct is required when deposit is refundable(953)");
    Stage("PMP", 7, {{"PDPROP", "HARBOR"}, {"PDDTYPE", "Security"}});
    EXPECT_EQ(Check(ConvertPropertyDeposit), "Bank account is required for Property 'HARBOR'(902)");
    // Examining, a bank on file without a cash account has the one an earlier property of the
    // text file gave it, which Convert will have written by then.
    Put("CMM", 1, {{"BANKACC", "BARE"}, {"BPMVALD", "1"}});
    xio_init_record(cmm, 1);
    PutText(cmm, 1, "BANKACC", "BARE");
    std::string bareId;
    convert::RecordIdText(cmm, bareId, 1);
    state.pmCashBanks.emplace(bareId, "01110100000");
    state.answers = {};
    Stage("PMP", 7, {{"PDPROP", "HARBOR"}, {"PDDTYPE", "Security"}, {"PDBANK", "bare"}, {"PDREF", "1"},
                     {"PDDLIAB", "210000"}});
    EXPECT_EQ(Check(ConvertPropertyDeposit, false), "");
    EXPECT_THAT(messages, ElementsAre(HasSubstr("PM/general cash acct '01-1-10' does not match property prefix")));
}

// ---- Whole text files ---------------------------------------------------------------------------------------

// A converter whose operator asks to stop while the records are read or once they are, or whose
// property file fails the first write of one kind after the records.
class EndingPmp : public xvPMP {
public:
    bool stopAtFinish = false;
    int stopAfterRecords = 0;  // asks to stop once this many records were kept
    std::optional<xio::FaultCall> failing;

protected:
    void RecordWritten(convert::ConvertContext& ctx, xvl::xvlImpInfo& info) override {
        xvPMP::RecordWritten(ctx, info);
        if (--stopAfterRecords == 0 && ctx.progress) ctx.progress->stop = 1;
    }
    bool FinishConversion(convert::ConvertContext& ctx) override {
        if (stopAtFinish && ctx.progress) ctx.progress->stop = 1;
        if (failing) xio::fail_call(*failing, 1, XIO_IO_ERROR, "PMP");
        const bool ok = xvPMP::FinishConversion(ctx);
        EXPECT_TRUE(xio::faults_spent());
        xio::clear_faults();
        return ok;
    }
};

class PmpRun : public PmpTest {
protected:
    void SetUp() override {
        PmpTest::SetUp();
        GlCalendar(2026);
        for (const char* prefix : {"01", "011", "01110", "012", "01210"}) GlPrefix(prefix);
        Bank("OPER");
    }
    std::string Text(const std::vector<std::string>& lines) {
        std::string text = "#,PMP," + (data_folder() / "templates" / "xvpmp.tpl").string() + "\r\n";
        for (const auto& l : lines) text += l + "\r\n";
        return text;
    }
    // Runs the converter over the text; the report with its notes.
    std::string Run(xvPMP& converter, const std::string& text, bool converting) {
        const std::string path = company.str("property" + std::to_string(++runs_) + ".txt");
        WriteFile(path, text);
        lastText = path;
        ui::zqTask task(converting ? "Convert" : "Examine Files", 15, converting ? 3020 : 3010, 5);
        const std::string reportPath = company.str("report.txt");
        const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, reportPath);
        converter.ConvertFile(list, convert::TextFileEntry{path, 601}, &progress, print, task, "", nullptr);
        ui::zp_cls_print_file(task.ID(), 201);
        ui::xp_close_print(print);
        return ReadFile(reportPath);
    }
    std::string Run(const std::vector<std::string>& lines, bool converting) {
        xvPMP converter;
        return Run(converter, Text(lines), converting);
    }
    // Lines of the shipped template's formats.
    static std::string PropertyLine(const std::string& prop, const std::string& prefix, int units = 0) {
        return "1," + prop + ",Name,,Office," + prefix + ",OPER,12/31/2026,12/31/2026,,,,1,Rentable," +
               std::to_string(units) + std::string(22, ',');
    }
    static std::string UnitLine(const std::string& prop, const std::string& unit, bool occupied = false) {
        return "17," + prop + "," + unit + ",Standard," + (occupied ? "Y" : "N") + ",N,,,,";
    }
    static int Count(const std::string& text, const std::string& what) {
        int n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }
    std::string Master(const char* abbr) {
        for (auto& e : list) EXPECT_EQ(xio_commit(e.handle), XIO_OK) << e.abbr;
        return ReadFile(company.path() / (std::string("MASTER.") + abbr));
    }

    convert::ConvertProgress progress{[] { return int64_t{0}; }};
    std::string lastText;
    int runs_ = 0;
};

TEST_F(PmpRun, RepeatedChargeTypesAndManagersAreDroppedWithOneNoteEach) {
    ChargeType("PARK");
    Manager("MGR1");
    const std::vector<std::string> lines = {
        "S1,PARK,Parking,Parking paid,,PRK,,2100-00,4000-00,",  // 210000 is no base account
        "S1,RENT,Rent,Rent paid,,RNT,,4000-00,4000-00,",
        "S1,RENT,Rent,Rent paid,,RNT2,RNTP,,,",
        "S4,MGR1,Again,,,,,",
        "S4,MGR2,Lee,,,,,",
        "S4,MGR2,Lee again,,,,,"};
    const std::string examined = Run(lines, false);
    EXPECT_THAT(examined, HasSubstr("Note: duplicate Manager broker records like 'MGR1' were intentionally ignored(970)"));
    EXPECT_THAT(examined, HasSubstr("Note: duplicate Charge type records like 'PARK' will be used to fill blank fields "
                                    "in existing records(979)"));
    EXPECT_EQ(Count(examined, "(62)"), 0) << examined;  // the repeats never reach the examination
    const std::string converted = Run(lines, true);
    EXPECT_EQ(Count(converted, "Note: duplicate"), 2) << converted;
    EXPECT_THAT(converted, HasSubstr("like 'PARK' were used to fill blank fields in existing records(971)"));
    const uint16_t pms = H("PMS");
    ASSERT_TRUE(ReadByKey(pms, 1, "CT", "PARK"));
    EXPECT_EQ(GetText(pms, 1, "CTCDESC") + "|" + GetText(pms, 1, "CTCREF") + "|" + GetText(pms, 1, "CTGLREV") + "|" +
                  GetText(pms, 1, "CTGLPRE"),
              "PARK charge|PRK|400000|");
    // The repeat of a charge type written on an earlier line fills what that line left blank.
    ASSERT_TRUE(ReadByKey(pms, 1, "CT", "RENT"));
    EXPECT_EQ(GetText(pms, 1, "CTCREF") + "|" + GetText(pms, 1, "CTPREF"), "RNT|RNTP");
    ASSERT_TRUE(ReadByKey(pms, 4, "MBID", "MGR1"));
    EXPECT_EQ(GetText(pms, 4, "MBNAME"), "Manager MGR1");
}

TEST_F(PmpRun, UnitCountsAreFilledInOrNotedAndHistoryIsComparedAtThePeriodEnd) {
    Unit("pa", "U0");  // on file, its property in another letter case
    Put("PMP", 5, {{"PCPROP", "PA"}, {"PCCT", kDefaultChargeType}, {"PCGLPFX", "OLD"}});
    const std::string report = Run({PropertyLine("PA", "01-1-10"), PropertyLine("PB", "01-1-10", 5),
                                    UnitLine("PA", "U1", true), UnitLine("PA", "U2"),
                                    UnitLine("PB", "U1"), UnitLine("PB", "U2"), UnitLine("PB", "U3"),
                                    "26,PA,U1,12/31/2026,Y", "26,PB,U1,12/31/2026,Y"},
                                   true);
    const uint16_t pmp = H("PMP");
    ASSERT_TRUE(ReadByKey(pmp, 1, "PROP", "PA"));
    EXPECT_EQ(GetNumber(pmp, 1, "PUNIT"), 3);
    EXPECT_EQ(GetNumber(pmp, 1, "POCOUNT"), 1);
    ASSERT_TRUE(ReadByKey(pmp, 1, "PROP", "PB"));
    EXPECT_EQ(GetNumber(pmp, 1, "PUNIT"), 5);
    EXPECT_EQ(Count(report, "Note: Property 'PB' lists 5 Units, there are actually 3(976)"), 1) << report;
    EXPECT_EQ(Count(report, "(Unit discrepancies may be caused"), 1);
    EXPECT_EQ(Count(report, "Note: Property"), 1);
    // Default charges for the properties with a GL prefix; one on file stays.
    xio_init_record(pmp, 5);
    std::vector<std::string> defaults;
    for (int s = xio_rd_ge(pmp, 5, 0, 0); s == XIO_OK; s = xio_rd_next(pmp, 5, 0, 0))
        defaults.push_back(GetText(pmp, 5, "PCPROP") + "=" + GetText(pmp, 5, "PCGLPFX"));
    EXPECT_THAT(defaults, ElementsAre("PA=OLD", "PB=01110"));
    // PB's U1 is not occupied, its history says it was: one pair of lines, one note.
    EXPECT_THAT(report, HasSubstr("Note: Unit 'PB, U1' with Not occupied does not match the Occupancy history table\n"));
    EXPECT_THAT(report, HasSubstr("that shows this Unit was Occupied as of 12/31/2026(978)"));
    EXPECT_EQ(Count(report, "does not match"), 1) << report;
}

TEST_F(PmpRun, PropertiesWithoutConvertedUnitsAreCountedAsTheyStand) {
    Unit("PE", "U1");  // on file before the text file names its property
    const std::string report =
        Run({PropertyLine("PC", "01-1-10", 2), PropertyLine("PD", "01-1-10"), PropertyLine("PE", "01-1-10")}, true);
    // PC lists units it has not; PD lists none and has none; PE lists none and has one.
    EXPECT_EQ(Count(report, "Note: Property 'PC' lists 2 Units, there are actually 0(976)"), 1) << report;
    EXPECT_EQ(Count(report, "Note: Property"), 1) << report;
    const uint16_t pmp = H("PMP");
    ASSERT_TRUE(ReadByKey(pmp, 1, "PROP", "PD"));
    EXPECT_EQ(GetNumber(pmp, 1, "PUNIT"), 0);
    ASSERT_TRUE(ReadByKey(pmp, 1, "PROP", "PE"));
    EXPECT_EQ(GetNumber(pmp, 1, "PUNIT"), 1);
}

TEST_F(PmpRun, AStopOrAFailedWriteInAPassRestoresBothFiles) {
    // Which pass holds 15 items (and so reports progress) is chosen by the properties' prefixes
    // and units.
    // Every converted property has a prefix: the pass of properties and units reaches 15 items
    // through the units of properties already on file.
    std::vector<std::string> manyPrefixed, manyBare, manyUnits = {PropertyLine("PU", "01-1-10")};
    for (int i = 10; i < 25; ++i) {
        manyPrefixed.push_back(PropertyLine("P" + std::to_string(i), "01-1-10"));
        Property("Q" + std::to_string(i));
        manyBare.push_back(UnitLine("Q" + std::to_string(i), "U1"));
        manyUnits.push_back(UnitLine("PU", "U" + std::to_string(i)));
    }
    manyPrefixed.insert(manyPrefixed.begin(), "S2,PRIME2,1/1/2026,5");
    struct Case {
        std::vector<std::string> lines;
        bool stop;
        int stopAfterRecords;
        std::optional<xio::FaultCall> failing;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {manyPrefixed, true, 0, {}, "Creating default charge recs:"},
        {manyBare, true, 0, {}, "Checking Props & Units:"},
        {manyUnits, true, 0, {}, "Checking unit history:"},
        {manyPrefixed, false, 3, {}, "Conversion canceled by operator"},  // in the record loop
        // A default charge, and corrected unit counts, that cannot be written.
        {manyPrefixed, false, 0, xio::FaultCall::WriteRecord, "Unable to read from or write to a Halvorsend data file"},
        {{PropertyLine("PA", "01-1-10"), UnitLine("PA", "U1")}, false, 0, xio::FaultCall::ReplaceRecord,
         "Unable to read from or write to a Halvorsend data file"},
    };
    const std::string pmpBefore = Master("PMP"), pmsBefore = Master("PMS");
    for (const auto& c : cases) {
        progress = convert::ConvertProgress([] { return int64_t{0}; });
        EndingPmp converter;
        converter.stopAtFinish = c.stop;
        converter.stopAfterRecords = c.stopAfterRecords;
        converter.failing = c.failing;
        const std::string text = Text(c.lines);
        const std::string report = Run(converter, text, true);
        if (c.stop) {
            EXPECT_EQ(Count(report, "Conversion canceled by operator"), 1) << report;
            EXPECT_EQ(progress.status_text, c.expected);
        } else {
            EXPECT_EQ(Count(report, c.expected), 1) << report;
        }
        EXPECT_TRUE(ReadFile(lastText) == text) << c.expected;  // not stamped
        EXPECT_TRUE(Master("PMP") == pmpBefore) << c.expected;  // byte for byte
        EXPECT_TRUE(Master("PMS") == pmsBefore) << c.expected;
    }
}

// The property file commits, the system file's commit fails: both are put back as they were,
// and the text file is not stamped.
TEST_F(PmpRun, AFailedCommitOfTheSecondFilePutsBothFilesBack) {
    const std::string pmpBefore = Master("PMP"), pmsBefore = Master("PMS");
    const std::string text = Text({"S2,PRIME2,1/1/2026,5", PropertyLine("PA", "01-1-10"), UnitLine("PA", "U1")});
    std::string report;
    {
        convert::testing::FailingCalls fail;
        fail.Fail(xio::FaultCall::Commit, 1, XIO_IO_ERROR, "PMS");
        xvPMP converter;
        report = Run(converter, text, true);
        EXPECT_TRUE(fail.Spent());
    }
    EXPECT_THAT(report, HasSubstr("Unable to read from or write to a Halvorsend data file"));
    EXPECT_THAT(report, HasSubstr("the ZQ data file was not changed"));
    EXPECT_TRUE(ReadFile(lastText) == text);
    EXPECT_TRUE(Master("PMP") == pmpBefore);
    EXPECT_TRUE(Master("PMS") == pmsBefore);
}

TEST_F(PmpRun, RecordsOfNoHandlerAreNamedInTheRefusal) {
    const std::string report = Run({"G1,01-1-10-1000-00", "0,Rent roll"}, false);
    EXPECT_THAT(report, HasSubstr("Record type 'G1' cannot be converted as part of a PMP Propery and System conversion(75)"));
    EXPECT_THAT(report, HasSubstr("Record type '0' cannot be converted as part of a PMP Propery and System conversion(75)"));
}


// ---- The PM cash account of a bank ------------------------------------------------------------------------

class PmpBanks : public PmpRun {
protected:
    void SetUp() override {
        PmpRun::SetUp();
        GlAccount("01110100000");
    }
    // A property under 01-1-10 on `bank`, with `cash` in its "PM Cash Account" column.
    static std::string BankedProperty(const std::string& prop, const std::string& bank, const std::string& cash,
                                      const std::string& type = "Office") {
        return "1," + prop + ",Name,," + type + ",01-1-10," + bank + ",12/31/2026,12/31/2026,,,,1,Rentable" +
               std::string(22, ',') + cash + ",";
    }
};

TEST_F(PmpBanks, ANewBankIsWrittenOnceItsPropertyIsKeptAndTheNextPropertyTakesItsAccount) {
    const std::vector<std::string> lines = {BankedProperty("PA", "NEWBK", "01-1-10-1000-00", "Garden apt bldg"),
                                            BankedProperty("PB", "newbk", "01-9-99-1000-00")};
    const std::string cmmBefore = Master("CMM");
    for (bool converting : {false, true}) {
        const std::string report = Run(lines, converting);
        EXPECT_EQ(Count(report, "(912)") + Count(report, "(916)") + Count(report, "(913)"), 0) << report;
        // Counted once with the record totals, as a record the conversion made, not a line read.
        EXPECT_THAT(report, HasSubstr("\nBank Account                 0              0              0             0             1\n"));
        if (!converting) {
            EXPECT_TRUE(Master("CMM") == cmmBefore);
        }
    }
    const uint16_t cmm = H("CMM");
    ASSERT_TRUE(ReadByKey(cmm, 1, "BANKACC", "NEWBK"));
    EXPECT_EQ(GetText(cmm, 1, "BGENCSH"), "01110100000");
    EXPECT_EQ(GetFlag(cmm, 1, "BPMVALD"), 1);
    EXPECT_EQ(GetText(cmm, 1, "BDESC"), "PA - PM Conversion Garden apt");  // cut at 30, its blank dropped
}

TEST_F(PmpBanks, ABankIsLeftAsItWasWhenItsPropertyIsNotKept) {
    Property("PA", "01110");  // on file: the line repeats it
    Put("CMM", 1, {{"BANKACC", "BARE"}, {"BPMVALD", "1"}});
    const std::string cmmBefore = Master("CMM");
    EXPECT_THAT(Run({BankedProperty("PA", "NEWBK", "01-1-10-1000-00"), BankedProperty("PA", "BARE", "01-1-10-1000-00")},
                    true),
                Not(HasSubstr("Bank Account")));
    EXPECT_TRUE(Master("CMM") == cmmBefore);
    const std::string pmpBefore = Master("PMP");  // it records the text file it converted
    // A stop after the property was kept, and a bank that cannot be written, put every file back.
    const std::vector<std::string> lines = {BankedProperty("PN", "NEWBK", "01-1-10-1000-00"),
                                            BankedProperty("PO", "BARE", "01-1-10-1000-00")};
    for (int failing : {0, 1, 2}) {
        progress = convert::ConvertProgress([] { return int64_t{0}; });
        convert::testing::FailingCalls fail;
        if (failing == 1) fail.Fail(xio::FaultCall::WriteRecord, 1, XIO_IO_ERROR, "CMM");
        if (failing == 2) fail.Fail(xio::FaultCall::ReplaceRecord, 1, XIO_IO_ERROR, "CMM");
        EndingPmp converter;
        converter.stopAfterRecords = failing == 0 ? 1 : 0;
        const std::string text = Text(lines);
        const std::string report = Run(converter, text, true);
        EXPECT_THAT(report, HasSubstr(failing ? "Unable to read from or write to a Halvorsend data file"
                                              : "Conversion canceled by operator"));
        EXPECT_TRUE(ReadFile(lastText) == text) << failing;  // not stamped
        EXPECT_TRUE(Master("CMM") == cmmBefore) << failing;
        EXPECT_TRUE(Master("PMP") == pmpBefore) << failing;
    }
}

// A negative year is the converter's to refuse, not the import's.
TEST_F(PmpRun, NegativeYearsAreRefusedAsYears) {
    const std::string report = Run({"13,HARBOR,CNTY,-1", "10,HARBOR,Rentable,-5,50"}, false);
    EXPECT_THAT(report, HasSubstr("Property tax year '-1' is not a valid year(981)"));
    EXPECT_THAT(report, HasSubstr("year '-5' is not a valid year(981)"));
}

TEST_F(PmpRun, ATaxRecordMustGiveItsYear) {
    const std::string tpl = company.str("noyear.tpl");
    WriteFile(tpl, "format 13\nfile PMP 1\nrecord 13\npermissions 2\nfield PTPROP\nfield PTTXID\n");
    xvPMP converter;
    EXPECT_THAT(Run(converter, "#,PMP," + tpl + "\r\n13,HARBOR,CNTY\r\n", false),
                HasSubstr("Tax year is required for Property 'HARBOR'(902)"));
}

}  // namespace
}  // namespace dz::pm::testing
