// The GL transaction conversion of N generated transactions: a chart of about 1,000 accounts is
// converted first through the GL master converter (not timed), then the transactions on those
// accounts are examined or converted and posted as one batch. Also writes the transaction rows as
// CSV (with their run and sequence numbers), so that run_glt.sh can time `sqlite3 .import` of
// them into a table keyed by run and sequence.
//
// usage: bench_glt convert|examine [transactions] [work folder]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "converters/gl/xvglm.h"
#include "converters/gl/xvglt.h"
#include "glm_text.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"

namespace fs = std::filesystem;
using namespace dz;

namespace {

constexpr long kChartAccounts = 1000;

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

}  // namespace

int main(int argc, char** argv) {
    const auto args =
        bench::ParseArgs(argc, argv, "bench_glt", "convert|examine [transactions] [work folder]");
    const fs::path& work = args.work;
    const fs::path& company = args.company;

    // The chart, and the transactions on its accounts.
    std::ostringstream chartRows;
    {
        std::ofstream chart(work / "chart.txt", std::ios::binary);
        dz::bench::WriteGlmText(chart, dz::data_folder() / "templates" / "xvglm.tpl", kChartAccounts,
                                &chartRows);
    }
    const fs::path text = work / "glt.txt";
    if (!fs::exists(text))
        WriteTransactions(text, work / "transactions.csv", ChartAccounts(chartRows.str()), args.count);

    bench::OpenCompany(company, {"GL"});
    bench::CreateDataFile("GLM", 1, company / "MASTER.GLM");
    bench::CreateDataFile("GLT", 6, company / "CURRENT.GLT");
    const fs::path chart = company / "chart.txt", copy = company / "glt.txt";
    fs::copy_file(work / "chart.txt", chart);
    fs::copy_file(text, copy);

    // The chart is converted first, untimed, in the same open files as the transactions.
    convert::OpenFilesList list;
    convert::ConvertProgress progress([] { return int64_t{0}; });
    {
        gl::xvGLM master;
        bench::OpenFiles(master, list, true);
        bench::ConvertText(master, list, chart, 101, true, progress, company / "report101.txt");
    }
    gl::xvGLT converter;
    bench::OpenFiles(converter, list, args.converting);
    convert::ConvertProgress timed([] { return int64_t{0}; });
    const double seconds =
        bench::ConvertText(converter, list, copy, 102, args.converting, timed, company / "report102.txt");
    bench::CloseFiles(list);
    bench::PrintResults(seconds, timed);
    return 0;
}
