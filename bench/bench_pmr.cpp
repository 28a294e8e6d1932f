// The PM retail conversion of a generated text file: N percent rent controls, each of its own
// lease (revision 1), billing monthly and recalculating yearly with one charge type, all
// accepted; examined or converted (with the "Total" sales category of each) into a company that
// holds only those leases and the charge type, written before the timing starts. Also writes
// the control rows as CSV, so that run_pmr.sh can time `sqlite3 .import` of them into a table
// keyed by lease and revision.
//
// usage: bench_pmr convert|examine|text [controls] [work folder]
// prints seconds=..., records=..., rejected=..., max_rss_kb=..., setup_rss_kb=... (the peak before
// the timed run, the leases written)
#include "convert/progress.h"
#include "convert/record_fields.h"
#include "converters/pm/xvpmr.h"
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

std::string Lease(long i) {
    char id[32];
    std::snprintf(id, sizeof id, "B%08ld", i);
    return id;
}

// The fields of one control in the template's column order: lease, revision, fiscal year end,
// overage start and end, months to retain, store, the two frequencies, next billing and
// recalculation dates, the two charge types; the other 34 columns empty.
std::string Row(long i) {
    return Lease(i) + ",1,,1/1/2027,,12,,1,12,1/31/2027,12/31/2027,PCTRNT,PCTRNT" + std::string(34, ',');
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: bench_pmr convert|examine|text [controls] [work folder]\n";
        return 64;
    }
    const bool converting = std::string(argv[1]) == "convert";
    const long controls = argc > 2 ? std::atol(argv[2]) : 1000000;
    const fs::path work = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path() / "bench_pmr";
    const fs::path company = work / (converting ? "convert" : "examine");
    fs::remove_all(company);
    fs::create_directories(company);
    const fs::path text = work / "pmr.txt";
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary), rows(work / "controls.csv", std::ios::binary);
        out << "#,PMR," << (dz::data_folder() / "templates" / "xvpmr.tpl").string() << "\r\n";
        for (long i = 1; i <= controls; ++i) {
            const std::string row = Row(i);
            out << "1," << row << ",\r\n";  // the notes column last
            rows << row << "\n";
        }
    }
    if (std::string(argv[1]) == "text") return 0;

    QuietUi quiet;
    ui::set_current(&quiet);
    auto settings = suite::default_settings({"GL", "PM"});
    settings.operator_name = "Bench";
    suite::write_settings(company / suite::kSettingsFileName, settings);
    suite::open_company(company);
    suite::xd_set_clock(suite::xd_fixed_clock({suite::zqDate(12, 6, 2026), {14, 30, 0}}));
    modules::LoadModuleDlls();
    for (const char* abbr : {"PML", "PMS", "PMR"}) {
        if (xio_create_file(abbr, 1, company / xio_file_name(abbr, 1)) != XIO_OK) {
            std::cerr << "cannot create " << abbr << ": " << xio_error_text() << "\n";
            return 2;
        }
    }
    const fs::path copy = company / "pmr.txt";
    fs::copy_file(text, copy);

    convert::OpenFilesList list;
    uint16_t error = 0;
    pm::xvPMR converter;
    if (!converter.OpenFiles(list, converting ? 3020 : 3010, error)) {
        std::cerr << "cannot open the PM files: " << error << "\n";
        return 2;
    }
    // The leases and the charge type, committed before the timing.
    const uint16_t pml = convert::FindFileHandle(list, "PML", 1), pms = convert::FindFileHandle(list, "PMS", 1);
    for (long i = 1; i <= controls; ++i) {
        xio_init_record(pml, 1);
        convert::PutText(pml, 1, "LEASE", Lease(i));
        convert::PutNumber(pml, 1, "LREV", 1);
        xio_wr_record(pml, 1);
    }
    xio_init_record(pms, 1);
    convert::PutText(pms, 1, "CT", "PCTRNT");
    xio_wr_record(pms, 1);
    if (xio_commit(pml) != XIO_OK || xio_commit(pms) != XIO_OK) {
        std::cerr << "cannot write the leases\n";
        return 2;
    }

    ui::zqTask task(converting ? "Convert" : "Examine Files", 15, converting ? 3020 : 3010, 5);
    const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File,
                                        (company / "report.txt").string());
    convert::ConvertProgress progress([] { return int64_t{0}; });

    rusage before{};
    getrusage(RUSAGE_SELF, &before);  // the leases written: what the timed run starts from
    const auto start = std::chrono::steady_clock::now();
    converter.ConvertFile(list, convert::TextFileEntry{copy.string(), 603}, &progress, print, task, "", nullptr);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ui::zp_cls_print_file(task.ID(), 201);
    ui::xp_close_print(print);
    for (auto& e : list)
        if (e.handle) xio_cls_file(e.handle);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("seconds=%.3f\nrecords=%u\nrejected=%u\nmax_rss_kb=%ld\nsetup_rss_kb=%ld\n", seconds,
                progress.file_records, progress.file_rejected, usage.ru_maxrss, before.ru_maxrss);
    return 0;
}
