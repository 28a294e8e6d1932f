// dodedoz-cli load: the lines dump prints, written back into data files in one go.
#include "cli_support.h"
#include "old_journal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using namespace dz::cli::testing;
using ::testing::HasSubstr;

class Load : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch.path().empty());
        for (const fs::path& c : {from, into}) ASSERT_EQ(Cli({"company", "init", c.string()}).status, 0);
    }

    CliResult Cli(const std::vector<std::string>& args) {
        return RunCli(args, root, {{"DODEDOZ_NOW", "2026-12-06 14:30:00"}});
    }
    std::string Dump(const fs::path& company, const std::string& abbr) {
        const CliResult r = Cli({"dump", "--company", company.string(), abbr});
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }
    CliResult LoadText(const std::string& text) {
        Spit(root / "load.txt", text);
        return Cli({"load", "--company", into.string(), (root / "load.txt").string()});
    }

    ScratchFolder scratch;
    fs::path root = scratch.path(), from = root / "from", into = root / "into";
};

TEST_F(Load, ADumpLoadedIntoAnEmptyCompanyDumpsIdentically) {
    // A GL master with headers set by the conversion, texts, amounts, choices, dates and notes.
    fs::copy_file(fs::path(DZ_SOURCE_DATA_DIR) / "samples" / "glm" / "demo-gl-master.txt", root / "glm.txt");
    const CliResult conv = Cli({"convert", "--company", from.string(), "--report", (root / "r.txt").string(),
                                (root / "glm.txt").string()});
    ASSERT_LE(conv.status, 1) << conv.err;
    const std::string glm = Dump(from, "GLM");
    ASSERT_NE(glm.find("\nR1 "), std::string::npos);
    ASSERT_NE(glm.find("\nN1 "), std::string::npos) << "the sample should leave notes";
    const std::string cmm = Dump(from, "CMM");

    // Two data files in one load, the first with its file number, the second in lower case.
    const CliResult r = LoadText("# the GL master, then the CM header\n@GLM 1\n" + glm + "\n@cmm\n" + cmm);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Loaded GLM file 1: 2 headers"), std::string::npos) << r.out;
    EXPECT_TRUE(Dump(into, "GLM") == glm);  // (not printed: thousands of characters)
    EXPECT_EQ(Dump(into, "CMM"), cmm);

    // A dump loads back as it is: loading it again refuses the first record (after the @ line
    // and the two headers) as a duplicate and leaves the file as it was.
    const CliResult again = LoadText(glm);
    EXPECT_EQ(again.status, 2);
    EXPECT_NE(again.err.find("load.txt:4: duplicate key"), std::string::npos) << again.err;
    EXPECT_NE(again.err.find("nothing was loaded"), std::string::npos) << again.err;
    EXPECT_TRUE(Dump(into, "GLM") == glm);
}

TEST_F(Load, AFileWithoutAnAtLineStopsAtItsFirstRecordWithOneMessage) {
    const CliResult r = LoadText("# no data file named\nH1 LSTTBLE=\"\"\nR1 TABLE=\"A\"\nR1 TABLE=\"B\"\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("load.txt:2: no data file named yet: add a line @ABBR"));
    EXPECT_EQ(r.err.find("load.txt:3"), std::string::npos) << r.err;  // one message, not one per line
    EXPECT_THAT(r.err, HasSubstr("1 line refused; nothing was loaded"));
}

TEST_F(Load, KeepExistingLeavesRecordsOnFileAndLoadsTheRest) {
    ASSERT_EQ(LoadText("@XVM 0\nR1 TABLE=\"Alpha\" TALEN=2\nN1 \"first notes\"\n").status, 0);
    Spit(root / "load.txt", "@XVM 0\nR1 TABLE=\"alpha\" TALEN=5\nN1 \"second notes\"\nR1 TABLE=\"Beta\" TALEN=3\n");
    const CliResult plain = Cli({"load", "--company", into.string(), (root / "load.txt").string()});
    EXPECT_EQ(plain.status, 2);  // without the option a record on file is refused
    const CliResult kept =
        Cli({"load", "--company", into.string(), "--keep-existing", (root / "load.txt").string()});
    EXPECT_EQ(kept.status, 0) << kept.err;
    EXPECT_THAT(kept.out, HasSubstr(": 0 headers, 1 record, 0 notes; 1 record was on file already and kept"));
    const std::string xvm = Cli({"dump", "--company", into.string(), "XVM", "--file", "0"}).out;
    EXPECT_THAT(xvm, HasSubstr("R1 TABLE=\"Alpha\" TALEN=2"));  // the stored spelling and value stay
    EXPECT_THAT(xvm, HasSubstr("N1 \"first notes\""));
    EXPECT_THAT(xvm, HasSubstr("R1 TABLE=\"Beta\" TALEN=3"));
}

TEST_F(Load, EveryRefusedLineIsNamedAndNothingIsWritten) {
    const std::string before = Dump(into, "GLM");
    const std::string good = "R1 AACCT=\"1000\" ATITLE=\"Cash\" ATYPE=1";
    const CliResult r = LoadText(
        "@GLM\n"                                                   // 1
        "H1 FISCENT=2 PDATE=2026-02-29\n"                          // 2 no such day
        + good + "\n"                                              // 3 written, then rolled back
        "N1 \"first \\\"notes\\\"\\x0D\"\n"                        // 4
        "R1 AACCT=\"1001\" NOSUCH=1\n"                             // 5 unknown field
        "N1 \"notes of a refused record are not refused again\"\n" // 6
        "R1 AACCT=\"1002\" ATYPE=x\n"                              // 7 not a number
        "R1 AACCT=\"1003\" ATYPE=-1\n"                             // 8 unsigned
        "R1 AACCT=\"1004\" ATITLE=\"" + std::string(200, 'x') + "\"\n"  // 9 too long
        + good + "\n"                                              // 10 duplicate key
        "R1 AACCT=\"1005\" ATITLE=\"a\" ATITLE=\"b\"\n"           // 11 field twice
        "R1 AACCT=\"1006\" ATITLE=\"open\n"                        // 12 unclosed quote
        "R99 AACCT=\"1007\"\n"                                     // 13 no such record type
        "N1 \"no record above\"\n"                                 // 14
        "H1 FISCENT=1\n"                                           // 15 header twice
        "X1\n"                                                     // 16 not a line kind
        "@XYZ\n"                                                   // 17 no such data file
        "R1 A=1\n"                                                 // 18 skipped with its file
        "@GLM 7\n"                                                 // 19 no such file number
        "R1 AACCT=\"1008\" ATYPE=1\n");                            // 20 good, still rolled back
    EXPECT_EQ(r.status, 2);
    const std::string path = (root / "load.txt").string();
    for (int line : {2, 5, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 19})
        EXPECT_NE(r.err.find(path + ":" + std::to_string(line) + ": "), std::string::npos) << "line " << line << "\n" << r.err;
    for (int line : {1, 3, 4, 6, 18, 20})
        EXPECT_EQ(r.err.find(path + ":" + std::to_string(line) + ": "), std::string::npos) << "line " << line << "\n" << r.err;
    EXPECT_NE(r.err.find("unknown field NOSUCH"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("14 lines refused; nothing was loaded"), std::string::npos) << r.err;
    EXPECT_TRUE(Dump(into, "GLM") == before);
}

TEST_F(Load, ValuesReadBackAsWritten) {
    // Fields named in any case; the others keep their defaults; a header keeps the fields not named.
    const CliResult r = LoadText("@glm\nH1 PDATE=2026-01-31 fiscent=2\nR1 aacct=\"2000\" ATITLE=\"caf\\xE9 \\\\ \\\"x\\\"\"\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string d = Dump(into, "GLM");
    EXPECT_NE(d.find("H1 FISCENT=2 BLLVL=1 "), std::string::npos) << d;
    EXPECT_NE(d.find(" PDATE=2026-01-31 "), std::string::npos) << d;
    EXPECT_NE(d.find("R1 AACCT=\"2000\" ATITLE=\"caf\\xE9 \\\\ \\\"x\\\"\""), std::string::npos) << d;
    // Lines before a data file is named, and a missing file, are refused.
    EXPECT_EQ(LoadText("R1 AACCT=\"1\"\n").status, 2);
    EXPECT_EQ(Cli({"load", "--company", into.string(), (root / "none.txt").string()}).status, 2);
    EXPECT_EQ(Cli({"load", "--company", into.string()}).status, 64);
}

// Characters are dumped as they are; control characters, a C1 control and bytes that are not
// UTF-8 are escaped; and the dump loads back into the same values.
TEST_F(Load, UnicodeTextsAreDumpedAsTheyAreAndLoadBack) {
    const std::string title = "W\xC3\xA4hrung \xE2\x82\xAC\\x01\\xC2\\x85\\xFF";
    ASSERT_EQ(LoadText("@GLM\nR1 AACCT=\"2000\" ATITLE=\"" + title + "\"\n").status, 0);
    const std::string d = Dump(into, "GLM");
    EXPECT_THAT(d, HasSubstr("ATITLE=\"" + title + "\""));
    Spit(root / "again.txt", d);
    const CliResult r = Cli({"load", "--company", from.string(), (root / "again.txt").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Dump(from, "GLM"), d);
}

TEST_F(Load, ADayZeroIsNoDate) {
    const std::string before = Dump(into, "GLM");
    const CliResult r = LoadText("@GLM\nH1 PDATE=2026-01-00\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("load.txt:2: "));
    EXPECT_THAT(r.err, HasSubstr("is not a date written YYYY-MM-DD"));
    EXPECT_TRUE(Dump(into, "GLM") == before);
}

// A day past its month's last is said not to exist; a number with a fraction of its field's
// smallest unit (an amount with a fraction of a cent, a whole number with a fraction) is refused
// with its line and field, whatever the field.
TEST_F(Load, ADayPastItsMonthsLastAndAFractionOfAUnitAreRefused) {
    const std::string before = Dump(into, "CMM");
    const CliResult r = LoadText("@GLM\nH1 PDATE=2026-02-30\n@CMM\nR1 BANKACC=\"T1\" BRECBAL=12.345\n"
                                 "R1 BANKACC=\"T2\" BRECBAL=1234 BINTCMP=1.5\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("load.txt:2: field PDATE: \"2026-02-30\" is a date that does not exist: month 2 of "
                                 "2026 has 28 days"));
    EXPECT_THAT(r.err, HasSubstr("load.txt:4: field BRECBAL: \"12.345\" is not a whole number; the field's amounts "
                                 "are written with their 2 implied decimals"));
    EXPECT_THAT(r.err, HasSubstr("load.txt:5: field BINTCMP: \"1.5\" is not a whole number; the field holds whole numbers"));
    EXPECT_THAT(r.err, HasSubstr("3 lines refused"));
    EXPECT_TRUE(Dump(into, "CMM") == before);
}

}  // namespace

// A program killed in the middle of writing a data file (its journal synced, its commit not
// made) leaves the journal beside it, hot. A look says the next writing command takes that write
// back, never that the file is corrupt; the next writing command, whichever it is, takes it back
// and says so, and the file is as it was before the stopped write.
TEST_F(Load, AWriteStoppedMidwayIsTakenBackByTheNextWritingCommand) {
    fs::copy_file(fs::path(DZ_SOURCE_DATA_DIR) / "samples" / "glm" / "demo-gl-master.txt", root / "glm.txt");
    ASSERT_LE(Cli({"convert", "--company", from.string(), "--report", (root / "r.txt").string(),
                   (root / "glm.txt").string()})
                  .status,
              1);
    const std::string before = Dump(from, "GLM");
    const fs::path glm = from / "MASTER.GLM";
    // Every record deleted, in a cache too small to hold the change: the journal is synced and
    // pages are written into the file before the program is killed.
    const pid_t writer = ::fork();
    if (writer == 0) {
        sqlite3* db = nullptr;
        if (sqlite3_open(glm.c_str(), &db) != SQLITE_OK ||
            sqlite3_exec(db, "PRAGMA cache_size=1; BEGIN; DELETE FROM r1; DELETE FROM dz_notes;", nullptr, nullptr,
                         nullptr) != SQLITE_OK)
            ::_exit(1);
        ::_exit(0);  // never committed
    }
    int status = -1;
    ASSERT_EQ(::waitpid(writer, &status, 0), writer);
    ASSERT_EQ(status, 0);
    ASSERT_TRUE(fs::exists(glm.string() + "-journal"));
    // Names made to the journal change nothing of that: they are emptied when the journal goes,
    // and said with how they are found.
    const fs::path kept[] = {root / "kept", root / "kept2"};
    for (const fs::path& k : kept) fs::create_hard_link(glm.string() + "-journal", k);
    struct stat linked {};
    ASSERT_EQ(::stat(kept[0].c_str(), &linked), 0);

    const CliResult look = Cli({"dump", "--company", from.string(), "GLM"});
    EXPECT_EQ(look.status, 2);
    // Another program's write: said as a write that stopped, never as a conversion.
    EXPECT_THAT(look.err, HasSubstr("A write to " + glm.string() + " was not committed"));
    EXPECT_THAT(look.err, ::testing::Not(HasSubstr("conversion")));
    EXPECT_THAT(look.err, HasSubstr("Next: run a writing command of the company (convert or load)"));
    EXPECT_THAT(look.err, ::testing::Not(HasSubstr("corrupt")));

    // A pipe at another file's journal name: that file is refused, said apart, and the command
    // goes on with the others.
    const fs::path pipe = from / "MASTER.CMM-journal";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0666), 0);
    Spit(root / "empty.load", "");
    const CliResult load = Cli({"load", "--company", from.string(), (root / "empty.load").string()});
    EXPECT_EQ(load.status, 0) << load.err;
    EXPECT_THAT(load.err, HasSubstr("load: A journal beside a data file is not played: " + pipe.string() +
                                    " is a named pipe (FIFO)"));
    EXPECT_EQ(Cli({"dump", "--company", from.string(), "CMM"}).status, 2);
    EXPECT_TRUE(fs::is_fifo(pipe));
    // Its other names were emptied with it: said as the empty leftovers they are, with no step
    // that finds them by an inode that may be another file's once they are gone.
    EXPECT_THAT(load.err, HasSubstr("A write to " + glm.string() +
                                    " was not committed (the program writing it ended before its commit, or its "
                                    "journal could not be removed, which is what commits a write), and it was "
                                    "taken back from its journal: the file stands as it was before that write. Its "
                                    "journal had 3 names (hard links): the 2 others, on the same file system, were "
                                    "emptied with it and hold nothing: empty leftovers that may be removed"));
    EXPECT_THAT(load.err, ::testing::Not(HasSubstr("-inum")));
    EXPECT_FALSE(fs::exists(glm.string() + "-journal"));
    for (const fs::path& k : kept) EXPECT_EQ(fs::file_size(k), 0u) << k;
    EXPECT_TRUE(Dump(from, "GLM") == before);
}

// A data file a load line names that is refused for what stands beside it as its journal is
// said with its step, as a conversion says it: once, when the command starts; the line names the
// file it could not open.
TEST_F(Load, AFileRefusedForItsJournalIsSaidWithItsStep) {
    const fs::path pipe = from / "MASTER.GLM-journal";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0666), 0);
    Spit(root / "one.load", "@GLM\nR1 AACCT=\"01110990000\" ATITLE=\"One\" ATYPE=1\n");
    const CliResult load = Cli({"load", "--company", from.string(), (root / "one.load").string()});
    EXPECT_NE(load.status, 0);
    EXPECT_EQ(Occurrences(load.err, "\nNext: have " + pipe.string() + " removed by "), 1u) << load.err;
    EXPECT_THAT(load.err, HasSubstr(":1: GLM file 1 (MASTER.GLM) cannot be opened: "));
}

// An old journal beside a data file (one kept aside in the middle of a commit and put back after
// the file was written again) is said once per command, with its step, by every command that
// meets it: the line or run it ends names the file as not opened for it, and says no more. It
// refuses the file, so it is an error, never a warning.
TEST_F(Load, AnOldJournalIsSaidOncePerCommand) {
    const fs::path glm = from / "MASTER.GLM";
    ASSERT_TRUE(dz::testing_support::plant_old_journal(glm));
    fs::copy_file(fs::path(DZ_SOURCE_DATA_DIR) / "samples" / "glm" / "demo-gl-master.txt", root / "glm.txt");
    Spit(root / "one.load", "@GLM\nR1 AACCT=\"01110990000\" ATITLE=\"One\" ATYPE=1\n");
    const std::vector<std::vector<std::string>> commands = {
        {"load", "--company", from.string(), (root / "one.load").string()},
        {"dump", "--company", from.string(), "GLM"},
        {"convert", "--company", from.string(), (root / "glm.txt").string()}};
    for (const auto& command : commands) {
        SCOPED_TRACE(command.front());
        const CliResult r = Cli(command);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(Occurrences(r.err, glm.string() + "-journal is "), 1u) << r.err;
        EXPECT_EQ(Occurrences(r.err, "Next: "), 1u) << r.err;
        EXPECT_THAT(r.err, ::testing::Not(HasSubstr("warning:")));
    }
    const CliResult load = Cli(commands[0]);
    EXPECT_THAT(load.err, HasSubstr("one.load:1: GLM file 1 (MASTER.GLM) cannot be opened: what stands beside it as "
                                    "its journal is not played\n"));
    EXPECT_THAT(Cli(commands[1]).err,
                HasSubstr("dump: GLM file MASTER.GLM cannot be opened: what stands beside it as its journal is not played\n"));
    EXPECT_THAT(Cli(commands[2]).err, HasSubstr("error: A journal beside a data file is not played"));
}
