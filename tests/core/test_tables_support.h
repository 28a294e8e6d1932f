// Shared set-up of the substitution-table tests: a company in a fresh folder with an empty
// MASTER.XVM, tables written through SubstitutionMasterFile, and a UI that records messages.
#pragma once

#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"
#include "platform/suite/company.h"
#include "platform/ui/ui.h"
#include "tables/master_file.h"
#include "short_folder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace dz::tables::testing {

inline constexpr uint16_t kCommand = 4010;

class RecordingUi : public ui::Ui {
public:
    int message(int kind, const std::string& text) override {
        messages.emplace_back(kind, text);
        return ui::kOk;
    }
    std::vector<std::pair<int, std::string>> messages;
};

struct Entry {
    std::string oldValue;
    std::string newValue;
    std::string thirdValue;
};

struct TableSpec {
    std::string group;
    uint32_t application = 0;
    uint16_t fieldId = 0;
    uint16_t blankValueOption = 0;
    uint16_t notFoundOption = 0;
    uint16_t mapJobToExtra = 65535;  // leave as the new definition starts
    std::vector<Entry> entries;
};

class TablesTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> serial{0};
        // Shown in the import's report, which shortens a long path: as short on every machine.
        folder_ = testing_support::ShortTempFolder() /
                  ("dz-tables-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        LoadDictionaries();
        suite::set_company(suite::Company(folder_, suite::default_settings({"GL", "JC", "AP", "PR", "PM", "AR", "CM"})));
        ui::set_current(&ui_);
    }

    void TearDown() override {
        std::string error;
        xio_load_dictionaries(data_folder() / "dictionary", error);
        ui::set_current(nullptr);
        suite::close_company();
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }

    // The shipped dictionaries plus the test job file of tests/data/tables, whatever another
    // test of this program loaded before.
    void LoadDictionaries() {
        const auto dict = folder_ / "dictionary";
        std::filesystem::create_directories(dict);
        for (const auto& src : {data_folder() / "dictionary", std::filesystem::path(DZ_TEST_DATA_DIR) / "tables"})
            for (const auto& e : std::filesystem::directory_iterator(src))
                if (e.path().extension() == ".toml") std::filesystem::copy_file(e.path(), dict / e.path().filename());
        // A fault in an unrelated dictionary must not stop these tests; the two they use must load.
        std::string error;
        xio_load_dictionaries(dict, error);
        ASSERT_FALSE(xio_file_name(kXvmAbbr, 0).empty()) << error;
        ASSERT_FALSE(xio_file_name("TJB", 1).empty()) << error;
    }

    // Creates the empty table file of the company.
    void CreateMasterFile() {
        xio_ask_request req;
        req.command = kCommand;
        req.abbr = kXvmAbbr;
        req.create = true;
        uint16_t h = 0;
        ASSERT_EQ(xio_ask_file(req, h), XIO_OK) << xio_error_text();
        ASSERT_NE(h, 0);
        xio_cls_file(h);
    }

    // Writes one table as the editor does: create or lock the definition with its options,
    // write the entries, save and release the definition.
    void WriteTable(const TableSpec& t) {
        SubstitutionMasterFile mf(kCommand, 0, t.group, t.application, t.fieldId);
        ASSERT_GT(mf.handle(), 0);
        ASSERT_EQ(mf.WriteDefinition(0, t.mapJobToExtra, t.blankValueOption, t.notFoundOption), XIO_OK);
        for (const auto& e : t.entries) ASSERT_EQ(mf.WriteEntry(e.oldValue, e.newValue, e.thirdValue), XIO_OK);
        ASSERT_EQ(mf.ReleaseDefinition(true), XIO_OK);
        mf.Close();
    }

    const std::filesystem::path& folder() const { return folder_; }

    RecordingUi ui_;

private:
    std::filesystem::path folder_;
};

}  // namespace dz::tables::testing
