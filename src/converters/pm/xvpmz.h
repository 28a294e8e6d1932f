// The PM issues converter (conversion type 607): issues of a text file examined or converted
// into the issues file of the issue application ("TLI", file number 0), each linked to the
// property, unit, tenant or lease it concerns through a link record in the issues file (record 2)
// and one in the PM issue-link file ("PMZ", file number 0). Issue numbers are not taken from the
// text file: in Convert every issue gets the next free number after the file's last issue
// number (LASTID), and the notes lines that follow an issue move to its new number.
//
//   xvpmz.cpp        the frame: files, settings, the record loop, the finish
//   xvpmz_issue.cpp  the issue record (ConvertIssue) and its links (ResolveIssueLink)
#pragma once

#include "converters/pm/pm_shared.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>

namespace dz::pm {

// Open codes of the two files the conversion writes.
inline constexpr uint16_t kTliCode = 99, kPmzCode = 62;
// Records of the issues file and of the PM issue-link file.
inline constexpr uint16_t kTliIssue = 1, kTliLink = 2;
inline constexpr uint16_t kPmzLease = 1, kPmzTenant = 2, kPmzProperty = 3, kPmzUnit = 4;
// The custom lists of CLASSIF, URGENCY, FOLLOWU, STATUS and PROBLEM, in that order.
inline constexpr int kIssueListFirst = 262;

class xvPMZ : public convert::xvConvert {
public:
    convert::ConverterProfile Profile() const override;
    // Without the issue application nothing opens: 9843 with a "TLI" entry the driver names.
    bool OpenFiles(convert::OpenFilesList& list, uint16_t commandId, uint16_t& error) override;

    // The issue staged in the issues file's buffer: keys checked against the PM files (their
    // stored spelling copied back), list values in the lists' spelling, fields the conversion
    // does not carry reset with a warning, and in Convert the next free issue number put into
    // ISSUE. True accepts; false rejects with `reason`. Writes nothing.
    bool ConvertIssue(uint16_t tli, uint16_t pmz, uint16_t pmp, uint16_t pml, uint16_t pmn, std::string& reason,
                      convert::MessageList& messages, bool converting);
    // Writes the link records (issues file record 2 and a PM issue-link record) of the issue
    // just written with number `issue`: property, unit, tenant, lease, each only while every
    // write before it succeeded. False sets `ioFailure`, and `diskFull` when a write ran out of
    // disk; the caller then ends the file.
    bool ResolveIssueLink(uint16_t tli, uint16_t pmz, uint16_t pmp, uint16_t pml, uint16_t pmn,
                          const xvl::xvlImport& import, const std::string& formatId, double issue, bool& diskFull,
                          bool& ioFailure);

    // Reads LASTID of the issues file and the five custom lists; false when the header cannot
    // be read, or when LASTID is not an issue number the field holds (NumbersSpent()).
    bool ReadLastIssueId(uint16_t tli);
    // Whether the issue numbers cannot be raised: LASTID is not a whole number its field holds,
    // or the next free number would lie beyond what the field holds. The file then ends (12016).
    bool NumbersSpent() const { return numbersSpent_; }

    double LastIdRead() const { return lastIdRead_; }
    double LastIssueId() const { return lastIssueId_; }
    // Issue number as the text file gives it -> as written (Convert) or as given (Examine).
    const std::map<double, double>& Renumbering() const { return renumbered_; }

protected:
    bool LoadSettings(convert::ConvertContext& ctx, std::string& failure) override;
    // The record loop: the core's reader and record end, with this conversion's own middle
    // (renumbering, links, notes re-keyed).
    bool ConvertRecords(convert::ConvertContext& ctx) override;
    // Issues (record 1 of the issues file) go to ConvertIssue; anything else gets 12070.
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override;
    // Convert: LASTID rewritten when it moved (12016 on failure); then the list values missing.
    bool FinishConversion(convert::ConvertContext& ctx) override;

private:
    // Called once after the first record is read; nothing vetoes the loop.
    bool BeginRecordLoop() const { return true; }
    bool HandleRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, int status);
    // A notes line of an issue: put on the issue's new number, then saved (Convert) or checked.
    bool SaveIssueNotes(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason);
    // Resets the fields of the issue that the conversion does not carry (12685 for each).
    void ResetUnsupportedFields(uint16_t tli, convert::MessageList& messages, bool converting) const;
    // Whether `n` is free for the staged issue: no issue with that number, and none of the link
    // records the issue will get exists with it.
    bool IssueNumberFree(uint16_t tli, uint16_t pmz, double n) const;

    std::array<CustomList, 5> lists_;
    std::map<double, double> renumbered_;
    double currentIssue_ = 0;  // the text file's number of the issue being handled
    uint16_t tli_ = 0, pmz_ = 0, pmp_ = 0, pml_ = 0, pmn_ = 0;
    double lastIdRead_ = 0;
    double lastIssueId_ = 0;
    bool numbersSpent_ = false;
};

}  // namespace dz::pm
