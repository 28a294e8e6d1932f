#include "convert/sticky_folders.h"

#include "platform/datafile/dictionary.h"
#include "platform/datafile/sticky_folder.h"
#include "platform/datafile/users.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/suite/company.h"

#include <fcntl.h>
#include <filesystem>
#include <set>
#include <unistd.h>
#include <vector>

namespace dz::convert {

namespace {

// Every file a conversion of `company` may replace or remove, as it stands now.
std::vector<std::string> replaced_files(const suite::Company& company) {
    std::vector<std::string> files;
    // A lock file this user may open is used as it stands when it cannot be made afresh; one it
    // may not open is made afresh, or the lock cannot be had.
    auto lockFile = [&](const std::filesystem::path& guarded) {
        const std::filesystem::path lock = guarded.parent_path() / ("." + guarded.filename().string() + ".locks");
        if (::faccessat(AT_FDCWD, lock.c_str(), R_OK | W_OK, AT_EACCESS) != 0) files.push_back(lock.string());
    };
    files.push_back(company.settings_file().string());
    lockFile(company.settings_file());
    for (const std::string& abbr : xio::abbrs()) {
        std::string error;
        const auto dictionary = xio::get(abbr, error);
        if (!dictionary) continue;
        for (const auto& f : dictionary->files) {
            const std::filesystem::path file = company.data_folder(abbr) / f.name;
            files.push_back(file.string());
            files.push_back(file.string() + "-journal");
            lockFile(file);
        }
    }
    return files;
}

}  // namespace

bool ConversionMayReplaceItsFiles(StickyRefusal& refusal, ui::Command command) {
    const suite::Company* company = suite::current_company();
    if (!company) return true;
    // Named in the first folder that keeps them, with whose they are.
    xio::StickyBar first;
    std::vector<std::string> names;
    std::set<uid_t> owners;
    std::set<std::string> seen;
    for (const std::string& file : replaced_files(*company)) {
        if (!seen.insert(file).second) continue;
        const xio::StickyBar bar = xio::sticky_bar(file);
        if (!bar.barred) continue;
        if (!first.barred) first = bar;
        const std::filesystem::path path(file);
        names.push_back(bar.folder == first.folder ? path.filename().string() : file);
        owners.insert(bar.fileOwner);
    }
    if (!first.barred) return true;
    std::string files;
    const std::size_t shown = names.size() > 3 ? 2 : names.size();
    for (std::size_t i = 0; i < shown; ++i) files += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    if (shown < names.size()) files += " and " + std::to_string(names.size() - shown) + " other files";
    const std::string owner = xio::user_name(first.fileOwner);
    const bool converting = command == ui::Command::Convert;
    refusal.text = xvl::xvlRCString::Get(converting ? 13670 : 13780, first.folder, xio::mode_digits(first.folderMode),
                                         files, owners.size() == 1 ? owner : owner + " and others");
    refusal.next = {ui::Step::UnstickFolder, {first.folder, owner}};
    refusal.ending = xvl::xvlRCString::Get(converting ? 13671 : 13781);
    return false;
}

}  // namespace dz::convert
