// company init and company show, run as the program itself.
#include "platform/datafile/xio.h"
#include "platform/suite/company.h"
#include "platform/suite/control.h"
#include "platform/suite/xk.h"
#include "platform/suite/zc.h"

#include "cli_support.h"

#include <gmock/gmock.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

using namespace dz::cli::testing;
using namespace dz::suite;

class CompanyCommand : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(scratch_.path().empty()); }
    void TearDown() override { close_company(); }

    // Runs dodedoz-cli with the words of `args`; both output streams captured in `out`.
    CliResult cli(const std::string& args) { return RunCli(Words(args), scratch_.path(), {}, Stderr::Merged); }

    ScratchFolder scratch_;
    fs::path dir_ = scratch_.path() / "co";
};

TEST_F(CompanyCommand, InitWritesACompleteCompanyThatShowPrints) {
    CliResult init = cli("company init " + dir_.string());
    ASSERT_EQ(init.status, 0) << init.out;
    EXPECT_TRUE(fs::exists(dir_ / "company.toml"));
    EXPECT_TRUE(fs::exists(dir_ / "MASTER.XVM"));  // the substitution-table file, always
    // An empty data file for every installed application that has a dictionary; EQ, Billing and
    // the issue application (TLI), which have dictionaries, are not installed by default, so
    // their files are not made.
    const CompanySettings written = read_settings(dir_ / "company.toml");
    for (const std::string& abbr : dz::xio_dictionary_abbrs()) {
        if (abbr != "XVM" && !data_file_in_use(written, abbr)) {
            EXPECT_TRUE(abbr.substr(0, 2) == "EQ" || abbr == "BLS" || abbr == "TLI") << abbr;
            EXPECT_FALSE(fs::exists(dir_ / dz::xio_file_name(abbr, 1))) << abbr;
            continue;
        }
        for (std::uint16_t no : {0, 1, 2, 3, 4, 5, 6, 7}) {
            const std::string name = dz::xio_file_name(abbr, no);
            if (!name.empty()) {
                EXPECT_TRUE(fs::exists(dir_ / name)) << name;
            }
        }
    }

    CliResult show = cli("company show --company " + dir_.string());
    ASSERT_EQ(show.status, 0) << show.out;
    EXPECT_NE(show.out.find("Installed: GL JC CM AP PR PM AR"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("Accounting method: 3 (both)"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("section 6 (Prefix): width 5, e.g. '11-2-33'"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("AP -> CM: on yes, creates entries yes"), std::string::npos) << show.out;

    // The services answer from the written company.
    open_company(dir_);
    EXPECT_EQ(xk_num_sections(kGlAccountFormat), 3);
    EXPECT_EQ(xk_num_sections(kJobFormat), 1);
    EXPECT_EQ(xk_num_sections(kPhaseFormat), 2);
    EXPECT_EQ(xk_description(16), "Job");
    EXPECT_EQ(xk_description(15), "Extra");
    EXPECT_EQ(xk_description(18), "Phase");
    EXPECT_EQ(xk_get_custom_list_default(369), "Taxable");
    EXPECT_NE(zc_interface_active("JC", "GL"), 0);
    EXPECT_NE(zc_create_entries("AP", "CM"), 0);
    xc_control_def def;
    ASSERT_TRUE(xc_get_control_def(def));
    EXPECT_EQ(def.accountingMethod, 3);
}

// File control may keep a data file outside the company folder: show lists it and a run names
// it before it writes. A data file that is a symbolic link is not opened.
TEST_F(CompanyCommand, DataFilesOutsideTheFolderAreNamedAndLinkedOnesRefused) {
    ASSERT_EQ(cli("company init " + dir_.string()).status, 0);
    const fs::path elsewhere = scratch_.path() / "elsewhere";
    fs::create_directories(elsewhere);
    fs::rename(dir_ / "MASTER.GLM", elsewhere / "MASTER.GLM");
    std::string toml;
    {
        std::ifstream in(dir_ / "company.toml");
        toml.assign(std::istreambuf_iterator<char>(in), {});
    }
    const auto at = toml.find("\n[security]");
    ASSERT_NE(at, std::string::npos);
    toml.insert(at, "\nGLM = \"" + elsewhere.string() + "\"\n");
    std::ofstream(dir_ / "company.toml") << toml;

    const CliResult show = cli("company show --company " + dir_.string());
    EXPECT_THAT(show.out, ::testing::HasSubstr("Data files outside the company folder:\n  GLM: " + elsewhere.string()));
    const fs::path text = scratch_.path() / "glm.txt";
    fs::copy_file(fs::path(DZ_SOURCE_DATA_DIR) / "samples" / "glm" / "demo-gl-master.txt", text);
    const CliResult examined = cli("examine --company " + dir_.string() + " " + text.string());
    const std::string named = "Data file " + (elsewhere / "MASTER.GLM").string() + " is outside the company folder";
    const auto first = examined.out.find(named);
    ASSERT_NE(first, std::string::npos) << examined.out;
    EXPECT_NE(examined.out.find(named, first + 1), std::string::npos) << "on the screen and in the report";

    fs::create_symlink(elsewhere / "MASTER.GLM", dir_ / "MASTER.GLM");
    toml.erase(at, ("\nGLM = \"" + elsewhere.string() + "\"\n").size());
    std::ofstream(dir_ / "company.toml") << toml;
    const CliResult linked = cli("examine --company " + dir_.string() + " " + text.string());
    EXPECT_EQ(linked.status, 2);
    EXPECT_THAT(linked.out, ::testing::HasSubstr("Unable to examine file"));
}

TEST_F(CompanyCommand, ModulesOptionLimitsTheApplications) {
    CliResult init = cli("company init " + dir_.string() + " --modules gl,AP");
    ASSERT_EQ(init.status, 0) << init.out;
    open_company(dir_);
    EXPECT_EQ(xa_appl_installed("GL"), 1);
    EXPECT_EQ(xa_appl_installed("AP"), 1);
    EXPECT_EQ(xa_appl_installed("JC"), 0);
    EXPECT_EQ(zc_interface_active("AP", "CM"), 0);
    EXPECT_NE(zc_interface_active("AP", "GL"), 0);
}

TEST_F(CompanyCommand, RefusalsAndExitCodes) {
    CliResult bad = cli("company init " + dir_.string() + " --modules GL,QQ");
    EXPECT_EQ(bad.status, 64) << bad.out;
    EXPECT_NE(bad.out.find("'QQ'"), std::string::npos) << bad.out;
    EXPECT_FALSE(fs::exists(dir_ / "company.toml"));

    ASSERT_EQ(cli("company init " + dir_.string()).status, 0);
    CliResult again = cli("company init " + dir_.string());
    EXPECT_EQ(again.status, 2) << again.out;
    EXPECT_NE(again.out.find("already exists"), std::string::npos) << again.out;

    CliResult missing = cli("company show --company " + (dir_ / "nowhere").string());
    EXPECT_EQ(missing.status, 2) << missing.out;
    EXPECT_NE(missing.out.find("company.toml"), std::string::npos) << missing.out;

    // A spoiled entry names the file and the entry, and nothing is shown.
    std::ofstream(dir_ / "company.toml", std::ios::app) << "\n[oops]\n";
    CliResult spoiled = cli("company show --company " + dir_.string());
    EXPECT_EQ(spoiled.status, 2) << spoiled.out;
    EXPECT_NE(spoiled.out.find("'oops'"), std::string::npos) << spoiled.out;
    EXPECT_EQ(spoiled.out.find("Installed:"), std::string::npos) << spoiled.out;

    EXPECT_EQ(cli("company show").status, 64);
}

TEST_F(CompanyCommand, ExistingDataFileIsNeverOverwritten) {
    fs::create_directories(dir_);
    std::ofstream(dir_ / "MASTER.XVM") << "not ours";
    CliResult init = cli("company init " + dir_.string());
    EXPECT_EQ(init.status, 2) << init.out;
    EXPECT_NE(init.out.find("MASTER.XVM already exists"), std::string::npos) << init.out;
    EXPECT_FALSE(fs::exists(dir_ / "company.toml"));  // nothing half-made
    std::ifstream in(dir_ / "MASTER.XVM");
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "not ours");
}

}  // namespace
