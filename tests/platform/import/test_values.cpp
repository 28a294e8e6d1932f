// Column text into field values.
#include "platform/import/xvl_messages.h"
#include "platform/import/xvl_values.h"

#include <gtest/gtest.h>
#include <ostream>

using namespace dz;
using namespace dz::xvl;

namespace {

xio_fld_def field(uint16_t type, uint16_t length, uint16_t decimals = 0, bool isSigned = false) {
    xio_fld_def d;
    d.name = "F";
    d.type = type;
    d.length = length;
    d.decimals = decimals;
    d.isSigned = isSigned;
    return d;
}

}  // namespace

struct NumberCase {
    const char* text;
    int decimals;
    int length;
    bool isSigned;
    int error;
    double value;
};
// A failing case is named by this, not by its bytes.
static void PrintTo(const NumberCase& c, std::ostream* os) { *os << '"' << c.text << "\" with " << c.decimals << " decimals"; }

class Numbers : public ::testing::TestWithParam<NumberCase> {};

TEST_P(Numbers, ScaledByDecimals) {
    const NumberCase& c = GetParam();
    double v = -12345;
    EXPECT_EQ(ParseScaledNumber(c.text, c.decimals, c.length, c.isSigned, v), c.error) << c.text;
    if (c.error == 0) {
        EXPECT_DOUBLE_EQ(v, c.value) << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(Import, Numbers,
                         ::testing::Values(NumberCase{"12.34", 2, 9, true, 0, 1234},
                                           NumberCase{"12.3", 2, 9, true, 0, 1230},
                                           NumberCase{"12", 2, 9, true, 0, 1200},
                                           NumberCase{" -0.05 ", 2, 9, true, 0, -5},
                                           NumberCase{"+7", 0, 3, false, 0, 7},
                                           NumberCase{".5", 1, 3, false, 0, 5},
                                           NumberCase{"12.340", 2, 9, true, 0, 1234},
                                           NumberCase{"12.345", 2, 9, true, kErrNumberRange, 0},
                                           NumberCase{"-1", 0, 3, false, kErrNumberRange, 0},
                                           NumberCase{"-0", 0, 3, false, 0, 0},
                                           NumberCase{"999", 0, 3, false, 0, 999},
                                           NumberCase{"1000", 0, 3, false, kErrNumberRange, 0},
                                           NumberCase{"10.00", 2, 4, true, 0, 1000},
                                           NumberCase{"100.00", 2, 4, true, kErrNumberRange, 0},
                                           NumberCase{"99999999999999999999", 0, 0, true, kErrNumberRange, 0},
                                           NumberCase{"1.2.3", 2, 9, true, kErrNotConvertible, 0},
                                           NumberCase{"12a", 2, 9, true, kErrNotConvertible, 0},
                                           NumberCase{"-", 2, 9, true, kErrNotConvertible, 0},
                                           NumberCase{".", 2, 9, true, kErrNotConvertible, 0},
                                           NumberCase{"1,000", 0, 9, true, kErrNotConvertible, 0}));

struct DateCase {
    const char* text;
    bool ok;
    int m, d, y;
};
// A failing case is named by this, not by its bytes.
static void PrintTo(const DateCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class Dates : public ::testing::TestWithParam<DateCase> {};

TEST_P(Dates, Parse) {
    const DateCase& c = GetParam();
    x_date_type out;
    EXPECT_EQ(ParseDate(c.text, out), c.ok) << c.text;
    if (c.ok) {
        EXPECT_EQ(out.month, c.m) << c.text;
        EXPECT_EQ(out.day, c.d) << c.text;
        EXPECT_EQ(out.year, c.y) << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(Import, Dates,
                         ::testing::Values(DateCase{"12/6/2026", true, 12, 6, 2026}, DateCase{"1/31/26", true, 1, 31, 2026},
                                           DateCase{"3/1/99", true, 3, 1, 1999},
                                           DateCase{"3/1/50", true, 3, 1, 1950}, DateCase{"3/1/49", true, 3, 1, 2049}, DateCase{"02-29-2024", true, 2, 29, 2024},
                                           DateCase{"2026-03-04", true, 3, 4, 2026}, DateCase{"20260304", true, 3, 4, 2026},
                                           DateCase{"03042026", true, 3, 4, 2026}, DateCase{"030426", true, 3, 4, 2026},
                                           DateCase{"2/29/2025", false, 0, 0, 0}, DateCase{"2/29/1900", false, 0, 0, 0},
                                           DateCase{"2/29/2000", true, 2, 29, 2000}, DateCase{"13/1/2026", false, 0, 0, 0},
                                           DateCase{"0/1/2026", false, 0, 0, 0}, DateCase{"1/0/2026", false, 0, 0, 0},
                                           DateCase{"4/31/2026", false, 0, 0, 0}, DateCase{"1/2/3", false, 0, 0, 0},
                                           DateCase{"1/2-2026", false, 0, 0, 0}, DateCase{"tomorrow", false, 0, 0, 0},
                                           DateCase{"1/2/2026/4", false, 0, 0, 0},
                                           DateCase{"6/15/1753", true, 6, 15, 1753}, DateCase{"12/31/1752", false, 0, 0, 0}));

TEST(ImportValues, TimesOnBothClocks) {
    x_time_type t;
    ASSERT_TRUE(ParseTime("9:30", t));
    EXPECT_EQ(t, (x_time_type{9, 30, 0}));
    ASSERT_TRUE(ParseTime("12:05AM", t));
    EXPECT_EQ(t, (x_time_type{0, 5, 0}));
    ASSERT_TRUE(ParseTime("12:05 pm", t));
    EXPECT_EQ(t, (x_time_type{12, 5, 0}));
    ASSERT_TRUE(ParseTime("1:05:09PM", t));
    EXPECT_EQ(t, (x_time_type{13, 5, 9}));
    EXPECT_FALSE(ParseTime("24:00", t));
    EXPECT_FALSE(ParseTime("13:00PM", t));
    EXPECT_FALSE(ParseTime("9:5", t));
    EXPECT_FALSE(ParseTime("930", t));
}

TEST(ImportValues, LogicalWords) {
    uint16_t f = 7;
    for (const char* yes : {"Y", "yes", "T", "true", "1", " y "}) {
        ASSERT_TRUE(ParseLogical(yes, f)) << yes;
        EXPECT_EQ(f, 1) << yes;
    }
    for (const char* no : {"N", "no", "F", "False", "0"}) {
        ASSERT_TRUE(ParseLogical(no, f)) << no;
        EXPECT_EQ(f, 0) << no;
    }
    EXPECT_FALSE(ParseLogical("maybe", f));
    EXPECT_FALSE(ParseLogical("2", f));
}

TEST(ImportValues, ChoicesByNumberOrText) {
    xio_fld_def d = field(XIO_TYPE_CHOICE2, 2);
    d.items = {"Retail", "Wholesale", "Other "};
    x_value_def v;
    EXPECT_EQ(ConvertText(d, "2", false, v).error, 0);
    EXPECT_EQ(v.number, 2);
    EXPECT_EQ(ConvertText(d, "other", false, v).error, 0);
    EXPECT_EQ(v.number, 3);
    EXPECT_EQ(ConvertText(d, "4", false, v).error, kErrChoice);
    EXPECT_EQ(ConvertText(d, "Resale", false, v).error, kErrChoice);
}

TEST(ImportValues, TextLengthsAndLongTexts) {
    x_value_def v;
    EXPECT_EQ(ConvertText(field(XIO_TYPE_TEXT, 5), "abcde", false, v).error, 0);
    EXPECT_EQ(v.text, "abcde");
    EXPECT_EQ(ConvertText(field(XIO_TYPE_TEXT, 5), "abcdef", false, v).error, kErrTooLong);

    const std::string long100(100, 'x');
    EXPECT_EQ(ConvertText(field(XIO_TYPE_TEXT, 200), long100, false, v).error, kErrLongTextTooLong);
    v = {};
    EXPECT_EQ(ConvertText(field(XIO_TYPE_TEXT, 200), long100, true, v).error, 0);
    EXPECT_EQ(v.longText, long100);
    EXPECT_EQ(v.text, std::string(80, 'x'));
    EXPECT_EQ(ConvertText(field(XIO_TYPE_TEXT, 200), std::string(201, 'x'), true, v).error, kErrLongTextTooLong);
}

TEST(ImportValues, TextLengthsCountCharacters) {
    std::string e30;
    for (int i = 0; i < 30; ++i) e30 += "\xC3\xA9";
    x_value_def v;
    EXPECT_EQ(ConvertText(field(XIO_TYPE_TEXT, 30), e30, false, v).error, 0);
    EXPECT_EQ(v.text, e30);
    EXPECT_EQ(ConvertText(field(XIO_TYPE_TEXT, 30), e30 + "x", false, v).error, kErrTooLong);
    // Letters of one and of two bytes mixed: five characters in seven bytes fill five.
    EXPECT_EQ(ConvertText(field(XIO_TYPE_TEXT, 5), "\xC3\xA9t\xC3\xA9sa", false, v).error, 0);
    EXPECT_EQ(v.text, "\xC3\xA9t\xC3\xA9sa");
    EXPECT_EQ(ConvertText(field(XIO_TYPE_TEXT, 5), "\xC3\xA9t\xC3\xA9sas", false, v).error, kErrTooLong);
    // 50 characters in 100 bytes are no long text; the short member ends between characters.
    const std::string e50 = e30 + e30.substr(0, 40);
    v = {};
    EXPECT_EQ(ConvertText(field(XIO_TYPE_TEXT, 200), e50, false, v).error, 0);
    EXPECT_EQ(v.longText, e50);
    EXPECT_EQ(v.text, e50.substr(0, 80));
    EXPECT_EQ(ConvertText(field(XIO_TYPE_TEXT, 200), e50 + "a" + e30, false, v).error, kErrLongTextTooLong);
}
