#include "platform/datafile/access_list.h"
#include "platform/datafile/users.h"
#include "platform/suite/company.h"
#include "platform/suite/xk.h"
#include "suite_fixture.h"
#include "as_user.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cctype>
#include <cerrno>

#include <fstream>
#include <regex>
#include <sstream>

namespace dz::suite {
namespace {

using testing::TempFolder;

std::string read_all(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_all(const std::filesystem::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << text;
}

TEST(Settings, DefaultCompanyRoundTripsThroughTheFile) {
    TempFolder dir;
    CompanySettings s = default_settings({"GL", "JC", "AP", "CM"});
    s.name = "Say \"hi\" \\ back";
    s.file_control["GLT"] = "gl data";
    s.last_run["GLT6"] = 41;
    s.batch_numbers["GL"] = 7;
    const auto file = dir.path() / kSettingsFileName;
    write_settings(file, s);
    CompanySettings r = read_settings(file);
    EXPECT_EQ(r.name, s.name);
    EXPECT_EQ(r.installed, s.installed);
    EXPECT_EQ(r.accounting_method, 3);
    EXPECT_EQ(r.descriptions, s.descriptions);
    EXPECT_EQ(r.file_control, s.file_control);
    EXPECT_EQ(r.last_run, s.last_run);
    EXPECT_EQ(r.batch_numbers, s.batch_numbers);
    EXPECT_EQ(r.security_allowed, s.security_allowed);
    EXPECT_EQ(r.formulas, s.formulas);
    ASSERT_EQ(r.formats.size(), s.formats.size());
    EXPECT_EQ(r.formats.at(9).prefix_levels, 3);
    EXPECT_EQ(r.formats.at(9).sections.size(), 5u);
    EXPECT_EQ(r.formats.at(9).gl_descriptions, s.formats.at(9).gl_descriptions);
    EXPECT_EQ(r.formats.at(18).sections[1].separator, ".");
    ASSERT_EQ(r.lists.size(), s.lists.size());
    EXPECT_EQ(r.lists.at(369).values, (std::vector<std::string>{"Taxable", "Exempt"}));
    ASSERT_EQ(r.interfaces.size(), s.interfaces.size());
    // Only interfaces between installed applications.
    for (const auto& i : r.interfaces) {
        EXPECT_TRUE(r.installed.count(i.from) && r.installed.count(i.to)) << i.from << "->" << i.to;
    }
    // Writing what was read gives the same bytes.
    const auto again = dir.path() / "again.toml";
    write_settings(again, r);
    EXPECT_EQ(read_all(again), read_all(file));
}

// A company shared by a group: settings saved by a user whose umask is 077 (or 002) stay
// readable (and writable) by the others, as the file was before.
TEST(Settings, RewritingKeepsThePermissionsOfTheFile) {
    TempFolder dir;
    const auto file = dir.path() / kSettingsFileName;
    write_settings(file, default_settings({"GL"}));
    ASSERT_EQ(::chmod(file.c_str(), 0664), 0);
    const mode_t before = ::umask(077);
    write_settings(file, default_settings({"GL", "AP"}));
    ::umask(before);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
}

// Settings are replaced by renaming a new file over them: never by one who may not write them
// (the folder letting them makes no difference), and never so that they lose their group.
TEST(Settings, ARewriteNeverReplacesAFileThisUserMayNotWriteNorLosesItsGroup) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to write as other users";
    TempFolder dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    const auto file = dir.path() / kSettingsFileName;
    write_settings(file, default_settings({"GL"}));
    const std::string before = read_all(file);
    auto rewriteAs = [&](uid_t uid, const std::vector<gid_t>& groups) {
        return testing_support::AnswerAs(uid, groups, [&] {
            try {
                write_settings(file, default_settings({"GL", "AP"}));
            } catch (const SettingsError& e) {
                return std::string(e.what()) + (e.error() == EACCES ? " (EACCES)" : "");
            }
            return std::string("replaced");
        });
    };
    for (const mode_t mode : {0644, 0666}) {
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        const std::string what = rewriteAs(65534, {65534});
        EXPECT_THAT(what, ::testing::HasSubstr("cannot be written: ")) << mode;
        EXPECT_THAT(what, ::testing::HasSubstr("(EACCES)")) << mode;
        EXPECT_EQ(read_all(file), before) << mode;
    }
    EXPECT_THAT(rewriteAs(65534, {65534}), ::testing::HasSubstr("its group root would be lost"));
    // A member of its group replaces it, and it stays the group's.
    ASSERT_EQ(::chown(file.c_str(), 0, 4100), 0);
    ASSERT_EQ(::chmod(file.c_str(), 0664), 0);
    EXPECT_EQ(rewriteAs(4102, {4102, 4100}), "replaced");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_gid, 4100u);
    // Root's rewrite keeps its owner, group and access list.
    ASSERT_EQ(::chown(file.c_str(), 4101, 4100), 0);
    ASSERT_EQ(std::system(("setfacl -m u:4105:rw " + file.string()).c_str()), 0);
    write_settings(file, default_settings({"GL"}));
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4101u);
    EXPECT_EQ(st.st_gid, 4100u);
    const auto list = dz::xio::access_list(file.string());
    ASSERT_TRUE(list);
    EXPECT_THAT(list->words(), ::testing::HasSubstr("user:4105:rw-"));
    // One who may write it by an entry of the list, of none of its groups, is told the group alone.
    EXPECT_EQ(testing_support::AnswerAs(4105, {4105}, [&] { return settings_refusal(file).words(); }),
              "its group " + dz::xio::group_name(4100) + " would be lost, as you are not a member of it");
}

TEST(Settings, DefaultCompanyHasWhatTheConvertersName) {
    CompanySettings s = default_settings({"GL", "JC", "CM", "AP", "PR", "PM", "AR"});
    for (int n : {1, 7, 8, 9, 12, 15, 16, 18, 20, 28, 37, 38, 49, 53, 63, 64, 69, 77, 187, 300, 301, 369,
                  400, 401, 402, 403, 404, 411, 415, 429}) {
        EXPECT_FALSE(s.descriptions[n].empty()) << "description " << n;
    }
    for (int n : {262, 263, 264, 265, 266, 342, 344, 345, 369, 377, 380, 414, 417, 418, 419, 420, 421,
                  422, 423, 424, 428, 434, 437, 554}) {
        EXPECT_TRUE(s.lists.count(n)) << "list " << n;
    }
    for (int n : {3, 8, 9, 12, 15, 16, 18, 20, 41, 69, 70, 78, 79, 187, 300, 301}) {
        EXPECT_TRUE(s.formats.count(n)) << "format " << n;
    }
    EXPECT_EQ(s.formats.at(9).prefix_levels, 3);
    EXPECT_GE(s.formats.at(16).sections.size(), 2u);
    EXPECT_GE(s.formats.at(18).sections.size(), 2u);
}

// The default words read right in the sentences that print them.
TEST(Settings, DefaultTermsReadRightWhereTheyArePrinted) {
    TempFolder dir;
    set_company(Company(dir.path(), default_settings({"GL", "JC", "CM", "AP", "PR", "PM", "AR"})));
    auto upper_first = [](std::string t) {
        if (!t.empty()) t[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(t[0])));
        return t;
    };
    // Payroll: the work state, the local (city) tax group and the filing status of an employee.
    EXPECT_EQ("Work " + xk_description(53) + " is required", "Work state is required");
    EXPECT_EQ("Employee Work " + upper_first(xk_description(53)), "Employee Work State");
    EXPECT_EQ(upper_first(xk_description(53)) + " tax group", "State tax group");
    EXPECT_EQ(upper_first(xk_description(49)) + " tax group", "City tax group");
    EXPECT_EQ("Filing " + xk_description(77) + " is required", "Filing status is required");
    // AP: two invoice codes with names of their own, the DP location, the PPS deduction.
    EXPECT_NE(xk_description(61), xk_description(62));
    EXPECT_EQ("DP " + xk_description(142), "DP Location");
    EXPECT_EQ("Use " + xk_description(529) + " not marked", "Use PPS not marked");
    // Receivables: the markup and rate tables of a customer; equipment revenue codes in JC.
    EXPECT_EQ(upper_first(xk_description(321)) + " table", "Markup table");
    EXPECT_EQ("Labor " + xk_description(330), "Labor rate table");
    EXPECT_EQ(upper_first(xk_description(70)) + " requires " + upper_first(xk_description(69)),
              "Revenue code requires Equipment");
    // Leases: the SIC code is looked up under 427; list 421 holds address types, its first
    // entry the default that blank address types take.
    EXPECT_EQ(xk_description(427), "SIC code");
    EXPECT_EQ(xk_description(421), "Address type");
    EXPECT_EQ(xk_get_custom_list(421), "Billing\tBilling\tMailing\tLegal");
    close_company();
}

TEST(Settings, DefaultCompanyNamesAndSizesEveryTableField) {
    TempFolder dir;
    set_company(Company(dir.path(), default_settings({"GL", "JC", "CM", "AP", "PR", "PM", "AR", "TL", "TX"})));
    // The substitution-table fields of each application: a name and a width each.
    for (int id : {9, 16, 15, 18, 12, 6, 28, 30, 33, 40, 43, 31, 46, 39, 44, 400, 401, 402, 403, 428, 415,
                   426, 435, 422, 424, 416, 423, 431, 411, 410, 436, 420, 418, 414, 434, 417, 427, 437, 408,
                   421, 419, 37, 7, 262, 265, 266, 300, 301}) {
        EXPECT_FALSE(xk_description(id).empty()) << "field " << id;
        EXPECT_GT(xk_width(id, 0), 0) << "field " << id;
    }
    for (int section : {1, 9, 10, 7, 4}) EXPECT_FALSE(xk_description(9, section).empty()) << "GL section " << section;
    EXPECT_GT(xk_width(41, 0), 0);  // third value of the union field
    close_company();
}

// A settings file with one entry spoiled; the error must name the file, the entry and what
// was expected.
class BadSettings : public ::testing::Test {
protected:
    void SetUp() override {
        file_ = dir_.path() / kSettingsFileName;
        write_settings(file_, default_settings({"GL", "AP"}));
        text_ = read_all(file_);
    }
    std::string error_after(const std::string& from, const std::string& to) {
        std::string t = text_;
        std::size_t at = t.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at == std::string::npos) return {};
        t.replace(at, from.size(), to);
        write_all(file_, t);
        try {
            read_settings(file_);
        } catch (const SettingsError& e) {
            return e.what();
        }
        ADD_FAILURE() << "accepted: " << to;
        return {};
    }
    TempFolder dir_;
    std::filesystem::path file_;
    std::string text_;
};

TEST_F(BadSettings, EachProblemNamesFileEntryAndExpectation) {
    const struct {
        const char* from;
        const char* to;
        const char* entry;
        const char* expected;
    } cases[] = {
        {"accounting_method = 3", "accounting_method = 4", "control.accounting_method", "1 (accrual)"},
        {"accounting_method = 3", "accounting_method = \"3\"", "control.accounting_method", "1 (accrual)"},
        {"accounting_method = 3", "", "control.accounting_method", "is missing"},
        {"AP = 1\n", "AP = 3\n", "countries.AP", "61 (Australia)"},
        {"jc_transaction_flag = 0", "jc_transaction_flag = 2", "control.jc_transaction_flag", "0 (JCT file 6)"},
        {"installed = [\"GL\", \"AP\"]", "installed = [\"GL\", \"ZZ\"]", "applications.installed[1]", "an application code"},
        {"[operator]\nname = \"ADMIN\"", "[operator]\nnome = \"ADMIN\"", "operator.nome", "no such entry"},
        {"prefix_levels = 3", "prefix_levels = 2", "formats.9.sections", "4 sections"},
        {"prefix_levels = 3", "prefix_levels = 5", "formats.9.prefix_levels", "0 to 3"},
        {"{ description = \"Prefix A\", width = 2", "{ description = \"Prefix A\", width = 0", "formats.9.sections[0].width", "from 1 to 40"},
        {"separator = \"-\"", "separator = \"x\"", "formats.9.sections[0].separator", "punctuation"},
        {"[descriptions]\n1 = \"Batch\"", "[descriptions]\nx1 = \"Batch\"", "descriptions.x1", "a number"},
        {"[lists.369]\ndefault = \"Taxable\"", "[lists.369]\ndefault = 5", "lists.369.default", "a text"},
        {"version = 1", "version = 2", "company.version", "version 1"},
        {"[company]", "[companyy]", "companyy", "no such entry"},
        {"active = true", "active = \"yes\"", "interfaces[0].active", "true or false"},
        {"[counters.batch]", "[counters.batch]\nGL = -1", "counters.batch.GL", "a whole number"},
    };
    for (const auto& c : cases) {
        std::string err = error_after(c.from, c.to);
        SCOPED_TRACE(c.to);
        EXPECT_NE(err.find(file_.string()), std::string::npos) << err;
        EXPECT_NE(err.find(std::string("'") + c.entry + "'"), std::string::npos) << err;
        EXPECT_NE(err.find(c.expected), std::string::npos) << err;
    }
}

TEST_F(BadSettings, SyntaxErrorGivesTheLine) {
    write_all(file_, "[company]\nversion = 1\nname = \"unterminated\n");
    try {
        read_settings(file_);
        FAIL() << "accepted";
    } catch (const SettingsError& e) {
        EXPECT_NE(std::string(e.what()).find("line 3"), std::string::npos) << e.what();
    }
}

TEST_F(BadSettings, MissingFileAndMissingSection) {
    EXPECT_THROW(Company::load(dir_.path() / "nowhere"), SettingsError);
    std::string err = error_after("[descriptions]", "[descriptionz]");
    EXPECT_NE(err.find("'descriptionz'"), std::string::npos) << err;
    std::size_t at = text_.find("[descriptions]");
    std::size_t end = text_.find("\n[", at + 1);
    write_all(file_, text_.substr(0, at) + text_.substr(end + 1));
    try {
        read_settings(file_);
        FAIL() << "accepted without descriptions";
    } catch (const SettingsError& e) {
        EXPECT_NE(std::string(e.what()).find("entry 'descriptions' is missing"), std::string::npos) << e.what();
    }
}

TEST_F(BadSettings, ASettingsFileThatIsAPipeIsRefusedWithoutWaiting) {
    std::filesystem::remove(file_);
    ASSERT_EQ(::mkfifo(file_.c_str(), 0600), 0);
    try {
        read_settings(file_);
        FAIL() << "accepted";
    } catch (const SettingsError& e) {
        EXPECT_NE(std::string(e.what()).find("is not a regular file"), std::string::npos) << e.what();
    }
}

// A company folder this user may not enter is not one that is missing: the words say which.
TEST_F(BadSettings, ASettingsFileThisUserMayNotReachIsNotSaidToBeMissing) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to read as another user";
    ASSERT_EQ(::chmod(dir_.path().c_str(), 0700), 0);
    const std::string what = testing_support::AnswerAs(65534, 65534, [&] {
        try {
            read_settings(file_);
        } catch (const SettingsError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    });
    EXPECT_THAT(what, ::testing::HasSubstr("cannot be read: Permission denied"));
    EXPECT_THAT(what, ::testing::Not(::testing::HasSubstr("does not exist")));
}

TEST(OpenCompany, FailedOpenKeepsThePreviousCompany) {
    TempFolder good, bad;
    write_settings(good.path() / kSettingsFileName, default_settings({"GL"}));
    write_all(bad.path() / kSettingsFileName, "[company]\nversion = 1\n");
    open_company(good.path());
    EXPECT_THROW(open_company(bad.path()), SettingsError);
    ASSERT_NE(current_company(), nullptr);
    EXPECT_EQ(current_company()->folder(), good.path());
    EXPECT_EQ(xk_num_sections(9), 3);
    close_company();
    EXPECT_EQ(current_company(), nullptr);
    EXPECT_EQ(xk_num_sections(9), 0);
}

TEST(OpenCompany, DataFoldersFollowFileControl) {
    TempFolder dir;
    CompanySettings s = default_settings({"GL"});
    s.file_control["GLT"] = "transactions";
    s.file_control["XVM"] = "/srv/tables";
    Company c(dir.path(), s);
    EXPECT_EQ(c.data_folder("GLM"), dir.path());
    EXPECT_EQ(c.data_folder("glt"), dir.path() / "transactions");
    EXPECT_EQ(c.data_folder("XVM"), std::filesystem::path("/srv/tables"));
}

}  // namespace
}  // namespace dz::suite
