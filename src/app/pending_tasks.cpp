// The task bodies that are not built yet. Each one says so and ends its task; the file that
// brings a real body removes its stub here.
#include "app/xv_app.h"

#include "platform/ui/ui.h"

namespace dz::app {

namespace {
void not_available(dz::ui::zqTask& task) {
    dz::ui::xw_wr_message(dz::ui::kInfo, "The " + task.Name() + " command is not available yet.");
    task.End(dz::ui::zqTask::kEndedCancelled);
}
}  // namespace

void RunTableEditor(dz::ui::zqTask& task) { not_available(task); }

}  // namespace dz::app
