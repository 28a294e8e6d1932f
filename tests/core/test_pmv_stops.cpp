// The accumulated amounts, stops and caps of a lease's recovery control, checked by its handler on
// a staged record, and the recovery grid on which a stop or cap period of another frequency than
// the recovery's must start and end.
#include "pm_fixture.h"

#include "converters/pm/xvpmv.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace dz::pm::testing {

using namespace convert;
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

x_date_type D(uint16_t m, uint16_t d, uint16_t y) { return suite::zqDate(m, d, y); }

TEST(PmvRecoveryGrid, StepsFromTheAnchorEachStepFromTheLast) {
    // Forward, backward and on the anchor.
    EXPECT_TRUE(OnRecoveryGrid(D(1, 1, 2022), D(1, 1, 2021), 12));
    EXPECT_TRUE(OnRecoveryGrid(D(1, 1, 2020), D(1, 1, 2021), 12));
    EXPECT_TRUE(OnRecoveryGrid(D(1, 1, 2021), D(1, 1, 2021), 12));
    EXPECT_FALSE(OnRecoveryGrid(D(7, 1, 2021), D(1, 1, 2021), 12));
    EXPECT_FALSE(OnRecoveryGrid(D(1, 2, 2022), D(1, 1, 2021), 12));
    // A month end cut short stays short: 31 January, 28 February, 28 March; leap years count.
    EXPECT_TRUE(OnRecoveryGrid(D(2, 28, 2021), D(1, 31, 2021), 1));
    EXPECT_TRUE(OnRecoveryGrid(D(3, 28, 2021), D(1, 31, 2021), 1));
    EXPECT_FALSE(OnRecoveryGrid(D(3, 31, 2021), D(1, 31, 2021), 1));
    EXPECT_TRUE(OnRecoveryGrid(D(3, 29, 2024), D(1, 31, 2024), 1));
    EXPECT_TRUE(OnRecoveryGrid(D(7, 30, 2021), D(1, 31, 2021), 3));
    // Backward the same: 31 March, 28 February, 28 January.
    EXPECT_TRUE(OnRecoveryGrid(D(1, 28, 2021), D(3, 31, 2021), 1));
    EXPECT_FALSE(OnRecoveryGrid(D(1, 31, 2021), D(3, 31, 2021), 1));
    // At the calendar's ends the walk stops instead of running on in place.
    EXPECT_FALSE(OnRecoveryGrid(D(1, 15, 0), D(1, 31, 0), 1));
    EXPECT_FALSE(OnRecoveryGrid(D(12, 31, 65535), D(12, 1, 65535), 1));
}

class PmvStopsTest : public PmFixture {
protected:
    void SetUp() override {
        PmFixture::SetUp();
        ChargeType("CAM");
        Property("PLAZA");
        Lease("CR100", 1, "PLAZA", "101", "GROCER");
        RecurringCharge("CR100", 1, "CAM", "101");
        Put("PMP", 19, {{"UFPROP", "PLAZA"}, {"UFUNIT", "101"}, {"UFSFTYP", "Gla"}, {"UFDATE", "1/1/2026"}});
        Put("PMP", 19, {{"UFPROP", "PLAZA"}, {"UFUNIT", "102"}, {"UFSFTYP", "NET"}, {"UFDATE", "1/1/2026"}});
    }

    // Checks a yearly recovery control of 2021 with `more` (money in hundredths); the reject
    // reason, or "" when the record is kept. The notes are left in `notes`.
    std::string Check(const std::map<std::string, std::string>& more, bool converting = true) {
        std::map<std::string, std::string> values = {{"RCLEASE", "cr100"}, {"RCREV", "1"},        {"RCCT", "cam"},
                                                     {"RCUNIT", "101"},    {"RCFREQ", "12"},      {"RCNFD", "1/1/2021"},
                                                     {"RCNTD", "12/1/2021"}};
        for (const auto& [k, v] : more) values[k] = v;
        FieldValues staged;
        for (const auto& [k, v] : values) staged.emplace_back(k.c_str(), v);
        Stage("PMV", 4, staged);
        notes.clear();
        std::string reason;
        const bool kept = xvPMV().ConvertRecoveryControl(H("PMV"), H("PML"), H("PMS"), H("PMP"), reason, notes,
                                                         ids, converting);
        return kept ? std::string() : reason;
    }
    std::string Text(const char* name) { return GetText(H("PMV"), 4, name); }
    double Number(const char* name) { return GetNumber(H("PMV"), 4, name); }
    bool BlankDate(const char* name) { return GetDate(H("PMV"), 4, name).month == 0; }

    convert::MessageList notes;
    convert::RecordIdMap ids;
};

TEST_F(PmvStopsTest, AccumulatedAmountsAreClearedEachWithItsNote) {
    EXPECT_EQ(Check({{"RCCASTP", "15000"}, {"RCPRAC", "250"}}), "");
    EXPECT_THAT(notes, ElementsAre("Accumulated stop is not supported by conversion, '150.00' was cleared(1445)",
                                   "Recrecon accumulated cap is not supported by conversion, '2.50' was cleared(1445)"));
    EXPECT_EQ(Number("RCCASTP"), 0);
    EXPECT_EQ(Number("RCPRAC"), 0);
    EXPECT_EQ(Check({{"RCCASTP", "15000"}}, false), "");
    EXPECT_THAT(notes, ElementsAre(HasSubstr("'150.00' will be cleared(1446)")));
}

TEST_F(PmvStopsTest, TheMethodDecidesWhichFieldsStay) {
    // No stop: every stop field with a value goes, one note naming the first.
    EXPECT_EQ(Check({{"RCSTOP", "1"}, {"RCSAMT", "50000"}, {"RCSFROM", "1/1/2021"}, {"RCSTO", "12/1/2021"}}), "");
    EXPECT_THAT(notes, ElementsAre("Stop method is 'No stop(1)', its fields(like Stop amount with '500.00') were "
                                   "cleared(1436)"));
    EXPECT_EQ(Number("RCSAMT"), 0);
    EXPECT_TRUE(BlankDate("RCSFROM"));
    EXPECT_TRUE(BlankDate("RCSTO"));
    // A method without SF type drops it unread: a type the unit lacks is not looked up.
    EXPECT_EQ(Check({{"RCCAP", "2"}, {"RCCSF", "ZZZ"}, {"RCCAMT", "100"}}, false), "");
    EXPECT_THAT(notes, ElementsAre("Cap method is not 'Dollars per SF(3)', Cap SF type with 'ZZZ' will be "
                                   "cleared(1439)"));
    EXPECT_EQ(Text("RCCSF"), "");
    EXPECT_EQ(Number("RCCAMT"), 100);
    // Dollars per SF needs its SF type, checked after both sides' notes.
    EXPECT_EQ(Check({{"RCSTOP", "3"}, {"RCCAP", "1"}, {"RCCAMT", "100"}}),
              "Stop method is 'Dollars per SF(3)', Stop SF type is required for Recov 'CR100, 1, CAM, 101'(1440)");
    EXPECT_THAT(notes, ElementsAre(HasSubstr("Cap method is 'No cap(1)', its fields(like Cap amount with '1.00')")));
    // A cap error of an earlier rule comes before a stop error of a later one.
    EXPECT_THAT(Check({{"RCCAP", "3"}, {"RCSTOP", "2"}, {"RCSF", "12"}}), HasSubstr("Cap method is 'Dollars per SF(3)'"));
}

TEST_F(PmvStopsTest, AnSfTypeMustBeOneOfTheUnits) {
    EXPECT_EQ(Check({{"RCSTOP", "3"}, {"RCSSF", "GLA"}}), "");
    EXPECT_EQ(Text("RCSSF"), "Gla");  // the spelling stored for the unit
    EXPECT_EQ(Check({{"RCCAP", "3"}, {"RCCSF", "net"}}),
              "Unit, SF 'PLAZA, 101, net' does not yet exist for the Cap SF type field(1451)");
    // Looked up whatever the method, also one that starts no rule.
    EXPECT_THAT(Check({{"RCSTOP", "0"}, {"RCSSF", "NET"}}), HasSubstr("for the Stop SF type field(1451)"));
}

TEST_F(PmvStopsTest, APeriodMakesUpItsFrequencyOnTheRecoveryPeriods) {
    // Without a frequency both dates go, each with its note.
    EXPECT_EQ(Check({{"RCSTOP", "2"}, {"RCSFROM", "1/1/2021"}, {"RCSTO", "12/1/2021"}}), "");
    EXPECT_THAT(notes, ElementsAre("Stop frequency is blank or zero, Stop from date with ' 1/01/2021' was cleared(1465)",
                                   "Stop frequency is blank or zero, Stop to date with '12/01/2021' was cleared(1465)"));
    EXPECT_TRUE(BlankDate("RCSFROM"));
    EXPECT_TRUE(BlankDate("RCSTO"));

    const std::map<std::string, std::string> stop = {{"RCSTOP", "2"}, {"RCSF", "12"}};
    const auto period = [&](const char* f, const char* from, const char* to) {
        auto v = stop;
        v["RCSF"] = f, v["RCSFROM"] = from, v["RCSTO"] = to;
        return Check(v);
    };
    EXPECT_EQ(period("12", "1/1/2021", ""),
              "Stop frequency is not zero, Stop to date is required for recov 'CR100, 1, CAM, 101'(1467)");
    EXPECT_EQ(period("12", "3/1/2021", "2/1/2021"),
              "Stop from date ' 3/01/2021' can not be after the Stop to date ' 2/01/2021'(1468)");
    EXPECT_THAT(period("1", "1/1/2021", "2/1/2021"), HasSubstr("do not make up the frequency '1 month'(1469)"));
    EXPECT_EQ(period("12", "1/1/2021", "11/1/2021"),
              "The Stop from date ' 1/01/2021' and Stop to date '11/01/2021' do not make up the frequency '12 "
              "months'(1469)");
    EXPECT_EQ(period("12", "2/1/2021", "1/1/2022"),
              "The Stop from date ' 2/01/2021' must match the Recov from date ' 1/01/2021' because the frequencies "
              "match(1470)");
    EXPECT_EQ(period("12", "1/1/2021", "12/1/2021"), "");
    // Another frequency: from on the grid of the recovery from date, to on that of its to date.
    EXPECT_EQ(period("6", "7/1/2021", "12/1/2021"),
              "The Stop from date ' 7/01/2021' doesn't match the recov from date ' 1/01/2021' for the "
              "frequencies(1471)");
    EXPECT_THAT(period("6", "1/1/2022", "6/1/2022"), HasSubstr("The Stop to date ' 6/01/2022' doesn't match"));
    EXPECT_EQ(period("24", "1/1/2022", "12/1/2023"), "");
    EXPECT_THAT(Check({{"RCCAP", "2"}, {"RCCF", "24"}, {"RCCFROM", "1/1/2021"}, {"RCCTO", "11/1/2022"}}),
                HasSubstr("The Cap from date"));
    EXPECT_THAT(notes, IsEmpty());
}

TEST_F(PmvStopsTest, EachRuleRunsForBothSidesBeforeTheNext) {
    // A cap error of an earlier rule comes before a stop error of a later one.
    EXPECT_THAT(Check({{"RCSTOP", "3"}, {"RCSSF", "ZZZ"}, {"RCCAP", "2"}, {"RCCF", "12"}}),
                HasSubstr("for the Stop SF type field(1451)"));
    EXPECT_EQ(Check({{"RCSTOP", "2"}, {"RCSF", "12"}, {"RCCAP", "2"}, {"RCCF", "0"}, {"RCCFROM", "1/1/2021"}}),
              "Stop frequency is not zero, Stop from date is required for recov 'CR100, 1, CAM, 101'(1467)");
    EXPECT_THAT(notes, ElementsAre(HasSubstr("Cap frequency is blank or zero, Cap from date")));
    const auto cases = std::vector<std::pair<std::map<std::string, std::string>, const char*>>{
        {{{"RCSF", "12"}, {"RCSFROM", "3/1/2021"}, {"RCSTO", "2/1/2021"}, {"RCCF", "12"}, {"RCCFROM", "1/1/2021"}},
         "Cap frequency is not zero, Cap to date is required"},
        {{{"RCSF", "12"}, {"RCSFROM", "1/1/2021"}, {"RCSTO", "11/1/2021"}, {"RCCF", "12"}, {"RCCFROM", "3/1/2021"},
          {"RCCTO", "2/1/2021"}},
         "Cap from date ' 3/01/2021' can not be after the Cap to date"},
        {{{"RCSF", "12"}, {"RCSFROM", "2/1/2021"}, {"RCSTO", "1/1/2022"}, {"RCCF", "12"}, {"RCCFROM", "1/1/2021"},
          {"RCCTO", "11/1/2021"}},
         "The Cap from date ' 1/01/2021' and Cap to date '11/01/2021' do not make up"},
        {{{"RCSF", "6"}, {"RCSFROM", "7/1/2021"}, {"RCSTO", "12/1/2021"}, {"RCCF", "12"}, {"RCCFROM", "2/1/2021"},
          {"RCCTO", "1/1/2022"}},
         "The Cap from date ' 2/01/2021' must match the Recov from date"},
    };
    for (auto [more, expected] : cases) {
        more["RCSTOP"] = more["RCCAP"] = "2";  // methods that keep the periods
        EXPECT_THAT(Check(more), HasSubstr(expected)) << expected;
    }
    // The other accumulated amounts keep their own labels.
    EXPECT_EQ(Check({{"RCCACAP", "100"}, {"RCPRAS", "200"}}, false), "");
    EXPECT_THAT(notes, ElementsAre(HasSubstr("Accumulated cap is not supported by conversion, '1.00' will be"),
                                   HasSubstr("Prerecon accumulated stop is not supported by conversion, '2.00'")));
}

}  // namespace
}  // namespace dz::pm::testing
