// What keeps a conversion, and Examine Files, which foretells one, from replacing the company's
// files in a sticky folder, as another user sees it.
#include "convert/sticky_folders.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/suite/company.h"

#include "as_user.h"
#include "test_convert_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace dz::convert;
using namespace dz::convert::testing;
using ::testing::HasSubstr;
using ::testing::Not;

// Only a file this user could not replace is named, whoever else's files stand beside it: a
// journal, or a lock file this user may not open (made afresh), is such a file on its own; a lock
// file it may open is used as it stands. Examine Files says so in its own words.
TEST(StickyFolders, OnlyTheFilesThisUserCouldNotReplaceAreNamed) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to look as another user";
    constexpr uid_t kUser = 4131;
    ScratchDir scratch;
    const fs::path co = scratch.path() / "co";
    fs::create_directories(co);
    std::string error;
    ASSERT_TRUE(OpenTestCompany(co, {"GL"}, [](dz::suite::CompanySettings&) {}, error)) << error;
    for (const auto& e : fs::directory_iterator(co)) ASSERT_EQ(::lchown(e.path().c_str(), kUser, kUser), 0);
    ASSERT_EQ(::chmod(co.c_str(), 01777), 0);
    (void)dz::xvl::xvlRCString::Get(13780);  // the words are read before the look, as this process
    const auto look = [] {
        StickyRefusal r;
        if (ConversionMayReplaceItsFiles(r, dz::ui::Command::Examine)) return std::string("may replace");
        return r.text + "|" + r.ending;
    };
    const auto asUser = [&] { return dz::testing_support::AnswerAs(kUser, kUser, look); };
    EXPECT_EQ(asUser(), "may replace");

    const fs::path journal = co / "MASTER.GLM-journal", lock = co / ".MASTER.GLM.locks";
    WriteFile(journal, "");
    EXPECT_THAT(asUser(), HasSubstr("Nothing is examined: " + co.string() + " is a sticky folder (mode 1777)"));
    EXPECT_THAT(asUser(), HasSubstr("must replace MASTER.GLM-journal (of root (uid 0))"));
    EXPECT_THAT(asUser(), HasSubstr("|a conversion of these text files could not replace the company's files in a "
                                    "sticky folder, so nothing is examined"));
    fs::remove(journal);

    WriteFile(lock, "");
    ASSERT_EQ(::chmod(lock.c_str(), 0666), 0);
    EXPECT_EQ(asUser(), "may replace");
    ASSERT_EQ(::chmod(lock.c_str(), 0600), 0);
    EXPECT_THAT(asUser(), HasSubstr("must replace .MASTER.GLM.locks (of root (uid 0))"));
    fs::remove(lock);

    WriteFile(co / "MASTER.GLM", "");
    ASSERT_EQ(::chown((co / "MASTER.GLM").c_str(), kUser, kUser), 0);
    WriteFile(co / "MASTER.APM", "");
    const std::string other = asUser();
    EXPECT_THAT(other, HasSubstr("must replace MASTER.APM (of root (uid 0))"));
    EXPECT_THAT(other, Not(HasSubstr("MASTER.GLM")));
    dz::suite::close_company();
}

}  // namespace
