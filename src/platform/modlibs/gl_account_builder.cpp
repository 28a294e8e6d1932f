#include "platform/modlibs/gl_account_builder.h"

#include "platform/suite/xk.h"

namespace dz::modlibs {

namespace {

class AccountBuilder final : public GlAccountBuilder {
public:
    bool Query(const zqpoInterfaceID& id, ModuleObject** iface) override {
        if (!InterfaceIDEquals(id, zqpoInterfaceID("GL", 4))) return false;
        *iface = this;
        return true;
    }
    void Release() override { delete this; }

    bool Form(uint16_t, const std::string& prefix, const std::string& base, uint16_t, std::string& out) override {
        using namespace suite;
        if (base.find_first_not_of(' ') == std::string::npos) return false;
        if (!xk_prefixed(kGlAccountFormat)) {
            out = base;
            return true;
        }
        if (!xk_check(kGlAccountFormat, kGlPrefix, prefix)) return false;
        std::string p = prefix;
        xk_unformat_field(kGlAccountFormat, kGlPrefix, p);
        std::string b = base;
        xk_unformat_field(kGlAccountFormat, kGlBaseAccount, b);
        out = (p + b).substr(0, kGlBuiltAccountMax);
        return true;
    }
};

}  // namespace

ModuleObject* gl_new_account_builder() { return new AccountBuilder(); }

}  // namespace dz::modlibs
