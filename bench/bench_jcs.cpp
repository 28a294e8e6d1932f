// The JC standards conversion of a generated text file: N standard phases with three-section
// cost codes, each group before its members, examined or converted into an empty company (the
// shipped template, xvjcs.tpl). Also writes the rows as CSV, so that run_jcs.sh can time
// `sqlite3 .import` of them into a table keyed by the cost code.
//
// usage: bench_jcs convert|examine|text [phases] [work folder]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

#include "bench_support.h"
#include "converters/jc/xvjcs.h"

namespace fs = std::filesystem;
using namespace dz;

namespace {

// Groups AA-000.00 and AA-BBB.00 come before their members AA-BBB.01 to AA-BBB.99.
void WriteText(std::ostream& out, std::ostream& rows, long phases) {
    out << "#,JCS,xvjcs\n";
    long written = 0;
    char phase[32];
    for (int a = 1; a <= 99 && written < phases; ++a)
        for (int b = 0; b <= 999 && written < phases; ++b)
            for (int c = 0; c <= 99 && written < phases; ++c) {
                if (b == 0 && c > 0) break;
                std::snprintf(phase, sizeof phase, "%02d-%03d.%02d", a, b, c);
                out << "16," << phase << ",Phase " << phase << ",,1,,,,,,,,,,,,,Y,,,\n";
                rows << phase << ",Phase " << phase << "\n";
                ++written;
            }
}

}  // namespace

int main(int argc, char** argv) {
    const auto args =
        bench::ParseArgs(argc, argv, "bench_jcs", "convert|examine|text [phases] [work folder]");
    const fs::path text = args.work / "jcs.txt";
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary), rows(args.work / "phases.csv", std::ios::binary);
        WriteText(out, rows, args.count);
    }
    if (args.mode == "text") return 0;

    bench::OpenCompany(args.company, {"GL", "JC"});
    for (const char* abbr : {"JCM", "GLM", "TXM"})
        bench::CreateDataFile(abbr, 1, args.company / (std::string("MASTER.") + abbr));
    const fs::path copy = args.company / "jcs.txt";
    fs::copy_file(text, copy);

    convert::ConvertProgress progress([] { return int64_t{0}; });
    jc::xvJCS converter;
    const double seconds =
        bench::Run(converter, copy, 201, args.converting, progress, args.company / "report.txt");
    bench::PrintResults(seconds, progress);
    return 0;
}
