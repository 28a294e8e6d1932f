// dodedoz: the desktop program. The Qt front end answers the program's questions; everything
// else is the same program logic as dodedoz-cli.
//
//   dodedoz [--company DIR]
//
// The company folder may also come from $DODEDOZ_COMPANY, or be chosen later with
// File > Open Company...
#include <QApplication>
#include <QFileDialog>
#include <QStatusBar>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/xv_app.h"
#include "gui/main_window.h"
#include "gui/report_viewer.h"
#include "gui/qt_ui.h"
#include "platform/suite/company.h"
#include "platform/ui/run_state.h"
#include "platform/ui/ui.h"

namespace {

// Opens the company of `folder`; a settings file that cannot be used is reported, and the
// company open before (if any) stays open.
bool openCompany(const std::string& folder) {
    try {
        dz::suite::open_company(folder);
        return true;
    } catch (const std::exception& e) {
        dz::ui::xw_wr_message(dz::ui::kError, e.what());
        return false;
    }
}

std::string companyArgument(const QStringList& args) {
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--company") && i + 1 < args.size()) return args[i + 1].toStdString();
        if (args[i].startsWith(QLatin1String("--company="))) return args[i].mid(10).toStdString();
    }
    if (const char* env = std::getenv("DODEDOZ_COMPANY"); env && *env) return env;
    return {};
}

void showCompany(dz::gui::MainWindow* w) {
    auto* c = dz::suite::current_company();
    if (!c) return;
    const QString folder = QString::fromStdString(std::filesystem::absolute(c->folder()).lexically_normal().string());
    // Reports go where this company's last report went, else into the company folder.
    dz::ui::run_state().report_folder = dz::gui::rememberedReportFolder(folder).toStdString();
    if (w) w->setCompanyText(QObject::tr("Company: %1").arg(folder));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    dz::gui::useCLocale();
    dz::gui::QtUi ui;
    dz::ui::set_current(&ui);

    std::string company = companyArgument(QCoreApplication::arguments());
    if (!company.empty() && openCompany(company)) showCompany(nullptr);

    dz::app::CXVApp& app = dz::app::theApp();
    if (!app.InitInstance()) {
        int rc = app.ExitInstance();
        dz::ui::set_current(nullptr);
        return rc;
    }
    dz::gui::MainWindow* w = ui.mainWindow();
    showCompany(w);
    if (w) {
        // Choosing another company changes the installed modules: the framework's reload hook
        // binds them afresh.
        QObject::connect(w, &dz::gui::MainWindow::companyRequested, w, [w, &app] {
            QString dir = QFileDialog::getExistingDirectory(w, QObject::tr("Open Company"));
            if (dir.isEmpty() || !openCompany(dir.toStdString())) return;
            app.ReloadModules();
            showCompany(w);
        });
    }
    int rc = qapp.exec();
    app.ExitInstance();
    dz::ui::set_current(nullptr);
    return rc;
}
