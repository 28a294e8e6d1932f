// Objects made by the module libraries' factory entries: the GL object and interface
// identifiers, and CallModuleFunction, which creates an object and hands back one interface.
// Nothing here loads a library; objects come only from libraries already loaded.
#pragma once

#include <cstdint>

#include "platform/modlibs/module_object.h"

namespace dz::modules {

using modlibs::InterfaceIDEquals;
using modlibs::ModuleObject;
using modlibs::zqpoInterfaceID;
using modlibs::zqpoObjectID;

// Results of CallModuleFunction.
enum : uint32_t {
    kModuleCallOk = 0,             // the interface was obtained; the caller releases it
    kModuleLibraryNotLoaded = 1,   // the interface pointer is null
    kModuleNoFactory = 2,          // the interface pointer is null
    kModuleInterfaceRefused = 3,   // the object was released; the pointer is not to be used
    kModuleFactoryFailed = 4,      // the factory returned null; the pointer is null
};

// Creates the object `object` names and stores its interface `iface` in *out.
uint32_t CallModuleFunction(const zqpoObjectID& object, const zqpoInterfaceID& iface, ModuleObject** out);

// Typed convenience over CallModuleFunction for a known interface class.
template <typename I>
uint32_t CallModuleFunction(const zqpoObjectID& object, const zqpoInterfaceID& iface, I** out) {
    ModuleObject* obj = nullptr;
    uint32_t result = CallModuleFunction(object, iface, &obj);
    *out = static_cast<I*>(obj);
    return result;
}

// The GL common library's objects.
extern const zqpoObjectID glAccountBuilderObjectID;          // "_gl_new_account_builder"
extern const zqpoObjectID glAccountCursorObjectID;           // "_gl_new_account_cursor"
extern const zqpoObjectID glAccountListerObjectID;           // "_gl_new_account_lister"
extern const zqpoObjectID glActivityHistoryRollerObjectID;   // "_gl_new_activity_history_roller"
extern const zqpoObjectID glBaseAccountCursorObjectID;       // "_gl_new_base_account_cursor"
extern const zqpoObjectID glBudgetCursorObjectID;            // "_gl_new_budget_cursor"
extern const zqpoObjectID glFiscalEntityObjectID;            // "_gl_new_fiscal_entity"
extern const zqpoObjectID glGlmHeaderObjectID;               // "_gl_new_glm_header"
extern const zqpoObjectID glIcBaseAccountValidatorObjectID;  // "_gl_new_ic_base_account_validator"
extern const zqpoObjectID glJournalCursorObjectID;           // "_gl_new_journal_cursor"
extern const zqpoObjectID glJournalListerObjectID;           // "_gl_new_journal_lister"
extern const zqpoObjectID glPartnerCursorObjectID;           // "_gl_new_partner_cursor"
extern const zqpoObjectID glPrefixACursorObjectID;           // "_gl_new_prefix_a_cursor"
extern const zqpoObjectID glPrefixBCursorObjectID;           // "_gl_new_prefix_b_cursor"
extern const zqpoObjectID glPrefixCCursorObjectID;           // "_gl_new_prefix_c_cursor"
extern const zqpoObjectID glPrefixListerObjectID;            // "_gl_new_prefix_lister"
extern const zqpoObjectID glTransactionLockObjectID;         // "_gl_new_transaction_lock"

// The base interface every module object offers.
extern const zqpoInterfaceID zqBaseInterfaceID;  // ("ZQ", 1)
// ("GL", n) for n from 1 to 22; glInterfaceID(2) is the fiscal entity, glInterfaceID(4) the
// account builder. Any other n gives ("GL", 0), which no object offers.
const zqpoInterfaceID& glInterfaceID(uint16_t n);

}  // namespace dz::modules
