// The PM lease converter in process: the frame (files, dispatch, custom-list notes, key lists),
// the repeated system and charge-control records it drops, the lease record's rules, the unit
// lease links, and calculation methods and CPI indexes.
#include "pml_fixture.h"

#include "converters/pm/xvpml.h"

#include "convert/progress.h"
#include "platform/datafile/data_folder.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/company.h"
#include "platform/ui/framework.h"
#include "platform/ui/print.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace dz::pm::testing {

using namespace convert;
namespace {

// ---- Lease rules -------------------------------------------------------------------------------------------

TEST_F(PmlTest, LeaseRulesRejectInTheirOrder) {
    struct Case {
        std::map<std::string, std::string> fields;
        const char* expected;  // nullptr: accepted
    };
    const std::vector<Case> cases = {
        {{{"LPROP", "<blank>"}}, "Property is required for Lease, Revision 'L%(0)'(1101)"},
        {{{"LTENANT", "<blank>"}}, "Tenant is required for Lease, Revision"},
        {{{"LPROP", "NOPE"}, {"LTENANT", "NOPE"}}, "Property 'NOPE' does not yet exist(1110)"},
        {{{"LUNIT", "U999"}, {"LTENANT", "NOPE"}}, "Property Unit 'STRIP, U999' does not yet exist(1111)"},
        {{{"LTENANT", "NOPE"}}, "Tenant 'NOPE' does not yet exist(1105)"},
        {{{"LSTATUS", "4"}, {"LPHASE", "2"}}, "Status with 'Future Revision (4)' is not allowed for converted Leases"},
        {{{"LSTATUS", "2"}, {"LBTERM", "1"}},
         "Lease, Revision 'L%(0)' with Status 'Canceled (2)' cannot have its Being terminated field marked(1113)"},
        {{{"LSTATUS", "1"}, {"LBTERM", "1"}}, "with Status 'Future (1)' cannot"},
        {{{"LPHASE", "2"}}, "The Phase must be 'Original (1)' or blank to convert Leases (Lease 'L%') (1114)"},
        {{{"LINTT", "NOPE"}}, "Interest tenant 'NOPE' does not yet exist(1105)"},
        {{{"LCORP", "NOPE"}}, "The Corporation 'NOPE' was not found in the Corporation records(1143)"},
        {{{"LSIC", "9999"}}, "The SIC code '9999' was not found in the SIC code records(1143)"},
        {{{"LSTATUS", "5"}, {"LPHASE", "<blank>"}, {"LTERMR", "<blank>"}}, nullptr},
    };
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < cases.size(); ++i) lines.push_back(LeaseLine("L" + std::to_string(i), cases[i].fields));
    lines.push_back(LeaseLine("<blank>", {{"LPROP", "<blank>"}, {"LUNIT", "<blank>"}, {"LTENANT", "<blank>"},
                                          {"LSTATUS", "<blank>"}, {"LREV", "<blank>"}, {"LACTST", "<blank>"}}));
    const std::string report = Run(lines, true);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string lease = "L" + std::to_string(i);
        if (!cases[i].expected) {
            EXPECT_TRUE(ReadLease(lease)) << "case " << i + 1 << "\n" << report;
            continue;
        }
        EXPECT_FALSE(ReadLease(lease)) << "case " << i + 1;
        std::string expected = cases[i].expected;
        if (const auto at = expected.find('%'); at != std::string::npos) expected.replace(at, 1, std::to_string(i));
        EXPECT_NE(report.find(expected), std::string::npos) << "case " << i + 1 << ": " << expected << "\n" << report;
    }
    // A blank lease number never reaches the handler: the import refuses a blank key.
    EXPECT_EQ(Count(report, "Lease is part of the record's key and can't be blank"), 1) << report;
    EXPECT_EQ(Count(report, "is required for Lease"), 2) << report;
}

TEST_F(PmlTest, LeaseFieldsAreCorrectedAndNoted) {
    const std::string report =
        Run({LeaseLine("a100", {{"LREV", "2"}, {"LPROP", "strip"}, {"LUNIT", "u100"}, {"LTENANT", "acme"},
                                {"LNDATE", "3/1/2026"}, {"LTERMR", "3"}, {"LBAL", "1234.50"},
                                {"LSTART", "6/1/2026"}, {"LTERM", "1/1/2026"}, {"LBFBILL", "legal"},
                                {"LSTTYPE", "2"}, {"LREFT", "baker"}, {"LREFTA", "mailing"},
                                {"LPEDATE", "11/30/2026"}, {"LCORP", "corp1"}, {"LBUSCAT", "office"}}),
             LeaseLine("B1", {{"LSTATUS", "6"}, {"LNDATE", "3/1/2026"}, {"LTERMR", "3"}, {"LBFBILL", "Legal"},
                              {"LSTTYPE", "1"}})},
            true);
    ASSERT_TRUE(ReadLease("a100", 2)) << report;
    const uint16_t h = H("PML");
    EXPECT_EQ(GetText(h, 1, "LPROP"), "STRIP");
    EXPECT_EQ(GetText(h, 1, "LUNIT"), "U100");
    EXPECT_EQ(GetText(h, 1, "LTENANT"), "ACME");
    EXPECT_TRUE(IsUnsetDate(GetDate(h, 1, "LNDATE")));
    EXPECT_EQ(GetNumber(h, 1, "LTERMR"), 1);
    EXPECT_EQ(GetNumber(h, 1, "LBAL"), 0);
    EXPECT_EQ(GetText(h, 1, "LBFBILL"), "Legal");
    EXPECT_EQ(GetText(h, 1, "LINTT"), "ACME");
    EXPECT_EQ(GetText(h, 1, "LREFT"), "BAKER");
    EXPECT_EQ(GetText(h, 1, "LINTTA"), "Billing");
    EXPECT_EQ(GetText(h, 1, "LREFTA"), "Mailing");
    EXPECT_EQ(DateText(GetDate(h, 1, "LPEDATE")), "12/31/2026");
    EXPECT_EQ(GetText(h, 1, "LCORP"), "CORP1");
    EXPECT_EQ(GetText(h, 1, "LBUSCAT"), "Office");
    EXPECT_EQ(GetText(h, 1, "LLRCMB"), "A100(2)");  // keys are stored in upper case
    EXPECT_EQ(Count(report, "Notice date ' 3/01/2026' was not converted because Lease is not Being"), 1) << report;
    EXPECT_EQ(Count(report, "Termination Reason '3' was not converted"), 1) << report;
    EXPECT_EQ(Count(report, "Balance with '1234.50' for Lease, Revision 'A100(2)' was not converted"), 1) << report;
    EXPECT_EQ(Count(report, "The intended start date ' 6/01/2026' is past the intended end date ' 1/01/2026'"), 1);
    EXPECT_EQ(Count(report, "Period end date with '11/30/2026' was changed to '12/31/2026', the Property records date(1124)"), 1)
        << report;

    // A historical lease gets the mark and keeps its notice date and reason; a statement of open
    // items keeps no billing address.
    ASSERT_TRUE(ReadLease("B1")) << report;
    EXPECT_EQ(GetFlag(h, 1, "LBTERM"), 1);
    EXPECT_FALSE(IsUnsetDate(GetDate(h, 1, "LNDATE")));
    EXPECT_EQ(GetNumber(h, 1, "LTERMR"), 3);
    EXPECT_EQ(GetText(h, 1, "LBFBILL"), "");
    EXPECT_EQ(Count(report, "Bal fwd billing address 'Legal' was not converted, Statement type is not 'Balance forward (2)'(1122)"), 1)
        << report;
}

TEST_F(PmlTest, ATenantEarlierInTheFilePassesAndOneLaterIsRejectedInBothModes) {
    const std::vector<std::string> lines = {Line("T1", "PMN", kPmnTenant, {{"TENANT", "NEW1"}, {"TNAME", "New one"}}, true),
                                            LeaseLine("E1", {{"LTENANT", "NEW1"}}),
                                            LeaseLine("E2", {{"LTENANT", "NEW2"}}),
                                            Line("T1", "PMN", kPmnTenant, {{"TENANT", "NEW2"}, {"TNAME", "New two"}}, true)};
    const std::string examined = Run(lines, false);
    EXPECT_EQ(Count(examined, "Tenant 'NEW1' does not yet exist"), 0) << examined;
    EXPECT_EQ(Count(examined, "Tenant 'NEW2' does not yet exist"), 1) << examined;
    EXPECT_FALSE(ReadLease("E1"));  // Examine Files writes nothing
    const std::string converted = Run(lines, true);
    EXPECT_TRUE(ReadLease("E1")) << converted;
    EXPECT_FALSE(ReadLease("E2"));
    EXPECT_EQ(Count(converted, "Tenant 'NEW2' does not yet exist"), 1) << converted;
}

// ---- Unit lease links ----------------------------------------------------------------------------------------

TEST_F(PmlTest, LeasesLinkTheirUnitsAndTheLatestInEffectBecomesCurrent) {
    Tenant("OLD");
    Put("PML", 1, {{"LEASE", "OLD"}, {"LREV", "0"}, {"LPROP", "STRIP"}, {"LUNIT", "U300"}, {"LTENANT", "OLD"},
                   {"LSTATUS", "3"}, {"LACTST", "6/1/2025"}});
    Put("PMP", kPmpUnit, {{"UPROP", "STRIP"}, {"UNIT", "U300"}, {"UCURLES", "OLD"}, {"UCURREV", "0"}, {"UCURTEN", "OLD"}});
    const std::string report = Run({LeaseLine("C2", {{"LSTATUS", "2"}}),
                                    LeaseLine("F1", {{"LSTATUS", "1"}, {"LTENANT", "BAKER"}}),
                                    LeaseLine("N3", {{"LTENANT", "BAKER"}}),
                                    LeaseLine("EARLY", {{"LUNIT", "U300"}, {"LACTST", "1/1/2025"}}),
                                    LeaseLine("LATE", {{"LUNIT", "U300"}, {"LACTST", "1/1/2026"}}),
                                    LeaseLine("SAME", {{"LUNIT", "U300"}, {"LACTST", "1/1/2026"}, {"LTENANT", "BAKER"}})},
                                   true);
    EXPECT_FALSE(ReadLink("U100", "C2")) << report;
    EXPECT_TRUE(ReadLink("U100", "F1"));
    EXPECT_TRUE(ReadLink("U100", "N3"));
    EXPECT_EQ(CurrentLease("U100"), "N3/BAKER");  // a future lease leaves the unit alone
    EXPECT_TRUE(ReadLink("U300", "EARLY"));
    // EARLY starts before the current OLD; LATE after it; SAME on the day LATE starts.
    EXPECT_EQ(CurrentLease("U300"), "LATE/ACME");
}

TEST_F(PmlTest, ADepositLinksItsOwnUnitUnlessItsLeaseIsCanceledOrMissing) {
    Put("PMP", 7, {{"PDPROP", "STRIP"}, {"PDDTYPE", "Security"}});
    const std::string report =
        Run({LeaseLine("D1"), LeaseLine("D2", {{"LSTATUS", "2"}}),
             Line("3", "PML", kPmlDeposit, {{"LDLEASE", "D1"}, {"LDREV", "0"}, {"LDUNIT", "U200"}, {"LDDTYPE", "Security"}}),
             Line("3", "PML", kPmlDeposit, {{"LDLEASE", "D2"}, {"LDREV", "0"}, {"LDUNIT", "U200"}, {"LDDTYPE", "Security"}}),
             Line("13", "PML", kPmlRecurringCharge, {{"RCLEASE", "ZZ"}, {"RCREV", "0"}, {"RCUNIT", "U200"}})},
            true);
    EXPECT_TRUE(ReadLink("U200", "D1")) << report;
    EXPECT_FALSE(ReadLink("U200", "D2"));
    EXPECT_FALSE(ReadLink("U200", "ZZ"));
    EXPECT_EQ(CurrentLease("U200"), "/");  // a deposit never makes a lease current
}

TEST_F(PmlTest, ChildRecordsOfOneLeaseLinkEachOfItsRevisionsAndUnitsOnce) {
    Put("PMP", 7, {{"PDPROP", "STRIP"}, {"PDDTYPE", "Security"}});
    auto deposit = [&](const char* revision, const char* unit) {
        return Line("3", "PML", kPmlDeposit,
                    {{"LDLEASE", "M1"}, {"LDREV", revision}, {"LDUNIT", unit}, {"LDDTYPE", "Security"}});
    };
    // The lease's own unit again, another unit twice, then the next revision on both.
    const std::string report = Run({LeaseLine("M1"), deposit("0", "U100"), deposit("0", "U200"),
                                    deposit("0", "U200"), LeaseLine("M1", {{"LREV", "1"}}), deposit("1", "U200")},
                                   true);
    EXPECT_TRUE(ReadLink("U100", "M1")) << report;
    EXPECT_TRUE(ReadLink("U200", "M1"));
    EXPECT_TRUE(ReadLink("U100", "M1", 1));
    EXPECT_TRUE(ReadLink("U200", "M1", 1));
}

// ---- Duplicates -------------------------------------------------------------------------------------------

TEST_F(PmlTest, RepeatedSystemRecordsAreDroppedWithOneNotePerKind) {
    Put("PMS", kPmsCpiIndex, {{"CPIID", "CPIU"}, {"CPIDATE", "1/31/2026"}});
    ChargeType("RENT");
    ChargeType("CAM");
    for (const char* ct : {"RENT", "CAM"}) Put("PMP", 5, {{"PCPROP", "STRIP"}, {"PCCT", ct}, {"PCGLPFX", "11233"}});
    const std::map<std::string, std::string> control = {{"LCLEASE", "K1"}, {"LCREV", "0"}, {"LCCT", "RENT"},
                                                        {"LCPMTOR", "1"}};
    auto cam = control;
    cam["LCCT"] = "CAM";
    const std::vector<std::string> lines = {
        Line("S8", "PMS", kPmsSicCode, {{"SICCODE", "7000"}, {"SICDESC", "Hotels"}}),
        Line("S8", "PMS", kPmsSicCode, {{"SICCODE", "7000"}, {"SICDESC", "Hotels"}}),
        Line("S6", "PMS", kPmsCpiIndex, {{"CPIID", "CPIU"}, {"CPIDATE", "1/31/2026"}}),
        LeaseLine("K1"),
        Line("10", "PML", kPmlChargeControl, control),
        Line("10", "PML", kPmlChargeControl, control),
        Line("10", "PML", kPmlChargeControl, control),
        Line("10", "PML", kPmlChargeControl, cam),
    };
    for (const bool converting : {false, true}) {
        const std::string report = Run(lines, converting);
        SCOPED_TRACE(converting ? "Convert" : "Examine");
        EXPECT_EQ(Count(report, "Note: duplicate SIC code records like '7000' were intentionally ignored(1194)"), 1)
            << report;
        EXPECT_EQ(Count(report, "Note: duplicate CPI records like 'CPIU,  1/31/2026' were intentionally ignored(1106)"), 1)
            << report;
        EXPECT_EQ(Count(report, "Note: duplicate Charge control records like 'K1, 0, RENT' were intentionally"), 1)
            << report;
        EXPECT_EQ(Count(report, "Porter wage"), 0);
        // SIC before CPI before charge control.
        EXPECT_LT(report.find("SIC code records like"), report.find("CPI records like"));
        EXPECT_LT(report.find("CPI records like"), report.find("Charge control records like"));
    }
    // The dropped records are not counted: RENT and CAM kept, and the lease's "<default>" one.
    const uint16_t pml = H("PML");
    xio_init_record(pml, kPmlChargeControl);
    int controls = 0;
    for (int s = xio_rd_ge(pml, kPmlChargeControl, 0, 0); s == XIO_OK; s = xio_rd_next(pml, kPmlChargeControl, 0, 0))
        ++controls;
    EXPECT_EQ(controls, 3);
}

// ---- Calculation methods and CPI indexes ----------------------------------------------------------------------

TEST_F(PmlTest, CalculationMethodsAndCpiIndexesNeedTheirKeysAndAKnownDesign) {
    const std::string report =
        Run({Line("S5", "PMS", kPmsCalcMethod, {{"CMID", "M1"}}),
             Line("S5", "PMS", kPmsCalcMethod, {{"CMID", "M2"}, {"CMINVD", "cpi letter"}}),
             Line("S5", "PMS", kPmsCalcMethod, {{"CMID", "M3"}, {"CMINVD", "No Such"}}),
             Line("S5", "PMS", kPmsCalcMethod, {{"CMDESC", "none"}}),
             Line("S6", "PMS", kPmsCpiIndex, {{"CPIID", "CPIW"}}),
             Line("S6", "PMS", kPmsCpiIndex, {{"CPIDATE", "1/31/2026"}}),
             Line("S6", "PMS", kPmsCpiIndex, {{"CPIID", "CPIW"}, {"CPIDATE", "1/31/2026"}})},
            true);
    EXPECT_EQ(Count(report, "Report design 'No Such' does not exist(1102)"), 1) << report;
    EXPECT_EQ(Count(report, "Index date is required for CPI index ID 'CPIW'(1101)"), 1) << report;
    // Blank keys are refused by the import before the handlers.
    EXPECT_EQ(Count(report, "is part of the record's key and can't be blank"), 2) << report;
    EXPECT_EQ(Count(report, "Report design"), 1) << report;  // blank and known designs pass
}

// ---- The frame -------------------------------------------------------------------------------------------------

TEST_F(PmlTest, OtherFilesRecordsAndUnknownLinesAre12070) {
    const std::string report = Run({Line("P1", "PMP", 1, {{"PROP", "STRIP"}}), "X,anything"}, false);
    EXPECT_EQ(Count(report, "Record type 'Property' cannot be converted as part of a PML Lease, Tenant, and System "
                            "conversion(75)"),
              0);
    EXPECT_EQ(Count(report, "Record type 'P1' cannot be converted as part of a PML Lease, Tenant, and System conversion(75)"), 1)
        << report;
    EXPECT_EQ(Count(report, "Record type 'X' cannot be converted as part of a PML Lease, Tenant, and System conversion(75)"), 1)
        << report;
}

TEST_F(PmlTest, ListValuesMissingAreNotedAndKeyListsKeptInFileOrder) {
    xvPML converter;
    ChargeType("RENT");
    ChargeType("TAX");
    auto charge = [&](const char* type) {
        return Line("13", "PML", kPmlRecurringCharge,
                    {{"RCLEASE", "Q1"}, {"RCREV", "0"}, {"RCCT", type}, {"RCUNIT", "U100"}, {"RCSQFT", "Gross"},
                     {"RCFREQ", "3"}, {"RCAMTT", "1"}, {"RCNDATE", "2/1/2026"}});
    };
    const std::string report =
        Run(converter,
            {LeaseLine("Q1", {{"LBUSCAT", "Bakery"}}), charge("RENT"),
             Line("15", "PML", kPmlRecurringLog,
                  {{"RCLLEAS", "Q1"}, {"RCLREV", "0"}, {"RCLCT", "RENT"}, {"RCLUNIT", "U100"}, {"RCLEFDT", "1/1/2026"},
                   {"RCLFREQ", "3"}}),
             charge("TAX"), Line("T3", "PMN", kPmnTenantTA, {{"TATEN", "ACME"}, {"TATYPE", "Billing"}})},
            true);
    ASSERT_EQ(converter.m_leaseKeys.size(), 1u) << report;
    EXPECT_EQ(converter.m_leaseKeys[0].revision, "0");
    ASSERT_EQ(converter.m_recurringChargeKeys.size(), 3u);
    EXPECT_EQ(converter.m_recurringChargeKeys[0].chargeType, "RENT");
    EXPECT_EQ(converter.m_recurringChargeKeys[1].chargeType, "RENT");
    EXPECT_EQ(converter.m_recurringChargeKeys[2].chargeType, "TAX");
    EXPECT_TRUE(converter.m_examinedLeaseProperties.empty());
    // The business category missing from its list; a blank address type of a tenant address is noted.
    EXPECT_NE(report.find("Bakery"), std::string::npos) << report;
    EXPECT_TRUE(ReadLease("Q1"));

    xvPML examiner;
    Run(examiner, {LeaseLine("q2"), Line("S6", "PMS", kPmsCpiIndex, {{"CPIID", "cpiw"}, {"CPIDATE", "1/31/2026"}})},
        false);
    EXPECT_TRUE(examiner.m_leaseKeys.empty());
    ASSERT_EQ(examiner.m_examinedLeaseProperties.count("Q2"), 1u);
    EXPECT_EQ(examiner.m_examinedLeaseProperties.at("Q2"), "STRIP");
    EXPECT_EQ(examiner.m_examinedCpiIds.count("CPIW"), 1u);
}

// Texts kept past the table's growth are found by their exact spelling only, and are gone once cleared.
TEST(PmlFoundTexts, EveryTextKeptIsFoundThroughGrowthAndNoneAfterClearing) {
    FoundTexts<int> texts;
    EXPECT_EQ(texts.find("T1"), nullptr);
    for (int i = 0; i < 500; ++i) texts.emplace("T" + std::to_string(i), i);
    for (int i = 0; i < 500; ++i) {
        const int* value = texts.find("T" + std::to_string(i));
        ASSERT_NE(value, nullptr) << i;
        EXPECT_EQ(*value, i);
    }
    EXPECT_EQ(texts.find("t1"), nullptr);
    EXPECT_EQ(texts.find("T500"), nullptr);
    texts.clear();
    EXPECT_TRUE(texts.empty());
    EXPECT_EQ(texts.find("T1"), nullptr);
    texts.emplace("T1", 7);
    EXPECT_EQ(*texts.find("T1"), 7);
}

// A converter whose operator asks to stop after its second record.
// The leases an Examine Files run has met, whatever their order: each keeps its first property.
TEST(PmlExaminedLeases, EachLeaseKeepsItsFirstPropertyInAnyOrder) {
    xvPML::ExaminedLeaseProperties leases;
    for (const auto& [lease, property] : std::vector<std::pair<std::string, std::string>>{
             {"B", "P1"}, {"D", "P2"}, {"A", "P3"}, {"D", "P4"}, {"C", "P5"}, {"A", "P6"}, {"E", "P7"}, {"C", "P8"}})
        leases.Add(lease, property);
    std::string found;
    for (const char* lease : {"A", "B", "C", "D", "E", "F"})
        found += std::string(lease) + "=" + std::string(leases.Find(lease).value_or("-")) + " ";
    EXPECT_EQ(found, "A=P3 B=P1 C=P5 D=P2 E=P7 F=- ");
}

TEST_F(PmlTest, AStopMidFileRestoresTheFourWrittenFilesAndLeavesTheTextUnstamped) {
    ExpectStopRestores({Line("T1", "PMN", kPmnTenant, {{"TENANT", "NEW1"}, {"TNAME", "New one"}}, true),
                        LeaseLine("S1", {{"LTENANT", "NEW1"}}),
                        Line("S8", "PMS", kPmsSicCode, {{"SICCODE", "7000"}, {"SICDESC", "Hotels"}}), LeaseLine("S2")},
                       2);
    EXPECT_FALSE(ReadLease("S1"));
}

// A converter whose property file refuses the link of the second lease, as a full disk would.
class FailingLinks : public xvPML {
protected:
    bool UpdateUnitLeaseLinks(uint16_t pmp, uint16_t pml, uint16_t rec) override {
        const bool written = xvPML::UpdateUnitLeaseLinks(pmp, pml, rec);
        return ++calls_ < 2 && written;
    }
    int calls_ = 0;
};

TEST_F(PmlTest, ALinkThatCannotBeWrittenEndsTheFileWithEveryWrittenFileRestored) {
    for (auto& e : list)
        if (e.handle) {
            ASSERT_EQ(xio_commit(e.handle), XIO_OK);
        }
    const std::string pmp = ReadFile(company.path() / "MASTER.PMP"), pml = ReadFile(company.path() / "MASTER.PML");
    FailingLinks converter;
    const std::vector<std::string> lines = {LeaseLine("F1"), LeaseLine("F2", {{"LUNIT", "U200"}}), LeaseLine("F3")};
    const std::string report = Run(converter, lines, true);
    EXPECT_EQ(Count(report, "Unable to read from or write to a Halvorsend data file"), 1) << report;
    EXPECT_TRUE(ReadFile(lastText) == Text(lines));  // not stamped
    for (auto& e : list)
        if (e.handle) {
            ASSERT_EQ(xio_commit(e.handle), XIO_OK);
        }
    EXPECT_TRUE(ReadFile(company.path() / "MASTER.PMP") == pmp);
    EXPECT_TRUE(ReadFile(company.path() / "MASTER.PML") == pml);
    EXPECT_FALSE(ReadLease("F1"));
    EXPECT_FALSE(ReadLease("F3"));  // nothing read after the end
}

// A converter that loses the property file after the first record, before the operator stops:
// its handle goes bad (its writes can no longer be rolled back) and its backup copy is gone. The
// property file cannot be put back; the other three are.
class LosingThePropertyFile : public xvPML {
protected:
    void RecordWritten(convert::ConvertContext& ctx, xvl::xvlImpInfo& info) override {
        xvPML::RecordWritten(ctx, info);
        if (++seen_ != 1) return;
        for (const auto& backup : ctx.backups)
            if (fs::path(backup->SavedPath()).filename() == "MASTER.PMP") fs::remove(backup->CopyPath());
        for (auto& e : ctx.files)
            if (e.abbr == "PMP") {
                xio_cls_file(e.handle);
                e.handle = 0xFFF0;
            }
        if (ctx.progress) ctx.progress->stop = 1;
    }
    int seen_ = 0;
};

TEST_F(PmlTest, AFailedRestoreOfThePropertyFileIsReportedWhileTheOthersAreRestored) {
    for (auto& e : list)
        if (e.handle) {
            ASSERT_EQ(xio_commit(e.handle), XIO_OK);
        }
    std::map<std::string, std::string> before;
    for (const char* f : {"MASTER.PML", "MASTER.PMN", "MASTER.PMS"}) before[f] = ReadFile(company.path() / f);
    LosingThePropertyFile converter;
    const std::vector<std::string> lines = {Line("T1", "PMN", kPmnTenant, {{"TENANT", "NEW1"}}, true),
                                            LeaseLine("R1", {{"LTENANT", "NEW1"}}), LeaseLine("R2")};
    const std::string report = Run(converter, lines, true);
    EXPECT_EQ(Count(report, "Conversion canceled by operator"), 1) << report;
    EXPECT_EQ(Count(report, "unable to retore ZQ data file from backup, some records may have been converted"), 1)
        << report;
    EXPECT_EQ(Count(report, "the ZQ data file was not changed"), 0) << report;
    EXPECT_TRUE(ReadFile(lastText) == Text(lines));  // not stamped
    for (auto& e : list)
        if (e.handle) {
            ASSERT_EQ(xio_commit(e.handle), XIO_OK);
        }
    for (const auto& [f, bytes] : before) EXPECT_TRUE(ReadFile(company.path() / f) == bytes) << f;
}

// A converter on whose records the import holds a lock when the duplicate filter runs, as when
// it read the record on file for its replacement or for its user-defined fields; after a record
// is dropped, another handle tries to lock the record on file.
class LockingPml : public xvPML {
public:
    fs::path pms;
    bool forUserFields = false;
    std::vector<int> afterDrop;  // the other handle's read status, per dropped record

protected:
    bool CountRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, int status) override {
        const uint16_t file = info.FileNumUsed(), rec = info.ImportedRecs();
        const bool sic = file != 0 && file == convert::FindFileHandle(ctx.files, "PMS", 1) && rec == kPmsSicCode;
        const std::string code = sic ? GetText(file, rec, "SICCODE") : std::string();
        const bool locked = !code.empty() && xio_rd_record(file, rec, 0, 1) == XIO_OK;
        if (locked && forUserFields) info.SetUDRecordLocked(rec);
        if (locked && !forUserFields) info.SetReplaceRecord(true);
        const bool kept = xvPML::CountRecord(ctx, info, status);
        if (locked && !kept) {
            uint16_t other = 0;
            EXPECT_EQ(xio_open_file(pms, XIO_OPEN_READ_WRITE, other), XIO_OK);
            xio_init_record(other, rec);
            PutText(other, rec, "SICCODE", code);
            afterDrop.push_back(xio_rd_record(other, rec, 0, 1));
            xio_cls_file(other);
        }
        return kept;
    }
};

TEST_F(PmlTest, ADroppedDuplicateLeavesNoLock) {
    for (const bool forUserFields : {false, true}) {
        SCOPED_TRACE(forUserFields ? "user-defined fields" : "replacement");
        LockingPml converter;
        converter.pms = company.path() / "MASTER.PMS";
        converter.forUserFields = forUserFields;
        const std::string lease = forUserFields ? "L2" : "L1";
        const std::string report =
            Run(converter, {Line("S8", "PMS", kPmsSicCode, {{"SICCODE", "5812"}}), LeaseLine(lease)}, true);
        EXPECT_EQ(Count(report, "duplicate SIC code records like '5812' were intentionally ignored"), 1) << report;
        EXPECT_EQ(converter.afterDrop, (std::vector<int>{XIO_OK}));
        EXPECT_TRUE(ReadLease(lease));  // the file went on and was committed
    }
}

TEST_F(PmlTest, ABlankLeaseStagedDirectlyGivesOnlyTheRequiredMessage) {
    // The import refuses a blank key first; the handler still names the lease alone.
    xvPML converter;
    converter.LoadLists();
    const uint16_t pml = H("PML");
    xio_init_record(pml, kPmlLease);
    std::string reason;
    convert::MessageList messages;
    xvl::xvlImpInfo info;
    EXPECT_FALSE(converter.ConvertLease(pml, info, reason, messages, true, H("PMN"), H("PMP"), H("PMS")));
    EXPECT_EQ(reason, "Lease is required(1100)");
    EXPECT_TRUE(messages.empty());
}

TEST_F(PmlTest, GlNotInstalledRefusesTheFileWithAGlEntry) {
    auto settings = suite::default_settings({"PM"});
    suite::write_settings(company.path() / suite::kSettingsFileName, settings);
    suite::close_company();
    suite::open_company(company.path());
    xvPML converter;
    OpenFilesList files;
    uint16_t error = 0;
    EXPECT_FALSE(converter.OpenFiles(files, 3020, error));
    EXPECT_EQ(error, 9844);
    ASSERT_FALSE(files.empty());
    EXPECT_EQ(files.back().abbr, "GLM");
    EXPECT_EQ(files.back().fileNo, 1);  // the entry a GL master of the run would have
    EXPECT_EQ(converter.FailedOpen().abbr, "GLM");
    EXPECT_FALSE(converter.OpenFiles(files, 3020, error));
    EXPECT_EQ(files.size(), 1u);  // one entry, however often it is refused
}

}  // namespace
}  // namespace dz::pm::testing
