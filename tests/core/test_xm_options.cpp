#include "platform/suite/company.h"
#include "platform/suite/xm_options.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <vector>

using namespace dz::suite;
namespace fs = std::filesystem;

namespace {

class StoredOptions : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("dz_xm_" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

// Two files C:\A\x.txt (type 101) and C:\B\y.txt (type 605), as the file-list block holds them.
std::vector<uint8_t> file_list_block() {
    std::vector<uint8_t> b;
    for (auto [path, code] : {std::pair<std::string, uint16_t>{"C:\\A\\x.txt", 101}, {"C:\\B\\y.txt", 605}}) {
        b.insert(b.end(), path.begin(), path.end());
        b.push_back(0);
        b.push_back(static_cast<uint8_t>(code & 0xFF));
        b.push_back(static_cast<uint8_t>(code >> 8));
    }
    return b;
}

}  // namespace

TEST_F(StoredOptions, BlocksRoundTripByteForByte) {
    OptionStore store(dir, 3020);
    std::vector<uint8_t> files = file_list_block();
    ASSERT_EQ(files.size(), 26u);
    std::vector<uint8_t> options(22, 0);
    options[0] = 1;                                 // AP invoice file
    options[2] = 2;                                 // paid-totals mode 2
    options[6] = 1;                                 // duplicate mode 1
    for (int i = 10; i < 22; ++i) options[i] = static_cast<uint8_t>(0xF0 + i);  // two dates
    std::string table = "MAIN";
    ASSERT_EQ(store.put(files.data(), files.size(), 1), kXmOk);
    ASSERT_EQ(store.put(table.c_str(), table.size() + 1, 2), kXmOk);
    ASSERT_EQ(store.put(options.data(), options.size(), 3), kXmOk);

    EXPECT_EQ(store.size(1), 26u);
    EXPECT_EQ(store.size(2), 5u);
    EXPECT_EQ(store.size(3), 22u);
    std::vector<uint8_t> back(store.size(1));
    ASSERT_EQ(store.get(back.data(), back.size(), 1), kXmOk);
    EXPECT_EQ(back, files);
    EXPECT_EQ(back[11], 0x65);
    EXPECT_EQ(back[12], 0x00);
    EXPECT_EQ(back[24], 0x5D);
    EXPECT_EQ(back[25], 0x02);
    EXPECT_EQ(store.read(3), options);
    // Nothing is added around the bytes on disk.
    EXPECT_EQ(fs::file_size(store.folder() / "block3.bin"), 22u);
    // A block stored again replaces the old one, longer or shorter.
    uint8_t one = 0x7F;
    store.put(&one, 1, 1);
    EXPECT_EQ(store.read(1), std::vector<uint8_t>{0x7F});
}

TEST_F(StoredOptions, ANewFileListForgetsTheTableAndOptionsOfTheRunStoredBefore) {
    OptionStore store(dir, 3020);
    std::vector<uint8_t> files = file_list_block();
    store.put(files.data(), files.size(), 1);
    store.put("OLD", 4, 2);
    store.put(std::string(22, '\x01').data(), 22, 3);
    // The next recording has no table group and no AP invoice file.
    store.put(files.data(), 13, 1);
    EXPECT_EQ(store.size(1), 13u);
    EXPECT_EQ(store.size(2), 0u);
    EXPECT_EQ(store.size(3), 0u);
}

TEST_F(StoredOptions, ABlockThatIsAPipeOrADeviceReadsAsNoBytesWithoutWaiting) {
    OptionStore store(dir, 3020);
    store.put("AB", 3, 1);
    ASSERT_EQ(::mkfifo((store.folder() / "block2.bin").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", store.folder() / "block3.bin");
    char buf[4] = {'k', 'e', 'e', 'p'};
    for (int n : {2, 3}) {
        EXPECT_EQ(store.get(buf, sizeof buf, n), kXmOk) << n;
        EXPECT_EQ(std::string(buf, 4), "keep");
        EXPECT_TRUE(store.read(n).empty());
    }
}

TEST_F(StoredOptions, AbsentBlocksHaveSizeZeroAndAZeroSizeRemoves) {
    OptionStore store(dir, 3010);
    EXPECT_EQ(store.size(2), 0u);
    char buf[4] = {'k', 'e', 'e', 'p'};
    EXPECT_EQ(store.get(buf, sizeof buf, 2), kXmNotFound);
    EXPECT_EQ(std::string(buf, 4), "keep");
    store.put("AB", 3, 2);
    EXPECT_EQ(store.size(2), 3u);
    store.put(nullptr, 0, 2);
    EXPECT_EQ(store.size(2), 0u);
    // A caller's buffer shorter than the block gets the first bytes only.
    store.put("ABCDEF", 6, 1);
    char two[2];
    EXPECT_EQ(store.get(two, 2, 1), kXmOk);
    EXPECT_EQ(std::string(two, 2), "AB");
}

TEST_F(StoredOptions, CommandsKeepTheirOwnBlocksAndClearForgetsOnlyOne) {
    OptionStore convert(dir, 3020), examine(dir, 3010);
    convert.put("C", 1, 1);
    examine.put("EE", 2, 1);
    convert.put_desc("");
    convert.put_desc("Substitution table name:");
    convert.put_desc("   Not using substitution tables");
    EXPECT_EQ(convert.descriptions(),
              (std::vector<std::string>{"", "Substitution table name:", "   Not using substitution tables"}));
    EXPECT_TRUE(examine.descriptions().empty());
    EXPECT_EQ(convert.clear(), kXmOk);
    EXPECT_EQ(convert.size(1), 0u);
    EXPECT_TRUE(convert.descriptions().empty());
    EXPECT_EQ(examine.size(1), 2u);
    // No file is left aside.
    for (const auto& e : fs::recursive_directory_iterator(dir))
        EXPECT_EQ(e.path().extension(), e.is_directory() ? "" : ".bin") << e.path();
}

TEST_F(StoredOptions, TheOpenCompanyHoldsThem) {
    close_company();
    EXPECT_EQ(xm_put_options(3020, "x", 1, 1), kXmNoCompany);
    EXPECT_EQ(xm_option_size(3020, 1), 0u);
    set_company(Company(dir, default_settings({"GL"})));
    std::vector<uint8_t> files = file_list_block();
    ASSERT_EQ(xm_put_options(3020, files.data(), files.size(), 1), kXmOk);
    ASSERT_EQ(xm_put_option_desc(3020, "Text file names:"), kXmOk);
    std::vector<uint8_t> back(xm_option_size(3020, 1));
    ASSERT_EQ(xm_get_options(3020, back.data(), back.size(), 1), kXmOk);
    EXPECT_EQ(back, files);
    EXPECT_EQ(xm_get_option_desc(3020), std::vector<std::string>{"Text file names:"});
    EXPECT_TRUE(fs::exists(dir / "options" / "3020" / "block1.bin"));
    EXPECT_EQ(xm_clear_options(3020), kXmOk);
    EXPECT_EQ(xm_option_size(3020, 1), 0u);
    close_company();
}

// Stored options live in the shared company folder: a link planted under a block's aside name
// is replaced, never written through.
TEST_F(StoredOptions, ABlockIsNotWrittenThroughAPlantedLink) {
    OptionStore store(dir, 3020);
    const fs::path victim = dir / "victim.bin";
    { std::ofstream(victim) << "untouched"; }
    fs::create_directories(store.folder());
    fs::create_symlink(victim, store.folder() / "block2.bin.new");
    const std::string table = "MAIN";
    ASSERT_EQ(store.put(table.c_str(), table.size() + 1, 2), kXmOk);
    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "untouched");
    EXPECT_EQ(store.size(2), 5u);
    EXPECT_FALSE(fs::is_symlink(store.folder() / "block2.bin"));
}
