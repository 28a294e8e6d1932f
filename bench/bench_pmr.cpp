// The PM retail conversion of a generated text file: N percent rent controls, each of its own
// lease (revision 1), billing monthly and recalculating yearly with one charge type, all
// accepted; examined or converted (with the "Total" sales category of each) into a company that
// holds only those leases and the charge type, written before the timing starts. Also writes
// the control rows as CSV, so that run_pmr.sh can time `sqlite3 .import` of them into a table
// keyed by lease and revision.
//
// usage: bench_pmr convert|examine|text [controls] [work folder]
// prints seconds=..., records=..., rejected=..., max_rss_kb=..., setup_rss_kb=... (the peak before
// the timed run, the leases written)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_support.h"
#include "convert/record_fields.h"
#include "converters/pm/xvpmr.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"

namespace fs = std::filesystem;
using namespace dz;

namespace {

std::string Lease(long i) {
    char id[32];
    std::snprintf(id, sizeof id, "B%08ld", i);
    return id;
}

// The fields of one control in the template's column order: lease, revision, fiscal year end,
// overage start and end, months to retain, store, the two frequencies, next billing and
// recalculation dates, the two charge types; the other 34 columns empty.
std::string Row(long i) {
    return Lease(i) + ",1,,1/1/2027,,12,,1,12,1/31/2027,12/31/2027,PCTRNT,PCTRNT" + std::string(34, ',');
}

}  // namespace

int main(int argc, char** argv) {
    const auto args =
        bench::ParseArgs(argc, argv, "bench_pmr", "convert|examine|text [controls] [work folder]");
    const long controls = args.count;
    const fs::path text = args.work / "pmr.txt";
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary), rows(args.work / "controls.csv", std::ios::binary);
        out << "#,PMR," << (dz::data_folder() / "templates" / "xvpmr.tpl").string() << "\r\n";
        for (long i = 1; i <= controls; ++i) {
            const std::string row = Row(i);
            out << "1," << row << ",\r\n";  // the notes column last
            rows << row << "\n";
        }
    }
    if (args.mode == "text") return 0;

    bench::OpenCompany(args.company, {"GL", "PM"});
    for (const char* abbr : {"PML", "PMS", "PMR"})
        bench::CreateDataFile(abbr, 1, args.company / xio_file_name(abbr, 1));
    const fs::path copy = args.company / "pmr.txt";
    fs::copy_file(text, copy);

    convert::OpenFilesList list;
    pm::xvPMR converter;
    bench::OpenFiles(converter, list, args.converting);
    // The leases and the charge type, committed before the timing.
    const uint16_t pml = convert::FindFileHandle(list, "PML", 1),
                   pms = convert::FindFileHandle(list, "PMS", 1);
    for (long i = 1; i <= controls; ++i) {
        xio_init_record(pml, 1);
        convert::PutText(pml, 1, "LEASE", Lease(i));
        convert::PutNumber(pml, 1, "LREV", 1);
        bench::Must(xio_wr_record(pml, 1), "write a lease");
    }
    xio_init_record(pms, 1);
    convert::PutText(pms, 1, "CT", "PCTRNT");
    bench::Must(xio_wr_record(pms, 1), "write the charge type");
    if (xio_commit(pml) != XIO_OK || xio_commit(pms) != XIO_OK) {
        std::cerr << "cannot write the leases\n";
        return 2;
    }

    const long setupRss = bench::MaxRssKb();  // the leases written: what the timed run starts from
    convert::ConvertProgress progress([] { return int64_t{0}; });
    const double seconds = bench::ConvertText(converter, list, copy, 603, args.converting, progress,
                                              args.company / "report.txt");
    bench::CloseFiles(list);
    bench::PrintResults(seconds, progress, setupRss);
    return 0;
}
