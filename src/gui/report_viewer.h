// A report sent to the screen: its lines in a fixed-pitch font, read a page at a time from where
// the report is kept (see ReportPager), with a Print button that sends it to a printer or a PDF
// file.
#pragma once

#include <QWidget>

#include "platform/ui/ui.h"

class QKeyEvent;
class QPushButton;
class QPrinter;

namespace dz::gui {

class ReportPager;

class ReportViewer : public QWidget {
    Q_OBJECT
public:
    // `path`: the file the report was written to, shown above it ("" a report for the screen).
    explicit ReportViewer(const dz::ui::ReportDocument& report, const QString& path = QString(),
                          QWidget* parent = nullptr);

    const dz::ui::ReportDocument& report() const { return report_; }
    ReportPager* pager() const { return pager_; }
    const QString& path() const { return path_; }

signals:
    void printRequested(const dz::ui::ReportDocument& report);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    dz::ui::ReportDocument report_;
    QString path_;
    ReportPager* pager_;
    QPushButton* close_ = nullptr;
};

// The folder a company's reports were last written to (kept between sessions), else the
// company folder itself; and the keeping.
QString rememberedReportFolder(const QString& company);
void rememberReportFolder(const QString& company, const QString& folder);

// Prints the report's lines on `printer`, a new page at each '\f' line and when a page is
// full, in a fixed-pitch font sized so that the report's width fits the page. False when the
// printer cannot be used.
bool printReport(const dz::ui::ReportDocument& report, QPrinter& printer);

}  // namespace dz::gui
