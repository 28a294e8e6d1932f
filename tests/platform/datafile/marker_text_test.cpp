// A run marker's text, as written and as read back: good markers give what they name, bad ones
// are told apart with their reason.
#include "platform/datafile/marker_text.h"
#include "platform/datafile/run_mark.h"

#include <gmock/gmock.h>

namespace dz::test {
namespace {

using ::testing::HasSubstr;

const std::string kRun = "h~42";
const std::string kHead = xio::marker_head("h", 42, 0x0123456789abcdefULL);

TEST(MarkerText, WhatIsWrittenIsReadBack) {
    const std::string text = kHead + xio::marker_part_line("../cm") + xio::marker_copy_line("MASTER.APM~h~42", 7, 0xff) +
                             xio::marker_copy_line("CURRENT.APT~h~42~2", 0, 1) + xio::marker_end_line();
    const xio::MarkerText m = xio::parse_marker_text(text, kRun);
    ASSERT_EQ(m.state, xio::MarkerText::Whole) << m.why;
    EXPECT_EQ(m.version, 4);
    EXPECT_TRUE(m.numbered);
    EXPECT_EQ(m.number, 0x0123456789abcdefULL);
    EXPECT_EQ(m.host, "h");
    EXPECT_EQ(m.process, "42");
    ASSERT_EQ(m.parts.size(), 1u);
    EXPECT_EQ(m.parts[0], "../cm");
    ASSERT_EQ(m.copies.size(), 2u);
    EXPECT_EQ(m.copies[0].dataFile, "MASTER.APM");
    EXPECT_EQ(m.copies[0].length, 7u);
    EXPECT_EQ(m.copies[0].hash, 0xffu);
    EXPECT_EQ(m.copies[1].dataFile, "CURRENT.APT");
    EXPECT_EQ(m.namesEnd, (kHead + xio::marker_part_line("../cm")).size());
}

// What each data file had when the run copied it is read back from a marker not yet filled (a
// put-back killed midway has only that to give back by) and from a whole one, where it goes with
// its copy; markers of the version before, which give none, keep being read.
TEST(MarkerText, WhatTheDataFilesHadIsReadBackFilledOrNot) {
    const xio::FileHad had{{1002, 1001}, xio::AccessList::of_bits(0664)};
    xio::FileHad named = had;
    named.list.entries.push_back({xio::AccessTag::User, 6, 4321});
    named.list.entries.push_back({xio::AccessTag::Group, 7, 4322});  // every right an entry may give
    const std::string lines = xio::marker_had_line("MASTER.APM", had) + xio::marker_had_line("CURRENT.APT", named);
    const xio::MarkerText unfilled = xio::parse_marker_text(xio::marker_unfilled_head("h", 42) + lines, kRun);
    ASSERT_EQ(unfilled.state, xio::MarkerText::Empty) << unfilled.why;
    ASSERT_EQ(unfilled.had.size(), 2u);
    EXPECT_TRUE(unfilled.had.at("MASTER.APM") == had);
    EXPECT_TRUE(unfilled.had.at("CURRENT.APT") == named);

    const xio::MarkerText whole = xio::parse_marker_text(
        kHead + lines + xio::marker_copy_line("CURRENT.APT~h~42", 7, 0xff) + xio::marker_end_line(), kRun);
    ASSERT_EQ(whole.state, xio::MarkerText::Whole) << whole.why;
    ASSERT_EQ(whole.copies.size(), 1u);
    ASSERT_TRUE(whole.copies[0].had.has_value());
    EXPECT_TRUE(*whole.copies[0].had == named);
    EXPECT_EQ(whole.namesEnd, (kHead + lines).size());

    const std::string v3 = "dodedoz run marker 3\nhost h\nprocess 42\nmark 0123456789abcdef\n";
    const std::string copy = xio::marker_copy_line("MASTER.APM~h~42", 7, 0xff) + xio::marker_end_line();
    const xio::MarkerText old = xio::parse_marker_text(v3 + copy, kRun);
    ASSERT_EQ(old.state, xio::MarkerText::Whole) << old.why;
    EXPECT_EQ(old.version, 3);
    EXPECT_FALSE(old.copies[0].had.has_value());

    for (const std::string& bad :
         {v3 + lines + copy, kHead + lines + xio::marker_had_line("MASTER.APM", named) + copy,
          kHead + "had MASTER.APM 1002 1001 0:0:9\n" + copy, kHead + "had ../MASTER.APM 1 1 0:0:6\n" + copy,
          kHead + xio::marker_copy_line("MASTER.APM~h~42", 7, 0xff) + lines + xio::marker_end_line()}) {
        const xio::MarkerText m = xio::parse_marker_text(bad, kRun);
        EXPECT_EQ(m.state, xio::MarkerText::Unreadable) << bad;
    }
}

TEST(MarkerText, EachMarkerIsJudgedByItsLines) {
    struct Row {
        const char* what;
        std::string text;
        xio::MarkerText::State state;
        int version;
        bool numbered;
        const char* why;
    };
    const std::string copy = xio::marker_copy_line("MASTER.APM~h~42", 7, 0xff);
    const std::string v2 = "dodedoz run marker 2\nhost h\nprocess 42\n";
    const Row rows[] = {
        {"empty: made, never filled", "", xio::MarkerText::Empty, 0, false, ""},
        {"no end: never committed", kHead + copy, xio::MarkerText::Empty, 4, true, ""},
        {"numbered and whole", kHead + copy + "end\n", xio::MarkerText::Whole, 4, true, ""},
        {"version 2 keeps being read, unnumbered", v2 + copy + "end\n", xio::MarkerText::Whole, 2, false, ""},
        {"version 1 names copies by path", "dodedoz run marker\nstart 1\ncopy /c/.backup/MASTER.APM~h~42\nend\n",
         xio::MarkerText::Whole, 1, false, ""},
        {"version 3 without its number", "dodedoz run marker 3\nhost h\nprocess 42\n" + copy + "end\n",
         xio::MarkerText::Unreadable, 3, false, "gives no run number"},
        {"a number that is not 16 hex digits", "dodedoz run marker 3\nhost h\nprocess 42\nmark 12ab\n" + copy + "end\n",
         xio::MarkerText::Unreadable, 3, false, "not one"},
        {"a number twice", kHead + "mark 0000000000000001\n" + copy + "end\n", xio::MarkerText::Unreadable, 4, false,
         "not a marker's"},
        {"a number in a version 2 marker", v2 + "mark 0123456789abcdef\n" + copy + "end\n", xio::MarkerText::Unreadable, 2,
         false, "not a marker's"},
        {"a number after the copies", kHead.substr(0, kHead.find("\nmark ") + 1) + copy + "mark 0123456789abcdef\nend\n",
         xio::MarkerText::Unreadable, 4, false, "not a marker's"},
        {"a part in a version 1 marker", "dodedoz run marker\npart ../cm\nend\n", xio::MarkerText::Unreadable, 1, false,
         "not a marker's"},
        {"a main in a version 1 marker", "dodedoz run marker\nmain ../cm\nend\n", xio::MarkerText::Unreadable, 1, false,
         "not a marker's"},
        {"another head", "dodedoz run marker 5\n" + copy + "end\n", xio::MarkerText::Unreadable, 0, false,
         "not a run marker"},
        {"a copy without length and hash", kHead + "copy MASTER.APM~h~42\nend\n", xio::MarkerText::Unreadable, 4, false,
         "without its length and hash"},
        {"a copy of another run", kHead + xio::marker_copy_line("MASTER.APM~h~43", 1, 1) + "end\n",
         xio::MarkerText::Unreadable, 4, false, "not a copy of its run"},
        {"a copy leading elsewhere", kHead + xio::marker_copy_line("../MASTER.APM~h~42", 1, 1) + "end\n",
         xio::MarkerText::Unreadable, 4, false, "not a copy of its run"},
        {"one data file twice", kHead + copy + xio::marker_copy_line("MASTER.APM~h~42~2", 1, 1) + "end\n",
         xio::MarkerText::Unreadable, 4, false, "twice"},
        {"a hash that is not hex", kHead + "copy MASTER.APM~h~42 7 zz\nend\n", xio::MarkerText::Unreadable, 4, false,
         "without its length and hash"},
        {"a line of no kind", kHead + "rm -rf /\n" + copy + "end\n", xio::MarkerText::Unreadable, 4, false,
         "not a marker's"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const xio::MarkerText m = xio::parse_marker_text(r.text, kRun);
        EXPECT_EQ(m.state, r.state) << m.why;
        EXPECT_EQ(m.version, r.version);
        EXPECT_EQ(m.numbered, r.numbered);
        EXPECT_THAT(m.why, HasSubstr(r.why));
    }
}

TEST(MarkerText, ARunsMarkInAFileIsItsUserAndNumber) {
    const xio::RunMark mark{1004, 0xfedcba9876543210ULL};
    xio::RunMark read;
    ASSERT_TRUE(xio::parse_run_mark(xio::format_run_mark(mark), read));
    EXPECT_EQ(read, mark);
    for (const char* bad : {"", "1004", "1004 fedcba987654321", "1004 fedcba9876543210 1", "x fedcba9876543210",
                            "1004  fedcba9876543210", "1004 fedcba987654321g", "1004 FEDCBA9876543210", "99999999999 fedcba9876543210"})
        EXPECT_FALSE(xio::parse_run_mark(bad, read)) << bad;
    EXPECT_NE(xio::draw_run_number(), xio::draw_run_number());
}

}  // namespace
}  // namespace dz::test
