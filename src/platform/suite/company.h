// The open company: a folder holding the settings file "company.toml" and the data files.
//
// Every suite service (key formats, descriptions, lists, applications, interfaces, control,
// security, formulas, counters) reads the one company that is open in this process. The
// settings are read whole when the company is opened: a missing or malformed entry refuses the
// open with a message naming the file, the entry and what was expected, so nothing ever runs
// on half-read settings. docs/company.md describes the file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace dz::suite {

inline constexpr const char* kSettingsFileName = "company.toml";
inline constexpr int kSettingsVersion = 1;

// A settings file that cannot be used. what() names the file, the entry and what was expected.
// error() is the system's error number of a write that failed (ENOSPC for a full disk), else 0.
class SettingsError : public std::runtime_error {
public:
    explicit SettingsError(const std::string& what, int error = 0) : std::runtime_error(what), error_(error) {}
    int error() const { return error_; }

private:
    int error_ = 0;
};

// One section of a key format. The separator is written after the section when a further
// section follows.
struct KeySection {
    std::string description;
    int width = 0;
    std::string separator;
    bool capitals = false;
    bool right_justify = false;
};

// A key format (custom description number). For the GL account format (9) the sections are,
// in order, the prefix levels in use (A, B, C), the base and the suffix (width 0 = no suffix);
// `gl_descriptions` names the composite GL sections 6 to 10.
struct KeyFormat {
    int number = 0;
    int prefix_levels = 0;  // format 9 only: 0 to 3
    std::vector<KeySection> sections;
    std::map<int, std::string> gl_descriptions;
};

// A custom list: the default and the values allowed. The default may be empty.
struct CustomList {
    std::string default_value;
    std::vector<std::string> values;
};

// An interface between two applications.
struct InterfaceDef {
    std::string from;
    std::string to;
    bool active = false;
    bool creates_entries = false;
};

struct CompanySettings {
    std::string name;
    std::string operator_name;
    int accounting_method = 3;    // 1 accrual only, 2 cash only, 3 both
    int jc_transaction_flag = 0;  // 1: job cost transactions live in JCT file 7, else file 6
    int country_ap = 1;           // 1 USA, 2 Canada, 61 Australia
    int country_pr = 1;
    std::set<std::string> installed;
    std::vector<InterfaceDef> interfaces;
    std::map<std::string, std::string> file_control;  // abbreviation -> data folder
    std::map<std::string, std::set<int>> security_allowed;  // application -> group * 1000 + option
    std::vector<std::string> formulas;
    std::vector<std::string> report_designs;
    std::map<int, std::string> descriptions;
    std::map<int, KeyFormat> formats;
    std::map<int, CustomList> lists;
    std::map<std::string, std::uint32_t> last_run;       // data-file abbreviation -> last run
    std::map<std::string, std::uint32_t> batch_numbers;  // module code -> last batch number
};

// Applications a company may install, in the suite's order.
const std::vector<std::string>& known_applications();

// True when a company with these settings keeps the data file `abbr` ("GLM"): its application
// (the first two letters) is installed, or, for the tax master (TXM), any application that
// reads taxes (JC, AP, PM, AR) is.
bool data_file_in_use(const CompanySettings& settings, const std::string& abbr);

// The settings of a complete default company with the given applications installed.
CompanySettings default_settings(const std::set<std::string>& installed);

// Reads and checks a settings file. Throws SettingsError.
CompanySettings read_settings(const std::filesystem::path& file);
// Writes a settings file atomically (written aside, then renamed). Throws SettingsError. A file
// replaced keeps its permissions, group and access list (root's rewrite: its owner too; another
// user's: the list names its former owner with what it had, where it names anyone); one this
// user may not replace so is never replaced (settings_refusal, error EACCES).
void write_settings(const std::filesystem::path& file, const CompanySettings& settings);
// Removes "<file>.new" where no rewrite is making it (one killed midway left it), while its name
// still names what was judged; one a live rewrite holds is left to it.
void clear_stale_settings_copy(const std::filesystem::path& file);
// Why this user may not replace a settings file as write_settings does: each cause, so that the
// leave asked for is all the leave needed. Nothing when they may, or when it does not stand.
struct SettingsRefusal {
    bool unwritable = false;  // they may not write it, or its folder (where the new file is made)
    // The group it would lose, not root: they are not of it, and the folder gives new files another.
    std::string group;
    explicit operator bool() const { return unwritable || !group.empty(); }
    // In words that follow "cannot be written: "; "" for none.
    std::string words() const;
};
SettingsRefusal settings_refusal(const std::filesystem::path& file);
// settings_refusal(file).words().
std::string settings_replace_refusal(const std::filesystem::path& file);

// A number raised whenever the open company's settings may change: the writable settings()
// is taken, a company is opened or closed. An answer worked out from the settings (a key
// format's layout) may be kept while this number stays the same.
std::uint64_t settings_generation();

class Company;
// The files of the company's settings that a rewrite of them needs and this user may not write,
// each once (empty: none): company.toml, where this user may not write it or its folder (its
// new text is written beside it and renamed over it), and beside it the settings' lock file,
// where it stands and this user may not open it to write. A lock file that alone keeps them from
// a rewrite is said as itself (settings_lock_bar, settings_lock.h). `fit`: unused, kept for callers
// that ask for a writing command.
std::vector<std::string> settings_unwritable(const Company& company, bool fit);

class Company {
public:
    Company(std::filesystem::path folder, CompanySettings settings);
    // Reads `folder`/company.toml. Throws SettingsError.
    static Company load(const std::filesystem::path& folder);

    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path settings_file() const { return folder_ / kSettingsFileName; }
    const CompanySettings& settings() const { return settings_; }
    // Every change to the settings goes through this accessor (take it again for each change
    // rather than keeping the reference): it marks the settings changed, see settings_generation.
    CompanySettings& settings();

    // The data folder of an abbreviation: its file-control folder (relative to the company
    // folder unless absolute), else the company folder.
    std::filesystem::path data_folder(const std::string& abbreviation) const;
    // Whether `path` (a data file or a folder) lies outside the company folder, links and ".."
    // resolved: file control may put data files anywhere, and a run names such files.
    bool is_outside(const std::filesystem::path& path) const;

    // A counter of the settings file (counters.batch or counters.last_run, and its key) taken
    // by the running conversion and not yet stored: the value the file held when it was first
    // taken, and the value taken last (see zc_store_counters). They go with the company.
    struct TakenCounter {
        std::uint32_t found = 0;
        std::uint32_t value = 0;
    };
    std::map<std::pair<bool, std::string>, TakenCounter> taken_counters;  // (batch?, key)

private:
    std::filesystem::path folder_;
    CompanySettings settings_;
};

// Opens the company of `folder` for the process, replacing any open one, and points the
// data-file library's folder lookup at it. Throws SettingsError; on failure the previously
// open company stays open. A relative `folder` is made absolute (absolute_folder), so that every
// path said of the company (a step's command above all) names it wherever it is run.
Company& open_company(const std::filesystem::path& folder);
// `folder` absolute, without a trailing slash, not resolved through links ("co/" is "/home/a/co").
std::filesystem::path absolute_folder(const std::filesystem::path& folder);
// Installs an already built company (tests). Also sets the data-file folder lookup.
Company& set_company(Company company);
// The open company, or nullptr.
Company* current_company();
void close_company();

}  // namespace dz::suite
