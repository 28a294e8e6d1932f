// Substitution tables to and from text files through dodedoz-cli, on a fresh company: export
// (with the values that need quoting) and import back, the import of the demo account table
// with its report and summary, prefill from the GL master sample with the too-long message, the
// derivation of new GL accounts from the prefix and base tables, and a table held by another
// process.
#include "cli_support.h"
#include "small_disk.h"

#include <gmock/gmock.h>
#include <sys/stat.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/suite/company.h"
#include "tables/master_file.h"
#include "tables/substitution_fields.h"

namespace {

using namespace dz::cli::testing;

const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples";

class TablesCli : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch.path().empty()) << "no scratch folder";
        dir = scratch.path();
        company = dir / "co";
        const CliResult init = Cli({"company", "init", company.string()});
        ASSERT_EQ(init.status, 0) << init.err;
    }

    CliResult Cli(const std::vector<std::string>& args) { return RunCli(args, dir); }
    std::string Shown(const std::string& text) const { return ReplaceAll(text, dir.string(), "<DIR>"); }

    // `tables VERB --company co GROUP --app APP --field FIELD more...`
    CliResult Tables(const std::string& verb, const std::string& group, const std::string& app, int field,
                     const std::vector<std::string>& more) {
        std::vector<std::string> args{"tables", verb, "--company", company.string(), group, "--app", app,
                                      "--field", std::to_string(field)};
        args.insert(args.end(), more.begin(), more.end());
        CliResult r = Cli(args);
        r.out = Shown(r.out);
        r.err = Shown(r.err);
        return r;
    }
    // The rows of one table as `tables show` prints them, without the heading.
    std::string Rows(const std::string& group, const std::string& app, int field) {
        const CliResult r = Cli({"tables", "show", "--company", company.string(), group, "--app", app, "--field",
                                 std::to_string(field)});
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out.substr(r.out.find('\n') + 1);
    }
    std::string Write(const std::string& name, const std::string& text) {
        const fs::path p = dir / name;
        Spit(p, text);
        return p.string();
    }
    std::string CopySample(const std::string& rel, const std::string& name) {
        const fs::path p = dir / name;
        fs::copy_file(kSamples / rel, p);
        return p.string();
    }
    // Standard error without the save's progress lines.
    static std::string Messages(const std::string& err) {
        std::string out;
        std::size_t at = 0;
        while (at < err.size()) {
            std::size_t end = err.find('\n', at);
            if (end == std::string::npos) end = err.size();
            const std::string line = err.substr(at, end - at);
            if (line.rfind("dodedoz: Saving table to disk", 0) != 0) out += line + "\n";
            at = end + 1;
        }
        return out;
    }

    ScratchFolder scratch;
    fs::path dir, company;
};

TEST_F(TablesCli, ExportQuotesWhatWouldNotReadBackAndImportGivesTheSameTable) {
    const std::string in = Write("q.txt", "\"a,b\",V1\r\n\" lead\",V2\r\n\"#hash\",V3\r\n\"q\"\"x\",V4\r\nplain,V5\n");
    ASSERT_EQ(Tables("import", "Q", "AP", 6, {"--old-size", "20", in}).status, 0);
    const std::string before = Rows("Q", "AP", 6);
    const std::string out = (dir / "export.txt").string();
    const CliResult e = Tables("export", "Q", "AP", 6, {out});
    ASSERT_EQ(e.status, 0) << e.err;
    EXPECT_EQ(Slurp(out), "\" lead\",V2\r\n\"#hash\",V3\r\n\"a,b\",V1\r\nplain,V5\r\n\"q\"\"x\",V4\r\n");
    const CliResult again = Tables("import", "Q", "AP", 6, {out});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("     5 exact duplicates"), std::string::npos) << again.out;
    EXPECT_NE(again.out.find("     0 entries changed"), std::string::npos) << again.out;
    EXPECT_EQ(Rows("Q", "AP", 6), before);
}

TEST_F(TablesCli, ExportNeverReplacesADataFileAndAnExistingFileOnlyWithForce) {
    ASSERT_EQ(Tables("import", "Q", "AP", 6, {Write("q.txt", "A,V1\r\n")}).status, 0);
    for (const fs::path& target : {company / "MASTER.XVM", company / "MASTER.GLM"}) {
        SCOPED_TRACE(target.string());
        ASSERT_TRUE(fs::exists(target));
        const std::string before = Slurp(target.string());
        const CliResult e = Tables("export", "Q", "AP", 6, {"--force", target.string()});
        EXPECT_EQ(e.status, 2);
        EXPECT_THAT(e.err, ::testing::HasSubstr("it is a data file"));
        EXPECT_EQ(Slurp(target.string()), before);
    }
    const std::string out = Write("kept.txt", "mine\r\n");
    const CliResult refused = Tables("export", "Q", "AP", 6, {out});
    EXPECT_EQ(refused.status, 2);
    EXPECT_THAT(refused.err, ::testing::HasSubstr("--force"));
    EXPECT_EQ(Slurp(out), "mine\r\n");
    ASSERT_EQ(Tables("export", "Q", "AP", 6, {"--force", out}).status, 0);
    EXPECT_EQ(Slurp(out), "A,V1\r\n");
}

TEST_F(TablesCli, UnionTableExportsThreeColumns) {
    const std::string in = Write("u.txt", "L1,U1,X1\nL2,U2,\n");
    ASSERT_EQ(Tables("import", "U", "PR", 46, {in}).status, 0);
    const std::string out = (dir / "u-out.txt").string();
    ASSERT_EQ(Tables("export", "U", "PR", 46, {out}).status, 0);
    EXPECT_EQ(Slurp(out), "L1,U1,X1\r\nL2,U2,\r\n");
}

// New accounts as the editor shows them, with their separators, are taken and kept without
// them; a new value is refused only when it does not fit the account format.
TEST_F(TablesCli, ImportTakesNewAccountsWrittenWithTheirSeparators) {
    const std::string in = Write("sep.txt", "00000000000,01-1-10-0000-00\n01-1-10-1000-00,01110100000\n"
                                            "01-1-10-2000-00,01-1-1\n");
    const CliResult r = Tables("import", "SEP", "GL", 9, {in});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_THAT(r.out, ::testing::HasSubstr("     3  Account value '01-1-1' doesn't fit its format"));
    EXPECT_THAT(r.out, ::testing::HasSubstr("     2 entries added\n"));
    EXPECT_EQ(Rows("SEP", "GL", 9), "00000000000,01-1-10-0000-00\n01-1-10-1000-00,01-1-10-1000-00\n");
}

TEST_F(TablesCli, ImportOfTheDemoTableReportsRejectsTotalsAndSummary) {
    const std::string sample = CopySample("tables/demo-account-table.txt", "demo-account-table.txt");
    const CliResult r = Tables("import", "DEMO", "GL", 9, {"--old-size", "40", sample});
    EXPECT_EQ(r.status, 1) << r.err;  // lines were rejected
    EXPECT_EQ(r.out,
              "Importing <DIR>/demo-account-table.txt into 'Account' table\n"
              "\n"
              "  Line  Reason not accepted\n"
              "     6  Old value is too long: '01-1-10-1000-00-000000000000000000000...' has 56 characters and 40 "
              "are allowed (fld 1, col 1)\n"
              "     7  Account value 'ZZZZ' doesn't fit its format: it must be 11 characters long (fld 2, col 2)\n"
              "     8  The line has 3 columns and takes only 2 (fld 3, col 3)\n"
              "\n"
              "  Totals:\n"
              "     4 entries added\n"
              "     1 entry changed\n"
              "     1 exact duplicate\n"
              "     3 rejected entries\n");
    // The totals are on the screen once: the summary is for a report written to a file.
    EXPECT_EQ(Messages(r.err), "");
    const CliResult toFile = Tables("import", "FILED", "GL", 9, {"--report", (dir / "r.txt").string(), sample});
    const std::string totals = "     4 entries added\n     1 entry changed\n     1 exact duplicate\n     3 rejected entries\n";
    EXPECT_EQ(Messages(toFile.err), totals);
    // After the save's last line, which they count.
    EXPECT_THAT(toFile.err, ::testing::EndsWith("dodedoz: Saving table to disk: 4 of 4 rows saved\n" + totals));
    // The table's options in the words of the options panel.
    EXPECT_THAT(Cli({"tables", "list", "--company", company.string()}).out,
                ::testing::HasSubstr("GL 9 Account: 4 entries (when the new value is blank: use original value; when "
                                     "the old value is not in the table: use original value)\n"));
    // Old and new accounts shown alike, with their separators, as the editor shows them: the
    // lines import back to the same stored rows (exported byte for byte alike).
    const std::string shown = Rows("DEMO", "GL", 9);
    EXPECT_EQ(shown,
              "01-1-10-1000-00,01-1-10-2000-00\n01-1-10-1200-00,01-1-10-1200-00\n01-1-10-1500-00,01-1-10-1500-01\n"
              "01-9-99-9999-00,01-9-90-9999-00\n");
    ASSERT_EQ(Tables("import", "BACK", "GL", 9, {Write("shown.txt", shown)}).status, 0);
    ASSERT_EQ(Tables("export", "DEMO", "GL", 9, {(dir / "demo.txt").string()}).status, 0);
    ASSERT_EQ(Tables("export", "BACK", "GL", 9, {(dir / "back.txt").string()}).status, 0);
    EXPECT_EQ(Slurp(dir / "back.txt"), Slurp(dir / "demo.txt"));
    EXPECT_THAT(Slurp(dir / "demo.txt"), ::testing::HasSubstr("01-1-10-1000-00,01110200000\r\n"));
    // With the options a new table gets by default (old size 11, the account's) the same rows
    // come in whole: the separators an account is written with do not count against the size.
    const CliResult byDefault = Tables("import", "PLAIN", "GL", 9, {sample});
    EXPECT_EQ(byDefault.status, 1) << byDefault.err;
    EXPECT_NE(byDefault.out.find("     4 entries added\n     1 entry changed\n     1 exact duplicate\n"), std::string::npos)
        << byDefault.out;
    EXPECT_EQ(Rows("PLAIN", "GL", 9), Rows("DEMO", "GL", 9));

    // Again: every accepted line is an exact duplicate; another letter case changes the value
    // and keeps the stored old value.
    const CliResult twice = Tables("import", "DEMO", "GL", 9, {sample});
    // (the sample changes one row within itself, so that row changes twice again)
    EXPECT_NE(twice.out.find("     0 entries added\n     2 entries changed\n     4 exact duplicates\n"),
              std::string::npos)
        << twice.out;
    ASSERT_EQ(Tables("import", "AP1", "AP", 6, {Write("v.txt", "Acme,A1\n")}).status, 0);
    const CliResult cased = Tables("import", "AP1", "AP", 6, {Write("w.txt", "ACME,A2\n")});
    EXPECT_NE(cased.out.find("     1 entry changed\n     0 exact duplicates\n     0 rejected entries\n"),
              std::string::npos)
        << cased.out;
    EXPECT_EQ(Rows("AP1", "AP", 6), "Acme,A2\n");
}

// A new value is refused from one character past its column, and taken whole up to it, however
// many bytes its characters take.
TEST_F(TablesCli, ANewValueOneCharacterPastItsColumnIsRefused) {
    // The Vendor table's new values take 10 characters; an accented letter is two bytes.
    std::string accented;
    for (int i = 0; i < 10; ++i) accented += "\xc3\xa9";
    const CliResult r =
        Tables("import", "W", "AP", 6, {Write("w.txt", "A,ABCDEFGHIJK\nB,ABCDEFGHIJ\nC," + accented + "\n")});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_THAT(r.out, ::testing::HasSubstr("     1  New value is too long: 'ABCDEFGHIJK' has 11 characters and 10 are "
                                            "allowed (fld 2, col 2)\n"));
    EXPECT_THAT(r.out, ::testing::HasSubstr("     2 entries added\n"));
    EXPECT_EQ(Rows("W", "AP", 6), "B,ABCDEFGHIJ\nC," + accented + "\n");
}

// A table past 65,535 rows: every row is counted, saved and read back, and a second import
// finds each one again.
TEST_F(TablesCli, ImportOfMoreRowsThanSixteenBitsCount) {
    std::string text;
    constexpr int kRows = 70000;
    for (int i = 0; i < kRows; ++i) text += "V" + std::to_string(100000 + i) + ",N" + std::to_string(i) + "\n";
    const std::string in = Write("big.txt", text);
    const CliResult first = Tables("import", "BIG", "AP", 6, {in});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_THAT(first.out, ::testing::HasSubstr(" 70000 entries added\n"));
    EXPECT_THAT(first.err, ::testing::HasSubstr("70000 of 70000 rows saved"));
    const std::string rows = Rows("BIG", "AP", 6);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), kRows);
    EXPECT_THAT(rows, ::testing::HasSubstr("V169999,N69999\n"));
    const CliResult again = Tables("import", "BIG", "AP", 6, {in});
    EXPECT_THAT(again.out, ::testing::HasSubstr("     0 entries added\n     0 entries changed\n 70000 exact duplicates\n"));
    // A save of the loaded table counts its rows, not past them.
    const CliResult changed = Tables("import", "BIG", "AP", 6, {Write("one.txt", "V169999,CHANGED\n")});
    EXPECT_THAT(changed.err, ::testing::HasSubstr("70000 of 70000 rows saved"));
}

// The count of a save ends on the table's rows, whichever rows were written: the last of 57
// new ones, or one changed in the middle of them.
TEST_F(TablesCli, ASaveCountsToTheTablesLastRow) {
    std::string text;
    for (int i = 1; i <= 57; ++i) text += std::to_string(1000000 + i) + ",X\n";
    const CliResult made = Tables("import", "S", "AP", 6, {Write("t57.txt", text)});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_THAT(made.err, ::testing::HasSubstr("Saving table to disk: 57 of 57 rows saved\n"));
    const CliResult changed = Tables("import", "S", "AP", 6, {Write("one.txt", "1000005,Y\n")});
    EXPECT_THAT(changed.err, ::testing::HasSubstr("Saving table to disk: 57 of 57 rows saved\n"));
}

// A group whose first table is a prefix-A table: a base account is looked up in the group's
// base-account table, never cut into a prefix; one missing from that table stays as it is.
TEST_F(TablesCli, BaseAccountsTakeTheBaseTableWhateverTheGroupsFirstTable) {
    ASSERT_EQ(Tables("import", "MIX", "GL", 9001, {Write("a.txt", "10,20\n")}).status, 0);
    ASSERT_EQ(Tables("import", "MIX", "GL", 9004, {Write("b.txt", "100000,300000\n")}).status, 0);
    const std::string text = Write("g.txt", "#,GLM,xvglm\n6,100000,Cash,1,,,,,,,,\n6,109900,Other,1,,,,,,,,\n");
    const CliResult r = Cli({"convert", "--company", company.string(), "--table", "MIX", text});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const std::string dump = Cli({"dump", "--company", company.string(), "GLM"}).out;
    EXPECT_THAT(dump, ::testing::HasSubstr("R6 BSBASE=\"300000\" BSTITLE=\"Cash\""));
    EXPECT_THAT(dump, ::testing::HasSubstr("R6 BSBASE=\"109900\" BSTITLE=\"Other\""));
}

// A prefix C given as its parts, through a group that holds only a prefix-AB table: the new AB
// part finds its parent prefix records, and the prefix is stored without separators.
TEST_F(TablesCli, AJoinedPrefixCTakesTheNewPrefixABOfItsTable) {
    const fs::path settings = company / "company.toml";
    const std::string toml = Slurp(settings);
    const std::string widened = ReplaceAll(toml, "description = \"Prefix B\", width = 1", "description = \"Prefix B\", width = 2");
    ASSERT_NE(widened, toml);
    Spit(settings, widened);
    ASSERT_EQ(Cli({"load", "--company", company.string(),
                   Write("p.load", "@GLM\nR3 PAPRFX=\"01\"\nR4 PBPRFX=\"0106\" PBALTA=\"01\" PBALTB=\"06\"\n")})
                  .status,
              0);
    ASSERT_EQ(Tables("import", "AB", "GL", 9002, {Write("ab.txt", "0104,0106\n")}).status, 0);
    const std::string text = Write("c.txt", "#,GLM,xvglm\n5P,01,04,05" + std::string(245, ',') + "\n");
    for (const char* command : {"examine", "convert"}) {
        const CliResult r = Cli({command, "--company", company.string(), "--table", "AB", text});
        EXPECT_EQ(r.status, 0) << command << r.out << r.err;
        EXPECT_THAT(r.out + r.err, ::testing::Not(::testing::HasSubstr("(139)")));
    }
    const std::string dump = Cli({"dump", "--company", company.string(), "GLM"}).out;
    EXPECT_THAT(dump, ::testing::HasSubstr("R5 PCPRFX=\"010605\""));
    EXPECT_THAT(dump, ::testing::HasSubstr("PCALTA=\"01\" PCALTB=\"0106\""));
}

TEST_F(TablesCli, LongImportPathIsShownWithoutItsFolders) {
    const fs::path deep = dir / std::string(70, 'd');
    fs::create_directories(deep);
    const std::string file = (deep / "v.txt").string();
    Spit(file, "Acme,A1\n");
    const CliResult r = Tables("import", "AP1", "AP", 6, {file});
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Importing v.txt into 'Vendor' table");
}

TEST_F(TablesCli, UnreadableImportAndBadArguments) {
    EXPECT_EQ(Tables("import", "X", "ZZ", 6, {Write("v.txt", "a,b\n")}).status, 64);
    EXPECT_EQ(Tables("import", "X", "AP", 9, {Write("v.txt", "a,b\n")}).status, 64);  // 9 is not an AP field
    EXPECT_EQ(Tables("import", "X", "AP", 6, {(dir / "missing.txt").string()}).status, 64);
    EXPECT_EQ(Tables("export", "NOPE", "AP", 6, {(dir / "e.txt").string()}).status, 64);
    // An old-value size, when given, is 1 to 40: 0 is refused like 41.
    for (const char* size : {"0", "41"}) {
        const CliResult r = Tables("import", "X", "AP", 6, {"--old-size", size, Write("v.txt", "a,b\n")});
        EXPECT_EQ(r.status, 64) << size;
        EXPECT_THAT(r.err, ::testing::HasSubstr("--old-size")) << size;
    }
    EXPECT_FALSE(fs::exists(dir / "e.txt"));
}

// A group name longer than a group name holds is refused with the limit, never saved under its
// first characters; a look at it says the same, not that it does not exist.
TEST_F(TablesCli, AGroupNameTooLongIsRefusedWithItsLimitAndNothingIsSaved) {
    const std::string name(5000, 'G');
    const CliResult imported = Tables("import", name, "AP", 6, {Write("v.txt", "a,b\n")});
    EXPECT_EQ(imported.status, 64);
    EXPECT_THAT(imported.err, ::testing::HasSubstr("it has 5000 characters and a table group name holds at most 80"));
    EXPECT_THAT(Cli({"tables", "list", "--company", company.string()}).out, ::testing::HasSubstr("No table groups"));
    // A group of its first 80 characters is not the one named.
    ASSERT_EQ(Tables("import", name.substr(0, 80), "AP", 6, {Write("v.txt", "a,b\n")}).status, 0);
    for (const char* verb : {"show", "export"}) {
        std::vector<std::string> args{"tables", verb, "--company", company.string(), name};
        if (std::string(verb) == "export") args.insert(args.end(), {"--app", "AP", "--field", "6", (dir / "e.txt").string()});
        const CliResult r = Cli(args);
        EXPECT_EQ(r.status, 64) << verb;
        EXPECT_THAT(r.err, ::testing::HasSubstr("holds at most 80")) << verb;
    }
    EXPECT_FALSE(fs::exists(dir / "e.txt"));
}

// A custom list's default longer than the table's new value holds is never stored cut: an
// imported row that would take it is rejected with the limit, and a prefill, whose every row
// would take it, is refused before anything is read or saved.
TEST_F(TablesCli, AListDefaultTooLongForTheNewValueIsRefusedWithItsLimitAndNothingIsStored) {
    dz::suite::CompanySettings s = dz::suite::read_settings(company / "company.toml");
    s.lists[262].default_value = std::string(50, 'L');
    dz::suite::write_settings(company / "company.toml", s);
    const std::string limit = "it has 50 characters and a new value of this table holds at most 15";
    const CliResult imported = Tables("import", "G", "TL", 262, {Write("v.txt", "a,\nb,Safety\n")});
    EXPECT_EQ(imported.status, 1);
    EXPECT_THAT(imported.out, ::testing::HasSubstr(limit));
    EXPECT_EQ(Rows("G", "TL", 262), "b,Safety\n");
    const CliResult prefilled = Tables("prefill", "P", "TL", 262, {Write("p.txt", "x\n")});
    EXPECT_EQ(prefilled.status, 2);
    EXPECT_THAT(prefilled.err, ::testing::HasSubstr(limit));
    EXPECT_THAT(Cli({"tables", "list", "--company", company.string()}).out, ::testing::Not(::testing::HasSubstr("P\n")));
}

// A group name is held by its characters, not its bytes: 50 accented letters (100 bytes) are
// within the limit and kept whole.
TEST_F(TablesCli, AGroupNameOfAccentedLettersWithinTheLimitIsKeptWhole) {
    std::string name;
    for (int i = 0; i < 50; ++i) name += "\xc3\x89";  // É
    ASSERT_EQ(Tables("import", name, "AP", 6, {Write("v.txt", "a,b\n")}).status, 0);
    EXPECT_EQ(Rows(name, "AP", 6), "a,B\n");
}

// A C1 control in a group name is refused as one whether written in UTF-8 or as the lone byte
// an eight-bit terminal acts on; nothing is saved under either. The refusal ends the command as
// a usage error, said as the command's own, never as a warning.
TEST_F(TablesCli, AC1ControlInAGroupNameIsRefusedInEitherForm) {
    for (const std::string name : {"G\xc2\x85X", "G\x85X", "G\x01"}) {
        for (const char* verb : {"import", "prefill"}) {
            const CliResult r = Tables(verb, name, "AP", 6, {Write("v.txt", "a,b\n")});
            EXPECT_EQ(r.status, 64) << verb << r.err;
            EXPECT_THAT(r.err, ::testing::StartsWith(std::string("dodedoz-cli: tables ") + verb + ": '"));
            EXPECT_THAT(r.err, ::testing::HasSubstr("it holds a control character ("));
            EXPECT_THAT(r.err, ::testing::Not(::testing::HasSubstr("warning")));
        }
    }
    EXPECT_EQ(Cli({"tables", "list", "--company", company.string()}).out, "No table groups\n");
}

// A table text that is not all UTF-8 is read as Windows-1252, with or without a UTF-8 byte-order
// mark before it, and said so as a conversion says it.
TEST_F(TablesCli, ATableTextReadAsWindows1252IsSaidToBe) {
    for (const std::string bom : {"", "\xef\xbb\xbf"}) {
        const CliResult r = Tables("import", "W", "AP", 6, {Write("w.txt", bom + "a,b\nCaf\xe9,c\n")});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_THAT(r.err, ::testing::HasSubstr("dodedoz: <DIR>/w.txt is not all UTF-8, so it was read as "
                                                "Windows-1252: line 2 is the first that is not valid UTF-8.\n"));
    }
    EXPECT_THAT(Rows("W", "AP", 6), ::testing::HasSubstr("Caf\xc3\xa9,C\n"));
}

// A line with no old value (",," among them) is rejected with its line number, never counted as
// an entry already in the table.
TEST_F(TablesCli, ALineOfNoValuesIsRejectedNeverADuplicate) {
    const CliResult r = Tables("import", "G", "AP", 6, {Write("v.txt", ",,\nA,1\n,x\n")});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_THAT(r.out, ::testing::HasSubstr("     1  The line holds no values, and an entry needs an old value"));
    // A new value without an old one changes nothing and counts among the duplicates.
    EXPECT_THAT(r.out, ::testing::HasSubstr("     1 exact duplicate\n     1 rejected entry"));
    EXPECT_EQ(Rows("G", "AP", 6), "A,1\n");
}

// A FIFO, a folder or a device named as a file to read: refused at once, saying what it is.
TEST_F(TablesCli, FilesThatAreNotFilesAreRefusedByEveryCommandThatReads) {
    const fs::path fifo = dir / "fifo.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directories(dir / "folder.txt");
    const std::vector<std::pair<fs::path, std::string>> cases{
        {fifo, "is a FIFO"}, {dir / "folder.txt", "is a folder"}, {"/dev/zero", "is a device"}};
    for (const auto& [path, what] : cases) {
        SCOPED_TRACE(path.string());
        const CliResult load = Cli({"load", "--company", company.string(), path.string()});
        EXPECT_EQ(load.status, 2);
        EXPECT_THAT(load.err, ::testing::HasSubstr(what));
        for (const char* verb : {"import", "prefill"}) {
            const CliResult r = Tables(verb, "G", "AP", 6, {path.string()});
            EXPECT_EQ(r.status, 2) << verb;
            EXPECT_THAT(r.err, ::testing::HasSubstr(what)) << verb;
        }
    }
}

TEST_F(TablesCli, PrefillFromTheGlMasterSample) {
    const std::string glm = CopySample("glm/demo-gl-master.txt", "glm.txt");
    const std::string glm2 = CopySample("glm/demo-gl-master.txt", "glm2.txt");
    // The default old size is the account's 11 characters; the separators they are written with
    // do not count, so every account of the sample fits, whole.
    const CliResult fits = Tables("prefill", "DEFAULT", "GL", 9, {glm});
    EXPECT_EQ(fits.status, 0) << fits.err;
    EXPECT_EQ(fits.out, "18 rows added\n");
    // The save says it is saving, and how many rows it saved: not one line a row.
    EXPECT_THAT(fits.err, ::testing::HasSubstr("dodedoz: Saving table to disk\ndodedoz: Saving table to disk: 18 of "));
    EXPECT_EQ(std::count(fits.err.begin(), fits.err.end(), '\n'), 2) << fits.err;
    EXPECT_EQ(Rows("DEFAULT", "GL", 9).substr(0, 16), "01-1-10-1000-00,");
    // One character less and every account is too long: one message per file, naming the first.
    const CliResult small = Tables("prefill", "SMALL", "GL", 9, {"--old-size", "10", glm, glm2});
    EXPECT_EQ(small.status, 0) << small.err;
    const std::string tooLong = "dodedoz: warning: Some values were too long and not prefilled.\n\nFor example "
                                "'01-1-10-1000-00' in\n<DIR>/glm";
    EXPECT_NE(Messages(small.err).find(tooLong + ".txt\nhas 11 characters and the maximum allowed is 10.\n"),
              std::string::npos)
        << small.err;
    EXPECT_NE(Messages(small.err).find(tooLong + "2.txt\nhas 11 characters"), std::string::npos) << small.err;
    EXPECT_NE(small.err.find("No unique values found to prefill."), std::string::npos);
    EXPECT_EQ(small.out, "0 rows added\n");

    // Accounts come with section 8 (as typed): they fill an account table of size 40.
    const CliResult big = Tables("prefill", "BIG", "GL", 9, {"--old-size", "40", glm});
    EXPECT_EQ(big.status, 0) << big.err;
    EXPECT_EQ(big.out, "18 rows added\n");
    EXPECT_EQ(Rows("BIG", "GL", 9).substr(0, 33), "01-1-10-1000-00,\n01-1-10-1200-00,");
    const CliResult second = Tables("prefill", "BIG", "GL", 9, {glm});
    EXPECT_EQ(second.out, "0 rows added\n");
    EXPECT_NE(second.err.find("No unique values found to prefill."), std::string::npos);

    // Prefix and base tables take the values of their own section only.
    const CliResult prefix = Tables("prefill", "BIG", "GL", 9003, {"--old-size", "40", glm});
    EXPECT_EQ(prefix.status, 0) << prefix.err;
    EXPECT_EQ(Rows("BIG", "GL", 9003), "01-1-10,\n01-1-20,\n01-2-10,\n");
    ASSERT_EQ(Tables("prefill", "BIG", "GL", 9001, {"--old-size", "40", glm}).status, 0);
    EXPECT_EQ(Rows("BIG", "GL", 9001), "01,\n");
}

// A prefill whose text a check refuses fails as a file that cannot be read does: alone or
// beside a text it reads, skipped or ending the run; it says nothing found only of what it read.
TEST_F(TablesCli, APrefillWhoseTextIsRefusedFails) {
    const std::string bad = Write("bad.txt", "garbage first line\n1,2,3\n");
    const std::string glm = CopySample("glm/demo-gl-master.txt", "glm.txt");
    const CliResult alone = Tables("prefill", "A", "GL", 9, {bad});
    EXPECT_EQ(alone.status, 2);
    EXPECT_THAT(alone.err, ::testing::HasSubstr("does not start with a number sign"));
    EXPECT_THAT(alone.err, ::testing::HasSubstr("dodedoz-cli: tables prefill: a text file check ended the run: "
                                                "nothing is prefilled\n"));
    EXPECT_THAT(alone.err, ::testing::Not(::testing::HasSubstr("No unique values")));
    EXPECT_EQ(alone.out, "");
    const CliResult beside = Tables("prefill", "B", "GL", 9, {bad, glm});
    EXPECT_EQ(beside.status, 2);
    EXPECT_EQ(beside.out, "18 rows added\n");
    const CliResult ended = Tables("prefill", "C", "GL", 9, {"--on-error", "end", bad, glm});
    EXPECT_EQ(ended.status, 2);
    EXPECT_EQ(ended.out, "");
    EXPECT_EQ(Cli({"tables", "list", "--company", company.string()}).out.find("\nC\n"), std::string::npos);
}

// A prefill of a text read as Windows-1252 says so as a conversion does; its too-long values
// are told in the command line's words; an import's report file says how its text was read.
TEST_F(TablesCli, APrefillSaysATextReadAsWindows1252AndTheCommandLinesWayToALargerSize) {
    const std::string sample = Slurp(kSamples / "glm" / "demo-gl-master.txt");
    const std::string text = Write("cp.txt", sample.substr(0, sample.find('\n') + 1) + "# Caf\xe9\r\n" +
                                                 sample.substr(sample.find('\n') + 1));
    const CliResult r = Tables("prefill", "P", "GL", 9, {"--old-size", "5", text});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, ::testing::HasSubstr("dodedoz: <DIR>/cp.txt is not all UTF-8, so it was read as Windows-1252: "
                                            "line 2 is the first that is not valid UTF-8.\n"));
    EXPECT_THAT(r.err, ::testing::HasSubstr("takes its old value size from --old-size"));
    EXPECT_THAT(r.err, ::testing::Not(::testing::HasSubstr("options button")));
    const CliResult imported = Tables("import", "I", "AP", 6, {"--report", (dir / "r.txt").string(),
                                                               Write("w.txt", "Caf\xe9,c\n")});
    EXPECT_EQ(imported.status, 0) << imported.err;
    EXPECT_THAT(Slurp(dir / "r.txt"), ::testing::HasSubstr("w.txt is not all UTF-8, so it was read as Windows-1252"));
}

TEST_F(TablesCli, AGroupOfNonGlTablesMadeHereServesAConversion) {
    ASSERT_EQ(Tables("import", "PRONLY", "PR", 28, {Write("p.txt", "A,B\n")}).status, 0);
    const std::string glm = CopySample("glm/demo-gl-master.txt", "glm.txt");
    const CliResult r = Cli({"examine", "--company", company.string(), "--table", "pronly", glm});
    EXPECT_THAT(r.err, ::testing::Not(::testing::HasSubstr("there is no table group")));
    EXPECT_NE(r.status, 2) << r.err;
}

TEST_F(TablesCli, PrefillOfAFileOfATypeNotBuiltReadsTheOthers) {
    const std::string glm = CopySample("glm/demo-gl-master.txt", "glm.txt");
    const std::string other = Write("ar.txt", "#,ARC,xvarc\n1,CUST\n");
    const CliResult r = Tables("prefill", "BIG", "GL", 9, {"--old-size", "40", other, glm});
    EXPECT_EQ(r.out, "18 rows added\n") << r.err;
}

TEST_F(TablesCli, DerivedAccountsFromPrefixAndBaseTables) {
    ASSERT_EQ(Tables("import", "G", "GL", 9004, {Write("b.txt", "100000,200000\n")}).status, 0);
    ASSERT_EQ(Tables("import", "G", "GL", 9003, {Write("p.txt", "01110,\n01120,\n")}).status, 0);
    // Rows on file: one blank (derived and, being modified, saved) and one filled (kept).
    ASSERT_EQ(Tables("import", "G", "GL", 9, {"--old-size", "40", Write("a.txt", "01110100000,\n01120100000,01120500000\n")})
                  .status,
              0);
    const std::string glm = CopySample("glm/demo-gl-master.txt", "glm.txt");
    const CliResult r = Tables("prefill", "G", "GL", 9, {glm});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string rows = Rows("G", "GL", 9);
    EXPECT_NE(rows.find("01110100000,01-1-10-2000-00\n"), std::string::npos) << rows;
    EXPECT_NE(rows.find("01120100000,01-1-20-5000-00\n"), std::string::npos) << rows;
    // Formatted accounts of the sample match no base ending: left blank.
    EXPECT_NE(rows.find("01-1-10-1000-00,\n"), std::string::npos) << rows;
}

TEST_F(TablesCli, TableHeldByAnotherProcess) {
    ASSERT_EQ(Tables("import", "AP1", "AP", 6, {Write("v.txt", "Acme,A1\n")}).status, 0);
    // This process holds the table as the editor does; dodedoz-cli is another process.
    dz::suite::open_company(company.string());
    dz::tables::SubstitutionMasterFile holder(4010);
    ASSERT_GT(holder.handle(), 0);
    ASSERT_TRUE(holder.OpenForEdit("AP1", dz::tables::kApplAP + 1, 6, false, 0, 65535, 0, 0, false, false));
    const CliResult r = Tables("import", "AP1", "AP", 6, {Write("w.txt", "Acme,A2\nNew,N1\n")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Another user is currently modifying this table."), std::string::npos) << r.err;
    const CliResult p = Tables("prefill", "AP1", "AP", 6, {CopySample("glm/demo-gl-master.txt", "glm.txt")});
    EXPECT_EQ(p.status, 2);
    holder.ReleaseDefinition(false);
    holder.Close();
    EXPECT_EQ(Rows("AP1", "AP", 6), "Acme,A1\n");  // the refused import wrote nothing
}

// An import killed at any of its syncs (just before or just after each, as a power cut would
// stop it) leaves the group as it was before the import or as the import made it, never a group
// without its table; a stop before the commit is taken back by the next writing command.
TEST_F(TablesCli, AnImportKilledAtAnyOfItsSyncsLeavesTheGroupBeforeOrAfter) {
    ASSERT_EQ(Tables("import", "OTHER", "AP", 6, {Write("v.txt", "Acme,A1\n")}).status, 0);
    const std::string sample = CopySample("tables/demo-account-table.txt", "t.txt");
    const std::string empty = Write("empty.load", "");
    const fs::path base = dir / "base";
    fs::copy(company, base, fs::copy_options::recursive);
    auto list = [&] { return Cli({"tables", "list", "--company", company.string()}); };
    const std::string before = list().out;
    ASSERT_EQ(Tables("import", "DEMO", "GL", 9, {sample}).status, 1);
    const std::string after = list().out;
    ASSERT_THAT(after, ::testing::HasSubstr("DEMO\n  GL 9 Account: 4 entries"));
    int point = 1;
    for (;; ++point) {
        SCOPED_TRACE("killed at point " + std::to_string(point));
        fs::remove_all(company);
        fs::copy(base, company, fs::copy_options::recursive);
        std::vector<std::string> args{"tables", "import", "--company", company.string(), "DEMO", "--app", "GL",
                                      "--field", "9", sample};
        const CliResult killed = RunCli(args, dir, {{"LD_PRELOAD", DZ_KILL_AT_SYNC_LIB},
                                                    {"DZ_KILL_AT_SYNC", std::to_string(point)}});
        if (killed.status == 1) break;  // ran to its end: no sync left to stop at
        // A look either refuses the stopped write with its words or sees a whole state.
        const CliResult look = list();
        if (look.status != 0) EXPECT_THAT(look.err, ::testing::HasSubstr("left in the middle of a write"));
        else EXPECT_THAT(look.out, ::testing::AnyOf(before, after));
        ASSERT_EQ(Cli({"load", "--company", company.string(), empty}).status, 0);
        EXPECT_THAT(list().out, ::testing::AnyOf(before, after));
    }
    EXPECT_GT(point, 4) << "the import was never stopped at a sync";
}

// An import that keeps no row (every line rejected) makes no group, and leaves a table on file
// as it was.
TEST_F(TablesCli, AnImportThatKeepsNoRowMakesNoGroup) {
    const CliResult r = Tables("import", "DEMO", "GL", 9, {Write("bad.txt", "01-1-10-2000-00,ZZZZ\n")});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_THAT(r.out, ::testing::HasSubstr("     1 rejected entry"));
    EXPECT_EQ(Cli({"tables", "list", "--company", company.string()}).out, "No table groups\n");
}

// A report that cannot be written (a device that takes nothing) is said with the device's own
// answer and named as the device it is, apart from the table, which was saved.
TEST_F(TablesCli, AReportThatCannotBeWrittenIsSaidApartFromTheSavedTable) {
    const CliResult r = Tables("import", "G", "AP", 6, {"--report", "/dev/full", Write("v.txt", "Acme,A1\n")});
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, ::testing::HasSubstr("the table was saved, but the report could not be written to /dev/full: "
                                            "No space left on device; /dev/full is a device, not a file on a disk, "
                                            "and takes no more: give another report file with --report"));
    EXPECT_THAT(r.err, ::testing::HasSubstr("     1 entry added\n"));  // the totals, on the screen once
    EXPECT_EQ(Rows("G", "AP", 6), "Acme,A1\n");
    const CliResult again = Tables("import", "G", "AP", 6, {"--report", "/dev/full", (dir / "v.txt").string()});
    EXPECT_THAT(again.err, ::testing::HasSubstr("the table is unchanged, and the report could not be written"));
}

// A control character in a custom list's default is refused where the settings are read, said
// as one, before any table takes it.
TEST_F(TablesCli, AControlCharacterInAListDefaultIsSaidAsOne) {
    const fs::path settings = company / "company.toml";
    const std::string toml = Slurp(settings);
    const std::string planted = ReplaceAll(toml, "default = \"General\"", "default = \"Gen\\u001Beral\"");
    ASSERT_NE(planted, toml);
    Spit(settings, planted);
    const CliResult r = Tables("import", "G", "TL", 262, {Write("v.txt", "a,\n")});
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, ::testing::HasSubstr("default' (line "));
    EXPECT_THAT(r.err, ::testing::HasSubstr("expected a text without control characters; it holds the control "
                                            "character \\033"));
    EXPECT_EQ(Slurp(settings), planted);
}

// A save that fails on a full disk is said in the command line's words (run the command again,
// nothing kept in any editor), and the report's totals count no row as added: none was kept.
TEST_F(TablesCli, ASaveOnAFullDiskSaysTheCommandsStepAndCountsNothingAsAdded) {
    std::string rows;
    for (int i = 0; i < 20000; ++i) rows += "V" + std::to_string(100000 + i) + ",N" + std::to_string(i) + "\n";
    const std::string in = Write("big.txt", rows);
    std::uintmax_t used = 0;
    for (const auto& e : fs::directory_iterator(company)) used += e.is_regular_file() ? e.file_size() : 0;
    const int result = dz::testing_support::OnSmallDisk(company, static_cast<int>(used / 1024) + 256, [&] {
        const CliResult r = Tables("import", "BIG", "AP", 6, {"--old-size", "20", in});
        EXPECT_EQ(r.status, 2);
        EXPECT_THAT(r.err, ::testing::HasSubstr("The table was not saved: <DIR>/co/MASTER.XVM cannot be written: "
                                                "the disk holding it is full."));
        EXPECT_THAT(r.err, ::testing::HasSubstr("Next: free space on the disk holding <DIR>/co/MASTER.XVM, then run "
                                                "the command again"));
        EXPECT_THAT(r.err, ::testing::Not(::testing::HasSubstr("editor")));
        EXPECT_THAT(r.out, ::testing::HasSubstr("Totals: the table was not saved, and nothing of this file was kept\n"
                                                " 20000 new entries not saved\n"));
        EXPECT_THAT(r.out, ::testing::Not(::testing::HasSubstr("added")));
        EXPECT_EQ(Cli({"tables", "list", "--company", company.string()}).out, "No table groups\n");
        // A prefill whose save finds the disk full counts its rows as not saved.
        {
            std::ofstream filler(company / "filler", std::ios::binary);
            const std::string block(4096, 'x');
            while (filler.write(block.data(), block.size()) && filler.flush()) {
            }
        }
        const CliResult p = Tables("prefill", "P", "GL", 9, {CopySample("glm/demo-gl-master.txt", "glm.txt")});
        EXPECT_EQ(p.status, 2);
        EXPECT_EQ(p.out, "18 new rows not saved\n");
        EXPECT_THAT(p.err, ::testing::HasSubstr("then run the command again"));
        return true;
    });
    if (result == 77) GTEST_SKIP() << "no small disk can be made here (no mount namespace)";
    EXPECT_EQ(result, 0);
}

}  // namespace
