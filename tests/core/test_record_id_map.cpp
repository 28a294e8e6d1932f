// The record-ID map of the converter base: texts met in a text file with their values.
#include "convert/converter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace dz::convert {
namespace {

std::string Text(int n) {
    // Texts of varying length, as record-ID texts of several record types are.
    return std::to_string(n % 7) + "\t" + std::string(static_cast<std::size_t>(n % 23), 'X') + std::to_string(n);
}

TEST(RecordIdMap, AddsEachTextOnceAndFindsItExactly) {
    RecordIdMap ids;
    EXPECT_TRUE(ids.empty());
    EXPECT_EQ(ids.find("01-100"), ids.end());
    auto [first, added] = ids.emplace("01-100", 7);
    EXPECT_TRUE(added);
    auto [again, addedAgain] = ids.emplace("01-100", 9);  // the first value stays
    EXPECT_FALSE(addedAgain);
    EXPECT_EQ(again, first);
    EXPECT_EQ(ids.at("01-100"), 7);
    EXPECT_EQ(ids.count("01-100"), 1u);
    EXPECT_EQ(ids.count("01-10"), 0u);   // no prefix matches
    EXPECT_EQ(ids.count("01-1000"), 0u);
    EXPECT_EQ(ids.count("01-100 "), 0u);
    EXPECT_EQ(ids.find("01-100")->first, "01-100");
    // An empty text is a text like any other.
    EXPECT_EQ(ids.count(""), 0u);
    ids[""] = 3;
    EXPECT_EQ(ids.at(""), 3);
    ids["01-100"] = 11;  // [] changes the value in place
    EXPECT_EQ(ids.at("01-100"), 11);
    EXPECT_EQ(ids.size(), 2u);
    EXPECT_THROW(ids.at("absent"), std::out_of_range);
    const RecordIdMap& constIds = ids;
    EXPECT_EQ(constIds.at(""), 3);
    EXPECT_EQ(constIds.find("absent"), constIds.end());
}

TEST(RecordIdMap, HundredsOfThousandsOfTextsStayFoundAndInPlace) {
    RecordIdMap ids;
    const auto* early = ids.emplace(Text(0), 0).first;
    const int n = 300000;
    for (int i = 1; i < n; ++i) ASSERT_TRUE(ids.emplace(Text(i), static_cast<uint16_t>(i)).second) << i;
    EXPECT_EQ(ids.size(), static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        auto it = ids.find(Text(i));
        ASSERT_NE(it, ids.end()) << i;
        ASSERT_EQ(it->second, static_cast<uint16_t>(i)) << i;
        ASSERT_EQ(it->first, Text(i));
    }
    EXPECT_EQ(ids.find(Text(0)), early);  // entries never move
    EXPECT_EQ(ids.count(Text(n)), 0u);
    // A text longer than a storage block.
    const std::string huge(3u << 20, 'Q');
    ids.emplace(huge, 5);
    EXPECT_EQ(ids.at(huge), 5);
    EXPECT_EQ(ids.at(Text(n - 1)), static_cast<uint16_t>(n - 1));
}

TEST(RecordIdMap, ErasedTextsAreGoneAndMayComeBack) {
    RecordIdMap ids;
    for (int i = 0; i < 100; ++i) ids.emplace(Text(i), static_cast<uint16_t>(i));
    EXPECT_EQ(ids.erase(Text(5)), 1u);
    EXPECT_EQ(ids.erase(Text(5)), 0u);
    EXPECT_EQ(ids.count(Text(5)), 0u);
    EXPECT_EQ(ids.size(), 99u);
    for (int i = 0; i < 100; ++i) {
        if (i != 5) {
            ASSERT_EQ(ids.at(Text(i)), static_cast<uint16_t>(i)) << i;  // others unharmed
        }
    }
    EXPECT_TRUE(ids.emplace(Text(5), 500).second);
    EXPECT_EQ(ids.at(Text(5)), 500);
    // Adding and taking back over and over (a rejected line's record) never fills the table.
    for (int round = 0; round < 200000; ++round) {
        const std::string t = "round " + std::to_string(round);
        ASSERT_TRUE(ids.emplace(t, 1).second);
        ASSERT_EQ(ids.erase(t), 1u);
    }
    EXPECT_EQ(ids.size(), 100u);
    EXPECT_EQ(ids.at(Text(99)), 99);
}

TEST(RecordIdMap, MillionsOfEntriesFitInFewBytesEach) {
    // GL account IDs as the converter keeps them: the record number, a tab, 0, a tab, the key.
    // The slot table doubles at three quarters full, so the sizes on both sides of a doubling
    // are measured.
    for (const int n : {196000, 197000}) {
        RecordIdMap ids;
        char text[32];
        for (int i = 0; i < n; ++i) {
            std::snprintf(text, sizeof text, "101\t0\t%04d-%03d-%05d", i % 9999, i % 997, i);
            ASSERT_TRUE(ids.emplace(text, 0).second);
        }
        const double perEntry = static_cast<double>(ids.MemoryBytes()) / n;
        EXPECT_LT(perEntry, 45.0) << n;
        EXPECT_GT(perEntry, 22.0) << n;  // what the text and its value alone take
        EXPECT_EQ(ids.at("101\t0\t0000-000-00000"), 0);
    }
}

TEST(RecordIdMap, RunsOfBlanksTakeLittleRoomAndEveryTextStaysItself) {
    // Right-aligned keys, as GL account IDs are: their blanks hardly count.
    RecordIdMap ids;
    const int n = 190000;  // the slot table a quarter empty
    char text[64];
    for (int i = 0; i < n; ++i) {
        std::snprintf(text, sizeof text, "101\t0\t%19s%011d", "", i);
        ASSERT_TRUE(ids.emplace(text, static_cast<uint16_t>(i)).second);
    }
    EXPECT_LT(static_cast<double>(ids.MemoryBytes()) / n, 36.0);
    EXPECT_EQ(ids.at(std::string("101\t0\t") + std::string(19, ' ') + "00000000042"), 42);
    EXPECT_EQ(ids.count(std::string("101\t0\t") + std::string(18, ' ') + "00000000042"), 0u);
    // Texts that differ only in their runs of blanks or in bytes the storage uses are told apart.
    const std::vector<std::string> odd = {"", " ", "  ", "   ", "a   b", "a    b", std::string(255, ' '), std::string(256, ' '),
                                          std::string(257, ' '), std::string(510, ' '), "\x01", "\x01\x01", "\x01\x03",
                                          "   \x01", "x\x01" + std::string(3, ' '), "\x01\x01\x01   "};
    RecordIdMap small;
    for (std::size_t i = 0; i < odd.size(); ++i) ASSERT_TRUE(small.emplace(odd[i], static_cast<uint16_t>(i)).second) << i;
    for (std::size_t i = 0; i < odd.size(); ++i) {
        auto it = small.find(odd[i]);
        ASSERT_NE(it, small.end()) << i;
        EXPECT_EQ(it->second, i);
        EXPECT_EQ(it->first.str(), odd[i]) << i;
        EXPECT_EQ(it->first, odd[i]);
    }
    EXPECT_EQ(RecordIdMap(small).at(std::string(256, ' ')), 7);
}

TEST(RecordIdMap, TextsOfEveryShortLengthDifferingInOneByteOrOneBlankAreToldApart) {
    // Every length a key text has, with a letter or a blank at every place, and blanks in runs
    // of every length around the shortened ones.
    RecordIdMap ids;
    std::vector<std::string> texts;
    for (std::size_t length = 0; length <= 40; ++length) {
        const std::string base(length, 'k');
        texts.push_back(base);
        for (std::size_t at = 0; at < length; ++at) {
            std::string t = base;
            t[at] = 'K';
            texts.push_back(t);
            t[at] = ' ';
            texts.push_back(t);
        }
        for (std::size_t run = 2; run <= 4 && run <= length; ++run)
            for (std::size_t at = 0; at + run <= length; ++at)
                texts.push_back(base.substr(0, at) + std::string(run, ' ') + base.substr(at + run));
    }
    std::size_t added = 0;
    for (const auto& t : texts) added += ids.emplace(t, static_cast<uint16_t>(t.size())).second;
    for (const auto& t : texts) {
        auto it = ids.find(t);
        ASSERT_NE(it, ids.end()) << '"' << t << '"';
        EXPECT_EQ(it->first.str(), t);
        EXPECT_EQ(it->second, t.size());
    }
    EXPECT_EQ(added, texts.size());  // no two of them taken for one
    EXPECT_EQ(ids.count(std::string(41, 'k')), 0u);
    EXPECT_EQ(ids.count("k k k"), 0u);
    EXPECT_EQ(ids.count("kkk  k"), 1u);
}

TEST(RecordIdMap, ATextAddedWithoutAnAnswerIsThereForEveryLaterCall) {
    RecordIdMap ids;
    ids.add("a", 1);
    EXPECT_EQ(ids.size(), 1u);
    ids.add("a", 2);  // already there: keeps its value
    EXPECT_EQ(ids.at("a"), 1);
    ids.add("b", 3);
    EXPECT_EQ(ids.erase("b"), 1u);
    ids.add("c", 4);
    EXPECT_FALSE(ids.emplace("c", 5).second);
    ids.add("d", 6);
    const RecordIdMap copy = ids;
    ids.add("e", 7);
    RecordIdMap moved = std::move(ids);
    EXPECT_TRUE(ids.empty());  // NOLINT(bugprone-use-after-move): a moved-from map is empty
    EXPECT_EQ(ids.count("e"), 0u);
    EXPECT_EQ(copy.size(), 3u);
    EXPECT_EQ(copy.at("d"), 6);
    EXPECT_EQ(moved.size(), 4u);
    EXPECT_EQ(moved.at("e"), 7);
    moved.add("f", 8);
    moved.clear();
    EXPECT_EQ(moved.count("f"), 0u);
    moved.add("g", 9);
    RecordIdMap assigned;
    assigned = moved;
    EXPECT_EQ(assigned.at("g"), 9);
    // Hundreds of thousands added one after another, each placed by the next.
    for (int i = 0; i < 200000; ++i) assigned.add(Text(i), static_cast<uint16_t>(i));
    EXPECT_EQ(assigned.size(), 200001u);
    EXPECT_EQ(assigned.at(Text(199999)), static_cast<uint16_t>(199999));
    EXPECT_EQ(assigned.at(Text(0)), 0);
}

// Texts in ascending order (as a file sorted by its key gives them) are added without a look-up;
// texts that repeat one held, fall between them or come back after an erase are still told.
TEST(RecordIdMap, TextsInAscendingOrderAreStillToldFromEveryTextHeld) {
    auto id = [](int n) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "J%06d     %d", n, n % 3);  // a run of blanks inside
        return std::string(buf);
    };
    RecordIdMap ids;
    for (int n = 0; n < 50000; ++n) {
        auto [entry, added] = ids.emplace(id(n), static_cast<uint16_t>(n));
        ASSERT_TRUE(added) << n;
        ASSERT_EQ(entry->second, static_cast<uint16_t>(n));
        if (n % 1000 == 0) {
            ASSERT_EQ(ids.at(id(n)), static_cast<uint16_t>(n));  // right after its emplace
        }
    }
    EXPECT_EQ(ids.size(), 50000u);
    EXPECT_FALSE(ids.emplace(id(49999), 1).second);  // the highest
    EXPECT_FALSE(ids.emplace(id(17), 1).second);
    EXPECT_EQ(ids.at(id(17)), 17);
    EXPECT_TRUE(ids.emplace("J000017a", 5).second);  // between two held
    EXPECT_EQ(ids.count("J000017a"), 1u);
    EXPECT_EQ(ids.count("J999999"), 0u);
    EXPECT_EQ(ids.erase(id(49999)), 1u);
    EXPECT_EQ(ids.count(id(49999)), 0u);
    EXPECT_TRUE(ids.emplace(id(49999), 8).second);  // back after its erase
    EXPECT_EQ(ids.at(id(49999)), 8);
    // A text just added without a look-up is in copies and moves, and counted.
    EXPECT_TRUE(ids.emplace("K", 9).second);
    RecordIdMap copy(ids);
    EXPECT_EQ(copy.at("K"), 9);
    EXPECT_EQ(copy.size(), 50002u);
    EXPECT_TRUE(ids.emplace("L", 10).second);
    RecordIdMap moved(std::move(ids));
    EXPECT_EQ(moved.at("L"), 10);
    EXPECT_FALSE(moved.emplace("K", 1).second);
    EXPECT_EQ(moved.size(), 50003u);
    moved.clear();
    EXPECT_TRUE(moved.emplace("A", 1).second);  // the order starts again
    EXPECT_EQ(moved.count("K"), 0u);
    EXPECT_FALSE(moved.emplace("A", 2).second);
}

// Texts added without an answer in key order are stored at once: the highest one erased still
// bounds what is new, and a text just added is there for copies, moves and later adds.
TEST(RecordIdMap, TextsAddedInKeyOrderWithoutAnAnswerAreToldFromEveryTextHeld) {
    RecordIdMap ids;
    for (int n = 0; n < 20000; ++n) ids.add("P" + std::to_string(100000 + n) + "   x", static_cast<uint16_t>(n));
    ids.add("P119999   x", 7);  // the highest again: keeps its value
    EXPECT_EQ(ids.size(), 20000u);
    EXPECT_EQ(ids.at("P119999   x"), static_cast<uint16_t>(19999));
    EXPECT_EQ(ids.erase("P119999   x"), 1u);
    ids.add("P119999  x", 1);  // below the erased highest: looked up, and new
    ids.add("P119999   x", 2);  // the erased one comes back
    EXPECT_EQ(ids.at("P119999   x"), 2);
    ids.add("Q", 3);
    RecordIdMap moved(std::move(ids));
    ids.add("Q", 4);  // a moved-from map starts again
    EXPECT_EQ(ids.at("Q"), 4);
    EXPECT_EQ(moved.at("Q"), 3);
    EXPECT_EQ(moved.at("P119999  x"), 1);
    EXPECT_EQ(moved.size(), 20002u);
    moved.add("Q", 5);
    EXPECT_EQ(RecordIdMap(moved).at("Q"), 3);
}

TEST(RecordIdMap, CopiesAndClearsHoldTheirOwnTexts) {
    RecordIdMap ids;
    for (int i = 0; i < 1000; ++i) ids.emplace(Text(i), static_cast<uint16_t>(i));
    ids.erase(Text(3));
    RecordIdMap copy = ids;
    ids.clear();
    EXPECT_TRUE(ids.empty());
    EXPECT_EQ(ids.count(Text(1)), 0u);
    EXPECT_EQ(copy.size(), 999u);
    EXPECT_EQ(copy.at(Text(999)), 999);
    EXPECT_EQ(copy.count(Text(3)), 0u);
    ids.emplace("after clear", 4);
    EXPECT_EQ(ids.at("after clear"), 4);
    EXPECT_EQ(ids.size(), 1u);
}

TEST(RecordIdMap, RoomReservedAheadHoldsEveryTextAndAFilledMapKeepsItsTable) {
    RecordIdMap ids;
    ids.reserve(100000);
    const std::size_t reserved = ids.MemoryBytes();
    EXPECT_GE(reserved, 100000u * 8);  // 6-byte slots, at most three quarters full
    for (int i = 99999; i >= 0; i -= 2) ids.add(Text(i), static_cast<uint16_t>(i));
    for (int i = 0; i < 100000; i += 2) ids.emplace(Text(i), static_cast<uint16_t>(i));
    EXPECT_EQ(ids.size(), 100000u);
    for (int i = 0; i < 100000; i += 999) EXPECT_EQ(ids.at(Text(i)), static_cast<uint16_t>(i)) << i;
    // Holding texts, the map ignores a reservation: its table stays as it is.
    const std::size_t filled = ids.MemoryBytes();
    ids.reserve(1000000);
    EXPECT_EQ(ids.MemoryBytes(), filled);
    EXPECT_EQ(ids.at(Text(77777)), static_cast<uint16_t>(77777));
}

}  // namespace
}  // namespace dz::convert
