// The fuzz target's seed corpus, run through the same harness as part of the test suite, whole
// and cut at many points (a cut line is the commonest damage a text file suffers).
#include "../../../fuzz/import_harness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

TEST(ImportFuzzCorpus, EverySeedAndItsCutsKeepTheInvariants) {
    dz::xvl::fuzz::FuzzWorld world(fs::path(DZ_TEST_DATA_DIR) / "import" / "dictionary");
    ASSERT_TRUE(world.ok) << world.tpl.ErrorText();
    const fs::path corpus = fs::path(DZ_TEST_DATA_DIR) / ".." / ".." / "fuzz" / "corpus";
    int seeds = 0;
    for (const auto& e : fs::directory_iterator(corpus)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        std::ostringstream ss;
        ss << in.rdbuf();
        const std::string bytes = ss.str();
        ++seeds;
        for (std::size_t cut = 0; cut <= bytes.size(); cut += (cut + 5 >= bytes.size() ? 1 : 5)) {
            const std::size_t n = std::min(cut, bytes.size());
            EXPECT_TRUE(dz::xvl::fuzz::ImportBytes(world, reinterpret_cast<const uint8_t*>(bytes.data()), n))
                << e.path().filename() << " cut at " << n;
            if (n == bytes.size()) break;
        }
    }
    EXPECT_GE(seeds, 5) << "the seed corpus is missing";
}

TEST(ImportFuzzCorpus, BytesThatAreNoTextAtAll) {
    dz::xvl::fuzz::FuzzWorld world(fs::path(DZ_TEST_DATA_DIR) / "import" / "dictionary");
    ASSERT_TRUE(world.ok);
    std::string noise;
    uint32_t x = 12345;
    for (int i = 0; i < 4000; ++i) {
        x = x * 1103515245u + 12345u;
        noise.push_back(static_cast<char>(x >> 24));
    }
    for (std::size_t n : {0u, 1u, 2u, 64u, 1000u, 4000u})
        EXPECT_TRUE(dz::xvl::fuzz::ImportBytes(world, reinterpret_cast<const uint8_t*>(noise.data()), n)) << n;
    const std::string quotes(3000, '"');
    EXPECT_TRUE(dz::xvl::fuzz::ImportBytes(world, reinterpret_cast<const uint8_t*>(quotes.data()), quotes.size()));
    const std::string commas = "C" + std::string(5000, ',');
    EXPECT_TRUE(dz::xvl::fuzz::ImportBytes(world, reinterpret_cast<const uint8_t*>(commas.data()), commas.size()));
}
