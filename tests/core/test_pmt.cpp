// The PM transaction converters in process: the payment-ID renumbering, the batch candidates and
// the payment groups on their own, and the ways a conversion ends early (a stop in pass 2, a stop
// between the passes, header updates that fail), each leaving the transaction file, the PM
// System file and the text file as they were.
#include "pm_fixture.h"

#include "convert/progress.h"
#include "converters/pm/xvpmp.h"
#include "converters/pm/xvpmt.h"
#include "platform/ui/framework.h"
#include "platform/ui/print.h"

#include <gmock/gmock.h>

#include <cmath>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <tuple>

namespace dz::pm::testing {
namespace {

// ---- Renumbering, batch candidates, groups ----------------------------------------------------------

TEST(PmtNumbering, NewIdsFollowTheLastAndStartAgainAfterTheLastPossible) {
    std::map<double, double> map;
    double last = 999999998;
    EXPECT_EQ(RenumberPaymentId(0, map, 999999998, last, true), 0);  // 0 stays 0, not entered
    EXPECT_TRUE(map.empty());
    EXPECT_EQ(RenumberPaymentId(11, map, 999999998, last, true), 999999999);
    EXPECT_EQ(last, 999999999);
    // What the next new ID would be, nothing entered.
    double probe = last;
    EXPECT_EQ(RenumberPaymentId(12, map, 999999998, probe, false), 1);
    EXPECT_EQ(map.size(), 1u);
    EXPECT_EQ(probe, 999999999);
    EXPECT_EQ(RenumberPaymentId(12, map, 999999998, last, true), 1);
    EXPECT_EQ(last, 1);  // followed the numbers round
    EXPECT_EQ(RenumberPaymentId(13, map, 999999998, last, true), 2);
    EXPECT_EQ(last, 2);
    // Met again (pass 2): the same new IDs, the last ID given stays.
    EXPECT_EQ(RenumberPaymentId(11, map, 999999998, last, true), 999999999);
    EXPECT_EQ(RenumberPaymentId(13, map, 999999998, last, true), 2);
    EXPECT_EQ(last, 2);
}

TEST(PmtNumbering, ALastIdFarFromTheEndIsNotMovedByTheWrap) {
    // A wrap with the last ID given far below the end keeps the higher last ID.
    std::map<double, double> map{{1, 5}};
    double last = 7;
    EXPECT_EQ(RenumberPaymentId(2, map, 999999998, last, true), 1);
    EXPECT_EQ(last, 7);
    map = {};
    last = 40;
    EXPECT_EQ(RenumberPaymentId(9, map, 40, last, true), 41);
    EXPECT_EQ(last, 41);
}

TEST(PmtNumbering, BatchCandidatesMovePastTheBatchesOnFile) {
    const std::set<double> onFile{1, 42, 43};
    auto exists = [&](double c) { return onFile.count(c) != 0; };
    // What a ten-digit batch field holds.
    auto fits = [](double n) { return std::isfinite(n) && n == std::trunc(n) && n >= 0 && n <= 9999999999.0; };
    auto first = [&](const char* last) { return FirstFreeBatch(last, fits, exists).value_or(-1); };
    EXPECT_EQ(first("0"), 2);     // 1 is taken
    EXPECT_EQ(first(""), 2);
    EXPECT_EQ(first("X7"), 2);    // not a number: 0
    EXPECT_EQ(first("41"), 44);
    EXPECT_EQ(first("43"), 44);
    EXPECT_EQ(first("99"), 100);
    EXPECT_EQ(FirstFreeBatch("0", fits, [](double) { return false; }).value_or(-1), 1);
    // A LASTBAT that cannot be raised into a batch number gives none, and never a loop.
    for (const char* last : {"-5", "inf", "nan", "1e16", "1e308", "2.5", "9999999999"})
        EXPECT_FALSE(FirstFreeBatch(last, fits, exists).has_value()) << last;
    EXPECT_FALSE(FirstFreeBatch("9999999990", fits, [](double) { return true; }).has_value());
}

TEST(PmtGroups, MiscIncomeAmountsMustMatchThePayment) {
    MiscIncomePaymentGroup paid(10000, 17500, 70, "P100", "PARK", "44", "OPER", 3);
    paid.Add(5000, false, 0);
    paid.Add(2500, false, 0);
    std::string reason = "old", amount;
    EXPECT_TRUE(paid.Check(reason, amount, true));
    EXPECT_EQ(reason, "");

    MiscIncomePaymentGroup shortPaid(10000, 17000, 71, "P100", "PARK", "44", "OPER", 3);
    shortPaid.Add(5000, false, 0);
    shortPaid.Add(2500, false, 0);
    EXPECT_TRUE(shortPaid.Check(reason, amount, false));  // amounts not asked about
    EXPECT_FALSE(shortPaid.Check(reason, amount, true));
    EXPECT_EQ(reason, "");
    EXPECT_EQ(amount, "Misc inc pymt amt '170.00' for 'PARK' and the sum of its pymt transactions '175.00' do not "
                      "match(1278)");
    // Every later member fails on the payment's line.
    EXPECT_FALSE(shortPaid.Check(reason, amount, true));
    EXPECT_EQ(reason, "An associated transaction with Payment ID '71' (line 3 in the text file) is invalid(1268)");
}

TEST(PmtGroups, TheFirstInvalidMemberIsTheLineNamed) {
    MiscIncomePaymentGroup group(10000, 10000, 72, "P100", "PARK", "", "", 3);
    group.Add(0, true, 9);
    group.Add(0, true, 12);
    std::string reason, amount;
    EXPECT_FALSE(group.Check(reason, amount, true));
    EXPECT_EQ(reason, "An associated transaction with Payment ID '72' (line 9 in the text file) is invalid(1268)");
    EXPECT_EQ(amount, "");

    ChargeFlowPaymentGroup opened(4, 80);  // opened invalid on line 4
    opened.Add(500, true, 7, 0, false, false);
    EXPECT_FALSE(opened.Check(reason));
    EXPECT_EQ(reason, "An associated transaction with Payment ID '80' (line 4 in the text file) is invalid(1268)");
}

TEST(PmtGroups, ChecksOfAChargeFlowPayment) {
    std::string reason;
    ChargeFlowPaymentGroup two(500, 500, 81, false);
    two.Add(500, false, 0, 0, true, false);
    EXPECT_FALSE(two.Check(reason));
    EXPECT_EQ(reason, "There are 2 non returned checks associated with Payment ID '81', there must be exactly one(1269)");
    EXPECT_EQ(two.PaymentAmount, 500);  // a later payment's amount is not added
    EXPECT_EQ(two.ItemTotal, 1000);

    ChargeFlowPaymentGroup returned(500, 500, 82, true);
    returned.Add(500, false, 0, 0, false, true);
    EXPECT_FALSE(returned.Check(reason));
    EXPECT_EQ(reason, "There are 2 returned checks associated with Payment ID '82', there must be zero or one(1270)");

    ChargeFlowPaymentGroup replaced(500, 500, 83, true);  // a returned check and its replacement
    replaced.Add(500, false, 0, 0, true, false);
    EXPECT_TRUE(replaced.Check(reason));
    ChargeFlowPaymentGroup none(500, 500, 84, true);  // no non-returned check at all
    EXPECT_TRUE(none.Check(reason));
}

// ---- Files ------------------------------------------------------------------------------------------------

// The transaction and the property converters both need GL and CM.
TEST(PmtFiles, WithoutGlOrCmTheMissingModulesFileIsNamed) {
    for (const auto& [installed, error, abbr] :
         {std::tuple{std::set<std::string>{"CM", "PM"}, 9844, "GLM"}, std::tuple{std::set<std::string>{"GL", "PM"}, 9845, "CMM"}}) {
        ScratchDir company;
        suite::write_settings(company.path() / suite::kSettingsFileName, suite::default_settings(installed));
        suite::open_company(company.path());
        xvPMT transactions;
        xvPMP properties;
        for (convert::xvConvert* converter : {static_cast<convert::xvConvert*>(&transactions),
                                              static_cast<convert::xvConvert*>(&properties)}) {
            convert::OpenFilesList list;
            uint16_t code = 0;
            EXPECT_FALSE(converter->OpenFiles(list, 3020, code));
            EXPECT_EQ(code, error);
            ASSERT_EQ(list.size(), 1u);
            EXPECT_EQ(list[0].abbr, abbr);
            EXPECT_EQ(list[0].handle, 0);
        }
        suite::close_company();
    }
}

// ---- Ending early ------------------------------------------------------------------------------------

// The converter with the ways to end a conversion early that the tests need.
class StoppingPmt : public xvPMT {
public:
    int stopAtPass2Record = 0;   // asks to stop while handling this record of pass 2 (1 = first)
    bool stopBetween = false;    // asks to stop as pass 2 is about to begin
    std::string failHeaderOf;    // "PMS" or "PMT": that header cannot be written
    std::function<void()> betweenPasses;  // runs as pass 2 is about to begin

protected:
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override {
        const bool ok = xvPMT::DispatchRecord(ctx, info, reason);
        if (!firstPass_ && ++pass2Records_ == stopAtPass2Record && ctx.progress) ctx.progress->stop = 1;
        return ok;
    }
    bool ShowPass(convert::ConvertContext& ctx, const char* text, int percent) override {
        if (stopBetween && percent == 50 && ctx.progress) ctx.progress->stop = 1;
        if (betweenPasses && percent == 50) betweenPasses();
        return xvPMT::ShowPass(ctx, text, percent);
    }
    int WriteHeader(uint16_t file, uint16_t header) override {
        if ((failHeaderOf == "PMS" && file == pms) || (failHeaderOf == "PMT" && file != pms)) return XIO_DISK_FULL;
        return xvPMT::WriteHeader(file, header);
    }

private:
    int pass2Records_ = 0;
};

class PmtEnding : public PmFixture {
protected:
    void SetUp() override {
        PmFixture::SetUp();
        Property("P100");
        Unit("P100", "U1");
        Tenant("T100");
        Lease("L100", 2, "P100", "U1", "T100");
        Put("PMR", 2, {{"SCLEASE", "L100"}, {"SCREV", "2"}, {"SCSLCAT", "Books"}});
        Put("PMP", 21, {{"MIPROP", "P100"}, {"MISRC", "PARK"}});
        Bank("OPER");
        const uint16_t pms = H("PMS");
        ASSERT_EQ(xio_rd_header(pms, 1, 1), XIO_OK);
        convert::PutText(pms, convert::HeaderFieldNo(pms, 1, "LASTBAT"), "41");
        convert::PutNumber(pms, convert::HeaderFieldNo(pms, 1, "LASTPMT"), 5000);
        ASSERT_EQ(xio_wr_header(pms, 1), XIO_OK);
        ASSERT_EQ(xio_commit(pms), XIO_OK);
    }

    std::string Text(const std::string& body, bool history = false) {
        const std::string path = texts.str(history ? "pmh.txt" : "pmt.txt");
        const std::string tpl = history ? "xvpmh.tpl" : "xvpmt.tpl";
        WriteFile(path, std::string(history ? "#,PMH," : "#,PMT,") +
                            (fs::path(DZ_SOURCE_DATA_DIR) / "templates" / tpl).string() + "\n" + body);
        return path;
    }
    static std::string MiscIncome(const std::string& id, const std::string& amount) {
        return "MI,P100,PARK,2/1/2026," + id + "," + amount + ",,09920100000,09930100000,09910100000,09930100000" + std::string(10, ',') + "\n";
    }
    // A charge flow of type `code` on lease L100(2) with the columns after the payment ID given
    // (CFRECOV .. CFMSAMT), its charge date and its four accounts.
    static std::string ChargeFlow(const std::string& code, const std::string& id, const std::string& amounts,
                                  const std::string& prop = "P100") {
        return "CF," + code + "," + prop + ",U1,T100,L100,2,2/1/2026,,,,2/1/2026,RENT,,,," + id + "," + amounts +
               ",09920100000,09930100000,09910100000,09920100000" + std::string(13, ',') + "\n";
    }
    static std::string Payment(const std::string& id, const std::string& check, const std::string& returned,
                               const std::string& bank = "OPER") {
        return "P," + id + ",,T100," + check + "," + returned + ",2/1/2026,1," + bank + ",,1,,,,,,,,,,5.00\n";
    }
    static std::string Sales(const std::string& day) {
        return "SV,P100,U1,T100,L100,2,1/31/2026,2/5/2026,1/" + day + "/2026,10.00,1,Gross,Books,\n";
    }

    std::string Run(xvPMT& converter, const std::string& path, const std::string& taskName,
                    convert::ConvertProgress* progress, uint16_t type = 605) {
        ui::zqTask task(taskName, 15, taskName == "Convert" ? 3020 : 3010, 5);
        const std::string reportPath = texts.str("report.txt");
        const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, reportPath);
        converter.ConvertFile(list, convert::TextFileEntry{path, type}, progress, print, task, "", nullptr);
        ui::zp_cls_print_file(task.ID(), 201);
        ui::xp_close_print(print);
        return ReadFile(reportPath);
    }

    // What a conversion may change: the PM System header and the transaction file's records
    // (the new transactions, or with 5 the history).
    std::string State(uint16_t fileNo = 1) {
        const uint16_t pms = H("PMS"), pmt = H("PMT", fileNo);
        std::string out;
        EXPECT_EQ(xio_rd_header(pms, 1, 0), XIO_OK);
        out += convert::GetText(pms, convert::HeaderFieldNo(pms, 1, "LASTBAT")) + "/" +
               WholeText(convert::GetNumber(pms, convert::HeaderFieldNo(pms, 1, "LASTPMT")));
        xio_free_header(pms, 1);
        EXPECT_EQ(xio_rd_header(pmt, 1, 0), XIO_OK);
        out += " run " + WholeText(convert::GetNumber(pmt, convert::HeaderFieldNo(pmt, 1, "LASTRUN")));
        xio_free_header(pmt, 1);
        for (uint16_t rec : {1, 9}) {
            int n = 0;
            xio_init_record(pmt, rec);
            for (int s = xio_rd_ge(pmt, rec, 0, 0); s == XIO_OK; s = xio_rd_next(pmt, rec, 0, 0)) ++n;
            out += " r" + std::to_string(rec) + "=" + std::to_string(n);
        }
        return out;
    }

    ScratchDir texts;
    RecordingUi ui;
};

TEST_F(PmtEnding, AConversionThatRunsThroughMovesTheNumbers) {
    StoppingPmt converter;
    const std::string path = Text(Sales("5") + Sales("6"));
    convert::ConvertProgress progress([] { return int64_t{0}; });
    Run(converter, path, "Convert", &progress);
    EXPECT_EQ(State(), "42/5000 run 1 r1=1 r9=2");
    EXPECT_NE(ReadFile(path).find("Previously Converted"), std::string::npos);
}

// A record that cannot be written for want of disk ends the file with both data files put back
// and the text unstamped, for new and history transactions alike; the progress window showed
// the second pass and the file written.
TEST_F(PmtEnding, AFullDiskRestoresNewAndHistoryTransactions) {
    for (const bool history : {false, true}) {
        SCOPED_TRACE(history);
        const uint16_t fileNo = history ? 5 : 1;
        const std::string before = State(fileNo);
        const std::string path = Text(Sales("5") + Sales("6"), history);
        const std::string text = ReadFile(path);
        convert::testing::FailingCalls fail;
        fail.Fail(xio::FaultCall::WriteRecord, 3, XIO_DISK_FULL, "PMT");  // after a sale and its batch
        StoppingPmt pmt;
        xvPMH pmh;
        convert::ConvertProgress progress([] { return int64_t{0}; });
        const std::string report =
            Run(history ? static_cast<xvPMT&>(pmh) : pmt, path, "Convert", &progress, history ? 606 : 605);
        EXPECT_TRUE(fail.Spent());
        EXPECT_THAT(report, ::testing::HasSubstr("Out of disk space"));
        EXPECT_EQ(State(fileNo), before);
        EXPECT_EQ(ReadFile(path), text);
        EXPECT_EQ(progress.status_text, "Transaction Pass 2 of 2");
        EXPECT_EQ(progress.data_file_desc, fs::path(xio_file_name("PMT", fileNo)).filename().string());
    }
}

bool CollectPrefill(const std::string& value, int16_t, int16_t, const std::string&, void* values) {
    static_cast<std::vector<std::string>*>(values)->push_back(value);
    return true;
}

// The table editor's prefill reads the accounts of both kinds of transaction file and writes
// nothing.
TEST_F(PmtEnding, PrefillHandsTheAccountsOverAndWritesNothing) {
    for (const bool history : {false, true}) {
        SCOPED_TRACE(history);
        const uint16_t fileNo = history ? 5 : 1;
        const std::string before = State(fileNo);
        const std::string path = Text(MiscIncome("8", "5.00") + Payment("8", "1201", "0"), history);
        const std::string text = ReadFile(path);
        std::vector<std::string> values;
        StoppingPmt pmt;
        xvPMH pmh;
        xvPMT& converter = history ? static_cast<xvPMT&>(pmh) : pmt;
        convert::ConvertProgress progress([] { return int64_t{0}; });
        ui::zqTask task("Substitution Tables", 12, 4010, 3);
        xvPMT::prefillCallback = &CollectPrefill;
        converter.PrefillTables(list, convert::TextFileEntry{path, static_cast<uint16_t>(history ? 606 : 605)},
                                &progress, task, &values);
        xvPMT::prefillCallback = nullptr;
        EXPECT_THAT(values, ::testing::Contains("09920100000"));
        EXPECT_EQ(State(fileNo), before);
        EXPECT_EQ(ReadFile(path), text);
    }
}

TEST_F(PmtEnding, AFilePutInPlaceOfTheTextBetweenThePassesChangesNothing) {
    StoppingPmt converter;
    const std::string newcomer = ReadFile(Text(Sales("5") + Sales("6") + Sales("7")));
    const std::string path = Text(Sales("5"));
    converter.betweenPasses = [&] {
        WriteFile(path + ".new", newcomer);
        fs::rename(path + ".new", path);
    };
    convert::ConvertProgress progress([] { return int64_t{0}; });
    const std::string report = Run(converter, path, "Convert", &progress);
    // Pass 2 read what pass 1 checked; the newcomer is neither read nor stamped over.
    EXPECT_EQ(State(), "42/5000 run 1 r1=1 r9=1") << report;
    EXPECT_EQ(ReadFile(path), newcomer);
    EXPECT_EQ(progress.notes, 1u) << "the time stamp was not added";
}

TEST_F(PmtEnding, AStopInPassTwoRestoresAndLeavesTheTextUnstamped) {
    const std::string before = State();
    StoppingPmt converter;
    converter.stopAtPass2Record = 2;
    const std::string path = Text(Sales("5") + Sales("6") + Sales("7"));
    const std::string text = ReadFile(path);
    convert::ConvertProgress progress([] { return int64_t{0}; });
    const std::string report = Run(converter, path, "Convert", &progress);
    EXPECT_NE(report.find("Conversion canceled by operator"), std::string::npos) << report;
    EXPECT_EQ(State(), before);
    EXPECT_EQ(ReadFile(path), text);
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(PmtEnding, HeadersThatCannotBeWrittenRestoreBothFiles) {
    // The PM System header is written first; the transaction file's header fails after it.
    for (const char* failing : {"PMT", "PMS"}) {
        SCOPED_TRACE(failing);
        const std::string before = State();
        StoppingPmt converter;
        converter.failHeaderOf = failing;
        const std::string path = Text(Sales("5"));
        const std::string text = ReadFile(path);
        ui.boxes.clear();
        convert::ConvertProgress progress([] { return int64_t{0}; });
        const std::string report = Run(converter, path, "Convert", &progress);
        // The full disk is said after the numbered words, as its cause.
        EXPECT_THAT(report, ::testing::HasSubstr("Unable to update Last batch, Last payment ID, or Run number: Out of disk space"));
        EXPECT_EQ(State(), before);
        EXPECT_EQ(ReadFile(path), text);
        ASSERT_EQ(ui.boxes.size(), 1u);
        EXPECT_EQ(progress.messages, 1u);
    }
}

TEST_F(PmtEnding, ACommitThatFailsLeavesBothFilesAsTheyWere) {
    // The disk fills as the transaction file commits, or as the PM System file does after it.
    for (const char* failing : {"PMT", "PMS"}) {
        SCOPED_TRACE(failing);
        const std::string before = State();
        const std::string path = Text(Sales("5") + MiscIncome("8", "5.00") +
                                      "P,8,,T100,1201,0,2/1/2026,1,OPER,,2,P100,PARK,,,,,,,,5.00\n");
        const std::string text = ReadFile(path);
        convert::testing::FailingCalls fail;
        fail.Fail(xio::FaultCall::Commit, 1, XIO_DISK_FULL, failing);
        StoppingPmt converter;
        convert::ConvertProgress progress([] { return int64_t{0}; });
        const std::string report = Run(converter, path, "Convert", &progress);
        EXPECT_TRUE(fail.Spent());
        EXPECT_EQ(State(), before) << report;
        EXPECT_EQ(ReadFile(path), text);
    }
}

TEST_F(PmtEnding, ATransactionWhosePaymentFailedAndThatCannotBeTakenBackEndsTheFile) {
    // The payment's new ID is on file already, so its write fails; then so does the delete that
    // should take its misc income back out.
    Put("PMT", 2, {{"PMTID", "5001"}, {"PTENANT", "T100"}, {"PAMT", "100"}});
    auto miscIncomes = [&] {
        const uint16_t pmt = H("PMT");
        int n = 0;
        xio_init_record(pmt, kPmtRecMiscIncome);
        for (int s = xio_rd_ge(pmt, kPmtRecMiscIncome, 0, 0); s == XIO_OK; s = xio_rd_next(pmt, kPmtRecMiscIncome, 0, 0))
            ++n;
        return n;
    };
    const std::string before = State();
    const std::string path = Text(Sales("5") + MiscIncome("8", "5.00") +
                                  "P,8,,T100,1201,0,2/1/2026,1,OPER,,2,P100,PARK,,,,,,,,5.00\n");
    const std::string text = ReadFile(path);
    for (const int status : {XIO_IO_ERROR, XIO_DISK_FULL}) {
        SCOPED_TRACE(status);
        convert::testing::FailingCalls fail;
        fail.Fail(xio::FaultCall::DeleteRecord, 1, status, "PMT");
        StoppingPmt converter;
        convert::ConvertProgress progress([] { return int64_t{0}; });
        const std::string report = Run(converter, path, "Convert", &progress);
        EXPECT_TRUE(fail.Spent());
        EXPECT_THAT(report, ::testing::HasSubstr(status == XIO_DISK_FULL ? "Out of disk space"
                                                                         : "Unable to read from or write to"));
        EXPECT_EQ(State(), before);
        EXPECT_EQ(miscIncomes(), 0);
        EXPECT_EQ(ReadFile(path), text);
    }
}

TEST_F(PmtEnding, AStopBetweenThePassesNamesTheCommand) {
    const std::string before = State();
    for (const std::string command : {"Examine Files", "Convert"}) {
        SCOPED_TRACE(command);
        StoppingPmt converter;
        converter.stopBetween = true;
        const std::string path = Text(Sales("5"));
        convert::ConvertProgress progress([] { return int64_t{0}; });
        const std::string report = Run(converter, path, command, &progress);
        EXPECT_NE(report.find(command == "Convert" ? "Conversion canceled by operator"
                                                   : "Examining files canceled by operator"),
                  std::string::npos)
            << report;
        EXPECT_EQ(report.find("Record Totals"), std::string::npos) << report;
        EXPECT_EQ(State(), before);
    }
}

// ---- Charge flows, their payments, misc income --------------------------------------------------------

class FailingReturnedCheck : public StoppingPmt {
public:
    bool fail = false;

protected:
    int MarkReturnedCheck(uint16_t pmt) override { return fail ? XIO_IO_ERROR : StoppingPmt::MarkReturnedCheck(pmt); }
};

TEST_F(PmtEnding, AReturnedCheckMarksTheEarlierPaymentOnlyOnceItsChargeFlowIsWritten) {
    // The first payment's check came back; the second replaces it under the same ID.
    const std::string body = ChargeFlow("2", "7", "1,,,,5.00,") + Payment("7", "0", "1") +
                             ChargeFlow("2", "7", "1,,,,5.00,") + Payment("7", "1234", "0");
    auto payments = [&] {
        const uint16_t pmt = H("PMT");
        std::vector<std::string> out;
        xio_init_record(pmt, kPmtRecPayment);
        for (int s = xio_rd_ge(pmt, kPmtRecPayment, 0, 0); s == XIO_OK; s = xio_rd_next(pmt, kPmtRecPayment, 0, 0))
            out.push_back(WholeText(convert::GetNumber(pmt, kPmtRecPayment, "PMTID")) + " check " +
                          WholeText(convert::GetNumber(pmt, kPmtRecPayment, "PCHECK")) + " returned " +
                          std::to_string(convert::GetFlag(pmt, kPmtRecPayment, "PRETCHK")));
        return out;
    };
    for (const bool fail : {true, false}) {
        SCOPED_TRACE(fail);
        FailingReturnedCheck converter;
        converter.fail = fail;
        const std::string path = Text(body);
        convert::ConvertProgress progress([] { return int64_t{0}; });
        const std::string report = Run(converter, path, "Convert", &progress);
        if (fail) {
            // The second charge flow went back out, its payment to the reject file with it.
            EXPECT_THAT(report, ::testing::HasSubstr("Unable to update returned check information on previous "
                                                     "Payment transaction record '7'(1266)"));
            EXPECT_THAT(report, ::testing::HasSubstr("The associated Charge flow transaction proceeding this "
                                                     "Payment transaction is invalid(1265)"));
            EXPECT_THAT(payments(), ::testing::ElementsAre("5001 check 0 returned 1"));
            EXPECT_EQ(State(), "42/5001 run 1 r1=1 r9=0");
            // The next run starts from what this one left.
            Put("PMT", 4, {{"CFRUN", "99"}, {"CFSEQ", "1"}});
        } else {
            EXPECT_THAT(report, ::testing::Not(::testing::HasSubstr("(1266)"))) << report;
            // Only the second run's own pair was added; the returned check took the earlier number.
            EXPECT_THAT(payments(), ::testing::ElementsAre("5001 check 0 returned 1", "5002 check 1234 returned 1"));
        }
    }
}

// A returned check is a line of the file: when its charge flow cannot be written it is rejected
// with it, and counted.
TEST_F(PmtEnding, AReturnedCheckWhoseChargeFlowIsRejectedIsCounted) {
    const std::string body = ChargeFlow("2", "7", "1,,,,5.00,") + Payment("7", "0", "1") +
                             ChargeFlow("2", "7", "1,,,,5.00,") + Payment("7", "1234", "0");
    convert::testing::FailingCalls fail;
    fail.Fail(xio::FaultCall::WriteRecord, 4, XIO_IO_ERROR, "PMT");  // the second charge flow
    StoppingPmt converter;
    convert::ConvertProgress progress([] { return int64_t{0}; });
    const std::string report = Run(converter, Text(body), "Convert", &progress);
    EXPECT_TRUE(fail.Spent());
    EXPECT_EQ(progress.run_records, 4u) << report;
    EXPECT_EQ(progress.run_rejected, 2u);
}

TEST_F(PmtEnding, ChargeFlowChecksInExamineFiles) {
    const std::string body =
        "CF,8" + std::string(38, ',') + "\n" +                       // 2: type 8, nothing else given
        ChargeFlow("0", "0", "1,,,5.00,,") +                           // 3: no type at all
        ChargeFlow("1", "0", "0,,,0,,") +                              // 4: zero charge, recovery No
        ChargeFlow("7", "0", "1,,Deposit,,,1.00") +                    // 4: a charge date on type 7
        ChargeFlow("2", "9", "1,,Deposit,,100.00,-99.99") +            // 5: credit not offset
        ChargeFlow("2", "9", "1,,,,5.00,") +                           // 6: no payment, none earlier
        ChargeFlow("1", "0", "1,,,5.00,,") + Payment("0", "0", "0") +  // 7: a payment after a charge
        ChargeFlow("2", "11", "1,,,,5.00,") + Payment("11", "0", "0", "NOBANK") +  // 9: unknown bank
        std::regex_replace(ChargeFlow("5", "0", "1,,,5.00,,"), std::regex("2/1/2026,RENT"), ",RENT");  // 12
    StoppingPmt converter;
    convert::ConvertProgress progress([] { return int64_t{0}; });
    const std::string report = Run(converter, Text(body), "Examine Files", &progress);
    using ::testing::HasSubstr;
    EXPECT_THAT(report, HasSubstr("Conversion not designed to convert 'Deposit refund (8)' transactions(1249)"));
    EXPECT_THAT(report, HasSubstr(" CF                3  Conversion not designed to convert ' (0)' transactions(1249)"));
    EXPECT_THAT(report, HasSubstr("The Charge amount amount field for this transaction is blank or zero(1258)"));
    EXPECT_THAT(report, HasSubstr("Recovery charge should always be Yes, it will be changed from No to Yes(1277)"));
    EXPECT_THAT(report, HasSubstr("'Deposit payment (7)' trans, ' 2/01/2026' will be cleared(1251)"));
    EXPECT_THAT(report, HasSubstr("The Credit amount '100.00' does not offset the Miscellaneous amount '-99.99'(1263)"));
    EXPECT_THAT(report, HasSubstr("Payment transaction with Payment ID '9' does not exist(1245)"));
    EXPECT_THAT(report, HasSubstr("Payment ID cannot be zero when a Charge flow transaction is followed by a Payment "
                                  "transaction(1244)"));
    EXPECT_THAT(report, HasSubstr("Receiving bank 'NOBANK' does not yet exist(1233)"));
    EXPECT_THAT(report, HasSubstr(" CF               12  Charge date is required for Transaction type 'Adjustment (5)'(1202)"));
}

TEST_F(PmtEnding, EachMiscIncomePaymentIsComparedWithItsPropertysNormalBank) {
    Bank("SAVE");
    const uint16_t pmp = H("PMP");
    xio_init_record(pmp, 1);
    convert::PutText(pmp, 1, "PROP", "P100");
    ASSERT_EQ(xio_rd_record(pmp, 1, 0, 1), XIO_OK);
    convert::PutText(pmp, 1, "POPBANK", "OPER");
    ASSERT_EQ(xio_rep_record(pmp, 1), XIO_OK);
    ASSERT_EQ(xio_commit(pmp), XIO_OK);
    std::string body;
    for (const auto& [id, bank] : {std::pair{"8", "OPER"}, std::pair{"9", "SAVE"}, std::pair{"10", "oper"}})
        body += MiscIncome(id, "5.00") + "P," + id + ",,,12" + id + ",0,2/1/2026,1," + bank + ",,2,P100,PARK,,,,,,,,5.00\n";
    StoppingPmt converter;
    convert::ConvertProgress progress([] { return int64_t{0}; });
    const std::string report = Run(converter, Text(body), "Examine Files", &progress);
    // The first and the last (in another letter case) name the normal bank.
    const std::string message = "Receiving bank 'SAVE' is not the normal bank ('OPER') for property 'P100'(1234)";
    EXPECT_THAT(report, ::testing::HasSubstr(message));
    EXPECT_EQ(report.find("is not the normal bank"), report.rfind("is not the normal bank")) << report;
}

TEST_F(PmtEnding, AMiscIncomeBeforeItsPairFailsTheWholeGroup) {
    const std::string body = MiscIncome("8", "2.00") + MiscIncome("8", "3.00") +
                             "P,8,,,1201,0,2/1/2026,4,oper,,2,p100,PARK,,,,,,,M1,5.00\n" + MiscIncome("9", "1.00") +
                             MiscIncome("10", "1.00") + "P,10,,,1201,0,2/1/2026,1,OPER,,2,P100,PARK,,,,,,,,1.00\n";
    StoppingPmt converter;
    convert::ConvertProgress progress([] { return int64_t{0}; });
    const std::string report = Run(converter, Text(body), "Convert", &progress);
    using ::testing::HasSubstr;
    EXPECT_THAT(report, HasSubstr("Payment transaction with Payment ID '8' does not exist(1245)"));
    EXPECT_THAT(report, HasSubstr("An associated transaction with Payment ID '8' (line 3 in the text file) is "
                                  "invalid(1268)"));
    // The method-4 payment was judged too before its group failed.
    EXPECT_THAT(report, HasSubstr("Payment transaction with Payment ID '9' does not exist(1245)"));
    // The IDs entered for the rejects are taken: the one pair that passed gets the third new ID.
    const uint16_t pmt = H("PMT");
    xio_init_record(pmt, kPmtRecPayment);
    ASSERT_EQ(xio_rd_ge(pmt, kPmtRecPayment, 0, 0), XIO_OK) << report;
    EXPECT_EQ(convert::GetNumber(pmt, kPmtRecPayment, "PMTID"), 5003);
    EXPECT_EQ(State(), "42/5003 run 1 r1=1 r9=0");
}

// Each payment method keeps only what belongs to it: a check (1) its bank and check number, other
// (5) its misc ID; 3 becomes 5. A payment to an unknown bank takes its misc income along.
TEST_F(PmtEnding, MiscIncomePaymentsKeepWhatTheirMethodUses) {
    std::string body;
    for (const char* m : {"1", "2", "3", "5"})
        body += MiscIncome(m, "5.00") + "P," + m + ",,,12" + m + ",0,2/1/2026," + m +
                ",OPER,,2,P100,PARK,,,,,,B" + m + ",M" + m + ",5.00\n";
    body += MiscIncome("6", "5.00") + "P,6,,,126,0,2/1/2026,1,NOBANK,,2,P100,PARK,,,,,,,,5.00\n";
    StoppingPmt converter;
    convert::ConvertProgress progress([] { return int64_t{0}; });
    const std::string report = Run(converter, Text(body), "Convert", &progress);
    using ::testing::HasSubstr;
    using ::testing::Not;
    EXPECT_THAT(report, HasSubstr("Receiving bank 'NOBANK' does not yet exist(1233)"));
    EXPECT_THAT(report, HasSubstr("Misc inc transaction 'P100, PARK' is not followed immediately with a valid "
                                  "payment transaction(1219)"));
    EXPECT_THAT(report, HasSubstr("Payment method 'Credit card (3)' was changed to 'Other (5)'(1241)"));
    for (const char* kept : {"'B1'", "'M3'", "'M5'"}) EXPECT_THAT(report, Not(HasSubstr(kept))) << kept;
    const uint16_t pmt = H("PMT");
    std::vector<std::string> payments;
    xio_init_record(pmt, kPmtRecPayment);
    for (int st = xio_rd_ge(pmt, kPmtRecPayment, 0, 0); st == XIO_OK; st = xio_rd_next(pmt, kPmtRecPayment, 0, 0))
        payments.push_back(WholeText(convert::GetNumber(pmt, kPmtRecPayment, "PMTHD")) + " " +
                           convert::GetText(pmt, kPmtRecPayment, "PBANK") + " " +
                           WholeText(convert::GetNumber(pmt, kPmtRecPayment, "PCHECK")) + " " +
                           convert::GetText(pmt, kPmtRecPayment, "PMISC"));
    EXPECT_THAT(payments, ::testing::ElementsAre("1 B1 121 ", "2  0 ", "5  0 M3", "5  0 M5"));
}

// A payment whose write fails takes its misc income back out; the file goes on.
TEST_F(PmtEnding, AMiscIncomePaymentThatCannotBeWrittenTakesItsMiscIncomeOut) {
    const std::string body = MiscIncome("8", "5.00") + "P,8,,,128,0,2/1/2026,1,OPER,,2,P100,PARK,,,,,,,,5.00\n" +
                             Sales("5");
    convert::testing::FailingCalls fail;
    fail.Fail(xio::FaultCall::WriteRecord, 2, XIO_IO_ERROR, "PMT");
    StoppingPmt converter;
    convert::ConvertProgress progress([] { return int64_t{0}; });
    const std::string report = Run(converter, Text(body), "Convert", &progress);
    EXPECT_TRUE(fail.Spent());
    EXPECT_THAT(report, ::testing::HasSubstr(" P                 3  I/O Error writing record - '5001'(76)"));
    EXPECT_THAT(report, ::testing::HasSubstr(" MI                2  Misc inc transaction 'P100, PARK' is not followed "
                                             "immediately with a valid payment transaction(1219)"));
    EXPECT_EQ(State(), "42/5001 run 1 r1=1 r9=1");  // the ID given stays taken
    const uint16_t pmt = H("PMT");
    xio_init_record(pmt, kPmtRecMiscIncome);
    EXPECT_NE(xio_rd_ge(pmt, kPmtRecMiscIncome, 0, 0), XIO_OK);
    EXPECT_EQ(progress.file_rejected, 2u);
}

// Sales volumes naming one lease again, in other spellings or with another category: each
// takes the stored spellings, and what differs is still checked.
TEST_F(PmtEnding, SalesVolumesOfOneLeaseKeepTheStoredSpellingsAndTheirOwnChecks) {
    const std::string again = "SV,p100,u1,t100,l100,2,1/31/2026,2/5/2026,1/6/2026,10.00,1,Gross,books,\n";
    const std::string body = Sales("5") + again +
                             "SV,P100,U1,T100,L100,2,1/31/2026,2/5/2026,1/7/2026,10.00,1,Gross,Toys,\n" +
                             "SV,p100,u1,t100,l100,3,1/31/2026,2/5/2026,1/8/2026,10.00,1,Gross,books,\n" + again;
    StoppingPmt converter;
    convert::ConvertProgress progress([] { return int64_t{0}; });
    const std::string report = Run(converter, Text(body), "Convert", &progress);
    using ::testing::HasSubstr;
    EXPECT_THAT(report, HasSubstr("Sales Category 'Toys' for Lease, Revision num 'L100(2)' not found"));
    EXPECT_THAT(report, HasSubstr("Lease, Revision 'L100(3)' does not yet exist"));
    const uint16_t pmt = H("PMT");
    std::multiset<std::string> written;
    xio_init_record(pmt, kPmtRecSalesVolume);
    for (int s = xio_rd_ge(pmt, kPmtRecSalesVolume, 0, 0); s == XIO_OK;
         s = xio_rd_next(pmt, kPmtRecSalesVolume, 0, 0))
        written.insert(convert::GetText(pmt, kPmtRecSalesVolume, "SVPROP") + "," +
                       convert::GetText(pmt, kPmtRecSalesVolume, "SVUNIT") + "," +
                       convert::GetText(pmt, kPmtRecSalesVolume, "SVTEN") + "," +
                       convert::GetText(pmt, kPmtRecSalesVolume, "SVLEASE") + "," +
                       convert::GetText(pmt, kPmtRecSalesVolume, "SVSCAT"));
    EXPECT_EQ(written, (std::multiset<std::string>{"P100,U1,T100,L100,Books", "P100,U1,T100,L100,Books",
                                                   "P100,U1,T100,L100,Books"}))
        << report;
}

}  // namespace
}  // namespace dz::pm::testing
