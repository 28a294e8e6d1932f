// Small helpers the GL master handlers share: fields of the GL master buffer by name, the GL
// account format's sections, record-ID lookups of earlier records of the same text file, and
// message texts with their Convert / Examine Files word pairs.
#pragma once

#include "converters/gl/xvglm.h"
#include "platform/datafile/x_value.h"

#include <cstdint>
#include <string>

namespace dz::gl {

// ---- Fields of the GL master buffer ---------------------------------------------------------
// The file-global number of field `name` of record `rec` (0 when there is none).
uint16_t FieldNo(uint16_t glm, uint16_t rec, const char* name);
// Forgets the field numbers kept so far (a new text file, or dictionaries loaded again).
void ForgetFieldNumbers();
// The same for a header field.
uint16_t HeaderFieldNo(uint16_t glm, uint16_t header, const char* name);

x_value_def GetValue(uint16_t glm, uint16_t field);
std::string GetText(uint16_t glm, uint16_t field);  // the whole text, long texts included
double GetNumber(uint16_t glm, uint16_t field);     // numbers and choice item numbers
uint16_t GetFlag(uint16_t glm, uint16_t field);
x_date_type GetDate(uint16_t glm, uint16_t field);
void PutText(uint16_t glm, uint16_t field, const std::string& text);
void PutNumber(uint16_t glm, uint16_t field, double number);
void PutFlag(uint16_t glm, uint16_t field, uint16_t flag);

// By name, for the record (or header) that owns it.
inline std::string GetText(uint16_t glm, uint16_t rec, const char* name) { return GetText(glm, FieldNo(glm, rec, name)); }
inline double GetNumber(uint16_t glm, uint16_t rec, const char* name) { return GetNumber(glm, FieldNo(glm, rec, name)); }
inline uint16_t GetFlag(uint16_t glm, uint16_t rec, const char* name) { return GetFlag(glm, FieldNo(glm, rec, name)); }
inline void PutText(uint16_t glm, uint16_t rec, const char* name, const std::string& t) {
    PutText(glm, FieldNo(glm, rec, name), t);
}
inline void PutNumber(uint16_t glm, uint16_t rec, const char* name, double n) {
    PutNumber(glm, FieldNo(glm, rec, name), n);
}
inline void PutFlag(uint16_t glm, uint16_t rec, const char* name, uint16_t f) {
    PutFlag(glm, FieldNo(glm, rec, name), f);
}

// A number value truncated toward zero, as examine codes and levels use it.
int32_t Whole(double value);

// ---- The GL account format (custom description 9) -------------------------------------------
// Section `section` of an unformatted (or formatted) account value.
std::string AccountSection(const std::string& account, int section);
// The number of prefix levels in use (0 to 3), as xk_num_sections answers for the account format.
int PrefixLevels();
// A value of `section` with its separators, as messages show it.
std::string FormatAccount(const std::string& value, int section);
// The description of a section of the account format, optionally with a capital first letter.
std::string SectionDescription(int section, bool capitalised = false);

// ---- Earlier records of the text file -------------------------------------------------------
// Looks the record now in the buffer (record `rec`, its key fields set) up in the record-ID
// map; on success `code` (when given) receives the value kept with it.
bool FindInIdMap(uint16_t glm, uint16_t rec, const RecordIdMap& ids, uint16_t* code = nullptr);

// Puts `key` into the key field `field` of record `rec` (buffer cleared first) and reads the
// record without a lock. True when it is on file.
bool ReadByKey(uint16_t glm, uint16_t rec, const char* field, const std::string& key);

// ---- Messages -------------------------------------------------------------------------------
// Message `number` with its placeholders filled in order.
template <typename... S>
std::string Msg(int number, const S&... values);
std::string MsgValues(int number, std::initializer_list<std::string_view> values);

// The half of a "Convert/Examine" word pair for the mode ("was changed/will change").
std::string ModeWord(const char* pair, bool converting);

// printf-style text of one number, for the values messages show ("%.2f" of hundredths...).
std::string FormatNumber(const char* format, double value);
std::string FormatInt(const char* format, long value);
// An amount in hundredths as "%.2f".
std::string Amount(double hundredths);
// A choice field's text with its number: "%s (%.0f)" (withBlank) or "%s(%.0f)".
std::string ChoiceText(uint16_t glm, uint16_t field, double item, bool withBlank);

template <typename... S>
std::string Msg(int number, const S&... values) {
    return MsgValues(number, {std::string_view(values)...});
}

}  // namespace dz::gl
