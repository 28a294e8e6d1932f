// Shared fixture of the driver tests: a company with every module, the program's screen file,
// a scripted person, and stub converters whose behaviour each test sets per conversion type.
#pragma once

#include "test_convert_support.h"

#include "app/driver.h"
#include "app/stored_options.h"
#include "convert/progress.h"
#include "convert/texts.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"
#include "platform/suite/xd.h"
#include "platform/suite/xm_options.h"
#include "platform/ui/framework.h"
#include "platform/ui/hub.h"
#include "platform/ui/print.h"
#include "platform/ui/run_state.h"
#include "platform/ui/screen_file.h"
#include "platform/ui/scripted_ui.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace dz::app::testing {

namespace fs = std::filesystem;
using dz::convert::testing::ReadFile;
using dz::convert::testing::ScratchDir;
using dz::convert::testing::WriteFile;

// What a stub converter does for its conversion type.
struct StubBehaviour {
    bool openOk = true;
    uint16_t error = 0;             // OpenFiles' error when it fails
    std::string failAbbr = "GLM";   // the entry it adds for the file that failed
    uint32_t records = 0, rejected = 0, messages = 0, notes = 0;
    bool stop = false;              // the person stops during this file
    bool terminate = false;         // a background run is told to end during this file
    std::string optionalAbbr = {};  // set: it fails on this optional file, found absent (no entry)
    std::string endedWhy = {};      // set: the file ends early with this text, its data files put back
    bool endedBox = false;          // then, the ending is one the closing message says
};

struct StubWorld {
    std::map<uint16_t, StubBehaviour> behaviour;
    std::vector<std::string> log;   // "open <code>", "convert <file name> table=<t> paid=<n> dup=<n> ap=<n>"
    std::vector<convert::ConversionOptions> options;
};

inline StubWorld& World() {
    static StubWorld w;
    return w;
}

class StubConverter : public convert::xvConvert {
public:
    explicit StubConverter(uint16_t code) : code_(code) {}
    bool OpenFiles(convert::OpenFilesList& list, uint16_t, uint16_t& error) override {
        World().log.push_back("open " + std::to_string(code_));
        const StubBehaviour& b = World().behaviour[code_];
        if (b.openOk) return true;
        if (!b.optionalAbbr.empty()) {  // an absent optional file adds no entry
            (void)OpenDataFile(b.optionalAbbr, 1, 0, 0, list, 0, error, true);
            return false;
        }
        error = b.error;
        list.push_back({b.failAbbr, 1, 0});
        return false;
    }
    void ConvertFile(convert::OpenFilesList&, const convert::TextFileEntry& entry, convert::ConvertProgress* progress,
                     int, ui::zqTask&, const std::string& table, convert::ConversionOptions* o) override {
        World().log.push_back("convert " + fs::path(entry.path).filename().string() + " table=" + table +
                              " paid=" + std::to_string(o->paidTotalsMode) + " dup=" + std::to_string(o->dupInvoiceMode) +
                              " ap=" + std::to_string(o->apInvoiceFile));
        World().options.push_back(*o);
        const StubBehaviour& b = World().behaviour[code_];
        if (progress) {
            // Counted as a converter counts: the file's records, and through them the run's.
            progress->SetCurrentFile(entry.path, "", false);
            progress->CountRead(b.records, b.rejected);
            progress->messages += b.messages;
            progress->notes += b.notes;
            if (b.stop) progress->stop = 1;
            // As a file's end sets them: only a file that ends early says how.
            if (!b.endedWhy.empty()) {
                progress->ended_why = b.endedWhy;
                progress->ended_written = true;  // its data files had been written
                progress->ended_box = b.endedBox;
            }
        }
        if (b.terminate) ui::request_terminate();
    }
    void PrefillTables(convert::OpenFilesList&, const convert::TextFileEntry&, convert::ConvertProgress*, ui::zqTask&,
                       void*) override {}

private:
    uint16_t code_;
};

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::reset_panels();
        ui::reset_run_state();
        ui::reset_printing();
        ui::set_current(&person);
        World() = StubWorld{};
        SetConverterFactory([](uint16_t code) { return std::make_unique<StubConverter>(code); });
        ResetTextFileFolder();
        OpenCompany({"GL", "JC", "CM", "AP", "PR", "PM", "AR"});
        ui::set_screens_folder(fs::path(DZ_SOURCE_DATA_DIR) / "screens");
        screen = ui::xw_open_screen_file("XV");
        ASSERT_NE(screen, ui::kNoScreenFile);
        convert::SetScreenFileHandle(static_cast<uint16_t>(screen));
        templatePath = (fs::path(DZ_TEST_DATA_DIR) / "core" / "templates" / "xvtcv.tpl").string();
    }
    void TearDown() override {
        SetConverterFactory({});
        SetRunObserver(nullptr);
        ui::reset_panels();
        ui::reset_run_state();
        ui::reset_printing();
        ui::xw_cls_screen_file(screen);
        ui::set_current(nullptr);
        suite::xd_set_clock({});
        suite::close_company();
    }

    void OpenCompany(const std::set<std::string>& modules, const std::string& operatorName = "Ann Lee") {
        auto settings = suite::default_settings(modules);
        settings.installed = modules;
        settings.operator_name = operatorName;
        Adjust(settings);
        suite::write_settings(company.path() / suite::kSettingsFileName, settings);
        suite::open_company(company.path());
    }
    // A test may change the settings before the company opens.
    virtual void Adjust(suite::CompanySettings&) {}

    // A text file of type `abbr` in the scratch folder; `extra` follows the template name on
    // the first line.
    std::string Text(const std::string& name, const std::string& abbr, const std::string& extra = "",
                     const std::string& body = "1,A1,,Name,0,\r\n") {
        const std::string path = texts.str(name);
        WriteFile(path, "#," + abbr + "," + templatePath + extra + "\r\n" + body);
        return path;
    }

    // The hub is started with the report on the screen.
    void StartHub(const std::string& hub = "CONVERT/HUB") {
        person.on_panel(hub, ui::PanelAction::choose(ui::kHubDestinationField, 2));
        person.on_panel(hub, ui::PanelAction::press(ui::kHubStartButton));
    }

    int Run(const std::string& name = "Convert") {
        task = std::make_unique<ui::zqTask>(name, 15, name == "Convert" ? 3020 : 3010, name == "Convert" ? 5 : 4);
        RunConvertExamineTask(*task);
        return task->Status();
    }

    std::vector<std::string> Converted() const {
        std::vector<std::string> out;
        for (const auto& l : World().log)
            if (l.rfind("convert ", 0) == 0) out.push_back(l.substr(8, l.find(' ', 8) - 8));
        return out;
    }

    // Message boxes as "kind: text".
    std::vector<std::string> Boxes() const {
        std::vector<std::string> out;
        for (const auto& m : person.messages()) out.push_back(std::to_string(m.kind) + ": " + m.text);
        return out;
    }

    ScratchDir company, texts;
    ui::ScriptedUi person;
    std::unique_ptr<ui::zqTask> task;
    std::string templatePath;
    int screen = 0;
};

}  // namespace dz::app::testing
