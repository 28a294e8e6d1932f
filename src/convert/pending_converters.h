// The converter classes of the conversion types whose conversion is still to be written. Each
// answers every operation with "This conversion type is not yet implemented". A converter's own
// work replaces its class here by the real one in src/converters/<module>/ and points the
// factory at that header.
#pragma once

#include "convert/converter.h"
#include "converters/gl/xvglm.h"

namespace dz::convert {

class PendingConverter : public xvConvert {
public:
    bool OpenFiles(OpenFilesList& list, uint16_t commandId, uint16_t& error) override;
    void ConvertFile(OpenFilesList& list, const TextFileEntry& entry, ConvertProgress* progress, int printDef,
                     ui::zqTask& task, const std::string& tableName, ConversionOptions* options) override;
    void PrefillTables(OpenFilesList& list, const TextFileEntry& entry, ConvertProgress* progress,
                       ui::zqTask& task, void* prefillContext) override;
};

using xvGLM = gl::xvGLM;  // the real one, in converters/gl
class xvGLT : public PendingConverter {};
class xvJCS : public PendingConverter {};
class xvJCM : public PendingConverter {};
class xvJCT : public PendingConverter {};
class xvCMM : public PendingConverter {};
class xvAPM : public PendingConverter {};
class xvAPI : public PendingConverter {};
class xvPRM : public PendingConverter {};
class xvPMP : public PendingConverter {};
class xvPML : public PendingConverter {};
class xvPMR : public PendingConverter {};
class xvPMV : public PendingConverter {};
class xvPMZ : public PendingConverter {};
class xvARM : public PendingConverter {};

// PM transactions. History transactions (606) are the same conversion with the history flag set.
class xvPMT : public PendingConverter {
public:
    bool IsHistory() const { return history_; }

protected:
    bool history_ = false;
};

// An xvPMT whose three operations first mark the object as working on history transactions.
class xvPMH : public xvPMT {
public:
    bool OpenFiles(OpenFilesList& list, uint16_t commandId, uint16_t& error) override;
    void ConvertFile(OpenFilesList& list, const TextFileEntry& entry, ConvertProgress* progress, int printDef,
                     ui::zqTask& task, const std::string& tableName, ConversionOptions* options) override;
    void PrefillTables(OpenFilesList& list, const TextFileEntry& entry, ConvertProgress* progress,
                       ui::zqTask& task, void* prefillContext) override;
};

}  // namespace dz::convert
