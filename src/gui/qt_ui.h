// The desktop front end: every question to a person and every panel, report and progress
// display of the program, shown with Qt widgets. Installed with dz::ui::set_current.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <map>
#include <set>

#include "platform/ui/ui.h"

#include <QSplashScreen>

#include "gui/main_window.h"

class QDialog;
class QMdiSubWindow;
class QWidget;

namespace dz::gui {

class PanelWidget;
class ReportViewer;

class QtUi : public QObject, public dz::ui::Ui {
    Q_OBJECT
public:
    QtUi();
    ~QtUi() override;

    int message(int kind, const std::string& text) override;
    int notice(const dz::ui::Notice& notice) override;
    dz::ui::FileChoice choose_files(const dz::ui::FileChooser& request) override;

    void panel_opened(dz::ui::Panel& panel) override;
    void panel_changed(dz::ui::Panel& panel) override;
    void panel_closed(dz::ui::Panel& panel) override;
    dz::ui::PanelMessage read_panel(dz::ui::Panel& panel) override;
    void pump() override;
    void refresh() override;
    void beep() override;
    void help(const std::string& topic) override;

    int list_records(const dz::ui::RecordList& list) override;
    bool show_report(const dz::ui::ReportDocument& report) override;
    bool print_report(const dz::ui::ReportDocument& report) override;
    void report_written(const dz::ui::ReportDocument& report, const std::string& path) override;
    void task_line(const std::string& text) override;

    void splash(const std::string& title) override;
    bool create_main_window(const dz::ui::MainWindowDef& def) override;
    bool init_foreground() override { return true; }
    void show_main_window() override;

    // Called with every modal dialog (message box, chooser, picker) and every panel read
    // modally, once it is up; scripted runs and tests answer through it.
    using ModalHook = std::function<void(QWidget*)>;
    void setModalHook(ModalHook hook) { hook_ = std::move(hook); }

    MainWindow* mainWindow() const { return main_; }
    // File > Print...: prints the report of the active window, else the one shown last. False
    // when there is none or it was not printed.
    bool printActiveReport();
    PanelWidget* panelWidget(int handle) const;
    // The window that holds a panel or report: its MDI sub-window, or the widget itself.
    QWidget* container(QWidget* w) const;

private:
    int execModal(QDialog& dialog);
    QWidget* dialogParent() const;
    void showWindow(QWidget* w, bool visible);
    ReportViewer* showViewer(const dz::ui::ReportDocument& report, const QString& path);
    QString startFolder(const std::string& asked) const;
    void fitToScreen(QWidget& w) const;
    void keepInArea(QMdiSubWindow& sub) const;
    void keepWhole(QWidget& box) const;
    // Where reports of the open company go.
    QString reportFolder() const;

    QPointer<MainWindow> main_;
    QPointer<QSplashScreen> splash_;
    std::map<int, PanelWidget*> panels_;
    std::set<int> reading_;
    ModalHook hook_;
    QString title_ = QStringLiteral("RA Dodedoz");
    QString lastFolder_;   // where a file chooser was last used
    QString lastCompany_;  // the company open then
};

// Call right after the QApplication is made: Qt takes the user's locale for the C library too,
// and the program's text rules are those of the "C" locale, as in the command-line program. Under
// a locale that writes a decimal comma every amount read from a text file would lose its cents
// ("1500.25" read as 1500); under an 8-bit one, keys would be folded to upper case beyond ASCII
// (unlike the files' own case-blind comparison) and bytes of UTF-8 texts changed with them.
void useCLocale();

}  // namespace dz::gui
