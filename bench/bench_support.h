// What the conversion benchmarks share: their command line, an empty company to convert into,
// a quiet user interface, one timed run of a text file through a converter, and the result lines
// the run_*.sh scripts parse (seconds=..., records=..., rejected=..., max_rss_kb=...).
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>

#include "convert/converter.h"
#include "convert/progress.h"
#include "modules/module_dlls.h"
#include "platform/datafile/xio.h"
#include "platform/suite/company.h"
#include "platform/suite/xd.h"
#include "platform/ui/framework.h"
#include "platform/ui/print.h"
#include "platform/ui/ui.h"

namespace dz::bench {

// Answers every message box with "go on" and keeps quiet.
class QuietUi : public ui::Ui {
  public:
    int message(int, const std::string& text) override {
        std::cerr << "message: " << text << "\n";
        return 1;
    }
};

// `name convert|examine|text [count] [work folder] ...`: what to do, how many records, and the
// work folder (default the temporary folder's `name`), with this run's company folder emptied.
struct Args {
    std::string mode;
    bool converting = false;
    long count = 0;
    std::filesystem::path work, company;
};

// Prints `usage` and exits 64 when the mode is missing.
inline Args ParseArgs(int argc, char** argv, const char* name, const char* usage) {
    if (argc < 2) {
        std::cerr << "usage: " << name << " " << usage << "\n";
        std::exit(64);
    }
    Args args;
    args.mode = argv[1];
    args.converting = args.mode == "convert";
    args.count = argc > 2 ? std::atol(argv[2]) : 1000000;
    args.work = argc > 3 ? std::filesystem::path(argv[3]) : std::filesystem::temp_directory_path() / name;
    args.company = args.work / (args.converting ? "convert" : "examine");
    std::filesystem::remove_all(args.company);
    std::filesystem::create_directories(args.company);
    return args;
}

// Opens `company` as a new company with `modules` installed, on a fixed clock, with the modules
// loaded and every message answered quietly.
inline void OpenCompany(const std::filesystem::path& company, const std::set<std::string>& modules) {
    static QuietUi quiet;
    ui::set_current(&quiet);
    auto settings = suite::default_settings(modules);
    settings.operator_name = "Bench";
    suite::write_settings(company / suite::kSettingsFileName, settings);
    suite::open_company(company);
    suite::xd_set_clock(suite::xd_fixed_clock({suite::zqDate(12, 6, 2026), {14, 30, 0}}));
    modules::LoadModuleDlls();
}

// Creates the empty data file `path`; exits 2 when it cannot.
inline void CreateDataFile(const char* abbr, uint16_t fileNo, const std::filesystem::path& path) {
    if (xio_create_file(abbr, fileNo, path) != XIO_OK) {
        std::cerr << "cannot create " << path.filename().string() << ": " << xio_error_text() << "\n";
        std::exit(2);
    }
}

// A data-file call of the set-up: anything but success exits 2, naming `what` failed.
inline void Must(int status, const char* what) {
    if (status != XIO_OK) {
        std::cerr << "cannot " << what << ": " << xio_error_text() << "\n";
        std::exit(2);
    }
}

// Opens the converter's data files for Convert or Examine Files; exits 2 when it cannot.
inline void OpenFiles(convert::xvConvert& converter, convert::OpenFilesList& list, bool converting) {
    uint16_t error = 0;
    if (!converter.OpenFiles(list, converting ? 3020 : 3010, error)) {
        std::cerr << "cannot open the data files: " << error << "\n";
        std::exit(2);
    }
}

inline void CloseFiles(convert::OpenFilesList& list) {
    for (auto& e : list)
        if (e.handle) xio_cls_file(e.handle);
}

// Runs the text file `text` (conversion type `type`) through a converter whose files are open in
// `list`, its report printed to `report`; the seconds the conversion itself took.
inline double ConvertText(convert::xvConvert& converter, convert::OpenFilesList& list,
                          const std::filesystem::path& text, uint16_t type, bool converting,
                          convert::ConvertProgress& progress, const std::filesystem::path& report) {
    ui::zqTask task(converting ? "Convert" : "Examine Files", 15, converting ? 3020 : 3010, 5);
    const int print =
        ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, report.string());
    const auto start = std::chrono::steady_clock::now();
    converter.ConvertFile(list, convert::TextFileEntry{text.string(), type}, &progress, print, task, "",
                          nullptr);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ui::zp_cls_print_file(task.ID(), 201);
    ui::xp_close_print(print);
    return seconds;
}

// ConvertText with the converter's files opened before and closed after.
inline double Run(convert::xvConvert& converter, const std::filesystem::path& text, uint16_t type,
                  bool converting, convert::ConvertProgress& progress, const std::filesystem::path& report) {
    convert::OpenFilesList list;
    OpenFiles(converter, list, converting);
    const double seconds = ConvertText(converter, list, text, type, converting, progress, report);
    CloseFiles(list);
    return seconds;
}

// The peak memory so far, in kB.
inline long MaxRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The result lines; setup_rss_kb (the peak before the timed run) only when given.
inline void PrintResults(double seconds, const convert::ConvertProgress& progress, long setup_rss_kb = -1) {
    std::printf("seconds=%.3f\nrecords=%u\nrejected=%u\nmax_rss_kb=%ld\n", seconds, progress.file_records,
                progress.file_rejected, MaxRssKb());
    if (setup_rss_kb >= 0) std::printf("setup_rss_kb=%ld\n", setup_rss_kb);
}

}  // namespace dz::bench
