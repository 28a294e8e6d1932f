// A report sent to the screen: its lines in a fixed-pitch font, with a Print button that sends
// it to a printer or a PDF file.
#pragma once

#include <QWidget>

#include "platform/ui/ui.h"

class QPlainTextEdit;
class QPrinter;

namespace dz::gui {

class ReportViewer : public QWidget {
    Q_OBJECT
public:
    explicit ReportViewer(const dz::ui::ReportDocument& report, QWidget* parent = nullptr);

    const dz::ui::ReportDocument& report() const { return report_; }
    QPlainTextEdit* text() const { return text_; }

signals:
    void printRequested(const dz::ui::ReportDocument& report);

private:
    dz::ui::ReportDocument report_;
    QPlainTextEdit* text_;
};

// Prints the report's lines on `printer`, a new page at each '\f' line and when a page is
// full, in a fixed-pitch font sized so that the report's width fits the page. False when the
// printer cannot be used.
bool printReport(const dz::ui::ReportDocument& report, QPrinter& printer);

}  // namespace dz::gui
