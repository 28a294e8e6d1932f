// Every file and folder the program makes for a data file or for company.toml is made by one
// function (platform/datafile/made_file.cpp), which gives it its rights before anyone may meet
// it. This lists every place in the sources that makes a file or a folder, directly or through
// the helpers that make a user's outputs, and lets through only the maker and the outputs a user
// names, each with its reason: a new making anywhere else fails here until it goes through the
// maker or is shown to be a user's output.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace {
namespace fs = std::filesystem;

// What makes a file or a folder: the system's calls and flags, the library's, and the helpers of
// platform/ui/own_files.h, which make a user's outputs.
const std::regex kMaking(
    R"(\bO_CREAT\b|\bO_TMPFILE\b|\bmkdir(at)?\s*\(|\bmkstemp|\bcreate_director(y|ies)\b|\bofstream\b|\bfopen\s*\(|)"
    R"(\bcopy_file\s*\(|\bcreate_new_file\s*\(|\bclaim_new_file\s*\(|\bopen_output_file\s*\(|\bopen_report_file\s*\(|)"
    R"(\bappend_to_file\s*\(|\breplace_file_atomically\s*\()");

// Where a making is no file made for another, and why.
const std::map<std::string, std::string> kAllowed = {
    {"platform/datafile/made_file.cpp", "the one maker"},
    {"platform/datafile/journal_guard.cpp", "tells SQLite's own making of a journal, which it hands to the maker"},
    {"platform/datafile/xio_schema.cpp", "a new data file itself, aside until it is whole"},
    {"platform/ui/own_files.h", "the makers of the outputs a user names"},
    {"platform/ui/own_files.cpp", "the makers of the outputs a user names"},
    {"platform/ui/line_spool.cpp", "the print spool"},
    {"platform/ui/print.cpp", "printed reports"},
    {"platform/suite/util.cpp", "the log without a company, folders and copies a user names (a company's log is made by the maker)"},
    {"platform/suite/xm_options.cpp", "stored options"},
    {"platform/import/xvl_import.cpp", "reject files"},
    {"platform/import/xvl_timestamp.cpp", "text stamps"},
    {"tables/table_text.cpp", "table text files"},
    {"convert/texts.cpp", "reject files"},
    {"convert/backup.cpp", "a folder a user names for copies, or to restore into"},
    {"cli/cmd_company.cpp", "a new company's folders, made by company init"},
    {"cli/cmd_convert.cpp", "reports"},
    {"cli/cmd_tables.cpp", "reports"},
};

// The files of `root` that make a file or a folder outside a comment.
std::set<std::string> Makers(const fs::path& root) {
    std::set<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string ext = e.path().extension().string();
        if (!e.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
        std::ifstream in(e.path());
        for (std::string line; std::getline(in, line);) {
            const auto comment = line.find("//");
            if (std::regex_search(comment == std::string::npos ? line : line.substr(0, comment), kMaking)) {
                found.insert(fs::relative(e.path(), root).generic_string());
                break;
            }
        }
    }
    return found;
}

TEST(OneMaker, NothingButTheMakerAndAUsersOutputsMakesAFileOrAFolder) {
    const std::set<std::string> found = Makers(DZ_SOURCE_TREE);
    for (const std::string& file : found)
        EXPECT_TRUE(kAllowed.count(file)) << file << " makes a file or a folder outside the one maker";
    // An entry no source needs any more would let a new making there pass unseen.
    for (const auto& [file, why] : kAllowed) EXPECT_TRUE(found.count(file)) << file << " (" << why << ") makes nothing";
}

}  // namespace
