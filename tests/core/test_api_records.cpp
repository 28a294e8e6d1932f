// The AP invoice converter's record handlers in process: invoices (existing invoices of a
// payments-only file, duplicates and their new numbers, dates, fields the conversion sets or
// clears), distributions (numbering, interface rules, tax groups, accounts, units), checks (void,
// summary vendors, cleared, CM duplicates) and their CM transactions.
#include "test_api_support.h"

#include "converters/ap/xvapi_cm.h"
#include "platform/datafile/store.h"
#include "platform/import/xvl_import.h"

#include <fstream>
#include <sstream>

namespace dz::ap {
namespace {

using namespace dz::ap::testing;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

using Fields = std::vector<std::pair<std::string, std::string>>;

// Keeps what the handlers left of each record of the last pass read.
class CapturingApi : public xvAPI {
public:
    std::vector<modlibs::InvoiceImage> invoices;
    std::vector<std::map<uint16_t, modlibs::DistImage>> invoiceDistributions;  // after each Invoice
    std::vector<std::map<uint16_t, modlibs::DistImage>> distributions;  // after each Distribution
    std::vector<modlibs::CheckImage> checksKept;
    std::vector<CMTransImage> transactions;

protected:
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override {
        const bool kept = xvAPI::DispatchRecord(ctx, info, reason);
        if (info.StartLine() < lastLine_) {  // a new pass
            invoices.clear(), invoiceDistributions.clear(), distributions.clear();
            checksKept.clear(), transactions.clear();
        }
        lastLine_ = info.StartLine();
        if (!kept) return kept;
        if (info.ImportedRecs() == kRecInvoice) {
            invoices.push_back(invoiceImage);
            invoiceDistributions.push_back(DistributionMap);
        }
        if (info.ImportedRecs() == kRecDistribution) distributions.push_back(DistributionMap);
        if (info.ImportedRecs() == kRecCheck) {
            checksKept.push_back(checks.back());
            if (!cmTransactions.empty()) transactions.push_back(cmTransactions.back());
        }
        return kept;
    }

private:
    int32_t lastLine_ = 0;
};

class ApiRecords : public ApiTest {
protected:
    void SetUp() override {
        ApiTest::SetUp();
        if (HasFatalFailure()) return;
        SeedReferences();
        Seed("APM", 9, {{"VENDOR", "SUM"}, {"VNAME", "Summary"}, {"VTYPE", "4"}});
    }

    // Opens the company again with its settings changed, and the converter's files.
    void Reopen(const std::function<void(suite::CompanySettings&)>& change) {
        CloseAll();
        suite::close_company();
        auto settings = suite::default_settings({"GL", "CM", "AP"});
        settings.installed = {"GL", "CM", "AP"};
        change(settings);
        suite::write_settings(company.path() / suite::kSettingsFileName, settings);
        suite::open_company(company.path());
        uint16_t error = 0;
        xvAPI opener;
        ASSERT_TRUE(opener.OpenFiles(list, 3020, error)) << error;
    }

    uint16_t Handle(const std::string& abbr) const { return convert::FindFileHandle(list, abbr, 1); }

    static void Put(uint16_t h, uint16_t rec, const std::string& name, const std::string& value) {
        PutByName(h, rec, name, value);
    }
    // An AP setting (header 2).
    void Setting(const std::string& name, const std::string& value) {
        ASSERT_EQ(xio_rd_header(Apm(), 2, 1), XIO_OK);
        Put(Apm(), 0, name, value);
        ASSERT_EQ(xio_wr_header(Apm(), 2), XIO_OK);
        ASSERT_EQ(xio_commit(Apm()), XIO_OK);
    }

    // A line of format `rec` of the shipped template, its columns named.
    static std::string Row(char rec, const Fields& values) {
        static const std::map<char, std::vector<std::string>> columns = [] {
            std::map<char, std::vector<std::string>> out;
            std::istringstream in(ReadFile(dz::data_folder() / "templates" / "xvapi.tpl"));
            char format = 0;
            for (std::string line; std::getline(in, line);) {
                std::istringstream words(line);
                std::string word, name;
                words >> word >> name;
                if (word == "format") format = name[0];
                else if (word == "field" || word == "special") out[format].push_back(name);
            }
            return out;
        }();
        const auto& names = columns.at(rec);
        std::vector<std::string> cells(names.size());
        for (const auto& [name, value] : values) {
            const auto it = std::find(names.begin(), names.end(), name);
            EXPECT_NE(it, names.end()) << name;
            if (it != names.end()) cells[static_cast<std::size_t>(it - names.begin())] = value;
        }
        std::string line(1, rec);
        for (const auto& cell : cells) line += "," + cell;
        return line + "\r\n";
    }
    static std::string Invoice(const std::string& invoice, const Fields& more = {}) {
        Fields f = {{"OIVND", "V1"}, {"OIINV", invoice}, {"OIDATE", "11/02/26"}, {"OIACTDT", "11/02/26"},
                    {"OIAMT", "100.00"}};
        f.insert(f.end(), more.begin(), more.end());
        return Row('1', f);
    }
    static std::string Dist(const std::string& invoice, const std::string& seq, const Fields& more = {}) {
        Fields f = {{"ODVND", "V1"}, {"ODINV", invoice}, {"ODDSEQ", seq}, {"ODAMT", "100.00"},
                    {"ODEXP", "01-1-10-6000-00"}};
        f.insert(f.end(), more.begin(), more.end());
        return Row('2', f);
    }
    static std::string Check(const std::string& number, const Fields& more = {}) {
        Fields f = {{"CBANK", "OPERATING"}, {"CHECK", number}, {"CDATE", "12/01/26"}, {"CAMOUNT", "0.00"},
                    {"CVENDOR", "V1"}};
        f.insert(f.end(), more.begin(), more.end());
        return Row('4', f);
    }

    std::string Examine(const std::string& body, xvAPI& c, ConversionOptions* options = nullptr,
                        const std::string& tpl = "xvapi") {
        return Run(WriteText("t" + std::to_string(++files_) + ".txt", body, tpl), "Examine Files", c, nullptr, options);
    }
    std::string Examine(const std::string& body) {
        xvAPI c;
        return Examine(body, c);
    }
    // A template of the shipped one's formats `keep` only.
    std::string Template(const std::string& keep) {
        std::string text = ReadFile(dz::data_folder() / "templates" / "xvapi.tpl"), out;
        std::istringstream in(text);
        bool on = true;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("format ", 0) == 0) on = keep.find(line[7]) != std::string::npos;
            if (on) out += line + "\n";
        }
        const std::string path = texts.str("t" + keep + ".tpl");
        WriteFile(path, out);
        return path;
    }

    int files_ = 0;
};

// ---- Invoices -----------------------------------------------------------------------------------

TEST_F(ApiRecords, APaymentsOnlyFilePaysInvoicesOnFileWithAllTheirDistributions) {
    Seed("APM", 1, {{"OIVND", "V1"}, {"OIINV", "OLD"}, {"OIAMT", "30000"}});
    for (const char* seq : {"1", "2"}) Seed("APM", 2, {{"ODVND", "V1"}, {"ODINV", "OLD"}, {"ODDSEQ", seq}});
    Seed("APM", 2, {{"ODVND", "V1"}, {"ODINV", "OLDER"}, {"ODDSEQ", "1"}});
    const std::string tpl = Template("16");
    CapturingApi c;
    const std::string lines = Row('1', {{"OIVND", "V1"}, {"OIINV", "OLD"}}) +
                              Row('1', {{"OIVND", "V1"}, {"OIINV", "MISSING"}});
    const std::string report = Examine(lines, c, nullptr, tpl);
    EXPECT_THAT(report, HasSubstr("Unable to find existing invoice 'V1, MISSING' in the Master.apm data file(1700)"));
    ASSERT_FALSE(c.invoices.empty());
    EXPECT_EQ(c.invoices.back().newInvoice, 0);
    EXPECT_EQ(c.invoices.back().amount, 30000);
    ASSERT_EQ(c.invoiceDistributions.size(), 1u);
    EXPECT_THAT(c.invoiceDistributions[0], ElementsAre(::testing::Key(1), ::testing::Key(2)));
}

TEST_F(ApiRecords, DuplicatesAreRefusedOrGivenANewNumberByMode) {
    Seed("APM", 1, {{"OIVND", "V1"}, {"OIINV", "12345"}});
    const std::string body = Invoice("12345") + Dist("12345", "1") + Invoice("T1") + Dist("T1", "1") +
                             Invoice("t1") + Dist("t1", "1");
    // Mode 1: the one on file is refused; the file's repeat is the cross-reference's.
    const std::string refused = Examine(body);
    EXPECT_THAT(refused, HasSubstr("Vendor/Invoice 'V1, 12345' already exists in the AP Master file(1613)"));
    EXPECT_THAT(refused, HasSubstr("Duplicate invoice 't1'"));

    ConversionOptions renumber;
    renumber.dupInvoiceMode = 2;
    CapturingApi c;
    const std::string renamed = Examine(body, c, &renumber);
    EXPECT_THAT(renamed, HasSubstr("Invoice '12345' already exists, it will be changed to invoice '12345-a'(1612)"));
    EXPECT_THAT(renamed, HasSubstr("Invoice 't1' already exists in the text file, it will be changed to 't1-a'(1690)"));
    EXPECT_THAT(renamed, Not(HasSubstr("Duplicate invoice")));
    // The distributions follow their invoice's new number.
    ASSERT_EQ(c.distributions.size(), 3u);
    EXPECT_EQ(c.distributions[0].at(1).invoice, "12345-a");
}

TEST_F(ApiRecords, AnInvoiceInTheNewInvoicesFileIsADuplicateAndOnlyThatOne) {
    Seed("API", 1, {{"OIVND", "V1"}, {"OIINV", "500"}});
    // Look-ups one after another, each by its own key: the one on file between two that are not.
    const std::string body =
        Invoice("501") + Dist("501", "1") + Invoice("500") + Dist("500", "1") + Invoice("5000") + Dist("5000", "1");
    const std::string refused = Examine(body);
    EXPECT_THAT(refused, HasSubstr("Vendor/Invoice 'V1, 500' already exists in the new invoice file(1613)"));
    EXPECT_THAT(refused, Not(HasSubstr("'V1, 501' already exists")));
    EXPECT_THAT(refused, Not(HasSubstr("'V1, 5000' already exists")));

    ConversionOptions renumber;
    renumber.dupInvoiceMode = 2;
    CapturingApi c;
    const std::string renamed = Examine(body, c, &renumber);
    EXPECT_THAT(renamed, HasSubstr("Invoice '500' already exists, it will be changed to invoice '500-a'(1612)"));
    EXPECT_THAT(renamed, Not(HasSubstr("Invoice '501' already exists")));
    EXPECT_THAT(renamed, Not(HasSubstr("Invoice '5000' already exists")));
}

TEST(ApiInvoiceNumbers, CandidatesRunThroughLettersThenNumbersWithinTheWidth) {
    std::vector<std::string> tried;
    auto taking = [&](int free) {
        tried.clear();
        return [&tried, free](const std::string& c) {
            tried.push_back(c);
            return static_cast<int>(tried.size()) == free;
        };
    };
    EXPECT_EQ(FindNewInvoiceNumber("12345", 15, taking(1)), "12345-a");
    // 14 characters leave 13 before the dash and the letter; 11 before "-999", 10 before "-1000".
    const std::string longId = "ABCDEFGHIJKLMN";
    EXPECT_EQ(FindNewInvoiceNumber(longId, 15, taking(26)), "ABCDEFGHIJKLM-z");
    EXPECT_EQ(FindNewInvoiceNumber(longId, 15, taking(26 + 999)), "ABCDEFGHIJK-999");
    EXPECT_EQ(FindNewInvoiceNumber(longId, 15, taking(26 + 1000)), "ABCDEFGHIJ-1000");
    EXPECT_EQ(FindNewInvoiceNumber(longId, 2, taking(1)), "ABCDEFGHIJKLM-a");  // below 4: 15
    EXPECT_EQ(FindNewInvoiceNumber("12345", 15, taking(0)), "");
    EXPECT_EQ(tried.size(), 26u + 999u + 9000u);
}

// Many duplicates of one invoice: each search goes on from the number given last, trying it
// again (it is taken now) and then the next, instead of every number before it.
TEST(ApiInvoiceNumbers, ASearchGoesOnFromTheCandidateGivenLast) {
    std::set<std::string> taken;
    int tries = 0;
    auto isFree = [&](const std::string& c) {
        ++tries;
        return taken.count(c) == 0;
    };
    int from = 0;
    std::vector<std::string> given;
    for (int i = 0; i < 30; ++i) {
        given.push_back(FindNewInvoiceNumber("77", 15, isFree, from));
        taken.insert(given.back());
    }
    EXPECT_EQ(given[0], "77-a");
    EXPECT_EQ(given[25], "77-z");
    EXPECT_EQ(given[26], "77-1");
    EXPECT_EQ(given[29], "77-4");
    EXPECT_EQ(tries, 30 + 29);
    from = 26 + 999 + 9000 - 1;
    taken.insert("77-9999");
    EXPECT_EQ(FindNewInvoiceNumber("77", 15, isFree, from), "");
    EXPECT_EQ(FindNewInvoiceNumber("77", 15, isFree, from), "");  // nothing is tried again
    EXPECT_EQ(tries, 30 + 29 + 1);
}

TEST_F(ApiRecords, DatesSourcePayeeCodesAndPaymentFieldsOfAnInvoice) {
    Setting("USEICD2", "0");
    CapturingApi c;
    const std::string report = Examine(
        Invoice("D1", {{"OIACTDT", ""}, {"OISRC", "3"}, {"OIPCITY", "Bangor"}, {"OICODE2", "C2"}}) + Dist("D1", "1") +
            Invoice("D2", {{"OIACTDT", ""}, {"OIDATE", ""}}) + Dist("D2", "1") +
            Invoice("D3", {{"OIPNAME", "Pat"}}) + Dist("D3", "1") + Invoice("D4", {{"OIPMEMO", "hold"}}) +
            Dist("D4", "1"),
        c);
    ASSERT_FALSE(c.invoices.empty());
    const auto& d1 = c.invoices.front();
    EXPECT_EQ(d1.accountingDate, d1.invoiceDate);
    EXPECT_EQ(d1.source, 1);
    EXPECT_TRUE(d1.payeeCity.empty());
    EXPECT_THAT(report, HasSubstr("Source is automatically set during conversion, ' (3)' will be cleared(1627)"));
    EXPECT_THAT(report, HasSubstr("(like Payee city with 'Bangor') will be cleared(1634)"));
    EXPECT_THAT(report, HasSubstr("is not being used, its value 'C2' will be cleared(1631)"));
    EXPECT_THAT(report, HasSubstr("Invoice 'D2' requires an accounting date or an Invoice date(1614)"));
    EXPECT_THAT(report, HasSubstr("Vendor 'V1' must be a summary vendor to convert summary name 'Pat'(1691)"));
    EXPECT_THAT(report, HasSubstr("Payment fields (like Payment memo with 'hold') cannot be converted and will be"));
}

// ---- Distributions -------------------------------------------------------------------------------

TEST_F(ApiRecords, SequencesAreGivenInOrderAndARepeatIsRefusedInBothModes) {
    CapturingApi c;
    Examine(Invoice("S1") + Dist("S1", "") + Dist("S1", "") + Dist("S1", "") + Invoice("S2") + Dist("S2", "2") +
                Dist("S2", ""),
            c);
    ASSERT_EQ(c.distributions.size(), 5u);
    EXPECT_EQ(c.distributions[2].rbegin()->first, 3);
    EXPECT_EQ(c.distributions[4].rbegin()->first, 3);  // the map's size plus 1 is taken

    for (const char* task : {"Examine Files", "Convert"}) {
        xvAPI twice;
        const std::string report = Run(WriteText(std::string(task) + ".txt", Invoice("R1") + Dist("R1", "1") +
                                                                               Dist("R1", "1", {{"ODAMT", "5.00"}})),
                                       task, twice);
        EXPECT_THAT(report, HasSubstr("Duplicate distribution 'V1, R1, 1'(1740)")) << task;
    }
    // Without payment records every distribution names its sequence.
    EXPECT_THAT(Examine(Invoice("N1") + Dist("N1", ""), c, nullptr, Template("12")),
                HasSubstr("A Distribution sequence number is required for Distribution 'V1, N1'(1616)"));
}

TEST_F(ApiRecords, UnitCostTaxGroupsAndSignsOfADistribution) {
    CapturingApi c;
    const std::string report =
        Examine(Invoice("U1") + Dist("U1", "1", {{"ODAMT", "10.00"}, {"ODUNITS", "4"}}) +
                    Dist("U1", "2", {{"ODTAX", "5.00"}}) + Invoice("U2") +
                    Dist("U2", "1", {{"ODAMT", "100.00"}, {"ODAMT64", "-10.00"}}),
                c);
    ASSERT_GE(c.distributions.size(), 2u);
    EXPECT_EQ(c.distributions[1].at(1).unitCost, 250000000);
    EXPECT_EQ(c.distributions[1].at(2).taxGroup, "XV Tax");
    EXPECT_EQ(c.distributions[1].at(2).payableAccount.substr(0, 5), "01110");  // the prefix with GLAPPBL
    EXPECT_EQ(c.distributions[1].at(1).newDistribution, 1);
    EXPECT_THAT(report, HasSubstr("Distribution 1 amount fields must have consistent signage (i.e. -10.00 and "
                                  "100.00)(1737)"));

    Setting("TAXUSE", "1");
    EXPECT_THAT(Examine(Invoice("T1") + Dist("T1", "1", {{"ODTXGRP", "MEUSE"}})),
                AllOf(HasSubstr("Tax group with 'MEUSE' will be cleared because AP Settings are not set to use "
                                "taxes(1642)"),
                      Not(HasSubstr("invalid"))));
}

TEST_F(ApiRecords, EquipmentDetailsShowTheirUnitsAndTheMeterInTheirOwnScale) {
    const std::string units = Examine(Invoice("E1") + Dist("E1", "1", {{"ODEQU1", "2.5"}}));
    EXPECT_THAT(units, HasSubstr(" units #1 with '2.5000' is not allowed because the "));
    const std::string meter = Examine(Invoice("E2") + Dist("E2", "1", {{"ODMETER", "1234.5"}}));
    EXPECT_THAT(meter, HasSubstr("Meter/Odometer with '1234.50' is not allowed"));
}

TEST_F(ApiRecords, InterfacesOffClearJobCostAndBillingFields) {
    // This company has no job cost and no billing: their fields are noted and cleared.
    CapturingApi c;
    const std::string report =
        Examine(Invoice("J1") + Dist("J1", "1", {{"ODJOB", "0901"}, {"ODBILL", "B1"}}), c);
    EXPECT_THAT(report, HasSubstr("AP not interfacing with Job Cost, JC fields (like Job with '090-1') will be "
                                  "cleared(1644)"));
    EXPECT_THAT(report, HasSubstr("with 'B1' will be cleared because AP is not interfacing with Billing(1734)"));
    ASSERT_FALSE(c.distributions.empty());
    EXPECT_TRUE(c.distributions.back().at(1).job.empty());
    // The last field of each kind, given alone, is told and cleared all the same.
    EXPECT_THAT(Examine(Invoice("J2") + Dist("J2", "1", {{"ODJC19", "R9"}, {"ODORDED", "5.00"}}), c),
                AllOf(HasSubstr(" with 'R9') will be cleared(1644)"),
                      HasSubstr(" to deduct with '5.00') cannot be converted and will be cleared(1636)")));
    EXPECT_TRUE(c.distributions.back().at(1).jcReference.empty());
    EXPECT_EQ(c.distributions.back().at(1).orPaymentToDeduct, 0);
}

TEST_F(ApiRecords, CashAccountingClearsPayablesAndBillingNeedsACostCode) {
    Reopen([](suite::CompanySettings& settings) {
        settings.accounting_method = 2;  // cash
        settings.installed.insert("BL");
        settings.interfaces.push_back({"AP", "BL", true, true});
    });
    CapturingApi c;
    const std::string report =
        Examine(Invoice("K1") + Dist("K1", "1", {{"ODPBL", "01-1-10-2000-00"}, {"ODBILL", "B1"}}), c);
    EXPECT_THAT(report, HasSubstr("Payable account '01-1-10-2000-00' will be cleared because your Accounting "
                                  "method is cash(1683)"));
    EXPECT_THAT(report, HasSubstr("with 'B1' will be cleared because Phase is blank(1736)"));
    ASSERT_FALSE(c.distributions.empty());
    EXPECT_EQ(c.distributions.back().at(1).payableAccount, "");  // and none is built
}

// ---- Checks and their CM transactions -------------------------------------------------------------

TEST_F(ApiRecords, VoidChecksPassTheSummaryTestAndAreNotStamped) {
    ConversionOptions options;
    options.clearDate = {11, 30, 2026};
    CapturingApi c;
    const std::string report =
        Examine(Check("701", {{"CVENDOR", "SUM"}, {"CVOIDED", "1"}}) + Check("702", {{"CVENDOR", "SUM"}}) +
                    Check("703", {{"CCLEARD", "1"}, {"CVENDOR", "NOBODY"}}) + Check("704"),
                c, &options);
    EXPECT_THAT(report, HasSubstr("Summary payee name is required because Vendor 'SUM' is a summary vendor(1632)"));
    EXPECT_THAT(report, Not(HasSubstr("NOBODY")));  // a vendor not on file passes these checks
    ASSERT_EQ(c.checksKept.size(), 3u);
    EXPECT_EQ(c.checksKept[0].application, "");
    EXPECT_EQ(c.checksKept[0].sequence, 0);
    EXPECT_EQ(c.checksKept[1].application, "XV");
    ASSERT_EQ(c.transactions.size(), 3u);
    EXPECT_EQ(c.transactions[0].transaction.voided, 1);
    EXPECT_EQ(c.transactions[1].transaction.reconciled, 3);  // cleared whatever its date
    EXPECT_EQ(c.transactions[2].transaction.reconciled, 1);  // after the cleared-through date
}

TEST_F(ApiRecords, ACheckWithoutItsRequiredFieldsIsRefusedNamingBankAndCheck) {
    const std::string report =
        Examine(Check("0") + Check("603", {{"CVENDOR", ""}}) + Check("604", {{"CDATE", ""}}));
    EXPECT_THAT(report, HasSubstr("Check is required for Bank 'OPERATING'(1714)"));
    EXPECT_THAT(report, HasSubstr("Vendor is required for Bank/Check 'OPERATING, 603'(1715)"));
    EXPECT_THAT(report, HasSubstr("Check date is required for Bank/Check 'OPERATING, 604'(1716)"));
}

TEST_F(ApiRecords, ACheckAlreadyInCmIsRefusedAndOneOnFileIgnoresTheCrossReference) {
    Seed("CMT", 1, {{"TBNKACC", "OPERATING"}, {"TRUN", "1"}, {"TSEQ", "1"}, {"TCHECK", "801"}});
    Seed("APM", 4, {{"CBANK", "OPERATING"}, {"CHECK", "802"}});
    const std::string report = Examine(Check("801") + Check("802"));
    EXPECT_THAT(report, HasSubstr("Check Management Check 'OPERATING, 801' already exists(1719)"));
    EXPECT_THAT(report, Not(HasSubstr("has no valid invoices")));  // no invoice pays it, yet it is on file
}

TEST_F(ApiRecords, WithoutCmEntriesAVoidCheckIsNotedAndStillConverted) {
    Reopen([](suite::CompanySettings& settings) {
        for (auto& i : settings.interfaces) i.creates_entries = false;
    });
    const std::string report = Examine(Check("901", {{"CVOIDED", "1"}}));
    EXPECT_THAT(report, HasSubstr("Not creating CM entries, void Check '901' will be ignored(1730)"));
}

// The last payment number cannot be written back when the check asks for its number.
class NoPaymentNumber : public xvAPI {
protected:
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override {
        if (info.ImportedRecs() == kRecCheck) xio::fail_call(xio::FaultCall::WriteHeader, 1, 5, "APM");
        return xvAPI::DispatchRecord(ctx, info, reason);
    }
};

TEST_F(ApiRecords, ACheckWithoutAPaymentNumberIsRefused) {
    FailingCalls fail;
    NoPaymentNumber c;
    const std::string report = Run(WriteText("nopay.txt", Check("950")), "Convert", c);
    EXPECT_THAT(report, HasSubstr(" 4                 2  Unable to read from or write to a Halvorsend data file\n"));
    EXPECT_EQ(Header1("LASTPMT"), 0);
}

TEST_F(ApiRecords, CmRecordsMissingAreWrittenInConvertOnly) {
    Seed("CMM", 1, {{"BANKACC", "NEWBANK"}, {"BGENCSH", "01110100000"}});
    const uint16_t cmm = Handle("CMM"), cmt = Handle("CMT");
    BankImage bank;
    ASSERT_EQ(ReadCMBank(bank, cmm, "NEWBANK", false), 0);
    EXPECT_EQ(xio_record_count(cmm, 5), 1);
    EXPECT_EQ(bank.cashAccount, "01110100000");
    ASSERT_EQ(ReadCMBank(bank, cmm, "NEWBANK", true), 0);
    EXPECT_EQ(xio_record_count(cmm, 5), 2);
    EXPECT_NE(ReadCMBank(bank, cmm, "NOSUCH", true), 0);

    // A transaction on file without its cash detail: composed, and written only when asked.
    Seed("CMT", 1, {{"TBNKACC", "OPERATING"}, {"TRUN", "3"}, {"TSEQ", "7"}, {"TCHECK", "555"}, {"TADD", "2000"}});
    modlibs::CheckImage check;
    check.bank = "OPERATING";
    check.check = 555;
    CMTransactionSource source;
    source.check = &check;
    source.net = 5000;
    CMTransImage image;
    ASSERT_EQ(BuildCMTransaction(image, cmt, source, false), 0);
    EXPECT_EQ(image.exists, 1);
    EXPECT_EQ(xio_record_count(cmt, 5), 0);
    EXPECT_EQ(image.detail.amount, 3000);  // -2000 composed, then the net
    EXPECT_EQ(image.transaction.subtract, 3000);
    EXPECT_EQ(image.transaction.add, 0);
    ASSERT_EQ(BuildCMTransaction(image, cmt, source, true), 0);
    EXPECT_EQ(xio_record_count(cmt, 5), 1);

    // A new transaction of a negative check adds to the bank; one after the reference date
    // stays outstanding whatever clear date is given.
    check.check = 556;
    check.amount = -4000;
    check.date = {12, 5, 2026};
    const x_date_type reference{12, 1, 2026}, cleared{12, 2, 2026};
    source.referenceDate = &reference;
    source.clearDate = &cleared;
    ASSERT_EQ(BuildCMTransaction(image, cmt, source, true), 0);
    EXPECT_EQ(image.exists, 0);
    EXPECT_EQ(image.transaction.add, 4000);
    EXPECT_EQ(image.transaction.subtract, 0);
    EXPECT_EQ(image.transaction.reconciled, 1);
    EXPECT_EQ(image.transaction.currentReconciliation, 1);
}

TEST_F(ApiRecords, AStopAfterANewBanksLastCheckRecordRestoresTheCmMaster) {
    Seed("CMM", 1, {{"BANKACC", "NEWBANK"}, {"BGENCSH", "01110100000"}});
    const std::string text = WriteText("stop.txt", Invoice("P1") + Dist("P1", "1") +
                                                       Check("990", {{"CBANK", "NEWBANK"}, {"CVOIDED", "1"}}) +
                                                       Invoice("P2") + Dist("P2", "1"));
    const std::string before = ReadFile(text);
    ConvertProgress progress([] { return int64_t{0}; });
    ScriptedApi c;
    c.stopAt = 4;  // the first pass has written the new bank's last-check record
    EXPECT_THAT(Run(text, "Convert", c, &progress), HasSubstr("Conversion canceled by operator"));
    EXPECT_EQ(xio_record_count(Handle("CMM"), 5), 1);  // only OPERATING's
    EXPECT_EQ(ReadFile(text), before);
}

}  // namespace
}  // namespace dz::ap
