// The table editor driven as a person would: the choice panel, the grid of the editor window,
// its commands, Save As, the options panel, and the window geometry.

#include "test_tables_support.h"

#include "platform/suite/company.h"
#include "platform/ui/framework.h"
#include "platform/ui/screen_file.h"
#include "platform/ui/scripted_ui.h"
#include "tables/table_editor.h"
#include "app/table_text_commands.h"
#include "convert/convert_file.h"
#include "modules/module_dlls.h"
#include "platform/ui/hub.h"

#include <fstream>

#include <gmock/gmock.h>

namespace dz::tables::testing {
namespace {

using ui::PanelAction;

// Keeps what the person saw of the panels when they acted on them.
class WatchingUi : public ui::ScriptedUi {
public:
    ui::PanelMessage read_panel(ui::Panel& panel) override {
        const std::string key = panel_key(panel);
        if (const ui::Grid* g = panel.grid()) {
            std::vector<std::string> lines;
            for (int i = 0; i < g->line_count(); ++i) {
                std::string l;
                for (std::size_t c = 0; c < g->line(i).size(); ++c) l += (c ? "|" : "") + g->line(i)[c];
                lines.push_back(l);
            }
            grids.push_back(lines);
            cursors.emplace_back(g->cursor_line(), g->cursor_column());
            edit_texts.push_back(g->edit_text);
            headers.clear();
            for (const auto& c : g->columns) headers.push_back(c.header.size() > 1 ? c.header[1] : "");
            thumb = {g->thumb_size, g->thumb_position};
            title = panel.title();
            width = panel.cols();
        }
        if (key == "TABLE/OPEN" || key == "TABLE/NEW") {
            lists.push_back({panel.selected_item(1), panel.selected_item(2), panel.selected_item(3)});
            items = {panel.items(1), panel.items(2), panel.items(3)};
            ok_enabled = panel.button(3) && !panel.button(3)->disabled;
        }
        if (key == "TABLE/OPTIONS") option_hidden = panel.field(4) && panel.field(4)->hidden;
        return ui::ScriptedUi::read_panel(panel);
    }
    std::vector<std::vector<std::string>> grids;
    std::vector<std::pair<int, int>> cursors;
    std::vector<std::string> edit_texts;
    std::vector<std::string> headers;
    std::vector<std::vector<std::string>> lists;
    std::vector<std::vector<std::string>> items;
    std::pair<int, int> thumb;
    std::string title;
    int width = 0;
    bool ok_enabled = true;
    bool option_hidden = false;
};

class EditorTest : public TablesTest {
protected:
    void SetUp() override {
        TablesTest::SetUp();
        ui::set_current(&ui);
        ui::set_screens_folder(std::filesystem::path(DZ_SOURCE_DATA_DIR) / "screens");
        screen_ = ui::xw_open_screen_file("XV");
        ASSERT_GT(screen_, 0);
    }
    void TearDown() override {
        // The text-file commands are process-wide: leave no callback or hook behind for the
        // tests that run after this one in the same process.
        convert::xvConvert::prefillCallback = nullptr;
        tables::table_editor_hooks() = {};
        ui::reset_panels();
        ui::xw_cls_screen_file(screen_);
        TablesTest::TearDown();
    }

    void Run() {
        ui::zqTask task("Substitution Tables", 0, kCommand, 0);
        RunTableEditor(task, screen_);
        EXPECT_TRUE(task.Ended());
    }

    // Chooses (group, application entry, field entry) on the choice panel.
    void Choose(const std::string& panel, const std::string& group, const std::string& app, const std::string& field) {
        if (!group.empty()) {
            ui.on_panel(panel, PanelAction::type(1, group));
            ui.on_panel(panel, PanelAction::edited(1));
        }
        ui.on_panel(panel, PanelAction::item(2, app));
        ui.on_panel(panel, PanelAction::edited(2));
        ui.on_panel(panel, PanelAction::item(3, field));
        ui.on_panel(panel, PanelAction::edited(3));
        ui.on_panel(panel, PanelAction::press(3));
    }
    void Main(PanelAction a) { ui.on_panel("TABLE/MAIN", std::move(a)); }
    // Types a row on the pending line `line` (old value, new value) and leaves it.
    void TypeRow(int line, const std::string& oldValue, const std::string& newValue) {
        Main(PanelAction::grid_type(oldValue, line, 1));
        Main(PanelAction::grid_type(newValue, line + 1, 0));
    }

    std::vector<std::string> Stored(const std::string& group, uint16_t field) {
        SubstitutionMasterFile mf(kCommand);
        SubstitutionTable doc(group, field, ApplicationOfField(field));
        mf.LoadRows(group, field, doc);
        mf.Close();
        std::vector<std::string> v;
        for (const SubstitutionRow* r = doc.firstRow; r; r = r->next) v.push_back(r->oldValue + "=" + r->newValue);
        return v;
    }
    bool Shown(const std::string& text) const {
        for (const auto& t : ui.message_texts())
            if (t == text) return true;
        return false;
    }

    WatchingUi ui;
    int screen_ = 0;
};

// ---- A whole session ------------------------------------------------------------------------

TEST_F(EditorTest, NewGroupRowsDuplicateRefusedSaveAsAndReopen) {
    CreateMasterFile();
    Choose("TABLE/NEW", "", "Payroll (new)", "Department (new)");
    TypeRow(0, "B1", "N1");
    TypeRow(1, "A1", "N2");
    Main(PanelAction::grid_type("b1", 2, 1));  // refused: the cursor stays with the text
    Main(PanelAction::grid_type("C1", 2, 1));
    Main(PanelAction::grid_type("N3", 3, 0));
    Main(PanelAction::press(kCmdSaveAs));
    ui.on_panel("TABLE/SAVEAS", PanelAction::type(1, "CONV2026"));
    ui.on_panel("TABLE/SAVEAS", PanelAction::press(3));
    Main(PanelAction::press(kCmdClose));
    Run();
    EXPECT_TRUE(ui.panel_was_opened("TABLE/NEW"));
    // The refusal names the column and the lines.
    EXPECT_TRUE(Shown("Old key value must be unique.\r\rOld department 'b1' on line 3 is already on line 1."));
    // After the refusal the cursor was still in the old-value cell of line 3 with "b1".
    ASSERT_GE(ui.cursors.size(), 6u);
    EXPECT_EQ(ui.cursors[5], std::make_pair(2, 0));
    EXPECT_EQ(ui.edit_texts[5], "b1");
    EXPECT_EQ(Stored("CONV2026", 30), (std::vector<std::string>{"A1=N2", "B1=N1", "C1=N3"}));
    EXPECT_EQ(ui.title, "Substitution Tables - CONV2026");
    EXPECT_EQ(ui.unanswered(), 0);

    // Reopened: OPEN with the last choice preselected and the rows sorted.
    Main(PanelAction::press(kCmdClose));
    ui.on_panel("TABLE/OPEN", PanelAction::press(3));
    const std::size_t before = ui.grids.size();
    Run();
    ASSERT_FALSE(ui.lists.empty());
    EXPECT_EQ(ui.lists.back(), (std::vector<std::string>{"CONV2026", "Payroll", "Department"}));
    ASSERT_GT(ui.grids.size(), before);
    EXPECT_EQ(ui.grids.back(), (std::vector<std::string>{"A1|N2", "B1|N1", "C1|N3", "|"}));
    EXPECT_EQ(ui.cursors.back(), std::make_pair(3, 0));
}

// A new value longer than its cell, a Save As without a name and one with a control character
// are each said, not cut or passed over; the person then corrects them and the table is saved.
TEST_F(EditorTest, ALongNewValueAndANamelessSaveAsAreSaid) {
    CreateMasterFile();
    Choose("TABLE/NEW", "", "Payroll (new)", "Department (new)");
    const std::string tooLong(60, 'N');
    Main(PanelAction::grid_type("D1", 0, 1));
    Main(PanelAction::grid_type(tooLong, 0, 1));  // refused: the cursor stays with the text
    Main(PanelAction::grid_type("N1", 1, 0));
    Main(PanelAction::press(kCmdSaveAs));
    ui.on_panel("TABLE/SAVEAS", PanelAction::type(1, "  "));
    ui.on_panel("TABLE/SAVEAS", PanelAction::press(3));
    ui.on_panel("TABLE/SAVEAS", PanelAction::type(1, "New table group"));
    ui.on_panel("TABLE/SAVEAS", PanelAction::press(3));
    ui.on_panel("TABLE/SAVEAS", PanelAction::type(1, "G\033[31m"));  // a control character: refused
    ui.on_panel("TABLE/SAVEAS", PanelAction::press(3));
    ui.on_panel("TABLE/SAVEAS", PanelAction::type(1, "G1"));
    ui.on_panel("TABLE/SAVEAS", PanelAction::press(3));
    Main(PanelAction::press(kCmdClose));
    Run();
    const auto said = ui.message_texts();
    ASSERT_EQ(said.size(), 4u);
    EXPECT_EQ(said[3], "'G\\033[31m' cannot be a table group name: it holds a control character (\\033). Choose a name "
                       "without one.");
    EXPECT_THAT(said[0], ::testing::HasSubstr("The new value '" + tooLong + "' has 60 characters and the new value takes at most"));
    EXPECT_EQ(said[1], "Type a name for the table group.");
    EXPECT_THAT(said[2], ::testing::HasSubstr("\"New table group\" is not a name a table group can take"));
    EXPECT_EQ(Stored("G1", 30), (std::vector<std::string>{"D1=N1"}));
}

// A new value one character past its column is refused; one that fills it is taken whole.
TEST_F(EditorTest, ANewValueOneCharacterPastItsColumnIsRefused) {
    CreateMasterFile();
    Choose("TABLE/NEW", "", "Payroll (new)", "Department (new)");  // new values of 6 characters
    Main(PanelAction::grid_type("D1", 0, 1));
    Main(PanelAction::grid_type("ABCDEFG", 0, 1));  // refused: the cursor stays with the text
    Main(PanelAction::grid_type("ABCDEF", 1, 0));
    Main(PanelAction::press(kCmdSaveAs));
    ui.on_panel("TABLE/SAVEAS", PanelAction::type(1, "G1"));
    ui.on_panel("TABLE/SAVEAS", PanelAction::press(3));
    Main(PanelAction::press(kCmdClose));
    Run();
    EXPECT_EQ(ui.message_texts(),
              (std::vector<std::string>{"The new value 'ABCDEFG' has 7 characters and the new value takes at most 6."}));
    EXPECT_EQ(Stored("G1", 30), (std::vector<std::string>{"D1=ABCDEF"}));
}

TEST_F(EditorTest, WithoutAPersonTheChoiceIsCancelledAndTheTaskEnds) {
    CreateMasterFile();
    Run();
    EXPECT_TRUE(ui.panel_was_opened("TABLE/NEW"));
    EXPECT_FALSE(ui.panel_was_opened("TABLE/MAIN"));
    EXPECT_EQ(ui.unanswered(), 1);
}

TEST_F(EditorTest, MissingFileEditsAndSaveAsCreatesIt) {
    Choose("TABLE/NEW", "", "Payroll (new)", "Department (new)");
    TypeRow(0, "E1", "X1");
    Main(PanelAction::press(kCmdSave));  // an unnamed group: Save opens Save As
    ui.on_panel("TABLE/SAVEAS", PanelAction::type(1, ""));
    ui.on_panel("TABLE/SAVEAS", PanelAction::press(3));  // ignored
    ui.on_panel("TABLE/SAVEAS", PanelAction::type(1, "new TABLE group"));
    ui.on_panel("TABLE/SAVEAS", PanelAction::press(3));  // ignored
    ui.on_panel("TABLE/SAVEAS", PanelAction::type(1, "  First   group "));
    ui.on_panel("TABLE/SAVEAS", PanelAction::press(3));
    Main(PanelAction::press(kCmdClose));
    Run();
    EXPECT_EQ(Stored("First group", 30), (std::vector<std::string>{"E1=X1"}));
}

// ---- Cells ----------------------------------------------------------------------------------

TEST_F(EditorTest, RequiredFieldPhaseSectionsAndBlanks) {
    CreateMasterFile();
    WriteTable({"G", kApplJC, 18, 0, 0, 65535, {{"P1", "100001", ""}}});
    Choose("TABLE/OPEN", "G", "Job Cost", "Phase");
    // Line 0 holds P1; clearing its old value is refused and the row restored.
    Main(PanelAction::grid_move(0, 0));
    Main(PanelAction::grid_type("", 0, 1));
    Main(PanelAction::grid_move(1, 0));
    // Phase values: 10-000.00 passes, 00-010 and 10-000.05 fail.
    Main(PanelAction::grid_type("  P2 ", 1, 1));
    Main(PanelAction::grid_type("00-010", 1, 1));
    Main(PanelAction::grid_type("10-000.05", 1, 1));
    Main(PanelAction::grid_type("10-000.00", 2, 0));
    Main(PanelAction::press(kCmdSave));
    Main(PanelAction::press(kCmdClose));
    Run();
    EXPECT_TRUE(Shown("Required field.\r\rOld phase is empty on line 1: type it, or remove the line."));
    int zero = 0;
    for (const auto& t : ui.message_texts()) zero += t == "Phase has an invalid zero section.";
    EXPECT_EQ(zero, 2);
    EXPECT_EQ(ui.grids[2][0], "P1|10-000.1");
    EXPECT_EQ(Stored("G", 18), (std::vector<std::string>{"P1=100001", "P2=1000000"}));
}

TEST_F(EditorTest, ListFieldKeepsASingleBlankAndOffersItsValues) {
    CreateMasterFile();
    Choose("TABLE/NEW", "", "Property Management (new)", "Sales type (new)");
    TypeRow(0, "R", " ");
    TypeRow(1, "F", "Net");
    Main(PanelAction::press(kCmdSaveAs));
    ui.on_panel("TABLE/SAVEAS", PanelAction::type(1, "PM"));
    ui.on_panel("TABLE/SAVEAS", PanelAction::press(3));
    Main(PanelAction::press(kCmdClose));
    Run();
    // The file keeps no trailing blanks: a single blank is stored blank, as a blank new value.
    EXPECT_EQ(Stored("PM", 434), (std::vector<std::string>{"F=Net", "R="}));
    ASSERT_GE(ui.grids.size(), 5u);
    EXPECT_EQ(ui.grids[4], (std::vector<std::string>{"R| ", "F|Net", "|Gross"}));
    EXPECT_EQ(ui.grids.front(), (std::vector<std::string>{"|Gross"})) << "the pending row starts as the default";
}

// A list default longer than the new value holds is never put into a row cut: the new row
// starts without it, and the person is told the default's length and the limit.
TEST_F(EditorTest, AListDefaultTooLongForTheNewValueIsSaidAndNeverCut) {
    CreateMasterFile();
    ui::zqTask task("Substitution Tables", 0, kCommand, 0);
    app::InstallTableTextCommands(task);
    suite::current_company()->settings().lists[434].default_value = std::string(50, 'G');
    Choose("TABLE/NEW", "", "Property Management (new)", "Sales type (new)");
    TypeRow(0, "R", "Net");
    Main(PanelAction::press(kCmdSaveAs));
    ui.on_panel("TABLE/SAVEAS", PanelAction::type(1, "PM"));
    ui.on_panel("TABLE/SAVEAS", PanelAction::press(3));
    Main(PanelAction::press(kCmdPrefill));  // every row it adds would take the default: refused
    Main(PanelAction::press(kCmdClose));
    Run();
    const std::string refusal = "the default of custom list 434, cannot be a new value of this table: it has 50 "
                                "characters and a new value of this table holds at most 15";
    // Said when the table opens and again at Prefill, which chooses no file and changes nothing.
    EXPECT_THAT(ui.message_texts(), ::testing::ElementsAre(::testing::HasSubstr(refusal), ::testing::HasSubstr(refusal)));
    EXPECT_TRUE(ui.choosers().empty());
    ASSERT_FALSE(ui.grids.empty());
    EXPECT_EQ(ui.grids.front(), (std::vector<std::string>{"|"})) << "the pending row starts without the default";
    EXPECT_EQ(Stored("PM", 434), (std::vector<std::string>{"R=Net"}));
}

// ---- Closing --------------------------------------------------------------------------------

// A save chosen at close that fails keeps the window and its rows.
TEST_F(EditorTest, FailedSaveAtCloseKeepsTheWindow) {
    CreateMasterFile();
    WriteTable({"G", kApplPR, 30, 0, 0, 65535, {{"A", "1", ""}}});
    Choose("TABLE/NEW", "G", "Payroll", "Department");  // a payroll-only group has no group record
    TypeRow(1, "B", "2");
    Main(PanelAction::press(kCmdClose));  // save? yes -> refused by the lock below
    ui.answer(ui::kYes);
    Main(PanelAction::press(kCmdClose));  // save? no -> closes
    ui.answer(ui::kNo);
    // Another user holds header 1 at the moment of the save.
    SubstitutionMasterFile other(kCommand);
    ASSERT_EQ(xio_rd_header(static_cast<uint16_t>(other.handle()), kLastChoiceHeader, 1), XIO_OK);
    Run();
    other.Close();
    EXPECT_EQ(Stored("G", 30), (std::vector<std::string>{"A=1"}));
    int asked = 0;
    for (const auto& t : ui.message_texts()) asked += t == "Do you want to save your changes?";
    EXPECT_EQ(asked, 2) << "the window stayed after the failed save";
}

TEST_F(EditorTest, ClearTableAsksThenEmptiesSavesAndOffersTheGroup) {
    CreateMasterFile();
    WriteTable({"G", kApplJC, 16, 0, 0, 65535, {{"A", "1", ""}, {"B", "2", ""}}});
    Choose("TABLE/OPEN", "G", "Job Cost", "Job");
    Main(PanelAction::press(kCmdClearTable));
    ui.answer(ui::kNo);
    Main(PanelAction::press(kCmdClearTable));
    ui.answer(ui::kYes);
    Main(PanelAction::press(kCmdClose));
    ui.answer(ui::kYes);  // delete the group
    Run();
    EXPECT_TRUE(Shown("Are you sure you want to permanently remove all data from this job table?"));
    EXPECT_TRUE(Stored("G", 16).empty());
    EXPECT_TRUE(Shown("Table group G doesn't contain any tables.\r\rDo you want to delete this table group?"));
    SubstitutionMasterFile mf(kCommand);
    EXPECT_FALSE(mf.HasGroups());
    mf.Close();
}

// ---- Options --------------------------------------------------------------------------------

TEST_F(EditorTest, OptionsRangeCollisionAndTruncation) {
    CreateMasterFile();
    WriteTable({"G", kApplPR, 30, 0, 0, 65535, {{"ABCD1", "1", ""}, {"ABCD2", "2", ""}, {"XY", "3", ""}}});
    Choose("TABLE/NEW", "G", "Payroll", "Department");
    Main(PanelAction::press(kCmdOptions));
    for (const char* size : {"0", "41", "4"}) {
        ui.on_panel("TABLE/OPTIONS", PanelAction::type(1, size));
        ui.on_panel("TABLE/OPTIONS", PanelAction::press(3));
    }
    ui.on_panel("TABLE/OPTIONS", PanelAction::type(1, "5"));
    ui.on_panel("TABLE/OPTIONS", PanelAction::choose(2, 3));
    ui.on_panel("TABLE/OPTIONS", PanelAction::press(3));  // only DNEWBLK: no rebuild
    Main(PanelAction::press(kCmdOptions));
    ui.on_panel("TABLE/OPTIONS", PanelAction::type(1, "3"));  // truncation too, but ABC collides
    ui.on_panel("TABLE/OPTIONS", PanelAction::press(1));
    Main(PanelAction::press(kCmdRemoveLine));  // cursor on the pending line: nothing removed
    Main(PanelAction::grid_move(1, 0));
    Main(PanelAction::press(kCmdRemoveLine));  // ABCD2 goes
    Main(PanelAction::press(kCmdOptions));
    ui.on_panel("TABLE/OPTIONS", PanelAction::type(1, "3"));
    ui.on_panel("TABLE/OPTIONS", PanelAction::press(3));
    ui.answer(1);  // the truncation question: go on -> Save As opens
    ui.on_panel("TABLE/SAVEAS", PanelAction::press(3));
    Main(PanelAction::press(kCmdClose));
    Run();
    int range = 0;
    for (const auto& t : ui.message_texts()) range += t == "The maximum characters in old value must be between 1 and 40";
    EXPECT_EQ(range, 2);
    EXPECT_TRUE(Shown("Unable to reduce old size because ABCD1 and ABCD2 both become ABCD after doing a Save As."));
    EXPECT_TRUE(Shown("You must do a Save As to assure all old values are truncated to length 3."));
    EXPECT_TRUE(ui.option_hidden);
    EXPECT_EQ(Stored("G", 30), (std::vector<std::string>{"ABC=1", "XY=3"}));
    SubstitutionMasterFile mf(kCommand, 0, "G", kApplPR, 30);
    TableSummary t;
    ASSERT_TRUE(mf.ReadOptions(t));
    EXPECT_EQ(t.oldSize, 3);
    EXPECT_EQ(t.blankValueOption, 3);
    mf.Close();
}

// Options never set (stored 0) stay 0 through an edit, the options panel left as it was, and a
// Save As onto another group; a converter reads 0 as "keep the original value silently".
TEST_F(EditorTest, OptionsStoredAsZeroStayZero) {
    CreateMasterFile();
    WriteTable({"G", kApplPR, 30, 0, 0, 65535, {{"A1", "1", ""}}});
    Choose("TABLE/NEW", "G", "Payroll", "Department");
    TypeRow(1, "A2", "2");
    Main(PanelAction::press(kCmdOptions));
    ui.on_panel("TABLE/OPTIONS", PanelAction::press(3));  // OK, nothing chosen
    Main(PanelAction::press(kCmdSave));
    Main(PanelAction::press(kCmdSaveAs));
    ui.on_panel("TABLE/SAVEAS", PanelAction::type(1, "H"));
    ui.on_panel("TABLE/SAVEAS", PanelAction::press(3));
    Main(PanelAction::press(kCmdClose));
    Run();
    EXPECT_EQ(Stored("G", 30), (std::vector<std::string>{"A1=1", "A2=2"}));
    EXPECT_EQ(Stored("H", 30), (std::vector<std::string>{"A1=1", "A2=2"}));
    for (const char* group : {"G", "H"}) {
        SubstitutionMasterFile mf(kCommand, 0, group, kApplPR, 30);
        TableSummary t;
        ASSERT_TRUE(mf.ReadOptions(t)) << group;
        EXPECT_EQ(t.blankValueOption, 0) << group;
        EXPECT_EQ(t.notFoundOption, 0) << group;
        mf.Close();
    }
}

// ---- Choice panel ---------------------------------------------------------------------------

TEST_F(EditorTest, ChoicePanelMarksNewTablesAndSkipsIncompleteApplications) {
    CreateMasterFile();
    WriteTable({"G", kApplGL, 9, 0, 0, 65535, {{"1", "2", ""}}});
    WriteTable({"G", kApplJC, 16, 0, 0, 65535, {{"1", "2", ""}}});
    suite::current_company()->settings().descriptions[44] = "";
    ui.on_panel("TABLE/OPEN", PanelAction::type(1, "G"));
    ui.on_panel("TABLE/OPEN", PanelAction::edited(1));
    ui.on_panel("TABLE/OPEN", PanelAction::item(2, "Job Cost"));
    ui.on_panel("TABLE/OPEN", PanelAction::edited(2));
    ui.on_panel("TABLE/OPEN", PanelAction::escape());
    Run();
    EXPECT_TRUE(Shown("The PR application is missing some fields.\r\rIt should be re-installed."));
    ASSERT_EQ(ui.items.size(), 3u);
    EXPECT_EQ(ui.items[0], (std::vector<std::string>{"New table group", "G"}));
    EXPECT_EQ(ui.items[1], (std::vector<std::string>{"General Ledger", "Job Cost", "Accounts Payable (new)",
                                                     "Property Management (new)", "Miscellaneous (new)",
                                                     "Accounts Receivable (new)"}));
    // JC: job, extra, phase, category (the job-cost file is absent: both options on).
    EXPECT_EQ(ui.items[2], (std::vector<std::string>{"Job", "Extra (new)", "Phase (new)", "Category (new)"}));
}

TEST_F(EditorTest, AStaleLastChoiceAndRememberedFieldPositions) {
    CreateMasterFile();
    WriteTable({"G", kApplJC, 16, 0, 0, 65535, {{"1", "2", ""}}});
    {
        // The last choice names a group that is gone.
        SubstitutionMasterFile mf(kCommand);
        const auto h = static_cast<uint16_t>(mf.handle());
        ASSERT_EQ(xio_rd_header(h, kLastChoiceHeader, 1), XIO_OK);
        PutText(h, 0, mf.fields().lstTble, "Gone");
        ASSERT_EQ(xio_wr_header(h, kLastChoiceHeader), XIO_OK);
        mf.Close();
    }
    const std::string open = "TABLE/OPEN";
    ui.on_panel(open, PanelAction::item(2, "Payroll (new)"));
    ui.on_panel(open, PanelAction::edited(2));
    ui.on_panel(open, PanelAction::choose(3, 3));
    ui.on_panel(open, PanelAction::edited(3));
    ui.on_panel(open, PanelAction::item(2, "Job Cost (new)"));
    ui.on_panel(open, PanelAction::edited(2));
    ui.on_panel(open, PanelAction::item(2, "Payroll (new)"));
    ui.on_panel(open, PanelAction::edited(2));
    ui.on_panel(open, PanelAction::escape());
    Run();
    // One look per read: as shown, then after each change.
    ASSERT_EQ(ui.lists.size(), 5u);
    EXPECT_EQ(ui.lists.front()[0], "New table group");
    EXPECT_EQ(ui.lists[1][2], "Employee (new)");
    EXPECT_EQ(ui.lists[3][2], "Job (new)");
    EXPECT_EQ(ui.lists.back()[2], "Earning (new)") << "the third payroll field again";
}

TEST_F(EditorTest, NoApplicationInstalledDisablesOk) {
    CreateMasterFile();
    suite::current_company()->settings().installed.clear();
    ui.on_panel("TABLE/NEW", PanelAction::escape());
    Run();
    ASSERT_EQ(ui.items.size(), 3u);
    EXPECT_EQ(ui.items[1], (std::vector<std::string>{"No Applications Available"}));
    EXPECT_EQ(ui.items[2], (std::vector<std::string>{"No Fields Available"}));
    EXPECT_FALSE(ui.ok_enabled);
}

TEST_F(EditorTest, HundredGroupsRefuseANewGroupButOpenAnExistingOne) {
    CreateMasterFile();
    for (int i = 0; i < 100; ++i) {
        SubstitutionTable doc("New table group", 30, kApplPR);
        doc.oldSize = 10;
        doc.currentRow = nullptr;
        AppendRow(doc)->oldValue = "A";
        doc.firstRow->modified = doc.firstRow->newEntry = 1;
        SubstitutionMasterFile mf(kCommand, 0, "New table group", kApplPR, 30);
        ASSERT_TRUE(mf.SaveAs("G" + std::to_string(100 + i), doc));
        mf.Close();
    }
    ui.on_panel("TABLE/OPEN", PanelAction::press(3));  // the last choice: G199
    Main(PanelAction::press(kCmdClose));
    ui.on_panel("TABLE/OPEN", PanelAction::type(1, "New table group"));
    ui.on_panel("TABLE/OPEN", PanelAction::edited(1));
    ui.on_panel("TABLE/OPEN", PanelAction::press(3));
    ui.on_panel("TABLE/OPEN", PanelAction::escape());
    Run();
    Run();
    EXPECT_TRUE(Shown("The maximum number of tables allowed is exceeded. You must delete an existing table type "
                      "before you may create a new one."));
    EXPECT_EQ(ui.title, "Substitution Tables - G199");
}

// ---- Geometry -------------------------------------------------------------------------------

TEST(TableEditorGeometry, WindowWidthButtonsAndThumb) {
    EXPECT_EQ(ScaledWidth(10), 15);
    EXPECT_EQ(ScaledWidth(3), 5);
    // old 10, new 6, no third: 15 + 9 + 0 + 4; the third column 0 adds nothing.
    EXPECT_EQ(TableGridWidth(10, 6, 0, false), 28);
    EXPECT_EQ(TableGridWidth(10, 6, 0, true), 15 + 7 + 4);
    EXPECT_EQ(TableGridWidth(1, 2, 0, false), 2 + 3 + 4 + 2 + 1);
    EXPECT_EQ(TableWindowWidth(26), 44);
    EXPECT_EQ(TableWindowWidth(27), 45);
    EXPECT_EQ(ScrollThumb(8, 1).position, -1);
    EXPECT_EQ(ScrollThumb(8, 1).size, 100);
    EXPECT_EQ(ScrollThumb(9, 1).size, 90);
    EXPECT_EQ(ScrollThumb(9, 1).position, 0);
    EXPECT_EQ(ScrollThumb(100, 2).position, 1);  // past the first row: at least 1
    EXPECT_EQ(ScrollThumb(100, 93).position, 100);
    EXPECT_EQ(ThumbDragRow(100, 0), 1);
    EXPECT_EQ(ThumbDragRow(100, 50), 47);
    EXPECT_EQ(ThumbDragRow(100, 100), 93);
    EXPECT_EQ(ThumbDragRow(5, 100), 1);
}


// ---- Import and export from the editor ----------------------------------------------------------

TEST_F(EditorTest, ImportAndExportButtonsRebuildTheGridSortedAndMarkTheTableModified) {
    CreateMasterFile();
    ui::zqTask task("Substitution Tables", 0, kCommand, 0);
    app::InstallTableTextCommands(task);
    const auto in = folder() / "in.txt";
    std::ofstream(in, std::ios::binary) << "A1,N2\nb1,N9\n";
    const auto out = folder() / "out.txt";
    Choose("TABLE/NEW", "", "Payroll (new)", "Department (new)");
    TypeRow(0, "B1", "N1");
    Main(PanelAction::press(kCmdImport));
    ui.choose({in.string()});
    ui.on_panel("HUB/HUB", ui::PanelAction::choose(ui::kHubDestinationField, 2));
    ui.on_panel("HUB/HUB", ui::PanelAction::press(ui::kHubStartButton));
    Main(PanelAction::press(kCmdExport));
    ui.choose({out.string()});
    Main(PanelAction::press(kCmdEscape));
    ui.answer(ui::kNo);  // do not save
    RunTableEditor(task, screen_);
    EXPECT_TRUE(Shown("     1 entry added\r     1 entry changed\r     0 exact duplicates\r     0 rejected entries"));
    ASSERT_FALSE(ui.grids.empty());
    EXPECT_EQ(ui.grids.back(), (std::vector<std::string>{"A1|N2", "B1|N9", "|"}));
    EXPECT_TRUE(Shown("Do you want to save your changes?"));  // the import marked the table modified
    std::ifstream exported(out, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(exported), {}), "A1,N2\r\nB1,N9\r\n");
    ASSERT_FALSE(ui.reports().empty());
    EXPECT_EQ(ui.reports().back().lines.front(), "Importing " + in.string() + " into 'Department' table");
    table_editor_hooks() = {};
}

// ---- Payroll lists ------------------------------------------------------------------------------

// A payroll table picks its values from the payroll system file's lists (field 30: the
// deduction IDs); a prefill lets the file go and takes it again, so the list still works after it.
TEST_F(EditorTest, PayrollTablesPickValuesFromThePayrollSystemFileBeforeAndAfterAPrefill) {
    uint16_t prsNo = 0;
    while (prsNo < 64 && xio_file_name("PRS", prsNo) != "SYSTEM.PRS") ++prsNo;
    ASSERT_LT(prsNo, 64);
    ASSERT_EQ(xio_create_file("PRS", prsNo, folder() / "SYSTEM.PRS"), XIO_OK);
    uint16_t prs = 0;
    ASSERT_EQ(xio_open_file(folder() / "SYSTEM.PRS", 0, prs), XIO_OK);
    for (const char* deduction : {"401K", "UNION"}) {
        xio_init_record(prs, 3);
        x_value_def v;
        v.text = deduction;
        ASSERT_EQ(xio_put_field(prs, 3, xio_num(prs, XIO_NUM_RECORD, 3, "MDDEDID"), v), XIO_OK);
        ASSERT_EQ(xio_wr_record(prs, 3), XIO_OK);
    }
    xio_cls_file(prs);
    CreateMasterFile();
    ASSERT_TRUE(modules::LoadModuleDlls());
    ui::zqTask task("Substitution Tables", 0, kCommand, 0);
    app::InstallTableTextCommands(task);
    Choose("TABLE/NEW", "", "Payroll (new)", "Department (new)");
    Main(PanelAction::grid_type("OLD1", 0, 1));
    ui.pick(2);
    Main(PanelAction::press(kCmdList));
    Main(PanelAction::grid_move(1, 0));
    Main(PanelAction::press(kCmdPrefill));
    ui.cancel_chooser();
    Main(PanelAction::grid_type("OLD2", 1, 1));
    ui.pick(1);
    Main(PanelAction::grid_list());
    Main(PanelAction::grid_move(2, 0));
    Main(PanelAction::press(kCmdSaveAs));
    ui.on_panel("TABLE/SAVEAS", PanelAction::type(1, "PR"));
    ui.on_panel("TABLE/SAVEAS", PanelAction::press(3));
    Main(PanelAction::press(kCmdClose));
    RunTableEditor(task, screen_);
    table_editor_hooks() = {};
    modules::ReleaseModuleDlls();
    ASSERT_EQ(ui.record_lists().size(), 2u);
    EXPECT_EQ(ui.record_lists()[0].title, "deductions");
    EXPECT_EQ(Stored("PR", 30), (std::vector<std::string>{"OLD1=UNION", "OLD2=401K"}));
}

TEST_F(EditorTest, ExportReplacesAFileOnlyWhenToldAndNeverADataFile) {
    CreateMasterFile();
    ui::zqTask task("Substitution Tables", 0, kCommand, 0);
    app::InstallTableTextCommands(task);
    const auto out = folder() / "out.txt";
    const auto xvm = folder() / kXvmFileName;
    std::ofstream(out, std::ios::binary) << "mine\r\n";
    auto slurp = [](const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    Choose("TABLE/NEW", "", "Payroll (new)", "Department (new)");
    TypeRow(0, "B1", "N1");
    Main(PanelAction::press(kCmdExport));
    ui.choose({out.string()});
    ui.answer(ui::kNo);  // keep the file
    Main(PanelAction::press(kCmdExport));
    ui.choose({out.string()});
    ui.answer(ui::kYes);  // replace it
    Main(PanelAction::press(kCmdExport));
    ui.choose({xvm.string()});  // refused without a question
    Main(PanelAction::press(kCmdEscape));
    ui.answer(ui::kNo);  // do not save
    RunTableEditor(task, screen_);
    int asked = 0;
    for (const auto& t : ui.message_texts()) asked += t == "The file " + out.string() + " already exists.\r\rReplace it?";
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(Shown("Unable to write the file " + xvm.string() + ":\rit is a data file"));
    EXPECT_EQ(slurp(out), "B1,N1\r\n");
    EXPECT_EQ(slurp(xvm).substr(0, 15), "SQLite format 3");
    table_editor_hooks() = {};
}

}  // namespace
}  // namespace dz::tables::testing
