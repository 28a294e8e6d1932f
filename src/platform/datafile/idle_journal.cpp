#include "platform/datafile/idle_journal.h"

#include "platform/datafile/sticky_folder.h"
#include "platform/datafile/users.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace dz::xio {

IdleJournalBar idle_journal_bar(const JournalJudgement& judged) {
    IdleJournalBar bar;
    if (judged.kind != JournalKind::Idle) return bar;
    const bool unwritable = ::faccessat(AT_FDCWD, judged.journal.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES;
    const bool kept = sticky_bar(judged.journal).barred;
    if (!unwritable && !kept) return bar;
    bar.barred = true;
    const std::string owner = user_name(judged.owner);
    const std::string barredFrom = unwritable && kept ? "write over nor remove (its folder is sticky)"
                                   : unwritable       ? "write over"
                                                      : "remove (its folder is sticky)";
    bar.reason = judged.journal + " is a journal of " + owner + " that holds no write (it is never played), which you "
                 "may not " + barredFrom + ": " + judged.dataFile + " is not written while it stands, as every write "
                 "makes its journal at that name";
    bar.next = {kept ? ui::Step::RemoveJournal : ui::Step::RemoveIdleJournal, {judged.journal, owner}};
    return bar;
}

}  // namespace dz::xio
