// The keys that go with Alt: one letter does one thing in a window. The menu bar's titles, the
// entries of each menu and the buttons of each panel get letters none of their neighbours has.
#pragma once

#include <QList>
#include <QString>

class QAction;

namespace dz::gui {

// The letter a text's mnemonic ("&" before it) stands for, lower case; a null character when it
// has none ("&&" is an ampersand shown).
QChar mnemonicOf(const QString& text);

// `text` with a mnemonic no letter of `taken` has: its own when free, else the first free letter
// that starts one of its words, else any free letter of it; no mnemonic when every letter is
// taken. The letter given joins `taken`.
QString uniqueMnemonic(const QString& text, QString& taken);

// The same for each of `actions`, in order (separators passed over).
void uniqueMnemonics(const QList<QAction*>& actions, QString taken = QString());

}  // namespace dz::gui
