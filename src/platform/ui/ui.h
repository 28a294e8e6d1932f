// The one door through which the core talks to a person. The desktop program answers with
// dialogs, the command line with prompts or flags, tests with scripted answers. The core never
// includes a toolkit and never blocks on anything but this interface.
#pragma once

#include <string>

namespace dz::ui {

// Buttons a message box can answer with (the suite's numbering).
enum Answer : int { kOk = 1, kCancel = 2, kAbort = 3, kRetry = 4, kIgnore = 5, kYes = 6, kNo = 7 };

class Ui {
public:
    virtual ~Ui() = default;
    // A message box of the suite's kind `kind` (e.g. 103 = error with OK). Returns an Answer.
    virtual int message(int kind, const std::string& text) = 0;
};

// The interface in force. Never null: until a front end installs its own, a silent one that
// answers OK/Yes is in place and records nothing.
Ui& current();
// Installs `ui` (not owned; must outlive its use). nullptr restores the silent default.
void set_current(Ui* ui);

}  // namespace dz::ui
