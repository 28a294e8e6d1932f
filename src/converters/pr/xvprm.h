// The PR master converter (conversion type 501): payroll employee records of a text file,
// examined or converted into the PR master file ("PRM", file number 1) under the rules of the
// installed payroll country, checked against the PR system and tax files and, when payroll
// interfaces with them, the JC master and the EQ master and standard files.
//
// The class is split over several sources:
//   xvprm.cpp            the frame: files, settings, dispatch, prefill
//   xvprm_employee.cpp   the employee record (record 1)
//   xvprm_records.cpp    the work-state, pay, tax, deduction and fringe records (2 to 6)
//   pr_rules.cpp         what every record handler shares (countries, totals, check digits,
//                        names)
#pragma once

#include "convert/convert_file.h"
#include "convert/converter.h"
#include "convert/field_numbers.h"
#include "convert/side_file.h"
#include "convert/reports.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace dz::xvl {
class xvlImport;
class xvlImpInfo;
}  // namespace dz::xvl

namespace dz::pr {

// PR master record numbers.
inline constexpr uint16_t kPrRecEmployee = 1;
inline constexpr uint16_t kPrRecEmployee2 = 2;
inline constexpr uint16_t kPrRecPay = 3;
inline constexpr uint16_t kPrRecTax = 4;
inline constexpr uint16_t kPrRecDeduction = 5;
inline constexpr uint16_t kPrRecFringe = 6;

// The custom list whose default fills an employee's empty country.
inline constexpr int kCountryList = 554;

// The employee fields the employee handler touches on every employee, named as the record
// names them.
enum EmployeeField : std::size_t {
    kEABILL, kEBENTYP, kECCLASS, kECERT, kECLASS, kECNTRY, kECOST, kECPPF, kECPPL, kEDEPRBT, kEDEPT, kEDTHBEN,
    kEEICST, kEEQ, kEFEDCR, kEFRNCH, kEFSTAT, kEGCERT, kEGID, kEJOB, kELOCAL, kELROEDT, kEMEDLV, kEMPID,
    kEMTGRBT, kENAME, kEPAY, kEPAYDT, kEPEN, kEPERCR, kEPEX, kEPGID, kEPHS, kERES1, kERES2, kERES3, kESIN,
    kESPOUSE, kESSN, kETAXCD, kETAXDED, kETITLED, kETRMRES, kEUNION, kEWCCD, kEWCST, kEWORK1, kEWORK2, kEWORK3,
    kEZONRBT, kEYREG, kEMFRG,
    kEmployeeFields
};
inline constexpr convert::FieldNames<kEmployeeFields> kEmployeeNames{
    "EABILL", "EBENTYP", "ECCLASS", "ECERT", "ECLASS", "ECNTRY", "ECOST", "ECPPF", "ECPPL", "EDEPRBT", "EDEPT",
    "EDTHBEN", "EEICST", "EEQ", "EFEDCR", "EFRNCH", "EFSTAT", "EGCERT", "EGID", "EJOB", "ELOCAL", "ELROEDT",
    "EMEDLV", "EMPID", "EMTGRBT", "ENAME", "EPAY", "EPAYDT", "EPEN", "EPERCR", "EPEX", "EPGID", "EPHS", "ERES1",
    "ERES2", "ERES3", "ESIN", "ESPOUSE", "ESSN", "ETAXCD", "ETAXDED", "ETITLED", "ETRMRES", "EUNION", "EWCCD",
    "EWCST", "EWORK1", "EWORK2", "EWORK3", "EZONRBT", "EYREG", "EMFRG"};

class xvPRM : public convert::xvConvert {
public:
    static constexpr std::size_t kStatusCount = 10;

    xvPRM() = default;

    convert::ConverterProfile Profile() const override;


    // ---- Settings the handlers read ------------------------------------------------------------
    // Entry i (0 to 9) of the filing-status (FWH or PAYE) and EIC-status lists; empty past the end.
    std::string FilingStatusAt(std::size_t i) const { return i < kStatusCount ? filingStatuses_[i] : std::string(); }
    std::string EicStatusAt(std::size_t i) const { return i < kStatusCount ? eicStatuses_[i] : std::string(); }
    const std::string& CountryListDefault() const { return countryListDefault_; }

    // ---- Record handlers: true accepts, false rejects with `reason` set ---------------------------
    bool ConvertEmployee(uint16_t prm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                         bool converting, xvl::xvlImport& import);
    // Records 2 to 6, each to its handler below.
    bool ConvertEmployeeRecord(uint16_t prm, xvl::xvlImpInfo& info, std::string& reason,
                               convert::MessageList& messages, bool converting, xvl::xvlImport& import);
    bool ConvertEmployee2(uint16_t prm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                          bool converting, xvl::xvlImport& import);
    bool ConvertEmployeePay(uint16_t prm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                            bool converting);
    bool ConvertEmployeeTax(uint16_t prm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                            bool converting);
    bool ConvertEmployeeDeduction(uint16_t prm, xvl::xvlImpInfo& info, std::string& reason,
                                  convert::MessageList& messages, bool converting);
    bool ConvertEmployeeFringe(uint16_t prm, xvl::xvlImpInfo& info, std::string& reason,
                               convert::MessageList& messages, bool converting);

    // Reads the settings of one text file (country, status lists, JC and EQ files, the country
    // list's default); notes lines go to `notes`. False only when a notes line cannot be printed.
    bool LoadPayrollSettings(const convert::OpenFilesList& files, convert::NotesReport& notes,
                             convert::ConvertProgress* progress);

    uint8_t m_allowTotals = 0;
    uint16_t m_countryCode = 0;
    uint16_t m_prsFile = 0;
    uint16_t m_prxFile = 0;
    uint8_t m_interfacesJC = 0;
    convert::SideFile m_jcmFile;
    uint8_t m_interfacesEQ = 0;
    convert::SideFile m_eqmFile;
    convert::SideFile m_eqsFile;

protected:
    // ---- Steps and hooks of the common sequence ----------------------------------------------
    // The settings, then the country gate (12275).
    bool LoadSettings(convert::ConvertContext& ctx, std::string& failure) override;
    // PR master records 1 to 6; 12070 for anything else.
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override;

private:
    // Loads the statuses of tax `taxId` (PRX record 5) into `list`, ten at most.
    void LoadStatuses(const char* taxId, std::array<std::string, kStatusCount>& list);
    // The handler's steps that look files up.
    bool CheckTaxGroups(uint16_t prm, std::string& reason, const std::string& empId);
    void CheckJobFields(uint16_t prm, convert::MessageList& messages, bool converting);
    void CheckEquipmentFields(uint16_t prm, convert::MessageList& messages, bool converting);
    void CheckUnionFields(uint16_t prm, convert::MessageList& messages, bool converting);
    // Whether every text field of `fields` (employee fields) is empty.
    bool AllEmpty(uint16_t prm, std::initializer_list<std::size_t> fields) const;
    // The statuses of a jurisdiction (PRX record 5 under `key`), ten at most; read once per text
    // file, as the conversion writes no tax file. A background terminate cuts the collection
    // short (and the file ends after the record).
    const std::vector<std::string>& JurisdictionStatuses(const std::string& key);
    // Whether the jurisdiction under `key` has `status`, letter case ignored: compared with the
    // `taken` statuses, or, when the collection stopped at its limit, looked up by key so that
    // every status of the jurisdiction counts.
    bool JurisdictionHasStatus(const std::string& key, const std::vector<std::string>& taken,
                               const std::string& status);
    // The field results of `fields` of the setup record `rec` keyed by `keyField` = `id` (a pay,
    // tax, deduction or fringe ID), read once per text file: the conversion writes no setup
    // record. Null when the record is not on file.
    using SetupFields = std::array<int16_t, 4>;
    const SetupFields* SetupRecord(uint16_t file, uint16_t rec, const char* keyField, const std::string& id,
                                   std::initializer_list<const char*> fields);
    // What records 3 to 6 begin with: the employee id in `empField`, given (12276) and known
    // (12311 naming `recordName`), and the setup id in `idField`, given (`idRequired`).
    bool EmployeeAndId(uint16_t prm, uint16_t rec, const char* empField, const char* idField,
                       const char* recordName, int idRequired, bool converting, std::string& reason,
                       std::string& empId, std::string& id);
    // The employee rule, remembering the employees found: none is removed while a file converts.
    // `recordName` null: the work-state record's ("Employee " and custom description 53).
    bool EmployeeKnown(uint16_t prm, const std::string& empId, bool converting, const char* recordName,
                       std::string& reason);
    // Whether another Net Direct Deposit than the line's stands for the employee: on file or,
    // in Examine Files, earlier in the text file (whose pseudo key the first one enters).
    bool OtherNetDirectDeposit(uint16_t prm, const std::string& empId, const std::string& dedId, bool converting);
    // Whether the setup record `rec` keyed by `field` = `value` exists. Records found are kept
    // for the rest of the text file: the conversion never removes one.
    bool Known(uint16_t file, uint16_t rec, const char* field, const std::string& value);

    std::array<std::string, kStatusCount> filingStatuses_;
    std::array<std::string, kStatusCount> eicStatuses_;
    std::string countryListDefault_;
    std::unordered_set<std::string> known_;  // handle, record (two bytes each) and key of setup records found
    std::string knownKey_;
    // The value found last under each setup record type asked: employees in a row name the same
    // pay group, states and departments, and comparing with it costs less than the set's key.
    struct LastKnown {
        uint16_t file = 0;
        uint16_t rec = 0;
        std::string value;
    };
    std::vector<LastKnown> lastKnown_;
    // The employee fields by number, for the handle they were resolved on (0: not yet).
    void ResolveEmployeeFields(uint16_t prm);
    uint16_t employeeFieldsOf_ = 0;
    convert::FieldNumbers<kEmployeeFields> emp_;
    std::unordered_map<std::string, std::optional<SetupFields>> setupRecords_;  // "file\trecord\tID"
    struct LastSetup {
        uint16_t file = 0;
        uint16_t rec = 0;
        std::string id;                       // as the line gave it
        const SetupFields* fields = nullptr;  // SetupRecord's answer for it
    };
    std::vector<LastSetup> lastSetups_;
    std::unordered_map<std::string, std::vector<std::string>> jurisdictionStatuses_;
    std::unordered_set<std::string> employeesKnown_;
    std::string lastEmployee_;  // the employee known last: an employee's records come together
};

}  // namespace dz::pr
