// Shared fixture of the GL master converter tests: a company with the demo account format, an
// empty GL master file, the shipped GL master template, a fixed clock and operator, and helpers
// that run a text file through Convert or Examine Files and show what came out (report, reject
// file, the GL master file's records).
#pragma once

#include "test_convert_support.h"

#include "convert/conversion_types.h"
#include "convert/progress.h"
#include "converters/gl/glm_fields.h"
#include "converters/gl/xvglm.h"
#include "modules/module_dlls.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"
#include "platform/ui/framework.h"
#include "platform/ui/print.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>

namespace dz::gl::testing {

using namespace dz::convert::testing;
using convert::ConvertProgress;
using convert::OpenFilesList;
using convert::TextFileEntry;

inline const fs::path kGlmData = fs::path(DZ_TEST_DATA_DIR) / "glm";
inline const fs::path kSamples = dz::data_folder() / "samples" / "glm";

// A line of the shipped template's format `id`: the named columns filled, the others empty.
inline std::string Line(const std::string& id, const std::map<std::string, std::string>& values) {
    static std::map<std::string, std::vector<std::string>> columns;
    if (columns.empty()) {
        std::istringstream in(ReadFile(dz::data_folder() / "templates" / "xvglm.tpl"));
        std::string line, current;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::string kw, name;
            words >> kw >> name;
            if (kw == "format") current = name;
            if ((kw == "field" || kw == "special") && !current.empty()) {
                if (name.front() == '"') name = line.substr(line.find('"') + 1, line.rfind('"') - line.find('"') - 1);
                columns[current].push_back(name);
            }
        }
    }
    std::string out = id;
    std::size_t used = 0;
    for (const auto& c : columns.at(id)) {
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

class GlmTest : public ::testing::Test {
protected:
    // Settings to change before the company opens.
    virtual void Adjust(suite::CompanySettings&) {}

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(xio_load_dictionaries(dz::data_folder() / "dictionary", error)) << error;
        ForgetFieldNumbers();  // handles of earlier tests may come back on other files
        auto settings = suite::default_settings({"GL", "JC", "CM", "AP", "PR", "PM", "AR"});
        settings.name = "Northbridge Builders";
        settings.operator_name = "Ann Lee";
        Adjust(settings);
        suite::write_settings(company.path() / suite::kSettingsFileName, settings);
        suite::open_company(company.path());
        suite::xd_set_clock(suite::xd_fixed_clock({suite::zqDate(12, 6, 2026), {14, 30, 0}}));
        modules::LoadModuleDlls();
        ASSERT_EQ(xio_create_file("GLM", 1, company.path() / "MASTER.GLM"), XIO_OK);
        // Templates named without a folder are looked up here.
        fs::create_directories(appData.path() / "ACCOUNTING" / "TEMPLATE");
        fs::copy_file(dz::data_folder() / "templates" / "xvglm.tpl",
                      appData.path() / "ACCOUNTING" / "TEMPLATE" / "xvglm.tpl");
        convert::SetApplicationDataFolder(appData.str());
        uint16_t error16 = 0;
        xvGLM opener;
        ASSERT_TRUE(opener.OpenFiles(list, 3020, error16));
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

    uint16_t Glm() const { return convert::FindFileHandle(list, "GLM", 1); }

    // A text file of the GL master template (or of template `tpl`) with `body` after the first
    // line.
    std::string WriteText(const std::string& name, const std::string& body, const std::string& tpl = "xvglm") {
        const std::string path = texts.str(name);
        WriteFile(path, "#,GLM," + tpl + "\r\n" + body);
        return path;
    }
    // A template of the test's own, found by its name.
    void WriteTemplate(const std::string& name, const std::string& text) {
        WriteFile(appData.path() / "ACCOUNTING" / "TEMPLATE" / (name + ".tpl"), text);
    }

    // The record of `rec` whose key field `key` holds `value`, read into the buffer; false when
    // there is none.
    bool Read(uint16_t rec, const char* key, const std::string& value) {
        const uint16_t h = Glm();
        xio_init_record(h, rec);
        x_value_def v;
        v.text = value;
        xio_put_field(h, rec, xio_num(h, XIO_NUM_RECORD, rec, key), v);
        return xio_rd_record(h, rec, 0, 0) == XIO_OK;
    }
    x_value_def Field(uint16_t rec, const char* name) {
        const uint16_t h = Glm();
        x_value_def v;
        xio_get_field(h, rec, xio_num(h, XIO_NUM_RECORD, rec, name), v);
        return v;
    }
    // True when the report holds `text`.
    static bool Has(const std::string& report, const std::string& text) {
        return report.find(text) != std::string::npos;
    }

    // Converts or examines a text file; returns the report with the scratch folder shown as
    // "<DIR>".
    std::string Run(const std::string& path, const std::string& taskName, const std::string& table = "") {
        xvGLM converter;
        return Run(path, taskName, converter, table);
    }
    // The same with a converter the test looks into afterwards.
    std::string Run(const std::string& path, const std::string& taskName, xvGLM& converter,
                    const std::string& table = "") {
        ui::zqTask task(taskName, 15, taskName == "Convert" ? 3020 : 3010, 5);
        const std::string reportPath = company.str("report.txt");
        const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, reportPath);
        converter.ConvertFile(list, TextFileEntry{path, 101}, &progress, print, task, table, nullptr);
        ui::zp_cls_print_file(task.ID(), 201);
        ui::xp_close_print(print);
        std::string report = ReadFile(reportPath);
        for (std::size_t at; (at = report.find(texts.str())) != std::string::npos;)
            report.replace(at, texts.str().size(), "<DIR>");
        return report;
    }

    // Writes header fields of the GL master file (committed) before a run.
    void SetHeader(uint16_t header, const std::function<void(uint16_t)>& fill) {
        const uint16_t h = Glm();
        ASSERT_EQ(xio_rd_header(h, header, 1), XIO_OK);
        fill(h);
        ASSERT_EQ(xio_wr_header(h, header), XIO_OK);
        ASSERT_EQ(xio_commit(h), XIO_OK);
    }
    void PutHeaderNumber(uint16_t h, uint16_t header, const char* name, double n) {
        x_value_def v;
        v.number = n;
        xio_put_field(h, 0, xio_num(h, XIO_NUM_HEADER, header, name), v);
    }
    void PutHeaderFlag(uint16_t h, uint16_t header, const char* name, uint16_t f) {
        x_value_def v;
        v.flag = f;
        xio_put_field(h, 0, xio_num(h, XIO_NUM_HEADER, header, name), v);
    }

    // Every record of the GL master file, one line each with the fields that differ from their
    // defaults; notes on a line of their own. Stable and diff-able.
    std::string Dump() {
        const uint16_t h = Glm();
        std::ostringstream out;
        xio_file_def def;
        xio_get_def(h, def);
        auto fieldsOf = [&](const xio_rec_def& rd) {
            std::string line;
            for (uint16_t f = rd.firstField; f <= rd.lastField; ++f) {
                xio_fld_def fd;
                xio_get_fld_def(h, f, fd);
                x_value_def v;
                xio_get_field(h, 0, f, v);
                std::string text;
                char buf[64];
                switch (fd.type) {
                case XIO_TYPE_TEXT:
                case XIO_TYPE_RIGHT_TEXT:
                    if (v.text == fd.defaultValue.text) continue;
                    text = "\"" + (v.longText.empty() ? v.text : v.longText) + "\"";
                    break;
                case XIO_TYPE_LOGICAL:
                    if (v.flag == fd.defaultValue.flag) continue;
                    text = v.flag ? "1" : "0";
                    break;
                case XIO_TYPE_DATE:
                    if (v.date == fd.defaultValue.date) continue;
                    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u", v.date.year, v.date.month, v.date.day);
                    text = buf;
                    break;
                default:
                    if (v.number == fd.defaultValue.number) continue;
                    std::snprintf(buf, sizeof buf, "%.0f", v.number);
                    text = buf;
                    break;
                }
                line += " " + fd.name + "=" + text;
            }
            return line;
        };
        for (uint16_t hn : def.headerNumbers) {
            xio_rec_def rd;
            xio_get_header_def(h, hn, rd);
            EXPECT_EQ(xio_rd_header(h, hn, 0), XIO_OK);
            out << "H" << hn << fieldsOf(rd) << "\n";
            xio_free_header(h, hn);
        }
        for (uint16_t rn : def.recordNumbers) {
            xio_rec_def rd;
            xio_get_rec_def(h, rn, rd);
            for (int st = xio_rd_first(h, rn, 0, 0); st == XIO_OK; st = xio_rd_next(h, rn, 0, 0)) {
                out << "R" << rn << fieldsOf(rd) << "\n";
                if (xio_rd_notes(h, rn, 0) == XIO_OK) {
                    std::string all, piece;
                    while (xio_get_notes(h, piece) == XIO_OK) all += piece;
                    if (!all.empty()) {
                        for (auto& ch : all)
                            if (ch == '\r') ch = '|';
                        out << "N" << rn << " \"" << all << "\"\n";
                    }
                }
            }
        }
        return out.str();
    }

    // Compares with a golden file of tests/data/glm; DZ_UPDATE_GOLDEN=1 rewrites it.
    void ExpectGolden(const std::string& actual, const std::string& name) {
        const fs::path golden = kGlmData / name;
        if (std::getenv("DZ_UPDATE_GOLDEN")) WriteFile(golden, actual);
        EXPECT_EQ(actual, ReadFile(golden)) << "golden " << name;
    }

    ScratchDir company, texts, appData;
    OpenFilesList list;
    RecordingUi ui;
    ConvertProgress progress{[] { return int64_t{0}; }};
};

}  // namespace dz::gl::testing
