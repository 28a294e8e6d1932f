// The table document without a grid: row order and edits, opening a table for editing, and
// saving it in place or under another group, all or nothing.

#include "test_tables_support.h"

#include <gmock/gmock.h>

#include "platform/datafile/journal_guard.h"
#include "platform/datafile/store.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/ui/scripted_ui.h"
#include "as_user.h"
#include "immutable.h"
#include "tables/substitution_fields.h"
#include "tables/substitution_rows.h"

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace dz::tables::testing {
namespace {

std::vector<std::string> OldValues(const SubstitutionTable& doc) {
    std::vector<std::string> v;
    for (const SubstitutionRow* r = doc.firstRow; r; r = r->next) v.push_back(r->oldValue);
    return v;
}

SubstitutionRow* Add(SubstitutionTable& doc, const std::string& oldValue, const std::string& newValue,
                     bool asNew = true) {
    doc.currentRow = nullptr;
    SubstitutionRow* r = AppendRow(doc);
    r->oldValue = oldValue;
    r->newValue = newValue;
    r->newEntry = asNew ? 1 : 0;
    r->modified = asNew ? 1 : 0;
    return r;
}

class EditorSaveTest : public TablesTest {
protected:
    void SetUp() override {
        TablesTest::SetUp();
        ui::set_current(&sui_);
        xvl::InstallStepWords();  // the command line's steps are said in its numbered words
    }

    // The stored entries of a table as "old=new", in key order.
    std::vector<std::string> Stored(const std::string& group, uint16_t field) {
        SubstitutionMasterFile mf(kCommand);
        SubstitutionTable doc(group, field, ApplicationOfField(field));
        EXPECT_EQ(mf.LoadRows(group, field, doc), XIO_OK);
        mf.Close();
        std::vector<std::string> v;
        for (const SubstitutionRow* r = doc.firstRow; r; r = r->next) v.push_back(r->oldValue + "=" + r->newValue);
        return v;
    }

    // The editor's object on a table chosen as the choice panel opens it.
    std::unique_ptr<SubstitutionMasterFile> OpenTable(const std::string& group, uint32_t appl, uint16_t field) {
        auto mf = std::make_unique<SubstitutionMasterFile>(kCommand);
        EXPECT_TRUE(mf->OpenForEdit(group, static_cast<uint16_t>(appl + 1), field, true, 0, 65535, 0, 0, true, false));
        return mf;
    }

    // The same, opened where the tables file may only be read, as the editor then opens it.
    std::unique_ptr<SubstitutionMasterFile> LookAtTable(const std::string& group, uint32_t appl, uint16_t field) {
        std::unique_ptr<SubstitutionMasterFile> mf;
        {
            xio_read_only_scope look;
            mf = std::make_unique<SubstitutionMasterFile>(kCommand);
        }
        EXPECT_TRUE(mf->OpenForEdit(group, static_cast<uint16_t>(appl + 1), field, true, 0, 65535, 0, 0, true, false));
        return mf;
    }

    // A document loaded from the table as the editor opens it.
    void Load(SubstitutionMasterFile& mf, SubstitutionTable& doc) {
        doc.masterHandle = mf.handle();
        ASSERT_EQ(mf.LoadRows(doc.groupName, doc.fieldId, doc), XIO_OK);
        SortTableRows(doc);
        StartNewRow(doc);
    }

    // The table "Jobs" (PR field 30, one row A=1) as the editor opens it into `doc`.
    std::unique_ptr<SubstitutionMasterFile> OpenJobs(SubstitutionTable& doc) {
        CreateMasterFile();
        WriteTable({"Jobs", kApplPR, 30, 0, 0, 65535, {{"A", "1", ""}}});
        auto mf = OpenTable("Jobs", kApplPR, 30);
        doc.oldSize = 10;
        Load(*mf, doc);
        return mf;
    }

    ui::ScriptedUi sui_;
};

// ---- Order and edits ------------------------------------------------------------------------

TEST(TableRows, PlainNumbersSortFirstByValueThenTextWithoutCase) {
    SubstitutionTable doc("G", 30, kApplPR);
    for (const char* v : {"b", "010", "10", "A", "9"}) Add(doc, v, "");
    SortTableRows(doc);
    EXPECT_EQ(OldValues(doc), (std::vector<std::string>{"9", "10", "010", "A", "b"}));
    EXPECT_EQ(doc.firstRow->rowNumber, 1);
    EXPECT_EQ(doc.nextRowNumber, 6);
    // Equal values keep their order (a stable sort).
    SubstitutionTable same("G", 30, kApplPR);
    Add(same, "x", "1");
    Add(same, "X", "2");
    Add(same, "2", "3");
    SortTableRows(same);
    EXPECT_EQ(OldValues(same), (std::vector<std::string>{"2", "x", "X"}));
    EXPECT_TRUE(CompareOldValues("99", "100"));
    EXPECT_FALSE(CompareOldValues("100", "99"));
    EXPECT_TRUE(CompareOldValues("123", "0"));  // 0 is not a plain number
    EXPECT_EQ(TrimBlanks(" \ta b\t "), "a b");
}

// Lists of a few ordered runs (merged) and scrambled lists (sorted) give the stable order.
TEST(TableRows, RunsInOrderAndScrambledListsGiveTheSameStableOrder) {
    std::vector<std::string> values;
    for (int i = 0; i < 300; ++i) {
        const int v = (i * 37) % 101;  // repeats, so that equal values must keep their order
        values.push_back(i % 4 == 0 ? std::to_string(v + 1) : (i % 4 == 1 ? "k" : "K") + std::to_string(v));
    }
    auto check = [](const std::vector<std::string>& in) {
        SubstitutionTable doc("G", 30, kApplPR);
        std::vector<std::pair<std::string, std::string>> want;
        for (std::size_t i = 0; i < in.size(); ++i) {
            Add(doc, in[i], std::to_string(i));
            want.emplace_back(in[i], std::to_string(i));
        }
        std::stable_sort(want.begin(), want.end(),
                         [](const auto& a, const auto& b) { return CompareOldValues(a.first, b.first); });
        SortTableRows(doc);
        std::vector<std::pair<std::string, std::string>> got;
        for (const SubstitutionRow* r = doc.firstRow; r; r = r->next) got.emplace_back(r->oldValue, r->newValue);
        EXPECT_EQ(got, want);
    };
    check(values);  // scrambled
    std::vector<std::string> runs;
    for (int part = 0; part < 3; ++part) {  // three ordered runs, each with repeats
        std::vector<std::string> run(values.begin() + part * 100, values.begin() + part * 100 + 100);
        std::stable_sort(run.begin(), run.end(), CompareOldValues);
        runs.insert(runs.end(), run.begin(), run.end());
    }
    check(runs);
}

TEST(TableRows, ChangedOldValueOfASavedRowQueuesTheOldEntryForDeletion) {
    SubstitutionTable doc("G", 30, kApplPR);
    SubstitutionRow* x = Add(doc, "X", "1", false);
    StartNewRow(doc);
    BeginRowEdit(doc, x);
    x->oldValue = "Y";
    CommitRowEdit(doc, x);
    EXPECT_TRUE(doc.modified);
    EXPECT_EQ(x->newEntry, 1);
    EXPECT_EQ(x->modified, 1);
    ASSERT_NE(doc.removedRows, nullptr);
    EXPECT_EQ(doc.removedRows->oldValue, "X");

    // A cancelled edit restores the row; on the pending row it starts a fresh one.
    BeginRowEdit(doc, x);
    x->oldValue = "Z";
    CancelRowEdit(doc, x);
    EXPECT_EQ(x->oldValue, "Y");
    SubstitutionRow* pending = doc.pendingNewRow;
    BeginRowEdit(doc, pending);
    pending->oldValue = "typed";
    CancelRowEdit(doc, pending);
    EXPECT_TRUE(doc.pendingNewRow->oldValue.empty());
    EXPECT_EQ(doc.RowCount(), 1);
}

// ---- Save ----------------------------------------------------------------------------------

TEST_F(EditorSaveTest, RenamedRowDeletesTheOldEntryAndWritesTheNewOneWithHeaderOne) {
    CreateMasterFile();
    WriteTable({"Jobs", kApplPR, 30, 0, 0, 65535, {{"X", "1", ""}, {"K", "2", ""}}});
    auto mf = OpenTable("Jobs", kApplPR, 30);
    SubstitutionTable doc("Jobs", 30, kApplPR);
    doc.oldSize = 10;
    Load(*mf, doc);
    SubstitutionRow* x = doc.firstRow->next;
    ASSERT_EQ(x->oldValue, "X");
    BeginRowEdit(doc, x);
    x->oldValue = "Y";
    CommitRowEdit(doc, x);
    SubstitutionMasterFile saver(kCommand, mf->handle(), "Jobs", kApplPR, 30);
    EXPECT_EQ(saver.Save(doc), XIO_OK);
    EXPECT_EQ(Stored("Jobs", 30), (std::vector<std::string>{"K=2", "Y=1"}));
    EXPECT_EQ(x->newEntry, 0);
    EXPECT_EQ(x->modified, 0);
    EXPECT_EQ(doc.removedRows, nullptr);
    std::string g;
    uint16_t a = 0, f = 0;
    ASSERT_TRUE(saver.ReadLastChoice(g, a, f));
    EXPECT_EQ(g, "Jobs");
    EXPECT_EQ(a, kApplPR + 1);
    EXPECT_EQ(f, 30);
    mf->Close();
}

TEST_F(EditorSaveTest, ProgressTextForTheFirst49RowsThenEveryTenth) {
    CreateMasterFile();
    WriteTable({"Big", kApplPR, 30, 0, 0, 65535, {{"seed", "s", ""}}});
    auto mf = OpenTable("Big", kApplPR, 30);
    SubstitutionTable doc("Big", 30, kApplPR);
    doc.oldSize = 10;
    Load(*mf, doc);
    RemoveRow(doc, doc.firstRow);
    for (int i = 1; i <= 120; ++i) Add(doc, "v" + std::to_string(1000 + i), "n");
    RenumberRows(doc);
    SubstitutionMasterFile saver(kCommand, mf->handle(), "Big", kApplPR, 30);
    ASSERT_EQ(saver.Save(doc), XIO_OK);
    std::vector<std::string> saving;
    for (const auto& t : sui_.task_lines())
        if (t.rfind("Saving table to disk: ", 0) == 0) saving.push_back(t);
    ASSERT_EQ(saving.size(), 49u + 8u);
    EXPECT_EQ(saving.front(), "Saving table to disk: 1 of 120 rows saved");
    EXPECT_EQ(saving[48], "Saving table to disk: 49 of 120 rows saved");
    EXPECT_EQ(saving[49], "Saving table to disk: 50 of 120 rows saved");
    EXPECT_EQ(saving.back(), "Saving table to disk: 120 of 120 rows saved");
    const auto deleted = std::find(sui_.task_lines().begin(), sui_.task_lines().end(),
                                   "Freeing deleted disk space: 1 records deleted");
    EXPECT_NE(deleted, sui_.task_lines().end());
    EXPECT_EQ(Stored("Big", 30).size(), 120u);
    mf->Close();
}

// A save refused because another user holds the table, or because the table cannot be made
// current, answers a failure and says why; the edits stay.
TEST_F(EditorSaveTest, SaveRefusedByALockFailsAndKeepsMarksAndFlags) {
    CreateMasterFile();
    WriteTable({"Jobs", kApplPR, 30, 0, 0, 65535, {{"A", "1", ""}}});
    auto mf = OpenTable("Jobs", kApplPR, 30);
    SubstitutionTable doc("Jobs", 30, kApplPR);
    doc.oldSize = 10;
    Load(*mf, doc);
    SubstitutionRow* b = Add(doc, "B", "2");
    // The editor lets go of the table; another user takes it.
    mf->ReleaseDefinition(false);
    auto other = OpenTable("Jobs", kApplPR, 30);
    SubstitutionMasterFile saver(kCommand, mf->handle(), "Jobs", kApplPR, 30);
    EXPECT_NE(saver.Save(doc), XIO_OK);
    EXPECT_EQ(b->newEntry, 1);
    EXPECT_EQ(b->modified, 1);
    EXPECT_EQ(Stored("Jobs", 30), (std::vector<std::string>{"A=1"}));
    EXPECT_EQ(sui_.message_texts().back(), "Another user is currently modifying this table.");
    other->Close();
    // Not made current for another cause (its definition not written; the group record is the
    // first record written): the program's words and step, never a tool this system lacks.
    xio::fail_call(xio::FaultCall::WriteRecord, 2, XIO_IO_ERROR, "XVM");
    EXPECT_FALSE(saver.SaveAs("Copy", doc));
    xio::clear_faults();
    EXPECT_THAT(sui_.message_texts().back(), ::testing::HasSubstr("The table was not saved: "));
    EXPECT_THAT(sui_.message_texts().back(), ::testing::HasSubstr("Choose Save As again."));
    EXPECT_EQ(sui_.task_lines().back(), "");
    EXPECT_EQ(saver.groupName(), "Jobs");
    mf->Close();

    // Without a file the answer is a failure too, after the error box.
    SubstitutionMasterFile none(kCommand);
    none.set_handle(0);
    EXPECT_NE(none.Save(doc), XIO_OK);
    EXPECT_EQ(sui_.messages().back().kind, ui::kError);
}

// A write that fails halfway (two new rows under one key) rolls back everything.
TEST_F(EditorSaveTest, WriteFailureMidSaveLeavesTheStoredTableAndTheFlags) {
    CreateMasterFile();
    WriteTable({"Jobs", kApplPR, 30, 0, 0, 65535, {{"A", "1", ""}, {"B", "2", ""}}});
    auto mf = OpenTable("Jobs", kApplPR, 30);
    SubstitutionTable doc("Jobs", 30, kApplPR);
    doc.oldSize = 10;
    Load(*mf, doc);
    RemoveRow(doc, doc.firstRow);  // A goes
    SubstitutionRow* c1 = Add(doc, "C", "3");
    SubstitutionRow* c2 = Add(doc, "c", "4");
    SubstitutionMasterFile saver(kCommand, mf->handle(), "Jobs", kApplPR, 30);
    EXPECT_NE(saver.Save(doc), XIO_OK);
    EXPECT_EQ(Stored("Jobs", 30), (std::vector<std::string>{"A=1", "B=2"}));
    // Said with its cause and step; no row is left counted as saved.
    EXPECT_THAT(sui_.message_texts().back(), ::testing::HasSubstr("The table was not saved: "));
    EXPECT_THAT(sui_.message_texts().back(), ::testing::HasSubstr("Choose Save again."));
    EXPECT_EQ(sui_.task_lines().back(), "");
    EXPECT_EQ(c1->modified, 1);
    EXPECT_EQ(c2->newEntry, 1);
    ASSERT_NE(doc.removedRows, nullptr);
    EXPECT_TRUE(doc.modified);
    // The command line's words: nothing stays in an editor, and the command is run again.
    saver.SetVoice(ui::Voice::CommandLine);
    EXPECT_NE(saver.Save(doc), XIO_OK);
    EXPECT_THAT(sui_.message_texts().back(), ::testing::HasSubstr("and nothing this command read into it was kept\r"
                                                                  "Next: run the command again"));
    // Corrected, the same document saves.
    c2->oldValue = "D";
    EXPECT_EQ(saver.Save(doc), XIO_OK);
    EXPECT_EQ(Stored("Jobs", 30), (std::vector<std::string>{"B=2", "C=3", "D=4"}));
    mf->Close();
}

// A file this user may only read: a save writes nothing and says why, with the step; closing
// offers to delete nothing.
TEST_F(EditorSaveTest, ASaveOnAFileThatMayOnlyBeReadSaysWhyAndWritesNothing) {
    CreateMasterFile();
    WriteTable({"Jobs", kApplPR, 30, 0, 0, 65535, {{"A", "1", ""}}});
    const std::unique_ptr<SubstitutionMasterFile> mf = LookAtTable("Jobs", kApplPR, 30);
    ASSERT_TRUE(mf->ReadOnly());
    SubstitutionTable doc("Jobs", 30, kApplPR);
    doc.oldSize = 10;
    Load(*mf, doc);
    Add(doc, "B", "2");
    SubstitutionMasterFile saver(kCommand, mf->handle(), "Jobs", kApplPR, 30);
    EXPECT_NE(saver.Save(doc), XIO_OK);
    EXPECT_THAT(sui_.message_texts().back(),
                ::testing::HasSubstr("cannot be written: you do not have permission to change it or the folder it is in"));
    EXPECT_THAT(sui_.message_texts().back(), ::testing::HasSubstr("then choose Save again"));
    EXPECT_FALSE(saver.SaveAs("Copy", doc));
    EXPECT_THAT(sui_.message_texts().back(), ::testing::HasSubstr("choose Save As again"));
    saver.SetVoice(ui::Voice::CommandLine);
    EXPECT_NE(saver.Save(doc), XIO_OK);
    EXPECT_THAT(sui_.message_texts().back(), ::testing::HasSubstr("Next: ask an administrator, or the owner of "));
    EXPECT_THAT(sui_.message_texts().back(),
                ::testing::HasSubstr("MASTER.XVM, for leave to write it and its folder, then run the command again"));
    for (const auto& t : sui_.task_lines()) EXPECT_THAT(t, ::testing::Not(::testing::HasSubstr("rows saved")));
    const std::size_t said = sui_.messages().size();
    mf->DeleteEmptyGroup();
    EXPECT_EQ(sui_.messages().size(), said);
    mf->Close();
    EXPECT_EQ(Stored("Jobs", 30), (std::vector<std::string>{"A=1"}));
    SubstitutionMasterFile after(kCommand);
    EXPECT_TRUE(after.GroupNames().empty());  // no group record for Copy
    after.Close();
}

// A table file made immutable is no leave its owner could give: the save says what keeps it and
// the administrator's lift, in both voices, never the owner's permission.
TEST_F(EditorSaveTest, ASaveOnAnImmutableFileSaysTheAdministratorsLift) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to make a file immutable";
    CreateMasterFile();
    WriteTable({"Jobs", kApplPR, 30, 0, 0, 65535, {{"A", "1", ""}}});
    const std::string master = SubstitutionMasterFile::MasterPath().string();
    struct Lifted {
        std::string file;
        ~Lifted() { testing_support::SetImmutable(file, false); }
    } lifted{master};
    if (!testing_support::SetImmutable(master, true)) GTEST_SKIP() << "the file system keeps no immutable attribute";
    const std::unique_ptr<SubstitutionMasterFile> mf = LookAtTable("Jobs", kApplPR, 30);
    SubstitutionTable doc("Jobs", 30, kApplPR);
    doc.oldSize = 10;
    Load(*mf, doc);
    Add(doc, "B", "2");
    SubstitutionMasterFile saver(kCommand, mf->handle(), "Jobs", kApplPR, 30);
    EXPECT_NE(saver.Save(doc), XIO_OK);
    const std::string what = "the file " + master + " is immutable (chattr +i)";
    EXPECT_THAT(sui_.message_texts().back(),
                ::testing::AllOf(::testing::HasSubstr("cannot be written: " + what),
                                 ::testing::HasSubstr("Ask an administrator to lift what keeps " + master +
                                                      " from being written (" + what + ": chattr -i " + master +
                                                      " lifts it), then choose Save again"),
                                 ::testing::Not(::testing::HasSubstr("permission"))));
    saver.SetVoice(ui::Voice::CommandLine);
    EXPECT_NE(saver.Save(doc), XIO_OK);
    EXPECT_THAT(sui_.message_texts().back(), ::testing::HasSubstr("Next: have an administrator lift what keeps " + master));
    mf->Close();
}

// ---- Save As --------------------------------------------------------------------------------

// A GL value is typed with its separators, which the old size does not count: after a Save As
// into a new group each row shows the old value as it was stored, whole.
TEST_F(EditorSaveTest, SaveAsKeepsEachOldValueAsItWasStored) {
    CreateMasterFile();
    SubstitutionTable doc("New table group", kFieldGlAccount, kApplGL);
    doc.oldSize = 11;
    Add(doc, "01-1-10-1000-00", "01110120000");
    SubstitutionMasterFile saver(kCommand, 0, "New table group", kApplGL, kFieldGlAccount);
    ASSERT_TRUE(saver.SaveAs("NEWG", doc));
    EXPECT_EQ(OldValues(doc), (std::vector<std::string>{"01-1-10-1000-00"}));
    EXPECT_EQ(Stored("NEWG", kFieldGlAccount), (std::vector<std::string>{"01-1-10-1000-00=01110120000"}));
    saver.Close();
}

TEST_F(EditorSaveTest, SaveAsCutsOldValuesAndRefusesCollisionsBeforeWriting) {
    CreateMasterFile();
    WriteTable({"Jobs", kApplPR, 30, 0, 0, 65535, {{"ABCDE", "1", ""}, {"XY", "2", ""}}});
    auto mf = OpenTable("Jobs", kApplPR, 30);
    SubstitutionTable doc("Jobs", 30, kApplPR);
    doc.oldSize = 3;
    Load(*mf, doc);
    SubstitutionRow* clash = Add(doc, "abcz", "3");
    SubstitutionMasterFile saver(kCommand, mf->handle(), "Jobs", kApplPR, 30);
    EXPECT_FALSE(saver.SaveAs("Jobs", doc));
    EXPECT_EQ(sui_.message_texts().back(),
              "Unable to reduce old size because ABCDE and abcz both become ABC after doing a Save As.");
    EXPECT_EQ(Stored("Jobs", 30), (std::vector<std::string>{"ABCDE=1", "XY=2"}));
    EXPECT_EQ(doc.firstRow->oldValue, "ABCDE");
    EXPECT_EQ(clash->modified, 1);

    clash->oldValue = "Q";
    ASSERT_TRUE(saver.SaveAs("Jobs", doc));
    EXPECT_EQ(Stored("Jobs", 30), (std::vector<std::string>{"ABC=1", "Q=3", "XY=2"}));
    EXPECT_EQ(doc.firstRow->oldValue, "ABC");
    EXPECT_EQ(clash->modified, 0);

    // Into a new group: the group record is written and the table copied; the first stays.
    ASSERT_TRUE(saver.SaveAs("Copy", doc));
    EXPECT_EQ(Stored("Copy", 30), (std::vector<std::string>{"ABC=1", "Q=3", "XY=2"}));
    EXPECT_EQ(Stored("Jobs", 30).size(), 3u);
    EXPECT_EQ(saver.GroupNames(), (std::vector<std::string>{"Copy", "Jobs"}));
    mf->Close();
    saver.Close();
}

TEST_F(EditorSaveTest, SaveAsCreatesAMissingFile) {
    SubstitutionTable doc("New table group", 30, kApplPR);
    doc.oldSize = 10;
    Add(doc, "E1", "X1");
    SubstitutionMasterFile saver(kCommand, 0, "New table group", kApplPR, 30);
    ASSERT_EQ(saver.handle(), 0);
    ASSERT_TRUE(saver.SaveAs("CONV2026", doc));
    EXPECT_GT(saver.handle(), 0);
    saver.Close();
    EXPECT_EQ(Stored("CONV2026", 30), (std::vector<std::string>{"E1=X1"}));
}

// Save As to its own group skips the format check; to another group it runs it.
TEST_F(EditorSaveTest, SaveAsChecksTheFormatOnlyForAnotherGroup) {
    CreateMasterFile();
    WriteTable({"Jobs", kApplJC, 16, 0, 0, 65535, {{"1", "2", ""}}});
    WriteTable({"Other", kApplJC, 16, 0, 0, 65535, {{"5", "6", ""}}});
    auto mf = OpenTable("Jobs", kApplJC, 16);
    SubstitutionTable doc("Jobs", 16, kApplJC);
    doc.oldSize = 10;
    Load(*mf, doc);
    // The job format's first section widens after the tables were made.
    suite::current_company()->settings().formats[16].sections[0].width += 1;
    SubstitutionMasterFile saver(kCommand, mf->handle(), "Jobs", kApplJC, 16);
    EXPECT_TRUE(saver.SaveAs("Jobs", doc));
    const std::size_t shown = sui_.messages().size();
    EXPECT_FALSE(saver.SaveAs("Other", doc));
    ASSERT_EQ(sui_.messages().size(), shown + 1);
    EXPECT_EQ(sui_.message_texts().back().rfind("Incompatible format.\r\rThe section lengths originally used", 0), 0u);
    EXPECT_NE(sui_.message_texts().back().find("Section 1: 3, Section 2: 3, and Section 3: 0."), std::string::npos)
        << sui_.message_texts().back();
    EXPECT_EQ(Stored("Other", 16), (std::vector<std::string>{"5=6"}));
    mf->Close();
}

// A new group's name may not hold a control character; a group stored under such a name before
// names were checked still opens, so that it can be saved under another.
TEST_F(EditorSaveTest, ANewGroupNamedWithAControlCharacterIsRefusedWithItsWord) {
    CreateMasterFile();
    SubstitutionMasterFile mf(kCommand);
    EXPECT_FALSE(mf.OpenForEdit("N\033[2J", kApplPR + 1, 30, true, 0, 65535, 0, 0, true, false));
    EXPECT_THAT(sui_.message_texts().back(), ::testing::HasSubstr("'N\\033[2J' cannot be a table group name"));
    EXPECT_FALSE(mf.OpenForEdit("C\xC2\x9B" "1", kApplPR + 1, 30, true, 0, 65535, 0, 0, true, false));  // a C1 control
    EXPECT_THAT(sui_.message_texts().back(), ::testing::HasSubstr("it holds a control character (\\302\\233)"));
    // Neither a name with ESC nor one longer than a group name holds is saved under, nor cut to fit.
    SubstitutionTable doc("New table group", 30, kApplPR);
    doc.oldSize = 10;
    Add(doc, "E1", "X1");
    SubstitutionMasterFile saver(kCommand, 0, "New table group", kApplPR, 30);
    EXPECT_FALSE(saver.SaveAs("E\033", doc));
    EXPECT_THAT(sui_.message_texts().back(), ::testing::HasSubstr("'E\\033' cannot be a table group name"));
    const std::string tooLong(81, 'L');
    EXPECT_FALSE(saver.SaveAs(tooLong, doc));
    EXPECT_THAT(sui_.message_texts().back(), ::testing::HasSubstr("it has 81 characters and a table group name holds at most 80"));
    EXPECT_TRUE(saver.GroupNames().empty());
    EXPECT_TRUE(Stored(tooLong.substr(0, 80), 30).empty());
    saver.Close();
    SubstitutionMasterFile old(kCommand, 0, "O\033", kApplPR, 30);
    ASSERT_EQ(old.WriteGroupRecord(), XIO_OK);
    old.Close();
    EXPECT_TRUE(mf.OpenForEdit("O\033", kApplPR + 1, 30, true, 0, 65535, 0, 0, true, false));
    mf.Close();
}

// ---- Opening and closing ----------------------------------------------------------------------

TEST_F(EditorSaveTest, RefusedOpenKeepsThePreviousTableCurrentAndLocked) {
    CreateMasterFile();
    WriteTable({"One", kApplPR, 30, 0, 0, 65535, {{"A", "1", ""}}});
    WriteTable({"Two", kApplPR, 30, 0, 0, 65535, {{"B", "2", ""}}});
    auto holder = OpenTable("Two", kApplPR, 30);
    auto mf = OpenTable("One", kApplPR, 30);
    EXPECT_FALSE(mf->OpenForEdit("Two", kApplPR + 1, 30, true, 0, 65535, 0, 0, true, false));
    EXPECT_EQ(sui_.message_texts().back(), "Another user is currently modifying this table.");
    EXPECT_EQ(mf->groupName(), "One");
    // "One" is still held: a third object cannot take it.
    auto third = std::make_unique<SubstitutionMasterFile>(kCommand);
    EXPECT_FALSE(third->OpenForEdit("One", kApplPR + 1, 30, true, 0, 65535, 0, 0, true, false));
    third->Close();
    holder->Close();
    mf->Close();
}

TEST_F(EditorSaveTest, ClosingOnAnEmptyTableDropsItAndOffersTheGroup) {
    CreateMasterFile();
    SubstitutionTable doc("New table group", 30, kApplPR);
    doc.oldSize = 10;
    Add(doc, "E1", "X1");
    SubstitutionMasterFile saver(kCommand, 0, "New table group", kApplPR, 30);
    ASSERT_TRUE(saver.SaveAs("Lone", doc));
    RemoveAllRows(doc);
    ASSERT_EQ(saver.Save(doc), XIO_OK);
    EXPECT_TRUE(Stored("Lone", 30).empty());
    sui_.answer(ui::kYes);
    saver.DeleteEmptyGroup();
    EXPECT_EQ(sui_.message_texts().back(),
              "Table group Lone doesn't contain any tables.\r\rDo you want to delete this table group?");
    EXPECT_TRUE(saver.GroupNames().empty());
    saver.Close();
}

// ---- Failures the save meets ----------------------------------------------------------------

// A commit that fails leaves the table as it was and the rows unsaved, and says so; a Save As
// whose commit finds the file in use says to wait, then choose Save As again, and makes no group.
TEST_F(EditorSaveTest, ACommitThatFailsSavesNothingAndSaysWhatToDo) {
    SubstitutionTable doc("Jobs", 30, kApplPR);
    auto mf = OpenJobs(doc);
    SubstitutionRow* b = Add(doc, "B", "2");
    SubstitutionMasterFile saver(kCommand, mf->handle(), "Jobs", kApplPR, 30);
    xio::fail_call(xio::FaultCall::Commit, 1, XIO_IO_ERROR, "XVM");
    EXPECT_NE(saver.Save(doc), XIO_OK);
    EXPECT_THAT(sui_.message_texts().back(), ::testing::HasSubstr("The table was not saved: "));
    EXPECT_EQ(b->modified, 1);
    EXPECT_EQ(Stored("Jobs", 30), (std::vector<std::string>{"A=1"}));
    xio::fail_call(xio::FaultCall::Commit, 1, XIO_LOCKED, "XVM");
    EXPECT_FALSE(saver.SaveAs("Copy", doc));
    xio::clear_faults();
    EXPECT_THAT(sui_.message_texts().back(),
                ::testing::HasSubstr("Wait until the other program has finished, then choose Save As again."));
    EXPECT_EQ(saver.GroupNames(), std::vector<std::string>{});
    // The table is still this editor's: another cannot take it, and the save goes through.
    auto other = std::make_unique<SubstitutionMasterFile>(kCommand);
    EXPECT_FALSE(other->OpenForEdit("Jobs", kApplPR + 1, 30, false, 0, 65535, 0, 0, false, false));
    other->Close();
    EXPECT_EQ(saver.Save(doc), XIO_OK);
    EXPECT_EQ(Stored("Jobs", 30), (std::vector<std::string>{"A=1", "B=2"}));
    // The editor's save gives the group no group record (only the command line's saves do).
    EXPECT_EQ(saver.GroupNames(), std::vector<std::string>{});
    mf->Close();
}

// A disk that fills during a save: the table is as it was, and the words say the disk is full.
TEST_F(EditorSaveTest, ASaveThatFillsTheDiskSaysSo) {
    SubstitutionTable doc("Jobs", 30, kApplPR);
    auto mf = OpenJobs(doc);
    for (int i = 0; i < 3000; ++i) Add(doc, "V" + std::to_string(10000 + i), "N");
    SubstitutionMasterFile saver(kCommand, mf->handle(), "Jobs", kApplPR, 30);
    xio::set_max_pages(static_cast<uint16_t>(mf->handle()), 1);
    EXPECT_NE(saver.Save(doc), XIO_OK);
    xio::set_max_pages(static_cast<uint16_t>(mf->handle()), 0);
    EXPECT_THAT(sui_.message_texts().back(), ::testing::HasSubstr("cannot be written: the disk holding it is full"));
    EXPECT_THAT(sui_.message_texts().back(), ::testing::HasSubstr("Free space on the disk holding "));
    mf->Close();
    EXPECT_EQ(Stored("Jobs", 30), (std::vector<std::string>{"A=1"}));
}

// A journal the commit cannot remove (the folder made immutable just then) keeps the save from
// standing until an administrator lifts that: the box says what keeps it and the command that
// lifts it, never to save again, which meets the same journal.
TEST_F(EditorSaveTest, ASaveWhoseJournalCannotBeRemovedSaysTheAdministratorsStep) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to make a folder immutable";
    SubstitutionTable doc("Jobs", 30, kApplPR);
    auto mf = OpenJobs(doc);
    const std::filesystem::path dir = SubstitutionMasterFile::MasterPath().parent_path();
    struct Lifted {
        std::filesystem::path dir;
        ~Lifted() { testing_support::SetImmutable(dir, false); }
    } lifted{dir};
    if (!testing_support::SetImmutable(dir, true) || !testing_support::SetImmutable(dir, false))
        GTEST_SKIP() << "the file system of " << dir << " keeps no immutable attribute";
    Add(doc, "B", "2");
    SubstitutionMasterFile saver(kCommand, mf->handle(), "Jobs", kApplPR, 30);
    xio::set_journal_removal_hook_for_tests([&](const std::string&) { testing_support::SetImmutable(dir, true); });
    EXPECT_NE(saver.Save(doc), XIO_OK);
    xio::set_journal_removal_hook_for_tests(nullptr);
    EXPECT_THAT(sui_.message_texts().back(),
                ::testing::AllOf(::testing::HasSubstr("is immutable (chattr +i"), ::testing::HasSubstr("chattr -i " + dir.string()),
                                 ::testing::Not(::testing::HasSubstr("Choose Save again"))));
    ASSERT_TRUE(testing_support::SetImmutable(dir, false));
    mf->Close();
}

// A user who is not root: the right to write taken away after the editor opened the table (the
// file made 0444, or its folder 0555) is said as such at the save, and nothing is written, no
// journal left.
TEST_F(EditorSaveTest, ASaveWithoutTheRightToWriteSaysSoAsAnotherUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to save as another user";
    DZ_SKIP_UNLESS_OTHERS_REACH();
    CreateMasterFile();
    WriteTable({"Jobs", kApplPR, 30, 0, 0, 65535, {{"A", "1", ""}}});
    const std::filesystem::path master = SubstitutionMasterFile::MasterPath();
    const std::string said = "cannot be written: you do not have permission to change it or the folder it is in";
    enum class Taken { File, Folder };
    for (const Taken taken : {Taken::File, Taken::Folder}) {
        SCOPED_TRACE(static_cast<int>(taken));
        for (const auto& e : std::filesystem::recursive_directory_iterator(folder()))
            ASSERT_EQ(::lchown(e.path().c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown(folder().c_str(), 65534, 65534), 0);
        const std::string text = testing_support::AnswerAs(65534, 65534, [&]() -> std::string {
            SubstitutionMasterFile file(kCommand);
            SubstitutionTable doc("Jobs", 30, kApplPR);
            doc.oldSize = 10;
            if (!file.OpenForEdit("Jobs", kApplPR + 1, 30, false, 0, 65535, 0, 0, false, false)) return "not opened";
            Load(file, doc);
            Add(doc, "B", "2");
            if (taken == Taken::File) ::chmod(master.c_str(), 0444);
            if (taken == Taken::Folder) ::chmod(master.parent_path().c_str(), 0555);
            SubstitutionMasterFile saver(kCommand, file.handle(), "Jobs", kApplPR, 30);
            const int s = saver.Save(doc);
            file.Close();
            const auto texts = sui_.message_texts();
            return std::to_string(s) + "|" + (texts.empty() ? std::string() : texts.back());
        });
        EXPECT_THAT(text, ::testing::Not(::testing::StartsWith("0|")));
        EXPECT_THAT(text, ::testing::HasSubstr(said));
        ASSERT_EQ(::chmod(folder().c_str(), 0755), 0);
        ASSERT_EQ(::chmod(master.c_str(), 0644), 0);
        EXPECT_FALSE(std::filesystem::exists(master.string() + "-journal"));
        EXPECT_EQ(Stored("Jobs", 30), (std::vector<std::string>{"A=1"}));
    }
}

// A name one character longer than a group name holds names no group, even when its first
// characters are a stored group's name.
TEST_F(EditorSaveTest, ANameTooLongIsRefusedThoughItBeginsAsAStoredGroup) {
    CreateMasterFile();
    const std::string stored(80, 'L');
    WriteTable({stored, kApplPR, 30, 0, 0, 65535, {{"A", "1", ""}}});
    SubstitutionMasterFile mf(kCommand);
    EXPECT_FALSE(mf.OpenForEdit(stored + "M", kApplPR + 1, 30, true, 0, 65535, 0, 0, true, false));
    EXPECT_THAT(sui_.message_texts().back(), ::testing::HasSubstr("it has 81 characters and a table group name holds at most 80"));
    mf.Close();
}

}  // namespace
}  // namespace dz::tables::testing
