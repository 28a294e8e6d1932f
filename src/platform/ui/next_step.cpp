#include "platform/ui/next_step.h"

namespace dz::ui {
namespace {

MessageFiller& filler() {
    static MessageFiller f = nullptr;
    return f;
}

}  // namespace

int step_message(const NextStep& next, Voice voice) {
    // The command line's words are 1334x, the desktop's 1335x, at the same place.
    const int base = voice == Voice::CommandLine ? 13340 : 13350;
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
    case Step::MoveRunAway: return base + 22;
    case Step::RestoreOrHandOver: return base + 23;
    case Step::GiveOwnerBack: return base + 24;
    case Step::RemoveLockFile: return voice == Voice::CommandLine ? 13440 : 13450;
    }
    return 0;
}

int notice_message(Voice voice) { return voice == Voice::CommandLine ? 13349 : 13359; }

void set_message_filler(MessageFiller f) { filler() = f; }

std::string step_words(const NextStep& next, Voice voice) {
    const int number = step_message(next, voice);
    if (number == 0 || !filler()) return {};
    return filler()(number, next.args);
}

std::string with_step(const std::string& text, const NextStep& next, Voice voice) {
    const std::string words = step_words(next, voice);
    if (words.empty()) return text;
    return filler()(notice_message(voice), {text, words});
}

}  // namespace dz::ui
