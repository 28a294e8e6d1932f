// The GL account builder: an object of the GL common library ("GLCOMMON", factory
// "_gl_new_account_builder") offering interface ("GL", 4). It forms a whole GL account from a
// prefix and a base account.
#pragma once

#include <cstdint>
#include <string>

#include "platform/modlibs/module_object.h"

namespace dz::modlibs {

// The longest account the builder hands back.
inline constexpr std::size_t kGlBuiltAccountMax = 25;

// Interface ("GL", 4).
class GlAccountBuilder : public ModuleObject {
public:
    // Forms the account of `base` under `prefix` (either formatted or not) into `out`,
    // unformatted, at most kGlBuiltAccountMax characters. `glm` (or 0) and `hasHandle` (1 when
    // `glm` is given) name the GL master file; the accounts are not looked up in it. Without
    // prefix levels the account is the base itself. False, with `out` unchanged, when the base
    // is blank or the prefix is not a whole prefix.
    virtual bool Form(uint16_t glm, const std::string& prefix, const std::string& base, uint16_t hasHandle,
                      std::string& out) = 0;

protected:
    ~GlAccountBuilder() override = default;
};

// The factory entry "_gl_new_account_builder".
ModuleObject* gl_new_account_builder();

}  // namespace dz::modlibs
