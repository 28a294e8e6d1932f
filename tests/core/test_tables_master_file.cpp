// The table file object: definitions and their lock, group records with stored widths, entries
// loaded into rows, the row-list helpers and the application/field-id list.

#include "test_tables_support.h"

#include "tables/substitution_fields.h"
#include "tables/substitution_rows.h"

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

namespace dz::tables::testing {
namespace {

// Reads a definition's stored fields with a handle of its own.
struct StoredDefinition {
    bool found = false;
    double oldSize = -1, xOnJob = -1, newBlk = -1, noExst = -1;
};

StoredDefinition ReadStored(const std::string& group, uint32_t appl, uint16_t field) {
    StoredDefinition d;
    SubstitutionMasterFile mf(kCommand);
    if (mf.handle() <= 0) return d;
    const auto h = static_cast<uint16_t>(mf.handle());
    const auto& f = mf.fields();
    xio_init_record(h, kDefinitionRecord);
    PutText(h, kDefinitionRecord, f.dTable, group);
    PutNumber(h, kDefinitionRecord, f.dAppl, appl);
    PutNumber(h, kDefinitionRecord, f.dField, field);
    if (xio_rd_record(h, kDefinitionRecord, 0, 0) == XIO_OK) {
        d.found = true;
        d.oldSize = GetNumber(h, kDefinitionRecord, f.dOldSiz);
        d.xOnJob = GetNumber(h, kDefinitionRecord, f.dXOnJob);
        d.newBlk = GetNumber(h, kDefinitionRecord, f.dNewBlk);
        d.noExst = GetNumber(h, kDefinitionRecord, f.dNoExst);
    }
    mf.Close();
    return d;
}

// The stored group record's widths, or an empty list when there is no group record.
std::vector<int> GroupWidths(const std::string& group) {
    std::vector<int> w;
    SubstitutionMasterFile mf(kCommand);
    if (mf.handle() <= 0) return w;
    const auto h = static_cast<uint16_t>(mf.handle());
    const auto& f = mf.fields();
    xio_init_record(h, kGroupRecord);
    PutText(h, kGroupRecord, f.table, group);
    if (xio_rd_record(h, kGroupRecord, 0, 0) == XIO_OK) {
        for (uint16_t fld : {f.taLen, f.tbLen, f.tcLen, f.tbsLen, f.tsufLen, f.tj1Len, f.tj2Len, f.tj3Len, f.tp1Len,
                             f.tp2Len, f.tp3Len, f.tp4Len})
            w.push_back(static_cast<int>(GetNumber(h, kGroupRecord, fld)));
    }
    mf.Close();
    return w;
}

std::vector<std::string> OldValues(const SubstitutionTable& doc) {
    std::vector<std::string> v;
    for (const SubstitutionRow* r = doc.firstRow; r; r = r->next) v.push_back(r->oldValue);
    return v;
}

// ---- The application and field-id list ----------------------------------------------------------

TEST(SubstitutionFieldList, EightApplicationsWithFiftyTwoDistinctFieldIds) {
    const auto& apps = SubstitutionApplications();
    ASSERT_EQ(apps.size(), 8u);
    std::vector<std::string> codes;
    std::set<uint16_t> ids;
    std::size_t count = 0;
    for (std::size_t i = 0; i < apps.size(); ++i) {
        EXPECT_EQ(apps[i].number, i + 1);
        codes.emplace_back(apps[i].code);
        for (const auto& f : apps[i].fields) ids.insert(f.id);
        count += apps[i].fields.size();
    }
    EXPECT_EQ(codes, (std::vector<std::string>{"GL", "JC", "AP", "PR", "PM", "XX", "TL", "AR"}));
    EXPECT_EQ(count, 52u);
    EXPECT_EQ(ids.size(), 52u);
    EXPECT_EQ(FindApplication(5)->name, "Property Management");
    EXPECT_EQ(FindApplication(5)->fields.front().id, 400);
    EXPECT_EQ(FindApplication(5)->fields.back().id, 419);
    EXPECT_EQ(FindApplication(6)->fields[0].needs, "TX");
    EXPECT_EQ(FindApplication(6)->fields[1].needs, "CM");
    EXPECT_EQ(FindApplication(9), nullptr);
    EXPECT_EQ(ApplicationOfField(9003), kApplGL);
    EXPECT_EQ(ApplicationOfField(46), kApplPR);
    EXPECT_EQ(ApplicationOfField(301), kApplAR);
    EXPECT_EQ(ApplicationOfField(999), 0u);
}

TEST(SubstitutionFieldList, NewAndThirdValueFieldsFollowTheFieldId) {
    EXPECT_STREQ(NewValueFieldName(9), "NEWACCT");
    EXPECT_STREQ(NewValueFieldName(9001), "NEWPREA");
    EXPECT_STREQ(NewValueFieldName(9002), "NEWPREB");
    EXPECT_STREQ(NewValueFieldName(9003), "NEWPREC");
    EXPECT_STREQ(NewValueFieldName(9004), "NEWBASE");
    EXPECT_STREQ(NewValueFieldName(16), "NEWJOB");
    EXPECT_STREQ(NewValueFieldName(18), "NEWPHAS");
    EXPECT_STREQ(NewValueFieldName(46), "FNEWVAL");
    EXPECT_STREQ(NewValueFieldName(400), "FNEWVAL");
    EXPECT_STREQ(ThirdValueFieldName(16), "NEWXONJ");
    EXPECT_STREQ(ThirdValueFieldName(46), "NEWXONJ");
    EXPECT_EQ(ThirdValueFieldName(15), nullptr);
    EXPECT_EQ(ThirdValueFieldName(9), nullptr);
    EXPECT_TRUE(IsUnnamedGroup(""));
    EXPECT_TRUE(IsUnnamedGroup("new TABLE group"));
    EXPECT_FALSE(IsUnnamedGroup("New table group 2"));
    EXPECT_TRUE(IsBlankValue(" "));
    EXPECT_FALSE(IsBlankValue("  "));
}

// ---- Rows -----------------------------------------------------------------------------------

TEST(SubstitutionRows, FindRowIgnoresCaseAndSearchesThePendingRow) {
    SubstitutionTable doc("G", 16, kApplJC);
    SubstitutionRow* r = AppendRow(doc);
    r->oldValue = "ABC";
    doc.pendingNewRow = new SubstitutionRow;
    doc.pendingNewRow->oldValue = "Typed";
    SubstitutionRow* found = r;
    EXPECT_FALSE(FindRow(doc, "abc", found));
    EXPECT_EQ(found, r);
    EXPECT_FALSE(FindRow(doc, "", found));
    EXPECT_EQ(found, nullptr);
    EXPECT_FALSE(FindRow(doc, "TYPED", found));
    EXPECT_EQ(found, doc.pendingNewRow);
    EXPECT_TRUE(FindRow(doc, "ABD", found));
    EXPECT_EQ(found, nullptr);
}

TEST(SubstitutionRows, AppendRowGoesBeforeTheCurrentRow) {
    SubstitutionTable doc;
    SubstitutionRow* only = AppendRow(doc);  // empty list: first and current
    EXPECT_EQ(doc.firstRow, only);
    EXPECT_EQ(doc.currentRow, only);
    only->oldValue = "C";
    SubstitutionRow* before = AppendRow(doc);  // one current row: the new row becomes first
    before->oldValue = "N";
    EXPECT_EQ(doc.firstRow, before);
    EXPECT_EQ(doc.currentRow, only);
    EXPECT_EQ(OldValues(doc), (std::vector<std::string>{"N", "C"}));

    SubstitutionTable three;
    for (const char* v : {"1", "2", "3"}) {
        // Build 1, 2, 3 with the third current.
        SubstitutionRow* row = new SubstitutionRow;
        row->oldValue = v;
        row->previous = three.currentRow;
        if (three.currentRow) three.currentRow->next = row; else three.firstRow = row;
        three.currentRow = row;
    }
    SubstitutionRow* added = AppendRow(three);
    added->oldValue = "new";
    EXPECT_EQ(OldValues(three), (std::vector<std::string>{"1", "2", "new", "3"}));
    EXPECT_EQ(three.currentRow->oldValue, "3");
    EXPECT_EQ(three.currentRow->previous, added);
    EXPECT_EQ(added->previous->oldValue, "2");
    EXPECT_EQ(three.RowCount(), 4);
}

// ---- The file -----------------------------------------------------------------------------

TEST_F(TablesTest, MissingFileWorksWithHandleZeroAndNothingToDo) {
    SubstitutionMasterFile mf(kCommand, 0, "Group", kApplJC, 16);
    EXPECT_EQ(mf.handle(), 0);
    EXPECT_FALSE(mf.HasGroups());
    EXPECT_TRUE(mf.CheckMaxGroups());
    EXPECT_EQ(mf.WriteDefinition(0, 65535, 0, 0), XIO_NOT_FOUND);
    EXPECT_EQ(mf.ReleaseDefinition(true), XIO_OK);
    EXPECT_EQ(mf.WriteEntry("a", "b"), XIO_NO_FILE);
    SubstitutionTable doc;
    EXPECT_EQ(mf.LoadRows("Group", 16, doc), XIO_OK);
    EXPECT_EQ(doc.firstRow, nullptr);
}

TEST_F(TablesTest, UnnamedGroupIsNeverStored) {
    CreateMasterFile();
    SubstitutionMasterFile mf(kCommand, 0, "New table group", kApplJC, 16);
    ASSERT_GT(mf.handle(), 0);
    EXPECT_EQ(mf.WriteDefinition(0, 65535, 0, 0), XIO_NOT_FOUND);
    EXPECT_FALSE(mf.ReadDefinition("", kApplJC, 16, false));
    EXPECT_NE(mf.WriteEntry("a", "b"), XIO_OK);
    EXPECT_FALSE(mf.HasGroups());
    mf.Close();
}

TEST_F(TablesTest, NewDefinitionsStartWithTheirDefaults) {
    CreateMasterFile();
    WriteTable({"G", kApplPR, 46, 0, 0, 65535, {{"U1", "U2", "L1"}}});
    WriteTable({"G", kApplJC, 16, 0, 0, 65535, {{"J1", "J2", ""}}});
    WriteTable({"G", kApplPM, 400, 3, 2, 65535, {{"P1", "P2", ""}}});
    StoredDefinition u = ReadStored("G", kApplPR, 46);
    ASSERT_TRUE(u.found);
    EXPECT_EQ(u.xOnJob, 1);
    EXPECT_EQ(u.oldSize, 0);
    EXPECT_EQ(u.newBlk, 0);
    EXPECT_EQ(u.noExst, 0);
    StoredDefinition j = ReadStored("G", kApplJC, 16);
    ASSERT_TRUE(j.found);
    EXPECT_EQ(j.xOnJob, 0);
    StoredDefinition p = ReadStored("G", kApplPM, 400);
    ASSERT_TRUE(p.found);
    EXPECT_EQ(p.newBlk, 3);
    EXPECT_EQ(p.noExst, 2);
    EXPECT_EQ(p.oldSize, 0);
}

TEST_F(TablesTest, GroupRecordKeepsTheWidthsOfTheFormatsInUse) {
    CreateMasterFile();
    WriteTable({"PR only", kApplPR, 30, 0, 0, 65535, {{"E1", "E2", ""}}});
    EXPECT_TRUE(GroupWidths("PR only").empty()) << "a payroll table writes no group record";

    WriteTable({"GL group", kApplGL, 9001, 0, 0, 65535, {{"01", "02", ""}}});
    // Default company: prefix A 2, B 1, C 2, base 4, suffix 2; job and phase widths untouched.
    EXPECT_EQ(GroupWidths("GL group"), (std::vector<int>{2, 1, 2, 4, 2, 0, 0, 0, 0, 0, 0, 0}));

    WriteTable({"GL group", kApplJC, 16, 0, 0, 65535, {{"100", "200", ""}}});
    WriteTable({"GL group", kApplJC, 18, 0, 0, 65535, {{"10", "20", ""}}});
    EXPECT_EQ(GroupWidths("GL group"), (std::vector<int>{2, 1, 2, 4, 2, 3, 3, 0, 2, 3, 2, 0}));
}

TEST_F(TablesTest, LeavingATableWithoutEntriesRemovesItsDefinition) {
    CreateMasterFile();
    SubstitutionMasterFile mf(kCommand, 0, "G", kApplJC, 18);
    ASSERT_EQ(mf.WriteDefinition(0, 65535, 0, 0), XIO_OK);
    EXPECT_TRUE(ReadStored("G", kApplJC, 18).found);
    EXPECT_EQ(mf.ReleaseDefinition(true), XIO_OK);
    EXPECT_FALSE(ReadStored("G", kApplJC, 18).found);

    ASSERT_EQ(mf.WriteDefinition(0, 65535, 0, 0), XIO_OK);
    ASSERT_EQ(mf.WriteEntry("10", "20"), XIO_OK);
    EXPECT_EQ(mf.ReleaseDefinition(false), XIO_OK);
    EXPECT_TRUE(ReadStored("G", kApplJC, 18).found);
    mf.Close();
}

TEST_F(TablesTest, OptionsReachTheFileOnlyWhenTheTableIsSaved) {
    CreateMasterFile();
    WriteTable({"G", kApplAP, 6, 1, 1, 65535, {{"V1", "V2", ""}}});
    SubstitutionMasterFile mf(kCommand, 0, "G", kApplAP, 6);
    ASSERT_EQ(mf.WriteDefinition(25, 65535, 2, 3), XIO_OK);
    EXPECT_EQ(mf.ReleaseDefinition(false), XIO_OK);
    StoredDefinition kept = ReadStored("G", kApplAP, 6);
    EXPECT_EQ(kept.newBlk, 1);
    EXPECT_EQ(kept.noExst, 1);
    EXPECT_EQ(kept.oldSize, 0);

    ASSERT_EQ(mf.WriteDefinition(25, 65535, 2, 3), XIO_OK);
    EXPECT_EQ(mf.ReleaseDefinition(true), XIO_OK);
    StoredDefinition saved = ReadStored("G", kApplAP, 6);
    EXPECT_EQ(saved.newBlk, 2);
    EXPECT_EQ(saved.noExst, 3);
    EXPECT_EQ(saved.oldSize, 25);
    mf.Close();
}

TEST_F(TablesTest, LoadRowsReadsOneTableInKeyOrder) {
    CreateMasterFile();
    WriteTable({"Jobs", kApplJC, 16, 0, 0, 1, {{"300", "3000", "X3"}, {"100", "1000", ""}, {"200", "2000", "X2"}}});
    WriteTable({"Jobs", kApplJC, 18, 0, 0, 65535, {{"150", "P", ""}}});
    WriteTable({"Jobs2", kApplJC, 16, 0, 0, 65535, {{"000", "Z", ""}}});
    SubstitutionMasterFile mf(kCommand);
    SubstitutionTable doc("jobs", 16, kApplJC);
    EXPECT_EQ(mf.LoadRows("jobs", 16, doc), XIO_OK);
    EXPECT_EQ(OldValues(doc), (std::vector<std::string>{"100", "200", "300"}));
    EXPECT_EQ(doc.currentRow->oldValue, "300");
    EXPECT_EQ(doc.nextRowNumber, 4);
    EXPECT_EQ(doc.firstRow->newValue, "1000");
    EXPECT_EQ(doc.firstRow->next->thirdValue, "X2");
    EXPECT_EQ(doc.firstRow->newEntry, 0);
    EXPECT_EQ(doc.firstRow->modified, 0);

    // A table without a third value loads none, even from a stored entry.
    SubstitutionTable phases("Jobs", 18, kApplJC);
    EXPECT_EQ(mf.LoadRows("Jobs", 18, phases), XIO_OK);
    EXPECT_EQ(OldValues(phases), (std::vector<std::string>{"150"}));
    EXPECT_EQ(phases.firstRow->newValue, "P");
    EXPECT_EQ(phases.firstRow->thirdValue, "");
    mf.Close();
}

TEST_F(TablesTest, EntriesAreReplacedUnderTheirOldValueAndCutToFortyCharacters) {
    CreateMasterFile();
    const std::string longOld(45, 'A');
    WriteTable({"G", kApplPM, 402, 0, 0, 65535, {{longOld, std::string(50, 'N'), ""}, {"t1", "first", ""}}});
    WriteTable({"G", kApplPM, 402, 0, 0, 65535, {{"T1", "second", ""}}});
    SubstitutionMasterFile mf(kCommand);
    SubstitutionTable doc;
    ASSERT_EQ(mf.LoadRows("G", 402, doc), XIO_OK);
    ASSERT_EQ(doc.RowCount(), 2);
    EXPECT_EQ(doc.firstRow->oldValue, std::string(40, 'A'));
    EXPECT_EQ(doc.firstRow->newValue, std::string(40, 'N'));
    EXPECT_EQ(doc.firstRow->next->oldValue, "t1") << "the stored spelling stays";
    EXPECT_EQ(doc.firstRow->next->newValue, "second");
    mf.Close();
}

TEST_F(TablesTest, CheckMaxGroupsAllowsTheHundredthGroupOnly) {
    CreateMasterFile();
    SubstitutionMasterFile mf(kCommand);
    for (int i = 0; i < 99; ++i) {
        mf.SetCurrentTable("Group " + std::to_string(i), kApplGL, 9);
        ASSERT_EQ(mf.WriteDefinition(0, 65535, 0, 0), XIO_OK);
        ASSERT_EQ(mf.ReleaseDefinition(false), XIO_OK);  // the empty table goes, its group stays
    }
    EXPECT_EQ(mf.CountGroups(), 99);
    EXPECT_TRUE(mf.HasGroups());
    EXPECT_TRUE(mf.CheckMaxGroups());
    EXPECT_TRUE(ui_.messages.empty());
    mf.SetCurrentTable("Group 99", kApplGL, 9);
    ASSERT_EQ(mf.WriteDefinition(0, 65535, 0, 0), XIO_OK);
    ASSERT_EQ(mf.ReleaseDefinition(false), XIO_OK);
    EXPECT_FALSE(mf.CheckMaxGroups());
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].first, ui::kInfo);
    EXPECT_EQ(ui_.messages[0].second,
              "The maximum number of tables allowed is exceeded. You must delete an existing table type before you "
              "may create a new one.");
    mf.Close();
}

TEST_F(TablesTest, ListGroupsCountsTablesAndEntries) {
    CreateMasterFile();
    WriteTable({"beta", kApplPR, 30, 0, 2, 65535, {{"E1", "E2", ""}}});
    WriteTable({"Alpha", kApplJC, 16, 3, 0, 1, {{"1", "2", "X"}, {"3", "4", ""}}});
    WriteTable({"Alpha", kApplGL, 9001, 0, 0, 65535, {{"01", "02", ""}}});
    SubstitutionMasterFile mf(kCommand);
    std::vector<GroupSummary> groups;
    ASSERT_EQ(mf.ListGroups(groups), XIO_OK);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].name, "Alpha");
    EXPECT_TRUE(groups[0].hasGroupRecord);
    ASSERT_EQ(groups[0].tables.size(), 2u);
    EXPECT_EQ(groups[0].tables[0].fieldId, 9001);  // GL before JC
    EXPECT_EQ(groups[0].tables[0].entries, 1);
    EXPECT_EQ(groups[0].tables[1].fieldId, 16);
    EXPECT_EQ(groups[0].tables[1].entries, 2);
    EXPECT_EQ(groups[0].tables[1].blankValueOption, 3);
    EXPECT_EQ(groups[0].tables[1].mapJobToExtra, 1);
    EXPECT_EQ(groups[1].name, "beta");
    EXPECT_FALSE(groups[1].hasGroupRecord);
    EXPECT_EQ(groups[1].tables[0].notFoundOption, 2);
    mf.Close();
}

// A hostile or damaged MASTER.XVM: a stored size that is not a whole number in its range reads as
// "not set", never as whatever a cast makes of it.
TEST_F(TablesTest, StoredSizesOutOfRangeReadAsNotSet) {
    CreateMasterFile();
    WriteTable({"G", kApplAP, 6, 1, 1, 65535, {{"V1", "V2", ""}}});
    for (const double stored : {1e300, 70000.0, 41.0, 12.5, -3.0, 25.0}) {
        SCOPED_TRACE(stored);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((folder() / kXvmFileName).c_str(), &db), SQLITE_OK);
        sqlite3_stmt* st = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type='table' AND sql LIKE '%DOLDSIZ%'", -1,
                                     &st, nullptr),
                  SQLITE_OK);
        ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
        const std::string table = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
        ASSERT_EQ(sqlite3_prepare_v2(db, ("UPDATE \"" + table + "\" SET DOLDSIZ = ?1").c_str(), -1, &st, nullptr), SQLITE_OK);
        sqlite3_bind_double(st, 1, stored);
        ASSERT_EQ(sqlite3_step(st), SQLITE_DONE);
        sqlite3_finalize(st);
        sqlite3_close(db);
        SubstitutionMasterFile mf(kCommand);
        std::vector<GroupSummary> groups;
        ASSERT_EQ(mf.ListGroups(groups), XIO_OK);
        ASSERT_EQ(groups.size(), 1u);
        ASSERT_EQ(groups[0].tables.size(), 1u);
        EXPECT_EQ(groups[0].tables[0].oldSize, stored == 25.0 ? 25 : 0);
        mf.Close();
    }
}

// A definition that cannot be written must not pass for "nothing to lock" (11), which callers
// take as success.
TEST_F(TablesTest, FailedDefinitionWriteIsReported) {
    CreateMasterFile();
    SubstitutionMasterFile mf(kCommand, 0, "Busy", kApplPR, 30);
    ASSERT_GT(mf.handle(), 0);
    // Another writer holds the file: reads still work, writes do not.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open((folder() / kXvmFileName).c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const int status = mf.WriteDefinition(0, 65535, 0, 0);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_NE(status, XIO_OK);
    EXPECT_NE(status, XIO_NOT_FOUND);
    EXPECT_FALSE(ReadStored("Busy", kApplPR, 30).found);
    mf.Close();
}

// ---- The definition lock ----------------------------------------------------------------------

TEST_F(TablesTest, SecondHandleGetsTheLockCode) {
    CreateMasterFile();
    WriteTable({"G", kApplJC, 16, 0, 0, 65535, {{"1", "2", ""}}});
    SubstitutionMasterFile first(kCommand, 0, "G", kApplJC, 16);
    SubstitutionMasterFile second(kCommand, 0, "G", kApplJC, 16);
    ASSERT_EQ(first.WriteDefinition(0, 65535, 0, 0), XIO_OK);
    EXPECT_EQ(second.WriteDefinition(0, 65535, 0, 0), XIO_LOCKED);
    // Another table of the same group is free.
    second.SetCurrentTable("G", kApplJC, 18);
    EXPECT_EQ(second.WriteDefinition(0, 65535, 0, 0), XIO_OK);
    EXPECT_EQ(second.ReleaseDefinition(false), XIO_OK);
    EXPECT_EQ(first.ReleaseDefinition(false), XIO_OK);
    second.SetCurrentTable("G", kApplJC, 16);
    EXPECT_EQ(second.WriteDefinition(0, 65535, 0, 0), XIO_OK);
    EXPECT_EQ(second.ReleaseDefinition(false), XIO_OK);
    first.Close();
    second.Close();
}

// Releasing a table that another user holds touches nothing: not that table, and not the
// record this handle read last.
TEST_F(TablesTest, ReleasingATableHeldElsewhereChangesNothing) {
    CreateMasterFile();
    WriteTable({"G", kApplJC, 18, 0, 0, 65535, {{"10", "20", ""}}});
    SubstitutionMasterFile holder(kCommand, 0, "G", kApplJC, 16);
    ASSERT_EQ(holder.WriteDefinition(0, 65535, 0, 0), XIO_OK);  // new and still empty
    SubstitutionMasterFile other(kCommand, 0, "G", kApplJC, 18);
    ASSERT_EQ(other.WriteDefinition(0, 65535, 0, 0), XIO_OK);
    ASSERT_EQ(other.ReleaseDefinition(true), XIO_OK);
    other.SetCurrentTable("G", kApplJC, 16);
    EXPECT_EQ(other.ReleaseDefinition(false), XIO_LOCKED);
    EXPECT_TRUE(ReadStored("G", kApplJC, 18).found);
    EXPECT_TRUE(ReadStored("G", kApplJC, 16).found);
    EXPECT_EQ(holder.ReleaseDefinition(false), XIO_OK);
    EXPECT_FALSE(ReadStored("G", kApplJC, 16).found) << "left empty by its holder";
    holder.Close();
    other.Close();
}

TEST_F(TablesTest, DefinitionLockHoldsAgainstAnotherProcess) {
    CreateMasterFile();
    WriteTable({"Shared", kApplJC, 16, 0, 0, 65535, {{"1", "2", ""}}});
    int locked[2], release[2];
    ASSERT_EQ(::pipe(locked), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The other program: open the table for editing and hold it until told to stop.
        SubstitutionMasterFile mf(kCommand, 0, "Shared", kApplJC, 16);
        char answer = mf.WriteDefinition(0, 65535, 0, 0) == XIO_OK ? 'L' : 'F';
        (void)!::write(locked[1], &answer, 1);
        char c;
        (void)!::read(release[0], &c, 1);
        ::_exit(0);  // dies holding the lock
    }
    char answer = 0;
    ASSERT_EQ(::read(locked[0], &answer, 1), 1);
    ASSERT_EQ(answer, 'L');
    {
        SubstitutionMasterFile mf(kCommand, 0, "Shared", kApplJC, 16);
        EXPECT_EQ(mf.WriteDefinition(0, 65535, 0, 0), XIO_LOCKED);
        mf.Close();
    }
    char go = 'x';
    ASSERT_EQ(::write(release[1], &go, 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    {
        // The holder is gone: its lock no longer counts.
        SubstitutionMasterFile mf(kCommand, 0, "Shared", kApplJC, 16);
        EXPECT_EQ(mf.WriteDefinition(0, 65535, 0, 0), XIO_OK);
        EXPECT_EQ(mf.ReleaseDefinition(false), XIO_OK);
        mf.Close();
    }
    for (int fd : {locked[0], locked[1], release[0], release[1]}) ::close(fd);
}

}  // namespace
}  // namespace dz::tables::testing
