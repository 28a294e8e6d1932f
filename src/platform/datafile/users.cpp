#include "platform/datafile/users.h"

#include <algorithm>
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

WriteRight write_right(uid_t uid, const struct stat& st) {
    if (uid == 0 || st.st_uid == uid) return write_right(uid, std::vector<gid_t>{}, st);
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
            const WriteRight others = write_right(uid, std::vector<gid_t>{}, st);
            return write_right(uid, std::vector<gid_t>{st.st_gid}, st) == others ? others : WriteRight::Untold;
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
    return write_right(uid, groups, st);
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
    if (::stat(path.c_str(), &st) != 0 && ::stat(folder.c_str(), &st) != 0) return WriteRight::No;
    return write_right(uid, st);
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
