// The journals of writes this program committed, noted beside their data file.
//
// A journal stays hot until SQLite removes it at the end of a commit. A copy of it made before
// the removal and put back after would take the commit back, and by its content it cannot be
// told from the journal of a write stopped inside its commit (both hold the first page one
// change behind the file's). So before a connection of this program removes its journal, once
// the data file is written and synced whole, the journal's nonce (the checksum seed of its first
// header, drawn afresh for every journal) is noted at the head of the data file's lock file, the
// program's own file beside it, and synced: a journal whose nonce is noted is one of a finished
// write (committed, or taken back whole) and is never played. A kill between the note and the
// removal leaves such a journal standing: the file holds that write whole, and the journal is
// only to be removed.
//
// Notes are believed only from a lock file that none but those who may write the data file
// could have written (lock_file_trusted): one anybody else could have written, or put there, is
// read as holding none, and the next note writes its head afresh. A note is lost so, never
// forged: a journal whose note is lost is judged by its content.
//
// A journal removed by another program than this one (the sqlite3 shell) is not noted, and is
// judged by its content. The latest kJournalNotes commits are remembered: an older journal is
// older than the file's last write and is refused by its content (its first page is more than
// one change behind).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace dz::xio {

constexpr int kJournalNotes = 16;

// The nonce of a journal's first header (bytes 12 to 15), when it has a header.
std::optional<uint32_t> journal_nonce(int journalFd);

// Before this program removes the journal of a commit (or of a write rolled back) of `dataFile`:
// true once the note is on the disk. Best effort: a lock file this program does not hold open
// for writing notes nothing, and the journal is removed all the same.
bool note_committed_journal(const std::string& dataFile, uint32_t nonce);

// Whether a journal of `dataFile` with this nonce was noted, by a trusted lock file's head.
bool committed_journal_noted(const std::string& dataFile, uint32_t nonce);

}  // namespace dz::xio
