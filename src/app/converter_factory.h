// The converter factory: a conversion type code selects exactly one converter class. One
// function serves the wrapper, the driver's per-file loop and the prefill driver. It is the one
// place that knows every converter, so it sits above them all.
#pragma once

#include "convert/converter.h"

#include <cstdint>
#include <memory>

namespace dz::app {

// The converter of `code`, or null after the message "This conversion type is not yet
// implemented" when the code has none.
std::unique_ptr<convert::xvConvert> CreateConverter(uint16_t code);

// Whether a conversion of `code` takes batch or run numbers, which it stores in the company's
// settings (company.toml) once its data files have committed: GL and JC transactions, AP
// invoices.
bool StoresNumbers(uint16_t code);

// Owns one converter made from a conversion type code (null when none could be made).
class CConvertWrapper {
public:
    explicit CConvertWrapper(uint16_t code) : converter_(CreateConverter(code)) {}
    virtual ~CConvertWrapper() = default;
    CConvertWrapper(const CConvertWrapper&) = delete;
    CConvertWrapper& operator=(const CConvertWrapper&) = delete;

    convert::xvConvert* get() const { return converter_.get(); }
    convert::xvConvert* operator->() const { return converter_.get(); }
    explicit operator bool() const { return converter_ != nullptr; }

private:
    std::unique_ptr<convert::xvConvert> converter_;
};

}  // namespace dz::app
