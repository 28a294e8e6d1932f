// The body of the Substitution Tables task: the table editor on the program's screen file.
#include "app/xv_app.h"

#include "app/table_text_commands.h"
#include "convert/texts.h"
#include "tables/table_editor.h"

namespace dz::app {

void RunTableEditor(dz::ui::zqTask& task) {
    InstallTableTextCommands(task);
    dz::tables::RunTableEditor(task, dz::convert::GetScreenFileHandle());
}

}  // namespace dz::app
