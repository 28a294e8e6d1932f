// Data files from someone else, through dodedoz-cli: a shared company whose files were crafted
// to run SQL against another company's files, an older data file that a look must not upgrade,
// a company folder whose name reads like a URI, and a table file that cannot be opened.
#include "cli_support.h"
#include "as_user.h"
#include "hold_flock.h"
#include "socket_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sqlite3.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace dz::cli::testing;

const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples" / "glm";
const std::string kNow = "2026-12-06 14:30:00";

// The first record table of a data file and its first column.
std::pair<std::string, std::string> FirstColumn(const fs::path& file) {
    std::pair<std::string, std::string> out;
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name LIKE 'r%' ORDER BY name", -1, &st,
                       nullptr);
    if (st && sqlite3_step(st) == SQLITE_ROW) out.first = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    sqlite3_prepare_v2(db, ("PRAGMA table_info(" + out.first + ")").c_str(), -1, &st, nullptr);
    if (st && sqlite3_step(st) == SQLITE_ROW) out.second = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
}

const char* kVersionBack = "UPDATE dz_meta SET value = CAST(value AS INTEGER) - 1 WHERE name = 'dictionary'";

class SecurityCli : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch.path().empty());
        for (const fs::path& co : {shared, priv}) {
            const CliResult init = Cli({"company", "init", co.string()});
            ASSERT_EQ(init.status, 0) << init.err;
        }
        fs::copy_file(kSamples / "demo-gl-master.txt", text);
    }

    CliResult Cli(const std::vector<std::string>& args) { return RunCli(args, dir, {{"DODEDOZ_NOW", kNow}}); }
    CliResult Look(const std::string& command, const fs::path& co, const std::string& textFile) {
        return Cli({command, "--company", co.string(), "--report", (dir / "report.txt").string(), "--notes",
                    (dir / "notes.txt").string(), textFile});
    }

    // A data file of the shared company whose upgrade, as it was once written, attached
    // `victim` and wrote into it: an index name carrying statements after a ';'.
    void Craft(const fs::path& file, const fs::path& victim) {
        const auto [table, column] = FirstColumn(file);
        ASSERT_FALSE(column.empty()) << file;
        const std::string payload = "dzk_decoy;COMMIT;ATTACH '" + victim.string() +
                                    "' AS e;CREATE TABLE e.stolen(x);DELETE FROM e.h1;BEGIN;--";
        ASSERT_TRUE(Sql(file, {kVersionBack,
                               "CREATE INDEX \"" + payload + "\" ON " + table + "(\"" + column + "\")",
                               "CREATE INDEX dzk_decoy ON " + table + "(\"" + column + "\")"}));
    }

    ScratchFolder scratch;
    fs::path dir = scratch.path(), shared = dir / "shared", priv = dir / "private", text = dir / "gl.txt";
};

TEST_F(SecurityCli, CraftedIndexNamesRunNothingAgainstAnotherCompany) {
    // The private company has accounts to lose.
    // (1: the demo has lines that are rejected; 2 would be a failure.)
    ASSERT_EQ(Look("convert", priv, text.string()).status, 1);
    const fs::path victimGl = priv / "MASTER.GLM", victimXvm = priv / "MASTER.XVM";
    Craft(shared / "MASTER.GLM", victimGl);
    Craft(shared / "MASTER.XVM", victimXvm);
    const std::string gl = Slurp(victimGl), xvm = Slurp(victimXvm);
    const std::string sharedGl = Slurp(shared / "MASTER.GLM"), sharedXvm = Slurp(shared / "MASTER.XVM");
    ASSERT_FALSE(gl.empty());

    fs::copy_file(kSamples / "demo-gl-master.txt", dir / "gl2.txt");
    Look("examine", shared, (dir / "gl2.txt").string());
    Cli({"dump", "--company", shared.string(), "GLM"});
    Cli({"dump", "--company", shared.string(), "XVM"});
    Cli({"tables", "list", "--company", shared.string()});
    // The looks changed nothing, in either company.
    EXPECT_TRUE(Slurp(shared / "MASTER.GLM") == sharedGl);
    EXPECT_TRUE(Slurp(shared / "MASTER.XVM") == sharedXvm);
    EXPECT_TRUE(Slurp(victimGl) == gl);
    EXPECT_TRUE(Slurp(victimXvm) == xvm);

    // A conversion upgrades the shared file, harmlessly.
    const CliResult conv = Look("convert", shared, (dir / "gl2.txt").string());
    EXPECT_EQ(conv.status, 1) << conv.err;
    EXPECT_TRUE(Slurp(victimGl) == gl);
    EXPECT_TRUE(Slurp(victimXvm) == xvm);
    const CliResult dump = Cli({"dump", "--company", shared.string(), "GLM"});
    EXPECT_EQ(dump.status, 0) << dump.err;
    EXPECT_NE(dump.out.find("R1 "), std::string::npos);
}

TEST_F(SecurityCli, ExamineAndDumpReadAnOlderFileWithoutUpgradingIt) {
    const fs::path gl = shared / "MASTER.GLM";
    const std::string current = Slurp(gl);
    ASSERT_TRUE(Sql(gl, {kVersionBack}));
    const std::string older = Slurp(gl);

    const CliResult examined = Look("examine", shared, text.string());
    EXPECT_EQ(examined.status, 1) << examined.err;  // the demo's rejected lines
    const std::string reportOlder = Slurp(dir / "report.txt");
    const CliResult dumped = Cli({"dump", "--company", shared.string(), "GLM"});
    EXPECT_EQ(dumped.status, 0) << dumped.err;
    EXPECT_TRUE(Slurp(gl) == older);  // byte for byte: not upgraded, not written

    // The same file at the current version gives the same report and dump.
    Spit(gl, current);
    EXPECT_EQ(Look("examine", shared, text.string()).status, 1);
    EXPECT_TRUE(Slurp(dir / "report.txt") == reportOlder);
    EXPECT_EQ(Cli({"dump", "--company", shared.string(), "GLM"}).out, dumped.out);
    EXPECT_FALSE(reportOlder.empty());
}

TEST_F(SecurityCli, ACompanyFolderNamedLikeAUriIsAFolder) {
    // Relative to the working folder, which RunCli does not change: run through the shell in dir.
    const std::string cmd = "cd " + ShellWord(dir.string()) + " && " + ShellWord(DZ_CLI_BIN) +
                            " company init file:co >/dev/null 2>" + ShellWord((dir / "err.txt").string());
    const int rc = std::system(cmd.c_str());
    EXPECT_EQ(rc, 0) << Slurp(dir / "err.txt");
    EXPECT_TRUE(fs::exists(dir / "file:co" / "MASTER.GLM"));
    EXPECT_FALSE(fs::exists(dir / "co"));
}

TEST_F(SecurityCli, TablesListSaysWhyTheTableFileCannotBeOpened) {
    Spit(shared / "MASTER.XVM", "not a data file at all");
    const CliResult r = Cli({"tables", "list", "--company", shared.string()});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("MASTER.XVM cannot be opened"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("is either an old version or corrupt"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("JCM"), std::string::npos) << r.err;
}

// A company this user may not write in: a conversion is refused saying so, not as if another
// user held its files, while Examine Files, which writes nothing, still runs.
TEST_F(SecurityCli, AReadOnlyCompanyFolderIsSaidToBeOneAndCanStillBeExamined) {
    // Folder permissions do not bind root: then the runs go as user nobody, who owns the
    // company's files but may not write in its folder.
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chmod(dir.c_str(), 0777), 0);
        for (const auto& entry : fs::directory_iterator(shared)) ASSERT_EQ(::chown(entry.path().c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown(shared.c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(::chmod(shared.c_str(), 0555), 0);
    auto run = [&](const std::string& command) {
        return RunShell("DODEDOZ_NOW=" + ShellWord(kNow) + " " +
                        (root ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") + ShellWord(DZ_CLI_BIN) +
                        " " + command + " --company " + ShellWord(shared.string()) + " --report " +
                        ShellWord((dir / (command + ".txt")).string()) + " " + ShellWord(text.string()) +
                        " </dev/null 2>&1");
    };
    const CliResult converted = run("convert");
    const CliResult examined = run("examine");
    ::chmod(shared.c_str(), 0755);
    // The program's own files (its screens and templates) must be readable by the user it runs as.
    if (root && examined.out.find("the program could not start") != std::string::npos)
        GTEST_SKIP() << "user nobody cannot read the program's own files here: " << examined.out;
    EXPECT_NE(converted.status, 0);
    EXPECT_THAT(converted.out, ::testing::HasSubstr("GL Master file cannot be written: you do not have permission"));
    EXPECT_THAT(converted.out, ::testing::Not(::testing::HasSubstr("another user")));
    EXPECT_EQ(examined.status, 1) << examined.out;  // the demo's rejected lines
}

// A user who may read a company but not write it looks at it: `dump`, `tables list` and `tables
// show` read it with the data files' own read permission; nothing is "in use" or "read-only".
TEST_F(SecurityCli, AReaderWhoMayNotWriteACompanyLooksAtIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to look as another user";
    DZ_SKIP_UNLESS_OTHERS_REACH(DZ_CLI_BIN);
    ASSERT_LE(Look("convert", shared, text.string()).status, 1);
    Spit(dir / "t.txt", "A,B\n");
    const CliResult imported =
        Cli({"tables", "import", "--company", shared.string(), "GLSUB", "--app", "AP", "--field", "6", (dir / "t.txt").string()});
    ASSERT_EQ(imported.status, 0) << imported.out << imported.err;
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    ASSERT_EQ(RunShell("chmod -R u+rwX,go=rX " + ShellWord(shared.string())).status, 0);
    for (const std::string& look : {"dump --company " + ShellWord(shared.string()) + " GLM",
                                    "tables list --company " + ShellWord(shared.string()),
                                    "tables show --company " + ShellWord(shared.string()) + " GLSUB"}) {
        const CliResult r = RunShell("setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=/tmp " +
                                     ShellWord(DZ_CLI_BIN) + " " + look + " </dev/null 2>&1");
        if (r.out.find("the program could not start") != std::string::npos) GTEST_SKIP() << r.out;
        EXPECT_EQ(r.status, 0) << look << "\n" << r.out;
        EXPECT_THAT(r.out, ::testing::Not(::testing::HasSubstr("in use"))) << look;
        EXPECT_THAT(r.out, ::testing::Not(::testing::HasSubstr("read-only"))) << look;
    }
    const CliResult dumped = RunShell("setpriv --reuid=65534 --regid=65534 --clear-groups " + ShellWord(DZ_CLI_BIN) +
                                      " dump --company " + ShellWord(shared.string()) + " GLM 2>/dev/null");
    EXPECT_THAT(dumped.out, ::testing::HasSubstr("\nR"));  // its records
    // Only where the file itself cannot be read does a look say so.
    ASSERT_EQ(::chmod((shared / "MASTER.GLM").c_str(), 0600), 0);
    const CliResult unread = RunShell("setpriv --reuid=65534 --regid=65534 --clear-groups " + ShellWord(DZ_CLI_BIN) +
                                      " dump --company " + ShellWord(shared.string()) + " GLM 2>&1");
    EXPECT_NE(unread.status, 0);
    EXPECT_THAT(unread.out, ::testing::HasSubstr("MASTER.GLM cannot be read: you do not have permission"));
}

// The same reader's writing commands are each told the file cannot be written, with the step to
// be given write permission: never that it is in use, nor a bare "read-only".
TEST_F(SecurityCli, EveryWritingCommandOfAReaderSaysTheFileCannotBeWrittenWithTheStep) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to run as another user";
    DZ_SKIP_UNLESS_OTHERS_REACH(DZ_CLI_BIN);
    Spit(dir / "t.txt", "A,B\n");
    Spit(dir / "g1.load", "@GLM\nR1 AACCT=\"01999900000\" ATITLE=\"Test\"\n");
    // A run stored by the company's owner, replayed by the reader.
    ASSERT_EQ(Cli({"convert", "--company", shared.string(), "--store", text.string()}).status, 0);
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    ASSERT_EQ(RunShell("chmod -R u+rwX,go=rX " + ShellWord(shared.string())).status, 0);
    const std::string co = " --company " + ShellWord(shared.string()) + " ";
    const std::string xvm = (shared / "MASTER.XVM").string(), glm = (shared / "MASTER.GLM").string();
    const std::pair<std::string, std::string> runs[] = {
        {"tables import" + co + "G3 --app GL --field 9 " + ShellWord((dir / "t.txt").string()), xvm},
        {"tables prefill" + co + "G3 --app GL --field 9 " + ShellWord(text.string()), xvm},
        {"load" + co + ShellWord((dir / "g1.load").string()), glm},
        {"examine" + co + "--report /dev/null " + ShellWord(text.string()), glm},
        {"convert" + co + "--report /dev/null " + ShellWord(text.string()), glm},
        {"replay" + co + "convert", glm},
        {"run" + co + "--background convert", glm},
    };
    for (const auto& [command, file] : runs) {
        const CliResult r = RunShell("setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=/tmp " +
                                     ShellWord(DZ_CLI_BIN) + " " + command + " </dev/null 2>&1");
        if (r.out.find("the program could not start") != std::string::npos) GTEST_SKIP() << r.out;
        EXPECT_EQ(r.status, 2) << command << "\n" << r.out;
        EXPECT_THAT(r.out, ::testing::HasSubstr("cannot be written: you do not have permission to change it or the "
                                                "folder it is in")) << command;
        EXPECT_THAT(r.out, ::testing::HasSubstr("Next: ask an administrator, or the owner of " + file +
                                                ", for leave to write it and its folder, then run the command again"))
            << command;
        EXPECT_THAT(r.out, ::testing::Not(::testing::HasSubstr("in use"))) << command;
        EXPECT_THAT(r.out, ::testing::Not(::testing::HasSubstr("read-only"))) << command;
        EXPECT_THAT(r.out, ::testing::Not(::testing::HasSubstr("Unable to find an open"))) << command;
        // Why a prefill, which writes nothing to the data file, needs leave to write it: said by it alone.
        if (!command.starts_with("tables prefill")) {
            EXPECT_THAT(r.out, ::testing::Not(::testing::HasSubstr("A prefill reads its text file"))) << command;
        }
    }
}

// A failed conversion puts its data file back with the file's access list, owner and group: root's
// put-back as the file was (a user's entry kept, the group gaining nothing); a member's keeps what
// it may and says what it could not, with the administrator's step, never leaving the file the
// member's unsaid.
TEST_F(SecurityCli, AFailedConversionsPutBackGivesBackTheFilesRightsOrSaysWhatItCouldNot) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to run as a member";
    DZ_SKIP_UNLESS_OTHERS_REACH(DZ_CLI_BIN);
    const std::string glm = (shared / "MASTER.GLM").string();
    if (RunShell("setfacl -m u:4321:rw " + ShellWord(glm) + " 2>&1").status != 0) GTEST_SKIP() << "no setfacl, or no lists here";
    ASSERT_EQ(::chown(glm.c_str(), 0, 1), 0);
    const CliResult root = Cli({"convert", "--company", shared.string(), "--report", "/dev/full", text.string()});
    EXPECT_EQ(root.status, 2) << root.err;
    EXPECT_THAT(root.err, ::testing::HasSubstr("every data file put back"));
    EXPECT_THAT(root.err, ::testing::Not(::testing::HasSubstr("could not be given back")));
    EXPECT_EQ(RunShell("getfacl -cnp " + ShellWord(glm) + " | tr '\n' ' '").out,
              "user::rw- user:4321:rw- group::r-- mask::rw- other::r--  ");
    struct stat st {};
    ASSERT_EQ(::stat(glm.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_gid, 1u);

    // The company shared with group 4321, MASTER.GLM another member's; the text file's folder the
    // group's too, so that the member's reject file is made and the run fails only at its report.
    ASSERT_EQ(::chown(dir.c_str(), 0, 4321), 0);
    ASSERT_EQ(::chmod(dir.c_str(), 0775), 0);
    ASSERT_EQ(RunShell("chgrp -R 4321 " + ShellWord(shared.string()) + " && chmod -R g+rwX " + ShellWord(shared.string()))
                  .status, 0);
    ASSERT_EQ(::chown(glm.c_str(), 4322, 4321), 0);
    const CliResult member = RunShell("setpriv --reuid=4321 --regid=4321 --clear-groups env HOME=/tmp " +
                                      ShellWord(DZ_CLI_BIN) + " convert --company " + ShellWord(shared.string()) +
                                      " --report /dev/full " + ShellWord(text.string()) + " </dev/null 2>&1");
    if (member.out.find("the program could not start") != std::string::npos) GTEST_SKIP() << member.out;
    EXPECT_EQ(member.status, 2) << member.out;
    EXPECT_THAT(member.out, ::testing::HasSubstr(glm + " now belongs to uid 4321: its owner uid 4322 could not be "
                                                 "given back (its group gid 4321 was kept)"));
    // The list it carries names its owner, so that nobody gained or lost a right; the step gives
    // the file back exactly as it was, list included, when an administrator follows it as written.
    const std::string had = "user::rw-,user:4321:rw-,group::r--,mask::rw-,other::r--";
    const std::string commands = "chown 4322 " + glm + " && setfacl --set " + had + " " + glm;
    EXPECT_THAT(member.out, ::testing::HasSubstr("Next: an administrator gives " + glm + " back the owner uid 4322 "
                                                 "and the access list it had (" + commands + ")"));
    EXPECT_EQ(RunShell("getfacl -cnp " + ShellWord(glm) + " | tr '\n' ' '").out,
              "user::rw- user:4321:rw- user:4322:rw- group::r-- mask::rw- other::r--  ");
    ASSERT_EQ(RunShell(commands).status, 0);
    EXPECT_EQ(RunShell("getfacl -cnp " + ShellWord(glm) + " | tr '\n' ' '").out,
              "user::rw- user:4321:rw- group::r-- mask::rw- other::r--  ");
    struct stat given {};
    ASSERT_EQ(::stat(glm.c_str(), &given), 0);
    EXPECT_EQ(given.st_uid, 4322u);
}

// A member's failed conversion killed just after its put-back renamed another member's file over
// leaves the file the runner's: the next command that clears the run gives it back (root's, with
// its list) or says what it could not, with the step (the member's); never left unsaid.
TEST_F(SecurityCli, APutBackKilledAfterItsRenameLeavesTheFileToWhateverCommandClearsTheRun) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to run as a member";
    DZ_SKIP_UNLESS_OTHERS_REACH(DZ_CLI_BIN);
    const std::string glm = (shared / "MASTER.GLM").string();
    const std::string had = "user::rw-,user:4321:rw-,group::rw-,mask::rw-,other::r--";
    ASSERT_EQ(::chown(dir.c_str(), 0, 4321), 0);
    ASSERT_EQ(::chmod(dir.c_str(), 0775), 0);
    ASSERT_EQ(RunShell("chgrp -R 4321 " + ShellWord(shared.string()) + " && chmod -R g+rwX " + ShellWord(shared.string()))
                  .status, 0);
    ASSERT_EQ(::chown(glm.c_str(), 4322, 4321), 0);
    if (RunShell("setfacl --set " + had + " " + ShellWord(glm) + " 2>&1").status != 0) GTEST_SKIP() << "no lists here";
    const fs::path pristine = dir / "pristine";
    ASSERT_EQ(RunShell("cp -a " + ShellWord(shared.string()) + " " + ShellWord(pristine.string())).status, 0);
    const std::string asMember = "setpriv --reuid=4321 --regid=4321 --clear-groups env HOME=/tmp ";
    const fs::path load = dir / "empty.load";
    std::ofstream(load) << "@GLM\n";
    ASSERT_EQ(::chmod(load.c_str(), 0644), 0);
    auto killedAt = [&](long point) {
        RunShell("rm -rf " + ShellWord(shared.string()) + " && cp -a " + ShellWord(pristine.string()) + " " +
                 ShellWord(shared.string()));
        return RunShell(asMember + "LD_PRELOAD=" + ShellWord(DZ_KILL_AT_SYNC_LIB) + " DZ_KILL_AT_SYNC=" +
                        std::to_string(point) + " " + ShellWord(DZ_CLI_BIN) + " convert --company " +
                        ShellWord(shared.string()) + " --report /dev/full " + ShellWord(text.string()) +
                        " </dev/null 2>&1");
    };
    auto owner = [&] {
        struct stat st {};
        return ::stat(glm.c_str(), &st) == 0 ? st.st_uid : uid_t(-1);
    };
    // The first kill point after which the file is the runner's: just after the rename.
    long point = 1;
    for (; point < 400; ++point) {
        const CliResult r = killedAt(point);
        if (r.out.find("the program could not start") != std::string::npos) GTEST_SKIP() << r.out;
        ASSERT_NE(r.status, 2) << "the put-back was never killed after its rename: " << r.out;
        if (owner() == 4321) break;
    }
    ASSERT_LT(point, 400);

    const CliResult member = RunShell(asMember + ShellWord(DZ_CLI_BIN) + " load --company " + ShellWord(shared.string()) +
                                      " " + ShellWord(load.string()) + " </dev/null 2>&1");
    EXPECT_THAT(member.out, ::testing::HasSubstr(glm + " now belongs to uid 4321: its owner uid 4322 could not be given back"));
    EXPECT_THAT(member.out, ::testing::HasSubstr("setfacl --set " + had + " " + glm));
    const CliResult again = RunShell(asMember + ShellWord(DZ_CLI_BIN) + " load --company " + ShellWord(shared.string()) +
                                     " " + ShellWord(load.string()) + " </dev/null 2>&1");
    EXPECT_THAT(again.out, ::testing::Not(::testing::HasSubstr("now belongs to"))) << "said once";

    killedAt(point);
    ASSERT_EQ(owner(), 4321u);
    const CliResult root = Cli({"load", "--company", shared.string(), load.string()});
    EXPECT_EQ(root.status, 0) << root.err;
    EXPECT_EQ(owner(), 4322u);
    EXPECT_EQ(RunShell("getfacl -cnp " + ShellWord(glm) + " | tr '\n' ' '").out,
              "user::rw- user:4321:rw- group::rw- mask::rw- other::r--  ");
    EXPECT_EQ(RunShell("ls -a " + ShellWord(shared.string()) + " | grep -c restore").out, "0\n");
}

// A dictionary version that is no whole number from 1 to the current one was never written by this
// program: the file is "either an old version or corrupt", neither read as current nor upgraded,
// and the message says why.
TEST_F(SecurityCli, ADictionaryVersionThatIsNoWholeNumberUpToTheCurrentIsRefused) {
    const fs::path gl = shared / "MASTER.GLM";
    for (const std::string version : {"'4294967298'", "'-1'", "'1.5'", "'abc'", "'1000000000000000000000'", "'0'"}) {
        ASSERT_TRUE(Sql(gl, {"UPDATE dz_meta SET value = " + version + " WHERE name = 'dictionary'"}));
        const std::string before = Slurp(gl);
        for (const char* command : {"convert", "examine"}) {
            const CliResult r = Look(command, shared, text.string());
            EXPECT_EQ(r.status, 2) << command << " " << version;
            EXPECT_THAT(r.out + r.err, ::testing::HasSubstr("GL Master file is either an old version or corrupt"))
                << command << " " << version;
            EXPECT_THAT(r.out + r.err, ::testing::HasSubstr("its dictionary version is not a whole number"))
                << command << " " << version;
        }
        EXPECT_TRUE(Slurp(gl) == before) << version;
    }
}

// Why the data-file layer refused a data file shows under the message, in Convert and Examine
// alike: a data file that is a link, or one whose unique index was dropped over duplicate keys.
TEST_F(SecurityCli, ConvertAndExamineSayWhyADataFileIsRefused) {
    const fs::path gl = shared / "MASTER.GLM", real = dir / "elsewhere.glm";
    fs::rename(gl, real);
    fs::create_symlink(real, gl);
    for (const char* command : {"convert", "examine"}) {
        const CliResult r = Look(command, shared, text.string());
        EXPECT_EQ(r.status, 2) << command;
        EXPECT_THAT(r.out + r.err, ::testing::HasSubstr("GL Master file is either an old version or corrupt")) << command;
        EXPECT_THAT(r.out + r.err, ::testing::HasSubstr("is a symbolic link")) << command;
    }
    fs::remove(gl);
    fs::rename(real, gl);

    const auto [table, column] = FirstColumn(gl);
    ASSERT_TRUE(Sql(gl, {"DROP INDEX dzk_" + table + "_0",
                         "INSERT INTO " + table + "(\"" + column + "\") VALUES('TWICE'), ('TWICE')"}));
    const CliResult r = Look("convert", shared, text.string());
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.out + r.err, ::testing::HasSubstr("GL Master file is either an old version or corrupt"));
    EXPECT_THAT(r.out + r.err, ::testing::HasSubstr("(a unique key holds duplicates)"));
}

// A lock file that cannot be used leaves its data file "in use": Convert and Examine Files name
// the lock file and why under that message, as dump does.
// A program reading a data file in an SQLite transaction holds a conversion's commit off: the
// conversion ends with every file as before, saying which file and that another program reads it.
TEST_F(SecurityCli, AConversionHeldOffByAReaderNamesTheFileAndTheReader) {
    const fs::path glm = fs::canonical(shared) / "MASTER.GLM";
    ASSERT_LE(Look("convert", shared, text.string()).status, 1);
    const fs::path again = dir / "again.txt";
    fs::copy_file(kSamples / "demo-gl-master.txt", again);
    const std::string before = Slurp(glm);  // read first: closing a descriptor of it would drop the reader's lock
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(glm.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "BEGIN; SELECT count(*) FROM sqlite_master;", nullptr, nullptr, nullptr), SQLITE_OK);
    const CliResult r = Cli({"convert", "--company", shared.string(), "--reconvert", again.string()});
    sqlite3_close(db);
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.out + r.err, ::testing::HasSubstr("Unable to read from or write to a Halvorsend data file: " + glm.string() +
                                                    " is in use by another program (process " +
                                                    std::to_string(::getpid()) + " of user "));
    EXPECT_THAT(r.out + r.err, ::testing::HasSubstr("that is reading it"));
    EXPECT_THAT(r.err, ::testing::HasSubstr("\nNext: wait until process " + std::to_string(::getpid()) + " of user "));
    EXPECT_TRUE(Slurp(glm) == before);
}

// Another program's lock on a data file's lock file: load and dump say at once that the file is in
// use, once, with who holds it and the step.
TEST_F(SecurityCli, ALockFileHeldByAnotherProgramIsSaidInUseOnceWithItsHolder) {
    const fs::path lockFile = shared / ".MASTER.GLM.locks";
    Spit(dir / "g1.load", "@GLM\nR1 AACCT=\"01999900000\" ATITLE=\"Test\"\n");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT, 0644);
        if (fd < 0 || ::lockf(fd, F_TLOCK, 0) != 0) ::_exit(1);
        if (::write(ready[1], "x", 1) != 1) ::_exit(1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char got = 0;
    const bool held = ::read(ready[0], &got, 1) == 1;
    ::close(ready[0]);
    const CliResult load = Cli({"load", "--company", shared.string(), (dir / "g1.load").string()});
    const CliResult dump = Cli({"dump", "--company", shared.string(), "GLM"});
    const CliResult convert = Look("convert", shared, text.string());
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ASSERT_TRUE(held);
    const std::string inUse = (shared / "MASTER.GLM").string() + " is in use: the lock file ";
    EXPECT_THAT(load.err, ::testing::HasSubstr("GLM file 1 (MASTER.GLM): " + inUse));
    EXPECT_THAT(dump.err, ::testing::HasSubstr("dump: GLM file MASTER.GLM: " + inUse));
    for (const CliResult& r : {load, dump}) {
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_THAT(r.err, ::testing::HasSubstr("is held for writing by process " + std::to_string(holder)));
        EXPECT_THAT(r.err, ::testing::HasSubstr("\nNext: wait until process " + std::to_string(holder)));
        EXPECT_EQ(r.err.find("is in use"), r.err.rfind("is in use")) << r.err;
    }
    // A conversion's message says the file is being used; under it the cause alone, once.
    const std::string said = convert.out + convert.err;
    EXPECT_EQ(convert.status, 2) << said;
    EXPECT_THAT(said, ::testing::HasSubstr("GL Master file is being used by another user or another conversion.\n\n"
                                           "The lock file "));
    EXPECT_THAT(said, ::testing::HasSubstr("is held for writing by process " + std::to_string(holder)));
    EXPECT_THAT(said, ::testing::Not(::testing::HasSubstr(" is in use")));
}

// A backup folder's lock held beside a run's marker is held by a live program (a conversion
// starting there, or a writing command settling the folder): said as a conversion in progress,
// with its holder, never as one that stopped.
TEST_F(SecurityCli, AHeldFolderLockIsSaidAsAConversionInProgress) {
    const fs::path backup = shared / ".backup";
    fs::create_directory(backup);
    fs::permissions(backup, fs::perms(0755));
    std::ofstream(backup / "run~elsewhere~4242.marker").flush();
    std::ofstream(backup / "folder.lock").flush();
    fs::permissions(backup / "folder.lock", fs::perms(0600));
    const int held = ::open((backup / "folder.lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const CliResult r = Look("convert", shared, text.string());  // waits the bound (ten seconds) for it
    ::close(held);
    EXPECT_EQ(r.status, 2);
    const std::string said = r.out + r.err;
    EXPECT_THAT(said, ::testing::HasSubstr("A conversion of this company is in progress, and this command writes nothing "
                                           "over it: the lock file "));
    EXPECT_THAT(said, ::testing::HasSubstr("is held by process " + std::to_string(::getpid()) + " of user "));
    EXPECT_THAT(said, ::testing::HasSubstr("wait while it posts"));
    EXPECT_THAT(said, ::testing::HasSubstr("a conversion of this company is in progress, and nothing is written over it"));
    EXPECT_THAT(said, ::testing::Not(::testing::HasSubstr("stopped before it had finished posting")));
}

// A backup folder on a read-only mount cannot be locked: where its run's marker names no copy,
// nothing of that run was posted, and it is said as a folder that cannot be locked, with the
// administrator's step, never as a conversion stopped half posted.
TEST_F(SecurityCli, ABackupFolderOnAReadOnlyMountWithNothingPostedIsSaidAsOneThatCannotBeLocked) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to mount the company read-only";
    const fs::path backup = shared / ".backup";
    fs::create_directory(backup);
    fs::permissions(backup, fs::perms(0755));
    std::ofstream(backup / "run~elsewhere~4242.marker").flush();
    Spit(backup / "MASTER.GLM~elsewhere~4242", Slurp(shared / "MASTER.GLM"));
    Spit(dir / "header.load", "@GLM 1\nH3 CREATED=0\n");
    const std::string co = ShellWord(shared.string());
    if (RunShell("mount --bind " + co + " " + co + " 2>&1").status != 0) GTEST_SKIP() << "no bind mounts here";
    const bool readOnly = RunShell("mount -o remount,ro,bind " + co + " 2>&1").status == 0;
    const CliResult r = readOnly ? Cli({"load", "--company", shared.string(), (dir / "header.load").string()}) : CliResult{};
    RunShell("umount " + co);
    if (!readOnly) GTEST_SKIP() << "no read-only bind mounts here";
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, ::testing::HasSubstr("A backup folder of the company cannot be locked, so nothing is written: the "
                                            "backup folder " + backup.string() + "/ cannot be locked"));
    EXPECT_THAT(r.err, ::testing::HasSubstr("no run marker in it names a copy"));
    EXPECT_THAT(r.err, ::testing::HasSubstr("mount -o remount,rw"));
    EXPECT_THAT(r.err, ::testing::Not(::testing::HasSubstr("stopped before it had finished posting")));
}

// A backup folder's lock held by a user it is not for: a conversion, which would make its run in
// that folder, is refused once, at once, saying whose it is not once (its ending names no cause
// again); a load, which makes no run there, goes on and says so, and what an administrator may do,
// never that it be run again.
TEST_F(SecurityCli, AnOutsidersHoldOfTheBackupFoldersLockRefusesAConversionAtOnce) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to hold the lock as another user";
    const fs::path backup = shared / ".backup";
    fs::create_directory(backup);
    fs::permissions(backup, fs::perms(0755));
    const pid_t holder = dz::testing_support::HoldFlockInChild(backup / "folder.lock", 65534);
    ASSERT_GT(holder, 0);
    Spit(dir / "header.load", "@GLM 1\nH3 CREATED=0\n");
    const CliResult converted = Look("convert", shared, text.string());
    const CliResult loaded = Cli({"load", "--company", shared.string(), (dir / "header.load").string()});
    // A store makes no copies: it passes, as a load does.
    const CliResult stored = Cli({"convert", "--company", shared.string(), "--store", text.string()});
    dz::testing_support::KillHolder(holder);
    EXPECT_EQ(stored.status, 0) << stored.err;
    EXPECT_THAT(stored.err, ::testing::HasSubstr("stored the convert run for replay"));
    const std::string held = "folder.lock is held by process " + std::to_string(holder) + " of user nobody\n";
    EXPECT_EQ(converted.status, 2);
    EXPECT_THAT(converted.err, ::testing::HasSubstr("error: A backup folder's lock is held by a process that is none of the "
                                                    "programs it is for, and a conversion cannot keep its copies in that "
                                                    "folder while it is: the lock file "));
    EXPECT_THAT(converted.err, ::testing::HasSubstr(held));
    EXPECT_THAT(converted.err, ::testing::HasSubstr("the run ended: no conversion is started"));
    for (const char* never : {"goes on", "Unable to backup", "which is none of the programs", "neither put back",
                              "the run ended: a backup folder's lock"})
        EXPECT_THAT(converted.out + converted.err, ::testing::Not(::testing::HasSubstr(never)));
    EXPECT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_THAT(loaded.err, ::testing::HasSubstr("the folder holds no stopped conversion, and the command goes on"));
    EXPECT_THAT(loaded.err, ::testing::HasSubstr(held));
    EXPECT_THAT(loaded.err, ::testing::HasSubstr("Next: nothing is needed for this command; until an administrator ends "
                                                 "the process that holds "));
    EXPECT_THAT(loaded.err, ::testing::Not(::testing::HasSubstr("again")));
}

TEST_F(SecurityCli, ConvertAndExamineNameALockFileThatCannotBeUsed) {
    const fs::path lockFile = fs::canonical(shared) / ".MASTER.GLM.locks";
    fs::remove(lockFile);
    fs::create_directory(lockFile);
    // Nothing holds it, and waiting never helps: what it is, and who can remove it.
    for (const char* command : {"convert", "examine"}) {
        const CliResult r = Look(command, shared, text.string());
        EXPECT_NE(r.status, 0) << command;
        EXPECT_THAT(r.out + r.err, ::testing::HasSubstr("GL Master file cannot be opened: its lock file is not a file a lock "
                                                        "can be taken on"))
            << command;
        EXPECT_THAT(r.out + r.err, ::testing::HasSubstr("the lock file " + lockFile.string() + " is a folder")) << command;
        EXPECT_THAT(r.out + r.err, ::testing::HasSubstr("have " + lockFile.string() + " removed by ")) << command;
        EXPECT_THAT(r.out + r.err, ::testing::Not(::testing::HasSubstr("wait until"))) << command;
    }
    // A look writes nothing, so needs no lock: it reads the file.
    const CliResult dumped = Cli({"dump", "--company", shared.string(), "GLM"});
    EXPECT_EQ(dumped.status, 0) << dumped.err;
}

// A journal that is not its data file's own refuses the file in Examine Files as in Convert: each
// run ends in its own command's words, naming the check that ended it.
TEST_F(SecurityCli, AForeignJournalEndsEachRunInItsOwnCommandsWords) {
    const fs::path pipe = shared / "MASTER.GLM-journal";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0666), 0);
    const std::pair<std::string, std::string> runs[] = {{"examine", "nothing is examined"},
                                                        {"convert", "nothing is converted"}};
    for (const auto& [command, nothing] : runs) {
        const CliResult r = Look(command, shared, text.string());
        EXPECT_EQ(r.status, 2) << command;
        EXPECT_THAT(r.err, ::testing::HasSubstr(": the run ended: a data file check ended the run: " + nothing))
            << command;
        EXPECT_THAT(r.err, ::testing::Not(::testing::HasSubstr("text file check"))) << command;
    }
}

// A company named relative to where the command runs: every path a step names is absolute, so
// that the step can be followed from wherever its reader stands.
TEST_F(SecurityCli, AStepNamesItsPathsAbsoluteUnderACompanyNamedRelative) {
    const fs::path pipe = shared / "MASTER.GLM-journal";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0666), 0);
    const CliResult r = RunShell("cd " + ShellWord(dir.string()) + " && " + ShellWord(DZ_CLI_BIN) +
                                 " convert --company shared --report r.txt gl.txt </dev/null 2>&1");
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_THAT(r.out, ::testing::HasSubstr("Next: have " + pipe.string() + " removed by an administrator"));
    EXPECT_THAT(r.out, ::testing::Not(::testing::HasSubstr(" shared/MASTER.GLM")));
}

// A socket under the lock file's name, which a member of the company's group may not even open:
// root and the member are both told what it is and who can remove it, never "Permission denied";
// a look by either still reads the file.
TEST_F(SecurityCli, ASocketForALockFileIsSaidToBeOneToRootAndToAMember) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to run as a member of the company's group";
    const struct passwd* member = ::getpwnam("dzsb");
    const struct group* group = ::getgrnam("dzsg");
    if (!member || !group || member->pw_gid != group->gr_gid) GTEST_SKIP() << "needs user dzsb of group dzsg";
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    ASSERT_EQ(RunShell("chgrp -R dzsg " + ShellWord(shared.string()) + " && chmod -R g+w " + ShellWord(shared.string())).status, 0);
    const fs::path lockFile = fs::canonical(shared) / ".MASTER.GLM.locks";
    fs::remove(lockFile);
    ASSERT_TRUE(dz::testing_support::MakeSocketFile(lockFile)) << lockFile;
    ASSERT_EQ(::chmod(lockFile.c_str(), 0700), 0);  // the member's open is refused before it could tell
    for (const std::string as : {"", "runuser -u dzsb -- env HOME=/tmp "}) {
        SCOPED_TRACE(as.empty() ? "root" : "a member");
        auto run = [&](const std::string& command, const std::string& what) {
            return RunShell(as + ShellWord(DZ_CLI_BIN) + " " + command + " --company " + ShellWord(shared.string()) + " " +
                            what + " </dev/null 2>&1");
        };
        const CliResult converted = run("convert", ShellWord(text.string()));
        if (converted.out.find("the program could not start") != std::string::npos) GTEST_SKIP() << converted.out;
        EXPECT_NE(converted.status, 0);
        EXPECT_THAT(converted.out, ::testing::HasSubstr("the lock file " + lockFile.string() + " is a socket, not a lock file"));
        EXPECT_THAT(converted.out, ::testing::HasSubstr("have " + lockFile.string() + " removed by root"));
        EXPECT_THAT(converted.out, ::testing::Not(::testing::HasSubstr("Permission denied")));
        EXPECT_EQ(run("dump", "GLM").status, 0);
    }
}

}  // namespace

namespace {

// Conversions racing into one company while the lock files' modes and owners change under them
// (as an administrator's chmod -R and chown -R would): every record a conversion says it kept is
// on file and no other, and every conversion that ended early said why.
TEST_F(SecurityCli, RacingConversionsKeepWhatTheySayAndEndWithTheirCause) {
    ASSERT_LE(Look("convert", shared, text.string()).status, 1);
    const auto records = [&] {
        const CliResult d = Cli({"dump", "--company", shared.string(), "GLM"});
        EXPECT_EQ(d.status, 0) << d.err;
        std::size_t n = 0;
        for (std::size_t at = 0; (at = d.out.find("\nR", at)) != std::string::npos; ++at) ++n;
        return n;
    };
    const std::size_t before = records();
    constexpr int kWriters = 2, kRuns = 4, kAccounts = 5;
    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (int turn = 0; !done; ++turn) {
            std::error_code ec;
            for (const auto& e : fs::directory_iterator(shared, ec)) {
                const std::string name = e.path().filename().string();
                if (name.front() != '.' || !name.ends_with(".locks")) continue;
                ::chmod(e.path().c_str(), turn % 2 ? 0666 : 0600);
                if (::geteuid() == 0) (void)!::lchown(e.path().c_str(), turn % 3 ? 0 : 1, turn % 3 ? 0 : 1);
            }
            ::usleep(2000);
        }
    });
    std::vector<std::vector<CliResult>> results(kWriters);
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            const fs::path own = dir / ("w" + std::to_string(w));
            fs::create_directories(own);
            for (int run = 0; run < kRuns; ++run) {
                std::string body = "#,GLM,xvglm\r\n";
                for (int a = 0; a < kAccounts; ++a)
                    body += "6," + std::to_string(7000 + w * 1000 + run * 10 + a) + "-00,Race,9,,,,,,,,\r\n";
                const fs::path file = own / ("race" + std::to_string(run) + ".txt");
                Spit(file, body);
                results[w].push_back(RunCli({"convert", "--company", shared.string(), "--report",
                                             (own / "report.txt").string(), file.string()},
                                            own, {{"DODEDOZ_NOW", kNow}}));
            }
        });
    for (auto& t : writers) t.join();
    done = true;
    changer.join();
    std::size_t kept = 0;
    for (const auto& runs : results)
        for (const CliResult& r : runs) {
            EXPECT_TRUE(r.status == 0 || r.status == 2) << r.status << r.err;
            if (r.status == 0) kept += kAccounts;
            if (r.status == 2) {
                EXPECT_FALSE(r.err.empty());
                // A numbered failure is followed by its cause.
                EXPECT_FALSE(std::regex_search(r.err, std::regex("Unable to backup [^:\n]*(\n|$)"))) << r.err;
            }
        }
    EXPECT_EQ(records(), before + kept);
}

}  // namespace
