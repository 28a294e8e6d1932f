// Shared fixture of the property-management tests: a company with every module installed, the
// demo GL account format and a fixed clock; the PM data files (system, property, lease, tenant,
// retail, new and history transactions) with the GL and CM master files, opened as a conversion
// run opens them; and helpers that write GL, CM and PM records straight into them (committed),
// so a test starts from the data a converter would find on file.
#pragma once

#include "test_convert_support.h"

#include "convert/converter.h"
#include "convert/open_files.h"
#include "convert/record_fields.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"
#include "platform/suite/xd.h"

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace dz::pm::testing {

using namespace dz::convert::testing;
using convert::OpenFilesList;

// One field of a record written by the fixture: texts as given; numbers, choices and logicals as
// their number; dates as "m/d/yyyy".
using FieldValues = std::vector<std::pair<const char*, std::string>>;

class PmFixture : public ::testing::Test {
protected:
    // Settings to change before the company opens.
    virtual void Adjust(suite::CompanySettings&) {}

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(xio_load_dictionaries(dz::data_folder() / "dictionary", error)) << error;
        convert::ForgetFieldNumbers();  // handles of earlier tests may come back on other files
        auto settings = suite::default_settings({"GL", "JC", "CM", "AP", "PR", "PM", "AR"});
        settings.operator_name = "Ann Lee";
        Adjust(settings);
        suite::write_settings(company.path() / suite::kSettingsFileName, settings);
        suite::open_company(company.path());
        suite::xd_set_clock(suite::xd_fixed_clock({suite::zqDate(12, 6, 2026), {14, 30, 0}}));
        for (const auto& [abbr, fileNo, code] : Files()) {
            ASSERT_EQ(xio_create_file(abbr, fileNo, company.path() / xio_file_name(abbr, fileNo)), XIO_OK) << abbr;
            uint16_t error16 = 0;
            ASSERT_TRUE(opener_.Open(abbr, fileNo, code, list, error16)) << abbr << " " << error16;
        }
    }

    void TearDown() override {
        for (auto& e : list)
            if (e.handle) xio_cls_file(e.handle);
        list.clear();
        suite::xd_set_clock({});
        suite::close_company();
    }

    struct FileSpec {
        std::string abbr;
        uint16_t fileNo, code;
    };
    static std::vector<FileSpec> Files() {
        return {{"GLM", 1, 1},  {"CMM", 1, 20}, {"PMS", 1, 50}, {"PMP", 1, 52}, {"PML", 1, 54},
                {"PMN", 1, 56}, {"PMR", 1, 58}, {"PMV", 1, 60}, {"PMT", 1, 66}, {"PMT", 5, 68}};
    }

    uint16_t H(const std::string& abbr, uint16_t fileNo = 1) const { return convert::FindFileHandle(list, abbr, fileNo); }

    // Writes one record of `rec` (buffer cleared first, so unnamed fields keep their defaults)
    // and commits it.
    void Put(const std::string& abbr, uint16_t rec, const FieldValues& values, uint16_t fileNo = 1) {
        Stage(abbr, rec, values, fileNo);
        const uint16_t h = H(abbr, fileNo);
        ASSERT_EQ(xio_wr_record(h, rec), XIO_OK) << abbr << " " << rec;
        ASSERT_EQ(xio_commit(h), XIO_OK);
    }
    // Puts the values into a cleared buffer of `rec`, as the import stages a record.
    void Stage(const std::string& abbr, uint16_t rec, const FieldValues& values, uint16_t fileNo = 1) {
        const uint16_t h = H(abbr, fileNo);
        ASSERT_NE(h, 0) << abbr;
        ASSERT_EQ(xio_init_record(h, rec), XIO_OK);
        for (const auto& [name, text] : values) {
            const uint16_t f = xio_num(h, XIO_NUM_RECORD, rec, name);
            ASSERT_NE(f, 0) << abbr << " " << rec << " " << name;
            xio_fld_def def;
            xio_get_fld_def(h, f, def);
            x_value_def v;
            if (text.empty()) continue;  // left blank
            if (xio_is_text_type(def.type)) {
                v.text = text;
            } else if (def.type == XIO_TYPE_DATE) {
                unsigned m = 0, d = 0, y = 0;
                ASSERT_EQ(std::sscanf(text.c_str(), "%u/%u/%u", &m, &d, &y), 3) << text;
                v.date = suite::zqDate(static_cast<uint16_t>(m), static_cast<uint16_t>(d), static_cast<uint16_t>(y));
            } else if (def.type == XIO_TYPE_LOGICAL) {
                v.flag = static_cast<uint16_t>(std::atoi(text.c_str()));
            } else {
                v.number = std::atof(text.c_str());
            }
            ASSERT_EQ(xio_put_field(h, rec, f, v), XIO_OK) << name;
        }
    }

    // ---- GL and CM ----------------------------------------------------------------------------------
    // The company's fiscal calendar (GL settings): twelve monthly periods, the fiscal year ending
    // in December; `year` is the current fiscal year, the current period `period` of it.
    void GlCalendar(uint16_t year, uint16_t period = 12) {
        const uint16_t h = H("GLM");
        ASSERT_EQ(xio_rd_header(h, 1, 1), XIO_OK);
        const uint16_t first = xio_num(h, XIO_NUM_HEADER, 1, "P2Y1");
        static const uint16_t lastDay[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        for (int y = 0; y < 4; ++y) {
            const auto fy = static_cast<uint16_t>(year - 2 + y);
            for (int p = 0; p < 13; ++p) {
                x_value_def v;
                if (p < 12) {
                    const bool leap = (fy % 4 == 0 && fy % 100 != 0) || fy % 400 == 0;
                    v.date = suite::zqDate(static_cast<uint16_t>(p + 1),
                                           static_cast<uint16_t>(lastDay[p] + (p == 1 && leap)), fy);
                }
                xio_put_field(h, 0, static_cast<uint16_t>(first + y * 13 + p), v);
            }
        }
        x_value_def v;
        v.date = suite::zqDate(period, lastDay[period - 1], year);
        xio_put_field(h, 0, xio_num(h, XIO_NUM_HEADER, 1, "PDATE"), v);
        v = {};
        v.number = period;
        xio_put_field(h, 0, xio_num(h, XIO_NUM_HEADER, 1, "PCODE"), v);
        v = {};
        v.date = suite::zqDate(12, 31, year);
        xio_put_field(h, 0, xio_num(h, XIO_NUM_HEADER, 1, "FDATE"), v);
        ASSERT_EQ(xio_wr_header(h, 1), XIO_OK);
        ASSERT_EQ(xio_commit(h), XIO_OK);
    }
    void GlAccount(const std::string& account) { Put("GLM", 1, {{"AACCT", account}, {"ATITLE", "Account " + account}}); }
    void BaseAccount(const std::string& base) { Put("GLM", 6, {{"BSBASE", base}}); }
    // A prefix record of each level it spans: "11" (A), "112" (AB), "11233" (ABC).
    void GlPrefix(const std::string& prefix) {
        const std::pair<uint16_t, const char*> levels[] = {{3, "PAPRFX"}, {4, "PBPRFX"}, {5, "PCPRFX"}};
        const std::size_t widths[] = {2, 3, 5};
        for (int i = 0; i < 3; ++i)
            if (prefix.size() == widths[i]) Put("GLM", levels[i].first, {{levels[i].second, prefix}});
    }
    void Bank(const std::string& bank) { Put("CMM", 1, {{"BANKACC", bank}, {"BPMVALD", "1"}}); }

    // ---- PM system, property, tenant and lease records ------------------------------------------------
    void ChargeType(const std::string& ct) { Put("PMS", 1, {{"CT", ct}, {"CTCDESC", ct + " charge"}}); }
    void InterestRate(const std::string& id) { Put("PMS", 2, {{"VALID", id}, {"VALUE", "5000000"}}); }
    void Manager(const std::string& id) { Put("PMS", 4, {{"MBID", id}, {"MBNAME", "Manager " + id}}); }
    void Property(const std::string& prop, const std::string& prefix = "") {
        Put("PMP", 1, {{"PROP", prop}, {"PNAME", "Property " + prop}, {"PGLPFX", prefix}, {"PPEREND", "12/31/2026"}});
    }
    void Unit(const std::string& prop, const std::string& unit) { Put("PMP", 17, {{"UPROP", prop}, {"UNIT", unit}}); }
    void Tenant(const std::string& tenant) { Put("PMN", 1, {{"TENANT", tenant}, {"TNAME", "Tenant " + tenant}}); }
    // A lease of a unit (status 3: in effect) with its lease-unit and tenant-lease links.
    void Lease(const std::string& lease, double rev, const std::string& prop, const std::string& unit,
               const std::string& tenant, int status = 3) {
        const std::string r = std::to_string(static_cast<int>(rev));
        Put("PML", 1, {{"LEASE", lease}, {"LREV", r}, {"LPROP", prop}, {"LUNIT", unit}, {"LTENANT", tenant},
                       {"LSTATUS", std::to_string(status)}});
        Put("PMP", 20, {{"LUPROP", prop}, {"LUUNIT", unit}, {"LULEASE", lease}, {"LUREV", r}});
        Put("PMN", 5, {{"TENID", tenant}, {"TLEASE", lease}, {"TLREV", r}});
    }
    void ChargeControl(const std::string& lease, double rev, const std::string& ct) {
        Put("PML", 10, {{"LCLEASE", lease}, {"LCREV", std::to_string(static_cast<int>(rev))}, {"LCCT", ct}});
    }
    // A recurring charge; `formula` makes its amount come from a formula instead of tables.
    void RecurringCharge(const std::string& lease, double rev, const std::string& ct, const std::string& unit,
                         bool formula = false) {
        Put("PML", 13, {{"RCLEASE", lease}, {"RCREV", std::to_string(static_cast<int>(rev))}, {"RCCT", ct},
                        {"RCUNIT", unit}, {"RCAMTT", formula ? "2" : "1"}});
    }

    ScratchDir company;
    OpenFilesList list;

private:
    // Opens data files into the run's list as a converter does (writes started).
    class Opener : public convert::xvConvert {
    public:
        bool Open(const std::string& abbr, uint16_t fileNo, uint16_t code, OpenFilesList& files, uint16_t& error) {
            return OpenDataFile(abbr, fileNo, code, 0, files, 3020, error, false);
        }
        bool OpenFiles(OpenFilesList&, uint16_t, uint16_t&) override { return true; }
        void ConvertFile(OpenFilesList&, const convert::TextFileEntry&, convert::ConvertProgress*, int, ui::zqTask&,
                         const std::string&, convert::ConversionOptions*) override {}
        void PrefillTables(OpenFilesList&, const convert::TextFileEntry&, convert::ConvertProgress*, ui::zqTask&,
                           void*) override {}
    };
    Opener opener_;
};

}  // namespace dz::pm::testing
