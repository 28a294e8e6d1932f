// Draws one panel of the screen file in character cells with a fixed-pitch font: its texts in
// their cells, its fields as edit boxes, radio buttons, lists and check boxes at their cells, its
// buttons, and a progress bar where the panel has one. The panel's state stays in the core's
// Panel; this widget shows it (sync) and hands back what the person typed (store).
#pragma once

#include <QPoint>
#include <QWidget>
#include <map>
#include <vector>

#include "platform/ui/panel.h"

class QAction;
class QButtonGroup;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QTableView;

namespace dz::gui {

class GridModel;
class GridDelegate;

// The widths, in character cells, of a grid's columns fitted into `room` cells: each as wide as
// its header and its widest value (up to what its size shows), spare room shared out.
std::vector<int> gridColumnCells(const dz::ui::Grid& g, int room);

class PanelWidget : public QWidget {
    Q_OBJECT
public:
    explicit PanelWidget(dz::ui::Panel& panel, QWidget* parent = nullptr);

    dz::ui::Panel& panel() const { return panel_; }
    int handle() const { return panel_.handle(); }

    // Shows the panel's current state (texts, field values, buttons, progress).
    void sync();
    // Writes what the person typed, chose or checked into the panel's fields (one field: `n`).
    void store();
    void store(int n);

    // Cuts the widget loose from its panel, which the core is about to destroy.
    void detach() { detached_ = true; }

    // One character cell in pixels.
    QSize cellSize() const { return cell_; }
    QSize sizeHint() const override;
    // A panel's texts, fields and buttons stand at fixed cells: it has no smaller form.
    QSize minimumSizeHint() const override { return sizeHint(); }

    QPushButton* button(int n) const;
    QWidget* fieldWidget(int n) const;
    QProgressBar* progressBar() const { return bar_; }
    // The table view of a panel with a grid (see platform/ui/grid.h), null otherwise.
    QTableView* gridView() const { return gridView_; }
    // Gives the keyboard to the grid: to the editor of a refused cell, else to the view.
    void focusGrid();
    // The text of the panel's row `row` (trailing blanks removed), shown or scrolled away.
    QString rowText(int row) const;

    // A list-like panel with a scroll thumb (a proportion) and more rows than that proportion
    // shows scrolls: only `visibleRows()` rows are drawn, from the panel's scroll position on,
    // with a scroll bar beside them. Any other panel shows all its rows from row 1.
    bool scrolls() const;
    int firstVisibleRow() const;
    int visibleRows() const;
    QScrollBar* scrollBar() const { return scroll_; }

    // Converts a screen-file label ("~Stop") to a Qt mnemonic ("&Stop").
    static QString mnemonic(const std::string& label);
    // The letters the main window's menu bar takes: a button's key is another, so that Alt and
    // a letter never stand for a menu and a button at once.
    static void reserveMnemonics(const QString& letters);
    // Button `n`'s text: its label with a key that neither the menu bar nor an earlier button of
    // the panel has.
    QString buttonText(int n) const;
    // The panel's keyed commands that also stand on the window's File menu (see KeyCommand).
    QList<QAction*> menuActions() const;
    // True for fields typed into (text, number, date), whose change is known only when left.
    bool isTyped(int n) const;
    // The button Enter in a typed field stands for: the panel's first (OK, Start), when it is
    // shown, enabled and not its escape; 0 when there is none.
    int defaultButton() const;

signals:
    void buttonPressed(int n);
    void escapePressed();
    // Enter in a typed field (see defaultButton).
    void enterInField();
    // The person closes the panel's window (its close box); the window stays until the
    // program closes the panel.
    void closeRequested();
    // The person changed field `n` (typed into it and left it, or picked, ticked or selected).
    void fieldEdited(int n);
    // The person left the grid's current cell for (line, column); what they typed is in the
    // grid's edit text.
    void gridLeft(int line, int column);
    // The person scrolls a scrolling panel: `msg` kMsgScrollKey with key 5/6 (a row up/down) or
    // 13/14 (a page), or kMsgScrollTo with key = the first row wanted.
    void scrollRequested(int msg, int key);
    // The keyed commands were made afresh: menuActions() are new.
    void menuActionsChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void build();
    void buildField(const dz::ui::FieldState& f);
    QRect cellRect(int row, int col, int width, int height = 1) const;
    void placeScrollBar();
    void buildGrid();
    void syncGrid();
    void storeGrid();

    dz::ui::Panel& panel_;
    QFont font_;
    QSize cell_;
    std::map<int, QWidget*> fields_;
    std::map<int, QButtonGroup*> radioGroups_;
    std::map<int, QPushButton*> buttons_;
    QProgressBar* bar_ = nullptr;
    QScrollBar* scroll_ = nullptr;
    QTableView* gridView_ = nullptr;
    GridModel* gridModel_ = nullptr;
    GridDelegate* gridDelegate_ = nullptr;
    bool syncingGrid_ = false;
    QPoint gridCursor_{-1, -1};  // the grid's cursor (column, line) when the view last followed it
    bool detached_ = false;
};

}  // namespace dz::gui
