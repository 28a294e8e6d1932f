#include "platform/datafile/made_file.h"

#include <acl/libacl.h>
#include <sys/acl.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace dz::xio {
namespace {

std::mutex g_hookMutex;
std::function<void(const char*, int)> g_hook;

void step(const char* name, int fd) {
    std::function<void(const char*, int)> hook;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        hook = g_hook;
    }
    if (hook) hook(name, fd);
}

std::string fd_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

int fail(Made& m, int err) {
    if (m.fd >= 0) ::close(m.fd);
    m.fd = -1;
    m.error = err ? err : EIO;
    return m.error;
}

// A folder made 0700 at its name: nobody else may enter it until it has its rights. One that
// stood there already is not this making's (EEXIST).
int make_folder(const MadeFile& spec, Made& m) {
    if (::mkdirat(spec.dirFd, spec.name.c_str(), 0700) != 0) return fail(m, errno);
    m.fd = ::openat(spec.dirFd, spec.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (m.fd < 0) return fail(m, errno);
    return 0;
}

// The folder a nameless file is made in.
std::string folder_of(const MadeFile& spec) {
    if (spec.dirFd != AT_FDCWD) return fd_path(spec.dirFd);
    if (!spec.folder.empty()) return spec.folder;
    const auto slash = spec.name.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : spec.name.substr(0, slash);
}

}  // namespace

Made give_made_rights(int fd, const MadeRights& r, bool isFolder) {
    Made m;
    m.fd = fd;
    const uid_t me = ::geteuid();
    // The owner and group first: a change of owner clears the set-ID bits a mode may give.
    if (!(me == 0 && r.giveOwner && ::fchown(m.fd, r.owners.uid, r.owners.gid) == 0)) {
        // Not root: the group at least, where this user is of it.
        m.ownerGiven = !r.giveOwner || r.owners.uid == me;
        m.groupGiven = ::fchown(m.fd, static_cast<uid_t>(-1), r.owners.gid) == 0;
    }
    step("owner", m.fd);
    struct stat st {};
    (void)::fstat(m.fd, &st);
    m.has = {st.st_uid, st.st_gid};
    std::optional<AccessList> list = r.list ? r.list(m.has, m.groupGiven) : std::nullopt;
    // Its maker's alone, every entry it was made with (a folder's default list's) replaced.
    if (!list) list = AccessList::of_bits(isFolder ? 0700 : 0600);
    m.listError = give_access_list_or_narrower(m.fd, *list);
    // A folder hands no default list on: whatever is made in it is made by this maker too.
    if (isFolder) (void)::acl_delete_def_file(fd_path(m.fd).c_str());
    step("list", m.fd);
    (void)::fstat(m.fd, &st);
    m.mode = st.st_mode & 07777;
    return m;
}

namespace {

// The rights given to what was just made, kept with it.
void give_rights(const MadeFile& spec, Made& m) {
    const int fd = m.fd;
    m = give_made_rights(fd, spec.rights, spec.isFolder);
}

}  // namespace

Made make_file(const MadeFile& spec) {
    Made m;
    if (spec.isFolder) {
        if (make_folder(spec, m) != 0) return m;
        step("made", m.fd);
        give_rights(spec, m);
        if (spec.beforeNamed) spec.beforeNamed(m.fd);
        step("named", m.fd);
        return m;
    }
    const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | spec.openFlags;
    m.fd = ::openat(AT_FDCWD, folder_of(spec).c_str(), (flags & ~O_NOFOLLOW) | O_TMPFILE, 0600);
    const bool nameless = m.fd >= 0;
    // Where the file system makes no nameless files, it is made at its name, its maker's alone.
    if (!nameless) m.fd = ::openat(spec.dirFd, spec.name.c_str(), flags | O_CREAT | O_EXCL, 0600);
    if (m.fd < 0) {
        fail(m, errno);
        return m;
    }
    step("made", m.fd);
    give_rights(spec, m);
    if (spec.beforeNamed) spec.beforeNamed(m.fd);
    if (nameless && ::linkat(AT_FDCWD, fd_path(m.fd).c_str(), spec.dirFd, spec.name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        fail(m, errno);
        return m;
    }
    step("named", m.fd);
    return m;
}

AccessList readers_list(const ReadersOf& r) {
    AccessList l = r.list.carried(r.from, r.to, r.owner);
    const unsigned mask = l.extended() ? l.perm(AccessTag::Mask) : 7u;
    unsigned covered = 0;
    for (AccessEntry& e : l.entries) {
        const bool groupClass = e.tag == AccessTag::OwningGroup || e.tag == AccessTag::User || e.tag == AccessTag::Group;
        // An entry under the mask gives only what the mask lets it.
        const unsigned had = groupClass ? e.perm & mask : e.perm;
        if (e.tag == AccessTag::Owner) e.perm = r.owner;
        else if (e.tag != AccessTag::Mask) e.perm = (had & r.by) ? r.give : 0;
        if (groupClass) covered |= e.perm;
    }
    for (AccessEntry& e : l.entries)
        if (e.tag == AccessTag::Mask) e.perm = covered;
    return l;
}

std::optional<MadeRights> rights_for(const std::string& path, unsigned most, bool giveOwner) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    const std::optional<AccessList> list = access_list(path);
    if (!list) return std::nullopt;
    MadeRights r;
    r.owners = {st.st_uid, st.st_gid};
    r.giveOwner = giveOwner;
    const FileOwners from = r.owners;
    // Another owner (one who is not root makes it his) has what the first owner had, and may
    // write what he makes.
    const unsigned ownerPerm = (list->perm(AccessTag::Owner) | 06) & most;
    r.list = [l = *list, from, most, ownerPerm](const FileOwners& has, bool) -> std::optional<AccessList> {
        AccessList c = l.carried(from, has, ownerPerm);
        for (AccessEntry& e : c.entries) e.perm &= most;
        return c;
    };
    return r;
}

void set_made_file_hook_for_tests(std::function<void(const char* step, int fd)> hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_hook = std::move(hook);
}

}  // namespace dz::xio
