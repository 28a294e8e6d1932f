#include "ui_test_support.h"

using namespace dz::ui;

using Scripted = UiTest;

TEST_F(Scripted, QuestionsTakeQueuedAnswersInOrderThenTheDefault) {
    person.answer(kSkip);
    person.answer(kEnd);
    EXPECT_EQ(xw_wr_message(kThreeWay, "a"), kSkip);
    EXPECT_EQ(xw_wr_message(kInfo, "not a question"), kOk);  // takes no answer
    EXPECT_EQ(xw_wr_message(kOkToSkip, "b"), kEnd);
    EXPECT_EQ(person.unanswered(), 0);
    person.default_answer = kNo;
    EXPECT_EQ(xw_wr_message(kYesNo, "c"), kNo);
    EXPECT_EQ(person.unanswered(), 1);
    EXPECT_EQ(person.message_texts(), (std::vector<std::string>{"a", "not a question", "b", "c"}));
    EXPECT_EQ(person.messages()[2].answer, kEnd);
}

TEST_F(Scripted, FileChoosersReturnQueuedChoicesAndCancelWithoutOne) {
    FileChooser req;
    req.title = "Convert - Text File Selection";
    req.filters = {{"Text Files", "txt"}, {"All Files", "*"}};
    person.choose({"/a/x.txt", "/b/y.txt"});
    std::vector<std::string> many;
    EXPECT_EQ(zqfdlgFileChooseMany(req, many), 0);
    EXPECT_EQ(many, (std::vector<std::string>{"/a/x.txt", "/b/y.txt"}));
    std::string one;
    person.choose({"/c/z.txt", "/d/w.txt"});
    EXPECT_EQ(zqfdlgFileChooseOne(req, one), 0);
    EXPECT_EQ(one, "/c/z.txt");  // one file only
    EXPECT_NE(zqfdlgFileChooseNew(req, one), 0);  // nothing queued: cancelled
    EXPECT_EQ(one, "");
    person.choose({});
    EXPECT_NE(zqfdlgFileChooseMany(req, many), 0);  // OK with nothing chosen is a cancel
    ASSERT_EQ(person.choosers().size(), 4u);
    EXPECT_EQ(person.choosers()[0].mode, ChooseMode::Many);
    EXPECT_EQ(person.choosers()[2].mode, ChooseMode::New);
    EXPECT_EQ(person.choosers()[0].title, "Convert - Text File Selection");
}

TEST_F(Scripted, RecordPickerAnswersOnlyRowsThatExist) {
    RecordList list{"Unions", {"Union"}, {{"10"}, {"20"}}, 0};
    person.pick(2);
    person.pick(7);
    EXPECT_EQ(xl_list_records(list), 2);
    EXPECT_EQ(xl_list_records(list), 0);
    EXPECT_EQ(xl_list_records(list), 0);
    EXPECT_EQ(person.record_lists().size(), 3u);
}

TEST_F(Scripted, ItemActionPicksAListEntryByItsText) {
    int h = xw_show_panel(screen, "CONVERT", "HUB", {}, nullptr);
    xw_ins_combo(h, 1, 0, "Use MAIN");
    person.on_panel("CONVERT/HUB", PanelAction::item(1, "Use MAIN"));
    person.on_panel("CONVERT/HUB", PanelAction::item(1, "Use NOTHERE"));  // unknown: unchanged
    person.on_panel("CONVERT/HUB", PanelAction::edited(1));
    EXPECT_EQ(xw_rd_panel(h), (PanelMessage{kMsgEdited, 0, 1}));
    EXPECT_EQ(xw_find_panel(h)->selected_item(1), "Use MAIN");
}

TEST_F(Scripted, RecordsWhatThePanelShowedWhenItClosed) {
    int h = xw_open_window("Interface Warning", 9, 50, {}, nullptr);
    xw_find_panel(h)->write_text(2, 3, "The interface from AP to CM");
    xw_close_panel(h);
    auto shown = person.last_screen("interface warning");
    ASSERT_EQ(shown.size(), 9u);
    EXPECT_EQ(shown[1], "  The interface from AP to CM");
    EXPECT_EQ(person.events(), (std::vector<std::string>{"open INTERFACE WARNING", "close INTERFACE WARNING"}));
}

TEST_F(Scripted, TaskLineAndBackgroundTerminate) {
    x_update_task("Converting GLM.txt");
    EXPECT_EQ(person.task_lines(), std::vector<std::string>{"Converting GLM.txt"});
    EXPECT_EQ(CheckTerminate(), 0);
    request_terminate();
    EXPECT_NE(CheckTerminate(), 0);
    reset_run_state();
    EXPECT_EQ(CheckTerminate(), 0);
    EXPECT_FALSE(InBackground());
    EXPECT_EQ(MacroStatus(), kMacroNone);
}

TEST(SilentUi, AnswersOkAndYesWhenNoFrontEndIsInstalled) {
    set_current(nullptr);
    EXPECT_EQ(xw_wr_message(kYesNo, "?"), kYes);
    std::string chosen = "x";
    EXPECT_NE(zqfdlgFileChooseOne(FileChooser{}, chosen), 0);
}
