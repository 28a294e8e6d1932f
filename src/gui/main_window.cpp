#include "gui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>

#include "gui/mnemonics.h"
#include "gui/panel_widget.h"

#include <algorithm>

namespace dz::gui {

namespace {
// The data files and messages hold UTF-8.
QString qs(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
QString plain(QString title) { return title.remove(QLatin1Char('&')); }
// Whether the widget with the focus takes an edit command (cut, copy, paste): a report view
// copies, and has nothing to cut or paste; a read-only field gives up nothing to cut and takes
// nothing pasted.
bool focusTakes(const char* slot) {
    QWidget* w = QApplication::focusWidget();
    if (!w || w->metaObject()->indexOfMethod(QByteArray(slot) + "()") < 0) return false;
    return qstrcmp(slot, "copy") == 0 || !w->property("readOnly").toBool();
}
// Sends an edit command to whichever widget has the focus, when it takes it.
void editFocus(const char* slot) {
    if (focusTakes(slot)) QMetaObject::invokeMethod(QApplication::focusWidget(), slot);
}
}  // namespace

MainWindow::MainWindow(const dz::ui::MainWindowDef& def, std::function<void(int)> run, QWidget* parent)
    : QMainWindow(parent), mdi_(new QMdiArea(this)), run_(std::move(run)) {
    setWindowTitle(qs(def.title));
    mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(mdi_);
    buildMenus(def);
    company_ = new QLabel(this);
    statusBar()->addPermanentWidget(company_);
    statusBar()->showMessage(tr("Ready"));
    resize(1000, 700);
}

void MainWindow::setCompanyText(const QString& text) { company_->setText(text); }

void MainWindow::setCompanyOpen(bool open) {
    companyOpen_ = open;
    updateCommandMenus();
}

void MainWindow::updateCommandMenus() {
    // The File menu stays: a running command's own entries (a table editor's Save) are on it.
    for (QAction* a : fileOwn_) a->setEnabled(!running_);
    const auto actions = menuBar()->actions();
    for (QAction* a : actions) {
        if (!a->menu()) continue;
        const QString title = plain(a->text());
        if (!commandMenus_.contains(title)) continue;
        a->setEnabled(!running_ && (companyOpen_ || !companyMenus_.contains(title)));
    }
    reserveMenuKeys();
}

QString MainWindow::companyText() const { return company_->text(); }

void MainWindow::buildMenus(const dz::ui::MainWindowDef& def) {
    // File (another company, printing) and the program's own menus start things; they wait
    // while a command runs.
    QMenu* file = menuBar()->addMenu(tr("&File"));
    fileMenu_ = file;
    fileCommandsEnd_ = file->addSeparator();
    fileCommandsEnd_->setVisible(false);
    QAction* company = file->addAction(tr("Open &Company..."), this, &MainWindow::companyRequested);
    company->setStatusTip(tr("Chooses the company folder to work in"));
    QAction* print = file->addAction(tr("&Print..."), this, &MainWindow::printRequested);
    print->setShortcut(QKeySequence::Print);
    print->setStatusTip(tr("Prints the active report"));
    file->addSeparator();
    QAction* exitAct = file->addAction(tr("E&xit"), this, &QWidget::close);
    exitAct->setStatusTip(qs(def.exit_prompt));
    fileOwn_ = {company, print, exitAct};
    connect(file, &QMenu::aboutToShow, this, [this] { showFileCommands({}); });

    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    cut_ = edit->addAction(tr("Cu&t"), this, [] { editFocus("cut"); });
    cut_->setShortcut(QKeySequence::Cut);
    edit->addAction(tr("&Copy"), this, [] { editFocus("copy"); })->setShortcut(QKeySequence::Copy);
    paste_ = edit->addAction(tr("&Paste"), this, [] { editFocus("paste"); });
    paste_->setShortcut(QKeySequence::Paste);
    // Cut and Paste are offered only where they do something: never in a report's view.
    connect(edit, &QMenu::aboutToShow, this, &MainWindow::updateEditMenu);
    connect(qApp, &QApplication::focusChanged, this, &MainWindow::updateEditMenu);
    updateEditMenu();

    // The program's own menus, in the order their first entry appears.
    std::vector<std::pair<std::string, QMenu*>> own;
    for (const auto& item : def.items) {
        QMenu* m = nullptr;
        for (auto& [name, menu] : own)
            if (name == item.menu) m = menu;
        if (!m) {
            m = menuBar()->addMenu(QStringLiteral("&") + qs(item.menu));
            own.emplace_back(item.menu, m);
            commandMenus_ << qs(item.menu);
            companyMenus_ << qs(item.menu);
        }
        if (item.separator_before) m->addSeparator();
        QAction* a = m->addAction(qs(item.text));
        a->setStatusTip(qs(item.prompt));
        int command = item.command;
        connect(a, &QAction::triggered, this, [this, command] { runCommand(command); });
    }
    for (const auto& [name, m] : own) uniqueMnemonics(m->actions());

    // Tasks has the T; "l" is the letter of Tools that the panels' buttons (OK, Stop, Options)
    // need least.
    menuBar()->addMenu(tr("Too&ls"))->addAction(tr("&Status Bar"), this, [this](bool on) {
        statusBar()->setVisible(on);
    });
    QMenu* tools = menu(QStringLiteral("Tools"));
    tools->actions().front()->setCheckable(true);
    tools->actions().front()->setChecked(true);

    windowMenu_ = menuBar()->addMenu(tr("&Window"));
    connect(windowMenu_, &QMenu::aboutToShow, this, &MainWindow::updateWindowMenu);
    updateWindowMenu();

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    QString title = qs(def.title);
    help->addAction(tr("&About %1...").arg(title), this, [this, title] {
        QMessageBox::about(this, tr("About %1").arg(title), title);
    });
    // One menu to a key: the program's menus take their first letters first (Tasks before
    // Tools), and the panels' buttons keep off the keys of the menus that can be opened.
    uniqueMnemonics(menuBar()->actions());
    reserveMenuKeys();
}

MainWindow::~MainWindow() {
    // The focus moves while the window's children go: the menu they would update is going too.
    disconnect(qApp, nullptr, this, nullptr);
    PanelWidget::reserveMnemonics(QString());
}

void MainWindow::updateEditMenu() {
    cut_->setEnabled(focusTakes("cut"));
    paste_->setEnabled(focusTakes("paste"));
}

void MainWindow::reserveMenuKeys() {
    // Panels are shown while a command runs, when only the menus that stay on hold their keys.
    QString letters;
    const auto actions = menuBar()->actions();
    for (QAction* a : actions)
        if (a->isEnabled())
            if (const QChar c = mnemonicOf(a->text()); !c.isNull()) letters += c;
    PanelWidget::reserveMnemonics(letters);
}

void MainWindow::showFileCommands(const QList<QAction*>& actions) {
    const auto present = fileMenu_->actions();
    for (QAction* a : actions)
        if (!present.contains(a)) fileMenu_->insertAction(fileCommandsEnd_, a);
    fileCommandsEnd_->setVisible(fileMenu_->actions().indexOf(fileCommandsEnd_) > 0);
    uniqueMnemonics(fileMenu_->actions());
}

void MainWindow::tileWindows() {
    const QSize room = mdi_->viewport()->size();
    QList<QMdiSubWindow*> panels, others;
    for (QMdiSubWindow* w : mdi_->subWindowList()) {
        if (!w->isVisible()) continue;
        if (w->isMinimized() || w->isMaximized()) w->showNormal();
        (qobject_cast<PanelWidget*>(w->widget()) ? panels : others) << w;
    }
    // The panels side by side at their own size, a new row where the width runs out.
    int x = 0, y = 0, rowHeight = 0, right = 0;
    for (QMdiSubWindow* w : panels) {
        const QSize size = w->size().expandedTo(w->minimumSize());
        if (x > 0 && x + size.width() > room.width()) {
            x = 0;
            y += rowHeight;
            rowHeight = 0;
        }
        w->setGeometry(QRect(QPoint(x, y), size));
        x += size.width();
        right = std::max(right, x);
        rowHeight = std::max(rowHeight, size.height());
    }
    const int bottom = y + rowHeight;
    // The other windows share the larger of the room below the panels and beside them.
    const QRect below(0, bottom, room.width(), room.height() - bottom);
    const QRect beside(right, 0, room.width() - right, panels.isEmpty() ? room.height() : bottom);
    const QRect& band = below.width() * std::max(0, below.height()) >= std::max(0, beside.width()) * beside.height()
                            ? below
                            : beside;
    const int n = static_cast<int>(others.size());
    const bool across = band.width() >= band.height();
    for (int i = 0; i < n; ++i) {
        QMdiSubWindow* w = others[i];
        QRect r = across ? QRect(band.x() + band.width() * i / n, band.y(), band.width() / n, band.height())
                         : QRect(band.x(), band.y() + band.height() * i / n, band.width(), band.height() / n);
        // Never smaller than it can be, and never reaching out of the area: where the band is
        // too small, the window lies over the panels rather than below the area's edge.
        r.setSize(r.size().expandedTo(w->minimumSizeHint()).boundedTo(room));
        r.moveLeft(std::clamp(r.x(), 0, std::max(0, room.width() - r.width())));
        r.moveTop(std::clamp(r.y(), 0, std::max(0, room.height() - r.height())));
        w->setGeometry(r);
        w->raise();
    }
}

void MainWindow::updateWindowMenu() {
    windowMenu_->clear();
    windowMenu_->addAction(tr("&Cascade"), mdi_, &QMdiArea::cascadeSubWindows);
    windowMenu_->addAction(tr("&Tile"), this, &MainWindow::tileWindows);
    windowMenu_->addAction(tr("Close &All"), mdi_, &QMdiArea::closeAllSubWindows);
    const auto windows = mdi_->subWindowList();
    if (!windows.isEmpty()) windowMenu_->addSeparator();
    int n = 0;
    for (QMdiSubWindow* w : windows) {
        QAction* a = windowMenu_->addAction(QStringLiteral("&%1 %2").arg(++n).arg(w->windowTitle()));
        a->setCheckable(true);
        a->setChecked(w == mdi_->activeSubWindow());
        connect(a, &QAction::triggered, this, [this, w] { mdi_->setActiveSubWindow(w); });
    }
    uniqueMnemonics(windowMenu_->actions());
}

QMenu* MainWindow::menu(const QString& title) const {
    const auto actions = menuBar()->actions();
    for (QAction* a : actions)
        if (a->menu() && plain(a->text()) == title) return a->menu();
    return nullptr;
}

QMdiSubWindow* MainWindow::addChild(QWidget* w) {
    QMdiSubWindow* sub = mdi_->addSubWindow(w);
    sub->show();
    return sub;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The window stays while a command runs; the command ends first.
    if (running_) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::runCommand(int command) {
    // A command runs on this thread and keeps the window alive by dispatching events; the menus
    // stay off meanwhile so that no second command starts inside the first.
    // The Edit, Tools, Window and Help menus stay: arranging the windows (Tile) helps while
    // a hub or a table waits for the person.
    if (running_ || !run_) return;
    running_ = true;
    updateCommandMenus();
    run_(command);
    running_ = false;
    updateCommandMenus();
}

}  // namespace dz::gui
