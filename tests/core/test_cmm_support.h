// Shared fixture of the CM bank-account converter tests: a company with every module, the demo
// account format, a GL master file with a few cash accounts, an empty CM master file, the shipped
// and the tests' templates, a fixed clock and operator; helpers that run a text file through
// Convert or Examine Files and read what came out.
//
// A test that needs check formats gets the AP master file (its check formats are record 11,
// keyed by FNAME) and the PR system file (record 16, keyed by CFID), both of the shipped
// dictionaries.
#pragma once

#include "test_convert_support.h"

#include "convert/progress.h"
#include "convert/texts.h"
#include "converters/gl/glm_fields.h"
#include "converters/gl/xvcmm.h"
#include "converters/gl/xvglm.h"
#include "modules/module_dlls.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"
#include "platform/ui/framework.h"
#include "platform/ui/print.h"

#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>

namespace dz::gl::testing {

using namespace dz::convert::testing;
using convert::ConvertProgress;
using convert::OpenFilesList;
using convert::TextFileEntry;

inline const fs::path kCmmData = fs::path(DZ_TEST_DATA_DIR) / "cmm";

// A line of format `id` of the template `tpl`: the named columns filled, the others empty.
inline std::string CmLine(const fs::path& tpl, const std::string& id, const std::map<std::string, std::string>& values) {
    std::vector<std::string> columns;
    std::istringstream in(ReadFile(tpl));
    std::string line, current;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string kw, name;
        words >> kw >> name;
        if (kw == "format") current = name;
        if ((kw == "field" || kw == "special") && current == id) {
            if (name.front() == '"') name = line.substr(line.find('"') + 1, line.rfind('"') - line.find('"') - 1);
            columns.push_back(name);
        }
    }
    std::string out = id;
    std::size_t used = 0;
    for (const auto& c : columns) {
        const auto it = values.find(c);
        out += ",";
        if (it != values.end()) {
            out += it->second;
            ++used;
        }
    }
    EXPECT_EQ(used, values.size()) << "a column not in format " << id;
    return out + "\r\n";
}

class CmmTest : public ::testing::Test {
protected:
    // Settings to change before the company opens.
    virtual void Adjust(suite::CompanySettings&) {}
    // The AP master and PR system files, with their check formats.
    virtual bool WithCheckFormatFiles() const { return false; }
    virtual bool WithGlm() const { return true; }

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(xio_load_dictionaries(dz::data_folder() / "dictionary", error)) << error;
        ForgetFieldNumbers();
        auto settings = suite::default_settings({"GL", "JC", "CM", "AP", "PR", "PM", "AR"});
        settings.name = "Northbridge Builders";
        settings.operator_name = "Ann Lee";
        Adjust(settings);
        suite::write_settings(company.path() / suite::kSettingsFileName, settings);
        suite::open_company(company.path());
        suite::xd_set_clock(suite::xd_fixed_clock({suite::zqDate(12, 6, 2026), {14, 30, 0}}));
        modules::LoadModuleDlls();
        if (WithGlm()) {
            ASSERT_EQ(xio_create_file("GLM", 1, company.path() / "MASTER.GLM"), XIO_OK);
        }
        ASSERT_EQ(xio_create_file("CMM", 1, company.path() / "MASTER.CMM"), XIO_OK);
        if (WithCheckFormatFiles()) {
            ASSERT_EQ(xio_create_file("APM", 1, company.path() / "MASTER.APM"), XIO_OK);
            ASSERT_EQ(xio_create_file("PRS", 1, company.path() / "SYSTEM.PRS"), XIO_OK);
        }
        const fs::path templates = appData.path() / "ACCOUNTING" / "TEMPLATE";
        fs::create_directories(templates);
        fs::copy_file(dz::data_folder() / "templates" / "xvcmm.tpl", templates / "xvcmm.tpl");
        fs::copy_file(kCmmData / "xvcmmtest.tpl", templates / "xvcmmtest.tpl");
        convert::SetApplicationDataFolder(appData.str());
        uint16_t error16 = 0;
        xvCMM opener;
        ASSERT_TRUE(opener.OpenFiles(list, 3020, error16));
        if (WithGlm()) {
            xvGLM glOpener;
            ASSERT_TRUE(glOpener.OpenFiles(list, 3020, error16));
            // The cash accounts of the tests: three accounts and two base accounts.
            for (const char* a : {"01-1-10-1000-00", "01-1-20-1000-00", "01-2-10-1000-00"}) Seed(kRecAccount, "AACCT", a);
            for (const char* b : {"1000-00", "1010-00"}) Seed(kRecBaseAccount, "BSBASE", b, suite::kGlBaseAccount);
        }
    }

    void TearDown() override {
        for (auto& e : list)
            if (e.handle) xio_cls_file(e.handle);
        modules::ReleaseModuleDlls();
        convert::SetApplicationDataFolder("");
        suite::xd_set_clock({});
        suite::close_company();
        ui::reset_printing();
    }

    uint16_t Cmm() const { return convert::FindFileHandle(list, "CMM", 1); }
    uint16_t Glm() const { return convert::FindFileHandle(list, "GLM", 1); }

    // A GL record keyed by `key` (given formatted), committed.
    void Seed(uint16_t rec, const char* field, const std::string& key, int section = suite::kGlWhole) {
        std::string value = key;
        suite::xk_unformat_field(suite::kGlAccountFormat, section, value);
        const uint16_t h = Glm();
        ASSERT_EQ(xio_init_record(h, rec), XIO_OK);
        convert::PutText(h, rec, field, value);
        ASSERT_EQ(xio_wr_record(h, rec), XIO_OK);
        ASSERT_EQ(xio_commit(h), XIO_OK);
    }
    // A record of a data file opened by path, keyed by `key`, committed (check formats).
    static void SeedIn(const fs::path& path, uint16_t rec, const char* field, const std::string& key) {
        uint16_t h = 0;
        ASSERT_EQ(xio_open_file(path, 0, h), XIO_OK);
        xio_init_record(h, rec);
        x_value_def v;
        v.text = key;
        xio_put_field(h, rec, xio_num(h, XIO_NUM_RECORD, rec, field), v);
        ASSERT_EQ(xio_wr_record(h, rec), XIO_OK);
        xio_cls_file(h);
    }

    // A text file of template `tpl` with `body` after the first line.
    std::string WriteText(const std::string& name, const std::string& body, const std::string& tpl = "xvcmmtest") {
        const std::string path = texts.str(name);
        WriteFile(path, "#,CMM," + tpl + "\r\n" + body);
        return path;
    }
    // A line of the tests' template (or of the shipped one, `shipped`).
    static std::string L(const std::string& id, const std::map<std::string, std::string>& values, bool shipped = false) {
        return CmLine(shipped ? dz::data_folder() / "templates" / "xvcmm.tpl" : kCmmData / "xvcmmtest.tpl", id, values);
    }

    // Converts or examines a text file; returns the report (notes pages included).
    std::string Run(const std::string& path, const std::string& taskName) {
        xvCMM converter;
        return Run(path, taskName, converter);
    }
    std::string Run(const std::string& path, const std::string& taskName, xvCMM& converter) {
        ui::zqTask task(taskName, 15, taskName == "Convert" ? 3020 : 3010, 5);
        const std::string reportPath = company.str("report.txt");
        const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, reportPath);
        converter.ConvertFile(list, TextFileEntry{path, 301}, &progress, print, task, "", nullptr);
        ui::zp_cls_print_file(task.ID(), 201);
        ui::xp_close_print(print);
        return ReadFile(reportPath);
    }

    // The bank `bank` (record 1) or its last numbers (record 5) read into the buffer.
    bool Read(uint16_t rec, const std::string& bank) {
        const uint16_t h = Cmm();
        xio_init_record(h, rec);
        convert::PutText(h, rec, rec == kCmRecBank ? "BANKACC" : "LTBNKAC", bank);
        return xio_rd_record(h, rec, 0, 0) == XIO_OK;
    }
    std::string Text(uint16_t rec, const char* name) { return convert::GetText(Cmm(), rec, name); }
    double Number(uint16_t rec, const char* name) { return convert::GetNumber(Cmm(), rec, name); }
    uint16_t Flag(uint16_t rec, const char* name) { return convert::GetFlag(Cmm(), rec, name); }
    // CMULTCA of CM header 2 on file.
    int MultipleCash() {
        const uint16_t h = Cmm();
        if (xio_rd_header(h, kCmHdrSettings, 0) != XIO_OK) return -1;
        const int v = convert::GetFlag(h, convert::HeaderFieldNo(h, kCmHdrSettings, "CMULTCA"));
        xio_free_header(h, kCmHdrSettings);
        return v;
    }
    void SetMultipleCash(uint16_t on) {
        const uint16_t h = Cmm();
        ASSERT_EQ(xio_rd_header(h, kCmHdrSettings, 1), XIO_OK);
        convert::PutFlag(h, convert::HeaderFieldNo(h, kCmHdrSettings, "CMULTCA"), on);
        ASSERT_EQ(xio_wr_header(h, kCmHdrSettings), XIO_OK);
        xio_free_header(h, kCmHdrSettings);
        ASSERT_EQ(xio_commit(h), XIO_OK);
    }
    // The unformatted value of a formatted account.
    static std::string Unformatted(const std::string& account, int section = suite::kGlWhole) {
        std::string v = account;
        suite::xk_unformat_field(suite::kGlAccountFormat, section, v);
        return v;
    }
    static bool Has(const std::string& report, const std::string& text) { return report.find(text) != std::string::npos; }
    static std::size_t Count(const std::string& report, const std::string& text) {
        std::size_t n = 0;
        for (std::size_t at = report.find(text); at != std::string::npos; at = report.find(text, at + 1)) ++n;
        return n;
    }

    ScratchDir company, texts, appData;
    OpenFilesList list;
    RecordingUi ui;
    ConvertProgress progress{[] { return int64_t{0}; }};
};

}  // namespace dz::gl::testing
