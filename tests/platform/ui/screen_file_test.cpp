#include "platform/ui/screen_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <vector>

using namespace dz::ui;

namespace {
std::filesystem::path shipped() { return std::filesystem::path(DZ_SOURCE_DATA_DIR) / "screens" / "XV.toml"; }
}  // namespace

TEST(ScreenFile, ShippedFileHoldsEveryPanelTheProgramShows) {
    ScreenFile sf = load_screen_file(shipped());
    const char* wanted[][2] = {{"CONVERT", "STATUSS"}, {"CONVERT", "STATUSM"}, {"EXAMINE", "STATUSS"},
                               {"EXAMINE", "STATUSM"}, {"TABLE", "STATUSS"},   {"TABLE", "STATUSM"},
                               {"TABLE", "STATUSI"},   {"CONVERT", "HUB"},     {"EXAMINE", "HUB"},
                               {"EXAMINE", "CHILD"},   {"HUB", "HUB"},         {"QUERY", "API"},
                               {"QUERY", "GENERAL"},   {"TABLE", "NEW"},       {"TABLE", "OPEN"},
                               {"TABLE", "MAIN"},      {"TABLE", "GRID"},      {"TABLE", "SAVEAS"},
                               {"TABLE", "OPTIONS"}};
    for (auto& w : wanted) EXPECT_NE(sf.find(w[0], w[1]), nullptr) << w[0] << "/" << w[1];
    // Names compare without regard to case.
    EXPECT_NE(sf.find("convert", "statusS"), nullptr);
}

TEST(ScreenFile, ProgressPanelsLeaveRoomForTheValuesWrittenAtRunTime) {
    ScreenFile sf = load_screen_file(shipped());
    // Row -> columns where the progress window writes values; no label may reach one.
    std::map<int, std::vector<int>> single = {{1, {12, 42}}, {2, {15}}, {3, {15}}, {5, {28, 62}},
                                              {6, {28}},     {8, {3, 64}}};
    std::map<int, std::vector<int>> several = {{1, {12, 42}}, {2, {15}},     {3, {15}},
                                               {5, {22, 62}}, {6, {22, 62}}, {7, {22}},
                                               {9, {28, 62}}, {10, {28}},    {12, {3, 64}}};
    for (const auto& [name, values] : {std::pair{"STATUSS", single}, std::pair{"STATUSM", several}}) {
        const PanelDef* p = sf.find("CONVERT", name);
        ASSERT_NE(p, nullptr);
        EXPECT_GE(p->cols, 70);
        EXPECT_EQ(p->events, EventStyle::Direct);
        ASSERT_NE(p->button(1), nullptr);
        EXPECT_TRUE(p->button(1)->escape);
        for (const auto& t : p->texts) {
            int end = t.col + static_cast<int>(t.text.size()) - 1;
            auto it = values.find(t.row);
            if (it == values.end()) continue;
            for (int valueCol : it->second) {
                EXPECT_FALSE(t.col <= valueCol && end >= valueCol) << t.text << " on row " << t.row;
                if (t.col < valueCol) {
                    EXPECT_LT(end, valueCol) << t.text << " on row " << t.row;
                }
            }
        }
    }
}

TEST(ScreenFile, CopiedPanelsKeepTheOriginalAndTakeTheirOwnNames) {
    ScreenFile sf = load_screen_file(shipped());
    const PanelDef* s = sf.find("TABLE", "STATUSI");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->screen, "TABLE");
    EXPECT_EQ(s->title, "Import Status");
    EXPECT_EQ(s->rows, sf.find("CONVERT", "STATUSS")->rows);
    const PanelDef* hub = sf.find("EXAMINE", "HUB");
    ASSERT_NE(hub, nullptr);
    ASSERT_NE(hub->field(1), nullptr);
    EXPECT_EQ(hub->field(1)->kind, FieldKind::List);
    EXPECT_EQ(hub->field(21)->choices.size(), 3u);
}

TEST(ScreenFile, FaultsNameTheFileAndTheProblem) {
    auto fails_with = [](const std::string& text, const std::string& needle) {
        try {
            parse_screen_file(text, "T.toml");
            ADD_FAILURE() << "accepted: " << text;
        } catch (const std::runtime_error& e) {
            std::string what = e.what();
            EXPECT_NE(what.find("T.toml"), std::string::npos) << what;
            EXPECT_NE(what.find(needle), std::string::npos) << what;
        }
    };
    fails_with("x = 1", "no [[panel]]");
    fails_with("[[panel]]\nscreen = \"A\"\n", "without screen or name");
    fails_with("[[panel]]\nscreen=\"A\"\nname=\"B\"\nfield=[{number=1, kind=\"slider\"}]", "slider");
    fails_with("[[panel]]\nscreen=\"A\"\nname=\"B\"\n[[panel]]\nscreen=\"a\"\nname=\"b\"\n", "twice");
    fails_with("[[panel]]\ncopy=\"X/Y\"\nscreen=\"A\"\nname=\"B\"\n", "unknown panel");
    fails_with("[[panel]]\nscreen=\"A\"\nname=\"B\"\nevents=\"sometimes\"\n", "events");
    fails_with("[[panel", "line 1");
}

TEST(ScreenFile, OpenByNameFromTheScreensFolder) {
    set_screens_folder(std::filesystem::path(DZ_SOURCE_DATA_DIR) / "screens");
    int h = xw_open_screen_file("XV");
    ASSERT_NE(h, kNoScreenFile);
    EXPECT_NE(xw_find_panel_def(h, "QUERY", "API"), nullptr);
    EXPECT_NE(xw_find_panel_def(0, "QUERY", "API"), nullptr);  // any open file
    xw_cls_screen_file(h);
    EXPECT_EQ(xw_screen_file(h), nullptr);
    EXPECT_EQ(xw_open_screen_file("NOSUCH"), kNoScreenFile);
    set_screens_folder({});
}
