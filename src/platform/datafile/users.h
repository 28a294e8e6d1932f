// Users and groups as the user database and the permission bits tell them: who a uid is, and
// whether a user may write a file. Used by the lock files (who may take one, who holds one) and
// by the put-back (who a run's owner is, what they may write).
#pragma once

#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace dz::xio {

// The name and primary group of user `uid` in the user database; false when it has none.
bool find_user(uid_t uid, std::string& name, gid_t& primaryGroup);

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

}  // namespace dz::xio
