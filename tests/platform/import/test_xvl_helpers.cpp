#include "platform/import/xvl_case.h"
#include "platform/import/xvl_helpers.h"
#include "platform/suite/company.h"

#include <gtest/gtest.h>

namespace dz::xvl {
namespace {

using suite::CompanySettings;
using suite::KeyFormat;

class SectionedField : public ::testing::Test {
protected:
    void SetUp() override {
        CompanySettings s;
        KeyFormat gl;
        gl.number = 9;
        gl.prefix_levels = 2;
        gl.sections = {{"Prefix A", 2, "-", true, false}, {"Prefix B", 1, "-", true, false},
                       {"Base", 4, "-", true, false}, {"Suffix", 2, "", true, false}};
        gl.gl_descriptions = {{6, "Prefix"}, {7, "Base account"}, {8, "Account"}, {9, "Prefix B"}, {10, "Prefix C"}};
        s.formats[9] = gl;
        s.report_designs = {"Standard Invoice"};
        suite::set_company(suite::Company("/nonexistent-company", s));
    }
    void TearDown() override { suite::close_company(); }
};

TEST_F(SectionedField, WidthAndCharactersOfValues) {
    const struct {
        int section;
        const char* text;
        bool valid;
    } cases[] = {
        {0, "012400010", true},   {0, "01240001", false},   {0, "0124000100", false},
        {0, "01-2-4000-10", true},   // formatted by the caller before the check
        {7, "4000-10", true},        {0, "01-24-000-10", false},  // separators misplaced
        {1, "01", true},          {1, "1", false},          {1, "012", false},
        {7, "400010", true},      {7, "4000", false},       {9, "012", true},
        {9, "01", false},         {10, "01233", false},  // third level not in use
        {0, "0124 0010", false},  {0, "", false},           {0, "01\t400010", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(xvl_imp_is_sectioned_field_valid(9, c.text, c.section) != 0, c.valid)
            << "section " << c.section << " '" << c.text << "'";
    }
}

TEST(MinimizeString, TrimsAndCollapsesBlanks) {
    const std::pair<const char*, const char*> cases[] = {
        {"  a   b  ", "a b"}, {"a\t\tb", "a b"}, {"", ""}, {"   ", ""}, {"abc", "abc"}, {" x ", "x"},
    };
    for (const auto& [in, out] : cases) {
        std::string t = in;
        xvl_imp_minimize_string(t);
        EXPECT_EQ(t, out) << "'" << in << "'";
    }
}

TEST(ParsePathname, FolderAndNameWithEitherSeparator) {
    const struct {
        const char* path;
        const char* folder;
        const char* name;
    } cases[] = {
        {"C:\\data\\GL\\MASTER.GLT", "C:\\data\\GL\\", "MASTER.GLT"},
        {"/srv/company/MASTER.GLT", "/srv/company/", "MASTER.GLT"},
        {"mixed/dir\\file.txt", "mixed/dir\\", "file.txt"},
        {"file.txt", "", "file.txt"},
        {"C:file.txt", "C:", "file.txt"},
        {"/srv/dir/", "/srv/dir/", ""},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        xvlPathParts p = xvlParsePathname(c.path);
        EXPECT_EQ(p.folder, c.folder) << c.path;
        EXPECT_EQ(p.name, c.name) << c.path;
    }
}

TEST_F(SectionedField, DesignNamesIgnoreLetterCase) {
    EXPECT_NE(xvlValidateDesignName("standard invoice"), 0);
    EXPECT_EQ(xvlValidateDesignName("Standard Invoic"), 0);
    EXPECT_EQ(xvlValidateDesignName(""), 0);
    suite::close_company();
    EXPECT_EQ(xvlValidateDesignName("Standard Invoice"), 0);
}

}  // namespace
}  // namespace dz::xvl

// Every length around a word, the bytes next to the letters ('`', '{', '@', '['), and UTF-8
// bytes, which stay as they are: the same as letter by letter.
TEST(UpperAsciiAll, CapitalsEveryAsciiLetterAndNothingElse) {
    const std::string pool = "az`{@[AZ09 \xC3\xA9\x80\xFF-mQ~";
    for (std::size_t n = 0; n <= 40; ++n) {
        std::string text;
        for (std::size_t i = 0; i < n; ++i) text += pool[(i * 7 + n) % pool.size()];
        std::string expected = text;
        for (char& ch : expected)
            if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
        dz::xvl::upperAsciiAll(text);
        EXPECT_EQ(text, expected) << n;
    }
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    std::string expected = all;
    for (char& ch : expected)
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
    dz::xvl::upperAsciiAll(all);
    EXPECT_EQ(all, expected);
}
