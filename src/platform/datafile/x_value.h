// The framework's field value: what xio_get_field fills and xio_put_field takes.
#pragma once

#include <cstdint>
#include <string>

namespace dz {

// A calendar date. Blank when month is 0; a set month with day 0 is storable.
struct x_date_type {
    uint16_t month = 0;
    uint16_t day = 0;
    uint16_t year = 0;
    bool blank() const { return month == 0; }
    bool operator==(const x_date_type&) const = default;
};

// A time of day.
struct x_time_type {
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    bool operator==(const x_time_type&) const = default;
};

// One field value. Only the member that belongs to the field's type is read by a put and set
// by a get; the others keep whatever the caller left in them.
//   text      text fields (types 0 and 5), UTF-8, at most 80 bytes; empty = blank
//   longText  text longer than 80 bytes: a get of a text field sets text to its first 80
//             bytes (fewer where a character would be cut) and longText to the whole value
//             (empty when it fits in text); a put takes longText when it is longer than text
//             and begins with it, else text
//   (a put trims trailing blanks and cuts the value to the field's length in characters)
//   number    number fields (types 1 and 6) and choice fields (types 7, 8, 9: the item number)
//   flag      logical fields (type 2): 1 set, 0 not
//   date      date fields (type 3)
//   time      time fields (type 4)
struct x_value_def {
    static constexpr std::size_t kTextMax = 80;

    std::string text;
    std::string longText;
    double number = 0;
    uint16_t flag = 0;
    x_date_type date;
    x_time_type time;

    bool operator==(const x_value_def&) const = default;
};

}  // namespace dz
