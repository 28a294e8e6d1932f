// The Convert and Examine Files driver with a scripted person and stub converters: the checks of
// the chosen files and their messages, the run order, the AP invoice options, the hub (table
// groups, options) and the closing message.
#include "test_convert_converter.h"
#include "test_driver_support.h"

#include "platform/import/xvl_rcstring.h"
#include "platform/import/xvl_timestamp.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace dz::app::testing {
namespace {

using dz::ui::PanelAction;
using dz::xvl::xvlRCString;

using Driver = DriverTest;

TEST_F(Driver, OneUnopenableFileEndsTheRunWith12047) {
    const std::string missing = texts.str("missing.txt");
    person.choose({missing});
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedCancelled);
    ASSERT_EQ(person.messages().size(), 1u);
    EXPECT_EQ(person.messages()[0].kind, dz::ui::kError);
    EXPECT_EQ(person.messages()[0].text, xvlRCString::Get(12047, missing));
    EXPECT_FALSE(person.panel_was_opened("CONVERT/HUB"));
    EXPECT_TRUE(Converted().empty());
}

TEST_F(Driver, TwoFilesOneUnopenableAsks12046AndRunsTheOther) {
    const std::string missing = texts.str("a_missing.txt");
    const std::string good = Text("b_good.txt", "GLM");
    person.choose({good, missing});
    person.answer(dz::ui::kOk);  // skip
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    ASSERT_FALSE(person.messages().empty());
    EXPECT_EQ(person.messages()[0].kind, dz::ui::kOkToSkip);
    EXPECT_EQ(person.messages()[0].text, xvlRCString::Get(12046, missing));
    EXPECT_EQ(Converted(), (std::vector<std::string>{"b_good.txt"}));
}

TEST_F(Driver, OnlyRegularFilesAreReadAndTheirHeadOnly) {
    // A FIFO would hold the checks up for good and a device would never end its first line: the
    // alarm turns a hang into a failure.
    ::alarm(30);
    const std::string fifo = texts.str("a_fifo.txt");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string zero = texts.str("b_zero.txt");
    fs::create_symlink("/dev/zero", zero);
    const std::string folder = texts.str("c_folder.txt");
    fs::create_directory(folder);
    const std::string good = Text("d_good.txt", "GLM");
    const std::string linked = texts.str("e_linked.txt");
    fs::create_symlink(good, linked);  // a link to a regular file is that file
    person.choose({fifo, zero, folder, good, linked});
    for (int i = 0; i < 3; ++i) person.answer(dz::ui::kOk);  // skip
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    ::alarm(0);
    ASSERT_GE(person.messages().size(), 3u);
    EXPECT_EQ(person.messages()[0].kind, dz::ui::kOkToSkip);
    EXPECT_EQ(person.messages()[0].text, xvlRCString::Get(12880, fifo));
    EXPECT_EQ(person.messages()[1].text, xvlRCString::Get(12880, zero));
    EXPECT_EQ(person.messages()[2].text, xvlRCString::Get(12880, folder));
    EXPECT_EQ(Converted(), (std::vector<std::string>{"d_good.txt", "e_linked.txt"}));

    // Alone, it ends the run with the message that asks nothing.
    person.choose({fifo});
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedCancelled);
    EXPECT_EQ(person.messages().back().kind, dz::ui::kError);
    EXPECT_EQ(person.messages().back().text, xvlRCString::Get(12881, fifo));
}

TEST_F(Driver, AFileChosenTwiceRunsOnce) {
    const std::string good = Text("good.txt", "GLM");
    person.choose({good, Text("other.txt", "GLM"), good});
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    EXPECT_EQ(Converted(), (std::vector<std::string>{"good.txt", "other.txt"}));
}

TEST_F(Driver, AnswerFourToASkipQuestionEndsTheRun) {
    const std::string missing = texts.str("a_missing.txt");
    person.choose({Text("b_good.txt", "GLM"), missing});
    person.answer(dz::ui::kEnd);
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedCancelled);
    EXPECT_TRUE(Converted().empty());
    EXPECT_FALSE(person.panel_was_opened("CONVERT/HUB"));
}

TEST_F(Driver, FilesRunByTypeCodeThenPath) {
    // Chosen as PMT, GLM, APM (and a second GLM whose path sorts first): GLM 101, APM 401, PMT 605.
    const std::string pmt = Text("1_pmt.txt", "PMT");
    const std::string glm = Text("2_glm.txt", "GLM");
    const std::string apm = Text("3_apm.txt", "APM");
    const std::string glm0 = Text("0_glm.txt", "GLM");
    person.choose({pmt, glm, apm, glm0});
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    EXPECT_EQ(Converted(), (std::vector<std::string>{"0_glm.txt", "2_glm.txt", "3_apm.txt", "1_pmt.txt"}));
    EXPECT_EQ(RememberedTextFileFolder(), texts.str());
}

TEST_F(Driver, FirstLineAndTemplateChecksByCount) {
    const std::string noType = texts.str("notype.txt");
    WriteFile(noType, "#,XYZ," + templatePath + "\r\n");
    const std::string noTemplate = texts.str("notpl.txt");
    WriteFile(noTemplate, "#,GLM\r\n");
    const std::string missingTemplate = texts.str("gone.txt");
    WriteFile(missingTemplate, "#,GLM," + texts.str("nowhere.tpl") + "\r\n");
    const std::string good = Text("zz_good.txt", "GLM");
    // A first line without a template says how the line must look, above the question.
    const std::string templateHelp = xvlRCString::Get(12916, "#,GLM,xvglm");
    auto ReplaceQuestion = [](const std::string& text, const std::string& help) {
        const std::string question = "\r\rIs it OK to skip?";
        return text.substr(0, text.size() - question.size()) + "\r\r" + help + question;
    };
    person.choose({noType, noTemplate, missingTemplate, good});
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    // Path order: gone, notpl, notype, zz_good.
    EXPECT_EQ(Boxes(), (std::vector<std::string>{
                           "105: " + xvlRCString::Get(12052, texts.str("nowhere.tpl"), missingTemplate),
                           "105: " + ReplaceQuestion(xvlRCString::Get(12050, noTemplate), templateHelp),
                           "105: " + xvlRCString::Get(12048, noType),
                           // The run's closing words name the files left out as not run, where
                           // they would have run: by type and path, one of no type last.
                           "101: gone.txt: skipped; not run\r\rnotpl.txt: skipped; not run\r\rzz_good.txt: 0 "
                           "accepted, 0 rejected, 0 messages, 0 notes\r\rnotype.txt: skipped; not run",
                       }));
    EXPECT_EQ(Converted(), (std::vector<std::string>{"zz_good.txt"}));

    // Alone, each ends the run with the text without the question.
    person.choose({noType});
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedCancelled);
    EXPECT_EQ(Boxes().back(), "103: " + xvlRCString::Get(12049, noType));
    person.choose({noTemplate});
    Run();
    EXPECT_EQ(Boxes().back(), "103: " + xvlRCString::Get(12051, noTemplate) + "\r\r" + templateHelp);
    person.choose({missingTemplate});
    Run();
    EXPECT_EQ(Boxes().back(), "103: " + xvlRCString::Get(12053, texts.str("nowhere.tpl"), missingTemplate));
}

TEST_F(Driver, DataFileFailuresByCommandAndCount) {
    World().behaviour[101] = StubBehaviour{false, 7, "GLM"};
    const std::string glm = Text("a.txt", "GLM");
    const std::string apm = Text("b.txt", "APM");
    person.choose({glm, apm});
    person.answer(dz::ui::kOk);
    dz::ui::PanelAction none;
    StartHub("EXAMINE/HUB");
    EXPECT_EQ(Run("Examine Files"), dz::ui::zqTask::kEndedOk);
    ASSERT_EQ(person.messages().size(), 2u);
    EXPECT_THAT(person.messages()[1].text, ::testing::HasSubstr("a.txt: skipped; not run"));
    // The description names the file once: "GL Master file is being used ...".
    EXPECT_EQ(person.messages()[0].text,
              xvlRCString::Get(12056, glm, "GL Master", "is being used by another user or another conversion"));
    EXPECT_NE(person.messages()[0].text.find("\r\rGL Master file is being used"), std::string::npos)
        << person.messages()[0].text;
    EXPECT_EQ(Converted(), (std::vector<std::string>{"b.txt"}));

    // Alone in Convert: 12055 without a question; error 13 of a needed file: 12061 / nothing.
    person.choose({glm});
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedCancelled);
    EXPECT_EQ(Boxes().back(),
              "103: " + xvlRCString::Get(12055, glm, "GL Master", "is being used by another user or another conversion"));

    World().behaviour[101] = StubBehaviour{false, 13, "CMM"};
    const std::size_t before = person.messages().size();
    person.choose({glm});
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedCancelled);
    EXPECT_EQ(person.messages().size(), before);  // a single file with error 13 ends silently

    person.choose({glm, apm});
    person.answer(dz::ui::kEnd);
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedCancelled);
    EXPECT_EQ(Boxes().back(), "105: " + xvlRCString::Get(12061, "CM Master", glm));
    EXPECT_EQ(Boxes().back().rfind("105: CM Master data file is needed", 0), 0u) << Boxes().back();

    // A declined interface warning drops the file, and says which.
    World().behaviour[101] = StubBehaviour{false, kErrorInterfaceDeclined, "APM"};
    World().log.clear();
    const std::size_t count = person.messages().size();
    person.choose({glm, apm});
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    ASSERT_EQ(person.messages().size(), count + 2);
    EXPECT_EQ(Boxes()[count], "101: " + xvlRCString::Get(13262, glm));
    EXPECT_EQ(Converted(), (std::vector<std::string>{"b.txt"}));
}

TEST_F(Driver, DataFilesStayOpenUntilTheHubEnds) {
    // A data file opened during the checks stays open through the run and is closed at its end.
    std::string error;
    ASSERT_TRUE(xio_load_dictionaries(fs::path(DZ_TEST_DATA_DIR) / "core" / "dictionary", error)) << error;
    ASSERT_EQ(xio_create_file("TCV", 1, company.path() / "MASTER.TCV"), XIO_OK);
    static uint16_t opened = 0;
    struct Opener : StubConverter {
        using StubConverter::StubConverter;
        bool OpenFiles(convert::OpenFilesList& list, uint16_t command, uint16_t& e) override {
            const bool ok = OpenDataFile("TCV", 1, 0, 0, list, command, e, false);
            opened = list.back().handle;
            return ok;
        }
    };
    SetConverterFactory([](uint16_t code) { return std::make_unique<Opener>(code); });
    struct Watch : RunObserver {
        bool openDuringRun = false;
        void FileStarting(const TextFileEntry&) override {
            xio_file_def def;
            openDuringRun = xio_get_def(opened, def) == XIO_OK;
        }
    } watch;
    SetRunObserver(&watch);
    person.choose({Text("a.txt", "GLM")});
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    ASSERT_NE(opened, 0);
    EXPECT_TRUE(watch.openDuringRun);
    xio_file_def def;
    EXPECT_NE(xio_get_def(opened, def), XIO_OK);

    // A run that ends before the hub closes them too.
    opened = 0;
    person.choose({Text("b.txt", "GLM"), texts.str("missing.txt")});
    person.answer(dz::ui::kEnd);
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedCancelled);
    ASSERT_NE(opened, 0);
    EXPECT_NE(xio_get_def(opened, def), XIO_OK);
    xio_load_dictionaries(dz::data_folder() / "dictionary", error);
}

TEST_F(Driver, AlreadyConvertedFileIsQuestionedEvenAlone) {
    const std::string path = Text("done.txt", "GLM");
    std::string err;
    ASSERT_TRUE(dz::xvl::StampTextFile(path, "#,Previously Converted,by Ann Lee,on 12/ 6/2026,at 14:30:00,using xvtcv.tpl", err)) << err;
    person.choose({path});
    person.answer(dz::ui::kSkip);
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedCancelled);
    ASSERT_EQ(person.messages().size(), 1u);
    EXPECT_EQ(person.messages()[0].kind, dz::ui::kThreeWay);
    EXPECT_EQ(person.messages()[0].text, xvlRCString::Get(12064, path, "by Ann Lee", "on 12/ 6/2026", "at 14:30:00"));
    EXPECT_TRUE(Converted().empty());

    // Go ahead: it runs. Examine asks its own text.
    person.choose({path});
    person.answer(dz::ui::kGoOn);
    StartHub("EXAMINE/HUB");
    EXPECT_EQ(Run("Examine Files"), dz::ui::zqTask::kEndedOk);
    EXPECT_EQ(person.messages().back().text,
              xvlRCString::Get(12066, path, "by Ann Lee", "on 12/ 6/2026", "at 14:30:00"));
    EXPECT_EQ(Converted().size(), 1u);

    // Without a user: 12065; another file remains after skipping this one.
    const std::string nobody = Text("nobody.txt", "GLM");
    ASSERT_TRUE(dz::xvl::StampTextFile(nobody, "#,Previously Converted,on 1/ 2/2026,at 9:00:00,using xvtcv.tpl", err));
    World().log.clear();
    person.choose({nobody, Text("other.txt", "GLM")});
    person.answer(dz::ui::kSkip);
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    ASSERT_GE(person.messages().size(), 2u);
    EXPECT_EQ(person.messages().end()[-2].text, xvlRCString::Get(12065, nobody, "on 1/ 2/2026", "at 9:00:00"));
    EXPECT_EQ(person.messages().back().text, "nobody.txt: skipped; not run\r\rother.txt: 0 accepted, 0 rejected, 0 messages, 0 notes");
    EXPECT_EQ(Converted(), (std::vector<std::string>{"other.txt"}));
}

TEST_F(Driver, ApInvoiceOptionsOnlyWhenConverting) {
    const std::string api = Text("inv.txt", "API");
    person.choose({api});
    StartHub("EXAMINE/HUB");
    EXPECT_EQ(Run("Examine Files"), dz::ui::zqTask::kEndedOk);
    EXPECT_FALSE(person.panel_was_opened("QUERY/API"));
    EXPECT_EQ(World().log.back(), "convert inv.txt table= paid=1 dup=1 ap=1");

    person.choose({api});
    person.on_panel("QUERY/API", PanelAction::choose(1, 3));
    person.on_panel("QUERY/API", PanelAction::press(3));
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    EXPECT_TRUE(person.panel_was_opened("QUERY/API"));
    const auto screen = person.last_screen("QUERY/API");
    ASSERT_GE(screen.size(), 4u);
    EXPECT_EQ(screen[1], "  Select how you want RA-Dodedoz to process existing");
    EXPECT_EQ(World().log.back(), "convert inv.txt table= paid=3 dup=1 ap=1");

    // Cancelled: no run, the task ends cancelled.
    person.choose({api});
    person.on_panel("QUERY/API", PanelAction::press(1));
    World().log.clear();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedCancelled);
    EXPECT_TRUE(Converted().empty());
}

TEST_F(Driver, ApInvoiceOptionsPreselectAccumulateWhenVendorsExist) {
    std::string error;
    ASSERT_TRUE(xio_load_dictionaries(fs::path(DZ_TEST_DATA_DIR) / "core" / "dictionary", error)) << error;
    ASSERT_EQ(xio_create_file("TCV", 2, company.path() / "OTHER.TCV"), XIO_OK);
    // The invoice converter's vendor file stands in as the test file 2, holding one record 5.
    struct Vendors : StubConverter {
        using StubConverter::StubConverter;
        bool OpenFiles(convert::OpenFilesList& list, uint16_t command, uint16_t& e) override {
            if (!OpenDataFile("TCV", 2, 0, 0, list, command, e, false)) return false;
            list.back().abbr = "APM";
            list.back().fileNo = 1;
            return true;
        }
    };
    SetConverterFactory([](uint16_t code) { return std::make_unique<Vendors>(code); });
    {
        uint16_t h = 0;
        xio_ask_request r;
        r.abbr = "TCV";
        r.fileNo = 2;
        ASSERT_EQ(xio_ask_file(r, h), XIO_OK);
        xio_init_record(h, 5);
        x_value_def v;
        v.text = "ONE";
        xio_put_field(h, 5, xio_num(h, XIO_NUM_RECORD, 5, "ITEXT"), v);
        ASSERT_EQ(xio_wr_record(h, 5), XIO_OK);
        xio_cls_file(h);
    }
    const std::string api = Text("inv.txt", "API");
    person.choose({api});
    person.on_panel("QUERY/API", PanelAction::press(3));  // takes the preselection
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    EXPECT_EQ(World().log.back(), "convert inv.txt table= paid=2 dup=1 ap=1");

    // Choosing to clear asks first; "no" returns to the panel.
    person.choose({api});
    person.on_panel("QUERY/API", PanelAction::choose(1, 1));
    person.on_panel("QUERY/API", PanelAction::press(3));
    person.answer(dz::ui::kNo);
    person.on_panel("QUERY/API", PanelAction::press(3));
    person.answer(dz::ui::kYes);
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    const std::string sure = "104: Are you sure you want to clear accumulated totals for all vendors?";
    const auto boxes = Boxes();
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), sure), 2);
    EXPECT_EQ(World().log.back(), "convert inv.txt table= paid=1 dup=1 ap=1");
    xio_load_dictionaries(dz::data_folder() / "dictionary", error);
}

TEST_F(Driver, HubOptionsSetTheDuplicateModeAndDates) {
    // "DUPS OK" on the first line makes mode 2 the starting point.
    const std::string api = Text("inv.txt", "API", ",DUPS OK");
    person.choose({api});
    person.on_panel("QUERY/API", PanelAction::press(3));
    person.on_panel("CONVERT/HUB", PanelAction::press(11));
    person.on_panel("QUERY/GENERAL", PanelAction::choose(1, 1));
    person.on_panel("QUERY/GENERAL", PanelAction::type(2, "3/31/2026"));
    person.on_panel("QUERY/GENERAL", PanelAction::press(3));
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    EXPECT_TRUE(person.panel_was_opened("QUERY/GENERAL"));
    EXPECT_EQ(World().log.back(), "convert inv.txt table= paid=1 dup=1 ap=1");
    // AP creates CM entries in this company: the dates are taken.
    EXPECT_EQ(World().options.back().clearDate, dz::suite::zqDate(3, 31, 2026));
    EXPECT_TRUE(World().options.back().statementDate.blank());

    // Without an invoice file there is no Options... button, and the hub's own list says no table.
    person.choose({Text("g.txt", "GLM")});
    StartHub();
    Run();
    EXPECT_EQ(World().log.back(), "convert g.txt table= paid=1 dup=1 ap=0");
}

class DriverNoCmEntries : public DriverTest {
protected:
    void Adjust(suite::CompanySettings& s) override {
        for (auto& i : s.interfaces)
            if (i.from == "AP" && i.to == "CM") i.creates_entries = false;
    }
};

TEST_F(DriverNoCmEntries, OptionDatesAreDisabledWhenApCreatesNoCmEntries) {
    person.choose({Text("inv.txt", "API", ",DUPS OK")});
    person.on_panel("QUERY/API", PanelAction::press(3));
    person.on_panel("CONVERT/HUB", PanelAction::press(11));
    person.on_panel("QUERY/GENERAL", PanelAction::type(2, "3/31/2026"));
    person.on_panel("QUERY/GENERAL", PanelAction::press(3));
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    EXPECT_EQ(World().log.back(), "convert inv.txt table= paid=1 dup=2 ap=1");
    EXPECT_TRUE(World().options.back().clearDate.blank());
}

TEST_F(Driver, ABadOptionDateIsRefusedAndTheOptionsPanelStays) {
    person.choose({Text("inv.txt", "API")});
    person.on_panel("QUERY/API", PanelAction::press(3));
    person.on_panel("CONVERT/HUB", PanelAction::press(11));
    person.on_panel("QUERY/GENERAL", PanelAction::type(2, "3/3x/2026"));
    person.on_panel("QUERY/GENERAL", PanelAction::press(3));
    person.on_panel("QUERY/GENERAL", PanelAction::type(2, ""));
    person.on_panel("QUERY/GENERAL", PanelAction::type(3, "2/30/2026"));
    person.on_panel("QUERY/GENERAL", PanelAction::press(3));
    person.on_panel("QUERY/GENERAL", PanelAction::type(3, "2026-02-27"));
    person.on_panel("QUERY/GENERAL", PanelAction::press(3));
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    ASSERT_GE(person.messages().size(), 2u);
    // Each refusal names the option by its label on the panel.
    EXPECT_EQ(person.messages()[0].kind, dz::ui::kError);
    EXPECT_EQ(person.messages()[0].text, "Mark as cleared all checks dated on or before: '3/3x/2026' is not a date. "
                                         "Enter it as month/day/year, or leave it empty.");
    EXPECT_EQ(person.messages()[1].text,
              "Statement date for cleared checks: '2/30/2026' does not exist: month 2 of 2026 has 28 days.");
    EXPECT_EQ(World().options.back().statementDate, dz::suite::zqDate(2, 27, 2026));
}

// An option is named by the words just left of its field: a heading further left on the same
// row, or a word right of the field, is not its name.
TEST_F(Driver, ABadOptionDateIsNamedByItsOwnLabelBesideAHeading) {
    std::string xv = ReadFile(fs::path(DZ_SOURCE_DATA_DIR) / "screens" / "XV.toml");
    const std::string label = "{ row = 6, col = 3, text = \"Mark as cleared all checks dated on or before:\" }";
    ASSERT_NE(xv.find(label), std::string::npos);
    xv.replace(xv.find(label), label.size(),
               "{ row = 6, col = 3, text = \"Checks\" }, { row = 6, col = 12, text = \"Cleared on or before:\" }, "
               "{ row = 6, col = 64, text = \"(m/d/y)\" }");
    const ScratchDir screens;
    WriteFile(screens.path() / "XV.toml", xv);
    ui::xw_cls_screen_file(screen);
    ui::set_screens_folder(screens.path());
    screen = ui::xw_open_screen_file("XV");
    ASSERT_NE(screen, ui::kNoScreenFile);
    convert::SetScreenFileHandle(static_cast<uint16_t>(screen));

    person.choose({Text("inv.txt", "API")});
    person.on_panel("QUERY/API", PanelAction::press(3));
    person.on_panel("CONVERT/HUB", PanelAction::press(11));
    person.on_panel("QUERY/GENERAL", PanelAction::type(2, "3/3x/2026"));
    person.on_panel("QUERY/GENERAL", PanelAction::press(3));
    person.on_panel("QUERY/GENERAL", PanelAction::press(1));
    StartHub();
    Run();
    ASSERT_FALSE(person.messages().empty());
    EXPECT_THAT(person.messages()[0].text, ::testing::StartsWith("Cleared on or before: '3/3x/2026' is not a date."));
}

TEST_F(Driver, ClosingMessageByCounts) {
    struct Case {
        uint32_t rejected, messages, notes;
        int convert, examine;
    };
    const Case cases[] = {{0, 0, 0, 0, 0},         {0, 3, 0, 12035, 12038}, {1, 0, 0, 12034, 12037},
                          {2, 1, 0, 12036, 12039}, {0, 0, 2, 12264, 12264}, {0, 1, 1, 12041, 12044},
                          {5, 0, 1, 12040, 12043}, {1, 2, 3, 12042, 12045}};
    const std::string path = Text("a.txt", "GLM");
    for (const Case& c : cases) {
        for (const std::string name : {"Convert", "Examine Files"}) {
            World().behaviour[101] = StubBehaviour{true, 0, "", 10, c.rejected, c.messages, c.notes, false};
            const std::size_t before = person.messages().size();
            person.choose({path});
            StartHub(name == "Convert" ? "CONVERT/HUB" : "EXAMINE/HUB");
            EXPECT_EQ(Run(name), dz::ui::zqTask::kEndedOk);
            const int expected = name == "Convert" ? c.convert : c.examine;
            if (expected == 0) {
                EXPECT_EQ(person.messages().size(), before) << name;
                continue;
            }
            ASSERT_EQ(person.messages().size(), before + 1) << name << " " << expected;
            const std::string& text = person.messages().back().text;
            EXPECT_EQ(person.messages().back().kind, dz::ui::kInfo);
            EXPECT_EQ(text.find('#'), std::string::npos) << text;  // every placeholder filled
            const std::string first = xvlRCString::Table().find(expected)->substr(0, 20);
            EXPECT_EQ(text.substr(0, 20), first) << expected;
        }
    }
    // Exact words: the PM module is installed, so converting names "Rejxxx.txt ".
    World().behaviour[101] = StubBehaviour{true, 0, "", 10, 1, 2, 0, false};
    person.choose({path});
    StartHub();
    Run();
    EXPECT_EQ(person.messages().back().text,
              "Examine your printout and the Rejxxx.txt files\rfor more information on the 1 rejected record and\r2 "
              "warning/log messages generated during this conversion.");
    World().behaviour[101] = StubBehaviour{true, 0, "", 10, 0, 0, 2, false};
    person.choose({path});
    StartHub("EXAMINE/HUB");
    Run("Examine Files");
    EXPECT_EQ(person.messages().back().text, "Examine your printout to view the\r2 conversion notes generated during conversion.");
    // Several files examined: the words speak of them all, not of "this file".
    World().behaviour[101] = StubBehaviour{true, 0, "", 10, 1, 0, 0, false};
    person.choose({path, Text("b.txt", "GLM"), Text("c.txt", "GLM")});
    StartHub("EXAMINE/HUB");
    Run("Examine Files");
    EXPECT_THAT(person.messages().back().text, ::testing::HasSubstr("3 records that will be rejected when these files are converted."));
}

TEST_F(Driver, TheWindowEndsOnTheCountsTheClosingMessageGives) {
    // The stub counts its messages and notes after its last record, as the notes of a file's end
    // are: the window still shows them.
    World().behaviour[101] = StubBehaviour{true, 0, "", 10, 0, 3, 2, false};
    person.choose({Text("a.txt", "GLM")});
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    EXPECT_THAT(person.messages().back().text, ::testing::HasSubstr("3 warning/log messages and\r2 conversion notes"));
    const auto screen = person.last_screen("CONVERT/STATUSS");
    ASSERT_GE(screen.size(), 5u);
    EXPECT_THAT(screen[4], ::testing::EndsWith("5")) << screen[4];  // messages and notes, row 5 column 62
}

// A stopped conversion put its file back: that is all its closing message says (the stopped
// file's counts are of records not kept). A stopped Examine Files kept nothing, and says nothing.
TEST_F(Driver, AStoppedRunSaysOnlyWhatWasPutBack) {
    StubBehaviour stopped{true, 0, "", 10, 3, 3, 3, true};
    stopped.endedWhy = "Conversion canceled by operator";
    World().behaviour[101] = stopped;
    person.choose({Text("a.txt", "GLM"), Text("b.txt", "GLM")});
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    ASSERT_EQ(person.messages().size(), 1u);
    // The file after it is named as not run.
    EXPECT_EQ(person.messages()[0].text, "a.txt: 10 read, none kept: stopped; every data file put back\r\rb.txt: not run");
    EXPECT_EQ(Converted(), (std::vector<std::string>{"a.txt"}));  // the loop stops before the next file
    EXPECT_TRUE(person.panel_was_opened("CONVERT/STATUSM"));
    EXPECT_TRUE(dz::ui::open_panels().empty());

    World().behaviour[101].endedWhy = "Examining files canceled by operator";
    person.choose({Text("a.txt", "GLM")});
    StartHub("EXAMINE/HUB");
    EXPECT_EQ(Run("Examine Files"), dz::ui::zqTask::kEndedOk);
    EXPECT_EQ(person.messages().size(), 1u);
}

// A file put back kept nothing: its summary says so, and what ended it, instead of counting
// as accepted records that are not there; the closing message opens with the same line, and
// counts none of its records.
TEST_F(Driver, AFilePutBackIsSummedUpAsNothingKept) {
    FileOutcome o;
    o.converting = true;
    o.accepted = 374812;
    o.rejected = 2;
    EXPECT_EQ(PutBackSummary(o), "");  // ran to its end
    o.endedWhy = "Unable to print warning/log messages\rmore";
    // Only a file that had written a data file had one to put back.
    EXPECT_EQ(PutBackSummary(o), "374814 read, none kept: Unable to print warning/log messages");
    o.endedWritten = true;
    EXPECT_EQ(PutBackSummary(o), "374814 read, none kept: Unable to print warning/log messages; every data file put back");
    o.stopped = true;
    EXPECT_EQ(PutBackSummary(o), "374814 read, none kept: stopped; every data file put back");
    o.endedRestore = 1;
    EXPECT_THAT(PutBackSummary(o), ::testing::HasSubstr("some may have been kept: stopped; a data file could not"));
    o.converting = false;  // Examine Files keeps nothing anyway: its counts stand
    EXPECT_EQ(PutBackSummary(o), "");

    StubBehaviour ended{true, 0, "", 4, 1, 1, 0, false};
    ended.endedWhy = "Unable to print warning/log messages";
    World().behaviour[101] = ended;
    person.choose({Text("a.txt", "GLM")});
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    ASSERT_FALSE(person.messages().empty());
    EXPECT_EQ(person.messages().back().text,
              "a.txt: 4 read, none kept: Unable to print warning/log messages; every data file put back");
    // Beside a file that was kept: what was put back first, then the kept file's counts alone.
    World().behaviour[401] = StubBehaviour{true, 0, "", 5, 2, 0, 0, false};
    person.choose({Text("a.txt", "GLM"), Text("b.txt", "APM")});
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    EXPECT_THAT(person.messages().back().text,
                ::testing::StartsWith("a.txt: 4 read, none kept: Unable to print warning/log messages; every data "
                                      "file put back\r\rb.txt: 3 accepted, 2 rejected, 0 messages, 0 notes\r\r"
                                      "Examine your printout and the Rejxxx.txt files\rfor more "
                                      "information on the 2 rejected records"));
}

// A file that ended early, its words in the closing message, lends them to no file after it:
// the message names each file once, as it ended, a clean one by its counts and one left out at
// the checks as not run.
TEST_F(Driver, TheClosingMessageNamesEachFileOnceAsItEnded) {
    StubBehaviour ended{true, 0, "", 12, 1, 0, 0, false};
    ended.endedWhy = "Unable to write reject file c-glt.txt\rNo space left on device";
    ended.endedBox = true;
    World().behaviour[101] = StubBehaviour{true, 0, "", 10, 1, 0, 0, false};
    World().behaviour[102] = ended;
    World().behaviour[401] = StubBehaviour{true, 0, "", 5, 0, 1, 0, false};
    const std::string semicolons = texts.str("d-semi.txt");
    WriteFile(semicolons, "#;GLM;" + templatePath + "\r\n1;A1;;Name;0;\r\n");
    person.choose({Text("a-glm.txt", "GLM"), Text("b-apm.txt", "APM"), Text("c-glt.txt", "GLT"), semicolons});
    person.answer(dz::ui::kOk);  // skip the semicolon file
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    EXPECT_EQ(Converted(), (std::vector<std::string>{"a-glm.txt", "c-glt.txt", "b-apm.txt"}));
    ASSERT_FALSE(person.messages().empty());
    EXPECT_EQ(person.messages().back().kind, dz::ui::kError);
    EXPECT_THAT(person.messages().back().text,
                ::testing::StartsWith("a-glm.txt: 9 accepted, 1 rejected, 0 messages, 0 notes\r\r"
                                      "c-glt.txt: 12 read, none kept: Unable to write reject file c-glt.txt; every "
                                      "data file put back\rNo space left on device\r\r"
                                      "b-apm.txt: 5 accepted, 0 rejected, 1 message, 0 notes\r\r"
                                      "d-semi.txt: skipped; not run\r\rExamine your printout"));

    // A front end that names each file itself (the command line) gets only the ending in the
    // closing message, and no empty line for the clean file after it.
    struct NamesEach : RunObserver {
        bool NamesEachFile() const override { return true; }
    } each;
    SetRunObserver(&each);
    person.choose({Text("a-glm.txt", "GLM"), Text("b-apm.txt", "APM"), Text("c-glt.txt", "GLT")});
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    EXPECT_THAT(person.messages().back().text,
                ::testing::StartsWith("c-glt.txt: 12 read, none kept: Unable to write reject file c-glt.txt; every "
                                      "data file put back\rNo space left on device\r\rExamine your printout"));
    EXPECT_THAT(person.messages().back().text, ::testing::Not(::testing::HasSubstr("b-apm.txt")));

    // A file of a type without a converter did not run, and is named so beside the others.
    SetRunObserver(nullptr);
    SetConverterFactory([](uint16_t code) { return code == 401 ? nullptr : std::make_unique<StubConverter>(code); });
    person.choose({Text("a-glm.txt", "GLM"), Text("b-apm.txt", "APM")});
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    EXPECT_THAT(person.messages().back().text,
                ::testing::StartsWith("a-glm.txt: 9 accepted, 1 rejected, 0 messages, 0 notes\r\rb-apm.txt: not run"));
}

// Examine Files closes as the command line says each file: one box naming every file once in
// run order (one skipped at a question where it would have run), a file that ended early by what
// it read and its ending, and one that ended with no words of its own at the close by its counts,
// not completed: the first file's ending, said in the box, is not lent to the next.
TEST_F(Driver, TheExamineBoxNamesEachFileInRunOrderInTheCommandLinesWords) {
    StubBehaviour ended{true, 0, "", 3, 1, 0, 0, false};
    ended.endedWhy = "Unable to open the Master.xvm file\rmore";
    ended.endedBox = true;
    World().behaviour[101] = ended;
    ended.endedBox = false;
    World().behaviour[401] = ended;
    const std::string converted = Text("b-glt.txt", "GLT");
    std::string err;
    ASSERT_TRUE(dz::xvl::StampTextFile(converted, "#,Previously Converted,on 1/ 2/2026,at 9:00:00,using xvtcv.tpl", err));
    person.choose({Text("c-apm.txt", "APM"), converted, Text("a-glm.txt", "GLM")});
    person.answer(dz::ui::kSkip);
    StartHub("EXAMINE/HUB");
    EXPECT_EQ(Run("Examine Files"), dz::ui::zqTask::kEndedOk);
    EXPECT_EQ(Boxes().back(),
              "103: a-glm.txt: 3 read, examine ended early: Unable to open the Master.xvm file\rmore\r\r"
              "b-glt.txt: skipped; not run\r\rc-apm.txt: 2 accepted, 1 rejected, 0 messages, 0 notes; not completed");
}

// The window counts as accepted only what stayed in the data files: a run whose files were all
// put back ends showing none accepted, in a single file's row and in the totals of several,
// whose counts are those of the files that ran to their end, as the closing message's are.
TEST_F(Driver, AWindowWhoseFilesWereAllPutBackShowsNoneAccepted) {
    StubBehaviour ended{true, 0, "", 4, 1, 0, 0, false};
    ended.endedWhy = "Unable to print warning/log messages";
    World().behaviour[101] = ended;
    auto cell = [&](const std::string& panel, int row, int col) {
        const auto screen = person.last_screen(panel);
        if (screen.size() < static_cast<std::size_t>(row) || screen[row - 1].size() < static_cast<std::size_t>(col))
            return std::string("?");
        std::string text = screen[row - 1].substr(col - 1, 10);
        text.erase(0, text.find_first_not_of(' '));
        text.erase(text.find_last_not_of(' ') + 1);
        return text;
    };
    person.choose({Text("a.txt", "GLM")});
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    EXPECT_EQ(cell("CONVERT/STATUSS", 5, 28), "0");  // accepted
    EXPECT_EQ(cell("CONVERT/STATUSS", 6, 28), "1");  // rejected
    person.choose({Text("a.txt", "GLM"), Text("b.txt", "GLM")});
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    EXPECT_EQ(cell("CONVERT/STATUSM", 9, 28), "0");   // the run's accepted
    EXPECT_EQ(cell("CONVERT/STATUSM", 10, 28), "0");  // the run's rejected: of no file that ran to its end
    EXPECT_EQ(cell("CONVERT/STATUSM", 5, 22), "0");   // the last file's accepted
}

class DriverTables : public DriverTest {
protected:
    void AddGroups(const std::vector<std::string>& names) {
        std::string error;
        ASSERT_TRUE(xio_load_dictionaries(dz::data_folder() / "dictionary", error)) << error;
        ASSERT_EQ(xio_create_file("XVM", 0, company.path() / "MASTER.XVM"), XIO_OK);
        uint16_t h = 0;
        xio_ask_request r;
        r.abbr = "XVM";
        ASSERT_EQ(xio_ask_file(r, h), XIO_OK);
        for (const auto& n : names) {
            xio_init_record(h, 1);
            x_value_def v;
            v.text = n;
            xio_put_field(h, 1, xio_num(h, XIO_NUM_RECORD, 1, "TABLE"), v);
            ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);
        }
        xio_cls_file(h);
    }
};

TEST_F(DriverTables, OneTableGroupIsPreselected) {
    AddGroups({"Main"});
    person.choose({Text("a.txt", "GLM")});
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    EXPECT_EQ(World().log.back(), "convert a.txt table=Main paid=1 dup=1 ap=0");
}

TEST_F(DriverTables, SeveralGroupsAreListedAndNoneIsPreselected) {
    AddGroups({"Beta", "Alpha"});
    person.choose({Text("a.txt", "GLM")});
    StartHub();
    Run();
    EXPECT_EQ(World().log.back(), "convert a.txt table= paid=1 dup=1 ap=0");

    person.choose({Text("a.txt", "GLM")});
    person.on_panel("CONVERT/HUB", PanelAction::item(1, "Use Beta"));
    StartHub();
    Run();
    EXPECT_EQ(World().log.back(), "convert a.txt table=Beta paid=1 dup=1 ap=0");
}

TEST_F(Driver, TheHubListsTheFilesAndScrolls) {
    std::vector<std::string> files;
    for (int i = 0; i < 7; ++i) files.push_back(Text("f" + std::to_string(i) + ".txt", "GLM"));
    person.choose(files);
    person.on_panel("CONVERT/HUB", PanelAction::escape());
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);  // a cancelled hub still ends through its end callback
    EXPECT_TRUE(Converted().empty());
    const auto list = person.last_screen("EXAMINE/CHILD");
    ASSERT_GE(list.size(), 7u);
    EXPECT_EQ(list[0], "  GL Master Records - f0.txt");
    EXPECT_EQ(list[6], "  GL Master Records - f6.txt");
}

TEST_F(Driver, ScrollingStaysWithinTheRows) {
    RunContext ctx;
    ConversionTypeList selection;
    for (int i = 0; i < 8; ++i) selection.files.push_back({"/t/f" + std::to_string(i) + ".txt", 101});
    PackTextFileList(selection, ctx.fileList);
    const int h = dz::ui::xw_show_panel(screen, "EXAMINE", "CHILD", ListTextFilesPanel, &ctx, 3020);
    ASSERT_NE(h, 0);
    dz::ui::Panel* p = dz::ui::xw_find_panel(h);
    EXPECT_EQ(ctx.rows, 8);
    EXPECT_EQ(p->scroll_proportion(), 63);  // 500 / 8, rounded
    ListTextFilesPanel(*p, {dz::ui::kMsgScrollKey, 14, 0});
    EXPECT_EQ(ctx.firstRow, 4);  // at most rows - 4
    ListTextFilesPanel(*p, {dz::ui::kMsgScrollKey, 5, 0});
    EXPECT_EQ(ctx.firstRow, 3);
    ListTextFilesPanel(*p, {dz::ui::kMsgScrollKey, 13, 0});
    EXPECT_EQ(ctx.firstRow, 1);
    ListTextFilesPanel(*p, {dz::ui::kMsgScrollTo, 7, 0});
    EXPECT_EQ(ctx.firstRow, 4);
    EXPECT_EQ(p->scroll_position(), 4);
}

TEST_F(Driver, ChangingAMacroStepNamesTheCommand) {
    dz::ui::run_state().macro_status = dz::ui::kMacroChange;
    EXPECT_EQ(Run("Examine Files"), dz::ui::zqTask::kEndedCancelled);
    ASSERT_EQ(person.messages().size(), 1u);
    EXPECT_EQ(person.messages()[0].kind, dz::ui::kInfo);
    EXPECT_EQ(person.messages()[0].text.rfind("Examine Files does not support changing a macro step.", 0), 0u);
    EXPECT_TRUE(person.choosers().empty());
    Run("Convert");
    EXPECT_EQ(person.messages()[1].text.rfind("Convert does not support changing a macro step.", 0), 0u);
}

TEST_F(Driver, ACancelledChooserEndsTheTaskAndKeepsTheFolder) {
    person.cancel_chooser();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedCancelled);
    ASSERT_EQ(person.choosers().size(), 1u);
    EXPECT_EQ(person.choosers()[0].title, "Convert - Text File Selection");
    EXPECT_EQ(person.choosers()[0].initial_folder, "");
    EXPECT_EQ(RememberedTextFileFolder(), "");

    person.choose({Text("a.txt", "GLM")});
    StartHub("EXAMINE/HUB");
    Run("Examine Files");
    person.cancel_chooser();
    Run("Examine Files");
    EXPECT_EQ(person.choosers()[2].title, "Examine Files - Text File Selection");
    EXPECT_EQ(person.choosers()[2].initial_folder, texts.str());
    ResetTextFileFolder();
    person.cancel_chooser();
    Run();
    EXPECT_EQ(person.choosers()[3].initial_folder, "");
}

// A folder of more than 255 characters is remembered whole: its first 255 would name another.
TEST_F(Driver, ADeepFolderIsRememberedWhole) {
    const std::string folder = "/" + std::string(150, 'a') + "/" + std::string(150, 'b');
    person.choose({folder + "/x.txt"});
    person.answer(dz::ui::kEnd);
    Run();
    EXPECT_EQ(RememberedTextFileFolder(), folder);
}

TEST_F(Driver, ThePrefillCommandGetsTheThirdTexts) {
    dz::ui::zqTask prefill("Substitution Tables", 12, 4010, 3);
    const std::string a = Text("a.txt", "GLM"), b = Text("b.txt", "APM");
    World().behaviour[101] = StubBehaviour{false, 3, "GLM"};
    ConversionTypeList selection;
    selection.files = {{a, 0}, {b, 0}};
    OpenFilesList files;
    person.answer(dz::ui::kOk);
    ASSERT_TRUE(ValidateTextFiles(selection, files, prefill));
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"105: " + xvlRCString::Get(12058, a, "GL Master", "does not exist")}));
    ASSERT_EQ(selection.files.size(), 1u);
    EXPECT_EQ(selection.files[0].path, b);
    EXPECT_EQ(selection.files[0].code, 401);

    std::string err;
    ASSERT_TRUE(dz::xvl::StampTextFile(b, "#,Previously Converted,by Ann Lee,on 12/ 6/2026,at 14:30:00,using x", err));
    person.answer(dz::ui::kSkip);
    EXPECT_FALSE(ValidateTextFiles(selection, files, prefill));
    EXPECT_EQ(Boxes().back(), "109: " + xvlRCString::Get(12068, b, "by Ann Lee", "on 12/ 6/2026", "at 14:30:00"));
    EXPECT_TRUE(selection.files.empty());
    CloseRunFiles(files);
}

TEST_F(Driver, AFileThatCannotOpenIsNamedNotTheLastEntryAnEarlierFileLeft) {
    dz::ui::zqTask convert("Convert", 15, 3020, 5);
    const std::string a = Text("a.txt", "GLM"), b = Text("b.txt", "APM"), c = Text("c.txt", "ARM");
    World().behaviour[101] = StubBehaviour{false, 3, "GLM"};
    StubBehaviour needsOptional;
    needsOptional.openOk = false;
    needsOptional.optionalAbbr = "TLI";
    World().behaviour[401] = needsOptional;
    ConversionTypeList selection;
    selection.files = {{a, 0}, {b, 0}, {c, 0}};
    OpenFilesList files;
    person.answer(dz::ui::kOk);
    person.answer(dz::ui::kOk);
    ASSERT_TRUE(ValidateTextFiles(selection, files, convert));
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_THAT(boxes[0], ::testing::HasSubstr("GL Master"));
    EXPECT_THAT(boxes[1], ::testing::StartsWith("105: TLI data file is needed for conversion of file\r" + b));
    CloseRunFiles(files);
}

// Every type converted by the converter core's test converter, into a MASTER.TCV of the company.
void UseTheTestConverter(const fs::path& company) {
    std::string error;
    const fs::path dictionaries = company / "dict";
    fs::create_directories(dictionaries);
    fs::copy_file(fs::path(DZ_TEST_DATA_DIR) / "core" / "dictionary" / "tcv.toml", dictionaries / "tcv.toml");
    fs::copy_file(dz::data_folder() / "dictionary" / "xvm.toml", dictionaries / "xvm.toml");
    ASSERT_TRUE(xio_load_dictionaries(dictionaries, error)) << error;
    ASSERT_EQ(xio_create_file("TCV", 1, company / "MASTER.TCV"), XIO_OK);
    SetConverterFactory([](uint16_t) { return std::make_unique<convert::testing::TestConverter>(); });
}

// The driver over the converter core's test converter: records really written, the text file
// stamped, the second run questioned, the report delivered and the closing message counted.
TEST_F(Driver, EndToEndWithTheTestConverter) {
    std::string error;
    UseTheTestConverter(company.path());

    const std::string path = Text("items.txt", "GLM", "", "1,A1,,Alpha,1,\r\n1,B2,,WARNxy,2,\r\n1,A1,,Again,3,\r\n");
    const std::string master = ReadFile(company.path() / "MASTER.TCV");
    person.choose({path});
    StartHub("EXAMINE/HUB");
    EXPECT_EQ(Run("Examine Files"), dz::ui::zqTask::kEndedOk);
    EXPECT_EQ(ReadFile(company.path() / "MASTER.TCV"), master);  // examining writes nothing
    ASSERT_EQ(person.reports().size(), 1u);
    EXPECT_EQ(person.reports()[0].title, "Examine Files Report");
    ASSERT_FALSE(person.messages().empty());
    EXPECT_EQ(person.messages().back().text.rfind("Examine your printout for more information on the\r1 record that will be rejected and\r2 warning/log messages", 0), 0u)
        << person.messages().back().text;

    person.choose({path});
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    EXPECT_NE(ReadFile(path).find("Previously Converted"), std::string::npos);
    EXPECT_TRUE(fs::exists(texts.path() / "RejTCV.txt"));

    person.choose({path});
    person.answer(dz::ui::kSkip);
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedCancelled);
    EXPECT_EQ(person.messages().back().kind, dz::ui::kThreeWay);
    EXPECT_NE(person.messages().back().text.find("by Ann Lee"), std::string::npos) << person.messages().back().text;
    xio_load_dictionaries(dz::data_folder() / "dictionary", error);
}

// One count for one thing: a run whose second file ends early (its reject file on a full disk)
// shows in its window, says in its closing message and counts in its report's totals and its
// files' summaries the same rejected records, those of the files that ran to their end; the
// record the reject file could not take is read, not rejected.
TEST_F(Driver, ARunWhoseSecondFileEndsEarlyCountsItsRejectedRecordsOnce) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full to stand for a full disk";
    UseTheTestConverter(company.path());
    struct Summaries : RunObserver {
        std::vector<FileOutcome> files;
        void FileFinished(const FileOutcome& o) override { files.push_back(o); }
    } summaries;
    SetRunObserver(&summaries);
    person.choose({Text("a.txt", "GLM", "", "1,A1,,Alpha,1,\r\n1,A2,,BAD,2,\r\n"),
                   Text("b.txt", "GLM", "", "1,B1,,Kept,1,\r\n1,B2,,BAD,2,\r\n1,B3,,REJECTFULL,3,\r\n"),
                   Text("c.txt", "GLM", "", "1,C1,,BAD,1,\r\n1,C2,,BAD,2,\r\n1,C3,,Gamma,3,\r\n")});
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);

    const std::string box = person.messages().back().text;
    EXPECT_THAT(box, ::testing::HasSubstr("b.txt: 3 read, none kept: Unable to write to the reject file"));
    EXPECT_THAT(box, ::testing::HasSubstr("on the 3 rejected records"));
    const auto window = person.last_screen("CONVERT/STATUSM");
    ASSERT_GE(window.size(), 10u);
    EXPECT_THAT(window[9], ::testing::MatchesRegex("  Records rejected: +3 *")) << window[9];
    EXPECT_THAT(window[8], ::testing::MatchesRegex("  Records accepted: +2 +Messages and notes: +0 *")) << window[8];
    uint32_t totals = 0;  // the rejected column of each report's "Total:" line
    ASSERT_EQ(person.reports().size(), 1u);
    for (const auto& line : dz::ui::all_lines(person.reports()[0]))
        if (line.rfind("Total:", 0) == 0) totals += static_cast<uint32_t>(std::stoul(line.substr(58, 13)));
    EXPECT_EQ(totals, 3u);
    ASSERT_EQ(summaries.files.size(), 3u);
    EXPECT_EQ(summaries.files[0].rejected + summaries.files[2].rejected, 3u);
    EXPECT_EQ(summaries.files[1].accepted + summaries.files[1].rejected, 3u);  // b.txt read 3
    EXPECT_EQ(summaries.files[1].rejected, 1u);  // the BAD line its reject file took
    std::string error;
    xio_load_dictionaries(dz::data_folder() / "dictionary", error);
}

TEST(DriverDates, ParseDate) {
    x_date_type d;
    ASSERT_TRUE(ParseDate("3/31/2026", d));
    EXPECT_EQ(d, dz::suite::zqDate(3, 31, 2026));
    ASSERT_TRUE(ParseDate("2026-02-28", d));
    EXPECT_EQ(d, dz::suite::zqDate(2, 28, 2026));
    ASSERT_TRUE(ParseDate("1/2/26", d));
    EXPECT_EQ(d, dz::suite::zqDate(1, 2, 2026));
    // A day past its month's last is said not to exist; a month 13 is no date's.
    std::string why;
    EXPECT_FALSE(ParseDate("2/29/2026", d, &why));
    EXPECT_EQ(why, "month 2 of 2026 has 28 days");
    why.clear();
    EXPECT_FALSE(ParseDate("13/1/2026", d, &why));
    EXPECT_EQ(why, "");
    EXPECT_FALSE(ParseDate("2026/01/01x", d));
    EXPECT_FALSE(ParseDate("1-2/2026", d));
    EXPECT_FALSE(ParseDate("", d));
}

}  // namespace
}  // namespace dz::app::testing
