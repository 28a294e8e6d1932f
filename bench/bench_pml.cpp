// The PM lease conversion of a generated text file, examined or converted into a company that
// holds only what the text file refers to, written before the timing starts.
//
// Leases (the default): N leases (statuses 1 to 3 in turn, revision 0) over 10,000 units of one
// property and 10,000 tenants, and for every tenth lease a recurring charge from tables with one
// log entry, all accepted; converting, each lease is linked to its unit and a unit's current lease
// kept, and the finishing pass gives every lease its default charge control and tenant-lease
// record and checks every recurring charge against its log.
//
// Lease child records (`--children`): N records, charge controls, deposits, late charges,
// checklist items and insurance in equal parts, one of each per lease revision, for N/10 leases of
// two revisions each on file (charge types, deposit types and the property's GL prefix on file;
// checklist items and insurance numbered by the conversion). All are accepted.
//
// Also writes the rows as CSV, one file per record type, so that run_pml.sh can time
// `sqlite3 .import` of them into tables keyed as the records.
//
// usage: bench_pml convert|examine|text [count] [work folder] [--children]
// prints seconds=..., records=..., rejected=..., max_rss_kb=..., setup_rss_kb=... (the peak before
// the timed run, what the text file refers to written)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"
#include "convert/record_fields.h"
#include "converters/pm/xvpml.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"

namespace fs = std::filesystem;
using namespace dz;

namespace {

constexpr long kUnits = 10000;

std::string Id(const char* format, long i) {
    char id[32];
    std::snprintf(id, sizeof id, format, i);
    return id;
}

// The fields of one lease in the template's column order: lease, revision, property, unit,
// tenant, status, then the 19 columns after it empty but the start of its current term.
std::string Row(long i) {
    const long k = i % kUnits + 1;
    return Id("L%08ld", i) + ",0,CENTER," + Id("U%05ld", k) + "," + Id("T%05ld", k) + "," +
           std::to_string(i % 3 + 1) + ",,,,,,,,1/1/2026,,,,,,,,,,,";
}

// The five child records of lease revision `r` of lease `i`: format id and row, in the template's
// column order (every column after those given empty).
struct ChildRow {
    const char* format;
    const char* table;
    std::string row;
};
std::string Pad(std::string row, int columns) {
    int have = 1;
    for (char c : row) have += c == ',';
    return row + std::string(static_cast<std::size_t>(columns - have), ',');
}
std::vector<ChildRow> ChildRows(long i, int r) {
    const std::string key = Id("L%08ld", i) + "," + std::to_string(r) + ",";
    const std::string unit = Id("U%05ld", i % kUnits + 1);
    return {{"10", "controls", Pad(key + "RENT,1", 7)},
            {"3", "deposits", Pad(key + "Security," + unit + ",1", 16)},
            {"11", "latecharges", Pad(key + "Late fee,1,1,2,0,1,,1,25.00", 51)},
            {"7", "checklist", Pad(key + "1,0,Keys handed over", 5)},
            {"8", "insurance", Pad(key + "0,Liability", 4)}};
}
constexpr const char* kChildTables[] = {"controls", "deposits", "latecharges", "checklist", "insurance"};

}  // namespace

int main(int argc, char** argv) {
    const auto args = bench::ParseArgs(argc, argv, "bench_pml",
                                       "convert|examine|text [count] [work folder] [--children]");
    const bool children = argc > 4 && std::string(argv[4]) == "--children";
    const long leases = children ? args.count / 10 : args.count;
    const fs::path text = args.work / "pml.txt";
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary);
        out << "#,PML," << (dz::data_folder() / "templates" / "xvpml.tpl").string() << "\r\n";
        if (children) {
            std::map<std::string, std::ofstream> rows;
            for (const char* table : kChildTables)
                rows[table].open(args.work / (std::string(table) + ".csv"), std::ios::binary);
            for (long i = 1; i <= leases; ++i)
                for (int r = 0; r < 2; ++r)
                    for (const auto& child : ChildRows(i, r)) {
                        out << child.format << "," << child.row << "\r\n";
                        rows[child.table] << child.row << "\n";
                    }
        } else {
            std::ofstream rows(args.work / "leases.csv", std::ios::binary);
            for (long i = 1; i <= leases; ++i) {
                const std::string row = Row(i);
                out << "1," << row << ",\r\n";  // the notes column last
                rows << row << "\n";
                // Every tenth lease a monthly rent from tables, with its table's first entry.
                if (i % 10 == 0) {
                    const std::string key = Id("L%08ld", i) + ",0,RENT," + Id("U%05ld", i % kUnits + 1);
                    out << "13," << key << ",,Gross,3,,1,,,2/1/2026,,,\r\n";
                    out << "15," << key << ",1/1/2026,3,1500.00\r\n";
                }
            }
        }
    }
    if (args.mode == "text") return 0;

    bench::OpenCompany(args.company, {"GL", "PM"});
    for (const char* abbr : {"GLM", "PMS", "PMN", "PML", "PMP"})
        bench::CreateDataFile(abbr, 1, args.company / xio_file_name(abbr, 1));
    const fs::path copy = args.company / "pml.txt";
    fs::copy_file(text, copy);

    convert::OpenFilesList list;
    pm::xvPML converter;
    bench::OpenFiles(converter, list, args.converting);
    // The property, its units and the tenants, committed before the timing.
    const uint16_t pmp = convert::FindFileHandle(list, "PMP", 1), pmn = convert::FindFileHandle(list, "PMN", 1);
    xio_init_record(pmp, 1);
    convert::PutText(pmp, 1, "PROP", "CENTER");
    convert::PutText(pmp, 1, "PNAME", "Harbor Center");
    bench::Must(xio_wr_record(pmp, 1), "write the property");
    for (long k = 1; k <= kUnits; ++k) {
        xio_init_record(pmp, 17);
        convert::PutText(pmp, 17, "UPROP", "CENTER");
        convert::PutText(pmp, 17, "UNIT", Id("U%05ld", k));
        bench::Must(xio_wr_record(pmp, 17), "write a unit");
        xio_init_record(pmn, 1);
        convert::PutText(pmn, 1, "TENANT", Id("T%05ld", k));
        convert::PutText(pmn, 1, "TNAME", Id("Tenant %05ld", k));
        bench::Must(xio_wr_record(pmn, 1), "write a tenant");
    }
    // The charge type of the recurring charges and the charge controls.
    const uint16_t pms = convert::FindFileHandle(list, "PMS", 1);
    xio_init_record(pms, 1);
    convert::PutText(pms, 1, "CT", "RENT");
    bench::Must(xio_wr_record(pms, 1), "write the charge type");
    if (xio_commit(pms) != XIO_OK) {
        std::cerr << "cannot write the charge type\n";
        return 2;
    }
    if (children) {
        // What the child records refer to: the leases, two charge types, the property's GL prefix
        // and its deposit type.
        const uint16_t pml = convert::FindFileHandle(list, "PML", 1);
        bench::Must(xio_rd_record(pmp, 1, 0, 1), "read the property");
        convert::PutText(pmp, 1, "PGLPFX", "01110");
        bench::Must(xio_rep_record(pmp, 1), "give the property its prefix");
        xio_init_record(pmp, 7);
        convert::PutText(pmp, 7, "PDPROP", "CENTER");
        convert::PutText(pmp, 7, "PDDTYPE", "Security");
        bench::Must(xio_wr_record(pmp, 7), "write the deposit type");
        for (long i = 1; i <= leases; ++i)
            for (int r = 0; r < 2; ++r) {
                const long k = i % kUnits + 1;
                xio_init_record(pml, 1);
                convert::PutText(pml, 1, "LEASE", Id("L%08ld", i));
                convert::PutNumber(pml, 1, "LREV", r);
                convert::PutText(pml, 1, "LPROP", "CENTER");
                convert::PutText(pml, 1, "LUNIT", Id("U%05ld", k));
                convert::PutText(pml, 1, "LTENANT", Id("T%05ld", k));
                convert::PutNumber(pml, 1, "LSTATUS", 3);
                bench::Must(xio_wr_record(pml, 1), "write a lease");
            }
        if (xio_commit(pml) != XIO_OK || xio_commit(pms) != XIO_OK) {
            std::cerr << "cannot write the leases\n";
            return 2;
        }
    }
    if (xio_commit(pmp) != XIO_OK || xio_commit(pmn) != XIO_OK) {
        std::cerr << "cannot write the units and tenants\n";
        return 2;
    }

    const long setupRss = bench::MaxRssKb();
    convert::ConvertProgress progress([] { return int64_t{0}; });
    const double seconds = bench::ConvertText(converter, list, copy, 602, args.converting, progress,
                                              args.company / "report.txt");
    bench::CloseFiles(list);
    bench::PrintResults(seconds, progress, setupRss);
    return 0;
}
