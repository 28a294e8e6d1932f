// A data file's rollback journal, "<data file>-journal", judged before anything plays it.
//
// SQLite plays a hot journal into its database at the first read of any connection that may
// write it, and asks nothing of where the journal came from: another file's journal, an old one
// of the same file, or one made by a member who may not write the file (a sticky group folder
// lets them make files beside it) would write whatever it holds into the file. Here a journal is
// played only when it is the file's own (the rule is in the README, "Journals"); anything else is
// never played and never removed, and the file is neither read nor written while it stands.
#pragma once

#include "platform/ui/next_step.h"

#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>

namespace dz::xio {

enum class JournalKind {
    None,    // nothing stands at the journal's name
    Idle,    // a journal SQLite never plays (empty, or its header not written yet), of one who may
             // write the file: a writer writes over it and removes it, as its own
    Live,    // a program is writing the file (it holds SQLite's reserved lock): its own journal
    Own,     // hot, and the file's own: the next connection that may write the file plays it back
    Unread,  // a journal of one who may write the file that this user may not read: only one
             // who may read it can tell it, and take it back
    NotOwn,  // anything else: never played, never removed
    // A look's verdict on a journal that would be Own or Unread: a program holds a read lock on
    // the file's reserved byte, which SQLite takes for a writer's, so it would read the file as
    // if no journal stood and never take the write back. No writer can hold that byte meanwhile,
    // so it is the file's stopped write, and the file is neither read nor written until that
    // holder lets go. `holder` names it.
    HeldOff,
};

// Why a journal that is not played stands refused (NotOwn): each is said in its own words, with a
// step that works.
enum class JournalRefusal {
    NotItsOwn,   // not this file's journal (a pipe, another file's, an old one, a log beside it, ...):
                 // its owner or an administrator removes it
    Damaged,     // the file's journal, perhaps, but it would not be played whole (a record that
                 // fails, records short of its count or past it, a file it would grow, a page count
                 // its saved first page contradicts): the file is restored from a backup and the
                 // journal removed
    FormerWriter,  // hot and, by its content, the file's own, but of a user who may not write the
                   // file now: their stopped write, or a file they made, which cannot be told
    WiderThanFile,  // the file's own by its content and its owner, but its mode or access list let
                    // write it one whom the file's rights keep out (`what` names them): what it
                    // holds may be theirs; an administrator who knows it to be the file's own
                    // narrows it, and the next writing command takes it back
    Replaced,  // replaced each time it was looked at: writers at work, or someone swapping files;
               // nothing of it is judged, and the command is run again once they have finished
    SeveralFiles,  // the file's own, of a write of several data files at once (its super journal
                   // stands, listing it) that stopped in its commit: played here alone, the files
                   // would be left out of step; an administrator takes it back in all of them
                   // together, or restores them, and nobody removes it
    WriteAheadLog,  // a write-ahead log beside the file that holds frames, of one who may write the
                    // file and written by none whom the file's rights keep out: writes a program
                    // committed in that mode may stand in it alone; one who may write the file
                    // writes it into the file with that program, or, if it is no such log, its
                    // owner or an administrator removes it
    Unproven,  // its content cannot tell it to be the file's own (another file's identity in its
               // saved first page, times a copy does not keep), yet its owner may write the file
               // and none whom the file's rights keep out may write it: another program's write of
               // the file that stopped in its commit, perhaps; an administrator who knows it to be
               // has it taken back, and otherwise its owner or an administrator removes it
};

// When the journal is judged.
enum class JournalUse {
    Look,      // before a connection opens the file (a program writing it is told from a stopped write)
    Playback,  // SQLite is about to read it as hot (it has checked the file's reserved lock itself)
    Create,    // SQLite is about to write a journal of its own at that name
};

struct JournalJudgement {
    JournalKind kind = JournalKind::None;
    std::string dataFile;
    std::string journal;  // its path
    std::string what;     // NotOwn: what it is, in words ("a named pipe", "the journal of another data file")
    JournalRefusal refusal = JournalRefusal::NotItsOwn;
    bool ofItsFile = false;  // NotItsOwn: `what` says it is this file's (an old journal of it)
    uid_t owner = 0;      // who made it (whatever it is)
    uid_t fileOwner = 0;  // the data file's owner
    // The file judged, once the judge opened it: its device and inode, its names (hard links),
    // and, for SQLite's own opens (Playback, Create), the judge's own descriptor of it, open while
    // this verdict lives, so that the inode is given to no other file meanwhile: whatever is
    // opened by the journal's name afterwards is the journal judged only when it is that inode.
    dev_t device = 0;
    ino_t inode = 0;
    nlink_t names = 0;
    std::shared_ptr<const int> descriptor;
    std::string holder;   // HeldOff: who holds the reserved byte ("process 123 of user dzso")
    // Own: SQLite reads it as hot yet plays no record of it, and only removes it (a first part
    // whose header was never finished; a write of several files whose super journal is gone,
    // which was committed). `what` says which.
    bool playsNothing = false;
    std::string superJournal;  // SeveralFiles: the super journal it names, as it names it

    // NotOwn, HeldOff: why the data file is refused, naming the journal (or the log beside the
    // file) and what it is, or the holder; Own that plays nothing: why a look cannot read the file
    // while it stands.
    std::string reason() const;
    // NotOwn: what is done with it, and by whom (JournalRefusal); HeldOff: TakeBackWhenLetGo.
    ui::NextStep next() const;
};

// The checks are one table of named steps, in the order of the README's "Journals"; a look also
// refuses a file with a write-ahead log or its index beside it (never this program's), naming it.
// The verdict is of the journal that still stands at the name once it is given: one removed
// meanwhile is none (kind None), one replaced (before it was opened, or after) is judged again,
// and one replaced every time is refused as Replaced, never with a step that removes it.
JournalJudgement judge_journal(const std::string& dataFile, JournalUse use = JournalUse::Look);

// Tests: called with a journal's path once it is judged, before the verdict is checked to be of
// the journal that still stands there (it may be removed or replaced meanwhile).
void set_journal_judged_hook_for_tests(std::function<void(const std::string& journal)> hook);

// Before a data file is replaced whole by the copy it had before a run (the put-back): whether the
// journal beside it goes with the writes the copy takes back. Only its own journal (or one SQLite
// never plays, of one who may write it) goes; anything else stays, and keeps the file refused.
bool journal_goes_with_its_file(const std::string& dataFile);

}  // namespace dz::xio
