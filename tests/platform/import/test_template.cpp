// Template files: parsing, faults with their lines, binding to the open data files.
#include "import_fixture.h"

#include "platform/import/xvl_messages.h"
#include "platform/import/xvl_text.h"
#include <ostream>

using namespace dz;
using namespace dz::xvl;
using namespace dz::xvl::test;

class ImportTemplates : public ImportFixture {};

TEST_F(ImportTemplates, BindsFieldsAndDefaultsTheirCallbackIds) {
    MakeTemplate(R"(# a comment
version "ALLOW TOTALS"
FORMAT c
  File tst 1
  record 1
  field custid
  field CACCT
  field CJOB
  field CNAME id 46 section 2
  special "Converted Notes" longtext
)");
    EXPECT_EQ(tpl.Version(), "ALLOW TOTALS");
    const TemplateFormat* f = tpl.FindFormat("C");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->id, "c") << "the id as the template writes it";
    EXPECT_EQ(f->abbr, "TST");
    EXPECT_EQ(f->handle, handle);
    EXPECT_EQ(f->permissions, 2);
    EXPECT_EQ(f->extraData, 0);
    ASSERT_EQ(f->columns.size(), 5u);
    EXPECT_EQ(f->columns[0].fieldNo, Fld(1, "CUSTID"));
    EXPECT_TRUE(f->columns[0].keyField);
    EXPECT_EQ(f->columns[0].fieldId, 0);
    EXPECT_EQ(f->columns[1].fieldId, 9) << "GL accounts: custom description 9";
    EXPECT_EQ(f->columns[1].section, 8) << "handed over on section 8";
    EXPECT_EQ(f->columns[2].fieldId, 16);
    EXPECT_EQ(f->columns[2].section, 0);
    EXPECT_EQ(f->columns[3].fieldId, 46);
    EXPECT_EQ(f->columns[3].section, 2);
    EXPECT_TRUE(f->columns[4].special);
    EXPECT_EQ(f->columns[4].type, SpecialType::LongText);
    EXPECT_EQ(f->keyColumns, (std::vector<std::size_t>{0}));
}

TEST_F(ImportTemplates, KindsAndPermissionsOfFormats) {
    MakeTemplate(R"(format U
  file TST 1
  record 1
  userfields 11
  field CUSTID
format N
  file TST 1
  record 1
  notes
  field CUSTID
format G
  file TST 1
  record 2
  permissions 3
  field INVNO
format G2
  file TST 1
  record 2
  field INVNO
format L
  file TST 1
  record 3
  field LINV
)");
    EXPECT_EQ(tpl.FindFormat("U")->extraData, 11);
    EXPECT_EQ(tpl.FindFormat("U")->permissions, 1) << "user fields change a stored record";
    EXPECT_EQ(tpl.FindFormat("N")->extraData, 51);
    EXPECT_EQ(tpl.FindFormat("N")->permissions, 1);
    EXPECT_EQ(tpl.FindFormat("G")->permissions, 3);
    std::set<std::string> ids;
    ASSERT_EQ(tpl.xvlImpWhatGivenIDsExist(handle, 2, ids), 0);
    EXPECT_EQ(ids, (std::set<std::string>{"G", "G2"}));
    ASSERT_EQ(tpl.xvlImpWhatGivenIDsExist(handle, 1, ids), 0);
    EXPECT_TRUE(ids.empty()) << "user-field and notes formats are no data records";
    std::vector<ZQAbbr> abbrs;
    ASSERT_TRUE(tpl.GetZQAbbrs(abbrs));
    ASSERT_EQ(abbrs.size(), 1u);
    EXPECT_EQ(abbrs[0].abbr, "TST");
    EXPECT_EQ(abbrs[0].fileNo, 1);
}

TEST_F(ImportTemplates, GroupsFromTheFileAndFromCalls) {
    MakeTemplate(R"(format I
  file TST 1
  record 2
  field INVNO
format L
  file TST 1
  record 3
  field LINV
group I
depend I L
depend L __END_GROUP
)");
    EXPECT_TRUE(tpl.IsGroupStart("i"));
    EXPECT_FALSE(tpl.IsGroupStart("L"));
    EXPECT_TRUE(tpl.MayFollow("I", "L"));
    EXPECT_FALSE(tpl.MayFollow("I", kEndGroup));
    EXPECT_TRUE(tpl.MayFollow("L", kEndGroup));
    tpl.xvlImpAddDependency("I", "__END_GROUP");
    tpl.xvlImpAddDependency("I", "__END_GROUP");
    EXPECT_TRUE(tpl.MayFollow("I", kEndGroup));
}

struct FaultCase {
    const char* name;
    const char* text;
    int code;
    const char* error;
};
// A failing case is named by this, not by its bytes.
static void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class ImportTemplateFaults : public ImportFixture, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(ImportTemplateFaults, NameTheFileLineAndProblem) {
    const FaultCase& c = GetParam();
    EXPECT_EQ(tpl.CreateFromText(c.text, "xvbad.tpl", files), c.code) << c.name;
    EXPECT_EQ(tpl.ErrorText(), c.error) << c.name;
    EXPECT_FALSE(tpl.Ready());
}

INSTANTIATE_TEST_SUITE_P(
    Import, ImportTemplateFaults,
    ::testing::Values(
        FaultCase{"unknown word", "format A\n  file TST 1\n  recrod 1\n", 2,
                  "xvbad.tpl, line 3: unknown word 'recrod', expected version, format, file, record, permissions, data, "
                  "userfields, notes, field, special, group or depend"},
        FaultCase{"outside a format", "field CUSTID\n", 2, "xvbad.tpl, line 1: 'field' belongs under a format line"},
        FaultCase{"twice", "format A\nfile TST 1\nrecord 1\nfield CUSTID\n\nformat a\n", 2,
                  "xvbad.tpl, line 6: format 'a' is declared twice (first on line 1)"},
        FaultCase{"bad file", "format A\n  file TST\n", 2,
                  "xvbad.tpl, line 2: 'file' expects a data-file abbreviation of up to three letters and a file number"},
        FaultCase{"four-letter file", "format A\n  file ABCD 1\n", 2,
                  "xvbad.tpl, line 2: 'file' expects a data-file abbreviation of up to three letters and a file number"},
        FaultCase{"a format without an id among others",
                  "format A\n file TST 1\n record 1\n field CUSTID\nformat \"\"\n file TST 1\n record 1\n field CNAME\n", 2,
                  "xvbad.tpl, line 5: a format without an id must be the template's only format"},
        FaultCase{"bad permissions", "format A\n  permissions 4\n", 2, "xvbad.tpl, line 2: 'permissions' expects 1, 2 or 3"},
        FaultCase{"bad user record", "format A\n  userfields 50\n", 2,
                  "xvbad.tpl, line 2: 'userfields' expects the record number (1 to 49) of the user-defined-field record"},
        FaultCase{"bad field options", "format A\n  field X id\n", 2,
                  "xvbad.tpl, line 2: 'field' expects a field name, optionally followed by id N and section N"},
        FaultCase{"special type", "format A\n  special NOTE1 memo\n", 2,
                  "xvbad.tpl, line 2: unknown type 'memo', expected text, longtext, number, logical or date"},
        FaultCase{"unclosed quote", "format A\n  special \"Converted Notes longtext\n", 2,
                  "xvbad.tpl, line 2: a double quote is not closed"},
        FaultCase{"no file", "format A\n  record 1\n  field CUSTID\n", 2, "xvbad.tpl, line 1: format 'A' has no file line"},
        FaultCase{"no record", "format A\n  file TST 1\n  field CUSTID\n", 2, "xvbad.tpl, line 1: format 'A' has no record line"},
        FaultCase{"no columns", "format A\n  file TST 1\n  record 1\n", 2,
                  "xvbad.tpl, line 1: format 'A' has no field or special lines"},
        FaultCase{"no formats", "version 1\n", 2, "xvbad.tpl, line 2: the template declares no format"},
        FaultCase{"same field twice", "format A\n file TST 1\n record 1\n field CUSTID\n field custid\n", 2,
                  "xvbad.tpl, line 5: 'CUSTID' is already a column of this format (line 4)"},
        FaultCase{"undeclared in group", "format A\n file TST 1\n record 1\n field CUSTID\ngroup A\ndepend A B\n", 2,
                  "xvbad.tpl, line 6: format 'B' is not declared in the template"},
        FaultCase{"file not open", "format A\n file GLM 1\n record 1\n field X\n", 3,
                  "xvbad.tpl, line 1: the data file GLM number 1 is not open"},
        FaultCase{"wrong file number", "format A\n file TST 2\n record 1\n field X\n", 3,
                  "xvbad.tpl, line 1: the data file TST number 2 is not open"},
        FaultCase{"no such record", "format A\n file TST 1\n record 9\n field X\n", 4,
                  "xvbad.tpl, line 1: record 9 is not a record type of TST"},
        FaultCase{"no such field", "format A\n file TST 1\n record 1\n field CUSTID\n field INVNO\n", 4,
                  "xvbad.tpl, line 5: TST has no field 'INVNO' in record 1"},
        FaultCase{"no such user record", "format A\n file TST 1\n record 1\n userfields 12\n field CUSTID\n", 4,
                  "xvbad.tpl, line 1: user-defined-field record 12 is not a record type of TST"},
        // Record number 0 names no record: special columns only, and only for data lines.
        FaultCase{"field of record 0", "format A\n file TST 1\n record 0\n field CUSTID\n", 4,
                  "xvbad.tpl, line 4: TST has no field 'CUSTID' in record 0"},
        FaultCase{"notes of record 0", "format A\n file TST 1\n record 0\n notes\n special NOTE1 text\n", 2,
                  "xvbad.tpl, line 1: record 0 is not a record type of TST"}),
    CaseName());

TEST_F(ImportTemplates, AFormatMayNameRecordNumberZero) {
    EXPECT_EQ(tpl.CreateFromText("format Z\n file TST 1\n record 0\n special MEMO text\n", "x.tpl", files), 0)
        << tpl.ErrorText();
}

TEST_F(ImportTemplates, DataFilesAreKnownEvenWhenOneIsNotOpen) {
    EXPECT_EQ(tpl.CreateFromText("format A\n file tst 1\n record 1\n field CUSTID\nformat B\n file APM 0\n record 1\n field X\n",
                                 "x.tpl", files),
              3);
    std::vector<ZQAbbr> abbrs;
    ASSERT_TRUE(tpl.GetZQAbbrs(abbrs));
    ASSERT_EQ(abbrs.size(), 2u);
    EXPECT_EQ(abbrs[1].abbr, "APM");
    EXPECT_EQ(abbrs[1].fileNo, 0);
    xvlImpTemplate bad;
    EXPECT_NE(bad.CreateFromText("nonsense", "x.tpl", files), 0);
    EXPECT_FALSE(bad.GetZQAbbrs(abbrs));
}

TEST_F(ImportTemplates, FromFileAndVersionOnly) {
    const fs::path p = dir / "xvtst.tpl";
    WriteFile(p, "version ALLOW  TOTALS\r\nformat C\r\n file TST 1\r\n record 1\r\n field CUSTID\r\n");
    std::string v;
    ASSERT_EQ(xvlImpTemplate::xvlImpTemplateVersion(p, v), 0);
    EXPECT_EQ(v, "ALLOW  TOTALS") << "the text as written";
    ASSERT_EQ(tpl.xvlImpTemplateCreate(p, files), 0) << tpl.ErrorText();
    EXPECT_EQ(tpl.Name(), p.string());
    EXPECT_NE(tpl.xvlImpTemplateCreate(dir / "missing.tpl", files), 0);
    EXPECT_NE(tpl.ErrorText().find("the template file cannot be read"), std::string::npos);
    EXPECT_EQ(xvlImpTemplate::xvlImpTemplateVersion(dir / "missing.tpl", v), 1);
}

TEST_F(ImportTemplates, ShippedExampleTemplatesAreValid) {
    // The worked example of data/templates/README.md, against the test dictionary's file.
    const fs::path p = fs::path(DZ_TEST_DATA_DIR) / "import" / "templates" / "xvtst.tpl";
    ASSERT_EQ(tpl.xvlImpTemplateCreate(p, files), 0) << tpl.ErrorText();
    EXPECT_NE(tpl.FindFormat("C"), nullptr);
}

TEST_F(ImportTemplates, TheUserGuidesWorkedExampleParses) {
    // The worked example of data/templates/README.md: its template parses (the GL master file is
    // not open here, so binding stops there), and its lines have the columns of their formats.
    const std::string guide = ReadFile(fs::path(DZ_SOURCE_DATA_DIR) / "templates" / "README.md");
    auto block = [&](const std::string& after) {
        const std::size_t at = guide.find(after);
        EXPECT_NE(at, std::string::npos) << after;
        const std::size_t b = guide.find("```\n", at) + 4;
        return guide.substr(b, guide.find("```", b) - b);
    };
    const std::string templateText = block("The template `xvglmacc.tpl`");
    const std::string textFile = block("The text file `accounts.txt`:");
    EXPECT_EQ(tpl.CreateFromText(templateText, "xvglmacc.tpl", files), 3) << tpl.ErrorText();
    EXPECT_NE(tpl.ErrorText().find("the data file GLM number 1 is not open"), std::string::npos) << tpl.ErrorText();
    std::vector<ZQAbbr> abbrs;
    ASSERT_TRUE(tpl.GetZQAbbrs(abbrs));
    std::istringstream lines(textFile);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("#,GLM,xvglmacc", 0), 0u);
    int records = 0;
    while (std::getline(lines, line)) {
        std::vector<std::string> cols;
        std::size_t bad = 0;
        ASSERT_TRUE(SplitColumns(line, cols, bad)) << line;
        const TemplateFormat* f = tpl.FindFormat(cols[0]);
        ASSERT_NE(f, nullptr) << line;
        EXPECT_EQ(cols.size(), f->columns.size() + 1) << line;
        ++records;
    }
    EXPECT_EQ(records, 8);
}
