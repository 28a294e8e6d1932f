#include "convert/progress.h"

#include "platform/datafile/xio.h"
#include "platform/ui/ui.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>

namespace dz::convert {
namespace ui = dz::ui;

namespace {

std::string cut(std::string s, std::size_t n) {
    if (s.size() > n) s.resize(n);
    return s;
}

// The name without its folders (either slash).
std::string file_part(const std::string& path) {
    auto at = path.find_last_of("\\/");
    return at == std::string::npos ? path : path.substr(at + 1);
}

std::string format2(const char* fmt, long a, long b) {
    char buf[32];
    std::snprintf(buf, sizeof buf, fmt, a, b);
    return buf;
}

std::string elapsed(int64_t seconds, const char* fmt) {
    if (seconds < 0) seconds = 0;  // a clock set back shows no time rather than a negative one
    int64_t hours = seconds / 3600;
    int64_t minutes = (seconds / 60) % 60;
    if (hours == 0) return format2(fmt, static_cast<long>(seconds / 60), static_cast<long>(seconds % 60));
    if (hours < 100) return format2(fmt, static_cast<long>(hours), static_cast<long>(minutes));
    return {};
}

// Asked on every record: the coarse clock (a few milliseconds apart, ample for a tenth of a
// second) is read without asking the processor's time counter.
double SteadySeconds() {
    timespec t{};
    if (clock_gettime(CLOCK_MONOTONIC_COARSE, &t) != 0)
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::string number(uint32_t n) { return std::to_string(n); }

std::string percent(int p, const char* suffix) { return std::to_string(p) + suffix; }

// Writes a value into its field after clearing it.
void put(ui::Panel& p, int row, int col, int width, const std::string& text) {
    p.write_text(row, col, text, col + width - 1);
}

constexpr int kNumberWidth = 10;

// The current file's values as they stand before its first record.
void write_file_initial(ui::Panel& p, const ConvertProgress& s) {
    if (s.single_file) {
        put(p, 5, 28, kNumberWidth, "0");
        put(p, 6, 28, kNumberWidth, "0");
        put(p, 8, 3, 15, "0% Complete");
        p.set_progress(0);
    } else {
        put(p, 5, 22, kNumberWidth, "0");
        put(p, 6, 22, kNumberWidth, "0");
        put(p, 7, 22, kNumberWidth, "0");
        put(p, 5, 62, 9, "0%");
        put(p, 6, 62, 9, "0:00");
    }
}

void write_initial(ui::Panel& p, const ConvertProgress& s) {
    write_file_initial(p, s);
    if (s.single_file) {
        put(p, 5, 62, 9, "0");
        put(p, 8, 64, 7, "00:00");
    } else {
        put(p, 9, 28, kNumberWidth, "0");
        put(p, 10, 28, kNumberWidth, "0");
        put(p, 9, 62, 9, "0");
        put(p, 12, 3, 15, "0% Complete");
        put(p, 12, 64, 7, "00:00");
    }
    p.set_progress(0);
}

// How far a file or run went: an early end is said as such, never as a part "Complete".
std::string complete(bool ended, int p) { return ended ? "Ended early" : percent(p, "% Complete"); }

void write_position(ui::Panel& p, const ConvertProgress& s) {
    if (s.single_file) {
        put(p, 5, 28, kNumberWidth, number(s.file_records - s.file_rejected - s.file_not_kept));
        put(p, 6, 28, kNumberWidth, number(s.file_rejected));
        // As the closing message counts: a file that ended early is left out.
        put(p, 5, 62, 9, number(s.messages + s.notes - s.ended_messages));
        put(p, 8, 3, 15, complete(s.file_ended, s.file_percent));
        put(p, 8, 64, 7, s.FormatRunElapsed());
        p.set_progress(s.file_percent);
    } else {
        put(p, 5, 22, kNumberWidth, number(s.file_records - s.file_rejected - s.file_not_kept));
        put(p, 6, 22, kNumberWidth, number(s.file_rejected));
        put(p, 7, 22, kNumberWidth, number(s.messages + s.notes - s.file_start_count));
        put(p, 5, 62, 9, s.file_ended ? std::string("Ended") : percent(s.file_percent, "%"));
        put(p, 6, 62, 9, s.FormatFileElapsed());
        const uint32_t rejected = s.run_rejected - s.ended_rejected;
        put(p, 9, 28, kNumberWidth, number(s.run_records - s.ended_records - rejected));
        put(p, 10, 28, kNumberWidth, number(rejected));
        put(p, 9, 62, 9, number(s.messages + s.notes - s.ended_messages));
        put(p, 12, 3, 15, complete(s.files_ended > 0 && s.run_percent >= 100, s.run_percent));
        put(p, 12, 64, 7, s.FormatRunElapsed());
        p.set_progress(s.run_percent);
    }
}

}  // namespace

std::string FormatElapsedShort(int64_t seconds) { return elapsed(seconds, "%ld:%2.2ld"); }
std::string FormatElapsedPadded(int64_t seconds) { return elapsed(seconds, "%2.2ld:%2.2ld"); }

ConvertProgress::ConvertProgress(Clock clock, Ticker ticker) : clock_(std::move(clock)), ticker_(std::move(ticker)) {
    run_start = Now();
    file_start = run_start;
}

int64_t ConvertProgress::Now() const {
    return clock_ ? clock_() : static_cast<int64_t>(std::time(nullptr));
}

std::string ConvertProgress::FormatFileElapsed() const {
    const int64_t seconds = Now() - file_start;
    if (seconds != fileElapsed_.seconds) fileElapsed_ = {seconds, FormatElapsedShort(seconds)};
    return fileElapsed_.text;
}

std::string ConvertProgress::FormatRunElapsed() const {
    const int64_t seconds = Now() - run_start;
    if (seconds != runElapsed_.seconds) runElapsed_ = {seconds, FormatElapsedPadded(seconds)};
    return runElapsed_.text;
}

bool ConvertProgress::Post(int msg) {
    polledAt_ = Ticks();
    if (panel) ui::xw_post_message(panel, msg);
    ui::xw_dispatch_messages();
    ui::xw_refresh();
    return stop == 0;
}

bool ConvertProgress::SetCurrentFile(const std::string& path, const OpenFilesList& list,
                                     const std::string& abbr, uint16_t file_no, bool several) {
    std::string data_path;
    if (uint16_t h = FindFileHandle(list, abbr, file_no)) {
        xio_file_def def;
        if (xio_get_def(h, def) == 0) data_path = def.path;
        if (data_path.empty()) data_path = abbr;
    }
    return SetCurrentFile(path, data_path, several);
}

bool ConvertProgress::SetCurrentFile(const std::string& path, const std::string& data_file_path,
                                     bool several) {
    bytes_before += file_size;
    struct stat st {};
    file_size = ::stat(path.c_str(), &st) == 0 ? static_cast<uint32_t>(st.st_size) : 0;
    text_file_name = cut(file_part(path), 50);
    std::string desc = data_file_path.empty() ? std::string("NONE") : file_part(data_file_path);
    if (several) desc += ", etc.";
    data_file_desc = cut(desc, 50);
    file_start = Now();
    file_percent = 0;
    file_records = 0;
    file_rejected = 0;
    file_start_count = messages + notes;
    file_not_kept = 0;
    file_ended = false;
    return Post(kProgressNewFile);
}

void ConvertProgress::CountRead(uint32_t records, uint32_t rejected) {
    if (records < file_records || rejected < file_rejected) return;  // counted by another reading
    run_records += records - file_records;
    run_rejected += rejected - file_rejected;
    file_records = records;
    file_rejected = rejected;
}

bool ConvertProgress::SetPosition(uint32_t records, uint32_t rejected, int16_t file_pct) {
    // Unsigned arithmetic keeps the run totals right even if a count went down.
    run_records += records - file_records;
    run_rejected += rejected - file_rejected;
    file_records = records;
    file_rejected = rejected;
    file_percent = static_cast<uint16_t>(file_pct < 0 ? 0 : file_pct);
    // The run's percent changes only with the file's: its divisions are done again only then.
    const RunPercentFrom from{file_percent, file_size, bytes_before, total_bytes};
    if (!(from == runPercentFrom_)) {
        runPercentFrom_ = from;
        if (file_size != 0 && total_bytes != 0) {
            double done = file_percent / 100.0 * file_size + bytes_before;
            double pct = done / total_bytes * 100.0 + 0.5;
            runPercentOf_ = pct >= 100.0 ? 100 : static_cast<uint16_t>(pct);
        } else {
            runPercentOf_ = 0;
        }
    }
    run_percent = runPercentOf_;
    // The window is drawn, and what the person did (a Stop) taken in, a few times a second,
    // never per record: on the desktop each of those costs a pass through the toolkit's events,
    // many times the work of converting a record. The file's end is always shown.
    if (file_percent >= 100 || PollDue()) return Post(kProgressPosition);
    return stop == 0;
}

void ConvertProgress::FileEnded(const Ended& ended) {
    ended_records += ended.records;
    ended_rejected += ended.rejected;
    ended_messages += ended.messages;
    file_ended = true;
    ++files_ended;
    if (ended.put_back) file_not_kept = ended.records - ended.rejected;
}

bool ConvertProgress::PollDue() const { return Ticks() - polledAt_ >= kPollSeconds; }

double ConvertProgress::Ticks() const { return ticker_ ? ticker_() : SteadySeconds(); }

bool ConvertProgress::SetStatusText(const std::string& text, int16_t value) {
    status_value = value;
    status_text = cut(text, 40);
    return Post(kProgressStatus);
}

int ConvertProgressProc(ui::Panel& p, const ui::PanelMessage& m) {
    auto* s = static_cast<ConvertProgress*>(p.data());
    if (!s) return 1;
    switch (m.msg) {
    case ui::kMsgOpen:
        s->panel = static_cast<uint16_t>(p.handle());
        write_initial(p, *s);
        break;
    case kProgressNewFile:
        p.write_text(2, 15, s->text_file_name, 70);
        p.write_text(3, 15, s->data_file_desc, 70);
        write_file_initial(p, *s);
        break;
    case kProgressPosition:
        write_position(p, *s);
        break;
    case kProgressStatus:
        p.write_text(1, 12, s->status_text, 49);
        if (s->status_value >= 0) p.write_text(1, 42, percent(s->status_value, "%"));
        put(p, s->single_file ? 8 : 12, 64, 7, s->FormatRunElapsed());
        break;
    case ui::kMsgEscape:
        if (s->stop == 0 && ui::xw_wr_message(ui::kQuestion, "OK to stop?") == ui::kYes) s->stop = 1;
        break;
    case ui::kMsgButton:
        if (m.key == 11) s->stop = 1;
        break;
    default:
        break;
    }
    return 1;
}

int ShowProgressPanel(ConvertProgress& progress, int screen_file, const std::string& screen,
                      const std::string& panel_name) {
    int h = ui::xw_show_panel(screen_file, screen, panel_name, ConvertProgressProc, &progress);
    if (h) {
        progress.panel = static_cast<uint16_t>(h);
        ui::xw_refresh();
    }
    return h;
}

}  // namespace dz::convert
