// Record I/O on the suite's data files.
//
// A data file is opened into a handle (u16, 0 = not open). Each handle has one record buffer
// and one cursor per record type, and one buffer per header. Fields are addressed by
// file-global numbers (xio_num); record argument 0 in the field calls means "the record type
// or header that owns the field". Every call answers one of the status codes below.
//
// Writes made between xio_start_writes and xio_end_writes are grouped into one transaction
// that stays open until xio_commit, xio_end_writes or xio_cls_file; xio_rollback drops every
// write since the last commit. Without xio_start_writes each write commits by itself. A
// process that dies leaves every data file as it was at its last commit. All handles of this
// program on one data file share its transaction: they see each other's writes at once, and a
// commit or rollback on any of them covers all of them. Closing a handle commits unless
// another handle on the file still has writes started.
//
// Record and header locks hold across processes: a lock held by another handle (in this or
// another live process) answers XIO_LOCKED; locks of a process that died are cleared. A data
// file on which another program has started writes is "in use" (XIO_LOCKED) to xio_ask_file
// and xio_open_file, except files whose dictionary says multi_user (MASTER.XVM).
#pragma once

#include "platform/datafile/x_value.h"
#include "platform/ui/next_step.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dz {
namespace xio {
struct Dictionary;
}


// ---- Status codes -------------------------------------------------------------------------
inline constexpr int XIO_OK = 0;             // done, found, read
inline constexpr int XIO_NO_FILE = 3;        // the data file does not exist
inline constexpr int XIO_DISK_FULL = 5;      // disk full; the write did not happen
inline constexpr int XIO_LOCKED = 7;         // locked by another user, or the file is in use
inline constexpr int XIO_END_OLD = 9;        // old end-of-file code: never produced, callers accept it
inline constexpr int XIO_END = 10;           // no further record; no further notes piece
inline constexpr int XIO_NOT_FOUND = 11;     // not found
inline constexpr int XIO_DUPLICATE = 11;     // on add/replace: duplicate key (key number comes back)
inline constexpr int XIO_OPTIONAL_ABSENT = 13;  // reserved for an optional file that is absent
// Codes of our own (all distinct from 11, which callers read as "not found"):
inline constexpr int XIO_CORRUPT = 20;       // not a data file of ours, or written by a newer
                                             // dictionary: "is either an old version or corrupt"
inline constexpr int XIO_IO_ERROR = 21;      // any other failure of the store
inline constexpr int XIO_BAD_CALL = 22;      // bad handle, record, header, field or key number;
                                             // replace/delete with no current record
inline constexpr int XIO_NO_DICTIONARY = 23; // no dictionary for the abbreviation, or it has errors

// ---- Field types --------------------------------------------------------------------------
inline constexpr uint16_t XIO_TYPE_TEXT = 0;        // text
inline constexpr uint16_t XIO_TYPE_NUMBER = 1;      // number (signed or not, length, decimals)
inline constexpr uint16_t XIO_TYPE_LOGICAL = 2;     // yes/no
inline constexpr uint16_t XIO_TYPE_DATE = 3;        // date
inline constexpr uint16_t XIO_TYPE_TIME = 4;        // time
inline constexpr uint16_t XIO_TYPE_RIGHT_TEXT = 5;  // text, right-aligned in its display width
inline constexpr uint16_t XIO_TYPE_EDITED = 6;      // number shown through an edit mask
inline constexpr uint16_t XIO_TYPE_CHOICE2 = 7;     // choice, 2-digit item number
inline constexpr uint16_t XIO_TYPE_CHOICE3 = 8;     // choice, 3-digit item number
inline constexpr uint16_t XIO_TYPE_CHOICE3B = 9;    // choice, 3-digit item number

inline bool xio_is_text_type(uint16_t t) { return t == XIO_TYPE_TEXT || t == XIO_TYPE_RIGHT_TEXT; }
inline bool xio_is_choice_type(uint16_t t) { return t >= XIO_TYPE_CHOICE2 && t <= XIO_TYPE_CHOICE3B; }
inline bool xio_is_number_type(uint16_t t) { return t == XIO_TYPE_NUMBER || t == XIO_TYPE_EDITED; }

// Key kind of a text key field that receives a new identifier when it is empty.
inline constexpr uint16_t XIO_KEY_KIND_NEW_ID = 177;

// xio_num kinds.
inline constexpr uint16_t XIO_NUM_HEADER_ALIAS = 0;  // n = 0: a field of header 1
inline constexpr uint16_t XIO_NUM_HEADER = 1;        // n = header number
inline constexpr uint16_t XIO_NUM_RECORD = 2;        // n = record type

// xio_file_exists kinds.
inline constexpr uint16_t XIO_EXISTS_MASTER = 0;   // MASTER.<abbr>
inline constexpr uint16_t XIO_EXISTS_SETTING = 1;  // SETTING.<abbr>

// ---- Requests and definitions -------------------------------------------------------------

// Open a data file by abbreviation and file number (or by request code alone, abbr empty).
struct xio_ask_request {
    uint16_t command = 0;   // the asking task's command id (kept for messages; not needed to open)
    std::string abbr;       // "GLM", "XVM", ... (at most 3 characters)
    uint16_t fileNo = 0;    // file number within the abbreviation
    uint16_t flag = 0;      // caller's flag word (no effect on opening)
    uint16_t fileCode = 0;  // request code of the file-code registry; used when abbr is empty
    bool create = false;    // create the file (empty) when it does not exist
    bool readOnly = false;  // open read-only (see xio_read_only_scope); never creates
};

// xio_get_def
struct xio_file_def {
    std::string path;          // full path of the open file
    std::string abbr;          // abbreviation
    uint16_t fileNo = 0;       // file number
    uint16_t keyCount = 0;     // number of file keys (1..keyCount; key 0 is each record's primary)
    uint16_t recordCount = 0;  // record types are the numbers listed in recordNumbers
    uint16_t headerCount = 0;
    uint16_t fieldCount = 0;   // fields are numbered 1..fieldCount
    std::vector<uint16_t> recordNumbers;
    std::vector<uint16_t> headerNumbers;
};

// xio_get_rec_def (also used for headers through xio_get_header_def)
struct xio_rec_def {
    uint16_t number = 0;
    std::string name;
    uint16_t firstField = 0;  // fields of the record are firstField..lastField, consecutive
    uint16_t lastField = 0;
    std::vector<uint16_t> primaryKeyFields;  // empty for a header
};

// xio_get_key_def
struct xio_key_def {
    uint16_t number = 0;
    std::string name;       // at most 50 characters
    uint16_t record = 0;    // the record type the key belongs to
    bool unique = true;
    bool blankAllowed = false;  // an all-blank key value is allowed (and never a duplicate)
    bool excluded1 = false;     // excluded from the duplicate search
    bool excluded2 = false;     // excluded from the duplicate search
    std::vector<uint16_t> fields;
};

// xio_get_fld_def
struct xio_fld_def {
    uint16_t number = 0;
    std::string name;         // at most 7 characters
    std::string description;  // label used in messages
    uint16_t type = 0;        // XIO_TYPE_*
    uint16_t length = 0;      // bytes of a text; digits of a number
    uint16_t displayWidth = 0;
    uint16_t decimals = 0;
    // Decimals a text file may give (at least `decimals`): the fraction beyond them reaches the
    // conversion in the field's own scale, which cuts or refuses it.
    uint16_t importDecimals = 0;
    bool isSigned = false;
    uint16_t keyFormat = 0;   // custom description number (9 GL account, 16 job, ...), 0 none
    uint16_t keySection = 0;  // section of the key format the value holds (GL: 7 a base account),
                              // 0 the whole value; decides how the value is shown
    uint16_t keyKind = 0;     // XIO_KEY_KIND_NEW_ID or 0
    uint16_t udFlag = 1;      // 0 marks a user-defined-field target; key fields are non-zero
    uint16_t record = 0;      // owning record type, 0 for a header field
    uint16_t header = 0;      // owning header, 0 for a record field
    x_value_def defaultValue;
    std::vector<std::string> items;  // choice texts; items[0] is item 1
};

// ---- Dictionary and file locations --------------------------------------------------------

// The folder that holds the data files of an abbreviation (the company's file control).
// Set by whoever opens a company; xio_ask_file and xio_file_exists answer XIO_NO_FILE while
// no resolver is set.
using xio_file_control = std::function<std::filesystem::path(const std::string& abbr)>;
void xio_set_file_control(xio_file_control resolver);

// Loads every dictionary of a folder (default: <data folder>/dictionary, loaded on first use).
// Returns false with "file:line: reason" in `error` when a dictionary is faulty.
bool xio_load_dictionaries(const std::filesystem::path& folder, std::string& error);

// Abbreviations with a dictionary, sorted.
std::vector<std::string> xio_dictionary_abbrs();

// The registry name of a data file ("MASTER.GLM"); empty when unknown.
std::string xio_file_name(const std::string& abbr, uint16_t fileNo);

// Resolves a request code of the file-code registry to abbreviation and file number.
bool xio_registry_lookup(uint16_t fileCode, std::string& abbr, uint16_t& fileNo);

// Creates a new, empty data file (headers at their defaults) at `path`. XIO_LOCKED when the
// path already exists.
int xio_create_file(const std::string& abbr, uint16_t fileNo, const std::filesystem::path& path);

// Detail of the last failure (dictionary error with file and line, store error), for messages.
std::string xio_error_text();
// Whether the last failure was a data file refused because this user may not write it or its
// folder (answered XIO_LOCKED, as a file in use is): a message can then say so.
bool xio_error_unwritable();
// What the person can do about the last failure, when the layer knows it (Step::None otherwise):
// a value that each front end words its own way, never part of xio_error_text.
ui::NextStep xio_error_next_step();
// Forgets the last failure (its text, its cause and its step): what is read after the next call
// is then that call's own, and nothing when it failed without words.
void xio_forget_error();

// ---- Opening and closing ------------------------------------------------------------------
// xio_ask_file: XIO_NO_FILE when missing (and not to be created), XIO_LOCKED when another
// program is writing it or it is read-only, XIO_CORRUPT when it is not a data file of ours.
//
// Read-only opening (Examine Files, dump, the table listings: everything that must write
// nothing): a handle opened read-only never changes its file. A file written under an older
// version of the dictionary is not upgraded: a field it lacks reads as the field's default, and
// a file that lacks a whole record type or header is refused (XIO_CORRUPT, with a message saying
// that a conversion will upgrade it). Writes on a read-only handle answer XIO_LOCKED.
// A handle is read-only when xio_ask_request::readOnly is set, when xio_open_file is given
// XIO_OPEN_READ_ONLY, or when it is opened while an xio_read_only_scope lives.
inline constexpr uint16_t XIO_OPEN_READ_WRITE = 1;
inline constexpr uint16_t XIO_OPEN_READ_ONLY = 2;
int xio_ask_file(const xio_ask_request& req, uint16_t& handle);
int xio_open_file(const std::filesystem::path& path, uint16_t mode, uint16_t& handle);
// While one of these lives, every data file this program opens is opened read-only. A look
// needs only read permission; one made `foretell` (Examine Files, which foretells a conversion)
// also refuses, as unwritable, a file this user may not write.
class xio_read_only_scope {
public:
    explicit xio_read_only_scope(bool foretell = false);
    ~xio_read_only_scope();
    xio_read_only_scope(const xio_read_only_scope&) = delete;
    xio_read_only_scope& operator=(const xio_read_only_scope&) = delete;

private:
    bool foretell_;
};
bool xio_is_read_only(uint16_t h);
[[nodiscard]] int xio_start_writes(uint16_t h);
[[nodiscard]] int xio_end_writes(uint16_t h);  // commits
[[nodiscard]] int xio_commit(uint16_t h);      // makes every write since the last commit permanent
// Starts, beside the caller, the work the next commit of `h` would do first (making the indexes
// its bulk loads set aside), so that the commits of several files overlap. Nothing else changes:
// xio_commit waits for it and answers its failure; a rollback drops it.
void xio_start_commit(uint16_t h);
[[nodiscard]] int xio_rollback(uint16_t h);    // drops every write since the last commit
// Why a read on the file of `h` refused it as corrupt (XIO_CORRUPT) since this program opened
// it; empty when none did. A walk that stopped there may have been taken for a whole one, so
// nothing is committed on that file while it stays open (xio_commit answers XIO_CORRUPT with
// this reason), and a caller that commits several files asks this of every file it read.
std::string xio_corrupt_met(uint16_t h);
// Whether a write on the file of `h` found the disk full (XIO_DISK_FULL) since its last commit
// or rollback, whatever its caller made of that answer.
bool xio_disk_full_met(uint16_t h);
int xio_cls_file(uint16_t h);    // commits, releases locks and saved copies
// A walk over many records: its reads run in one read transaction from xio_begin_reads to
// xio_end_reads (or the handle's first write), taking the file's read lock once rather than
// once per record. Another program's writes wait for its end, so it is held only for the walk.
// Nothing happens while a transaction is open on the file.
int xio_begin_reads(uint16_t h);
int xio_end_reads(uint16_t h);
bool xio_file_exists(const std::string& abbr, uint16_t kind);

// ---- Fields -------------------------------------------------------------------------------
uint16_t xio_num(uint16_t h, uint16_t kind, uint16_t n, const std::string& name);
int xio_init_record(uint16_t h, uint16_t rec);
int xio_init_header(uint16_t h, uint16_t header);
int xio_get_field(uint16_t h, uint16_t rec, uint16_t fld, x_value_def& value);
int xio_put_field(uint16_t h, uint16_t rec, uint16_t fld, const x_value_def& value);
int16_t xio_get_field_result(uint16_t h, uint16_t rec, uint16_t fld);
// One member of a field without a whole x_value_def, for the fields a converter reads and
// writes on every record (field numbers file-global, record argument 0). Each means what
// xio_get_field / xio_put_field mean for that member: a number reads a number or choice field
// (0 for any other), a flag a logical field (0 for any other), a text the whole text of a text
// field (empty for any other; valid until the buffer changes). A put of a member that is not
// the field's own stores what xio_put_field stores for a value holding only that member. An
// invalid field reads 0 / empty and takes nothing (XIO_BAD_CALL).
double xio_get_number(uint16_t h, uint16_t fld);
uint16_t xio_get_flag(uint16_t h, uint16_t fld);
const std::string& xio_get_text(uint16_t h, uint16_t fld);
int xio_put_number(uint16_t h, uint16_t fld, double number);
// The whole text, as a value whose long member holds it would put it.
int xio_put_text(uint16_t h, uint16_t fld, std::string_view text);
int xio_put_flag(uint16_t h, uint16_t fld, uint16_t flag);
// Over fields first..last (both included), what xio_get_field_result, xio_get_number and
// xio_put_number would do field by field: every field whose field result and number are both
// non-zero is set to 0. Answers the first such field (0 when none) with its number before.
uint16_t xio_zero_numbers(uint16_t h, uint16_t first, uint16_t last, double& firstValue);
// Over fields first..last (both included), the first whose text as xio_get_text reads it holds
// more than blanks (0 when none): one call for a run of fields that are mostly empty.
uint16_t xio_first_nonblank_text(uint16_t h, uint16_t first, uint16_t last);
// Over fields first..last (both included), the first whose number as xio_get_number reads it is
// not 0 (0 when none): one call for a run of amounts that are mostly 0.
uint16_t xio_first_nonzero_number(uint16_t h, uint16_t first, uint16_t last);
// Many fields of the buffer read in one call, for a record image that copies most of a wide
// record: each read places what xio_get_text (XIO_READ_TEXT, into a std::string) or
// xio_get_number (XIO_READ_NUMBER, into a double) reads of its field at `offset` bytes into
// `image`.
enum : uint16_t { XIO_READ_TEXT = 1, XIO_READ_NUMBER = 2 };
struct xio_image_read {
    uint16_t field = 0;
    uint16_t kind = XIO_READ_TEXT;
    uint32_t offset = 0;
};
void xio_read_image(uint16_t h, const xio_image_read* reads, std::size_t count, void* image);
// Its counterpart for puts: each write does what xio_put_text (XIO_WRITE_TEXT, from a
// std::string), xio_put_number (XIO_WRITE_NUMBER from a double, XIO_WRITE_WORD from a uint16_t)
// or xio_put_flag (XIO_WRITE_FLAG from a double, XIO_WRITE_WORD_FLAG from a uint16_t; set when
// not 0) does with the member at `offset` bytes into `image`, or what xio_put_field does with a
// value holding the x_date_type member (XIO_WRITE_DATE, into a date field; any other field is
// passed over), except that an empty text put into a text field that is empty already leaves
// the field as it is.
enum : uint16_t {
    XIO_WRITE_TEXT = 1,
    XIO_WRITE_NUMBER = 2,
    XIO_WRITE_WORD = 3,
    XIO_WRITE_FLAG = 4,
    XIO_WRITE_WORD_FLAG = 5,
    XIO_WRITE_DATE = 6
};
struct xio_image_write {
    uint16_t field = 0;
    uint16_t kind = XIO_WRITE_TEXT;
    uint32_t offset = 0;
};
void xio_write_image(uint16_t h, const xio_image_write* writes, std::size_t count, const void* image);

// ---- Records ------------------------------------------------------------------------------
[[nodiscard]] int xio_find_record(uint16_t h, uint16_t rec, uint16_t key);
[[nodiscard]] int xio_rd_record(uint16_t h, uint16_t rec, uint16_t key, uint16_t lock);
[[nodiscard]] int xio_rd_ge(uint16_t h, uint16_t rec, uint16_t key, uint16_t lock);
[[nodiscard]] int xio_rd_gt(uint16_t h, uint16_t rec, uint16_t key, uint16_t lock);
[[nodiscard]] int xio_rd_first(uint16_t h, uint16_t rec, uint16_t key, uint16_t lock);
[[nodiscard]] int xio_rd_next(uint16_t h, uint16_t rec, uint16_t key, uint16_t lock);
[[nodiscard]] int xio_rd_previous(uint16_t h, uint16_t rec, uint16_t key, uint16_t lock);
[[nodiscard]] int xio_rd_last(uint16_t h, uint16_t rec, uint16_t key, uint16_t lock);
// Every stored row of the record type, in primary-key order, rows with the same key (a file whose
// unique index was tampered with) one after the other: each is read into the buffer and `each`
// is called; false from it ends the walk. XIO_END when every row was offered, else the failure.
[[nodiscard]] int xio_rd_every(uint16_t h, uint16_t rec, const std::function<bool()>& each);
// The row of record type `rec` last read or written through the handle (0 when none): what
// xio_hold_record takes back.
int64_t xio_current_row(uint16_t h, uint16_t rec);
// For a caller that keeps a record as this handle last stored it (a saved copy of the buffer
// right after the read or write) and has put it back into the buffer: makes stored row `row`
// the handle's current record of type `rec`, locked when `lock`, as a keyed read of it would,
// without reading it, so that a replace can follow. The buffer is left as it is. XIO_NOT_FOUND,
// nothing changed, unless the row is on file with the buffer's primary key.
[[nodiscard]] int xio_hold_record(uint16_t h, uint16_t rec, int64_t row, uint16_t lock);
// xio_rep_record of the current record storing only `fields` (the record type's, file-global
// numbers) as the buffer holds them, none of them a field of any key: the row keeps every other
// value as stored and its indexes are not touched. The record is let go as a replace lets it go.
// XIO_BAD_CALL, nothing stored, for an empty list, a field of another record type or of a key.
[[nodiscard]] int xio_rep_fields(uint16_t h, uint16_t rec, const std::vector<uint16_t>& fields);
// xio_rd_every through the fields chosen for the record type (xio_read_fields) when the walk
// starts, read as a keyed read reads them: one statement for a walk over wide records that looks
// at a few fields of each. `each` may read and replace records of the file, the one offered
// included, as long as it changes no key value; each row is offered once.
[[nodiscard]] int xio_rd_every_chosen(uint16_t h, uint16_t rec, const std::function<bool()>& each);
// Reads of chosen fields, for walks over records far wider than what they look at: from now on
// the keyed reads of record type `rec` on this handle (xio_rd_record to xio_rd_last; not
// xio_rd_every) fetch only `fields` (the record type's fields, file-global numbers) and the
// fields of every key of the record type. The other fields of a buffer so read are unread: they
// hold their defaults, a replace stores only the fields read and is refused (XIO_BAD_CALL) while
// an unread field holds anything but its default, and adding the buffer as a new record is
// refused until xio_init_record starts it afresh. A saved copy keeps the mark. An empty list
// makes the reads whole again; a field of another record type is refused and changes nothing.
int xio_read_fields(uint16_t h, uint16_t rec, const std::vector<uint16_t>& fields);
int xio_status(uint16_t h);
int xio_get_relative_position(uint16_t h, uint16_t rec, uint16_t = 0, uint16_t = 0);
// The number of records of type `rec` on file (0 when it cannot be counted). Counting walks the
// records once; the answer is kept until records are added or removed.
int64_t xio_record_count(uint16_t h, uint16_t rec);
// What this program has done to the rows of record type `rec` through the file since it opened
// it, counted together: every row added or removed, every replace that stored another primary
// key, and every rollback (-1 for a bad handle). A caller that knows which of these it made
// itself can tell that nothing else changed the record type meanwhile. With `anyRow`, also
// whether the record type has a row on file (true when that cannot be looked at).
int64_t xio_row_changes(uint16_t h, uint16_t rec, bool* anyRow = nullptr);
// The stored rows of record type `rec` whose row numbers (xio_current_row) are at most `through`,
// in the order they were added: each is read into the buffer and `each` called. Afterwards the
// buffer is as it was, and the record last read or written, its locks and the position of a walk
// were never moved, so this may come between a read and its replace. XIO_END when every row was
// offered, else the failure.
[[nodiscard]] int xio_rd_rows_aside(uint16_t h, uint16_t rec, int64_t through, const std::function<void()>& each);
[[nodiscard]] int xio_wr_record(uint16_t h, uint16_t rec, uint16_t* dupKey = nullptr);
[[nodiscard]] int xio_rep_record(uint16_t h, uint16_t rec, uint16_t* dupKey = nullptr);
// Adds `count` records of type `rec` as that many xio_wr_record calls would: `make(i)` makes
// record i in the record buffer (xio_init_record, then the puts). Inside xio_start_writes, into
// a table that no bulk load is watching, the records go up to 64 at a time through one
// statement, which keeps the table's indexes positioned from one record to the next. Stops at
// the first failure and answers its status: the records of the failing group are not written
// (no duplicate key number is given). Afterwards the buffer holds the last record made.
[[nodiscard]] int xio_wr_records(uint16_t h, uint16_t rec, std::size_t count,
                                 const std::function<void(std::size_t)>& make);
[[nodiscard]] int xio_del_record(uint16_t h, uint16_t rec);
int xio_unlock_record(uint16_t h, uint16_t rec, uint16_t = 1);

// ---- Headers ------------------------------------------------------------------------------
[[nodiscard]] int xio_rd_header(uint16_t h, uint16_t header, uint16_t lock);
[[nodiscard]] int xio_wr_header(uint16_t h, uint16_t header);
int xio_free_header(uint16_t h, uint16_t header);

// ---- Save stack ---------------------------------------------------------------------------
// One last-in-first-out store per handle. save answers an id > 0 (0 on a bad call).
uint16_t xio_save_record(uint16_t h, uint16_t rec);
int xio_restore_record(uint16_t h, uint16_t rec);           // pops the newest copy of rec
int xio_restore_record_id(uint16_t h, uint16_t id);         // pops the copy with that id
int xio_unsave_record(uint16_t h, uint16_t id);             // drops a copy

// ---- Notes --------------------------------------------------------------------------------
// rd_notes loads the notes of the record whose primary key is in the buffer (lock 1 holds
// them); get_notes hands them out in 80-byte pieces (XIO_END after the last); put_notes
// builds the new text from empty, piece by piece; wr_notes stores it in place of the old
// notes (an empty text removes them) and releases the lock.
[[nodiscard]] int xio_rd_notes(uint16_t h, uint16_t rec, uint16_t lock);
[[nodiscard]] int xio_get_notes(uint16_t h, std::string& piece);
int xio_put_notes(uint16_t h, const std::string& text);
[[nodiscard]] int xio_wr_notes(uint16_t h);

// ---- The file's own notes about itself ----------------------------------------------------
// A row of the file's dz_meta beside the ones the layer keeps (format, abbr, file_no, dictionary,
// and run, the mark of the conversion that made the last commit: see run_mark.h; these cannot be
// put). A put is one of the handle's writes: it goes with the next commit, or
// with a rollback. get answers XIO_NOT_FOUND when the file holds no such row.
[[nodiscard]] int xio_put_meta(uint16_t h, const std::string& name, const std::string& value);
[[nodiscard]] int xio_get_meta(uint16_t h, const std::string& name, std::string& value);
// The rows whose names begin with `prefix` (not empty), as (name, value) in name order.
[[nodiscard]] int xio_list_meta(uint16_t h, const std::string& prefix,
                                std::vector<std::pair<std::string, std::string>>& rows);
// Removes the row of that name (a name the file does not hold is no error). One of the
// handle's writes, as a put is.
[[nodiscard]] int xio_drop_meta(uint16_t h, const std::string& name);

// ---- Definitions --------------------------------------------------------------------------
int xio_get_def(uint16_t h, xio_file_def& def);
int xio_get_rec_def(uint16_t h, uint16_t rec, xio_rec_def& def, uint16_t = 1);
int xio_get_header_def(uint16_t h, uint16_t header, xio_rec_def& def);
// Key 0 is the primary key of record type `rec`; keys 1..keyCount are the file's keys.
int xio_get_key_def(uint16_t h, uint16_t key, xio_key_def& def, uint16_t rec = 0);
int xio_get_fld_def(uint16_t h, uint16_t fld, xio_fld_def& def, uint16_t = 1, bool = true);
// The dictionary's own definition of field `fld`, and the primary key fields of record type
// `rec`, without a copy: for what is looked at on every record. Valid while the handle stays
// open; nullptr when there is none.
const xio_fld_def* xio_field_def(uint16_t h, uint16_t fld);
const std::vector<uint16_t>* xio_primary_key_fields(uint16_t h, uint16_t rec);
// Text of choice item `item` of field `fld`; item 0 gives "". XIO_NOT_FOUND beyond the list.
int xio_get_item_alpha(uint16_t h, uint16_t fld, uint16_t item, std::string& text);
// The dictionary of an open handle (null when the handle is not open), shared, not copied: for
// callers that resolve field numbers once per dictionary and are called per record.
std::shared_ptr<const xio::Dictionary> xio_dictionary_of(uint16_t h);

}  // namespace dz
