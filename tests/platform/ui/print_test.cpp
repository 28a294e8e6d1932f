#include "ui_test_support.h"

#include "platform/ui/framework.h"
#include "platform/ui/full_output.h"
#include "platform/ui/hub.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sys/stat.h>
#include <sstream>

using namespace dz::ui;
namespace fs = std::filesystem;

using Printing = UiTest;

namespace {
std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

fs::path temp_dir(const std::string& name) {
    fs::path d = fs::temp_directory_path() / ("dz_ui_" + name + "_" + std::to_string(::getpid()));
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
}
}  // namespace

TEST_F(Printing, FieldsLandAtTheirColumnsCutToWidthAndRightAligned) {
    int pr = xp_open_print(PrintDef{"T", 40}, Destination::Spool);
    ASSERT_NE(pr, 0);
    xp_put_field(pr, 1, 80, 0, "Record ID");
    xp_put_field(pr, 16, 4, kPrintRight, "Line");
    xp_put_field(pr, 22, 80, 0, "Reason for Rejection and more words");  // cut at the line width 40
    EXPECT_EQ(xp_wr_line(pr, 1, 0, 0), 0);
    xp_put_field(pr, 1, 13, 0, "ABCDEFGHIJKLMNOP");  // cut to 13
    xp_put_field(pr, 12, 8, kPrintRight, "17");
    EXPECT_EQ(xp_wr_line(pr, 1, 0, 0), 0);
    const auto& lines = *xp_lines(pr);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], " Record ID      Line  Reason for Rejecti");
    EXPECT_EQ(lines[0].size(), 40u);
    EXPECT_EQ(lines[1], " ABCDEFGHIJKLM    17");  // "17" ends at column 19
    EXPECT_EQ(xp_get_def(pr).width, 40);
}

// A control character is shown as "\033", four columns, and a cell is cut between whole
// characters of what it shows: never inside an escape.
TEST_F(Printing, ACellIsCutBetweenWholeShownCharacters) {
    int pr = xp_open_print(PrintDef{"T", 40}, Destination::Spool);
    xp_put_field(pr, 1, 13, 0, "\0337Z\t1\t2");  // shown "\0337Z\0111\0112": 16 columns
    xp_put_field(pr, 16, 4, kPrintRight, "9");
    EXPECT_EQ(xp_wr_line(pr, 1, 0, 0), 0);
    xp_put_field(pr, 30, 80, 0, "abcdefgh\x1b");  // the line's end cuts before the escape
    EXPECT_EQ(xp_wr_line(pr, 1, 0, 0), 0);
    xp_put_field(pr, 0, 10, 0, "ab\xc2\x9b" "c");  // a C1 control is two escapes, kept whole too
    EXPECT_EQ(xp_wr_line(pr, 1, 0, 0), 0);
    xp_put_field(pr, 0, 5, 0, "\x1b" "\xc3\xa9");  // "é" is two bytes: never half of it
    EXPECT_EQ(xp_wr_line(pr, 1, 0, 0), 0);
    EXPECT_EQ(*xp_lines(pr), (std::vector<std::string>{" \\0337Z\\0111       9", std::string(30, ' ') + "abcdefgh",
                                                       "ab\\302\\233", "\\033"}));
}

TEST_F(Printing, SpacingLeavesBlankLinesExceptAtTheTopOfAPage) {
    int pr = xp_open_print(PrintDef{}, Destination::Spool);
    xp_put_field(pr, 0, 10, 0, "first");
    xp_wr_line(pr, 2, 0, 1);  // top of the first page: no blank, no page break
    xp_put_field(pr, 0, 10, 0, "second");
    xp_wr_line(pr, 3, 0, 0);
    xp_put_field(pr, 0, 10, 0, "third");
    xp_wr_line(pr, 1, 0, 1);  // a new page
    EXPECT_EQ(*xp_lines(pr), (std::vector<std::string>{"first", "", "", "second", "\fthird"}));
    EXPECT_EQ(xp_lines_left(pr), kPageLength - 1);
}

TEST_F(Printing, AFullPageBreaksByItself) {
    int pr = xp_open_print(PrintDef{}, Destination::Spool);
    for (int i = 0; i < kPageLength; ++i) {
        xp_put_field(pr, 0, 5, 0, std::to_string(i));
        xp_wr_line(pr, 1, 0, 0);
    }
    EXPECT_EQ(xp_lines_left(pr), kPageLength);
    xp_put_field(pr, 0, 5, 0, "next");
    xp_wr_line(pr, 2, 0, 0);  // no blank line at the top of the new page
    const auto& lines = *xp_lines(pr);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kPageLength + 1));
    EXPECT_EQ(lines.back(), "\fnext");
}

TEST_F(Printing, SpacingThatDoesNotFitStartsANewPage) {
    int pr = xp_open_print(PrintDef{}, Destination::Spool);
    for (int i = 0; i < kPageLength - 2; ++i) xp_wr_line(pr, 1, 0, 0);
    EXPECT_EQ(xp_lines_left(pr), 2);
    xp_put_field(pr, 0, 6, 0, "totals");
    xp_wr_line(pr, 4, 0, 0);
    EXPECT_EQ(xp_lines(pr)->back(), "\ftotals");
}

// A report file on a full disk fails at the line that could not be written, not when the
// report is closed after the conversion it reports on has committed.
TEST_F(Printing, AFileLineThatCannotBeWrittenFailsAtOnce) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    const int report = xp_open_print(PrintDef{"Conversion Report", 132}, Destination::File, "/dev/full");
    ASSERT_NE(report, 0);
    xp_put_field(report, 0, 20, 0, "a short line");
    EXPECT_NE(xp_wr_line(report, 1, 0, 0), 0);
    EXPECT_EQ(xp_error(report), ENOSPC);
    xp_close_print(report);
}

// What to do about an output that took no more: a file's disk is freed or another file named; a
// device (/dev/full) is no disk, so only another file is named.
TEST(FullOutput, ADeviceIsNoDiskToFreeSpaceOn) {
    const fs::path dir = temp_dir("full");
    std::ofstream(dir / "r.txt") << "x";
    const NextStep file = full_output_step((dir / "r.txt").string(), false);
    EXPECT_EQ(file, (NextStep{Step::FreeSpaceOrOtherReport, {(dir / "r.txt").string()}}));
    EXPECT_EQ(full_output_step("/dev/null", true), (NextStep{Step::OtherNotes, {"/dev/null"}}));
    EXPECT_EQ(full_output_step("/dev/null", false).step, Step::OtherReport);
    EXPECT_TRUE(about_full_output(file) && about_full_output({Step::OtherNotes, {}}));
    EXPECT_FALSE(about_full_output({Step::FreeSpace, {}}));
    fs::remove_all(dir);
}

TEST_F(Printing, NotesAreSpooledAndPrintedIntoTheReportFromANewPage) {
    fs::path dir = temp_dir("notes");
    int report = xp_open_print(PrintDef{"Conversion Report", 132}, Destination::File, (dir / "r.txt").string());
    ASSERT_NE(report, 0);
    xp_put_field(report, 0, 20, 0, "Record Totals");
    xp_wr_line(report, 1, 0, 0);

    PrintFileDef notes{2, 0, 3020, 201, 132};
    ASSERT_EQ(zp_open_print_file(notes), 0);
    ASSERT_NE(notes.print, 0);
    xp_put_field(notes.print, 1, 80, 0, "Messages recorded");
    EXPECT_EQ(zp_put_line(notes, 2), 0);
    xp_put_field(notes.print, 22, 80, 0, "a note");
    EXPECT_EQ(zp_put_line(notes, 1), 0);
    EXPECT_EQ(zp_print_file(3020, 201, report), 0);
    zp_cls_print_file(3020, 201);
    EXPECT_EQ(zp_print_file(3020, 201, report), 2);  // closed: nothing to print
    EXPECT_TRUE(xp_lines(report)->empty());  // a file's lines are written, never kept
    EXPECT_EQ(xp_close_print(report), 0);
    EXPECT_EQ(slurp(dir / "r.txt"), "Record Totals\n\f Messages recorded\n                      a note\n");
    fs::remove_all(dir);
}

TEST_F(Printing, AReportFileThatCannotBeCreatedIsRefused) {
    EXPECT_EQ(xp_open_print(PrintDef{}, Destination::File, "/nonexistent-dir/x/report.txt"), 0);
    EXPECT_NE(xp_wr_line(12345, 1, 0, 0), 0);  // no such job
}

TEST_F(Printing, AReportFileIsNeverWrittenThroughALinkNorOverADataFile) {
    fs::path dir = temp_dir("links");
    const fs::path other = dir / "other.txt";
    {
        std::ofstream(other) << "someone else's";
    }
    fs::create_symlink(other, dir / "link.txt");
    fs::create_symlink(dir / "planted.txt", dir / "dangling.txt");
    EXPECT_EQ(xp_open_print(PrintDef{}, Destination::File, (dir / "link.txt").string()), 0);
    EXPECT_EQ(xp_open_print(PrintDef{}, Destination::File, (dir / "dangling.txt").string()), 0);
    EXPECT_EQ(slurp(other), "someone else's");
    EXPECT_FALSE(fs::exists(dir / "planted.txt"));

    const fs::path data = dir / "MASTER.GLM";
    const std::string header("SQLite format 3\0rest of a data file", 34);
    {
        std::ofstream(data, std::ios::binary) << header;
    }
    EXPECT_EQ(xp_open_print(PrintDef{}, Destination::File, data.string()), 0);
    EXPECT_EQ(slurp(data), header);

    ::mkfifo((dir / "fifo.txt").c_str(), 0600);  // refused at once, never waited on
    EXPECT_EQ(xp_open_print(PrintDef{}, Destination::File, (dir / "fifo.txt").string()), 0);

    // An ordinary earlier report is replaced.
    {
        std::ofstream(dir / "r.txt") << "an older, longer report";
    }
    const int pr = xp_open_print(PrintDef{}, Destination::File, (dir / "r.txt").string());
    ASSERT_NE(pr, 0);
    xp_put_field(pr, 0, 20, 0, "new");
    xp_wr_line(pr, 1, 0, 0);
    EXPECT_EQ(xp_close_print(pr), 0);
    EXPECT_EQ(slurp(dir / "r.txt"), "new\n");
    fs::remove_all(dir);
}

TEST_F(Printing, ScreenAndPrinterDestinationsGoToTheFrontEnd) {
    int s = xp_open_print(PrintDef{"Examine Files Report", 132}, Destination::Screen);
    xp_put_field(s, 0, 10, 0, "hello");
    xp_wr_line(s, 1, 0, 0);
    EXPECT_EQ(xp_close_print(s), 0);
    ASSERT_EQ(person.reports().size(), 1u);
    EXPECT_EQ(person.reports()[0].title, "Examine Files Report");
    EXPECT_EQ(person.reports()[0].lines, std::vector<std::string>{"hello"});
    int p = xp_open_print(PrintDef{"X", 132}, Destination::Printer);
    EXPECT_EQ(xp_close_print(p), 0);
    EXPECT_EQ(person.printed().size(), 1u);
}

// A report longer than what is kept in memory goes to a spool and comes back whole, in order,
// with its page breaks: to the screen at its end, and as notes printed into a report file.
TEST_F(Printing, ALongReportComesBackWholeFromItsSpool) {
    constexpr int kLines = 20000;  // some 200 KB
    const fs::path dir = temp_dir("long");
    const int report = xp_open_print(PrintDef{"R", 132}, Destination::File, (dir / "r.txt").string());
    PrintFileDef notes{2, 0, 3020, 201, 132};
    ASSERT_EQ(zp_open_print_file(notes), 0);
    const int screen = xp_open_print(PrintDef{"S", 132}, Destination::Screen);
    for (int i = 0; i < kLines; ++i) {
        xp_put_field(screen, 0, 20, 0, "line " + std::to_string(i));
        xp_wr_line(screen, 1, 0, 0);
        xp_put_field(notes.print, 0, 20, 0, "note " + std::to_string(i));
        zp_put_line(notes, 1);
    }
    EXPECT_EQ(xp_close_print(screen), 0);
    ASSERT_EQ(person.reports().size(), 1u);
    const auto& shown = person.reports()[0].lines;
    ASSERT_EQ(shown.size(), static_cast<std::size_t>(kLines));
    EXPECT_EQ(shown[59], "line 59");
    EXPECT_EQ(shown[kPageLength], "\fline 60");
    EXPECT_EQ(shown.back(), "line 19999");
    EXPECT_EQ(zp_print_file(3020, 201, report), 0);
    zp_cls_print_file(3020, 201);
    EXPECT_EQ(xp_close_print(report), 0);
    const std::string file = slurp(dir / "r.txt");
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), kLines);
    EXPECT_THAT(file, ::testing::StartsWith("note 0\nnote 1\n"));
    EXPECT_THAT(file, ::testing::HasSubstr("note 59\n\fnote 60\n"));
    EXPECT_THAT(file, ::testing::EndsWith("note 19999\n"));
    fs::remove_all(dir);
}

// A line the screen could not take fails the print, yet what follows still goes out as it is
// spaced: the blank lines before the next line too.
TEST_F(Printing, AfterALineTheScreenRefusedTheNextLinesSpacingStillGoesOut) {
    struct RefusingScreen : ScriptedUi {
        std::vector<std::string> taken;
        bool report_line(const std::string& line) override {
            if (line == "refused") return false;
            taken.push_back(line);
            return true;
        }
    } screenUi;
    set_current(&screenUi);
    int s = xp_open_print(PrintDef{"R", 132}, Destination::Screen);
    xp_put_field(s, 0, 10, 0, "refused");
    EXPECT_NE(xp_wr_line(s, 1, 0, 0), 0);
    xp_put_field(s, 0, 10, 0, "next");
    EXPECT_NE(xp_wr_line(s, 2, 0, 0), 0);  // the job has failed
    EXPECT_EQ(screenUi.taken, (std::vector<std::string>{"", "next"}));
    EXPECT_NE(xp_close_print(s), 0);
    set_current(&person);
}

// ---- The report hub ------------------------------------------------------------------------
namespace {
struct HubRun {
    std::vector<PanelMessage> panel_events;
    int starts = 0, ends = 0, print = 0;
    std::vector<std::string> lines_at_start;
};

xh_hub_def convert_hub(int screen, HubRun& run) {
    xh_hub_def def;
    def.command = 3020;
    def.screen_file = screen;
    def.screen = "CONVERT";
    def.panel = "HUB";
    def.process_word = "conversion";
    def.report_name = "conversion report";
    def.print = PrintDef{"Conversion Report", 132};
    def.user_data = &run;
    def.on_panel = [](Panel& hub, const PanelMessage& m) {
        auto* r = static_cast<HubRun*>(hub.data());
        r->panel_events.push_back(m);
        return 1;
    };
    def.on_start = [](const HubStart& s, void* user) {
        auto* r = static_cast<HubRun*>(user);
        ++r->starts;
        r->print = s.print;
        xp_put_field(s.print, 0, 30, 0, "Converting x.txt");
        xp_wr_line(s.print, 2, 0, 1);
        return 1;
    };
    def.on_end = [](void* user) { ++static_cast<HubRun*>(user)->ends; };
    return def;
}
}  // namespace

TEST_F(Printing, HubStartRunsTheReportIntoTheChosenFile) {
    fs::path dir = temp_dir("hub");
    HubRun run;
    person.on_panel("CONVERT/HUB", PanelAction::type(kHubFileField, (dir / "conv.txt").string()));
    person.on_panel("CONVERT/HUB", PanelAction::press(kHubStartButton));
    int hub = xh_process_hub(convert_hub(screen, run));
    EXPECT_NE(hub, 0);
    EXPECT_EQ(xw_find_panel(hub), nullptr);  // closed at the end
    EXPECT_EQ(run.starts, 1);
    EXPECT_EQ(run.ends, 1);
    ASSERT_GE(run.panel_events.size(), 3u);
    EXPECT_EQ(run.panel_events[1].msg, kMsgShown);  // the caller fills its fields here
    EXPECT_EQ(run.panel_events.back(), (PanelMessage{kMsgCommand, kKeyEnter, kHubStartButton}));
    EXPECT_EQ(slurp(dir / "conv.txt"), "Converting x.txt\n");
    fs::remove_all(dir);
}

TEST_F(Printing, HubCancelEndsWithoutStarting) {
    HubRun run;
    person.on_panel("CONVERT/HUB", PanelAction::press(kHubCancelButton));
    xh_process_hub(convert_hub(screen, run));
    EXPECT_EQ(run.starts, 0);
    EXPECT_EQ(run.ends, 1);
    HubRun run2;  // nothing scripted: escape
    xh_process_hub(convert_hub(screen, run2));
    EXPECT_EQ(run2.starts, 0);
    EXPECT_EQ(run2.ends, 1);
}

TEST_F(Printing, HubOtherButtonsGoToTheCallerAndTheHubStaysOpen) {
    HubRun run;
    person.on_panel("CONVERT/HUB", PanelAction::press(11));
    person.on_panel("CONVERT/HUB", PanelAction::choose(kHubDestinationField, 2));
    person.on_panel("CONVERT/HUB", PanelAction::press(kHubStartButton));
    xh_process_hub(convert_hub(screen, run));
    EXPECT_EQ(run.starts, 1);
    EXPECT_NE(std::find(run.panel_events.begin(), run.panel_events.end(), PanelMessage{kMsgCommand, kKeyEnter, 11}),
              run.panel_events.end());
    ASSERT_EQ(person.reports().size(), 1u);  // to the screen
    EXPECT_EQ(person.reports()[0].lines, std::vector<std::string>{"Converting x.txt"});
}

TEST_F(Printing, HubWithAnUnwritableFileSaysSoAndStaysOpen) {
    HubRun run;
    person.on_panel("CONVERT/HUB", PanelAction::type(kHubFileField, "/nonexistent-dir/r.txt"));
    person.on_panel("CONVERT/HUB", PanelAction::press(kHubStartButton));
    person.on_panel("CONVERT/HUB", PanelAction::press(kHubCancelButton));
    xh_process_hub(convert_hub(screen, run));
    EXPECT_EQ(run.starts, 0);
    EXPECT_EQ(run.ends, 1);
    ASSERT_EQ(person.messages().size(), 1u);
    EXPECT_EQ(person.messages()[0].kind, kError);
    EXPECT_NE(person.messages()[0].text.find("/nonexistent-dir/r.txt"), std::string::npos);
}

TEST_F(Printing, HubReportOnAFullDiskSaysWhatItWasUnableToPrintAndWhy) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    HubRun run;
    xh_hub_def def = convert_hub(screen, run);
    def.disk_full_text = "Out of disk space";
    person.on_panel("CONVERT/HUB", PanelAction::type(kHubFileField, "/dev/full"));
    person.on_panel("CONVERT/HUB", PanelAction::press(kHubStartButton));
    xh_process_hub(def);
    EXPECT_EQ(run.starts, 1);
    ASSERT_EQ(person.messages().size(), 1u);
    EXPECT_EQ(person.messages()[0].kind, kError);
    // A device is no disk: what it answered is said, never our words for a full disk.
    EXPECT_EQ(person.messages()[0].text, "Unable to print the conversion report: No space left on device");
}

// A report whose disk is full keeps the command's words for it; only a device answers in its own.
TEST_F(Printing, HubReportWhoseDiskIsFullSaysTheCommandsWordsForIt) {
    struct FullDiskScreen : ScriptedUi {
        bool report_line(const std::string&) override {
            errno = ENOSPC;
            return false;
        }
        NextStep report_line_step() override { return {Step::FreeSpaceOrOtherReport, {"/data/r.txt"}}; }
    } screenUi;
    set_current(&screenUi);
    HubRun run;
    xh_hub_def def = convert_hub(screen, run);
    def.disk_full_text = "Out of disk space";
    screenUi.on_panel("CONVERT/HUB", PanelAction::choose(kHubDestinationField, 2));
    screenUi.on_panel("CONVERT/HUB", PanelAction::press(kHubStartButton));
    xh_process_hub(def);
    set_current(&person);
    ASSERT_EQ(screenUi.messages().size(), 1u);
    EXPECT_EQ(screenUi.messages()[0].text, "Unable to print the conversion report: Out of disk space");
}

TEST_F(Printing, BackgroundHubStartsAtOnceWithoutAPanel) {
    fs::path dir = temp_dir("bg");
    run_state().in_background = true;
    run_state().report_path = (dir / "bg.txt").string();
    HubRun run;
    xh_process_hub(convert_hub(screen, run));
    EXPECT_EQ(run.starts, 1);
    EXPECT_EQ(run.ends, 1);
    EXPECT_TRUE(run.panel_events.empty());
    EXPECT_FALSE(person.panel_was_opened("CONVERT/HUB"));
    EXPECT_EQ(slurp(dir / "bg.txt"), "Converting x.txt\n");
    fs::remove_all(dir);
}

TEST_F(Printing, PlayedBackHubStartsAtOnceToo) {
    fs::path dir = temp_dir("playback");
    run_state().macro_status = kMacroPlayback;
    run_state().report_path = (dir / "p.txt").string();
    HubRun run;
    xh_process_hub(convert_hub(screen, run));
    EXPECT_EQ(run.starts, 1);
    EXPECT_EQ(person.unanswered(), 0);
    EXPECT_TRUE(fs::exists(dir / "p.txt"));
    run_state().report_path = "-";  // the screen
    HubRun again;
    xh_process_hub(convert_hub(screen, again));
    EXPECT_EQ(person.reports().size(), 1u);
    fs::remove_all(dir);
}

TEST_F(Printing, GenericHubServesARunWithoutAPanelOfItsOwn) {
    HubRun run;
    xh_hub_def def = convert_hub(screen, run);
    def.screen.clear();
    def.panel.clear();
    person.on_panel("HUB/HUB", PanelAction::choose(kHubDestinationField, 2));
    person.on_panel("HUB/HUB", PanelAction::press(kHubStartButton));
    xh_process_hub(def);
    EXPECT_EQ(run.starts, 1);
    EXPECT_EQ(default_report_file("examine files report"), "examine_files_report.txt");
}

TEST_F(Printing, HubBackgroundChoiceLetsTheCommandStoreTheRun) {
    zqApplication app("RA Dodedoz", "XV", "20.3.1", "17.1.0");
    zqTask& task = app.AddTask(std::make_unique<zqTask>("Convert", 15, 3020, 5));
    HubRun run;
    bool allowed_at_start = false;
    xh_hub_def def = convert_hub(screen, run);
    def.on_start = [&](const HubStart&, void*) {
        allowed_at_start = task.AllowBackground();
        return 1;
    };
    person.on_panel("CONVERT/HUB", PanelAction::check(kHubBackgroundField, true));
    person.on_panel("CONVERT/HUB", PanelAction::choose(kHubDestinationField, 2));
    person.on_panel("CONVERT/HUB", PanelAction::press(kHubStartButton));
    xh_process_hub(def);
    EXPECT_TRUE(allowed_at_start);
}
