#include "platform/datafile/users.h"

#include "platform/datafile/access_list.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace dz::xio {

bool find_user(uid_t uid, std::string& name, gid_t& primaryGroup) {
    struct passwd pw {};
    struct passwd* found = nullptr;
    std::vector<char> buf(16384);
    if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || !found || !pw.pw_name) return false;
    name = pw.pw_name;
    primaryGroup = pw.pw_gid;
    return true;
}

bool has_account(uid_t uid) {
    std::string name;
    gid_t group = 0;
    return find_user(uid, name, group);
}

std::string user_name(uid_t uid) {
    std::string name;
    gid_t group = 0;
    return find_user(uid, name, group) ? name + " (uid " + std::to_string(uid) + ")" : "uid " + std::to_string(uid);
}

std::string group_name(gid_t gid) {
    struct group gr {};
    struct group* found = nullptr;
    std::vector<char> buf(16384);
    if (::getgrgid_r(gid, &gr, buf.data(), buf.size(), &found) != 0 || !found || !gr.gr_name) return "gid " + std::to_string(gid);
    return gr.gr_name;
}

namespace {

// Whether user `uid` of `groups` has right `right` (read 4, write 2) on a file of status `st` by
// its permission bits.
WriteRight bits_right(uid_t uid, const std::vector<gid_t>& groups, const struct stat& st, unsigned right) {
    if (uid == 0) return WriteRight::Yes;
    auto bit = [&](unsigned shift) { return ((st.st_mode >> shift) & right) != 0 ? WriteRight::Yes : WriteRight::No; };
    if (st.st_uid == uid) return bit(6);
    if (std::find(groups.begin(), groups.end(), st.st_gid) != groups.end()) return bit(3);
    return bit(0);
}

}  // namespace

WriteRight write_right(uid_t uid, const std::vector<gid_t>& groups, const struct stat& st) {
    return bits_right(uid, groups, st, 02);
}

namespace {

// The access list of `path` when it still names the file of status `st`; nullopt when it cannot
// be read.
std::optional<AccessList> access_list_of(const std::string& path, const struct stat& st) {
    std::optional<AccessList> list = access_list(path);
    struct stat now {};
    if (::stat(path.c_str(), &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino) return std::nullopt;
    return list;
}

// Whether user `uid` of `groups` may write a file of owner `st` by its access list, as the kernel
// asks it: the owner by the owner's entry; a user named by their entry; otherwise each group of
// theirs named (the file's own group included) that gives the right; others by the others'
// entry, unless a group of theirs is named. A named user's or group's right is only what the
// mask also gives.
WriteRight acl_write_right(uid_t uid, const std::vector<gid_t>& groups, const struct stat& st, const AccessList& acl,
                           unsigned right = 02) {
    auto member = [&](gid_t g) { return std::find(groups.begin(), groups.end(), g) != groups.end(); };
    auto writes = [right](unsigned perm) { return (perm & right) != 0 ? WriteRight::Yes : WriteRight::No; };
    const unsigned mask = acl.perm(AccessTag::Mask);
    bool inGroup = false;
    for (const AccessEntry& e : acl.entries) {
        switch (e.tag) {
            case AccessTag::Owner:
                if (st.st_uid == uid) return writes(e.perm);
                break;
            case AccessTag::User:
                if (e.id == uid) return writes(e.perm & mask);
                break;
            case AccessTag::OwningGroup:
            case AccessTag::Group:
                if (member(e.tag == AccessTag::OwningGroup ? st.st_gid : static_cast<gid_t>(e.id))) {
                    inGroup = true;
                    if ((e.perm & right) != 0) return writes(mask);
                }
                break;
            case AccessTag::Mask:
                break;
            case AccessTag::Others:
                return inGroup ? WriteRight::No : writes(e.perm);
        }
    }
    return WriteRight::Untold;  // no entry for others: not a list the kernel keeps
}

}  // namespace

WriteRight write_right(uid_t uid, const struct stat& st) { return write_right(uid, std::string(), st); }

WriteRight write_right(uid_t uid, const std::string& path, const struct stat& st) {
    if (uid == 0 || st.st_uid == uid) return write_right(uid, std::vector<gid_t>{}, st);
    // Bits alone where the file has no list beyond them (or no path is given).
    AccessList acl;
    if (!path.empty()) {
        const std::optional<AccessList> list = access_list_of(path, st);
        if (!list) return WriteRight::Untold;
        if (list->extended()) acl = *list;
    }
    std::vector<gid_t> groups;
    if (uid == ::geteuid()) {
        const int n = ::getgroups(0, nullptr);
        groups.resize(static_cast<std::size_t>(std::max(n, 0)));
        if (n > 0 && ::getgroups(n, groups.data()) != n) groups.clear();
        groups.push_back(::getegid());
    } else {
        std::string name;
        gid_t primary = 0;
        if (!find_user(uid, name, primary)) {
            auto right = [&](const std::vector<gid_t>& g) {
                return acl.entries.empty() ? write_right(uid, g, st) : acl_write_right(uid, g, st, acl);
            };
            // Its groups cannot be known: told only where none of them would change the answer.
            std::vector<gid_t> named{st.st_gid};
            for (const AccessEntry& e : acl.entries)
                if (e.tag == AccessTag::Group) named.push_back(static_cast<gid_t>(e.id));
            const WriteRight others = right({});
            return right(named) == others && std::all_of(named.begin(), named.end(), [&](gid_t g) {
                       return right({g}) == others;
                   }) ? others : WriteRight::Untold;
        }
        int count = 64;
        groups.resize(static_cast<std::size_t>(count));
        if (::getgrouplist(name.c_str(), primary, groups.data(), &count) < 0) {
            groups.resize(static_cast<std::size_t>(count));
            if (::getgrouplist(name.c_str(), primary, groups.data(), &count) < 0) count = 0;
        }
        groups.resize(static_cast<std::size_t>(std::max(count, 0)));
        groups.push_back(primary);
    }
    return acl.entries.empty() ? write_right(uid, groups, st) : acl_write_right(uid, groups, st, acl);
}

WriteRight write_right(uid_t uid, const std::string& path) {
    if (uid == 0) return WriteRight::Yes;
    const std::string folder = std::filesystem::path(path).parent_path().string();
    if (uid == ::geteuid()) {
        if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0) return WriteRight::Yes;
        return errno == ENOENT && ::faccessat(AT_FDCWD, folder.empty() ? "." : folder.c_str(), W_OK, AT_EACCESS) == 0
                   ? WriteRight::Yes
                   : WriteRight::No;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return write_right(uid, path, st);
    if (::stat(folder.c_str(), &st) == 0) return write_right(uid, folder, st);
    return WriteRight::No;
}

WriteRight write_right(uid_t uid, const std::vector<gid_t>& groups, const std::string& path, const struct stat& st) {
    if (uid == 0 || st.st_uid == uid) return bits_right(uid, groups, st, 02);
    const std::optional<AccessList> list = access_list_of(path, st);
    if (!list) return WriteRight::Untold;
    return list->extended() ? acl_write_right(uid, groups, st, *list) : bits_right(uid, groups, st, 02);
}

WriteRight read_right(uid_t uid, const std::vector<gid_t>& groups, int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return WriteRight::Untold;
    if (uid == 0 || st.st_uid == uid) return bits_right(uid, groups, st, 04);
    const std::optional<AccessList> list = access_list(fd);
    if (!list) return WriteRight::Untold;
    return list->extended() ? acl_write_right(uid, groups, st, *list, 04) : bits_right(uid, groups, st, 04);
}

bool has_access_acl(const std::string& path) {
    const std::optional<AccessList> list = access_list(path);
    return list && list->extended();
}

WriteRight write_right_all(uid_t uid, const std::vector<std::string>& files, std::string& which) {
    WriteRight all = WriteRight::Yes;
    for (const auto& f : files) {
        const WriteRight r = write_right(uid, f);
        if (r == WriteRight::No) {
            which = f;
            return r;
        }
        if (r == WriteRight::Untold && all == WriteRight::Yes) {
            all = r;
            which = f;
        }
    }
    return all;
}

}  // namespace dz::xio
