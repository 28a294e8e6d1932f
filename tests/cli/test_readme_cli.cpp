// The README's shell lines, run as a new user runs them: top to bottom, as written, in one folder
// that holds one accounts.txt (the GL master sample), read from the README itself so that the
// lines a user copies are the lines tested.
#include "cli_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace {

using namespace dz::cli::testing;
using ::testing::HasSubstr;

const fs::path kSource = fs::path(DZ_SOURCE_DATA_DIR).parent_path();

// The command lines of the shell block under `heading` in `text`, their comments cut off.
std::vector<std::string> ShellLines(const std::string& text, const std::string& heading) {
    std::vector<std::string> lines;
    const auto at = text.find(heading);
    if (at == std::string::npos) return lines;
    const auto open = text.find("```sh\n", at);
    const auto close = text.find("```", open + 6);
    if (open == std::string::npos || close == std::string::npos) return lines;
    std::istringstream block(text.substr(open + 6, close - open - 6));
    for (std::string line; std::getline(block, line);) {
        line = line.substr(0, line.find(" #"));
        while (!line.empty() && line.back() == ' ') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

TEST(Readme, ConvertingFromAShellRunsAsWritten) {
    const std::vector<std::string> lines = ShellLines(Slurp(kSource / "README.md"), "Converting from a shell:");
    ASSERT_FALSE(lines.empty()) << "no shell lines under \"Converting from a shell:\" in README.md";
    ScratchFolder scratch;
    fs::copy_file(kSource / "data" / "samples" / "glm" / "demo-gl-master.txt", scratch.path() / "accounts.txt");
    std::string said;
    for (const std::string& line : lines) {
        const std::string cmd = "cd " + ShellWord(scratch.path().string()) + " && DODEDOZ_DATA=" +
                                ShellWord(DZ_SOURCE_DATA_DIR) + " " +
                                ReplaceAll(line, "dodedoz-cli ", ShellWord(DZ_CLI_BIN) + " ") + " </dev/null 2>&1";
        const CliResult r = RunShell(cmd);
        said += r.out;
        // The sample has bad lines on purpose: rejected records (1) are expected, a refusal (2) not.
        EXPECT_THAT(r.status, ::testing::AnyOf(0, 1)) << line << "\n" << r.out;
    }
    EXPECT_THAT(said, ::testing::Not(HasSubstr("has already been converted")));
    // Run top to bottom, the lines convert the file once, the report where the README says.
    EXPECT_EQ(Occurrences(said, "accounts.txt: 43 accepted, 9 rejected"), 2u) << said;
    EXPECT_TRUE(fs::is_regular_file(scratch.path() / "r.txt"));
    const CliResult dump = RunCli({"dump", "--company", (scratch.path() / "co").string(), "GLM"},
                                  scratch.path(), {{"DODEDOZ_DATA", DZ_SOURCE_DATA_DIR}});
    EXPECT_THAT(dump.out, HasSubstr("R1 AACCT=\"01110100000\""));
}

}  // namespace
