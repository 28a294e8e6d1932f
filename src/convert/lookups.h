// Helpers the converters' record handlers share beyond fields by name (record_fields.h): keyed
// look-ups in any data file, field descriptions, blank texts, custom descriptions (terms) and the
// GL account format.
#pragma once

#include "platform/datafile/x_value.h"
#include "platform/import/xvl_values.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <unordered_map>

namespace dz::convert {

// ---- Keyed look-ups ---------------------------------------------------------------------------
// One key field of a look-up, by name, and its value.
struct KeyValue {
    const char* field;
    std::string value;
};
// Clears the buffer of record `rec`, puts the key values and reads the record without a lock.
// True when it is on file (the buffer holds it); otherwise the buffer holds the keys again.
bool ReadByKeys(uint16_t file, uint16_t rec, std::initializer_list<KeyValue> keys);
// Clears the buffer of record `rec`, puts the key values and looks the record up by key `key`
// (0 the primary key) without reading it. False for file 0.
bool Exists(uint16_t file, uint16_t rec, std::initializer_list<KeyValue> keys, uint16_t key = 0);
// The same look-up of one key field, answering the data-file status: 0 on file, 11 not.
int FindStatus(uint16_t file, uint16_t rec, const char* field, const std::string& value);

// `value` as key field `field` of record `rec` holds and compares it: trailing blanks dropped, cut
// to the field's length, letters folded (texts compare without letter case). Two values with the
// same answer find the same record, so the answer keys what a converter keeps of that record for
// one text file. Leaves the value in the buffer's field.
std::string ComparedKey(uint16_t file, uint16_t rec, const char* field, const std::string& value);

// Answers of one-field look-ups (FindStatus) kept for one text file. A text file names the same
// accounts, phases, vendors and groups record after record; a data file the conversion does not
// write to, or only adds the records it tells of (Found), gives the same answer each time. A hit
// leaves the file's buffer as it was: callers that go on to use the buffer put their keys again.
class LookupCache {
public:
    // FindStatus once per value: 0 on file, 11 not; any other status is answered but not kept.
    int Status(uint16_t file, uint16_t rec, const char* field, const std::string& value);
    // True when the look-up answered 11.
    bool Missing(uint16_t file, uint16_t rec, const char* field, const std::string& value);
    // `value` is on file now (this conversion wrote it).
    void Found(uint16_t file, uint16_t rec, const char* field, const std::string& value);
    void Clear() { answers_.clear(); }

private:
    const std::string& Key(uint16_t file, uint16_t rec, const char* field, const std::string& value);

    std::unordered_map<std::string, int> answers_;
    std::string key_;
};

// Sets every non-zero number field from `first` to `last` (field numbers, both included) of the
// buffer to 0. Answers the first such field (0 when none) and its old value.
uint16_t ZeroRange(uint16_t file, uint16_t first, uint16_t last, double& firstValue);

// ---- Texts ------------------------------------------------------------------------------------
// What FieldDescription answers when the definition gives no description.
enum class Fallback {
    Nothing,    // an empty text
    FieldName,  // the field's name (when it is defined at all)
};
// The description of field `field` of the file, with a capital first letter when asked; an
// undefined field has none.
std::string FieldDescription(uint16_t file, uint16_t field, bool capitalised = false,
                             Fallback fallback = Fallback::Nothing);
// The description of the field `name` of record `rec`; `name` itself when the record has no such
// field.
std::string FieldDescription(uint16_t file, uint16_t rec, const char* name, bool capitalised = false);

// True when a text holds nothing but blanks (or nothing at all), as the import tells it.
using xvl::IsBlank;
// True for a date never set (no month).
inline bool IsUnsetDate(const x_date_type& date) { return date.month == 0; }

// Custom description `n` as stored (Term), with a capital first letter (TermCap), or its plural.
std::string Term(int n);
std::string TermCap(int n);
std::string TermPlural(int n, bool capitalised = false);

// ---- The GL account format (key format 9) -------------------------------------------------------
// A value of `section` with its separators, as messages show it.
std::string FormatAccount(const std::string& value, int section);
// The description of a section of the account format, optionally with a capital first letter.
std::string SectionDescription(int section, bool capitalised = false);
// `value` without its separators, as records of the GL master hold it.
std::string UnformattedAccount(const std::string& value, int section);
// True when `value` (formatted or not) is a complete value of that section of the account format.
bool ValidAccount(const std::string& value, int section);

}  // namespace dz::convert
