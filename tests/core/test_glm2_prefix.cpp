// Prefix A, B and C records through the GL master converter, in Convert and Examine Files:
// parents on file or earlier in the text file, alternate keys, intercompany accounts, the fiscal
// fields where the fiscal entity is and is not, and the calendar completed on the way.
#include "test_glm2_support.h"

#include "converters/gl/fiscal_calendar.h"

namespace dz::gl::testing {
namespace {

// One prefix line of the test template. Prefix A lines carry the fiscal-entity level after
// the prefix; B and C lines do not.
struct Prefix {
    std::string format;
    std::string prefix;
    std::string fiscal = "";  // PAFISC (prefix A only)
    std::string icPayable, icReceivable, balanceLevel, propertyControl;
    std::string periodEnd, periodCode, fiscalEnd, apBank, thirteen, start, status;
    std::string Line() const {
        std::string s = format + "," + prefix + ",";
        if (format[0] == '3') s += fiscal + ",";
        for (const std::string* v : {&icPayable, &icReceivable, &balanceLevel, &propertyControl, &periodEnd,
                                     &periodCode, &fiscalEnd, &apBank, &thirteen, &start})
            s += *v + ",";
        return s + status + "\r\n";
    }
};

Prefix Make(const std::string& format, const std::string& prefix) {
    Prefix p;
    p.format = format;
    p.prefix = prefix;
    return p;
}
Prefix A(const std::string& prefix) { return Make("3", prefix); }
Prefix B(const std::string& prefix) { return Make("4", prefix); }
Prefix C(const std::string& prefix) { return Make("5", prefix); }
// A prefix that carries the fiscal calendar of the year ending 6/30/2025, in period 3.
Prefix Fiscal(Prefix p) {
    p.periodEnd = "9/30/2024";
    p.fiscalEnd = "6/30/2025";
    return p;
}

bool Has(const std::string& report, const std::string& text) { return report.find(text) != std::string::npos; }

class Glm2Prefix : public Glm2Test {};

TEST_F(Glm2Prefix, ThreeLevelsWithTheFiscalEntityAtPrefixA) {
    SetSettings(2, 1);
    Prefix a = Fiscal(A("01"));
    a.fiscal = "1";
    a.status = "1";
    Prefix bParts = Make("4P", "01,3");
    Prefix c2 = C("01234");
    const std::string report =
        Run(a.Line() + B("012").Line() + bParts.Line() + C("01233").Line() + c2.Line(), true);
    EXPECT_TRUE(Has(report, "DP process status has changed from 1 (suspend) to 2 (normal)(163)")) << report;

    ASSERT_TRUE(Read(kRecPrefixA, "PAPRFX", "01"));
    EXPECT_EQ(NumOf(kRecPrefixA, "PAPCODE"), 3);
    EXPECT_EQ(NumOf(kRecPrefixA, "APRSTAT"), 2);
    EXPECT_EQ(CalendarDateText(DateOf(kRecPrefixA, "PAPCY1")), "7/31/2024");
    EXPECT_EQ(CalendarDateText(DateOf(kRecPrefixA, "PAP1Y8")), "2/29/2024");
    EXPECT_EQ(CalendarDateText(DateOf(kRecPrefixA, "PAP1F12")), "6/30/2026");
    EXPECT_EQ(CalendarDateText(DateOf(kRecPrefixA, "PAFBD2Y")), "7/01/2022");

    ASSERT_TRUE(Read(kRecPrefixB, "PBPRFX", "012"));
    EXPECT_EQ(TextOf(kRecPrefixB, "PBALTA"), "01");
    EXPECT_EQ(TextOf(kRecPrefixB, "PBALTB"), "2");
    ASSERT_TRUE(Read(kRecPrefixB, "PBPRFX", "013"));  // joined from its parts
    EXPECT_EQ(TextOf(kRecPrefixB, "PBALTB"), "3");

    // Two C prefixes of one AB prefix share their alternate AB key.
    for (const char* prefix : {"01233", "01234"}) {
        ASSERT_TRUE(Read(kRecPrefixC, "PCPRFX", prefix)) << prefix;
        EXPECT_EQ(TextOf(kRecPrefixC, "PCALTA"), "01");
        EXPECT_EQ(TextOf(kRecPrefixC, "PCALTB"), "012");
        EXPECT_EQ(TextOf(kRecPrefixC, "PCALTBO"), "2");
        EXPECT_EQ(TextOf(kRecPrefixC, "PCALTC"), std::string(prefix).substr(3));
    }
}

TEST_F(Glm2Prefix, ParentsMustBeOnFileOrEarlierInTheTextFile) {
    const std::string missingA = "The Prefix A 02 doesn't exist for Prefix B 022(139)";
    // Convert: the parent must be on file.
    std::string report = Run(B("022").Line(), true, "b.txt");
    EXPECT_TRUE(Has(report, missingA)) << report;
    EXPECT_FALSE(Read(kRecPrefixB, "PBPRFX", "022"));

    // Examine Files: a parent earlier in the same file counts; without it the record is refused.
    report = Run(B("033").Line(), false, "b2.txt");
    EXPECT_TRUE(Has(report, "The Prefix A 03 doesn't exist for Prefix B 033(139)")) << report;
    report = Run(A("03").Line() + B("033").Line() + C("03344").Line(), false, "abc.txt");
    EXPECT_FALSE(Has(report, "doesn't exist")) << report;
    EXPECT_FALSE(Read(kRecPrefixA, "PAPRFX", "03"));  // examined, not written

    // Prefix C names the missing AB parent once its A parent is there.
    report = Run(A("04").Line() + C("04511").Line(), false, "c.txt");
    EXPECT_TRUE(Has(report, "The Prefix B 045 doesn't exist for Prefix C 04511(139)")) << report;

    // Convert: a parent written by an earlier line is on file.
    report = Run(A("05").Line() + B("055").Line(), true, "ab.txt");
    EXPECT_FALSE(Has(report, "doesn't exist")) << report;
    EXPECT_TRUE(Read(kRecPrefixB, "PBPRFX", "055"));
}

TEST_F(Glm2Prefix, InvalidAndMissingPrefixesGivenAsParts) {
    // Whole prefixes are checked by the import; joined parts reach the handlers as they are.
    const std::string report = Run(A("01").Line() + Make("4P", "01,23").Line() + Make("5P", "01,2,3").Line() +
                                       Make("4P", ",").Line() + Make("5P", "01,,").Line(),
                                   false);
    const std::string invalid = "Prefix '0123' is invalid(166)";
    const auto first = report.find(invalid);
    ASSERT_NE(first, std::string::npos) << report;
    EXPECT_NE(report.find(invalid, first + 1), std::string::npos) << report;  // B and C alike
    EXPECT_TRUE(Has(report, "Prefix is required(141)")) << report;
    EXPECT_TRUE(Has(report, "Prefix '01' is invalid(166)")) << report;
}

TEST_F(Glm2Prefix, FiscalEntityLevelsTheSettingsDoNotAllow) {
    Prefix a = A("01");
    a.fiscal = "2";
    std::string report = Run(a.Line(), true, "a.txt");
    EXPECT_TRUE(Has(report, "Fiscal entity not defined at prefix level in GL Settings, fiscal entity '2 (Prefix B)' is "
                            "not allowed(142)"))
        << report;
    a.fiscal = "3";
    report = Run(a.Line(), true, "a3.txt");
    EXPECT_TRUE(Has(report, "fiscal entity '3 (Prefix C)' is not allowed(142)")) << report;
}

TEST_F(Glm2Prefix, FiscalFieldsMustBeEmptyWhereTheFiscalEntityIsNot) {
    // Fiscal entity at company level.
    Prefix a = A("01");
    a.thirteen = "Y";
    std::string report = Run(a.Line(), true, "a.txt");
    EXPECT_TRUE(Has(report, "Fiscal entity not at Prefix A, fiscal fields (i.e. Using 13 periods with YES) cannot "
                            "have values(144)"))
        << report;
    a = Fiscal(A("02"));
    report = Run(a.Line(), true, "a2.txt");
    EXPECT_TRUE(Has(report, "(i.e. Period ending date with  9/30/2024) cannot have values(144)")) << report;
    a = A("03");
    a.balanceLevel = "2";
    a.apBank = "FIRST";
    report = Run(a.Line(), true, "a3.txt");
    EXPECT_TRUE(Has(report, "(i.e. AP bank with FIRST) cannot have values(144)")) << report;
    EXPECT_FALSE(Read(kRecPrefixA, "PAPRFX", "03"));

    // Fiscal entity at prefix A: prefix B carries none of it.
    SetSettings(2, 1);
    a = Fiscal(A("05"));
    a.fiscal = "1";
    Prefix b = B("055");
    b.fiscalEnd = "6/30/2025";
    report = Run(a.Line() + b.Line(), true, "ab.txt");
    EXPECT_TRUE(Read(kRecPrefixA, "PAPRFX", "05")) << report;
    EXPECT_TRUE(Has(report, "Fiscal entity not at Prefix B, fiscal fields (i.e. Fiscal ending date with  6/30/2025) "
                            "cannot have values(144)"))
        << report;
}

TEST_F(Glm2Prefix, FiscalEntityAtPrefixBTakesTheCalendarThere) {
    SetSettings(2, 2);
    Prefix a = A("01");
    a.fiscal = "2";
    Prefix b = Fiscal(B("012"));
    b.balanceLevel = "2";
    Prefix c = C("01233");
    const std::string report = Run(a.Line() + b.Line() + c.Line(), true);
    ASSERT_TRUE(Read(kRecPrefixB, "PBPRFX", "012")) << report;
    EXPECT_EQ(CalendarDateText(DateOf(kRecPrefixB, "PBPCY12")), "6/30/2025");
    EXPECT_EQ(CalendarDateText(DateOf(kRecPrefixB, "PBFBD2Y")), "7/01/2022");
    EXPECT_EQ(NumOf(kRecPrefixB, "PBPCODE"), 3);
    EXPECT_TRUE(Read(kRecPrefixC, "PCPRFX", "01233")) << report;
}

TEST_F(Glm2Prefix, FiscalDatesRequiredInOrderAndWithinAYear) {
    SetSettings(2, 1);
    Prefix a = A("01");
    a.fiscal = "1";
    a.fiscalEnd = "6/30/2025";
    std::string report = Run(a.Line(), true, "a1.txt");
    EXPECT_TRUE(Has(report, "The fiscal end date and period end date are required because the fiscal level is set at "
                            "this prefix(145)"))
        << report;

    a.periodEnd = "7/31/2025";
    report = Run(a.Line(), true, "a2.txt");
    EXPECT_TRUE(
        Has(report, "Period ending date of 7/31/2025 cannot exist after the fiscal ending date of 6/30/2025(146)"))
        << report;

    // 366 days before passes; 367 days before does not.
    a.prefix = "02";
    a.periodEnd = "12/31/2023";
    a.fiscalEnd = "12/31/2024";
    report = Run(a.Line(), true, "a3.txt");
    EXPECT_TRUE(Read(kRecPrefixA, "PAPRFX", "02")) << report;
    EXPECT_EQ(NumOf(kRecPrefixA, "PAPCODE"), 12);
    a.prefix = "03";
    a.fiscalEnd = "1/01/2025";
    report = Run(a.Line(), true, "a4.txt");
    EXPECT_TRUE(Has(report, "Period ending date of 12/31/2023 cannot be more than one year prior to the fiscal ending "
                            "date of\n" + std::string(24, ' ') + "1/01/2025(147)"))
        << report;

    a = Fiscal(A("04"));
    a.fiscal = "1";
    a.balanceLevel = "4";
    report = Run(a.Line(), true, "a5.txt");
    EXPECT_TRUE(Has(report, "Balance sheet level '4' is not allowed because this prefix level is not defined for GL "
                            "accounts(148)"))
        << report;
    a.balanceLevel = "";
    a.propertyControl = "5";
    report = Run(a.Line(), true, "a6.txt");
    EXPECT_TRUE(Has(report, "Property control setting '5' is not allowed because this prefix level is not defined for "
                            "GL accounts(149)"))
        << report;
}

TEST_F(Glm2Prefix, ThirteenPeriodCalendarGivenInTheTextFile) {
    SetSettings(2, 1);
    std::string line = "3C,01,1,,,,,3/25/2025,4,12/31/2025,,,,";
    for (const char* d : {"1/28/2025", "2/25/2025", "3/25/2025", "4/22/2025", "5/20/2025", "6/17/2025", "7/15/2025",
                          "8/12/2025", "9/9/2025", "10/7/2025", "11/4/2025", "12/2/2025", "12/31/2025"})
        line += std::string(",") + d;
    const std::string report = Run(line + "\r\n", false);
    EXPECT_TRUE(Has(report, "Period Code will change from 4 to 3(159)")) << report;
    EXPECT_FALSE(Has(report, "(169)")) << report;
}

TEST_F(Glm2Prefix, IntercompanyAccounts) {
    SetSettings(2, 1);
    SeedBaseAccount("400010", 1, 3);  // receivable
    SeedBaseAccount("410010", 1, 4);  // both
    SeedBaseAccount("420010", 1, 2);  // payable
    const auto line = [](const std::string& prefix, const std::string& pay, const std::string& rec,
                         const std::string& level = "") {
        Prefix a = Fiscal(A(prefix));
        a.fiscal = "1";
        a.icPayable = pay;
        a.icReceivable = rec;
        a.balanceLevel = level;
        return a.Line();
    };

    std::string report = Run(line("01", "4000-10", ""), true, "1.txt");
    EXPECT_TRUE(Has(report, "Intercompany payable with '4000-10' is not allowed unless Intercompany receivable also "
                            "has a value(177)"))
        << report;
    report = Run(line("01", "", "4000-10"), true, "2.txt");
    EXPECT_TRUE(Has(report, "Intercompany receivable with '4000-10' is not allowed unless Intercompany payable also "
                            "has a value(177)"))
        << report;
    report = Run(line("01", "4000-10", "4000-10"), true, "3.txt");
    EXPECT_TRUE(Has(report, "The Intercompany payable account '4000-10' is not defined to be a payable for prefix "
                            "'01'(179)"))
        << report;
    report = Run(line("01", "4100-10", "4200-10"), true, "4.txt");
    EXPECT_TRUE(Has(report, "The Intercompany receivable account '4200-10' is not defined to be a receivable for "
                            "prefix '01'(179)"))
        << report;
    report = Run(line("01", "5000-10", "4000-10"), true, "5.txt");
    EXPECT_TRUE(Has(report, "Intercompany base account '5000-10' does not exist as a base account in GL for prefix "
                            "'01'(178)"))
        << report;
    EXPECT_FALSE(Read(kRecPrefixA, "PAPRFX", "01"));

    report = Run(line("01", "4100-10", "4000-10"), true, "6.txt");
    ASSERT_TRUE(Read(kRecPrefixA, "PAPRFX", "01")) << report;
    EXPECT_EQ(TextOf(kRecPrefixA, "PAICPAY"), "410010");
    EXPECT_EQ(TextOf(kRecPrefixA, "PAICREC"), "400010");

    // Where the balance sheet is not at this prefix, the accounts are cleared with a note.
    report = Run(line("02", "4100-10", "4000-10", "2"), true, "7.txt");
    EXPECT_TRUE(Has(report, "Intercompany accounts are not allowed for this prefix, their values like '4100-10' were "
                            "cleared(175)"))
        << report;
    ASSERT_TRUE(Read(kRecPrefixA, "PAPRFX", "02")) << report;
    EXPECT_EQ(TextOf(kRecPrefixA, "PAICPAY"), "");
    EXPECT_EQ(TextOf(kRecPrefixA, "PAICREC"), "");
    report = Run(line("03", "", "4000-10", "2"), false, "8.txt");
    EXPECT_TRUE(Has(report, "their values like '4000-10' will be cleared(176)")) << report;
}

TEST_F(Glm2Prefix, IntercompanyAccountsOfPrefixBAndCFollowTheBalanceSheetLevel) {
    // Fiscal entity at prefix A, balance sheet at prefix AB.
    SetSettings(2, 2);
    SeedBaseAccount("420010", 1, 2);
    SeedBaseAccount("400010", 1, 3);
    Prefix a = Fiscal(A("01"));
    a.fiscal = "1";
    a.balanceLevel = "2";
    Prefix b = B("012");
    b.icPayable = "4200-10";
    b.icReceivable = "4000-10";
    Prefix c = C("01233");
    c.icPayable = "4200-10";
    c.icReceivable = "4000-10";
    Prefix bWrong = B("013");
    bWrong.icPayable = "4000-10";
    bWrong.icReceivable = "4000-10";
    const std::string lines = a.Line() + b.Line() + c.Line() + bWrong.Line();

    // Examine Files finds prefix A's balance-sheet level through its examine code.
    std::string report = Run(lines, false, "examine.txt");
    EXPECT_TRUE(Has(report, "The Intercompany payable account '4000-10' is not defined to be a payable for prefix "
                            "'01-3'(179)"))
        << report;
    EXPECT_TRUE(Has(report, "their values like '4200-10' will be cleared(176)")) << report;

    report = Run(lines, true, "convert.txt");
    ASSERT_TRUE(Read(kRecPrefixB, "PBPRFX", "012")) << report;
    EXPECT_EQ(TextOf(kRecPrefixB, "PBICPAY"), "420010");
    EXPECT_EQ(TextOf(kRecPrefixB, "PBICREC"), "400010");
    ASSERT_TRUE(Read(kRecPrefixC, "PCPRFX", "01233")) << report;  // the balance sheet is not at ABC
    EXPECT_EQ(TextOf(kRecPrefixC, "PCICPAY"), "");
    EXPECT_TRUE(Has(report, "their values like '4200-10' were cleared(175)")) << report;
    EXPECT_FALSE(Read(kRecPrefixB, "PBPRFX", "013"));
}

TEST_F(Glm2Prefix, IntercompanyBaseAccountsEarlierInTheTextFileWhenExamining) {
    SetSettings(2, 1);
    Prefix a = Fiscal(A("01"));
    a.fiscal = "1";
    a.icPayable = "6000-10";
    a.icReceivable = "6100-10";
    std::string report = Run("6,6000-10,Due to,3,4\r\n6,6100-10,Due from,1,3\r\n" + a.Line(), false, "1.txt");
    EXPECT_FALSE(Has(report, "(178)")) << report;
    EXPECT_FALSE(Has(report, "(179)")) << report;
    report = Run("6,6000-10,Due to,3,3\r\n6,6100-10,Due from,1,3\r\n" + a.Line(), false, "2.txt");
    EXPECT_TRUE(Has(report, "The Intercompany payable account '6000-10' is not defined to be a payable for prefix "
                            "'01'(179)"))
        << report;
}

}  // namespace
}  // namespace dz::gl::testing
