// The body of the Substitution Tables task: the table editor on the program's screen file.
#include "app/xv_app.h"

#include "app/table_text_commands.h"
#include "convert/backup.h"
#include "convert/run_marker.h"
#include "convert/texts.h"
#include "tables/table_editor.h"

namespace dz::app {

void RunTableEditor(dz::ui::zqTask& task) {
    // The editor writes tables and may read the data files to fill them: a conversion that
    // stopped while posting is put back first, as the conversions do (saying so, or why not).
    if (!dz::convert::RecoverInterruptedRuns(dz::convert::CompanyUse::Write)) {
        task.End(dz::ui::zqTask::kEndedCancelled);
        return;
    }
    InstallTableTextCommands(task);
    dz::tables::RunTableEditor(task, dz::convert::GetScreenFileHandle());
}

}  // namespace dz::app
