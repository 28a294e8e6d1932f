#include "gui/mnemonics.h"

#include <QAction>

namespace dz::gui {

QChar mnemonicOf(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&')) continue;
        if (text[i + 1] != QLatin1Char('&')) return text[i + 1].toLower();
        ++i;  // "&&" is an ampersand shown
    }
    return QChar();
}

namespace {

// `text` without its mnemonic mark (an ampersand shown, "&&", becomes one ampersand).
QString withoutMnemonic(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size()) {
            if (text[i + 1] == QLatin1Char('&')) out += text[++i];
            continue;
        }
        out += text[i];
    }
    return out;
}

// `plain` with the mark before its character at `at` (none for -1), ampersands doubled.
QString markedAt(const QString& plain, qsizetype at) {
    QString out;
    for (qsizetype i = 0; i < plain.size(); ++i) {
        if (i == at) out += QLatin1Char('&');
        out += plain[i];
        if (plain[i] == QLatin1Char('&')) out += QLatin1Char('&');
    }
    return out;
}

}  // namespace

QString uniqueMnemonic(const QString& text, QString& taken) {
    const QChar own = mnemonicOf(text);
    if (!own.isNull() && !taken.contains(own)) {
        taken += own;
        return text;
    }
    const QString plain = withoutMnemonic(text);
    auto free = [&](qsizetype i) { return plain[i].isLetterOrNumber() && !taken.contains(plain[i].toLower()); };
    qsizetype at = -1;
    for (qsizetype i = 0; i < plain.size() && at < 0; ++i)
        if ((i == 0 || plain[i - 1] == QLatin1Char(' ')) && free(i)) at = i;
    for (qsizetype i = 0; i < plain.size() && at < 0; ++i)
        if (free(i)) at = i;
    if (at >= 0) taken += plain[at].toLower();
    return markedAt(plain, at);
}

void uniqueMnemonics(const QList<QAction*>& actions, QString taken) {
    for (QAction* a : actions) {
        if (a->isSeparator() || a->text().isEmpty()) continue;
        const QString text = uniqueMnemonic(a->text(), taken);
        if (text != a->text()) a->setText(text);
    }
}

}  // namespace dz::gui
