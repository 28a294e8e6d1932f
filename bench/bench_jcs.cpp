// The JC standards conversion of a generated text file: N standard phases with three-section
// cost codes, each group before its members, examined or converted into an empty company (the
// shipped template, xvjcs.tpl). Also writes the rows as CSV, so that run_jcs.sh can time
// `sqlite3 .import` of them into a table keyed by the cost code.
//
// usage: bench_jcs convert|examine|text [phases] [work folder]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include "convert/progress.h"
#include "converters/jc/xvjcs.h"
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
    if (argc < 2) {
        std::cerr << "usage: bench_jcs convert|examine|text [phases] [work folder]\n";
        return 64;
    }
    const bool converting = std::string(argv[1]) == "convert";
    const long phases = argc > 2 ? std::atol(argv[2]) : 1000000;
    const fs::path work = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path() / "bench_jcs";
    const fs::path company = work / (converting ? "convert" : "examine");
    fs::remove_all(company);
    fs::create_directories(company);
    const fs::path text = work / "jcs.txt";
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary), rows(work / "phases.csv", std::ios::binary);
        WriteText(out, rows, phases);
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
    const fs::path copy = company / "jcs.txt";
    fs::copy_file(text, copy);

    convert::OpenFilesList list;
    uint16_t error = 0;
    jc::xvJCS converter;
    if (!converter.OpenFiles(list, converting ? 3020 : 3010, error)) {
        std::cerr << "cannot open JCM: " << error << "\n";
        return 2;
    }
    ui::zqTask task(converting ? "Convert" : "Examine Files", 15, converting ? 3020 : 3010, 5);
    const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File,
                                        (company / "report.txt").string());
    convert::ConvertProgress progress([] { return int64_t{0}; });

    const auto start = std::chrono::steady_clock::now();
    converter.ConvertFile(list, convert::TextFileEntry{copy.string(), 201}, &progress, print, task, "", nullptr);
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
