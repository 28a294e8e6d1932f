// What a person can do next when a command ends early or refuses. The layer that knows the
// cause says the step as a value; each front end words it its own way (the command line names
// commands to run again, the desktop names its menus and buttons), from numbered messages, so
// that rewording a cause never changes what the desktop shows.
#pragma once

#include <string>
#include <vector>

namespace dz::ui {

enum class Step : int {
    None = 0,
    // Run the command (the desktop: Convert) again; nothing is in the way any more.
    Again,
    // Another program holds what the command needs: wait until it has finished, then again.
    // args: {holder}, the program as far as it is known ("process 123 of user dzua"), or none.
    AgainWhenFinished,
    // A stopped conversion must be put back first: running again puts it back.
    AgainToPutBack,
    // The disk is full. args: {file}, the file whose disk must get space.
    FreeSpace,
};

struct NextStep {
    Step step = Step::None;
    std::vector<std::string> args;
    explicit operator bool() const { return step != Step::None; }
};

}  // namespace dz::ui
