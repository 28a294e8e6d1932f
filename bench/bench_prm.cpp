// The PR employee conversion of a generated text file: N employees (format 1 of the shipped
// template: id, name, social security number, pay group, work state, filing status), examined or
// converted into a company seeded with one pay group, one work state and its FWH statuses. Also
// writes the employee rows as CSV, so that run_prm.sh can time `sqlite3 .import` of them into a
// table keyed by the employee id.
//
// With --children: N records 2 to 6 instead (N/5 employees already on file, each with a work
// state, a pay, a tax, a deduction and a fringe), against the setup those records name; the CSV
// rows are keyed by employee, record type and id.
//
// usage: bench_prm convert|examine|text [records] [work folder] [--children]
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

// The field columns of format `format` of the template, in order.
std::vector<std::string> FormatColumns(const fs::path& tpl, const std::string& format) {
    std::ifstream in(tpl);
    std::vector<std::string> columns;
    std::string line, current;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string kw, name;
        words >> kw >> name;
        if (kw == "format") current = name;
        if (kw == "field" && current == format) columns.push_back(name);
    }
    return columns;
}

// One line of format `format` with `values` in its columns.
void WriteLine(std::ostream& out, const std::string& format, const std::vector<std::string>& columns,
               const std::map<std::string, std::string>& values) {
    out << format;
    for (const auto& c : columns) {
        out << ',';
        const auto it = values.find(c);
        if (it != values.end()) out << it->second;
    }
    out << "\r\n";
}

void WriteEmployees(std::ostream& out, const fs::path& tpl, long count, std::ostream& rows) {
    const std::vector<std::string> columns = FormatColumns(tpl, "1");
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
        WriteLine(out, "1", columns, values);
        rows << values["EMPID"] << ',' << values["ENAME"] << ',' << values["ESSN"] << ",WEEKLY,OR,OR,S\n";
    }
}

// The records that follow each employee: record type, key field of the id, id and the line's
// other values.
struct Child {
    const char* format;
    const char* employeeField;
    const char* idField;
    const char* id;
    std::map<std::string, std::string> values;
};
const std::vector<Child>& Children() {
    static const std::vector<Child> children = {
        {"2", "EMPID2", "E2WORK2", "OR", {{"E2FSTAT", "S"}}},
        {"3", "EPEMPID", "EPPAYID", "REG", {{"EPAMT", "32.50"}}},
        {"4", "ETEMPID", "ETTXID", "FWH", {}},
        {"5", "EDEMPID", "EDDEDID", "401K", {{"EDAMT", "12.345"}, {"EDCALC", "1"}}},
        {"6", "EFEMPID", "EFFRGID", "HLTH", {{"EFAMT", "1.25"}}},
    };
    return children;
}

std::string EmployeeId(long i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "E%08ld", i);
    return buf;
}

void WriteChildren(std::ostream& out, const fs::path& tpl, long count, std::ostream& rows) {
    out << "#,PRM," << tpl.string() << "\r\n";
    std::vector<std::vector<std::string>> columns;
    for (const Child& c : Children()) columns.push_back(FormatColumns(tpl, c.format));
    const long kinds = static_cast<long>(Children().size());
    for (long n = 0; n < count; ++n) {
        const Child& c = Children()[static_cast<std::size_t>(n % kinds)];
        const std::string emp = EmployeeId(n / kinds);
        std::map<std::string, std::string> values = c.values;
        values[c.employeeField] = emp;
        values[c.idField] = c.id;
        WriteLine(out, c.format, columns[static_cast<std::size_t>(n % kinds)], values);
        rows << emp << ',' << c.format << ',' << c.id << ',' << (values.empty() ? "" : values.begin()->second) << '\n';
    }
}

void Seed(uint16_t h, uint16_t rec, std::initializer_list<std::pair<const char*, const char*>> keys,
          std::initializer_list<std::pair<const char*, double>> numbers = {}, bool commit = true) {
    xio_init_record(h, rec);
    for (const auto& [name, value] : keys) convert::PutText(h, rec, name, value);
    for (const auto& [name, value] : numbers) convert::PutNumber(h, rec, name, value);
    bench::Must(xio_wr_record(h, rec), "seed the payroll setup");
    if (commit) bench::Must(xio_commit(h), "seed the payroll setup");
}

}  // namespace

int main(int argc, char** argv) {
    const bool children = argc > 4 && std::string(argv[4]) == "--children";
    const auto args =
        bench::ParseArgs(argc, argv, "bench_prm", "convert|examine|text [records] [work folder] [--children]");
    const fs::path text = args.work / (children ? "prm-children.txt" : "prm.txt");
    const fs::path tpl = dz::data_folder() / "templates" / "xvprm.tpl";
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary);
        std::ofstream rows(args.work / (children ? "children.csv" : "employees.csv"), std::ios::binary);
        if (children)
            WriteChildren(out, tpl, args.count, rows);
        else
            WriteEmployees(out, tpl, args.count, rows);
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
    if (children) {
        const uint16_t prs = convert::FindFileHandle(list, "PRS", 1);
        const uint16_t prm = convert::FindFileHandle(list, "PRM", 1);
        Seed(prs, 1, {{"PPAYID", "REG"}}, {{"PTYPE", 1}, {"PCALC", 1}});
        Seed(prs, 3, {{"MDDEDID", "401K"}}, {{"MDTYPE", 1}, {"MDCALC", 3}});
        Seed(prs, 4, {{"FFRGID", "HLTH"}}, {{"FCALC", 4}});
        Seed(prx, 4, {{"TXID", "FWH"}}, {{"TXLEV", 2}, {"TXTBL", 2}});
        for (const char* s : {"S", "M"}) Seed(prx, 5, {{"TSID", "ORSWH"}, {"TSSTAT", s}});
        const long employees = (args.count + 4) / 5;
        for (long i = 0; i < employees; ++i) Seed(prm, 1, {{"EMPID", EmployeeId(i).c_str()}}, {}, false);
        bench::Must(xio_commit(prm), "seed the employees");
    }

    convert::ConvertProgress progress([] { return int64_t{0}; });
    const double seconds = bench::ConvertText(converter, list, args.company / "prm.txt", 501, args.converting,
                                              progress, args.company / "report.txt");
    bench::CloseFiles(list);
    bench::PrintResults(seconds, progress);
    return 0;
}
