// The PR employee sample through dodedoz-cli, end to end, on a company seeded with the sample's
// payroll setup: examined (nothing written anywhere), then converted (report, notes, reject
// file, the PR master file, the time stamp). Everything a user reads is compared byte for byte
// with golden files in tests/data/prmcli.
//
// DZ_UPDATE_GOLDEN=1 in the environment rewrites every golden file these tests compare with.
#include "cli_support.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace dz::cli::testing;

const fs::path kGolden = fs::path(DZ_TEST_DATA_DIR) / "prmcli";
const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples" / "prm";
const std::string kNow = "2026-12-06 14:30:00";

class PrmCli : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch.path().empty()) << "no scratch folder";
        dir = scratch.path();
        company = dir / "co";
        const CliResult init = Cli({"company", "init", company.string()});
        ASSERT_EQ(init.status, 0) << init.err;
        std::string settings = Slurp(company / "company.toml");
        const std::string operatorName = "[operator]\nname = \"ADMIN\"\n";
        ASSERT_NE(settings.find(operatorName), std::string::npos) << settings;
        Spit(company / "company.toml", ReplaceAll(settings, operatorName, "[operator]\nname = \"Ann Lee\"\n"));
        const CliResult load = Cli({"load", "--company", company.string(), (kSamples / "setup-payroll.load").string()});
        ASSERT_EQ(load.status, 0) << load.err;
    }

    CliResult Cli(const std::vector<std::string>& args) { return RunCli(args, dir, {{"DODEDOZ_NOW", kNow}}); }

    std::string Copy(const std::string& sample) {
        const fs::path p = dir / sample;
        fs::copy_file(kSamples / sample, p);
        return p.string();
    }

    std::string Shown(const std::string& text) const { return ReplaceAll(text, dir.string(), "<DIR>"); }

    CliResult Run(const std::string& command, const std::string& text, std::string& report, std::string& notes) {
        const fs::path r = dir / "report.txt", n = dir / "notes.txt";
        fs::remove(r);
        fs::remove(n);
        CliResult res = Cli({command, "--company", company.string(), "--report", r.string(), "--notes", n.string(),
                             text});
        report = Shown(Slurp(r));
        notes = Shown(Slurp(n));
        res.err = Shown(res.err);
        res.out = Shown(res.out);
        return res;
    }

    std::map<std::string, std::string> Files() const {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::recursive_directory_iterator(dir)) {
            const std::string name = e.path().filename().string();
            if (e.is_regular_file() && name != "report.txt" && name != "notes.txt")
                files[fs::relative(e.path(), dir).string()] = Slurp(e.path());
        }
        return files;
    }

    std::string Dump(const std::string& abbr) {
        const CliResult r = Cli({"dump", "--company", company.string(), abbr});
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }

    ScratchFolder scratch;
    fs::path dir, company;
};

TEST_F(PrmCli, ExamineReportsTheSampleAndWritesNothing) {
    const std::string text = Copy("demo-pr-employees.txt");
    const auto files = Files();
    std::string report, notes;
    const CliResult r = Run("examine", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;  // the sample's faulty lines
    ExpectGolden(report + "\f" + notes, kGolden / "demo_examine.txt");
    ExpectGolden(r.err, kGolden / "demo_examine_stderr.txt");
    EXPECT_EQ(Files(), files);  // every data file and the text file as they were
    EXPECT_FALSE(fs::exists(dir / "RejPRM.txt"));
}

TEST_F(PrmCli, ConvertWritesTheEmployeesTheRejectFileAndTheTimeStamp) {
    const std::string text = Copy("demo-pr-employees.txt");
    std::string report, notes;
    const CliResult r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    ExpectGolden(report + "\f" + notes, kGolden / "demo_convert.txt");
    ExpectGolden(r.err, kGolden / "demo_convert_stderr.txt");
    ExpectGolden(Slurp(dir / "RejPRM.txt"), kGolden / "demo_reject.txt");
    ExpectGolden(Dump("PRM"), kGolden / "demo_dump.txt");
    const std::string stamped = Slurp(text);
    EXPECT_NE(stamped.find("#,\"Previously Converted\",\"by Ann Lee\",\"on 12/6/26\",\"at 2:30PM\",\"using "
                           "xvprm.tpl\""),
              std::string::npos)
        << stamped.substr(0, 200);
}

TEST_F(PrmCli, TotalsPassUnderTheAllowTotalsTemplate) {
    const std::string text = Copy("totals.txt");
    std::string report, notes;
    const CliResult r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 0) << r.err << report;
    EXPECT_EQ(notes.find("Current totals"), std::string::npos) << notes;
    ExpectGolden(Dump("PRM"), kGolden / "totals_dump.txt");
}

}  // namespace
