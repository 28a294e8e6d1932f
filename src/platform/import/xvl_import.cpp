#include "platform/import/xvl_import.h"

#include "platform/datafile/utf8.h"
#include "platform/import/xvl_case.h"
#include "platform/import/xvl_encoding.h"
#include "platform/import/xvl_messages.h"
#include "platform/import/xvl_text.h"
#include "platform/import/xvl_values.h"
#include "platform/suite/company.h"
#include "platform/suite/control.h"
#include "platform/ui/own_files.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <functional>

namespace dz::xvl {

namespace {

// "1 column", "3 columns": a count with its noun, singular for one.
std::string Counted(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string fieldLabel(const TemplateColumn& c) {
    if (c.special) return c.description.empty() ? c.name : c.description;
    return c.def.description.empty() ? c.name : c.def.description;
}

// A value shown in a message: long values are shortened, line ends shown as blanks.
std::string shown(std::string_view v) {
    std::string out(Utf8Length(v) <= 40 ? v : Utf8Prefix(v, 37));
    if (out.size() < v.size()) out += "...";
    for (char& c : out)
        if (c == '\r' || c == '\n') c = ' ';
    return out;
}

// A line refused for want of columns or of a known record type, whose values are separated by
// semicolons or tabs, says so after the refusal's own words, as the first line's check does: a
// spreadsheet saved the file with another list separator.
std::string WithSeparatorHint(std::string refusal, std::string_view line) {
    const char separator = OtherSeparator(line);
    if (separator == 0) return refusal;
    return WithCause(refusal, Msg(kMsgLineSeparator, Msg(separator == ';' ? kMsgSemicolons : kMsgTabs)));
}

// A record short of columns whose values hold semicolons or tabs was saved, whole or in part,
// with another list separator ("6,1000-00;Cash;1" after a comma): it says so as a line of
// semicolons alone does. `count` columns are looked at.
std::string WithSeparatorHint(std::string refusal, const std::vector<std::string_view>& columns, std::size_t count) {
    count = std::min(count, columns.size());
    for (const char separator : {';', '\t'})
        for (std::size_t i = 0; i < count; ++i)
            if (columns[i].find(separator) != std::string_view::npos)
                return WithCause(refusal, Msg(kMsgLineSeparator, Msg(separator == ';' ? kMsgSemicolons : kMsgTabs)));
    return refusal;
}

// May the column hold a value with a line end? Long texts may: "Converted Notes" and the like,
// and text fields longer than 80 characters.
bool holdsLineEnds(const TemplateColumn& c) {
    if (c.special) return c.type == SpecialType::LongText;
    return xio_is_text_type(c.def.type) && c.def.length > x_value_def::kTextMax;
}

// The next record from `reader`: blank and "#" lines before it are skipped (and counted in
// `line`); a record whose quote is still open at the end of its line takes the following
// lines with their line ends. `text` points into the data, `lineScratch` or `joined`.
struct RecordSpan {
    std::size_t begin = 0, end = 0;
    int32_t first = 0, last = 0;
    bool unclosed = false;  // the file ended inside a quoted value
    bool quoted = true;     // false: the record holds no double quote
};

// Index of the next byte at or after `i` that is not a Ctrl-Z, or data.size().
std::size_t skipCtrlZ(std::string_view data, std::size_t i) {
    while (i < data.size() && data[i] == kCtrlZ) ++i;
    return i;
}

// Is the line end before `offset` decided? Its partner may still follow unless a byte after it
// (Ctrl-Z aside) is in view.
bool lineEndDecided(std::string_view data, std::size_t offset) { return skipCtrlZ(data, offset) < data.size(); }

// `settled`/`settledLine` receive the place past the blank and "#" lines skipped whose line
// ends are decided (they need not be read again).
bool nextRecordText(LineReader& reader, int32_t& line, std::string_view& text, std::string& lineScratch,
                    std::string& joined, RecordSpan& span, std::size_t& settled, int32_t& settledLine) {
    std::size_t b = 0, e = 0;
    bool quoted = false;
    while (reader.next(text, lineScratch, &b, &e, quoted)) {
        ++line;
        if (IsBlank(text) || text[0] == '#') {
            if (lineEndDecided(reader.data(), e)) {
                settled = e;
                settledLine = line;
            }
            continue;
        }
        span = RecordSpan{b, e, line, line, false, quoted};
        if (!quoted) return true;  // no quote, one line
        QuoteState q = ScanQuotes(text);
        if (q != QuoteState::InQuote) return true;
        joined.assign(text);
        std::string endScratch;
        while (q == QuoteState::InQuote) {
            joined.append(RawLineEnd(reader.data(), b, e, endScratch));
            if (!reader.next(text, lineScratch, &b, &e)) {
                span.unclosed = true;
                break;
            }
            ++line;
            joined.append(text);
            span.end = e;
            span.last = line;
            q = ScanQuotes(text, q);
        }
        text = joined;
        return true;
    }
    return false;
}

std::string choiceList(const xio_fld_def& def) {
    std::string out;
    for (std::size_t i = 0; i < def.items.size(); ++i) {
        if (i) out += ", ";
        out += std::to_string(i + 1) + " " + std::string(Trim(def.items[i]));
    }
    return out;
}

bool columnHasId(const TemplateColumn& c) { return c.fieldId != 0; }

// The section a value of `keyFormat` in a column of `section` is checked as: a GL account
// column whose template names a part of the account (a prefix, a base account) as that part,
// anything else as a whole value.
int KeySection(int keyFormat, int section) {
    return keyFormat == suite::kGlAccountFormat && section != suite::kGlDisplay ? section : 0;
}

// Does the text hold a byte below 0x20? Eight bytes at a time: a word has such a byte exactly
// when subtracting 0x20 from every byte borrows into a byte whose top bit was clear.
bool holdsControl(std::string_view text) {
    constexpr uint64_t kOnes = 0x0101010101010101ULL, kTops = 0x8080808080808080ULL;
    const char* p = text.data();
    std::size_t n = text.size();
    uint64_t any = 0;
    if (n < 8) {
        if (n < 4) {
            for (; n > 0; ++p, --n) any |= static_cast<unsigned char>(*p) < 0x20;
            return any != 0;
        }
        // Four to seven bytes: the first four and the last four, overlapping.
        constexpr uint32_t kOnes4 = 0x01010101U, kTops4 = 0x80808080U;
        uint32_t a, b;
        std::memcpy(&a, p, 4);
        std::memcpy(&b, p + n - 4, 4);
        return (((a - kOnes4 * 0x20) & ~a) | ((b - kOnes4 * 0x20) & ~b)) & kTops4;
    }
    auto look = [&](const char* at) {
        uint64_t w;
        std::memcpy(&w, at, 8);
        any |= (w - kOnes * 0x20) & ~w & kTops;
    };
    const char* const last = p + n - 8;
    for (; p < last; p += 8) look(p);
    look(last);  // the last eight bytes, overlapping those looked at already
    return any != 0;
}

// An absent value: empty texts, zero numbers and flags, blank date and time. Keeps the texts'
// storage for the next line.
void ClearValue(x_value_def& value) {
    value.text.clear();
    value.longText.clear();
    value.number = 0;
    value.flag = 0;
    value.date = {};
    value.time = {};
}

}  // namespace

xvlImport::xvlImport(const xvlImpTemplate& tpl) : tpl_(tpl) {}

xvlImport::~xvlImport() {
    if (rejectFile_) std::fclose(rejectFile_);
}

bool xvlImport::xvlImpFileNames(const std::string& textFile, const std::string& rejectFile, bool) {
    bool notRegular = false;
    std::string what;
    std::shared_ptr<TextSource> source = TextSource::Open(textFile, &notRegular, &what);
    if (!source) {
        if (rejectFile_) {
            std::fclose(rejectFile_);
            rejectFile_ = nullptr;
        }
        open_ = false;
        textPath_ = textFile;
        lastError_ = notRegular ? textFile + " is " + what + ", not a text file" : "cannot open " + textFile;
        return false;
    }
    return xvlImpOpen(std::move(source), rejectFile);
}

bool xvlImport::xvlImpOpen(std::shared_ptr<TextSource> source, const std::string& rejectFile) {
    if (rejectFile_) {
        std::fclose(rejectFile_);
        rejectFile_ = nullptr;
    }
    open_ = false;
    source_ = std::move(source);
    buffer_.clear();
    held_ = 0;
    data_ = {};
    base_ = 0;
    atFileEnd_ = false;
    readFailed_ = false;
    pos_ = 0;
    pendingLong_.reset();
    encoding_ = TextEncoding::Utf8;
    lineNo_ = 0;
    spanValid_ = false;
    spanOwner_ = nullptr;
    rejectLines_ = 0;
    specials_.clear();
    specialsFormat_ = nullptr;
    specialsEntry_ = nullptr;
    lastSpecial_ = SpecialAsked{};
    found_ = Found{};
    keyAnswers_.clear();
    keyRow_ = KeyRow{};
    textPath_ = source_ ? source_->Path() : std::string();
    rejectPath_ = rejectFile;
    rejectRefused_ = false;
    lastError_.clear();

    if (!tpl_.Ready()) {
        lastError_ = "the template " + tpl_.Name() + " was not built";
        return false;
    }
    std::string head;
    if (!source_ || !source_->ReadHead(64 * 1024, head)) {
        lastError_ = "cannot read " + textPath_;
        return false;
    }

    // The reject file must be possible where it is to go.
    if (!rejectFile.empty()) {
        std::filesystem::path rp(rejectFile);
        std::filesystem::path folder = rp.has_parent_path() ? rp.parent_path() : std::filesystem::path(".");
        std::error_code ec;
        std::string cause;
        int error = 0;
        if (!std::filesystem::is_directory(folder, ec))
            error = ec ? ec.value() : ENOTDIR;
        else if (::access(folder.c_str(), W_OK) != 0)
            error = errno;  // a folder the user may not write (a shared drop folder)
        else if (std::filesystem::is_directory(rp, ec))
            error = EISDIR;
        if (error != 0) cause = ErrorCause(error);
        if (!cause.empty()) {
            rejectError_ = error;
            rejectRefused_ = true;
            lastError_ = Msg(kMsgRejectNotMade, rp.filename().string(), folder.string(), cause);
            return false;
        }
    }

    if (FindByteOrderMark(head) == ByteOrderMark::Utf16) {
        lastError_ = Msg(kMsgUtf16File, textPath_);
        return false;
    }
    const std::optional<TextEncoding> encoding = source_->Encoding();
    if (!encoding) {
        lastError_ = "cannot read " + textPath_;
        return false;
    }
    encoding_ = *encoding;
    // The window starts past a byte-order mark.
    base_ = Utf8BomLength(head);
    pos_ = 0;

    // The first line is copied to the reject file when it is the "#" type line (with the
    // byte-order mark before it, so the reject file reads as the text file does).
    std::size_t cut = 0;
    const std::string end = FirstLineEnd(head, &cut);
    if (!end.empty()) lineEnd_ = end;
    if (head.size() > base_ && head[base_] == '#') {
        firstLine_ = head.substr(0, cut);
        if (end.empty()) firstLine_ += lineEnd_;
    } else {
        firstLine_.clear();
    }

    // Every column a format can take is kept, and one more to tell a line that has too many.
    keepColumns_ = 1;
    for (const TemplateFormat& f : tpl_.Formats()) keepColumns_ = std::max(keepColumns_, f.columns.size() + 2);
    open_ = true;
    return true;
}

// Of a record too long to read, the bytes kept to name its record type.
constexpr std::size_t kLongRecordHead = 4096;

bool xvlImport::fill() {
    if (atFileEnd_) return false;
    // What lies before pos_ is done with: a reject copies it from the file again.
    if (pos_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + pos_, held_ - pos_);
        held_ -= pos_;
        base_ += pos_;
        pos_ = 0;
    }
    // The buffer keeps its room from piece to piece: it is grown (and so cleared) only when a
    // record needs more than it has.
    const std::size_t have = held_;
    if (buffer_.size() < have + TextSource::kPiece) buffer_.resize(have + TextSource::kPiece);
    const long r = source_->ReadAt(base_ + have, buffer_.data() + have, TextSource::kPiece);
    if (r <= 0) {
        atFileEnd_ = true;
        readFailed_ = r < 0;
    } else {
        held_ = have + static_cast<std::size_t>(r);
    }
    data_ = std::string_view(buffer_.data(), held_);
    return r > 0;
}

bool xvlImport::nextRecord(std::string_view& text, Span& span, std::size_t& after, std::string& lineScratch,
                           std::string& joined) {
    if (pendingLong_) {
        span = *pendingLong_;
        text = span.head;
        after = pos_;
        return true;
    }
    while (true) {
        LineReader reader(data_, pos_);
        int32_t line = lineNo_;
        std::size_t settled = pos_;
        int32_t settledLine = lineNo_;
        RecordSpan rs;
        const bool found = nextRecordText(reader, line, text, lineScratch, joined, rs, settled, settledLine);
        pos_ = settled;
        lineNo_ = settledLine;
        // A record is whole once its last line end is decided, or the window reaches the end.
        if (atFileEnd_ || lineEndDecided(data_, reader.offset())) {
            if (!found) return false;
            span = Span{base_ + rs.begin, base_ + rs.end, rs.first, rs.last, rs.unclosed, false, {}, rs.quoted};
            after = reader.offset();
            if (rs.end - rs.begin > kMaxRecordBytes) {
                // Whole in view, yet over the limit all the same.
                span.tooLong = true;
                span.head.assign(data_.substr(rs.begin, kLongRecordHead));
                pos_ = after;
                lineNo_ = rs.last;
                pendingLong_ = span;
                text = pendingLong_->head;
            }
            return true;
        }
        if (found && data_.size() - rs.begin > kMaxRecordBytes) {
            skipLongRecord(rs.begin, rs.first);
            span = *pendingLong_;
            text = span.head;
            after = pos_;
            return true;
        }
        fill();
    }
}

void xvlImport::skipLongRecord(std::size_t begin, int32_t firstLine) {
    Span s;
    s.begin = base_ + begin;
    s.first = firstLine;
    s.tooLong = true;
    s.head.assign(data_.substr(begin, kLongRecordHead));
    pos_ = begin;
    int32_t line = firstLine;
    QuoteState q = QuoteState::ColumnStart;
    while (true) {
        const std::size_t n = data_.size();
        std::size_t eol = n;
        if (const void* lf = std::memchr(data_.data() + pos_, '\n', n - pos_))
            eol = static_cast<std::size_t>(static_cast<const char*>(lf) - data_.data());
        if (const void* cr = std::memchr(data_.data() + pos_, '\r', eol - pos_))
            eol = static_cast<std::size_t>(static_cast<const char*>(cr) - data_.data());
        if (eol >= n) {
            // No line end in view: the last byte waits for the next piece (a doubled quote may
            // straddle the two).
            const std::size_t upto = atFileEnd_ || n == pos_ ? n : n - 1;
            q = ScanQuotes(data_.substr(pos_, upto - pos_), q);
            pos_ = upto;
            if (atFileEnd_) {
                s.unclosed = q == QuoteState::InQuote;
                break;
            }
            fill();
            continue;
        }
        q = ScanQuotes(data_.substr(pos_, eol - pos_), q);
        pos_ = eol;
        if (!atFileEnd_ && !lineEndDecided(data_, eol + 1)) {
            fill();
            continue;
        }
        std::size_t end = eol + 1;
        const std::size_t k = skipCtrlZ(data_, end);
        if (k < n && (data_[k] == '\r' || data_[k] == '\n') && data_[k] != data_[eol]) end = k + 1;
        pos_ = end;
        if (q != QuoteState::InQuote) break;
        ++line;  // a quoted value goes on over the next line
    }
    s.end = here();
    s.last = line;
    lineNo_ = line;
    pendingLong_ = std::move(s);
}

const TemplateFormat* xvlImport::findFormat(std::string_view id) const {
    // Lines of one format follow each other, and converters ask about the format just read:
    // the id last found, byte for byte, names the same format while the template's formats stand.
    const std::vector<TemplateFormat>& formats = tpl_.Formats();
    if (found_.formats == formats.data() && found_.count == formats.size() && found_.id == id) return found_.format;
    const TemplateFormat* f = tpl_.FindFormat(id);
    found_.formats = formats.data();
    found_.count = formats.size();
    found_.id.assign(id);
    found_.format = f;
    return f;
}

// The template as users know it: its file name.
std::string xvlImport::templateName() const { return std::filesystem::path(tpl_.Name()).filename().string(); }

int xvlImport::percent(uint64_t offset) const {
    const uint64_t size = source_ ? source_->Size() : 0;
    if (size == 0 || offset >= size) return 100;
    return static_cast<int>(static_cast<double>(offset) * 100.0 / static_cast<double>(size));
}

xvlImport::Peeked xvlImport::peek() {
    Peeked p;
    std::string_view text;
    // Scratch of its own: the views of the record last read stay as they are.
    std::string scratch, joined;
    Span span;
    if (!nextRecord(text, span, p.next, scratch, joined)) return p;
    p.found = true;
    p.begin = span.begin;
    p.end = span.end;
    p.line = span.first;
    p.lastLine = span.last;
    p.id = tpl_.NoIdColumn() ? std::string() : FirstColumn(text);
    if (encoding_ == TextEncoding::Windows1252) p.id = ToUtf8(p.id, encoding_);
    p.format = findFormat(p.id);
    return p;
}

void xvlImport::describe(xvlImpInfo& info, std::string_view id, const TemplateFormat* fmt, int32_t line) {
    info.status_ = 0;
    info.error_ = 0;
    info.message_.clear();
    if (fmt)
        info.formatId_ = fmt->id;
    else
        info.formatId_.assign(id);
    info.importedRecs_ = fmt ? fmt->record : 0;
    info.fileNumUsed_ = fmt ? fmt->handle : 0;
    info.recExtraData_ = fmt ? fmt->extraData : 0;
    info.startLine_ = line;
    info.replaceRecord_ = false;
    info.importedUDs_ = 0;
    info.udRecordLocked_ = 0;
    info.importedNotes_ = fmt && fmt->convertedNotes;
}

void xvlImport::refuse(xvlImpInfo& info, int error, std::string message) {
    info.status_ = 1;
    info.error_ = error;
    info.message_ = std::move(message);
}

int xvlImport::xvlImpWhatIsNextID(std::string& id, xvlImpInfo& info) {
    id.clear();
    if (!open_) return 2;
    Peeked p = peek();
    if (!p.found) return 2;
    id = p.format ? p.format->id : p.id;
    describe(info, p.id, p.format, p.line);
    info.percentDone_ = percent(p.begin);
    if (!p.format) {
        refuse(info, kErrUnknownFormat,
               WithSeparatorHint(Msg(kMsgImportErrorBase + kErrUnknownFormat, p.id, templateName()), p.id));
        return 1;
    }
    return 0;
}

int xvlImport::xvlImportNextRec(xvlImpInfo& info) {
    if (!open_) return 2;
    const bool join = spanValid_ && spanOwner_ != nullptr && spanOwner_ != &info;
    const int rc = readRecord(info, join);
    if (rc != 2 && !join) spanOwner_ = &info;
    return rc;
}

// Reads and stages the next record. `joinSpan` keeps the current reject span open (the record
// is read ahead as part of the one before it).
int xvlImport::readRecord(xvlImpInfo& info, bool joinSpan) {
    std::string_view text;
    Span span;
    std::size_t after = 0;
    if (!nextRecord(text, span, after, lineScratch_, recordScratch_)) {
        info.percentDone_ = 100;
        return 2;
    }
    pos_ = after;
    lineNo_ = span.last;
    if (span.tooLong) {
        recordScratch_ = std::move(span.head);
        text = recordScratch_;
        pendingLong_.reset();
    }
    if (joinSpan && spanValid_) {
        spanEnd_ = span.end;
        spanLast_ = span.last;
    } else {
        spanValid_ = true;
        spanBegin_ = span.begin;
        spanEnd_ = span.end;
        spanFirst_ = span.first;
        spanLast_ = span.last;
    }
    if (span.tooLong) {
        const std::string id = tpl_.NoIdColumn() ? std::string() : ToUtf8(FirstColumn(text), encoding_);
        const TemplateFormat* fmt = findFormat(id);
        describe(info, id, fmt, span.first);
        info.percentDone_ = percent(here());
        refuse(info, kErrRecordTooLong,
               Msg(kMsgRecordTooLong, std::to_string(kMaxRecordBytes / (1u << 20)), std::to_string(span.last - span.first + 1)));
        return 1;
    }
    std::size_t bad = 0;
    const bool split = SplitColumnViews(text, columns_, columnScratch_, bad, keepColumns_, lastFilled_, nonEmpty_,
                                        nonEmptyCount_, span.quoted);
    if (encoding_ == TextEncoding::Windows1252) toUtf8Columns();
    // The id is looked up where it lies; only a line whose columns could not be split makes one.
    std::string_view id;
    std::string made;
    if (!tpl_.NoIdColumn()) {
        if (split || bad > 1) {
            id = columns_[0];
        } else {
            made = FirstColumn(text);
            if (encoding_ == TextEncoding::Windows1252) made = ToUtf8(made, encoding_);
            id = made;
        }
    }
    const TemplateFormat* fmt = findFormat(id);
    describe(info, id, fmt, span.first);
    info.percentDone_ = percent(here());
    if (!fmt) {
        refuse(info, kErrUnknownFormat,
               WithSeparatorHint(Msg(kMsgImportErrorBase + kErrUnknownFormat, id, templateName()), id));
        return 1;
    }
    if (!split) {
        const std::string fld = std::to_string(tpl_.NoIdColumn() ? bad : bad - 1), col = std::to_string(bad);
        refuse(info, kErrQuotes,
               span.unclosed ? Msg(kMsgQuoteToEnd, std::to_string(span.last - span.first + 1), fld, col)
                             : Msg(kMsgImportErrorBase + kErrQuotes, fld, col));
        return 1;
    }
    return stage(*fmt, info);
}

// The columns of a Windows-1252 line as UTF-8: the ones with bytes above 127 are converted
// into decoded_, whose strings keep their storage from line to line.
void xvlImport::toUtf8Columns() {
    if (decoded_.size() < columns_.size()) decoded_.resize(columns_.size());
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const std::string_view c = columns_[i];
        bool plain = true;
        for (char ch : c)
            if (static_cast<unsigned char>(ch) >= 0x80) {
                plain = false;
                break;
            }
        if (plain) continue;
        decoded_[i].clear();
        AppendAsUtf8(c, encoding_, decoded_[i]);
        columns_[i] = decoded_[i];
    }
}

bool xvlImport::convertColumn(const TemplateFormat& fmt, std::size_t index, std::string_view text, x_value_def& value,
                              std::string_view& viewed, bool& blank, xvlImpInfo& info) {
    const TemplateColumn& c = fmt.columns[index];
    // The texts of a message, made only when one is needed.
    struct Lazy {
        std::string fld, col, label;
    };
    auto where = [&]() {
        return Lazy{std::to_string(index + 1), std::to_string(index + (tpl_.NoIdColumn() ? 1 : 2)), fieldLabel(c)};
    };

    // A NUL would cut the value where the data file stores it; a line end fits long texts only.
    // Both are control characters, which values seldom hold: one comparison a character finds
    // whether to look for them.
    const bool control = holdsControl(text);
    if (control && text.find('\0') != std::string_view::npos) {
        const Lazy w = where();
        refuse(info, kErrNotConvertible, Msg(kMsgNulInValue, w.label, w.fld, w.col));
        return false;
    }
    if (control && text.find_first_of("\r\n") != std::string_view::npos && !holdsLineEnds(c)) {
        const Lazy w = where();
        refuse(info, kErrNotConvertible, Msg(kMsgLineEndInValue, w.label, shown(text), w.fld, w.col));
        return false;
    }

    if (columnHasId(c) && (subst_ || prefill_)) {
        work_.assign(text);
        if (subst_) {
            std::string reason;
            if (!subst_(work_, c.fieldId, c.section, static_cast<int16_t>(fmt.handle), static_cast<int16_t>(c.fieldNo),
                        reason, info.startLine_, substCtx_)) {
                refuse(info, kErrRefused, reason);
                return false;
            }
        }
        if (prefill_) prefill_(work_, c.fieldId, c.section, textPath_, prefillCtx_);
        text = work_;
    }

    // A value that begins with anything but a blank is not blank: only the others need the scan.
    blank = text.empty() || ((text.front() == ' ' || text.front() == '\t') && IsBlank(text));
    if (blank || c.special) ClearValue(value);
    if (c.special) {
        if (c.keyFormat && !blank) {
            // Read as a field of its key format is: the separators taken off before the width
            // is checked, and refused only when the value does not fit the format.
            const KeyAnswer& a = keyAnswer(keySlot(fmt, index), c.fieldId, KeySection(c.fieldId, c.section), Trim(text));
            if (!a.ok) {
                const Lazy w = where();
                std::string what = suite::xk_description(c.fieldId, KeySection(c.fieldId, c.section));
                if (what.empty()) what = w.label;
                what[0] = upperAscii(what[0]);
                refuse(info, kErrKeyFormat, Msg(kMsgImportErrorBase + kErrKeyFormat, what, shown(text), a.why, w.fld, w.col));
                return false;
            }
            text = a.value;
        }
        if (c.capitals) {
            if (text.data() != work_.data()) work_.assign(text);
            for (char& ch : work_) ch = upperAscii(ch);
            text = work_;
        }
        if (c.width > 0 && text.size() > c.width && Utf8Length(text) > c.width) {
            const Lazy w = where();
            refuse(info, kErrTooLong, Msg(kMsgImportErrorBase + kErrTooLong, w.label, shown(text),
                                          Counted(Utf8Length(text), "character", "characters"),
                                          Counted(c.width, "is", "are"), w.fld, w.col));
            return false;
        }
        if (blank) {
            // An absent value: empty text, zero, no date.
            return true;
        }
        switch (c.type) {
            case SpecialType::Text:
            case SpecialType::LongText:
                if (text.size() > x_value_def::kTextMax) {
                    value.longText.assign(text);
                    value.text.assign(Utf8PrefixBytes(text, x_value_def::kTextMax));
                } else {
                    value.text.assign(text);
                    if (c.type == SpecialType::LongText) value.longText.assign(text);
                }
                return true;
            case SpecialType::Number:
                if (!ParsePlainNumber(text, value.number)) {
                    const Lazy w = where();
                    refuse(info, kErrNotConvertible,
                           Msg(kMsgImportErrorBase + kErrNotConvertible, w.label, Msg(kMsgWhatNumber), shown(text), w.fld, w.col));
                    return false;
                }
                return true;
            case SpecialType::Logical:
                if (!ParseLogical(text, value.flag)) {
                    const Lazy w = where();
                    refuse(info, kErrLogical, Msg(kMsgImportErrorBase + kErrLogical, w.label, shown(text), w.fld, w.col));
                    return false;
                }
                return true;
            case SpecialType::Date: {
                x_date_type read;
                const DateCheck check = ReadDate(text, read);
                if (check == kDateExists) {
                    value.date = read;
                    return true;
                }
                const Lazy w = where();
                refuse(info, kErrDate,
                       check == kDayPastMonthEnd
                           ? Msg(kMsgDateNoSuchDay, w.label, shown(text), MonthLengthText(read.month, read.year), w.fld, w.col)
                           : Msg(kMsgImportErrorBase + kErrDate, w.label, shown(text), w.fld, w.col));
                return false;
            }
        }
        return true;
    }

    if (blank) return true;
    const xio_fld_def& def = c.def;
    std::string_view v = text;
    KeyAnswer* slot = nullptr;
    if (xio_is_text_type(def.type) && def.keyFormat != 0 &&
        keyFormatted(*(slot = &keySlot(fmt, index)), def.keyFormat, suite::settings_generation())) {
        // Values of a key format are stored without their separators. A GL account column whose
        // template names a part of the account (a prefix, a base account) is checked as that part.
        const KeyAnswer& a = keyAnswer(*slot, def.keyFormat, KeySection(def.keyFormat, c.section), Trim(text));
        if (!a.ok) {
            const Lazy w = where();
            refuse(info, kErrKeyFormat, Msg(kMsgImportErrorBase + kErrKeyFormat, w.label, shown(text), a.why, w.fld, w.col));
            return false;
        }
        v = a.value;
    }
    // A text field takes the value as it stands: it is viewed where it lies (the line, its
    // scratch, the key answer of this column), which outlasts the line's staging, instead of
    // being copied here and again into the record. A value a callback changed lies in work_,
    // which the next column reuses, and is copied.
    const bool viewable = xio_is_text_type(def.type) && v.data() != work_.data();
    // Most values are no longer than their field in bytes, and so in characters, and short:
    // nothing to check.
    if (viewable && v.size() <= x_value_def::kTextMax &&
        (def.length == 0 || v.size() <= static_cast<std::size_t>(def.length))) {
        viewed = v;
        return true;
    }
    if (!viewable) ClearValue(value);
    // Made in place: the outcome holds a text, which an assignment would move out of line.
    const ConvertOutcome r = viewable ? CheckText(def, v, acceptLongText_) : ConvertText(def, v, acceptLongText_, value);
    if (r.error == 0) {
        if (viewable) viewed = v;
        return true;
    }
    const Lazy w = where();
    std::string msg;
    switch (r.error) {
        case kErrTooLong:
        case kErrLongTextTooLong:
            msg = Msg(kMsgImportErrorBase + r.error, w.label, shown(v), Counted(Utf8Length(v), "character", "characters"),
                      r.detail + (r.detail == "1" ? " is" : " are"), w.fld, w.col);
            break;
        case kErrChoice:
            msg = Msg(kMsgImportErrorBase + r.error, w.label, shown(v), choiceList(def), w.fld, w.col);
            break;
        case kErrNumberRange: {
            const std::size_t whole = def.length > def.decimals ? def.length - def.decimals : 0;
            const std::string digits = Counted(whole, "digit", "digits");
            // A field kept whole that takes a fraction from the text file takes it only to
            // refuse it with the conversion's own words: the hint promises no decimals.
            const bool keptWhole = def.decimals == 0 && def.importDecimals > 0;
            msg = Msg(kMsgImportErrorBase + r.error, w.label, shown(v),
                      keptWhole ? Msg(def.isSigned ? kMsgWhatWhole : kMsgWhatWholeUnsigned, digits)
                                : Msg(def.isSigned ? kMsgWhatDigits : kMsgWhatDigitsUnsigned, digits,
                                      std::to_string(std::max(def.decimals, def.importDecimals))),
                      w.fld, w.col);
            break;
        }
        case kErrNotConvertible:
            msg = Msg(kMsgImportErrorBase + r.error, w.label,
                      Msg(def.type == XIO_TYPE_TIME ? kMsgWhatTime : kMsgWhatNumber), shown(v), w.fld, w.col);
            break;
        case kErrDate:
            // A date of the right form whose day is past its month's last does not exist: said so.
            msg = r.detail.empty() ? Msg(kMsgImportErrorBase + r.error, w.label, shown(v), w.fld, w.col)
                                   : Msg(kMsgDateNoSuchDay, w.label, shown(v), r.detail, w.fld, w.col);
            break;
        default:  // logicals
            msg = Msg(kMsgImportErrorBase + r.error, w.label, shown(v), w.fld, w.col);
            break;
    }
    refuse(info, r.error, std::move(msg));
    return false;
}

xvlImport::KeyAnswer& xvlImport::keySlot(const TemplateFormat& fmt, std::size_t index) {
    const std::vector<TemplateFormat>& formats = tpl_.Formats();
    // Lines of one format follow each other: the answers of the format last asked about are
    // kept at hand while the template's formats stand.
    KeyRow& row = keyRow_;
    if (row.format == &fmt && row.formats == formats.data() && row.count == formats.size() && index < row.size)
        return row.answers[index];
    const std::less<const TemplateFormat*> before;
    if (before(&fmt, formats.data()) || !before(&fmt, formats.data() + formats.size())) {
        keyScratch_.shapeKnown = false;  // answers for one column only
        return keyScratch_;
    }
    const auto f = static_cast<std::size_t>(&fmt - formats.data());
    if (keyAnswers_.size() < formats.size()) keyAnswers_.resize(formats.size());
    if (keyAnswers_[f].size() < fmt.columns.size()) keyAnswers_[f].resize(fmt.columns.size());
    // A row's answers move with it when the rows grow: its buffer stays where it is until it grows itself.
    row = KeyRow{&fmt, formats.data(), formats.size(), keyAnswers_[f].data(), keyAnswers_[f].size()};
    return keyAnswers_[f][index];
}

bool xvlImport::keyFormatted(KeyAnswer& slot, int keyFormat, uint64_t generation) {
    if (!slot.shapeKnown || slot.shapeGeneration != generation) {
        slot.formatted = suite::xk_width(keyFormat, 0) > 0;
        slot.capitals = suite::xk_capitals(keyFormat, 0);
        slot.shapeGeneration = generation;
        slot.shapeKnown = true;
    }
    return slot.formatted;
}

const xvlImport::KeyAnswer& xvlImport::keyAnswer(KeyAnswer& column, int keyFormat, int section, std::string_view raw) {
    // Lines often repeat a column's key value (an expense account, a phase): the answer for the
    // column's value before stands while the company's settings, and so its key formats, do.
    KeyAnswer* const slot = &column;
    const uint64_t generation = suite::settings_generation();
    if (slot->known && slot->generation == generation && slot->raw == raw) {
        slot->misses = 0;
        return *slot;
    }
    KeyAnswer& a = *slot;
    // A column whose values do not repeat (a record's own key) is not remembered, but for one
    // line in 64, which finds it again when its values start to repeat.
    const bool remember = slot != &keyScratch_ && (a.misses < 8 || a.misses % 64 == 0);
    ++a.misses;
    a.known = false;
    if (remember) a.raw.assign(raw);
    a.why.clear();
    a.ok = suite::xk_unformat_check(keyFormat, section, raw, a.value, &a.why);
    keyFormatted(a, keyFormat, generation);
    if (a.ok && a.capitals) upperAsciiAll(a.value);
    a.generation = generation;
    a.known = remember;
    return a;
}

int xvlImport::stage(const TemplateFormat& fmt, xvlImpInfo& info) {
    const std::size_t first = tpl_.NoIdColumn() ? 0 : 1;
    const std::size_t need = fmt.columns.size() + first;
    std::size_t have = columns_.size();
    // Empty columns at the end of a line (spreadsheets pad lines) do not count. Those past the
    // columns kept were only counted.
    if (lastFilled_ != 0) have = lastFilled_;
    else
        while (have > need && IsBlank(columns_[have - 1])) --have;
    // Lines of a format without an id name no record type: the message names none either.
    const bool named = first != 0;
    if (have < need) {
        const std::string count = Counted(have, "column", "columns"), fld = std::to_string(have + 1 - first),
                          col = std::to_string(have + 1);
        refuse(info, kErrTooFewColumns,
               WithSeparatorHint(named ? Msg(kMsgImportErrorBase + kErrTooFewColumns, count, fmt.id,
                                             std::to_string(need), fld, col)
                                       : Msg(kMsgTooFewColumnsNoId, count, std::to_string(need), fld, col),
                                 columns_, have));
        return 1;
    }
    if (have > need) {
        const std::string count = Counted(have, "column", "columns"), fld = std::to_string(need + 1 - first),
                          col = std::to_string(need + 1);
        refuse(info, kErrTooManyColumns,
               named ? Msg(kMsgImportErrorBase + kErrTooManyColumns, count, fmt.id, std::to_string(need), fld, col)
                     : Msg(kMsgTooManyColumnsNoId, count, std::to_string(need), fld, col));
        return 1;
    }

    const uint16_t h = fmt.handle;
    const uint16_t rec = fmt.record;
    if (h != 0 && rec != 0 && clearExtended_) xio_init_record(h, rec);

    const std::size_t n = fmt.columns.size();
    // Grown, never shrunk: lines of other formats with fewer columns keep the values' storage.
    if (values_.size() < n) {
        values_.resize(n);
    }
    if (viewed_.size() < n) viewed_.resize(n);
    blank_.assign(n, 1);
    // Grown, never shrunk, and written in place: a line's columns that are not blank.
    if (filled_.size() < n) filled_.resize(n);
    std::size_t* const filled = filled_.data();
    std::size_t filledCount = 0;
    stagedFormat_ = nullptr;
    const bool mayReplace = subst_ || prefill_;
    const std::string_view* const cols = columns_.data() + first;
    // In locals: a store through a char pointer could change any member, which the loop would
    // then read again for every column.
    x_value_def* const values = values_.data();
    std::string_view* const viewed = viewed_.data();
    char* const blanks = blank_.data();
    // Stages column i, which is not empty or may be filled by a callback; false when refused.
    auto column = [&](std::size_t i) __attribute__((always_inline)) {
        // Most values are texts of fields with no key format, short, not beginning with a blank
        // and holding no control character: such a value is taken where it lies, as the
        // conversion would take it, without the call.
        const TemplateColumn& c = fmt.columns[i];
        const std::string_view t = cols[i];
        if (xio_is_text_type(c.def.type) && c.def.keyFormat == 0 && !c.special && !(mayReplace && columnHasId(c)) &&
            !t.empty() && t.size() <= x_value_def::kTextMax &&
            (c.def.length == 0 || t.size() <= static_cast<std::size_t>(c.def.length)) && t.front() != ' ' &&
            t.front() != '\t' && !holdsControl(t)) {
            viewed[i] = t;
            blanks[i] = 0;
            filled[filledCount++] = i;
            return true;
        }
        bool blank = false;
        viewed[i] = {};  // only the columns staged here are put
        if (!convertColumn(fmt, i, cols[i], values[i], viewed[i], blank, info)) return false;
        if (!blank) {
            blanks[i] = 0;
            filled[filledCount++] = i;
        }
        return true;
    };
    if (mayReplace) {
        // An empty column that a substitution or prefill may fill is converted too.
        for (std::size_t i = 0; i < n; ++i) {
            if (cols[i].empty() && !columnHasId(fmt.columns[i])) continue;
            if (!column(i)) return 1;
        }
    } else {
        // Most columns of a wide line are empty: an empty one is an absent value, passed over
        // without the conversion. Its value is not even cleared: a blank column is never put,
        // and a blank special value is given as empty. Only the columns the split found not
        // empty are looked at.
        const uint32_t* const places = nonEmpty_.data();
        for (std::size_t k = 0; k < nonEmptyCount_; ++k) {
            const std::size_t at = places[k];
            if (at < first) continue;
            const std::size_t i = at - first;
            if (i >= n) break;
            if (!column(i)) return 1;
        }
    }
    stagedFormat_ = &fmt;

    // Special values are kept for xvlImpGetSpecialValue.
    if (fmt.hasSpecials) {
        Specials* entry = specialsOf(&fmt);
        if (!entry) {
            entry = &specials_[&fmt];
            specialsFormat_ = &fmt;
            specialsEntry_ = entry;
        }
        Specials& sv = *entry;
        if (sv.columnCount != n || sv.values.size() != n) {
            sv.columnCount = n;
            sv.columns.clear();
            for (std::size_t i = 0; i < n; ++i)
                if (fmt.columns[i].special) sv.columns.push_back(i);
            sv.values.assign(n, x_value_def{});
        }
        for (std::size_t i : sv.columns) {
            if (blank_[i]) ClearValue(sv.values[i]);
            else sv.values[i] = values_[i];
        }
    }

    if (h == 0 || rec == 0) return 0;  // no record to stage

    // The record's key must not be blank (fields that receive a new identifier excepted).
    if (!fmt.keyColumns.empty() && !fmt.recDef.primaryKeyFields.empty()) {
        const std::size_t k = fmt.keyColumns.front();
        const TemplateColumn& c = fmt.columns[k];
        if (c.fieldNo == fmt.recDef.primaryKeyFields.front() && blank_[k] && c.def.keyKind != XIO_KEY_KIND_NEW_ID) {
            xio_key_def kd;
            if (xio_get_key_def(h, 0, kd, rec) != XIO_OK || !kd.blankAllowed) {
                refuse(info, kErrKeyBlank,
                       Msg(kMsgImportErrorBase + kErrKeyBlank, fieldLabel(c), std::to_string(k + 1),
                           std::to_string(k + 1 + (tpl_.NoIdColumn() ? 0 : 1))));
                return 1;
            }
        }
    }

    // Modify-only records, group records and the user fields and notes of a record start
    // from the stored record.
    const bool extra = fmt.extraData != 0;
    if (fmt.permissions == 1 || fmt.permissions == 3 || extra) {
        for (std::size_t k : fmt.keyColumns)
            if (!blank_[k]) put(h, rec, fmt.columns[k].fieldNo, k);
        const bool notes = fmt.extraData > 50;
        const int st = xio_rd_record(h, rec, 0, notes ? 0 : 1);
        if (st == XIO_OK) {
            info.replaceRecord_ = !notes;
        } else if (st == XIO_LOCKED) {
            refuse(info, kErrLocked, Msg(kMsgImportErrorBase + kErrLocked));
            return 1;
        } else if (fmt.permissions == 1 && !repToWrRep_) {
            // Only a modify-only format needs its record on file; the user fields and notes of
            // a format that may add records go on to the converter, which decides.
            refuse(info, kErrNotOnFile, Msg(kMsgImportErrorBase + kErrNotOnFile));
            return 1;
        }
    }

    for (std::size_t k = 0; k < filledCount; ++k) {  // most columns are blank: their definitions stay untouched
        const std::size_t i = filled[k];
        const TemplateColumn& c = fmt.columns[i];
        if (c.special) continue;
        // A record read from the file keeps its key as stored (keys compare without case).
        if (c.keyField && info.replaceRecord_) continue;
        if (put(h, rec, c.fieldNo, i) != XIO_OK) {
            if (info.replaceRecord_) xio_unlock_record(h, rec, 1);
            info.replaceRecord_ = false;
            refuse(info, kErrNotConvertible,
                   Msg(kMsgImportErrorBase + kErrNotConvertible, fieldLabel(c), Msg(kMsgWhatStorable),
                       shown(columns_[i + first]), std::to_string(i + 1), std::to_string(i + 1 + first)));
            return 1;
        }
    }
    return 0;
}

int xvlImport::xvlImportNextGroup(xvlImpInfo& info) {
    if (!open_) return 2;
    spanOwner_ = nullptr;
    int rc = readRecord(info, false);
    if (rc == 2) return 2;
    info.groupImportedRec_ = info.importedRecs_;
    info.groupStartLine_ = info.startLine_;
    info.groupId_ = info.formatId_;
    const uint16_t headRec = info.importedRecs_;
    const int32_t headLine = info.startLine_;
    const std::string headId = info.formatId_;

    bool failed = rc == 1;
    std::string reason;
    if (!failed && tpl_.HasGroups() && !tpl_.IsGroupStart(info.formatId_)) {
        failed = true;
        refuse(info, kErrGroupOrder, Msg(kMsgGroupCannotStart, info.formatId_));
    }
    if (!failed && group_ && !group_(info, reason, groupCtx_)) {
        failed = true;
        refuse(info, kErrRefused, reason);
    }
    std::string prev = info.formatId_;
    // A group of one record when the template declares no groups.
    if (!tpl_.HasGroups()) return failed ? 1 : 0;

    // Whether the records after a failure belong to the group: by the declared order while it
    // holds; after a break, every record up to the next group start.
    bool broken = !failed ? false : !tpl_.IsGroupStart(prev);
    while (true) {
        Peeked p = peek();
        if (!p.found) {
            if (!failed && !tpl_.MayFollow(prev, kEndGroup)) {
                failed = true;
                refuse(info, kErrGroupOrder, Msg(kMsgGroupEndsEarly, headId, prev));
            }
            break;
        }
        const std::string id = p.format ? p.format->id : p.id;
        const bool follows = !broken && p.format && tpl_.MayFollow(prev, id);
        if (!follows) {
            if (tpl_.IsGroupStart(id) && p.format) {
                if (!failed && !broken && !tpl_.MayFollow(prev, kEndGroup)) {
                    failed = true;
                    refuse(info, kErrGroupOrder, Msg(kMsgGroupEndsEarly, headId, prev));
                }
                break;
            }
            if (!broken && tpl_.MayFollow(prev, kEndGroup)) break;  // the next record starts its own (bad) group
            // A record out of order: it and what follows, up to the next group start, go with
            // the group.
            if (!failed) {
                describe(info, p.id, p.format, p.line);
                failed = true;
                refuse(info, kErrGroupOrder, Msg(kMsgImportErrorBase + kErrGroupOrder, id, prev));
            }
            broken = true;
            takeAlong(p);
            info.percentDone_ = percent(here());
            continue;
        }
        if (failed) {
            // Taken along without staging.
            takeAlong(p);
            info.percentDone_ = percent(here());
            prev = id;
            continue;
        }
        rc = readRecord(info, true);
        prev = info.formatId_;
        if (rc == 1) {
            failed = true;
        } else if (group_ && !group_(info, reason, groupCtx_)) {
            failed = true;
            refuse(info, kErrRefused, reason);
        }
    }
    info.groupImportedRec_ = headRec;
    info.groupStartLine_ = headLine;
    info.groupId_ = headId;
    return failed ? 1 : 0;
}

void xvlImport::takeAlong(const Peeked& p) {
    pos_ = p.next;
    lineNo_ = p.lastLine;
    spanEnd_ = p.end;
    spanLast_ = p.lastLine;
    pendingLong_.reset();
}

bool xvlImport::writeReject(uint64_t begin, uint64_t end, int32_t firstLine, int32_t lastLine,
                            const std::string* reason, int32_t& line) {
    line = 0;
    if (rejectPath_.empty()) return true;
    rejectError_ = 0;
    rejectRefused_ = false;
    if (!rejectFile_) {
        // The file made when its name was chosen, else one made now; never an existing file
        // and never through a link.
        int fd = files::take_claimed_file(rejectPath_);
        if (fd < 0) fd = files::create_new_file(rejectPath_, 0666);
        if (fd >= 0) {
            rejectFile_ = ::fdopen(fd, "wb");
            if (!rejectFile_) ::close(fd);
        }
        if (!rejectFile_) {
            rejectError_ = errno;
            rejectRefused_ = true;
            const std::filesystem::path rp(rejectPath_);
            lastError_ = Msg(kMsgRejectNotMade, rp.filename().string(),
                             rp.has_parent_path() ? rp.parent_path().string() : std::string("."), ErrorCause(rejectError_));
            return false;
        }
        rejectLines_ = 0;
        if (!firstLine_.empty()) {
            if (std::fwrite(firstLine_.data(), 1, firstLine_.size(), rejectFile_) != firstLine_.size()) {
                rejectError_ = errno;
                lastError_ = ErrorCause(rejectError_);
                return false;
            }
            rejectLines_ = 1;
        }
    }
    std::string out;
    if (reason) {
        // In the text file's encoding, so that the reject file stays in one.
        std::string r = FromUtf8(*reason, encoding_);
        for (char& c : r)
            if (c == '\r' || c == '\n') c = ' ';
        out = "# " + r + lineEnd_;
        ++rejectLines_;
    }
    // The record's bytes: from the window while it holds them, else from the file again.
    auto byteAt = [&](uint64_t at) {
        if (at >= base_ && at < base_ + data_.size()) return data_[static_cast<std::size_t>(at - base_)];
        char c = 0;
        return source_->ReadAt(at, &c, 1) == 1 ? c : '\0';
    };
    std::string_view tail;
    if (end > begin && (byteAt(end - 1) != '\n' && byteAt(end - 1) != '\r')) {
        // The last line of the text file had no line end (a trailing Ctrl-Z counts as none).
        while (end > begin && byteAt(end - 1) == kCtrlZ) --end;
        tail = lineEnd_;
    }
    bool written = std::fwrite(out.data(), 1, out.size(), rejectFile_) == out.size();
    if (begin >= base_ && end <= base_ + data_.size()) {
        const std::string_view bytes = data_.substr(static_cast<std::size_t>(begin - base_), static_cast<std::size_t>(end - begin));
        written = written && (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), rejectFile_) == bytes.size());
    } else {
        written = written && source_->CopyRange(begin, end, rejectFile_);
    }
    // An empty tail may hold no buffer at all, and fwrite must not be handed a null pointer.
    written = written && (tail.empty() || std::fwrite(tail.data(), 1, tail.size(), rejectFile_) == tail.size());
    if (!written || std::fflush(rejectFile_) != 0) {
        rejectError_ = errno;  // of the write or flush that failed: nothing ran since
        lastError_ = ErrorCause(rejectError_);
        return false;
    }
    line = rejectLines_ + 1;
    rejectLines_ += lastLine - firstLine + 1;
    return true;
}

bool xvlImport::xvlRecToRejectFile(int32_t& line) {
    line = 0;
    if (!spanValid_) return true;
    const bool ok = writeReject(spanBegin_, spanEnd_, spanFirst_, spanLast_, nullptr, line);
    if (ok) spanValid_ = false;
    return ok;
}

bool xvlImport::xvlRecToRejectFile(int32_t& line, const std::string& reason) {
    line = 0;
    if (!spanValid_) return true;
    const bool ok = writeReject(spanBegin_, spanEnd_, spanFirst_, spanLast_, &reason, line);
    if (ok) spanValid_ = false;
    return ok;
}

bool xvlImport::xvlGroupToRejectFile(int32_t& line) { return xvlRecToRejectFile(line); }

std::optional<x_value_def> xvlImport::xvlImpGetSpecialValue(const std::string& format, const std::string& name) const {
    const TemplateFormat* fmt = findFormat(format);
    if (!fmt) return std::nullopt;
    // Once a line of the format was staged, its special columns are known: only they are looked at.
    if (Specials* const entry = specialsOf(fmt); entry && entry->columnCount == fmt->columns.size()) {
        // Converters ask for the same special of every line: the column found for the name as
        // it was last asked for, byte for byte, stands while the format's columns do.
        SpecialAsked& last = lastSpecial_;
        if (last.format != fmt || last.name != name || last.columnCount != fmt->columns.size()) {
            last.format = fmt;
            last.name = name;
            last.columnCount = fmt->columns.size();
            last.column = kNoSpecial;
            for (std::size_t i : entry->columns)
                if (equalNoCase(fmt->columns[i].name, name)) {
                    last.column = i;
                    break;
                }
        }
        if (last.column == kNoSpecial) return std::nullopt;
        return entry->values[last.column];
    }
    for (std::size_t i = 0; i < fmt->columns.size(); ++i) {
        const TemplateColumn& c = fmt->columns[i];
        if (!c.special || !equalNoCase(c.name, name)) continue;
        auto it = specials_.find(fmt);
        if (it == specials_.end() || i >= it->second.values.size()) return x_value_def{};
        return it->second.values[i];
    }
    return std::nullopt;
}

int xvlImport::xvlImpSpecialPosition(const std::string& format, const std::string& name) const {
    const TemplateFormat* fmt = findFormat(format);
    if (!fmt) return -1;
    for (std::size_t i = 0; i < fmt->columns.size(); ++i)
        if (fmt->columns[i].special && equalNoCase(fmt->columns[i].name, name)) return static_cast<int>(i);
    return -1;
}

const x_value_def& xvlImport::xvlImpSpecialValueAt(const std::string& format, int position) const {
    static const x_value_def none;
    const TemplateFormat* fmt = position < 0 ? nullptr : findFormat(format);
    if (!fmt) return none;
    const Specials* const entry = specialsOf(fmt);
    const auto i = static_cast<std::size_t>(position);
    return !entry || i >= entry->values.size() ? none : entry->values[i];
}

std::span<const x_value_def> xvlImport::xvlImpSpecialValues(const std::string& format) const {
    const TemplateFormat* fmt = findFormat(format);
    const Specials* const entry = fmt ? specialsOf(fmt) : nullptr;
    if (!entry) return {};
    return entry->values;
}

int xvlImport::xvlImpGetPermissions(const std::string& format) const {
    const TemplateFormat* fmt = findFormat(format);
    return fmt ? fmt->permissions : 2;
}

bool xvlImport::xvlImpLineGave(const std::string& format, const std::string& field) const {
    const TemplateFormat* fmt = findFormat(format);
    if (!fmt || fmt != stagedFormat_) return false;
    for (std::size_t i = 0; i < fmt->columns.size() && i < blank_.size(); ++i)
        if (equalNoCase(fmt->columns[i].name, field)) return !blank_[i];
    return false;
}

bool xvlImport::xvlImpFieldPlace(const std::string& format, const std::string& field, int& fld, int& col) const {
    const TemplateFormat* fmt = findFormat(format);
    if (!fmt) return false;
    for (std::size_t i = 0; i < fmt->columns.size(); ++i)
        if (equalNoCase(fmt->columns[i].name, field)) {
            fld = static_cast<int>(i) + 1;
            col = fld + (tpl_.NoIdColumn() ? 0 : 1);
            return true;
        }
    return false;
}

bool xvlImport::xvlImpWasItImported(const std::string& format, const std::string& field) const {
    const TemplateFormat* fmt = findFormat(format);
    if (!fmt) return false;
    for (const auto& c : fmt->columns)
        if (equalNoCase(c.name, field)) return true;
    return false;
}

bool xvlImport::xvlConvertField(const xio_fld_def& def, const std::string& text, x_value_def& value, xvlImpInfo& info) {
    TemplateFormat fmt;
    TemplateColumn c;
    c.name = def.name;
    c.def = def;
    c.fieldNo = def.number;
    fmt.columns.push_back(c);
    std::string_view t = text;
    bool blank = false;
    // No callbacks for a converted user field: its value was offered with its line.
    SubstitutionCB s = subst_;
    PrefillCB p = prefill_;
    subst_ = nullptr;
    prefill_ = nullptr;
    ClearValue(value);  // what a refused text leaves
    std::string_view viewed;
    const bool ok = convertColumn(fmt, 0, t, value, viewed, blank, info);
    // A text is only checked there: the caller has it in `value`.
    if (ok && viewed.data() != nullptr) (void)ConvertText(def, viewed, acceptLongText_, value);
    subst_ = s;
    prefill_ = p;
    return ok;
}

void xvlImport::xvlImpCopyKeyToUd(const xvlImpInfo& info) {
    const uint16_t h = info.FileNumUsed();
    const int ud = info.RecExtraData();
    if (h == 0 || ud < 1 || ud > 49) return;
    xio_rec_def base, udDef;
    if (xio_get_rec_def(h, info.ImportedRecs(), base) != XIO_OK ||
        xio_get_rec_def(h, static_cast<uint16_t>(ud), udDef) != XIO_OK)
        return;
    for (std::size_t i = 0; i < base.primaryKeyFields.size(); ++i) {
        const uint16_t target = i < udDef.primaryKeyFields.size() ? udDef.primaryKeyFields[i]
                                                                   : static_cast<uint16_t>(udDef.firstField + i);
        if (target == 0 || target > udDef.lastField) break;
        x_value_def v;
        if (xio_get_field(h, info.ImportedRecs(), base.primaryKeyFields[i], v) == XIO_OK)
            xio_put_field(h, static_cast<uint16_t>(ud), target, v);
    }
}

bool xvlImport::xvlImpTimeStampAndCloseFile(bool stamp, bool close, const std::string& usingText) {
    bool ok = true;
    if (stamp) {
        if (!source_ || source_->Size() == 0) {
            lastError_ = "no text file to stamp";
            ok = false;
        } else {
            const suite::xs_oper_def op = suite::xs_get_oper_def();
            const std::string who = op.set ? op.name : std::string();
            const suite::LocalDateTime at = suite::xd_get_date_time();
            const x_date_type& d = at.date;
            const x_time_type& t = at.time;
            StampClock clock{d.year, d.month, d.day, t.hour, t.minute};
            ok = StampTextFile(*source_, BuildTimeStampLine(who, clock, usingText), lastError_);
        }
    }
    if (close) {
        if (rejectFile_) {
            std::fclose(rejectFile_);
            rejectFile_ = nullptr;
        }
        open_ = false;
        // The window goes; the open file stays with whoever shares it (a later pass, the stamp).
        std::string().swap(buffer_);
        held_ = 0;
        data_ = {};
        base_ = 0;
        pos_ = 0;
        pendingLong_.reset();
        source_.reset();
    }
    return ok;
}

}  // namespace dz::xvl
