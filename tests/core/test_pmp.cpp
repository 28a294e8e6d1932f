// The PM property and system converter in process: the handlers of late charges, units, unit
// history, checklist items, misc income sources and PM system records on a staged record; then
// whole text files for the dropped repeats, the passes after the records and the ways a run ends
// before its data stands.
#include "pm_fixture.h"

#include "converters/pm/xvpmp.h"

#include "convert/progress.h"
#include "convert/texts.h"
#include "platform/datafile/data_folder.h"
#include "platform/ui/framework.h"
#include "platform/ui/print.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace dz::pm::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class PmpTest : public PmFixture {
protected:
    void SetUp() override {
        PmFixture::SetUp();
        state.unitClasses.Load(kUnitClassList);
        state.sfTypes.Load(kSfTypeTerm);
        Property("HARBOR", "01");
        BaseAccount("400000");
        InterestRate("PRIME");
    }

    // Stages record `rec` of `abbr` as the import would: buffer cleared, the values put.
    void Stage(const std::string& abbr, uint16_t rec, const FieldValues& values) {
        const uint16_t h = H(abbr);
        xio_init_record(h, rec);
        for (const auto& [name, text] : values) {
            const uint16_t f = FieldNo(h, rec, name);
            ASSERT_NE(f, 0) << name;
            xio_fld_def def;
            xio_get_fld_def(h, f, def);
            if (xio_is_text_type(def.type)) {
                PutText(h, f, text);
            } else if (def.type == XIO_TYPE_DATE) {
                unsigned m = 0, d = 0, y = 0;
                ASSERT_EQ(std::sscanf(text.c_str(), "%u/%u/%u", &m, &d, &y), 3);
                PutDate(h, f, suite::zqDate(m, d, y));
            } else if (def.type == XIO_TYPE_LOGICAL) {
                PutFlag(h, f, static_cast<uint16_t>(std::atoi(text.c_str())));
            } else {
                PutNumber(h, f, std::atof(text.c_str()));
            }
        }
    }
    PmpRecordContext Ctx(bool converting = true) {
        PmpRecordContext c;
        c.pmp = H("PMP");
        c.pms = H("PMS");
        c.glm = H("GLM");
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
    state.propertyPeriodEnds["DOCK"] = suite::zqDate(6, 30, 2026);
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

}  // namespace
}  // namespace dz::pm::testing
