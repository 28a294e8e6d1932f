// The PM property conversion of a generated text file into an empty company (its GL prefixes
// 01-1-10, 01-1-20 and 01-2-10, the GL calendar and a bank of each prefix with its PM cash
// account on file), examined or converted (the passes after the records included), in one of two
// modes:
//   units       1,000 properties, then N units spread evenly over them, all accepted (unit counts
//               filled in, unit history compared after the records);
//   properties  N properties under the three prefixes, each on its prefix's bank, all accepted
//               (a default charge record written for each after the records).
// Also writes the unit or property rows as CSV, so that run_pmp.sh can time `sqlite3 .import` of
// them into a table keyed like the data file.
//
// usage: bench_pmp convert|examine|text [count] [work folder] [units|properties]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_support.h"
#include "converters/pm/xvpmp.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"

namespace fs = std::filesystem;
using namespace dz;

namespace {

constexpr long kProperties = 1000;
constexpr const char* kPrefixes[] = {"01-1-10", "01-1-20", "01-2-10"};
constexpr const char* kBanks[] = {"B110", "B120", "B210"};

// The properties of the units mode are P0000 to P0999; those of the properties mode 000000 up.
std::string Property(long i, bool many = false) {
    char id[24];
    std::snprintf(id, sizeof id, many ? "%06ld" : "P%04ld", i);
    return id;
}

// A property's columns after its format id (the template's 36): name, type, prefix and bank,
// period and fiscal year end, payment day; the others empty.
std::string PropertyRow(long i, bool many) {
    const std::string id = Property(i, many);
    return id + ",Property " + id + ",,Office," + kPrefixes[i % 3] + "," + kBanks[i % 3] +
           ",12/31/2026,12/31/2026,,,,1,Rentable" + std::string(23, ',');
}

// A unit's fields in the template's column order: property, unit, class, occupied, leased, and
// the current lease, revision and tenant left empty; neither occupied nor leased, as their (empty)
// history says.
std::string UnitRow(long i) {
    char unit[24];
    std::snprintf(unit, sizeof unit, "U%05ld", i / kProperties);
    return Property(i % kProperties) + "," + unit + ",Standard,N,N,,,";
}

void Put(uint16_t h, uint16_t rec, const char* field, const std::string& text) {
    convert::PutText(h, rec, field, text);
}

// The GL prefixes and calendar (twelve month ends a year, 2024 to 2027) and the banks.
void SetUpGlAndBanks(const convert::OpenFilesList& list) {
    const uint16_t glm = convert::FindFileHandle(list, "GLM", 1),
                   cmm = convert::FindFileHandle(list, "CMM", 1);
    const std::pair<uint16_t, const char*> levels[] = {{3, "PAPRFX"}, {4, "PBPRFX"}, {5, "PCPRFX"}};
    for (const char* prefix : {"01", "011", "012", "01110", "01120", "01210"}) {
        const auto& [rec, field] = levels[std::string(prefix).size() == 2   ? 0
                                          : std::string(prefix).size() == 3 ? 1
                                                                            : 2];
        xio_init_record(glm, rec);
        Put(glm, rec, field, prefix);
        bench::Must(xio_wr_record(glm, rec), "write a GL prefix");
    }
    bench::Must(xio_rd_header(glm, 1, 1), "read the GL settings");
    static const uint16_t lastDay[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const uint16_t first = xio_num(glm, XIO_NUM_HEADER, 1, "P2Y1");
    for (int y = 0; y < 4; ++y)
        for (int p = 0; p < 12; ++p) {
            x_value_def v;
            const auto year = static_cast<uint16_t>(2024 + y);
            v.date = suite::zqDate(static_cast<uint16_t>(p + 1),
                                   static_cast<uint16_t>(lastDay[p] + (p == 1 && year % 4 == 0)), year);
            xio_put_field(glm, 0, static_cast<uint16_t>(first + y * 13 + p), v);
        }
    x_value_def end;
    end.date = suite::zqDate(12, 31, 2026);
    xio_put_field(glm, 0, xio_num(glm, XIO_NUM_HEADER, 1, "PDATE"), end);
    xio_put_field(glm, 0, xio_num(glm, XIO_NUM_HEADER, 1, "FDATE"), end);
    bench::Must(xio_wr_header(glm, 1), "write the GL calendar");
    for (int b = 0; b < 3; ++b) {
        xio_init_record(cmm, 1);
        Put(cmm, 1, "BANKACC", kBanks[b]);
        std::string account = kPrefixes[b];
        account.erase(std::remove(account.begin(), account.end(), '-'), account.end());
        Put(cmm, 1, "BGENCSH", account + "100000");
        convert::PutFlag(cmm, 1, "BPMVALD", 1);
        bench::Must(xio_wr_record(cmm, 1), "write a bank");
    }
    bench::Must(xio_commit(glm), "commit the GL master file");
    bench::Must(xio_commit(cmm), "commit the CM master file");
}

}  // namespace

int main(int argc, char** argv) {
    const auto args = bench::ParseArgs(argc, argv, "bench_pmp",
                                       "convert|examine|text [count] [work folder] [units|properties]");
    const bool properties = argc > 4 && std::string(argv[4]) == "properties";
    const long count = args.count;
    const fs::path text = args.work / (properties ? "pmp-properties.txt" : "pmp.txt");
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary),
            rows(args.work / (properties ? "properties.csv" : "units.csv"), std::ios::binary);
        out << "#,PMP," << (dz::data_folder() / "templates" / "xvpmp.tpl").string() << "\r\n";
        if (properties) {
            for (long i = 0; i < count; ++i) {
                const std::string row = PropertyRow(i, true);
                out << "1," << row << "\r\n";
                rows << row << "\n";
            }
        } else {
            for (long p = 0; p < kProperties; ++p) out << "1," << PropertyRow(p, false) << "\r\n";
            for (long i = 0; i < count; ++i) {
                const std::string row = UnitRow(i);
                out << "17," << row << ",\r\n";  // the notes column last
                rows << row << "\n";
            }
        }
    }
    if (args.mode == "text") return 0;

    bench::OpenCompany(args.company, {"GL", "CM", "PM"});
    for (const char* abbr : {"GLM", "CMM", "PMS", "PMP"})
        bench::CreateDataFile(abbr, 1, args.company / xio_file_name(abbr, 1));
    const fs::path copy = args.company / text.filename();
    fs::copy_file(text, copy);

    convert::OpenFilesList list;
    pm::xvPMP converter;
    bench::OpenFiles(converter, list, args.converting);
    SetUpGlAndBanks(list);
    const long setupRss = bench::MaxRssKb();
    convert::ConvertProgress progress([] { return int64_t{0}; });
    const double seconds = bench::ConvertText(converter, list, copy, 601, args.converting, progress,
                                              args.company / "report.txt");
    bench::CloseFiles(list);
    bench::PrintResults(seconds, progress, setupRss);
    return 0;
}
