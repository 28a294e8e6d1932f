#include "platform/datafile/lock_file.h"
#include "platform/datafile/xio.h"
#include "platform/suite/control.h"
#include "platform/suite/util.h"
#include "platform/suite/settings_lock.h"
#include "platform/suite/zc.h"
#include "suite_fixture.h"
#include "as_user.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>

namespace dz::suite {
namespace {

using testing::TempFolder;

// A company as `company init` writes it (settings through the same writer), opened from disk.
class InitCompany : public ::testing::Test {
protected:
    void open(const std::set<std::string>& apps) {
        write_settings(dir_.path() / kSettingsFileName, default_settings(apps));
        open_company(dir_.path());
    }
    void TearDown() override {
        xc_cls_control_file();
        close_company();
    }
    TempFolder dir_;
};

TEST_F(InitCompany, InstalledApplicationsAndInterfaces) {
    open({"GL", "JC", "CM", "AP", "PR", "PM", "AR"});
    for (const char* app : {"GL", "JC", "CM", "AP", "PR", "PM", "AR", "gl"}) EXPECT_EQ(xa_appl_installed(app), 1) << app;
    for (const char* app : {"EQ", "TX", "XX", "BL", ""}) EXPECT_EQ(xa_appl_installed(app), 0) << app;
    for (auto [from, to] : std::vector<std::pair<const char*, const char*>>{
             {"CM", "GL"}, {"PR", "JC"}, {"JC", "GL"}, {"AP", "GL"}, {"AP", "JC"}, {"AR", "GL"}}) {
        EXPECT_NE(zc_interface_active(from, to), 0) << from << "->" << to;
        EXPECT_NE(zc_create_entries(from, to), 0) << from << "->" << to;
    }
    EXPECT_NE(zc_create_entries("AP", "CM"), 0);
    EXPECT_NE(zc_create_entries("PM", "AP"), 0);
    // Interfaces to applications that are not installed are not set up.
    EXPECT_EQ(zc_interface_active("EQ", "JC"), 0);
    EXPECT_EQ(zc_interface_active("AP", "BL"), 0);
    EXPECT_EQ(zc_interface_active("GL", "AP"), 0);  // no such direction
}

TEST_F(InitCompany, FewerModulesMeanFewerInterfaces) {
    open({"GL", "AP"});
    EXPECT_EQ(xa_appl_installed("JC"), 0);
    EXPECT_NE(zc_interface_active("AP", "GL"), 0);
    EXPECT_EQ(zc_interface_active("AP", "CM"), 0);
    x_zq_dst_info rec;
    EXPECT_EQ(xa_get_zq_dst(1, rec, "AP", "CM"), 0);
    EXPECT_EQ(xa_get_zq_dst(1, rec, "AP", "GL"), 1);
    EXPECT_EQ(rec.destination, "GL");
}

TEST_F(InitCompany, AccountingMethodOperatorCountriesFormulas) {
    open({"GL", "AP", "PR"});
    xc_control_def def;
    ASSERT_TRUE(xc_get_control_def(def));
    EXPECT_EQ(def.accountingMethod, 3);
    EXPECT_EQ(def.appCodeBit0, 0);
    xs_oper_def op = xs_get_oper_def();
    EXPECT_TRUE(op.set);
    EXPECT_EQ(op.name, "ADMIN");
    EXPECT_EQ(xa_module_country("AP"), 1);
    EXPECT_EQ(xa_module_country("PR"), 1);
    EXPECT_EQ(xa_module_country("GL"), 0);
    EXPECT_NE(xs_option_allowed(1, 160, "AP"), 0);
    EXPECT_EQ(xs_option_allowed(1, 161, "AP"), 0);
    EXPECT_EQ(xs_option_allowed(1, 160, "JC"), 0);  // not installed: no options
    EXPECT_NE(xf_load_formula("standard RENT"), 0u);
    EXPECT_EQ(xf_load_formula("no such formula"), 0u);
    // The company's formulas, in any letter case; a name that is only a prefix is not one.
    EXPECT_TRUE(FormulaExists("CPI ESCALATION"));
    EXPECT_TRUE(FormulaExists("Standard rent"));
    EXPECT_FALSE(FormulaExists("Standard"));
    EXPECT_FALSE(FormulaExists(""));
    EXPECT_EQ(xc_get_file_control_def("GLM"), dir_.path());
    std::string name;
    EXPECT_TRUE(xa_get_zq_nam("GLM", name));
    EXPECT_EQ(name, "Master");  // the messages add " file" themselves
    EXPECT_FALSE(xa_get_zq_nam("JCM", name));  // JC not installed
    EXPECT_TRUE(xa_get_zq_apl("AP", name));
    EXPECT_EQ(name, "Accounts Payable");
    EXPECT_FALSE(xa_get_zq_apl("ZZ", name));
    EXPECT_EQ(xa_get_appl_code("zq"), 0);
}

TEST_F(InitCompany, AccountingMethodWordsFromTheFile) {
    CompanySettings s = default_settings({"GL"});
    for (int method : {1, 2, 3}) {
        s.accounting_method = method;
        s.jc_transaction_flag = method == 2 ? 1 : 0;
        s.country_ap = method == 1 ? 2 : 61;
        write_settings(dir_.path() / kSettingsFileName, s);
        open_company(dir_.path());
        xc_control_def def;
        ASSERT_TRUE(xc_get_control_def(def));
        EXPECT_EQ(def.accountingMethod, method);
        EXPECT_EQ(def.appCodeBit0, method == 2 ? 1 : 0);
        EXPECT_EQ(xa_module_country("AP"), method == 1 ? 2 : 61);
    }
}

TEST_F(InitCompany, ActivatingAnInterfaceIsStoredInTheCompany) {
    CompanySettings s = default_settings({"AP", "CM", "GL"});
    for (auto& i : s.interfaces) {
        if (i.from == "AP" && i.to == "CM") i.creates_entries = false;
    }
    write_settings(dir_.path() / kSettingsFileName, s);
    open_company(dir_.path());
    EXPECT_NE(zc_interface_active("AP", "CM"), 0);
    EXPECT_EQ(zc_create_entries("AP", "CM"), 0);

    // A read-only session cannot activate.
    ASSERT_EQ(xc_open_control_file(0), 0);
    xc_interface_def req{"AP", "CM", 0};
    EXPECT_FALSE(xc_activate_interface(req));
    xc_cls_control_file();

    ASSERT_EQ(xc_open_control_file(1), 0);
    ASSERT_TRUE(xc_get_interface_def(req));
    EXPECT_EQ(req.createEntries, 0);
    EXPECT_TRUE(xc_activate_interface(req));
    EXPECT_TRUE(xc_wr_control_file());
    xc_cls_control_file();
    EXPECT_NE(zc_create_entries("AP", "CM"), 0);

    close_company();
    open_company(dir_.path());  // read back from disk
    EXPECT_NE(zc_create_entries("AP", "CM"), 0);
}

TEST(NoCompany, ServicesAnswerNone) {
    close_company();
    EXPECT_EQ(xa_appl_installed("GL"), 0);
    EXPECT_EQ(xa_get_appl_code("zq"), 0xFFFF);
    EXPECT_EQ(xc_open_control_file(1), kControlFileFailed);
    xc_control_def def;
    EXPECT_FALSE(xc_get_control_def(def));
    EXPECT_FALSE(xs_get_oper_def().set);
    EXPECT_EQ(xa_module_country("AP"), 0);
    EXPECT_EQ(zc_interface_active("AP", "GL"), 0);
    zb_batch_request req;
    req.masterFile = 1;
    req.moduleFiles = {2};
    EXPECT_EQ(zb_process_batch(req), kTaskStatusFailed);
}

TEST(Amounts, RoundHalfAwayFromZero) {
    EXPECT_EQ(zc_round(12.5), 13);
    EXPECT_EQ(zc_round(-12.5), -13);
    EXPECT_EQ(zc_round(12.49), 12);
    EXPECT_EQ(zc_round(-0.4), 0);
}

TEST(Amounts, AlphaNumberWithImpliedDecimals) {
    EXPECT_EQ(zc_alpha_number(123456, 2, 0), "1234.56");
    EXPECT_EQ(zc_alpha_number(123456789, 2, 1), "1,234,567.89");
    EXPECT_EQ(zc_alpha_number(-5, 2, 0), "-0.05");
    EXPECT_EQ(zc_alpha_number(-0.0, 2, 0), "0.00");
    EXPECT_EQ(zc_alpha_number(1000, 0, 1), "1,000");
    EXPECT_EQ(zc_alpha_number(100, 0, 1), "100");
}

class Batches : public InitCompany {};

TEST_F(Batches, NumberedPerModuleAndTerminatedOnce) {
    open({"GL", "JC", "AP"});
    std::vector<std::string> texts;
    int ended = 0;
    zb_batch_request req;
    req.module = BatchModule::GL;
    req.taskId = 3020;
    req.masterFile = 1;
    req.moduleFiles = {2};
    req.recordCallback = [&](const zb_batch_record& r) { texts.push_back(r.batchText); };
    req.endCallback = [&] { ++ended; };

    zb_batch_record mine;
    auto keep = [&](const zb_batch_record& r) {
        texts.push_back(r.batchText);
        mine = r;
    };
    req.recordCallback = keep;
    const std::size_t before = zb_open_batches();
    ASSERT_EQ(zb_process_batch(req), kTaskStatusOk);
    ASSERT_EQ(zb_process_batch(req), kTaskStatusOk);
    req.module = BatchModule::JC;
    ASSERT_EQ(zb_process_batch(req), kTaskStatusOk);
    EXPECT_EQ(texts, (std::vector<std::string>{"XV000001", "XV000002", "XV000001"}));
    EXPECT_LE(texts[0].size(), 10u);
    EXPECT_EQ(zb_open_batches(), before + 3);

    zb_term_batch(mine);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(zb_open_batches(), before + 2);
    zb_term_batch(mine);  // a second end changes nothing
    EXPECT_EQ(ended, 1);
    zb_batch_record never;  // the near-empty record of a replayed task
    never.taskName = "Convert";
    zb_term_batch(never);
    EXPECT_EQ(zb_open_batches(), before + 2);

    // Numbers live in the company, once stored.
    ASSERT_EQ(zc_store_counters(), CounterStore::Stored);
    close_company();
    open_company(dir_.path());
    EXPECT_EQ(current_company()->settings().batch_numbers.at("GL"), 2u);
    EXPECT_EQ(current_company()->settings().batch_numbers.at("JC"), 1u);
}

TEST_F(Batches, CountersLeaveOtherSettingsAloneOnDiskAndInMemory) {
    open({"GL"});
    // Another program changes a description while this one runs.
    CompanySettings edited = read_settings(dir_.path() / kSettingsFileName);
    edited.descriptions[16] = "Project";
    edited.batch_numbers["GL"] = 41;
    write_settings(dir_.path() / kSettingsFileName, edited);

    std::string text;
    zb_batch_request req;
    req.masterFile = 1;
    req.moduleFiles = {2};
    req.recordCallback = [&](const zb_batch_record& r) { text = r.batchText; };
    ASSERT_EQ(zb_process_batch(req), kTaskStatusOk);
    EXPECT_EQ(text, "XV000042");  // numbering continues from the file, not from memory

    CompanySettings disk = read_settings(dir_.path() / kSettingsFileName);
    EXPECT_EQ(disk.descriptions.at(16), "Project");                          // kept on disk
    EXPECT_EQ(current_company()->settings().descriptions.at(16), "Job");   // unchanged in use
    EXPECT_EQ(current_company()->settings().batch_numbers.at("GL"), 42u);
}

TEST_F(Batches, UnreadableSettingsFileFailsTheBatch) {
    open({"GL"});
    std::ofstream(dir_.path() / kSettingsFileName, std::ios::app) << "\n[broken\n";
    const std::size_t before = zb_open_batches();
    zb_batch_request req;
    req.masterFile = 1;
    req.moduleFiles = {2};
    EXPECT_EQ(zb_process_batch(req), kTaskStatusFailed);
    EXPECT_EQ(zb_open_batches(), before);
}

TEST_F(Batches, RefusedWithoutModuleOrFiles) {
    open({"GL"});
    int calls = 0;
    zb_batch_request req;
    req.recordCallback = [&](const zb_batch_record&) { ++calls; };
    req.module = BatchModule::AP;  // not installed
    req.masterFile = 1;
    req.moduleFiles = {2};
    EXPECT_EQ(zb_process_batch(req), kTaskStatusFailed);
    req.module = BatchModule::GL;
    req.moduleFiles = {0};
    EXPECT_EQ(zb_process_batch(req), kTaskStatusFailed);
    req.moduleFiles = {2};
    req.masterFile = 0;
    EXPECT_EQ(zb_process_batch(req), kTaskStatusFailed);
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(current_company()->settings().batch_numbers.count("GL"));
}

// Takes a batch number and stores it, taking again while another program stored it first;
// answers the batch text kept, empty when none could be.
std::string KeepABatch() {
    zb_batch_request req;
    req.masterFile = 1;
    req.moduleFiles = {2};
    std::string text;
    req.recordCallback = [&](const zb_batch_record& r) { text = r.batchText; };
    for (;;) {
        if (zb_process_batch(req) != kTaskStatusOk) {
            std::cerr << "no batch number could be taken\n";
            return {};
        }
        SettingsFailure why;
        const CounterStore stored = zc_store_counters(&why);
        if (stored == CounterStore::Stored) return text;
        zc_give_back_counters();
        if (stored != CounterStore::TakenElsewhere) {
            std::cerr << "the batch number could not be kept: " << why.cause << "\n";
            return {};
        }
    }
}

TEST_F(Batches, TwoProcessesNeverShareANumber) {
    open({"GL"});
    const int per_process = 20;
    pid_t child = fork();
    if (child == 0) {
        int bad = 0;
        for (int i = 0; i < per_process; ++i) bad += KeepABatch().empty();
        _exit(bad);
    }
    std::set<std::string> mine;
    for (int i = 0; i < per_process; ++i) {
        const std::string text = KeepABatch();
        EXPECT_FALSE(text.empty());  // and the child is waited for all the same
        mine.insert(text);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(mine.size(), static_cast<std::size_t>(per_process));
    CompanySettings disk = read_settings(dir_.path() / kSettingsFileName);
    EXPECT_EQ(disk.batch_numbers.at("GL"), 2u * per_process);
}

TEST_F(Batches, ANumberIsWrittenOnlyWhenStoredAndNeverStoredTwice) {
    open({"GL"});
    zb_batch_request req;
    req.masterFile = 1;
    req.moduleFiles = {2};
    std::vector<std::string> texts;
    req.recordCallback = [&](const zb_batch_record& r) { texts.push_back(r.batchText); };
    auto onDisk = [&] { return read_settings(dir_.path() / kSettingsFileName).batch_numbers["GL"]; };
    // Taken, then given back: the file never changed, and the number is taken again.
    ASSERT_EQ(zb_process_batch(req), kTaskStatusOk);
    EXPECT_TRUE(zc_counters_taken());
    EXPECT_EQ(onDisk(), 0u);
    zc_give_back_counters();
    EXPECT_FALSE(zc_counters_taken());
    ASSERT_EQ(zb_process_batch(req), kTaskStatusOk);
    // Another program stores that number meanwhile: this one is not stored over it.
    CompanySettings other = read_settings(dir_.path() / kSettingsFileName);
    other.batch_numbers["GL"] = 1;
    write_settings(dir_.path() / kSettingsFileName, other);
    EXPECT_EQ(zc_store_counters(), CounterStore::TakenElsewhere);
    zc_give_back_counters();
    ASSERT_EQ(zb_process_batch(req), kTaskStatusOk);
    EXPECT_EQ(zc_store_counters(), CounterStore::Stored);
    EXPECT_EQ(texts, (std::vector<std::string>{"XV000001", "XV000001", "XV000002"}));
    EXPECT_EQ(onDisk(), 2u);
}

// The lock of the settings opens to exactly those who may write them, and a wait on it ends
// after its bound naming it and its holder, the next step given as a value.
TEST_F(Batches, TheSettingsLockIsTheirWritersAndAWaitOnItEndsNamingItsHolder) {
    open({"GL"});
    const std::filesystem::path settings = dir_.path() / kSettingsFileName, lock = dir_.path() / ".company.toml.locks";
    zb_batch_request req;
    req.masterFile = 1;
    req.moduleFiles = {2};
    std::filesystem::permissions(settings, std::filesystem::perms(0664));
    ASSERT_EQ(zb_process_batch(req), kTaskStatusOk);
    ASSERT_EQ(zc_store_counters(), CounterStore::Stored);
    EXPECT_EQ(std::filesystem::status(lock).permissions(), std::filesystem::perms(0660));

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        const int fd = ::open(lock.c_str(), O_RDWR);
        const char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? '1' : '0';
        (void)!::write(ready[1], &ok, 1);
        for (;;) ::pause();
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');
    ASSERT_EQ(zb_process_batch(req), kTaskStatusOk);
    xio::set_lock_wait_for_tests(std::chrono::milliseconds(200));
    SettingsFailure why;
    EXPECT_EQ(zc_store_counters(&why), CounterStore::Failed);
    xio::set_lock_wait_for_tests(std::chrono::seconds(10));
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_THAT(why.cause, ::testing::HasSubstr("the lock file " + lock.string() + " is held by process " + std::to_string(holder)));
    EXPECT_EQ(why.next.step, ui::Step::AgainWhenFinished);
    EXPECT_EQ(zc_store_counters(), CounterStore::Stored);

    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to make the lock file for another user";
    ASSERT_EQ(::chown(settings.c_str(), 1234, 1234), 0);
    std::filesystem::remove(lock);
    ASSERT_EQ(zb_process_batch(req), kTaskStatusOk);
    ASSERT_EQ(zc_store_counters(), CounterStore::Stored);
    struct stat st {};
    ASSERT_EQ(::stat(lock.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 1234u);
    // Root's write keeps the settings their owner's, and a log root begins takes their group.
    ASSERT_EQ(::stat(settings.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 1234u);
    std::filesystem::remove(dir_.path() / "dodedoz.log");
    x_log("a line");
    ASSERT_EQ(::stat((dir_.path() / "dodedoz.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_gid, 1234u);
}

// A writer of the settings by an access list entry, beside a settings' lock of another owner that
// they may not open at all: a look foretells nothing against them, and their write makes it afresh
// and stores the settings.
TEST_F(Batches, AWriterOfTheSettingsMakesAfreshALockTheyMayNotOpen) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as another user";
    open({"GL"});
    const std::filesystem::path settings = dir_.path() / kSettingsFileName, lock = dir_.path() / ".company.toml.locks";
    constexpr uid_t kWriter = 4321;
    std::filesystem::permissions(dir_.path(), std::filesystem::perms(0777));
    std::filesystem::permissions(settings, std::filesystem::perms(0644));
    ASSERT_EQ(::chown(settings.c_str(), 0, kWriter), 0);  // a rewrite of theirs keeps its group
    if (std::system(("setfacl -m u:4321:rw- " + settings.string() + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no access lists here";
    std::ofstream(lock).flush();  // root's, 0600
    std::filesystem::permissions(lock, std::filesystem::perms(0600));
    const std::string answer = testing_support::AnswerAs(kWriter, {kWriter}, [] {
        const std::string foretold = settings_lock_bar(*current_company(), false).path;
        xc_open_control_file(1);
        const bool stored = xc_wr_control_file();
        xc_cls_control_file();
        return "[" + foretold + "] " + (stored ? "stored" : "refused");
    });
    EXPECT_EQ(answer, "[] stored");
    struct stat st {};
    ASSERT_EQ(::stat(lock.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kWriter);
}

TEST_F(InitCompany, LastRunCountedPerDataFileInTheCompany) {
    open({"GL"});
    const auto path = dir_.path() / "MASTER.XVM";
    ASSERT_EQ(xio_create_file("XVM", 0, path), XIO_OK) << xio_error_text();
    uint16_t h = 0;
    ASSERT_EQ(xio_open_file(path, 1, h), XIO_OK) << xio_error_text();
    EXPECT_EQ(zc_increment_lastrun(3020, h, 1), 1.0);
    EXPECT_EQ(zc_increment_lastrun(3020, h, 1), 2.0);
    xio_cls_file(h);
    EXPECT_EQ(zc_increment_lastrun(3020, h, 1), 0.0);  // closed handle
    ASSERT_EQ(zc_store_counters(), CounterStore::Stored);
    close_company();
    CompanySettings disk = read_settings(dir_.path() / kSettingsFileName);
    EXPECT_EQ(disk.last_run.at("XVM0"), 2u);
}

TEST_F(InitCompany, LastRunKeptInTheHeaderWhenTheFileHasOne) {
    open({"GL"});
    const auto path = dir_.path() / xio_file_name("GLT", 6);
    if (xio_file_name("GLT", 6).empty()) GTEST_SKIP() << "no GLT dictionary";
    ASSERT_EQ(xio_create_file("GLT", 6, path), XIO_OK) << xio_error_text();
    uint16_t h = 0;
    ASSERT_EQ(xio_open_file(path, 1, h), XIO_OK) << xio_error_text();
    ASSERT_NE(xio_num(h, XIO_NUM_HEADER, 1, "LASTRUN"), 0);
    EXPECT_EQ(zc_increment_lastrun(3020, h, 1), 1.0);
    EXPECT_EQ(zc_increment_lastrun(3020, h, 1), 2.0);
    // The header is free again: another reader may lock it.
    EXPECT_EQ(xio_rd_header(h, 1, 1), XIO_OK);
    xio_free_header(h, 1);
    xio_cls_file(h);
    ASSERT_EQ(xio_open_file(path, 1, h), XIO_OK);
    ASSERT_EQ(xio_rd_header(h, 1, 0), XIO_OK);
    x_value_def v;
    xio_get_field(h, 0, xio_num(h, XIO_NUM_HEADER, 1, "LASTRUN"), v);
    EXPECT_EQ(v.number, 2.0);
    xio_cls_file(h);
    EXPECT_FALSE(read_settings(dir_.path() / kSettingsFileName).last_run.count("GLT6"));
}

TEST(Utilities, UuidsAreVersion7TextAndOrdered) {
    std::string prev = x_new_uuid();
    for (int i = 0; i < 2000; ++i) {
        std::string u = x_new_uuid();
        ASSERT_EQ(u.size(), 36u);
        EXPECT_EQ(u[8], '-');
        EXPECT_EQ(u[14], '7');
        EXPECT_TRUE(u[19] == '8' || u[19] == '9' || u[19] == 'a' || u[19] == 'b') << u;
        // Time, version and the in-millisecond counter: strictly rising.
        EXPECT_LT(prev.substr(0, 18), u.substr(0, 18)) << prev << " " << u;
        prev = u;
    }
}

TEST_F(InitCompany, AbortEndsTheProcessWithStatus2AndLogsWhy) {
    open({"GL"});
    pid_t child = fork();
    if (child == 0) {
        ::close(2);  // keep the test output clean
        x_abort("Out of memory");
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    std::ifstream in(dir_.path() / "dodedoz.log");
    std::string line;
    std::getline(in, line);
    EXPECT_NE(line.find("Out of memory"), std::string::npos) << line;
}

TEST(Utilities, FilesAndFolders) {
    TempFolder dir;
    auto tmp = x_temp_name();
    ASSERT_FALSE(tmp.empty());
    EXPECT_FALSE(std::filesystem::exists(tmp));
    EXPECT_EQ(tmp.parent_path(), x_temp_folder());
    EXPECT_TRUE(x_mkdir(dir.path() / "a" / "b"));
    EXPECT_TRUE(x_dir_exists(dir.path() / "a" / "b"));
    EXPECT_FALSE(x_valid_path(dir.path() / "missing"));
    EXPECT_FALSE(x_copy_file(dir.path() / "missing", dir.path() / "copy"));
    EXPECT_FALSE(x_delete_file(dir.path() / "missing"));
    EXPECT_EQ(x_path_remove_backslash("C:\\data\\"), "C:\\data");
    EXPECT_EQ(x_path_remove_backslash("C:\\"), "C:\\");
    EXPECT_EQ(x_path_remove_backslash("/srv/x//"), "/srv/x");
    EXPECT_EQ(x_path_remove_backslash("/"), "/");
}

TEST_F(InitCompany, TaskLinesGoToTheCompanyLog) {
    open({"GL"});
    x_update_task(40, "Reading GLM");
    std::ifstream in(dir_.path() / "dodedoz.log");
    std::string line;
    std::getline(in, line);
    EXPECT_NE(line.find("[40%] Reading GLM"), std::string::npos) << line;
    EXPECT_EQ(x_log_path(), dir_.path() / "dodedoz.log");
    EXPECT_EQ(xdf_get_global_data_folder(), dir_.path());
}

// One entry, one line: a line break shows as a blank, and a control character read from a file
// (a terminal's escape sequence in a folder's name) is shown, not sent to whoever reads the log.
TEST_F(InitCompany, ALogEntryIsOneLineWithItsControlCharactersShown) {
    open({"GL"});
    x_log("File backup failed for:\r/co/\033[2J\nforged");
    std::ifstream in(dir_.path() / "dodedoz.log", std::ios::binary);
    const std::string log(std::istreambuf_iterator<char>(in), {});
    EXPECT_NE(log.find(" File backup failed for: /co/\\033[2J forged\n"), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

// A company shared with its group: a log one user made under a umask that drops the group's
// write (made so, or by an earlier version) is fitted to the settings, so that the others' lines
// are not lost.
TEST_F(InitCompany, TheLogOfASharedCompanyMayBeWrittenByWhoeverMayWriteItsSettings) {
    open({"GL"});
    ASSERT_EQ(::chmod((dir_.path() / kSettingsFileName).c_str(), 0664), 0);
    const mode_t was = ::umask(022);
    x_log("first");
    ::umask(was);
    struct stat st {};
    ASSERT_EQ(::stat((dir_.path() / "dodedoz.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
    ASSERT_EQ(::chmod((dir_.path() / "dodedoz.log").c_str(), 0644), 0);
    x_log("second");
    ASSERT_EQ(::stat((dir_.path() / "dodedoz.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
}

}  // namespace
}  // namespace dz::suite

namespace dz::suite {
namespace {

TEST_F(InitCompany, PropertyManagementFilesAreNamedOnlyWhenPmIsInstalled) {
    open({"GL", "PM"});
    std::string name;
    for (auto [abbr, expect] : {std::pair{"PMN", "Tenant"}, {"PMT", "Transaction"}, {"pmp", "Property"},
                                {"PMS", "System"}, {"PML", "Lease"}, {"PMR", "Retail"}}) {
        EXPECT_TRUE(xa_get_zq_nam(abbr, name)) << abbr;
        EXPECT_EQ(name, expect);
    }
    open({"GL"});
    EXPECT_FALSE(xa_get_zq_nam("PMN", name));
}

}  // namespace
}  // namespace dz::suite

namespace dz::suite {
namespace {

// A company folder is shared: names planted in it as links must never carry the program's
// writes elsewhere. Each write below once followed such a link.
TEST_F(InitCompany, WritesInTheCompanyFolderFollowNoPlantedLink) {
    open({"GL"});
    const auto victim = dir_.path() / "victim.txt";
    { std::ofstream(victim) << "untouched"; }
    const auto read = [](const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };

    // The settings file's aside.
    const auto settings = dir_.path() / kSettingsFileName;
    std::filesystem::create_symlink(victim, settings.string() + ".new");
    write_settings(settings, current_company()->settings());
    EXPECT_EQ(read(victim), "untouched");
    EXPECT_FALSE(std::filesystem::is_symlink(settings));
    EXPECT_FALSE(std::filesystem::exists(settings.string() + ".new"));
    EXPECT_NE(read(settings).find("[control]"), std::string::npos);

    // The log: a link is refused, not appended through.
    std::filesystem::create_symlink(victim, dir_.path() / "dodedoz.log");
    x_log("a line");
    EXPECT_EQ(read(victim), "untouched");
}

}  // namespace
}  // namespace dz::suite
