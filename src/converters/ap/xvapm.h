// The AP vendor converter (conversion type 401): vendors (record 9) with their notes, 1099 prefix
// totals (record 10) and authorisations (record 12) of an AP vendor text file, examined or
// converted into the AP master data file ("APM", file number 1).
//
// The class is split over several sources:
//   xvapm.cpp          the frame: files, settings, the vendor notes, dispatch, prefill
//   xvapm_vendor.cpp   vendors: what the AP settings, the interfaces and the country allow
//   xvapm_prefix.cpp   1099 prefix totals and authorisations
//
// The handlers change the record in the AP master buffer and answer whether it may be written;
// the common record loop writes it (Convert) or examines it (Examine Files). They write nothing
// themselves.
#pragma once

#include "convert/convert_file.h"
#include "convert/converter.h"
#include "convert/field_numbers.h"
#include "convert/lookups.h"
#include "convert/reports.h"
#include "convert/side_file.h"

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace dz::xvl {
class xvlImport;
class xvlImpInfo;
}  // namespace dz::xvl

namespace dz::ap {

using RecordIdMap = convert::RecordIdMap;

// AP master record numbers.
inline constexpr uint16_t kRecVendor = 9;
inline constexpr uint16_t kRecPrefixTotals = 10;
inline constexpr uint16_t kRecAuthorization = 12;
// The header of the AP settings.
inline constexpr uint16_t kHdrApSettings = 2;
// The format id of the vendor notes records (compared without regard to case).
inline constexpr const char* kVendorNotesFormat = "VN";
// The conversion type's name in 12070.
inline constexpr const char* kApmConversionName = "AP Vendor";

// Installation countries (the AP screen file's value).
inline constexpr uint16_t kCountryUnknown = 0;
inline constexpr uint16_t kCountryUsa = 1;
inline constexpr uint16_t kCountryCanada = 2;
inline constexpr uint16_t kCountryAustralia = 61;

// The AP settings the handlers test (header 2), by their field names.
enum ApSetting : std::size_t {
    kDSCLVL, kPMTDTU, kMDLVL, kTAXUSE, kUSEICD1, kUSEICD2, kMD2USE, kPRF1099, kDCCODE1, kDCCODE2, kDCCODE3,
    kDCCODE4, kDCCODE5, kDCRET1, kDCRET2, kDCRET3, kDCRET4, kDCRET5, kDCAUTH1, kDCAUTH2, kDCAUTH3, kDCAUTH4,
    kDCAUTH5,
    kApSettings
};
inline constexpr std::array<const char*, kApSettings> kApSettingNames{
    "DSCLVL", "PMTDTU", "MDLVL", "TAXUSE", "USEICD1", "USEICD2", "MD2USE", "PRF1099", "DCCODE1", "DCCODE2",
    "DCCODE3", "DCCODE4", "DCCODE5", "DCRET1", "DCRET2", "DCRET3", "DCRET4", "DCRET5", "DCAUTH1", "DCAUTH2",
    "DCAUTH3", "DCAUTH4", "DCAUTH5"};

// The AP settings the handlers test, read once per text file: the header does not change while
// a text file is converted.
class ApSettings {
public:
    ApSettings() = default;
    // Reads the header; Read() is false when it cannot be read.
    explicit ApSettings(uint16_t apm);

    bool Read() const { return read_; }
    // A choice setting's item number, a yes/no setting's 0 or 1 (0 when the header was not read).
    int Result(ApSetting setting) const { return results_[setting]; }

private:
    bool read_ = false;
    std::array<int, kApSettings> results_{};
};

// The vendor fields the vendor handler touches on every vendor, named as the record names them.
enum VendorField : std::size_t {
    kV1099, kVACN, kVDAYTYP, kVDCODE, kVDECLDT, kVDSCDAY, kVDSCPCT, kVENDOR, kVENTITY, kVEXMTED, kVEXMTSD, kVEXPCER,
    kVEXPNUM, kVFEDID, kVFM1099, kVGENPPS, kVGLEXP, kVGROREV, kVHOLD, kVICODE1, kVICODE2, kVINCLD, kVJCCAT,
    kVJCPHS, kVLYDED, kVLYDL, kVLYDO, kVLYDT, kVLYMD, kVMDHELD, kVMDRATE, kVNAME, kVNY1099, kVNYAMT, kVNYDED,
    kVNYDL, kVNYDO, kVNYDT, kVNYMD, kVNYPD, kVOAMT, kVODSC, kVPAMT, kVPDSC, kVPMDED, kVPMTDAY, kVPPSRAT,
    kVPRATTY, kVPRETH, kVPRETP, kVRETAIN, kVSCNTIN, kVTAXCOL, kVTAXFIL, kVTAXGRP, kVTIDNAM, kVTYDED, kVVARCER,
    kVVARSD, kVYTDAMT, kVYTDDL, kVYTDDO, kVYTDDT, kVYTDMD,
    kVendorFields
};
inline constexpr convert::FieldNames<kVendorFields> kVendorNames{
    "V1099", "VACN", "VDAYTYP", "VDCODE", "VDECLDT", "VDSCDAY", "VDSCPCT", "VENDOR", "VENTITY", "VEXMTED",
    "VEXMTSD", "VEXPCER", "VEXPNUM", "VFEDID", "VFM1099", "VGENPPS", "VGLEXP", "VGROREV", "VHOLD", "VICODE1",
    "VICODE2", "VINCLD", "VJCCAT", "VJCPHS", "VLYDED", "VLYDL", "VLYDO", "VLYDT", "VLYMD", "VMDHELD", "VMDRATE",
    "VNAME", "VNY1099", "VNYAMT", "VNYDED", "VNYDL", "VNYDO", "VNYDT", "VNYMD", "VNYPD", "VOAMT", "VODSC",
    "VPAMT", "VPDSC", "VPMDED", "VPMTDAY", "VPPSRAT", "VPRATTY", "VPRETH", "VPRETP", "VRETAIN", "VSCNTIN",
    "VTAXCOL", "VTAXFIL", "VTAXGRP", "VTIDNAM", "VTYDED", "VVARCER", "VVARSD", "VYTDAMT", "VYTDDL", "VYTDDO",
    "VYTDDT", "VYTDMD"};
using VendorFields = convert::FieldNumbers<kVendorFields>;

// Answers of look-ups in the GL, JC and tax masters, kept for one text file: this conversion
// writes none of them, and vendors name the same accounts, phases and groups again and again.
using convert::LookupCache;

// The last value one look-up of the vendor handler was asked and the text file's answer: vendors
// in a row mostly name the same account, phase or group, and comparing with the last value costs
// less than the cache's own key. Keeps only what the cache keeps (on file or not).
class LastLookup {
public:
    bool Missing(LookupCache& cache, uint16_t file, uint16_t rec, const char* field, const std::string& value);
    void Clear() { status_ = kNone; }

private:
    static constexpr int kNone = -1;
    std::string value_;
    int status_ = kNone;
};

// The handlers' look-ups in other masters: the text file's cache, which the prefix totals ask
// directly, and before it one LastLookup per look-up the vendor handler makes.
struct VendorLookups {
    LookupCache cache;
    LastLookup base, account, phase, category, group;
    void Clear() {
        cache.Clear();
        for (LastLookup* last : {&base, &account, &phase, &category, &group}) last->Clear();
    }
};

// What the account format makes of a debit account text, kept per text for one text file: the
// format does not change while a text file is converted, and vendors name the same accounts
// again and again.
class DebitAccounts {
public:
    struct Form {
        bool base = false;   // a base account of a prefixed format
        bool valid = false;  // a valid account of its section
        std::string raw;     // stored without separators (valid ones only)
    };
    const Form& Of(const std::string& value);
    void Clear() { forms_.clear(); }

private:
    static constexpr std::size_t kMaxKept = 4096;  // beyond this, answered without keeping
    std::unordered_map<std::string, Form> forms_;
    Form scratch_;
};

// The old-value text of a group of amounts in hundredths (only the non-zero ones are passed):
// "%.2f", "%.2f and %.2f" or "%.2f, %.2f, and %.2f".
std::string ListedAmounts(const double* values, int count);

class xvAPM : public convert::xvConvert {
public:
    xvAPM() = default;

    convert::ConverterProfile Profile() const override;


    // Finds or opens the GL master (when AP interfaces with GL), the JC master (when AP
    // interfaces with JC) and the tax master, reads whether JC uses categories and the country.
    // `notes` (optional) receives one line for each master that cannot be opened; false only
    // when such a line cannot be printed.
    bool LoadSettings(const convert::OpenFilesList& files, convert::NotesReport* notes,
                      convert::ConvertProgress* progress);

    // A vendor notes record ("VN", a notes or a data format): stored on its vendor unless the
    // import already refused it, and renumbered to be counted under its record number + 50.
    // True when the record is not a vendor notes record.
    bool SaveVendorNotes(uint16_t apm, xvl::xvlImpInfo& info, xvl::xvlImport& import, std::string& reason,
                         bool converting);

    // ---- Record handlers: true accepts, false rejects with `reason` set -------------------------
    // The settings and look-ups come from `settings` and `lookups`.
    static bool ConvertVendor(uint16_t apm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                              bool interfacesGL, bool interfacesJC, bool categoriesUsed, uint16_t glm, uint16_t jcm,
                              uint16_t txm, uint16_t country, bool converting, bool allowTotals,
                              const ApSettings& settings, VendorLookups& lookups, DebitAccounts& accounts,
                              const VendorFields& fields);
    bool ConvertPrefixTotals(uint16_t apm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                             bool interfacesGL, uint16_t glm, bool converting, const RecordIdMap& ids,
                             uint16_t country, const ApSettings& settings);
    static bool ConvertAuthorizations(uint16_t apm, xvl::xvlImpInfo& info, std::string& reason,
                                      convert::MessageList& messages, const ApSettings& settings);

    // ---- Settings, as ConvertFile and LoadSettings set them ------------------------------------
    bool allowTotals = false;     // the template's version text is exactly "ALLOW TOTALS"
    bool interfacesGL = false;    // AP interfaces with GL
    bool interfacesJC = false;    // AP interfaces with JC
    bool categoriesUsed = false;  // the JC master's CCATUSG is 1
    convert::SideFile glMasterFile;  // 0 not open
    convert::SideFile jcMasterFile;
    convert::SideFile taxMasterFile;
    uint16_t country = kCountryUnknown;
    ApSettings settings;  // the AP master's header 2, as the text file starts

protected:
    // ---- Steps and hooks of the common sequence ----------------------------------------------
    bool LoadSettings(convert::ConvertContext& ctx, std::string& failure) override;
    // Vendor notes first, then the handler of the record number (12070 for any other).
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override;
    // A vendor notes record the import refused still counts under its notes record type.
    void ImportRejected(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override;

private:
    bool notesFailed_ = false;
    VendorLookups lookups_;
    // Prefixes A of the GL master as the prefix totals find them, kept per value for one text
    // file: this conversion writes nothing there, and the totals name the same prefixes again
    // and again.
    struct PrefixA {
        bool onFile = false;
        int fiscal = 0;  // PAFISC, whole (when on file)
    };
    const PrefixA& PrefixAOf(uint16_t glm, const std::string& prefixA);
    std::unordered_map<std::string, PrefixA> prefixesA_;
    PrefixA prefixScratch_;
    DebitAccounts debitAccounts_;
    // The vendor fields by number, resolved once for the handle.
    const VendorFields& VendorFieldsOf(uint16_t apm);
    VendorFields vendorFields_;
    uint16_t vendorFieldsOf_ = 0;  // the handle vendorFields_ were resolved on (0: not yet)
};

}  // namespace dz::ap
