// Small helpers the JC master handlers share, on top of the converters' field and message helpers
// (fields by name, Msg, ModeWord, FormatNumber).
#pragma once

#include "convert/lookups.h"
#include "convert/record_fields.h"
#include "converters/jc/xvjcm.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace dz::jc {

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
// The same rule for sections CostCodeSections gave.
bool ZeroSectionsValid(const std::vector<std::string>& sections, int n);

// Is a written record's tax status a value of the user's that custom list 369 lacks? Never one the
// conversion filled in itself, nor the list's default when the list has entries (its first entry
// stands for itself); with an empty list every value of the user's is.
bool TaxStatusMissing(const std::string& value, bool filled, const std::vector<std::string>& list,
                      const std::string& defaultStatus);

// ---- GL accounts (key format 9) and lookups in other files -----------------------------------
// The base-account part (base and suffix) of an unformatted whole account.
std::string BaseAccountOf(const std::string& account);

// ReadByKeys (convert/lookups.h), then (Examine Files only) the record-ID map: a record an earlier line of the text
// file examined counts as found, and `code` receives the value kept with it. `onFile` tells
// which of the two found it.
bool OnFileOrEarlier(uint16_t jcm, uint16_t rec, std::initializer_list<convert::KeyValue> keys, bool converting,
                     const RecordIdMap& ids, uint16_t* code = nullptr, bool* onFile = nullptr);

// The same as OnFileOrEarlier when only the record's presence matters: the record is not read.
bool FoundOrEarlier(uint16_t jcm, uint16_t rec, std::initializer_list<convert::KeyValue> keys, bool converting,
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
void ClearAccumulated(uint16_t jcm, std::initializer_list<FieldRange> ranges, int number, const char* pair,
                      convert::MessageList& messages, bool converting);
void ClearAccumulated(uint16_t jcm, const FieldRanges& ranges, int number, const char* pair,
                      convert::MessageList& messages, bool converting);
// `total` = `a` + `b`; 12243 first when the stored total was not zero and differs.
void CalculatedTotal(uint16_t jcm, uint16_t total, uint16_t a, uint16_t b, const std::string& name,
                     convert::MessageList& messages, bool converting);

}  // namespace dz::jc
