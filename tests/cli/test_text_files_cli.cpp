// Text files as spreadsheets write them, examined and converted through dodedoz-cli on the GL
// demo company: line breaks inside quoted values, byte-order marks, the two encodings a text file
// may be in, NUL bytes, and blank account titles. Examine Files must say what Convert then does.
#include "sample_cli_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <utility>

namespace {

using namespace dz::cli::testing;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;

const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples" / "glm";

class TextFilesCli : public SampleCliTest {
protected:
    TextFilesCli() : SampleCliTest(kSamples) {}

    void SetUp() override {
        SampleCliTest::SetUp();
        if (HasFatalFailure()) return;
        std::string report, notes;
        ASSERT_EQ(Run("convert", Copy("demo-gl-master.txt"), report, notes).status, 1);  // it has rejects
        fs::remove(dir / "RejGLM.txt");
    }

    // An account line of format 1 (36 fields): `fields` and blank columns after them.
    static std::string Account(const std::string& fields) {
        const auto commas = static_cast<std::size_t>(std::count(fields.begin(), fields.end(), ','));
        return "1," + fields + std::string(commas < 35 ? 35 - commas : 0, ',');
    }

    // Examines, then converts `body` written to `name`; the two reports, and whether the data
    // file stayed as it was while examining.
    struct Runs {
        CliResult examine, convert;
        std::string examineReport, convertReport;
    };
    Runs Both(const std::string& name, const std::string& body) {
        const fs::path text = dir / name;
        Spit(text, body);
        Runs r;
        std::string notes;
        const std::string glm = Slurp(company / "MASTER.GLM");
        r.examine = Run("examine", text.string(), r.examineReport, notes);
        EXPECT_EQ(Slurp(company / "MASTER.GLM"), glm) << "Examine Files wrote to the data file";
        EXPECT_EQ(Slurp(text), body) << "Examine Files changed the text file";
        r.convert = Run("convert", text.string(), r.convertReport, notes);
        return r;
    }
};

TEST_F(TextFilesCli, ALineBreakInsideQuotesBelongsToTheValue) {
    const std::string head = "#,GLM,xvglm\r\n";
    const std::string notes = "1N,01-1-10-6000-00,\"Paid by cheque\r\nsee above\"\r\n";           // lines 2-3
    std::string injected = Account("01-1-20-5100-00,TITLE,8") + "\r\n";                       // lines 4-5
    injected.replace(injected.find("TITLE"), 5, "\"Materials\r\n1,01-1-20-6000-00,Injected title\"");
    const std::string good = "1B,01-1-20-1200-00,10.00,\r\n";                                    // line 6
    const std::string unclosed = "1N,01-1-20-1200-00,\"Never closed\r\n1B,01-1-20-1500-00,1.00,1.00\r\n";  // 7-8
    const Runs r = Both("breaks.txt", head + notes + injected + good + unclosed);

    // Examine Files names the text file's lines, Convert the reject file's.
    for (const auto& [report, first, second] : {std::tuple{r.examineReport, "4", "7"}, std::tuple{r.convertReport, "2", "4"}}) {
        EXPECT_THAT(report, ContainsRegex(std::string("\n 1 +") + first + "  Account title can't hold a line break, "
                                          "and 'Materials  1,01-1-20-6000-00,Injected\\.\\.\\.' has one \\(fld 2, col 3\\)"));
        EXPECT_THAT(report, ContainsRegex(std::string("\n 1N +") + second + "  A double quote is not closed before the "
                                          "end of the file: the record takes 2 line\\(s\\) \\(fld 2, col 3\\) \\(60\\)"));
    }
    EXPECT_EQ(Slurp(dir / "RejGLM.txt"), head + injected + unclosed) << "every line of a refused record, as it was";
    const std::string dump = Dump("GLM");
    EXPECT_THAT(dump, Not(HasSubstr("Injected title")));
    EXPECT_THAT(dump, Not(HasSubstr("01120150000")));
    EXPECT_THAT(dump, HasSubstr("AACCT=\"01120120000\""));
    EXPECT_THAT(dump, HasSubstr("Paid by cheque\\x0D\\x0Asee above")) << "the notes keep their line break";
}

TEST_F(TextFilesCli, AUtf8ByteOrderMarkIsSkippedAndUtf16IsRefusedByName) {
    const std::string body = "#,GLM,xvglm\r\n1B,01-1-20-1200-00,10.00,\r\n";
    const Runs r = Both("bom.txt", "\xEF\xBB\xBF" + body);
    EXPECT_EQ(r.examine.status, 0) << r.examine.err << r.examineReport;
    EXPECT_EQ(r.convert.status, 0) << r.convert.err << r.convertReport;
    EXPECT_THAT(Dump("GLM"), HasSubstr("AACCT=\"01120120000\""));
    EXPECT_EQ(Slurp(dir / "bom.txt").substr(0, 18), "\xEF\xBB\xBF#,GLM,xvglm\r\n#,") << "stamped after its first line";

    std::string utf16 = "\xFF\xFE";
    for (char c : body) utf16 += std::string{c, '\0'};
    for (const char* command : {"examine", "convert"}) {
        Spit(dir / "utf16.txt", utf16);
        std::string report, notes;
        const CliResult bad = Run(command, (dir / "utf16.txt").string(), report, notes);
        EXPECT_NE(bad.status, 0);
        EXPECT_THAT(bad.err, HasSubstr("is saved as UTF-16 (\"Unicode Text\"), which cannot be converted"));
        EXPECT_THAT(bad.err, HasSubstr("\"CSV UTF-8 (Comma delimited)\""));
        EXPECT_EQ(Slurp(dir / "utf16.txt"), utf16);
    }
}

// The same 40-character title with two accents, written in UTF-8 and in Windows-1252: both are
// stored as the same UTF-8 text, and a 41st character is refused as 41 characters in both.
TEST_F(TextFilesCli, EachFileIsReadInItsOwnEncodingAndLengthsCountCharacters) {
    const std::string title8 = "Caf\xC3\xA9 et cr\xC3\xA8me - a title of 40 characters";
    const std::string title1252 = "Caf\xE9 et cr\xE8me - a title of 40 characters";
    ASSERT_EQ(title8.size(), 42u);
    ASSERT_EQ(title1252.size(), 40u);
    struct Case {
        const char* name;
        std::string title, account;
    };
    for (const Case& c : {Case{"utf8.txt", title8, "01120510000"}, Case{"cp1252.txt", title1252, "01120600000"}}) {
        SCOPED_TRACE(c.name);
        const std::string tooLong = Account("01-1-20-1500-00," + c.title + "!,2") + "\r\n";
        const std::string formatted = c.account.substr(0, 2) + "-1-20-" + c.account.substr(5, 4) + "-00";
        const std::string body = "#,GLM,xvglm\r\n" + Account(formatted + "," + c.title + ",9") + "\r\n" + tooLong;
        const Runs r = Both(c.name, body);
        for (const std::string& report : {r.examineReport, r.convertReport}) {
            EXPECT_THAT(report, HasSubstr("Account title is too long: '" + title8.substr(0, 39) + "...' has 41 "
                                          "characters and 40 are allowed"));
        }
        EXPECT_THAT(Dump("GLM"), HasSubstr("AACCT=\"" + c.account +
                                           "\" ATITLE=\"" + title8 + "\""));
        // The reject file and the stamped text file keep the file's own bytes.
        EXPECT_EQ(Slurp(dir / "RejGLM.txt"), "#,GLM,xvglm\r\n" + tooLong);
        const std::string stamped = Slurp(dir / c.name);
        ASSERT_GT(stamped.size(), body.size());
        EXPECT_EQ(stamped.substr(stamped.size() - body.size() + 13), body.substr(13));
        fs::remove(dir / "RejGLM.txt");
    }
}

// A file that is UTF-8 up to one Windows-1252 byte is read as Windows-1252 throughout, and both
// commands say so on screen, naming the first line that is not UTF-8; a UTF-8 file says nothing.
TEST_F(TextFilesCli, AFileReadAsWindows1252SaysSoAndNamesItsFirstLineThatIsNotUtf8) {
    const std::string body = "#,GLM,xvglm\r\n" + Account("01-1-20-1500-00,Caf\xC3\xA9,9") + "\r\n# a\n\r# b\r" +
                             Account("01-1-20-1600-00,Cr\xE8me,9") + "\r\n";
    const Runs r = Both("mixed.txt", body);
    const std::string note = std::string("dodedoz: <DIR>/mixed.txt") +
                             " is not all UTF-8, so it was read as Windows-1252: line 5 is the first that is not "
                             "valid UTF-8.\n";
    for (const CliResult& run : {r.examine, r.convert}) {
        EXPECT_THAT(run.err, HasSubstr(" 0 notes\n" + note));  // under the summary line
        EXPECT_THAT(run.err, HasSubstr(".\n\n" + note.substr(9)));  // and in the closing message
    }
    EXPECT_THAT(r.examineReport, Not(HasSubstr("Windows-1252")));
    EXPECT_THAT(Dump("GLM"), HasSubstr("ATITLE=\"Caf\xC3\x83\xC2\xA9\""));
    const Runs utf8 = Both("utf8only.txt", "#,GLM,xvglm\r\n" + Account("01-1-20-1700-00,Caf\xC3\xA9,9") + "\r\n");
    EXPECT_THAT(utf8.convert.err, Not(HasSubstr("Windows-1252")));
}

// Table text files and `load` follow the same rule as the text files converted.
TEST_F(TextFilesCli, TablesImportAndLoadReadBothEncodings) {
    for (const std::string& body : {std::string("Caf\xE9,V1\r\n"), std::string("\xEF\xBB\xBF" "Caf\xC3\xA9 2,V2\r\n")}) {
        Spit(dir / "table.txt", body);
        const CliResult r = Cli({"tables", "import", "--company", company.string(), "Q", "--app", "AP", "--field", "6",
                                 (dir / "table.txt").string()});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    const CliResult shown = Cli({"tables", "show", "--company", company.string(), "Q", "--app", "AP", "--field", "6"});
    EXPECT_THAT(shown.out, HasSubstr("Caf\xC3\xA9,V1"));
    EXPECT_THAT(shown.out, HasSubstr("Caf\xC3\xA9 2,V2"));

    for (const auto& [title, account] : {std::pair{"Caf\xE9", "01120510000"}, std::pair{"Caf\xC3\xA9", "01120600000"}}) {
        Spit(dir / "setup.load", std::string("@GLM\nR1 AACCT=\"") + account + "\" ATITLE=\"" + title + "\"\n");
        Load(dir / "setup.load");
        EXPECT_THAT(Dump("GLM"), HasSubstr(std::string("AACCT=\"") + account + "\" ATITLE=\"Caf\xC3\xA9\""));
    }
}

TEST_F(TextFilesCli, ANulByteRefusesItsLineNamingTheColumn) {
    const std::string line = Account(std::string("01-1-20-5100-00,Ca") + '\0' + "sh,9");
    const Runs r = Both("nul.txt", "#,GLM,xvglm\n" + line + "\n");
    for (const std::string& report : {r.examineReport, r.convertReport})
        EXPECT_THAT(report, HasSubstr("Account title holds a NUL character (a zero byte), which no field can store "
                                      "(fld 2, col 3) (50)"));
    EXPECT_THAT(Dump("GLM"), Not(HasSubstr("01120510000")));
    EXPECT_EQ(Slurp(dir / "RejGLM.txt"), "#,GLM,xvglm\n" + line + "\n");
}

// A control character in a value (ESC, which starts a terminal's escape sequence: "ESC[2J" clears
// the screen) is shown escaped on the screen and in the report, in the record type and in a
// value a refusal quotes; the reject file keeps the lines as they were, to be mended.
TEST_F(TextFilesCli, AControlCharacterInAValueIsShownEscapedAndRejectedAsItWas) {
    const std::string refused = "\033[2J,01-1-20-5100-00,Cash,9\n" + Account("01-1-20-5100-00,Cash,9\0332") + "\n";
    const std::string body = "#,GLM,xvglm\n" + refused;
    const fs::path text = dir / "escape.txt";
    Spit(text, body);
    const CliResult r = Cli({"convert", "--company", company.string(), text.string()});  // the report on screen
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_THAT(r.out, HasSubstr(" \\033[2J           2  Record type '\\033[2J' is not in the template xvglm.tpl"));
    EXPECT_THAT(r.out, HasSubstr("Account type has no choice '9\\0332'"));
    EXPECT_EQ(r.out.find('\033'), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find('\033'), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(dir / "RejGLM.txt"), body);
}

// Prefix levels are in use: a base account met earlier in the file gives its title to a line
// that leaves the title out (format 1B), but never to a line whose own title column is blank.
TEST_F(TextFilesCli, ExamineAgreesWithConvertOnBlankTitles) {
    const std::string body = "#,GLM,xvglm\n6,6200-00,Travel,9,,,,,,,,\n1B,01-1-20-6200-00,5.00,5.00\n" +
                             Account("01-1-10-6200-00,,9") + "\n";
    const Runs r = Both("titles.txt", body);
    for (const auto& [report, line] : {std::pair{r.examineReport, "4"}, std::pair{r.convertReport, "2"}}) {
        EXPECT_THAT(report, ContainsRegex(std::string("\n 1 +") + line +
                                          "  Account title is required for account 01-1-10-6200-00\\(129\\)"));
        EXPECT_THAT(report, Not(HasSubstr("01-1-20-6200-00(129)")));
    }
    EXPECT_EQ(r.examine.status, 1);
    EXPECT_EQ(r.convert.status, 1);
    EXPECT_THAT(Dump("GLM"), HasSubstr("AACCT=\"01120620000\" ATITLE=\"Travel\""));
}

}  // namespace
