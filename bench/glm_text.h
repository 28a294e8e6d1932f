// A generated GL master text file: prefixes A, B and C, base accounts, then `accounts` accounts
// completed from their base accounts (format 1B of the shipped template). A base account is
// four digits (1000 to 9999) and a suffix of two: the first 9,000 bases per prefix have suffix
// 00, the next 9,000 suffix 01 and so on, so every account generated is a valid one up to 900
// million accounts. Shared by the
// benchmarks and the tests that need a large file; `rows`, when given, receives each account's
// columns as CSV.
#pragma once

#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>

namespace dz::bench {

inline void WriteGlmText(std::ostream& out, const std::filesystem::path& tpl, long accounts,
                         std::ostream* rows = nullptr) {
    auto columns = [](int n) { return std::string(static_cast<std::size_t>(n), ','); };
    out << "#,GLM," << tpl.string() << "\r\n";
    const int prefixes = 1000;                                // ABC prefixes 01-0-00 ...
    const long bases = (accounts + prefixes - 1) / prefixes;  // base accounts per prefix
    char buf[64];
    // Prefix lines carry every column of their format: the prefix, then empty columns.
    for (int a = 1; a <= 10; ++a) {
        std::snprintf(buf, sizeof buf, "3,%02d", a);
        out << buf << columns(242) << "\r\n";
        for (int b = 0; b < 10; ++b) {
            std::snprintf(buf, sizeof buf, "4,%02d-%d", a, b);
            out << buf << columns(243) << "\r\n";
            for (int c = 0; c < 10; ++c) {
                std::snprintf(buf, sizeof buf, "5,%02d-%d-%02d", a, b, c);
                out << buf << columns(245) << "\r\n";
            }
        }
    }
    const auto base = [](long s) { return 1000 + s % 9000; };  // and suffix s / 9000
    for (long s = 0; s < bases; ++s) {
        std::snprintf(buf, sizeof buf, "6,%04ld-%02ld,Base account %ld,%ld,,,,,,,,", base(s), s / 9000, s, 1 + s % 12);
        out << buf << "\r\n";
    }
    long written = 0;
    for (long s = 0; s < bases && written < accounts; ++s)
        for (int p = 0; p < prefixes && written < accounts; ++p, ++written) {
            std::snprintf(buf, sizeof buf, "%02d-%d-%02d-%04ld-%02ld,%ld.%02ld,%ld.%02ld", 1 + p / 100, (p / 10) % 10,
                          p % 10, base(s), s / 9000, written % 100000, written % 100, written % 70000, written % 97);
            out << "1B," << buf << "\r\n";
            if (rows) *rows << buf << "\n";
        }
}

}  // namespace dz::bench
