// A conversion replaces some of the company's files whole, by renaming a new file over each:
// company.toml when it stores its numbers, a data file put back from its copy (a commit that
// failed, a run that stopped), a lock file it cannot open made afresh; and it removes a data
// file's journal. In a sticky folder the system lets only a file's owner, the folder's owner and
// root do so, and says so only when the rename is tried: after the commits, too late to end whole.
// So a conversion, and Examine Files, which foretells one, is refused before anything is written
// when such a file stands in a sticky folder and this user could not replace it.
//
// Loads and table writes are not refused: they write their data files in place, each in one
// transaction of its own, and replace nothing; a stopped run they meet is judged by the put-back,
// which refuses before it writes when it could not rename a file back.
#pragma once

#include "platform/ui/next_step.h"

#include <string>

namespace dz::convert {

struct StickyRefusal {
    std::string text;    // what keeps the conversion from writing, in the refused command's words
    ui::NextStep next;
    std::string ending;  // how the refused run ends
};
// True when nothing keeps this user from replacing the files a conversion of the current company
// may replace; otherwise `refusal` says which, where, and what to do, in the words of `command`
// (Convert, or Examine Files, which foretells it).
bool ConversionMayReplaceItsFiles(StickyRefusal& refusal, ui::Command command);

}  // namespace dz::convert
