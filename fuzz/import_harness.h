// Feeds arbitrary bytes through the import library: as a text file read record by record and
// group by group through a template with every field type, as a template, and as a stamped
// file. Shared by the libFuzzer target and the corpus run of the test suite.
//
// ImportBytes answers false when an invariant of the import does not hold (line numbers that
// go backwards, a percentage outside 0..100, a reject line that does not point at the record);
// crashes, hangs and out-of-bounds reads are for the sanitizers to catch.
#pragma once

#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/import/xvl_template.h"
#include "platform/import/xvl_text.h"
#include "platform/import/xvl_timestamp.h"

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace dz::xvl::fuzz {

inline constexpr const char* kFuzzTemplate = R"(format C
  file TST 1
  record 1
  field CUSTID
  field CNAME
  field CBAL
  field CLIMIT
  field CSINCE
  field CACTIVE
  field CTYPE
  field CCALL
  field CMEMO
  field CACCT
  field CJOB
  special "Converted Notes" longtext
format CM
  file TST 1
  record 1
  permissions 1
  field CUSTID
  field CNAME
  special N number
  special L logical
  special D date
format CN
  file TST 1
  record 1
  notes
  field CUSTID
  special NOTE1 text
format CU
  file TST 1
  record 1
  userfields 11
  field CUSTID
  special "cust fld name" text
  special "cust fld value" text
format I
  file TST 1
  record 2
  permissions 3
  field INVNO
  field ICUST
  field IAMT
format L
  file TST 1
  record 3
  field LINV
  field LSEQ
  field LAMT
format K
  file TST 1
  record 4
  field CHKNO
  field CHKAMT
group I
group K
depend I L
depend L L
depend L end
depend K end
)";

struct FuzzWorld {
    std::filesystem::path dir;
    uint16_t handle = 0;
    std::vector<file_num_map> files;
    xvlImpTemplate tpl;
    bool ok = false;

    explicit FuzzWorld(const std::filesystem::path& dictionaryFolder) {
        dir = std::filesystem::temp_directory_path() / ("dz_fuzz_" + std::to_string(::getpid()));
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        std::filesystem::create_directories(dir, ec);
        std::string error;
        if (!xio_load_dictionaries(dictionaryFolder, error)) return;
        const std::filesystem::path folder = dir;
        xio_set_file_control([folder](const std::string&) { return folder; });
        xio_ask_request req;
        req.abbr = "TST";
        req.fileNo = 1;
        req.create = true;
        if (xio_ask_file(req, handle) != XIO_OK) return;
        files = {{"TST", 1, handle}};
        ok = tpl.CreateFromText(kFuzzTemplate, "xvfuzz.tpl", files) == 0;
    }
    ~FuzzWorld() {
        if (handle) xio_cls_file(handle);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

inline bool checkInfo(const xvlImpInfo& info, int32_t& lastLine) {
    if (info.PercentDone() < 0 || info.PercentDone() > 100) return false;
    if (info.StartLine() <= lastLine) return false;
    lastLine = info.StartLine();
    return true;
}

// One run over `data`. `world` must be ready (world.ok).
inline bool ImportBytes(FuzzWorld& world, const uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::filesystem::path text = world.dir / "input.txt";
    const std::filesystem::path reject = world.dir / "RejectTST.txt";
    {
        std::ofstream out(text, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    std::error_code ec;
    std::filesystem::remove(reject, ec);
    bool good = true;

    // Record by record, every refused or staged record alternately to the reject file.
    {
        xvlImport imp(world.tpl);
        imp.xvlSetAcceptLongText(size % 2 == 0);
        imp.xvlSetClearExtendedFields(true);
        imp.xvlChangeRepToWrRep(true);
        if (!imp.xvlImpFileNames(text.string(), reject.string())) return false;
        xvlImpInfo info, ahead;
        int32_t last = 0;
        int n = 0;
        std::string id;
        while (imp.xvlImportNextRec(info) != 2) {
            good = good && checkInfo(info, last);
            if (info.ReplaceRecord()) xio_unlock_record(world.handle, info.ImportedRecs(), 1);
            if (info.Status() == 0 && info.RecExtraData() >= 1 && info.RecExtraData() <= 49) imp.xvlImpCopyKeyToUd(info);
            (void)imp.xvlImpGetSpecialValue(info.FormatID(), "Converted Notes");
            if (imp.xvlImpWhatIsNextID(id, ahead) == 0 && (n % 3) == 0) {
                if (imp.xvlImportNextRec(ahead) == 2) break;
                good = good && checkInfo(ahead, last);
                if (ahead.ReplaceRecord()) xio_unlock_record(world.handle, ahead.ImportedRecs(), 1);
            }
            if (info.Status() == 1 || (n % 2) == 0) {
                int32_t line = 0;
                good = good && imp.xvlRecToRejectFile(line) && line > 0;
            }
            ++n;
        }
        good = good && imp.xvlImpTimeStampAndCloseFile(false, true, "");
    }
    // Group by group.
    {
        xvlImport imp(world.tpl);
        imp.xvlSetClearExtendedFields(true);
        if (!imp.xvlImpFileNames(text.string(), "")) return false;
        xvlImpInfo info;
        int32_t lastGroup = 0;
        int guard = 0;
        while (imp.xvlImportNextGroup(info) != 2) {
            if (info.GroupStartLine() <= lastGroup || info.StartLine() < info.GroupStartLine()) good = false;
            lastGroup = info.GroupStartLine();
            if (info.ReplaceRecord()) xio_unlock_record(world.handle, info.ImportedRecs(), 1);
            if (++guard > 1000000) return false;
        }
    }
    // The same bytes as a template, and as a stamped file.
    {
        xvlImpTemplate t;
        (void)t.CreateFromText(bytes, "fuzz.tpl", world.files);
        std::vector<ZQAbbr> abbrs;
        (void)t.GetZQAbbrs(abbrs);
        LastConvert lc;
        const std::string stamped = InsertStampLine(bytes, BuildTimeStampLine("Op", StampClock{2026, 1, 2, 12, 0}, "x"));
        if (stamped.size() <= bytes.size() || !ParseLastConvert(stamped, lc) || lc.time != "at 12:00PM") good = false;
    }
    return good;
}

}  // namespace dz::xvl::fuzz
