// The MDI main window: the framework's File, Edit, Tools, Window and Help menus around the
// program's own entries (Tasks, Setup), panels and reports as MDI children, and a status bar
// that shows each command's prompt.
#pragma once

#include <QMainWindow>
#include <functional>

#include "platform/ui/ui.h"

class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;

namespace dz::gui {

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // `run` starts the program's command with the given number (a menu choice).
    MainWindow(const dz::ui::MainWindowDef& def, std::function<void(int)> run, QWidget* parent = nullptr);
    ~MainWindow() override;

    QMdiArea* mdiArea() const { return mdi_; }
    // Adds `w` as an MDI child and shows it.
    QMdiSubWindow* addChild(QWidget* w);
    // The menu titled `title` without its "&" marks ("Tasks"), nullptr when there is none.
    QMenu* menu(const QString& title) const;
    // Runs the command as the menu does (File and the program's own menus are disabled while it
    // runs).
    void runCommand(int command);
    bool commandRunning() const { return running_; }
    // The company shown at the status bar's right, where prompts and messages never cover it.
    void setCompanyText(const QString& text);
    QString companyText() const;
    // Whether a company is open: the program's own menus (Tasks, Setup) work on one and stay
    // off without it. A window that is never told leaves them on.
    void setCompanyOpen(bool open);
    // The commands of an open panel that stand on the File menu (the table editor's Save and
    // Save Table Group As...), above the menu's own entries. They stay on while a command runs:
    // they are that command's. An action deleted (its panel closed) leaves the menu by itself.
    void showFileCommands(const QList<QAction*>& actions);
    // Window > Tile: every window whole and in the area. A panel keeps its size (its fields and
    // buttons stand at fixed places); panels are laid side by side, row under row, and the other
    // windows (reports) share the room left, so that no window's buttons end below the area.
    void tileWindows();

signals:
    void printRequested();
    void companyRequested();

private:
    void buildMenus(const dz::ui::MainWindowDef& def);
    void updateWindowMenu();
    // Edit > Cut and Paste are on only when the widget with the focus takes them.
    void updateEditMenu();
    // Turns the menus that start things on or off, as a running command and the company allow.
    void updateCommandMenus();
    // Tells the panels the keys of the menus that can be opened now.
    void reserveMenuKeys();
    void closeEvent(QCloseEvent* event) override;

    QMdiArea* mdi_;
    QMenu* fileMenu_ = nullptr;
    QAction* fileCommandsEnd_ = nullptr;  // the separator below the panels' File commands
    QList<QAction*> fileOwn_;             // the File menu's own entries, off while a command runs
    QMenu* windowMenu_ = nullptr;
    QAction* cut_ = nullptr;
    QAction* paste_ = nullptr;
    QStringList commandMenus_;  // the menus off while a command runs
    QStringList companyMenus_;  // the menus off while no company is open
    QLabel* company_ = nullptr;
    std::function<void(int)> run_;
    bool running_ = false;
    bool companyOpen_ = true;
};

}  // namespace dz::gui
