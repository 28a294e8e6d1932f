// The live run: this program's backup folders, its lock and marker in each, filled before its
// first commit and emptied after its last (steps 1 to 6 of run_marker.h).
#include "platform/datafile/run_marker_internal.h"

#include "platform/datafile/file_aside.h"
#include "platform/datafile/lock_file.h"
#include "platform/datafile/made_file.h"
#include "platform/datafile/run_mark.h"
#include "platform/datafile/users.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/file.h>

namespace dz::xio {
namespace runs {
namespace {

std::function<void()> g_commitPointHook;

enum class Role { Alone, Main, Part };
struct Held {
    int markerFd = -1;
    int lockFd = -1;
    std::string folder;  // the backup folder, with its slash
    int copies = 0;
    bool whole = false;  // names copies: the data files may be half posted
    Role role = Role::Alone;
    off_t namesOnly = 0;  // a main marker: the length of its lines before its copies
    std::string hadLines;  // what the data files copied into it had (marker_had_line)
};
std::mutex g_heldMutex;
std::map<std::string, Held> g_held;  // by backup folder (with its slash)

void drop_held_now(std::map<std::string, Held>::iterator it) {
    const std::string run = this_run();
    ::unlink((it->second.folder + marker_name(run)).c_str());
    ::unlink((it->second.folder + lock_name(run)).c_str());
    ::close(it->second.markerFd);
    ::close(it->second.lockFd);  // and with it the run's lock
    g_held.erase(it);
}

// A held folder that names nothing and holds no copy goes; the main marker last of all, so that
// no part ever stands whole without it.
void drop_if_done(std::map<std::string, Held>::iterator it) {
    if (it->second.copies > 0 || it->second.whole) return;
    if (it->second.role == Role::Main &&
        std::any_of(g_held.begin(), g_held.end(), [](const auto& h) { return h.second.role == Role::Part; }))
        return;
    const bool part = it->second.role == Role::Part;
    drop_held_now(it);
    if (part)
        for (auto m = g_held.begin(); m != g_held.end(); ++m)
            if (m->second.role == Role::Main) {
                drop_if_done(m);
                break;
            }
}

// Makes and holds the run's lock file and empty marker in `folder` (g_heldMutex held).
int hold_locked(const std::string& folder, std::string* why, ui::NextStep* next) {
    auto fail = [&](int err, const std::string& what) {
        if (why) *why = what;
        return err;
    };
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.fd < 0) return fail(errno, folder + ": " + errno_text(errno));
    FolderLock folderLock;
    if (std::string w; !folderLock.take(dir.fd, folder, w, next)) return fail(EWOULDBLOCK, w);
    const std::string run = this_run();
    // One left by a dead run of the same host and process number is taken over when its lock
    // can be had; one of another owner is not used.
    LockFileSpec spec;
    spec.folder = folder;
    spec.dirFd = dir.fd;
    spec.name = lock_name(run);
    spec.refuseOtherOwner = true;
    spec.readable = true;  // every member who may see the folder may ask whether the run lives
    const LockFileOpened opened = try_lock_file(spec, true);
    Fd lock(opened.fd);
    if (lock.fd < 0 && opened.error == EWOULDBLOCK) {
        if (next && opened.foreign) *next = opened.next;
        return fail(EBUSY, "the lock file " + opened.path + " " + opened.why);
    }
    if (lock.fd < 0) return fail(opened.error, opened.path + " " + opened.why);
    // Readable by whoever may enter the folder, past the umask: every user of the company who may
    // read its data files must be able to see it; nobody else.
    MadeFile markerSpec;
    markerSpec.dirFd = dir.fd;
    markerSpec.name = marker_name(run);
    struct stat folderSt {};
    (void)::fstat(dir.fd, &folderSt);
    markerSpec.rights.owners = {::geteuid(), folderSt.st_gid};
    markerSpec.rights.giveOwner = false;
    const std::optional<AccessList> folderList = access_list(dir.fd);
    markerSpec.rights.list = [&](const FileOwners& has, bool) -> std::optional<AccessList> {
        if (!folderList) return std::nullopt;
        return readers_list({*folderList, {folderSt.st_uid, folderSt.st_gid}, has, 1, 4, 6});
    };
    const Made made = make_file(markerSpec);
    const int marker = made.fd;
    if (marker < 0) {
        ::unlinkat(dir.fd, lock_name(run).c_str(), 0);
        return fail(made.error, folder + marker_name(run) + ": " + errno_text(made.error));
    }
    Held h;
    h.markerFd = marker;
    h.lockFd = lock.fd;
    lock.fd = -1;
    h.folder = folder;
    g_held[folder] = h;
    return 0;
}

// Writes `text` into a held marker at `at` (cut there first), synced: 0, or the errno.
int write_marker(Held& h, const std::string& text, off_t at) {
    struct stat st {};
    // Removed meanwhile (by hand): a later command could never find it.
    if (::fstat(h.markerFd, &st) != 0 || st.st_nlink != 1) return EIO;
    if (::ftruncate(h.markerFd, at) != 0) return errno;
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t w = ::pwrite(h.markerFd, text.data() + done, text.size() - done, at + static_cast<off_t>(done));
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) return errno;
        done += static_cast<std::size_t>(w);
    }
    return ::fsync(h.markerFd) == 0 ? 0 : errno;
}
std::string data_folder_of(const std::string& backupFolder) {
    std::string f = backupFolder;
    while (!f.empty() && f.back() == '/') f.pop_back();
    const auto slash = f.rfind('/');
    return slash == std::string::npos ? "./" : f.substr(0, slash + 1);
}

// How a marker names another folder of its run: relative to its own data folder, so that a
// company moved whole keeps the way.
std::string way_to(const std::string& fromDataFolder, const std::string& toDataFolder) {
    std::error_code ec;
    const fs::path from = fs::weakly_canonical(fromDataFolder, ec);
    const fs::path to = fs::weakly_canonical(toDataFolder, ec);
    const fs::path rel = to.lexically_relative(from);
    return rel.empty() ? to.string() : rel.string();
}
// A backup folder is entered and read by whoever may read the data file its first run is for,
// and written by its owner alone (the run's files in it say the same); where that file's rights
// cannot be read, by whoever may enter the folder as its bits have long said.
MadeRights backup_folder_rights(const std::string& dataFile) {
    MadeRights r;
    r.giveOwner = false;
    struct stat st {};
    std::optional<AccessList> list;
    if (!dataFile.empty() && ::stat(dataFile.c_str(), &st) == 0) list = access_list(dataFile);
    if (!list) {
        r.list = [](const FileOwners&, bool) { return std::optional(AccessList::of_bits(kBackupFolderMode)); };
        return r;
    }
    r.owners.gid = st.st_gid;
    r.list = [l = *list, from = FileOwners{st.st_uid, st.st_gid}](const FileOwners& has, bool) {
        return std::optional(readers_list({l, from, has, 4, 5, 7}));
    };
    return r;
}

// This user's backup folder that stands is given the rights it is to have, in place (one made
// before under a folder's default list kept members out of it): 0, or the errno.
int fit_backup_folder(const std::string& folder, const MadeRights& rights) {
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.fd < 0) return errno;
    return give_made_rights(dir.fd, rights, true).listError;
}

}  // namespace

bool run_held_in(const std::string& folder) {
    std::lock_guard<std::mutex> guard(g_heldMutex);
    return g_held.count(folder) != 0;
}

}  // namespace runs

using namespace runs;

std::string own_backup_folder(const std::string& dataFolderIn, std::string& why, ui::NextStep* next,
                              const std::string& dataFile) {
    const std::string dataFolder = with_slash(dataFolderIn);
    why.clear();
    if (next) *next = {};
    std::string reasons;
    // Names taken by other users' folders (a company handed over many times): an administrator
    // frees one. Any other failure (the data folder cannot be written) has a step of its own.
    std::vector<std::string> takenFolders, takenBy;
    bool onlyTaken = true;
    const MadeRights rights = backup_folder_rights(dataFile);
    // After a company was handed over (`chown -R`), the names this user had are the new owner's:
    // another of the same form is taken.
    std::vector<std::string> candidates{".backup", ".backup-" + std::to_string(::geteuid())};
    for (int k = 2; k <= 9; ++k) candidates.push_back(candidates[1] + "-" + std::to_string(k));
    for (const std::string& name : candidates) {
        const std::string folder = dataFolder + name;
        MadeFile spec;
        spec.name = folder;
        spec.isFolder = true;
        spec.rights = rights;
        const Made made = make_file(spec);
        if (made.fd >= 0) ::close(made.fd);
        if (made.error != 0 && made.error != EEXIST) {
            reasons += (reasons.empty() ? "" : "; ") + folder + ": " + errno_text(made.error);
            onlyTaken = false;
            continue;
        }
        struct stat st {};
        if (::lstat(folder.c_str(), &st) != 0) {
            reasons += (reasons.empty() ? "" : "; ") + folder + ": " + errno_text(errno);
            onlyTaken = false;
            continue;
        }
        if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
            const bool taken = S_ISDIR(st.st_mode);
            const std::string owner = user_name(st.st_uid);
            reasons += (reasons.empty() ? "" : "; ") + folder +
                       (S_ISLNK(st.st_mode) ? " is a link" : !taken ? " is not a folder" : " belongs to " + owner);
            if (taken) {
                takenFolders.push_back(folder);
                if (std::find(takenBy.begin(), takenBy.end(), owner) == takenBy.end()) takenBy.push_back(owner);
            }
            continue;
        }
        if (const int err = made.error == EEXIST ? fit_backup_folder(folder, rights) : 0; err != 0) {
            reasons += (reasons.empty() ? "" : "; ") + folder + ": " + errno_text(err);
            onlyTaken = false;
            continue;
        }
        return folder + "/";
    }
    why = "no backup folder can be had (" + escaped(reasons) + ")";
    if (next && onlyTaken && !takenFolders.empty())
        *next = {ui::Step::FreeBackupFolder, {escaped(join_files(takenFolders)), escaped(join_files(takenBy))}};
    return "";
}

std::string run_copy_name(const std::string& dataFileName, long n) {
    std::string s = dataFileName + "~" + this_run();
    if (n > 1) s += "~" + std::to_string(n);
    return s;
}

int hold_run(const std::string& backupFolderIn, std::string* why, ui::NextStep* next) {
    const std::string folder = with_slash(backupFolderIn);
    std::lock_guard<std::mutex> guard(g_heldMutex);
    if (auto it = g_held.find(folder); it != g_held.end()) {
        // A run of this program whose files could not all be put back: its marker names the
        // copies kept, and a new run here would write over it, so that the next command dropped them.
        if (it->second.whole) {
            if (why)
                *why = "a conversion before it in this run could not put its data files back from " + folder;
            return EALREADY;
        }
        ++it->second.copies;
        return 0;
    }
    ui::NextStep step;
    const int err = hold_locked(folder, why, &step);
    if (next && step.step == ui::Step::EndLockHolder) *next = step;
    if (err == 0) g_held[folder].copies = 1;
    return err;
}

void note_run_file(const std::string& backupFolderIn, const std::string& dataFile) {
    std::lock_guard<std::mutex> guard(g_heldMutex);
    const auto it = g_held.find(with_slash(backupFolderIn));
    const auto had = file_had(dataFile);
    const std::string name = fs::path(dataFile).filename().string();
    if (it == g_held.end() || it->second.whole || !had ||
        ("\n" + it->second.hadLines).find("\nhad " + name + " ") != std::string::npos)
        return;
    it->second.hadLines += marker_had_line(name, *had);
    // Not filled, it names no copy: nothing is put back from it, but whatever command clears it
    // gives the data files back what they had, where a put-back killed midway left them its own.
    (void)write_marker(it->second, marker_unfilled_head(host_name(), static_cast<long>(::getpid())) + it->second.hadLines, 0);
}

void let_go_run(const std::string& backupFolderIn) {
    std::lock_guard<std::mutex> guard(g_heldMutex);
    auto it = g_held.find(with_slash(backupFolderIn));
    if (it == g_held.end()) return;
    if (it->second.copies > 0) --it->second.copies;
    drop_if_done(it);
}

int write_run_markers(const std::vector<RunCopy>& copies, const std::string& mainDataFolder) {
    std::map<std::string, std::string> linesOf;  // backup folder -> its copy lines
    const std::string run = this_run();
    for (const auto& c : copies) {
        const auto slash = c.path.rfind('/');
        const std::string folder = slash == std::string::npos ? "./" : c.path.substr(0, slash + 1);
        const std::string name = slash == std::string::npos ? c.path : c.path.substr(slash + 1);
        std::string dataFile, copyRun;
        if (!parse_copy_name(name, dataFile, copyRun) || copyRun != run) return EINVAL;
        linesOf[folder] += marker_copy_line(name, c.length, c.hash);
    }
    if (linesOf.empty()) return 0;
    std::lock_guard<std::mutex> guard(g_heldMutex);
    for (auto& [folder, lines] : linesOf) {
        const auto held = g_held.find(folder);
        if (held == g_held.end()) return EXDEV;  // a copy no later command could find
        lines = held->second.hadLines + lines;
    }
    // A number of this run's own: every data file it commits carries it with its user, which
    // proves later that a marker naming it is of a run that wrote them.
    const RunMark mark{::geteuid(), draw_run_number()};
    const std::string head = marker_head(host_name(), static_cast<long>(::getpid()), mark.number);
    std::vector<Held*> written;
    auto undo = [&](int err) {
        set_run_mark_for_commits(std::nullopt);
        for (Held* h : written) {
            if (cut_marker(h->markerFd, 0) == 0) h->whole = false;
            h->role = Role::Alone;
        }
        // A main marker made for the commit point alone holds no copy: it goes now.
        std::vector<std::string> folders;
        for (const auto& [folder, h] : g_held) folders.push_back(folder);
        for (const auto& folder : folders)
            if (auto it = g_held.find(folder); it != g_held.end()) drop_if_done(it);
        return err;
    };
    if (linesOf.size() == 1) {
        Held& h = g_held[linesOf.begin()->first];
        if (const int err = write_marker(h, head + linesOf.begin()->second + marker_end_line(), 0); err != 0) return undo(err);
        written.push_back(&h);
        if (const int err = sync_folder(h.folder); err != 0) return undo(err);
        h.whole = true;
        set_run_mark_for_commits(mark);
        return 0;
    }
    // Several folders: the marker in the company's data folder is the run's one commit point. It
    // names its parts first, the parts are filled, and it names its copies last.
    std::string why;
    const std::string mainFolder = own_backup_folder(mainDataFolder, why);
    if (mainFolder.empty()) return EACCES;
    if (!g_held.count(mainFolder))
        if (const int err = hold_locked(mainFolder, nullptr, nullptr); err != 0) return err;
    Held& main = g_held[mainFolder];
    const std::string mainData = data_folder_of(mainFolder);
    std::string names = head;
    for (const auto& [folder, lines] : linesOf) {
        if (folder == mainFolder) continue;
        const std::string way = way_to(mainData, data_folder_of(folder));
        if (way.find('\n') != std::string::npos) return EINVAL;  // a folder whose name holds a line end
        names += marker_part_line(way);
    }
    written.push_back(&main);
    if (const int err = write_marker(main, names, 0); err != 0) return undo(err);
    main.role = Role::Main;
    main.namesOnly = static_cast<off_t>(names.size());
    for (const auto& [folder, lines] : linesOf) {
        if (folder == mainFolder) continue;
        Held& part = g_held[folder];
        const std::string way = way_to(data_folder_of(folder), mainData);
        if (way.find('\n') != std::string::npos) return undo(EINVAL);
        written.push_back(&part);
        if (const int err = write_marker(part, head + marker_main_line(way) + lines + marker_end_line(), 0); err != 0)
            return undo(err);
        part.role = Role::Part;
        part.whole = true;
        if (const int err = sync_folder(folder); err != 0) return undo(err);
    }
    const auto own = linesOf.find(mainFolder);
    if (const int err = write_marker(main, (own == linesOf.end() ? std::string() : own->second) + marker_end_line(), main.namesOnly);
        err != 0)
        return undo(err);
    if (const int err = sync_folder(mainFolder); err != 0) return undo(err);
    main.whole = true;
    set_run_mark_for_commits(mark);
    return 0;
}

int clear_run_markers() {
    std::lock_guard<std::mutex> guard(g_heldMutex);
    // Every data file of the run has committed, or it goes back from its copies: nothing more
    // is committed as the run's.
    set_run_mark_for_commits(std::nullopt);
    // The main marker first: once it names no copy, every part is stale. Until then the run has
    // not passed its commit point, whatever committed: its files are to go back.
    for (auto& [folder, h] : g_held)
        if (h.role == Role::Main && h.whole) {
            if (const int err = cut_marker(h.markerFd, h.namesOnly); err != 0) return err;
            h.whole = false;
            if (g_commitPointHook) g_commitPointHook();
        }
    // A run in one folder: its marker is its commit point.
    int failed = 0;
    for (auto& [folder, h] : g_held) {
        if (!h.whole) continue;
        if (const int err = cut_marker(h.markerFd, 0); err == 0) h.whole = false;
        else if (h.role == Role::Alone) failed = err;
        // A part left whole beside a main that names no copy is stale: the next command removes it.
        else h.whole = false;
    }
    if (failed != 0) return failed;
    for (auto it = g_held.begin(); it != g_held.end();) {
        const std::string key = it->first;
        drop_if_done(it);  // dropping a part may drop the main as well
        it = g_held.upper_bound(key);
    }
    return 0;
}

void set_commit_point_hook_for_tests(std::function<void()> hook) { g_commitPointHook = std::move(hook); }

}  // namespace dz::xio
