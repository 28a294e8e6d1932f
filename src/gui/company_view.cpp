#include "gui/company_view.h"

#include <QObject>
#include <QString>
#include <exception>
#include <filesystem>

#include "gui/main_window.h"
#include "gui/report_viewer.h"
#include "platform/suite/company.h"
#include "platform/ui/run_state.h"
#include "platform/ui/ui.h"

namespace dz::gui {

bool openCompany(const std::string& folder) {
    try {
        dz::suite::open_company(folder);
        return true;
    } catch (const std::exception& e) {
        dz::ui::xw_wr_message(dz::ui::kError, e.what());
        return false;
    }
}

void showCompany(MainWindow* w) {
    auto* c = dz::suite::current_company();
    if (!c) {
        // A task started without a company would read the text files against no installed
        // application and refuse every one of them.
        if (w) {
            w->setCompanyText(QObject::tr("No company open"));
            w->setCompanyOpen(false);
        }
        return;
    }
    const QString folder = QString::fromStdString(std::filesystem::absolute(c->folder()).lexically_normal().string());
    dz::ui::run_state().report_folder = rememberedReportFolder(folder).toStdString();
    if (w) {
        w->setCompanyText(QObject::tr("Company: %1").arg(folder));
        w->setCompanyOpen(true);
    }
}

}  // namespace dz::gui
