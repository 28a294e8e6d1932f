// One executable for every desktop test class, run one after the other on one QApplication
// (as QTEST_MAIN would run a single class).
#include <QApplication>
#include <QTest>

#include "gui/qt_ui.h"
#include "platform/import/xvl_rcstring.h"

int runGuiTest(int argc, char** argv);
int runDesktopCommandsTest(int argc, char** argv);
int runTableEditorTest(int argc, char** argv);
int runReportViewTest(int argc, char** argv);

int main(int argc, char** argv) {
    dz::xvl::InstallStepWords();
    QApplication app(argc, argv);
    dz::gui::useCLocale();
    app.setAttribute(Qt::AA_Use96Dpi, true);
    int failed = runGuiTest(argc, argv);
    failed += runDesktopCommandsTest(argc, argv);
    failed += runTableEditorTest(argc, argv);
    failed += runReportViewTest(argc, argv);
    return failed;
}
