// The Convert and Examine Files commands run from the desktop, headless, on a company made as
// `dodedoz-cli company init` makes one, with the demo GL master file: the text files chosen in
// the file chooser, the hub with its list of text files started, the progress window, the
// closing message and the report in the viewer; then what the run left in the company and in
// the text file.
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QStatusBar>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QLineEdit>
#include <QCheckBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <grp.h>
#include <unistd.h>
#include <algorithm>
#include <cstdlib>
#include <vector>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "app/xv_app.h"
#include "gui/company_view.h"
#include "gui/main_window.h"
#include "gui/panel_widget.h"
#include "gui/qt_ui.h"
#include "gui/report_pager.h"
#include "immutable.h"
#include "gui/report_viewer.h"
#include "platform/suite/company.h"
#include "platform/ui/hub.h"
#include "platform/ui/panel.h"
#include "platform/ui/run_state.h"
#include "platform/ui/ui.h"
#include "as_user.h"
#include "old_journal.h"
#include "short_folder.h"

using dz::gui::PanelWidget;
using dz::gui::QtUi;

namespace {

const QString kSample = QStringLiteral(DZ_SOURCE_DATA_DIR "/samples/glm/demo-gl-master.txt");

QByteArray slurp(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every file under `folder`, by its path inside it, with its bytes. A data file's lock file
// ("<data file>-locks", made empty at the first lock taken and never holding data) is left out:
// examining a file locks its data files against a conversion running beside it.
std::map<QString, QByteArray> snapshot(const QString& folder);
// The paths of the files that differ between two snapshots (added, removed or changed).
QString differences(const std::map<QString, QByteArray>& a, const std::map<QString, QByteArray>& b) {
    QStringList out;
    for (const auto& [path, bytes] : a)
        if (!b.count(path) || b.at(path) != bytes) out << path;
    for (const auto& [path, bytes] : b)
        if (!a.count(path)) out << path;
    return out.join(QLatin1Char(' '));
}

std::map<QString, QByteArray> snapshot(const QString& folder) {
    std::map<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(QLatin1String("-locks")) && QFileInfo(path).size() == 0) continue;
        files[QDir(folder).relativeFilePath(path)] = slurp(path);
    }
    return files;
}

QString panelKey(const dz::ui::Panel& p) { return QString::fromStdString(p.def().screen + "/" + p.def().name); }

// While one stands, the progress window is handed to it at each change (to press its Stop).
class OnProgress {
public:
    using Action = std::function<void(PanelWidget*)>;
    explicit OnProgress(Action action) { current() = std::move(action); }
    ~OnProgress() { current() = {}; }
    static Action& current() {
        static Action action;
        return action;
    }
};

// While one stands, it is called when the file chooser comes, before the files are chosen.
class OnChooser {
public:
    explicit OnChooser(std::function<void()> action) { current() = std::move(action); }
    ~OnChooser() { current() = {}; }
    static std::function<void()>& current() {
        static std::function<void()> action;
        return action;
    }
};

// The desktop front end, watched: the panels it showed and how far a progress bar went.
class WatchedUi : public QtUi {
public:
    void panel_opened(dz::ui::Panel& panel) override {
        shown << panelKey(panel);
        QtUi::panel_opened(panel);
    }
    void panel_changed(dz::ui::Panel& panel) override {
        QtUi::panel_changed(panel);
        if (PanelWidget* w = panelWidget(panel.handle()); w && w->progressBar()) {
            progress = std::max(progress, w->progressBar()->value());
            statuses << QString::fromStdString(panel.text_at(1, 12, 40));
            if (const auto* b = panel.button(1)) lastButton = QString::fromStdString(b->def.label);
            accepted = QString::fromStdString(panel.text_at(5, 28, 10)).trimmed();
            complete = QString::fromStdString(panel.text_at(8, 3, 15)).trimmed();
            noted = QString::fromStdString(panel.text_at(5, 62, 9)).trimmed();
            if (OnProgress::current()) OnProgress::current()(w);
        }
    }
    QStringList shown;
    int progress = -1;
    QStringList statuses;  // the progress window's status line, as it changed
    QString lastButton;    // its button's label when it last changed
    QString accepted;      // its records accepted (one text file) when it last changed
    QString complete;      // how far it said it went (one text file) when it last changed
    QString noted;         // its messages and notes (one text file) when it last changed
};

// What a person saw of one command.
struct Seen {
    int choosers = 0;
    QStringList reads;      // panels read modally
    QStringList messages;   // message boxes, as shown
    QStringList listed;     // the hub's list of text files, the rows in view
    bool listScrolls = true;
    QStringList shown;      // every panel shown
    int progress = -1;      // the farthest a progress bar went
    QStringList statuses;   // the progress window's status lines
    QString lastButton;     // the label its button had at the end
    QString accepted;       // the records accepted it showed at the end (one text file)
    QString complete;       // how far it said it went at the end (one text file)
    QString noted;          // the messages and notes it counted at the end (one text file)
    QStringList reports;    // the report viewers' texts
    int panelsLeft = -1;    // panels still open afterwards
    QStringList printFiles; // the file a print dialog proposed, each time one came (then cancelled)
    QString companyShown;   // the company the status bar showed at the end ("" none)
};

// Acts on the hub once it is read: `hub` and the list of text files beside it.
using HubAction = std::function<void(PanelWidget* hub, PanelWidget* list)>;

// Sends the report to the screen and starts the run.
void startToScreen(PanelWidget* hub, PanelWidget*) {
    auto radios = hub->fieldWidget(dz::ui::kHubDestinationField)->findChildren<QRadioButton*>();
    QCOMPARE(radios.size(), qsizetype{3});
    QCOMPARE(radios[1]->text(), QStringLiteral("Screen"));
    radios[1]->setChecked(true);
    QTest::mouseClick(hub->button(dz::ui::kHubStartButton), Qt::LeftButton);
}

// Acts on a panel other than the hub when it is read; false leaves it to be escaped.
using PanelAction = std::function<bool(PanelWidget*)>;

// Runs the Tasks menu's entry `entry` on the company in `company`, the person choosing `names`
// in `folder` and acting on the hub with `onHub` and on other panels with `onPanel`. Every
// message box is answered with its default button; any other panel read is escaped. A valid
// `mainSize` is the main window's size when the command starts.
void runFromTheMenu(const QString& company, const QString& entry, const QString& folder, const QStringList& names,
                    const HubAction& onHub, Seen& seen, const PanelAction& onPanel = {}, QSize mainSize = {}) {
    dz::suite::open_company(company.toStdString());
    WatchedUi ui;
    dz::ui::set_current(&ui);
    // However this ends, the panels close and the front end is removed before it goes.
    struct InForce {
        ~InForce() {
            dz::ui::reset_panels();
            dz::ui::set_current(nullptr);
        }
    } inForce;
    dz::app::AppEnvironment env = dz::app::AppEnvironment::standard();
    env.screens_folder = std::filesystem::path(DZ_SOURCE_DATA_DIR) / "screens";
    dz::app::CXVApp app(env);
    QVERIFY(app.InitInstance());
    ui.setModalHook([&](QWidget* w) {
        if (auto* chooser = qobject_cast<QFileDialog*>(w)) {
            ++seen.choosers;
            if (OnChooser::current()) OnChooser::current()();
            chooser->setDirectory(folder);
            QStringList quoted;
            for (const QString& n : names) quoted << QLatin1Char('"') + n + QLatin1Char('"');
            chooser->selectFile(quoted.join(QLatin1Char(' ')));
            static_cast<QDialog*>(chooser)->accept();
            if (chooser->isVisible()) chooser->reject();  // a name it refused: cancel, never wait
            return;
        }
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            seen.messages << box->text();
            box->defaultButton()->click();
            return;
        }
        if (auto* print = qobject_cast<QPrintDialog*>(w)) {
            auto* file = print->findChild<QLineEdit*>(QStringLiteral("filename"));
            seen.printFiles << (file ? file->text() : QString());
            print->reject();
            return;
        }
        auto* panel = qobject_cast<PanelWidget*>(w);
        QVERIFY(panel);
        seen.reads << panelKey(panel->panel());
        if (panel->panel().def().name != "HUB") {
            if (!onPanel || !onPanel(panel)) QTest::keyClick(panel, Qt::Key_Escape);
            return;
        }
        [&] {
            PanelWidget* list = nullptr;
            for (dz::ui::Panel* p : dz::ui::open_panels())
                if (p->parent() == panel->handle()) list = ui.panelWidget(p->handle());
            QVERIFY(list);
            seen.listScrolls = list->scrolls();
            for (int i = 0; i < list->visibleRows(); ++i)
                seen.listed << list->rowText(list->firstVisibleRow() + i).trimmed();
            onHub(panel, list);
        }();
        // A check that failed on the hub cancels it rather than leave the read waiting.
        if (QTest::currentTestFailed()) QTest::keyClick(panel, Qt::Key_Escape);
    });

    QAction* command = nullptr;
    const auto actions = ui.mainWindow()->menu(QStringLiteral("Tasks"))->actions();
    for (QAction* a : actions)
        if (a->text() == entry) command = a;
    QVERIFY(command);
    if (mainSize.isValid()) {
        ui.mainWindow()->resize(mainSize);
        QCoreApplication::processEvents();
    }
    command->trigger();

    const auto subs = ui.mainWindow()->mdiArea()->subWindowList();
    for (QMdiSubWindow* sub : subs)
        if (auto* viewer = qobject_cast<dz::gui::ReportViewer*>(sub->widget()))
            seen.reports << viewer->pager()->rowsText(0, viewer->pager()->rowCount());
    seen.shown = ui.shown;
    seen.progress = ui.progress;
    seen.statuses = ui.statuses;
    seen.lastButton = ui.lastButton;
    seen.accepted = ui.accepted;
    seen.complete = ui.complete;
    seen.noted = ui.noted;
    seen.panelsLeft = static_cast<int>(dz::ui::open_panels().size());
    const auto labels = ui.mainWindow()->statusBar()->findChildren<QLabel*>();
    for (QLabel* l : labels)
        if (l->isVisibleTo(ui.mainWindow()) && l->text().startsWith(QLatin1String("Company: "))) seen.companyShown = l->text();
    ui.setModalHook({});
    app.ExitInstance();
    dz::ui::set_current(nullptr);
    dz::suite::close_company();
}

// A company made by the command-line program, and a folder of text files beside it, where the
// reports show their paths whole on every machine.
struct Workplace {
    QTemporaryDir dir{QString::fromStdString((dz::testing_support::ShortTempFolder() / "dz-gui-XXXXXX").string())};
    QString company() const { return dir.filePath(QStringLiteral("co")); }
    QString texts() const { return dir.filePath(QStringLiteral("texts")); }
    QString text(const QString& name) const { return QDir(texts()).filePath(name); }

    void make(const QStringList& copiesOfTheSample) {
#ifndef DZ_CLI_BIN
        QSKIP("dodedoz-cli is not built");
#else
        QVERIFY(dir.isValid());
        QProcess init;
        init.start(QStringLiteral(DZ_CLI_BIN), {QStringLiteral("company"), QStringLiteral("init"), company()});
        QVERIFY(init.waitForFinished(60000));
        QVERIFY2(init.exitStatus() == QProcess::NormalExit && init.exitCode() == 0, init.readAllStandardError().constData());
        QVERIFY(QDir().mkpath(texts()));
        for (const QString& name : copiesOfTheSample) QVERIFY(QFile::copy(kSample, text(name)));
#endif
    }

    // The records of a data file as the command-line program dumps them.
    QString dump(const QString& abbr) const {
#ifdef DZ_CLI_BIN
        QProcess p;
        p.start(QStringLiteral(DZ_CLI_BIN), {QStringLiteral("dump"), QStringLiteral("--company"), company(), abbr});
        if (p.waitForFinished(60000) && p.exitCode() == 0) return QString::fromLatin1(p.readAllStandardOutput());
#endif
        return QStringLiteral("dump failed");
    }
};

}  // namespace

class DesktopCommandsTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        dz::ui::reset_panels();
        dz::ui::set_current(nullptr);
        dz::suite::close_company();
    }

    void convertRunsFromTheMenu() {
        Workplace place;
        place.make({QStringLiteral("demo-gl-master.txt")});
        const QString text = place.text(QStringLiteral("demo-gl-master.txt"));
        QVERIFY(!place.dump(QStringLiteral("GLM")).contains(QLatin1String("AACCT=")));

        Seen seen;
        runFromTheMenu(place.company(), QStringLiteral("&Convert..."), place.texts(), {"demo-gl-master.txt"},
                       startToScreen, seen);
        QVERIFY(!QTest::currentTestFailed());

        QCOMPARE(seen.choosers, 1);
        QCOMPARE(seen.reads, QStringList{"CONVERT/HUB"});
        // One file: the whole list in view, no scroll bar.
        QVERIFY(!seen.listScrolls);
        QVERIFY2(seen.listed.value(0).endsWith(QLatin1String(" - demo-gl-master.txt")), qPrintable(seen.listed.join('|')));
        // The progress window came, went to the end of the file, and went away with the hub.
        QVERIFY2(seen.shown.contains(QLatin1String("CONVERT/STATUSS")), qPrintable(seen.shown.join(' ')));
        QCOMPARE(seen.progress, 100);
        QCOMPARE(seen.panelsLeft, 0);
        // Its status line said what was going on, and at the end there was nothing left to stop.
        QVERIFY2(seen.statuses.contains(QLatin1String("Converting records")), qPrintable(seen.statuses.join('|')));
        QCOMPARE(seen.statuses.last(), QStringLiteral("Conversion finished"));
        QCOMPARE(seen.lastButton, QStringLiteral("~Close"));
        // The closing message names the rejected records, its lines broken where the text has "\r".
        QCOMPARE(seen.messages.size(), qsizetype{1});
        const QString closing = seen.messages[0];
        QVERIFY2(closing.startsWith(QLatin1String("Examine your printout and the ")), qPrintable(closing));
        QVERIFY2(closing.contains(QLatin1String("files\nfor more information on the 9 rejected records")),
                 qPrintable(closing));
        QVERIFY(!closing.contains(QLatin1Char('\r')));
        // The report in the viewer.
        QCOMPARE(seen.reports.size(), qsizetype{1});
        QVERIFY2(seen.reports[0].startsWith(QStringLiteral("Converting %1 into GL Master File").arg(text)),
                 qPrintable(seen.reports[0].left(200)));
        QVERIFY(seen.reports[0].contains(QLatin1String("Zero Journal number is not allowed(110)")));

        // The accounts are in the GL master file, the rejected lines in the reject file.
        const QString glm = place.dump(QStringLiteral("GLM"));
        QVERIFY2(glm.contains(QLatin1String("R1 AACCT=\"01110100000\" ATITLE=\"Cash - operating\"")), qPrintable(glm.left(400)));
        QVERIFY(glm.contains(QLatin1String("R1 AACCT=\"01210500000\" ATITLE=\"Direct labor\"")));
        QVERIFY(QFile::exists(place.text(QStringLiteral("RejGLM.txt"))));
        // The text file carries its time stamp as line 2; the rest of it is as it was.
        const QByteArray original = slurp(kSample);
        const QByteArray stamped = slurp(text);
        QVERIFY2(stamped.startsWith("#,GLM,xvglm\r\n#,\"Previously Converted\","), stamped.left(120).constData());
        QVERIFY(stamped.contains("\"using xvglm.tpl\""));
        const qsizetype body = original.indexOf('\n') + 1;
        QVERIFY(stamped.endsWith(original.mid(body)));
        QCOMPARE(stamped.count('\n'), original.count('\n') + 1);
    }

    // Stop pressed while the records are converted, and answered Yes: every data file is put
    // back, the closing message says that first, and the window counts none as accepted.
    void aStoppedConversionSaysNoneKept() {
        Workplace place;
        place.make({QStringLiteral("demo-gl-master.txt")});
        bool pressed = false;
        OnProgress stop([&pressed](PanelWidget* w) {
            if (pressed || !w->rowText(1).contains(QLatin1String("Converting records"))) return;
            pressed = true;
            QTest::mouseClick(w->button(1), Qt::LeftButton);
        });
        Seen seen;
        runFromTheMenu(place.company(), QStringLiteral("&Convert..."), place.texts(), {"demo-gl-master.txt"},
                       startToScreen, seen);
        QVERIFY(!QTest::currentTestFailed());
        QVERIFY(pressed);

        QCOMPARE(seen.messages.size(), qsizetype{2});
        QCOMPARE(seen.messages[0], QStringLiteral("OK to stop?"));
        const QString closing = seen.messages[1];
        QVERIFY2(closing.startsWith(QLatin1String("demo-gl-master.txt: ")) &&
                     closing.contains(QLatin1String(" read, none kept: stopped; every data file put back")),
                 qPrintable(closing));
        QVERIFY2(!closing.contains(QLatin1String("Examine your printout")), qPrintable(closing));
        QCOMPARE(seen.statuses.last(), QStringLiteral("Conversion stopped"));
        QCOMPARE(seen.lastButton, QStringLiteral("~Close"));
        QCOMPARE(seen.accepted, QStringLiteral("0"));
        QCOMPARE(seen.panelsLeft, 0);
        QVERIFY(!place.dump(QStringLiteral("GLM")).contains(QLatin1String("AACCT=")));
    }

    // A report file that takes no more (/dev/full) ends the file at its first line: one box says
    // so, the cause after the failure's own words, then what to do in the desktop's words.
    void aReportOnAFullDiskIsOneBoxWithWhatToDo() {
        if (!QFile::exists(QStringLiteral("/dev/full"))) QSKIP("no /dev/full to stand for a full disk");
        Workplace place;
        place.make({QStringLiteral("demo-gl-master.txt")});
        auto toFullDisk = [](PanelWidget* hub, PanelWidget*) {
            auto radios = hub->fieldWidget(dz::ui::kHubDestinationField)->findChildren<QRadioButton*>();
            QCOMPARE(radios[0]->text(), QStringLiteral("File"));
            radios[0]->setChecked(true);
            auto* file = qobject_cast<QLineEdit*>(hub->fieldWidget(dz::ui::kHubFileField));
            if (!file) file = hub->fieldWidget(dz::ui::kHubFileField)->findChild<QLineEdit*>();
            QVERIFY(file);
            file->setText(QStringLiteral("/dev/full"));
            QTest::mouseClick(hub->button(dz::ui::kHubStartButton), Qt::LeftButton);
        };
        Seen seen;
        runFromTheMenu(place.company(), QStringLiteral("&Convert..."), place.texts(), {"demo-gl-master.txt"},
                       toFullDisk, seen);
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(seen.messages.size(), qsizetype{1});
        const QString box = seen.messages[0];
        QVERIFY2(box.startsWith(QLatin1String("demo-gl-master.txt: 44 read, none kept: Unable to print rejecting "
                                              "record messages: No space left on device; every data file put back")),
                 qPrintable(box));
        QVERIFY2(box.endsWith(QLatin1String("\n\n/dev/full is a device, not a file on a disk, and takes no more: name "
                                            "another report file when you start again.")),
                 qPrintable(box));
        QVERIFY(!place.dump(QStringLiteral("GLM")).contains(QLatin1String("AACCT=")));
    }

    // The same Convert of another member's data file, by a member: what could not be given back
    // comes in that one box, after the cause and what was put back, with the administrator's step,
    // never in a box of its own before the box that says why.
    void aPutBackOfAnotherMembersFileIsSaidInTheOneBoxAfterItsCause() {
        if (::geteuid() != 0) QSKIP("needs root, to run as a member");
        if (!QFile::exists(QStringLiteral("/dev/full"))) QSKIP("no /dev/full to stand for a full disk");
        const std::string unreached = dz::testing_support::UnreachableToOthers({DZ_SOURCE_DATA_DIR "/messages/messages.toml"});
        if (!unreached.empty()) QSKIP(unreached.c_str());
        Workplace place;
        place.make({QStringLiteral("demo-gl-master.txt")});
        if (QTest::currentTestFailed()) return;
        const QString glm = QDir(place.company()).filePath(QStringLiteral("MASTER.GLM"));
        const QByteArray where = place.dir.path().toLocal8Bit();
        QCOMPARE(std::system(("chown -R 4321:4321 " + where + " && chmod -R g+rwX " + where).constData()), 0);
        QCOMPARE(::chown(glm.toLocal8Bit().constData(), 4322, 4321), 0);
        auto toFullDisk = [](PanelWidget* hub, PanelWidget*) {
            qobject_cast<QLineEdit*>(hub->fieldWidget(dz::ui::kHubFileField))->setText(QStringLiteral("/dev/full"));
            QTest::mouseClick(hub->button(dz::ui::kHubStartButton), Qt::LeftButton);
        };
        std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
        groups.resize(static_cast<std::size_t>(std::max(::getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
        const gid_t member = 4321;
        if (::setgroups(1, &member) != 0 || ::setegid(4321) != 0 || ::seteuid(4321) != 0) QSKIP("cannot become a member");
        Seen seen;
        runFromTheMenu(place.company(), QStringLiteral("&Convert..."), place.texts(), {"demo-gl-master.txt"},
                       toFullDisk, seen);
        QVERIFY(::seteuid(0) == 0 && ::setegid(0) == 0 && ::setgroups(groups.size(), groups.data()) == 0);
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(seen.messages.size(), qsizetype{1});
        const QString box = seen.messages[0];
        const auto cause = box.indexOf(QLatin1String("Unable to print rejecting record messages"));
        const auto putBack = box.indexOf(QLatin1String("every data file put back"));
        const auto notGiven = box.indexOf(glm + QLatin1String(" now belongs to uid 4321: its owner uid 4322 could not be given back"));
        QVERIFY2(cause >= 0 && putBack > cause && notGiven > putBack, qPrintable(box));
        QVERIFY2(box.indexOf(QLatin1String("Ask an administrator to give ") + glm) > notGiven, qPrintable(box));
    }

    // An examine whose report takes no more (/dev/full) ended early: its window neither says it
    // went to the end nor counts the messages of a file that ran through.
    void anExamineOnAFullDiskNeverSaysComplete() {
        if (!QFile::exists(QStringLiteral("/dev/full"))) QSKIP("no /dev/full to stand for a full disk");
        Workplace place;
        place.make({QStringLiteral("demo-gl-master.txt")});
        if (QTest::currentTestFailed()) return;
        auto toFullDisk = [](PanelWidget* hub, PanelWidget*) {
            qobject_cast<QLineEdit*>(hub->fieldWidget(dz::ui::kHubFileField))->setText(QStringLiteral("/dev/full"));
            QTest::mouseClick(hub->button(dz::ui::kHubStartButton), Qt::LeftButton);
        };
        Seen seen;
        runFromTheMenu(place.company(), QStringLiteral("&Examine Files..."), place.texts(), {"demo-gl-master.txt"},
                       toFullDisk, seen);
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(seen.messages.size(), qsizetype{1});
        QVERIFY2(seen.messages[0].contains(QLatin1String("examine ended early")), qPrintable(seen.messages[0]));
        QCOMPARE(seen.statuses.last(), QStringLiteral("Examine ended early"));
        QCOMPARE(seen.complete, QStringLiteral("Ended early"));
        QCOMPARE(seen.noted, QStringLiteral("0"));
    }

    // What is planted beside a data file as its journal or log is said once a command, when the
    // command starts, with what to do; the text file chosen that needs the file beside it is then
    // neither examined nor converted, and a box says so, naming it, without saying the cause
    // again; the journal and the file stay as they were.
    void aPlantedJournalIsSaidOncePerCommand() {
        Workplace place;
        place.make({QStringLiteral("demo-gl-master.txt")});
        if (QTest::currentTestFailed()) return;
        for (const char* suffix : {"-journal", "-wal"}) {
            QFile planted(QDir(place.company()).filePath(QStringLiteral("MASTER.GLM") + QLatin1String(suffix)));
            QVERIFY(planted.open(QIODevice::WriteOnly));
            QByteArray junk(4096, '\0');
            for (int i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>((i * 131 + 7) % 251 + 1);
            planted.write(junk);
            planted.close();
            const QByteArray file = slurp(QDir(place.company()).filePath(QStringLiteral("MASTER.GLM")));
            for (const QString& entry : {QStringLiteral("&Examine Files..."), QStringLiteral("&Convert...")}) {
                Seen seen;
                runFromTheMenu(place.company(), entry, place.texts(), {"demo-gl-master.txt"}, startToScreen, seen);
                QVERIFY(!QTest::currentTestFailed());
                QCOMPARE(seen.messages.size(), qsizetype{2});
                QVERIFY2(seen.messages[0].startsWith(QLatin1String("A journal beside a data file is not played: ")),
                         qPrintable(seen.messages[0]));
                QVERIFY2(seen.messages[0].contains(entry.mid(1).chopped(3) + QLatin1String(" again.")),
                         qPrintable(seen.messages[0]));
                const QString verb = entry.startsWith(QLatin1String("&C")) ? QStringLiteral("convert") : QStringLiteral("examine");
                QVERIFY2(seen.messages[1].startsWith(QLatin1String("Unable to ") + verb + QLatin1String(" file\n") +
                                                     place.text(QStringLiteral("demo-gl-master.txt"))),
                         qPrintable(seen.messages[1]));
                QVERIFY2(seen.messages[1].endsWith(QLatin1String(
                             "file cannot be opened: what stands beside it as its journal is not played.")),
                         qPrintable(seen.messages[1]));
                QVERIFY(seen.reads.isEmpty());
                QCOMPARE(slurp(QDir(place.company()).filePath(QStringLiteral("MASTER.GLM"))), file);
                QCOMPARE(slurp(planted.fileName()), junk);
            }
            QVERIFY(QFile::remove(planted.fileName()));
        }
        // Planted while the person chooses, it is first known when the file is opened: said there.
        const QString journal = QDir(place.company()).filePath(QStringLiteral("MASTER.GLM-journal"));
        OnChooser plant([&journal] {
            QFile late(journal);
            QVERIFY(late.open(QIODevice::WriteOnly));
            late.write(QByteArray(4096, '\x5a'));
        });
        Seen seen;
        runFromTheMenu(place.company(), QStringLiteral("&Examine Files..."), place.texts(), {"demo-gl-master.txt"},
                       startToScreen, seen);
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(seen.messages.size(), qsizetype{1});
        QVERIFY2(seen.messages[0].startsWith(QLatin1String("Unable to examine file")), qPrintable(seen.messages[0]));
        QVERIFY2(seen.messages[0].contains(QLatin1String("MASTER.GLM-journal is not a journal")), qPrintable(seen.messages[0]));
    }

    // Of several text files, the one whose data file stands beside a journal said at the start
    // is left out without a second box; the others run, and the closing message names it.
    void aPlantedJournalLeavesItsFileOutOfSeveral() {
        Workplace place;
        place.make({QStringLiteral("a.txt")});
        if (QTest::currentTestFailed()) return;
        QVERIFY(QFile::copy(QStringLiteral(DZ_SOURCE_DATA_DIR "/samples/apm/demo-vendors.txt"),
                            place.text(QStringLiteral("b.txt"))));
        QFile planted(QDir(place.company()).filePath(QStringLiteral("MASTER.APM-journal")));
        QVERIFY(planted.open(QIODevice::WriteOnly));
        planted.write(QByteArray(4096, '\x5a'));
        planted.close();
        Seen seen;
        runFromTheMenu(place.company(), QStringLiteral("&Examine Files..."), place.texts(), {"a.txt", "b.txt"},
                       startToScreen, seen);
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(seen.messages.size(), qsizetype{2});
        QVERIFY2(seen.messages[0].contains(QLatin1String("MASTER.APM-journal is not a journal")), qPrintable(seen.messages[0]));
        QVERIFY2(seen.messages[1].startsWith(QLatin1String("a.txt: 43 accepted")), qPrintable(seen.messages[1]));
        QVERIFY2(seen.messages[1].contains(QLatin1String("\n\nb.txt: skipped; not run.\n\n")), qPrintable(seen.messages[1]));
        QCOMPARE(seen.listed.value(0), QStringLiteral("GL Master Records - a.txt"));
    }

    // An old journal of the data file a chosen text file needs (a real one, of a commit the file
    // was written after): the box at the start says it with what to do; the file chosen then ends
    // in a box of its own, never in silence, and nothing is converted.
    void anOldJournalEndsTheChosenFileInABox() {
        Workplace place;
        place.make({QStringLiteral("demo-gl-master.txt")});
        if (QTest::currentTestFailed()) return;
        const QString glm = QDir(place.company()).filePath(QStringLiteral("MASTER.GLM"));
        QVERIFY(dz::testing_support::plant_old_journal(glm.toStdString()));
        const QByteArray file = slurp(glm);
        Seen seen;
        runFromTheMenu(place.company(), QStringLiteral("&Convert..."), place.texts(), {"demo-gl-master.txt"},
                       startToScreen, seen);
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(seen.choosers, 1);
        QCOMPARE(seen.messages.size(), qsizetype{2});
        QVERIFY2(seen.messages[0].contains(glm + QLatin1String("-journal is ")), qPrintable(seen.messages[0]));
        QVERIFY2(seen.messages[1].startsWith(QLatin1String("Unable to convert file\n") +
                                             place.text(QStringLiteral("demo-gl-master.txt"))),
                 qPrintable(seen.messages[1]));
        QVERIFY2(!seen.messages[1].contains(QLatin1String("-journal is ")), qPrintable(seen.messages[1]));
        // Each paragraph of a box is a sentence, the cause's before its step too.
        for (const QString& box : seen.messages)
            for (const QString& paragraph : box.split(QStringLiteral("\n\n")))
                QVERIFY2(paragraph.endsWith(QLatin1Char('.')), qPrintable(paragraph));
        QCOMPARE(slurp(glm), file);
    }

    // A data file made immutable is no permission its owner could give: Examine Files foretells
    // it and Convert refuses it with the administrator's lift, each naming itself to choose again.
    void anImmutableDataFileIsSaidWithTheAdministratorsLift() {
        Workplace place;
        place.make({QStringLiteral("demo-gl-master.txt")});
        if (QTest::currentTestFailed()) return;
        const QString glm = QDir(place.company()).filePath(QStringLiteral("MASTER.GLM"));
        if (!dz::testing_support::SetImmutable(glm.toStdString(), true)) QSKIP("needs root and a file system with the immutable attribute");
        // Lifted however the test ends, so that its folder can be removed.
        const std::unique_ptr<const QString, void (*)(const QString*)> lift(
            &glm, [](const QString* f) { dz::testing_support::SetImmutable(f->toStdString(), false); });
        for (const QString& entry : {QStringLiteral("&Examine Files..."), QStringLiteral("&Convert...")}) {
            Seen seen;
            runFromTheMenu(place.company(), entry, place.texts(), {"demo-gl-master.txt"}, startToScreen, seen);
            QVERIFY(!QTest::currentTestFailed());
            QCOMPARE(seen.messages.size(), qsizetype{1});
            const QString box = seen.messages[0];
            QVERIFY2(box.contains(QLatin1String("cannot be written: the file ") + glm +
                                  QLatin1String(" is immutable (chattr +i)")),
                     qPrintable(box));
            QVERIFY2(box.contains(QLatin1String("Ask an administrator to lift what keeps ") + glm +
                                  QLatin1String(" from being written (the file ") + glm +
                                  QLatin1String(" is immutable (chattr +i): chattr -i ") + glm +
                                  QLatin1String(" lifts it), then choose ") + entry.mid(1).chopped(3) +
                                  QLatin1String(" again.")),
                     qPrintable(box));
            QVERIFY2(!box.contains(QLatin1String("permission")) && !box.contains(QLatin1String("the owner of")),
                     qPrintable(box));
        }
    }

    void examineFilesFromTheMenuWritesNothing() {
        Workplace place;
        place.make({QStringLiteral("demo-gl-master.txt")});
        const QString text = place.text(QStringLiteral("demo-gl-master.txt"));
        const auto company = snapshot(place.company());
        const auto texts = snapshot(place.texts());
        QVERIFY(company.count(QStringLiteral("MASTER.GLM")));

        Seen seen;
        runFromTheMenu(place.company(), QStringLiteral("&Examine Files..."), place.texts(), {"demo-gl-master.txt"},
                       startToScreen, seen);
        QVERIFY(!QTest::currentTestFailed());

        QCOMPARE(seen.choosers, 1);
        QCOMPARE(seen.reads, QStringList{"EXAMINE/HUB"});
        QVERIFY(seen.listed.value(0).endsWith(QLatin1String(" - demo-gl-master.txt")));
        QVERIFY2(seen.shown.contains(QLatin1String("EXAMINE/STATUSS")), qPrintable(seen.shown.join(' ')));
        QCOMPARE(seen.progress, 100);
        QCOMPARE(seen.panelsLeft, 0);
        QCOMPARE(seen.messages.size(), qsizetype{1});
        QVERIFY2(seen.messages[0].contains(QLatin1String("for more information on the\n9 records that will be rejected")),
                 qPrintable(seen.messages[0]));
        QVERIFY(!seen.messages[0].contains(QLatin1Char('\r')));
        QCOMPARE(seen.reports.size(), qsizetype{1});
        QVERIFY2(seen.reports[0].startsWith(QStringLiteral("Examining %1 for GL Master File").arg(text)),
                 qPrintable(seen.reports[0].left(200)));

        // Nothing written: the company's files and the text files byte for byte, nothing added.
        QCOMPARE(differences(snapshot(place.company()), company), QString());
        QCOMPARE(differences(snapshot(place.texts()), texts), QString());
        QCOMPARE(slurp(text), slurp(kSample));
    }

    // A report the person chose to print but did not (Cancel in the print dialog) is kept in the
    // company's report folder and shown; a run stored as a background task makes no report and
    // leaves the last one as it was, and says how the stored run is run.
    void reportsKeptWhenNotPrintedOrOnlyStored() {
        Workplace place;
        place.make({QStringLiteral("demo-gl-master.txt")});
        const QString report = QDir(place.company()).filePath(QStringLiteral("conversion_report.txt"));
        // Reports go into the company folder, as the desktop program sets it when it opens one.
        dz::ui::run_state().report_folder = place.company().toStdString();
        struct Forget {
            ~Forget() { dz::ui::run_state().report_folder.clear(); }
        } forget;
        // Printer picked; at the next read the report file field is off, and the run starts.
        int reads = 0;
        bool fileFieldOff = false;
        auto toPrinter = [&](PanelWidget* hub, PanelWidget*) {
            if (reads++ == 0) {
                QVERIFY(hub->fieldWidget(dz::ui::kHubFileField)->isEnabled());
                auto radios = hub->fieldWidget(dz::ui::kHubDestinationField)->findChildren<QRadioButton*>();
                QTest::mouseClick(radios[2], Qt::LeftButton, {}, QPoint(4, 4));
                return;
            }
            fileFieldOff = !hub->fieldWidget(dz::ui::kHubFileField)->isEnabled();
            QTest::mouseClick(hub->button(dz::ui::kHubStartButton), Qt::LeftButton);
        };
        Seen printed;
        runFromTheMenu(place.company(), QStringLiteral("&Convert..."), place.texts(), {"demo-gl-master.txt"},
                       toPrinter, printed);
        QVERIFY(!QTest::currentTestFailed());
        QVERIFY(fileFieldOff);
        // The print dialog proposed the company's folder for a file.
        QCOMPARE(printed.printFiles.size(), qsizetype{1});
        QVERIFY2(printed.printFiles[0].startsWith(place.company() + QLatin1Char('/')), qPrintable(printed.printFiles[0]));
        QVERIFY2(printed.messages.contains(QStringLiteral("The conversion report was not printed. It is shown on the "
                                                          "screen and kept in %1.").arg(report)),
                 qPrintable(printed.messages.join('|')));
        QCOMPARE(printed.reports.size(), qsizetype{1});
        const QByteArray kept = slurp(report);
        QVERIFY(kept.startsWith("Converting "));

        auto store = [](PanelWidget* hub, PanelWidget*) {
            qobject_cast<QCheckBox*>(hub->fieldWidget(dz::ui::kHubBackgroundField))->setChecked(true);
            QTest::mouseClick(hub->button(dz::ui::kHubStartButton), Qt::LeftButton);
        };
        Seen stored;
        runFromTheMenu(place.company(), QStringLiteral("&Convert..."), place.texts(), {"demo-gl-master.txt"}, store,
                       stored);
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(slurp(report), kept);
        QVERIFY(stored.reports.isEmpty());
        QVERIFY(!stored.shown.contains(QLatin1String("CONVERT/STATUSS")));
        QVERIFY2(stored.messages.last().contains(QStringLiteral("dodedoz-cli replay --company %1 convert").arg(place.company())),
                 qPrintable(stored.messages.join('|')));
        QVERIFY(QFile::exists(QDir(place.company()).filePath(QStringLiteral("options/3020/block1.bin"))));
    }

    // A conversion whose report went to a full device ends early; the status bar still shows
    // the company, and the next hub offers the report in the company's folder, not in /dev.
    void aReportOnAFullDeviceLeavesTheReportFolderAndTheCompany() {
        Workplace place;
        place.make({QStringLiteral("demo-gl-master.txt")});
        if (QTest::currentTestFailed()) return;
        struct Forget {
            ~Forget() { dz::ui::run_state().report_folder.clear(); }
        } forget;
        auto toFullDevice = [](PanelWidget* hub, PanelWidget*) {
            // The company shown as the desktop program shows it when it opens one.
            dz::gui::showCompany(qobject_cast<dz::gui::MainWindow*>(hub->window()));
            qobject_cast<QLineEdit*>(hub->fieldWidget(dz::ui::kHubFileField))->setText(QStringLiteral("/dev/full"));
            QTest::mouseClick(hub->button(dz::ui::kHubStartButton), Qt::LeftButton);
        };
        Seen full;
        runFromTheMenu(place.company(), QStringLiteral("&Convert..."), place.texts(), {"demo-gl-master.txt"},
                       toFullDevice, full);
        QVERIFY(!QTest::currentTestFailed());
        QVERIFY2(full.shown.contains(QLatin1String("CONVERT/STATUSS")), qPrintable(full.shown.join(' ')));
        QCOMPARE(full.companyShown, QStringLiteral("Company: ") + place.company());

        QString offered;
        auto readThenCancel = [&offered](PanelWidget* hub, PanelWidget*) {
            offered = qobject_cast<QLineEdit*>(hub->fieldWidget(dz::ui::kHubFileField))->text();
            QTest::mouseClick(hub->button(dz::ui::kHubCancelButton), Qt::LeftButton);
        };
        Seen next;
        runFromTheMenu(place.company(), QStringLiteral("&Convert..."), place.texts(), {"demo-gl-master.txt"},
                       readThenCancel, next);
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(offered, QDir(place.company()).filePath(QStringLiteral("conversion_report.txt")));
    }

    // The hub's Options... panel of an AP invoice file lies whole inside a main window 1000
    // pixels wide.
    void hubOptionsFitANarrowMainWindow() {
        Workplace place;
        place.make({});
        if (QTest::currentTestFailed()) return;
        const QString invoices = place.text(QStringLiteral("invoices.txt"));
        QVERIFY(QFile::copy(QStringLiteral(DZ_SOURCE_DATA_DIR "/samples/api/demo-invoices.txt"), invoices));
        QRect room, options;
        int hubReads = 0;
        auto optionsThenCancel = [&](PanelWidget* hub, PanelWidget*) {
            if (hubReads++ > 0) return QTest::mouseClick(hub->button(dz::ui::kHubCancelButton), Qt::LeftButton);
            // The main window as a person may have it: 1000 pixels wide.
            hub->window()->resize(1000, 700);
            QCoreApplication::processEvents();
            QCOMPARE(hub->window()->width(), 1000);
            QVERIFY(hub->button(11));
            QTest::mouseClick(hub->button(11), Qt::LeftButton);  // Options...
        };
        auto onPanel = [&](PanelWidget* w) {
            if (w->panel().def().name == "API") {
                QTest::mouseClick(w->button(3), Qt::LeftButton);  // OK: the paid totals as proposed
                return true;
            }
            if (w->panel().def().name != "GENERAL") return false;
            auto* area = w->window()->findChild<QMdiArea*>();
            const auto subs = area->subWindowList();
            for (QMdiSubWindow* sub : subs)
                if (sub->widget() == w) options = sub->geometry();
            room = area->viewport()->rect();
            return false;
        };
        Seen seen;
        runFromTheMenu(place.company(), QStringLiteral("&Convert..."), place.texts(), {"invoices.txt"},
                       optionsThenCancel, seen, onPanel);
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(hubReads, 2);
        QVERIFY2(seen.reads.contains(QStringLiteral("QUERY/GENERAL")), qPrintable(seen.reads.join(' ')));
        QVERIFY2(room.width() > 0 && room.width() <= 1000, qPrintable(QString::number(room.width())));
        QVERIFY2(room.contains(options), qPrintable(QStringLiteral("options %1,%2 %3x%4 in %5x%6")
                                                         .arg(options.x()).arg(options.y())
                                                         .arg(options.width()).arg(options.height())
                                                         .arg(room.width()).arg(room.height())));
    }

    void textFilesWindowFitsANarrowMainWindow() {
        Workplace place;
        place.make({"f1.txt", "f2.txt", "f3.txt", "f4.txt"});
        QRect room, files;
        QStringList listed;
        bool overHub = true;
        auto measureThenCancel = [&](PanelWidget* hub, PanelWidget* list) {
            QCoreApplication::processEvents();
            auto* area = hub->window()->findChild<QMdiArea*>();
            room = area->viewport()->rect();
            files = list->parentWidget()->geometry();
            // Where it lies over the hub, it lies on top of it.
            const QRect both = files & hub->parentWidget()->geometry();
            if (!both.isEmpty()) overHub = list->parentWidget()->isAncestorOf(area->viewport()->childAt(both.center()));
            for (int i = 1; i <= list->panel().rows(); ++i) listed << list->rowText(i).section(QLatin1String(" - "), 1);
            QTest::mouseClick(hub->button(dz::ui::kHubCancelButton), Qt::LeftButton);
        };
        Seen seen;
        runFromTheMenu(place.company(), QStringLiteral("&Convert..."), place.texts(),
                       {"f1.txt", "f2.txt", "f3.txt", "f4.txt"}, measureThenCancel, seen, {}, QSize(1000, 700));
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(listed.join(' ').trimmed(), QStringLiteral("f1.txt f2.txt f3.txt f4.txt"));
        QVERIFY2(room.width() > 0 && room.width() <= 1000, qPrintable(QString::number(room.width())));
        QVERIFY2(room.contains(files), qPrintable(QStringLiteral("files %1,%2 %3x%4 in %5x%6")
                                                       .arg(files.x()).arg(files.y())
                                                       .arg(files.width()).arg(files.height())
                                                       .arg(room.width()).arg(room.height())));
        QVERIFY(overHub);
    }

    void hubListOfSevenFilesScrolls() {
        Workplace place;
        QStringList names;
        for (int i = 1; i <= 7; ++i) names << QStringLiteral("g%1.txt").arg(i);
        place.make(names);
        const auto company = snapshot(place.company());

        // The list's rows in view, by the names of their files.
        auto inView = [](PanelWidget* list) {
            QStringList files;
            for (int i = 0; i < list->visibleRows(); ++i)
                files << list->rowText(list->firstVisibleRow() + i).section(QLatin1String(" - "), 1);
            return files.join(QLatin1Char(' '));
        };
        QStringList views;
        int barMax = -1, barValue = -1, height = -1, rowHeight = -1;
        auto scrollThenCancel = [&](PanelWidget* hub, PanelWidget* list) {
            height = list->sizeHint().height();
            rowHeight = list->cellSize().height();
            QVERIFY(list->scrollBar() && list->scrollBar()->isVisibleTo(list));
            barMax = list->scrollBar()->maximum();
            views << inView(list);
            QTest::keyClick(list, Qt::Key_Down);  // a row down
            views << inView(list);
            QTest::keyClick(list, Qt::Key_PageDown);  // five rows down, as far as the last row allows
            views << inView(list);
            barValue = list->scrollBar()->value();
            list->scrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);  // the thumb to the top
            views << inView(list);
            list->scrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);  // the bar's down arrow
            views << inView(list);
            const QPointF at(5, 5);
            QWheelEvent wheel(at, list->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(list, &wheel);  // a notch up
            views << inView(list);
            QTest::mouseClick(hub->button(dz::ui::kHubCancelButton), Qt::LeftButton);
        };
        Seen seen;
        runFromTheMenu(place.company(), QStringLiteral("&Examine Files..."), place.texts(), names, scrollThenCancel,
                       seen);
        QVERIFY(!QTest::currentTestFailed());

        QVERIFY(seen.listScrolls);
        // Five of the seven rows in view at a time, the window sized for them.
        QCOMPARE(seen.listed.size(), qsizetype{5});
        QCOMPARE(height, 5 * rowHeight + rowHeight / 2);
        QCOMPARE(barMax, 3);
        QCOMPARE(views, (QStringList{"g1.txt g2.txt g3.txt g4.txt g5.txt", "g2.txt g3.txt g4.txt g5.txt g6.txt",
                                     "g3.txt g4.txt g5.txt g6.txt g7.txt", "g1.txt g2.txt g3.txt g4.txt g5.txt",
                                     "g2.txt g3.txt g4.txt g5.txt g6.txt", "g1.txt g2.txt g3.txt g4.txt g5.txt"}));
        QCOMPARE(barValue, 3);
        // Cancelled at the hub: nothing ran, nothing was written.
        QCOMPARE(seen.reads, QStringList{"EXAMINE/HUB"});
        QVERIFY(!seen.shown.contains(QLatin1String("EXAMINE/STATUSS")));
        QVERIFY(seen.messages.isEmpty());
        QVERIFY(seen.reports.isEmpty());
        QCOMPARE(seen.panelsLeft, 0);
        QCOMPARE(differences(snapshot(place.company()), company), QString());
    }
};

int runDesktopCommandsTest(int argc, char** argv) {
    DesktopCommandsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "desktop_commands_test.moc"
