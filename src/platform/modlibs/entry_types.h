// The function type of every module-library entry that the program binds. A library registers
// its implementation under the entry's export name; the entry thunk casts the bound address
// back to the same type, so both sides must use these declarations.
#pragma once

#include <cstdint>
#include <string>

namespace dz::modlibs::entry {

// ---- GL -----------------------------------------------------------------------------------
// Reads header `header` of the GL master file `glm` (held when `lock` is 1). 0 when read.
using GL_RD_HEADER = int(uint16_t glm, uint16_t header, uint16_t lock);

// ---- PR -----------------------------------------------------------------------------------
// Request to open the payroll system file SYSTEM.PRS.
struct PrOpenRequest {
    uint16_t command = 0;  // the asking task's command id
    uint16_t mode = 0;     // 1: open for the table editor and prefill
    int16_t handle = 0;    // out: the open file's handle when the call answers 0
};
using PR_OPEN_SYSTEM_FILE = int(PrOpenRequest& request, uint16_t flag1, uint16_t flag2);

// Record pickers over the payroll system file `prs`: nonzero when the person picked a record,
// whose code is then in `picked`.
using PR_LIST = int(uint16_t command, uint16_t prs, std::string& picked);
// Classes, narrowed by union and local when those are not empty.
using PR_LIST_UCLASS = int(uint16_t command, uint16_t prs, const std::string& unionCode,
                           const std::string& local, std::string& picked);
// Locals of one union (at most 10 characters).
using PR_LIST_LOCALS = int(uint16_t command, uint16_t prs, const std::string& unionCode, std::string& picked);

// ---- Entries bound for their binding rule; their modules' converters give them callers ----
// Output text first emptied by the thunk; 1 when the library lacks the entry.
using JC_GET_COST_ACCOUNT = int(uint16_t jcm, std::string& account, const std::string& costCode);
// The invoice text travels by value; 2 when the library lacks the entry.
using AR_DUPLICATE_INVOICE = uint16_t(uint16_t arm, uint16_t art, const std::string& customer, std::string invoice);

}  // namespace dz::modlibs::entry
