#include "convert/run_marker.h"

#include "convert/backup.h"
#include "convert/platform_links.h"
#include "platform/datafile/run_marker.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/suite/company.h"
#include "platform/ui/ui.h"

#include <cerrno>
#include <set>
#include <sys/stat.h>

namespace dz::convert {

int RunMarker::Write(const std::vector<const DataFileBackup*>& backups) {
    std::vector<std::string> copies;
    for (const DataFileBackup* b : backups)
        if (b && !b->CopyPath().empty()) copies.push_back(b->CopyPath());
    if (copies.empty()) return 0;
    const int err = xio::write_run_markers(copies);
    written_ = err == 0;
    return err;
}

void RunMarker::Remove() {
    if (!written_) return;
    xio::clear_run_markers();
    written_ = false;
}

bool SayRunNotices(bool mayWrite, std::vector<std::string>* said) {
    using xvl::xvlRCString;
    bool ok = true;
    for (const auto& n : xio::take_run_notices()) {
        std::string text;
        int kind = ui::kError;
        switch (n.kind) {
        case xio::RunNoticeKind::PutBack:
            text = xvlRCString::Get(12924, n.files);
            kind = ui::kWarning;
            break;
        case xio::RunNoticeKind::Refused:
            text = xvlRCString::Get(12925, n.error == ENOSPC ? xvlRCString::Get(12013) + ": " + n.reason : n.reason);
            ok = false;
            break;
        case xio::RunNoticeKind::HalfPosted:
            text = xvlRCString::Get(12926, n.files);
            ok = false;
            break;
        }
        if (said) said->push_back(text);
        else ui::current().message(kind, text);
        // A look writes nothing, the company log included.
        if (mayWrite) LogLine(text + " (" + n.marker + ")");
    }
    return ok;
}

bool RecoverInterruptedRuns(bool mayWrite, std::vector<std::string>* said) {
    std::vector<std::string> dataFolders;
    if (const suite::Company* company = suite::current_company()) {
        dataFolders.push_back(company->folder().string());
        for (const auto& [abbr, dir] : company->settings().file_control) dataFolders.push_back(company->data_folder(abbr).string());
    }
    std::set<std::pair<dev_t, ino_t>> seen;
    bool ok = true;
    for (const auto& folder : dataFolders) {
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0 || !seen.insert({st.st_dev, st.st_ino}).second) continue;
        if (!xio::settle_dead_runs({folder, mayWrite, ""})) ok = false;
        if (mayWrite) xio::remove_restore_leftovers(folder);
    }
    return SayRunNotices(mayWrite, said) && ok;
}

}  // namespace dz::convert
