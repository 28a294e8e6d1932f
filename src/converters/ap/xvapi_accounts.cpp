#include "converters/ap/xvapi_accounts.h"

#include "convert/lookups.h"
#include "modules/module_objects.h"
#include "platform/modlibs/gl_account_builder.h"
#include "platform/suite/xk.h"

namespace dz::ap {

void BuildPrefixedAccount(uint16_t glm, std::string& out, const std::string& prefix, const std::string& base) {
    if (convert::IsBlank(base)) return;
    if (!suite::xk_prefixed(suite::kGlAccountFormat)) {
        out = base;
        return;
    }
    modlibs::GlAccountBuilder* builder = nullptr;
    if (modules::CallModuleFunction(modules::glAccountBuilderObjectID, modules::glInterfaceID(4), &builder) !=
            modules::kModuleCallOk ||
        !builder)
        return;
    std::string formed;
    if (builder->Form(glm, prefix, base, glm != 0 ? 1 : 0, formed))
        out = formed.substr(0, modlibs::kGlBuiltAccountMax);
    builder->Release();
}

}  // namespace dz::ap
