#include "platform/datafile/marker_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

namespace dz::xio {
namespace {

constexpr const char* kHead = "dodedoz run marker 4";
constexpr const char* kUnownedHead = "dodedoz run marker 3";  // no owners of the data files
constexpr const char* kUnnumberedHead = "dodedoz run marker 2";  // no run number
constexpr const char* kFirstHead = "dodedoz run marker";      // no lengths, hashes or lock file

bool all_digits(const std::string& s, std::size_t most = 9) {
    return !s.empty() && s.size() <= most &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

bool parse_hex(const std::string& s, uint64_t& v) {
    if (s.empty() || s.size() > 16) return false;
    v = 0;
    for (const char c : s) {
        const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
        if (d < 0) return false;
        v = v << 4 | static_cast<uint64_t>(d);
    }
    return true;
}

std::string hex(uint64_t v) {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
    return buf;
}

bool starts(const std::string& line, const char* word) { return line.rfind(word, 0) == 0; }

bool parse_number(const std::string& s, uint32_t& v) {
    if (!all_digits(s, 10)) return false;
    const unsigned long long n = std::stoull(s);
    if (n > UINT32_MAX) return false;
    v = static_cast<uint32_t>(n);
    return true;
}

std::vector<std::string> split(const std::string& s, char by) {
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const auto at = s.find(by, start);
        parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

// "<data file> <uid> <gid> <entries>": false when it is not one.
bool parse_had(const std::string& rest, std::string& dataFile, FileHad& had) {
    const auto words = split(rest, ' ');
    uint32_t uid = 0, gid = 0;
    if (words.size() != 4 || words[0].empty() || words[0] == "." || words[0] == ".." ||
        words[0].find('/') != std::string::npos || !parse_number(words[1], uid) || !parse_number(words[2], gid))
        return false;
    dataFile = words[0];
    had.owners = {static_cast<uid_t>(uid), static_cast<gid_t>(gid)};
    for (const auto& entry : split(words[3], ',')) {
        const auto f = split(entry, ':');
        uint32_t tag = 0, id = 0, perm = 0;
        if (f.size() != 3 || !parse_number(f[0], tag) || !parse_number(f[1], id) || !parse_number(f[2], perm) ||
            tag > static_cast<uint32_t>(AccessTag::Others) || perm > 7)
            return false;
        had.list.entries.push_back({static_cast<AccessTag>(tag), perm, id});
    }
    return true;
}

}  // namespace

bool parse_copy_name(const std::string& name, std::string& dataFile, std::string& run) {
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const auto tilde = name.find('~', start);
        parts.push_back(name.substr(start, tilde == std::string::npos ? std::string::npos : tilde - start));
        if (tilde == std::string::npos) break;
        start = tilde + 1;
    }
    if (parts.size() < 3 || parts.size() > 4 || parts[0].empty() || parts[0] == "." || parts[0] == ".." ||
        parts[1].empty() || !all_digits(parts[2]) || (parts.size() == 4 && !all_digits(parts[3])))
        return false;
    if (name.find('/') != std::string::npos || name.find('\n') != std::string::npos || name.find(' ') != std::string::npos)
        return false;
    dataFile = parts[0];
    run = parts[1] + "~" + parts[2];
    return true;
}

MarkerText parse_marker_text(const std::string& text, const std::string& run) {
    MarkerText m;
    if (text.empty()) return m;  // made, never filled (or emptied after the last commit)
    auto unreadable = [&](const std::string& why) {
        MarkerText bad;
        bad.state = MarkerText::Unreadable;
        bad.why = why;
        bad.version = m.version;
        return bad;
    };
    std::vector<std::pair<std::string, std::size_t>> lines;  // each line and where it starts
    for (std::size_t start = 0; start < text.size();) {
        const auto nl = text.find('\n', start);
        lines.emplace_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start), start);
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    if (lines[0].first == kHead) m.version = 4;
    else if (lines[0].first == kUnownedHead) m.version = 3;
    else if (lines[0].first == kUnnumberedHead) m.version = 2;
    else if (lines[0].first == kFirstHead) m.version = 1;
    else return unreadable("it is not a run marker");
    // A marker of the first version still gives its process's start ("start ...") and each copy
    // as the path it was made under in a ".backup" folder: only the name is taken, resolved as
    // every name is, so a company half posted by that version is still put back.
    bool paths = false, whole = false;
    m.namesEnd = text.size();
    std::set<std::string> files;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i].first;
        const bool copyOrEnd = line == "end" || starts(line, "copy ");
        if (copyOrEnd && m.namesEnd == text.size()) m.namesEnd = lines[i].second;
        if (line == "end") {
            whole = true;
            break;
        }
        if (starts(line, "start ") && i == 1 && m.version == 1) {
            paths = true;
        } else if (starts(line, "host ")) {
            m.host = line.substr(5);
        } else if (starts(line, "process ")) {
            m.process = line.substr(8);
        } else if (starts(line, "mark ") && m.version >= 3 && !m.numbered && m.copies.empty()) {
            if (!parse_hex(line.substr(5), m.number) || line.size() != 5 + 16) return unreadable("its run number is not one");
            m.numbered = true;
        } else if (starts(line, "main ") && m.version > 1 && m.main.empty() && m.parts.empty() && line.size() > 5) {
            m.main = line.substr(5);
        } else if (starts(line, "part ") && m.version > 1 && m.main.empty() && line.size() > 5) {
            m.parts.push_back(line.substr(5));
        } else if (starts(line, "copy ")) {
            MarkerCopy c;
            std::string rest = line.substr(5);
            if (m.version > 1) {
                const auto h = rest.rfind(' ');
                const auto l = h == std::string::npos || h == 0 ? std::string::npos : rest.rfind(' ', h - 1);
                if (l == std::string::npos || !all_digits(rest.substr(l + 1, h - l - 1), 19) ||
                    !parse_hex(rest.substr(h + 1), c.hash))
                    return unreadable("it names a copy without its length and hash");
                c.length = std::stoull(rest.substr(l + 1, h - l - 1));
                rest.resize(l);
            } else if (const auto slash = rest.rfind('/');
                       paths && slash != std::string::npos && slash >= 8 && rest.compare(slash - 8, 9, "/.backup/") == 0) {
                rest.erase(0, slash + 1);
            }
            std::string copyRun;
            if (!parse_copy_name(rest, c.dataFile, copyRun) || copyRun != run)
                return unreadable("it names " + rest + ", which is not a copy of its run");
            if (!files.insert(c.dataFile).second) return unreadable("it names " + c.dataFile + " twice");
            c.name = rest;
            m.copies.push_back(std::move(c));
        } else if (starts(line, "had ") && m.version >= 4 && m.copies.empty()) {
            std::string dataFile;
            FileHad had;
            if (!parse_had(line.substr(4), dataFile, had))
                return unreadable("it gives what a data file had in words that are not a marker's");
            if (!m.had.emplace(dataFile, std::move(had)).second)
                return unreadable("it gives what " + dataFile + " had twice");
        } else {
            return unreadable("it holds a line that is not a marker's");
        }
    }
    // The number is what ties the run to the data files it committed: without it a marker of
    // this version proves nothing.
    if (whole && m.version >= 3 && !m.numbered) return unreadable("it gives no run number");
    for (auto& c : m.copies)
        if (const auto had = m.had.find(c.dataFile); had != m.had.end()) c.had = had->second;
    m.state = whole ? MarkerText::Whole : MarkerText::Empty;
    return m;
}

std::string marker_head(const std::string& host, long process, uint64_t number) {
    return std::string(kHead) + "\nhost " + host + "\nprocess " + std::to_string(process) + "\nmark " + hex(number) + "\n";
}
std::string marker_part_line(const std::string& way) { return "part " + way + "\n"; }
std::string marker_main_line(const std::string& way) { return "main " + way + "\n"; }
std::string marker_copy_line(const std::string& copyName, uint64_t length, uint64_t hash) {
    return "copy " + copyName + " " + std::to_string(length) + " " + hex(hash) + "\n";
}
std::string marker_unfilled_head(const std::string& host, long process) {
    return std::string(kHead) + "\nhost " + host + "\nprocess " + std::to_string(process) + "\n";
}
std::string marker_had_line(const std::string& dataFile, const FileHad& had) {
    std::string entries;
    for (const auto& e : had.list.entries)
        entries += (entries.empty() ? "" : ",") + std::to_string(static_cast<unsigned>(e.tag)) + ":" +
                   std::to_string(e.id) + ":" + std::to_string(e.perm);
    return "had " + dataFile + " " + std::to_string(had.owners.uid) + " " + std::to_string(had.owners.gid) + " " +
           entries + "\n";
}
std::string marker_end_line() { return "end\n"; }

}  // namespace dz::xio
