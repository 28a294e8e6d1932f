// The JC standards converter in process: the settings it reads (the GL master for the retrieval
// methods that use cost accounts, custom list 369, the unit settings), the checks of standard
// phases and categories that depend on them, and an operator's stop in a standards file.
#include "test_jcm_support.h"

#include "converters/jc/xvjcs.h"

#include <cctype>

namespace dz::jc {
namespace {

using namespace dz::jc::testing;
using ::testing::HasSubstr;
using ::testing::Not;

// A line of the shipped standards template: its columns joined.
std::string Line(std::initializer_list<std::string> columns) {
    std::string out;
    for (const std::string& c : columns) out += (out.empty() ? "" : ",") + c;
    return out + "\r\n";
}
// Standard category: key, cost type, accounts A to C, unit description.
std::string Cat(const std::string& cat, const std::string& type, const std::string& a = "", const std::string& b = "",
                const std::string& c = "", const std::string& unit = "") {
    return Line({"17", cat, "Category " + cat, type, a, b, c, unit, "Y", "", ""});
}
// Standard phase: cost code, accumulate as, account A, cost unit description, two category pairs.
std::string Std(const std::string& code, const std::string& type, const std::string& a = "",
                const std::string& unit = "", const std::string& cat1 = "", const std::string& unit1 = "",
                const std::string& cat2 = "", const std::string& unit2 = "") {
    return Line({"16", code, "Phase " + code, "", type, a, "", "", unit, cat1, unit1, cat2, unit2, "", "", "", "", "Y", "",
                 "", ""});
}

const std::string kAccount = "01-2-33-4000-10";

template <class Base>
class JcsOn : public Base {
protected:
    std::string Standards(const std::string& name, const std::string& body) {
        const std::string path = this->texts.str(name);
        WriteFile(path, "#,JCS,xvjcs\r\n" + body);
        return path;
    }
    std::string Run(const std::string& task, const std::string& body, ConvertProgress* progress = nullptr) {
        xvJCS c;
        return Run(task, body, c, progress);
    }
    std::string Run(const std::string& task, const std::string& body, xvJCS& c, ConvertProgress* progress = nullptr) {
        return Base::Run(Standards("std" + std::to_string(++files_) + ".txt", body), task, c, progress, "", 201);
    }
    // A text field of standard phase (16) or category (17) `key`; "-" when it is not on file.
    std::string Stored(uint16_t rec, const std::string& key, const char* field) {
        const uint16_t h = this->Jcm();
        xio_init_record(h, rec);
        convert::PutText(h, rec, rec == kRecStdPhase ? "SPHASE" : "SCAT", key);
        if (xio_rd_record(h, rec, 0, 0) != XIO_OK) return "-";
        return convert::GetText(h, rec, field);
    }
    int files_ = 0;
};
using JcsTest = JcsOn<JcmTest>;

// ---- Settings -------------------------------------------------------------------------------------

// The GL master is wanted only with the JC-GL interface and a retrieval method that keeps cost
// accounts on standards (2, 3 or 5); a missing one is said once in the notes.
TEST_F(JcsTest, AMissingGlMasterIsNotedOnlyForTheRetrievalMethodsThatUseIt) {
    fs::remove(company.path() / "MASTER.GLM");
    for (int method = 1; method <= 5; ++method) {
        SCOPED_TRACE(method);
        Settings({{"CGLRETM", method}});
        const std::string report = Run("Examine Files", Cat("LAB", "1"));
        const bool wanted = method == 2 || method == 3 || method == 5;
        EXPECT_EQ(Has(report, "Unable to open GL master file, Cost accounts are not being verified for existence(300)"),
                  wanted)
            << report;
    }
}

class JcsWithoutGl : public JcsOn<JcmTaxList> {
protected:
    void SetUp() override {
        jcToGl = false;
        JcsOn<JcmTaxList>::SetUp();
    }
};

TEST_F(JcsWithoutGl, WithoutTheInterfaceNoGlMasterIsOpenedAndAccountsAreCleared) {
    fs::remove(company.path() / "MASTER.GLM");
    xvJCS c;
    ASSERT_TRUE(c.LoadSettings(Jcm(), list, nullptr, nullptr));
    EXPECT_EQ(c.glMasterFile, 0);
    const std::string report = Run("Convert", Cat("LAB", "1", kAccount));
    EXPECT_THAT(report, Not(HasSubstr("Unable to open GL master file")));
    EXPECT_THAT(report, HasSubstr("Not interfacing with GL, Cost account A " + kAccount + " was not converted(305)"));
    EXPECT_EQ(Stored(kRecStdCategory, "LAB", "SCCACCA"), "");
}

class JcsOneStatus : public JcsOn<JcmTaxList> {
protected:
    void SetUp() override {
        list369 = suite::CustomList{"Exempt", {}};
        JcsOn<JcmTaxList>::SetUp();
    }
};

TEST_F(JcsOneStatus, ASingleTaxStatusIsTheDefaultAndTheList) {
    xvJCS c;
    ASSERT_TRUE(c.LoadSettings(Jcm(), list, nullptr, nullptr));
    EXPECT_EQ(c.defaultTaxStatus, "Exempt");
    EXPECT_EQ(c.taxStatusList, (std::vector<std::string>{"Exempt"}));
    Run("Convert", Cat("LAB", "1"));
    EXPECT_EQ(Stored(kRecStdCategory, "LAB", "SCTAXEX"), "Exempt");
}

class JcsThreeStatuses : public JcsOn<JcmTaxList> {
protected:
    void SetUp() override {
        list369 = suite::CustomList{"Taxable", {"Exempt", "Resale"}};
        JcsOn<JcmTaxList>::SetUp();
    }
};

TEST_F(JcsThreeStatuses, TheFirstOfThreeIsTheDefaultAndTheOtherTwoTheList) {
    xvJCS c;
    ASSERT_TRUE(c.LoadSettings(Jcm(), list, nullptr, nullptr));
    EXPECT_EQ(c.defaultTaxStatus, "Taxable");
    EXPECT_EQ(c.taxStatusList, (std::vector<std::string>{"Exempt", "Resale"}));
    // A listed status takes the list's spelling; the default is kept; another is noted as missing.
    Run("Convert", Line({"17", "LAB", "Labor", "1", "", "", "", "", "Y", "resale", ""}) +
                       Line({"17", "MAT", "Material", "2", "", "", "", "", "Y", "", ""}) +
                       Line({"17", "SUB", "Subcontract", "3", "", "", "", "", "Y", "Export", ""}));
    EXPECT_EQ(Stored(kRecStdCategory, "LAB", "SCTAXEX"), "Resale");
    EXPECT_EQ(Stored(kRecStdCategory, "MAT", "SCTAXEX"), "Taxable");
    EXPECT_EQ(Stored(kRecStdCategory, "SUB", "SCTAXEX"), "Export");
}

// Units are tracked only with the code 1; the code 2 ("No") and 0 are not tracked. Each record
// says so once for its cost type.
TEST_F(JcsTest, UnitDescriptionsOfUntrackedCostTypesAreWarnedRecordByRecord) {
    Settings({{"PTLUNIT", 2}, {"PTMUNIT", 1}, {"PTEUNIT", 2}});
    const std::string report = Run("Convert", Cat("LAB", "1", "", "", "", "Hours") + Cat("MAT", "2", "", "", "", "Each") +
                                                  Cat("EQ1", "4", "", "", "", "Hours") + Cat("EQ2", "4", "", "", "", "Days"));
    EXPECT_THAT(report, HasSubstr("Labor units are not being tracked, its Cost unit descriptions like 'Hours' are not "
                                  "used(312)"));
    EXPECT_THAT(report, Not(HasSubstr("Material units")));
    std::string equipment = suite::xk_description(69);
    equipment[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(equipment[0])));
    EXPECT_THAT(report, HasSubstr(equipment + " units are not being tracked, its Cost unit descriptions like 'Hours'"));
    EXPECT_THAT(report, HasSubstr(equipment + " units are not being tracked, its Cost unit descriptions like 'Days'"));
    EXPECT_EQ(Stored(kRecStdCategory, "EQ2", "SCUDESC"), "Days");  // the description stays
}

// ---- Records ----------------------------------------------------------------------------------

// With categories the phase accumulates as labor and has no unit description: one message names
// what was dropped, in the number its words need.
TEST_F(JcsTest, AccumulateAsAndCostUnitAreDroppedWithOneMessageInTheirNumber) {
    const std::string body = Std("01-001.01", "2", "", "Hours") + Std("01-001.02", "1", "", "Hours");
    const std::string examined = Run("Examine Files", body);
    EXPECT_THAT(examined, HasSubstr("'Accumulate as' and 'Cost unit desc' are not used with Categories, '2' and "
                                    "'Hours' will not be converted(320)"));
    const std::string converted = Run("Convert", body);
    EXPECT_THAT(converted, HasSubstr("'Accumulate as' and 'Cost unit desc' are not used with Categories, '2' and "
                                     "'Hours' were not converted(319)"));
    EXPECT_THAT(converted, HasSubstr("'Cost unit desc' is not used with Categories, 'Hours' was not converted(319)"));
    EXPECT_EQ(Stored(kRecStdPhase, "0100101", "SPCUDSC"), "");
    EXPECT_EQ(NumberOf(kRecStdPhase, {{"SPHASE", "0100101"}}, "SPCTYPE"), 1);
}

TEST_F(JcsTest, WithoutCategoriesPairsAreClearedWithOneMessageAndCategoriesRefused) {
    Settings({{"CCATUSG", 2}});
    const std::string report =
        Run("Convert", Cat("LAB", "1") + Std("01-001.01", "1", "", "Hours", "LAB", "Hours", "MAT", "Each"));
    EXPECT_THAT(report, HasSubstr("Not using Categories, Standard Category records cannot be converted(301)"));
    const std::string cleared = "Categories/Cost unit descriptions 1-12 are not being used, their values were not "
                                "converted(321)";
    EXPECT_THAT(report, HasSubstr(cleared));
    EXPECT_EQ(report.find(cleared), report.rfind(cleared));
    EXPECT_EQ(Stored(kRecStdPhase, "0100101", "SPCAT1"), "");
    EXPECT_EQ(Stored(kRecStdPhase, "0100101", "SPCUDSC"), "Hours");
    EXPECT_EQ(Stored(kRecStdCategory, "LAB", "SCDESC"), "-");
}

// Method 2 keeps cost accounts on standard phases only, method 3 on standard categories only.
TEST_F(JcsTest, TheRetrievalMethodDecidesWhichStandardsKeepTheirAccounts) {
    const std::string cleared = "GL retrieval method is not at this level, Cost account A " + kAccount +
                                " was not converted(307)";
    Settings({{"CGLRETM", 2}});
    EXPECT_THAT(Run("Convert", Cat("LAB", "1", kAccount) + Std("01-001.01", "1", kAccount)), HasSubstr(cleared));
    EXPECT_EQ(Stored(kRecStdCategory, "LAB", "SCCACCA"), "");
    EXPECT_NE(Stored(kRecStdPhase, "0100101", "SPCACCA"), "");
    Settings({{"CGLRETM", 3}});
    EXPECT_THAT(Run("Convert", Cat("MAT", "2", kAccount) + Std("01-001.02", "1", kAccount)), HasSubstr(cleared));
    EXPECT_NE(Stored(kRecStdCategory, "MAT", "SCCACCA"), "");
    EXPECT_EQ(Stored(kRecStdPhase, "0100102", "SPCACCA"), "");
}

// An account the GL master lacks is said for every standard that names it, phase or category.
TEST_F(JcsTest, EachStandardNamingAMissingAccountIsToldSo) {
    const std::string report = Run("Convert", Std("01-001.01", "1", kAccount) + Cat("LAB", "1", kAccount) +
                                                  Std("01-001.02", "1", kAccount));
    int told = 0;
    for (auto at = report.find("not found in GL accounts"); at != std::string::npos;
         at = report.find("not found in GL accounts", at + 1))
        ++told;
    EXPECT_EQ(told, 3) << report;
    EXPECT_NE(Stored(kRecStdPhase, "0100102", "SPCACCA"), "");
}

// A group standard phase is refused for the first field that holds a value, in the order cost
// type, accounts, cost unit description, categories; a member phase keeps the same values.
TEST_F(JcsTest, AGroupStandardIsRefusedForItsFirstFieldWithAValue) {
    const std::string report =
        Run("Examine Files", Std("01-000.00", "1", "", "Hours", "LAB") + Std("02-000.00", "1", "", "", "LAB") +
                                 Std("03-000.00", "1", kAccount, "Hours") + Std("04-000.00", "1") +
                                 Std("04-001.01", "1", kAccount, "Hours", "LAB"));
    EXPECT_THAT(report, HasSubstr("Group standard Phase cannot have a value for 'SPCUDSC', it has 'Hours'(318)"));
    EXPECT_THAT(report, HasSubstr("Group standard Phase cannot have a value for 'SPCAT1', it has 'LAB'(318)"));
    EXPECT_THAT(report, HasSubstr("Group standard Phase cannot have a value for 'SPCACCA', it has '"));
    // One refusal for each of the three groups, none for the member.
    int refusals = 0;
    for (auto at = report.find("(318)"); at != std::string::npos; at = report.find("(318)", at + 1)) ++refusals;
    EXPECT_EQ(refusals, 3) << report;
}

// Groups the text file gives before their members are not made again; a group line that was
// refused is made by its first member, in Convert as in Examine Files.
TEST_F(JcsTest, AGroupALineWroteIsKeptAndARefusedOneIsMadeByItsMember) {
    const std::string body = Std("01-000.00", "1") + Std("01-001.00", "1") + Std("01-001.01", "1") +
                             Std("02-000.00", "3") + Std("02-001.01", "1") + Std("02-001.02", "1");
    for (const char* task : {"Examine Files", "Convert"}) {
        SCOPED_TRACE(task);
        const std::string report = Run(task, body);
        EXPECT_THAT(report, Not(HasSubstr("Phase '01-")));
        EXPECT_THAT(report, HasSubstr("Phase '02-000.00'"));
        EXPECT_THAT(report, HasSubstr("Phase '02-001.00'"));
    }
    EXPECT_EQ(Stored(kRecStdPhase, "0100100", "SPDESC"), "Phase 01-001.00");
    EXPECT_EQ(Stored(kRecStdPhase, "0200000", "SPDESC"), "Group created by conversion");
    EXPECT_EQ(Stored(kRecStdPhase, "0200102", "SPDESC"), "Phase 02-001.02");
}

// A group of the last level serves the members after it only as they would build it: one typed
// short is another cost code, and its members still get theirs made. Members that come back to
// a group after another group's find it known.
TEST_F(JcsTest, OnlyALastLevelGroupGivenWholeServesItsMembers) {
    const std::string body = Std("01-000.00", "1") + Std("01-001", "1") + Std("01-001.01", "1") +
                             Std("01-002.00", "1") + Std("01-002.01", "1") + Std("01-003.01", "1") +
                             Std("01-002.02", "1") + Std("01-003.02", "1");
    const std::string report = Run("Convert", body);
    EXPECT_THAT(report, HasSubstr("Phase '01-001.00' created"));
    EXPECT_THAT(report, Not(HasSubstr("Phase '01-002.00' created")));
    EXPECT_EQ(report.find("Phase '01-003.00' created"), report.rfind("Phase '01-003.00' created")) << report;
    EXPECT_EQ(Stored(kRecStdPhase, "01001", "SPDESC"), "Phase 01-001");
    EXPECT_EQ(Stored(kRecStdPhase, "0100100", "SPDESC"), "Group created by conversion");
    EXPECT_EQ(Stored(kRecStdPhase, "0100200", "SPDESC"), "Phase 01-002.00");
    EXPECT_EQ(Stored(kRecStdPhase, "0100302", "SPDESC"), "Phase 01-003.02");
}

// A category the pairs name before a line sets it up is dropped from those pairs only; the
// phases after the line keep it, with its unit description when they give none.
TEST_F(JcsTest, ACategorySetUpByALineServesThePairsAfterIt) {
    const std::string body = Std("01-001.01", "1", "", "", "NEW") + Cat("NEW", "1", "", "", "", "Hours") +
                             Std("01-001.02", "1", "", "", "NEW") + Std("01-001.03", "1", "", "", "new", "Days");
    for (const char* task : {"Examine Files", "Convert"}) {
        SCOPED_TRACE(task);
        const std::string report = Run(task, body);
        EXPECT_EQ(report.find("has not yet been set up"), report.rfind("has not yet been set up")) << report;
        EXPECT_THAT(report, HasSubstr("Category 1's value 'NEW' has not yet been set up"));
    }
    EXPECT_EQ(Stored(kRecStdPhase, "0100101", "SPCAT1"), "");
    EXPECT_EQ(Stored(kRecStdPhase, "0100102", "SPCUD1"), "Hours");
    EXPECT_EQ(Stored(kRecStdPhase, "0100103", "SPCUD1"), "Days");
}

// A category line of a template that lets it modify, refused after it replaced the record on
// file (its notes too long): the pairs after it take the unit description the file now holds.
TEST_F(JcsTest, ACategoryReplacedByARefusedLineServesThePairsWithItsStoredUnit) {
    const fs::path tpl = appData.path() / "ACCOUNTING" / "TEMPLATE" / "xvjcs.tpl";
    std::string text = ReadFile(tpl);
    const auto at = text.find("record 17\npermissions 2");
    ASSERT_NE(at, std::string::npos);
    text[at + std::string("record 17\npermissions ").size()] = '3';
    WriteFile(tpl, text);
    Run("Convert", Cat("LAB", "1", "", "", "", "Hours"));
    const std::string notes(convert::kMaxNotesLength + 1, 'n');
    const std::string report =
        Run("Convert", Std("01-001.01", "1", "", "", "LAB") +
                           Line({"17", "LAB", "Category LAB", "1", "", "", "", "Days", "Y", "", notes}) +
                           Std("01-001.02", "1", "", "", "LAB"));
    ASSERT_THAT(report, HasSubstr("Notes are too long"));
    const std::string stored = Stored(kRecStdCategory, "LAB", "SCUDESC");
    EXPECT_EQ(Stored(kRecStdPhase, "0100101", "SPCUD1"), "Hours");
    EXPECT_EQ(Stored(kRecStdPhase, "0100102", "SPCUD1"), stored);
}

// Cost codes of four sections of unequal widths: every group above a member is made from the
// member's own sections, each cut where the format puts it, in an examined file as in a
// converted one.
class JcsFourSections : public JcsTest {
protected:
    void Adjust(suite::CompanySettings& s) override {
        s.formats[18].sections = {suite::KeySection{"Area", 1, "-", true, false}, suite::KeySection{"Job", 3, ".", true, false},
                                  suite::KeySection{"Part", 2, "/", true, false},
                                  suite::KeySection{"Item", 4, "", true, false}};
    }
};

TEST_F(JcsFourSections, TheGroupsAboveAMemberKeepItsSections) {
    const std::string body = Std("7-012.34/0056", "1") + Std("7-012.34/0057", "1") + Std("7-013.05/0001", "1");
    const std::string examined = Run("Examine Files", body);
    const std::string converted = Run("Convert", body);
    for (const char* group : {"7012340000", "7012000000", "7000000000", "7013050000", "7013000000"}) {
        SCOPED_TRACE(group);
        EXPECT_EQ(Stored(kRecStdPhase, group, "SPDESC"), "Group created by conversion");
    }
    EXPECT_EQ(Stored(kRecStdPhase, "7012340056", "SPDESC"), "Phase 7-012.34/0056");
    // Each group once, however many members share it.
    for (const std::string& report : {examined, converted}) {
        int created = 0;
        for (auto at = report.find("Group created by conversion"); at != std::string::npos;
             at = report.find("Group created by conversion", at + 1))
            ++created;
        EXPECT_EQ(created, 5) << report;
    }
}

// A zero first section, or a zero section before one that is not, rejects the cost code; zero
// sections at the end make a group.
TEST_F(JcsFourSections, AZeroSectionMayOnlyEndTheCostCode) {
    const std::string report =
        Run("Examine Files", Std("0-012.34/0056", "1") + Std("7-000.34/0056", "1") + Std("7-012.00/0056", "1") +
                                 Std("7-012.00/0000", "1") + Std("7-000.00/0000", "1") + Std("8-001.02/0003", "1"));
    for (const char* refused : {"0-012.34/0056", "7-000.34/0056", "7-012.00/0056"})
        EXPECT_THAT(report, HasSubstr(std::string("Invalid zero section in Standard Phase - ") + refused + "(317)"));
    for (const char* accepted : {"7-012.00/0000", "7-000.00/0000", "8-001.02/0003"})
        EXPECT_THAT(report, Not(HasSubstr(std::string("Standard Phase - ") + accepted + "(317)")));
}

// The accounts are checked A, B, C: the first invalid one rejects the record, the next is not
// read. A column the template gives as a base account passes the import, but without the prefix
// from the job the standard needs a whole account.
TEST_F(JcsTest, AnInvalidAccountBRejectsBeforeAccountCIsChecked) {
    const std::string tpl = texts.str("base.tpl");
    WriteFile(tpl, "format 17\r\nfile JCM 1\r\nrecord 17\r\nfield SCAT\r\nfield SCDESC\r\nfield SCCACCA\r\n"
                   "field SCCACCB id 9 section 7\r\nfield SCCACCC id 9 section 7\r\n");
    const std::string path = texts.str("base.txt");
    WriteFile(path, "#,JCS," + tpl + "\r\n17,BAD,Bad account B," + kAccount + ",4000-10,5000-10\r\n");
    xvJCS c;
    const std::string report = JcmTest::Run(path, "Convert", c, nullptr, "", 201);
    EXPECT_THAT(report, HasSubstr("Invalid Cost account B - "));
    EXPECT_THAT(report, Not(HasSubstr("Cost account C")));
    EXPECT_EQ(Stored(kRecStdCategory, "BAD", "SCDESC"), "-");
}

// ---- The end of a standards file ------------------------------------------------------------------

class StoppingJcs : public xvJCS {
public:
    int stopAfter = 0;

protected:
    void RecordWritten(convert::ConvertContext& ctx, xvl::xvlImpInfo& info) override {
        xvJCS::RecordWritten(ctx, info);
        if (++seen_ == stopAfter && ctx.progress) ctx.progress->stop = 1;
    }

private:
    int seen_ = 0;
};

TEST_F(JcsTest, AStopInAStandardsFileRestoresTheFileAndLeavesTheTextUnstamped) {
    const std::string body = Cat("LAB", "1") + Std("01-001.01", "1", "", "", "LAB") + Std("02-001.01", "1") +
                             Std("03-001.01", "1");
    const std::string path = Standards("stop.txt", body);
    const std::string master = MasterBytes();
    ConvertProgress progress([] { return int64_t{0}; });
    StoppingJcs c;
    c.stopAfter = 3;
    const std::string report = JcmTest::Run(path, "Convert", c, &progress, "", 201);
    EXPECT_THAT(report, HasSubstr("Conversion canceled by operator"));
    EXPECT_TRUE(ui.boxes.empty());
    // The records and the groups they created are gone.
    EXPECT_EQ(Stored(kRecStdCategory, "LAB", "SCDESC"), "-");
    EXPECT_EQ(Stored(kRecStdPhase, "0100000", "SPDESC"), "-");
    EXPECT_TRUE(MasterBytes() == master);
    EXPECT_EQ(ReadFile(path), "#,JCS,xvjcs\r\n" + body);
}

}  // namespace
}  // namespace dz::jc
