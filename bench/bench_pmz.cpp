// The PM issues conversion of a generated text file: N issues, all accepted, examined or
// converted into an empty issues file (LASTID 0), so that every issue takes the next number.
// Plain, no issue names a PM record (one write per issue); with "linked" every issue names one
// property, which gives each a link in both written files (three writes per issue). Also writes
// the issue rows as CSV, so that run_pmz.sh can time `sqlite3 .import` of them into a table
// keyed by issue number.
//
// usage: bench_pmz convert|examine|text [issues] [work folder] [linked]
// prints seconds=..., records=..., rejected=..., max_rss_kb=..., setup_rss_kb=...
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_support.h"
#include "convert/record_fields.h"
#include "converters/pm/xvpmz.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"

namespace fs = std::filesystem;
using namespace dz;

namespace {

// The 24 columns of an issue: number, text, the five list fields, then the run with the PM
// link fields (property in column 11), the notes column and NOPROP empty.
std::string Row(long i, bool linked) {
    return std::to_string(i) + ",Issue number " + std::to_string(i) + ",Leak,Urgent,,Open,Roof,,,," +
           (linked ? "P1" : "") + std::string(13, ',');
}

}  // namespace

int main(int argc, char** argv) {
    const auto args = bench::ParseArgs(argc, argv, "bench_pmz", "convert|examine|text [issues] [work folder] [linked]");
    const bool linked = argc > 4 && std::string(argv[4]) == "linked";
    const long issues = args.count;
    const fs::path text = args.work / (linked ? "pmz-linked.txt" : "pmz.txt");
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary), rows(args.work / "issues.csv", std::ios::binary);
        out << "#,PMZ," << (dz::data_folder() / "templates" / "xvpmz.tpl").string() << "\r\n";
        for (long i = 1; i <= issues; ++i) {
            const std::string row = Row(i, linked);
            out << "1," << row << "\r\n";
            rows << row << "\n";
        }
    }
    if (args.mode == "text") return 0;

    bench::OpenCompany(args.company, {"GL", "PM", "TL"});
    for (const char* abbr : {"PMP", "PML", "PMN"}) bench::CreateDataFile(abbr, 1, args.company / xio_file_name(abbr, 1));
    for (const char* abbr : {"TLI", "PMZ"}) bench::CreateDataFile(abbr, 0, args.company / xio_file_name(abbr, 0));
    const fs::path copy = args.company / text.filename();
    fs::copy_file(text, copy);

    convert::OpenFilesList list;
    pm::xvPMZ converter;
    bench::OpenFiles(converter, list, args.converting);
    const uint16_t pmp = convert::FindFileHandle(list, "PMP", 1);
    xio_init_record(pmp, 1);
    convert::PutText(pmp, 1, "PROP", "P1");
    convert::PutText(pmp, 1, "PNAME", "The one property");
    bench::Must(xio_wr_record(pmp, 1), "write the property");
    if (xio_commit(pmp) != XIO_OK) {
        std::cerr << "cannot write the property\n";
        return 2;
    }

    const long setupRss = bench::MaxRssKb();
    convert::ConvertProgress progress([] { return int64_t{0}; });
    const double seconds =
        bench::ConvertText(converter, list, copy, 607, args.converting, progress, args.company / "report.txt");
    bench::CloseFiles(list);
    bench::PrintResults(seconds, progress, setupRss);
    return 0;
}
