// The JC master file's in-process fixture: a company with GL, JC and AR, the JC, GL, tax and AR
// masters created and the JC master opened, the JC templates in the application-data folder, and a front end
// that records message boxes and can act whenever the program dispatches its messages.
#pragma once

#include "test_convert_support.h"

#include "convert/progress.h"
#include "convert/texts.h"
#include "convert/record_fields.h"
#include "converters/jc/xvjcm.h"
#include "modules/module_dlls.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"
#include "platform/ui/framework.h"
#include "platform/ui/print.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>

namespace dz::jc::testing {

using namespace dz::convert::testing;
using convert::ConvertProgress;
using convert::TextFileEntry;

class JcmTest : public ::testing::Test {
protected:
    // Settings to change before the company opens.
    virtual void Adjust(suite::CompanySettings&) {}

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(convert::testing::OpenTestCompany(company.path(), {"GL", "JC", "AR"},
                                                      [this](suite::CompanySettings& s) { Adjust(s); }, error))
            << error;
        for (const char* abbr : {"JCM", "GLM", "TXM", "ARM"})
            ASSERT_EQ(xio_create_file(abbr, 1, company.path() / (std::string("MASTER.") + abbr)), XIO_OK);
        fs::create_directories(appData.path() / "ACCOUNTING" / "TEMPLATE");
        for (const char* tpl : {"xvjcm.tpl", "xvjcs.tpl"})
            fs::copy_file(dz::data_folder() / "templates" / tpl, appData.path() / "ACCOUNTING" / "TEMPLATE" / tpl);
        convert::SetApplicationDataFolder(appData.str());
        uint16_t error16 = 0;
        xvJCM opener;
        ASSERT_TRUE(opener.OpenFiles(list, 3020, error16));
    }

    void TearDown() override {
        ui.onDispatch = nullptr;
        CloseAll();
        modules::ReleaseModuleDlls();
        convert::SetApplicationDataFolder("");
        suite::xd_set_clock({});
        suite::close_company();
        ui::reset_printing();
    }

    void CloseAll() {
        for (auto& e : list)
            if (e.handle) xio_cls_file(e.handle), e.handle = 0;
    }

    uint16_t Jcm() const { return convert::FindFileHandle(list, "JCM", 1); }

    std::string WriteText(const std::string& name, const std::string& body) {
        const std::string path = texts.str(name);
        WriteFile(path, "#,JCM,xvjcm\r\n" + body);
        return path;
    }

    // Examines or converts the text file (conversion type `type`) and answers the report.
    std::string Run(const std::string& path, const std::string& taskName, convert::xvConvert& converter,
                    ConvertProgress* progress = nullptr, const std::string& table = "", uint16_t type = 202) {
        ui::zqTask task(taskName, 15, taskName == "Convert" ? 3020 : 3010, 5);
        const std::string reportPath = company.str("report.txt");
        const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, reportPath);
        converter.ConvertFile(list, TextFileEntry{path, type}, progress, print, task, table, nullptr);
        ui::zp_cls_print_file(task.ID(), 201);
        ui::xp_close_print(print);
        return ReadFile(reportPath);
    }

    bool JobOnFile(const std::string& job) {
        const uint16_t h = Jcm();
        xio_init_record(h, kRecJob);
        convert::PutText(h, kRecJob, "JOB", job);
        return xio_find_record(h, kRecJob, 0) == XIO_OK;
    }

    // Writes a record of the JC master straight to the file: `texts` into text fields, `numbers`
    // into number, choice and flag fields.
    void Store(uint16_t rec, std::initializer_list<std::pair<const char*, std::string>> texts,
               std::initializer_list<std::pair<const char*, double>> numbers = {}) {
        const uint16_t h = Jcm();
        xio_init_record(h, rec);
        for (const auto& [name, value] : texts) convert::PutText(h, rec, name, value);
        for (const auto& [name, value] : numbers) convert::PutNumber(h, rec, name, value);
        ASSERT_EQ(xio_wr_record(h, rec), XIO_OK) << rec;
    }
    // Sets number fields of the JC settings (header 2).
    void Settings(std::initializer_list<std::pair<const char*, double>> numbers) {
        const uint16_t h = Jcm();
        ASSERT_EQ(xio_rd_header(h, kHdrSettings, 0), XIO_OK);
        for (const auto& [name, value] : numbers) convert::PutNumber(h, convert::HeaderFieldNo(h, kHdrSettings, name), value);
        ASSERT_EQ(xio_wr_header(h, kHdrSettings), XIO_OK);
    }
    // A number field of the record with primary key `keys` (NaN when it is not on file).
    double NumberOf(uint16_t rec, std::initializer_list<std::pair<const char*, std::string>> keys, const char* field) {
        const uint16_t h = Jcm();
        xio_init_record(h, rec);
        for (const auto& [name, value] : keys) convert::PutText(h, rec, name, value);
        if (xio_rd_record(h, rec, 0, 0) != XIO_OK) return std::nan("");
        return convert::GetNumber(h, rec, field);
    }
    // The JC master file's bytes, with everything the fixture wrote committed.
    std::string MasterBytes() {
        EXPECT_EQ(xio_commit(Jcm()), XIO_OK);
        return ReadFile(company.path() / "MASTER.JCM");
    }

    static bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

    // The recorder of message boxes, with an action run whenever the program dispatches its
    // messages (every progress update): a person who acts on what the window shows.
    struct ActingUi : RecordingUi {
        std::function<void()> onDispatch;
        void pump() override {
            if (onDispatch) onDispatch();
        }
    };

    ScratchDir company, texts, appData;
    convert::OpenFilesList list;
    ActingUi ui;
};

// Settings of the company for one test: custom list 369 replaced or removed, the JC-GL interface
// off.
class JcmTaxList : public JcmTest {
protected:
    void Adjust(suite::CompanySettings& s) override {
        if (list369) s.lists[369] = *list369;
        if (noList) s.lists.erase(369);
        if (!jcToGl) {
            auto& all = s.interfaces;
            all.erase(std::remove_if(all.begin(), all.end(), [](const auto& i) { return i.from == "JC" && i.to == "GL"; }),
                      all.end());
        }
    }
    std::optional<suite::CustomList> list369;
    bool noList = false;
    bool jcToGl = true;
};

// A job line of the shipped template: job, description and billing level; `hold` sets "On hold",
// which earns the line a message.
inline std::string Job(const std::string& job, bool hold = false) {
    return "1," + job + ",Job " + job + ",,,,,1,,,,,1,1,," + (hold ? "Y" : "") + ",,,1,,,,,,,,,,,,\r\n";
}
inline std::string Phase(const std::string& job, const std::string& phase) {
    return "3," + job + ",," + phase + ",Phase " + phase + ",,,,Y,,,,,,,,,,,,,\r\n";
}

}  // namespace dz::jc::testing
