// The GL master conversion of a generated text file: prefixes A, B and C, base accounts, then N
// accounts completed from their base accounts (format 1B of the shipped template), examined or
// converted into an empty company. Also writes the account rows as CSV, so that run_glm.sh can
// time `sqlite3 .import` of them into a table with the same key.
//
// usage: bench_glm convert|examine|text [accounts] [work folder]
// (text only writes the text file, work folder/glm.txt, for runs through dodedoz-cli)
// prints seconds=..., records=..., rejected=..., max_rss_kb=...
#include <filesystem>
#include <fstream>

#include "bench_support.h"
#include "converters/gl/xvglm.h"
#include "glm_text.h"
#include "platform/datafile/data_folder.h"

namespace fs = std::filesystem;
using namespace dz;

int main(int argc, char** argv) {
    const auto args =
        bench::ParseArgs(argc, argv, "bench_glm", "convert|examine|text [accounts] [work folder]");
    const fs::path text = args.work / "glm.txt";
    if (!fs::exists(text)) {
        std::ofstream out(text, std::ios::binary), rows(args.work / "accounts.csv", std::ios::binary);
        bench::WriteGlmText(out, dz::data_folder() / "templates" / "xvglm.tpl", args.count, &rows);
    }
    if (args.mode == "text") return 0;

    bench::OpenCompany(args.company, {"GL"});
    bench::CreateDataFile("GLM", 1, args.company / "MASTER.GLM");
    // Each run converts its own copy: Convert stamps the text file.
    const fs::path copy = args.company / "glm.txt";
    fs::copy_file(text, copy);

    convert::ConvertProgress progress([] { return int64_t{0}; });
    gl::xvGLM converter;
    const double seconds =
        bench::Run(converter, copy, 101, args.converting, progress, args.company / "report.txt");
    bench::PrintResults(seconds, progress);
    return 0;
}
