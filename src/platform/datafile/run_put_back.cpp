// The put-back of a dead run, carried through the steps of its order (see README.md): judged,
// every copy proved, written aside, the data files locked, renamed over, the markers cut.
#include "platform/datafile/run_marker_internal.h"

#include "platform/datafile/file_aside.h"
#include "platform/datafile/journal_removal.h"
#include "platform/datafile/locks.h"
#include "platform/datafile/own_journal.h"
#include "platform/datafile/put_back_checks.h"
#include "platform/datafile/stream_hash.h"
#include "platform/datafile/sticky_folder.h"
#include "platform/datafile/users.h"
#include "platform/datafile/write_bar.h"
#include "platform/datafile/xio.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <memory>

namespace dz::xio {
namespace runs {
namespace {

std::function<void(const std::string&)> g_putBackHook;

// Whose a data file put back where none stands is to be, and its mode: as the run's other data
// files of that folder, or else as the folder itself gives (its owner and group, and for each of
// them the folder's read and write permission), so that those who may use the folder may open it.
struct Making {
    AsideOwner owner;
    mode_t mode = 0600;
    std::string as;  // what it was made like
};
Making making_for(const std::string& dataFolder, const std::vector<std::string>& siblings) {
    Making k;
    struct stat st {};
    for (const auto& f : siblings)
        if (::stat(f.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            k.owner = {st.st_uid, st.st_gid};
            k.mode = st.st_mode & 0666;
            k.as = f;
            return k;
        }
    if (::stat(dataFolder.c_str(), &st) == 0) {
        k.owner = {st.st_uid, st.st_gid};
        k.mode = (st.st_mode & 0666) | 0600;
        k.as = dataFolder;
    }
    return k;
}

// One put-back of a dead run, carried through the steps of its order: `unit` is its main marker
// (or its only one) and its parts, each dead and whole. Each step answers false once the run is
// refused or passed over, every file aside removed; nothing is written until every copy is proved.
class PutBack {
public:
    PutBack(Scan& scan, std::vector<Piece*>& unit) : scan_(scan), unit(unit) {
        for (Piece* p : unit)
            for (const auto& c : p->m.copies) dataFiles.push_back(p->dataFolder + c.dataFile);
        marker = unit.front()->markerPath();
        user = user_name(unit.front()->owner);
    }

    // 3. The run is genuine, and which files go back: a numbered run for exactly the data files it
    // committed (one it never wrote is left as it stands); a run of an older marker when its user
    // may write every file it names. Only one who may write them puts them back.
    bool judge() {
        if (unit.front()->m.numbered) {
            const Judgment j = judge_run(scan_, unit.front()->owner, unit.front()->m.number, dataFiles);
            if (j.proof != Proof::Proven) return false;  // said where the run was met
            left = j.left;
        }
        std::vector<std::string> names;
        for (const Piece* p : unit)
            for (const auto& c : p->m.copies)
                if (goesBack(p, c)) names.push_back(c.dataFile);
        files = join_files(names);
        if (g_putBackHook && !look) g_putBackHook(marker);
        std::string which;
        if (!unit.front()->m.numbered) {
            // A run whose user may not write every file it names made no conversion of them.
            if (const WriteRight right = write_right_all(unit.front()->owner, dataFiles, which);
                right != WriteRight::Yes) {
                if (right == WriteRight::No) {
                    std::vector<NamedCopy> copies;
                    for (const Piece* p : unit)
                        for (const auto& c : p->m.copies)
                            copies.push_back({p->dataFolder + c.dataFile, copy_path(p, c), c.length, c.hash, !p->m.previous, c.had});
                    judge_unnumbered(scan_, marker, unit.front()->owner, unit.front()->folder, files, which, copies);
                    return false;
                }
                scan_.untold(marker, files, no_account_reason(marker, unit.front()->owner, which), unit.front()->folder);
                return false;
            }
        }
        // Whoever may read its copies and write its files puts a proven run back: its user while they
        // may still write them, and root.
        // A look only says what a writing command will do.
        std::vector<std::string> unwritable;
        for (const Piece* p : unit)
            for (const auto& c : p->m.copies)
                if (!look && goesBack(p, c) && write_right(::geteuid(), p->dataFolder + c.dataFile) != WriteRight::Yes)
                    unwritable.push_back(p->dataFolder + c.dataFile);
        if (!unwritable.empty())
            return refuse(RunNoticeKind::Refused, marker, files,
                          "the run marker " + marker + " of " + user + " names copies of " + files + ", and " +
                              join_files(unwritable) + (unwritable.size() == 1 ? " may" : " may each") +
                              " no longer be written by this user: only an administrator can put it back",
                          step(ui::Step::AdministratorPutsBack, {user_name(0)}), 0,
                          std::to_string(unit.front()->owner) + "~" + unit.front()->run);
        // A sticky folder lets only a file's owner, the folder's owner and root rename over it: the
        // system would refuse the rename after other files went back. A look says so too.
        for (const Piece* p : unit)
            for (const auto& c : p->m.copies)
                if (const StickyBar bar = sticky_bar(p->dataFolder + c.dataFile); bar.barred && goesBack(p, c))
                    return refuse(marker, files,
                                  bar.folder + " is a sticky folder (mode " + mode_digits(bar.folderMode) +
                                      "), where only a file's owner, the folder's owner and an administrator may "
                                      "replace a file, and " + p->dataFolder + c.dataFile + " is of " +
                                      user_name(bar.fileOwner),
                                  step(ui::Step::AdministratorPutsBack, {user_name(0)}));
        return true;
    }

    // 3. Every copy, before anything is locked or written: one missing, changed, or not this
    // program's leaves every data file as it stands.
    bool proveCopies() {
        for (Piece* p : unit) {
            for (const auto& name : p->beside)
                if (std::none_of(p->m.copies.begin(), p->m.copies.end(),
                                 [&](const CopyLine& c) { return c.name == name; }))
                    return refuse(marker, files,
                                  p->folder + name + " is a copy of the run that its marker " +
                                      p->markerPath() + " does not name: nothing is put back",
                                  restore(p));
            for (const auto& c : p->m.copies) {
                if (!goesBack(p, c)) continue;
                Fd in(::openat(p->dir.fd, c.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
                if (in.fd < 0 && errno == ENOENT && p->m.previous)
                    continue;  // that version removed a copy put back
                // Gone beside a file left in the middle of a write (a run that could not remove
                // that commit's journal, so it never committed): the run is judged again once this
                // command has taken that write back, when the file no longer goes back with it.
                if (in.fd < 0 && errno == ENOENT && !scan_.tookBack && any_unsettled({p->dataFolder + c.dataFile})) {
                    scan_.deferred = true;
                    scan_.awaited.insert(std::to_string(unit.front()->owner) + "~" + unit.front()->run);
                    return false;
                }
                if (in.fd < 0 && errno == ENOENT)
                    return refuse(
                        marker, files,
                        copy_path(p, c) + ", which its marker names, is missing: nothing is put back",
                        restore(p));
                struct stat st {};
                if (in.fd < 0 || !owned_plain_file(in.fd, p->owner, &st))
                    return refuse(marker, files,
                                  copy_path(p, c) +
                                      " is not a copy this program made (a regular file "
                                      "of its folder's owner with one link): nothing is put back",
                                  restore(p));
                if (!p->m.previous && static_cast<uint64_t>(st.st_size) != c.length)
                    return refuse(marker, files,
                                  copy_path(p, c) + " does not match its marker (it holds " +
                                      std::to_string(st.st_size) + " bytes, the run copied " +
                                      std::to_string(c.length) + "): nothing is put back",
                                  restore(p));
                proved.push_back(
                    Proved{p, &c, std::move(in), 0600, p->dataFolder + c.dataFile, {}, false, {}});
            }
        }
        return true;
    }

    // A look reads every copy through, as the writer's proof will, and writes nothing: it says
    // what a writing command will do, put the run back or refuse, and why. Always false.
    bool sayWhatAWriterWillDo() {
        for (auto& pr : proved) {
            if (pr.piece->m.previous) continue;
            StreamHash hash;
            hash_through(pr.in.fd, hash);
            if (hash.Length() != pr.line->length || hash.Value() != pr.line->hash)
                return refuse(marker, files,
                              "the copy " + copy_path(pr.piece, *pr.line) + " of " + pr.line->dataFile +
                                  " does not match its marker (its bytes are not those the run copied): "
                                  "nothing is put back",
                              restore(pr.piece));
        }
        return refuse(RunNoticeKind::HalfPosted, marker, files, "", step(ui::Step::AgainToPutBack), 0,
                      std::to_string(unit.front()->owner) + "~" + unit.front()->run);
    }

    // 4. Every copy written aside beside its data file, proved to be what the run copied and a
    // data file of its name.
    bool writeAsides() {
        // A build that lost one of its checks never puts back unchecked, and says so.
        if (!checks.openHere || !checks.notADataFileNamed)
            return refuse(marker, files,
                          "this program lacks a check of its put-back (a fault of the program): nothing is put back",
                          step(ui::Step::RestoreFromBackup, {files, unit.front()->folder}));
        for (auto& pr : proved) {
            struct stat st {};
            if (::lstat(pr.dataFile.c_str(), &st) == 0) {
                if (!S_ISREG(st.st_mode)) {
                    dropAsides();
                    return refuse(marker, files, pr.dataFile + " is not a regular file",
                                  step(ui::Step::Again));
                }
                pr.mode = st.st_mode & 07777;
            } else {
                // Removed since the run: made again as the company's files of that folder are, never
                // as a file of whoever puts it back alone.
                std::vector<std::string> siblings;
                for (const auto& other : proved)
                    if (other.piece == pr.piece && &other != &pr) siblings.push_back(other.dataFile);
                pr.missing = true;
                pr.making = making_for(pr.piece->dataFolder, siblings);
                pr.mode = pr.making.mode;
            }
            const std::optional<FileHad> had = hadOf(pr);
            int err = write_aside(pr.in.fd, pr.dataFile, pr.mode, pr.aside, pr.missing ? &pr.making.owner : nullptr);
            // What the file is to have again: the run's record where a put-back killed midway left
            // the file its runner's; the list it had is said with a step that names its own.
            if (err == 0 && had) err = give_had(pr.aside.path, *had, pr.aside);
            if (err != 0) {
                dropAsides();
                return refuse(
                    marker, files, pr.dataFile + ": " + errno_text(err),
                    err == ENOSPC ? step(ui::Step::FreeSpace, {pr.dataFile}) : step(ui::Step::Again), err);
            }
            std::string wrong;
            if (!pr.piece->m.previous &&
                (pr.aside.hash.Length() != pr.line->length || pr.aside.hash.Value() != pr.line->hash))
                wrong = "its bytes are not those the run copied";
            else
                wrong = checks.notADataFileNamed(pr.aside.path, pr.line->dataFile);
            if (!wrong.empty()) {
                dropAsides();
                return refuse(marker, files,
                              "the copy " + copy_path(pr.piece, *pr.line) + " of " + pr.line->dataFile +
                                  " does not match its marker (" + wrong + "): nothing is put back",
                              restore(pr.piece));
            }
        }
        return true;
    }

    // 5. The writer lock of every data file, taken only once every copy is proved.
    bool lockDataFiles() {
        // A marker naming files that are not its run's makes no lock file for them.
        static int64_t serial = 0;
        for (auto& pr : proved) {
            if (checks.openHere(pr.dataFile)) {
                dropAsides();
                return refuse(
                    marker, files,
                    pr.dataFile + " is open in this program, so its copy cannot be put back under it",
                    step(ui::Step::Again));
            }
            auto table = std::make_unique<LockTable>(pr.dataFile, --serial);
            if (table->open() != XIO_OK || table->acquire('W', "") != XIO_OK) {
                // The program holding the writer's lock is named, and waited for by name.
                const LockHeld held = table->error().empty() ? table->holder('W', "") : LockHeld{};
                const std::string& holder = held.who;
                const std::string why = !table->error().empty() ? table->error() : holder;
                dropAsides();
                // Said as a conversion says it: whether that program reads the file or writes it.
                return refuse(
                    marker, files,
                    pr.dataFile + " is in use by another program" + (why.empty() ? "" : " (" + why + ")") +
                        (table->error().empty() ? held.reading ? " that is reading it" : " that is writing it" : ""),
                    held.description ? step(ui::Step::FindLockHolder, {table->path().string()})
                    : holder.empty() ? step(ui::Step::AgainWhenFinished)
                                     : step(ui::Step::AgainWhenFinished, {holder}));
            }
            locks.push_back(std::move(table));
        }
        return true;
    }

    // 6. Each file aside renamed over its data file, its journal removed, every data folder synced.
    bool renameOver() {
        for (auto& pr : proved) {
            struct stat zeroed {};
            const bool journalGoes = journal_goes_with_its_file(pr.dataFile) ||
                                     zeroed_journal(pr.dataFile, run_users(*unit.front()), zeroed);
            if (::rename(pr.aside.path.c_str(), pr.dataFile.c_str()) != 0) {
                const int err = errno;
                dropAsides();
                // Those renamed already hold their copies: the marker stays, and the next command
                // puts every file back again.
                // A rename the system refuses this user (a sticky folder, an immutable file) is not
                // refused the less when tried again: an administrator's command puts it back. What
                // refuses it to everyone (an immutable file or folder, a read-only mount) is lifted
                // by an administrator first.
                std::string barred = pr.dataFile;
                WriteBar bar;
                if (err == EPERM || err == EACCES || err == EROFS) {
                    if (!(bar = write_bar(barred))) {
                        barred = pr.piece->dataFolder.substr(0, pr.piece->dataFolder.size() - 1);
                        bar = write_bar(barred);
                    }
                }
                return refuse(marker, files, pr.dataFile + ": " + errno_text(err) + (bar ? " (" + bar.cause + ")" : ""),
                              err == ENOSPC                  ? step(ui::Step::FreeSpace, {pr.dataFile})
                              : bar                          ? step(ui::Step::LiftWriteBar, {barred, bar.cause, bar.lift})
                              : err == EPERM || err == EACCES ? step(ui::Step::AdministratorPutsBack, {user_name(0)})
                                                              : step(ui::Step::Again),
                              err);
            }
            pr.aside.path.clear();
            auto note = [&](const std::string& text) { notes += (notes.empty() ? "" : "; ") + text; };
            if (pr.missing)
                note(pr.dataFile + " did not stand, and was made again as " + pr.making.as + " is (mode " +
                     [&] {
                         char b[8];
                         std::snprintf(b, sizeof b, "%04o", static_cast<unsigned>(pr.mode));
                         return std::string(b);
                     }() +
                     ")");
            say_not_given_back(pr.dataFile, pr.aside, notes, next);
            // The journal of the commit the run died in belongs to the writes the copy takes back: it
            // must never be played over the copy; one the run left zeroed goes with it (its user may
            // have lost the right to write the file since, which makes it no journal of the file's).
            // Anything else there stays (own_journal.h).
            if (journalGoes) (void)remove_journal({pr.dataFile + "-journal"});
            // What an earlier put-back of the run, killed midway, wrote aside (another user's,
            // when root finishes it): put back now, it holds nothing anyone needs.
            drop_stale_asides(pr.dataFile);
        }
        std::set<std::string> dataFolders;
        for (const Piece* p : unit) dataFolders.insert(p->dataFolder);
        for (const auto& f : dataFolders)
            if (const int err = sync_folder(f); err != 0)
                return refuse(marker, files, f + " cannot be synced: " + errno_text(err),
                              step(ui::Step::Again), err);
        return true;
    }

    // 7. The main marker cut back (a lone one removed), then the parts with their copies, the
    // main last.
    bool cutMarkers() {
        // The main marker names no copy from here on: its parts are stale, whatever happens next. Its
        // removal (or cut) must stand on the disk before the command writes: a marker that came back
        // after a crash would put these copies back over what the command writes next.
        Piece& head = *unit.front();
        int cut = 0;
        if (head.m.parts.empty()) {
            if (::unlinkat(head.dir.fd, marker_name(head.run).c_str(), 0) != 0 || ::fsync(head.dir.fd) != 0)
                cut = errno ? errno : EIO;
        } else {
            cut = cut_marker(head.m.fd.fd, head.m.namesEnd);
        }
        if (cut != 0)
            return refuse(marker, files,
                          "every data file was put back, but " + head.markerPath() +
                              " cannot be removed: " + errno_text(cut),
                          step(ui::Step::Again), cut);
        for (std::size_t i = 1; i < unit.size(); ++i) remove_piece(*unit[i]);
        remove_piece(head);
        return true;
    }

    // 8. The zeroed journals a killed run left beside the files it never committed; what an
    // earlier put-back of the run, killed midway, left of its own: files aside, and the files it
    // had renamed over (equal to their copies, so never put back again) as its runner's.
    void dropDeadJournals() {
        drop_zeroed_journals({left.begin(), left.end()}, run_users(*unit.front()));
        std::vector<NamedCopy> leftAsTheyStand;
        for (const Piece* p : unit)
            for (const auto& c : p->m.copies)
                if (!goesBack(p, c))
                    leftAsTheyStand.push_back({p->dataFolder + c.dataFile, copy_path(p, c), c.length, c.hash, true, c.had});
        give_back_what_they_had(leftAsTheyStand, run_users(*unit.front()), marker, true);
    }

    void sayPutBack() {
        RunNotice n;
        n.kind = RunNoticeKind::PutBack;
        n.files = files;
        n.reason = notes;
        n.marker = marker;
        n.next = next;
        notify(std::move(n));
    }

private:
    struct Proved {
        Piece* piece;
        const CopyLine* line;
        Fd in;
        mode_t mode = 0600;
        std::string dataFile;
        Aside aside;
        bool missing = false;
        Making making;
    };
    template <class... Args>
    bool refuse(Args&&... args) {
        scan_.refuse(std::forward<Args>(args)...);
        return false;
    }
    static std::string copy_path(const Piece* p, const CopyLine& c) { return p->folder + c.name; }
    // What a file put back is to have: what it has, unless the run's record says otherwise and
    // only a put-back of the run can have made it so (it is now of one of the run's users).
    // One made again where none stands is made as its folder's files are (making_for).
    std::optional<FileHad> hadOf(const Proved& pr) const {
        if (pr.missing) return std::nullopt;
        std::optional<FileHad> now = file_had(pr.dataFile);
        const std::optional<FileHad>& recorded = pr.line->had;
        if (!recorded || !now) return now;
        const std::vector<uid_t> users = run_users(*unit.front());
        const bool moved = now->owners.uid != recorded->owners.uid || now->owners.gid != recorded->owners.gid;
        return moved && std::find(users.begin(), users.end(), now->owners.uid) != users.end() ? recorded : now;
    }
    bool goesBack(const Piece* p, const CopyLine& c) const { return !left.count(p->dataFolder + c.dataFile); }
    // Whichever copy fails, the step names every file and folder of the run.
    ui::NextStep restore(const Piece* p) const { return restore_run(scan_, p->run, p->owner, files, p->folder); }
    void dropAsides() {
        for (auto& pr : proved)
            if (!pr.aside.path.empty()) ::unlink(pr.aside.path.c_str());
    }

    Scan& scan_;
    std::vector<Piece*>& unit;
    std::vector<std::string> dataFiles;
    std::string marker, user, files;
    std::set<std::string> left;  // settled data files the run never wrote: never put back
    const bool look = !scan_.request.mayWrite;
    const PutBackChecks checks = put_back_checks();
    std::vector<Proved> proved;
    std::vector<std::unique_ptr<LockTable>> locks;
    std::string notes;  // what else to know of what was put back
    ui::NextStep next;
};

}  // namespace

std::vector<uid_t> run_users(const Piece& p) {
    std::vector<uid_t> users{p.owner};
    std::string name = p.folder;
    while (!name.empty() && name.back() == '/') name.pop_back();
    name = name.substr(name.find_last_of('/') + 1);
    const std::string prefix = ".backup-";
    if (name.rfind(prefix, 0) != 0) return users;
    const std::string digits = name.substr(prefix.size(), name.find('-', prefix.size()) - prefix.size());
    if (!all_digits(digits)) return users;
    users.push_back(static_cast<uid_t>(std::stoul(digits)));
    return users;
}

bool zeroed_journal(const std::string& dataFile, const std::vector<uid_t>& runUsers, struct stat& st) {
    Fd j(::open((dataFile + "-journal").c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat file {};
    if (j.fd < 0 || ::fstat(j.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) return false;
    // Root's SQLite gives a journal it opens the data file's owner: a look of root's, or root's
    // own command before it puts the run back, leaves the run's journals so.
    if (std::find(runUsers.begin(), runUsers.end(), st.st_uid) == runUsers.end() && st.st_uid != ::geteuid() &&
        (::stat(dataFile.c_str(), &file) != 0 || st.st_uid != file.st_uid))
        return false;
    char head[8] = {};
    const ssize_t got = ::pread(j.fd, head, sizeof head, 0);
    return got >= 0 && std::none_of(head, head + got, [](char c) { return c != 0; });
}

void drop_zeroed_journals(const std::vector<std::string>& dataFiles, const std::vector<uid_t>& runUsers) {
    static int64_t serial = 0;
    for (const auto& file : dataFiles) {
        const std::string journal = file + "-journal";
        struct stat st {};
        if (!zeroed_journal(file, runUsers, st)) continue;
        LockTable table(file, --serial);
        if (table.open() != XIO_OK || table.acquire('W', "") != XIO_OK) continue;
        (void)remove_journal({journal, st.st_dev, st.st_ino});
    }
}

std::string give_back_what_they_had(const std::vector<NamedCopy>& copies, const std::vector<uid_t>& runUsers,
                                    const std::string& marker, bool change) {
    std::string notes;
    ui::NextStep next;
    for (const auto& c : copies) {
        if (change) drop_stale_asides(c.dataFile);
        if (!c.had) continue;
        const std::optional<FileHad> now = file_had(c.dataFile);
        if (!now || (now->owners.uid == c.had->owners.uid && now->owners.gid == c.had->owners.gid) ||
            std::find(runUsers.begin(), runUsers.end(), now->owners.uid) == runUsers.end())
            continue;
        Aside result;
        if (change) {
            if (give_had(c.dataFile, *c.had, result) != 0) continue;
        } else {
            // A look changes nothing: what stands is said as it stands.
            result.had = {c.had->owners.uid, c.had->owners.gid};
            result.has = {now->owners.uid, now->owners.gid};
            result.ownerKept = now->owners.uid == c.had->owners.uid;
            result.groupKept = now->owners.gid == c.had->owners.gid;
            result.listBack = c.had->list.extended() ? c.had->list.words() : "";
        }
        say_not_given_back(c.dataFile, result, notes, next);
    }
    if (!notes.empty() && change) {
        RunNotice n;
        n.kind = RunNoticeKind::NotGivenBack;
        n.reason = notes;
        n.marker = marker;
        n.next = next;
        notify(std::move(n));
    }
    return notes;
}

void put_back(Scan& scan, std::vector<Piece*>& unit) {
    PutBack run(scan, unit);
    if (!run.judge() || !run.proveCopies()) return;
    if (!scan.request.mayWrite) {
        run.sayWhatAWriterWillDo();
        return;
    }
    if (!run.writeAsides() || !run.lockDataFiles() || !run.renameOver() || !run.cutMarkers()) return;
    run.dropDeadJournals();
    run.sayPutBack();
}

}  // namespace runs

void set_put_back_hook_for_tests(std::function<void(const std::string& marker)> hook) { runs::g_putBackHook = std::move(hook); }

}  // namespace dz::xio
