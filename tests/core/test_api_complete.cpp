// An AP invoice group completed after its last record: payments gathered into paid invoices by
// bank and check, paid totals recomputed and told, overpayments and mixed signs refused, statuses
// settled once per group, the vendor's totals and terms dates filled.
#include "test_convert_support.h"

#include "convert/lookups.h"
#include "converters/ap/xvapi.h"
#include "converters/ap/xvapi_complete.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/xd.h"

#include <gmock/gmock.h>

namespace dz::ap {
namespace {

using namespace dz::convert::testing;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using suite::zqDate;

class ApiComplete : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(OpenTestCompany(company.path(), {"CM", "AP"}, [](suite::CompanySettings&) {}, error)) << error;
        group.messages = &messages;
        group.pass1 = true;  // no cross-reference to consult
        conv.invoiceImage.vendor = "ACME";
        conv.invoiceImage.invoice = conv.groupInvoiceId = "I1";
        conv.vendorImage.vendor = "ACME";
        conv.YREND = zqDate(12, 31, 2026);
    }
    modlibs::DistImage& Dist(uint16_t seq, double amount) {
        modlibs::DistImage& d = conv.DistributionMap[seq];
        d.distSequence = seq;
        d.amount = amount;
        return d;
    }
    modlibs::PaidDistImage& Pay(uint16_t seq, const std::string& bank, double check, double gross) {
        modlibs::PaidDistImage& p = conv.paidDists.emplace_back();
        p.vendor = "ACME";
        p.invoice = "I1";
        p.distSequence = seq;
        p.bank = bank;
        p.check = check;
        p.grossPayment = p.amountPaid = gross;
        return p;
    }
    bool Complete() {
        reason.clear();
        return conv.CompleteInvoice(group, head, reason);
    }

    void TearDown() override {
        modules::ReleaseModuleDlls();
        suite::xd_set_clock({});
        suite::close_company();
    }

    ScratchDir company;
    xvAPI conv;
    xvAPI::GroupCallbackContext group;
    convert::MessageList messages;
    xvl::xvlImpInfo head;
    std::string reason;
};

TEST_F(ApiComplete, PaymentsMakeOnePaidInvoicePerBankAndCheck) {
    Dist(1, 30000).discountOffered = 100;
    Pay(1, "ABC", 501, 10000).discountTaken = 100;
    Pay(1, "abc", 501, 5000);
    Pay(1, "XYZ", 501, 2500);
    ASSERT_TRUE(Complete()) << reason;
    ASSERT_EQ(conv.paidInvoices.size(), 2u);
    EXPECT_EQ(conv.paidInvoices[0].bank, "ABC");
    EXPECT_EQ(conv.paidInvoices[0].amountPaid, 15000);
    EXPECT_EQ(conv.paidInvoices[0].grossPayment, 15000);
    EXPECT_EQ(conv.paidInvoices[0].discountTaken, 100);
    EXPECT_EQ(conv.paidInvoices[1].amountPaid, 2500);
    // The distribution and the invoice take the payments' totals; still open.
    EXPECT_EQ(conv.DistributionMap[1].amountPaid, 17500);
    EXPECT_EQ(conv.invoiceImage.amountPaid, 17500);
    EXPECT_EQ(conv.invoiceImage.amount, 30000);
    EXPECT_EQ(conv.invoiceImage.status, 1);

    // A paid invoice may not pay in both signs.
    conv.paidInvoices.clear();
    Pay(1, "ABC", 502, 1000).taxPaid = -100;
    EXPECT_FALSE(Complete());
    EXPECT_EQ(reason, "Paid Invoice 502 amount fields must have consistent signage (i.e. 10.00 and -1.00)(1737)");
}

TEST_F(ApiComplete, PaidTotalsAreRecomputedAndOverpaymentsRefused) {
    Dist(1, 20000).amountPaid = 10000;  // the text says 100.00, the payments 80.00
    Dist(2, 5000);
    Pay(1, "ABC", 501, 8000);
    ASSERT_TRUE(Complete()) << reason;
    // The invoice's text gave no amount paid: nothing to tell.
    EXPECT_THAT(messages, ElementsAre("Amount paid on distribution 1 will change from '100.00' to '80.00', the "
                                      "calculated total(1652)"));

    conv.paidInvoices.clear();
    messages.clear();
    group.converting = true;
    conv.invoiceImage.amount = 99999;  // not what the distributions add up to
    ASSERT_TRUE(Complete()) << reason;
    EXPECT_THAT(messages, ElementsAre("Amount on invoice has changed from '999.99' to '250.00'(1620)"));

    conv.DistributionMap[2].amount = -10000;
    Pay(2, "ABC", 501, -12000);  // a credit paid beyond itself is not tested
    conv.paidInvoices.clear();
    conv.DistributionMap[1].amount = 10000;
    Pay(1, "ABC", 502, 4000);  // 120.00 of 100.00
    EXPECT_FALSE(Complete());
    EXPECT_EQ(reason, "Distribution 1's Amount paid '120.00' exceeds original Amount '100.00'(1653)");

    conv.paidDists.clear();
    conv.paidInvoices.clear();
    conv.DistributionMap.clear();
    modlibs::DistImage& d = Dist(1, 10000);
    d.discountOffered = 1000;
    d.discountTaken = 600;
    d.discountLost = 500;
    conv.shape.hasDistributions = false;  // the paid amounts stand as they are
    EXPECT_FALSE(Complete());
    EXPECT_EQ(reason, "Distribution 1's Discount taken and lost '11.00' exceeds Discount offered '10.00'(1655)");
}

TEST_F(ApiComplete, EveryRecomputedTotalIsToldByItsOwnName) {
    modlibs::DistImage& d = Dist(1, 10000);
    for (double* text : {&d.amountPaid, &d.taxPaid, &d.taxLiabilityAccounted, &d.discountTaken, &d.discountLost,
                         &d.amt64Held, &d.amt64Paid, &d.amt63Applied, &d.amt128Deducted})
        *text = 1;  // what the text says; no payment pays any of it
    modlibs::InvoiceImage& inv = conv.invoiceImage;
    inv.amount = 10000;  // as the distribution adds up: not told
    for (double* text : {&inv.tax, &inv.discountOffered, &inv.amt64, &inv.amt63, &inv.amountPaid, &inv.taxPaid,
                         &inv.discountTaken, &inv.discountLost, &inv.amt64Held, &inv.amt64Paid, &inv.amt63Applied,
                         &inv.amt128Deducted})
        *text = 1;
    ASSERT_TRUE(Complete()) << reason;
    const std::string t64 = convert::TermCap(64), t63 = convert::TermCap(63), t128 = convert::TermCap(128);
    std::vector<::testing::Matcher<std::string>> told;
    for (const std::string& label : {std::string("Amount paid"), std::string("Tax paid"),
                                     std::string("Tax liability accounted"), std::string("Discount taken"),
                                     std::string("Discount lost"), t64 + " held", t64 + " paid", t63 + " applied",
                                     t128 + " deducted"})
        told.push_back(::testing::StartsWith(label + " on distribution 1 will change from '0.01' to '0.00'"));
    for (const std::string& label : {std::string("Tax"), std::string("Disc offered"), t64, t63,
                                     std::string("Amount paid"), std::string("Tax paid"), std::string("Disc taken"),
                                     std::string("Disc lost"), t64 + " held", t64 + " paid", t63 + " applied",
                                     t128 + " deducted"})
        told.push_back(::testing::StartsWith(label + " on invoice will change from '0.01' to '0.00'"));
    EXPECT_THAT(messages, ::testing::ElementsAreArray(told));
}

TEST_F(ApiComplete, StatusesSettleOncePerGroup) {
    Dist(1, 10000).status = 2;
    Dist(2, 10000).status = 2;
    Dist(3, 5000);
    Pay(3, "ABC", 501, 5000);
    conv.invoiceImage.status = 2;
    ASSERT_TRUE(Complete()) << reason;
    EXPECT_THAT(messages, ElementsAre("At least one distribution with status of 'Fully paid (2)' will be changed to "
                                      "status 'Open (1)'(1638)",
                                      "Invoice 'I1' with status of 'Fully paid (2)' will be changed to status "
                                      "'Open (1)'(1618)"));
    EXPECT_EQ(conv.DistributionMap[1].status, 1);
    EXPECT_EQ(conv.DistributionMap[2].status, 1);
    EXPECT_EQ(conv.DistributionMap[3].status, 4);

    conv.DistributionMap.clear();
    EXPECT_FALSE(Complete());
    EXPECT_EQ(reason, "Invoice 'I1' contains no distributions(1622)");
}

TEST_F(ApiComplete, DeductionsAndSignsOfTheInvoice) {
    Dist(1, 10000).amt64 = 3000;
    conv.DistributionMap[1].discountOffered = 4000;
    Pay(1, "ABC", 501, 4000);
    EXPECT_FALSE(Complete());
    EXPECT_EQ(reason, "Net deductions 70.00 exceed net amount 60.00(1738)");

    conv.paidDists.clear();
    conv.paidInvoices.clear();
    conv.DistributionMap.clear();
    Dist(1, 5000);
    Dist(2, -2000);
    ASSERT_TRUE(Complete()) << reason;
    EXPECT_EQ(conv.invoiceImage.amount, 3000);
    Dist(3, 0).tax = -100;
    EXPECT_FALSE(Complete());
    EXPECT_EQ(reason, "Invoice amount fields must have consistent signage (i.e. 30.00 and -1.00)(1737)");
}

TEST_F(ApiComplete, VendorTotalsAndTermsDates) {
    conv.vendorImage.paymentDays = 30;
    conv.vendorImage.paymentDaysType = 1;
    conv.PMTDTU = 1;
    conv.invoiceImage.invoiceDate = zqDate(1, 15, 2027);
    conv.invoiceImage.accountingDate = zqDate(1, 15, 2026);
    conv.invoiceImage.dateReceived = zqDate(1, 20, 2027);  // the vendor's last invoice date is not this
    conv.invoiceImage.flagWord = 1;
    conv.vendorImage.flagWord = 8;
    Dist(1, 10000).discountOffered = 200;
    ASSERT_TRUE(Complete()) << reason;
    EXPECT_EQ(conv.invoiceImage.paymentDate, zqDate(2, 14, 2027));
    EXPECT_EQ(conv.vendorImage.lastInvoiceDate, zqDate(1, 15, 2027));
    EXPECT_EQ(conv.invoiceImage.status, 1);
    EXPECT_EQ(conv.invoiceImage.flagWord, 10);  // open: the vendor's word plus 2
    EXPECT_EQ(conv.vendorImage.openAmount, 10000);
    EXPECT_EQ(conv.vendorImage.availableDiscount, 200);
    EXPECT_EQ(conv.vendorImage.lastInvoice, "I1");
    EXPECT_EQ(conv.vendorImage.tyInvoiced, 0);  // Examine Files adds to no year

    group.converting = true;
    conv.invoiceImage.paymentDate = {};
    conv.invoiceImage.accountingDate = zqDate(12, 31, 2025);
    ASSERT_TRUE(Complete()) << reason;
    EXPECT_EQ(conv.vendorImage.lyInvoiced, 10000);
    conv.invoiceImage.accountingDate = zqDate(12, 31, 2024);  // the year before last
    ASSERT_TRUE(Complete()) << reason;
    EXPECT_EQ(conv.vendorImage.lyInvoiced, 10000);
    EXPECT_EQ(conv.vendorImage.openAmount, 30000);

    // A vendor not on file: refused for an open invoice, told for one that is not open.
    conv.vendorImage = {};
    EXPECT_FALSE(Complete());
    EXPECT_EQ(reason, "Vendor 'ACME' does not yet exist(1604)");
    Pay(1, "ABC", 501, 10000).discountTaken = 200;
    messages.clear();
    conv.paidInvoices.clear();
    ASSERT_TRUE(Complete()) << reason;
    EXPECT_THAT(messages, ElementsAre("Vendor 'ACME' does not exist(1686)"));
}

TEST(ApiTerms, DaysAfterOrDayOfTheMonth) {
    auto terms = [](x_date_type base, int days, uint16_t method) {
        x_date_type date = zqDate(1, 1, 2000);
        DateFromTerms(date, base, days, method);
        return date;
    };
    EXPECT_EQ(terms(zqDate(1, 15, 2027), 30, 1), zqDate(2, 14, 2027));
    EXPECT_EQ(terms(zqDate(3, 20, 2027), 15, 2), zqDate(4, 15, 2027));
    EXPECT_EQ(terms(zqDate(3, 10, 2027), 15, 2), zqDate(3, 15, 2027));
    EXPECT_EQ(terms(zqDate(4, 10, 2027), 31, 2), zqDate(4, 30, 2027));
    EXPECT_EQ(terms(zqDate(3, 10, 2027), 0, 1), zqDate(1, 1, 2000));
    EXPECT_EQ(terms(zqDate(3, 10, 2027), 5, 3), zqDate(3, 10, 2027));
}

}  // namespace
}  // namespace dz::ap
