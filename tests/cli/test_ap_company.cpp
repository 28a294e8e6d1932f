// An AP-ready company: the AP and CM transaction files company init creates, the AP settings a
// new AP master starts with, and AP setup records loaded and dumped back, run as the program
// itself.
#include "cli_support.h"

#include <string>
#include <utility>

namespace {

using namespace dz::cli::testing;

const fs::path kApGolden = fs::path(DZ_TEST_DATA_DIR) / "apcli";

class ApCompany : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(scratch_.path().empty()); }
    CliResult cli(const std::string& args) { return RunCli(Words(args), scratch_.path(), {}, Stderr::Merged); }
    fs::path Init(const std::string& name, const std::string& modules) {
        const fs::path dir = scratch_.path() / name;
        CliResult r = cli("company init " + dir.string() + (modules.empty() ? "" : " --modules " + modules));
        EXPECT_EQ(r.status, 0) << r.out;
        return dir;
    }
    // The dumps of the AP master, AP transaction, history invoice and CM transaction files.
    std::string DumpAll(const fs::path& dir) {
        std::string all;
        for (auto [file, number] : {std::pair{"APM", ""}, {"APT", ""}, {"API", "2"}, {"CMT", ""}}) {
            CliResult r =
                cli("dump --company " + dir.string() + " " + file + (*number ? std::string(" --file ") + number : ""));
            EXPECT_EQ(r.status, 0) << file << ": " << r.out;
            all += r.out;  // dump names its data file on its first line
        }
        return all;
    }

    ScratchFolder scratch_;
};

TEST_F(ApCompany, InitCreatesTheApAndCmTransactionFiles) {
    const fs::path dir = Init("all", "");
    for (const char* f : {"MASTER.APM", "CURRENT.APT", "NEW.API", "HISTORY.API", "CURRENT.CMT", "MASTER.CMM"})
        EXPECT_TRUE(fs::exists(dir / f)) << f;
    // The AP files come with AP, the CM transactions with CM.
    const fs::path cmOnly = Init("cm", "GL,CM");
    EXPECT_TRUE(fs::exists(cmOnly / "CURRENT.CMT"));
    EXPECT_FALSE(fs::exists(cmOnly / "MASTER.APM"));
    const fs::path apOnly = Init("ap", "GL,AP");
    EXPECT_TRUE(fs::exists(apOnly / "MASTER.APM"));
    EXPECT_TRUE(fs::exists(apOnly / "HISTORY.API"));
    EXPECT_FALSE(fs::exists(apOnly / "CURRENT.CMT"));
}

TEST_F(ApCompany, ANewApMasterHoldsTheDemoApSettings) {
    const fs::path dir = Init("demo", "");
    ExpectGolden(DumpAll(dir), kApGolden / "new_dump.txt");
}

TEST_F(ApCompany, SetupRecordsLoadIntoTheApAndCmFilesAndDumpBack) {
    const fs::path dir = Init("seeded", "");
    CliResult r = cli("load --company " + dir.string() + " " + (kApGolden / "seed.txt").string());
    ASSERT_EQ(r.status, 0) << r.out;
    ExpectGolden(DumpAll(dir), kApGolden / "seed_dump.txt");
}

}  // namespace
