#include "platform/ui/print.h"

#include "platform/datafile/utf8.h"
#include "platform/ui/full_output.h"
#include "platform/ui/own_files.h"
#include "platform/ui/shown_text.h"
#include "platform/ui/ui.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <unistd.h>
#include <utility>

namespace dz::ui {
namespace {

struct Job {
    PrintDef def;
    Destination dest = Destination::File;
    std::string path;
    std::FILE* out = nullptr;  // Destination::File
    ~Job() {
        if (out) std::fclose(out);
    }
    // The lines printed, spooled for the destinations that deliver the whole document at the
    // end (a window, a printer, notes printed into a report), never held in memory: a report of
    // a million rejected records would otherwise hold them all until it is closed. A file's and
    // those of a screen that takes each line as it comes are only written (no spool).
    std::shared_ptr<LineSpool> spool;
    std::vector<std::string> read_back;  // xp_lines's answer
    bool anyLine = false;  // a line was printed
    std::string building;
    int page_lines = 0;       // lines on the current page
    bool new_page = false;    // the next line starts a page
    bool failed = false;
    int error = 0;  // the system's error number of the file's first failed write
    NextStep step;      // what the person can do about it
    bool said = false;  // the failure was said already
};

struct Registry {
    std::map<int, std::unique_ptr<Job>> jobs;
    std::map<std::pair<int, int>, int> spools;  // (command, kind) -> print handle
    int next = 1;
};

Registry& reg() {
    static Registry r;
    return r;
}

Job* job(int print) {
    auto& r = reg();
    auto it = r.jobs.find(print);
    return it == r.jobs.end() ? nullptr : it->second.get();
}

std::string trimmed(std::string s) {
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

// Writes one line (already trimmed); `page` starts it on a new page.
bool emit(Job& j, std::string line, bool page) {
    if (page && j.anyLine) line.insert(line.begin(), '\f');
    j.anyLine = true;
    if (j.dest == Destination::File) {
        // Each line reaches the file before the next is made: a line that cannot be printed
        // (a full disk) must fail where it stands, before the conversion it reports on commits.
        if (std::fwrite(line.data(), 1, line.size(), j.out) != line.size() || std::fputc('\n', j.out) == EOF ||
            std::fflush(j.out) != 0) {
            if (!j.failed) {
                j.error = errno;
                if (j.error == ENOSPC) {
                    std::error_code ec;
                    const auto where = std::filesystem::absolute(j.path, ec);
                    j.step = full_output_step(ec ? j.path : where.lexically_normal().string(), false);
                }
            }
            j.failed = true;
        }
        return !j.failed;
    }
    if (j.dest == Destination::Screen) {
        // A line the screen could not take fails the job, yet the lines after it still go: the
        // screen may send them elsewhere (the command line's report and notes files), and the
        // report's ending must reach the reader when only the notes failed.
        if (!current().report_line(line)) {
            if (!j.failed) {
                j.error = errno;  // the screen says why as a file does
                j.step = current().report_line_step();
            }
            j.failed = true;
        }
    }
    if (j.spool) j.spool->add(line);
    return !j.failed;
}

bool emit_counted(Job& j, std::string line) {
    bool page = j.new_page;
    if (page) {
        j.new_page = false;
        j.page_lines = 0;
    }
    bool ok = emit(j, std::move(line), page);
    if (++j.page_lines >= kPageLength) j.new_page = true;
    return ok;
}

int open_job(const PrintDef& def, Destination dest, const std::string& path) {
    auto j = std::make_unique<Job>();
    j->def = def;
    if (j->def.width <= 0) j->def.width = 132;
    j->dest = dest;
    j->path = path;
    if (dest != Destination::File && (dest != Destination::Screen || current().reads_whole_report()))
        j->spool = std::make_shared<LineSpool>();
    if (dest == Destination::File) {
        // Never through a link, never into a data file; the file is checked as it is opened.
        std::string why;
        const int fd = files::open_report_file(path, why);
        if (fd < 0) return 0;
        j->out = ::fdopen(fd, "wb");
        if (!j->out) {
            ::close(fd);
            return 0;
        }
    }
    auto& r = reg();
    int h = r.next++;
    r.jobs[h] = std::move(j);
    return h;
}

}  // namespace

int xp_open_print(const PrintDef& def, Destination dest, const std::string& path) {
    return open_job(def, dest, path);
}

int xp_close_print(int print) {
    auto& r = reg();
    auto it = r.jobs.find(print);
    if (it == r.jobs.end()) return 1;
    std::unique_ptr<Job> j = std::move(it->second);
    r.jobs.erase(it);
    for (auto s = r.spools.begin(); s != r.spools.end();)
        s = s->second == print ? r.spools.erase(s) : std::next(s);
    ReportDocument doc{j->def.title, j->def.width, {}, j->spool};
    switch (j->dest) {
    case Destination::File:
    {
        const bool closed = std::fclose(j->out) == 0;
        if (!closed && !j->failed) j->error = errno;
        j->out = nullptr;
        if (j->failed || !closed) return j->error == ENOSPC ? kPrintDiskFull : 1;
        std::error_code ec;
        const auto where = std::filesystem::absolute(j->path, ec);
        current().report_written(doc, ec ? j->path : where.lexically_normal().string());
        return 0;
    }
    case Destination::Screen:
    {
        const bool shown = current().show_report(doc);
        if (shown && !j->failed) return 0;
        return j->failed && j->error == ENOSPC ? kPrintDiskFull : 1;
    }
    case Destination::Printer:
    {
        if (current().print_report(doc)) return 0;
        // A report that could not be printed (no printer, or the person cancelled) is kept in
        // the file named for it, and shown, rather than lost.
        if (j->path.empty()) return 1;
        std::string why;
        const int fd = files::open_report_file(j->path, why);
        std::FILE* out = fd < 0 ? nullptr : ::fdopen(fd, "wb");
        if (!out) {
            if (fd >= 0) ::close(fd);
            return 1;
        }
        bool written = for_each_line(doc, [out](std::string_view l) {
            return std::fwrite(l.data(), 1, l.size(), out) == l.size() && std::fputc('\n', out) != EOF;
        });
        const int error = written ? 0 : errno;
        if (std::fclose(out) != 0 || !written) return (written ? errno : error) == ENOSPC ? kPrintDiskFull : 1;
        std::error_code ec;
        const auto where = std::filesystem::absolute(j->path, ec);
        // Shown as the file holds it.
        current().report_written(ReportDocument{doc.title, doc.width, {}, nullptr},
                                 ec ? j->path : where.lexically_normal().string());
        return kPrintKept;
    }
    case Destination::Spool:
        return 0;
    }
    return 0;
}

int xp_error(int print) {
    const Job* j = job(print);
    return j && j->failed ? j->error : 0;
}

NextStep xp_failure_step(int print) {
    const Job* j = job(print);
    return j && j->failed ? j->step : NextStep{};
}

void xp_mark_failure_said(int print) {
    if (Job* j = job(print); j && j->failed) j->said = true;
}

bool xp_failure_said(int print) {
    const Job* j = job(print);
    return j && j->said;
}

const std::vector<std::string>* xp_lines(int print) {
    Job* j = job(print);
    if (!j) return nullptr;
    j->read_back = j->spool ? j->spool->lines() : std::vector<std::string>{};
    return &j->read_back;
}

bool xp_each_line(int print, const std::function<bool(std::string_view)>& each) {
    const Job* j = job(print);
    return j && (!j->spool || j->spool->for_each(each));
}

PrintDef xp_get_def(int print) {
    Job* j = job(print);
    return j ? j->def : PrintDef{};
}

std::uint32_t xp_get_preferences(int) { return 0; }

void xp_put_field(int print, int col, int width, int flags, std::string_view text) {
    Job* j = job(print);
    if (!j || col < 0 || width <= 0) return;
    const int line_width = j->def.width;
    if (col >= line_width) return;
    // A value read from a file reaches the report's reader, never the terminal's controls. It is
    // cut between whole characters of what is shown (the texts are UTF-8; "\033" is one).
    const bool escaped = needs_showing(text);
    std::string shown;
    auto cut = [&](std::size_t room) -> std::string_view {
        if (!escaped) return Utf8PrefixBytes(text, room);
        shown = shown_text(text.substr(0, shown_fit(text, room, LineBreaks::Blank)), LineBreaks::Blank);
        return shown;
    };
    std::string_view t = cut(static_cast<std::size_t>(width));
    int at = col;
    if (flags & kPrintRight) at = col + width - static_cast<int>(t.size());
    if (at < 0) {
        t.remove_prefix(static_cast<std::size_t>(-at));
        at = 0;
    }
    if (at + static_cast<int>(t.size()) > line_width) t = cut(static_cast<std::size_t>(line_width - at));
    if (static_cast<int>(j->building.size()) < at + static_cast<int>(t.size()))
        j->building.resize(static_cast<std::size_t>(at) + t.size(), ' ');
    j->building.replace(static_cast<std::size_t>(at), t.size(), t);
}

int xp_wr_line(int print, int spacing, int, int page) {
    Job* j = job(print);
    if (!j) return 1;
    if (page && (j->page_lines > 0 || j->anyLine)) j->new_page = true;
    bool ok = true;
    // Blank lines before the line, none at the top of a page; a page that cannot hold them
    // and the line ends first. After a failed line the job has failed, yet the line still goes
    // out (see emit).
    if (!j->new_page && j->page_lines > 0) {
        int blanks = std::max(0, spacing - 1);
        if (j->page_lines + blanks + 1 > kPageLength)
            j->new_page = true;
        else
            for (int i = 0; i < blanks; ++i) ok = emit_counted(*j, "") && ok;
    }
    ok = emit_counted(*j, trimmed(std::move(j->building))) && ok;
    j->building.clear();
    return ok ? 0 : 5;
}

int xp_lines_left(int print) {
    Job* j = job(print);
    if (!j) return 0;
    return j->new_page ? kPageLength : kPageLength - j->page_lines;
}

int zp_open_print_file(PrintFileDef& def) {
    zp_cls_print_file(def.command, def.file_kind);
    PrintDef pd;
    pd.width = def.width > 0 ? def.width : 132;
    int h = open_job(pd, Destination::Spool, "");
    if (!h) return 1;
    reg().spools[{def.command, def.file_kind}] = h;
    def.print = h;
    return 0;
}

int zp_put_line(const PrintFileDef& def, int spacing) {
    return xp_wr_line(def.print, spacing, 0, 0) == 0 ? 0 : 1;
}

int zp_print_file(int command, int file_kind, int print) {
    auto& r = reg();
    auto s = r.spools.find({command, file_kind});
    Job* target = job(print);
    if (s == r.spools.end() || !target) return 2;
    Job* spool = job(s->second);
    if (!spool) return 2;
    if (!spool->building.empty()) {
        if (xp_wr_line(s->second, 1, 0, 0) != 0) return 2;
    }
    if (!spool->spool) return 0;
    bool first = true;
    bool printed = true;
    const bool read = spool->spool->for_each([&](std::string_view l) {
        const bool page = first || (!l.empty() && l.front() == '\f');
        if (page && target->anyLine) target->new_page = true;
        printed = emit_counted(*target, std::string(!l.empty() && l.front() == '\f' ? l.substr(1) : l));
        first = false;
        return printed;
    });
    return read && printed ? 0 : 2;
}

void zp_cls_print_file(int command, int file_kind) {
    auto& r = reg();
    auto s = r.spools.find({command, file_kind});
    if (s == r.spools.end()) return;
    r.jobs.erase(s->second);
    r.spools.erase(s);
}

void reset_printing() {
    auto& r = reg();
    r.jobs.clear();
    r.spools.clear();
}

}  // namespace dz::ui
