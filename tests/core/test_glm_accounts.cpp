// Accounts: their parts must exist, fields the text file leaves out come from the base account,
// and settings the company does not allow are corrected with a message.
#include "test_glm_support.h"

#include "convert/texts.h"

namespace dz::gl::testing {

using namespace convert;
namespace {

// Prefixes 01, 01-1 and 01-1-10 and a few base accounts.
std::string Parts() {
    return Line("3", {{"PAPRFX", "01"}}) + Line("4", {{"PBPRFX", "01-1"}}) + Line("5", {{"PCPRFX", "01-1-10"}}) +
           Line("6", {{"BSBASE", "1000-00"}, {"BSTITLE", "Cash"}, {"BSTYPE", "1"}, {"BSCSFLW", "5"}}) +
           Line("6", {{"BSBASE", "4000-00"}, {"BSTITLE", "Revenue"}, {"BSTYPE", "7"}, {"BSICSTS", "3"}}) +
           Line("6", {{"BSBASE", "9000-00"},
                      {"BSTITLE", "Income tax"},
                      {"BSTYPE", "12"},
                      {"BSICSTS", "4"},
                      {"BSBGTS", "Y"},
                      {"BSCNTL", "N"}});
}

class GlmAccounts : public GlmTest {};

TEST_F(GlmAccounts, MissingPartsAreNamedInTheAccountFormatsWords) {
    const std::string text = WriteText(
        "a.txt", Parts() + Line("1B", {{"AACCT", "01-1-10-2000-00"}}) + Line("1B", {{"AACCT", "02-1-10-1000-00"}}) +
                     Line("1B", {{"AACCT", "01-2-10-1000-00"}}) + Line("1B", {{"AACCT", "01-1-20-1000-00"}}) +
                     Line("1B", {{"AACCT", "01-1-10-1000-00"}}));
    for (const char* task : {"Examine Files", "Convert"}) {
        const std::string report = Run(text, task);
        EXPECT_TRUE(Has(report, "Base account 2000-00 doesn't exist for account 01-1-10-2000-00(125)")) << report;
        EXPECT_TRUE(Has(report, "Prefix A 02 doesn't exist for account 02-1-10-1000-00(126)")) << report;
        EXPECT_TRUE(Has(report, "Prefix B 01-2 doesn't exist for account 01-2-10-1000-00(127)")) << report;
        EXPECT_TRUE(Has(report, "Prefix C 01-1-20 doesn't exist for account 01-1-20-1000-00(128)")) << report;
        EXPECT_FALSE(Has(report, "01-1-10-1000-00(1")) << report;
    }
    // The converted account took what its line left out from its base account.
    ASSERT_TRUE(Read(kRecAccount, "AACCT", "01110100000"));
    EXPECT_EQ(Field(kRecAccount, "ATITLE").text, "Cash");
    EXPECT_EQ(Field(kRecAccount, "ACSFLW").number, 5);
}

TEST_F(GlmAccounts, ExaminedAccountsTakeTheirBaseFieldsFromTheExamineCode) {
    const std::string text = WriteText("a.txt", Parts() + Line("1B", {{"AACCT", "01-1-10-9000-00"}}));
    xvGLM converter;
    const std::string report = Run(text, "Examine Files", converter);
    // Base account 9000-00: type 12, status 4, no control account, budgets allowed.
    const uint16_t h = Glm();
    xio_init_record(h, kRecBaseAccount);
    PutText(h, kRecBaseAccount, "BSBASE", "900000");
    std::string id;
    convert::RecordIdText(h, id, kRecBaseAccount);
    ASSERT_TRUE(converter.RecordIds().count(id)) << id;
    EXPECT_EQ(converter.RecordIds().at(id), 10412);
    // The account took type 12 and status 4 from that code.
    EXPECT_TRUE(Has(report, " 1B                8  Message for Account - '01-1-10-9000-00':\n"
                            "                      Note: This non-balance sheet account, 'Income tax(12)', has an "
                            "intercompany status 'Both(4)'(172)"))
        << report;
    // The account's own code tells that it allows budgets.
    xio_init_record(h, kRecAccount);
    PutText(h, kRecAccount, "AACCT", "01110900000");
    convert::RecordIdText(h, id, kRecAccount);
    ASSERT_TRUE(converter.RecordIds().count(id));
    EXPECT_EQ(converter.RecordIds().at(id), 1);
}

TEST_F(GlmAccounts, FutureBalancesBecomeTheSumOfTheirActivities) {
    const std::string text = WriteText(
        "a.txt", Parts() +
                     Line("1", {{"AACCT", "01-1-10-1000-00"}, {"ATITLE", "Cash"}, {"AFP1", "2.00"}, {"AFP6", "3.00"}}) +
                     Line("1", {{"AACCT", "01-1-10-4000-00"},
                                {"ATITLE", "Revenue"},
                                {"ATYPE", "7"},
                                {"ACRBAL", "1.00"},
                                {"AFP3", "4.00"},
                                {"AFTBAL", "4.00"},
                                {"ACCRBAL", "2.00"},
                                {"ACFP2", "1.50"},
                                {"ACFTBAL", "3.50"}}));
    const std::string report = Run(text, "Convert");
    ASSERT_TRUE(Read(kRecAccount, "AACCT", "01110100000"));
    EXPECT_EQ(Field(kRecAccount, "AFTBAL").number, 500);  // from 0: no message
    ASSERT_TRUE(Read(kRecAccount, "AACCT", "01110400000"));
    EXPECT_EQ(Field(kRecAccount, "AFTBAL").number, 500);
    EXPECT_EQ(Field(kRecAccount, "ACFTBAL").number, 350);  // already the sum
    EXPECT_TRUE(Has(report, "Accrual Future Balance has changed from 4.00 to 5.00, the future activities' sum(135)"))
        << report;
    EXPECT_EQ(report.find("Future Balance"), report.rfind("Future Balance")) << report;
}

TEST_F(GlmAccounts, SummarizeLedgerAndThirteenthPeriodsAreCleared) {
    const std::string text = WriteText(
        "a.txt", Parts() + Line("1", {{"AACCT", "01-1-10-1000-00"},
                                      {"ATITLE", "Cash"},
                                      {"ASUMM", "Y"},
                                      {"AP12", "5.00"},
                                      {"ACDYP12", "-1.25"}}));
    std::string report = Run(text, "Examine Files");
    EXPECT_TRUE(Has(report, "Summarize Ledger is not currently available in the Vesk Software, the field will change from "
                            "YES to NO(117)"))
        << report;
    EXPECT_TRUE(Has(report, "Account not using 13 periods, Prior period 12 accrual activity with 5.00 will be cleared(168)"))
        << report;
    EXPECT_TRUE(Has(report, "Account not using 13 periods, Year 1, period 12 debit cash activity with -1.25 will be "
                            "cleared(168)"))
        << report;
    report = Run(text, "Convert");
    EXPECT_TRUE(Has(report, "with 5.00 has been cleared(167)")) << report;
    ASSERT_TRUE(Read(kRecAccount, "AACCT", "01110100000"));
    EXPECT_EQ(Field(kRecAccount, "AP12").number, 0);
    EXPECT_EQ(Field(kRecAccount, "ACDYP12").number, 0);
    EXPECT_EQ(Field(kRecAccount, "ASUMM").flag, 0);
}

TEST_F(GlmAccounts, ThirteenthPeriodsStayWhenTheCompanyUsesThem) {
    SetHeader(kHdrSettings, [&](uint16_t h) { PutHeaderFlag(h, 1, "U13PA", 1); });
    const std::string text = WriteText(
        "a.txt", Parts() + Line("1", {{"AACCT", "01-1-10-1000-00"}, {"ATITLE", "Cash"}, {"AP12", "5.00"}}));
    const std::string report = Run(text, "Convert");
    EXPECT_FALSE(Has(report, "13 periods")) << report;
    ASSERT_TRUE(Read(kRecAccount, "AACCT", "01110100000"));
    EXPECT_EQ(Field(kRecAccount, "AP12").number, 500);
}

TEST_F(GlmAccounts, ControlAccountsKeepTheirSettingsOnlyWhenMarked) {
    SetHeader(kHdrSettings, [&](uint16_t h) { PutHeaderFlag(h, 1, "TYPEDCA", 1); });
    const std::map<std::string, std::string> control = {{"ATITLE", "Receivables"}, {"ACTLTY", "3"}, {"AWRNLV", "2"},
                                                       {"AINGL", "Y"}};
    auto account = [&](const std::string& acct, const char* isControl) {
        auto values = control;
        values["AACCT"] = acct;
        values["ACNTL"] = isControl;
        return Line("1", values);
    };
    const std::string text =
        WriteText("a.txt", Parts() + account("01-1-10-1000-00", "Y") + account("01-1-10-4000-00", "N"));
    const std::string report = Run(text, "Convert");
    ASSERT_TRUE(Read(kRecAccount, "AACCT", "01110100000"));
    EXPECT_EQ(Field(kRecAccount, "ACTLTY").number, 3);
    EXPECT_EQ(Field(kRecAccount, "AWRNLV").number, 2);
    EXPECT_EQ(Field(kRecAccount, "AINGL").flag, 1);
    ASSERT_TRUE(Read(kRecAccount, "AACCT", "01110400000"));
    EXPECT_EQ(Field(kRecAccount, "ACTLTY").number, 1);
    EXPECT_EQ(Field(kRecAccount, "AWRNLV").number, 1);
    EXPECT_EQ(Field(kRecAccount, "AINGL").flag, 0);
    EXPECT_TRUE(Has(report, "Messages for Account - '01-1-10-4000-00':\n"
                            "                      Control accounts not marked in text file, allow entry in GL was changed "
                            "from YES to NO(118)\n"
                            "                      Control accounts not marked in text file, control type 'Customer (3)' "
                            "was not converted(120)\n"
                            "                      Control accounts not marked in text file, warning level 'Warning (2)' "
                            "was not converted(122)"))
        << report;
    EXPECT_FALSE(Has(report, "'01-1-10-1000-00'")) << report;
}

// ---- The company's accounting method -----------------------------------------------------------

class GlmAccrualOnly : public GlmTest {
    void Adjust(suite::CompanySettings& s) override { s.accounting_method = 1; }
};

TEST_F(GlmAccrualOnly, CashAmountsAreClearedOnceWithOneMessage) {
    const std::string text = WriteText(
        "a.txt", Parts() + Line("1B", {{"AACCT", "01-1-10-1000-00"}, {"ACRBAL", "10.00"}, {"ACCRBAL", "0"}}) +
                     Line("1", {{"AACCT", "01-1-10-4000-00"},
                                {"ATITLE", "Revenue"},
                                {"ACCRBAL", "7.00"},
                                {"ACFP1", "1.00"},
                                {"ACFTBAL", "99.00"},
                                {"AFTBAL", "3.00"}}));
    const std::string report = Run(text, "Convert");
    const std::string cleared =
        "Cash accounting is not specified in General Settings, cash amount fields have changed to 0(131)";
    ASSERT_TRUE(Has(report, cleared)) << report;
    EXPECT_EQ(report.find(cleared), report.rfind(cleared)) << report;  // the zero cash account had none
    EXPECT_FALSE(Has(report, "Cash Future Balance")) << report;
    EXPECT_TRUE(Has(report, "Accrual Future Balance has changed from 3.00 to 0.00")) << report;
    ASSERT_TRUE(Read(kRecAccount, "AACCT", "01110400000"));
    for (const char* f : {"ACCRBAL", "ACFP1", "ACFTBAL"}) EXPECT_EQ(Field(kRecAccount, f).number, 0) << f;
}

class GlmCashOnly : public GlmTest {
    void Adjust(suite::CompanySettings& s) override { s.accounting_method = 2; }
};

TEST_F(GlmCashOnly, AccrualAmountsAreCleared) {
    const std::string text = WriteText(
        "a.txt", Parts() + Line("1B", {{"AACCT", "01-1-10-1000-00"}, {"ACRBAL", "10.00"}, {"ACCRBAL", "4.00"}}));
    std::string report = Run(text, "Examine Files");
    EXPECT_TRUE(Has(report, "Accrual accounting is not specified in General Settings, accrual amount fields will change to "
                            "0(134)"))
        << report;
    EXPECT_FALSE(Has(report, "Future Balance")) << report;  // from 0 to the sum without a message
    report = Run(text, "Convert");
    ASSERT_TRUE(Read(kRecAccount, "AACCT", "01110100000"));
    EXPECT_EQ(Field(kRecAccount, "ACRBAL").number, 0);
    EXPECT_EQ(Field(kRecAccount, "AFTBAL").number, 0);
    EXPECT_EQ(Field(kRecAccount, "ACFTBAL").number, 400);
}

}  // namespace
}  // namespace dz::gl::testing
