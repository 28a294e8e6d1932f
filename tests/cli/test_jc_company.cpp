// A JC- and tax-ready company: the files company init creates for job cost and the JC settings a
// new JC master starts with, run as the program itself.
#include "cli_support.h"

#include <string>
#include <utility>

namespace {

using namespace dz::cli::testing;

const fs::path kJcGolden = fs::path(DZ_TEST_DATA_DIR) / "jccli";

class JcCompany : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(scratch_.path().empty()); }
    CliResult cli(const std::string& args) { return RunCli(Words(args), scratch_.path(), {}, Stderr::Merged); }
    fs::path Init(const std::string& name, const std::string& modules) {
        const fs::path dir = scratch_.path() / name;
        CliResult r = cli("company init " + dir.string() + (modules.empty() ? "" : " --modules " + modules));
        EXPECT_EQ(r.status, 0) << r.out;
        return dir;
    }

    ScratchFolder scratch_;
};

TEST_F(JcCompany, InitCreatesTheJobCostTaxAndReceivablesFiles) {
    const fs::path dir = Init("all", "");
    for (const char* f : {"MASTER.JCM", "CURRENT.JCT", "HISTORY.JCT", "MASTER.TXM", "MASTER.ARM"})
        EXPECT_TRUE(fs::exists(dir / f)) << f;
}

TEST_F(JcCompany, TheTaxMasterComesWithEveryApplicationThatReadsIt) {
    for (const char* reader : {"JC", "AP", "PM", "AR", "TX"}) {
        const fs::path dir = Init(std::string("with") + reader, std::string("GL,") + reader);
        EXPECT_TRUE(fs::exists(dir / "MASTER.TXM")) << reader;
    }
    const fs::path without = Init("without", "GL,CM,PR");
    EXPECT_FALSE(fs::exists(without / "MASTER.TXM"));
    EXPECT_FALSE(fs::exists(without / "MASTER.JCM"));
    const fs::path apOnly = scratch_.path() / "withAP";
    EXPECT_FALSE(fs::exists(apOnly / "MASTER.JCM"));  // the tax master alone, not the JC files
    EXPECT_FALSE(fs::exists(apOnly / "CURRENT.JCT"));
}

TEST_F(JcCompany, ANewJcMasterHoldsTheDemoJcSettings) {
    const fs::path dir = Init("demo", "");
    CliResult r = cli("dump --company " + dir.string() + " JCM");
    ASSERT_EQ(r.status, 0) << r.out;
    ExpectGolden(r.out, kJcGolden / "new_jcm_dump.txt");
    r = cli("dump --company " + dir.string() + " ARM");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "@ARM 1\nH2 STAXES=1\n");
    r = cli("dump --company " + dir.string() + " TXM");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "@TXM 1\n");  // no header, no records
}

TEST_F(JcCompany, SetupRecordsLoadIntoTheJcAndTaxFilesAndDumpBack) {
    const fs::path dir = Init("seeded", "");
    CliResult r = cli("load --company " + dir.string() + " " + (kJcGolden / "seed.txt").string());
    ASSERT_EQ(r.status, 0) << r.out;
    std::string all;
    for (auto [file, number] : {std::pair{"JCM", ""}, {"TXM", ""}, {"JCT", "7"}}) {
        r = cli("dump --company " + dir.string() + " " + file + (*number ? std::string(" --file ") + number : ""));
        ASSERT_EQ(r.status, 0) << file << ": " << r.out;
        all += r.out;  // dump names its data file on its first line
    }
    ExpectGolden(all, kJcGolden / "seed_dump.txt");
    // The current transactions file stays as it was made.
    r = cli("dump --company " + dir.string() + " JCT");
    EXPECT_EQ(r.out, "@JCT 6\nH1 LASTRUN=0\n");
}

}  // namespace
