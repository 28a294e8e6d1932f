// Posting an AP invoice group: the last payment of a distribution's amount named by custom
// description 64 takes what the earlier payments left of its taxes on that amount.
#pragma once

#include <cstdint>

namespace dz::ap {

// The payments of one distribution in the order they are posted, in whole cents. `reference` is
// what was still to pay of the distribution's 64-amount before them; `running` starts at 0 and
// carries the payments so far (64 bits: a total is never cut short).
class LastShare {
public:
    explicit LastShare(double reference);
    // Adds a payment's 64-amount paid; true when it completes the reference. A payment of 0
    // never does.
    bool Add(double paid64);

private:
    int64_t reference_ = 0;
    int64_t running_ = 0;
};

}  // namespace dz::ap
