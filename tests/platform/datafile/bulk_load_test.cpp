// Many records added to an empty record type in one transaction: the indexes are set aside
// during the load and made again before anything else uses them, and the file stays safe.
#include "support.h"

#include "platform/datafile/store.h"

#include <gmock/gmock.h>
#include <sqlite3.h>

#include <cmath>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace dz::test {
namespace {

using BulkLoad = DataFileTest;
using ::testing::ElementsAreArray;

constexpr int kLoad = 5000;  // well past the rows after which indexes are set aside
constexpr int kBulkRows = 4096;  // the rows after which they are

std::string code(int n) { return "C" + std::to_string(n); }
std::string alt(int n) { return "A" + std::to_string(n); }

// The indexes of the customer table as the file's schema holds them: name and statement.
std::vector<std::string> customer_indexes(sqlite3* db) {
    std::vector<std::string> out;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT name || ': ' || sql FROM sqlite_master WHERE type='index' AND tbl_name='r1' "
                           "AND sql IS NOT NULL ORDER BY name", -1, &st, nullptr);
    while (st && sqlite3_step(st) == SQLITE_ROW) out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    return out;
}

std::vector<std::string> customer_indexes(const std::filesystem::path& file) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    auto out = customer_indexes(db);
    sqlite3_close(db);
    return out;
}

class BulkLoadTest : public BulkLoad {
protected:
    // Adds customers from..to-1 (reference R<n> on every tenth, tags left blank).
    void load(uint16_t h, int from, int to) {
        for (int n = from; n < to; ++n) {
            xio_init_record(h, 1);
            put(h, 1, "CODE", code(n));
            put(h, 1, "ALTKEY", alt(n));
            if (n % 10 == 0) put(h, 1, "REF", "R" + std::to_string(n));
            ASSERT_EQ(xio_wr_record(h, 1), XIO_OK) << n;
        }
    }
    // Lets the file grow by `pages` pages at most (a disk nearly full).
    int leave_room(uint16_t h, int pages) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(xio::connection(h), "PRAGMA page_count", -1, &st, nullptr);
        const int now = st && sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
        sqlite3_finalize(st);
        return now < 0 ? XIO_BAD_CALL : xio::set_max_pages(h, now + pages);
    }
    int add(uint16_t h, const std::string& c, const std::string& a, const std::string& ref, uint16_t* dup) {
        xio_init_record(h, 1);
        put(h, 1, "CODE", c);
        put(h, 1, "ALTKEY", a);
        put(h, 1, "REF", ref);
        return xio_wr_record(h, 1, dup);
    }
};

TEST_F(BulkLoadTest, DuplicatesAreRefusedByEveryUniqueKeyDuringALoad) {
    uint16_t h = open();
    const std::vector<std::string> before = customer_indexes(xio::connection(h));
    struct Case {
        std::string code, alt, ref;
        uint16_t key;
    } cases[] = {{"c17", "X1", "", 0}, {"X2", "a17", "", 1}, {"X3", "X3", "r170", 3}};
    for (const Case& c : cases) {
        ASSERT_EQ(xio_start_writes(h), XIO_OK);
        load(h, 0, kLoad);
        // The load runs without its indexes, so the hashes alone refuse the duplicate.
        ASSERT_LT(customer_indexes(xio::connection(h)).size(), before.size());
        uint16_t dup = 99;
        EXPECT_EQ(add(h, c.code, c.alt, c.ref, &dup), XIO_DUPLICATE) << c.code;
        EXPECT_EQ(dup, c.key) << c.code;
        // Blank references are never duplicates; the load goes on.
        EXPECT_EQ(add(h, "N" + c.code, "N" + c.alt, "", nullptr), XIO_OK);
        load(h, kLoad, kLoad + 10);
        EXPECT_EQ(xio_record_count(h, 1), kLoad + 11);
        ASSERT_EQ(xio_rollback(h), XIO_OK);
        ASSERT_EQ(xio_end_writes(h), XIO_OK);
    }
}

// Keys arriving in ascending order are taken as new without a look-up; a key that repeats one
// held (in any letter case), or falls between them, is still checked against every key held.
TEST_F(BulkLoadTest, KeysInAscendingOrderAreStillCheckedAgainstEveryKeyHeld) {
    uint16_t h = open();
    auto padded = [](const char* prefix, int n) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%s%05d", prefix, n);
        return std::string(buf);
    };
    auto loadInOrder = [&](int from, int to) {
        for (int n = from; n < to; ++n)
            ASSERT_EQ(add(h, padded("K", n), padded("Q", n), n % 10 == 0 ? padded("R", n) : "", nullptr), XIO_OK) << n;
    };
    struct Case {
        std::string code, alt, ref;
        uint16_t key;
    } cases[] = {{"k00000", "X1", "", 0},     {"k04999", "X2", "", 0},  {"X3", "q02500", "", 1},
                 {"X4", "Q04999", "", 1},     {"X5", "X5", "r00010", 3}, {"K00017", "Q99999", "", 0}};
    for (const Case& c : cases) {
        ASSERT_EQ(xio_start_writes(h), XIO_OK);
        loadInOrder(0, kLoad);
        uint16_t dup = 99;
        EXPECT_EQ(add(h, c.code, c.alt, c.ref, &dup), XIO_DUPLICATE) << c.code;
        EXPECT_EQ(dup, c.key) << c.code;
        ASSERT_EQ(xio_rollback(h), XIO_OK);
        ASSERT_EQ(xio_end_writes(h), XIO_OK);
    }
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    loadInOrder(0, kLoad);
    // A key between those held, a key above them, a shorter one and a longer one go in.
    EXPECT_EQ(add(h, "K00017A", "Q00017A", "", nullptr), XIO_OK);
    EXPECT_EQ(add(h, "K9", "Q9", "", nullptr), XIO_OK);
    EXPECT_EQ(add(h, "K", "Q", "", nullptr), XIO_OK);
    EXPECT_EQ(add(h, "K99999", "Q99999", "", nullptr), XIO_OK);
    loadInOrder(kLoad, kLoad + 10);  // below the keys held: looked up
    for (const std::string& k : std::vector<std::string>{"k00017a", "K9", "k", padded("K", 0), padded("K", kLoad + 9)}) {
        xio_init_record(h, 1);
        put(h, 1, "CODE", k);
        EXPECT_EQ(xio_find_record(h, 1, 0), XIO_OK) << k;
    }
    for (const std::string k : {"K00017B", "K99998", "K999999"}) {
        xio_init_record(h, 1);
        put(h, 1, "CODE", k);
        EXPECT_EQ(xio_find_record(h, 1, 0), XIO_NOT_FOUND) << k;
    }
    uint16_t dup = 99;
    EXPECT_EQ(add(h, "k9", "X6", "", &dup), XIO_DUPLICATE);
    EXPECT_EQ(dup, 0);
    ASSERT_EQ(xio_end_writes(h), XIO_OK);
    EXPECT_EQ(xio_record_count(h, 1), kLoad + 14);
}

TEST_F(BulkLoadTest, ReadsDuringALoadSeeEveryRow) {
    uint16_t h = open();
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    load(h, 0, kLoad);
    xio_init_record(h, 1);
    put(h, 1, "CODE", "c4321");
    EXPECT_EQ(xio_find_record(h, 1, 0), XIO_OK);
    put(h, 1, "CODE", "C99999");
    EXPECT_EQ(xio_find_record(h, 1, 0), XIO_NOT_FOUND);
    put(h, 1, "ALTKEY", "A4999");
    EXPECT_EQ(xio_rd_record(h, 1, 1, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "CODE"), "C4999");
    load(h, kLoad, kLoad + 100);  // after the reads, through the indexes
    EXPECT_EQ(xio_record_count(h, 1), kLoad + 100);
    xio_init_record(h, 1);
    put(h, 1, "ALTKEY", "A5050");
    EXPECT_EQ(xio_rd_record(h, 1, 1, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "CODE"), "C5050");
    xio_init_record(h, 1);
    put(h, 1, "REF", "R4985");
    EXPECT_EQ(xio_rd_ge(h, 1, 3, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "CODE"), "C4990");
    ASSERT_EQ(xio_end_writes(h), XIO_OK);
}

// Records added by the load are found and read by their primary key while the indexes stay set
// aside (a group looked up before each of its members), keys compared without letter case.
TEST_F(BulkLoadTest, PrimaryKeyReadsDuringALoadLeaveItGoing) {
    uint16_t h = open();
    const std::size_t indexes = customer_indexes(xio::connection(h)).size();
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    load(h, 0, kLoad);
    for (int n : {0, 10, 4321, kLoad - 1}) {
        xio_init_record(h, 1);
        put(h, 1, "CODE", "c" + std::to_string(n));
        EXPECT_EQ(xio_find_record(h, 1, 0), XIO_OK) << n;
        EXPECT_EQ(xio_rd_record(h, 1, 0, 1), XIO_OK) << n;
        EXPECT_EQ(get(h, 1, "CODE"), code(n));
        EXPECT_EQ(get(h, 1, "ALTKEY"), alt(n));
        EXPECT_EQ(get(h, 1, "REF"), n % 10 == 0 ? "R" + std::to_string(n) : "");
    }
    xio_init_record(h, 1);
    put(h, 1, "CODE", code(7) + "X");
    EXPECT_EQ(xio_rd_record(h, 1, 0, 0), XIO_NOT_FOUND);
    EXPECT_EQ(get(h, 1, "CODE"), code(7) + "X") << "a failed read leaves the buffer";
    EXPECT_LT(customer_indexes(xio::connection(h)).size(), indexes) << "the load goes on";
    load(h, kLoad, kLoad + 10);
    EXPECT_EQ(xio_rd_first(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "CODE"), code(0));
    ASSERT_EQ(xio_end_writes(h), XIO_OK);
    EXPECT_EQ(customer_indexes(xio::connection(h)).size(), indexes);
    EXPECT_EQ(xio_record_count(h, 1), kLoad + 10);
}

// Rows added before the first primary-key read and after it are found alike, the load going on.
TEST_F(BulkLoadTest, PrimaryKeyReadsFindRowsAddedBeforeAndAfterTheFirst) {
    uint16_t h = open();
    const std::size_t indexes = customer_indexes(xio::connection(h)).size();
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    load(h, 0, kLoad);
    xio_init_record(h, 1);
    put(h, 1, "CODE", code(kLoad + 1));
    EXPECT_EQ(xio_find_record(h, 1, 0), XIO_NOT_FOUND);
    put(h, 1, "CODE", code(17));
    EXPECT_EQ(xio_find_record(h, 1, 0), XIO_OK);
    load(h, kLoad, 2 * kLoad);
    for (int n : {3, kLoad - 1, kLoad, kLoad + 1, 2 * kLoad - 1}) {
        xio_init_record(h, 1);
        put(h, 1, "CODE", code(n));
        ASSERT_EQ(xio_rd_record(h, 1, 0, 0), XIO_OK) << n;
        EXPECT_EQ(get(h, 1, "ALTKEY"), alt(n));
    }
    EXPECT_LT(customer_indexes(xio::connection(h)).size(), indexes) << "the load goes on";
    ASSERT_EQ(xio_end_writes(h), XIO_OK);
    EXPECT_EQ(xio_record_count(h, 1), 2 * kLoad);
}

// A read of chosen fields that finds its record among the load's rows gives the same buffer as
// one that finds it through the indexes: the chosen and key fields, the others at their defaults.
TEST_F(BulkLoadTest, AChosenFieldsReadDuringALoadSetsTheOthersBack) {
    uint16_t h = open();
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    load(h, 0, kLoad);
    xio_init_record(h, 1);
    put(h, 1, "CODE", "X1"), put(h, 1, "ALTKEY", "AX1"), put(h, 1, "NAME", "Named"), put(h, 1, "TAG", "T1");
    ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);
    ASSERT_EQ(xio_read_fields(h, 1, {fld(h, 1, "TAG")}), XIO_OK);
    xio_init_record(h, 1);
    put(h, 1, "MEMO", "stale");
    put(h, 1, "CODE", "X1");
    ASSERT_EQ(xio_rd_record(h, 1, 0, 1), XIO_OK);
    EXPECT_EQ(get(h, 1, "TAG"), "T1");
    EXPECT_EQ(get(h, 1, "ALTKEY"), "AX1");
    EXPECT_EQ(get(h, 1, "NAME"), "NEW");
    EXPECT_EQ(get(h, 1, "MEMO"), "");
    put(h, 1, "TAG", "T2");
    ASSERT_EQ(xio_rep_record(h, 1), XIO_OK);
    ASSERT_EQ(xio_read_fields(h, 1, {}), XIO_OK);
    ASSERT_EQ(xio_end_writes(h), XIO_OK);
    xio_init_record(h, 1);
    put(h, 1, "CODE", "X1");
    ASSERT_EQ(xio_rd_record(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "TAG"), "T2");
    EXPECT_EQ(get(h, 1, "NAME"), "Named");  // not read, so kept as stored
}

TEST_F(BulkLoadTest, AReplaceOrADeleteRightAfterALoadKeepsKeysUnique) {
    uint16_t h = open();
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    load(h, 0, kLoad);
    // The record just written is the current one: replaced onto another's key, it is refused.
    put(h, 1, "ALTKEY", "a7");
    uint16_t dup = 99;
    EXPECT_EQ(xio_rep_record(h, 1, &dup), XIO_DUPLICATE);
    EXPECT_EQ(dup, 1);
    load(h, kLoad, kLoad + 1);
    ASSERT_EQ(xio_del_record(h, 1), XIO_OK);
    EXPECT_EQ(addCustomer(h, code(kLoad), alt(kLoad)), XIO_OK);  // its keys are free again
    EXPECT_EQ(addCustomer(h, code(kLoad), "NEW"), XIO_DUPLICATE);
    ASSERT_EQ(xio_end_writes(h), XIO_OK);
    EXPECT_EQ(xio_record_count(h, 1), kLoad + 1);
}

// Past the rows after which the indexes are set aside, keys that are equal without being the
// same bytes are still one key: a number key 0 and -0, and two keys left blank where the key
// keeps blanks (it is not one that blanks stay out of).
TEST_F(BulkLoadTest, KeysEqualInValueAreDuplicatesDuringALoad) {
    uint16_t h = open();
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    for (int n = 0; n < kLoad; ++n) {
        xio_init_record(h, 2);
        put(h, 2, "CCODE", code(n));
        putNum(h, 2, "SEQ", 1);
        ASSERT_EQ(xio_wr_record(h, 2), XIO_OK) << n;
    }
    for (const double seq : {0.0, -0.0}) {
        xio_init_record(h, 2);
        put(h, 2, "CCODE", "Z");
        putNum(h, 2, "SEQ", seq);
        EXPECT_EQ(xio_wr_record(h, 2), seq == 0.0 && !std::signbit(seq) ? XIO_OK : XIO_DUPLICATE);
    }
    load(h, 0, kLoad);
    uint16_t dup = 99;
    EXPECT_EQ(add(h, "B1", "", "", &dup), XIO_OK);
    EXPECT_EQ(add(h, "B2", "", "", &dup), XIO_DUPLICATE);
    EXPECT_EQ(dup, 1);
    ASSERT_EQ(xio_end_writes(h), XIO_OK);
    EXPECT_EQ(xio_record_count(h, 2), kLoad + 1);
}

TEST_F(BulkLoadTest, IndexesStandAfterCommitAndAfterRollbackOrAFullDisk) {
    const auto file = dir / "MASTER.TST";
    uint16_t h = open();
    const std::vector<std::string> before = customer_indexes(xio::connection(h));
    ASSERT_EQ(before.size(), 6u);

    // Rolled back: the file as before.
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    load(h, 0, kLoad);
    ASSERT_EQ(xio_rollback(h), XIO_OK);
    EXPECT_EQ(customer_indexes(xio::connection(h)), before);
    EXPECT_EQ(xio_record_count(h, 1), 0);

    // No room for the indexes: the commit fails as a full disk, and nothing is committed.
    load(h, 0, kLoad);
    ASSERT_EQ(leave_room(h, 2), XIO_OK);
    EXPECT_EQ(xio_commit(h), XIO_DISK_FULL);
    ASSERT_EQ(xio_rollback(h), XIO_OK);
    ASSERT_EQ(xio::set_max_pages(h, 1 << 30), XIO_OK);
    EXPECT_EQ(customer_indexes(file), before);
    EXPECT_EQ(xio_record_count(h, 1), 0);

    // Committed: every index made again, as the dictionary makes it, and in use.
    load(h, 0, kLoad);
    ASSERT_EQ(xio_end_writes(h), XIO_OK);
    close(h);
    EXPECT_EQ(customer_indexes(file), before);
    h = open();
    uint16_t dup = 0;
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    EXPECT_EQ(add(h, "X", "a42", "", &dup), XIO_DUPLICATE);
    EXPECT_EQ(dup, 1);
    EXPECT_EQ(xio_record_count(h, 1), kLoad);
}

// Keys out of order are looked up among the hashes held: keys that differ in one character, in
// letters past the eighth or only in length are told apart, and the load goes on to the commit.
TEST_F(BulkLoadTest, NearlyEqualKeysOutOfOrderAreToldApart) {
    uint16_t h = open();
    const std::size_t indexes = customer_indexes(xio::connection(h)).size();
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    int added = 0;
    for (int n = kLoad - 1; n >= 0; --n) {
        char padded[8];
        std::snprintf(padded, sizeof padded, "%04d", n);
        const std::string digits = std::to_string(n);
        for (const std::string& k : {digits, "PREFIX" + std::string(padded), std::string(n % 5 + 1, 'z') + digits}) {
            ASSERT_EQ(add(h, k, k.size() < 10 ? "Q" + k : "Q" + k.substr(1), "", nullptr), XIO_OK) << k;
            ++added;
        }
    }
    EXPECT_LT(customer_indexes(xio::connection(h)).size(), indexes) << "the load goes on";
    uint16_t dup = 99;
    EXPECT_EQ(add(h, "prefix0017", "X1", "", &dup), XIO_DUPLICATE);
    EXPECT_EQ(dup, 0);
    ASSERT_EQ(xio_end_writes(h), XIO_OK);
    EXPECT_EQ(xio_record_count(h, 1), added);
}

// The data files order NOCASE keys as SQLite itself does, so an index made at a commit is the one
// SQLite would make: letters without case (ASCII only, '_' before them), zero bytes ending
// the comparison, a text before the longer texts it begins.
TEST(NocaseOrder, ComparesAsSQLiteDoes) {
    auto sqlite_nocase = [](const std::string& a, const std::string& b) {
        const int n = static_cast<int>(std::min(a.size(), b.size()));
        const int r = sqlite3_strnicmp(a.c_str(), b.c_str(), n);
        return r != 0 ? r : static_cast<int>(a.size()) - static_cast<int>(b.size());
    };
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    // Letters and their neighbours, with and without the high bit.
    const std::string bytes("Aa_Zz[`{1\x80\xc9\xe9\0@\xc1\xda", 17);
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
    for (int n = 0; n < 20000; ++n) {
        std::string a;
        for (uint32_t len = next() % 20; a.size() < len;) a += bytes[next() % bytes.size()];
        std::string b = a;  // the same text, one byte changed, cut or lengthened: long common runs
        if (!b.empty() && next() % 4 != 0) b[next() % b.size()] = bytes[next() % bytes.size()];
        if (next() % 3 == 0) b.resize(next() % 21, bytes[next() % bytes.size()]);
        ASSERT_EQ(sign(xio::nocase_compare(a, b)), sign(sqlite_nocase(a, b))) << testing::PrintToString(a) << " "
                                                                             << testing::PrintToString(b);
    }
}

// Keys of mixed case and punctuation, loaded and committed: SQLite's own check of the file
// (with its own NOCASE) finds every index in order. Enough of them that each index's sort runs
// past the build's page cache, on the sorter's helper threads where the machine has them.
TEST_F(BulkLoadTest, IndexesMadeAtACommitPassSQLitesOwnCheck) {
    const auto file = dir / "MASTER.TST";
    uint16_t h = open();
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    const char* parts[] = {"a", "B", "_", "[", "z", "Y", "`", "{", "\xc3\xa9", "\xc3\x89", "10", "9"};
    int n = 0;
    for (const char* p : parts)
        for (const char* q : parts)
            for (int i = 0; i < 400; ++i, ++n)
                ASSERT_EQ(add(h, std::string(p) + q + std::to_string(i), alt(n), n % 7 == 0 ? "r" + std::string(q) + std::to_string(n) : "",
                              nullptr),
                          XIO_OK)
                    << n;
    ASSERT_EQ(xio_end_writes(h), XIO_OK);
    close(h);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))), "ok");
    sqlite3_finalize(st);
    sqlite3_close(db);
}

TEST_F(BulkLoadTest, AProcessKilledDuringALoadLeavesTheFileAsItWas) {
    const auto file = dir / "MASTER.TST";
    {
        uint16_t h = open();
        xio_init_record(h, 2);
        put(h, 2, "CCODE", "KEEP");
        ASSERT_EQ(xio_wr_record(h, 2), XIO_OK);
        close(h);
    }
    const std::vector<std::string> before = customer_indexes(file);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        ::close(fds[0]);
        uint16_t h = open();
        bool ok = xio_start_writes(h) == XIO_OK;
        for (int n = 0; ok && n < kLoad; ++n) ok = addCustomer(h, code(n), alt(n)) == XIO_OK;
        ok = ok && customer_indexes(xio::connection(h)).size() < before.size();
        const char c = ok ? '1' : '0';
        (void)!write(fds[1], &c, 1);
        for (;;) pause();
    }
    ::close(fds[1]);
    char c = 0;
    ASSERT_EQ(read(fds[0], &c, 1), 1);
    ::close(fds[0]);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(c, '1') << "the child did not get into a load";
    EXPECT_EQ(customer_indexes(file), before);
    uint16_t h = open();
    EXPECT_EQ(xio_record_count(h, 1), 0);
    EXPECT_EQ(xio_record_count(h, 2), 1);
    EXPECT_THAT(customer_indexes(xio::connection(h)), ElementsAreArray(before));
}


// The page cache of the connection, in KiB (negative) or pages.
int cache_size(sqlite3* db) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA cache_size", -1, &st, nullptr);
    const int size = st && sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : 0;
    sqlite3_finalize(st);
    return size;
}

TEST_F(BulkLoadTest, ALoadRunsInASmallPageCacheAndTheFullOneComesBack) {
    uint16_t h = open();
    sqlite3* db = xio::connection(h);
    const int full = cache_size(db);
    ASSERT_LT(full, -4096);

    // Until a rollback.
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    load(h, 0, kLoad);
    EXPECT_EQ(cache_size(db), -4096);
    ASSERT_EQ(xio_rollback(h), XIO_OK);
    EXPECT_EQ(cache_size(db), full);

    // Until the indexes are made for a count, and until a commit.
    for (bool count : {true, false}) {
        ASSERT_EQ(xio_start_writes(h), XIO_OK);
        load(h, 0, kLoad);
        EXPECT_EQ(cache_size(db), -4096);
        if (count) {
            EXPECT_EQ(xio_record_count(h, 1), kLoad);
            EXPECT_EQ(cache_size(db), full);
            ASSERT_EQ(xio_rollback(h), XIO_OK);
        } else {
            ASSERT_EQ(xio_commit(h), XIO_OK);
        }
        EXPECT_EQ(cache_size(db), full);
    }
    EXPECT_EQ(xio_record_count(h, 1), kLoad);
}

}  // namespace
}  // namespace dz::test

namespace dz::test {
namespace {

// The customers' rows as stored: rowid, code, alternate key and reference, in rowid order.
std::vector<std::string> stored_rows(uint16_t h) {
    std::vector<std::string> out;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(xio::connection(h), "SELECT rowid || ' ' || CODE || ' ' || ALTKEY || ' ' || REF FROM r1 "
                                           "ORDER BY rowid", -1, &st, nullptr);
    while (st && sqlite3_step(st) == SQLITE_ROW) out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    return out;
}

// Records added in groups are stored as one-by-one adds store them, into a table with rows
// (grouped) or an empty one (bulk loaded); a duplicate anywhere fails the call.
TEST_F(BulkLoadTest, RecordsAddedTogetherAreStoredAsAddedOneByOne) {
    auto make = [this](uint16_t h, int n) {
        xio_init_record(h, 1);
        put(h, 1, "CODE", code(n));
        put(h, 1, "ALTKEY", alt(n));
        if (n % 10 == 0) put(h, 1, "REF", "R" + std::to_string(n));
    };
    for (const int first : {0, 1}) {  // 0: the table starts empty
        const auto file = dir / "MASTER.TST";
        std::filesystem::remove(file);
        uint16_t h = open();
        if (first == 1) load(h, 0, 1);
        ASSERT_EQ(xio_start_writes(h), XIO_OK);
        ASSERT_EQ(xio_wr_records(h, 1, kLoad - first, [&](std::size_t i) { make(h, first + static_cast<int>(i)); }),
                  XIO_OK);
        ASSERT_EQ(xio_end_writes(h), XIO_OK);
        const std::vector<std::string> grouped = stored_rows(h);
        EXPECT_EQ(get(h, 1, "CODE"), code(kLoad - 1));  // the buffer holds the last record
        close(h);
        std::filesystem::remove(file);
        h = open();
        ASSERT_EQ(xio_start_writes(h), XIO_OK);
        load(h, 0, kLoad);
        ASSERT_EQ(xio_end_writes(h), XIO_OK);
        EXPECT_EQ(grouped, stored_rows(h)) << first;
        // A duplicate in the middle of a group: refused, and the transaction can be dropped.
        ASSERT_EQ(xio_start_writes(h), XIO_OK);
        EXPECT_EQ(xio_wr_records(h, 1, 200, [&](std::size_t i) { make(h, kLoad + static_cast<int>(i) % 150); }),
                  XIO_DUPLICATE);
        ASSERT_EQ(xio_rollback(h), XIO_OK);
        EXPECT_EQ(xio_record_count(h, 1), kLoad);
        close(h);
    }
}

// Everything a data file holds, row by row with rowids, its schema included: what `.dump` shows.
std::vector<std::string> file_rows(const std::filesystem::path& file) {
    std::vector<std::string> out;
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    for (const char* sql : {"SELECT type || name || ifnull(sql, '') FROM sqlite_master ORDER BY name",
                            "SELECT rowid || '|' || CODE || '|' || ALTKEY || '|' || REF || '|' || NAME FROM r1 ORDER BY rowid",
                            "SELECT rowid || '|' || CCODE FROM r2 ORDER BY rowid"}) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
        while (st && sqlite3_step(st) == SQLITE_ROW) out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return out;
}

// Far into a load, where the rows go to the connection's writer: duplicates, reads of another
// record type, a replace of the row just added, a rollback and a commit answer as they always did.
TEST_F(BulkLoadTest, ALongLoadAnswersAsRowByRow) {
    const auto file = dir / "MASTER.TST";
    uint16_t h = open();
    xio_init_record(h, 2);
    put(h, 2, "CCODE", "KEEP");
    ASSERT_EQ(xio_wr_record(h, 2), XIO_OK);
    const std::vector<std::string> before = file_rows(file);
    constexpr int kLong = 3 * kLoad;

    // Rolled back in the middle, the file is as it was (and nothing of these rows stays behind).
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    for (int n = 0; n < kLong; ++n) ASSERT_EQ(addCustomer(h, code(n), alt(n), "Gone"), XIO_OK);
    ASSERT_EQ(xio_rollback(h), XIO_OK);
    EXPECT_EQ(file_rows(file), before);
    EXPECT_EQ(xio_record_count(h, 1), 0);

    const int64_t changesBefore = xio_row_changes(h, 1, nullptr);
    load(h, 0, kLong);
    EXPECT_EQ(xio_row_changes(h, 1, nullptr) - changesBefore, kLong) << "rows handed to the writer count as added";
    EXPECT_EQ(xio_current_row(h, 1), kLong) << "the rowid the last row got";
    EXPECT_EQ(xio_record_count(h, 1), kLong);
    uint16_t dup = 99;
    EXPECT_EQ(add(h, code(kLong - 3), "X1", "", &dup), XIO_DUPLICATE);
    EXPECT_EQ(dup, 0);
    load(h, kLong, kLong + kLoad);  // a load again after the indexes were made
    // Another record type of the file, read and written in the middle of the load.
    xio_init_record(h, 2);
    put(h, 2, "CCODE", "KEEP");
    EXPECT_EQ(xio_rd_record(h, 2, 0, 0), XIO_OK);
    put(h, 2, "CCODE", "MID");
    ASSERT_EQ(xio_wr_record(h, 2), XIO_OK);
    EXPECT_EQ(xio_rd_first(h, 2, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 2, "CCODE"), "KEEP");
    EXPECT_EQ(xio_rd_next(h, 2, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 2, "CCODE"), "MID");
    load(h, kLong + kLoad, kLong + kLoad + 10);
    // The record just added is the one replaced, under the rowid it was given.
    put(h, 1, "NAME", "Renamed");
    ASSERT_EQ(xio_rep_record(h, 1), XIO_OK);
    EXPECT_EQ(xio_current_row(h, 1), kLong + kLoad + 10);
    EXPECT_EQ(xio_record_count(h, 1), kLong + kLoad + 10);
    ASSERT_EQ(xio_end_writes(h), XIO_OK);
    close(h);
    // Every row as added, under the rowid it was given: the schema, the customers, the codes.
    std::vector<std::string> expected(before.begin(), before.end() - 1);
    for (int n = 0; n < kLong + kLoad + 10; ++n)
        expected.push_back(std::to_string(n + 1) + "|" + code(n) + "|" + alt(n) + "|" +
                           (n % 10 == 0 ? "R" + std::to_string(n) : "") + (n + 1 < kLong + kLoad + 10 ? "|NEW" : "|Renamed"));
    expected.push_back(before.back());
    expected.push_back("2|MID");
    EXPECT_EQ(file_rows(file), expected);
}

// A walk whose every record adds many records of another type to the same file goes on.
TEST_F(BulkLoadTest, AWalkThatLoadsAnotherRecordTypeGoesOn) {
    uint16_t h = open();
    for (int n = 0; n < 3; ++n) ASSERT_EQ(addCustomer(h, code(n), alt(n)), XIO_OK);
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    int walked = 0, added = 0;
    EXPECT_EQ(xio_rd_every(h, 1, [&] {
                  ++walked;
                  for (int n = 0; n < kLoad; ++n, ++added) {
                      xio_init_record(h, 2);
                      put(h, 2, "CCODE", "K" + std::to_string(added));
                      if (xio_wr_record(h, 2) != XIO_OK) return false;
                  }
                  return true;
              }),
              XIO_END);
    EXPECT_EQ(walked, 3);
    ASSERT_EQ(xio_end_writes(h), XIO_OK);
    EXPECT_EQ(xio_record_count(h, 2), 3 * kLoad);
}

// An add that fails on the connection's writer (a full disk) is answered by a later call, the
// commit is refused, and the rollback leaves the file as it was.
TEST_F(BulkLoadTest, AnAddFailingOnTheWriterIsAnsweredAndNothingIsCommitted) {
    const auto file = dir / "MASTER.TST";
    uint16_t h = open();
    const std::vector<std::string> before = file_rows(file);
    for (const bool commitAtOnce : {false, true}) {
        ASSERT_EQ(xio_start_writes(h), XIO_OK);
        if (commitAtOnce) {
            // The last add fails, and the commit comes before anything else could tell.
            load(h, 0, 3 * kLoad);
            xio::fail_call(xio::FaultCall::QueuedRecord, 1, XIO_DISK_FULL);
            EXPECT_EQ(addCustomer(h, code(3 * kLoad), alt(3 * kLoad)), XIO_OK);
        } else {
            xio::fail_call(xio::FaultCall::QueuedRecord, 100, XIO_DISK_FULL);
            int failed = -1;
            for (int n = 0; n < 3 * kLoad && failed < 0; ++n)
                if (addCustomer(h, code(n), alt(n)) != XIO_OK) failed = n;
            EXPECT_GT(failed, kBulkRows + 100) << "a later add answers the failure";
        }
        EXPECT_TRUE(xio::faults_spent());
        EXPECT_EQ(xio_commit(h), XIO_DISK_FULL);
        EXPECT_THAT(xio_error_text(), ::testing::HasSubstr("MASTER.TST"));
        EXPECT_EQ(xio_commit(h), XIO_DISK_FULL) << "until the rollback";
        ASSERT_EQ(xio_rollback(h), XIO_OK);
        ASSERT_EQ(xio_end_writes(h), XIO_OK);
        EXPECT_EQ(file_rows(file), before);
        xio::clear_faults();
    }
    // The next load is whole again.
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    load(h, 0, 2 * kLoad);
    ASSERT_EQ(xio_end_writes(h), XIO_OK);
    EXPECT_EQ(xio_record_count(h, 1), 2 * kLoad);
}

// Index builds a commit starts beside the caller (so that several files' commits overlap) end
// as the commit's own would: dropped by a rollback, a full disk failing the commit, a write in
// between meeting every key, and the indexes standing after.
TEST_F(BulkLoadTest, IndexBuildsStartedBeforeTheCommitEndAsTheCommitsOwn) {
    const auto file = dir / "MASTER.TST";
    uint16_t h = open();
    const std::vector<std::string> before = customer_indexes(xio::connection(h));

    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    load(h, 0, kLoad);
    xio_start_commit(h);
    ASSERT_EQ(xio_rollback(h), XIO_OK);
    EXPECT_EQ(customer_indexes(xio::connection(h)), before);
    EXPECT_EQ(xio_record_count(h, 1), 0);

    load(h, 0, kLoad);
    ASSERT_EQ(leave_room(h, 2), XIO_OK);
    xio_start_commit(h);
    EXPECT_EQ(xio_commit(h), XIO_DISK_FULL);
    EXPECT_THAT(xio_error_text(), ::testing::HasSubstr("(making the indexes of r1)"));
    ASSERT_EQ(xio_rollback(h), XIO_OK);
    ASSERT_EQ(xio::set_max_pages(h, 1 << 30), XIO_OK);
    EXPECT_EQ(customer_indexes(file), before);

    load(h, 0, kLoad);
    xio_start_commit(h);
    uint16_t dup = 0;
    EXPECT_EQ(add(h, "X", alt(42), "", &dup), XIO_DUPLICATE);
    EXPECT_EQ(dup, 1);
    ASSERT_EQ(xio_end_writes(h), XIO_OK);
    close(h);
    EXPECT_EQ(customer_indexes(file), before);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM r1", -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), kLoad);
    sqlite3_finalize(st);
    sqlite3_close(db);
}

}  // namespace
}  // namespace dz::test
