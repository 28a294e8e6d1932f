// A line edit that takes no more characters than its value holds. Typing stops at the size, and
// a longer paste is refused whole, with a tip that says why, instead of being cut silently.
#pragma once

#include <QString>
#include <QValidator>
#include <functional>

class QLineEdit;

namespace dz::gui {

class LengthGuard : public QValidator {
public:
    // `count` tells how many characters the value holds for an input as shown (the grid counts
    // "\033" as the one character it stands for); by default each shown character counts.
    using Count = std::function<qsizetype(const QString&)>;
    LengthGuard(int size, QLineEdit* editor, Count count = {});
    State validate(QString& input, int&) const override;

private:
    int size_;
    QLineEdit* editor_;
    Count count_;
};

}  // namespace dz::gui
