// Loading and releasing the suite's module libraries, and the entry tables behind the entry
// thunks. Everything here runs on the user-interface thread; the tables need no lock.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/modlibs/registry.h"

namespace dz::modules {

// The cash-management module's code. The AP conversion names it too, when it writes the
// cash-management transactions of its payments.
inline const std::string ModuleCodeCM = "CM";

// One module library: how it is loaded and released and, for modules with entries, its table of
// resolved entry addresses (slots start null and fill on first use).
class ModuleDll {
public:
    ModuleDll(std::string code, std::string minVersion, uint16_t moduleBit, size_t slots);

    const std::string& code() const { return code_; }
    const std::string& minVersion() const { return minVersion_; }
    uint16_t moduleBit() const { return moduleBit_; }
    size_t slots() const { return table_.size(); }

    uint16_t LoadModuleDll(const std::string& appCode, uint32_t* status);
    // Clears the entry table (modules with entries), then releases the library.
    void ReleaseModuleDll(uint32_t* status);
    void ClearModuleEntryCache();

    // The address in `slot`; looked up by `name` first when the slot is empty. Null when the
    // library does not offer the entry (then the slot stays empty and the next call asks again).
    modlibs::EntryFn Bind(uint16_t slot, const char* name);
    // What the slot holds now, without looking anything up.
    modlibs::EntryFn Slot(uint16_t slot) const { return slot < table_.size() ? table_[slot] : nullptr; }

private:
    std::string code_;
    std::string minVersion_;
    uint16_t moduleBit_;
    std::vector<modlibs::EntryFn> table_;
};

// The seven modules, one object each.
ModuleDll& CMModule();
ModuleDll& APModule();
ModuleDll& JCModule();
ModuleDll& GLModule();
ModuleDll& PRModule();
ModuleDll& PMModule();
ModuleDll& ARModule();

// Loads the suite interface and every installed module; on any failure releases all seven and
// answers false.
bool LoadModuleDlls();
// Releases all seven modules (installed or not), clearing their entry tables.
void ReleaseModuleDlls();

// Calls one entry: binds it by name on first use and passes the call straight through; when the
// library lacks the entry, answers `fallback` without calling anything. `Fn` is the entry's
// function type from platform/modlibs/entry_types.h.
template <typename Fn>
struct EntryResult;
template <typename R, typename... A>
struct EntryResult<R(A...)> {
    using type = R;
};

template <typename Fn, typename... Args>
typename EntryResult<Fn>::type CallEntry(ModuleDll& module, uint16_t slot, const char* name,
                                         typename EntryResult<Fn>::type fallback, Args&&... args) {
    if (modlibs::EntryFn address = module.Bind(slot, name))
        return reinterpret_cast<Fn*>(address)(std::forward<Args>(args)...);
    return fallback;
}

}  // namespace dz::modules
