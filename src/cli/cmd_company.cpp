// dodedoz-cli company init DIR [--modules ...] and dodedoz-cli company show --company DIR.
#include "cli/commands.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/dictionary.h"
#include "platform/datafile/xio.h"
#include "platform/suite/company.h"
#include "platform/suite/xk.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <set>
#include <sstream>
#include <system_error>
#include <vector>

namespace dz::cli {
namespace {

namespace fs = std::filesystem;
using namespace dz::suite;

// Parses "GL,JC,CM"; false with the offending code in `bad`.
bool parse_modules(const std::string& text, std::set<std::string>& out, std::string& bad) {
    std::stringstream in(text);
    std::string code;
    while (std::getline(in, code, ',')) {
        code.erase(0, code.find_first_not_of(' '));
        code.erase(code.find_last_not_of(' ') + 1);
        std::transform(code.begin(), code.end(), code.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        const auto& known = known_applications();
        if (code.empty() || std::find(known.begin(), known.end(), code) == known.end()) {
            bad = code;
            return false;
        }
        out.insert(code);
    }
    return true;
}

struct PlannedFile {
    std::string abbr;
    std::uint16_t number = 0;
    fs::path path;
};

// The data files of the installed applications that have a dictionary (the tax master also
// with the applications that read it), and the substitution-table file always. False with the reason on stderr.
bool plan_data_files(const Company& company, std::vector<PlannedFile>& plan) {
    for (const std::string& abbr : xio_dictionary_abbrs()) {
        const bool wanted = abbr == "XVM" || data_file_in_use(company.settings(), abbr);
        if (!wanted) continue;
        std::string error;
        auto dict = dz::xio::get(abbr, error);
        if (!dict) {
            std::cerr << "dodedoz-cli: company init: dictionary of " << abbr << ": " << error << "\n";
            return false;
        }
        for (const auto& file : dict->files) plan.push_back({abbr, file.number, company.data_folder(abbr) / file.name});
    }
    return true;
}

// Creates the planned files; on failure removes what it made and answers false.
bool create_data_files(const std::vector<PlannedFile>& plan) {
    std::vector<fs::path> made;
    for (const auto& f : plan) {
        std::error_code ec;
        fs::create_directories(f.path.parent_path(), ec);
        const int status = xio_create_file(f.abbr, f.number, f.path);
        if (status != XIO_OK) {
            std::cerr << "dodedoz-cli: company init: cannot create " << f.path.string() << " (status " << status
                      << ") " << xio_error_text() << "\n";
            for (const auto& p : made) fs::remove(p, ec);
            return false;
        }
        made.push_back(f.path);
    }
    return true;
}

int run_init(const std::string& dir, const std::string& modules) {
    std::set<std::string> installed;
    if (modules.empty()) {
        installed = {"GL", "JC", "CM", "AP", "PR", "PM", "AR"};
    } else {
        std::string bad;
        if (!parse_modules(modules, installed, bad)) {
            std::cerr << "dodedoz-cli: company init: --modules: '" << bad << "' is not an application code\n";
            return kExitUsage;
        }
    }
    const fs::path folder(dir);
    std::error_code ec;
    if (fs::exists(folder / kSettingsFileName, ec)) {
        std::cerr << "dodedoz-cli: company init: " << (folder / kSettingsFileName).string()
                  << " already exists; a company is never overwritten\n";
        return kExitFailure;
    }
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder, ec)) {
        std::cerr << "dodedoz-cli: company init: cannot create the folder " << folder.string() << "\n";
        return kExitFailure;
    }
    std::string dict_error;
    if (xio_dictionary_abbrs().empty() && !xio_load_dictionaries(dz::data_folder() / "dictionary", dict_error)) {
        std::cerr << "dodedoz-cli: company init: " << dict_error << "\n";
        return kExitFailure;
    }
    CompanySettings settings = default_settings(installed);
    settings.name = fs::absolute(folder).filename().string();
    if (settings.name.empty()) settings.name = "New Company";
    std::vector<PlannedFile> plan;
    if (!plan_data_files(Company(folder, settings), plan)) return kExitFailure;
    for (const auto& f : plan) {
        if (fs::exists(f.path, ec)) {
            std::cerr << "dodedoz-cli: company init: " << f.path.string()
                      << " already exists; a data file is never overwritten\n";
            return kExitFailure;
        }
    }
    const fs::path settings_file = folder / kSettingsFileName;
    try {
        write_settings(settings_file, settings);
        Company::load(folder);  // proves the file reads back
    } catch (const SettingsError& e) {
        std::cerr << "dodedoz-cli: company init: " << e.what() << "\n";
        fs::remove(settings_file, ec);
        return kExitFailure;
    }
    if (!create_data_files(plan)) {
        fs::remove(settings_file, ec);
        return kExitFailure;
    }
    std::cout << "Company created in " << folder.string() << "\n";
    return kExitOk;
}

std::string yes(bool b) { return b ? "yes" : "no"; }

void show_format(std::ostream& out, const KeyFormat& f) {
    out << "  " << f.number;
    const std::string d = xk_description(f.number);
    if (!d.empty()) out << " (" << d << ")";
    out << ":";
    for (const auto& s : f.sections) {
        out << " [" << s.description << " " << s.width;
        if (!s.separator.empty()) out << " sep '" << s.separator << "'";
        if (s.capitals) out << " caps";
        if (s.right_justify) out << " right";
        out << "]";
    }
    out << "\n";
}

int run_show(const std::string& dir) {
    Company* company = nullptr;
    try {
        company = &open_company(dir);
    } catch (const SettingsError& e) {
        std::cerr << "dodedoz-cli: company show: " << e.what() << "\n";
        return kExitFailure;
    }
    const CompanySettings& s = company->settings();
    std::ostream& out = std::cout;
    out << "Company: " << s.name << "\n";
    out << "Folder: " << company->folder().string() << "\n";
    out << "Operator: " << s.operator_name << "\n";
    static const char* methods[] = {"", "accrual", "cash", "both"};
    out << "Accounting method: " << s.accounting_method << " (" << methods[s.accounting_method] << ")\n";
    out << "JC transaction file: " << (s.jc_transaction_flag ? 7 : 6) << "\n";
    out << "Country AP: " << s.country_ap << ", PR: " << s.country_pr << "\n";
    out << "Installed:";
    for (const auto& a : known_applications()) {
        if (s.installed.count(a)) out << " " << a;
    }
    out << "\nInterfaces:\n";
    for (const auto& i : s.interfaces) {
        out << "  " << i.from << " -> " << i.to << ": on " << yes(i.active) << ", creates entries "
            << yes(i.creates_entries) << "\n";
    }
    out << "Data folders:\n";
    for (const auto& abbr : xio_dictionary_abbrs()) out << "  " << abbr << ": " << company->data_folder(abbr).string() << "\n";
    // Data files that file control keeps elsewhere (a conversion writes them there).
    std::vector<std::string> outside;
    for (const auto& abbr : xio_dictionary_abbrs())
        if (company->is_outside(company->data_folder(abbr))) outside.push_back(abbr);
    if (!outside.empty()) {
        out << "Data files outside the company folder:\n";
        for (const auto& abbr : outside) out << "  " << abbr << ": " << company->data_folder(abbr).string() << "\n";
    }
    out << "Security options:\n";
    for (const auto& [app, opts] : s.security_allowed) {
        out << "  " << app << ":";
        for (int o : opts) out << " " << o;
        out << "\n";
    }
    out << "Formulas:";
    for (const auto& f : s.formulas) out << " \"" << f << "\"";
    out << "\nReport designs:";
    for (const auto& f : s.report_designs) out << " \"" << f << "\"";
    out << "\nGL account format: " << xk_num_sections(kGlAccountFormat) << " prefix levels\n";
    std::string sample;
    for (int code = 1; code <= 5; ++code) {
        const int w = xk_width(kGlAccountFormat, code);
        for (int i = 0; i < w; ++i) sample += static_cast<char>('1' + (code - 1));
    }
    for (int code = 0; code <= 10; ++code) {
        std::string part = sample;
        xk_get_section(kGlAccountFormat, false, code, part);
        xk_format_field(kGlAccountFormat, code, part);
        out << "  section " << code << " (" << xk_description(kGlAccountFormat, code) << "): width "
            << xk_width(kGlAccountFormat, code) << ", e.g. '" << part << "'\n";
    }
    out << "Key formats:\n";
    for (const auto& [n, f] : s.formats) show_format(out, f);
    out << "Descriptions:\n";
    for (const auto& [n, d] : s.descriptions) out << "  " << n << ": " << d << "\n";
    out << "Custom lists:\n";
    for (const auto& [n, l] : s.lists) {
        out << "  " << n << ": default \"" << l.default_value << "\"; values";
        for (const auto& v : l.values) out << " \"" << v << "\"";
        out << "\n";
    }
    out << "Last run numbers:";
    for (const auto& [k, v] : s.last_run) out << " " << k << "=" << v;
    out << "\nBatch numbers:";
    for (const auto& [k, v] : s.batch_numbers) out << " " << k << "=" << v;
    out << "\n";
    close_company();
    return kExitOk;
}

[[maybe_unused]] static bool reg = register_command([](CLI::App& app, int& exitCode) {
    auto* company = app.add_subcommand("company", "Create or show a company (settings and data files)");
    company->require_subcommand(1);

    auto* init = company->add_subcommand("init", "Create a complete default company in DIR");
    static std::string init_dir;
    static std::string modules;
    init->add_option("DIR", init_dir, "Company folder to create")->required();
    init->add_option("--modules", modules, "Applications to install, e.g. GL,JC,CM,AP,PR,PM,AR (default: all seven)");
    init->callback([&exitCode] { exitCode = run_init(init_dir, modules); });

    auto* show = company->add_subcommand("show", "Print the settings of a company");
    static std::string show_dir;
    show->add_option("--company", show_dir, "Company folder")->required();
    show->callback([&exitCode] { exitCode = run_show(show_dir); });
});

}  // namespace
}  // namespace dz::cli
