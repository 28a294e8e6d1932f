// dodedoz-cli dump, run as the program itself.
#include "platform/datafile/xio.h"

#include "cli_support.h"

#include <gmock/gmock.h>

#include <fstream>
#include <string>

namespace {

using namespace dz::cli::testing;
using ::testing::HasSubstr;
using ::testing::Not;

class Dump : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch.path().empty());
        ASSERT_EQ(run("company init " + company.string() + " --modules GL,CM").status, 0);
    }

    // Runs dodedoz-cli with the words of `args`; both output streams captured in `out`.
    CliResult run(const std::string& args) { return RunCli(Words(args), root, {}, Stderr::Merged); }

    ScratchFolder scratch;
    fs::path root = scratch.path(), company = root / "co";
};

TEST_F(Dump, NewCompanyShowsOnlyTheEmptyHeaders) {
    CliResult r = run("dump --company " + company.string() + " XVM");
    EXPECT_EQ(r.status, 0);
    // The first line names the data file, so that a dump loads back as it is.
    EXPECT_EQ(r.out, "@XVM 0\nH1 LSTTBLE=\"\" LSTAPPL=0 LSTFLD=0\n");
    r = run("dump --company " + company.string() + " cmm");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "@CMM 1\nH2 CMULTCA=0\n");
}

TEST_F(Dump, RecordsComeTypeByTypeInKeyOrderWithTheirNotes) {
    std::string err;
    ASSERT_TRUE(dz::xio_load_dictionaries(fs::path(DZ_SOURCE_DATA_DIR) / "dictionary", err)) << err;
    dz::xio_set_file_control([this](const std::string&) { return company; });
    uint16_t h = 0;
    dz::xio_ask_request req;
    req.abbr = "XVM";
    ASSERT_EQ(dz::xio_ask_file(req, h), dz::XIO_OK);
    auto put = [&](uint16_t rec, const char* name, const std::string& text, double num = 0) {
        dz::x_value_def v;
        v.text = text;
        v.number = num;
        dz::xio_put_field(h, rec, dz::xio_num(h, dz::XIO_NUM_RECORD, rec, name), v);
    };
    // Written out of order, entries before groups.
    for (auto [old, nv] : {std::pair{"b2", "New \"two\""}, {"A1", "caf\xe9"}}) {
        dz::xio_init_record(h, 3);
        put(3, "FTABLE", "Main");
        put(3, "FFIELD", "", 9);
        put(3, "FOLDVAL", old);
        put(3, "NEWACCT", nv);
        ASSERT_EQ(dz::xio_wr_record(h, 3), dz::XIO_OK);
    }
    for (const char* g : {"zeta", "Alpha"}) {
        dz::xio_init_record(h, 1);
        put(1, "TABLE", g);
        put(1, "TALEN", "", 2);
        ASSERT_EQ(dz::xio_wr_record(h, 1), dz::XIO_OK);
    }
    put(1, "TABLE", "zeta");
    ASSERT_EQ(dz::xio_rd_notes(h, 1, 1), dz::XIO_OK);
    dz::xio_put_notes(h, "line one\r\rline two");
    ASSERT_EQ(dz::xio_wr_notes(h), dz::XIO_OK);
    dz::xio_cls_file(h);

    CliResult r = run("dump --company " + company.string() + " XVM --file 0");
    EXPECT_EQ(r.status, 0);
    const std::string zeros = " TBLEN=0 TCLEN=0 TBSLEN=0 TSUFLEN=0 TJ1LEN=0 TJ2LEN=0 TJ3LEN=0 TP1LEN=0 TP2LEN=0 TP3LEN=0 TP4LEN=0";
    const std::string blanks = " NEWPHAS=\"\" NEWJOB=\"\"";
    EXPECT_EQ(r.out, "@XVM 0\n"
                     "H1 LSTTBLE=\"\" LSTAPPL=0 LSTFLD=0\n"
                     "R1 TABLE=\"Alpha\" TALEN=2" + zeros + "\n"
                     "R1 TABLE=\"zeta\" TALEN=2" + zeros + "\n"
                     "N1 \"line one\\x0D\\x0Dline two\"\n"
                     "R3 FTABLE=\"Main\" FFIELD=9 FOLDVAL=\"A1\" FNEWVAL=\"\" NEWXONJ=\"\"" + blanks +
                     " NEWACCT=\"caf\\xE9\" NEWPREA=\"\" NEWPREB=\"\" NEWPREC=\"\" NEWBASE=\"\"\n"
                     "R3 FTABLE=\"Main\" FFIELD=9 FOLDVAL=\"b2\" FNEWVAL=\"\" NEWXONJ=\"\"" + blanks +
                     " NEWACCT=\"New \\\"two\\\"\" NEWPREA=\"\" NEWPREB=\"\" NEWPREC=\"\" NEWBASE=\"\"\n");
    // The same output again: nothing in the dump depends on the run.
    EXPECT_EQ(run("dump --company " + company.string() + " XVM").out, r.out);
}

// A data file no conversion writes, named like a conversion type, and a name that is no data
// file: each says where to look.
TEST_F(Dump, SaysWhereRecordsAreAndWhichNamesThereAre) {
    ASSERT_EQ(run("company init " + (root / "ap").string() + " --modules GL,CM,AP").status, 0);
    CliResult r = run("dump --company " + (root / "ap").string() + " API");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("(API text files) are converted into APM: see dump APM\n"));
    r = run("dump --company " + company.string() + " XYZ");
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.out, HasSubstr("the data files are API APM "));
    EXPECT_THAT(r.out, HasSubstr(" GLM "));
    r = run("dump --company " + company.string() + " GLM");
    EXPECT_THAT(r.out, Not(HasSubstr("converted into")));
}

TEST_F(Dump, FailuresNameWhatFailed) {
    CliResult r = run("dump --company " + company.string() + " APM");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("APM"), std::string::npos);
    r = run("dump --company " + (root / "none").string() + " XVM");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("does not exist"), std::string::npos);
    r = run("dump --company " + company.string() + " GLM --file 3");
    EXPECT_EQ(r.status, 2);
    std::ofstream(company / "MASTER.GLM", std::ios::trunc) << "not a data file";
    r = run("dump --company " + company.string() + " GLM");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("MASTER.GLM is either an old version or corrupt"), std::string::npos) << r.out;
    fs::remove(company / "MASTER.GLM");
    r = run("dump --company " + company.string() + " GLM");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("does not exist"), std::string::npos);
    EXPECT_EQ(r.out.find("does not exist"), r.out.rfind("does not exist")) << r.out;  // said once
    EXPECT_EQ(run("dump --company " + company.string()).status, 64);
}

}  // namespace
