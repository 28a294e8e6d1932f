// The data dictionary: what each data file holds (record types, headers, fields, keys),
// read from one TOML file per data file (see data/dictionary/README.md).
#pragma once

#include "platform/datafile/xio.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace dz::xio {

struct FieldDef {
    xio_fld_def def;  // number, name, type, ... as xio_get_fld_def answers them
    int line = 0;     // line in the dictionary file
    uint16_t jcIndex = 0;  // the JC module's index of the field within its record, 0 none
};

// A record type or a header.
struct RecordDef {
    uint16_t number = 0;
    std::string name;
    bool isHeader = false;
    uint16_t firstField = 0;
    uint16_t lastField = 0;
    std::vector<uint16_t> primaryKey;  // record types only
    // The conversion sets the primary key itself: a text file may leave its columns blank.
    bool keyBlankAllowed = false;
    int line = 0;
};

struct KeyDef {
    xio_key_def def;
    int line = 0;
};

struct FileEntry {
    uint16_t number = 0;
    std::string name;  // "MASTER.GLM"
};

struct Dictionary {
    std::string abbr;
    std::string name;
    int version = 1;
    bool multiUser = false;  // several programs may write at once (record locks only)
    std::vector<FileEntry> files;
    std::vector<RecordDef> records;  // ordered by number
    std::vector<RecordDef> headers;  // ordered by number
    std::vector<KeyDef> keys;        // file keys 1..K, index k-1
    std::vector<FieldDef> fields;    // index 0 unused; fields[n].def.number == n
    std::filesystem::path source;

    const RecordDef* record(uint16_t n) const;
    const RecordDef* header(uint16_t n) const;
    const FieldDef* field(uint16_t n) const;
    uint16_t fieldNumber(const RecordDef& owner, const std::string& name) const;  // 0 unknown
    const FileEntry* file(uint16_t fileNo) const;
};

// Parses one dictionary file. On failure answers nullptr and "file:line: reason".
std::shared_ptr<const Dictionary> load_dictionary(const std::filesystem::path& file, std::string& error);
// Parses TOML text (for tests); `name` is used in error texts.
std::shared_ptr<const Dictionary> parse_dictionary(const std::string& text, const std::string& name,
                                                   std::string& error);

// The loaded set. load_all replaces it; get answers the dictionary of an abbreviation (loading
// the default folder on first use) or nullptr with the reason in `error`.
bool load_all(const std::filesystem::path& folder, std::string& error);
std::shared_ptr<const Dictionary> get(const std::string& abbr, std::string& error);
std::vector<std::string> abbrs();

}  // namespace dz::xio
