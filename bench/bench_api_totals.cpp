// The vendor totals rebuild of an AP invoice Convert that clears the paid totals first: N invoices
// on file, each with its distribution and a payment of it, K to a vendor (default 1), every vendor
// with stale totals, and a check per ten payments; the text file holds no group, so that Convert
// times the rebuild and Examine Files (which rebuilds nothing) the rest of the run. Also writes the
// invoice rows as CSV, so that run_api_totals.sh can time `sqlite3 .import` of them.
//
// usage: bench_api_totals convert|examine|text [invoices] [work folder] [invoices per vendor]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_api_support.h"
#include "convert/record_fields.h"
#include "platform/datafile/xio.h"
#include "platform/suite/xd.h"

namespace fs = std::filesystem;
using namespace dz;

namespace {

// The AP master's vendors, invoices, distributions, payments and checks; exits 2 when they
// cannot be written.
void WriteOnFile(const fs::path& apmPath, long invoices, long perVendor) {
    uint16_t apm = 0;
    bench::Must(xio_open_file(apmPath, XIO_OPEN_READ_WRITE, apm), "open the AP master file");
    bench::Must(xio_start_writes(apm), "write the AP master file");
    const x_date_type paidOn = suite::zqDate(6, 30, 2026);
    char vendor[32], invoice[32];
    for (long i = 0; i < invoices; ++i) {
        std::snprintf(vendor, sizeof vendor, "V%07ld", i / perVendor);
        std::snprintf(invoice, sizeof invoice, "I%09ld", i);
        const double check = 100000 + static_cast<double>(i / 10);
        if (i % perVendor == 0) {
            xio_init_record(apm, 9);
            convert::PutText(apm, 9, "VENDOR", vendor);
            convert::PutNumber(apm, 9, "VYTDAMT", 99999);
            convert::PutNumber(apm, 9, "VTY1099", 555);
            bench::Must(xio_wr_record(apm, 9), "write a vendor");
        }
        xio_init_record(apm, 1);
        convert::PutText(apm, 1, "OIVND", vendor);
        convert::PutText(apm, 1, "OIINV", invoice);
        convert::PutNumber(apm, 1, "OIAMT", 20000);
        convert::PutDate(apm, 1, "OIACTDT", paidOn);
        bench::Must(xio_wr_record(apm, 1), "write an invoice");
        xio_init_record(apm, 2);
        convert::PutText(apm, 2, "ODVND", vendor);
        convert::PutText(apm, 2, "ODINV", invoice);
        convert::PutNumber(apm, 2, "ODDSEQ", 1);
        convert::PutNumber(apm, 2, "ODAMT", 20000);
        bench::Must(xio_wr_record(apm, 2), "write a distribution");
        xio_init_record(apm, 6);
        convert::PutText(apm, 6, "PIVND", vendor);
        convert::PutText(apm, 6, "PIINV", invoice);
        convert::PutText(apm, 6, "PIBANK", "OPERATING");
        convert::PutNumber(apm, 6, "PICHECK", check);
        convert::PutNumber(apm, 6, "PIDSEQ", 1);
        convert::PutNumber(apm, 6, "PIGROSS", 12000);
        convert::PutNumber(apm, 6, "PIPDAMT", 12000);
        bench::Must(xio_wr_record(apm, 6), "write a payment");
        if (i % 10 == 0) {
            xio_init_record(apm, 4);
            convert::PutText(apm, 4, "CBANK", "OPERATING");
            convert::PutNumber(apm, 4, "CHECK", check);
            convert::PutDate(apm, 4, "CDATE", paidOn);
            bench::Must(xio_wr_record(apm, 4), "write a check");
        }
    }
    bench::Must(xio_commit(apm), "commit the AP master file");
    xio_cls_file(apm);
}

}  // namespace

int main(int argc, char** argv) {
    const auto args = bench::ParseArgs(argc, argv, "bench_api_totals",
                                       "convert|examine|text [invoices] [work folder] [invoices per vendor]");
    const long perVendor = std::max(1L, argc > 4 ? std::atol(argv[4]) : 1L);
    const fs::path& company = args.company;
    const fs::path text = args.work / "api-totals.txt";
    if (!fs::exists(text)) {
        std::ofstream(text, std::ios::binary) << "#,API,xvapi\n";
        std::ofstream rows(args.work / "invoices.csv", std::ios::binary);
        char vendor[32];
        for (long i = 0; i < args.count; ++i) {
            std::snprintf(vendor, sizeof vendor, "V%07ld", i / perVendor);
            rows << vendor << ",I" << i << ",20000\n";
        }
    }
    if (args.mode == "text") return 0;

    bench::OpenApiCompany(company);
    WriteOnFile(company / "MASTER.APM", args.count, perVendor);
    bench::RunApiText(text, company, args.converting);
    return 0;
}
