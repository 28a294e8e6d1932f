// A file's access control list, read and given whole through the system's ACL library, never
// parsed here by hand. A data file's rights are those of the files made beside it or put in its
// place: its journal and its lock file are given its list from their first moment, and a file put
// back takes the list of the file it replaces (file_aside.h). Where a list cannot be given, the
// file takes permission bits no wider than the list allows anyone it names (narrowest_bits).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace dz::xio {

// The kinds of entry, in the order the kernel keeps them.
enum class AccessTag : uint8_t { Owner, User, OwningGroup, Group, Mask, Others };

struct AccessEntry {
    AccessTag tag = AccessTag::Owner;
    unsigned perm = 0;  // read 4, write 2, execute 1
    uint32_t id = 0;    // a named user's or group's id; 0 for the others
    auto operator<=>(const AccessEntry&) const = default;
};

// A file's owner and group.
struct FileOwners {
    uid_t uid = 0;
    gid_t gid = 0;
};

struct AccessList {
    std::vector<AccessEntry> entries;  // by tag, then id
    bool operator==(const AccessList&) const = default;

    // The list the permission bits `bits` alone say (owner, group, others).
    static AccessList of_bits(mode_t bits);
    // Named users or groups beside the owner, group and others (and the mask over them).
    bool extended() const;
    // The permission of the one entry of `tag` (owner, owning group, mask, others); 0 when none.
    unsigned perm(AccessTag tag) const;
    // The list a file of owner and group `to` made beside (or put in place of) the file of this
    // list, of owner and group `from`, is to carry: this very list where they are the same.
    // Another owner's entry is `ownerPerm`; another group's is nothing (it would open the file to
    // a group of its maker's). Where the list names users or groups (so the system keeps lists
    // there), the first file's owner and group are named with what their entries gave them, the
    // mask raised to cover them while every entry under it keeps exactly what the mask let it
    // have: nobody the list names gains or loses a right.
    AccessList carried(const FileOwners& from, const FileOwners& to, unsigned ownerPerm) const;
    // The permission bits it shows: the owner's, the mask's (the owning group's without one) and
    // the others'.
    mode_t bits() const;
    // Bits that give no one more than the list does: the group's and the others' no wider than
    // the owning group's entry (under its mask) and every named entry allow, as a member of the
    // group or another user may be one the list names.
    mode_t narrowest_bits() const;
    // "user::rw-,user:4321:rw-,group::r--,mask::rw-,other::r--", as setfacl takes it.
    std::string words() const;
};

// The access list of the file open as `fd`, or at `path` (a file without one beyond its bits has
// the list its bits say): nullopt, with errno, when it cannot be read.
std::optional<AccessList> access_list(int fd);
std::optional<AccessList> access_list(const std::string& path);

// Gives the file open as `fd` the list `list` whole, its permission bits with it, every entry it
// had before replaced: 0, or the errno of the failure (the file is then as it was). On a file
// system that keeps no lists, a list of bits alone is given as those bits.
int give_access_list(int fd, const AccessList& list);
// The same; where the list cannot be given, the file is narrowed to `list.narrowest_bits()` (and
// shut to its group class when entries it had before stand: the bits would open them). 0 when the
// list was given whole, else the errno of the failure.
int give_access_list_or_narrower(int fd, const AccessList& list);

// Gives the file open as `fd`, made to take the place of the file at `path` (whose status is
// `was`), what that file has: its owner where this user may give it (root), its group, its
// permission bits, and its access list as a file of the owner and group it then has carries it
// (AccessList::carried; where the list cannot be given, bits no wider). 0, or the errno of a
// group or bits that could not be given (the file would open to others, or shut them out).
int give_rights_of(int fd, const std::string& path, const struct stat& was);

}  // namespace dz::xio
