// Conversion types, the selection of text files of one run, and the reading of a text file's
// first line ("#", type, template name, optional markers).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace dz::convert {

// One conversion type: its fixed name and abbreviation and its code (module number x 100 +
// file number within the module).
struct ConversionTypeEntry {
    const char* name = nullptr;
    uint16_t code = 0;
    const char* abbreviation = nullptr;
};

// One selected text file. The code stays 0 until the first line has been read.
struct TextFileEntry {
    std::string path;
    uint16_t code = 0;
};

// Every conversion type the program knows, in code order.
const std::vector<ConversionTypeEntry>& KnownConversionTypes();
// The known type of that code, or nullptr.
const ConversionTypeEntry* FindConversionType(uint16_t code);

// The selection of one Convert, Examine Files or Prefill run. Building one fills the types of
// the installed modules at once.
class ConversionTypeList {
public:
    ConversionTypeList();

    std::vector<TextFileEntry> files;         // selected files, in selection order until sorted
    std::vector<ConversionTypeEntry> types;   // installed conversion types, in code order
    uint32_t dupInvoiceMode = 1;              // read from AP invoice files' first lines
    std::vector<TextFileEntry> skipped;       // chosen, then left out at the checks: not run (code 0: unread)

    uint32_t DupInvoiceMode() const { return dupInvoiceMode; }
    bool HasType(uint16_t code) const;
    // The template named on the text file's first line (see the free function below).
    void GetTextFileTemplate(const std::string& textPath, std::string& templatePath) const;
};

// Fills `list.types` with the conversion types of the installed modules.
void BuildConversionTypeList(ConversionTypeList& list);

// Reads one line (line ends LF, CR, CR LF, LF CR; Ctrl-Z dropped). A failed stream gives "".
void ReadTextLine(std::istream& in, std::string& line);

// Reads the first line; when it names an installed type, sets entry.code and returns true.
// For AP invoice files the markers "DUPS OK" / "NO DUP DISP" set the list's duplicate mode.
bool ReadConversionType(ConversionTypeList& list, std::istream& in, TextFileEntry& entry);

// Reads the first line and builds the template's full path into `path`; true only when that
// file exists. `path` keeps the built path when the file is missing, and is empty when the
// line names no usable template.
bool ReadTemplatePath(std::istream& in, std::string& path);

// Opens the text file and fills `templatePath` through ReadTemplatePath; empty when the text
// file cannot be opened or names no template.
void GetTextFileTemplate(const std::string& textPath, std::string& templatePath);

// What is wrong with the form of a first line, as exports commonly get it wrong: no "#" line
// at all, values in double quotes ("quote all"), or semicolons or tabs between the values.
enum class FirstLineFault { None, NoHeader, Quoted, Semicolons, Tabs };
// The fault of the stream's first line; `mended` receives the line as it should read (for a
// line that is no first line at all, a generic example).
FirstLineFault FindFirstLineFault(std::istream& in, std::string& mended);

// The name of a conversion type's own template, as a first line gives it: "xv" and the type's
// abbreviation in lower case ("xvglm").
std::string DefaultTemplateName(const std::string& abbreviation);

// The folders searched for a template named without a folder, in order, each ending with "/":
// with `existingOnly` those that exist (all when none does).
std::vector<std::string> TemplateFolders(bool existingOnly = true);

// The folder under which "ACCOUNTING/TEMPLATE/" holds the templates named without a path.
// Defaults to the program's shipped data folder; ends with "/".
std::string ApplicationDataFolder();
void SetApplicationDataFolder(const std::string& folder);

}  // namespace dz::convert
