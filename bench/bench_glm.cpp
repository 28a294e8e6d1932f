// The GL master conversion of a generated text file: prefixes A, B and C, base accounts, then N
// accounts completed from their base accounts (format 1B of the shipped template), examined or
// converted into an empty company. Also writes the account rows as CSV, so that run_glm.sh can
// time `sqlite3 .import` of them into a table with the same key.
//
// usage: bench_glm convert|examine|text [accounts] [work folder]
// (text only writes the text file, work folder/glm.txt, for runs through dodedoz-cli)
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include "glm_text.h"

#include "convert/progress.h"
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

// Answers every message box with "go on" and keeps quiet.
class QuietUi : public ui::Ui {
public:
    int message(int, const std::string& text) override {
        std::cerr << "message: " << text << "\n";
        return 1;
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: bench_glm convert|examine|text [accounts] [work folder]\n";
        return 64;
    }
    const bool converting = std::string(argv[1]) == "convert";
    const long accounts = argc > 2 ? std::atol(argv[2]) : 1000000;
    const fs::path work = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path() / "bench_glm";
    const fs::path company = work / (converting ? "convert" : "examine");
    fs::remove_all(company);
    fs::create_directories(company);
    const fs::path text = work / "glm.txt";
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary), rows(work / "accounts.csv", std::ios::binary);
        dz::bench::WriteGlmText(out, dz::data_folder() / "templates" / "xvglm.tpl", accounts, &rows);
    }
    if (std::string(argv[1]) == "text") return 0;

    QuietUi quiet;
    ui::set_current(&quiet);
    auto settings = suite::default_settings({"GL"});
    settings.operator_name = "Bench";
    suite::write_settings(company / suite::kSettingsFileName, settings);
    suite::open_company(company);
    suite::xd_set_clock(suite::xd_fixed_clock({suite::zqDate(12, 6, 2026), {14, 30, 0}}));
    modules::LoadModuleDlls();
    if (xio_create_file("GLM", 1, company / "MASTER.GLM") != XIO_OK) {
        std::cerr << "cannot create MASTER.GLM: " << xio_error_text() << "\n";
        return 2;
    }
    // Each run converts its own copy: Convert stamps the text file.
    const fs::path copy = company / "glm.txt";
    fs::copy_file(text, copy);

    convert::OpenFilesList list;
    uint16_t error = 0;
    gl::xvGLM converter;
    if (!converter.OpenFiles(list, converting ? 3020 : 3010, error)) {
        std::cerr << "cannot open GLM: " << error << "\n";
        return 2;
    }
    ui::zqTask task(converting ? "Convert" : "Examine Files", 15, converting ? 3020 : 3010, 5);
    const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File,
                                        (company / "report.txt").string());
    convert::ConvertProgress progress([] { return int64_t{0}; });

    const auto start = std::chrono::steady_clock::now();
    converter.ConvertFile(list, convert::TextFileEntry{copy.string(), 101}, &progress, print, task, "", nullptr);
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
