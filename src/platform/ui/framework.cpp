#include "platform/ui/framework.h"

#include "platform/ui/run_state.h"

namespace dz::ui {

namespace {
zqApplication* g_app = nullptr;
}

zqTask::zqTask(std::string name, int flags, int command, int further, std::string, std::string)
    : zqCommand(command), name_(std::move(name)), flags_(flags), further_(further) {}

void zqTask::Start() {
    status_ = kRunning;
    ended_ = false;
}

void zqTask::End(int status) {
    status_ = status;
    ended_ = true;
}

zqApplication::zqApplication(std::string title, std::string code, std::string version,
                             std::string min_data_version)
    : title_(std::move(title)),
      code_(std::move(code)),
      version_(std::move(version)),
      min_data_version_(std::move(min_data_version)) {
    g_app = this;
}

zqApplication::~zqApplication() {
    if (g_app == this) g_app = nullptr;
}

zqApplication* zqApplication::instance() { return g_app; }

zqTask& zqApplication::AddTask(std::unique_ptr<zqTask> task) {
    tasks_.push_back(std::move(task));
    return *tasks_.back();
}

zqTask* zqApplication::FindTask(int command) const {
    for (const auto& t : tasks_)
        if (t->ID() == command) return t.get();
    return nullptr;
}

bool zqApplication::RunCommand(int command) {
    zqTask* t = FindTask(command);
    if (!t) return false;
    t->Start();
    return true;
}

bool zqApplication::InBackground() const { return dz::ui::InBackground(); }
int zqApplication::CheckTerminate() const { return dz::ui::CheckTerminate(); }
int zqApplication::MacroStatus() const { return dz::ui::MacroStatus(); }
unsigned zqApplication::AppCode() const { return dz::ui::Code(); }

int zqApplication::ProcessMacro() {
    int ran = 0;
    for (int command : run_state().steps) {
        if (CheckTerminate()) break;
        if (RunCommand(command)) ++ran;
    }
    return ran;
}

}  // namespace dz::ui
