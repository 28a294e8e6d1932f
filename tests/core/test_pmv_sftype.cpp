// The unit SF type lookup of the PM recovery converter: a read at or after the key that counts
// only when all three key fields agree, whatever their letter case, and gives back the stored
// spelling.
#include "pm_fixture.h"

#include "converters/pm/xvpmv.h"

#include <gtest/gtest.h>

namespace dz::pm::testing {
namespace {

class PmvUnitSfTypeTest : public PmFixture {
protected:
    void SetUp() override {
        PmFixture::SetUp();
        Put("PMP", 19, {{"UFPROP", "PLAZA"}, {"UFUNIT", "101"}, {"UFSFTYP", "Gla"}, {"UFDATE", "1/1/2026"}});
        Put("PMP", 19, {{"UFPROP", "PLAZA"}, {"UFUNIT", "101"}, {"UFSFTYP", "Gla"}, {"UFDATE", "1/1/2027"}});
        Put("PMP", 19, {{"UFPROP", "PLAZA"}, {"UFUNIT", "102"}, {"UFSFTYP", "NET"}, {"UFDATE", "1/1/2026"}});
    }
    // The SF type as the lookup leaves it, or "-" when nothing was found.
    std::string Find(const std::string& prop, const std::string& unit, std::string type) {
        return FindUnitSfType(H("PMP"), prop, unit, type) ? type : "-";
    }
};

TEST_F(PmvUnitSfTypeTest, MatchesAllThreeFieldsWithoutRegardToCase) {
    EXPECT_EQ(Find("PLAZA", "101", "GLA"), "Gla");
    EXPECT_EQ(Find("plaza", "101", "gla"), "Gla");
    EXPECT_EQ(Find("PLAZA", "102", "net"), "NET");
}

TEST_F(PmvUnitSfTypeTest, ARecordReadForAnotherKeyIsNoMatch) {
    EXPECT_EQ(Find("PLAZA", "101", "NET"), "-");  // the SF type is another unit's
    EXPECT_EQ(Find("PLAZA", "101", "GL"), "-");   // the read lands on "Gla"
    EXPECT_EQ(Find("PLAZA", "10", "GLA"), "-");
    EXPECT_EQ(Find("PLAZA", "102", "ZZZ"), "-");  // after every record
    EXPECT_EQ(Find("OTHER", "101", "GLA"), "-");
}

}  // namespace
}  // namespace dz::pm::testing
