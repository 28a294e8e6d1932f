// Why a save of a table did not happen, in the words of the editor's boxes or of the command
// line, with the step that gets the table saved; and the notice of an editor that may not save
// at all.
//
// A save is all or nothing (see master_file.h), so the words can say that nothing of it was
// written: in the editor the changes are still there; a command's are not kept anywhere.
#pragma once

#include "platform/ui/next_step.h"

#include <cstdint>
#include <string>

namespace dz::tables {

// The cause of a failed write on MASTER.XVM, taken where it failed: a rollback forgets that
// the disk was full.
struct SaveFailure {
    enum class Cause { Unwritable, DiskFull, InUse, Other };
    Cause cause = Cause::Other;
    std::string detail;  // the data-file layer's words (InUse, Other)
    // The data-file layer's own step where waiting or saving again never helps (a journal its
    // commit could not remove, which only an administrator lets go): said in place of those. For
    // a file that may not be written: what truly keeps it (xio::unwritable_step).
    ui::NextStep next;
};

// The failure that status `status` of a write on handle `h` stands for.
SaveFailure SaveFailureOf(uint16_t h, int status);
// One that comes before any write: the file may not be written by this user.
SaveFailure UnwritableFailure();
// Whether this user may write MASTER.XVM and make its journal beside it now (the editor opened it
// earlier: the right may have been taken away since).
bool MayWriteNow();

// The box of a failed save (13702): the file, the cause and the step; `command` is the
// command to choose again ("Save", "Save As"). In the command line's voice (13862 with its step)
// nothing is said to stay anywhere: the command kept nothing and is run again.
std::string SaveFailureText(const SaveFailure& failure, const std::string& command,
                            ui::Voice voice = ui::Voice::Desktop);
// The cause and the step alone (13703), under words that already say the table was not saved.
std::string SaveFailureDetail(const SaveFailure& failure, const std::string& command);

// What the editor says of itself when the table file may not be written (13701), and what the
// reader can do about it (13975): the editor, opened read-only, stays so until opened again.
std::string ReadOnlyNotice();
std::string ReadOnlyStep();

}  // namespace dz::tables
