#include "platform/datafile/users.h"

#include <algorithm>
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

WriteRight write_right(uid_t uid, const struct stat& st) {
    if (uid == 0) return WriteRight::Yes;
    auto bit = [&](mode_t b) { return (st.st_mode & b) != 0 ? WriteRight::Yes : WriteRight::No; };
    if (st.st_uid == uid) return bit(S_IWUSR);
    std::vector<gid_t> groups;
    if (uid == ::geteuid()) {
        const int n = ::getgroups(0, nullptr);
        groups.resize(static_cast<std::size_t>(std::max(n, 0)));
        if (n > 0 && ::getgroups(n, groups.data()) != n) groups.clear();
        groups.push_back(::getegid());
    } else {
        std::string name;
        gid_t primary = 0;
        if (!find_user(uid, name, primary)) return bit(S_IWGRP) == bit(S_IWOTH) ? bit(S_IWOTH) : WriteRight::Untold;
        int count = 64;
        groups.resize(static_cast<std::size_t>(count));
        if (::getgrouplist(name.c_str(), primary, groups.data(), &count) < 0) {
            groups.resize(static_cast<std::size_t>(count));
            if (::getgrouplist(name.c_str(), primary, groups.data(), &count) < 0) count = 0;
        }
        groups.resize(static_cast<std::size_t>(std::max(count, 0)));
        groups.push_back(primary);
    }
    if (std::find(groups.begin(), groups.end(), st.st_gid) != groups.end()) return bit(S_IWGRP);
    return bit(S_IWOTH);
}

}  // namespace dz::xio
