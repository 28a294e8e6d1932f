// Every command's output with a control character in each value it can carry (a folder named
// as a company, a text file's path, a report file's name, a record's values, a load file's name and
// lines, a table group's name and values): nothing reaches standard output, standard error, a
// report or the log as a raw control character; each is shown escaped ("\033").
#include <gmock/gmock.h>

#include "cli_support.h"

namespace {

using namespace dz::cli::testing;
using ::testing::HasSubstr;

// The first control character of `text` other than the line end, as "at N: \ooo"; "" when none.
std::string RawControl(const std::string& text, bool pageBreaks = false) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 || c == 0x7f) && c != '\n' && !(pageBreaks && c == '\f'))
            return "at " + std::to_string(i) + ": \\" + std::to_string(c >> 6) +
                   std::to_string((c >> 3) & 7) + std::to_string(c & 7) + " in\n" + text;
    }
    return "";
}

TEST(ShownOutput, NoCommandWritesARawControlCharacterAnywhere) {
    ScratchFolder scratch;
    ASSERT_FALSE(scratch.path().empty());
    const fs::path dir = scratch.path(), company = dir / "co", refused = dir / "c\033[31m";
    const std::string co = company.string();
    const std::string tpl = (fs::path(DZ_SOURCE_DATA_DIR) / "templates" / "xvglm.tpl").string();
    const std::string text = (dir / "t\033]0;X\007.txt").string(), report = (dir / "r\033[5m.txt").string();
    Spit(text, "#,GLM," + tpl + "\n6,1000-00,Cash\033[2J,1,,,,,,,,5\n2,1,N\n\033[2J,x\n");
    const std::string load = (dir / "l\033[1m.txt").string();
    Spit(load, "@GLM 1\nR1 \033[2Jx\n");
    const std::string values = (dir / "e.txt").string();
    Spit(values, "A\033[2J,B\n");
    const std::string group = "G\033[31m";

    const std::vector<std::vector<std::string>> commands = {
        {"company", "init", refused.string()},
        {"company", "init", co},
        {"company", "show", "--company", refused.string()},
        {"company", "show", "--company", co},
        {"examine", "--company", co, text},
        {"convert", "--company", co, "--report", report, text},
        {"convert", "--company", co, (dir / "missing\033[2J.txt").string()},
        {"examine", "--company", co, "--store", "--table", group, text},
        {"convert", "--company", co, "--store", "--reconvert", text},
        {"replay", "--company", co, "convert"},
        {"dump", "--company", co, "GLM"},
        {"load", "--company", co, load},
        {"tables", "import", "--company", co, group, "--app", "AP", "--field", "6", values},
        {"tables", "import", "--company", co, "G", "--app", "AP", "--field", "6", values},
        {"tables", "list", "--company", co},
        {"tables", "show", "--company", co, "G"},
        {"tables", "show", "--company", co, group},
        {"tables", "export", "--company", co, "G", "--app", "AP", "--field", "6",
         (dir / "x\033.txt").string()},
        {"tables", "prefill", "--company", co, "G", "--app", "GL", "--field", "9", "--reconvert", text},
    };
    for (const auto& args : commands) {
        const CliResult r = RunCli(args, dir);
        const std::string command = args[0] + " " + args[1];
        EXPECT_EQ(RawControl(r.out), "") << command;
        EXPECT_EQ(RawControl(r.err), "") << command;
        // What was refused says so, in the value's escaped form.
        std::string said;
        const std::string named = args.size() > 4 ? args[4] : "";
        if (args[0] == "load") said = "l\\033[1m.txt:2: \"\\033[2Jx\" is not FIELD=value";
        if (args[1] == "import" && named == group)
            said = "'G\\033[31m' cannot be a table group name: it holds a control character (\\033)";
        if (args[1] == "show" && named == "G") said = "\nA\\033[2J,B\n";
        if (!said.empty()) {
            EXPECT_THAT(r.out + r.err, HasSubstr(said)) << command;
        }
    }
    EXPECT_EQ(RawControl(Slurp(report), true), "");
    EXPECT_THAT(Slurp(report), HasSubstr("t\\033]0;X\\007.txt"));
    EXPECT_EQ(RawControl(Slurp(company / "dodedoz.log")), "");
    // What is stored keeps its bytes: the table's value, the rejected record.
    EXPECT_EQ(Slurp(dir / "x\033.txt"), "A\033[2J,B\r\n");
    EXPECT_THAT(Slurp(dir / "RejGLM.txt"), HasSubstr("\033[2J,x\n"));
}

// A lone byte 0x9B, which no UTF-8 character holds, is ESC [ to a terminal of eight-bit
// characters: a text file named with one is named escaped on standard output, on standard error
// and in the report, never raw.
TEST(ShownOutput, ALoneC1ByteInATextFilesNameIsShownAsAControl) {
    ScratchFolder scratch;
    ASSERT_FALSE(scratch.path().empty());
    const fs::path dir = scratch.path(), company = dir / "co";
    ASSERT_EQ(RunCli({"company", "init", company.string()}, dir).status, 0);
    const std::string tpl = (fs::path(DZ_SOURCE_DATA_DIR) / "templates" / "xvglm.tpl").string();
    const std::string text = (dir / "\x9bg.txt").string(), report = (dir / "r.txt").string();
    Spit(text, "#,GLM," + tpl + "\n6,1000-00,Cash,1,,,,,,,,5\n");
    const CliResult screen = RunCli({"examine", "--company", company.string(), text}, dir);
    const CliResult filed = RunCli({"examine", "--company", company.string(), "--report", report, text}, dir);
    const std::string shown[] = {screen.out, screen.err, filed.err, Slurp(report)};
    for (const std::string& output : shown) {
        EXPECT_THAT(output, HasSubstr("/\\233g.txt"));
        EXPECT_THAT(output, ::testing::Not(HasSubstr("\x9b")));
    }
}

}  // namespace
