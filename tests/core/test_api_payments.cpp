// AP distribution payments in process: the accounts of a payment when AP does not post to GL, and
// what a payment adds to its bank's last check, the vendor's open, paid and 1099 totals and the
// 1099 totals of its GL prefix, by the year its check's date falls in.
#include "test_api_support.h"

#include "platform/import/xvl_import.h"

namespace dz::ap {
namespace {

using namespace dz::ap::testing;
using ::testing::HasSubstr;

// Keeps what the group held after each distribution payment; `noGl` runs as if AP did not post
// to GL.
class PaymentApi : public xvAPI {
public:
    bool noGl = false;
    bool noPaymentNumber = false;  // the last payment number cannot be written back
    std::vector<modlibs::PaidDistImage> payments;
    std::vector<modlibs::VendorImage> vendors;
    std::vector<std::vector<PrefixTotalsImage>> prefixes;
    std::vector<BankImage> lastBanks;

protected:
    bool LoadSettings(convert::ConvertContext& ctx, std::string& failure) override {
        const bool loaded = xvAPI::LoadSettings(ctx, failure);
        if (noGl) glInterface = false;
        return loaded;
    }
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override {
        if (noPaymentNumber && info.ImportedRecs() == kRecDistPayment)
            xio::fail_call(xio::FaultCall::WriteHeader, 1, 5, "APM");
        const bool kept = xvAPI::DispatchRecord(ctx, info, reason);
        if (info.StartLine() < lastLine_) payments.clear(), vendors.clear(), prefixes.clear(), lastBanks.clear();
        lastLine_ = info.StartLine();  // the second pass starts again: keep its records only
        if (kept && info.ImportedRecs() == kRecDistPayment) {
            payments.push_back(paidDists.back());
            vendors.push_back(vendorImage);
            prefixes.push_back(prefixTotals);
            lastBanks.push_back(banks.front());
        }
        return kept;
    }

private:
    int32_t lastLine_ = 0;
};

class ApiPayments : public ApiTest {
protected:
    void SetUp() override {
        ApiTest::SetUp();
        if (HasFatalFailure()) return;
        SeedReferences();
    }
    // Invoice I1 of 300.00 in one distribution, paid by checks 501 (of `first`) and 502, dated as
    // given; the payments give a cash and a discount account.
    static std::string Paid(const std::string& firstDate, const std::string& secondDate) {
        return "1,V1,I1,Rent,11/02/26,11/02/26,,,11/02/26,300.00,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,\r\n"
               "2,V1,I1,1,Rent,300.00,,,,,,01-1-10-6000-00,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,\r\n"
               "6,V1,I1,OPERATING,501,1,,100.00,,,,,,,,,,01-1-10-1000-00,01-1-10-5200-00,,,," + firstDate + ",1,,\r\n" +
               "6,V1,I1,OPERATING,502,1,,50.00,,,,,,,,,,,,,,," + secondDate + ",1,,\r\n" +
               "4,OPERATING,501," + firstDate + ",,100.00,V1,1,,,,,,,,,,,,,,,,,\r\n" +
               "4,OPERATING,502," + secondDate + ",,50.00,V1,1,,,,,,,,,,,,,,,,,\r\n";
    }
};

TEST_F(ApiPayments, WithoutGlTheFiveAccountsAreClearedWithOneMessage) {
    PaymentApi c;
    c.noGl = true;
    const std::string report = Run(WriteText("t.txt", Paid("12/01/26", "12/02/26")), "Examine Files", c);
    EXPECT_THAT(report, HasSubstr("AP not interfacing with GL, GL fields (like Cash acct with '01-1-10-1000-00') "
                                  "will be cleared(1663)"));
    EXPECT_EQ(report.find("Discount acct"), std::string::npos) << report;
    ASSERT_EQ(c.payments.size(), 2u);
    EXPECT_EQ(c.payments[0].cashAccount, "");
    EXPECT_EQ(c.payments[0].discountAccount, "");
}

TEST_F(ApiPayments, TotalsGoToTheYearOfTheCheckDate) {
    PaymentApi c;
    // The AP and 1099 years end 12/31/2026; check 502 is dated before last year began.
    const std::string report = Run(WriteText("t.txt", Paid("12/01/26", "12/31/24")), "Convert", c);
    ASSERT_EQ(c.payments.size(), 2u) << report;
    // Built from the bank: a payment without discount keeps no discount account.
    EXPECT_EQ(c.payments[0].cashAccount, "01110100000");
    EXPECT_EQ(c.payments[0].discountAccount, "");
    EXPECT_EQ(c.payments[1].cashAccount, "01110100000");
    EXPECT_EQ(c.payments[1].icPayableAccount, "01110210000");

    const modlibs::VendorImage& first = c.vendors[0];
    EXPECT_EQ(first.openAmount, -10000);
    EXPECT_EQ(first.tyGrossPayment, 10000);
    EXPECT_EQ(first.thisYear1099, 10000);
    const modlibs::VendorImage& second = c.vendors[1];
    EXPECT_EQ(second.openAmount, -15000);
    EXPECT_EQ(second.tyGrossPayment + second.lyGrossPayment + second.nyGrossPayment, 10000);
    EXPECT_EQ(second.thisYear1099 + second.lastYear1099 + second.nextYear1099, 10000);

    // The 1099 totals of the expense account's prefix, kept once for the group.
    ASSERT_EQ(c.prefixes[1].size(), 1u);
    EXPECT_EQ(c.prefixes[1][0].prefix, "01");
    EXPECT_EQ(c.prefixes[1][0].thisYear1099, 10000);
    EXPECT_EQ(c.prefixes[1][0].lastYear1099, 0);
    EXPECT_EQ(c.lastBanks[1].lastCheck, 502);
    EXPECT_EQ(c.lastBanks[1].lastCheckAmount, 5000);
}

// Payments of checks taking turns: each check keeps the one number it was given, in both modes.
TEST_F(ApiPayments, EachCheckKeepsItsPaymentNumberWhicheverPaymentCameBetween) {
    const std::string text =
        "1,V1,I1,Rent,11/02/26,11/02/26,,,11/02/26,300.00,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,\r\n"
        "2,V1,I1,1,Rent,200.00,,,,,,01-1-10-6000-00,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,\r\n"
        "2,V1,I1,2,Rent,100.00,,,,,,01-1-10-6000-00,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,\r\n"
        "6,V1,I1,OPERATING,501,1,,100.00,,,,,,,,,,,,,,,12/01/26,1,,\r\n"
        "6,V1,I1,OPERATING,502,1,,50.00,,,,,,,,,,,,,,,12/01/26,1,,\r\n"
        "6,V1,I1,OPERATING,501,2,,100.00,,,,,,,,,,,,,,,12/01/26,1,,\r\n"
        "4,OPERATING,501,12/01/26,,200.00,V1,1,,,,,,,,,,,,,,,,,\r\n"
        "4,OPERATING,502,12/01/26,,50.00,V1,1,,,,,,,,,,,,,,,,,\r\n";
    for (const char* task : {"Examine Files", "Convert"}) {
        PaymentApi c;
        const std::string report = Run(WriteText(std::string(task) + ".txt", text), task, c);
        ASSERT_EQ(c.payments.size(), 3u) << report;
        EXPECT_NE(c.payments[0].paymentNumber, 0) << task;
        EXPECT_NE(c.payments[1].paymentNumber, c.payments[0].paymentNumber) << task;
        EXPECT_EQ(c.payments[2].paymentNumber, c.payments[0].paymentNumber) << task;
    }
}

TEST_F(ApiPayments, TheAmountsAndAccountsAPaymentGivesReachItsRecordAndTotals) {
    // Check 501 gives every amount and account column; check 502 names a deduction account
    // with nothing deducted.
    const std::string body =
        "1,V1,I1,Rent,11/02/26,11/02/26,,,11/02/26,300.00,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,\r\n"
        "2,V1,I1,1,Rent,300.00,,,,,,01-1-10-6000-00,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,\r\n"
        "6,V1,I1,OPERATING,501,1,,100.00,,,,,5.00,2.00,3.00,10.00,90.00,01-1-10-1000-00,,01-1-10-5300-00,"
        "01-1-10-1500-00,01-1-10-2100-00,12/01/26,1,,\r\n"
        "6,V1,I1,OPERATING,502,1,,50.00,,,,,,,,,50.00,,,01-1-10-5300-00,,,12/01/26,1,,\r\n"
        "4,OPERATING,501,12/01/26,,90.00,V1,1,,,,,,,,,,,,,,,,,\r\n"
        "4,OPERATING,502,12/01/26,,50.00,V1,1,,,,,,,,,,,,,,,,,\r\n";
    PaymentApi c;
    const std::string report = Run(WriteText("t.txt", body), "Convert", c);
    ASSERT_EQ(c.payments.size(), 2u) << report;
    const modlibs::PaidDistImage& given = c.payments[0];
    EXPECT_EQ(given.taxLiabilityApplied, 500);
    EXPECT_EQ(given.discountLost, 200);
    EXPECT_EQ(given.amt64Held, 300);
    EXPECT_EQ(given.amt128Deducted, 1000);
    EXPECT_EQ(given.paidAmount, 9000);
    EXPECT_EQ(given.deductionAccount, "01110530000");
    EXPECT_EQ(given.icReceivableAccount, "01110150000");
    EXPECT_EQ(given.icPayableAccount, "01110210000");
    EXPECT_EQ(c.payments[1].deductionAccount, "");
    // The paid amount and the amount deducted move the vendor's totals.
    EXPECT_EQ(c.vendors[0].availableDiscount, -9000);
    EXPECT_EQ(c.vendors[0].tyPaid, 9000);
    EXPECT_EQ(c.vendors[0].thisYearDeductions, 1000);
    EXPECT_EQ(c.vendors[1].tyPaid, 14000);
}

TEST_F(ApiPayments, APaymentWithoutAPaymentNumberIsRefused) {
    FailingCalls fail;
    PaymentApi c;
    c.noPaymentNumber = true;
    const std::string report = Run(WriteText("t.txt", Paid("12/01/26", "12/02/26")), "Convert", c);
    // Refused in the first pass, the group is refused whole in the second.
    EXPECT_THAT(report, HasSubstr(" 1                 2  On Prepass: Unable to read from or write to a Halvorsend data "
                                  "file\n"));
    EXPECT_THAT(report, HasSubstr("Check '501' has no valid invoices relating to it in the text file(1725)"));
}

TEST_F(ApiPayments, WhatTheFirstPassSaidOfTheLastGroupIsNotToldAgain) {
    // The last group's completion warns in both passes; the first group has nothing to say.
    const std::string body =
        "1,V1,I1,Rent,11/02/26,11/02/26,,,11/02/26,100.00,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,\r\n"
        "2,V1,I1,1,Rent,100.00,,,,,,01-1-10-6000-00,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,\r\n"
        "1,V1,I2,Rent,11/02/26,11/02/26,,,11/02/26,150.00,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,\r\n"
        "2,V1,I2,1,Rent,100.00,,,,,,01-1-10-6000-00,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,\r\n";
    xvAPI c;
    const std::string report = Run(WriteText("t.txt", body), "Examine Files", c);
    const std::string told = "Amount on invoice will change from '150.00' to '100.00'(1621)";
    ASSERT_THAT(report, HasSubstr(told));
    EXPECT_EQ(report.find(told), report.rfind(told)) << report;
    EXPECT_EQ(report.find("Invoice- V1, I1"), std::string::npos) << report;
}

}  // namespace
}  // namespace dz::ap
