// The AP vendor conversion of a generated text file: N vendors, each with a debit base account, a
// standard phase and a tax group that are on file, so that every look-up runs, examined or
// converted into a company without vendors (the shipped template, xvapm.tpl). Also writes the
// vendor rows as CSV, so that run_apm.sh can time `sqlite3 .import` of them into a table keyed
// by vendor. With `prefixes`, every third vendor is followed by its 1099 totals for prefix A
// "01", which the GL master holds, so that the prefix handler and its vendor check run too.
//
// usage: bench_apm convert|examine|text [vendors] [work folder] [prefixes]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_support.h"
#include "convert/record_fields.h"
#include "converters/ap/xvapm.h"
#include "platform/datafile/xio.h"

namespace fs = std::filesystem;
using namespace dz;

namespace {

// The vendor format has 83 fields and the notes; VGLEXP is column 10, VJCPHS 11, VTAXGRP 13.
void WriteText(std::ostream& out, std::ostream& rows, long vendors, bool prefixes) {
    out << "#,APM,xvapm\n";
    char id[32];
    for (long v = 0; v < vendors; ++v) {
        std::snprintf(id, sizeof id, "V%08ld", v);
        out << "9," << id << ",Vendor " << v
            << ",1 Main Street,,Portland,ME,04101,,,1,5100-00,09-001.00,,MEUSE";
        for (int i = 14; i < 83; ++i) out << ',';
        out << ",\n";
        if (prefixes && v % 3 == 0) out << "10,01," << id << ",2,100.00,,50.00,,,,\n";
        rows << id << ",Vendor " << v << ",1 Main Street,Portland,ME,04101,510000,0900100,MEUSE\n";
    }
}

bool Put(uint16_t h, uint16_t rec, std::initializer_list<std::pair<const char*, const char*>> fields) {
    xio_init_record(h, rec);
    for (const auto& [name, value] : fields) convert::PutText(h, rec, name, value);
    return xio_wr_record(h, rec) == XIO_OK;
}

}  // namespace

int main(int argc, char** argv) {
    const auto args =
        bench::ParseArgs(argc, argv, "bench_apm", "convert|examine|text [vendors] [work folder] [prefixes]");
    const bool prefixes = argc > 4 && std::string(argv[4]) == "prefixes";
    const fs::path& company = args.company;
    const fs::path text = args.work / (prefixes ? "apm-prefixes.txt" : "apm.txt");
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary), rows(args.work / "vendors.csv", std::ios::binary);
        WriteText(out, rows, args.count, prefixes);
    }
    if (args.mode == "text") return 0;

    bench::OpenCompany(company, {"GL", "JC", "AP"});
    for (const char* abbr : {"APM", "GLM", "JCM", "TXM"})
        bench::CreateDataFile(abbr, 1, company / (std::string("MASTER.") + abbr));
    // The base account, standard phase and tax group every vendor names.
    for (const auto& [abbr, ok] : {std::pair<const char*, int>{"GLM", 0}, {"JCM", 1}, {"TXM", 2}}) {
        uint16_t h = 0;
        if (xio_open_file(company / (std::string("MASTER.") + abbr), XIO_OPEN_READ_WRITE, h) != XIO_OK ||
            xio_start_writes(h) != XIO_OK) {
            std::cerr << "cannot open MASTER." << abbr << "\n";
            return 2;
        }
        const bool written = ok == 0   ? Put(h, 6, {{"BSBASE", "510000"}}) && Put(h, 3, {{"PAPRFX", "01"}})
                             : ok == 1 ? Put(h, 16, {{"SPHASE", "0900100"}})
                                       : Put(h, 2, {{"GROUP", "MEUSE"}});
        bench::Must(xio_end_writes(h), "commit the reference");
        xio_cls_file(h);
        if (!written) {
            std::cerr << "cannot write the reference of MASTER." << abbr << "\n";
            return 2;
        }
    }
    const fs::path copy = company / "apm.txt";
    fs::copy_file(text, copy);

    convert::ConvertProgress progress([] { return int64_t{0}; });
    ap::xvAPM converter;
    const double seconds =
        bench::Run(converter, copy, 401, args.converting, progress, company / "report.txt");
    bench::PrintResults(seconds, progress);
    return 0;
}
