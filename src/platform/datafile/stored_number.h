// Numbers read from data files. A data file may have been written by another program or edited
// by hand, and a number field then holds whatever a double holds: 1e300, -5, 1.5, inf. A cast of
// such a number to an integer type is undefined when its whole part does not fit the type, and a
// counter that large no longer moves when 1 is added to it. What a stored number must be before
// it is cast or raised is checked here, once, for every reader.
#pragma once

#include "platform/datafile/xio.h"

#include <cmath>
#include <concepts>
#include <limits>
#include <optional>

namespace dz {

// `value` as a T when it is a whole number from `lo` to `hi`; nothing otherwise (1.5, nan, inf,
// a number beyond the bounds).
template <std::integral T>
std::optional<T> xio_whole(double value, T lo = std::numeric_limits<T>::min(), T hi = std::numeric_limits<T>::max()) {
    static_assert(sizeof(T) <= 4, "every bound is exact as a double");
    if (!(value >= static_cast<double>(lo) && value <= static_cast<double>(hi)) || value != std::trunc(value))
        return std::nullopt;
    return static_cast<T>(value);
}

// The whole part of `value` as a T when it lies from `lo` to `hi`; `otherwise` when it does not
// (nan and the infinities included): a setting or level read from a data file.
template <std::integral T>
T xio_whole_part(double value, T otherwise, T lo = std::numeric_limits<T>::min(),
                 T hi = std::numeric_limits<T>::max()) {
    return xio_whole<T>(std::trunc(value), lo, hi).value_or(otherwise);
}

// Whether `value` is a whole number that the number field `def` holds, as a text file's number
// must be to go into it: no more digits than its length, not below 0 unless it is signed. A
// counter kept in a field (a last run, a last issue) is raised only into such a number.
inline bool xio_fits_field(const xio_fld_def& def, double value) {
    if (!std::isfinite(value) || value != std::trunc(value)) return false;
    // Beyond 2^53 a double no longer holds every whole number.
    const double most = def.length >= 16 ? 9007199254740992.0 : std::pow(10.0, def.length) - 1;
    return value <= most && value >= (def.isSigned ? -most : 0.0);
}

}  // namespace dz
