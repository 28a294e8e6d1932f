// The CM bank-account conversion of a generated text file: a small GL chart converted first (not
// timed), then N banks (format 1 of the shipped template: one cash account of that chart, an AP
// check format and a last check number each), examined or converted into the company. Also writes
// the bank rows as CSV, so that run_cmm.sh can time `sqlite3 .import` of them into a table keyed
// by the bank account.
//
// usage: bench_cmm convert|examine|text [banks] [work folder]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_support.h"
#include "converters/gl/xvcmm.h"
#include "converters/gl/xvglm.h"
#include "glm_text.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"

namespace fs = std::filesystem;
using namespace dz;

namespace {

constexpr long kChartAccounts = 1000;

// Format 1 of xvcmm.tpl has 26 columns after the format id: the bank, BINTCMP, BCASH, two more
// cash accounts, the AP check format, ..., the last AP check number (column 10), ..., the notes.
void WriteBanks(std::ostream& out, const fs::path& tpl, long banks, std::ostream& rows) {
    out << "#,CMM," << tpl.string() << "\r\n";
    char buf[128];
    for (long i = 0; i < banks; ++i) {
        // The chart's accounts are 01-0-00-1000-00 and on, prefix by prefix (glm_text.h).
        const long p = i % kChartAccounts;
        std::snprintf(buf, sizeof buf, "B%09ld,1,%02ld-%ld-%02ld-1000-00", i, 1 + p / 100, (p / 10) % 10,
                      p % 10);
        const std::string head = buf;
        std::snprintf(buf, sizeof buf, ",%ld", 1000 + i % 900000);
        out << "1," << head << ",,,STD,,,," << (buf + 1) << std::string(16, ',') << "\r\n";
        rows << head << buf << "\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    const auto args = bench::ParseArgs(argc, argv, "bench_cmm", "convert|examine|text [banks] [work folder]");
    const fs::path chart = args.work / "chart.txt", text = args.work / "cmm.txt";
    if (!fs::exists(text)) {
        std::ofstream glm(chart, std::ios::binary);
        dz::bench::WriteGlmText(glm, dz::data_folder() / "templates" / "xvglm.tpl", kChartAccounts);
        std::ofstream out(text, std::ios::binary), rows(args.work / "banks.csv", std::ios::binary);
        WriteBanks(out, dz::data_folder() / "templates" / "xvcmm.tpl", args.count, rows);
    }
    if (args.mode == "text") return 0;

    const fs::path& company = args.company;
    bench::OpenCompany(company, {"GL", "CM", "AP"});
    for (const char* abbr : {"GLM", "CMM"})
        bench::CreateDataFile(abbr, 1, company / ("MASTER." + std::string(abbr)));
    // Each run converts its own copies: Convert stamps the text files.
    fs::copy_file(chart, company / "chart.txt");
    fs::copy_file(text, company / "cmm.txt");

    convert::ConvertProgress chartProgress([] { return int64_t{0}; });
    gl::xvGLM glm;
    bench::Run(glm, company / "chart.txt", 101, true, chartProgress, company / "chart-report.txt");
    if (chartProgress.file_rejected != 0) {
        std::cerr << "the chart was not converted whole\n";
        return 2;
    }

    convert::ConvertProgress progress([] { return int64_t{0}; });
    gl::xvCMM cmm;
    const double seconds =
        bench::Run(cmm, company / "cmm.txt", 301, args.converting, progress, company / "report.txt");
    bench::PrintResults(seconds, progress);
    return 0;
}
