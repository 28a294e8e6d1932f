#include "tables/save_failure.h"

#include "tables/master_file.h"

#include "platform/datafile/users.h"
#include "platform/datafile/write_bar.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/ui/next_step.h"

#include <unistd.h>

#include <string_view>
#include <vector>

namespace dz::tables {

namespace {

using xvl::xvlRCString;

constexpr int kMsgUnwritable = 12937;
constexpr int kMsgReadOnly = 13701;
constexpr int kMsgNotSaved = 13702;
constexpr int kMsgNotSavedDetail = 13703;
constexpr int kMsgDiskFull = 13704;
constexpr int kMsgNotWritten = 13705;
constexpr int kMsgStepLeave = 13706;
constexpr int kMsgStepSpace = 13707;
constexpr int kMsgStepWait = 13708;
constexpr int kMsgStepAgain = 13709;
// The command line's: its command kept nothing, and is run again.
constexpr int kMsgNotSavedCli = 13862;
// A reader's editor: who may give leave to write, and then the table opened again.
constexpr int kMsgReadOnlyStep = 13975;
// What truly keeps the file from being written, with the command to choose again: what only an
// administrator lifts, a folder of another owner (the file too, where it is of a third).
constexpr int kMsgStepLiftBar = 14120;
constexpr int kMsgStepFolderOwner = 14121;
constexpr int kMsgStepFolderAndFileOwners = 14122;

std::string FileName() {
    const std::string path = SubstitutionMasterFile::MasterPath().string();
    return path.empty() ? kXvmFileName : path;
}

std::string CauseText(const SaveFailure& f) {
    switch (f.cause) {
        case SaveFailure::Cause::Unwritable: return f.next ? ui::unwritable_words(f.next) : xvlRCString::Get(kMsgUnwritable);
        case SaveFailure::Cause::DiskFull: return xvlRCString::Get(kMsgDiskFull);
        default: return xvlRCString::Get(kMsgNotWritten, f.detail);
    }
}

// The editor's step for what truly keeps the file from being written: its values, then the command.
std::string UnwritableStepText(const ui::NextStep& next, const std::string& command) {
    std::vector<std::string_view> values(next.args.begin(), next.args.end());
    values.push_back(command);
    const int number = next.step == ui::Step::LiftWriteBar ? kMsgStepLiftBar
                       : next.args.size() > 2              ? kMsgStepFolderAndFileOwners
                                                           : kMsgStepFolderOwner;
    return xvlRCString::Table().get(number, values);
}

std::string StepText(const SaveFailure& f, const std::string& command) {
    // What keeps it, before the owner's leave (which may be all it needs).
    if (f.cause == SaveFailure::Cause::Unwritable && f.next && f.next.step != ui::Step::WritableFile)
        return UnwritableStepText(f.next, command);
    if (f.next && f.cause != SaveFailure::Cause::Unwritable) return ui::step_words(f.next, ui::Voice::Desktop, ui::Command::Convert);
    switch (f.cause) {
        case SaveFailure::Cause::Unwritable: return xvlRCString::Get(kMsgStepLeave, FileName(), command);
        case SaveFailure::Cause::DiskFull: return xvlRCString::Get(kMsgStepSpace, FileName(), command);
        case SaveFailure::Cause::InUse: return xvlRCString::Get(kMsgStepWait, command);
        default: return xvlRCString::Get(kMsgStepAgain, command);
    }
}

// The command line's step: what is mended, then the command run again, as every command says it.
std::string CommandLineStep(const SaveFailure& f) {
    ui::NextStep next;
    switch (f.cause) {
        case SaveFailure::Cause::Unwritable: next = {ui::Step::WritableFile, {FileName()}}; break;
        case SaveFailure::Cause::DiskFull: next = {ui::Step::FreeSpace, {FileName()}}; break;
        case SaveFailure::Cause::InUse: next = {ui::Step::AgainWhenFinished, {}}; break;
        default: next = {ui::Step::Again, {}}; break;
    }
    return ui::step_words(f.next ? f.next : next, ui::Voice::CommandLine, ui::Command::Convert);
}

}  // namespace

SaveFailure SaveFailureOf(uint16_t h, int status) {
    if (xio_is_read_only(h) || (status == XIO_LOCKED && xio_error_unwritable()) || !MayWriteNow())
        return UnwritableFailure();
    SaveFailure f;
    if (status == XIO_DISK_FULL || xio_disk_full_met(h)) {
        f.cause = SaveFailure::Cause::DiskFull;
        return f;
    }
    f.cause = status == XIO_LOCKED ? SaveFailure::Cause::InUse : SaveFailure::Cause::Other;
    f.detail = xio_error_text();
    if (f.detail.empty()) f.detail = "status " + std::to_string(status);
    if (ui::journal_refusal(xio_error_next_step().step)) f.next = xio_error_next_step();
    return f;
}

SaveFailure UnwritableFailure() {
    // Asked of the file as it stands now: what keeps it, and so who can lift it.
    const std::filesystem::path path = SubstitutionMasterFile::MasterPath();
    return SaveFailure{SaveFailure::Cause::Unwritable, {}, path.empty() ? ui::NextStep{} : xio::unwritable_step(path.string())};
}

bool MayWriteNow() {
    const std::filesystem::path path = SubstitutionMasterFile::MasterPath();
    if (path.empty()) return true;  // no company: nothing to be told
    const uid_t me = ::geteuid();
    return xio::write_right(me, path.string()) != xio::WriteRight::No &&
           xio::write_right(me, path.parent_path().string()) != xio::WriteRight::No;
}

std::string SaveFailureText(const SaveFailure& failure, const std::string& command, ui::Voice voice) {
    if (voice == ui::Voice::CommandLine)
        return xvlRCString::Get(ui::notice_message(voice), xvlRCString::Get(kMsgNotSavedCli, FileName(), CauseText(failure)),
                                CommandLineStep(failure));
    return xvlRCString::Get(kMsgNotSaved, FileName(), CauseText(failure), StepText(failure, command));
}

std::string SaveFailureDetail(const SaveFailure& failure, const std::string& command) {
    return xvlRCString::Get(kMsgNotSavedDetail, FileName(), CauseText(failure), StepText(failure, command));
}

std::string ReadOnlyNotice() { return xvlRCString::Get(kMsgReadOnly, kXvmFileName, CauseText(UnwritableFailure())); }

std::string ReadOnlyStep() { return xvlRCString::Get(kMsgReadOnlyStep, kXvmFileName); }

}  // namespace dz::tables
