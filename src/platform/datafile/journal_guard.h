// SQLite's file layer as this program lets it work (journal_guard.cpp): under every connection it
// opens a data file, the nameless temporary files SQLite sorts and spills in, the journal that
// connection makes and a journal the judge passed (own_journal.h), and nothing else; it removes
// only such a journal. No name SQLite reads from a file (a super journal) and nothing planted
// beside a data file (a write-ahead log, its shared-memory index) is opened or removed.
#pragma once

#include <functional>
#include <string>

namespace dz::xio {

// Whether the guard is installed (install_journal_guard, own_journal.h) and still registered with
// SQLite. False with why in `why`: no data file is opened without it.
bool journal_guard_in_place(std::string* why = nullptr);

// Tests: called with a journal's path once it is judged, before it is opened (what stands there
// may be replaced meanwhile).
void set_journal_open_hook_for_tests(std::function<void(const std::string& journal)> hook);

}  // namespace dz::xio
