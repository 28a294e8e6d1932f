// ./scripts/demo as a new user runs it: every sample in one company, in whatever order the types
// are named, each sample's good lines converted and only its deliberately bad lines rejected.
#include "cli_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <regex>

namespace {

using namespace dz::cli::testing;
using ::testing::HasSubstr;

const fs::path kSource = fs::path(DZ_SOURCE_DATA_DIR).parent_path();

// Runs the demo with the program already built; standard error merged into the output.
CliResult RunDemo(const fs::path& company, const std::string& types) {
    return RunShell("DEMO_CLI=" + ShellWord(DZ_CLI_BIN) + " DEMO_DIR=" + ShellWord(company.string()) + " " +
                    ShellWord((kSource / "scripts" / "demo").string()) + " " + types + " </dev/null 2>&1");
}

// The rejected count of each converted sample ("dodedoz: .../demo-x.txt: 6 accepted, 3 rejected").
std::map<std::string, int> Rejected(const std::string& out) {
    std::map<std::string, int> counts;
    static const std::regex line(R"(dodedoz: \S*/(demo-[a-z-]+\.txt): \d+ accepted, (\d+) rejected)");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator(); ++it)
        counts[(*it)[1]] = std::stoi((*it)[2]);  // examine then convert: the conversion's counts stay
    return counts;
}

TEST(Demo, EverySampleInOneCompanyRejectsOnlyItsBadLinesInAnyOrder) {
    ScratchFolder scratch;
    // Named backwards: the demo runs each sample after those it refers to.
    const CliResult all =
        RunDemo(scratch.path() / "all", "tables pmh pmt pmr pml pmp prm arm api apm jct jcm jcs glt cmm");
    ASSERT_EQ(all.status, 0) << all.out;
    EXPECT_THAT(all.out, ::testing::Not(HasSubstr("refused")));
    const std::map<std::string, int> rejected = Rejected(all.out);
    // The lines each sample rejects on purpose, as it does when it runs alone.
    std::map<std::string, int> meant{
        {"demo-gl-master.txt", 9},     {"demo-bank-accounts.txt", 4},    {"demo-gl-transactions.txt", 6},
        {"demo-jc-standards.txt", 5},  {"demo-ar-customers.txt", 3},     {"demo-jc-master.txt", 7},
        {"demo-jc-transactions.txt", 9}, {"demo-vendors.txt", 8},         {"demo-invoices.txt", 9},
        {"demo-pr-employees.txt", 22}, {"demo-pm-transactions.txt", 19}, {"demo-pm-history.txt", 19}};
    // The property, lease and retail samples grow with their converters: as many as alone.
    for (const char* type : {"pmp", "pml", "pmr"}) {
        const CliResult alone = RunDemo(scratch.path() / type, type);
        ASSERT_EQ(alone.status, 0) << alone.out;
        for (const auto& [file, n] : Rejected(alone.out))
            if (file != "demo-gl-master.txt") meant[file] = n;
    }
    EXPECT_EQ(rejected, meant) << all.out;

    // The end says where the company is and how to look further; records are summed up, not shown.
    EXPECT_THAT(all.out, HasSubstr("The demo company is " + fs::canonical(scratch.path() / "all").string()));
    EXPECT_THAT(all.out, HasSubstr("dodedoz --company "));
    EXPECT_THAT(all.out, HasSubstr(" dump --company "));
    EXPECT_THAT(all.out, ::testing::Not(HasSubstr("\nR1 ")));

    // One type alone brings what its lines need: the same counts as in the full run.
    const CliResult jct = RunDemo(scratch.path() / "jct", "jct");
    ASSERT_EQ(jct.status, 0) << jct.out;
    EXPECT_EQ(Rejected(jct.out)["demo-jc-transactions.txt"], 9) << jct.out;
}

}  // namespace
