// The PR employee conversion of a generated text file: N employees (format 1 of the shipped
// template: id, name, social security number, pay group, work state, filing status), examined or
// converted into a company seeded with one pay group, one work state and its FWH statuses. Also
// writes the employee rows as CSV, so that run_prm.sh can time `sqlite3 .import` of them into a
// table keyed by the employee id.
//
// usage: bench_prm convert|examine|text [employees] [work folder]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include "convert/progress.h"
#include "convert/record_fields.h"
#include "converters/pr/xvprm.h"
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
#include <map>
#include <sstream>
#include <string>
#include <vector>

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

// The field columns of format 1 of the template, in order.
std::vector<std::string> EmployeeColumns(const fs::path& tpl) {
    std::ifstream in(tpl);
    std::vector<std::string> columns;
    std::string line, current;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string kw, name;
        words >> kw >> name;
        if (kw == "format") current = name;
        if (kw == "field" && current == "1") columns.push_back(name);
    }
    return columns;
}

void WriteEmployees(std::ostream& out, const fs::path& tpl, long count, std::ostream& rows) {
    const std::vector<std::string> columns = EmployeeColumns(tpl);
    out << "#,PRM," << tpl.string() << "\r\n";
    static const char* first[] = {"John", "Maria", "Wei", "Karin", "Ahmed", "Dana", "Luis", "Amy"};
    static const char* last[] = {"Smith", "Garcia", "Chen", "Olsen", "Khan", "Brooks", "Ortega", "Wu"};
    std::map<std::string, std::string> values{{"EPGID", "WEEKLY"}, {"EWORK2", "OR"}, {"ERES2", "OR"},
                                              {"EFSTAT", "S"}};
    char buf[64];
    for (long i = 0; i < count; ++i) {
        std::snprintf(buf, sizeof buf, "E%08ld", i);
        values["EMPID"] = buf;
        values["ENAME"] = std::string(first[i % 8]) + " " + last[(i / 8) % 8];
        values["ESSN"] = std::to_string(100000000 + i);
        out << '1';
        for (const auto& c : columns) {
            out << ',';
            const auto it = values.find(c);
            if (it != values.end()) out << it->second;
        }
        out << "\r\n";
        rows << values["EMPID"] << ',' << values["ENAME"] << ',' << values["ESSN"] << ",WEEKLY,OR,OR,S\n";
    }
}

void Seed(uint16_t h, uint16_t rec, std::initializer_list<std::pair<const char*, const char*>> keys) {
    xio_init_record(h, rec);
    for (const auto& [name, value] : keys) convert::PutText(h, rec, name, value);
    if (xio_wr_record(h, rec) != XIO_OK || xio_commit(h) != XIO_OK) {
        std::cerr << "cannot seed the payroll setup\n";
        std::exit(2);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: bench_prm convert|examine|text [employees] [work folder]\n";
        return 64;
    }
    const bool converting = std::string(argv[1]) == "convert";
    const long employees = argc > 2 ? std::atol(argv[2]) : 1000000;
    const fs::path work = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path() / "bench_prm";
    const fs::path company = work / (converting ? "convert" : "examine");
    fs::remove_all(company);
    fs::create_directories(company);
    const fs::path text = work / "prm.txt";
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary), rows(work / "employees.csv", std::ios::binary);
        WriteEmployees(out, dz::data_folder() / "templates" / "xvprm.tpl", employees, rows);
    }
    if (std::string(argv[1]) == "text") return 0;

    QuietUi quiet;
    ui::set_current(&quiet);
    auto settings = suite::default_settings({"GL", "PR"});
    settings.operator_name = "Bench";
    suite::write_settings(company / suite::kSettingsFileName, settings);
    suite::open_company(company);
    suite::xd_set_clock(suite::xd_fixed_clock({suite::zqDate(12, 6, 2026), {14, 30, 0}}));
    modules::LoadModuleDlls();
    for (const auto& [abbr, name] : {std::pair<const char*, const char*>{"PRM", "MASTER.PRM"},
                                     {"PRS", "SYSTEM.PRS"},
                                     {"PRX", "MASTER.PRX"}})
        if (xio_create_file(abbr, 1, company / name) != XIO_OK) {
            std::cerr << "cannot create " << name << ": " << xio_error_text() << "\n";
            return 2;
        }
    fs::copy_file(text, company / "prm.txt");

    convert::OpenFilesList list;
    uint16_t error = 0;
    pr::xvPRM converter;
    if (!converter.OpenFiles(list, converting ? 3020 : 3010, error)) {
        std::cerr << "cannot open the data files: " << error << "\n";
        return 2;
    }
    Seed(convert::FindFileHandle(list, "PRS", 1), 5, {{"GROUP", "WEEKLY"}});
    const uint16_t prx = convert::FindFileHandle(list, "PRX", 1);
    Seed(prx, 2, {{"TGST", "OR"}});
    for (const char* s : {"S", "M", "H"}) Seed(prx, 5, {{"TSID", "FWH"}, {"TSSTAT", s}});

    convert::ConvertProgress progress([] { return int64_t{0}; });
    ui::zqTask task(converting ? "Convert" : "Examine Files", 15, converting ? 3020 : 3010, 5);
    const int print =
        ui::xp_open_print(ui::PrintDef{"Report", 132, 1, 0}, ui::Destination::File, (company / "report.txt").string());
    const auto start = std::chrono::steady_clock::now();
    converter.ConvertFile(list, convert::TextFileEntry{(company / "prm.txt").string(), 501}, &progress, print, task,
                          "", nullptr);
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
