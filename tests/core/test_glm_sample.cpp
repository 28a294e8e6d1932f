// The demo GL master file end to end: examined, then converted into an empty company; the
// report, the reject file, the GL master file's records and the stamped text file.
#include "test_glm_support.h"

namespace dz::gl::testing {
namespace {

class GlmSample : public GlmTest {};

TEST_F(GlmSample, ExamineThenConvert) {
    const std::string text = texts.str("demo-gl-master.txt");
    fs::copy_file(kSamples / "demo-gl-master.txt", text);
    const std::string before = Dump();
    const fs::path master = company.path() / "MASTER.GLM";
    ASSERT_EQ(xio_commit(Glm()), XIO_OK);
    const std::string bytes = ReadFile(master);

    const std::string examined = Run(text, "Examine Files");
    ExpectGolden(examined, "sample_examine.txt");
    EXPECT_EQ(Dump(), before);  // Examine Files writes nothing
    EXPECT_EQ(ReadFile(master), bytes);
    EXPECT_EQ(ReadFile(text), ReadFile(kSamples / "demo-gl-master.txt"));  // nor stamps the text file
    EXPECT_FALSE(fs::exists(texts.path() / "RejGLM.txt"));

    const std::string converted = Run(text, "Convert");
    ExpectGolden(converted, "sample_convert.txt");
    ExpectGolden(ReadFile(texts.path() / "RejGLM.txt"), "sample_reject.txt");
    ExpectGolden(Dump(), "sample_dump.txt");
    // Converted: the text file carries its time stamp as line 2.
    const std::string stamped = ReadFile(text);
    EXPECT_EQ(stamped.substr(0, stamped.find('\n', stamped.find('\n') + 1) + 1),
              "#,GLM,xvglm\r\n#,\"Previously Converted\",\"by Ann Lee\",\"on 12/6/26\",\"at 2:30PM\",\"using "
              "xvglm.tpl\"\r\n");
}

}  // namespace
}  // namespace dz::gl::testing
