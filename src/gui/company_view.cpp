#include "gui/company_view.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QObject>
#include <QString>
#include <cerrno>
#include <exception>
#include <filesystem>
#include <system_error>
#include <unistd.h>

#include "gui/main_window.h"
#include "gui/report_viewer.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/suite/company.h"
#include "platform/ui/run_state.h"
#include "platform/ui/ui.h"

namespace dz::gui {

namespace {

// The folder's words for a system error met looking into it.
std::string refusalFor(const std::error_code& ec, const std::string& folder) {
    using dz::xvl::xvlRCString;
    if (ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted)
        return xvlRCString::Get(kCompanyNotReadable, folder);
    if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory)
        return xvlRCString::Get(kCompanyNotFound, folder);
    return xvlRCString::Get(kCompanyNotOpened, folder, ec.message());
}

}  // namespace

std::string companyFolderRefusal(const std::string& folder) {
    namespace fs = std::filesystem;
    using dz::xvl::xvlRCString;
    std::error_code ec;
    const fs::file_status dir = fs::status(folder, ec);
    if (ec) return refusalFor(ec, folder);
    if (!fs::is_directory(dir)) return xvlRCString::Get(kCompanyNotACompany, folder);
    // A folder the user may not list or enter hides its settings file: that is no missing company.
    if (::access(folder.c_str(), R_OK | X_OK) != 0) return refusalFor(std::error_code(errno, std::generic_category()), folder);
    const fs::path settings = fs::path(folder) / dz::suite::kSettingsFileName;
    const fs::file_status file = fs::status(settings, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) return refusalFor(ec, folder);
    if (!fs::exists(file)) return xvlRCString::Get(kCompanyNotACompany, folder);
    if (::access(settings.c_str(), R_OK) != 0) return refusalFor(std::error_code(errno, std::generic_category()), folder);
    return {};
}

bool openCompany(const std::string& folder) {
    if (const std::string why = companyFolderRefusal(folder); !why.empty()) {
        dz::ui::xw_wr_message(dz::ui::kError, why);
        return false;
    }
    try {
        dz::suite::open_company(folder);
        return true;
    } catch (const std::exception& e) {
        dz::ui::xw_wr_message(dz::ui::kError, dz::xvl::xvlRCString::Get(kCompanyNotOpened, folder, e.what()));
        return false;
    }
}

bool switchCompany(const std::string& folder, MainWindow* w) {
    namespace fs = std::filesystem;
    auto* before = dz::suite::current_company();
    const fs::path was = before ? fs::absolute(before->folder()).lexically_normal() : fs::path();
    if (!openCompany(folder)) return false;
    std::error_code ec;
    if (!w || (!was.empty() && fs::equivalent(was, folder, ec))) return true;
    const auto windows = w->mdiArea()->subWindowList();
    for (QMdiSubWindow* sub : windows)
        if (qobject_cast<ReportViewer*>(sub->widget())) sub->close();
    return true;
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
