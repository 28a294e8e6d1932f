// The AP invoice conversion of a generated text file: N invoice groups (an invoice, two
// distributions and a distribution payment) and a check group after every ten invoices, which
// pays their payments, so that both passes run; examined or converted into a company without
// invoices (the shipped template, xvapi.tpl). Also writes the invoice rows as CSV, so that
// run_api.sh can time `sqlite3 .import` of them into a table keyed by vendor and invoice.
//
// usage: bench_api convert|examine|text [invoices] [work folder]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_api_support.h"
#include "convert/record_fields.h"
#include "platform/datafile/xio.h"

namespace fs = std::filesystem;
using namespace dz;

namespace {

// The template's columns after those the lines fill (the line ends them empty).
const std::string kInvoiceTail(28, ',');
const std::string kDistTail(36, ',');
const std::string kCheckTail(11, ',');

void WriteText(std::ostream& out, std::ostream& rows, long invoices) {
    out << "#,API,xvapi\n";
    char vendor[32], invoice[32];
    for (long i = 0; i < invoices; ++i) {
        // The ten invoices one check pays are one vendor's.
        std::snprintf(vendor, sizeof vendor, "V%06ld", (i / 10) % 1000);
        std::snprintf(invoice, sizeof invoice, "I%09ld", i);
        const long check = 100000 + i / 10;
        out << "1," << vendor << ',' << invoice << ",Materials,11/02/26,11/02/26,,,11/02/26,200.00,,,,,,,,"
            << kInvoiceTail << "\n"
            << "2," << vendor << ',' << invoice << ",1,Lumber,120.00,,,,,,01-1-10-5100-00,,,,,," << kDistTail << "\n"
            << "2," << vendor << ',' << invoice << ",2,Fasteners,80.00,,,,,,01-1-10-5100-00,,,,,," << kDistTail << "\n"
            << "6," << vendor << ',' << invoice << ",OPERATING," << check << ",1,,120.00,,,,,,,,,,,,,,,12/01/26,1,,\n";
        if (i % 10 == 9 || i + 1 == invoices)
            out << "4,OPERATING," << check << ",12/01/26,," << (i % 10 + 1) * 120 << ".00," << vendor
                << ",1,,,,,," << kCheckTail << "\n";
        rows << vendor << ',' << invoice << ",Materials,2026-11-02,20000\n";
    }
}

// The bank the checks are drawn on, with its last-check record; exits 2 when it cannot be written.
void WriteBank(const fs::path& path) {
    uint16_t cmm = 0;
    bench::Must(xio_open_file(path, XIO_OPEN_READ_WRITE, cmm), "open the CM master file");
    bench::Must(xio_start_writes(cmm), "write the CM master file");
    xio_init_record(cmm, 1);
    convert::PutText(cmm, 1, "BANKACC", "OPERATING");
    convert::PutText(cmm, 1, "BGENCSH", "01110100000");
    bench::Must(xio_wr_record(cmm, 1), "write the bank");
    xio_init_record(cmm, 5);
    convert::PutText(cmm, 5, "LTBNKAC", "OPERATING");
    bench::Must(xio_wr_record(cmm, 5), "write the bank's last check");
    bench::Must(xio_commit(cmm), "commit the CM master file");
    xio_cls_file(cmm);
}

// What the invoices name: the GL accounts of their distributions and payments (expense, payable,
// cash and intercompany) and their vendors; exits 2 when they cannot be written.
void WriteReferences(const fs::path& glmPath, const fs::path& apmPath, long invoices) {
    uint16_t glm = 0, apm = 0;
    bench::Must(xio_open_file(glmPath, XIO_OPEN_READ_WRITE, glm), "open the GL master file");
    bench::Must(xio_start_writes(glm), "write the GL master file");
    for (const char* account : {"01110510000", "01110200000", "01110100000", "01110210000", "01110120000"}) {
        xio_init_record(glm, 1);
        convert::PutText(glm, 1, "AACCT", account);
        bench::Must(xio_wr_record(glm, 1), "write an account");
    }
    bench::Must(xio_commit(glm), "commit the GL master file");
    xio_cls_file(glm);
    bench::Must(xio_open_file(apmPath, XIO_OPEN_READ_WRITE, apm), "open the AP master file");
    bench::Must(xio_start_writes(apm), "write the AP master file");
    char vendor[32];
    for (long v = 0; v < std::min(invoices / 10 + 1, 1000L); ++v) {
        std::snprintf(vendor, sizeof vendor, "V%06ld", v);
        xio_init_record(apm, 9);
        convert::PutText(apm, 9, "VENDOR", vendor);
        bench::Must(xio_wr_record(apm, 9), "write a vendor");
    }
    bench::Must(xio_commit(apm), "commit the AP master file");
    xio_cls_file(apm);
}

}  // namespace

int main(int argc, char** argv) {
    const auto args = bench::ParseArgs(argc, argv, "bench_api", "convert|examine|text [invoices] [work folder]");
    const fs::path& company = args.company;
    const fs::path text = args.work / "api.txt";
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary), rows(args.work / "invoices.csv", std::ios::binary);
        WriteText(out, rows, args.count);
    }
    if (args.mode == "text") return 0;

    bench::OpenApiCompany(company);
    WriteBank(company / "MASTER.CMM");
    WriteReferences(company / "MASTER.GLM", company / "MASTER.APM", args.count);
    bench::RunApiText(text, company, args.converting);
    return 0;
}
