// Small helpers the GL master handlers share: fields of the GL master buffer by name, the GL
// account format's sections, record-ID lookups of earlier records of the same text file, and
// message texts with their Convert / Examine Files word pairs.
#pragma once

#include "convert/record_fields.h"
#include "converters/gl/xvglm.h"
#include "platform/datafile/x_value.h"

#include <cstdint>
#include <string>

namespace dz::gl {

// ---- Fields of the GL master buffer (the converters' shared field and message helpers) ----------
using convert::Amount;
using convert::ChoiceText;
using convert::FieldNo;
using convert::FindInIdMap;
using convert::FormatInt;
using convert::FormatNumber;
using convert::GetDate;
using convert::GetFlag;
using convert::GetNumber;
using convert::GetText;
using convert::GetValue;
using convert::HeaderFieldNo;
using convert::ModeWord;
using convert::Msg;
using convert::MsgValues;
using convert::PutFlag;
using convert::PutDate;
using convert::PutNumber;
using convert::PutText;
using convert::ReadByKey;
using convert::Whole;
// Forgets the field numbers and the account format's layout kept so far.
void ForgetFieldNumbers();

// ---- The GL account format (custom description 9) -------------------------------------------
// Section `section` of an unformatted (or formatted) account value.
std::string AccountSection(const std::string& account, int section);
// The number of prefix levels in use (0 to 3), as xk_num_sections answers for the account format.
int PrefixLevels();
// A value of `section` with its separators, as messages show it.
std::string FormatAccount(const std::string& value, int section);
// The description of a section of the account format, optionally with a capital first letter.
std::string SectionDescription(int section, bool capitalised = false);

}  // namespace dz::gl
