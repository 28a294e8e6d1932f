#pragma once

#include "platform/ui/panel.h"
#include "platform/ui/print.h"
#include "platform/ui/run_state.h"
#include "platform/ui/screen_file.h"
#include "platform/ui/scripted_ui.h"

#include <gtest/gtest.h>

#include <filesystem>

// Every test starts with no panel, no print job, an interactive run and a scripted person.
class UiTest : public ::testing::Test {
protected:
    void SetUp() override {
        dz::ui::reset_panels();
        dz::ui::reset_printing();
        dz::ui::reset_run_state();
        dz::ui::set_current(&person);
        dz::ui::set_screens_folder(std::filesystem::path(DZ_SOURCE_DATA_DIR) / "screens");
        screen = dz::ui::xw_open_screen_file("XV");
        ASSERT_NE(screen, dz::ui::kNoScreenFile);
    }
    void TearDown() override {
        dz::ui::reset_panels();
        dz::ui::reset_printing();
        dz::ui::reset_run_state();
        dz::ui::xw_cls_screen_file(screen);
        dz::ui::set_current(nullptr);
    }
    dz::ui::ScriptedUi person;
    int screen = 0;
};
