// A report shown a page at a time, as a pager shows a file: the view keeps where every so many
// of the report's lines start and reads the lines in view from where the report is (its spool
// or its file) as they come into view, so that what the desktop holds for a report does not grow
// with it. A page break shows as a rule across the report between blank lines: each text file's
// section of a run starts a page, and the sections stand apart as they do on paper.
#pragma once

#include <QAbstractScrollArea>
#include <QClipboard>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "platform/ui/ui.h"

namespace dz::gui {

// A place in a report's lines: the line that starts `at` bytes into them, and a character of it
// as the report holds it (a page's '\f' counted). At the lines' size: after the last line.
struct ReportPlace {
    std::uint64_t at = 0;
    int column = 0;
    auto operator<=>(const ReportPlace&) const = default;
};

// The text of `lines` from `from` to `to`, each whole line with its line end.
QString reportText(const dz::ui::LineSpool& lines, ReportPlace from, ReportPlace to);

class ReportPager : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit ReportPager(const dz::ui::ReportDocument& report, QWidget* parent = nullptr);

    // The rows shown: the report's lines, and a blank, the rule and a blank before each line
    // that starts a page (but the first).
    std::uint64_t rowCount() const { return rows_; }
    // `count` rows from `first`, one a line.
    QString rowsText(std::uint64_t first, std::uint64_t count) const;
    // The row at the top of the view.
    std::uint64_t topRow() const;
    // False when the report's lines could not be read back whole when it was shown.
    bool readWhole() const { return whole_; }

    // What is selected, as the report holds it: its lines each with its line end, a page's
    // '\f' where its line starts, and none of the rows the view draws between pages.
    QString selectedText() const;

public slots:
    void selectAll();
    // The selection to the clipboard (Ctrl+C, Edit > Copy, the context menu). The clipboard is
    // given where the selection is in the report, not its text: the lines are read from the
    // report when they are pasted, so that copying a long report holds none of it.
    void copy() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // A place in the rows: a row and a character of it (row == rowCount(): after the last).
    struct Place {
        std::uint64_t row = 0;
        int column = 0;
        auto operator<=>(const Place&) const = default;
    };
    // Where a line starts in the report and the first row it shows in, every kLinesPerMark lines.
    struct Mark {
        std::uint64_t at = 0;
        std::uint64_t row = 0;
    };

    void index();
    // Gives the rows from `first` in turn to `each` (which returns false to stop).
    void eachRow(std::uint64_t first, const std::function<bool(std::uint64_t row, const QString& text)>& each) const;
    // The row `row` as shown, read through a small window of rows kept around the view.
    const QString& row(std::uint64_t row) const;
    void updateScrollBars();
    // Moves the selection's moving end by a row, a page or a character for `key` (an arrow, Page
    // Up or Down), or to the report's start or end (Home, End); false for any other key.
    bool extendSelection(int key);
    int visibleRows() const;
    int lineHeight() const;
    Place placeAt(const QPoint& point) const;
    // Where `place` is in the report's lines (a row drawn between pages: where the page starts).
    ReportPlace reportPlace(Place place) const;
    // The selection's ends in the report's lines, the first first.
    std::pair<ReportPlace, ReportPlace> selection() const;
    // Gives the selection to the clipboard's `mode` (the clipboard, or the X selection).
    void offerSelection(QClipboard::Mode mode) const;
    int xOf(const QString& text, int column) const;

    std::shared_ptr<const dz::ui::LineSpool> lines_;
    QString rule_;
    std::vector<Mark> marks_;
    std::uint64_t rows_ = 0;
    int widest_ = 0;              // the widest line's characters
    std::uint64_t indexed_ = 0;   // the bytes of the lines when they were indexed
    bool whole_ = true;
    mutable std::uint64_t windowFirst_ = 0;
    mutable QStringList window_;  // the rows in and around the view
    Place anchor_, caret_;        // the selection, from where it was started to where it ends
};

}  // namespace dz::gui
