#include "modules/module_dlls.h"

#include <array>

namespace dz::modules {

namespace {
// Interface version of the suite's accounting library that the program was written against.
const char kSuiteInterfaceVersion[] = "8.0.20";
// Application code the program identifies itself with to the loader.
const char kApplicationCode[] = "XV";
}  // namespace

ModuleDll::ModuleDll(std::string code, std::string minVersion, uint16_t moduleBit, size_t slots)
    : code_(std::move(code)), minVersion_(std::move(minVersion)), moduleBit_(moduleBit), table_(slots, nullptr) {}

uint16_t ModuleDll::LoadModuleDll(const std::string& appCode, uint32_t* status) {
    // The loader takes the module code twice; both are the module's own code.
    return modlibs::zd_load_dll(code_, minVersion_, appCode, code_, status);
}

void ModuleDll::ReleaseModuleDll(uint32_t* status) {
    ClearModuleEntryCache();
    modlibs::zd_release_dll(code_, moduleBit_, status);
}

void ModuleDll::ClearModuleEntryCache() {
    for (auto& slot : table_) slot = nullptr;
}

modlibs::EntryFn ModuleDll::Bind(uint16_t slot, const char* name) {
    if (slot >= table_.size()) return nullptr;
    if (!table_[slot]) table_[slot] = modlibs::zd_function_address(code_, name);
    return table_[slot];
}

ModuleDll& CMModule() {
    static ModuleDll m(ModuleCodeCM, "8.0.12", 0x0002, 0);
    return m;
}
ModuleDll& APModule() {
    static ModuleDll m("AP", "8.0.15", 0x0001, 142);
    return m;
}
ModuleDll& JCModule() {
    static ModuleDll m("JC", "8.0.14", 0x0008, 83);
    return m;
}
ModuleDll& GLModule() {
    static ModuleDll m("GL", "8.0.13", 0x0004, 25);
    return m;
}
ModuleDll& PRModule() {
    static ModuleDll m("PR", "8.0.111", 0x0020, 63);
    return m;
}
ModuleDll& PMModule() {
    static ModuleDll m("PM", "8.0.8", 0x0400, 0);
    return m;
}
ModuleDll& ARModule() {
    static ModuleDll m("AR", "8.0.16", 0x0800, 57);
    return m;
}

bool LoadModuleDlls() {
    uint32_t status = 0;
    if (modlibs::zq3zz_initialize(kSuiteInterfaceVersion) == 1) {
        const std::array<ModuleDll*, 7> loadOrder = {&CMModule(), &APModule(), &JCModule(), &GLModule(),
                                                     &PRModule(), &PMModule(), &ARModule()};
        bool ok = true;
        for (ModuleDll* m : loadOrder) {
            if (modlibs::module_installed(m->code()) == 0) continue;
            if (m->LoadModuleDll(kApplicationCode, &status) != 1) {
                ok = false;
                break;
            }
        }
        if (ok) return true;
    }
    ReleaseModuleDlls();
    return false;
}

void ReleaseModuleDlls() {
    uint32_t status = 0;
    const std::array<ModuleDll*, 7> releaseOrder = {&PRModule(), &GLModule(), &JCModule(), &APModule(),
                                                    &CMModule(), &PMModule(), &ARModule()};
    for (ModuleDll* m : releaseOrder) m->ReleaseModuleDll(&status);
}

}  // namespace dz::modules
