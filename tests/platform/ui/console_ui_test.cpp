#include "ui_test_support.h"

#include "platform/ui/console_ui.h"

#include <sstream>

using namespace dz::ui;

class Console : public UiTest {
protected:
    std::ostringstream out, err;
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

TEST_F(Console, AModalPanelWithNothingGivenIsCancelledAndSaysSo) {
    ConsoleUi c(ConsoleOptions{}, out, err);
    set_current(&c);
    int h = xw_show_panel(screen, "QUERY", "API", {}, nullptr);
    EXPECT_EQ(xw_rd_panel(h), (PanelMessage{kMsgEscape, 0, 0}));
    EXPECT_NE(err.str().find("nothing given for the QUERY/API panel"), std::string::npos);
    set_current(&person);
}

TEST_F(Console, TheProgressLineIsRedrawnInPlaceAndEndedWhenThePanelCloses) {
    ConsoleOptions o;
    o.progress_line = true;
    ConsoleUi c(o, out, err);
    set_current(&c);
    int h = xw_show_panel(screen, "CONVERT", "STATUSS", {}, nullptr);
    Panel* p = xw_find_panel(h);
    p->write_text(2, 15, "GLM.txt");
    p->set_progress(40);
    xw_refresh();
    xw_close_panel(h);
    std::string e = err.str();
    EXPECT_NE(e.find("\rGLM.txt  40%"), std::string::npos) << e;
    EXPECT_EQ(e.back(), '\n');
    set_current(&person);
}

TEST(ConsoleText, CarriageReturnsBecomeLineBreaks) {
    EXPECT_EQ(console_text("a\rb\r\nc"), "a\nb\nc");
}
