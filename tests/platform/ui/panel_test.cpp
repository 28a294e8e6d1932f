#include "ui_test_support.h"

#include <vector>

using namespace dz::ui;

using PanelService = UiTest;

TEST_F(PanelService, TextIsWrittenInCellsClearedAndCutAtTheEdge) {
    PanelDef def;
    def.rows = 3;
    def.cols = 10;
    Panel p(1, def, {}, nullptr, 0);
    p.write_text(1, 3, "abcdef");
    EXPECT_EQ(p.line(1), "  abcdef  ");
    p.write_text(1, 5, "X", 8);  // clears 5..8 first
    EXPECT_EQ(p.line(1), "  abX     ");
    p.write_text(2, 8, "123456");  // cut at column 10
    EXPECT_EQ(p.line(2), "       123");
    p.write_text(4, 1, "off the panel");
    p.write_text(1, 0, "bad column");
    EXPECT_EQ(p.screen_text(), (std::vector<std::string>{"  abX", "       123", ""}));
    EXPECT_EQ(p.text_at(2, 8, 5), "123");
}

TEST_F(PanelService, ButtonsReachTheProcedureInThePanelsOwnStyle) {
    PanelDef def;
    def.buttons = {ButtonDef{3, "~OK"}, ButtonDef{1, "~Stop", 1, 1, 10, 1, true}};
    def.events = EventStyle::Command;
    Panel cmd(1, def, {}, nullptr, 0);
    EXPECT_EQ(cmd.button_message(3), (PanelMessage{kMsgCommand, kKeyEnter, 3}));
    EXPECT_EQ(cmd.escape_message(), (PanelMessage{kMsgEscape, 0, 0}));
    EXPECT_EQ(cmd.button_message(1), cmd.escape_message());  // a Stop button is escape
    def.events = EventStyle::Direct;
    Panel direct(2, def, {}, nullptr, 0);
    EXPECT_EQ(direct.button_message(3), (PanelMessage{kMsgButton, 3, 0}));
    EXPECT_EQ(direct.edited_message(2), (PanelMessage{kMsgEdited, 0, 2}));
}

TEST_F(PanelService, ShowingAPanelSendsOpenThenShownAndCopiesTheDescription) {
    std::vector<int> seen;
    int h = xw_show_panel(screen, "query", "api", [&](Panel&, const PanelMessage& m) {
        seen.push_back(m.msg);
        return 1;
    }, nullptr, 3020);
    ASSERT_NE(h, 0);
    EXPECT_EQ(seen, (std::vector<int>{kMsgOpen, kMsgShown}));
    Panel* p = xw_find_panel(h);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->command(), 3020);
    EXPECT_EQ(p->choice(1), 1);
    EXPECT_TRUE(person.panel_was_opened("QUERY/API"));
    EXPECT_EQ(xw_show_panel(screen, "QUERY", "NOSUCH", {}, nullptr), 0);
}

TEST_F(PanelService, PostedMessagesArriveInOrderAtTheNextDispatchOnly) {
    std::vector<int> seen;
    int h = xw_open_window("W", 5, 20, [&](Panel& p, const PanelMessage& m) {
        seen.push_back(m.msg);
        if (m.msg == 1001) xw_post_message(p.handle(), 1003);  // waits for the next dispatch
        return 1;
    }, nullptr);
    seen.clear();
    xw_post_message(h, 1001);
    xw_post_message(h, 1002);
    EXPECT_TRUE(seen.empty());
    xw_dispatch_messages();
    EXPECT_EQ(seen, (std::vector<int>{1001, 1002}));
    xw_dispatch_messages();
    EXPECT_EQ(seen, (std::vector<int>{1001, 1002, 1003}));
    EXPECT_EQ(person.dispatches(), 2);
}

TEST_F(PanelService, MessagesForAClosedPanelAreDropped) {
    int calls = 0;
    int h = xw_open_window("W", 5, 20, [&](Panel&, const PanelMessage&) { return ++calls; }, nullptr);
    calls = 0;
    xw_post_message(h, 1001);
    xw_close_panel(h);
    xw_dispatch_messages();
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(xw_find_panel(h), nullptr);
    EXPECT_EQ(xw_get_data(h), nullptr);
}

TEST_F(PanelService, ModalReadAppliesTypedValuesThenReturnsTheButton) {
    int h = xw_show_panel(screen, "QUERY", "GENERAL", {}, nullptr);
    person.on_panel("query/general", PanelAction::choose(1, 2));
    person.on_panel("QUERY/GENERAL", PanelAction::type(2, "12/31/2026"));
    person.on_panel("QUERY/GENERAL", PanelAction::press(3));
    PanelMessage m = xw_rd_panel(h);
    EXPECT_EQ(m, (PanelMessage{kMsgCommand, kKeyEnter, 3}));
    EXPECT_EQ(xw_find_panel(h)->choice(1), 2);
    EXPECT_EQ(xw_find_panel(h)->text(2), "12/31/2026");
    // Nothing more queued: the read escapes instead of waiting, and is counted.
    EXPECT_EQ(xw_rd_panel(h), (PanelMessage{kMsgEscape, 0, 0}));
    EXPECT_EQ(person.unanswered(), 1);
}

TEST_F(PanelService, RunModalEndsWhenTheProcedureClosesThePanel) {
    std::vector<PanelMessage> seen;
    int h = xw_open_window("Interface Warning", 9, 50, [&](Panel& p, const PanelMessage& m) {
        seen.push_back(m);
        if (m.msg == kMsgButton && m.key == 12) xw_close_panel(p.handle());
        return 1;
    }, nullptr);
    Panel* p = xw_find_panel(h);
    p->draw_button(ButtonDef{11, "~Yes"});
    p->draw_button(ButtonDef{12, "~No"});
    person.on_panel("Interface Warning", PanelAction::press(11));
    person.on_panel("Interface Warning", PanelAction::press(12));
    xw_run_modal(h);
    EXPECT_EQ(xw_find_panel(h), nullptr);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[2], (PanelMessage{kMsgButton, 11, 0}));
    EXPECT_EQ(seen[3], (PanelMessage{kMsgButton, 12, 0}));
}

TEST_F(PanelService, ListsCombosAndFieldStates) {
    int h = xw_show_panel(screen, "CONVERT", "HUB", {}, nullptr);
    Panel* p = xw_find_panel(h);
    xw_ins_combo(h, 1, 2, "Use GROUP B");
    xw_ins_combo(h, 1, 2, "Use GROUP A");
    xw_ins_combo(h, 1, 0, "Use GROUP C");
    EXPECT_EQ(p->items(1), (std::vector<std::string>{"Do not use substitution tables", "Use GROUP A",
                                                     "Use GROUP B", "Use GROUP C"}));
    EXPECT_EQ(p->selected_item(1), "Do not use substitution tables");
    EXPECT_EQ(xw_get_field_def(h, 22), 1);  // present, empty
    p->set_text(22, "x.txt");
    EXPECT_EQ(xw_get_field_def(h, 22), 2);
    EXPECT_EQ(xw_get_field_def(h, 99), 0);
    xw_chg_radio_alpha(h, 21, 2, "Report viewer");
    EXPECT_EQ(p->field(21)->choices[1], "Report viewer");
    xw_hide_fields(h, {21, 22});
    EXPECT_TRUE(p->field(21)->hidden);
    EXPECT_TRUE(p->field(22)->hidden);
    p->draw_button(ButtonDef{11, "Options..."});
    EXPECT_NE(p->button(11), nullptr);
    p->clear_button(11);
    EXPECT_EQ(p->button(11), nullptr);
}

TEST_F(PanelService, RefreshRedrawsOnlyChangedPanels) {
    struct Counting : ScriptedUi {
        int changed = 0;
        void panel_changed(Panel&) override { ++changed; }
    } counting;
    set_current(&counting);
    int a = xw_open_window("A", 3, 10, {}, nullptr);
    xw_open_window("B", 3, 10, {}, nullptr);
    xw_refresh();
    EXPECT_EQ(counting.changed, 2);  // both new
    xw_refresh();
    EXPECT_EQ(counting.changed, 2);
    xw_find_panel(a)->write_text(1, 1, "x");
    xw_refresh();
    EXPECT_EQ(counting.changed, 3);
    set_current(&person);
}

TEST_F(PanelService, StopRequestedWhileRunningArrivesAtTheNthDispatch) {
    std::vector<PanelMessage> seen;
    xw_show_panel(screen, "CONVERT", "STATUSS", [&](Panel&, const PanelMessage& m) {
        seen.push_back(m);
        return 1;
    }, nullptr);
    person.at_dispatch(2, "CONVERT/STATUSS", PanelAction::press(1));  // the Stop button
    xw_dispatch_messages();
    EXPECT_EQ(seen.size(), 2u);
    xw_dispatch_messages();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen.back(), (PanelMessage{kMsgEscape, 0, 0}));
}

// A step that fails half-way leaves its panels open while its front end goes; closing them
// afterwards must not reach the front end that went.
TEST_F(PanelService, PanelsOutlivingTheirFrontEndCloseWithoutIt) {
    std::vector<int> closed;
    const void* gone = nullptr;
    int hub = 0;
    int child = 0;
    {
        struct Recording : ScriptedUi {
            std::vector<int>* closed = nullptr;
            void panel_closed(Panel& p) override { closed->push_back(p.handle()); }
        } front;
        front.closed = &closed;
        set_current(&front);
        gone = &front;
        hub = xw_show_panel(screen, "EXAMINE", "HUB", {}, nullptr);
        child = xw_show_child_panel(hub, screen, "EXAMINE", "CHILD", {}, nullptr);
        int shut = xw_open_window("Closed while it lived", 3, 10, {}, nullptr);
        xw_close_panel(shut);
        ASSERT_EQ(closed, (std::vector<int>{shut}));
    }
    EXPECT_NE(static_cast<const void*>(&current()), gone);
    ASSERT_NE(xw_find_panel(child), nullptr);
    reset_panels();
    EXPECT_EQ(xw_find_panel(hub), nullptr);
    EXPECT_EQ(xw_find_panel(child), nullptr);
    EXPECT_EQ(closed.size(), 1u);
    // Uninstalling follows only the front end in force.
    {
        ScriptedUi other;
        set_current(&person);
    }
    EXPECT_EQ(&current(), &person);
}

TEST_F(PanelService, AChildPanelClosesWithItsParent) {
    int hub = xw_show_panel(screen, "EXAMINE", "HUB", {}, nullptr);
    int child = xw_show_child_panel(hub, screen, "EXAMINE", "CHILD", {}, nullptr);
    ASSERT_NE(child, 0);
    EXPECT_EQ(xw_find_panel(child)->parent(), hub);
    int other = xw_open_window("Other", 3, 10, {}, nullptr);
    xw_close_panel(hub);
    EXPECT_EQ(xw_find_panel(child), nullptr);
    EXPECT_NE(xw_find_panel(other), nullptr);
    EXPECT_EQ(person.events()[person.events().size() - 2], "close EXAMINE/CHILD");  // children first
}
