// What other programs leave beside a data file that may hold their writes: a write-ahead log of
// committed writes, a journal its content cannot tell to be the file's own. Where its rights
// would have it believed, it is refused with a step that keeps it and says how its program takes
// it into the file; one not believed keeps the step that removes it. A journal that holds nothing
// to take back is said as that by a look, never as a stopped write.
#include "platform/datafile/hot_journal.h"
#include "platform/datafile/run_marker.h"
#include "platform/datafile/users.h"
#include "support.h"

#include <gmock/gmock.h>
#include <sqlite3.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <optional>

namespace dz::test {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

class KeptWrites : public TstFileTest {
public:
    fs::path log() const { return dir / "MASTER.TST-wal"; }

    // The refusal a writer's open meets, as its words and its step.
    std::pair<std::string, ui::NextStep> refusal() {
        uint16_t h = 0;
        if (xio_open_file(file(), 1, h) == XIO_OK) {
            close(h);
            return {"opened", {}};
        }
        return {xio_error_text(), xio_error_next_step()};
    }
    std::string me() const { return xio::user_name(::geteuid()); }
};

// The shell in write-ahead-log mode, ended without closing the file (killed, or still open): its
// committed writes stand in the log alone. The log is kept, neither read nor removed, with the
// step that writes it into the file; followed, the next writer runs and keeps those writes.
TEST_F(KeptWrites, ALogOfCommittedWritesIsKeptUntilItsProgramWritesItIntoTheFile) {
    made();
    const pid_t child = ::fork();
    if (child == 0) {
        sqlite3* db = nullptr;
        const bool wrote = sqlite3_open_v2(file().c_str(), &db, SQLITE_OPEN_READWRITE, "unix") == SQLITE_OK &&
                           sqlite3_exec(db, "PRAGMA journal_mode=WAL; UPDATE r1 SET name = 'by the shell'", nullptr,
                                        nullptr, nullptr) == SQLITE_OK;
        ::_exit(wrote ? 0 : 1);  // never closed: the log is not written into the file
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_GT(fs::file_size(log()), 32u);
    const std::string logBytes = bytes_of(log());
    for (const bool look : {false, true}) {
        std::optional<xio_read_only_scope> looking;
        if (look) looking.emplace();
        const auto [said, next] = refusal();
        EXPECT_THAT(said, AllOf(HasSubstr(log().string() + " is a write-ahead log of " + me() + " that holds writes"),
                                HasSubstr("until the log is written into the file or removed"),
                                Not(HasSubstr("until the journal is removed"))));
        EXPECT_EQ(next, (ui::NextStep{ui::Step::WriteLogIntoFile, {log().string(), file().string(), me()}}));
    }
    EXPECT_EQ(bytes_of(log()), logBytes);

    // The step: the file opened by that program and put out of write-ahead-log mode.
    ASSERT_EQ(run_stock(file(), "PRAGMA journal_mode=DELETE"), "");
    EXPECT_FALSE(fs::exists(log()));
    const uint16_t h = open(false);
    ASSERT_EQ(addCustomer(h, "C3", "A3"), XIO_OK);
    close(h);
    std::string rows;
    ASSERT_EQ(run_stock(file(), "SELECT count(*) FROM r1 WHERE name = 'by the shell'", &rows), "");
    EXPECT_EQ(rows, "2\n");
}

// A log that holds nothing (no frame past its header), or that one whom the file's rights keep out
// may write, holds nothing that may be believed a writer's: today's step, which removes it.
TEST_F(KeptWrites, ALogOfNoFramesOrNotBelievedByItsRightsIsRemoved) {
    made();
    std::string header(32, '\0');
    put_be32(header, 0, 0x377f0682);
    std::string framed = header + std::string(4096 + 24, 'f');
    for (const auto& [bytes, mode] : {std::pair{header, 0644}, {framed, 0666}}) {
        SCOPED_TRACE(std::to_string(bytes.size()) + " bytes, mode " + std::to_string(mode));
        ASSERT_EQ(::chmod(file().c_str(), 0644), 0);
        std::ofstream(log(), std::ios::binary | std::ios::trunc) << bytes;
        ASSERT_EQ(::chmod(log().c_str(), static_cast<mode_t>(mode)), 0);
        const auto [said, next] = refusal();
        EXPECT_THAT(said, AllOf(HasSubstr("is a write-ahead log or its index"), HasSubstr("until the journal is removed")));
        EXPECT_EQ(next, (ui::NextStep{ui::Step::RemoveJournal, {log().string(), me()}}));
    }
    // Nor is a name that links to a log of frames a log of its own.
    const fs::path elsewhere = dir / "elsewhere";
    fs::remove(log());
    std::ofstream(elsewhere, std::ios::binary) << framed;
    ASSERT_EQ(::chmod(elsewhere.c_str(), 0644), 0);
    fs::create_symlink(elsewhere, log());
    EXPECT_EQ(refusal().second.step, ui::Step::RemoveJournal);
}

// A journal the content cannot tell to be the file's own (another data file's first page; times a
// copy did not keep) of one who may write the file, written by none the file keeps out, may be
// another program's stopped write: kept, with both ways out. A company copied whole while a write
// stood stopped, followed by that step, has the write taken back by the shell as by a writer.
TEST_F(KeptWrites, AJournalBelievedByItsRightsIsKeptWithTheStepThatTakesItBack) {
    made();
    const std::string before = bytes_of(file());
    ASSERT_TRUE(stop_in_commit([&] {
        uint16_t h = 0;
        if (xio_open_file(file(), 1, h) == XIO_OK && xio_start_writes(h) == XIO_OK && addCustomer(h, "C3", "A3") == XIO_OK)
            (void)xio_commit(h);
    }));
    // Copied as a tool that keeps no times copies: the journal after the file.
    const fs::path copy = dir / "copy";
    fs::create_directory(copy);
    fs::copy_file(file(), copy / "MASTER.TST");
    fs::copy_file(journal(), copy / "MASTER.TST-journal");
    fs::last_write_time(copy / "MASTER.TST-journal", fs::last_write_time(copy / "MASTER.TST") + std::chrono::seconds(1));
    const std::string copied = (copy / "MASTER.TST").string();
    const xio::JournalJudgement judged = xio::judge_journal(copied);
    ASSERT_EQ(judged.kind, xio::JournalKind::NotOwn);
    EXPECT_EQ(judged.refusal, xio::JournalRefusal::Unproven);
    EXPECT_THAT(judged.reason(), AllOf(HasSubstr("may be a write of the file by another program"),
                                       HasSubstr("until it is taken back into the file or removed")));
    EXPECT_EQ(judged.next(), (ui::NextStep{ui::Step::TakeBackOrRemoveJournal, {judged.journal, copied, me()}}));
    std::string check;
    ASSERT_EQ(run_stock(copied, "PRAGMA integrity_check", &check), "");
    EXPECT_EQ(check, "ok\n");
    EXPECT_FALSE(fs::exists(judged.journal));
    EXPECT_TRUE(bytes_of(copied) == before);  // not printed: pages

    // Another data file's journal, where the file's rights would believe it: the same step.
    (void)xio::settle_dead_runs({dir.string(), true, "MASTER.TST"});  // the file's own stopped write
    (void)xio::take_run_notices();
    xio::forget_run_notices_said();
    ASSERT_FALSE(fs::exists(journal()));
    fs::create_directory(dir / "other");
    ASSERT_EQ(xio_create_file("TST", 1, dir / "other" / "MASTER.TST"), XIO_OK);
    ASSERT_TRUE(stop_in_commit([&] {
        uint16_t h = 0;
        if (xio_open_file(dir / "other" / "MASTER.TST", 1, h) == XIO_OK && xio_start_writes(h) == XIO_OK &&
            addCustomer(h, "O1", "O1") == XIO_OK)
            (void)xio_commit(h);
    }));
    fs::copy_file(dir / "other" / "MASTER.TST-journal", journal());
    ASSERT_EQ(::chmod(journal().c_str(), 0644), 0);
    const auto [said, next] = refusal();
    EXPECT_THAT(said, HasSubstr("the journal of another data file"));
    EXPECT_EQ(next, (ui::NextStep{ui::Step::TakeBackOrRemoveJournal, {journal().string(), file().string(), me()}}));

    // Left open to every user, or of one who may not write the file: nothing that may be
    // believed, and today's step removes it.
    ASSERT_EQ(::chmod(journal().c_str(), 0666), 0);
    EXPECT_EQ(refusal().second, (ui::NextStep{ui::Step::RemoveJournal, {journal().string(), me()}}));
    if (::geteuid() != 0) GTEST_SKIP() << "a journal of another user is made by root alone";
    constexpr uid_t kNobodysUid = 4242;  // no account, not the file's owner
    ASSERT_EQ(::chmod(journal().c_str(), 0600), 0);
    ASSERT_EQ(::chown(journal().c_str(), kNobodysUid, static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(::chmod(file().c_str(), 0644), 0);
    EXPECT_EQ(refusal().second.step, ui::Step::RemoveJournal);
}

// A look beside a journal that holds nothing to take back (a committed write of several files
// whose super journal is gone) says what the judge found, never a stopped write, and that a
// writing command removes it; the writer's command does, and goes on.
TEST_F(KeptWrites, ALookSaysAJournalOfNothingToTakeBackAsThat) {
    made();
    JournalSpec committed;
    committed.super = (dir / "MASTER.TST-mjgone").string();  // removed once every file was written
    std::ofstream(journal(), std::ios::binary) << journal_of(file(), committed);
    ASSERT_TRUE(xio::judge_journal(file().string()).playsNothing);
    {
        xio_read_only_scope look;
        uint16_t h = 0;
        EXPECT_EQ(xio_open_file(file(), 1, h), XIO_LOCKED);
        EXPECT_THAT(xio_error_text(), AllOf(HasSubstr("holds nothing to take back"), Not(HasSubstr("stopped")),
                                            Not(HasSubstr("middle of a write"))));
        EXPECT_EQ(xio_error_next_step(), (ui::NextStep{ui::Step::RemoveSpentJournal, {}}));
        (void)xio::settle_dead_runs({dir.string(), false, "MASTER.TST"});
        const std::vector<xio::RunNotice> said = xio::take_run_notices();
        xio::forget_run_notices_said();
        ASSERT_EQ(said.size(), 1u);
        EXPECT_THAT(said[0].reason, AllOf(HasSubstr("holds nothing to take back"), Not(HasSubstr("stopped"))));
        EXPECT_EQ(said[0].next, (ui::NextStep{ui::Step::RemoveSpentJournal, {}}));
    }
    EXPECT_TRUE(fs::exists(journal()));
    const auto [said, next] = refusal();
    EXPECT_EQ(said, "opened");
    EXPECT_FALSE(fs::exists(journal()));
}

}  // namespace
}  // namespace dz::test
