// The PR employee conversion of a generated text file: N employees (format 1 of the shipped
// template: id, name, social security number, pay group, work state, filing status), examined or
// converted into a company seeded with one pay group, one work state and its FWH statuses. Also
// writes the employee rows as CSV, so that run_prm.sh can time `sqlite3 .import` of them into a
// table keyed by the employee id.
//
// usage: bench_prm convert|examine|text [employees] [work folder]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "convert/record_fields.h"
#include "converters/pr/xvprm.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"

namespace fs = std::filesystem;
using namespace dz;

namespace {

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
    std::map<std::string, std::string> values{
        {"EPGID", "WEEKLY"}, {"EWORK2", "OR"}, {"ERES2", "OR"}, {"EFSTAT", "S"}};
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
    const auto args =
        bench::ParseArgs(argc, argv, "bench_prm", "convert|examine|text [employees] [work folder]");
    const fs::path text = args.work / "prm.txt";
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary), rows(args.work / "employees.csv", std::ios::binary);
        WriteEmployees(out, dz::data_folder() / "templates" / "xvprm.tpl", args.count, rows);
    }
    if (args.mode == "text") return 0;

    bench::OpenCompany(args.company, {"GL", "PR"});
    bench::CreateDataFile("PRM", 1, args.company / "MASTER.PRM");
    bench::CreateDataFile("PRS", 1, args.company / "SYSTEM.PRS");
    bench::CreateDataFile("PRX", 1, args.company / "MASTER.PRX");
    fs::copy_file(text, args.company / "prm.txt");

    convert::OpenFilesList list;
    pr::xvPRM converter;
    bench::OpenFiles(converter, list, args.converting);
    Seed(convert::FindFileHandle(list, "PRS", 1), 5, {{"GROUP", "WEEKLY"}});
    const uint16_t prx = convert::FindFileHandle(list, "PRX", 1);
    Seed(prx, 2, {{"TGST", "OR"}});
    for (const char* s : {"S", "M", "H"}) Seed(prx, 5, {{"TSID", "FWH"}, {"TSSTAT", s}});

    convert::ConvertProgress progress([] { return int64_t{0}; });
    const double seconds = bench::ConvertText(converter, list, args.company / "prm.txt", 501, args.converting,
                                              progress, args.company / "report.txt");
    bench::CloseFiles(list);
    bench::PrintResults(seconds, progress);
    return 0;
}
