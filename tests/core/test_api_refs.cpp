// The AP invoice conversion's first-pass cross-reference of checks and invoices, and the payment
// numbers it gives checks: the faults found and spread, their reasons, and numbers that survive
// neither a restore nor Examine Files.
#include "test_convert_support.h"

#include "convert/record_fields.h"
#include "converters/ap/xvapi_payment.h"
#include "converters/ap/xvapi_prepass.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"

#include <gmock/gmock.h>

#include <string>

namespace dz::ap {
namespace {

using ::testing::HasSubstr;

std::string Inv(const std::string& vendor, const std::string& invoice) { return "101\t0\t" + vendor + "|" + invoice; }
std::string Chk(const std::string& bank, int number) { return "104\t0\t" + bank + "|" + std::to_string(number); }

std::string ReasonOf(const CrossReference& refs, const std::string& key, const std::string& value) {
    const CrossRefEntry* e = refs.Find(key);
    std::string reason;
    if (e) refs.Report(*e, reason, value);
    return reason;
}

// One invoice of `amount` paid in full by one check.
void PaidInvoice(CrossReference& refs, const std::string& vendor, const std::string& invoice, uint32_t line,
                 const std::string& bank, int check, double amount) {
    refs.AddInvoice(Inv(vendor, invoice), line, false, vendor);
    refs.AddDistPayment(Inv(vendor, invoice), Chk(bank, check), check, line, false, vendor, amount);
}

void Finish(CrossReference& refs) {
    refs.ValidateChecks();
    refs.MarkRelated();
}

TEST(ApiCrossReference, DuplicateCheckRejectsBothAndItsInvoices) {
    CrossReference refs;
    PaidInvoice(refs, "MORROW", "M-1", 12, "OPERATING", 10510, 75000);
    refs.AddCheck(Chk("OPERATING", 10510), 15, false, 75000, "MORROW", {12, 4, 2026}, false);
    refs.AddCheck(Chk("operating", 10510), 16, false, 75000, "MORROW", {12, 4, 2026}, false);  // keys ignore case
    Finish(refs);
    EXPECT_EQ(refs.Find(Chk("OPERATING", 10510))->status, kRefDuplicateCheck);
    EXPECT_EQ(ReasonOf(refs, Chk("OPERATING", 10510), "10510"),
              "Duplicate check '10510' on line 15 and line 16 of the text file(1722)");
    EXPECT_EQ(ReasonOf(refs, Inv("MORROW", "M-1"), "M-1"),
              "Invoice 'M-1' is related to the bad check found on line 15 of the text file(1720)");
}

TEST(ApiCrossReference, CheckFaultsFoundByValidation) {
    CrossReference refs;
    // Paid by a check the file does not carry: the check number is quoted.
    PaidInvoice(refs, "HARBOR", "H-2", 20, "OPERATING", 10520, 40000);
    // 100.00 against 99.99.
    PaidInvoice(refs, "BAYCONC", "B-2", 30, "OPERATING", 10530, 9999);
    refs.AddCheck(Chk("OPERATING", 10530), 33, false, 10000, "BAYCONC", {}, false);
    // A void check that a payment names, and one that nothing names but has an amount.
    PaidInvoice(refs, "COAST", "C-3", 40, "OPERATING", 10540, 25000);
    refs.AddCheck(Chk("OPERATING", 10540), 39, false, 25000, "COAST", {}, true);
    refs.AddCheck(Chk("OPERATING", 10541), 45, false, 12000, "COAST", {}, true);
    // A check nothing pays, and one whose invoice is another vendor's (vendors ignore case).
    refs.AddCheck(Chk("OPERATING", 10550), 50, false, 100, "COAST", {}, false);
    PaidInvoice(refs, "HARBOR", "H-6", 60, "OPERATING", 10560, 500);
    refs.AddCheck(Chk("OPERATING", 10560), 63, false, 500, "Coast", {}, false);
    PaidInvoice(refs, "coast", "C-7", 70, "OPERATING", 10570, 700);
    refs.AddCheck(Chk("OPERATING", 10570), 73, false, 700, "COAST", {}, false);
    Finish(refs);

    EXPECT_EQ(ReasonOf(refs, Inv("HARBOR", "H-2"), "H-2"), "Check '10520' is not found in the text file(1728)");
    EXPECT_EQ(ReasonOf(refs, Chk("OPERATING", 10530), "10530"),
              "Check 10530's amount '100.00' and the sum of its valid paid distributions '99.99' do not match(1724)");
    EXPECT_THAT(ReasonOf(refs, Inv("BAYCONC", "B-2"), "B-2"), HasSubstr("bad check found on line 33"));
    EXPECT_EQ(ReasonOf(refs, Chk("OPERATING", 10540), "10540"),
              "Void check '10540' has invoices relating to it in the text file(1726)");
    EXPECT_THAT(ReasonOf(refs, Inv("COAST", "C-3"), "C-3"), HasSubstr("bad check found on line 39"));
    EXPECT_EQ(refs.Find(Chk("OPERATING", 10541))->status, kRefGood);  // its amount is its own
    EXPECT_EQ(ReasonOf(refs, Chk("OPERATING", 10550), "10550"),
              "Check '10550' has no valid invoices relating to it in the text file(1725)");
    EXPECT_EQ(ReasonOf(refs, Chk("OPERATING", 10560), "10560"),
              "Vendor 'Coast' doesn't match vendor 'HARBOR' found on line 60 of the text file (1727)");
    EXPECT_EQ(refs.Find(Chk("OPERATING", 10570))->status, kRefGood);
    EXPECT_EQ(refs.Find(Inv("coast", "C-7"))->status, kRefGood);
}

TEST(ApiCrossReference, FaultsSpreadAlongChainsInKeyOrderAndStopAtOwnStatus) {
    CrossReference refs;
    // I1 paid by C1; I2 paid by C1 and C2; I3 paid by C2. C1 is short; I3 is a duplicate.
    PaidInvoice(refs, "V", "I1", 10, "B", 1, 100);
    PaidInvoice(refs, "V", "I2", 20, "B", 1, 100);
    refs.AddDistPayment(Inv("V", "I2"), Chk("B", 2), 2, 20, false, "V", 50);
    PaidInvoice(refs, "V", "I3", 30, "B", 2, 50);
    refs.AddInvoice(Inv("V", "I3"), 35, false, "V");
    refs.AddCheck(Chk("B", 1), 40, false, 999, "V", {}, false);
    refs.AddCheck(Chk("B", 2), 41, false, 100, "V", {}, false);
    Finish(refs);
    EXPECT_EQ(refs.Find(Chk("B", 1))->status, kRefAmountMismatch);
    // Invoices come before checks: the duplicate spreads first, through C2 to I2 and on, and stops
    // at C1, which has its own fault; C1 then reaches only I1.
    EXPECT_EQ(ReasonOf(refs, Chk("B", 2), "2"),
              "Check '2' is related to the bad invoice found on line 30 of the text file(1721)");
    EXPECT_EQ(ReasonOf(refs, Inv("V", "I2"), "I2"),
              "Invoice 'I2' is related to the bad invoice found on line 30 of the text file(1721)");
    EXPECT_EQ(ReasonOf(refs, Inv("V", "I1"), "I1"),
              "Invoice 'I1' is related to the bad check found on line 40 of the text file(1720)");
    EXPECT_EQ(ReasonOf(refs, Inv("V", "I3"), "I3"),
              "Duplicate invoice 'I3' on line 30 and line 35 of the text file(1723)");
}

TEST(ApiCrossReference, BadRecordsAndFilesWithoutChecks) {
    CrossReference refs;
    refs.AddInvoice(Inv("V", "I1"), 10, true, "V");
    refs.AddDistPayment(Inv("V", "I1"), Chk("B", 7), 7, 10, true, "V", 100);
    PaidInvoice(refs, "V", "I2", 20, "B", 8, 100);
    // No Check records: no validation, no spreading; a bad record keeps its own status.
    EXPECT_EQ(ReasonOf(refs, Inv("V", "I1"), "I1"),
              "On Prepass: Unable to read from or write to a Halvorsend data file");
    EXPECT_EQ(refs.Find(Inv("V", "I2"))->status, kRefGood);
    EXPECT_EQ(refs.Find(Chk("B", 7))->status, kRefGood);
    std::string reason = "kept";
    EXPECT_FALSE(refs.Report(*refs.Find(Chk("B", 8)), reason, "8"));
    EXPECT_EQ(reason, "kept");
    // A bad invoice spreads as one (12774) once marked.
    refs.MarkRelated();
    EXPECT_EQ(ReasonOf(refs, Chk("B", 7), "7"),
              "Check '7' is related to the bad invoice found on line 10 of the text file(1721)");
}

TEST(ApiCrossReference, MarksAHundredThousandLinkChainWithoutRecursion) {
    CrossReference refs;
    constexpr int kLinks = 100000;
    refs.AddInvoice(Inv("V", "0"), 1, true, "V");
    for (int k = 1; k < kLinks; ++k) {
        const std::string invoice = Inv("V", std::to_string(k));
        refs.AddInvoice(invoice, static_cast<uint32_t>(k + 1), false, "V");
        refs.AddDistPayment(invoice, Chk("B", k - 1), k - 1, 1, false, "V", 1);
        refs.AddDistPayment(Inv("V", std::to_string(k - 1)), Chk("B", k - 1), k - 1, 1, false, "V", 1);
    }
    refs.MarkRelated();
    const CrossRefEntry* last = refs.Find(Inv("V", std::to_string(kLinks - 1)));
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->status, kRefRelatedBadInvoice);
    EXPECT_EQ(last->statusLine, 1u);
}

TEST(ApiCrossReference, PaymentsEnteredAfterValidationJoinTheLinksBeforeThem) {
    CrossReference refs;
    PaidInvoice(refs, "V", "1", 10, "B", 1, 100);
    refs.AddCheck(Chk("B", 1), 12, true, 100, "V", {}, false);
    refs.ValidateChecks();
    PaidInvoice(refs, "V", "2", 20, "B", 1, 0);
    refs.MarkRelated();
    EXPECT_EQ(refs.Find(Inv("V", "1"))->status, kRefRelatedBadCheck);
    EXPECT_EQ(refs.Find(Inv("V", "2"))->status, kRefRelatedBadCheck);
}

TEST(ApiCrossReference, KeysAreFoundWhetherTheTableKeepsHashTagsOrHasOutgrownThem) {
    // With ten bits for entry numbers the table keeps tags while its entries' numbers fit in
    // them (up to 768 entries), then drops them.
    for (const unsigned bits : {26u, 10u}) {
        CrossReference refs(bits);
        constexpr int kInvoices = 3000;
        for (int k = 0; k < kInvoices; ++k)
            refs.AddInvoice(Inv("V", std::to_string(k)), static_cast<uint32_t>(k + 1), false, "V");
        for (int k = 0; k < kInvoices; ++k) {
            const CrossRefEntry* e = refs.Find(Inv("v", std::to_string(k)));
            ASSERT_NE(e, nullptr) << bits << " " << k;
            EXPECT_EQ(e->line, static_cast<uint32_t>(k + 1));
        }
        EXPECT_EQ(refs.Find(Inv("V", std::to_string(kInvoices))), nullptr);
        refs.AddInvoice(Inv("V", "17"), 9999, false, "V");  // a repeat is found as one
        EXPECT_EQ(refs.Find(Inv("V", "17"))->status, kRefDuplicateInvoice);
    }
}

// ---- Payment numbers ---------------------------------------------------------------------------

class ApiPaymentNumbers : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(xio_load_dictionaries(dz::data_folder() / "dictionary", error)) << error;
        convert::ForgetFieldNumbers();
        path = dir.path() / "MASTER.APM";
        ASSERT_EQ(xio_create_file("APM", 1, path), XIO_OK);
        ASSERT_EQ(xio_open_file(path, 0, apm), XIO_OK);
    }
    void TearDown() override {
        cache.DropFile();
        xio_cls_file(apm);
    }
    void SetLast(double value) {
        ASSERT_EQ(xio_rd_header(apm, 1, 1), XIO_OK);
        convert::PutNumber(apm, convert::HeaderFieldNo(apm, 1, "LASTPMT"), value);
        ASSERT_EQ(xio_wr_header(apm, 1), XIO_OK);
    }
    double Last() {
        EXPECT_EQ(xio_rd_header(apm, 1, 0), XIO_OK);
        const double v = convert::GetNumber(apm, convert::HeaderFieldNo(apm, 1, "LASTPMT"));
        xio_free_header(apm, 1);
        return v;
    }

    convert::testing::ScratchDir dir;
    std::filesystem::path path;
    uint16_t apm = 0;
    PaymentNumberCache cache;
};

TEST_F(ApiPaymentNumbers, IncrementWrapsAndFailsOnALockedHeader) {
    SetLast(999999998);
    EXPECT_EQ(IncrementLastPayment(apm), 999999999);
    EXPECT_EQ(IncrementLastPayment(apm), 1);
    SetLast(0);
    EXPECT_EQ(IncrementLastPayment(apm), 1);

    // Another handle holds the header for all ten reads: no number, and none is kept.
    uint16_t other = 0;
    ASSERT_EQ(xio_open_file(path, 0, other), XIO_OK);
    ASSERT_EQ(xio_rd_header(other, 1, 1), XIO_OK);
    EXPECT_EQ(IncrementLastPayment(apm), 0);
    EXPECT_EQ(cache.Take(apm, "co", "OPERATING", 10501), 0);
    xio_free_header(other, 1);
    xio_cls_file(other);
    EXPECT_EQ(cache.Take(apm, "co", "OPERATING", 10501), 2);
    EXPECT_EQ(Last(), 2);
}

TEST_F(ApiPaymentNumbers, OneNumberPerCheckAndCompanyUntilTheFileIsRestored) {
    SetLast(40);
    EXPECT_EQ(cache.Take(apm, "co", "ABC", 100), 41);
    EXPECT_EQ(cache.Take(apm, "co", "abc", 100), 41);  // banks ignore case
    EXPECT_EQ(cache.Take(apm, "co", "ABC", 101), 42);
    EXPECT_EQ(cache.Take(apm, "other", "ABC", 100), 43);  // another company's check
    EXPECT_EQ(Last(), 43);

    // A restore puts LASTPMT back and forgets the file's numbers: no number is given twice.
    SetLast(40);
    cache.DropFile();
    EXPECT_EQ(cache.Take(apm, "co", "ABC", 101), 41);
    cache.CommitFile();
    SetLast(60);
    cache.DropFile();
    EXPECT_EQ(cache.Take(apm, "co", "abc", 101), 41);  // committed: kept for the program's life
    EXPECT_EQ(Last(), 60);
}

TEST_F(ApiPaymentNumbers, ExamineCountsProvisionallyAndWritesNothing) {
    SetLast(7);
    EXPECT_EQ(cache.Provisional(apm, "co", "ABC", 1), 8);
    EXPECT_EQ(cache.Provisional(apm, "co", "ABC", 2), 9);
    EXPECT_EQ(cache.Provisional(apm, "co", "abc", 1), 8);
    EXPECT_EQ(Last(), 7);
    cache.DropFile();  // the examined file ends
    // Convert then takes its own numbers from the header.
    EXPECT_EQ(cache.Take(apm, "co", "ABC", 2), 8);
    EXPECT_EQ(Last(), 8);
}

}  // namespace
}  // namespace dz::ap
