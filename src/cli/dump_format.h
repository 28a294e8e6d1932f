// The text of field values as `dump` prints them and `load` reads them back:
//
//   text      quoted, with \" \\ and \xHH for control characters and bytes that are not UTF-8;
//             every other character as it is
//   number    the stored value in its shortest exact fixed-point form (never an exponent);
//             choices their item number
//   logical   1 or 0
//   date      YYYY-MM-DD, empty when blank (a day of 00 is kept: it is storable)
//   time      HH:MM:SS
#pragma once

#include "platform/datafile/xio.h"

#include <string>
#include <string_view>

namespace dz::cli {

std::string dump_quoted(const std::string& text);
std::string dump_value(const xio_fld_def& field, const x_value_def& value);

// Reads the quoted text at the start of `in` (which must begin with a quote); the characters
// taken, 0 when the quote is not closed or an escape is bad.
std::size_t read_quoted(std::string_view in, std::string& text);

// The value of `field` written as `text` (for a text field, already unquoted by read_quoted).
// False with `why` when the text is not a value of the field: not of its form, or one that the
// field cannot hold exactly (too long, too many digits, a fraction of the field's smallest unit,
// negative in an unsigned field, a choice beyond its items, a date or time that does not exist).
bool parse_value(const xio_fld_def& field, const std::string& text, x_value_def& value, std::string& why);

}  // namespace dz::cli
