// The AP vendor conversion through dodedoz-cli on a fresh demo company that holds the GL sample
// (its chart and prefixes) and the AP sample's setup records (a use-tax group, standard phases and
// a category): the sample examined (nothing written) and converted (report, notes, reject file,
// the AP master), then the checks of each kind of record on small text files through templates of
// the tests' own, with AP settings, interfaces and the country changed per test.
//
// DZ_UPDATE_GOLDEN=1 in the environment rewrites every golden file these tests compare with.
#include "sample_cli_support.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace dz::cli::testing;

const fs::path kGolden = fs::path(DZ_TEST_DATA_DIR) / "apmcli";
const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples";

// The tests' template: narrow vendor formats for each group of checks, the prefix totals, the
// authorisations and the vendor notes; the version line is added per test.
const char* kTemplate = R"(format V
file APM 1
record 9
field VENDOR
field VNAME
field VGLEXP
field VJCPHS
field VJCCAT
field VTAXGRP
field VTAXCOL
field VICODE1
field VICODE2
field VDCODE
field VDSCPCT
field VDSCDAY
field VPMTDAY
field VDAYTYP
field VMDRATE
field VPPSRAT
field VHOLD
format T
file APM 1
record 9
field VENDOR
field VNAME
field VOAMT
field VYTDAMT
field VNYAMT
field VMDHELD
field VLYDT
field VNYDT
field VODSC
field VRETAIN
field VTYDED
format C
file APM 1
record 9
field VENDOR
field VNAME
field VFM1099
field VFEDID
field V1099
field VGROREV
field VGENPPS
field VENTITY
field VACN
field VDECLDT
field VPPSRAT
format P
file APM 1
record 9
field VENDOR
field VNAME
field VINCLD
field VPAMT
field VPRETP
field VPMDED
format 10
file APM 1
record 10
field FPREFIX
field FVENDOR
field FLEVEL
field FYTDDED
field FGROREV
format 12
file APM 1
record 12
field AUTH
field ADESC
format 11
file APM 1
record 11
field FNAME
format VN
file APM 1
record 9
notes
field VENDOR
special NOTE1 text
special NOTE2 text
)";

class ApmCli : public SampleCliTest {
protected:
    ApmCli() : SampleCliTest(kSamples) { companyName = "Northbridge Builders"; }

    void SetUp() override {
        SampleCliTest::SetUp();
        if (HasFatalFailure()) return;
        fs::copy_file(kSamples / "glm" / "demo-gl-master.txt", dir / "gl.txt");
        ASSERT_EQ(Cli({"convert", "--company", company.string(), (dir / "gl.txt").string()}).status, 1);
        Load(kSamples / "apm" / "setup-ap-references.load");
        Spit(dir / "t.tpl", kTemplate);
    }

    void LoadText(const std::string& lines) {
        Spit(dir / "more.load", lines);
        Load(dir / "more.load");
    }
    // Rewrites a part of company.toml (interfaces, countries, the account format).
    void EditCompany(const std::string& from, const std::string& to) {
        const std::string before = Slurp(company / "company.toml");
        const std::string after = ReplaceAll(before, from, to);
        ASSERT_NE(before, after) << "company.toml has no " << from;
        Spit(company / "company.toml", after);
    }

    // Examines or converts `text`; the report and notes joined by a form feed.
    std::string Run(const std::string& command, const fs::path& text, int* status = nullptr) {
        std::string report, notes;
        last = SampleCliTest::Run(command, text.string(), report, notes);
        if (status) *status = last.status;
        return notes.empty() ? report : report + "\f" + notes;
    }
    // `lines` in a text file of the tests' template (with `version` when given).
    std::string RunLines(const std::string& command, const std::string& lines, const std::string& version = "") {
        const fs::path tpl = dir / ("t" + std::to_string(++files) + ".tpl");
        Spit(tpl, (version.empty() ? "" : "version \"" + version + "\"\n") + kTemplate);
        const fs::path text = dir / (command + "-" + std::to_string(files) + ".txt");
        Spit(text, "#,APM," + tpl.string() + "\n" + lines);
        return Run(command, text);
    }

    std::string Dump() { return SampleCliTest::Dump("APM"); }
    // The dump line that starts with `start` ("R9 VENDOR=\"V1\"").
    std::string Record(const std::string& start) {
        const std::string d = Dump();
        const std::size_t at = d.find(start);
        if (at == std::string::npos) return {};
        return d.substr(at, d.find('\n', at) - at);
    }

    CliResult last;
    int files = 0;
};

#define EXPECT_HAS(text, part) EXPECT_NE((text).find(part), std::string::npos) << (text)
#define EXPECT_LACKS(text, part) EXPECT_EQ((text).find(part), std::string::npos) << (text)

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// ---- The sample ----------------------------------------------------------------------------------

class ApmSample : public ApmCli {
protected:
    void SetUp() override {
        ApmCli::SetUp();
        fs::copy_file(kSamples / "apm" / "demo-vendors.txt", dir / "demo-vendors.txt");
        text = dir / "demo-vendors.txt";
    }
    fs::path text;
};

TEST_F(ApmSample, ExamineReportsWhatWouldHappenAndWritesNothing) {
    const auto before = Files(dir);
    const std::string dumped = Dump();
    int status = 0;
    ExpectGolden(Run("examine", text, &status), kGolden / "sample_examine.txt");
    EXPECT_EQ(status, 1) << last.err;
    EXPECT_EQ(Dump(), dumped);
    EXPECT_EQ(Files(dir), before);  // every data file and the text file byte for byte
}

TEST_F(ApmSample, ConvertWritesTheVendorsTheirNotesTotalsAndAuthorisations) {
    int status = 0;
    ExpectGolden(Run("convert", text, &status), kGolden / "sample_convert.txt");
    EXPECT_EQ(status, 1) << last.err;
    ExpectGolden(Slurp(dir / "RejAPM.txt"), kGolden / "sample_reject.txt");
    const std::string dump = Dump();
    ExpectGolden(dump, kGolden / "sample_dump.txt");
    // Debit accounts are stored without separators, base or whole by their length.
    EXPECT_HAS(dump, "VENDOR=\"HARBORLUM\" VNAME=\"Harbor Lumber Yard\"");
    EXPECT_HAS(Record("R9 VENDOR=\"HARBORLUM\""), " VGLEXP=\"01110510000\" ");
    EXPECT_HAS(Record("R9 VENDOR=\"BAYCONC\""), " VGLEXP=\"500000\" ");
    EXPECT_HAS(Record("R10 FPREFIX=\"011\""), " FGLA=\"01\" FGLAB=\"011\" ");
    EXPECT_LACKS(dump, "NONAME");
    EXPECT_HAS(Slurp(text), "#,\"Previously Converted\",\"by Ann Lee\"");
}

// ---- Totals --------------------------------------------------------------------------------------

TEST_F(ApmCli, TotalsAreClearedWithOneMessagePerKindUnlessTheTemplateAllowsThem) {
    // VOAMT, VYTDAMT, VNYAMT: one outstanding message naming the first, one next-year message.
    const std::string lines = "T,T1,Totals,10.00,20.00,30.00,,,,,,\n";
    std::string report = RunLines("convert", lines);
    EXPECT_EQ(Count(report, "(676)"), 1u);
    EXPECT_HAS(report, "Outstanding amounts cannot be converted (i.e. Open amount with '10.00')(676)");
    EXPECT_HAS(report, "Next year totals cannot be converted (i.e. Invoiced next year with '30.00')(677)");
    EXPECT_EQ(Count(report, "(677)"), 1u);
    EXPECT_HAS(Record("R9 VENDOR=\"T1\""), " VOAMT=0 ");
    EXPECT_HAS(Record("R9 VENDOR=\"T1\""), " VYTDAMT=0 ");
    EXPECT_HAS(Record("R9 VENDOR=\"T1\""), " VNYAMT=0 ");

    // Totals go before the settings: an unapplied deduction is a total, not a deduction setting.
    LoadText("@APM\nH2 MDLVL=1 DSCLVL=1\n");
    report = RunLines("examine", "T,T2,Held,,,,5.00,,,,,\n");
    EXPECT_HAS(report, "Outstanding amounts cannot be converted (i.e. Unapplied deduction with '5.00')(676)");
    EXPECT_LACKS(report, "(631)");

    // "ALLOW TOTALS" keeps them; the discount setting then lists the last- and next-year taken.
    report = RunLines("convert", "T,T3,Kept,10.00,20.00,30.00,,4.00,6.00,,,\n", "ALLOW TOTALS");
    EXPECT_LACKS(report, "(676)");
    EXPECT_LACKS(report, "(677)");
    EXPECT_HAS(report, "Discounts not being used, yearly discounts taken has changed from 4.00 and 6.00 to zero(634)");
    const std::string kept = Record("R9 VENDOR=\"T3\"");
    EXPECT_HAS(kept, " VOAMT=1000 ");
    EXPECT_HAS(kept, " VNYAMT=3000 ");
    // Only the exact letter case counts.
    report = RunLines("examine", "T,T4,Lower,10.00,,,,,,,,\n", "allow totals");
    EXPECT_HAS(report, "(i.e. Open amount with '10.00')(676)");
}

// ---- The AP settings -----------------------------------------------------------------------------

TEST_F(ApmCli, EverySettingRowClearsItsFieldsInBothModes) {
    LoadText("@APM\nH2 DSCLVL=1 PMTDTU=1 MDLVL=1 TAXUSE=1 USEICD1=0 USEICD2=0 DCCODE1=0 DCRET2=0 MD2USE=0\n");
    const std::string v = "V,S1,Settings,,,,MEUSE,2,IC1,IC2,DC,2.500,10,15,2,1.250,3.000,\n";
    const std::string t = "T,S2,Settings,,,,,,,,,12.00\n";  // VTYDED is no running total
    const std::string examined = RunLines("examine", v + t, "ALLOW TOTALS");
    for (const char* m : {
             "Discounts not being used, discount percent will change from 2.500 to zero(605)",
             "Discounts not being used, discount days will change from 10 to zero(607)",
             "Payment dates not being used, payment days will change from 15 to zero(609)",
             "Payment dates not being used, payment days type 'Day of month (2)' will not be converted(611)",
             "Deduction not being used, Deduction percent will change from 1.250 to zero(614)",
             "Tax use is not set at 'actual & tax liab', prefilled tax column 'Tax liability (2)' will not be "
             "converted(618)",
             "Tax Use not being tracked, tax group 'MEUSE' will not be converted(655)",
             "Invoice code 1 is not being used, its value 'IC1' will not be converted(620)",
             "Invoice code 2 is not being used, its value 'IC2' will not be converted(620)",
             "Distribution code is not being used, its value 'DC' will not be converted(622)",
             "Use PPS not marked in AP settings, PPS rate with '3.000' will be cleared(616)",
             "Use PPS not marked in AP settings, PPS amt ded this yr with '12.00' will be cleared(616)",
         })
        EXPECT_HAS(examined, m);
    EXPECT_LACKS(examined, "not set up in TX");  // the group was cleared before its look-up

    const std::string converted = RunLines("convert", v + "T,S3,Held,,,,1.00,,,2.00,3.00,\n", "ALLOW TOTALS");
    EXPECT_HAS(converted, "Discounts not being used, discount percent has changed from 2.500 to zero(604)");
    EXPECT_HAS(converted, "payment days type 'Day of month (2)' was not converted(610)");
    EXPECT_HAS(converted, "Deduction not being used, Unapplied has changed from 1.00 to zero(630)");
    EXPECT_HAS(converted, "Discounts not being used, available disc has changed from 2.00 to zero(626)");
    EXPECT_HAS(converted, "Retainage not being used, Amt held has changed from 3.00 to zero(628)");
    const std::string s1 = Record("R9 VENDOR=\"S1\"");
    for (const char* cleared : {" VTAXGRP=\"\" VTAXCOL=1 VICODE1=\"\" VICODE2=\"\" VDCODE=\"\" VDSCPCT=0 VDSCDAY=0 "
                                "VPMTDAY=0 VDAYTYP=1 VMDRATE=0 VPPSRAT=0 "})
        EXPECT_HAS(s1, cleared);
}

TEST_F(ApmCli, ADayOfMonthAboveThirtyOneIsRejectedInBothModes) {
    const std::string lines = "V,D1,Day 31,,,,,,,,,,,31,2,,,\nV,D2,Day 32,,,,,,,,,,,32,2,,,\nV,D3,After 45,,,,,,,,,,,45,1,,,\n";
    for (const char* command : {"examine", "convert"}) {
        const std::string report = RunLines(command, lines);
        EXPECT_HAS(report, "Payment days must be less than 32 when Payment days type is 'Day of month', 32 days is "
                           "invalid(612)");
        EXPECT_EQ(Count(report, "(612)"), 1u) << command;
    }
    EXPECT_NE(Record("R9 VENDOR=\"D1\""), "");
    EXPECT_EQ(Record("R9 VENDOR=\"D2\""), "");
    EXPECT_NE(Record("R9 VENDOR=\"D3\""), "");
}

// ---- References, interfaces and countries --------------------------------------------------------

TEST_F(ApmCli, ReferencesAreLookedUpAndInvalidDebitAccountsRejected) {
    const std::string report = RunLines("convert",
                                        "V,R1,Base,5100-00,09-001.00,SUB,MEUSE,,,,,,,,,,,\n"
                                        "V,R2,Missing,7777-00,09-009.00,XYZ,NOTAX,,,,,,,,,,,\n"
                                        "V,R3,Whole missing,01-1-10-7777-00,,,,,,,,,,,,,,\n"
                                        "V,R4,Invalid,12-34,,,,,,,,,,,,,,\n"
                                        "V,R5,Again,,09-009.00,,,,,,,,,,,,,\n");
    EXPECT_HAS(report, "Debit account - 7777-00 - not found in GL base accounts, may be invalid(645)");
    EXPECT_HAS(report, "Debit account - 01-1-10-7777-00 - not found in GL accounts, may be invalid(644)");
    EXPECT_HAS(report, "Standard Phase - 09-009.00 - not set up in JC, may be invalid(648)");
    EXPECT_EQ(Count(report, "(648)"), 2u);  // the answer kept for the next vendor is the same
    EXPECT_HAS(report, "Standard Category 'XYZ' not set up in JC, may be invalid(653)");
    EXPECT_HAS(report, "Vendor tax group - 'NOTAX' - not set up in TX, may be invalid(656)");
    EXPECT_HAS(report, "Invalid debit account - ");
    EXPECT_EQ(Count(report, "(643)"), 1u);
    EXPECT_LACKS(report, "'R1'");  // every reference of R1 exists
    EXPECT_HAS(Record("R9 VENDOR=\"R1\""), " VGLEXP=\"510000\" VJCPHS=\"0900100\" VJCCAT=\"SUB\" ");
    EXPECT_EQ(Record("R9 VENDOR=\"R4\""), "");
}

TEST_F(ApmCli, WithoutInterfacesTheReferencesAreClearedAndTheMastersNotLookedFor) {
    EditCompany("from = \"AP\"\nto = \"GL\"\nactive = true", "from = \"AP\"\nto = \"GL\"\nactive = false");
    EditCompany("from = \"AP\"\nto = \"JC\"\nactive = true", "from = \"AP\"\nto = \"JC\"\nactive = false");
    fs::remove(company / "MASTER.GLM");
    fs::remove(company / "MASTER.JCM");
    fs::remove(company / "MASTER.TXM");
    const std::string report = RunLines("examine", "V,I1,No links,5100-00,09-001.00,SUB,MEUSE,,,,,,,,,,,\n");
    EXPECT_HAS(report, "Not interfacing with GL, debit account ");
    EXPECT_HAS(report, "(642)");
    EXPECT_HAS(report, "Not interfacing with JC, Phase 09-001.00 will not be converted(647)");
    EXPECT_HAS(report, "Not interfacing with JC, category 'SUB' will not be converted(650)");
    EXPECT_LACKS(report, "(600)");
    EXPECT_LACKS(report, "(601)");
    EXPECT_HAS(report, "Unable to open TX master file, tax groups are not being verified for existence(602)");
    EXPECT_LACKS(report, "(656)");
}

TEST_F(ApmCli, MissingMastersAreNotedOnceAndTheirChecksSkipped) {
    fs::remove(company / "MASTER.GLM");
    fs::remove(company / "MASTER.JCM");
    const std::string report = RunLines("examine", "V,M1,Masters,7777-00,09-009.00,XYZ,,,,,,,,,,,,\n"
                                                   "V,M2,Invalid,12-34,,,,,,,,,,,,,,\n");
    EXPECT_EQ(Count(report, "Unable to open GL master file, debit accounts and prefixes are not being verified for "
                            "existence(600)"),
              1u);
    EXPECT_EQ(Count(report, "Unable to open JC master file, Phases and categories are not being verified for "
                            "existence(601)"),
              1u);
    EXPECT_LACKS(report, "(645)");
    EXPECT_LACKS(report, "(648)");
    EXPECT_HAS(report, "(643)");  // the account format still judges the account
}

TEST_F(ApmCli, JcWithoutCategoriesClearsTheCategory) {
    LoadText("@JCM\nH2 CCATUSG=2\n");
    const std::string report = RunLines("convert", "V,J1,Categories,,,SUB,,,,,,,,,,,,\n");
    EXPECT_HAS(report, "JC is not using categories, category 'SUB' was not converted(651)");
    EXPECT_HAS(Record("R9 VENDOR=\"J1\""), " VJCCAT=\"\" ");
}

TEST_F(ApmCli, CountriesClearTheFieldsOfOtherCountries) {
    const std::string lines = "C,K1,Both,Y,12-3456789,2,50.00,Y,2,ACN1,01/15/2026,2.000\n";
    // USA: the Australian fields go, with one message naming the first; the rate goes by MD2USE.
    std::string report = RunLines("examine", lines);
    EXPECT_EQ(Count(report, "(699)"), 1u);
    EXPECT_HAS(report, "Australian fields have values (i.e. Generate payment summary with 'YES'), these will not be "
                       "converted(699)");
    EXPECT_LACKS(report, "(1732)");

    // Australia: the USA and Canadian fields go; the withholding rate stays.
    EditCompany("AP = 1", "AP = 61");
    LoadText("@APM\nH2 MD2USE=0\n");
    report = RunLines("convert", lines);
    EXPECT_HAS(report, "USA and Canadian fields have values (i.e. Receives form 1099 with 'YES'), these were not "
                       "converted(1731)");
    EXPECT_LACKS(report, "(625)");
    EXPECT_LACKS(report, "(615)");
    const std::string k1 = Record("R9 VENDOR=\"K1\"");
    EXPECT_HAS(k1, " VPPSRAT=2000 ");
    EXPECT_HAS(k1, " VFM1099=0 VFEDID=\"\" VTIDNAM=\"\" VSCNTIN=0 V1099=1 VPRATTY=0 VGROREV=0 VGENPPS=1 VENTITY=2 "
                   "VACN=\"ACN1\" ");

    // Unknown: the Australian fields only.
    EditCompany("AP = 61", "AP = 0");
    report = RunLines("examine", "C,K2,Unknown,Y,12-3456789,,,,,ACN2,,\n");
    EXPECT_HAS(report, "(i.e. Australian comp number with 'ACN2')");
    EXPECT_LACKS(report, "(1732)");
}

TEST_F(ApmCli, OnHoldAndPaymentsAreCleared) {
    const std::string report = RunLines("convert", "V,H1,Held,,,,,,,,,,,,,,,2\n"
                                                   "P,H2,Paying,,10.00,2.00,3.00\n"
                                                   "V,H3,Held too,,,,,,,,,,,,,,,1\n"
                                                   "V,H4,Not held,,,,,,,,,,,,,,,0\n");
    EXPECT_HAS(report, "On hold cannot have a value (On-hold status with '2'), this was not converted(640)");
    EXPECT_HAS(report, "On hold cannot have a value (On-hold status with '1'), this was not converted(640)");
    EXPECT_EQ(Count(report, "On hold cannot"), 2u);
    EXPECT_HAS(report, "Payments fields cannot have values (i.e. Pmt Amount with '10.00'), these were not "
                       "converted(640)");
    EXPECT_EQ(Count(report, "Payments fields"), 1u);
    for (const char* held : {"H1", "H3", "H4"})
        EXPECT_HAS(Record(std::string("R9 VENDOR=\"") + held + "\""), " VHOLD=0 ");
    EXPECT_HAS(Record("R9 VENDOR=\"H2\""), " VINCLD=0 VPAMT=0 VPRETP=0 VPDSC=0 VPRETH=0 VPMDED=0 ");
}

// ---- Prefix totals and authorisations ------------------------------------------------------------

TEST_F(ApmCli, PrefixTotalsNeedTheirVendorOnFileOrEarlier) {
    const std::string lines = "10,01,PV2,2,,\n"          // before its vendor: 660
                              "V,PV2,Vendor,,,,,,,,,,,,,,,\n"
                              "10,01,PV2,2,,\n"          // after it
                              "V,PV3,,,,,,,,,,,,,,,,\n"  // rejected (603)
                              "10,01,PV3,2,,\n";         // so not set up: 660
    for (const char* command : {"examine", "convert"}) {
        const std::string report = RunLines(command, lines);
        EXPECT_EQ(Count(report, "The vendor 'PV2' has not been set up, this prefix total record cannot be "
                                "converted(660)"),
                  1u)
            << command;
        EXPECT_HAS(report, "The vendor 'PV3' has not been set up");
    }
    EXPECT_NE(Record("R10 FPREFIX=\"01\" FVENDOR=\"PV2\" FLEVEL=2"), "");
}

TEST_F(ApmCli, PrefixLevelsFollowTheAccountFormat) {
    LoadText("@GLM\nR3 PAPRFX=\"02\" PAFISC=2\nR4 PBPRFX=\"021\" PBALTA=\"02\" PBALTB=\"1\"\n"
             "@APM\nR9 VENDOR=\"PV\" VNAME=\"Prefix vendor\"\n");
    std::string report = RunLines("examine", "10,02-1,PV,3,,\n"   // fiscal at AB, AB on file: silent
                                             "10,02-2,PV,3,,\n"   // 666 for the missing AB
                                             "10,01-1,PV,3,,\n"   // prefix A 01 is fiscal at level 1: 667
                                             "10,01,PV,1,,\n"
                                             "10,01,PV,0,,\n"
                                             "10,01,PV,-1,,\n"
                                             "10,01-12,PV,3,,\n");
    EXPECT_LACKS(report, "'02-1'");
    EXPECT_HAS(report, "Prefix 02-2 does not currently exist as a Prefix B prefix in the GL master file(666)");
    // (The notes report cuts a line at its width.)
    EXPECT_HAS(report, "Prefix B prefix '01-1' is not defined at a fiscal entity level in the GL master file Prefix A ");
    for (const char* level : {"1", "0"})
        EXPECT_HAS(report, std::string("Prefix Level ") + level +
                               " is not allowed, the valid levels are 2 (Prefix A), 3 (Prefix AB), or 4 (Prefix ABC)(664)");
    EXPECT_HAS(report, "Prefix level value '-1' is out of range");  // the import refuses it first
    EXPECT_HAS(report, "Prefix '01-12' is not a valid Prefix B prefix(665)");

    // Two prefix sections: level 4 goes, level 3 stays.
    const std::string prefixC =
        "  { description = \"Prefix C\", width = 2, separator = \"-\", capitals = true, right_justify = false },\n";
    EditCompany("prefix_levels = 3", "prefix_levels = 2");
    EditCompany(prefixC, "");
    report = RunLines("examine", "10,02-1,PV,3,,\n10,02-1,PV,4,,\n");
    EXPECT_HAS(report, "Prefix Level 4 is not allowed, the valid levels are 2 (Prefix A) or 3 (Prefix AB)(663)");
    EXPECT_EQ(Count(report, "(663)"), 1u);

    // Without the GL interface nothing is looked up in GL.
    EditCompany("prefix_levels = 2", "prefix_levels = 3");
    EditCompany("  { description = \"Base\"", prefixC + "  { description = \"Base\"");
    EditCompany("from = \"AP\"\nto = \"GL\"\nactive = true", "from = \"AP\"\nto = \"GL\"\nactive = false");
    report = RunLines("examine", "10,02-2,PV,3,,\n10,01-1,PV,3,,\n");
    EXPECT_LACKS(report, "(666)");
    EXPECT_LACKS(report, "(667)");
}

TEST_F(ApmCli, PrefixTotalsFollowTheSettingsAndTheCountry) {
    LoadText("@APM\nR9 VENDOR=\"PV\" VNAME=\"Prefix vendor\"\nH2 MD2USE=0\n");
    std::string report = RunLines("convert", "10,01,PV,2,5.00,7.00\n");
    EXPECT_HAS(report, "Use PPS not marked in AP settings, YTD amount deducted with '5.00' was cleared(668)");
    EXPECT_LACKS(report, "(670)");
    EXPECT_HAS(Record("R10 FPREFIX=\"01\" FVENDOR=\"PV\""), " FYTDDED=0 ");

    EditCompany("AP = 1", "AP = 61");
    report = RunLines("examine", "10,01-2,PV,3,5.00,7.00\n");
    EXPECT_LACKS(report, "(669)");
    EXPECT_HAS(report, "Gross revenue with '7.00' only allowed in USA and Canada, it will be cleared(671)");

    LoadText("@APM\nH2 PRF1099=0\n");
    report = RunLines("examine", "10,01-1,PV,3,,\n");
    EXPECT_HAS(report, "Retain 1099 totals per GL prefix is not marked in the AP Settings, prefix total records cannot "
                       "be\n" + std::string(24, ' ') + "converted(659)");
}

TEST_F(ApmCli, AuthorisationsNeedADistributionSettingThatMarksThem) {
    std::string report = RunLines("convert", "12,PM,Project manager\n");
    EXPECT_LACKS(report, "(675)");
    EXPECT_NE(Record("R12 AUTH=\"PM\""), "");
    LoadText("@APM\nH2 DCAUTH3=0\n");
    report = RunLines("examine", "12,CFO,Chief financial officer\n");
    EXPECT_HAS(report, "No Authorizations are marked in the AP Settings Distribution Settings, Authorization records "
                       "cannot be\n" + std::string(24, ' ') + "converted(675)");
}

TEST_F(ApmCli, AnyOtherRecordNumberIsRefusedNamingItsRecordType) {
    const std::string report = RunLines("examine", "11,STD\n");
    EXPECT_HAS(report, "Record type 'Check format' cannot be converted as part of a AP Vendor conversion(75)");
}

// ---- Vendor notes --------------------------------------------------------------------------------

TEST_F(ApmCli, AFileOfNotesOnlyStoresTheNotesAndWritesNoVendor) {
    LoadText("@APM\nR9 VENDOR=\"NV\" VNAME=\"Noted vendor\"\n");
    const std::string before = Dump();
    const std::string report = RunLines("convert", "VN,NV,First line,Second line\nVN,NV,Third line,\n"
                                                   "VN,NOBODY,Orphan,\n");
    EXPECT_HAS(report, "Notes For Vendor");
    EXPECT_HAS(report, "The record to modify doesn't currently exist");
    const std::string after = Dump();
    EXPECT_EQ(Count(after, "R9 "), Count(before, "R9 "));
    EXPECT_HAS(after, "First line\\x0DSecond line");
    EXPECT_HAS(after, "Third line");
}

TEST_F(ApmCli, NotesInADataFormatNamedVnInAnyCaseAreStoredToo) {
    LoadText("@APM\nR9 VENDOR=\"NV\" VNAME=\"Noted vendor\"\n");
    Spit(dir / "vn.tpl", "format vn\nfile APM 1\nrecord 9\nfield VENDOR\nspecial \"Converted Notes\" longtext\n");
    Spit(dir / "vn.txt", "#,APM," + (dir / "vn.tpl").string() + "\nvn,NV,Data-format notes\nvn,,Blank key\n");
    const std::string report = Run("convert", dir / "vn.txt");
    EXPECT_HAS(report, "Notes For Vendor");
    EXPECT_LACKS(report, "Vendor ID & vendor name are required");
    EXPECT_HAS(Dump(), "Data-format notes");
    EXPECT_HAS(Record("R9 VENDOR=\"NV\""), " VNAME=\"Noted vendor\" ");
}

}  // namespace
