#include "gui/panel_widget.h"

#include "gui/cell_font.h"
#include "gui/length_guard.h"
#include "gui/mnemonics.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

namespace dz::gui {

using dz::ui::FieldKind;
using dz::ui::FieldState;

namespace {
// Panel texts are 8-bit; the suite's files are Latin-1 in practice.
// The data files and messages hold UTF-8.
QString qs(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string ss(const QString& s) { return s.toUtf8().toStdString(); }
}  // namespace

QString PanelWidget::mnemonic(const std::string& label) {
    std::string out;
    for (char c : label) {
        if (c == '&')
            out += "&&";
        else if (c == '~')
            out += '&';
        else
            out += c;
    }
    return QString::fromUtf8(out.data(), static_cast<qsizetype>(out.size()));
}

namespace {
QString& reservedMnemonics() {
    static QString letters;
    return letters;
}
}  // namespace

void PanelWidget::reserveMnemonics(const QString& letters) { reservedMnemonics() = letters.toLower(); }

QString PanelWidget::buttonText(int n) const {
    QString taken = reservedMnemonics();
    for (const auto& b : panel_.buttons()) {
        const QString text = uniqueMnemonic(mnemonic(b.def.label), taken);
        if (b.def.number == n) return text;
    }
    return {};
}

PanelWidget::PanelWidget(dz::ui::Panel& panel, QWidget* parent) : QWidget(parent), panel_(panel) {
    font_ = fixedFont();
    const int width = fitToCells(font_);
    setFont(font_);
    QFontMetrics fm(font_);
    // Rows leave room for an edit box or a button around the text.
    cell_ = QSize(width, fm.height() + 10);
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(true);
    build();
    sync();
}

QRect PanelWidget::cellRect(int row, int col, int width, int height) const {
    return QRect((col - 1) * cell_.width() + cell_.width() / 2, (row - 1) * cell_.height() + cell_.height() / 4,
                 width * cell_.width(), height * cell_.height());
}

QSize PanelWidget::sizeHint() const {
    if (detached_) return QWidget::sizeHint();
    const int bar = scrolls() && scroll_ ? scroll_->sizeHint().width() : 0;
    return QSize((panel_.cols() + 1) * cell_.width() + bar, visibleRows() * cell_.height() + cell_.height() / 2);
}

int PanelWidget::visibleRows() const {
    if (detached_) return 1;
    const int rows = panel_.rows();
    const int proportion = panel_.scroll_proportion();
    if (proportion <= 0) return rows;
    // The thumb's proportion is the share of the rows in view, in percent, rounded: the rows in
    // view are the most that proportion allows, never more than the window's described height.
    int shown = static_cast<int>(std::floor(rows * (proportion + 0.5) / 100.0));
    if (panel_.def().rows > 0) shown = std::min(shown, panel_.def().rows);
    return std::clamp(shown, 1, rows);
}

bool PanelWidget::scrolls() const { return !detached_ && visibleRows() < panel_.rows(); }

int PanelWidget::firstVisibleRow() const {
    if (!scrolls()) return 1;
    return std::clamp(panel_.scroll_position(), 1, panel_.rows() - visibleRows() + 1);
}

void PanelWidget::placeScrollBar() {
    if (!scrolls()) {
        if (scroll_) scroll_->hide();
        return;
    }
    if (!scroll_) {
        scroll_ = new QScrollBar(Qt::Vertical, this);
        scroll_->setFocusPolicy(Qt::NoFocus);
        // A click on an arrow or beside the thumb moves by keys, as the list's procedure reads
        // them; a drag or a jump to an end asks for a row.
        connect(scroll_, &QScrollBar::actionTriggered, this, [this](int action) {
            switch (action) {
            case QAbstractSlider::SliderSingleStepSub: emit scrollRequested(dz::ui::kMsgScrollKey, 5); break;
            case QAbstractSlider::SliderSingleStepAdd: emit scrollRequested(dz::ui::kMsgScrollKey, 6); break;
            case QAbstractSlider::SliderPageStepSub: emit scrollRequested(dz::ui::kMsgScrollKey, 13); break;
            case QAbstractSlider::SliderPageStepAdd: emit scrollRequested(dz::ui::kMsgScrollKey, 14); break;
            case QAbstractSlider::SliderMove:
            case QAbstractSlider::SliderToMinimum:
            case QAbstractSlider::SliderToMaximum:
                emit scrollRequested(dz::ui::kMsgScrollTo, scroll_->sliderPosition());
                break;
            default: break;
            }
            // The bar shows where the procedure keeps the list, not where it was dragged.
            if (!detached_) {
                placeScrollBar();
                update();
            }
        });
    }
    const int shown = visibleRows();
    QSignalBlocker block(scroll_);
    scroll_->setRange(1, panel_.rows() - shown + 1);
    scroll_->setPageStep(shown);
    scroll_->setSingleStep(1);
    scroll_->setValue(firstVisibleRow());
    const QRect rows = cellRect(1, 1, panel_.cols(), shown);
    scroll_->setGeometry((panel_.cols() + 1) * cell_.width(), rows.y(), scroll_->sizeHint().width(), rows.height());
    scroll_->show();
}

void PanelWidget::build() {
    for (const auto& f : panel_.fields()) buildField(f);
    for (const auto& b : panel_.buttons()) {
        auto* pb = new QPushButton(buttonText(b.def.number), this);
        pb->setFont(font_);
        pb->setGeometry(cellRect(b.def.row, b.def.col, b.def.width, b.def.height).adjusted(0, 1, 0, -1));
        int n = b.def.number;
        connect(pb, &QPushButton::clicked, this, [this, n] { emit buttonPressed(n); });
        buttons_[n] = pb;
    }
    if (panel_.def().progress_bar) {
        bar_ = new QProgressBar(this);
        bar_->setRange(0, 100);
        bar_->setTextVisible(false);
        QRect r = cellRect(panel_.def().bar_row, 2, panel_.cols() - 2);
        bar_->setGeometry(r.x(), r.y() + (r.height() - 20) / 2, r.width(), 20);
    }
    resize(sizeHint());
}

void PanelWidget::buildField(const FieldState& f) {
    const auto& d = f.def;
    QWidget* w = nullptr;
    switch (d.kind) {
        case FieldKind::Text:
        case FieldKind::Number:
        case FieldKind::Date: {
            auto* e = new QLineEdit(this);
            // A field of any length is the program's to refuse, with its own words.
            if (d.max_length >= 0) e->setValidator(new LengthGuard(d.max_length > 0 ? d.max_length : d.width, e));
            e->setMaxLength(std::numeric_limits<int>::max());
            if (d.kind == FieldKind::Number) e->setAlignment(Qt::AlignRight);
            e->setGeometry(cellRect(d.row, d.col, d.width + 1));
            connect(e, &QLineEdit::editingFinished, this, [this, e, n = d.number] {
                if (!e->isModified()) return;
                e->setModified(false);
                emit fieldEdited(n);
            });
            w = e;
            break;
        }
        case FieldKind::Choice: {
            auto* box = new QWidget(this);
            auto* group = new QButtonGroup(box);
            int count = std::max(1, static_cast<int>(f.choices.size()));
            // One radio button per choice, each `width` cells plus the button itself: side by
            // side when they fit on the field's row, else one below the other.
            const int each = d.width + 4;
            const bool across = count * each <= panel_.cols() - d.col + 1;
            for (int i = 0; i < static_cast<int>(f.choices.size()); ++i) {
                auto* rb = new QRadioButton(qs(f.choices[static_cast<size_t>(i)]), box);
                rb->setFont(font_);
                if (across)
                    rb->setGeometry(i * each * cell_.width(), 0, each * cell_.width(), cell_.height());
                else
                    rb->setGeometry(0, i * cell_.height(), each * cell_.width(), cell_.height());
                group->addButton(rb, i + 1);
            }
            box->setGeometry(across ? cellRect(d.row, d.col, count * each, 1) : cellRect(d.row, d.col, each, count));
            connect(group, &QButtonGroup::idClicked, this, [this, n = d.number] { emit fieldEdited(n); });
            radioGroups_[d.number] = group;
            w = box;
            break;
        }
        case FieldKind::List: {
            auto* l = new QListWidget(this);
            l->setGeometry(cellRect(d.row, d.col, d.width + 2, std::max(1, d.height)));
            // The style draws no mark on a list that has the focus: tabbed to, it shows one. Frame
            // and padding take the same room in both states, so the entries stay where they are.
            l->setStyleSheet(QStringLiteral("QListWidget { border: 1px solid palette(mid); padding: 1px; }"
                                            "QListWidget:focus { border: 2px solid palette(highlight); padding: 0px; }"));
            connect(l, &QListWidget::currentRowChanged, this, [this, n = d.number] { emit fieldEdited(n); });
            connect(l, &QListWidget::itemActivated, this, [this] {
                // Enter or a double click on a list entry acts as the panel's first button.
                if (!panel_.buttons().empty()) emit buttonPressed(panel_.buttons().front().def.number);
            });
            w = l;
            break;
        }
        case FieldKind::Combo: {
            auto* c = new QComboBox(this);
            c->setEditable(false);
            c->setGeometry(cellRect(d.row, d.col, d.width + 3));
            connect(c, &QComboBox::activated, this, [this, n = d.number] { emit fieldEdited(n); });
            w = c;
            break;
        }
        case FieldKind::Check: {
            auto* c = new QCheckBox(qs(d.label), this);
            c->setGeometry(cellRect(d.row, d.col, d.width + 4));
            connect(c, &QCheckBox::clicked, this, [this, n = d.number] { emit fieldEdited(n); });
            w = c;
            break;
        }
    }
    w->setFont(font_);
    w->show();
    fields_[d.number] = w;
}

bool PanelWidget::isTyped(int n) const { return qobject_cast<QLineEdit*>(fieldWidget(n)) != nullptr; }

int PanelWidget::defaultButton() const {
    if (detached_ || panel_.buttons().empty()) return 0;
    const auto& first = panel_.buttons().front();
    return first.drawn && !first.disabled && !first.def.escape ? first.def.number : 0;
}

QPushButton* PanelWidget::button(int n) const {
    auto it = buttons_.find(n);
    return it == buttons_.end() ? nullptr : it->second;
}

QWidget* PanelWidget::fieldWidget(int n) const {
    auto it = fields_.find(n);
    return it == fields_.end() ? nullptr : it->second;
}

QString PanelWidget::rowText(int row) const {
    if (detached_) return {};
    if (row < 1 || row > panel_.rows()) return {};
    QString s = qs(panel_.line(row));
    while (s.endsWith(QLatin1Char(' '))) s.chop(1);
    return s;
}

void PanelWidget::sync() {
    if (detached_) return;
    // Fields and buttons the procedure added or removed since the last look.
    std::set<int> present;
    for (const auto& f : panel_.fields()) {
        present.insert(f.def.number);
        if (!fields_.count(f.def.number)) buildField(f);
    }
    for (const auto& f : panel_.fields()) {
        auto g = radioGroups_.find(f.def.number);
        if (g != radioGroups_.end() && g->second->buttons().size() != static_cast<qsizetype>(f.choices.size()))
            present.erase(f.def.number);  // relabelled into more choices: built afresh below
    }
    for (auto it = fields_.begin(); it != fields_.end();) {
        if (!present.count(it->first)) {
            radioGroups_.erase(it->first);
            delete it->second;
            it = fields_.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto& f : panel_.fields())
        if (!fields_.count(f.def.number)) buildField(f);
    present.clear();
    for (const auto& b : panel_.buttons()) {
        present.insert(b.def.number);
        QPushButton* pb = button(b.def.number);
        if (!pb) {
            pb = new QPushButton(this);
            pb->setFont(font_);
            int n = b.def.number;
            connect(pb, &QPushButton::clicked, this, [this, n] { emit buttonPressed(n); });
            buttons_[n] = pb;
        }
        pb->setText(buttonText(b.def.number));
        pb->setGeometry(cellRect(b.def.row, b.def.col, b.def.width, b.def.height).adjusted(0, 1, 0, -1));
        pb->setEnabled(!b.disabled);
        pb->setVisible(b.drawn);
    }
    for (auto it = buttons_.begin(); it != buttons_.end();) {
        if (!present.count(it->first)) {
            delete it->second;
            it = buttons_.erase(it);
        } else {
            ++it;
        }
    }

    for (const auto& f : panel_.fields()) {
        QWidget* w = fieldWidget(f.def.number);
        w->setVisible(!f.hidden);
        w->setEnabled(!f.disabled);
        QSignalBlocker block(w);
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            if (e->text() != qs(f.text)) e->setText(qs(f.text));
        } else if (auto* c = qobject_cast<QCheckBox*>(w)) {
            c->setChecked(f.checked);
        } else if (auto* l = qobject_cast<QListWidget*>(w)) {
            QStringList items;
            for (const auto& i : f.items) items << qs(i);
            QStringList now;
            for (int i = 0; i < l->count(); ++i) now << l->item(i)->text();
            if (now != items) {
                l->clear();
                l->addItems(items);
            }
            l->setCurrentRow(f.choice - 1);
        } else if (auto* cb = qobject_cast<QComboBox*>(w)) {
            QStringList items;
            for (const auto& i : f.items) items << qs(i);
            QStringList now;
            for (int i = 0; i < cb->count(); ++i) now << cb->itemText(i);
            if (now != items) {
                cb->clear();
                cb->addItems(items);
            }
            cb->setCurrentIndex(f.choice - 1);
        } else if (auto g = radioGroups_.find(f.def.number); g != radioGroups_.end()) {
            const auto buttons = g->second->buttons();
            for (QAbstractButton* rb : buttons) {
                int id = g->second->id(rb);
                if (id >= 1 && static_cast<size_t>(id) <= f.choices.size())
                    rb->setText(qs(f.choices[static_cast<size_t>(id) - 1]));
                QSignalBlocker b2(rb);
                rb->setChecked(id == f.choice);
            }
        }
    }
    if (bar_) bar_->setValue(std::clamp(panel_.progress(), 0, 100));
    syncGrid();
    placeScrollBar();
    setWindowTitle(qs(panel_.title()));
    QSize want = sizeHint();
    if (size() != want) {
        // The window around the panel learns its new size at once, not at the next layout pass.
        updateGeometry();
        resize(want);
    }
    update();
}

void PanelWidget::store() {
    if (detached_) return;
    for (const auto& f : panel_.fields()) store(f.def.number);
    storeGrid();
}

void PanelWidget::store(int n) {
    if (detached_) return;
    QWidget* w = fieldWidget(n);
    if (!w || !panel_.has_field(n)) return;
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        panel_.set_text(n, ss(e->text()));
    } else if (auto* c = qobject_cast<QCheckBox*>(w)) {
        panel_.set_checked(n, c->isChecked());
    } else if (auto* l = qobject_cast<QListWidget*>(w)) {
        panel_.set_choice(n, l->currentRow() + 1);
    } else if (auto* cb = qobject_cast<QComboBox*>(w)) {
        panel_.set_choice(n, cb->currentIndex() + 1);
        panel_.set_text(n, ss(cb->currentText()));
    } else if (auto g = radioGroups_.find(n); g != radioGroups_.end()) {
        int id = g->second->checkedId();
        panel_.set_choice(n, id > 0 ? id : 0);
    }
}

void PanelWidget::paintEvent(QPaintEvent*) {
    if (detached_) return;
    QPainter p(this);
    p.setFont(font_);
    p.setPen(palette().color(QPalette::WindowText));
    QFontMetrics fm(font_);
    // A scrolling panel draws the rows in view from its first visible row on.
    const int first = firstVisibleRow();
    const int shown = visibleRows();
    for (int i = 0; i < shown; ++i) {
        QRect r = cellRect(i + 1, 1, panel_.cols());
        p.drawText(r.x(), r.y() + (r.height() + fm.ascent() - fm.descent()) / 2, qs(panel_.line(first + i)));
    }
}

void PanelWidget::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        emit escapePressed();
        return;
    }
    if (scrolls()) {
        switch (event->key()) {
        case Qt::Key_Up: emit scrollRequested(dz::ui::kMsgScrollKey, 5); return;
        case Qt::Key_Down: emit scrollRequested(dz::ui::kMsgScrollKey, 6); return;
        case Qt::Key_PageUp: emit scrollRequested(dz::ui::kMsgScrollKey, 13); return;
        case Qt::Key_PageDown: emit scrollRequested(dz::ui::kMsgScrollKey, 14); return;
        default: break;
        }
    }
    // Enter on a button presses it, as the panels of the suite have it.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        for (const auto& [n, b] : buttons_) {
            if (b->hasFocus() && b->isEnabled()) {
                emit buttonPressed(n);
                return;
            }
        }
        // A typed field leaves Enter to its panel.
        for (const auto& [n, f] : fields_) {
            if (f == focusWidget() && isTyped(n)) {
                emit enterInField();
                return;
            }
        }
    }
    QWidget::keyPressEvent(event);
}

void PanelWidget::wheelEvent(QWheelEvent* event) {
    if (!scrolls()) {
        QWidget::wheelEvent(event);
        return;
    }
    // One row per notch of the wheel.
    const int notches = event->angleDelta().y() / 120;
    for (int i = 0; i < std::abs(notches); ++i) emit scrollRequested(dz::ui::kMsgScrollKey, notches > 0 ? 5 : 6);
    event->accept();
}

}  // namespace dz::gui
