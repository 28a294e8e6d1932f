// Settling the backup folders of a data folder: each dead run found is judged by what its data
// files carry, then put back (run_put_back.cpp), cleared, named or refused; then the writes left
// in the middle (hot journals) are taken back.
#include "platform/datafile/run_marker_internal.h"

#include "platform/datafile/file_aside.h"
#include "platform/datafile/hot_journal.h"
#include "platform/datafile/lock_file.h"
#include "platform/datafile/put_back_checks.h"
#include "platform/datafile/run_mark.h"
#include "platform/datafile/sticky_folder.h"
#include "platform/datafile/users.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <map>
#include <sys/file.h>

namespace dz::xio {
namespace runs {

// ---- Proof: what the data files a run names carry ------------------------------------------

// Whether a marker of `uid` that gives `number` stands in a backup folder of the company.
bool numbered_marker_stands(const Scan& scan, uid_t uid, uint64_t number) {
    for (const auto& dataFolder : company_data_folders(scan.dataFolder))
        for (const auto& [folder, folderOwner] : backup_folders(dataFolder)) {
            if (folderOwner != uid) continue;
            Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            bool listed = false;
            if (dir.fd < 0) continue;
            for (const auto& name : list_folder(dir.fd, listed)) {
                std::string run;
                if (!parse_run_file_name(name, kMarkerSuffix, run)) continue;
                Marker m;
                read_marker(dir.fd, name, run, uid, false, m);
                if (m.numbered && m.number == number) return true;
            }
        }
    return false;
}

// A marker that gives its run's number is judged by the data files alone: the run is proven when
// one of them carries its user (the backup folder's owner) and that number. Who may write them
// now is never asked: a run whose user left the group since, or whose file was narrowed, wrote
// what it wrote. Unproven: none carries it, so it committed nothing. Foreign: a file carries the
// number as another user's (a marker made from a number read out of a file). Untold: none
// carries it and a file cannot be read.
// A company handed over whole (`chown -R`) gives the run's folder to a new owner while its files
// still carry the old one's uid: the run is handed over, its new owner's, when no marker of the
// old uid with that number stands in the company any more (after a real hand-over the old marker
// is this one) and that owner may write every file it names, as nothing it could put back is
// beyond what that owner may write anyway. While the old uid's marker stands, a marker of another
// user with its number (one who read it out of a file) is foreign and proves nothing.
Judgment judge_run(const Scan& scan, uid_t owner, uint64_t number, const std::vector<std::string>& dataFiles) {
    Judgment j;
    bool carried = false;
    std::string foreign, foreignWhose, untold, untoldWhy;
    uid_t foreignUid = 0;
    for (const auto& f : dataFiles) {
        RunMark mark;
        std::string why;
        switch (read_run_mark(f, mark, &why)) {
        case MarkFound::Carried:
            if (mark.number == number && mark.uid == owner) {
                carried = true;
                break;
            }
            if (mark.number == number) {
                if (foreign.empty()) {
                    foreign = f;
                    foreignUid = mark.uid;
                    foreignWhose = user_name(mark.uid);
                }
                break;  // written by the run under its former owner: never among those left
            }
            j.left.insert(f);
            break;
        case MarkFound::None:
            j.left.insert(f);
            break;
        case MarkFound::Unreadable:
            if (untold.empty()) {
                untold = f;
                untoldWhy = why;
            }
            break;
        case MarkFound::Unsettled:  // its write is not committed: it goes back with the run, if any
            j.unsettled = true;
            break;
        case MarkFound::Missing:  // made again from its copy, with the run, if any
            break;
        }
    }
    std::string which;
    const bool handed = !carried && !foreign.empty() && !numbered_marker_stands(scan, foreignUid, number);
    const WriteRight right = handed ? write_right_all(owner, dataFiles, which) : WriteRight::No;
    if (carried || right == WriteRight::Yes) j.proof = Proof::Proven;
    else if (right == WriteRight::Untold)  // handed to a uid with no account: whose it is cannot be told
        j = {Proof::Untold, j.left, foreign,
             foreign + " carries the number as " + foreignWhose + "'s, and whether " + user_name(owner) +
                 ", who has no account, may write " + which + " cannot be told either",
             j.unsettled};
    else if (!foreign.empty()) j = {Proof::Foreign, j.left, foreign, foreignWhose, j.unsettled};
    else if (!untold.empty())
        j = {Proof::Untold, j.left, untold, untold + " cannot be read (" + untoldWhy + ")", j.unsettled};
    return j;
}

namespace {

// Whether the file `file` holds the bytes of `copy` (the run's copy), read through both.
bool same_bytes(int file, const std::string& copy) {
    Fd in(::open(copy.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (in.fd < 0) return false;
    std::string a(1 << 16, '\0'), b(1 << 16, '\0');
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(file, a.data(), a.size(), at);
        const ssize_t m = ::pread(in.fd, b.data(), b.size(), at);
        if (n < 0 || m < 0 || n != m || std::memcmp(a.data(), b.data(), static_cast<std::size_t>(n)) != 0) return false;
        if (n == 0) return true;
        at += n;
    }
}

}  // namespace

bool files_as_copied(const std::vector<NamedCopy>& copies, std::string& which) {
    for (const auto& c : copies) {
        Fd file(::open(c.dataFile.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (file.fd < 0 && errno == ENOENT) continue;  // removed since: nothing of the run stands in it
        struct stat st {};
        bool same = file.fd >= 0 && ::fstat(file.fd, &st) == 0 && S_ISREG(st.st_mode);
        // The copy itself where this user may read it (its owner, root); else what the marker
        // says of it, which a marker of the first version does not.
        if (same && ::access(c.copy.c_str(), R_OK) == 0) {
            same = same_bytes(file.fd, c.copy);
        } else if (same && c.hashed) {
            StreamHash hash;
            same = hash_through(file.fd, hash) && hash.Length() == c.length && hash.Value() == c.hash;
        } else {
            same = false;
        }
        if (!same) {
            which = c.dataFile;
            return false;
        }
    }
    return true;
}

void judge_unnumbered(Scan& scan, const std::string& marker, uid_t owner, const std::string& folder,
                      const std::string& files, const std::string& which, const std::vector<NamedCopy>& copies) {
    std::string differs;
    if (files_as_copied(copies, differs))
        return scan.notARun(marker, owner, folder, files, "that user may not write " + which);
    scan.untold(marker, files,
                "the run marker " + marker + " of " + user_name(owner) + " gives no run number, that user may not write " +
                    which + ", and " + differs + " differs from its copy: whether it is a conversion that stopped "
                    "half posted cannot be told",
                folder);
}

namespace {

std::vector<NamedCopy> named_copies(const Piece& p) {
    std::vector<NamedCopy> copies;
    if (p.m.state == Marker::Whole)
        for (const auto& c : p.m.copies)
            copies.push_back({p.dataFolder + c.dataFile, p.folder + c.name, c.length, c.hash, !p.m.previous, c.had});
    else
        for (const auto& name : p.beside) copies.push_back({p.dataFolder + data_file_of(name), p.folder + name, 0, 0, false, {}});
    return copies;
}

std::vector<std::string> paths_of(const std::vector<NamedCopy>& copies) {
    std::vector<std::string> paths;
    for (const auto& c : copies) paths.push_back(c.dataFile);
    return paths;
}

// Visits the other markers of the run `here` is one of (a run in several folders), each found as
// a look finds it (no folder's lock taken, its run's lock shared): its main, when `here` is a
// part (`main` true), then the main's parts. Each folder is read once, whatever the ways that
// lead to it. `visit` answers true to go no further.
void each_other_piece(Scan& scan, const Piece& here, const std::function<bool(const Piece&, bool main)>& visit) {
    FolderIds taken{folder_id(here.dataFolder)};
    Piece found;
    const Piece* main = &here;
    std::string why;
    if (!here.m.main.empty()) {
        if (!find_piece({here.dataFolder, here.m.main, here.run, here.owner, false, true, &taken, &scan.company}, found, why) ||
            visit(found, true))
            return;
        taken.insert(folder_id(found.dataFolder));
        main = &found;
    }
    for (const auto& way : main->m.parts) {
        Piece part;
        if (!find_piece({main->dataFolder, way, here.run, here.owner, false, false, &taken, &scan.company}, part, why))
            continue;
        taken.insert(folder_id(part.dataFolder));
        if (visit(part, false)) return;
    }
}

// The data files named by every marker of the run `here` is one of, with their copies: its
// main's and every part's (a main that is not whole names none, nor do its parts).
std::vector<NamedCopy> unit_copies(Scan& scan, const Piece& here) {
    std::vector<NamedCopy> copies = named_copies(here);
    each_other_piece(scan, here, [&](const Piece& p, bool main) {
        if (p.m.state != Marker::Whole) return main;
        const std::vector<NamedCopy> more = named_copies(p);
        copies.insert(copies.end(), more.begin(), more.end());
        return false;
    });
    return copies;
}

// A dead main marker, whole: its run is put back with every part it names (`known` is the part
// the put-back started from, its folder's lock already held: never taken a second time).
void settle_whole_main(Scan& scan, Piece& main, Piece* known) {
    std::vector<Piece*> unit{&main};
    std::vector<std::unique_ptr<Piece>> found;
    FolderIds taken{folder_id(main.dataFolder)};
    if (known) taken.insert(folder_id(known->dataFolder));
    bool knownIn = known == nullptr;
    // What the run left in every folder of the company: restoring one folder's files alone
    // would leave it mixed.
    auto restore = [&](const std::string& folder) {
        const auto [all, folders] = run_everywhere(scan, main.run, main.owner);
        return step(ui::Step::RestoreFromBackup, {all.empty() ? join_files([&] {
                                                      std::vector<std::string> n;
                                                      for (const auto& c : main.m.copies) n.push_back(c.dataFile);
                                                      return n;
                                                  }())
                                                              : all,
                                                  folders.empty() ? folder : folders});
    };
    // One refusal for the run, however many of its folders meet it.
    auto refuseRun = [&](const std::string& marker, const std::string& files, const std::string& reason,
                         ui::NextStep next) {
        scan.refuse(marker, files, reason, std::move(next), 0, std::to_string(main.owner) + "~" + main.run);
    };
    for (const auto& way : main.m.parts) {
        if (known && !knownIn && folder_id(way_target(main.dataFolder, way)) == folder_id(known->dataFolder)) {
            unit.push_back(known);
            knownIn = true;
            continue;
        }
        auto p = std::make_unique<Piece>();
        std::string why;
        if (!find_piece({main.dataFolder, way, main.run, main.owner, scan.request.mayWrite, false, &taken, &scan.company}, *p,
                        why)) {
            // The part the put-back started from, reached by search where this way leads to no
            // folder at all (a company moved): it is this part.
            if (why.empty() && known && !knownIn && folder_id(way_target(main.dataFolder, way)).second == 0) {
                unit.push_back(known);
                knownIn = true;
                continue;
            }
            return refuseRun(main.markerPath(), "",
                               why.empty() ? "the run marker " + main.markerPath() + " names a part in " +
                                                 way_target(main.dataFolder, way) + " that cannot be found (the company "
                                                 "may have been moved since the run stopped): nothing is put back"
                                           : "the run marker " + main.markerPath() + " cannot be used (" + why +
                                                 "): nothing is put back",
                               restore(main.folder));
        }
        if (p->life == Life::Alive) return;
        if (refuse_unusable_lock(scan, *p, "")) return;
        if (p->m.state != Marker::Whole || p->m.main.empty())
            return refuseRun(p->markerPath(), "",
                               "the run marker " + p->markerPath() + " cannot be read (" +
                                   (p->m.why.empty() ? std::string("it is not a whole part of its run") : p->m.why) +
                                   "): nothing is put back",
                               restore(p->folder));
        taken.insert(folder_id(p->dataFolder));
        unit.push_back(p.get());
        found.push_back(std::move(p));
    }
    if (!knownIn && known)
        return refuseRun(known->markerPath(), "",
                           "the run marker " + known->markerPath() + " is not named by its main marker " +
                               main.markerPath() + ": nothing is put back",
                           restore(known->folder));
    put_back(scan, unit);
}

// A dead, whole marker of this user (or, for root, of any user): its run is put back with every
// folder it has a marker in.
void settle_whole(Scan& scan, Piece& here) {
    if (here.m.main.empty()) return settle_whole_main(scan, here, nullptr);
    Piece main;
    std::string why;
    const FolderIds taken{folder_id(here.dataFolder)};
    std::vector<std::string> named;
    for (const auto& c : here.m.copies) named.push_back(c.dataFile);
    const std::string files = join_files(named);
    const bool putter = scan.request.mayWrite;
    if (!find_piece({here.dataFolder, here.m.main, here.run, here.owner, putter, true, &taken, &scan.company}, main, why))
        // Said once for the run, however many of its parts meet the loss.
        return scan.refuse(here.markerPath(), files,
                           why.empty() ? "the main marker of its run (" + marker_name(here.run) + ", in a backup folder "
                                             "of " + way_target(here.dataFolder, here.m.main) + ") is missing: nothing "
                                             "is put back, and the copies of the run are kept"
                                       : "the run marker " + here.markerPath() + " cannot be used (" + why +
                                             "): nothing is put back",
                           why.empty() ? restore_run(scan, here.run, here.owner, files, here.folder)
                                       : step(ui::Step::RestoreFromBackup, {files, here.folder}),
                           0, std::to_string(here.owner) + "~" + here.run);
    if (main.life == Life::Alive || main.m.state == Marker::Gone) return;
    if (main.m.state == Marker::Empty) {
        // Its run committed every file, or none: the copies of this part are stale.
        if (putter) remove_piece(here);
        return;
    }
    if (refuse_unusable_lock(scan, main, files)) return;
    if (main.m.state != Marker::Whole || main.m.parts.empty())
        return scan.refuse(main.markerPath(), files,
                           "the run marker " + main.markerPath() + " cannot be read (" +
                               (main.m.why.empty() ? std::string("it is not the main marker of its run") : main.m.why) +
                               "): nothing is put back",
                           step(ui::Step::RestoreFromBackup, {files, main.folder}));
    settle_whole_main(scan, main, &here);
}

// An empty marker of a dead run of this user: nothing of its run is half posted. A main marker
// cut back to the names of its parts takes them with it first (never one outside the company),
// and the journals the run left zeroed beside the files it names go too.
// What each data file of a piece had when the run copied it (its marker's `had` lines).
void add_had(const Piece& p, std::vector<NamedCopy>& copies) {
    for (const auto& [name, had] : p.m.had) copies.push_back({p.dataFolder + name, "", 0, 0, false, had});
}

void remove_unfinished(Scan& scan, Piece& here) {
    std::vector<std::string> named;
    std::vector<NamedCopy> copies;
    add_had(here, copies);
    for (const auto& c : named_copies(here)) named.push_back(c.dataFile);
    FolderIds taken{folder_id(here.dataFolder)};
    for (const auto& way : here.m.parts) {
        Piece part;
        std::string why;
        if (!find_piece({here.dataFolder, way, here.run, here.owner, true, false, &taken, &scan.company}, part, why)) continue;
        taken.insert(folder_id(part.dataFolder));
        if (part.life == Life::Dead && (part.m.state == Marker::Empty || (part.m.state == Marker::Whole && !part.m.main.empty()))) {
            for (const auto& c : named_copies(part)) named.push_back(c.dataFile);
            add_had(part, copies);
            remove_piece(part);
        }
    }
    drop_zeroed_journals(named, run_users(here));
    for (const auto& file : named) drop_stale_asides(file);
    // A put-back killed after it renamed a file over left it its runner's: given back, or said.
    give_back_what_they_had(copies, run_users(here), here.markerPath(), true);
    remove_piece(here);
}

// A part whose main marker names no copy: its run committed every file, or none.
bool stale_part(Scan& scan, const Piece& here) {
    if (here.m.main.empty()) return false;
    Piece main;
    std::string why;
    const FolderIds taken{folder_id(here.dataFolder)};
    return find_piece({here.dataFolder, here.m.main, here.run, here.owner, false, true, &taken, &scan.company}, main, why) &&
           main.m.state == Marker::Empty;
}

// A part whose main marker cannot be found anywhere in the company (removed by hand): no command
// of anyone can put its run back. One whose run ended meanwhile took the part with it.
bool main_missing(Scan& scan, const Piece& here) {
    if (here.m.main.empty()) return false;
    Piece main;
    std::string why;
    const FolderIds taken{folder_id(here.dataFolder)};
    if (find_piece({here.dataFolder, here.m.main, here.run, here.owner, false, true, &taken, &scan.company}, main, why) ||
        !why.empty())
        return false;
    struct stat st {};
    return ::fstatat(here.dir.fd, marker_name(here.run).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace

bool any_unsettled(const std::vector<std::string>& dataFiles) {
    return std::any_of(dataFiles.begin(), dataFiles.end(), [](const std::string& f) {
        RunMark mark;
        return read_run_mark(f, mark) == MarkFound::Unsettled;
    });
}

namespace {

// Who holds a lock of the run of `here` that none of its programs holds: its marker's here, or,
// for a run in several folders, its main marker's or a part's (a run goes back whole, and one
// held lock keeps all of it). None when none; `lock` is the lock file held.
std::optional<LockHolder> outside_holder(Scan& scan, const Piece& here, std::string& lock) {
    std::optional<LockHolder> holder;
    auto heldAt = [&](const Piece& p, bool = false) {
        lock_file_fault(p.dir.fd, lock_name(p.run), p.owner, &holder);
        if (holder) lock = p.folder + lock_name(p.run);
        return holder.has_value();
    };
    if (!heldAt(here) && here.m.state == Marker::Whole) each_other_piece(scan, here, heldAt);
    return holder;
}

// A dead run whose lock is held by none of its programs (an outsider, shared or exclusive, or a
// process that has ended, through a descriptor another process kept): nothing of it is put back,
// cleared or taken back (`dataFiles`, the files it names, are left to no take-back of this
// command), and its lock file is not removed, while that lock stands. Every writer is refused at
// once, whoever's command it is, naming the holder. Its own user and root are asked to have the
// holder ended, after which their command puts the run back or clears it; anyone else likewise
// where nothing of it is posted (their command then goes on), and where it may be half posted
// (`posted`) to have the holder ended and then the run put back by its user or an administrator.
// A look refuses, with that whole way, where it would not read the files (the run may be half
// posted, or left a write in the middle: `unsettled`); otherwise it goes on and says nothing.
// True when the run is held (said, or passed over by a look); false, the files kept from the
// take-back all the same, for its own user's or root's writer where it may be half posted: their
// put-back refuses it (refuse_unusable_lock).
bool held_run(Scan& scan, const Piece& here, const std::string& files, const std::vector<std::string>& dataFiles,
              bool posted, bool unsettled) {
    if (here.life == Life::Alive) return false;
    std::string runLock;
    const std::optional<LockHolder> holder = outside_holder(scan, here, runLock);
    if (!holder) return false;
    scan.held.insert(dataFiles.begin(), dataFiles.end());
    const bool look = !scan.request.mayWrite;
    if (look && !posted && !unsettled) return true;
    const bool itsOwn = here.owner == ::geteuid() || ::geteuid() == 0;
    // Its own user's (or root's) put-back refuses it as one whose lock cannot be used, naming the
    // holder (refuse_unusable_lock).
    if (!look && posted && itsOwn) return false;
    // The process to end: for a lock that outlived its taker, the one keeping it.
    ui::NextStep next = step(ui::Step::EndLockHolder, {runLock, holder->ender()});
    if (look || (posted && !itsOwn)) {
        next.step = ui::Step::EndHolderThenPutBack;
        if (!itsOwn) next.args.push_back(user_name(here.owner));
    }
    scan.refuse(RunNoticeKind::StoppedRunHeld, here.markerPath(), files,
                "the run of the marker " + here.markerPath() + " of " + user_name(here.owner) + " copied " + files +
                    ", and its lock file " + runLock + " is held by " + holder->words(),
                next, 0, std::to_string(here.owner) + "~" + here.run);
    return true;
}

// Whether a marker among `names` (a backup folder's) names copies, or cannot be read: a run
// that may be half posted.
bool names_copies(int dirFd, const std::vector<std::string>& names, uid_t owner) {
    for (const auto& name : names) {
        std::string run;
        if (!parse_run_file_name(name, kMarkerSuffix, run)) continue;
        Marker m;
        read_marker(dirFd, name, run, owner, false, m);
        if (m.state == Marker::Whole || m.state == Marker::Unreadable) return true;
    }
    return false;
}

void settle_folder(Scan& scan, const std::string& folder, uid_t listedOwner) {
    const SettleRequest& req = scan.request;
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const int openErr = errno;
    // The folder is judged by its owner as opened, whatever its name says.
    uid_t owner = listedOwner;
    if (struct stat st {}; dir.fd >= 0 && ::fstat(dir.fd, &st) == 0) owner = st.st_uid;
    const bool ours = owner == ::geteuid();
    const bool admin = ::geteuid() == 0;
    const std::string user = user_name(owner);
    auto unseen = [&](int err) {
        // What this user cannot see may be a run stopped half posted: a writer does not post over
        // it; a look goes on, and says what it could not see.
        const std::string cause = "the backup folder " + folder + " of " + user + " cannot be read by this user (" +
                                  errno_text(err) + ")";
        if (req.mayWrite)
            scan.refuse(RunNoticeKind::OtherUser, folder, "", cause + ", and may hold a conversion of theirs stopped half posted",
                        ask_owner(owner, folder));
        else
            scan.say(RunNoticeKind::Unseen, folder, "", cause + ": whether it holds a conversion stopped half posted could not be seen",
                     ask_owner(owner, folder));
    };
    if (dir.fd < 0) return unseen(openErr);
    bool listed = false;
    const std::vector<std::string> names = list_folder(dir.fd, listed);
    if (!listed) return unseen(errno ? errno : EACCES);
    // A folder of an earlier version, its owner's alone: opened to the company again.
    if (struct stat st {}; ours && req.mayWrite && ::fstat(dir.fd, &st) == 0 && (st.st_mode & 07777) == 0700)
        ::fchmod(dir.fd, kBackupFolderMode);
    const bool putter = req.mayWrite && (ours || admin);
    FolderLock lock;
    ui::NextStep waitFor = step(ui::Step::AgainWhenFinished);
    if (std::string why; putter && !lock.take(dir.fd, folder, why, &waitFor)) {
        // With no marker and no copy in it, no run stands there to put back or to stop anybody:
        // the folder's lock not had (bad, or held by another program) is not said as one.
        const bool anyRun = std::any_of(names.begin(), names.end(), [](const std::string& name) {
            std::string dataFile, run;
            return parse_copy_name(name, dataFile, run) || parse_run_file_name(name, kMarkerSuffix, run);
        });
        // Held by none of the programs it is for (an outsider, or a process that has ended,
        // through a descriptor another process kept): said at once, and what it keeps from
        // being looked at is refused, as is a conversion, which would make its run there; nothing
        // this program or its users run lets it go. The words say whose it is not: the reason
        // names the lock file and its holder.
        if (lock.foreign()) {
            const std::string held = "the lock file " + folder + kFolderLockName + " is held by " + lock.holder();
            if (anyRun) return scan.refuse(RunNoticeKind::ForeignLock, folder, "", held, waitFor);
            if (req.makesRuns && ours) return scan.refuse(RunNoticeKind::ForeignLockNoRun, folder, "", held, waitFor);
            // Nothing to do for this command, which goes on: never asked to run again.
            // The step names the process to end, as the refusals' does (`waitFor`, EndLockHolder).
            return scan.say(RunNoticeKind::ForeignLockAside, folder, "", held, step(ui::Step::MayEndLockHolder, waitFor.args));
        }
        if (!anyRun) return;
        // Held: a conversion of this folder's owner starting, or a writing command settling it,
        // live either way; never said as a conversion that stopped.
        if (lock.held())
            return scan.refuse(RunNoticeKind::InProgress, folder, "", why, step(ui::Step::AskUserToPutBack, {user}));
        // Kept from being locked by what only an administrator lifts (a read-only mount, an
        // immutable folder): what reading alone can judge is judged by reading. Markers that name
        // no copy left nothing posted: the folder is said as one that cannot be locked.
        if (waitFor.step == ui::Step::LiftWriteBar && !names_copies(dir.fd, names, owner))
            return scan.refuse(RunNoticeKind::Unlockable, folder, "",
                               "the backup folder " + folder + " cannot be locked (" + why +
                                   "), and what stands in it is left as it is: no run marker in it names a copy, so "
                                   "nothing of the conversions that stopped there was posted",
                               waitFor);
        return scan.refuse(folder, "", why, waitFor ? waitFor : step(ui::Step::AgainWhenFinished));
    }

    std::map<std::string, std::vector<std::string>> copiesOf;  // run -> its copies beside
    std::set<std::string> markers, lockFiles;                   // runs
    for (const auto& name : names) {
        std::string dataFile, run;
        if (parse_copy_name(name, dataFile, run)) copiesOf[run].push_back(name);
        else if (parse_run_file_name(name, kMarkerSuffix, run)) markers.insert(run);
        else if (parse_run_file_name(name, kLockSuffix, run)) lockFiles.insert(run);
    }
    const std::string thisRun = this_run();
    for (const auto& run : markers) {
        if (run == thisRun && run_held_in(folder)) continue;  // this program's run, alive
        if (!scan.onlyRuns.empty() && !scan.onlyRuns.count(std::to_string(owner) + "~" + run)) continue;
        Piece here;
        here.dataFolder = scan.dataFolder;
        here.folder = folder;
        here.owner = owner;
        here.run = run;
        here.beside = copiesOf[run];
        here.dir.reset(::dup(dir.fd));
        if (here.dir.fd < 0) return scan.refuse(folder, "", folder + ": " + errno_text(errno), step(ui::Step::Again));
        bool lockFile = false;
        // The run's lock is taken before its marker is read: a run that ends meanwhile is seen
        // gone, never taken for a dead one half read. Another user's lock cannot be tried.
        if (ours || admin) here.life = take_run_lock(dir.fd, run, owner, req.mayWrite, here.runLock, lockFile);
        read_marker(dir.fd, marker_name(run), run, owner, putter, here.m);
        if (here.m.state == Marker::Gone) continue;
        // Its ways lead only to the company's folders: a marker leading elsewhere is not one.
        for (const auto& way : here.m.main.empty() ? here.m.parts : std::vector<std::string>{here.m.main})
            if (const std::string why = way_outside(scan.dataFolder, way, scan.company);
                !why.empty() && here.m.state != Marker::Unreadable) {
                here.m.state = Marker::Unreadable;
                here.m.why = why;
            }
        // A marker of the previous version is its run's lock.
        if (here.life == Life::Dead && !lockFile && here.m.previous &&
            ::flock(here.m.fd.fd, (req.mayWrite ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0)
            here.life = Life::Alive;
        std::vector<std::string> named;
        if (here.m.state == Marker::Whole)
            for (const auto& c : here.m.copies) named.push_back(c.dataFile);
        else
            for (const auto& c : here.beside) named.push_back(data_file_of(c));
        if (!req.onlyFile.empty() && std::find(named.begin(), named.end(), req.onlyFile) == named.end()) continue;
        const std::string files = join_files(named);
        if (here.m.state == Marker::Whole && here.m.numbered) {
            // One test for everybody: what the data files carry. A run that none of them carries
            // committed nothing: it stops nobody and is never put back.
            const std::vector<NamedCopy> copies = unit_copies(scan, here);
            const Judgment j = judge_run(scan, owner, here.m.number, paths_of(copies));
            // A main marker that names no copy of its own is said by the files of its parts.
            const std::string runFiles = named.empty() ? join_files(paths_of(copies)) : files;
            if (j.proof == Proof::Unproven) {
                // A run whose lock is held may be before its first commit: nothing is said of it
                // yet (never "move it away" under a run that posts). Its data files' writer locks
                // keep every writer off while it lives. One whose file holds a write left in the
                // middle is judged once that write is taken back (below, by a writing command).
                if (held_run(scan, here, runFiles, paths_of(copies), false, j.unsettled)) continue;
                if (here.life == Life::Alive) continue;
                if (j.unsettled) {
                    scan.awaited.insert(std::to_string(owner) + "~" + run);
                    continue;
                }
                // Another user's run is asked by its lock (read access is enough): one whose lock
                // is held, or cannot be tried, may be alive.
                bool askedFile = false;
                if (Fd asked; !ours && !admin && take_run_lock(dir.fd, run, owner, false, asked, askedFile) != Life::Dead)
                    continue;
                // It committed nothing that stands. Where every file is as it copied it (a run
                // killed before its first commit), it is a leftover, cleared silently by its own
                // user's (or root's) writing command with its parts. Where a file differs, what
                // the files carry may have been changed by hand: its copies are kept, and named.
                std::string differs;
                if (!files_as_copied(copies, differs)) {
                    scan.keptCopies(here.markerPath(), owner, run, folder, runFiles, differs);
                    continue;
                }
                if (ours || admin) {
                    if (req.mayWrite && here.life == Life::Dead && here.m.main.empty()) remove_unfinished(scan, here);
                    continue;
                }
                // Its user may write every file: a conversion of theirs that stopped, whatever it
                // wrote taken back (a writing command took its stopped commit back). Only a marker
                // of one who may not proves no conversion.
                if (std::string which; write_right_all(owner, paths_of(copies), which) == WriteRight::Yes) {
                    const std::string notGiven = give_back_what_they_had(copies, run_users(here), "", false);
                    scan.say(RunNoticeKind::NothingPosted, here.markerPath(), runFiles,
                             "the run marker " + here.markerPath() + " of " + user + " names " + runFiles +
                                 ", and no data file carries its run: whatever that conversion wrote was taken "
                                 "back, and every file stands as it copied it" +
                                 (notGiven.empty() ? "" : " (" + notGiven + ")"),
                             step(ui::Step::ClearedByItsUser, {user, folder}), 0, std::to_string(owner) + "~" + run);
                    continue;
                }
                scan.notARun(here.markerPath(), owner, folder, runFiles, "no data file carries its run");
                continue;
            }
            if (j.proof == Proof::Foreign) {
                scan.notARun(here.markerPath(), owner, folder, runFiles,
                             j.which + " carries the number of a run of " + j.why + ", not of " + user);
                continue;
            }
            if (j.proof == Proof::Untold) {
                scan.untold(here.markerPath(), runFiles,
                            "whether the run marker " + here.markerPath() + " of " + user + " is of a conversion cannot "
                            "be told, as " + j.why + ": the company may be half posted",
                            folder);
                continue;
            }
        } else if (here.m.state == Marker::Whole || (here.m.state == Marker::Unreadable && !here.beside.empty())) {
            // A marker made before runs carried their number: a run whose user may not write what
            // it names made no conversion of it, and stops nobody; one whose user has no account
            // cannot be judged.
            const std::vector<NamedCopy> copies = named_copies(here);
            std::string which;
            const WriteRight right = write_right_all(owner, paths_of(copies), which);
            if (right == WriteRight::No) {
                judge_unnumbered(scan, here.markerPath(), owner, folder, files, which, copies);
                continue;
            }
            if (right == WriteRight::Untold && !(here.m.state == Marker::Whole && stale_part(scan, here))) {
                scan.untold(here.markerPath(), files, no_account_reason(here.markerPath(), owner, which), folder);
                continue;
            }
        }
        if (here.life == Life::Alive) {
            // A run still posting holds its data files' writer locks itself; under this command's
            // own writer lock one naming the file is another host's that shares no locks.
            if (!req.onlyFile.empty() && here.m.state == Marker::Whole) {
                const std::string holder = "process " + here.m.process + " on host " + here.m.host + " of " + user;
                scan.refuse(here.markerPath(), files, "a conversion of " + holder + " is posting " + files,
                            step(ui::Step::AgainWhenFinished, {holder}));
            }
            continue;
        }
        switch (here.m.state) {
        case Marker::Gone:
            break;
        case Marker::Empty:
            // Its run died before its first commit or after its last: every data file is whole.
            // Its copies name the files it copied, which nobody writes over while it cannot be
            // cleared.
            if (!here.beside.empty()) {
                std::vector<std::string> paths;
                for (const auto& name : named) paths.push_back(here.dataFolder + name);
                if (held_run(scan, here, files, paths, false, any_unsettled(paths))) break;
            }
            if (req.mayWrite && (ours || admin) && here.life == Life::Dead) remove_unfinished(scan, here);
            break;
        case Marker::Unreadable: {
            if (here.beside.empty()) break;  // names nothing here: nothing to put back, nothing deleted
            // One refusal for the run, whichever of its folders meets it first, naming what the
            // run left in all of them: restoring one folder's files alone would leave it mixed.
            scan.refuse(here.markerPath(), files,
                        "the run marker " + here.markerPath() + " cannot be read (" + here.m.why +
                            ") while copies of its run stand beside it: nothing is put back",
                        restore_run(scan, run, owner, files, folder), 0, std::to_string(owner) + "~" + run);
            break;
        }
        case Marker::Whole: {
            // A part whose main names no copy is of a run that committed: stale, whoever holds it.
            const bool stale = stale_part(scan, here);
            if (!stale && held_run(scan, here, files, paths_of(unit_copies(scan, here)), true, true)) break;
            if (!ours && !admin) {
                if (stale) break;
                // Its owner's command refuses it too: the step is the one their refusal gives,
                // never a wait for a command that cannot help.
                if (main_missing(scan, here)) {
                    scan.refuse(RunNoticeKind::OtherUser, here.markerPath(), files,
                                "the run marker " + here.markerPath() + " of " + user + " names copies of " + files +
                                    ", and the main marker of its run (" + marker_name(run) + ", in a backup folder of " +
                                    way_target(scan.dataFolder, here.m.main) +
                                    ") is missing: nobody's command can put it back",
                                restore_run(scan, run, owner, files, folder), 0, std::to_string(owner) + "~" + run);
                    break;
                }
                // One refusal for the run, however many folders it has a marker in. Who puts it
                // back: its own user while they may write every file it names, else root alone.
                std::string which;
                const bool account = has_account(owner);
                const std::vector<std::string> paths = paths_of(named_copies(here));
                const WriteRight right = write_right_all(owner, paths, which);
                // An access control list may let the owner write what the bits refuse them.
                const bool writes = account && (right == WriteRight::Yes || has_access_acl(which));
                // A sticky folder (made so since the run began) keeps them from renaming over a
                // file that is neither theirs nor the folder owner's.
                const auto stuck = std::find_if(paths.begin(), paths.end(),
                                                [&](const std::string& p) { return sticky_bar(p, owner).barred; });
                const bool ownerMay = writes && stuck == paths.end();
                scan.refuse(RunNoticeKind::OtherUser, here.markerPath(), files,
                            "the run marker " + here.markerPath() + " of " + user + " names copies of " + files +
                                ": that conversion is posting, or stopped before it had finished posting, and " +
                                (ownerMay ? std::string("only its own user or an administrator puts it back")
                                 : writes ? "only an administrator puts it back, as " + *stuck + " stands in a sticky "
                                            "folder, where " + user + " may not replace it"
                                 : account ? "only an administrator puts it back, as " + user + " may no longer write " + which
                                           : std::string("only an administrator puts it back, as its user has no account")),
                            ownerMay ? step(ui::Step::AskUserToPutBack, {user}) : step(ui::Step::WaitOrAdministrator), 0,
                            std::to_string(owner) + "~" + run);
                break;
            }
            if (refuse_unusable_lock(scan, here, files)) break;
            // A look follows the writer's way without writing: it says what a writing command
            // will do, put the run back or refuse, and why.
            settle_whole(scan, here);
            break;
        }
        }
    }
    // Copies without a marker: their run died before it made one (an older program), or after
    // it removed it. Those of this host whose process is gone go, with a writing command, unless
    // a marker of their run stands in any folder of the company (a main marker removed by hand
    // leaves its parts naming it: its copies may be the only ones left from before the run). So
    // do lock files left without their marker.
    if (!req.mayWrite || !ours || !req.onlyFile.empty() || !scan.onlyRuns.empty()) return;
    const std::string host = host_name();
    for (const auto& [run, copies] : copiesOf) {
        if (markers.count(run)) continue;
        const auto tilde = run.rfind('~');
        if (run.substr(0, tilde) != host || !process_gone(run.substr(tilde + 1)) || marker_stands(scan, run, owner)) continue;
        for (const auto& copy : copies) {
            struct stat st {};
            if (::fstatat(dir.fd, copy.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
                ::unlinkat(dir.fd, copy.c_str(), 0);
        }
    }
    for (const auto& run : lockFiles) {
        if (markers.count(run) || run == thisRun) continue;
        Fd held;
        bool lockFile = false;
        if (take_run_lock(dir.fd, run, owner, true, held, lockFile) == Life::Dead && lockFile &&
            holds_run_lock(dir.fd, run, held.fd, false))
            ::unlinkat(dir.fd, lock_name(run).c_str(), 0);
    }
}

// Data files left in the middle of a write (a hot journal beside them), once the runs are
// settled (a put-back removes the journal of each file it puts back): a writer takes each write
// back and says so, as a put-back; a look refuses, naming the file and the writing command that
// takes it back.
// True when a write was taken back.
bool take_back_stopped_writes(Scan& scan) {
    StoppedWriteRequest r;
    r.dataFolder = scan.dataFolder;
    r.onlyFile = scan.request.onlyFile;
    r.takeBack = scan.request.mayWrite;
    // A file of a run whose lock an outsider holds is left as it stands, as is one open here.
    r.openHere = [open = put_back_checks().openHere, &held = scan.held](const std::string& dataFile) {
        return held.count(dataFile) != 0 || (open && open(dataFile));
    };
    bool takenBack = false;
    for (const StoppedWrite& w : settle_stopped_writes(r)) {
        const std::string journal = w.dataFile + "-journal";
        takenBack = takenBack || w.state == StoppedWrite::State::TakenBack;
        if (w.state == StoppedWrite::State::TakenBack)
            scan.say(RunNoticeKind::WriteTakenBack, journal, w.dataFile, w.why, {});
        else if (w.state == StoppedWrite::State::Stopped)
            scan.refuse(RunNoticeKind::WriteStopped, journal, w.dataFile, w.why, w.next);
        else if (w.state == StoppedWrite::State::IdleRemoved)
            scan.say(RunNoticeKind::EmptyJournalRemoved, journal, w.dataFile, w.why, {});
        // A journal not the file's own refuses that file only: said once, and refused where it opens.
        else if (scan.request.onlyFile.empty())
            scan.say(RunNoticeKind::NotItsJournal, journal, w.dataFile, w.why, w.next);
        else
            scan.refuse(RunNoticeKind::NotItsJournal, journal, w.dataFile, w.why, w.next);
    }
    return takenBack;
}

}  // namespace
}  // namespace runs

using namespace runs;

bool settle_dead_runs(const SettleRequest& request, std::string* why) {
    Scan scan{request, with_slash(normal(request.dataFolder)), why, true, {}, {}, {}, {}, false, false};
    for (const auto& f : company_data_folders(scan.dataFolder))
        if (const auto id = folder_id(f); id.second != 0) scan.company.insert(id);
    const auto folders = backup_folders(scan.dataFolder);
    for (const auto& [folder, owner] : folders) settle_folder(scan, folder, owner);
    // A dead run whose stopped commit was just taken back is judged now, by the command that took
    // it back: cleared where this command may (it holds the run's lock), else said as it stands.
    // Its main marker, which clears it whole, may lie in another of the company's folders (file
    // control): the run is judged there too.
    // A put-back that waited for a take-back is judged again, whether or not that take-back
    // could be done.
    const bool tookBack = take_back_stopped_writes(scan);
    scan.tookBack = true;
    if ((tookBack || (scan.deferred && request.mayWrite)) && !scan.awaited.empty()) {
        for (const auto& [folder, owner] : folders) settle_folder(scan, folder, owner);
        for (const auto& other : company_data_folders(scan.dataFolder)) {
            if (folder_id(other) == folder_id(scan.dataFolder)) continue;
            SettleRequest there = request;
            there.dataFolder = other;
            there.onlyFile.clear();
            Scan again{there, with_slash(normal(other)), why, scan.ok, scan.company, {}, scan.awaited, {}, true, false};
            for (const auto& [folder, owner] : backup_folders(again.dataFolder)) settle_folder(again, folder, owner);
            scan.ok = scan.ok && again.ok;
        }
    }
    return scan.ok;
}

namespace runs {
namespace {

// Removes from a data folder the files aside of put-backs killed midway: each stands beside the
// data file its name gives (`only`, when given), its process no longer runs, and it is a regular
// file (of `owner`, when given: a file of the user's own that happens to end in
// ".restore<digits>" beside a data file of another is not one).
void remove_asides(const std::string& dataFolderIn, const std::string& only, const uid_t* owner) {
    const std::string dataFolder = with_slash(dataFolderIn);
    DIR* d = ::opendir(dataFolder.c_str());
    if (!d) return;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
    ::closedir(d);
    const std::set<std::string> present(names.begin(), names.end());
    for (const auto& name : names) {
        std::string target, process;
        if (!parse_aside_name(name, target, process) || (!only.empty() && target != only) || !present.count(target) ||
            !process_gone(process))
            continue;
        struct stat st {};
        const std::string path = dataFolder + name;
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (!owner || st.st_uid == *owner))
            ::unlink(path.c_str());
    }
}

}  // namespace

void drop_stale_asides(const std::string& dataFile) {
    const fs::path path(dataFile);
    remove_asides(path.parent_path().string(), path.filename().string(), nullptr);
}

}  // namespace runs

void remove_restore_leftovers(const std::string& dataFolder) {
    const uid_t me = ::geteuid();
    runs::remove_asides(dataFolder, "", &me);
}

}  // namespace dz::xio
