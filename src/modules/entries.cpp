#include "modules/entries.h"

#include <utility>

#include "modules/module_dlls.h"

namespace dz::modules {

namespace e = modlibs::entry;

int GL_RD_HEADER(uint16_t glm, uint16_t header, uint16_t lock) {
    return CallEntry<e::GL_RD_HEADER>(GLModule(), kSlot_GL_RD_HEADER, "GL_RD_HEADER", 0, glm, header, lock);
}

int PR_OPEN_SYSTEM_FILE(PrOpenRequest& request, uint16_t flag1, uint16_t flag2) {
    return CallEntry<e::PR_OPEN_SYSTEM_FILE>(PRModule(), kSlot_PR_OPEN_SYSTEM_FILE, "PR_OPEN_SYSTEM_FILE", 0,
                                             request, flag1, flag2);
}

int PR_LIST_DEDIDS(uint16_t command, uint16_t prs, std::string& picked) {
    return CallEntry<e::PR_LIST>(PRModule(), kSlot_PR_LIST_DEDIDS, "PR_LIST_DEDIDS", 0, command, prs, picked);
}

int PR_LIST_DEPTS(uint16_t command, uint16_t prs, std::string& picked) {
    return CallEntry<e::PR_LIST>(PRModule(), kSlot_PR_LIST_DEPTS, "PR_LIST_DEPTS", 0, command, prs, picked);
}

int PR_LIST_FRINGES(uint16_t command, uint16_t prs, std::string& picked) {
    return CallEntry<e::PR_LIST>(PRModule(), kSlot_PR_LIST_FRINGES, "PR_LIST_FRINGES", 0, command, prs, picked);
}

int PR_LIST_PAYIDS(uint16_t command, uint16_t prs, std::string& picked) {
    return CallEntry<e::PR_LIST>(PRModule(), kSlot_PR_LIST_PAYIDS, "PR_LIST_PAYIDS", 0, command, prs, picked);
}

int PR_LIST_UNIONS(uint16_t command, uint16_t prs, std::string& picked) {
    return CallEntry<e::PR_LIST>(PRModule(), kSlot_PR_LIST_UNIONS, "PR_LIST_UNIONS", 0, command, prs, picked);
}

int PR_LIST_UCLASS(uint16_t command, uint16_t prs, const std::string& unionCode, const std::string& local,
                   std::string& picked) {
    return CallEntry<e::PR_LIST_UCLASS>(PRModule(), kSlot_PR_LIST_UCLASS, "PR_LIST_UCLASS", 0, command, prs,
                                        unionCode, local, picked);
}

int PR_LIST_LOCALS(uint16_t command, uint16_t prs, const std::string& unionCode, std::string& picked) {
    return CallEntry<e::PR_LIST_LOCALS>(PRModule(), kSlot_PR_LIST_LOCALS, "PR_LIST_LOCALS", 0, command, prs,
                                        unionCode, picked);
}

int JC_GET_COST_ACCOUNT(uint16_t jcm, std::string& account, const std::string& costCode) {
    account.clear();
    return CallEntry<e::JC_GET_COST_ACCOUNT>(JCModule(), kSlot_JC_GET_COST_ACCOUNT, "JC_GET_COST_ACCOUNT", 1, jcm,
                                             account, costCode);
}

uint16_t AR_DUPLICATE_INVOICE(uint16_t arm, uint16_t art, const std::string& customer, std::string invoice) {
    return CallEntry<e::AR_DUPLICATE_INVOICE>(ARModule(), kSlot_AR_DUPLICATE_INVOICE, "AR_DUPLICATE_INVOICE",
                                              2, arm, art, customer, std::move(invoice));
}

}  // namespace dz::modules
