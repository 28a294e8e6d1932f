// The services every PM converter shares: settings, labels, custom lists, lookups that give back
// the stored key, sequence numbering and the progress of the passes after the record loop.
#include "pm_fixture.h"

#include "convert/convert_file.h"
#include "convert/progress.h"
#include "convert/reports.h"
#include "convert/texts.h"
#include "converters/pm/pm_shared.h"
#include "platform/suite/xk.h"
#include "platform/ui/framework.h"
#include "platform/ui/print.h"

#include <cstring>
#include <string>
#include <vector>

namespace dz::pm::testing {

using namespace convert;
namespace {

class PmShared : public PmFixture {
protected:
    void Adjust(suite::CompanySettings& s) override {
        s.lists.erase(420);                                                   // no list at all
        s.lists[424] = {"Liability", {}};                                     // one entry
        s.lists[418] = {"Retail", {"Retail", "Office", "Industrial"}};         // a default and three values
        s.accounting_method = method;
        s.descriptions[400] = "building";  // terms as the company spells them
        s.descriptions[401] = "suite";
    }
    int method = 3;

    // The record-ID text of record `rec` with the given keys, as the record loop keeps it.
    std::string IdText(const std::string& abbr, uint16_t rec, const FieldValues& keys) {
        const uint16_t h = H(abbr);
        xio_init_record(h, rec);
        for (const auto& [name, text] : keys) {
            xio_fld_def def;
            const uint16_t f = xio_num(h, XIO_NUM_RECORD, rec, name);
            xio_get_fld_def(h, f, def);
            if (xio_is_text_type(def.type))
                PutText(h, f, text);
            else
                PutNumber(h, f, std::atof(text.c_str()));
        }
        std::string id;
        convert::RecordIdText(h, id, rec);
        return id;
    }

    // Stages an insurance record of `prop` asking for the next number; answers the result.
    bool NextInsurance(const std::string& prop, bool converting, const RecordIdMap* ids, double& number) {
        const uint16_t pmp = H("PMP");
        xio_init_record(pmp, 15);
        PutText(pmp, 15, "PIPROP", prop);
        PutText(pmp, 15, "PIINSTY", "Liability");
        return NextSequenceNumber(pmp, 15, {"PIPROP"}, "PISEQ", LookupScope{ids, converting}, number);
    }
    void Insurance(const std::string& prop, int seq) {
        Put("PMP", 15, {{"PIPROP", prop}, {"PISEQ", std::to_string(seq)}});
    }
};

TEST_F(PmShared, NumberingFindsTheLastNumberOfTheGroupOnFile) {
    double n = 0;
    ASSERT_TRUE(NextInsurance("P1", true, nullptr, n));
    EXPECT_EQ(n, 1);  // nothing on file
    for (int i = 1; i <= 4; ++i) Insurance("P1", i);
    Insurance("P0", 7);
    ASSERT_TRUE(NextInsurance("p1", true, nullptr, n));
    EXPECT_EQ(n, 5);  // the group compares without regard to case
    // The staged record keeps its own fields and its property as typed, with the number.
    const uint16_t pmp = H("PMP");
    EXPECT_EQ(GetText(pmp, 15, "PIINSTY"), "Liability");
    EXPECT_EQ(GetText(pmp, 15, "PIPROP"), "p1");
    EXPECT_EQ(GetNumber(pmp, 15, "PISEQ"), 5);
    // The last property in key order: nothing after it, the record before belongs to another.
    ASSERT_TRUE(NextInsurance("P9", true, nullptr, n));
    EXPECT_EQ(n, 1);
    // A property before every other one.
    ASSERT_TRUE(NextInsurance("A0", true, nullptr, n));
    EXPECT_EQ(n, 1);
    ASSERT_TRUE(NextInsurance("P0", true, nullptr, n));
    EXPECT_EQ(n, 8);
}

TEST_F(PmShared, NumberingAfter999StartsAgainAndConvertRefusesANumberOnFile) {
    Insurance("P1", 999);
    double n = 0;
    ASSERT_TRUE(NextInsurance("P1", true, nullptr, n));
    EXPECT_EQ(n, 1);
    Insurance("P1", 1);
    EXPECT_FALSE(NextInsurance("P1", true, nullptr, n));  // 1 is taken: the caller rejects
    EXPECT_EQ(n, 1);
    EXPECT_EQ(GetNumber(H("PMP"), 15, "PISEQ"), 1);
}

TEST_F(PmShared, ExamineNumbersPastRecordsMetEarlierAndRefuses1000) {
    Insurance("P1", 2);
    RecordIdMap ids;
    for (int i = 3; i <= 5; ++i) ids.emplace(IdText("PMP", 15, {{"PIPROP", "P1"}, {"PISEQ", std::to_string(i)}}), 0);
    double n = 0;
    ASSERT_TRUE(NextInsurance("P1", false, &ids, n));
    EXPECT_EQ(n, 6);
    // Convert does not look at the map: 3 is free on file.
    ASSERT_TRUE(NextInsurance("P1", true, &ids, n));
    EXPECT_EQ(n, 3);
    // Every number up to 999 met earlier: the walk reaches 1000, which no record may have.
    for (int i = 6; i <= 999; ++i) ids.emplace(IdText("PMP", 15, {{"PIPROP", "P1"}, {"PISEQ", std::to_string(i)}}), 0);
    EXPECT_FALSE(NextInsurance("P1", false, &ids, n));
    EXPECT_EQ(n, 1000);
}

TEST_F(PmShared, NumberingGroupsByEveryFieldBeforeTheNumber) {
    Put("PMP", 12, {{"PPPROP", "P1"}, {"PPTYPE", "1"}, {"PPNUM", "3"}, {"PPTEXT", "Keys"}});
    Put("PMP", 12, {{"PPPROP", "P1"}, {"PPTYPE", "2"}, {"PPNUM", "8"}, {"PPTEXT", "Meter"}});
    const uint16_t pmp = H("PMP");
    double n = 0;
    for (auto [type, expect] : {std::pair{1, 4}, {2, 9}, {3, 1}}) {
        xio_init_record(pmp, 12);
        PutText(pmp, 12, "PPPROP", "P1");
        PutNumber(pmp, 12, "PPTYPE", type);
        ASSERT_TRUE(NextSequenceNumber(pmp, 12, {"PPPROP", "PPTYPE"}, "PPNUM", LookupScope{nullptr, true}, n));
        EXPECT_EQ(n, expect) << type;
    }
}

TEST_F(PmShared, LookupsGiveTheStoredSpellingAndNeverFindABlankKey) {
    Property("P1", "11233");
    Unit("P1", "U1");
    Tenant("Acme");
    Lease("L100", 2, "P1", "U1", "Acme");
    ChargeType("RENT");
    Bank("FIRST");
    GlAccount("11233400010");
    BaseAccount("4000");
    GlPrefix("11233");
    const LookupScope convert{nullptr, true};

    Found f = FindProperty(H("PMP"), "p1", convert);
    EXPECT_EQ(f.where, Found::OnFile);
    EXPECT_EQ(f.stored, (std::vector<std::string>{"P1"}));
    EXPECT_EQ(FindUnit(H("PMP"), "p1", "u1", convert).stored, (std::vector<std::string>{"P1", "U1"}));
    EXPECT_EQ(FindTenant(H("PMN"), "ACME", convert).stored.at(0), "Acme");
    f = FindLease(H("PML"), "l100", 2, convert);
    EXPECT_TRUE(f);
    EXPECT_EQ(f.stored.at(0), "L100");
    EXPECT_FALSE(FindLease(H("PML"), "L100", 1, convert));  // another revision
    EXPECT_EQ(FindChargeType(H("PMS"), "rent", convert).stored.at(0), "RENT");
    EXPECT_EQ(FindBank(H("CMM"), "first", convert).stored.at(0), "FIRST");
    EXPECT_TRUE(FindGlAccount(H("GLM"), "11233400010", convert));
    EXPECT_TRUE(FindBaseAccount(H("GLM"), "4000", convert));
    EXPECT_TRUE(FindGlPrefix(H("GLM"), "11233", convert));  // three prefix levels: prefix ABC
    EXPECT_FALSE(FindGlPrefix(H("GLM"), "11", convert));

    // A blank key is not found, and a miss keeps the value as given.
    EXPECT_FALSE(FindProperty(H("PMP"), "", convert));
    f = FindUnit(H("PMP"), "P1", "u9", convert);
    EXPECT_EQ(f.where, Found::Missing);
    EXPECT_EQ(f.stored, (std::vector<std::string>{"P1", "u9"}));
}

TEST_F(PmShared, ExamineCountsRecordsMetEarlierInTheTextFileWithTheirValue) {
    RecordIdMap ids;
    ids.emplace(IdText("PMP", 1, {{"PROP", "P7"}}), 21);
    ids.emplace(IdText("PML", 1, {{"LEASE", "L7"}, {"LREV", "0"}}), 3);
    Found f = FindProperty(H("PMP"), "p7", LookupScope{&ids, false});
    EXPECT_EQ(f.where, Found::EarlierInText);
    EXPECT_EQ(f.value, 21);
    EXPECT_EQ(f.stored.at(0), "p7");  // not on file: nothing to copy back
    EXPECT_EQ(FindLease(H("PML"), "L7", 0, LookupScope{&ids, false}).value, 3);
    // Convert finds records on file only.
    EXPECT_FALSE(FindProperty(H("PMP"), "P7", LookupScope{&ids, true}));
}

TEST_F(PmShared, MessagesNameTheTermsAndShowValuesAsThePartsPrintThem) {
    EXPECT_EQ(PropertyMissingText(12412, "P1"), "Building 'P1' does not yet exist(939)");
    // The property term capitalised, the unit term as the company spells it.
    EXPECT_EQ(UnitMissingText(12434, "P1", "U1"), "Building suite 'P1, U1' does not yet exist(966)");
    EXPECT_EQ(TenantMissingText(12449, "T1"), "Tenant 'T1' does not yet exist(1105)");
    EXPECT_EQ(LeaseMissingText(12859, "A100", 0), "Lease, Revision 'A100(0)' does not yet exist(1820)");
    EXPECT_EQ(TermLabel(kUnitTerm, true, true), "Suites");
    EXPECT_EQ(TermLabel(kChargeTypeTerm, false), "Charge type");
    EXPECT_EQ(FieldLabel(H("PMP"), 1, "PGLPFX"), "GL prefix");
    const uint16_t pml = H("PML");
    EXPECT_EQ(ChoiceValueText(pml, FieldNo(pml, 1, "LSTATUS"), 2), "Canceled (2)");
    EXPECT_EQ(ChoiceValueText(pml, FieldNo(pml, 11, "LLFREQ1"), 3), "Every (3)");
    EXPECT_EQ(Millionths(95500000), "95.500000");
    EXPECT_EQ(WholeText(12), "12");
    EXPECT_EQ(DateText(x_date_type{}), "");
    EXPECT_EQ(ModeWord("was/will be", false), "will be");
    EXPECT_EQ(GlText("4000", 7), "4000");
}

// Field numbers are kept by the address of the name: a name in a buffer that later holds
// another name must give the other field's number.
TEST_F(PmShared, FieldNumbersFollowANameChangedAtTheSameAddress) {
    const uint16_t pmp = H("PMP");
    char name[16] = "PNAME";
    const uint16_t first = FieldNo(pmp, 1, name);
    ASSERT_EQ(first, FieldNo(pmp, 1, "PNAME"));
    std::strcpy(name, "PUNIT");
    EXPECT_EQ(FieldNo(pmp, 1, name), FieldNo(pmp, 1, "PUNIT"));
    EXPECT_NE(FieldNo(pmp, 1, name), first);
}

TEST_F(PmShared, BlankFieldsByType) {
    const uint16_t pmp = H("PMP");
    xio_init_record(pmp, 1);
    for (const char* f : {"PNAME", "PPEREND", "PUNIT", "PTRAKVL"}) EXPECT_TRUE(IsBlankField(pmp, FieldNo(pmp, 1, f))) << f;
    PutText(pmp, 1, "PNAME", "x");
    PutDate(pmp, 1, "PPEREND", suite::zqDate(1, 31, 2026));
    PutNumber(pmp, 1, "PUNIT", 2);
    PutFlag(pmp, 1, "PTRAKVL", 1);
    for (const char* f : {"PNAME", "PPEREND", "PUNIT", "PTRAKVL"}) EXPECT_FALSE(IsBlankField(pmp, FieldNo(pmp, 1, f))) << f;
    // A choice field starts at its default item, which is not blank.
    EXPECT_FALSE(IsBlankField(pmp, FieldNo(pmp, 1, "PPAYTYP")));
}

TEST_F(PmShared, CustomListsOfNoneOneAndSeveralEntries) {
    convert::NotesReport notes(0, company.str("t.txt"), 3020, true);
    CustomList none, one, three;
    none.Load(420);
    one.Load(424);
    three.Load(418);
    EXPECT_TRUE(none.values.empty());
    EXPECT_FALSE(none.CheckExact("", notes, 3));  // every value of a missing list is noted, blank too
    EXPECT_EQ(one.values, (std::vector<std::string>{"Liability"}));  // a single entry stays
    EXPECT_EQ(one.first, "Liability");
    EXPECT_EQ(three.values, (std::vector<std::string>{"Retail", "Office", "Industrial"}));
    EXPECT_EQ(three.first, "Retail");
    std::string v = "OFFICE";
    EXPECT_TRUE(three.Spelling(v));
    EXPECT_EQ(v, "Office");
    v = "Warehouse";
    EXPECT_FALSE(three.Spelling(v));
    EXPECT_EQ(v, "Warehouse");
    EXPECT_TRUE(three.CheckExact("Office", notes, 4));
    EXPECT_FALSE(three.CheckExact("office", notes, 5));  // the exact test keeps letter case
}

TEST_F(PmShared, ClosingNotesStartWithOneEmptyLineAndNameNoRecord) {
    const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::Spool);
    ASSERT_NE(print, 0);
    {
        convert::NotesReport notes(print, "t.txt", 3020, true);
        ClosingNotes closing(notes);
        EXPECT_FALSE(closing.Started());
        ASSERT_TRUE(closing.Add("Note: duplicate records like 'M1'"));
        ASSERT_TRUE(closing.Add("Second"));
        EXPECT_TRUE(closing.Started());
        // A missing-list note keeps the value and its line for the closing section.
        CustomList types;
        types.Load(418);
        EXPECT_FALSE(types.CheckExact("Warehouse", notes, 7));  // shown as line 8 of the stamped file
        ASSERT_TRUE(notes.PrintMissingCustomListValues(nullptr));
        ASSERT_TRUE(notes.Print());
    }
    const auto& lines = *ui::xp_lines(print);
    std::vector<std::string> body;
    bool afterHeading = false;
    for (const auto& l : lines) {
        if (afterHeading) body.push_back(l);
        if (l.find("Record ID") != std::string::npos) afterHeading = true;
    }
    std::size_t first = 0;
    while (first < body.size() && body[first].find_first_not_of(' ') == std::string::npos) ++first;
    ASSERT_EQ(first, 1u);  // one empty line before the first note
    ASSERT_LT(first + 1, body.size());
    EXPECT_EQ(body[first].find_first_not_of(' '), 22u) << body[first];  // no record name or line
    EXPECT_NE(body[first].find("like 'M1'"), std::string::npos) << body[first];
    EXPECT_EQ(body[first + 1].substr(22), "Second");
    bool noted = false;
    for (const auto& l : body) noted = noted || l.find("Warehouse(8)") != std::string::npos;
    EXPECT_TRUE(noted);
    ui::xp_close_print(print);
}

TEST_F(PmShared, SettingsTaxControlDefaultsToNo) {
    const uint16_t pms = H("PMS");
    EXPECT_FALSE(PmUsingTax(pms));
    ASSERT_EQ(xio_rd_header(pms, 2, 1), XIO_OK);
    PutFlag(pms, HeaderFieldNo(pms, 2, "TAXCTRL"), 1);
    ASSERT_EQ(xio_wr_header(pms, 2), XIO_OK);
    EXPECT_TRUE(PmUsingTax(pms));
    EXPECT_EQ(PmAccountingMethod(), 3);
    EXPECT_TRUE(UsesAccrualAccounts(3) && UsesCashAccounts(3));
    EXPECT_FALSE(UsesAccrualAccounts(2));
    EXPECT_FALSE(UsesCashAccounts(1));
}

class PmCashCompany : public PmShared {
protected:
    void Adjust(suite::CompanySettings& s) override {
        method = 2;
        PmShared::Adjust(s);
    }
};

TEST_F(PmCashCompany, AccountingMethodIsTheCompanysWord) { EXPECT_EQ(PmAccountingMethod(), 2); }

// A converter of PM property records whose finishing pass writes one property charge per item.
class PassConverter : public PmConverter {
public:
    bool OpenFiles(convert::OpenFilesList&, uint16_t, uint16_t&) override { return true; }
    void ConvertFile(convert::OpenFilesList& list, const convert::TextFileEntry& entry, convert::ConvertProgress* progress,
                     int printDef, ui::zqTask& task, const std::string& tableName,
                     convert::ConversionOptions* options) override {
        convert::ConvertContext ctx(list, entry, progress, printDef, task, tableName, options);
        convert::ConverterProfile profile;
        profile.abbreviation = "PMP";
        profile.title = "PM Property file";
        profile.description = "PM Property file";
        profile.convertingText = "Converting '%s'";
        profile.examiningText = "Examining '%s'";
        profile.dataFiles = {{"PMP", 1, "PM Property file"}, {"PMS", 1, "PM System file"}};
        RunConvertFile(ctx, profile);
        ended = ctx.ended;
    }
    void PrefillTables(convert::OpenFilesList&, const convert::TextFileEntry&, convert::ConvertProgress*, ui::zqTask&,
                       void*) override {}

    int items = 40;
    int stopAt = 0;  // the operator asks to stop while this item is handled (0: never)
    int handled = 0;
    bool finished = false, ended = false;

protected:
    bool DispatchRecord(convert::ConvertContext&, xvl::xvlImpInfo&, std::string&) override { return true; }
    bool FinishConversion(convert::ConvertContext& ctx) override {
        const uint16_t pmp = convert::FindFileHandle(ctx.files, "PMP", 1);
        const uint16_t pms = convert::FindFileHandle(ctx.files, "PMS", 1);
        xio_init_record(pms, 1);
        PutText(pms, 1, "CT", "PASS");
        EXPECT_EQ(xio_wr_record(pms, 1), XIO_OK);
        PassProgress progress(*this, ctx, static_cast<std::size_t>(items), "Creating default charge recs:",
                              "Creating default charge records:", false);
        for (int i = 1; i <= items; ++i) {
            xio_init_record(pmp, 5);
            PutText(pmp, 5, "PCPROP", "P" + std::to_string(i));
            PutText(pmp, 5, "PCCT", "<default>");
            EXPECT_EQ(xio_wr_record(pmp, 5), XIO_OK);
            ++handled;
            if (i == stopAt && ctx.progress) ctx.progress->stop = 1;
            if (!progress.Step()) return false;
        }
        if (!FinishPasses(ctx, "Finishing PMP processing")) return false;
        finished = true;
        return true;
    }
};

class PmFinishingPass : public PmShared {
protected:
    std::string Run(PassConverter& converter, const std::string& text) {
        ui::zqTask task("Convert", 15, 3020, 5);
        const std::string reportPath = company.str("report.txt");
        const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, reportPath);
        converter.ConvertFile(list, convert::TextFileEntry{text, 101}, &progress, print, task, "", nullptr);
        ui::zp_cls_print_file(task.ID(), 201);
        ui::xp_close_print(print);
        return ReadFile(reportPath);
    }
    std::string TextFile() {
        WriteFile(company.path() / "pass.tpl", "format 1\nfile PMP 1\nrecord 1\npermissions 2\nfield PROP\n");
        const std::string path = company.str("pass.txt");
        WriteFile(path, "#,PMP," + company.str("pass.tpl") + "\r\n");
        return path;
    }
    static int Count(const std::string& text, const std::string& what) {
        int n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }
    convert::ConvertProgress progress;
};

TEST_F(PmFinishingPass, AStopRestoresEveryBackedUpFileAndStampsNothing) {
    Property("P1");
    ChargeType("RENT");
    for (auto& e : list)
        if (e.handle) {
            ASSERT_EQ(xio_commit(e.handle), XIO_OK);
        }
    const std::string pmpBefore = ReadFile(company.path() / "MASTER.PMP");
    const std::string pmsBefore = ReadFile(company.path() / "MASTER.PMS");
    const std::string text = TextFile();
    const std::string textBefore = ReadFile(text);

    PassConverter converter;
    converter.stopAt = 20;
    const std::string report = Run(converter, text);
    EXPECT_EQ(converter.handled, 30);  // progress is shown after every 15th item: the stop is seen at 30
    EXPECT_FALSE(converter.finished);
    EXPECT_TRUE(converter.ended);
    EXPECT_EQ(Count(report, "Conversion canceled by operator"), 1) << report;
    EXPECT_EQ(progress.status_text, "Creating default charge recs:");
    EXPECT_EQ(ReadFile(text), textBefore);  // not stamped
    // Both written files are as they were, byte for byte.
    for (auto& e : list)
        if (e.handle) {
            ASSERT_EQ(xio_commit(e.handle), XIO_OK);
        }
    EXPECT_EQ(ReadFile(company.path() / "MASTER.PMP"), pmpBefore);
    EXPECT_EQ(ReadFile(company.path() / "MASTER.PMS"), pmsBefore);
}

TEST_F(PmFinishingPass, AStopAfterTheLastProgressStepIsSeenWhenThePassesEnd) {
    const std::string text = TextFile();
    const std::string textBefore = ReadFile(text);
    PassConverter converter;
    converter.stopAt = 35;
    const std::string report = Run(converter, text);
    EXPECT_EQ(converter.handled, 40);
    EXPECT_FALSE(converter.finished);
    EXPECT_EQ(Count(report, "Conversion canceled by operator"), 1) << report;
    EXPECT_EQ(ReadFile(text), textBefore);
    const uint16_t pmp = H("PMP");
    xio_init_record(pmp, 5);
    PutText(pmp, 5, "PCPROP", "P1");
    PutText(pmp, 5, "PCCT", "<default>");
    EXPECT_NE(xio_rd_record(pmp, 5, 0, 0), XIO_OK);  // restored: the pass's records are gone
}

TEST_F(PmFinishingPass, PropertyTaxUserFieldsNeedTheTaxIdOfTheirTaxRecord) {
    WriteFile(company.path() / "tax.tpl",
              "format T\nfile PMP 1\nrecord 13\npermissions 2\nfield PTPROP\nfield PTTXID\nfield PTYEAR\n\n"
              "format TU\nfile PMP 1\nrecord 13\nuserfields 32\nfield PTPROP\nfield PTTXID\nfield PTYEAR\n"
              "special \"cust fld name\" text\nspecial \"cust fld value\" text\n");
    const std::string path = company.str("tax.txt");
    WriteFile(path, "#,PMP," + company.str("tax.tpl") +
                        "\r\nT,P1,TX1,2026\r\nT,P2,,2026\r\nTU,P1,TX1,2026,UDTEXT1,Assessed\r\nTU,P2,,2026,UDTEXT1,Blank\r\n");
    PassConverter converter;
    converter.items = 0;
    const std::string report = Run(converter, path);
    EXPECT_EQ(Count(report, "This Tax ID field is blank"), 1) << report;
    const uint16_t pmp = H("PMP");
    xio_init_record(pmp, 32);
    PutText(pmp, 32, "UPTPROP", "P1");
    PutText(pmp, 32, "UPTTXID", "TX1");
    PutNumber(pmp, 32, "UPTYEAR", 2026);
    ASSERT_EQ(xio_rd_record(pmp, 32, 0, 0), XIO_OK) << report;
    EXPECT_EQ(GetText(pmp, 32, "UDTEXT1"), "Assessed");
}

TEST_F(PmFinishingPass, WithoutAStopThePassesFinishAndTheFileIsStamped) {
    const std::string text = TextFile();
    PassConverter converter;
    const std::string report = Run(converter, text);
    EXPECT_TRUE(converter.finished);
    EXPECT_FALSE(converter.ended);
    EXPECT_EQ(converter.handled, 40);
    EXPECT_EQ(Count(report, "canceled"), 0) << report;
    EXPECT_EQ(progress.status_text, "");  // the status line is emptied after the passes
    EXPECT_NE(ReadFile(text).find("Previously Converted"), std::string::npos);
    const uint16_t pmp = H("PMP");
    xio_init_record(pmp, 5);
    PutText(pmp, 5, "PCPROP", "P40");
    PutText(pmp, 5, "PCCT", "<DEFAULT>");
    EXPECT_EQ(xio_rd_record(pmp, 5, 0, 0), XIO_OK);
    EXPECT_EQ(GetText(pmp, 5, "PCCT"), "<default>");
}

}  // namespace
}  // namespace dz::pm::testing
