// The progress of one run (Convert, Examine Files, Prefill or a table import) and the window
// procedure of the progress panel that shows it. There is no worker thread: every update posts
// a message to the panel, dispatches pending messages and refreshes, so the panel repaints and a
// stop request reaches the state. A record's position does so a few times a second at most.
#pragma once

#include "convert/open_files.h"
#include "platform/ui/next_step.h"
#include "platform/ui/panel.h"

#include <cstdint>
#include <functional>
#include <string>

namespace dz::convert {

// Panel messages of the progress panel.
inline constexpr int kProgressNewFile = 1001;
inline constexpr int kProgressPosition = 1002;
inline constexpr int kProgressStatus = 1003;

class ConvertProgress {
public:
    // Seconds since the epoch; tests give their own clock.
    using Clock = std::function<int64_t()>;

    // Seconds on a steady clock, with a fraction: when the window is next drawn and polled.
    using Ticker = std::function<double()>;
    // How often, at most, a record's position is drawn and the person's actions taken in.
    static constexpr double kPollSeconds = 0.2;

    explicit ConvertProgress(Clock clock = {}, Ticker ticker = {});

    uint8_t single_file = 1;        // the driver clears it when the run has several text files
    uint32_t total_bytes = 0;       // of the run's text files (set by the caller)
    uint32_t file_size = 0;         // of the current text file
    uint32_t bytes_before = 0;      // of the text files finished before it
    uint16_t run_percent = 0;
    uint16_t file_percent = 0;
    uint32_t file_records = 0;
    uint32_t file_rejected = 0;
    uint32_t run_records = 0;
    uint32_t run_rejected = 0;
    uint32_t messages = 0;          // warning and log messages (+1 per file that ended in error)
    uint32_t notes = 0;             // conversion notes
    uint32_t file_start_count = 0;  // messages + notes when the current file started
    int64_t run_start = 0;
    int64_t file_start = 0;
    std::string text_file_name;     // at most 50 characters
    std::string data_file_desc;     // at most 50 characters
    uint16_t stop = 0;              // 1 = the person asked to stop; never goes back to 0
    uint16_t panel = 0;             // the progress panel, once shown
    int16_t status_value = -1;
    std::string status_text;        // at most 40 characters
    std::string encoding_note;      // the current text file's, when it is not read as UTF-8
    // How the current text file ended early: the text that ended it ("" while it has not) and,
    // in Convert, the worst result of putting its data files back (0 put back, or never
    // written; 1 one could not be put back; 2 put back but not opened again; 3 a commit's write
    // stands with its journal, which the next writing command able to remove it plays back).
    // The driver clears
    // them before each file: a summary must not count as kept what was put back.
    std::string ended_why;
    // What its put-back could not give back (13900's words) and the step that gives it back,
    // where the window's closing message says the ending: said there after it, in the same box.
    std::string ended_not_given;
    ui::NextStep ended_give_back;
    int ended_restore = 0;
    ui::NextStep ended_next;     // what the person can do about it
    bool ended_box = false;      // the ending is one a box says (not the person's own stop)
    bool ended_written = false;  // a data file had been written (so there was one to put back)
    // Accepted records of the current file that a put-back took out again: the window counts as
    // accepted only what stayed in the data files.
    uint32_t file_not_kept = 0;
    // What the files that ended early read, rejected and said: the run's totals ("All files")
    // are those of the files that ran to their end, as the closing message's are.
    uint32_t ended_records = 0;
    uint32_t ended_rejected = 0;
    uint32_t ended_messages = 0;  // messages and notes
    // Whether the current file ended early, and how many of the run's files did: the window
    // never says such a file (nor a run ended by one) went through "Complete".
    bool file_ended = false;
    uint32_t files_ended = 0;

    // A new text file. `list`, `abbr` and `file_no` find the data file it goes into; `several`
    // when the converter writes more than one. False when the person asked to stop.
    bool SetCurrentFile(const std::string& path, const OpenFilesList& list, const std::string& abbr,
                        uint16_t file_no, bool several);
    // The same with the data file's path already known ("" = not open).
    bool SetCurrentFile(const std::string& path, const std::string& data_file_path, bool several);
    bool SetPosition(uint32_t records, uint32_t rejected, int16_t file_pct);
    // The current file's counts, when it ended before the window was told of its last record
    // (nothing is drawn, and the person is not asked anything).
    void CountRead(uint32_t records, uint32_t rejected);
    bool SetStatusText(const std::string& text, int16_t value);
    // The current file ended early, having read `records`, rejected `rejected` and said
    // `messages` messages and notes: the run's totals leave it out, and, when its data files were
    // put back (`put_back`), none of the records it accepted is kept. The window shows it at its
    // next position.
    struct Ended {
        uint32_t records = 0, rejected = 0, messages = 0;
        bool put_back = false;
    };
    void FileEnded(const Ended& ended);

    // Elapsed times, at most 7 characters: below an hour minutes and seconds, up to 99 hours
    // hours and minutes, beyond that nothing.
    std::string FormatFileElapsed() const;
    std::string FormatRunElapsed() const;

    bool StopRequested() const { return stop != 0; }
    int64_t Now() const;

private:
    bool Post(int msg);
    Clock clock_;
    // The elapsed texts change once a second while the window is written on every record:
    // each is built again only when its number of seconds changes.
    struct ElapsedText {
        int64_t seconds = -1;
        std::string text;
    };
    mutable ElapsedText fileElapsed_, runElapsed_;
    // When the window was last drawn and the person's actions taken in (see Ticks).
    double polledAt_ = -1e9;
    bool PollDue() const;
    double Ticks() const;
    Ticker ticker_;
    // What the run's percent was last worked out from, and the answer.
    struct RunPercentFrom {
        uint32_t filePercent = UINT32_MAX, fileSize = 0, bytesBefore = 0, totalBytes = 0;
        bool operator==(const RunPercentFrom&) const = default;
    };
    RunPercentFrom runPercentFrom_;
    uint16_t runPercentOf_ = 0;
};

// The window procedure of the progress panels (STATUSS, STATUSM, STATUSI); the panel's data is
// the ConvertProgress.
int ConvertProgressProc(dz::ui::Panel& panel, const dz::ui::PanelMessage& m);

// Shows progress panel `panel_name` of `screen` for `progress`. Returns the panel handle, 0 when
// the screen file lacks it.
int ShowProgressPanel(ConvertProgress& progress, int screen_file, const std::string& screen,
                      const std::string& panel_name);

// Elapsed-time texts of `seconds` (the two formats above).
std::string FormatElapsedShort(int64_t seconds);
std::string FormatElapsedPadded(int64_t seconds);

}  // namespace dz::convert
