// Small helpers the JC master handlers share, on top of the converters' field and message helpers
// (fields by name, Msg, ModeWord, FormatNumber).
#pragma once

#include "convert/record_fields.h"
#include "converters/jc/xvjcm.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace dz::jc {

using convert::ChoiceText;
using convert::FieldNo;
using convert::FindInIdMap;
using convert::FormatInt;
using convert::FormatNumber;
using convert::GetDate;
using convert::GetFlag;
using convert::GetNumber;
using convert::GetText;
using convert::HeaderFieldNo;
using convert::ModeWord;
using convert::Msg;
using convert::PutDate;
using convert::PutFlag;
using convert::PutNumber;
using convert::PutText;
using convert::Whole;

// True when a text holds nothing but blanks.
bool IsBlank(const std::string& text);

// Custom description `n` as stored (term), with a capital first letter (Term), or its plural.
std::string Term(int n);
std::string TermCap(int n);
std::string TermPlural(int n, bool capitalised = false);

// The description of field `fld` of the JC master file, optionally with a capital first letter.
std::string FieldDescription(uint16_t jcm, uint16_t fld, bool capitalised = false);
// The decimals of a number field (4 for units).
int FieldDecimals(uint16_t jcm, uint16_t fld);
// A stored amount as messages show it: ten-thousandths "%.4f" for 4-decimal fields, else
// hundredths "%.2f".
std::string ShowAmount(uint16_t jcm, uint16_t fld, double stored);
// Hundredths as "%.2f".
std::string Hundredths(double stored);
// A choice value "%s (%.0f)": its item text and number.
std::string ShowChoice(uint16_t jcm, uint16_t fld, double item);
// A key value in the display form of key format `fmt`, section `section`.
std::string ShowKey(int fmt, int section, const std::string& value);

// Sections 1 to n of a cost code (n at most 4); unused slots stay empty.
std::vector<std::string> CostCodeSections(const std::string& costCode, int n);
// The zero-section rule of a cost code of `n` sections: its first section is not zero (empty or
// only '0' and blanks) and no zero section stands before one that is not; trailing zero sections
// are allowed (01/000 passes, 000/01 and 00/00 fail).
bool ZeroSectionsValid(const std::string& costCode, int n);

// ---- GL accounts (key format 9) and lookups in other files -----------------------------------
// True when `value` (formatted or not) is a complete value of that section of the account format.
bool ValidAccount(const std::string& value, int section);
// `value` without its separators, as records of the GL master hold it.
std::string UnformattedAccount(const std::string& value, int section);
// The base-account part (base and suffix) of an unformatted whole account.
std::string BaseAccountOf(const std::string& account);
// The status of a lookup of `value` in key field `field` of record `rec` of file `h` (another
// master file): 0 on file, 11 not.
int FindStatus(uint16_t h, uint16_t rec, const char* field, const std::string& value);

// Sets every non-zero number field from `first` to `last` (field numbers, both included) to 0.
// Answers the first such field (0 when none) and its old value.
uint16_t ZeroRange(uint16_t jcm, uint16_t first, uint16_t last, double& firstValue);

// One key field of a lookup and its value.
struct KeyValue {
    const char* field;
    std::string value;
};
// Clears the buffer of record `rec`, puts the key values and reads the record without a lock.
// True when it is on file (the buffer holds it); otherwise the buffer holds the key again.
bool ReadByKeys(uint16_t jcm, uint16_t rec, std::initializer_list<KeyValue> keys);
// The same, then (Examine Files only) the record-ID map: a record an earlier line of the text
// file examined counts as found, and `code` receives the value kept with it. `onFile` tells
// which of the two found it.
bool OnFileOrEarlier(uint16_t jcm, uint16_t rec, std::initializer_list<KeyValue> keys, bool converting,
                     const RecordIdMap& ids, uint16_t* code = nullptr, bool* onFile = nullptr);

// The same as OnFileOrEarlier when only the record's presence matters: the record is not read.
bool FoundOrEarlier(uint16_t jcm, uint16_t rec, std::initializer_list<KeyValue> keys, bool converting,
                    const RecordIdMap& ids);

// ---- Field groups the job, extra, phase and category handlers share (xvjcm_job.cpp) ----------
// Contract links (two fields from `links`, one message for both) and change orders (three from
// `changes`, a message each): cleared.
void ClearContractFields(uint16_t jcm, uint16_t links, uint16_t changes, convert::MessageList& messages,
                         bool converting);
// The six AR adjustments from `first`, without AR: cleared with one message.
void ClearAdjustments(uint16_t jcm, uint16_t first, convert::MessageList& messages, bool converting);
// Amounts never converted, in the ranges given: cleared; message `number` (12244, 12260, 12261,
// 12262 or 12267) names the first, with the reason numbers `pair`.
void ClearAccumulated(uint16_t jcm, std::initializer_list<std::pair<uint16_t, uint16_t>> ranges, int number,
                      const char* pair, convert::MessageList& messages, bool converting);
// `total` = `a` + `b`; 12243 first when the stored total was not zero and differs.
void CalculatedTotal(uint16_t jcm, uint16_t total, uint16_t a, uint16_t b, const std::string& name,
                     convert::MessageList& messages, bool converting);

}  // namespace dz::jc
