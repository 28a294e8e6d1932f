// Data files from someone else: SQL hidden in a file's schema, triggers and views of the file,
// older files opened read-only, lock files planted by others, names SQLite could take for URIs.
#include "support.h"

#include <gmock/gmock.h>
#include <sqlite3.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dz::test {
namespace {

class Security : public DataFileTest {
protected:
    struct Written {
        int status = XIO_OK;
        std::string text;  // the error's words, when it was refused
        ui::NextStep next;
    };
    // A writer's open of MASTER.TST, one record and its commit (its handle rolled back and closed
    // after): how it ended.
    Written writeOne(const std::string& code) {
        uint16_t h = 0;
        xio_ask_request req;
        req.abbr = "TST";
        req.fileNo = 1;
        Written w;
        w.status = xio_ask_file(req, h);
        if (w.status == XIO_OK) w.status = xio_start_writes(h);
        if (w.status == XIO_OK) w.status = addCustomer(h, "C" + code, "A" + code);
        if (w.status == XIO_OK) w.status = xio_commit(h);
        w.text = xio_error_text();
        w.next = xio_error_next_step();
        if (h) {
            (void)xio_rollback(h);
            xio_cls_file(h);
        }
        return w;
    }
};

// Runs statements on a closed data file with SQLite itself, as someone crafting it would.
void craft(const std::filesystem::path& file, const std::vector<std::string>& statements) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    for (const auto& s : statements) {
        char* err = nullptr;
        EXPECT_EQ(sqlite3_exec(db, s.c_str(), nullptr, nullptr, &err), SQLITE_OK) << s << ": " << (err ? err : "");
        sqlite3_free(err);
    }
    sqlite3_close(db);
}

int count_of(const std::filesystem::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    int n = -1;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
        n = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return n;
}

const char* kVersionBack = "UPDATE dz_meta SET value = CAST(value AS INTEGER) - 1 WHERE name = 'dictionary'";

// A copy of the test dictionary at version 2, `edit` applied to its text.
std::filesystem::path dictionary_v2(const std::function<void(std::string&)>& edit) {
    auto folder = make_temp_dir();
    std::ifstream in(std::filesystem::path(DZ_TEST_DATA_DIR) / "datafile" / "dictionary" / "tst.toml");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    text.replace(text.find("version = 1"), 11, "version = 2");
    edit(text);
    std::ofstream(folder / "tst.toml") << text;
    return folder;
}

void load_test_dictionary() {
    std::string err;
    ASSERT_TRUE(xio_load_dictionaries(std::filesystem::path(DZ_TEST_DATA_DIR) / "datafile" / "dictionary", err)) << err;
}

TEST_F(Security, IndexNamesReadFromAFileAreNeverRunAsSql) {
    // A dictionary one version on, so that a file can be one version behind it.
    std::string err;
    ASSERT_TRUE(xio_load_dictionaries(dictionary_v2([](std::string&) {}), err)) << err;
    // Another company's file, with a customer to lose.
    auto other = make_temp_dir();
    ASSERT_EQ(xio_create_file("TST", 1, other / "MASTER.TST"), XIO_OK);
    {
        uint16_t h = 0;
        ASSERT_EQ(xio_open_file(other / "MASTER.TST", XIO_OPEN_READ_WRITE, h), XIO_OK);
        opened.push_back(h);
        ASSERT_EQ(addCustomer(h, "SECRET", "S1", "Private"), XIO_OK);
        close(h);
    }
    const std::string otherBytes = bytes_of(other / "MASTER.TST");
    // This company's file: one version behind, an index whose name carries statements.
    close(open());
    const std::string payload = "dzk_decoy;COMMIT;ATTACH '" + (other / "MASTER.TST").string() +
                                "' AS e;INSERT INTO r1 SELECT * FROM e.r1;DELETE FROM e.r1;BEGIN;CREATE INDEX dzk_decoy ON r1(NAME);--";
    craft(dir / "MASTER.TST", {kVersionBack, "CREATE INDEX \"" + payload + "\" ON r1(NAME)",
                               "CREATE INDEX dzk_decoy ON r1(NAME)"});
    const std::string crafted = bytes_of(dir / "MASTER.TST");

    {  // A look changes neither file.
        xio_read_only_scope readOnly;
        uint16_t h = open(false);
        ASSERT_NE(h, 0);
        EXPECT_TRUE(xio_is_read_only(h));
        EXPECT_EQ(walk(h, 0), "");
        close(h);
    }
    EXPECT_TRUE(bytes_of(dir / "MASTER.TST") == crafted);
    EXPECT_TRUE(bytes_of(other / "MASTER.TST") == otherBytes);

    // Opened to be written, the file is upgraded; the other company's file is not touched.
    uint16_t h = open(false);
    ASSERT_NE(h, 0);
    EXPECT_FALSE(xio_is_read_only(h));
    EXPECT_EQ(walk(h, 0), "");
    ASSERT_EQ(addCustomer(h, "C1", "A1"), XIO_OK);
    EXPECT_EQ(addCustomer(h, "C1", "A2"), XIO_DUPLICATE);  // the file's own indexes were rebuilt
    close(h);
    EXPECT_TRUE(bytes_of(other / "MASTER.TST") == otherBytes);
    EXPECT_EQ(count_of(dir / "MASTER.TST", "SELECT count(*) FROM sqlite_master WHERE name = 'dzk_r1_0'"), 1);
    std::filesystem::remove(xio::lock_file_path(other / "MASTER.TST"));
    std::filesystem::remove_all(other);    load_test_dictionary();
}

TEST_F(Security, TriggersAndViewsOfAFileDoNotRun) {
    uint16_t h = open();
    xio_init_record(h, 2);
    put(h, 2, "CCODE", "C1");
    ASSERT_EQ(xio_wr_record(h, 2), XIO_OK);
    close(h);
    craft(dir / "MASTER.TST", {"CREATE TRIGGER wipe AFTER INSERT ON r1 BEGIN DELETE FROM r2; END",
                               "CREATE VIEW shadow AS SELECT * FROM r2"});
    h = open(false);
    ASSERT_EQ(addCustomer(h, "C1", "A1"), XIO_OK);
    close(h);
    EXPECT_EQ(count_of(dir / "MASTER.TST", "SELECT count(*) FROM r2"), 1);  // the trigger did not fire

    // A record table replaced by a view is not read through it: an open that may write refuses
    // the file (the primary key's index cannot stand on a view), a look reads nothing.
    craft(dir / "MASTER.TST", {"ALTER TABLE r1 RENAME TO r1x", "CREATE VIEW r1 AS SELECT * FROM r1x"});
    xio_ask_request req;
    req.abbr = "TST";
    req.fileNo = 1;
    EXPECT_EQ(xio_ask_file(req, h), XIO_CORRUPT);
    xio_read_only_scope readOnly;
    h = open(false);
    ASSERT_NE(h, 0);
    EXPECT_NE(xio_rd_first(h, 1, 0, 0), XIO_OK);
}

TEST_F(Security, AnOlderFileOpenedReadOnlyIsReadThroughTheDefaultsAndNotUpgraded) {
    uint16_t h = open();
    ASSERT_EQ(addCustomer(h, "C2", "A2", "Second"), XIO_OK);
    ASSERT_EQ(addCustomer(h, "C1", "A1", "First"), XIO_OK);
    close(h);
    const std::string before = bytes_of(dir / "MASTER.TST");
    // Version 2 adds a text and a number field, and a key over the number.
    auto v2 = dictionary_v2([](std::string& text) {
        text.insert(text.find("  { name = \"MEMO\""), "  { name = \"EXTRA\", type = 0, length = 5, default = \"dflt\" },\n"
                                                      "  { name = \"NUMX\", type = 1, length = 4, default = 7 },\n");
        text += "\n[[key]]\nnumber = 5\nrecord = 1\nname = \"By number\"\nfields = [\"NUMX\"]\nunique = false\n";
    });
    std::string err;
    ASSERT_TRUE(xio_load_dictionaries(v2, err)) << err;
    {
        xio_read_only_scope readOnly;
        h = open(false);
        ASSERT_NE(h, 0);
        put(h, 1, "CODE", "C1");
        ASSERT_EQ(xio_rd_record(h, 1, 0, 0), XIO_OK);
        EXPECT_EQ(get(h, 1, "NAME"), "First");
        EXPECT_EQ(get(h, 1, "EXTRA"), "dflt");
        EXPECT_EQ(getNum(h, 1, "NUMX"), 7);
        EXPECT_EQ(walk(h, 5), "C1,C2");  // a key over a field the file lacks walks too
        EXPECT_EQ(walk(h, 0, "NAME"), "First,Second");
        // Nothing is written through a read-only handle.
        EXPECT_EQ(addCustomer(h, "C3", "A3"), XIO_LOCKED);
        EXPECT_NE(xio_error_text().find("read-only"), std::string::npos);
        close(h);
    }
    EXPECT_TRUE(bytes_of(dir / "MASTER.TST") == before);
    // Opened to be written, it is brought up to date.
    h = open(false);
    put(h, 1, "CODE", "C1");
    ASSERT_EQ(xio_rd_record(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "EXTRA"), "dflt");
    close(h);
    EXPECT_TRUE(bytes_of(dir / "MASTER.TST") != before);
    load_test_dictionary();
    std::filesystem::remove_all(v2);
}

TEST_F(Security, AnOlderFileLackingARecordTypeIsRefusedByALookWithAReason) {
    close(open());
    const std::string before = bytes_of(dir / "MASTER.TST");
    auto v2 = dictionary_v2([](std::string& text) {
        text += "\n[[record]]\nnumber = 3\nname = \"Added\"\nkey = [\"ADDK\"]\n"
                "fields = [{ name = \"ADDK\", description = \"Added key\", type = 0, length = 4 }]\n";
    });
    std::string err;
    ASSERT_TRUE(xio_load_dictionaries(v2, err)) << err;
    {
        xio_read_only_scope readOnly;
        uint16_t h = 0;
        xio_ask_request req;
        req.abbr = "TST";
        req.fileNo = 1;
        EXPECT_EQ(xio_ask_file(req, h), XIO_CORRUPT);
        EXPECT_NE(xio_error_text().find("a conversion will upgrade it"), std::string::npos) << xio_error_text();
        // Nor is a missing file made.
        req.fileNo = 6;
        req.create = true;
        EXPECT_EQ(xio_ask_file(req, h), XIO_NO_FILE);
        EXPECT_FALSE(std::filesystem::exists(dir / "HISTORY.TST"));
    }
    EXPECT_TRUE(bytes_of(dir / "MASTER.TST") == before);
    load_test_dictionary();
    std::filesystem::remove_all(v2);
}

// Sets environment variables for one test and puts them back.
class EnvGuard {
public:
    void set(const char* name, const std::string& value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvGuard() {
        for (const auto& [name, value] : saved_) {
            if (value) ::setenv(name.c_str(), value->c_str(), 1);
            else ::unsetenv(name.c_str());
        }
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

// A lock file planted in the data file's place that cannot be used (a folder, a link, a pipe, a
// second name of another file) refuses a writer, and Examine Files, which foretells one, and the
// message names the lock file and what it is; nothing follows the link or waits on the pipe. A
// look, which writes nothing and so needs no lock, reads the file.
TEST_F(Security, ALockFileThatCannotBeUsedFailsClosedAndIsNamed) {
    close(open());
    const auto lockFile = xio::lock_file_path(dir / "MASTER.TST");
    EXPECT_EQ(lockFile, dir / ".MASTER.TST.locks");
    const auto target = dir / "target";
    std::ofstream(target) << "";
    const std::pair<std::function<void()>, const char*> plants[] = {
        {[&] { std::filesystem::create_directory(lockFile); }, "is a folder"},
        {[&] { std::filesystem::create_symlink(target, lockFile); }, "symbolic link"},
        {[&] { ASSERT_EQ(::mkfifo(lockFile.c_str(), 0666), 0); }, "is a pipe (FIFO)"},
        {[&] { std::filesystem::create_hard_link(target, lockFile); }, "other names"},
    };
    xio_ask_request req;
    req.abbr = "TST";
    req.fileNo = 1;
    for (const auto& [plant, why] : plants) {
        std::filesystem::remove_all(lockFile);
        plant();
        for (bool foretell : {false, true}) {
            std::optional<xio_read_only_scope> scope;
            if (foretell) scope.emplace(true);
            uint16_t h = 0;
            EXPECT_EQ(xio_ask_file(req, h), XIO_LOCKED) << why;
            EXPECT_THAT(xio_error_text(), ::testing::HasSubstr("the lock file " + lockFile.string()));
            EXPECT_THAT(xio_error_text(), ::testing::HasSubstr(why));
            EXPECT_EQ(xio_error_next_step().step, ui::Step::RemoveLockFile) << why;
            if (h) xio_cls_file(h);
        }
        xio_read_only_scope look;
        uint16_t h = 0;
        EXPECT_EQ(xio_ask_file(req, h), XIO_OK) << why << ": " << xio_error_text();
        if (h) xio_cls_file(h);
    }
    EXPECT_TRUE(bytes_of(target).empty());
}

TEST_F(Security, AFolderNamedLikeAUriIsAFolder) {
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(dir.c_str()), 0);
    std::filesystem::create_directory("file:co");
    const int made = xio_create_file("TST", 1, "file:co/MASTER.TST");
    const std::string why = xio_error_text();
    uint16_t h = 0;
    const int opened_ = xio_open_file("file:co/MASTER.TST", XIO_OPEN_READ_WRITE, h);
    if (h) opened.push_back(h);
    const bool inPlace = std::filesystem::exists(dir / "file:co" / "MASTER.TST");
    const bool elsewhere = std::filesystem::exists(dir / "co");
    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_EQ(made, XIO_OK) << why;
    EXPECT_EQ(opened_, XIO_OK);
    EXPECT_TRUE(inPlace);
    EXPECT_FALSE(elsewhere);
    if (h) close(h);
    std::filesystem::remove(xio::lock_file_path(dir / "file:co" / "MASTER.TST"));
}

// Unique keys hold whatever was done to the file: a unique index dropped or made plain stands
// again at the next writable open, and a file that already holds duplicates under it is refused.
// A read-only open changes nothing, and a walk of every row shows the duplicates.
TEST_F(Security, UniqueKeysHoldWhateverTheFileSays) {
    const auto file = dir / "MASTER.TST";
    uint16_t h = open();
    ASSERT_EQ(addCustomer(h, "C1", "A1"), XIO_OK);
    ASSERT_EQ(xio_commit(h), XIO_OK);
    close(h);
    craft(file, {"DROP INDEX dzk_r1_0"});
    h = open(false);
    EXPECT_EQ(addCustomer(h, "c1", "A2"), XIO_DUPLICATE);
    close(h);

    craft(file, {"DROP INDEX dzk_r1_0", "CREATE INDEX dzk_r1_0 ON r1(CODE)",
                 "INSERT INTO r1(CODE, ALTKEY) VALUES('C1', 'A9')"});
    {
        xio_read_only_scope readOnly;
        uint16_t ro = open(false);
        ASSERT_NE(ro, 0);
        std::string seen;
        EXPECT_EQ(xio_rd_every(ro, 1, [&] { return seen += get(ro, 1, "ALTKEY") + ",", true; }), XIO_END);
        EXPECT_EQ(seen, "A1,A9,");
        EXPECT_EQ(walk(ro, 0, "ALTKEY"), "A1") << "a key walk meets one of the pair";
        close(ro);
    }
    uint16_t refused = 0;
    xio_ask_request req;
    req.abbr = "TST";
    req.fileNo = 1;
    EXPECT_EQ(xio_ask_file(req, refused), XIO_CORRUPT);
    EXPECT_THAT(xio_error_text(), ::testing::HasSubstr("either an old version or corrupt"));
    EXPECT_EQ(count_of(file, "SELECT count(*) FROM r1"), 2) << "nothing is changed";
}

// A key value that another program stored as another kind than its field's (a blob in a text key,
// a text in a number key) sorts apart from the values of its kind: a walk that went on from it as
// read came back to it for ever. Every keyed walk, forwards or back, reading ahead inside a
// transaction or not, refuses the file instead.
TEST_F(Security, AKeyValueOfAnotherKindEndsAWalkAsCorrupt) {
    const auto file = dir / "MASTER.TST";
    uint16_t h = open();
    for (const char* code : {"A", "B", "C"}) ASSERT_EQ(addCustomer(h, code, std::string("X") + code), XIO_OK);
    ASSERT_EQ(xio_commit(h), XIO_OK);
    close(h);
    craft(file, {"UPDATE r1 SET CODE = CAST(CODE AS BLOB) WHERE CODE = 'B'",
                 "INSERT INTO r2(CCODE, SEQ) VALUES('A', 1), ('A', 'many'), ('B', 1)"});
    h = open(false);
    // The status a walk ends with; XIO_OK when it was still going after 50 steps.
    auto walkEnd = [&](uint16_t rec, uint16_t key, bool back) {
        int s = back ? xio_rd_last(h, rec, key, 0) : xio_rd_first(h, rec, key, 0);
        for (int n = 0; s == XIO_OK && n < 50; ++n)
            s = back ? xio_rd_previous(h, rec, key, 0) : xio_rd_next(h, rec, key, 0);
        return s;
    };
    EXPECT_EQ(walkEnd(1, 0, false), XIO_CORRUPT);
    EXPECT_THAT(xio_error_text(), ::testing::HasSubstr("a key holds a value of another kind"));
    EXPECT_EQ(walkEnd(1, 0, true), XIO_CORRUPT);
    EXPECT_EQ(walkEnd(2, 0, false), XIO_CORRUPT);
    EXPECT_EQ(walkEnd(2, 2, false), XIO_CORRUPT);  // the primary key orders a key that is not unique
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    ASSERT_EQ(addCustomer(h, "D", "XD"), XIO_OK);
    EXPECT_EQ(walkEnd(1, 0, false), XIO_CORRUPT);
    // Whoever walked may have taken that end for the last record: nothing written since is
    // committed, by a commit or by the close.
    EXPECT_THAT(xio_corrupt_met(h), ::testing::HasSubstr("a key holds a value of another kind"));
    EXPECT_EQ(xio_commit(h), XIO_CORRUPT);
    close(h);
    EXPECT_EQ(count_of(file, "SELECT count(*) FROM r1 WHERE CODE = 'D'"), 0);
}

// A file of the dictionary's own version that lacks a column, a table or a header's record was
// damaged: it is refused, read-only too, and never read as defaults (nor a column as its name).
TEST_F(Security, AFileLackingPartOfItsLayoutIsRefused) {
    const auto file = dir / "MASTER.TST";
    uint16_t h = open();
    ASSERT_EQ(addCustomer(h, "C1", "A1", "Kept"), XIO_OK);
    close(h);
    const std::string whole = bytes_of(file);
    xio_ask_request req;
    req.abbr = "TST";
    req.fileNo = 1;
    const std::pair<const char*, const char*> damages[] = {{"ALTER TABLE r1 DROP COLUMN NAME", "field NAME of record type 1"},
                                                           {"DROP TABLE r2", "the table of record type 2"},
                                                           {"DELETE FROM h2", "the record of header 2"},
                                                           {"DROP TABLE dz_notes", "the table of the notes"}};
    for (const auto& [damage, lacks] : damages) {
        { std::ofstream(file, std::ios::binary | std::ios::trunc) << whole; }
        craft(file, {damage});
        const std::string before = bytes_of(file);
        for (bool readOnly : {false, true}) {
            std::optional<xio_read_only_scope> scope;
            if (readOnly) scope.emplace();
            uint16_t refused = 0;
            EXPECT_EQ(xio_ask_file(req, refused), XIO_CORRUPT) << damage;
            EXPECT_THAT(xio_error_text(), ::testing::HasSubstr(std::string("corrupt (it lacks ") + lacks + ")"));
        }
        EXPECT_TRUE(bytes_of(file) == before) << damage;
    }
}

// Opens the test file and closes it again: the answer of the open.
int ask_and_close(bool readOnly) {
    uint16_t h = 0;
    xio_ask_request req;
    req.abbr = "TST";
    req.fileNo = 1;
    req.readOnly = readOnly;
    const int status = xio_ask_file(req, h);
    if (h) xio_cls_file(h);
    return status;
}

// Gives the company folder and its data file to user nobody, whom `as_bound_user` runs as, with
// its lock file when there is one (as `chown -R` would).
void give_to_bound_user(const std::filesystem::path& folder) {
    if (::geteuid() != 0) return;
    ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown((folder / "MASTER.TST").c_str(), 65534, 65534), 0);
    [[maybe_unused]] const int given = ::lchown(xio::lock_file_path(folder / "MASTER.TST").c_str(), 65534, 65534);
}

// Runs `check` where folder permissions bind: as root, in a child process of user nobody.
int as_bound_user(const std::function<int()>& check) {
    if (::geteuid() != 0) return check();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(99);
        ::_exit(check());
    }
    int status = 0;
    if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return 98;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 97;
}

TEST_F(Security, AFileInAFolderThatCannotBeWrittenIsRefusedForWritingAndStillRead) {
    close(open());
    give_to_bound_user(dir);
    const std::string folder = dir.string();
    const int failedStep = as_bound_user([&] {
        const auto ask = ask_and_close;
        int step = ask(false) == XIO_OK ? 0 : 1;
        ::chmod(folder.c_str(), 0555);
        if (step == 0 && ask(false) != XIO_LOCKED) step = 2;
        if (step == 0 && xio_error_text().find("cannot be written") == std::string::npos) step = 3;
        if (step == 0 && ask(true) != XIO_OK) step = 4;
        ::chmod(folder.c_str(), 0700);
        return step;
    });
    // 1: not opened for writing in a writable folder; 2, 3: opened for writing (or refused for
    // another reason) in a folder that cannot be written; 4: not opened for reading there.
    EXPECT_EQ(failedStep, 0);
}

// A look never makes a lock file, so it needs no company folder it may write: with no lock file
// there, nobody writes the data file. A writer makes it beside the data file.
TEST_F(Security, ALookMakesNoLockFileAndNeedsNoFolderItMayWrite) {
    close(open());
    const auto lockFile = xio::lock_file_path(dir / "MASTER.TST");
    std::filesystem::remove(lockFile);
    give_to_bound_user(dir);
    const std::string folder = dir.string();
    const int failedStep = as_bound_user([&] {
        ::chmod(folder.c_str(), 0555);
        const int step = ask_and_close(true) == XIO_OK ? 0 : 1;
        ::chmod(folder.c_str(), 0700);
        return step;
    });
    EXPECT_EQ(failedStep, 0) << "the look was refused where it may not write";
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(lockFile)));
    EXPECT_EQ(ask_and_close(true), XIO_OK);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(lockFile))) << "a look made the lock file";
    EXPECT_EQ(ask_and_close(false), XIO_OK);
    EXPECT_TRUE(std::filesystem::is_regular_file(lockFile)) << "a writer made no lock file";
}

// Where the system guards sticky folders (fs.protected_regular), a lock file one user's program
// made is still opened by another user's: the data file is not "in use" for good.
TEST_F(Security, ALockFileAnotherUserMadeIsOpenedWhereStickyFoldersAreGuarded) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as two users needs root";
    int guarded = 0;
    if (std::ifstream level("/proc/sys/fs/protected_regular"); !(level >> guarded) || guarded < 1)
        GTEST_SKIP() << "fs.protected_regular is off on this machine";
    close(open());
    std::filesystem::remove(xio::lock_file_path(dir / "MASTER.TST"));
    ::chmod(dir.c_str(), 01777);  // a company folder every user may write in, sticky
    ::chmod((dir / "MASTER.TST").c_str(), 0666);
    auto open_as = [&](uid_t uid) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::setgid(uid) != 0 || ::setuid(uid) != 0) ::_exit(99);
            ::_exit(ask_and_close(false) == XIO_OK ? 0 : 1);
        }
        int status = 0;
        if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return 98;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 97;
    };
    const int maker = open_as(1);  // its lock file is its own
    const int other = open_as(65534);
    EXPECT_EQ(maker, 0);
    EXPECT_EQ(other, 0);  // 1: refused as in use
}

// Two users of one company meet on one lock file, whichever of them made it: while one writes a
// data file the other's open is refused as in use by that process, and once it is done the
// other opens and locks it.
TEST_F(Security, TwoUsersOfOneCompanyExcludeEachOther) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as two users needs root";
    close(open());  // root's lock file, made while the data file was root's alone
    ::chmod(dir.c_str(), 0777);
    ::chmod((dir / "MASTER.TST").c_str(), 0666);
    xio_ask_request req;
    req.abbr = "TST";
    req.fileNo = 1;
    constexpr uid_t kOther = 65534;
    // Root writes while the other user's open is refused, naming root's process.
    auto rootFirst = [&] {
        uint16_t h = 0;
        ASSERT_EQ(xio_ask_file(req, h), XIO_OK) << xio_error_text();
        opened.push_back(h);
        ASSERT_EQ(xio_start_writes(h), XIO_OK);
        const std::string root = "(process " + std::to_string(::getpid()) + " of user root)";
        const pid_t refused = spawn_holder([&] {
            uint16_t ch = 0;
            return xio_ask_file(req, ch) == XIO_LOCKED && xio_error_text().find(root) != std::string::npos;
        }, kOther);
        EXPECT_GT(refused, 0) << "the other user was not kept out while root wrote";
        if (refused > 0) kill_and_reap(refused);
        close(h);
    };
    // The other user writes while root's open is refused, naming its process.
    auto otherFirst = [&] {
        const pid_t child = spawn_holder([&] {
            uint16_t ch = 0;
            return xio_ask_file(req, ch) == XIO_OK && xio_start_writes(ch) == XIO_OK;
        }, kOther);
        ASSERT_GT(child, 0) << "the other user could not write the company";
        uint16_t h = 0;
        EXPECT_EQ(xio_ask_file(req, h), XIO_LOCKED);
        EXPECT_THAT(xio_error_text(), ::testing::HasSubstr("in use by another program (process " + std::to_string(child) + " of user nobody)"));
        kill_and_reap(child);
    };
    rootFirst();
    otherFirst();
    std::filesystem::remove(xio::lock_file_path(dir / "MASTER.TST"));
    otherFirst();  // the other user's lock file now
    rootFirst();
}

// A lock file planted by a user who may not write the data file, that this one may not open
// (mode 0600): a look goes on without it (it writes nothing); a writer, who cannot lock it and so
// cannot tell that nobody holds it, is refused with its cause and leaves it as it stands.
TEST_F(Security, ALockFileOfAnotherOwnerIsNamedWithItsReason) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as two users needs root";
    close(open());
    give_to_bound_user(dir);
    const auto lockFile = xio::lock_file_path(dir / "MASTER.TST");
    std::filesystem::remove(lockFile);
    std::ofstream(lockFile) << "";
    ASSERT_EQ(::chown(lockFile.c_str(), 1, 1), 0);
    ASSERT_EQ(::chmod(lockFile.c_str(), 0600), 0);
    const int failedStep = as_bound_user([&] {
        if (ask_and_close(true) != XIO_OK) return 1;
        if (ask_and_close(false) != XIO_LOCKED) return 2;
        if (xio_error_text().find(lockFile.string() + " cannot be opened: Permission denied") == std::string::npos) return 3;
        struct stat st {};
        return ::stat(lockFile.c_str(), &st) == 0 && st.st_uid == 1 ? 0 : 4;
    });
    // 1: the look was refused; 2: the writer went on; 3: without the cause; 4: it was replaced.
    EXPECT_EQ(failedStep, 0);
}

// Programs started with different temp folders (two users, two shells) still meet on one lock
// file, so one's conversion keeps the other out.
TEST_F(Security, ProgramsWithDifferentTempFoldersMeetOnTheSameLocks) {
    close(open());
    const auto first = make_temp_dir();
    const auto second = make_temp_dir();
    const auto data = dir / "MASTER.TST";
    std::filesystem::path seen[2];
    {
        EnvGuard env;
        env.set("TMPDIR", first.string());
        seen[0] = xio::lock_file_path(data);
        env.set("TMPDIR", second.string());
        seen[1] = xio::lock_file_path(data);
    }
    std::filesystem::remove_all(first);
    std::filesystem::remove_all(second);
    EXPECT_EQ(seen[0], seen[1]);
}

TEST_F(Security, ADataFileThatIsALinkIsNotOpened) {
    close(open());
    std::filesystem::rename(dir / "MASTER.TST", dir / "real.tst");
    std::filesystem::create_symlink(dir / "real.tst", dir / "MASTER.TST");
    uint16_t h = 0;
    EXPECT_NE(xio_open_file(dir / "MASTER.TST", 1, h), XIO_OK);
    EXPECT_EQ(h, 0);
    EXPECT_THAT(xio_error_text(), ::testing::HasSubstr("symbolic link"));
}

// A file put in write-ahead-log mode by another program: a look would leave the log and its
// index beside it, so it is refused; an open that may write puts the file back in our mode.
TEST_F(Security, AFileInWriteAheadLogModeIsNotLookedAtAndIsPutBackWhenWritten) {
    uint16_t h = open();
    ASSERT_EQ(addCustomer(h, "C1", "A1", "Kept"), XIO_OK);
    close(h);
    craft(dir / "MASTER.TST", {"PRAGMA journal_mode=WAL"});
    auto beside = [&] {
        return std::filesystem::exists(dir / "MASTER.TST-wal") || std::filesystem::exists(dir / "MASTER.TST-shm");
    };
    ASSERT_FALSE(beside());
    {
        xio_read_only_scope readOnly;
        uint16_t ro = 0;
        EXPECT_EQ(xio_open_file(dir / "MASTER.TST", 1, ro), XIO_CORRUPT);
        EXPECT_THAT(xio_error_text(), ::testing::HasSubstr("write-ahead-log mode"));
        EXPECT_FALSE(beside());
    }
    h = open(false);
    ASSERT_NE(h, 0);
    put(h, 1, "CODE", "C1");
    ASSERT_EQ(xio_rd_record(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "NAME"), "Kept");
    close(h);
    EXPECT_FALSE(beside());
    xio_read_only_scope readOnly;
    h = open(false);
    EXPECT_NE(h, 0) << xio_error_text();
    if (h) close(h);
}

// A program that only reads a data file, and keeps a writer out (a read lock over its lock
// file's writer byte, or an SQLite read transaction on the file that holds off its commit), is
// said to be reading it: the file, the process, and waiting for it as the next step. It keeps no
// look out, Examine Files' locks included: readers never keep each other out.
TEST_F(Security, AReaderThatKeepsAWriterOutIsSaidToBeReadingIt) {
    close(open());
    ASSERT_EQ(writeOne("0").status, XIO_OK);
    const std::string lockFile = xio::lock_file_path(dir / "MASTER.TST").string(), data = (dir / "MASTER.TST").string();
    struct Case {
        const char* what;
        std::function<bool()> reader;
    } cases[] = {
        {"a read lock on the whole lock file",
         [&] {
             const int fd = ::open(lockFile.c_str(), O_RDONLY);
             struct flock fl {};
             fl.l_type = F_RDLCK;
             fl.l_whence = SEEK_SET;
             return fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0;
         }},
        {"an SQLite read transaction on the data file",
         [&] {
             sqlite3* db = nullptr;
             return sqlite3_open_v2(data.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
                    sqlite3_exec(db, "BEGIN; SELECT count(*) FROM sqlite_master;", nullptr, nullptr, nullptr) == SQLITE_OK;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const pid_t reader = spawn_holder(c.reader);
        ASSERT_GT(reader, 0);
        const Written w = writeOne(std::to_string(reader));
        EXPECT_EQ(w.status, XIO_LOCKED);
        EXPECT_THAT(w.text, ::testing::HasSubstr(data + " is in use by another program (process " + std::to_string(reader) +
                                                 " of user "));
        EXPECT_THAT(w.text, ::testing::HasSubstr("that is reading it"));
        EXPECT_EQ(w.next.step, ui::Step::AgainWhenFinished);
        {
            xio_read_only_scope look;
            const uint16_t h = open(false);
            EXPECT_NE(h, 0) << xio_error_text();
            if (h) close(h);
        }
        {
            // Examine Files foretells a conversion: the writer's byte and a record locked, as it does.
            xio_read_only_scope foretell(true);
            const uint16_t h = open(false);
            ASSERT_NE(h, 0) << xio_error_text();
            EXPECT_EQ(xio_start_writes(h), XIO_OK) << xio_error_text();
            put(h, 1, "CODE", "C0");
            EXPECT_EQ(xio_rd_record(h, 1, 0, 1), XIO_OK) << xio_error_text();
            close(h);
        }
        kill_and_reap(reader);
    }
}

// A reader's lock of an open file description, which the kernel shows without a process, on the
// lock file (the writer's byte) or on the data file (SQLite's own lock), is said once as one whose
// process cannot be seen, with the process seen keeping it open; its step names the file an
// administrator finds its holder by.
TEST_F(Security, AnOpenFileDescriptionsLockIsSaidAsOneWhoseProcessCannotBeSeen) {
    close(open());
    const std::string lockFile = xio::lock_file_path(dir / "MASTER.TST").string(), data = (dir / "MASTER.TST").string();
    for (const std::string& held : {lockFile, data}) {
        SCOPED_TRACE(held);
        const pid_t reader = spawn_holder([&] {
            const int fd = ::open(held.c_str(), O_RDONLY);
            struct flock fl {};
            fl.l_type = F_RDLCK;
            fl.l_whence = SEEK_SET;
            return fd >= 0 && ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
        });
        ASSERT_GT(reader, 0);
        const Written w = writeOne(std::to_string(reader));
        EXPECT_EQ(w.status, XIO_LOCKED);
        EXPECT_THAT(w.text, ::testing::HasSubstr(data + " is in use by"));
        EXPECT_THAT(w.text, ::testing::HasSubstr("a program whose process cannot be seen (it holds the lock through an "
                                                 "open file description)"));
        EXPECT_THAT(w.text, ::testing::HasSubstr("reading it"));
        // The process that keeps the description open is named, as far as this user may see it.
        EXPECT_THAT(w.text, ::testing::HasSubstr(", kept open by process " + std::to_string(reader) + " of user "));
        EXPECT_EQ(w.next, (ui::NextStep{ui::Step::FindLockHolder, {held}}));
        kill_and_reap(reader);
    }
}

TEST_F(Security, AFolderInADataFilesPlaceIsNotTakenForAMissingFile) {
    close(open());
    std::filesystem::remove(dir / "MASTER.TST");
    std::filesystem::create_directory(dir / "MASTER.TST");
    uint16_t h = 0;
    xio_ask_request req;
    req.abbr = "TST";
    req.fileNo = 1;
    req.create = true;
    EXPECT_EQ(xio_ask_file(req, h), XIO_IO_ERROR);
    EXPECT_THAT(xio_error_text(), ::testing::HasSubstr("is not a regular file"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "MASTER.TST"));
}

}  // namespace
}  // namespace dz::test
