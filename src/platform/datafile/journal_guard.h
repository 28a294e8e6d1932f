// SQLite's file layer as this program lets it work (journal_guard.cpp): under every connection it
// opens a data file, the nameless temporary files SQLite sorts and spills in, the journal that
// connection makes and a journal the judge passed (own_journal.h), and nothing else; it removes
// only such a journal (journal_removal.h), and gives no journal an owner or mode (the program
// gives a journal it makes its rights itself). No name SQLite reads from a file (a super journal)
// and nothing planted beside a data file (a write-ahead log, its shared-memory index) is opened
// or removed.
#pragma once

#include <functional>
#include <string>

namespace dz::xio {

// Every connection of this program reaches its files through SQLite's file layer with this guard
// before it: a journal about to be opened or removed is judged first (a journal that is not the
// file's own is neither opened nor removed: the connection's read fails). Installed as SQLite's
// default, once, before any connection opens.
void install_journal_guard();

// Tests: called with a journal's path when SQLite is about to remove it (the commit of a write is
// done on disk, the journal still hot): a child process that ends there leaves a real hot journal.
void set_journal_removal_hook_for_tests(std::function<void(const std::string& journal)> hook);

// Why the removal of `dataFile`'s journal at the end of a commit failed, when it did (the journal
// then stands hot, and the commit failed with it): the system's words, said once; "" otherwise.
std::string journal_removal_failure(const std::string& dataFile);

// What stood at `dataFile`'s journal name when the journal this program made for a write could not
// be linked there (something put there since SQLite saw none), naming it and its owner, said once;
// "" otherwise.
std::string journal_making_failure(const std::string& dataFile);

// Tests: every removal of a journal fails with `error` (0: none), as in a folder made immutable.
void set_journal_removal_error_for_tests(int error);

// Whether the guard is installed (install_journal_guard) and still registered with
// SQLite. False with why in `why`: no data file is opened without it.
bool journal_guard_in_place(std::string* why = nullptr);

// Tests: called with a journal's path once it is judged, before it is opened (what stands there
// may be replaced meanwhile).
void set_journal_open_hook_for_tests(std::function<void(const std::string& journal)> hook);

// Tests: called with the path of a journal a connection has just made, its maker's alone, before
// it is given the data file's owner, group and access list (made without a name, it does not
// stand at its path yet).
void set_journal_made_hook_for_tests(std::function<void(const std::string& journal)> hook);

}  // namespace dz::xio
