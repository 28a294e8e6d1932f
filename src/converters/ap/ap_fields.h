// The helpers the AP vendor handlers share: the converters' field, message, term and look-up
// helpers (convert/), by their short names.
#pragma once

#include "convert/lookups.h"
#include "convert/record_fields.h"
#include "converters/ap/xvapm.h"

#include <cstdint>
#include <string>

namespace dz::ap {

using namespace convert;


}  // namespace dz::ap
