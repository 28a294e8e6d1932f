// The AP invoice conversion through dodedoz-cli on a demo company holding the GL, bank and vendor
// samples: the invoice sample examined (nothing written) and converted (report, notes, the reject
// file of whole groups, the records of every accepted group, the run and payment numbers taken),
// the sample's payments file after it, a repeat of the sample whose groups are all rejected, and
// templates whose record types give no valid group structure.
//
// DZ_UPDATE_GOLDEN=1 in the environment rewrites every golden file these tests compare with.
#include "sample_cli_support.h"
#include "as_user.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <sys/stat.h>
#include <unistd.h>
#include <sstream>

namespace {

using namespace dz::cli::testing;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;

const fs::path kGolden = fs::path(DZ_TEST_DATA_DIR) / "apicli";
const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples";

#define EXPECT_HAS(text, part) EXPECT_NE((text).find(part), std::string::npos) << (text)
#define EXPECT_LACKS(text, part) EXPECT_EQ((text).find(part), std::string::npos) << (text)

class ApiCli : public SampleCliTest {
protected:
    ApiCli() : SampleCliTest(kSamples) { companyName = "Northbridge Builders"; }

    void SetUp() override {
        SampleCliTest::SetUp();
        if (HasFatalFailure()) return;
        // The chart of accounts, the banks and the vendors the invoices name.
        for (const char* sample : {"glm/demo-gl-master.txt", "cmm/demo-bank-accounts.txt"}) {
            const std::string copy = Copy(sample);
            ASSERT_LE(Cli({"convert", "--company", company.string(), copy}).status, 1) << sample;
        }
        Load(kSamples / "apm" / "setup-ap-references.load");
        ASSERT_LE(Cli({"convert", "--company", company.string(), Copy("apm/demo-vendors.txt")}).status, 1);
        Load(kSamples / "api" / "setup-references.load");
        text = Copy("api/demo-invoices.txt");
    }

    std::string Run(const std::string& command, const std::string& path, int* status = nullptr,
                    const std::vector<std::string>& more = {}) {
        std::string report, notes;
        last = SampleCliTest::Run(command, path, report, notes, more);
        if (status) *status = last.status;
        return notes.empty() ? report : report + "\f" + notes;
    }

    // The company given to user `uid` and the group kGroup (`chown -R`), and the folder `dir`
    // opened to every user for the text, report and notes files of each.
    void GiveCompanyTo(uid_t uid) {
        fs::permissions(dir, fs::perms::all);
        ASSERT_EQ(RunShell("chown -R " + std::to_string(uid) + ":" + std::to_string(kGroup) + " " +
                           ShellWord(company.string()))
                      .status,
                  0);
    }
    // `command` (convert, examine) of a copy of `textFile` as user `uid`, a member of kGroup.
    CliResult AsMember(uid_t uid, const std::string& command, const std::string& textFile,
                       const std::vector<std::string>& more = {}) {
        // Each user's own primary group, the company's as another.
        std::string cmd = "setpriv --reuid=" + std::to_string(uid) + " --regid=" + std::to_string(uid) +
                          " --groups=" + std::to_string(kGroup) + " env HOME=/tmp DODEDOZ_NOW=" + ShellWord(now) +
                          " " + ShellWord(DZ_CLI_BIN) + " " + command + " --company " + ShellWord(company.string());
        for (const auto& m : more) cmd += " " + ShellWord(m);
        const fs::path copy = dir / ("u" + std::to_string(uid) + "-" + fs::path(textFile).filename().string());
        fs::copy_file(textFile, copy, fs::copy_options::overwrite_existing);
        ::chown(copy.c_str(), uid, uid);
        return RunShell(cmd + " " + ShellWord(copy.string()) + " </dev/null 2>&1");
    }
    static constexpr gid_t kGroup = 4100;

    // The header lines of the AP master, AP transaction and CM transaction files.
    std::string Headers() {
        std::string out;
        for (const char* abbr : {"APM", "APT", "CMT"}) {
            std::istringstream dump(Dump(abbr));
            for (std::string line; std::getline(dump, line);)
                if (line.rfind("H1 ", 0) == 0) out += std::string(abbr) + " " + line + "\n";
        }
        return out;
    }

    std::string text;
    CliResult last;
};

TEST_F(ApiCli, ExamineFindsTheBadGroupsInBothPassesAndWritesNothing) {
    // The TRUST bank has no last-check record: examining composes one and writes nothing.
    const auto before = Files();
    int status = 0;
    const std::string report = Run("examine", text, &status);
    ExpectGolden(report, kGolden / "sample_examine.txt");
    EXPECT_EQ(status, 1) << last.err;
    EXPECT_EQ(Files(), before);  // every data file and the text file byte for byte
}

TEST_F(ApiCli, ConvertRejectsWholeGroupsAndTakesRunAndPaymentNumbers) {
    int status = 0;
    const std::string report = Run("convert", text, &status);
    ExpectGolden(report, kGolden / "sample_convert.txt");
    EXPECT_EQ(status, 1) << last.err;
    ExpectGolden(Slurp(dir / "RejAPI.txt"), kGolden / "sample_reject.txt");
    // An invoice paid by a check that no check line carries is rejected for that check.
    EXPECT_HAS(report, "Check '10520' is not found in the text file(1728)");
    ExpectGolden(Headers(), kGolden / "sample_headers.txt");
    // The checks' CM transactions, each bank's last AP check (the one that had drawn none got its
    // record).
    ExpectGolden(Dump("CMM") + "\f" + Dump("CMT"), kGolden / "sample_cm_dump.txt");
    EXPECT_HAS(Slurp(text), "#,\"Previously Converted\",\"by Ann Lee\"");
    // The reject file converts as it stands: its groups keep their lines.
    EXPECT_HAS(Slurp(dir / "RejAPI.txt"), "4,OPERATING,10510,");
    // The tax group a distribution named, created with the conversion's own tax.
    ExpectGolden(Dump("TXM"), kGolden / "sample_tax_dump.txt");
    // Every accepted group on file: invoices, distributions, taxes, checks, payments, the vendors.
    ExpectGolden(Dump("APM") + "\f" + Dump("APT"), kGolden / "sample_ap_dump.txt");

    // Payments of two invoices the sample put on file; examining them writes nothing.
    const std::string payments = Copy("api/payments.txt");
    const auto before = Files();
    Run("examine", payments, &status);
    EXPECT_EQ(status, 0) << last.err;
    EXPECT_EQ(Files(), before);
    ExpectGolden(Run("convert", payments, &status), kGolden / "payments_sample_convert.txt");
    EXPECT_EQ(status, 0) << last.err;
    const std::string apm = Dump("APM");
    EXPECT_HAS(apm, "R6 PIVND=\"BAYCONC\" PIINV=\"B-2001\" PIBANK=\"OPERATING\" PICHECK=10509 PIDSEQ=2");
    EXPECT_HAS(apm, "R1 OIVND=\"MORROWPIKE\" OIINV=\"M-4000\" OIFLAGS=0 OIDESC=\"December rent\" OISTAT=4");
}

// A company shared with `chmod -R g+w` after a first conversion by one member: another member's
// conversion stores its numbers under the settings' lock, which is fitted to them; one who may
// not write the settings is told 12016's words, then the lock file and why.
TEST_F(ApiCli, AnotherMemberConvertsOnceTheCompanyIsGivenToItsGroup) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as two users of one group";
    DZ_SKIP_UNLESS_OTHERS_REACH(DZ_CLI_BIN);
    constexpr uid_t kFirst = 4101, kSecond = 4102;
    GiveCompanyTo(kFirst);
    auto as = [&](uid_t uid, const std::string& textFile, const std::vector<std::string>& more = {}) {
        return AsMember(uid, "convert", textFile, more);
    };
    const CliResult first = as(kFirst, text);
    ASSERT_LE(first.status, 1) << first.out;
    ASSERT_EQ(RunShell("chmod -R g+w " + ShellWord(company.string())).status, 0);
    const CliResult second = as(kSecond, (samples / "api" / "payments.txt").string());
    EXPECT_EQ(second.status, 0) << second.out;
    EXPECT_HAS(Dump("APM"), "PIINV=\"B-2001\" PIBANK=\"OPERATING\" PICHECK=10509");

    // The settings no longer the group's to write, but the first's: the second is refused before
    // anything is read, naming both the settings and the lock file the first made, never after
    // reading the whole file, nor replacing the settings.
    ASSERT_EQ(::chown((company / "company.toml").c_str(), kFirst, kGroup), 0);
    ASSERT_EQ(::chmod((company / "company.toml").c_str(), 0644), 0);
    fs::remove(company / ".company.toml.locks");
    const std::vector<std::string> again{"--reconvert", "--duplicate-invoices", "1"};
    ASSERT_LE(as(kFirst, text, again).status, 1);
    const CliResult refused = as(kSecond, text, again);
    EXPECT_EQ(refused.status, 2);
    EXPECT_HAS(refused.out, "Company settings file cannot be written: you do not have permission");
    EXPECT_HAS(refused.out, "for leave to write " + (company / "company.toml").string() + ", " +
                                (company / ".company.toml.locks").string() + " and the folders they are in");
    EXPECT_THAT(refused.out, ::testing::Not(::testing::HasSubstr(" read, none kept")));
    struct stat st {};
    ASSERT_EQ(::stat((company / "company.toml").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kFirst);
    // Nor is a data file this user may not write named alone: every file is, at once.
    ASSERT_EQ(::chmod((company / "MASTER.APM").c_str(), 0644), 0);
    EXPECT_HAS(as(kSecond, text, again).out, "for leave to write " + (company / "MASTER.APM").string() + ", " +
                                                 (company / "company.toml").string() + ", ");
}

// A user given the company by access-list entries alone, of none of its groups, under a company
// folder named relative: refused before anything is read, told at once every file it may not
// write (the invoice files, which the conversion opens besides its profile's, among them),
// each named absolute, and the group the settings would lose; given write on them all, it is
// asked for the group alone; given a group of theirs, its rewrite keeps the settings' list.
TEST_F(ApiCli, AnAccessListWriterIsToldEveryLeaveItNeedsAtOnce) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as another user";
    DZ_SKIP_UNLESS_OTHERS_REACH(DZ_CLI_BIN);
    constexpr uid_t kUser = 4103;
    fs::permissions(dir, fs::perms::all);
    const std::string co = ShellWord(company.string());
    ASSERT_EQ(RunShell("setfacl -m u:4103:rwx " + co).status, 0);
    const std::string copy = (dir / "acl.txt").string();
    fs::copy_file(text, copy);
    ::chown(copy.c_str(), kUser, kUser);
    auto run = [&] {
        return RunShell("cd " + ShellWord(dir.string()) + " && setpriv --reuid=4103 --regid=4103 --clear-groups env "
                        "HOME=/tmp DODEDOZ_NOW=" + ShellWord(now) + " " + ShellWord(DZ_CLI_BIN) + " convert --company " +
                        ShellWord(company.filename().string()) + " " + ShellWord(copy) + " </dev/null 2>&1");
    };
    const CliResult first = run();
    EXPECT_EQ(first.status, 2);
    EXPECT_THAT(first.out, HasSubstr("for leave to write " + (company / "MASTER.APM").string() + ", "));
    EXPECT_THAT(first.out, HasSubstr((company / "NEW.API").string() + ", " + (company / "HISTORY.API").string() + ", " +
                                     (company / "company.toml").string()));
    EXPECT_THAT(first.out, HasSubstr("make you a member of the group root, or the owner of " +
                                     (company / "company.toml").string() + " to give it a group you are a member of"));
    EXPECT_THAT(first.out, Not(HasSubstr(" read, none kept")));

    ASSERT_EQ(RunShell("setfacl -m u:4103:rw " + co + "/*").status, 0);
    const CliResult second = run();
    EXPECT_EQ(second.status, 2);
    EXPECT_THAT(second.out, HasSubstr("Company settings file cannot be written by you: the file written in its place "
                                      "would lose its group root"));
    EXPECT_THAT(second.out, Not(HasSubstr("for leave to write")));
    // The run's ending names what its check refused: the settings, not a data file.
    EXPECT_THAT(second.out, HasSubstr("the run ended: a check of the company's settings file ended the run"));
    // The one cause said once, under which the step follows.
    EXPECT_EQ(second.out.find("as you are not a member of it"), second.out.rfind("as you are not a member of it"))
        << second.out;
    EXPECT_THAT(second.out, Not(HasSubstr(" read, none kept")));

    ASSERT_EQ(::chown((company / "company.toml").c_str(), 0, kUser), 0);
    EXPECT_LE(run().status, 1);
    struct stat st {};
    ASSERT_EQ(::stat((company / "company.toml").c_str(), &st), 0);
    EXPECT_EQ(st.st_gid, kUser);
    // Root, its owner before, keeps what it had by a named entry.
    EXPECT_THAT(RunShell("getfacl -n " + co + "/company.toml").out, HasSubstr("user:0:rw-"));
}

// A member's conversion killed inside its first commit, its data file left in the middle of the
// write: another member's writing command takes that write back and tells the conversion as one
// whose writes were taken back, as does their look after it; the converting member's own writing
// command clears what the run left (its marker, copies, lock and idle journals).
TEST_F(ApiCli, AConversionKilledInItsFirstCommitIsToldAsTakenBackAndClearedByItsUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as two users of one group";
    DZ_SKIP_UNLESS_OTHERS_REACH(DZ_CLI_BIN);
    constexpr uid_t kFirst = 4101, kSecond = 4102;
    GiveCompanyTo(kFirst);
    // Shared as a group shares it: what a member makes there is the group's.
    ASSERT_EQ(RunShell("chmod -R g+w " + ShellWord(company.string()) + " && find " + ShellWord(company.string()) +
                       " -type d -exec chmod g+s {} +")
                  .status,
              0);
    const fs::path base = dir / "base", empty = dir / "empty.load";
    ASSERT_EQ(RunShell("cp -a " + ShellWord(company.string()) + " " + ShellWord(base.string())).status, 0);
    Spit(empty, "");
    fs::copy_file(text, dir / "co.txt");
    fs::permissions(dir / "co.txt", fs::perms(0644));
    auto as = [&](uid_t uid, const std::string& words, const std::string& env = "") {
        return RunShell("setpriv --reuid=" + std::to_string(uid) + " --regid=" + std::to_string(uid) +
                        " --groups=" + std::to_string(kGroup) + " env HOME=/tmp DODEDOZ_NOW=" + ShellWord(now) + " " +
                        env + " " + ShellWord(DZ_CLI_BIN) + " " + words + " </dev/null 2>&1");
    };
    const std::string co = " --company " + ShellWord(company.string()) + " ";
    // The first sync at which the run stops with its marker filled and a data file's journal hot.
    auto stoppedInCommit = [&] {
        const fs::path backup = company / ".backup";
        if (!fs::exists(backup)) return false;
        bool filled = false, hot = false;
        for (const auto& e : fs::directory_iterator(backup))
            filled = filled || (e.path().extension() == ".marker" && fs::file_size(e.path()) > 0);
        for (const auto& e : fs::directory_iterator(company))
            hot = hot || (e.path().filename().string().ends_with("-journal") && Slurp(e.path()).rfind("\xd9\xd5", 0) == 0);
        return filled && hot;
    };
    int point = 1;
    for (; point < 400; ++point) {
        ASSERT_EQ(RunShell("rm -rf " + ShellWord(company.string()) + " && cp -a " + ShellWord(base.string()) + " " +
                           ShellWord(company.string()))
                      .status,
                  0);
        const CliResult killed = as(kFirst, "convert" + co + ShellWord((dir / "co.txt").string()),
                                    "LD_PRELOAD=" + ShellWord(DZ_KILL_AT_SYNC_LIB) + " DZ_KILL_AT_SYNC=" + std::to_string(point));
        ASSERT_NE(killed.status, 0) << "the conversion ran to its end before it stopped inside a commit";
        ASSERT_NE(killed.status, 1) << "the conversion ran to its end before it stopped inside a commit";
        if (stoppedInCommit()) break;
    }
    SCOPED_TRACE("killed at sync " + std::to_string(point));
    const std::string taken = "A conversion that stopped stands in the company with nothing of it posted";
    const CliResult second = as(kSecond, "load" + co + ShellWord(empty.string()));
    EXPECT_EQ(second.status, 0) << second.out;
    EXPECT_HAS(second.out, "it was taken back from its journal");
    EXPECT_HAS(second.out, taken);
    EXPECT_HAS(second.out, "whatever that conversion wrote was taken back");
    EXPECT_LACKS(second.out, "no conversion");
    const CliResult look = as(kSecond, "dump" + co + "APM");
    EXPECT_EQ(look.status, 0) << look.out;
    EXPECT_HAS(look.out, taken);

    const CliResult first = as(kFirst, "load" + co + ShellWord(empty.string()));
    EXPECT_EQ(first.status, 0) << first.out;
    EXPECT_LACKS(first.out, "run marker");
    for (const auto& e : fs::directory_iterator(company / ".backup"))
        EXPECT_EQ(e.path().filename(), "folder.lock") << "left by the run";
    for (const auto& e : fs::directory_iterator(company))
        EXPECT_FALSE(e.path().filename().string().ends_with("-journal")) << e.path();
}

// A sticky company folder keeps its files for their owner: another member's conversion could
// neither store its numbers nor put its data files back, so it is refused before it writes
// anything (Examine Files foretells it), with what works instead; the owner converts.
TEST_F(ApiCli, AMemberConvertsNothingInAStickyFolderOfAnotherOwnersFiles) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as two users of one group";
    DZ_SKIP_UNLESS_OTHERS_REACH(DZ_CLI_BIN);
    constexpr uid_t kOwner = 4111, kMember = 4112;
    GiveCompanyTo(kOwner);
    ASSERT_EQ(RunShell("chmod -R g+w " + ShellWord(company.string())).status, 0);
    ASSERT_EQ(::chmod(company.c_str(), 03775), 0);
    const auto before = Files(company);
    for (const char* command : {"examine", "convert"}) {
        const CliResult refused = AsMember(kMember, command, text);
        EXPECT_EQ(refused.status, 2) << refused.out;
        EXPECT_THAT(refused.out, HasSubstr(company.string() + " is a sticky folder (mode 3775)"));
        // The settings first, two files by name, the others counted.
        EXPECT_THAT(refused.out, ContainsRegex("must replace company\\.toml, [A-Z]+\\.[A-Z]+ and [0-9]+ other files "
                                               "\\(of uid 4111\\) when it stores its numbers"));
        EXPECT_THAT(refused.out, HasSubstr("\nNext: have an administrator remove the sticky bit of " +
                                           company.string() + " (chmod -t)"));
        // Each command in its own words: the owner runs the examine, not a conversion.
        const bool examining = std::string(command) == "examine";
        EXPECT_THAT(refused.out, HasSubstr(examining ? "Nothing is examined: " : "Nothing is converted: "));
        EXPECT_THAT(refused.out, HasSubstr(examining ? "who owns the files, run it\n" : "who owns the files, convert\n"));
        EXPECT_THAT(refused.out, HasSubstr(examining ? "so nothing is examined\n" : "so nothing is written\n"));
    }
    EXPECT_EQ(Files(company), before);  // no marker, no copy, no data file touched
    const CliResult owners = AsMember(kOwner, "convert", text);
    EXPECT_LE(owners.status, 1) << owners.out;
    EXPECT_NE(Files(company), before);
    // Given every file a conversion replaces, the member converts there: the lock files it may
    // open stay the owner's.
    ASSERT_EQ(RunShell("cd " + ShellWord(company.string()) + " && chown 4112 * .company.toml.locks").status, 0);
    const CliResult given = AsMember(kMember, "examine", text);
    EXPECT_LE(given.status, 1) << given.out;
}

TEST_F(ApiCli, ReconvertingWithDuplicatesRejectedRejectsEveryGroupAndWritesNothing) {
    const std::string copy = (dir / "again.txt").string();
    fs::copy_file(text, copy);
    ASSERT_LE(Cli({"convert", "--company", company.string(), text}).status, 1);
    const char* files[] = {"APM", "APT", "CMM", "CMT", "TXM"};
    std::vector<std::string> before;
    for (const char* abbr : files) before.push_back(Dump(abbr));
    int status = 0;
    const std::string report = Run("convert", copy, &status, {"--reconvert", "--duplicate-invoices", "1"});
    EXPECT_HAS(report, "(1613)");
    EXPECT_HAS(report, "Check Management Check 'OPERATING, 10501' already exists(1719)");
    // Every group processed is rejected, none converted.
    EXPECT_TRUE(std::regex_search(report, std::regex("Total: +([0-9]+) +[0-9]+ +\\1 +0\n"))) << report;
    // Only the run numbers and the payment number move: every record and every other header
    // field of the five files is as the first conversion left it.
    const std::regex moving(" (LASTRUN|LASTPMT)=[0-9]+");
    for (std::size_t k = 0; k < before.size(); ++k) {
        const std::string after = Dump(files[k]);
        EXPECT_EQ(std::regex_replace(after, moving, ""), std::regex_replace(before[k], moving, "")) << files[k];
        if (k != 2 && k != 4) {
            EXPECT_NE(after, before[k]) << files[k] << ": its run number moves";
        }
    }
}

TEST_F(ApiCli, PaymentsWithoutCheckLinesMakeTheirChecks) {
    // Open invoices to pay, and a check another application wrote.
    Spit(dir / "on-file.load",
         "@APM\n"
         "R1 OIVND=\"BAYCONC\" OIINV=\"B-9001\" OIDESC=\"Ready mix\" OISTAT=1 OIAMT=30000 OIDATE=2026-11-20 "
         "OIACTDT=2026-11-20\n"
         "R2 ODVND=\"BAYCONC\" ODINV=\"B-9001\" ODDSEQ=1 ODSTAT=1 ODAMT=20000 ODEXP=\"01110510000\"\n"
         "R2 ODVND=\"BAYCONC\" ODINV=\"B-9001\" ODDSEQ=2 ODSTAT=1 ODAMT=10000 ODEXP=\"01110510000\"\n"
         "R1 OIVND=\"MORROWPIKE\" OIINV=\"M-9001\" OISTAT=1 OIAMT=10000 OIDATE=2026-11-20 OIACTDT=2026-11-20\n"
         "R2 ODVND=\"MORROWPIKE\" ODINV=\"M-9001\" ODDSEQ=1 ODSTAT=1 ODAMT=10000 ODEXP=\"01110600000\"\n"
         "R1 OIVND=\"BAYCONC\" OIINV=\"B-9002\" OISTAT=1 OIAMT=10500 OIDATE=2026-11-20 OIACTDT=2026-11-20\n"
         "R2 ODVND=\"BAYCONC\" ODINV=\"B-9002\" ODDSEQ=1 ODSTAT=1 ODAMT=10500 ODEXP=\"01110510000\"\n"
         "R1 OIVND=\"BAYCONC\" OIINV=\"B-9003\" OISTAT=1 OIAMT=500 OIDATE=2026-11-20 OIACTDT=2026-11-20\n"
         "R2 ODVND=\"BAYCONC\" ODINV=\"B-9003\" ODDSEQ=1 ODSTAT=1 ODAMT=500 ODEXP=\"01110510000\"\n"
         "R4 CBANK=\"OPERATING\" CHECK=10490 CDATE=2026-11-01 CAMOUNT=10000 CVENDOR=\"BAYCONC\" CAPPL=\"AP\"\n");
    Load(dir / "on-file.load");
    Spit(dir / "payments.tpl",
         "format 1\nfile APM 1\nrecord 1\nfield OIVND\nfield OIINV\n"
         "format 6\nfile APM 1\nrecord 6\nfield PIVND\nfield PIINV\nfield PIBANK\nfield PICHECK\n"
         "field PIDSEQ\nfield PIGROSS\nfield PIDSCT\nfield PIDSCAC\nspecial \"AP Check Date\" date\n");
    const std::string payments = (dir / "payments.txt").string();
    Spit(payments, "#,API," + (dir / "payments").string() +
                       "\r\n"
                       // Two checks pay one distribution; a third payment by the first check names another
                       // date; a payment without discount loses its discount account silently.
                       "1,BAYCONC,B-9001\r\n6,BAYCONC,B-9001,OPERATING,10601,1,100.00,,01-1-10-5200-00,12/10/26\r\n"
                       "6,BAYCONC,B-9001,OPERATING,10602,1,50.00,,,12/10/26\r\n"
                       "6,BAYCONC,B-9001,OPERATING,10601,2,20.00,,,12/11/26\r\n"
                       // The same distribution paid twice by one check.
                       "1,MORROWPIKE,M-9001\r\n6,MORROWPIKE,M-9001,OPERATING,10603,1,10.00,,,12/10/26\r\n"
                       "6,MORROWPIKE,M-9001,OPERATING,10603,1,10.00,,,12/10/26\r\n"
                       // A check that was not made by a conversion; a new check without its date.
                       "1,BAYCONC,B-9002\r\n6,BAYCONC,B-9002,OPERATING,10490,1,105.00,,,12/10/26\r\n"
                       "1,BAYCONC,B-9002\r\n6,BAYCONC,B-9002,OPERATING,10604,1,105.00,,,\r\n"
                       // Examining, a later group's payment by check 10601 names yet another date.
                       "1,BAYCONC,B-9003\r\n6,BAYCONC,B-9003,OPERATING,10601,1,5.00,,,12/12/26\r\n");
    const auto before = Files();
    ExpectGolden(Run("examine", payments), kGolden / "payments_examine.txt");
    EXPECT_EQ(Files(), before);
    ExpectGolden(Run("convert", payments), kGolden / "payments_convert.txt");
    // Check 10601, made by the first invoice's group, is extended by the last one's payment: one
    // CM transaction with one cash detail, of all three payments.
    const std::string cmt = Dump("CMT");
    EXPECT_HAS(cmt, "TCHECK=10601");
    EXPECT_EQ(cmt.find("TCHECK=10601"), cmt.rfind("TCHECK=10601")) << cmt;
    EXPECT_HAS(cmt, "TSUBTR=12500 TADD=0");
    EXPECT_HAS(cmt, "CDAMT=12500");
}

TEST_F(ApiCli, EachGroupAddsToTheVendorAsTheGroupBeforeLeftItInWhateverCaseItIsNamed) {
    std::string lines = "#,API,xvapi\r\n";
    int n = 0;
    for (const char* vendor : {"BAYCONC", "bayconc", "BAYCONC", "BayConc  "}) {
        const std::string invoice = std::string(vendor) + ",C-" + std::to_string(++n);
        lines += "1," + invoice + ",Gravel,11/05/26,11/05/26,,,11/05/26,10.00" + std::string(36, ',') + "\r\n2," +
                 invoice + ",1,Gravel,10.00,,,,,,01-1-10-5100-00" + std::string(42, ',') + "\r\n";
    }
    const std::string path = (dir / "cases.txt").string();
    Spit(path, lines);
    int status = 0;
    const std::string report = Run("convert", path, &status);
    EXPECT_EQ(status, 0) << report;
    const std::string apm = Dump("APM");
    EXPECT_HAS(apm, "R9 VENDOR=\"BAYCONC\" ");
    EXPECT_HAS(apm, " VOAMT=4000 ");
    EXPECT_HAS(apm, " VYTDAMT=4000 ");
}

TEST_F(ApiCli, PaidTotalsOfVendorsOnFileAccumulateUnlessClearingIsSaidOutright) {
    // Vendors on file and not one invoice: a run without the option keeps every vendor's totals
    // and adds to them; only --paid-totals 1 clears them, after the question.
    Spit(dir / "stale.load", "@APM\nR9 VENDOR=\"STALE\" VNAME=\"Stale totals\" VYTDPD=123400 VYTDAMT=5000\n");
    Load(dir / "stale.load");
    const std::string path = (dir / "one.txt").string();
    const std::string body = "#,API,xvapi\r\n1,BAYCONC,C-1,Gravel,11/05/26,11/05/26,,,11/05/26,10.00" +
                             std::string(36, ',') + "\r\n2,BAYCONC,C-1,1,Gravel,10.00,,,,,,01-1-10-5100-00" +
                             std::string(42, ',') + "\r\n";
    Spit(path, body);
    int status = 0;
    Run("convert", path, &status);
    EXPECT_EQ(status, 0) << last.err;
    EXPECT_LACKS(last.err, "clear accumulated totals");
    auto stale = [&] {
        for (const auto& vendor : DumpedRecords("APM", 9))
            if (vendor.at("VENDOR") == "\"STALE\"") return vendor.at("VYTDPD") + " " + vendor.at("VYTDAMT");
        return std::string("no vendor STALE");
    };
    EXPECT_EQ(stale(), "123400 5000");

    const std::string again = (dir / "two.txt").string();
    Spit(again, ReplaceAll(body, "C-1", "C-2"));
    Run("convert", again, &status, {"--paid-totals", "1"});
    EXPECT_EQ(status, 0) << last.err;
    EXPECT_HAS(last.err, "question: Are you sure you want to clear accumulated totals for all vendors?");
    EXPECT_EQ(stale(), "0 0");
}

TEST_F(ApiCli, APostedGroupStoresThePaidInvoicesFlagAndJournalAndTheVendorsLastInvoice) {
    // A vendor whose invoices start from flag word 3.
    Spit(dir / "flagged.load", "@APM\nR9 VENDOR=\"FLAGGED\" VNAME=\"Flagged\" VFLAGW=3\n");
    Load(dir / "flagged.load");
    const std::string path = (dir / "paid.txt").string();
    Spit(path, "#,API,xvapi\r\n1,FLAGGED,F-7,Gravel,11/05/26,11/05/26,,,11/05/26,120.00" + std::string(36, ',') +
                   "\r\n2,FLAGGED,F-7,1,Gravel,120.00,,,,,,01-1-10-5100-00" + std::string(42, ',') +
                   "\r\n6,FLAGGED,F-7,OPERATING,20001,1,,120.00,,,,,,,,,,,,,,,12/01/26,1,,\r\n"
                   "4,OPERATING,20001,12/01/26,,120.00,FLAGGED,1,,,,,," + std::string(11, ',') + "\r\n");
    int status = 0;
    const std::string report = Run("convert", path, &status);
    EXPECT_EQ(status, 0) << report << last.err;
    const std::string apm = Dump("APM");
    EXPECT_HAS(apm, "R5 PIVND=\"FLAGGED\" PIINV=\"F-7\" PIBANK=\"OPERATING\" PICHECK=20001 ");
    EXPECT_HAS(apm, " PIPDFLG=1 PIGLJRN=5\n");
    EXPECT_HAS(apm, " VLSTINV=\"F-7\" VLSTIDT=2026-11-05 VLSTIAM=12000 VFLAGW=3\n");
    EXPECT_HAS(apm, " OIFLAGW=3");
}

TEST_F(ApiCli, TemplatesWithoutAValidGroupStructureAreRefusedWhole) {
    auto run = [&](const std::string& name, const std::string& formats) {
        Spit(dir / (name + ".tpl"), formats);
        Spit(dir / (name + ".txt"), "#,API," + (dir / name).string() + "\r\n1,HARBORLUM,X1\r\n");
        return Run("examine", (dir / (name + ".txt")).string());
    };
    const std::string invoice = "format 1\nfile APM 1\nrecord 1\nfield OIVND\nfield OIINV\n";
    const std::string check = "format 4\nfile APM 1\nrecord 4\nfield CBANK\nfield CHECK\n";
    auto dist = [](const char* id) {
        return std::string("format ") + id + "\nfile APM 1\nrecord 2\nfield ODVND\nfield ODINV\nfield ODDSEQ\n";
    };
    const std::string two = run("two", invoice + dist("2") + dist("2B") + check);
    EXPECT_HAS(two, "There cannot be more than one ID per record type in the template. Distribution has more than one.");
    EXPECT_HAS(two, "Unable to create a valid group structure from the file abbreviations, file codes, and/or record "
                    "types in the template");
    EXPECT_LT(two.find("more than one."), two.find("valid group structure"));
    const std::string noPayments = run("nopay", invoice + dist("2") + check);
    EXPECT_HAS(noPayments, "Unable to create a valid group structure");
    EXPECT_LACKS(noPayments, "more than one");
}

}  // namespace
