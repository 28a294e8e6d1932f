// The AP vendor conversion of a generated text file: N vendors, each with a debit base account, a
// standard phase and a tax group that are on file, so that every look-up runs, examined or
// converted into a company without vendors (the shipped template, xvapm.tpl). Also writes the
// vendor rows as CSV, so that run_apm.sh can time `sqlite3 .import` of them into a table keyed
// by vendor.
//
// usage: bench_apm convert|examine|text [vendors] [work folder]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include "convert/progress.h"
#include "convert/record_fields.h"
#include "converters/ap/xvapm.h"
#include "modules/module_dlls.h"
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

// The vendor format has 83 fields and the notes; VGLEXP is column 10, VJCPHS 11, VTAXGRP 13.
void WriteText(std::ostream& out, std::ostream& rows, long vendors) {
    out << "#,APM,xvapm\n";
    char id[32];
    for (long v = 0; v < vendors; ++v) {
        std::snprintf(id, sizeof id, "V%08ld", v);
        out << "9," << id << ",Vendor " << v << ",1 Main Street,,Portland,ME,04101,,,1,5100-00,09-001.00,,MEUSE";
        for (int i = 14; i < 83; ++i) out << ',';
        out << ",\n";
        rows << id << ",Vendor " << v << ",1 Main Street,Portland,ME,04101,510000,0900100,MEUSE\n";
    }
}

bool Put(uint16_t h, uint16_t rec, std::initializer_list<std::pair<const char*, const char*>> fields) {
    xio_init_record(h, rec);
    for (const auto& [name, value] : fields) convert::PutText(h, rec, name, value);
    return xio_wr_record(h, rec) == XIO_OK;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: bench_apm convert|examine|text [vendors] [work folder]\n";
        return 64;
    }
    const bool converting = std::string(argv[1]) == "convert";
    const long vendors = argc > 2 ? std::atol(argv[2]) : 1000000;
    const fs::path work = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path() / "bench_apm";
    const fs::path company = work / (converting ? "convert" : "examine");
    fs::remove_all(company);
    fs::create_directories(company);
    const fs::path text = work / "apm.txt";
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary), rows(work / "vendors.csv", std::ios::binary);
        WriteText(out, rows, vendors);
    }
    if (std::string(argv[1]) == "text") return 0;

    QuietUi quiet;
    ui::set_current(&quiet);
    auto settings = suite::default_settings({"GL", "JC", "AP"});
    settings.operator_name = "Bench";
    suite::write_settings(company / suite::kSettingsFileName, settings);
    suite::open_company(company);
    suite::xd_set_clock(suite::xd_fixed_clock({suite::zqDate(12, 6, 2026), {14, 30, 0}}));
    modules::LoadModuleDlls();
    for (const char* abbr : {"APM", "GLM", "JCM", "TXM"}) {
        if (xio_create_file(abbr, 1, company / (std::string("MASTER.") + abbr)) != XIO_OK) {
            std::cerr << "cannot create MASTER." << abbr << ": " << xio_error_text() << "\n";
            return 2;
        }
    }
    // The base account, standard phase and tax group every vendor names.
    for (const auto& [abbr, ok] : {std::pair<const char*, int>{"GLM", 0}, {"JCM", 1}, {"TXM", 2}}) {
        uint16_t h = 0;
        if (xio_open_file(company / (std::string("MASTER.") + abbr), XIO_OPEN_READ_WRITE, h) != XIO_OK ||
            xio_start_writes(h) != XIO_OK) {
            std::cerr << "cannot open MASTER." << abbr << "\n";
            return 2;
        }
        const bool written = ok == 0   ? Put(h, 6, {{"BSBASE", "510000"}})
                             : ok == 1 ? Put(h, 16, {{"SPHASE", "0900100"}})
                                       : Put(h, 2, {{"GROUP", "MEUSE"}});
        xio_end_writes(h);
        xio_cls_file(h);
        if (!written) {
            std::cerr << "cannot write the reference of MASTER." << abbr << "\n";
            return 2;
        }
    }
    const fs::path copy = company / "apm.txt";
    fs::copy_file(text, copy);

    convert::OpenFilesList list;
    uint16_t error = 0;
    ap::xvAPM converter;
    if (!converter.OpenFiles(list, converting ? 3020 : 3010, error)) {
        std::cerr << "cannot open APM: " << error << "\n";
        return 2;
    }
    ui::zqTask task(converting ? "Convert" : "Examine Files", 15, converting ? 3020 : 3010, 5);
    const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File,
                                        (company / "report.txt").string());
    convert::ConvertProgress progress([] { return int64_t{0}; });

    const auto start = std::chrono::steady_clock::now();
    converter.ConvertFile(list, convert::TextFileEntry{copy.string(), 401}, &progress, print, task, "", nullptr);
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
