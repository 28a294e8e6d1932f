// A journal that holds no write (empty, or its header not written yet: SQLite never plays it)
// is written over by the next writer, who makes its own journal at that name, and removed at its
// commit. One this writer may not write over (another's, without write for them), or may not
// remove (another's, in a sticky folder), would fail its first write with no more than a disk
// error: it is named before the file is opened to be written, with its owner and who may remove
// it. A look writes no journal and goes on.
#pragma once

#include "platform/datafile/own_journal.h"
#include "platform/ui/next_step.h"

#include <string>

namespace dz::xio {

struct IdleJournalBar {
    bool barred = false;  // false: nothing idle stands there, or this user may write over it and remove it
    std::string reason;   // the journal, its owner, and what this user may not do with it
    // RemoveJournal {journal, owner} where only its owner (or an administrator) may remove it (a
    // sticky folder); RemoveIdleJournal {journal, owner} where any writer of the folder may.
    ui::NextStep next;
};

// What keeps this user from writing the data file of `judged` (a judgement of Idle), if anything.
IdleJournalBar idle_journal_bar(const JournalJudgement& judged);

}  // namespace dz::xio
