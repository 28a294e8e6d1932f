#include "platform/suite/util.h"
#include "platform/suite/xk.h"
#include "platform/ui/ui.h"
#include "suite_fixture.h"

#include <gmock/gmock.h>
#include <tuple>
#include <gtest/gtest.h>

#include <vector>

namespace dz::suite {
namespace {

using testing::CompanyTest;
using testing::gl_format;

// Unformatted sample accounts: prefix A "01", B "2", C "33", base "4000", suffix "10".
struct SectionCase {
    int levels;
    const char* account;
    // Expected section text for codes 0..10.
    std::vector<std::string> sections;
    std::vector<int> widths;
};

const SectionCase kSectionCases[] = {
    {3, "01233400010",
     {"01233400010", "01", "2", "33", "4000", "10", "01233", "400010", "01233400010", "012", "01233"},
     {11, 2, 1, 2, 4, 2, 5, 6, 11, 3, 5}},
    {2, "012400010",
     {"012400010", "01", "2", "", "4000", "10", "012", "400010", "012400010", "012", ""},
     {9, 2, 1, 0, 4, 2, 3, 6, 9, 3, 0}},
    {0, "400010",
     {"400010", "", "", "", "4000", "10", "", "400010", "400010", "", ""},
     {6, 0, 0, 0, 4, 2, 0, 6, 6, 0, 0}},
};

class GlSections : public CompanyTest {};

TEST_F(GlSections, EachSectionCodeOnThreeTwoAndNoPrefixLevels) {
    for (const auto& c : kSectionCases) {
        CompanySettings s;
        s.formats[9] = gl_format(c.levels);
        use(s);
        SCOPED_TRACE("levels " + std::to_string(c.levels));
        EXPECT_EQ(xk_num_sections(9), c.levels);
        EXPECT_EQ(xk_prefixed(9), c.levels > 0);
        for (int code = 0; code <= 10; ++code) {
            std::string text = c.account;
            xk_get_section(9, false, code, text);
            EXPECT_EQ(text, c.sections[code]) << "section " << code;
            EXPECT_EQ(xk_width(9, code), c.widths[code]) << "width of section " << code;
        }
    }
}

TEST_F(GlSections, FormattedInputGivesTheSameSections) {
    CompanySettings s;
    s.formats[9] = gl_format(3);
    use(s);
    for (int code = 0; code <= 10; ++code) {
        std::string text = "01-2-33-4000-10";
        xk_get_section(9, true, code, text);
        EXPECT_EQ(text, kSectionCases[0].sections[code]) << "section " << code;
    }
}

TEST_F(GlSections, APrefixValueYieldsTheSameLeadingSections) {
    CompanySettings s;
    s.formats[9] = gl_format(3);
    use(s);
    // A prefix C value (ABC) split as the prefix handlers do: A part, AB part, B part, C part.
    const std::pair<int, const char*> expected[] = {{1, "01"}, {9, "012"}, {2, "2"}, {3, "33"}, {4, ""}, {7, ""}};
    for (const auto& [code, want] : expected) {
        std::string text = "01233";
        xk_get_section(9, false, code, text);
        EXPECT_EQ(text, want) << "section " << code;
    }
}

TEST_F(GlSections, FormatEachSection) {
    CompanySettings s;
    s.formats[9] = gl_format(3);
    use(s);
    const std::tuple<int, const char*, const char*> cases[] = {
        {0, "01233400010", "01-2-33-4000-10"}, {8, "01233400010", "01-2-33-4000-10"},
        {6, "01233", "01-2-33"},               {7, "400010", "4000-10"},
        {9, "012", "01-2"},                    {10, "01233", "01-2-33"},
        {1, "01", "01"},                       {4, "4000", "4000"},
        {0, "012", "01-2"},  // a leading part of an account
    };
    for (const auto& [code, in, out] : cases) {
        std::string text = in;
        xk_format_field(9, code, text);
        EXPECT_EQ(text, out) << "section " << code;
    }
}

TEST_F(GlSections, FormatIsIdempotentAndUnformatRoundTrips) {
    for (int levels : {0, 2, 3}) {
        CompanySettings s;
        s.formats[9] = gl_format(levels);
        use(s);
        for (int code = 0; code <= 10; ++code) {
            std::string u(static_cast<std::size_t>(xk_width(9, code)), '7');
            if (u.empty()) continue;
            std::string f = u;
            xk_format_field(9, code, f);
            std::string twice = f;
            xk_format_field(9, code, twice);
            EXPECT_EQ(twice, f) << "levels " << levels << " section " << code;
            std::string back = f;
            xk_unformat_field(9, code, back);
            EXPECT_EQ(back, u) << "levels " << levels << " section " << code;
            std::string again = u;
            xk_unformat_field(9, code, again);
            EXPECT_EQ(again, u) << "unformatted input must stay as it is";
        }
    }
}

TEST_F(GlSections, TooLongValueIsKeptNotCut) {
    CompanySettings s;
    s.formats[9] = gl_format(3);
    use(s);
    std::string text = "0123340001099";
    xk_format_field(9, 0, text);
    EXPECT_EQ(text, "01-2-33-4000-1099");
    EXPECT_FALSE(xk_check(9, 0, "0123340001099"));
}

// Layouts are kept between calls: a format changed in place (same levels and widths, another
// separator or style) is seen at once.
TEST_F(GlSections, AChangedFormatIsSeenAtOnce) {
    CompanySettings s;
    s.formats[9] = gl_format(2);
    Company& company = use(s);
    std::string text = "012400010";
    xk_format_field(9, 0, text);
    EXPECT_EQ(text, "01-2-4000-10");
    EXPECT_TRUE(xk_capitals(9, kGlPrefixA));
    KeyFormat changed = gl_format(2, "/");
    changed.sections[0].capitals = false;
    company.settings().formats[9] = changed;
    text = "012400010";
    xk_format_field(9, 0, text);
    EXPECT_EQ(text, "01/2/4000/10");
    EXPECT_FALSE(xk_capitals(9, kGlPrefixA));
}

TEST_F(GlSections, MultiCharacterSeparators) {
    CompanySettings s;
    s.formats[9] = gl_format(2, " / ");
    use(s);
    std::string text = "012400010";
    xk_format_field(9, 0, text);
    EXPECT_EQ(text, "01 / 2 / 4000 / 10");
    xk_unformat_field(9, 0, text);
    EXPECT_EQ(text, "012400010");
}

// Layouts are kept between calls: a format changed in place (same number, same levels) must
// still be answered from what it is now, never from what it was when first asked.
TEST_F(GlSections, AnswersFollowAFormatChangedInPlace) {
    CompanySettings s;
    s.formats[9] = gl_format(2);
    s.formats[16] = KeyFormat{16, 0, {{"Job", 3, "-", true, false}, {"Sub job", 3, "", true, false}}, {}};
    use(s);
    std::string text = "012400010";
    xk_format_field(9, 0, text);
    EXPECT_EQ(text, "01-2-4000-10");
    EXPECT_TRUE(xk_check(9, 0, "01-2-4000-10"));
    EXPECT_TRUE(xk_capitals(16, 0));
    EXPECT_EQ(xk_width(16, 2), 3);

    s.formats[9] = gl_format(2, "/");
    s.formats[9].sections[2].width = 5;  // the base grows: same levels, other layout
    s.formats[16].sections[1] = {"Sub job", 4, "", false, true};
    use(s);
    text = "0124000010";
    xk_format_field(9, 0, text);
    EXPECT_EQ(text, "01/2/40000/10");
    EXPECT_EQ(xk_width(9, kGlBase), 5);
    EXPECT_EQ(xk_width(9, kGlBaseAccount), 7);
    EXPECT_FALSE(xk_check(9, 0, "01-2-4000-10"));
    EXPECT_TRUE(xk_check(9, 0, "01/2/40000/10"));
    text = "0124000010";
    xk_get_section(9, false, kGlBase, text);
    EXPECT_EQ(text, "40000");
    EXPECT_FALSE(xk_capitals(16, 0));
    EXPECT_TRUE(xk_right_justify(16, 2));
    EXPECT_EQ(xk_width(16, 2), 4);
    EXPECT_EQ(xk_width(16, 0), 7);
}

// Answers are kept while the settings stay as they are: a format dropped or given other
// levels through the settings, or the company closed, is seen by the next question.
TEST_F(GlSections, KeptAnswersEndWithTheSettings) {
    CompanySettings s;
    s.formats[9] = gl_format(2);
    s.formats[16] = KeyFormat{16, 0, {{"Job", 3, "-", true, false}}, {}};
    Company& company = use(s);
    EXPECT_EQ(xk_width(16, 1), 3);
    EXPECT_EQ(xk_num_sections(9), 2);
    company.settings().formats.erase(16);
    company.settings().formats[9] = gl_format(3);
    EXPECT_EQ(xk_width(16, 1), 0);
    EXPECT_EQ(xk_num_sections(9), 3);
    std::string text = "0123340001099";
    xk_get_section(9, false, kGlPrefixCPart, text);
    EXPECT_EQ(text, "33");
    close_company();
    EXPECT_EQ(xk_num_sections(9), 0);
    EXPECT_EQ(xk_width(9, 0), 0);
}

// Records message boxes instead of showing them.
class RecordingUi : public dz::ui::Ui {
public:
    int message(int kind, const std::string& text) override {
        kinds.push_back(kind);
        texts.push_back(text);
        return dz::ui::kOk;
    }
    std::vector<int> kinds;
    std::vector<std::string> texts;
};

class KeyValidity : public CompanyTest {
protected:
    void SetUp() override {
        CompanySettings s;
        s.descriptions[9] = "Account";
        s.formats[9] = gl_format(3);
        s.formats[16] = KeyFormat{16, 0, {{"Job", 3, "-", true, false}, {"Sub job", 3, "", true, false}}, {}};
        use(s);
        dz::ui::set_current(&ui_);
    }
    void TearDown() override {
        dz::ui::set_current(nullptr);
        CompanyTest::TearDown();
    }
    RecordingUi ui_;
};

TEST_F(KeyValidity, AcceptsCompleteValuesFormattedOrNot) {
    EXPECT_TRUE(xk_valid(9, 0, "01-2-33-4000-10"));
    EXPECT_TRUE(xk_valid(9, 0, "01233400010"));
    EXPECT_TRUE(xk_valid(9, 7, "4000-10"));
    EXPECT_TRUE(xk_valid(9, 10, "01233"));
    EXPECT_TRUE(xk_valid(16, 0, "123-456"));
    EXPECT_TRUE(xk_valid(16, 0, "123"));  // job sections may be left off at the end
    EXPECT_TRUE(ui_.texts.empty());
}

TEST_F(KeyValidity, RefusesAndReportsThroughTheUi) {
    const std::pair<int, const char*> bad[] = {
        {0, "0123340001"},       // one short
        {0, "012334000100"},     // one long
        {0, "01-23-3-4000-10"},  // separators misplaced
        {0, "0123 400010"},      // blank inside
        {0, ""},                 // blank
        {1, "0-1"},              // separator inside a section
    };
    for (const auto& [section, text] : bad) {
        ui_.texts.clear();
        EXPECT_FALSE(xk_valid(9, section, text)) << text;
        ASSERT_EQ(ui_.texts.size(), 1u) << text;
        EXPECT_NE(ui_.texts[0].find(std::string("'") + text + "'"), std::string::npos) << ui_.texts[0];
    }
    EXPECT_FALSE(xk_valid(16, 0, "1234567"));
}

// Any character of any part's separator is refused inside a value, blanks excepted, and by the
// separators the format has now.
TEST_F(KeyValidity, SeparatorCharactersInsideAValue) {
    using ::testing::HasSubstr;
    CompanySettings s;
    s.formats[16] = KeyFormat{16, 0, {{"Job", 3, "-", true, false}, {"Sub job", 3, "", true, false}}, {}};
    s.formats[18] = KeyFormat{18, 0, {{"Phase", 4, " /", true, false}, {"Part", 4, "", true, false}}, {}};
    use(s);
    std::string why;
    EXPECT_FALSE(xk_check(16, 1, "1-2", &why));
    EXPECT_THAT(why, HasSubstr("separator character"));
    why.clear();
    EXPECT_FALSE(xk_check(18, 0, "A/B", &why));  // one character of a longer separator
    EXPECT_THAT(why, HasSubstr("separator character"));
    EXPECT_TRUE(xk_check(18, 0, "A B"));  // a blank in a separator is no separator character
    EXPECT_TRUE(xk_check(16, 1, "1.2"));

    s.formats[16].sections[0].separator = ".";
    use(s);
    EXPECT_TRUE(xk_check(16, 1, "1-2"));
    EXPECT_FALSE(xk_check(16, 1, "1.2"));
}

// The one-look call used for key columns answers what removing the separators and then checking
// answer, reason and value alike, whether or not a value holds separators (blank ones too).
TEST_F(KeyValidity, UnformatAndCheckInOneLookAgreeWithBoth) {
    CompanySettings s;
    s.formats[9] = gl_format(3);
    s.formats[16] = KeyFormat{16, 0, {{"Job", 3, "-", true, false}, {"Sub job", 3, "", true, false}}, {}};
    s.formats[18] = KeyFormat{18, 0, {{"Phase", 4, " /", true, false}, {"Part", 4, "", true, false}}, {}};
    s.formats[20] = KeyFormat{20, 0, {{"Code", 3, " ", true, true}, {"Sub", 3, "", true, false}}, {}};
    use(s);
    const std::pair<int, int> sections[] = {{9, 0}, {9, 7}, {9, 1}, {9, 9}, {16, 0}, {16, 1}, {18, 0}, {20, 0}, {21, 0}};
    const char* texts[] = {"01-2-33-4000-10", "01233400010", "01-23-3-4000-10", "0123 400010", "", "4000-10",
                           "400010", "0-1", "123-456", "123", "1234567", "12-", "-12", "A /B", "A/B", "A B",
                           "ABCD /EFGH", "ab\tc", " 12 345", "12 345", "1 2", "  7", "4000--10"};
    for (const auto& [fmt, section] : sections)
        for (const char* text : texts) {
            SCOPED_TRACE(std::to_string(fmt) + "/" + std::to_string(section) + " '" + text + "'");
            std::string expected = text, expectedWhy, value = "left over", why, again;
            xk_unformat_field(fmt, section, expected);
            bool ok = xk_check(fmt, section, expected, &expectedWhy);
            again = expected;
            xk_unformat_field(fmt, section, again);
            std::string shown = expected;
            xk_format_field(fmt, section, shown);
            // A separator too many, or a value typed formatted that would not show again as it
            // was typed (a section short before its separator): refused, not stored altered.
            if (again != expected || (expected != text && shown != text)) {
                ok = false;
                expectedWhy = "its separators are not where the key format puts them";
            }
            EXPECT_EQ(xk_unformat_check(fmt, section, text, value, &why), ok);
            EXPECT_EQ(value, expected);
            EXPECT_EQ(why, expectedWhy);
        }
}

// A key typed with a separator too many is refused; before, the separators left after the first
// removal were taken for a formatted value and one of them stayed inside the stored key.
TEST_F(KeyValidity, ASeparatorTooManyIsRefusedNotKeptInTheKey) {
    CompanySettings s;
    s.formats[9] = gl_format(3);
    s.formats[16] = KeyFormat{16, 0, {{"Job", 3, "-", true, false}, {"Sub job", 3, "", true, false}}, {}};
    use(s);
    std::string value, why;
    EXPECT_FALSE(xk_unformat_check(16, 0, "12-3-4", value, &why));
    EXPECT_THAT(why, ::testing::HasSubstr("separators are not where"));
    EXPECT_FALSE(xk_unformat_check(9, 7, "4000--10", value, &why));
    EXPECT_TRUE(xk_unformat_check(16, 0, "123-4", value, &why));
    EXPECT_EQ(value, "1234");
}

// A section typed short before its separator is refused: taken as it was, the sections slid
// together ("0-1" stored "01", shown "01") and the key was not the one typed.
TEST_F(KeyValidity, AShortSectionBeforeItsSeparatorIsRefusedNotSlidTogether) {
    CompanySettings s;
    s.formats[9] = gl_format(3);
    s.formats[16] = KeyFormat{16, 0, {{"Job", 3, "-", true, false}, {"Sub job", 3, "", true, false}}, {}};
    use(s);
    std::string value, why;
    for (const auto& [fmt, section, text] : {std::tuple{16, 0, "0-1"}, {16, 0, "12-"}, {9, 7, "400-10"}}) {
        why.clear();
        EXPECT_FALSE(xk_unformat_check(fmt, section, text, value, &why)) << text << " stored as " << value;
        EXPECT_THAT(why, ::testing::HasSubstr("separators are not where")) << text;
    }
    ASSERT_TRUE(xk_unformat_check(16, 0, "000-1", value, &why)) << why;
    xk_format_field(16, 0, value);
    EXPECT_EQ(value, "000-1");
}

TEST_F(KeyValidity, SectionNotInUseIsInvalid) {
    CompanySettings s;
    s.formats[9] = gl_format(1);
    use(s);
    EXPECT_FALSE(xk_check(9, 9, "012"));
    EXPECT_FALSE(xk_check(9, 10, "01233"));
    EXPECT_TRUE(xk_check(9, 1, "01"));
}

class JobAndPhase : public CompanyTest {
protected:
    void SetUp() override {
        CompanySettings s;
        s.formats[15] = KeyFormat{15, 0, {{"Extra", 6, "", true, false}}, {}};
        s.formats[16] = KeyFormat{16, 0, {{"Job", 3, "-", true, false}, {"Sub job", 3, "", true, false}}, {}};
        s.formats[18] = KeyFormat{
            18, 0, {{"Phase", 2, "-", true, false}, {"Sub phase", 3, ".", true, false}, {"Item", 2, "", true, false}}, {}};
        s.formats[187] = KeyFormat{187, 0, {{"Code", 4, "", true, true}, {"Sub", 2, "", true, false}}, {}};
        use(s);
    }
};

TEST_F(JobAndPhase, SectionCountsAndWidths) {
    EXPECT_EQ(xk_num_sections(15), 0);
    EXPECT_EQ(xk_num_sections(16), 1);
    EXPECT_EQ(xk_num_sections(18), 2);
    EXPECT_EQ(xk_num_sections(77), 0);  // no such format
    EXPECT_EQ(xk_width(16, 0), 6);
    EXPECT_EQ(xk_width(16, 2), 3);
    EXPECT_EQ(xk_width(15, 2), 0);
    EXPECT_EQ(xk_width(18, 3), 2);
    EXPECT_FALSE(xk_prefixed(16));
    EXPECT_TRUE(xk_multi_section(18));
    EXPECT_FALSE(xk_multi_section(15));
}

TEST_F(JobAndPhase, BuildKeyPadsInnerSectionsAndSplitsBack) {
    EXPECT_EQ(xk_build_key(18, {"10", "200", "30", ""}), "1020030");
    EXPECT_EQ(xk_build_key(18, {"1", "2", "3", ""}), "1 2  3");
    EXPECT_EQ(xk_build_key(18, {"10", "", "", ""}), "10");
    EXPECT_EQ(xk_build_key(18, {"10", "5", "", ""}), "105");
    EXPECT_EQ(xk_build_key(187, {"7", "1"}), "   71");  // right-justified section
    std::string key = xk_build_key(18, {"1", "2", "3", ""});
    for (const auto& [section, want] : std::vector<std::pair<int, std::string>>{{1, "1"}, {2, "2"}, {3, "3"}, {4, ""}}) {
        std::string text = key;
        xk_get_section(18, false, section, text);
        EXPECT_EQ(text, want) << "section " << section;
    }
}

TEST_F(JobAndPhase, FormatAndUnformat) {
    std::string phase = "1020030";
    xk_format_field(18, 0, phase);
    EXPECT_EQ(phase, "10-200.30");
    xk_format_field(18, 0, phase);
    EXPECT_EQ(phase, "10-200.30");
    xk_unformat_field(18, 0, phase);
    EXPECT_EQ(phase, "1020030");
    std::string job = "123";
    xk_format_field(16, 0, job);
    EXPECT_EQ(job, "123");
    std::string extra = "AB";
    xk_format_field(15, 0, extra);
    EXPECT_EQ(extra, "AB");
}

TEST_F(JobAndPhase, StyleFlags) {
    EXPECT_TRUE(xk_capitals(18, 0));
    EXPECT_TRUE(xk_right_justify(187, 1));
    EXPECT_FALSE(xk_right_justify(187, 0));
    EXPECT_FALSE(xk_capitals(99, 0));
}

class Descriptions : public CompanyTest {};

TEST_F(Descriptions, NumberedAndSectionDescriptions) {
    CompanySettings s;
    s.descriptions = {{9, "Account"}, {18, "Phase"}, {400, "Property"}};
    s.formats[9] = gl_format(2);
    s.formats[18] = KeyFormat{18, 0, {{"Phase", 2, "-", true, false}, {"Sub phase", 3, "", true, false}}, {}};
    use(s);
    EXPECT_EQ(xk_description(9), "Account");
    EXPECT_EQ(xk_description(9, 1), "Prefix A");
    EXPECT_EQ(xk_description(9, 2), "Prefix B");
    EXPECT_EQ(xk_description(9, 3), "");  // third level not in use
    EXPECT_EQ(xk_description(9, 4), "Base");
    EXPECT_EQ(xk_description(9, 5), "Suffix");
    EXPECT_EQ(xk_description(9, 7), "Base account");
    EXPECT_EQ(xk_description(9, 9), "Prefix B");
    EXPECT_EQ(xk_description(18, 2), "Sub phase");
    EXPECT_EQ(xk_description(18, 3), "");
    EXPECT_EQ(xk_description(401), "");  // a company may leave a description empty
    close_company();
    EXPECT_EQ(xk_description(9), "");
}

TEST(Words, PluralsKeepTheLetterCase) {
    const std::pair<const char*, const char*> cases[] = {
        {"Phase", "Phases"},       {"Property", "Properties"}, {"Tax", "Taxes"},
        {"PROPERTY", "PROPERTIES"}, {"TAX", "TAXES"},          {"Day", "Days"},
        {"Batch", "Batches"},      {"Bush", "Bushes"},         {"Status", "Statuses"},
        {"Cost code", "Cost codes"}, {"Misc income source", "Misc income sources"},
        {"", ""},                  {"Quiz", "Quizes"},         {"Extra", "Extras"},
        {"A1", "A1s"},
    };
    for (const auto& [in, out] : cases) {
        std::string text = in;
        x_pluralize(text);
        EXPECT_EQ(text, out) << in;
    }
}

TEST(Words, CaseChanges) {
    std::string t = "tax group-code";
    x_init_caps(t);
    EXPECT_EQ(t, "Tax Group-Code");
    t = "mIxEd 9";
    x_capitalize(t);
    EXPECT_EQ(t, "MIXED 9");
    x_lower_case(t);
    EXPECT_EQ(t, "mixed 9");
    x_upper_first(t);
    EXPECT_EQ(t, "Mixed 9");
    std::string d = "cost code";
    x_strins("EQ ", d, 0);
    EXPECT_EQ(d, "EQ cost code");
    x_strins("!", d, 99);
    EXPECT_EQ(d, "EQ cost code!");
}

class CustomLists : public CompanyTest {};

TEST_F(CustomLists, DefaultFirstThenValues) {
    CompanySettings s;
    s.lists[369] = {"Taxable", {"Taxable", "Exempt"}};
    s.lists[437] = {"Main", {}};
    s.lists[417] = {"", {"Rentable", "Usable"}};
    s.lists[434] = {"", {}};
    use(s);

    auto tax = cl_string_to_cListContainer(xk_get_custom_list(369));
    ASSERT_EQ(tax.size(), 3u);
    EXPECT_EQ(tax[0], "Taxable");
    // Callers drop the first entry when there are two or more: the default stays allowed.
    EXPECT_EQ(std::vector<std::string>(tax.begin() + 1, tax.end()), (std::vector<std::string>{"Taxable", "Exempt"}));
    EXPECT_EQ(xk_get_custom_list_default(369), "Taxable");

    // A one-entry list keeps its entry.
    EXPECT_EQ(cl_string_to_cListContainer(xk_get_custom_list(437)), std::vector<std::string>{"Main"});
    EXPECT_EQ(xk_get_custom_list_default(437), "Main");

    // No default: an empty first entry, so dropping it leaves exactly the values.
    auto sf = cl_string_to_cListContainer(xk_get_custom_list(417));
    EXPECT_EQ(sf, (std::vector<std::string>{"", "Rentable", "Usable"}));
    EXPECT_EQ(xk_get_custom_list_default(417), "");

    EXPECT_TRUE(cl_string_to_cListContainer(xk_get_custom_list(434)).empty());
    EXPECT_TRUE(cl_string_to_cListContainer(xk_get_custom_list(999)).empty());
    EXPECT_EQ(xk_get_custom_list_default(999), "");
}

TEST(CustomListText, SplitKeepsEmptyEntriesAndBlanks) {
    EXPECT_EQ(cl_string_to_cListContainer("a\t\tb "), (std::vector<std::string>{"a", "", "b "}));
    EXPECT_EQ(cl_string_to_cListContainer("\t"), (std::vector<std::string>{"", ""}));
}

}  // namespace
}  // namespace dz::suite
