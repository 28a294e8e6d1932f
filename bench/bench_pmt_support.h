// What the PM transaction benchmarks share: a few hundred leases seeded straight into the PM
// files (not timed), the generated text files (sales volumes, or charge flows and misc incomes
// with their payments) with their rows as CSV for `sqlite3 .import`, and one timed run through
// the new or the history transaction converter.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "bench_support.h"
#include "convert/record_fields.h"
#include "converters/pm/xvpmt.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"

namespace dz::bench::pmt {

namespace fs = std::filesystem;

inline constexpr long kLeases = 300;

inline std::string Id(const char* prefix, long n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%04ld", prefix, n);
    return buf;
}

// One record written: texts as given, the rest as numbers.
inline void Put(uint16_t h, uint16_t rec, const std::vector<std::pair<const char*, std::string>>& values) {
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

inline void Seed(const fs::path& company) {
    auto open = [&](const char* abbr) {
        uint16_t h = 0;
        if (xio_open_file(company / xio_file_name(abbr, 1), XIO_OPEN_READ_WRITE, h) != XIO_OK) {
            std::cerr << "cannot open MASTER." << abbr << ": " << xio_error_text() << "\n";
            std::exit(2);
        }
        bench::Must(xio_start_writes(h), "start writes");  // one transaction a file
        return h;
    };
    const uint16_t pmp = open("PMP"), pmn = open("PMN"), pml = open("PML"), pmr = open("PMR");
    const uint16_t glm = open("GLM"), cmm = open("CMM");
    for (const char* account : {"09910100000", "09920100000", "09930100000"})
        Put(glm, 1, {{"AACCT", account}, {"ATITLE", "Account"}});
    Put(cmm, 1, {{"BANKACC", "OPER"}});
    for (long i = 0; i < kLeases; ++i) {
        const std::string prop = Id("P", i / 10), unit = Id("U", i), tenant = Id("T", i), lease = Id("L", i);
        if (i % 10 == 0) {
            Put(pmp, 1, {{"PROP", prop}, {"PNAME", "Property " + prop}, {"POPBANK", "OPER"}});
            Put(pmp, 21, {{"MIPROP", prop}, {"MISRC", "PARK"}});
        }
        Put(pmp, 17, {{"UPROP", prop}, {"UNIT", unit}});
        Put(pmp, 20, {{"LUPROP", prop}, {"LUUNIT", unit}, {"LULEASE", lease}, {"LUREV", "1"}});
        Put(pmn, 1, {{"TENANT", tenant}, {"TNAME", "Tenant " + tenant}});
        Put(pmn, 5, {{"TENID", tenant}, {"TLEASE", lease}, {"TLREV", "1"}});
        Put(pml, 1,
            {{"LEASE", lease},
             {"LREV", "1"},
             {"LPROP", prop},
             {"LUNIT", unit},
             {"LTENANT", tenant},
             {"LSTATUS", "3"}});
        Put(pmr, 2, {{"SCLEASE", lease}, {"SCREV", "1"}, {"SCSLCAT", "Sales"}});
        Put(pml, 10, {{"LCLEASE", lease}, {"LCREV", "1"}, {"LCCT", "RENT"}});
    }
    for (uint16_t h : {pmp, pmn, pml, pmr, glm, cmm}) {
        bench::Must(xio_end_writes(h), "commit the set-up");
        xio_cls_file(h);
    }
}

// Monthly sales volumes: lease by lease, month by month.
inline void WriteSales(std::ostream& out, const fs::path& tpl, long count, std::ostream& rows) {
    out << "#,PMT," << tpl.string() << "\r\n";
    char buf[256];
    for (long i = 0; i < count; ++i) {
        const long l = i % kLeases;
        const long month = 1 + (i / kLeases) % 12, year = 2000 + (i / kLeases / 12) % 26;
        std::snprintf(buf, sizeof buf,
                      "%s,%s,%s,%s,1,%ld/28/%ld,%ld/28/%ld,%ld/15/%ld,%ld.%02ld,1,Gross,Sales,",
                      Id("P", l / 10).c_str(), Id("U", l).c_str(), Id("T", l).c_str(), Id("L", l).c_str(),
                      month, year, month, year, month, year, 1000 + i % 90000, i % 100);
        out << "SV," << buf << "\r\n";
        rows << "1," << (i + 1) << "," << buf << "\n";
    }
}

// Charge flows and misc incomes, six lines a round: a charge, a payment charge flow with its
// payment, a misc income with its payment, and a later misc income of that payment ID.
inline void WriteFlows(std::ostream& out, const fs::path& tpl, long count, std::ostream& rows) {
    out << "#,PMT," << tpl.string() << "\r\n";
    const std::string accounts = ",09920100000,09930100000,09910100000,09920100000";
    const std::string miAccounts = ",09920100000,09930100000,09910100000,09930100000";
    for (long i = 0; i < count; ++i) {
        const long round = i / 6, l = round % kLeases, id = 2 * round + 1;
        const long month = 1 + round % 12, year = 2000 + (round / 12) % 26;
        const std::string date = std::to_string(month) + "/15/" + std::to_string(year);
        const std::string lease = Id("P", l / 10) + "," + Id("U", l) + "," + Id("T", l) + "," + Id("L", l) + ",1,";
        std::string line;
        // A last round cut short is made of charges, so that no payment ID is left without its payment.
        switch (count - round * 6 < 6 ? 0 : i % 6) {
            case 0:
                line = "CF,1," + lease + date + ",,,," + date + ",RENT,,,,0,1,,,100.00,,,09920100000,09930100000,," +
                       std::string(13, ',');
                break;
            case 1:
                line = "CF,2," + lease + date + ",,,," + date + ",,,,," + std::to_string(id) + ",1,,,,100.00," +
                       accounts + std::string(13, ',');
                break;
            case 2:
                line = "P," + std::to_string(id) + ",," + Id("T", l) + ",1001,0," + date + ",1,OPER,,1,,,,,,,,,,100.00";
                break;
            case 3:
            case 5:
                line = "MI," + Id("P", l / 10) + ",PARK," + date + "," + std::to_string(id + 1) + ",25.00," +
                       miAccounts + std::string(10, ',');
                break;
            case 4:
                line = "P," + std::to_string(id + 1) + ",,,1002,0," + date + ",1,OPER,,2," + Id("P", l / 10) +
                       ",PARK,,,,,,,,50.00";
                break;
        }
        out << line << "\r\n";
        // One width for the import: the charge flow's 40 columns and the row number.
        long commas = 0;
        for (char c : line) commas += c == ',';
        rows << (i + 1) << "," << line << std::string(static_cast<std::size_t>(39 - commas), ',') << "\n";
    }
}

// The benchmark's whole run: `name convert|examine|text [transactions] [work folder]` through
// `converter` (conversion type `type`), its transaction file number `fileNo` created empty.
inline int Main(int argc, char** argv, const char* name, pm::xvPMT& converter, uint16_t type, uint16_t fileNo,
                const char* templateName) {
    const auto args = ParseArgs(argc, argv, name, "convert|examine|text [transactions] [work folder]");
    const fs::path text = args.work / "pmt.txt";
    if (!fs::exists(text)) {
        const char* kind = std::getenv("DZ_BENCH_PMT_KIND");
        const bool flows = kind && std::string(kind) == "flows";
        std::ofstream out(text, std::ios::binary),
            rows(args.work / (flows ? "flows.csv" : "sales.csv"), std::ios::binary);
        const fs::path tpl = dz::data_folder() / "templates" / templateName;
        if (flows)
            WriteFlows(out, tpl, args.count, rows);
        else
            WriteSales(out, tpl, args.count, rows);
    }
    if (args.mode == "text") return 0;

    OpenCompany(args.company, {"GL", "CM", "PM"});
    for (const char* abbr : {"GLM", "CMM", "PMS", "PMP", "PMN", "PML", "PMR"})
        CreateDataFile(abbr, 1, args.company / xio_file_name(abbr, 1));
    CreateDataFile("PMT", fileNo, args.company / xio_file_name("PMT", fileNo));
    Seed(args.company);
    fs::copy_file(text, args.company / "pmt.txt");

    convert::ConvertProgress progress([] { return int64_t{0}; });
    const double seconds =
        Run(converter, args.company / "pmt.txt", type, args.converting, progress, args.company / "report.txt");
    PrintResults(seconds, progress);
    return 0;
}

}  // namespace dz::bench::pmt
