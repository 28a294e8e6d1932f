// Stored runs: the three option blocks byte for byte, their description lines, storing from the
// hub (background box, macro recording), replay without questions, and refused blocks.
#include "test_driver_support.h"

#include "platform/import/xvl_rcstring.h"

#include <gmock/gmock.h>

#include <fstream>

namespace dz::app::testing {
namespace {

using dz::ui::PanelAction;
using ::testing::HasSubstr;
using Bytes = std::vector<uint8_t>;

Bytes BytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(StoredBlocks, FileListOfTwoFilesIs26Bytes) {
    ConversionTypeList selection;
    selection.files = {{"/a/b/x.txt", 101}, {"/c/d/y.txt", 605}};
    Bytes block;
    PackTextFileList(selection, block);
    Bytes expected = BytesOf("/a/b/x.txt");
    expected.insert(expected.end(), {0x00, 0x65, 0x00});
    const Bytes second = BytesOf("/c/d/y.txt");
    expected.insert(expected.end(), second.begin(), second.end());
    expected.insert(expected.end(), {0x00, 0x5D, 0x02});
    ASSERT_EQ(block.size(), 26u);
    EXPECT_EQ(block, expected);

    ConversionTypeList back;
    back.files = {{"stale", 1}};
    ASSERT_TRUE(UnpackTextFileList(back, block.data(), block.size()));
    ASSERT_EQ(back.files.size(), 2u);
    EXPECT_EQ(back.files[0].path, "/a/b/x.txt");
    EXPECT_EQ(back.files[0].code, 101);
    EXPECT_EQ(back.files[1].path, "/c/d/y.txt");
    EXPECT_EQ(back.files[1].code, 605);
}

TEST(StoredBlocks, MalformedFileListsAreRefusedWithoutReadingPastTheEnd) {
    ConversionTypeList selection;
    selection.files = {{"/a/b/x.txt", 101}, {"/c/d/y.txt", 605}};
    Bytes block;
    PackTextFileList(selection, block);
    std::string error;
    // Every cut of the block but the whole and the one after the first file is refused. The
    // bytes are copied into a buffer of exactly that size, so a read past it would be caught by
    // a sanitizer.
    for (std::size_t cut = 1; cut < block.size(); ++cut) {
        std::unique_ptr<uint8_t[]> exact(new uint8_t[cut]);
        std::copy(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(cut), exact.get());
        ConversionTypeList out;
        const bool ok = UnpackTextFileList(out, exact.get(), cut, &error);
        EXPECT_EQ(ok, cut == 13) << cut;
        if (!ok) {
            EXPECT_TRUE(out.files.empty());
            EXPECT_FALSE(error.empty());
        }
    }
    const Bytes noEnd = BytesOf("/a/b/x.txt");
    ConversionTypeList out;
    EXPECT_FALSE(UnpackTextFileList(out, noEnd.data(), noEnd.size(), &error));
    EXPECT_EQ(error, "the path of file 1 has no end");
    const Bytes empty = {0x00, 0x65, 0x00};
    EXPECT_FALSE(UnpackTextFileList(out, empty.data(), empty.size(), &error));
    EXPECT_EQ(error, "file 1 has an empty path");
    const Bytes shortCode = {'a', 0x00, 0x65};
    EXPECT_FALSE(UnpackTextFileList(out, shortCode.data(), shortCode.size(), &error));
    EXPECT_EQ(error, "the conversion type of file 1 is cut short");
    const Bytes twice = {'a', 0x00, 0x65, 0x00, 'b', 0x00, 0x65, 0x00, 'a', 0x00, 0x5D, 0x02};
    EXPECT_FALSE(UnpackTextFileList(out, twice.data(), twice.size(), &error));
    EXPECT_EQ(error, "file 3 is file 1 again");
}

TEST(StoredBlocks, OptionsBlockLayout) {
    ConversionOptions o;
    o.apInvoiceFile = 1;
    o.paidTotalsMode = 3;
    o.dupInvoiceMode = 2;
    o.clearDate = dz::suite::zqDate(3, 31, 2026);
    const OptionsBlock b = PackConversionOptions(o);
    const Bytes expected = {0x01, 0x00, 0x03, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x03,
                            0x00, 0x1F, 0x00, 0xEA, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(Bytes(b.begin(), b.end()), expected);

    ConversionOptions back;
    ASSERT_TRUE(UnpackConversionOptions(b.data(), b.size(), back));
    EXPECT_EQ(back.apInvoiceFile, 1);
    EXPECT_EQ(back.paidTotalsMode, 3u);
    EXPECT_EQ(back.dupInvoiceMode, 2u);
    EXPECT_EQ(back.clearDate, dz::suite::zqDate(3, 31, 2026));
    EXPECT_TRUE(back.statementDate.blank());

    std::string error;
    ConversionOptions untouched;
    EXPECT_FALSE(UnpackConversionOptions(b.data(), 21, untouched, &error));
    EXPECT_EQ(error, "the options block holds 21 bytes instead of 22");
    Bytes badMode = expected;
    badMode[2] = 4;
    EXPECT_FALSE(UnpackConversionOptions(badMode.data(), badMode.size(), untouched, &error));
    Bytes badDate = expected;
    badDate[12] = 30;  // 3/30 is fine, 2/30 is not
    badDate[10] = 2;
    EXPECT_FALSE(UnpackConversionOptions(badDate.data(), badDate.size(), untouched, &error));
    EXPECT_EQ(error, "the options block holds a date that does not exist");
    EXPECT_EQ(untouched.paidTotalsMode, 1u);
}

using Stored = DriverTest;

TEST_F(Stored, TheHubsBackgroundBoxStoresTheRunInsteadOfRunningIt) {
    const std::string a = Text("a.txt", "GLM"), b = Text("b.txt", "PMT");
    person.choose({b, a});
    person.on_panel("CONVERT/HUB", PanelAction::check(dz::ui::kHubBackgroundField, true));
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    EXPECT_TRUE(Converted().empty());
    // Stored, not run: the person is told how the stored run is run.
    ASSERT_EQ(person.messages().size(), 1u);
    EXPECT_THAT(person.messages()[0].text, HasSubstr("stored as a background task"));
    EXPECT_THAT(person.messages()[0].text, HasSubstr("dodedoz-cli replay --company "));

    ConversionTypeList expected;
    expected.files = {{a, 101}, {b, 605}};
    Bytes block1;
    PackTextFileList(expected, block1);
    dz::suite::OptionStore store(company.path(), 3020);
    EXPECT_EQ(store.read(1), block1);
    EXPECT_EQ(store.size(2), 0u);
    EXPECT_EQ(store.size(3), 0u);  // no AP invoice file, no options
    EXPECT_EQ(store.descriptions(),
              (std::vector<std::string>{"", "Substitution table name:", "   Not using substitution tables"}));

    // Replayed in the background: no chooser, no question, no panel; defaults for the options.
    dz::ui::reset_run_state();
    dz::ui::run_state().in_background = true;
    dz::ui::run_state().report_path = "-";
    World().log.clear();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    EXPECT_EQ(World().log, (std::vector<std::string>{"open 101", "open 605", "convert a.txt table= paid=1 dup=1 ap=0",
                                                     "convert b.txt table= paid=1 dup=1 ap=0"}));
    EXPECT_EQ(person.choosers().size(), 1u);
    EXPECT_EQ(person.unanswered(), 0);
    EXPECT_EQ(person.messages().size(), 1u);  // only the storing's
    EXPECT_FALSE(person.panel_was_opened("CONVERT/STATUSM"));
}

TEST_F(Stored, RecordingAnExamineStepWithAnInvoiceFile) {
    dz::ui::run_state().macro_status = dz::ui::kMacroRecord;
    const std::string api = Text("inv.txt", "API");
    person.choose({api});
    person.on_panel("EXAMINE/HUB", PanelAction::press(11));
    person.on_panel("QUERY/GENERAL", PanelAction::choose(1, 2));
    person.on_panel("QUERY/GENERAL", PanelAction::type(2, "3/31/2026"));
    person.on_panel("QUERY/GENERAL", PanelAction::press(3));
    StartHub("EXAMINE/HUB");
    EXPECT_EQ(Run("Examine Files"), dz::ui::zqTask::kEndedOk);
    EXPECT_TRUE(Converted().empty());
    EXPECT_FALSE(person.panel_was_opened("QUERY/API"));

    dz::suite::OptionStore store(company.path(), 3010);
    const Bytes block3 = store.read(3);
    ASSERT_EQ(block3.size(), 22u);
    ConversionOptions o;
    ASSERT_TRUE(UnpackConversionOptions(block3.data(), block3.size(), o));
    EXPECT_EQ(o.apInvoiceFile, 1);
    EXPECT_EQ(o.dupInvoiceMode, 2u);
    EXPECT_EQ(store.descriptions(),
              (std::vector<std::string>{"Text file names:", "   " + api, "", "Substitution table name:",
                                        "   Not using substitution tables", "", "API option:",
                                        "   Change invoice number on invoices with duplicate invoice numbers.",
                                        "   Mark as cleared all checks with a check date on or before ' 3/31/2026'."}));

    // Played back: the stored options reach the converter.
    dz::ui::reset_run_state();
    dz::ui::run_state().macro_status = dz::ui::kMacroPlayback;
    dz::ui::run_state().report_path = "-";
    EXPECT_EQ(Run("Examine Files"), dz::ui::zqTask::kEndedOk);
    EXPECT_EQ(World().log.back(), "convert inv.txt table= paid=1 dup=2 ap=1");
    EXPECT_EQ(World().options.back().clearDate, dz::suite::zqDate(3, 31, 2026));
    EXPECT_EQ(person.unanswered(), 0);
}

TEST_F(Stored, ConvertStoresThePaidTotalsLineAndTheTableGroup) {
    dz::ui::run_state().macro_status = dz::ui::kMacroRecord;
    person.choose({Text("inv.txt", "API")});
    person.on_panel("QUERY/API", PanelAction::choose(1, 2));
    person.on_panel("QUERY/API", PanelAction::press(3));
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);
    const auto lines = dz::suite::OptionStore(company.path(), 3020).descriptions();
    ASSERT_GE(lines.size(), 9u);
    EXPECT_EQ(lines[6], "API option:");
    EXPECT_EQ(lines[7], "   Accumulate vendor paid totals from their current value.");
    EXPECT_EQ(lines[8], "   Reject invoices with duplicate invoice numbers.");
    EXPECT_EQ(lines.size(), 9u);

    // A table group is stored as its name and a zero byte.
    RunContext ctx;
    dz::ui::zqTask t("Convert", 15, 3020, 5);
    ctx.task = &t;
    ctx.tableName = "Main";
    ConversionTypeList one;
    one.files = {{"/x.txt", 101}};
    PackTextFileList(one, ctx.fileList);
    dz::suite::xm_clear_options(3020);
    StoreRunOptions(t, ctx.fileList, ctx.tableName, ctx.options);
    EXPECT_EQ(dz::suite::OptionStore(company.path(), 3020).read(2), (Bytes{'M', 'a', 'i', 'n', 0}));
    StoredRun run;
    std::string error;
    ASSERT_TRUE(ReadStoredRun(3020, run, error)) << error;
    EXPECT_EQ(run.tableName, "Main");
    EXPECT_EQ(run.options.paidTotalsMode, 1u);
}

TEST_F(Stored, AReplayToldToEndStopsBetweenFiles) {
    dz::ui::run_state().macro_status = dz::ui::kMacroRecord;
    person.choose({Text("a.txt", "GLM"), Text("b.txt", "GLM")});
    StartHub();
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedOk);

    struct Watch : RunObserver {
        std::vector<bool> stopped;
        void FileFinished(const FileOutcome& o) override { stopped.push_back(o.stopped); }
    } watch;
    SetRunObserver(&watch);
    dz::ui::reset_run_state();
    dz::ui::run_state().in_background = true;
    dz::ui::run_state().report_path = "-";
    World().behaviour[101].terminate = true;
    Run();
    dz::ui::clear_terminate();
    EXPECT_EQ(Converted(), (std::vector<std::string>{"a.txt"}));
    EXPECT_EQ(watch.stopped, (std::vector<bool>{true}));
}

TEST_F(Stored, AReplayOfAMalformedOrMissingStoreIsRefused) {
    dz::ui::run_state().in_background = true;
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedCancelled);
    ASSERT_EQ(person.messages().size(), 1u);
    EXPECT_EQ(person.messages()[0].kind, dz::ui::kError);
    EXPECT_EQ(person.messages()[0].text,
              "The stored Convert run cannot be replayed: no text files are stored.\rStore the run again.");

    const Bytes truncated = {'/', 'x', 0x00, 0x65};
    dz::suite::xm_put_options(3020, truncated.data(), truncated.size(), 1);
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedCancelled);
    EXPECT_EQ(person.messages().back().text,
              "The stored Convert run cannot be replayed: the stored file list is malformed: the conversion type "
              "of file 1 is cut short.\rStore the run again.");

    const Bytes good = {'/', 'x', 0x00, 0x65, 0x00};
    dz::suite::xm_put_options(3020, good.data(), good.size(), 1);
    for (const Bytes& name : {Bytes{'M', 'a', 'i', 'n'}, Bytes{'M', 0x00, 'n', 0x00}, Bytes{0x00}}) {
        dz::suite::xm_put_options(3020, name.data(), name.size(), 2);
        EXPECT_EQ(Run(), dz::ui::zqTask::kEndedCancelled);
        EXPECT_NE(person.messages().back().text.find("the stored table group name is malformed"), std::string::npos)
            << person.messages().back().text;
    }
    dz::suite::xm_put_options(3020, nullptr, 0, 2);
    const Bytes shortOptions(21, 0);
    dz::suite::xm_put_options(3020, shortOptions.data(), shortOptions.size(), 3);
    EXPECT_EQ(Run(), dz::ui::zqTask::kEndedCancelled);
    EXPECT_NE(person.messages().back().text.find("holds 21 bytes instead of 22"), std::string::npos);
    EXPECT_TRUE(Converted().empty());
}

TEST_F(Stored, AnEmptyGroupOrOptionsBlockIsNotTakenForAnAbsentOne) {
    dz::ui::run_state().in_background = true;
    const Bytes good = {'/', 'x', 0x00, 0x65, 0x00};
    for (int n : {2, 3}) {
        dz::suite::xm_put_options(3020, good.data(), good.size(), 1);
        std::ofstream(dz::suite::OptionStore(company.path(), 3020).folder() / ("block" + std::to_string(n) + ".bin"));
        EXPECT_EQ(Run(), dz::ui::zqTask::kEndedCancelled);
        EXPECT_THAT(person.messages().back().text,
                    HasSubstr(n == 2 ? "the stored table group name is malformed" : "holds 0 bytes instead of 22"));
    }
    EXPECT_TRUE(Converted().empty());
}

}  // namespace
}  // namespace dz::app::testing
