// The AP invoice converter's in-process fixture: a company with GL, CM and AP, the AP invoice
// files created empty, the shipped template, and a run of one text file in either task.
#pragma once

#include "test_convert_support.h"

#include "convert/progress.h"
#include "convert/record_fields.h"
#include "convert/texts.h"
#include "converters/ap/xvapi.h"
#include "modules/module_dlls.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_template.h"
#include "platform/suite/xd.h"
#include "platform/suite/zc.h"
#include "platform/ui/framework.h"
#include "platform/ui/print.h"

#include <gmock/gmock.h>

namespace dz::ap::testing {

using namespace dz::convert::testing;
using convert::ConversionOptions;
using convert::ConvertProgress;
using convert::TextFileEntry;

// One invoice with a distribution paid by check 501, then the check.
inline const char* kPaidInvoice =
    "1,V1,I1,Rent,11/02/26,11/02/26,,,11/02/26,100.00,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,\r\n"
    "2,V1,I1,1,Rent,100.00,,,,,,01-1-10-6000-00,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,\r\n"
    "6,V1,I1,OPERATING,501,1,,100.00,,,,,,,,,,,,,,,12/01/26,1,,\r\n"
    "4,OPERATING,501,12/01/26,,100.00,V1,1,,,,,,,,,,,,,,,,,\r\n";

class ApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(xio_load_dictionaries(dz::data_folder() / "dictionary", error)) << error;
        convert::ForgetFieldNumbers();
        OpenCompany({"GL", "CM", "AP"});
        suite::xd_set_clock(suite::xd_fixed_clock({suite::zqDate(12, 6, 2026), {14, 30, 0}}));
        modules::LoadModuleDlls();
        for (const char* name : {"MASTER.APM", "CURRENT.APT", "MASTER.CMM", "CURRENT.CMT", "MASTER.TXM", "MASTER.GLM",
                                 "NEW.API"}) {
            const std::string file(name);
            ASSERT_EQ(xio_create_file(file.substr(file.size() - 3), 1, company.path() / file), XIO_OK) << name;
        }
        fs::create_directories(appData.path() / "ACCOUNTING" / "TEMPLATE");
        fs::copy_file(dz::data_folder() / "templates" / "xvapi.tpl",
                      appData.path() / "ACCOUNTING" / "TEMPLATE" / "xvapi.tpl");
        convert::SetApplicationDataFolder(appData.str());
        uint16_t error16 = 0;
        xvAPI opener;
        ASSERT_TRUE(opener.OpenFiles(list, 3020, error16)) << error16;
    }

    void TearDown() override {
        CloseAll();
        modules::ReleaseModuleDlls();
        convert::SetApplicationDataFolder("");
        suite::xd_set_clock({});
        suite::close_company();
        ui::reset_printing();
        PaymentNumberCache::Program().DropFile();
    }

    void OpenCompany(const std::set<std::string>& modules) {
        auto settings = suite::default_settings(modules);
        settings.installed = modules;
        settings.operator_name = "Ann Lee";
        suite::write_settings(company.path() / suite::kSettingsFileName, settings);
        suite::open_company(company.path());
    }

    void CloseAll() {
        for (auto& e : list)
            if (e.handle) xio_cls_file(e.handle), e.handle = 0;
        list.clear();
    }

    uint16_t Apm() const { return convert::FindFileHandle(list, "APM", 1); }

    // The OPERATING bank with its last check, vendor V1, and the GL accounts invoices of the tests
    // name (expense, payable, cash, intercompany payable and receivable).
    void SeedReferences() {
        Seed("CMM", 1, {{"BANKACC", "OPERATING"}, {"BGENCSH", "01110100000"}});
        Seed("CMM", 5, {{"LTBNKAC", "OPERATING"}});
        Seed("APM", 9, {{"VENDOR", "V1"}, {"VNAME", "Vendor one"}, {"VTYPE", "1"}});
        for (const char* account : {"01110600000", "01110200000", "01110100000", "01110210000", "01110120000"})
            Seed("GLM", 1, {{"AACCT", account}});
    }

    // Writes a record of the run's file `abbr` (committed), its fields by name.
    void Seed(const std::string& abbr, uint16_t rec, const std::vector<std::pair<std::string, std::string>>& fields) {
        const uint16_t h = convert::FindFileHandle(list, abbr, 1);
        xio_init_record(h, rec);
        for (const auto& [name, value] : fields) PutByName(h, rec, name, value);
        ASSERT_EQ(xio_wr_record(h, rec), XIO_OK) << abbr;
        ASSERT_EQ(xio_commit(h), XIO_OK);
    }

    double Header1(const char* field) {
        EXPECT_EQ(xio_rd_header(Apm(), 1, 0), XIO_OK);
        const double v = convert::GetNumber(Apm(), convert::HeaderFieldNo(Apm(), 1, field));
        xio_free_header(Apm(), 1);
        return v;
    }

    std::string WriteText(const std::string& name, const std::string& body, const std::string& tpl = "xvapi") {
        const std::string path = texts.str(name);
        WriteFile(path, "#,API," + tpl + "\r\n" + body);
        return path;
    }

    std::string Run(const std::string& path, const std::string& taskName, xvAPI& converter,
                    ConvertProgress* progress = nullptr, ConversionOptions* options = nullptr) {
        ui::zqTask task(taskName, 15, taskName == "Convert" ? 3020 : 3010, 5);
        const std::string reportPath = company.str("report.txt");
        const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, reportPath);
        converter.ConvertFile(list, TextFileEntry{path, 402}, progress, print, task, "", options);
        ui::zp_cls_print_file(task.ID(), 201);
        ui::xp_close_print(print);
        return ReadFile(reportPath);
    }

    ScratchDir company, texts, appData;
    convert::OpenFilesList list;
    RecordingUi ui;
};

// A scripted front end: the operator stops at the n-th record the converter is handed (counted
// over both passes); the pass and progress shown at each record are kept.
class ScriptedApi : public xvAPI {
public:
    int stopAt = 0;
    std::vector<std::string> seen;  // "<status text> <percent>"

protected:
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override {
        if (ctx.progress) {
            seen.push_back(ctx.progress->status_text + " " + std::to_string(ctx.progress->file_percent));
            if (static_cast<int>(seen.size()) == stopAt) ctx.progress->stop = 1;
        }
        return xvAPI::DispatchRecord(ctx, info, reason);
    }
};

}  // namespace dz::ap::testing
