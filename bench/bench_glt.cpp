// The GL transaction conversion of N generated transactions: a chart of about 1,000 accounts is
// converted first through the GL master converter (not timed), then the transactions on those
// accounts are examined or converted and posted as one batch. Also writes the transaction rows as
// CSV (with their run and sequence numbers), so that run_glt.sh can time `sqlite3 .import` of
// them into a table keyed by run and sequence.
//
// usage: bench_glt convert|examine [transactions] [work folder]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include "glm_text.h"

#include "convert/progress.h"
#include "converters/gl/xvglm.h"
#include "converters/gl/xvglt.h"
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
#include <sstream>
#include <string>
#include <vector>

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

// The accounts of the generated chart, as its text file writes them.
std::vector<std::string> ChartAccounts(const std::string& chartRows) {
    std::vector<std::string> accounts;
    std::istringstream in(chartRows);
    for (std::string line; std::getline(in, line);) accounts.push_back(line.substr(0, line.find(',')));
    return accounts;
}

void WriteTransactions(const fs::path& text, const fs::path& csv, const std::vector<std::string>& accounts,
                       long count) {
    std::ofstream out(text, std::ios::binary), rows(csv, std::ios::binary);
    out << "#,GLT," << (dz::data_folder() / "templates" / "xvglt.tpl").string() << "\r\n";
    char buf[160];
    for (long i = 0; i < count; ++i) {
        const std::string& account = accounts[static_cast<std::size_t>(i) % accounts.size()];
        const bool debit = i % 2 == 0;
        const long cents = 100 + (i / 2) % 9999900;
        std::snprintf(buf, sizeof buf, "%s,06/%02ld/2026,1,%s%ld.%02ld%s,%d", account.c_str(), 1 + i % 28,
                      debit ? "" : ",", cents / 100, cents % 100, debit ? "," : "", debit ? 1 : 2);
        out << "1," << buf << ",,,,,,,,,,,,,,,,,,,,,,,,,\r\n";
        rows << "1," << (i + 1) << "," << buf << "\n";
    }
}

void Convert(convert::xvConvert& converter, const fs::path& text, uint16_t code, bool converting,
             convert::OpenFilesList& list, const fs::path& company, convert::ConvertProgress& progress) {
    ui::zqTask task(converting ? "Convert" : "Examine Files", 15, converting ? 3020 : 3010, 5);
    const int print = ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File,
                                        (company / ("report" + std::to_string(code) + ".txt")).string());
    converter.ConvertFile(list, convert::TextFileEntry{text.string(), code}, &progress, print, task, "", nullptr);
    ui::zp_cls_print_file(task.ID(), 201);
    ui::xp_close_print(print);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: bench_glt convert|examine [transactions] [work folder]\n";
        return 64;
    }
    const bool converting = std::string(argv[1]) == "convert";
    const long count = argc > 2 ? std::atol(argv[2]) : 1000000;
    const fs::path work = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path() / "bench_glt";
    const fs::path company = work / (converting ? "convert" : "examine");
    fs::remove_all(company);
    fs::create_directories(company);

    // The chart, and the transactions on its accounts.
    std::ostringstream chartRows;
    {
        std::ofstream chart(work / "chart.txt", std::ios::binary);
        dz::bench::WriteGlmText(chart, dz::data_folder() / "templates" / "xvglm.tpl", kChartAccounts, &chartRows);
    }
    const fs::path text = work / "glt.txt";
    if (!fs::exists(text)) WriteTransactions(text, work / "transactions.csv", ChartAccounts(chartRows.str()), count);

    QuietUi quiet;
    ui::set_current(&quiet);
    auto settings = suite::default_settings({"GL"});
    settings.operator_name = "Bench";
    suite::write_settings(company / suite::kSettingsFileName, settings);
    suite::open_company(company);
    suite::xd_set_clock(suite::xd_fixed_clock({suite::zqDate(12, 6, 2026), {14, 30, 0}}));
    modules::LoadModuleDlls();
    if (xio_create_file("GLM", 1, company / "MASTER.GLM") != XIO_OK ||
        xio_create_file("GLT", 6, company / "CURRENT.GLT") != XIO_OK) {
        std::cerr << "cannot create the data files: " << xio_error_text() << "\n";
        return 2;
    }
    const fs::path chart = company / "chart.txt", copy = company / "glt.txt";
    fs::copy_file(work / "chart.txt", chart);
    fs::copy_file(text, copy);

    convert::OpenFilesList list;
    uint16_t error = 0;
    convert::ConvertProgress progress([] { return int64_t{0}; });
    {
        gl::xvGLM master;
        if (!master.OpenFiles(list, 3020, error)) {
            std::cerr << "cannot open GLM: " << error << "\n";
            return 2;
        }
        Convert(master, chart, 101, true, list, company, progress);
    }
    gl::xvGLT converter;
    if (!converter.OpenFiles(list, converting ? 3020 : 3010, error)) {
        std::cerr << "cannot open GLT: " << error << "\n";
        return 2;
    }
    convert::ConvertProgress timed([] { return int64_t{0}; });
    const auto start = std::chrono::steady_clock::now();
    Convert(converter, copy, 102, converting, list, company, timed);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (auto& e : list)
        if (e.handle) xio_cls_file(e.handle);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("seconds=%.3f\nrecords=%u\nrejected=%u\nmax_rss_kb=%ld\n", seconds, timed.file_records,
                timed.file_rejected, usage.ru_maxrss);
    return 0;
}
