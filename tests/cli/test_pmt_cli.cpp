// The PM transaction converters through dodedoz-cli, end to end, on a company seeded with
// `dodedoz-cli load`: the new (PMT) and history (PMH) samples examined (nothing written
// anywhere) and converted (report, notes, reject file, the transaction file and the PM System
// header), and small text files for the numbering of batches, runs, sequences and payment IDs,
// the pairs of a transaction and its payment, the payment groups and the sales-volume record.
// Goldens are in tests/data/pmtcli.
//
// DZ_UPDATE_GOLDEN=1 in the environment rewrites every golden file these tests compare with.
#include "sample_cli_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

using namespace dz::cli::testing;
using ::testing::HasSubstr;

const fs::path kGolden = fs::path(DZ_TEST_DATA_DIR) / "pmtcli";
const fs::path kSamples = fs::path(DZ_SOURCE_DATA_DIR) / "samples";

// A misc income of `amount` dollars under payment ID `id`, with its four accounts.
std::string MiscIncome(const std::string& prop, const std::string& id, const std::string& amount,
                       const std::string& batch = "") {
    return "MI," + prop + ",PARK,2/1/2026," + id + "," + amount +
           ",,09920100000,09930100000,09910100000,09930100000" + std::string(10, ',') + batch + "\n";
}
// A payment of `amount` dollars; `date` may be made invalid.
std::string Payment(const std::string& id, const std::string& amount, const std::string& date = "2/1/2026",
                    const std::string& tenant = "T100") {
    return "P," + id + ",," + tenant + ",1201,0," + date + ",1,OPER,,2,P100,PARK,,,,,,,," + amount + "\n";
}
// A sales volume of lease L100(2) on unit U1.
std::string Sales(const std::string& salesDate, const std::string& volume, const std::string& type,
                  const std::string& salesType = "Gross", const std::string& unit = "U1",
                  const std::string& prop = "P100", const std::string& category = "Books") {
    return "SV," + prop + "," + unit + ",T100,L100,2,1/31/2026,2/5/2026," + salesDate + "," + volume + "," + type +
           "," + salesType + "," + category + ",\n";
}
// A charge flow of type `code` with payment ID `id` on 2/1/2026 with its four accounts (its
// other columns blank).
std::string ChargeFlow(const std::string& code, const std::string& id, const std::string& credit) {
    // CFADATE, CFDESC, CFTXSEQ, CFCDATE .. CFTXID, CFPMTID, CFRECOV, CFAIACT, CFDEPST, CFCHG,
    // CFCRDIT, CFMSAMT, the four accounts, then the 12 fields up to CFBATCH.
    return "CF," + code + ",P100,U1,T100,L100,2,2/1/2026,,,,2/1/2026,,,,," + id + ",1,,,," + credit +
           ",,09920100000,09930100000,09910100000,09920100000" + std::string(13, ',') + "\n";
}

class PmtCli : public SampleCliTest {
protected:
    PmtCli() : SampleCliTest(kSamples) {}

    // Loads the sample's setup, then `more` load lines.
    void Setup(const std::string& folder, const std::string& more = "") {
        Load(kSamples / folder / "setup-pm.load");
        if (HasFatalFailure() || more.empty()) return;
        const fs::path extra = dir / "more.load";
        Spit(extra, more);
        Load(extra);
    }

    std::string Copy(const std::string& folder, const std::string& sample) {
        return SampleCliTest::Copy((fs::path(folder) / sample).string(), sample);
    }

    std::string Text(const std::string& name, const std::string& body, bool history = false) {
        const fs::path p = dir / name;
        Spit(p, std::string(history ? "#,PMH,xvpmh\n" : "#,PMT,xvpmt\n") + body);
        return p.string();
    }

    CliResult Run(const std::string& command, const std::string& text, std::string& report, std::string& notes) {
        return SampleCliTest::Run(command, text, report, notes, {"--reconvert"});
    }
    std::string Report(const std::string& command, const std::string& text) {
        std::string report, notes;
        Run(command, text, report, notes);
        return report + notes;
    }

    std::string Dump(const std::string& abbr, const std::string& fileNo = "1") {
        return SampleCliTest::Dump(abbr, {"--file", fileNo});
    }

    // Every file of the scratch folder with its bytes, but the report, the notes and hidden files.
    std::map<std::string, std::string> Files() const {
        auto files = SampleCliTest::Files(dir);
        std::erase_if(files, [](const auto& f) { return fs::path(f.first).filename().string()[0] == '.'; });
        return files;
    }

    // The dump lines of one record type ("R2 ") or header ("H1 ").
    static std::vector<std::string> Lines(const std::string& dump, const std::string& prefix) {
        std::vector<std::string> out;
        std::istringstream in(dump);
        for (std::string line; std::getline(in, line);)
            if (line.rfind(prefix, 0) == 0) out.push_back(line);
        return out;
    }
    // The value of field `name` on a dump line.
    static std::string Field(const std::string& line, const std::string& name) {
        const std::size_t at = line.find(" " + name + "=");
        if (at == std::string::npos) return "<none>";
        const std::size_t from = at + name.size() + 2;
        return line.substr(from, line.find(' ', from) - from);
    }
};

// ---- The samples ------------------------------------------------------------------------------

TEST_F(PmtCli, TheSampleExaminedWritesNothing) {
    Setup("pmt");
    const std::string text = Copy("pmt", "demo-pm-transactions.txt");
    const auto files = Files();
    std::string report, notes;
    const CliResult r = Run("examine", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    ExpectGolden(report + "\f" + notes, kGolden / "pmt_examine.txt");
    EXPECT_EQ(Files(), files);  // every data file, the text file; no reject file
    EXPECT_FALSE(fs::exists(dir / "RejPMT.txt"));
}

TEST_F(PmtCli, TheSampleConverted) {
    Setup("pmt");
    const std::string text = Copy("pmt", "demo-pm-transactions.txt");
    std::string report, notes;
    const CliResult r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    ExpectGolden(report + "\f" + notes, kGolden / "pmt_convert.txt");
    ExpectGolden(r.err, kGolden / "pmt_convert_stderr.txt");
    ExpectGolden(Slurp(dir / "RejPMT.txt"), kGolden / "pmt_reject.txt");
    ExpectGolden(Dump("PMT"), kGolden / "pmt_dump.txt");
    ExpectGolden(Dump("PMS"), kGolden / "pmt_dump_pms.txt");
    EXPECT_EQ(Dump("PMT", "5"), "@PMT 5\nH1 LASTRUN=0\n");
    EXPECT_NE(Slurp(text).find("\"Previously Converted\",\"by Ann Lee\""), std::string::npos);
}

TEST_F(PmtCli, TheHistorySampleGoesIntoTheHistoryFile) {
    Setup("pmh");
    const std::string text = Copy("pmh", "demo-pm-history.txt");
    const std::string current = Dump("PMT");
    std::string report, notes;
    CliResult r = Run("examine", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_FALSE(fs::exists(dir / "RejPMH.txt"));
    r = Run("convert", text, report, notes);
    EXPECT_EQ(r.status, 1) << r.err;
    ExpectGolden(report + "\f" + notes, kGolden / "pmh_convert.txt");
    ExpectGolden(Slurp(dir / "RejPMH.txt"), kGolden / "pmh_reject.txt");
    ExpectGolden(Dump("PMT", "5"), kGolden / "pmh_dump.txt");
    EXPECT_EQ(Dump("PMT"), current);
    EXPECT_FALSE(fs::exists(dir / "RejPMT.txt"));
}

// ---- Numbering ------------------------------------------------------------------------------------

TEST_F(PmtCli, BatchNumbersFollowTheLastBatchPastTheBatchesOnFile) {
    // LASTBAT 41 with batches 42 and 43 on file (the sample's setup): 44.
    Setup("pmt");
    std::string report, notes;
    Run("convert", Text("a.txt", Sales("1/15/2026", "10.00", "1")), report, notes);
    auto sales = Lines(Dump("PMT"), "R9 ");
    ASSERT_EQ(sales.size(), 1u);
    EXPECT_EQ(Field(sales[0], "SVBATCH"), "\"44\"");
    EXPECT_EQ(Lines(Dump("PMS"), "H1 ")[0], "H1 LASTBAT=\"44\" LASTPMT=5000");
    EXPECT_EQ(Lines(Dump("PMT"), "H1 ")[0], "H1 LASTRUN=1");
}

// LASTRUN at the largest number it holds leaves no run number to give: the file ends with 12016
// and nothing is written.
TEST_F(PmtCli, ARunNumberPastTheLastOneEndsTheFile) {
    Setup("pmt", "@PMT\nH1 LASTRUN=999999999\n");
    std::string report, notes;
    const CliResult r = Run("convert", Text("r.txt", Sales("1/15/2026", "10.00", "1")), report, notes);
    EXPECT_EQ(r.status, 2) << report;
    EXPECT_THAT(r.err + report, HasSubstr("Unable to update Last batch, Last payment ID, or Run number"));
    EXPECT_TRUE(Lines(Dump("PMT"), "R9 ").empty());
    EXPECT_EQ(Lines(Dump("PMT"), "H1 ")[0], "H1 LASTRUN=999999999");
}

TEST_F(PmtCli, ALastBatchOfZeroOrNotANumberGivesBatchOne) {
    for (const std::string last : {"0", "X7"}) {
        SCOPED_TRACE(last);
        fs::remove_all(company);
        ASSERT_EQ(Cli({"company", "init", company.string()}).status, 0);
        Setup("pmt", "@PMS\nH1 LASTBAT=\"" + last + "\"\n");
        std::string report, notes;
        Run("convert", Text("b.txt", Sales("1/15/2026", "10.00", "1")), report, notes);
        EXPECT_EQ(Field(Lines(Dump("PMT"), "R9 ")[0], "SVBATCH"), "\"1\"") << report;
        EXPECT_EQ(Lines(Dump("PMS"), "H1 ")[0], "H1 LASTBAT=\"1\" LASTPMT=5000");
    }
}

TEST_F(PmtCli, PaymentIdsWrapPastTheLastPossibleOne) {
    Setup("pmt", "@PMS\nH1 LASTPMT=999999998\n");
    const std::string body = MiscIncome("P100", "11", "10.00") + Payment("11", "10.00") +
                             MiscIncome("P100", "12", "20.00") + Payment("12", "20.00") +
                             MiscIncome("P100", "13", "30.00") + Payment("13", "30.00");
    std::string report, notes;
    const CliResult r = Run("convert", Text("c.txt", body), report, notes);
    EXPECT_EQ(r.status, 0) << report;
    std::vector<std::string> ids;
    for (const auto& line : Lines(Dump("PMT"), "R2 ")) ids.push_back(Field(line, "PMTID"));
    EXPECT_EQ(ids, (std::vector<std::string>{"1", "2", "999999999"}));
    std::vector<std::string> miIds;
    for (const auto& line : Lines(Dump("PMT"), "R5 ")) miIds.push_back(Field(line, "MIPMTID"));
    EXPECT_EQ(miIds, (std::vector<std::string>{"999999999", "1", "2"}));
    EXPECT_EQ(Lines(Dump("PMS"), "H1 ")[0], "H1 LASTBAT=\"44\" LASTPMT=2");
}

TEST_F(PmtCli, OnePaymentIdOnSeveralMiscIncomesGetsOneNewId) {
    Setup("pmt");
    const std::string body = MiscIncome("P100", "900", "10.00") + Payment("900", "30.00") +
                             MiscIncome("P100", "900", "15.00") + MiscIncome("P100", "900", "5.00");
    std::string report, notes;
    EXPECT_EQ(Run("convert", Text("d.txt", body), report, notes).status, 0) << report;
    const std::string dump = Dump("PMT");
    for (const auto& line : Lines(dump, "R5 ")) EXPECT_EQ(Field(line, "MIPMTID"), "5001") << line;
    EXPECT_EQ(Field(Lines(dump, "R2 ")[0], "PMTID"), "5001");
    EXPECT_EQ(Lines(Dump("PMS"), "H1 ")[0], "H1 LASTBAT=\"44\" LASTPMT=5001");
}

TEST_F(PmtCli, OwnBatchesAreWrittenOnceAndLeaveTheLastBatch) {
    Setup("pmt");
    const std::string body = "SV,P100,U1,T100,L100,2,1/31/2026,2/5/2026,1/15/2026,10.00,1,Gross,Books,B1\n"
                             "SV,P100,U1,T100,L100,2,1/31/2026,2/5/2026,1/16/2026,10.00,1,Gross,Books,b1\n"
                             "SV,P100,U1,T100,L100,2,1/31/2026,2/5/2026,1/17/2026,10.00,1,Gross,Books,B2\n";
    std::string report, notes;
    EXPECT_EQ(Run("convert", Text("e.txt", body), report, notes).status, 0) << report;
    const auto batches = Lines(Dump("PMT"), "R1 ");
    ASSERT_EQ(batches.size(), 4u);  // 42, 43 of the setup, B1 once, B2
    EXPECT_EQ(Field(batches[2], "BATCH"), "\"B1\"");
    EXPECT_EQ(Field(batches[3], "BATCH"), "\"B2\"");
    EXPECT_EQ(Lines(Dump("PMS"), "H1 ")[0], "H1 LASTBAT=\"41\" LASTPMT=5000");
}

TEST_F(PmtCli, NothingMovedLeavesTheHeadersAlone) {
    Setup("pmt");
    const std::string pms = Slurp(company / "MASTER.PMS");
    std::string report, notes;
    const CliResult r = Run("convert", Text("f.txt", Sales("1/15/2026", "0", "1")), report, notes);
    EXPECT_EQ(r.status, 1) << report;
    EXPECT_EQ(Slurp(company / "MASTER.PMS"), pms);
    EXPECT_EQ(Lines(Dump("PMT"), "H1 ")[0], "H1 LASTRUN=0");
}

TEST_F(PmtCli, PassTwoSequencesFollowPassOnes) {
    // Each valid sales volume draws a number in both passes; misc incomes only in pass 2.
    Setup("pmt");
    const std::string body = Sales("1/15/2026", "10.00", "1") + Sales("1/16/2026", "10.00", "1") +
                             MiscIncome("P100", "1", "5.00") + Payment("1", "5.00");
    std::string report, notes;
    EXPECT_EQ(Run("convert", Text("g.txt", body), report, notes).status, 0) << report;
    const std::string dump = Dump("PMT");
    const auto sales = Lines(dump, "R9 ");
    ASSERT_EQ(sales.size(), 2u);
    EXPECT_EQ(Field(sales[0], "SVSEQ"), "3");
    EXPECT_EQ(Field(sales[1], "SVSEQ"), "4");
    EXPECT_EQ(Field(Lines(dump, "R5 ")[0], "MISEQ"), "5");
}

// ---- Pairs ----------------------------------------------------------------------------------------------

TEST_F(PmtCli, StrayPaymentsAreRejected) {
    Setup("pmt");
    const std::string body = Payment("1", "5.00") + Sales("1/15/2026", "10.00", "1") + Payment("2", "5.00") +
                             MiscIncome("P100", "3", "5.00") + Payment("3", "5.00") + Payment("4", "5.00");
    const std::string report = Report("examine", Text("h.txt", body));
    for (const char* id : {"'1'", "'2'", "'4'"})
        EXPECT_NE(report.find(std::string("Payment transaction ") + id +
                              " does not come immediately after a referring Misc inc or Chg flow transaction(1262)"),
                  std::string::npos)
            << report;
    EXPECT_EQ(report.find("'3' does not come"), std::string::npos) << report;
}

TEST_F(PmtCli, ARefusedPaymentTakesItsTransactionAlong) {
    Setup("pmt");
    const std::string body = MiscIncome("P100", "5", "5.00") + Payment("5", "5.00", "2/31/2026") +
                             ChargeFlow("2", "6", "5.00") + Payment("6", "5.00", "13/1/2026");
    std::string report, notes;
    const CliResult r = Run("convert", Text("i.txt", body), report, notes);
    EXPECT_EQ(r.status, 1);
    ExpectGolden(report, kGolden / "pairs_refused_report.txt");
    // Each pair went to the reject file as one block, in its order.
    EXPECT_EQ(Slurp(dir / "RejPMT.txt"), "#,PMT,xvpmt\n" + body);
    EXPECT_TRUE(Lines(Dump("PMT"), "R5 ").empty());
    EXPECT_TRUE(Lines(Dump("PMT"), "R4 ").empty());
}

TEST_F(PmtCli, APaymentThatCannotBeWrittenTakesItsTransactionOut) {
    // The new ID 5001 is on file already: the payment's write fails, the misc income goes again.
    Setup("pmt", "@PMT\nR2 PMTID=5001 PTENANT=\"T200\" PAMT=100\n");
    const std::string body = Sales("1/15/2026", "10.00", "1") + MiscIncome("P100", "8", "5.00") + Payment("8", "5.00");
    std::string report, notes;
    const CliResult r = Run("convert", Text("j.txt", body), report, notes);
    EXPECT_EQ(r.status, 1) << report;
    ExpectGolden(report, kGolden / "pairs_write_failed_report.txt");
    EXPECT_EQ(Slurp(dir / "RejPMT.txt"), "#,PMT,xvpmt\n" + MiscIncome("P100", "8", "5.00") + Payment("8", "5.00"));
    const std::string dump = Dump("PMT");
    EXPECT_TRUE(Lines(dump, "R5 ").empty()) << dump;
    ASSERT_EQ(Lines(dump, "R2 ").size(), 1u);
    EXPECT_EQ(Field(Lines(dump, "R2 ")[0], "PTENANT"), "\"T200\"");  // the one on file, untouched
    EXPECT_EQ(Lines(dump, "R9 ").size(), 1u);
}

TEST_F(PmtCli, ConvertLinesAreOneHigherThanExamineLines) {
    Setup("pmt");
    const std::string body = Sales("1/15/2026", "10.00", "3") + Sales("1/15/2026", "0", "1");
    const std::string examined = Report("examine", Text("k.txt", body));
    EXPECT_NE(examined.find(" SV                2  Message for"), std::string::npos) << examined;
    EXPECT_NE(examined.find(" SV                3  Sales volume cannot"), std::string::npos) << examined;
    const std::string converted = Report("convert", Text("k.txt", body));
    EXPECT_NE(converted.find(" SV                3  Message for"), std::string::npos) << converted;
    EXPECT_NE(converted.find(" SV                2  Sales volume cannot"), std::string::npos)  // reject-file line
        << converted;
}

// ---- Payment groups -----------------------------------------------------------------------------------

TEST_F(PmtCli, AGroupPaidInFullPassesAndAShortPaymentFailsEveryMember) {
    Setup("pmt");
    std::string full = MiscIncome("P100", "70", "100.00") + Payment("70", "175.00") +
                       MiscIncome("P100", "70", "50.00") + MiscIncome("P100", "70", "25.00");
    std::string report, notes;
    EXPECT_EQ(Run("examine", Text("l.txt", full), report, notes).status, 0) << report;

    const std::string shortPaid = MiscIncome("P100", "71", "100.00") + Payment("71", "170.00") +
                                  MiscIncome("P100", "71", "50.00") + MiscIncome("P100", "71", "25.00");
    const std::string examined = Report("examine", Text("m.txt", shortPaid));
    EXPECT_NE(examined.find(" P                 3  Misc inc pymt amt '170.00' for 'PARK' and the sum of its pymt "
                            "transactions '175.00' do not match(1278)"),
              std::string::npos)
        << examined;
    EXPECT_NE(examined.find(" MI                2  Misc inc transaction 'P100, PARK' is not followed immediately"),
              std::string::npos)
        << examined;
    for (const char* line : {" MI                4  ", " MI                5  "})
        EXPECT_NE(examined.find(std::string(line) +
                                "An associated transaction with Payment ID '71' (line 3 in the text file) is "
                                "invalid(1268)"),
                  std::string::npos)
            << examined;
}

TEST_F(PmtCli, AnUnopenedIdFailsEveryMemberOnTheFirstMembersLine) {
    Setup("pmt");
    const std::string body = MiscIncome("P100", "72", "10.00") + MiscIncome("P100", "72", "10.00");
    const std::string examined = Report("examine", Text("n.txt", body));
    // No payment came with the ID: each member says so before any group is judged.
    for (const char* line : {" MI                2  ", " MI                3  "})
        EXPECT_NE(examined.find(std::string(line) + "Payment transaction with Payment ID '72' does not exist(1245)"),
                  std::string::npos)
            << examined;
    // Converted, no payment ID was given: the last payment ID stays.
    std::string report, notes;
    EXPECT_EQ(Run("convert", Text("n.txt", body), report, notes).status, 1) << report;
    EXPECT_EQ(Lines(Dump("PMS"), "H1 ")[0], "H1 LASTBAT=\"41\" LASTPMT=5000");
}

TEST_F(PmtCli, AnInvalidSecondMemberFailsTheFirstToo) {
    Setup("pmt");
    // The second member's own payment cannot be read (its date): the whole group goes, the first
    // member too. (A line the import refuses itself marks no group: its fields are not known.)
    const std::string body = MiscIncome("P100", "73", "10.00") + Payment("73", "20.00") +
                             MiscIncome("P100", "73", "10.00") + Payment("73", "10.00", "2/30/2026");
    const std::string examined = Report("examine", Text("o.txt", body));
    EXPECT_NE(examined.find(" MI                2  An associated transaction with Payment ID '73' (line 4 in the "
                            "text file) is invalid(1268)"),
              std::string::npos)
        << examined;
}

TEST_F(PmtCli, TwoNonReturnedChecksOnOneChargeFlowPayment) {
    Setup("pmt");
    const std::string body = ChargeFlow("2", "80", "5.00") + Payment("80", "5.00") + ChargeFlow("2", "80", "5.00") +
                             Payment("80", "5.00");
    const std::string examined = Report("examine", Text("p.txt", body));
    EXPECT_NE(examined.find("There are 2 non returned checks associated with Payment ID '80', there must be exactly "
                            "one(1269)"),
              std::string::npos)
        << examined;
}

// ---- Sales volumes -----------------------------------------------------------------------------------

TEST_F(PmtCli, SalesVolumeChecksAndCompletions) {
    Setup("pmt");
    const std::string body =
        // A volume of 0 is refused before any lookup (the property does not exist).
        Sales("6/15/2023", "0", "1", "Gross", "U1", "NOPE") +
        // Unit U2 exists but is not let under L100.
        Sales("6/15/2023", "10.00", "1", "Gross", "U2") +
        // Period types 1, 2 and 3 (L100's year end is June 30).
        Sales("6/15/2023", "10.00", "1") + Sales("6/15/2023", "10.00", "2") + Sales("8/15/2023", "10.00", "3") +
        Sales("6/30/2023", "10.00", "3") +
        // Sales types: blank, in other letter case, not listed.
        Sales("6/15/2023", "10.00", "1", "") + Sales("6/15/2023", "10.00", "1", "nET") +
        Sales("6/15/2023", "10.00", "1", "Outlet") +
        // A category the lease does not have.
        Sales("6/15/2023", "10.00", "1", "Gross", "U1", "P100", "Toys");
    std::string report, notes;
    Run("examine", Text("q.txt", body), report, notes);
    ExpectGolden(report + "\f" + notes, kGolden / "sales_examine.txt");
    Run("convert", Text("q.txt", body), report, notes);
    ExpectGolden(report + "\f" + notes, kGolden / "sales_convert.txt");
    ExpectGolden(Dump("PMT"), kGolden / "sales_dump.txt");
}

TEST_F(PmtCli, AFebruary29YearEndFallsOnTheMonthsLastDay) {
    // L200's percent-rent year end is 2/29/2024.
    Setup("pmt");
    const std::string body = "SV,P200,A1,T200,L200,0,1/31/2026,2/5/2026,3/1/2025,10.00,3,Gross,Food,\n"
                             "SV,P200,A1,T200,L200,0,1/31/2026,2/5/2026,3/1/2028,10.00,3,Gross,Food,\n";
    std::string report, notes;
    Run("convert", Text("r.txt", body), report, notes);
    const auto sales = Lines(Dump("PMT"), "R9 ");
    ASSERT_EQ(sales.size(), 2u);
    EXPECT_EQ(Field(sales[0], "SVSDATE"), "2025-02-28");
    EXPECT_EQ(Field(sales[1], "SVSDATE"), "2028-02-29");
    EXPECT_NE(notes.find("Sales date was changed from ' 3/01/2025' to ' 2/28/2025'"), std::string::npos) << notes;
}

// ---- Lines the conversion does not take -----------------------------------------------------------------

TEST_F(PmtCli, NotesBatchesAndOtherRecordsAreRefused) {
    Setup("pmt");
    const fs::path tpl = dir / "xvpmtx.tpl";
    Spit(tpl, Slurp(fs::path(DZ_SOURCE_DATA_DIR) / "templates" / "xvpmt.tpl") +
                  "\nformat SVN\nfile PMT 1\nrecord 9\nnotes\nfield SVRUN\nfield SVSEQ\nspecial NOTE1 text\n"
                  "\nformat B\nfile PMT 1\nrecord 1\nfield BATCH\n");
    const fs::path text = dir / "x.txt";
    Spit(text, "#,PMT," + tpl.string() + "\n" + Sales("1/15/2026", "10.00", "1") + "SVN,1,2,a note\nB,45\n");
    for (const char* command : {"examine", "convert"}) {
        SCOPED_TRACE(command);
        const std::string report = Report(command, text.string());
        EXPECT_NE(report.find("Notes are not supported in Transaction PM Transaction conversions"), std::string::npos)
            << report;
        EXPECT_NE(report.find("Record type 'Batch' cannot be converted as part of a PM Transactions conversion(75)"),
                  std::string::npos)
            << report;
    }
    EXPECT_EQ(Lines(Dump("PMT"), "R9 ").size(), 1u);
    EXPECT_EQ(Lines(Dump("PMT"), "R1 ").size(), 3u);  // 42, 43 and the run's 44; no 45
}

}  // namespace
