#include "gui/length_guard.h"

#include <QLineEdit>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QTimer>
#include <QToolTip>

namespace dz::gui {

LengthGuard::LengthGuard(int size, QLineEdit* editor, Count count)
    : QValidator(editor), size_(size), editor_(editor), count_(std::move(count)) {}

QValidator::State LengthGuard::validate(QString& input, int&) const {
    const qsizetype length = count_ ? count_(input) : input.size();
    if (length <= size_) return Acceptable;
    const QString why =
        QObject::tr("This field takes at most %1 characters; the text would have %2.").arg(size_).arg(length);
    QPointer<QLineEdit> e = editor_;
    QTimer::singleShot(0, e, [e, why] {
        if (e) QToolTip::showText(e->mapToGlobal(QPoint(0, e->height())), why, e);
    });
    return Invalid;
}

}  // namespace dz::gui
