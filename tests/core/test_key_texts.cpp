// The packed key lists the lease conversion keeps for its finishing pass.
#include "converters/pm/key_texts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using dz::pm::KeyTexts;

namespace {

struct Pair {
    std::string_view lease, revision;
};
struct Four {
    std::string_view lease, revision, type, unit;
};

TEST(KeyTexts, KeysComeBackAsGivenAcrossBlocksAndEarlierViewsStayValid) {
    KeyTexts<Four, 4> keys;
    keys.push_back({"L1", "0", "", "U100"});                 // an empty text among others
    const std::string long200(200, 'x'), huge(70000, 'h');  // a length of two bytes; a key wider than a block
    keys.push_back({long200, "3", "RENT", huge});
    const Four first = keys[0];
    std::vector<std::string> leases;
    for (int i = 0; i < 20000; ++i) {  // some 400 KB: several blocks
        leases.push_back("LEASE" + std::to_string(i));
        keys.push_back({leases.back(), "1", "CAM", "U" + std::to_string(i % 7)});
    }
    keys.push_back({"after", "2", "TAX", "U9"});

    ASSERT_EQ(keys.size(), 20003u);
    EXPECT_EQ(first.lease, "L1");  // taken before the blocks grew
    EXPECT_EQ(first.type, "");
    EXPECT_EQ(first.unit, "U100");
    const Four wide = keys[1];
    EXPECT_EQ(wide.lease, long200);
    EXPECT_EQ(wide.unit.size(), huge.size());
    EXPECT_EQ(wide.unit, huge);
    EXPECT_EQ(wide.type, "RENT");
    std::size_t i = 0;
    for (const Four& k : keys) {
        if (i >= 2 && i < 20002) {
            ASSERT_EQ(k.lease, leases[i - 2]) << i;
            ASSERT_EQ(k.unit, "U" + std::to_string((i - 2) % 7)) << i;
        }
        ++i;
    }
    EXPECT_EQ(i, keys.size());
    EXPECT_EQ(keys[20002].lease, "after");
    EXPECT_EQ(keys[20002].unit, "U9");
}

TEST(KeyTexts, ResizeAndAssignmentKeepTheListAsAList) {
    KeyTexts<Pair, 2> keys = {{"A", "0"}, {"B", "1"}};
    keys.resize(5);  // empty keys after the two
    ASSERT_EQ(keys.size(), 5u);
    EXPECT_EQ(keys[1].lease, "B");
    EXPECT_TRUE(keys[4].lease.empty() && keys[4].revision.empty());
    keys.resize(1);
    ASSERT_EQ(keys.size(), 1u);
    keys.push_back({"C", "2"});
    EXPECT_EQ(keys[1].lease, "C");
    keys = {{"D", "3"}};
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].revision, "3");
    keys.clear();
    EXPECT_TRUE(keys.empty());
}

}  // namespace
