// The AP vendor converter in process: the ends of a text file inside its record loop (an operator's
// stop in Convert and in Examine Files, notes that cannot print), the masters it finds or opens, and
// the old-value texts of listed amounts.
#include "test_convert_support.h"

#include "convert/progress.h"
#include "convert/record_fields.h"
#include "convert/texts.h"
#include "converters/ap/xvapm.h"
#include "modules/module_dlls.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"
#include "platform/suite/xd.h"
#include "platform/ui/framework.h"
#include "platform/ui/print.h"

#include <algorithm>

#include <gmock/gmock.h>
#include <vector>

namespace dz::ap {
namespace {

using namespace dz::convert::testing;
using convert::ConvertProgress;
using convert::TextFileEntry;

class ApmTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(xio_load_dictionaries(dz::data_folder() / "dictionary", error)) << error;
        convert::ForgetFieldNumbers();
        auto settings = suite::default_settings({"GL", "JC", "AP"});
        settings.name = "Northbridge Builders";
        settings.operator_name = "Ann Lee";
        suite::write_settings(company.path() / suite::kSettingsFileName, settings);
        suite::open_company(company.path());
        suite::xd_set_clock(suite::xd_fixed_clock({suite::zqDate(12, 6, 2026), {14, 30, 0}}));
        modules::LoadModuleDlls();
        for (const char* abbr : {"APM", "GLM", "JCM", "TXM"})
            ASSERT_EQ(xio_create_file(abbr, 1, company.path() / (std::string("MASTER.") + abbr)), XIO_OK);
        fs::create_directories(appData.path() / "ACCOUNTING" / "TEMPLATE");
        fs::copy_file(dz::data_folder() / "templates" / "xvapm.tpl",
                      appData.path() / "ACCOUNTING" / "TEMPLATE" / "xvapm.tpl");
        convert::SetApplicationDataFolder(appData.str());
        uint16_t error16 = 0;
        xvAPM opener;
        ASSERT_TRUE(opener.OpenFiles(list, 3020, error16));
    }

    void TearDown() override {
        for (auto& e : list)
            if (e.handle) xio_cls_file(e.handle), e.handle = 0;
        modules::ReleaseModuleDlls();
        convert::SetApplicationDataFolder("");
        suite::xd_set_clock({});
        suite::close_company();
        ui::reset_printing();
    }

    uint16_t Apm() const { return convert::FindFileHandle(list, "APM", 1); }

    std::string WriteText(const std::string& name, const std::string& body) {
        const std::string path = texts.str(name);
        WriteFile(path, "#,APM,xvapm\r\n" + body);
        return path;
    }

    std::string Run(const std::string& path, const std::string& taskName, xvAPM& converter,
                    ConvertProgress* progress = nullptr) {
        ui::zqTask task(taskName, 15, taskName == "Convert" ? 3020 : 3010, 5);
        const std::string reportPath = company.str("report.txt");
        const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, reportPath);
        converter.ConvertFile(list, TextFileEntry{path, 401}, progress, print, task, "", nullptr);
        ui::zp_cls_print_file(task.ID(), 201);
        ui::xp_close_print(print);
        return ReadFile(reportPath);
    }

    bool VendorOnFile(const std::string& vendor) {
        const uint16_t h = Apm();
        xio_init_record(h, kRecVendor);
        convert::PutText(h, kRecVendor, "VENDOR", vendor);
        return xio_find_record(h, kRecVendor, 0) == XIO_OK;
    }

    static bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

    ScratchDir company, texts, appData;
    convert::OpenFilesList list;
    RecordingUi ui;
};

// A vendor line of the shipped template (every vendor field, then the notes); `open` fills the
// open amount, which earns the line a message.
std::string Vendor(const std::string& id, bool open = false) {
    std::string line = "9," + id + ",Vendor " + id;
    for (int i = 2; i < 83; ++i) line += i == 55 && open ? ",5.00" : ",";
    return line + ",\r\n";
}

// A scripted front end: the operator stops after the third record; or the notes print file goes
// away after the first record printed its message (as a printer that failed).
class ScriptedApm : public xvAPM {
public:
    int stopAfter = 0;
    bool dropNotes = false;

protected:
    void RecordWritten(convert::ConvertContext& ctx, xvl::xvlImpInfo& info) override {
        xvAPM::RecordWritten(ctx, info);
        if (++seen == stopAfter && ctx.progress) ctx.progress->stop = 1;
        if (dropNotes && seen == 2) ui::zp_cls_print_file(ctx.commandId, 201);
    }

private:
    int seen = 0;
};

TEST_F(ApmTest, AStopRestoresTheFileInConvertAndEndsExamineWithItsOwnWords) {
    const std::string text = WriteText("stop.txt", Vendor("V1") + Vendor("V2") + Vendor("V3") + Vendor("V4"));
    const std::string before = ReadFile(text);
    ConvertProgress progress([] { return int64_t{0}; });
    ScriptedApm c;
    c.stopAfter = 3;
    std::string report = Run(text, "Convert", c, &progress);
    EXPECT_TRUE(Has(report, "Conversion canceled by operator")) << report;
    // The run's summary learns that the file ended early and was put back.
    EXPECT_EQ(progress.ended_why, "Conversion canceled by operator");
    EXPECT_EQ(progress.ended_restore, 0);
    EXPECT_TRUE(ui.boxes.empty());
    for (const char* v : {"V1", "V2", "V3", "V4"}) EXPECT_FALSE(VendorOnFile(v)) << v;
    EXPECT_EQ(ReadFile(text), before);

    ConvertProgress again([] { return int64_t{0}; });
    ScriptedApm e;
    e.stopAfter = 2;
    report = Run(text, "Examine Files", e, &again);
    EXPECT_TRUE(Has(report, "Examining files canceled by operator")) << report;
    EXPECT_TRUE(Has(report, "Processing is terminated for this file")) << report;
    EXPECT_EQ(ReadFile(text), before);

    // Without a stop the same file converts.
    xvAPM plain;
    ConvertProgress whole([] { return int64_t{0}; });
    Run(text, "Convert", plain, &whole);
    EXPECT_EQ(whole.ended_why, "");
    for (const char* v : {"V1", "V2", "V3", "V4"}) EXPECT_TRUE(VendorOnFile(v)) << v;
    EXPECT_NE(ReadFile(text), before);
}

// A stop far into a long file, where the vendors go in as a bulk load, restores the file too.
TEST_F(ApmTest, AStopFarIntoALongFileRestoresTheFile) {
    std::string lines;
    for (int n = 0; n < 6000; ++n) lines += Vendor("V" + std::to_string(100000 + n));
    const std::string text = WriteText("long.txt", lines);
    ConvertProgress progress([] { return int64_t{0}; });
    ScriptedApm c;
    c.stopAfter = 5500;
    const std::string report = Run(text, "Convert", c, &progress);
    EXPECT_TRUE(Has(report, "Conversion canceled by operator")) << report;
    for (const char* v : {"V100000", "V104500", "V105499"}) EXPECT_FALSE(VendorOnFile(v)) << v;
}

TEST_F(ApmTest, NotesThatCannotPrintRestoreTheFileAndLeaveTheTextUnstamped) {
    const std::string text = WriteText("noprint.txt", Vendor("V1", true) + Vendor("V2"));
    const std::string before = ReadFile(text);
    ScriptedApm c;
    c.dropNotes = true;
    const std::string report = Run(text, "Convert", c);
    EXPECT_TRUE(Has(report, "Unable to print warning/log messages")) << report;
    EXPECT_FALSE(VendorOnFile("V1"));
    EXPECT_EQ(ReadFile(text), before);
}

// A backup that cannot be made names the data file as the backup message does ("AP Master
// file"), while a file not open names the vendors ("AP Master file-vendors").
TEST_F(ApmTest, AFailedBackupNamesTheApMasterFile) {
    const std::string text = WriteText("backup.txt", Vendor("V1"));
    FailingCalls fail;
    fail.Fail(xio::FaultCall::StartWrites, 1, XIO_LOCKED, "APM");
    xvAPM c;
    const std::string report = Run(text, "Convert", c);
    EXPECT_THAT(report, ::testing::HasSubstr("Unable to backup AP Master file"));
    EXPECT_THAT(report, ::testing::Not(::testing::HasSubstr("backup AP Master file-vendors")));
    EXPECT_FALSE(VendorOnFile("V1"));
}

// A vendor look-up that fails is no answer: the prefix line is refused with 12011, not told
// that its vendor does not exist.
TEST_F(ApmTest, APrefixWhoseVendorCannotBeReadIsRefusedWithTheReadError) {
    xvAPM first;
    Run(WriteText("vendor.txt", Vendor("V1")), "Convert", first);
    ASSERT_TRUE(VendorOnFile("V1"));
    const std::string text = WriteText("prefix.txt", "10,01,V1,2,100.00,,,,,,\r\n");
    FailingCalls fail;
    fail.Fail(xio::FaultCall::FindRecord, 1, XIO_IO_ERROR, "APM");
    xvAPM c;
    const std::string report = Run(text, "Convert", c);
    EXPECT_TRUE(fail.Spent());
    EXPECT_THAT(report, ::testing::HasSubstr(" 10                2  Unable to read from or write to a Halvorsend data file"));
    EXPECT_THAT(report, ::testing::Not(::testing::HasSubstr("has not been set up")));
}

TEST_F(ApmTest, MastersOpenedHereAreClosedAndThoseOfTheListKept) {
    // GL from the run's list; JC and tax opened by the converter itself.
    uint16_t error = 0;
    xvAPM opener;
    ASSERT_TRUE(opener.OpenDataFile("GLM", 1, 0, 0, list, 3020, error, false));
    const uint16_t glm = convert::FindFileHandle(list, "GLM", 1);
    uint16_t jcm = 0;
    {
        xvAPM c;
        ASSERT_TRUE(c.LoadSettings(list, nullptr, nullptr));
        EXPECT_EQ(c.glMasterFile, glm);
        EXPECT_NE(c.jcMasterFile, 0);
        EXPECT_NE(c.taxMasterFile, 0);
        EXPECT_TRUE(c.interfacesGL);
        EXPECT_TRUE(c.interfacesJC);
        EXPECT_TRUE(c.categoriesUsed);
        EXPECT_EQ(c.country, 1);
        jcm = c.jcMasterFile;
    }
    // The listed GL master is still open; the JC master was closed with the converter.
    EXPECT_NE(xio_rd_first(glm, 1, 0, 0), XIO_BAD_CALL);
    EXPECT_EQ(xio_rd_first(jcm, 16, 0, 0), XIO_BAD_CALL);
}

bool CollectPrefill(const std::string& value, int16_t fieldId, int16_t section, const std::string&, void* ctx) {
    static_cast<std::vector<std::string>*>(ctx)->push_back(value + "/" + std::to_string(fieldId) + "/" +
                                                           std::to_string(section));
    return true;
}

TEST_F(ApmTest, PrefillHandsTheDebitAccountsToTheTableEditorsCallbackAndWritesNothing) {
    std::string line = Vendor("P1");
    line.replace(line.find("Vendor P1,") + 10, 0, ",,,,,,,,5100-00");  // VGLEXP is the eleventh field
    line.erase(line.rfind(",,,,,,,,"), 8);  // the line keeps its number of columns
    const std::string text = WriteText("pre.txt", line);
    const std::string before = ReadFile(text);
    std::vector<std::string> values;
    xvAPM converter;
    ConvertProgress progress([] { return int64_t{0}; });
    ui::zqTask task("Prefill", 15, 3010, 5);
    converter.PrefillTables(list, TextFileEntry{text, 401}, &progress, task, &values);
    EXPECT_TRUE(values.empty());  // without the table editor's callback nothing is prefilled
    xvAPM::prefillCallback = &CollectPrefill;
    converter.PrefillTables(list, TextFileEntry{text, 401}, &progress, task, &values);
    xvAPM::prefillCallback = nullptr;
    EXPECT_NE(std::find(values.begin(), values.end(), "5100-00/9/8"), values.end()) << ::testing::PrintToString(values);
    EXPECT_FALSE(VendorOnFile("P1"));
    EXPECT_EQ(ReadFile(text), before);
}

TEST_F(ApmTest, DebitAccountFormsStayTheSameAskedAgainAndPastWhatIsKept) {
    DebitAccounts accounts;
    auto same = [&](const std::string& value, bool valid, const std::string& raw) {
        const DebitAccounts::Form& form = accounts.Of(value);
        EXPECT_EQ(form.valid, valid) << value;
        EXPECT_EQ(form.raw, raw) << value;
    };
    same("5100-00", true, "510000");
    same("5100-00-77-999", false, "");
    same("5100-00", true, "510000");
    // Far more accounts than are kept: each is still answered for itself.
    for (int i = 1000; i < 6000; ++i) same(std::to_string(i) + "-00", true, std::to_string(i) + "00");
    same("5100-00-77-999", false, "");
    same("5999-00", true, "599900");
}

TEST_F(ApmTest, TheLastLookupAnswersForEachValueAndKeepsNoFailure) {
    uint16_t txm = 0;
    ASSERT_EQ(xio_open_file(company.path() / "MASTER.TXM", XIO_OPEN_READ_WRITE, txm), XIO_OK);
    list.push_back({"TXM", 1, txm});  // closed with the others
    ASSERT_EQ(xio_start_writes(txm), XIO_OK);
    xio_init_record(txm, 2);
    convert::PutText(txm, 2, "GROUP", "MEUSE");
    ASSERT_EQ(xio_wr_record(txm, 2), XIO_OK);
    ASSERT_EQ(xio_end_writes(txm), XIO_OK);

    LookupCache cache;
    LastLookup last;
    // The same value again, another one, and back: each answered for itself.
    for (const auto& [value, missing] : std::vector<std::pair<std::string, bool>>{
             {"MEUSE", false}, {"MEUSE", false}, {"NOTAX", true}, {"MEUSE", false}, {"NOTAX", true}})
        EXPECT_EQ(last.Missing(cache, txm, 2, "GROUP", value), missing) << value;
    // A look-up that fails (no file) is not an answer: the next one asks again.
    LastLookup fresh;
    LookupCache empty;
    EXPECT_FALSE(fresh.Missing(empty, 0, 2, "GROUP", "NOTAX"));
    EXPECT_TRUE(fresh.Missing(empty, txm, 2, "GROUP", "NOTAX"));
}

TEST(ApmListedAmounts, OneTwoOrThreeValuesAreJoinedAsTheMessagesShowThem) {
    const double values[] = {125, -50, 1000000};
    EXPECT_EQ(ListedAmounts(values, 0), "");
    EXPECT_EQ(ListedAmounts(values, 1), "1.25");
    EXPECT_EQ(ListedAmounts(values, 2), "1.25 and -0.50");
    EXPECT_EQ(ListedAmounts(values, 3), "1.25, -0.50, and 10000.00");
}

}  // namespace
}  // namespace dz::ap
