// The JC module's interface objects, made by its factory entries x_jc_new_* (one factory per
// class). Each class is concrete: its own operations have no effect (0, false or an empty
// text), except the last operation of each IjcValid* class, which answers 1. A JC library that
// exports a factory returns an object of a class derived from the matching one.
#pragma once

#include <cstdint>
#include <string>

namespace dz::modlibs {

class IjcObject {
public:
    virtual ~IjcObject() = default;
    // Gives up the caller's hold on the object.
    virtual void Release() { delete this; }
};

// Contract and contract item of a job or extra.
class IjcContractInfo : public IjcObject {
public:
    virtual int Read(uint16_t /*jcm*/, const std::string& /*job*/, const std::string& /*extra*/) { return 0; }
    virtual std::string Contract() { return {}; }
    virtual std::string ContractItem() { return {}; }
};

// The extra record of the JC master file.
class IjcmExtraTable : public IjcObject {
public:
    virtual int Open(uint16_t /*jcm*/) { return 0; }
    virtual int Read(const std::string& /*job*/, const std::string& /*extra*/) { return 0; }
    virtual std::string Field(const std::string& /*name*/) { return {}; }
};

// The job record of the JC master file.
class IjcmJobTable : public IjcObject {
public:
    virtual int Open(uint16_t /*jcm*/) { return 0; }
    virtual int Read(const std::string& /*job*/) { return 0; }
    virtual std::string Field(const std::string& /*name*/) { return {}; }
};

// Whether the cost of a cost code goes to billings.
class IjcSendToBillings : public IjcObject {
public:
    virtual bool Sends(uint16_t /*jcm*/, const std::string& /*job*/, const std::string& /*extra*/,
                       const std::string& /*costCode*/) {
        return false;
    }
};

// Validators: set the file, check a key, then ask the answer.
class IjcValidCat : public IjcObject {
public:
    virtual int SetFile(uint16_t /*jcm*/) { return 0; }
    virtual int Check(const std::string& /*job*/, const std::string& /*extra*/, const std::string& /*costCode*/,
                      const std::string& /*category*/) {
        return 0;
    }
    virtual int Valid() { return 1; }
};

class IjcValidCommitment : public IjcObject {
public:
    virtual int SetFile(uint16_t /*jcm*/) { return 0; }
    virtual int Check(const std::string& /*commitment*/) { return 0; }
    virtual int Valid() { return 1; }
};

class IjcValidCommitmentItem : public IjcObject {
public:
    virtual int SetFile(uint16_t /*jcm*/) { return 0; }
    virtual int Check(const std::string& /*commitment*/, uint16_t /*item*/) { return 0; }
    virtual int Valid() { return 1; }
};

class IjcValidExtra : public IjcObject {
public:
    virtual int SetFile(uint16_t /*jcm*/) { return 0; }
    virtual int Check(const std::string& /*job*/, const std::string& /*extra*/) { return 0; }
    virtual int Valid() { return 1; }
};

class IjcValidJob : public IjcObject {
public:
    virtual int SetFile(uint16_t /*jcm*/) { return 0; }
    virtual int Check(const std::string& /*job*/) { return 0; }
    virtual int Valid() { return 1; }
};

class IjcValidPhase : public IjcObject {
public:
    virtual int SetFile(uint16_t /*jcm*/) { return 0; }
    virtual int Check(const std::string& /*job*/, const std::string& /*extra*/, const std::string& /*costCode*/) {
        return 0;
    }
    virtual int Valid() { return 1; }
};

// Standard cost codes.
class IjcValidSPhase : public IjcObject {
public:
    virtual int SetFile(uint16_t /*jcm*/) { return 0; }
    virtual int Check(const std::string& /*costCode*/) { return 0; }
    virtual int Valid() { return 1; }
};

namespace entry {
// The factory entries: a new object, or null when none can be made.
using x_jc_new_contract_info = IjcContractInfo*();
using x_jc_new_jcm_extra_interface = IjcmExtraTable*();
using x_jc_new_jcm_job_interface = IjcmJobTable*();
using x_jc_new_send_to_billings = IjcSendToBillings*();
using x_jc_new_valid_cat = IjcValidCat*();
using x_jc_new_valid_commitment = IjcValidCommitment*();
using x_jc_new_valid_commitment_item = IjcValidCommitmentItem*();
using x_jc_new_valid_extra = IjcValidExtra*();
using x_jc_new_valid_job = IjcValidJob*();
using x_jc_new_valid_phase = IjcValidPhase*();
using x_jc_new_valid_sphase = IjcValidSPhase*();
}  // namespace entry

}  // namespace dz::modlibs
