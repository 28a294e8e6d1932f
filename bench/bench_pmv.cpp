// The PM recovery conversion of a generated text file: N recovery controls (record 4), each of
// its own lease's recurring charge (revision 1, charge type CAM, unit U1), yearly from 1/1/2027
// to 12/1/2027, every later group unmarked, all accepted; examined or converted into an empty
// recovery file of a company whose lease file holds those recurring charges, written before the
// timing starts. Also writes the rows as CSV, so that run_pmv.sh can time `sqlite3 .import` of
// them into a table keyed by lease, revision, charge type and unit.
//
// usage: bench_pmv convert|examine|text [controls] [work folder]
// prints seconds=..., records=..., rejected=..., max_rss_kb=..., setup_rss_kb=...
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_support.h"
#include "convert/record_fields.h"
#include "converters/pm/xvpmv.h"
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

// The 122 fields of one recovery control in the template's column order: the keys, the
// frequency and the next recovery dates; the other 115 columns empty.
std::string Row(long i) { return Lease(i) + ",1,CAM,U1,12,1/1/2027,12/1/2027" + std::string(115, ','); }

}  // namespace

int main(int argc, char** argv) {
    const auto args = bench::ParseArgs(argc, argv, "bench_pmv", "convert|examine|text [controls] [work folder]");
    const long controls = args.count;
    const fs::path text = args.work / "pmv.txt";
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary), rows(args.work / "recoveries.csv", std::ios::binary);
        out << "#,PMV," << (dz::data_folder() / "templates" / "xvpmv.tpl").string() << "\r\n";
        for (long i = 1; i <= controls; ++i) {
            const std::string row = Row(i);
            out << "4," << row << ",\r\n";  // the notes column last
            rows << row << "\n";
        }
    }
    if (args.mode == "text") return 0;

    bench::OpenCompany(args.company, {"GL", "PM"});
    for (const char* abbr : {"PMS", "PMV", "PML", "PMP", "GLM"})
        bench::CreateDataFile(abbr, 1, args.company / xio_file_name(abbr, 1));
    const fs::path copy = args.company / "pmv.txt";
    fs::copy_file(text, copy);

    convert::OpenFilesList list;
    pm::xvPMV converter;
    bench::OpenFiles(converter, list, args.converting);
    // The recurring charges, committed before the timing.
    const uint16_t pml = convert::FindFileHandle(list, "PML", 1);
    for (long i = 1; i <= controls; ++i) {
        xio_init_record(pml, 13);
        convert::PutText(pml, 13, "RCLEASE", Lease(i));
        convert::PutNumber(pml, 13, "RCREV", 1);
        convert::PutText(pml, 13, "RCCT", "CAM");
        convert::PutText(pml, 13, "RCUNIT", "U1");
        bench::Must(xio_wr_record(pml, 13), "write a recurring charge");
    }
    if (xio_commit(pml) != XIO_OK) {
        std::cerr << "cannot write the recurring charges\n";
        return 2;
    }

    const long setupRss = bench::MaxRssKb();
    convert::ConvertProgress progress([] { return int64_t{0}; });
    const double seconds = bench::ConvertText(converter, list, copy, 604, args.converting, progress,
                                              args.company / "report.txt");
    bench::CloseFiles(list);
    bench::PrintResults(seconds, progress, setupRss);
    return 0;
}
