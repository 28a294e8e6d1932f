#include "platform/ui/line_spool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using dz::ui::LineSpool;
using ::testing::ElementsAre;

namespace {
// Lines of some 20 bytes, enough of them that most go to the spool's file.
constexpr int kLines = 10000;
std::string line(int i) { return "line " + std::to_string(i) + " of the report"; }

std::unique_ptr<LineSpool> longSpool() {
    auto spool = std::make_unique<LineSpool>();
    for (int i = 0; i < kLines; ++i) spool->add(line(i));
    return spool;
}

struct ReadHook {
    explicit ReadHook(std::function<ssize_t(int, char*, std::size_t, off_t)> read) {
        dz::ui::set_spool_read_hook_for_tests(std::move(read));
    }
    ~ReadHook() { dz::ui::set_spool_read_hook_for_tests(nullptr); }
};
}  // namespace

// A reader that kept where a line starts reads on from there: in the spool's file, across into
// the lines not yet written, and in a report file.
TEST(LineSpool, ReadsOnFromWhereALineStarts) {
    const auto spool = longSpool();
    std::vector<std::uint64_t> starts;
    ASSERT_TRUE(spool->for_each_from(0, [&](std::string_view, std::uint64_t at) {
        starts.push_back(at);
        return true;
    }));
    ASSERT_EQ(starts.size(), static_cast<std::size_t>(kLines));
    EXPECT_EQ(spool->size(), starts.back() + line(kLines - 1).size() + 1);
    for (int from : {1, 3000, kLines - 2}) {
        std::vector<std::string> read;
        EXPECT_FALSE(spool->for_each_from(starts[from], [&](std::string_view l, std::uint64_t at) {
            EXPECT_EQ(at, starts[from + read.size()]);
            read.emplace_back(l);
            return read.size() < 2;
        }));
        EXPECT_THAT(read, ElementsAre(line(from), line(from + 1)));
    }

    const auto path = std::filesystem::temp_directory_path() / ("dz_spool_" + std::to_string(::getpid()) + ".txt");
    std::ofstream(path) << "first\nsecond\nlast, without its line end";
    const auto file = LineSpool::of_file(path.string());
    EXPECT_THAT(file->lines(), ElementsAre("first", "second", "last, without its line end"));
    std::vector<std::string> read;
    EXPECT_TRUE(file->for_each_from(6, [&](std::string_view l, std::uint64_t) {
        read.emplace_back(l);
        return true;
    }));
    EXPECT_THAT(read, ElementsAre("second", "last, without its line end"));
    EXPECT_EQ(file->size(), 39u);
    std::filesystem::remove(path);
    // A report sent to a device kept nothing there, and is not read without end.
    EXPECT_THAT(LineSpool::of_file("/dev/zero")->lines(), ::testing::IsEmpty());
}

// A spool whose file gives back less than was written to it, shortened under it or failing a
// read, is never handed back as whole: from its start or from a line of its own.
TEST(LineSpool, ASpoolThatLostBytesIsNeverWhole) {
    std::uint64_t middle = 0;
    std::size_t seen = 0;
    auto count = [&](std::string_view, std::uint64_t at) {
        if (++seen == kLines / 2) middle = at;
        return true;
    };
    const auto shortened = longSpool();
    ASSERT_TRUE(shortened->for_each_from(0, count));
    {
        ReadHook hook([](int fd, char* buf, std::size_t n, off_t at) {
            if (::ftruncate(fd, 1000) != 0) return ssize_t{-1};
            return ::pread(fd, buf, n, at);
        });
        seen = 0;
        EXPECT_FALSE(shortened->for_each_from(0, count));
        EXPECT_LT(seen, static_cast<std::size_t>(kLines));
        EXPECT_FALSE(shortened->for_each_from(middle, count));
    }
    const auto failing = longSpool();
    ReadHook hook([](int, char*, std::size_t, off_t) {
        errno = EIO;
        return ssize_t{-1};
    });
    EXPECT_FALSE(failing->for_each([](std::string_view) { return true; }));
}
