// Data files open in SQLite's own tools, whose writes leave journals this program never makes: one
// of a write that changed the file's page size, one of a write of several files at once, one of a
// write that never syncs. Each is judged as SQLite plays it: what SQLite plays is taken back to
// the very bytes SQLite's own playback gives, what it plays nothing of goes unsaid, and what
// only all the files' journals together take back is kept, with the step that does.
#include "platform/datafile/hot_journal.h"
#include "platform/datafile/run_marker.h"
#include "support.h"

#include <gmock/gmock.h>
#include <sqlite3.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>

namespace dz::test {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

class OtherProgramsJournal : public DataFileTest {
public:
    fs::path file() const { return dir / "MASTER.TST"; }
    fs::path journal() const { return dir / "MASTER.TST-journal"; }

    // MASTER.TST with customers on a few hundred pages of `pageSize` bytes.
    void made(int pageSize) {
        const uint16_t h = open();
        ASSERT_EQ(xio_start_writes(h), XIO_OK);
        for (int i = 0; i < 300; ++i)
            ASSERT_EQ(addCustomer(h, "K" + std::to_string(1000 + i), "B" + std::to_string(i), std::string(30, 'n')), XIO_OK);
        ASSERT_EQ(xio_commit(h), XIO_OK);
        close(h);
        ASSERT_EQ(run_stock(file(), "PRAGMA page_size=" + std::to_string(pageSize) + "; VACUUM"), "");
    }
    std::vector<xio::RunNotice> settled() {
        (void)xio::settle_dead_runs({dir.string(), true, "MASTER.TST"});
        std::vector<xio::RunNotice> n = xio::take_run_notices();
        xio::forget_run_notices_said();
        return n;
    }
    // The file as SQLite's own playback leaves it: a copy of it and its journal, played by the
    // first read of a connection of SQLite's own file layer, and what its integrity check says.
    std::pair<std::string, std::string> playedByStock() {
        const fs::path copy = dir / "copy.db";
        fs::copy_file(file(), copy, fs::copy_options::overwrite_existing);
        fs::copy_file(journal(), copy.string() + "-journal", fs::copy_options::overwrite_existing);
        std::string check;
        EXPECT_EQ(run_stock(copy, "PRAGMA integrity_check", &check), "");
        const std::string played = bytes_of(copy);
        fs::remove(copy);
        return {played, check};
    }
};

// Runs `sql` on `file` through SQLite's own file layer in a child process that ends where that
// layer is about to remove a file whose name holds `at` (a commit's journal, "-journal", once the
// commit wrote the file; its super journal, "-mj", once every file of it is written). True when
// it ended there.
bool stop_at_removal(const fs::path& file, const std::string& sql, const char* at) {
    static const char* stopAt = nullptr;
    stopAt = at;
    return stop_in_commit([&] {
        sqlite3_vfs* unix = sqlite3_vfs_find("unix");
        using Unlink = int (*)(const char*);
        static Unlink real = nullptr;
        real = reinterpret_cast<Unlink>(unix->xGetSystemCall(unix, "unlink"));
        Unlink stop = [](const char* name) {
            if (std::strstr(name, stopAt)) ::_exit(0);
            return real(name);
        };
        unix->xSetSystemCall(unix, "unlink", reinterpret_cast<sqlite3_syscall_ptr>(stop));
        (void)run_stock(file, sql);
    });
}

// A write that never syncs (PRAGMA synchronous=OFF) of every row of the file at `uri`, through
// SQLite's own file layer in a child process that ends at the first write into the journal at a
// place `stops` takes: what a kill there leaves. True when it ended there.
bool stop_at_journal_write(const std::string& uri, bool (*stops)(off_t)) {
    static bool (*stopsAt)(off_t) = nullptr;
    stopsAt = stops;
    return stop_in_commit([&] {
        sqlite3_vfs* unix = sqlite3_vfs_find("unix");
        using Write = ssize_t (*)(int, const void*, size_t, off_t);
        static Write real = nullptr;
        real = reinterpret_cast<Write>(unix->xGetSystemCall(unix, "pwrite64"));
        Write stop = [](int fd, const void* data, size_t n, off_t at) {
            char named[4096] = {};
            const std::string self = "/proc/self/fd/" + std::to_string(fd);
            if (::readlink(self.c_str(), named, sizeof named - 1) > 0 && std::string_view(named).ends_with("-journal") &&
                stopsAt(at))
                ::_exit(0);
            return real(fd, data, n, at);
        };
        unix->xSetSystemCall(unix, "pwrite64", reinterpret_cast<sqlite3_syscall_ptr>(stop));
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI, "unix") == SQLITE_OK)
            sqlite3_exec(db, "PRAGMA synchronous=OFF; UPDATE r1 SET name = 'stopped'", nullptr, nullptr, nullptr);
    });
}

// A write of MASTER.TST and OTHER.TST together (ATTACH, then one commit), stopped as above.
bool stop_two_file_write(const fs::path& main, const fs::path& other, const char* at) {
    return stop_at_removal(main,
                           "ATTACH '" + other.string() + "' AS t; BEGIN; UPDATE r1 SET name = 'both' WHERE rowid % 2 = 0; "
                           "INSERT INTO t.dz_meta VALUES ('written', 'with MASTER.TST'); COMMIT",
                           at);
}

// A write that changes the file's page size (VACUUM, as the shell runs it) stops after its
// commit wrote the file: the file's pages are of the new size, its journal's of the old, and a
// smaller size has cut the file already. Taken back, the file is whole and byte for byte what
// SQLite's own playback makes of it.
TEST_F(OtherProgramsJournal, AChangeOfPageSizeStoppedInItsCommitIsTakenBackAsSQLiteTakesItBack) {
    for (const auto& [from, to] : {std::pair{512, 1024}, {1024, 512}}) {
        SCOPED_TRACE(std::to_string(from) + " to " + std::to_string(to));
        made(from);
        const std::string before = bytes_of(file());
        ASSERT_TRUE(stop_at_removal(file(), "PRAGMA page_size=" + std::to_string(to) + "; VACUUM", "-journal"));
        ASSERT_TRUE(fs::exists(journal()));
        ASSERT_NE(bytes_of(file()).substr(16, 2), before.substr(16, 2));  // the file's pages are of the new size
        const auto [stock, check] = playedByStock();
        ASSERT_EQ(check, "ok\n");
        const auto said = settled();
        ASSERT_EQ(said.size(), 1u);
        EXPECT_EQ(said[0].kind, xio::RunNoticeKind::WriteTakenBack) << said[0].reason;
        EXPECT_FALSE(fs::exists(journal()));
        EXPECT_TRUE(bytes_of(file()) == stock);  // not printed: hundreds of pages
        EXPECT_TRUE(bytes_of(file()) == before);
        fs::remove(file());
    }
}

// A write of two data files at once stopped in its commit, its super journal standing: each
// file's journal is that write's, kept whole, refused as that with a step that keeps it, never
// as another file's. Followed, the step (each file opened by SQLite's own shell) takes the write
// back in both. Once the super journal is gone, the write was committed: SQLite plays nothing of
// the journal left, and neither does this program, which lets it go unsaid.
TEST_F(OtherProgramsJournal, AWriteOfSeveralFilesIsKeptWholeWhileItsSuperJournalStands) {
    made(4096);
    const fs::path other = dir / "OTHER.TST";
    fs::copy_file(file(), other);
    const std::string before = bytes_of(file()), otherBefore = bytes_of(other);
    ASSERT_TRUE(stop_two_file_write(file(), other, "-mj"));
    const fs::path otherJournal = other.string() + "-journal";
    ASSERT_TRUE(fs::exists(journal()) && fs::exists(otherJournal));
    const xio::JournalJudgement judged = xio::judge_journal(file().string());
    ASSERT_EQ(judged.kind, xio::JournalKind::NotOwn);
    EXPECT_EQ(judged.refusal, xio::JournalRefusal::SeveralFiles);
    ASSERT_THAT(judged.superJournal, HasSubstr("MASTER.TST-mj"));
    EXPECT_TRUE(fs::exists(judged.superJournal));
    EXPECT_EQ(judged.next(), (ui::NextStep{ui::Step::TakeBackTogether, {journal().string(), judged.superJournal}}));
    for (const bool look : {true, false}) {
        std::optional<xio_read_only_scope> looking;
        if (look) looking.emplace();
        uint16_t h = 0;
        EXPECT_EQ(xio_open_file(file(), 1, h), XIO_LOCKED);
        EXPECT_THAT(xio_error_text(), AllOf(HasSubstr("a write of several data files at once"),
                                            Not(HasSubstr("not the journal of"))));
    }
    const auto said = settled();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].next.step, ui::Step::TakeBackTogether);
    ASSERT_TRUE(fs::exists(journal()) && fs::exists(judged.superJournal));
    // The step: each file opened for writing by SQLite's own shell.
    std::string check;
    EXPECT_EQ(run_stock(file(), "PRAGMA integrity_check", &check), "");
    EXPECT_EQ(check, "ok\n");
    EXPECT_TRUE(fs::exists(judged.superJournal));  // kept for the other file's journal
    EXPECT_EQ(run_stock(other, "PRAGMA integrity_check", &check), "");
    EXPECT_FALSE(fs::exists(judged.superJournal));
    EXPECT_TRUE(bytes_of(file()) == before);
    EXPECT_TRUE(bytes_of(other) == otherBefore);

    // Stopped after its super journal went: committed.
    ASSERT_TRUE(stop_two_file_write(file(), other, "-journal"));
    ASSERT_TRUE(fs::exists(journal()));
    const std::string written = bytes_of(file());
    EXPECT_TRUE(playedByStock().first == written);
    const xio::JournalJudgement left = xio::judge_journal(file().string());
    EXPECT_EQ(left.kind, xio::JournalKind::Own);
    EXPECT_TRUE(left.playsNothing);
    EXPECT_THAT(left.reason(), HasSubstr("no longer stands"));
    EXPECT_THAT(settled(), ::testing::IsEmpty());
    EXPECT_FALSE(fs::exists(journal()));
    EXPECT_TRUE(bytes_of(file()) == written);
}

// A write that never syncs (PRAGMA synchronous=OFF) writes its journal's first header in pieces
// when its sectors are larger than its pages; stopped inside them, it wrote no record and nothing
// of it reached the file. That journal holds nothing to play: no damage, and it goes unsaid.
TEST_F(OtherProgramsJournal, AFirstHeaderNeverFinishedHoldsNothingToPlay) {
    made(512);
    const std::string before = bytes_of(file());
    // Ends the write at its journal's second piece.
    ASSERT_TRUE(stop_at_journal_write("file:" + file().string() + "?psow=0", [](off_t at) { return at > 0; }));
    const std::string j = bytes_of(journal());
    ASSERT_EQ(j.size(), 512u);  // one piece of a header of 4096 bytes
    ASSERT_EQ(bytes_of(file()), before);
    const xio::JournalJudgement judged = xio::judge_journal(file().string());
    EXPECT_EQ(judged.kind, xio::JournalKind::Own);
    EXPECT_THAT(judged.reason(), HasSubstr("never finished"));
    const auto [stock, check] = playedByStock();
    EXPECT_THAT(settled(), ::testing::IsEmpty());
    EXPECT_FALSE(fs::exists(journal()));
    EXPECT_TRUE(bytes_of(file()) == stock);
    EXPECT_TRUE(bytes_of(file()) == before);
}

// The same write with sectors no larger than its pages writes its first header whole, then each
// record in pieces (its page number, its page, its checksum). Stopped before the first record was
// whole, it holds no record either, and nothing of it reached the file: it goes unsaid.
TEST_F(OtherProgramsJournal, AFirstRecordNeverFinishedHoldsNothingToPlay) {
    static off_t stopAt = 0;
    for (const off_t at : {off_t{512}, off_t{516}}) {
        SCOPED_TRACE("stopped at byte " + std::to_string(at) + " of its journal");
        stopAt = at;
        made(4096);
        const std::string before = bytes_of(file());
        ASSERT_TRUE(stop_at_journal_write("file:" + file().string(), [](off_t where) { return where == stopAt; }));
        ASSERT_EQ(bytes_of(journal()).size(), static_cast<std::size_t>(at));
        ASSERT_EQ(bytes_of(file()), before);
        const xio::JournalJudgement judged = xio::judge_journal(file().string());
        EXPECT_EQ(judged.kind, xio::JournalKind::Own);
        EXPECT_TRUE(judged.playsNothing);
        const auto [stock, check] = playedByStock();
        EXPECT_THAT(settled(), ::testing::IsEmpty());
        EXPECT_FALSE(fs::exists(journal()));
        EXPECT_TRUE(bytes_of(file()) == stock);
        EXPECT_TRUE(bytes_of(file()) == before);
        fs::remove(file());
    }
}

}  // namespace
}  // namespace dz::test
