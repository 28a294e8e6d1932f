// The three late-charge steps a property and a lease both carry. Each step's fields repeat the
// first step's, one stride of field numbers further on (the stride is `<prefix>ACT2` less
// `<prefix>ACT1`). An inactive step goes back to its defaults with one note; an active one is
// checked against its late charge type, calculation type and grace period calculation. The
// property and the lease converters differ only in their message numbers and mode texts.
#pragma once

#include "converters/pm/pm_shared.h"

#include <cstdint>
#include <string>

namespace dz::pm {

// The messages of one converter's late-charge checks, with the Convert/Examine pairs they take.
struct LateChargeMessages {
    int inactive;            // step not active, its fields reset
    const char* inactiveNumbers;
    int typeAndCalc;         // calculation type does not suit the late charge type
    int daysRequired;        // frequency 'Every' without days
    int daysCleared;         // days without 'Every'
    const char* daysNumbers;
    int notApplicable;       // a field the step's settings do not use
    const char* notApplicableWords;
    const char* notApplicableNumbers;
    int interestStartRequired;
    int formulaMissing;      // a formula name not on file (kept)
    const char* formulaNumbers;
    int formulaRequired;
    int valueMissing;        // a flat amount or percent the calculation type needs
    const char* valueMissingWords;    // nullptr: the message takes no mode text
    const char* valueMissingNumbers;  // nullptr: the message takes no mode numbers
    int rateRequired;
    int rateMissing;
};

// The record's steps: `file` and `rec` hold the staged record, `prefix` starts every step field's
// name ("PL" gives PLACT1, PLCALC1, ...), `pms` is the system file the interest rates are read
// from. False rejects the record with `reason` set; the notes of the steps before stay.
bool CheckLateChargeSteps(uint16_t file, uint16_t rec, const std::string& prefix, uint16_t pms,
                          const LookupScope& scope, const LateChargeMessages& texts, std::string& reason,
                          convert::MessageList& messages);

}  // namespace dz::pm
