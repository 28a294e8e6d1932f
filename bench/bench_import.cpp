// Imports N lines of eight columns (a text key, a name, amounts with decimals, a count, a
// rate, a date and a choice) through the import library into record buffers, without writing.
// usage: bench_import [lines] [work folder]
// Writes <work>/rows.txt (the text file) and <work>/rows.csv (the same rows without the "#"
// line, for sqlite3 .import) and prints import_seconds=... and records=...
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/import/xvl_template.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace fs = std::filesystem;
using namespace dz;

namespace {

constexpr const char* kDictionary = R"(abbreviation = "BEN"
name = "Import benchmark"
version = 1
files = [{ number = 1, name = "MASTER.BEN" }]

[[record]]
number = 1
name = "Row"
key = ["BKEY"]
fields = [
  { name = "BKEY", type = 0, length = 12 },
  { name = "BNAME", type = 0, length = 30 },
  { name = "BAMT", type = 1, length = 11, decimals = 2, signed = true },
  { name = "BCOST", type = 1, length = 11, decimals = 2, signed = true },
  { name = "BQTY", type = 1, length = 7 },
  { name = "BRATE", type = 1, length = 9, decimals = 4 },
  { name = "BDATE", type = 3 },
  { name = "BKIND", type = 7, items = ["Retail", "Wholesale", "Other"] },
]
)";

constexpr const char* kTemplate = R"(format R
  file BEN 1
  record 1
  field BKEY
  field BNAME
  field BAMT
  field BCOST
  field BQTY
  field BRATE
  field BDATE
  field BKIND
)";

void generate(const fs::path& txt, const fs::path& csv, long lines) {
    std::ofstream t(txt, std::ios::binary), c(csv, std::ios::binary);
    t << "#,BEN,xvbench\r\n";
    static const char* kinds[] = {"Retail", "Wholesale", "Other"};
    char buf[256];
    for (long i = 1; i <= lines; ++i) {
        const int n = std::snprintf(buf, sizeof buf, "R,K%09ld,\"Customer %ld, Inc\",%ld.%02ld,-%ld.%02ld,%ld,%ld.%04ld,%ld/%ld/20%02ld,%s\r\n",
                                    i, i, (i * 37) % 1000000, i % 100, (i * 13) % 10000, (i * 7) % 100, i % 100000,
                                    i % 10, (i * 7919) % 10000, i % 12 + 1, i % 28 + 1, i % 30, kinds[i % 3]);
        t.write(buf, n);
        c.write(buf, n);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
    const fs::path work = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "dz_bench_import";
    fs::create_directories(work / "dictionary");
    std::ofstream(work / "dictionary" / "ben.toml") << kDictionary;
    std::string error;
    if (!xio_load_dictionaries(work / "dictionary", error)) {
        std::cerr << "bench_import: dictionary: " << error << "\n";
        return 2;
    }
    xio_set_file_control([work](const std::string&) { return work; });
    fs::remove(work / "MASTER.BEN");
    xio_ask_request req;
    req.abbr = "BEN";
    req.fileNo = 1;
    req.create = true;
    uint16_t h = 0;
    if (xio_ask_file(req, h) != XIO_OK) {
        std::cerr << "bench_import: cannot create the data file: " << xio_error_text() << "\n";
        return 2;
    }
    xvl::xvlImpTemplate tpl;
    if (tpl.CreateFromText(kTemplate, "xvbench.tpl", {{"BEN", 1, h}}) != 0) {
        std::cerr << "bench_import: " << tpl.ErrorText() << "\n";
        return 2;
    }
    const fs::path txt = work / "rows.txt", csv = work / "rows.csv";
    generate(txt, csv, lines);

    const auto start = std::chrono::steady_clock::now();
    xvl::xvlImport imp(tpl);
    imp.xvlSetAcceptLongText(true);
    imp.xvlSetClearExtendedFields(true);
    if (!imp.xvlImpFileNames(txt.string(), "")) {
        std::cerr << "bench_import: cannot open " << txt << "\n";
        return 2;
    }
    xvl::xvlImpInfo info;
    long records = 0, refused = 0;
    while (imp.xvlImportNextRec(info) != 2) {
        ++records;
        if (info.Status() != 0) {
            if (++refused < 5) std::cerr << "refused line " << info.StartLine() << ": " << info.Message() << "\n";
        }
    }
    imp.xvlImpTimeStampAndCloseFile(false, true, "");
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    xio_cls_file(h);
    std::printf("import_seconds=%.3f\nrecords=%ld\nrefused=%ld\n", secs, records, refused);
    return refused == 0 && records == lines ? 0 : 2;
}
