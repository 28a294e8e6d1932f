// Companies built in memory for the suite service tests.
#pragma once

#include "platform/suite/company.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace dz::suite::testing {

// GL account format with `levels` prefix levels over prefix A "01", B "2", C "33", base "4000",
// suffix "10" (the levels not in use left out).
inline KeyFormat gl_format(int levels, const std::string& sep = "-") {
    KeyFormat f;
    f.number = 9;
    f.prefix_levels = levels;
    const int widths[] = {2, 1, 2};
    const char* names[] = {"Prefix A", "Prefix B", "Prefix C"};
    for (int i = 0; i < levels; ++i) f.sections.push_back({names[i], widths[i], sep, true, false});
    f.sections.push_back({"Base", 4, sep, true, false});
    f.sections.push_back({"Suffix", 2, "", true, false});
    f.gl_descriptions = {{6, "Prefix"}, {7, "Base account"}, {8, "Account"}, {9, "Prefix B"}, {10, "Prefix C"}};
    return f;
}

// A fresh, empty folder under the temporary folder, removed by the destructor.
class TempFolder {
public:
    TempFolder() {
        static int n = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("dz-suite-" + std::to_string(::getpid()) + "-" + std::to_string(++n));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Opens an in-memory company for one test and closes it afterwards.
class CompanyTest : public ::testing::Test {
protected:
    void TearDown() override { close_company(); }
    Company& use(CompanySettings s) { return set_company(Company(folder_.path(), std::move(s))); }
    TempFolder folder_;
};

}  // namespace dz::suite::testing
