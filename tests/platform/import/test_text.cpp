// Lines and columns of text files.
#include "import_fixture.h"

#include "platform/import/xvl_text.h"

#include <gtest/gtest.h>

#include <sstream>
#include <ostream>

using namespace dz::xvl;

namespace {

std::vector<std::string> allLines(std::string_view data) {
    LineReader r(data);
    std::vector<std::string> out;
    std::string line;
    while (r.next(line)) out.push_back(line);
    return out;
}

std::vector<std::string> allStreamLines(const std::string& data) {
    std::istringstream in(data);
    std::vector<std::string> out;
    std::string line;
    while (ReadTextLine(in, line)) out.push_back(line);
    return out;
}

}  // namespace

struct LineCase {
    const char* name;
    std::string data;
    std::vector<std::string> lines;
};
// A failing case is named by this, not by its bytes.
static void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class LineEnds : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineEnds, MemoryAndStreamReadersAgree) {
    const LineCase& c = GetParam();
    EXPECT_EQ(allLines(c.data), c.lines) << c.name;
    EXPECT_EQ(allStreamLines(c.data), c.lines) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Import, LineEnds,
    ::testing::Values(
        LineCase{"lf", "a\nb\n", {"a", "b"}}, LineCase{"crlf", "a\r\nb\r\n", {"a", "b"}},
        LineCase{"cr", "a\rb\r", {"a", "b"}}, LineCase{"lfcr", "a\n\rb\n\r", {"a", "b"}},
        LineCase{"no end on last line", "a\r\nb", {"a", "b"}},
        // Two LFs are two line ends: the empty line between them counts.
        LineCase{"lf lf", "a\n\nb", {"a", "", "b"}}, LineCase{"cr cr", "a\r\rb", {"a", "", "b"}},
        LineCase{"crlf crlf", "a\r\n\r\nb", {"a", "", "b"}},
        LineCase{"ctrl-z inside a line", std::string("ab\x1a" "c\r\n"), {"abc"}},
        LineCase{"ctrl-z at the end of the file", std::string("a\r\n\x1a"), {"a"}},
        LineCase{"ctrl-z between CR and LF", std::string("a\r\x1a\nb"), {"a", "b"}},
        LineCase{"only ctrl-z", std::string("\x1a\x1a"), {}}, LineCase{"empty", "", {}},
        LineCase{"eight-bit bytes kept", "caf\xe9,\xff\r\n", {"caf\xe9,\xff"}}),
    dz::xvl::test::CaseName());

TEST(ImportLineReader, RawRangeCoversTheLineEnd) {
    const std::string data = "#,GLM,x\r\n1,a\n\r2,b";
    LineReader r(data);
    std::string line;
    std::size_t b = 0, e = 0;
    ASSERT_TRUE(r.next(line, &b, &e));
    EXPECT_EQ(data.substr(b, e - b), "#,GLM,x\r\n");
    ASSERT_TRUE(r.next(line, &b, &e));
    EXPECT_EQ(data.substr(b, e - b), "1,a\n\r");
    ASSERT_TRUE(r.next(line, &b, &e));
    EXPECT_EQ(data.substr(b, e - b), "2,b");
    EXPECT_TRUE(r.atEnd());
}

TEST(ImportLineReader, FirstLineEndOfEachForm) {
    std::size_t cut = 0;
    EXPECT_EQ(FirstLineEnd("#a\r\nb", &cut), "\r\n");
    EXPECT_EQ(cut, 4u);
    EXPECT_EQ(FirstLineEnd("#a\n\rb", &cut), "\n\r");
    EXPECT_EQ(FirstLineEnd("#a\rb", &cut), "\r");
    EXPECT_EQ(cut, 3u);
    EXPECT_EQ(FirstLineEnd("#a", &cut), "");
    EXPECT_EQ(cut, 2u);
}

struct ColumnCase {
    const char* line;
    bool ok;
    std::vector<std::string> columns;
    std::size_t badColumn;
};
// A failing case is named by this, not by its bytes.
static void PrintTo(const ColumnCase& c, std::ostream* os) { *os << '"' << c.line << '"'; }

class Columns : public ::testing::TestWithParam<ColumnCase> {};

TEST_P(Columns, Split) {
    const ColumnCase& c = GetParam();
    std::vector<std::string> cols;
    std::size_t bad = 99;
    EXPECT_EQ(SplitColumns(c.line, cols, bad), c.ok) << c.line;
    if (c.ok) {
        EXPECT_EQ(cols, c.columns) << c.line;
        EXPECT_EQ(bad, 0u);
    } else {
        EXPECT_EQ(bad, c.badColumn) << c.line;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Import, Columns,
    ::testing::Values(ColumnCase{"a,b,c", true, {"a", "b", "c"}, 0},
                      ColumnCase{"  a , b\t,c  ", true, {"a", "b", "c"}, 0},
                      ColumnCase{"a,,", true, {"a", "", ""}, 0}, ColumnCase{"", true, {""}, 0},
                      ColumnCase{"\"a,b\",c", true, {"a,b", "c"}, 0},
                      ColumnCase{"\"say \"\"hi\"\"\",x", true, {"say \"hi\"", "x"}, 0},
                      ColumnCase{"\" keep blanks \" ,x", true, {" keep blanks ", "x"}, 0},
                      ColumnCase{"\"\",x", true, {"", "x"}, 0},
                      ColumnCase{"5\" pipe,x", true, {"5\" pipe", "x"}, 0},
                      ColumnCase{"a,\"open", false, {}, 2}, ColumnCase{"\"a\"b,c", false, {}, 1},
                      ColumnCase{"x,y,\"z\"  ", true, {"x", "y", "z"}, 0},
                      ColumnCase{"x,y,\"z\" q", false, {}, 3}));

TEST(ImportColumns, FirstColumnOfGoodAndBadLines) {
    EXPECT_EQ(FirstColumn("1N,abc"), "1N");
    EXPECT_EQ(FirstColumn("\"BN\",abc"), "BN");
    EXPECT_EQ(FirstColumn(" 4 ,\"unclosed"), "4");
    EXPECT_EQ(FirstColumn("noComma"), "noComma");
}

// Whether a record goes on past a line end, and how a line hands its quoting to the next.
TEST(ImportColumns, QuotingAtALinesEnd) {
    EXPECT_EQ(ScanQuotes("a,b,c"), QuoteState::Unquoted);
    EXPECT_EQ(ScanQuotes("a,b, "), QuoteState::ColumnStart);
    EXPECT_EQ(ScanQuotes("a,\"b,c"), QuoteState::InQuote);
    EXPECT_EQ(ScanQuotes("a, \"b\"\"\",c,\"d"), QuoteState::InQuote);   // a doubled quote stays inside
    EXPECT_EQ(ScanQuotes("a,\"b\"\"\""), QuoteState::AfterQuote);
    EXPECT_EQ(ScanQuotes("5\" pipe,x"), QuoteState::Unquoted);           // a quote inside plain text
    EXPECT_EQ(ScanQuotes("\"b\" x \"y,\"z"), QuoteState::InQuote);       // text after a quote runs to the comma
    EXPECT_EQ(ScanQuotes("\""), QuoteState::InQuote);
    EXPECT_EQ(ScanQuotes("", QuoteState::InQuote), QuoteState::InQuote);
    EXPECT_EQ(ScanQuotes("end\",x", QuoteState::InQuote), QuoteState::Unquoted);
    EXPECT_EQ(ScanQuotes("\"\"still in", QuoteState::InQuote), QuoteState::InQuote);
    EXPECT_EQ(ScanQuotes("\"", QuoteState::InQuote), QuoteState::AfterQuote);
}

// Plain columns of every length around a word's eight bytes, with blanks and a comma at each
// place in the word: each comes back whole.
TEST(ImportColumns, PlainColumnsOfEveryLengthSplitWhole) {
    for (std::size_t len = 0; len <= 20; ++len)
        for (std::size_t lead = 0; lead < 3; ++lead) {
            std::string value;
            for (std::size_t k = 0; k < len; ++k) value.push_back(static_cast<char>('a' + k % 26));
            if (len > 2) value[len / 2] = ' ';
            const std::string line = std::string(lead, ' ') + value + "," + value + ",x" + std::string(lead, ' ');
            std::vector<std::string> cols;
            std::size_t bad = 0;
            ASSERT_TRUE(SplitColumns(line, cols, bad)) << line;
            EXPECT_EQ(cols, (std::vector<std::string>{value, value, "x"})) << line;
        }
}

// Runs of empty columns across the number of columns kept: those past it are counted, and the
// last filled one is noted.
TEST(ImportColumns, EmptyRunsAcrossTheColumnsKept) {
    std::vector<std::string_view> cols;
    std::string scratch;
    std::size_t bad = 0, lastFilled = 0;
    ASSERT_TRUE(SplitColumnViews("a,,,,,b,,", cols, scratch, bad, 3, lastFilled));
    EXPECT_EQ(cols, (std::vector<std::string_view>{"a", "", ""}));
    EXPECT_EQ(lastFilled, 6u);
    ASSERT_TRUE(SplitColumnViews(",,,,", cols, scratch, bad, 2, lastFilled));
    EXPECT_EQ(cols, (std::vector<std::string_view>{"", ""}));
    EXPECT_EQ(lastFilled, 0u);
    ASSERT_TRUE(SplitColumnViews(",,x,,", cols, scratch, bad, 10, lastFilled));
    EXPECT_EQ(cols, (std::vector<std::string_view>{"", "", "x", "", ""}));
}

// The places of the kept columns that are not empty, in order: quoted blanks are a value, an
// empty quoted value and a column of blanks are not, and columns past those kept are left out.
TEST(ImportColumns, NonEmptyColumnsAreListedInOrder) {
    std::vector<std::string_view> cols;
    std::string scratch;
    std::vector<uint32_t> places(1, 99);
    std::size_t bad = 0, lastFilled = 0, count = 0;
    ASSERT_TRUE(SplitColumnViews("a,,\"\",  ,\" \",b\"\"c,\"d\"\"e\",,f,g", cols, scratch, bad, 9, lastFilled, places, count));
    EXPECT_EQ(std::vector<uint32_t>(places.begin(), places.begin() + static_cast<std::ptrdiff_t>(count)),
              (std::vector<uint32_t>{0, 4, 5, 6, 8}));
    EXPECT_EQ(lastFilled, 10u);
    ASSERT_TRUE(SplitColumnViews(",,,", cols, scratch, bad, 9, lastFilled, places, count));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(SplitColumnViews("x,\"open", cols, scratch, bad, 9, lastFilled, places, count));
}

// A line without quotes splits as it does with an empty quoted column after it, which only adds
// that column: lines of commas, blanks, tabs and letters of every length across several words,
// with room for all their columns or fewer.
TEST(ImportColumns, LinesWithoutQuotesSplitAsQuotedLinesDo) {
    const char alphabet[] = {',', ',', ',', ' ', '\t', 'a', 'b'};
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7fff;
    };
    for (int round = 0; round < 3000; ++round) {
        std::string line(static_cast<std::size_t>(next() % 70), ' ');
        for (char& c : line) c = alphabet[next() % sizeof alphabet];
        const std::size_t keep = round % 3 == 0 ? 4 : 200;
        std::vector<std::string_view> plain, quoted;
        std::string s1, s2;
        std::vector<uint32_t> l1, l2;
        std::size_t bad = 0, f1 = 0, f2 = 0, n1 = 0, n2 = 0;
        ASSERT_TRUE(SplitColumnViews(line, plain, s1, bad, keep, f1, l1, n1)) << line;
        const std::string withQuote = line + ",\"\"";
        ASSERT_TRUE(SplitColumnViews(withQuote, quoted, s2, bad, keep, f2, l2, n2)) << line;
        std::vector<std::string_view> expected = plain;
        if (expected.size() < keep) expected.push_back("");
        EXPECT_EQ(quoted, expected) << "[" << line << "]";
        EXPECT_EQ(f1, f2) << "[" << line << "]";
        ASSERT_EQ(n1, n2) << "[" << line << "]";
        EXPECT_TRUE(std::equal(l1.begin(), l1.begin() + static_cast<std::ptrdiff_t>(n1), l2.begin())) << "[" << line << "]";
    }
}

// Lines read in place come out as the copying read gives them, with the same byte ranges, and
// are said to hold a quote when they do: texts of letters, quotes, line ends and Ctrl-Z of every
// length across several words.
TEST(ImportLineReader, InPlaceReadsMatchCopyingReads) {
    const char alphabet[] = {'a', 'b', ',', '"', '\r', '\n', kCtrlZ};
    uint32_t seed = 777;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7fff;
    };
    for (int round = 0; round < 3000; ++round) {
        std::string data(static_cast<std::size_t>(next() % 60), 'a');
        for (char& c : data) c = alphabet[next() % (round % 2 ? 4 : sizeof alphabet)];
        if (round % 2) data.insert(next() % (data.size() + 1), 1, '\n');  // long lines, one line end
        LineReader copying(data), inPlace(data);
        std::string copied, scratch;
        std::string_view viewed;
        std::size_t b1 = 0, e1 = 0, b2 = 0, e2 = 0;
        bool quoted = false;
        while (true) {
            const bool more = copying.next(copied, &b1, &e1);
            ASSERT_EQ(inPlace.next(viewed, scratch, &b2, &e2, quoted), more) << round;
            if (!more) break;
            EXPECT_EQ(viewed, copied) << round;
            EXPECT_EQ(quoted, copied.find('"') != std::string::npos) << round;
            EXPECT_EQ(b1, b2) << round;
            EXPECT_EQ(e1, e2) << round;
        }
    }
}
