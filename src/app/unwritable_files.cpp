#include "app/unwritable_files.h"

#include "convert/convert_file.h"
#include "platform/datafile/dictionary.h"
#include "platform/datafile/write_bar.h"
#include "platform/suite/company.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace dz::app {

std::vector<std::string> UnwritableRunFiles(const convert::xvConvert& converter, bool settings, bool fit) {
    std::vector<std::string> files;
    const suite::Company* company = suite::current_company();
    if (!company) return files;
    auto add = [&](const std::string& name) {
        const std::string file = PathAsFound(name);
        if (std::find(files.begin(), files.end(), file) == files.end()) files.push_back(file);
    };
    const convert::ConverterProfile profile = converter.Profile();
    std::vector<convert::ConverterDataFile> opened = profile.DataFiles();
    opened.insert(opened.end(), profile.alsoOpened.begin(), profile.alsoOpened.end());
    for (const auto& f : opened) {
        std::string error;
        const auto dictionary = xio::get(f.abbreviation, error);
        const xio::FileEntry* entry = dictionary ? dictionary->file(f.fileNo) : nullptr;
        if (!entry) continue;
        const std::filesystem::path file = company->data_folder(f.abbreviation) / entry->name;
        std::error_code ec;
        // One that is missing is not refused for its permission: its open says what it is.
        if (!std::filesystem::exists(file, ec)) continue;
        // As the data-file layer refuses a file: it, or its folder, where its journal is made.
        const std::string folder = file.has_parent_path() ? file.parent_path().string() : std::string(".");
        if (::access(file.c_str(), W_OK) != 0 || ::access(folder.c_str(), W_OK | X_OK) != 0) add(file.string());
    }
    if (settings)
        for (const std::string& file : suite::settings_unwritable(*company, fit)) add(file);
    return files;
}

suite::SettingsLockBar SettingsLockBarred(bool fit) {
    const suite::Company* company = suite::current_company();
    return company ? suite::settings_lock_bar(*company, fit) : suite::SettingsLockBar{};
}

ui::NextStep TrueWriteBar(const ui::NextStep& refused, const std::vector<std::string>& files) {
    if (refused && refused.step != ui::Step::WritableFile) return refused;
    for (const std::string& file : files)
        if (ui::NextStep next = xio::unwritable_step(file); next.step != ui::Step::WritableFile) return next;
    return {};
}

std::string SettingsGroupLost() {
    const suite::Company* company = suite::current_company();
    return company ? suite::settings_refusal(company->settings_file()).group : std::string();
}

std::string PathAsFound(const std::string& name) {
    std::error_code ec;
    const std::filesystem::path where = std::filesystem::absolute(name, ec);
    return ec ? name : where.lexically_normal().string();
}

}  // namespace dz::app
