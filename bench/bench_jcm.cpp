// The JC master conversion of a generated text file: J jobs, each with its group phases first
// and then its phases, N phase records in all, examined or converted into an empty company
// (the shipped template, xvjcm.tpl). Also writes the phase rows as CSV, so that run_jcm.sh can
// time `sqlite3 .import` of them into a table keyed by job, extra and phase.
//
// usage: bench_jcm convert|examine|text [phases] [work folder] [jobs]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

#include "bench_support.h"
#include "converters/jc/xvjcm.h"

namespace fs = std::filesystem;
using namespace dz;

namespace {

// Jobs 100-000 onwards; per job the groups AA-000.00 and AA-BBB.00 come before their phases
// AA-BBB.01 to AA-BBB.99, so every group a phase needs is on file (or examined) before it.
void WriteText(std::ostream& out, std::ostream& rows, long phases, long jobs) {
    out << "#,JCM,xvjcm\n";
    const long perJob = (phases + jobs - 1) / jobs;
    long written = 0;
    char job[32], phase[32];
    for (long j = 0; j < jobs && written < phases; ++j) {
        std::snprintf(job, sizeof job, "%03ld-%03ld", 100 + j / 1000, j % 1000);
        out << "1," << job << ",Job " << j << ",,,,,1,,,,,1,1,,,,,1,,,,,,,,,,,,\n";
        long here = 0;
        for (int a = 1; a <= 99 && here < perJob && written < phases; ++a) {
            for (int b = 0; b <= 999 && here < perJob && written < phases; ++b) {
                // a group phase of level 1 (b == 0), of level 2, then its phases
                for (int c = 0; c <= 99 && here < perJob && written < phases; ++c) {
                    if (b == 0 && c > 0) break;
                    std::snprintf(phase, sizeof phase, "%02d-%03d.%02d", a, b, c);
                    out << "3," << job << ",," << phase << ",Phase " << phase << ",,,,Y,,,,,,,,,,,,,\n";
                    rows << job << ",," << phase << ",Phase " << phase << "\n";
                    ++here;
                    ++written;
                }
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const auto args =
        bench::ParseArgs(argc, argv, "bench_jcm", "convert|examine|text [phases] [work folder] [jobs]");
    const long jobs = argc > 4 ? std::atol(argv[4]) : std::max(1L, args.count / 100);
    const fs::path text = args.work / "jcm.txt";
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary), rows(args.work / "phases.csv", std::ios::binary);
        WriteText(out, rows, args.count, jobs);
    }
    if (args.mode == "text") return 0;

    bench::OpenCompany(args.company, {"GL", "JC"});
    for (const char* abbr : {"JCM", "GLM", "TXM"})
        bench::CreateDataFile(abbr, 1, args.company / (std::string("MASTER.") + abbr));
    const fs::path copy = args.company / "jcm.txt";
    fs::copy_file(text, copy);

    convert::ConvertProgress progress([] { return int64_t{0}; });
    jc::xvJCM converter;
    const double seconds =
        bench::Run(converter, copy, 202, args.converting, progress, args.company / "report.txt");
    bench::PrintResults(seconds, progress);
    return 0;
}
