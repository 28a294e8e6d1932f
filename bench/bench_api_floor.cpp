// What no AP invoice conversion can go below on this machine, in two parts:
//
//   write FROM TO [groups]: the records a Convert of the benchmark's groups left in the company
//     FROM (invoices, distributions, paid invoices and distributions, checks, AP and CM
//     transactions, vendors, 1099 prefix totals, the bank's last check) written again by a bare
//     program into new files of the same tables and indexes in TO: prepared inserts bound from
//     the stored rows, table after table, in one transaction per file. Timed twice: with the
//     indexes standing while the rows go in, and with them made after. A third run adds what the
//     conversion cannot leave out when every group must stand or fall alone: the group's vendor
//     and 1099 totals written once per group (an update of the row by its key). The stored rows
//     are read as they are written; the seconds of reading them alone are printed too.
//   read TEXT COMPANY: the text file read twice, group by group, by the import library alone
//     over the AP invoice template (nothing checked, nothing written).
//
// prints seconds lines as name=value
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "bench_api_support.h"
#include "convert/conversion_types.h"
#include "convert/open_files.h"
#include "platform/import/xvl_import.h"
#include "platform/import/xvl_source.h"
#include "platform/import/xvl_template.h"

namespace fs = std::filesystem;
using namespace dz;

namespace {

using Clock = std::chrono::steady_clock;
double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

[[noreturn]] void Fail(sqlite3* db, const std::string& what) {
    std::cerr << "bench_api_floor: " << what << ": " << (db ? sqlite3_errmsg(db) : "") << "\n";
    std::exit(2);
}

void Exec(sqlite3* db, const std::string& sql) {
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(db, sql);
}

std::vector<std::string> Column(sqlite3* db, const std::string& sql) {
    std::vector<std::string> out;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) Fail(db, sql);
    while (sqlite3_step(st) == SQLITE_ROW) out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    return out;
}

// The data files posting writes to, and the tables of each that it fills.
struct Target {
    const char* file;
    std::vector<std::string> tables;
};
const Target kTargets[] = {{"MASTER.APM", {"r1", "r2", "r4", "r5", "r6", "r9", "r10"}},
                           {"CURRENT.APT", {"r1"}},
                           {"CURRENT.CMT", {"r1", "r5"}},
                           {"MASTER.CMM", {"r5"}}};

enum class Mode { ScanOnly, IndexesLive, IndexesAfter, PerGroupTotals };

// Copies the rows of one file's tables from FROM into a new file at TO; seconds of the copy
// (the schema is made before the clock starts, as the conversion finds its files made).
double CopyFile(const fs::path& from, const fs::path& to, const Target& target, Mode mode, long groups) {
    sqlite3* src = nullptr;
    if (sqlite3_open_v2(from.c_str(), &src, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) Fail(src, from.string());
    sqlite3* dst = nullptr;
    fs::remove(to);
    if (mode != Mode::ScanOnly) {
        if (sqlite3_open_v2(to.c_str(), &dst, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
            Fail(dst, to.string());
        Exec(dst, "PRAGMA journal_mode=DELETE");
        for (const auto& sql : Column(src, "SELECT sql FROM sqlite_master WHERE type='table' AND sql IS NOT NULL"))
            Exec(dst, sql);
    }
    const auto indexes = Column(src, "SELECT sql FROM sqlite_master WHERE type='index' AND sql IS NOT NULL");
    if (mode == Mode::IndexesLive || mode == Mode::PerGroupTotals)
        for (const auto& sql : indexes) Exec(dst, sql);

    const auto start = Clock::now();
    if (dst) Exec(dst, "BEGIN");
    long rows = 0;
    for (const std::string& table : target.tables) {
        // The vendors and their totals are the groups' to write when they are written per group.
        const bool perGroup = mode == Mode::PerGroupTotals && (table == "r9" || table == "r10") &&
                              from.filename() == "MASTER.APM";
        sqlite3_stmt* read = nullptr;
        if (sqlite3_prepare_v2(src, ("SELECT * FROM " + table + " ORDER BY rowid").c_str(), -1, &read, nullptr) !=
            SQLITE_OK)
            Fail(src, table);
        const int columns = sqlite3_column_count(read);
        std::string names, marks;
        for (int c = 0; c < columns; ++c) {
            names += (c ? "," : "") + std::string("\"") + sqlite3_column_name(read, c) + "\"";
            marks += c ? ",?" : "?";
        }
        sqlite3_stmt* insert = nullptr;
        if (dst && sqlite3_prepare_v2(dst, ("INSERT INTO " + table + "(" + names + ") VALUES(" + marks + ")").c_str(),
                                      -1, &insert, nullptr) != SQLITE_OK)
            Fail(dst, table);
        std::vector<std::vector<sqlite3_value*>> kept;
        while (sqlite3_step(read) == SQLITE_ROW) {
            ++rows;
            if (perGroup) {
                auto& row = kept.emplace_back();
                for (int c = 0; c < columns; ++c) row.push_back(sqlite3_value_dup(sqlite3_column_value(read, c)));
            }
            if (!insert) continue;
            for (int c = 0; c < columns; ++c) sqlite3_bind_value(insert, c + 1, sqlite3_column_value(read, c));
            if (sqlite3_step(insert) != SQLITE_DONE) Fail(dst, "insert into " + table);
            sqlite3_reset(insert);
        }
        if (perGroup && !kept.empty()) {
            // Each group writes its vendor's row once more, whole, by its key.
            std::string set;
            for (int c = 0; c < columns; ++c)
                set += (c ? "," : "") + std::string("\"") + sqlite3_column_name(read, c) + "\"=?" + std::to_string(c + 1);
            sqlite3_stmt* update = nullptr;
            const std::string sql = "UPDATE " + table + " SET " + set + " WHERE rowid=?" + std::to_string(columns + 1);
            if (sqlite3_prepare_v2(dst, sql.c_str(), -1, &update, nullptr) != SQLITE_OK) Fail(dst, sql);
            for (long g = 0; g < groups; ++g) {
                const auto& row = kept[static_cast<std::size_t>((g / 10) % static_cast<long>(kept.size()))];
                for (int c = 0; c < columns; ++c) sqlite3_bind_value(update, c + 1, row[c]);
                sqlite3_bind_int64(update, columns + 1, (g / 10) % static_cast<long>(kept.size()) + 1);
                if (sqlite3_step(update) != SQLITE_DONE) Fail(dst, "update " + table);
                sqlite3_reset(update);
            }
            sqlite3_finalize(update);
            for (auto& row : kept)
                for (auto* v : row) sqlite3_value_free(v);
        }
        sqlite3_finalize(insert);
        sqlite3_finalize(read);
    }
    if (mode == Mode::IndexesAfter)
        for (const auto& sql : indexes) Exec(dst, sql);
    if (dst) Exec(dst, "COMMIT");
    const double seconds = Since(start);
    sqlite3_close(dst);
    sqlite3_close(src);
    std::fprintf(stderr, "%s: %ld rows\n", from.filename().c_str(), rows);
    return seconds;
}

int Write(const fs::path& from, const fs::path& to, long groups) {
    fs::create_directories(to);
    const std::pair<const char*, Mode> modes[] = {{"scan_seconds", Mode::ScanOnly},
                                                  {"live_seconds", Mode::IndexesLive},
                                                  {"after_seconds", Mode::IndexesAfter},
                                                  {"pergroup_seconds", Mode::PerGroupTotals}};
    for (const auto& [name, mode] : modes) {
        double seconds = 0;
        for (const Target& t : kTargets) seconds += CopyFile(from / t.file, to / t.file, t, mode, groups);
        std::printf("%s=%.3f\n", name, seconds);
        std::fflush(stdout);
    }
    for (const Target& t : kTargets) fs::remove(to / t.file);
    return 0;
}

int Read(const fs::path& text, const fs::path& company) {
    fs::remove_all(company);
    fs::create_directories(company);
    bench::OpenApiCompany(company);
    ap::xvAPI converter;
    convert::OpenFilesList list;
    bench::OpenFiles(converter, list, false);
    std::string templatePath;
    convert::GetTextFileTemplate(text.string(), templatePath);
    xvl::xvlImpTemplate tpl;
    if (templatePath.empty() || tpl.xvlImpTemplateCreate(templatePath, list) != 0) Fail(nullptr, "template");
    ap::GroupShape shape;
    if (!ap::DeclareGroups(tpl, convert::FindFileHandle(list, "APM", 1), shape, "Check").empty())
        Fail(nullptr, "groups");
    const auto start = Clock::now();
    long groups = 0;
    for (int pass = 0; pass < 2; ++pass) {
        xvl::xvlImport import(tpl);
        import.xvlSetAcceptLongText(true);
        import.xvlSetClearExtendedFields(true);
        import.xvlChangeRepToWrRep(true);
        if (!import.xvlImpOpen(xvl::TextSource::Open(text.string()), "")) Fail(nullptr, "open the text");
        xvl::xvlImpInfo info;
        while (import.xvlImportNextGroup(info) != 2) ++groups;
        import.xvlImpTimeStampAndCloseFile(false, true, "");
    }
    const double seconds = Since(start);
    bench::CloseFiles(list);
    std::printf("read_twice_seconds=%.3f\ngroups=%ld\n", seconds, groups);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "write" && argc >= 4) return Write(argv[2], argv[3], argc > 4 ? std::atol(argv[4]) : 0);
    if (mode == "read" && argc == 4) return Read(argv[2], argv[3]);
    std::cerr << "usage: bench_api_floor write FROM TO [groups] | read TEXT COMPANY\n";
    return 64;
}
