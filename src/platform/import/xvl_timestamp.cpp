#include "platform/import/xvl_timestamp.h"

#include "platform/import/xvl_encoding.h"
#include "platform/import/xvl_source.h"
#include "platform/import/xvl_text.h"
#include "platform/ui/own_files.h"

#include <cstdio>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <vector>

namespace dz::xvl {

namespace {

RenameFn& renameHook() {
    static RenameFn fn;
    return fn;
}

bool doRename(const std::filesystem::path& from, const std::filesystem::path& to, std::string& error) {
    if (renameHook()) return renameHook()(from, to, error);
    std::error_code ec;
    std::filesystem::rename(from, to, ec);
    if (ec) {
        error = "cannot rename " + from.string() + " to " + to.string() + ": " + ec.message();
        return false;
    }
    return true;
}

// The stamp line ends as the file's first line does ("\r\n" in a CRLF file), so that the file
// keeps one kind of line end; a first line without one leaves the stamp's own.
std::string InOwnLineEnd(std::string_view data, const std::string& stampLine) {
    const std::string end = FirstLineEnd(data);
    if (end.empty() || stampLine.empty() || stampLine.back() != '\n') return stampLine;
    return stampLine.substr(0, stampLine.size() - 1) + end;
}

// The stamped text as three pieces: the first line with its end, the stamp line (after a line
// end when the first line had none), and the rest.
struct StampPieces {
    std::string_view head, rest;
    std::string middle;
};

// The stamp is written in the text file's encoding, so that the file stays in one.
StampPieces SplitForStamp(std::string_view data, const std::string& stampLine, TextEncoding encoding) {
    std::size_t cut = 0;
    const std::string end = FirstLineEnd(data, &cut);
    StampPieces p;
    p.head = data.substr(0, cut);
    p.middle = (end.empty() ? std::string("\n") : std::string()) + FromUtf8(stampLine, encoding);
    p.rest = data.substr(cut);
    return p;
}

}  // namespace

void SetStampRenameForTests(RenameFn fn) { renameHook() = std::move(fn); }

std::string BuildTimeStampLine(const std::string& operatorName, const StampClock& clock,
                               const std::string& usingText) {
    std::string out = "#,\"Previously Converted\"";
    if (!operatorName.empty()) out += ",\"by " + operatorName + "\"";
    int year = clock.year;
    if (year >= 2000) year -= 2000;
    if (year >= 1900) year -= 1900;
    char buf[64];
    std::snprintf(buf, sizeof buf, ",\"on %d/%d/%d\"", clock.month, clock.day, year);
    out += buf;
    const bool pm = clock.hour >= 12;
    int hour = clock.hour % 12;
    if (hour == 0) hour = 12;
    std::snprintf(buf, sizeof buf, ",\"at %d:%02d%s\"", hour, clock.minute, pm ? "PM" : "AM");
    out += buf;
    out += ",\"using " + usingText + "\"\n";
    return out;
}

std::string InsertStampLine(std::string_view data, const std::string& stampLine) {
    const StampPieces p = SplitForStamp(data, InOwnLineEnd(data, stampLine), DecideEncoding(data));
    std::string out;
    out.reserve(p.head.size() + p.middle.size() + p.rest.size());
    out.append(p.head);
    out.append(p.middle);
    out.append(p.rest);
    return out;
}

bool StampTextFile(const std::filesystem::path& textPath, const std::string& stampLine, std::string& error) {
    bool notRegular = false;
    std::string what;
    const std::shared_ptr<TextSource> source = TextSource::Open(textPath.string(), &notRegular, &what);
    if (!source) {
        error = notRegular ? textPath.string() + " is " + what : "cannot read " + textPath.string();
        return false;
    }
    return StampTextFile(*source, stampLine, error);
}

bool StampTextFile(const TextSource& source, const std::string& stampLine, std::string& error) {
    // A linked text file is stamped where it really stands: replacing the link itself would leave
    // the file it names unstamped, to be converted again without the question. When that file's
    // folder cannot take the new file the stamp fails and the text file stays as it was.
    std::error_code ec;
    const std::filesystem::path textFile = std::filesystem::canonical(source.Path(), ec);
    if (ec) {
        error = "cannot find " + source.Path() + ": " + ec.message();
        return false;
    }
    // The content is the file that was read; one put in its place is not written over.
    if (!source.StillNamedBy(textFile.string())) {
        error = textFile.string() + " was replaced while it was converted";
        return false;
    }
    // The first line, read until its line end is decided (or the file ends).
    std::string head;
    for (std::size_t want = 64 * 1024;; want *= 4) {
        if (!source.ReadHead(want, head)) {
            error = "cannot read " + textFile.string();
            return false;
        }
        std::size_t cut = 0;
        FirstLineEnd(head, &cut);
        std::size_t k = cut;
        while (k < head.size() && head[k] == kCtrlZ) ++k;
        if (head.size() < want || k < head.size()) {
            head.resize(cut);
            break;
        }
        if (want > (64u << 20)) {
            error = "the first line of " + textFile.string() + " is too long";
            return false;
        }
    }
    if (head.empty()) {
        error = textFile.string() + " is empty";
        return false;
    }
    const std::optional<TextEncoding> encoding = source.Encoding();
    if (!encoding) {
        error = "cannot read " + textFile.string();
        return false;
    }
    const StampPieces pieces = SplitForStamp(head, InOwnLineEnd(head, stampLine), *encoding);

    // The new content goes to a file of its own beside the original, made afresh (no link
    // followed) and readable by its owner alone until it takes the original's permissions.
    std::filesystem::path aside;
    int fd = -1;
    for (int n = 0; n < 1000 && fd < 0; ++n) {
        aside = textFile;
        aside += ".stamp" + std::to_string(::getpid()) + "_" + std::to_string(n) + ".tmp";
        fd = files::create_new_file(aside.string(), 0600);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        error = "cannot create a file beside " + textFile.string();
        return false;
    }
    uint64_t copied = 0;
    bool ok = files::write_all(fd, pieces.head) && files::write_all(fd, pieces.middle) &&
              source.CopyRange(pieces.head.size(), TextSource::kToEnd, fd, &copied);
    // Keep the original's permissions.
    struct stat st {};
    if (ok && ::fstat(source.Fd(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok && std::filesystem::file_size(aside, ec) != pieces.head.size() + pieces.middle.size() + copied) ok = false;
    if (!ok) {
        error = "cannot write " + aside.string();
        std::filesystem::remove(aside, ec);
        return false;
    }
    if (!source.StillNamedBy(textFile.string())) {
        error = textFile.string() + " was replaced while it was converted";
        std::filesystem::remove(aside, ec);
        return false;
    }
    if (!doRename(aside, textFile, error)) {
        std::filesystem::remove(aside, ec);
        return false;
    }
    return true;
}

bool ParseLastConvert(std::string_view data, LastConvert& out) {
    out = {};
    LineReader reader(data);
    std::string line;
    if (!reader.next(line)) return false;  // the first line
    std::vector<std::string> cols;
    std::size_t bad = 0;
    while (reader.next(line)) {
        if (line.empty() || line[0] != '#') return false;
        if (!SplitColumns(line, cols, bad) || cols.size() < 2 || cols[1] != "Previously Converted") continue;
        const TextEncoding encoding = DecideEncoding(data, true);
        for (std::size_t i = 2; i < cols.size(); ++i) {
            const std::string c = ToUtf8(cols[i], encoding);
            if (c.rfind("by ", 0) == 0) out.user = c;
            else if (c.rfind("on ", 0) == 0) out.date = c;
            else if (c.rfind("at ", 0) == 0) out.time = c;
            else if (c.rfind("using ", 0) == 0) out.usingText = c;
        }
        return true;
    }
    return false;
}

bool xvl_imp_xv_get_last_convert(const std::filesystem::path& textFile, LastConvert& out) {
    // Only the head of the file matters: the first line and the "#" lines after it.
    out = {};
    std::string head;
    if (files::read_file_head(textFile.string(), 64 * 1024, head) != files::HeadRead::Ok) return false;
    return ParseLastConvert(head, out);
}

}  // namespace dz::xvl
