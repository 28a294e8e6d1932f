// The calendar runs of the GL master dictionary, walked by field number as the calendar checks
// and the fiscal entity walk them: 52 period dates in year and period order with the labels the
// messages show, the period ending date, period code and fiscal ending date one after another,
// and the company's calendar in the GL settings laid out the same way.
#include "test_glm2_support.h"

#include "converters/gl/fiscal_calendar.h"

#include <vector>

namespace dz::gl::testing {

using namespace convert;
namespace {

class Glm2Dictionary : public Glm2Test {
protected:
    xio_fld_def Def(uint16_t field) {
        xio_fld_def def;
        EXPECT_EQ(xio_get_fld_def(glm, field, def), XIO_OK) << field;
        return def;
    }
    // Checks the run of 52 dates from `first`, named `letters` + P2Y1 .. P1F13.
    void ExpectCalendarRun(uint16_t first, const std::string& letters) {
        ASSERT_NE(first, 0) << letters;
        const std::vector<std::pair<std::string, std::string>> years = {
            {"P2Y", "2 yrs ago"}, {"P1Y", "1 yr ago"}, {"PCY", "current"}, {"P1F", "future"}};
        for (int y = 0; y < kCalendarYears; ++y)
            for (int p = 1; p <= kPeriodsPerYear; ++p) {
                const xio_fld_def def = Def(static_cast<uint16_t>(first + y * kPeriodsPerYear + p - 1));
                EXPECT_EQ(def.name, letters + years[y].first + std::to_string(p));
                EXPECT_EQ(def.type, XIO_TYPE_DATE) << def.name;
                EXPECT_EQ(def.description, "Period " + std::to_string(p) + ", " + years[y].second) << def.name;
            }
    }
    void ExpectPeriodFields(uint16_t periodEnd, const std::string& letters) {
        ASSERT_NE(periodEnd, 0) << letters;
        EXPECT_EQ(Def(periodEnd).name, letters + "PDATE");
        EXPECT_EQ(Def(periodEnd).type, XIO_TYPE_DATE);
        EXPECT_EQ(Def(static_cast<uint16_t>(periodEnd + 1)).name, letters + "PCODE");
        EXPECT_TRUE(xio_is_number_type(Def(static_cast<uint16_t>(periodEnd + 1)).type));
        EXPECT_EQ(Def(static_cast<uint16_t>(periodEnd + 2)).name, letters + "FDATE");
        EXPECT_EQ(Def(static_cast<uint16_t>(periodEnd + 2)).type, XIO_TYPE_DATE);
    }
};

TEST_F(Glm2Dictionary, PrefixCalendarsRunByFieldNumber) {
    for (auto [rec, letters] : {std::pair<uint16_t, const char*>{kRecPrefixA, "PA"}, {kRecPrefixB, "PB"},
                                {kRecPrefixC, "PC"}}) {
        const std::string l = letters;
        ExpectCalendarRun(FieldNo(glm, rec, (l + "P2Y1").c_str()), l);
        ExpectPeriodFields(FieldNo(glm, rec, (l + "PDATE").c_str()), l);
        EXPECT_EQ(Def(FieldNo(glm, rec, (l + "FBD2Y").c_str())).description, "Fiscal 2 yrs ago");
        EXPECT_EQ(Def(FieldNo(glm, rec, (l + "U13PA").c_str())).type, XIO_TYPE_LOGICAL);
        const uint16_t closed = FieldNo(glm, rec, (l + "PCL1").c_str());
        EXPECT_EQ(FieldNo(glm, rec, (l + "PCL26").c_str()), closed + 25);
        for (uint16_t f = closed; f <= closed + 25; ++f) EXPECT_EQ(Def(f).type, XIO_TYPE_LOGICAL);
    }
}

TEST_F(Glm2Dictionary, CompanyCalendarInTheSettingsRunsTheSameWay) {
    ExpectCalendarRun(HeaderFieldNo(glm, kHdrSettings, "P2Y1"), "");
    ExpectPeriodFields(HeaderFieldNo(glm, kHdrSettings, "PDATE"), "");
    EXPECT_NE(HeaderFieldNo(glm, kHdrSettings, "FBD2Y"), 0);
}

TEST_F(Glm2Dictionary, GeneratedCalendarReadsBackThroughTheRun) {
    // What the checks write by field number is what the named fields hold.
    xio_init_record(glm, kRecPrefixB);
    CalendarDates c{};
    for (int p = 1; p <= 12; ++p) PeriodOf(c, kYearCurrent, p) = zqDate(static_cast<unsigned>(p), 1, 2025);
    PeriodOf(c, kYearNext, 13) = zqDate(12, 31, 2026);
    WriteCalendar(glm, FieldNo(glm, kRecPrefixB, "PBP2Y1"), c);
    EXPECT_EQ(DateOf(kRecPrefixB, "PBPCY1"), zqDate(1, 1, 2025));
    EXPECT_EQ(DateOf(kRecPrefixB, "PBPCY12"), zqDate(12, 1, 2025));
    EXPECT_TRUE(DateOf(kRecPrefixB, "PBPCY13").blank());
    EXPECT_EQ(DateOf(kRecPrefixB, "PBP1F13"), zqDate(12, 31, 2026));
    EXPECT_EQ(ReadCalendar(glm, FieldNo(glm, kRecPrefixB, "PBP2Y1")), c);
}

}  // namespace
}  // namespace dz::gl::testing
