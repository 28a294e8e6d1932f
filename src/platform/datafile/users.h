// Users and groups as the user database and the permission bits tell them: who a uid is, and
// whether a user may write a file, asked here alone. Used by the lock files (who may take one, who
// holds one) and by the put-back (who a run's owner is, what they may write).
#pragma once

#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace dz::xio {

// The name and primary group of user `uid` in the user database; false when it has none.
bool find_user(uid_t uid, std::string& name, gid_t& primaryGroup);
bool has_account(uid_t uid);

// "dzsa (uid 1001)", or "uid 1234" for a user without an account.
std::string user_name(uid_t uid);
// "dzsg", or "gid 1234" for a group without an entry.
std::string group_name(gid_t gid);

// Whether user `uid` may write a file of status `st`, by the permission bits its owner, group
// and others have and the user's groups: this program's own for its user, the user database's
// for another. Untold: a user without an account, whose groups cannot be known, where the
// group's bits and the others' differ.
enum class WriteRight { Yes, No, Untold };
WriteRight write_right(uid_t uid, const struct stat& st);
// The same for the file at `path` of status `st`, by its access control list where it has one,
// as the kernel counts it (its entries for users and groups, and the mask over them). Untold too
// when the list cannot be read, or `path` no longer names that file.
WriteRight write_right(uid_t uid, const std::string& path, const struct stat& st);
// The same for a user of the groups `groups` (a holder of a lock, as the kernel shows it).
WriteRight write_right(uid_t uid, const std::vector<gid_t>& groups, const struct stat& st);
// Whether user `uid` may write `path` (or, where it does not stand, make it in its folder): this
// program's own user by every right the system gives it, another by its bits and access control
// list as `write_right` above tells them; root may write everything.
WriteRight write_right(uid_t uid, const std::string& path);
// Whether a user of `groups` (a holder of a lock, as the kernel shows it) may write `path` of
// status `st`, by its bits and access control list; Untold when the list cannot be read.
WriteRight write_right(uid_t uid, const std::vector<gid_t>& groups, const std::string& path, const struct stat& st);
// Whether a user of `groups` (a holder of a lock, as the kernel shows it) may read the file open
// as `fd`, by its bits and access control list; Untold when it cannot be looked at.
WriteRight read_right(uid_t uid, const std::vector<gid_t>& groups, int fd);
// Whether `path` carries an access control list beyond its permission bits, which may let users
// write it whom the bits do not (only this program's own user's right is asked of the system).
bool has_access_acl(const std::string& path);
// Whether user `uid` may write every one of `files`: No (with the first it may not write, in
// `which`) before Untold (with the first that cannot be told).
WriteRight write_right_all(uid_t uid, const std::vector<std::string>& files, std::string& which);

}  // namespace dz::xio
