// The common ConvertFile sequence end to end, through the test converter: records written and
// examined, rejections and their reasons, notes and user-defined fields, the reject file, the
// time stamp, the backup on a full disk, the operator's stop, and both reports (golden).
#include "test_convert_converter.h"
#include "test_convert_support.h"
#include "as_user.h"

#include "app/driver.h"
#include "convert/texts.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/journal_guard.h"
#include "platform/datafile/lock_file.h"
#include "platform/datafile/locks.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/import/xvl_timestamp.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"
#include "platform/ui/framework.h"
#include "platform/ui/print.h"
#include "platform/ui/run_state.h"
#include "tables/master_file.h"

#include <fcntl.h>
#include <gmock/gmock.h>

#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dz::convert {
namespace {

using namespace dz::convert::testing;
using ::testing::HasSubstr;
using ::testing::Not;

const fs::path kCoreData = fs::path(DZ_TEST_DATA_DIR) / "core";

class ConvertFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The test file's dictionary beside the shipped one of the substitution tables.
        fs::copy_file(kCoreData / "dictionary" / "tcv.toml", dictionaries.path() / "tcv.toml");
        fs::copy_file(dz::data_folder() / "dictionary" / "xvm.toml", dictionaries.path() / "xvm.toml");
        std::string error;
        ASSERT_TRUE(xio_load_dictionaries(dictionaries.path(), error)) << error;
        OpenCompany(company.path(), {"GL"}, "Ann Lee");
        suite::xd_set_clock(suite::xd_fixed_clock({suite::zqDate(12, 6, 2026), {14, 30, 0}}));
        ASSERT_EQ(xio_create_file("TCV", 1, company.path() / "MASTER.TCV"), XIO_OK);
        uint16_t error16 = 0;
        TestConverter opener;
        ASSERT_TRUE(opener.OpenFiles(list, 3020, error16));
        templatePath = (kCoreData / "templates" / "xvtcv.tpl").string();
    }

    void TearDown() override {
        for (auto& e : list)
            if (e.handle) xio_cls_file(e.handle);
        std::string error;
        xio_load_dictionaries(dz::data_folder() / "dictionary", error);
        suite::xd_set_clock({});
        suite::close_company();
        ui::reset_printing();
    }

    uint16_t Handle() const { return FindFileHandle(list, "TCV", 1); }

    // Adds an item to the data file before the run, committed unless `commit` is false.
    void Seed(const std::string& code, const std::string& name, const std::string& alt = "", bool commit = true) {
        const uint16_t h = Handle();
        xio_init_record(h, 1);
        x_value_def v;
        v.text = code;
        xio_put_field(h, 1, xio_num(h, XIO_NUM_RECORD, 1, "CODE"), v);
        v.text = name;
        xio_put_field(h, 1, xio_num(h, XIO_NUM_RECORD, 1, "NAME"), v);
        v.text = alt;
        xio_put_field(h, 1, xio_num(h, XIO_NUM_RECORD, 1, "ALTKEY"), v);
        ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);
        if (commit) {
            ASSERT_EQ(xio_commit(h), XIO_OK);
        }
    }

    // The stored name of an item, or "<none>".
    std::string NameOf(const std::string& code) {
        const uint16_t h = Handle();
        x_value_def v;
        v.text = code;
        xio_put_field(h, 1, xio_num(h, XIO_NUM_RECORD, 1, "CODE"), v);
        if (xio_rd_record(h, 1, 0, 0) != XIO_OK) return "<none>";
        xio_get_field(h, 1, xio_num(h, XIO_NUM_RECORD, 1, "NAME"), v);
        return v.text;
    }

    std::string NotesOf(const std::string& code) {
        const uint16_t h = Handle();
        x_value_def v;
        v.text = code;
        xio_put_field(h, 1, xio_num(h, XIO_NUM_RECORD, 1, "CODE"), v);
        std::string all, piece;
        if (xio_rd_notes(h, 1, 0) != XIO_OK) return "";
        while (xio_get_notes(h, piece) == XIO_OK) all += piece;
        return all;
    }

    std::string WriteText(const std::string& name, const std::string& body) {
        const std::string path = texts.str(name);
        WriteFile(path, "#,TCV," + templatePath + "\r\n" + body);
        return path;
    }

    // Runs the converter on a text file under the task; returns the printed report with the
    // scratch folder's path replaced by "<DIR>".
    std::string Run(const std::string& path, const std::string& taskName, ConvertProgress* progress = nullptr,
                    const std::string& table = "", TestConverter* use = nullptr) {
        ui::zqTask task(taskName, 15, taskName == "Convert" ? 3020 : 3010, 5);
        const std::string reportPath = reportTo.empty() ? reports.str("report.txt") : reportTo;
        const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, reportPath);
        TestConverter own;
        TestConverter& converter = use ? *use : own;
        converter.ConvertFile(list, TextFileEntry{path, 999}, progress, print, task, table, nullptr);
        ui::zp_cls_print_file(task.ID(), 201);
        ui::xp_close_print(print);
        ended = converter.lastEnded;
        if (!reportTo.empty()) return {};  // a device, not a file to read back
        std::string report = ReadFile(reportPath);
        for (std::size_t at; (at = report.find(texts.str())) != std::string::npos;)
            report.replace(at, texts.str().size(), "<DIR>");
        const std::string data = kCoreData.string();
        for (std::size_t at; (at = report.find(data)) != std::string::npos;) report.replace(at, data.size(), "<DATA>");
        return report;
    }

    // Converts a text file of one item `code` on its own; how the file ended ("" when it did not).
    std::string ConvertItem(const std::string& name, const std::string& code) {
        ConvertProgress progress([] { return int64_t{0}; });
        Run(WriteText(name, "1," + code + ",,Item " + code + ",0,\r\n"), "Convert", &progress);
        return progress.ended_why;
    }

    // Another program holding the data file's writer lock: a child process, until KillHolder.
    pid_t HoldDataFileInChild() {
        int ready[2];
        if (::pipe(ready) != 0) return -1;
        const pid_t holder = ::fork();
        if (holder == 0) {
            xio::LockTable held(company.str("MASTER.TCV"), 1);
            const char ok = held.open() == XIO_OK && held.acquire('W', "") == XIO_OK ? '1' : '0';
            (void)!::write(ready[1], &ok, 1);
            for (;;) ::pause();
        }
        char ok = 0;
        const bool held = ::read(ready[0], &ok, 1) == 1 && ok == '1';
        ::close(ready[0]);
        ::close(ready[1]);
        if (!held) KillHolder(holder);
        return held ? holder : -1;
    }

    // Compares with a golden file; DZ_UPDATE_GOLDEN=1 rewrites it.
    void ExpectGolden(const std::string& actual, const std::string& name) {
        const fs::path golden = kCoreData / "golden" / name;
        if (std::getenv("DZ_UPDATE_GOLDEN")) WriteFile(golden, actual);
        EXPECT_EQ(actual, ReadFile(golden)) << "golden " << name;
    }

    ScratchDir company, texts, dictionaries, reports;
    OpenFilesList list;
    std::string templatePath;
    RecordingUi ui;
    bool ended = false;
    std::string reportTo;  // the report's destination when not the scratch report file
};

// A rejection line of the report: record id at column 1, line right-aligned to column 19,
// reason from column 22.
std::string RejectLine(const std::string& id, int line, const std::string& reason) {
    std::string out(22, ' ');
    out.replace(1, id.size(), id);
    const std::string n = std::to_string(line);
    out.replace(20 - n.size(), n.size(), n);
    return out + reason + "\n";
}

// Golden reports show paths longer than 80 characters by their file names only, so they do
// not depend on where the scratch folder lies.
const std::string kDeepItems = std::string(64, 'f') + "/items.txt";

// One text file that meets most rules of the record services.
std::string MixedBody() {
    return "1,A1,,Alpha,12.50,first notes\r\n"
           "1,A2,,WARNXY,3,\r\n"
           "1,A1,,Again,1,\r\n"
           "1,B1,ALT1,Beta,0,\r\n"
           "1,B2,ALT1,Gamma,0,\r\n"
           "1M,ZZ,Nobody\r\n"
           "1M,A2,Renamed\r\n"
           "1R,OLD,Replaced\r\n"
           "1R,OLD,Twice\r\n"
           "1U,A1,COLOR,Red\r\n"
           "1U,A1,WEIGHT,5\r\n"
           "1N,A1,Note one,Note two\r\n"
           "3,T1,Tag one\r\n"
           "9,X\r\n"
           "1,C1,,BAD,0,\r\n";
}

TEST_F(ConvertFileTest, ConvertWritesAcceptedRecordsAndRejectsTheRest) {
    Seed("OLD", "Old item");
    const std::string text = WriteText(kDeepItems, MixedBody());
    ConvertProgress progress([] { return int64_t{0}; });
    const std::string report = Run(text, "Convert", &progress);
    EXPECT_FALSE(ended);
    ExpectGolden(report, "convert_mixed.txt");

    EXPECT_EQ(NameOf("A1"), "Alpha");
    EXPECT_EQ(NameOf("A2"), "Renamed");  // created by an earlier line, then modified
    EXPECT_EQ(NameOf("B1"), "Beta");
    EXPECT_EQ(NameOf("B2"), "<none>");   // its alternate code was taken
    EXPECT_EQ(NameOf("OLD"), "Replaced");
    EXPECT_EQ(NameOf("C1"), "<none>");
    EXPECT_EQ(NameOf("ZZ"), "<none>");
    EXPECT_EQ(NotesOf("A1"), "12/06/2026  14:30:00, Ann Lee  (Conversion)\r\rfirst notes\r\rNote one\rNote two");

    // The user-defined field went into the item's field record.
    const uint16_t h = Handle();
    x_value_def v;
    v.text = "A1";
    xio_put_field(h, 2, xio_num(h, XIO_NUM_RECORD, 2, "UCODE"), v);
    ASSERT_EQ(xio_rd_record(h, 2, 0, 0), XIO_OK);
    xio_get_field(h, 2, xio_num(h, XIO_NUM_RECORD, 2, "COLOR"), v);
    EXPECT_EQ(v.text, "Red");

    // The reject file beside the text file starts with the first line, then the rejected lines.
    EXPECT_EQ(ReadFile(texts.str(std::string(64, 'f') + "/RejectTCV.txt")),
              "#,TCV," + templatePath + "\r\n" + "1,A1,,Again,1,\r\n1,B2,ALT1,Gamma,0,\r\n1M,ZZ,Nobody\r\n"
              "1R,OLD,Twice\r\n1U,A1,WEIGHT,5\r\n3,T1,Tag one\r\n9,X\r\n1,C1,,BAD,0,\r\n");
    // The converted text file carries its time stamp as line 2.
    EXPECT_EQ(ReadFile(text), "#,TCV," + templatePath + "\r\n" +
                                  "#,\"Previously Converted\",\"by Ann Lee\",\"on 12/6/26\",\"at 2:30PM\",\"using xvtcv.tpl\"\r\n" +
                                  MixedBody());
    EXPECT_EQ(progress.messages, 2u);  // WARNXY's two warnings
    EXPECT_EQ(progress.file_records, 15u);
    EXPECT_EQ(progress.file_rejected, 8u);
}

// A conversion type that writes into another type's data file names its reject file for itself.
TEST_F(ConvertFileTest, TheRejectFileIsNamedForTheConversionType) {
    TestConverter converter;
    converter.rejectAbbr = "TCS";
    const std::string text = WriteText(kDeepItems, MixedBody());
    Run(text, "Convert", nullptr, "", &converter);
    EXPECT_TRUE(fs::exists(texts.str(std::string(64, 'f') + "/RejectTCS.txt")));
    EXPECT_FALSE(fs::exists(texts.str(std::string(64, 'f') + "/RejectTCV.txt")));
    EXPECT_EQ(NameOf("A1"), "Alpha");  // the records still went into TCV
}

TEST_F(ConvertFileTest, ExamineReportsTheSameAndWritesNothing) {
    Seed("OLD", "Old item");
    const std::string text = WriteText(kDeepItems, MixedBody());
    const std::string before = ReadFile(company.str("MASTER.TCV"));
    const std::string textBefore = ReadFile(text);
    const std::string report = Run(text, "Examine Files");
    ExpectGolden(report, "examine_mixed.txt");

    for (auto& e : list) xio_cls_file(e.handle), e.handle = 0;
    EXPECT_EQ(ReadFile(company.str("MASTER.TCV")), before);  // byte for byte
    EXPECT_EQ(ReadFile(text), textBefore);                     // no time stamp
    EXPECT_FALSE(fs::exists(texts.str(std::string(64, 'f') + "/RejectTCV.txt")));  // no reject file
}

TEST_F(ConvertFileTest, NotesUpToTheLimitAreWrittenLongerOnesRejected) {
    const std::string text = WriteText(
        "notes.txt", "1,N1,,Limit,0," + std::string(15800, 'n') + "\r\n1,N2,,Over,0," + std::string(15801, 'o') + "\r\n");
    const std::string report = Run(text, "Convert");
    EXPECT_EQ(NameOf("N1"), "Limit");
    EXPECT_EQ(NotesOf("N1").size(), std::string("12/06/2026  14:30:00, Ann Lee  (Conversion)\r\r").size() + 15800);
    EXPECT_EQ(NameOf("N2"), "<none>");  // the record written before the notes failed is taken back
    EXPECT_NE(report.find("Notes are too long - 'N2'(79)"), std::string::npos) << report;
}

// Examine predicts the notes rejection, and the key of the rejected record stays free for a
// later line in both modes.
TEST_F(ConvertFileTest, ExaminePredictsNotesTooLong) {
    const std::string body = "1,N1,,Limit,0," + std::string(15800, 'n') + "\r\n1,N2,,Over,0," +
                             std::string(15801, 'o') + "\r\n1,N2,,Again,0,short\r\n";
    const std::string examined = Run(WriteText("notes-e.txt", body), "Examine Files");
    EXPECT_THAT(examined, HasSubstr("Notes are too long - 'N2'(79)"));
    EXPECT_THAT(examined, Not(HasSubstr("duplicate")));
    const std::string converted = Run(WriteText("notes-c.txt", body), "Convert");
    EXPECT_THAT(converted, HasSubstr("Notes are too long - 'N2'(79)"));
    EXPECT_THAT(converted, Not(HasSubstr("duplicate")));
    EXPECT_EQ(NameOf("N2"), "Again");
}

TEST_F(ConvertFileTest, RepeatedRecordsInExamineAndConvert) {
    Seed("D2", "On file");  // replaced once, then repeated
    const std::string body = "1,D1,,One,0,\r\n1,D1,,Two,0,\r\n1R,D2,First\r\n1R,D2,Second\r\n";
    const std::string examined = Run(WriteText("dups.txt", body), "Examine Files");
    EXPECT_NE(examined.find(RejectLine("1", 3, "The text file has duplicate Item - 'D1'(76)")), std::string::npos)
        << examined;
    EXPECT_NE(examined.find(RejectLine("1R", 5, "The text file has duplicate Item - 'D2'(76)")), std::string::npos)
        << examined;
    const std::string converted = Run(WriteText("dups2.txt", body), "Convert");
    EXPECT_NE(converted.find(RejectLine("1", 2, "The text file has duplicate Item - 'D1'(76)")), std::string::npos)
        << converted;
    EXPECT_NE(converted.find(RejectLine("1R", 3, "The text file has duplicate Item - 'D2'(76)")), std::string::npos)
        << converted;
    EXPECT_EQ(NameOf("D1"), "One");
    EXPECT_EQ(NameOf("D2"), "First");
}

// Writes an item of its own from the handler when a line's name is "HOOK<code>": a row the
// text file's lines did not add.
class HookWritingConverter : public TestConverter {
protected:
    bool DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override {
        const uint16_t h = info.FileNumUsed();
        x_value_def v;
        xio_get_field(h, 1, xio_num(h, XIO_NUM_RECORD, 1, "NAME"), v);
        if (info.ImportedRecs() == 1 && v.text.rfind("HOOK", 0) == 0) {
            const uint16_t saved = xio_save_record(h, 1);
            xio_init_record(h, 1);
            v.text = v.text.substr(4);
            xio_put_field(h, 1, xio_num(h, XIO_NUM_RECORD, 1, "CODE"), v);
            EXPECT_EQ(xio_wr_record(h, 1), XIO_OK);
            xio_restore_record_id(h, saved);
        }
        return TestConverter::DispatchRecord(ctx, info, reason);
    }
};

// The record-ID text of item `code` of the test file.
std::string ItemId(uint16_t h, const std::string& code) {
    xio_init_record(h, 1);
    x_value_def v;
    v.text = code;
    xio_put_field(h, 1, xio_num(h, XIO_NUM_RECORD, 1, "CODE"), v);
    std::string id;
    RecordIdText(h, id, 1);
    return id;
}

// Convert tells a record the text file repeats from one on file by what the data file holds;
// the map still answers for every record the lines added, and for no other.
TEST_F(ConvertFileTest, RecordsTheTextFileAddedAreToldFromRecordsOnFile) {
    TestConverter first;
    std::string report =
        Run(WriteText("lazy1.txt", "1,E1,,One,0,\r\n1,E2,,Two,0,\r\n1,E1,,Again,0,\r\n"), "Convert", nullptr, "", &first);
    EXPECT_THAT(report, HasSubstr(RejectLine("1", 2, "The text file has duplicate Item - 'E1'(76)")));
    EXPECT_EQ(first.RecordIds().count(ItemId(Handle(), "E2")), 1u);
    EXPECT_EQ(first.RecordIds().size(), 2u);

    // A second text file: the records of the first are on file; its own repeats are its own.
    report = Run(WriteText("lazy2.txt", "1,E1,,Third,0,\r\n1,F1,,New,0,\r\n1,F1,,Newer,0,\r\n"), "Convert");
    EXPECT_THAT(report, HasSubstr(RejectLine("1", 2, "Duplicate Item - 'E1'(76)")));
    EXPECT_THAT(report, HasSubstr(RejectLine("1", 3, "The text file has duplicate Item - 'F1'(76)")));
}

TEST_F(ConvertFileTest, AReplaceOfARecordTheTextFileAddedIsRefusedUnlessItOnlyModifies) {
    const std::string report =
        Run(WriteText("lazyr.txt", "1,E1,,One,0,\r\n1R,E1,Replaced\r\n1M,E1,Modified\r\n1,E1,,Again,0,\r\n"), "Convert");
    EXPECT_THAT(report, HasSubstr(RejectLine("1R", 2, "The text file has duplicate Item - 'E1'(76)")));
    EXPECT_THAT(report, HasSubstr(RejectLine("1", 3, "The text file has duplicate Item - 'E1'(76)")));
    EXPECT_EQ(NameOf("E1"), "Modified");
}

TEST_F(ConvertFileTest, ARecordTheHandlerAddedIsNotOneTheTextFileRepeats) {
    HookWritingConverter converter;
    const std::string report = Run(WriteText("hook.txt", "1,H1,,One,0,\r\n1,H2,,HOOKK9,0,\r\n1,K9,,Line,0,\r\n"
                                                         "1,H1,,Again,0,\r\n1,H3,,Three,0,\r\n"),
                                   "Convert", nullptr, "", &converter);
    EXPECT_THAT(report, HasSubstr(RejectLine("1", 2, "Duplicate Item - 'K9'(76)")));
    EXPECT_THAT(report, HasSubstr(RejectLine("1", 3, "The text file has duplicate Item - 'H1'(76)")));
    for (const char* code : {"H1", "H2", "H3"})
        EXPECT_EQ(converter.RecordIds().count(ItemId(Handle(), code)), 1u) << code;
    EXPECT_EQ(converter.RecordIds().count(ItemId(Handle(), "K9")), 0u);
    EXPECT_EQ(converter.RecordIds().size(), 3u);
}

TEST_F(ConvertFileTest, ModifyOnlyRecordsMustExistOrBeCreatedEarlier) {
    const std::string body = "1M,Q1,Nobody\r\n1,Q2,,Created,0,\r\n1M,Q2,Changed\r\n";
    const std::string examined = Run(WriteText("mod.txt", body), "Examine Files");
    EXPECT_NE(examined.find("The record to modify doesn't currently exist: Item - 'Q1'(62)"), std::string::npos)
        << examined;
    EXPECT_EQ(examined.find("Q2"), std::string::npos) << examined;
    const std::string converted = Run(WriteText("mod2.txt", body), "Convert");
    EXPECT_NE(converted.find("(62)"), std::string::npos) << converted;
    EXPECT_EQ(NameOf("Q2"), "Changed");
}

TEST_F(ConvertFileTest, UnknownUserFieldIsRejected) {
    Seed("U1", "Has fields");
    const std::string report =
        Run(WriteText("ud.txt", "1U,U1,NOSUCH,1\r\n1U,U1,SIZE,12\r\n1U,U1,SIZE,abc\r\n1T,U1,UPTRATE,5\r\n"), "Convert");
    EXPECT_NE(report.find("This Tax ID field is blank, add a valid Tax ID and Tax year to the text file(82)"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find(RejectLine("1U", 3, "Size expects a number, not 'abc' (fld 1, col 2) (50)")), std::string::npos)
        << report;
    EXPECT_NE(report.find("The user defined field 'NOSUCH' does not exist for the Item record (80)"),
              std::string::npos)
        << report;
    const uint16_t h = Handle();
    x_value_def v;
    v.text = "U1";
    xio_put_field(h, 2, xio_num(h, XIO_NUM_RECORD, 2, "UCODE"), v);
    ASSERT_EQ(xio_rd_record(h, 2, 0, 0), XIO_OK);
    xio_get_field(h, 2, xio_num(h, XIO_NUM_RECORD, 2, "SIZE"), v);
    EXPECT_EQ(v.number, 12);

    // The highest user-field record a template may name is stored as user fields too.
    Run(WriteText("ud49.txt", "1G,U1,GRADE,A+\r\n"), "Convert");
    const uint16_t after = Handle();
    v.text = "U1";
    xio_put_field(after, 49, xio_num(after, XIO_NUM_RECORD, 49, "GCODE"), v);
    ASSERT_EQ(xio_rd_record(after, 49, 0, 0), XIO_OK);
    xio_get_field(after, 49, xio_num(after, XIO_NUM_RECORD, 49, "GRADE"), v);
    EXPECT_EQ(v.text, "A+");
}

TEST_F(ConvertFileTest, RefusedSubstitutionGivesNoReasonCode) {
    // A table group "T" whose table for the code column refuses values it does not hold.
    ASSERT_EQ(xio_create_file("XVM", 0, company.path() / "MASTER.XVM"), XIO_OK);
    {
        tables::SubstitutionMasterFile master(3020, 0, "T", 1, 5);
        ASSERT_EQ(master.WriteDefinition(0, 65535, 0, 3), XIO_OK);
        ASSERT_EQ(master.WriteEntry("OK1", "NEW1"), XIO_OK);
        ASSERT_EQ(master.ReleaseDefinition(true), XIO_OK);
        master.Close();
    }
    const std::string report = Run(WriteText("sub.txt", "1,NOPE,,Name,0,\r\n1,OK1,,Name,0,\r\n"), "Convert", nullptr, "T");
    EXPECT_FALSE(ended);
    EXPECT_NE(report.find("Using substitution table 'T'"), std::string::npos) << report;
    EXPECT_NE(report.find("substitution table(98)\n"), std::string::npos) << report;  // no " (5x)" after it
    EXPECT_EQ(NameOf("NEW1"), "Name");  // the value the table gave
    EXPECT_EQ(NameOf("NOPE"), "<none>");

    // A table that only warns: the warning, given while the line is read, is printed with it.
    {
        tables::SubstitutionMasterFile master(3020, 0, "W", 1, 5);
        ASSERT_EQ(master.WriteDefinition(0, 65535, 0, 2), XIO_OK);
        ASSERT_EQ(master.WriteEntry("OK3", "NEW3"), XIO_OK);
        ASSERT_EQ(master.ReleaseDefinition(true), XIO_OK);
        master.Close();
    }
    ConvertProgress progress([] { return int64_t{0}; });
    const std::string warned = Run(WriteText("sub3.txt", "1,ZZZ,,Name,0,\r\n"), "Convert", &progress, "W");
    EXPECT_NE(warned.find("Message for Item - 'ZZZ':\n"), std::string::npos) << warned;
    EXPECT_NE(warned.find("The text file value 'ZZZ' was not found in the '"), std::string::npos) << warned;
    EXPECT_EQ(progress.messages, 1u);
    EXPECT_EQ(NameOf("ZZZ"), "Name");

    // A group that does not exist ends the file with 12015.
    const std::string failed = Run(WriteText("sub2.txt", "1,OK2,,Name,0,\r\n"), "Convert", nullptr, "NOSUCH");
    EXPECT_TRUE(ended);
    EXPECT_NE(failed.find("find table type 'NOSUCH' in the Master.xvm file"), std::string::npos) << failed;
    EXPECT_EQ(NameOf("OK2"), "<none>");
}

TEST_F(ConvertFileTest, DiskFullEndsTheFileAndRestoresTheDataFile) {
    Seed("KEEP", "Kept");
    const std::string before = ReadFile(company.str("MASTER.TCV"));
    std::string body = "1,F0,,Before,0,\r\n1,F1,,FULL,0,\r\n";
    for (int i = 2; i < 400; ++i)
        body += "1,F" + std::to_string(i) + ",,Filler " + std::string(20, 'x') + ",0," + std::string(150, 'm') + "\r\n";
    const std::string text = WriteText("full.txt", body);
    const std::string textBefore = ReadFile(text);
    const std::string report = Run(text, "Convert");
    EXPECT_TRUE(ended);
    EXPECT_NE(report.find("Out of disk space\n"), std::string::npos) << report;
    EXPECT_NE(report.find("Processing is terminated for this file, the ZQ data file was not changed"),
              std::string::npos)
        << report;
    ASSERT_FALSE(ui.boxes.empty());
    EXPECT_EQ(ui.boxes.back(), std::make_pair(103, std::string("Out of disk space")));
    EXPECT_EQ(ReadFile(text), textBefore);  // not stamped
    EXPECT_EQ(NameOf("F0"), "<none>");
    EXPECT_EQ(NameOf("KEEP"), "Kept");
    for (auto& e : list) xio_cls_file(e.handle), e.handle = 0;
    EXPECT_EQ(ReadFile(company.str("MASTER.TCV")), before);  // byte for byte
}

// A handler's own write that fails ends the file with the data-file failure: "Out of disk space"
// when the disk was full, whatever else the handler made of the answer.
TEST_F(ConvertFileTest, AHandlersOwnWriteThatFindsNoRoomSaysSo) {
    for (const auto& [status, says] : {std::pair{XIO_DISK_FULL, "Out of disk space\n"},
                                       std::pair{XIO_IO_ERROR, "Unable to read from or write to a Halvorsend data file\n"}}) {
        std::string report;
        {
            FailingCalls fail;
            fail.Fail(xio::FaultCall::WriteRecord, 1, status);
            report = Run(WriteText("own.txt", "1,W1,,OWNWRITE,0,\r\n"), "Convert");
        }
        EXPECT_TRUE(ended);
        EXPECT_THAT(report, HasSubstr(says));
        EXPECT_EQ(NameOf("W1"), "<none>");
    }
}

// A reject file whose disk is full ends the file with its own words and the cause; the data
// file goes back.
TEST_F(ConvertFileTest, ARejectFileOnAFullDiskSaysItCannotBeWrittenAndWhy) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full to stand for a full disk";
    const std::string report = Run(WriteText("rejfull.txt", "1,R0,,Kept,0,\r\n1,R1,,REJECTFULL,0,\r\n"), "Convert");
    EXPECT_TRUE(ended);
    EXPECT_THAT(report, HasSubstr("\nUnable to write to the reject file: Out of disk space\n"
                                  "Processing is terminated for this file, the ZQ data file was not changed\n"));
    ASSERT_FALSE(ui.boxes.empty());
    EXPECT_EQ(ui.boxes.back().second, "Unable to write to the reject file: Out of disk space");
    EXPECT_EQ(NameOf("R0"), "<none>");
}

// A reject file that cannot be made when the first record is rejected is one that could not be
// opened: the file ends naming the text file, with why; the data file goes back.
TEST_F(ConvertFileTest, ARejectFileThatCannotBeMadeAtTheFirstRejectSaysItCannotBeOpened) {
    const std::string text = WriteText("rejgone.txt", "1,G0,,Kept,0,\r\n1,G1,,REJECTGONE,0,\r\n");
    const std::string report = Run(text, "Convert");
    EXPECT_TRUE(ended);
    // What could not be made is the reject file, named: not the text file the first words name.
    EXPECT_THAT(report, HasSubstr("\nUnable to open <DIR>/rejgone.txt, it may already be open in another application: "
                                  "not the text file but its\n  reject file, RejectTCV.txt, cannot be made in <DIR>: "));
    ASSERT_FALSE(ui.boxes.empty());
    EXPECT_THAT(ui.boxes.back().second, ::testing::StartsWith("Unable to open " + text.substr(0, 60) +
                                                               ", it may already be open in another application: "));
    EXPECT_EQ(NameOf("G0"), "<none>");
}

TEST_F(ConvertFileTest, OperatorStopRestoresAndLeavesTheTextFileUnstamped) {
    const std::string text = WriteText("stop.txt", "1,S1,,First,0,\r\n1,S2,,STOP,0,\r\n1,S3,,Never,0,\r\n");
    const std::string textBefore = ReadFile(text);
    ConvertProgress progress([] { return int64_t{0}; });
    const std::string report = Run(text, "Convert", &progress);
    EXPECT_TRUE(ended);
    EXPECT_NE(report.find("Conversion canceled by operator"), std::string::npos) << report;
    EXPECT_TRUE(ui.boxes.empty());        // no message box for the operator's own stop
    EXPECT_EQ(progress.messages, 0u);     // and no message counted
    EXPECT_EQ(NameOf("S1"), "<none>");
    EXPECT_EQ(NameOf("S3"), "<none>");
    EXPECT_EQ(ReadFile(text), textBefore);

    ConvertProgress examining([] { return int64_t{0}; });
    const std::string examined = Run(WriteText("stop2.txt", "1,S2,,STOP,0,\r\n1,S3,,Never,0,\r\n"), "Examine Files",
                                     &examining);
    EXPECT_NE(examined.find("Examining files canceled by operator"), std::string::npos) << examined;
    EXPECT_NE(examined.find("Processing is terminated for this file\n"), std::string::npos) << examined;
}

// A handler that must end the file (a record it cannot turn into what the file needs) ends it
// itself: the loop stops there, the line is neither rejected nor reported again, and the data
// written before it is restored.
TEST_F(ConvertFileTest, AHandlerThatEndsTheFileStopsTheLoop) {
    const std::string text = WriteText("endfile.txt", "1,E1,,First,0,\r\n1,E2,,ENDFILE,0,\r\n1,E3,,Never,0,\r\n");
    const std::string textBefore = ReadFile(text);
    ConvertProgress progress([] { return int64_t{0}; });
    TestConverter converter;
    const std::string report = Run(text, "Convert", &progress, "", &converter);
    EXPECT_TRUE(ended);
    const std::size_t at = report.find("The handler ended this file");
    ASSERT_NE(at, std::string::npos) << report;
    EXPECT_EQ(report.find("The handler ended this file", at + 1), std::string::npos) << report;
    EXPECT_EQ(report.find("Unable to write to the reject file"), std::string::npos) << report;
    EXPECT_EQ(report.find("Unable to print rejecting record messages"), std::string::npos) << report;
    EXPECT_EQ(converter.written, (std::vector<std::string>{"W:E1"}));  // E3 never read
    EXPECT_EQ(NameOf("E1"), "<none>");                                 // restored
    EXPECT_EQ(ReadFile(text), textBefore);
    EXPECT_EQ(progress.messages, 1u);
    const fs::path reject = texts.path() / "RejectTCV.txt";
    if (fs::exists(reject)) {
        EXPECT_EQ(ReadFile(reject.string()).find("ENDFILE"), std::string::npos);
    }
}

TEST_F(ConvertFileTest, FileLevelFailuresEndTheFileWithTheirMessage) {
    // No template on the first line.
    const std::string noTemplate = texts.str("notpl.txt");
    WriteFile(noTemplate, "#,TCV\r\n1,X1,,Name,0,\r\n");
    std::string report = Run(noTemplate, "Convert");
    EXPECT_TRUE(ended);
    EXPECT_NE(report.find("Unable to find a valid template name on the first line of the text file"),
              std::string::npos) << report;
    // A template that cannot be read.
    const std::string badTemplate = texts.str("badtpl.txt");
    WriteFile(badTemplate, "#,TCV," + texts.str("missing.tpl") + "\r\n1,X1,,Name,0,\r\n");
    report = Run(badTemplate, "Convert");
    EXPECT_NE(report.find("Unable to create a structure from the template file, use formats from the report menu"),
              std::string::npos) << report;
    EXPECT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(NameOf("X1"), "<none>");
}

TEST_F(ConvertFileTest, MoreFileLevelFailures) {
    const std::string line = "1,Y1,,Name,0,\r\n";
    // A template whose data file the run has not opened.
    const std::string otherTemplate = texts.str("xvother.tpl");
    WriteFile(otherTemplate, "format 1\nfile GLM 1\nrecord 1\nfield CODE\n");
    const std::string text1 = texts.str("other.txt");
    WriteFile(text1, "#,TCV," + otherTemplate + "\r\n" + line);
    std::string report = Run(text1, "Convert");
    // The text names the data file that the run has not opened.
    EXPECT_NE(report.find("Unable to create a structure from the template file, the 'GLM - code 1' file is invalid"),
              std::string::npos) << report;
    // The main data file is not open.
    TestConverter noMain;
    noMain.mainAbbr = "TCX";
    report = Run(WriteText("nomain.txt", line), "Convert", nullptr, "", &noMain);
    EXPECT_NE(report.find("Unable to find an open Test Item file(95)"), std::string::npos) << report;
    // The converter's settings cannot be loaded.
    TestConverter noSettings;
    noSettings.settingsFail = true;
    ConvertProgress progress([] { return int64_t{0}; });
    report = Run(WriteText("noset.txt", line), "Convert", &progress, "", &noSettings);
    EXPECT_NE(report.find("Unable to read from or write to a Halvorsend data file"), std::string::npos) << report;
    EXPECT_EQ(progress.messages, 1u);
    EXPECT_EQ(ui.boxes.size(), 3u);
    EXPECT_EQ(NameOf("Y1"), "<none>");
    EXPECT_FALSE(fs::exists(texts.str("RejectTCV.txt")));
}

TEST_F(ConvertFileTest, TimeStampFailureAfterTheCommitIsANote) {
    xvl::SetStampRenameForTests([](const fs::path&, const fs::path&, std::string& error) {
        error = "rename refused";
        return false;
    });
    const std::string text = WriteText("nostamp.txt", "1,W1,,Name,0,\r\n");
    const std::string textBefore = ReadFile(text);
    ConvertProgress progress([] { return int64_t{0}; });
    const std::string report = Run(text, "Convert", &progress);
    xvl::SetStampRenameForTests({});
    EXPECT_FALSE(ended);
    EXPECT_EQ(NameOf("W1"), "Name");  // the conversion stands
    EXPECT_EQ(ReadFile(text), textBefore);
    EXPECT_NE(report.find("Note: Time stamp not added to original text file. See Halvorsend log file if text file is "
                          "now missing.\n"),
              std::string::npos)
        << report;
    EXPECT_EQ(progress.notes, 1u);
}

TEST_F(ConvertFileTest, ExamineDropsWhatAHandlerWrites) {
    const std::string before = ReadFile(company.str("MASTER.TCV"));
    TestConverter writer;
    writer.writeTagInHandler = true;
    Run(WriteText("writes.txt", "1,V1,,Name,0,\r\n"), "Examine Files", nullptr, "", &writer);
    ConvertProgress progress([] { return int64_t{0}; });  // and when the examination is stopped
    Run(WriteText("writes2.txt", "1,V2,,STOP,0,\r\n"), "Examine Files", &progress, "", &writer);
    EXPECT_TRUE(ended);
    const uint16_t h = Handle();
    xio_init_record(h, 3);
    x_value_def v;
    for (const char* tag : {"BYNAME", "BYSTOP"}) {
        v.text = tag;
        xio_put_field(h, 3, xio_num(h, XIO_NUM_RECORD, 3, "TCODE"), v);
        EXPECT_EQ(xio_find_record(h, 3, 0), XIO_NOT_FOUND) << tag;
    }
    for (auto& e : list) xio_cls_file(e.handle), e.handle = 0;
    EXPECT_EQ(ReadFile(company.str("MASTER.TCV")), before);
}

TEST_F(ConvertFileTest, NotesRecordsAddToStoredNotes) {
    Seed("P1", "Noted");
    Seed("P2", "Quiet");
    const std::string body = "1N,P1,First,Second\r\n1N,P1,Third,\r\n1N,P2,,Only two\r\n1N,P9,x,y\r\n";
    const std::string examined = Run(WriteText("notes1.txt", body), "Examine Files");
    EXPECT_NE(examined.find(RejectLine("1N", 5, "The record to modify doesn't currently exist (fld 1, col 1) (62)")),
              std::string::npos)
        << examined;
    EXPECT_EQ(NotesOf("P1"), "");  // examining writes no notes
    const std::string converted = Run(WriteText("notes2.txt", body), "Convert");
    EXPECT_EQ(NotesOf("P1"), "First\rSecond\r\rThird");
    EXPECT_EQ(NotesOf("P2"), "");  // an empty first note writes nothing
    EXPECT_NE(converted.find("(62)"), std::string::npos) << converted;
}

TEST_F(ConvertFileTest, SecondUniqueKeyOnFileIsADuplicate) {
    Seed("K1", "Has alt", "ALTX");
    const std::string examined = Run(WriteText("alt.txt", "1,K2,ALTX,Other,0,\r\n1,K3,,Blank,0,\r\n"), "Examine Files");
    EXPECT_NE(examined.find(RejectLine("1", 2, "Duplicate Alternate code - 'ALTX'(77)")), std::string::npos)
        << examined;
    EXPECT_EQ(examined.find("K3"), std::string::npos) << examined;  // a blank alternate code clashes with nothing
}

TEST_F(ConvertFileTest, PrefillHandsOverEveryValueAndWritesNothing) {
    const std::string before = ReadFile(company.str("MASTER.TCV"));
    const std::string text = WriteText("prefill.txt", "1,E1,,One,0,\r\n1M,E9,Two\r\n1,LONG,,Three,0,\r\n");
    ui::zqTask task("Substitution Tables", 12, 4010, 3);
    ConvertProgress progress([] { return int64_t{0}; });
    std::vector<std::string> seen;
    TestConverter converter;
    converter.PrefillTables(list, TextFileEntry{text, 999}, &progress, task, &seen);
    EXPECT_EQ(seen, (std::vector<std::string>{"E1/5/0", "LONG/5/0"}));  // columns with a field id
    EXPECT_EQ(progress.file_records, 3u);
    EXPECT_EQ(progress.file_rejected, 0u);  // a change to an item not on file is read: nothing is written
    EXPECT_EQ(NameOf("E1"), "<none>");
    EXPECT_TRUE(ui.boxes.empty());

    const std::string noTemplate = texts.str("prefill2.txt");
    WriteFile(noTemplate, "#,TCV\r\n1,E2,,One,0,\r\n");
    converter.PrefillTables(list, TextFileEntry{noTemplate, 999}, nullptr, task, &seen);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].first, 102);
    EXPECT_NE(ui.boxes[0].second.find("Unable to find a valid template file on the first line of file"),
              std::string::npos);
    for (auto& e : list) xio_cls_file(e.handle), e.handle = 0;
    EXPECT_EQ(ReadFile(company.str("MASTER.TCV")), before);
}

TEST_F(ConvertFileTest, BackgroundRunToldToEndStopsQuietly) {
    ui::run_state().in_background = true;
    ui::request_terminate();
    const std::string text = WriteText("bg.txt", "1,G1,,Name,0,\r\n");
    const std::string textBefore = ReadFile(text);
    const std::string report = Run(text, "Convert");
    ui::reset_run_state();
    EXPECT_TRUE(ended);
    EXPECT_EQ(report, "");  // nothing printed
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(NameOf("G1"), "<none>");
    EXPECT_EQ(ReadFile(text), textBefore);
}

TEST_F(ConvertFileTest, RejectedChangeReleasesItsRecord) {
    Seed("M1", "Held");
    for (const char* task : {"Convert", "Examine Files"}) {
        Run(WriteText(std::string(task) == "Convert" ? "held1.txt" : "held2.txt", "1M,M1,BAD\r\n"), task);
        uint16_t other = 0;
        ASSERT_EQ(xio_open_file(company.path() / "MASTER.TCV", 1, other), XIO_OK);
        x_value_def v;
        v.text = "M1";
        xio_put_field(other, 1, xio_num(other, XIO_NUM_RECORD, 1, "CODE"), v);
        EXPECT_EQ(xio_rd_record(other, 1, 0, 1), XIO_OK) << task;  // not held by the run any more
        xio_cls_file(other);
    }
    EXPECT_EQ(NameOf("M1"), "Held");
}

TEST_F(ConvertFileTest, NotesThatCannotPrintRestoreTheDataAndLeaveTheTextUnstamped) {
    const std::string before = ReadFile(company.str("MASTER.TCV"));
    const std::string text = WriteText("noprint.txt", "1,H1,,WARNA,0,\r\n1,H2,,DROPNOTES,0,\r\n");
    const std::string textBefore = ReadFile(text);
    ConvertProgress progress([] { return int64_t{0}; });
    const std::string report = Run(text, "Convert", &progress);
    EXPECT_TRUE(ended);
    EXPECT_NE(report.find("Unable to print warning/log messages\n"
                          "Processing is terminated for this file, the ZQ data file was not changed"),
              std::string::npos)
        << report;
    EXPECT_EQ(NameOf("H1"), "<none>");
    EXPECT_EQ(NameOf("H2"), "<none>");
    EXPECT_EQ(ReadFile(text), textBefore);  // a file whose conversion did not stand is not marked
    EXPECT_EQ(progress.messages, 2u);       // the warning, and the failure
    for (auto& e : list) xio_cls_file(e.handle), e.handle = 0;
    EXPECT_EQ(ReadFile(company.str("MASTER.TCV")), before);
}

TEST_F(ConvertFileTest, TemplateErrorTextNamesTheFileThatIsNotOpen) {
    xvl::xvlImpTemplate tpl;
    OpenFilesList none;
    ASSERT_NE(tpl.xvlImpTemplateCreate(templatePath, none), 0);
    std::string out;
    EXPECT_TRUE(TemplateErrorText(none, tpl, out));
    EXPECT_EQ(out, "TCV - code 1");
    EXPECT_FALSE(TemplateErrorText(list, tpl, out));
}

// ---- Hooks of the common record loop --------------------------------------------------------------

TEST_F(ConvertFileTest, ExamineValueIsKeptWithTheRecordIdTexts) {
    TestConverter converter;
    converter.examineValue = 100;
    Run(WriteText("value.txt", "1,E1,,One,0,\r\n1,E2,ALT9,Two,0,\r\n"), "Examine Files", nullptr, "", &converter);
    const std::string prefix = std::to_string(Handle() * 100 + 1) + "\t0\t";
    ASSERT_NE(converter.RecordIds().find(prefix + "E1"), nullptr);
    EXPECT_EQ(converter.RecordIds().at(prefix + "E1"), 102);  // line 2 of the text file
    EXPECT_EQ(converter.RecordIds().at(prefix + "E2"), 103);
    EXPECT_EQ(converter.written, (std::vector<std::string>{"E:E1", "E:E2"}));  // examined, not written
}

TEST_F(ConvertFileTest, VetoedRecordsAreNeitherCountedNorRejected) {
    TestConverter converter;
    ConvertProgress progress([] { return int64_t{0}; });
    const std::string report = Run(WriteText("veto.txt", "1,SKIP,,Dropped,0,\r\n1,K1,,Kept,0,\r\n1,K2,,BAD,0,\r\n"),
                                   "Convert", &progress, "", &converter);
    EXPECT_FALSE(ended);
    EXPECT_EQ(NameOf("SKIP"), "<none>");
    EXPECT_EQ(NameOf("K1"), "Kept");
    EXPECT_EQ(progress.file_records, 2u);
    EXPECT_EQ(progress.file_rejected, 1u);
    // After-write: only the record that was written, in Convert.
    EXPECT_EQ(converter.written, (std::vector<std::string>{"W:K1"}));
    EXPECT_EQ(report.find("SKIP"), std::string::npos) << report;
    EXPECT_EQ(ReadFile(texts.str("RejectTCV.txt")), "#,TCV," + templatePath + "\r\n1,K2,,BAD,0,\r\n");
}

TEST_F(ConvertFileTest, AnAfterWriteStepThatEndsTheFileRestoresItAndStopsTheLoop) {
    Seed("A0", "On file");
    const std::string before = NameOf("A0");
    TestConverter converter;
    converter.endAfterWrite = "A2";
    const std::string text = WriteText("after.txt", "1,A1,,First,0,\r\n1,A2,,Second,0,\r\n1,A3,,Third,0,\r\n");
    const std::string textBefore = ReadFile(text);
    const std::string report = Run(text, "Convert", nullptr, "", &converter);
    EXPECT_TRUE(ended);
    EXPECT_NE(report.find("The after-write step failed(998)"), std::string::npos) << report;
    // The records written before it are taken back with it, and no later line is read.
    EXPECT_EQ(NameOf("A1"), "<none>");
    EXPECT_EQ(NameOf("A2"), "<none>");
    EXPECT_EQ(NameOf("A3"), "<none>");
    EXPECT_EQ(NameOf("A0"), before);
    EXPECT_EQ(converter.written, (std::vector<std::string>{"W:A1", "W:A2"}));
    EXPECT_EQ(ReadFile(text), textBefore);  // not marked as converted
}

TEST_F(ConvertFileTest, SwitchesLeaveExamineAndUserFieldsToTheConverter) {
    Seed("D1", "On file");
    const std::string body = "1,D1,,Again,0,\r\n1U,D1,COLOR,Red\r\n";
    // By default the record on file is a duplicate, and the user field goes to WriteUserFields.
    TestConverter plain;
    std::string report = Run(WriteText("sw1.txt", body), "Examine Files", nullptr, "", &plain);
    EXPECT_NE(report.find("Duplicate Item"), std::string::npos) << report;
    EXPECT_TRUE(plain.userFieldRecords.empty());

    TestConverter own;
    own.examineRecords = false;
    own.writeUserFields = false;
    report = Run(WriteText("sw2.txt", body), "Examine Files", nullptr, "", &own);
    EXPECT_EQ(report.find("Duplicate Item"), std::string::npos) << report;
    EXPECT_EQ(own.userFieldRecords, (std::vector<std::string>{"D1"}));
    // Converting, the handler's user-field record writes nothing.
    TestConverter converting;
    converting.writeUserFields = false;
    Run(WriteText("sw3.txt", "1U,D1,COLOR,Blue\r\n"), "Convert", nullptr, "", &converting);
    EXPECT_FALSE(ended);
    EXPECT_EQ(converting.userFieldRecords, (std::vector<std::string>{"D1"}));
    const uint16_t h = Handle();
    x_value_def v;
    v.text = "D1";
    xio_put_field(h, 2, xio_num(h, XIO_NUM_RECORD, 2, "UCODE"), v);
    EXPECT_NE(xio_rd_record(h, 2, 0, 0), XIO_OK);
}

TEST_F(ConvertFileTest, LoadSettingsNamesItsOwnFailure) {
    TestConverter converter;
    converter.settingsFail = true;
    converter.settingsFailure = xvl::xvlRCString::Get(12006, "Test Other file");
    const std::string report = Run(WriteText("set.txt", "1,L1,,One,0,\r\n"), "Convert", nullptr, "", &converter);
    EXPECT_TRUE(ended);
    EXPECT_NE(report.find("Unable to find an open Test Other file(95)"), std::string::npos) << report;
    EXPECT_EQ(report.find("Unable to read from or write to"), std::string::npos) << report;
    EXPECT_EQ(NameOf("L1"), "<none>");
}

TEST_F(ConvertFileTest, ProgressWindowShowsEtcWhenAsked) {
    ConvertProgress progress([] { return int64_t{0}; });
    Run(WriteText("one.txt", "1,P1,,One,0,\r\n"), "Examine Files", &progress);
    EXPECT_EQ(progress.data_file_desc, "MASTER.TCV");
    TestConverter several;
    several.progressEtc = true;
    Run(WriteText("etc.txt", "1,P1,,One,0,\r\n"), "Examine Files", &progress, "", &several);
    EXPECT_EQ(progress.data_file_desc, "MASTER.TCV, etc.");
}

TEST_F(ConvertFileTest, EveryDataFileIsCheckedBackedUpAndRestored) {
    Seed("KEEP", "Kept");
    const auto item = ConverterDataFile{"TCV", 1, "Test Item file", true, true, true};
    const auto other = ConverterDataFile{"TCV", 2, "Test Other file", true, true, true};
    // A data file of the profile that is not open ends the file with its own description.
    TestConverter missing;
    missing.dataFiles = {item, other};
    std::string report = Run(WriteText("two0.txt", "1,M1,,One,0,\r\n"), "Convert", nullptr, "", &missing);
    EXPECT_NE(report.find("Unable to find an open Test Other file(95)"), std::string::npos) << report;
    EXPECT_EQ(NameOf("M1"), "<none>");

    // Both open: a full disk restores both, each byte for byte.
    ASSERT_EQ(xio_create_file("TCV", 2, company.path() / "OTHER.TCV"), XIO_OK);
    uint16_t error = 0;
    TestConverter opener;
    ASSERT_TRUE(opener.OpenDataFile("TCV", 2, 0, 0, list, 3020, error, false));
    const std::string before1 = ReadFile(company.str("MASTER.TCV"));
    const std::string before2 = ReadFile(company.str("OTHER.TCV"));
    TestConverter two;
    two.dataFiles = {item, other};
    std::string body = "1,F0,,Before,0,\r\n1,F1,,FULL,0,\r\n";
    for (int i = 2; i < 400; ++i)
        body += "1,F" + std::to_string(i) + ",,Filler " + std::string(20, 'x') + ",0," + std::string(150, 'm') + "\r\n";
    report = Run(WriteText("two.txt", body), "Convert", nullptr, "", &two);
    EXPECT_TRUE(ended);
    EXPECT_NE(report.find("the ZQ data file was not changed"), std::string::npos) << report;
    EXPECT_EQ(NameOf("F0"), "<none>");
    for (auto& e : list) xio_cls_file(e.handle), e.handle = 0;
    EXPECT_EQ(ReadFile(company.str("MASTER.TCV")), before1);
    EXPECT_EQ(ReadFile(company.str("OTHER.TCV")), before2);
}

// One text file into two data files: MASTER.TCV takes the items, OTHER.TCV a tag for each.
class TwoFileConvertTest : public ConvertFileTest {
protected:
    void SetUp() override {
        ConvertFileTest::SetUp();
        ASSERT_EQ(xio_create_file("TCV", 2, company.path() / "OTHER.TCV"), XIO_OK);
        Seed("KEEP", "Kept");
        CloseAll();
        converter.dataFiles = {ConverterDataFile{"TCV", 1, "Test Item file", true, true, true},
                               ConverterDataFile{"TCV", 2, "Test Other file", true, true, true}};
        converter.tagInOther = true;
    }
    void TearDown() override {
        SetCommitObserverForTests({});
        ConvertFileTest::TearDown();
    }
    void OpenBoth() {
        uint16_t error = 0;
        TestConverter opener;
        for (uint16_t n : {1, 2}) ASSERT_TRUE(opener.OpenDataFile("TCV", n, 0, 0, list, 3020, error, false));
    }
    void CloseAll() {
        for (auto& e : list)
            if (e.handle) xio_cls_file(e.handle), e.handle = 0;
    }
    std::string Files() { return ReadFile(company.str("MASTER.TCV")) + "|" + ReadFile(company.str("OTHER.TCV")); }
    std::vector<std::string> Backups() {
        std::vector<std::string> names;
        std::error_code ec;
        for (fs::directory_iterator it(company.path() / ".backup", ec), end; !ec && it != end; it.increment(ec))
            if (it->path().filename() != "folder.lock") names.push_back(it->path().filename().string());  // the folder's own
        return names;
    }
    // The stopped run's lock in the backup folder ("" when none stands).
    fs::path RunLock() {
        for (const auto& name : Backups())
            if (name.ends_with(".lock")) return company.path() / ".backup" / name;
        return {};
    }
    // Converts in a child process that is killed once `killAt` data files have committed (one
    // more: after every commit, just before the stamp). Every handle is closed around it.
    // `fromParent`: the run is started in the company's parent folder and given the company by
    // its relative name, as a user at a shell would.
    void ConvertKilledAt(const std::string& text, std::size_t killAt, bool fromParent = false) {
        const pid_t child = ::fork();
        if (child == 0) {
            SetCommitObserverForTests([killAt](std::size_t done, std::size_t) {
                if (done == killAt) ::kill(::getpid(), SIGKILL);
            });
            if (fromParent) {
                if (::chdir(company.path().parent_path().c_str()) != 0) ::_exit(1);
                suite::open_company(company.path().filename());
            }
            OpenBoth();
            Run(text, "Convert", nullptr, "", &converter);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    }
    TestConverter converter;
};

TEST_F(TwoFileConvertTest, ARunKilledBetweenItsCommitsIsPutBackWholeByTheNextCommandThatWrites) {
    const std::string before = Files();
    const std::string text = WriteText("two.txt", "1,N1,,New,0,\r\n1,N2,,Newer,0,\r\n");
    ConvertKilledAt(text, 1);
    EXPECT_FALSE(Files() == before);  // the items committed, the tags not
    EXPECT_THAT(Backups(), ::testing::Contains(::testing::HasSubstr(".marker")));
    // A look refuses a company in that state, and puts nothing back.
    std::vector<std::string> said;
    EXPECT_FALSE(RecoverInterruptedRuns(CompanyUse::Look, &said));
    ASSERT_EQ(said.size(), 1u);
    EXPECT_THAT(said[0], HasSubstr("are not all from one moment"));
    EXPECT_FALSE(Files() == before);
    // A command that writes puts back every file the run committed (the other still stands as
    // it was), says so, and leaves no copy behind.
    said.clear();
    EXPECT_TRUE(RecoverInterruptedRuns(CompanyUse::Write, &said));
    ASSERT_EQ(said.size(), 1u);
    EXPECT_THAT(said[0], HasSubstr("were put back as they were before it (MASTER.TCV)"));
    EXPECT_THAT(ReadFile(suite::x_log_path()), HasSubstr("were put back"));
    EXPECT_TRUE(Files() == before);
    EXPECT_THAT(Backups(), ::testing::IsEmpty());
    // The rerun posts each record once.
    OpenBoth();
    Run(text, "Convert", nullptr, "", &converter);
    EXPECT_FALSE(ended);
    EXPECT_EQ(NameOf("N2"), "Newer");
    EXPECT_EQ(xio_record_count(FindFileHandle(list, "TCV", 2), 3), 2);
}

// A later commit whose journal cannot be removed (a folder made immutable), where no file can be
// written aside to be put back: every copy stays while the run's marker names it, that file's too,
// and the next writing command puts the run back whole, sending no one to a backup.
TEST_F(TwoFileConvertTest, ACopyStaysWhileItsMarkerNamesItAndTheNextCommandPutsTheRunBackWhole) {
    const std::string before = Files();
    const std::string text = WriteText("stuck.txt", "1,N1,,New,0,\r\n");
    // The names a process would write its files aside under, each taken.
    const auto asides = [&](pid_t pid) {
        std::vector<std::string> names;
        for (const char* file : {"MASTER.TCV", "OTHER.TCV"})
            for (int n = 0; n < 100; ++n)
                names.push_back(company.str(file) + ".restore" + std::to_string(pid) + (n ? "_" + std::to_string(n) : ""));
        return names;
    };
    const pid_t child = ::fork();
    if (child == 0) {
        SetCommitObserverForTests([&](std::size_t done, std::size_t) {
            if (done != 1) return;
            for (const auto& name : asides(::getpid())) WriteFile(name, "taken");
            xio::set_journal_removal_error_for_tests(EPERM);
        });
        OpenBoth();
        Run(text, "Convert", nullptr, "", &converter);
        ::_exit(ended ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    for (const auto& name : asides(child)) fs::remove(name);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const auto left = Backups();
    for (const std::string file : {"MASTER.TCV~", "OTHER.TCV~"})
        EXPECT_EQ(std::count_if(left.begin(), left.end(), [&](const std::string& n) { return n.rfind(file, 0) == 0; }), 1)
            << file;
    std::vector<std::string> said;
    EXPECT_TRUE(RecoverInterruptedRuns(CompanyUse::Write, &said));
    for (const auto& line : said) EXPECT_THAT(line, Not(HasSubstr("from a backup")));
    EXPECT_TRUE(Files() == before);
    EXPECT_THAT(Backups(), ::testing::IsEmpty());
    // Put back whole by the run itself (its second commit short of space), its marker names
    // nothing any more, and the copies go with it.
    OpenBoth();
    xio::fail_call(xio::FaultCall::Commit, 2, XIO_DISK_FULL);
    Run(WriteText("full.txt", "1,N2,,New,0,\r\n"), "Convert", nullptr, "", &converter);
    xio::clear_faults();
    CloseAll();
    EXPECT_TRUE(Files() == before);
    EXPECT_THAT(Backups(), ::testing::IsEmpty());
}

// A commit whose journal cannot be removed (a folder made immutable) leaves its write in the file:
// said once as that, never as put back nor as not changed; the run's marker and copies stand
// until the first writing command after the bar is lifted takes the write back and clears it.
TEST_F(TwoFileConvertTest, ACommitWhoseJournalStandsIsSaidAsThatAndItsRunStandsUntilItIsTakenBack) {
    const std::string before = Files();
    const std::string text = WriteText("stuck.txt", "1,N1,,New,0,\r\n");
    // The run ends with its program, as a conversion's does, so that its run is a dead one.
    const pid_t child = ::fork();
    if (child == 0) {
        SetCommitObserverForTests([](std::size_t done, std::size_t) {
            if (done == 0) xio::set_journal_removal_error_for_tests(EPERM);
        });
        ConvertProgress progress([] { return int64_t{0}; });
        OpenBoth();
        Run(text, "Convert", &progress, "", &converter);
        const bool said = progress.ended_why.find("the write was not committed") != std::string::npos;
        ::_exit(said ? 10 + progress.ended_restore : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 13) << "said as a write that stands, neither put back nor kept";
    const std::string report = ReadFile(reports.str("report.txt"));
    EXPECT_THAT(report, HasSubstr("Processing is terminated for this file"));
    EXPECT_THAT(report, Not(HasSubstr("was not changed")));
    EXPECT_TRUE(fs::exists(company.str("MASTER.TCV") + "-journal"));
    EXPECT_THAT(Backups(), ::testing::Contains(HasSubstr(".marker")));
    EXPECT_THAT(Backups(), ::testing::Contains(HasSubstr("MASTER.TCV~")));
    std::vector<std::string> said;
    EXPECT_TRUE(RecoverInterruptedRuns(CompanyUse::Write, &said));
    for (const auto& line : said) EXPECT_THAT(line, Not(HasSubstr("from a backup")));
    EXPECT_TRUE(Files() == before);
    EXPECT_THAT(Backups(), ::testing::IsEmpty());
}

// A command refused by a stopped run ends with words true for the refusal: another user's run
// may still be posting; one whose user has no account cannot be judged. Neither is "not put
// back", as if a stopped run were known.
TEST_F(TwoFileConvertTest, ACommandRefusedByAStoppedRunEndsWithWordsTrueForItsRefusal) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to give the run to other users";
    DZ_SKIP_UNLESS_OTHERS_REACH();
    dz::xvl::InstallStepWords();
    ConvertKilledAt(WriteText("two.txt", "1,N1,,New,0,\r\n"), 1);
    ASSERT_EQ(::chmod(company.path().c_str(), 0777), 0);
    // Files of daemon's group: daemon (1) may write them; whether 4242, who has no account, may
    // cannot be told.
    for (const char* f : {"MASTER.TCV", "OTHER.TCV"}) {
        ASSERT_EQ(::chown(company.str(f).c_str(), 0, 1), 0);
        ASSERT_EQ(::chmod(company.str(f).c_str(), 0664), 0);
    }
    auto giveRunTo = [&](uid_t uid) {
        for (const auto& e : fs::directory_iterator(company.path() / ".backup"))
            ASSERT_EQ(::lchown(e.path().c_str(), uid, uid), 0);
        ASSERT_EQ(::lchown((company.path() / ".backup").c_str(), uid, uid), 0);
    };
    auto ending = [] {
        std::vector<std::string> said;
        std::string words;
        const bool whole = RecoverInterruptedRuns(CompanyUse::Write, &said, &words);
        std::string all = whole ? "went on" : words;
        for (const auto& line : said) all += "|" + line;
        return all;
    };
    // Another user's run (daemon may write the files), as bin sees it.
    giveRunTo(1);
    const std::string other = testing_support::AnswerAs(2, 2, ending);
    EXPECT_THAT(other, ::testing::StartsWith(
                           "another user's conversion may be posting or stopped half posted, and nothing is written over it|"));
    // A run of a uid with no account.
    giveRunTo(4242);
    const std::string untold = ending();
    EXPECT_THAT(untold, ::testing::StartsWith("a conversion may have stopped half posted, and whether it did cannot be "
                                              "told, so nothing is written over it|"));
    EXPECT_THAT(untold, HasSubstr("to a user who may write them (chown -R)"));
    EXPECT_THAT(untold + other, Not(HasSubstr("not put back")));
}

// A run killed before its first commit whose lock an outsider holds: every writing command is
// refused at once in words true for it (nothing of it posted), naming the holder, with the step
// to have it ended; once it is, the next writing command clears the run.
TEST_F(TwoFileConvertTest, AStoppedRunWhoseLockAnOutsiderHoldsEndsAWritingCommandInItsOwnWords) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to hold the lock as another user";
    dz::xvl::InstallStepWords();
    const std::string before = Files();
    ConvertKilledAt(WriteText("two.txt", "1,N1,,New,0,\r\n"), 0);
    const fs::path runLock = RunLock();
    const pid_t holder = HoldFlockInChild(runLock, 65534);
    ASSERT_GT(holder, 0);
    std::vector<std::string> said;
    std::string ending;
    EXPECT_FALSE(RecoverInterruptedRuns(CompanyUse::Write, &said, &ending));
    KillHolder(holder);
    // The cause is the notice's; the ending says only what it kept from the command.
    EXPECT_EQ(ending, "nothing is written over the data files of the stopped conversion named above");
    ASSERT_EQ(said.size(), 1u);
    EXPECT_THAT(said[0], HasSubstr("A conversion that stopped stands in the company, and its lock is held by a process "
                                   "that is none of the programs it is for"));
    EXPECT_THAT(said[0], HasSubstr(runLock.string() + " is held by process " + std::to_string(holder) + " of user nobody"));
    EXPECT_THAT(said[0], HasSubstr("Next: have an administrator end the process that holds " + runLock.string()));
    said.clear();
    EXPECT_TRUE(RecoverInterruptedRuns(CompanyUse::Write, &said));
    EXPECT_THAT(Backups(), ::testing::IsEmpty());
    EXPECT_TRUE(Files() == before);
}

// A look, which writes nothing, refused by a run stopped half posted whose lock an outsider holds:
// its ending says what it keeps from the look, the reading, never a writing.
TEST_F(TwoFileConvertTest, ALookRefusedByAHeldHalfPostedRunEndsInItsOwnWords) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to hold the lock as another user";
    dz::xvl::InstallStepWords();
    ConvertKilledAt(WriteText("two.txt", "1,N1,,New,0,\r\n1,N2,,Newer,0,\r\n"), 1);
    const fs::path runLock = RunLock();
    const pid_t holder = HoldFlockInChild(runLock, 65534);
    ASSERT_GT(holder, 0);
    std::vector<std::string> said;
    std::string ending;
    const bool went = RecoverInterruptedRuns(CompanyUse::Look, &said, &ending);
    KillHolder(holder);
    EXPECT_FALSE(went);
    EXPECT_EQ(ending, "nothing is read from the data files of the stopped conversion named above");
}

// Two backup folders of another user that this user cannot read ask the same of the person: one
// refusal names them both, rather than a box for each.
TEST_F(TwoFileConvertTest, BackupFoldersOfAnotherUserThatCannotBeReadAreOneRefusal) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to look as a user who cannot read another's folders";
    DZ_SKIP_UNLESS_OTHERS_REACH();
    for (const char* name : {".backup", ".backup-1"}) {
        const fs::path folder = company.path() / name;
        fs::create_directories(folder);
        ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
        ASSERT_EQ(::lchown(folder.c_str(), 1, 1), 0);
    }
    ASSERT_EQ(::chmod(company.path().c_str(), 0755), 0);  // its temporary folder lies in the shared one
    const std::string text = testing_support::AnswerAs(65534, 65534, [] {
        std::vector<std::string> said;
        RecoverInterruptedRuns(CompanyUse::Write, &said);
        std::string all = std::to_string(said.size());
        for (const auto& line : said) all += "|" + line;
        return all;
    });
    EXPECT_THAT(text, ::testing::StartsWith("1|"));
    EXPECT_THAT(text, HasSubstr("/.backup/"));
    EXPECT_THAT(text, HasSubstr("/.backup-1/"));
}

// A marker names its copies by name alone: a rerun from another working folder, or after the
// company folder was renamed, still finds them and puts every data file back.
TEST_F(TwoFileConvertTest, ARunKilledBetweenItsCommitsIsPutBackFromAnotherFolderAndAfterTheCompanyMoved) {
    const std::string before = Files();
    const std::string text = WriteText("moved.txt", "1,N1,,New,0,\r\n1,N2,,Newer,0,\r\n");
    const fs::path home = fs::current_path();
    for (const bool moved : {false, true}) {
        SCOPED_TRACE(moved ? "the company folder renamed" : "another working folder");
        ConvertKilledAt(text, 1, true);
        EXPECT_FALSE(Files() == before);
        fs::path folder = company.path();
        if (moved) {
            folder += "-moved";
            fs::rename(company.path(), folder);
            suite::open_company(folder);
        }
        ASSERT_EQ(::chdir("/"), 0);
        std::vector<std::string> said;
        EXPECT_TRUE(RecoverInterruptedRuns(CompanyUse::Write, &said));
        ASSERT_EQ(::chdir(home.c_str()), 0);
        EXPECT_THAT(said, ::testing::Contains(HasSubstr("were put back as they were before it")));
        if (moved) {
            fs::rename(folder, company.path());
            suite::open_company(company.path());
        }
        EXPECT_TRUE(Files() == before);
        EXPECT_THAT(Backups(), ::testing::IsEmpty());
    }
    OpenBoth();
    Run(text, "Convert", nullptr, "", &converter);
    EXPECT_FALSE(ended);
    EXPECT_EQ(xio_record_count(FindFileHandle(list, "TCV", 2), 3), 2);
}

// A command that looked while a run was alive looks again when it opens the data files to write:
// a run that died in between is put back before anything is read or written.
TEST_F(TwoFileConvertTest, ARunThatDiesAfterTheFirstLookIsPutBackWhenItsFilesAreOpened) {
    const std::string before = Files();
    const std::string text = WriteText("late.txt", "1,N1,,New,0,\r\n1,N2,,Newer,0,\r\n");
    int atCommit[2], release[2];
    ASSERT_EQ(::pipe(atCommit), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        SetCommitObserverForTests([&](std::size_t done, std::size_t) {
            if (done != 1) return;
            char c = 0;
            (void)!::write(atCommit[1], "x", 1);
            (void)!::read(release[0], &c, 1);
            ::kill(::getpid(), SIGKILL);
        });
        OpenBoth();
        Run(text, "Convert", nullptr, "", &converter);
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(atCommit[0], &c, 1), 1);
    std::vector<std::string> said;
    EXPECT_TRUE(RecoverInterruptedRuns(CompanyUse::Write, &said));  // the run lives, holding its marker
    EXPECT_TRUE(said.empty());
    ASSERT_EQ(::write(release[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    for (int fd : {atCommit[0], atCommit[1], release[0], release[1]}) ::close(fd);
    EXPECT_FALSE(Files() == before);
    OpenBoth();
    EXPECT_TRUE(Files() == before);
    Run(text, "Convert", nullptr, "", &converter);
    EXPECT_FALSE(ended);
    EXPECT_EQ(xio_record_count(FindFileHandle(list, "TCV", 2), 3), 2);
}

TEST_F(TwoFileConvertTest, ATextFileWhoseRunDiedBeforeItsStampWasConvertedBefore) {
    const std::string text = WriteText("stamp.txt", "1,N1,,New,0,\r\n");
    const std::string unstamped = ReadFile(text);
    ConvertKilledAt(text, 3);
    EXPECT_EQ(ReadFile(text), unstamped);
    EXPECT_THAT(Backups(), ::testing::IsEmpty());
    // A dead run's copies without a marker go with the next command that may write.
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    std::string h = host;
    std::replace(h.begin(), h.end(), '~', '_');
    std::replace(h.begin(), h.end(), '/', '_');
    WriteFile(company.str(".backup/MASTER.TCV~" + h + "~999999999"), "copy");
    std::vector<std::string> said;
    EXPECT_TRUE(RecoverInterruptedRuns(CompanyUse::Write, &said));
    EXPECT_TRUE(said.empty());
    EXPECT_THAT(Backups(), ::testing::IsEmpty());
    OpenBoth();
    EXPECT_EQ(NameOf("N1"), "New");
    ui::zqTask task("Convert", 15, 3020, 5);
    app::ConversionTypeList selection;
    selection.files = {TextFileEntry{text, 999}, TextFileEntry{WriteText("other.txt", "1,N9,,Other,0,\r\n"), 999}};
    ui.answer = ui::kSkip;
    EXPECT_EQ(app::CheckAlreadyConverted(selection, 1, task, &list), app::kCheckStays);  // never converted
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(app::CheckAlreadyConverted(selection, 0, task, &list), app::kCheckRemoved);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_THAT(ui.boxes[0].second, HasSubstr("has already been converted by Ann Lee on 12/6/26 at 2:30PM"));
}

// Run A dies after its commits, before its stamp; run B converts into the same files: A is still
// known as converted, and its records stand once.
TEST_F(TwoFileConvertTest, AConversionInBetweenForgetsNoTextFileWhoseRunDied) {
    const std::string first = WriteText("monday.txt", "1,N1,,New,0,\r\n");
    ConvertKilledAt(first, 3);
    OpenBoth();
    Run(WriteText("tuesday.txt", "1,N2,,Next,0,\r\n"), "Convert", nullptr, "", &converter);
    EXPECT_FALSE(ended);
    ui::zqTask task("Convert", 15, 3020, 5);
    app::ConversionTypeList selection;
    selection.files = {TextFileEntry{first, 999}};
    ui.answer = ui::kSkip;
    EXPECT_EQ(app::CheckAlreadyConverted(selection, 0, task, &list), app::kCheckEndRun);  // its only file skipped
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_THAT(ui.boxes[0].second, HasSubstr("has already been converted by Ann Lee on 12/6/26 at 2:30PM"));
    EXPECT_EQ(xio_record_count(FindFileHandle(list, "TCV", 2), 3), 2);
}

// A main data file that is not backed up is not the one that records the text file: the first
// file the run did back up and write does, and is asked.
TEST_F(TwoFileConvertTest, ARunThatWroteOnlyItsSecondFileIsKnownAsConverted) {
    converter.dataFiles[0].backedUp = false;
    list.clear();  // the closed entries would be found first: with no backup nothing rebinds them
    const std::string text = WriteText("second.txt", "1,N1,,New,0,\r\n");
    ConvertKilledAt(text, 3);
    OpenBoth();
    std::string stampLine;
    EXPECT_TRUE(ConvertedBefore(list, text, stampLine));
    EXPECT_THAT(stampLine, HasSubstr("by Ann Lee"));
}

TEST_F(TwoFileConvertTest, OnlyACopyTheDataFileMayDifferFromIsKeptAndAFullDiskIsSaid) {
    const std::string before = Files();
    OpenBoth();
    // The second commit fails for lack of space, and the committed file cannot be put back: its
    // copy is kept and named; the other file's writes were rolled back, and its copy, which the
    // marker still names, stays with the marker (unnamed: nothing of it needs putting back).
    const std::string aside = company.str("MASTER.TCV.restore") + std::to_string(::getpid());
    SetCommitObserverForTests([&](std::size_t done, std::size_t) {
        if (done != 1) return;
        WriteFile(aside, "taken");
        for (int n = 1; n < 100; ++n) WriteFile(aside + "_" + std::to_string(n), "taken");
    });
    xio::fail_call(xio::FaultCall::Commit, 2, XIO_DISK_FULL);
    const std::string report = Run(WriteText("full.txt", "1,N1,,New,0,\r\n"), "Convert", nullptr, "", &converter);
    xio::clear_faults();
    EXPECT_THAT(report, HasSubstr("Out of disk space\n"));
    EXPECT_THAT(report, HasSubstr("The backup copy of " + company.str("MASTER.TCV") + " is kept at "));
    EXPECT_THAT(ui.boxes.back().second, HasSubstr("is kept at"));
    const auto left = Backups();
    EXPECT_EQ(std::count_if(left.begin(), left.end(), [](const std::string& n) { return n.rfind("MASTER.TCV~", 0) == 0; }), 1);
    EXPECT_EQ(std::count_if(left.begin(), left.end(), [](const std::string& n) { return n.rfind("OTHER.TCV", 0) == 0; }), 1);
    EXPECT_THAT(report, Not(HasSubstr("The backup copy of " + company.str("OTHER.TCV"))));
    EXPECT_EQ(std::count_if(left.begin(), left.end(), [](const std::string& n) { return n.find(".kept") != std::string::npos; }), 0);
    // The next text file of the same program does not write over the kept copy's marker (the
    // next command would then have dropped the copy): it is refused before it writes anything.
    const std::string next = Run(WriteText("next.txt", "1,N2,,Next,0,\r\n"), "Convert", nullptr, "", &converter);
    EXPECT_THAT(next, HasSubstr("could not put its data files back"));
    // What to do is a step of its own, never part of the cause.
    EXPECT_THAT(next, Not(HasSubstr("again")));
    EXPECT_EQ(ui.steps.back(), (ui::NextStep{ui::Step::AgainToPutBack, {}}));
    EXPECT_TRUE(Backups() == left);
    CloseAll();
    EXPECT_FALSE(Files() == before);
    for (int n = 0; n < 100; ++n) fs::remove(n ? aside + "_" + std::to_string(n) : aside);
}

// What a conversion records of its text file: every byte of it, not its size and time alone; a
// row a file, the newest 256; and the one row an earlier version kept still read.
TEST_F(ConvertFileTest, ATextFileIsKnownByEveryByteAndTheNewestFewHundredAreKept) {
    const uint16_t h = Handle();
    const std::string a = WriteText("a.txt", "1,A1,,Alpha,0,\r\n");
    const std::string b = WriteText("b.txt", "1,A1,,Alphb,0,\r\n");  // the same size and time
    fs::last_write_time(b, fs::last_write_time(a));
    std::string body;
    for (int i = 0; body.size() < 70 * 1024; ++i) body += "1,L" + std::to_string(i) + ",,Line,0,\r\n";
    const std::string big = WriteText("big.txt", body);
    ASSERT_EQ(RecordConvertedText(h, TextFileIdentity(a), "stamp a\r\n"), XIO_OK);
    ASSERT_EQ(RecordConvertedText(h, TextFileIdentity(big), "stamp big\r\n"), XIO_OK);
    ASSERT_EQ(xio_commit(h), XIO_OK);
    std::string stampLine;
    EXPECT_TRUE(ConvertedBefore(list, a, stampLine));
    EXPECT_EQ(stampLine, "stamp a\r\n");
    EXPECT_FALSE(ConvertedBefore(list, b, stampLine));
    EXPECT_TRUE(ConvertedBefore(list, big, stampLine));
    // Edited past its first 64 KiB, its time kept: another file.
    const auto time = fs::last_write_time(big);
    body[body.size() - 4] = '9';
    WriteFile(big, "#,TCV," + templatePath + "\r\n" + body);
    fs::last_write_time(big, time);
    EXPECT_FALSE(ConvertedBefore(list, big, stampLine));

    // 254 more rows keep a's; the next drops it, the oldest.
    for (int i = 0; i < 254; ++i) ASSERT_EQ(RecordConvertedText(h, "other " + std::to_string(i), "s\r\n"), XIO_OK);
    ASSERT_EQ(xio_commit(h), XIO_OK);
    EXPECT_TRUE(ConvertedBefore(list, a, stampLine));
    ASSERT_EQ(RecordConvertedText(h, "one more", "s\r\n"), XIO_OK);
    ASSERT_EQ(xio_commit(h), XIO_OK);
    EXPECT_FALSE(ConvertedBefore(list, a, stampLine));

    // The earlier version's one row: size, time of last change, FNV-1a of the first 64 KiB.
    struct stat st {};
    ASSERT_EQ(::stat(a.c_str(), &st), 0);
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : ReadFile(a)) hash = (hash ^ c) * 1099511628211ull;
    char identity[96];
    std::snprintf(identity, sizeof identity, "%llu %lld.%09ld %016llx", static_cast<unsigned long long>(st.st_size),
                  static_cast<long long>(st.st_mtim.tv_sec), static_cast<long>(st.st_mtim.tv_nsec),
                  static_cast<unsigned long long>(hash));
    ASSERT_EQ(xio_put_meta(h, "converted_text", std::string(identity) + "\nold stamp\r\n"), XIO_OK);
    ASSERT_EQ(xio_commit(h), XIO_OK);
    EXPECT_TRUE(ConvertedBefore(list, a, stampLine));
    EXPECT_EQ(stampLine, "old stamp\r\n");

    // A fresh copy of a whose time differs from a's in its nanoseconds alone is a file of its
    // own; a converted twice keeps one row, the newest.
    const std::string c = WriteText("c.txt", "1,A1,,Alpha,0,\r\n");
    struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    times[1].tv_nsec = (times[1].tv_nsec + 1) % 1000000000;
    ASSERT_EQ(::utimensat(AT_FDCWD, c.c_str(), times, 0), 0);
    EXPECT_FALSE(ConvertedBefore(list, c, stampLine));
    ASSERT_EQ(RecordConvertedText(h, TextFileIdentity(a), "stamp a\r\n"), XIO_OK);
    ASSERT_EQ(RecordConvertedText(h, TextFileIdentity(a), "stamp a again\r\n"), XIO_OK);
    ASSERT_EQ(xio_commit(h), XIO_OK);
    std::vector<std::pair<std::string, std::string>> rows;
    ASSERT_EQ(xio_list_meta(h, "converted_text:", rows), XIO_OK);
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                            [&](const auto& r) { return r.second.rfind(TextFileIdentity(a) + "\n", 0) == 0; }),
              1);
    EXPECT_TRUE(ConvertedBefore(list, a, stampLine));
    EXPECT_EQ(stampLine, "stamp a again\r\n");
}

TEST_F(TwoFileConvertTest, ABatchNumberStaysTakenOnlyWithTheDataThatUsedIt) {
    converter.takeBatch = true;
    auto stored = [&] { return suite::read_settings(company.path() / suite::kSettingsFileName).batch_numbers["GL"]; };
    const std::string before = Files();
    const std::string text = WriteText("batch.txt", "1,N1,,New,0,\r\n");
    // Killed before its first commit, between its commits, and (one data file) after its only
    // commit: the files go back, and so does the number.
    struct Kill {
        std::size_t at;
        bool oneFile;
    };
    for (const Kill kill : {Kill{0, false}, Kill{1, false}, Kill{1, true}}) {
        if (kill.oneFile) {
            converter.dataFiles.resize(1);
            converter.tagInOther = false;
        }
        ConvertKilledAt(text, kill.at);
        ASSERT_TRUE(RecoverInterruptedRuns(CompanyUse::Write));
        EXPECT_TRUE(Files() == before) << kill.at << kill.oneFile;
        EXPECT_EQ(stored(), 0u) << kill.at << kill.oneFile;
    }
    // The rerun takes the number; a file that ends gives its own back; the next run numbers on.
    OpenBoth();
    Run(text, "Convert", nullptr, "", &converter);
    EXPECT_FALSE(ended);
    Run(WriteText("ends.txt", "1,N2,,ENDFILE,0,\r\n"), "Convert", nullptr, "", &converter);
    EXPECT_TRUE(ended);
    Run(WriteText("next.txt", "1,N3,,Next,0,\r\n"), "Convert", nullptr, "", &converter);
    EXPECT_EQ(converter.batches, (std::vector<std::string>{"XV000001", "XV000002", "XV000002"}));
    EXPECT_EQ(stored(), 2u);
}

TEST_F(TwoFileConvertTest, ANumberAnotherProgramStoredMeanwhileIsNeverKeptTwice) {
    converter.takeBatch = true;
    OpenBoth();
    const std::string before = Files();
    // Another program stores the number this run took while it converts.
    SetCommitObserverForTests([&](std::size_t done, std::size_t) {
        if (done != 1) return;
        suite::CompanySettings s = suite::read_settings(company.path() / suite::kSettingsFileName);
        s.batch_numbers["GL"] = 1;
        suite::write_settings(company.path() / suite::kSettingsFileName, s);
    });
    const std::string report = Run(WriteText("race.txt", "1,N1,,New,0,\r\n"), "Convert", nullptr, "", &converter);
    EXPECT_TRUE(ended);
    EXPECT_THAT(report, HasSubstr("Unable to update Last batch, Last payment ID, or Run number"));
    CloseAll();
    EXPECT_TRUE(Files() == before);
}

// The numbers a run took, stored once every data file has committed, on a disk that has just
// filled: the file ends with "Out of disk space", not as a number another program took, and a
// copy the disk has no room to put back is kept, saying why.
TEST_F(TwoFileConvertTest, NumbersThatFindTheDiskFullEndTheFileAsOutOfDiskSpace) {
    converter.takeBatch = true;
    const std::string text = WriteText("full.txt", "1,N1,,New,0,\r\n");
    const int result = OnSmallDisk(company.path(), 4096, [&] {
        OpenBoth();
        SetCommitObserverForTests([&](std::size_t done, std::size_t of) {
            if (done == of) FillDiskOf(company.path());
        });
        const std::string report = Run(text, "Convert", nullptr, "", &converter);
        EXPECT_TRUE(ended);
        EXPECT_THAT(report, HasSubstr("\nOut of disk space\n"));
        EXPECT_THAT(report, Not(HasSubstr("Unable to update Last batch")));
        // The copy's name carries the process number, so where the line wraps varies from run to run.
        const std::string oneLine = std::regex_replace(report, std::regex("\n +"), " ");
        EXPECT_THAT(oneLine, HasSubstr("the data file could not be put back from it: Out of disk space"));
        return !::testing::Test::HasFailure();
    });
    if (result == 77) GTEST_SKIP() << "no disk of its own can be made for a test here";
    EXPECT_EQ(result, 0);
}

// The run's marker, written before the first commit, on a backup folder whose disk has filled:
// the file ends with "Out of disk space", and the data files are as they were.
TEST_F(TwoFileConvertTest, AMarkerThatFindsTheDiskFullEndsTheFileAsOutOfDiskSpace) {
    const std::string before = Files();
    const std::string text = WriteText("marker.txt", "1,N1,,New,0,\r\n");
    const fs::path backups = company.path() / ".backup";
    fs::create_directories(backups);
    fs::permissions(backups, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
    const int result = OnSmallDisk(backups, 1024, [&] {
        OpenBoth();
        // The marker holds what the files had from their copies on: its block is given to the
        // filler too, so that filling it finds no room.
        converter.onFinish = [&] {
            for (const auto& e : fs::directory_iterator(backups))
                if (e.path().extension() == ".marker") fs::resize_file(e.path(), 0);
            FillDiskOf(backups);
        };
        const std::string report = Run(text, "Convert", nullptr, "", &converter);
        EXPECT_TRUE(ended);
        EXPECT_THAT(report, HasSubstr("\nOut of disk space\nProcessing is terminated for this file, the ZQ data file "
                                      "was not changed\n"));
        CloseAll();
        EXPECT_TRUE(Files() == before);
        return true;
    });
    if (result == 77) GTEST_SKIP() << "no disk of its own can be made for a test here";
    EXPECT_EQ(result, 0);
}

TEST(RestoreResults, NotRestoredOutranksRestoredButNotReopened) {
    EXPECT_EQ(WorseRestoreResult(0, 0), 0);
    EXPECT_EQ(WorseRestoreResult(0, 2), 2);
    EXPECT_EQ(WorseRestoreResult(2, 0), 2);
    EXPECT_EQ(WorseRestoreResult(2, 1), 1);
    EXPECT_EQ(WorseRestoreResult(1, 2), 1);
    EXPECT_EQ(WorseRestoreResult(1, 0), 1);
}

TEST_F(ConvertFileTest, UnstampedFilesGetTheirNoteInTheNotesReport) {
    xvl::SetStampRenameForTests([](const fs::path&, const fs::path&, std::string& error) {
        error = "rename refused";
        return false;
    });
    const std::string note = "Note: Time stamp not added to original text file. See Halvorsend log file if text "
                             "file is now missing.";
    for (const std::string name : {"ro1.txt", "ro2.txt"}) {
        ConvertProgress progress([] { return int64_t{0}; });
        // One file with a message of its own (notes printed before the commit), one without.
        const std::string body = name == "ro1.txt" ? "1,R1,,WARNA,0,\r\n" : "1,R2,,Plain,0,\r\n";
        const std::string report = Run(WriteText(name, body), "Convert", &progress);
        const auto notesPage = report.rfind("Messages recorded while converting the file");
        const auto noteAt = report.find(note);
        ASSERT_NE(noteAt, std::string::npos) << report;
        ASSERT_NE(notesPage, std::string::npos) << report;
        EXPECT_GT(noteAt, notesPage) << report;        // on a notes page
        EXPECT_EQ(report.find(note, noteAt + 1), std::string::npos) << report;  // once
        EXPECT_EQ(progress.notes, 1u);
    }
    xvl::SetStampRenameForTests({});
    EXPECT_NE(NameOf("R1"), "<none>");
    EXPECT_NE(NameOf("R2"), "<none>");
}

// A converter that reads its text file twice opens each reading with OpenImport: the first has
// no reject file and fills the first half of the progress bar, the second the other half; a
// line read ahead with the one before it is rejected with it as one block.
TEST_F(ConvertFileTest, TwoReadingsOfOneTextFile) {
    const std::string body = "1,P1,,First,0,\r\n1,P2,,PAIR,0,\r\n1,P3,,Partner,0,\r\n1,P4,,BAD,0,\r\n1,P5,,Last,0,\r\n";
    for (const char* command : {"Examine Files", "Convert"}) {
        SCOPED_TRACE(command);
        const bool converting = std::string(command) == "Convert";
        TestConverter converter;
        converter.twoPasses = true;
        ConvertProgress progress([] { return int64_t{0}; });
        const std::string report = Run(WriteText("twice.txt", body), command, &progress, "", &converter);
        EXPECT_FALSE(ended);
        EXPECT_EQ(converter.firstPass, (std::vector<std::string>{"P1", "P2", "P3", "P4", "P5"}));
        // Five records a reading: the first at most half, the second from half on, 100 at the end.
        ASSERT_EQ(converter.percents.size(), 9u);  // the second reading took P3 along with P2
        for (int i = 0; i < 5; ++i) EXPECT_LE(converter.percents[i], 50) << i;
        EXPECT_GE(converter.percents[5], 50);
        EXPECT_EQ(progress.file_percent, 100);
        EXPECT_EQ(progress.file_records, 5u);
        EXPECT_EQ(progress.file_rejected, 3u);
        // Lines of the reject file in Convert (the pair at 2 and 3, BAD at 4), of the text file in
        // Examine Files.
        EXPECT_NE(report.find(RejectLine("1", converting ? 2 : 3, "The pair was refused(997)")), std::string::npos)
            << report;
        EXPECT_NE(report.find(RejectLine("1", converting ? 3 : 4, "Its partner was refused(996)")), std::string::npos)
            << report;
        EXPECT_NE(report.find(RejectLine("1", converting ? 4 : 5, "The handler refused this item(999)")),
                  std::string::npos)
            << report;
        if (converting) {
            EXPECT_EQ(ReadFile(texts.str("RejectTCV.txt")),
                      "#,TCV," + templatePath + "\r\n1,P2,,PAIR,0,\r\n1,P3,,Partner,0,\r\n1,P4,,BAD,0,\r\n");
            EXPECT_EQ(NameOf("P1"), "First");
            EXPECT_EQ(NameOf("P3"), "<none>");
            EXPECT_EQ(NameOf("P5"), "Last");
        } else {
            EXPECT_FALSE(fs::exists(texts.str("RejectTCV.txt")));
        }
    }
}

// A text file whose backup fails never takes the data file away from the next text file of the
// command: that one converts, or ends with its own cause, never "Unable to find an open ...".
TEST_F(ConvertFileTest, AFailedBackupLeavesTheDataFileToTheNextTextFile) {
    const std::string dataFile = company.str("MASTER.TCV");
    {
        // Closed for its copy, the data file cannot be held for writing again.
        FailingCalls fail;
        fail.Fail(xio::FaultCall::StartWrites, 1, XIO_LOCKED, "TCV");
        EXPECT_THAT(ConvertItem("h3.txt", "F1"),
                    HasSubstr("Unable to backup Test Item file: the data file could not be opened again to be written"));
        EXPECT_EQ(Handle(), 0);
    }
    // Another program holds it when the next text file comes: that file ends with who holds it.
    const pid_t holder = HoldDataFileInChild();
    ASSERT_GT(holder, 0);
    const std::string second = ConvertItem("h4.txt", "F2");
    KillHolder(holder);
    EXPECT_THAT(second, HasSubstr("Unable to backup Test Item file: the data file could not be opened again to be "
                                  "written: " + dataFile + " is in use by another program (process " +
                                  std::to_string(holder)));
    EXPECT_THAT(second, Not(HasSubstr("Unable to find an open")));
    // Let go, it is the next text file's again.
    EXPECT_EQ(ConvertItem("h5.txt", "F3"), "");
    EXPECT_EQ(NameOf("F1"), "<none>");
    EXPECT_EQ(NameOf("F2"), "<none>");
    EXPECT_EQ(NameOf("F3"), "Item F3");

    // A backup that fails before the file is closed (its folder's lock held) leaves it open.
    const pid_t lockHolder = HoldFlockInChild(company.path() / ".backup" / "folder.lock");
    ASSERT_GT(lockHolder, 0);
    xio::set_lock_wait_for_tests(std::chrono::milliseconds(50));
    EXPECT_THAT(ConvertItem("h6.txt", "F4"), HasSubstr("Unable to backup Test Item file: the lock file "));
    xio::set_lock_wait_for_tests(std::chrono::seconds(10));
    KillHolder(lockHolder);
    EXPECT_NE(Handle(), 0);
    EXPECT_EQ(ConvertItem("h7.txt", "F5"), "");
    EXPECT_EQ(NameOf("F5"), "Item F5");
}

// Six text files of one command into one data file: another program holds the file when the
// first is checked, and the third's reopen after its copy is refused. The file keeps one entry,
// each failure says its own cause, and every later text file converts.
TEST_F(ConvertFileTest, ARefusedOpenAndAFailedReopenTakeTheDataFileFromNoLaterTextFile) {
    for (auto& e : list) xio_cls_file(e.handle);
    list.clear();
    const pid_t holder = HoldDataFileInChild();
    ASSERT_GT(holder, 0);
    const std::string heldBy = "(process " + std::to_string(holder);
    uint16_t error = 0;
    TestConverter first;
    EXPECT_FALSE(first.OpenFiles(list, 3020, error));
    EXPECT_THAT(first.FailedReason(), HasSubstr(heldBy));
    KillHolder(holder);
    for (int n = 2; n <= 6; ++n) {
        TestConverter next;
        EXPECT_TRUE(next.OpenFiles(list, 3020, error)) << n;
    }
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(ConvertItem("f2.txt", "F2"), "");
    {
        FailingCalls fail;
        fail.Fail(xio::FaultCall::StartWrites, 1, XIO_LOCKED, "TCV");
        const std::string third = ConvertItem("f3.txt", "F3");
        EXPECT_THAT(third, HasSubstr("the data file could not be opened again to be written"));
        EXPECT_THAT(third, Not(HasSubstr(heldBy)));  // the reader that refused the first is gone
    }
    for (const std::string code : {"F4", "F5", "F6"}) EXPECT_EQ(ConvertItem(code + ".txt", code), "") << code;
    EXPECT_EQ(NameOf("F3"), "<none>");
    EXPECT_EQ(NameOf("F6"), "Item F6");
    ASSERT_EQ(list.size(), 1u);

    // A refusal with no words of its own is said without those an earlier failure left.
    for (auto& e : list) xio_cls_file(e.handle), e.handle = 0;
    uint16_t none = 0;
    ASSERT_NE(xio_open_file(company.str("NOWHERE.TCV"), 1, none), XIO_OK);
    FailingCalls fail;
    fail.Fail(xio::FaultCall::StartWrites, 1, XIO_LOCKED, "TCV");
    TestConverter again;
    EXPECT_FALSE(again.OpenFiles(list, 3020, error));
    EXPECT_EQ(again.FailedReason(), "");
    EXPECT_EQ(list.size(), 1u);
}

// A commit that fails where the file is closed for its copy: a copy would lack what was written,
// so none is made, and the file ends before anything more is written.
TEST_F(ConvertFileTest, ACommitThatFailsBeforeTheCopyEndsTheFileWithoutACopy) {
    Seed("P1", "Pending", "", false);
    FailingCalls fail;
    fail.Fail(xio::FaultCall::Commit, 1, XIO_IO_ERROR, "TCV");
    EXPECT_THAT(ConvertItem("c1.txt", "C1"),
                HasSubstr("Unable to backup Test Item file: " + company.str("MASTER.TCV") +
                          ": what was written to it could not be committed"));
    EXPECT_TRUE(fail.Spent());
    EXPECT_EQ(NameOf("C1"), "<none>");
    std::error_code ec;
    for (fs::directory_iterator it(company.path() / ".backup", ec), end; !ec && it != end; it.increment(ec))
        EXPECT_EQ(it->path().filename(), "folder.lock");  // no copy, no marker
    EXPECT_EQ(ConvertItem("c2.txt", "C2"), "");  // the file stays the run's
}

// A data folder that cannot be written (here a read-only mount, which even root may not write):
// no backup folder can be made there, and the step is to get leave to write in it.
TEST_F(ConvertFileTest, ABackupRefusedForAnUnwritableDataFolderSaysToGetLeaveToWriteThere) {
    const int result = OnReadOnlyFolder(company.path(), [&] {
        ConvertProgress progress([] { return int64_t{0}; });
        Run(WriteText("ro.txt", "1,R1,,Item,0,\r\n"), "Convert", &progress);
        EXPECT_THAT(progress.ended_why, HasSubstr("Unable to backup Test Item file: no backup folder can be had"));
        EXPECT_EQ(progress.ended_next, (ui::NextStep{ui::Step::WritableFolder, {company.str()}}));
        return true;
    });
    if (result == 77) GTEST_SKIP() << "no read-only folder of its own can be made for a test here";
    EXPECT_EQ(result, 0);
}

TEST_F(ConvertFileTest, RecordLoopFillsItsShareOfTheProgressBar) {
    // A converter that reads its text file twice gives each pass its share: a second pass from
    // 50 to 100 never shows less than 50 and ends at 100; a share of 10 to 60 ends at 60.
    const std::string body = "1,P1,,One,0,\r\n1,P2,,Two,0,\r\n";
    TestConverter secondPass;
    secondPass.percentFrom = 50;
    ConvertProgress progress([] { return int64_t{0}; });
    Run(WriteText("share.txt", body), "Examine Files", &progress, "", &secondPass);
    EXPECT_EQ(progress.file_percent, 100);

    TestConverter part;
    part.percentFrom = 10;
    part.percentTo = 60;
    ConvertProgress partProgress([] { return int64_t{0}; });
    Run(WriteText("share2.txt", body), "Examine Files", &partProgress, "", &part);
    EXPECT_EQ(partProgress.file_percent, 60);
}

TEST_F(ConvertFileTest, PrefillNamesEveryCheckedDataFileThatIsNotOpen) {
    // A converter of two data files cannot prefill without the second one open either.
    const std::string text = WriteText("prefill3.txt", "1,E1,,One,0,\r\n");
    ui::zqTask task("Substitution Tables", 12, 4010, 3);
    std::vector<std::string> seen;
    TestConverter converter;
    ConverterDataFile side;
    side.abbreviation = "TCX";
    side.description = "Test Side file";
    ConverterDataFile main;
    main.abbreviation = "TCV";
    main.description = "Test Item file";
    converter.dataFiles = {side, main};
    converter.PrefillTables(list, TextFileEntry{text, 999}, nullptr, task, &seen);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_NE(ui.boxes[0].second.find("Unable to find an open Test Side file(95)"), std::string::npos)
        << ui.boxes[0].second;
    EXPECT_TRUE(seen.empty());
}

// Every early end says its failure in its own number and words with the cause after them, and
// what the person can do next as a value; the counts are what happened before it, and "put
// back" is said only of a file that had a data file written.
TEST_F(TwoFileConvertTest, EachEarlyEndSaysItsFailureItsCauseItsNextStepAndWhatHappened) {
    const fs::path backups = company.path() / ".backup";
    const std::string dataFile = (company.path() / "MASTER.TCV").string();
    struct Case {
        const char* name;
        std::string body;                       // the text file's records
        std::function<int(const std::function<bool()>&)> around;  // where the run happens
        std::function<void()> before;            // just before the run
        std::string says;
        ui::NextStep next;
        uint32_t read, rejected;
        bool written;
    };
    auto here = [](const std::function<bool()>& run) { return run() ? 0 : 1; };
    auto onFullBackupDisk = [&](const std::function<bool()>& run) {
        fs::create_directories(backups);
        fs::permissions(backups, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
        return OnSmallDisk(backups, 1024, run);
    };
    auto readOnlyTexts = [&](const std::function<bool()>& run) { return OnReadOnlyFolder(texts.path(), run); };
    // Every name a backup folder of this user could have is a file: the data folder itself may be
    // written, so no leave to write in it is asked.
    auto takeBackupNames = [&] {
        const std::string uid = std::to_string(::geteuid());
        std::vector<std::string> names{".backup", ".backup-" + uid};
        for (int k = 2; k <= 9; ++k) names.push_back(".backup-" + uid + "-" + std::to_string(k));
        for (const auto& n : names) {
            fs::remove_all(company.path() / n);
            WriteFile(company.str(n), "taken");
        }
    };
    // The run's marker is taken away before it is filled: it cannot name the copies.
    auto markerRemoved = [&] {
        converter.onFinish = [&] {
            for (const auto& e : fs::directory_iterator(backups))
                if (e.path().extension() == ".marker") fs::remove(e.path());
        };
    };
    const std::string texts0 = texts.str();
    const Case cases[] = {
        {"backup copy, full disk", "1,K1,,New,0,\r\n", onFullBackupDisk, [&] { FillDiskOf(backups); },
         "Unable to backup Test Item file: Out of disk space", {ui::Step::FreeSpace, {dataFile}}, 0, 0, false},
        {"report line, full disk", "1,R1,,BAD,0,\r\n1,R2,,New,0,\r\n", here, [&] { reportTo = "/dev/full"; },
         "Unable to print rejecting record messages: No space left on device",
         {ui::Step::OtherReport, {"/dev/full"}}, 1, 1, true},
        {"totals and notes, full disk", "1,T1,,New,0,\r\n", here, [&] { reportTo = "/dev/full"; },
         "Unable to print warning/log messages: No space left on device",
         {ui::Step::OtherReport, {"/dev/full"}}, 1, 0, true},
        {"reject file, full disk", "1,J1,,New,0,\r\n1,J2,,REJECTFULL,0,\r\n", here, [] {},
         "Unable to write to the reject file: Out of disk space",
         {ui::Step::FreeSpace, {texts0 + "/RejectTCV.txt"}}, 2, 0, true},  // J2 read, in no reject file
        // Ended before its first record: no data file was changed, so none was put back.
        {"reject file, folder not writable", "1,W1,,BAD,0,\r\n", readOnlyTexts, [] {},
         "it may already be open in another application: not the text file but its reject file, RejectTCV.txt, "
         "cannot be made in " + texts0,
         {ui::Step::WritableFolder, {texts0}},
         0, 0, false},
        {"numbers stored by another program", "1,N1,,New,0,\r\n", here,
         [&] {
             converter.takeBatch = true;
             SetCommitObserverForTests([&](std::size_t done, std::size_t) {
                 if (done != 1) return;
                 suite::CompanySettings s = suite::read_settings(company.path() / suite::kSettingsFileName);
                 s.batch_numbers["GL"] = 1;
                 suite::write_settings(company.path() / suite::kSettingsFileName, s);
             });
         },
         "Unable to update Last batch, Last payment ID, or Run number", {ui::Step::Again, {}}, 1, 0, true},
        {"every backup folder name taken by a file", "1,B1,,New,0,\r\n", here, takeBackupNames,
         "/.backup is not a folder", {}, 0, 0, false},
        {"run marker cannot be filled", "1,M1,,New,0,\r\n", here, markerRemoved,
         "Unable to backup Test Item file: the run marker in " + backups.string() + " cannot be written: ",
         {ui::Step::Again, {}}, 1, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& e : fs::directory_iterator(texts.path()))
            if (e.path().filename().string().rfind("Reject", 0) == 0) fs::remove(e.path());
        const std::string text = WriteText(std::string(c.name).substr(0, 6) + ".txt", c.body);
        const int result = c.around([&] {
            OpenBoth();
            c.before();
            ConvertProgress progress([] { return int64_t{0}; });
            ui.boxes.clear();
            ui.steps.clear();
            Run(text, "Convert", &progress, "", &converter);
            EXPECT_TRUE(ended);
            EXPECT_THAT(progress.ended_why, HasSubstr(c.says));
            EXPECT_EQ(progress.ended_next, c.next);
            // One box, the ending's, with its next step beside it, not in its words.
            EXPECT_EQ(ui.boxes.size(), 1u);
            if (!ui.boxes.empty()) {
                EXPECT_THAT(ui.boxes.back().second, HasSubstr(c.says));
                EXPECT_EQ(ui.steps.back(), c.next);
            }
            EXPECT_EQ(progress.file_records, c.read);
            EXPECT_EQ(progress.file_rejected, c.rejected);
            EXPECT_EQ(progress.ended_written, c.written);
            EXPECT_EQ(progress.messages, 1u);  // the window counts the ending as the file's message
            CloseAll();
            return true;  // what failed was said
        });
        if (result == 77) {
            std::printf("skipped \"%s\": no disk or folder of its own can be made for a test here\n", c.name);
            continue;
        }
        EXPECT_EQ(result, 0);
        reportTo.clear();
        converter.takeBatch = false;
        converter.onFinish = nullptr;
        for (const auto& e : fs::directory_iterator(company.path()))
            if (e.path().filename().string().rfind(".backup", 0) == 0 && !e.is_directory()) fs::remove(e.path());
        SetCommitObserverForTests({});
    }
}

}  // namespace
}  // namespace dz::convert

