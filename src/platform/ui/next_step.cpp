#include "platform/ui/next_step.h"

#include <algorithm>

namespace dz::ui {
namespace {

MessageFiller& filler() {
    static MessageFiller f = nullptr;
    return f;
}

Command& current_command() {
    static Command c = Command::Convert;
    return c;
}

std::vector<NextStep>& steps_said() {
    static std::vector<NextStep> said;
    return said;
}

// A step whose first value names several files, joined by ", ".
bool several_files(const NextStep& next) {
    return !next.args.empty() && next.args.front().find(", ") != std::string::npos;
}

// A step whose second value, the owner of what is to be removed, is the administrator (uid 0), who
// is then named once, as the administrator.
bool owned_by_administrator(const NextStep& next) {
    return next.args.size() > 1 && (next.args[1].ends_with("(uid 0)") || next.args[1] == "uid 0");
}

// A step for a file kept from its group that names, first, one other file wanting leave to write.
bool one_more_file(const NextStep& next) { return next.args.size() > 2 && !several_files(next); }

// Convert's steps: the first words of every step.
int convert_step(const NextStep& next, Voice voice) {
    // The command line's words are 1334x, the desktop's 1335x, at the same place.
    const int base = voice == Voice::CommandLine ? 13340 : 13350;
    const int later = voice == Voice::CommandLine ? 13420 : 13430;
    switch (next.step) {
    case Step::None: return 0;
    case Step::Again: return base;
    case Step::AgainWhenFinished: return base + (next.args.empty() || next.args.front().empty() ? 2 : 1);
    case Step::AgainToPutBack: return base + 3;
    case Step::FreeSpace: return base + 4;
    case Step::FreeSpaceOrOtherReport: return base + 5;
    case Step::FreeSpaceOrOtherNotes: return base + 6;
    case Step::WritableFolder: return base + 7;
    // What stopped conversions ask of people: the command line's words are 1336x, the desktop's 1337x.
    case Step::AskUserToPutBack: return base + 20;
    case Step::RestoreFromBackup: return base + 21;
    // An owner with no account moves nothing: an administrator alone is asked.
    case Step::MoveRunAway: return next.args.size() > 1 && next.args[1].empty() ? later + 6 : base + 22;
    // One data file is "it", several "them" (the files are joined by ", ").
    case Step::RestoreOrHandOver:
        if (!next.args.empty() && next.args.front().find(", ") == std::string::npos)
            return voice == Voice::CommandLine ? 13460 : 13461;
        return base + 23;
    case Step::GiveOwnerBack: {
        // Only what was not kept is asked for: the owner, the group, or both.
        const bool owner = next.args.size() > 1 && !next.args[1].empty();
        const bool group = next.args.size() > 2 && !next.args[2].empty();
        // With the access list it had, and the commands that give both back.
        if (next.args.size() > 3) return (voice == Voice::CommandLine ? 14060 : 14063) + (owner ? group ? 2 : 0 : 1);
        if (owner && !group) return later + 1;
        if (group && !owner) return later + 2;
        return base + 24;
    }
    // Added later: the command line's words are 1342x, the desktop's 1343x.
    case Step::AskAdministrator: return later;
    case Step::FreeBackupFolder: return later + 3;
    case Step::RemoveRunLock: return later + 4;
    case Step::RemoveLockFile: return voice == Voice::CommandLine ? 13440 : 13450;
    // Sticky folders and outputs that are devices: the command line's words are even, the
    // desktop's the odd number after them.
    case Step::UnstickFolder: return voice == Voice::CommandLine ? 13672 : 13673;
    case Step::AdministratorPutsBack: return voice == Voice::CommandLine ? 13674 : 13675;
    case Step::OtherReport: return voice == Voice::CommandLine ? 13676 : 13677;
    case Step::OtherNotes: return voice == Voice::CommandLine ? 13678 : 13679;
    // A data file's journal: the command line's words are 1363x, the desktop's the next number.
    case Step::RemoveJournal:
        if (owned_by_administrator(next)) return voice == Voice::CommandLine ? 14138 : 14139;
        return voice == Voice::CommandLine ? 13630 : 13631;
    case Step::TakeBackWrite:
        if (next.args.empty()) return voice == Voice::CommandLine ? 13632 : 13633;
        return voice == Voice::CommandLine ? 13634 : 13635;
    // Who acts for a stopped run its own user cannot put back: the command line's words first.
    case Step::LookAtRunCopies: {
        const bool adminOnly = next.args.size() > 1 && next.args[1].empty();
        return (adminOnly ? 13643 : 13641) + (voice == Voice::CommandLine ? 0 : 1);
    }
    case Step::WaitOrAdministrator: return voice == Voice::CommandLine ? 13647 : 13648;
    // A journal that is not played: the command line's words are even, the desktop's the odd
    // number after them.
    case Step::RestoreFromBackupAndRemoveJournal: return voice == Voice::CommandLine ? 13810 : 13811;
    case Step::RestoreDataFile: return voice == Voice::CommandLine ? 13812 : 13813;
    case Step::GiveJournalToFileOwner: return voice == Voice::CommandLine ? 13814 : 13815;
    case Step::MakeJournalReadable: return voice == Voice::CommandLine ? 13816 : 13817;
    case Step::RemoveIdleJournal: return voice == Voice::CommandLine ? 13832 : 13833;
    case Step::ClearedByItsUser: return voice == Voice::CommandLine ? 13852 : 13853;
    case Step::EndLockHolder: return voice == Voice::CommandLine ? 13840 : 13841;
    // The command line's words are those of a table's save that may not write its file; several
    // files (joined by ", ") have their own.
    case Step::WritableFile:
        if (several_files(next)) return voice == Voice::CommandLine ? 13963 : 13964;
        return voice == Voice::CommandLine ? 13860 : 13880;
    case Step::FindLockHolder: return voice == Voice::CommandLine ? 13864 : 13865;
    // A held stopped conversion: the command line's words are odd, the desktop's the even number
    // after them; this user's writing command puts it back, or that of the run's user.
    case Step::EndHolderThenPutBack:
        return (next.args.size() > 2 ? 13947 : 13945) + (voice == Voice::CommandLine ? 0 : 1);
    case Step::MayEndLockHolder: return voice == Voice::CommandLine ? 13949 : 13950;
    case Step::LiftJournalBar: return voice == Voice::CommandLine ? 13930 : 13931;
    case Step::LiftWriteBar: return voice == Voice::CommandLine ? 13932 : 13933;
    case Step::TakeBackWhenLetGo: return voice == Voice::CommandLine ? 13936 : 13937;
    // With files that also want leave to write: the odd number after; with one such file, its own.
    case Step::KeepFilesGroup:
        if (one_more_file(next)) return voice == Voice::CommandLine ? 14130 : 14131;
        return (voice == Voice::CommandLine ? 13990 : 13992) + (next.args.size() > 2 ? 1 : 0);
    case Step::NarrowJournal: return voice == Voice::CommandLine ? 14020 : 14021;
    case Step::TakeBackTogether: return voice == Voice::CommandLine ? 14040 : 14041;
    // The command line's words are 14110 (the folder alone) and 14111 (the file too), the
    // desktop's Convert's the two after them.
    case Step::WritableFolderOfOwner: return (voice == Voice::CommandLine ? 14110 : 14112) + (next.args.size() > 2 ? 1 : 0);
    // What may be a write another program left: the command line's words, then the desktop's of
    // Convert, Examine Files and Prefill (looking_step).
    case Step::WriteLogIntoFile: return voice == Voice::CommandLine ? 14150 : 14151;
    case Step::TakeBackOrRemoveJournal: return voice == Voice::CommandLine ? 14154 : 14155;
    // The command line's words, then the desktop's; another user's writing command: the two after.
    case Step::RemoveSpentJournal: return (voice == Voice::CommandLine ? 14158 : 14159) + (next.args.empty() ? 0 : 2);
    }
    return 0;
}

// The steps of a command that looks (Examine Files, Prefill): what is run again is that command,
// whose desktop words are a block of their own (Examine Files' 1376x, Prefill's 1377x, in the
// same order); what puts a stopped conversion back is still Convert, as Convert says it.
constexpr int kExamineBlock = 13760;
constexpr int kPrefillBlock = 13770;

int looking_step(const NextStep& next, Voice voice, int block) {
    const bool cli = voice == Voice::CommandLine;
    switch (next.step) {
    case Step::None: return 0;
    case Step::Again: return cli ? convert_step(next, voice) : block;
    case Step::AgainWhenFinished:
        return cli ? convert_step(next, voice) : block + (next.args.empty() || next.args.front().empty() ? 2 : 1);
    case Step::FreeSpace: return cli ? convert_step(next, voice) : block + 3;
    case Step::WritableFolder: return cli ? convert_step(next, voice) : block + 4;
    case Step::FreeBackupFolder: return cli ? convert_step(next, voice) : block + 5;
    case Step::RemoveLockFile: return cli ? convert_step(next, voice) : block + 6;
    // The files' owner runs this command, not a conversion.
    case Step::UnstickFolder: return cli ? 13769 : block + 7;
    case Step::RemoveJournal:
        if (cli) return convert_step(next, voice);
        if (owned_by_administrator(next)) return block == kExamineBlock ? 14140 : 14141;
        return block + 8;
    // Blocks of their own are full: Examine Files' words, then Prefill's, follow Convert's.
    case Step::WritableFile:
        if (cli) return convert_step(next, voice);
        if (several_files(next)) return block == kExamineBlock ? 13965 : 13966;
        return block == kExamineBlock ? 13881 : 13882;
    case Step::AgainToPutBack:
    case Step::AskUserToPutBack:
    case Step::RestoreFromBackup:
    case Step::MoveRunAway:
    case Step::RestoreOrHandOver:
    case Step::GiveOwnerBack:
    case Step::FreeSpaceOrOtherReport:
    case Step::FreeSpaceOrOtherNotes:
    case Step::AskAdministrator:
    case Step::RemoveRunLock:
    case Step::AdministratorPutsBack:
    case Step::OtherReport:
    case Step::OtherNotes:
    case Step::TakeBackWrite:
    case Step::LookAtRunCopies:
    case Step::WaitOrAdministrator:
    case Step::RestoreFromBackupAndRemoveJournal:
    case Step::RestoreDataFile:
    case Step::GiveJournalToFileOwner:
    case Step::MakeJournalReadable:
    case Step::RemoveIdleJournal: return convert_step(next, voice);
    case Step::ClearedByItsUser: return convert_step(next, voice);
    case Step::EndLockHolder:
    case Step::FindLockHolder:
    case Step::EndHolderThenPutBack:
    case Step::MayEndLockHolder:
    case Step::LiftJournalBar:
    case Step::TakeBackWhenLetGo:
    case Step::NarrowJournal:
    case Step::TakeBackTogether: return convert_step(next, voice);
    // What is run again is this command: Examine Files' words, then Prefill's.
    case Step::LiftWriteBar: return cli ? convert_step(next, voice) : block == kExamineBlock ? 13934 : 13935;
    case Step::KeepFilesGroup:
        if (cli) return convert_step(next, voice);
        if (one_more_file(next)) return block == kExamineBlock ? 14132 : 14133;
        return (block == kExamineBlock ? 13994 : 13996) + (next.args.size() > 2 ? 1 : 0);
    case Step::WritableFolderOfOwner:
        if (cli) return convert_step(next, voice);
        return (block == kExamineBlock ? 14114 : 14116) + (next.args.size() > 2 ? 1 : 0);
    case Step::WriteLogIntoFile:
    case Step::TakeBackOrRemoveJournal:
        if (cli) return convert_step(next, voice);
        return convert_step(next, voice) + (block == kExamineBlock ? 1 : 2);
    case Step::RemoveSpentJournal: return convert_step(next, voice);
    }
    return 0;
}

}  // namespace

CommandSteps::CommandSteps(Command command) : before_(current_command()), saidBefore_(std::move(steps_said())) {
    current_command() = command;
    steps_said().clear();
}
CommandSteps::~CommandSteps() {
    current_command() = before_;
    steps_said() = std::move(saidBefore_);
}

void note_step_said(const NextStep& next) {
    if (next && !step_said_in_command(next)) steps_said().push_back(next);
}

bool step_said_in_command(const NextStep& next) {
    return std::find(steps_said().begin(), steps_said().end(), next) != steps_said().end();
}

Command steps_command() { return current_command(); }

int step_message(const NextStep& next, Voice voice, Command command) {
    switch (command) {
    case Command::Convert: return convert_step(next, voice);
    case Command::Examine: return looking_step(next, voice, kExamineBlock);
    case Command::Prefill: return looking_step(next, voice, kPrefillBlock);
    }
    return 0;
}

bool journal_refusal(Step step) {
    return step == Step::RemoveJournal || step == Step::RestoreFromBackupAndRemoveJournal ||
           step == Step::GiveJournalToFileOwner || step == Step::RemoveIdleJournal || step == Step::RemoveLockFile ||
           step == Step::LiftJournalBar || step == Step::NarrowJournal || step == Step::TakeBackTogether ||
           step == Step::WriteLogIntoFile || step == Step::TakeBackOrRemoveJournal;
}

int notice_message(Voice voice) { return voice == Voice::CommandLine ? 13349 : 13359; }

void set_message_filler(MessageFiller f) { filler() = f; }

namespace {
// A front end that forgot to install its words: said where the step would stand, so that no
// test or user sees a refusal silently without its step.
std::string unworded(int number) {
    return "[next step " + std::to_string(number) + ": no message table installed (set_message_filler)]";
}
}  // namespace

std::string step_words(const NextStep& next, Voice voice, Command command) {
    const int number = step_message(next, voice, command);
    if (number == 0) return {};
    if (!filler()) return unworded(number);
    // The owner or group that was kept is not asked for, so not named.
    std::vector<std::string> values = next.args;
    if (next.step == Step::GiveOwnerBack || next.step == Step::MoveRunAway || next.step == Step::LookAtRunCopies)
        std::erase(values, std::string());
    return filler()(number, values);
}

std::string unwritable_words(const NextStep& next) {
    // The refusal's words: 12937 for want of permission, 14118 for a bar (its cause), 14119 for the
    // folder (named).
    const bool bar = next.step == Step::LiftWriteBar && next.args.size() > 1;
    const bool folder = next.step == Step::WritableFolderOfOwner && !next.args.empty();
    const int number = bar ? 14118 : folder ? 14119 : 12937;
    if (!filler()) return unworded(number);
    if (bar) return filler()(number, {next.args[1]});
    if (folder) return filler()(number, {next.args[0]});
    return filler()(number, {});
}

std::string with_step(const std::string& text, const NextStep& next, Voice voice, Command command) {
    const std::string words = step_words(next, voice, command);
    if (words.empty()) return text;
    if (!filler()) return text + " " + words;
    return filler()(notice_message(voice), {text, words});
}

}  // namespace dz::ui
