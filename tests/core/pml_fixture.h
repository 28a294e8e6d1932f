// The lease converter's test fixture: a property with two units, two tenants, a corporation and
// a SIC code on file; text lines built by field name; runs of Convert or Examine Files through the
// converter with the report read back; and reads of what a run left on file.
#pragma once

#include "pm_fixture.h"

#include "converters/pm/xvpml.h"

#include "convert/progress.h"
#include "platform/datafile/data_folder.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/company.h"
#include "platform/ui/framework.h"
#include "platform/ui/print.h"

#include <gtest/gtest.h>

#include <map>

namespace dz::pm::testing {

class PmlTest : public PmFixture {
protected:
    void Adjust(suite::CompanySettings& s) override {
        s.lists[kAddressTypeList] = {"Billing", {"Billing", "Mailing", "Legal"}};
        s.lists[kBusinessCategoryList] = {"Retail", {"Retail", "Restaurant", "Office"}};
        s.report_designs = {"CPI Letter"};
    }
    void SetUp() override {
        PmFixture::SetUp();
        Property("STRIP");
        Unit("STRIP", "U100");
        Unit("STRIP", "U200");
        Tenant("ACME");
        Tenant("BAKER");
        Put("PMS", kPmsCorporation, {{"CORPID", "CORP1"}});
        Put("PMS", kPmsSicCode, {{"SICCODE", "5812"}});
    }

    // A text line of format `fmt` (record `rec` of `abbr`), the named values in their columns.
    std::string Line(const std::string& fmt, const std::string& abbr, uint16_t rec,
                     const std::map<std::string, std::string>& values, bool notesColumn = false) {
        const uint16_t h = H(abbr);
        std::string line = fmt;
        std::size_t used = 0;
        xio_rec_def def;
        EXPECT_EQ(xio_get_rec_def(h, rec, def), XIO_OK);
        for (uint16_t no = def.firstField; no != 0 && no <= def.lastField; ++no) {
            xio_fld_def fd;
            xio_get_fld_def(h, no, fd);
            const auto it = values.find(fd.name);
            line += "," + (it == values.end() ? std::string() : it->second);
            used += it != values.end();
        }
        EXPECT_EQ(used, values.size()) << "a field name is misspelt";
        return notesColumn ? line + "," : line;
    }
    // A lease of STRIP U100 for ACME (revision 0, status 3) that passes every rule, changed by `more`.
    std::string LeaseLine(const std::string& lease, std::map<std::string, std::string> more = {}) {
        std::map<std::string, std::string> v = {{"LEASE", lease},  {"LREV", "0"},   {"LPROP", "STRIP"},
                                                {"LUNIT", "U100"}, {"LTENANT", "ACME"}, {"LSTATUS", "3"},
                                                {"LACTST", "1/1/2026"}};
        for (auto& [k, val] : more) v[k] = val;
        for (auto it = v.begin(); it != v.end();) it = it->second == "<blank>" ? v.erase(it) : std::next(it);
        return Line("1", "PML", kPmlLease, v, true);
    }

    std::string Text(const std::vector<std::string>& lines) {
        const std::string tpl = templateFile.empty() ? (data_folder() / "templates" / "xvpml.tpl").string() : templateFile;
        std::string text = "#,PML," + tpl + "\r\n";
        for (const auto& l : lines) text += l + "\r\n";
        return text;
    }
    std::string Run(xvPML& converter, const std::vector<std::string>& lines, bool converting) {
        const std::string path = company.str("lease" + std::to_string(++runs_) + ".txt");
        WriteFile(path, Text(lines));
        lastText = path;
        ui::zqTask task(converting ? "Convert" : "Examine Files", 15, converting ? 3020 : 3010, 5);
        const std::string reportPath = company.str("report.txt");
        const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, reportPath);
        converter.ConvertFile(list, convert::TextFileEntry{path, 602}, &progress, print, task, "", nullptr);
        ui::zp_cls_print_file(task.ID(), 201);
        ui::xp_close_print(print);
        return ReadFile(reportPath);
    }
    std::string Run(const std::vector<std::string>& lines, bool converting) {
        xvPML converter;
        return Run(converter, lines, converting);
    }

    bool ReadLease(const std::string& lease, double revision = 0) {
        const uint16_t h = H("PML");
        xio_init_record(h, 1);
        convert::PutText(h, 1, "LEASE", lease);
        convert::PutNumber(h, 1, "LREV", revision);
        return xio_rd_record(h, 1, 0, 0) == XIO_OK;
    }
    bool ReadLink(const std::string& unit, const std::string& lease, double revision = 0) {
        const uint16_t h = H("PMP");
        xio_init_record(h, kPmpLeaseUnitLink);
        convert::PutText(h, kPmpLeaseUnitLink, "LUPROP", "STRIP");
        convert::PutText(h, kPmpLeaseUnitLink, "LUUNIT", unit);
        convert::PutText(h, kPmpLeaseUnitLink, "LULEASE", lease);
        convert::PutNumber(h, kPmpLeaseUnitLink, "LUREV", revision);
        return xio_rd_record(h, kPmpLeaseUnitLink, 0, 0) == XIO_OK;
    }
    std::string CurrentLease(const std::string& unit) {
        const uint16_t h = H("PMP");
        xio_init_record(h, kPmpUnit);
        convert::PutText(h, kPmpUnit, "UPROP", "STRIP");
        convert::PutText(h, kPmpUnit, "UNIT", unit);
        if (xio_rd_record(h, kPmpUnit, 0, 0) != XIO_OK) return "?";
        return convert::GetText(h, kPmpUnit, "UCURLES") + "/" + convert::GetText(h, kPmpUnit, "UCURTEN");
    }
    static int Count(const std::string& text, const std::string& what) {
        int n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }

    // A converter whose operator stops the run once `after` records were written.
    class StoppingPml : public xvPML {
    public:
        explicit StoppingPml(int after) : after_(after) {}

    protected:
        void RecordWritten(convert::ConvertContext& ctx, xvl::xvlImpInfo& info) override {
            xvPML::RecordWritten(ctx, info);
            if (++seen_ == after_ && ctx.progress) ctx.progress->stop = 1;
        }
        int after_, seen_ = 0;
    };
    // Converting `lines` and stopping after `after` records leaves the four written files as they
    // were, byte for byte, and the text file unstamped.
    void ExpectStopRestores(const std::vector<std::string>& lines, int after) {
        StoppingPml converter(after);
        ExpectRunRestores(converter, lines, "Conversion canceled by operator");
    }
    // Converting `lines` with `converter` prints `ending` once (and no other ending; none at all
    // for an empty `ending`) and leaves the four written files as they were, byte for byte, and
    // the text file unstamped.
    void ExpectRunRestores(xvPML& converter, const std::vector<std::string>& lines, const std::string& ending) {
        for (auto& e : list)
            if (e.handle) {
                ASSERT_EQ(xio_commit(e.handle), XIO_OK);
            }
        std::map<std::string, std::string> before;
        for (const char* f : {"MASTER.PML", "MASTER.PMN", "MASTER.PMS", "MASTER.PMP"})
            before[f] = ReadFile(company.path() / f);
        const std::string report = Run(converter, lines, true);
        if (!ending.empty()) {
            EXPECT_EQ(Count(report, ending), 1) << report;
        }
        for (const char* other : {"Conversion canceled by operator", "Unable to read from or write to"})
            if (ending.empty() || ending.find(other) == std::string::npos) {
                EXPECT_EQ(Count(report, other), 0) << report;
            }
        EXPECT_TRUE(ReadFile(lastText) == Text(lines));  // not stamped
        for (auto& e : list)
            if (e.handle) {
                ASSERT_EQ(xio_commit(e.handle), XIO_OK);
            }
        for (const auto& [f, bytes] : before) {
            EXPECT_FALSE(bytes.empty()) << f;
            EXPECT_TRUE(ReadFile(company.path() / f) == bytes) << f;
        }
    }

    convert::ConvertProgress progress{[] { return int64_t{0}; }};
    std::string lastText;
    std::string templateFile;  // another template than the shipped one, when set
    int runs_ = 0;
};

}  // namespace dz::pm::testing
