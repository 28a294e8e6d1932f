// The substitution set of one text file and the callback the import calls for each value.

#include "test_tables_support.h"

#include "platform/import/xvl_import.h"
#include "platform/import/xvl_template.h"
#include "platform/suite/xk.h"
#include "tables/substitution_set.h"

#include <fstream>

namespace dz::tables::testing {
namespace {

// The callback must be what the import takes.
[[maybe_unused]] constexpr xvl::SubstitutionCB kCallback = &SubstituteValue;

struct Outcome {
    bool goOn = true;
    std::string value;
    std::string reject;
};

class SubstitutionTest : public TablesTest {
protected:
    void SetUp() override {
        TablesTest::SetUp();
        CreateMasterFile();
    }

    Outcome Sub(SubstitutionSet& set, const std::string& value, int16_t fieldId, int16_t section = 0,
                int16_t dataFile = 0, int16_t fieldNo = 0, int32_t line = 0) {
        Outcome o;
        o.value = value;
        o.goOn = SubstituteValue(o.value, fieldId, section, dataFile, fieldNo, o.reject, line, &set);
        return o;
    }

    std::vector<std::string> messages;
};

std::string NotFoundText(const std::string& value, const std::string& table) {
    return "The text file value '" + value + "' was not found in the '" + table + "' substitution table(98)";
}
std::string NoNewValueText(const std::string& table, const std::string& value) {
    return "The substitution table '" + table + "' doesn't have a new value for '" + value + "'(99)";
}

// ---- Loading --------------------------------------------------------------------------------

TEST_F(SubstitutionTest, LoadsTheGroupsDefinitionsInKeyOrder) {
    WriteTable({"Mixed", kApplPM, 400, 2, 3, 65535, {{"P", "Q", ""}}});
    WriteTable({"Mixed", kApplJC, 16, 0, 0, 1, {{"1", "2", ""}}});
    WriteTable({"Mixed", kApplGL, 9002, 0, 0, 65535, {{"012", "013", ""}}});
    WriteTable({"Mixed", kApplGL, 9001, 0, 0, 65535, {{"01", "02", ""}}});
    WriteTable({"Other", kApplJC, 18, 0, 0, 65535, {{"1", "2", ""}}});
    SubstitutionSet set(kCommand, "mixed", messages);  // the group name in any letter case
    ASSERT_TRUE(set.IsLoaded());
    ASSERT_EQ(set.definitions().size(), 4u);
    EXPECT_EQ(set.definitions()[0].fieldId, 9001);
    EXPECT_EQ(set.definitions()[1].fieldId, 9002);
    EXPECT_EQ(set.definitions()[2].fieldId, 16);
    EXPECT_EQ(set.definitions()[2].mapJobToExtra, 1);
    EXPECT_EQ(set.definitions()[3].fieldId, 400);
    EXPECT_EQ(set.definitions()[3].blankValueOption, 2);
    EXPECT_EQ(set.definitions()[3].notFoundOption, 3);
    EXPECT_EQ(set.FindDefinition(400, 0).notFoundOption, 3);
    EXPECT_EQ(set.FindDefinition(18, 0).fieldId, 0) << "another group's table";
}

TEST_F(SubstitutionTest, AMissingGroupOrFileLeavesTheSetUnloaded) {
    WriteTable({"Jobs", kApplJC, 16, 0, 0, 65535, {{"1", "2", ""}}});
    SubstitutionSet missing(kCommand, "No such group", messages);
    EXPECT_FALSE(missing.IsLoaded());
    EXPECT_EQ(missing.handle(), 0);
    EXPECT_EQ(SubstitutionSet::LoadFailureText("No such group"),
              "Unable to open the Master.xvm file or find table type 'No such group' in the Master.xvm file");
    // Every call then goes on and changes nothing.
    Outcome o = Sub(missing, "1", 16);
    EXPECT_TRUE(o.goOn);
    EXPECT_EQ(o.value, "1");

    SubstitutionSet none(kCommand, "", messages);
    EXPECT_FALSE(none.IsLoaded());

    // A group that exists only as a group record is a group without tables, not a missing one.
    SubstitutionMasterFile mf(kCommand, 0, "Empty GL", kApplGL, 9);
    ASSERT_EQ(mf.WriteDefinition(0, 65535, 0, 0), XIO_OK);
    ASSERT_EQ(mf.ReleaseDefinition(false), XIO_OK);
    mf.Close();
    SubstitutionSet empty(kCommand, "Empty GL", messages);
    EXPECT_TRUE(empty.IsLoaded());
    EXPECT_TRUE(empty.definitions().empty());

    std::filesystem::remove(folder() / kXvmFileName);
    SubstitutionSet noFile(kCommand, "Jobs", messages);
    EXPECT_FALSE(noFile.IsLoaded());
}

// ---- Plain fields -----------------------------------------------------------------------------

TEST_F(SubstitutionTest, FoundValueIsReplacedAndOthersStay) {
    WriteTable({"Jobs", kApplJC, 16, 2, 2, 65535, {{"100", "200", ""}, {"abc", "XYZ", ""}}});
    SubstitutionSet set(kCommand, "Jobs", messages);
    Outcome o = Sub(set, "100", 16);
    EXPECT_TRUE(o.goOn);
    EXPECT_EQ(o.value, "200");
    EXPECT_EQ(Sub(set, "ABC", 16).value, "XYZ") << "old values compare without regard to case";
    // A field without a table in the group is left alone, silently.
    Outcome phase = Sub(set, "100", 18);
    EXPECT_TRUE(phase.goOn);
    EXPECT_EQ(phase.value, "100");
    // An empty value is never looked up and never warned about.
    Outcome empty = Sub(set, "", 16);
    EXPECT_TRUE(empty.goOn);
    EXPECT_EQ(empty.value, "");
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(o.reject.empty());
}

TEST_F(SubstitutionTest, BlankNewValueFollowsTheBlankValueOption) {
    for (uint16_t option : {0, 1, 2, 3}) {
        const std::string group = "Blank " + std::to_string(option);
        WriteTable({group, kApplJC, 16, option, 0, 65535, {{"100", " ", ""}, {"101", "", ""}}});
    }
    for (uint16_t option : {0, 1}) {
        messages.clear();
        SubstitutionSet set(kCommand, "Blank " + std::to_string(option), messages);
        for (const char* v : {"100", "101"}) {
            Outcome o = Sub(set, v, 16);
            EXPECT_TRUE(o.goOn) << option;
            EXPECT_EQ(o.value, v);
            EXPECT_TRUE(o.reject.empty());
        }
        EXPECT_TRUE(messages.empty()) << option;
    }
    {
        messages.clear();
        SubstitutionSet warn(kCommand, "Blank 2", messages);
        Outcome o = Sub(warn, "100", 16);
        EXPECT_TRUE(o.goOn);
        EXPECT_EQ(o.value, "100");
        EXPECT_TRUE(o.reject.empty());
        EXPECT_EQ(messages, (std::vector<std::string>{NoNewValueText("Job", "100")}));
    }
    {
        messages.clear();
        SubstitutionSet reject(kCommand, "Blank 3", messages);
        Outcome o = Sub(reject, "101", 16);
        EXPECT_FALSE(o.goOn);
        EXPECT_EQ(o.value, "101");
        EXPECT_EQ(o.reject, NoNewValueText("Job", "101"));
        EXPECT_TRUE(messages.empty());
    }
}

TEST_F(SubstitutionTest, MissingEntryFollowsTheNotFoundOption) {
    for (uint16_t option : {0, 1, 2, 3}) {
        const std::string group = "Missing " + std::to_string(option);
        WriteTable({group, kApplPM, 402, 0, option, 65535, {{"T1", "T2", ""}}});
    }
    for (uint16_t option : {0, 1}) {
        SubstitutionSet set(kCommand, "Missing " + std::to_string(option), messages);
        Outcome o = Sub(set, "T9", 402);
        EXPECT_TRUE(o.goOn);
        EXPECT_EQ(o.value, "T9");
        EXPECT_TRUE(o.reject.empty());
    }
    EXPECT_TRUE(messages.empty());
    {
        SubstitutionSet warn(kCommand, "Missing 2", messages);
        Outcome o = Sub(warn, "T9", 402);
        EXPECT_TRUE(o.goOn);
        EXPECT_EQ(o.value, "T9");
        EXPECT_EQ(messages, (std::vector<std::string>{NotFoundText("T9", "Tenant")}));
    }
    messages.clear();
    {
        SubstitutionSet reject(kCommand, "Missing 3", messages);
        Outcome o = Sub(reject, "T9", 402);
        EXPECT_FALSE(o.goOn);
        EXPECT_EQ(o.value, "T9");
        EXPECT_EQ(o.reject, NotFoundText("T9", "Tenant"));
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(Sub(reject, "T1", 402).value, "T2") << "a found value still passes";
    }
}

TEST_F(SubstitutionTest, LongValuesAreLookedUpByTheirFirstFortyCharacters) {
    const std::string old40(40, 'A');
    WriteTable({"Long", kApplPM, 402, 0, 2, 65535, {{old40, "SHORT", ""}}});
    SubstitutionSet set(kCommand, "Long", messages);
    EXPECT_EQ(Sub(set, old40 + "BCDE", 402).value, "SHORT");
    EXPECT_EQ(Sub(set, old40, 402).value, "SHORT");
    // A 41-character value that differs inside its first 40 is not found, and the warning shows
    // the value whole.
    const std::string other = std::string(39, 'A') + "BC";
    Outcome o = Sub(set, other, 402);
    EXPECT_EQ(o.value, other);
    EXPECT_EQ(messages, (std::vector<std::string>{NotFoundText(other, "Tenant")}));
}

// ---- Jobs mapped to a new extra -------------------------------------------------------------------

class JobExtraTest : public SubstitutionTest {
protected:
    void SetUp() override {
        SubstitutionTest::SetUp();
        xio_ask_request req;
        req.abbr = "TJB";
        req.fileNo = 1;
        req.create = true;
        ASSERT_EQ(xio_ask_file(req, jobs), XIO_OK) << xio_error_text();
        job = xio_num(jobs, XIO_NUM_RECORD, 1, "JOB");
        extra = xio_num(jobs, XIO_NUM_RECORD, 1, "EXTRA");
        uni = xio_num(jobs, XIO_NUM_RECORD, 1, "UNION");
        local = xio_num(jobs, XIO_NUM_RECORD, 1, "LOCAL");
        phase = xio_num(jobs, XIO_NUM_RECORD, 1, "PHASE");
        ASSERT_EQ(extra, job + 1);
        xio_init_record(jobs, 1);
    }
    void TearDown() override {
        if (jobs) xio_cls_file(jobs);
        SubstitutionTest::TearDown();
    }
    std::string Field(uint16_t fld) { return GetText(jobs, 1, fld); }

    uint16_t jobs = 0, job = 0, extra = 0, uni = 0, local = 0, phase = 0;
};

TEST_F(JobExtraTest, JobMappedToNewJobAndExtraLeavesThePendingExtra) {
    WriteTable({"Split", kApplJC, 16, 0, 0, 1,
                {{"OLD1", "NEW1", "X1"}, {"OLD2", "NEW2", ""}, {"OLD3", "NEW3", "EXTRA-TOO-LONG-FOR-SIX"}}});
    SubstitutionSet set(kCommand, "Split", messages);
    Outcome o = Sub(set, "OLD1", 16, 0, static_cast<int16_t>(jobs), static_cast<int16_t>(job), 7);
    EXPECT_TRUE(o.goOn);
    EXPECT_EQ(o.value, "NEW1");
    EXPECT_EQ(set.pendingExtra().value, "X1");
    EXPECT_EQ(set.pendingExtra().fieldNumber, job);
    EXPECT_EQ(set.pendingExtra().startLine, 7);
    EXPECT_EQ(Field(extra), "X1") << "the extra goes into the field after the job";
    std::string pending;
    EXPECT_TRUE(set.PendingExtraFor(7, job, pending));
    EXPECT_EQ(pending, "X1");
    EXPECT_FALSE(set.PendingExtraFor(8, job, pending)) << "another record's line";
    EXPECT_FALSE(set.PendingExtraFor(7, extra, pending)) << "another field";

    // An entry without an extra stores nothing; the earlier extra stays until the reader clears it.
    EXPECT_EQ(Sub(set, "OLD2", 16, 0, static_cast<int16_t>(jobs), static_cast<int16_t>(job), 9).value, "NEW2");
    EXPECT_EQ(set.pendingExtra().value, "X1");
    EXPECT_EQ(set.pendingExtra().startLine, 7);
    set.ClearPendingExtra();
    EXPECT_FALSE(set.PendingExtraFor(7, job, pending));

    // The extra is cut to the width of the extra format (6 in the test company) in the field.
    xio_init_record(jobs, 1);
    EXPECT_EQ(Sub(set, "OLD3", 16, 0, static_cast<int16_t>(jobs), static_cast<int16_t>(job), 11).value, "NEW3");
    EXPECT_EQ(Field(extra), "EXTRA-");
    EXPECT_EQ(set.pendingExtra().value, "EXTRA-TOO-LONG-FOR-SIX");
}

TEST_F(JobExtraTest, NoExtraWithoutTheMappingOrWithoutAnExtraField) {
    WriteTable({"NoMap", kApplJC, 16, 0, 0, 0, {{"OLD1", "NEW1", "X1"}}});
    SubstitutionSet set(kCommand, "NoMap", messages);
    EXPECT_EQ(Sub(set, "OLD1", 16, 0, static_cast<int16_t>(jobs), static_cast<int16_t>(job), 3).value, "NEW1");
    EXPECT_TRUE(set.pendingExtra().value.empty());
    EXPECT_EQ(Field(extra), "");

    // A union table (field 46) maps to a local; the field after a phase is no extra field.
    WriteTable({"Union", kApplPR, 46, 0, 0, 65535, {{"U1", "U2", "L9"}}});
    SubstitutionSet unions(kCommand, "Union", messages);
    EXPECT_EQ(Sub(unions, "U1", 46, 0, static_cast<int16_t>(jobs), static_cast<int16_t>(uni), 4).value, "U2");
    EXPECT_EQ(unions.pendingExtra().value, "L9");
    EXPECT_EQ(Field(local), "L9");
    xio_init_record(jobs, 1);
    PutFieldTruncated(static_cast<int16_t>(jobs), "L8", 46, static_cast<int16_t>(phase - 1));
    EXPECT_EQ(Field(phase), "") << "the next field is not a local field";
    PutFieldTruncated(0, "L8", 46, static_cast<int16_t>(uni));
    PutFieldTruncated(static_cast<int16_t>(jobs), "L8", 18, static_cast<int16_t>(uni));
    EXPECT_EQ(Field(local), "");
}

// The callback inside a real import: the text file's job is replaced and its extra filled
// before the record reaches the converter.
TEST_F(JobExtraTest, ImportAppliesTheGroupWhileReading) {
    WriteTable({"Import", kApplJC, 16, 0, 3, 1, {{"100", "200", "X1"}}});
    xvl::xvlImpTemplate tpl;
    ASSERT_EQ(tpl.CreateFromText("format J\nfile TJB 1\nrecord 1\nfield JOB\nfield EXTRA\nfield NOTE\n", "xvtjb.tpl",
                                 {{"TJB", 1, jobs}}),
              0)
        << tpl.ErrorText();
    const auto text = folder() / "jobs.txt";
    std::ofstream(text) << "#,JCM,xvtjb.tpl\nJ,100,,first\nJ,999,,second\n";
    xvl::xvlImport import(tpl);
    SubstitutionSet set(kCommand, "Import", messages);
    ASSERT_TRUE(set.IsLoaded());
    import.xvlSetSubstitutionCB(&SubstituteValue, &set);
    ASSERT_TRUE(import.xvlImpFileNames(text.string(), ""));
    xvl::xvlImpInfo info;
    ASSERT_EQ(import.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_EQ(Field(job), "200");
    EXPECT_EQ(Field(extra), "X1");
    std::string pending;
    EXPECT_TRUE(set.PendingExtraFor(info.StartLine(), job, pending));
    EXPECT_EQ(pending, "X1");
    // Not found under option 3: the record is refused with the message as its reason.
    ASSERT_EQ(import.xvlImportNextRec(info), 1);
    EXPECT_EQ(info.Status(), 1);
    EXPECT_EQ(info.Message(), NotFoundText("999", "Job"));
}

// ---- GL accounts ----------------------------------------------------------------------------------
// The test company's account format: prefix A "01", B "2", C "33", base "4000", suffix "10".

TEST_F(SubstitutionTest, PrefixATableReplacesOnlyPrefixA) {
    WriteTable({"PA", kApplGL, 9001, 0, 0, 65535, {{"01", "05", ""}}});
    SubstitutionSet set(kCommand, "PA", messages);
    EXPECT_EQ(Sub(set, "01233400010", 9, 8).value, "05-2-33-4000-10");
    EXPECT_EQ(Sub(set, "01-2-33-4000-10", 9, 8).value, "05-2-33-4000-10");
    EXPECT_EQ(Sub(set, "01233400010", 9, 0).value, "05-2-33-4000-10");
    // Joined prefixes handed over by the GL master conversion.
    EXPECT_EQ(Sub(set, "012", 9, 9).value, "05-2");
    // Not in the table, and no whole-account table: unchanged.
    Outcome o = Sub(set, "02233400010", 9, 8);
    EXPECT_TRUE(o.goOn);
    EXPECT_EQ(o.value, "02233400010");
    EXPECT_TRUE(messages.empty());
}

TEST_F(SubstitutionTest, PrefixABTableReplacesTheABPartWithinLongerValues) {
    WriteTable({"PAB", kApplGL, 9002, 0, 0, 65535, {{"012", "077", ""}}});
    SubstitutionSet set(kCommand, "PAB", messages);
    EXPECT_EQ(Sub(set, "01233400010", 9, 8).value, "07-7-33-4000-10");
    EXPECT_EQ(Sub(set, "012", 9, 9).value, "077") << "an AB value is looked up whole";
    std::string abc = Sub(set, "01233", 9, 10).value;
    suite::xk_unformat_field(suite::kGlAccountFormat, 0, abc);
    EXPECT_EQ(abc, "07733") << "an ABC value has its AB part replaced";
}

TEST_F(SubstitutionTest, PrefixABCAndBaseTables) {
    WriteTable({"PABC", kApplGL, 9003, 0, 0, 65535, {{"01233", "09911", ""}}});
    WriteTable({"BASE", kApplGL, 9004, 0, 0, 65535, {{"400010", "500020", ""}}});
    SubstitutionSet abc(kCommand, "PABC", messages);
    EXPECT_EQ(Sub(abc, "01233400010", 9, 8).value, "09-9-11-4000-10");
    EXPECT_EQ(Sub(abc, "01233", 9, 10).value, "09911");
    SubstitutionSet base(kCommand, "BASE", messages);
    EXPECT_EQ(Sub(base, "01233400010", 9, 8).value, "01-2-33-5000-20");
    EXPECT_EQ(Sub(base, "400010", 9, 7).value, "500020") << "a base-account field is looked up whole";
}

TEST_F(SubstitutionTest, WholeAccountTable) {
    WriteTable({"ACCT", kApplGL, 9, 0, 2, 65535, {{"01233400010", "02233400011", ""}}});
    SubstitutionSet set(kCommand, "ACCT", messages);
    EXPECT_EQ(Sub(set, "01233400010", 9, 8).value, "02-2-33-4000-11");
    EXPECT_EQ(Sub(set, "01233400010", 9, 0).value, "02233400011");
    // Not found: the warning names the account description once, for the whole-account lookup.
    Outcome o = Sub(set, "09233400010", 9, 8);
    EXPECT_TRUE(o.goOn);
    EXPECT_EQ(o.value, "09233400010");
    EXPECT_EQ(messages, (std::vector<std::string>{NotFoundText("09233400010", "Account")}));
}

TEST_F(SubstitutionTest, PartWithBlankNewValueFollowsItsOption) {
    WriteTable({"PA blank", kApplGL, 9001, 3, 0, 65535, {{"01", "", ""}}});
    SubstitutionSet set(kCommand, "PA blank", messages);
    Outcome o = Sub(set, "01233400010", 9, 8);
    EXPECT_FALSE(o.goOn);
    EXPECT_EQ(o.value, "01233400010");
    EXPECT_EQ(o.reject, NoNewValueText("Account", "01233400010"));
}

TEST_F(SubstitutionTest, GroupWithoutGlTablesLeavesAccountsAlone) {
    WriteTable({"NoGL", kApplJC, 16, 2, 2, 65535, {{"1", "2", ""}}});
    SubstitutionSet set(kCommand, "NoGL", messages);
    for (int16_t section : {0, 1, 7, 8, 9, 10}) {
        Outcome o = Sub(set, "01233400010", 9, section);
        EXPECT_TRUE(o.goOn);
        EXPECT_EQ(o.value, "01233400010") << section;
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(SubstitutionTest, FindDefinitionMapsGlSectionsToTheirKinds) {
    for (uint16_t id : {9, 9001, 9002, 9003, 9004})
        WriteTable({"All GL", kApplGL, id, 0, 0, 65535, {{"x", "y", ""}}});
    SubstitutionSet set(kCommand, "All GL", messages);
    EXPECT_EQ(set.FindDefinition(9, 0).fieldId, 9);
    EXPECT_EQ(set.FindDefinition(9, 1).fieldId, 9001);
    EXPECT_EQ(set.FindDefinition(9, 6).fieldId, 9003) << "three prefix levels in use";
    EXPECT_EQ(set.FindDefinition(9, 7).fieldId, 9004);
    EXPECT_EQ(set.FindDefinition(9, 8).fieldId, 0);
    EXPECT_EQ(set.FindDefinition(9, 9).fieldId, 9002);
    EXPECT_EQ(set.FindDefinition(9, 10).fieldId, 9003);
    EXPECT_EQ(set.FindDefinition(9, 4).fieldId, 0);
    EXPECT_EQ(set.FindDefinition(16, 1).fieldId, 0);
    int section = 8;
    std::string name = "NEWBASE";
    GlPrefixFieldName(set, section, name);
    EXPECT_EQ(section, 0);
    EXPECT_EQ(name, "NEWACCT");
}

TEST_F(SubstitutionTest, AccountSectionHelpers) {
    EXPECT_EQ(GetAccountSection("01233400010", 1), "01");
    EXPECT_EQ(GetAccountSection("01233400010", 9), "012");
    EXPECT_EQ(GetAccountSection("01-2-33-4000-10", 9), "01-2") << "formatted in, formatted out";
    EXPECT_EQ(GetAccountSection("01233400010", 7), "400010");
    std::string account = "01-2-33-4000-10";
    SetAccountSection(7, "999988", account);
    EXPECT_EQ(account, "01-2-33-9999-88");
    SetAccountSection(10, "11122", account);
    EXPECT_EQ(account, "11-1-22-9999-88");
}

}  // namespace
}  // namespace dz::tables::testing
