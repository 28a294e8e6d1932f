#include "gui/report_pager.h"

#include "gui/cell_font.h"
#include "platform/ui/line_spool.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>

namespace dz::gui {

namespace {
// One place kept every so many lines: some 16 bytes for every 256 lines of a report.
constexpr std::uint64_t kLinesPerMark = 256;
// The blank between the view's edge and the text.
constexpr int kMargin = 4;

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The characters of a line of UTF-8 (its bytes but continuation bytes).
int characters(std::string_view line) {
    return static_cast<int>(std::count_if(line.begin(), line.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

bool startsPage(std::string_view line) { return !line.empty() && line.front() == '\f'; }

int clampedInt(std::uint64_t n) { return static_cast<int>(std::min<std::uint64_t>(n, INT_MAX)); }

const QString kPlainText = QStringLiteral("text/plain");

// A selection of a report on the clipboard: where it is in the report's lines, read from there
// each time it is pasted. A report written again since (its size changed) gives nothing rather
// than other lines than those selected.
class ReportSelection : public QMimeData {
public:
    ReportSelection(std::shared_ptr<const dz::ui::LineSpool> lines, ReportPlace from, ReportPlace to)
        : lines_(std::move(lines)), from_(from), to_(to), size_(lines_->size()) {}
    QStringList formats() const override { return {kPlainText}; }
    bool hasFormat(const QString& mimeType) const override { return mimeType == kPlainText; }

protected:
    // The text whatever the type asked for: asked for bytes, the caller is given its UTF-8.
    QVariant retrieveData(const QString& mimeType, QMetaType) const override {
        if (mimeType != kPlainText || lines_->size() != size_) return {};
        return reportText(*lines_, from_, to_);
    }

private:
    std::shared_ptr<const dz::ui::LineSpool> lines_;
    ReportPlace from_, to_;
    std::uint64_t size_;
};
}  // namespace

QString reportText(const dz::ui::LineSpool& lines, ReportPlace from, ReportPlace to) {
    QString text;
    lines.for_each_from(from.at, [&](std::string_view line, std::uint64_t at) {
        const QString held = qs(line);
        const int start = at == from.at ? from.column : 0;
        if (at >= to.at) {
            text += held.mid(start, to.column - start);
            return false;
        }
        text += held.mid(start);
        text += QLatin1Char('\n');
        return true;
    });
    return text;
}

ReportPager::ReportPager(const dz::ui::ReportDocument& report, QWidget* parent)
    : QAbstractScrollArea(parent), rule_(std::clamp(report.width, 1, 132), QLatin1Char('=')) {
    if (!report.lines.empty()) {
        // Lines handed over in memory (a small document) are spooled with the rest: one way to
        // read them.
        auto spool = std::make_shared<dz::ui::LineSpool>();
        dz::ui::for_each_line(report, [&spool](std::string_view l) {
            spool->add(l);
            return true;
        });
        lines_ = std::move(spool);
    } else {
        lines_ = report.spool ? report.spool : std::make_shared<const dz::ui::LineSpool>();
    }
    setFont(fixedFont());
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    index();
    updateScrollBars();
}

void ReportPager::index() {
    marks_.clear();
    rows_ = 0;
    widest_ = 0;
    window_.clear();
    indexed_ = lines_->size();
    std::uint64_t n = 0;
    whole_ = lines_->for_each_from(0, [this, &n](std::string_view line, std::uint64_t at) {
        if (n++ % kLinesPerMark == 0) marks_.push_back({at, rows_});
        rows_ += startsPage(line) && at != 0 ? 4 : 1;
        widest_ = std::max(widest_, characters(line));
        return true;
    });
    marks_.shrink_to_fit();
}

void ReportPager::eachRow(std::uint64_t first, const std::function<bool(std::uint64_t, const QString&)>& each) const {
    if (first >= rows_ || marks_.empty()) return;
    auto mark = std::upper_bound(marks_.begin(), marks_.end(), first,
                                 [](std::uint64_t row, const Mark& m) { return row < m.row; });
    --mark;
    std::uint64_t row = mark->row;
    const QString blank;
    lines_->for_each_from(mark->at, [&](std::string_view line, std::uint64_t at) {
        const bool page = startsPage(line);
        if (page) line.remove_prefix(1);
        if (page && at != 0)
            for (const QString* r : {&blank, &rule_, &blank})
                if (row++ >= first && !each(row - 1, *r)) return false;
        if (row >= first && !each(row, qs(line))) return false;
        ++row;
        return row < rows_;
    });
}

QString ReportPager::rowsText(std::uint64_t first, std::uint64_t count) const {
    QString text;
    eachRow(first, [&](std::uint64_t r, const QString& line) {
        if (r >= first + count) return false;
        if (r > first) text += QLatin1Char('\n');
        text += line;
        return true;
    });
    return text;
}

const QString& ReportPager::row(std::uint64_t r) const {
    static const QString none;
    if (r >= rows_) return none;
    if (r < windowFirst_ || r - windowFirst_ >= static_cast<std::uint64_t>(window_.size())) {
        // The view's rows and a view's worth either side: scrolling a row or a page reads nothing.
        const auto around = static_cast<std::uint64_t>(visibleRows());
        windowFirst_ = r > around ? r - around : 0;
        window_.clear();
        eachRow(windowFirst_, [&](std::uint64_t, const QString& line) {
            window_ << line;
            return static_cast<std::uint64_t>(window_.size()) < 3 * around + 1;
        });
        if (r - windowFirst_ >= static_cast<std::uint64_t>(window_.size())) return none;
    }
    return window_[static_cast<qsizetype>(r - windowFirst_)];
}

std::uint64_t ReportPager::topRow() const { return static_cast<std::uint64_t>(verticalScrollBar()->value()); }

int ReportPager::lineHeight() const { return std::max(1, fontMetrics().lineSpacing()); }

int ReportPager::visibleRows() const { return std::max(1, viewport()->height() / lineHeight()); }

void ReportPager::updateScrollBars() {
    const int rows = visibleRows();
    verticalScrollBar()->setRange(0, clampedInt(rows_ > static_cast<std::uint64_t>(rows) ? rows_ - rows : 0));
    verticalScrollBar()->setPageStep(rows);
    verticalScrollBar()->setSingleStep(1);
    const int advance = fontMetrics().horizontalAdvance(QLatin1Char('M'));
    const int width = std::max(widest_, static_cast<int>(rule_.size())) * advance + kMargin;
    horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(advance);
}

void ReportPager::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    window_.clear();
    updateScrollBars();
}

void ReportPager::scrollContentsBy(int, int) { viewport()->update(); }

int ReportPager::xOf(const QString& text, int column) const {
    return kMargin - horizontalScrollBar()->value() + fontMetrics().horizontalAdvance(text.left(column));
}

void ReportPager::paintEvent(QPaintEvent*) {
    // A report file written again since it was shown is shown as it is now.
    if (lines_->size() != indexed_) {
        index();
        updateScrollBars();
    }
    QPainter p(viewport());
    p.fillRect(viewport()->rect(), palette().base());
    const int height = lineHeight();
    const int ascent = fontMetrics().ascent();
    const auto [from, to] = std::minmax(anchor_, caret_);
    const std::uint64_t top = topRow();
    for (int i = 0; i <= visibleRows() && top + i < rows_; ++i) {
        const std::uint64_t r = top + static_cast<std::uint64_t>(i);
        const QString& text = row(r);
        const int y = i * height;
        p.setPen(palette().text().color());
        p.drawText(xOf(text, 0), y + ascent, text);
        if (from == to || r < from.row || r > to.row) continue;
        // The selected part over it, a character's width past a line end it runs over.
        const int start = r == from.row ? std::min(from.column, static_cast<int>(text.size())) : 0;
        const int end = r == to.row ? std::min(to.column, static_cast<int>(text.size())) : static_cast<int>(text.size());
        const int x0 = xOf(text, start);
        int x1 = xOf(text, end);
        if (r != to.row) x1 += fontMetrics().horizontalAdvance(QLatin1Char(' '));
        p.fillRect(QRect(x0, y, x1 - x0, height), palette().highlight());
        p.setPen(palette().highlightedText().color());
        p.drawText(x0, y + ascent, text.mid(start, end - start));
    }
}

ReportPager::Place ReportPager::placeAt(const QPoint& point) const {
    // Above the view: the row before it (a drag that scrolled up); below the last row: its end.
    const std::int64_t r = static_cast<std::int64_t>(topRow()) + (point.y() < 0 ? -1 : point.y() / lineHeight());
    if (r < 0) return {0, 0};
    if (static_cast<std::uint64_t>(r) >= rows_) return {rows_, 0};
    const QString& text = row(static_cast<std::uint64_t>(r));
    int column = 0;
    // The character boundary nearest the point.
    while (column < text.size()) {
        const int mid = (xOf(text, column) + xOf(text, column + 1)) / 2;
        if (point.x() < mid) break;
        ++column;
    }
    return {static_cast<std::uint64_t>(r), column};
}

ReportPlace ReportPager::reportPlace(Place place) const {
    // After the last row: after the last line.
    ReportPlace found{indexed_, 0};
    if (marks_.empty()) return found;
    auto mark = std::upper_bound(marks_.begin(), marks_.end(), place.row,
                                 [](std::uint64_t row, const Mark& m) { return row < m.row; });
    --mark;
    std::uint64_t row = mark->row;
    lines_->for_each_from(mark->at, [&](std::string_view line, std::uint64_t at) {
        const bool page = startsPage(line);
        if (page && at != 0) row += 3;
        // The blank, the rule and the blank before a page stand for where the page starts.
        if (row > place.row)
            found = {at, 0};
        else if (row == place.row)
            found = {at, place.column + (page ? 1 : 0)};
        return ++row <= place.row;
    });
    return found;
}

std::pair<ReportPlace, ReportPlace> ReportPager::selection() const {
    const auto [from, to] = std::minmax(anchor_, caret_);
    return {reportPlace(from), reportPlace(to)};
}

QString ReportPager::selectedText() const {
    const auto [from, to] = selection();
    return reportText(*lines_, from, to);
}

void ReportPager::offerSelection(QClipboard::Mode mode) const {
    const auto [from, to] = selection();
    if (!(from < to)) return;
    QGuiApplication::clipboard()->setMimeData(new ReportSelection(lines_, from, to), mode);
}

void ReportPager::selectAll() {
    anchor_ = {0, 0};
    caret_ = {rows_, 0};
    viewport()->update();
}

void ReportPager::copy() const { offerSelection(QClipboard::Clipboard); }

bool ReportPager::extendSelection(int key) {
    const std::uint64_t top = topRow();
    const auto shown = static_cast<std::uint64_t>(visibleRows());
    // Nothing selected where the person looks: the selection starts at the top of the view,
    // not at a place scrolled out of sight long ago. The report's end is in sight with its last row.
    const bool seen = caret_.row >= top && (caret_.row < top + shown || (caret_.row == rows_ && rows_ <= top + shown));
    if (anchor_ == caret_ && !seen) anchor_ = caret_ = {top, 0};
    Place& to = caret_;
    const auto length = [this](std::uint64_t r) { return static_cast<int>(row(r).size()); };
    switch (key) {
    case Qt::Key_Up:
    case Qt::Key_PageUp: {
        const std::uint64_t by = key == Qt::Key_Up ? 1 : shown;
        if (to.row == 0) to.column = 0;  // above the first row: its start
        to.row = to.row > by ? to.row - by : 0;
        break;
    }
    case Qt::Key_Down:
    case Qt::Key_PageDown:
        to.row = std::min(to.row + (key == Qt::Key_Down ? 1 : shown), rows_);
        if (to.row == rows_) to.column = 0;  // past the last row: the report's end
        break;
    case Qt::Key_Left: {
        // From past a short row's end, as from its end.
        const int at = to.row < rows_ ? std::min(to.column, length(to.row)) : 0;
        if (at > 0) {
            to.column = at - 1;
        } else if (to.row > 0) {
            --to.row;
            to.column = length(to.row);
        }
        break;
    }
    case Qt::Key_Right:
        if (to.row >= rows_) break;
        if (to.column < length(to.row)) {
            ++to.column;
        } else {
            ++to.row;
            to.column = 0;
        }
        break;
    case Qt::Key_Home: to = {0, 0}; break;
    case Qt::Key_End: to = {rows_, 0}; break;
    default: return false;
    }
    // The view follows the end that moved.
    if (to.row < top) verticalScrollBar()->setValue(clampedInt(to.row));
    else if (to.row >= top + shown && to.row < rows_) verticalScrollBar()->setValue(clampedInt(to.row - shown + 1));
    else if (to.row == rows_) verticalScrollBar()->triggerAction(QScrollBar::SliderToMaximum);
    viewport()->update();
    return true;
}

void ReportPager::keyPressEvent(QKeyEvent* event) {
    QScrollBar* v = verticalScrollBar();
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool ends = event->key() == Qt::Key_Home || event->key() == Qt::Key_End;
    // Shift with the arrows and Page Up or Down moves the selection's end, as in any text.
    if (shift && !ctrl && !ends && extendSelection(event->key())) {
        event->accept();
        return;
    }
    if (event == QKeySequence::Copy) {
        copy();
    } else if (event == QKeySequence::SelectAll) {
        selectAll();
    } else if (ends) {
        // The report's start or end, with Ctrl or without: there is no cursor to move in a line.
        // The selection's moving end goes there with the view, so that Shift with a key goes on
        // from what is in sight; with Shift the selection runs there, else it starts afresh there.
        extendSelection(event->key());
        if (!shift) anchor_ = caret_;
        if (event->key() == Qt::Key_Home) horizontalScrollBar()->triggerAction(QScrollBar::SliderToMinimum);
    } else if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown) {
        v->triggerAction(event->key() == Qt::Key_PageUp ? QScrollBar::SliderPageStepSub : QScrollBar::SliderPageStepAdd);
    } else if ((event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) && !ctrl) {
        v->triggerAction(event->key() == Qt::Key_Up ? QScrollBar::SliderSingleStepSub : QScrollBar::SliderSingleStepAdd);
    } else if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) {
        horizontalScrollBar()->triggerAction(event->key() == Qt::Key_Left ? QScrollBar::SliderSingleStepSub
                                                                         : QScrollBar::SliderSingleStepAdd);
    } else {
        event->ignore();  // Escape and the rest go to the window
        return;
    }
    event->accept();
}

void ReportPager::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
    caret_ = placeAt(event->position().toPoint());
    if (!(event->modifiers() & Qt::ShiftModifier)) anchor_ = caret_;
    viewport()->update();
}

void ReportPager::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) return QAbstractScrollArea::mouseMoveEvent(event);
    const QPoint at = event->position().toPoint();
    // Dragged past the top or the bottom, the view follows.
    if (at.y() < 0) verticalScrollBar()->triggerAction(QScrollBar::SliderSingleStepSub);
    if (at.y() > viewport()->height()) verticalScrollBar()->triggerAction(QScrollBar::SliderSingleStepAdd);
    caret_ = placeAt(at);
    viewport()->update();
}

void ReportPager::mouseReleaseEvent(QMouseEvent* event) {
    // What was selected is the selection to paste with the middle button, where there is one.
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (event->button() == Qt::LeftButton && anchor_ != caret_ && clipboard->supportsSelection())
        offerSelection(QClipboard::Selection);
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void ReportPager::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copyIt = menu.addAction(tr("&Copy"));
    copyIt->setShortcut(QKeySequence::Copy);
    copyIt->setEnabled(anchor_ != caret_);
    connect(copyIt, &QAction::triggered, this, [this] { copy(); });
    QAction* all = menu.addAction(tr("Select All"));
    all->setShortcut(QKeySequence::SelectAll);
    connect(all, &QAction::triggered, this, [this] { selectAll(); });
    menu.exec(event->globalPos());
}

}  // namespace dz::gui
