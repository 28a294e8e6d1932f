#include "gui/qt_ui.h"

#include <QApplication>
#include <clocale>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QGuiApplication>
#include <QScreen>
#include <QEventLoop>
#include <QFileDialog>
#include <QHeaderView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSplashScreen>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <utility>
#include <vector>

#include "gui/cell_font.h"
#include "gui/main_window.h"
#include "gui/panel_widget.h"
#include "gui/report_pager.h"
#include "gui/report_viewer.h"
#include "platform/suite/company.h"
#include "platform/ui/console_ui.h"
#include "platform/ui/framework.h"
#include "platform/ui/run_state.h"

namespace dz::gui {

using namespace dz::ui;

namespace {
// The data files and messages hold UTF-8.
QString qs(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string ss(const QString& s) { return s.toUtf8().toStdString(); }

// Closing a panel's window by hand is a request to its procedure; the program decides whether
// the panel goes.
class CloseRequest : public QObject {
public:
    CloseRequest(PanelWidget* panel, QObject* parent) : QObject(parent), panel_(panel) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close && panel_) {
            event->ignore();
            emit panel_->closeRequested();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<PanelWidget> panel_;
};

// A box's paragraphs read as sentences. A cause is often a message the command line also prints
// as a line of its own, which ends without a full stop: in a box its paragraph is given one.
std::string withFullStops(const std::string& text) {
    std::string out;
    const auto endParagraph = [&out] {
        // The paragraph before ends in its mark already: an empty one adds none.
        const std::size_t last = out.find_last_not_of(" \n");
        if (last == std::string::npos || std::string_view(".?!:").find(out[last]) != std::string_view::npos) return;
        out = out.substr(0, last + 1) + "." + out.substr(last + 1);
    };
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text.compare(at, 2, "\n\n") == 0) endParagraph();
        out += text[at];
    }
    endParagraph();
    return out;
}

struct BoxButton {
    QString label;          // empty: use `standard`
    QMessageBox::StandardButton standard;
    QMessageBox::ButtonRole role;
    int answer;
};
}  // namespace

QtUi::QtUi() = default;

QtUi::~QtUi() {
    for (auto& [h, w] : panels_) {
        w->detach();
        delete container(w);
    }
    delete main_;
}

QWidget* QtUi::dialogParent() const {
    if (main_) return main_;
    return QApplication::activeWindow();
}

QWidget* QtUi::container(QWidget* w) const {
    if (auto* sub = qobject_cast<QMdiSubWindow*>(w->parentWidget())) return sub;
    return w;
}

void QtUi::showWindow(QWidget* w, bool visible) {
    // Inside the main window every panel and report is an MDI child, hidden or not, so that
    // showing it later keeps it there.
    if (main_) {
        QMdiSubWindow* sub = main_->addChild(w);
        sub->setVisible(visible);
    } else {
        w->setVisible(visible);
    }
}

namespace {
// The open company's folder, absolute; empty when none is open.
QString companyFolder() {
    if (auto* c = dz::suite::current_company())
        return QString::fromStdString(std::filesystem::absolute(c->folder()).lexically_normal().string());
    return QString();
}
}  // namespace

QString QtUi::startFolder(const std::string& asked) const {
    // The folder a chooser was last used in for this company, else the company's; never the
    // working folder the program happened to be started in, nor another company's folder.
    if (!asked.empty()) return qs(asked);
    if (!lastFolder_.isEmpty() && lastCompany_ == companyFolder() && QFileInfo(lastFolder_).isDir()) return lastFolder_;
    return companyFolder();
}

void QtUi::fitToScreen(QWidget& w) const {
    // A window larger than the screen is made to fit it, and kept whole on it.
    QScreen* screen = w.screen() ? w.screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect room = screen->availableGeometry();
    QSize size = w.size().isValid() ? w.size() : w.sizeHint();
    size = size.boundedTo(room.size() - QSize(16, 48));
    w.resize(size);
    QRect at(w.pos(), size);
    if (at.right() > room.right()) at.moveRight(room.right());
    if (at.bottom() > room.bottom()) at.moveBottom(room.bottom());
    if (at.left() < room.left()) at.moveLeft(room.left());
    if (at.top() < room.top()) at.moveTop(room.top());
    w.move(at.topLeft());
}

int QtUi::execModal(QDialog& dialog) {
    fitToScreen(dialog);
    if (hook_) {
        ModalHook hook = hook_;
        QPointer<QDialog> d(&dialog);
        QTimer::singleShot(0, &dialog, [hook, d] {
            if (d) hook(d);
        });
    }
    return dialog.exec();
}

int QtUi::notice(const Notice& n) {
    // What to do next in the desktop's own words (its menus and windows), from the step itself:
    // rewording the command line's never changes what the desktop says.
    return message(n.kind, with_step(n.text, n.next, Voice::Desktop));
}

int QtUi::message(int kind, const std::string& text) {
    QMessageBox box(dialogParent());
    box.setWindowTitle(title_);
    // The message texts break their lines with "\r" (or "\r\n"); a plain-text box shows them as
    // line breaks and never takes a "<" in a path for markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(qs(withFullStops(console_text(text))));
    std::vector<BoxButton> buttons;
    using SB = QMessageBox::StandardButton;
    switch (kind) {
        case kInfo:
            box.setIcon(QMessageBox::Information);
            buttons = {{{}, SB::Ok, QMessageBox::AcceptRole, kOk}};
            break;
        case kWarning:
            box.setIcon(QMessageBox::Warning);
            buttons = {{{}, SB::Ok, QMessageBox::AcceptRole, kOk}};
            break;
        case kError:
            box.setIcon(QMessageBox::Critical);
            buttons = {{{}, SB::Ok, QMessageBox::AcceptRole, kOk}};
            break;
        case kYesNo:
        case kQuestion:
            box.setIcon(QMessageBox::Question);
            buttons = {{{}, SB::Yes, QMessageBox::YesRole, kYes}, {{}, SB::No, QMessageBox::NoRole, kNo}};
            break;
        case kOkToSkip:
            box.setIcon(QMessageBox::Warning);
            buttons = {{{}, SB::Ok, QMessageBox::AcceptRole, kOk}, {{}, SB::Cancel, QMessageBox::RejectRole, kCancel}};
            break;
        case kYesNoCancel:
            box.setIcon(QMessageBox::Question);
            buttons = {{{}, SB::Yes, QMessageBox::YesRole, kYes},
                       {{}, SB::No, QMessageBox::NoRole, kNo},
                       {{}, SB::Cancel, QMessageBox::RejectRole, kCancel}};
            break;
        case kThreeWay:
            box.setIcon(QMessageBox::Warning);
            buttons = {{QObject::tr("&Continue"), SB::NoButton, QMessageBox::AcceptRole, kGoOn},
                       {QObject::tr("&Skip File"), SB::NoButton, QMessageBox::ActionRole, kSkip},
                       {QObject::tr("&End Run"), SB::NoButton, QMessageBox::RejectRole, kEnd}};
            break;
        default:
            buttons = {{{}, SB::Ok, QMessageBox::AcceptRole, kOk}};
            break;
    }
    std::vector<std::pair<QAbstractButton*, int>> answers;
    for (const auto& b : buttons) {
        QAbstractButton* qb = b.label.isEmpty() ? static_cast<QAbstractButton*>(box.addButton(b.standard))
                                                : box.addButton(b.label, b.role);
        answers.emplace_back(qb, b.answer);
    }
    // Escape gives the last button's answer: OK, No or Cancel/End as the kind has it.
    box.setEscapeButton(answers.back().first);
    box.setDefaultButton(qobject_cast<QPushButton*>(answers.front().first));
    execModal(box);
    QAbstractButton* clicked = box.clickedButton();
    for (const auto& [b, answer] : answers)
        if (b == clicked) return answer;
    return answers.back().second;
}

FileChoice QtUi::choose_files(const FileChooser& request) {
    QStringList filters;
    for (const auto& f : request.filters) {
        QString pattern = f.extension == "*" ? QStringLiteral("*") : QStringLiteral("*.") + qs(f.extension);
        filters << QStringLiteral("%1 (%2)").arg(qs(f.description), pattern);
    }
    QFileDialog dialog(dialogParent(), qs(request.title), startFolder(request.initial_folder));
    dialog.setNameFilters(filters);
    if (request.filter_index >= 0 && request.filter_index < filters.size())
        dialog.selectNameFilter(filters[request.filter_index]);
    switch (request.mode) {
        case ChooseMode::Many:
            dialog.setFileMode(QFileDialog::ExistingFiles);
            break;
        case ChooseMode::One:
            dialog.setFileMode(QFileDialog::ExistingFile);
            break;
        case ChooseMode::New:
            dialog.setFileMode(QFileDialog::AnyFile);
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            dialog.setOption(QFileDialog::DontConfirmOverwrite);
            break;
    }
    if (!request.file_name.empty()) dialog.selectFile(qs(request.file_name));
    // Wide enough for every column of the detail view (name, size, type, date), the name
    // taking what the others leave.
    dialog.setViewMode(QFileDialog::Detail);
    dialog.resize(900, 560);
    if (auto* view = dialog.findChild<QTreeView*>()) {
        view->header()->setStretchLastSection(false);
        view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
        view->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    }
    FileChoice choice;
    if (execModal(dialog) != QDialog::Accepted) return choice;
    const QStringList files = dialog.selectedFiles();
    for (const QString& f : files) choice.paths.push_back(ss(f));
    if (!files.isEmpty()) {
        lastFolder_ = QFileInfo(files.front()).absolutePath();
        lastCompany_ = companyFolder();
    }
    choice.filter_index = static_cast<int>(filters.indexOf(dialog.selectedNameFilter()));
    choice.status = choice.paths.empty() ? 1 : 0;
    return choice;
}

PanelWidget* QtUi::panelWidget(int handle) const {
    auto it = panels_.find(handle);
    return it == panels_.end() ? nullptr : it->second;
}

void QtUi::panel_opened(Panel& panel) {
    auto* w = new PanelWidget(panel);
    panels_[panel.handle()] = w;
    int handle = panel.handle();
    // Outside a modal read, what the person does reaches the panel's procedure as a posted
    // message, delivered at the next dispatch.
    connect(w, &PanelWidget::buttonPressed, this, [this, handle](int n) {
        if (reading_.count(handle)) return;
        if (Panel* p = xw_find_panel(handle)) {
            PanelMessage m = p->button_message(n);
            xw_post_message(handle, m.msg, m.key, m.field);
        }
    });
    connect(w, &PanelWidget::escapePressed, this, [this, handle] {
        if (reading_.count(handle)) return;
        if (Panel* p = xw_find_panel(handle)) {
            PanelMessage m = p->escape_message();
            xw_post_message(handle, m.msg, m.key, m.field);
        }
    });
    // A changed field reaches the procedure as message 108, with the new value already in the
    // panel. During a modal read a pick, tick or selection is the read's answer; a typed field
    // is known only when left, often by pressing a button, so it always goes by the queue.
    connect(w, &PanelWidget::fieldEdited, this, [this, handle, w](int n) {
        Panel* p = xw_find_panel(handle);
        if (!p) return;
        w->store(n);
        if (reading_.count(handle) && !w->isTyped(n)) return;
        PanelMessage m = p->edited_message(n);
        xw_post_message(handle, m.msg, m.key, m.field);
    });
    // Scrolling is the list window's own business and is answered at once, also while the
    // panel beside it (the hub next to its list of text files) is read modally and nothing
    // dispatches the queue.
    connect(w, &PanelWidget::scrollRequested, this, [handle](int msg, int key) {
        Panel* p = xw_find_panel(handle);
        if (!p || p->closed() || !p->proc()) return;
        p->proc()(*p, PanelMessage{msg, key, 0});
        xw_refresh();
    });
    // A panel with an escape button (Cancel, Stop) takes its close box as that button; any
    // other panel is told that the person closes its window.
    connect(w, &PanelWidget::closeRequested, this, [this, handle] {
        if (reading_.count(handle)) return;
        Panel* p = xw_find_panel(handle);
        if (!p) return;
        bool hasEscape = false;
        for (const auto& b : p->buttons()) hasEscape = hasEscape || b.def.escape;
        PanelMessage m = hasEscape ? p->escape_message() : PanelMessage{kMsgClosed, 0, 0};
        xw_post_message(handle, m.msg, m.key, m.field);
    });
    showWindow(w, !panel.hidden());
    // The panel's commands that stand on the File menu (a table editor's Save) are there while
    // it is open.
    if (main_) {
        connect(w, &PanelWidget::menuActionsChanged, main_, [this, w] { main_->showFileCommands(w->menuActions()); });
        main_->showFileCommands(w->menuActions());
    }
    QWidget* box = container(w);
    keepWhole(*box);
    box->installEventFilter(new CloseRequest(w, w));
    box->setWindowTitle(qs(panel.title()));
    // A panel shown inside another one (the text-file list beside a hub) sits right below it,
    // or right beside it when only there it is seen whole. Where neither leaves it whole in the
    // main window, it sits beside, slid back into the window over the other panel's right edge
    // (and is kept above it when that panel is read): the whole list stays in sight, and so do
    // the hub's fields and buttons along its left.
    // Any other panel is kept in sight.
    if (PanelWidget* parent = panelWidget(panel.parent())) {
        const QRect above = container(parent)->frameGeometry();
        const QRect below(above.bottomLeft() + QPoint(0, 1), box->frameGeometry().size());
        const QRect room = main_ ? QRect(QPoint(), main_->mdiArea()->viewport()->size()) : QRect();
        auto* sub = qobject_cast<QMdiSubWindow*>(box);
        if (!sub || room.contains(below)) {
            box->move(below.topLeft());
        } else {
            box->move(above.topRight() + QPoint(1, 0));
            keepInArea(*sub);
        }
    } else if (auto* sub = qobject_cast<QMdiSubWindow*>(box)) {
        keepInArea(*sub);
    }
}

void QtUi::keepInArea(QMdiSubWindow& sub) const {
    // Wherever the area placed a window, the whole of it stays in sight: no scrolling to reach
    // its buttons.
    if (!main_) return;
    const QSize room = main_->mdiArea()->viewport()->size();
    QPoint at = sub.pos();
    at.setX(std::max(0, std::min(at.x(), room.width() - sub.width())));
    at.setY(std::max(0, std::min(at.y(), room.height() - sub.height())));
    sub.move(at);
}

void QtUi::keepWhole(QWidget& box) const {
    // A panel's window never gets smaller than the panel, whatever shrinks it (Window > Tile, a
    // drag of its edge): its buttons (a hub's Start and Cancel) stay in it, and the area scrolls
    // to reach what it covers.
    if (auto* sub = qobject_cast<QMdiSubWindow*>(&box)) sub->setMinimumSize(sub->minimumSizeHint());
}

void QtUi::panel_changed(Panel& panel) {
    PanelWidget* w = panelWidget(panel.handle());
    if (!w) return;
    w->sync();
    QWidget* box = container(w);
    box->setWindowTitle(qs(panel.title()));
    keepWhole(*box);
    if (box != w) box->adjustSize();
    box->setVisible(!panel.hidden());
}

void QtUi::panel_closed(Panel& panel) {
    auto it = panels_.find(panel.handle());
    if (it == panels_.end()) return;
    PanelWidget* w = it->second;
    panels_.erase(it);
    reading_.erase(panel.handle());
    w->detach();
    QWidget* box = container(w);
    box->hide();
    box->deleteLater();
}

PanelMessage QtUi::read_panel(Panel& panel) {
    PanelWidget* w = panelWidget(panel.handle());
    if (!w) return panel.escape_message();
    w->sync();
    QWidget* box = container(w);
    box->show();
    box->raise();
    box->activateWindow();
    w->setFocus();
    if (auto* f = w->fieldWidget(panel.active_field())) f->setFocus();
    w->focusGrid();
    // A panel shown inside this one (the text-file list slid over the hub's edge) stays above
    // it: the read panel is made the active one now, not later, so that it is not raised again.
    if (auto* sub = qobject_cast<QMdiSubWindow*>(box)) {
        main_->mdiArea()->setActiveSubWindow(sub);
        for (const auto& [h, child] : panels_)
            if (Panel* p = xw_find_panel(h); p && p->parent() == panel.handle()) container(child)->raise();
    }

    int handle = panel.handle();
    PanelMessage result = panel.escape_message();
    QEventLoop loop;
    auto pressed = connect(w, &PanelWidget::buttonPressed, &loop, [&](int n) {
        result = panel.button_message(n);
        loop.quit();
    });
    auto escaped = connect(w, &PanelWidget::escapePressed, &loop, [&] {
        result = panel.escape_message();
        loop.quit();
    });
    // Enter in a typed field answers the read as the panel's first button (OK, Start) does, as
    // in any dialog box; what was typed goes with it. Outside a read it only leaves the field.
    auto entered = connect(w, &PanelWidget::enterInField, &loop, [&] {
        const int n = w->defaultButton();
        if (n == 0) return;
        result = panel.button_message(n);
        loop.quit();
    });
    auto edited = connect(w, &PanelWidget::fieldEdited, &loop, [&](int n) {
        if (w->isTyped(n)) return;
        result = panel.edited_message(n);
        loop.quit();
    });
    auto left = connect(w, &PanelWidget::gridLeft, &loop, [&](int line, int column) {
        result = PanelMessage{dz::ui::kMsgGridLeave, line, column};
        loop.quit();
    });
    // Closing the window of a panel being read answers the read as an escape.
    auto closed = connect(w, &PanelWidget::closeRequested, &loop, [&] {
        result = panel.escape_message();
        loop.quit();
    });
    // A panel destroyed under the read (its window deleted) ends the read as an escape.
    auto gone = connect(w, &QObject::destroyed, &loop, &QEventLoop::quit);
    reading_.insert(handle);
    if (hook_) {
        ModalHook hook = hook_;
        QPointer<PanelWidget> pw(w);
        QTimer::singleShot(0, w, [hook, pw] {
            if (pw) hook(pw);
        });
    }
    loop.exec();
    disconnect(pressed);
    disconnect(escaped);
    disconnect(entered);
    disconnect(closed);
    disconnect(edited);
    disconnect(gone);
    disconnect(left);
    reading_.erase(handle);
    if (panelWidget(handle) == w) w->store();
    return result;
}

void QtUi::pump() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void QtUi::refresh() {
    for (auto& [h, w] : panels_) w->update();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void QtUi::beep() { QApplication::beep(); }

void QtUi::help(const std::string& topic) {
    if (main_) main_->statusBar()->showMessage(qs(topic), 10000);
}

int QtUi::list_records(const RecordList& list) {
    QDialog dialog(dialogParent());
    dialog.setWindowTitle(qs(list.title));
    auto* table = new QTableWidget(static_cast<int>(list.rows.size()), static_cast<int>(list.columns.size()), &dialog);
    QStringList headings;
    for (const auto& c : list.columns) headings << qs(c);
    table->setHorizontalHeaderLabels(headings);
    for (size_t r = 0; r < list.rows.size(); ++r)
        for (size_t c = 0; c < list.rows[r].size() && c < list.columns.size(); ++c)
            table->setItem(static_cast<int>(r), static_cast<int>(c), new QTableWidgetItem(qs(list.rows[r][c])));
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->setFont(fixedFont());
    if (!list.rows.empty()) {
        int start = std::clamp(list.start, 0, static_cast<int>(list.rows.size()) - 1);
        table->selectRow(start);
        table->scrollToItem(table->item(start, 0));
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(table, &QTableWidget::cellDoubleClicked, &dialog, &QDialog::accept);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(table);
    layout->addWidget(buttons);
    dialog.resize(600, 400);
    if (execModal(dialog) != QDialog::Accepted) return 0;
    int row = table->currentRow();
    return row >= 0 ? row + 1 : 0;
}

bool QtUi::show_report(const ReportDocument& report) {
    // A spool that could not be read back whole is shown as far as it goes and said not shown.
    return showViewer(report, QString())->pager()->readWhole();
}

void QtUi::report_written(const ReportDocument& report, const std::string& path) {
    const QString where = qs(path);
    if (main_) main_->statusBar()->showMessage(tr("%1 written to %2").arg(qs(report.title), where));
    // A report sent to a device (/dev/null) leaves the company's report folder as it was.
    std::error_code ec;
    if (const QString company = companyFolder(); !company.isEmpty() && std::filesystem::is_regular_file(path, ec))
        rememberReportFolder(company, QFileInfo(where).absolutePath());
    // The printing kept none of the lines: the viewer reads them as the file holds them.
    showViewer(ReportDocument{report.title, report.width, {}, dz::ui::LineSpool::of_file(path)}, where);
}

ReportViewer* QtUi::showViewer(const ReportDocument& report, const QString& path) {
    auto* viewer = new ReportViewer(report, path);
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    connect(viewer, &ReportViewer::printRequested, this, [this](const ReportDocument& r) { print_report(r); });
    const QSize wanted = viewer->size();
    showWindow(viewer, true);
    // The report's own width (up to 132 columns) and some 30 lines, as far as the window allows.
    if (auto* sub = qobject_cast<QMdiSubWindow*>(container(viewer))) {
        QSize room = main_->mdiArea()->viewport()->size();
        QSize frame = sub->size() - viewer->size();
        sub->resize((wanted + frame).boundedTo(room));
        keepInArea(*sub);
        sub->raise();
        viewer->setFocus();
    } else {
        fitToScreen(*viewer);
    }
    return viewer;
}

bool QtUi::print_report(const ReportDocument& report) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(qs(report.title));
    QPrintDialog dialog(&printer, dialogParent());
    dialog.setWindowTitle(tr("Print %1").arg(qs(report.title)));
    // Printed to a file, the report goes into the company's report folder unless the person
    // says otherwise (the dialog would propose the home folder).
    const QString folder = reportFolder();
    if (auto* file = dialog.findChild<QLineEdit*>(QStringLiteral("filename")); file && !folder.isEmpty()) {
        QString name = qs(report.title).toLower().replace(QLatin1Char(' '), QLatin1Char('_'));
        file->setText(QDir(folder).filePath((name.isEmpty() ? QStringLiteral("report") : name) + QStringLiteral(".pdf")));
    }
    if (execModal(dialog) != QDialog::Accepted) return false;
    return printReport(report, printer);
}

QString QtUi::reportFolder() const {
    const std::string& kept = dz::ui::run_state().report_folder;
    return kept.empty() ? companyFolder() : qs(kept);
}

bool QtUi::printActiveReport() {
    // The report in the active window, else the one shown last.
    ReportViewer* viewer = nullptr;
    if (main_) {
        if (QMdiSubWindow* active = main_->mdiArea()->activeSubWindow())
            viewer = qobject_cast<ReportViewer*>(active->widget());
        const auto windows = main_->mdiArea()->subWindowList(QMdiArea::StackingOrder);
        for (auto it = windows.rbegin(); !viewer && it != windows.rend(); ++it)
            viewer = qobject_cast<ReportViewer*>((*it)->widget());
    }
    if (!viewer) {
        if (main_) main_->statusBar()->showMessage(tr("No report is open to print."), 10000);
        return false;
    }
    return print_report(viewer->report());
}

void QtUi::task_line(const std::string& text) {
    if (main_) main_->statusBar()->showMessage(qs(text));
}

void QtUi::splash(const std::string& title) {
    QPixmap pixmap(420, 160);
    pixmap.fill(QColor(0x1f, 0x3a, 0x5f));
    QPainter p(&pixmap);
    QFont font = p.font();
    font.setPointSize(22);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(pixmap.rect(), Qt::AlignCenter, qs(title));
    p.end();
    splash_ = new QSplashScreen(pixmap);
    splash_->show();
    QCoreApplication::processEvents();
}

bool QtUi::create_main_window(const MainWindowDef& def) {
    main_ = new MainWindow(def, [](int command) {
        if (zqApplication* app = zqApplication::instance()) app->RunCommand(command);
    });
    title_ = qs(def.title);
    connect(main_, &MainWindow::printRequested, this, [this] { printActiveReport(); });
    return true;
}

void QtUi::show_main_window() {
    if (!main_) return;
    // As much of the screen as it offers, up to a generous size: a hub and its list of text
    // files, or a panel beside a report, fit side by side or one below the other.
    if (QScreen* screen = main_->screen()) {
        const QSize room = screen->availableGeometry().size() - QSize(16, 48);
        main_->resize(main_->size().expandedTo(room.boundedTo(QSize(1600, 1000))).boundedTo(room));
    }
    main_->show();
    if (splash_) {
        splash_->finish(main_);
        splash_->deleteLater();
    }
}

void useCLocale() { std::setlocale(LC_ALL, "C"); }

}  // namespace dz::gui
