// The prefix samples end to end through the shipped GL master template: prefixes.txt added to
// the demo company after demo-gl-master.txt (prefix B and C given as parts), and
// prefix-calendars.txt in a company whose fiscal entity is at prefix level (calendars generated
// from the fiscal ending date or from 13 given periods, intercompany accounts). Reports, reject
// files and the records they leave are compared with golden files.
#include "test_glm_support.h"

#include "converters/gl/fiscal_calendar.h"
#include "modules/module_objects.h"
#include "platform/modlibs/gl_fiscal_entity.h"

namespace dz::gl::testing {
namespace {

const fs::path kGlm2Golden = fs::path(DZ_TEST_DATA_DIR) / "glm2";

class Glm2Samples : public GlmTest {
protected:
    void Golden(const std::string& actual, const std::string& name) {
        const fs::path golden = kGlm2Golden / name;
        if (std::getenv("DZ_UPDATE_GOLDEN")) WriteFile(golden, actual);
        EXPECT_EQ(actual, ReadFile(golden)) << "golden " << name;
    }
    std::string Copy(const std::string& sample) {
        const std::string path = texts.str(sample);
        fs::copy_file(kSamples / sample, path);
        return path;
    }
    std::string DateText(uint16_t rec, const char* name) { return CalendarDateText(Field(rec, name).date); }
};

TEST_F(Glm2Samples, PrefixesGivenByTheirPartsJoinTheDemoCompany) {
    Run(Copy("demo-gl-master.txt"), "Convert");
    const std::string text = Copy("prefixes.txt");
    const std::string before = Dump();
    Golden(Run(text, "Examine Files"), "prefixes_examine.txt");
    EXPECT_EQ(Dump(), before);
    Golden(Run(text, "Convert"), "prefixes_convert.txt");
    Golden(ReadFile(texts.path() / "Rej1GLM.txt"), "prefixes_reject.txt");  // the demo took RejGLM.txt

    ASSERT_TRUE(Read(kRecPrefixB, "PBPRFX", "021"));
    EXPECT_EQ(Field(kRecPrefixB, "PBALTA").text, "02");
    EXPECT_EQ(Field(kRecPrefixB, "PBALTB").text, "1");
    ASSERT_TRUE(Read(kRecPrefixC, "PCPRFX", "02120"));
    EXPECT_EQ(Field(kRecPrefixC, "PCALTB").text, "021");
    EXPECT_EQ(Field(kRecPrefixC, "PCALTC").text, "20");
    EXPECT_TRUE(Read(kRecPrefixC, "PCPRFX", "01220"));
    EXPECT_FALSE(Read(kRecPrefixB, "PBPRFX", "031"));
    EXPECT_FALSE(Read(kRecPrefixA, "PAPRFX", "04"));
}

TEST_F(Glm2Samples, PrefixCalendarsWhereTheFiscalEntityIsAtPrefixLevel) {
    SetHeader(kHdrSettings, [&](uint16_t h) {
        PutHeaderNumber(h, kHdrSettings, "FISCENT", 2);
        PutHeaderNumber(h, kHdrSettings, "BLLVL", 1);
    });
    const std::string text = Copy("prefix-calendars.txt");
    const std::string before = Dump();
    Golden(Run(text, "Examine Files"), "calendars_examine.txt");
    EXPECT_EQ(Dump(), before);
    Golden(Run(text, "Convert"), "calendars_convert.txt");
    Golden(ReadFile(texts.path() / "RejGLM.txt"), "calendars_reject.txt");

    ASSERT_TRUE(Read(kRecPrefixA, "PAPRFX", "01"));
    EXPECT_EQ(Field(kRecPrefixA, "PAICPAY").text, "210000");
    EXPECT_EQ(Field(kRecPrefixA, "PAPCODE").number, 3);
    EXPECT_EQ(DateText(kRecPrefixA, "PAPCY1"), "7/31/2025");
    EXPECT_EQ(DateText(kRecPrefixA, "PAP1F8"), "2/28/2027");
    EXPECT_EQ(DateText(kRecPrefixA, "PAP2Y8"), "2/29/2024");
    EXPECT_EQ(DateText(kRecPrefixA, "PAFBD2Y"), "7/01/2023");
    ASSERT_TRUE(Read(kRecPrefixA, "PAPRFX", "02"));
    EXPECT_EQ(Field(kRecPrefixA, "PAPCODE").number, 3);
    EXPECT_EQ(DateText(kRecPrefixA, "PAP1F13"), "12/31/2027");

    // The fiscal entity answers for accounts under each prefix from what was converted.
    for (auto [account, periodEnd, yearEnd] :
         {std::tuple{"01-1-10-1000-00", "8/31/2025", "6/30/2026"}, {"02-1-10-1000-00", "8/11/2026", "12/31/2026"}}) {
        modlibs::GlFiscalEntity* e = nullptr;
        modules::CallModuleFunction(modules::glFiscalEntityObjectID, modules::glInterfaceID(2), &e);
        ASSERT_NE(e, nullptr);
        ASSERT_TRUE(e->SelectAccount(Glm(), account, 0)) << account;
        x_date_type end;
        ASSERT_TRUE(e->PeriodEndDate(suite::zqDate(8, 1, 2026 - (account[1] == '1')), end));
        EXPECT_EQ(CalendarDateText(end), periodEnd);
        ASSERT_TRUE(e->FiscalYearEndDate(suite::zqDate(8, 1, 2026 - (account[1] == '1')), end));
        EXPECT_EQ(CalendarDateText(end), yearEnd);
        e->Release();
    }
}

}  // namespace
}  // namespace dz::gl::testing
