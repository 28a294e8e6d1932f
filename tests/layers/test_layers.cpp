// The program's sources include only their own layer and the layers below it, and the scanner
// that checks so finds each kind of offending include in a small tree made for the purpose.
#include "layer_scan.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace dz::layers {
namespace {
namespace fs = std::filesystem;

std::string Describe(const std::vector<Violation>& found) {
    std::ostringstream out;
    for (const auto& v : found) out << v.file << ":" << v.line << ": " << v.target << " (" << v.reason << ")\n";
    return out.str();
}

class ScratchTree : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("dz_layers_" + std::to_string(::getpid()));
        fs::remove_all(root_);
    }
    void TearDown() override { fs::remove_all(root_); }
    void Write(const std::string& relative, const std::string& text) {
        fs::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative) << text;
    }
    fs::path root_;
};

TEST(Layers, TheProgramsSourcesIncludeNothingAboveThemselves) {
    const auto found = ScanTree(DZ_SOURCE_TREE);
    EXPECT_TRUE(found.empty()) << Describe(found);
}

TEST(Layers, LevelsRunFromPlatformToTheFrontEnds) {
    EXPECT_EQ(LayerLevel("platform"), 0);
    EXPECT_EQ(LayerLevel("tables"), LayerLevel("modules"));
    EXPECT_LT(LayerLevel("modules"), LayerLevel("convert"));
    EXPECT_LT(LayerLevel("convert"), LayerLevel("converters"));
    EXPECT_LT(LayerLevel("converters"), LayerLevel("app"));
    EXPECT_LT(LayerLevel("app"), LayerLevel("cli"));
    EXPECT_EQ(LayerLevel("cli"), LayerLevel("gui"));
    EXPECT_EQ(LayerLevel("tests"), -1);
}

TEST_F(ScratchTree, EveryKindOfOffenceIsFound) {
    Write("platform/ui/ui.h", "#pragma once\n");
    Write("convert/converter.h", "#pragma once\n#include \"platform/ui/ui.h\"\n");
    Write("converters/gl/xvglm.h", "#pragma once\n#include \"convert/converter.h\"\n");
    Write("converters/gl/xvglm.cpp", "#include \"xvglm.h\"\n#include \"converters/gl/xvglm.h\"\n");
    Write("app/constants.h", "#pragma once\n");
    // The two includes the converter factory and the module table once had, and more.
    Write("convert/pending.h", "#pragma once\n#include \"convert/converter.h\"\n#include \"converters/gl/xvglm.h\"\n");
    Write("modules/module_dlls.cpp", "#include <array>\n  #  include \"app/constants.h\"\n");
    Write("tables/master.cpp", "#include \"modules/module_dlls.h\"\n");
    Write("platform/ui/bad.cpp", "#include <QWidget>\n#include \"../../cli/cli_ui.h\"\n");
    Write("cli/cli_ui.h", "#pragma once\n#include \"gui/qt_ui.h\"\n");
    Write("gui/qt_ui.h", "#pragma once\n#include <QObject>\n#include \"app/constants.h\"\n");
    Write("extra/loose.cpp", "int x;\n");
    // A converter reaching a helper of another converter instead of the core.
    Write("converters/ap/ap_fields.h", "#pragma once\n#include \"converters/gl/xvglm.h\"\n#include \"../jc/jcm.h\"\n");
    Write("converters/jc/jcm.h", "#pragma once\n");

    const auto found = ScanTree(root_);
    std::vector<std::string> seen;
    for (const auto& v : found) seen.push_back(v.file + ":" + std::to_string(v.line) + " " + v.reason);
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "cli/cli_ui.h:2 includes a neighbour on its own level",
                        "convert/pending.h:3 runs up the layers",
                        "converters/ap/ap_fields.h:2 includes another converter's folder",
                        "converters/ap/ap_fields.h:3 includes another converter's folder",
                        "extra/loose.cpp:0 in a folder that belongs to no layer",
                        "modules/module_dlls.cpp:2 runs up the layers",
                        "platform/ui/bad.cpp:1 Qt outside gui",
                        "platform/ui/bad.cpp:2 runs up the layers",
                        "tables/master.cpp:1 includes a neighbour on its own level",
                    }))
        << Describe(found);
}

TEST_F(ScratchTree, IncludesDownwardsBesideAndOfTheSystemPass) {
    Write("platform/datafile/xio.h", "#pragma once\n#include <string>\n");
    Write("platform/suite/util.h", "#pragma once\n#include \"platform/datafile/xio.h\"\n");
    Write("tables/t.h", "#pragma once\n#include \"platform/suite/util.h\"\n");
    Write("convert/c.h", "#pragma once\n#include \"tables/t.h\"\n// #include \"app/a.h\" in a comment\n");
    Write("converters/gl/g.h", "#pragma once\n#include \"convert/c.h\"\n#include \"g2.h\"\n");
    Write("converters/gl/g2.h", "#pragma once\n");
    Write("converters/ap/a.h", "#pragma once\n#include \"convert/c.h\"\n#include \"converters/ap/a2.h\"\n");
    Write("converters/ap/a2.h", "#pragma once\n");
    Write("app/a.h", "#pragma once\n#include \"converters/ap/a.h\"\n#include <vector>\n");
    Write("gui/w.h", "#pragma once\n#include <QWidget>\n#include <QtCore/QString>\n#include \"app/a.h\"\n");
    Write("cli/m.cpp", "#include \"app/a.h\"\n#include <CLI/CLI.hpp>\n");
    const auto found = ScanTree(root_);
    EXPECT_TRUE(found.empty()) << Describe(found);
}

}  // namespace
}  // namespace dz::layers
