// Files the program writes where someone else may have put things first: beside a text file,
// in a company folder, in a folder named on the command line. Nothing here follows a symbolic
// link at the final name or opens a FIFO or a device for output (but a device a report was
// explicitly sent to, named as itself); a file is checked on the
// descriptor that is then written, so that nothing can be swapped in between. (In the lowest
// library, so that the print jobs can use it too.)
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

namespace dz::files {

// Creates `path` afresh (O_CREAT|O_EXCL|O_NOFOLLOW): a name that exists, a dangling link
// included, is never opened. The descriptor, or -1 with errno set (EEXIST: the name is taken).
int create_new_file(const std::string& path, mode_t mode);

// Creates `path` afresh and keeps its descriptor for whoever later writes it under that name
// (take_claimed_file). False with errno set when it could not be created.
bool claim_new_file(const std::string& path, mode_t mode);
// The descriptor of a file claimed under `path` (now the caller's to close), or -1.
int take_claimed_file(const std::string& path);
// Gives up a claim nobody took: the file is removed when it is still empty and `path` still
// names it, and its descriptor is closed. Nothing when `path` was not claimed.
void drop_claimed_file(const std::string& path);

// Opens `path` (read and write) to be overwritten by output: made when missing; an existing one must be a
// regular file of one link, not a link itself. Not truncated yet: the caller checks what
// it opened first. The descriptor, or -1 with the reason in `why`.
int open_output_file(const std::string& path, std::string& why);

// open_output_file for a report: a data file (a file that begins as one does) is refused as
// well, whatever its name; what is accepted is emptied. A character device named as itself
// (/dev/null, /dev/tty; not a link to one) is opened for writing as it is. The descriptor, or -1
// with `why`.
int open_report_file(const std::string& path, std::string& why);
// The reason a report may not go to `path` (a link, neither a regular file nor a character
// device, a data file), or "".
// Nothing is created or changed.
std::string report_file_refusal(const std::string& path);

// True when `fd` and `path` (links resolved) are the same file.
bool same_file(int fd, const std::string& path);

bool write_all(int fd, std::string_view bytes);

// Replaces `path` with `bytes` whole: written to a new file beside it (created afresh, so a
// link planted under the aside's name is removed, never followed), flushed to the disk, then
// renamed over `path`. A crash leaves the old contents or the new, never a part. False with
// the reason in `why` and its number in errno; `path` is then as it was. A file replaced keeps its
// permissions and group (root's rewrite: its owner too), or what `keep` gives the new file, given
// its descriptor and the replaced file's status before a byte is written (0, or the errno that
// gives the replacement up); a new one is made with `mode` past the umask.
using KeepRights = std::function<int(int fd, const struct stat& was)>;
bool replace_file_atomically(const std::string& path, std::string_view bytes, mode_t mode, std::string& why,
                             const KeepRights& keep = {});

// Appends `text` to `path` (made when missing), which must be a regular file, not a link.
// With `sharedLike` naming a file, one of this user's takes that file's group and its read and
// write permission, past the umask: whoever may write `sharedLike` may append too.
bool append_to_file(const std::string& path, std::string_view text, mode_t mode, const std::string& sharedLike = "");

// What a path that is not a regular file names, for messages: "a folder", "a FIFO", "a device",
// "a socket".
std::string file_kind(mode_t mode);

enum class InputOpen { Ok, CannotOpen, NotRegular };
// Opens a user's file for reading, once: without blocking (a FIFO would otherwise wait for a
// writer for good), and only when the descriptor itself is a regular file. On Ok `fd` is the
// caller's to close (blocking reads again) and `size` is its size at the open; otherwise
// `what` names what the path is (file_kind) or why it could not be opened.
InputOpen open_input_file(const std::string& path, int& fd, std::string& what, unsigned long long* size = nullptr);

enum class HeadRead { Ok, CannotOpen, NotRegular };
// Reads at most `limit` bytes from the start of `path`, which must be a regular file once its
// links are resolved. A FIFO or a device is refused without blocking on it.
HeadRead read_file_head(const std::string& path, std::size_t limit, std::string& out);

}  // namespace dz::files
