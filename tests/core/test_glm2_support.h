// Shared fixture of the prefix-record and fiscal-calendar tests: a company with GL installed and
// the demo company's three-level account format (prefix A "01", B "2", C "33"), an open GL master
// file, the GL module library loaded, and helpers to stage records in the GL master buffer, seed
// records on file and run whole text files through the GL master converter.
#pragma once

#include "test_convert_support.h"

#include "convert/open_files.h"
#include "converters/gl/glm_fields.h"
#include "converters/gl/xvglm.h"
#include "modules/module_dlls.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"
#include "platform/suite/xd.h"
#include "platform/ui/framework.h"
#include "platform/ui/print.h"

#include <gtest/gtest.h>

#include <string>

namespace dz::gl::testing {

namespace fs = std::filesystem;
using convert::testing::OpenCompany;
using convert::testing::ReadFile;
using convert::testing::RecordingUi;
using convert::testing::ScratchDir;
using convert::testing::WriteFile;
using suite::zqDate;

inline const fs::path kGlm2Data = fs::path(DZ_TEST_DATA_DIR) / "glm2";

class Glm2Test : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(xio_load_dictionaries(dz::data_folder() / "dictionary", error)) << error;
        OpenCompany(company.path(), {"GL"}, "Ann Lee");
        suite::xd_set_clock(suite::xd_fixed_clock({zqDate(12, 6, 2026), {14, 30, 0}}));
        const fs::path glmPath = suite::current_company()->data_folder("GLM") / "MASTER.GLM";
        fs::create_directories(glmPath.parent_path());
        ASSERT_EQ(xio_create_file("GLM", 1, glmPath), XIO_OK);
        ASSERT_TRUE(modules::LoadModuleDlls());
        uint16_t err = 0;
        xvGLM opener;
        ASSERT_TRUE(opener.OpenFiles(list, 3020, err));
        glm = convert::FindFileHandle(list, "GLM", 1);
        ASSERT_NE(glm, 0);
    }

    void TearDown() override {
        for (auto& e : list)
            if (e.handle) xio_cls_file(e.handle);
        modules::ReleaseModuleDlls();
        suite::xd_set_clock({});
        suite::close_company();
        ui::reset_printing();
    }

    // ---- GL settings (header 1) ----------------------------------------------------------
    void SetSettings(int fiscalEntity, int balanceLevel = 1, bool thirteen = false) {
        ASSERT_EQ(xio_rd_header(glm, kHdrSettings, 1), XIO_OK);
        convert::PutNumber(glm, convert::HeaderFieldNo(glm, kHdrSettings, "FISCENT"), fiscalEntity);
        convert::PutNumber(glm, convert::HeaderFieldNo(glm, kHdrSettings, "BLLVL"), balanceLevel);
        convert::PutFlag(glm, convert::HeaderFieldNo(glm, kHdrSettings, "U13PA"), thirteen ? 1 : 0);
        ASSERT_EQ(xio_wr_header(glm, kHdrSettings), XIO_OK);
        ASSERT_EQ(xio_commit(glm), XIO_OK);
    }

    // ---- The buffer ----------------------------------------------------------------------
    uint16_t Fld(uint16_t rec, const char* name) { return convert::FieldNo(glm, rec, name); }
    void Text(uint16_t rec, const char* name, const std::string& v) { convert::PutText(glm, rec, name, v); }
    void Num(uint16_t rec, const char* name, double v) { convert::PutNumber(glm, rec, name, v); }
    void Flag(uint16_t rec, const char* name, bool v) { convert::PutFlag(glm, rec, name, v ? 1 : 0); }
    void Date(uint16_t rec, const char* name, const x_date_type& d) { PutDateField(Fld(rec, name), d); }
    void PutDateField(uint16_t field, const x_date_type& d) {
        x_value_def v;
        v.date = d;
        xio_put_field(glm, 0, field, v);
    }
    x_date_type DateOf(uint16_t rec, const char* name) { return convert::GetDate(glm, Fld(rec, name)); }
    std::string TextOf(uint16_t rec, const char* name) { return convert::GetText(glm, rec, name); }
    double NumOf(uint16_t rec, const char* name) { return convert::GetNumber(glm, rec, name); }

    // Writes the record in the buffer and commits it.
    void WriteStaged(uint16_t rec) {
        ASSERT_EQ(xio_wr_record(glm, rec), XIO_OK);
        ASSERT_EQ(xio_commit(glm), XIO_OK);
    }

    void SeedBaseAccount(const std::string& base, int type, int icStatus) {
        xio_init_record(glm, kRecBaseAccount);
        Text(kRecBaseAccount, "BSBASE", base);
        Text(kRecBaseAccount, "BSTITLE", "Base " + base);
        Num(kRecBaseAccount, "BSTYPE", type);
        Num(kRecBaseAccount, "BSICSTS", icStatus);
        WriteStaged(kRecBaseAccount);
    }

    // ---- Whole text files --------------------------------------------------------------------
    // Converts or examines `body` (records after the first line) with the test template;
    // returns the printed report.
    std::string Run(const std::string& body, bool converting, const std::string& name = "glm.txt") {
        const std::string path = texts.str(name);
        WriteFile(path, "#,GLM," + (kGlm2Data / "xvglm2.tpl").string() + "\r\n" + body);
        const std::string task = converting ? "Convert" : "Examine Files";
        ui::zqTask t(task, 15, converting ? 3020 : 3010, 5);
        const std::string reportPath = company.str("report.txt");
        const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, reportPath);
        xvGLM converter;
        converter.ConvertFile(list, convert::TextFileEntry{path, 101}, nullptr, print, t, "", nullptr);
        ui::zp_cls_print_file(t.ID(), 201);
        ui::xp_close_print(print);
        return ReadFile(reportPath);
    }

    // Reads a prefix record by key into its buffer; false when it is not on file.
    bool Read(uint16_t rec, const char* keyField, const std::string& key) { return convert::ReadByKey(glm, rec, keyField, key); }

    ScratchDir company, texts;
    convert::OpenFilesList list;
    RecordingUi ui;
    uint16_t glm = 0;
};

inline std::string D(const x_date_type& d) { return suite::xd_alpha_date(d); }

}  // namespace dz::gl::testing
