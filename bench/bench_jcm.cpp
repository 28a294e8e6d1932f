// The JC master conversion of a generated text file: J jobs, each with its group phases first
// and then its phases, N phase records in all, examined or converted into an empty company
// (the shipped template, xvjcm.tpl). Also writes the phase rows as CSV, so that run_jcm.sh can
// time `sqlite3 .import` of them into a table keyed by job, extra and phase.
//
// usage: bench_jcm convert|examine|text [phases] [work folder] [jobs]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include "convert/progress.h"
#include "converters/jc/xvjcm.h"
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

class QuietUi : public ui::Ui {
public:
    int message(int, const std::string& text) override {
        std::cerr << "message: " << text << "\n";
        return 1;
    }
};

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
    if (argc < 2) {
        std::cerr << "usage: bench_jcm convert|examine|text [phases] [work folder] [jobs]\n";
        return 64;
    }
    const bool converting = std::string(argv[1]) == "convert";
    const long phases = argc > 2 ? std::atol(argv[2]) : 1000000;
    const fs::path work = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path() / "bench_jcm";
    const long jobs = argc > 4 ? std::atol(argv[4]) : std::max(1L, phases / 100);
    const fs::path company = work / (converting ? "convert" : "examine");
    fs::remove_all(company);
    fs::create_directories(company);
    const fs::path text = work / "jcm.txt";
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary), rows(work / "phases.csv", std::ios::binary);
        WriteText(out, rows, phases, jobs);
    }
    if (std::string(argv[1]) == "text") return 0;

    QuietUi quiet;
    ui::set_current(&quiet);
    auto settings = suite::default_settings({"GL", "JC"});
    settings.operator_name = "Bench";
    suite::write_settings(company / suite::kSettingsFileName, settings);
    suite::open_company(company);
    suite::xd_set_clock(suite::xd_fixed_clock({suite::zqDate(12, 6, 2026), {14, 30, 0}}));
    modules::LoadModuleDlls();
    for (const char* abbr : {"JCM", "GLM", "TXM"}) {
        if (xio_create_file(abbr, 1, company / (std::string("MASTER.") + abbr)) != XIO_OK) {
            std::cerr << "cannot create MASTER." << abbr << ": " << xio_error_text() << "\n";
            return 2;
        }
    }
    const fs::path copy = company / "jcm.txt";
    fs::copy_file(text, copy);

    convert::OpenFilesList list;
    uint16_t error = 0;
    jc::xvJCM converter;
    if (!converter.OpenFiles(list, converting ? 3020 : 3010, error)) {
        std::cerr << "cannot open JCM: " << error << "\n";
        return 2;
    }
    ui::zqTask task(converting ? "Convert" : "Examine Files", 15, converting ? 3020 : 3010, 5);
    const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File,
                                        (company / "report.txt").string());
    convert::ConvertProgress progress([] { return int64_t{0}; });

    const auto start = std::chrono::steady_clock::now();
    converter.ConvertFile(list, convert::TextFileEntry{copy.string(), 202}, &progress, print, task, "", nullptr);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ui::zp_cls_print_file(task.ID(), 201);
    ui::xp_close_print(print);
    for (auto& e : list)
        if (e.handle) xio_cls_file(e.handle);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("seconds=%.3f\nrecords=%u\nrejected=%u\nmax_rss_kb=%ld\n", seconds, progress.file_records,
                progress.file_rejected, usage.ru_maxrss);
    return 0;
}
