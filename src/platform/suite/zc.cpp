#include "platform/suite/zc.h"

#include "platform/datafile/stored_number.h"
#include "platform/datafile/xio.h"
#include "platform/suite/company.h"
#include "platform/suite/control.h"
#include "platform/suite/internal.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>

namespace dz::suite {

namespace {

enum class Counter { LastRun, Batch };

std::map<std::string, std::uint32_t>& pick(Counter which, CompanySettings& s) {
    return which == Counter::LastRun ? s.last_run : s.batch_numbers;
}

// Takes the next value of a counter of the company's settings file and answers it. The value
// numbers on from the file as it is now (another program may have raised it), or from what
// this run took already; the file itself changes only at zc_store_counters.
std::optional<std::uint32_t> raise_counter(Counter which, const std::string& key, int by) {
    Company* c = current_company();
    if (!c) return std::nullopt;
    auto& taken = c->taken_counters;
    auto it = taken.find({which == Counter::Batch, key});
    if (it == taken.end()) {
        std::uint32_t found = 0;
        try {
            CompanySettings disk = read_settings(c->settings_file());
            found = pick(which, disk)[key];
        } catch (const SettingsError&) {
            return std::nullopt;
        }
        it = taken.emplace(std::make_pair(which == Counter::Batch, key), Company::TakenCounter{found, found}).first;
    }
    it->second.value += static_cast<std::uint32_t>(by);
    pick(which, c->settings())[key] = it->second.value;
    return it->second.value;
}

const char* module_code(BatchModule m) {
    switch (m) {
        case BatchModule::AP: return "AP";
        case BatchModule::GL: return "GL";
        case BatchModule::JC: return "JC";
    }
    return "";
}

struct OpenBatch {
    std::function<void()> endCallback;
};

std::map<std::uint32_t, OpenBatch>& open_batches() {
    static std::map<std::uint32_t, OpenBatch> batches;
    return batches;
}

}  // namespace

std::uint16_t zc_interface_active(std::string_view source, std::string_view destination) {
    xc_interface_def def{std::string(source), std::string(destination), 0};
    return xc_get_interface_def(def) ? 1 : 0;
}

std::uint16_t zc_create_entries(std::string_view source, std::string_view destination) {
    xc_interface_def def{std::string(source), std::string(destination), 0};
    return xc_get_interface_def(def) && def.createEntries ? 1 : 0;
}

double zc_increment_lastrun(std::uint16_t, std::uint16_t handle, int by) {
    xio_file_def def;
    if (!current_company() || xio_get_def(handle, def) != XIO_OK) return 0;
    const std::uint16_t fld = xio_num(handle, XIO_NUM_HEADER, 1, "LASTRUN");
    if (fld != 0) {
        if (xio_rd_header(handle, 1, 1) != XIO_OK) return 0;
        x_value_def v;
        xio_get_field(handle, 0, fld, v);  // record 0: the header that owns the field
        // A number from the file may be anything: one that is not a whole number, or that its
        // field cannot hold once raised, is not raised (1e16 + 1 would be 1e16 again).
        xio_fld_def field;
        const bool raisable = xio_get_fld_def(handle, fld, field) == XIO_OK && xio_fits_field(field, v.number) &&
                              xio_fits_field(field, v.number + by);
        v.number += by;
        if (!raisable || xio_put_field(handle, 0, fld, v) != XIO_OK || xio_wr_header(handle, 1) != XIO_OK) {
            xio_free_header(handle, 1);
            return raisable ? 0 : -1;
        }
        return v.number;
    }
    auto v = raise_counter(Counter::LastRun, def.abbr + std::to_string(def.fileNo), by);
    return v ? static_cast<double>(*v) : 0;
}

std::uint32_t zc_next_run(std::uint16_t taskId, std::uint16_t handle, bool* unraisable) {
    const double raised = zc_increment_lastrun(taskId, handle, 1);
    if (unraisable) *unraisable = raised < 0;
    return xio_whole_part<std::uint32_t>(raised, 0, 1);
}

double zc_round(double value) { return std::round(value); }

std::string zc_alpha_number(double value, int decimals, int format) {
    if (decimals < 0) decimals = 0;
    if (decimals > 9) decimals = 9;
    const double shown = value / std::pow(10.0, decimals);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, std::fabs(shown));
    std::string digits(buf);
    if (format == 1) {
        std::size_t point = digits.find('.');
        std::size_t int_len = point == std::string::npos ? digits.size() : point;
        for (std::size_t i = int_len; i > 3; i -= 3) digits.insert(i - 3, ",");
    }
    bool negative = shown < 0 && digits.find_first_not_of("0.,") != std::string::npos;
    return negative ? "-" + digits : digits;
}

int zb_process_batch(const zb_batch_request& request) {
    const char* module = module_code(request.module);
    if (!current_company() || !xa_appl_installed(module) || request.masterFile == 0 ||
        request.moduleFiles.empty() || request.moduleFiles.front() == 0) {
        return kTaskStatusFailed;
    }
    auto number = raise_counter(Counter::Batch, module, 1);
    if (!number) return kTaskStatusFailed;
    static std::uint32_t next_id = 0;
    zb_batch_record record;
    record.module = request.module;
    record.taskId = request.taskId;
    record.appCode = request.appCode.substr(0, 2);
    char text[16];
    std::snprintf(text, sizeof text, "%06u", static_cast<unsigned>((*number - 1) % 999999 + 1));  // 1..999999, then again
    record.batchText = record.appCode + text;
    record.id = ++next_id;
    open_batches()[record.id] = OpenBatch{request.endCallback};
    if (request.recordCallback) request.recordCallback(record);
    return kTaskStatusOk;
}

void zb_term_batch(zb_batch_record& record) {
    auto it = open_batches().find(record.id);
    record.id = 0;
    if (it == open_batches().end()) return;
    auto end = std::move(it->second.endCallback);
    open_batches().erase(it);
    if (end) end();
}

std::size_t zb_open_batches() { return open_batches().size(); }

bool zc_counters_taken() {
    const Company* c = current_company();
    return c && !c->taken_counters.empty();
}

CounterStore zc_store_counters(SettingsFailure* failure) {
    Company* c = current_company();
    if (!c || c->taken_counters.empty()) return CounterStore::Stored;
    const auto& taken = c->taken_counters;
    auto counter = [](CompanySettings& s, const std::pair<bool, std::string>& which) -> std::uint32_t& {
        return pick(which.first ? Counter::Batch : Counter::LastRun, s)[which.second];
    };
    bool clash = false;
    SettingsFailure why;
    const bool ok = update_settings_file(
        *c,
        [&](CompanySettings& disk) {
            // A number another program stored meanwhile went to its run: this run may not keep it.
            for (const auto& [which, t] : taken)
                if (counter(disk, which) != t.found) clash = true;
            if (clash) return false;
            for (const auto& [which, t] : taken) counter(disk, which) = t.value;
            return true;
        },
        [](const CompanySettings& disk, CompanySettings& mem) {
            mem.last_run = disk.last_run;
            mem.batch_numbers = disk.batch_numbers;
        },
        &why);
    if (ok) {
        c->taken_counters.clear();
        return CounterStore::Stored;
    }
    if (clash) return CounterStore::TakenElsewhere;
    if (failure) *failure = why;
    return why.error == ENOSPC ? CounterStore::DiskFull : CounterStore::Failed;
}

void zc_give_back_counters() {
    Company* c = current_company();
    if (!c) return;
    for (const auto& [which, t] : c->taken_counters)
        pick(which.first ? Counter::Batch : Counter::LastRun, c->settings())[which.second] = t.found;
    c->taken_counters.clear();
}

}  // namespace dz::suite
