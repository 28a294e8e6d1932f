// The GL fiscal entity ("GLCOMMON" "_gl_new_fiscal_entity", interface ("GL", 2)) answering for
// accounts of each prefix level the calendar that the prefix records converted here carry, and
// for the company when the fiscal entity is not at prefix level.
#include "test_glm2_support.h"

#include "converters/gl/fiscal_calendar.h"
#include "modules/module_objects.h"
#include "platform/modlibs/gl_fiscal_entity.h"

#include <memory>

namespace dz::gl::testing {

using namespace convert;
namespace {

using modlibs::GlFiscalEntity;

struct Released {
    void operator()(GlFiscalEntity* e) const {
        if (e) e->Release();
    }
};
using Entity = std::unique_ptr<GlFiscalEntity, Released>;

std::string T(const x_date_type& d) { return CalendarDateText(d); }

class Glm2FiscalEntity : public Glm2Test {
protected:
    Entity Make() {
        GlFiscalEntity* e = nullptr;
        EXPECT_EQ(modules::CallModuleFunction(modules::glFiscalEntityObjectID, modules::glInterfaceID(2), &e),
                  modules::kModuleCallOk);
        EXPECT_NE(e, nullptr);
        return Entity(e);
    }
    // The period end for `date` after selecting `account`; "no account" or "none" otherwise.
    std::string PeriodEnd(const std::string& account, const x_date_type& date) {
        Entity e = Make();
        if (!e->SelectAccount(glm, account, 0)) return "no account";
        x_date_type end;
        return e->PeriodEndDate(date, end) ? T(end) : "none";
    }
    std::string YearEnd(const std::string& account, const x_date_type& date) {
        Entity e = Make();
        if (!e->SelectAccount(glm, account, 0)) return "no account";
        x_date_type end;
        return e->FiscalYearEndDate(date, end) ? T(end) : "none";
    }
};

// Prefix lines of the test template (see xvglm2.tpl): prefix A lines carry PAFISC.
std::string LineA(const std::string& prefix, int fiscal, const std::string& periodEnd = "",
                  const std::string& fiscalEnd = "") {
    return "3," + prefix + "," + std::to_string(fiscal) + ",,,,," + periodEnd + ",," + fiscalEnd + ",,,,\r\n";
}
std::string LineBC(const char* format, const std::string& prefix, const std::string& periodEnd = "",
                   const std::string& fiscalEnd = "") {
    return std::string(format) + "," + prefix + ",,,,," + periodEnd + ",," + fiscalEnd + ",,,,\r\n";
}

TEST_F(Glm2FiscalEntity, CalendarAtPrefixA) {
    SetSettings(2, 1);
    const std::string report = Run(LineA("01", 1, "9/30/2024", "6/30/2025") + LineBC("4", "012") +
                                       LineBC("5", "01233"),
                                   true);
    ASSERT_TRUE(Read(kRecPrefixC, "PCPRFX", "01233")) << report;

    for (const char* account : {"01-2-33-4000-10", "01233400010"}) {
        Entity e = Make();
        ASSERT_TRUE(e->SelectAccount(glm, account, 0)) << account;
        EXPECT_EQ(e->PrefixLevel(), modlibs::kEntityPrefixA);
        EXPECT_EQ(e->Calendar().prefix, "01");
        EXPECT_FALSE(e->UsesThirteenPeriods());
        x_date_type d;
        ASSERT_TRUE(e->IsSuccess(e->GetDate(modlibs::kFiscalLastPeriodEnd, d)));
        EXPECT_EQ(T(d), "6/30/2026");
        ASSERT_TRUE(e->IsSuccess(e->GetDate(modlibs::kFiscalCurrentPeriodEnd, d)));
        EXPECT_EQ(T(d), "9/30/2024");
        EXPECT_FALSE(e->IsSuccess(e->GetDate(99, d)));
    }
    EXPECT_EQ(PeriodEnd("01233400010", zqDate(8, 15, 2024)), "8/31/2024");
    EXPECT_EQ(PeriodEnd("01233400010", zqDate(8, 31, 2024)), "8/31/2024");
    EXPECT_EQ(PeriodEnd("01233400010", zqDate(2, 10, 2024)), "2/29/2024");
    EXPECT_EQ(PeriodEnd("01233400010", zqDate(7, 1, 2022)), "7/31/2022");
    EXPECT_EQ(PeriodEnd("01233400010", zqDate(6, 30, 2022)), "none");  // before the calendar
    EXPECT_EQ(PeriodEnd("01233400010", zqDate(7, 1, 2026)), "none");   // after it
    EXPECT_EQ(YearEnd("01233400010", zqDate(8, 15, 2024)), "6/30/2025");
    EXPECT_EQ(YearEnd("01233400010", zqDate(6, 30, 2024)), "6/30/2024");
    EXPECT_EQ(YearEnd("01233400010", zqDate(3, 1, 2023)), "6/30/2023");
    // An account whose prefix A is not on file has no calendar.
    EXPECT_EQ(PeriodEnd("09233400010", zqDate(8, 15, 2024)), "no account");
}

TEST_F(Glm2FiscalEntity, CalendarAtPrefixAB) {
    SetSettings(2, 2);
    const std::string report = Run(LineA("02", 2) + LineBC("4", "021", "3/31/2025", "12/31/2025") +
                                       LineBC("4", "022", "3/31/2025", "3/31/2025"),
                                   true);
    ASSERT_TRUE(Read(kRecPrefixB, "PBPRFX", "022")) << report;
    Entity e = Make();
    ASSERT_TRUE(e->SelectAccount(glm, "02-1-33-4000-10", 0));
    EXPECT_EQ(e->PrefixLevel(), modlibs::kEntityPrefixB);
    EXPECT_EQ(e->Calendar().prefix, "021");
    EXPECT_EQ(YearEnd("02-1-33-4000-10", zqDate(5, 5, 2025)), "12/31/2025");
    EXPECT_EQ(YearEnd("02-2-33-4000-10", zqDate(5, 5, 2025)), "3/31/2026");
    EXPECT_EQ(PeriodEnd("02-2-33-4000-10", zqDate(2, 10, 2025)), "2/28/2025");
    EXPECT_EQ(PeriodEnd("02-9-33-4000-10", zqDate(2, 10, 2025)), "no account");
}

TEST_F(Glm2FiscalEntity, CalendarAtPrefixABCWithThirteenPeriods) {
    SetSettings(2, 3);
    std::string c = "5C,03177,,,,,3/25/2025,,12/31/2025,,,,";
    for (const char* d : {"1/28/2025", "2/25/2025", "3/25/2025", "4/22/2025", "5/20/2025", "6/17/2025", "7/15/2025",
                          "8/12/2025", "9/9/2025", "10/7/2025", "11/4/2025", "12/2/2025", "12/31/2025"})
        c += std::string(",") + d;
    const std::string report = Run(LineA("03", 3) + LineBC("4", "031") + c + "\r\n", true);
    ASSERT_TRUE(Read(kRecPrefixC, "PCPRFX", "03177")) << report;
    Entity e = Make();
    ASSERT_TRUE(e->SelectAccount(glm, "03-1-77-4000-10", 0));
    EXPECT_EQ(e->PrefixLevel(), modlibs::kEntityPrefixC);
    EXPECT_TRUE(e->UsesThirteenPeriods());
    EXPECT_EQ(PeriodEnd("03-1-77-4000-10", zqDate(12, 5, 2025)), "12/31/2025");
    EXPECT_EQ(PeriodEnd("03-1-77-4000-10", zqDate(12, 1, 2025)), "12/02/2025");
    EXPECT_EQ(PeriodEnd("03-1-77-4000-10", zqDate(12, 20, 2024)), "12/31/2024");
    EXPECT_EQ(YearEnd("03-1-77-4000-10", zqDate(1, 1, 2026)), "12/31/2026");
    EXPECT_EQ(PeriodEnd("03-1-78-4000-10", zqDate(12, 5, 2025)), "no account");
}

TEST_F(Glm2FiscalEntity, CompanyCalendarInTheSettings) {
    Entity e = Make();
    EXPECT_FALSE(e->SelectAccount(glm, "01-2-33-4000-10", 0));  // no calendar set up yet

    ASSERT_EQ(xio_rd_header(glm, kHdrSettings, 1), XIO_OK);
    const auto put = [&](const char* name, const x_date_type& d) {
        x_value_def v;
        v.date = d;
        xio_put_field(glm, 0, HeaderFieldNo(glm, kHdrSettings, name), v);
    };
    put("PDATE", zqDate(5, 31, 2025));
    put("FDATE", zqDate(12, 31, 2025));
    const uint16_t first = HeaderFieldNo(glm, kHdrSettings, "P2Y1");
    for (int y = 0; y < 4; ++y) {
        const auto dates = FillPeriodDates(zqDate(12, 31, static_cast<unsigned>(2023 + y)));
        for (int p = 0; p < 12; ++p) {
            x_value_def v;
            v.date = dates[p];
            xio_put_field(glm, 0, static_cast<uint16_t>(first + y * 13 + p), v);
        }
    }
    ASSERT_EQ(xio_wr_header(glm, kHdrSettings), XIO_OK);
    ASSERT_EQ(xio_commit(glm), XIO_OK);

    ASSERT_TRUE(e->SelectAccount(glm, "4000-10", 0));
    EXPECT_EQ(e->PrefixLevel(), modlibs::kEntityCompany);
    EXPECT_EQ(e->Calendar().prefix, "");
    EXPECT_EQ(YearEnd("01-2-33-4000-10", zqDate(7, 4, 2024)), "12/31/2024");
    EXPECT_EQ(PeriodEnd("01-2-33-4000-10", zqDate(7, 4, 2026)), "7/31/2026");
}

TEST_F(Glm2FiscalEntity, CallersBuffersAreKept) {
    SetSettings(2, 1);
    Run(LineA("01", 1, "9/30/2024", "6/30/2025"), true);
    xio_init_record(glm, kRecPrefixA);
    Text(kRecPrefixA, "PAPRFX", "ZZ");
    Entity e = Make();
    ASSERT_TRUE(e->SelectAccount(glm, "01-2-33-4000-10", 0));
    EXPECT_EQ(TextOf(kRecPrefixA, "PAPRFX"), "ZZ");
}

TEST_F(Glm2FiscalEntity, OnlyItsOwnInterfaceIsOffered) {
    GlFiscalEntity* e = nullptr;
    EXPECT_EQ(modules::CallModuleFunction(modules::glFiscalEntityObjectID, modules::glInterfaceID(4), &e),
              modules::kModuleInterfaceRefused);
    EXPECT_EQ(e, nullptr);
    // Without the GL library loaded there is no object.
    modules::ReleaseModuleDlls();
    EXPECT_EQ(modules::CallModuleFunction(modules::glFiscalEntityObjectID, modules::glInterfaceID(2), &e),
              modules::kModuleLibraryNotLoaded);
    EXPECT_EQ(e, nullptr);
}

}  // namespace
}  // namespace dz::gl::testing
