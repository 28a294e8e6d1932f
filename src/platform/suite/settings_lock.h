// The company settings' lock file as it bars a rewrite of the settings by itself: said as itself,
// never as the settings being unwritable, and foretold by a look.
#pragma once

#include "platform/suite/company.h"
#include "platform/ui/next_step.h"

#include <string>

namespace dz::suite {

// The settings' lock file where it alone keeps this user, who may replace company.toml, from a
// rewrite of the settings: one they may not open to write and may not make afresh (another's in
// a sticky folder, one held by a program they are not for). `fit`: a writing command, which
// makes or fits it as it opens it; else foretold as such a command would meet it, nothing made.
struct SettingsLockBar {
    std::string path;    // the lock file; "" when it bars nothing
    std::string owner;   // whose it is, as "root (uid 0)"
    std::string why;     // what it is, in words that follow its path ("cannot be opened: ...")
    ui::NextStep next;   // what lifts it
};
SettingsLockBar settings_lock_bar(const Company& company, bool fit);

}  // namespace dz::suite
