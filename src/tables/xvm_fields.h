// Field numbers of MASTER.XVM, resolved once per open handle, and small typed accessors over
// the record buffers. Internal to the tables folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dz::tables {

struct XvmFields {
    // header 1
    uint16_t lstTble = 0, lstAppl = 0, lstFld = 0;
    // record 1
    uint16_t table = 0, taLen = 0, tbLen = 0, tcLen = 0, tbsLen = 0, tsufLen = 0;
    uint16_t tj1Len = 0, tj2Len = 0, tj3Len = 0;
    uint16_t tp1Len = 0, tp2Len = 0, tp3Len = 0, tp4Len = 0;
    // record 2
    uint16_t dTable = 0, dAppl = 0, dField = 0, dOldSiz = 0, dXOnJob = 0, dNewBlk = 0, dNoExst = 0;
    // record 3
    uint16_t fTable = 0, fField = 0, fOldVal = 0, fNewVal = 0, newXOnJ = 0, newPhas = 0, newJob = 0;
    uint16_t newAcct = 0, newPreA = 0, newPreB = 0, newPreC = 0, newBase = 0;

    // Resolves every number on an open handle. False when one of them is missing (a file
    // that is not a table file).
    bool Resolve(uint16_t handle);
    // Number of an entry field by its name (NEWACCT, ..., FNEWVAL, NEWXONJ); 0 when unknown.
    uint16_t EntryField(std::string_view name) const;
};

std::string GetText(uint16_t h, uint16_t rec, uint16_t fld);
double GetNumber(uint16_t h, uint16_t rec, uint16_t fld);
// A stored number that counts something (a size, a width, a code, an option): a whole number
// from 0 to `maximum`; anything else (a fraction, a negative, 1e300, NaN) reads as 0, "not set".
uint32_t GetCount(uint16_t h, uint16_t rec, uint16_t fld, uint32_t maximum = 65535);
int PutText(uint16_t h, uint16_t rec, uint16_t fld, std::string_view text);
int PutNumber(uint16_t h, uint16_t rec, uint16_t fld, double number);

}  // namespace dz::tables
