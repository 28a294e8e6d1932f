// The vendor totals rebuild of a Convert that clears the paid totals, in process: an operator's
// stop while it sums and a vendor that cannot be replaced each end the file with the five data
// files as they were and the text file unstamped; the next file of the run only accumulates.
// The text file's one group is rejected, so nothing but the rebuild touches a vendor.
#include "test_api_support.h"

#include "converters/ap/xvapm.h"
#include "platform/datafile/store.h"

namespace dz::ap {
namespace {

using namespace dz::ap::testing;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using suite::zqDate;

const char* kRejected = "1,NOBODY,N-1,,11/02/26,11/02/26,,,11/02/26,5.00,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,\r\n";
const char* kUnpaid = "Updating unpaid vendor totals:";

// Vendors W01 to W15, each with a stale total of 9.99 and one invoice of k dollars this year: one
// progress step in each of the first two steps of the rebuild.
class ApiVendorTotals : public ApiTest {
protected:
    void SetUp() override {
        ApiTest::SetUp();
        if (HasFatalFailure()) return;
        SeedReferences();
        const uint16_t apm = Apm();
        ASSERT_EQ(xio_rd_header(apm, 2, 1), XIO_OK);
        convert::PutDate(apm, convert::HeaderFieldNo(apm, 2, "YREND"), zqDate(12, 31, 2026));
        ASSERT_EQ(xio_wr_header(apm, 2), XIO_OK);
        for (int k = 1; k <= 15; ++k) {
            const std::string vendor = Vendor(k);
            Seed("APM", kRecVendor, {{"VENDOR", vendor}, {"VYTDAMT", "999"}});
            xio_init_record(apm, 1);
            convert::PutText(apm, 1, "OIVND", vendor);
            convert::PutText(apm, 1, "OIINV", "I" + std::to_string(k));
            convert::PutNumber(apm, 1, "OIAMT", 100.0 * k);
            convert::PutDate(apm, 1, "OIACTDT", zqDate(6, 30, 2026));
            ASSERT_EQ(xio_wr_record(apm, 1), XIO_OK);
        }
        ASSERT_EQ(xio_commit(apm), XIO_OK);
    }

    static std::string Vendor(int k) { return (k < 10 ? "W0" : "W") + std::to_string(k); }

    double Invoiced(int k) {
        EXPECT_TRUE(convert::ReadByKey(Apm(), kRecVendor, "VENDOR", Vendor(k)));
        return convert::GetNumber(Apm(), kRecVendor, "VYTDAMT");
    }

    // The bytes of the five data files the conversion writes.
    std::string FiveFiles() const {
        std::string bytes;
        for (const char* name : {"MASTER.APM", "CURRENT.APT", "MASTER.CMM", "CURRENT.CMT", "MASTER.TXM"})
            bytes += ReadFile(company.path() / name);
        return bytes;
    }

    // Shows every status line; the operator's hand is `onDispatch`.
    struct ActingUi : RecordingUi {
        std::function<void()> onDispatch;
        void pump() override {
            if (onDispatch) onDispatch();
        }
    } acting;
};

TEST_F(ApiVendorTotals, AStopWhileSummingRestoresTheFiveFilesAndLeavesTheTextUnstamped) {
    const std::string text = WriteText("stop.txt", kRejected);
    const std::string before = ReadFile(text), files = FiveFiles();
    ConvertProgress progress([] { return int64_t{0}; });
    std::vector<std::string> titles;
    acting.onDispatch = [&] {
        if (titles.empty() || titles.back() != progress.status_text) titles.push_back(progress.status_text);
        if (progress.status_text == kUnpaid) progress.stop = 1;
    };
    ConversionOptions options;
    xvAPI c;
    const std::string report = Run(text, "Convert", c, &progress, &options);
    EXPECT_THAT(report, HasSubstr("Conversion canceled by operator"));
    EXPECT_THAT(report, Not(HasSubstr("rejected records")));  // no group was read after the stop
    EXPECT_THAT(titles, Contains("Clearing vendor totals:"));  // every vendor had been cleared
    EXPECT_THAT(titles, Contains(kUnpaid));
    EXPECT_TRUE(acting.boxes.empty());
    EXPECT_EQ(suite::zb_open_batches(), 0u);
    EXPECT_TRUE(FiveFiles() == files);  // the stale totals and the run numbers as they were
    EXPECT_EQ(Invoiced(1), 999);
    EXPECT_EQ(ReadFile(text), before);
    EXPECT_EQ(options.paidTotalsMode, 1u);  // the next file still clears
}

TEST_F(ApiVendorTotals, AVendorThatCannotBeReplacedEndsTheFileRestored) {
    const std::string text = WriteText("fail.txt", kRejected);
    const std::string before = ReadFile(text), files = FiveFiles();
    ConvertProgress progress([] { return int64_t{0}; });
    std::string title;
    acting.onDispatch = [&] { title = progress.status_text; };
    {
        // The 15 stale vendors are cleared; the first invoice's vendor cannot be written back.
        FailingCalls fail;
        fail.Fail(xio::FaultCall::ReplaceRecord, 16, XIO_IO_ERROR, "APM");
        xvAPI c;
        const std::string report = Run(text, "Convert", c, &progress);
        EXPECT_TRUE(fail.Spent());
        EXPECT_EQ(title, "Clearing vendor totals:");
        EXPECT_THAT(report, HasSubstr("Unable to read from or write to a Halvorsend data file"));
        ASSERT_EQ(acting.boxes.size(), 1u);
        EXPECT_THAT(acting.boxes[0].second, HasSubstr("Unable to read from or write to"));
        EXPECT_TRUE(FiveFiles() == files);
        EXPECT_EQ(ReadFile(text), before);
    }
    // Without the failure the same file rebuilds every vendor from its invoice.
    xvAPI c;
    Run(text, "Convert", c);
    EXPECT_EQ(Invoiced(1), 100);
    EXPECT_EQ(Invoiced(15), 1500);
    EXPECT_NE(ReadFile(text), before);
}

TEST_F(ApiVendorTotals, OnlyTheFirstCommittedFileOfARunClears) {
    ConversionOptions options;
    xvAPI first;
    Run(WriteText("first.txt", kRejected), "Convert", first, nullptr, &options);
    EXPECT_EQ(Invoiced(2), 200);
    EXPECT_EQ(options.paidTotalsMode, 2u);

    // A total the rebuild would not give survives the second file, which only accumulates.
    const uint16_t apm = Apm();
    ASSERT_TRUE(convert::ReadByKey(apm, kRecVendor, "VENDOR", Vendor(2)));
    ASSERT_EQ(xio_rd_record(apm, kRecVendor, 0, 1), XIO_OK);
    convert::PutNumber(apm, kRecVendor, "VYTDAMT", 777);
    ASSERT_EQ(xio_rep_record(apm, kRecVendor), XIO_OK);
    ASSERT_EQ(xio_commit(apm), XIO_OK);
    xvAPI second;
    Run(WriteText("second.txt", kRejected), "Convert", second, nullptr, &options);
    EXPECT_EQ(Invoiced(2), 777);
}

}  // namespace
}  // namespace dz::ap
