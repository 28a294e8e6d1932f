// The csv-spectrum files (tests/data/csv-spectrum) read through the import library: every line
// of each file, its header included, gives the values its JSON file lists. Read once into long
// texts, which hold anything, and once into plain texts, which refuse a value with a line end.
#include "platform/import/xvl_import.h"
#include "platform/import/xvl_messages.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using namespace dz;
using namespace dz::xvl;
using ::testing::HasSubstr;

namespace {

namespace fs = std::filesystem;

const fs::path kSpectrum = fs::path(DZ_TEST_DATA_DIR) / "csv-spectrum";

using Row = std::vector<std::pair<std::string, std::string>>;  // key, value in file order

// Just enough JSON for the expected files: an array of objects (or one object) of strings.
class Json {
public:
    explicit Json(std::string text) : s_(std::move(text)) {}

    std::vector<Row> Rows() {
        std::vector<Row> rows;
        if (peek() == '{') {
            rows.push_back(object());
            return rows;
        }
        expect('[');
        while (peek() != ']') {
            rows.push_back(object());
            if (peek() == ',') ++i_;
        }
        return rows;
    }

private:
    char peek() {
        while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
        return i_ < s_.size() ? s_[i_] : '\0';
    }
    void expect(char c) {
        EXPECT_EQ(peek(), c) << "at " << i_;
        ++i_;
    }
    Row object() {
        Row row;
        expect('{');
        while (peek() != '}') {
            std::string key = string();
            expect(':');
            row.emplace_back(std::move(key), string());
            if (peek() == ',') ++i_;
        }
        ++i_;
        return row;
    }
    std::string string() {
        expect('"');
        std::string out;
        while (i_ < s_.size() && s_[i_] != '"') {
            char c = s_[i_++];
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            c = s_[i_++];
            if (c == 'n') out.push_back('\n');
            else if (c == 'r') out.push_back('\r');
            else if (c == 't') out.push_back('\t');
            else
                out.push_back(c);  // \" \\ \/ (the files write other characters as UTF-8)
        }
        ++i_;
        return out;
    }

    std::string s_;
    std::size_t i_ = 0;
};

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// What one record gave: its values, or the import's refusal.
struct Read {
    int rc = 0;
    std::string message;
    std::vector<std::string> values;
};

std::vector<Read> ReadAll(const fs::path& csv, const std::vector<std::string>& names, SpecialType type) {
    xvlImpTemplate tpl;
    for (const std::string& n : names) tpl.xvlImpAppendField(xvlImpSpecFldDef{n, n, 0, 0, 0, false, type});
    xvlImport imp(tpl);
    std::vector<Read> out;
    if (!imp.xvlImpFileNames(csv.string(), "")) {
        ADD_FAILURE() << csv << ": " << imp.LastErrorText();
        return out;
    }
    xvlImpInfo info;
    for (int rc; (rc = imp.xvlImportNextRec(info)) != 2;) {
        Read r{rc, info.Message(), {}};
        for (const std::string& n : names) {
            const auto v = imp.xvlImpGetSpecialValue("", n);
            r.values.push_back(!v ? "<none>" : v->longText.empty() ? v->text : v->longText);
        }
        out.push_back(std::move(r));
    }
    return out;
}

class CsvSpectrum : public ::testing::TestWithParam<std::string> {};

TEST_P(CsvSpectrum, EveryLineGivesTheValuesOfItsJson) {
    const std::string name = GetParam();
    const std::vector<Row> expected = Json(Slurp(kSpectrum / "json" / (name + ".json"))).Rows();
    ASSERT_FALSE(expected.empty());
    std::vector<std::string> names;
    for (const auto& [key, value] : expected.front()) names.push_back(key);

    for (const SpecialType type : {SpecialType::LongText, SpecialType::Text}) {
        SCOPED_TRACE(type == SpecialType::LongText ? "long texts" : "plain texts");
        const std::vector<Read> got = ReadAll(kSpectrum / "csvs" / (name + ".csv"), names, type);
        ASSERT_EQ(got.size(), expected.size() + 1) << "the header and one record per object";
        EXPECT_EQ(got[0].rc, 0) << got[0].message;
        EXPECT_EQ(got[0].values, names);
        for (std::size_t r = 0; r < expected.size(); ++r) {
            const Read& g = got[r + 1];
            bool lineEnd = false;
            for (const auto& [key, value] : expected[r]) lineEnd |= value.find('\n') != std::string::npos;
            if (lineEnd && type == SpecialType::Text) {
                EXPECT_EQ(g.rc, 1);
                EXPECT_THAT(g.message, HasSubstr("can't hold a line break"));
                continue;
            }
            ASSERT_EQ(g.rc, 0) << g.message;
            for (std::size_t c = 0; c < names.size(); ++c) {
                // This file's JSON gives another phone number than its CSV holds.
                if (name == "location_coordinates" && names[c] == "Contact Phone Number") continue;
                EXPECT_EQ(g.values[c], expected[r][c].second) << "record " << r + 1 << ", " << names[c];
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, CsvSpectrum,
                         ::testing::Values("comma_in_quotes", "empty", "empty_crlf", "escaped_quotes", "json",
                                           "location_coordinates", "newlines", "newlines_crlf",
                                           "quotes_and_newlines", "simple", "simple_crlf", "utf8"));

}  // namespace
