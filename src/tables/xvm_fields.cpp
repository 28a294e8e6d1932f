#include "tables/xvm_fields.h"

#include <cmath>

#include "platform/datafile/xio.h"
#include "tables/substitution_fields.h"

namespace dz::tables {

bool XvmFields::Resolve(uint16_t h) {
    bool ok = true;
    auto num = [&](uint16_t kind, uint16_t n, const char* name) {
        uint16_t f = xio_num(h, kind, n, name);
        if (f == 0) ok = false;
        return f;
    };
    auto hdr = [&](const char* name) { return num(XIO_NUM_HEADER, kLastChoiceHeader, name); };
    auto r1 = [&](const char* name) { return num(XIO_NUM_RECORD, kGroupRecord, name); };
    auto r2 = [&](const char* name) { return num(XIO_NUM_RECORD, kDefinitionRecord, name); };
    auto r3 = [&](const char* name) { return num(XIO_NUM_RECORD, kEntryRecord, name); };
    lstTble = hdr("LSTTBLE");
    lstAppl = hdr("LSTAPPL");
    lstFld = hdr("LSTFLD");
    table = r1("TABLE");
    taLen = r1("TALEN");
    tbLen = r1("TBLEN");
    tcLen = r1("TCLEN");
    tbsLen = r1("TBSLEN");
    tsufLen = r1("TSUFLEN");
    tj1Len = r1("TJ1LEN");
    tj2Len = r1("TJ2LEN");
    tj3Len = r1("TJ3LEN");
    tp1Len = r1("TP1LEN");
    tp2Len = r1("TP2LEN");
    tp3Len = r1("TP3LEN");
    tp4Len = r1("TP4LEN");
    dTable = r2("DTABLE");
    dAppl = r2("DAPPL");
    dField = r2("DFIELD");
    dOldSiz = r2("DOLDSIZ");
    dXOnJob = r2("DXONJOB");
    dNewBlk = r2("DNEWBLK");
    dNoExst = r2("DNOEXST");
    fTable = r3("FTABLE");
    fField = r3("FFIELD");
    fOldVal = r3("FOLDVAL");
    fNewVal = r3("FNEWVAL");
    newXOnJ = r3("NEWXONJ");
    newPhas = r3("NEWPHAS");
    newJob = r3("NEWJOB");
    newAcct = r3("NEWACCT");
    newPreA = r3("NEWPREA");
    newPreB = r3("NEWPREB");
    newPreC = r3("NEWPREC");
    newBase = r3("NEWBASE");
    return ok;
}

uint16_t XvmFields::EntryField(std::string_view name) const {
    if (name == "FNEWVAL") return fNewVal;
    if (name == "NEWXONJ") return newXOnJ;
    if (name == "NEWPHAS") return newPhas;
    if (name == "NEWJOB") return newJob;
    if (name == "NEWACCT") return newAcct;
    if (name == "NEWPREA") return newPreA;
    if (name == "NEWPREB") return newPreB;
    if (name == "NEWPREC") return newPreC;
    if (name == "NEWBASE") return newBase;
    return 0;
}

std::string GetText(uint16_t h, uint16_t rec, uint16_t fld) {
    x_value_def v;
    if (xio_get_field(h, rec, fld, v) != XIO_OK) return {};
    return v.longText.empty() ? v.text : v.longText;
}

double GetNumber(uint16_t h, uint16_t rec, uint16_t fld) {
    x_value_def v;
    if (xio_get_field(h, rec, fld, v) != XIO_OK) return 0;
    return v.number;
}

uint32_t GetCount(uint16_t h, uint16_t rec, uint16_t fld, uint32_t maximum) {
    const double n = GetNumber(h, rec, fld);
    // Written so that NaN fails it too.
    if (!(n >= 0 && n <= static_cast<double>(maximum)) || n != std::floor(n)) return 0;
    return static_cast<uint32_t>(n);
}

int PutText(uint16_t h, uint16_t rec, uint16_t fld, std::string_view text) {
    x_value_def v;
    v.text = std::string(text);
    return xio_put_field(h, rec, fld, v);
}

int PutNumber(uint16_t h, uint16_t rec, uint16_t fld, double number) {
    x_value_def v;
    v.number = number;
    return xio_put_field(h, rec, fld, v);
}

}  // namespace dz::tables
