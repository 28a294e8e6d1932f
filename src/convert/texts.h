// The small text services the converters share: the reject file's name, the time-stamp line,
// record-ID texts (key values as one comparable text), display texts of key values for
// messages, field-level string helpers, the opening of a module's master file or of a named
// data file, and the program's screen-file handle.
#pragma once

#include "convert/open_files.h"
#include "platform/datafile/x_value.h"
#include "platform/import/xvl_source.h"

#include <cstdint>
#include <string>

namespace dz::xvl {
class xvlImpTemplate;
}

namespace dz::convert {

class NotesReport;

// ---- Reject file and time stamp --------------------------------------------------------------

// The reject file beside the text file: "Reject" ("Rej" when PM is installed), a counter when
// the name is taken, the abbreviation and ".txt".
std::string RejectFileName(const std::string& textPath, const std::string& abbreviation);
// The same name, taken by creating the file there and then (never through a link; a name that
// is taken, even by a dangling link, moves the counter on). The import writes the rejects into
// the file made here; ReleaseRejectFile removes it again when it stayed empty.
std::string ClaimRejectFile(const std::string& textPath, const std::string& abbreviation);
void ReleaseRejectFile(const std::string& rejectName);

// The time-stamp line that marks a converted text file, ending with a line feed.
std::string BuildTimeStampLine(const std::string& usingText);

// Puts the time-stamp line after the text file's first line. The new file is written beside the
// text file and renamed over it, so the text file is never lost; on failure it stays as it was
// and the notes report (when given) says so.
// With `source`, the stamp is made from that open file (the one the conversion read); with
// `stampLine`, that line is put (the one the data files recorded), else one built now.
bool TimeStampTextFile(const std::string& textPath, NotesReport* notes, const std::string& usingText,
                       const xvl::TextSource* source = nullptr, const std::string& stampLine = {});

// ---- A conversion the stamp could not follow ------------------------------------------------------

// A run killed after its commits but before the stamp leaves a text file converted and unstamped.
// So the conversion records, in its main data file and inside the same commit, what it
// converted: the text file's identity (its length, the time of its last change and a hash of
// every byte of it) and the stamp line it was to get. Each text file converted into a data file
// has a row of its own, the newest few hundred kept, so a conversion in between forgets no text
// file whose run died. A text file of a recorded identity, stamped or not, was converted before;
// a file edited anywhere is another file, even with its time put back.

// The identity of the text file (from `source` when given, hashed as the conversion read it);
// "" when it cannot be read.
std::string TextFileIdentity(const std::string& path, const xvl::TextSource* source = nullptr);
// Records in the data file that the text file of `identity` is converted, with `stampLine`.
// One of the file's writes: it is committed with them.
int RecordConvertedText(uint16_t handle, const std::string& identity, const std::string& stampLine);
// Whether one of the open data files records the conversion of the text file as it stands
// (also in the one row an earlier version kept); `stampLine` receives the line its stamp was
// to be.
bool ConvertedBefore(const OpenFilesList& files, const std::string& path, std::string& stampLine);

// ---- Record-ID texts ---------------------------------------------------------------------------

// The record-ID text of the record now in the file's buffer: "<handle*100+rec>\t0\t" then the
// fixed-width texts of its primary key fields, trailing blanks removed.
void RecordIdText(uint16_t file, std::string& out, uint16_t record);
// The same over the fields of key `key` with the record number alone as prefix; empty when all
// the key's fields are empty.
void KeyIdText(uint16_t file, std::string& out, uint16_t record, uint16_t key);
// Appends the fixed-width key text of one field of the file's current record.
void FormatKeyField(uint16_t file, std::string& out, uint16_t field);
// Aligns a text key value in the field's length (right for sectioned or digit-only values of a
// formatted key, else left), blank-filled and capitalized.
void AlignKeyText(uint16_t file, uint16_t field, std::string& text);
// Removes the "<number>\t0\t" prefix of a record-ID text and any blanks after it.
void StripRecordId(std::string& text);

// ---- Display texts -----------------------------------------------------------------------------

// The display text of one field of the file's buffer for record `record`.
void FieldDisplayText(std::string& out, uint16_t file, uint16_t record, uint16_t field);
// " - 'v1', 'v2'" over the record's primary key fields.
void RecordKeyDisplay(std::string& out, uint16_t file, uint16_t record);
// The same over the fields of key `key`.
void KeyDisplay(std::string& out, uint16_t file, uint16_t record, uint16_t key);

// ---- Long texts ----------------------------------------------------------------------------------

// A line feed after every carriage return that is not already followed by one.
std::string CrToCrLf(const std::string& text);
// The same on the long text of a field of the file's current record, put back in place.
void CrToCrLf(uint16_t file, uint16_t field);

// ---- String helpers ------------------------------------------------------------------------------

// mode 0 removes leading, 1 trailing, 2 both occurrences of `c`.
void TrimChar(std::string& s, int mode, char c);
// Index of the last character of `s` that is one of `chars`, or -1.
int FindLastCharOf(const std::string& s, const std::string& chars);
// Deletes `count` characters at `pos`; count 0 deletes to the end.
void DeleteChars(std::string& s, std::size_t pos, std::size_t count);

// ---- Templates ---------------------------------------------------------------------------------

// After a template failed to bind: true with "ABBR - code N" (or the abbreviation alone) naming
// the first data file it uses that the run has not opened; false when all are open.
bool TemplateErrorText(const OpenFilesList& list, const xvl::xvlImpTemplate& tpl, std::string& out);

// ---- Data files by name -----------------------------------------------------------------------

// "MASTER.<abbr>" in the abbreviation's data folder, opened; 0 when it cannot be.
uint16_t OpenMasterFile(const std::string& abbreviation);
// "<name>.<abbr>" in the abbreviation's data folder, opened; 0 when it cannot be.
uint16_t OpenDataFileByName(const std::string& abbreviation, const std::string& name);

// The module's country setting (AP, PR: 1 USA, 2 Canada, 61 Australia); 0 when unknown.
uint16_t ReadScreenFile(const std::string& module);

uint16_t GetScreenFileHandle();
void SetScreenFileHandle(uint16_t handle);

}  // namespace dz::convert
