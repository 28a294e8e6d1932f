// The report on the screen: read a page at a time from where the report is kept, moved by the
// keys a reader expects, copied and printed from there, and holding little however long it is.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPrinter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <malloc.h>
#include <memory>

#include "gui/main_window.h"
#include "gui/qt_ui.h"
#include "gui/report_pager.h"
#include "gui/report_viewer.h"
#include "platform/ui/line_spool.h"
#include "platform/ui/print.h"

using dz::gui::QtUi;
using dz::gui::ReportPager;
using dz::gui::ReportViewer;

namespace {

// Prints `lines` lines of `text` and their number to the screen, as a run prints its report (a
// page every 60 lines); the report window it opened, nullptr when none did. `closed`: what the
// print's end answered.
// `file`: the report is written there instead, and shown from it.
ReportViewer* printToScreen(QtUi& ui, int lines, const std::string& text, int* closed = nullptr,
                            const std::string& file = {}) {
    const int print = dz::ui::xp_open_print(dz::ui::PrintDef{"Examine Files Report", 132, 1, 0},
                                            file.empty() ? dz::ui::Destination::Screen : dz::ui::Destination::File, file);
    for (int i = 0; i < lines; ++i) {
        dz::ui::xp_put_field(print, 0, 132, 0, text + std::to_string(i));
        dz::ui::xp_wr_line(print, 1, 0, 0);
    }
    const int end = dz::ui::xp_close_print(print);
    if (closed) *closed = end;
    const auto subs = ui.mainWindow()->mdiArea()->subWindowList(QMdiArea::CreationOrder);
    return subs.isEmpty() ? nullptr : qobject_cast<ReportViewer*>(subs.back()->widget());
}

void closeReports(QtUi& ui) {
    ui.mainWindow()->mdiArea()->closeAllSubWindows();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The bytes the program has taken from the heap and not given back.
std::size_t heapInUse() {
    const struct mallinfo2 m = ::mallinfo2();
    return m.uordblks + m.hblkhd;
}

int openDescriptors() { return static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files).size()); }

}  // namespace

class ReportViewTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        ui_ = std::make_unique<QtUi>();
        dz::ui::set_current(ui_.get());
        ui_->create_main_window(dz::ui::MainWindowDef{"RA Dodedoz", {}, ""});
        ui_->show_main_window();
        ui_->mainWindow()->resize(1000, 800);
    }
    void cleanup() {
        dz::ui::set_spool_read_hook_for_tests(nullptr);
        closeReports(*ui_);
        dz::ui::reset_printing();
        dz::ui::set_current(nullptr);
        ui_.reset();
    }

    // Ctrl+End, Page Up and Down, Ctrl+Home, the arrows and the wheel move the report; what is
    // selected, by the mouse or all of it, is copied; it prints from its spool page by page.
    void keysMoveTheReportAndItCopiesAndPrints() {
        ReportViewer* viewer = printToScreen(*ui_, 1000, "line ");
        QVERIFY(viewer);
        ReportPager* pager = viewer->pager();
        QCOMPARE(ui_->mainWindow()->focusWidget(), pager);
        // 16 page breaks, each a blank, the rule and a blank before its line.
        QCOMPARE(pager->rowCount(), std::uint64_t{1000 + 16 * 3});
        const auto page = static_cast<std::uint64_t>(pager->verticalScrollBar()->pageStep());
        QVERIFY(page > 5);
        auto key = [pager](Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
            QTest::keyClick(pager, k, m);
            return pager->topRow();
        };
        QCOMPARE(key(Qt::Key_End, Qt::ControlModifier), pager->rowCount() - page);
        QVERIFY(pager->rowsText(pager->topRow(), page).endsWith(QLatin1String("\nline 999")));
        QCOMPARE(key(Qt::Key_PageUp), pager->rowCount() - 2 * page);
        QCOMPARE(key(Qt::Key_Home, Qt::ControlModifier), std::uint64_t{0});
        QCOMPARE(key(Qt::Key_PageDown), page);
        QCOMPARE(key(Qt::Key_Down), page + 1);
        QCOMPARE(key(Qt::Key_Up), page);
        QWheelEvent wheel(QPointF(50, 50), pager->viewport()->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(pager->viewport(), &wheel);
        QVERIFY(pager->topRow() > page);
        // Narrower than the report, it moves a character to the right and back.
        viewer->window()->resize(300, 400);
        viewer->resize(300, 400);
        QScrollBar* across = pager->horizontalScrollBar();
        QVERIFY(across->maximum() > 0);
        QTest::keyClick(pager, Qt::Key_Right);
        QCOMPARE(across->value(), across->singleStep());
        QTest::keyClick(pager, Qt::Key_Left);
        QCOMPARE(across->value(), 0);

        // From the start of the second row to the fifth character of the fourth.
        key(Qt::Key_Home, Qt::ControlModifier);
        const QFontMetrics fm(pager->font());
        QTest::mousePress(pager->viewport(), Qt::LeftButton, {}, QPoint(1, fm.lineSpacing() * 3 / 2));
        QMouseEvent drag(QEvent::MouseMove, QPointF(4 + fm.horizontalAdvance(QStringLiteral("line")) + 2,
                                                    fm.lineSpacing() * 7 / 2),
                         pager->viewport()->mapToGlobal(QPointF(0, 0)), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(pager->viewport(), &drag);
        QTest::mouseRelease(pager->viewport(), Qt::LeftButton, {}, drag.position().toPoint());
        QCOMPARE(pager->selectedText(), QStringLiteral("line 1\nline 2\nline"));
        // Shown selected: the second row, nothing before it nor after the fourth.
        const QImage shown = pager->viewport()->grab().toImage();
        const QColor highlight = pager->palette().highlight().color();
        // (Looked at just past a row's end, where no letter is drawn.)
        const int past = 4 + fm.horizontalAdvance(QStringLiteral("line 0")) + fm.horizontalAdvance(QLatin1Char(' ')) / 2;
        QVERIFY(shown.pixelColor(past, fm.lineSpacing() / 2) != highlight);
        QCOMPARE(shown.pixelColor(past, fm.lineSpacing() * 3 / 2), highlight);
        QVERIFY(shown.pixelColor(past, fm.lineSpacing() * 9 / 2) != highlight);
        QTest::keyClick(pager, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(pager, Qt::Key_C, Qt::ControlModifier);
        const QString all = QGuiApplication::clipboard()->text();
        QVERIFY(all.startsWith(QLatin1String("line 0\nline 1\n")));
        QVERIFY(all.endsWith(QLatin1String("\nline 999\n")));
        QCOMPARE(all.count(QLatin1Char('\n')), 1000);  // the report's lines, none of the rules between pages

        QTemporaryDir dir;
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath(QStringLiteral("r.pdf")));
        QVERIFY(dz::gui::printReport(viewer->report(), printer));
        QFile pdf(dir.filePath(QStringLiteral("r.pdf")));
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        const QByteArray bytes = pdf.readAll();
        QCOMPARE(bytes.count("/Type /Page") - bytes.count("/Type /Pages"), qsizetype{17});
    }

    // Select All then Edit > Copy gives the report as its file holds it (a page's '\f', no rule);
    // a selection across a page's start, by the mouse, and Ctrl+C give the lines selected.
    void copyGivesTheLinesAsTheReportFileHoldsThem() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("examine.txt"));
        ReportViewer* viewer = printToScreen(*ui_, 150, "line ", nullptr, path.toStdString());
        QVERIFY(viewer);
        ReportPager* pager = viewer->pager();
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->setText(QStringLiteral("kept"));
        QTest::keyClick(pager, Qt::Key_C, Qt::ControlModifier);  // nothing selected: nothing copied
        QCOMPARE(clipboard->text(), QStringLiteral("kept"));
        // Edit > Copy goes to the widget with the focus: the report's, in the active window.
        QApplication::setActiveWindow(ui_->mainWindow());
        QVERIFY(QTest::qWaitForWindowActive(ui_->mainWindow()));
        QCOMPARE(QApplication::focusWidget(), pager);
        QTest::keyClick(pager, Qt::Key_A, Qt::ControlModifier);
        QAction* copy = nullptr;
        for (QAction* a : ui_->mainWindow()->menu(QStringLiteral("Edit"))->actions())
            if (a->text().remove(QLatin1Char('&')) == QStringLiteral("Copy")) copy = a;
        QVERIFY(copy);
        copy->trigger();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray held = file.readAll();
        QVERIFY(held.contains('\f'));
        // Offered as plain text, and as nothing else (rich text would lose the report's spacing).
        const QMimeData* copied = clipboard->mimeData();
        QVERIFY(copied->hasFormat(QStringLiteral("text/plain")) && !copied->hasHtml());
        QVERIFY(copied->data(QStringLiteral("text/html")).isEmpty());
        QCOMPARE(clipboard->text().toUtf8(), held);

        const std::vector<std::string> lines = dz::ui::all_lines(viewer->report());
        std::size_t page = 1;
        while (page < lines.size() && lines[page].front() != '\f') ++page;
        QVERIFY(page + 3 < lines.size());
        // From the third character of the second line above the page to the fourth of its first.
        pager->verticalScrollBar()->setValue(static_cast<int>(page) - 2);
        const QFontMetrics fm(pager->font());
        QTest::mousePress(pager->viewport(), Qt::LeftButton, {},
                          QPoint(4 + fm.horizontalAdvance(QStringLiteral("li")) + 1, fm.lineSpacing() / 2));
        const QPointF to(4 + fm.horizontalAdvance(QStringLiteral("line")) + 2, fm.lineSpacing() * 11 / 2);
        QMouseEvent drag(QEvent::MouseMove, to, pager->viewport()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(pager->viewport(), &drag);
        QTest::mouseRelease(pager->viewport(), Qt::LeftButton, {}, to.toPoint());
        QTest::keyClick(pager, Qt::Key_C, Qt::ControlModifier);
        const QString expected = QString::fromStdString(lines[page - 2].substr(2) + "\n" + lines[page - 1] + "\n" +
                                                        lines[page].substr(0, 5));
        QCOMPARE(clipboard->text(), expected);
    }

    // Shift with the arrows and Page Up or Down extends the selection from where it was started,
    // and the view follows its end; with nothing selected in view it starts at the view's top.
    void shiftKeysExtendTheSelection() {
        ReportViewer* viewer = printToScreen(*ui_, 1000, "line ");
        QVERIFY(viewer);
        ReportPager* pager = viewer->pager();
        const auto page = static_cast<std::uint64_t>(pager->verticalScrollBar()->pageStep());
        QVERIFY(page > 5);
        auto shift = [pager](Qt::Key k, int times = 1) {
            for (int i = 0; i < times; ++i) QTest::keyClick(pager, k, Qt::ShiftModifier);
            return pager->selectedText();
        };
        const QString twoRowsAndAnL = QStringLiteral("line 0\nline 1\nl");
        QCOMPARE(shift(Qt::Key_Down, 2), QStringLiteral("line 0\nline 1\n"));
        QCOMPARE(shift(Qt::Key_Right, 2), QStringLiteral("line 0\nline 1\nli"));
        QCOMPARE(shift(Qt::Key_Left), twoRowsAndAnL);
        // A page down: the view follows the selection's end to its last row.
        QVERIFY(shift(Qt::Key_PageDown).startsWith(twoRowsAndAnL + QLatin1String("ine 2\n")));
        QCOMPARE(pager->topRow(), std::uint64_t{3});
        QCOMPARE(shift(Qt::Key_PageUp), twoRowsAndAnL);
        QCOMPARE(pager->topRow(), std::uint64_t{2});
        // Back past the start of a row, and up over where the selection started.
        QCOMPARE(shift(Qt::Key_Left, 2), QStringLiteral("line 0\nline 1"));
        QCOMPARE(shift(Qt::Key_Up), QStringLiteral("line 0"));
        QCOMPARE(pager->topRow(), std::uint64_t{0});
        QCOMPARE(shift(Qt::Key_Up), QString());

        pager->verticalScrollBar()->setValue(10);
        QCOMPARE(shift(Qt::Key_Down), QStringLiteral("line 10\n"));
        // Without Shift the keys only move the view; a selection scrolled out of sight goes on
        // from where it was started, and the view comes back to its end.
        QTest::keyClick(pager, Qt::Key_Down);
        QCOMPARE(pager->selectedText(), QStringLiteral("line 10\n"));
        pager->verticalScrollBar()->setValue(500);
        QCOMPARE(shift(Qt::Key_Down), QStringLiteral("line 10\nline 11\n"));
        QCOMPARE(pager->topRow(), std::uint64_t{12});

        // Past the bottom row in view, the view moves by that row.
        QTest::mouseClick(pager->viewport(), Qt::LeftButton, {}, QPoint(1, 1));
        shift(Qt::Key_Down, static_cast<int>(page) - 1);
        QCOMPARE(pager->topRow(), std::uint64_t{12});
        shift(Qt::Key_Down);
        QCOMPARE(pager->topRow(), std::uint64_t{13});

        // At the report's end the selection goes no farther, and comes back to the last line's end.
        pager->selectAll();
        QVERIFY(shift(Qt::Key_Right).endsWith(QLatin1String("line 999\n")));
        QVERIFY(shift(Qt::Key_Left).endsWith(QLatin1String("\nline 999")));
        // Shift+End, as Shift+Ctrl+End, selects to the report's end, and the view shows it.
        QTest::keyClick(pager, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(shift(Qt::Key_End).count(QLatin1Char('\n')), 1000);
        QCOMPARE(pager->topRow(), pager->rowCount() - page);
    }

    // Ctrl+End and Ctrl+Home take the selection's moving end with the view: Shift with a key then
    // goes on from the report's end or start, never from a selection left out of sight; Shift with
    // them selects from where the selection was started to there.
    void ctrlEndAndHomeTakeTheSelectionsEnd() {
        ReportViewer* viewer = printToScreen(*ui_, 1000, "line ");
        QVERIFY(viewer);
        ReportPager* pager = viewer->pager();
        const auto page = static_cast<std::uint64_t>(pager->verticalScrollBar()->pageStep());
        QVERIFY(page > 5 && page < 60);  // the first page's rows, no page break among them
        const std::uint64_t bottom = pager->rowCount() - page;
        auto key = [pager](Qt::Key k, Qt::KeyboardModifiers m) {
            QTest::keyClick(pager, k, m);
            return pager->selectedText();
        };
        const auto line = [](std::uint64_t n) { return QStringLiteral("line %1").arg(n); };
        // A selection's first and last lines, so that a failure shows them.
        const auto first = [](const QString& text) { return text.section(QLatin1Char('\n'), 0, 0); };
        const auto last = [](const QString& text) { return text.section(QLatin1Char('\n'), -2, -2); };
        QCOMPARE(key(Qt::Key_Down, Qt::ShiftModifier), line(0) + QLatin1Char('\n'));  // left behind at the start

        // From the end a page up: the last page's lines, the view kept where it is.
        key(Qt::Key_End, Qt::ControlModifier);
        const QString lastPage = key(Qt::Key_PageUp, Qt::ShiftModifier);
        QVERIFY2(first(lastPage).startsWith(QLatin1String("line 9")), qPrintable(first(lastPage)));
        QCOMPARE(last(lastPage), line(999));
        QCOMPARE(pager->topRow(), bottom);

        // From the start a page down: the first page's lines.
        key(Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(key(Qt::Key_PageDown, Qt::ShiftModifier), pager->rowsText(0, page) + QLatin1Char('\n'));

        // Started at the view's third row: Shift+Ctrl+End selects from there to the end, and
        // Shift+Ctrl+Home from there back to the start.
        const int spacing = QFontMetrics(pager->font()).lineSpacing();
        QTest::mouseClick(pager->viewport(), Qt::LeftButton, {}, QPoint(1, spacing * 5 / 2));
        const std::uint64_t third = pager->topRow() + 2;
        const QString toEnd = key(Qt::Key_End, Qt::ShiftModifier | Qt::ControlModifier);
        QCOMPARE(first(toEnd), line(third));
        QCOMPARE(last(toEnd), line(999));
        QCOMPARE(pager->topRow(), bottom);
        QCOMPARE(key(Qt::Key_Home, Qt::ShiftModifier | Qt::ControlModifier), pager->rowsText(0, third) + QLatin1Char('\n'));

        // A selection made, then Ctrl+End: Shift+Up selects the last line alone.
        key(Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(key(Qt::Key_Up, Qt::ShiftModifier), line(999) + QLatin1Char('\n'));
        QCOMPARE(pager->topRow(), bottom);
        // Nothing selected just below the view, or at the end with the view moved up from it:
        // Shift+Down starts in sight.
        QTest::mouseClick(pager->viewport(), Qt::LeftButton, {}, QPoint(1, spacing / 2));
        key(Qt::Key_PageUp, Qt::NoModifier);
        key(Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(pager->topRow(), bottom - page);
        key(Qt::Key_End, Qt::ControlModifier);
        key(Qt::Key_Up, Qt::NoModifier);
        key(Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(pager->topRow(), bottom - 1);
    }

    // The report's view can be copied from, never cut from nor pasted into: Edit offers Copy
    // alone there, and Cut and Paste again in a field that takes them.
    void editMenuOffersOnlyCopyInAReport() {
        ReportViewer* viewer = printToScreen(*ui_, 10, "line ");
        QVERIFY(viewer);
        QMenu* edit = ui_->mainWindow()->menu(QStringLiteral("Edit"));
        QVERIFY(edit);
        auto offered = [edit] {
            emit edit->aboutToShow();
            QStringList on;
            for (QAction* a : edit->actions())
                if (a->isEnabled()) on << a->text().remove(QLatin1Char('&'));
            return on.join(QLatin1Char(' '));
        };
        QApplication::setActiveWindow(ui_->mainWindow());
        QVERIFY(QTest::qWaitForWindowActive(ui_->mainWindow()));
        viewer->pager()->setFocus();
        QCOMPARE(QApplication::focusWidget(), viewer->pager());
        QCOMPARE(offered(), QStringLiteral("Copy"));
        auto* field = new QLineEdit;
        ui_->mainWindow()->addChild(field);
        field->setFocus();
        QCOMPARE(QApplication::focusWidget(), field);
        QCOMPARE(offered(), QStringLiteral("Cut Copy Paste"));
        field->setReadOnly(true);
        QCOMPARE(offered(), QStringLiteral("Copy"));
    }

    // A spool that cannot be read back whole is shown as far as it goes, and the print to the
    // screen says it failed.
    void aReportNotReadBackWholeIsSaidNotShown() {
        dz::ui::set_spool_read_hook_for_tests([](int, char*, std::size_t, off_t) {
            errno = EIO;
            return ssize_t{-1};
        });
        int closed = 0;
        QVERIFY(printToScreen(*ui_, 10000, "line of some twenty bytes ", &closed));
        QVERIFY(closed != 0);
    }

    // A report far longer than a screen adds little to the program while it is shown, at its end
    // too, and gives that back when it is closed: the view keeps none of its lines.
    void aLongReportHoldsLittleAndGivesItBack() {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the heap is the sanitizer's");
#else
        // A first report shown and closed: what any report window takes once is taken.
        printToScreen(*ui_, 100, "warm ");
        closeReports(*ui_);
        const std::size_t before = heapInUse();
        const int descriptors = openDescriptors();
        // Some 18 MB of report.
        const std::string text = "6        The line has 2 columns, record type '6' needs 12 (fld 2, col 3) (58) ";
        constexpr int kLines = 200000;
        ReportViewer* viewer = printToScreen(*ui_, kLines, text);
        QVERIFY(viewer);
        QTest::keyClick(viewer->pager(), Qt::Key_End, Qt::ControlModifier);
        viewer->pager()->viewport()->repaint();
        QVERIFY(viewer->pager()->rowsText(viewer->pager()->topRow(), 99).endsWith(QLatin1String(") 199999")));
        const std::size_t report = kLines * (text.size() + 6);
        const std::size_t shown = heapInUse() - std::min(heapInUse(), before);
        QVERIFY2(shown < report / 8, qPrintable(QStringLiteral("%1 bytes held for a report of %2").arg(shown).arg(report)));
        closeReports(*ui_);
        const std::size_t after = heapInUse() - std::min(heapInUse(), before);
        QVERIFY2(after < 512 * 1024, qPrintable(QStringLiteral("%1 bytes kept after closing").arg(after)));
        QCOMPARE(openDescriptors(), descriptors);  // the spool's file went with it
#endif
    }

private:
    std::unique_ptr<QtUi> ui_;
};

int runReportViewTest(int argc, char** argv) {
    ReportViewTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "report_view_test.moc"
