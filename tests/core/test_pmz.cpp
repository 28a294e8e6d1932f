// The PM issues converter in process: issues renumbered after LASTID with their notes, the links
// to properties, units, tenants and leases, list spellings, the fields reset, Examine Files, and
// the failures that end the file with both written files put back.
#include "pm_fixture.h"

#include "converters/pm/xvpmz.h"

#include "convert/progress.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/store.h"
#include "platform/ui/framework.h"
#include "platform/ui/print.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace dz::pm::testing {

using namespace convert;
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const char* const kColumns[] = {"ISSUE",  "FORMESS", "CLASSIF", "URGENCY", "FOLLOWU", "STATUS",  "PROBLEM", "R1ODBC",
                                "ASSIGN", "OPENDT",  "PMPROP",  "PMUNIT",  "PMTENAN", "PMREV",   "PMLEASE", "CLOSED",
                                "NOTIFY", "COST",    "PRIORTY", "SOURCE",  "CHANNEL", "PRTSEQ",  "NOTES",   "NOPROP"};

// An issue line: the named columns filled, the others empty.
std::string Issue(const std::map<std::string, std::string>& values) {
    std::string line = "1";
    for (const char* c : kColumns) {
        const auto it = values.find(c);
        line += "," + (it == values.end() ? std::string() : it->second);
    }
    return line;
}

class PmzTest : public PmFixture {
protected:
    void Adjust(suite::CompanySettings& s) override {
        s.installed.insert("TL");
        s.lists[262] = {"General", {"Leak", "Noise"}};  // the first entry is only the default
        s.lists[263] = {"Urgent", {}};                  // one entry: kept
    }
    void SetUp() override {
        PmFixture::SetUp();
        for (const auto& [abbr, code] : {std::pair<const char*, uint16_t>{"TLI", kTliCode}, {"PMZ", kPmzCode}}) {
            ASSERT_EQ(xio_create_file(abbr, 0, company.path() / xio_file_name(abbr, 0)), XIO_OK);
            uint16_t error = 0;
            ASSERT_TRUE(opener_.OpenDataFile(abbr, 0, code, 1, list, 3020, error, false)) << abbr;
        }
        const uint16_t tli = H("TLI", 0);
        ASSERT_EQ(xio_rd_header(tli, 1, 1), XIO_OK);
        PutNumber(tli, HeaderFieldNo(tli, 1, "LASTID"), 100);
        ASSERT_EQ(xio_wr_header(tli, 1), XIO_OK);
        ASSERT_EQ(xio_commit(tli), XIO_OK);
        Property("P1");
        Unit("P1", "U1");
        Tenant("T1");
        Lease("L1", 2, "P1", "U1", "T1");
    }

    std::string Run(convert::xvConvert& converter, const std::vector<std::string>& lines, bool converting,
                    const std::string& templatePath = (data_folder() / "templates" / "xvpmz.tpl").string()) {
        std::string text = "#,PMZ," + templatePath + "\r\n";
        for (const auto& l : lines) text += l + "\r\n";
        textPath = company.str("issues" + std::to_string(++runs_) + ".txt");
        WriteFile(textPath, text);
        ui::zqTask task(converting ? "Convert" : "Examine Files", 15, converting ? 3020 : 3010, 5);
        const std::string reportPath = company.str("report.txt");
        const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, reportPath);
        converter.ConvertFile(list, convert::TextFileEntry{textPath, 607}, &progress, print, task, "", nullptr);
        ui::zp_cls_print_file(task.ID(), 201);
        ui::xp_close_print(print);
        return ReadFile(reportPath);
    }
    std::string Run(const std::vector<std::string>& lines, bool converting) {
        xvPMZ converter;
        return Run(converter, lines, converting);
    }

    double LastId() {
        const uint16_t tli = H("TLI", 0);
        EXPECT_EQ(xio_rd_header(tli, 1, 0), XIO_OK);
        const double n = GetNumber(tli, HeaderFieldNo(tli, 1, "LASTID"));
        xio_free_header(tli, 1);
        return n;
    }
    // The issue `n` on file (its buffer filled), and its notes.
    bool ReadIssue(double n) {
        xio_init_record(H("TLI", 0), 1);
        PutNumber(H("TLI", 0), 1, "ISSUE", n);
        return xio_rd_record(H("TLI", 0), 1, 0, 0) == XIO_OK;
    }
    std::string IssueText(const char* field) { return GetText(H("TLI", 0), 1, field); }
    std::string Notes(double n) {
        if (!ReadIssue(n) || xio_rd_notes(H("TLI", 0), 1, 0) != XIO_OK) return {};
        std::string all;
        for (std::string piece; xio_get_notes(H("TLI", 0), piece) == XIO_OK;) all += piece;
        return all;
    }
    bool Link(double issue, uint16_t kind, std::string* description = nullptr) {
        const uint16_t tli = H("TLI", 0);
        xio_init_record(tli, 2);
        PutNumber(tli, 2, "AISSUE", issue);
        PutText(tli, 2, "FILEABB", "PMZ");
        PutNumber(tli, 2, "RECNUM", kind);
        if (xio_rd_record(tli, 2, 0, 0) != XIO_OK) return false;
        if (description) *description = GetText(tli, 2, "DATADES");
        return true;
    }

    convert::ConvertProgress progress{[] { return int64_t{0}; }};
    std::string textPath;
    xvPMZ opener_;
    int runs_ = 0;
};

TEST_F(PmzTest, IssuesTakeTheNextNumbersAndTheirNotesFollowThem) {
    const std::string report =
        Run({Issue({{"ISSUE", "7"}, {"PMPROP", "p1"}}), Issue({{"ISSUE", "3"}, {"FORMESS", "Roof leaks"}}),
             "1N,3,Seen by the owner", Issue({{"ISSUE", "12"}}), "1N,5,Before its issue"},
            true);
    EXPECT_THAT(report, HasSubstr("The record to modify doesn't currently exist (fld 1, col 1) (62)"));
    EXPECT_EQ(LastId(), 103);
    ASSERT_TRUE(ReadIssue(101));
    EXPECT_EQ(IssueText("PMPROP"), "P1");  // the stored spelling
    ASSERT_TRUE(ReadIssue(102));
    EXPECT_EQ(IssueText("FORMESS"), "Roof leaks");
    EXPECT_THAT(Notes(102), HasSubstr("Seen by the owner")) << report;
    EXPECT_TRUE(ReadIssue(103));
    EXPECT_FALSE(ReadIssue(7));
    EXPECT_NE(ReadFile(textPath).find("Previously Converted"), std::string::npos);
}

TEST_F(PmzTest, NumbersTakenByStrayIssuesOrLinksAreSkipped) {
    Put("TLI", 1, {{"ISSUE", "101"}}, 0);
    Put("TLI", 2, {{"AISSUE", "102"}, {"FILEABB", "PMZ"}, {"RECNUM", "2"}}, 0);
    Put("PMZ", 2, {{"TENANT", "T1"}, {"ISSUE2", "103"}}, 0);
    Run({Issue({{"ISSUE", "1"}, {"PMTENAN", "T1"}})}, true);
    EXPECT_TRUE(Link(104, kPmzTenant));
    EXPECT_EQ(LastId(), 104);
}

TEST_F(PmzTest, LinksByKindWithTheirDescriptions) {
    Run({Issue({{"ISSUE", "1"}, {"PMPROP", "P1"}, {"PMUNIT", "u1"}}),
         Issue({{"ISSUE", "2"}, {"PMPROP", "P1"}, {"PMUNIT", "U1"}, {"NOPROP", "Y"}}),
         Issue({{"ISSUE", "3"}, {"PMLEASE", "l1"}, {"PMREV", "2"}, {"PMTENAN", "t1"}}), Issue({{"ISSUE", "4"}})},
        true);
    std::string description;
    EXPECT_TRUE(Link(101, kPmzProperty, &description));
    EXPECT_EQ(description, "Property P1");
    EXPECT_TRUE(Link(101, kPmzUnit));
    EXPECT_FALSE(Link(102, kPmzProperty));  // NOPROP: the unit alone
    EXPECT_TRUE(Link(102, kPmzUnit));
    // The lease link keeps the lease's own revision, which is no default.
    EXPECT_TRUE(Link(103, kPmzLease, &description));
    EXPECT_EQ(description, "P1 U1 T1");
    xio_init_record(H("PMZ", 0), kPmzLease);
    PutText(H("PMZ", 0), kPmzLease, "LEASE", "L1");
    PutNumber(H("PMZ", 0), kPmzLease, "LREV", 2);
    PutNumber(H("PMZ", 0), kPmzLease, "ISSUE1", 103);
    EXPECT_EQ(xio_find_record(H("PMZ", 0), kPmzLease, 0), XIO_OK);
    EXPECT_TRUE(Link(103, kPmzTenant));
    for (uint16_t kind = 1; kind <= 4; ++kind) EXPECT_FALSE(Link(104, kind)) << kind;
}

TEST_F(PmzTest, RefusedIssuesAndLinesLeaveTheHeaderAlone) {
    const std::string report = Run(
        {Issue({{"ISSUE", "1"}, {"PMUNIT", "NOPE"}}), Issue({{"ISSUE", "2"}, {"PMPROP", "P9"}}),
         Issue({{"ISSUE", "3"}, {"PMPROP", "P1"}, {"PMUNIT", "U9"}}), Issue({{"ISSUE", "4"}, {"PMTENAN", "T9"}}),
         Issue({{"ISSUE", "5"}, {"PMLEASE", "L1"}, {"PMREV", "1"}}), "1U,6,Color,Red", "1,x"},
        true);
    // A unit without its property is refused before any look-up.
    EXPECT_THAT(report, HasSubstr("Property is required for Unit 'NOPE'(1504)"));
    EXPECT_THAT(report, HasSubstr("Property 'P9' does not exist(1501)"));
    EXPECT_THAT(report, HasSubstr("Property Unit 'P1, U9' does not exist(1502)"));
    EXPECT_THAT(report, HasSubstr("Tenant 'T9' does not exist(1503)"));
    EXPECT_THAT(report, HasSubstr("Lease 'L1' does not exist(1504)"));
    EXPECT_THAT(report, HasSubstr("Custom fields not supported in PM Issues conversion"));
    EXPECT_EQ(LastId(), 100);
    EXPECT_FALSE(ReadIssue(101));
}

TEST_F(PmzTest, ListSpellingsAndTheFieldsTheConversionDoesNotCarry) {
    const std::string report =
        Run({Issue({{"ISSUE", "1"}, {"CLASSIF", "leak"}, {"URGENCY", "Urgent"}, {"CLOSED", "N"}, {"NOTIFY", "N"},
                    {"CHANNEL", "3"}, {"PRIORTY", "5"}, {"ASSIGN", "Bob"}}),
             Issue({{"ISSUE", "2"}, {"CLASSIF", "Flood"}, {"CLOSED", "Y"}}), Issue({{"ISSUE", "3"}, {"CLASSIF", "Flood"}})},
            true);
    ASSERT_TRUE(ReadIssue(101));
    EXPECT_EQ(IssueText("CLASSIF"), "Leak");
    EXPECT_EQ(IssueText("ASSIGN"), "");
    EXPECT_THAT(report, HasSubstr("Notify owner is not supported by conversion, 'FALSE' was cleared(1505)"));
    EXPECT_THAT(report, HasSubstr("Closed is not supported by conversion, 'TRUE' was cleared(1505)"));
    EXPECT_THAT(report, HasSubstr("Reported by is not supported by conversion, 'Walk-in(3)' was cleared(1505)"));
    EXPECT_THAT(report, HasSubstr("Assigned to is not supported by conversion, 'Bob' was cleared(1505)"));
    // Values at their defaults give nothing.
    EXPECT_THAT(report, Not(HasSubstr("Priority is not")));
    EXPECT_THAT(report, Not(HasSubstr("Closed is not supported by conversion, 'FALSE'")));
    // A value missing from its list is listed once, with its first line; the one-entry list
    // keeps its entry.
    EXPECT_THAT(report, HasSubstr("Classification:  Flood(4)\n"));
    EXPECT_THAT(report, Not(HasSubstr("Urgent(")));
}

TEST_F(PmzTest, ExamineKeepsTheNumbersAndWritesNothing) {
    Put("TLI", 1, {{"ISSUE", "7"}}, 0);  // a clash Convert would renumber
    for (auto& e : list) ASSERT_EQ(xio_commit(e.handle), XIO_OK);
    const std::string tliBefore = ReadFile(company.path() / "ISSUES.TLI");
    const std::string report =
        Run({Issue({{"ISSUE", "7"}, {"PMPROP", "P1"}}), "1N,7,Noted", Issue({{"ISSUE", "7"}})}, false);
    EXPECT_THAT(report, Not(HasSubstr("Duplicate")));
    EXPECT_THAT(report, Not(HasSubstr("duplicate")));
    for (auto& e : list) ASSERT_EQ(xio_commit(e.handle), XIO_OK);
    EXPECT_TRUE(ReadFile(company.path() / "ISSUES.TLI") == tliBefore);
    EXPECT_FALSE(Link(7, kPmzProperty));
    EXPECT_EQ(LastId(), 100);
}

TEST_F(PmzTest, AFailedLinkWriteOrLastIdRestoresBothFiles) {
    for (auto& e : list) ASSERT_EQ(xio_commit(e.handle), XIO_OK);
    const std::string tliBefore = ReadFile(company.path() / "ISSUES.TLI");
    const std::string pmzBefore = ReadFile(company.path() / "ISSUES.PMZ");
    struct Case {
        xio::FaultCall call;
        const char* abbr;
        int status;
        const char* text;
    } cases[] = {{xio::FaultCall::WriteRecord, "PMZ", XIO_DISK_FULL, "Out of disk space"},
                 {xio::FaultCall::WriteRecord, "TLI", XIO_IO_ERROR, "Unable to read from or write to"},
                 {xio::FaultCall::WriteHeader, "TLI", XIO_IO_ERROR, "Unable to update Last batch"},
                 // The numbers' own words, and the full disk as why.
                 {xio::FaultCall::WriteHeader, "TLI", XIO_DISK_FULL,
                  "Unable to update Last batch, Last payment ID, or Run number: Out of disk space\n"}};
    for (const auto& c : cases) {
        progress = convert::ConvertProgress([] { return int64_t{0}; });
        std::string report;
        {
            convert::testing::FailingCalls fail;
            // The second TLI write is the first issue's link record.
            fail.Fail(c.call, c.call == xio::FaultCall::WriteRecord && c.abbr == std::string("TLI") ? 2 : 1, c.status,
                      c.abbr);
            report = Run({Issue({{"ISSUE", "1"}, {"PMPROP", "P1"}}), Issue({{"ISSUE", "2"}})}, true);
        }
        EXPECT_THAT(report, HasSubstr(c.text));
        EXPECT_EQ(progress.messages, 1u) << c.text;
        EXPECT_EQ(ReadFile(textPath).find("Previously Converted"), std::string::npos);
        for (auto& e : list) ASSERT_EQ(xio_commit(e.handle), XIO_OK);
        EXPECT_TRUE(ReadFile(company.path() / "ISSUES.TLI") == tliBefore) << c.text;
        EXPECT_TRUE(ReadFile(company.path() / "ISSUES.PMZ") == pmzBefore) << c.text;
        EXPECT_EQ(LastId(), 100);
    }
}

TEST_F(PmzTest, WithoutTheIssueApplicationNothingOpens) {
    suite::CompanySettings s = suite::default_settings({"GL", "PM"});
    suite::write_settings(company.path() / suite::kSettingsFileName, s);
    suite::open_company(company.path());
    convert::OpenFilesList files;
    uint16_t error = 0;
    xvPMZ converter;
    EXPECT_FALSE(converter.OpenFiles(files, 3020, error));
    EXPECT_EQ(error, 9843);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].abbr, "TLI");
}

TEST_F(PmzTest, AMissingTenantFileEndsTheFile) {
    for (auto& e : list)
        if (e.abbr == "PMN") {
            xio_cls_file(e.handle);
            e.handle = 0;
        }
    EXPECT_THAT(Run({Issue({{"ISSUE", "1"}})}, true), HasSubstr("Unable to find an open PM Tenant file(95)"));
}

// A converter whose operator asks to stop once `stopAfter` issues were handled.
class StoppingPmz : public xvPMZ {
public:
    int stopAfter = 0;

protected:
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override {
        const bool accepted = xvPMZ::DispatchRecord(ctx, info, reason);
        if (--stopAfter == 0 && ctx.progress) ctx.progress->stop = 1;
        return accepted;
    }
};

TEST_F(PmzTest, AStopAfterSomeIssuesRestoresBothFiles) {
    for (auto& e : list) ASSERT_EQ(xio_commit(e.handle), XIO_OK);
    const std::string tliBefore = ReadFile(company.path() / "ISSUES.TLI");
    const std::string pmzBefore = ReadFile(company.path() / "ISSUES.PMZ");
    StoppingPmz converter;
    converter.stopAfter = 2;
    const std::string report = Run(converter,
                                   {Issue({{"ISSUE", "1"}, {"PMPROP", "P1"}}), Issue({{"ISSUE", "2"}, {"PMTENAN", "T1"}}),
                                    Issue({{"ISSUE", "3"}})},
                                   true);
    EXPECT_THAT(report, HasSubstr("Conversion canceled by operator"));
    EXPECT_EQ(ReadFile(textPath).find("Previously Converted"), std::string::npos);
    for (auto& e : list) ASSERT_EQ(xio_commit(e.handle), XIO_OK);
    EXPECT_TRUE(ReadFile(company.path() / "ISSUES.TLI") == tliBefore);
    EXPECT_TRUE(ReadFile(company.path() / "ISSUES.PMZ") == pmzBefore);
    EXPECT_EQ(LastId(), 100);
}

TEST_F(PmzTest, NotesOfAnythingButAnIssueAreRefused) {
    // A template that also takes notes of link records: they have no issue number to follow.
    const std::string tpl = company.str("links.tpl");
    WriteFile(tpl, ReadFile(data_folder() / "templates" / "xvpmz.tpl") +
                       "\nformat 2N\nfile TLI 0\nrecord 2\nnotes\nfield AISSUE\nfield FILEABB\nfield RECNUM\n"
                       "special \"Converted Notes\" longtext\n");
    Put("TLI", 2, {{"AISSUE", "101"}, {"FILEABB", "PMZ"}, {"RECNUM", "3"}}, 0);
    xvPMZ converter;
    const std::string report = Run(converter, {Issue({{"ISSUE", "101"}}), "2N,101,PMZ,3,Linked by hand"}, true, tpl);
    EXPECT_THAT(report, HasSubstr("Record type 'Issue link' cannot be converted as part of a PMZ Issues conversion(75)"));
    EXPECT_EQ(Notes(101), "");
}

// A converter whose notes cannot print once the records are read.
class UnprintablePmz : public xvPMZ {
protected:
    bool FinishConversion(convert::ConvertContext& ctx) override {
        ui::zp_cls_print_file(ctx.commandId, 201);
        return xvPMZ::FinishConversion(ctx);
    }
};

TEST_F(PmzTest, NotesThatCannotPrintRestoreBothFiles) {
    for (auto& e : list) ASSERT_EQ(xio_commit(e.handle), XIO_OK);
    const std::string tliBefore = ReadFile(company.path() / "ISSUES.TLI");
    UnprintablePmz converter;
    const std::string report =
        Run(converter, {Issue({{"ISSUE", "1"}, {"PMPROP", "P1"}, {"ASSIGN", "Bob"}, {"CLASSIF", "Flood"}})}, true);
    EXPECT_THAT(report, HasSubstr("Unable to print warning/log messages"));
    EXPECT_EQ(ReadFile(textPath).find("Previously Converted"), std::string::npos);
    for (auto& e : list) ASSERT_EQ(xio_commit(e.handle), XIO_OK);
    EXPECT_TRUE(ReadFile(company.path() / "ISSUES.TLI") == tliBefore);
    EXPECT_FALSE(Link(101, kPmzProperty));
    EXPECT_EQ(LastId(), 100);
}

}  // namespace
}  // namespace dz::pm::testing
