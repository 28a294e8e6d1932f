#include "platform/datafile/journal_rights.h"

#include "platform/datafile/access_list.h"
#include "platform/datafile/users.h"

#include <algorithm>
#include <filesystem>
#include <grp.h>
#include <mutex>
#include <optional>
#include <pwd.h>
#include <set>
#include <vector>

namespace dz::xio {
namespace {

constexpr unsigned kWrite = 2;

// The users of group `gid`: those who name it their first group and its listed members.
void add_members(gid_t gid, std::set<uid_t>& users) {
    // The user database's walk is one per process.
    static std::mutex walk;
    std::lock_guard<std::mutex> lock(walk);
    std::vector<std::string> names;
    if (const struct group* g = ::getgrgid(gid))
        for (char** m = g->gr_mem; m && *m; ++m) names.emplace_back(*m);
    ::setpwent();
    while (const struct passwd* pw = ::getpwent())
        if (pw->pw_gid == gid || std::find(names.begin(), names.end(), pw->pw_name) != names.end())
            users.insert(pw->pw_uid);
    ::endpwent();
}

// Everyone a list lets write through an entry for a user or a group (under its mask).
void add_writers(const AccessList& list, gid_t owningGroup, std::set<uid_t>& users) {
    const unsigned mask = list.extended() ? list.perm(AccessTag::Mask) : 7u;
    for (const AccessEntry& e : list.entries) {
        if ((e.perm & mask & kWrite) == 0) continue;
        if (e.tag == AccessTag::User) users.insert(static_cast<uid_t>(e.id));
        else if (e.tag == AccessTag::OwningGroup) add_members(owningGroup, users);
        else if (e.tag == AccessTag::Group) add_members(static_cast<gid_t>(e.id), users);
    }
}

// Everyone a list names or counts in a group it names, whatever it lets them do: those its
// others' entry does not reach as it reaches the rest.
void add_named(const AccessList& list, gid_t owningGroup, std::set<uid_t>& users) {
    for (const AccessEntry& e : list.entries) {
        if (e.tag == AccessTag::User) users.insert(static_cast<uid_t>(e.id));
        else if (e.tag == AccessTag::OwningGroup) add_members(owningGroup, users);
        else if (e.tag == AccessTag::Group) add_members(static_cast<gid_t>(e.id), users);
    }
}

}  // namespace

std::string writer_kept_out(const JournalRights& r) {
    const std::optional<AccessList> journal = access_list(r.fd);
    const std::optional<AccessList> file = access_list(r.dataFile);
    if (!journal || !file) return "every user (its rights cannot be read)";
    const bool othersWrite = (journal->perm(AccessTag::Others) & kWrite) != 0;
    if (othersWrite && (file->perm(AccessTag::Others) & kWrite) == 0) return "every user";
    std::set<uid_t> users;
    add_writers(*journal, r.st.st_gid, users);
    // Open to others as the file is: those the file's list counts apart may still be kept out.
    if (othersWrite) add_named(*file, r.file.st_gid, users);
    for (const uid_t uid : users) {
        if (uid == 0 || uid == r.st.st_uid || write_right(uid, r.journal, r.st) == WriteRight::No) continue;
        if (write_right(uid, r.dataFile, r.file) != WriteRight::Yes) return user_name(uid);
    }
    return "";
}

std::string narrowing_command(const std::string& journal) {
    // Taking write from the group class narrows the mask too, where the journal has a list.
    return "chmod go-w " + std::filesystem::absolute(journal).lexically_normal().string();
}

}  // namespace dz::xio
