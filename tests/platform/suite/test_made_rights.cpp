// A file made for a data file (the put-back's file aside) or for company.toml (its new copy) is
// never wider than its final rights, at any step of its making, and nobody meets it by its name
// before it has them: traced at every step of the one maker, under a folder whose default list
// would open new files to a named user.
#include "platform/datafile/file_aside.h"
#include "platform/datafile/made_file.h"
#include "platform/suite/company.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/file.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dz {
namespace {
namespace fs = std::filesystem;
using xio::AccessEntry;
using xio::AccessList;
using xio::AccessTag;

// What each entry of `l` lets its holder do (a group-class entry under the mask).
unsigned effective(const AccessList& l, const AccessEntry& e) {
    const bool underMask = l.extended() && e.tag != AccessTag::Owner && e.tag != AccessTag::Others && e.tag != AccessTag::Mask;
    return underMask ? e.perm & l.perm(AccessTag::Mask) : e.perm;
}

// Whether `seen` gives anyone more than `final` does: an entry `final` has not gives nothing.
bool wider(const AccessList& seen, const AccessList& final) {
    for (const AccessEntry& e : seen.entries) {
        if (e.tag == AccessTag::Mask) continue;
        unsigned allowed = 0;
        for (const AccessEntry& f : final.entries)
            if (f.tag == e.tag && f.id == e.id) allowed = effective(final, f);
        if (effective(seen, e) & ~allowed) return true;
    }
    return false;
}

class MadeRights : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("dz_made_rights_" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        // New files here would take a named user's read and write from the folder.
        acl_t d = ::acl_from_text("u::rwx,u:4321:rw-,g::r-x,m::rwx,o::---");
        defaults = d && ::acl_set_file(dir.c_str(), ACL_TYPE_DEFAULT, d) == 0;
        if (d) ::acl_free(d);
    }
    void TearDown() override {
        xio::set_made_file_hook_for_tests(nullptr);
        fs::remove_all(dir);
    }
    // Traces every step of the makings of `run`: the list each made file had, and whether its
    // final name `named` stood then.
    struct Seen {
        AccessList list;
        bool named = false;
    };
    std::vector<Seen> trace(const fs::path& named, const std::function<void()>& run) {
        std::vector<Seen> seen;
        xio::set_made_file_hook_for_tests([&](const char*, int fd) {
            struct stat st {};
            seen.push_back({*xio::access_list(fd), ::lstat(named.c_str(), &st) == 0});
        });
        run();
        xio::set_made_file_hook_for_tests(nullptr);
        return seen;
    }
    // A file at `p` with a list that names a reader and a writer, and keeps the others out.
    void listed(const fs::path& p) {
        const int fd = ::open(p.c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        list = {{{AccessTag::Owner, 6, 0}, {AccessTag::User, 4, 4321}, {AccessTag::User, 6, 4322},
                 {AccessTag::OwningGroup, 4, 0}, {AccessTag::Mask, 6, 0}, {AccessTag::Others, 0, 0}}};
        ASSERT_EQ(xio::give_access_list(fd, list), 0);
        ::close(fd);
    }
    void expect_never_wider(const std::vector<Seen>& seen, const AccessList& final, const char* what) {
        SCOPED_TRACE(what);
        ASSERT_FALSE(seen.empty());
        for (const Seen& s : seen) {
            EXPECT_FALSE(wider(s.list, final)) << s.list.words() << " wider than " << final.words();
            if (s.named) {
                EXPECT_EQ(s.list, final) << "named before it had its rights";
            }
        }
    }
    fs::path dir;
    bool defaults = false;
    AccessList list;
};

TEST_F(MadeRights, AFileAsideAndANewSettingsCopyAreNeverWiderThanTheirFinalRights) {
    if (!defaults) GTEST_SKIP() << "no access lists here: " << std::strerror(errno);
    // The put-back's file aside: asked for mode 0664, the data file's list is what it gets.
    const fs::path data = dir / "MASTER.GLM";
    { std::ofstream(data) << "the data file"; }
    listed(data);
    xio::Aside aside;
    const int in = ::open(data.c_str(), O_RDONLY);
    const auto seenAside = trace(xio::aside_name(data.string(), 0), [&] { ASSERT_EQ(xio::write_aside(in, data.string(), 0664, aside), 0); });
    ::close(in);
    expect_never_wider(seenAside, list, "file aside");
    EXPECT_EQ(*xio::access_list(aside.path), list);

    // company.toml's new copy, written twice: the first makes a new company's file.
    const fs::path settings = dir / "company.toml";
    suite::write_settings(settings, suite::default_settings({}));
    listed(settings);
    const auto seenSettings = trace(settings.string() + ".new", [&] { suite::write_settings(settings, suite::default_settings({})); });
    expect_never_wider(seenSettings, list, "settings");
    EXPECT_EQ(*xio::access_list(settings.string()), list);
}

// A rewrite killed after its new copy was named leaves "company.toml.new": the next rewrite
// removes it; a copy a live rewrite holds is left to it.
TEST_F(MadeRights, ASettingsCopyNoRewriteHoldsGoesWithTheNextRewrite) {
    const fs::path settings = dir / "company.toml";
    const fs::path copy = settings.string() + ".new";
    suite::write_settings(settings, suite::default_settings({}));
    { std::ofstream(copy) << "left by a killed rewrite"; }
    const int held = ::open(copy.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    suite::clear_stale_settings_copy(settings);
    EXPECT_TRUE(fs::exists(copy));
    ::close(held);
    suite::write_settings(settings, suite::default_settings({}));
    EXPECT_FALSE(fs::exists(copy));
}

}  // namespace
}  // namespace dz
