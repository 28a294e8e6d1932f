// Field access by name and the message-text helpers every converter's record handlers share:
// field numbers kept per handle, record and name; values of the record buffer; record-ID lookups
// of earlier records of the same text file; message texts with their Convert / Examine Files
// word pairs and the number formats messages show.
#pragma once

#include "convert/converter.h"
#include "platform/datafile/x_value.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace dz::convert {

// ---- Fields by name ---------------------------------------------------------------------------
// The file-global number of field `name` of record `rec` of the file `file` (0 when there is
// none). Numbers are kept per handle, record and name.
uint16_t FieldNo(uint16_t file, uint16_t rec, const char* name);
// Forgets the field numbers kept so far (a new text file, or dictionaries loaded again).
void ForgetFieldNumbers();
// The same for a header field.
uint16_t HeaderFieldNo(uint16_t file, uint16_t header, const char* name);

// Values of the record buffer that owns the field (field 0 reads an empty value, writes nothing).
x_value_def GetValue(uint16_t file, uint16_t field);
std::string GetText(uint16_t file, uint16_t field);  // the whole text, long texts included
double GetNumber(uint16_t file, uint16_t field);     // numbers and choice item numbers
uint16_t GetFlag(uint16_t file, uint16_t field);
x_date_type GetDate(uint16_t file, uint16_t field);
void PutText(uint16_t file, uint16_t field, const std::string& text);
void PutNumber(uint16_t file, uint16_t field, double number);
void PutFlag(uint16_t file, uint16_t field, uint16_t flag);
void PutDate(uint16_t file, uint16_t field, const x_date_type& date);

// By name, for the record that owns it.
inline std::string GetText(uint16_t f, uint16_t rec, const char* name) { return GetText(f, FieldNo(f, rec, name)); }
inline double GetNumber(uint16_t f, uint16_t rec, const char* name) { return GetNumber(f, FieldNo(f, rec, name)); }
inline uint16_t GetFlag(uint16_t f, uint16_t rec, const char* name) { return GetFlag(f, FieldNo(f, rec, name)); }
inline x_date_type GetDate(uint16_t f, uint16_t rec, const char* name) { return GetDate(f, FieldNo(f, rec, name)); }
inline void PutText(uint16_t f, uint16_t rec, const char* name, const std::string& t) { PutText(f, FieldNo(f, rec, name), t); }
inline void PutNumber(uint16_t f, uint16_t rec, const char* name, double n) { PutNumber(f, FieldNo(f, rec, name), n); }
inline void PutFlag(uint16_t f, uint16_t rec, const char* name, uint16_t v) { PutFlag(f, FieldNo(f, rec, name), v); }
inline void PutDate(uint16_t f, uint16_t rec, const char* name, const x_date_type& d) { PutDate(f, FieldNo(f, rec, name), d); }

// A number value truncated toward zero, as examine codes and levels use it; one beyond the range
// gives the nearest end of it, nan 0.
int32_t Whole(double value);

// ---- Earlier records of the text file ---------------------------------------------------------
// Looks the record now in the buffer (record `rec`, its key fields set) up in the record-ID
// map; on success `code` (when given) receives the value kept with it.
bool FindInIdMap(uint16_t file, uint16_t rec, const RecordIdMap& ids, uint16_t* code = nullptr);

// Puts `key` into the key field `field` of record `rec` and reads the record without a lock.
// True when it is on file; otherwise the buffer is cleared and holds the key again.
bool ReadByKey(uint16_t file, uint16_t rec, const char* field, const std::string& key);

// ---- Messages ---------------------------------------------------------------------------------
// Message `number` with its placeholders filled in order.
std::string MsgValues(int number, std::initializer_list<std::string_view> values);
template <typename... S>
std::string Msg(int number, const S&... values) {
    return MsgValues(number, {std::string_view(values)...});
}

// The half of a "Convert/Examine" word pair for the mode ("was changed/will change").
std::string ModeWord(const char* pair, bool converting);

// printf-style text of one number, for the values messages show ("%.2f" of hundredths...).
std::string FormatNumber(const char* format, double value);
std::string FormatInt(const char* format, long value);
// An amount in hundredths as "%.2f".
std::string Amount(double hundredths);
// A choice field's text with its number: "%s (%.0f)" (withBlank) or "%s(%.0f)".
std::string ChoiceText(uint16_t file, uint16_t field, double item, bool withBlank);

}  // namespace dz::convert
