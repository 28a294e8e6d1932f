// A data file left in the middle of a write: the program writing it stopped (killed, a crash)
// after its journal was made and synced and before its commit, so the journal ("<data
// file>-journal") still stands beside it, hot. The data file is whole again only once a
// connection that may write it plays the journal back; a read-only connection cannot, and
// refuses to read the file meanwhile (SQLITE_READONLY_ROLLBACK).
//
// Whether a journal is hot is SQLite's own judgement, asked through a read-only connection: a
// journal of a program still writing (it holds the file's reserved lock) is not hot, nor is one
// left empty or zeroed.
#pragma once

#include "platform/ui/next_step.h"

#include <functional>
#include <string>
#include <vector>

namespace dz::xio {

struct StoppedWrite {
    std::string dataFile;  // its path
    bool takenBack = false;
    std::string why;       // not taken back: why
    ui::NextStep next;     // and what to do
};

struct StoppedWriteRequest {
    std::string dataFolder;
    std::string onlyFile;  // "" every data file of the folder
    bool takeBack = false;  // a writing command: take each write back; a look only finds them
    // Whether this program has the data file open (its connection took the write back already,
    // or holds the file: nothing is done under it).
    std::function<bool(const std::string& dataFile)> openHere;
};

// The data files of the folder left in the middle of a write. With `takeBack`, each is taken
// back under its writer lock (a program holding that lock is writing it, and is left alone): it
// is opened for writing, which plays its journal back, and stands as it was before the stopped
// write.
std::vector<StoppedWrite> settle_stopped_writes(const StoppedWriteRequest& request);

}  // namespace dz::xio
