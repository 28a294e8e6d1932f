// Speed of the table editor's document on one large table: opening it (the entries loaded into
// rows and sorted) and Save As into a new group (every entry written in one transaction). Also
// writes the same entries as CSV, so that run_tables.sh can time `sqlite3 .import` of them into
// a table keyed like the entry record (group, field, old value).
//
// usage: bench_tables [entries] [work folder]
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"
#include "platform/suite/company.h"
#include "tables/master_file.h"
#include "tables/substitution_rows.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace {

constexpr uint16_t kCommand = 4010;
constexpr uint16_t kField = 30;  // a payroll field: no key format to check

// Old value i: plain numbers and codes, in no particular order.
std::string OldValue(uint32_t i) {
    const unsigned p = static_cast<unsigned>((i * 2654435761u) % 1000000007u);
    return (i % 3 == 0) ? "D" + std::to_string(p) : std::to_string(p + 1);
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace dz;
    using namespace dz::tables;
    const uint32_t count = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 100000u;
    const std::filesystem::path dir =
        argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path() / "dz-bench-tables";
    std::filesystem::create_directories(dir);
    std::string err;
    if (!xio_load_dictionaries(data_folder() / "dictionary", err)) std::cerr << err << "\n";
    suite::set_company(suite::Company(dir, suite::default_settings({"GL", "PR"})));

    // The table, written once (not timed), and the same entries as CSV.
    {
        std::ofstream csv(dir / "entries.csv");
        xio_ask_request req;
        req.command = kCommand;
        req.abbr = kXvmAbbr;
        req.create = true;
        uint16_t h = 0;
        if (xio_ask_file(req, h) != XIO_OK) {
            std::cerr << xio_error_text() << "\n";
            return 2;
        }
        SubstitutionMasterFile mf(kCommand, h, "BENCH", kApplPR, kField);
        if (mf.WriteDefinition(0, 65535, 0, 0) != XIO_OK) return 2;
        if (xio_start_writes(h) != XIO_OK) return 2;
        for (uint32_t i = 0; i < count; ++i) {
            const std::string oldValue = OldValue(i), newValue = "N" + std::to_string(i % 100000);
            if (mf.WriteEntry(oldValue, newValue) != XIO_OK) {
                std::cerr << "setup write failed at " << i << "\n";
                return 2;
            }
            csv << "BENCH," << kField << ',' << oldValue << ',' << newValue << '\n';
        }
        if (xio_end_writes(h) != XIO_OK) {
            std::cerr << "cannot commit the table: " << xio_error_text() << "\n";
            return 2;
        }
        mf.ReleaseDefinition(true);
        xio_cls_file(h);
    }

    // The command line's look at the groups (`tables list`): every entry counted, read-only.
    auto start = std::chrono::steady_clock::now();
    {
        xio_read_only_scope look;
        SubstitutionMasterFile mf(kCommand);
        std::vector<GroupSummary> groups;
        if (mf.ListGroups(groups) != XIO_OK || groups.size() != 1 || groups[0].tables.size() != 1 ||
            groups[0].tables[0].entries != static_cast<int>(count)) {
            std::cerr << "tables list did not count " << count << " entries\n";
            return 2;
        }
        mf.Close();
    }
    const double listed = Seconds(start);

    // Open: the editor's object on the table, its entries loaded and sorted.
    start = std::chrono::steady_clock::now();
    SubstitutionMasterFile mf(kCommand);
    if (!mf.OpenForEdit("BENCH", kApplPR + 1, kField, false, 0, 65535, 0, 0, true, false)) return 2;
    SubstitutionTable doc("BENCH", kField, kApplPR);
    doc.oldSize = 40;
    doc.masterHandle = mf.handle();
    const double opened = Seconds(start);
    if (mf.LoadRows("BENCH", kField, doc) != XIO_OK) return 2;
    const double loaded = Seconds(start);
    SortTableRows(doc);
    StartNewRow(doc);
    const double open = Seconds(start);
    if (doc.RowCount() != static_cast<int>(count)) {
        std::cerr << "loaded " << doc.RowCount() << " rows, expected " << count << "\n";
        return 2;
    }

    // Save As into a new group.
    start = std::chrono::steady_clock::now();
    SubstitutionMasterFile saver(kCommand, mf.handle(), "BENCH", kApplPR, kField);
    if (!saver.SaveAs("COPY", doc)) return 2;
    const double saveAs = Seconds(start);
    mf.Close();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::cout << "list_seconds=" << listed << "\n"
              << "open_seconds=" << open << "\n"
              << "open_parts=" << opened << " " << loaded - opened << " " << open - loaded << "\n"
              << "saveas_seconds=" << saveAs << "\n"
              << "peak_mb=" << usage.ru_maxrss / 1024.0 << "\n";
    return 0;
}
