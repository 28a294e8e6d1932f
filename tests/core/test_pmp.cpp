// The PM property and system converter in process: the handlers of late charges, units, unit
// history, checklist items, misc income sources and PM system records on a staged record; then
// whole text files for the dropped repeats, the passes after the records and the ways a run ends
// before its data stands.
#include "pm_fixture.h"

#include "converters/pm/xvpmp.h"

#include "convert/progress.h"
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
        return "1," + prop + ",Name,,Office," + prefix + ",,12/31/2026,,,,,,Rentable," + std::to_string(units) +
               std::string(21, ',');
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
                                    PropertyLine("PC", ""), UnitLine("PA", "U1", true), UnitLine("PA", "U2"),
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

TEST_F(PmpRun, AStopOrAFailedWriteInAPassRestoresBothFiles) {
    // Which pass holds 15 items (and so reports progress) is chosen by the properties' prefixes
    // and units.
    std::vector<std::string> manyPrefixed, manyBare, manyUnits = {PropertyLine("PU", "")};
    for (int i = 10; i < 25; ++i) {
        manyPrefixed.push_back(PropertyLine("P" + std::to_string(i), "01-1-10"));
        manyBare.push_back(PropertyLine("P" + std::to_string(i), ""));
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
        {{PropertyLine("PA", ""), UnitLine("PA", "U1")}, false, 0, xio::FaultCall::ReplaceRecord,
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

}  // namespace
}  // namespace dz::pm::testing
