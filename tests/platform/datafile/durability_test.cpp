// Transactions, other processes, damaged files and full disks.
#include "support.h"

#include <gmock/gmock.h>

#include "platform/datafile/store.h"

#include <sqlite3.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dz::test {
namespace {

using Durability = DataFileTest;

int count_records(uint16_t h, uint16_t rec) {
    int n = 0;
    for (int s = xio_rd_first(h, rec, 0, 0); s == XIO_OK; s = xio_rd_next(h, rec, 0, 0)) ++n;
    return n;
}

// Records of type 1 as another program sees them: only what is committed.
int committed_records(const std::filesystem::path& file) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    int n = -1;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM r1", -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
        n = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return n;
}

// A new data file takes the user's umask like any other new file: with 002 the group of a
// shared company may write it, with 077 no one else may read it.
TEST_F(Durability, ANewFileHasThePermissionsTheUmaskGives) {
    for (const auto& [mask, expected] : {std::pair<mode_t, mode_t>{002, 0664}, {077, 0600}}) {
        const mode_t before = ::umask(mask);
        close(open());
        ::umask(before);
        struct stat st {};
        ASSERT_EQ(::stat((dir / "MASTER.TST").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, expected) << "umask " << mask;
        std::filesystem::remove(dir / "MASTER.TST");
    }
}

TEST_F(Durability, WritesStayInOneTransactionUntilCommit) {
    const auto file = dir / "MASTER.TST";
    uint16_t a = open();
    ASSERT_EQ(xio_start_writes(a), XIO_OK);
    ASSERT_EQ(addCustomer(a, "C1", "A1"), XIO_OK);
    EXPECT_EQ(count_records(a, 1), 1);  // the writer sees its own writes
    EXPECT_EQ(committed_records(file), 0);  // others only what is committed
    ASSERT_EQ(xio_rollback(a), XIO_OK);
    EXPECT_EQ(count_records(a, 1), 0);
    ASSERT_EQ(addCustomer(a, "C2", "A2"), XIO_OK);
    ASSERT_EQ(addCustomer(a, "C3", "A3"), XIO_OK);
    ASSERT_EQ(xio_commit(a), XIO_OK);
    EXPECT_EQ(committed_records(file), 2);
    ASSERT_EQ(xio_rollback(a), XIO_OK);  // nothing left to drop
    EXPECT_EQ(count_records(a, 1), 2);
    // Ending the writes commits, and so does closing.
    ASSERT_EQ(addCustomer(a, "C4", "A4"), XIO_OK);
    ASSERT_EQ(xio_end_writes(a), XIO_OK);
    EXPECT_EQ(committed_records(file), 3);
    ASSERT_EQ(xio_start_writes(a), XIO_OK);
    ASSERT_EQ(addCustomer(a, "C5", "A5"), XIO_OK);
    EXPECT_EQ(committed_records(file), 3);
    close(a);
    EXPECT_EQ(committed_records(file), 4);
    // Without writes started each write commits by itself.
    uint16_t b = open(false);
    ASSERT_EQ(addCustomer(b, "C6", "A6"), XIO_OK);
    EXPECT_EQ(committed_records(file), 5);
}

TEST_F(Durability, HandlesOfOneProgramShareTheFilesWrites) {
    const auto file = dir / "MASTER.TST";
    uint16_t a = open();
    uint16_t b = open(false);
    ASSERT_EQ(xio_start_writes(a), XIO_OK);
    ASSERT_EQ(addCustomer(a, "C1", "A1"), XIO_OK);
    EXPECT_EQ(count_records(b, 1), 1);  // seen at once, before any commit
    ASSERT_EQ(addCustomer(b, "C2", "A2"), XIO_OK);  // and no waiting for the open batch
    EXPECT_EQ(committed_records(file), 0);
    // Closing the handle that is not writing leaves the other's batch open.
    close(b);
    EXPECT_EQ(committed_records(file), 0);
    EXPECT_EQ(count_records(a, 1), 2);
    ASSERT_EQ(xio_rollback(a), XIO_OK);
    EXPECT_EQ(count_records(a, 1), 0);
    ASSERT_EQ(addCustomer(a, "C3", "A3"), XIO_OK);
    close(a);
    EXPECT_EQ(committed_records(file), 1);
}

// Another program's write that does not wait: SQLITE_BUSY while this program holds the file.
int foreign_insert(const std::filesystem::path& file, const std::string& code) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    const std::string sql = "INSERT INTO r1(CODE, ALTKEY) VALUES('" + code + "', '" + code + "')";
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return rc;
}

TEST_F(Durability, ReadsOfABatchHoldTheFileUntilItEnds) {
    const auto file = dir / "MASTER.TST";
    uint16_t a = open();
    uint16_t b = open(false);
    ASSERT_EQ(addCustomer(a, "C1", "A1"), XIO_OK);
    ASSERT_EQ(addCustomer(a, "C2", "A2"), XIO_OK);
    EXPECT_EQ(foreign_insert(file, "F1"), SQLITE_OK);  // reads outside a batch hold nothing
    ASSERT_EQ(xio_rd_first(a, 1, 0, 0), XIO_OK);
    EXPECT_EQ(foreign_insert(file, "F2"), SQLITE_OK);

    // Examine Files: writes started, only reads. The file stays in use between the reads.
    ASSERT_EQ(xio_start_writes(a), XIO_OK);
    ASSERT_EQ(xio_rd_first(a, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(a, 1, "CODE"), "C1");
    EXPECT_EQ(foreign_insert(file, "F3"), SQLITE_BUSY);
    // A handle of this program without writes started still commits each write by itself.
    ASSERT_EQ(addCustomer(b, "C3", "A3"), XIO_OK);
    EXPECT_EQ(committed_records(file), 5);
    // Dropping a batch that wrote nothing keeps the walk where it was.
    ASSERT_EQ(xio_rd_first(a, 1, 0, 0), XIO_OK);
    ASSERT_EQ(xio_rollback(a), XIO_OK);
    EXPECT_EQ(foreign_insert(file, "F4"), SQLITE_OK);
    ASSERT_EQ(xio_rd_next(a, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(a, 1, "CODE"), "C2");
    EXPECT_EQ(foreign_insert(file, "F5"), SQLITE_BUSY);  // the batch reads again

    // A write after reads joins the batch and is dropped with it.
    ASSERT_EQ(addCustomer(a, "C4", "A4"), XIO_OK);
    EXPECT_EQ(committed_records(file), 6);
    ASSERT_EQ(xio_rollback(a), XIO_OK);
    ASSERT_EQ(xio_rd_record(a, 1, 0, 0), XIO_NOT_FOUND);  // C4 is gone
    EXPECT_EQ(foreign_insert(file, "F6"), SQLITE_BUSY);
    ASSERT_EQ(xio_end_writes(a), XIO_OK);
    EXPECT_EQ(foreign_insert(file, "F7"), SQLITE_OK);
    EXPECT_EQ(committed_records(file), 7);
}

// A batch that only reads answers lookups in a record type without rows from what it saw
// first; every way a row can appear (a write of this program through any handle, a rollback,
// another program between batches) must still be found.
TEST_F(Durability, LookupsOfAnEmptyRecordTypeSeeEveryNewRow) {
    const auto file = dir / "MASTER.TST";
    uint16_t a = open();
    uint16_t b = open(false);
    auto find = [&](uint16_t h, const std::string& code, uint16_t key = 0) {
        xio_init_record(h, 1);
        put(h, 1, "CODE", code);
        put(h, 1, "ALTKEY", code);
        return xio_find_record(h, 1, key);
    };
    ASSERT_EQ(xio_start_writes(a), XIO_OK);
    EXPECT_EQ(find(a, "C1"), XIO_NOT_FOUND);
    EXPECT_EQ(find(a, "C1", 1), XIO_NOT_FOUND);
    xio_init_record(a, 1);
    put(a, 1, "CODE", "C1");
    EXPECT_EQ(xio_rd_record(a, 1, 0, 1), XIO_NOT_FOUND);
    // Another handle of this program writes: seen at once.
    ASSERT_EQ(addCustomer(b, "C1", "C1"), XIO_OK);
    EXPECT_EQ(find(a, "C1"), XIO_OK);
    EXPECT_EQ(find(a, "C1", 1), XIO_OK);
    xio_init_record(a, 1);
    put(a, 1, "CODE", "C1");
    ASSERT_EQ(xio_rd_record(a, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(a, 1, "ALTKEY"), "C1");
    // The handle's own write, dropped again.
    EXPECT_EQ(find(a, "C2"), XIO_NOT_FOUND);
    ASSERT_EQ(addCustomer(a, "C2", "C2"), XIO_OK);
    EXPECT_EQ(find(a, "C2"), XIO_OK);
    ASSERT_EQ(xio_rollback(a), XIO_OK);
    EXPECT_EQ(find(a, "C2"), XIO_NOT_FOUND);
    EXPECT_EQ(find(a, "C1"), XIO_OK);
    ASSERT_EQ(xio_end_writes(a), XIO_OK);

    // Another program fills an emptied file between two batches.
    ASSERT_EQ(xio_start_writes(a), XIO_OK);
    xio_init_record(a, 1);
    put(a, 1, "CODE", "C1");
    ASSERT_EQ(xio_rd_record(a, 1, 0, 0), XIO_OK);
    ASSERT_EQ(xio_del_record(a, 1), XIO_OK);
    ASSERT_EQ(xio_end_writes(a), XIO_OK);
    EXPECT_EQ(committed_records(file), 0);
    ASSERT_EQ(xio_start_writes(a), XIO_OK);
    EXPECT_EQ(find(a, "F1"), XIO_NOT_FOUND);
    ASSERT_EQ(xio_end_writes(a), XIO_OK);
    ASSERT_EQ(foreign_insert(file, "F1"), SQLITE_OK);
    ASSERT_EQ(xio_start_writes(a), XIO_OK);
    EXPECT_EQ(find(a, "F1"), XIO_OK);
    EXPECT_EQ(find(a, "F1", 1), XIO_OK);
}

TEST_F(Durability, HeaderLockOfAnotherProcessAnswersSevenUntilItDies) {
    uint16_t h = open();
    pid_t child = spawn_holder([&] {
        uint16_t ch = 0;
        xio_ask_request req;
        req.abbr = "TST";
        req.fileNo = 1;
        return xio_ask_file(req, ch) == XIO_OK && xio_rd_header(ch, 1, 1) == XIO_OK && xio_rd_header(ch, 2, 0) == XIO_OK;
    });
    ASSERT_GT(child, 0);
    EXPECT_EQ(xio_rd_header(h, 1, 1), XIO_LOCKED);
    EXPECT_EQ(xio_wr_header(h, 1), XIO_LOCKED);
    EXPECT_EQ(xio_rd_header(h, 1, 0), XIO_OK);  // reading without the lock is fine
    EXPECT_EQ(xio_rd_header(h, 2, 1), XIO_OK);  // another header is free
    kill_and_reap(child);
    EXPECT_EQ(xio_rd_header(h, 1, 1), XIO_OK);
    EXPECT_EQ(xio_wr_header(h, 1), XIO_OK);
}

TEST_F(Durability, RecordLockOfAnotherProcessAnswersSevenUntilItDies) {
    uint16_t h = open();
    ASSERT_EQ(addCustomer(h, "C1", "A1"), XIO_OK);
    ASSERT_EQ(addCustomer(h, "C2", "A2"), XIO_OK);
    pid_t child = spawn_holder([&] {
        uint16_t ch = 0;
        if (xio_open_file(dir / "MASTER.TST", 1, ch) != XIO_OK) return false;
        x_value_def v;
        v.text = "C1";
        xio_put_field(ch, 1, xio_num(ch, XIO_NUM_RECORD, 1, "CODE"), v);
        return xio_rd_record(ch, 1, 0, 1) == XIO_OK;
    });
    ASSERT_GT(child, 0);
    put(h, 1, "CODE", "c1");
    EXPECT_EQ(xio_rd_record(h, 1, 0, 1), XIO_LOCKED);
    EXPECT_EQ(xio_rd_first(h, 1, 0, 1), XIO_LOCKED);  // a locked walk meets it too
    put(h, 1, "CODE", "C2");
    EXPECT_EQ(xio_rd_record(h, 1, 0, 1), XIO_OK);
    kill_and_reap(child);
    put(h, 1, "CODE", "C1");
    EXPECT_EQ(xio_rd_record(h, 1, 0, 1), XIO_OK);
}

// The byte of the lock file that the hash of "R" and a record lock's key text names.
off_t record_byte(uint16_t rec, int64_t row) {
    uint64_t v = 1469598103934665603ull;
    for (char c : "R" + std::to_string(rec) + ":" + std::to_string(row)) v = (v ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return static_cast<off_t>(v & ((1ull << 62) - 1));
}

struct flock byte_lock(short type, off_t at) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = at;
    fl.l_len = 1;
    return fl;
}

// Whether another process finds the byte locked.
bool other_sees_locked(const std::filesystem::path& lockFile, off_t at) {
    const pid_t looker = fork();
    if (looker == 0) {
        const int fd = ::open(lockFile.c_str(), O_RDWR);
        struct flock fl = byte_lock(F_WRLCK, at);
        _exit(fd < 0 || fcntl(fd, F_GETLK, &fl) != 0 ? 2 : fl.l_type != F_UNLCK ? 1 : 0);
    }
    int status = -1;
    waitpid(looker, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) < 2);
    return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

// Another program takes the lock byte of record type 1's row `row` itself, as it would for that
// record, and holds it until it is ended.
pid_t hold_record_byte_elsewhere(const std::filesystem::path& lockFile, int64_t row) {
    return spawn_holder([&] {
        const int fd = ::open(lockFile.c_str(), O_RDWR);
        struct flock fl = byte_lock(F_WRLCK, record_byte(1, row));
        return fd >= 0 && fcntl(fd, F_SETLK, &fl) == 0;
    });
}

// The record of type 1 at `row`, read locked through `h`, is locked as another program finds it,
// and free to it once unlocked.
void expect_held_until_unlocked(uint16_t h, const std::filesystem::path& lockFile, int64_t row) {
    EXPECT_TRUE(other_sees_locked(lockFile, record_byte(1, row)));
    ASSERT_EQ(xio_unlock_record(h, 1), XIO_OK);
    EXPECT_FALSE(other_sees_locked(lockFile, record_byte(1, row)));
}

// A record lock is that byte, whichever program takes it: one that makes the key text meets ours.
TEST_F(Durability, RecordLocksTakeTheByteTheirKeyTextNames) {
    uint16_t h = open();
    ASSERT_EQ(addCustomer(h, "C1", "A1"), XIO_OK);
    ASSERT_EQ(addCustomer(h, "C2", "A2"), XIO_OK);
    const int64_t row = xio_current_row(h, 1);
    const auto lockFile = xio::lock_file_path(dir / "MASTER.TST");
    pid_t child = hold_record_byte_elsewhere(lockFile, row);
    ASSERT_GT(child, 0);
    put(h, 1, "CODE", "C2");
    EXPECT_EQ(xio_rd_record(h, 1, 0, 1), XIO_LOCKED);
    EXPECT_EQ(xio_rep_record(h, 1), XIO_LOCKED);
    put(h, 1, "CODE", "C1");
    EXPECT_EQ(xio_rd_record(h, 1, 0, 1), XIO_OK);
    kill_and_reap(child);

    // Ours, as the other program finds it.
    put(h, 1, "CODE", "C2");
    ASSERT_EQ(xio_rd_record(h, 1, 0, 1), XIO_OK);
    expect_held_until_unlocked(h, lockFile, row);
}

// A program writing a file that no other program has open keeps its record locks to itself
// (nobody can open the file meanwhile), and gives them to the kernel before its writes end;
// with another program there, every lock is the kernel's at once.
TEST_F(Durability, RecordLocksOfAProgramAloneReachOthersBeforeTheyCanLook) {
    uint16_t h = open();
    ASSERT_EQ(addCustomer(h, "C1", "A1"), XIO_OK);
    const int64_t row = xio_current_row(h, 1);
    const auto lockFile = xio::lock_file_path(dir / "MASTER.TST");
    pid_t child = spawn_holder([&] {
        uint16_t ch = 0;
        return xio_open_file(dir / "MASTER.TST", 1, ch) == XIO_OK;
    });
    ASSERT_GT(child, 0);
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    put(h, 1, "CODE", "C1");
    ASSERT_EQ(xio_rd_record(h, 1, 0, 1), XIO_OK);
    EXPECT_TRUE(other_sees_locked(lockFile, record_byte(1, row)));
    ASSERT_EQ(xio_unlock_record(h, 1), XIO_OK);
    ASSERT_EQ(xio_end_writes(h), XIO_OK);
    kill_and_reap(child);

    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    ASSERT_EQ(xio_rd_record(h, 1, 0, 1), XIO_OK);
    const pid_t opener = fork();
    if (opener == 0) {
        uint16_t oh = 0;
        _exit(xio_open_file(dir / "MASTER.TST", 1, oh) == XIO_LOCKED ? 0 : 1);
    }
    int status = -1;
    waitpid(opener, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(xio_end_writes(h), XIO_OK);
    expect_held_until_unlocked(h, lockFile, row);
}

// A program that shows no presence (an older one) but holds a record lock still has the file
// open: a writer that takes the writer lock then is not alone, and meets that record lock.
TEST_F(Durability, ARecordLockOfAProgramThatShowsNoPresenceKeepsAWriterFromBeingAlone) {
    uint16_t h = open();
    ASSERT_EQ(addCustomer(h, "C1", "A1"), XIO_OK);
    const int64_t row = xio_current_row(h, 1);
    const auto lockFile = xio::lock_file_path(dir / "MASTER.TST");
    pid_t child = hold_record_byte_elsewhere(lockFile, row);
    ASSERT_GT(child, 0);
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    put(h, 1, "CODE", "C1");
    EXPECT_EQ(xio_rd_record(h, 1, 0, 1), XIO_LOCKED);
    EXPECT_EQ(xio_rep_record(h, 1), XIO_LOCKED);
    ASSERT_EQ(xio_end_writes(h), XIO_OK);
    kill_and_reap(child);
}

TEST_F(Durability, FileBeingConvertedByAnotherProcessIsInUse) {
    const uint16_t early = open();
    pid_t child = spawn_holder([&] {
        uint16_t ch = 0;
        return xio_open_file(dir / "MASTER.TST", 1, ch) == XIO_OK && xio_start_writes(ch) == XIO_OK;
    });
    ASSERT_GT(child, 0);
    // Opened before the other began: its writes are refused, saying who holds the file.
    EXPECT_EQ(xio_start_writes(early), XIO_LOCKED);
    EXPECT_THAT(xio_error_text(), ::testing::HasSubstr("in use by another program (process " + std::to_string(child) + " of user "));
    uint16_t h = 0;
    EXPECT_EQ(xio_open_file(dir / "MASTER.TST", 1, h), XIO_LOCKED);
    xio_ask_request req;
    req.abbr = "TST";
    req.fileNo = 1;
    EXPECT_EQ(xio_ask_file(req, h), XIO_LOCKED);
    kill_and_reap(child);
    ASSERT_EQ(xio_ask_file(req, h), XIO_OK);
    opened.push_back(h);
    EXPECT_EQ(xio_start_writes(h), XIO_OK);
}

// Name, size and time of every entry of a folder.
std::string listing(const std::filesystem::path& folder) {
    std::set<std::string> lines;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        std::string line = e.path().filename().string();
        if (e.is_regular_file())
            line += " " + std::to_string(e.file_size()) + " " +
                    std::to_string(e.last_write_time().time_since_epoch().count());
        lines.insert(line);
    }
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
}

TEST_F(Durability, ExaminingLeavesTheFolderAsItWas) {
    uint16_t h = open();
    ASSERT_EQ(addCustomer(h, "C1", "A1"), XIO_OK);
    ASSERT_EQ(addCustomer(h, "C2", "A2"), XIO_OK);
    close(h);
    const auto lockFile = xio::lock_file_path(dir / "MASTER.TST");
    EXPECT_EQ(lockFile.parent_path(), dir) << "the lock file lies beside its data file";
    std::filesystem::remove(lockFile);  // as a company copied without its hidden files
    const std::string before = listing(dir);
    ASSERT_NE(before.find("MASTER.TST"), std::string::npos);

    // What Examine Files does: every file opened read-only, writes started, reads by key and in
    // walks, locks taken and dropped, then the batch dropped and the file closed.
    std::optional<xio_read_only_scope> look(std::in_place);
    h = open(false);
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    put(h, 1, "CODE", "C2");
    EXPECT_EQ(xio_find_record(h, 1, 0), XIO_OK);
    EXPECT_EQ(xio_rd_record(h, 1, 0, 1), XIO_OK);
    EXPECT_GT(xio_get_relative_position(h, 1, 0, 0), 0);
    EXPECT_EQ(xio_unlock_record(h, 1, 1), XIO_OK);
    EXPECT_EQ(walk(h, 0), "C1,C2");
    EXPECT_EQ(xio_rd_header(h, 1, 1), XIO_OK);
    EXPECT_EQ(xio_free_header(h, 1), XIO_OK);
    EXPECT_EQ(xio_rd_notes(h, 1, 1), XIO_OK);
    EXPECT_EQ(xio_rollback(h), XIO_OK);
    EXPECT_EQ(xio_end_writes(h), XIO_OK);
    close(h);
    EXPECT_EQ(listing(dir), before);
    // A writer makes the lock file again.
    look.reset();
    close(open(false));
    EXPECT_TRUE(std::filesystem::is_regular_file(lockFile));
}

TEST_F(Durability, ProgramsReachingAFileByOtherPathsMeetOnItsLocks) {
    close(open());
    std::filesystem::create_directory(dir / "sub");
    std::filesystem::create_directory_symlink(dir, dir / "sub" / "alias");
    const auto other = dir / "sub" / "alias" / "sub" / ".." / "MASTER.TST";
    EXPECT_EQ(xio::lock_file_path(other), xio::lock_file_path(dir / "MASTER.TST"));
    pid_t child = spawn_holder([&] {
        uint16_t ch = 0;
        if (xio_open_file(dir / "sub" / "alias" / "MASTER.TST", 1, ch) != XIO_OK) return false;
        return xio_rd_header(ch, 1, 1) == XIO_OK && xio_start_writes(ch) == XIO_OK;
    });
    ASSERT_GT(child, 0);
    uint16_t h = 0;
    EXPECT_EQ(xio_open_file(other, 1, h), XIO_LOCKED);  // in use by the other program
    kill_and_reap(child);
    ASSERT_EQ(xio_open_file(other, 1, h), XIO_OK);
    opened.push_back(h);
    EXPECT_EQ(xio_rd_header(h, 1, 1), XIO_OK);  // the dead program's lock is gone
    // Another data file has a lock file of its own.
    EXPECT_NE(xio::lock_file_path(dir / "MASTER.TSU"), xio::lock_file_path(dir / "MASTER.TST"));
}

TEST_F(Durability, ProcessKilledInTheMiddleOfABatchLeavesTheLastCommit) {
    open();
    pid_t child = spawn_holder([&] {
        uint16_t ch = 0;
        if (xio_open_file(dir / "MASTER.TST", 1, ch) != XIO_OK) return false;
        // A tiny page cache makes SQLite write pages of the open transaction into the file.
        sqlite3_exec(xio::connection(ch), "PRAGMA cache_size=5", nullptr, nullptr, nullptr);
        if (xio_start_writes(ch) != XIO_OK) return false;
        auto add = [&](int i) {
            xio_init_record(ch, 1);
            x_value_def v;
            v.text = "K" + std::to_string(100000 + i);
            xio_put_field(ch, 1, xio_num(ch, XIO_NUM_RECORD, 1, "CODE"), v);
            xio_put_field(ch, 1, xio_num(ch, XIO_NUM_RECORD, 1, "ALTKEY"), v);
            v.text = std::string(30, 'x');
            xio_put_field(ch, 1, xio_num(ch, XIO_NUM_RECORD, 1, "NAME"), v);
            return xio_wr_record(ch, 1) == XIO_OK;
        };
        for (int i = 0; i < 500; ++i)
            if (!add(i)) return false;
        if (xio_commit(ch) != XIO_OK) return false;
        for (int i = 500; i < 3000; ++i)
            if (!add(i)) return false;
        return true;  // killed before any commit of these
    });
    ASSERT_GT(child, 0);
    // The journal shows the uncommitted batch really reached the disk.
    EXPECT_TRUE(std::filesystem::exists(dir / "MASTER.TST-journal"));
    kill_and_reap(child);
    {
        // Only an open that may write puts the journal back: a look says why it cannot read.
        xio_read_only_scope readOnly;
        uint16_t ro = 0;
        // Nothing in it is damaged: it is held off, and the next writing command takes it back.
        EXPECT_EQ(xio_open_file(dir / "MASTER.TST", 1, ro), XIO_LOCKED);
        EXPECT_THAT(xio_error_text(), ::testing::HasSubstr("was left in the middle of a write"));
        EXPECT_THAT(xio_error_text(), ::testing::Not(::testing::HasSubstr("corrupt")));
        // This user's own writing command takes it back.
        EXPECT_EQ(xio_error_next_step(), (ui::NextStep{ui::Step::TakeBackWrite, {}}));
    }
    uint16_t h = 0;
    ASSERT_EQ(xio_open_file(dir / "MASTER.TST", 1, h), XIO_OK);
    opened.push_back(h);
    EXPECT_EQ(count_records(h, 1), 500);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(xio::connection(h), "PRAGMA integrity_check", -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok");
    sqlite3_finalize(st);
    // And it takes writes again.
    EXPECT_EQ(xio_start_writes(h), XIO_OK);
    EXPECT_EQ(addCustomer(h, "NEW", "NEW"), XIO_OK);
}

TEST_F(Durability, DamagedOrForeignFilesAnswerAStatus) {
    // Not a database at all.
    {
        std::ofstream out(dir / "MASTER.TST", std::ios::binary);
        for (int i = 0; i < 4096; ++i) out.put(static_cast<char>(i * 7));
    }
    uint16_t h = 0;
    EXPECT_EQ(xio_open_file(dir / "MASTER.TST", 1, h), XIO_CORRUPT);
    EXPECT_EQ(h, 0);
    xio_ask_request req;
    req.abbr = "TST";
    req.fileNo = 1;
    EXPECT_EQ(xio_ask_file(req, h), XIO_CORRUPT);
    // A database, but not one of ours.
    std::filesystem::remove(dir / "MASTER.TST");
    sqlite3* db = nullptr;
    sqlite3_open((dir / "MASTER.TST").c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(xio_open_file(dir / "MASTER.TST", 1, h), XIO_CORRUPT);
    // Ours, but cut short.
    std::filesystem::remove(dir / "MASTER.TST");
    h = open();
    for (int i = 0; i < 300; ++i) ASSERT_EQ(addCustomer(h, "K" + std::to_string(i), "A" + std::to_string(i)), XIO_OK);
    close(h);
    // Cut short while open: a walk over the whole file that SQLite stopped as corrupt leaves
    // nothing to commit on it, as a keyed walk does.
    h = open(false);
    std::filesystem::resize_file(dir / "MASTER.TST", 4096 * 3);
    EXPECT_NE(xio_rd_every(h, 1, [] { return true; }), XIO_END);
    EXPECT_THAT(xio_corrupt_met(h), ::testing::Not(::testing::IsEmpty()));
    close(h);
    std::filesystem::resize_file(dir / "MASTER.TST", 4096 * 3);
    int s = xio_open_file(dir / "MASTER.TST", 1, h);
    if (s == XIO_OK) {
        opened.push_back(h);
        int walk = XIO_OK;
        while (walk == XIO_OK) walk = xio_rd_next(h, 1, 0, 0);
        EXPECT_EQ(walk, XIO_CORRUPT);
    } else {
        EXPECT_EQ(s, XIO_CORRUPT);
    }
    // A file of another data file is not taken for this one.
    std::filesystem::remove(dir / "MASTER.TST");
    ASSERT_EQ(xio_create_file("TST", 6, dir / "MASTER.TST"), XIO_OK);
    EXPECT_EQ(xio_ask_file(req, h), XIO_OK);  // same abbreviation: fine
    opened.push_back(h);
}

TEST_F(Durability, NewerDictionaryIsRefusedAndOlderFilesAreBroughtUpToDate) {
    uint16_t h = open();
    ASSERT_EQ(addCustomer(h, "C1", "A1", "Kept"), XIO_OK);
    close(h);
    // Version 2 of the dictionary adds a field to record 1.
    auto v2 = make_temp_dir();
    {
        std::ifstream in(std::filesystem::path(DZ_TEST_DATA_DIR) / "datafile" / "dictionary" / "tst.toml");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        text.replace(text.find("version = 1"), 11, "version = 2");
        const std::string anchor = "  { name = \"MEMO\"";
        text.insert(text.find(anchor), "  { name = \"EXTRA\", type = 0, length = 5, default = \"dflt\" },\n");
        std::ofstream(v2 / "tst.toml") << text;
    }
    std::string err;
    ASSERT_TRUE(xio_load_dictionaries(v2, err)) << err;
    h = open(false);
    ASSERT_NE(h, 0);
    put(h, 1, "CODE", "C1");
    ASSERT_EQ(xio_rd_record(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "NAME"), "Kept");
    EXPECT_EQ(get(h, 1, "EXTRA"), "dflt");
    close(h);
    // Back to version 1: the file is now newer than the dictionary.
    ASSERT_TRUE(xio_load_dictionaries(std::filesystem::path(DZ_TEST_DATA_DIR) / "datafile" / "dictionary", err));
    uint16_t h2 = 0;
    EXPECT_EQ(xio_open_file(dir / "MASTER.TST", 1, h2), XIO_CORRUPT);
    EXPECT_NE(xio_error_text().find("is either an old version or corrupt"), std::string::npos);
    std::filesystem::remove_all(v2);
}

TEST_F(Durability, DiskFullAnswersFiveAndKeepsWhatWasWritten) {
    uint16_t h = open();
    ASSERT_EQ(xio::set_max_pages(h, 8), XIO_OK);
    int s = XIO_OK, written = 0;
    std::string memo(150, 'm');
    while (s == XIO_OK && written < 10000) {
        xio_init_record(h, 1);
        put(h, 1, "CODE", "K" + std::to_string(written));
        put(h, 1, "ALTKEY", "A" + std::to_string(written));
        x_value_def v;
        v.text = memo.substr(0, 80);
        v.longText = memo;
        xio_put_field(h, 1, fld(h, 1, "MEMO"), v);
        s = xio_wr_record(h, 1);
        if (s == XIO_OK) ++written;
    }
    EXPECT_EQ(s, XIO_DISK_FULL);
    EXPECT_GT(written, 0);
    EXPECT_EQ(count_records(h, 1), written);
    // Same inside a transaction: the batch so far is still there to commit or roll back.
    ASSERT_EQ(xio::set_max_pages(h, 1000000), XIO_OK);
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    ASSERT_EQ(addCustomer(h, "Z1", "Z1"), XIO_OK);
    ASSERT_EQ(xio_commit(h), XIO_OK);
    EXPECT_EQ(count_records(h, 1), written + 1);
}

}  // namespace
}  // namespace dz::test
