// What to do about a report or notes file that took no more (ENOSPC).
#pragma once

#include "platform/ui/next_step.h"

#include <string>

namespace dz::ui {

// Free space on the disk holding `file`, or name another file; for a device (/dev/full), which
// is no file on a disk, only another file. `file` is named as given.
NextStep full_output_step(const std::string& file, bool notes);
// Whether `next` is one full_output_step gives: what to do about the report or notes file.
bool about_full_output(const NextStep& next);
// Whether `next` names a device that took no more (/dev/full): what it answered is its own, said
// in the system's words for its error ("No space left on device"), never a disk it is not.
bool about_device(const NextStep& next);

}  // namespace dz::ui
