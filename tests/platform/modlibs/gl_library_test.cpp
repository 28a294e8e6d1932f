// Our GL module library through its thunk: header reads of the GL master file, with and
// without holding the header.
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "modules/entries.h"
#include "modules/module_dlls.h"
#include "platform/datafile/xio.h"
#include "platform/modlibs/registry.h"
#include "platform/suite/company.h"

namespace dz::modules {
namespace {

class GlLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("dz_gllib_" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        suite::write_settings(dir_ / suite::kSettingsFileName, suite::default_settings({"GL"}));
        suite::open_company(dir_);
        ours_ = modlibs::our_module_libraries();
        modlibs::set_registry(&ours_);
        ASSERT_TRUE(LoadModuleDlls());
        xio_ask_request req;
        req.abbr = "GLM";
        req.fileNo = 1;
        req.create = true;
        ASSERT_EQ(xio_ask_file(req, glm_), XIO_OK) << xio_error_text();
        ASSERT_EQ(xio_ask_file(req, other_), XIO_OK) << xio_error_text();
    }
    void TearDown() override {
        xio_cls_file(glm_);
        xio_cls_file(other_);
        ReleaseModuleDlls();
        modlibs::set_registry(nullptr);
        suite::close_company();
        std::filesystem::remove_all(dir_);
    }
    std::filesystem::path dir_;
    modlibs::Registry ours_;
    uint16_t glm_ = 0, other_ = 0;
};

TEST_F(GlLibrary, ReadsHeadersAndHoldsThemWhenAskedTo) {
    EXPECT_EQ(GL_RD_HEADER(glm_, 1, 0), XIO_OK);
    EXPECT_EQ(GL_RD_HEADER(other_, 1, 0), XIO_OK);  // an unheld read leaves others free
    EXPECT_EQ(GL_RD_HEADER(glm_, 1, 1), XIO_OK);
    EXPECT_EQ(GL_RD_HEADER(other_, 1, 1), XIO_LOCKED);
    EXPECT_EQ(xio_free_header(glm_, 1), XIO_OK);
    EXPECT_EQ(GL_RD_HEADER(other_, 1, 1), XIO_OK);
    EXPECT_EQ(xio_free_header(other_, 1), XIO_OK);
}

TEST_F(GlLibrary, BadHandleOrHeaderIsTheLibrarysAnswerNotTheFallback) {
    EXPECT_EQ(GL_RD_HEADER(0, 1, 0), XIO_BAD_CALL);
    EXPECT_EQ(GL_RD_HEADER(glm_, 99, 0), XIO_BAD_CALL);
}

}  // namespace
}  // namespace dz::modules
