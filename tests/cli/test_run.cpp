// dodedoz-cli run: task commands started from the command line, in the background or not.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;
};

// Runs dodedoz-cli with `args`, standard input empty; both output streams captured.
Result run_cli(const std::string& args) {
    Result r;
    std::string cmd = std::string(DZ_CLI_BIN) + " " + args + " </dev/null 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

class RunCommand : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("dz-cli-run-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        ASSERT_EQ(run_cli("company init " + dir.string()).status, 0);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

}  // namespace

TEST_F(RunCommand, ABackgroundRunWithNothingStoredSaysSoAndFails) {
    Result r = run_cli("run --company " + dir.string() + " --background convert");
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("The stored Convert run cannot be replayed: no text files are stored."), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Convert did not complete"), std::string::npos) << r.out;
}

TEST_F(RunCommand, CommandsAreTakenByNameOrNumber) {
    // Examine Files without a way to choose files ends at its chooser; the tables command says it
    // is not built yet.
    Result r = run_cli("run --company " + dir.string() + " 3010 TABLES");
    EXPECT_NE(r.out.find("Examine Files did not complete"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("The Substitution Tables command"), std::string::npos) << r.out;
}

TEST_F(RunCommand, UnknownCommandsAndCompaniesAreRefused) {
    Result r = run_cli("run --company " + dir.string() + " 9999");
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
