// The CM bank-account conversion of a generated text file: a small GL chart converted first (not
// timed), then N banks (format 1 of the shipped template: one cash account of that chart, an AP
// check format and a last check number each), examined or converted into the company. Also writes
// the bank rows as CSV, so that run_cmm.sh can time `sqlite3 .import` of them into a table keyed
// by the bank account.
//
// usage: bench_cmm convert|examine|text [banks] [work folder]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include "glm_text.h"

#include "convert/progress.h"
#include "converters/gl/xvcmm.h"
#include "converters/gl/xvglm.h"
#include "modules/module_dlls.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"
#include "platform/suite/company.h"
#include "platform/suite/xd.h"
#include "platform/ui/framework.h"
#include "platform/ui/print.h"
#include "platform/ui/ui.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace fs = std::filesystem;
using namespace dz;

namespace {

constexpr long kChartAccounts = 1000;

class QuietUi : public ui::Ui {
public:
    int message(int, const std::string& text) override {
        std::cerr << "message: " << text << "\n";
        return 1;
    }
};

// Format 1 of xvcmm.tpl has 26 columns after the format id: the bank, BINTCMP, BCASH, two more
// cash accounts, the AP check format, ..., the last AP check number (column 10), ..., the notes.
void WriteBanks(std::ostream& out, const fs::path& tpl, long banks, std::ostream& rows) {
    out << "#,CMM," << tpl.string() << "\r\n";
    char buf[128];
    for (long i = 0; i < banks; ++i) {
        // The chart's accounts are 01-0-00-1000-00 and on, prefix by prefix (glm_text.h).
        const long p = i % kChartAccounts;
        std::snprintf(buf, sizeof buf, "B%09ld,1,%02ld-%ld-%02ld-1000-00", i, 1 + p / 100, (p / 10) % 10, p % 10);
        const std::string head = buf;
        std::snprintf(buf, sizeof buf, ",%ld", 1000 + i % 900000);
        out << "1," << head << ",,,STD,,,," << (buf + 1) << std::string(16, ',') << "\r\n";
        rows << head << buf << "\n";
    }
}

// Runs one text file through a converter into the open company; seconds taken.
double Run(convert::xvConvert& converter, const fs::path& text, uint16_t type, bool converting,
           convert::ConvertProgress& progress, const fs::path& report) {
    convert::OpenFilesList list;
    uint16_t error = 0;
    if (!converter.OpenFiles(list, converting ? 3020 : 3010, error)) {
        std::cerr << "cannot open the data file: " << error << "\n";
        std::exit(2);
    }
    ui::zqTask task(converting ? "Convert" : "Examine Files", 15, converting ? 3020 : 3010, 5);
    const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, report.string());
    const auto start = std::chrono::steady_clock::now();
    converter.ConvertFile(list, convert::TextFileEntry{text.string(), type}, &progress, print, task, "", nullptr);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ui::zp_cls_print_file(task.ID(), 201);
    ui::xp_close_print(print);
    for (auto& e : list)
        if (e.handle) xio_cls_file(e.handle);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: bench_cmm convert|examine|text [banks] [work folder]\n";
        return 64;
    }
    const bool converting = std::string(argv[1]) == "convert";
    const long banks = argc > 2 ? std::atol(argv[2]) : 1000000;
    const fs::path work = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path() / "bench_cmm";
    const fs::path company = work / (converting ? "convert" : "examine");
    fs::remove_all(company);
    fs::create_directories(company);
    const fs::path chart = work / "chart.txt", text = work / "cmm.txt";
    if (!fs::exists(text)) {
        std::ofstream glm(chart, std::ios::binary);
        dz::bench::WriteGlmText(glm, dz::data_folder() / "templates" / "xvglm.tpl", kChartAccounts);
        std::ofstream out(text, std::ios::binary), rows(work / "banks.csv", std::ios::binary);
        WriteBanks(out, dz::data_folder() / "templates" / "xvcmm.tpl", banks, rows);
    }
    if (std::string(argv[1]) == "text") return 0;

    QuietUi quiet;
    ui::set_current(&quiet);
    auto settings = suite::default_settings({"GL", "CM", "AP"});
    settings.operator_name = "Bench";
    suite::write_settings(company / suite::kSettingsFileName, settings);
    suite::open_company(company);
    suite::xd_set_clock(suite::xd_fixed_clock({suite::zqDate(12, 6, 2026), {14, 30, 0}}));
    modules::LoadModuleDlls();
    for (const char* abbr : {"GLM", "CMM"})
        if (xio_create_file(abbr, 1, company / ("MASTER." + std::string(abbr))) != XIO_OK) {
            std::cerr << "cannot create MASTER." << abbr << ": " << xio_error_text() << "\n";
            return 2;
        }
    // Each run converts its own copies: Convert stamps the text files.
    fs::copy_file(chart, company / "chart.txt");
    fs::copy_file(text, company / "cmm.txt");

    convert::ConvertProgress chartProgress([] { return int64_t{0}; });
    gl::xvGLM glm;
    Run(glm, company / "chart.txt", 101, true, chartProgress, company / "chart-report.txt");
    if (chartProgress.file_rejected != 0) {
        std::cerr << "the chart was not converted whole\n";
        return 2;
    }

    convert::ConvertProgress progress([] { return int64_t{0}; });
    gl::xvCMM cmm;
    const double seconds = Run(cmm, company / "cmm.txt", 301, converting, progress, company / "report.txt");

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("seconds=%.3f\nrecords=%u\nrejected=%u\nmax_rss_kb=%ld\n", seconds, progress.file_records,
                progress.file_rejected, usage.ru_maxrss);
    return 0;
}
