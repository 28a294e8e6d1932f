// Shared helpers of the data-file tests: a fresh folder per test, the test dictionary, and
// short ways to put and get fields by name.
#pragma once

#include "platform/datafile/journal_guard.h"
#include "platform/datafile/locks.h"
#include "platform/datafile/own_journal.h"
#include "platform/datafile/xio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <tuple>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dz::test {

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

inline void kill_and_reap(pid_t pid) {
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

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

}  // namespace dz::test
