// The PM lease conversion of a generated text file: N leases (statuses 1 to 3 in turn, revision
// 0) over 10,000 units of one property and 10,000 tenants, all accepted; examined or converted
// (each lease linked to its unit, a unit's current lease kept) into a company that holds only the
// property, its units and the tenants, written before the timing starts. Also writes the lease
// rows as CSV, so that run_pml.sh can time `sqlite3 .import` of them into a table keyed by lease
// and revision.
//
// usage: bench_pml convert|examine|text [leases] [work folder]
// prints seconds=..., records=..., rejected=..., max_rss_kb=..., setup_rss_kb=... (the peak before
// the timed run, the units and tenants written)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_support.h"
#include "convert/record_fields.h"
#include "converters/pm/xvpml.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"

namespace fs = std::filesystem;
using namespace dz;

namespace {

constexpr long kUnits = 10000;

std::string Id(const char* format, long i) {
    char id[32];
    std::snprintf(id, sizeof id, format, i);
    return id;
}

// The fields of one lease in the template's column order: lease, revision, property, unit,
// tenant, status, then the 19 columns after it empty but the start of its current term.
std::string Row(long i) {
    const long k = i % kUnits + 1;
    return Id("L%08ld", i) + ",0,CENTER," + Id("U%05ld", k) + "," + Id("T%05ld", k) + "," +
           std::to_string(i % 3 + 1) + ",,,,,,,,1/1/2026,,,,,,,,,,,";
}

}  // namespace

int main(int argc, char** argv) {
    const auto args = bench::ParseArgs(argc, argv, "bench_pml", "convert|examine|text [leases] [work folder]");
    const long leases = args.count;
    const fs::path text = args.work / "pml.txt";
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary), rows(args.work / "leases.csv", std::ios::binary);
        out << "#,PML," << (dz::data_folder() / "templates" / "xvpml.tpl").string() << "\r\n";
        for (long i = 1; i <= leases; ++i) {
            const std::string row = Row(i);
            out << "1," << row << ",\r\n";  // the notes column last
            rows << row << "\n";
        }
    }
    if (args.mode == "text") return 0;

    bench::OpenCompany(args.company, {"GL", "PM"});
    for (const char* abbr : {"GLM", "PMS", "PMN", "PML", "PMP"})
        bench::CreateDataFile(abbr, 1, args.company / xio_file_name(abbr, 1));
    const fs::path copy = args.company / "pml.txt";
    fs::copy_file(text, copy);

    convert::OpenFilesList list;
    pm::xvPML converter;
    bench::OpenFiles(converter, list, args.converting);
    // The property, its units and the tenants, committed before the timing.
    const uint16_t pmp = convert::FindFileHandle(list, "PMP", 1), pmn = convert::FindFileHandle(list, "PMN", 1);
    xio_init_record(pmp, 1);
    convert::PutText(pmp, 1, "PROP", "CENTER");
    convert::PutText(pmp, 1, "PNAME", "Harbor Center");
    bench::Must(xio_wr_record(pmp, 1), "write the property");
    for (long k = 1; k <= kUnits; ++k) {
        xio_init_record(pmp, 17);
        convert::PutText(pmp, 17, "UPROP", "CENTER");
        convert::PutText(pmp, 17, "UNIT", Id("U%05ld", k));
        bench::Must(xio_wr_record(pmp, 17), "write a unit");
        xio_init_record(pmn, 1);
        convert::PutText(pmn, 1, "TENANT", Id("T%05ld", k));
        convert::PutText(pmn, 1, "TNAME", Id("Tenant %05ld", k));
        bench::Must(xio_wr_record(pmn, 1), "write a tenant");
    }
    if (xio_commit(pmp) != XIO_OK || xio_commit(pmn) != XIO_OK) {
        std::cerr << "cannot write the units and tenants\n";
        return 2;
    }

    const long setupRss = bench::MaxRssKb();
    convert::ConvertProgress progress([] { return int64_t{0}; });
    const double seconds = bench::ConvertText(converter, list, copy, 602, args.converting, progress,
                                              args.company / "report.txt");
    bench::CloseFiles(list);
    bench::PrintResults(seconds, progress, setupRss);
    return 0;
}
