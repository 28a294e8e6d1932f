// The GL master conversion of a generated text file: prefixes A, B and C, base accounts, then N
// accounts completed from their base accounts (format 1B of the shipped template), examined or
// converted into an empty company. Also writes the account rows as CSV, so that run_glm.sh can
// time `sqlite3 .import` of them into a table with the same key.
//
// usage: bench_glm convert|examine [accounts] [work folder]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
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

std::string Columns(int n) { return std::string(static_cast<std::size_t>(n), ','); }

// Prefix lines carry every column of their format: the prefix, then empty columns.
void WriteText(const fs::path& text, const fs::path& csv, long accounts) {
    std::ofstream out(text, std::ios::binary);
    std::ofstream rows(csv, std::ios::binary);
    out << "#,GLM," << (dz::data_folder() / "templates" / "xvglm.tpl").string() << "\r\n";
    const int prefixes = 1000;                                             // ABC prefixes 01-0-00 ...
    const long bases = (accounts + prefixes - 1) / prefixes;               // base accounts per prefix
    char buf[64];
    for (int a = 1; a <= 10; ++a) {
        std::snprintf(buf, sizeof buf, "3,%02d", a);
        out << buf << Columns(242) << "\r\n";
        for (int b = 0; b < 10; ++b) {
            std::snprintf(buf, sizeof buf, "4,%02d-%d", a, b);
            out << buf << Columns(243) << "\r\n";
            for (int c = 0; c < 10; ++c) {
                std::snprintf(buf, sizeof buf, "5,%02d-%d-%02d", a, b, c);
                out << buf << Columns(245) << "\r\n";
            }
        }
    }
    for (long s = 0; s < bases; ++s) {
        std::snprintf(buf, sizeof buf, "6,%04ld-00,Base account %ld,%ld,,,,,,,,", 1000 + s, s, 1 + s % 12);
        out << buf << "\r\n";
    }
    long written = 0;
    for (long s = 0; s < bases && written < accounts; ++s)
        for (int p = 0; p < prefixes && written < accounts; ++p, ++written) {
            std::snprintf(buf, sizeof buf, "%02d-%d-%02d-%04ld-00,%ld.%02ld,%ld.%02ld", 1 + p / 100, (p / 10) % 10, p % 10,
                          1000 + s, written % 100000, written % 100, written % 70000, written % 97);
            out << "1B," << buf << "\r\n";
            rows << buf << "\n";
        }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: bench_glm convert|examine [accounts] [work folder]\n";
        return 64;
    }
    const bool converting = std::string(argv[1]) == "convert";
    const long accounts = argc > 2 ? std::atol(argv[2]) : 1000000;
    const fs::path work = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path() / "bench_glm";
    const fs::path company = work / (converting ? "convert" : "examine");
    fs::remove_all(company);
    fs::create_directories(company);
    const fs::path text = work / "glm.txt";
    if (!fs::exists(text)) WriteText(text, work / "accounts.csv", accounts);

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
