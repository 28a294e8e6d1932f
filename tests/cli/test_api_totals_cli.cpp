// The vendor totals rebuild of an AP invoice Convert that clears the paid totals first, through
// dodedoz-cli: invoices, checks, distributions and payments planted on file are summed into their
// vendors' year and 1099 totals by the AP year end, whatever became of the text file's own groups
// (here one group, rejected). Stale totals do not survive.
#include "sample_cli_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace dz::cli::testing;

// Year end 12/31/2025 for both years. ALDER's invoices fall in this, last and next year and two in
// none (one on the day that closes the year before last); BIRCH has none; CEDAR is paid by checks of
// this, last and next year, of the year before last, and by a check that is not on file; BEECH,
// invoiced and paid, is not on file at all. Every vendor starts with totals that the rebuild must
// clear.
const char* kOnFile =
    "@APM\n"
    "H2 YREND=2025-12-31 GYREND=2025-12-31\n"
    "R9 VENDOR=\"ALDER\" VNAME=\"Alder Supply\" VYTDAMT=99999 VTY1099=555 VYTDDO=77 VNYPD=12\n"
    "R9 VENDOR=\"BIRCH\" VNAME=\"Birch Roofing\" VLYAMT=4321 VLYDED=10 VNYMD=5\n"
    "R9 VENDOR=\"CEDAR\" VNAME=\"Cedar Electric\" VYTDGP=1 VLY1099=2\n"
    "R1 OIVND=\"ALDER\" OIINV=\"A-1\" OIAMT=10000 OIACTDT=2025-06-30\n"
    "R1 OIVND=\"ALDER\" OIINV=\"A-2\" OIAMT=20000 OIACTDT=2024-12-31\n"
    "R1 OIVND=\"ALDER\" OIINV=\"A-3\" OIAMT=40000 OIACTDT=2026-01-01\n"
    "R1 OIVND=\"ALDER\" OIINV=\"A-4\" OIAMT=80000 OIACTDT=2023-06-30\n"
    "R1 OIVND=\"ALDER\" OIINV=\"A-5\" OIAMT=160000 OIACTDT=2023-12-31\n"
    "R1 OIVND=\"BEECH\" OIINV=\"B-1\" OIAMT=999 OIACTDT=2025-06-30\n"
    "R6 PIVND=\"BEECH\" PIINV=\"B-1\" PIBANK=\"OPERATING\" PICHECK=101 PIDSEQ=1 PIGROSS=999 PIPDAMT=999\n"
    "R4 CBANK=\"OPERATING\" CHECK=101 CDATE=2025-06-30\n"
    "R4 CBANK=\"OPERATING\" CHECK=102 CDATE=2024-12-31\n"
    "R4 CBANK=\"OPERATING\" CHECK=103 CDATE=2026-01-01\n"
    "R4 CBANK=\"OPERATING\" CHECK=104 CDATE=2023-12-31\n"
    "R2 ODVND=\"CEDAR\" ODINV=\"C-1\" ODDSEQ=1 ODEXMPT=0\n"
    "R2 ODVND=\"CEDAR\" ODINV=\"C-1\" ODDSEQ=2 ODEXMPT=1\n"
    // Gross 100.00: discount 1.00, tax 2.00, deduction applied 3.00, deducted 0.50, paid 94.00.
    "R6 PIVND=\"CEDAR\" PIINV=\"C-1\" PIBANK=\"OPERATING\" PICHECK=101 PIDSEQ=1 PIGROSS=10000 PIDSCT=100 "
    "PITAXPD=200 PI63APL=300 PI128DD=50 PIPDAMT=9400\n"
    // The exempt distribution, this year: year totals only.
    "R6 PIVND=\"CEDAR\" PIINV=\"C-1\" PIBANK=\"OPERATING\" PICHECK=101 PIDSEQ=2 PIGROSS=1000 PIPDAMT=1000\n"
    "R6 PIVND=\"CEDAR\" PIINV=\"C-1\" PIBANK=\"OPERATING\" PICHECK=102 PIDSEQ=1 PIGROSS=2000 PIPDAMT=2000\n"
    "R6 PIVND=\"CEDAR\" PIINV=\"C-1\" PIBANK=\"OPERATING\" PICHECK=103 PIDSEQ=1 PIGROSS=4000 PIPDAMT=4000\n"
    "R6 PIVND=\"CEDAR\" PIINV=\"C-1\" PIBANK=\"OPERATING\" PICHECK=104 PIDSEQ=1 PIGROSS=8000 PIPDAMT=8000\n"
    "R6 PIVND=\"CEDAR\" PIINV=\"C-1\" PIBANK=\"OPERATING\" PICHECK=105 PIDSEQ=1 PIGROSS=16000 PIPDAMT=16000\n";

class ApiTotalsCli : public SampleCliTest {
protected:
    ApiTotalsCli() : SampleCliTest(fs::path(DZ_SOURCE_DATA_DIR) / "samples") {}

    void SetUp() override {
        SampleCliTest::SetUp();
        if (HasFatalFailure()) return;
        Spit(dir / "on-file.load", kOnFile);
        Load(dir / "on-file.load");
    }

    // Converts a file of one invoice group that is rejected (its vendor is not on file), clearing
    // the paid totals first; the vendors as the AP master then holds them.
    std::vector<std::map<std::string, std::string>> ConvertClearing(const std::string& name) {
        std::string report;
        const CliResult r = RunClearing(name, report);
        EXPECT_EQ(r.status, 1) << r.err << report;  // the group was rejected
        return DumpedRecords("APM", 9);
    }

    // The run of ConvertClearing, its standard error and report together in `out`.
    CliResult RunClearing(const std::string& name, std::string& out) {
        const std::string text = (dir / name).string();
        Spit(text, "#,API,xvapi\r\n1,NOBODY,N-1,,11/02/26,11/02/26,,,11/02/26,5.00,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,\r\n");
        std::string report, notes;
        const CliResult r = Run("convert", text, report, notes, {"--paid-totals", "1"});
        out = r.err + report;
        return r;
    }

    // The year and 1099 totals of `vendor` that are not 0, by name.
    static std::string Totals(const std::map<std::string, std::string>& vendor) {
        std::string out;
        for (const auto& [name, value] : vendor) {
            const bool total = name != "VTYPE" && (name.rfind("VTY", 0) == 0 || name.rfind("VLY", 0) == 0 ||
                                                   name.rfind("VNY", 0) == 0 || name.rfind("VYTD", 0) == 0);
            if (total && value != "0") out += (out.empty() ? "" : " ") + name + "=" + value;
        }
        return out;
    }
};

TEST_F(ApiTotalsCli, ClearingRunSumsInvoicesAndPaymentsOnFileByYear) {
    const auto vendors = ConvertClearing("first.txt");
    ASSERT_EQ(vendors.size(), 3u);
    // Invoiced this, last and next year; 06/30/2023 and 12/31/2023 count in no year. Every stale
    // total is gone.
    EXPECT_EQ(Totals(vendors[0]), "VLYAMT=20000 VNYAMT=40000 VYTDAMT=10000");
    EXPECT_EQ(Totals(vendors[1]), "");
    // Paid this year: the 1099 payment and the exempt one in the five paid totals (paid and
    // discount, discount taken, paid, deduction applied, gross), the 1099 payment alone in the
    // 1099 totals with its deduction applied inside (MD1099 1); then last and next year.
    EXPECT_EQ(Totals(vendors[2]),
              "VLY1099=2000 VLYGP=2000 VLYPA=2000 VLYPD=2000 VNY1099=4000 VNYGP=4000 VNYPA=4000 VNYPD=4000 "
              "VTY1099=9700 VTYDED=50 VYTDDT=100 VYTDGP=11000 VYTDMD=300 VYTDPA=10400 VYTDPD=10500");

    // Deductions out of the 1099 amount (MD1099 0): this year's 1099 amount loses the 3.00 applied.
    Spit(dir / "md.load", "@APM\nH2 MD1099=0\n");
    Load(dir / "md.load");
    const auto again = ConvertClearing("second.txt");
    ASSERT_EQ(again.size(), 3u);
    EXPECT_EQ(again[2].at("VTY1099"), "9400");
    EXPECT_EQ(again[2].at("VYTDGP"), "11000");

    // A 1099 year of its own, ending 06/30/2026: the checks of 06/30/2025 and 12/31/2024 fall in
    // the last 1099 year and the one of 01/01/2026 in this one; the AP years stay as they were.
    Spit(dir / "gy.load", "@APM\nH2 GYREND=2026-06-30\n");
    Load(dir / "gy.load");
    const auto third = ConvertClearing("third.txt");
    ASSERT_EQ(third.size(), 3u);
    auto total = [&](const char* name) { return third[2].count(name) ? third[2].at(name) : std::string("0"); };
    EXPECT_EQ(total("VTY1099"), "4000");
    EXPECT_EQ(total("VLY1099"), "11400");
    EXPECT_EQ(total("VLYDED"), "50");
    EXPECT_EQ(total("VNY1099"), "0");
    EXPECT_EQ(total("VYTDGP"), "11000");
}

// A vendor key that another program stored as a blob sorts apart from every text: a walk over the
// vendors that went on from it as read would come back to it for ever (a vendor without totals is
// not written back as text on the way). The run ends with a message instead, and the AP master is
// as it was.
TEST_F(ApiTotalsCli, AVendorKeyStoredAsAnotherKindEndsTheRunInsteadOfLooping) {
    const fs::path apm = company / "MASTER.APM";
    Spit(dir / "summary.load", "@APM\nR9 VENDOR=\"SUMMARY\" VNAME=\"Summary vendor\"\n");
    Load(dir / "summary.load");
    ASSERT_TRUE(Sql(apm, {"UPDATE r9 SET VENDOR = CAST(VENDOR AS BLOB) WHERE VENDOR = 'SUMMARY'"}));
    const std::string before = Slurp(apm);
    timeLimit = 60;
    std::string out;
    const CliResult r = RunClearing("blob.txt", out);
    EXPECT_EQ(r.status, 2) << out;
    EXPECT_THAT(out, ::testing::HasSubstr("Unable to read from or write to"));
    EXPECT_TRUE(Slurp(apm) == before);
}

// A last run number that cannot be raised (wrapped past 2^32, past its field's digits, not a
// whole number) ends the file with 12016 before any record: nothing is posted under a wrapped
// number, and LASTRUN stays as it was.
TEST_F(ApiTotalsCli, ARunNumberThatCannotBeRaisedIsRefused) {
    for (const std::string last : {"4294967297", "99999", "1.5"}) {
        ASSERT_TRUE(Sql(company / "MASTER.APM", {"UPDATE h1 SET LASTRUN = " + last}));
        std::string out;
        const CliResult r = RunClearing("run.txt", out);
        EXPECT_EQ(r.status, 2) << last;
        EXPECT_THAT(out, ::testing::HasSubstr("Unable to update Last batch, Last payment ID, or Run number")) << last;
        const std::string dump = Dump("APM");
        const std::size_t h1 = dump.find("H1 ");
        EXPECT_EQ(dump.substr(h1, dump.find('\n', h1) - h1), "H1 LASTPMT=0 LASTRUN=" + last);
    }
}

}  // namespace
