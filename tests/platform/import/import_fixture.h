// A data file of the test dictionary (tests/data/import/dictionary/tst.toml) in a fresh folder,
// a company with the default key formats, and helpers to write text files and templates.
#pragma once

#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/import/xvl_template.h"
#include "platform/suite/company.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace dz::xvl::test {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Names a case of a parameterised test after its `name` member, every character a test name
// may not hold turned into '_'.
struct CaseName {
    template <class Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& p) const {
        std::string n = p.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    }
};

inline void WriteFile(const fs::path& p, const std::string& data) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << data;
}

class ImportFixture : public ::testing::Test {
protected:
    void SetUp() override {
        // A parameterised test's names hold '/', which would nest the folder and leave its
        // parent behind after TearDown: one level only.
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string leaf = "dz_import_" + std::to_string(::getpid()) + "_" + info->test_suite_name() + "_" + info->name();
        std::replace(leaf.begin(), leaf.end(), '/', '_');
        dir = fs::temp_directory_path() / leaf;
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::string error;
        ASSERT_TRUE(xio_load_dictionaries(fs::path(DZ_TEST_DATA_DIR) / "import" / "dictionary", error)) << error;
        suite::set_company(suite::Company(dir, suite::default_settings({"GL", "JC"})));
        const fs::path folder = dir;
        xio_set_file_control([folder](const std::string&) { return folder; });
        xio_ask_request req;
        req.abbr = "TST";
        req.fileNo = 1;
        req.create = true;
        ASSERT_EQ(xio_ask_file(req, handle), XIO_OK) << xio_error_text();
        ASSERT_NE(handle, 0);
        files = {{"TST", 1, handle}};
    }

    void TearDown() override {
        if (handle) xio_cls_file(handle);
        suite::close_company();
        xio_set_file_control(nullptr);
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    // Builds `tpl` from text; fails the test when the template has a fault.
    void MakeTemplate(const std::string& text) {
        ASSERT_EQ(tpl.CreateFromText(text, "xvtst.tpl", files), 0) << tpl.ErrorText();
    }

    fs::path Text(const std::string& name, const std::string& body) {
        const fs::path p = dir / name;
        WriteFile(p, body);
        return p;
    }

    uint16_t Fld(uint16_t rec, const char* name) const { return xio_num(handle, XIO_NUM_RECORD, rec, name); }
    x_value_def Get(uint16_t rec, const char* name) const {
        x_value_def v;
        xio_get_field(handle, rec, Fld(rec, name), v);
        return v;
    }
    // Writes a record with the given key into the data file (record 1: CUSTID and CNAME).
    void StoreCustomer(const std::string& id, const std::string& name, double balance = 0) {
        xio_init_record(handle, 1);
        x_value_def v;
        v.text = id;
        xio_put_field(handle, 1, Fld(1, "CUSTID"), v);
        v.text = name;
        xio_put_field(handle, 1, Fld(1, "CNAME"), v);
        v.number = balance;
        xio_put_field(handle, 1, Fld(1, "CBAL"), v);
        ASSERT_EQ(xio_wr_record(handle, 1), XIO_OK);
    }

    fs::path dir;
    uint16_t handle = 0;
    std::vector<file_num_map> files;
    xvlImpTemplate tpl;
};

// The template most tests use: customers with every field type, their user fields and notes.
inline const char* kCustomerTemplate = R"(; customers
version ALLOW TOTALS
format C
  file TST 1
  record 1
  field CUSTID
  field CNAME
  field CBAL
  field CLIMIT
  field CSINCE
  field CACTIVE
  field CTYPE
  field CCALL
  field CMEMO
  field CACCT
format CM
  file TST 1
  record 1
  permissions 1
  field CUSTID
  field CNAME
  special "Converted Notes" longtext
format CN
  file TST 1
  record 1
  notes
  field CUSTID
  special NOTE1 text
  special NOTE2 text
format CU
  file TST 1
  record 1
  userfields 11
  field CUSTID
  special "cust fld name" text
  special "cust fld value" text
format CG
  file TST 1
  record 1
  field CUSTID
  field CGRADE
)";

}  // namespace dz::xvl::test
