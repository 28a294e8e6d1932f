// The journals of writes this program committed, noted beside their data file.
//
// A journal stays hot until SQLite removes it at the end of a commit. A copy of it made before
// the removal and put back after would take the commit back, and by its content it cannot be
// told from the journal of a write stopped inside its commit (both hold the first page one
// change behind the file's). So once a connection of this program has removed its journal, the
// journal's nonce (the checksum seed of its first header, drawn afresh for every journal) is
// noted at the head of the data file's lock file, the program's own file beside it: a journal
// whose nonce is noted is one of a committed write and is never played.
//
// A kill between the removal and the note leaves no journal to play; a journal removed by
// another program than this one (the sqlite3 shell) is not noted, and is judged by its content.
// The latest kJournalNotes commits are remembered: an older journal is older than the file's
// last write and is refused by its content (its first page is more than one change behind).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace dz::xio {

constexpr int kJournalNotes = 16;

// The nonce of a journal's first header (bytes 12 to 15), when it has a header.
std::optional<uint32_t> journal_nonce(int journalFd);

// After this program removed the journal of a commit (or of a write rolled back) of `dataFile`.
// Best effort: a lock file this program cannot write (it then wrote nothing) notes nothing.
void note_committed_journal(const std::string& dataFile, uint32_t nonce);

// Whether a journal of `dataFile` with this nonce was removed by a commit of this program.
bool committed_journal_noted(const std::string& dataFile, uint32_t nonce);

}  // namespace dz::xio
