// Who a run is, as the data files it committed carry it.
//
// Every commit of a run records, in the data file's own dz_meta, in the same transaction as its
// records, the run's user and a number of its own drawn at random, which its markers also give.
// A stopped run is proven by what it wrote: a file carries that user and that number only when
// that run committed it (only one who may write the file could have put it there), and only that
// user could have put the marker in their own backup folder. A commit of anything else takes the
// mark away, so a file carries the mark of the last run that committed it, if any.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

namespace dz::xio {

struct RunMark {
    uid_t uid = 0;
    uint64_t number = 0;
    bool operator==(const RunMark&) const = default;
};

// The name of the mark's row in dz_meta, and its value: "<uid> <16 hex digits>".
inline constexpr const char* kRunMarkName = "run";
std::string format_run_mark(const RunMark& mark);
bool parse_run_mark(const std::string& text, RunMark& mark);

// A number for a new run, from the kernel's random source.
uint64_t draw_run_number();

// The mark this program's commits carry now: set while a run's markers name its copies, none
// otherwise (its commits then take any mark away).
void set_run_mark_for_commits(std::optional<RunMark> mark);
std::optional<RunMark> run_mark_for_commits();

// What a data file carries, read from the file as it stands settled. Unsettled: it holds a
// write left in the middle (a hot journal) or another program is committing it, so what it
// carries cannot be read now; a write left in the middle is not committed, so the mark it would
// bring is not carried. Missing: no such file. Unreadable: it cannot be opened or is not a data
// file of this program (`why` says why).
enum class MarkFound { Carried, None, Unsettled, Missing, Unreadable };
MarkFound read_run_mark(const std::string& dataFile, RunMark& mark, std::string* why = nullptr);

}  // namespace dz::xio
