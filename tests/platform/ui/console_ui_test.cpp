#include "ui_test_support.h"

#include "platform/ui/console_ui.h"
#include "platform/ui/hub.h"
#include "platform/ui/shown_stream.h"
#include "platform/ui/shown_text.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

using namespace dz::ui;

class Console : public UiTest {
protected:
    // Options that draw the progress line, on a clock the test moves (`now`).
    ConsoleOptions LineOptions() {
        ConsoleOptions o;
        o.progress_line = true;
        o.clock = [this] { return now; };
        return o;
    }

    std::ostringstream out, err;
    double now = 0;
};

TEST_F(Console, WithoutOptionsAProblemFileEndsTheRunAndQuestionsAreAnsweredNo) {
    ConsoleUi c(ConsoleOptions{}, out, err);
    EXPECT_EQ(c.message(kOkToSkip, "Unable to open file\rx.txt.\r\rIs it OK to skip?"), kEnd);
    EXPECT_EQ(c.message(kThreeWay, "converted before"), kEnd);
    EXPECT_EQ(c.message(kYesNo, "Sure?"), kNo);
    EXPECT_EQ(c.message(kQuestion, "OK to stop?"), kNo);
    EXPECT_EQ(c.message(kYesNoCancel, "Save?"), kNo);
    EXPECT_EQ(c.message(kError, "bad"), kOk);
    std::string e = err.str();
    EXPECT_NE(e.find("dodedoz: question: Unable to open file\nx.txt.\n\nIs it OK to skip?\n"), std::string::npos) << e;
    EXPECT_NE(e.find("dodedoz: answered: end the run"), std::string::npos);
    EXPECT_NE(e.find("dodedoz: error: bad\n"), std::string::npos);
    EXPECT_TRUE(out.str().empty());
}

TEST_F(Console, OptionsChooseSkipAgainAndYes) {
    ConsoleOptions o;
    o.skip_problem_files = true;
    o.yes = true;
    ConsoleUi c(o, out, err);
    EXPECT_EQ(c.message(kOkToSkip, "skip?"), kOk);    // anything but 4 skips
    EXPECT_EQ(c.message(kThreeWay, "again?"), kSkip);
    EXPECT_EQ(c.message(kYesNo, "Sure?"), kYes);
    c.options().again = true;
    EXPECT_EQ(c.message(kThreeWay, "again?"), kGoOn);
}

TEST_F(Console, APromptAsksUntilAnOfferedLetterAndFallsBackAtEndOfInput) {
    ConsoleUi c(ConsoleOptions{}, out, err);
    std::vector<std::string> replies = {"maybe", " S", "y"};
    std::vector<std::string> prompts;
    std::size_t next = 0;
    c.set_prompt_reader([&](const std::string& prompt) -> std::optional<std::string> {
        prompts.push_back(prompt);
        if (next >= replies.size()) return std::nullopt;
        return replies[next++];
    });
    EXPECT_EQ(c.message(kThreeWay, "again?"), kSkip);  // "maybe" is asked again
    EXPECT_EQ(prompts.size(), 2u);
    EXPECT_EQ(c.message(kYesNo, "Sure?"), kYes);
    EXPECT_EQ(c.message(kYesNo, "Sure?"), kNo);  // end of input: the default
    EXPECT_EQ(c.message(kInfo, "done"), kOk);    // information never asks
    EXPECT_EQ(prompts.size(), 4u);
}

TEST_F(Console, AnExplicitOptionAnswersWithoutAsking) {
    ConsoleOptions o;
    o.yes = true;
    ConsoleUi c(o, out, err);
    int asked = 0;
    c.set_prompt_reader([&](const std::string&) -> std::optional<std::string> {
        ++asked;
        return "n";
    });
    EXPECT_EQ(c.message(kQuestion, "OK to stop?"), kYes);
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(c.message(kOkToSkip, "skip?"), kCancel);  // --on-problem not given: asked, "n" invalid
    EXPECT_GT(asked, 0);
}

TEST_F(Console, ReportsOnTheScreenGoToStandardOutputWithoutPageMarks) {
    ConsoleUi c(ConsoleOptions{}, out, err);
    EXPECT_TRUE(c.show_report(ReportDocument{"R", 132, {"one", "\ftwo"}}));
    EXPECT_EQ(out.str(), "one\ntwo\n");
    EXPECT_FALSE(c.print_report(ReportDocument{}));
    EXPECT_NE(err.str().find("cannot print"), std::string::npos);
}

// The command line cannot print: a report sent to the printer is kept in the hub's default report
// file, and the person is told so (the close answers "kept", not a failure).
TEST_F(Console, ADeclinedPrintIsKeptInTheDefaultReportFile) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("dz_console_kept_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    run_state().report_folder = dir.string();
    ConsoleUi c(ConsoleOptions{}, out, err);
    set_current(&c);
    c.on_panel("CONVERT/HUB", PanelAction::choose(kHubDestinationField, static_cast<int>(Destination::Printer)));
    c.on_panel("CONVERT/HUB", PanelAction::press(kHubStartButton));
    xh_hub_def def;
    def.command = 3020;
    def.screen_file = screen;
    def.screen = "CONVERT";
    def.panel = "HUB";
    def.report_name = "conversion report";
    def.on_start = [](const HubStart& s, void*) {
        xp_put_field(s.print, 0, 30, 0, "Converting x.txt");
        xp_wr_line(s.print, 1, 0, 0);
        return 1;
    };
    xh_process_hub(def);
    set_current(&person);
    const std::filesystem::path kept = dir / "conversion_report.txt";
    EXPECT_THAT(err.str(), ::testing::HasSubstr("The conversion report was not printed. It is shown on the screen and "
                                                "kept in " + kept.string() + "."));
    std::ifstream in(kept);
    std::string first;
    EXPECT_TRUE(std::getline(in, first));
    EXPECT_EQ(first, "Converting x.txt");
    std::filesystem::remove_all(dir);
}

TEST_F(Console, AModalPanelWithNothingGivenIsCancelledAndSaysSo) {
    ConsoleUi c(ConsoleOptions{}, out, err);
    set_current(&c);
    int h = xw_show_panel(screen, "QUERY", "API", {}, nullptr);
    EXPECT_EQ(xw_rd_panel(h), (PanelMessage{kMsgEscape, 0, 0}));
    EXPECT_NE(err.str().find("nothing given for the QUERY/API panel"), std::string::npos);
    set_current(&person);
}

TEST_F(Console, TheProgressLineIsRedrawnInPlaceAndEndedWhenThePanelCloses) {
    now = 100;
    ConsoleUi c(LineOptions(), out, err);
    set_current(&c);
    int h = xw_show_panel(screen, "CONVERT", "STATUSS", {}, nullptr);
    Panel* p = xw_find_panel(h);
    p->write_text(2, 15, "/data/in/GLM.txt");
    p->write_text(5, 28, "399");  // accepted
    p->write_text(6, 28, "1");    // rejected
    p->set_progress(40);
    now = 102;
    xw_refresh();
    std::string e = err.str();
    EXPECT_EQ(e, "\rGLM.txt [########------------]  40%  400 records  0:02  200/s") << e;
    // Changes within a tenth of a second are not drawn, however many.
    for (int i = 0; i < 50; ++i) {
        now += 0.001;
        p->set_progress(41 + i);
        xw_refresh();
    }
    EXPECT_EQ(err.str(), e);
    // Nor is a drawing that would show nothing new.
    p->set_progress(40);
    now = 103;
    xw_refresh();
    EXPECT_EQ(err.str(), e);
    p->write_text(5, 28, "1999999");
    p->set_progress(100);
    now = 105.5;
    xw_refresh();
    EXPECT_NE(err.str().find("\rGLM.txt [####################] 100%  2,000,000 records  0:05  363,636/s"),
              std::string::npos) << err.str();
    // Closing draws the last state and ends the line.
    xw_close_panel(h);
    e = err.str();
    EXPECT_EQ(e.substr(e.size() - 3), "/s\n") << e;
    set_current(&person);
}

TEST_F(Console, ClosingDrawsTheFinalStateAfterAThrottledChange) {
    ConsoleUi c(LineOptions(), out, err);
    set_current(&c);
    int h = xw_show_panel(screen, "CONVERT", "STATUSM", {}, nullptr);
    Panel* p = xw_find_panel(h);
    p->write_text(2, 15, "a-very-long-file-name-for-the-line.txt");
    p->write_text(9, 28, "10");
    p->set_progress(5);
    xw_refresh();
    p->write_text(9, 28, "200");
    p->set_progress(100);
    now = 0.05;
    xw_refresh();  // too soon: not drawn
    EXPECT_EQ(err.str().find("100%"), std::string::npos);
    xw_close_panel(h);
    const std::string e = err.str();
    const std::size_t last = e.rfind('\r');
    EXPECT_EQ(e.substr(last), "\ra-very-long-file-name... [####################] 100%  200 records  0:00  4,000/s\n");
    // A line ended by a message starts again at the next change, however soon.
    h = xw_show_panel(screen, "CONVERT", "STATUSS", {}, nullptr);
    p = xw_find_panel(h);
    p->write_text(2, 15, "b.txt");
    xw_refresh();
    c.message(kInfo, "between");
    now += 0.01;
    p->set_progress(1);
    xw_refresh();
    EXPECT_NE(err.str().find("dodedoz: information: between\n\rb.txt [--------------------]   1%"), std::string::npos)
        << err.str();
    // Lines written to the same terminal wipe it; closing then leaves no line among them.
    const std::string drawn = err.str();
    c.erase_progress_line();
    const std::string wiped = drawn + "\r" + std::string(drawn.size() - drawn.rfind('\r') - 1, ' ') + "\r";
    EXPECT_EQ(err.str(), wiped);
    xw_close_panel(h);
    EXPECT_EQ(err.str(), wiped);
    set_current(&person);
}

// A front end about to print its own lines closes the line first: the progress line is drawn as
// the panel stands, a throttled change with it, and a count not written yet comes out.
TEST_F(Console, ClosingTheLineForLinesOfOurOwnDrawsItsLastStateAndCount) {
    ConsoleUi c(LineOptions(), out, err);
    set_current(&c);
    const int h = xw_show_panel(screen, "CONVERT", "STATUSM", {}, nullptr);
    Panel* p = xw_find_panel(h);
    p->write_text(2, 15, "a.txt");
    p->set_progress(5);
    xw_refresh();
    p->set_progress(100);
    now = 0.05;
    xw_refresh();  // too soon: not drawn
    c.close_progress_line();
    EXPECT_THAT(err.str(), ::testing::EndsWith("100%  0 records  0:00  0/s\n"));
    c.task_line("Saving table to disk");
    c.task_line("Saving table to disk: 3 of 3 rows saved");  // within its first second: held back
    c.close_progress_line();
    EXPECT_THAT(err.str(), ::testing::EndsWith("dodedoz: Saving table to disk: 3 of 3 rows saved\n"));
    xw_close_panel(h);
    set_current(&person);
}

TEST(ProgressLine, NarrowTerminalsDropPartsButNeverWrap) {
    const std::string full = fit_progress_line("glm.txt", 51, "49,173", "0:00", "98,338", 0);
    EXPECT_EQ(full, "glm.txt [##########----------]  51%  49,173 records  0:00  98,338/s");
    EXPECT_EQ(fit_progress_line("glm.txt", 51, "49,173", "0:00", "98,338", 120), full);
    // At 50 columns the pace, the time and the word go, the bar keeps its full width.
    EXPECT_EQ(fit_progress_line("glm.txt", 51, "49,173", "0:00", "98,338", 50),
              "glm.txt [##########----------]  51%  49,173");
    for (int columns : {60, 50, 40, 30, 20, 12}) {
        const std::string line =
            fit_progress_line("a-very-long-file-name-for-the-line.txt", 100, "2,000,000", "1:05", "30,769", columns);
        EXPECT_LE(line.size(), static_cast<std::size_t>(columns - 1)) << columns << ": " << line;
        EXPECT_NE(line.find("100%"), std::string::npos) << columns << ": " << line;  // the share stays longest
    }
}

TEST(ConsoleText, CarriageReturnsBecomeLineBreaks) {
    EXPECT_EQ(console_text("a\rb\r\nc"), "a\nb\nc");
}

TEST_F(Console, ALongRunOfTaskLinesIsPacedAndEndsOnItsLastLine) {
    ConsoleOptions o;
    now = 100;
    o.clock = [this] { return now; };
    {
        ConsoleUi c(o, out, err);
        c.task_line("Saving table to disk");
        for (int n = 1; n <= 500; ++n) {
            if (n == 300) now += 1.2;  // a second later one more is written
            c.task_line("Saving table to disk: " + std::to_string(n) + " of 500 rows saved");
        }
        c.task_line("Freeing disk space: 1 records deleted");  // another run writes the last first
        for (int n = 1; n <= 60; ++n) c.task_line("Freeing disk space: " + std::to_string(n) + " records deleted");
        // A line cleared (a save that then failed) drops a count not yet written.
        for (int n = 1; n <= 9; ++n) c.task_line("Saving table to disk: " + std::to_string(n) + " of 9 rows saved");
        c.task_line("");
        EXPECT_EQ(c.task_lines().size(), 572u);  // every line is still recorded
    }
    const std::string e = err.str();
    EXPECT_EQ(e, "dodedoz: Saving table to disk\n"
                 "dodedoz: Saving table to disk: 300 of 500 rows saved\n"
                 "dodedoz: Saving table to disk: 500 of 500 rows saved\n"
                 "dodedoz: Freeing disk space: 60 records deleted\n");  // written on the way out
}

// Files refused one after another for one cause share their next step: it is said with the
// first, not with each; another step is still said.
TEST_F(Console, ANextStepIsSaidOnceInACommand) {
    set_message_filler([](int number, const std::vector<std::string>& v) -> std::string {
        if (number == notice_message(Voice::CommandLine)) return v[0] + "\rNext: " + v[1];
        return "step " + std::to_string(number) + (v.empty() ? std::string() : " " + v[0]);
    });
    ConsoleOptions o;
    o.skip_problem_files = true;
    ConsoleUi c(o, out, err);
    const NextStep wait{Step::AgainWhenFinished, {"process 7"}};
    c.notice(Notice{kOkToSkip, "a.txt: in use", wait});
    c.notice(Notice{kError, "b.txt: in use", wait});
    c.notice(Notice{kError, "c.txt: in use", NextStep{Step::AgainWhenFinished, {"process 8"}}});
    set_message_filler(nullptr);
    const std::string e = err.str();
    EXPECT_THAT(e, ::testing::HasSubstr("question: a.txt: in use\nNext: step 13341 process 7\n"));
    EXPECT_THAT(e, ::testing::HasSubstr("error: b.txt: in use\ndodedoz: error: c.txt: in use\nNext: step 13341 process 8\n"));
}

// Everything written through the terminal's stream is shown: a control character as "\033", a
// C1 control split across two writes as well; the line end and a front end's own controls pass.
TEST(ShownStream, ControlsAreShownWhateverWroteThemAndOnlyTheFrontEndsOwnPass) {
    std::ostringstream target;
    ShownStreamBuf buf(target.rdbuf());
    std::ostream out(&buf);
    out << "a\033[2Jb\tc\n" << "d\xc2" << "\x9b" << "e\xc2" << "\xa0" << '\x07';
    write_controls(out, "\r");
    out.put('\x08').put('f') << std::endl;  // one character at a time
    EXPECT_TRUE(out.good());
    EXPECT_EQ(target.str(), "a\\033[2Jb\\011c\nd\\302\\233e\xc2\xa0\\007\r\\010f\n");
}

// The last C1 control, U+009F, is shown as the others, whole or split across writes; a lone
// 0xC2 that ends the output still reaches its target when the stream goes.
TEST(ShownStream, TheLastC1ControlIsShownAndALoneLeadByteAtTheEndIsKept) {
    EXPECT_EQ(shown_text("a\xc2\x9f" "b"), "a\\302\\237b");
    std::ostringstream target;
    {
        ShownStreamBuf buf(target.rdbuf());
        std::ostream out(&buf);
        out << "a\xc2\x9f" << "b\xc2" << "\x9f" << "c\xc2";
    }
    EXPECT_EQ(target.str(), "a\\302\\237b\\302\\237c\xc2");
}

// A byte 0x80 to 0x9F that no UTF-8 character holds is a C1 control to a terminal of eight-bit
// characters (0x9B is ESC [): shown as one, written whole or split across writes, while the
// same byte inside a character ("\xc3\x9b" is U+00DB) stays; what a stream's end cuts short is
// still shown as such, never dropped.
TEST(ShownStream, ALoneByteOfTheC1RangeIsShownAndACharacterHoldingItIsKept) {
    EXPECT_EQ(shown_text("\x9bg.txt \xc3\x9b \xe0\xa0\x80 \xe0\x80\x80 \xc2\x9f \xed\xa0\x80"),
              "\\233g.txt \xc3\x9b \xe0\xa0\x80 \xe0\\200\\200 \\302\\237 \xed\xa0\\200");
    // The last of the range alone; the range's bytes after one that starts no character.
    EXPECT_EQ(shown_text("\x9f \x9b\xa0\xa0\xa0 \xf5\x80"), "\\237 \\233\xa0\xa0\xa0 \xf5\\200");
    EXPECT_TRUE(needs_showing("a\x85"));
    EXPECT_FALSE(needs_showing("a\xc3\x85\xf0\x9f\x98\x80"));
    EXPECT_EQ(shown_fit("\x9b" "abc", 5), 2u);  // "\233" and "a": an escape is never cut
    EXPECT_EQ(console_text("a\x9b" "2J\rb"), "a\\2332J\nb");
    std::ostringstream target;
    {
        ShownStreamBuf buf(target.rdbuf());
        std::ostream out(&buf);
        out << "a\xc3" << "\x9b" << "b\x9b" << "\xe2\x80" << "\xa6" << "c\xe2" << "\x9b" << "d\xe1\x80";
    }
    EXPECT_EQ(target.str(), "a\xc3\x9b" "b\\233\xe2\x80\xa6" "c\xe2\\233" "d\xe1\\200");
}

// A front end that never installed the step words says so where the step would stand: a
// refusal never loses its step silently.
TEST(NextStepWords, AStepWordedBeforeAnyWordsAreInstalledSaysSo) {
    const NextStep next{Step::RestoreFromBackup, {"MASTER.TST", "/co/.backup/"}};
    EXPECT_THAT(step_words(next, Voice::CommandLine), ::testing::HasSubstr("next step 13361: no message table installed"));
    EXPECT_THAT(with_step("refused", next, Voice::Desktop), ::testing::HasSubstr("refused [next step 13371: no message table"));
    EXPECT_EQ(with_step("refused", NextStep{}, Voice::Desktop), "refused");
}
