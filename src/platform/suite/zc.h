// Accounting helpers and batches of the open company.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/next_step.h"

namespace dz::suite {

// Non-zero when the interface from `source` to `destination` is turned on.
std::uint16_t zc_interface_active(std::string_view source, std::string_view destination);
// Non-zero when `source` creates entries in `destination` (the interface is on and creates).
std::uint16_t zc_create_entries(std::string_view source, std::string_view destination);

// Raises the last run number of the open data file `handle` by `by` and returns the new
// number. The number lives in the file's header field LASTRUN when its header 1 has one,
// else in the company's settings (counters.last_run, by abbreviation and file number), where
// it is taken as batch numbers are (zc_store_counters).
// Returns 0 when it cannot be raised (no company, bad handle, header locked, file unwritable),
// and -1, changing nothing, when LASTRUN is not a whole number or the raised number no longer
// fits the field (its digits, its sign).
double zc_increment_lastrun(std::uint16_t taskId, std::uint16_t handle, int by);
// The run number of a new run of the open data file `handle`: its last run number raised by one
// (zc_increment_lastrun). 0 when it cannot be raised: a run number is never 0 and never wraps.
// `unraisable` (when given) is set when the number itself could not be raised (-1 above), as
// against a header that could not be read or written.
std::uint32_t zc_next_run(std::uint16_t taskId, std::uint16_t handle, bool* unraisable = nullptr);

// Rounds an amount held in cents to a whole number of cents, halves away from zero.
double zc_round(double value);
// A number field shown as text: the stored value holds `decimals` implied decimals (cents for
// money), so it is divided by 10^decimals and written with that many decimals; format 1
// groups thousands with commas. A negative value has a leading "-".
std::string zc_alpha_number(double value, int decimals, int format);

// ---- Batches ------------------------------------------------------------------------------

enum class BatchModule : std::uint16_t { AP = 1, GL = 4, JC = 8 };

// The batch record the library hands back through the record callback and takes again to
// end the batch. A record with id 0 names no open batch.
struct zb_batch_record {
    BatchModule module = BatchModule::GL;
    std::uint16_t taskId = 0;
    std::string appCode;
    std::string batchText;  // at most 10 characters
    std::string taskName;
    std::uint32_t id = 0;
};

struct zb_batch_request {
    BatchModule module = BatchModule::GL;
    std::uint16_t taskId = 0;
    std::uint16_t masterFile = 0;             // GLM, JCM or APM handle
    std::string appCode = "XV";
    std::vector<std::uint16_t> moduleFiles;  // GL: GLT; JC: JCT; AP: APM then CMT (or 0)
    std::function<void(const zb_batch_record&)> recordCallback;
    std::function<void()> endCallback;
};

inline constexpr int kTaskStatusOk = 0;
inline constexpr int kTaskStatusFailed = 3;

// Registers a batch with the module's next batch number (taken, see zc_store_counters) and
// calls the record callback once
// with the batch record. Answers the task status: kTaskStatusFailed (and no callback) when
// no company is open, the module is not installed, a file handle is missing or the batch
// number cannot be stored.
int zb_process_batch(const zb_batch_request& request);
// Ends the batch of `record` (running its end callback) and clears its id. A record that
// names no open batch, or one ended already, is accepted and nothing happens.
void zb_term_batch(zb_batch_record& record);
// Number of batches registered and not yet ended.
std::size_t zb_open_batches();

// ---- Numbers taken by a run ----------------------------------------------------------------
// Batch numbers, and run numbers kept in the company's settings, are taken in memory: each
// numbers on from the settings file as it was when first taken, and the file is written only
// when the run keeps its data (zc_store_counters), so a run killed or failed before that
// leaves the file as it was and its rerun takes the same numbers. Until then the open
// company's settings show the numbers taken.

// True while numbers are taken and neither stored nor given back.
bool zc_counters_taken();

enum class CounterStore {
    Stored,          // written (also when nothing was taken)
    TakenElsewhere,  // another program stored one of these counters meanwhile: nothing written
    DiskFull,        // the settings file could not be written for lack of space
    Failed,          // the settings file could not be read or written
};
// Why the settings file could not be changed: the cause in words (the lock file of the
// settings and who holds it, or why it cannot be opened; a write's error), and what a person
// can do next.
struct SettingsFailure {
    int error = 0;  // the system's error number (ENOSPC: the disk is full; EWOULDBLOCK: the lock was held)
    std::string cause;
    ui::NextStep next;
};
// Writes every number taken into the settings file, under the company lock, after checking
// that no counter changed there since it was taken (two runs never keep one number). The
// numbers stay taken when it fails: give them back. `failure` (when given) says why it failed.
CounterStore zc_store_counters(SettingsFailure* failure = nullptr);
// Forgets every number taken: the next run takes them again.
void zc_give_back_counters();

}  // namespace dz::suite
