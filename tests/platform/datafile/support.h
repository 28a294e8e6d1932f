// Shared helpers of the data-file tests: a fresh folder per test, the test dictionary, and
// short ways to put and get fields by name.
#pragma once

#include "platform/datafile/journal_guard.h"
#include "platform/datafile/lock_file.h"
#include "platform/datafile/locks.h"
#include "platform/datafile/own_journal.h"
#include "platform/datafile/xio.h"
#include "immutable.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <tuple>
#include <filesystem>
#include <string>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace dz::test {

// The whole of a file, as bytes; "" when it cannot be read.
inline std::string bytes_of(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
// Runs `sql` on `file` through SQLite's own file layer, as its shell would; "" when it ran, else
// its words. `rows` gets what it answered, one line a row.
inline std::string run_stock(const std::filesystem::path& file, const std::string& sql, std::string* rows = nullptr) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, "unix");
    char* err = nullptr;
    auto row = [](void* out, int n, char** values, char**) {
        for (int i = 0; i < n; ++i) *static_cast<std::string*>(out) += std::string(values[i] ? values[i] : "") + "\n";
        return 0;
    };
    std::string answered;
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, sql.c_str(), row, &answered, &err);
    const std::string why = rc == SQLITE_OK ? "" : err ? err : sqlite3_errstr(rc);
    sqlite3_free(err);
    sqlite3_close(db);
    if (rows) *rows = answered;
    return why;
}

// Runs `body` in a child process (as user `uid` when given, which needs root) that reports
// readiness through a pipe and then waits to be killed. Answers the child's pid once it is
// ready (or -1).
template <class Body>
pid_t spawn_holder(Body body, uid_t uid = static_cast<uid_t>(-1)) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const bool became = uid == static_cast<uid_t>(-1) || (::setgid(uid) == 0 && ::setuid(uid) == 0);
        char ok = became && body() ? '1' : '0';
        (void)!::write(fds[1], &ok, 1);
        for (;;) ::pause();
    }
    ::close(fds[1]);
    char ok = 0;
    bool ready = ::read(fds[0], &ok, 1) == 1 && ok == '1';
    ::close(fds[0]);
    if (!ready) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return -1;
    }
    return pid;
}

// The same, but the holder lets go on its own `seconds` after it took hold (it ends): a program
// that waited for it, where it should have been refused or gone on at once, then has what it
// waited for, so that its test fails by what the program answers, never by how long it took.
template <class Body>
pid_t spawn_holder_for(unsigned seconds, Body body, uid_t uid = static_cast<uid_t>(-1)) {
    return spawn_holder([&] {
        const bool held = body();
        ::alarm(seconds);
        return held;
    }, uid);
}

// Leaves a data file in the middle of a commit, as a program killed there does: a child process
// runs `write`, which commits, and ends where SQLite is about to remove the commit's journal (the
// file holds the commit's pages, its journal stands beside it, hot). True when it ended there.
// The caller holds no connection of the file (a child may not use its parent's).
template <class Write>
bool stop_in_commit(Write write) {
    const pid_t child = ::fork();
    if (child == 0) {
        xio::set_journal_removal_hook_for_tests([](const std::string&) { ::_exit(0); });
        write();
        ::_exit(1);  // the commit never came to its journal's removal
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Writes `v` big-endian at `at` of `s`, as SQLite's file formats keep their numbers.
inline void put_be32(std::string& s, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (24 - 8 * i));
}

// A rollback journal of `file` as SQLite writes one (its documented file format): a header of
// `sector` bytes, a record of each page of `pages` as the file holds it now, and, when `super` is
// given, a super-journal record naming it. The header's record count, original page count and
// page size are the true ones unless given.
struct JournalSpec {
    std::vector<uint32_t> pages = {1};
    std::optional<uint32_t> count;
    std::optional<uint32_t> originalPages;
    std::optional<uint32_t> pageSize;
    uint32_t sector = 512;
    uint32_t nonce = 0x5eed1234;
    std::string super;
};
inline std::string journal_of(const std::filesystem::path& file, const JournalSpec& spec = {}) {
    const std::string db = bytes_of(file);
    auto be32 = [](uint32_t v) {
        std::string s(4, '\0');
        put_be32(s, 0, v);
        return s;
    };
    const std::string magic = "\xd9\xd5\x05\xf9\x20\xa1\x63\xd7";
    const uint32_t size = (static_cast<uint32_t>(static_cast<unsigned char>(db[16])) << 8) | static_cast<unsigned char>(db[17]);
    const uint32_t pageSize = size == 1 ? 65536 : size;
    std::string j = magic + be32(spec.count.value_or(static_cast<uint32_t>(spec.pages.size()))) + be32(spec.nonce) +
                    be32(spec.originalPages.value_or(static_cast<uint32_t>(db.size() / pageSize))) + be32(spec.sector) +
                    be32(spec.pageSize.value_or(pageSize));
    j.resize(spec.sector, '\0');
    for (uint32_t page : spec.pages) {
        const std::string data = db.substr(static_cast<std::size_t>(page - 1) * pageSize, pageSize);
        uint32_t sum = spec.nonce;
        for (int i = static_cast<int>(pageSize) - 200; i > 0; i -= 200) sum += static_cast<unsigned char>(data[static_cast<std::size_t>(i)]);
        j += be32(page) + data + be32(sum);
    }
    if (spec.super.empty()) return j;
    uint32_t nameSum = 0;
    for (unsigned char c : spec.super) nameSum += c;
    return j + be32(1073741824 / pageSize + 1) + spec.super + be32(static_cast<uint32_t>(spec.super.size())) +
           be32(nameSum) + magic;
}

// Gives `p` an access control list as the kernel keeps it: (tag, permission, id) entries in its
// order, set whole, as someone else would set it (false, with errno, where it is refused).
inline bool set_acl(const std::filesystem::path& p, const std::vector<std::array<uint32_t, 3>>& entries) {
    std::string raw = {2, 0, 0, 0};
    for (const auto& e : entries)
        for (auto [v, n] : {std::pair{e[0], 2}, {e[1], 2}, {e[2], 4}})
            for (int i = 0; i < n; ++i) raw += static_cast<char>(v >> (8 * i));
    return ::setxattr(p.c_str(), "system.posix_acl_access", raw.data(), raw.size(), 0) == 0;
}
constexpr uint32_t kUserObj = 1, kUser = 2, kGroupObj = 4, kGroup = 8, kMask = 0x10, kOther = 0x20, kAny = 0xffffffff;

inline void kill_and_reap(pid_t pid) {
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

// Takes an flock (`how`) on `path` in a process that then ends, the lock kept by a descriptor a
// process it started holds for `seconds`, or until the leader ends (then it ends, and the lock
// with it): /proc/locks shows
// the pid of a process that has ended. Answers the leader of their process group (which waits
// to be killed with it by kill_group_and_reap), or -1.
inline pid_t spawn_kept_lock(const std::string& path, int how, unsigned seconds, uid_t uid = static_cast<uid_t>(-1)) {
    return spawn_holder([&] {
        // Ends with the test, even one that stops before it kills the group.
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() == 1 || ::setpgid(0, 0) != 0) return false;
        const pid_t taker = ::fork();
        if (taker == 0) {
            const int fd = ::open(path.c_str(), O_RDONLY);
            if (fd < 0 || ::flock(fd, how) != 0) ::_exit(1);
            if (::fork() == 0) {
                // Keeps no stream of the test's open, and ends with its group's leader.
                const int null = ::open("/dev/null", O_RDWR);
                for (int stream = 0; stream < 3; ++stream) ::dup2(null, stream);
                const pid_t leader = ::getpgrp();
                for (unsigned i = 0; i < seconds * 100 && (::kill(leader, 0) == 0 || errno != ESRCH); ++i) ::usleep(10000);
                ::_exit(0);
            }
            ::_exit(0);
        }
        int status = 0;
        return ::waitpid(taker, &status, 0) == taker && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }, uid);
}
// Ends the group and waits (a few seconds at most) until no lock on `path` is shown any more:
// the kept descriptor's process ends after the leader is reaped.
inline void kill_group_and_reap(pid_t leader, const std::string& path) {
    ::kill(-leader, SIGKILL);
    int status = 0;
    ::waitpid(leader, &status, 0);
    struct stat st {};
    for (int i = 0; i < 500 && ::stat(path.c_str(), &st) == 0 && !xio::lock_holders(st.st_dev, st.st_ino).empty(); ++i)
        ::usleep(10000);
}

using testing_support::SetImmutable;

inline std::filesystem::path make_temp_dir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "dz-datafile-XXXXXX").string();
    char* made = mkdtemp(tmpl.data());
    EXPECT_NE(made, nullptr);
    return tmpl;
}

class DataFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = make_temp_dir();
        std::string err;
        ASSERT_TRUE(xio_load_dictionaries(std::filesystem::path(DZ_TEST_DATA_DIR) / "datafile" / "dictionary", err)) << err;
        xio_set_file_control([d = dir](const std::string&) { return d; });
    }
    void TearDown() override {
        for (uint16_t h : opened) xio_cls_file(h);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);  // the lock files of its data files with it
    }

    // Creates (when needed) and opens MASTER.TST.
    uint16_t open(bool create = true) {
        uint16_t h = 0;
        xio_ask_request req;
        req.abbr = "TST";
        req.fileNo = 1;
        req.create = create;
        EXPECT_EQ(xio_ask_file(req, h), XIO_OK) << xio_error_text();
        if (h) opened.push_back(h);
        return h;
    }
    void close(uint16_t h) {
        xio_cls_file(h);
        std::erase(opened, h);
    }

    uint16_t fld(uint16_t h, uint16_t rec, const char* name) {
        uint16_t n = xio_num(h, XIO_NUM_RECORD, rec, name);
        EXPECT_NE(n, 0) << name;
        return n;
    }
    void put(uint16_t h, uint16_t rec, const char* name, const std::string& text) {
        x_value_def v;
        v.text = text;
        ASSERT_EQ(xio_put_field(h, rec, fld(h, rec, name), v), XIO_OK);
    }
    void putNum(uint16_t h, uint16_t rec, const char* name, double n) {
        x_value_def v;
        v.number = n;
        ASSERT_EQ(xio_put_field(h, rec, fld(h, rec, name), v), XIO_OK);
    }
    std::string get(uint16_t h, uint16_t rec, const char* name) {
        x_value_def v;
        EXPECT_EQ(xio_get_field(h, rec, fld(h, rec, name), v), XIO_OK);
        return v.text;
    }
    double getNum(uint16_t h, uint16_t rec, const char* name) {
        x_value_def v;
        EXPECT_EQ(xio_get_field(h, rec, fld(h, rec, name), v), XIO_OK);
        return v.number;
    }
    // Adds a customer; answers the write status.
    int addCustomer(uint16_t h, const std::string& code, const std::string& alt, const std::string& name = "",
                    uint16_t* dup = nullptr) {
        xio_init_record(h, 1);
        put(h, 1, "CODE", code);
        put(h, 1, "ALTKEY", alt);
        if (!name.empty()) put(h, 1, "NAME", name);
        return xio_wr_record(h, 1, dup);
    }
    // Codes of record 1 walked with rd_first/rd_next on a key.
    std::string walk(uint16_t h, uint16_t key, const char* field = "CODE") {
        std::string out;
        for (int s = xio_rd_first(h, 1, key, 0); s == XIO_OK; s = xio_rd_next(h, 1, key, 0))
            out += (out.empty() ? "" : ",") + get(h, 1, field);
        return out;
    }

    std::filesystem::path dir;
    std::vector<uint16_t> opened;
};

// A test of MASTER.TST and its journal.
class TstFileTest : public DataFileTest {
public:
    std::filesystem::path file() const { return dir / "MASTER.TST"; }
    std::filesystem::path journal() const { return dir / "MASTER.TST-journal"; }

    // MASTER.TST with two customers, no connection of it left open.
    void made() {
        const uint16_t h = open();
        ASSERT_EQ(addCustomer(h, "C1", "A1"), XIO_OK);
        ASSERT_EQ(addCustomer(h, "C2", "A2"), XIO_OK);
        close(h);
    }
};

}  // namespace dz::test
