// The conversion report and the notes report, line by line.
#include "convert/progress.h"
#include <gmock/gmock.h>
#include "convert/reports.h"

#include "test_convert_support.h"

#include "platform/ui/print.h"
#include "platform/ui/run_state.h"

namespace dz::convert {
namespace {

using namespace dz::convert::testing;

class ReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        OpenCompany(company.path(), {"GL"});
        print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::Spool);
        ASSERT_NE(print, 0);
    }
    void TearDown() override {
        ui::reset_run_state();
        ui::reset_printing();
        suite::close_company();
    }
    // The printed lines, joined with "\n".
    std::string Printed() const {
        std::string out;
        for (const auto& l : *ui::xp_lines(print)) out += l + "\n";
        return out;
    }

    ScratchDir company;
    int print = 0;
    RecordingUi ui;
};

TEST_F(ReportTest, RejectionLinesFollowTheHeaderWithColumns) {
    ConversionReport report(print, "/in/items.txt", "/in/RejectTCV.txt", "Test Item File", true, "");
    ASSERT_TRUE(report.PrintReportLine("1", 12, "The reason"));
    ASSERT_TRUE(report.PrintReportLine("", 3, std::string(200, 'r')));
    const std::string expected =
        "Converting /in/items.txt into Test Item File\n"
        "\n"
        "The following rejected records were placed in the file /in/RejectTCV.txt\n"
        "('Line' is the line number in the reject file)\n"
        "\n"
        " Record ID      Line  Reason for Rejection\n"
        " 1                12  The reason\n"
        " Unknown           3  " +
        std::string(110, 'r') + "\n" +  // a reason too long for the line goes on, indented
        std::string(24, ' ') + std::string(90, 'r') + "\n";
    EXPECT_EQ(Printed(), expected);
}

TEST_F(ReportTest, ExamineHeaderWithTableAndLongPaths) {
    const std::string longPath = "/" + std::string(53, 'd') + "/a.txt";  // 60 characters
    ASSERT_EQ(longPath.size(), 60u);
    ConversionReport kept(print, longPath, "", "Title", false, "JOBS");
    ASSERT_TRUE(kept.PrintReportHeader(true));
    EXPECT_EQ((*ui::xp_lines(print))[0], "Examining " + longPath + " for Title");
    EXPECT_EQ((*ui::xp_lines(print))[1], "Using substitution table 'JOBS'");
    EXPECT_EQ((*ui::xp_lines(print))[3], "The following records are invalid and will be rejected");
    EXPECT_EQ((*ui::xp_lines(print))[5], " Record ID      Line  Reason will be Rejected");

    ConversionReport shortened(print, longPath + "x", "", "Title", false, "");  // 61: the name alone
    ASSERT_TRUE(shortened.PrintReportHeader(false));
    EXPECT_EQ(ui::xp_lines(print)->back(), "\fExamining a.txtx for Title");
}

TEST_F(ReportTest, RecordTotalsPerTypeWithCreatedOnlyWhenCounted) {
    ConversionReport report(print, "t.txt", "r.txt", "Test", true, "");
    report.AddRecordTypeTotals(0, 0, true, true, false, false, 0);
    report.AddRecordTypeTotals(3, 1, true, false, true, false, 2);
    report.AddRecordTypeTotals(3, 1, true, false, true, false, 1);
    report.AddRecordTypeTotals(3, 1, true, true, false, false, 0);
    ASSERT_TRUE(report.PrintRecordTotals(false));
    const std::string printed = Printed();
    EXPECT_EQ(printed.find("Created"), std::string::npos);
    EXPECT_NE(printed.find("Total:                       4              2              2             2\n"),
              std::string::npos)
        << printed;
    EXPECT_NE(printed.find("Unknown                      1              0              1             0\n"),
              std::string::npos)
        << printed;
    EXPECT_EQ(report.GrandTotals().haveMessages, 2);  // records with messages, not messages

    ConversionReport created(print, "t.txt", "r.txt", "Test", false, "");
    created.AddRecordTypeTotals(0, 0, true, false, true, true, 0);
    ASSERT_TRUE(created.PrintRecordTotals(true));
    const std::string again = Printed();
    EXPECT_NE(again.find("Will create"), std::string::npos);
    EXPECT_NE(again.find("Total:                       1              0              0             1             1\n"), std::string::npos) << again;
    EXPECT_EQ(ui::xp_lines(print)->back(),
              "Look at the next page to view warning and log messages generated from this file");
}

TEST_F(ReportTest, TerminatedLinesByRestoreResult) {
    ConversionReport report(print, "t.txt", "r.txt", "Test", true, "");
    report.ReportTerminated("Out of disk space", 0, true);
    report.ReportTerminated("Out of disk space", 1, false);
    report.ReportTerminated("Out of disk space", 2, false);
    const auto& lines = *ui::xp_lines(print);
    EXPECT_EQ(lines[lines.size() - 7], "Processing is terminated for this file, the ZQ data file was not changed");
    EXPECT_EQ(lines[lines.size() - 4], "Processing is terminated for this file, unable to retore ZQ data file from "
                                       "backup, some records may have been converted");
    EXPECT_EQ(lines.back(), "Processing is terminated for this file, the ZQ data file was not changed");
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0], std::make_pair(103, std::string("Out of disk space")));

    ConversionReport examining(print, "t.txt", "", "Test", false, "");
    examining.ReportTerminated("Examining files canceled by operator", 0, false);
    EXPECT_EQ(ui::xp_lines(print)->back(), "Processing is terminated for this file");
}

TEST_F(ReportTest, NotesPageMessagesAndMissingListValues) {
    suite::current_company()->settings().descriptions[262] = "tax group";
    NotesReport notes(print, "/in/items.txt", 3020, true);
    ConvertProgress progress([] { return int64_t{0}; });
    MessageList none;
    EXPECT_TRUE(notes.PrintRecordMessages("1", 4, none, &progress, 1, 0));
    EXPECT_FALSE(notes.LinesWritten());  // nothing to say, no page
    MessageList one{"Only"};
    EXPECT_TRUE(notes.PrintRecordMessages("1", 4, one, &progress, 1, 0, nullptr, " - 'K'"));
    MessageList two{"First", "Second"};
    EXPECT_TRUE(notes.PrintRecordMessages("2", 0, two, &progress, 1, 0, nullptr, " - 'L'"));
    MessageList notesRecord{"Ignored"};
    EXPECT_TRUE(notes.PrintRecordMessages("1N", 9, notesRecord, &progress, 51, 0));
    EXPECT_EQ(notesRecord.size(), 1u);  // notes records print no messages
    EXPECT_TRUE(one.empty());
    EXPECT_EQ(progress.messages, 3u);

    notes.AddNote(262, "EXEMPT", 7);
    notes.AddNote(262, "EXEMPT", 9);  // the first line stays
    notes.AddNote(262, "OUT", 12);
    ASSERT_TRUE(notes.PrintMissingCustomListValues(&progress));
    EXPECT_EQ(progress.messages, 4u);
    ASSERT_TRUE(notes.Print());
    notes.Close();

    const std::string expected =
        "Messages recorded while converting the file /in/items.txt:\n"
        "(Line is the line number in this file)\n"
        "\n"
        " Record ID      Line  Comment\n"
        " 1                 4  Message for  - 'K':\n"
        "                      Only\n"
        " 2                    Messages for  - 'L':\n"
        "                      First\n"
        "                      Second\n"
        "\n"
        "                      The following Custom lists had values that do not exist in the list. You should add these values to\n"
        "                         the list before using your software(898)\n"
        "                         (Each value is followed by the line number where it first appeared)\n"
        "\n"
        "                      Tax group:  EXEMPT(8), OUT(13)\n";
    EXPECT_EQ(Printed(), expected);
}

TEST_F(ReportTest, MissingListValuesWrapBeforeTheCommentWidth) {
    suite::current_company()->settings().descriptions[265] = "class";
    NotesReport notes(print, "t.txt", 3020, false);
    for (int i = 0; i < 30; ++i) notes.AddNote(265, "VALUE" + std::to_string(100 + i), static_cast<uint32_t>(i + 2));
    ASSERT_TRUE(notes.PrintMissingCustomListValues(nullptr));
    ASSERT_TRUE(notes.Print());
    const auto& lines = *ui::xp_lines(print);
    std::vector<std::string> listLines;
    for (const auto& l : lines)
        if (l.find("VALUE") != std::string::npos) listLines.push_back(l.substr(22));
    ASSERT_GE(listLines.size(), 3u);
    EXPECT_EQ(listLines[0].rfind("Class:  VALUE100(2), VALUE101(3), ", 0), 0u) << listLines[0];
    for (const auto& l : listLines) EXPECT_LT(l.size() + 1, 123u - 25u) << l;  // trailing blank trimmed
    for (std::size_t i = 1; i < listLines.size(); ++i) EXPECT_EQ(listLines[i].rfind("   VALUE", 0), 0u) << listLines[i];
    EXPECT_EQ(listLines.back().substr(listLines.back().size() - 12), "VALUE129(31)");  // no ", " at the end
    EXPECT_EQ(lines[4].substr(22), "The following Custom lists had values that do not exist in the list. You should either add these values");
}

TEST_F(ReportTest, MissingListValuesThatFillALineExactlyAreListedWhole) {
    // A line may hold the comment width less 25 (98) characters: values that would bring it to
    // exactly that start the next line, one short of it stay; every value stays whole.
    suite::current_company()->settings().descriptions[265] = "class";
    suite::current_company()->settings().descriptions[262] = "tax group";
    NotesReport notes(print, "t.txt", 3020, false);
    const std::string a40(40, 'a'), b40(40, 'b'), c40(40, 'c'), d35(35, 'd');
    notes.AddNote(265, a40, 2);  // "Class:  " 8 + "a..(2), " 45 + "b..(3), " 45 = 98
    notes.AddNote(265, b40, 3);
    notes.AddNote(262, c40, 4);  // "Tax group:  " 12 + 45 + "d..(5), " 40 = 97
    notes.AddNote(262, d35, 5);
    ASSERT_TRUE(notes.PrintMissingCustomListValues(nullptr));
    ASSERT_TRUE(notes.Print());
    const auto& lines = *ui::xp_lines(print);
    ASSERT_GE(lines.size(), 3u);
    std::vector<std::string> listed;  // the last three lines, from the comment column
    for (auto l = lines.end() - 3; l != lines.end(); ++l) listed.push_back(l->size() > 22 ? l->substr(22) : *l);
    EXPECT_EQ(listed, (std::vector<std::string>{"Tax group:  " + c40 + "(4), " + d35 + "(5)",
                                                "Class:  " + a40 + "(2),", "   " + b40 + "(3)"}));
}

TEST_F(ReportTest, LongNotesPathKeepsItsFileName) {
    const std::string path = "/" + std::string(74, 'p') + "/n.txt";  // 81 characters
    ASSERT_EQ(path.size(), 81u);
    NotesReport notes(print, path, 3010, false);
    ASSERT_TRUE(notes.PrintMessageLine("", 0, "x"));
    ASSERT_TRUE(notes.Print());
    EXPECT_EQ((*ui::xp_lines(print))[0], "Messages recorded while examining the file n.txt:");
}

TEST(WrapLines, BreaksAtABlankNeverInACharacterAndLosesNothing) {
    EXPECT_EQ(WrapLines("short", 10), std::vector<std::string>{"short"});
    EXPECT_EQ(WrapLines("", 10), std::vector<std::string>{""});
    EXPECT_EQ(WrapLines("alpha beta gamma delta", 12), (std::vector<std::string>{"alpha beta", "  gamma", "  delta"}));
    // A word longer than the line is broken where the line ends.
    EXPECT_EQ(WrapLines("abcdefghijklmnop", 6), (std::vector<std::string>{"abcdef", "  ghij", "  klmn", "  op"}));
    // "é" is two bytes: a line never ends between them.
    const std::vector<std::string> accents = WrapLines("ééééé", 5);
    std::string joined;
    for (const auto& l : accents) {
        EXPECT_LE(l.size(), 5u);
        joined += l.substr(l.rfind(' ') == std::string::npos ? 0 : l.rfind(' ') + 1);
    }
    EXPECT_EQ(joined, "ééééé");
}

// A control character is measured as it is shown ("\033", four columns): a line is cut before
// an escape that would not fit, never inside it, and nothing is lost.
TEST(WrapLines, ALineIsCutAsItIsShownNeverInsideAnEscape) {
    EXPECT_EQ(WrapLines("abcdefg\033hij", 10), (std::vector<std::string>{"abcdefg", "  \\033hij"}));
    EXPECT_EQ(WrapLines("abcdef\033hij", 10), (std::vector<std::string>{"abcdef\\033", "  hij"}));
    EXPECT_EQ(WrapLines("abcdef gh\033ijk", 10), (std::vector<std::string>{"abcdef", "  gh\\033ij", "  k"}));
    // A C1 control wider than a narrow line's room still goes whole, on a line of its own.
    EXPECT_EQ(WrapLines("ab\xc2\x9b", 4), (std::vector<std::string>{"ab", "  \\302\\233"}));
    // A line break is shown as one blank, where a line may break.
    EXPECT_EQ(WrapLines("abcdef\r\nghijkl", 10), (std::vector<std::string>{"abcdef", "  ghijkl"}));
}

TEST_F(ReportTest, FileNamesTooLongForTheLineAreShownWholeNeverCut) {
    const std::string folder = "/" + std::string(50, 'f') + "/";
    ConversionReport report(print, "/in/t.txt", folder + "RejGLM.txt", "Title", true, "");
    ASSERT_TRUE(report.PrintReportHeader(true));
    EXPECT_EQ((*ui::xp_lines(print))[2], "The following rejected records were placed in the file RejGLM.txt");
    NotesReport notes(print, "/" + std::string(54, 'p') + "/w.txt", 3010, false);  // 61 characters
    ASSERT_TRUE(notes.PrintMessageLine("", 0, "x"));
    ASSERT_TRUE(notes.Print());
    EXPECT_THAT(Printed(), ::testing::HasSubstr("Messages recorded while examining the file w.txt:\n"));
}

TEST_F(ReportTest, BackgroundRunBeingEndedPrintsNothing) {
    ui::run_state().in_background = true;
    ui::request_terminate();
    ConversionReport report(print, "t.txt", "r.txt", "Test", true, "");
    EXPECT_TRUE(report.PrintReportLine("1", 1, "reason"));
    EXPECT_TRUE(report.PrintRecordTotals(true));
    NotesReport notes(print, "t.txt", 3020, true);
    EXPECT_TRUE(notes.PrintMessageLine("1", 1, "text"));
    EXPECT_TRUE(notes.Print());
    EXPECT_TRUE(ui::xp_lines(print)->empty());
}

}  // namespace
}  // namespace dz::convert
