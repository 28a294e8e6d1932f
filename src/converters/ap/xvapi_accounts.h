// GL accounts an AP conversion forms itself: a whole account from a GL prefix and a base
// account, through the GL account builder.
#pragma once

#include <cstdint>
#include <string>

namespace dz::ap {

// Forms the account of `base` under `prefix` into `out`. A blank base leaves `out` as it is;
// without prefix levels the account is the base itself; when the builder cannot be had, or
// cannot form the account, `out` is left as it is. `glm` may be 0.
void BuildPrefixedAccount(uint16_t glm, std::string& out, const std::string& prefix, const std::string& base);

}  // namespace dz::ap
