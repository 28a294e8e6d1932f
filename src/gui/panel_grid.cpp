// The grid of a panel as a table view: the core's lines shown through a model, one editor at
// a time limited to the column's size (capitals where the column wants them, a drop-down for
// a list column). Leaving a cell is not decided here: the view goes back to the core's cursor
// and reports the cell wanted (gridLeft); the program accepts the cell and moves the cursor,
// or refuses it, and then the cursor stays in the cell with the text typed.
#include "gui/panel_widget.h"
#include "gui/length_guard.h"
#include "gui/shown_edit.h"
#include "platform/ui/shown_text.h"

#include <QAbstractTableModel>
#include <QComboBox>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QScrollBar>
#include <QStyle>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QAction>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <functional>

namespace dz::gui {

namespace {
// The data files and messages hold UTF-8.
QString qs(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string ss(const QString& s) { return s.toUtf8().toStdString(); }
// A cell's text as it is held: the refused cell holds what was typed into it.
std::string storedText(const dz::ui::Grid& g, int line, int column) {
    if (g.refused() && line == g.cursor_line() && column == g.cursor_column()) return g.edit_text;
    return g.cell(line, column);
}
// A cell's text as it is shown and edited: a control character in a value (ESC) written out as
// "\033", never drawn as a glyph or acted on.
QString shownCell(const std::string& text) { return qs(dz::ui::shown_text(text)); }
}  // namespace

class GridModel : public QAbstractTableModel {
public:
    explicit GridModel(dz::ui::Panel& panel, QObject* parent) : QAbstractTableModel(parent), panel_(panel) {}
    dz::ui::Grid* grid() const { return panel_.grid(); }
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() || !grid() ? 0 : grid()->line_count();
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() || !grid() ? 0 : static_cast<int>(grid()->columns.size());
    }
    QVariant data(const QModelIndex& i, int role) const override {
        const dz::ui::Grid* g = grid();
        if (!g || !i.isValid()) return {};
        // The refused cell shows what was typed into it.
        if (role == Qt::DisplayRole || role == Qt::EditRole) return shownCell(storedText(*g, i.row(), i.column()));
        if (role == Qt::TextAlignmentRole && g->columns[static_cast<std::size_t>(i.column())].right_justify)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override {
        const dz::ui::Grid* g = grid();
        if (role != Qt::DisplayRole || !g) return {};
        if (o == Qt::Vertical) return section + 1;
        if (section < 0 || section >= static_cast<int>(g->columns.size())) return {};
        QStringList lines;
        for (const auto& l : g->columns[static_cast<std::size_t>(section)].header) lines << qs(l);
        return lines.join(QLatin1Char('\n'));
    }
    Qt::ItemFlags flags(const QModelIndex& i) const override {
        Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
        const dz::ui::Grid* g = grid();
        if (g && i.isValid() && g->columns[static_cast<std::size_t>(i.column())].enabled) f |= Qt::ItemIsEditable;
        return f;
    }
    // What the person typed goes to the core as the edit text of the cursor's cell; the line
    // itself changes only when the program accepts the cell.
    bool setData(const QModelIndex& i, const QVariant& v, int role) override {
        dz::ui::Grid* g = grid();
        if (!g || role != Qt::EditRole) return false;
        if (i.row() == g->cursor_line() && i.column() == g->cursor_column()) g->edit_text = ss(v.toString());
        return true;
    }
    void reset() {
        beginResetModel();
        endResetModel();
    }
    void changed() {
        if (rowCount() > 0 && columnCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
    }

private:
    dz::ui::Panel& panel_;
};

class GridDelegate : public QStyledItemDelegate {
public:
    GridDelegate(dz::ui::Panel& panel, QObject* parent) : QStyledItemDelegate(parent), panel_(panel) {}
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& i) const override {
        const dz::ui::Grid* g = panel_.grid();
        if (!g) return nullptr;
        index_ = i;
        const auto& col = g->columns[static_cast<std::size_t>(i.column())];
        if (!col.items.empty()) {
            auto* c = new QComboBox(parent);
            for (const auto& item : col.items) c->addItem(qs(item));
            editor_ = c;
            return c;
        }
        auto* e = new QLineEdit(parent);
        stored_ = storedText(*g, i.row(), i.column());
        // The size counts the characters the value holds, not those it is shown with ("\033" is one).
        e->setValidator(new LengthGuard(std::max(1, col.size), e, [stored = stored_](const QString& input) {
            return qs(editedBack(stored, ss(input))).size();
        }));
        if (col.capitals)
            QObject::connect(e, &QLineEdit::textEdited, e, [e](const QString& t) {
                const int pos = e->cursorPosition();
                e->setText(t.toUpper());
                e->setCursorPosition(pos);
            });
        editor_ = e;
        return e;
    }
    void setEditorData(QWidget* editor, const QModelIndex& i) const override {
        const QString text = i.data(Qt::EditRole).toString();
        if (auto* c = qobject_cast<QComboBox*>(editor)) {
            int n = c->findText(text);
            if (n < 0 && !text.isEmpty()) {
                c->addItem(text);
                n = c->count() - 1;
            }
            c->setCurrentIndex(n);
        } else if (auto* e = qobject_cast<QLineEdit*>(editor)) {
            e->setText(text);
        }
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& i) const override {
        if (auto* c = qobject_cast<QComboBox*>(editor))
            model->setData(i, c->currentText(), Qt::EditRole);
        else if (auto* e = qobject_cast<QLineEdit*>(editor))
            model->setData(i, qs(editedBack(stored_, ss(e->text()))), Qt::EditRole);
    }
    QWidget* editor() const { return editor_.data(); }
    // The text in the open editor of the grid's cursor cell, if one is open there.
    bool openText(QString& text) const {
        const dz::ui::Grid* g = panel_.grid();
        if (!g || !index_.isValid() || index_.row() != g->cursor_line() || index_.column() != g->cursor_column())
            return false;
        if (auto* c = qobject_cast<QComboBox*>(editor_.data())) {
            text = c->currentText();
            return true;
        }
        if (auto* e = qobject_cast<QLineEdit*>(editor_.data())) {
            text = qs(editedBack(stored_, ss(e->text())));
            return true;
        }
        return false;
    }

private:
    dz::ui::Panel& panel_;
    mutable std::string stored_;  // the value of the cell whose editor is open, as held
    mutable QPointer<QWidget> editor_;
    mutable QPersistentModelIndex index_;
};

// The table view, with the grid's own ways of moving on: Tab or Enter (with automatic advance)
// past the last cell asks for the line below it, which the program adds when the line typed
// is complete.
class GridView : public QTableView {
public:
    GridView(dz::ui::Panel& panel, std::function<void(int, int)> leave, QWidget* parent)
        : QTableView(parent), panel_(panel), leave_(std::move(leave)) {}

    // Opens the editor of the cursor's cell unless it is open already.
    void editCurrent() {
        if (state() != QAbstractItemView::EditingState) edit(currentIndex(), AllEditTriggers, nullptr);
    }

protected:
    // A click on the cursor's cell opens its editor at once. The view's own way waits out the
    // double-click time first and meanwhile takes typed keys as a search among the rows, so
    // a value typed right after the click was dropped.
    void mousePressEvent(QMouseEvent* e) override {
        const QModelIndex at = indexAt(e->position().toPoint());
        pressedCurrent_ = e->button() == Qt::LeftButton && at.isValid() && at == currentIndex();
        QTableView::mousePressEvent(e);
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        QTableView::mouseReleaseEvent(e);
        if (pressedCurrent_ && indexAt(e->position().toPoint()) == currentIndex()) editCurrent();
        pressedCurrent_ = false;
    }
    // Typing never searches the rows: outside an editor a key either opens one or does nothing.
    void keyboardSearch(const QString&) override {}
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override {
        const dz::ui::Grid* g = panel_.grid();
        if (g && hint == QAbstractItemDelegate::SubmitModelCache && g->auto_advance)
            hint = QAbstractItemDelegate::EditNextItem;
        if (g && hint == QAbstractItemDelegate::EditNextItem && atEnd()) {
            QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
            leave_(currentIndex().row() + 1, 0);
            return;
        }
        QTableView::closeEditor(editor, hint);
    }
    void keyPressEvent(QKeyEvent* e) override {
        const dz::ui::Grid* g = panel_.grid();
        const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
        if (g && state() != QAbstractItemView::EditingState &&
            (e->key() == Qt::Key_Tab || (enter && g->auto_advance))) {
            if (atEnd()) {
                leave_(currentIndex().row() + 1, 0);
                return;
            }
            if (enter) {
                const QModelIndex i = currentIndex();
                const int last = model()->columnCount() - 1;
                setCurrentIndex(i.column() < last ? model()->index(i.row(), i.column() + 1)
                                                  : model()->index(i.row() + 1, 0));
                return;
            }
        }
        if (e->key() == Qt::Key_Escape && state() != QAbstractItemView::EditingState) {
            e->ignore();  // the window's escape
            return;
        }
        QTableView::keyPressEvent(e);
    }

private:
    bool atEnd() const {
        const QModelIndex i = currentIndex();
        return i.isValid() && i.row() == model()->rowCount() - 1 && i.column() == model()->columnCount() - 1;
    }
    dz::ui::Panel& panel_;
    std::function<void(int, int)> leave_;
    bool pressedCurrent_ = false;
};

void PanelWidget::buildGrid() {
    if (gridView_ || !panel_.grid()) return;
    gridModel_ = new GridModel(panel_, this);
    gridDelegate_ = new GridDelegate(panel_, this);
    gridView_ = new GridView(
        panel_,
        [this](int line, int column) {
            QTimer::singleShot(0, this, [this, line, column] {
                if (detached_) return;
                syncGrid();
                emit gridLeft(line, column);
            });
        },
        this);
    gridView_->setObjectName(QStringLiteral("grid"));
    gridView_->setModel(gridModel_);
    gridView_->setItemDelegate(gridDelegate_);
    gridView_->setSelectionMode(QAbstractItemView::SingleSelection);
    gridView_->setSelectionBehavior(QAbstractItemView::SelectItems);
    // An editor opens on a key or a click, never by the program's moving the cursor.
    // A click on the cursor's cell is handled by the view itself (see GridView).
    gridView_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                               QAbstractItemView::AnyKeyPressed);
    gridView_->setTabKeyNavigation(true);
    gridView_->setFont(font_);
    gridView_->verticalHeader()->setDefaultSectionSize(cell_.height() - 6);
    // Rows scroll whole: none stands half under the header.
    gridView_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    // Moving the cursor is the program's decision: the view reports the cell wanted and goes
    // back to the core's cursor until the program moves it.
    connect(gridView_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& now, const QModelIndex&) {
                dz::ui::Grid* g = panel_.grid();
                if (syncingGrid_ || !g || !now.isValid()) return;
                if (now.row() == g->cursor_line() && now.column() == g->cursor_column()) return;
                const int line = now.row(), column = now.column();
                QTimer::singleShot(0, this, [this, line, column] {
                    if (detached_) return;
                    syncGrid();
                    emit gridLeft(line, column);
                });
            });
    gridView_->show();
}

std::vector<int> gridColumnCells(const dz::ui::Grid& g, int room) {
    // Each column as wide as its header and the widest value it holds, up to what its size
    // can show; the room left is shared out, so that no column needs a horizontal scroll
    // while another stands half empty.
    std::vector<int> wanted, most;
    for (std::size_t c = 0; c < g.columns.size(); ++c) {
        const auto& col = g.columns[c];
        int header = 0;
        for (const auto& h : col.header) header = std::max(header, static_cast<int>(qs(h).size()));
        int longest = 0;
        for (int l = 0; l < g.line_count(); ++l) {
            const auto& line = g.line(l);
            if (c < line.size()) longest = std::max(longest, static_cast<int>(shownCell(line[c]).size()));
        }
        const int full = std::max({col.display_width, col.header_width, col.size});
        wanted.push_back(std::max({header, std::min(longest, full), 4}) + 2);
        most.push_back(std::max(full, header) + 2);
    }
    int total = 0;
    for (int w : wanted) total += w;
    // Spare room goes to the columns that could show more, one cell at a time.
    for (bool grew = true; grew && total < room;) {
        grew = false;
        for (std::size_t c = 0; c < wanted.size() && total < room; ++c)
            if (wanted[c] < most[c]) {
                ++wanted[c];
                ++total;
                grew = true;
            }
    }
    return wanted;
}

QList<QAction*> PanelWidget::menuActions() const {
    QList<QAction*> out;
    if (!gridView_) return out;
    const auto actions = gridView_->actions();
    for (QAction* a : actions)
        if (a->property("onMenu").toBool()) out << a;
    return out;
}

void PanelWidget::focusGrid() {
    if (!gridView_) return;
    if (QWidget* e = gridDelegate_ ? gridDelegate_->editor() : nullptr; e && e->isVisible())
        e->setFocus();
    else
        gridView_->setFocus();
}

void PanelWidget::storeGrid() {
    dz::ui::Grid* g = panel_.grid();
    if (!g || !gridDelegate_) return;
    QString text;
    if (gridDelegate_->openText(text)) g->edit_text = ss(text);
}

void PanelWidget::syncGrid() {
    dz::ui::Grid* g = panel_.grid();
    if (!g) {
        if (gridView_) gridView_->hide();
        return;
    }
    buildGrid();
    // Keys that run commands, also offered on the grid's context menu.
    if (gridView_->actions().size() != static_cast<qsizetype>(panel_.keys().size())) {
        for (QAction* a : gridView_->actions()) delete a;
        gridView_->setContextMenuPolicy(Qt::ActionsContextMenu);
        for (const auto& k : panel_.keys()) {
            auto* a = new QAction(qs(k.text), gridView_);
            a->setShortcut(QKeySequence(qs(k.key)));
            a->setShortcutContext(Qt::WindowShortcut);
            a->setData(k.command);
            a->setProperty("onMenu", k.on_menu);
            a->setEnabled(k.enabled);
            const int n = k.command;
            connect(a, &QAction::triggered, this, [this, n] {
                storeGrid();
                emit buttonPressed(n);
            });
            gridView_->addAction(a);
        }
        emit menuActionsChanged();
    }
    syncingGrid_ = true;
    const int scrolled = gridView_->verticalScrollBar()->value();
    if (g->structure_changed || gridModel_->rowCount() != g->line_count()) {
        gridModel_->reset();
    } else {
        gridModel_->changed();
    }
    // From row 2 to three rows above the bottom, from column 2, left of the button column.
    const QRect area = cellRect(2, 2, panel_.cols() - 16, panel_.rows() - 4);
    gridView_->setGeometry(area);
    // The row numbers take the room of the largest, in the bold of the cursor's line, with a
    // cell to spare: the header's own measure fits it to the pixel, and a font that draws a
    // pixel wider would show the number cut.
    QHeaderView* rowNumbers = gridView_->verticalHeader();
    QFont bold = rowNumbers->font();
    bold.setBold(true);
    const QString largest = QString::number(std::max(1, g->line_count()));
    const int margin = rowNumbers->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, rowNumbers);
    rowNumbers->setMinimumWidth(static_cast<int>(std::ceil(QFontMetricsF(bold).horizontalAdvance(largest))) +
                                2 * margin + cell_.width());
    // The room the columns share: the view less its row numbers, its scroll bar and its frame.
    const int chrome = std::max(rowNumbers->minimumWidth(), rowNumbers->sizeHint().width()) +
                       gridView_->verticalScrollBar()->sizeHint().width() + 2 * gridView_->frameWidth() + 2;
    const std::vector<int> widths = gridColumnCells(*g, (area.width() - chrome) / std::max(1, cell_.width()));
    for (std::size_t c = 0; c < widths.size(); ++c)
        gridView_->setColumnWidth(static_cast<int>(c), widths[c] * cell_.width());
    gridView_->setVerticalScrollBarPolicy(g->thumb_position < 0 ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    const QModelIndex cur = gridModel_->index(g->cursor_line(), g->cursor_column());
    if (cur.isValid()) {
        // A grid opens at its first row, wherever its cursor starts (a table's on the new line
        // at its end); from then on the view follows the cursor when the program moves it, and
        // stays where the person scrolled it when it does not.
        const QPoint at(cur.column(), cur.row());
        const bool opening = gridCursor_.y() < 0, moved = at != gridCursor_;
        gridCursor_ = at;
        gridView_->setCurrentIndex(cur);
        if (opening)
            gridView_->scrollToTop();
        else if (moved)
            gridView_->scrollTo(cur);
        else
            gridView_->verticalScrollBar()->setValue(scrolled);
        if (g->refused()) {
            static_cast<GridView*>(gridView_)->editCurrent();
            focusGrid();
        }
    }
    syncingGrid_ = false;
}

}  // namespace dz::gui
