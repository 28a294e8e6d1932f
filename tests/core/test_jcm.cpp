// The JC master converter in process: the settings it reads (custom list 369, the masters it
// looks things up in), the ends of a text file inside its record loop (an operator's stop, notes
// that cannot print, a table group that cannot be loaded, templates that cannot be used), and the
// copy of job fields into an extra made from a job line.
#include "test_jcm_support.h"

namespace dz::jc {
namespace {

using namespace dz::jc::testing;

// ---- Settings --------------------------------------------------------------------------------------

TEST_F(JcmTaxList, TheListTextRepeatingItsDefaultKeepsTheDefaultAmongTheValues) {
    // The company's list as every new company has it: the default, then the values allowed.
    xvJCM c;
    ASSERT_TRUE(c.LoadSettings(Jcm(), list, nullptr, nullptr));
    EXPECT_EQ(c.defaultTaxStatus, "Taxable");
    EXPECT_EQ(c.taxStatusList, (std::vector<std::string>{"Taxable", "Exempt"}));
    EXPECT_NE(c.glMasterFile, 0);
    EXPECT_NE(c.taxMasterFile, 0);
    EXPECT_TRUE(c.arMasterExists);
    EXPECT_TRUE(c.arTracksTaxes);
    EXPECT_TRUE(c.extrasTracked);
    EXPECT_TRUE(c.categoriesUsed);
    EXPECT_EQ(c.glRetrievalMethod, 5);
}

class JcmTaxListWithoutRepeat : public JcmTaxList {
protected:
    void SetUp() override {
        list369 = suite::CustomList{"Taxable", {"Exempt"}};
        jcToGl = false;
        JcmTaxList::SetUp();
    }
};

TEST_F(JcmTaxListWithoutRepeat, ADefaultNotRepeatedLeavesTheList) {
    xvJCM c;
    ASSERT_TRUE(c.LoadSettings(Jcm(), list, nullptr, nullptr));
    EXPECT_EQ(c.defaultTaxStatus, "Taxable");
    EXPECT_EQ(c.taxStatusList, (std::vector<std::string>{"Exempt"}));
    // Without the JC to GL interface the GL master is not opened, and nothing is said about it.
    EXPECT_EQ(c.glMasterFile, 0);
    const std::string report = Run(WriteText("nogl.txt", Job("100-001")), "Examine Files", c);
    EXPECT_FALSE(Has(report, "Unable to open GL master file")) << report;
}

class JcmTaxListSingle : public JcmTaxList {
protected:
    void SetUp() override {
        list369 = suite::CustomList{"Taxable", {}};
        JcmTaxList::SetUp();
    }
};

TEST_F(JcmTaxListSingle, ASingleEntryIsBothTheDefaultAndTheList) {
    xvJCM c;
    ASSERT_TRUE(c.LoadSettings(Jcm(), list, nullptr, nullptr));
    EXPECT_EQ(c.defaultTaxStatus, "Taxable");
    EXPECT_EQ(c.taxStatusList, (std::vector<std::string>{"Taxable"}));
}

class JcmTaxListEmpty : public JcmTaxList {
protected:
    void SetUp() override {
        noList = true;
        JcmTaxList::SetUp();
    }
};

TEST_F(JcmTaxListEmpty, AnEmptyListDefaultsToTaxableAndListsEveryStatusAsMissing) {
    xvJCM c;
    ASSERT_TRUE(c.LoadSettings(Jcm(), list, nullptr, nullptr));
    EXPECT_EQ(c.defaultTaxStatus, "Taxable");
    EXPECT_TRUE(c.taxStatusList.empty());
    // Every status the text file gives is listed, the default among them; the default a blank
    // status takes is the conversion's, not the user's.
    const std::string given = "3,100-001,,01-001.02,Given,,,Taxable,Y,,,,,,,,,,,,,\r\n";
    const std::string report =
        Run(WriteText("empty.txt", Job("100-001") + Phase("100-001", "01-001.01") + given), "Examine Files", c);
    EXPECT_TRUE(Has(report, "Tax status:  Taxable(4)\n")) << report;
}

TEST_F(JcmTest, MastersThatCannotBeOpenedGiveOneNotesLineEachAndTurnTheirChecksOff) {
    CloseAll();
    fs::remove(company.path() / "MASTER.TXM");
    fs::remove(company.path() / "MASTER.GLM");
    WriteFile(company.path() / "MASTER.ARM", "not a data file");
    uint16_t error16 = 0;
    xvJCM opener;
    list.clear();
    ASSERT_TRUE(opener.OpenFiles(list, 3020, error16));
    xvJCM c;
    const std::string report = Run(WriteText("masters.txt", Job("100-001") + Job("100-002")), "Convert", c);
    for (const char* line : {"Unable to open TX master file, Tax groups are not being verified for existence(401)",
                             "Unable to open GL master file, GL accounts and prefixes are not being verified for "
                             "existence(400)",
                             "Unable to open AR master file, JC Accounts Receivable tax and customer fields will not be "
                             "verified(330)"}) {
        const std::size_t at = report.find(line);
        EXPECT_NE(at, std::string::npos) << report;
        EXPECT_EQ(report.find(line, at + 1), std::string::npos) << report;  // once per file
    }
    EXPECT_TRUE(JobOnFile("100001"));
    EXPECT_TRUE(JobOnFile("100002"));
}

// A company whose cost codes have one section: no section checks, no group phases.
class JcmOneSection : public JcmTest {
protected:
    void Adjust(suite::CompanySettings& s) override {
        s.formats[18].sections = {suite::KeySection{"Phase", 6, "", true, false}};
    }
};

TEST_F(JcmOneSection, APhaseOfOneSectionCreatesNoGroups) {
    xvJCM c;
    const std::string report =
        Run(WriteText("one.txt", Job("100-001") + Phase("100-001", "010200") + Phase("100-001", "000000")), "Convert", c);
    EXPECT_FALSE(Has(report, "Created")) << report;
    EXPECT_FALSE(Has(report, "Invalid zero section")) << report;  // 000000 is a cost code like any other
    const uint16_t h = Jcm();
    int phases = 0;
    for (int st = xio_rd_first(h, kRecPhase, 0, 0); st == XIO_OK; st = xio_rd_next(h, kRecPhase, 0, 0)) {
        ++phases;
        EXPECT_EQ(convert::GetFlag(h, kRecPhase, "PGPHASE"), 0);
    }
    EXPECT_EQ(phases, 2);
}

// A group cost code of two filled sections (level 2) may carry scheduled values when its job
// bills one level below it (3); a job billing two levels below (4) refuses them.
TEST_F(JcmTest, ScheduledValuesNeedTheJobToBillAtMostOneLevelBelowTheCostCode) {
    auto job = [](const std::string& j, int level) {
        return "1," + j + ",Job " + j + ",,,,,1,,,,,1," + std::to_string(level) + ",,,,,1,,,,,,,,,,,,\r\n";
    };
    auto scheduled = [](const std::string& j) { return "3," + j + ",,01-001.00,Group,,,,Y,,100.00,,,,,,,,,,,\r\n"; };
    xvJCM c;
    const std::string text =
        WriteText("levels.txt", job("100-001", 3) + scheduled("100-001") + job("100-002", 4) + scheduled("100-002"));
    const std::string report = Run(text, "Examine Files", c);
    // Line 5: the second job's cost code.
    EXPECT_THAT(report, ::testing::HasSubstr(" 3                 5  Job not billing at or above Phase '01-001.00', field "
                                             "'Original scheduled value' cannot have '100.00'(460)"));
    EXPECT_THAT(report, ::testing::ContainsRegex("Cost Code +2 +[0-9]+ +1 +1"));
}

// With contracts installed and set up, a job billed by contracts bills at job level.
class JcmContracts : public JcmTest {
protected:
    void Adjust(suite::CompanySettings& s) override { s.installed.insert("CN"); }
};

TEST_F(JcmContracts, AJobBilledByContractsIsForcedToBillAtJob) {
    WriteFile(company.path() / "SETTING.CNS", "");
    // Job, description, ..., billing method 2, billing level 3.
    const std::string text = WriteText("cn.txt", "1,100-001,By contract,,,,,1,,,,,2,3,,,,,1,,,,,,,,,,,,\r\n");
    xvJCM c;
    const std::string report = Run(text, "Convert", c);
    EXPECT_TRUE(c.cnSettingsExist);
    EXPECT_TRUE(Has(report, "Billing Level cannot be '3' when the Billing method is 'Use Contracts(2)', it was changed "
                            "to '1'(491)"))
        << report;
    ASSERT_TRUE(JobOnFile("100001"));
    const uint16_t h = Jcm();
    xio_init_record(h, kRecJob);
    convert::PutText(h, kRecJob, "JOB", "100001");
    ASSERT_EQ(xio_rd_record(h, kRecJob, 0, 0), XIO_OK);
    EXPECT_EQ(convert::GetNumber(h, kRecJob, "JBLEVEL"), 1);
    EXPECT_EQ(convert::GetNumber(h, kRecJob, "JBMETH"), 2);
}

// ---- Ends of the file --------------------------------------------------------------------------------

// A scripted front end: the operator stops after the third record; or the notes print file goes
// away after the first record printed its message (as a printer that failed).
class ScriptedJcm : public xvJCM {
public:
    int stopAfter = 0;
    bool dropNotes = false;

protected:
    void RecordWritten(convert::ConvertContext& ctx, xvl::xvlImpInfo& info) override {
        xvJCM::RecordWritten(ctx, info);
        if (++seen == stopAfter && ctx.progress) ctx.progress->stop = 1;
        if (dropNotes && seen == 2) ui::zp_cls_print_file(ctx.commandId, 201);
    }

private:
    int seen = 0;
};

TEST_F(JcmTest, AStopAfterTheThirdRecordRestoresTheFileAndLeavesTheTextUnstamped) {
    const std::string text = WriteText("stop.txt", Job("100-001") + Phase("100-001", "01-001.01") +
                                                       Phase("100-001", "01-001.02") + Job("100-002"));
    const std::string before = ReadFile(text);
    ConvertProgress progress([] { return int64_t{0}; });
    ScriptedJcm c;
    c.stopAfter = 3;
    const std::string report = Run(text, "Convert", c, &progress);
    EXPECT_TRUE(Has(report, "Conversion canceled by operator")) << report;
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_FALSE(JobOnFile("100001"));  // the groups created on the way are gone too
    EXPECT_FALSE(JobOnFile("100002"));
    const uint16_t h = Jcm();
    EXPECT_NE(xio_rd_first(h, kRecPhase, 0, 0), XIO_OK);
    EXPECT_EQ(ReadFile(text), before);
}

TEST_F(JcmTest, NotesThatCannotPrintRestoreTheFileAndLeaveTheTextUnstamped) {
    const std::string text = WriteText("noprint.txt", Job("100-001", true) + Job("100-002"));
    const std::string before = ReadFile(text);
    ScriptedJcm c;
    c.dropNotes = true;
    const std::string report = Run(text, "Convert", c);
    EXPECT_TRUE(Has(report, "Unable to print warning/log messages")) << report;
    EXPECT_FALSE(JobOnFile("100001"));
    EXPECT_EQ(ReadFile(text), before);
}

TEST_F(JcmTest, ATableGroupThatCannotBeLoadedEndsTheFileBeforeAnyRecord) {
    const std::string text = WriteText("table.txt", Job("100-001"));
    xvJCM c;
    const std::string report = Run(text, "Convert", c, nullptr, "NOSUCH");
    EXPECT_TRUE(Has(report, "Unable to open the Master.xvm file or find table type 'NOSUCH' in the Master.xvm file"))
        << report;
    EXPECT_FALSE(Has(report, "Record Totals")) << report;
    EXPECT_FALSE(JobOnFile("100001"));
    EXPECT_FALSE(Has(ReadFile(text), "Previously Converted"));
}

TEST_F(JcmTest, TemplatesThatCannotBeUsedEndTheFile) {
    WriteFile(texts.path() / "none.txt", "#,JCM\r\n" + Job("100-001"));
    xvJCM a;
    EXPECT_TRUE(Has(Run(texts.str("none.txt"), "Convert", a), "Unable to find a valid template name")) << ui.boxes.size();

    // A template of another data file than the conversion's.
    WriteFile(texts.path() / "other.tpl", "format 1\r\nfile APM 1\r\nrecord 1\r\nfield VENDOR\r\n");
    WriteFile(texts.path() / "other.txt", "#,JCM," + texts.str("other.tpl") + "\r\n1,V1\r\n");
    xvJCM b;
    const std::string other = Run(texts.str("other.txt"), "Convert", b);
    EXPECT_TRUE(Has(other, "Processing is terminated for this file")) << other;
    EXPECT_FALSE(Has(other, "Record Totals")) << other;

    // A template that cannot be read at all.
    WriteFile(texts.path() / "missing.txt", "#,JCM," + texts.str("missing.tpl") + "\r\n" + Job("100-001"));
    xvJCM d;
    const std::string missing = Run(texts.str("missing.txt"), "Convert", d);
    EXPECT_TRUE(Has(missing, "Unable to create a structure from the template file")) << missing;
    EXPECT_FALSE(JobOnFile("100001"));
}

// ---- The job-extra split's copy ------------------------------------------------------------------

TEST_F(JcmTest, JobFieldsCopyRunByRunUntilARunNoLongerMatches) {
    const uint16_t h = Jcm();
    xio_init_record(h, kRecJob);
    xio_init_record(h, kRecExtra);
    convert::PutText(h, kRecJob, "JDESC", "Harbor");
    convert::PutText(h, kRecJob, "JZIP", "04101");
    convert::PutNumber(h, kRecJob, "JSTATUS", 2);
    convert::PutNumber(h, kRecJob, "JOCNT", 12345);
    EXPECT_TRUE(xvJCM::CopyJobFieldsToExtra(h));
    EXPECT_EQ(convert::GetText(h, kRecExtra, "XDESC"), "Harbor");
    EXPECT_EQ(convert::GetText(h, kRecExtra, "XZIP"), "04101");
    EXPECT_EQ(convert::GetNumber(h, kRecExtra, "XSTATUS"), 2);
    EXPECT_EQ(convert::GetNumber(h, kRecExtra, "XOCNT"), 12345);

    // A run one field longer on the job's side than on the extra's stops the copy there: the
    // runs before it are copied, the rest are not.
    xio_init_record(h, kRecExtra);
    const FieldRun runs[] = {{"JDESC", "JZIP", "XDESC", "XZIP"},
                             {"JSTATUS", "JESTSD", "XSTATUS", "XSTATUS"},
                             {"JOCNT", "JLSTDRR", "XOCNT", "XLSTDRR"}};
    EXPECT_FALSE(CopyFieldRuns(h, runs, 3));
    EXPECT_EQ(convert::GetText(h, kRecExtra, "XDESC"), "Harbor");
    EXPECT_EQ(convert::GetNumber(h, kRecExtra, "XSTATUS"), 1);  // its default: not copied
    EXPECT_EQ(convert::GetNumber(h, kRecExtra, "XOCNT"), 0);
    // A field the dictionary does not have is no run at all.
    const FieldRun unknown[] = {{"JDESC", "JNOSUCH", "XDESC", "XZIP"}};
    EXPECT_FALSE(CopyFieldRuns(h, unknown, 1));
}

// ---- A job that cannot be marked as tracking extras ------------------------------------------------

TEST_F(JcmTest, AnExtraWhoseJobCannotBeMarkedIsNotConverted) {
    const uint16_t h = Jcm();
    auto extraOnFile = [&](const std::string& job) {
        xio_init_record(h, kRecExtra);
        convert::PutText(h, kRecExtra, "XJOB", job);
        convert::PutText(h, kRecExtra, "EXTRA", "E1");
        return xio_find_record(h, kRecExtra, 0) == XIO_OK;
    };
    // Failing: the job is converted, its extra rejected, and the job still tracks no extras.
    std::string report;
    {
        FailingCalls fail;
        fail.Fail(xio::FaultCall::ReplaceRecord, 1, XIO_IO_ERROR, "JCM");
        xvJCM failing;
        report = Run(WriteText("io.txt", Job("100-001") + "2,100-001,E1,Lots,1,,,,,,,,,\r\n"), "Convert", failing);
        EXPECT_TRUE(fail.Spent());
    }
    EXPECT_THAT(report, ::testing::HasSubstr("I/O Error writing record"));
    EXPECT_FALSE(extraOnFile("100001"));
    ASSERT_TRUE(JobOnFile("100001"));
    ASSERT_EQ(xio_rd_record(h, kRecJob, 0, 0), XIO_OK);
    EXPECT_NE(convert::GetNumber(h, kRecJob, "JEXTRAS"), 2);

    // A full disk ends the file: nothing of it stays.
    const std::string text = WriteText("full.txt", Job("100-002") + "2,100-002,E1,Lots,1,,,,,,,,,\r\n");
    const std::string before = ReadFile(text);
    {
        FailingCalls fail;
        fail.Fail(xio::FaultCall::ReplaceRecord, 1, XIO_DISK_FULL, "JCM");
        xvJCM full;
        report = Run(text, "Convert", full);
        EXPECT_TRUE(fail.Spent());
    }
    EXPECT_THAT(report, ::testing::HasSubstr("Out of disk space"));
    EXPECT_FALSE(JobOnFile("100002"));
    EXPECT_FALSE(extraOnFile("100002"));
    EXPECT_EQ(ReadFile(text), before);

    // Working: both.
    xvJCM working;
    Run(WriteText("ok.txt", Job("100-003") + "2,100-003,E1,Lots,1,,,,,,,,,\r\n"), "Convert", working);
    EXPECT_TRUE(extraOnFile("100003"));
    ASSERT_TRUE(JobOnFile("100003"));
    ASSERT_EQ(xio_rd_record(h, kRecJob, 0, 0), XIO_OK);
    EXPECT_EQ(convert::GetNumber(h, kRecJob, "JEXTRAS"), 2);
}

}  // namespace
}  // namespace dz::jc
