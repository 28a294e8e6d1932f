// Record-level services on a real data file: record-ID and key texts by field type, display
// texts, long-text line ends, opening data files, and the backup of an open data file.
#include "test_convert_converter.h"
#include "test_convert_support.h"

#include "convert/lookups.h"
#include "convert/platform_links.h"
#include "convert/texts.h"
#include "platform/datafile/data_folder.h"
#include "platform/suite/util.h"
#include "platform/suite/xd.h"

#include <cmath>
#include <limits>

namespace dz::convert {
namespace {

using namespace dz::convert::testing;

const fs::path kCoreData = fs::path(DZ_TEST_DATA_DIR) / "core";

class RecordServicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(xio_load_dictionaries(kCoreData / "dictionary", error)) << error;
        OpenCompany(company.path(), {"GL", "JC"}, "Ann Lee");
        ASSERT_EQ(xio_create_file("TCV", 1, company.path() / "MASTER.TCV"), XIO_OK);
        uint16_t err = 0;
        ASSERT_TRUE(converter.OpenFiles(list, 3020, err));
        h = FindFileHandle(list, "TCV", 1);
        ASSERT_NE(h, 0);
    }
    void TearDown() override {
        for (auto& e : list)
            if (e.handle) xio_cls_file(e.handle);
        std::string error;
        xio_load_dictionaries(dz::data_folder() / "dictionary", error);
        suite::close_company();
    }

    uint16_t F(uint16_t rec, const char* name) { return xio_num(h, XIO_NUM_RECORD, rec, name); }
    void PutText(uint16_t rec, const char* name, const std::string& text) {
        x_value_def v;
        v.text = text.substr(0, 80);
        if (text.size() > 80) v.longText = text;
        xio_put_field(h, rec, F(rec, name), v);
    }
    void PutNumber(uint16_t rec, const char* name, double n) {
        x_value_def v;
        v.number = n;
        xio_put_field(h, rec, F(rec, name), v);
    }
    // A sample record with a value in every key field.
    void FillSample(double amount) {
        xio_init_record(h, 4);
        PutNumber(4, "SNUM", amount);
        x_value_def v;
        v.date = suite::zqDate(12, 6, 2026);
        xio_put_field(h, 4, F(4, "SDATE"), v);
        v.time = {9, 5, 7};
        xio_put_field(h, 4, F(4, "STIME"), v);
        v.flag = 1;
        xio_put_field(h, 4, F(4, "SFLAG"), v);
        PutNumber(4, "SKIND", 2);
        PutText(4, "SRIGHT", "ab");
        PutNumber(4, "SEDIT", 123);
        PutNumber(4, "SBIG", 3);
        PutNumber(4, "SCOUNT", -7);
    }

    ScratchDir company;
    OpenFilesList list;
    TestConverter converter;
    uint16_t h = 0;
};

// Codes and levels come from text files, where a column may hold any number at all.
TEST(WholeNumber, TruncatesTowardZeroAndSaturatesBeyondTheRange) {
    EXPECT_EQ(Whole(2.9), 2);
    EXPECT_EQ(Whole(-2.9), -2);
    EXPECT_EQ(Whole(1e20), INT32_MAX);
    EXPECT_EQ(Whole(-1e20), INT32_MIN);
    EXPECT_EQ(Whole(std::numeric_limits<double>::infinity()), INT32_MAX);
    EXPECT_EQ(Whole(std::nan("")), 0);
}

TEST_F(RecordServicesTest, RecordIdTextByFieldType) {
    FillSample(-25);
    std::string id;
    converter.RecordIdText(h, id, 4);
    // number+10^5 in 6 digits, yyyymmdd, hhmmss, flag, 2-digit item, right-aligned text in its
    // display width, 9-digit edited number, 3-digit item, unsigned number as its absolute value.
    EXPECT_EQ(id, std::to_string(h * 100 + 4) + "\t0\t" + "099975" + "20261206" + "090507" + "1" + "02" +
                      "      ab" + "000000123" + "003" + "0007");
    converter.StripRecordId(id);
    EXPECT_EQ(id, "09997520261206090507102      ab0000001230030007");
}

TEST_F(RecordServicesTest, SignedKeysCompareInNumericOrder) {
    std::vector<std::string> ids;
    for (double amount : {-500.0, -25.0, 0.0, 3.0, 99999.0}) {
        FillSample(amount);
        std::string id;
        RecordIdText(h, id, 4);
        ids.push_back(id);
    }
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
    EXPECT_NE(ids[1].find("\t099975"), std::string::npos);
}

TEST_F(RecordServicesTest, TextKeysAreAlignedCapitalizedAndTrimmed) {
    xio_init_record(h, 1);
    PutText(1, "CODE", "ab c");
    std::string id;
    RecordIdText(h, id, 1);
    EXPECT_EQ(id, std::to_string(h * 100 + 1) + "\t0\tAB C");  // trailing blanks removed

    // A job key (sectioned format) is right-aligned in its length; a plain text is not.
    FillSample(0);
    PutText(4, "SJOB", "12");
    PutText(4, "SNAME", "x");
    std::string key;
    KeyIdText(h, key, 4, 2);
    EXPECT_EQ(key, "4\t0\t     12X");
    std::string aligned = "7";
    AlignKeyText(h, F(4, "SJOB"), aligned);
    EXPECT_EQ(aligned, "      7");
    aligned = "ab";
    AlignKeyText(h, F(4, "SNAME"), aligned);
    EXPECT_EQ(aligned, "AB          ");

    PutText(4, "SJOB", "");
    PutText(4, "SNAME", "");
    KeyIdText(h, key, 4, 2);
    EXPECT_EQ(key, "");  // an all-blank key has no text at all
}

// Values already in capitals take a shorter way than values to capitalize: both give one text.
TEST_F(RecordServicesTest, KeyTextsAreTheSameWhetherOrNotValuesNeedCapitalizing) {
    auto texts = [&](const std::string& job, const std::string& name) {
        FillSample(0);
        PutText(4, "SJOB", job);
        PutText(4, "SNAME", name);
        std::string key;
        KeyIdText(h, key, 4, 2);
        xio_init_record(h, 1);
        PutText(1, "CODE", name);
        std::string id;
        RecordIdText(h, id, 1);
        return key + "|" + id;
    };
    for (auto [job, name] : {std::pair{"a1", "x y"}, {"12", "lower 12 ab"}, {"j-7", "q"}, {"job-7", "abcd"}}) {
        std::string upperJob = job, upperName = name;
        suite::x_capitalize(upperJob);
        suite::x_capitalize(upperName);
        EXPECT_EQ(texts(job, name), texts(upperJob, upperName)) << job << " " << name;
    }
    EXPECT_EQ(texts("7", "AB"), "4\t0\t      7AB|" + std::to_string(h * 100 + 1) + "\t0\tAB");
    EXPECT_EQ(texts("1234567", "ABCDEFGHIJKL"),
              "4\t0\t1234567ABCDEFGHIJKL|" + std::to_string(h * 100 + 1) + "\t0\tABCDEFGHIJ");
    EXPECT_EQ(texts("A-12", "ABCDE"), "4\t0\t   A-12ABCDE|" + std::to_string(h * 100 + 1) + "\t0\tABCDE");
    // A character beyond ASCII counts once however many bytes it takes.
    EXPECT_EQ(texts("\xC3\xA9", "A"), texts("E", "A").replace(4, 7, "      \xC3\xA9"));
}

TEST_F(RecordServicesTest, LookupCacheAnswersEachValueOnceUntilToldOrCleared) {
    LookupCache lookups;
    EXPECT_TRUE(lookups.Missing(h, 1, "CODE", "A1"));
    xio_init_record(h, 1);
    PutText(1, "CODE", "A1");
    ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);
    // The answer is kept: the record written behind the cache's back is not seen...
    EXPECT_TRUE(lookups.Missing(h, 1, "CODE", "A1"));
    EXPECT_EQ(lookups.Status(h, 1, "CODE", "B2"), XIO_NOT_FOUND);
    // ...until the writer says so, or the cache is cleared.
    lookups.Found(h, 1, "CODE", "B2");
    EXPECT_EQ(lookups.Status(h, 1, "CODE", "B2"), XIO_OK);
    lookups.Clear();
    EXPECT_FALSE(lookups.Missing(h, 1, "CODE", "A1"));
    EXPECT_TRUE(lookups.Missing(h, 1, "CODE", "B2"));
    // A value is told apart from its prefixes and extensions.
    EXPECT_TRUE(lookups.Missing(h, 1, "CODE", "A"));
    EXPECT_TRUE(lookups.Missing(h, 1, "CODE", "A1 X"));
}

TEST_F(RecordServicesTest, ComparedKeysAgreeExactlyWhenTheValuesFindTheSameRecord) {
    xio_init_record(h, 1);
    PutText(1, "CODE", "Ab-1234567");
    ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);
    const std::string stored = ComparedKey(h, 1, "CODE", "Ab-1234567");
    // Letter case, trailing blanks and characters past the field's length find the record too...
    for (const char* same : {"AB-1234567", "ab-1234567  ", "Ab-1234567XYZ"}) {
        EXPECT_EQ(ComparedKey(h, 1, "CODE", same), stored) << same;
        EXPECT_TRUE(ReadByKeys(h, 1, {{"CODE", same}})) << same;
    }
    // ...leading blanks and other characters do not.
    for (const char* other : {" Ab-1234567", "Ab-123456", "Ab_1234567"}) {
        EXPECT_NE(ComparedKey(h, 1, "CODE", other), stored) << other;
        EXPECT_FALSE(ReadByKeys(h, 1, {{"CODE", other}})) << other;
    }
}

TEST_F(RecordServicesTest, NewRecordOfAnIdentifiedFileReceivesItsIdentifier) {
    xio_init_record(h, 5);
    std::string first, second;
    RecordIdText(h, first, 5);
    x_value_def v;
    xio_get_field(h, 5, F(5, "IDENT"), v);
    ASSERT_FALSE(v.text.empty());
    std::string upper = v.text;
    suite::x_capitalize(upper);
    EXPECT_NE(first.find(upper), std::string::npos);
    RecordIdText(h, second, 5);
    EXPECT_EQ(first, second);  // the buffer keeps it
    ASSERT_EQ(xio_wr_record(h, 5), XIO_OK);
    ASSERT_EQ(xio_rd_record(h, 5, 0, 0), XIO_OK);  // stored with it
}

TEST_F(RecordServicesTest, DisplayTextsByFieldType) {
    FillSample(-25);
    std::string out;
    FieldDisplayText(out, h, 4, F(4, "SFLAG"));
    EXPECT_EQ(out, "TRUE");
    FieldDisplayText(out, h, 4, F(4, "SDATE"));
    EXPECT_EQ(out, "12/06/2026");
    FieldDisplayText(out, h, 4, F(4, "STIME"));
    EXPECT_EQ(out, " 9:05:07");
    FieldDisplayText(out, h, 4, F(4, "SKIND"));
    EXPECT_EQ(out, "Wholesale");
    FieldDisplayText(out, h, 4, F(4, "SBIG"));
    EXPECT_EQ(out, "Three");
    FieldDisplayText(out, h, 4, F(4, "SNUM"));
    EXPECT_EQ(out, "-0.25");
    // Right-aligned text and edited numbers read plainly: no padding, thousands as for numbers.
    PutText(4, "SRIGHT", " a  b");
    FieldDisplayText(out, h, 4, F(4, "SRIGHT"));
    EXPECT_EQ(out, "a b");
    PutNumber(4, "SEDIT", 1234567);
    FieldDisplayText(out, h, 4, F(4, "SEDIT"));
    EXPECT_EQ(out, AlphaNumber(1234567, 0, 0));

    xio_init_record(h, 1);
    PutText(1, "CODE", "  a   b ");
    RecordKeyDisplay(out, h, 1);
    EXPECT_EQ(out, " - 'a b'");
    FillSample(0);
    PutText(4, "SJOB", "123456");
    PutText(4, "SNAME", "Nm");
    KeyDisplay(out, h, 4, 2);
    EXPECT_EQ(out, " - '123-456', 'Nm'");
}

TEST_F(RecordServicesTest, CrToCrLfMendsTheLongTextInPlace) {
    xio_init_record(h, 1);
    const std::string memo = "one\rtwo\r\nthree\r" + std::string(90, 'x');
    PutText(1, "MEMO", memo);
    CrToCrLf(h, F(1, "MEMO"));
    x_value_def v;
    xio_get_field(h, 1, F(1, "MEMO"), v);
    EXPECT_EQ(v.longText, "one\r\ntwo\r\nthree\r\n" + std::string(90, 'x'));
}

TEST_F(RecordServicesTest, OpenDataFileReusesRequiredAndOptionalFiles) {
    uint16_t error = 99;
    const std::size_t before = list.size();
    EXPECT_TRUE(converter.OpenDataFile("TCV", 1, 0, 0, list, 3020, error, false));
    EXPECT_EQ(list.size(), before);  // already open: reused

    EXPECT_TRUE(converter.OpenDataFile("TCV", 2, 0, 0, list, 3020, error, true));
    EXPECT_EQ(error, 13);  // optional and absent: no entry
    EXPECT_EQ(list.size(), before);

    EXPECT_FALSE(converter.OpenDataFile("ZZZ", 1, 0, 0, list, 3020, error, false));
    EXPECT_NE(error, 0);
    ASSERT_EQ(list.size(), before + 1);
    EXPECT_EQ(list.back().abbr, "ZZZ");
    EXPECT_EQ(list.back().handle, 0);
}

TEST_F(RecordServicesTest, AnOptionalFileThatIsThereButDamagedIsNotTakenForAbsent) {
    std::ofstream(company.path() / xio_file_name("TCV", 2), std::ios::binary) << std::string(8192, '\x5a');
    uint16_t error = 0;
    EXPECT_FALSE(converter.OpenDataFile("TCV", 2, 0, 0, list, 3020, error, true));
    EXPECT_EQ(error, XIO_CORRUPT);
    EXPECT_EQ(list.back().abbr, "TCV");
    EXPECT_EQ(list.back().handle, 0);
}

// A data file that cannot be held for writing (its writes could then not be taken back) is not
// opened, nor reopened after its copy is taken or put back.
TEST_F(RecordServicesTest, AFileThatCannotBeHeldForWritingIsNotOpened) {
    ASSERT_EQ(xio_create_file("TCV", 2, company.path() / xio_file_name("TCV", 2)), XIO_OK);
    FailingCalls fail;
    fail.Fail(xio::FaultCall::StartWrites, 1, XIO_LOCKED, "TCV");
    uint16_t error = 0;
    EXPECT_FALSE(converter.OpenDataFile("TCV", 2, 0, 0, list, 3020, error, false));
    EXPECT_EQ(error, XIO_LOCKED);
    EXPECT_EQ(list.back().abbr, "TCV");
    EXPECT_EQ(list.back().handle, 0);

    fail.Fail(xio::FaultCall::StartWrites, 1, XIO_LOCKED, "TCV");
    DataFileBackup copy;
    EXPECT_FALSE(ReopenWithBackup(list, "TCV", 1, copy));
    EXPECT_EQ(FindFileHandle(list, "TCV", 1), 0);
    EXPECT_EQ(copy.CopyPath(), "");
    EXPECT_TRUE(fail.Spent());

    // Put back: restored, but not reopened (2).
    ASSERT_EQ(xio_open_file(company.path() / "MASTER.TCV", XIO_OPEN_READ_WRITE, h), XIO_OK);
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    RebindFileHandle(list, "TCV", 1, h);
    DataFileBackup backup;
    ASSERT_TRUE(ReopenWithBackup(list, "TCV", 1, backup));
    fail.Fail(xio::FaultCall::StartWrites, 1, XIO_LOCKED, "TCV");
    EXPECT_EQ(RestoreFromBackup(list, "TCV", 1, backup), 2);
    EXPECT_EQ(FindFileHandle(list, "TCV", 1), 0);
}

TEST_F(RecordServicesTest, MasterAndNamedFilesOpenFromTheDataFolder) {
    const uint16_t master = OpenMasterFile("TCV");
    EXPECT_NE(master, 0);
    xio_cls_file(master);
    const uint16_t named = OpenDataFileByName("TCV", "MASTER");
    EXPECT_NE(named, 0);
    xio_cls_file(named);
    EXPECT_EQ(OpenDataFileByName("TCV", "STANDARD"), 0);
    EXPECT_EQ(OpenMasterFile("QQQ"), 0);
}

TEST_F(RecordServicesTest, BackupOfAnOpenDataFileRollsBackAndRestores) {
    xio_init_record(h, 1);
    PutText(1, "CODE", "KEEP");
    ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);
    ASSERT_EQ(xio_commit(h), XIO_OK);
    const std::string path = company.str("MASTER.TCV");
    const std::string before = ReadFile(path);

    DataFileBackup backup;
    ASSERT_TRUE(ReopenWithBackup(list, "TCV", 1, backup));
    h = FindFileHandle(list, "TCV", 1);
    ASSERT_NE(h, 0);
    ASSERT_TRUE(fs::exists(backup.CopyPath()));
    xio_init_record(h, 1);
    PutText(1, "CODE", "GONE");
    ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);

    EXPECT_EQ(RestoreFromBackup(list, "TCV", 1, backup), 0);
    h = FindFileHandle(list, "TCV", 1);
    ASSERT_NE(h, 0);
    xio_init_record(h, 1);
    PutText(1, "CODE", "GONE");
    EXPECT_EQ(xio_find_record(h, 1, 0), XIO_NOT_FOUND);
    EXPECT_EQ(backup.CopyPath(), "");  // the copy went after the restore
    xio_cls_file(h);
    EXPECT_EQ(ReadFile(path), before);
    uint16_t reopened = 0;
    ASSERT_EQ(xio_open_file(path, 1, reopened), XIO_OK);
    RebindFileHandle(list, "TCV", 1, reopened);
}

TEST_F(RecordServicesTest, CommittedConversionKeepsItsRecords) {
    DataFileBackup backup;
    ASSERT_TRUE(ReopenWithBackup(list, "TCV", 1, backup));
    h = FindFileHandle(list, "TCV", 1);
    const std::string copy = backup.CopyPath();
    xio_init_record(h, 1);
    PutText(1, "CODE", "NEW");
    ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);
    EXPECT_TRUE(CommitWrites(list, "TCV", 1));
    EXPECT_TRUE(fs::exists(copy));  // kept until every file of the conversion has committed
    CommitBackup(backup);
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_EQ(xio_rollback(h), XIO_OK);  // nothing left to drop
    EXPECT_EQ(xio_find_record(h, 1, 0), XIO_OK);
}

// Either line of defence alone leaves the data file as it was; only when both fail is it said
// that records may have been converted (1).
TEST_F(RecordServicesTest, ARestoreFailsOnlyWhenRollbackAndCopyBothFail) {
    struct Case {
        bool rollbackFails, copyLost;
        int expected;
    };
    for (const Case& c : {Case{false, true, 0}, Case{true, false, 0}, Case{true, true, 1}}) {
        SCOPED_TRACE(std::to_string(c.rollbackFails) + std::to_string(c.copyLost));
        DataFileBackup backup;
        ASSERT_TRUE(ReopenWithBackup(list, "TCV", 1, backup));
        h = FindFileHandle(list, "TCV", 1);
        if (c.copyLost) fs::remove(backup.CopyPath());
        if (c.rollbackFails) xio_cls_file(h);  // the handle can no longer take its writes back
        EXPECT_EQ(RestoreFromBackup(list, "TCV", 1, backup), c.expected);
        h = FindFileHandle(list, "TCV", 1);
        if (h == 0) {
            ASSERT_EQ(xio_open_file(company.path() / "MASTER.TCV", 1, h), XIO_OK);
            RebindFileHandle(list, "TCV", 1, h);
        }
    }
}

TEST_F(RecordServicesTest, FailedRestoreIsLogged) {
    DataFileBackup backup;
    ASSERT_TRUE(ReopenWithBackup(list, "TCV", 1, backup));
    const std::string copy = backup.CopyPath();
    fs::remove(copy);
    const std::string folder = company.str() + "/";
    EXPECT_EQ(backup.Restore("", folder), 1);
    // One entry, one line: the message's line break is a blank there.
    EXPECT_NE(ReadFile(suite::x_log_path()).find("File backup failed for: " + copy + "\n"), std::string::npos);
}

TEST_F(RecordServicesTest, CopyThatCouldNotBePutBackIsKept) {
    std::string copy;
    {
        DataFileBackup backup;
        ASSERT_TRUE(ReopenWithBackup(list, "TCV", 1, backup));
        copy = backup.CopyPath();
        EXPECT_EQ(backup.Restore("", "/proc/no-such-folder/"), 3);  // the copy cannot be put back there
        backup.Keep();  // and the data file may differ from it
    }
    // Kept under a name no later run takes for the copy of a run that died.
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_TRUE(fs::exists(copy + ".kept"));
    EXPECT_NE(ReadFile(suite::x_log_path()).find("kept at " + copy + ".kept"), std::string::npos);
    fs::remove(copy + ".kept");
}

}  // namespace
}  // namespace dz::convert
