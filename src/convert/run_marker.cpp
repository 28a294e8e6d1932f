#include "convert/run_marker.h"

#include "convert/backup.h"
#include "convert/platform_links.h"
#include "platform/datafile/run_marker.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/suite/company.h"
#include "platform/ui/ui.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <sys/stat.h>

namespace dz::convert {

namespace {

std::string data_folder_of_first(const std::vector<xio::RunCopy>& copies) {
    // "<data folder>/.backup/<copy>": the data folder.
    const std::filesystem::path copy(copies.front().path);
    return copy.parent_path().parent_path().string();
}

}  // namespace

int RunMarker::Write(const std::vector<const DataFileBackup*>& backups) {
    std::vector<xio::RunCopy> copies;
    for (const DataFileBackup* b : backups)
        if (b && !b->CopyPath().empty()) copies.push_back({b->CopyPath(), b->CopyLength(), b->CopyHash()});
    if (copies.empty()) return 0;
    // Copies in several folders (file control) commit at one point: the company's own folder.
    const suite::Company* company = suite::current_company();
    const int err = xio::write_run_markers(copies, company ? company->folder().string() : data_folder_of_first(copies));
    written_ = err == 0;
    why_.clear();
    next_ = {};
    if (err != 0) {
        // Named by the folders it was to stand in (with a copy in each).
        std::string folders;
        std::set<std::string> seen;
        for (const auto& c : copies) {
            const std::string folder = std::filesystem::path(c.path).parent_path().string();
            if (seen.insert(folder).second) folders += (folders.empty() ? "" : ", ") + folder;
        }
        why_ = err == EXDEV ? "a copy lies outside the backup folders this run holds (" + folders + ")"
                            : "the run marker in " + folders + " cannot be written: " + std::strerror(err);
        if (err == EACCES || err == EPERM || err == EROFS) next_ = {ui::Step::WritableFolder, {*seen.begin()}};
        else if (err == ENOSPC) next_ = {ui::Step::FreeSpace, {*seen.begin()}};
        else next_ = {ui::Step::Again, {}};
    }
    return err;
}

int RunMarker::Remove() {
    if (!written_) return 0;
    if (const int err = xio::clear_run_markers(); err != 0) return err;
    written_ = false;
    return 0;
}

bool SayRunNotices(bool mayWrite, std::vector<std::string>* said, std::string* ending) {
    using xvl::xvlRCString;
    bool ok = true;
    // One message for one cause: notices of one kind that ask the same of the person (two
    // backup folders of one user that cannot be read) are said together, their reasons joined.
    struct Said {
        int number = 0;
        std::string arg;
        int kind = ui::kError;
        ui::NextStep next;
    };
    std::vector<Said> says;
    bool finished = false;  // a stopped run was put back
    for (const auto& n : xio::take_run_notices()) {
        Said s;
        switch (n.kind) {
        case xio::RunNoticeKind::PutBack:
            s = {12924, n.files, ui::kWarning, n.next};
            finished = true;
            break;
        case xio::RunNoticeKind::OtherUser:
            s = {13290, n.reason, ui::kError, n.next};
            ok = false;
            break;
        case xio::RunNoticeKind::Refused:
            s = {12925, n.error == ENOSPC ? xvlRCString::Get(12013) + ": " + n.reason : n.reason, ui::kError, n.next};
            ok = false;
            break;
        case xio::RunNoticeKind::HalfPosted:
            // With a reason, a writing command would refuse it too: the look says so, and why.
            s = n.reason.empty() ? Said{12926, n.files, ui::kError, n.next} : Said{13425, n.reason, ui::kError, n.next};
            ok = false;
            break;
        case xio::RunNoticeKind::NotARun:
            // Stops nothing: it is said, and the command goes on.
            s = {13291, n.reason, ui::kWarning, n.next};
            break;
        case xio::RunNoticeKind::Kept:
            s = {13640, n.reason, ui::kWarning, n.next};
            break;
        case xio::RunNoticeKind::NothingPosted:
            s = {13850, n.reason, ui::kWarning, n.next};
            break;
        case xio::RunNoticeKind::Untold:
            s = {13292, n.reason, ui::kError, n.next};
            ok = false;
            break;
        case xio::RunNoticeKind::Unseen:
            s = {13293, n.reason, ui::kWarning, n.next};
            break;
        case xio::RunNoticeKind::WriteStopped:
            // Tried here and not taken back: why (what it left), not "not read until". Kept from
            // being taken back by anyone for now (a journal that cannot be removed, a reader's
            // lock): what keeps it, whether this command tried or only looked.
            s = n.next.step == ui::Step::LiftJournalBar || n.next.step == ui::Step::TakeBackWhenLetGo
                    ? Said{13938, n.reason, ui::kError, n.next}
                // A journal that holds nothing to take back: what the judge found, no stopped write.
                : n.next.step == ui::Step::RemoveSpentJournal ? Said{14162, n.reason, ui::kError, n.next}
                : !n.reason.empty() && n.next.step != ui::Step::TakeBackWrite && n.next.step != ui::Step::MakeJournalReadable
                    ? Said{13818, n.reason, ui::kError, n.next}
                    : Said{13464, n.files, ui::kError, n.next};
            ok = false;
            break;
        case xio::RunNoticeKind::WriteTakenBack:
            s = {13620, n.files, ui::kWarning, n.next};
            break;
        case xio::RunNoticeKind::EmptyJournalRemoved:
            s = {14022, n.reason, ui::kWarning, n.next};
            break;
        case xio::RunNoticeKind::InProgress:
            s = {13795, n.reason, ui::kError, n.next};
            ok = false;
            break;
        case xio::RunNoticeKind::ForeignLock:
            s = {13842, n.reason, ui::kError, n.next};
            ok = false;
            break;
        case xio::RunNoticeKind::ForeignLockAside:
            s = {13844, n.reason, ui::kWarning, n.next};
            break;
        case xio::RunNoticeKind::ForeignLockNoRun:
            s = {13951, n.reason, ui::kError, n.next};
            ok = false;
            break;
        case xio::RunNoticeKind::StoppedRunHeld:
            s = {13866, n.reason, ui::kError, n.next};
            ok = false;
            break;
        case xio::RunNoticeKind::NotGivenBack:
            s = {14066, n.reason, ui::kWarning, n.next};
            break;
        case xio::RunNoticeKind::Unlockable:
            s = {14067, n.reason, ui::kError, n.next};
            ok = false;
            break;
        case xio::RunNoticeKind::NotItsJournal:
            // Refuses that file where it is opened (an error: what needs the file does not run);
            // the command goes on with the others.
            s = {13621, n.reason, ui::kError, n.next};
            break;
        }
        // The command's ending says what refused it first, in words true for it.
        if (ending && ending->empty()) {
            switch (n.kind) {
            case xio::RunNoticeKind::Refused:
            case xio::RunNoticeKind::HalfPosted: *ending = xvlRCString::Get(13465); break;
            case xio::RunNoticeKind::WriteStopped:
                *ending = xvlRCString::Get(s.number == 13938 ? 13939 : s.number == 14162 ? 14163 : 13466);
                break;
            case xio::RunNoticeKind::OtherUser: *ending = xvlRCString::Get(13467); break;
            case xio::RunNoticeKind::Untold: *ending = xvlRCString::Get(13468); break;
            case xio::RunNoticeKind::InProgress: *ending = xvlRCString::Get(13796); break;
            case xio::RunNoticeKind::ForeignLock: *ending = xvlRCString::Get(13843); break;
            case xio::RunNoticeKind::ForeignLockNoRun: *ending = xvlRCString::Get(13952); break;
            // A look writes over nothing: what it keeps from a look is the reading.
            case xio::RunNoticeKind::StoppedRunHeld: *ending = xvlRCString::Get(mayWrite ? 13867 : 14137); break;
            case xio::RunNoticeKind::Unlockable: *ending = xvlRCString::Get(14068); break;
            default: break;
            }
        }
        std::string text = xvlRCString::Get(s.number, s.arg);
        // What became of an owner or group; a journal's other names.
        if ((s.number == 12924 || s.number == 13620) && !n.reason.empty()) text += ". " + n.reason;
        // A look writes nothing, the company log included.
        if (mayWrite) LogLine(text + " (" + n.marker + ")");
        // Each put-back and each write taken back is said as it is.
        const bool asItIs = s.number == 12924 || s.number == 13620;
        if (asItIs) s.arg = text;
        const auto same = std::find_if(says.begin(), says.end(), [&](const Said& o) {
            return !asItIs && o.number == s.number && o.next.step == s.next.step && o.next.args == s.next.args;
        });
        if (same == says.end()) says.push_back(std::move(s));
        else same->arg += (s.number == 12926 ? ", " : "; ") + s.arg;
    }
    // A stopped conversion may have been killed while it rewrote the settings: the new copy it
    // left goes with the run it belonged to, not with the next rewrite.
    if (const suite::Company* company = suite::current_company(); finished && mayWrite && company)
        suite::clear_stale_settings_copy(company->settings_file());
    for (const Said& s : says) {
        const std::string text = s.number == 12924 || s.number == 13620 ? s.arg : xvlRCString::Get(s.number, s.arg);
        // Said with what the person can do next; a caller that prints the texts itself is the
        // command line, which words the step its way.
        // Either way the step is noted as said, so that the command does not say it again.
        if (said) {
            ui::note_step_said(s.next);
            said->push_back(ui::with_step(text, s.next, ui::Voice::CommandLine));
        } else {
            ui::xw_wr_message(s.kind, text, s.next);
        }
    }
    return ok;
}

bool RecoverInterruptedRuns(CompanyUse use, std::vector<std::string>* said, std::string* ending) {
    const bool mayWrite = use != CompanyUse::Look;
    // A command starts: what stands in the company is said once more, once.
    xio::forget_run_notices_said();
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
        if (!xio::settle_dead_runs({folder, mayWrite, "", use == CompanyUse::Convert})) ok = false;
        if (mayWrite) xio::remove_restore_leftovers(folder);
    }
    const bool whole = SayRunNotices(mayWrite, said, ending) && ok;
    if (!whole && ending && ending->empty()) *ending = xvl::xvlRCString::Get(13465);
    return whole;
}

}  // namespace dz::convert
