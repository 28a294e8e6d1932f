// The totals rebuild that ends a JC master Convert, in process: an operator's stop at one of its
// progress steps, a rewrite or a draw that cannot be written (each leaves the JC master file as it
// was before the conversion and the text file unstamped), and a progress bar whose cost does not
// grow with the file.
#include "test_jcm_support.h"

#include "platform/datafile/store.h"

#include <map>

namespace dz::jc {
namespace {

using namespace dz::jc::testing;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr uint16_t kRecDraw = 5;

// A job billed at level 1 with a top group, a group below it and `leaves` phases in that group;
// the first phase has a category with an estimate, so the rebuild changes every level.
class JcmRebuildTest : public JcmTest {
protected:
    void StoreJob(const std::string& job, double paid = 0) {
        Store(kRecJob, {{"JOB", job}}, {{"JBLEVEL", 1}, {"JJTDPY", paid}});
    }
    void StorePhases(const std::string& job, const std::string& top, int groups, int leaves) {
        Store(kRecPhase, {{"PJOB", job}, {"PHASE", top + "00000"}}, {{"PGPHASE", 1}});
        for (int g = 1; g <= groups; ++g) {
            const std::string group = top + Digits(g, 3);
            Store(kRecPhase, {{"PJOB", job}, {"PHASE", group + "00"}}, {{"PGPHASE", 1}});
            for (int k = 1; k <= leaves; ++k) Store(kRecPhase, {{"PJOB", job}, {"PHASE", group + Digits(k, 2)}});
        }
        Store(kRecCategory, {{"CJOB", job}, {"CPHASE", top + "00101"}, {"CAT", "LAB"}}, {{"CCTYPE", 1}, {"COEST", 1250}});
    }
    static std::string Digits(int n, int width) {
        std::string s = std::to_string(n);
        return std::string(static_cast<std::size_t>(width) - s.size(), '0') + s;
    }
    double Estimate(const std::string& job, const std::string& phase) {
        return NumberOf(kRecPhase, {{"PJOB", job}, {"PEXTRA", ""}, {"PHASE", phase}}, "POEST");
    }

};

// The converter with the rebuild's failure planned only once the record loop is done: the `nth`
// call of `call` on the JC master file answers `status`.
class FaultyRebuild : public xvJCM {
public:
    xio::FaultCall call = xio::FaultCall::ReplaceRecord;
    int nth = 1, status = XIO_IO_ERROR;
    bool spent = false;

protected:
    bool FinishConversion(convert::ConvertContext& ctx) override {
        FailingCalls fail;
        fail.Fail(call, nth, status, "JCM");
        const bool done = xvJCM::FinishConversion(ctx);
        spent = fail.Spent();
        return done;
    }
};

TEST_F(JcmRebuildTest, AStopAtAGroupTotalsStepRestoresTheFileAndLeavesTheTextUnstamped) {
    StoreJob("300001");
    StorePhases("300001", "01", 2, 6);
    const std::string text = WriteText("stop.txt", Job("900-001"));
    const std::string before = ReadFile(text), master = MasterBytes();
    ConvertProgress progress([] { return int64_t{0}; });
    std::vector<std::string> titles;
    ui.onDispatch = [&] {
        if (titles.empty() || titles.back() != progress.status_text) titles.push_back(progress.status_text);
        if (progress.status_text.rfind("Updating group", 0) == 0) progress.stop = 1;
    };
    xvJCM c;
    const std::string report = Run(text, "Convert", c, &progress);
    EXPECT_THAT(report, HasSubstr("Conversion canceled by operator"));
    EXPECT_TRUE(ui.boxes.empty());
    // The phase totals came before the stop and are gone with the trigger job.
    const std::string phaseTitle = "Updating " + suite::xk_description(suite::kPhaseFormat) + " totals:";
    EXPECT_THAT(titles, ::testing::Contains(phaseTitle));
    EXPECT_THAT(titles, Not(::testing::Contains("Updating job totals:")));
    EXPECT_FALSE(JobOnFile("900001"));
    EXPECT_EQ(Estimate("300001", "0100101"), 0);
    EXPECT_TRUE(MasterBytes() == master);
    EXPECT_EQ(ReadFile(text), before);
}

// A stop in the cost-code pass, whose walk is still open when the stop comes, restores as well.
TEST_F(JcmRebuildTest, AStopInTheCostCodePassRestoresTheFile) {
    StoreJob("300001");
    StorePhases("300001", "01", 2, 6);
    const std::string text = WriteText("stop.txt", Job("900-001"));
    const std::string before = ReadFile(text), master = MasterBytes();
    ConvertProgress progress([] { return int64_t{0}; });
    const std::string phaseTitle = "Updating " + suite::xk_description(suite::kPhaseFormat) + " totals:";
    ui.onDispatch = [&] {
        if (progress.status_text == phaseTitle) progress.stop = 1;
    };
    xvJCM c;
    EXPECT_THAT(Run(text, "Convert", c, &progress), HasSubstr("Conversion canceled by operator"));
    EXPECT_FALSE(JobOnFile("900001"));
    EXPECT_TRUE(MasterBytes() == master);
    EXPECT_EQ(ReadFile(text), before);
}

// Group phases converted with their amounts 0 take their members' totals; one on file with an
// amount whose members have none is set back to 0.
TEST_F(JcmRebuildTest, ConvertedGroupsTakeTheirMembersTotals) {
    Store(kRecCategory, {{"CJOB", "300001"}, {"CPHASE", "0100101"}, {"CAT", "LAB"}}, {{"CCTYPE", 1}, {"COEST", 1250}});
    Store(kRecPhase, {{"PJOB", "300001"}, {"PHASE", "0100300"}}, {{"PGPHASE", 1}, {"POEST", 999}});
    Store(kRecPhase, {{"PJOB", "300001"}, {"PHASE", "0100301"}});
    auto phase = [](const std::string& code, const std::string& estimate) {
        return "3,300-001,," + code + ",Phase " + code + ",,,,Y,,,,," + estimate + ",,,,,,,,\r\n";
    };
    xvJCM c;
    const std::string report =
        Run(WriteText("groups.txt", Job("300-001") + phase("01-000.00", "") + phase("01-001.00", "") +
                                        phase("01-001.01", "") + phase("01-002.00", "") + phase("01-002.01", "")),
            "Convert", c);
    EXPECT_THAT(report, Not(HasSubstr("Unable")));
    EXPECT_EQ(Estimate("300001", "0100101"), 1250);
    EXPECT_EQ(Estimate("300001", "0100100"), 1250);
    EXPECT_EQ(Estimate("300001", "0100000"), 1250);
    EXPECT_EQ(Estimate("300001", "0100200"), 0);
    EXPECT_EQ(Estimate("300001", "0100300"), 0);
    EXPECT_EQ(NumberOf(kRecJob, {{"JOB", "300001"}}, "JOEST"), 1250);
}

// Into a file without cost codes or categories, the rebuild still totals what the text file
// brings: a category's estimate, and a cost code's scheduled value moved up to its job; while
// cost codes that bring nothing leave every total at 0.
TEST_F(JcmRebuildTest, AnEmptyFileTakesTheTotalsOfTheAmountsTheTextFileBrings) {
    Store(kRecStdCategory, {{"SCAT", "LAB"}, {"SCDESC", "Labor"}}, {{"SCCTYPE", 1}});
    auto phase = [](const std::string& code, const std::string& scheduled, const std::string& job = "300-001") {
        return "3," + job + ",," + code + ",Phase " + code + ",,,,Y,," + scheduled + ",,,,,,,,,,,\r\n";
    };
    const std::string category = "4,300-001,,01-001.01,LAB,Labor,,,,12.50,,,,,,,\r\n";
    xvJCM c;
    const std::string report =
        Run(WriteText("empty.txt", Job("300-001") + phase("01-000.00", "") + phase("01-001.00", "") +
                                       phase("01-001.01", "") + category + phase("01-002.00", "") +
                                       phase("01-002.01", "7.00") + Job("300-002") + phase("01-000.00", "", "300-002") +
                                       phase("01-001.01", "", "300-002")),
            "Convert", c);
    EXPECT_THAT(report, Not(HasSubstr("Unable")));
    EXPECT_THAT(report, Not(HasSubstr("rejected")));
    EXPECT_EQ(Estimate("300001", "0100101"), 1250);
    EXPECT_EQ(Estimate("300001", "0100100"), 1250);
    EXPECT_EQ(Estimate("300001", "0100000"), 1250);
    EXPECT_EQ(NumberOf(kRecJob, {{"JOB", "300001"}}, "JOEST"), 1250);
    EXPECT_EQ(NumberOf(kRecPhase, {{"PJOB", "300001"}, {"PEXTRA", ""}, {"PHASE", "0100201"}}, "POSV"), 0);
    EXPECT_EQ(NumberOf(kRecJob, {{"JOB", "300001"}}, "JOCNT"), 700);
    EXPECT_EQ(Estimate("300002", "0100000"), 0);
    EXPECT_EQ(NumberOf(kRecJob, {{"JOB", "300002"}}, "JOEST"), 0);
}

// Into an empty file whose cost codes bring no amount, the job pass still runs for a job whose
// billing amounts leave its billing balance to be worked out, and the draw pass gives it a draw.
TEST_F(JcmRebuildTest, AJobsBillingBalanceIsWorkedOutWhenNoCostCodeBringsAnAmount) {
    const std::string billed = "1,300-002,Job 300-002,,,,,1,,,,,1,1,,,,,1,,,,,,,,,10.00,1.00,5.00,\r\n";
    xvJCM c;
    const std::string text =
        Job("300-001") + Phase("300-001", "01-001.01") + billed + Phase("300-002", "01-001.01");
    const std::string report = Run(WriteText("billed.txt", text), "Convert", c);
    EXPECT_THAT(report, Not(HasSubstr("rejected")));
    EXPECT_EQ(NumberOf(kRecJob, {{"JOB", "300002"}}, "JJTDWB"), 1000);
    EXPECT_EQ(NumberOf(kRecJob, {{"JOB", "300002"}}, "JBLBAL"), 400);
    EXPECT_EQ(NumberOf(kRecJob, {{"JOB", "300001"}}, "JBLBAL"), 0);
    // Its billing amounts give it a balance-forward draw.
    EXPECT_EQ(NumberOf(kRecDraw, {{"RJOB", "300002"}, {"REXTRA", ""}, {"RDRAW", "BF"}}, "RCHARGE"), 1000);
}

// A job whose billing amounts leave no balance is one the job pass leaves as it is; it still gets
// its draw.
TEST_F(JcmRebuildTest, AJobPaidInFullStillGetsItsDrawWhenNoCostCodeBringsAnAmount) {
    const std::string paid = "1,300-003,Job 300-003,,,,,1,,,,,1,1,,,,,1,,,,,,,,,10.00,,10.00,\r\n";
    xvJCM c;
    const std::string report = Run(WriteText("paid.txt", paid + Phase("300-003", "01-001.01")), "Convert", c);
    EXPECT_THAT(report, Not(HasSubstr("rejected")));
    EXPECT_EQ(NumberOf(kRecJob, {{"JOB", "300003"}}, "JBLBAL"), 0);
    EXPECT_EQ(NumberOf(kRecDraw, {{"RJOB", "300003"}, {"REXTRA", ""}, {"RDRAW", "BF"}}, "RPAYAMT"), 1000);
}

// A failed rewrite ends the rebuild in the phase pass and in a group level that is not the last:
// either way nothing of the conversion stays, and it is no success. Only the phase with the
// category changes in the phase pass; the group above it is the first rewrite of the group pass,
// whose top level comes after.
TEST_F(JcmRebuildTest, ARewriteThatFailsInAPhasePassOrAGroupLevelRestoresTheFile) {
    // An earlier job whose phases change nothing: each pass has shown its title when it fails.
    StoreJob("200001");
    for (int k = 1; k <= 6; ++k) Store(kRecPhase, {{"PJOB", "200001"}, {"PHASE", "02001" + Digits(k, 2)}});
    StoreJob("300001");
    StorePhases("300001", "01", 2, 3);
    const std::string text = WriteText("fail.txt", Job("900-001"));
    const std::string before = ReadFile(text), master = MasterBytes();
    ConvertProgress progress([] { return int64_t{0}; });
    std::string title;
    ui.onDispatch = [&] {
        if (!progress.status_text.empty()) title = progress.status_text;
    };
    const std::string phase = suite::xk_description(suite::kPhaseFormat);
    for (const auto& [nth, pass] : {std::pair{1, "Updating " + phase + " totals:"},
                                    std::pair{2, "Updating group " + phase + " totals:"}}) {
        SCOPED_TRACE(pass);
        title.clear();
        FaultyRebuild c;
        c.nth = nth;
        const std::string report = Run(text, "Convert", c, &progress);
        EXPECT_TRUE(c.spent);
        EXPECT_EQ(title, pass);  // where it stopped
        EXPECT_THAT(report, HasSubstr("Unable to read from or write to a Halvorsend data file"));
        EXPECT_THAT(report, Not(HasSubstr("Out of disk space")));
        EXPECT_FALSE(JobOnFile("900001"));
        EXPECT_EQ(Estimate("300001", "0100101"), 0);
        EXPECT_TRUE(MasterBytes() == master);
        EXPECT_EQ(ReadFile(text), before);
    }
    // Without a failure the same file converts, its groups totalled.
    xvJCM c;
    Run(text, "Convert", c);
    EXPECT_EQ(Estimate("300001", "0100100"), 1250);
    EXPECT_EQ(Estimate("300001", "0100000"), 1250);
}

// The group pass reads the groups the phase pass listed, and the jobs the top cost codes it
// listed; with no room for the lists they walk every cost code. Both give the same totals: a job
// rebuilt each way matches one rebuilt the other way, flagged amounts moved up and cleared below,
// estimates from a category.
class SmallGroupList : public xvJCM {
public:
    SmallGroupList() { groupListBudget_ = 16; }  // room for one group and one top cost code
};

TEST_F(JcmRebuildTest, GroupsTotalTheSameFromTheListAsFromAWalk) {
    auto load = [&](const std::string& job) {
        StoreJob(job);
        StorePhases(job, "01", 2, 1);
        StorePhases(job, "02", 1, 1);
        Store(kRecPhase, {{"PJOB", job}, {"PHASE", "0100202"}}, {{"PJTDWB", -700}, {"POEST", 30}});
        Store(kRecPhase, {{"PJOB", job}, {"PHASE", "0200102"}}, {{"PJTDWB", 250}});
    };
    const char* codes[] = {"0100000", "0100100", "0100101", "0100200", "0100201",
                           "0100202", "0200000", "0200100", "0200101", "0200102"};
    auto totals = [&](const std::string& job) {
        std::vector<double> out{NumberOf(kRecJob, {{"JOB", job}}, "JOEST"), NumberOf(kRecJob, {{"JOB", job}}, "JJTDWB")};
        for (const char* code : codes)
            for (const char* field : {"POEST", "PJTDWB"})
                out.push_back(NumberOf(kRecPhase, {{"PJOB", job}, {"PEXTRA", ""}, {"PHASE", code}}, field));
        return out;
    };
    load("300001");
    SmallGroupList walk;
    Run(WriteText("walk.txt", Job("900-001")), "Convert", walk);
    const std::vector<double> walked = totals("300001");
    EXPECT_EQ(walked[0], 1250 + 1250);  // a cost code's estimate comes from its categories
    EXPECT_EQ(walked[1], -700 + 250);
    load("300002");
    xvJCM listed;
    Run(WriteText("list.txt", Job("900-002")), "Convert", listed);
    EXPECT_EQ(totals("300002"), walked);
    EXPECT_EQ(totals("300001"), walked);  // a second rebuild changes nothing
}

// A balance-forward draw that cannot be written ends the rebuild: "Out of disk space" for a full
// disk, the read/write failure otherwise.
TEST_F(JcmRebuildTest, ADrawThatCannotBeWrittenRestoresTheFileAndSaysWhy) {
    StoreJob("300001", 700);
    const std::string text = WriteText("draw.txt", Job("900-001"));
    const std::string before = ReadFile(text), master = MasterBytes();
    for (const auto& [status, says] : {std::pair{XIO_DISK_FULL, "Out of disk space"},
                                       std::pair{XIO_IO_ERROR, "Unable to read from or write to a Halvorsend data file"}}) {
        SCOPED_TRACE(says);
        FaultyRebuild c;
        c.call = xio::FaultCall::WriteRecord;
        c.status = status;
        const std::string report = Run(text, "Convert", c);
        EXPECT_TRUE(c.spent);
        EXPECT_THAT(report, HasSubstr(says));
        EXPECT_FALSE(JobOnFile("900001"));
        EXPECT_TRUE(MasterBytes() == master);
        EXPECT_EQ(ReadFile(text), before);
    }
    // Without the failure the job gets its draw.
    xvJCM c;
    Run(text, "Convert", c);
    const uint16_t h = Jcm();
    xio_init_record(h, kRecDraw);
    convert::PutText(h, kRecDraw, "RJOB", "300001");
    ASSERT_EQ(xio_rd_ge(h, kRecDraw, 0, 0), XIO_OK);
    EXPECT_EQ(convert::GetText(h, kRecDraw, "RDRAW"), "BF");
    EXPECT_EQ(convert::GetNumber(h, kRecDraw, "RPAYAMT"), 700);  // the job's payments
}

// The progress of every pass is the share of its records passed. Finding it must not cost a
// count over the file at each step: the count statements of a conversion are as many for three
// times the phases.
TEST_F(JcmRebuildTest, TheProgressBarCostsNoCountPerStep) {
    ConvertProgress progress([] { return int64_t{0}; });
    std::map<std::string, std::pair<int, int>> range;  // title -> lowest and highest value
    ui.onDispatch = [&] {
        if (progress.status_text.empty()) return;
        const auto it = range.try_emplace(progress.status_text, progress.status_value, progress.status_value).first;
        it->second.first = std::min<int>(it->second.first, progress.status_value);
        it->second.second = std::max<int>(it->second.second, progress.status_value);
    };
    auto counts = [&](const std::string& job, int leaves) {
        StoreJob(job);
        for (int top = 1; top <= 8; ++top) StorePhases(job, Digits(top, 2), 6, leaves);
        xvJCM c;
        const int64_t first = xio::count_queries();
        const std::string report = Run(WriteText(job + ".txt", Job("9" + job.substr(1, 2) + "-001")), "Convert", c, &progress);
        EXPECT_THAT(report, Not(HasSubstr("Unable")));
        return xio::count_queries() - first;
    };
    const int64_t small = counts("310001", 2);
    const int64_t large = counts("320001", 6);
    EXPECT_EQ(large, small);
    EXPECT_EQ(Estimate("320001", "0800000"), 1250);
    const std::string phase = suite::xk_description(suite::kPhaseFormat);
    for (const std::string& title : {"Updating " + phase + " totals:", "Updating group " + phase + " totals:"}) {
        ASSERT_TRUE(range.count(title)) << title;
        EXPECT_LE(range[title].first, 5) << title;
        EXPECT_GE(range[title].second, 95) << title;
    }
}

}  // namespace
}  // namespace dz::jc
