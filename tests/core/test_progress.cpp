#include "convert/progress.h"

#include "platform/ui/run_state.h"
#include "platform/ui/screen_file.h"
#include "platform/ui/scripted_ui.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace dz::convert;
using namespace dz::ui;
namespace fs = std::filesystem;

namespace {

class Progress : public ::testing::Test {
protected:
    void SetUp() override {
        reset_panels();
        reset_run_state();
        set_current(&person);
        set_screens_folder(fs::path(DZ_SOURCE_DATA_DIR) / "screens");
        screen = xw_open_screen_file("XV");
        ASSERT_NE(screen, kNoScreenFile);
        dir = fs::temp_directory_path() / ("dz_progress_" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        reset_panels();
        xw_cls_screen_file(screen);
        set_current(nullptr);
        fs::remove_all(dir);
    }
    // A text file of `size` bytes.
    std::string file(const std::string& name, std::size_t size) {
        fs::path p = dir / name;
        std::ofstream(p, std::ios::binary) << std::string(size, 'x');
        return p.string();
    }
    ConvertProgress::Clock clock() {
        return [this] { return now; };
    }
    // A steady clock that has moved on by a second at every look: every update is drawn.
    ConvertProgress::Ticker ticker() {
        return [this] { return ticks += 1.0; };
    }

    ScriptedUi person;
    int screen = 0;
    fs::path dir;
    int64_t now = 1'000'000;
    double ticks = 0;
};

}  // namespace

TEST_F(Progress, EmptyTextFilesShowNoRunPercentThroughout) {
    ConvertProgress s(clock(), ticker());
    s.total_bytes = 0;
    s.SetCurrentFile(file("a.txt", 0), "", false);
    s.SetPosition(0, 0, 50);
    EXPECT_EQ(s.run_percent, 0);
    s.SetPosition(0, 0, 100);
    EXPECT_EQ(s.run_percent, 0);
    s.total_bytes = 10;  // a file of 0 bytes in a run with bytes still shows 0
    s.SetPosition(0, 0, 100);
    EXPECT_EQ(s.run_percent, 0);
}

TEST_F(Progress, RunPercentWeighsFilesByTheirSizeAndNeverPassesOneHundred) {
    ConvertProgress s(clock(), ticker());
    std::string a = file("a.txt", 1), b = file("b.txt", 2);
    s.total_bytes = 3;
    s.SetCurrentFile(a, "", false);
    s.SetPosition(1, 0, 100);
    EXPECT_EQ(s.run_percent, 33);  // 1/3 + 0.5 rounding
    s.SetCurrentFile(b, "", false);
    EXPECT_EQ(s.bytes_before, 1u);
    EXPECT_EQ(s.file_size, 2u);
    s.SetPosition(1, 0, 50);
    EXPECT_EQ(s.run_percent, 67);  // (1 + 1) / 3
    s.SetPosition(2, 0, 100);
    EXPECT_EQ(s.run_percent, 100);  // 100.5 would round past it
}

TEST_F(Progress, RunPercentFollowsTheSameFilePercentInALaterFileOrALargerRun) {
    ConvertProgress s(clock(), ticker());
    std::string a = file("a.txt", 4), b = file("b.txt", 4);
    s.total_bytes = 8;
    s.SetCurrentFile(a, "", false);
    s.SetPosition(1, 0, 50);
    s.SetPosition(2, 0, 50);
    EXPECT_EQ(s.run_percent, 25);
    s.total_bytes = 16;  // the run grew: the same file percent weighs less
    s.SetPosition(3, 0, 50);
    EXPECT_EQ(s.run_percent, 13);
    s.total_bytes = 8;
    s.SetCurrentFile(b, "", false);
    s.SetPosition(1, 0, 50);  // the same percent, after the first file
    EXPECT_EQ(s.run_percent, 75);
}

TEST_F(Progress, RecordCountsAccumulateOverFiles) {
    ConvertProgress s(clock(), ticker());
    s.SetCurrentFile(file("a.txt", 5), "", false);
    s.SetPosition(3, 1, 10);
    s.SetPosition(7, 2, 90);
    s.messages = 4;
    s.notes = 1;
    s.SetCurrentFile(file("b.txt", 5), "", false);
    EXPECT_EQ(s.file_records, 0u);
    EXPECT_EQ(s.file_start_count, 5u);
    s.SetPosition(2, 2, 20);
    EXPECT_EQ(s.run_records, 9u);
    EXPECT_EQ(s.run_rejected, 4u);
}

TEST_F(Progress, ElapsedTextsBelowAnHourUpToNinetyNineHoursAndBeyond) {
    EXPECT_EQ(FormatElapsedShort(59 * 60 + 59), "59:59");
    EXPECT_EQ(FormatElapsedPadded(59 * 60 + 59), "59:59");
    EXPECT_EQ(FormatElapsedShort(3600 + 5 * 60), "1:05");
    EXPECT_EQ(FormatElapsedPadded(3600 + 5 * 60), "01:05");
    EXPECT_EQ(FormatElapsedShort(7), "0:07");
    EXPECT_EQ(FormatElapsedPadded(7), "00:07");
    EXPECT_EQ(FormatElapsedShort(99 * 3600 + 59 * 60), "99:59");
    EXPECT_EQ(FormatElapsedPadded(100 * 3600), "");
    EXPECT_EQ(FormatElapsedShort(100 * 3600), "");
    EXPECT_EQ(FormatElapsedPadded(-5), "00:00");  // a clock set back
    ConvertProgress s(clock(), ticker());
    now += 65;
    s.SetCurrentFile(file("a.txt", 1), "", false);
    now += 7;
    EXPECT_EQ(s.FormatFileElapsed(), "0:07");
    EXPECT_EQ(s.FormatRunElapsed(), "01:12");
}

TEST_F(Progress, FileNameAndDataFileDescription) {
    ConvertProgress s(clock(), ticker());
    s.SetCurrentFile("C:\\DATA\\IMPORT\\GLM.txt", "", false);
    EXPECT_EQ(s.text_file_name, "GLM.txt");
    EXPECT_EQ(s.data_file_desc, "NONE");
    EXPECT_EQ(s.file_size, 0u);  // cannot be read
    s.SetCurrentFile("/data/import/" + std::string(60, 'n') + ".txt", "/co/MASTER.GLM", true);
    EXPECT_EQ(s.text_file_name, std::string(50, 'n'));
    EXPECT_EQ(s.data_file_desc, "MASTER.GLM, etc.");
    OpenFilesList none{{"GLM", 1, 0}};
    s.SetCurrentFile("x.txt", none, "GLM", 1, true);
    EXPECT_EQ(s.data_file_desc, "NONE, etc.");
}

TEST_F(Progress, SingleFilePanelShowsTheFileAndItsCounts) {
    ConvertProgress s(clock(), ticker());
    int h = ShowProgressPanel(s, screen, "CONVERT", "STATUSS");
    ASSERT_NE(h, 0);
    Panel* p = xw_find_panel(h);
    EXPECT_EQ(p->text_at(5, 28, 10), "0");
    EXPECT_EQ(p->text_at(8, 3, 15), "0% Complete");
    EXPECT_EQ(p->text_at(8, 64, 7), "00:00");
    s.total_bytes = 10;
    s.SetCurrentFile(file("GLM.txt", 10), "/co/MASTER.GLM", false);
    EXPECT_EQ(p->text_at(2, 15, 56), "GLM.txt");
    EXPECT_EQ(p->text_at(3, 15, 56), "MASTER.GLM");
    s.messages = 2;
    s.notes = 1;
    now += 7;
    s.SetPosition(12, 3, 40);
    EXPECT_EQ(p->text_at(5, 28, 10), "9");
    EXPECT_EQ(p->text_at(6, 28, 10), "3");
    EXPECT_EQ(p->text_at(5, 62, 9), "3");
    EXPECT_EQ(p->text_at(8, 3, 15), "40% Complete");
    EXPECT_EQ(p->text_at(8, 64, 7), "00:07");
    EXPECT_EQ(p->progress(), 40);
    // A file that ended early is said so, and its messages are not counted as a finished file's.
    s.FileEnded({12, 3, 3, false});
    s.SetPosition(12, 3, 100);
    EXPECT_EQ(p->text_at(8, 3, 15), "Ended early");
    EXPECT_EQ(p->text_at(5, 62, 9), "0");
    s.SetStatusText("Rebuilding totals", 25);
    EXPECT_EQ(p->text_at(1, 12, 30), "Rebuilding totals");
    EXPECT_EQ(p->text_at(1, 42, 4), "25%");
    s.SetStatusText(std::string(45, 's'), -1);
    EXPECT_EQ(s.status_text.size(), 40u);
    EXPECT_EQ(p->text_at(1, 12, 45), std::string(40, 's'));
}

TEST_F(Progress, SeveralFilesPanelShowsTheFileAndTheRun) {
    ConvertProgress s(clock(), ticker());
    s.single_file = 0;
    s.total_bytes = 20;
    int h = ShowProgressPanel(s, screen, "EXAMINE", "STATUSM");
    Panel* p = xw_find_panel(h);
    EXPECT_EQ(p->text_at(6, 62, 9), "0:00");
    EXPECT_EQ(p->text_at(12, 3, 15), "0% Complete");
    s.SetCurrentFile(file("a.txt", 10), "", false);
    s.SetPosition(5, 1, 100);
    s.messages = 3;
    s.SetCurrentFile(file("b.txt", 10), "", false);
    // A new file starts its own values again and leaves the run's standing.
    EXPECT_EQ(p->text_at(2, 15, 56), "b.txt");
    EXPECT_EQ(p->text_at(5, 22, 10), "0");
    EXPECT_EQ(p->text_at(5, 62, 9), "0%");
    EXPECT_EQ(p->text_at(9, 28, 10), "4");
    EXPECT_EQ(p->text_at(12, 3, 15), "50% Complete");
    EXPECT_EQ(p->progress(), 50);
    now += 65;
    s.SetPosition(4, 2, 50);
    EXPECT_EQ(p->text_at(5, 22, 10), "2");   // file accepted
    EXPECT_EQ(p->text_at(6, 22, 10), "2");   // file rejected
    EXPECT_EQ(p->text_at(7, 22, 10), "0");   // file messages
    EXPECT_EQ(p->text_at(5, 62, 9), "50%");
    EXPECT_EQ(p->text_at(6, 62, 9), "1:05");
    EXPECT_EQ(p->text_at(9, 28, 10), "6");   // run accepted
    EXPECT_EQ(p->text_at(10, 28, 10), "3");  // run rejected
    EXPECT_EQ(p->text_at(9, 62, 9), "3");
    EXPECT_EQ(p->text_at(12, 3, 15), "75% Complete");
    EXPECT_EQ(p->text_at(12, 64, 7), "01:05");
    EXPECT_EQ(p->progress(), 75);
    EXPECT_EQ(p->text_at(9, 38, 19), "Messages and notes:");  // a value clears its own cells only
    // A put-back takes the file's accepted records out again: the window counts what stayed,
    // and the run's totals are the first file's alone.
    s.FileEnded({4, 2, 0, true});
    s.SetPosition(4, 2, 50);
    EXPECT_EQ(p->text_at(5, 22, 10), "0");   // file accepted
    EXPECT_EQ(p->text_at(6, 22, 10), "2");   // file rejected: in its reject file
    EXPECT_EQ(p->text_at(9, 28, 10), "4");   // run accepted: the first file's 4
    EXPECT_EQ(p->text_at(10, 28, 10), "1");  // run rejected: the first file's 1
    EXPECT_EQ(p->text_at(5, 62, 9), "Ended");
    EXPECT_EQ(p->text_at(12, 3, 15), "75% Complete");  // the run goes on
    s.SetPosition(4, 2, 100);
    EXPECT_EQ(p->text_at(12, 3, 15), "Ended early");
    // The next file is its own again.
    s.SetCurrentFile(file("c.txt", 10), "", false);
    s.SetPosition(1, 0, 30);
    EXPECT_EQ(p->text_at(5, 62, 9), "30%");
}

TEST_F(Progress, StopAskedAndDeclinedLetsTheRunContinue) {
    ConvertProgress s(clock(), ticker());
    ShowProgressPanel(s, screen, "CONVERT", "STATUSS");
    s.SetCurrentFile(file("a.txt", 10), "", false);
    person.at_dispatch(1, "CONVERT/STATUSS", PanelAction::press(1));  // Stop
    person.answer(kNo);
    EXPECT_TRUE(s.SetPosition(1, 0, 10));
    EXPECT_EQ(s.stop, 0);
    ASSERT_EQ(person.messages().size(), 1u);
    EXPECT_EQ(person.messages()[0].kind, kQuestion);
    EXPECT_EQ(person.messages()[0].text, "OK to stop?");

    person.at_dispatch(1, "CONVERT/STATUSS", PanelAction::escape());
    person.answer(kYes);
    EXPECT_FALSE(s.SetPosition(2, 0, 20));
    EXPECT_EQ(s.stop, 1);
    // Once stopping, no further question, and the stop stays.
    person.at_dispatch(1, "CONVERT/STATUSS", PanelAction::escape());
    EXPECT_FALSE(s.SetStatusText("x", -1));
    EXPECT_FALSE(s.SetCurrentFile(file("b.txt", 1), "", false));
    EXPECT_EQ(person.messages().size(), 2u);
}

TEST_F(Progress, AnyAnswerButYesIsDeclined) {
    ConvertProgress s(clock(), ticker());
    ShowProgressPanel(s, screen, "CONVERT", "STATUSS");
    for (int answer : {int{kNo}, int{kCancel}, 0, 7}) {
        person.at_dispatch(1, "CONVERT/STATUSS", PanelAction::escape());
        person.answer(answer);
        EXPECT_TRUE(s.SetPosition(1, 0, 1)) << answer;
    }
    EXPECT_EQ(s.stop, 0);
}

TEST_F(Progress, TerminateEventStopsWithoutAsking) {
    ConvertProgress s(clock(), ticker());
    int h = ShowProgressPanel(s, screen, "TABLE", "STATUSI");
    xw_post_message(h, kMsgButton, 11);
    EXPECT_FALSE(s.SetPosition(1, 0, 1));
    EXPECT_TRUE(person.messages().empty());
    EXPECT_TRUE(s.StopRequested());
}

TEST_F(Progress, WithoutAPanelUpdatesStillDispatchAndAnswer) {
    ConvertProgress s(clock(), ticker());
    EXPECT_TRUE(s.SetCurrentFile(file("a.txt", 3), "", false));
    EXPECT_TRUE(s.SetPosition(1, 0, 30));
    EXPECT_EQ(person.dispatches(), 2);
}

TEST_F(Progress, RecordsAreDrawnAndPolledOnAClockNotEachOne) {
    double at = 0;
    ConvertProgress s(clock(), [&at] { return at; });
    ShowProgressPanel(s, screen, "CONVERT", "STATUSS");
    s.SetCurrentFile(file("a.txt", 1000), "", false);
    const int before = person.dispatches();
    for (uint32_t r = 1; r <= 1000; ++r) EXPECT_TRUE(s.SetPosition(r, 0, static_cast<int16_t>(r / 20)));
    EXPECT_EQ(person.dispatches(), before);  // within one poll interval, whatever the percent did
    // Once the interval has passed, the next record draws its counts and lets a Stop in.
    at += ConvertProgress::kPollSeconds;
    person.at_dispatch(1, "CONVERT/STATUSS", PanelAction::press(1));
    person.answer(kYes);
    EXPECT_FALSE(s.SetPosition(1001, 0, 50));
    EXPECT_EQ(person.dispatches(), before + 1);
    EXPECT_EQ(xw_find_panel(s.panel)->text_at(5, 28, 10), "1001");
    // The file's end is always drawn.
    EXPECT_FALSE(s.SetPosition(1002, 0, 100));
    EXPECT_EQ(person.dispatches(), before + 2);
}
