// dodedoz-cli beside a write-ahead log that the sqlite3 shell left holding committed writes: the
// step said is the one that writes the log into the file, and, followed, the next command reads
// the file with those writes in it.
#include "cli_support.h"

#include <gmock/gmock.h>
#include <sqlite3.h>

#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace dz::cli::testing;
using ::testing::HasSubstr;

TEST(KeptWritesCli, ALogOfCommittedWritesIsWrittenIntoTheFileByTheStepSaid) {
    ScratchFolder scratch;
    const fs::path company = scratch.path() / "co", file = company / "MASTER.XVM";
    auto run = [&](const std::string& args) { return RunCli(Words(args), scratch.path(), {}, Stderr::Merged); };
    ASSERT_EQ(run("company init " + company.string() + " --modules GL,CM").status, 0);
    // In write-ahead-log mode, committed, and ended without closing the file (as the shell killed).
    const pid_t child = ::fork();
    if (child == 0) {
        sqlite3* db = nullptr;
        const bool wrote = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
                           sqlite3_exec(db, "PRAGMA journal_mode=WAL; CREATE TABLE shell(x); INSERT INTO shell VALUES (7)",
                                        nullptr, nullptr, nullptr) == SQLITE_OK;
        ::_exit(wrote ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    const CliResult refused = run("dump --company " + company.string() + " XVM");
    EXPECT_EQ(refused.status, 2);
    EXPECT_THAT(refused.out, HasSubstr("until the log is written into the file or removed\nNext: if " + file.string() +
                                       "-wal is the log of a program that wrote the data file in write-ahead-log mode"));
    EXPECT_THAT(refused.out, HasSubstr("(sqlite3 " + file.string() + " 'PRAGMA journal_mode=DELETE'), then run the command again"));

    ASSERT_TRUE(Sql(file, {"PRAGMA journal_mode=DELETE"}));
    EXPECT_EQ(run("dump --company " + company.string() + " XVM").status, 0);
    // The shell's row was kept: a check that fails on a row missing.
    EXPECT_TRUE(Sql(file, {"CREATE TEMP TABLE seen(x CHECK (x = 7))", "INSERT INTO seen SELECT coalesce(max(x), 0) FROM shell"}));
    EXPECT_FALSE(fs::exists(file.string() + "-wal"));
}

}  // namespace
