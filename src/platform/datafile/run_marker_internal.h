// What the phases of a run share, behind run_marker.h: the live run (run_live.cpp), settling the
// backup folders of a data folder (run_settle.cpp, which judges each dead run) and the put-back
// of one (run_put_back.cpp) all read and name the same things: the names of a run's files, a
// marker as it is found, a run's lock, the backup folders of the company, and the notices.
// run_marker.cpp holds these.
#pragma once

#include "platform/datafile/lock_file.h"
#include "platform/datafile/marker_text.h"
#include "platform/datafile/owned_fd.h"
#include "platform/datafile/run_marker.h"
#include "platform/datafile/stream_hash.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace dz::xio::runs {

namespace fs = std::filesystem;

// A backup folder others may list and a marker others may read: every user of the company must
// see a run of another user that stopped half posted, or would write over it unknowing (and
// that user's put-back would later undo what was written). The copies, the run's lock file and
// the folder's lock file are its owner's alone (mode 0600): others see names, never data, and
// cannot hold a lock the owner's programs wait on.
inline constexpr mode_t kBackupFolderMode = 0755;

inline constexpr const char* kRunPrefix = "run~";
inline constexpr const char* kMarkerSuffix = ".marker";
inline constexpr const char* kLockSuffix = ".lock";
inline constexpr const char* kFolderLockName = "folder.lock";
inline constexpr std::size_t kMarkerBound = 64 * 1024;  // far above any run's names; a bigger one is not ours

// ---- Names ----------------------------------------------------------------------------------------

std::string host_name();
bool all_digits(const std::string& s, std::size_t most = 9);
std::string errno_text(int err);
// Control characters read from a file or a folder are shown, never sent to a terminal or a log.
std::string escaped(const std::string& text);
// A path as read: "a/b/../c" is "a/c" (a way between folders of the company reads as one path).
std::string normal(const std::string& path);
// "run~<host>~<process><suffix>": its run, or false.
bool parse_run_file_name(const std::string& name, const std::string& suffix, std::string& run);
std::string this_run();
std::string marker_name(const std::string& run);
std::string lock_name(const std::string& run);
// The data files' names, each once, ", " between them.
std::string join_files(const std::vector<std::string>& files);
// The data file a copy's name is of.
std::string data_file_of(const std::string& copy);
bool process_gone(const std::string& pid);

ui::NextStep step(ui::Step s, std::vector<std::string> args = {});

// ---- Files of a backup folder --------------------------------------------------------------------

// A regular file of `owner` with one link: the only kind of entry of a backup folder used.
bool owned_plain_file(int fd, uid_t owner, struct stat* out = nullptr);

// The lock of a backup folder: a file of its owner's alone (see lock_file.h), so that nobody who
// may only read the company can hold what its writers wait on, and waited for a bounded time.
class FolderLock {
public:
    // False with why, and what to do (wait for the holder, by name when known).
    bool take(int dirFd, const std::string& folder, std::string& why, ui::NextStep* next = nullptr);
    // After a refused take: whether another program held it (a conversion starting, or a writing
    // command settling the folder), not a lock file that could not be had.
    bool held() const { return held_; }
    // After a refused take: whether none but holders it is not for held it (another user's
    // process, or one that has ended, through a descriptor another process kept): said at once.
    bool foreign() const { return foreign_; }
    // After a refused take: who held it, when known ("process 123 of user nobody").
    const std::string& holder() const { return holder_; }

private:
    Fd fd_;
    bool held_ = false;
    bool foreign_ = false;
    std::string holder_;
};

// Cuts a marker at `at`, synced: 0, or the errno.
int cut_marker(int fd, off_t at);

// Adds every byte of `fd` (from its start) to `hash`: false when it cannot be read through.
bool hash_through(int fd, StreamHash& hash);

// The names in a folder (`ok` false when it cannot be listed whole).
std::vector<std::string> list_folder(int dirFd, bool& ok);
// The copies of `run` among `names`.
std::vector<std::string> copies_beside(const std::vector<std::string>& names, const std::string& run);

// ---- A marker as found ----------------------------------------------------------------------------

using CopyLine = MarkerCopy;

struct Marker {
    enum State { Gone, Empty, Whole, Unreadable } state = Gone;
    std::string why;                 // Unreadable: why
    bool previous = false;           // of the first version: no lengths, hashes or lock file
    bool numbered = false;           // gives its run's number, which the files it committed carry
    uint64_t number = 0;
    std::string host, process;       // as the marker gives them
    std::string main;                // a part: the way to the main marker's data folder
    std::vector<std::string> parts;  // the main: the ways to the parts' data folders
    std::vector<CopyLine> copies;    // Whole: the copies it names
    std::map<std::string, FileHad> had;  // by data file name: what each had when it was copied
    off_t namesEnd = 0;              // the length of its lines before the first copy
    Fd fd;
};

// Reads the marker `name` of run `run` in the backup folder `dirFd` of `owner` (opened to be
// written when `writable`). The caller holds the run's lock first, so a run that ends meanwhile
// is seen gone, never half read.
void read_marker(int dirFd, const std::string& name, const std::string& run, uid_t owner, bool writable, Marker& m);

enum class Life { Dead, Alive, Unknown };

// Tries the lock of run `run`: Dead with `lock` holding it on the file its name names (or with
// `lockFile` false when the run has no lock file: a run makes it before its marker and removes it
// after); Alive when another program holds it; Unknown when it cannot be tried (another owner's,
// one this user cannot open, one held by none but users it was never for): cannot be told.
Life take_run_lock(int dirFd, const std::string& run, uid_t owner, bool exclusive, Fd& lock, bool& lockFile);
// Whether `lockFd` holds the lock file the name of run `run` names; with no lock held, whether
// no lock file of it stands (`dead`: none stood when its lock was tried either).
bool holds_run_lock(int dirFd, const std::string& run, int lockFd, bool dead);
// Why a run's lock file cannot be used, as it stands in its folder: "" when nothing is seen wrong.
// Held by none but holders that are not its run's (this program's own lock is none of them):
// `holder` (when given) is the first.
std::string lock_file_fault(int dirFd, const std::string& name, uid_t owner, std::optional<LockHolder>* holder = nullptr);

// ---- The company's folders -------------------------------------------------------------------------

using FolderIds = std::set<std::pair<dev_t, ino_t>>;
FolderIds::value_type folder_id(const std::string& folder);

// The backup folders in a data folder: ".backup" and ".backup-<n>[-<k>]" that are real folders (a
// link is never followed), each with its owner. A folder is its owner's whatever its name says:
// a company handed over whole (`chown -R`) keeps its stopped runs, now of their new owner.
std::vector<std::pair<std::string, uid_t>> backup_folders(const std::string& dataFolder);
// The company's data folders as the layer above gives them, with `dataFolder` first.
std::vector<std::string> company_data_folders(const std::string& dataFolder);
// The folder a marker's way leads to from `fromDataFolder`, as a normal path with its slash.
std::string way_target(const std::string& fromDataFolder, const std::string& way);
// Why a way of a marker is not one (it leads to a folder that stands outside the company), or "".
std::string way_outside(const std::string& fromDataFolder, const std::string& way, const FolderIds& company);

// ---- Notices ---------------------------------------------------------------------------------------

// Queues a notice, its texts escaped; one other than a put-back once per command (by `once`, or
// else by its marker and reason).
void notify(RunNotice notice, const std::string& once = "");

// Why a marker of an owner without an account cannot be judged: whether it may write `which`.
std::string no_account_reason(const std::string& marker, uid_t owner, const std::string& which);

// What is asked of the owner of a backup folder that holds (or may hold) a stopped run: their
// writing command puts it back. An owner with no account runs nothing: an administrator acts.
ui::NextStep ask_owner(uid_t owner, const std::string& folder);

// ---- Settling ----------------------------------------------------------------------------------

// One folder's marker of a dead run, as a put-back takes it.
struct Piece {
    std::string dataFolder, folder;  // with their slashes
    uid_t owner = 0;
    Fd dir;
    std::unique_ptr<FolderLock> folderLock;  // taken when the piece was found from another folder
    Fd runLock;
    Life life = Life::Unknown;
    Marker m;
    std::vector<std::string> beside;  // the run's copies that stand in the folder
    std::string markerPath() const { return folder + marker_name(run); }
    std::string run;
};

// One settling of a data folder's backup folders, and what it says. One maker per kind of word.
struct Scan {
    const SettleRequest& request;
    std::string dataFolder;
    std::string* why;
    bool ok = true;
    FolderIds company;  // the company's folders (this data folder among them): where ways may lead
    // Dead runs left unjudged for a write left in the middle ("<owner>~<run>"), judged again once
    // it is taken back.
    std::set<std::string> awaited;
    // Only these runs are looked at (a judging again from another of the company's folders);
    // empty: every run.
    std::set<std::string> onlyRuns;
    // The data files named by runs whose lock an outsider holds: no write of theirs left in the
    // middle is taken back by this command.
    std::set<std::string> held;
    // The writes left in the middle have been taken back (as far as they could be): a put-back
    // that waited for them is judged now, and refused where it still cannot be done.
    bool tookBack = false;
    // A put-back waits for them (in `awaited`): its run is judged again after them.
    bool deferred = false;

    // A notice that stops nothing.
    void say(RunNoticeKind kind, const std::string& marker, const std::string& files, const std::string& reason,
             ui::NextStep next, int err = 0, const std::string& once = "");
    // A notice that leaves the company as it stands: the command is refused (a look: it refuses).
    void refuse(RunNoticeKind kind, const std::string& marker, const std::string& files, const std::string& reason,
                ui::NextStep next, int err = 0, const std::string& once = "");
    // A run stopped half posted that is not put back now: a writer's refusal, a look's warning.
    void refuse(const std::string& marker, const std::string& files, const std::string& reason, ui::NextStep next,
                int err = 0, const std::string& once = "");
    // A marker of `owner` that no conversion of theirs made: named once, it stops nobody; its
    // user (or an administrator) moves it away. `because` says why, after "and".
    void notARun(const std::string& marker, uid_t owner, const std::string& folder, const std::string& files,
                 const std::string& because);
    // A numbered run that no data file carries, though a data file differs from its copy: named
    // once, it stops nobody; its copies are kept for its user or an administrator to look at.
    void keptCopies(const std::string& marker, uid_t owner, const std::string& run, const std::string& folder,
                    const std::string& files, const std::string& which);
    // Whether a run is a conversion cannot be told: refused, with the step to restore or hand over.
    void untold(const std::string& marker, const std::string& files, const std::string& reason,
                const std::string& folder);
};

// What a search for a marker of a run is after.
struct Seek {
    std::string fromDataFolder, way, run;
    uid_t owner = 0;
    bool putter = false;      // takes the folder's lock and opens the marker to be written
    bool wantMain = false;    // a part of the run is not what is sought
    const FolderIds* taken;   // folders already held by this put-back: never taken twice
    const FolderIds* company;
};

// Finds the marker of a run in the data folder its way leads to, or else in one of the company's
// data folders; never in a folder of `taken`, never outside the company. Opens its folder, takes
// the folder's lock (for a put-back) and the run's lock, and reads it.
bool find_piece(const Seek& s, Piece& piece, std::string& why);
// Whether a marker of `run` of `owner` stands in a backup folder of any of the company's folders.
bool marker_stands(const Scan& scan, const std::string& run, uid_t owner);
// Everything of `run` of `owner` that stands in the company's backup folders: the data files its
// copies are of, and the folders holding its markers or copies (", " between them).
std::pair<std::string, std::string> run_everywhere(const Scan& scan, const std::string& run, uid_t owner);
// The step for a run nothing is put back from: restore every data file it left a copy of, and
// clear every folder of the company it left a marker or copy in.
ui::NextStep restore_run(const Scan& scan, const std::string& run, uid_t owner, const std::string& files,
                         const std::string& folder);
// A piece whose run's lock file cannot be used is refused, naming the lock file and why: true.
bool refuse_unusable_lock(Scan& scan, const Piece& p, const std::string& files);
// Removes a piece's copies, its marker and its lock file.
void remove_piece(Piece& p);

// ---- Judging (run_settle.cpp) -----------------------------------------------------------------

// Proven: a file carries the run. Unproven: none carries it, so it committed nothing. Foreign:
// a file carries the number as another user's. Untold: it cannot be told.
enum class Proof { Proven, Unproven, Foreign, Untold };
struct Judgment {
    Proof proof = Proof::Unproven;
    std::set<std::string> left;  // settled files that do not carry the run: never put back
    std::string which, why;      // Foreign: the file and whose number; Untold: the file and why, as a clause
    bool unsettled = false;      // a file holds a write left in the middle: what it carries is not known yet
};
Judgment judge_run(const Scan& scan, uid_t owner, uint64_t number, const std::vector<std::string>& dataFiles);

// A data file a run names, and the copy the run made of it.
struct NamedCopy {
    std::string dataFile;  // its path
    std::string copy;      // the copy's path
    uint64_t length = 0, hash = 0;
    bool hashed = false;   // the marker gives the copy's length and hash (all but the first version)
    std::optional<FileHad> had;  // what the data file had when the run began, as the marker gives it
};
// Whether every data file stands as the run copied it (or stands no more): then the run left
// nothing of its own in them. False with the first that differs, or cannot be compared, in `which`.
bool files_as_copied(const std::vector<NamedCopy>& copies, std::string& which);
// Whether a data file of `dataFiles` is left in the middle of a write (its journal hot): what it
// carries is not known until that write is taken back.
bool any_unsettled(const std::vector<std::string>& dataFiles);
// A run of a marker made before runs carried a number, whose user may not write `which`: unmade
// only where every data file stands as copied (named, it stops nobody); otherwise whether it is
// a conversion cannot be told, and it is refused. Either way nothing is put back.
void judge_unnumbered(Scan& scan, const std::string& marker, uid_t owner, const std::string& folder,
                      const std::string& files, const std::string& which, const std::vector<NamedCopy>& copies);

// ---- The live run (run_live.cpp) ------------------------------------------------------------------

// Whether this program's own run, alive, holds the backup folder `folder` (with its slash).
bool run_held_in(const std::string& folder);

// ---- The put-back (run_put_back.cpp) ----------------------------------------------------------

// Puts every copy of a dead run back, step by step: `unit` is its main marker (or its only one)
// and its parts, each dead and whole. A look says what a writing command would do.
void put_back(Scan& scan, std::vector<Piece*>& unit);
// The run's users: its backup folder's owner, and the user the folder's name gives
// (".backup-<uid>"), who made the run even after the folder was handed to another (chown -R).
std::vector<uid_t> run_users(const Piece& p);
// The files aside of `dataFile` left by put-backs killed midway (their process no longer runs),
// whoever's they are: once the file is put back they hold nothing anyone needs, and the command
// that finished the put-back, whoever's it was, removes them.
void drop_stale_asides(const std::string& dataFile);
// Whether a journal left zeroed by a killed run (its first eight bytes zero: never hot, never
// played) stands beside `dataFile`: a regular file of one link of one of the run's users, of this
// user or of the data file's owner (root's SQLite gives a journal it opens the file's owner). `st`
// is it.
bool zeroed_journal(const std::string& dataFile, const std::vector<uid_t>& runUsers, struct stat& st);
// Beside each of `dataFiles`, such a zeroed journal is removed under the file's writer lock; any
// other is left as it stands.
void drop_zeroed_journals(const std::vector<std::string>& dataFiles, const std::vector<uid_t>& runUsers);
// The data files of a run that a put-back killed midway left as one of the run's users' (their
// owner or group not the one the run's marker gives): a writing command that finishes or clears
// the run gives them back what they had, as far as this user may, and says what it could not
// (NotGivenBack, once); a look (`change` false) only says it. Files aside that killed put-backs
// left beside them go too. What was said, "" for nothing.
std::string give_back_what_they_had(const std::vector<NamedCopy>& copies, const std::vector<uid_t>& runUsers,
                                    const std::string& marker, bool change);

}  // namespace dz::xio::runs
