#include "platform/datafile/file_aside.h"

#include "platform/datafile/access_list.h"
#include "platform/datafile/made_file.h"
#include "platform/datafile/users.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace dz::xio {

std::string with_slash(std::string folder) {
    if (folder.empty()) return "./";
    if (folder.back() != '/') folder += '/';
    return folder;
}

int sync_folder(const std::string& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno ? errno : EIO;
    const int err = ::fsync(fd) == 0 ? 0 : (errno ? errno : EIO);
    ::close(fd);
    return err;
}

std::string aside_name(const std::string& target, int n) {
    return target + ".restore" + std::to_string(::getpid()) + (n > 0 ? "_" + std::to_string(n) : "");
}

bool parse_aside_name(const std::string& name, std::string& target, std::string& process) {
    auto digits = [](const std::string& s) {
        return !s.empty() && s.size() <= 9 && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
    };
    const auto at = name.rfind(".restore");
    if (at == std::string::npos || at == 0) return false;
    process = name.substr(at + 8);
    if (const auto under = process.find('_'); under != std::string::npos) {
        if (!digits(process.substr(under + 1))) return false;
        process.resize(under);
    }
    if (!digits(process)) return false;
    target = name.substr(0, at);
    return true;
}

int copy_bytes(int in, int out, StreamHash* hash) {
    std::vector<char> buf(1 << 16);
    for (off_t at = 0;;) {
        const ssize_t r = ::pread(in, buf.data(), buf.size(), at);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return errno ? errno : EIO;
        if (r == 0) return 0;
        at += r;
        if (hash) hash->Add(std::string_view(buf.data(), static_cast<std::size_t>(r)));
        for (ssize_t done = 0; done < r;) {
            const ssize_t w = ::write(out, buf.data() + done, static_cast<std::size_t>(r - done));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) return errno ? errno : EIO;
            done += w;
        }
    }
}

int write_aside(int in, const std::string& target, mode_t mode, Aside& aside, const AsideOwner* missing) {
    aside = Aside{};
    MadeFile spec;
    spec.rights.giveOwner = false;
    std::optional<AccessList> list;
    std::string listWhy;
    if (struct stat st {}; ::lstat(target.c_str(), &st) == 0) {
        spec.rights.owners = {st.st_uid, st.st_gid};
        spec.rights.giveOwner = true;
        if (S_ISREG(st.st_mode) && !(list = access_list(target))) listWhy = std::strerror(errno ? errno : EIO);
    } else if (missing) {
        spec.rights.owners = {missing->uid, missing->gid};
        spec.rights.giveOwner = true;
    }
    if (spec.rights.giveOwner) aside.had = {spec.rights.owners.uid, spec.rights.owners.gid};
    // Its list as a file of the owner and group it gets carries it, or, where the target's cannot
    // be read, `mode`: every entry it was made with replaced (a folder's default list's too).
    const FileOwners had = spec.rights.owners;
    spec.rights.list = [&](const FileOwners& has, bool) {
        return list ? list->carried(had, has, list->perm(AccessTag::Owner)) : AccessList::of_bits(mode);
    };
    Made made;
    for (int n = 0; n < 100; ++n) {
        spec.name = aside.path = aside_name(target, n);
        if ((made = make_file(spec)).error != EEXIST) break;
    }
    if (made.fd < 0) return made.error;
    aside.ownerKept = made.ownerGiven;
    aside.groupKept = made.groupGiven;
    aside.has = {made.has.uid, made.has.gid};
    aside.mode = made.mode;
    if (list && made.listError != 0) aside.listLost = list->words() + " (" + std::strerror(made.listError) + ")";
    else if (!listWhy.empty()) aside.listLost = "(it could not be read: " + listWhy + ")";
    int err = copy_bytes(in, made.fd, &aside.hash);
    if (err == 0 && ::fsync(made.fd) != 0) err = errno;
    if (::close(made.fd) != 0 && err == 0) err = errno;
    if (err != 0) ::unlink(aside.path.c_str());
    return err;
}

std::optional<FileHad> file_had(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    auto list = access_list(path);
    if (!list) return std::nullopt;
    return FileHad{{st.st_uid, st.st_gid}, std::move(*list)};
}

int give_had(const std::string& path, const FileHad& had, Aside& result) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno ? errno : EIO;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = errno ? errno : EINVAL;
        ::close(fd);
        return err;
    }
    const FileOwners want = had.owners;
    result.had = {want.uid, want.gid};
    // Not root: the group at least, when this user belongs to it.
    if ((st.st_uid != want.uid || st.st_gid != want.gid) && ::fchown(fd, want.uid, want.gid) != 0)
        (void)::fchown(fd, static_cast<uid_t>(-1), want.gid);
    (void)::fstat(fd, &st);
    result.ownerKept = st.st_uid == want.uid;
    result.groupKept = st.st_gid == want.gid;
    // The list as a file of the owner and group it has now carries it: where these are not the
    // ones it had, it names them with what they had, so that nobody gains or loses a right.
    const AccessList carried = had.list.carried(want, {st.st_uid, st.st_gid}, had.list.perm(AccessTag::Owner));
    result.listLost.clear();
    if (const auto now = access_list(fd); !now || !(*now == carried))
        if (const int lost = give_access_list_or_narrower(fd, carried); lost != 0)
            result.listLost = carried.words() + " (" + std::strerror(lost) + ")";
    (void)::fstat(fd, &st);
    result.has = {st.st_uid, st.st_gid};
    result.mode = st.st_mode & 07777;
    result.listBack = (!result.ownerKept || !result.groupKept) && had.list.extended() ? had.list.words() : "";
    const int err = ::fsync(fd) == 0 ? 0 : (errno ? errno : EIO);
    ::close(fd);
    return err;
}

void say_not_given_back(const std::string& dataFile, const Aside& aside, std::string& notes, ui::NextStep& next) {
    auto note = [&](const std::string& text) { notes += (notes.empty() ? "" : "; ") + text; };
    const std::string had = user_name(aside.had.uid);
    std::string hadGroup = group_name(aside.had.gid);
    if (!aside.groupKept && !aside.ownerKept)
        note(dataFile + " now belongs to " + user_name(aside.has.uid) + " and the group " + group_name(aside.has.gid) +
             ": its owner " + had + " and group " + hadGroup + " could not be given back");
    else if (!aside.ownerKept)
        note(dataFile + " now belongs to " + user_name(aside.has.uid) + ": its owner " + had +
             " could not be given back (its group " + hadGroup + " was kept)");
    else if (!aside.groupKept)
        note(dataFile + " is now of the group " + group_name(aside.has.gid) + ": its group " + hadGroup +
             " could not be given back");
    if (!aside.listLost.empty()) {
        char bits[8];
        std::snprintf(bits, sizeof bits, "%04o", static_cast<unsigned>(aside.mode));
        note(dataFile + "'s access list " + aside.listLost + " could not be given back: it has mode " + bits +
             ", which gives nobody more than that list did");
    }
    if (aside.ownerKept && aside.groupKept) return;
    // One step names every file that is to have the same owner and group again: one named alone
    // would leave the others as they are. What was kept is not asked for.
    const std::string hadOwner = aside.ownerKept ? std::string() : had;
    if (aside.groupKept) hadGroup.clear();
    std::vector<std::string> args{dataFile, hadOwner, hadGroup};
    if (!aside.listBack.empty()) {
        // A list that names users or groups is given back whole with the owner: a change of
        // owner alone would leave in it the name of the one it has now. The commands, as an
        // administrator types them, then the list they give (to tell one step from another).
        args.push_back("");
        args.push_back(aside.listBack);
    }
    if (!next) {
        next = {ui::Step::GiveOwnerBack, std::move(args)};
    } else if (next.step == ui::Step::GiveOwnerBack && next.args.size() == args.size() &&
               std::equal(args.begin() + 1, args.end(), next.args.begin() + 1)) {
        next.args[0] += ", " + dataFile;
    } else {
        return;
    }
    if (next.args.size() == 5) {
        std::string paths;
        for (std::size_t at = 0; at <= next.args[0].size();) {
            const auto comma = next.args[0].find(", ", at);
            paths += (paths.empty() ? "" : " ") + next.args[0].substr(at, comma == std::string::npos ? comma : comma - at);
            if (comma == std::string::npos) break;
            at = comma + 2;
        }
        const std::string uid = std::to_string(aside.had.uid), gid = std::to_string(aside.had.gid);
        const std::string chown = aside.ownerKept ? "chgrp " + gid : "chown " + uid + (aside.groupKept ? "" : ":" + gid);
        next.args[3] = chown + " " + paths + " && setfacl --set " + aside.listBack + " " + paths;
    }
}

}  // namespace dz::xio
