// The PM recovery converter in process: the month count of a recovery period, the rules of
// property recovery controls and of the recovery controls of lease recurring charges, their notes
// in Convert and Examine Files, and what reaches the recovery file.
#include <regex>
#include "pm_fixture.h"

#include "converters/pm/xvpmv.h"

#include "convert/progress.h"
#include "platform/datafile/data_folder.h"
#include "platform/ui/framework.h"
#include "platform/ui/print.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace dz::pm::testing {

using namespace convert;
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

x_date_type D(uint16_t m, uint16_t d, uint16_t y) { return suite::zqDate(m, d, y); }

TEST(PmvMonthCount, CountsTheMonthsAsThePeriodSteps) {
    EXPECT_EQ(RecoveryMonthCount(D(3, 1, 2027), D(3, 1, 2027)), 1);
    EXPECT_EQ(RecoveryMonthCount(D(1, 1, 2027), D(12, 1, 2027)), 12);
    EXPECT_EQ(RecoveryMonthCount(D(1, 15, 2027), D(12, 14, 2027)), 12);
    EXPECT_EQ(RecoveryMonthCount(D(1, 1, 2027), D(12, 31, 2027)), 13);
    EXPECT_EQ(RecoveryMonthCount(D(1, 1, 2027), D(3, 1, 2027)), 3);
    // Across a year end, and an end past the start's day in the end's month.
    EXPECT_EQ(RecoveryMonthCount(D(11, 15, 2026), D(2, 14, 2027)), 4);
    EXPECT_EQ(RecoveryMonthCount(D(11, 15, 2026), D(2, 16, 2027)), 5);
    // Month ends keep to the shorter month's last day.
    EXPECT_EQ(RecoveryMonthCount(D(1, 31, 2027), D(2, 28, 2027)), 2);
    // A later start counts 1; a limit stops the count.
    EXPECT_EQ(RecoveryMonthCount(D(5, 1, 2027), D(1, 1, 2027)), 1);
    EXPECT_EQ(RecoveryMonthCount(D(1, 1, 2000), D(1, 1, 2027), 12), 13);
    EXPECT_EQ(ExtractBits(0x0208, 3, 1), 1);
    EXPECT_EQ(ExtractBits(0x0208, 4, 1), 0);
    EXPECT_EQ(ExtractBits(0x0208, 9, 1), 1);
}

class PmvTest : public PmFixture {
protected:
    void Adjust(suite::CompanySettings& s) override { s.accounting_method = method; }

    void SetUp() override {
        PmFixture::SetUp();
        for (const char* ct : {"CAM", "TAX", "ADJ", "ADMIN"}) ChargeType(ct);
        Put("PMS", 5, {{"CMID", "REC"}, {"CMTYPE", "3"}});
        Put("PMS", 5, {{"CMID", "CPI"}, {"CMTYPE", "1"}});
        Property("PLAZA");
        Put("PMP", 5, {{"PCPROP", "PLAZA"}, {"PCCT", "CAM"}});
        Put("PMP", 8, {{"PFPROP", "PLAZA"}, {"PFSFTYP", "GLA"}, {"PFTRACK", "1"}});
        Put("PMP", 8, {{"PFPROP", "PLAZA"}, {"PFSFTYP", "NET"}, {"PFTRACK", "0"}});
        Lease("CR100", 1, "PLAZA", "101", "GROCER");
        RecurringCharge("CR100", 1, "CAM", "101");
    }

    // A line of record `rec`, the named values in their columns and the notes column empty.
    std::string Line(uint16_t rec, const std::map<std::string, std::string>& values) {
        const uint16_t h = H("PMV");
        std::string line = std::to_string(rec);
        std::size_t used = 0;
        static const std::map<uint16_t, std::pair<const char*, const char*>> kColumns = {
            {1, {"PRCPROP", "PRCOSF"}}, {2, {"PECPROP", "PECPSF"}}, {4, {"RCLEASE", "RCAWO"}},
            {5, {"ECLEASE", "ECLFS"}},  {6, {"CPLEASE", "CPTO"}}};
        const uint16_t first = FieldNo(h, rec, kColumns.at(rec).first);
        const uint16_t last = FieldNo(h, rec, kColumns.at(rec).second);
        for (uint16_t no = first; no <= last; ++no) {
            xio_fld_def def;
            xio_get_fld_def(h, no, def);
            const auto it = values.find(def.name);
            line += "," + (it == values.end() ? std::string() : it->second);
            used += it != values.end();
        }
        EXPECT_EQ(used, values.size()) << "a field name is misspelt";
        return line + ",";
    }
    static std::map<std::string, std::string> With(std::map<std::string, std::string> base,
                                                   const std::map<std::string, std::string>& more) {
        for (const auto& [k, v] : more) base[k] = v;
        return base;
    }
    std::string Property(const std::map<std::string, std::string>& more = {}) {
        return Line(1, With({{"PRCPROP", "plaza"}, {"PRCCT", "cam"}, {"PRCFREQ", "12"}, {"PRCAMOP", "1"}}, more));
    }
    std::string Recovery(const std::map<std::string, std::string>& more = {}) {
        return Line(4, With({{"RCLEASE", "cr100"}, {"RCREV", "1"}, {"RCCT", "cam"}, {"RCUNIT", "101"},
                             {"RCFREQ", "12"}, {"RCNFD", "1/1/2027"}, {"RCNTD", "12/1/2027"}},
                            more));
    }
    using PmFixture::Property;

    std::string Run(const std::vector<std::string>& lines, bool converting) {
        xvPMV converter;
        return Run(converter, lines, converting);
    }
    std::string Run(xvPMV& converter, const std::vector<std::string>& lines, bool converting,
                    const std::string& tpl = (data_folder() / "templates" / "xvpmv.tpl").string()) {
        std::string text = "#,PMV," + tpl + "\r\n";
        for (const auto& l : lines) text += l + "\r\n";
        const std::string path = company.str("recovery" + std::to_string(++runs_) + ".txt");
        WriteFile(path, text);
        lastText = path;
        lastContent = text;
        ui::zqTask task(converting ? "Convert" : "Examine Files", 15, converting ? 3020 : 3010, 5);
        const std::string reportPath = company.str("report.txt");
        const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, reportPath);
        converter.ConvertFile(list, convert::TextFileEntry{path, 604}, &progress, print, task, "", nullptr);
        ui::zp_cls_print_file(task.ID(), 201);
        ui::xp_close_print(print);
        return ReadFile(reportPath);
    }

    bool ReadRecovery(const std::string& lease, const std::string& ct, const std::string& unit) {
        const uint16_t h = H("PMV");
        xio_init_record(h, 4);
        PutText(h, 4, "RCLEASE", lease);
        PutNumber(h, 4, "RCREV", 1);
        PutText(h, 4, "RCCT", ct);
        PutText(h, 4, "RCUNIT", unit);
        return xio_rd_record(h, 4, 0, 0) == XIO_OK;
    }

    int method = 3;
    std::string lastText, lastContent;
    convert::ConvertProgress progress{[] { return int64_t{0}; }};
    int runs_ = 0;
};

struct Case {
    std::map<std::string, std::string> fields;
    const char* expected;  // nullptr: accepted without a message
};

TEST_F(PmvTest, RecoveryControlRulesRejectInTheirOrder) {
    const std::vector<Case> cases = {
        {{}, nullptr},
        {{{"RCLEASE", ""}}, "(fld 1, col 2)"},
        {{{"RCUNIT", ""}}, "Unit is required for Lease recov control 'CR100, 1, CAM'(1401)"},
        {{{"RCUNIT", "102"}}, "Lease recurring charge 'CR100, 1, CAM, 102' does not yet exist(1402)"},
        // A fraction reaches the conversion: below one month it is refused before any date.
        {{{"RCFREQ", "0.5"}, {"RCNFD", ""}},
         "Recovery frequency is blank or zero, it must be greater than zero(1403)"},
        // Above it, refused as it was given before the month count, which shows whole months.
        {{{"RCFREQ", "1.5"}, {"RCNTD", "2/1/2027"}},
         "Recovery frequency '1.5' is not a whole number of months, it must be given in whole months (fld 5, col 6) (56)"},
        // The import's hint promises no decimal place the conversion then refuses.
        {{{"RCFREQ", "0.55"}}, "Recovery frequency value '0.55' is out of range, expected a whole number of at most 2 digits,"},
        {{{"RCFREQ", ""}, {"RCNTD", "bad"}}, "(fld"},  // the import refuses the line first
        {{{"RCFREQ", "0"}, {"RCNFD", ""}}, "Recovery frequency is blank or zero, it must be greater than zero(1403)"},
        {{{"RCNFD", ""}}, "Recovery from date is required for recovery 'CR100, 1, CAM, 101'(1442)"},
        {{{"RCFREQ", "1"}, {"RCNTD", "1/1/2027"}}, nullptr},
        {{{"RCNTD", "12/31/2026"}}, "Recovery to date '12/31/2026' must be after the Recovery from date ' 1/01/2027'(1443)"},
        {{{"RCNFD", "1/15/2027"}, {"RCNTD", "12/14/2027"}}, nullptr},
        {{{"RCNTD", "12/31/2027"}},
         "The Recovery from date ' 1/01/2027' and Recovery to date '12/31/2027' do not make up the frequency '12 months'"},
        {{{"RCREC", "1"}, {"RCRBCM", "REC"}, {"RCRCM", "REC"}}, "Reconcile chgs is marked, Recon adjust charge type"},
        {{{"RCREC", "1"}, {"RCRBCM", "CPI"}, {"RCRCM", "REC"}, {"RCRACT", "ADJ"}},
         "Calc method 'CPI' is not a Recoverable expense calc method, Recon basis calc method is invalid(1415)"},
        {{{"RCREC", "1"}, {"RCRBCM", "REC"}, {"RCRCM", "NONE"}, {"RCRACT", "ADJ"}},
         "Calculation method 'NONE' does not yet exist for the Recon calc method field(1416)"},
        {{{"RCREC", "1"}, {"RCRBCM", "rec"}, {"RCRCM", "rec"}, {"RCRACT", "NONE"}},
         "Charge type 'NONE' does not yet exist for the Recon adjust charge type"},
        {{{"RCOSF", "NET"}}, "'PLAZA, NET' is not tracking occupancy for the Occupancy SF type field(1441)"},
        {{{"RCOSF", "NONE"}}, "'PLAZA, NONE' does not yet exist for the Occupancy SF type field(1411)"},
    };
    for (const auto& c : cases) {
        // Long reasons wrap onto indented continuation lines; join them back to match whole texts.
        const std::string report =
            std::regex_replace(Run({Recovery(c.fields)}, false), std::regex("\n +"), " ");
        if (c.expected)
            EXPECT_THAT(report, HasSubstr(c.expected)) << ::testing::PrintToString(c.fields);
        else
            EXPECT_THAT(report, Not(HasSubstr("(14"))) << report;
    }
}

// With both accounting methods in use, a property recovery must give its method: a format without
// the column refuses every line; a blank column is kept.
TEST_F(PmvTest, BothMethodsNeedTheAccountingMethodColumn) {
    const std::string tpl = company.str("nomethod.tpl");
    WriteFile(tpl, "format 1\nfile PMV 1\nrecord 1\npermissions 2\nfield PRCPROP\nfield PRCCT\nfield PRCFREQ\n");
    xvPMV converter;
    EXPECT_THAT(Run(converter, {"1,plaza,cam,12"}, false, tpl),
                HasSubstr("Accounting method is required when your General settings are 'Both'(1406)"));
    EXPECT_THAT(Run({Property({{"PRCAMOP", ""}})}, false), Not(HasSubstr("(1406)")));
    EXPECT_EQ(progress.file_rejected, 0u);
}

TEST_F(PmvTest, RecoveryControlNotesFollowTheMode) {
    const std::string line = Recovery({{"RCCFD", "1/1/2026"}, {"RCRINV", "1"}, {"RCRR3", "0.5"}, {"RCRR1", "0.25"},
                                       {"RCFR2", "1"}, {"RCPOCCP", "0.9"}, {"RCAWO", "0.125"}});
    const std::string examined = Run({line}, false);
    EXPECT_THAT(examined, HasSubstr("Current recov from date is not supported by conversion, ' 1/01/2026' will be cleared(1446)"));
    EXPECT_THAT(examined, HasSubstr("Recon print on invoice with 'TRUE') will be cleared(1413)"));
    EXPECT_THAT(examined, HasSubstr("Result fields (like Recovery result 1 with '0.25000') are not convertible and will be cleared(1473)"));
    EXPECT_EQ(examined.find("Result fields"), examined.rfind("Result fields")) << examined;
    EXPECT_THAT(examined, HasSubstr("'0.90000' will be cleared(1446)"));
    EXPECT_THAT(examined, HasSubstr("'0.125000' will be cleared(1446)"));
    EXPECT_FALSE(ReadRecovery("CR100", "CAM", "101"));

    const std::string converted = Run({line}, true);
    EXPECT_THAT(converted, HasSubstr("' 1/01/2026' was cleared(1445)"));
    EXPECT_THAT(converted, HasSubstr("with 'TRUE') were cleared(1412)"));
    EXPECT_THAT(converted, HasSubstr("are not convertible and were cleared(1472)"));
    // Stored with the keys as on file, and without what conversion does not carry.
    ASSERT_TRUE(ReadRecovery("CR100", "CAM", "101")) << converted;
    const uint16_t h = H("PMV");
    EXPECT_EQ(GetText(h, 4, "RCLEASE"), "CR100");
    EXPECT_EQ(GetText(h, 4, "RCCT"), "CAM");
    EXPECT_EQ(GetNumber(h, 4, "RCRR3"), 0);
    EXPECT_EQ(GetFlag(h, 4, "RCRINV"), 0);
    EXPECT_EQ(GetDate(h, 4, "RCCFD").month, 0);
}

// ---- Escalation and administrative fee of a lease's recovery control ------------------------------

const std::map<std::string, std::string> kEscalates = {{"RCESC", "1"}, {"RCEBCM", "REC"}, {"RCECM", "REC"}};
const std::map<std::string, std::string> kCharges = {{"RCFEE", "1"}, {"RCFBCM", "REC"}, {"RCFCM", "REC"},
                                                     {"RCFCT", "ADMIN"}};

TEST_F(PmvTest, EscalationAndFeeRules) {
    RecurringCharge("CR100", 1, "TAX", "101");
    RecurringCharge("GONE", 1, "CAM", "101");  // a charge whose lease is not on file
    const auto esc = [](const std::map<std::string, std::string>& more) { return With(kEscalates, more); };
    const auto fee = [](const std::map<std::string, std::string>& more) { return With(kCharges, more); };
    const std::vector<Case> cases = {
        {kEscalates, nullptr},
        {esc({{"RCEMTHD", "2"}, {"RCEBUDG", "0"}}), nullptr},
        {esc({{"RCECHGU", "101"}}),
         "Escalate recur chg is marked, Escal charge type is required for Recov 'CR100, 1, CAM, 101'(1420)"},
        {esc({{"RCEBCM", ""}, {"RCECM", ""}}), "Escalate recur chg is marked, Escal basis calc method is required"},
        {esc({{"RCEMTHD", "2"}, {"RCEBUDG", "11"}}),
         "Escal budget type '11' is not a valid budget type, valid types are 1 - 10(1425)"},
        // No property recovery control: only a budgeted method reads it.
        {esc({{"RCEMTHD", "1"}, {"RCEBUDG", "4"}}),
         "Escalation method is not 'Budgeted expenses(2)', Escal budget type with '4' will be cleared(1422)"},
        {esc({{"RCEMTHD", "2"}, {"RCEBUDG", "3"}}),
         "Escal budget type with '3' is invalid, Property recov cntl record 'PLAZA, CAM' does not yet exist(1456)"},
        {esc({{"RCLEASE", "gone"}, {"RCEMTHD", "2"}, {"RCEBUDG", "3"}}),
         "Lease, Revision 'GONE(1)' does not yet exist for Recov exp cat cntrl 'GONE, 1, CAM, 101'(1450)"},
        {esc({{"RCECHGT", "tax"}, {"RCECHGU", "102"}}),
         "Lease recurring chg 'CR100, 1, TAX, 102' does not yet exist, Recov escal chg invalid(1458)"},
        {esc({{"RCECHGT", "tax"}, {"RCECHGU", "101"}, {"RCECM", "CPI"}}),
         "Calc method 'CPI' is not a Recoverable expense calc method, Escal calc method is invalid(1415)"},
        {esc({{"RCERET", "2"}, {"RCECT", "NONE"}}),
         "Charge type 'NONE' does not yet exist for the Escal retro charge type field(1417)"},
        {esc({{"RCERET", "3"}, {"RCECU", "101"}}),
         "Escalation retroactive option is 'Adjust a charge(3)', Escal retro charge type is required(1463)"},
        {esc({{"RCERET", "3"}, {"RCECT", "TAX"}}),
         "Escalation retroactive option is 'Adjust a charge(3)', Escal retro chg unit is required(1463)"},
        {esc({{"RCERET", "3"}, {"RCECT", "TAX"}, {"RCECU", "102"}}),
         "Lease recurring chg 'CR100, 1, TAX, 102' does not yet exist, Escal retro chg is invalid(1464)"},
        {esc({{"RCERET", "3"}, {"RCECT", "tax"}, {"RCECU", "101"}}), nullptr},
        {kCharges, nullptr},
        {fee({{"RCFCM", ""}}), "Chg admin fee is marked, Admin fee calc method is required for Recov 'CR100, 1, CAM, 101'(1430)"},
        {fee({{"RCFMETH", "1"}, {"RCFBUD", "4"}}),
         "Administrative fee method is not 'Budgeted expenses(2)', Admin fee budget type with '4' will be cleared(1432)"},
        {fee({{"RCFMETH", "2"}, {"RCFBUD", "0"}}), nullptr},
        {fee({{"RCFMETH", "2"}, {"RCFBUD", "11"}}), "Admin fee budget type '11' is not a valid budget type"},
        {fee({{"RCFMETH", "2"}, {"RCFBUD", "4"}}),
         "Admin budget type with '4' is invalid, Property recov cntl record 'PLAZA, CAM' does not yet exist(1456)"},
        {fee({{"RCFBCM", "NONE"}}), "Calculation method 'NONE' does not yet exist for the Admin fee basis calc method field(1416)"},
        {fee({{"RCFCM", "CPI"}}), "Calc method 'CPI' is not a Recoverable expense calc method, Admin fee calc mthd is invalid(1415)"},
        {fee({{"RCFCT", "NONE"}}), "Charge type 'NONE' does not yet exist for the Admin fee charge type field(1417)"},
    };
    for (const auto& c : cases) {
        const std::string report = std::regex_replace(Run({Recovery(c.fields)}, false), std::regex("\n +"), " ");
        if (c.expected)
            EXPECT_THAT(report, HasSubstr(c.expected)) << ::testing::PrintToString(c.fields);
        else
            EXPECT_THAT(report, Not(HasSubstr("(14"))) << ::testing::PrintToString(c.fields) << report;
    }
}

TEST_F(PmvTest, TheFirstFailingRuleDecidesWithinAndBetweenGroups) {
    RecurringCharge("CR100", 1, "TAX", "101");
    const auto esc = [](const std::map<std::string, std::string>& more) { return With(kEscalates, more); };
    const auto fee = [](const std::map<std::string, std::string>& more) { return With(kCharges, more); };
    const std::vector<Case> cases = {
        // Reconcile, escalation, fee, stops and caps, occupancy SF type, in this order.
        {esc({{"RCREC", "1"}, {"RCEBCM", ""}}), "Reconcile chgs is marked, Recon basis calc method is required"},
        {With(esc({{"RCEBCM", ""}}), fee({{"RCFBCM", ""}})), "Escalate recur chg is marked, Escal basis calc method"},
        {fee({{"RCFBCM", ""}, {"RCSTOP", "3"}}),
         "Chg admin fee is marked, Admin fee basis calc mthd is required for Recov 'CR100, 1, CAM, 101'(1430)"},
        {{{"RCSTOP", "3"}, {"RCOSF", "NONE"}}, "Stop SF type is required for Recov 'CR100, 1, CAM, 101'(1440)"},
        // Escalation: required fields, budget type, escalated charge, calculation methods, retro option.
        {esc({{"RCECM", ""}, {"RCEMTHD", "2"}, {"RCEBUDG", "11"}}), "Escal calc method is required for Recov"},
        {esc({{"RCEMTHD", "2"}, {"RCEBUDG", "11"}, {"RCECHGT", "tax"}, {"RCECHGU", "102"}}), "valid types are 1 - 10(1425)"},
        {esc({{"RCECHGT", "tax"}, {"RCECHGU", "102"}, {"RCEBCM", "CPI"}}), "Recov escal chg invalid(1458)"},
        {esc({{"RCEBCM", "NONE"}, {"RCECM", "CPI"}}),
         "Calculation method 'NONE' does not yet exist for the Escal basis calc method field(1416)"},
        {esc({{"RCECM", "CPI"}, {"RCERET", "3"}}), "Escal calc method is invalid(1415)"},
        // Fee: required fields in order, budget type, then the lookups in order.
        {fee({{"RCFCT", ""}}), "Chg admin fee is marked, Admin fee charge type is required"},
        {fee({{"RCFCT", ""}, {"RCFMETH", "2"}, {"RCFBUD", "11"}}), "Admin fee charge type is required"},
        {fee({{"RCFMETH", "2"}, {"RCFBUD", "11"}, {"RCFBCM", "NONE"}}), "Admin fee budget type '11' is not a valid"},
        {fee({{"RCFCM", "NONE"}, {"RCFCT", "NONE"}}),
         "Calculation method 'NONE' does not yet exist for the Admin fee calc mthd field(1416)"},
        // Not marked, the fee's basis method keeps its own short label.
        {{{"RCFBCM", "REC"}}, "(like Fee basis calc mthd with 'REC') will be cleared(1429)"},
    };
    for (const auto& c : cases) {
        const std::string report = std::regex_replace(Run({Recovery(c.fields)}, false), std::regex("\n +"), " ");
        EXPECT_THAT(report, HasSubstr(c.expected)) << ::testing::PrintToString(c.fields);
    }
    // A record rejected after an earlier group's note: nothing written, the note not printed.
    const std::string report = Run({Recovery(esc({{"RCEMTHD", "1"}, {"RCEBUDG", "4"}, {"RCECM", "CPI"}}))}, true);
    EXPECT_THAT(report, HasSubstr("Escal calc method is invalid(1415)"));
    EXPECT_THAT(report, Not(HasSubstr("(1421)")));
    EXPECT_FALSE(ReadRecovery("CR100", "CAM", "101"));
}

TEST_F(PmvTest, GroupsNotMarkedAreClearedWithOneNoteEach) {
    // Several fields of each group: one note names the first in the group's order.
    const std::string line = Recovery({{"RCEPI", "1.5"}, {"RCEBUDG", "3"}, {"RCECU", "101"}, {"RCFCT", "ADMIN"},
                                       {"RCFMETH", "2"}, {"RCFP", "2.5"}});
    const std::string examined = Run({line}, false);
    EXPECT_THAT(examined, HasSubstr("Escal recur chg not marked, its fields (like Escal budget type with '3') will be cleared(1419)"));
    EXPECT_THAT(examined, HasSubstr("Charge admin fee not marked, its fields (like Fee method with 'Budgeted expenses(2)') will be cleared(1429)"));
    EXPECT_EQ(examined.find("Escal recur chg"), examined.rfind("Escal recur chg")) << examined;
    EXPECT_EQ(examined.find("Charge admin fee"), examined.rfind("Charge admin fee")) << examined;
    EXPECT_THAT(Run({Recovery({{"RCEPI", "2.5"}})}, false), HasSubstr("(like Escal percent increase with '2.500000')"));

    EXPECT_THAT(Run({line}, true), HasSubstr("(like Escal budget type with '3') were cleared(1418)"));
    ASSERT_TRUE(ReadRecovery("CR100", "CAM", "101"));
    const uint16_t h = H("PMV");
    for (const char* name : {"RCEPI", "RCEBUDG", "RCFP"}) EXPECT_EQ(GetNumber(h, 4, name), 0) << name;
    EXPECT_EQ(GetText(h, 4, "RCECU"), "");
    EXPECT_EQ(GetText(h, 4, "RCFCT"), "");
    EXPECT_EQ(GetNumber(h, 4, "RCFMETH"), 1);
}

TEST_F(PmvTest, MarkedGroupsStoreTheSpellingOnFileAndDropUnusedRetroFields) {
    RecurringCharge("CR100", 1, "CAM", "102");
    RecurringCharge("CR100", 1, "TAX", "101");
    const std::string own = Recovery(With(kEscalates, With(kCharges, {{"RCFBCM", "rec"}, {"RCFCM", "Rec"}, {"RCFP", "2.5"},
                                                                       {"RCERET", "1"}, {"RCECT", "TAX"}, {"RCECU", "101"}})));
    const std::string create = Recovery(With(kEscalates, {{"RCUNIT", "102"}, {"RCECHGT", "tax"}, {"RCECHGU", "101"},
                                                          {"RCERET", "2"}, {"RCECT", "adj"}, {"RCECU", "101"}}));
    const std::string examined = Run({own, create}, false);
    EXPECT_THAT(examined, HasSubstr("Escal retro opt is 'No retroactive escal(1)', Escal retro charge type with 'TAX' will be cleared(1460)"));
    EXPECT_THAT(examined, HasSubstr("Escal retro opt is 'No retroactive escal(1)', Escal retro chg unit with '101' will be cleared(1460)"));
    EXPECT_THAT(examined, HasSubstr("Escal retro opt is 'Create a charge(2)', Escal retro chg unit with '101' will be cleared(1462)"));
    EXPECT_THAT(Run({own, create}, true), HasSubstr("with '101' was cleared(1461)"));
    const uint16_t h = H("PMV");
    ASSERT_TRUE(ReadRecovery("CR100", "CAM", "101"));
    // An escalation naming no charge escalates the record's own.
    EXPECT_EQ(GetText(h, 4, "RCECHGT"), "CAM");
    EXPECT_EQ(GetText(h, 4, "RCECHGU"), "101");
    EXPECT_EQ(GetText(h, 4, "RCFBCM"), "REC");
    EXPECT_EQ(GetText(h, 4, "RCFCM"), "REC");
    EXPECT_EQ(GetNumber(h, 4, "RCFP"), 2500000);  // taken as it stands
    EXPECT_EQ(GetText(h, 4, "RCECT"), "");
    ASSERT_TRUE(ReadRecovery("CR100", "CAM", "102"));
    EXPECT_EQ(GetText(h, 4, "RCECHGT"), "TAX");
    EXPECT_EQ(GetText(h, 4, "RCECT"), "ADJ");
    EXPECT_EQ(GetText(h, 4, "RCECU"), "");
}

TEST_F(PmvTest, BudgetTypesFollowThePropertyControlInBothModes) {
    // Examined, the control is only in the record-ID map; converted, it is on file.
    const std::string control = Property({{"PRCB3", "1"}});
    const auto budget = [this](const char* type, const char* unit) {
        return Recovery(With(kEscalates, {{"RCUNIT", unit}, {"RCEMTHD", "2"}, {"RCEBUDG", type}}));
    };
    const auto fee = [this](const char* type) { return Recovery(With(kCharges, {{"RCFMETH", "2"}, {"RCFBUD", type}})); };
    RecurringCharge("CR100", 1, "CAM", "102");
    const char* kNotUsing = "budget type with '4' is invalid, Property recov cntl record 'PLAZA, CAM' is not using it(1457)";
    for (bool converting : {false, true}) {
        const std::string report = Run({control, budget("4", "101"), budget("3", "102"), fee("4")}, converting);
        EXPECT_THAT(report, HasSubstr(std::string("Escal ") + kNotUsing)) << converting;
        EXPECT_THAT(report, HasSubstr(std::string("Admin ") + kNotUsing)) << converting;
        EXPECT_THAT(report, Not(HasSubstr("PLAZA, CAM' does not yet exist"))) << converting;
        EXPECT_EQ(ReadRecovery("CR100", "CAM", "102"), converting) << report;
    }
}

TEST_F(PmvTest, AControlLineChangesWhatLaterRecoveriesFindInBothModes) {
    // The same property and charge type before the control's line and after it.
    const auto budget = [this](const char* unit) {
        return Recovery(With(kEscalates, {{"RCUNIT", unit}, {"RCEMTHD", "2"}, {"RCEBUDG", "3"}}));
    };
    RecurringCharge("CR100", 1, "CAM", "102");
    for (bool converting : {false, true}) {
        const std::string report = Run({budget("101"), Property({{"PRCB3", "1"}}), budget("102")}, converting);
        EXPECT_THAT(report, HasSubstr("Escal budget type with '3' is invalid, Property recov cntl record 'PLAZA, CAM' "
                                      "does not yet exist"))
            << converting;
        EXPECT_FALSE(ReadRecovery("CR100", "CAM", "101")) << report;
        EXPECT_EQ(ReadRecovery("CR100", "CAM", "102"), converting) << report;
    }
}

TEST_F(PmvTest, RecoveriesNamingTheSameSetupEachTakeItsStoredSpelling) {
    Put("PMP", 19, {{"UFPROP", "PLAZA"}, {"UFUNIT", "101"}, {"UFSFTYP", "Gla"}, {"UFDATE", "1/1/2026"}});
    RecurringCharge("CR100", 1, "TAX", "101");
    const auto line = [this](const char* ct) {
        return Recovery(With(kEscalates, {{"RCCT", ct}, {"RCEBCM", "rec"}, {"RCSTOP", "3"}, {"RCSSF", "gla"}}));
    };
    const std::string report = Run({line("cam"), line("tax"), line("tax")}, true);
    const uint16_t h = H("PMV");
    for (const char* ct : {"CAM", "TAX"}) {
        ASSERT_TRUE(ReadRecovery("CR100", ct, "101")) << report;
        EXPECT_EQ(GetText(h, 4, "RCEBCM"), "REC") << ct;
        EXPECT_EQ(GetText(h, 4, "RCSSF"), "Gla") << ct;
    }
}

TEST_F(PmvTest, UnknownRecordsAreRefused) {
    const std::string report = Run({"3,PLAZA,CAM,", "9,anything"}, false);
    EXPECT_THAT(report, HasSubstr("Record type 'Recovery expense history' cannot be converted as part of a PMV Recovery"));
    EXPECT_THAT(report, HasSubstr("Record type '9' cannot be converted as part of a PMV Recovery"));
}

TEST_F(PmvTest, GlNotInstalledRefusesTheFileWithAGlEntry) {
    suite::write_settings(company.path() / suite::kSettingsFileName, suite::default_settings({"PM"}));
    suite::close_company();
    suite::open_company(company.path());
    xvPMV converter;
    OpenFilesList files;
    uint16_t error = 0;
    EXPECT_FALSE(converter.OpenFiles(files, 3020, error));
    EXPECT_EQ(error, 9844);
    ASSERT_FALSE(files.empty());
    EXPECT_EQ(files.back().abbr, "GLM");
}

TEST_F(PmvTest, PropertyRecoveryControlRules) {
    const std::vector<Case> cases = {
        {{}, nullptr},
        {{{"PRCCT", "TAX"}}, "Property Charge type 'PLAZA, TAX' does not yet exist(1402)"},
        {{{"PRCFREQ", ""}}, "Recovery frequency is blank or zero"},
        {{{"PRCFREQ", "0.5"}}, "Recovery frequency is blank or zero"},
        {{{"PRCFREQ", "1.5"}}, "Recovery frequency '1.5' is not a whole number of months"},
        {{{"PRCESC", "1"}, {"PRCEBCM", "REC"}, {"PRCECM", "REC"}, {"PRCEM", "2"}},
         "Escal method is 'Budgeted expenses(2)', Escal budget type is required for Recov 'PLAZA, CAM'(1423)"},
        {{{"PRCESC", "1"}, {"PRCEBCM", "REC"}, {"PRCECM", "REC"}, {"PRCEM", "2"}, {"PRCEBT", "11"}},
         "Escalation budget type '11' is not a valid budget type, valid types are 1 - 10(1425)"},
        {{{"PRCESC", "1"}, {"PRCEBCM", "REC"}, {"PRCECM", "REC"}, {"PRCEM", "2"}, {"PRCEBT", "4"}},
         "Escalation budget type '4' is invalid because Use budget type 4 is not marked(1424)"},
        {{{"PRCESC", "1"}, {"PRCEBCM", "REC"}, {"PRCECM", "REC"}, {"PRCEM", "2"}, {"PRCEBT", "4"}, {"PRCB4", "1"}},
         nullptr},
        {{{"PRCFEE", "1"}, {"PRCFBCM", "REC"}, {"PRCFCM", "REC"}},
         "Chg admin fee is marked, Admin fee charge type is required for Recov 'PLAZA, CAM'(1430)"},
        {{{"PRCBSF", "1200"}}, "Base square footage is not being used, its value '1200' will not be converted(1435)"},
        {{{"PRCREC", "1"}, {"PRCRBCM", "REC"}, {"PRCRCM", "CPI"}, {"PRCRACT", "ADJ"}}, "Calc method 'CPI' is not"},
        {{{"PRCSM", "1"}, {"PRCSA", "4.50"}},
         "Stop method is 'No stop(1)', its fields(like Stop amount with '4.50') will be cleared(1437)"},
        {{{"PRCCM", "2"}, {"PRCCSF", "GLA"}},
         "Cap method is not 'Dollars per SF(3)', Cap SF type with 'GLA' will be cleared(1439)"},
        {{{"PRCSM", "3"}}, "Stop method is 'Dollars per SF(3)', Stop SF type is required for Recov 'PLAZA, CAM'(1440)"},
        {{{"PRCSM", "3"}, {"PRCSSF", "gla"}}, nullptr},
        {{{"PRCSM", "3"}, {"PRCSSF", "BOH"}}, "'PLAZA, BOH' does not yet exist for the Stop SF type field(1411)"},
        {{{"PRCOSF", "NET"}}, "is not tracking occupancy for the Occupancy SF type field(1441)"},
        {{{"PRCESC", "0"}, {"PRCEM", "2"}, {"PRCEBT", "3"}},
         "Escal recur chg not marked, its fields (like Escal method with 'Budgeted expenses(2)') will be cleared(1419)"},
    };
    for (const auto& c : cases) {
        const std::string report = Run({Property(c.fields)}, false);
        if (c.expected)
            EXPECT_THAT(report, HasSubstr(c.expected)) << ::testing::PrintToString(c.fields);
        else
            EXPECT_THAT(report, Not(HasSubstr("(14"))) << report;
    }
}

// A converter whose operator asks to stop after the k-th kept record, or whose notes cannot print.
class EndingPmv : public xvPMV {
public:
    int stopAfter = 0;
    bool dropNotes = false;

protected:
    void RecordWritten(convert::ConvertContext& ctx, xvl::xvlImpInfo& info) override {
        if (++kept_ == stopAfter && ctx.progress) ctx.progress->stop = 1;
        xvPMV::RecordWritten(ctx, info);
    }
    bool FinishConversion(convert::ConvertContext& ctx) override {
        if (dropNotes) ui::zp_cls_print_file(ctx.commandId, 201);
        return xvPMV::FinishConversion(ctx);
    }

private:
    int kept_ = 0;
};

TEST_F(PmvTest, AStopOrNotesThatCannotPrintRestoreTheFileAndLeaveTheTextUnstamped) {
    RecurringCharge("CR100", 1, "CAM", "102");
    RecurringCharge("CR100", 1, "CAM", "103");
    const std::vector<std::string> lines = {Recovery({{"RCCFD", "1/1/2026"}}),
                                            Recovery({{"RCUNIT", "102"}, {"RCCFD", "1/1/2026"}}),
                                            Recovery({{"RCUNIT", "103"}, {"RCCFD", "1/1/2026"}})};
    for (auto& e : list)
        if (e.handle) {
                ASSERT_EQ(xio_commit(e.handle), XIO_OK);
            }
    const std::string before = ReadFile(company.path() / "MASTER.PMV");
    for (int mode = 0; mode < 2; ++mode) {
        progress = convert::ConvertProgress([] { return int64_t{0}; });
        EndingPmv converter;
        converter.stopAfter = mode == 0 ? 2 : 0;
        converter.dropNotes = mode == 1;
        const std::string report = Run(converter, lines, true);
        EXPECT_THAT(report, HasSubstr(mode == 0 ? "Conversion canceled by operator" : "Unable to print warning/log messages"));
        EXPECT_TRUE(ReadFile(lastText) == lastContent) << mode;  // not stamped
        EXPECT_FALSE(ReadRecovery("CR100", "CAM", "101")) << mode;
        for (auto& e : list)
            if (e.handle) {
                ASSERT_EQ(xio_commit(e.handle), XIO_OK);
            }
        EXPECT_TRUE(ReadFile(company.path() / "MASTER.PMV") == before) << mode;  // byte for byte
    }
}

class PmvAccrualTest : public PmvTest {
protected:
    void SetUp() override {
        method = 1;
        PmvTest::SetUp();
    }
};

TEST_F(PmvAccrualTest, AccountingMethodFollowsTheSettingsAndShowsTheValueHeld) {
    // A blank method is shown as blank, not as a method it never held.
    EXPECT_THAT(Run({Property({{"PRCAMOP", ""}})}, false),
                HasSubstr("Accounting method will be changed from '' to 'Accrual(1)' to match your General settings(1405)"));
    EXPECT_THAT(Run({Property({{"PRCAMOP", "2"}})}, true),
                HasSubstr("Accounting method was changed from 'Cash(2)' to 'Accrual(1)' to match your General settings(1404)"));
}

// ---- Expense-category controls and concession periods ------------------------------------------

class PmvCategoryTest : public PmvTest {
protected:
    void SetUp() override {
        PmvTest::SetUp();
        if (HasFatalFailure()) return;
        for (const char* account : {"01000000000", "00999000000", "05000000000"}) GlAccount(account);
        Put("PMP", 19, {{"UFPROP", "PLAZA"}, {"UFUNIT", "101"}, {"UFSFTYP", "Gla"}, {"UFDATE", "1/1/2026"}});
        Put("PMV", 1, {{"PRCPROP", "PLAZA"}, {"PRCCT", "CAM"}, {"PRCFREQ", "12"}});
        Put("PMV", 4, {{"RCLEASE", "CR100"}, {"RCREV", "1"}, {"RCCT", "CAM"}, {"RCUNIT", "101"}, {"RCFREQ", "12"}});
    }
    std::string Category(const std::map<std::string, std::string>& more = {}) {
        return Line(2, With({{"PECPROP", "plaza"}, {"PECCT", "cam"}, {"PECEC", "utilities"}}, more));
    }
    std::string LeaseCategory(const std::map<std::string, std::string>& more = {}) {
        return Line(5, With({{"ECLEASE", "cr100"}, {"ECREV", "1"}, {"ECCT", "cam"}, {"ECUNIT", "101"},
                             {"ECEC", "utilities"}},
                            more));
    }
    std::string Concession(const std::map<std::string, std::string>& more = {}) {
        return Line(6, With({{"CPLEASE", "cr100"}, {"CPREV", "1"}, {"CPCT", "cam"}, {"CPUNIT", "101"},
                             {"CPFROM", "1/1/2027"}, {"CPTO", "3/31/2027"}},
                            more));
    }
    void Expect(const std::vector<std::string>& lines, bool converting, const char* expected) {
        const std::string report = std::regex_replace(Run(lines, converting), std::regex("\n +"), " ");
        if (expected)
            EXPECT_THAT(report, HasSubstr(expected)) << lines.back();
        else
            EXPECT_THAT(report, Not(HasSubstr("(14"))) << report;
    }
};

TEST_F(PmvCategoryTest, PropertyCategoryRules) {
    const std::vector<Case> cases = {
        {{}, nullptr},
        {{{"PECFROM", "00999000000"}, {"PECTO", "01000000000"}, {"PECUSF", "gla"}, {"PECPSF", "net"}}, nullptr},
        {{{"PECFROM", "01000000000"}, {"PECTO", "01000000000"}}, nullptr},
        {{{"PECEC", ""}}, "Expense category is required for Property recov exp cat control 'PLAZA, CAM'(1401)"},
        {{{"PECCT", "TAX"}, {"PECFROM", "01000000000"}}, "Property recovery controls 'PLAZA, TAX' does not yet exist(1407)"},
        {{{"PECFROM", "01000000000"}}, "The To account is required when the From account has a value, it has '01-0-00-0000-00'(1408)"},
        {{{"PECTO", "05000000000"}}, "The From account is required when the To account has a value, it has '05-0-00-0000-00'(1408)"},
        {{{"PECFROM", "01000000000"}, {"PECTO", "04000000000"}}, "To account '04-0-00-0000-00' does not yet exist(1409)"},
        {{{"PECFROM", "01000000000"}, {"PECTO", "00999000000"}},
         "To account '00-9-99-0000-00' must be greater than or equal to the From account '01-0-00-0000-00'(1410)"},
        {{{"PECPSF", "BOH"}}, "'PLAZA, BOH' does not yet exist for the Property SF type field(1411)"},
    };
    for (const auto& c : cases) Expect({Category(c.fields)}, false, c.expected);
    // A longer first account runs backwards whatever its characters; letters compare without case.
    EXPECT_TRUE(AccountRangeReversed("1000", "999"));
    EXPECT_FALSE(AccountRangeReversed("999", "1000"));
    EXPECT_FALSE(AccountRangeReversed("10a0", "10A0"));
    EXPECT_TRUE(AccountRangeReversed("10b0", "10A9"));
}

TEST_F(PmvCategoryTest, AControlEarlierInTheTextFileCountsInExamineFiles) {
    Put("PMP", 5, {{"PCPROP", "PLAZA"}, {"PCCT", "TAX"}});
    RecurringCharge("CR100", 1, "CAM", "102");
    const std::string control = Property({{"PRCCT", "tax"}});
    const std::string category = Category({{"PECCT", "tax"}});
    Expect({control, category}, false, nullptr);
    Expect({category, control}, false, "Property recovery controls 'PLAZA, TAX' does not yet exist(1407)");
    const std::string recovery = Recovery({{"RCUNIT", "102"}});
    for (const std::string& line : {LeaseCategory({{"ECUNIT", "102"}}), Concession({{"CPUNIT", "102"}})}) {
        Expect({recovery, line}, false, nullptr);
        Expect({line, recovery}, false, "Lease recovery controls 'CR100, 1, CAM, 102' does not yet exist(1447)");
    }
}

TEST_F(PmvCategoryTest, LeaseCategoryRules) {
    Put("PMV", 4, {{"RCLEASE", "GONE"}, {"RCREV", "1"}, {"RCCT", "CAM"}, {"RCUNIT", "101"}, {"RCFREQ", "12"}});
    const std::vector<Case> cases = {
        {{}, nullptr},
        {{{"ECUSF", "gla"}, {"ECPSF", "gla"}}, nullptr},
        {{{"ECLEASE", "gone"}}, nullptr},  // no SF type: the lease is not read
        {{{"ECUNIT", ""}}, "Unit is required for Lease recov exp cat control 'CR100, CAM'(1401)"},
        {{{"ECUNIT", "102"}}, "Lease recovery controls 'CR100, 1, CAM, 102' does not yet exist(1447)"},
        {{{"ECLEASE", "gone"}, {"ECPSF", "GLA"}},
         "Lease, Revision 'GONE(1)' does not yet exist for Recov exp cat cntrl 'GONE, 1, CAM, 101'(1450)"},
        {{{"ECUSF", "NET"}}, "'PLAZA, 101, NET' does not yet exist for the Unit SF type field(1451)"},
        {{{"ECUSF", "ZZZ"}}, "'PLAZA, 101, ZZZ' does not yet exist for the Unit SF type field(1451)"},
        {{{"ECPSF", "BOH"}}, "'PLAZA, BOH' does not yet exist for the Property SF type field(1411)"},
        {{{"ECFEE", "1"}},
         "Subject to admin fee not marked on Recov Controls record, it will be cleared on this Recov exp record(1449)"},
        {{{"ECMP", "2.5"}, {"ECUSF", "GLA"}, {"ECPSF", "NET"}},
         "Unit SF type 'Gla' is not blank, Manual percent '2.500000' will be changed to zero(1453)"},
        {{{"ECMP", "2.5"}, {"ECPSF", "net"}},
         "Property SF type 'NET' is not blank, Manual percent '2.500000' will be changed to zero(1453)"},
        {{{"ECPAE", "123.45"}}, "Prior actual expenses is not supported by conversion, '123.45' will be cleared(1446)"},
    };
    for (const auto& c : cases) Expect({LeaseCategory(c.fields)}, false, c.expected);
}

TEST_F(PmvCategoryTest, TheFeeFlagComesFromTheControlMarkedForTheFee) {
    RecurringCharge("CR100", 1, "CAM", "102");
    RecurringCharge("CR100", 1, "CAM", "103");
    const std::map<std::string, std::string> fee = {
        {"RCUNIT", "102"}, {"RCFEE", "1"}, {"RCFBCM", "REC"}, {"RCFCM", "REC"}, {"RCFCT", "ADMIN"}};
    // Examined, the control's word in the record-ID map; converted, the control on file.
    for (bool converting : {false, true})
        Expect({Recovery(fee), LeaseCategory({{"ECFEE", "1"}, {"ECUNIT", "102"}})}, converting, nullptr);
    Expect({Recovery({{"RCUNIT", "103"}}), LeaseCategory({{"ECFEE", "1"}, {"ECUNIT", "103"}})}, false,
           "Subject to admin fee not marked on Recov Controls record, it will be cleared");
}

TEST_F(PmvCategoryTest, ConcessionPeriodRules) {
    const std::vector<Case> cases = {
        {{}, nullptr},
        {{{"CPTO", "1/1/2027"}}, nullptr},
        {{{"CPFROM", "1/2/2027"}, {"CPTO", "1/1/2027"}},
         "Recov conc period From date ' 1/02/2027' can not be after the Recovery conc period To date ' 1/01/2027'(1455)"},
        {{{"CPFROM", ""}, {"CPTO", ""}},
         "Recov concession period From date is required for recovery conc period 'CR100, 1, CAM, 101'(1454)"},
        {{{"CPTO", ""}}, "Recov concession period To date is required"},
        {{{"CPUNIT", ""}, {"CPFROM", ""}, {"CPTO", ""}}, "Unit is required for Lease recov conc period 'CR100, CAM'(1401)"},
        {{{"CPCT", "tax"}}, "Lease recovery controls 'CR100, 1, TAX, 101' does not yet exist(1447)"},
    };
    for (const auto& c : cases) Expect({Concession(c.fields)}, false, c.expected);
}

// Keys whose formats keep the letter case as typed: the control's line stores the spelling on
// file, a later line of the same text file may type it otherwise.
class PmvTypedCaseTest : public PmvCategoryTest {
protected:
    void Adjust(suite::CompanySettings& s) override {
        PmvCategoryTest::Adjust(s);
        for (int term : {400, 401, 403, 415}) s.formats[term].sections = {suite::KeySection{"", 10, "", false, false}};
    }
};

TEST_F(PmvTypedCaseTest, ALaterLineTypingAControlsKeyOtherwiseFindsItInBothModes) {
    Put("PMP", 5, {{"PCPROP", "PLAZA"}, {"PCCT", "TAX"}});
    RecurringCharge("CR100", 1, "CAM", "102");
    const std::string control = Property({{"PRCCT", "tax"}}), recovery = Recovery({{"RCUNIT", "102"}});
    for (bool converting : {false, true}) {
        Expect({control, Category({{"PECCT", "tax"}})}, converting, nullptr);
        Expect({recovery, LeaseCategory({{"ECUNIT", "102"}, {"ECLEASE", "Cr100"}})}, converting, nullptr);
        Expect({recovery, Concession({{"CPUNIT", "102"}})}, converting, nullptr);
    }
    // A control no line creates is still missing, named as typed.
    Expect({Concession({{"CPUNIT", "103"}})}, false, "Lease recovery controls 'cr100, 1, cam, 103' does not yet exist(1447)");
}

}  // namespace
}  // namespace dz::pm::testing
