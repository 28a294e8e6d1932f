// dodedoz-cli run: task commands started from the command line, in the background or not.
#include "cli_support.h"

#include <string>

namespace {

using namespace dz::cli::testing;

class RunCommand : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch.path().empty());
        dir = scratch.path() / "co";
        ASSERT_EQ(run_cli("company init " + dir.string()).status, 0);
    }

    // Runs dodedoz-cli with the words of `args`; both output streams captured in `out`.
    CliResult run_cli(const std::string& args) { return RunCli(Words(args), scratch.path(), {}, Stderr::Merged); }

    ScratchFolder scratch;
    fs::path dir;
};

}  // namespace

TEST_F(RunCommand, ABackgroundRunWithNothingStoredSaysSoAndFails) {
    CliResult r = run_cli("run --company " + dir.string() + " --background convert");
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("The stored Convert run cannot be replayed: no text files are stored."), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Convert did not complete"), std::string::npos) << r.out;
}

TEST_F(RunCommand, CommandsAreTakenByNameOrNumber) {
    // Examine Files without a way to choose files ends at its chooser; the table editor without
    // a person has its choice panel cancelled and ends.
    CliResult r = run_cli("run --company " + dir.string() + " 3010 TABLES");
    EXPECT_NE(r.out.find("Examine Files did not complete"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("nothing given for the TABLE/"), std::string::npos) << r.out;
    r = run_cli("run --company " + dir.string() + " tables");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("panel; cancelled"), std::string::npos) << r.out;
}

TEST_F(RunCommand, UnknownCommandsAndCompaniesAreRefused) {
    CliResult r = run_cli("run --company " + dir.string() + " 9999");
    EXPECT_EQ(r.status, 64);
    EXPECT_NE(r.out.find("unknown command \"9999\""), std::string::npos) << r.out;
    r = run_cli("run --company " + (dir / "nope").string() + " convert");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("dodedoz-cli: run:"), std::string::npos) << r.out;
    r = run_cli("run --company " + dir.string() + " --yes --no convert");
    EXPECT_EQ(r.status, 64);
    r = run_cli("run --company " + dir.string() + " --on-error sometimes convert");
    EXPECT_EQ(r.status, 64);
    r = run_cli("run --company " + dir.string() + " --store --background convert");
    EXPECT_EQ(r.status, 64);
}
