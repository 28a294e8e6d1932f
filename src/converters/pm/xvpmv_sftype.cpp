#include "converters/pm/xvpmv.h"

#include "platform/datafile/xio.h"

namespace dz::pm {

using namespace convert;

namespace {
constexpr uint16_t kUnitSfTypeRecord = 19;  // of the PM property file
}  // namespace

bool FindUnitSfType(uint16_t pmp, const std::string& property, const std::string& unit, std::string& sfType) {
    if (pmp == 0) return false;
    const uint16_t fProp = FieldNo(pmp, kUnitSfTypeRecord, "UFPROP"), fUnit = FieldNo(pmp, kUnitSfTypeRecord, "UFUNIT"),
                   fType = FieldNo(pmp, kUnitSfTypeRecord, "UFSFTYP");
    if (fProp == 0 || fUnit == 0 || fType == 0) return false;
    // The record is keyed on the date too: a cleared buffer puts the first dated record of the
    // three key fields at or after the key; anything else read there belongs to another key.
    xio_init_record(pmp, kUnitSfTypeRecord);
    PutText(pmp, fProp, property);
    PutText(pmp, fUnit, unit);
    PutText(pmp, fType, sfType);
    if (xio_rd_ge(pmp, kUnitSfTypeRecord, 0, 0) != XIO_OK) return false;
    if (!EqualNoCase(GetText(pmp, fProp), property) || !EqualNoCase(GetText(pmp, fUnit), unit) ||
        !EqualNoCase(GetText(pmp, fType), sfType))
        return false;
    sfType = GetText(pmp, fType);
    return true;
}

}  // namespace dz::pm
