// A data file's access list as the files made beside it or put in its place carry it: nobody it
// names gains or loses a right, whoever owns the new file; and where it cannot be given, the bits
// given instead open the file to nobody the list keeps out.
#include "platform/datafile/access_list.h"
#include "support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dz::test {
namespace {

using xio::AccessList;
using xio::AccessTag;

// user::rw-, user:4321:r--, user:4322:rwx, group::rw-, group:77:---, mask::rw-, other::r--
const AccessList kList{{{AccessTag::Owner, 6, 0},
                        {AccessTag::User, 4, 4321},
                        {AccessTag::User, 7, 4322},
                        {AccessTag::OwningGroup, 6, 0},
                        {AccessTag::Group, 0, 77},
                        {AccessTag::Mask, 6, 0},
                        {AccessTag::Others, 4, 0}}};

TEST(AccessListTest, CarriedToAnotherOwnerOrGroupEveryoneKeepsWhatTheyHad) {
    const struct Case {
        const char* what;
        AccessList list;
        xio::FileOwners to;
        const char* carried;
        mode_t narrowest;
    } cases[] = {
        {"the same owner and group: the list whole", kList, {10, 20},
         "user::rw-,user:4321:r--,user:4322:rwx,group::rw-,group:77:---,mask::rw-,other::r--", 0600},
        {"another owner: the file's owner named, the entries under the mask as the mask left them", kList, {11, 20},
         "user::r--,user:10:rw-,user:4321:r--,user:4322:rw-,group::rw-,group:77:---,mask::rw-,other::r--", 0400},
        {"another group: its entry nothing, the file's group named", kList, {10, 21},
         "user::rw-,user:4321:r--,user:4322:rw-,group::---,group:20:rw-,group:77:---,mask::rw-,other::r--", 0600},
        {"another group under a mask narrower than the owner: the mask no wider than the entries it bounds",
         AccessList{{{AccessTag::Owner, 7, 0},
                     {AccessTag::User, 4, 4321},
                     {AccessTag::OwningGroup, 4, 0},
                     {AccessTag::Mask, 4, 0},
                     {AccessTag::Others, 0, 0}}},
         {10, 21}, "user::rwx,user:4321:r--,group::---,group:20:r--,mask::r--,other::---", 0700},
        {"bits alone, another owner and group: the group's bits out", AccessList::of_bits(0664), {11, 21},
         "user::r--,group::---,other::r--", 0404},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const AccessList carried = c.list.carried({10, 20}, c.to, 4);
        EXPECT_EQ(carried.words(), c.carried);
        EXPECT_EQ(carried.narrowest_bits(), c.narrowest);
    }
    EXPECT_EQ(AccessList::of_bits(0664).narrowest_bits(), 0664u);
}

// A list the system refuses leaves the file no wider than the list allows anyone, and shut to
// its group where entries it was made with stand.
TEST(AccessListTest, WhereTheListCannotBeGivenTheFileIsNoWider) {
    const std::filesystem::path dir = make_temp_dir();
    const std::string file = (dir / "f").string();
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    // user::rw-, user:4321:r--, group::rw-, two masks (no list the system keeps), other::r--
    const AccessList refused{{{AccessTag::Owner, 6, 0},
                              {AccessTag::User, 4, 4321},
                              {AccessTag::OwningGroup, 6, 0},
                              {AccessTag::Mask, 6, 0},
                              {AccessTag::Mask, 4, 0},
                              {AccessTag::Others, 4, 0}}};
    ASSERT_EQ(refused.narrowest_bits(), 0644u);
    EXPECT_NE(xio::give_access_list_or_narrower(fd, refused), 0);
    struct stat st {};
    ASSERT_EQ(::fstat(fd, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, refused.narrowest_bits());
    EXPECT_EQ(xio::give_access_list_or_narrower(fd, kList), 0);
    EXPECT_EQ(xio::access_list(fd)->words(), kList.words());
    if (xio::access_list(fd)->extended()) {
        EXPECT_NE(xio::give_access_list_or_narrower(fd, refused), 0);
        ASSERT_EQ(::fstat(fd, &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0604u);  // the entries it had stand under a mask of nothing
    }
    ::close(fd);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace dz::test
