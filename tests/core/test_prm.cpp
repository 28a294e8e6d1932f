// The PR master converter: check digits and names, the payroll country's rules, settings,
// references, dispatch, records 2 to 6 and the file's ending, on a company with payroll setup
// (a pay group, two state and one city tax group, FWH and EIC statuses, a union with a local and
// a class, a job with a phase) and the shipped template.
#include "test_cmm_support.h"

#include "converters/pr/pr_rules.h"
#include "converters/pr/xvprm.h"

#include "platform/import/xvl_import.h"
#include "platform/ui/run_state.h"

#include <gmock/gmock.h>

namespace dz::pr::testing {
namespace {

using namespace dz::convert::testing;
using convert::ConvertProgress;
using convert::FindFileHandle;
using convert::OpenFilesList;
using convert::TextFileEntry;
using gl::testing::CmLine;

// ---- Check digits and names --------------------------------------------------------------------

TEST(PrRules, BankIdCheckDigitWeighsLeadingZerosAsZeros) {
    EXPECT_EQ(BankIdCheckDigit(1100001), 5);   // 011000015
    EXPECT_EQ(BankIdCheckDigit(2100002), 1);   // 021000021
    EXPECT_EQ(BankIdCheckDigit(12100035), 8);  // 121000358
    EXPECT_EQ(BankIdCheckDigit(0), 0);
    // Sum 3*1+7*1 = 10: a sum ending in 0 gives 0, not 10.
    EXPECT_EQ(BankIdCheckDigit(11000000), 0);
}

TEST(PrRules, SocialInsuranceNumbers) {
    uint16_t expected = 99;
    EXPECT_TRUE(CheckSinDigit("046-454-286", expected));
    EXPECT_EQ(expected, 6);
    EXPECT_TRUE(CheckSinDigit("046 454 286", expected));
    EXPECT_FALSE(CheckSinDigit("046-454-287", expected));
    EXPECT_EQ(expected, 6);  // the expected digit whatever the ninth
    EXPECT_TRUE(SinHasStandardFormat("046-454-286"));
    EXPECT_TRUE(SinHasStandardFormat("046 454 286"));
    EXPECT_FALSE(SinHasStandardFormat("046454286"));
    EXPECT_FALSE(SinHasStandardFormat("046/454/286"));
    EXPECT_FALSE(SinHasStandardFormat("046-45A-286"));
}

TEST(PrRules, NameShapes) {
    struct Case {
        const char* in;
        int16_t result;
        const char* out;
    };
    const Case cases[] = {
        {"Smith; John", 1, "Smith; John"},     {"Smith; John Q", 1, "Smith; John Q"},
        {"Smith, John", 1, "Smith; John"},     {"Smith,John", 1, "Smith;John"},
        {"John Smith", 1, "Smith; John"},      {"John Q. Smith", 1, "Smith; John Q."},
        {"John Q Smith", 1, "Smith; John Q"},  {"Mary-Ann Lee-Wong", 1, "Lee-Wong; Mary-Ann"},
        {"John Quincy Smith", 0, "John Quincy Smith"}, {"Smith ; John", 0, "Smith ; John"},
        {"Smith", 0, "Smith"},                 {"J Smith John", 0, "J Smith John"},
        {"John Smith 3rd", 0, "John Smith 3rd"}, {"John O'Neil", 0, "John O'Neil"},
        {"", 0, ""},
    };
    for (const Case& c : cases) {
        std::string name = c.in;
        EXPECT_EQ(ReorderEmployeeName(name), c.result) << c.in;
        EXPECT_EQ(name, c.out) << c.in;
    }
    // A reordered name longer than the field is cut to 35 characters.
    std::string longName = "Bartholomew Featherstonehaugh-Cholmondeley";
    EXPECT_EQ(ReorderEmployeeName(longName), 1);
    EXPECT_EQ(longName, std::string("Featherstonehaugh-Cholmondeley; Bartholomew").substr(0, 35));

    uint16_t one = 9;
    EXPECT_EQ(ScanNameWord("  Q. Smith", 0, &one), 4);
    EXPECT_EQ(one, 1);
    EXPECT_EQ(ScanNameWord("Smith", 0, &one), 5);
    EXPECT_EQ(one, 0);
    EXPECT_EQ(ScanNameWord(";x", 0, &one), 0);  // an empty word
}

// ---- The converter on a company --------------------------------------------------------------

const fs::path kTemplate = dz::data_folder() / "templates" / "xvprm.tpl";

class PrmTest : public ::testing::Test {
protected:
    virtual void Adjust(suite::CompanySettings&) {}

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(xio_load_dictionaries(dz::data_folder() / "dictionary", error)) << error;
        convert::ForgetFieldNumbers();
        auto settings = suite::default_settings({"GL", "JC", "CM", "AP", "PR", "PM", "AR"});
        settings.name = "Northbridge Builders";
        settings.operator_name = "Ann Lee";
        settings.lists[kCountryList] = {"USA", {"USA", "Canada"}};
        settings.formulas = {"KNOWNF"};
        Adjust(settings);
        suite::write_settings(company.path() / suite::kSettingsFileName, settings);
        suite::open_company(company.path());
        suite::xd_set_clock(suite::xd_fixed_clock({suite::zqDate(12, 6, 2026), {14, 30, 0}}));
        modules::LoadModuleDlls();
        ASSERT_EQ(xio_create_file("PRM", 1, company.path() / "MASTER.PRM"), XIO_OK);
        ASSERT_EQ(xio_create_file("PRS", 1, company.path() / "SYSTEM.PRS"), XIO_OK);
        ASSERT_EQ(xio_create_file("PRX", 1, company.path() / "MASTER.PRX"), XIO_OK);
        if (WithJcm()) {
            ASSERT_EQ(xio_create_file("JCM", 1, company.path() / "MASTER.JCM"), XIO_OK);
        }
        const fs::path templates = appData.path() / "ACCOUNTING" / "TEMPLATE";
        fs::create_directories(templates);
        for (const char* t : {"xvprm.tpl", "xvprmt.tpl"})
            fs::copy_file(dz::data_folder() / "templates" / t, templates / t);
        // A template with a record the conversion does not take and a format of another file.
        WriteFile(templates / "xvprmx.tpl",
                  "format 7\nfile PRM 1\nrecord 7\nfield EHEMPID\nfield EHTEXT\n"
                  "format S3\nfile PRS 1\nrecord 3\nfield MDDEDID\n");
        // The same records under an "allow totals" in lower case.
        std::string lower = ReadFile(templates / "xvprmt.tpl");
        lower.replace(lower.find("\"ALLOW TOTALS\""), 14, "\"allow totals\"");
        WriteFile(templates / "xvprml.tpl", lower);
        convert::SetApplicationDataFolder(appData.str());
        uint16_t error16 = 0;
        xvPRM opener;
        ASSERT_TRUE(opener.OpenFiles(list, 3020, error16));

        Seed("PRS", 5, {{"GROUP", "WEEKLY"}});
        Seed("PRS", 1, {{"PPAYID", "REG"}});
        Seed("PRS", 3, {{"MDDEDID", "401K"}});
        Seed("PRS", 4, {{"FFRGID", "HLTH"}});
        Seed("PRS", 7, {{"UNID", "CARP"}});
        Seed("PRS", 7, {{"UNID", "ELEC"}});
        Seed("PRS", 8, {{"LOCUNID", "ELEC"}, {"LOCID", "L22"}});
        Seed("PRS", 9, {{"CLUNID", "ELEC"}, {"CLLOCID", "L22"}, {"CLID", "JRN"}});
        Seed("PRS", 6, {{"DEPT", "FIELD"}});
        Seed("PRX", 2, {{"TGST", "OR"}});
        Seed("PRX", 2, {{"TGST", "WA"}});
        Seed("PRX", 3, {{"TGCITY", "PDX"}});
        for (const char* s : {"S", "M"}) Seed("PRX", 5, {{"TSID", "FWH"}, {"TSSTAT", s}});
        Seed("PRX", 5, {{"TSID", "EIC"}, {"TSSTAT", "E1"}});
        Seed("PRX", 5, {{"TSID", "PAYE"}, {"TSSTAT", "A1"}});
        if (WithJcm()) {
            uint16_t jcm = 0;
            ASSERT_EQ(xio_open_file(company.path() / "MASTER.JCM", 0, jcm), XIO_OK);
            SeedHandle(jcm, 1, {{"JOB", "100001"}});
            SeedHandle(jcm, 3, {{"PJOB", "100001"}, {"PHASE", "0110010"}});
            SeedHandle(jcm, 16, {{"SPHASE", "0120010"}});
            xio_cls_file(jcm);
        }
    }

    virtual bool WithJcm() const { return true; }

    void TearDown() override {
        for (auto& e : list)
            if (e.handle) xio_cls_file(e.handle);
        modules::ReleaseModuleDlls();
        convert::SetApplicationDataFolder("");
        suite::xd_set_clock({});
        suite::close_company();
        ui::reset_printing();
    }

    uint16_t H(const char* abbr) const { return FindFileHandle(list, abbr, 1); }

    static void SeedHandle(uint16_t h, uint16_t rec, std::initializer_list<std::pair<const char*, std::string>> keys) {
        xio_init_record(h, rec);
        for (const auto& [name, value] : keys) convert::PutText(h, rec, name, value);
        ASSERT_EQ(xio_wr_record(h, rec), XIO_OK);
        ASSERT_EQ(xio_commit(h), XIO_OK);
    }
    void Seed(const char* abbr, uint16_t rec, std::initializer_list<std::pair<const char*, std::string>> keys) {
        SeedHandle(H(abbr), rec, keys);
    }

    // An employee line (format 1) of a complete USA employee, with `more` on top.
    static std::string Emp(const std::string& id, std::map<std::string, std::string> more = {}) {
        std::map<std::string, std::string> values{{"EMPID", id},      {"ENAME", "John Smith"}, {"ESSN", "123456789"},
                                                  {"EPGID", "WEEKLY"}, {"EWORK2", "OR"},       {"EFSTAT", "S"}};
        for (auto& [k, v] : more) values[k] = v;
        return L("1", values);
    }
    static std::string L(const std::string& id, const std::map<std::string, std::string>& values,
                         const fs::path& tpl = kTemplate) {
        return CmLine(tpl, id, values);
    }

    std::string WriteText(const std::string& name, const std::string& body, const std::string& tpl = "xvprm") {
        const std::string path = texts.str(name);
        WriteFile(path, "#,PRM," + tpl + "\r\n" + body);
        return path;
    }

    std::string Run(const std::string& path, const std::string& taskName) {
        xvPRM converter;
        return Run(path, taskName, converter);
    }
    std::string Run(const std::string& path, const std::string& taskName, xvPRM& converter) {
        ui::zqTask task(taskName, 15, taskName == "Convert" ? 3020 : 3010, 5);
        const std::string reportPath = company.str("report.txt");
        const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, reportPath);
        converter.ConvertFile(list, TextFileEntry{path, 501}, &progress, print, task, "", nullptr);
        ui::zp_cls_print_file(task.ID(), 201);
        ui::xp_close_print(print);
        return ReadFile(reportPath);
    }

    // Reads record `rec` keyed by `keys` into the PR master buffer.
    bool Read(uint16_t rec, std::initializer_list<std::pair<const char*, std::string>> keys) {
        const uint16_t h = H("PRM");
        xio_init_record(h, rec);
        for (const auto& [name, value] : keys) convert::PutText(h, rec, name, value);
        return xio_rd_record(h, rec, 0, 0) == XIO_OK;
    }
    bool ReadEmp(const std::string& id) { return Read(1, {{"EMPID", id}}); }
    std::string Text(const char* name) { return convert::GetText(H("PRM"), 1, name); }
    double Number(const char* name) { return convert::GetNumber(H("PRM"), 1, name); }
    uint16_t Flag(const char* name) { return convert::GetFlag(H("PRM"), 1, name); }

    static bool Has(const std::string& report, const std::string& text) { return report.find(text) != std::string::npos; }
    static std::size_t Count(const std::string& report, const std::string& text) {
        std::size_t n = 0;
        for (std::size_t at = report.find(text); at != std::string::npos; at = report.find(text, at + 1)) ++n;
        return n;
    }

    ScratchDir company, texts, appData;
    OpenFilesList list;
    RecordingUi ui;
    ConvertProgress progress{[] { return int64_t{0}; }};
};

template <int Country, class Base = PrmTest>
class PrmCountry : public Base {
protected:
    void Adjust(suite::CompanySettings& s) override { s.country_pr = Country; }
};
using PrmCanada = PrmCountry<2>;
using PrmAustralia = PrmCountry<61>;
using PrmNoCountry = PrmCountry<0>;

// ---- Countries -----------------------------------------------------------------------------------

TEST_F(PrmNoCountry, AnUnknownCountryEndsTheFileBeforeAnyRecord) {
    const std::string text = WriteText("t.txt", Emp("E1"));
    const std::string before = ReadFile(text);
    const std::string report = Run(text, "Convert");
    EXPECT_TRUE(Has(report, "Payroll cannot be converted unless you are using the USA, Australian, or Canadian "
                            "version of Payroll(800)"))
        << report;
    EXPECT_FALSE(ReadEmp("E1"));
    EXPECT_EQ(ReadFile(text), before);  // not stamped
    ASSERT_EQ(ui.boxes.size(), 1u);
}

TEST_F(PrmTest, ADateOnlyAnotherCountryUsesIsDroppedAndOneNeverSetSaysNothing) {
    using ::testing::HasSubstr;
    const std::string report = Run(WriteText("d.txt", Emp("E1", {{"ELROEDT", "06/15/2026"}}) + Emp("E2")), "Convert");
    EXPECT_THAT(report, HasSubstr("Record of employment date is only allowed in Canada, its value ' 6/15/2026' was not "
                                  "converted(819)"));
    EXPECT_EQ(Count(report, "Record of employment date"), 1u) << report;
    ASSERT_TRUE(ReadEmp("E1"));
    EXPECT_TRUE(convert::GetDate(H("PRM"), 1, "ELROEDT").blank());
    EXPECT_TRUE(ReadEmp("E2"));
}

TEST_F(PrmTest, UsaRules) {
    const std::string text = WriteText(
        "t.txt", Emp("E1", {{"ESSN", ""}, {"ESIN", "046-454-286"}, {"EFRNCH", "Y"}, {"EMEDLV", "Y"}, {"EGID", "123"},
                            {"ETAXDED", "125.50"}, {"EPEX", "2"}, {"ERES1", "OR"}, {"ECPPL", "26"}}) +
                     Emp("E2", {{"EWORK2", ""}}) + Emp("E3", {{"EFSTAT", ""}}) + Emp("E4", {{"EMPID", ""}}) +
                     Emp("E5", {{"ENAME", ""}}) + Emp("E6", {{"EPGID", ""}}));
    const std::string report = Run(text, "Convert");
    EXPECT_TRUE(Has(report, "Social security number is blank for Employee E1 (803)")) << report;
    EXPECT_TRUE(Has(report, "Social insurance number is only allowed in Canada, its value '046-454-286' was not "
                            "converted(808)"));
    EXPECT_TRUE(Has(report, "Prefer French is only allowed in Canada, its value 'YES' was changed to 'NO'(812)"));
    EXPECT_TRUE(Has(report, "Medicare levy is only allowed in Australia, its value 'TRUE' was not converted(819)"));
    EXPECT_TRUE(Has(report, "Tax file number is only allowed in Australia, its value '123' was not converted(806)"));
    EXPECT_TRUE(Has(report, "Tax deduction is only allowed in Canada, its value '125.50' was not converted(819)"));
    EXPECT_FALSE(Has(report, "Personal exemptions"));  // the USA keeps it
    EXPECT_TRUE(Has(report, "ERES1 is not longer used, its value 'OR' was not converted(816)"));
    EXPECT_TRUE(Has(report, "ECPPL is not longer used, its value '26 per year (26)' was not converted(816)"));
    EXPECT_TRUE(Has(report, "Work state is required for Employee E2 (818)"));
    EXPECT_TRUE(Has(report, "Filing status is required for Employee E3 (821)"));
    EXPECT_TRUE(Has(report, "Employee ID is required(801)"));
    EXPECT_TRUE(Has(report, "Employee Name is required for Employee E5(802)"));
    EXPECT_TRUE(Has(report, "Pay group is required for Employee E6 (814)"));
    ASSERT_TRUE(ReadEmp("E1"));
    EXPECT_EQ(Text("ENAME"), "Smith; John");
    EXPECT_EQ(Text("ESIN"), "");
    EXPECT_EQ(Flag("EMEDLV"), 0);
    EXPECT_EQ(Number("EPEX"), 2);
    EXPECT_EQ(Number("ECPPL"), 12);
    EXPECT_EQ(Text("ECNTRY"), "USA");  // the country list's default
    EXPECT_FALSE(ReadEmp("E2"));
}

TEST_F(PrmCanada, CanadaRules) {
    const std::string text = WriteText(
        "t.txt", Emp("C1", {{"ESIN", "046 454 286"}, {"EFRNCH", "Y"}, {"EWORK2", ""}, {"EFSTAT", ""}, {"EPEX", "2"}}) +
                     Emp("C2", {{"ESIN", "046454286"}, {"EFSTAT", ""}}) +
                     Emp("C3", {{"ESIN", "046-454-287"}, {"EFSTAT", ""}, {"EMEDLV", "TRUE"}}) +
                     Emp("C4", {{"EFSTAT", "S"}}));
    const std::string examined = Run(text, "Examine");
    EXPECT_TRUE(Has(examined, "Social security number is only allowed in the USA version, its value '123456789' will "
                              "not be converted(805)"))
        << examined;
    EXPECT_TRUE(Has(examined, "Personal exemptions is only allowed in the USA and Australia, its value '2' will not be "
                              "converted(820)"));
    EXPECT_TRUE(Has(examined, "Social insurance number '046454286' has a non-standard format, it may be incorrect(810)"));
    EXPECT_TRUE(Has(examined, "Social insurance number '046-454-287' should have 6 as its check digit, it may be "
                              "incorrect(811)"));
    EXPECT_FALSE(Has(examined, "'046 454 286'"));
    EXPECT_FALSE(Has(examined, "Prefer French"));
    EXPECT_FALSE(Has(examined, "is required"));  // neither work state nor filing status
    EXPECT_TRUE(Has(examined, "Filing status is only allowed in the USA and Australia, its value 'S' will not be "
                              "converted(820)"));
    EXPECT_TRUE(Has(examined, "Medicare levy is only allowed in Australia, its value 'TRUE' will not be converted(820)"));
    EXPECT_FALSE(ReadEmp("C1"));  // Examine Files writes nothing
    Run(text, "Convert");
    ASSERT_TRUE(ReadEmp("C1"));
    EXPECT_EQ(Number("ESSN"), 0);
    EXPECT_EQ(Flag("EFRNCH"), 1);
    EXPECT_EQ(Text("ESIN"), "046 454 286");
    ASSERT_TRUE(ReadEmp("C4"));
    EXPECT_EQ(Text("EFSTAT"), "");
}

TEST_F(PrmAustralia, AustraliaRules) {
    const std::string text =
        WriteText("t.txt", Emp("A1", {{"EFSTAT", "A1"}, {"EBENTYP", "2"}, {"EMEDLV", "Y"}, {"EEICST", "E1"},
                                      {"EWCST", "OR"}, {"ETAXDED", "125.50"}}) +
                               Emp("A2", {{"EFSTAT", "A1"}, {"EBENTYP", "2"}, {"EDTHBEN", "Y"}}) +
                               Emp("A3", {{"EFSTAT", "S"}}));
    const std::string report = Run(text, "Convert");
    EXPECT_TRUE(Has(report, "Death benefit type only allowed when Death benefit is YES, 'Lump sum(2)' was "
                            "cleared(884)"))
        << report;
    EXPECT_EQ(Count(report, "Death benefit type only"), 1u);
    EXPECT_TRUE(Has(report, "EIC status is only allowed in the USA, its value 'E1' was not converted(819)"));
    EXPECT_TRUE(Has(report, "Workers comp state is only allowed in the USA and Canada, its value 'OR' was not "
                            "converted(819)"));
    EXPECT_TRUE(Has(report, "Tax deduction is only allowed in Canada, its value '125.50' was not converted(819)"));
    EXPECT_FALSE(Has(report, "Medicare levy"));
    // The filing statuses of an Australian payroll are those of PAYE.
    EXPECT_TRUE(Has(report, "Filing status 'S' is not a valid Status for Employee A3 (824)"));
    ASSERT_TRUE(ReadEmp("A1"));
    EXPECT_EQ(Number("EBENTYP"), 1);
    EXPECT_EQ(Flag("EMEDLV"), 1);
    ASSERT_TRUE(ReadEmp("A2"));
    EXPECT_EQ(Number("EBENTYP"), 2);
}

// ---- Settings --------------------------------------------------------------------------------------

TEST_F(PrmTest, OnlyTenFilingStatusesAreLoaded) {
    for (const char* s : {"A", "B", "C", "D", "E", "F", "G", "H", "I"}) Seed("PRX", 5, {{"TSID", "FWH"}, {"TSSTAT", s}});
    // Eleven statuses in key order: A..I, M, S. S is the eleventh.
    const std::string report =
        Run(WriteText("t.txt", Emp("E1", {{"EFSTAT", "M"}}) + Emp("E2", {{"EFSTAT", "S"}}) +
                                   Emp("E3", {{"EFSTAT", "m"}}) + Emp("E4", {{"EFSTAT", "M"}, {"EEICST", "E2"}})),
            "Convert");
    EXPECT_TRUE(ReadEmp("E1"));
    EXPECT_TRUE(Has(report, "Filing status 'S' is not a valid Status for Employee E2 (824)")) << report;
    // Compared with its case.
    EXPECT_TRUE(Has(report, "Filing status 'm' is not a valid Status for Employee E3 (824)"));
    EXPECT_TRUE(Has(report, "EIC status 'E2' is not a valid Status for Employee E4 (824)"));
}

TEST_F(PrmTest, CurrentTotalsNeedAllowTotalsInItsExactCase) {
    const std::string body = Emp("E1", {{"EYOT", "12.5"}, {"EYGRS", "100"}, {"EYREGN", "3"}});
    const std::string report = Run(WriteText("t.txt", body), "Convert");
    EXPECT_EQ(Count(report, "Current totals cannot be converted"), 1u) << report;
    EXPECT_TRUE(Has(report, "Current totals cannot be converted (i.e. Year overtime hours with '12.5000')(847)"));
    ASSERT_TRUE(ReadEmp("E1"));
    EXPECT_EQ(Number("EYOT"), 0);
    EXPECT_EQ(Number("EYGRS"), 0);
    EXPECT_EQ(Number("EYREGN"), 3);  // between two totals: not a total

    const std::string lower = Run(WriteText("l.txt", Emp("E2", {{"EYGRS", "100"}}), "xvprml"), "Convert");
    EXPECT_TRUE(Has(lower, "Current totals cannot be converted (i.e. Year gross pay with '100.00')(847)")) << lower;

    const std::string allowed = Run(WriteText("a.txt", Emp("E3", {{"EYGRS", "100"}}), "xvprmt"), "Convert");
    EXPECT_FALSE(Has(allowed, "Current totals")) << allowed;
    ASSERT_TRUE(ReadEmp("E3"));
    EXPECT_EQ(Number("EYGRS"), 10000);
}

TEST_F(PrmTest, DictionaryTotalsRunsHoldATotalAtEverySecondNumber) {
    const uint16_t h = H("PRM");
    struct Run {
        uint16_t rec;
        const char* first;
        const char* last;
    };
    for (const Run& r : {Run{1, "EYREG", "EMFRG"}, Run{2, "E2YREG", "E2MWKS"}, Run{3, "EPYUN", "EPMPAY"},
                         Run{4, "ETYTAX", "ETMSUBJ"}, Run{5, "EDYDED", "EDMDED"}, Run{6, "EFYFRG", "EFMFRG"},
                         Run{6, "EFYBAS", "EFMBAS"}}) {
        const uint16_t first = convert::FieldNo(h, r.rec, r.first), last = convert::FieldNo(h, r.rec, r.last);
        ASSERT_NE(first, 0) << r.first;
        ASSERT_GT(last, first) << r.last;
        EXPECT_EQ((last - first) % 2, 0) << r.first;
        for (uint16_t f = first; f <= last; ++f) {
            xio_fld_def def;
            ASSERT_EQ(xio_get_fld_def(h, f, def), XIO_OK);
            EXPECT_EQ(def.record, r.rec) << def.name;
            if ((f - first) % 2 == 0) {
                EXPECT_TRUE(def.decimals == 2 || def.decimals == 4) << def.name;
            } else {
                EXPECT_EQ(def.decimals, 0) << def.name;
            }
        }
    }
    xio_fld_def def;
    for (const char* amount : {"EPAMT", "EDAMT", "EFAMT"}) {
        const uint16_t rec = amount[1] == 'P' ? 3 : amount[1] == 'D' ? 5 : 6;
        ASSERT_EQ(xio_get_fld_def(h, convert::FieldNo(h, rec, amount), def), XIO_OK);
        EXPECT_EQ(def.decimals, 5) << amount;
    }
}

class PrmWithoutJcm : public PrmTest {
protected:
    bool WithJcm() const override { return false; }
};

TEST_F(PrmWithoutJcm, AMissingJcMasterIsNotedOnceAndItsChecksAreSkipped) {
    const std::string report =
        Run(WriteText("t.txt", Emp("E1", {{"EJOB", "999-999"}}) + Emp("E2", {{"EPHS", "01-000.00"}})), "Convert");
    EXPECT_EQ(Count(report, "Unable to open JC master file, Jobs and Phases are not being verified for existence(827)"),
              1u)
        << report;
    EXPECT_FALSE(Has(report, "is not set up in JC"));
    // A group phase is refused without the file.
    EXPECT_TRUE(Has(report, "Group Phases are not allowed, JC Phase with '01-000.00' was not converted(832)"));
    ASSERT_TRUE(ReadEmp("E1"));
    EXPECT_EQ(Text("EJOB"), "999999");
}

// ---- References ----------------------------------------------------------------------------------

TEST_F(PrmTest, SystemAndTaxFileReferences) {
    const std::string report = Run(
        WriteText("t.txt",
                  Emp("E1", {{"EPGID", "NIGHT"}, {"EPAY", "BONUS"}, {"EDEPT", "SHOP"}, {"ECCLASS", "W1"}}) +
                      Emp("E2", {{"EWORK2", "ZZ"}}) + Emp("E3", {{"EWORK3", "SEA"}}) +
                      Emp("E4", {{"ELOCAL", "L22"}, {"ECLASS", "JRN"}}) + Emp("E5", {{"ELOCAL", "L99"}}) +
                      Emp("E6", {{"EUNION", "CARP"}, {"ELOCAL", "L1"}, {"ECLASS", "APP"}}) +
                      Emp("E7", {{"EUNION", "IBEW"}, {"ECLASS", "XX"}}) + Emp("E8", {{"ECNTRY", "Canada"}})),
        "Convert");
    EXPECT_TRUE(Has(report, "Pay group 'NIGHT' does not yet exist, the field was converted but the pay group needs to "
                            "be created(815)"))
        << report;
    EXPECT_TRUE(Has(report, "Pay ID 'BONUS' does not yet exist, the field was converted but the pay ID needs to be "
                            "created(825)"));
    EXPECT_TRUE(Has(report, "Department 'SHOP' does not yet exist, the field converted but the Department needs "
                            "created(845)"));
    EXPECT_TRUE(Has(report, "Work order 'W1' does not yet exist, the field converted but the record needs created(845)"));
    EXPECT_TRUE(Has(report, "Work state 'ZZ' is not a valid State tax group for Employee E2 (822)"));
    EXPECT_TRUE(Has(report, "Work city 'SEA' is not a valid City tax group for Employee E3 (823)"));
    // The union walk finds L22 under ELEC; the class alone is known.
    EXPECT_FALSE(Has(report, "'L22'"));
    EXPECT_FALSE(Has(report, "'JRN'"));
    EXPECT_TRUE(Has(report, "Union Local 'L99' does not yet exist, the field converted but the Union Local needs "
                            "created(845)"));
    EXPECT_TRUE(Has(report, "Union Local 'CARP, L1' does not yet exist, the Union Local needs created(845)"));
    EXPECT_TRUE(Has(report, "Union Class 'CARP, L1, APP' does not yet exist, the Union Class needs created(845)"));
    EXPECT_TRUE(Has(report, "Union ID 'IBEW' does not yet exist, the field converted but the Union needs created(845)"));
    EXPECT_TRUE(Has(report, "Union Class 'XX' does not yet exist, the field converted but the Union Class needs "
                            "created(845)"));
    ASSERT_TRUE(ReadEmp("E1"));
    EXPECT_EQ(Text("EPGID"), "NIGHT");
    EXPECT_EQ(Text("EPAY"), "BONUS");
    EXPECT_FALSE(ReadEmp("E2"));
    ASSERT_TRUE(ReadEmp("E8"));
    EXPECT_EQ(Text("ECNTRY"), "Canada");
}

// Lines in a row that name a known value, an unknown one and the known one again: each is
// judged on its own value, never on the line's before.
TEST_F(PrmTest, ReferencesAlternatingBetweenKnownAndUnknownAreEachJudged) {
    const std::string report =
        Run(WriteText("t.txt", Emp("E1") + Emp("E2", {{"EPGID", "NIGHT"}}) + Emp("E3") +
                                   Emp("E4", {{"EPGID", "NIGHT"}}) + Emp("E5", {{"EWORK2", "WA"}}) +
                                   Emp("E6", {{"EWORK2", "ZZ"}}) + Emp("E7") + Emp("E8", {{"EWORK2", "ZZ"}})),
            "Convert");
    EXPECT_EQ(Count(report, "Pay group 'NIGHT' does not yet exist"), 2u) << report;
    EXPECT_EQ(Count(report, "Work state 'ZZ' is not a valid State tax group"), 2u);
    for (const char* e : {"E1", "E2", "E3", "E4", "E5", "E7"}) EXPECT_TRUE(ReadEmp(e)) << e;
    for (const char* e : {"E6", "E8"}) EXPECT_FALSE(ReadEmp(e)) << e;
}

TEST_F(PrmTest, JobCostAndEquipmentWhileInterfacing) {
    const std::string report =
        Run(WriteText("t.txt", Emp("E1", {{"EJOB", "999-999"}, {"EPHS", "02-200.20"}}) +
                                   Emp("E2", {{"EJOB", "100-001"}, {"EPHS", "01-100.10"}}) +
                                   Emp("E3", {{"EPHS", "01-300.10"}}) + Emp("E6", {{"EPHS", "01-200.10"}}) + Emp("E4", {{"EPHS", "01-000.00"}}) +
                                   Emp("E5", {{"EEQ", "BACKHOE1"}, {"ECOST", "100-200"}, {"EABILL", "Y"}}) +
                                   Emp("E7", {{"EABILL", "Y"}})),
            "Examine");
    EXPECT_TRUE(Has(report, "Job '999-999' is not set up in JC, it may be invalid(834)")) << report;
    EXPECT_TRUE(Has(report, "Phase '02-200.20' is not set up in JC for Job '999-999', it may be invalid(835)"));
    EXPECT_FALSE(Has(report, "'100-001'"));
    EXPECT_FALSE(Has(report, "'01-200.10'"));  // a standard phase
    EXPECT_TRUE(Has(report, "Standard Phase '01-300.10' is not set up in JC, it may be invalid(836)")) << report;
    EXPECT_TRUE(Has(report, "Group Phases are not allowed, JC Phase with '01-000.00' will not be converted(833)"));
    EXPECT_TRUE(Has(report, "Not interfacing with EQ, Equipment 'BACKHOE1' will not be converted(838)"));
    EXPECT_TRUE(Has(report, "Not interfacing with EQ, Cost code '100-200' will not be converted(840)"));
    EXPECT_EQ(Count(report, "Not interfacing with EQ, Auto bill EQ revenue 'TRUE' will not be converted(840)"), 2u);
}

class PrmNoJc : public PrmTest {
protected:
    void Adjust(suite::CompanySettings& s) override {
        for (auto& i : s.interfaces)
            if (i.from == "PR" && i.to == "JC") i.active = false;
    }
};

TEST_F(PrmNoJc, JobAndPhaseAreDroppedWithoutTheInterface) {
    const std::string report =
        Run(WriteText("t.txt", Emp("E1", {{"EJOB", "100-001"}, {"EPHS", "01-100.10"}})), "Convert");
    EXPECT_TRUE(Has(report, "Not interfacing with JC, Job '100-001' was not converted(828)")) << report;
    EXPECT_TRUE(Has(report, "Not interfacing with JC, Phase '01-100.10' was not converted(830)"));
    ASSERT_TRUE(ReadEmp("E1"));
    EXPECT_EQ(Text("EJOB"), "");
    EXPECT_EQ(Text("EPHS"), "");
}

class PrmWithEq : public PrmTest {
protected:
    void Adjust(suite::CompanySettings& s) override {
        s.installed.insert("EQ");
        s.interfaces.push_back({"PR", "EQ", true, true});
    }
};

TEST_F(PrmWithEq, EquipmentIsCheckedWhenItsFilesOpen) {
    // Neither EQ file exists: one notes line, and the values are kept unchecked.
    std::string report = Run(WriteText("t.txt", Emp("E1", {{"EEQ", "BACKHOE1"}})), "Convert");
    EXPECT_EQ(Count(report, "Unable to open EQ files, Equipment and EQ Cost code are not being verified for "
                            "existence(841)"),
              1u)
        << report;
    ASSERT_TRUE(ReadEmp("E1"));
    EXPECT_EQ(Text("EEQ"), "BACKHOE1");

    ASSERT_EQ(xio_create_file("EQM", 1, company.path() / "MASTER.EQM"), XIO_OK);
    report = Run(WriteText("u.txt", Emp("E2", {{"EEQ", "BACKHOE1"}, {"ECOST", "100-200"}})), "Convert");
    EXPECT_TRUE(Has(report, "Unable to open EQ Standard file, EQ Cost code is not being verified for existence(843)"))
        << report;
    EXPECT_TRUE(Has(report, "Equipment 'BACKHOE1' is not set up in EQ, it may be invalid(844)"));
    ASSERT_EQ(xio_create_file("EQS", 1, company.path() / "STANDARD.EQS"), XIO_OK);
    report = Run(WriteText("v.txt", Emp("E3", {{"ECOST", "100-200"}})), "Convert");
    EXPECT_TRUE(Has(report, "EQ Cost code '100-200' is not set up in EQ, it may be invalid(844)")) << report;
}

// ---- Dispatch and records 2 to 6 ---------------------------------------------------------------------

TEST_F(PrmTest, RecordsOutsideTheConversionAreRefused) {
    const fs::path tpl = appData.path() / "ACCOUNTING" / "TEMPLATE" / "xvprmx.tpl";
    const std::string report = Run(
        WriteText("t.txt", L("7", {{"EHEMPID", "E1"}, {"EHTEXT", "Hired"}}, tpl) + L("S3", {{"MDDEDID", "X"}}, tpl),
                  "xvprmx"),
        "Convert");
    EXPECT_TRUE(Has(report, "Record type 'Employee history' cannot be converted as part of a PR Master "
                            "conversion(75)"))
        << report;
    EXPECT_TRUE(Has(report, "Record type 'S3' cannot be converted as part of a PR Master conversion(75)"));
}

TEST_F(PrmTest, RecordsTwoToSixNeedTheirEmployee) {
    const std::string before = L("5", {{"EDEMPID", "E1"}, {"EDDEDID", "401K"}});
    const std::string after = L("3", {{"EPEMPID", "E1"}, {"EPPAYID", "REG"}, {"EPYPAY", "10"}}) +
                              L("2", {{"EMPID2", "E1"}, {"E2WORK2", "WA"}}) +
                              L("6", {{"EFEMPID", "E1"}, {"EFFRGID", "HLTH"}, {"EFYBAS", "5"}}) +
                              L("4", {{"ETEMPID", ""}, {"ETTXID", "FWH"}}) +
                              L("4", {{"ETEMPID", "E9"}, {"ETTXID", "FWH"}});
    // An employee rejected by its own handler does not count.
    const std::string body = before + Emp("E1") + Emp("E2", {{"EPGID", ""}}) + after +
                             L("6", {{"EFEMPID", "E2"}, {"EFFRGID", "HLTH"}});
    for (const char* mode : {"Examine", "Convert"}) {
        const std::string report = Run(WriteText(std::string(mode) + ".txt", body), mode);
        EXPECT_TRUE(Has(report, "The Employee 'E1' has not been set up, this Employee Deduct record cannot be "
                                "converted(848)"))
            << mode << report;
        EXPECT_FALSE(Has(report, "Employee Pay record")) << mode;
        EXPECT_FALSE(Has(report, "'E1' has not been set up, this Employee State")) << mode;
        EXPECT_TRUE(Has(report, "Employee ID is required(801)")) << mode;
        EXPECT_TRUE(Has(report, "The Employee 'E9' has not been set up, this Employee Tax record cannot be "
                                "converted(848)"))
            << mode;
        EXPECT_TRUE(Has(report, "The Employee 'E2' has not been set up, this Employee Fringe record cannot be "
                                "converted(848)"))
            << mode;
        EXPECT_TRUE(Has(report, "Current totals cannot be converted (i.e. Year pay with '10.00')(847)")) << mode;
        EXPECT_TRUE(Has(report, "Current totals cannot be converted (i.e. Year fringe basis with '5.00')(847)"))
            << mode << report;
    }
    EXPECT_TRUE(Read(3, {{"EPEMPID", "E1"}, {"EPPAYID", "REG"}}));
    EXPECT_EQ(convert::GetNumber(H("PRM"), 3, "EPYPAY"), 0);
    EXPECT_FALSE(Read(5, {{"EDEMPID", "E1"}, {"EDDEDID", "401K"}}));
}

// ---- Records 2 to 6 against the setup ------------------------------------------------------------

using ::testing::HasSubstr;
using ::testing::Not;

TEST(PrRules, RoundToCentsHalfAwayFromZeroOnTheStoredNumber) {
    EXPECT_EQ(RoundToCents(1234567), 1235000);    // 12.34567 -> 12.35
    EXPECT_EQ(RoundToCents(-1234567), -1235000);
    EXPECT_EQ(RoundToCents(1234500), 1235000);    // exactly half a cent
    EXPECT_EQ(RoundToCents(-1234500), -1235000);
    EXPECT_EQ(RoundToCents(1234499), 1234000);
    EXPECT_EQ(RoundToCents(-1234499), -1234000);
    EXPECT_EQ(RoundToCents(1234000), 1234000);
    EXPECT_EQ(RoundToCents(499), 0);
}

// Employees on file, the setup records each test names, and the records read back.
class PrmRecords : public PrmTest {
protected:
    void SetUp() override {
        PrmTest::SetUp();
        if (HasFatalFailure()) return;
        for (const char* e : {"E1", "E2", "E3"}) Seed("PRM", 1, {{"EMPID", e}});
    }
    // A setup record with its key texts and its numbers, choices and yes/no values.
    void Define(const char* abbr, uint16_t rec, std::initializer_list<std::pair<const char*, std::string>> keys,
               std::initializer_list<std::pair<const char*, double>> numbers) {
        const uint16_t h = H(abbr);
        xio_init_record(h, rec);
        for (const auto& [name, value] : keys) convert::PutText(h, rec, name, value);
        for (const auto& [name, value] : numbers) {
            xio_fld_def def;
            ASSERT_EQ(xio_get_fld_def(h, convert::FieldNo(h, rec, name), def), XIO_OK) << name;
            if (def.type == 2)
                convert::PutFlag(h, rec, name, static_cast<uint16_t>(value));
            else
                convert::PutNumber(h, rec, name, value);
        }
        ASSERT_EQ(xio_wr_record(h, rec), XIO_OK);
        ASSERT_EQ(xio_commit(h), XIO_OK);
    }
    // Record `rec` read back by its two key fields, field `name`.
    double NumberOf(uint16_t rec, std::pair<const char*, std::string> a, std::pair<const char*, std::string> b,
                    const char* name) {
        EXPECT_TRUE(Read(rec, {a, b})) << a.second << "/" << b.second;
        return convert::GetNumber(H("PRM"), rec, name);
    }
    std::string TextOf(uint16_t rec, std::pair<const char*, std::string> a, std::pair<const char*, std::string> b,
                       const char* name) {
        EXPECT_TRUE(Read(rec, {a, b})) << a.second << "/" << b.second;
        return convert::GetText(H("PRM"), rec, name);
    }
    // A line of record `rec` (2 to 6) of employee `emp` under the setup id `id`, with `more`.
    static std::string R(int rec, const std::string& emp, const std::string& id,
                         std::map<std::string, std::string> more = {}) {
        static const std::pair<const char*, const char*> keys[] = {
            {"EMPID2", "E2WORK2"}, {"EPEMPID", "EPPAYID"}, {"ETEMPID", "ETTXID"}, {"EDEMPID", "EDDEDID"},
            {"EFEMPID", "EFFRGID"}};
        more[keys[rec - 2].first] = emp;
        more[keys[rec - 2].second] = id;
        return L(std::to_string(rec), more);
    }
    static std::string W(const std::string& emp, const std::string& work, std::map<std::string, std::string> more = {}) {
        return R(2, emp, work, std::move(more));
    }
};

TEST_F(PrmRecords, WorkStatesAndTheirJurisdictionStatuses) {
    for (const char* s : {"S", "M"}) Seed("PRX", 5, {{"TSID", "ORSWH"}, {"TSSTAT", s}});
    // Eleven statuses under TX; the eleventh, K, is past what the collection keeps.
    Seed("PRX", 2, {{"TGST", "TX"}});
    for (const char* s : {"A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K"})
        Seed("PRX", 5, {{"TSID", "TXSWH"}, {"TSSTAT", s}});
    const std::string report = Run(
        WriteText("t.txt", W("", "") + W("E1", "ZZ") + W("E1", "OR", {{"E2FSTAT", "s"}, {"E2TXDED", "123.45"}}) +
                               W("E2", "OR", {{"E2PEX", "2"}}) + W("E3", "OR", {{"E2FSTAT", "X"}}) +
                               W("E2", "WA", {{"E2FSTAT", "S"}}) + W("E3", "WA", {{"E2PEX", "1"}}) +
                               W("E1", "TX", {{"E2FSTAT", "k"}}) + W("E2", "TX", {{"E2FSTAT", "Q"}}) +
                               W("E3", "TX", {{"E2USEFD", "N"}}) + W("E9", "OR")),
        "Convert");
    EXPECT_THAT(report, HasSubstr("Employee ID is required(801)"));
    EXPECT_THAT(report, Not(HasSubstr("Employee Work State is required")));  // the id comes first
    EXPECT_THAT(report, HasSubstr("Work state 'ZZ' is not a valid State tax group for Employee E1 (822)"));
    EXPECT_THAT(report, HasSubstr("Tax deduction is only allowed in Canada, its value '123.45' was not "
                                  "converted(819)"));
    EXPECT_THAT(report, HasSubstr("Filing status 'X' is not a valid Status for Employee E3 (824)"));
    EXPECT_THAT(report, HasSubstr("Filing status 'S' is not a valid Status for Employee E2 (824)"));  // WA has none
    EXPECT_THAT(report, HasSubstr("Filing status 'Q' is not a valid Status for Employee E2 (824)"));
    // Told not to use the federal status, a blank one has nothing to stand in for it.
    EXPECT_THAT(report, HasSubstr("Filing status '' is not a valid Status for Employee E3 (824)"));
    EXPECT_THAT(report, HasSubstr("The Employee 'E9' has not been set up, this Employee State record"));
    // Lower case matches; the federal status stands in for a blank one; no column, no note.
    EXPECT_EQ(TextOf(2, {"EMPID2", "E1"}, {"E2WORK2", "OR"}, "E2FSTAT"), "s");
    EXPECT_EQ(convert::GetFlag(H("PRM"), 2, "E2USEFD"), 0);  // a status of its own
    EXPECT_EQ(convert::GetNumber(H("PRM"), 2, "E2TXDED"), 0);
    EXPECT_EQ(NumberOf(2, {"EMPID2", "E2"}, {"E2WORK2", "OR"}, "E2PEX"), 0);
    EXPECT_EQ(convert::GetFlag(H("PRM"), 2, "E2USEFD"), 1);
    EXPECT_EQ(NumberOf(2, {"EMPID2", "E3"}, {"E2WORK2", "WA"}, "E2PEX"), 0);  // no statuses: blank passes
    // A jurisdiction of more than ten statuses knows all of them, in any case.
    EXPECT_TRUE(Read(2, {{"EMPID2", "E1"}, {"E2WORK2", "TX"}}));
    EXPECT_THAT(report, Not(HasSubstr("is only allowed in the USA,")));
}

TEST_F(PrmCanada, WorkStatesInCanada) {
    Seed("PRX", 2, {{"TGST", "BC"}});
    Seed("PRX", 5, {{"TSID", "BCTAX"}, {"TSSTAT", "A"}});
    Seed("PRM", 1, {{"EMPID", "C1"}});
    // A template without the "use federal status" column.
    const fs::path folder = appData.path() / "ACCOUNTING" / "TEMPLATE";
    std::string narrow = ReadFile(folder / "xvprm.tpl");
    narrow.erase(narrow.find("field E2USEFD\n"), 14);
    WriteFile(folder / "xvprmn.tpl", narrow);
    const std::string examined =
        Run(WriteText("t.txt", L("2", {{"EMPID2", "C1"}, {"E2WORK2", "OR"}, {"E2FSTAT", "S"}, {"E2TAXCD", "3"},
                                       {"E2TXDED", "123.45"}, {"E2USEFD", "N"}}) +
                                   L("2", {{"EMPID2", "C1"}, {"E2WORK2", "BC"}}) +
                                   L("2", {{"EMPID2", "C1"}, {"E2WORK2", "WA"}})),
            "Examine");
    const std::string narrowed =
        Run(WriteText("n.txt", L("2", {{"EMPID2", "C1"}, {"E2WORK2", "WA"}}, folder / "xvprmn.tpl"), "xvprmn"),
            "Convert");
    // Only a "use federal status" the line gave is reported; one it never had is filled in.
    EXPECT_EQ(Count(examined + narrowed, "Use federal status is only allowed"), 1u);
    ASSERT_TRUE(Read(2, {{"EMPID2", "C1"}, {"E2WORK2", "WA"}}));
    EXPECT_EQ(convert::GetFlag(H("PRM"), 2, "E2USEFD"), 1);
    EXPECT_THAT(examined, HasSubstr("Filing status is only allowed in the USA and Australia, its value 'S' will not "
                                    "be converted(820)"));
    EXPECT_THAT(examined, HasSubstr("Tax code is only allowed in the USA and Australia, its value '3' will not be "
                                    "converted(820)"));
    EXPECT_THAT(examined, HasSubstr("Use federal status is only allowed in the USA, its value 'FALSE' will not be "
                                    "converted(820)"));
    EXPECT_THAT(examined, Not(HasSubstr("Tax deduction")));
    // Canada's jurisdictions with statuses under "TAX" take no record 2.
    EXPECT_THAT(examined, HasSubstr("Filing status '' is not a valid Status for Employee C1 (824)"));
}

TEST_F(PrmRecords, PaysFollowTheirPayId) {
    Define("PRS", 1, {{"PPAYID", "OT"}}, {{"PTYPE", 2}, {"PCALC", 1}, {"PWAOT", 1}});
    Define("PRS", 1, {{"PPAYID", "SALWK"}}, {{"PTYPE", 1}, {"PCALC", 2}, {"PSAL", 1}});
    Define("PRS", 1, {{"PPAYID", "MISC"}}, {{"PTYPE", 4}, {"PCALC", 4}});
    auto pay = [](const std::string& emp, const std::string& id, std::map<std::string, std::string> more) {
        return R(3, emp, id, std::move(more));
    };
    const std::string report = Run(
        WriteText("t.txt",
                  pay("E1", "OT", {{"EPPTYPE", "1"}, {"EPCALC", "15"}}) +
                      pay("E2", "OT", {{"EPPTYPE", "3"}, {"EPCALC", "5"}, {"EPAUTO", "Y"}, {"EPAMT", "12.5"}}) +
                      pay("E1", "SALWK", {{"EPAUTO", "Y"}, {"EPAMT", "12.34567"}, {"EPFREQ", "3"}, {"EPSEQ", "2"}}) +
                      pay("E2", "SALWK", {{"EPAMT", "-12.34567"}}) + pay("E3", "SALWK", {{"EPAMT", "12.34"}}) +
                      pay("E1", "MISC", {{"EPCALC", "14"}, {"EPFID", "MISSF"}, {"EPAUTO", "Y"}, {"EPAMT", "1.23456"}}) +
                      pay("E2", "MISC", {{"EPCALC", "5"}, {"EPFID", "KNOWNF"}}) +
                      pay("E3", "MISC", {{"EPCALC", "14"}, {"EPFID", "knownf"}}) + pay("E1", "BONUS", {}) +
                      pay("E1", "", {})),
        "Convert");
    EXPECT_THAT(report, HasSubstr("Pay Type has changed from 'Salary (3)' to 'Overtime (2)' as required for Pay ID "
                                  "'OT'(852)"));
    EXPECT_EQ(Count(report, "Pay Type has changed"), 1u);  // type 1 takes it over silently
    EXPECT_THAT(report, HasSubstr("Calc method has changed from 'Method 5 (5)' to 'Hourly (1)' as req with Pay ID "
                                  "'OT'(856)"));
    EXPECT_EQ(Count(report, "Calc method has changed"), 1u);  // 15 too
    EXPECT_THAT(report, HasSubstr("Automatic has changed from 'YES' to 'NO' as req with Pay ID 'OT'(858)"));
    EXPECT_THAT(report, HasSubstr("Automatic has changed from 'YES' to 'NO' as req with Pay ID 'SALWK'(858)"));
    EXPECT_THAT(report, HasSubstr("Amount with '12.50000' was cleared because the Pay ID record is using weighted "
                                  "average OT(890)"));
    // Made not automatic, the record loses what only automatic pays use.
    EXPECT_THAT(report, HasSubstr("Frequency cannot have a value unless Automatic is 'YES', 'Semimonthly (3)' was not "
                                  "converted(862)"));
    EXPECT_THAT(report, HasSubstr("Sequence cannot have a value unless Automatic is 'YES', '2' was not "
                                  "converted(862)"));
    EXPECT_THAT(report, HasSubstr("Formula 'MISSF' does not yet exist, the field converted but the formula needs "
                                  "created(854)"));
    EXPECT_THAT(report, HasSubstr("Formula cannot have a value unless Calc Method is 'Formula (14)', 'KNOWNF' was not "
                                  "converted(860)"));
    EXPECT_THAT(report, Not(HasSubstr("'knownf'")));
    EXPECT_THAT(report, HasSubstr("Pay ID 'BONUS' does not yet exist, it is required for this Employee Pay record, "
                                  "Employee E1(851)"));
    EXPECT_THAT(report, HasSubstr("Employee Pay ID is required for Employee E1(850)"));
    EXPECT_EQ(NumberOf(3, {"EPEMPID", "E1"}, {"EPPAYID", "OT"}, "EPPTYPE"), 2);
    EXPECT_EQ(convert::GetNumber(H("PRM"), 3, "EPCALC"), 1);
    EXPECT_EQ(NumberOf(3, {"EPEMPID", "E2"}, {"EPPAYID", "OT"}, "EPAMT"), 0);
    EXPECT_EQ(NumberOf(3, {"EPEMPID", "E1"}, {"EPPAYID", "SALWK"}, "EPAMT"), 1235000);
    EXPECT_EQ(convert::GetNumber(H("PRM"), 3, "EPFREQ"), 7);
    EXPECT_EQ(NumberOf(3, {"EPEMPID", "E2"}, {"EPPAYID", "SALWK"}, "EPAMT"), -1235000);
    EXPECT_EQ(NumberOf(3, {"EPEMPID", "E3"}, {"EPPAYID", "SALWK"}, "EPAMT"), 1234000);
    // Neither salaried nor hourly: five decimals kept, the missing formula too.
    EXPECT_EQ(NumberOf(3, {"EPEMPID", "E1"}, {"EPPAYID", "MISC"}, "EPAMT"), 123456);
    EXPECT_EQ(TextOf(3, {"EPEMPID", "E1"}, {"EPPAYID", "MISC"}, "EPFID"), "MISSF");
    EXPECT_EQ(TextOf(3, {"EPEMPID", "E2"}, {"EPPAYID", "MISC"}, "EPFID"), "");
}

// Records in a row that name a known pay ID, an unknown one and the known one again.
TEST_F(PrmRecords, PayIdsAlternatingBetweenKnownAndUnknownAreEachJudged) {
    const std::string report = Run(WriteText("t.txt", R(3, "E1", "REG") + R(3, "E1", "BONUS") + R(3, "E2", "REG") +
                                                          R(3, "E2", "BONUS") + R(3, "E3", "reg")),
                                   "Convert");
    EXPECT_EQ(Count(report, "Pay ID 'BONUS' does not yet exist"), 2u) << report;
    for (const char* e : {"E1", "E2", "E3"}) EXPECT_TRUE(Read(3, {{"EPEMPID", e}, {"EPPAYID", "REG"}})) << e;
}

TEST_F(PrmRecords, TaxesFollowTheirTaxId) {
    Define("PRX", 4, {{"TXID", "FWH"}}, {{"TXLEV", 2}, {"TXTBL", 2}});
    Define("PRX", 4, {{"TXID", "ORWH"}}, {{"TXLEV", 3}, {"TXTBL", 2}});
    Define("PRX", 4, {{"TXID", "WCOMP"}}, {{"TXLEV", 3}, {"TXTBL", 3}});
    auto tax = [](const std::string& emp, const std::string& id, std::map<std::string, std::string> more) {
        return R(4, emp, id, std::move(more));
    };
    const std::string report = Run(
        WriteText("t.txt", tax("E1", "ORWH", {{"ETLEV", "1"}, {"ETAMETH", "4"}, {"ETAAMT", "15.00"}}) +
                               tax("E2", "ORWH", {{"ETLEV", "4"}}) +
                               tax("E1", "WCOMP", {{"ETAMETH", "4"}, {"ETAAMT", "25.00"}}) +
                               tax("E2", "FWH", {{"ETAMETH", "2"}, {"ETAAMT", "15.00"}, {"ETRECIP", "fwh"}}) +
                               tax("E3", "FWH", {{"ETAMETH", "5"}, {"ETFID", "TAXF"}, {"ETRECIP", "ORWH"}}) +
                               tax("E3", "ORWH", {{"ETAMETH", "8"}, {"ETFID", "TAXF"}}) + tax("E1", "NOTAX", {}) +
                               tax("E1", "FWH", {{"ETAMETH", "3"}, {"ETAAMT", "7.00"}})),
        "Convert");
    EXPECT_THAT(report, HasSubstr("Tax level of 'Local (4)' in the text file doesn't match 'State (3)' for the Tax ID "
                                  "'ORWH'(866)"));
    EXPECT_THAT(report, HasSubstr("Adj method must be 'No adj(1)' when Tax ID table type is 'WC table(3)', 'Add "
                                  "amount(4)' was changed(892)"));
    EXPECT_THAT(report, HasSubstr("Adj Amount with '25.00' cannot be converted"));
    EXPECT_THAT(report, HasSubstr("Adj Amount with '15.00' cannot be converted, Adj method is 'No adjust (1)', 'No "
                                  "tax (2)' or 'Exempt (3)(868)"));
    EXPECT_THAT(report, HasSubstr("Adj Amount with '7.00' cannot be converted"));  // exempt
    EXPECT_EQ(NumberOf(4, {"ETEMPID", "E1"}, {"ETTXID", "FWH"}, "ETAAMT"), 0);
    EXPECT_EQ(Count(report, "Adj Amount with"), 3u);  // method 4 keeps its amount
    EXPECT_THAT(report, HasSubstr("Formula cannot have a value unless Adj Method is 'Formula (8)', 'TAXF' was not "
                                  "converted(869)"));
    EXPECT_EQ(Count(report, "Formula 'TAXF' does not yet exist"), 1u);  // method 8 only
    EXPECT_THAT(report, HasSubstr("Reciprocal tax with 'FWH' cannot be converted because it is has the same value as "
                                  "the Tax ID(871)"));
    EXPECT_THAT(report, HasSubstr("Tax ID 'NOTAX' does not yet exist, it is required for this Employee Tax record, "
                                  "Employee E1(865)"));
    EXPECT_EQ(NumberOf(4, {"ETEMPID", "E1"}, {"ETTXID", "ORWH"}, "ETLEV"), 3);
    EXPECT_EQ(convert::GetNumber(H("PRM"), 4, "ETAAMT"), 1500);
    EXPECT_FALSE(Read(4, {{"ETEMPID", "E2"}, {"ETTXID", "ORWH"}}));
    EXPECT_EQ(NumberOf(4, {"ETEMPID", "E1"}, {"ETTXID", "WCOMP"}, "ETAMETH"), 1);
    EXPECT_EQ(TextOf(4, {"ETEMPID", "E3"}, {"ETTXID", "FWH"}, "ETRECIP"), "ORWH");  // the USA keeps it
    EXPECT_EQ(TextOf(4, {"ETEMPID", "E2"}, {"ETTXID", "FWH"}, "ETRECIP"), "");
}

TEST_F(PrmCanada, AReciprocalTaxIsDroppedInCanada) {
    Seed("PRX", 4, {{"TXID", "FWH"}});
    Seed("PRM", 1, {{"EMPID", "C1"}});
    const std::string report =
        Run(WriteText("t.txt", L("4", {{"ETEMPID", "C1"}, {"ETTXID", "FWH"}, {"ETRECIP", "ORWH"}})), "Convert");
    EXPECT_THAT(report, HasSubstr("Reciprocal tax is only allowed in the USA and Australia, its value 'ORWH' was not "
                                  "converted(819)"));
}

// Deductions of every type, for the Net Direct Deposit and bank rules.
class PrmDeductions : public PrmRecords {
protected:
    void SetUp() override {
        PrmRecords::SetUp();
        if (HasFatalFailure()) return;
        Define("PRS", 3, {{"MDDEDID", "UNION"}}, {{"MDTYPE", 1}, {"MDCALC", 1}});
        Define("PRS", 3, {{"MDDEDID", "DD"}}, {{"MDTYPE", 2}, {"MDCALC", 4}});
        Define("PRS", 3, {{"MDDEDID", "NDD"}}, {{"MDTYPE", 3}, {"MDCALC", 4}});
        Define("PRS", 3, {{"MDDEDID", "NDD2"}}, {{"MDTYPE", 3}, {"MDCALC", 4}});
    }
    static std::string D(const std::string& emp, const std::string& id, std::map<std::string, std::string> more = {}) {
        more.emplace("EDAUTO", "Y");
        return R(5, emp, id, std::move(more));
    }
};

TEST_F(PrmDeductions, OneNetDirectDepositPerEmployee) {
    const std::string body = D("E1", "NDD", {{"EDCALC", "4"}, {"EDFID", "KNOWNF"}, {"EDAMT", "25"},
                                             {"EDLIMIT", "10.00"}, {"EDSEQ", "3"}}) +
                             D("E1", "NDD2") + D("E2", "NDD");
    const std::string text = WriteText("t.txt", body);
    const std::string examined = Run(text, "Examine");
    EXPECT_THAT(examined, HasSubstr("Deduction ID 'NDD2' is Net Direct Deposit, only one Net Direct Deposit can exist "
                                    "for Employee E1(874)"));
    EXPECT_EQ(Count(examined, "(874)"), 1u);  // E2's own is its first
    // The method becomes 15 first, so the formula then goes.
    const std::size_t method = examined.find("Calc method will change from 'Flat amount (4)' to 'Default (15)' as req "
                                             "for Net direct deposits'(876)");
    const std::size_t formula = examined.find("Formula cannot have a value unless Calc Method is 'Formula (14)', "
                                              "'KNOWNF' will not be converted(861)");
    ASSERT_NE(method, std::string::npos) << examined;
    ASSERT_NE(formula, std::string::npos) << examined;
    EXPECT_LT(method, formula);
    EXPECT_THAT(examined, HasSubstr("Amount field cannot have a value when Net Direct Deposit, '25.00000' will not be "
                                    "converted(878)"));
    EXPECT_THAT(examined, HasSubstr("Limit cannot have a value when Net Direct Deposit, '10.00' will not be "
                                    "converted(878)"));
    EXPECT_THAT(examined, HasSubstr("Sequence cannot have a value when Net Direct Deposit, '3' will not be "
                                    "converted(878)"));
    EXPECT_FALSE(Read(5, {{"EDEMPID", "E1"}, {"EDDEDID", ""}}));  // the pseudo key stays in memory

    Run(text, "Convert");
    EXPECT_EQ(NumberOf(5, {"EDEMPID", "E1"}, {"EDDEDID", "NDD"}, "EDCALC"), 15);
    EXPECT_FALSE(Read(5, {{"EDEMPID", "E1"}, {"EDDEDID", "NDD2"}}));
    // Converted again, the Net Direct Deposit on file counts, under its own id too.
    const std::string again = Run(WriteText("u.txt", D("E1", "NDD")), "Convert");
    EXPECT_THAT(again, HasSubstr("Deduction ID 'NDD' is Net Direct Deposit, only one Net Direct Deposit can exist for "
                                 "Employee E1(874)"));
}

TEST_F(PrmDeductions, AmountsSchedulesAndBankFieldsInTheUsa) {
    const std::string report = Run(
        WriteText("t.txt",
                  D("E1", "UNION", {{"EDAMT", "12.345"}, {"EDCALC", "1"}, {"EDBNKI", "121000358"}, {"EDBNKA", "555"},
                                    {"EDATYPE", "2"}, {"EDPNOTE", "Y"}, {"EDTITLE", "Joint"}}) +
                      D("E2", "UNION", {{"EDAMT", "-12.345"}, {"EDCALC", "1"}}) +
                      D("E3", "UNION", {{"EDAMT", "12.345"}, {"EDCALC", "3"}}) +
                      D("E1", "DD", {{"EDBNKI", "011000015"}, {"EDAUTO", "N"}, {"EDLIMIT", "50.00"}, {"EDPER", "2"},
                                     {"EDFREQ", "3"}}) +
                      D("E2", "DD", {{"EDBNKI", "021000022"}}) + D("E3", "DD", {{"EDBNKI", "1210003589"}}) +
                      D("E1", "GARN") + D("E1", "")),
        "Convert");
    EXPECT_THAT(report, HasSubstr("Bank ID cannot have a value when not a Direct Deposit, '121000358' was not "
                                  "converted(879)"));
    EXPECT_THAT(report, HasSubstr("Account Type cannot have a value when not a Direct Deposit, 'Savings (2)' was not "));
    EXPECT_EQ(Count(report, "when not a Direct Deposit"), 5u);
    EXPECT_THAT(report, HasSubstr("Frequency cannot have a value unless Automatic is 'YES', 'Semimonthly (3)' was not "
                                  "converted(862)"));
    EXPECT_THAT(report, HasSubstr("Limit cannot have a value when Auto is 'NO' and Direct Dep, '50.00' was not "
                                  "converted(894)"));
    EXPECT_THAT(report, HasSubstr("Period cannot have a value when Auto is 'NO' and Direct Dep, 'Month(2)' was not "
                                  "converted(894)"));
    // Leading zeros weigh as zeros; a wrong digit is a note; ten digits have no known digit.
    EXPECT_THAT(report, HasSubstr("Bank ID number '21000022' should have 1 as its check digit, it may be "
                                  "incorrect(881)"));
    EXPECT_EQ(Count(report, "as its check digit"), 1u);
    EXPECT_THAT(report, HasSubstr("Deduction ID 'GARN' does not yet exist, it is required for this Deduct record, "
                                  "Employee E1(873)"));
    EXPECT_THAT(report, HasSubstr("Employee Deduction ID is required for Employee E1(872)"));
    EXPECT_EQ(NumberOf(5, {"EDEMPID", "E1"}, {"EDDEDID", "UNION"}, "EDAMT"), 1235000);
    EXPECT_EQ(convert::GetNumber(H("PRM"), 5, "EDBNKI"), 0);
    EXPECT_EQ(NumberOf(5, {"EDEMPID", "E2"}, {"EDDEDID", "UNION"}, "EDAMT"), -1235000);
    EXPECT_EQ(NumberOf(5, {"EDEMPID", "E3"}, {"EDDEDID", "UNION"}, "EDAMT"), 1234500);
    EXPECT_EQ(NumberOf(5, {"EDEMPID", "E2"}, {"EDDEDID", "DD"}, "EDBNKI"), 21000022);
    EXPECT_EQ(NumberOf(5, {"EDEMPID", "E3"}, {"EDDEDID", "DD"}, "EDBNKI"), 1210003589);
}

// A background run told to end while a Net Direct Deposit is checked.
class TerminatedInScan : public xvPRM {
protected:
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override {
        if (info.ImportedRecs() == kPrRecDeduction && convert::GetText(ctx.mainHandle, 5, "EDDEDID") == "NDD")
            ui::request_terminate();
        return xvPRM::DispatchRecord(ctx, info, reason);
    }
};

TEST_F(PrmDeductions, ABackgroundTerminateInTheScanEndsTheFileLikeAStop) {
    const std::string text = WriteText("t.txt", D("E1", "DD") + D("E1", "NDD") + D("E2", "UNION"));
    const std::string before = ReadFile(text);
    ui::run_state().in_background = true;
    TerminatedInScan converter;
    Run(text, "Convert", converter);  // the background run's report goes to its own file
    ui::reset_run_state();
    EXPECT_FALSE(Read(5, {{"EDEMPID", "E1"}, {"EDDEDID", "DD"}}));  // restored
    EXPECT_FALSE(Read(5, {{"EDEMPID", "E2"}, {"EDDEDID", "UNION"}}));
    EXPECT_EQ(ReadFile(text), before);
}

using PrmDeductionsCanada = PrmCountry<2, PrmDeductions>;
using PrmDeductionsAustralia = PrmCountry<61, PrmDeductions>;

TEST_F(PrmDeductionsCanada, BankFieldsOfDirectDeposits) {
    const std::string report = Run(
        WriteText("t.txt", D("E1", "DD", {{"EDBNKI", "021000022"}, {"EDBNKA", "555"}, {"EDATYPE", "2"},
                                          {"EDPNOTE", "Y"}, {"EDTITLE", "Joint"}})),
        "Convert");
    EXPECT_THAT(report, HasSubstr("Bank ID is only allowed in the USA and Australia, its value '21000022' was not "
                                  "converted(819)"));
    EXPECT_THAT(report, HasSubstr("Bank account is only allowed in the USA and Australia, its value '555' was not "));
    EXPECT_THAT(report, HasSubstr("Account type is only allowed in the USA, its value 'Savings (2)' was not "));
    EXPECT_THAT(report, HasSubstr("Prenote only is only allowed in the USA, its value 'YES' was not "));
    EXPECT_THAT(report, HasSubstr("Title of Account is only allowed in Australia, its value 'Joint' was not "));
    EXPECT_THAT(report, Not(HasSubstr("check digit")));
}

TEST_F(PrmDeductionsAustralia, BankFieldsOfDirectDeposits) {
    const std::string report = Run(
        WriteText("t.txt", D("E1", "DD", {{"EDBNKI", "021000022"}, {"EDATYPE", "2"}, {"EDPNOTE", "Y"},
                                          {"EDTITLE", "Joint"}})),
        "Convert");
    EXPECT_THAT(report, HasSubstr("Account Type is only allowed in the USA, its value 'Savings (2)' was not "));
    EXPECT_THAT(report, HasSubstr("Prenote Only is only allowed in the USA, its value 'TRUE' was not "));
    EXPECT_THAT(report, Not(HasSubstr("Bank ID")));
    EXPECT_THAT(report, Not(HasSubstr("Title of Account")));
    EXPECT_EQ(NumberOf(5, {"EDEMPID", "E1"}, {"EDDEDID", "DD"}, "EDBNKI"), 21000022);
    EXPECT_EQ(TextOf(5, {"EDEMPID", "E1"}, {"EDDEDID", "DD"}, "EDTITLE"), "Joint");
}

TEST_F(PrmRecords, FringesRoundAndResetByTheirFringeId) {
    Define("PRS", 4, {{"FFRGID", "VAC"}}, {{"FCALC", 1}});
    Define("PRS", 4, {{"FFRGID", "PENS"}}, {{"FCALC", 1}, {"FRATES", 1}});
    Define("PRS", 4, {{"FFRGID", "WCFR"}}, {{"FCALC", 4}, {"FWCTBL", 1}});
    auto fringe = [](const std::string& emp, const std::string& id, std::map<std::string, std::string> more) {
        return R(6, emp, id, std::move(more));
    };
    const std::string report = Run(
        WriteText("t.txt",
                  fringe("E1", "VAC", {{"EFAMT", "2.34567"}, {"EFCALC", "1"}, {"EFAUTO", "Y"}}) +
                      fringe("E2", "VAC", {{"EFAMT", "-2.34567"}, {"EFAUTO", "Y"}}) +
                      fringe("E3", "VAC", {{"EFAMT", "2.34567"}, {"EFCALC", "2"}, {"EFAUTO", "Y"}}) +
                      fringe("E1", "PENS", {{"EFAMT", "2.34567"}, {"EFCALC", "1"}, {"EFAUTO", "Y"}}) +
                      fringe("E1", "WCFR", {{"EFFREQ", "3"}, {"EFLIMIT", "100.00"}, {"EFPER", "2"}}) +
                      fringe("E2", "WCFR", {{"EFAUTO", "Y"}, {"EFFREQ", "3"}, {"EFLIMIT", "100.00"}, {"EFPER", "2"}}) +
                      fringe("E1", "HLTH", {{"EFFREQ", "3"}, {"EFLIMIT", "100.00"}, {"EFPER", "2"},
                                            {"EFYFRG", "10"}, {"EFYBAS", "20"}}) +
                      fringe("E1", "DENT", {}) + fringe("E1", "", {})),
        "Convert");
    EXPECT_EQ(NumberOf(6, {"EFEMPID", "E1"}, {"EFFRGID", "VAC"}, "EFAMT"), 235000);
    EXPECT_EQ(NumberOf(6, {"EFEMPID", "E2"}, {"EFFRGID", "VAC"}, "EFAMT"), -235000);  // 15: the fringe's method
    EXPECT_EQ(convert::GetNumber(H("PRM"), 6, "EFCALC"), 15);
    EXPECT_EQ(NumberOf(6, {"EFEMPID", "E3"}, {"EFFRGID", "VAC"}, "EFAMT"), 234567);
    EXPECT_EQ(NumberOf(6, {"EFEMPID", "E1"}, {"EFFRGID", "PENS"}, "EFAMT"), 234567);
    EXPECT_THAT(report, HasSubstr("Limit cannot have a value when Auto is 'NO' and using WC table, '100.00' was not "
                                  "converted(896)"));
    EXPECT_THAT(report, HasSubstr("Period cannot have a value when Auto is 'NO' and using WC table, 'Month(2)' was "
                                  "not converted(896)"));
    EXPECT_EQ(Count(report, "Frequency cannot have a value unless Automatic"), 2u);  // WCFR and HLTH of E1
    EXPECT_EQ(Count(report, "using WC table"), 2u);  // not HLTH, which is on no WC table
    EXPECT_EQ(NumberOf(6, {"EFEMPID", "E2"}, {"EFFRGID", "WCFR"}, "EFLIMIT"), 10000);  // automatic: unchanged
    EXPECT_EQ(convert::GetNumber(H("PRM"), 6, "EFFREQ"), 3);
    EXPECT_EQ(NumberOf(6, {"EFEMPID", "E1"}, {"EFFRGID", "HLTH"}, "EFLIMIT"), 10000);
    EXPECT_EQ(Count(report, "Current totals cannot be converted"), 1u);
    EXPECT_THAT(report, HasSubstr("Current totals cannot be converted (i.e. Year fringe with '10.00')(847)"));
    EXPECT_EQ(convert::GetNumber(H("PRM"), 6, "EFYBAS"), 0);
    EXPECT_THAT(report, HasSubstr("Fringe ID 'DENT' does not yet exist, it is required for this Fringe record, "
                                  "Employee E1(883)"));
    EXPECT_THAT(report, HasSubstr("Employee Fringe ID is required for Employee E1(882)"));
}

// ---- The file's ending ------------------------------------------------------------------------------

// Stops the run, or loses the notes' print file, once the first employee is written.
class InterruptingConverter : public xvPRM {
public:
    bool dropNotes = false;

protected:
    void RecordWritten(convert::ConvertContext& ctx, xvl::xvlImpInfo& info) override {
        xvPRM::RecordWritten(ctx, info);
        if (dropNotes)
            ui::zp_cls_print_file(ctx.commandId, 201);
        else if (ctx.progress)
            ctx.progress->stop = 1;
    }
};

TEST_F(PrmTest, AStopOrNotesThatCannotPrintRestoreThePrMasterFile) {
    for (auto& e : list) xio_cls_file(e.handle), e.handle = 0;
    const std::string prmBefore = ReadFile(company.path() / "MASTER.PRM");
    list.clear();
    uint16_t error16 = 0;
    xvPRM opener;
    ASSERT_TRUE(opener.OpenFiles(list, 3020, error16));
    const std::string body = Emp("E1", {{"ESSN", ""}}) + Emp("E2");
    for (const bool dropNotes : {false, true}) {
        const std::string text = WriteText(dropNotes ? "notes.txt" : "stop.txt", body);
        const std::string textBefore = ReadFile(text);
        InterruptingConverter converter;
        converter.dropNotes = dropNotes;
        const std::string report = Run(text, "Convert", converter);
        progress.stop = 0;
        if (!dropNotes) {
            EXPECT_TRUE(Has(report, "Conversion canceled by operator")) << report;
        }
        EXPECT_FALSE(ReadEmp("E1")) << dropNotes;
        EXPECT_FALSE(ReadEmp("E2")) << dropNotes;
        EXPECT_EQ(ReadFile(text), textBefore) << dropNotes;  // not stamped
    }
    for (auto& e : list) xio_cls_file(e.handle), e.handle = 0;
    EXPECT_EQ(ReadFile(company.path() / "MASTER.PRM"), prmBefore);
}

TEST_F(PrmTest, ExamineFilesWritesNothing) {
    const std::string body = Emp("E1") + L("3", {{"EPEMPID", "E1"}, {"EPPAYID", "REG"}}) +
                             L("1N", {{"EMPID", "E1"}, {"Converted Notes", "Hired 2019"}});
    const std::string text = WriteText("t.txt", body);
    for (auto& e : list)
        if (e.handle) {
            ASSERT_EQ(xio_commit(e.handle), XIO_OK);
        }
    std::map<std::string, std::string> before;
    for (const auto& e : fs::directory_iterator(company.path()))
        if (e.path().filename() != "report.txt") before[e.path().filename().string()] = ReadFile(e.path());
    const std::string textBefore = ReadFile(text);
    const std::string report = Run(text, "Examine");
    EXPECT_FALSE(Has(report, "rejected")) << report;
    for (const auto& [name, bytes] : before) EXPECT_EQ(ReadFile(company.path() / name), bytes) << name;
    EXPECT_EQ(ReadFile(text), textBefore);
    EXPECT_FALSE(fs::exists(texts.path() / "RejPRM.txt"));
}

// ---- Prefill ----------------------------------------------------------------------------------------

bool CollectPrefill(const std::string& value, int16_t fieldId, int16_t, const std::string&, void* ctx) {
    static_cast<std::vector<std::string>*>(ctx)->push_back(value + "/" + std::to_string(fieldId));
    return true;
}

TEST_F(PrmTest, PrefillReadsTheValuesWithOrWithoutAProgressWindowAndWritesNothing) {
    const std::string text = WriteText("pre.txt", Emp("P1", {{"EJOB", "100-001"}}));
    ui::zqTask task("Prefill", 15, 3010, 5);
    gl::xvGLM::prefillCallback = &CollectPrefill;
    for (ConvertProgress* shown : {&progress, static_cast<ConvertProgress*>(nullptr)}) {
        std::vector<std::string> values;
        xvPRM converter;
        converter.PrefillTables(list, TextFileEntry{text, 501}, shown, task, &values);
        EXPECT_NE(std::find(values.begin(), values.end(), "100-001/16"), values.end())
            << ::testing::PrintToString(values);
    }
    gl::xvGLM::prefillCallback = nullptr;
    EXPECT_FALSE(ReadEmp("P1"));
    EXPECT_EQ(ReadFile(text).find("Previously Converted"), std::string::npos);
}

}  // namespace
}  // namespace dz::pr::testing
