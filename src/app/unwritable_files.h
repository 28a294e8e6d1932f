// The files a run of one text file must be able to write that this user may not: named all at
// once, when the checks refuse the file, so that one leave asked for lets the next run through
// rather than each run naming the next file.
#pragma once

#include "convert/converter.h"
#include "platform/suite/settings_lock.h"
#include "platform/ui/next_step.h"

#include <string>
#include <vector>

namespace dz::app {

// Every data file of `converter`'s profile that stands and that this user may not write, or
// whose folder they may not write (every one is opened to be written, the ones the run only
// reads included: a prefill too); and, when `settings`, the company's settings and their lock
// file as suite::settings_unwritable names them (`fit`: a writing command, which may make or fit
// the lock file). Each once, in the profile's order (the files its converter opens besides
// them after them), the settings last, every one named as PathAsFound names it.
std::vector<std::string> UnwritableRunFiles(const convert::xvConvert& converter, bool settings, bool fit);

// The open company's settings' lock file where it alone keeps this user's conversion from
// storing its numbers (suite::settings_lock_bar): made or fitted by a writing command (`fit`),
// foretold by a look such as Examine Files; an empty path where it bars nothing.
suite::SettingsLockBar SettingsLockBarred(bool fit);
// What keeps one of `files` from being written that its owner's leave would not lift (what only
// an administrator lifts, a folder whose owner is another), as xio::unwritable_step finds it for
// the first that has such a cause, the data-file layer's `refused` step first where it found one;
// none where each file wants no more than its owner's leave.
ui::NextStep TrueWriteBar(const ui::NextStep& refused, const std::vector<std::string>& files);

// The group the open company's settings would lose were this user to rewrite them (they are not
// of it: suite::settings_refusal), asked for beside the files they may not write; "" for none.
std::string SettingsGroupLost();

// `name` as the person can find it, wherever the command was started: absolute, without "." or
// "..".
std::string PathAsFound(const std::string& name);

}  // namespace dz::app
