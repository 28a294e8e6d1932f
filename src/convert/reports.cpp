#include "convert/reports.h"

#include "convert/platform_links.h"
#include "convert/progress.h"
#include "convert/texts.h"
#include "platform/datafile/utf8.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_rcstring.h"
#include "platform/ui/shown_text.h"
#include "platform/ui/ui.h"

#include <algorithm>
#include <cctype>

namespace dz::convert {
namespace {

using xvl::xvlRCString;
constexpr std::string_view NS = xvlRCString::NotSet;

// A background run that is being ended prints nothing and reports success.
bool Terminating() { return InBackground() && CheckTerminate(); }

// Keeps only the file name of a path that is longer than `limit`. The name itself is never cut:
// a shortened name would name a file that does not exist.
std::string ShortenPath(const std::string& path, std::size_t limit) {
    if (path.size() <= limit) return path;
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Msg(int number, const std::string& s1 = std::string(NS)) {
    return xvlRCString::Get(number, s1, NS, NS, NS, NS, NS, NS, NS);
}

std::string RecordName(uint16_t file, uint16_t record) {
    xio_rec_def def;
    if (file == 0 || record == 0 || xio_get_rec_def(file, record, def) != XIO_OK) return "";
    return def.name;
}

// Totals columns: processed, have messages, rejected, converted, created.
constexpr int kTotalCols[] = {29, 44, 59, 73, 87};
constexpr int kTotalWidth = 13;
// A record type's name takes the room before the first count, a blank kept between them.
constexpr int kTotalNameWidth = kTotalCols[0] - 1;

}  // namespace

// ---- ConversionReport ---------------------------------------------------------------------------

ConversionReport::ConversionReport(int printDef, const std::string& textPath, const std::string& rejectName,
                                   const std::string& title, bool converting, const std::string& tableName)
    : print_(printDef),
      textPath_(ShortenPath(textPath, 60)),
      rejectName_(ShortenPath(rejectName, 40)),
      title_(ShortenPath(title, 40)),
      tableName_(tableName),
      converting_(converting) {
    width_ = ui::xp_get_def(print_).width;
    reasonWidth_ = width_ - 22;
}

bool ConversionReport::WriteText(const std::string& text, int spacing, int page) {
    for (const auto& line : WrapLines(text, static_cast<std::size_t>(width_))) {
        ui::xp_put_field(print_, 0, width_, 0, line);
        if (ui::xp_wr_line(print_, spacing, 0, page) != 0) return false;
        spacing = 1;
        page = 0;
    }
    return true;
}

bool ConversionReport::PrintReportHeader(bool withColumns) {
    if (Terminating()) return true;
    headerPrinted_ = true;
    const std::string head = converting_ ? xvlRCString::Get(12021, textPath_, title_, NS, NS, NS, NS, NS, NS)
                                         : xvlRCString::Get(12022, textPath_, title_, NS, NS, NS, NS, NS, NS);
    if (!WriteText(head, 2, 1)) return false;
    if (!tableName_.empty() && !WriteText(Msg(12023, tableName_), 1, 0)) return false;
    for (const std::string& p : outside_)
        if (!WriteText(Msg(12936, p), 1, 0)) return false;
    if (!withColumns) return true;
    if (converting_) {
        if (!WriteText(Msg(12024, rejectName_), 2, 0)) return false;
        if (!WriteText(Msg(12025), 1, 0)) return false;
    } else if (!WriteText(Msg(12026), 2, 0)) {
        return false;
    }
    ui::xp_put_field(print_, 1, 80, 0, "Record ID");
    ui::xp_put_field(print_, 16, 4, ui::kPrintRight, "Line");
    ui::xp_put_field(print_, 22, 80, 0, converting_ ? "Reason for Rejection" : "Reason will be Rejected");
    return ui::xp_wr_line(print_, 2, 0, 0) == 0;
}

bool ConversionReport::PrintReportLine(const std::string& recordId, int32_t line, const std::string& reason) {
    if (Terminating()) return true;
    if (!headerPrinted_ && !PrintReportHeader(true)) return false;
    ui::xp_put_field(print_, 1, 13, 0, recordId.empty() ? "Unknown" : recordId);
    ui::xp_put_field(print_, 12, 8, ui::kPrintRight, std::to_string(line));
    for (const auto& part : WrapLines(reason, static_cast<std::size_t>(reasonWidth_))) {
        ui::xp_put_field(print_, 22, reasonWidth_, 0, part);
        if (ui::xp_wr_line(print_, 1, 0, 0) != 0) return false;
    }
    return true;
}

void ConversionReport::AddRecordTypeTotals(int16_t file, int16_t record, bool processed, bool rejected,
                                           bool converted, bool created, uint16_t messageCount) {
    Totals& t = types_[static_cast<int32_t>(file) * 100 + record];
    auto add = [&](bool flag, int32_t Totals::*member) {
        if (!flag) return;
        ++(t.*member);
        ++(grand_.*member);
    };
    add(processed, &Totals::processed);
    add(rejected, &Totals::rejected);
    add(converted, &Totals::converted);
    add(created, &Totals::created);
    add(messageCount != 0, &Totals::haveMessages);
}

bool ConversionReport::PrintRecordTotals(bool notesFollow) {
    if (Terminating()) return true;
    if (!headerPrinted_ && !PrintReportHeader(false)) return false;
    const bool created = grand_.created != 0;

    ui::xp_put_field(print_, 0, kTotalNameWidth, 0, "Record Totals");
    ui::xp_put_field(print_, kTotalCols[0], kTotalWidth, 0, converting_ ? "Processed" : "Examined");
    ui::xp_put_field(print_, kTotalCols[1], kTotalWidth, 0, "Have messages");
    ui::xp_put_field(print_, kTotalCols[2], kTotalWidth, 0, converting_ ? "Rejected" : "Invalid");
    ui::xp_put_field(print_, kTotalCols[3], kTotalWidth, 0, converting_ ? "Converted" : "Valid");
    if (created) ui::xp_put_field(print_, kTotalCols[4], kTotalWidth, 0, converting_ ? "Created" : "Will create");
    // Each record type's name, whole: one longer than its column goes on over the next lines.
    std::vector<std::vector<std::string>> names;
    std::size_t nameLines = 0;
    for (const auto& entry : types_) {
        const auto file = static_cast<uint16_t>(entry.first / 100);
        const auto record = static_cast<uint16_t>(entry.first % 100);
        std::string name;
        if (file == 0 || record == 0)
            name = "Unknown";
        else if (record > 50)
            name = "Notes for " + RecordName(file, static_cast<uint16_t>(record - 50));
        else
            name = RecordName(file, record);
        InitCaps(name);
        names.push_back(WrapLines(name, kTotalNameWidth));
        nameLines += names.back().size();
    }
    // Start the totals on a new page when they would not fit on this one.
    const int needed = static_cast<int>(nameLines) + (notesFollow ? 8 : 6);
    const bool newPage = ui::xp_lines_left(print_) < needed;
    if (ui::xp_wr_line(print_, newPage ? 1 : 4, 0, newPage ? 1 : 0) != 0) return false;

    auto putCounts = [&](const Totals& t, bool withCreated) {
        ui::xp_put_field(print_, kTotalCols[0], kTotalWidth, 0, std::to_string(t.processed));
        ui::xp_put_field(print_, kTotalCols[1], kTotalWidth, 0, std::to_string(t.haveMessages));
        ui::xp_put_field(print_, kTotalCols[2], kTotalWidth, 0, std::to_string(t.rejected));
        ui::xp_put_field(print_, kTotalCols[3], kTotalWidth, 0, std::to_string(t.converted));
        if (withCreated) ui::xp_put_field(print_, kTotalCols[4], kTotalWidth, 0, std::to_string(t.created));
    };

    std::size_t at = 0;
    for (const auto& entry : types_) {
        const Totals& t = entry.second;
        const std::vector<std::string>& name = names[at++];
        ui::xp_put_field(print_, 0, kTotalNameWidth, 0, name.front());
        putCounts(t, t.created != 0);
        if (ui::xp_wr_line(print_, 1, 0, 0) != 0) return false;
        for (std::size_t i = 1; i < name.size(); ++i) {
            ui::xp_put_field(print_, 0, kTotalNameWidth, 0, name[i]);
            if (ui::xp_wr_line(print_, 1, 0, 0) != 0) return false;
        }
    }

    for (int i = 0; i < (created ? 5 : 4); ++i)
        ui::xp_put_field(print_, kTotalCols[i], kTotalWidth, 0, "------------");
    if (ui::xp_wr_line(print_, 1, 0, 0) != 0) return false;
    ui::xp_put_field(print_, 0, kTotalNameWidth, 0, "Total:");
    putCounts(grand_, created);
    if (ui::xp_wr_line(print_, 1, 0, 0) != 0) return false;

    if (!notesFollow) return true;
    notesFollow_ = true;
    return WriteText(Msg(converting_ ? 12030 : 12031), 2, 0);
}

void ConversionReport::ReportTerminated(const std::string& text, int restoreResult, bool showMessageBox,
                                        const ui::NextStep& next) {
    if (Terminating()) return;
    // Once the totals have sent the reader to the notes' pages, the ending would stand among the
    // notes, or be lost with them when they could not be printed: it starts a page of the
    // report's own, under the report's heading.
    if (!headerPrinted_ || notesFollow_) PrintReportHeader(false);
    notesFollow_ = false;
    const std::string& shown = text;
    WriteText(shown, 2, 0);
    int closing = 12020;
    if (converting_) closing = restoreResult == 1 ? 12018 : restoreResult == 2 ? 12019 : restoreResult == 3 ? 12020 : 12017;
    WriteText(Msg(closing), 1, 0);
    if (showMessageBox) ui::xw_wr_message(ui::kError, shown, next);
}

// ---- NotesReport ------------------------------------------------------------------------------

NotesReport::NotesReport(int printDef, const std::string& textPath, uint16_t commandId, bool converting)
    : print_(printDef), textPath_(ShortenPath(textPath, 60)), commandId_(commandId), converting_(converting) {
    const int width = ui::xp_get_def(print_).width;
    commentWidth_ = width - 9;
    file_.kind = 2;
    file_.command = commandId;
    file_.file_kind = 201;
    file_.width = width;
}

bool NotesReport::Put(int spacing) { return ui::zp_put_line(file_, spacing) == 0; }

bool NotesReport::PrintNotesPage() {
    if (Terminating()) return true;
    linesWritten_ = true;
    if (ui::zp_open_print_file(file_) != 0) return false;
    const std::string& path = textPath_;
    auto text = [&](const std::string& s, int spacing) {
        for (const auto& line : WrapLines(s, static_cast<std::size_t>(file_.width))) {
            ui::xp_put_field(file_.print, 0, file_.width, 0, line);
            if (!Put(spacing)) return false;
            spacing = 1;
        }
        return true;
    };
    if (converting_) {
        if (!text(Msg(12027, path), 2) || !text(Msg(12028), 1)) return false;
    } else if (!text(Msg(12029, path), 2)) {
        return false;
    }
    ui::xp_put_field(file_.print, 1, 80, 0, "Record ID");
    ui::xp_put_field(file_.print, 16, 4, ui::kPrintRight, "Line");
    ui::xp_put_field(file_.print, 22, 80, 0, "Comment");
    return Put(2);
}

bool NotesReport::PrintMessageLine(const std::string& recordId, uint32_t line, const std::string& text) {
    if (Terminating()) return true;
    if (!linesWritten_ && !PrintNotesPage()) return false;
    if (!recordId.empty()) ui::xp_put_field(file_.print, 1, 13, 0, recordId);
    if (line != 0) ui::xp_put_field(file_.print, 12, 8, ui::kPrintRight, std::to_string(line));
    // The text column starts at 22: what goes beyond the line continues on the next ones.
    const int room = std::min(commentWidth_, file_.width - 22);
    for (const auto& part : WrapLines(text, static_cast<std::size_t>(room))) {
        ui::xp_put_field(file_.print, 22, room, 0, part);
        if (!Put(1)) return false;
    }
    return true;
}

bool NotesReport::PrintRecordMessages(const std::string& recordId, uint32_t line, MessageList& messages,
                                      ConvertProgress* progress, uint16_t record, uint16_t file,
                                      xvConvert* /*converter*/, const std::string& keyText) {
    if (messages.empty() || record > 50) return true;
    if (Terminating()) return true;
    std::string key = keyText;
    if (key.empty()) RecordKeyDisplay(key, file, record);
    const std::string heading =
        (messages.size() == 1 ? "Message for " : "Messages for ") + RecordName(file, record) + key + ":";
    if (!PrintMessageLine(recordId, line, heading)) return false;
    for (const auto& m : messages)
        if (!PrintMessageLine("", 0, m)) return false;
    if (progress) progress->messages += static_cast<uint32_t>(messages.size());
    messages.clear();
    return true;
}

void NotesReport::AddNote(uint16_t listId, const std::string& value, uint32_t line) {
    // Shown as the text file reads when the user opens it: a converted file has its time stamp
    // as line 2, so its records are one line further down.
    missing_[listId].emplace(value, line + (converting_ ? 1 : 0));  // the first line stays
}

bool NotesReport::PrintMissingCustomListValues(ConvertProgress* progress) {
    bool any = false;
    for (const auto& [id, values] : missing_) any = any || !values.empty();
    if (!any) return true;
    if (Terminating()) return true;
    if (progress) progress->messages += 1;

    if (!PrintMessageLine("", 0, "")) return false;
    const int first = converting_ ? 12618 : 12620;
    if (!PrintMessageLine("", 0, Msg(first)) || !PrintMessageLine("", 0, Msg(first + 1)) ||
        !PrintMessageLine("", 0, Msg(12622)) || !PrintMessageLine("", 0, ""))
        return false;

    const std::size_t limit = commentWidth_ > 25 ? static_cast<std::size_t>(commentWidth_ - 25) : 0;
    for (const auto& [id, values] : missing_) {
        if (values.empty()) continue;
        std::string desc = CustomDescription(id);
        if (!desc.empty()) desc[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(desc[0])));
        std::string text = desc + ":  ";
        bool itemsOnLine = false;
        for (const auto& [value, line] : values) {
            const std::string item = value + "(" + std::to_string(line) + "), ";
            // A full line is printed; the next one is indented by three blanks.
            if (itemsOnLine && text.size() + item.size() >= limit) {
                if (!PrintMessageLine("", 0, text)) return false;
                text = "   ";
            }
            text += item;
            itemsOnLine = true;
        }
        if (text.size() >= 2 && text.compare(text.size() - 2, 2, ", ") == 0) text.erase(text.size() - 2);
        if (!PrintMessageLine("", 0, text)) return false;
    }
    return true;
}

bool NotesReport::Print() {
    if (!linesWritten_) return true;
    if (Terminating()) return true;
    printed_ = ui::zp_print_file(commandId_, 201, print_) != 2;
    return printed_;
}

bool NotesReport::PrintLate(const std::vector<std::string>& lines) {
    if (printed_) linesWritten_ = false;  // the next line opens a fresh notes page
    for (const auto& line : lines)
        if (!PrintMessageLine("", 0, line)) return false;
    return Print();
}

void NotesReport::Close() { ui::zp_cls_print_file(commandId_, 201); }

}  // namespace dz::convert
