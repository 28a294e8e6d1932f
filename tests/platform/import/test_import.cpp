// Record-by-record import over the test dictionary.
#include "import_fixture.h"

#include <gmock/gmock.h>

#include <algorithm>

#include "platform/import/xvl_messages.h"
#include "platform/suite/company.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"
#include <ostream>

using namespace dz;
using namespace dz::xvl;
using namespace dz::xvl::test;

namespace {

constexpr const char* kHead = "#,TST,xvtst\r\n";

}  // namespace

class ImportRecords : public ImportFixture {};

TEST_F(ImportRecords, StagesEveryFieldTypeFromDefaultsAndCountsSkippedLines) {
    MakeTemplate(kCustomerTemplate);
    const auto txt = Text("c.txt", std::string(kHead) + "# a comment\r\n\r\n" +
                                       "C,ab1,\"Smith, Ann\",-12.5,300,3/4/2026,n,wholesale,1:05PM,\"memo\",01-2-33-4000-10\r\n");
    xvlImport imp(tpl);
    imp.xvlSetClearExtendedFields(true);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_EQ(info.Status(), 0);
    EXPECT_EQ(info.FormatID(), "C");
    EXPECT_EQ(info.ImportedRecs(), 1);
    EXPECT_EQ(info.FileNumUsed(), handle);
    EXPECT_EQ(info.RecExtraData(), 0);
    EXPECT_EQ(info.StartLine(), 4);
    EXPECT_FALSE(info.ReplaceRecord());
    EXPECT_FALSE(info.ImportedNotes()) << "the format has no \"Converted Notes\"";
    EXPECT_EQ(info.PercentDone(), 100);

    EXPECT_EQ(Get(1, "CUSTID").text, "ab1");
    EXPECT_EQ(Get(1, "CNAME").text, "Smith, Ann");
    EXPECT_EQ(Get(1, "CBAL").number, -1250);
    EXPECT_EQ(Get(1, "CLIMIT").number, 300);
    EXPECT_EQ(Get(1, "CSINCE").date, (x_date_type{3, 4, 2026}));
    EXPECT_EQ(Get(1, "CACTIVE").flag, 0);
    EXPECT_EQ(Get(1, "CTYPE").number, 2);
    EXPECT_EQ(Get(1, "CCALL").time, (x_time_type{13, 5, 0}));
    EXPECT_EQ(Get(1, "CMEMO").text, "memo");
    EXPECT_EQ(Get(1, "CACCT").text, "01233400010") << "stored without separators";
    EXPECT_EQ(imp.xvlImportNextRec(info), 2);
}

TEST_F(ImportRecords, ARepeatedKeyValueIsAnsweredByTheKeyFormatInForceNow) {
    MakeTemplate(kCustomerTemplate);
    const std::string line = "C,ab1,n,,,,,,,,01-2-33-4000-10\r\n";
    const auto txt = Text("c.txt", std::string(kHead) + line + line + line + "C,ab2,n,,,,,,,,01-2-33\r\n" +
                                       "C,ab3,n,,,,,,,,01-2-33\r\n");
    xvlImport imp(tpl);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_EQ(Get(1, "CACCT").text, "01233400010");
    // The account format changes between two lines with the same account.
    suite::KeyFormat& gl = suite::current_company()->settings().formats[suite::kGlAccountFormat];
    gl.sections.back().width += 1;
    ASSERT_EQ(imp.xvlImportNextRec(info), 1);
    EXPECT_THAT(info.Message(), ::testing::HasSubstr("must be 12 characters long"));
    // A value refused once is refused again, with its reason.
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(imp.xvlImportNextRec(info), 1);
        EXPECT_THAT(info.Message(), ::testing::HasSubstr("GL account value '01-2-33' doesn't fit its format"));
    }
}

// UTF-8 and Windows-1252 files give the same UTF-8 values; a field's length counts characters,
// and a value put into a field is cut between characters.
TEST_F(ImportRecords, BothEncodingsStoreUtf8AndLengthsCountCharacters) {
    MakeTemplate(kCustomerTemplate);
    std::string e30, e30cp;
    for (int i = 0; i < 30; ++i) e30 += "\xC3\xA9", e30cp += "\xE9";
    for (const std::string& name : {e30, e30cp}) {
        const auto txt = Text("c.txt", std::string(kHead) + "C,ab1," + name + ",,,,,,,,\r\nC,ab2," + name + "e,,,,,,,,\r\n");
        xvlImport imp(tpl);
        ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
        xvlImpInfo info;
        ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
        EXPECT_EQ(Get(1, "CNAME").text, e30);
        ASSERT_EQ(imp.xvlImportNextRec(info), 1);
        EXPECT_THAT(info.Message(), ::testing::HasSubstr("has 31 characters and 30 are allowed"));
    }
    x_value_def v;
    v.text = e30 + "\xC3\xA8";
    xio_put_field(handle, 1, Fld(1, "CNAME"), v);
    EXPECT_EQ(Get(1, "CNAME").text, e30);
}

TEST_F(ImportRecords, ControlBytesAreFoundWhereverTheyStandInAValue) {
    using ::testing::HasSubstr;
    MakeTemplate(kCustomerTemplate);
    // Names long enough to be looked at in words; the control byte early, late and last.
    const std::string lines = std::string(kHead) + "C,a1,Name with a" + std::string(1, '\0') + " zero,,,,,,,,\r\n" +
                              "C,a2,\"Name broken\r\nover two lines\",,,,,,,,\r\n" + "C,a3,Twelve bytes\x01,,,,,,,,\r\n" +
                              "C,a4,Tab\tinside \xC3\xA9\xC3\xA9 and more,,,,,,,,\r\n" + "C,a5,Nine byte" +
                              std::string(1, '\0') + ",,,,,,,,\r\n" + "C,a6,Short" + std::string(1, '\0') + ",,,,,,,,\r\n" +
                              "C,a7,Fo" + std::string(1, '\0') + "r,,,,,,,,\r\n" + "C,a8,N" + std::string(1, '\0') + ",,,,,,,,\r\n";
    const auto txt = Text("c.txt", lines);
    xvlImport imp(tpl);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextRec(info), 1);
    EXPECT_THAT(info.Message(), HasSubstr("holds a NUL character (a zero byte), which no field can store (fld 2, col 3)"));
    ASSERT_EQ(imp.xvlImportNextRec(info), 1);
    EXPECT_THAT(info.Message(), HasSubstr("can't hold a line break"));
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_EQ(Get(1, "CNAME").text, "Twelve bytes\x01");
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_EQ(Get(1, "CNAME").text, "Tab\tinside \xC3\xA9\xC3\xA9 and more");
    for (int k = 0; k < 4; ++k) {  // a NUL the last of ten bytes, of six, the third of four, the last of two
        ASSERT_EQ(imp.xvlImportNextRec(info), 1) << k;
        EXPECT_THAT(info.Message(), HasSubstr("holds a NUL character (a zero byte), which no field can store (fld 2, col 3)"));
    }
}

TEST_F(ImportRecords, BlankColumnsKeepTheDefaults) {
    MakeTemplate(kCustomerTemplate);
    const auto txt = Text("c.txt", std::string(kHead) + "C,ab2,Name,,,,,,,,\r\n");
    xvlImport imp(tpl);
    imp.xvlSetClearExtendedFields(true);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_EQ(Get(1, "CACTIVE").flag, 1);
    EXPECT_EQ(Get(1, "CTYPE").number, 2);
    EXPECT_EQ(Get(1, "CBAL").number, 0);
    EXPECT_TRUE(Get(1, "CSINCE").date.blank());
}

struct ErrorCase {
    const char* name;
    const char* line;
    int error;
    const char* message;  // expected part of the message
};
// A failing case is named by this, not by its bytes.
static void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class ImportErrors : public ImportFixture, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(ImportErrors, RefusedWithNumberFieldAndColumn) {
    const ErrorCase& c = GetParam();
    MakeTemplate(kCustomerTemplate);
    const auto txt = Text("e.txt", std::string(kHead) + c.line + "\r\n");
    xvlImport imp(tpl);
    imp.xvlSetClearExtendedFields(true);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    EXPECT_EQ(imp.xvlImportNextRec(info), 1) << c.name;
    EXPECT_EQ(info.Status(), 1) << c.name;
    EXPECT_EQ(info.Error(), c.error) << c.name << ": " << info.Message();
    EXPECT_NE(info.Message().find(c.message), std::string::npos) << c.name << ": " << info.Message();
    EXPECT_EQ(info.StartLine(), 2);
    EXPECT_EQ(imp.xvlImportNextRec(info), 2) << "one line, one record";
}

INSTANTIATE_TEST_SUITE_P(
    Import, ImportErrors,
    ::testing::Values(
        ErrorCase{"time", "C,a,n,1,1,1/1/2026,y,1,25:00,m,", kErrNotConvertible,
                  "Call time expects a time such as 9:30 or 9:30PM, not '25:00' (fld 8, col 9)"},
        ErrorCase{"too long", "C,a,1234567890123456789012345678901,1,1,,,,,,", kErrTooLong,
                  "Customer name is too long: '1234567890123456789012345678901' has 31 characters and 30 are allowed "
                  "(fld 2, col 3)"},
        // One allowed character is said in the singular.
        ErrorCase{"one character", "CG,a,AB", kErrTooLong,
                  "Grade is too long: 'AB' has 2 characters and 1 is allowed (fld 2, col 3)"},
        ErrorCase{"key blank", "C,  ,n,,,,,,,,", kErrKeyBlank, "Customer is part of the record's key and can't be blank (fld 1, col 2)"},
        ErrorCase{"unknown format", "Q,a,b", kErrUnknownFormat, "Record type 'Q' is not in the template xvtst.tpl (fld 1, col 1)"},
        // A line saved with another list separator: the refusal's words, then what is wrong, as a
        // first line of that form is told. Amounts written with a decimal comma split no further.
        ErrorCase{"semicolons", "C;a;n;12,50;;;;;;;", kErrUnknownFormat,
                  "Record type 'C;a;n;12' is not in the template xvtst.tpl (fld 1, col 1): the line separates its values "
                  "with semicolons, not commas"},
        ErrorCase{"tabs", "C\ta\tn", kErrUnknownFormat,
                  "Record type 'C\\011a\\011n' is not in the template xvtst.tpl (fld 1, col 1): the line separates its "
                  "values with tabs, not commas"},
        ErrorCase{"control character shown", "C,a,n,1\0332,,,,,,,", kErrNotConvertible,
                  "Balance expects a number, not '1\\0332' (fld 3, col 4)"},
        ErrorCase{"choice", "C,a,n,,,,,Gold,,,", kErrChoice,
                  "Customer type has no choice 'Gold', expected the number or text of one of: 1 Retail, 2 Wholesale, 3 Other "
                  "(fld 7, col 8)"},
        ErrorCase{"date", "C,a,n,,,2/3x/2026,,,,,", kErrDate,
                  "Customer since has an invalid date '2/3x/2026', expected month/day/year (fld 5, col 6)"},
        ErrorCase{"no such day", "C,a,n,,,2/29/2026,,,,,", kErrDate,
                  "Customer since has the date '2/29/2026', which does not exist: month 2 of 2026 has 28 days (fld 5, col 6)"},
        ErrorCase{"logical", "C,a,n,,,,maybe,,,,", kErrLogical, "Active expects Y or N, not 'maybe' (fld 6, col 7)"},
        ErrorCase{"range", "C,a,n,,100000,,,,,,", kErrNumberRange,
                  "Credit limit value '100000' is out of range, expected at most 5 digits before the decimal point and 0 after "
                  "it, not negative (fld 4, col 5)"},
        ErrorCase{"decimals", "C,a,n,1.234,,,,,,,", kErrNumberRange, "Balance value '1.234' is out of range"},
        ErrorCase{"number", "C,a,n,12x,,,,,,,", kErrNotConvertible, "Balance expects a number, not '12x' (fld 3, col 4)"},
        ErrorCase{"forty characters shown whole", "C,a,n,abcdefghijabcdefghijabcdefghijabcdefghij,,,,,,,", kErrNotConvertible,
                  "Balance expects a number, not 'abcdefghijabcdefghijabcdefghijabcdefghij' (fld 3, col 4)"},
        ErrorCase{"key format", "C,a,n,,,,,,,,01-2-33", kErrKeyFormat, "GL account value '01-2-33' doesn't fit its format"},
        ErrorCase{"too few columns", "C,a,n", kErrTooFewColumns,
                  "The line has 3 columns, record type 'C' needs 11 (fld 3, col 4)"},
        ErrorCase{"one column", "C", kErrTooFewColumns, "The line has 1 column, record type 'C' needs 11 (fld 1, col 2)"},
        // Saved in part with another list separator: the record type is read, the rest is not.
        ErrorCase{"short with semicolons", "C,a;n;1;;;", kErrTooFewColumns,
                  "The line has 2 columns, record type 'C' needs 11 (fld 2, col 3): the line separates its values "
                  "with semicolons, not commas"},
        ErrorCase{"short with tabs", "C,a\tn\t1", kErrTooFewColumns,
                  "The line has 2 columns, record type 'C' needs 11 (fld 2, col 3): the line separates its values "
                  "with tabs, not commas"},
        ErrorCase{"too many columns", "C,a,n,,,,,,,,,extra", kErrTooManyColumns,
                  "The line has 12 columns, record type 'C' takes only 11 (fld 11, col 12)"},
        ErrorCase{"quotes", "C,a,\"open\" x,,,,,,,,", kErrQuotes,
                  "A double quote is not closed, or text follows a closing double quote (fld 2, col 3)"},
        ErrorCase{"not on file", "CM,nobody,n,", kErrNotOnFile, "The record to modify doesn't currently exist (fld 1, col 1)"},
        ErrorCase{"long text", "C,a,n,,,,,,,xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx,",
                  kErrLongTextTooLong, "Memo is too long"}),
    CaseName());

// A type whose lines name no record type reads a line of semicolons as one value: it is refused
// for want of columns, with what is wrong with the line.
TEST_F(ImportRecords, ALineOfSemicolonsOfATypeWithoutIdsGetsTheSeparatorHint) {
    MakeTemplate("format \"\"\n  file TST 1\n  record 1\n  field CUSTID\n  field CNAME\n  field CBAL\n");
    ASSERT_TRUE(tpl.NoIdColumn());
    const auto txt = Text("n.txt", std::string(kHead) + "a;b;c\r\n");
    xvlImport imp(tpl);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    EXPECT_EQ(imp.xvlImportNextRec(info), 1);
    EXPECT_EQ(info.Error(), kErrTooFewColumns);
    EXPECT_THAT(info.Message(), ::testing::HasSubstr("The line has 1 column and needs 3 (fld 2, col 2): the line "
                                                     "separates its values with semicolons, not commas"));
}

TEST_F(ImportRecords, LongTextsTravelWhole) {
    MakeTemplate(kCustomerTemplate);
    const std::string memo(150, 'm');
    const auto txt = Text("c.txt", std::string(kHead) + "C,a,n,,,,,,," + memo + ",\r\n");
    xvlImport imp(tpl);
    imp.xvlSetAcceptLongText(true);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_EQ(Get(1, "CMEMO").longText, memo);
}

TEST_F(ImportRecords, TrailingEmptyColumnsAreNotTooMany) {
    MakeTemplate(kCustomerTemplate);
    const auto txt = Text("c.txt", std::string(kHead) + "C,a,n,,,,,,,,,,,\r\n");
    xvlImport imp(tpl);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    EXPECT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
}

TEST_F(ImportRecords, SpecialValuesPresentAndAbsent) {
    MakeTemplate(kCustomerTemplate);
    const auto txt = Text("c.txt", std::string(kHead) + "CM,a,n,\"first, \"\"second\"\"\"\r\nCN,a,hello,\r\n");
    StoreCustomer("a", "stored");
    xvlImport imp(tpl);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_TRUE(info.ImportedNotes());
    xio_unlock_record(handle, 1, 1);
    auto notes = imp.xvlImpGetSpecialValue("CM", "converted notes");
    ASSERT_TRUE(notes.has_value());
    EXPECT_EQ(notes->longText, "first, \"second\"");
    EXPECT_FALSE(imp.xvlImpGetSpecialValue("CM", "NOTE1").has_value()) << "the format has no such column";
    EXPECT_FALSE(imp.xvlImpGetSpecialValue("C", "Converted Notes").has_value());
    EXPECT_FALSE(imp.xvlImpGetSpecialValue("ZZ", "NOTE1").has_value()) << "no such format";
    EXPECT_TRUE(imp.xvlImpWasItImported("C", "cbal"));
    EXPECT_FALSE(imp.xvlImpWasItImported("C", "CJOB"));

    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_EQ(info.RecExtraData(), 51);
    EXPECT_FALSE(info.ImportedNotes());
    EXPECT_EQ(imp.xvlImpGetSpecialValue("CN", "NOTE1")->text, "hello");
    EXPECT_EQ(imp.xvlImpGetSpecialValue("CN", "NOTE2")->text, "") << "a blank value is present and empty";
    // The value of the earlier format stays with it.
    EXPECT_EQ(imp.xvlImpGetSpecialValue("CM", "Converted Notes")->longText, "first, \"second\"");
}

// By position, a special value is the one its name gives, line after line.
TEST_F(ImportRecords, SpecialValuesByPositionFollowTheLinesRead) {
    MakeTemplate(kCustomerTemplate);
    const auto txt = Text("c.txt", std::string(kHead) + "CN,a,hello,there\r\nCN,b,,again\r\n");
    StoreCustomer("a", "stored");
    StoreCustomer("b", "stored");
    xvlImport imp(tpl);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    const int note1 = imp.xvlImpSpecialPosition("CN", "note1"), note2 = imp.xvlImpSpecialPosition("cn", "NOTE2");
    ASSERT_GE(note1, 0);
    ASSERT_GE(note2, 0);
    EXPECT_NE(note1, note2);
    EXPECT_EQ(imp.xvlImpSpecialPosition("CN", "CUSTID"), -1) << "a field, not a special value";
    EXPECT_EQ(imp.xvlImpSpecialPosition("ZZ", "NOTE1"), -1) << "no such format";
    EXPECT_EQ(imp.xvlImpSpecialValueAt("CN", note1).text, "") << "no line read yet";
    EXPECT_TRUE(imp.xvlImpSpecialValues("CN").empty()) << "no line read yet";
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_EQ(imp.xvlImpSpecialValueAt("CN", note1).text, "hello");
    EXPECT_EQ(imp.xvlImpSpecialValueAt("CN", note2).text, "there");
    // All of them at once, by the same positions.
    const auto all = imp.xvlImpSpecialValues("CN");
    ASSERT_GT(all.size(), static_cast<std::size_t>(std::max(note1, note2)));
    EXPECT_EQ(all[note1].text, "hello");
    EXPECT_EQ(all[note2].text, "there");
    EXPECT_TRUE(imp.xvlImpSpecialValues("ZZ").empty()) << "no such format";
    EXPECT_EQ(imp.xvlImpGetSpecialValue("CN", "NOTE2")->text, "there");
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    // A name asked for line after line answers for the line read, in any letter case.
    EXPECT_EQ(imp.xvlImpGetSpecialValue("CN", "NOTE2")->text, "again");
    EXPECT_EQ(imp.xvlImpGetSpecialValue("CN", "note2")->text, "again");
    EXPECT_FALSE(imp.xvlImpGetSpecialValue("CN", "NOTE3").has_value());
    EXPECT_EQ(imp.xvlImpSpecialValueAt("CN", note1).text, imp.xvlImpGetSpecialValue("CN", "NOTE1")->text);
    EXPECT_EQ(imp.xvlImpSpecialValueAt("CN", note1).text, "");
    EXPECT_EQ(imp.xvlImpSpecialValueAt("CN", note2).text, "again");
    EXPECT_EQ(imp.xvlImpSpecialValues("CN")[note1].text, "");
    EXPECT_EQ(imp.xvlImpSpecialValues("CN")[note2].text, "again");
    EXPECT_EQ(imp.xvlImpSpecialValueAt("CN", -1).text, "");
}

// Whether a line gave a column a value is the line's own answer: a blank column does not, and
// a refused line answers for none of its columns.
TEST_F(ImportRecords, TheLineSaysWhichColumnsItGave) {
    MakeTemplate(kCustomerTemplate);
    const auto txt = Text("c.txt", std::string(kHead) + "C,a,n,12.50,,,,,,,\r\nC,b,n,,,,,,,,\r\n" +
                                       "C,c,n,notanumber,,,,,,,\r\nC,d,n,5,,,,,,,\r\n");
    xvlImport imp(tpl);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_TRUE(imp.xvlImpLineGave("C", "cbal"));
    EXPECT_FALSE(imp.xvlImpLineGave("C", "CLIMIT")) << "blank";
    EXPECT_FALSE(imp.xvlImpLineGave("C", "CJOB")) << "no such column";
    EXPECT_FALSE(imp.xvlImpLineGave("CN", "CUSTID")) << "another format's line";
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_TRUE(imp.xvlImpWasItImported("C", "CBAL"));
    EXPECT_FALSE(imp.xvlImpLineGave("C", "CBAL")) << "the template has it, this line left it blank";
    ASSERT_EQ(imp.xvlImportNextRec(info), 1);
    EXPECT_FALSE(imp.xvlImpLineGave("C", "CUSTID")) << "a refused line";
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_TRUE(imp.xvlImpLineGave("C", "CBAL"));
    EXPECT_FALSE(imp.xvlImpLineGave("C", "CNAMEX"));
}

TEST_F(ImportRecords, PermissionsAndReplacementStartFromTheStoredRecord) {
    MakeTemplate(kCustomerTemplate);
    StoreCustomer("K1", "Old name", 5000);
    const auto txt = Text("m.txt", std::string(kHead) + "CM,k1,New name,\r\nCM,K9,Nobody,\r\n");
    EXPECT_EQ(tpl.FindFormat("CM")->permissions, 1);
    {
        xvlImport imp(tpl);
        imp.xvlSetClearExtendedFields(true);
        ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
        EXPECT_EQ(imp.xvlImpGetPermissions("CM"), 1);
        EXPECT_EQ(imp.xvlImpGetPermissions("C"), 2);
        xvlImpInfo info;
        ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
        EXPECT_TRUE(info.ReplaceRecord());
        EXPECT_EQ(Get(1, "CNAME").text, "New name");
        EXPECT_EQ(Get(1, "CBAL").number, 5000) << "fields outside the template keep the stored value";
        EXPECT_EQ(Get(1, "CUSTID").text, "K1") << "the stored spelling of the key";
        ASSERT_EQ(xio_rep_record(handle, 1), XIO_OK) << "the stored record was read for update";
        ASSERT_EQ(imp.xvlImportNextRec(info), 1);
        EXPECT_EQ(info.Error(), kErrNotOnFile);
    }
    {
        // Examine: a modify-only record not on file is staged as new.
        xvlImport imp(tpl);
        imp.xvlSetClearExtendedFields(true);
        imp.xvlChangeRepToWrRep(true);
        ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
        xvlImpInfo info;
        ASSERT_EQ(imp.xvlImportNextRec(info), 0);
        EXPECT_TRUE(info.ReplaceRecord());
        xio_unlock_record(handle, 1, 1);
        ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
        EXPECT_FALSE(info.ReplaceRecord());
        EXPECT_EQ(Get(1, "CNAME").text, "Nobody");
        EXPECT_EQ(Get(1, "CBAL").number, 0) << "a new record starts from the defaults";
    }
}

TEST_F(ImportRecords, RecordLockedByAnotherHandle) {
    MakeTemplate(kCustomerTemplate);
    StoreCustomer("K1", "Old");
    uint16_t other = 0;
    xio_ask_request req;
    req.abbr = "TST";
    req.fileNo = 1;
    ASSERT_EQ(xio_ask_file(req, other), XIO_OK);
    x_value_def v;
    v.text = "K1";
    xio_put_field(other, 1, Fld(1, "CUSTID"), v);
    ASSERT_EQ(xio_rd_record(other, 1, 0, 1), XIO_OK);

    const auto txt = Text("m.txt", std::string(kHead) + "CM,K1,New,\r\n");
    xvlImport imp(tpl);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    EXPECT_EQ(imp.xvlImportNextRec(info), 1);
    EXPECT_EQ(info.Error(), kErrLocked);
    EXPECT_EQ(info.Message(), "The record is in use by another user (fld 1, col 1)");
    xio_cls_file(other);
}

TEST_F(ImportRecords, NotesAndUserFieldRecords) {
    MakeTemplate(kCustomerTemplate);
    StoreCustomer("K1", "Stored");
    const auto txt = Text("u.txt", std::string(kHead) + "CU,k1,UCOUNT,42\r\nCN,K2,note,\r\n");
    xvlImport imp(tpl);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_EQ(info.RecExtraData(), 11);
    EXPECT_EQ(info.ImportedRecs(), 1);
    EXPECT_TRUE(info.ReplaceRecord()) << "the record whose fields they are is read for update";
    EXPECT_EQ(imp.xvlImpGetSpecialValue("CU", "cust fld name")->text, "UCOUNT");

    imp.xvlImpCopyKeyToUd(info);
    EXPECT_EQ(Get(11, "UCUST").text, "K1");
    xio_fld_def def;
    ASSERT_EQ(xio_get_fld_def(handle, Fld(11, "UCOUNT"), def), XIO_OK);
    x_value_def v;
    xvlImpInfo conv;
    ASSERT_TRUE(imp.xvlConvertField(def, imp.xvlImpGetSpecialValue("CU", "cust fld value")->text, v, conv));
    EXPECT_EQ(v.number, 42);
    EXPECT_FALSE(imp.xvlConvertField(def, "many", v, conv));
    EXPECT_EQ(conv.Status(), 1);
    EXPECT_EQ(conv.Error(), kErrNotConvertible);
    EXPECT_NE(conv.Message().find("Count expects a number, not 'many'"), std::string::npos) << conv.Message();
    xio_unlock_record(handle, 1, 1);

    // Notes of a record that is not on file.
    ASSERT_EQ(imp.xvlImportNextRec(info), 1);
    EXPECT_EQ(info.Error(), kErrNotOnFile);
    EXPECT_EQ(info.RecExtraData(), 51) << "a refused record still tells its kind";
}

TEST_F(ImportRecords, SubstitutionChangesAndRefuses) {
    MakeTemplate(R"(format C
  file TST 1
  record 1
  field CUSTID
  field CNAME id 46
  field CACCT
)");
    struct Seen {
        std::vector<std::string> calls;
    } seen;
    auto cb = [](std::string& value, int16_t id, int16_t section, int16_t h, int16_t fld, std::string& reject, int32_t line,
                 void* ctx) {
        auto* s = static_cast<Seen*>(ctx);
        s->calls.push_back(value + "|" + std::to_string(id) + "|" + std::to_string(section) + "|" + std::to_string(h) + "|" +
                           std::to_string(fld) + "|" + std::to_string(line));
        if (value == "old") value = "new";
        if (value == "bad") {
            reject = "The text file value 'bad' was not found(98)";
            return false;
        }
        return true;
    };
    const auto txt = Text("s.txt", std::string(kHead) + "C,a,old,01-2-33-4000-10\r\nC,b,bad,\r\n");
    xvlImport imp(tpl);
    imp.xvlSetSubstitutionCB(cb, &seen);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_EQ(Get(1, "CNAME").text, "new");
    const std::string h = std::to_string(handle);
    ASSERT_EQ(seen.calls.size(), 2u) << "CUSTID has no field id";
    EXPECT_EQ(seen.calls[0], "old|46|0|" + h + "|" + std::to_string(Fld(1, "CNAME")) + "|2");
    EXPECT_EQ(seen.calls[1], "01-2-33-4000-10|9|8|" + h + "|" + std::to_string(Fld(1, "CACCT")) + "|2")
        << "GL accounts go to the callbacks as typed, with section 8";
    ASSERT_EQ(imp.xvlImportNextRec(info), 1);
    EXPECT_EQ(info.Error(), kErrRefused);
    EXPECT_EQ(info.Message(), "The text file value 'bad' was not found(98)");
}

TEST_F(ImportRecords, PrefillSeesEveryValueWithItsFieldIdAndSection) {
    MakeTemplate(R"(format C
  file TST 1
  record 1
  field CUSTID
  field CACCT
  field CNAME id 18 section 2
)");
    std::vector<std::string> seen;
    auto cb = [](const std::string& value, int16_t id, int16_t section, const std::string& file, void* ctx) {
        static_cast<std::vector<std::string>*>(ctx)->push_back(value + "|" + std::to_string(id) + "|" +
                                                               std::to_string(section) + "|" +
                                                               std::filesystem::path(file).filename().string());
        return value != "toolong";
    };
    const auto txt = Text("p.txt", std::string(kHead) + "C,a,01-2-33-4000-10,x1\r\nC,b,,toolong\r\n");
    xvlImport imp(tpl);
    imp.xvlSetPrefillCB(cb, &seen);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextRec(info), 0);
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << "a value too long for the table is still imported";
    EXPECT_EQ(seen, (std::vector<std::string>{"01-2-33-4000-10|9|8|p.txt", "x1|18|2|p.txt", "|9|8|p.txt",
                                              "toolong|18|2|p.txt"}));
}

TEST_F(ImportRecords, PeekDoesNotConsume) {
    MakeTemplate(kCustomerTemplate);
    const auto txt = Text("k.txt", std::string(kHead) + "C,a,n,,,,,,,,\r\n#\r\nCN,a,x,y\r\nZZ,1\r\n");
    xvlImport imp(tpl);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info, next;
    std::string id;
    ASSERT_EQ(imp.xvlImpWhatIsNextID(id, next), 0);
    EXPECT_EQ(id, "C");
    EXPECT_EQ(next.ImportedRecs(), 1);
    ASSERT_EQ(imp.xvlImportNextRec(info), 0);
    EXPECT_EQ(info.StartLine(), 2);
    ASSERT_EQ(imp.xvlImpWhatIsNextID(id, next), 0);
    EXPECT_EQ(id, "CN");
    EXPECT_EQ(next.RecExtraData(), 51);
    EXPECT_EQ(next.StartLine(), 4);
    ASSERT_EQ(imp.xvlImpWhatIsNextID(id, next), 0) << "asking twice reads nothing";
    EXPECT_EQ(id, "CN");
    ASSERT_EQ(imp.xvlImportNextRec(info), 1) << "not on file";
    EXPECT_EQ(info.StartLine(), 4);
    EXPECT_EQ(imp.xvlImpWhatIsNextID(id, next), 1);
    EXPECT_EQ(id, "ZZ");
    EXPECT_EQ(next.Error(), kErrUnknownFormat);
    EXPECT_EQ(imp.xvlImportNextRec(info), 1);
    EXPECT_EQ(imp.xvlImpWhatIsNextID(id, next), 2);
    EXPECT_EQ(imp.xvlImportNextRec(info), 2);
}

TEST_F(ImportRecords, PercentDoneFollowsTheBytesRead) {
    MakeTemplate(kCustomerTemplate);
    std::string body = "#,TST,xvtst\n";  // 12 bytes
    for (int i = 0; i < 4; ++i) body += "C,k" + std::to_string(i) + ",n,,,,,,,,\n";  // 4 x 15 bytes
    const auto txt = Text("p.txt", body);
    xvlImport imp(tpl);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    std::vector<int> pct;
    while (imp.xvlImportNextRec(info) != 2) pct.push_back(info.PercentDone());
    EXPECT_EQ(pct, (std::vector<int>{37, 58, 79, 100}));
}

TEST_F(ImportRecords, NoTextFileMeansEndOfFile) {
    MakeTemplate(kCustomerTemplate);
    xvlImport imp(tpl);
    EXPECT_FALSE(imp.xvlImpFileNames((dir / "missing.txt").string(), ""));
    xvlImpInfo info;
    EXPECT_EQ(imp.xvlImportNextRec(info), 2);
    EXPECT_EQ(imp.xvlImportNextGroup(info), 2);
    std::string id;
    EXPECT_EQ(imp.xvlImpWhatIsNextID(id, info), 2);
}

TEST_F(ImportRecords, ATemplateThatWasNotBuiltReadsNothing) {
    EXPECT_NE(tpl.CreateFromText("format C\n file TST 1\n record 1\n field NOSUCH\n", "bad.tpl", files), 0);
    const auto txt = Text("c.txt", std::string(kHead) + "C,a\r\n");
    xvlImport imp(tpl);
    EXPECT_FALSE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    EXPECT_EQ(imp.xvlImportNextRec(info), 2);
}

TEST_F(ImportRecords, InMemoryTemplateReadsLinesWithoutIdColumn) {
    xvlImpTemplate mem;
    mem.xvlImpAddFormatID("");
    mem.xvlImpAppendField({"OldId", "Old value", 5, 0, 0, false});
    mem.xvlImpAppendField({"NewId1", "New value", 8, 9, 0, true});
    // Five characters in more than five bytes still fit a five-character column.
    const auto txt = Text("t.txt", "abc,new1\r\n\xC3\xA9t\xC3\xA9s,y\r\nabcdef,x\r\nq\r\n");
    xvlImport imp(mem);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_EQ(info.StartLine(), 1) << "no \"#\" first line";
    EXPECT_EQ(info.FileNumUsed(), 0);
    EXPECT_EQ(imp.xvlImpGetSpecialValue("", "OldId")->text, "abc");
    EXPECT_EQ(imp.xvlImpGetSpecialValue("", "NewId1")->text, "NEW1") << "capitals";
    EXPECT_FALSE(imp.xvlImpGetSpecialValue("", "NewId2").has_value());
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_EQ(imp.xvlImpGetSpecialValue("", "OldId")->text, "\xC3\xA9t\xC3\xA9s");
    ASSERT_EQ(imp.xvlImportNextRec(info), 1);
    EXPECT_EQ(info.Error(), kErrTooLong);
    EXPECT_NE(info.Message().find("Old value is too long: 'abcdef' has 6 characters and 5 are allowed (fld 1, col 1)"),
              std::string::npos)
        << info.Message();
    ASSERT_EQ(imp.xvlImportNextRec(info), 1);
    EXPECT_EQ(info.Error(), kErrTooFewColumns);
}

TEST_F(ImportRecords, TimeStampAndCloseWritesTheFixedClockAndOperator) {
    MakeTemplate(kCustomerTemplate);
    suite::current_company()->settings().operator_name = "Ann";
    suite::xd_set_clock(suite::xd_fixed_clock({{12, 6, 2026}, {0, 7, 0}}));
    const auto txt = Text("s.txt", "#,TST,xvtst");
    xvlImport imp(tpl);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    EXPECT_EQ(imp.xvlImportNextRec(info), 2);
    EXPECT_TRUE(imp.xvlImpTimeStampAndCloseFile(true, true, "xvtst.tpl")) << imp.LastErrorText();
    suite::xd_set_clock(nullptr);
    EXPECT_EQ(ReadFile(txt), "#,TST,xvtst\n#,\"Previously Converted\",\"by Ann\",\"on 12/6/26\",\"at 12:07AM\",\"using xvtst.tpl\"\n");
    EXPECT_EQ(imp.xvlImportNextRec(info), 2) << "closed";
}
