#include "modules/module_objects.h"

#include <array>

#include "platform/modlibs/registry.h"

namespace dz::modules {

namespace {
const char kGLCommon[] = "GLCOMMON";
zqpoObjectID gl(const char* factory) { return zqpoObjectID(zqpoObjectID::kSuiteLibrary, kGLCommon, factory); }
}  // namespace

const zqpoObjectID glAccountBuilderObjectID = gl("_gl_new_account_builder");
const zqpoObjectID glAccountCursorObjectID = gl("_gl_new_account_cursor");
const zqpoObjectID glAccountListerObjectID = gl("_gl_new_account_lister");
const zqpoObjectID glActivityHistoryRollerObjectID = gl("_gl_new_activity_history_roller");
const zqpoObjectID glBaseAccountCursorObjectID = gl("_gl_new_base_account_cursor");
const zqpoObjectID glBudgetCursorObjectID = gl("_gl_new_budget_cursor");
const zqpoObjectID glFiscalEntityObjectID = gl("_gl_new_fiscal_entity");
const zqpoObjectID glGlmHeaderObjectID = gl("_gl_new_glm_header");
const zqpoObjectID glIcBaseAccountValidatorObjectID = gl("_gl_new_ic_base_account_validator");
const zqpoObjectID glJournalCursorObjectID = gl("_gl_new_journal_cursor");
const zqpoObjectID glJournalListerObjectID = gl("_gl_new_journal_lister");
const zqpoObjectID glPartnerCursorObjectID = gl("_gl_new_partner_cursor");
const zqpoObjectID glPrefixACursorObjectID = gl("_gl_new_prefix_a_cursor");
const zqpoObjectID glPrefixBCursorObjectID = gl("_gl_new_prefix_b_cursor");
const zqpoObjectID glPrefixCCursorObjectID = gl("_gl_new_prefix_c_cursor");
const zqpoObjectID glPrefixListerObjectID = gl("_gl_new_prefix_lister");
const zqpoObjectID glTransactionLockObjectID = gl("_gl_new_transaction_lock");

const zqpoInterfaceID zqBaseInterfaceID("ZQ", 1);

const zqpoInterfaceID& glInterfaceID(uint16_t n) {
    static const std::array<zqpoInterfaceID, 23> ids = [] {
        std::array<zqpoInterfaceID, 23> a{
            zqpoInterfaceID("GL", 0),  zqpoInterfaceID("GL", 1),  zqpoInterfaceID("GL", 2),
            zqpoInterfaceID("GL", 3),  zqpoInterfaceID("GL", 4),  zqpoInterfaceID("GL", 5),
            zqpoInterfaceID("GL", 6),  zqpoInterfaceID("GL", 7),  zqpoInterfaceID("GL", 8),
            zqpoInterfaceID("GL", 9),  zqpoInterfaceID("GL", 10), zqpoInterfaceID("GL", 11),
            zqpoInterfaceID("GL", 12), zqpoInterfaceID("GL", 13), zqpoInterfaceID("GL", 14),
            zqpoInterfaceID("GL", 15), zqpoInterfaceID("GL", 16), zqpoInterfaceID("GL", 17),
            zqpoInterfaceID("GL", 18), zqpoInterfaceID("GL", 19), zqpoInterfaceID("GL", 20),
            zqpoInterfaceID("GL", 21), zqpoInterfaceID("GL", 22)};
        return a;
    }();
    return n >= 1 && n <= 22 ? ids[n] : ids[0];
}

uint32_t CallModuleFunction(const zqpoObjectID& object, const zqpoInterfaceID& iface, ModuleObject** out) {
    *out = nullptr;
    // Only the suite's own loader has libraries here; an operating-system library (kind 1) is
    // never loaded in this program, so it reads as "not loaded" like any unknown kind.
    if (object.kind() != zqpoObjectID::kSuiteLibrary) return kModuleLibraryNotLoaded;
    uint16_t library = modlibs::xdll_dll_loaded(object.library());
    if (library == 0) return kModuleLibraryNotLoaded;

    modlibs::EntryFn address = modlibs::xdll_get_function(library, object.factory());
    if (!address) return kModuleNoFactory;

    ModuleObject* obj = reinterpret_cast<modlibs::ObjectFactory>(address)();
    if (!obj) return kModuleFactoryFailed;

    if (InterfaceIDEquals(iface, zqBaseInterfaceID)) {
        *out = obj;
        return kModuleCallOk;
    }
    if (obj->Query(iface, out)) return kModuleCallOk;
    obj->Release();
    *out = nullptr;  // whatever the query left there points at a released object
    return kModuleInterfaceRefused;
}

}  // namespace dz::modules
