// Import templates (xv*.tpl): which record formats a text file holds, and for each format the
// data file and record it fills and the meaning of its columns. The file format is described
// for users in data/templates/README.md.
//
// A template is parsed first and then bound to the run's open data files (abbreviation and
// file number -> handle); field names are resolved through the data files' dictionaries.
// Templates built in memory (xvlImpAddFormatID / xvlImpAppendField) have special columns only
// and no data file.
#pragma once

#include "platform/datafile/xio.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace dz {

// One entry of a run's open-files list.
struct file_num_map {
    std::string abbr;     // "GLM"
    uint16_t fileNo = 0;  // file number within the abbreviation
    uint16_t handle = 0;  // 0 when opening failed
};

}  // namespace dz

namespace dz::xvl {

inline constexpr std::string_view kEndGroup = "__END_GROUP";

// Types of special values (columns that no data field receives).
enum class SpecialType { Text, LongText, Number, Logical, Date };

// A special column of an in-memory template.
struct xvlImpSpecFldDef {
    std::string name;
    std::string description;
    uint16_t width = 0;     // longest value in bytes; 0 = no limit
    int16_t format = 0;     // field id handed to the callbacks (0 = none)
    int16_t section = 0;
    bool capitals = false;  // values are upper-cased
    SpecialType type = SpecialType::Text;  // LongText: values may be long and hold line ends
    // `format` is a key format (an account, a job, a phase) whose values are kept without
    // their separators: a value is read as a field of that format is, with or without them.
    bool keyFormat = false;
};

struct TemplateColumn {
    bool special = false;
    std::string name;       // field name (upper-case) or special value name as written
    int line = 0;           // template line
    // Data field
    bool idGiven = false;
    int16_t fieldId = 0;    // substitution field id (default: the field's custom description)
    int16_t section = 0;    // default: 8 for GL accounts (custom description 9), else 0
    uint16_t fieldNo = 0;   // bound: the file-global field number
    xio_fld_def def;        // bound: the field's definition
    bool keyField = false;  // bound: part of the record's primary key
    // Special value
    SpecialType type = SpecialType::Text;
    std::string description;
    uint16_t width = 0;
    bool capitals = false;
    bool keyFormat = false;  // see xvlImpSpecFldDef
};

struct TemplateFormat {
    std::string id;         // "1", "1N", "BN"; "" for the one format of an in-memory template
    int line = 0;
    std::string abbr;       // data file ("" for in-memory templates)
    uint16_t fileNo = 0;
    uint16_t record = 0;    // record number in the data file (ImportedRecs); 0 names no record
    bool recordGiven = false;
    int extraData = 0;      // 0 data, 1..49 user-defined fields of that record, 50+record notes
    int permissions = 2;    // 1 modify only, 2 add, 3 group writes
    bool permissionsGiven = false;
    std::vector<TemplateColumn> columns;
    bool hasSpecials = false;      // some column is a special value
    bool convertedNotes = false;   // a special column "Converted Notes"
    // Bound
    uint16_t handle = 0;
    xio_rec_def recDef;
    std::vector<std::size_t> keyColumns;  // columns that hold primary-key fields, in key order
};

// A data file a template names.
struct ZQAbbr {
    std::string abbr;
    uint16_t fileNo = 0;
};

class xvlImpTemplate {
public:
    xvlImpTemplate() = default;

    // Parses `path` and binds its formats to `openFiles`. 0 on success; otherwise non-zero with
    // the reason in ErrorText(): 1 the file cannot be read, 2 it has a fault (ErrorText names
    // the file and line), 3 a data file it names is not open, 4 a field or record it names is
    // not in the data file.
    int xvlImpTemplateCreate(const std::filesystem::path& path, const std::vector<file_num_map>& openFiles);
    // Parses template text (for tests and built-in templates); `name` stands for the file.
    int CreateFromText(std::string_view text, const std::string& name, const std::vector<file_num_map>& openFiles);

    // The template's version text ("" without one). 0 on success, 1 when it cannot be read or
    // has a fault.
    static int xvlImpTemplateVersion(const std::filesystem::path& path, std::string& text);
    const std::string& Version() const { return version_; }

    // The data files the template names (after parsing, even when binding failed). False when
    // the template could not be parsed.
    bool GetZQAbbrs(std::vector<ZQAbbr>& out) const;

    // "<template>, line <n>: <what is wrong>" for the last failure.
    const std::string& ErrorText() const { return error_; }
    const std::string& Name() const { return name_; }

    // In-memory templates.
    void xvlImpAddFormatID(const std::string& id);
    void xvlImpAppendField(const xvlImpSpecFldDef& def);

    // Groups: `id` starts a group; a record of `nextId` may follow one of `id`, or the group
    // may end after `id` when `nextId` is "__END_GROUP". Declaring the same pair twice is
    // harmless.
    void xvlImpAddGroup(const std::string& id);
    void xvlImpAddDependency(const std::string& id, const std::string& nextId);

    // The format ids that fill record type `recType` of the data file `file` (a handle), as
    // data records. 0, or 1 when the template is not built.
    int xvlImpWhatGivenIDsExist(uint16_t file, uint16_t recType, std::set<std::string>& ids) const;

    // Lookup (format ids compare without regard to letter case).
    const TemplateFormat* FindFormat(std::string_view id) const;
    const std::vector<TemplateFormat>& Formats() const { return formats_; }
    bool Ready() const { return ready_; }
    // True when the lines carry no format id column (a single format with an empty id).
    bool NoIdColumn() const { return formats_.size() == 1 && formats_.front().id.empty(); }

    bool HasGroups() const { return !groupStarts_.empty(); }
    bool IsGroupStart(std::string_view id) const;
    // May a record of `next` follow one of `id` within a group? (`next` "__END_GROUP": may the
    // group end after `id`?)
    bool MayFollow(std::string_view id, std::string_view next) const;

private:
    int parse(std::string_view text);
    int bind(const std::vector<file_num_map>& openFiles);
    int fail(int code, int line, std::string what);
    static std::string fold(std::string_view id);

    std::string name_;
    std::string version_;
    std::string error_;
    bool parsed_ = false;
    bool ready_ = false;
    std::vector<TemplateFormat> formats_;
    std::set<std::string> groupStarts_;                    // folded ids
    std::map<std::string, std::set<std::string>> deps_;   // folded id -> folded successors
};

}  // namespace dz::xvl
