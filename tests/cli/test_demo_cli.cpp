// ./scripts/demo as a new user runs it: every sample in one company, in whatever order the types
// are named, each sample rejecting what it rejects when it runs alone (with the samples it names).
#include "cli_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <vector>

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

// The numbers after `label` in `text`, up to the end of its line.
std::vector<int> NumbersAfter(const std::string& text, const std::string& label) {
    std::vector<int> numbers;
    const auto at = text.find(label);
    if (at == std::string::npos) return numbers;
    std::istringstream line(text.substr(at + label.size(), text.find('\n', at) - at - label.size()));
    for (int n; line >> n;) numbers.push_back(n);
    return numbers;
}

// The first number `pattern` (one group) finds in `text`; 0 when it finds none.
int CountIn(const std::string& text, const std::string& pattern) {
    std::smatch m;
    return std::regex_search(text, m, std::regex(pattern)) ? std::stoi(m[1]) : 0;
}

TEST(Demo, EveryCountOfARunAgreesWithEveryOther) {
    ScratchFolder scratch;
    const CliResult all = RunDemo(scratch.path() / "all",
                                  "cmm glt jcs jcm jct apm api prm pmp pml pmr pmv pmt pmh pmz arm");
    ASSERT_EQ(all.status, 0) << all.out;
    // Each examine and convert of a sample: its report, its summary line and its closing message.
    static const std::regex start(R"(\n== (examine|convert) \S*/(demo-[a-z-]+\.txt))");
    std::vector<std::pair<std::string, std::size_t>> runs;
    for (auto it = std::sregex_iterator(all.out.begin(), all.out.end(), start); it != std::sregex_iterator(); ++it)
        runs.emplace_back((*it)[1].str() + " " + (*it)[2].str(), static_cast<std::size_t>(it->position()));
    std::set<std::string> samples;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const std::size_t from = runs[i].second + 1;
        std::string run = all.out.substr(from, (i + 1 < runs.size() ? runs[i + 1].second : all.out.size()) - from);
        run = run.substr(0, run.find("\n== ", 1));  // the run alone, without what the demo shows after it
        const std::string& name = runs[i].first;
        samples.insert(name.substr(name.find(' ') + 1));
        SCOPED_TRACE(name);
        // Totals: processed, have messages, rejected, converted (or valid) and perhaps created.
        const std::vector<int> totals = NumbersAfter(run, "\nTotal:");
        ASSERT_GE(totals.size(), 4u) << run;
        std::smatch summary;
        ASSERT_TRUE(std::regex_search(
            run, summary, std::regex(R"(: (\d+) accepted, (\d+) rejected, (\d+) messages?, (\d+) notes?\n)")))
            << run;
        const int accepted = std::stoi(summary[1]), rejected = std::stoi(summary[2]);
        const int messages = std::stoi(summary[3]), notes = std::stoi(summary[4]);
        EXPECT_EQ(totals[0], accepted + rejected) << run;
        EXPECT_EQ(totals[2], rejected) << run;
        EXPECT_EQ(totals[3], accepted) << run;
        EXPECT_LE(totals[1], accepted) << run;
        // The closing message counts the same run (one text file) alike.
        // (A run with nothing to tell ends without one.)
        const auto closing = run.find("dodedoz: information: ");
        const std::string said = closing == std::string::npos ? std::string() : run.substr(closing);
        EXPECT_EQ(CountIn(said, R"((\d+) (rejected records?|records? that will be rejected))"), rejected) << said;
        EXPECT_EQ(CountIn(said, R"((\d+) warning/log message)"), messages) << said;
        EXPECT_EQ(CountIn(said, R"((\d+) conversion note)"), notes) << said;
    }
    EXPECT_EQ(samples.size(), 17u) << all.out;
    EXPECT_EQ(runs.size(), 34u) << all.out;
}

}  // namespace
