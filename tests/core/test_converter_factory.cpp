// The converter factory: one class per conversion type code.
#include "app/converter_factory.h"
#include "converters/ap/xvapi.h"
#include "converters/ap/xvapm.h"
#include "converters/ar/xvarm.h"
#include "converters/gl/xvcmm.h"
#include "converters/gl/xvglm.h"
#include "converters/gl/xvglt.h"
#include "converters/jc/xvjcm.h"
#include "converters/jc/xvjcs.h"
#include "converters/jc/xvjct.h"
#include "converters/pm/xvpml.h"
#include "converters/pm/xvpmp.h"
#include "converters/pm/xvpmr.h"
#include "converters/pm/xvpmt.h"
#include "converters/pm/xvpmv.h"
#include "converters/pm/xvpmz.h"
#include "converters/pr/xvprm.h"
#include "platform/ui/framework.h"

#include "test_convert_support.h"

#include <typeinfo>

namespace dz::convert {
namespace {

using namespace dz::convert::testing;
using namespace dz::app;
using ap::xvAPI, ap::xvAPM, ar::xvARM, gl::xvCMM, gl::xvGLM, gl::xvGLT, jc::xvJCM, jc::xvJCS, jc::xvJCT, pm::xvPMH,
    pm::xvPML, pm::xvPMP, pm::xvPMR, pm::xvPMT, pm::xvPMV, pm::xvPMZ, pr::xvPRM;

template <typename T>
bool Is(const xvConvert* c) {
    return c && typeid(*c) == typeid(T);
}

TEST(FactoryTest, EveryCodeBuildsItsClass) {
    RecordingUi ui;
    EXPECT_TRUE(Is<xvGLM>(CreateConverter(101).get()));
    EXPECT_TRUE(Is<xvGLT>(CreateConverter(102).get()));
    EXPECT_TRUE(Is<xvJCS>(CreateConverter(201).get()));
    EXPECT_TRUE(Is<xvJCM>(CreateConverter(202).get()));
    EXPECT_TRUE(Is<xvJCT>(CreateConverter(203).get()));
    EXPECT_TRUE(Is<xvCMM>(CreateConverter(301).get()));
    EXPECT_TRUE(Is<xvAPM>(CreateConverter(401).get()));
    EXPECT_TRUE(Is<xvAPI>(CreateConverter(402).get()));
    EXPECT_TRUE(Is<xvPRM>(CreateConverter(501).get()));
    EXPECT_TRUE(Is<xvPMP>(CreateConverter(601).get()));
    EXPECT_TRUE(Is<xvPML>(CreateConverter(602).get()));
    EXPECT_TRUE(Is<xvPMR>(CreateConverter(603).get()));
    EXPECT_TRUE(Is<xvPMV>(CreateConverter(604).get()));
    EXPECT_TRUE(Is<xvPMT>(CreateConverter(605).get()));
    EXPECT_TRUE(Is<xvPMH>(CreateConverter(606).get()));
    EXPECT_TRUE(Is<xvPMZ>(CreateConverter(607).get()));
    EXPECT_TRUE(Is<xvARM>(CreateConverter(701).get()));
    EXPECT_TRUE(ui.boxes.empty());
    // Every known conversion type has a converter.
    for (const auto& t : KnownConversionTypes()) EXPECT_NE(CreateConverter(t.code), nullptr) << t.code;
    EXPECT_TRUE(ui.boxes.empty());
}

TEST(FactoryTest, HistoryTransactionsAreTransactionsWithTheFlag) {
    RecordingUi ui;
    OpenFilesList list;
    uint16_t error = 99;

    CConvertWrapper history(606);
    auto* pmh = dynamic_cast<xvPMT*>(history.get());
    ASSERT_NE(pmh, nullptr);
    EXPECT_NE(dynamic_cast<xvPMH*>(history.get()), nullptr);
    EXPECT_FALSE(pmh->IsHistory());
    history->OpenFiles(list, 3020, error);
    EXPECT_TRUE(pmh->IsHistory());

    CConvertWrapper plain(605);
    auto* pmt = dynamic_cast<xvPMT*>(plain.get());
    ASSERT_NE(pmt, nullptr);
    EXPECT_EQ(dynamic_cast<xvPMH*>(plain.get()), nullptr);
    plain->OpenFiles(list, 3020, error);
    EXPECT_FALSE(pmt->IsHistory());
}

TEST(FactoryTest, RecoveriesAndIssuesHaveTheirOwnConverters) {
    RecordingUi ui;
    CConvertWrapper recoveries(604);
    EXPECT_NE(dynamic_cast<xvPMV*>(recoveries.get()), nullptr);
    CConvertWrapper issues(607);
    EXPECT_NE(dynamic_cast<xvPMZ*>(issues.get()), nullptr);
    EXPECT_TRUE(ui.boxes.empty());

    OpenFilesList list;
    ui::zqTask task("Convert", 15, 3020, 5);
    CConvertWrapper history(606);
    history->ConvertFile(list, TextFileEntry{"h.txt", 606}, nullptr, 0, task, "", nullptr);
    EXPECT_TRUE(dynamic_cast<xvPMT*>(history.get())->IsHistory());
}

TEST(FactoryTest, UnknownCodesGiveNoConverterAndOneMessage) {
    for (uint16_t code : {0, 108}) {
        RecordingUi ui;
        {
            CConvertWrapper wrapper(code);
            EXPECT_FALSE(wrapper);
            EXPECT_EQ(wrapper.get(), nullptr);
        }  // destroying it deletes nothing
        ASSERT_EQ(ui.boxes.size(), 1u) << code;
        EXPECT_EQ(ui.boxes[0].first, 101);
        EXPECT_EQ(ui.boxes[0].second, "This conversion type is not yet implemented");
    }
}

}  // namespace
}  // namespace dz::convert
