// Numbers of the import library's own messages in the message table (data/messages), and the
// import error numbers that records are refused with.
#pragma once

#include "platform/import/xvl_rcstring.h"

#include <string>

namespace dz::xvl {

// Import errors (xvlImpInfo::Error). The reason codes that converters append are fixed by
// the converter base class; the meanings are the library's.
enum ImportError : int {
    kErrNotConvertible = 1,   // value not convertible to the field's type
    kErrTooLong = 2,          // value too long for the field
    kErrKeyBlank = 3,         // required key field blank
    kErrUnknownFormat = 4,    // format id not in the template
    kErrRefused = 5,          // a callback refused the record (its message is the reason)
    kErrChoice = 6,           // not an item of the choice list
    kErrDate = 7,             // invalid date
    kErrLogical = 8,          // invalid yes/no value
    kErrNumberRange = 9,      // number out of range or too many decimals
    kErrKeyFormat = 10,       // value invalid for its key format
    kErrTooFewColumns = 11,
    kErrTooManyColumns = 12,
    kErrQuotes = 13,          // malformed line (double quotes)
    kErrGroupOrder = 14,      // record out of group order
    kErrNotOnFile = 16,       // record to modify does not exist
    kErrLocked = 17,          // stored record locked by another user
    kErrReadFailed = 20,      // text-file read error
    kErrLongTextTooLong = 21,
    kErrRecordTooLong = 22,   // a record over the import's limit, not read
};

// Text files the import does not read, and records refused for what their text holds.
inline constexpr int kMsgUtf16FileSkip = 12930;  // a UTF-16 text file, "Is it OK to skip?"
inline constexpr int kMsgUtf16File = 12931;      // the same without the question
inline constexpr int kMsgNulInValue = 12932;     // error 1: a NUL byte in a value
inline constexpr int kMsgLineEndInValue = 12933; // error 1: a line end in a field that holds none
inline constexpr int kMsgQuoteToEnd = 12934;     // error 13: a quote still open at the end of the file
inline constexpr int kMsgRecordTooLong = 12935;  // error 22: a record over the import's limit
// What is wrong with a line that separates its values otherwise than with commas: the words of
// the first line's check (kMsgSemicolons, kMsgTabs) after "the line" (kMsgLineSeparator).
inline constexpr int kMsgSemicolons = 12913;
inline constexpr int kMsgTabs = 12914;
inline constexpr int kMsgLineSeparator = 12939;
// Why a reject file could not be made (its name, its folder, the cause), said after 12007.
inline constexpr int kMsgRejectNotMade = 12905;
// Errors 11 and 12 of a template whose one format has no id (its lines name no record type).
inline constexpr int kMsgTooFewColumnsNoId = 12968;
inline constexpr int kMsgTooManyColumnsNoId = 12969;

// Message numbers: import error n has message kMsgImportErrorBase + n.
inline constexpr int kMsgImportErrorBase = 12950;
// Parts of import messages.
inline constexpr int kMsgWhatTime = 12972;            // "a time such as ..."
inline constexpr int kMsgGroupCannotStart = 12973;    // error 14: a record that cannot start a group
inline constexpr int kMsgGroupEndsEarly = 12974;      // error 14: a group that is not complete
inline constexpr int kMsgWhatNumber = 12975;          // "a number"
inline constexpr int kMsgWhatDigits = 12976;          // number range, signed
inline constexpr int kMsgWhatDigitsUnsigned = 12977;  // number range, not negative
inline constexpr int kMsgWhatWhole = 12907;           // a field kept whole, signed
inline constexpr int kMsgWhatWholeUnsigned = 12908;   // a field kept whole, not negative
inline constexpr int kMsgWhatStorable = 12978;        // a value the data file refused
inline constexpr int kMsgDateNoSuchDay = 12979;       // error 7: a day past its month's last
inline constexpr int kMsgWhatMonthLength = 12921;     // "month 2 of 2026 has 28 days"

// Template faults.
inline constexpr int kMsgTemplateFault = 12980;      // "<template>, line <n>: <problem>"
inline constexpr int kMsgTplUnknownWord = 12981;
inline constexpr int kMsgTplOutsideFormat = 12982;
inline constexpr int kMsgTplDuplicateFormat = 12983;
inline constexpr int kMsgTplExpects = 12984;
inline constexpr int kMsgTplNoFile = 12985;
inline constexpr int kMsgTplNoRecord = 12986;
inline constexpr int kMsgTplNoColumns = 12987;
inline constexpr int kMsgTplBadRecord = 12988;
inline constexpr int kMsgTplBadField = 12989;
inline constexpr int kMsgTplFileNotOpen = 12990;
inline constexpr int kMsgTplBadSpecialType = 12991;
inline constexpr int kMsgTplUndeclaredFormat = 12992;
inline constexpr int kMsgTplCannotRead = 12993;
inline constexpr int kMsgTplNoFormats = 12994;
inline constexpr int kMsgTplUnclosedQuote = 12995;
inline constexpr int kMsgTplBadUdRecord = 12996;
inline constexpr int kMsgTplDuplicateColumn = 12997;
inline constexpr int kMsgTplMixedIds = 12998;
// What a template line expects (filled into kMsgTplExpects).
inline constexpr int kMsgTplWhatOneId = 12940;
inline constexpr int kMsgTplWhatFile = 12941;
inline constexpr int kMsgTplWhatRecord = 12942;
inline constexpr int kMsgTplWhatPermissions = 12943;
inline constexpr int kMsgTplWhatNothing = 12944;
inline constexpr int kMsgTplWhatUdRecord = 12945;
inline constexpr int kMsgTplWhatField = 12946;
inline constexpr int kMsgTplWhatSpecial = 12947;
inline constexpr int kMsgTplWhatDepend = 12948;

// A message with its placeholders filled in order.
template <typename... S>
std::string Msg(int number, const S&... values) {
    return xvlRCString::Get(number, values...);
}

}  // namespace dz::xvl
