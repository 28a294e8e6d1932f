#include "gui/report_viewer.h"

#include "gui/cell_font.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

namespace dz::gui {

namespace {
// The data files and messages hold UTF-8.
QString qs(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
}  // namespace

ReportViewer::ReportViewer(const dz::ui::ReportDocument& report, QWidget* parent)
    : QWidget(parent), report_(report), text_(new QPlainTextEdit(this)) {
    setWindowTitle(qs(report.title));
    QFont font = fixedFont();
    text_->setFont(font);
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    QStringList lines;
    for (const auto& l : report.lines) {
        if (!l.empty() && l.front() == '\f') {
            // A page break shows as a blank line before the page's first line.
            if (!lines.isEmpty()) lines << QString();
            lines << qs(l.substr(1));
        } else {
            lines << qs(l);
        }
    }
    text_->setPlainText(lines.join(QLatin1Char('\n')));

    auto* print = new QPushButton(tr("&Print..."), this);
    auto* close = new QPushButton(tr("&Close"), this);
    connect(print, &QPushButton::clicked, this, [this] { emit printRequested(report_); });
    connect(close, &QPushButton::clicked, this, [this] {
        // Inside the MDI area the sub-window is the one to close.
        if (parentWidget())
            parentWidget()->close();
        else
            QWidget::close();
    });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(print);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addLayout(buttons);
    QFontMetrics fm(font);
    resize(std::min(report.width, 132) * fm.horizontalAdvance(QLatin1Char('M')) + 40, 30 * fm.lineSpacing() + 60);
}

bool printReport(const dz::ui::ReportDocument& report, QPrinter& printer) {
    QPainter p;
    if (!p.begin(&printer)) return false;
    const QRect page = p.viewport();
    QFont font = fixedFont();
    // Size the font so that `width` characters span the page.
    font.setPixelSize(100);
    p.setFont(font);
    qreal advance = QFontMetricsF(font, p.device()).horizontalAdvance(QLatin1Char('M'));
    int width = std::max(report.width, 1);
    int pixel = static_cast<int>(100.0 * page.width() / (advance * width));
    font.setPixelSize(std::max(pixel, 1));
    p.setFont(font);
    QFontMetrics fm(font, p.device());
    int y = fm.ascent();
    bool pageEmpty = true;
    for (const auto& l : report.lines) {
        std::string line = l;
        bool breakHere = !line.empty() && line.front() == '\f';
        if (breakHere) line.erase(0, 1);
        if ((breakHere && !pageEmpty) || y + fm.descent() > page.height()) {
            if (!printer.newPage()) return false;
            y = fm.ascent();
        }
        p.drawText(0, y, qs(line));
        y += fm.lineSpacing();
        pageEmpty = false;
    }
    return p.end();
}

}  // namespace dz::gui
