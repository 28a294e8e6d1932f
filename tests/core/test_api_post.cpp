// Posting AP invoice groups in process: a group reaches the data files whole or not at all, a
// failure names its step and undoes what the group wrote, a full disk or a write that cannot be
// undone ends the file restored, and a distribution's payments take its taxes exactly.
#include "test_api_support.h"

#include "convert/lookups.h"
#include "converters/ap/xvapi_post.h"
#include "platform/import/xvl_import.h"
#include "platform/datafile/store.h"

namespace dz::ap {
namespace {

using namespace dz::ap::testing;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(ApiLastShare, ThePaymentThatCompletesTheAmountIsTheLastShareBeyondSixteenBits) {
    LastShare share(50000);  // 500.00: more than a 16-bit total holds
    EXPECT_FALSE(share.Add(0));
    EXPECT_FALSE(share.Add(32767));
    EXPECT_TRUE(share.Add(17233));
    LastShare credit(-40000);
    EXPECT_FALSE(credit.Add(-30000));
    EXPECT_TRUE(credit.Add(-10000.7));  // whole cents, cut toward zero
    LastShare nothing(0);
    EXPECT_FALSE(nothing.Add(0));  // a payment of 0 never is
}

class ApiPost : public ApiTest {
protected:
    void SetUp() override {
        ApiTest::SetUp();
        if (HasFatalFailure()) return;
        SeedReferences();
        // Tax group G2 splits a tax 3 to 7 over T3 and T7.
        Seed("TXM", 1, {{"TAX", "T3"}, {"TRATE", "30000"}});
        Seed("TXM", 1, {{"TAX", "T7"}, {"TRATE", "70000"}});
        Seed("TXM", 2, {{"GROUP", "G2"}, {"GRATE", "100000"}, {"GTAX1", "T3"}, {"GTAX1RT", "30000"},
                        {"GTAX2", "T7"}, {"GTAX2RT", "70000"}});
        // Payments carry their check's date: no check lines.
        const std::string full = ReadFile(dz::data_folder() / "templates" / "xvapi.tpl");
        WriteFile(noChecks, full.substr(0, full.find("format 4")));
    }

    uint16_t H(const std::string& abbr) const { return convert::FindFileHandle(list, abbr, 1); }
    int Count(const std::string& abbr, uint16_t rec) {
        int n = 0;
        (void)xio_rd_every(H(abbr), rec, [&] { return ++n > 0; });
        return n;
    }
    // What the group wrote, record type by record type.
    std::string Written() {
        std::string out;
        for (auto [abbr, rec] : std::initializer_list<std::pair<const char*, uint16_t>>{
                 {"APM", 1}, {"APM", 2}, {"APM", 3}, {"APM", 4}, {"APM", 5}, {"APM", 6}, {"APM", 7},
                 {"APT", 1}, {"CMT", 1}, {"CMT", 5}})
            out += std::string(abbr) + std::to_string(rec) + "=" + std::to_string(Count(abbr, rec)) + " ";
        return out;
    }
    // Leaves the first record of type `rec` whose fields hold the given values in the buffer.
    bool Find(const std::string& abbr, uint16_t rec, const std::vector<std::pair<std::string, std::string>>& values) {
        const uint16_t h = H(abbr);
        bool found = false;
        (void)xio_rd_every(h, rec, [&] {
            found = std::all_of(values.begin(), values.end(), [&](const auto& v) {
                const uint16_t f = convert::FieldNo(h, rec, v.first.c_str());
                xio_fld_def def;
                xio_get_fld_def(h, f, def);
                return xio_is_text_type(def.type) ? convert::GetText(h, f) == v.second
                                                  : convert::GetNumber(h, f) == std::stod(v.second);
            });
            return !found;
        });
        return found;
    }
    double Field(const std::string& abbr, uint16_t rec, const char* name) {
        return convert::GetNumber(H(abbr), rec, name);
    }
    std::string Convert(const std::string& name, const std::string& body, xvAPI& c, const std::string& tpl = "") {
        return Run(WriteText(name, body, tpl.empty() ? noChecks : tpl), "Convert", c);
    }
    static std::string Invoice(const std::string& inv, const std::string& amount, const std::string& tax = "") {
        return "1,V1," + inv + ",Rent,11/02/26,11/02/26,,,11/02/26," + amount + "," + tax +
               ",,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,\r\n";
    }
    static std::string Dist(const std::string& inv, int seq, const std::string& amount, const std::string& group = "",
                            const std::string& tax = "") {
        return "2,V1," + inv + "," + std::to_string(seq) + ",Rent," + amount + "," + group + "," + tax +
               ",,,,01-1-10-6000-00,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,\r\n";
    }
    static std::string Pay(const std::string& inv, int check, int seq, const std::string& gross,
                           const std::string& tax = "") {
        return "6,V1," + inv + ",OPERATING," + std::to_string(check) + "," + std::to_string(seq) + ",," + gross +
               ",," + tax + ",,,,,,,,,,,,,12/01/26,1,,\r\n";
    }
    // Invoice I1 of 200.00 in two distributions, the first paid by check 501.
    static std::string TwoDists() {
        return Invoice("I1", "200.00") + Dist("I1", 1, "100.00") + Dist("I1", 2, "100.00") + Pay("I1", 501, 1, "100.00");
    }

    const std::string noChecks = texts.str("nochecks.tpl");
};

TEST_F(ApiPost, AGroupIsWrittenWholeWithItsCheckCmTransactionAndBank) {
    xvAPI c;
    const std::string report = Convert("t.txt", TwoDists(), c);
    EXPECT_THAT(report, Not(HasSubstr("Reason")));
    EXPECT_EQ(Written(), "APM1=1 APM2=2 APM3=0 APM4=1 APM5=1 APM6=1 APM7=0 APT1=3 CMT1=1 CMT5=1 ");
    ASSERT_TRUE(Find("CMM", 5, {{"LTBNKAC", "OPERATING"}}));
    EXPECT_EQ(Field("CMM", 5, "LTAPC"), 501);
    ASSERT_TRUE(Find("APM", 9, {{"VENDOR", "V1"}}));
    EXPECT_EQ(Field("APM", 9, "VOAMT"), 10000);  // 200.00 invoiced, 100.00 paid
    // The payment's transaction is dated by its check.
    ASSERT_TRUE(Find("APT", 1, {{"ATRUN", "1"}, {"ATSEQ", "3"}}));
    EXPECT_EQ(Field("APT", 1, "ATAMT"), -10000);
    EXPECT_EQ(convert::GetDate(H("APT"), 1, "ATDATE1"), suite::zqDate(12, 1, 2026));
}

TEST_F(ApiPost, AFailedWriteNamesItsStepAndLeavesNothingOfTheGroup) {
    // The run's second AP transaction is on file already.
    Seed("APT", 1, {{"ATRUN", "1"}, {"ATSEQ", "2"}});
    xvAPI c;
    const std::string first = Invoice("I1", "210.00", "10.00") + Dist("I1", 1, "110.00", "G2", "10.00") +
                              Dist("I1", 2, "100.00") + Pay("I1", 501, 1, "110.00", "10.00");
    const std::string report = Convert("t.txt", first + Invoice("I2", "50.00") + Dist("I2", 1, "50.00"), c);
    EXPECT_THAT(report, HasSubstr("On Open trans: Duplicate"));
    // The check, its CM transaction, the bank, the invoice and its first distribution with its
    // taxes were written before the failure and are gone; the next group went on.
    EXPECT_EQ(Written(), "APM1=1 APM2=1 APM3=0 APM4=0 APM5=0 APM6=0 APM7=0 APT1=2 CMT1=0 CMT5=0 ");
    ASSERT_TRUE(Find("CMM", 5, {{"LTBNKAC", "OPERATING"}}));
    EXPECT_EQ(Field("CMM", 5, "LTAPC"), 0);
    ASSERT_TRUE(Find("APM", 9, {{"VENDOR", "V1"}}));
    EXPECT_EQ(Field("APM", 9, "VOAMT"), 5000);  // only the second invoice's
}

TEST_F(ApiPost, AFailureOnTheSecondPaymentTakesBackTheFirstWithItsPaidTaxes) {
    Seed("APM", 6, {{"PIVND", "V1"}, {"PIINV", "I1"}, {"PIBANK", "OPERATING"}, {"PICHECK", "502"}, {"PIDSEQ", "1"}});
    xvAPI c;
    const std::string report = Convert("t.txt",
                                       Invoice("I1", "110.00", "10.00") + Dist("I1", 1, "110.00", "G2", "10.00") +
                                           Pay("I1", 501, 1, "55.00", "5.00") + Pay("I1", 502, 1, "55.00", "5.00"),
                                       c);
    EXPECT_THAT(report, HasSubstr("On Paid dist: Duplicate"));
    EXPECT_EQ(Written(), "APM1=0 APM2=0 APM3=0 APM4=0 APM5=0 APM6=1 APM7=0 APT1=0 CMT1=0 CMT5=0 ");
}

TEST_F(ApiPost, PaidTaxesAddUpToTheirEntryAndTheLastPaymentTakesTheRemainder) {
    xvAPI c;
    const std::string report = Convert("t.txt",
                                       Invoice("I1", "110.00", "10.00") + Dist("I1", 1, "110.00", "G2", "10.00") +
                                           Pay("I1", 501, 1, "36.63", "3.33") + Pay("I1", 502, 1, "73.37", "6.67"),
                                       c);
    EXPECT_THAT(report, Not(HasSubstr("Reason")));
    EXPECT_EQ(Written(), "APM1=1 APM2=1 APM3=2 APM4=2 APM5=2 APM6=2 APM7=4 APT1=3 CMT1=2 CMT5=2 ");
    for (const auto& [component, amount] : {std::pair{"1", 300.0}, std::pair{"2", 700.0}}) {
        ASSERT_TRUE(Find("APM", 3, {{"OTVND", "V1"}, {"OTINV", "I1"}, {"OTDSEQ", "1"},
                                                      {"OTCOMP", component}}));
        EXPECT_EQ(Field("APM", 3, "OTAMT"), amount);
        EXPECT_EQ(Field("APM", 3, "OTPAID"), amount) << component;
        double paid = 0;
        for (const char* check : {"501", "502"}) {
            ASSERT_TRUE(Find("APM", 7, {{"PIVND", "V1"}, {"PIINV", "I1"}, {"PIBANK", "OPERATING"},
                                                          {"PICHECK", check}, {"PIDSEQ", "1"}, {"PTCOMP", component}}));
            paid += Field("APM", 7, "PTPAID");
        }
        EXPECT_EQ(paid, amount) << component;
    }
}

TEST_F(ApiPost, AVoidCheckOfItsOwnWritesOnlyItsCmTransaction) {
    xvAPI c;
    const std::string report = Convert("t.txt", "4,OPERATING,777,12/09/26,,0.00,V1,1,1,,,,,,,,,,,,,,,,\r\n", c,
                                       (dz::data_folder() / "templates" / "xvapi.tpl").string());
    EXPECT_THAT(report, Not(HasSubstr("Reason")));
    EXPECT_EQ(Written(), "APM1=0 APM2=0 APM3=0 APM4=0 APM5=0 APM6=0 APM7=0 APT1=0 CMT1=1 CMT5=1 ");
    ASSERT_TRUE(Find("CMT", 5, {{"CDBNKAC", "OPERATING"}}));
    EXPECT_EQ(convert::GetText(H("CMT"), 5, "CDCSHAC"), "01110100000");  // the bank's cash account
}

TEST_F(ApiPost, AFullDiskOrAWriteThatCannotBeUndoneEndsTheFileRestored) {
    struct Case {
        xio::FaultCall call;
        int status;
        const char* says;
    } cases[] = {{xio::FaultCall::WriteRecord, XIO_DISK_FULL, "Out of disk space"},
                 {xio::FaultCall::DeleteRecord, XIO_IO_ERROR, "Unable to read from or write to"}};
    Seed("APT", 1, {{"ATRUN", "1"}, {"ATSEQ", "2"}});  // the group fails at its second transaction
    int n = 0;
    for (const auto& k : cases) {
        const std::string text = WriteText("t" + std::to_string(++n) + ".txt", TwoDists(), noChecks);
        const std::string before = ReadFile(text);
        FailingCalls fail;
        fail.Fail(k.call, k.call == xio::FaultCall::WriteRecord ? 3 : 1, k.status, "APM");
        xvAPI c;
        const std::string report = Run(text, "Convert", c);
        EXPECT_THAT(report, HasSubstr(k.says)) << report;
        EXPECT_EQ(Written(), "APM1=0 APM2=0 APM3=0 APM4=0 APM5=0 APM6=0 APM7=0 APT1=1 CMT1=0 CMT5=0 ") << k.says;
        EXPECT_EQ(Header1("LASTRUN"), 0);
        EXPECT_EQ(suite::zb_open_batches(), 0u);
        EXPECT_EQ(ReadFile(text), before);
    }
}

TEST_F(ApiPost, AStopWhileGroupsArePostedRestoresEverything) {
    const std::string text = WriteText("t.txt", TwoDists() + Invoice("I2", "50.00") + Dist("I2", 1, "50.00"), noChecks);
    const std::string before = ReadFile(text);
    ConvertProgress progress([] { return int64_t{0}; });
    ScriptedApi c;
    c.stopAt = 6;  // the second group's distribution, after the first group was posted
    const std::string report = Run(text, "Convert", c, &progress);
    EXPECT_THAT(report, HasSubstr("Conversion canceled by operator"));
    EXPECT_EQ(Written(), "APM1=0 APM2=0 APM3=0 APM4=0 APM5=0 APM6=0 APM7=0 APT1=0 CMT1=0 CMT5=0 ");
    // The first group's bank, vendor and run number are undone with it.
    EXPECT_FALSE(Find("CMM", 5, {{"LTBNKAC", "OPERATING"}, {"LTAPC", "501"}}));
    ASSERT_TRUE(Find("APM", 9, {{"VENDOR", "V1"}}));
    EXPECT_EQ(Field("APM", 9, "VOAMT"), 0);
    EXPECT_EQ(Header1("LASTRUN"), 0);
    EXPECT_EQ(suite::zb_open_batches(), 0u);
    EXPECT_EQ(ReadFile(text), before);
}

// Later groups start from what the groups before them left: a group undone after it wrote the
// bank's last check leaves it behind for none, and the prefix totals are those of the groups
// that stood.
TEST_F(ApiPost, AGroupUndoneAfterItsBankLeavesTheNextGroupWhatTheGroupsBeforeLeft) {
    auto paid = [](const std::string& inv, int check) {
        return Invoice(inv, "100.00") + Dist(inv, 1, "100.00") + Pay(inv, check, 1, "100.00");
    };
    // The AP transactions: I1's two, then I2's open one and its payment's, written after its
    // bank and before its prefix totals and vendor are kept.
    FailingCalls fail;
    fail.Fail(xio::FaultCall::WriteRecord, 4, XIO_IO_ERROR, "APT");
    xvAPI c;
    convert::ConversionOptions accumulate;
    accumulate.paidTotalsMode = 2;
    const std::string report = Run(WriteText("t.txt", paid("I1", 501) + paid("I2", 502) + paid("I3", 502), noChecks),
                                   "Convert", c, nullptr, &accumulate);
    EXPECT_THAT(report, HasSubstr("On Paid trans: "));
    EXPECT_EQ(Count("APM", kRecInvoice), 2);
    ASSERT_TRUE(Find("CMM", 5, {{"LTBNKAC", "OPERATING"}}));
    EXPECT_EQ(Field("CMM", 5, "LTAPC"), 502);
    ASSERT_EQ(Count("APM", 10), 1);
    ASSERT_TRUE(Find("APM", 10, {{"FVENDOR", "V1"}}));
    EXPECT_EQ(Field("APM", 10, "FYTDAMT") + Field("APM", 10, "FNYAMT") + Field("APM", 10, "FLYAMT"), 20000);
    // So are the vendor's: what I2 added when it was completed went with it.
    ASSERT_TRUE(Find("APM", 9, {{"VENDOR", "V1"}}));
    EXPECT_EQ(Field("APM", 9, "VYTDAMT") + Field("APM", 9, "VLYAMT") + Field("APM", 9, "VNYAMT"), 20000);
}

// Group after group of one vendor: each posting replaces the vendor and its prefix totals as the
// group before left them, the totals' field that no image carries included.
TEST_F(ApiPost, GroupsOfOneVendorEachReplaceWhatTheGroupBeforeWrote) {
    auto paid = [](const std::string& inv, int check, const std::string& amount) {
        return Invoice(inv, amount) + Dist(inv, 1, amount) + Pay(inv, check, 1, amount);
    };
    xvAPI first;
    Convert("t1.txt", paid("I1", 501, "100.00"), first);
    const uint16_t apm = H("APM");
    ASSERT_TRUE(Find("APM", 10, {{"FVENDOR", "V1"}}));
    ASSERT_EQ(xio_rd_record(apm, 10, 0, 1), XIO_OK);
    convert::PutNumber(apm, 10, "FGROREV", 90000);
    ASSERT_EQ(xio_rep_record(apm, 10), XIO_OK);
    ASSERT_EQ(xio_commit(apm), XIO_OK);

    xvAPI c;
    const std::string report =
        Convert("t2.txt", paid("I2", 502, "20.00") + Invoice("I3", "30.00") + Dist("I3", 1, "30.00") +
                              paid("I4", 503, "40.00") + paid("I5", 503, "50.00"), c);
    EXPECT_THAT(report, Not(HasSubstr("Reason")));
    EXPECT_EQ(Count("APM", kRecInvoice), 5);
    ASSERT_EQ(Count("APM", 10), 1);
    ASSERT_TRUE(Find("APM", 10, {{"FVENDOR", "V1"}}));
    EXPECT_EQ(Field("APM", 10, "FGROREV"), 90000);
    EXPECT_EQ(Field("APM", 10, "FYTDAMT") + Field("APM", 10, "FNYAMT") + Field("APM", 10, "FLYAMT"), 21000);
    ASSERT_TRUE(Find("APM", 9, {{"VENDOR", "V1"}}));
    EXPECT_EQ(convert::GetText(apm, 9, "VNAME"), "Vendor one");
    EXPECT_EQ(Field("APM", 9, "VOAMT"), 3000);  // I3 alone is unpaid
}

// Takes a record that the posting needs off file once the group's payment was handled.
class RemovingApi : public xvAPI {
public:
    RemovingApi(const char* abbr, uint16_t rec, std::vector<std::pair<std::string, std::string>> keys)
        : abbr_(abbr), rec_(rec), keys_(std::move(keys)) {}

protected:
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override {
        const bool kept = xvAPI::DispatchRecord(ctx, info, reason);
        if (kept && info.ImportedRecs() == kRecDistPayment && ++payments_ == 2) {
            const uint16_t h = convert::FindFileHandle(ctx.files, abbr_, 1);
            xio_init_record(h, rec_);
            for (const auto& [field, value] : keys_) convert::PutText(h, rec_, field.c_str(), value);
            EXPECT_EQ(xio_rd_record(h, rec_, 0, 1), XIO_OK);
            EXPECT_EQ(xio_del_record(h, rec_), XIO_OK);
        }
        return kept;
    }

private:
    std::string abbr_;
    uint16_t rec_;
    std::vector<std::pair<std::string, std::string>> keys_;
    int payments_ = 0;  // the first is the first pass's
};

// A payment of an invoice on file whose invoice, or whose bank's last-check record, is gone by
// the time the group is posted: the group fails at that step and leaves nothing.
TEST_F(ApiPost, ARecordGoneBeforeItsGroupIsPostedFailsItsStepAndLeavesNothing) {
    xvAPI first;
    Convert("open.txt", Invoice("I1", "100.00") + Dist("I1", 1, "100.00"), first);
    const std::string payments = texts.str("pay.tpl");
    WriteFile(payments, "format 1\nfile APM 1\nrecord 1\nfield OIVND\nfield OIINV\n"
                        "format 6\nfile APM 1\nrecord 6\nfield PIVND\nfield PIINV\nfield PIBANK\nfield PICHECK\n"
                        "field PIDSEQ\nfield PIGROSS\nspecial \"AP Check Date\" date\n");
    const std::string pay = "1,V1,I1\r\n6,V1,I1,OPERATING,501,1,40.00,12/01/26\r\n";
    {
        RemovingApi c("CMM", 5, {{"LTBNKAC", "OPERATING"}});
        EXPECT_THAT(Convert("pay1.txt", pay, c, payments),
                    HasSubstr("On CM Bank: Unable to read from or write to a Halvorsend data file"));
        EXPECT_EQ(Count("APM", 4), 0);
        EXPECT_EQ(Count("CMT", 1), 0);
    }
    Seed("CMM", 5, {{"LTBNKAC", "OPERATING"}});
    RemovingApi c("APM", kRecInvoice, {{"OIVND", "V1"}, {"OIINV", "I1"}});
    const std::string report = Convert("pay2.txt", pay, c, payments);
    EXPECT_THAT(report, HasSubstr("On Invoice: Unable to read from or write to a Halvorsend data file"));
    // The check, its CM records and the bank written before the invoice are gone; the
    // distribution is as it was.
    EXPECT_EQ(Count("APM", 4), 0);
    EXPECT_EQ(Count("CMT", 1), 0);
    EXPECT_FALSE(Find("CMM", 5, {{"LTBNKAC", "OPERATING"}, {"LTAPC", "501"}}));
    ASSERT_TRUE(Find("APM", 2, {{"ODVND", "V1"}, {"ODINV", "I1"}, {"ODDSEQ", "1"}}));
    EXPECT_EQ(Field("APM", 2, "ODPAID"), 0);
}

// The vendor's totals are written when the file ends: a vendor gone by then ends the file, and
// every group of it is taken back with the backups.
TEST_F(ApiPost, AVendorGoneBeforeTheFileEndsEndsItRestored) {
    RemovingApi c("APM", 9, {{"VENDOR", "V1"}});
    // Taken off file while the second group's payment is handled, after the first group posted.
    const std::string report =
        Convert("t.txt", TwoDists() + Invoice("I2", "50.00") + Dist("I2", 1, "50.00") + Pay("I2", 502, 1, "50.00"), c);
    EXPECT_THAT(report, HasSubstr("Unable to read from or write to a Halvorsend data file"));
    EXPECT_EQ(Count("APM", kRecInvoice), 0);
    EXPECT_EQ(Count("APT", 1), 0);
    EXPECT_TRUE(Find("APM", 9, {{"VENDOR", "V1"}})) << Written() << report;
}

}  // namespace
}  // namespace dz::ap
