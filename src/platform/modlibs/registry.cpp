#include "platform/modlibs/registry.h"

#include "platform/suite/control.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

namespace dz::modlibs {

bool InterfaceIDEquals(const zqpoInterfaceID& a, const zqpoInterfaceID& b) {
    if (a.number() != b.number() || a.module().size() != b.module().size()) return false;
    for (size_t i = 0; i < a.module().size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a.module()[i])) !=
            std::toupper(static_cast<unsigned char>(b.module()[i])))
            return false;
    }
    return true;
}

int compare_versions(const std::string& a, const std::string& b) {
    // Missing parts count as 0, so "8.1" equals "8.1.0".
    auto parts = [](const std::string& v) {
        std::vector<unsigned long> out;
        std::string digits;
        std::istringstream in(v);
        while (std::getline(in, digits, '.')) {
            unsigned long n = 0;
            for (char c : digits) {
                if (!std::isdigit(static_cast<unsigned char>(c))) break;
                n = n * 10 + static_cast<unsigned long>(c - '0');
            }
            out.push_back(n);
        }
        return out;
    };
    auto pa = parts(a), pb = parts(b);
    size_t n = std::max(pa.size(), pb.size());
    pa.resize(n, 0);
    pb.resize(n, 0);
    for (size_t i = 0; i < n; ++i) {
        if (pa[i] != pb[i]) return pa[i] < pb[i] ? -1 : 1;
    }
    return 0;
}

void Registry::add_library(ModuleLibrary library) {
    std::string code = library.code;
    libraries_[code] = std::move(library);
}

void Registry::add_object_library(ObjectLibrary library) { objectLibraries_.push_back(std::move(library)); }

void Registry::add_entry(const std::string& code, const std::string& name, EntryFn fn) {
    auto it = libraries_.find(code);
    if (it != libraries_.end()) it->second.entries[name] = fn;
}

void Registry::remove_entry(const std::string& code, const std::string& name) {
    auto it = libraries_.find(code);
    if (it != libraries_.end()) it->second.entries.erase(name);
}

bool Registry::is_loaded(const std::string& code) const { return loaded_.count(code) != 0; }

uint16_t Registry::initialize(const std::string& version) {
    log("zq3zz_initialize " + version);
    return compare_versions(suiteVersion, version) >= 0 ? 1 : 0;
}

uint16_t Registry::load(const std::string& code, const std::string& minVersion, const std::string& appCode,
                        const std::string& code2) {
    log("zd_load_dll " + code + " " + minVersion + " " + appCode + " " + code2);
    auto it = libraries_.find(code);
    if (it == libraries_.end()) return 0;
    if (compare_versions(it->second.version, minVersion) < 0) return 0;
    loaded_.insert(code);
    return 1;
}

void Registry::release(const std::string& code, uint16_t moduleBit) {
    char bit[8];
    std::snprintf(bit, sizeof bit, "0x%04X", static_cast<unsigned>(moduleBit));
    log("zd_release_dll " + code + " " + bit);
    loaded_.erase(code);
}

EntryFn Registry::function_address(const std::string& code, const std::string& name) {
    log("zd_function_address " + code + " " + name);
    if (!is_loaded(code)) return nullptr;
    const auto& entries = libraries_.at(code).entries;
    auto e = entries.find(name);
    return e == entries.end() ? nullptr : e->second;
}

uint16_t Registry::object_library_number(const std::string& name) {
    log("xdll_dll_loaded " + name);
    for (size_t i = 0; i < objectLibraries_.size(); ++i) {
        if (objectLibraries_[i].name == name && is_loaded(objectLibraries_[i].module))
            return static_cast<uint16_t>(i + 1);
    }
    return 0;
}

EntryFn Registry::object_function(uint16_t libraryNumber, const std::string& name) {
    log("xdll_get_function " + std::to_string(libraryNumber) + " " + name);
    if (libraryNumber == 0 || libraryNumber > objectLibraries_.size()) return nullptr;
    const ObjectLibrary& lib = objectLibraries_[libraryNumber - 1];
    if (!is_loaded(lib.module)) return nullptr;
    auto f = lib.factories.find(name);
    return f == lib.factories.end() ? nullptr : reinterpret_cast<EntryFn>(f->second);
}

namespace {
Registry* g_current = nullptr;

Registry& ours() {
    static Registry r = our_module_libraries();
    return r;
}
}  // namespace

Registry& registry() { return g_current ? *g_current : ours(); }
void set_registry(Registry* r) { g_current = r; }

uint16_t zq3zz_initialize(const std::string& version) { return registry().initialize(version); }

uint16_t zd_load_dll(const std::string& code, const std::string& minVersion, const std::string& appCode,
                     const std::string& code2, uint32_t* status) {
    (void)status;  // the suite's loader keeps its own bookkeeping there; ours needs none
    return registry().load(code, minVersion, appCode, code2);
}

void zd_release_dll(const std::string& code, uint16_t moduleBit, uint32_t* status) {
    (void)status;
    registry().release(code, moduleBit);
}

EntryFn zd_function_address(const std::string& code, const std::string& name) {
    return registry().function_address(code, name);
}

uint16_t xdll_dll_loaded(const std::string& library) { return registry().object_library_number(library); }

EntryFn xdll_get_function(uint16_t libraryNumber, const std::string& name) {
    return registry().object_function(libraryNumber, name);
}

uint16_t module_installed(const std::string& code) {
    Registry& r = registry();
    if (r.installed) return r.installed(code) ? 1 : 0;
    return suite::xa_appl_installed(code);
}

}  // namespace dz::modlibs
