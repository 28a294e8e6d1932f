// The property-management data files of a new company, run as the program itself.
#include "cli_support.h"

#include <string>

namespace {

using namespace dz::cli::testing;

class PmFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(scratch_.path().empty()); }
    CliResult cli(const std::string& args) { return RunCli(Words(args), scratch_.path(), {}, Stderr::Merged); }

    ScratchFolder scratch_;
    fs::path dir_ = scratch_.path() / "co";
    const std::vector<std::string> files_ = {"MASTER.PMS", "MASTER.PMP", "MASTER.PML", "MASTER.PMN",
                                             "MASTER.PMR", "CURRENT.PMT", "HISTORY.PMT"};
};

TEST_F(PmFiles, InitCreatesTheSevenFilesOnlyWhenPmIsInstalled) {
    ASSERT_EQ(cli("company init " + dir_.string() + " --modules GL,CM,PM").status, 0);
    for (const auto& f : files_) EXPECT_TRUE(fs::exists(dir_ / f)) << f;

    const fs::path glOnly = scratch_.path() / "gl";
    ASSERT_EQ(cli("company init " + glOnly.string() + " --modules GL").status, 0);
    for (const auto& f : files_) EXPECT_FALSE(fs::exists(glOnly / f)) << f;
}

TEST_F(PmFiles, DumpShowsTheSettingsHeadersWithTheirDefaults) {
    ASSERT_EQ(cli("company init " + dir_.string() + " --modules GL,PM").status, 0);
    CliResult r = cli("dump --company " + dir_.string() + " PMS");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "@PMS 1\nH1 LASTBAT=\"\" LASTPMT=0\nH2 TAXCTRL=0\n");
    r = cli("dump --company " + dir_.string() + " PMT");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "@PMT 1\nH1 LASTRUN=0\n");
}

}  // namespace
