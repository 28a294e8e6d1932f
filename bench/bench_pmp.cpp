// The PM property conversion of a generated text file: 1,000 properties (each with a period
// ending date, no GL prefix), then N units spread evenly over them, all accepted; examined or
// converted (the passes after the records included: unit counts filled in, unit history compared)
// into an empty company. Also writes the unit rows as CSV, so that run_pmp.sh can time
// `sqlite3 .import` of them into a table keyed by property and unit.
//
// usage: bench_pmp convert|examine|text [units] [work folder]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_support.h"
#include "converters/pm/xvpmp.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"

namespace fs = std::filesystem;
using namespace dz;

namespace {

constexpr long kProperties = 1000;

std::string Property(long i) {
    char id[24];
    std::snprintf(id, sizeof id, "P%04ld", i);
    return id;
}

// A unit's fields in the template's column order: property, unit, class, occupied, leased, and
// the current lease, revision and tenant left empty; neither occupied nor leased, as their (empty)
// history says.
std::string UnitRow(long i) {
    char unit[24];
    std::snprintf(unit, sizeof unit, "U%05ld", i / kProperties);
    return Property(i % kProperties) + "," + unit + ",Standard,N,N,,,";
}

}  // namespace

int main(int argc, char** argv) {
    const auto args = bench::ParseArgs(argc, argv, "bench_pmp", "convert|examine|text [units] [work folder]");
    const long units = args.count;
    const fs::path text = args.work / "pmp.txt";
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary), rows(args.work / "units.csv", std::ios::binary);
        out << "#,PMP," << (dz::data_folder() / "templates" / "xvpmp.tpl").string() << "\r\n";
        for (long p = 0; p < kProperties; ++p)
            out << "1," << Property(p) << ",Property,,Office,,,12/31/2026" << std::string(28, ',') << "\r\n";
        for (long i = 0; i < units; ++i) {
            const std::string row = UnitRow(i);
            out << "17," << row << ",\r\n";  // the notes column last
            rows << row << "\n";
        }
    }
    if (args.mode == "text") return 0;

    bench::OpenCompany(args.company, {"GL", "CM", "PM"});
    for (const char* abbr : {"GLM", "CMM", "PMS", "PMP"})
        bench::CreateDataFile(abbr, 1, args.company / xio_file_name(abbr, 1));
    const fs::path copy = args.company / "pmp.txt";
    fs::copy_file(text, copy);

    pm::xvPMP converter;
    convert::ConvertProgress progress([] { return int64_t{0}; });
    const double seconds =
        bench::Run(converter, copy, 601, args.converting, progress, args.company / "report.txt");
    bench::PrintResults(seconds, progress);
    return 0;
}
