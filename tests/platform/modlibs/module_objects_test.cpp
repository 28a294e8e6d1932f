// CallModuleFunction's results, with object factories of a test library.
#include <gtest/gtest.h>

#include "modules/module_dlls.h"
#include "modules/module_objects.h"
#include "platform/modlibs/registry.h"

namespace dz::modules {
namespace {

using modlibs::ModuleLibrary;
using modlibs::ObjectLibrary;
using modlibs::Registry;

// A second interface of the test object, ("GL", 2).
class ITestFiscal : public ModuleObject {
public:
    virtual int Level() = 0;
};

struct Counters {
    int queries = 0;
    int releases = 0;
    int made = 0;
};
Counters g_count;

class TestObject final : public ITestFiscal {
public:
    bool Query(const zqpoInterfaceID& id, ModuleObject** iface) override {
        ++g_count.queries;
        if (InterfaceIDEquals(id, glInterfaceID(2))) {
            *iface = static_cast<ITestFiscal*>(this);
            return true;
        }
        *iface = this;  // a careless object: the caller must not rely on the pointer
        return false;
    }
    void Release() override {
        ++g_count.releases;
        delete this;
    }
    int Level() override { return 3; }
};

ModuleObject* make_object() {
    ++g_count.made;
    return new TestObject;
}
ModuleObject* make_nothing() {
    ++g_count.made;
    return nullptr;
}

class ModuleObjects : public ::testing::Test {
protected:
    void SetUp() override {
        g_count = Counters{};
        reg.add_library(ModuleLibrary{"GL", "8.1.0", {}});
        reg.add_object_library(ObjectLibrary{
            "GLCOMMON", "GL", {{"_gl_new_fiscal_entity", &make_object}, {"_gl_new_glm_header", &make_nothing}}});
        reg.installed = [](const std::string& code) { return code == "GL"; };
        reg.logCalls = true;
        modlibs::set_registry(&reg);
        ASSERT_TRUE(LoadModuleDlls());
        reg.calls.clear();
    }
    void TearDown() override {
        ReleaseModuleDlls();
        modlibs::set_registry(nullptr);
    }
    Registry reg;
};

TEST_F(ModuleObjects, RequestedInterfaceComesBackForTheCallerToRelease) {
    ITestFiscal* fiscal = nullptr;
    EXPECT_EQ(CallModuleFunction(glFiscalEntityObjectID, glInterfaceID(2), &fiscal), kModuleCallOk);
    ASSERT_NE(fiscal, nullptr);
    EXPECT_EQ(fiscal->Level(), 3);
    EXPECT_EQ(g_count.queries, 1);
    EXPECT_EQ(g_count.releases, 0);
    fiscal->Release();
    EXPECT_EQ(g_count.releases, 1);
}

TEST_F(ModuleObjects, BaseInterfaceInAnyCaseIsTheObjectItselfWithoutAQuery) {
    ModuleObject* obj = nullptr;
    EXPECT_EQ(CallModuleFunction(glFiscalEntityObjectID, zqpoInterfaceID("zq", 1), &obj), kModuleCallOk);
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(g_count.queries, 0);
    EXPECT_EQ(dynamic_cast<ITestFiscal*>(obj)->Level(), 3);
    obj->Release();
}

TEST_F(ModuleObjects, RefusedInterfaceReleasesTheObjectOnceAndLeavesNoPointer) {
    ModuleObject* obj = reinterpret_cast<ModuleObject*>(&g_count);  // garbage the call must clear
    EXPECT_EQ(CallModuleFunction(glFiscalEntityObjectID, glInterfaceID(5), &obj), kModuleInterfaceRefused);
    EXPECT_EQ(g_count.queries, 1);
    EXPECT_EQ(g_count.releases, 1);
    EXPECT_EQ(obj, nullptr);
}

TEST_F(ModuleObjects, LibraryNotLoadedNeverLooksForTheFactory) {
    ReleaseModuleDlls();
    reg.calls.clear();
    ModuleObject* obj = reinterpret_cast<ModuleObject*>(&g_count);
    EXPECT_EQ(CallModuleFunction(glFiscalEntityObjectID, glInterfaceID(2), &obj), kModuleLibraryNotLoaded);
    EXPECT_EQ(obj, nullptr);
    EXPECT_EQ(g_count.made, 0);
    for (const auto& c : reg.calls) EXPECT_EQ(c.find("xdll_get_function"), std::string::npos) << c;
}

TEST_F(ModuleObjects, UnknownLibraryOrSystemLibraryIsNotLoaded) {
    ModuleObject* obj = nullptr;
    EXPECT_EQ(CallModuleFunction(zqpoObjectID(0, "JCCOMMON", "_gl_new_fiscal_entity"), glInterfaceID(2), &obj),
              kModuleLibraryNotLoaded);
    EXPECT_EQ(CallModuleFunction(zqpoObjectID(1, "GLCOMMON", "_gl_new_fiscal_entity"), glInterfaceID(2), &obj),
              kModuleLibraryNotLoaded);
    EXPECT_EQ(CallModuleFunction(zqpoObjectID(2, "GLCOMMON", "_gl_new_fiscal_entity"), glInterfaceID(2), &obj),
              kModuleLibraryNotLoaded);
    EXPECT_EQ(g_count.made, 0);
}

TEST_F(ModuleObjects, MissingFactoryAndNullObject) {
    ModuleObject* obj = nullptr;
    EXPECT_EQ(CallModuleFunction(glAccountBuilderObjectID, glInterfaceID(4), &obj), kModuleNoFactory);
    EXPECT_EQ(obj, nullptr);
    EXPECT_EQ(CallModuleFunction(glGlmHeaderObjectID, glInterfaceID(2), &obj), kModuleFactoryFailed);
    EXPECT_EQ(obj, nullptr);
    EXPECT_EQ(g_count.made, 1);
}

TEST(InterfaceIDs, EqualByNumberAndModuleIgnoringCase) {
    EXPECT_TRUE(InterfaceIDEquals(zqpoInterfaceID("gl", 2), glInterfaceID(2)));
    EXPECT_TRUE(InterfaceIDEquals(zqpoInterfaceID("Zq", 1), zqBaseInterfaceID));
    EXPECT_FALSE(InterfaceIDEquals(zqpoInterfaceID("GL", 3), glInterfaceID(2)));
    EXPECT_FALSE(InterfaceIDEquals(zqpoInterfaceID("GLX", 2), glInterfaceID(2)));
    EXPECT_FALSE(InterfaceIDEquals(zqpoInterfaceID("ZQ", 2), zqBaseInterfaceID));
}

TEST(InterfaceIDs, GLConstants) {
    for (uint16_t n = 1; n <= 22; ++n) {
        EXPECT_EQ(glInterfaceID(n).module(), "GL");
        EXPECT_EQ(glInterfaceID(n).number(), n);
    }
    EXPECT_EQ(glInterfaceID(23).number(), 0);
    EXPECT_EQ(glFiscalEntityObjectID.library(), "GLCOMMON");
    EXPECT_EQ(glFiscalEntityObjectID.factory(), "_gl_new_fiscal_entity");
    EXPECT_EQ(glFiscalEntityObjectID.kind(), 0u);
    EXPECT_EQ(glAccountBuilderObjectID.factory(), "_gl_new_account_builder");
    EXPECT_EQ(glTransactionLockObjectID.factory(), "_gl_new_transaction_lock");
}

}  // namespace
}  // namespace dz::modules
