// The PM transaction conversion of a generated text file: a few hundred leases seeded straight
// into the PM files (not timed), then N sales-volume transactions over them, examined or converted
// through both passes. Also writes the rows as CSV, so that run_pmt.sh can time `sqlite3 .import`
// of them into a table keyed by run and sequence.
//
// usage: bench_pmt convert|examine|text [transactions] [work folder]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include "convert/progress.h"
#include "convert/record_fields.h"
#include "converters/pm/xvpmt.h"
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
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace dz;

namespace {

constexpr long kLeases = 300;

class QuietUi : public ui::Ui {
public:
    int message(int, const std::string& text) override {
        std::cerr << "message: " << text << "\n";
        return 1;
    }
};

std::string Id(const char* prefix, long n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%04ld", prefix, n);
    return buf;
}

// One record written: texts as given, the rest as numbers.
void Put(uint16_t h, uint16_t rec, const std::vector<std::pair<const char*, std::string>>& values) {
    xio_init_record(h, rec);
    for (const auto& [name, text] : values) {
        const uint16_t f = xio_num(h, XIO_NUM_RECORD, rec, name);
        xio_fld_def def;
        xio_get_fld_def(h, f, def);
        x_value_def v;
        if (xio_is_text_type(def.type))
            v.text = text;
        else
            v.number = std::atof(text.c_str());
        xio_put_field(h, rec, f, v);
    }
    if (xio_wr_record(h, rec) != XIO_OK) {
        std::cerr << "cannot seed record " << rec << ": " << xio_error_text() << "\n";
        std::exit(2);
    }
}

void Seed(const fs::path& company) {
    auto open = [&](const char* abbr) {
        uint16_t h = 0;
        if (xio_open_file(company / xio_file_name(abbr, 1), XIO_OPEN_READ_WRITE, h) != XIO_OK) {
            std::cerr << "cannot open MASTER." << abbr << ": " << xio_error_text() << "\n";
            std::exit(2);
        }
        xio_start_writes(h);  // one transaction a file
        return h;
    };
    const uint16_t pmp = open("PMP"), pmn = open("PMN"), pml = open("PML"), pmr = open("PMR");
    for (long i = 0; i < kLeases; ++i) {
        const std::string prop = Id("P", i / 10), unit = Id("U", i), tenant = Id("T", i), lease = Id("L", i);
        if (i % 10 == 0) Put(pmp, 1, {{"PROP", prop}, {"PNAME", "Property " + prop}});
        Put(pmp, 17, {{"UPROP", prop}, {"UNIT", unit}});
        Put(pmp, 20, {{"LUPROP", prop}, {"LUUNIT", unit}, {"LULEASE", lease}, {"LUREV", "1"}});
        Put(pmn, 1, {{"TENANT", tenant}, {"TNAME", "Tenant " + tenant}});
        Put(pmn, 5, {{"TENID", tenant}, {"TLEASE", lease}, {"TLREV", "1"}});
        Put(pml, 1, {{"LEASE", lease}, {"LREV", "1"}, {"LPROP", prop}, {"LUNIT", unit}, {"LTENANT", tenant},
                     {"LSTATUS", "3"}});
        Put(pmr, 2, {{"SCLEASE", lease}, {"SCREV", "1"}, {"SCSLCAT", "Sales"}});
    }
    for (uint16_t h : {pmp, pmn, pml, pmr}) {
        xio_end_writes(h);
        xio_cls_file(h);
    }
}

// Monthly sales volumes: lease by lease, month by month.
void WriteSales(std::ostream& out, const fs::path& tpl, long count, std::ostream& rows) {
    out << "#,PMT," << tpl.string() << "\r\n";
    char buf[256];
    for (long i = 0; i < count; ++i) {
        const long l = i % kLeases;
        const long month = 1 + (i / kLeases) % 12, year = 2000 + (i / kLeases / 12) % 26;
        std::snprintf(buf, sizeof buf, "%s,%s,%s,%s,1,%ld/28/%ld,%ld/28/%ld,%ld/15/%ld,%ld.%02ld,1,Gross,Sales,",
                      Id("P", l / 10).c_str(), Id("U", l).c_str(), Id("T", l).c_str(), Id("L", l).c_str(), month,
                      year, month, year, month, year, 1000 + i % 90000, i % 100);
        out << "SV," << buf << "\r\n";
        rows << "1," << (i + 1) << "," << buf << "\n";
    }
}

double Run(convert::xvConvert& converter, const fs::path& text, bool converting, convert::ConvertProgress& progress,
           const fs::path& report) {
    convert::OpenFilesList list;
    uint16_t error = 0;
    if (!converter.OpenFiles(list, converting ? 3020 : 3010, error)) {
        std::cerr << "cannot open the data files: " << error << "\n";
        std::exit(2);
    }
    ui::zqTask task(converting ? "Convert" : "Examine Files", 15, converting ? 3020 : 3010, 5);
    const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, report.string());
    const auto start = std::chrono::steady_clock::now();
    converter.ConvertFile(list, convert::TextFileEntry{text.string(), 605}, &progress, print, task, "", nullptr);
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
        std::cerr << "usage: bench_pmt convert|examine|text [transactions] [work folder]\n";
        return 64;
    }
    const bool converting = std::string(argv[1]) == "convert";
    const long count = argc > 2 ? std::atol(argv[2]) : 1000000;
    const fs::path work = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path() / "bench_pmt";
    const fs::path company = work / (converting ? "convert" : "examine");
    fs::remove_all(company);
    fs::create_directories(company);
    const fs::path text = work / "pmt.txt";
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary), rows(work / "sales.csv", std::ios::binary);
        WriteSales(out, dz::data_folder() / "templates" / "xvpmt.tpl", count, rows);
    }
    if (std::string(argv[1]) == "text") return 0;

    QuietUi quiet;
    ui::set_current(&quiet);
    auto settings = suite::default_settings({"GL", "CM", "PM"});
    settings.operator_name = "Bench";
    suite::write_settings(company / suite::kSettingsFileName, settings);
    suite::open_company(company);
    suite::xd_set_clock(suite::xd_fixed_clock({suite::zqDate(12, 6, 2026), {14, 30, 0}}));
    modules::LoadModuleDlls();
    const std::pair<const char*, uint16_t> files[] = {{"GLM", 1}, {"CMM", 1}, {"PMS", 1}, {"PMP", 1},
                                                      {"PMN", 1}, {"PML", 1}, {"PMR", 1}, {"PMT", 1}};
    for (const auto& [abbr, fileNo] : files)
        if (xio_create_file(abbr, fileNo, company / xio_file_name(abbr, fileNo)) != XIO_OK) {
            std::cerr << "cannot create " << abbr << ": " << xio_error_text() << "\n";
            return 2;
        }
    Seed(company);
    fs::copy_file(text, company / "pmt.txt");

    convert::ConvertProgress progress([] { return int64_t{0}; });
    pm::xvPMT pmt;
    const double seconds = Run(pmt, company / "pmt.txt", converting, progress, company / "report.txt");

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("seconds=%.3f\nrecords=%u\nrejected=%u\nmax_rss_kb=%ld\n", seconds, progress.file_records,
                progress.file_rejected, usage.ru_maxrss);
    return 0;
}
