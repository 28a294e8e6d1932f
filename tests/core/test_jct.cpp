// The JC transaction converter in process: the cost-code cut and the accounting-date window, the
// rules of a transaction (types, categories, cost codes, billing levels, dates, deposits), the
// run number and batch, and every way a converted file can end early (stop, notes that cannot
// print, no run number), each of which must leave the JC transaction file as it was, the text
// file unstamped and no batch open.
#include "test_convert_support.h"

#include <gmock/gmock.h>

#include "convert/progress.h"
#include "convert/record_fields.h"
#include "convert/texts.h"
#include "converters/jc/jcm_fields.h"
#include "converters/jc/xvjcm.h"
#include "converters/jc/xvjct.h"
#include "modules/module_dlls.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"
#include "platform/suite/xd.h"
#include "platform/suite/zc.h"
#include "platform/ui/framework.h"
#include "platform/ui/print.h"

#include <sqlite3.h>

#include <functional>
#include <map>

namespace dz::jc {
namespace {

using namespace dz::convert::testing;
using convert::ConvertProgress;
using convert::FieldNo;
using convert::FormatNumber;
using convert::TextFileEntry;
using ::testing::HasSubstr;
using ::testing::Not;

const std::vector<std::string> kColumns = {
    "TJOB",   "TEXTRA",  "TPHASE", "TCAT",   "TRANTYP", "TRANDAT", "TACTDAT", "TDESC",  "TAMOUNT", "TUNITS",
    "TRDPLOC", "TRDPRUN", "TRDPSEQ", "TSTATUS", "TDEPADJ", "TADJID", "TRUN",    "TSEQ",   "TAPPL",   "TBATCH",
    "TSOURCE", "TVENDOR", "TINV",   "TDSEQ",  "TBANK",   "TCHECK",  "TDEPDAT", "TDEPID", "TEMPL",   "TPEDATE",
    "TCHKSEQ", "TEQ",     "TECCODE", "TERCODE", "TEQCT", "TSUB",    "TSITEM",  "NOTES"};

// A line of the shipped template: the named columns filled, the others empty.
std::string Tx(const std::map<std::string, std::string>& values) {
    std::string out = "1";
    for (const auto& c : kColumns) {
        const auto it = values.find(c);
        out += "," + (it == values.end() ? std::string() : it->second);
    }
    return out + "\r\n";
}
// A labor cost of job `job` on cost code 01-002.03, category LAB.
std::string Labor(const std::string& job = "100-001") {
    return Tx({{"TJOB", job}, {"TPHASE", "01-002.03"}, {"TCAT", "LAB"}, {"TRANTYP", "1"}, {"TRANDAT", "6/1/2026"},
               {"TAMOUNT", "10.00"}});
}

class JctTest : public ::testing::Test {
protected:
    virtual void Adjust(suite::CompanySettings&) {}

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(convert::testing::OpenTestCompany(company.path(), {"GL", "JC", "AR"},
                                                      [this](suite::CompanySettings& s) { Adjust(s); }, error))
            << error;
        for (const char* abbr : {"JCM", "GLM", "TXM", "ARM"})
            ASSERT_EQ(xio_create_file(abbr, 1, company.path() / (std::string("MASTER.") + abbr)), XIO_OK);
        n = JctFileNumber();
        ASSERT_EQ(xio_create_file("JCT", n, company.path() / (n == 7 ? "HISTORY.JCT" : "CURRENT.JCT")), XIO_OK);
        fs::create_directories(appData.path() / "ACCOUNTING" / "TEMPLATE");
        fs::copy_file(dz::data_folder() / "templates" / "xvjct.tpl",
                      appData.path() / "ACCOUNTING" / "TEMPLATE" / "xvjct.tpl");
        convert::SetApplicationDataFolder(appData.str());
        uint16_t error16 = 0;
        xvJCT opener;
        ASSERT_TRUE(opener.OpenFiles(list, 3020, error16));
        // Jobs (stored without their separators) billed at job level and at the third level;
        // standard categories LAB and MAT.
        Job("100001", 1);
        Job("100003", 3);
        for (const char* cat : {"LAB", "MAT"}) {
            xio_init_record(Jcm(), kRecStdCategory);
            convert::PutText(Jcm(), kRecStdCategory, "SCAT", cat);
            ASSERT_EQ(xio_wr_record(Jcm(), kRecStdCategory), XIO_OK);
        }
        ASSERT_EQ(xio_commit(Jcm()), XIO_OK);
        openBatches = suite::zb_open_batches();
    }

    void TearDown() override {
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
    uint16_t Jct() const { return convert::FindFileHandle(list, "JCT", n); }
    fs::path JctPath() const { return company.path() / (n == 7 ? "HISTORY.JCT" : "CURRENT.JCT"); }

    void Job(const std::string& job, int level) {
        xio_init_record(Jcm(), kRecJob);
        convert::PutText(Jcm(), kRecJob, "JOB", job);
        convert::PutNumber(Jcm(), kRecJob, "JBLEVEL", level);
        ASSERT_EQ(xio_wr_record(Jcm(), kRecJob), XIO_OK);
    }

    // Sets JC settings of header 2: numbers, and dates.
    void Settings(const std::map<std::string, double>& numbers, const std::map<std::string, x_date_type>& dates = {}) {
        const uint16_t h = Jcm();
        ASSERT_EQ(xio_rd_header(h, kHdrSettings, 1), XIO_OK);
        for (const auto& [name, value] : numbers)
            convert::PutNumber(h, convert::HeaderFieldNo(h, kHdrSettings, name.c_str()), value);
        for (const auto& [name, value] : dates)
            convert::PutDate(h, convert::HeaderFieldNo(h, kHdrSettings, name.c_str()), value);
        ASSERT_EQ(xio_wr_header(h, kHdrSettings), XIO_OK);
        ASSERT_EQ(xio_commit(h), XIO_OK);
    }

    std::string Text(const std::string& name, const std::string& body, const std::string& tpl = "xvjct") {
        const std::string path = texts.str(name);
        WriteFile(path, "#,JCT," + tpl + "\r\n" + body);
        return path;
    }

    std::string Run(const std::string& path, const std::string& taskName, xvJCT& converter) {
        ui::zqTask task(taskName, 15, taskName == "Convert" ? 3020 : 3010, 5);
        const std::string reportPath = company.str("report.txt");
        const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, reportPath);
        converter.ConvertFile(list, TextFileEntry{path, 203}, &progress, print, task, "", nullptr);
        ui::zp_cls_print_file(task.ID(), 201);
        ui::xp_close_print(print);
        return ReadFile(reportPath);
    }
    std::string Run(const std::string& path, const std::string& taskName) {
        xvJCT converter;
        return Run(path, taskName, converter);
    }

    // The stored transactions, in key order: the fields asked for, as text.
    std::vector<std::map<std::string, std::string>> Stored(const std::vector<std::string>& fields) {
        std::vector<std::map<std::string, std::string>> out;
        const uint16_t h = Jct();
        for (int st = xio_rd_first(h, kRecJcTransaction, 0, 0); st == XIO_OK;
             st = xio_rd_next(h, kRecJcTransaction, 0, 0)) {
            std::map<std::string, std::string> row;
            for (const auto& f : fields) {
                const uint16_t no = FieldNo(h, kRecJcTransaction, f.c_str());
                xio_fld_def d;
                xio_get_fld_def(h, no, d);
                row[f] = d.type == XIO_TYPE_TEXT ? convert::GetText(h, no) : FormatNumber("%.0f", convert::GetNumber(h, no));
            }
            out.push_back(row);
        }
        return out;
    }

    uint16_t n = 6;
    ScratchDir company, texts, appData;
    convert::OpenFilesList list;
    RecordingUi ui;
    ConvertProgress progress;
    std::size_t openBatches = 0;
};

// ---- The helpers ------------------------------------------------------------------------------

TEST_F(JctTest, ACostCodeIsCutToItsLevelBySections) {
    // The company's cost codes: 2, 3 and 2 characters.
    std::string code = "01-002.03";
    EXPECT_EQ(BuildCostCodeKey(code, 2), 1);
    EXPECT_EQ(code, "0100200");
    code = "0100203";
    BuildCostCodeKey(code, 1);
    EXPECT_EQ(code, "0100000");
    code = "0100203";
    BuildCostCodeKey(code, 3);
    EXPECT_EQ(code, "0100203");
    // A blank section stays blank.
    code = "01002";
    BuildCostCodeKey(code, 1);
    EXPECT_EQ(code, "01000");
}

TEST_F(JctTest, TheZeroSectionRule) {
    EXPECT_TRUE(ZeroSectionsValid("01-000", 2));
    EXPECT_FALSE(ZeroSectionsValid("00-001", 2));
    EXPECT_FALSE(ZeroSectionsValid("00-000", 2));
    EXPECT_TRUE(ZeroSectionsValid("01-002.00", 3));
    EXPECT_FALSE(ZeroSectionsValid("01-000.03", 3));
}

TEST_F(JctTest, TheDateWindow) {
    const x_date_type june30 = suite::zqDate(6, 30, 2026), july1 = suite::zqDate(7, 1, 2026);
    EXPECT_TRUE(CheckDateWindow(july1, nullptr, true));
    JCDateContext context;  // both bounds unset
    EXPECT_TRUE(CheckDateWindow(july1, &context, true));
    context.lastAccountingDate = june30;
    EXPECT_TRUE(CheckDateWindow(june30, &context, false));
    EXPECT_FALSE(CheckDateWindow(july1, &context, false));
    context = {};
    context.periodEnd = june30;
    EXPECT_TRUE(CheckDateWindow(july1, &context, false));  // periods not used
    EXPECT_FALSE(CheckDateWindow(july1, &context, true));
    EXPECT_TRUE(CheckDateWindow(june30, &context, true));
}

// ---- The rules of a transaction -------------------------------------------------------------

// Sees each transaction as the handler left it, and may act on the run after a record.
class ObservedJCT : public xvJCT {
public:
    std::vector<std::map<std::string, std::string>> accepted;  // TRUN, TSEQ, TBATCH, TPHASE
    std::function<void(convert::ConvertContext&, int)> after;   // with the number of records so far
    int records = 0;

protected:
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override {
        const bool ok = xvJCT::DispatchRecord(ctx, info, reason);
        if (ok) {
            const uint16_t h = ctx.mainHandle;
            auto num = [&](const char* f) { return FormatNumber("%.0f", convert::GetNumber(h, kRecJcTransaction, f)); };
            accepted.push_back({{"TRUN", num("TRUN")},
                                {"TSEQ", num("TSEQ")},
                                {"TBATCH", convert::GetText(h, kRecJcTransaction, "TBATCH")},
                                {"TPHASE", convert::GetText(h, kRecJcTransaction, "TPHASE")}});
        }
        if (after) after(ctx, ++records);
        return ok;
    }
};

TEST_F(JctTest, TypesExtrasAndCategories) {
    const std::string body =
        Tx({{"TJOB", "100-001"}, {"TRANTYP", "31"}, {"TRANDAT", "6/1/2026"}, {"TACTDAT", "6/1/2026"}}) +
        Tx({{"TJOB", "100-001"}, {"TEXTRA", "E1"}, {"TPHASE", "01-002.03"}, {"TCAT", "LAB"}, {"TRANTYP", "1"},
            {"TRANDAT", "6/1/2026"}}) +
        // No cost code: 12358, before the category is looked up (PNT is no standard category).
        Tx({{"TJOB", "100-001"}, {"TCAT", "PNT"}, {"TRANTYP", "1"}, {"TRANDAT", "6/1/2026"}}) +
        Tx({{"TJOB", "100-001"}, {"TPHASE", "01-002.03"}, {"TCAT", "PNT"}, {"TRANTYP", "1"}, {"TRANDAT", "6/1/2026"}}) +
        // A type the table does not name has no rule of its own.
        Tx({{"TJOB", "100-001"}, {"TRANTYP", "16"}, {"TRANDAT", "6/1/2026"}}) +
        // A cost type needs a category while categories are used, else a cost code.
        Tx({{"TJOB", "100-001"}, {"TRANTYP", "7"}, {"TRANDAT", "6/1/2026"}}) +
        // A commitment change takes no category, and needs a cost code.
        Tx({{"TJOB", "100-001"}, {"TPHASE", "01-002.03"}, {"TCAT", "LAB"}, {"TRANTYP", "23"},
            {"TRANDAT", "6/1/2026"}}) +
        Tx({{"TJOB", "100-001"}, {"TRANTYP", "23"}, {"TRANDAT", "6/1/2026"}});
    const std::string text = Text("types.txt", body);
    std::string report = Run(text, "Examine Files");
    EXPECT_THAT(report, HasSubstr("Transaction type 'General ledger only (31)' cannot be converted with this "
                                  "program(514)"));
    EXPECT_THAT(report, Not(HasSubstr("(503)")));  // extras tracked: not checked
    EXPECT_THAT(report, HasSubstr("No Phase, Category 'PNT' is invalid for Job '100-001' without a Phase(505)"));
    EXPECT_THAT(report, HasSubstr("Standard Category 'PNT' does not yet exist, it is required for this trans record "
                                  "with Job '100-001'(506)"));
    EXPECT_THAT(report, HasSubstr("Transaction type 'Equipment cost (7)' requires a Category(508)"));
    EXPECT_THAT(report, HasSubstr("Transaction type 'Approved commitment change (23)' cannot have a Category, it has "
                                  "'LAB'(511)"));
    EXPECT_THAT(report, HasSubstr("Transaction type 'Approved commitment change (23)' requires a Phase(509)"));
    EXPECT_EQ(progress.file_rejected, 6u);

    Settings({{"PTRACKX", 1}, {"CCATUSG", 2}});
    report = Run(text, "Examine Files");
    EXPECT_THAT(report, HasSubstr("Transaction type 'Equipment cost (7)' requires a Phase(509)"));
    EXPECT_THAT(report, HasSubstr("Not tracking Extras, Extra 'E1' not allowed for Job '100-001'(503)"));
    EXPECT_THAT(report, HasSubstr("Not using Categories, Category 'PNT' not allowed for Job '100-001'(504)"));
}

TEST_F(JctTest, BillingLevels) {
    auto billing = [](const std::string& job, const std::string& phase, const std::string& cat = "") {
        return Tx({{"TJOB", job}, {"TPHASE", phase}, {"TCAT", cat}, {"TRANTYP", "24"}, {"TRANDAT", "6/1/2026"}});
    };
    const std::string body = billing("100-001", "01-002.03") +  // job level: the cost code goes
                             billing("100-003", "02-001.01") +  // level 3: cut to two sections
                             billing("100-003", "02-001.00") +  // already at level 2
                             billing("100-003", "02-000.00") +  // level 1: above the billing level
                             billing("100-003", "") +           // no cost code at level 3
                             billing("999-999", "01-002.03") +  // no job, AR: only the category counts
                             billing("999-999", "01-002.03", "LAB") +
                             billing("100-000", "01-002.03");  // level 0: no section to cut to
    Job("100000", 0);
    ObservedJCT converter;
    const std::string report = Run(Text("billing.txt", body), "Convert", converter);
    ASSERT_EQ(converter.accepted.size(), 4u) << report;
    EXPECT_EQ(converter.accepted[0]["TPHASE"], "");
    EXPECT_EQ(converter.accepted[1]["TPHASE"], "0200100");
    EXPECT_EQ(converter.accepted[2]["TPHASE"], "0200100");
    EXPECT_EQ(converter.accepted[3]["TPHASE"], "0100203");
    EXPECT_EQ(progress.file_rejected, 4u);
    EXPECT_THAT(report, HasSubstr("Trans type 'Original contract (24)' is not at or below its billing level, see help for more "
                                  "info(512)"));
    EXPECT_THAT(report, Not(HasSubstr("Message")));  // the cost code of job level goes without a word
}

TEST_F(JctTest, AccountingDates) {
    Settings({{"CPERSIZ", 5}}, {{"CLACTDT", suite::zqDate(6, 30, 2026)}, {"CPEDATE", suite::zqDate(5, 31, 2026)}});
    auto line = [](const std::string& type, const std::string& acct, const std::string& cat = "LAB",
                   const std::string& phase = "01-002.03") {
        return Tx({{"TJOB", "100-003"}, {"TPHASE", phase}, {"TCAT", cat}, {"TRANTYP", type}, {"TRANDAT", "6/1/2026"},
                   {"TACTDAT", acct}});
    };
    const std::string body = line("10", "7/1/2026") +               // after the last accounting date
                             line("1", "7/1/2026") +                // no date rule for type 1
                             line("10", "6/15/2026") +              // after the period end, periods not used
                             line("27", "", "", "01-002.00") +      // billing rule passes, no date
                             line("30", "6/1/2026", "", "") +       // a receipt with its date
                             line("30", "6/1/2026", "", "01-002.03");  // a receipt with a cost code
    const std::string report = Run(Text("dates.txt", body), "Examine Files");
    EXPECT_THAT(report, HasSubstr("Accounting date ' 7/01/2026' is invalid when compared against dates in JC "
                                  "settings(516)"));
    EXPECT_THAT(report, HasSubstr("Transaction type 'Billing (27)' requires an accounting date(515)"));
    EXPECT_THAT(report, HasSubstr("Transaction type 'Cash receipt (30)' cannot have a Phase, it has '01-002.03'(513)"));
    EXPECT_EQ(progress.file_rejected, 3u);
}

TEST_F(JctTest, DepositsAndTheFieldsTheConversionSets) {
    const std::string body =
        Tx({{"TJOB", "100-001"}, {"TPHASE", "01-002.03"}, {"TCAT", "LAB"}, {"TRANTYP", "1"}, {"TRANDAT", "6/1/2026"},
            {"TDEPDAT", "6/2/2026"}, {"TBANK", "OPER"}, {"TRUN", "7"}, {"TBATCH", "JC000042"}, {"TSTATUS", "2"}}) +
        Tx({{"TJOB", "100-001"}, {"TRANTYP", "30"}, {"TRANDAT", "6/1/2026"}, {"TACTDAT", "6/1/2026"},
            {"TDEPDAT", "6/2/2026"}, {"TDEPID", "D-1"}}) +
        Tx({{"TJOB", "100-001"}, {"TPHASE", "01-002.03"}, {"TCAT", "LAB"}, {"TRANTYP", "1"}, {"TRANDAT", "6/1/2026"},
            {"TECCODE", "100200"}, {"TEQCT", "LOADER"}});
    ObservedJCT converter;
    const std::string report = Run(Text("deposits.txt", body), "Examine Files", converter);
    EXPECT_THAT(report, HasSubstr("A Deposit date is only allowed when the trans type is 'Cash receipt(30)', "
                                  "' 6/02/2026' will be cleared(536)"));
    EXPECT_THAT(report, HasSubstr("Deposit date requires a Bank account, ' 6/02/2026' will not be converted(526)"));
    EXPECT_THAT(report, HasSubstr("Deposit ID requires a Deposit date, 'D-1' will not be converted(538)"));
    EXPECT_THAT(report, HasSubstr("Run number is automatically set during conversion, '7' will not be converted(520)"));
    EXPECT_THAT(report, HasSubstr("Batch is automatically set during conversion, 'JC000042' will not be "
                                  "converted(520)"));
    EXPECT_THAT(report, HasSubstr("Transaction status is not a convertible field, 'Unposted (2)' will not be "
                                  "converted(518)"));
    EXPECT_THAT(report, HasSubstr("Cost code requires Equipment, '100-200' will not be converted(528)"));
    EXPECT_THAT(report, HasSubstr("Equipment type requires Equipment, 'LOADER' will not be converted(528)"));
    // The first line's date went with 12835 alone: one bank message in all.
    std::size_t banks = 0;
    for (auto at = report.find("requires a Bank account"); at != std::string::npos;
         at = report.find("requires a Bank account", at + 1))
        ++banks;
    EXPECT_EQ(banks, 1u);
    // Examine Files: no run and no batch, but the sequence counts.
    ASSERT_EQ(converter.accepted.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(converter.accepted[i]["TRUN"], "0");
        EXPECT_EQ(converter.accepted[i]["TBATCH"], "");
        EXPECT_EQ(converter.accepted[i]["TSEQ"], std::to_string(i + 1));
    }
    EXPECT_EQ(suite::zb_open_batches(), openBatches);
}

TEST_F(JctTest, RecordsOfOtherFilesAndCustomFields) {
    const std::string tpl = (fs::path(DZ_TEST_DATA_DIR) / "jct" / "xvjct_other.tpl").string();
    const std::string report =
        Run(Text("other.txt", Labor() + "U,1,1,Crew,North\r\nJ,100-009\r\n", tpl), "Convert");
    EXPECT_THAT(report, HasSubstr("Record type 'Job' cannot be converted as part of a JC Transaction conversion(75)"));
    EXPECT_THAT(report, HasSubstr("Custom fields are not supported in JC Transaction conversions"));
    EXPECT_EQ(Stored({"TSEQ"}).size(), 1u);
    xio_init_record(Jcm(), kRecJob);
    convert::PutText(Jcm(), kRecJob, "JOB", "100-009");
    EXPECT_NE(xio_find_record(Jcm(), kRecJob, 0), XIO_OK);
}

// ---- The run number and batch -----------------------------------------------------------------

TEST_F(JctTest, RunNumbersPastSixteenBitsStayWhole) {
    const uint16_t h = Jct();
    ASSERT_EQ(xio_rd_header(h, 1, 1), XIO_OK);
    convert::PutNumber(h, xio_num(h, XIO_NUM_HEADER, 1, "LASTRUN"), 32767);
    ASSERT_EQ(xio_wr_header(h, 1), XIO_OK);
    ASSERT_EQ(xio_commit(h), XIO_OK);
    xvJCT converter;
    Run(Text("big.txt", Labor() + Labor()), "Convert", converter);
    EXPECT_EQ(converter.runNumber, 32768u);
    const auto rows = Stored({"TRUN", "TSEQ", "TBATCH", "TAPPL", "TSOURCE", "TOSRC"});
    ASSERT_EQ(rows.size(), 2u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].at("TRUN"), "32768");
        EXPECT_EQ(rows[i].at("TSEQ"), std::to_string(i + 1));
        EXPECT_EQ(rows[i].at("TBATCH"), converter.batchName);
        EXPECT_EQ(rows[i].at("TAPPL"), "XV");
        EXPECT_EQ(rows[i].at("TOSRC"), "1");
    }
    EXPECT_EQ(converter.batchName.substr(0, 2), "XV");
    EXPECT_TRUE(converter.RecordIds().empty());  // numbered by the conversion: nothing to keep
    EXPECT_EQ(suite::zb_open_batches(), openBatches);
}

class JctHistory : public JctTest {
protected:
    void Adjust(suite::CompanySettings& s) override { s.jc_transaction_flag = 1; }
};

TEST_F(JctHistory, ACompanyKeepingTransactionsInTheHistoryFileConvertsIntoFile7) {
    ASSERT_EQ(n, 7);
    const fs::path tpl = fs::path(DZ_TEST_DATA_DIR) / "jct" / "xvjct_history.tpl";
    Run(Text("history.txt", Labor(), tpl.string()), "Convert");
    EXPECT_EQ(Stored({"TSEQ"}).size(), 1u);
    // The shipped template names file 6: it does not fit this company.
    const std::string report = Run(Text("current.txt", Labor()), "Convert");
    EXPECT_THAT(report, HasSubstr("Unable to create a structure from the template file"));
    EXPECT_EQ(Stored({"TSEQ"}).size(), 1u);
}

// A location of two sections is stored without its separator and named as it was stored.
class JctLocationFormat : public JctTest {
protected:
    void Adjust(suite::CompanySettings& s) override {
        s.formats[142].sections = {suite::KeySection{"Site", 2, "-", true, false},
                                   suite::KeySection{"Yard", 8, "", true, false}};
    }
};

TEST_F(JctLocationFormat, AClearedLocationIsNamedAsGiven) {
    const std::string body = Tx({{"TJOB", "100-001"}, {"TPHASE", "01-002.03"}, {"TCAT", "LAB"}, {"TRANTYP", "1"},
                                 {"TRANDAT", "6/1/2026"}, {"TRDPLOC", "NB-MAIN"}});
    const std::string report = Run(Text("location.txt", body), "Examine Files");
    EXPECT_THAT(report, HasSubstr("DP Location is not a convertible field, 'NBMAIN' will not be converted(518)"));
}

// ---- Files that end early ---------------------------------------------------------------------

class JctEndsEarly : public JctTest {
protected:
    std::string Convert(xvJCT& converter) {
        // Each line with a warning (its application is set by the conversion).
        const std::string line = Tx({{"TJOB", "100-001"}, {"TPHASE", "01-002.03"}, {"TCAT", "LAB"}, {"TRANTYP", "1"},
                                     {"TRANDAT", "6/1/2026"}, {"TAPPL", "JC"}});
        text = Text("early.txt", line + line + line + line);
        textBefore = ReadFile(text);
        return Run(text, "Convert", converter);
    }
    void ExpectNothingChanged(const std::string& jctBefore) {
        EXPECT_EQ(ReadFile(text), textBefore);  // not stamped
        EXPECT_EQ(suite::zb_open_batches(), openBatches);
        CloseAll();
        EXPECT_TRUE(ReadFile(JctPath()) == jctBefore);  // (bytes of a database: not printed)
    }
    std::string text, textBefore;
};

TEST_F(JctEndsEarly, TheOperatorStopsAfterTheThirdRecord) {
    const std::string before = ReadFile(JctPath());
    ObservedJCT converter;
    converter.after = [](convert::ConvertContext& ctx, int records) {
        if (records == 3) ctx.progress->stop = 1;
    };
    EXPECT_THAT(Convert(converter), HasSubstr("Conversion canceled by operator"));
    EXPECT_EQ(converter.records, 3);
    ExpectNothingChanged(before);
}

TEST_F(JctEndsEarly, TheNotesCannotPrint) {
    const std::string before = ReadFile(JctPath());
    ObservedJCT converter;
    converter.after = [](convert::ConvertContext& ctx, int records) {
        if (records == 2) ui::zp_cls_print_file(ctx.commandId, 201);
    };
    EXPECT_THAT(Convert(converter), HasSubstr("Unable to print warning/log messages"));
    ExpectNothingChanged(before);
}

TEST_F(JctEndsEarly, NoRunNumberCanBeTaken) {
    const std::string before = ReadFile(JctPath());
    // Another program holds the header that keeps the last run number.
    uint16_t other = 0;
    ASSERT_EQ(xio_open_file(JctPath(), 0, other), XIO_OK);
    ASSERT_EQ(xio_rd_header(other, 1, 1), XIO_OK);
    ObservedJCT converter;
    EXPECT_THAT(Convert(converter), HasSubstr("Unable to read from or write to a Halvorsend data file"));
    EXPECT_EQ(converter.runNumber, 0u);
    EXPECT_EQ(converter.records, 0);
    xio_free_header(other, 1);
    xio_cls_file(other);
    ExpectNothingChanged(before);
}

TEST_F(JctEndsEarly, TheJcSettingsCannotBeRead) {
    const std::string before = ReadFile(JctPath());
    // Another program has taken the JC settings out of the JC master file.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((company.path() / "MASTER.JCM").c_str(), &db), SQLITE_OK);
    const int renamed = sqlite3_exec(db, "ALTER TABLE h2 RENAME TO gone", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ASSERT_EQ(renamed, SQLITE_OK);
    ObservedJCT converter;
    EXPECT_THAT(Convert(converter), HasSubstr("Unable to read from or write to a Halvorsend data file"));
    EXPECT_EQ(converter.records, 0);
    ExpectNothingChanged(before);
}

}  // namespace
}  // namespace dz::jc
