#include "platform/datafile/access_list.h"

#include <acl/libacl.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace dz::xio {
namespace {

struct AclFree {
    void operator()(void* p) const { ::acl_free(p); }
};
using Acl = std::unique_ptr<std::remove_pointer_t<acl_t>, AclFree>;

constexpr struct {
    acl_tag_t tag;
    AccessTag ours;
} kTags[] = {{ACL_USER_OBJ, AccessTag::Owner}, {ACL_USER, AccessTag::User},   {ACL_GROUP_OBJ, AccessTag::OwningGroup},
             {ACL_GROUP, AccessTag::Group},    {ACL_MASK, AccessTag::Mask},   {ACL_OTHER, AccessTag::Others}};
constexpr struct {
    acl_perm_t perm;
    unsigned bit;
} kPerms[] = {{ACL_READ, 4}, {ACL_WRITE, 2}, {ACL_EXECUTE, 1}};

bool named(AccessTag tag) { return tag == AccessTag::User || tag == AccessTag::Group; }

std::optional<AccessList> read_list(acl_t raw) {
    const Acl acl(raw);
    if (!acl) return std::nullopt;
    AccessList list;
    acl_entry_t e;
    for (int which = ACL_FIRST_ENTRY; ::acl_get_entry(acl.get(), which, &e) == 1; which = ACL_NEXT_ENTRY) {
        acl_tag_t tag = ACL_UNDEFINED_TAG;
        acl_permset_t set = nullptr;
        if (::acl_get_tag_type(e, &tag) != 0 || ::acl_get_permset(e, &set) != 0) return std::nullopt;
        const auto known = std::find_if(std::begin(kTags), std::end(kTags), [&](const auto& t) { return t.tag == tag; });
        if (known == std::end(kTags)) {
            errno = EINVAL;
            return std::nullopt;
        }
        AccessEntry entry{known->ours, 0, 0};
        for (const auto& p : kPerms)
            if (::acl_get_perm(set, p.perm) == 1) entry.perm |= p.bit;
        if (named(entry.tag)) {
            void* id = ::acl_get_qualifier(e);
            if (!id) return std::nullopt;
            entry.id = *static_cast<const uint32_t*>(id);
            ::acl_free(id);
        }
        list.entries.push_back(entry);
    }
    std::sort(list.entries.begin(), list.entries.end());
    return list;
}

Acl to_acl(const AccessList& list) {
    acl_t raw = ::acl_init(static_cast<int>(list.entries.size()));
    for (const AccessEntry& entry : list.entries) {
        acl_entry_t e;
        acl_permset_t set = nullptr;
        const auto tag = std::find_if(std::begin(kTags), std::end(kTags), [&](const auto& t) { return t.ours == entry.tag; });
        if (!raw || ::acl_create_entry(&raw, &e) != 0 || ::acl_set_tag_type(e, tag->tag) != 0 ||
            (named(entry.tag) && ::acl_set_qualifier(e, &entry.id) != 0) || ::acl_get_permset(e, &set) != 0 ||
            ::acl_clear_perms(set) != 0)
            break;
        for (const auto& p : kPerms)
            if (entry.perm & p.bit) ::acl_add_perm(set, p.perm);
        ::acl_set_permset(e, set);
    }
    return Acl(raw);
}

}  // namespace

AccessList AccessList::of_bits(mode_t bits) {
    return {{{AccessTag::Owner, (bits >> 6) & 7u, 0},
             {AccessTag::OwningGroup, (bits >> 3) & 7u, 0},
             {AccessTag::Others, bits & 7u, 0}}};
}

bool AccessList::extended() const {
    return std::any_of(entries.begin(), entries.end(), [](const AccessEntry& e) {
        return named(e.tag) || e.tag == AccessTag::Mask;
    });
}

unsigned AccessList::perm(AccessTag tag) const {
    const auto e = std::find_if(entries.begin(), entries.end(), [&](const AccessEntry& x) { return x.tag == tag; });
    return e == entries.end() ? 0 : e->perm;
}

AccessList AccessList::carried(const FileOwners& from, const FileOwners& to, unsigned ownerPerm) const {
    AccessList l = *this;
    const bool otherOwner = to.uid != from.uid;
    const bool otherGroup = to.gid != from.gid;
    const bool names = extended();
    const unsigned mask = names ? perm(AccessTag::Mask) : 7u;
    // What the first file's owner and group had, named where the list names anyone.
    std::vector<AccessEntry> named;
    if (otherOwner) named.push_back({AccessTag::User, perm(AccessTag::Owner), from.uid});
    if (otherGroup) named.push_back({AccessTag::Group, perm(AccessTag::OwningGroup) & mask, from.gid});
    for (AccessEntry& e : l.entries) {
        if (e.tag == AccessTag::Owner && otherOwner) e.perm = ownerPerm;
        if (e.tag == AccessTag::OwningGroup && otherGroup) e.perm = 0;
        if (e.tag == AccessTag::OwningGroup || e.tag == AccessTag::User || e.tag == AccessTag::Group) e.perm &= mask;
    }
    if (!names || named.empty()) return otherOwner || otherGroup ? l : *this;
    for (AccessEntry& n : named) {
        // A group named already keeps what either entry gave it.
        const auto same = std::find_if(l.entries.begin(), l.entries.end(),
                                       [&](const AccessEntry& e) { return e.tag == n.tag && e.id == n.id; });
        if (same == l.entries.end()) l.entries.push_back(n);
        else same->perm = n.tag == AccessTag::User ? n.perm : same->perm | n.perm;
    }
    unsigned covered = 0;
    for (const AccessEntry& e : l.entries)
        if (e.tag == AccessTag::OwningGroup || e.tag == AccessTag::User || e.tag == AccessTag::Group) covered |= e.perm;
    for (AccessEntry& e : l.entries)
        if (e.tag == AccessTag::Mask) e.perm = covered;
    std::sort(l.entries.begin(), l.entries.end());
    return l;
}

mode_t AccessList::bits() const {
    const unsigned group = extended() ? perm(AccessTag::Mask) : perm(AccessTag::OwningGroup);
    return static_cast<mode_t>(perm(AccessTag::Owner) << 6 | group << 3 | perm(AccessTag::Others));
}

mode_t AccessList::narrowest_bits() const {
    const unsigned mask = extended() ? perm(AccessTag::Mask) : 7u;
    unsigned everyNamed = 7u;
    for (const AccessEntry& e : entries)
        if (named(e.tag)) everyNamed &= e.perm & mask;
    const unsigned group = perm(AccessTag::OwningGroup) & mask & everyNamed;
    return static_cast<mode_t>(perm(AccessTag::Owner) << 6 | group << 3 | (perm(AccessTag::Others) & everyNamed));
}

std::string AccessList::words() const {
    const Acl acl = to_acl(*this);
    char* text = acl ? ::acl_to_any_text(acl.get(), nullptr, ',', TEXT_NUMERIC_IDS) : nullptr;
    if (!text) return "(a list that cannot be written out)";
    std::string words = text;
    ::acl_free(text);
    return words;
}

std::optional<AccessList> access_list(int fd) { return read_list(::acl_get_fd(fd)); }

std::optional<AccessList> access_list(const std::string& path) { return read_list(::acl_get_file(path.c_str(), ACL_TYPE_ACCESS)); }

int give_access_list(int fd, const AccessList& list) {
    // A list the system would not keep (no mask beside named entries, an entry twice) is refused
    // by the kernel itself.
    const Acl acl = to_acl(list);
    if (!acl) return errno ? errno : ENOMEM;
    if (::acl_set_fd(fd, acl.get()) == 0) return 0;
    const int err = errno ? errno : EIO;
    // A file system that keeps no lists holds none on this file either: bits alone say it all.
    if (err == EOPNOTSUPP && !list.extended()) return ::fchmod(fd, list.bits()) == 0 ? 0 : errno;
    return err;
}

int give_access_list_or_narrower(int fd, const AccessList& list) {
    const int err = give_access_list(fd, list);
    if (err == 0) return 0;
    mode_t bits = list.narrowest_bits();
    // Entries the file was made with (a folder's default list) stand under the mask the bits set.
    if (const auto had = access_list(fd); !had || had->extended()) bits &= ~mode_t{0070};
    (void)::fchmod(fd, bits);
    return err;
}

int give_rights_of(int fd, const std::string& path, const struct stat& was) {
    // The owner and group first: a change of owner clears the set-ID bits a mode may give.
    if (::fchown(fd, ::geteuid() == 0 ? was.st_uid : static_cast<uid_t>(-1), was.st_gid) != 0) return errno;
    if (::fchmod(fd, was.st_mode & 07777) != 0) return errno;
    const std::optional<AccessList> list = access_list(path);
    if (!list || !list->extended()) return 0;
    struct stat made {};
    if (::fstat(fd, &made) != 0) return errno;
    (void)give_access_list_or_narrower(
        fd, list->carried({was.st_uid, was.st_gid}, {made.st_uid, made.st_gid}, list->perm(AccessTag::Owner)));
    return 0;
}

}  // namespace dz::xio
