// Field numbers resolved once per text file.
//
// A handler that looks its fields up by name on every record pays for the same answer a million
// times. Every converter resolves the names of the fields its per-record handlers touch once,
// when a text file starts (in LoadSettings, its data files open), and then reads and writes
// through the numbers with the data-file library's one-member calls, which copy no whole value:
//
//     // The account fields the handler uses, listed once, in the order of an enum.
//     enum AccountField : std::size_t { kAcct, kTitle, kBalance, kAccountFields };
//     constexpr convert::FieldNames<kAccountFields> kAccountNames{"AACCT", "ATITLE", "ACRBAL"};
//
//     convert::FieldNumbers<kAccountFields> account_;                 // a member of the converter
//     account_.Resolve(handle, kRecAccount, kAccountNames);          // once per text file
//     const double balance = xio_get_number(handle, account_[kBalance]);  // on every record
//     xio_put_flag(handle, account_[kActive], 1);
//
// A name the record does not have resolves to 0, which every one-member call takes as no field
// (it reads 0 or an empty text and writes nothing), as a lookup by name answers.
// FieldNo and the by-name getters of convert/record_fields.h stay for records met a few times
// (settings, headers, rare record types); the fields of a record met on every line of a large
// text file go through FieldNumbers. Key-format services (platform/suite/xk.h) keep their
// layouts themselves: call them freely.
#pragma once

#include "platform/datafile/xio.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace dz::convert {

template <std::size_t N>
using FieldNames = std::array<const char*, N>;

template <std::size_t N>
class FieldNumbers {
public:
    // Resolves every name against record (or, with XIO_NUM_HEADER, header) `number` of the data
    // file open as `handle`. Call again whenever the handle or its dictionary may have changed.
    void Resolve(uint16_t handle, uint16_t number, const FieldNames<N>& names, uint16_t kind = XIO_NUM_RECORD) {
        for (std::size_t i = 0; i < N; ++i) numbers_[i] = xio_num(handle, kind, number, names[i]);
    }
    uint16_t operator[](std::size_t i) const { return numbers_[i]; }
    const std::array<uint16_t, N>& All() const { return numbers_; }

private:
    std::array<uint16_t, N> numbers_{};
};

}  // namespace dz::convert
