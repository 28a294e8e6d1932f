// Write speed of the data-file library: N records (a text primary key, a second unique key and
// six more fields) through xio_put_field/xio_wr_record between xio_start_writes and
// xio_end_writes. Also writes the same rows as CSV, so that run_datafile_write.sh can time
// `sqlite3 .import` of them into a table with the same two unique keys.
//
// usage: bench_datafile_write [records] [work folder]
#include "platform/datafile/locks.h"
#include "platform/datafile/xio.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace {

const char* kDictionary = R"(abbreviation = "BEN"
name = "Benchmark file"
version = 1
files = [{ number = 1, name = "MASTER.BEN" }]

[[record]]
number = 1
name = "Row"
key = ["CODE"]
fields = [
  { name = "CODE", type = 0, length = 12 },
  { name = "ALTCODE", type = 0, length = 12 },
  { name = "NAME", type = 0, length = 30 },
  { name = "CITY", type = 0, length = 20 },
  { name = "AMOUNT", type = 1, length = 12, decimals = 2, signed = true },
  { name = "COUNT", type = 1, length = 6 },
  { name = "OPENED", type = 3 },
  { name = "ACTIVE", type = 2 },
]

[[key]]
number = 1
record = 1
fields = ["ALTCODE"]
)";

struct Row {
    std::string code, alt, name, city;
    double amount;
    int count;
    dz::x_date_type opened;
    int active;
};

// Row i; both keys are permutations of i, so they arrive in no particular order.
Row make_row(uint32_t i) {
    char code[16], alt[16];
    std::snprintf(code, sizeof code, "C%010u", static_cast<unsigned>(i * 2654435761u));
    std::snprintf(alt, sizeof alt, "A%010u", static_cast<unsigned>((i * 1103515245u + 12345u) & 0x7fffffffu));
    return {code,
            alt,
            "Customer number " + std::to_string(i),
            (i % 3) ? "Springfield" : "Shelbyville",
            static_cast<double>((i * 7919u) % 1000000u) - 500000.0,
            static_cast<int>(i % 1000),
            {static_cast<uint16_t>(1 + i % 12), static_cast<uint16_t>(1 + i % 28), static_cast<uint16_t>(2000 + i % 25)},
            static_cast<int>(i & 1)};
}

}  // namespace

int main(int argc, char** argv) {
    using namespace dz;
    const uint32_t count = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 1000000u;
    const std::filesystem::path dir = argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path() / "dz-bench";
    std::filesystem::create_directories(dir / "dictionary");
    std::filesystem::remove(dir / "MASTER.BEN");
    std::filesystem::remove(xio::lock_file_path(dir / "MASTER.BEN"));
    std::ofstream(dir / "dictionary" / "ben.toml") << kDictionary;
    std::string err;
    if (!xio_load_dictionaries(dir / "dictionary", err)) {
        std::cerr << err << "\n";
        return 2;
    }
    {
        std::ofstream csv(dir / "rows.csv");
        for (uint32_t i = 0; i < count; ++i) {
            Row r = make_row(i);
            char date[16];
            std::snprintf(date, sizeof date, "%04u%02u%02u", r.opened.year, r.opened.month, r.opened.day);
            csv << r.code << ',' << r.alt << ',' << r.name << ',' << r.city << ',' << r.amount << ',' << r.count << ','
                << date << ',' << r.active << '\n';
        }
    }
    if (xio_create_file("BEN", 1, dir / "MASTER.BEN") != XIO_OK) {
        std::cerr << xio_error_text() << "\n";
        return 2;
    }
    uint16_t h = 0;
    if (xio_open_file(dir / "MASTER.BEN", 1, h) != XIO_OK) {
        std::cerr << xio_error_text() << "\n";
        return 2;
    }
    const uint16_t fCode = xio_num(h, XIO_NUM_RECORD, 1, "CODE"), fAlt = xio_num(h, XIO_NUM_RECORD, 1, "ALTCODE"),
                   fName = xio_num(h, XIO_NUM_RECORD, 1, "NAME"), fCity = xio_num(h, XIO_NUM_RECORD, 1, "CITY"),
                   fAmount = xio_num(h, XIO_NUM_RECORD, 1, "AMOUNT"), fCount = xio_num(h, XIO_NUM_RECORD, 1, "COUNT"),
                   fOpened = xio_num(h, XIO_NUM_RECORD, 1, "OPENED"), fActive = xio_num(h, XIO_NUM_RECORD, 1, "ACTIVE");

    const auto start = std::chrono::steady_clock::now();
    if (xio_start_writes(h) != XIO_OK) return 2;
    x_value_def v;
    for (uint32_t i = 0; i < count; ++i) {
        Row r = make_row(i);
        xio_init_record(h, 1);
        v.text = r.code;
        xio_put_field(h, 1, fCode, v);
        v.text = r.alt;
        xio_put_field(h, 1, fAlt, v);
        v.text = r.name;
        xio_put_field(h, 1, fName, v);
        v.text = r.city;
        xio_put_field(h, 1, fCity, v);
        v.number = r.amount;
        xio_put_field(h, 1, fAmount, v);
        v.number = r.count;
        xio_put_field(h, 1, fCount, v);
        v.date = r.opened;
        xio_put_field(h, 1, fOpened, v);
        v.flag = static_cast<uint16_t>(r.active);
        xio_put_field(h, 1, fActive, v);
        if (int s = xio_wr_record(h, 1); s != XIO_OK) {
            std::cerr << "write " << i << " answered " << s << "\n";
            return 2;
        }
    }
    if (xio_end_writes(h) != XIO_OK) {
        std::cerr << "commit failed: " << xio_error_text() << "\n";
        return 2;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    xio_cls_file(h);
    std::printf("records=%u\nxio_seconds=%.3f\n", count, seconds);
    return 0;
}
