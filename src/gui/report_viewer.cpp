#include "gui/report_viewer.h"

#include "gui/cell_font.h"
#include "gui/report_pager.h"

#include <QFileInfo>
#include <algorithm>
#include <QHBoxLayout>
#include <QLabel>
#include <QSettings>
#include <QKeyEvent>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

namespace dz::gui {

namespace {
// The data files and messages hold UTF-8.
QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
}  // namespace

namespace {
QSettings settings() { return QSettings(QStringLiteral("dodedoz"), QStringLiteral("dodedoz")); }
QString folderKey(const QString& company) {
    // A settings key holds no slashes of its own: the company's path is kept as a value's name.
    return QStringLiteral("reportFolders/") + QString::fromLatin1(company.toUtf8().toHex());
}
}  // namespace

QString rememberedReportFolder(const QString& company) {
    const QString kept = settings().value(folderKey(company)).toString();
    return !kept.isEmpty() && QFileInfo(kept).isDir() ? kept : company;
}

void rememberReportFolder(const QString& company, const QString& folder) {
    settings().setValue(folderKey(company), folder);
}

ReportViewer::ReportViewer(const dz::ui::ReportDocument& report, const QString& path, QWidget* parent)
    : QWidget(parent), report_(report), path_(path), pager_(new ReportPager(report, this)) {
    setWindowTitle(path.isEmpty() ? qs(report.title) : tr("%1 - %2").arg(qs(report.title), QFileInfo(path).fileName()));
    setFocusProxy(pager_);

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
    close_ = close;
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(print);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    if (!path.isEmpty()) {
        auto* where = new QLabel(tr("Written to %1").arg(path), this);
        where->setObjectName(QStringLiteral("reportPath"));
        where->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(where);
    }
    layout->addWidget(pager_);
    layout->addLayout(buttons);
    QFontMetrics fm(pager_->font());
    resize(std::min(report.width, 132) * fm.horizontalAdvance(QLatin1Char('M')) + 40, 30 * fm.lineSpacing() + 60);
}

void ReportViewer::keyPressEvent(QKeyEvent* event) {
    // Escape closes the report as the Close button does (the view passes the key on).
    if (event->key() == Qt::Key_Escape && close_) {
        close_->click();
        return;
    }
    QWidget::keyPressEvent(event);
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
    const bool printed = dz::ui::for_each_line(report, [&](std::string_view line) {
        const bool breakHere = !line.empty() && line.front() == '\f';
        if (breakHere) line.remove_prefix(1);
        if ((breakHere && !pageEmpty) || y + fm.descent() > page.height()) {
            if (!printer.newPage()) return false;
            y = fm.ascent();
        }
        p.drawText(0, y, qs(line));
        y += fm.lineSpacing();
        pageEmpty = false;
        return true;
    });
    return p.end() && printed;
}

}  // namespace dz::gui
