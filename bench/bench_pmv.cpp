// The PM recovery conversion of a generated text file: N recovery controls (record 4), each of
// its own lease's recurring charge (revision 1, charge type CAM, unit U1), yearly from 1/1/2027
// to 12/1/2027, all accepted; examined or converted into a recovery file that holds only the
// property recovery controls, in a company whose lease and property files hold the leases, their
// recurring charges and the units' SF types, all written before the timing starts. A hundred
// leases share a property. Every control escalates and charges an administrative fee on budget
// type 3, which its property's control uses, has a stop per SF of the unit's GLA over the
// recovery's own year and a two-year cap in dollars. Also writes the rows as CSV, so that
// run_pmv.sh can time `sqlite3 .import` of them into a table keyed by lease, revision, charge
// type and unit.
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
#include "platform/suite/xd.h"

namespace fs = std::filesystem;
using namespace dz;

namespace {

std::string Lease(long i) {
    char id[32];
    std::snprintf(id, sizeof id, "B%08ld", i);
    return id;
}

constexpr long kLeasesPerProperty = 100;

std::string Property(long lease) {
    char id[32];
    std::snprintf(id, sizeof id, "P%05ld", (lease - 1) / kLeasesPerProperty + 1);
    return id;
}

// The 122 fields of one recovery control in the template's column order: the keys, the
// frequency and the next recovery dates; escalation and fee on budget type 3 with calculation
// method REC; a stop per SF of GLA, 4.50 a year; a cap of 25000.00 every two years.
std::string Row(long i) {
    return Lease(i) + ",1,CAM,U1,12,1/1/2027,12/1/2027" +
           ",,,,,,,,,,,1,,,2,3,REC,REC,3.000000,1,,,1,2,3,REC,REC,5.000000,ADMIN,,,,,3,GLA,4.50,12,1/1/2027,"
           "12/1/2027,,2,,25000.00,24,1/1/2027,12/1/2028" +
           std::string(70, ',');
}

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
    // The leases and their recurring charges, the charge types and calculation method, and per
    // property its unit's SF type and its recovery control using budget type 3; committed before
    // the timing.
    const uint16_t pml = convert::FindFileHandle(list, "PML", 1), pms = convert::FindFileHandle(list, "PMS", 1),
                   pmp = convert::FindFileHandle(list, "PMP", 1), pmv = convert::FindFileHandle(list, "PMV", 1);
    for (const char* ct : {"CAM", "ADMIN"}) {
        xio_init_record(pms, 1);
        convert::PutText(pms, 1, "CT", ct);
        bench::Must(xio_wr_record(pms, 1), "write a charge type");
    }
    xio_init_record(pms, 5);
    convert::PutText(pms, 5, "CMID", "REC");
    convert::PutNumber(pms, 5, "CMTYPE", 3);
    bench::Must(xio_wr_record(pms, 5), "write a calculation method");
    for (long i = 1; i <= controls; ++i) {
        xio_init_record(pml, 1);
        convert::PutText(pml, 1, "LEASE", Lease(i));
        convert::PutNumber(pml, 1, "LREV", 1);
        convert::PutText(pml, 1, "LPROP", Property(i));
        convert::PutText(pml, 1, "LUNIT", "U1");
        bench::Must(xio_wr_record(pml, 1), "write a lease");
        xio_init_record(pml, 13);
        convert::PutText(pml, 13, "RCLEASE", Lease(i));
        convert::PutNumber(pml, 13, "RCREV", 1);
        convert::PutText(pml, 13, "RCCT", "CAM");
        convert::PutText(pml, 13, "RCUNIT", "U1");
        bench::Must(xio_wr_record(pml, 13), "write a recurring charge");
        if ((i - 1) % kLeasesPerProperty != 0) continue;
        xio_init_record(pmp, 19);
        convert::PutText(pmp, 19, "UFPROP", Property(i));
        convert::PutText(pmp, 19, "UFUNIT", "U1");
        convert::PutText(pmp, 19, "UFSFTYP", "GLA");
        convert::PutDate(pmp, 19, "UFDATE", suite::zqDate(1, 1, 2026));
        bench::Must(xio_wr_record(pmp, 19), "write a unit SF type");
        xio_init_record(pmv, 1);
        convert::PutText(pmv, 1, "PRCPROP", Property(i));
        convert::PutText(pmv, 1, "PRCCT", "CAM");
        convert::PutNumber(pmv, 1, "PRCFREQ", 12);
        convert::PutFlag(pmv, 1, "PRCB3", 1);
        bench::Must(xio_wr_record(pmv, 1), "write a property recovery control");
    }
    for (const uint16_t h : {pml, pms, pmp, pmv})
        if (xio_commit(h) != XIO_OK) {
            std::cerr << "cannot write the references\n";
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
