#include "platform/datafile/users.h"

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <pwd.h>
#include <sys/xattr.h>
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

WriteRight write_right(uid_t uid, const std::vector<gid_t>& groups, const struct stat& st) {
    if (uid == 0) return WriteRight::Yes;
    auto bit = [&](mode_t b) { return (st.st_mode & b) != 0 ? WriteRight::Yes : WriteRight::No; };
    if (st.st_uid == uid) return bit(S_IWUSR);
    if (std::find(groups.begin(), groups.end(), st.st_gid) != groups.end()) return bit(S_IWGRP);
    return bit(S_IWOTH);
}

namespace {

// An access control list as the kernel keeps it in the "system.posix_acl_access" attribute: a
// version (2), then entries of a tag, a permission and an id, little-endian, ordered by tag.
constexpr uint32_t kAclVersion = 2;
constexpr uint16_t kAclUserObj = 0x01, kAclUser = 0x02, kAclGroupObj = 0x04, kAclGroup = 0x08, kAclMask = 0x10,
                   kAclOther = 0x20;
constexpr uint16_t kAclWrite = 0x02;
struct AclEntry {
    uint16_t tag = 0;
    uint16_t perm = 0;
    uint32_t id = 0;
};

uint32_t le(const unsigned char* p, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

// The access list of `path` when it still names the file of status `st`: empty when it has
// none beyond its permission bits; false when it cannot be read or makes no sense.
bool access_acl(const std::string& path, const struct stat& st, std::vector<AclEntry>& acl) {
    acl.clear();
    std::vector<unsigned char> raw(4 + 8 * 32);
    ssize_t n = ::getxattr(path.c_str(), "system.posix_acl_access", raw.data(), raw.size());
    int why = n < 0 ? errno : 0;
    if (why == ERANGE) {
        n = ::getxattr(path.c_str(), "system.posix_acl_access", nullptr, 0);
        raw.resize(static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        if (n > 0) n = ::getxattr(path.c_str(), "system.posix_acl_access", raw.data(), raw.size());
        why = n < 0 ? EIO : 0;  // grown between the two reads: read again next time
    }
    struct stat now {};
    if (::stat(path.c_str(), &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino) return false;
    if (n < 0) return why == ENODATA || why == ENOTSUP;
    const unsigned char* p = raw.data();
    if (n < 4 || (n - 4) % 8 != 0 || le(p, 4) != kAclVersion) return false;
    for (ssize_t at = 4; at < n; at += 8)
        acl.push_back({static_cast<uint16_t>(le(p + at, 2)), static_cast<uint16_t>(le(p + at + 2, 2)), le(p + at + 4, 4)});
    return true;
}

// Whether user `uid` of `groups` may write a file of owner `st` by its access list, as the kernel
// asks it: the owner by the owner's entry; a user named by their entry; otherwise each group of
// theirs named (the file's own group included) that gives the right; others by the others'
// entry, unless a group of theirs is named. A named user's or group's right is only what the
// mask also gives.
WriteRight acl_write_right(uid_t uid, const std::vector<gid_t>& groups, const struct stat& st,
                           const std::vector<AclEntry>& acl) {
    auto member = [&](gid_t g) { return std::find(groups.begin(), groups.end(), g) != groups.end(); };
    auto masked = [&](std::size_t at) {
        for (std::size_t m = at + 1; m < acl.size(); ++m)
            if (acl[m].tag == kAclMask) return (acl[at].perm & acl[m].perm & kAclWrite) != 0 ? WriteRight::Yes : WriteRight::No;
        return (acl[at].perm & kAclWrite) != 0 ? WriteRight::Yes : WriteRight::No;
    };
    bool inGroup = false;
    for (std::size_t at = 0; at < acl.size(); ++at) {
        const AclEntry& e = acl[at];
        switch (e.tag) {
            case kAclUserObj:
                if (st.st_uid == uid) return (e.perm & kAclWrite) != 0 ? WriteRight::Yes : WriteRight::No;
                break;
            case kAclUser:
                if (e.id == uid) return masked(at);
                break;
            case kAclGroupObj:
            case kAclGroup:
                if (member(e.tag == kAclGroupObj ? st.st_gid : static_cast<gid_t>(e.id))) {
                    inGroup = true;
                    if ((e.perm & kAclWrite) != 0) return masked(at);
                }
                break;
            case kAclMask:
                break;
            case kAclOther:
                if (inGroup) return WriteRight::No;
                return (e.perm & kAclWrite) != 0 ? WriteRight::Yes : WriteRight::No;
            default:
                return WriteRight::Untold;
        }
    }
    return WriteRight::Untold;  // no entry for others: not a list the kernel keeps
}

}  // namespace

WriteRight write_right(uid_t uid, const struct stat& st) { return write_right(uid, std::string(), st); }

WriteRight write_right(uid_t uid, const std::string& path, const struct stat& st) {
    if (uid == 0 || st.st_uid == uid) return write_right(uid, std::vector<gid_t>{}, st);
    std::vector<AclEntry> acl;
    if (!path.empty() && !access_acl(path, st, acl)) return WriteRight::Untold;
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
                return acl.empty() ? write_right(uid, g, st) : acl_write_right(uid, g, st, acl);
            };
            // Its groups cannot be known: told only where none of them would change the answer.
            std::vector<gid_t> named{st.st_gid};
            for (const AclEntry& e : acl)
                if (e.tag == kAclGroup) named.push_back(static_cast<gid_t>(e.id));
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
    return acl.empty() ? write_right(uid, groups, st) : acl_write_right(uid, groups, st, acl);
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

bool has_access_acl(const std::string& path) {
    return ::getxattr(path.c_str(), "system.posix_acl_access", nullptr, 0) > 0;
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
