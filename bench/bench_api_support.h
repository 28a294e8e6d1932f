// What the AP invoice benchmarks share: a company with GL, CM and AP whose data files the
// conversion opens are created empty, and one timed run of a text file through the converter.
#pragma once

#include <filesystem>
#include <tuple>

#include "bench_support.h"
#include "converters/ap/xvapi.h"

namespace dz::bench {

// Opens `company` (GL, CM and AP installed) and creates the AP invoice conversion's data files.
inline void OpenApiCompany(const std::filesystem::path& company) {
    OpenCompany(company, {"GL", "CM", "AP"});
    for (const auto& [abbr, no, name] : {std::tuple{"APM", 1, "MASTER.APM"}, {"CMM", 1, "MASTER.CMM"},
                                         {"APT", 1, "CURRENT.APT"}, {"CMT", 1, "CURRENT.CMT"},
                                         {"TXM", 1, "MASTER.TXM"}, {"GLM", 1, "MASTER.GLM"},
                                         {"API", 1, "NEW.API"}, {"API", 2, "HISTORY.API"}})
        CreateDataFile(abbr, static_cast<uint16_t>(no), company / name);
}

// Copies `text` into `company` and runs the copy through the AP invoice converter; prints the
// result lines.
inline void RunApiText(const std::filesystem::path& text, const std::filesystem::path& company, bool converting) {
    const std::filesystem::path copy = company / text.filename();
    std::filesystem::copy_file(text, copy);
    convert::ConvertProgress progress([] { return int64_t{0}; });
    ap::xvAPI converter;
    const double seconds = Run(converter, copy, 402, converting, progress, company / "report.txt");
    PrintResults(seconds, progress);
}

}  // namespace dz::bench
