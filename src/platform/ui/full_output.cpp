#include "platform/ui/full_output.h"

#include <sys/stat.h>

namespace dz::ui {

NextStep full_output_step(const std::string& file, bool notes) {
    struct stat st {};
    const bool device = ::stat(file.c_str(), &st) == 0 && (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode));
    if (device) return {notes ? Step::OtherNotes : Step::OtherReport, {file}};
    return {notes ? Step::FreeSpaceOrOtherNotes : Step::FreeSpaceOrOtherReport, {file}};
}

bool about_full_output(const NextStep& next) {
    switch (next.step) {
    case Step::FreeSpaceOrOtherReport:
    case Step::FreeSpaceOrOtherNotes:
    case Step::OtherReport:
    case Step::OtherNotes: return true;
    default: return false;
    }
}

}  // namespace dz::ui

namespace dz::ui {

bool about_device(const NextStep& next) { return next.step == Step::OtherReport || next.step == Step::OtherNotes; }

}  // namespace dz::ui
