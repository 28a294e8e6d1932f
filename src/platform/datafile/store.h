// Inside the data-file library: one SQLite database per data file.
//
// On-disk schema (rollback-journal mode, never WAL, so that a closed data file is one complete
// file that can be copied, deleted and renamed whole):
//
//   dz_meta(name TEXT PRIMARY KEY, value TEXT)
//       'format'     "dodedoz-datafile"       (anything else: not a data file of ours)
//       'abbr'       abbreviation of the dictionary ("GLM")
//       'file_no'    file number
//       'dictionary' version of the dictionary the schema was last brought up to; a file whose
//                    version is newer than the loaded dictionary is refused as "old version or
//                    corrupt"; an older one is brought up to date when it is opened to be
//                    written (a read-only open reads it as it is, see xio.h)
//   r<N>  one table per record type N; one column per field, named after the field; the rowid
//         identifies a record for locks and cursors
//   h<N>  one table per header N, holding the single row id = 1, columns as for records
//   dz_notes(rec INTEGER, keytext TEXT, text TEXT, PRIMARY KEY(rec, keytext))
//         notes of the record of type rec whose primary key folds to keytext (key values
//         joined by U+001F, text values upper-cased)
//
// The header's user version holds the file's identity: a number drawn when the file is made (or
// at its first write, when it has none) and written again at the start of every write
// transaction, so that the write's journal saves the file's first page first and a journal can be
// told to be this file's own (own_journal.h).
//
// Column types by field type:
//   text (0, 5)            TEXT COLLATE NOCASE NOT NULL DEFAULT ''  trailing blanks trimmed,
//                          '' = blank; NOCASE makes every key compare and sort without regard
//                          to (ASCII) letter case while the stored spelling is kept
//   number (1, 6)          REAL NOT NULL DEFAULT 0
//   logical (2), choice (7, 8, 9)   INTEGER NOT NULL DEFAULT 0
//   date (3)               INTEGER yyyymmdd, 0 blank (day 0 with a month is allowed)
//   time (4)               INTEGER hhmmss
//
// Indexes (all named "dzk_..."; dropped and rebuilt when the dictionary version changes; only
// names of exactly these forms are dropped, never SQL built from other names found in a file):
//   dzk_r<N>_0   UNIQUE on the primary key of record type N
//   dzk_<K>      file key K: UNIQUE on its fields; a non-unique key is a plain index over its
//                fields followed by the primary key's; a unique key that allows blanks gets a
//                UNIQUE partial index over its non-blank values (dzk_<K>_u) and the plain one
// Walks run in key order; records with equal non-unique keys follow their primary keys.
// A bulk load (more than 4096 records added to a record type whose table was empty at its first
// insert of a write transaction) drops that table's indexes inside the transaction and makes
// them again before any other use of the table and before the commit; meanwhile hashes of the
// key values refuse duplicates. A file on disk therefore always has every index. Meanwhile the
// rows are inserted by a second thread of the connection, in the order they were added, while the
// program goes on; it waits for them before any other use of the file's connection.
//
// Connections and transactions: one connection per data file and program, shared by all its
// handles. With writes started, the first write opens BEGIN IMMEDIATE and everything stays in
// that transaction until commit, end of writes or close. Before the first write, the reads of
// a handle with writes started run in one read transaction (BEGIN), so that Examine Files does
// not take the file's shared lock for every read; a write ends it (it is committed, not raised)
// before its own transaction starts, and commit, rollback, end of writes and close end it too.
// Files with `multi_user` never hold one. Without writes started each write commits by itself.
// Another program's reads see only committed data; a write of another program waits up to
// 2 seconds for an open transaction, read or write, and then answers XIO_LOCKED. The page cache
// is 32 MB per connection. Cross-process locks (a lock file beside each data file) are in
// locks.h.
#pragma once

#include "platform/datafile/dictionary.h"
#include "platform/datafile/xio.h"

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;

namespace dz::xio {

// Test hooks.
// Limits the database to `pages` pages so that a write runs into "disk full".
int set_max_pages(uint16_t h, int pages);
// The SQLite connection behind a handle (nullptr when not open).
::sqlite3* connection(uint16_t h);
// Two texts compared as the data files' NOCASE indexes order them (the sign tells).
int nocase_compare(std::string_view a, std::string_view b);
// The number of count statements run so far (record counts and relative positions): each
// costs a walk over the records it counts.
int64_t count_queries();

// The calls a test can make fail.
// QueuedRecord is an add handed to the connection's writer during a bulk load: it fails on the
// writer, and a later call answers the failure.
enum class FaultCall { StartWrites, WriteRecord, ReplaceRecord, DeleteRecord, WriteHeader, Commit, FindRecord, QueuedRecord };
// Plans a failure: the `nth` call (1 = the next) of `call` on a file of dictionary `abbr` (""
// any file) answers `status` without doing anything. Each plan fails once; plans add up. Only a
// commit with writes to commit counts as a call of Commit.
void fail_call(FaultCall call, int nth, int status, const std::string& abbr = "");
// Drops every plan.
void clear_faults();
// Whether every planned failure has happened.
bool faults_spent();

}  // namespace dz::xio
