// dodedoz-cli convert, examine and replay run as a separate process on a fresh company with the
// GL master converter: exit status by outcome, reports to standard output or files, the
// per-file summary, the answers by option, and a stored run replayed.
#include "platform/datafile/xio.h"
#include "as_user.h"
#include "platform/suite/company.h"

#include "cli_support.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <sstream>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace dz::cli::testing;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

class ConvertCli : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.empty());
        ASSERT_EQ(Run("company init " + company.string()).status, 0);
        tpl = (fs::path(DZ_SOURCE_DATA_DIR) / "templates" / "xvglm.tpl").string();
    }

    // Runs dodedoz-cli with the words of `args`, standard input empty, the two output streams apart.
    CliResult Run(const std::string& args) { return RunCli(Words(args), dir); }

    // A GL master text file: base account 1000-00 and journal 1, plus `extra` lines.
    std::string Text(const std::string& name, const std::string& extra = "") {
        const fs::path p = dir / name;
        Spit(p, "#,GLM," + tpl + "\r\n6,1000-00,Cash - operating,1,,,,,,,,5\r\n2,1,N\r\n" + extra);
        return p.string();
    }
    std::string Co() const { return "--company " + company.string(); }

    // Leaves what a conversion that died after committing MASTER.GLM leaves: its marker, naming
    // the copy of the file as it stood `before`. Answers the copy's path.
    fs::path PlantDeadRun(const std::string& before) {
        const pid_t dead = ::fork();
        if (dead == 0) ::_exit(0);
        EXPECT_EQ(::waitpid(dead, nullptr, 0), dead);
        char host[256] = {};
        EXPECT_EQ(::gethostname(host, sizeof host - 1), 0);
        std::string h = host;
        std::replace(h.begin(), h.end(), '~', '_');
        std::replace(h.begin(), h.end(), '/', '_');
        const fs::path backup = company / ".backup";
        fs::create_directories(backup);
        fs::permissions(backup, fs::perms::owner_all);
        const fs::path copy = backup / ("MASTER.GLM~" + h + "~" + std::to_string(dead));
        Spit(copy, before);
        Spit(backup / ("run~" + h + "~" + std::to_string(dead) + ".marker"),
             "dodedoz run marker\nhost " + h + "\nprocess " + std::to_string(dead) + "\ncopy " +
                 copy.filename().string() + "\nend\n");
        return copy;
    }

    ScratchFolder scratch;
    fs::path dir = scratch.path(), company = dir / "co";
    std::string tpl;
};

const std::string kRejectedJournal = "2,0,N\r\n";  // journal number 0 is refused

TEST_F(ConvertCli, ACleanFileConvertsWithStatusZeroAndItsReportOnStandardOutput) {
    const std::string text = Text("clean.txt");
    CliResult r = Run("convert " + Co() + " " + text);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Converting " + text + " into GL Master File"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("dodedoz: " + text + ": 2 accepted, 0 rejected, 0 messages, 0 notes\n"), std::string::npos)
        << r.err;
    // The text file is stamped, in its own line ends (CRLF here): a second conversion is
    // questioned and, by default, skipped.
    const std::string stamped = Slurp(text);
    EXPECT_NE(stamped.find("Previously Converted"), std::string::npos);
    EXPECT_EQ(std::count(stamped.begin(), stamped.end(), '\n'), std::count(stamped.begin(), stamped.end(), '\r'))
        << stamped;
    r = Run("convert " + Co() + " " + text);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("has already been converted"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("dodedoz: answered: skip the file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(text + ": skipped; not run"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("the run ended"), std::string::npos) << r.err;  // a skip ends no run
    // --reconvert goes ahead: the records are on file now, so both are rejected.
    r = Run("convert " + Co() + " --reconvert " + text);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("dodedoz: answered: go ahead"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("dodedoz: " + text + ": 0 accepted, 2 rejected"), std::string::npos) << r.err;
}

TEST_F(ConvertCli, RejectedRecordsGiveStatusOneAndExamineWritesNothing) {
    const std::string text = Text("bad.txt", kRejectedJournal);
    const std::string before = Slurp(company / "MASTER.GLM");
    CliResult r = Run("examine " + Co() + " " + text);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("Examining " + text + " for GL Master File"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("2 accepted, 1 rejected"), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(company / "MASTER.GLM"), before);
    EXPECT_EQ(Slurp(text).find("Previously Converted"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "RejGLM.txt"));
}

TEST_F(ConvertCli, ReportAndNotesGoToTheirFiles) {
    const std::string text = Text("bad.txt", kRejectedJournal + "6N,1000-00,\"A note for the base account.\"\r\n");
    const fs::path report = dir / "report.txt", notes = dir / "notes.txt";
    CliResult r = Run("convert " + Co() + " --report " + report.string() + " --notes " + notes.string() + " " + text);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");
    const std::string rep = Slurp(report);
    EXPECT_EQ(rep.rfind("Converting " + text + " into GL Master File", 0), 0u) << rep;
    EXPECT_NE(rep.find("Zero Journal number is not allowed"), std::string::npos) << rep;
    EXPECT_EQ(rep.find("Messages recorded while"), std::string::npos) << rep;
    EXPECT_TRUE(fs::exists(dir / "RejGLM.txt"));
    EXPECT_TRUE(fs::exists(notes));

    // Both to standard output: the report first, then the notes.
    const std::string again = Text("again.txt", kRejectedJournal);
    r = Run("examine " + Co() + " --reconvert " + again);
    const auto conv = r.out.find("Examining ");
    ASSERT_NE(conv, std::string::npos) << r.out;
    const auto msgs = r.out.find("Messages recorded while examining");
    if (msgs != std::string::npos) {
        EXPECT_GT(msgs, conv);
    }

    r = Run("examine " + Co() + " --report " + (dir / "no" / "such" / "r.txt").string() + " " + again);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot write the report file"), std::string::npos) << r.err;
}

const std::string kNotedAccount = "6,4000-00,Contract revenue,7,,,,,,3,,\r\n";  // a note: intercompany status

TEST_F(ConvertCli, WarningsFollowTheReportIntoItsFileAndAReportThatCannotOpenRunsNothing) {
    const std::string text = Text("noted.txt", kNotedAccount);
    const fs::path report = dir / "report.txt";
    CliResult r = Run("convert " + Co() + " --report " + report.string() + " " + text);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const std::string rep = Slurp(report);
    const auto pointer = rep.find("Look at the next page to view warnings");
    ASSERT_NE(pointer, std::string::npos) << rep;
    EXPECT_THAT(rep.substr(pointer), HasSubstr("Messages recorded while converting the file " + text));
    EXPECT_THAT(rep, HasSubstr("intercompany status"));

    const std::string master = Slurp(company / "MASTER.GLM");
    const std::string other = Text("other.txt", kRejectedJournal);
    r = Run("convert " + Co() + " --report " + (dir / "no" / "such" / "r.txt").string() + " " + other);
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("cannot write the report file " + (dir / "no" / "such" / "r.txt").string()));
    EXPECT_THAT(r.err, Not(HasSubstr("accepted")));
    EXPECT_THAT(Slurp(other), Not(HasSubstr("Previously Converted")));
    EXPECT_EQ(Slurp(company / "MASTER.GLM"), master);
}

// dodedoz-cli with its standard output sent to `target` (a full device, say).
CliResult RunWithOutputTo(const std::vector<std::string>& args, const fs::path& scratch, const std::string& target) {
    std::string cmd = ShellWord(DZ_CLI_BIN);
    for (const auto& a : args) cmd += " " + ShellWord(a);
    const fs::path errFile = scratch / ".cli-stderr.txt";
    cmd += " </dev/null >" + ShellWord(target) + " 2>" + ShellWord(errFile.string());
    const int st = std::system(cmd.c_str());
    CliResult r;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.err = Slurp(errFile);
    return r;
}

TEST_F(ConvertCli, AReportThatCannotBeWrittenPutsTheDataFileBackAndLeavesTheTextUnstamped) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full to stand for a full disk";
    const std::string master = Slurp(company / "MASTER.GLM");
    // The line that failed is named, a rejected record's or the totals', and the full disk as why.
    const std::string rejected = Text("rejected.txt", kRejectedJournal);
    CliResult r = RunWithOutputTo(Words("convert " + Co() + " " + rejected), dir, "/dev/full");
    EXPECT_EQ(r.status, 2) << r.err;
    // The record whose line failed was read (and rejected): it counts.
    EXPECT_THAT(r.err, HasSubstr("rejected.txt: 3 read, none kept: Unable to print rejecting record messages: No "
                                 "space left on device; every data file put back\n"));
    EXPECT_EQ(Slurp(company / "MASTER.GLM"), master);
    const std::string text = Text("clean.txt", kNotedAccount);
    r = RunWithOutputTo(Words("convert " + Co() + " " + text), dir, "/dev/full");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_THAT(r.err, HasSubstr("dodedoz: error: clean.txt: 3 read, none kept: Unable to print warning/log messages: "
                                 "No space left on device; every data file put back\n"));
    // Said once, with what to do, naming where standard output went: a device, no file on a disk.
    EXPECT_THAT(r.err, HasSubstr("\nNext: /dev/full is a device, not a file on a disk, and takes no more: give another "
                                 "report file with --report, then run the command again\n"));
    EXPECT_THAT(r.err, Not(HasSubstr("free space")));
    EXPECT_THAT(r.err, Not(HasSubstr("cannot write the report file")));
    EXPECT_THAT(r.err, Not(HasSubstr("to the screen")));
    EXPECT_THAT(Slurp(text), Not(HasSubstr("Previously Converted")));
    EXPECT_EQ(Slurp(company / "MASTER.GLM"), master);

    // The same file then converts whole.
    r = Run("convert " + Co() + " " + text);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(Slurp(text), HasSubstr("Previously Converted"));
}

// A device that takes no more (/dev/full) is no disk: the cause after the failure's own words is
// what the device answered, in the system's words, in Examine Files as in Convert, for the report
// and for the notes; and a file's ending is said once.
TEST_F(ConvertCli, ADeviceThatTakesNoMoreIsSaidInItsOwnWords) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full to write to";
    const std::string rejected = Text("rejected.txt", kRejectedJournal), noted = Text("noted.txt", kNotedAccount);
    const std::string report = "Unable to print rejecting record messages: No space left on device";
    const std::string notes = "Unable to print warning/log messages: No space left on device";
    const std::pair<std::string, std::string> cases[] = {{"examine --report /dev/full " + rejected, report},
                                                         {"examine --notes /dev/full " + noted, notes},
                                                         {"convert --report /dev/full " + rejected, report}};
    for (const auto& [args, words] : cases) {
        const CliResult r = Run(args.substr(0, 8) + Co() + " " + args.substr(8));
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_THAT(r.err, HasSubstr(words)) << args;
        EXPECT_THAT(r.err, HasSubstr("\nNext: /dev/full is a device, not a file on a disk")) << args;
        EXPECT_THAT(r.err, Not(HasSubstr("disk space"))) << args;
        std::size_t said = 0;
        for (std::size_t at = r.err.find(words); at != std::string::npos; at = r.err.find(words, at + 1)) ++said;
        EXPECT_EQ(said, 1u) << args << "\n" << r.err;
    }
}

TEST_F(ConvertCli, NotesThatCannotBeWrittenEndTheReportAsAFailure) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full to stand for a full disk";
    const std::string text = Text("noted.txt", kNotedAccount);
    const std::string master = Slurp(company / "MASTER.GLM");
    const fs::path report = dir / "report.txt";
    CliResult r = Run("convert " + Co() + " --report " + report.string() + " --notes /dev/full " + text);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(Slurp(company / "MASTER.GLM"), master);
    EXPECT_THAT(Slurp(text), Not(HasSubstr("Previously Converted")));
    // Nothing was kept, and the summary says so; the report went to its file, not "the screen".
    // (/dev/full stands for a full disk; what it answered is said as the cause.)
    EXPECT_THAT(r.err, HasSubstr("noted.txt: 3 read, none kept: Unable to print warning/log messages: No space left on "
                                 "device; every data file put back\n"));
    EXPECT_THAT(r.err, Not(HasSubstr(" accepted, ")));
    EXPECT_THAT(r.err, Not(HasSubstr("to the screen")));
    // The notes are named, never the report that was whole, and said once, with what to do.
    EXPECT_THAT(r.err, HasSubstr("\nNext: /dev/full is a device, not a file on a disk, and takes no more: give another "
                                 "notes file with --notes, then run the command again\n"));
    EXPECT_THAT(r.err, Not(HasSubstr("conversion report")));
    EXPECT_THAT(r.err, Not(HasSubstr("cannot write the notes file")));
    // The report does not end on its totals as if all went well: a page of its own says why the
    // file ended and that the data file was put back.
    const std::string rep = Slurp(report);
    const auto pointer = rep.find("Look at the next page to view warnings");
    ASSERT_NE(pointer, std::string::npos) << rep;
    EXPECT_THAT(rep.substr(pointer), HasSubstr("\fConverting " + text + " into GL Master File\n\n"
                                               "Unable to print warning/log messages: No space left on device\n"
                                               "Processing is terminated for this file, the ZQ data file was not changed\n"));
}

// A file that ends before the copy of its data file was made wrote nothing: its summary says
// none kept and why, never that a data file was put back.
TEST_F(ConvertCli, AFileEndedBeforeItsBackupCopyWasMadeSaysNothingWasPutBack) {
    // Every name the backup folder may take is a plain file: no copy can be made.
    const std::string uid = std::to_string(::geteuid());
    Spit(company / ".backup", "");
    Spit(company / (".backup-" + uid), "");
    for (int k = 2; k <= 9; ++k) Spit(company / (".backup-" + uid + "-" + std::to_string(k)), "");
    const std::string master = Slurp(company / "MASTER.GLM");
    const std::string text = Text("nocopy.txt");
    const CliResult r = Run("convert " + Co() + " " + text);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_THAT(r.err, HasSubstr("dodedoz: error: nocopy.txt: 0 read, none kept: Unable to backup GL Master file: "
                                 "no backup folder can be had ("));
    EXPECT_THAT(r.err, Not(HasSubstr("put back")));
    EXPECT_THAT(r.err, Not(HasSubstr(" accepted, ")));
    EXPECT_EQ(Slurp(company / "MASTER.GLM"), master);
    EXPECT_THAT(Slurp(text), Not(HasSubstr("Previously Converted")));
}

TEST_F(ConvertCli, ReportsNeverReplaceATextFileADataFileOrWhatALinkNames) {
    const std::string text = Text("gl.txt", kRejectedJournal);
    const std::string textBefore = Slurp(text);
    const std::string master = (company / "MASTER.GLM").string();
    const std::string masterBefore = Slurp(master);
    const fs::path other = dir / "other.txt", link = dir / "link.txt";
    Spit(other, "someone else's");
    fs::create_symlink(other, link);

    CliResult r = Run("examine " + Co() + " --report " + text + " " + text);
    EXPECT_EQ(r.status, 64);
    EXPECT_NE(r.err.find("--report: " + text + ": it is a text file to be converted"), std::string::npos) << r.err;
    r = Run("examine " + Co() + " --notes " + master + " " + text);
    EXPECT_EQ(r.status, 64);
    EXPECT_NE(r.err.find("it is a data file"), std::string::npos) << r.err;
    r = Run("convert " + Co() + " --report " + link.string() + " " + text);
    EXPECT_EQ(r.status, 64);
    EXPECT_NE(r.err.find("it is a symbolic link"), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(text), textBefore);
    EXPECT_EQ(Slurp(master), masterBefore);
    EXPECT_EQ(Slurp(other), "someone else's");
    EXPECT_FALSE(fs::exists(dir / "RejGLM.txt"));  // nothing ran
}

TEST_F(ConvertCli, ReportsGoToStandardOutputOrADeviceNamedAsItself) {
    const std::string text = Text("gl.txt", kRejectedJournal);
    // Standard output, by its name or by "-", and a device replace no file.
    for (const char* to : {"/dev/stdout", "-"}) {
        const CliResult r = Run("examine " + Co() + " --report " + to + " --notes /dev/null " + text);
        EXPECT_EQ(r.status, 1) << to << ": " << r.err;
        EXPECT_NE(r.out.find("Examining " + text), std::string::npos) << to << ": " << r.out;
    }
    const CliResult quiet = Run("examine " + Co() + " --report /dev/null --notes /dev/null " + text);
    EXPECT_EQ(quiet.status, 1) << quiet.err;
    EXPECT_EQ(quiet.out.find("Examining"), std::string::npos) << quiet.out;
    // A link to a device is still a link.
    const fs::path link = dir / "null-link";
    fs::create_symlink("/dev/null", link);
    const CliResult linked = Run("examine " + Co() + " --report " + link.string() + " " + text);
    EXPECT_EQ(linked.status, 64);
    EXPECT_NE(linked.err.find("it is a symbolic link"), std::string::npos) << linked.err;
}

TEST_F(ConvertCli, APlantedRejectFileLinkIsPassedOver) {
    const std::string text = Text("gl.txt", kRejectedJournal);
    const fs::path planted = dir / "planted.txt";
    fs::create_symlink(planted, dir / "RejGLM.txt");
    CliResult r = Run("convert " + Co() + " " + text);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_FALSE(fs::exists(planted));  // the dangling link was not followed
    EXPECT_TRUE(fs::is_symlink(dir / "RejGLM.txt"));
    EXPECT_NE(Slurp(dir / "Rej1GLM.txt").find(kRejectedJournal), std::string::npos);
    EXPECT_NE(r.out.find("Rej1GLM.txt"), std::string::npos) << r.out;
}

TEST_F(ConvertCli, ALinkedTextFileIsStampedWhereItStandsOrSaysItCouldNotBe) {
    const fs::path real = fs::path(Text("real.txt")), link = dir / "link.txt";
    fs::create_symlink(real, link);
    CliResult r = Run("convert " + Co() + " " + link.string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_NE(Slurp(real).find("Previously Converted"), std::string::npos);
    r = Run("convert " + Co() + " " + link.string());  // the second time is questioned
    EXPECT_NE(r.err.find("has already been converted"), std::string::npos) << r.err;

    // No room beside the real file for the file written aside: the conversion stands, unstamped.
    const fs::path longReal = fs::path(Text(std::string(250, 'j') + ".txt", "2,7,N\r\n"));
    const std::string before = Slurp(longReal);
    const fs::path link2 = dir / "link2.txt";
    fs::create_symlink(longReal, link2);
    r = Run("convert " + Co() + " --reconvert " + link2.string());
    EXPECT_NE(r.out.find("Time stamp not added to original text file"), std::string::npos) << r.out;
    EXPECT_EQ(Slurp(longReal), before);
    EXPECT_TRUE(fs::is_symlink(link2));
}

TEST_F(ConvertCli, AFileNamedTwiceOrThroughALinkConvertsOnce) {
    const std::string text = Text("twice.txt");
    const fs::path link = dir / "again.txt";
    fs::create_symlink(text, link);
    const CliResult r = Run("convert " + Co() + " " + text + " " + link.string() + " " + text);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr(link.string() + ": the same file as " + text + "; taken once"));
    EXPECT_THAT(r.err, HasSubstr(text + ": 2 accepted, 0 rejected"));
    EXPECT_THAT(r.err, Not(HasSubstr("rejected, 0 messages, 0 notes\ndodedoz: " + text)));
    EXPECT_THAT(r.err, Not(HasSubstr("not run")));
    const std::string stamped = Slurp(text);
    EXPECT_EQ(stamped.find("Previously Converted"), stamped.rfind("Previously Converted"));  // stamped once
}

TEST_F(ConvertCli, AFileThatCannotBeUsedIsSkippedOrEndsTheRun) {
    const std::string good = Text("b_good.txt");
    const std::string missing = (dir / "a_missing.txt").string();
    CliResult r = Run("examine " + Co() + " " + missing + " " + good);
    EXPECT_EQ(r.status, 2) << r.err;  // not every file ran
    EXPECT_NE(r.err.find("Unable to open file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(missing + ": not run"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(good + ": 2 accepted"), std::string::npos) << r.err;

    r = Run("examine " + Co() + " --on-error end " + missing + " " + good);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("dodedoz: answered: end the run"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(good + ": 2 accepted"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the run ended"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");

    // Alone, an unopenable file ends the run with its error.
    r = Run("convert " + Co() + " " + missing);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("dodedoz: error: Unable to open file"), std::string::npos) << r.err;
}

// A first line of the wrong form says how it must look, with the line mended as the example; a
// template not found names the folders searched, not a folder that is not there.
TEST_F(ConvertCli, AFirstLineOfTheWrongFormSaysHowItMustLook) {
    const std::string form = "The first line must hold a number sign, the conversion type and the template name, "
                             "separated by commas, for example:\n";
    struct Case {
        const char* name;
        std::string line, says, example;
    };
    for (const Case& c : {Case{"semicolons.txt", "#;GLM;xvglm", "separates its values with semicolons", "#,GLM,xvglm"},
                          Case{"trailing.txt", "#;GLM;xvglm;", "separates its values with semicolons", "#,GLM,xvglm"},
                          Case{"tabs.txt", "#\tGLM\txvglm", "separates its values with tabs", "#,GLM,xvglm"},
                          Case{"quoted.txt", "\"#\",\"GLM\",\"acc\"", "in double quotes", "#,GLM,acc"},
                          Case{"noheader.txt", "6,1000-00,Cash,1", "does not start with a number sign", "#,GLM,xvglm"},
                          Case{"notemplate.txt", "#,GLM", "Unable to find a valid template file", "#,GLM,xvglm"}}) {
        SCOPED_TRACE(c.name);
        Spit(dir / c.name, c.line + "\r\n2,1,N\r\n");
        const CliResult r = Run("examine " + Co() + " " + (dir / c.name).string());
        EXPECT_EQ(r.status, 2);
        EXPECT_THAT(r.err, HasSubstr(c.says));
        EXPECT_THAT(r.err, HasSubstr(form + c.example + "\n"));
        EXPECT_THAT(r.err, Not(HasSubstr("might not be installed")));
        EXPECT_THAT(r.err, Not(HasSubstr("Is it OK to skip?")));  // the only file: no question
    }
    Spit(dir / "tpl.txt", "#,GLM,nosuch\r\n2,1,N\r\n");
    const CliResult r = Run("examine " + Co() + " " + (dir / "tpl.txt").string());
    EXPECT_THAT(r.err, HasSubstr("Unable to find template file\nnosuch.tpl\n"));
    EXPECT_THAT(r.err, HasSubstr("looked for in\n" + (fs::path(DZ_SOURCE_DATA_DIR) / "templates").string() + "/\n"));
    EXPECT_THAT(r.err, Not(HasSubstr("ACCOUNTING")));
}

// The worked example of docs/cli.md, taken from the page itself: its template, its text file and
// the dump line it shows.
TEST_F(ConvertCli, TheWorkedExampleOfTheDocsConvertsAsShown) {
    const std::string page = Slurp(fs::path(DZ_SOURCE_DATA_DIR).parent_path() / "docs" / "cli.md");
    const std::size_t section = page.find("### Writing a text file of your own");
    ASSERT_NE(section, std::string::npos);
    std::vector<std::string> blocks;  // the indented blocks of the section, in order
    std::istringstream lines(page.substr(section, page.find("\n### ", section + 1) - section));
    bool inBlock = false;
    for (std::string line; std::getline(lines, line);) {
        const bool indented = line.rfind("    ", 0) == 0;
        if (indented && !inBlock) blocks.emplace_back();
        if (indented) blocks.back() += line.substr(4) + "\n";
        inBlock = indented || (inBlock && line.empty());
    }
    ASSERT_EQ(blocks.size(), 3u);
    Spit(dir / "bases.tpl", blocks[0]);
    Spit(dir / "bases.txt", blocks[1]);
    const CliResult r = RunShell("cd " + ShellWord(dir.string()) + " && " + ShellWord(DZ_CLI_BIN) + " convert " + Co() +
                                 " --report r.txt bases.txt 2>&1");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_THAT(Run("dump " + Co() + " GLM").out, HasSubstr("\n" + blocks[2]));
}

// The worked example of data/templates/README.md, taken from the page, in the company
// `company init` made: every line is accepted and the dump shows the first account as the page does.
TEST_F(ConvertCli, TheTemplatesWorkedExampleConvertsInANewCompany) {
    const std::string page = Slurp(fs::path(DZ_SOURCE_DATA_DIR) / "templates" / "README.md");
    const std::size_t section = page.find("## Worked example");
    ASSERT_NE(section, std::string::npos);
    std::vector<std::string> blocks;  // the fenced blocks of the section, in order
    for (std::size_t at = page.find("```\n", section); at != std::string::npos;) {
        const std::size_t end = page.find("```", at + 4);
        blocks.push_back(page.substr(at + 4, end - at - 4));
        at = page.find("```\n", end + 4);
    }
    ASSERT_EQ(blocks.size(), 3u);
    Spit(dir / "xvglmacc.tpl", blocks[1]);
    // The template lies beside the text file here: its first line names it with its folder.
    std::string text = blocks[0];
    ASSERT_EQ(text.rfind("#,GLM,xvglmacc\n", 0), 0u);
    Spit(dir / "accounts.txt", "#,GLM," + (dir / "xvglmacc").string() + text.substr(text.find('\n')));
    const CliResult r = Run("convert " + Co() + " --report " + (dir / "r.txt").string() + " " +
                            (dir / "accounts.txt").string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr(": 8 accepted, 0 rejected"));
    EXPECT_THAT(Run("dump " + Co() + " GLM").out, HasSubstr("\n" + blocks[2].substr(0, blocks[2].size() - 1) + " "));
}

TEST_F(ConvertCli, StoreThenReplay) {
    const std::string text = Text("stored.txt");
    const std::string before = Slurp(company / "MASTER.GLM");
    CliResult r = Run("convert " + Co() + " --store " + text);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(company / "options" / "3020" / "block1.bin"));
    EXPECT_EQ(fs::file_size(company / "options" / "3020" / "block1.bin"), text.size() + 3);
    EXPECT_NE(Slurp(company / "options" / "3020" / "description.txt").find("   " + text), std::string::npos);
    EXPECT_EQ(Slurp(company / "MASTER.GLM"), before);  // stored, not run
    EXPECT_EQ(Slurp(text).find("Previously Converted"), std::string::npos);

    const fs::path report = dir / "replay.txt";
    r = Run("replay " + Co() + " --report " + report.string() + " convert");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("question"), std::string::npos) << r.err;  // nothing asked
    EXPECT_THAT(r.err, Not(HasSubstr("%] Converting")));  // no progress: standard error is no terminal
    EXPECT_NE(r.err.find(text + ": 2 accepted"), std::string::npos) << r.err;
    EXPECT_NE(Slurp(report).find("Converting " + text), std::string::npos);
    EXPECT_NE(Slurp(text).find("Previously Converted"), std::string::npos);

    // Nothing stored for Examine Files; a stored block that was spoiled is refused.
    r = Run("replay " + Co() + " examine");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("no text files are stored"), std::string::npos) << r.err;
    Spit(company / "options" / "3020" / "block1.bin", "/x.txt");
    r = Run("replay " + Co() + " convert");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("the stored file list is malformed: the path of file 1 has no end"), std::string::npos)
        << r.err;
}

// A stored Examine whose table group can no longer be read ends its file early: replayed (or run
// in the background), the file's line and the log say why, as for Convert, not only the report.
TEST_F(ConvertCli, AReplayedExamineThatEndsEarlySaysWhyOnItsLineAndInTheLog) {
    const std::string text = Text("g.txt");
    Spit(dir / "t.txt", "OLD,NEW\n");
    ASSERT_EQ(Run("tables import " + Co() + " GLSUB --app AP --field 6 " + (dir / "t.txt").string()).status, 0);
    ASSERT_EQ(Run("examine " + Co() + " --store --table GLSUB " + text).status, 0);
    fs::remove(company / "MASTER.XVM");
    const CliResult r = Run("replay " + Co() + " examine");
    EXPECT_EQ(r.status, 2);
    const std::string why = "Unable to open the Master.xvm file or find table type 'GLSUB' in the Master.xvm file";
    EXPECT_THAT(r.err, HasSubstr("dodedoz: " + text + ": 0 read, examine ended early: " + why + "\n"));
    EXPECT_THAT(r.err, Not(HasSubstr("not completed")));
    EXPECT_THAT(Slurp(company / "dodedoz.log"), HasSubstr(" g.txt: 0 read, examine ended early: " + why + "\n"));
    // The same stored run in the background of `run`: said, and a failure.
    const CliResult bg = Run("run " + Co() + " --background examine");
    EXPECT_EQ(bg.status, 2);
    EXPECT_THAT(bg.err, HasSubstr("dodedoz: " + text + ": 0 read, examine ended early: " + why + "\n"));
}

// A replayed run says of a text file removed since it was stored that it cannot be opened, as
// the choice of files does, never that its first line names no template; a next step that two
// files share (their report on a full disk) is said once, as `convert` says it.
TEST_F(ConvertCli, AReplayedRunSaysATextFileIsGoneAndAStepOnce) {
    const std::string a = Text("a.txt"), b = Text("b.txt");
    ASSERT_EQ(Run("convert " + Co() + " --store " + a + " " + b).status, 0);
    if (fs::exists("/dev/full")) {
        const CliResult full = Run("replay " + Co() + " --report /dev/full convert");
        EXPECT_EQ(full.status, 2);
        EXPECT_THAT(full.err, HasSubstr(b + ": 2 read, none kept: Unable to print"));
        const auto first = full.err.find("\nNext: /dev/full is a device");
        EXPECT_NE(first, std::string::npos) << full.err;
        EXPECT_EQ(full.err.find("Next:", first + 2), std::string::npos) << full.err;
    }
    fs::remove(a);
    const CliResult r = Run("replay " + Co() + " convert");
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("dodedoz: " + a + ": 0 read, none kept: Unable to open file\n"));
    EXPECT_THAT(r.err, HasSubstr("dodedoz: " + b + ": 2 accepted"));
}

TEST_F(ConvertCli, UsageErrors) {
    const std::string text = Text("u.txt");
    EXPECT_EQ(Run("convert " + text).status, 64);                                  // no company
    EXPECT_EQ(Run("convert " + Co()).status, 64);                                  // no file
    EXPECT_EQ(Run("convert " + Co() + " --paid-totals 4 " + text).status, 64);
    EXPECT_EQ(Run("examine " + Co() + " --paid-totals 1 " + text).status, 64);     // convert only
    EXPECT_EQ(Run("convert " + Co() + " --duplicate-invoices 3 " + text).status, 64);
    EXPECT_EQ(Run("convert " + Co() + " --interface-warning maybe " + text).status, 64);
    CliResult r = Run("convert " + Co() + " --clear-checks-through 2/30/2026 " + text);
    EXPECT_EQ(r.status, 64);
    EXPECT_NE(r.err.find("--clear-checks-through: '2/30/2026' does not exist: month 2 of 2026 has 28 days"),
              std::string::npos)
        << r.err;
    r = Run("convert " + Co() + " --statement-date 13/1/2026 " + text);
    EXPECT_EQ(r.status, 64);
    EXPECT_NE(r.err.find("--statement-date: '13/1/2026' is not a date"), std::string::npos) << r.err;
    EXPECT_EQ(Run("replay " + Co() + " tables").status, 64);
    // An unknown table group is a failure named on standard error.
    r = Run("convert " + Co() + " --table Nope " + text);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("there is no table group \"Nope\""), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(text).find("Previously Converted"), std::string::npos);
}

TEST_F(ConvertCli, OptionsNoPanelAskedForAreSaidToBeUnused) {
    const std::string text = Text("gl.txt");
    CliResult r = Run("convert " + Co() + " --paid-totals 3 --statement-date 2026-01-31 " + text);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("--paid-totals not used: no AP invoice file was converted"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--statement-date not used"), std::string::npos) << r.err;
}

TEST_F(ConvertCli, TheTableGroupIsChosenOnlyByOption) {
    // One table group in MASTER.XVM: the desktop hub would preselect it; the command line uses
    // it only when --table names it.
    dz::suite::open_company(company);
    dz::xio_ask_request request;
    request.abbr = "XVM";
    uint16_t h = 0;
    ASSERT_EQ(dz::xio_ask_file(request, h), dz::XIO_OK);
    dz::xio_init_record(h, 1);
    dz::x_value_def v;
    v.text = "Main";
    dz::xio_put_field(h, 1, dz::xio_num(h, dz::XIO_NUM_RECORD, 1, "TABLE"), v);
    ASSERT_EQ(dz::xio_wr_record(h, 1), dz::XIO_OK);
    dz::xio_cls_file(h);
    dz::suite::close_company();

    const std::string text = Text("t.txt");
    CliResult r = Run("examine " + Co() + " " + text);
    EXPECT_EQ(r.out.find("Using substitution table"), std::string::npos) << r.out;
    r = Run("examine " + Co() + " --table MAIN " + text);
    EXPECT_NE(r.out.find("Using substitution table 'Main'"), std::string::npos) << r.out << r.err;

    // A table file that cannot be read is said to be so, not to lack the group.
    Spit(company / "MASTER.XVM", std::string(8192, 'x'));
    r = Run("examine " + Co() + " --table MAIN " + text);
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("--table: MASTER.XVM cannot be opened: "));
    EXPECT_THAT(r.err, Not(HasSubstr("there is no table group")));
}

// A conversion killed between the commits of its data files left its marker and its copies: the
// commands that only look refuse the company, the next convert puts the copies back and goes on.
TEST_F(ConvertCli, AConversionStoppedWhilePostingIsRefusedByLooksAndPutBackByTheNextConvert) {
    ASSERT_EQ(Run("convert " + Co() + " " + Text("first.txt")).status, 0);
    const std::string before = Slurp(company / "MASTER.GLM");
    ASSERT_EQ(Run("convert " + Co() + " " + Text("second.txt", "2,2,N\r\n")).status, 1);  // its repeats refused
    // The second conversion's process, on this host, "died" after the commit: its marker names
    // the copy it took of the file as it stood before.
    const fs::path copy = PlantDeadRun(before);
    // A look leaves the backup folder and the company log byte for byte as they were.
    auto state = [&] {
        std::string all = Slurp(company / "dodedoz.log");
        for (const auto& e : fs::directory_iterator(company / ".backup"))
            all += "|" + e.path().filename().string() + "=" + Slurp(e.path());
        return all;
    };
    const std::string left = state();
    for (const std::string& look : {"dump " + Co() + " GLM", "examine " + Co() + " " + Text("look.txt")}) {
        const CliResult r = Run(look);
        EXPECT_EQ(r.status, 2) << look;
        EXPECT_THAT(r.err, HasSubstr("(MASTER.GLM) are not all from one moment")) << look;
        // What puts it back: a look run again would refuse again. On a line of its own.
        EXPECT_THAT(r.err, HasSubstr("\nNext: run a writing command of the company (convert or load)")) << look;
        EXPECT_EQ(state(), left) << look;
    }
    {
        SCOPED_TRACE("a bare folder of data files holding the same dead run");
        const fs::path bare = dir / "bare";
        fs::copy(company, bare, fs::copy_options::recursive);
        fs::remove(bare / "company.toml");
        const CliResult r = Run("dump --company " + bare.string() + " GLM");
        EXPECT_EQ(r.status, 2);
        EXPECT_THAT(r.err, HasSubstr("(MASTER.GLM) are not all from one moment"));
    }
    const CliResult r = Run("convert " + Co() + " " + Text("third.txt", "2,3,N\r\n"));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr("its data files were put back as they were before it (MASTER.GLM)"));
    EXPECT_FALSE(fs::exists(copy));
    const std::string dump = Run("dump " + Co() + " GLM").out;
    EXPECT_THAT(dump, HasSubstr("JJRNNUM=3 "));
    EXPECT_THAT(dump, Not(HasSubstr("JJRNNUM=2 ")));  // the dead run's journal is gone with it
}

// The tables' commands that write may read the data files to fill a table: they put a conversion
// that stopped while posting back first, as a conversion does.
TEST_F(ConvertCli, ATablePrefillPutsAConversionStoppedWhilePostingBack) {
    ASSERT_EQ(Run("convert " + Co() + " " + Text("first.txt")).status, 0);
    const std::string before = Slurp(company / "MASTER.GLM");
    ASSERT_EQ(Run("convert " + Co() + " " + Text("second.txt", "2,2,N\r\n")).status, 1);
    const fs::path copy = PlantDeadRun(before);
    const CliResult r = Run("tables prefill " + Co() + " DEFAULT --app GL --field 9 " + Text("look.txt"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("its data files were put back as they were before it (MASTER.GLM)"));
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_THAT(Run("dump " + Co() + " GLM").out, Not(HasSubstr("JJRNNUM=2 ")));
}

// A stopped run in another user's backup folder, at the command line: a run that made no
// conversion warns and fails nothing, a folder a look cannot see is noted and fails nothing, and
// each refusal says its own words.
TEST_F(ConvertCli, EachStoppedRunNoticeHasItsOwnWordsAndOnlyRefusalsFail) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act as other users";
    DZ_SKIP_UNLESS_OTHERS_REACH(DZ_CLI_BIN);
    ASSERT_EQ(Run("convert " + Co() + " " + Text("first.txt")).status, 0);
    const fs::path copy = PlantDeadRun(Slurp(company / "MASTER.GLM"));
    auto giveTo = [&](uid_t uid, const fs::path& to) {
        fs::rename(copy.parent_path(), to);
        for (const auto& e : fs::directory_iterator(to)) ASSERT_EQ(::lchown(e.path().c_str(), uid, uid), 0);
        ASSERT_EQ(::chown(to.c_str(), uid, uid), 0);
        fs::permissions(to, fs::perms(0755));
    };
    const fs::path daemons = company / ".backup-1";
    giveTo(1, daemons);
    fs::permissions(company / "MASTER.GLM", fs::perms(0644));
    {
        SCOPED_TRACE("13291: a run whose user may not write what it names stops no conversion");
        const CliResult r = Run("convert " + Co() + " --reconvert " + Text("second.txt", "2,2,N\r\n"));
        EXPECT_THAT(r.err, HasSubstr("A run marker that no conversion made stands in the company"));
        EXPECT_THAT(r.err, Not(HasSubstr("Another user's conversion")));
        EXPECT_EQ(r.status, 1) << r.err;  // the base account again, rejected: the file ran
        // Now that the file differs from the marker's copy, that marker is no longer called unmade:
        // whether it is a conversion cannot be told.
        EXPECT_THAT(Run("dump " + Co() + " GLM").err,
                    AllOf(HasSubstr("whether it is one cannot be told"), HasSubstr("MASTER.GLM differs from its copy")));
    }
    {
        SCOPED_TRACE("13292: a run of a uid with no account refuses every writer");
        const fs::path gone = company / ".backup-4242";
        fs::rename(daemons, gone);
        for (const auto& e : fs::directory_iterator(gone)) ASSERT_EQ(::lchown(e.path().c_str(), 4242, 4242), 0);
        ASSERT_EQ(::chown(gone.c_str(), 4242, 4242), 0);
        fs::permissions(company / "MASTER.GLM", fs::perms(0664));  // whether 4242 is of its group cannot be told
        const CliResult r = Run("convert " + Co() + " " + Text("third.txt", "2,3,N\r\n"));
        EXPECT_NE(r.status, 0);
        EXPECT_THAT(r.err, HasSubstr("A conversion may have stopped half posted, and whether it is one cannot be told"));
        EXPECT_THAT(r.err, HasSubstr("who has no account"));
        EXPECT_THAT(Run("dump " + Co() + " GLM").out, Not(HasSubstr("JJRNNUM=3 ")));
        fs::permissions(gone, fs::perms(0700));
    }
    // Another user, bin, meets the folder of uid 4242 that it cannot list.
    fs::permissions(dir, fs::perms(0755));
    fs::permissions(company, fs::perms(0777));
    for (const auto& f : {company / "MASTER.GLM", company / ".MASTER.GLM.locks"}) fs::permissions(f, fs::perms(0666));
    auto asBin = [&](const std::string& args) {
        return RunShell("runuser -u bin -- " + ShellWord(DZ_CLI_BIN) + " " + args + " </dev/null 2>&1");
    };
    {
        SCOPED_TRACE("13293: a look by another user goes on past it");
        const CliResult r = asBin("dump " + Co() + " GLM");
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_THAT(r.out, HasSubstr("A backup folder of the company could not be looked into, and the look goes on without it"));
        EXPECT_THAT(r.out, HasSubstr("have an administrator give " + (company / ".backup-4242").string() + "/ to a user"));
    }
    {
        SCOPED_TRACE("13290: a writer by another user refuses");
        const CliResult r = asBin("load " + Co() + " /dev/null");
        EXPECT_NE(r.status, 0) << r.out;
        EXPECT_THAT(r.out, HasSubstr("Another user's conversion may be posting or stopped half posted, and this command writes "
                                     "nothing over it"));
        EXPECT_THAT(r.out, Not(HasSubstr("uid 4242, or an administrator, runs")));
    }
}

}  // namespace
