// What AP posting is built from: the year a date counts in, the 1099 totals of a GL prefix kept
// through a group and written back without losing what the image does not carry, the AP
// transaction of a distribution or a payment, and the split of a distribution's taxes over its tax
// group and its payments.
#include "test_convert_support.h"

#include "convert/lookups.h"
#include "convert/record_fields.h"
#include "converters/ap/xvapi.h"
#include "converters/ap/xvapi_post.h"
#include "converters/ap/xvapi_posting.h"
#include "converters/ap/xvapi_taxes.h"
#include "platform/datafile/xio.h"
#include "platform/suite/xk.h"

#include <gmock/gmock.h>

namespace dz::ap {
namespace {

using namespace dz::convert::testing;
using suite::zqDate;

// ---- Years ------------------------------------------------------------------------------------

TEST(ApiYears, DatesFallInTheYearOfTheirYearEnd) {
    const x_date_type end = zqDate(12, 31, 2025);
    EXPECT_EQ(YearOf(zqDate(6, 30, 2025), end), YearBucket::This);
    EXPECT_EQ(YearOf(zqDate(12, 31, 2025), end), YearBucket::This);
    EXPECT_EQ(YearOf(zqDate(1, 1, 2025), end), YearBucket::This);
    EXPECT_EQ(YearOf(zqDate(12, 31, 2024), end), YearBucket::Last);
    EXPECT_EQ(YearOf(zqDate(1, 1, 2024), end), YearBucket::Last);
    EXPECT_EQ(YearOf(zqDate(1, 1, 2026), end), YearBucket::Next);
    EXPECT_EQ(YearOf(zqDate(6, 30, 2023), end), YearBucket::None);
    // The last day of the year before last closes that year, not last year.
    EXPECT_EQ(YearOf(zqDate(12, 31, 2023), end), YearBucket::None);
    EXPECT_EQ(YearOf({}, end), YearBucket::None);
}

TEST(ApiYears, LeapYearsOnBothEnds) {
    EXPECT_EQ(CompareWithYearEarlier(zqDate(12, 31, 2024)), 366);
    EXPECT_EQ(CompareWithYearEarlier(zqDate(12, 31, 2025)), 365);
    // A year ending on February 29: last year ends on February 28.
    const x_date_type leapEnd = zqDate(2, 29, 2024);
    EXPECT_EQ(YearOf(zqDate(3, 1, 2023), leapEnd), YearBucket::This);
    EXPECT_EQ(YearOf(zqDate(2, 28, 2023), leapEnd), YearBucket::Last);
    EXPECT_EQ(YearOf(zqDate(3, 1, 2022), leapEnd), YearBucket::Last);
    EXPECT_EQ(YearOf(zqDate(2, 28, 2022), leapEnd), YearBucket::None);
    // February 29 itself lies in the year ending the next February 28.
    const x_date_type end = zqDate(2, 28, 2025);
    EXPECT_EQ(YearOf(zqDate(2, 29, 2024), end), YearBucket::This);
    EXPECT_EQ(YearOf(zqDate(2, 28, 2024), end), YearBucket::Last);
    EXPECT_EQ(YearOf(zqDate(2, 28, 2023), end), YearBucket::None);
}

// ---- AP master and tax master in a company -----------------------------------------------------

class ApiPosting : public ::testing::Test {
protected:
    void SetUp() override { Open([](suite::CompanySettings&) {}, company); }
    void TearDown() override {
        for (uint16_t h : {apm, txm})
            if (h) xio_cls_file(h);
        suite::xd_set_clock({});
        suite::close_company();
    }
    void Open(const std::function<void(suite::CompanySettings&)>& adjust, const ScratchDir& folder) {
        std::string error;
        ASSERT_TRUE(OpenTestCompany(folder.path(), {"GL", "CM", "AP"}, adjust, error)) << error;
        for (auto [abbr, handle] : {std::pair<const char*, uint16_t*>{"APM", &apm}, {"TXM", &txm}}) {
            const auto path = folder.path() / xio_file_name(abbr, 1);
            ASSERT_EQ(xio_create_file(abbr, 1, path), XIO_OK);
            ASSERT_EQ(xio_open_file(path, XIO_OPEN_READ_WRITE, *handle), XIO_OK);
            ASSERT_EQ(xio_start_writes(*handle), XIO_OK);
        }
    }
    void StorePrefixTotals(const std::string& prefix, double thisYear, double grossRevenue) {
        xio_init_record(apm, 10);
        convert::PutText(apm, 10, "FPREFIX", prefix);
        convert::PutText(apm, 10, "FVENDOR", "ACME");
        convert::PutNumber(apm, 10, "FLEVEL", 2);
        convert::PutNumber(apm, 10, "FYTDAMT", thisYear);
        convert::PutText(apm, 10, "FGLA", prefix);
        convert::PutNumber(apm, 10, "FGROREV", grossRevenue);
        ASSERT_EQ(xio_wr_record(apm, 10), XIO_OK);
    }
    // Reads ACME's prefix A totals of `prefix` into the buffer.
    bool Stored(const std::string& prefix) {
        xio_init_record(apm, 10);
        convert::PutText(apm, 10, "FPREFIX", prefix);
        convert::PutText(apm, 10, "FVENDOR", "ACME");
        convert::PutNumber(apm, 10, "FLEVEL", 2);
        return xio_rd_record(apm, 10, 0, 0) == XIO_OK;
    }
    // A tax group whose components k carry the given rates (0: not used).
    void StoreGroup(const std::string& group, double rate, const std::map<int, double>& components) {
        xio_init_record(txm, 2);
        convert::PutText(txm, 2, "GROUP", group);
        convert::PutNumber(txm, 2, "GRATE", rate);
        for (const auto& [k, r] : components) {
            const std::string n = "GTAX" + std::to_string(k);
            convert::PutText(txm, 2, n.c_str(), "T" + std::to_string(k));
            convert::PutNumber(txm, 2, (n + "RT").c_str(), r);
            convert::PutText(txm, 2, (n + "DA").c_str(), "5100" + std::to_string(k) + "0");
            convert::PutText(txm, 2, (n + "CA").c_str(), "2100" + std::to_string(k) + "0");
            convert::PutText(txm, 2, (n + "RD").c_str(), "5200" + std::to_string(k) + "0");
        }
        ASSERT_EQ(xio_wr_record(txm, 2), XIO_OK);
    }

    ScratchDir company;
    uint16_t apm = 0, txm = 0;
};

TEST_F(ApiPosting, PrefixTotalsReadFromFileOrStartedFromThePrefix) {
    modlibs::PaidDistImage paid;
    paid.vendor = "ACME";
    StorePrefixTotals("01", 12500, 0);
    PrefixTotalsImage image;
    ASSERT_EQ(ReadPrefixTotals(image, apm, paid, "01", suite::kGlPrefixA, 2), 0);
    EXPECT_TRUE(image.exists);
    EXPECT_EQ(image.thisYear1099, 12500);
    EXPECT_EQ(image.prefixA, "01");

    ASSERT_EQ(ReadPrefixTotals(image, apm, paid, "012", suite::kGlPrefixAB, 3), 0);
    EXPECT_FALSE(image.exists);
    EXPECT_EQ(image.thisYear1099, 0);
    EXPECT_EQ(image.prefixA, "01");
    EXPECT_EQ(image.prefixAB, "012");
    EXPECT_EQ(image.level, 3);
    // A section below prefix A gives neither piece.
    ASSERT_EQ(ReadPrefixTotals(image, apm, paid, "012", 0, 3), 0);
    EXPECT_EQ(image.prefixA, "");
    EXPECT_EQ(image.prefixAB, "");
}

TEST_F(ApiPosting, ReplacedPrefixTotalsKeepTheGrossRevenue) {
    modlibs::PaidDistImage paid;
    paid.vendor = "ACME";
    StorePrefixTotals("01", 12500, 90000);
    PrefixTotalsImage image;
    ASSERT_EQ(ReadPrefixTotals(image, apm, paid, "01", suite::kGlPrefixA, 2), 0);
    image.Add(YearOf(zqDate(3, 1, 2026), zqDate(12, 31, 2026)), 500, 20);
    image.Add(YearBucket::Last, 7, 1);
    image.Add(YearBucket::None, 1000, 1000);
    // Replace when present: the key put, a locked read, the full put.
    WritePrefixTotals(image, apm);
    ASSERT_EQ(xio_rd_record(apm, 10, 0, 1), XIO_OK);
    WritePrefixTotals(image, apm);
    ASSERT_EQ(xio_rep_record(apm, 10), XIO_OK);

    ASSERT_TRUE(Stored("01"));
    EXPECT_EQ(convert::GetNumber(apm, 10, "FYTDAMT"), 13000);
    EXPECT_EQ(convert::GetNumber(apm, 10, "FYTDDED"), 20);
    EXPECT_EQ(convert::GetNumber(apm, 10, "FLYAMT"), 7);
    EXPECT_EQ(convert::GetNumber(apm, 10, "FGROREV"), 90000);

    // A new record starts from a cleared buffer whatever it held.
    PrefixTotalsImage fresh;
    ASSERT_EQ(ReadPrefixTotals(fresh, apm, paid, "02", suite::kGlPrefixA, 2), 0);
    ASSERT_TRUE(Stored("01"));
    WritePrefixTotals(fresh, apm);
    ASSERT_EQ(xio_wr_record(apm, 10), XIO_OK);
    ASSERT_TRUE(Stored("02"));
    EXPECT_EQ(convert::GetNumber(apm, 10, "FGROREV"), 0);
    EXPECT_EQ(convert::GetText(apm, 10, "FGLA"), "02");
}

TEST_F(ApiPosting, UnprefixedAccountsHaveNoPrefixTotals) {
    TearDown();
    ScratchDir unprefixed;
    Open(
        [](suite::CompanySettings& s) {
            auto& gl = s.formats[9];
            gl.prefix_levels = 0;
            gl.sections.erase(gl.sections.begin(), gl.sections.end() - 2);
        },
        unprefixed);
    PrefixTotalsImage image;
    image.prefix = "untouched";
    EXPECT_EQ(ReadPrefixTotals(image, apm, modlibs::PaidDistImage{}, "01", suite::kGlPrefixA, 2), 1);
    EXPECT_EQ(image.prefix, "untouched");
}

TEST(ApiPostingRecord, PaymentsTurnTheirSignsAndTakeTheCheckDate) {
    xvAPI conv;
    conv.aptRun = 7;
    modlibs::InvoiceImage invoice;
    invoice.accountingDate = zqDate(11, 30, 2026);
    invoice.invoiceDate = zqDate(11, 2, 2026);
    invoice.batch = "B1";
    modlibs::DistImage dist;
    dist.vendor = "ACME";
    dist.distSequence = 2;
    dist.amount = 10000;
    dist.discountOffered = 200;
    dist.amt64 = 1000;
    dist.expenseAccount = "01233400010";
    modlibs::PaidDistImage paid;
    paid.bank = "OPERATING";
    paid.check = 501;
    paid.grossPayment = 9000;
    paid.discountTaken = 200;
    paid.amt64Paid = 900;
    paid.amt63Applied = 50;
    paid.amt128Deducted = 25;

    modlibs::PostingRecord open, payment, later;
    BuildPostingRecord(open, dist, nullptr, nullptr, invoice, conv);
    EXPECT_EQ(open.kind, 1);
    EXPECT_EQ(open.amount, 10000);
    EXPECT_EQ(open.amount2, 200);
    EXPECT_EQ(open.amount3, 1000);
    EXPECT_EQ(open.date1, invoice.accountingDate);
    EXPECT_EQ(open.date2, invoice.invoiceDate);
    EXPECT_EQ(open.bank, "");

    const x_date_type checkDate = zqDate(12, 1, 2026);
    BuildPostingRecord(payment, dist, &paid, &checkDate, invoice, conv);
    EXPECT_EQ(payment.kind, 3);
    EXPECT_EQ(payment.amount, -9000);
    EXPECT_EQ(payment.amount2, -200);
    EXPECT_EQ(payment.amount3, -900);
    EXPECT_EQ(payment.amount4, -50);
    EXPECT_EQ(payment.amount5, -25);
    EXPECT_EQ(payment.date1, checkDate);
    EXPECT_EQ(payment.date2, checkDate);
    EXPECT_EQ(payment.bank, "OPERATING");
    EXPECT_EQ(payment.check, 501);
    EXPECT_EQ(payment.batch, "B1");
    EXPECT_EQ(payment.account1, "01233400010");

    // Another group's distribution: the sequence runs on within the run.
    modlibs::DistImage other = dist;
    other.invoice = "I2";
    BuildPostingRecord(later, other, nullptr, nullptr, invoice, conv);
    EXPECT_EQ(open.run, 7);
    EXPECT_EQ(open.sequence, 1);
    EXPECT_EQ(payment.sequence, 2);
    EXPECT_EQ(later.sequence, 3);
}

// ---- Taxes ------------------------------------------------------------------------------------

// Accounts "prefix|base", so a test sees which account was built from what.
const AccountBuilder kBuild = [](std::string& out, const std::string& prefix, const std::string& base) {
    if (!base.empty()) out = prefix + "|" + base;
};

modlibs::DistImage Taxed(const std::string& group, double tax, double liability) {
    modlibs::DistImage d;
    d.vendor = "ACME";
    d.invoice = "I1";
    d.distSequence = 1;
    d.amount = 100000;
    d.amt64 = 10000;
    d.tax = tax;
    d.taxLiability = liability;
    d.taxGroup = group;
    d.expenseAccount = "01233400010";
    return d;
}

TEST_F(ApiPosting, TaxesSplitByComponentRateWithTheRemainderLast) {
    // 3%, 2% and 1% of 6%: components 1, 2 and 4, the third left blank.
    StoreGroup("G1", 60000, {{1, 30000}, {2, 20000}, {4, 10000}});
    modlibs::DistImage d = Taxed("G1", 1001, 0);
    d.taxes.emplace_back();  // a stale entry is dropped
    ComputeTaxes(txm, d, kBuild);
    ASSERT_EQ(d.taxes.size(), 3u);
    std::vector<uint16_t> components;
    double sum = 0;
    for (const auto& e : d.taxes) components.push_back(e.component), sum += e.amount;
    EXPECT_THAT(components, ::testing::ElementsAre(1, 2, 4));
    EXPECT_EQ(d.taxes.front().amount, 501);  // 500.5 rounded away from zero
    EXPECT_EQ(d.taxes.back().amount, 166);   // 166.8 rounds to 167, but only 1001 - 501 - 334 is left
    EXPECT_EQ(sum, 1001);
    // The prefix of the expense account joins each account; no tax liability, no credit account.
    EXPECT_EQ(d.taxes.front().debitAccount, "01233|510010");
    EXPECT_EQ(d.taxes.front().creditAccount, "");
    // Parts on the 64-amount are a tenth of each part.
    EXPECT_EQ(d.taxes.front().amount64, 50);
}

TEST_F(ApiPosting, AGroupRateOfZeroPutsTheWholeTaxLast) {
    StoreGroup("G0", 0, {{1, 30000}, {2, 20000}});
    modlibs::DistImage d = Taxed("G0", 700, 300);
    ComputeTaxes(txm, d, kBuild);
    ASSERT_EQ(d.taxes.size(), 2u);
    EXPECT_EQ(d.taxes.front().amount, 0);
    EXPECT_EQ(d.taxes.back().amount, 700);
    EXPECT_EQ(d.taxes.back().liability, 300);
    EXPECT_EQ(d.taxes.back().creditAccount, "01233|210020");
    // Parts on the 64-amount were taken before the remainder: none, so no liability accounts.
    EXPECT_EQ(d.taxes.back().liabilityDebit, "");

    modlibs::DistImage missing = Taxed("NOPE", 700, 0);
    ComputeTaxes(txm, missing, kBuild);
    EXPECT_TRUE(missing.taxes.empty());
}

TEST_F(ApiPosting, PaymentsTakeTheirShareAndTheLastTakesWhatRemains) {
    StoreGroup("G2", 30000, {{1, 10000}, {2, 10000}, {3, 10000}});
    modlibs::DistImage d = Taxed("G2", 1000, 0);
    ComputeTaxes(txm, d, kBuild);
    ASSERT_EQ(d.taxes.size(), 3u);  // 333, 333, 334; on the 64-amount 33, 33, 33

    modlibs::PaidDistImage first, second;
    for (auto* p : {&first, &second}) {
        p->bank = "OPERATING";
        p->taxPaid = 500;
        p->grossPayment = 50000;
        p->amt64Paid = 5000;
    }
    first.check = 501;
    second.check = 502;
    SumTaxList(first, d, false);
    SumTaxList(second, d, true);
    ASSERT_EQ(first.paidTaxes.size(), 3u);
    ASSERT_EQ(second.paidTaxes.size(), 3u);
    double paidSum = 0;
    for (const auto& t : first.paidTaxes) paidSum += t.paid;
    EXPECT_EQ(paidSum, 500);
    EXPECT_EQ(first.paidTaxes.front().paid, 167);  // 166.5 rounded
    EXPECT_EQ(first.paidTaxes.back().paid, 166);   // what is left of 500
    EXPECT_EQ(first.paidTaxes.front().check, 501);
    // The first payment takes a rounded tenth on the 64-amount, the last exactly the rest.
    EXPECT_EQ(first.paidTaxes.front().paid64, 17);
    EXPECT_EQ(second.paidTaxes.front().paid64, 33 - 17);
    for (const auto& e : d.taxes) EXPECT_EQ(e.paid64, e.amount64);
}

TEST_F(ApiPosting, PaymentsInSharesThatDoNotRoundTakeTheTaxOnThe64AmountExactly) {
    StoreGroup("G2", 30000, {{1, 10000}, {2, 10000}, {3, 10000}});
    modlibs::DistImage d = Taxed("G2", 1000, 0);
    ComputeTaxes(txm, d, kBuild);
    ASSERT_EQ(d.taxes.size(), 3u);  // on the 64-amount 33, 33, 33
    // Two payments of half each, in the order posting takes them: each half of a part of 33 rounds
    // up to 17, so the payment that completes the 64-amount must take what the first left.
    const double gross[] = {50000, 50000}, paid64[] = {5000, 5000}, tax[] = {500, 500};
    std::vector<modlibs::PaidDistImage> payments(2);
    LastShare share(d.amt64);
    for (std::size_t i = 0; i < payments.size(); ++i) {
        modlibs::PaidDistImage& p = payments[i];
        p.bank = "OPERATING";
        p.check = 501 + static_cast<double>(i);
        p.grossPayment = gross[i];
        p.amt64Paid = paid64[i];
        p.taxPaid = tax[i];
        SumTaxList(p, d, share.Add(p.amt64Paid));
    }
    std::vector<double> sums(d.taxes.size(), 0);
    for (const auto& p : payments) {
        ASSERT_EQ(p.paidTaxes.size(), d.taxes.size());
        std::size_t k = 0;
        for (const auto& t : p.paidTaxes) sums[k++] += t.paid64;
    }
    std::size_t k = 0;
    for (const auto& e : d.taxes) {
        EXPECT_EQ(sums[k], e.amount64) << "component " << e.component;
        EXPECT_EQ(e.paid64, e.amount64) << "component " << e.component;
        ++k;
    }
}

}  // namespace
}  // namespace dz::ap
