// ./scripts/demo as a new user runs it: every sample in one company, in whatever order the types
// are named, each sample rejecting what it rejects when it runs alone (with the samples it names).
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
    // Each sample rejects what it rejects alone (with the samples it names, and the banks, which
    // a bad line may name as missing): its bad lines.
    std::map<std::string, int> meant{{"demo-gl-master.txt", 9}};
    for (const char* type : {"cmm", "glt", "jcs", "arm", "jcm", "jct", "apm", "api", "prm", "pmp", "pml", "pmr", "pmt",
                             "pmh"}) {
        const CliResult alone = RunDemo(scratch.path() / type, std::string("cmm ") + type);
        ASSERT_EQ(alone.status, 0) << alone.out;
        const auto counts = Rejected(alone.out);
        // The type's own sample is the last one converted.
        std::string last;
        static const std::regex file(R"(== convert \S*/(demo-[a-z-]+\.txt))");
        for (auto it = std::sregex_iterator(alone.out.begin(), alone.out.end(), file); it != std::sregex_iterator(); ++it)
            last = (*it)[1];
        meant[last] = counts.at(last);
    }
    // The job cost samples mark their bad lines: every good line converts.
    EXPECT_EQ(meant["demo-jc-master.txt"], 7);
    EXPECT_EQ(meant["demo-jc-transactions.txt"], 9);
    EXPECT_EQ(rejected, meant) << all.out;

    // The end says where the company is and how to look further; records are summed up, not shown.
    EXPECT_THAT(all.out, HasSubstr("The demo company is " + fs::canonical(scratch.path() / "all").string()));
    EXPECT_THAT(all.out, HasSubstr("dodedoz --company "));
    EXPECT_THAT(all.out, HasSubstr(" dump --company "));
    EXPECT_THAT(all.out, ::testing::Not(HasSubstr("\nR1 ")));
}

}  // namespace
