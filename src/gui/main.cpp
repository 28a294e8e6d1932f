// dodedoz: the desktop program. The Qt front end answers the program's questions; everything
// else is the same program logic as dodedoz-cli.
#include <QApplication>

#include "gui/qt_ui.h"
#include "platform/ui/ui.h"

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    dz::gui::QtUi ui;
    dz::ui::set_current(&ui);
    dz::ui::MainWindowDef def;
    def.title = "RA Dodedoz";
    ui.splash(def.title);
    ui.create_main_window(def);
    ui.show_main_window();
    int rc = qapp.exec();
    dz::ui::set_current(nullptr);
    return rc;
}
