// Message table and placeholder filling.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <gmock/gmock.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "platform/import/xvl_rcstring.h"
#include "platform/ui/next_step.h"

namespace fs = std::filesystem;
using dz::xvl::MessageTable;
using dz::xvl::xvlRCString;
using ::testing::HasSubstr;

namespace {

constexpr std::string_view N = xvlRCString::NotSet;

// Writes `content` into a fresh file under the test's temporary folder.
fs::path write_temp(const std::string& name, const std::string& content) {
    // One folder for the whole run, removed when the test program ends.
    static const struct Folder {
        fs::path path = fs::temp_directory_path() / ("dz_rcstring_" + std::to_string(::getpid()));
        ~Folder() {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    } folder;
    const fs::path& dir = folder.path;
    fs::create_directories(dir);
    fs::path file = dir / name;
    std::ofstream(file, std::ios::binary) << content;
    return file;
}

std::vector<std::string> placeholders(const std::string& text) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (true) {
        auto open = text.find('#', pos);
        if (open == std::string::npos) break;
        auto close = text.find('#', open + 1);
        if (close == std::string::npos) break;
        out.push_back(text.substr(open, close - open + 1));
        pos = close + 1;
    }
    return out;
}

// Message numbers named in the first argument of each xvlRCString::Get / GetValues call, or of
// a Msg(number, ...) helper, in `code`.
std::set<int> numbers_used(const std::string& code) {
    std::set<int> out;
    static const std::regex call(R"((?:xvlRCString::Get(?:Values)?|\bMsg)\s*\()");
    static const std::regex number(R"(\b[0-9]{4,6}\b)");
    for (auto it = std::sregex_iterator(code.begin(), code.end(), call); it != std::sregex_iterator(); ++it) {
        std::size_t pos = static_cast<std::size_t>(it->position() + it->length());
        int depth = 0;
        std::size_t end = pos;
        for (; end < code.size(); ++end) {
            char c = code[end];
            if (c == '(' || c == '{' || c == '[') ++depth;
            else if ((c == ')' || c == '}' || c == ']') && depth-- == 0) break;
            else if (c == ',' && depth == 0) break;
        }
        std::string first = code.substr(pos, end - pos);
        for (auto n = std::sregex_iterator(first.begin(), first.end(), number); n != std::sregex_iterator(); ++n)
            out.insert(std::stoi(n->str()));
    }
    return out;
}

// Every number of four to six digits in `code` outside comments: a message number may reach
// its call through a constant or a table, so a number with a fixed text counts wherever it stands.
std::set<int> numbers_in_code(const std::string& code) {
    static const std::regex comment(R"(//[^\n]*|/\*[\s\S]*?\*/)");
    static const std::regex number(R"(\b[0-9]{4,6}\b)");
    const std::string bare = std::regex_replace(code, comment, " ");
    std::set<int> out;
    for (auto n = std::sregex_iterator(bare.begin(), bare.end(), number); n != std::sregex_iterator(); ++n)
        out.insert(std::stoi(n->str()));
    return out;
}

// The program's C++ sources: path and text.
std::vector<std::pair<fs::path, std::string>> source_files() {
    std::vector<std::pair<fs::path, std::string>> out;
    const fs::path src = fs::path(DZ_SOURCE_DATA_DIR) / ".." / "src";
    if (!fs::is_directory(src)) return out;
    for (const auto& entry : fs::recursive_directory_iterator(src)) {
        if (!entry.is_regular_file()) continue;
        const auto ext = entry.path().extension().string();
        if (ext != ".cpp" && ext != ".h" && ext != ".hpp" && ext != ".cc") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        out.emplace_back(entry.path(), std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    }
    return out;
}

// Numbers whose table text differs from the text users must see, less the listed exceptions.
std::map<int, std::string> texts_that_differ(const MessageTable& table, const MessageTable& shown,
                                             const MessageTable& exceptions, const std::set<int>& used) {
    std::map<int, std::string> out;
    for (int n : used) {
        const std::string* want = shown.find(n);
        if (!want || exceptions.find(n)) continue;
        const std::string* have = table.find(n);
        if (!have || *have != *want) out[n] = have ? *have : std::string("(no text)");
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Filling placeholders

TEST(RCStringFill, ValuesAreInsertedInOrderAsPlainText) {
    // "%" in the text stays, "%" in a value is not a format directive.
    EXPECT_EQ(xvlRCString::Get(12117, "90.000000", N, N, N, N, N, N, N),
              "Partner percentages do not total 100 percent (they total to 90.000000%)(154)");
    EXPECT_EQ(xvlRCString::Get(12023, "%s %d %%", N, N, N, N, N, N, N), "Using substitution table '%s %d %%'");
    // "#" in a value neither closes nor opens a placeholder: the next value still lands in the next one.
    EXPECT_EQ(xvlRCString::Get(12071, "a#b#c", "T#", N, N, N, N, N, N),
              "The text file value 'a#b#c' was not found in the 'T#' substitution table(98)");
    EXPECT_EQ(xvlRCString::Get(12786, "PAPDATE", " 1/31/2024", "PAFDATE", "#", N, N, N, N),
              "PAPDATE with ' 1/31/2024' is not prior to PAFDATE with '#'(171)");
    // Placeholders named alike are still separate slots.
    EXPECT_EQ(xvlRCString::Get(12123, "1/31", "3/18", N, N, N, N, N, N),
              "A calendar period spans more than 45 days (1/31 to 3/18)(161)");
}

TEST(RCStringFill, UnusedAndMissingSlotsKeepThePlaceholderText) {
    EXPECT_EQ(xvlRCString::Get(12000, N, N, N, N, N, N, N, N), "Conversion canceled by operator");
    EXPECT_EQ(xvlRCString::Get(12071, "v", N, N, N, N, N, N, N),
              "The text file value 'v' was not found in the '#table name#' substitution table(98)");
    EXPECT_EQ(xvlRCString::Get(12071, N, "T", N, N, N, N, N, N),
              "The text file value '#value#' was not found in the 'T' substitution table(98)");
    // Fewer values than placeholders: the rest stay; more values than placeholders: ignored.
    EXPECT_EQ(xvlRCString::Get(12071, "v"), xvlRCString::Get(12071, "v", N, N, N, N, N, N, N));
    EXPECT_EQ(xvlRCString::Get(12023, "t", "x", "y", "z", "1", "2", "3", "4", "5", "6"),
              "Using substitution table 't'");
    // The filler is recognised only as a whole value.
    EXPECT_EQ(xvlRCString::Get(12023, std::string(N) + "x", N, N, N, N, N, N, N),
              "Using substitution table '!#REPLACEMENT_NOT_SET#!x'");
    // An empty value is a value.
    EXPECT_EQ(xvlRCString::Get(12023, "", N, N, N, N, N, N, N), "Using substitution table ''");
}

TEST(RCStringFill, WordPairsReceiveTheWordOfTheRunningCommand) {
    const std::string base = "Summarize Ledger is not currently available in the Vesk Software, the field ";
    EXPECT_EQ(xvlRCString::Get(12086, "was changed", "116", N, N, N, N, N, N), base + "was changed from YES to NO(116)");
    EXPECT_EQ(xvlRCString::Get(12086, "will change", "117", N, N, N, N, N, N), base + "will change from YES to NO(117)");
    EXPECT_EQ(xvlRCString::Get(12102, "Prefix B is", N, N, N, N, N, N, N),
              "Prefix B is not defined for GL accounts, this prefix record cannot be converted(140)");
    EXPECT_EQ(xvlRCString::Get(12850, "base", "Full", "1-4000-10", "was", "1030", N, N, N),
              "AP base account is being used.  Full account '1-4000-10' was cleared(1030)");
    EXPECT_EQ(xvlRCString::Get(12855, "BANK1", "PR", "a PR", N, N, N, N, N),
              "Bank 'BANK1' is used by PR and doesn't yet have a PR check format(1036)");
}

TEST(RCStringFill, LineBreaksAndTheCommandNameOfTheMacroMessage) {
    // The macro-step message names whichever command is running.
    const std::string examine = xvlRCString::Get(12032, "Examine Files", N, N, N, N, N, N, N);
    EXPECT_EQ(examine,
              "Examine Files does not support changing a macro step.\rTo change this step, you must delete it "
              "and re-add it.\r\rDetails for this step can be obtained by using the file print menu.");
    EXPECT_EQ(xvlRCString::Get(12032, "Convert", N, N, N, N, N, N, N).rfind("Convert does not support", 0), 0u);
    EXPECT_EQ(xvlRCString::Get(12047, "C:\\data\\gl.txt", N, N, N, N, N, N, N), "Unable to open file\r\rC:\\data\\gl.txt.");
}

// Values come from text files, records and folders: a control character in one (ESC starting a
// terminal's escape sequence) is shown, never sent on. A value that is itself a message keeps its
// line breaks.
TEST(RCStringFill, ControlCharactersOfAValueAreShownEscaped) {
    EXPECT_EQ(dz::xvl::fill_placeholders("Record type '#id#'", {"\033[2J"}), "Record type '\\033[2J'");
    EXPECT_EQ(dz::xvl::fill_placeholders("#a# #b#", {"1\t2\x7f\xc2\x9b" "3 caf\xc3\xa9", "first\rsecond"}),
              "1\\0112\\177\\302\\2333 caf\xc3\xa9 first\rsecond");
}

TEST(RCStringFill, UnterminatedPlaceholderIsKeptAsText) {
    EXPECT_EQ(dz::xvl::fill_placeholders("a #x# b #c", {"1", "2"}), "a 1 b #c");
    EXPECT_EQ(dz::xvl::fill_placeholders("##-#y#", {"1", "2"}), "1-2");
    EXPECT_EQ(dz::xvl::fill_placeholders("", {"1"}), "");
}

// ---------------------------------------------------------------------------------------------
// Missing numbers and unreadable tables

TEST(RCStringErrors, MissingNumberNamesItself) {
    EXPECT_FALSE(xvlRCString::Has(99999));
    const std::string text = xvlRCString::Get(99999, "x", N, N, N, N, N, N, N);
    EXPECT_NE(text.find("99999"), std::string::npos) << text;
    EXPECT_NE(text.find("no text"), std::string::npos) << text;
}

TEST(RCStringErrors, UnreadableTablesAreReportedWithTheirCause) {
    auto missing = MessageTable::load(fs::temp_directory_path() / "dz_no_such_folder" / "messages.toml");
    EXPECT_FALSE(missing.ok());
    EXPECT_NE(missing.error().find("dz_no_such_folder"), std::string::npos);
    const std::string text = missing.get(12000, {});
    EXPECT_NE(text.find("12000"), std::string::npos);
    EXPECT_NE(text.find("does not exist"), std::string::npos);

    struct Case {
        const char* content;
        const char* expected;  // part of the error
    } cases[] = {
        {"12000 = \"ok\"\n12001 = \"unclosed\n", "line 2"},
        {"12000 = \"ok\"\nabc = \"x\"\n", "'abc' is not a message number"},
        {"0 = \"x\"\n", "'0' is not a message number"},
        {"12000 = 5\n", "'12000' is not a quoted text"},
        {"12000.1 = \"x\"\n", "not a quoted text"},
        {"12000 = \"a\"\n012000 = \"b\"\n", "repeats message 12000"},
        {"12000 = \"a\"\n12000 = \"b\"\n", "line 2"},
    };
    int i = 0;
    for (const auto& c : cases) {
        auto table = MessageTable::load(write_temp("bad" + std::to_string(i++) + ".toml", c.content));
        EXPECT_FALSE(table.ok()) << c.content;
        EXPECT_NE(table.error().find(c.expected), std::string::npos) << table.error();
        EXPECT_EQ(table.size(), 0u) << "a half-read table must not be used";
        EXPECT_NE(table.get(12000, {}).find("cannot be shown"), std::string::npos);
    }
}

TEST(RCStringErrors, EscapesOfTheFileFormat) {
    auto table = MessageTable::load(write_temp(
        "good.toml", "# comment\n12000 = \"a\\rb \\\"q\\\" back\\\\slash #x#\"\n  12001   =   \"   lead\"  # note\n"));
    ASSERT_TRUE(table.ok()) << table.error();
    EXPECT_EQ(*table.find(12000), "a\rb \"q\" back\\slash #x#");
    EXPECT_EQ(*table.find(12001), "   lead");
    EXPECT_EQ(table.get(12000, {"#"}), "a\rb \"q\" back\\slash #");
}

// ---------------------------------------------------------------------------------------------
// The shipped table

TEST(RCStringTable, LoadsAndHoldsEveryMessageOfTheFrameworkAndGlCmConverters) {
    ASSERT_EQ(xvlRCString::TableError(), "");
    const int expected[] = {
        12000, 12001, 12002, 12003, 12004, 12005, 12006, 12007, 12009, 12010, 12011, 12012, 12013, 12014,
        12015, 12016, 12017, 12018, 12019, 12020, 12021, 12022, 12023, 12024, 12025, 12026, 12027, 12028, 12029,
        12030, 12031, 12032, 12034, 12035, 12036, 12037, 12038, 12039, 12040, 12041, 12042, 12043, 12044,
        12045, 12046, 12047, 12048, 12049, 12050, 12051, 12052, 12053, 12054, 12055, 12056, 12057, 12058,
        12059, 12060, 12061, 12062, 12063, 12064, 12065, 12066, 12067, 12068, 12069, 12070, 12071, 12072,
        12264, 12618, 12619, 12620, 12621, 12622};
    for (int n : expected) EXPECT_TRUE(xvlRCString::Has(n)) << n;
    for (int n = 12073; n <= 12125; ++n) EXPECT_TRUE(xvlRCString::Has(n)) << n;
    for (int n = 12180; n <= 12197; ++n) EXPECT_TRUE(xvlRCString::Has(n)) << n;
    for (int n = 12336; n <= 12352; ++n) EXPECT_TRUE(xvlRCString::Has(n)) << n;
    for (int n : {12783, 12784, 12785, 12786, 12787, 12829, 12830, 12831, 12832, 12833, 12834, 12840, 12850,
                  12851, 12855, 12856})
        EXPECT_TRUE(xvlRCString::Has(n)) << n;
}

TEST(RCStringTable, TextsAreVerbatimAndWellFormed) {
    const auto& table = xvlRCString::Table();
    // Spelling kept as shown to users.
    EXPECT_NE(table.find(12018)->find("unable to retore ZQ data file"), std::string::npos);
    EXPECT_EQ(table.find(12079)->substr(table.find(12079)->size() - 12), "(#108/109#))");
    EXPECT_EQ(*table.find(12193), "#field# is not a convertible field, '#value#' #was not/will not be# converted(#1017/1018#)");
    EXPECT_EQ(*table.find(12619), "   the list before using your software(898)");
    for (const auto& [number, text] : table.texts()) {
        EXPECT_FALSE(text.empty()) << number;
        EXPECT_EQ(std::count(text.begin(), text.end(), '#') % 2, 0) << number << ": unpaired '#'";
        EXPECT_EQ(text.find("\\r"), std::string::npos) << number << ": undecoded line break";
        EXPECT_EQ(text.find('\n'), std::string::npos) << number << ": line breaks are \\r";
    }
}

// A next step is one value that each front end words its own way: both wordings exist and take
// the same values in the same order, for every step there is.
TEST(RCStringTable, EveryNextStepIsWordedForBothFrontEndsFromTheSameValues) {
    const auto& t = xvlRCString::Table();
    int steps = 0;
    for (int s = 1;; ++s) {
        const dz::ui::NextStep next{static_cast<dz::ui::Step>(s), {"x"}};
        const int cli = dz::ui::step_message(next, dz::ui::Voice::CommandLine);
        const int desktop = dz::ui::step_message(next, dz::ui::Voice::Desktop);
        if (cli == 0 && desktop == 0) break;
        ++steps;
        ASSERT_TRUE(t.find(cli) && t.find(desktop)) << "step " << s << ": " << cli << ", " << desktop;
        EXPECT_NE(cli, desktop) << "step " << s;
        EXPECT_EQ(placeholders(*t.find(cli)), placeholders(*t.find(desktop))) << "step " << s;
    }
    EXPECT_GE(steps, 12);
}

// The step that hands a stopped run over reads right for one file ("it") and for several.
TEST(RCStringTable, TheHandOverStepReadsItForOneFileAndThemForSeveral) {
    dz::xvl::InstallStepWords();
    using dz::ui::Step;
    using dz::ui::Voice;
    const auto words = [](const std::string& files, Voice voice) {
        return dz::ui::step_words({Step::RestoreOrHandOver, {files, "/co/.backup-4242"}}, voice);
    };
    EXPECT_THAT(words("/co/MASTER.TXM", Voice::CommandLine),
                HasSubstr("restore /co/MASTER.TXM from a backup, or have an administrator give /co/.backup-4242 to a "
                          "user who may write it (chown -R)"));
    EXPECT_THAT(words("/co/MASTER.TXM", Voice::Desktop), HasSubstr("to a user who may write it:"));
    EXPECT_THAT(words("/co/MASTER.APM, /co/CURRENT.APT", Voice::CommandLine), HasSubstr("a user who may write them"));
    EXPECT_THAT(words("/co/MASTER.APM, /co/CURRENT.APT", Voice::Desktop), HasSubstr("a user who may write them"));
}

// Each next step, with its values, is said in exactly the words of its own number in each
// voice: a step worded by a neighbour's number, or a holder dropped, shows here.
TEST(RCStringTable, EachNextStepSaysTheWordsOfItsNumberInBothVoices) {
    dz::xvl::InstallStepWords();
    using dz::ui::Step;
    using dz::ui::Voice;
    struct Row {
        dz::ui::NextStep next;
        int cli, desktop;
        std::string cliWords, desktopWords;
    };
    const std::string disk = "/co/MASTER.GLM";
    const Row rows[] = {
        {{Step::Again, {}}, 13340, 13350, "run the command again", "Choose Convert again when you are ready."},
        {{Step::AgainWhenFinished, {"process 7 of user dzua"}}, 13341, 13351,
         "wait until process 7 of user dzua has finished, then run the command again",
         "Wait until process 7 of user dzua has finished, then choose Convert again."},
        {{Step::AgainWhenFinished, {}}, 13342, 13352,
         "wait until the other program has finished, then run the command again",
         "Wait until the other program has finished, then choose Convert again."},
        {{Step::AgainWhenFinished, {""}}, 13342, 13352,
         "wait until the other program has finished, then run the command again",
         "Wait until the other program has finished, then choose Convert again."},
        {{Step::AgainToPutBack, {}}, 13343, 13353,
         "run a writing command of the company (convert or load): it puts the stopped conversion back first",
         "Choose Convert: it puts the stopped conversion back first."},
        {{Step::FreeSpace, {disk}}, 13344, 13354, "free space on the disk holding " + disk + ", then run the command again",
         "Free space on the disk holding " + disk + ", then choose Convert again."},
        {{Step::FreeSpaceOrOtherReport, {"/r.txt"}}, 13345, 13355,
         "free space on the disk holding /r.txt, or give another report file with --report, then run the command again",
         "Free space on the disk holding /r.txt, or name another report file when you start again."},
        {{Step::FreeSpaceOrOtherNotes, {"/n.txt"}}, 13346, 13356,
         "free space on the disk holding /n.txt, or give another notes file with --notes, then run the command again",
         "Free space on the disk holding /n.txt, or name another notes file when you start again."},
        {{Step::WritableFolder, {"/t"}}, 13347, 13357,
         "ask an administrator, or the owner of /t, for leave to write in it (or move the text file to a folder you may "
         "write in), then run the command again",
         "Ask an administrator, or the owner of /t, for leave to write in it, or move the text file to a folder you may "
         "write in, then choose Convert again."},
        {{Step::AskUserToPutBack, {"dzua (uid 1001)"}}, 13360, 13370,
         "wait while it posts; if it stopped, dzua (uid 1001), or an administrator, runs a writing command of the "
         "company (convert or load), which puts it back",
         "Wait while it posts. If it stopped, dzua (uid 1001), or an administrator, starts a conversion of this "
         "company, which puts it back first."},
        {{Step::RestoreFromBackup, {"MASTER.GLM", "/co/.b"}}, 13361, 13371,
         "restore MASTER.GLM from a backup, then move the run's marker and copies out of /co/.b",
         "Restore MASTER.GLM from a backup, then move the run's marker and copies out of /co/.b."},
        {{Step::MoveRunAway, {"/co/.b", "dzub"}}, 13362, 13372,
         "have the marker and its copies moved out of /co/.b by dzub or an administrator; nothing needs putting back",
         "Have the marker and its copies moved out of /co/.b by dzub or an administrator. Nothing needs putting back."},
        {{Step::RestoreOrHandOver, {"MASTER.GLM, CURRENT.GLT", "/co/.b"}}, 13363, 13373,
         "restore MASTER.GLM, CURRENT.GLT from a backup, or have an administrator give /co/.b to a user who may write "
         "them (chown -R), whose next writing command puts it back",
         "Restore MASTER.GLM, CURRENT.GLT from a backup, or ask an administrator to give /co/.b to a user who may "
         "write them: that user's next conversion puts it back."},
        {{Step::RestoreOrHandOver, {"MASTER.GLM", "/co/.b"}}, 13460, 13461,
         "restore MASTER.GLM from a backup, or have an administrator give /co/.b to a user who may write it "
         "(chown -R), whose next writing command puts the stopped conversion back",
         "Restore MASTER.GLM from a backup, or ask an administrator to give /co/.b to a user who may write it: "
         "that user's next conversion puts the stopped conversion back."},
        {{Step::GiveOwnerBack, {"MASTER.GLM", "dzua", "dzsg"}}, 13364, 13374,
         "an administrator gives MASTER.GLM back the owner dzua and group dzsg (chown)",
         "Ask an administrator to give MASTER.GLM back the owner dzua and group dzsg."},
        {{Step::UnstickFolder, {"/co", "dzua (uid 1001)"}}, 13672, 13673,
         "have an administrator remove the sticky bit of /co (chmod -t), then run the command again, or have dzua "
         "(uid 1001), who owns the files, convert",
         "Ask an administrator to remove the sticky bit of /co, then choose Convert again, or have dzua (uid 1001), "
         "who owns the files, convert."},
        {{Step::AdministratorPutsBack, {"root (uid 0)"}}, 13674, 13675,
         "have root (uid 0), an administrator, run a writing command of the company (convert or load): it puts the "
         "stopped conversion back",
         "Ask root (uid 0), an administrator, to start a conversion of this company: it puts the stopped conversion "
         "back first."},
        {{Step::OtherReport, {"/dev/full"}}, 13676, 13677,
         "/dev/full is a device, not a file on a disk, and takes no more: give another report file with --report, "
         "then run the command again",
         "/dev/full is a device, not a file on a disk, and takes no more: name another report file when you start "
         "again."},
        {{Step::LookAtRunCopies, {"/co/.b", "dzub"}}, 13641, 13642,
         "have the marker and copies in /co/.b looked at by dzub or an administrator, then moved out of it; nothing "
         "is put back from them",
         "Have the marker and copies in /co/.b looked at by dzub or an administrator, then moved out of it. Nothing "
         "is put back from them."},
        {{Step::LookAtRunCopies, {"/co/.b", ""}}, 13643, 13644,
         "have the marker and copies in /co/.b looked at by an administrator, then moved out of it; nothing is put "
         "back from them",
         "Have the marker and copies in /co/.b looked at by an administrator, then moved out of it. Nothing is put "
         "back from them."},
        {{Step::WaitOrAdministrator, {}}, 13647, 13648,
         "wait while it posts; if it stopped, an administrator runs a writing command of the company (convert or "
         "load), which puts it back",
         "Wait while it posts. If it stopped, an administrator starts a conversion of this company, which puts it "
         "back first."},
        {{Step::ClearedByItsUser, {"dzub", "/co/.b"}}, 13852, 13853,
         "nothing needs putting back: the next writing command of the company (convert or load) of dzub, or of an "
         "administrator, clears its marker and copies out of /co/.b",
         "Nothing needs putting back: the next conversion of this company by dzub, or by an administrator, clears "
         "its marker and copies out of /co/.b."},
        {{Step::WritableFile, {disk}}, 13860, 13880,
         "ask an administrator, or the owner of " + disk + ", for leave to write it and its folder, then run the command again",
         "Ask an administrator, or the owner of " + disk + ", for leave to write it and its folder, then choose Convert again."},
        // A held stopped conversion that only a writing command puts back once its holder is ended:
        // this user's, or the run's user's.
        {{Step::EndHolderThenPutBack, {"/co/.b/r.lock", "process 7 of user nobody"}}, 13945, 13946,
         "have an administrator end the process that holds /co/.b/r.lock (process 7 of user nobody; fuser -v on the "
         "lock file names every process that has it open), then run a writing command of the company (convert or "
         "load), which puts the stopped conversion back or clears it, then run the command again",
         "Ask an administrator to end the process that holds /co/.b/r.lock (process 7 of user nobody). Then choose "
         "Convert: it puts the stopped conversion back or clears it first. Then start again."},
        {{Step::EndHolderThenPutBack, {"/co/.b/r.lock", "process 7 of user nobody", "dzua (uid 1001)"}}, 13947, 13948,
         "have an administrator end the process that holds /co/.b/r.lock (process 7 of user nobody; fuser -v on the "
         "lock file names every process that has it open), then have dzua (uid 1001) or an administrator run a "
         "writing command of the company (convert or load), which puts the stopped conversion back or clears it, "
         "then run the command again",
         "Ask an administrator to end the process that holds /co/.b/r.lock (process 7 of user nobody). Then ask dzua "
         "(uid 1001) or an administrator to start a conversion of this company, which puts the stopped conversion "
         "back or clears it. Then start again."},
        // A command that goes on is never told to run again.
        {{Step::MayEndLockHolder, {"/co/.b/folder.lock", "process 7 of user nobody"}}, 13949, 13950,
         "nothing is needed for this command; until an administrator ends the process that holds /co/.b/folder.lock "
         "(process 7 of user nobody; fuser -v on the lock file names every process that has it open), no conversion "
         "can keep its copies in that folder",
         "Nothing is needed for this command. Until an administrator ends the process that holds /co/.b/folder.lock "
         "(process 7 of user nobody), no conversion can keep its copies in that folder."},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.cli);
        EXPECT_EQ(dz::ui::step_message(r.next, Voice::CommandLine), r.cli);
        EXPECT_EQ(dz::ui::step_message(r.next, Voice::Desktop), r.desktop);
        EXPECT_EQ(dz::ui::step_words(r.next, Voice::CommandLine), r.cliWords);
        EXPECT_EQ(dz::ui::step_words(r.next, Voice::Desktop), r.desktopWords);
    }
    // What happened, then its step: on a line of its own after "Next:", or a paragraph of its own.
    const dz::ui::NextStep again{Step::Again, {}};
    EXPECT_EQ(dz::ui::with_step("It failed", again, Voice::CommandLine), "It failed\rNext: run the command again");
    EXPECT_EQ(dz::ui::with_step("It failed", again, Voice::Desktop),
              "It failed\r\rChoose Convert again when you are ready.");
    EXPECT_EQ(dz::ui::with_step("It failed", {}, Voice::Desktop), "It failed");
    EXPECT_EQ(dz::ui::step_message({}, Voice::CommandLine), 0);
}

// A command that looks says its own steps: Examine Files and Prefill are chosen again, never
// Convert, and the files' owner runs that command, not a conversion; each step carries the
// placeholders of Convert's in order. The command a run holds words every step said in it.
TEST(RCStringTable, EachCommandSaysItsOwnStepsToRunAgain) {
    dz::xvl::InstallStepWords();
    using dz::ui::Command;
    using dz::ui::Step;
    using dz::ui::Voice;
    const auto& t = xvlRCString::Table();
    for (int s = static_cast<int>(Step::Again); s <= static_cast<int>(Step::RemoveSpentJournal); ++s) {
        const dz::ui::NextStep next{static_cast<Step>(s), {"/co/A", "dzua"}};
        for (const Voice voice : {Voice::CommandLine, Voice::Desktop}) {
            const std::string* convert = t.find(dz::ui::step_message(next, voice, Command::Convert));
            // The command line's words go after "Next: ", the desktop's are sentences of their own.
            if (convert && !convert->empty() && convert->front() != '#') {
                EXPECT_EQ(std::isupper(static_cast<unsigned char>(convert->front())) != 0, voice == Voice::Desktop)
                    << s << ": " << *convert;
            }
            for (const Command command : {Command::Examine, Command::Prefill}) {
                const int own = dz::ui::step_message(next, voice, command);
                SCOPED_TRACE(std::to_string(s) + ": " + std::to_string(own));
                ASSERT_TRUE(convert && t.find(own));
                EXPECT_EQ(placeholders(*t.find(own)), placeholders(*convert));
                const std::string words = dz::ui::step_words(next, voice, command);
                EXPECT_THAT(words, ::testing::Not(HasSubstr("Convert again")));
                EXPECT_THAT(words, ::testing::Not(HasSubstr("owns the files, convert")));
            }
        }
    }
    const dz::ui::NextStep sticky{Step::UnstickFolder, {"/co", "dzua (uid 1001)"}};
    EXPECT_THAT(dz::ui::step_words(sticky, Voice::Desktop, Command::Examine),
                HasSubstr("then choose Examine Files again, or have dzua (uid 1001), who owns the files, examine the "
                          "text files."));
    EXPECT_THAT(dz::ui::step_words(sticky, Voice::CommandLine, Command::Examine),
                HasSubstr("(chmod -t), then run the command again, or have dzua (uid 1001), who owns the files, run it"));
    EXPECT_THAT(dz::ui::step_words({Step::Again, {}}, Voice::Desktop, Command::Prefill),
                HasSubstr("Choose Prefill again when you are ready."));
    for (const auto& [command, again] : {std::pair{Command::Examine, "choose Examine Files again."},
                                         std::pair{Command::Prefill, "choose Prefill again."}})
        EXPECT_THAT(dz::ui::step_words({Step::WritableFile, {"/co/A"}}, Voice::Desktop, command),
                    HasSubstr(std::string("Ask an administrator, or the owner of /co/A, for leave to write it and its folder, then ") +
                              again));
    // The settings' group, asked for alone or beside leave to write other files.
    const dz::ui::NextStep group{Step::KeepFilesGroup, {"root", "/co/company.toml"}};
    const dz::ui::NextStep groupAndFiles{Step::KeepFilesGroup, {"/co/A, /co/B", "root", "/co/company.toml"}};
    for (const auto& [command, again] : {std::pair{Command::Examine, "Then choose Examine Files again."},
                                         std::pair{Command::Prefill, "Then choose Prefill again."}}) {
        EXPECT_THAT(dz::ui::step_words(group, Voice::Desktop, command),
                    HasSubstr(std::string("Ask an administrator to make you a member of the group root, or the owner "
                                          "of /co/company.toml to give it a group you are a member of") + ": "));
        EXPECT_THAT(dz::ui::step_words(groupAndFiles, Voice::Desktop, command),
                    HasSubstr(std::string("for leave to write /co/A, /co/B and the folders they are in. ")));
        EXPECT_THAT(dz::ui::step_words(groupAndFiles, Voice::Desktop, command), ::testing::EndsWith(again));
        // One such file is said as one.
        const std::string one = dz::ui::step_words({Step::KeepFilesGroup, {"/co/A", "root", "/co/company.toml"}},
                                                   Voice::Desktop, command);
        EXPECT_THAT(one, HasSubstr("the owner of /co/A, for leave to write it and the folder it is in. "));
        EXPECT_THAT(one, ::testing::EndsWith(again));
        EXPECT_THAT(dz::ui::step_words(group, Voice::CommandLine, command), ::testing::EndsWith("run the command again"));
    }
    // A holder nobody can see (another user's program) is not named, and no empty name is said.
    for (const auto& unseen : {std::vector<std::string>{}, std::vector<std::string>{""}})
        EXPECT_THAT(dz::ui::step_words({Step::AgainWhenFinished, unseen}, Voice::Desktop, Command::Examine),
                    HasSubstr("Wait until the other program has finished, then choose Examine Files again."));
    EXPECT_THAT(dz::ui::step_words({Step::AgainWhenFinished, {"process 7"}}, Voice::Desktop, Command::Examine),
                HasSubstr("Wait until process 7 has finished, then choose Examine Files again."));
    const dz::ui::NextStep journal{Step::RemoveJournal, {"/co/MASTER.GLM-journal", "dzua"}};
    {
        const dz::ui::CommandSteps examining(Command::Examine);
        EXPECT_THAT(dz::ui::with_step("refused", journal, Voice::Desktop), HasSubstr("then choose Examine Files again."));
    }
    EXPECT_THAT(dz::ui::with_step("refused", journal, Voice::Desktop), HasSubstr("then choose Convert again."));
    // Who may remove a journal: an administrator, or who may write its folder; root is the
    // administrator, named once, in every command's words.
    for (const Command command : {Command::Convert, Command::Examine, Command::Prefill})
        for (const Voice voice : {Voice::CommandLine, Voice::Desktop}) {
            const std::string rootOwns =
                dz::ui::step_words({Step::RemoveJournal, {"/co/J", "root (uid 0)"}}, voice, command);
            EXPECT_THAT(rootOwns, HasSubstr("removed by an administrator (root (uid 0), who owns it) or by a user who "
                                            "may write the folder it is in"));
            EXPECT_EQ(rootOwns.find("administrator"), rootOwns.rfind("administrator")) << rootOwns;
            EXPECT_THAT(dz::ui::step_words(journal, voice, command),
                        HasSubstr("(where that folder is sticky, only by dzua, who owns it, or by the folder's owner)"));
        }
    for (const Voice voice : {Voice::CommandLine, Voice::Desktop})
        EXPECT_THAT(dz::ui::step_words({Step::KeepFilesGroup, {"/co/A", "root", "/co/company.toml"}}, voice,
                                       Command::Convert),
                    ::testing::AllOf(HasSubstr("/co/A, for leave to write it and the folder it is in"),
                                     ::testing::Not(HasSubstr("each file")),
                                     ::testing::EndsWith(voice == Voice::CommandLine ? "then run the command again"
                                                                                     : "Then choose Convert again.")));
}

TEST(RCStringTable, CommandVariantsFollowTheirSiblings) {
    const auto& t = xvlRCString::Table();
    auto text = [&](int n) { return *t.find(n); };
    const std::string q = "\r\rIs it OK to skip?";
    // The single-file variants are the questions without their last sentence.
    EXPECT_EQ(text(12049) + q, text(12048));
    EXPECT_EQ(text(12053) + q, text(12052));
    EXPECT_EQ(text(12055) + "\r\rIs it OK to skip conversion of this file?", text(12054));
    EXPECT_EQ(text(12057) + "\r\rIs it OK to skip examination of this file?", text(12056));
    EXPECT_EQ(text(12059) + "\r\rIs it OK to skip prefill from this file?", text(12058));
    // Convert / Examine Files / Prefill triples carry the same placeholders in the same order.
    for (int first : {12054, 12061}) {
        const int step = first == 12054 ? 2 : 1;
        EXPECT_EQ(placeholders(text(first)), placeholders(text(first + step)));
        EXPECT_EQ(placeholders(text(first)), placeholders(text(first + 2 * step)));
    }
    for (int n : {12064, 12066, 12068}) {
        EXPECT_EQ(placeholders(text(n)),
                  (std::vector<std::string>{"#text file name#", "#by last user#", "#on last date#", "#at last time#"}));
        std::string without = text(n);
        without.erase(without.find(" #by last user#"), 15);
        EXPECT_EQ(text(n + 1), without);
    }
    EXPECT_NE(text(12066).find("Do you still want to examine it?"), std::string::npos);
    EXPECT_NE(text(12068).find("Do you still want to prefill it?"), std::string::npos);
}

TEST(RCStringTable, ClosingMessagesTakeTheirCountsInOneOrder) {
    const std::vector<std::string> order = {"#Rejectxxx.txt or rejXXX.txt #", "#rej count#", "#record or records#",
                                            "#warn count#", "#message or messages#", "#conv count#",
                                            "#note or notes#"};
    // rejected, messages, notes present -> Convert number, Examine number, Examine of several files
    struct Row {
        bool rej, msg, notes;
        int convert, examine, examineSeveral;
    } rows[] = {{false, true, false, 12035, 12038, 13331}, {true, false, false, 12034, 12037, 13330},
                {true, true, false, 12036, 12039, 13332},  {false, false, true, 12264, 12264, 12264},
                {false, true, true, 12041, 12044, 13334},  {true, false, true, 12040, 12043, 13333},
                {true, true, true, 12042, 12045, 13335}};
    for (const auto& r : rows) {
        std::vector<std::string> want;
        if (r.rej) want.insert(want.end(), order.begin(), order.begin() + 3);
        if (r.msg) want.insert(want.end(), order.begin() + 3, order.begin() + 5);
        if (r.notes) want.insert(want.end(), order.begin() + 5, order.end());
        EXPECT_EQ(placeholders(*xvlRCString::Table().find(r.convert)), want) << r.convert;
        EXPECT_EQ(placeholders(*xvlRCString::Table().find(r.examine)), want) << r.examine;
        EXPECT_EQ(placeholders(*xvlRCString::Table().find(r.examineSeveral)), want) << r.examineSeveral;
    }
    EXPECT_EQ(xvlRCString::Get(12036, "Rejectxxx.txt ", "1", "record", "2", "messages", N, N, N),
              "Examine your printout and the Rejectxxx.txt files\rfor more information on the 1 rejected record "
              "and\r2 warning/log messages generated during this conversion.");
}

// ---------------------------------------------------------------------------------------------
// Every number the program uses has a text

TEST(RCStringSources, ScannerFindsNumbersInTheFirstArgument) {
    const std::string code =
        "auto a = xvlRCString::Get(12000, x);\n"
        "auto b = dz::xvl::xvlRCString::Get( converting ? 12021 : 12022 , f(1234, 2), N);\n"
        "auto c = xvlRCString::Get(\n   kBase + 12054, \"12999\");\n"
        "auto d = xvlRCString::GetValues(12046, {name});\n"
        "auto e = xvlRCString::Get(number, \"12998\");\n"
        "auto f = xvlRCString::Get(pick(12100, 12101), s);\n";
    EXPECT_EQ(numbers_used(code), (std::set<int>{12000, 12021, 12022, 12054, 12046, 12100, 12101}));
}

TEST(RCStringSources, EveryMessageNumberUsedInTheSourcesHasAText) {
    ASSERT_EQ(xvlRCString::TableError(), "");
    const auto files = source_files();
    ASSERT_FALSE(files.empty()) << DZ_SOURCE_DATA_DIR;
    for (const auto& [path, code] : files)
        for (int n : numbers_used(code))
            EXPECT_TRUE(xvlRCString::Has(n)) << path.string() << " uses message " << n
                                             << ", which has no text in " << xvlRCString::DefaultFile().string();
}

// ---------------------------------------------------------------------------------------------
// Texts users must see word for word

namespace {
const fs::path kShown = fs::path(DZ_TEST_DATA_DIR) / "messages" / "shown_texts.toml";
const fs::path kShownExceptions = fs::path(DZ_TEST_DATA_DIR) / "messages" / "shown_text_exceptions.toml";
}  // namespace

TEST(RCStringShown, NumbersInCodeSkipCommentsAndCountConstantsAndTables) {
    const std::string code =
        "constexpr int kMsgNotFound = 12071; // 12999 in a comment\n"
        "static const int convert[3] = {0, 12034, 12035};\n"
        "/* 12998\n 12997 */ auto x = Msg(12003);\n";
    EXPECT_EQ(numbers_in_code(code), (std::set<int>{12071, 12034, 12035, 12003}));
}

TEST(RCStringShown, DifferencesAreFoundUnlessExcepted) {
    const auto table = MessageTable::load(write_temp("table.toml", "12003 = \"Own words\"\n12004 = \"Same\"\n"
                                                                   "12005 = \"Other\"\n"));
    const auto shown = MessageTable::load(write_temp("shown.toml", "12003 = \"Fixed words\"\n12004 = \"Same\"\n"
                                                                   "12005 = \"Fixed\"\n12016 = \"Needed\"\n"));
    const auto none = MessageTable::load(write_temp("none.toml", ""));
    const auto except = MessageTable::load(write_temp("except.toml", "12005 = \"reason\"\n"));
    ASSERT_TRUE(table.ok() && shown.ok() && none.ok() && except.ok());
    // 12016 is used but has no text; 12099 has no fixed text; 12004 matches.
    EXPECT_EQ(texts_that_differ(table, shown, none, {12003, 12004, 12005, 12016, 12099}),
              (std::map<int, std::string>{{12003, "Own words"}, {12005, "Other"}, {12016, "(no text)"}}));
    EXPECT_EQ(texts_that_differ(table, shown, except, {12003, 12005}),
              (std::map<int, std::string>{{12003, "Own words"}}));
    // Only numbers the code uses are held to their text.
    EXPECT_TRUE(texts_that_differ(table, shown, none, {12004}).empty());
}

TEST(RCStringShown, EveryUsedNumberWithAFixedTextHasExactlyThatText) {
    ASSERT_EQ(xvlRCString::TableError(), "");
    const auto shown = MessageTable::load(kShown);
    const auto exceptions = MessageTable::load(kShownExceptions);
    ASSERT_TRUE(shown.ok()) << shown.error();
    ASSERT_TRUE(exceptions.ok()) << exceptions.error();
    ASSERT_GT(shown.size(), 0u);
    std::set<int> used;
    const auto files = source_files();
    ASSERT_FALSE(files.empty());
    for (const auto& [path, code] : files) used.merge(numbers_in_code(code));
    for (const auto& [n, have] : texts_that_differ(xvlRCString::Table(), shown, exceptions, used))
        ADD_FAILURE() << "message " << n << " reads \"" << have << "\"\n  but users must see \"" << *shown.find(n)
                      << "\" (" << kShown.string() << ")";
    // An exception names a fixed text that the table really departs from, and says why.
    for (const auto& [n, reason] : exceptions.texts()) {
        EXPECT_NE(shown.find(n), nullptr) << n << " is excepted but has no fixed text";
        if (shown.find(n)) {
            const std::string* have = xvlRCString::Table().find(n);
            EXPECT_TRUE(!have || *have != *shown.find(n)) << n << " is excepted but already has its fixed text";
        }
        EXPECT_GT(reason.size(), 10u) << n << ": an exception needs its reason";
    }
}

// What a stopped conversion asks of people, in both front ends' words: only what works.
TEST(RCStringTable, AStoppedRunsStepsAskOnlyWhatWorks) {
    dz::xvl::InstallStepWords();
    using dz::ui::NextStep;
    using dz::ui::Step;
    using dz::ui::Voice;
    auto both = [](const NextStep& next) {
        return dz::ui::step_words(next, Voice::CommandLine) + "\n" + dz::ui::step_words(next, Voice::Desktop);
    };
    // The group was kept: only the owner is asked back, and the other way round.
    const std::string owner = both({Step::GiveOwnerBack, {"MASTER.APM", "dzsa (uid 1001)", ""}});
    EXPECT_THAT(owner, ::testing::HasSubstr("MASTER.APM back the owner dzsa (uid 1001) (chown)"));
    EXPECT_THAT(owner, ::testing::Not(::testing::HasSubstr("group")));
    const std::string group = both({Step::GiveOwnerBack, {"MASTER.APM", "", "dzsg"}});
    EXPECT_THAT(group, ::testing::HasSubstr("MASTER.APM back the group dzsg (chgrp)"));
    EXPECT_THAT(group, ::testing::Not(::testing::HasSubstr("owner")));
    EXPECT_THAT(both({Step::GiveOwnerBack, {"MASTER.APM", "dzsa (uid 1001)", "dzsg"}}),
                ::testing::HasSubstr("back the owner dzsa (uid 1001) and group dzsg"));
    // An owner with no account runs nothing: an administrator acts.
    const std::string admin = both({Step::AskAdministrator, {"/co/.backup-1234"}});
    EXPECT_THAT(admin, ::testing::HasSubstr("have an administrator give /co/.backup-1234 to a user who may write"));
    EXPECT_THAT(admin, ::testing::HasSubstr("(chown -R)"));
    EXPECT_THAT(admin, ::testing::Not(::testing::HasSubstr("runs a writing command")));
    const std::string move = both({Step::MoveRunAway, {"/co/.backup-1234", ""}});
    EXPECT_THAT(move, ::testing::HasSubstr("have an administrator move the marker and its copies out of /co/.backup-1234"));
    EXPECT_THAT(move, ::testing::Not(::testing::HasSubstr(" or an administrator")));
    EXPECT_THAT(both({Step::FreeBackupFolder, {"/co/.backup, /co/.backup-1004", "dzsb (uid 1002)"}}),
                ::testing::HasSubstr("give you one of /co/.backup, /co/.backup-1004 (of dzsb (uid 1002)) that is empty"));
    EXPECT_THAT(both({Step::RemoveRunLock, {"process 42 on host h", "/co/.backup/run~h~42.lock"}}),
                ::testing::HasSubstr("once process 42 on host h no longer runs, remove /co/.backup/run~h~42.lock, then run a "
                                     "writing command"));
}
