#include "gui/cell_font.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <algorithm>
#include <cmath>

namespace dz::gui {

bool hasEvenAdvances(const QFont& font) {
    const QFontMetricsF fm(font);
    const qreal first = fm.horizontalAdvance(QLatin1Char(' '));
    if (first <= 0) return false;
    for (char c = 0x21; c <= 0x7E; ++c)
        if (fm.horizontalAdvance(QLatin1Char(c)) != first) return false;
    return true;
}

QStringList monospaceFamilies() {
    return {QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono"), QStringLiteral("Noto Mono"),
            QStringLiteral("Noto Sans Mono"),   QStringLiteral("Cousine"),         QStringLiteral("Nimbus Mono PS"),
            QStringLiteral("FreeMono"),         QStringLiteral("Courier New"),     QStringLiteral("Courier")};
}

QFont evenFontFrom(const QFont& preferred) {
    if (hasEvenAdvances(preferred)) return preferred;
    for (const QString& family : monospaceFamilies()) {
        QFont f = preferred;
        f.setFamily(family);
        f.setStyleHint(QFont::TypeWriter);
        // A family that is not installed resolves to some other font; the metrics tell.
        if (hasEvenAdvances(f)) return f;
    }
    return preferred;
}

QFont fixedFont() { return evenFontFrom(QFontDatabase::systemFont(QFontDatabase::FixedFont)); }

int fitToCells(QFont& font) {
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0);
    const qreal advance = QFontMetricsF(font).horizontalAdvance(QLatin1Char('M'));
    const int cell = std::max(1, static_cast<int>(std::ceil(advance)));
    font.setLetterSpacing(QFont::AbsoluteSpacing, cell - advance);
    return cell;
}

}  // namespace dz::gui
