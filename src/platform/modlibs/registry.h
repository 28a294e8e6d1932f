// The in-process stand-in for the suite's module-library loader. Our module libraries are bound
// statically: each registers its exported entries by name in a Registry, and the loader calls
// (zd_load_dll, zd_release_dll, zd_function_address, xdll_dll_loaded, xdll_get_function) answer
// from the registry in force. Tests install a registry of their own, e.g. one missing an entry.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/modlibs/module_object.h"

namespace dz::modlibs {

// Any exported entry. Callers cast it back to the entry's own type (see entry_types.h).
using EntryFn = void (*)();

template <typename F>
EntryFn entry_address(F* fn) {
    return reinterpret_cast<EntryFn>(fn);
}

// One module library: its code ("GL"), its version ("8.1.0") and its entries by export name.
struct ModuleLibrary {
    std::string code;
    std::string version;
    std::map<std::string, EntryFn> entries;
};

// A library of object factories ("GLCOMMON"), loaded while its owning module is loaded.
struct ObjectLibrary {
    std::string name;
    std::string module;
    std::map<std::string, ObjectFactory> factories;
};

class Registry {
public:
    // The suite interface version our loader offers; zq3zz_initialize accepts any version up to it.
    std::string suiteVersion = "8.1.0";
    // Which modules count as installed; unset means the open company's installed applications.
    std::function<bool(const std::string& code)> installed;
    // When set, every loader call is kept in `calls`, in order, as text (e.g. "zd_load_dll GL
    // 8.0.13 XV GL"), for inspection. Off by default: a long run makes many lookups.
    bool logCalls = false;
    std::vector<std::string> calls;

    void add_library(ModuleLibrary library);
    void add_object_library(ObjectLibrary library);
    // Adds or replaces one entry of a registered module library.
    void add_entry(const std::string& code, const std::string& name, EntryFn fn);
    void remove_entry(const std::string& code, const std::string& name);

    bool is_loaded(const std::string& code) const;

    // The loader's answers; the free functions below forward here.
    uint16_t initialize(const std::string& version);
    uint16_t load(const std::string& code, const std::string& minVersion, const std::string& appCode,
                  const std::string& code2);
    void release(const std::string& code, uint16_t moduleBit);
    EntryFn function_address(const std::string& code, const std::string& name);
    uint16_t object_library_number(const std::string& name);
    EntryFn object_function(uint16_t libraryNumber, const std::string& name);

private:
    void log(std::string call) {
        if (logCalls) calls.push_back(std::move(call));
    }

    std::map<std::string, ModuleLibrary> libraries_;
    std::vector<ObjectLibrary> objectLibraries_;
    std::set<std::string> loaded_;
};

// The registry in force. Until one is installed, the registry of our own module libraries.
Registry& registry();
// Installs `r` (not owned). nullptr restores our own module libraries.
void set_registry(Registry* r);
// A fresh registry holding our own module libraries.
Registry our_module_libraries();

// Compares dotted version texts numerically ("8.0.111" > "8.0.20"); <0, 0, >0.
int compare_versions(const std::string& a, const std::string& b);

// --- Loader calls, as the binding layer relies on them ---------------------------------------
// 1 when the suite interface `version` is available.
uint16_t zq3zz_initialize(const std::string& version);
// 1 when the module library is loaded (present, installed and at least `minVersion`).
uint16_t zd_load_dll(const std::string& code, const std::string& minVersion, const std::string& appCode,
                     const std::string& code2, uint32_t* status);
void zd_release_dll(const std::string& code, uint16_t moduleBit, uint32_t* status);
// The entry's address, or null when the module is not loaded or lacks the entry.
EntryFn zd_function_address(const std::string& code, const std::string& name);
// The library number of a loaded object library, 0 when it is not loaded.
uint16_t xdll_dll_loaded(const std::string& library);
// The address of a function of a loaded object library, or null.
EntryFn xdll_get_function(uint16_t libraryNumber, const std::string& name);
// Nonzero when the module is installed (the registry's own answer, else the open company's).
uint16_t module_installed(const std::string& code);

}  // namespace dz::modlibs
