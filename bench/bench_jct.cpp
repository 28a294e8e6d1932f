// The JC transaction conversion of N generated transactions over 1,000 jobs: the jobs and the
// standard categories are written straight into the JC master file first (not timed), then the
// transactions are examined or converted and registered as one batch. Also writes the
// transaction rows as CSV (with their run and sequence numbers), so that run_jct.sh can time
// `sqlite3 .import` of them into a table keyed by run and sequence.
//
// usage: bench_jct convert|examine [transactions] [work folder]
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_support.h"
#include "convert/record_fields.h"
#include "converters/jc/xvjcm.h"
#include "converters/jc/xvjct.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"

namespace fs = std::filesystem;
using namespace dz;

namespace {

constexpr long kJobs = 1000;
const char* const kCategories[] = {"LAB", "MAT", "SUB", "EQP"};

std::string JobKey(long i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%03ld-%03ld", 100 + i / 1000, i % 1000);
    return buf;
}

void WriteTransactions(const fs::path& text, const fs::path& csv, long count) {
    std::ofstream out(text, std::ios::binary), rows(csv, std::ios::binary);
    out << "#,JCT," << (dz::data_folder() / "templates" / "xvjct.tpl").string() << "\r\n";
    char buf[200];
    for (long i = 0; i < count; ++i) {
        const long cents = 100 + (i / 2) % 9999900;
        // Labor and material costs by turns, on one of four cost codes.
        std::snprintf(buf, sizeof buf, "%s,,01-%03ld.%02ld,%s,%d,06/%02ld/2026,,Cost %ld,%ld.%02ld,%ld",
                      JobKey(i % kJobs).c_str(), 1 + i % 4, 1 + i % 3, kCategories[i % 4], 1 + static_cast<int>(i % 2),
                      1 + i % 28, i, cents / 100, cents % 100, i % 40);
        out << "1," << buf << ",,,,,,,,,,,,,,,,,,,,,,,,,,,,\r\n";
        rows << "1," << (i + 1) << "," << buf << "\n";
    }
}

// The jobs and standard categories the transactions name; exits 2 when they cannot be written.
void WriteMaster(uint16_t jcm) {
    auto check = [](int status) {
        if (status == XIO_OK) return;
        std::fprintf(stderr, "cannot write the JC master file: %d\n", status);
        std::exit(2);
    };
    check(xio_start_writes(jcm));
    for (long i = 0; i < kJobs; ++i) {
        xio_init_record(jcm, jc::kRecJob);
        convert::PutText(jcm, jc::kRecJob, "JOB", JobKey(i));
        convert::PutNumber(jcm, jc::kRecJob, "JBLEVEL", 1);
        check(xio_wr_record(jcm, jc::kRecJob));
    }
    for (const char* cat : kCategories) {
        xio_init_record(jcm, jc::kRecStdCategory);
        convert::PutText(jcm, jc::kRecStdCategory, "SCAT", cat);
        check(xio_wr_record(jcm, jc::kRecStdCategory));
    }
    check(xio_commit(jcm));
}

}  // namespace

int main(int argc, char** argv) {
    const auto args = bench::ParseArgs(argc, argv, "bench_jct", "convert|examine [transactions] [work folder]");
    const fs::path& work = args.work;
    const fs::path& company = args.company;
    const fs::path text = work / "jct.txt";
    if (!fs::exists(text)) WriteTransactions(text, work / "transactions.csv", args.count);

    bench::OpenCompany(company, {"GL", "JC"});
    bench::CreateDataFile("JCM", 1, company / "MASTER.JCM");
    bench::CreateDataFile("JCT", 6, company / "CURRENT.JCT");
    const fs::path copy = company / "jct.txt";
    fs::copy_file(text, copy);

    convert::OpenFilesList list;
    jc::xvJCT converter;
    bench::OpenFiles(converter, list, args.converting);
    WriteMaster(convert::FindFileHandle(list, "JCM", 1));
    convert::ConvertProgress timed([] { return int64_t{0}; });
    const double seconds =
        bench::ConvertText(converter, list, copy, 203, args.converting, timed, company / "report203.txt");
    bench::CloseFiles(list);
    bench::PrintResults(seconds, timed);
    return 0;
}
