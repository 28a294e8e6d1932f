// A conversion killed at any of its syncs (a journal's, a data file's, just before a journal is
// removed, a marker's) is finished or put back by the next writing command: every data file then
// stands as it was before the conversion, or as the conversion leaves it, and nothing is refused.
// (A table import killed so: test_tables_cli.cpp.)
#include "cli_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace dz::cli::testing;
using ::testing::HasSubstr;
using ::testing::Not;

class Killed : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(root.empty());
        ASSERT_EQ(Cli({"company", "init", base.string()}).status, 0);
        Spit(root / "empty.load", "");
    }
    CliResult Cli(const std::vector<std::string>& args, std::map<std::string, std::string> env = {}) {
        env["DODEDOZ_NOW"] = "2026-12-06 14:30:00";
        return RunCli(args, root, env, Stderr::Merged, 120);
    }
    // What the company's data files of `abbrs` hold, as dump prints them.
    std::string Held(const fs::path& company, const std::vector<std::string>& abbrs) {
        std::string held;
        for (const std::string& abbr : abbrs) held += Cli({"dump", "--company", company.string(), abbr}).out;
        return held;
    }
    void Fresh(const fs::path& from) {
        ASSERT_EQ(RunShell("rm -rf " + ShellWord(co.string()) + " && cp -a " + ShellWord(from.string()) + " " +
                           ShellWord(co.string()))
                      .status,
                  0);
    }
    // `command` (its words, "{co}" standing for the company, the text file last) run from `from`,
    // killed at each of its syncs in turn until it runs to its end; after each, the next writing
    // command.
    void KillAtEverySync(const fs::path& from, const std::vector<std::string>& command, const fs::path& text,
                         const std::vector<std::string>& abbrs) {
        const fs::path copy = root / "text.txt";
        auto run = [&](std::map<std::string, std::string> env) {
            fs::copy_file(text, copy, fs::copy_options::overwrite_existing);  // never stamped yet
            std::vector<std::string> args;
            for (const std::string& word : command) args.push_back(word == "{co}" ? co.string() : word);
            args.push_back(copy.string());
            return Cli(args, env);
        };
        Fresh(from);
        const std::string before = Held(co, abbrs);
        ASSERT_LE(run({}).status, 1);
        const std::string after = Held(co, abbrs);
        ASSERT_NE(before, after);
        int point = 1;
        for (;; ++point) {
            SCOPED_TRACE("killed at sync point " + std::to_string(point));
            Fresh(from);
            const CliResult killed = run({{"LD_PRELOAD", DZ_KILL_AT_SYNC_LIB}, {"DZ_KILL_AT_SYNC", std::to_string(point)}});
            if (killed.status == 0 || killed.status == 1) break;  // no sync left to be killed at
            const CliResult next = Cli({"load", "--company", co.string(), (root / "empty.load").string()});
            EXPECT_EQ(next.status, 0) << next.out;
            EXPECT_THAT(next.out, Not(HasSubstr("is not played")));
            const std::string held = Held(co, abbrs);
            EXPECT_TRUE(held == before || held == after) << "neither as before nor as after the command";
            ASSERT_LT(point, 400) << "the command never ran to its end";
        }
        EXPECT_GT(point, 4) << "too few syncs to have killed the command inside its commits";
    }

    ScratchFolder scratch;
    fs::path root = scratch.path(), base = root / "base", co = root / "co";
    fs::path samples = fs::path(DZ_SOURCE_DATA_DIR) / "samples";
};

TEST_F(Killed, AConversionKilledAtAnySyncIsPutBackWholeOrStandsWhole) {
    KillAtEverySync(base, {"convert", "--company", "{co}", "--yes"}, samples / "glm" / "demo-gl-master.txt", {"GLM", "CMM"});
}

// A conversion killed while it rewrote the settings leaves their new copy beside them: the
// command that puts the conversion back clears it too, with nothing else left of the run.
TEST_F(Killed, ASettingsCopyOfAKilledConversionGoesWithItsPutBack) {
    const fs::path withAccounts = root / "accounts", accounts = root / "accounts.txt", entries = root / "entries.txt";
    fs::copy_file(samples / "glm" / "demo-gl-master.txt", accounts);
    Fresh(base);
    ASSERT_LE(Cli({"convert", "--company", co.string(), "--yes", accounts.string()}).status, 1);
    ASSERT_EQ(RunShell("mv " + ShellWord(co.string()) + " " + ShellWord(withAccounts.string())).status, 0);
    const fs::path copy = co / "company.toml.new";
    bool met = false;
    for (int point = 1; point < 400 && !met; ++point) {
        SCOPED_TRACE("killed at sync point " + std::to_string(point));
        Fresh(withAccounts);
        fs::copy_file(samples / "glt" / "demo-gl-transactions.txt", entries, fs::copy_options::overwrite_existing);
        const CliResult killed =
            Cli({"convert", "--company", co.string(), "--yes", entries.string()},
                {{"LD_PRELOAD", DZ_KILL_AT_SYNC_LIB}, {"DZ_KILL_AT_SYNC", std::to_string(point)}});
        ASSERT_GT(killed.status, 1) << "no sync left to be killed at, and no settings copy left by any";
        if (!fs::exists(copy)) continue;
        met = true;
        const CliResult next = Cli({"load", "--company", co.string(), (root / "empty.load").string()});
        EXPECT_EQ(next.status, 0) << next.out;
        EXPECT_THAT(next.out, HasSubstr("put back"));
        EXPECT_FALSE(fs::exists(copy));
    }
    EXPECT_TRUE(met);
}

}  // namespace
