// Entry thunks: one function per module-library entry, named after the entry. Each binds its
// entry by name on first use and from then on passes calls straight through; when the module
// library lacks the entry, it answers the entry's fixed fallback result instead.
#pragma once

#include <cstdint>
#include <string>

#include "platform/modlibs/entry_types.h"

namespace dz::modules {

using modlibs::entry::PrOpenRequest;

// Slots of the entry tables. A slot is an entry's for good; new entries take new numbers.
enum GLSlot : uint16_t { kSlot_GL_RD_HEADER = 0 };
enum PRSlot : uint16_t {
    kSlot_PR_OPEN_SYSTEM_FILE = 0,
    kSlot_PR_LIST_DEDIDS = 1,
    kSlot_PR_LIST_DEPTS = 2,
    kSlot_PR_LIST_FRINGES = 3,
    kSlot_PR_LIST_LOCALS = 4,
    kSlot_PR_LIST_PAYIDS = 5,
    kSlot_PR_LIST_UCLASS = 6,
    kSlot_PR_LIST_UNIONS = 7,
};
enum JCSlot : uint16_t { kSlot_JC_GET_COST_ACCOUNT = 0 };
enum ARSlot : uint16_t { kSlot_AR_DUPLICATE_INVOICE = 0 };

// GL (fallback 0)
int GL_RD_HEADER(uint16_t glm, uint16_t header, uint16_t lock);

// PR (fallback 0)
int PR_OPEN_SYSTEM_FILE(PrOpenRequest& request, uint16_t flag1, uint16_t flag2);
int PR_LIST_DEDIDS(uint16_t command, uint16_t prs, std::string& picked);
int PR_LIST_DEPTS(uint16_t command, uint16_t prs, std::string& picked);
int PR_LIST_FRINGES(uint16_t command, uint16_t prs, std::string& picked);
int PR_LIST_PAYIDS(uint16_t command, uint16_t prs, std::string& picked);
int PR_LIST_UNIONS(uint16_t command, uint16_t prs, std::string& picked);
int PR_LIST_UCLASS(uint16_t command, uint16_t prs, const std::string& unionCode, const std::string& local,
                   std::string& picked);
int PR_LIST_LOCALS(uint16_t command, uint16_t prs, const std::string& unionCode, std::string& picked);

// JC (fallback 1; the output text is emptied first)
int JC_GET_COST_ACCOUNT(uint16_t jcm, std::string& account, const std::string& costCode);
// AR (fallback 2)
uint16_t AR_DUPLICATE_INVOICE(uint16_t arm, uint16_t art, const std::string& customer, std::string invoice);

}  // namespace dz::modules
