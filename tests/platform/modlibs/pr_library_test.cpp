// Our PR module library through its thunks: the payroll system file opened for a company that
// has it, and the record pickers narrowed, shown and answered through the UI interface.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "modules/entries.h"
#include "modules/module_dlls.h"
#include "platform/datafile/xio.h"
#include "platform/modlibs/registry.h"
#include "platform/suite/company.h"
#include "platform/ui/ui.h"

namespace dz::modules {
namespace {

const char kPrsDictionary[] = R"(
abbreviation = "PRS"
name = "Payroll system"
version = 1
files = [{ number = 0, name = "SYSTEM.PRS" }]

[[record]]
number = 7
name = "Union"
key = ["UNION"]
fields = [
  { name = "UNION", description = "Union", type = 0, length = 10 },
  { name = "UNDESC", description = "Description", type = 0, length = 30 },
]

[[record]]
number = 8
name = "Local"
key = ["LUNION", "LOCAL"]
fields = [
  { name = "LUNION", description = "Union", type = 0, length = 10 },
  { name = "LOCAL", description = "Local", type = 0, length = 10 },
  { name = "LRATE", description = "Rate", type = 1, length = 7, decimals = 2 },
  { name = "LDESC", description = "Description", type = 0, length = 30 },
]

[[record]]
number = 12
name = "Department"
key = ["DEPT"]
fields = [
  { name = "DEPT", description = "Department", type = 0, length = 10 },
  { name = "DPDESC", description = "Description", type = 0, length = 30 },
]
)";

// Picks a scripted row and keeps what it was shown.
class PickingUi : public ui::Ui {
public:
    int message(int, const std::string&) override { return ui::kOk; }
    int list_records(const ui::RecordList& list) override {
        shown.push_back(list);
        return pick;
    }
    int pick = 0;
    std::vector<ui::RecordList> shown;
};

class PrLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = std::filesystem::temp_directory_path() /
                ("dz_prlib_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "dictionary");
        std::filesystem::create_directories(root_ / "company");
        std::ofstream(root_ / "dictionary" / "prs.toml") << kPrsDictionary;
        std::string err;
        ASSERT_TRUE(xio_load_dictionaries(root_ / "dictionary", err)) << err;
        suite::write_settings(root_ / "company" / suite::kSettingsFileName, suite::default_settings({"GL", "PR"}));
        suite::open_company(root_ / "company");
        ui::set_current(&ui_);
        ours_ = modlibs::our_module_libraries();
        ours_.logCalls = true;
        modlibs::set_registry(&ours_);
        ASSERT_TRUE(LoadModuleDlls());
    }
    void TearDown() override {
        if (prs_) xio_cls_file(prs_);
        ReleaseModuleDlls();
        modlibs::set_registry(nullptr);
        ui::set_current(nullptr);
        suite::close_company();
        std::string err;
        xio_load_dictionaries(std::filesystem::path(DZ_SOURCE_DATA_DIR) / "dictionary", err);
        std::filesystem::remove_all(root_);
    }

    // Creates SYSTEM.PRS with unions, locals and departments.
    void MakeSystemFile() {
        xio_ask_request req;
        req.abbr = "PRS";
        req.create = true;
        uint16_t h = 0;
        ASSERT_EQ(xio_ask_file(req, h), XIO_OK) << xio_error_text();
        auto put = [&](uint16_t rec, std::vector<std::pair<const char*, std::string>> values) {
            ASSERT_EQ(xio_init_record(h, rec), XIO_OK);
            for (auto& [name, text] : values) {
                x_value_def v;
                uint16_t f = xio_num(h, XIO_NUM_RECORD, rec, name);
                xio_fld_def def;
                xio_get_fld_def(h, f, def);
                if (xio_is_number_type(def.type))
                    v.number = std::stod(text);
                else
                    v.text = text;
                ASSERT_EQ(xio_put_field(h, rec, f, v), XIO_OK) << name;
            }
            ASSERT_EQ(xio_wr_record(h, rec), XIO_OK) << xio_error_text();
        };
        put(7, {{"UNION", "U100"}, {"UNDESC", "Carpenters"}});
        put(7, {{"UNION", "U200"}, {"UNDESC", "Electricians"}});
        put(8, {{"LUNION", "U100"}, {"LOCAL", "L1"}, {"LRATE", "12.5"}, {"LDESC", "North"}});
        put(8, {{"LUNION", "U100"}, {"LOCAL", "L2"}, {"LRATE", "13"}, {"LDESC", "South"}});
        put(8, {{"LUNION", "U200"}, {"LOCAL", "L9"}, {"LRATE", "20"}, {"LDESC", "East"}});
        put(12, {{"DEPT", "ADMIN"}, {"DPDESC", "Office"}});
        ASSERT_EQ(xio_cls_file(h), XIO_OK);
    }

    uint16_t OpenSystemFile() {
        PrOpenRequest req;
        req.command = 4010;
        req.mode = 1;
        EXPECT_EQ(PR_OPEN_SYSTEM_FILE(req, 1, 0), 0);
        prs_ = static_cast<uint16_t>(req.handle);
        return prs_;
    }

    std::filesystem::path root_;
    PickingUi ui_;
    modlibs::Registry ours_;
    uint16_t prs_ = 0;
};

TEST_F(PrLibrary, InstalledModulesComeFromTheOpenCompany) {
    std::vector<std::string> loads;
    for (const auto& c : ours_.calls)
        if (c.rfind("zd_load_dll", 0) == 0) loads.push_back(c);
    EXPECT_EQ(loads, (std::vector<std::string>{"zd_load_dll GL 8.0.13 XV GL", "zd_load_dll PR 8.0.111 XV PR"}));
}

TEST_F(PrLibrary, OpensTheSystemFileOnlyWhenItExists) {
    PrOpenRequest req;
    req.command = 4010;
    req.mode = 1;
    req.handle = 5;
    EXPECT_EQ(PR_OPEN_SYSTEM_FILE(req, 1, 0), XIO_NO_FILE);
    EXPECT_EQ(req.handle, 0);

    MakeSystemFile();
    EXPECT_NE(OpenSystemFile(), 0);
}

TEST_F(PrLibrary, LocalsOfOneUnionArePickedIntoTheCell) {
    MakeSystemFile();
    uint16_t prs = OpenSystemFile();
    ui_.pick = 2;
    std::string picked;
    EXPECT_EQ(PR_LIST_LOCALS(4010, prs, "u100", picked), 1);  // the union compares without case
    EXPECT_EQ(picked, "L2");
    ASSERT_EQ(ui_.shown.size(), 1u);
    const ui::RecordList& list = ui_.shown[0];
    EXPECT_EQ(list.columns, (std::vector<std::string>{"Union", "Local", "Description"}));
    ASSERT_EQ(list.rows.size(), 2u);
    EXPECT_EQ(list.rows[0], (std::vector<std::string>{"U100", "L1", "North"}));
    EXPECT_EQ(list.rows[1], (std::vector<std::string>{"U100", "L2", "South"}));
}

TEST_F(PrLibrary, NothingPickedLeavesTheValue) {
    MakeSystemFile();
    uint16_t prs = OpenSystemFile();
    ui_.pick = 0;
    std::string picked = "keep";
    EXPECT_EQ(PR_LIST_UNIONS(4010, prs, picked), 0);
    EXPECT_EQ(picked, "keep");
    ASSERT_EQ(ui_.shown.size(), 1u);
    EXPECT_EQ(ui_.shown[0].rows.size(), 2u);
    // A row beyond the list counts as nothing picked.
    ui_.pick = 3;
    EXPECT_EQ(PR_LIST_UNIONS(4010, prs, picked), 0);
    EXPECT_EQ(picked, "keep");
}

TEST_F(PrLibrary, DepartmentsAreTheRecordNamedSo) {
    MakeSystemFile();
    uint16_t prs = OpenSystemFile();
    ui_.pick = 1;
    std::string picked;
    EXPECT_EQ(PR_LIST_DEPTS(4010, prs, picked), 1);
    EXPECT_EQ(picked, "ADMIN");
}

TEST_F(PrLibrary, RecordsTheFileDoesNotDescribeOrAClosedFileShowNothing) {
    MakeSystemFile();
    uint16_t prs = OpenSystemFile();
    ui_.pick = 1;
    std::string picked;
    EXPECT_EQ(PR_LIST_PAYIDS(4010, prs, picked), 0);  // no pay-ID record in this dictionary
    EXPECT_EQ(PR_LIST_FRINGES(4010, 0, picked), 0);   // the file is not open
    EXPECT_TRUE(ui_.shown.empty());
    EXPECT_EQ(picked, "");
}

}  // namespace
}  // namespace dz::modules
