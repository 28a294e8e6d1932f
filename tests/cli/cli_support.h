// Helpers for tests that run dodedoz-cli as a separate process: a scratch folder of its own, a
// run with chosen environment variables and the two output streams kept apart, whole-file reads
// and writes, and comparison with golden files.
//
// Golden files: run the tests with DZ_UPDATE_GOLDEN=1 in the environment to rewrite every golden
// file a test compares with from what the program wrote (then read the diff before committing).
#pragma once

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace dz::cli::testing {

namespace fs = std::filesystem;

struct CliResult {
    int status = -1;  // exit status; -1 when the program did not exit normally
    std::string out;  // standard output
    std::string err;  // standard error
};

inline std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void Spit(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// `text` with every occurrence of `from` replaced by `to`.
inline std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// How many times `what` stands in `text` (overlapping ones counted).
inline std::size_t Occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// A word for the shell, quoted so that nothing in it is interpreted.
inline std::string ShellWord(const std::string& word) {
    return "'" + ReplaceAll(word, "'", "'\\''") + "'";
}

// A folder of its own, /tmp/dz-cli-XXXXXX, removed with everything in it at the end. mkdtemp
// makes it unique, so tests running in parallel never share one. Always /tmp and never $TMPDIR:
// reports cut their lines at 132 columns, so a path of another length would cut them elsewhere
// and golden reports that show paths would no longer match.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = "/tmp/dz-cli-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// The words of `line`, split at single spaces, for tests that write a command line as one text.
// No word can hold a space; the scratch folders never do.
inline std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    for (std::size_t at = 0; at <= line.size();) {
        std::size_t end = line.find(' ', at);
        if (end == std::string::npos) end = line.size();
        if (end > at) words.push_back(line.substr(at, end - at));
        at = end + 1;
    }
    return words;
}

// Where the program's standard error goes: kept apart in CliResult::err, or merged into
// CliResult::out in the order it was written (for tests that only look for a message).
enum class Stderr { Apart, Merged };

// Runs the shell command `cmd`: its standard output in `out`, its exit status.
inline CliResult RunShell(const std::string& cmd) {
    CliResult r;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

// Runs dodedoz-cli with `args` (each passed as one word), standard input empty, the variables of
// `env` added to the environment. Standard error, when apart, goes through a file in `scratch`.
// With `seconds`, a run that takes longer is killed (status 124): a test of a run that could loop
// fails rather than never ends.
inline CliResult RunCli(const std::vector<std::string>& args, const fs::path& scratch,
                        const std::map<std::string, std::string>& env = {}, Stderr streams = Stderr::Apart,
                        int seconds = 0) {
    CliResult r;
    const fs::path errFile = scratch / ".cli-stderr.txt";
    std::string cmd;
    for (const auto& [name, value] : env) cmd += name + "=" + ShellWord(value) + " ";
    if (seconds > 0) cmd += "timeout -k 5 " + std::to_string(seconds) + " ";
    cmd += ShellWord(DZ_CLI_BIN);
    for (const auto& a : args) cmd += " " + ShellWord(a);
    cmd += streams == Stderr::Merged ? " </dev/null 2>&1" : " </dev/null 2>" + ShellWord(errFile.string());
    r = RunShell(cmd);
    if (streams == Stderr::Merged) return r;
    r.err = Slurp(errFile);
    std::error_code ec;
    fs::remove(errFile, ec);
    return r;
}

// Runs each statement on the SQLite file `file`, as another program editing a data file would;
// false (with the error) when one fails.
inline ::testing::AssertionResult Sql(const fs::path& file, const std::vector<std::string>& statements) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return ::testing::AssertionFailure() << "cannot open " << file;
    }
    for (const auto& s : statements) {
        char* err = nullptr;
        if (sqlite3_exec(db, s.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
            std::string why = err ? err : "?";
            sqlite3_free(err);
            sqlite3_close(db);
            return ::testing::AssertionFailure() << s << ": " << why;
        }
    }
    sqlite3_close(db);
    return ::testing::AssertionSuccess();
}

// Compares `actual` with the golden file `golden` byte for byte; with DZ_UPDATE_GOLDEN=1 in the
// environment the golden file is rewritten from `actual` first.
inline void ExpectGolden(const std::string& actual, const fs::path& golden) {
    const char* update = std::getenv("DZ_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        fs::create_directories(golden.parent_path());
        Spit(golden, actual);
    }
    ASSERT_TRUE(fs::is_regular_file(golden)) << "no golden file " << golden << " (DZ_UPDATE_GOLDEN=1 writes it)";
    EXPECT_EQ(actual, Slurp(golden)) << "differs from golden " << golden;
}

}  // namespace dz::cli::testing
