// The CM bank-account sample through dodedoz-cli, end to end, on the demo company after its GL
// master sample: examined (nothing written anywhere), converted (report, notes, reject file, the
// banks and their last numbers in the CM master file, the time stamp), and converted again with
// --reconvert (every bank a duplicate, no last-numbers record written). Everything a user reads
// is compared byte for byte with golden files in tests/data/cmmcli.
//
// DZ_UPDATE_GOLDEN=1 in the environment rewrites every golden file these tests compare with.
#include "cli_support.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

using namespace dz::cli::testing;

const fs::path kGolden = fs::path(DZ_TEST_DATA_DIR) / "cmmcli";
const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples";
const std::string kNow = "2026-12-06 14:30:00";

class CmmCli : public ::testing::Test {
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
        settings = ReplaceAll(settings, operatorName, "[operator]\nname = \"Ann Lee\"\n");
        const std::size_t at = settings.find("[company]\nversion = 1\nname = \"");
        ASSERT_NE(at, std::string::npos) << settings;
        const std::size_t end = settings.find('\n', settings.find("name = ", at));
        settings.replace(at, end + 1 - at, "[company]\nversion = 1\nname = \"Northbridge Builders\"\n");
        Spit(company / "company.toml", settings);
        // The demo company's AP check format, which the sample's banks use.
        Spit(dir / "ap-formats.txt", "@APM\nR11 FNAME=\"STD\" FDESC=\"Standard check\"\n");
        const CliResult load = Cli({"load", "--company", company.string(), (dir / "ap-formats.txt").string()});
        ASSERT_EQ(load.status, 0) << load.err << load.out;
        // Every bank refers to the demo chart of accounts.
        std::string report, notes;
        ASSERT_EQ(Run("convert", Copy("glm", "demo-gl-master.txt"), report, notes).status, 1);
    }

    CliResult Cli(const std::vector<std::string>& args) { return RunCli(args, dir, {{"DODEDOZ_NOW", kNow}}); }

    std::string Copy(const std::string& folder, const std::string& sample) {
        const fs::path p = dir / sample;
        fs::copy_file(kSamples / folder / sample, p);
        return p.string();
    }

    std::string Shown(const std::string& text) const { return ReplaceAll(text, dir.string(), "<DIR>"); }

    CliResult Run(const std::string& command, const std::string& text, std::string& report, std::string& notes,
                  const std::vector<std::string>& more = {}) {
        const fs::path r = dir / "report.txt", n = dir / "notes.txt";
        fs::remove(r);
        fs::remove(n);
        std::vector<std::string> args{command, "--company", company.string(), "--report", r.string(),
                                      "--notes", n.string()};
        args.insert(args.end(), more.begin(), more.end());
        args.push_back(text);
        CliResult res = Cli(args);
        report = Shown(Slurp(r));
        notes = Shown(Slurp(n));
        res.err = Shown(res.err);
        res.out = Shown(res.out);
        return res;
    }

    static void ExpectReportAndNotes(const std::string& report, const std::string& notes, const fs::path& golden) {
        ExpectGolden(notes.empty() ? report : report + "\f" + notes, golden);
    }

    static std::map<std::string, std::string> Files(const fs::path& folder) {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::recursive_directory_iterator(folder)) {
            const std::string name = e.path().filename().string();
            if (e.is_regular_file() && name != "report.txt" && name != "notes.txt")
                files[fs::relative(e.path(), folder).string()] = Slurp(e.path());
        }
        return files;
    }

    std::string Dump(const std::string& abbr = "CMM") {
        const CliResult r = Cli({"dump", "--company", company.string(), abbr});
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }

    // The dump's lines that start with `prefix`.
    static std::vector<std::string> LinesOf(const std::string& dump, const std::string& prefix) {
        std::vector<std::string> out;
        std::istringstream in(dump);
        for (std::string line; std::getline(in, line);)
            if (line.rfind(prefix, 0) == 0) out.push_back(line);
        return out;
    }

    ScratchFolder scratch;
    fs::path dir, company;
};

TEST_F(CmmCli, ExamineReportsWhatWouldBeRejectedAndWritesNothing) {
    const std::string text = Copy("cmm", "demo-bank-accounts.txt");
    const std::string dumped = Dump();
    const auto files = Files(dir);
    std::string report, notes;
    const CliResult r = Run("examine", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;  // banks would be rejected
    EXPECT_EQ(r.out, "");
    ExpectReportAndNotes(report, notes, kGolden / "demo_examine.txt");
    ExpectGolden(r.err, kGolden / "demo_examine_stderr.txt");
    // Nothing anywhere: not the CM settings either, though the first bank turns them to several
    // cash accounts for the banks after it.
    EXPECT_EQ(Dump(), dumped);
    EXPECT_EQ(Files(dir), files);  // MASTER.CMM, MASTER.GLM, company.toml, the text file...
    EXPECT_FALSE(fs::exists(dir / "RejCMM.txt"));
}

TEST_F(CmmCli, ConvertWritesEachBankWithItsLastNumbersTheRejectFileAndTheTimeStamp) {
    const std::string text = Copy("cmm", "demo-bank-accounts.txt");
    std::string report, notes;
    const CliResult r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");
    ExpectReportAndNotes(report, notes, kGolden / "demo_convert.txt");
    ExpectGolden(r.err, kGolden / "demo_convert_stderr.txt");
    ExpectGolden(Slurp(dir / "RejCMM.txt"), kGolden / "demo_reject.txt");
    const std::string dump = Dump();
    ExpectGolden(dump, kGolden / "demo_dump.txt");
    // Every bank on file has exactly one last-numbers record; the settings use several cash
    // accounts per bank.
    EXPECT_EQ(LinesOf(dump, "R1 ").size(), 4u) << dump;
    EXPECT_EQ(LinesOf(dump, "R5 ").size(), 4u) << dump;
    for (const char* bank : {"OPERATING", "PAYROLL", "RECEIPTS", "JOBS"})
        EXPECT_NE(dump.find("LTBNKAC=\"" + std::string(bank) + "\""), std::string::npos) << bank;
    EXPECT_NE(dump.find("CMULTCA=1"), std::string::npos) << dump;

    const std::string sample = Slurp(kSamples / "cmm" / "demo-bank-accounts.txt");
    const std::string firstLine = sample.substr(0, sample.find('\n') + 1);
    EXPECT_EQ(Slurp(text), firstLine +
                               "#,\"Previously Converted\",\"by Ann Lee\",\"on 12/6/26\",\"at 2:30PM\",\"using "
                               "xvcmm.tpl\"\n" +
                               sample.substr(firstLine.size()));
}

TEST_F(CmmCli, ReconvertedEveryBankIsADuplicateAndNoLastNumbersAreWritten) {
    const std::string text = Copy("cmm", "demo-bank-accounts.txt");
    std::string report, notes;
    ASSERT_EQ(Run("convert", text, report, notes).status, 1);
    const std::string dumped = Dump();
    const CliResult r = Run("convert", text, report, notes, {"--reconvert"});
    EXPECT_EQ(r.status, 1) << r.err;
    ExpectReportAndNotes(report, notes, kGolden / "again_reconvert.txt");
    ExpectGolden(r.err, kGolden / "again_reconvert_stderr.txt");
    const std::string redumped = Dump();
    // The banks and their last numbers are as the first conversion left them; only the notes
    // lines add their notes once more.
    EXPECT_EQ(LinesOf(redumped, "R"), LinesOf(dumped, "R"));
    EXPECT_EQ(LinesOf(redumped, "H"), LinesOf(dumped, "H"));
}

}  // namespace
