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
    // A look met a stopped conversion of this user: a writing command (Convert, load) puts it
    // back first; the look itself, run again, would only refuse again.
    AgainToPutBack,
    // The disk is full. args: {file}, the file whose disk must get space.
    FreeSpace,
    // Another user's conversion is posting or stopped half posted: wait until it has finished;
    // if it stopped, that user (or an administrator) runs a writing command of the company
    // (Convert, load), which puts it back. args: {user}, as "dzua (uid 1001)" or "uid 1005".
    AskUserToPutBack,
    // Nothing can be put back from a stopped conversion's copies: restore the data files named
    // from a backup, then move the run's markers and copies out of the folder.
    // args: {files, folder}, the data files (", " between them) and the backup folder.
    RestoreFromBackup,
    // A run marker that no conversion made (its user may not write the files it names) stands
    // in a backup folder; nothing needs putting back: its user (or an administrator) moves the
    // marker and its copies away. args: {folder, user}, the backup folder and its owner ("" when
    // the owner has no account: an administrator alone is asked).
    MoveRunAway,
    // Whether a stopped conversion is genuine cannot be told (its user has no account): either
    // restore the data files named from a backup, or an administrator gives the backup folder
    // (`chown -R`) to a user who may write them, whose next writing command puts it back.
    // args: {files, folder}.
    RestoreOrHandOver,
    // A data file put back could not be given its owner or group: an administrator gives it
    // back. args: {files, owner, group}: the files (", " between them) and the owner and group
    // they are to have again; "" for the one that was kept (only what was not kept is asked).
    GiveOwnerBack,
    // The report file's disk is full: free space there, or send the report elsewhere.
    // args: {file}, the report file.
    FreeSpaceOrOtherReport,
    // The notes file's disk is full: free space there, or send the notes elsewhere.
    // args: {file}, the notes file.
    FreeSpaceOrOtherNotes,
    // A folder the command must write in may not be written by this user.
    // args: {folder}.
    WritableFolder,
    // A backup folder's owner has no account, so runs nothing: an administrator gives the folder
    // (`chown -R`) to a user who may write the company's data files, whose next writing command
    // puts back what stopped in it, or restores the data files from a backup. args: {folder}.
    AskAdministrator,
    // Every backup folder name this user may take in a data folder belongs to another user: an
    // administrator gives this user one that is empty, or removes it. args: {folders, users}.
    FreeBackupFolder,
    // A stopped conversion's lock file cannot be used (another owner, a link, a second name):
    // once the run's program no longer runs, removing it lets a writing command put the run
    // back. args: {program, lock file}, the program as the run's marker gives it.
    RemoveRunLock,
    // A lock file's name holds something a lock cannot be taken on (a link, a pipe, a folder, a
    // socket, a file of two names): nothing holds it, and waiting never helps; whoever made it,
    // or an administrator, removes it. args: {lock file, user}: its path, and who owns it.
    RemoveLockFile,
    // A conversion must be able to replace the company's files (company.toml, its data files)
    // and a sticky folder keeps them for their owner: an administrator removes the folder's
    // sticky bit, or the files' owner converts. args: {folder, owner}.
    UnstickFolder,
    // A stopped conversion's data files cannot be put back by this user (its own user may no
    // longer write them or has no account, or the system refuses the rename: a sticky folder, a
    // file made immutable): an administrator's writing command puts it back.
    // args: {administrator}, as "root (uid 0)".
    AdministratorPutsBack,
    // The report (or notes) went to a device that takes no more, which is no file on a disk:
    // another report (notes) file is named. args: {device}.
    OtherReport,
    OtherNotes,
    // What stands at a data file's journal name is not its own journal (a pipe, a link, another
    // file's journal, one of a user who may not write the file): it is never played nor removed,
    // and waiting never helps: an administrator, or a user who may write its folder (of a sticky
    // folder, only its owner or the folder's), removes it.
    // args: {journal, user}: its path, and who owns it ("root (uid 0)": the administrator, said once).
    RemoveJournal,
    // A write to a data file stopped before its commit: a writing command of the company takes it
    // back first. args: {} when this user's own writing command does; {user, data file} when this
    // user may not write the file (or its journal or folder): that user, who may, or an
    // administrator runs one.
    TakeBackWrite,
    // A run marker that no data file carries stands, though a data file differs from its copy:
    // nothing is put back from it, and its user (or an administrator) looks at its copies, then
    // moves them away. args: {folder, user} ("" when the owner has no account).
    LookAtRunCopies,
    // Another user's conversion that may still be posting, which only an administrator's writing
    // command puts back if it stopped: wait while it posts.
    WaitOrAdministrator,
    // A data file's journal is damaged (its records stop short of its header's count, one fails
    // its checksum, it would grow the file): played, it would leave the file half written, so it
    // is never played nor removed. The file is restored from a backup, then the journal removed.
    // args: {data file, journal}.
    RestoreFromBackupAndRemoveJournal,
    // A data file cannot be read after its journal was played back: it is restored from a
    // backup. args: {data file}.
    RestoreDataFile,
    // A hot journal of a user who may no longer write its data file: it may be their write that
    // stopped, or a file they made, and its content cannot tell. Once that user confirms it is
    // their stopped write, an administrator gives the journal to the file's owner and any
    // writer's command takes it back; otherwise the file is restored from a backup and the
    // journal removed. args: {user, journal, file's owner, data file}.
    GiveJournalToFileOwner,
    // This user's own journal, which this user may not read: its read permission is given back.
    // args: {journal}.
    MakeJournalReadable,
    // A journal that holds no write (SQLite never plays it) which this user may not write over:
    // in a folder that is not sticky any writer of the folder may remove it, its owner among
    // them. args: {journal, user}: its path, and who owns it.
    RemoveIdleJournal,
    // Another user's conversion that stopped with nothing of it posted (whatever it wrote was
    // taken back): nothing needs putting back, and that user's next writing command (or an
    // administrator's) clears its marker and copies away. args: {user, folder}.
    ClearedByItsUser,
    // A lock file is held by none of the programs it is for (a user who may not take what it
    // guards, or a process that has ended, through a descriptor another process kept): nothing
    // the company's users run ends it, and waiting may never end. An administrator ends the
    // process that keeps it open. args: {lock file, holder}.
    EndLockHolder,
    // A data file this user may not write, or whose folder they may not write in (its journal is
    // made there): nothing holds it, and waiting never helps; whoever may, an administrator or
    // the file's owner, gives this user write permission on both. args: {data file}, or every
    // file a run needs that this user may not write (", " between them), each with its folder.
    WritableFile,
    // A lock on a file is held through an open file description, which names no process: wait
    // until it is let go; if it never is, an administrator finds the process that keeps it
    // (`fuser -v` on the file) and ends it. args: {file}.
    FindLockHolder,
    // A stopped conversion whose lock is held by none of its programs, which this command cannot
    // put back or clear when the holder is gone (a look; another user's writing command where
    // it may be half posted): an administrator ends the process that keeps it, then a writing
    // command puts the run back or clears it, then this command is run again. args: {lock file,
    // holder} when this user's writing command does; {lock file, holder, user} when that user's
    // (the run's) or an administrator's does.
    EndHolderThenPutBack,
    // A backup folder's lock held by none of the programs it is for, which keeps nothing from
    // this command: it goes on. What an administrator may do, and what it keeps from others until
    // then (no conversion keeps its copies in that folder). args: {lock file, holder}.
    MayEndLockHolder,
    // A stopped write's journal cannot be removed by anyone, so its write cannot be taken back,
    // until an administrator lifts what keeps it (an immutable or append-only attribute, a file
    // system mounted read-only); a writing command then takes it back.
    // args: {journal, cause, lift}: what keeps it, and the command that lifts it.
    LiftJournalBar,
    // A file or folder the command must write is kept from being written by what only an
    // administrator lifts (as above); waiting never helps. args: {path, cause, lift}.
    LiftWriteBar,
    // A stopped write cannot be taken back while a program holds a lock on the byte SQLite's
    // writers lock (a reader's, which SQLite takes for a writer's): once it lets go (or an
    // administrator ends it), a writing command takes the write back. args: {holder, data file}.
    TakeBackWhenLetGo,
    // A file the command replaces whole (the company's settings) keeps its group, which this user,
    // not of it, cannot give the file written in its place: an administrator makes them a member,
    // or the file's owner gives it a group they are of. args: {group, file}, or {files, group,
    // file} where files (", " between them) also want leave to write, as WritableFile's.
    KeepFilesGroup,
    // A hot journal, the file's own by its content and its owner, that one whom the file's rights
    // keep out may write: if an administrator knows it to be the file's stopped write, they narrow
    // it (the command given), and a writing command then takes the write back; if not, the file
    // is restored from a backup and the journal removed. args: {journal, data file, command}.
    NarrowJournal,
    // A data file's journal is of a write of several data files at once that stopped in its
    // commit (its super journal stands, listing it): played alone, the file would be read as if
    // the write had never reached the others, and removed, the file would be left half written.
    // An administrator takes the write back in all of them together (each opened for writing by
    // SQLite's own shell, which plays its journal and removes the super journal after the last),
    // or restores them all from a backup. args: {journal, super journal}.
    TakeBackTogether,
    // A data file this user may write (or whose owner also owns nothing above it) in a folder
    // they may not write in, where its journal is made: only the folder's owner (or an
    // administrator) gives that leave, never the file's owner. args: {folder, folder's owner},
    // or {folder, folder's owner, file, file's owner} where the file, of another owner, may not
    // be written either.
    WritableFolderOfOwner,
    // A write-ahead log beside a data file that holds frames, of one who may write the file and
    // written by none whom its rights keep out: it may hold another program's committed writes
    // (the sqlite3 shell's, in that mode), which removing it would lose. If it is such a log, one
    // who may write the file has that program write it into the file (the command given), then
    // the command is run again; if not, its owner or an administrator removes it.
    // args: {log, data file, user}: the log, the file, and who owns the log.
    WriteLogIntoFile,
    // A hot journal its content cannot tell to be the file's own, yet believed by its rights: it
    // may be another program's write of the file that stopped in its commit, which removing it
    // would leave half written. If an administrator knows it to be, one who may write the file
    // takes it back with the sqlite3 shell (which plays a hot journal at its first read), then the
    // command is run again; if not, its owner or an administrator removes it.
    // args: {journal, data file, user}: the journal, the file, and who owns the journal.
    TakeBackOrRemoveJournal,
    // A journal SQLite reads as hot that holds nothing to take back (a committed write of several
    // files whose super journal is gone; a first header never finished): a look does not read the
    // file while it stands, and a writing command of the company removes it first. args: {} when
    // this user's own writing command does; {user, data file} when that user, who may write the
    // file, or an administrator runs one.
    RemoveSpentJournal,
};

// Whether `step` follows a refusal of what stands beside a data file (its journal, its lock
// file) or of what keeps its journal from being removed: nothing holds the file, and waiting
// never helps.
bool journal_refusal(Step step);

struct NextStep {
    Step step = Step::None;
    std::vector<std::string> args;
    explicit operator bool() const { return step != Step::None; }
    bool operator==(const NextStep&) const = default;
};

// Whose words a step is said in.
enum class Voice { CommandLine, Desktop };

// The command whose run a step follows: a step names its own command to run again ("choose
// Examine Files again"), never another's. Each command has one maker of its steps' messages,
// which words every step, so that a new step or refusal cannot borrow another command's words.
enum class Command { Convert, Examine, Prefill };

// While it lives, the steps said are `command`'s: a command's run holds one. Outside any, a
// step is Convert's, the command that writes.
class CommandSteps {
  public:
    explicit CommandSteps(Command command);
    ~CommandSteps();
    CommandSteps(const CommandSteps&) = delete;
    CommandSteps& operator=(const CommandSteps&) = delete;

  private:
    Command before_;
    std::vector<NextStep> saidBefore_;
};
// The command whose steps are said now.
Command steps_command();

// A refusal whose step waiting never helps (a journal that is not played) stands for the whole
// command: said once in a box, it is not said again when the same file is opened later in the
// same command. The front end's boxes note each step they said; a command's start forgets them.
void note_step_said(const NextStep& next);
bool step_said_in_command(const NextStep& next);

// The numbered message that words `next` in `voice` for `command` (0 for Step::None).
int step_message(const NextStep& next, Voice voice, Command command = steps_command());
// The message that joins what happened with its next step, in `voice`.
int notice_message(Voice voice);

// The message texts live above this layer: the layer that reads them installs how a numbered
// message is filled with its values (plain substitution).
using MessageFiller = std::string (*)(int number, const std::vector<std::string>& values);
void set_message_filler(MessageFiller filler);

// `next` in `voice`'s words; empty for Step::None. Before a filler is installed it says so in
// its place (never a step silently dropped).
std::string step_words(const NextStep& next, Voice voice, Command command = steps_command());
// What a refusal to write a file says of it, by the step that lifts what keeps it: what only an
// administrator lifts (LiftWriteBar: its cause), the folder it is in (WritableFolderOfOwner), or
// that this user has no permission to change it or its folder (any other step). Before a filler
// is installed it says so in its place.
std::string unwritable_words(const NextStep& next);

// What happened followed by its next step in `voice`'s words; `text` alone without a step.
std::string with_step(const std::string& text, const NextStep& next, Voice voice,
                      Command command = steps_command());

}  // namespace dz::ui
