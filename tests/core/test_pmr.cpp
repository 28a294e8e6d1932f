// The PM retail converter in process: the billing / recalculation date cycle, the rules of
// percent rent controls, sales categories and breakpoints, the notes of blank recalculation
// dates and missing list values, and the "Total" sales categories with the ways a run can end
// (stopped, notes that cannot print) before its data stands.
#include "pm_fixture.h"

#include "converters/pm/xvpmr.h"

#include "convert/progress.h"
#include "platform/datafile/data_folder.h"
#include "platform/import/xvl_import.h"
#include "platform/ui/framework.h"
#include "platform/ui/print.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace dz::pm::testing {

using namespace convert;
namespace {

x_date_type D(uint16_t m, uint16_t d, uint16_t y) { return suite::zqDate(m, d, y); }

// ---- The date cycle -----------------------------------------------------------------------------------

TEST(PmrDateCycle, DatesMeetOnTheCycleOfTheirFrequencies) {
    // Quarterly billing into a yearly recalculation.
    EXPECT_TRUE(DatesInStep(D(3, 1, 2027), D(6, 1, 2027), 3, 12));
    EXPECT_FALSE(DatesInStep(D(3, 15, 2027), D(6, 1, 2027), 3, 12));
    // Either date may be the earlier one.
    EXPECT_TRUE(DatesInStep(D(9, 1, 2027), D(3, 1, 2027), 3, 6));
    EXPECT_TRUE(DatesInStep(D(6, 1, 2027), D(6, 1, 2027), 6, 12));
    // Month ends stay month ends: steps count from the original date.
    EXPECT_TRUE(DatesInStep(D(3, 31, 2027), D(12, 31, 2027), 3, 3));
    EXPECT_TRUE(DatesInStep(D(3, 31, 2027), D(12, 31, 2027), 3, 12));
    EXPECT_TRUE(DatesInStep(D(12, 31, 2027), D(2, 29, 2028), 2, 2));
    EXPECT_FALSE(DatesInStep(D(3, 30, 2027), D(12, 31, 2027), 3, 12));
    // No frequency, no cycle.
    EXPECT_FALSE(DatesInStep(D(3, 1, 2027), D(3, 1, 2027), 0, 12));
}

// ---- Running the converter -------------------------------------------------------------------------------

class PmrTest : public PmFixture {
protected:
    void SetUp() override {
        PmFixture::SetUp();
        for (int i = 1; i <= 40; ++i) {
            const std::string lease = (i < 10 ? "L0" : "L") + std::to_string(i);
            Put("PML", 1, {{"LEASE", lease}, {"LREV", "1"}});
        }
        ChargeType("PCTRNT");
        ChargeType("PCTREC");
    }

    // A text line of format `fmt` (record `rec` of the retail file, fields first..last), the
    // named values in their columns and the notes column empty.
    std::string Line(const std::string& fmt, const std::map<std::string, std::string>& values) {
        static const std::map<std::string, std::pair<const char*, const char*>> kRange = {
            {"1", {"PRLEASE", "PRCMPCP"}}, {"2", {"SCLEASE", "SCCO"}}, {"3", {"BTLEASE", "BTOP10"}}};
        const uint16_t h = H("PMR"), rec = static_cast<uint16_t>(std::stoi(fmt));
        const auto& [first, last] = kRange.at(fmt);
        std::string line = fmt;
        std::size_t used = 0;
        for (uint16_t no = FieldNo(h, rec, first); no <= FieldNo(h, rec, last); ++no) {
            xio_fld_def def;
            xio_get_fld_def(h, no, def);
            const auto it = values.find(def.name);
            line += "," + (it == values.end() ? std::string() : it->second);
            used += it != values.end();
        }
        EXPECT_EQ(used, values.size()) << "a field name is misspelt";
        return line + ",";
    }
    // A control of lease `lease` (revision 1) that passes every rule, changed by `more`.
    std::string Control(const std::string& lease, std::map<std::string, std::string> more = {}) {
        std::map<std::string, std::string> v = {{"PRLEASE", lease}, {"PRREV", "1"},    {"PROVSD", "1/1/2027"},
                                                {"PRBFREQ", "1"},   {"PRRECFQ", "12"},  {"PRNBD", "1/31/2027"},
                                                {"PRNRD", "12/31/2027"}, {"PRBCT", "PCTRNT"}, {"PRRCT", "PCTREC"}};
        for (auto& [k, val] : more) v[k] = val;
        for (auto it = v.begin(); it != v.end();) it = it->second == "<blank>" ? v.erase(it) : std::next(it);
        return Line("1", v);
    }

    std::string Text(const std::vector<std::string>& lines) {
        std::string text = "#,PMR," + (data_folder() / "templates" / "xvpmr.tpl").string() + "\r\n";
        for (const auto& l : lines) text += l + "\r\n";
        return text;
    }

    // Runs the converter over the lines; the report with its notes.
    std::string Run(xvPMR& converter, const std::string& text, bool converting) {
        const std::string path = company.str("retail" + std::to_string(++runs_) + ".txt");
        WriteFile(path, text);
        lastText = path;
        ui::zqTask task(converting ? "Convert" : "Examine Files", 15, converting ? 3020 : 3010, 5);
        const std::string reportPath = company.str("report.txt");
        const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, reportPath);
        converter.ConvertFile(list, convert::TextFileEntry{path, 603}, &progress, print, task, "", nullptr);
        ui::zp_cls_print_file(task.ID(), 201);
        ui::xp_close_print(print);
        return ReadFile(reportPath);
    }
    std::string Run(const std::vector<std::string>& lines, bool converting) {
        xvPMR converter;
        return Run(converter, Text(lines), converting);
    }

    // The control of `lease` on file: false when there is none.
    bool ReadControl(const std::string& lease, double revision = 1) {
        const uint16_t h = H("PMR");
        xio_init_record(h, 1);
        PutText(h, 1, "PRLEASE", lease);
        PutNumber(h, 1, "PRREV", revision);
        return xio_rd_record(h, 1, 0, 0) == XIO_OK;
    }
    bool ReadCategory(uint16_t rec, const std::string& lease, const std::string& category) {
        const uint16_t h = H("PMR");
        const bool sales = rec == kRecSalesCategory;
        xio_init_record(h, rec);
        PutText(h, rec, sales ? "SCLEASE" : "BTLEASE", lease);
        PutNumber(h, rec, sales ? "SCREV" : "BTREV", 1);
        PutText(h, rec, sales ? "SCSLCAT" : "BTSCAT", category);
        return xio_rd_record(h, rec, 0, 0) == XIO_OK;
    }
    int Totals() {
        const uint16_t h = H("PMR");
        int n = 0;
        xio_init_record(h, 2);
        for (int s = xio_rd_ge(h, 2, 0, 0); s == XIO_OK; s = xio_rd_next(h, 2, 0, 0))
            n += GetText(h, 2, "SCSLCAT") == "Total" && GetFlag(h, 2, "SCCO") == 1;
        return n;
    }
    static int Count(const std::string& text, const std::string& what) {
        int n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }

    convert::ConvertProgress progress{[] { return int64_t{0}; }};
    std::string lastText;
    int runs_ = 0;
};

// ---- Percent rent controls ------------------------------------------------------------------------------

TEST_F(PmrTest, AControlTakesTheLeaseAsFiledAndTheListsSpellings) {
    const std::string report = Run({Control("l01", {{"PRSTORE", "MAIN"}, {"PRBSTP1", "net"}, {"PRBCT", "pctrnt"},
                                                    {"PRFCYE", "<blank>"}})},
                                   true);
    ASSERT_TRUE(ReadControl("L01")) << report;
    const uint16_t h = H("PMR");
    EXPECT_EQ(GetText(h, 1, "PRLEASE"), "L01");
    EXPECT_EQ(GetText(h, 1, "PRSTORE"), "Main");
    EXPECT_EQ(GetText(h, 1, "PRBSTP1"), "Net");
    EXPECT_EQ(GetText(h, 1, "PRBCT"), "PCTRNT");
    const x_date_type fiscal = GetDate(h, 1, "PRFCYE");
    EXPECT_EQ(fiscal.month, 12);
    EXPECT_EQ(fiscal.day, 31);
    EXPECT_EQ(Count(report, "Store"), 0) << report;  // the list's value: no note
}

TEST_F(PmrTest, ControlRulesRejectInTheirOrder) {
    struct Case {
        std::map<std::string, std::string> fields;
        const char* expected;  // nullptr: accepted
    };
    const std::vector<Case> cases = {
        {{{"PRLEASE", "L99"}}, "Lease, Revision 'L99(1)' does not yet exist(1820)"},
        {{{"PRREV", "2"}}, "Lease, Revision 'L02(2)' does not yet exist(1820)"},
        {{{"PRRETM", "0"}}, nullptr},
        {{{"PRRETM", "12"}}, nullptr},
        {{{"PRRETM", "1"}}, "Retain monthly sales volume with '1' invalid, it must be '0' or at least '12'(1310)"},
        {{{"PRRETM", "11"}}, "Retain monthly sales volume with '11' invalid"},
        {{{"PRBFREQ", "3"}, {"PRNBD", "3/31/2027"}}, nullptr},
        {{{"PRBFREQ", "4"}, {"PRRECFQ", "6"}},
         "The Scheduled recalculation frequency '6' must be an even multiple of the Billing frequency '4'(1317)"},
        {{{"PRBFREQ", "6"}, {"PRRECFQ", "3"}},
         "The Billing frequency '6' cannot be greater than the Scheduled recalculation frequency '3'(1316)"},
        {{{"PRBFREQ", "0"}}, "Billing frequency cannot be blank or zero for Lease, Revision 'L10(1)'(1203)"},
        {{{"PRRECFQ", "<blank>"}}, "Recalculation frequency cannot be blank or zero"},
        // Monthly billing never tests the cycle.
        {{{"PRNBD", "3/15/2027"}, {"PRNRD", "6/1/2027"}}, nullptr},
        {{{"PRBFREQ", "3"}, {"PRNBD", "3/1/2027"}, {"PRNRD", "6/1/2027"}}, nullptr},
        {{{"PRBFREQ", "3"}, {"PRNBD", "3/15/2027"}, {"PRNRD", "6/1/2027"}},
         "The bill date ' 3/15/2027' is out of synch with the Recalc date ' 6/01/2027'"},
        {{{"PRBFREQ", "3"}, {"PRRECFQ", "3"}, {"PRNBD", "3/31/2027"}, {"PRNRD", "12/31/2027"}}, nullptr},
        {{{"PROVSD", "<blank>"}, {"PROVTD", "6/30/2027"}},
         "The Overage start date cannot be blank if the Overage end date ' 6/30/2027' is not blank(1308)"},
        {{{"PROVTD", "12/31/2026"}},
         "The Overage end date '12/31/2026' cannot be before the Overage start date ' 1/01/2027'(1309)"},
        {{{"PROVSD", "2/1/2027"}}, "The Overage start date ' 2/01/2027' cannot be greater than the Next billing date"},
        {{{"PRBCT", "<blank>"}}, "Billing charge type cannot be blank or zero for Lease, Revision"},
        {{{"PRRCT", "NONE"}}, "The Recalc charge type 'NONE' was not found in the Charge type records(1320)"},
        {{{"PRRST", "Outlet"}}, "Recalc sales type 'Outlet' is not found in the Sales type custom list(1321)"},
        {{{"PROVMT", "2"}}, "Overage fromula required when Overage method is 'Formula (2)'(1329)"},
        {{{"PRCPTYP", "2"}}, "Cap fromula required when Cap type is 'Formula (2)'(1329)"},
        {{{"PRBPMT", "2"}}, "Compare cap to cannot be 'Overage amount (1)' when using non-cumulative breakpoints(1332)"},
        {{{"PRBPMT", "2"}, {"PROVMT", "2"}, {"PROVFM", "Standard rent"}}, nullptr},
    };
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string lease = (i + 1 < 10 ? "L0" : "L") + std::to_string(i + 1);
        auto fields = cases[i].fields;
        if (!fields.count("PRLEASE")) fields["PRLEASE"] = lease;
        lines.push_back(Control(lease, fields));
    }
    const std::string report = Run(lines, false);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string line = " " + std::to_string(i + 2) + "  ";
        const auto at = report.find(line);
        const bool rejected = at != std::string::npos && at < report.find("Record Totals");
        if (!cases[i].expected) {
            EXPECT_FALSE(rejected) << "case " << i + 1 << "\n" << report;
            continue;
        }
        ASSERT_TRUE(rejected) << "case " << i + 1 << "\n" << report;
        const std::string reasonLine = report.substr(at, report.find('\n', at) - at);
        EXPECT_NE(reasonLine.find(cases[i].expected), std::string::npos) << "case " << i + 1 << ": " << reasonLine;
    }
}

TEST_F(PmrTest, AFrequencyOfNoWholeMonthAndANegativeRetentionAreRejected) {
    // Values no text line can give (the import keeps whole, unsigned numbers), staged directly.
    xvPMR converter;
    converter.LoadCustomLists();
    const uint16_t pmr = H("PMR");
    auto stage = [&](const char* field, double value) {
        xio_init_record(pmr, 1);
        PutText(pmr, 1, "PRLEASE", "L01");
        PutNumber(pmr, 1, "PRREV", 1);
        PutDate(pmr, 1, "PROVSD", D(1, 1, 2027));
        PutNumber(pmr, 1, "PRBFREQ", 1);
        PutNumber(pmr, 1, "PRRECFQ", 12);
        PutNumber(pmr, 1, field, value);
    };
    std::string reason;
    convert::MessageList messages;
    stage("PRBFREQ", 0.5);
    EXPECT_FALSE(converter.ConvertPercentRentControl(pmr, H("PML"), H("PMS"), reason, messages, true));
    EXPECT_EQ(reason, "Billing frequency cannot be blank or zero for Lease, Revision 'L01(1)'(1203)");
    stage("PRRECFQ", 0.25);
    EXPECT_FALSE(converter.ConvertPercentRentControl(pmr, H("PML"), H("PMS"), reason, messages, true));
    EXPECT_EQ(reason, "Recalculation frequency cannot be blank or zero for Lease, Revision 'L01(1)'(1203)");
    stage("PRRETM", -1);
    EXPECT_FALSE(converter.ConvertPercentRentControl(pmr, H("PML"), H("PMS"), reason, messages, true));
    EXPECT_EQ(reason, "Retain monthly sales volume with '-1' invalid, it must be '0' or at least '12'(1310)");
    stage("PRRETM", 0);
    EXPECT_TRUE(converter.ConvertPercentRentControl(pmr, H("PML"), H("PMS"), reason, messages, true)) << reason;
}

TEST_F(PmrTest, ClearedFieldsAreReportedOnceEachAndNeverStored) {
    const std::string report =
        Run({Control("L01", {{"PRLBD", "1/31/2026"}, {"PRLRD", "12/31/2026"}, {"PRSBTYP", "2"}, {"PRSBRC1", "RENT"},
                             {"PRSBRC3", "CAM"}, {"PRSBU2", "A101"}, {"PRSBU10", "A110"}, {"PRCPTYP", "2"},
                             {"PRCPFM", "Missing cap"}, {"PRCPAMT", "150.00"}, {"PROVFM", "Standard rent"}})},
            true);
    EXPECT_EQ(Count(report, "Last billing date is not supported by conversion, ' 1/31/2026' was cleared(1322)"), 1)
        << report;
    EXPECT_EQ(Count(report, "Last recalc date is not supported"), 1);
    EXPECT_EQ(Count(report, "Sales base type is not supported by conversion, 'Recurring charges (2)' was cleared"), 1);
    EXPECT_EQ(Count(report, "Sales base recur chg XX is not supported by conversion, 'RENT (etc.)' was cleared"), 1);
    EXPECT_EQ(Count(report, "Sales base recur unit XX is not supported by conversion, 'A101 (etc.)'"), 1);
    EXPECT_EQ(Count(report, "Formula 'Missing cap' does not yet exist, the field converted but the formula needs"), 1);
    EXPECT_EQ(Count(report, "Cap amount cannot have a value unless Cat type is 'Amount (1)', '150.00' was not "
                            "converted(1330)"),
              1);
    EXPECT_EQ(Count(report, "Formula cannot have a value unless Overage method is 'Formula (2)', 'Standard rent' was "
                            "not converted(1325)"),
              1);
    ASSERT_TRUE(ReadControl("L01")) << report;
    const uint16_t h = H("PMR");
    EXPECT_TRUE(IsUnsetDate(GetDate(h, 1, "PRLBD")));
    EXPECT_TRUE(IsUnsetDate(GetDate(h, 1, "PRLRD")));
    EXPECT_EQ(GetNumber(h, 1, "PRSBTYP"), 1);
    for (const char* f : {"PRSBRC1", "PRSBU2", "PRSBRC3", "PRSBU10", "PROVFM"}) EXPECT_EQ(GetText(h, 1, f), "") << f;
    EXPECT_EQ(GetText(h, 1, "PRCPFM"), "Missing cap");
    EXPECT_EQ(GetNumber(h, 1, "PRCPAMT"), 0);
}

TEST_F(PmrTest, BlankOverageDatesWarnAndAMissingNextBillingDateIsNoted) {
    const std::string report = Run({Control("L01", {{"PROVSD", "<blank>"}, {"PRNBD", "<blank>"}})}, false);
    EXPECT_EQ(Count(report, "The Overage start date is blank, the percentage rent task will not process this "
                            "lease(1307)"),
              1)
        << report;
    EXPECT_EQ(Count(report, "A Next billing date needs to be added for Percentage rent control 'L01'(1318)"), 1);
    EXPECT_EQ(Count(report, "Valid"), 1);
}

class PmrNoSalesTypes : public PmrTest {
protected:
    void Adjust(suite::CompanySettings& s) override {
        s.lists[kSalesTypeList] = {};
        s.lists[kSalesCategoryList] = {"", {"Food", "Retail"}};
    }
};

TEST_F(PmrNoSalesTypes, AnEmptyListRejectsEverySalesTypeAndNoDefaultRejectsABlankCategory) {
    const std::string report = Run({Control("L01", {{"PRBSTP1", "Gross"}}), Control("L02"),
                                    Line("3", {{"BTLEASE", "L02"}, {"BTREV", "1"}, {"BTA1", "100.00"}})},
                                   false);
    EXPECT_EQ(Count(report, "Billing sales type 1 'Gross' is not found in the Sales type custom list(1321)"), 1)
        << report;
    EXPECT_EQ(Count(report, "Sales category is required for Lease, Revision 'L02(1)'(1302)"), 1) << report;
}

// ---- Sales categories and breakpoints -------------------------------------------------------------------

TEST_F(PmrTest, CategoriesNeedTheirControlAndTotalIsNeverLookedUp) {
    const std::vector<std::string> lines = {
        Control("L01"),
        Line("2", {{"SCLEASE", "L01"}, {"SCREV", "1"}, {"SCSLCAT", "TOTAL"}}),
        Line("2", {{"SCLEASE", "l01"}, {"SCREV", "1"}, {"SCSLCAT", "food"}, {"SCSFT", "GROSS"},
                   {"SCSSD", "1/1/2027"}, {"SCSED", "1/1/2027"}}),
        Line("2", {{"SCLEASE", "L02"}, {"SCREV", "1"}, {"SCSLCAT", "Food"}}),
        Line("2", {{"SCLEASE", "L01"}, {"SCREV", "1"}, {"SCSLCAT", "Gifts"}, {"SCSSD", "2/1/2027"},
                   {"SCSED", "1/1/2027"}}),
        Line("2", {{"SCLEASE", "L01"}, {"SCREV", "1"}, {"SCSLCAT", "Gifts"}, {"SCTSD", "2/1/2027"},
                   {"SCTRD", "1/1/2027"}}),
        Line("2", {{"SCLEASE", "L01"}, {"SCREV", "1"}, {"SCSLCAT", "Gifts"}, {"SCSFT", "Usable"},
                   {"SCSFTG", "12.50"}}),
        Line("2", {{"SCLEASE", ""}, {"SCREV", "1"}, {"SCSLCAT", "Gifts"}}),
    };
    // Examine Files: the control earlier in the text file counts.
    const std::string examined = Run(lines, false);
    EXPECT_EQ(Count(examined, "The Percent rent controls record 'L02' does not yet exist(1333)"), 1) << examined;
    EXPECT_EQ(Count(examined, "The Sales end date ' 1/01/2027' cannot be before the Sales start date ' 2/01/2027'"),
              1);
    EXPECT_EQ(Count(examined, "The Temp restart date ' 1/01/2027' cannot be before the Temp stop date"), 1);
    EXPECT_EQ(Count(examined, "Either the SF type with 'Usable' or the SF (other) with '12.50' must be blank"), 1) << examined;
    EXPECT_EQ(Count(examined, "Valid"), 1);
    EXPECT_FALSE(ReadControl("L01"));

    const std::string converted = Run(lines, true);
    EXPECT_TRUE(ReadCategory(kRecSalesCategory, "L01", "Total")) << converted;
    EXPECT_EQ(GetText(H("PMR"), 2, "SCSLCAT"), "Total");
    EXPECT_EQ(GetFlag(H("PMR"), 2, "SCCO"), 0);  // the file's own, not written again at the end
    EXPECT_TRUE(ReadCategory(kRecSalesCategory, "L01", "Food"));
    EXPECT_EQ(GetText(H("PMR"), 2, "SCSLCAT"), "Food");
    EXPECT_EQ(GetText(H("PMR"), 2, "SCSFT"), "Gross");
    EXPECT_EQ(Count(converted, "Sales category:"), 0) << converted;  // "TOTAL" and "food" are no notes
    EXPECT_EQ(Totals(), 0);
}

TEST_F(PmrTest, BreakpointsAreStoredAsAmountsThatRise) {
    const std::string report = Run(
        {Control("L01"), Control("L02"),
         Line("3", {{"BTLEASE", "L01"}, {"BTREV", "1"}, {"BTSCAT", "total"}, {"BTTYPE", "2"}, {"BTNBP2", "1.5"},
                    {"BTNBP7", "3"}, {"BTF1", "Tier"}, {"BTF4", "Step"}, {"BTA1", "0"}, {"BTOP1", "5"},
                    {"BTA2", "1000.00"}, {"BTOP2", "6"}, {"BTA3", "2000.00"}, {"BTOP3", "7"}}),
         Line("3", {{"BTLEASE", "L02"}, {"BTREV", "1"}, {"BTA1", "1000.00"}, {"BTA2", "0"}, {"BTA3", "3000.00"}}),
         Line("3", {{"BTLEASE", "L02"}, {"BTREV", "1"}, {"BTSCAT", "Food"}, {"BTA1", "1000.00"}, {"BTA2", "1000.00"}}),
         Line("3", {{"BTLEASE", "L02"}, {"BTREV", "1"}, {"BTSCAT", "Services"}, {"BTA1", "100.00"},
                    {"BTA2", "200.00"}, {"BTA3", "300.00"}, {"BTOP4", "2.5"}}),
         Line("3", {{"BTLEASE", "L02"}, {"BTREV", "1"}, {"BTSCAT", "Gifts"}})},
        true);
    EXPECT_EQ(Count(report, "Breakpoint type is not supported by conversion, 'Formula (2)' was cleared(1322)"), 1)
        << report;
    EXPECT_EQ(Count(report, "(i.e. Breakpoint 2 with '1.500000') was not converted(1337)"), 1);
    EXPECT_EQ(Count(report, "(i.e. Breakpoint formula 1 with 'Tier') was not converted(1337)"), 1);
    EXPECT_EQ(Count(report, "Fields not used with type Amount(1)"), 2);
    EXPECT_EQ(Count(report, "Breakpoint amount 3 with '3000.00' cannot be used because Breakpoint amount 2 is "
                            "blank(1340)"),
              1);
    EXPECT_EQ(Count(report, "Breakpoint amount 2 with '1000.00' must be greater than Breakpoint amount 1 with "
                            "'1000.00'(1341)"),
              1);
    EXPECT_EQ(Count(report, "Breakpoint amount 4 is required if Overage percent 4 with '2.500000' is used(1339)"), 1);
    ASSERT_TRUE(ReadCategory(kRecBreakpoint, "L01", "Total"));
    const uint16_t h = H("PMR");
    EXPECT_EQ(GetNumber(h, 3, "BTTYPE"), 1);
    for (const char* f : {"BTNBP2", "BTNBP7"}) EXPECT_EQ(GetNumber(h, 3, f), 0) << f;
    for (const char* f : {"BTF1", "BTF4"}) EXPECT_EQ(GetText(h, 3, f), "") << f;
    EXPECT_EQ(GetNumber(h, 3, "BTA3"), 200000);
    // A blank category takes the list's default; "Gifts" is in no list: kept, and noted.
    EXPECT_FALSE(ReadCategory(kRecBreakpoint, "L02", "Retail"));  // its amounts had a gap
    EXPECT_TRUE(ReadCategory(kRecBreakpoint, "L02", "Gifts"));
    EXPECT_EQ(Count(report, "Sales category:  Gifts("), 1) << report;
}

TEST_F(PmrTest, ABlankCategoryTakesTheListsDefault) {
    Run({Control("L01"), Line("3", {{"BTLEASE", "L01"}, {"BTREV", "1"}, {"BTA1", "100.00"}})}, true);
    EXPECT_TRUE(ReadCategory(kRecBreakpoint, "L01", "Retail"));
}

// ---- The finish ---------------------------------------------------------------------------------------

TEST_F(PmrTest, BlankRecalculationDatesAreListedOnceInLinesThatWrap) {
    auto blank = [&](const std::string& lease) { return Control(lease, {{"PRNRD", "<blank>"}, {"PRRCT", "<blank>"}}); };
    const std::string none = Run({Control("L01")}, true);
    EXPECT_EQ(Count(none, "Percent Rent control records off of"), 0) << none;
    EXPECT_EQ(Count(none, "have no Next recalc date"), 0);

    const std::string one = Run({blank("L02")}, true);
    EXPECT_EQ(Count(one, "The Lease Percent rent control records listed below have no Next recalc date"), 1) << one;
    EXPECT_EQ(Count(one, "Percent Rent control records off of Lease:  'L02'\n"), 1) << one;

    // Two revisions of one lease: one listing, two "Total" categories.
    Put("PML", 1, {{"LEASE", "L03"}, {"LREV", "2"}});
    const std::string two = Run({blank("L03"), Control("L03", {{"PRREV", "2"}, {"PRNRD", "<blank>"}, {"PRRCT", ""}}),
                                 blank("L04")},
                                true);
    EXPECT_EQ(Count(two, "Percent Rent control records off of Lease:  'L03' and 'L04'\n"), 1) << two;
    EXPECT_TRUE(ReadCategory(kRecSalesCategory, "L03", "Total"));
    EXPECT_EQ(Totals(), 5);  // L01 and L02 of the runs before, L03 revisions 1 and 2, L04
}

TEST_F(PmrTest, ThreeLeasesAndEnoughToWrap) {
    const std::string three = Run({Control("L05", {{"PRNRD", "<blank>"}, {"PRRCT", "<blank>"}}),
                                   Control("L06", {{"PRNRD", "<blank>"}, {"PRRCT", "<blank>"}}),
                                   Control("L07", {{"PRNRD", "<blank>"}, {"PRRCT", "<blank>"}})},
                                  true);
    EXPECT_EQ(Count(three, "off of Lease:  'L05', 'L06', and 'L07'\n"), 1) << three;

    std::vector<std::string> lines;
    for (int i = 10; i <= 29; ++i) lines.push_back(Control("L" + std::to_string(i), {{"PRNRD", "<blank>"}, {"PRRCT", "<blank>"}}));
    const std::string many = Run(lines, true);
    // The notes' text column is 123 wide: lines stop short of 98 characters.
    const auto start = many.find("Percent Rent control records off of Lease:  'L10', ");
    ASSERT_NE(start, std::string::npos) << many;
    const std::string first = many.substr(start, many.find('\n', start) - start);
    EXPECT_LT(first.size(), 98u) << first;
    const auto next = many.find('\n', start) + 1;
    EXPECT_EQ(many.substr(next, 22 + 3 + 1), std::string(22, ' ') + "   '") << many;
    EXPECT_EQ(Count(many, "and 'L29'\n"), 1) << many;
    for (int i = 10; i <= 29; ++i) EXPECT_EQ(Count(many, "'L" + std::to_string(i) + "'"), 1) << i;
}

TEST_F(PmrTest, TotalsAreWrittenOnlyWhereNoneIsOnFileOrEarlierInTheFile) {
    Put("PMR", 1, {{"PRLEASE", "L02"}, {"PRREV", "1"}});
    Put("PMR", 2, {{"SCLEASE", "L02"}, {"SCREV", "1"}, {"SCSLCAT", "Total"}});
    const std::string report =
        Run({Control("L01"), Control("L02", {{"PRNBD", "2/28/2027"}}), Control("L03"),
             Line("2", {{"SCLEASE", "L03"}, {"SCREV", "1"}, {"SCSLCAT", "total"}}), "9,Anything"},
            true);
    EXPECT_EQ(Count(report, "Duplicate"), 1) << report;  // L02's control is on file already
    EXPECT_EQ(Count(report, "Record type '9' is not in the template"), 1) << report;
    EXPECT_EQ(Totals(), 1);  // L01 alone: L02's was on file, L03's came in the text file
    EXPECT_TRUE(ReadCategory(kRecSalesCategory, "L01", "Total"));
    EXPECT_NE(ReadFile(lastText).find("Previously Converted"), std::string::npos);
}

TEST_F(PmrTest, OtherRecordTypesAreRefusedAsPmrRetail) {
    const std::string report = Run({"4,Rent roll"}, false);
    EXPECT_EQ(Count(report, "Record type '4' cannot be converted as part of a PMR Retail conversion(75)"), 1)
        << report;
}

TEST_F(PmrTest, NoTemplateEndsTheFileBeforeAnyWrite) {
    const std::string before = ReadFile(company.path() / "MASTER.PMR");
    xvPMR converter;
    const std::string report = Run(converter, "1,L01,1\r\n", true);
    EXPECT_EQ(Count(report, "Unable to find a valid template name on the first line of the text file"), 1) << report;
    for (auto& e : list)
        if (e.handle) {
            ASSERT_EQ(xio_commit(e.handle), XIO_OK);
        }
    EXPECT_EQ(ReadFile(company.path() / "MASTER.PMR"), before);
}

TEST_F(PmrTest, AMissingDataFileIsNamedAndNothingIsWritten) {
    // The message names the first file not open, in the order retail, lease, system.
    for (const char* abbr : {"PMS", "PML"}) {
        auto at = std::find_if(list.begin(), list.end(), [&](const auto& e) { return e.abbr == abbr; });
        ASSERT_NE(at, list.end());
        xio_cls_file(at->handle);
        list.erase(at);
        const std::string report = Run({Control("L01")}, true);
        const std::string expected = std::string("Unable to find an open ") +
                                     (std::string(abbr) == "PMS" ? "PM System file" : "PM Lease file") + "(95)";
        EXPECT_EQ(Count(report, expected), 1) << report;
        EXPECT_FALSE(ReadControl("L01"));
        EXPECT_EQ(ReadFile(lastText).find("Previously Converted"), std::string::npos);
    }
}

// A converter whose operator asks to stop once the records are read, or whose notes cannot print.
class EndingPmr : public xvPMR {
public:
    bool stopAtFinish = false, dropNotes = false;

protected:
    bool FinishConversion(convert::ConvertContext& ctx) override {
        if (stopAtFinish && ctx.progress) ctx.progress->stop = 1;
        if (dropNotes) ui::zp_cls_print_file(ctx.commandId, 201);
        return xvPMR::FinishConversion(ctx);
    }
};

// A control or a "Total" category that cannot be written for want of disk ends the file with
// 12013; a "Total" that cannot be written for another reason ends it with 12011. Either way the
// file is put back and the text left unstamped.
TEST_F(PmrTest, AFullDiskOrAFailedTotalWriteRestoresTheFile) {
    for (auto& e : list)
        if (e.handle) {
            ASSERT_EQ(xio_commit(e.handle), XIO_OK);
        }
    const std::string before = ReadFile(company.path() / "MASTER.PMR");
    struct Case {
        int nth;  // the first control, then the first "Total" after both controls
        int status;
        const char* says;
    };
    // A full disk is said as such wherever it is met; another failure of a total's write is 12011.
    for (const Case& c : {Case{1, XIO_DISK_FULL, "Out of disk space"}, Case{3, XIO_DISK_FULL, "Out of disk space"},
                          Case{3, XIO_IO_ERROR, "Unable to read from or write to a Halvorsend data file"}}) {
        SCOPED_TRACE(c.nth);
        const std::string text = Text({Control("L01"), Control("L02")});
        convert::testing::FailingCalls fail;
        fail.Fail(xio::FaultCall::WriteRecord, c.nth, c.status, "PMR");
        xvPMR converter;
        const std::string report = Run(converter, text, true);
        EXPECT_TRUE(fail.Spent());
        EXPECT_EQ(Count(report, c.says), 1) << report;
        EXPECT_TRUE(ReadFile(lastText) == text);
        EXPECT_FALSE(ReadControl("L01"));
        for (auto& e : list)
            if (e.handle) {
                ASSERT_EQ(xio_commit(e.handle), XIO_OK);
            }
        EXPECT_TRUE(ReadFile(company.path() / "MASTER.PMR") == before);
    }
}

TEST_F(PmrTest, AStopWhileTotalsAreWrittenOrNotesThatCannotPrintRestoreTheFile) {
    std::vector<std::string> lines;
    // Each control earns a warning, so that the notes have lines to print.
    for (int i = 1; i <= 20; ++i)
        lines.push_back(Control("L" + std::string(i < 10 ? "0" : "") + std::to_string(i), {{"PRLBD", "1/31/2026"}}));
    for (auto& e : list)
        if (e.handle) {
            ASSERT_EQ(xio_commit(e.handle), XIO_OK);
        }
    const std::string before = ReadFile(company.path() / "MASTER.PMR");
    for (int mode = 0; mode < 2; ++mode) {
        progress = convert::ConvertProgress([] { return int64_t{0}; });
        EndingPmr converter;
        (mode == 0 ? converter.stopAtFinish : converter.dropNotes) = true;
        const std::string text = Text(lines);
        const std::string report = Run(converter, text, true);
        if (mode == 0) {
            EXPECT_EQ(Count(report, "Conversion canceled by operator"), 1) << report;
            EXPECT_EQ(progress.status_text, "Creating sales cat recs:");
        } else {
            EXPECT_EQ(Count(report, "Unable to print warning/log messages"), 1) << report;
        }
        EXPECT_TRUE(ReadFile(lastText) == text) << mode;  // not stamped
        EXPECT_FALSE(ReadControl("L01")) << mode;
        EXPECT_EQ(Totals(), 0) << mode;
        for (auto& e : list)
        if (e.handle) {
            ASSERT_EQ(xio_commit(e.handle), XIO_OK);
        }
        EXPECT_TRUE(ReadFile(company.path() / "MASTER.PMR") == before) << mode;  // byte for byte
    }
}

}  // namespace
}  // namespace dz::pm::testing
