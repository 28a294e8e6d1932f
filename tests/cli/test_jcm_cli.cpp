// The JC master conversion through dodedoz-cli on a fresh demo company that holds the GL sample
// (its cost accounts), the JC sample's setup records and, for the goldens, standard phases and
// categories: the sample examined (nothing written) and converted (report, notes, reject file,
// the records with their created group phases), converted again, then the checks of each kind of
// record on small text files of their own, through templates of the tests' own.
//
// DZ_UPDATE_GOLDEN=1 in the environment rewrites every golden file these tests compare with.
#include "sample_cli_support.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace dz::cli::testing;

const fs::path kGolden = fs::path(DZ_TEST_DATA_DIR) / "jcmcli";
const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples";

// The tests' template: wide formats that reach the fields each check reads; J0 leaves JBLEVEL out
// of the template, PT and CT add the "Accumulate as" column (PCTYPE, CCTYPE), PM, PV and PN only
// modify (PN with notes).
const char* kTemplate = R"(format J
file JCM 1
record 1
field JOB
field JDESC
field JORDER1
field JEXTRAS
field JARCUST
field JBMETH
field JBLEVEL
field JHOLD
field JCNT
field JCNI
field JPCNTC
field JACNTC
field JNCNTC
field JOCNT
field JRVCNT
field JOEST
field JTEST
field JJTDC
format JC
file JCM 1
record 1
field JOB
field JDESC
field JBLEVEL
field JPCNTC
field JNCNTC
field JNMPCN
field JACNTC
format J0
file JCM 1
record 1
field JOB
field JDESC
field JBMETH
format X
file JCM 1
record 2
field XJOB
field EXTRA
field XDESC
field XOCNT
format P
file JCM 1
record 3
field PJOB
field PEXTRA
field PHASE
field PDESC
field PTAXEX
field POPU
field PAPUC
field PRVPU
field PJTDCT
field PPTDCT
field PJTDDPT
format PS
file JCM 1
record 3
field PJOB
field PEXTRA
field PHASE
field PDESC
field POSV
field PASVC
field PRSVC
field PPSVC
format PL
file JCM 1
record 3
field PJOB
field PEXTRA
field PHASE
field PDESC
field PCNT
format PM
file JCM 1
record 3
permissions 1
field PJOB
field PEXTRA
field PHASE
field PDESC
format PV
file JCM 1
record 3
permissions 1
field PJOB
field PEXTRA
field PHASE
field POSV
format PN
file JCM 1
record 3
permissions 1
field PJOB
field PEXTRA
field PHASE
field POSV
special "Converted Notes" longtext
format PT
file JCM 1
record 3
field PJOB
field PEXTRA
field PHASE
field PDESC
field PCTYPE
format C
file JCM 1
record 4
field CJOB
field CEXTRA
field CPHASE
field CAT
field CDESC
field CUDESC
field CTAXEX
field COEST
field CAESTC
field CTEST
field COUEST
field CAUESTC
field CTUEST
format CT
file JCM 1
record 4
field CJOB
field CEXTRA
field CPHASE
field CAT
field CCTYPE
)";

class JcmCli : public SampleCliTest {
protected:
    JcmCli() : SampleCliTest(kSamples) { companyName = "Northbridge Builders"; }

    void SetUp() override {
        SampleCliTest::SetUp();
        if (HasFatalFailure()) return;
        // The GL sample first: the JC sample's cost accounts are among its accounts.
        fs::copy_file(kSamples / "glm" / "demo-gl-master.txt", dir / "gl.txt");
        ASSERT_EQ(Cli({"convert", "--company", company.string(), (dir / "gl.txt").string()}).status, 1);
        Load(kSamples / "jcm" / "setup-tax-and-customers.load");
        Spit(dir / "t.tpl", kTemplate);
    }

    void LoadText(const std::string& lines) {
        Spit(dir / "more.load", lines);
        Load(dir / "more.load");
    }

    // Examines or converts `text` (written with the tests' template when `lines` is given); the
    // report and notes joined by a form feed.
    std::string Run(const std::string& command, const fs::path& text, const std::vector<std::string>& more = {},
                    int* status = nullptr) {
        std::string report, notes;
        last = SampleCliTest::Run(command, text.string(), report, notes, more);
        if (status) *status = last.status;
        return notes.empty() ? report : report + "\f" + notes;
    }
    std::string RunLines(const std::string& command, const std::string& lines) {
        const fs::path text = dir / (command + "-" + std::to_string(++files) + ".txt");
        Spit(text, "#,JCM," + (dir / "t.tpl").string() + "\n" + lines);
        return Run(command, text);
    }

    std::string Dump() { return SampleCliTest::Dump("JCM"); }
    // The dump line of the record whose line starts with `start` ("R1 JOB=\"200001\"").
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

// ---- The sample ----------------------------------------------------------------------------------

class JcmSample : public JcmCli {
protected:
    void SetUp() override {
        JcmCli::SetUp();
        // The standards sample first: its standard phases and categories fill in the JC sample's.
        fs::copy_file(kSamples / "jcs" / "demo-jc-standards.txt", dir / "demo-jc-standards.txt");
        ASSERT_EQ(Cli({"convert", "--company", company.string(), (dir / "demo-jc-standards.txt").string()}).status, 1);
        fs::copy_file(kSamples / "jcm" / "demo-jc-master.txt", dir / "demo-jc-master.txt");
        text = dir / "demo-jc-master.txt";
    }
    fs::path text;
};

TEST_F(JcmSample, ExamineReportsWhatWouldHappenAndWritesNothing) {
    const auto before = Files(dir);
    const std::string dumped = Dump();
    int status = 0;
    ExpectGolden(Run("examine", text, {}, &status), kGolden / "sample_examine.txt");
    EXPECT_EQ(status, 1) << last.err;
    ExpectGolden(Shown(last.err), kGolden / "sample_examine_stderr.txt");
    EXPECT_EQ(Dump(), dumped);
    EXPECT_EQ(Files(dir), before);  // every data file and the text file byte for byte
}

TEST_F(JcmSample, ConvertWritesTheRecordsAndTheirGroupPhases) {
    int status = 0;
    ExpectGolden(Run("convert", text, {}, &status), kGolden / "sample_convert.txt");
    EXPECT_EQ(status, 1) << last.err;
    ExpectGolden(Shown(last.err), kGolden / "sample_convert_stderr.txt");
    ExpectGolden(Slurp(dir / "RejJCM.txt"), kGolden / "sample_reject.txt");
    const std::string dump = Dump();
    ExpectGolden(dump, kGolden / "sample_dump.txt");
    // The groups of 01-002.03, nearest first, named by their standard phases.
    EXPECT_HAS(dump, "R3 PJOB=\"100001\" PEXTRA=\"\" PHASE=\"0100200\" PDESC=\"Framing\" PGPHASE=1");
    EXPECT_HAS(dump, "R3 PJOB=\"100001\" PEXTRA=\"\" PHASE=\"0100000\" PDESC=\"Site work\"");
    // The totals: phase from its categories, groups from their members, the job and its extra.
    EXPECT_HAS(dump, "R3 PJOB=\"100001\" PEXTRA=\"E1\" PHASE=\"0100000\" PDESC=\"Site work\"");
    EXPECT_HAS(dump, "RJOB=\"100001\" REXTRA=\"\" RDRAW=\"BF\" RINV=\"BF\" RDESC=\"Balance forward\" "
                     "RBDATE=2026-12-06 RCHARGE=5000000 RPAYAMT=4000000 RRETWH=500000 RBLBAL=500000");
    EXPECT_HAS(dump, "RJOB=\"100001\" REXTRA=\"E1\" RDRAW=\"BF\"");
    EXPECT_HAS(Slurp(text), "#,\"Previously Converted\",\"by Ann Lee\"");
}

TEST_F(JcmSample, ASecondConversionIsSkippedAndAReconversionRejectsEveryRecordAsADuplicate) {
    int status = 0;
    Run("convert", text, {}, &status);
    ASSERT_EQ(status, 1);
    const std::string stamped = Slurp(text);
    const std::string jcm = Slurp(company / "MASTER.JCM");
    Run("convert", text, {}, &status);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(Slurp(company / "MASTER.JCM"), jcm);
    EXPECT_EQ(Slurp(text), stamped);

    const std::string report = Run("convert", text, {"--reconvert"}, &status);
    EXPECT_EQ(status, 1) << last.err;
    ExpectGolden(report, kGolden / "reconvert.txt");
    EXPECT_LACKS(report, "Created");  // the group phases are on file already
}

// ---- Jobs ------------------------------------------------------------------------------------------

TEST_F(JcmCli, JobChecksInBothModes) {
    const std::string lines =
        "J,,,NORTH,2,,,9,Y,,,,,,,,,,\n"                              // the import refuses a blank key
        "J,200-001,,,,,,1,,,,,,,,,,,\n"                              // 403
        "J,200-002,Extras,,2,,,1,,,,,,,,,,,\n"                       // 408/409
        "J,200-003,Level four,,,,,4,,,,,,,,,,,\n"                    // three sections: 4 is the highest
        "J,200-004,Level five,,,,,5,,,,,,,,,,,\n"                    // 484, naming the 3 sections
        "J,200-005,At job,,,,,1,,,,,,,1000.00,,,,\n"                 // revised contract set silently
        "J,200-006,At job,,,,,1,,,,,250.00,,1000.00,900.00,,,\n"     // 435/436 with the approved changes
        "J,200-007,At level two,,,,,2,,,,,,,10.00,,,,\n"             // 434
        "J,200-008,Totals,,,,,1,,,,,,,,,5.00,7.00,9.00\n"            // one 437/438, all zeroed
        "J,200-009,Links,,,,,1,,C1,I1,1.00,2.00,3.00,,,,,\n"         // one link message, approved kept
        "JC,200-010,Changes,1,1.00,3.00,4.00,2.00\n";                 // three pending changes
    const std::string examined = RunLines("examine", lines);
    EXPECT_HAS(examined, "Job is part of the record's key and can't be blank (fld 1, col 2) (51)");
    EXPECT_HAS(examined, "Job description is required(403)");
    EXPECT_HAS(examined, "its value 'Tracking Extras (2)' will not be converted(409)");
    EXPECT_HAS(examined, "Job '200-004' cannot have Billing level '5' because only 3 Phase sections are set up(484)");
    EXPECT_LACKS(examined, "Job '200-003' cannot");
    EXPECT_HAS(examined, "Revised contract amount will change from '900.00' to '1250.00', the calculated total(436)");
    EXPECT_HAS(examined, "Job Billing fields must be blank when not billing at Job, Original contract has '10.00'(434)");
    EXPECT_HAS(examined, "Accumulated fields will not convert, an example is Original estimate with '5.00'(438)");
    EXPECT_HAS(examined, "Contract links must be added in Contracts, links like Contract with 'C1' will be cleared(483)");
    EXPECT_LACKS(examined, "with 'I1'");
    for (const char* change : {"Pending contract changes must be added as a Change order, its value '1.00' will be cleared(496)",
                               "Unapproved contract changes must be added as a Change order, its value '3.00' will be cleared(496)",
                               "Net month pending contract changes must be added as a Change order, its value '4.00' will "
                               "be cleared(496)"})
        EXPECT_HAS(examined, change);
    EXPECT_LACKS(examined, "Approved contract changes must");
    EXPECT_EQ(Record("R1 JOB=\"200002\""), "");  // Examine Files wrote nothing

    const std::string converted = RunLines("convert", lines);
    EXPECT_HAS(converted, "Job description is required(403)");
    EXPECT_HAS(converted, "its value 'Tracking Extras (2)' was not converted(408)");
    EXPECT_HAS(converted, "Revised contract amount has changed from '900.00' to '1250.00', the calculated total(435)");
    EXPECT_LACKS(converted, "'0.00' to '1000.00'");
    EXPECT_HAS(Record("R1 JOB=\"200002\""), " JEXTRAS=1 ");
    EXPECT_HAS(Record("R1 JOB=\"200005\""), " JRVCNT=100000 ");
    EXPECT_HAS(Record("R1 JOB=\"200006\""), " JACNTC=25000 JRVCNT=125000 ");
    const std::string totals = Record("R1 JOB=\"200008\"");
    for (const char* zero : {" JOEST=0 ", " JTEST=0 ", " JJTDC=0 "}) EXPECT_HAS(totals, zero);
    const std::string links = Record("R1 JOB=\"200009\"");
    for (const char* cleared : {" JCNT=\"\" ", " JCNI=\"\" ", " JPCNTC=0 ", " JNCNTC=0 ", " JACNTC=200 JRVCNT=200 "})
        EXPECT_HAS(links, cleared);
    EXPECT_HAS(Record("R1 JOB=\"200010\""), " JPCNTC=0 JNCNTC=0 JNMPCN=0 JACNTC=200 JRVCNT=200 ");
    EXPECT_NE(Record("R1 JOB=\"200003\""), "");
    EXPECT_EQ(Record("R1 JOB=\"200004\""), "");
}

TEST_F(JcmCli, BillingLevelAndContractsFollowTheSettingsAndTheFilesOnHand) {
    // Without JBLEVEL in the template the JC setting's level is taken silently.
    LoadText("@JCM\nH2 PBLEVEL=3\n");
    std::string report = RunLines("convert", "J0,210-001,Default level,1\nJ0,210-002,Contracts,2\n");
    EXPECT_HAS(Record("R1 JOB=\"210001\""), " JBLEVEL=3 ");
    EXPECT_LACKS(report, "Billing Level cannot be");
    // Contracts need the contract settings, named first even when AR is missing too.
    EXPECT_HAS(report, "Job '210-002' cannot have Billing method 'Use Contracts(2)' because file Setting.cns does not "
                       "exists(490)");

    // Without MASTER.ARM: the customer is not converted, the level goes back to the setting's.
    fs::remove(company / "MASTER.ARM");
    report = RunLines("convert", "J,210-003,No AR,,,HARBOR,2,1,,,,,,,,,,,\nJ,210-004,No AR,,,HARBOR,,2,,,,,,,,,,,\n");
    EXPECT_HAS(report, "because file Setting.cns does not exists(490)");
    EXPECT_HAS(report, "AR Customer cannot be converted unless AR is set up, its value 'HARBOR' was not converted(487)");
    EXPECT_HAS(report, "Billing Level cannot be '2' when Master.arm does not exist', it was changed to JC setting value "
                       "'3'(493)");
    EXPECT_HAS(Record("R1 JOB=\"210004\""), " JARCUST=\"\" JBMETH=1 JBLEVEL=3 ");
}

TEST_F(JcmCli, AnUnknownCustomerIsRejected) {
    const std::string report = RunLines("examine", "J,211-001,Known,,,HARBOR,,1,,,,,,,,,,,\n"
                                                   "J,211-002,Unknown,,,NOBODY,,1,,,,,,,,,,,\n");
    EXPECT_HAS(report, "The AR Customer 'NOBODY' has not been set up in the Accounts Receivable application(489)");
    EXPECT_LACKS(report, "'HARBOR' has not");
}

// ---- Extras ----------------------------------------------------------------------------------------

TEST_F(JcmCli, ExtrasNeedTheirJobOnFileOrEarlierAndMarkIt) {
    const std::string lines = "J,300-001,At job,,,,,1,,,,,,,,,,,\n"
                              "J,300-002,At level two,,,,,2,,,,,,,,,,,\n"
                              "X,300-001,E1,First,5.00\n"      // level 1: the contract stays
                              "X,300-002,E1,Second,5.00\n"     // level 2 (kept with the examined job): 481
                              "X,399-999,E1,Orphan,\n";        // 442 in both modes
    const std::string examined = RunLines("examine", lines);
    EXPECT_HAS(examined, "Extra Billing fields must be blank when not billing at Job, Original contract has '5.00'(481)");
    EXPECT_HAS(examined, "The Job '399-999' has not been set up, this Extra record cannot be converted(442)");
    EXPECT_LACKS(examined, "The Job '300-001'");

    const std::string converted = RunLines("convert", lines);
    EXPECT_HAS(converted, "(481)");
    EXPECT_HAS(converted, "The Job '399-999' has not been set up, this Extra record cannot be converted(442)");
    EXPECT_HAS(Record("R2 XJOB=\"300001\" EXTRA=\"E1\""), " XOCNT=500 ");
    // The job handler turns 2 into 1; a converted extra marks its job as tracking extras.
    EXPECT_HAS(Record("R1 JOB=\"300001\""), " JEXTRAS=2 ");
    EXPECT_HAS(Record("R1 JOB=\"300002\""), " JEXTRAS=1 ");
}

TEST_F(JcmCli, ExtrasNotTrackedAreRefusedFirst) {
    LoadText("@JCM\nH2 PTRACKX=1\n");
    // Refused before its description or its job is looked at.
    const std::string report = RunLines("examine", "X,399-999,E1,,5.00\n");
    EXPECT_HAS(report, "Extras are not being tracked in JC, Extra records cannot be converted(440)");
    EXPECT_LACKS(report, "(404)");
    EXPECT_LACKS(report, "(442)");
}

// ---- Phases ----------------------------------------------------------------------------------------

TEST_F(JcmCli, PhasesCreateTheirMissingGroupsOnce) {
    const std::string lines = "J,400-001,Job,,,,,1,,,,,,,,,,,\n"
                              "P,400-001,,01-002.03,Walls,,,,,,,\n"
                              "P,400-001,,01-002.04,Roof,,,,,,,\n"
                              "P,400-001,,01-000.03,Bad,,,,,,,\n"
                              "P,400-001,,00-000.00,Bad,,,,,,,\n";
    const std::string examined = RunLines("examine", lines);
    EXPECT_HAS(examined, "Invalid zero section in Phase - '01-000.03'(448)");
    EXPECT_HAS(examined, "Invalid zero section in Phase - '00-000.00'(448)");
    // Two phases under the same missing groups examine them once.
    EXPECT_HAS(examined, "Cost Code                    4              0              2             2             2");

    RunLines("convert", lines);
    for (const char* group : {"0100200", "0100000"})
        EXPECT_HAS(Record(std::string("R3 PJOB=\"400001\" PEXTRA=\"\" PHASE=\"") + group + "\""),
                   "PDESC=\"Group created by conversion\" PGPHASE=1");
    EXPECT_HAS(Record("R3 PJOB=\"400001\" PEXTRA=\"\" PHASE=\"0100204\""), "PDESC=\"Roof\" PGPHASE=0");
    EXPECT_EQ(Record("R3 PJOB=\"400001\" PEXTRA=\"\" PHASE=\"0100003\""), "");
    // A group phase written from the text file creates only the groups above it.
    const std::string group = RunLines("convert", "P,400-001,,02-003.00,Group,,,,,,,\n");
    EXPECT_HAS(group, "Cost Code                    1              0              0             1             1");
    EXPECT_HAS(Record("R3 PJOB=\"400001\" PEXTRA=\"\" PHASE=\"0200300\""), "PDESC=\"Group\" PGPHASE=1");
    EXPECT_HAS(Record("R3 PJOB=\"400001\" PEXTRA=\"\" PHASE=\"0200000\""), "PDESC=\"Group created by conversion\"");
    // Examined, a group phase given earlier in the same file is not created again for its member.
    const std::string given = RunLines("examine", "P,400-001,,03-000.00,Group,,,,,,,\nP,400-001,,03-001.00,Child,,,,,,,\n");
    EXPECT_HAS(given, "Cost Code                    2              0              0             2\n");  // none created
    // Converted, a group given earlier stands for its members; a group it is not still comes.
    RunLines("convert", "P,400-001,,04-000.00,Top,,,,,,,\nP,400-001,,04-001.05,Leaf,,,,,,,\n");
    EXPECT_HAS(Record("R3 PJOB=\"400001\" PEXTRA=\"\" PHASE=\"0400000\""), "PDESC=\"Top\" PGPHASE=1");
    EXPECT_HAS(Record("R3 PJOB=\"400001\" PEXTRA=\"\" PHASE=\"0400100\""), "PDESC=\"Group created by conversion\"");
}

TEST_F(JcmCli, PhaseFieldsWithoutCategories) {
    LoadText("@JCM\nH2 CCATUSG=2\nR16 SPHASE=\"0500101\" SPDESC=\"From standard\" SPCTYPE=3\n");
    const std::string lines = "J,500-001,Job,,,,,1,,,,,,,,,,,\n"
                              "P,500-001,,05-001.00,Group,,10.00,5.00,20.00,,,\n"   // PRVPU of a group
                              "P,500-001,,05-001.02,No type,,,,,,,\n"               // 12256
                              "P,500-001,,05-001.01,,,,,,1.00,2.00,3.00\n"          // the standard's; one 12260
                              "PT,500-001,,05-001.03,Typed,2\n";
    const std::string report = RunLines("convert", lines);
    EXPECT_HAS(report, "Accumulate as is required when not using Categories and there is not a Standard Phase(455)");
    EXPECT_HAS(Record("R3 PJOB=\"500001\" PEXTRA=\"\" PHASE=\"0500101\""), "PDESC=\"From standard\" PGPHASE=0 PCTYPE=3 ");
    EXPECT_HAS(report, "Revised prodctn units est amount has changed from '20.00' to '15.00', the calculated total(435)");
    const std::string taxes = "Tax fields were not converted, an example is JTD cost tax with '1.00'(461)";
    EXPECT_HAS(report, taxes);
    EXPECT_EQ(report.find("Tax fields were not"), report.rfind("Tax fields were not"));
    const std::string taxed = Record("R3 PJOB=\"500001\" PEXTRA=\"\" PHASE=\"0500101\"");
    EXPECT_HAS(Record("R3 PJOB=\"500001\" PEXTRA=\"\" PHASE=\"0500103\""), " PCTYPE=2 ");
    for (const char* zero : {" PJTDCT=0 ", " PPTDCT=0 ", " PJTDDPT=0 "}) EXPECT_HAS(taxed, zero);
}

// Amounts a line has no column for are cleared all the same when the record it modifies holds them.
TEST_F(JcmCli, AccumulatedAmountsOfAModifiedPhaseAreClearedWithoutTheirColumns) {
    LoadText("@JCM\nR1 JOB=\"520001\" JDESC=\"Job\"\n"
             "R3 PJOB=\"520001\" PEXTRA=\"\" PHASE=\"0500101\" PDESC=\"Stored\" PJTDCT=150 PCFAM2=70\n");
    const std::string lines = "PT,520-001,,05-001.02,Added,1\n"
                              "PM,520-001,,05-001.01,Modified\n";
    const std::string examined = RunLines("examine", lines);
    EXPECT_HAS(examined, "Tax fields will not convert, an example is JTD cost tax with '1.50'(462)");
    EXPECT_EQ(examined.find("(462)"), examined.rfind("(462)"));  // the added phase has none
    const std::string report = RunLines("convert", lines);
    EXPECT_HAS(report, "Tax fields were not converted, an example is JTD cost tax with '1.50'(461)");
    EXPECT_HAS(report, "'0.70'(437)");
    const std::string phase = Record("R3 PJOB=\"520001\" PEXTRA=\"\" PHASE=\"0500101\"");
    EXPECT_HAS(phase, "PDESC=\"Modified\"");
    for (const char* zero : {" PJTDCT=0 ", " PCFAM2=0 "}) EXPECT_HAS(phase, zero);
}

// The totals follow what a cost code holds at the end of the file, not what a line before gave it.
TEST_F(JcmCli, TheTotalsFollowACostCodeModifiedLaterInTheFile) {
    RunLines("convert", "J,530-001,Job,,,,,1,,,,,,,,,,,\n"
                        "PT,530-001,,05-001.01,Phase,1\n"
                        "PT,530-001,,05-001.02,Phase,1\n"
                        "PV,530-001,,05-001.01,100.00\n");
    EXPECT_HAS(Record("R1 JOB=\"530001\""), " JOCNT=10000 ");
}

// A line rejected after its amounts were stored (its notes too long) still counts in the totals.
TEST_F(JcmCli, TheTotalsFollowACostCodeStoredByARejectedLine) {
    const std::string report = RunLines("convert", "J,531-001,Job,,,,,1,,,,,,,,,,,\n"
                                                   "PT,531-001,,05-001.01,Phase,1\n"
                                                   "PN,531-001,,05-001.01,100.00," + std::string(16000, 'n') + "\n");
    EXPECT_HAS(report, "Notes are too long");
    EXPECT_HAS(Record("R1 JOB=\"531001\""), " JOCNT=10000 ");
}

// A cost code given no amounts takes the totals of its categories given in the same file.
TEST_F(JcmCli, ACostCodeWithoutAmountsTakesItsCategoriesTotals) {
    Load(kGolden / "standards.load");
    RunLines("convert", "J,540-001,Job,,,,,1,,,,,,,,,,,\n"
                        "P,540-001,,01-002.03,Walls,,,,,,,\n"
                        "P,540-001,,01-002.04,Floors,,,,,,,\n"
                        "C,540-001,,01-002.03,LAB,,,,500.00,25.00,,,,\n");
    EXPECT_HAS(Record("R3 PJOB=\"540001\" PEXTRA=\"\" PHASE=\"0100203\""), " POEST=50000 PAESTC=2500 ");
    EXPECT_HAS(Record("R3 PJOB=\"540001\" PEXTRA=\"\" PHASE=\"0100204\""), " POEST=0 PAESTC=0 ");
    EXPECT_HAS(Record("R1 JOB=\"540001\""), " JOEST=50000 JAESTC=2500 JPESTC=0 JTEST=52500 ");
}

TEST_F(JcmCli, ApprovedScheduledValueChangesCountInTheRevisedValue) {
    const std::string lines = "J,510-001,Job,,,,,1,,,,,,,,,,,\n"
                              "PS,510-001,,05-001.01,Scheduled,100.00,20.00,90.00,5.00\n";
    const std::string examined = RunLines("examine", lines);
    EXPECT_HAS(examined, "Revised Scheduled Value amount will change from '90.00' to '120.00', the calculated total(436)");
    EXPECT_HAS(examined, "Pending scheduled value changes must be added as a Change order, its value '5.00' will be "
                         "cleared(496)");
    EXPECT_LACKS(examined, "Approved scheduled value changes must");
    RunLines("convert", lines);
    // (billing at the job, the cost code's amounts move up to it)
    EXPECT_HAS(Record("R1 JOB=\"510001\""), " JOCNT=10000 JPCNTC=0 JNCNTC=0 JNMPCN=0 JACNTC=2000 JRVCNT=12000 ");
}

// A cost code's contract link is cleared when its format has a column for it, whatever the formats
// before it held.
TEST_F(JcmCli, ACostCodesContractLinkIsClearedWhenItsFormatBringsOne) {
    const std::string lines = "J,511-001,Job,,,,,1,,,,,,,,,,,\n"
                              "P,511-001,,05-001.01,Plain,,,,,,,\n"
                              "PL,511-001,,05-001.02,Linked,C7\n";
    EXPECT_HAS(RunLines("examine", lines), "with 'C7' will be cleared(483)");
    EXPECT_HAS(RunLines("convert", lines), "with 'C7' were cleared(482)");
    EXPECT_HAS(Record("R3 PJOB=\"511001\" PEXTRA=\"\" PHASE=\"0500102\""), " PCNT=\"\" ");
}

// A job written earlier in the same file gives its cost codes the billing level it was written with.
TEST_F(JcmCli, ACostCodeFollowsTheBillingLevelOfAJobWrittenJustBefore) {
    const std::string report = RunLines("convert", "J,512-001,Job,,,,,3,,,,,,,,,,,\n"
                                                   "PS,512-001,,05-000.00,Top,100.00,,,\n"
                                                   "J,513-001,Job,,,,,1,,,,,,,,,,,\n"
                                                   "PS,513-001,,05-000.00,Top,100.00,,,\n");
    EXPECT_EQ(report.find("(460)"), report.rfind("(460)"));
    EXPECT_HAS(report, "'05-000.00', field 'Original scheduled value' cannot have '100.00'(460)");
    EXPECT_HAS(Record("R3 PJOB=\"513001\" PEXTRA=\"\" PHASE=\"0500000\""), "PDESC=\"Top\"");
    EXPECT_LACKS(Record("R3 PJOB=\"512001\" PEXTRA=\"\" PHASE=\"0500000\""), "PDESC=\"Top\"");
}

// ---- Categories ------------------------------------------------------------------------------------

TEST_F(JcmCli, CategoryChecks) {
    Load(kGolden / "standards.load");
    const std::string lines = "J,600-001,Job,,,,,1,,,,,,,,,,,\n"
                              "P,600-001,,01-002.03,Walls,,,,,,,\n"
                              "C,699-999,,01-002.00,LAB,,,,,,,,,\n"                 // 477 before the job
                              "C,600-001,,01-002.03,LAB,,,,500.00,25.00,,,,\n"     // CTEST silently 525.00
                              "C,600-001,,01-002.03,MAT,,Lumber,exempt,500.00,25.00,400.00,2.0000,1.0000,3.0000\n"
                              "CT,600-001,,01-002.03,EQP,2\n"                      // 480 (standard: 4)
                              "C,600-001,,01-002.03,EQP,,,,,,,,,\n";               // no CCTYPE column: no 480
    const std::string examined = RunLines("examine", lines);
    EXPECT_HAS(examined, "The Phase '01-002.00' is a Group Phase, categories cannot contain Group Phases(477)");
    EXPECT_LACKS(examined, "'699-999'");
    EXPECT_HAS(examined, "Accumulate as with 'Material (2)' does not match Standard Category's value, 'Equipment (4)'(480)");
    EXPECT_EQ(examined.find("(480)"), examined.rfind("(480)"));
    EXPECT_LACKS(examined, "has not been set up");  // the job and phase examined earlier count

    const std::string converted = RunLines("convert", lines);
    EXPECT_HAS(Record("R4 CJOB=\"600001\" CEXTRA=\"\" CPHASE=\"0100203\" CAT=\"LAB\""), " CTEST=52500 ");
    EXPECT_HAS(converted, "Total estimate amount has changed from '400.00' to '525.00', the calculated total(435)");
    // Material units are not tracked: the unit description and every unit field go.
    EXPECT_HAS(converted, "Tracking Material units not marked in JC settings, Cost unit desc with 'Lumber' was not "
                          "converted(458)");
    EXPECT_HAS(converted, "Not tracking Material units, Units (i.e. Original estimate units with '2.0000') was not "
                          "converted(469)");
    const std::string material = Record("R4 CJOB=\"600001\" CEXTRA=\"\" CPHASE=\"0100203\" CAT=\"MAT\"");
    for (const char* cleared : {" CUDESC=\"\" ", " COUEST=0 ", " CAUESTC=0 ", " CTUEST=0 ", " CTAXEX=\"Exempt\" "})
        EXPECT_HAS(material, cleared);
}

// ---- Tax statuses and custom list 369 ------------------------------------------------------------

TEST_F(JcmCli, TaxStatusesMissingFromTheListGoToTheNotes) {
    Load(kGolden / "standards.load");
    const std::string lines = "J,700-001,Job,,,,,1,,,,,,,,,,,\n"
                              "P,700-001,,01-002.03,Walls,,,,,,,\n"
                              "C,700-001,,01-002.03,LAB,,,Resale,,,,,,\n"
                              "C,700-001,,01-002.03,MAT,,,Taxable,,,,,,\n";
    // The company's list text repeats its default: Taxable stays among the values allowed.
    std::string report = RunLines("examine", lines);
    EXPECT_HAS(report, "Tax status:  Resale(4)");
    EXPECT_LACKS(report, "Taxable(");

    // A list text without the repeated default: the default is the only entry it loses.
    std::string settings = Slurp(company / "company.toml");
    const std::size_t at = settings.find("[lists.369]");
    ASSERT_NE(at, std::string::npos) << settings;
    const std::size_t values = settings.find("values = ", at);
    const std::size_t end = settings.find('\n', values);
    settings.replace(values, end - values, "values = [\"Exempt\"]");
    Spit(company / "company.toml", settings);
    // The default, given or filled in for a blank status, stands for itself: never missing.
    for (const char* command : {"examine", "convert"}) {
        report = RunLines(command, lines);
        EXPECT_HAS(report, "Tax status:  Resale(");
        EXPECT_LACKS(report, "Taxable(");
    }

    // An empty list: a phase's blank status is filled in with the conversion's own default, which is
    // not the user's and so never missing.
    const std::size_t first = settings.find("default = ", at);
    settings.replace(first, settings.find('\n', values) - first, "default = \"\"\nvalues = []");
    Spit(company / "company.toml", settings);
    EXPECT_LACKS(RunLines("examine", "J,700-002,Job,,,,,1,,,,,,,,,,,\nP,700-002,,01-002.03,Walls,,,,,,,\n"),
                 "Tax status:");
}

// ---- The text file -------------------------------------------------------------------------------

// The command line refuses a text file without a template, and an unknown table group, before
// the conversion starts; the converter's own ends of the file are tested in process.
TEST_F(JcmCli, FilesTheCommandLineRefusesAreLeftAlone) {
    const std::string jcm = Slurp(company / "MASTER.JCM");
    Spit(dir / "none.txt", "#,JCM\n1,100-001,Job\n");
    int status = 0;
    Run("convert", dir / "none.txt", {}, &status);
    EXPECT_EQ(status, 2);
    EXPECT_HAS(last.err, "Unable to find a valid template file on the first line of file");

    Spit(dir / "table.txt", "#,JCM," + (dir / "t.tpl").string() + "\nJ,800-001,Job,,,,,1,,,,,,,,,,\n");
    Run("convert", dir / "table.txt", {"--table", "NOSUCH"}, &status);
    EXPECT_EQ(status, 2);
    EXPECT_HAS(last.err, "there is no table group \"NOSUCH\"");
    EXPECT_EQ(Slurp(company / "MASTER.JCM"), jcm);
    EXPECT_LACKS(Slurp(dir / "table.txt"), "Previously Converted");
}

TEST_F(JcmCli, WithoutJobCostTheFileIsRefusedBeforeAnythingOpens) {
    const fs::path glOnly = dir / "glonly";
    ASSERT_EQ(Cli({"company", "init", glOnly.string(), "--modules", "GL"}).status, 0);
    fs::copy_file(kSamples / "jcm" / "demo-jc-master.txt", dir / "nojc.txt");
    const CliResult r = Cli({"convert", "--company", glOnly.string(), (dir / "nojc.txt").string()});
    EXPECT_EQ(r.status, 2);
    EXPECT_HAS(r.err, "Unable to find a valid conversion type on the first line of file");
    EXPECT_FALSE(fs::exists(glOnly / "MASTER.JCM"));
    EXPECT_EQ(Slurp(dir / "nojc.txt"), Slurp(kSamples / "jcm" / "demo-jc-master.txt"));
}

TEST_F(JcmCli, AJobSubstitutedIntoANewJobAndExtraBecomesThatExtra) {
    LoadText("@XVM\nR1 TABLE=\"SPLIT\"\nR2 DTABLE=\"SPLIT\" DFIELD=16 DXONJOB=1\n"
             "R3 FTABLE=\"SPLIT\" FFIELD=16 FOLDVAL=\"900-001\" NEWJOB=\"100-003\" NEWXONJ=\"E9\"\n");
    Spit(dir / "split.txt", "#,JCM,xvjcm\n"
                            "1,100-003,Elm Street homes,,,,,1,,,,,1,2,,,,,1,,,,,,,,,,,,\n"
                            "1,900-001,Old job nine,9 Old Road,Augusta,ME,04330,2,05/04/2026,,,,1,2,,,,,1,,,,,,,,,,,,"
                            "\"notes of old job\"\n");
    const std::string examined = Run("examine", dir / "split.txt", {"--table", "SPLIT"});
    EXPECT_HAS(examined, "Extra                        1              0              0             1");
    const std::string converted = Run("convert", dir / "split.txt", {"--table", "SPLIT"});
    EXPECT_HAS(converted, "Extra                        1              0              0             1");
    EXPECT_EQ(Record("R1 JOB=\"900001\""), "");  // the old job is not written
    const std::string extra = Record("R2 XJOB=\"100003\" EXTRA=\"E9\"");
    EXPECT_HAS(extra, "XDESC=\"Old job nine\" XADDR1=\"9 Old Road\" XADDR2=\"\" XCITY=\"Augusta\" XSTATE=\"ME\" "
                      "XZIP=\"04330\" XSTATUS=2 XESTSD=2026-05-04 ");
    EXPECT_HAS(Dump(), "notes of old job");
    EXPECT_HAS(Record("R1 JOB=\"100003\""), " JEXTRAS=2 ");
}

// ---- The totals rebuild and the balance-forward draws ------------------------------------------------
// Records loaded straight into the JC master, then any conversion of a small text file: the rebuild
// works on the whole file.

class JcmRebuild : public JcmCli {
protected:
    // Converts one new job (it leaves the loaded records alone) and answers the report.
    std::string Trigger() {
        return RunLines("convert", "J,9" + std::to_string(++triggers) + "0-001,Trigger,,,,1,1,,,,,,,,,,,\n");
    }
    // The value of `field` on the dump line starting with `start` ("" when absent).
    std::string Value(const std::string& start, const std::string& field) {
        const std::string line = Record(start);
        const std::size_t at = line.find(" " + field + "=");
        if (at == std::string::npos) return {};
        const std::size_t from = at + field.size() + 2;
        return line.substr(from, line.find(' ', from) - from);
    }
    int Draws(const std::string& job) {
        int n = 0;
        const std::string d = Dump(), key = "R5 RJOB=\"" + job + "\"";
        for (std::size_t at = d.find(key); at != std::string::npos; at = d.find(key, at + 1)) ++n;
        return n;
    }
    int triggers = 0;
};

// A negative billing amount moves up once: the next conversion neither adds it again nor makes a
// second draw.
TEST_F(JcmRebuild, AFlaggedAmountMovesUpOnceAndItsJobGetsOneDraw) {
    LoadText("@JCM\nR1 JOB=\"300001\" JBLEVEL=1\n"
             "R3 PJOB=\"300001\" PHASE=\"0100000\" PGPHASE=1\nR3 PJOB=\"300001\" PHASE=\"0100100\" PGPHASE=1\n"
             "R3 PJOB=\"300001\" PHASE=\"0100101\" PJTDWB=-10000\n");
    Trigger();
    EXPECT_EQ(Value("R1 JOB=\"300001\"", "JJTDWB"), "-10000");
    EXPECT_EQ(Value("R1 JOB=\"300001\"", "JBLBAL"), "-10000");
    for (const char* phase : {"0100000", "0100100", "0100101"})
        EXPECT_EQ(Value("R3 PJOB=\"300001\" PEXTRA=\"\" PHASE=\"" + std::string(phase) + "\"", "PJTDWB"), "0") << phase;
    EXPECT_EQ(Draws("300001"), 1);
    EXPECT_EQ(Value("R5 RJOB=\"300001\"", "RCHARGE"), "-10000");
    EXPECT_EQ(Value("R5 RJOB=\"300001\"", "RBDATE"), "2026-12-06");
    const std::string job = Record("R1 JOB=\"300001\""), draw = Record("R5 RJOB=\"300001\"");
    Trigger();
    EXPECT_EQ(Record("R1 JOB=\"300001\""), job);
    EXPECT_EQ(Record("R5 RJOB=\"300001\""), draw);
    EXPECT_EQ(Draws("300001"), 1);
}

// A job billed by contracts counts as billing level 1; at level 3 the amounts stay on the phases
// below the top group, and the job's total is set from its top groups.
TEST_F(JcmRebuild, TheBillingLevelDecidesHowFarAmountsMove) {
    std::string load = "@JCM\n";
    for (const char* job : {"310001", "310003"}) {
        const std::string j = job;
        load += "R3 PJOB=\"" + j + "\" PHASE=\"0100000\" PGPHASE=1\nR3 PJOB=\"" + j +
                "\" PHASE=\"0100100\" PGPHASE=1\nR3 PJOB=\"" + j + "\" PHASE=\"0100101\" PJTDWB=5000\n";
    }
    LoadText(load + "R1 JOB=\"310001\" JBMETH=2 JBLEVEL=3\nR1 JOB=\"310003\" JBLEVEL=3\n");
    Trigger();
    auto phase = [&](const std::string& job, const char* code) {
        return Value("R3 PJOB=\"" + job + "\" PEXTRA=\"\" PHASE=\"" + code + "\"", "PJTDWB");
    };
    EXPECT_EQ(Value("R1 JOB=\"310001\"", "JJTDWB"), "5000");
    EXPECT_EQ(phase("310001", "0100101"), "0");
    EXPECT_EQ(phase("310001", "0100000"), "0");
    // Level 3: the level-2 group takes its members' amounts, the top group only totals them.
    EXPECT_EQ(phase("310003", "0100101"), "0");
    EXPECT_EQ(phase("310003", "0100100"), "5000");
    EXPECT_EQ(phase("310003", "0100000"), "5000");
    EXPECT_EQ(Value("R1 JOB=\"310003\"", "JJTDWB"), "5000");
    Trigger();
    EXPECT_EQ(Value("R1 JOB=\"310003\"", "JJTDWB"), "5000");
    EXPECT_EQ(phase("310003", "0100000"), "5000");
}

// Totals two levels deep, from categories: a phase without categories gets 0.
TEST_F(JcmRebuild, GroupsTotalTheirMembersFromTheDeepestLevelUp) {
    LoadText("@JCM\nR1 JOB=\"320001\" JBLEVEL=1\n"
             "R3 PJOB=\"320001\" PHASE=\"0100000\" PGPHASE=1 POEST=999\n"
             "R3 PJOB=\"320001\" PHASE=\"0100100\" PGPHASE=1\n"
             "R3 PJOB=\"320001\" PHASE=\"0100101\"\nR3 PJOB=\"320001\" PHASE=\"0100102\" POEST=777\n"
             "R3 PJOB=\"320001\" PHASE=\"0100200\" PGPHASE=1\nR3 PJOB=\"320001\" PHASE=\"0100201\"\n"
             "R4 CJOB=\"320001\" CPHASE=\"0100101\" CAT=\"LAB\" CCTYPE=1 COEST=10000 CTEST=10000\n"
             "R4 CJOB=\"320001\" CPHASE=\"0100101\" CAT=\"MAT\" CCTYPE=2 COEST=2500 CTEST=2500\n"
             "R4 CJOB=\"320001\" CPHASE=\"0100201\" CAT=\"LAB\" CCTYPE=1 COEST=400\n");
    Trigger();
    auto est = [&](const char* code, const char* field = "POEST") {
        return Value("R3 PJOB=\"320001\" PEXTRA=\"\" PHASE=\"" + std::string(code) + "\"", field);
    };
    EXPECT_EQ(est("0100101"), "12500");
    EXPECT_EQ(est("0100102"), "0");  // no categories
    EXPECT_EQ(est("0100100"), "12500");
    EXPECT_EQ(est("0100200"), "400");
    EXPECT_EQ(est("0100000"), "12900");
    EXPECT_EQ(Value("R1 JOB=\"320001\"", "JOEST"), "12900");
    // Total estimates by cost type come from the categories of that type.
    EXPECT_EQ(est("0100101", "PTLEST"), "10000");
    EXPECT_EQ(est("0100101", "PTMEST"), "2500");
    EXPECT_EQ(Draws("320001"), 0);  // nothing billed
}

// A category of a group or of a missing cost code is passed over, wherever it stands among the
// others; a job's cost codes count for it whatever the letter case of their job.
TEST_F(JcmRebuild, CategoriesOfNoPhaseAreSkippedAndJobsMatchTheirPhasesWithoutRegardToCase) {
    LoadText("@JCM\nR1 JOB=\"B70001\" JBLEVEL=1\n"
             "R3 PJOB=\"b70001\" PHASE=\"0100000\" PGPHASE=1\nR3 PJOB=\"b70001\" PHASE=\"0100100\" PGPHASE=1\n"
             "R3 PJOB=\"b70001\" PHASE=\"0100101\"\nR3 PJOB=\"b70001\" PHASE=\"0100102\"\n"
             "R3 PJOB=\"b70001\" PHASE=\"0100200\" PGPHASE=1\nR3 PJOB=\"b70001\" PHASE=\"0100201\"\n"
             "R4 CJOB=\"B70000\" CPHASE=\"0100101\" CAT=\"LAB\" CCTYPE=1 COEST=1\n"
             "R4 CJOB=\"b70001\" CPHASE=\"0100100\" CAT=\"LAB\" CCTYPE=1 COEST=5\n"
             "R4 CJOB=\"b70001\" CPHASE=\"0100101\" CAT=\"LAB\" CCTYPE=1 COEST=100\n"
             "R4 CJOB=\"b70001\" CPHASE=\"0100103\" CAT=\"LAB\" CCTYPE=1 COEST=7\n"
             "R4 CJOB=\"b70001\" CPHASE=\"0100201\" CAT=\"LAB\" CCTYPE=1 COEST=40\n");
    Trigger();
    auto est = [&](const char* code) {
        return Value("R3 PJOB=\"b70001\" PEXTRA=\"\" PHASE=\"" + std::string(code) + "\"", "POEST");
    };
    EXPECT_EQ(est("0100101"), "100");
    EXPECT_EQ(est("0100102"), "0");
    EXPECT_EQ(est("0100201"), "40");
    EXPECT_EQ(est("0100100"), "100");
    EXPECT_EQ(est("0100000"), "140");
    EXPECT_EQ(Value("R1 JOB=\"B70001\"", "JOEST"), "140");
}

// Without categories a phase's cost-type fields come from its own, for its own type only.
TEST_F(JcmRebuild, WithoutCategoriesAPhaseTotalsItsOwnFieldsByItsType) {
    LoadText("@JCM\nH2 CCATUSG=2\nR1 JOB=\"330001\"\nR3 PJOB=\"330001\" PHASE=\"0100000\" PGPHASE=1\n"
             "R3 PJOB=\"330001\" PHASE=\"0100100\" PGPHASE=1\n"
             "R3 PJOB=\"330001\" PHASE=\"0100101\" PCTYPE=4 PTEST=800 PTUEST=30000 PRVCOM=250 PTLEST=5\n");
    Trigger();
    const std::string p = "R3 PJOB=\"330001\" PEXTRA=\"\" PHASE=\"0100101\"";
    EXPECT_EQ(Value(p, "PTEEST"), "800");
    EXPECT_EQ(Value(p, "PTEESTU"), "30000");
    EXPECT_EQ(Value(p, "PRVCE"), "250");
    EXPECT_EQ(Value(p, "PTLEST"), "0");  // a type-1 target
    EXPECT_EQ(Value(p, "PRVCL"), "0");
}

// Draws: only the four billing amounts ask for one; any draw of the job blocks it, an extra's
// draw does not; an extra's own draw.
TEST_F(JcmRebuild, DrawsGoToBillingJobsAndExtrasWithoutADraw) {
    LoadText("@JCM\nR1 JOB=\"340001\" JCNT=\"C1\" JCNI=\"I1\" JJTDADJ=500\n"
             "R1 JOB=\"340002\" JBLEVEL=1 JJTDPY=700\nR5 RJOB=\"340002\" RDRAW=\"D7\"\n"
             "R1 JOB=\"340003\" JBLEVEL=1 JJTDRH=300 JCNT=\"C3\"\nR2 XJOB=\"340003\" EXTRA=\"E1\" XJTDWB=900\n"
             "R5 RJOB=\"340003\" REXTRA=\"E1\" RDRAW=\"D1\"\n"
             "R2 XJOB=\"340003\" EXTRA=\"E2\" XJTDWB=400\n");
    Trigger();
    EXPECT_EQ(Draws("340001"), 0);
    EXPECT_EQ(Draws("340002"), 1);  // its own D7
    EXPECT_EQ(Value("R5 RJOB=\"340003\" REXTRA=\"\"", "RDRAW"), "\"BF\"");
    EXPECT_EQ(Value("R5 RJOB=\"340003\" REXTRA=\"\"", "RRETWH"), "300");
    EXPECT_EQ(Value("R5 RJOB=\"340003\" REXTRA=\"\"", "RCNT"), "\"C3\"");
    EXPECT_EQ(Value("R5 RJOB=\"340003\" REXTRA=\"E1\"", "RDRAW"), "\"D1\"");  // no second draw
    EXPECT_EQ(Value("R5 RJOB=\"340003\" REXTRA=\"E2\"", "RCHARGE"), "400");
    EXPECT_EQ(Value("R2 XJOB=\"340003\" EXTRA=\"E2\"", "XBLBAL"), "400");
    EXPECT_EQ(Value("R1 JOB=\"340003\"", "JXJTDWB"), "1300");
    EXPECT_EQ(Draws("340003"), 3);
}

// Extras are totalled and drawn only when extras are tracked.
TEST_F(JcmRebuild, UntrackedExtrasAreNeitherTotalledNorDrawn) {
    LoadText("@JCM\nH2 PTRACKX=1\nR1 JOB=\"350001\" JBLEVEL=1\n"
             "R2 XJOB=\"350001\" EXTRA=\"E1\" XJTDWB=900 XBLBAL=5\n");
    Trigger();
    EXPECT_EQ(Value("R2 XJOB=\"350001\" EXTRA=\"E1\"", "XBLBAL"), "5");
    EXPECT_EQ(Draws("350001"), 0);
    // The job's totals from its extras are rebuilt all the same.
    EXPECT_EQ(Value("R1 JOB=\"350001\"", "JXJTDWB"), "900");
}

// Examine Files rebuilds nothing.
TEST_F(JcmRebuild, ExamineFilesRebuildsNothing) {
    LoadText("@JCM\nR1 JOB=\"360001\" JBLEVEL=1 JJTDWB=100\n");
    const auto before = Files(company);
    RunLines("examine", "J,960-001,Trigger,,,,1,1,,,,,,,,,,,\n");
    EXPECT_EQ(Files(company), before);
}

}  // namespace
