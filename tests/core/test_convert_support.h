// Shared fixtures of the converter-core tests: a scratch folder, a company with chosen modules,
// a small disk that fills, and a message-box recorder standing in for the person.
#pragma once

#include "platform/datafile/store.h"
#include "platform/datafile/xio.h"
#include "platform/suite/company.h"
#include "platform/suite/xd.h"
#include "modules/module_dlls.h"
#include "convert/record_fields.h"
#include "platform/datafile/data_folder.h"
#include "platform/ui/ui.h"
#include "hold_flock.h"
#include "short_folder.h"
#include "small_disk.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <csignal>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <ostream>
#include <functional>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace dz::convert::testing {

namespace fs = std::filesystem;

// Opens a fresh company in `folder` for a converter's tests: the shipped dictionaries, the demo
// company's name and operator, `modules` installed (after `adjust` changed what it needs), a fixed
// clock (12/06/2026 14:30) and the module libraries loaded. False with `error` set when the
// dictionaries do not load.
inline bool OpenTestCompany(const fs::path& folder, const std::set<std::string>& modules,
                            const std::function<void(suite::CompanySettings&)>& adjust, std::string& error) {
    if (!xio_load_dictionaries(dz::data_folder() / "dictionary", error)) return false;
    ForgetFieldNumbers();
    auto settings = suite::default_settings(modules);
    settings.name = "Northbridge Builders";
    settings.operator_name = "Ann Lee";
    adjust(settings);
    suite::write_settings(folder / suite::kSettingsFileName, settings);
    suite::open_company(folder);
    suite::xd_set_clock(suite::xd_fixed_clock({suite::zqDate(12, 6, 2026), {14, 30, 0}}));
    modules::LoadModuleDlls();
    return true;
}

// A fresh folder, removed at the end of the test. Its path has one length on every machine and
// in every run: reports of these tests show it, shortened when long and wrapped.
class ScratchDir {
public:
    ScratchDir() {
        std::random_device rd;
        char name[32];
        std::snprintf(name, sizeof name, "dz_core_%08x%08x", rd(), rd());
        path_ = testing_support::ShortTempFolder() / name;
        fs::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    std::string str(const std::string& name = "") const { return (name.empty() ? path_ : path_ / name).string(); }

private:
    fs::path path_;
};

// Puts `value` (a text, or a number written out) into the field `name` of record `rec` (0: the
// field of header 2) of the file's buffer.
inline void PutByName(uint16_t h, uint16_t rec, const std::string& name, const std::string& value) {
    const uint16_t f = xio_num(h, rec == 0 ? XIO_NUM_HEADER : XIO_NUM_RECORD, rec == 0 ? 2 : rec, name);
    ASSERT_NE(f, 0) << name;
    xio_fld_def def;
    xio_get_fld_def(h, f, def);
    x_value_def v;
    if (xio_is_text_type(def.type))
        v.text = value;
    else
        v.number = std::stod(value);
    xio_put_field(h, 0, f, v);
}

inline void WriteFile(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Opens a company in `folder` with the given modules installed and operator.
inline void OpenCompany(const fs::path& folder, const std::set<std::string>& modules,
                        const std::string& operatorName = "") {
    auto settings = suite::default_settings(modules);
    settings.installed = modules;
    settings.operator_name = operatorName;
    suite::write_settings(folder / suite::kSettingsFileName, settings);
    suite::open_company(folder);
}

// ---- A disk that fills ----------------------------------------------------------------------

using testing_support::OnSmallDisk;

// Runs `body` in a child process that sees `folder` read-only (a mount of its own, gone with the
// child), so that even root may not write in it. As OnSmallDisk: 0 passed, 77 cannot be made
// here, else 1.
inline int OnReadOnlyFolder(const fs::path& folder, const std::function<bool()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            ::_exit(77);
        if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            ::_exit(77);
        ::_exit(body() && !::testing::Test::HasFailure() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 1;
    return WEXITSTATUS(status);
}

using testing_support::HoldFlockInChild;
using testing_support::KillHolder;

// Fills the disk `folder` stands on to the last byte, with a file of its own.
inline void FillDiskOf(const fs::path& folder) {
    const int fd = ::open((folder / "filler").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd < 0) return;
    const std::string block(64 * 1024, 'f');
    for (std::size_t piece = block.size(); piece > 0; piece /= 2)
        while (::write(fd, block.data(), piece) == static_cast<ssize_t>(piece)) {
        }
    ::close(fd);
}


}  // namespace dz::convert::testing

namespace dz::ui {
// A step as a failing check shows it: its number and its values.
inline void PrintTo(const NextStep& next, std::ostream* out) {
    *out << "step " << static_cast<int>(next.step) << " {";
    for (const auto& a : next.args) *out << " \"" << a << "\"";
    *out << " }";
}
}  // namespace dz::ui

namespace dz::convert::testing {

// Records every message box and answers with a fixed answer.
// Data-file calls planned to fail (xio::fail_call) for as long as it lives; none before or after.
class FailingCalls {
public:
    FailingCalls() { xio::clear_faults(); }
    ~FailingCalls() { xio::clear_faults(); }
    FailingCalls(const FailingCalls&) = delete;
    FailingCalls& operator=(const FailingCalls&) = delete;
    // The `nth` call of `call` on a file of `abbr` ("" any) answers `status`.
    FailingCalls& Fail(xio::FaultCall call, int nth, int status, const std::string& abbr = "") {
        xio::fail_call(call, nth, status, abbr);
        return *this;
    }
    bool Spent() const { return xio::faults_spent(); }
};

class RecordingUi : public ui::Ui {
public:
    RecordingUi() { ui::set_current(this); }
    ~RecordingUi() override { ui::set_current(nullptr); }
    int message(int kind, const std::string& text) override {
        boxes.emplace_back(kind, text);
        steps.emplace_back();
        return answer;
    }
    // A box with a next step: its text is what happened, the step beside it.
    int notice(const ui::Notice& n) override {
        message(n.kind, n.text);
        steps.back() = n.next;
        return answer;
    }
    std::vector<std::pair<int, std::string>> boxes;
    std::vector<ui::NextStep> steps;  // of each box
    int answer = 1;
};

}  // namespace dz::convert::testing
