// The desktop front end, headless: the main window's menus, a panel drawn from its description
// and read modally, message boxes answered through the scripted hook, and the progress panel
// updated and stopped.
#include <QCheckBox>
#include <QDir>
#include <QProcess>
#include <QLabel>
#include <QStatusBar>
#include <QDialog>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPrintDialog>
#include <QTableWidget>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QStyle>
#include <QTableView>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <clocale>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <utility>

#include "as_user.h"
#include "app/xv_app.h"
#include "convert/progress.h"
#include "gui/cell_font.h"
#include "gui/company_view.h"
#include "gui/main_window.h"
#include "gui/mnemonics.h"
#include "gui/shown_edit.h"
#include "gui/panel_widget.h"
#include "gui/qt_ui.h"
#include "gui/report_pager.h"
#include "gui/report_viewer.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/suite/company.h"
#include "platform/suite/util.h"
#include "platform/ui/framework.h"
#include "platform/ui/hub.h"
#include "platform/ui/print.h"
#include "platform/ui/run_state.h"
#include "platform/ui/screen_file.h"
#include "platform/ui/ui.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using dz::gui::MainWindow;
using dz::gui::PanelWidget;
using dz::gui::QtUi;

namespace {

// Installs `ui` and shows its main window, as the program starts.
#ifdef DZ_CLI_BIN
// Company folders made by the command line, as a user makes them; a failure fails the test.
void initCompanies(const QStringList& folders) {
    for (const QString& co : folders) {
        QProcess init;
        init.start(QStringLiteral(DZ_CLI_BIN), {QStringLiteral("company"), QStringLiteral("init"), co});
        QVERIFY(init.waitForFinished(60000));
        QCOMPARE(init.exitCode(), 0);
    }
}
#endif

void showMainWindow(QtUi& ui) {
    dz::ui::set_current(&ui);
    dz::ui::MainWindowDef def;
    def.title = "RA Dodedoz";
    ui.create_main_window(def);
    ui.show_main_window();
}

// Clicks the button of a message box whose text, without "&", is `label`.
void clickButton(QWidget* w, const QString& label) {
    auto* box = qobject_cast<QMessageBox*>(w);
    QVERIFY(box);
    const auto buttons = box->buttons();
    for (QAbstractButton* b : buttons) {
        if (b->text().remove(QLatin1Char('&')) == label) {
            b->click();
            return;
        }
    }
    QFAIL(qPrintable(QStringLiteral("no button ") + label));
}

class RecordingTask : public dz::ui::zqTask {
public:
    RecordingTask(const char* name, int command, std::vector<int>& started)
        : zqTask(name, 15, command, 5), started_(started) {}
    void Start() override {
        zqTask::Start();
        started_.push_back(ID());
    }

private:
    std::vector<int>& started_;
};

// A task that runs `probe` when started.
class ProbeTask : public dz::ui::zqTask {
public:
    ProbeTask(const char* name, int command, std::function<void()> probe)
        : zqTask(name, 15, command, 5), probe_(std::move(probe)) {}
    void Start() override {
        zqTask::Start();
        probe_();
    }

private:
    std::function<void()> probe_;
};

QStringList actionTexts(QMenu* m) {
    QStringList out;
    const auto actions = m->actions();
    for (QAction* a : actions) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

// The widest and narrowest advance of the printable ASCII characters; equal in a font that
// can fill character cells.
std::pair<qreal, qreal> advanceRange(const QFont& font) {
    const QFontMetricsF fm(font);
    qreal lo = fm.horizontalAdvance(QLatin1Char(' '));
    qreal hi = lo;
    for (int c = 0x21; c <= 0x7E; ++c) {
        lo = std::min(lo, fm.horizontalAdvance(QChar(c)));
        hi = std::max(hi, fm.horizontalAdvance(QChar(c)));
    }
    return {lo, hi};
}

bool evenAdvances(const QFont& font) {
    auto [lo, hi] = advanceRange(font);
    return lo > 0 && lo == hi;
}

const char kFormScreen[] = R"(
[[panel]]
screen = "TEST"
name = "FORM"
title = "Vendor"
rows = 10
cols = 40
events = "command"
text = [ { row = 2, col = 3, text = "Name:" }, { row = 7, col = 30, text = "end" } ]
field = [
  { number = 1, kind = "text", row = 2, col = 10, width = 20, value = "old" },
  { number = 2, kind = "choice", row = 3, col = 10, width = 8, choices = ["Open", "Closed"], choice = 2 },
  { number = 3, kind = "check", row = 5, col = 10, width = 10, label = "Active" },
  { number = 4, kind = "choice", row = 8, col = 3, width = 30, choices = ["First long choice", "Second long choice"] },
]
button = [ { number = 1, label = "~OK", row = 7, col = 3, width = 8 },
           { number = 2, label = "~Cancel", row = 7, col = 14, width = 10, escape = true } ]
)";

// Writes the screen file of kFormScreen into `dir` and opens it.
int openFormScreen(const QTemporaryDir& dir) {
    std::ofstream(dir.filePath("TEST.toml").toStdString()) << kFormScreen;
    dz::ui::set_screens_folder(dir.path().toStdString());
    return dz::ui::xw_open_screen_file("TEST");
}

}  // namespace

// Closes the panels and removes the front end before it goes, however the test ends.
struct UiInForce {
    ~UiInForce() {
        dz::ui::reset_panels();
        dz::ui::set_current(nullptr);
    }
};

class GuiTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        dz::ui::reset_panels();
        dz::ui::set_current(nullptr);
    }

    // Under a user's locale, amounts from text files keep their cents (decimal comma) and keys
    // are folded as the command-line program folds them (8-bit character set): ASCII only,
    // leaving the bytes of UTF-8 letters as they are.
    void cLocaleRulesUnderAUsersLocale() {
        const char* keptNumeric = std::setlocale(LC_NUMERIC, nullptr);
        const std::string numericBefore = keptNumeric ? keptNumeric : "C";
        const char* keptCtype = std::setlocale(LC_CTYPE, nullptr);
        const std::string ctypeBefore = keptCtype ? keptCtype : "C";
        const bool comma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "de_DE.utf8");
        const bool latin1 = std::setlocale(LC_CTYPE, "de_DE.ISO-8859-1") || std::setlocale(LC_CTYPE, "de_DE.iso88591");
        dz::gui::useCLocale();
        const double read = std::strtod("1500.25", nullptr);
        std::string key = "caf\xC3\xA9 \xE2\x82\xAC m\xFCller";
        dz::suite::x_capitalize(key);
        std::setlocale(LC_NUMERIC, numericBefore.c_str());
        std::setlocale(LC_CTYPE, ctypeBefore.c_str());
        if (!comma && !latin1) QSKIP("neither a decimal-comma nor an 8-bit locale is installed");
        if (comma) QCOMPARE(read, 1500.25);
        if (latin1) QCOMPARE(key, std::string("CAF\xC3\xA9 \xE2\x82\xAC M\xFCLLER"));
    }

    void mainWindowMenus() {
        std::vector<int> started;
        dz::ui::zqApplication app("RA Dodedoz", "XV", "20.3.1", "17.1.0");
        app.AddTask(std::make_unique<RecordingTask>("Convert", 3020, started));
        app.AddTask(std::make_unique<RecordingTask>("Examine Files", 3010, started));
        dz::ui::MainWindowDef def;
        def.title = "RA Dodedoz";
        def.exit_prompt = "Exits the RA Dodedoz application";
        def.items = {{"Tasks", "&Examine Files...", 3010, "Examines text files for potential field errors", false},
                     {"Tasks", "&Convert...", 3020, "Converts text files into Vesk files", true},
                     {"Setup", "&Substitution Tables...", 4010,
                      "Creates table of values to change during conversion", false}};
        QtUi ui;
        dz::ui::set_current(&ui);
        QVERIFY(ui.create_main_window(def));
        ui.show_main_window();
        MainWindow* w = ui.mainWindow();
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QStringLiteral("RA Dodedoz"));

        QStringList menus;
        const auto top = w->menuBar()->actions();
        for (QAction* a : top) menus << a->text();
        QCOMPARE(menus, (QStringList{"&File", "&Edit", "&Tasks", "&Setup", "Too&ls", "&Window", "&Help"}));
        QCOMPARE(actionTexts(w->menu("Tasks")), (QStringList{"&Examine Files...", "-", "&Convert..."}));
        QCOMPARE(actionTexts(w->menu("Setup")), (QStringList{"&Substitution Tables..."}));
        QVERIFY(actionTexts(w->menu("File")).contains("E&xit"));

        QAction* convert = w->menu("Tasks")->actions().at(2);
        QCOMPARE(convert->statusTip(), QStringLiteral("Converts text files into Vesk files"));
        convert->trigger();
        w->menu("Tasks")->actions().at(0)->trigger();
        // A command without a task does nothing.
        w->menu("Setup")->actions().at(0)->trigger();
        QCOMPARE(started, (std::vector<int>{3020, 3010}));
        QVERIFY(w->menuBar()->isEnabled());
        // While a command runs, the menus that start things wait; Window (Tile) and the others
        // stay.
        QStringList enabled;
        app.AddTask(std::make_unique<ProbeTask>("Probe", 3030, [&] {
            for (QAction* a : w->menuBar()->actions())
                if (a->isEnabled()) enabled << a->text();
        }));
        w->runCommand(3030);
        // File stays for the running command's own entries (a table editor's Save).
        QCOMPARE(enabled, (QStringList{"&File", "&Edit", "Too&ls", "&Window", "&Help"}));
        QVERIFY(w->menu("Tasks")->menuAction()->isEnabled());
    }

    // Started on a folder that is no company, the tasks are off, and a command that ends
    // meanwhile leaves them so, until a company opens.
    void tasksWaitForACompany() {
#ifndef DZ_CLI_BIN
        QSKIP("dodedoz-cli is not built");
#else
        dz::suite::close_company();
        QTemporaryDir dir;
        QtUi ui;
        dz::ui::set_current(&ui);
        dz::ui::MainWindowDef def;
        def.items = {{"Tasks", "&Convert...", 3020, "", false}, {"Setup", "&Substitution Tables...", 4010, "", false}};
        QVERIFY(ui.create_main_window(def));
        ui.show_main_window();
        MainWindow* w = ui.mainWindow();
        auto on = [w](const char* menu) { return w->menu(QString::fromLatin1(menu))->menuAction()->isEnabled(); };
        ui.setModalHook([](QWidget* box) { qobject_cast<QMessageBox*>(box)->defaultButton()->click(); });
        QVERIFY(!dz::gui::openCompany(dir.path().toStdString()));  // no settings file: the error box
        dz::gui::showCompany(w);
        QVERIFY(!on("Tasks") && !on("Setup") && on("File"));
        QCOMPARE(w->companyText(), QStringLiteral("No company open"));
        w->runCommand(3020);
        QVERIFY(!on("Tasks") && !on("Setup") && on("File"));
        QProcess init;
        init.start(QStringLiteral(DZ_CLI_BIN), {QStringLiteral("company"), QStringLiteral("init"), dir.path()});
        QVERIFY(init.waitForFinished(60000));
        QVERIFY(dz::gui::openCompany(dir.path().toStdString()));
        dz::gui::showCompany(w);
        QVERIFY(on("Tasks") && on("Setup"));
        QVERIFY(w->companyText().contains(QDir(dir.path()).dirName()));
        dz::ui::run_state().report_folder.clear();
        dz::suite::close_company();
#endif
    }

    void programStartsWithItsMenus() {
        std::vector<std::string> ran;
        dz::app::AppEnvironment env;
        env.load_modules = [] { return true; };
        env.release_modules = [] {};
        env.run_convert_examine = [&ran](dz::ui::zqTask& t) { ran.push_back(t.Name()); };
        env.run_table_editor = [&ran](dz::ui::zqTask& t) { ran.push_back(t.Name()); };
        env.screens_folder = std::filesystem::path(DZ_SOURCE_DATA_DIR) / "screens";
        dz::app::CXVApp app(env);
        QtUi ui;
        dz::ui::set_current(&ui);
        QVERIFY(app.InitInstance());
        MainWindow* w = ui.mainWindow();
        QVERIFY(w && w->isVisible());
        QCOMPARE(w->windowTitle(), QStringLiteral("RA Dodedoz"));
        QCOMPARE(actionTexts(w->menu("Tasks")), (QStringList{"&Examine Files...", "-", "&Convert..."}));
        QCOMPARE(actionTexts(w->menu("Setup")), (QStringList{"&Substitution Tables..."}));
        QCOMPARE(w->menu("Tasks")->actions().at(0)->statusTip(),
                 QStringLiteral("Examines text files for potential field errors"));
        QCOMPARE(w->menu("Setup")->actions().at(0)->statusTip(),
                 QStringLiteral("Creates table of values to change during conversion"));
        QAction* exitAct = w->menu("File")->actions().last();
        QCOMPARE(exitAct->text(), QStringLiteral("E&xit"));
        QCOMPARE(exitAct->statusTip(), QStringLiteral("Exits the RA Dodedoz application"));

        w->menu("Tasks")->actions().at(2)->trigger();
        w->menu("Tasks")->actions().at(0)->trigger();
        w->menu("Setup")->actions().at(0)->trigger();
        QCOMPARE(ran, (std::vector<std::string>{"Convert", "Examine Files", "Substitution Tables"}));
        app.ExitInstance();
    }

    void cellFontHasEvenAdvances() {
        // Whatever "monospace" resolves to here, the font chosen fills cells.
        QVERIFY2(evenAdvances(dz::gui::fixedFont()), qPrintable(QFontInfo(dz::gui::fixedFont()).family()));
        // A proportional font is replaced by a monospace family at its size.
        QFont proportional(QStringLiteral("DejaVu Sans"));
        proportional.setPointSize(11);
        if (evenAdvances(proportional)) QSKIP("no proportional font installed");
        const QFont even = dz::gui::evenFontFrom(proportional);
        QVERIFY2(evenAdvances(even), qPrintable(QFontInfo(even).family()));
        QCOMPARE(even.pointSize(), 11);
        QVERIFY(dz::gui::monospaceFamilies().contains(even.family()));
        QVERIFY(dz::gui::hasEvenAdvances(even));
        QVERIFY(!dz::gui::hasEvenAdvances(proportional));
        // Cells of whole pixels: a fitted font spans n cells with n characters.
        QFont fitted = even;
        const int cell = dz::gui::fitToCells(fitted);
        QVERIFY(cell >= std::ceil(advanceRange(even).first));
        QCOMPARE(QFontMetricsF(fitted).horizontalAdvance(QStringLiteral("0123456789")), qreal(10 * cell));
    }

    // A step that fails leaves its panels open and its front end goes (a failed check returns
    // from the test, destroying its QtUi); closing them afterwards must not crash.
    void panelsLeftOpenByAFailedStepClose() {
        QTemporaryDir dir;
        int file = openFormScreen(dir);
        QVERIFY(file != dz::ui::kNoScreenFile);
        int gone = 0;
        {
            QtUi ui;
            dz::ui::set_current(&ui);
            gone = dz::ui::xw_show_panel(file, "TEST", "FORM", {}, nullptr);
            QVERIFY(gone != 0);
            QVERIFY(ui.panelWidget(gone));
        }
        QVERIFY(dz::ui::xw_find_panel(gone));
        dz::ui::reset_panels();
        QVERIFY(!dz::ui::xw_find_panel(gone));

        // With the front end still there, resetting removes the panel's window too.
        QtUi ui;
        dz::ui::set_current(&ui);
        int open = dz::ui::xw_show_panel(file, "TEST", "FORM", {}, nullptr);
        QVERIFY(ui.panelWidget(open));
        dz::ui::reset_panels();
        QVERIFY(!ui.panelWidget(open));
        QCoreApplication::processEvents();
        dz::ui::xw_cls_screen_file(file);
    }

    void panelDrawnFromItsDescription() {
        QTemporaryDir dir;
        int file = openFormScreen(dir);
        QVERIFY(file != dz::ui::kNoScreenFile);

        QtUi ui;
        dz::ui::set_current(&ui);
        std::vector<dz::ui::PanelMessage> seen;
        int h = dz::ui::xw_show_panel(file, "TEST", "FORM", [&](dz::ui::Panel&, const dz::ui::PanelMessage& m) {
            seen.push_back(m);
            return 1;
        }, nullptr);
        QVERIFY(h != 0);
        PanelWidget* pw = ui.panelWidget(h);
        QVERIFY(pw);
        QVERIFY2(evenAdvances(pw->font()), qPrintable(QFontInfo(pw->font()).family()));
        QCOMPARE(pw->windowTitle(), QStringLiteral("Vendor"));
        // A run of characters spans exactly its cells, however wide the font's own advance.
        QCOMPARE(QFontMetricsF(pw->font()).horizontalAdvance(QString(40, QLatin1Char('x'))),
                 qreal(40 * pw->cellSize().width()));
        // Texts in their cells.
        QCOMPARE(pw->rowText(2).indexOf("Name:"), 2);
        QCOMPARE(pw->rowText(7).indexOf("end"), 29);
        // Fields and buttons at their cells.
        const QSize cell = pw->cellSize();
        auto* name = qobject_cast<QLineEdit*>(pw->fieldWidget(1));
        QVERIFY(name);
        QCOMPARE(name->text(), QStringLiteral("old"));
        QCOMPARE(name->x(), 9 * cell.width() + cell.width() / 2);
        QCOMPARE(name->y(), 1 * cell.height() + cell.height() / 4);
        auto radios = pw->fieldWidget(2)->findChildren<QRadioButton*>();
        QCOMPARE(radios.size(), 2);
        QCOMPARE(radios[1]->text(), QStringLiteral("Closed"));
        QVERIFY(radios[1]->isChecked());
        // Short choices side by side on their row, long ones one below the other.
        QCOMPARE(radios[0]->y(), radios[1]->y());
        QCOMPARE(radios[1]->x() - radios[0]->x(), 12 * cell.width());
        auto stacked = pw->fieldWidget(4)->findChildren<QRadioButton*>();
        QCOMPARE(stacked.size(), 2);
        QCOMPARE(stacked[0]->x(), stacked[1]->x());
        QCOMPARE(stacked[1]->y() - stacked[0]->y(), cell.height());
        QVERIFY(qobject_cast<QCheckBox*>(pw->fieldWidget(3)));
        QCOMPARE(pw->button(1)->text(), QStringLiteral("&OK"));
        QCOMPARE(pw->button(1)->x(), 2 * cell.width() + cell.width() / 2);
        QVERIFY(pw->width() >= 40 * cell.width());

        // The procedure changes the panel; the widget follows at the next refresh.
        dz::ui::xw_find_panel(h)->write_text(4, 3, "Written later");
        dz::ui::xw_chg_radio_alpha(h, 2, 1, "Reopened");
        dz::ui::xw_refresh();
        QCOMPARE(pw->rowText(4).trimmed(), QStringLiteral("Written later"));
        QCOMPARE(radios[0]->text(), QStringLiteral("Reopened"));
        dz::ui::xw_chg_radio_alpha(h, 4, 3, "Third");
        dz::ui::xw_refresh();
        QCOMPARE(pw->fieldWidget(4)->findChildren<QRadioButton*>().size(), 3);

        // A modal read: the person types, ticks and presses OK (command style: 107, key 13, button).
        ui.setModalHook([](QWidget* w) {
            auto* p = qobject_cast<PanelWidget*>(w);
            QVERIFY(p);
            qobject_cast<QLineEdit*>(p->fieldWidget(1))->setText("ACME");
            p->fieldWidget(2)->findChildren<QRadioButton*>()[0]->setChecked(true);
            qobject_cast<QCheckBox*>(p->fieldWidget(3))->setChecked(true);
            QTest::mouseClick(p->button(1), Qt::LeftButton);
        });
        dz::ui::PanelMessage m = dz::ui::xw_rd_panel(h);
        QCOMPARE(m.msg, dz::ui::kMsgCommand);
        QCOMPARE(m.key, dz::ui::kKeyEnter);
        QCOMPARE(m.field, 1);
        dz::ui::Panel* panel = dz::ui::xw_find_panel(h);
        QCOMPARE(panel->text(1), std::string("ACME"));
        QCOMPARE(panel->choice(2), 1);
        QVERIFY(panel->checked(3));

        // Escape, by key or by the escape button.
        ui.setModalHook([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
        QCOMPARE(dz::ui::xw_rd_panel(h).msg, dz::ui::kMsgEscape);
        ui.setModalHook([](QWidget* w) { QTest::mouseClick(qobject_cast<PanelWidget*>(w)->button(2), Qt::LeftButton); });
        QCOMPARE(dz::ui::xw_rd_panel(h).msg, dz::ui::kMsgEscape);

        // Outside a read, a button press reaches the procedure at the next dispatch.
        seen.clear();
        ui.setModalHook({});
        QTest::mouseClick(pw->button(1), Qt::LeftButton);
        QVERIFY(seen.empty());
        dz::ui::xw_dispatch_messages();
        QCOMPARE(seen.size(), size_t{1});
        QCOMPARE(seen[0], (dz::ui::PanelMessage{dz::ui::kMsgCommand, dz::ui::kKeyEnter, 1}));

        // Enter on a focused button presses it.
        seen.clear();
        pw->button(1)->setFocus();
        QTest::keyClick(pw->button(1), Qt::Key_Return);
        dz::ui::xw_dispatch_messages();
        QCOMPARE(seen, (std::vector<dz::ui::PanelMessage>{{dz::ui::kMsgCommand, dz::ui::kKeyEnter, 1}}));

        // A changed field is message 108 with the value already in the panel: a pick at once,
        // typing when the field is left.
        seen.clear();
        QTest::mouseClick(radios[1], Qt::LeftButton);
        auto* nameEdit = qobject_cast<QLineEdit*>(pw->fieldWidget(1));
        nameEdit->clear();
        QTest::keyClicks(nameEdit, "BETA");
        nameEdit->insert(QString(17, QLatin1Char('x')));  // a paste past the field's width: refused whole
        QCOMPARE(nameEdit->text(), QStringLiteral("BETA"));
        QTest::keyClick(nameEdit, Qt::Key_Return);
        dz::ui::xw_dispatch_messages();
        QCOMPARE(seen, (std::vector<dz::ui::PanelMessage>{{dz::ui::kMsgEdited, 0, 2}, {dz::ui::kMsgEdited, 0, 1}}));
        QCOMPARE(dz::ui::xw_find_panel(h)->choice(2), 2);
        QCOMPARE(dz::ui::xw_find_panel(h)->text(1), std::string("BETA"));
        // During a modal read a tick is the read's answer.
        ui.setModalHook([](QWidget* w) {
            QTest::mouseClick(qobject_cast<PanelWidget*>(w)->fieldWidget(3), Qt::LeftButton, {}, QPoint(5, 5));
        });
        dz::ui::xw_find_panel(h)->set_checked(3, false);
        QCOMPARE(dz::ui::xw_rd_panel(h), (dz::ui::PanelMessage{dz::ui::kMsgEdited, 0, 3}));
        QVERIFY(dz::ui::xw_find_panel(h)->checked(3));
        ui.setModalHook({});

        // Its close box acts as the escape button (Cancel); the window stays for the program
        // to close. A panel without an escape button is told of the close instead (204).
        seen.clear();
        ui.container(pw)->close();
        QVERIFY(ui.container(pw)->isVisible());
        std::vector<dz::ui::PanelMessage> seen2;
        int plain = dz::ui::xw_open_window("Plain", 4, 20, [&seen2](dz::ui::Panel&, const dz::ui::PanelMessage& msg) {
            seen2.push_back(msg);
            return 1;
        }, nullptr);
        seen2.clear();
        ui.container(ui.panelWidget(plain))->close();
        dz::ui::xw_dispatch_messages();
        QCOMPARE(seen, (std::vector<dz::ui::PanelMessage>{{dz::ui::kMsgEscape, 0, 0}}));
        QCOMPARE(seen2, (std::vector<dz::ui::PanelMessage>{{dz::ui::kMsgClosed, 0, 0}}));
        // During a modal read the close box answers the read as an escape.
        ui.setModalHook([&ui](QWidget* w) { ui.container(w)->close(); });
        QCOMPARE(dz::ui::xw_rd_panel(plain).msg, dz::ui::kMsgEscape);
        ui.setModalHook({});
        dz::ui::xw_close_panel(plain);

        dz::ui::xw_close_panel(h);
        QVERIFY(!ui.panelWidget(h));
        dz::ui::xw_cls_screen_file(file);
    }

    void messageBoxesAnsweredThroughTheHook() {
        QtUi ui;
        dz::ui::set_current(&ui);
        QString shown;
        auto answer = [&](const QString& label) {
            ui.setModalHook([&shown, label](QWidget* w) {
                shown = qobject_cast<QMessageBox*>(w)->text();
                clickButton(w, label);
            });
        };
        answer("No");
        QCOMPARE(dz::ui::xw_wr_message(dz::ui::kYesNo, "Delete the table group?"), 2);
        QCOMPARE(shown, QStringLiteral("Delete the table group?"));
        answer("Yes");
        QCOMPARE(dz::ui::xw_wr_message(dz::ui::kQuestion, "OK to stop?"), 1);
        answer("Skip File");
        QCOMPARE(dz::ui::xw_wr_message(dz::ui::kThreeWay, "Skip?"), 2);
        answer("End Run");
        QCOMPARE(dz::ui::xw_wr_message(dz::ui::kThreeWay, "Skip?"), 4);
        answer("Continue");
        QCOMPARE(dz::ui::xw_wr_message(dz::ui::kThreeWay, "Skip?"), 1);
        answer("Cancel");
        QCOMPARE(dz::ui::xw_wr_message(dz::ui::kYesNoCancel, "Save?"), 4);
        answer("OK");
        QCOMPARE(dz::ui::xw_wr_message(dz::ui::kOkToSkip, "OK to skip?"), 1);
        answer("OK");
        QCOMPARE(dz::ui::xw_wr_message(dz::ui::kError, "Unable to access the zq.scr sreen file."), 1);
        // The texts break their lines with "\r" or "\r\n"; a "<" is text, never markup.
        answer("OK");
        QCOMPARE(dz::ui::xw_wr_message(dz::ui::kInfo, "Unable to open\r<b>x.txt</b>.\r\rIs it\r\nOK?"), 1);
        QCOMPARE(shown, QStringLiteral("Unable to open\n<b>x.txt</b>.\n\nIs it\nOK?"));
        // The desktop has no command to run again: it says what to do in its own words, from the
        // step itself, whatever the command line's words are.
        struct CommandLineWordsChanged {
            CommandLineWordsChanged() {
                dz::ui::set_message_filler([](int number, const std::vector<std::string>& values) {
                    if (number >= 13340 && number < 13349) return std::string("COMMAND LINE WORDS");
                    return dz::xvl::xvlRCString::Table().get(number, {values.begin(), values.end()});
                });
            }
            ~CommandLineWordsChanged() {
                dz::ui::set_message_filler([](int number, const std::vector<std::string>& values) {
                    return dz::xvl::xvlRCString::Table().get(number, {values.begin(), values.end()});
                });
            }
        } changed;
        const dz::ui::NextStep wait{dz::ui::Step::AgainWhenFinished, {"process 4711 of user dzua"}};
        answer("OK");
        dz::ui::xw_wr_message(dz::ui::kError, "GL Master file is being used by another user or another conversion", wait);
        // The cause's paragraph ends as a sentence in a box, though its text has no full stop.
        QCOMPARE(shown, QStringLiteral("GL Master file is being used by another user or another conversion.\n\n"
                                       "Wait until process 4711 of user dzua has finished, then choose Convert again."));
        QCOMPARE(QString::fromStdString(dz::ui::with_step("x", wait, dz::ui::Voice::CommandLine)),
                 QStringLiteral("x\rNext: COMMAND LINE WORDS"));
        // Escape gives the box's last answer: cancel for OK-to-skip, no for yes/no.
        ui.setModalHook([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
        QCOMPARE(dz::ui::xw_wr_message(dz::ui::kOkToSkip, "OK to skip?"), 4);
        QCOMPARE(dz::ui::xw_wr_message(dz::ui::kYesNo, "Sure?"), 2);
    }

    // Window > Tile in a main window too small for a panel leaves the panel whole, its buttons
    // in it, and the area scrolls to them; so too once its procedure made it larger.
    void tiledPanelStaysWhole() {
        QTemporaryDir dir;
        const int file = openFormScreen(dir);
        QtUi ui;
        showMainWindow(ui);
        const UiInForce inForce;
        const int h = dz::ui::xw_show_panel(file, "TEST", "FORM", {}, nullptr);
        dz::ui::xw_open_window("Rows", 6, 20, {}, nullptr);
        PanelWidget* pw = ui.panelWidget(h);
        QMdiArea* area = ui.mainWindow()->mdiArea();
        ui.mainWindow()->resize(300, 200);
        QCoreApplication::processEvents();
        auto tiledWhole = [&] {
            area->tileSubWindows();
            QCoreApplication::processEvents();
            return pw->height() >= pw->sizeHint().height() && pw->width() >= pw->sizeHint().width() &&
                   pw->rect().contains(pw->button(1)->geometry());
        };
        QVERIFY(tiledWhole());
        QVERIFY(area->verticalScrollBar()->maximum() > 0);
        dz::ui::xw_find_panel(h)->resize(16, 40);
        dz::ui::xw_refresh();
        QVERIFY(tiledWhole());
        dz::ui::xw_cls_screen_file(file);
    }

    // Alt and a letter do one thing: the menu bar's titles have a letter each (Tasks and Tools
    // no longer share T), so have each menu's entries, and a panel shown while a command runs
    // gives its buttons letters that neither the menus still open nor its other buttons have.
    // Entries of one menu that would share a key get keys of their own, the first keeping its
    // own; a separator takes none.
    void clashingEntriesGetKeysOfTheirOwn() {
        QAction save(QStringLiteral("&Save")), separator, saveAs(QStringLiteral("&Save As..."));
        separator.setSeparator(true);
        dz::gui::uniqueMnemonics({&save, &separator, &saveAs});
        QCOMPARE(save.text(), QStringLiteral("&Save"));
        QCOMPARE(saveAs.text(), QStringLiteral("Save &As..."));
        QVERIFY(separator.text().isEmpty());
    }

    void oneKeyPerMnemonic() {
        QTemporaryDir dir;
        std::ofstream(dir.filePath("KEYS.toml").toStdString()) << R"(
[[panel]]
screen = "KEYS"
name = "FORM"
rows = 6
cols = 50
events = "command"
button = [ { number = 1, label = "~Help", row = 2, col = 2, width = 10 },
           { number = 2, label = "~Hold", row = 2, col = 14, width = 10 },
           { number = 3, label = "~Edit", row = 2, col = 26, width = 10 },
           { number = 4, label = "~Window", row = 4, col = 2, width = 10 } ]
)";
        dz::ui::set_screens_folder(dir.path().toStdString());
        const int file = dz::ui::xw_open_screen_file("KEYS");
        dz::ui::zqApplication app("RA Dodedoz", "XV", "20.3.1", "17.1.0");
        dz::ui::MainWindowDef def;
        def.title = "RA Dodedoz";
        def.items = {{"Tasks", "&Examine Files...", 3010, "", false},
                     {"Tasks", "&Convert...", 3020, "", false},
                     {"Tasks", "Convert &Again...", 3040, "", false},
                     {"Setup", "&Substitution Tables...", 4010, "", false}};
        QtUi ui;
        dz::ui::set_current(&ui);
        ui.create_main_window(def);
        ui.show_main_window();
        const UiInForce inForce;
        MainWindow* w = ui.mainWindow();
        auto keys = [](const QList<QAction*>& actions) {
            QString letters;
            for (QAction* a : actions)
                if (!a->isSeparator()) letters += dz::gui::mnemonicOf(a->text());
            return letters;
        };
        auto distinct = [](const QString& letters) {
            return !letters.contains(QChar()) && QSet<QChar>(letters.begin(), letters.end()).size() == letters.size();
        };
        const QString bar = keys(w->menuBar()->actions());
        QVERIFY2(distinct(bar), qPrintable(bar));
        for (QAction* m : w->menuBar()->actions()) {
            m->menu()->aboutToShow();  // the Window menu is made as it opens
            const QString entries = keys(m->menu()->actions());
            QVERIFY2(distinct(entries), qPrintable(m->text() + ": " + entries));
        }
        QCOMPARE(keys(w->menu("Tasks")->actions()), QStringLiteral("eca"));
        // Its own letter taken, an entry takes the first free letter starting one of its words.
        QString taken = QStringLiteral("s");
        QCOMPARE(dz::gui::uniqueMnemonic(QStringLiteral("Save Table Group As..."), taken),
                 QStringLiteral("Save &Table Group As..."));
        QCOMPARE(taken, QStringLiteral("st"));

        QString open, buttons;
        app.AddTask(std::make_unique<ProbeTask>("Probe", 3030, [&] {
            for (QAction* a : w->menuBar()->actions())
                if (a->isEnabled()) open += dz::gui::mnemonicOf(a->text());
            const int h = dz::ui::xw_show_panel(file, "KEYS", "FORM", {}, nullptr);
            for (int n = 1; n <= 4; ++n) buttons += dz::gui::mnemonicOf(ui.panelWidget(h)->button(n)->text());
            dz::ui::xw_close_panel(h);
        }));
        w->runCommand(3030);
        QCOMPARE(open, QStringLiteral("felwh"));
        QVERIFY2(distinct(buttons), qPrintable(buttons));
        for (QChar c : buttons) QVERIFY2(!open.contains(c), qPrintable(buttons));
        dz::ui::xw_cls_screen_file(file);
    }

    // Window > Tile with panels and a report open: every window lies whole in the area, the
    // panels at their own size and the report, with its Print and Close buttons, beside or
    // below them.
    void tileKeepsEveryWindowsButtonsInView() {
        QTemporaryDir dir;
        const int file = openFormScreen(dir);
        QtUi ui;
        showMainWindow(ui);
        const UiInForce inForce;
        ui.mainWindow()->resize(1000, 700);
        QCoreApplication::processEvents();
        const int form = dz::ui::xw_show_panel(file, "TEST", "FORM", {}, nullptr);
        dz::ui::xw_open_window("Text Files", 6, 60, {}, nullptr);
        std::vector<std::string> lines(200, std::string(132, '-'));
        QVERIFY(ui.show_report(dz::ui::ReportDocument{"Conversion Report", 132, lines}));
        QMdiArea* area = ui.mainWindow()->mdiArea();
        QAction* tile = nullptr;
        ui.mainWindow()->menu("Window")->aboutToShow();
        for (QAction* a : ui.mainWindow()->menu("Window")->actions())
            if (a->text() == QStringLiteral("&Tile")) tile = a;
        QVERIFY(tile);
        tile->trigger();
        QCoreApplication::processEvents();
        const QRect room = area->viewport()->rect();
        const auto subs = area->subWindowList();
        QCOMPARE(subs.size(), qsizetype{3});
        for (QMdiSubWindow* sub : subs) {
            QVERIFY2(room.contains(sub->geometry()),
                     qPrintable(QStringLiteral("%1 at %2,%3 %4x%5 in %6x%7")
                                    .arg(sub->windowTitle()).arg(sub->x()).arg(sub->y()).arg(sub->width())
                                    .arg(sub->height()).arg(room.width()).arg(room.height())));
            const auto buttons = sub->widget()->findChildren<QPushButton*>();
            for (QPushButton* b : buttons) {
                if (!b->isVisible()) continue;
                const QRect at(b->mapTo(area->viewport(), QPoint(0, 0)), b->size());
                QVERIFY2(room.contains(at), qPrintable(b->text()));
                // No other window lies over it.
                QVERIFY2(area->viewport()->childAt(at.center()) && sub->isAncestorOf(area->viewport()->childAt(at.center())),
                         qPrintable(b->text()));
            }
        }
        // The panel keeps its size: nothing of it is cut.
        PanelWidget* pw = ui.panelWidget(form);
        QVERIFY(pw->width() >= pw->sizeHint().width() && pw->height() >= pw->sizeHint().height());
        dz::ui::xw_cls_screen_file(file);
    }

    // File > Open Company... closes the report windows of the company open before; a folder
    // refused, or the same company again, leaves them.
    void openCompanyClosesTheReportsOfTheCompanyBefore() {
#ifndef DZ_CLI_BIN
        QSKIP("dodedoz-cli is not built");
#else
        QTemporaryDir scratch;
        const QString first = scratch.filePath(QStringLiteral("first")), second = scratch.filePath(QStringLiteral("second"));
        initCompanies({first, second});
        if (QTest::currentTestFailed()) return;
        QtUi ui;
        showMainWindow(ui);
        const UiInForce inForce;
        ui.setModalHook([](QWidget* w) { clickButton(w, QStringLiteral("OK")); });
        QVERIFY(dz::gui::switchCompany(first.toStdString(), ui.mainWindow()));
        QVERIFY(ui.show_report(dz::ui::ReportDocument{"Conversion Report", 132, {"of the first company"}}));
        auto reports = [&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            int n = 0;
            for (QMdiSubWindow* sub : ui.mainWindow()->mdiArea()->subWindowList())
                if (qobject_cast<dz::gui::ReportViewer*>(sub->widget()) && sub->isVisible()) ++n;
            return n;
        };
        QVERIFY(!dz::gui::switchCompany(scratch.filePath(QStringLiteral("none")).toStdString(), ui.mainWindow()));
        QCOMPARE(reports(), 1);
        QVERIFY(dz::gui::switchCompany(first.toStdString(), ui.mainWindow()));
        QCOMPARE(reports(), 1);
        QVERIFY(dz::gui::switchCompany(second.toStdString(), ui.mainWindow()));
        QCOMPARE(reports(), 0);
        dz::suite::close_company();
#endif
    }

    // A cell's value is shown with its control characters written out, and an edit of that form
    // keeps the bytes of what was left as it was and takes what was typed as typed.
    void anEditedCellKeepsItsEscapedBytes() {
        using dz::gui::editedBack;
        const std::string esc = "A\x1b[2JZ";
        QCOMPARE(editedBack(esc, "A\\033[2JZ"), esc);             // untouched
        QCOMPARE(editedBack(esc, "A\\033[2JZB"), esc + "B");      // typed after it
        QCOMPARE(editedBack(esc, "xA\\033[2JZ"), "x" + esc);      // typed before it
        QCOMPARE(editedBack(esc, "A[2JZ"), std::string("A[2JZ"));  // the escape deleted
        QCOMPARE(editedBack(esc, "A\\03[2JZ"), std::string("A\\03[2JZ"));  // half an escape is text
        QCOMPARE(editedBack("A", "A\\033"), std::string("A\\033"));  // four characters typed stay four
        QCOMPARE(editedBack("\x1b\x1b", "\\033"), std::string("\x1b"));  // one of two deleted
    }

    // Enter in a typed field answers a read as the panel's first button (OK) does, with what
    // was typed; with that button off, it answers nothing.
    void enterInATypedFieldAnswersTheRead() {
        QTemporaryDir dir;
        const int file = openFormScreen(dir);
        QtUi ui;
        showMainWindow(ui);
        const UiInForce inForce;
        const int h = dz::ui::xw_show_panel(file, "TEST", "FORM", {}, nullptr);
        ui.setModalHook([](QWidget* w) {
            auto* name = qobject_cast<QLineEdit*>(qobject_cast<PanelWidget*>(w)->fieldWidget(1));
            name->setFocus();
            name->setText(QStringLiteral("ACME"));
            QTest::keyClick(name, Qt::Key_Return);
            // A read that Enter left waiting is escaped rather than waited on.
            QTimer::singleShot(1000, w, [w] { QTest::keyClick(w, Qt::Key_Escape); });
        });
        QCOMPARE(dz::ui::xw_rd_panel(h), (dz::ui::PanelMessage{dz::ui::kMsgCommand, dz::ui::kKeyEnter, 1}));
        QCOMPARE(dz::ui::xw_find_panel(h)->text(1), std::string("ACME"));
        dz::ui::xw_find_panel(h)->enable_button(1, false);
        QCOMPARE(dz::ui::xw_rd_panel(h).msg, dz::ui::kMsgEscape);
        dz::ui::xw_close_panel(h);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        dz::ui::xw_cls_screen_file(file);
    }

    void onlyAPanelWithAScrollThumbScrolls() {
        QtUi ui;
        dz::ui::set_current(&ui);
        const UiInForce inForce;
        std::vector<dz::ui::PanelMessage> seen;
        int h = dz::ui::xw_open_window("Rows", 6, 20, [&seen](dz::ui::Panel&, const dz::ui::PanelMessage& m) {
            seen.push_back(m);
            return 1;
        }, nullptr);
        dz::ui::Panel* p = dz::ui::xw_find_panel(h);
        for (int r = 1; r <= 8; ++r) {
            if (r > p->rows()) p->resize(r, p->cols());
            p->write_text(r, 1, "row " + std::to_string(r));
        }
        dz::ui::xw_refresh();
        seen.clear();  // its opening
        PanelWidget* pw = ui.panelWidget(h);
        // Made taller by its procedure without a thumb: every row shown, no scroll bar.
        QVERIFY(!pw->scrolls());
        QCOMPARE(pw->visibleRows(), 8);
        QVERIFY(!pw->scrollBar() || !pw->scrollBar()->isVisibleTo(pw));
        QTest::keyClick(pw, Qt::Key_Down);
        dz::ui::xw_dispatch_messages();
        QVERIFY(seen.empty());
        // A thumb of 5/8 (62 percent, rounded) shows five rows from its position on, no further
        // than the last row allows.
        p->set_scroll(62, 2);
        dz::ui::xw_refresh();
        QVERIFY(pw->scrolls());
        QCOMPARE(pw->visibleRows(), 5);
        QCOMPARE(pw->firstVisibleRow(), 2);
        QCOMPARE(pw->scrollBar()->maximum(), 4);
        QCOMPARE(pw->scrollBar()->value(), 2);
        p->set_scroll(62, 7);
        dz::ui::xw_refresh();
        QCOMPARE(pw->firstVisibleRow(), 4);
        // A thumb as large as the window's described height never shows more than that height.
        p->set_scroll(99, 1);
        dz::ui::xw_refresh();
        QCOMPARE(pw->visibleRows(), 6);
        // The keys and the bar reach the procedure as scroll messages (no procedure change here:
        // the position stays where the procedure keeps it).
        seen.clear();
        QTest::keyClick(pw, Qt::Key_PageDown);
        pw->scrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
        QCOMPARE(seen, (std::vector<dz::ui::PanelMessage>{{dz::ui::kMsgScrollKey, 14, 0}, {dz::ui::kMsgScrollTo, 3, 0}}));
        QCOMPARE(pw->firstVisibleRow(), 1);
        QCOMPARE(pw->scrollBar()->value(), 1);
        dz::ui::xw_close_panel(h);
    }

    void recordPickerChoosersAndReports() {
        QtUi ui;
        showMainWindow(ui);

        // A panel hidden and shown again by its procedure stays an MDI child.
        int hidden = dz::ui::xw_open_window("Later", 4, 20, {}, nullptr);
        QWidget* box = ui.container(ui.panelWidget(hidden));
        QVERIFY(qobject_cast<QMdiSubWindow*>(box));
        dz::ui::xw_find_panel(hidden)->set_hidden(true);
        dz::ui::xw_refresh();
        QVERIFY(!box->isVisible());
        dz::ui::xw_find_panel(hidden)->set_hidden(false);
        dz::ui::xw_refresh();
        QVERIFY(box->isVisible());
        QCOMPARE(box->windowTitle(), QStringLiteral("Later"));
        dz::ui::xw_close_panel(hidden);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(ui.mainWindow()->mdiArea()->subWindowList().isEmpty());

        // A panel shown inside another sits below it and closes with it.
        int outer = dz::ui::xw_open_window("Outer", 6, 30, {}, nullptr);
        QTemporaryDir screens;
        {
            std::ofstream(screens.filePath("INNER.toml").toStdString())
                << "[[panel]]\nscreen = \"TEST\"\nname = \"INNER\"\ntitle = \"Files\"\nrows = 3\ncols = 30\n";
        }
        dz::ui::set_screens_folder(screens.path().toStdString());
        int innerFile = dz::ui::xw_open_screen_file("INNER");
        int child = dz::ui::xw_show_child_panel(outer, innerFile, "TEST", "INNER", {}, nullptr);
        QVERIFY(child != 0);
        QWidget* outerBox = ui.container(ui.panelWidget(outer));
        QWidget* childBox = ui.container(ui.panelWidget(child));
        QCOMPARE(childBox->x(), outerBox->x());
        QCOMPARE(childBox->y(), outerBox->y() + outerBox->frameGeometry().height());
        dz::ui::xw_close_panel(outer);
        QVERIFY(!ui.panelWidget(child));
        dz::ui::xw_cls_screen_file(innerFile);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        // Record picker: the second row picked; then cancelled.
        dz::ui::RecordList list{"Table groups", {"Group"}, {{"ALPHA"}, {"BETA"}, {"GAMMA"}}, 0};
        ui.setModalHook([](QWidget* w) {
            auto* table = w->findChild<QTableWidget*>();
            QVERIFY(table);
            QCOMPARE(table->rowCount(), 3);
            QCOMPARE(table->item(1, 0)->text(), QStringLiteral("BETA"));
            table->selectRow(1);
            qobject_cast<QDialog*>(w)->accept();
        });
        QCOMPARE(dz::ui::xl_list_records(list), 2);
        ui.setModalHook([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
        QCOMPARE(dz::ui::xl_list_records(list), 0);

        // File chooser: two existing files chosen, in order; a cancel chooses nothing.
        QTemporaryDir dir;
        for (const char* name : {"a.txt", "b.txt"}) std::ofstream(dir.filePath(name).toStdString()) << "#\n";
        dz::ui::FileChooser request;
        request.title = "Select Text Files";
        request.filters = {{"Text Files", "txt"}, {"All Files", "*"}};
        request.initial_folder = dir.path().toStdString();
        ui.setModalHook([&dir](QWidget* w) {
            auto* fd = qobject_cast<QFileDialog*>(w);
            QVERIFY(fd);
            QCOMPARE(fd->fileMode(), QFileDialog::ExistingFiles);
            QCOMPARE(fd->nameFilters().first(), QStringLiteral("Text Files (*.txt)"));
            fd->selectFile(QStringLiteral("\"a.txt\" \"b.txt\""));
            static_cast<QDialog*>(fd)->accept();
        });
        std::vector<std::string> chosen;
        QCOMPARE(dz::ui::zqfdlgFileChooseMany(request, chosen), 0);
        QCOMPARE(chosen.size(), size_t{2});
        QVERIFY(QString::fromStdString(chosen[0]).endsWith("a.txt"));
        QVERIFY(QString::fromStdString(chosen[1]).endsWith("b.txt"));
        ui.setModalHook([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
        QVERIFY(dz::ui::zqfdlgFileChooseMany(request, chosen) != 0);
        QVERIFY(chosen.empty());

        // A report to the screen: an MDI child in a monospace font, a page break as a rule
        // across the report between blank lines.
        dz::ui::ReportDocument report{"Conversion Report", 132, {"Page 1", "line", "\fPage 2"}};
        QVERIFY(ui.show_report(report));
        auto subs = ui.mainWindow()->mdiArea()->subWindowList();
        QCOMPARE(subs.size(), qsizetype{1});
        auto* viewer = qobject_cast<dz::gui::ReportViewer*>(subs[0]->widget());
        QVERIFY(viewer);
        QCOMPARE(viewer->windowTitle(), QStringLiteral("Conversion Report"));
        QCOMPARE(viewer->pager()->rowsText(0, 99), QStringLiteral("Page 1\nline\n\n%1\n\nPage 2").arg(QString(132, QLatin1Char('='))));
        QVERIFY(evenAdvances(viewer->pager()->font()));
        // Sized for its 132 columns as far as the main window allows, not to its buttons.
        QVERIFY(subs[0]->width() > ui.mainWindow()->mdiArea()->viewport()->width() / 2);
    }

    // A company folder that is not there, may not be read, or is no company is refused in the
    // desktop's own words for each cause, never with the command line's instruction.
    void companyFoldersRefusedByTheirCause() {
#ifndef DZ_CLI_BIN
        QSKIP("dodedoz-cli is not built");
#else
        QTemporaryDir scratch;
        QVERIFY(::chmod(scratch.path().toLocal8Bit().constData(), 0755) == 0);
        const QString company = scratch.filePath(QStringLiteral("co"));
        const QString locked = scratch.filePath(QStringLiteral("locked"));
        for (const QString& dir : {company, locked}) {
            QProcess init;
            init.start(QStringLiteral(DZ_CLI_BIN), {QStringLiteral("company"), QStringLiteral("init"), dir});
            QVERIFY(init.waitForFinished(60000));
            QCOMPARE(init.exitCode(), 0);
        }
        QVERIFY(::chmod(locked.toLocal8Bit().constData(), 0700) == 0);
        QVERIFY(QDir().mkpath(scratch.filePath(QStringLiteral("plain"))));
        std::ofstream(scratch.filePath(QStringLiteral("file.txt")).toStdString()) << "x\n";

        // The refusal as a user other than the folder's owner sees it: root reads every folder,
        // so the look is made by a child that has become nobody.
        auto asAnotherUser = [](const std::string& folder) -> std::string {
            if (::geteuid() != 0) {
                ::chmod(folder.c_str(), 0);
                std::string why = dz::gui::companyFolderRefusal(folder);
                ::chmod(folder.c_str(), 0700);
                return why;
            }
            return dz::testing_support::AnswerAs(65534, 65534, [&] { return dz::gui::companyFolderRefusal(folder); });
        };
        struct Case {
            QString folder;
            bool anotherUser;
            const char* cause;
        } cases[] = {
            {scratch.filePath(QStringLiteral("missing")), false, "the folder was not found"},
            {locked, true, "permission denied"},
            {scratch.filePath(QStringLiteral("plain")), false, "it is not a company folder"},
            {scratch.filePath(QStringLiteral("file.txt")), false, "it is not a company folder"},
        };
        for (const Case& c : cases) {
            const std::string folder = c.folder.toStdString();
            const QString why = QString::fromStdString(c.anotherUser ? asAnotherUser(folder)
                                                                     : dz::gui::companyFolderRefusal(folder));
            QVERIFY2(why.startsWith(QStringLiteral("Unable to open the company in %1: %2").arg(c.folder, c.cause)),
                     qPrintable(why));
            QVERIFY2(!why.contains(QLatin1String("dodedoz-cli")), qPrintable(why));
        }
        QCOMPARE(dz::gui::companyFolderRefusal(company.toStdString()), std::string());

        // Named at the start or in Open Company..., the refusal is the box the person reads.
        QtUi ui;
        showMainWindow(ui);
        QString said;
        ui.setModalHook([&said](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            said = box->text();
            box->defaultButton()->click();
        });
        QVERIFY(!dz::gui::openCompany(scratch.filePath(QStringLiteral("plain")).toStdString()));
        QVERIFY2(said.contains(QLatin1String("it is not a company folder")), qPrintable(said));
        QVERIFY(!dz::suite::current_company());
        QVERIFY(dz::gui::openCompany(company.toStdString()));
        dz::suite::close_company();
#endif
    }

    void reportFilesSayWhereTheyWentAndTheCompanyStaysShown() {
#ifndef DZ_CLI_BIN
        QSKIP("dodedoz-cli is not built");
#else
        QTemporaryDir scratch;
        QDir dir(scratch.filePath(QStringLiteral("co")));
        QProcess init;
        init.start(QStringLiteral(DZ_CLI_BIN), {QStringLiteral("company"), QStringLiteral("init"), dir.path()});
        QVERIFY(init.waitForFinished(60000));
        QCOMPARE(init.exitCode(), 0);
        dz::suite::open_company(dir.path().toStdString());
        QtUi ui;
        showMainWindow(ui);
        ui.mainWindow()->setCompanyText(QStringLiteral("Company: ") + dir.path());

        // The hub proposes the report in the report folder, and a name typed alone goes there.
        dz::ui::run_state().report_folder = dir.path().toStdString();
        QCOMPARE(QString::fromStdString(dz::ui::default_report_file("examine files report")),
                 dir.filePath(QStringLiteral("examine_files_report.txt")));
        QCOMPARE(QString::fromStdString(dz::ui::report_file_path("r.txt")), dir.filePath(QStringLiteral("r.txt")));
        QCOMPARE(QString::fromStdString(dz::ui::report_file_path("/elsewhere/r.txt")), QStringLiteral("/elsewhere/r.txt"));

        // A report written to a file opens, showing where it is, in the viewer and the status bar.
        const std::string path = dir.filePath(QStringLiteral("report.txt")).toStdString();
        const int print = dz::ui::xp_open_print(dz::ui::PrintDef{"Examine Files Report", 132, 1, 0},
                                                dz::ui::Destination::File, path);
        QVERIFY(print != 0);
        dz::ui::xp_put_field(print, 0, 20, 0, "Examining");
        QCOMPARE(dz::ui::xp_wr_line(print, 1, 0, 0), 0);
        QCOMPARE(dz::ui::xp_close_print(print), 0);
        const auto subs = ui.mainWindow()->mdiArea()->subWindowList();
        QCOMPARE(subs.size(), qsizetype{1});
        auto* viewer = qobject_cast<dz::gui::ReportViewer*>(subs[0]->widget());
        QVERIFY(viewer);
        QCOMPARE(viewer->path(), QString::fromStdString(path));
        // The print kept no lines of the file: the viewer shows what the file holds, read from it.
        QVERIFY(dz::ui::all_lines(viewer->report()) == std::vector<std::string>{"Examining"});
        QCOMPARE(viewer->pager()->rowsText(0, 99), QStringLiteral("Examining"));
        QVERIFY(viewer->findChild<QLabel*>(QStringLiteral("reportPath"))->text().contains(QString::fromStdString(path)));
        QVERIFY(ui.mainWindow()->statusBar()->currentMessage().contains(QString::fromStdString(path)));
        // The folder is kept for the company's next session.
        QCOMPARE(dz::gui::rememberedReportFolder(QString::fromStdString(
                     std::filesystem::absolute(dir.path().toStdString()).lexically_normal().string())),
                 dir.path());
        // Messages come and go in the status bar; the company stays.
        dz::ui::x_update_task("Saving");
        QCOMPARE(ui.mainWindow()->companyText(), QStringLiteral("Company: ") + dir.path());
        // Escape closes the report as its Close button does.
        subs[0]->setFocus();
        QTest::keyClick(viewer, Qt::Key_Escape);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(ui.mainWindow()->mdiArea()->subWindowList().isEmpty());
        dz::ui::run_state().report_folder.clear();
        dz::suite::close_company();
#endif
    }

    // File > Print... (Ctrl+P) prints the report on screen; its dialog proposes a file in the
    // company's report folder. Without a report it says so.
    void printMenuPrintsTheReportOnScreen() {
        QTemporaryDir folder;
        dz::ui::run_state().report_folder = folder.path().toStdString();
        QtUi ui;
        showMainWindow(ui);
        QAction* print = nullptr;
        for (QAction* a : ui.mainWindow()->menu("File")->actions())
            if (a->text() == QStringLiteral("&Print...")) print = a;
        QVERIFY(print);
        QCOMPARE(print->shortcut(), QKeySequence(QKeySequence::Print));
        QStringList proposed;
        ui.setModalHook([&proposed](QWidget* w) {
            auto* dialog = qobject_cast<QPrintDialog*>(w);
            QVERIFY(dialog);
            auto* file = dialog->findChild<QLineEdit*>(QStringLiteral("filename"));
            proposed << (file ? file->text() : QString());
            dialog->reject();
        });
        print->trigger();
        QVERIFY(proposed.isEmpty());
        QVERIFY(ui.mainWindow()->statusBar()->currentMessage().contains(QLatin1String("No report")));
        QVERIFY(ui.show_report(dz::ui::ReportDocument{"Conversion Report", 132, {"line"}}));
        print->trigger();
        QCOMPARE(proposed, QStringList{QDir(folder.path()).filePath(QStringLiteral("conversion_report.pdf"))});
        dz::ui::run_state().report_folder.clear();
    }

    // After another company is opened, the file chooser starts in its folder, not where it was
    // last used in the company before.
    void chooserFollowsTheOpenCompany() {
#ifndef DZ_CLI_BIN
        QSKIP("dodedoz-cli is not built");
#else
        QTemporaryDir scratch;
        const QString first = scratch.filePath(QStringLiteral("first")), second = scratch.filePath(QStringLiteral("second"));
        initCompanies({first, second});
        if (QTest::currentTestFailed()) return;
        QVERIFY(QDir(first).mkpath(QStringLiteral("texts")));
        std::ofstream(QDir(first).filePath(QStringLiteral("texts/a.txt")).toStdString()) << "#\n";
        QtUi ui;
        showMainWindow(ui);
        dz::ui::FileChooser request;
        request.title = "Select Text Files";
        request.filters = {{"Text Files", "txt"}};
        QString startedIn;
        ui.setModalHook([&startedIn](QWidget* w) {
            auto* fd = qobject_cast<QFileDialog*>(w);
            QVERIFY(fd);
            startedIn = fd->directory().absolutePath();
            if (!fd->directory().exists(QStringLiteral("a.txt"))) return fd->reject();
            fd->selectFile(QStringLiteral("a.txt"));
            static_cast<QDialog*>(fd)->accept();
        });
        std::vector<std::string> chosen;
        dz::suite::open_company(first.toStdString());
        request.initial_folder = QDir(first).filePath(QStringLiteral("texts")).toStdString();
        QCOMPARE(dz::ui::zqfdlgFileChooseMany(request, chosen), 0);
        request.initial_folder.clear();
        QVERIFY(dz::ui::zqfdlgFileChooseMany(request, chosen) == 0);
        QCOMPARE(startedIn, QDir(first).filePath(QStringLiteral("texts")));  // where it was last used
        dz::suite::open_company(second.toStdString());
        dz::ui::zqfdlgFileChooseMany(request, chosen);
        QCOMPARE(startedIn, second);
        dz::suite::close_company();
#endif
    }

    void gridColumnsShareTheRoomSoNoneIsCut() {
        dz::ui::Grid g;
        dz::ui::GridColumn oldCol, newCol;
        oldCol.header = {"Old", "account"};
        oldCol.size = 40;
        oldCol.display_width = oldCol.header_width = 60;
        newCol.header = {"New", "account"};
        newCol.size = 15;
        newCol.display_width = newCol.header_width = 17;
        g.columns = {oldCol, newCol};
        g.set_lines({{"01-1-10-1000-00", "01-1-10-2000-00"}});
        // Room for both: the new column gets all it can show, the old one what is left.
        std::vector<int> w = dz::gui::gridColumnCells(g, 60);
        QCOMPARE(w[1], 19);
        QCOMPARE(w[0] + w[1], 60);
        // Little room: each as wide as its widest value, nothing more.
        w = dz::gui::gridColumnCells(g, 20);
        QCOMPARE(w[0], 17);
        QCOMPARE(w[1], 17);
    }

    // The row numbers of a grid of 100,000 lines are shown whole, the bold one of the cursor's
    // line too: the number column takes the room of the largest with some to spare.
    void gridRowNumbersShownWhole() {
        QtUi ui;
        dz::ui::set_current(&ui);
        const UiInForce inForce;
        const int h = dz::ui::xw_open_window("Rows", 20, 60, [](dz::ui::Panel&, const dz::ui::PanelMessage&) { return 1; },
                                             nullptr);
        dz::ui::Panel* p = dz::ui::xw_find_panel(h);
        dz::ui::Grid& g = p->attach_grid();
        dz::ui::GridColumn col;
        col.header = {"Old", "value"};
        col.size = col.display_width = col.header_width = 10;
        g.columns = {col};
        g.set_lines(std::vector<std::vector<std::string>>(100000, std::vector<std::string>{"V"}));
        g.structure_changed = g.dirty = true;
        g.set_cursor(99999, 0);
        dz::ui::xw_refresh();
        QHeaderView* rows = ui.panelWidget(h)->gridView()->verticalHeader();
        QFont bold = rows->font();
        bold.setBold(true);
        const int margin = rows->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, rows);
        const int text = static_cast<int>(std::ceil(QFontMetricsF(bold).horizontalAdvance(QStringLiteral("100000"))));
        QVERIFY2(rows->width() > text + 2 * margin,
                 qPrintable(QStringLiteral("%1 pixels for a number of %2").arg(rows->width()).arg(text)));
        dz::ui::xw_close_panel(h);
    }

    void reportPrintedToPdfPageByPage() {
        QTemporaryDir dir;
        int n = 0;
        // Prints `lines` to a PDF file and counts its pages.
        auto pagesOf = [&](std::vector<std::string> lines) {
            QString pdf = dir.filePath(QStringLiteral("report%1.pdf").arg(++n));
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            if (!dz::gui::printReport(dz::ui::ReportDocument{"Conversion Report", 132, std::move(lines)}, printer))
                return -1;
            QFile f(pdf);
            if (!f.open(QIODevice::ReadOnly)) return -1;
            QByteArray bytes = f.readAll();
            return static_cast<int>(bytes.count("/Type /Page")) - static_cast<int>(bytes.count("/Type /Pages"));
        };
        QCOMPARE(pagesOf({"one", "two"}), 1);
        QCOMPARE(pagesOf({"Page one", "\fPage two"}), 2);
        QCOMPARE(pagesOf({"\fPage one", "line"}), 1);  // a break at the top of a page adds none
        // A page that runs over continues on the next.
        std::vector<std::string> many(400, "line");
        QVERIFY(pagesOf(many) >= 3);
    }

    void progressPanelUpdatedAndStopped() {
        dz::ui::set_screens_folder(std::filesystem::path(DZ_SOURCE_DATA_DIR) / "screens");
        int file = dz::ui::xw_open_screen_file("XV");
        QVERIFY(file != dz::ui::kNoScreenFile);
        QtUi ui;
        dz::ui::set_current(&ui);
        int64_t now = 1000;
        double ticks = 0;  // the steady clock of drawing and polling
        using dz::convert::ConvertProgress;
        ConvertProgress progress([&now] { return now; }, [&ticks] { return ticks; });
        int h = dz::convert::ShowProgressPanel(progress, file, "CONVERT", "STATUSS");
        QVERIFY(h != 0);
        PanelWidget* pw = ui.panelWidget(h);
        QVERIFY(pw);
        QVERIFY(pw->progressBar());
        QCOMPARE(pw->progressBar()->value(), 0);

        progress.total_bytes = 1000;
        QVERIFY(progress.SetCurrentFile("/data/in/GLACCTS.TXT", "", false));
        QVERIFY(pw->rowText(2).contains("GLACCTS.TXT"));
        now += 65;
        ticks += ConvertProgress::kPollSeconds;
        QVERIFY(progress.SetPosition(10, 2, 40));
        QCOMPARE(pw->progressBar()->value(), 40);
        QCOMPARE(pw->rowText(5).mid(27, 1), QStringLiteral("8"));  // accepted = read - rejected
        QCOMPARE(pw->rowText(6).mid(27, 1), QStringLiteral("2"));
        QVERIFY(pw->rowText(8).contains("40% Complete"));
        QVERIFY(pw->rowText(8).contains("01:05"));

        // Stop asked and declined: the run goes on.
        int asked = 0;
        ui.setModalHook([&asked](QWidget* w) {
            ++asked;
            clickButton(w, "No");
        });
        // Closing the window by hand is a stop request like the Stop button; the window stays.
        // Records within a poll interval neither draw nor look at it (each look is a pass
        // through the toolkit's events, costlier than the record); the next look asks.
        ui.container(pw)->close();
        QVERIFY(ui.container(pw)->isVisible());
        for (uint32_t r = 11; r < 2000; ++r) QVERIFY(progress.SetPosition(r, 2, 50));
        QCOMPARE(asked, 0);
        QCOMPARE(pw->progressBar()->value(), 40);
        ticks += ConvertProgress::kPollSeconds;
        QVERIFY(progress.SetPosition(2000, 2, 60));
        QCOMPARE(asked, 1);
        QCOMPARE(pw->progressBar()->value(), 60);

        // Stop asked and confirmed: the next update answers false.
        ui.setModalHook([&asked](QWidget* w) {
            ++asked;
            QCOMPARE(qobject_cast<QMessageBox*>(w)->text(), QStringLiteral("OK to stop?"));
            clickButton(w, "Yes");
        });
        QTest::mouseClick(pw->button(1), Qt::LeftButton);
        ticks += ConvertProgress::kPollSeconds;
        QVERIFY(!progress.SetPosition(30, 2, 80));
        QCOMPARE(asked, 2);
        QVERIFY(progress.StopRequested());
        // With a stop pending, a further request asks nothing.
        QTest::mouseClick(pw->button(1), Qt::LeftButton);
        QVERIFY(!progress.SetStatusText("Closing", -1));
        QCOMPARE(asked, 2);

        dz::ui::xw_close_panel(h);
        dz::ui::xw_cls_screen_file(file);
    }
};

int runGuiTest(int argc, char** argv) {
    GuiTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "gui_test.moc"
