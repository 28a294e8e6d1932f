// A data file left in the middle of a write: the program writing it (a conversion, a load, a
// table save, another program) stopped (killed, a crash) after its journal was made and synced
// and before its commit, so the journal ("<data file>-journal") still stands beside it, hot. The
// data file is whole again only once a connection that may write it plays the journal back; a
// read-only connection cannot, and refuses to read the file meanwhile (SQLITE_READONLY_ROLLBACK).
//
// A journal is played only when it is the file's own (own_journal.h): anything else standing at
// its name is found here too, and never played nor removed.
#pragma once

#include "platform/datafile/own_journal.h"
#include "platform/ui/next_step.h"

#include <functional>
#include <string>
#include <vector>

namespace dz::xio {

struct StoppedWrite {
    enum class State {
        Stopped,    // left in the middle of a write, not taken back now: `why` and `next` say why
        TakenBack,  // taken back from its journal: the file stands as it was before that write;
                    // `why`: what else to know (the journal's other names), or ""
        NotItsJournal,  // what stands at the journal's name is not the file's own: `why`, `next`
        IdleRemoved,    // a journal that held no write, of other names, removed: `why` says those
                        // names, which hold nothing
    };
    std::string dataFile;  // its path
    State state = State::Stopped;
    std::string why;
    ui::NextStep next;
};

struct StoppedWriteRequest {
    std::string dataFolder;
    std::string onlyFile;  // "" every data file of the folder
    bool takeBack = false;  // a writing command: take each write back; a look only finds them
    // Whether this program has the data file open (its connection took the write back already,
    // or holds the file: nothing is done under it).
    std::function<bool(const std::string& dataFile)> openHere;
};

// The data files of the folder left in the middle of a write, and those beside which stands a
// journal that is not theirs. With `takeBack`, each write is taken back under the file's writer
// lock (a program holding that lock is writing it, and is left alone): the file is opened for
// writing, which plays its journal back, and stands as it was before the stopped write. A user
// who may not write the file, its folder or its journal, or remove the journal, is told who may.
std::vector<StoppedWrite> settle_stopped_writes(const StoppedWriteRequest& request);

// Who takes back the stopped write whose journal is judged `journal` (Own, or Unread): this
// user's writing command, or, when this user may not write the file, its journal or its folder,
// or may not remove the journal from a sticky folder, the command of the file's owner (the
// journal's, when this user may not read it or the sticky folder keeps the file's owner from
// removing it) or an administrator's.
ui::NextStep take_back_step(const JournalJudgement& journal);

// Tests: called once a stopped write's writer lock is taken, before its journal is judged again.
void set_take_back_hook_for_tests(std::function<void(const std::string& dataFile)> hook);
// Tests: called once a stopped write is taken back, before the check of the file it left.
void set_take_back_check_hook_for_tests(std::function<void(const std::string& dataFile)> hook);

}  // namespace dz::xio
