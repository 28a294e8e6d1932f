// The PM lease sample through dodedoz-cli, end to end: a fresh company with the GL master sample
// converted first (its prefixes) and seeded with the sample's properties, property charges and
// deposit types, units, tenants, charge types, interest rates, corporations and SIC codes through
// `dodedoz-cli load`, the sample examined (nothing written anywhere, no finishing pass) and
// converted (report, notes, reject file, the lease, tenant, system and property files after the
// finishing pass, the time stamp). Everything a user reads is compared byte for byte with the
// golden files in tests/data/pmlcli; DZ_UPDATE_GOLDEN=1 rewrites them.
#include "sample_cli_support.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace dz::cli::testing;

const fs::path kGolden = fs::path(DZ_TEST_DATA_DIR) / "pmlcli";
const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples" / "pml";

class PmlCli : public SampleCliTest {
protected:
    PmlCli() : SampleCliTest(kSamples, {kSamples / "setup-leases.load"}) {}

    void SetUp() override {
        SampleCliTest::SetUp();
        if (HasFatalFailure()) return;
        ConvertGlMasterSample();
    }

    using SampleCliTest::Copy;
    std::string Copy() { return Copy("demo-pm-leases.txt"); }
};

TEST_F(PmlCli, ExamineReportsTheSampleAndWritesNothing) {
    const std::string text = Copy();
    const auto files = Files(dir);
    std::string report, notes;
    const CliResult r = Run("examine", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;  // records would be rejected
    ExpectGolden(report, kGolden / "examine_report.txt");
    ExpectGolden(notes, kGolden / "examine_notes.txt");
    ExpectGolden(r.err, kGolden / "examine_stderr.txt");
    // No time stamp, no reject file, not a byte changed in the company or beside the text file.
    EXPECT_TRUE(Files(dir) == files);
    EXPECT_FALSE(fs::exists(dir / "RejPML.txt"));
    // A repeat within the file is dropped through what the examination met earlier.
    EXPECT_NE(notes.find("duplicate SIC code records like '5411'"), std::string::npos) << notes;
}

TEST_F(PmlCli, ConvertWritesLeasesTenantsSystemRecordsAndUnitLinks) {
    const std::string text = Copy();
    std::string report, notes;
    const CliResult r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    ExpectGolden(report, kGolden / "convert_report.txt");
    ExpectGolden(notes, kGolden / "convert_notes.txt");
    ExpectGolden(r.err, kGolden / "convert_stderr.txt");
    ExpectGolden(Slurp(dir / "RejPML.txt"), kGolden / "convert_reject.txt");
    ExpectGolden(Dump("PML") + Dump("PMN") + Dump("PMS") + Dump("PMP"), kGolden / "convert_dump.txt");
    const std::string pmp = Dump("PMP");
    // The lease in effect on S103 starts after the one on file: it becomes the unit's current one.
    EXPECT_NE(pmp.find("UNIT=\"S103\" UCLASS=\"\" UOCC=0 ULESED=0 UCURLES=\"S103N\""), std::string::npos) << pmp;
    // A canceled lease links no unit; the finishing pass removed the link whose lease is gone.
    EXPECT_EQ(pmp.find("LULEASE=\"S102C\""), std::string::npos) << pmp;
    EXPECT_EQ(pmp.find("LULEASE=\"GONE\""), std::string::npos) << pmp;
    EXPECT_EQ(Slurp(text), Stamped(kSamples / "demo-pm-leases.txt", "xvpml.tpl"));
}

}  // namespace
