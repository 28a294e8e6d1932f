// Objects made by a module library's factory entries, and the identifiers that name them.
// A factory takes no arguments and returns a new object (or null); every interface of such an
// object derives from ModuleObject, the base interface ("ZQ", 1).
#pragma once

#include <cstdint>
#include <string>

namespace dz::modlibs {

// Which library and which factory entry make an object.
class zqpoObjectID {
public:
    // 0: a library of the suite's own loader; 1: an ordinary operating-system library.
    enum Kind : uint32_t { kSuiteLibrary = 0, kSystemLibrary = 1 };

    zqpoObjectID(uint32_t kind, std::string library, std::string factory)
        : kind_(kind), library_(std::move(library)), factory_(std::move(factory)) {}
    virtual ~zqpoObjectID() = default;
    zqpoObjectID(const zqpoObjectID&) = default;
    zqpoObjectID& operator=(const zqpoObjectID&) = default;

    uint32_t kind() const { return kind_; }
    const std::string& library() const { return library_; }
    const std::string& factory() const { return factory_; }

private:
    uint32_t kind_;
    std::string library_;
    std::string factory_;
};

// One interface of a module object: module code and number.
class zqpoInterfaceID {
public:
    zqpoInterfaceID(std::string module, uint16_t number) : module_(std::move(module)), number_(number) {}
    virtual ~zqpoInterfaceID() = default;
    zqpoInterfaceID(const zqpoInterfaceID&) = default;
    zqpoInterfaceID& operator=(const zqpoInterfaceID&) = default;

    const std::string& module() const { return module_; }
    uint16_t number() const { return number_; }

private:
    std::string module_;
    uint16_t number_;
};

// Equal when the numbers are equal and the module codes are equal ignoring case.
bool InterfaceIDEquals(const zqpoInterfaceID& a, const zqpoInterfaceID& b);

// The base interface ("ZQ", 1) that every interface of a module object shares.
class ModuleObject {
public:
    // Stores the object's interface for `id` in *iface and answers true, or answers false.
    virtual bool Query(const zqpoInterfaceID& id, ModuleObject** iface) = 0;
    // Gives up the caller's hold on the object.
    virtual void Release() = 0;

protected:
    virtual ~ModuleObject() = default;
};

// A factory entry of an object library.
using ObjectFactory = ModuleObject* (*)();

}  // namespace dz::modlibs
