// dodedoz: the desktop program. The Qt front end answers the program's questions; everything
// else is the same program logic as dodedoz-cli.
//
//   dodedoz [--company DIR]
//
// The company folder may also come from $DODEDOZ_COMPANY, or be chosen later with
// File > Open Company...
#include <QApplication>
#include <QFileDialog>
#include <cstdlib>
#include <string>

#include "app/xv_app.h"
#include "gui/company_view.h"
#include "gui/main_window.h"
#include "gui/qt_ui.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/ui/ui.h"

namespace {

std::string companyArgument(const QStringList& args) {
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--company") && i + 1 < args.size()) return args[i + 1].toStdString();
        if (args[i].startsWith(QLatin1String("--company="))) return args[i].mid(10).toStdString();
    }
    if (const char* env = std::getenv("DODEDOZ_COMPANY"); env && *env) return env;
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    dz::xvl::InstallStepWords();  // before anything can fail and say what to do next
    QApplication qapp(argc, argv);
    dz::gui::useCLocale();
    dz::gui::QtUi ui;
    dz::ui::set_current(&ui);

    std::string company = companyArgument(QCoreApplication::arguments());
    if (!company.empty() && dz::gui::openCompany(company)) dz::gui::showCompany(nullptr);

    dz::app::CXVApp& app = dz::app::theApp();
    if (!app.InitInstance()) {
        int rc = app.ExitInstance();
        dz::ui::set_current(nullptr);
        return rc;
    }
    dz::gui::MainWindow* w = ui.mainWindow();
    dz::gui::showCompany(w);
    if (w) {
        // Choosing another company changes the installed modules: the framework's reload hook
        // binds them afresh.
        QObject::connect(w, &dz::gui::MainWindow::companyRequested, w, [w, &app] {
            QString dir = QFileDialog::getExistingDirectory(w, QObject::tr("Open Company"));
            if (dir.isEmpty() || !dz::gui::switchCompany(dir.toStdString(), w)) return;
            app.ReloadModules();
            dz::gui::showCompany(w);
        });
    }
    int rc = qapp.exec();
    app.ExitInstance();
    dz::ui::set_current(nullptr);
    return rc;
}
