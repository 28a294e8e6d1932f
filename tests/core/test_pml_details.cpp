// Lease modifications and options, recurring charges and their log, tenants and their records and
// the system index records, through text files examined and converted.
#include "pml_fixture.h"

#include <gmock/gmock.h>

namespace dz::pm::testing {

using namespace convert;
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class PmlDetailTest : public PmlTest {
protected:
    void Adjust(suite::CompanySettings& s) override {
        PmlTest::Adjust(s);
        s.lists[kSfTypeTerm] = {"Gross", {"Gross", "Net"}};
        s.formulas = {"RENTCALC"};
    }
    void SetUp() override {
        PmlTest::SetUp();
        Property("OTHER");
        Unit("OTHER", "U9");
        for (const char* ct : {"RENT", "CAM", "TAX", "WATER"}) ChargeType(ct);
        Lease("L1", 0, "STRIP", "U100", "ACME");
        Lease("L1", 1, "STRIP", "U100", "ACME");
        Lease("L2", 0, "STRIP", "U200", "BAKER");
        for (const char* seq : {"1", "2", "3"}) Put("PML", kPmlOption, {{"LOLEASE", "L1"}, {"LOREV", "0"}, {"LOSEQ", seq}});
        Put("PML", kPmlOption, {{"LOLEASE", "L2"}, {"LOREV", "0"}, {"LOSEQ", "998"}});
    }
    std::string Option(const std::string& lease, const std::string& rev, std::map<std::string, std::string> more = {}) {
        more["LOLEASE"] = lease;
        more["LOREV"] = rev;
        return Line("5", "PML", kPmlOption, more);
    }
    // A table-based monthly charge of STRIP's U100 with a next date, changed by `more`.
    std::string Charge(const std::string& lease, const std::string& type, std::map<std::string, std::string> more = {}) {
        std::map<std::string, std::string> v = {{"RCLEASE", lease}, {"RCREV", "0"},        {"RCCT", type},
                                                {"RCUNIT", "U100"}, {"RCSQFT", "gross"},   {"RCFREQ", "3"},
                                                {"RCAMTT", "1"},    {"RCNDATE", "2/1/2026"}};
        for (auto& [k, val] : more) v[k] = val;
        return Line("13", "PML", kPmlRecurringCharge, v);
    }
    std::string Log(const std::string& lease, const std::string& type) {
        return Line("15", "PML", kPmlRecurringLog,
                    {{"RCLLEAS", lease}, {"RCLREV", "0"}, {"RCLCT", type}, {"RCLUNIT", "U100"}, {"RCLEFDT", "1/1/2026"},
                     {"RCLFREQ", "3"}, {"RCLAMT", "125.00"}});
    }
    bool ReadOption(const std::string& lease, double rev, double seq) {
        return FindRecord(H("PML"), kPmlOption, {{"LOLEASE", lease}, {"LOREV", rev}, {"LOSEQ", seq}}, {}).where ==
               Found::OnFile;
    }
    bool ReadCharge(const std::string& type, const std::string& unit = "U100") {
        return FindRecord(H("PML"), kPmlRecurringCharge,
                          {{"RCLEASE", "L1"}, {"RCREV", 0.0}, {"RCCT", type}, {"RCUNIT", unit}}, {})
                   .where == Found::OnFile;
    }
    std::string Pml(uint16_t rec, const char* field) { return GetText(H("PML"), rec, field); }
    // The first record `rec` on file.
    bool First(const std::string& abbr, uint16_t rec) {
        xio_init_record(H(abbr), rec);
        return xio_rd_first(H(abbr), rec, 0, 0) == XIO_OK;
    }
};

TEST_F(PmlDetailTest, ModificationsAndOptionsConverted) {
    const std::string report =
        Run({Line("4", "PML", kPmlModification, {{"LMLEASE", "l1"}, {"LMDATE", "3/1/2026"}}),
             Line("4", "PML", kPmlModification, {{"LMLEASE", "L1"}, {"LMDATE", "3/2/2026"}, {"LMNLS", "ZZ"}}),
             Option("l1", "0"), Option("L1", "1"), Option("L1", "0", {{"LOUNIT", "U100"}}),
             Option("L1", "0", {{"LOPROP", "strip"}, {"LOUNIT", "U9"}})},
            true);
    EXPECT_THAT(report, HasSubstr("New Lease, New Revision 'ZZ(0)' does not yet exist(1820)"));
    ASSERT_TRUE(First("PML", kPmlModification)) << report;
    EXPECT_EQ(Pml(kPmlModification, "LMOLCMB"), "L1(0)");
    EXPECT_EQ(Pml(kPmlModification, "LMNLCMB"), "");
    // Options 1 to 3 on file give 4 (then 5); another revision starts at 1.
    EXPECT_TRUE(ReadOption("L1", 0, 4)) << report;
    EXPECT_TRUE(ReadOption("L1", 1, 1));
    ASSERT_TRUE(ReadOption("L1", 0, 5));
    EXPECT_EQ(Pml(kPmlOption, "LOUNIT"), "");
    EXPECT_THAT(report, HasSubstr("Cannot have a Unit without a Property, Unit 'U100' not converted(1140)"));
    EXPECT_THAT(report, HasSubstr("Property Unit 'STRIP, U9' does not yet exist(1111)"));
}

TEST_F(PmlDetailTest, ModificationsAndOptionsExamined) {
    const std::string report =
        Run({LeaseLine("N1"), Line("4", "PML", kPmlModification, {{"LMLEASE", "n1"}, {"LMDATE", "3/1/2026"}}),
             Option("N1", "0", {{"LOUNIT", "U100"}}), Option("L2", "0", {{"LOSEQ", "999"}}), Option("L2", "0")},
            false);
    EXPECT_THAT(report, Not(HasSubstr("'N1(0)' does not yet exist")));
    EXPECT_THAT(report, HasSubstr("Unit 'U100' will not convert(1141)"));
    // 998 on file and 999 earlier in the text: 1000 is no number Convert could give.
    EXPECT_THAT(report, HasSubstr("Unable to create a unique sequence number for Lease Option record with 'L2, 0'(1139)"));
}

TEST_F(PmlDetailTest, RecurringChargesConverted) {
    const std::string report = Run(
        {"13N,L1,0,RENT,U100,Gross,1,2/1/2026", Charge("L1", "<DEFAULT>", {{"RCDMND", "2"}}),
         Charge("L1", "rent", {{"RCAMTT", "2"}, {"RCFORM", "RENTCALC"}}),
         Charge("L1", "CAM", {{"RCFORM", "RENTCALC"}, {"RCNDATE", ""}, {"RCLSDT", "6/1/2026"}, {"RCTDATE", "5/1/2026"}}),
         Charge("L1", "TAX", {{"RCAMTT", "2"}, {"RCFORM", "NOPE"}, {"RCNDATE", ""}}),
         Charge("L1", "WATER", {{"RCLSDT", "2/1/2026"}})},
        true);
    EXPECT_THAT(report, HasSubstr("Recurring charges must have a Frequency, one time recurring charges are no longer allowed(1158)"));
    EXPECT_TRUE(ReadCharge("<default>")) << report;
    EXPECT_EQ(GetNumber(H("PML"), kPmlRecurringCharge, "RCDMND"), 0);
    EXPECT_EQ(Count(report, "On demand type is not a convertible field, '2' was not converted(1159)"), 1)
        << report;
    ASSERT_TRUE(ReadCharge("RENT"));
    EXPECT_EQ(Pml(kPmlRecurringCharge, "RCADESC"), "Formula / month");
    EXPECT_EQ(Pml(kPmlRecurringCharge, "RCPROP"), "STRIP");
    ASSERT_TRUE(ReadCharge("CAM"));
    EXPECT_EQ(Pml(kPmlRecurringCharge, "RCFORM"), "");
    EXPECT_THAT(report, HasSubstr("Formula with 'RENTCALC' was not converted because Determine amount from is not "
                                  "'Formula (2)'(1151)"));
    ASSERT_TRUE(ReadCharge("TAX"));
    EXPECT_EQ(Pml(kPmlRecurringCharge, "RCFORM"), "NOPE");
    EXPECT_THAT(report, HasSubstr("Formula 'NOPE' does not yet exist, the field converted but the formula needs"));
    // The blank next date of TAX is noted; that of CAM, ended by its last date, is not.
    EXPECT_EQ(Count(report, "Next date is blank"), 1) << report;
    EXPECT_FALSE(ReadCharge("WATER"));
    EXPECT_THAT(report, HasSubstr("must be greater than last date"));
}

TEST_F(PmlDetailTest, RecurringChargesAndLogsExamined) {
    const std::string report =
        Run({LeaseLine("N1"), Charge("n1", "RENT"), Charge("N1", "WATER", {{"RCUNIT", "U9"}}), Log("N1", "RENT"),
             Charge("N1", "TAX", {{"RCAMTT", "2"}}), Log("N1", "TAX"), "15N,N1,0,RENT,U100,1/2/2026,125.00", Log("N9", "RENT")},
            false);
    EXPECT_THAT(report, HasSubstr("Property Unit 'STRIP, U9' does not yet exist(1111)"));
    EXPECT_EQ(Count(report, "does not use tables"), 1) << report;
    EXPECT_THAT(report, HasSubstr("Recurring charge record 'N1, TAX, U100' does not use tables to calculate charges(1164)"));
    EXPECT_THAT(report, HasSubstr("Recurring charge log records must have a Frequency"));
    EXPECT_THAT(report, HasSubstr("The Recurring charge record 'N9, 0, RENT, U100' does not yet exist(1163)"));
    EXPECT_EQ(Count(report, "(116"), 3) << report;  // the RENT log passed
}

// A log entry right after its charge, spelled otherwise, still takes the charge's spelling; one of
// a charge that does not use tables is refused.
TEST_F(PmlDetailTest, LogEntriesOfChargesJustWrittenConverted) {
    const std::string report = Run(
        {Charge("L1", "RENT"), Log("l1", "rent"), Charge("L1", "TAX", {{"RCAMTT", "2"}}), Log("L1", "TAX")}, true);
    EXPECT_THAT(report, HasSubstr("Recurring charge record 'L1, TAX, U100' does not use tables to calculate charges(1164)"));
    EXPECT_EQ(Count(report, "(116"), 1) << report;
    ASSERT_TRUE(First("PML", kPmlRecurringLog));
    EXPECT_EQ(Pml(kPmlRecurringLog, "RCLLEAS") + "/" + Pml(kPmlRecurringLog, "RCLCT"), "L1/RENT");
    EXPECT_NE(xio_rd_next(H("PML"), kPmlRecurringLog, 0, 0), XIO_OK);
}

TEST_F(PmlDetailTest, TenantsTheirRecordsAndSystemRecords) {
    Put("PMN", kPmnTenant, {{"TENANT", "NONAME"}});
    const std::string report = Run(
        {Line("T1", "PMN", kPmnTenant, {{"TENANT", "NEW1"}, {"TNAME", "New one"}, {"TBAL", "123.45"}, {"TTAXNAM", "Tax"}}, true),
         Line("T1B", "PMN", kPmnTenant, {{"TENANT", "NEW2"}, {"TNAME", "New two"}}, true),
         Line("T3", "PMN", kPmnTenantTA, {{"TATEN", "acme"}, {"TATYPE", "mailing"}}),
         Line("T3", "PMN", kPmnTenantTA, {{"TATEN", "NONAME"}, {"TATYPE", "Billing"}}),
         Line("T5", "PMN", kPmnTenantLease, {{"TENID", "BAKER"}, {"TLEASE", "l1"}, {"TDUM", "7"}}),
         Line("T5", "PMN", kPmnTenantLease, {{"TENID", "ACME"}, {"TLEASE", "L1"}, {"TDUM", "0"}}),
         Line("S7", "PMS", kPmsPorterWage, {{"PWID", "PW1"}}), Line("S3", "PMS", kPmsCorporation, {{"CORPID", "CORP2"}}),
         Line("S8", "PMS", kPmsSicCode, {{"SICCODE", "7011"}, {"SICDESC", "Hotels"}})},
        true);
    const uint16_t pmn = H("PMN");
    ASSERT_TRUE(ReadByKey(pmn, kPmnTenant, "TENANT", "NEW1")) << report;
    EXPECT_EQ(GetNumber(pmn, kPmnTenant, "TBAL"), 0);
    EXPECT_EQ(GetText(pmn, kPmnTenant, "TTAXNAM"), "Tax");
    EXPECT_THAT(report, HasSubstr("its value '123.45' was changed to zero(1103)"));
    ASSERT_TRUE(ReadByKey(pmn, kPmnTenant, "TENANT", "NEW2"));
    EXPECT_EQ(GetText(pmn, kPmnTenant, "TTAXNAM"), "New two");
    ASSERT_TRUE(First("PMN", kPmnTenantTA));
    EXPECT_EQ(GetText(pmn, kPmnTenantTA, "TADESC"), "Tenant ACME");
    EXPECT_EQ(GetText(pmn, kPmnTenantTA, "TATYPE"), "Mailing");
    EXPECT_THAT(report, HasSubstr("Description is required for Tenant 'NONAME'(1101)"));
    // The placeholder is a number: only one other than zero is noted, and it is stored as zero.
    EXPECT_EQ(Count(report, "Dummy is not being used"), 1) << report;
    EXPECT_THAT(report, HasSubstr("Dummy is not being used, its value '7' was not converted(1108)"));
    ASSERT_TRUE(ReadByKeys(pmn, kPmnTenantLease, {{"TENID", "BAKER"}, {"TLEASE", "L1"}, {"TLREV", "0"}}));
    EXPECT_EQ(GetNumber(pmn, kPmnTenantLease, "TDUM"), 0);
    EXPECT_THAT(report, HasSubstr("Index date is required for Porters' wage index ID 'PW1'(1101)"));
    EXPECT_THAT(report, HasSubstr("'CORP2'(1101)"));
    EXPECT_TRUE(ReadByKey(H("PMS"), kPmsSicCode, "SICCODE", "7011"));
}

TEST_F(PmlDetailTest, TenantOnlyEarlierInTheTextPassesExamineWithABlankDescription) {
    const std::string report =
        Run({Line("T1", "PMN", kPmnTenant, {{"TENANT", "NEW1"}, {"TNAME", "New one"}}, true),
             Line("T3", "PMN", kPmnTenantTA, {{"TATEN", "NEW1"}, {"TATYPE", "Billing"}}),
             Line("T5", "PMN", kPmnTenantLease, {{"TENID", "new1"}, {"TLEASE", "L1"}, {"TDUM", "3"}}),
             Line("T3", "PMN", kPmnTenantTA, {{"TATEN", "NEW9"}, {"TATYPE", "Billing"}})},
            false);
    EXPECT_EQ(Count(report, "(110"), 2) << report;  // 12451 and 12449 only
    EXPECT_THAT(report, HasSubstr("will not be converted(1109)"));
    EXPECT_THAT(report, HasSubstr("Tenant 'NEW9' does not yet exist(1105)"));
}

TEST_F(PmlDetailTest, ATenantLeaseLeavesItsTenantUnlocked) {
    xvPML converter;
    converter.LoadLists();
    Stage("PMN", kPmnTenantLease, {{"TENID", "ACME"}, {"TLEASE", "L1"}});
    xvl::xvlImpInfo info;
    std::string reason;
    convert::MessageList messages;
    ASSERT_TRUE(converter.ConvertTenantLease(H("PMN"), info, reason, messages, true, H("PML"))) << reason;
    uint16_t other = 0;
    ASSERT_EQ(xio_open_file(company.path() / "MASTER.PMN", 0, other), XIO_OK);
    xio_init_record(other, kPmnTenant);
    PutText(other, kPmnTenant, "TENANT", "ACME");
    EXPECT_EQ(xio_rd_record(other, kPmnTenant, 0, 1), XIO_OK);
    xio_unlock_record(other, kPmnTenant, 1);
    xio_cls_file(other);
}

}  // namespace
}  // namespace dz::pm::testing
