#include "platform/suite/company.h"

#include "platform/suite/internal.h"
#include "platform/suite/settings_lock.h"

#include "platform/datafile/lock_file.h"
#include "platform/datafile/run_marker.h"
#include "platform/datafile/users.h"
#include "platform/datafile/xio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <atomic>
#include <cctype>

#include <optional>
#include <utility>

namespace dz::suite {

namespace {

std::optional<Company>& open_slot() {
    static std::optional<Company> slot;
    return slot;
}

// Read by every key-format answer, from whichever thread asks.
std::atomic<std::uint64_t> g_settingsGeneration{1};

void settings_changed() { g_settingsGeneration.fetch_add(1, std::memory_order_acq_rel); }

}  // namespace

const std::vector<std::string>& known_applications() {
    static const std::vector<std::string> apps = {"GL", "JC", "CM", "AP", "PR", "PM", "AR", "EQ",
                                                  "TL", "TX", "XX", "CN", "BL"};
    return apps;
}

bool data_file_in_use(const CompanySettings& settings, const std::string& abbr) {
    const std::string app = abbr.substr(0, 2);
    if (settings.installed.count(app)) return true;
    if (abbr != "TXM") return false;
    for (const char* reader : {"JC", "AP", "PM", "AR"})
        if (settings.installed.count(reader)) return true;
    return false;
}

std::uint64_t settings_generation() { return g_settingsGeneration.load(std::memory_order_acquire); }

CompanySettings& Company::settings() {
    settings_changed();
    return settings_;
}

Company::Company(std::filesystem::path folder, CompanySettings settings)
    : folder_(std::move(folder)), settings_(std::move(settings)) {}

Company Company::load(const std::filesystem::path& folder) {
    return Company(folder, read_settings(folder / kSettingsFileName));
}

std::filesystem::path Company::data_folder(const std::string& abbreviation) const {
    for (const auto& [abbr, dir] : settings_.file_control) {
        if (equal_nocase(abbr, abbreviation)) {
            std::filesystem::path p(dir);
            return p.is_absolute() ? p : folder_ / p;
        }
    }
    return folder_;
}

bool Company::is_outside(const std::filesystem::path& path) const {
    std::error_code ec;
    const std::filesystem::path f = std::filesystem::weakly_canonical(folder_, ec);
    const std::filesystem::path p = std::filesystem::weakly_canonical(path, ec);
    const std::filesystem::path rel = p.lexically_relative(f);
    return rel.empty() || *rel.begin() == "..";
}

std::filesystem::path absolute_folder(const std::filesystem::path& folder) {
    std::filesystem::path absolute = std::filesystem::absolute(folder).lexically_normal();
    return absolute.has_filename() ? absolute : absolute.parent_path();
}

Company& open_company(const std::filesystem::path& folder) { return set_company(Company::load(absolute_folder(folder))); }

Company& set_company(Company company) {
    auto& slot = open_slot();
    slot.emplace(std::move(company));
    settings_changed();
    install_folder_resolver();
    return *slot;
}

namespace {

// The lock file of the company's settings: a file beside them that only those who may write
// them can open (see lock_file.h), so that nobody who may only read the company can hold what
// its writers wait on.
xio::LockFileSpec settings_lock_spec(const Company& company) {
    const std::filesystem::path settings = company.settings_file();
    xio::LockFileSpec spec;
    spec.folder = settings.parent_path().empty() ? "." : settings.parent_path().string();
    spec.name = "." + settings.filename().string() + ".locks";
    spec.kind = xio::LockKind::Writers;
    spec.guarded = settings.string();
    return spec;
}

// The settings' lock, waited for within the bound. The locked descriptor, or -1 with `failure`
// filled.
int take_settings_lock(const Company& company, SettingsFailure& failure) {
    xio::LockWaitFailure waited;
    const int fd = xio::take_lock_file(settings_lock_spec(company), true, waited);
    if (fd < 0) {
        failure.error = waited.error;
        failure.cause = waited.cause;
        failure.next = waited.next;
    }
    return fd;
}

bool denied(int error) { return error == EACCES || error == EPERM || error == EROFS; }

}  // namespace

std::vector<std::string> settings_unwritable(const Company& company, bool /*fit*/) {
    std::vector<std::string> files;
    const std::filesystem::path settings = company.settings_file();
    if (settings_refusal(settings).unwritable) files.push_back(settings.string());
    xio::LockFileSpec spec = settings_lock_spec(company);
    // Where company.toml stops this user anyway, its lock is named beside it (looked at as it
    // stands: one who may not write company.toml makes no lock file of it); where it does not,
    // the lock alone is said as itself (settings_lock_bar).
    if (files.empty()) return files;
    spec.make = false;
    const xio::LockFileOpened lock = xio::open_lock_file(spec);
    if (lock.fd >= 0) ::close(lock.fd);
    if ((lock.fd >= 0 && !lock.writable) || (lock.fd < 0 && denied(lock.error))) files.push_back(lock.path);
    return files;
}

SettingsLockBar settings_lock_bar(const Company& company, bool fit) {
    SettingsLockBar bar;
    if (settings_refusal(company.settings_file())) return bar;
    const xio::LockFileSpec spec = settings_lock_spec(company);
    // A writing command tries it once: held by none of the programs it is for, it is said now,
    // before anything is read, rather than once the data files are written.
    xio::LockFileOpened lock = fit ? xio::try_lock_file(spec, true) : xio::foretell_lock_file(spec);
    if (fit && lock.fd >= 0) {
        ::close(lock.fd);
        lock.fd = lock.writable ? 0 : -1;
        if (!lock.writable) lock.why = lock.writeWhy;
    }
    if (lock.fd >= 0 || !(denied(lock.error) || lock.foreign)) return bar;
    struct stat st {};
    const uid_t owner = ::lstat(lock.path.c_str(), &st) == 0 ? st.st_uid : lock.owner;
    bar.path = lock.path;
    bar.owner = xio::user_name(owner);
    bar.why = lock.why;
    bar.next = lock.next ? lock.next : ui::NextStep{ui::Step::RemoveLockFile, {lock.path, bar.owner}};
    return bar;
}

bool update_settings_file(Company& company, const std::function<bool(CompanySettings& disk)>& change,
                          const std::function<void(const CompanySettings& disk, CompanySettings& mem)>& adopt,
                          SettingsFailure* failure) {
    SettingsFailure why;
    const int fd = take_settings_lock(company, why);
    if (fd < 0) {
        if (failure) *failure = why;
        return false;
    }
    bool ok = false;
    {
        try {
            clear_stale_settings_copy(company.settings_file());
            CompanySettings disk = read_settings(company.settings_file());
            if (change(disk)) {
                write_settings(company.settings_file(), disk);
                adopt(disk, company.settings());
                ok = true;
            }
        } catch (const SettingsError& e) {
            if (failure) {
                failure->error = e.error();
                failure->cause = e.what();
                // A file this user may not write: whoever may gives them leave.
                if (denied(e.error())) failure->next = {ui::Step::WritableFile, {company.settings_file().string()}};
            }
            ok = false;
        }
    }
    ::close(fd);  // and with it the lock
    return ok;
}

void install_folder_resolver() {
    if (current_company()) {
        dz::xio_set_file_control([](const std::string& abbr) -> std::filesystem::path {
            const Company* c = current_company();
            return c ? c->data_folder(abbr) : std::filesystem::path();
        });
        // The markers of one run may lie in several of these folders.
        dz::xio::set_company_folders([] {
            std::vector<std::string> folders;
            if (const Company* c = current_company()) {
                folders.push_back(c->folder().string());
                for (const auto& [abbr, dir] : c->settings().file_control) folders.push_back(c->data_folder(abbr).string());
            }
            return folders;
        });
    } else {
        dz::xio_set_file_control(nullptr);
        dz::xio::set_company_folders(nullptr);
    }
}

Company* current_company() {
    auto& slot = open_slot();
    return slot ? &*slot : nullptr;
}

const CompanySettings& active_settings() {
    static const CompanySettings none{};
    const Company* c = current_company();
    return c ? c->settings() : none;
}

bool equal_nocase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

void close_company() {
    open_slot().reset();
    settings_changed();
    install_folder_resolver();
}

}  // namespace dz::suite
