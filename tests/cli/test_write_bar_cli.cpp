// A write refused for what the file's owner cannot change is said as that, with who can lift it:
// an immutable file or folder and a read-only mount (an administrator), a folder of another owner
// (that owner). Each printed step, followed as written, lets the same command through.
#include "cli_support.h"
#include "as_user.h"
#include "immutable.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

using namespace dz::cli::testing;
using ::testing::HasSubstr;
using ::testing::Not;

const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples" / "glm";
constexpr uid_t kNobody = 65534;

class WriteBarCli : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root, to run as the files' owner and to set what bars them";
        DZ_SKIP_UNLESS_OTHERS_REACH(DZ_CLI_BIN);
        ASSERT_FALSE(scratch.path().empty());
        ASSERT_EQ(RunCli({"company", "init", co.string()}, dir).status, 0);
        fs::copy_file(kSamples / "demo-gl-master.txt", text);
        ASSERT_LE(RunCli({"convert", "--company", co.string(), "--report", "/dev/null", text.string()}, dir).status, 1);
        Spit(load, "@GLM\nR1 AACCT=\"01999900000\" ATITLE=\"Test\"\n");
        // User nobody owns the company and everything in it: permission bars nothing of theirs.
        ASSERT_EQ(RunShell("chmod 755 " + ShellWord(dir.string()) + " && chown -R 65534:65534 " +
                           ShellWord(co.string())).status, 0);
    }

    // `command` (its words after the program's name) run as user nobody, standard error merged.
    CliResult AsOwner(const std::string& command) {
        const CliResult r = RunShell("setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=/tmp " +
                                     ShellWord(DZ_CLI_BIN) + " " + command + " </dev/null 2>&1");
        if (r.out.find("the program could not start") != std::string::npos) skipped = r.out;
        return r;
    }
    std::string Load() { return "load --company " + ShellWord(co.string()) + " " + ShellWord(load.string()); }
    std::string Convert() {
        return "convert --company " + ShellWord(co.string()) + " --report /dev/null " + ShellWord(text.string());
    }

    ScratchFolder scratch;
    fs::path dir = scratch.path(), co = dir / "co", text = dir / "gl.txt", load = dir / "g1.load";
    std::string glm = (co / "MASTER.GLM").string();
    std::string skipped;
};

// What no permission lifts is never said as one, nor sent to the file's owner (who is this user).
void ExpectNoPermissionWords(const CliResult& r, const std::string& what) {
    EXPECT_EQ(r.status, 2) << what << "\n" << r.out;
    EXPECT_THAT(r.out, Not(HasSubstr("permission"))) << what;
    EXPECT_THAT(r.out, Not(HasSubstr("the owner of"))) << what;
}

TEST_F(WriteBarCli, AnImmutableFolderOrFileIsSaidWithTheAdministratorsLift) {
    int round = 0;
    for (const std::string& barred : {co.string(), glm}) {
        // A record of its own each time, so that the load that follows the lift adds it.
        Spit(load, "@GLM\nR1 AACCT=\"0199990000" + std::to_string(++round) + "\" ATITLE=\"Test\"\n");
        if (!dz::testing_support::SetImmutable(barred, true)) GTEST_SKIP() << "no immutable attribute here";
        const CliResult loaded = AsOwner(Load());
        const CliResult converted = AsOwner(Convert());
        const CliResult imported = AsOwner("tables import --company " + ShellWord(co.string()) +
                                           " G3 --app GL --field 9 " + ShellWord(load.string()));
        ASSERT_TRUE(dz::testing_support::SetImmutable(barred, false));
        if (!skipped.empty()) GTEST_SKIP() << skipped;
        const std::string what = (barred == glm ? "the file " : "the folder ") + barred + " is immutable (chattr +i)";
        for (const CliResult* r : {&loaded, &converted, &imported}) {
            // The table file is no other than a data file of the folder: its own file stands free.
            if (r == &imported && barred == glm) continue;
            ExpectNoPermissionWords(*r, barred);
            EXPECT_THAT(r->out, HasSubstr("cannot be written: " + what)) << r->out;
            EXPECT_THAT(r->out, HasSubstr("Next: have an administrator lift what keeps " + barred +
                                          " from being written (" + what + ": chattr -i " + barred + " lifts it)"))
                << r->out;
        }
        // Lifted as the step says, the same command goes through.
        const CliResult again = AsOwner(Load());
        EXPECT_EQ(again.status, 0) << again.out;
    }
}

TEST_F(WriteBarCli, AReadOnlyMountIsSaidWithTheRemountThatLiftsIt) {
    if (RunShell("mount --bind " + ShellWord(co.string()) + " " + ShellWord(co.string()) + " 2>&1").status != 0)
        GTEST_SKIP() << "no bind mounts here";
    const CliResult loaded = RunShell("mount -o remount,bind,ro " + ShellWord(co.string())).status == 0
                                 ? AsOwner(Load())
                                 : CliResult{};
    const std::string lift = "mount -o remount,rw " + co.string();
    const bool lifted = RunShell(lift).status == 0;
    const CliResult again = AsOwner(Load());
    RunShell("umount " + ShellWord(co.string()));
    if (!skipped.empty()) GTEST_SKIP() << skipped;
    ExpectNoPermissionWords(loaded, "read-only mount");
    EXPECT_THAT(loaded.out, HasSubstr("is mounted read-only (at " + co.string() + ")"));
    EXPECT_THAT(loaded.out, HasSubstr(lift + " lifts it"));
    ASSERT_TRUE(lifted);
    EXPECT_EQ(again.status, 0) << again.out;
}

// A data file its user may write, in a folder of root's they may not write in: the folder and
// its owner are named, never the file's owner, who could not open it.
TEST_F(WriteBarCli, AFolderOfAnotherOwnerIsNamedWithItsOwner) {
    ASSERT_EQ(::chown(co.c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(co.c_str(), 0755), 0);
    const CliResult loaded = AsOwner(Load());
    const CliResult converted = AsOwner(Convert());
    if (!skipped.empty()) GTEST_SKIP() << skipped;
    for (const CliResult* r : {&loaded, &converted}) {
        EXPECT_EQ(r->status, 2) << r->out;
        EXPECT_THAT(r->out, HasSubstr("cannot be written: you do not have permission to write in the folder it is in, " +
                                      co.string()));
        EXPECT_THAT(r->out, HasSubstr("Next: ask for leave to write in the folder " + co.string() +
                                      " from root (uid 0), who owns it"));
        EXPECT_THAT(r->out, Not(HasSubstr("the owner of " + glm)));
        EXPECT_THAT(r->out, Not(HasSubstr("for leave to write " + glm)));  // they may write it
    }
    // The file of a third owner, which this user may not write either, is asked of that owner.
    ASSERT_EQ(::chown(glm.c_str(), 1, 1), 0);
    ASSERT_EQ(::chmod(glm.c_str(), 0644), 0);
    const CliResult both = AsOwner(Load());
    EXPECT_THAT(both.out, HasSubstr("from root (uid 0), who owns it (the journal of each data file is made there), "
                                    "and for leave to write " + glm + " from "));
    ASSERT_EQ(::chown(glm.c_str(), kNobody, kNobody), 0);
    // Given by the folder's owner, the leave lets the same command through.
    ASSERT_EQ(::chmod(co.c_str(), 0777), 0);
    const CliResult again = AsOwner(Load());
    EXPECT_EQ(again.status, 0) << again.out;
}

}  // namespace
