#include "app/pending_converters.h"

#include "platform/ui/ui.h"

namespace dz::app {

using namespace dz::convert;

namespace {
void NotYetImplemented() { ui::current().message(101, "This conversion type is not yet implemented"); }
}  // namespace

bool PendingConverter::OpenFiles(OpenFilesList&, uint16_t, uint16_t& error) {
    error = 0;
    return true;
}

void PendingConverter::ConvertFile(OpenFilesList&, const TextFileEntry&, ConvertProgress*, int, ui::zqTask&,
                                   const std::string&, ConversionOptions*) {
    NotYetImplemented();
}

void PendingConverter::PrefillTables(OpenFilesList&, const TextFileEntry&, ConvertProgress*, ui::zqTask&, void*) {
    NotYetImplemented();
}

bool xvPMH::OpenFiles(OpenFilesList& list, uint16_t commandId, uint16_t& error) {
    history_ = true;
    return xvPMT::OpenFiles(list, commandId, error);
}

void xvPMH::ConvertFile(OpenFilesList& list, const TextFileEntry& entry, ConvertProgress* progress, int printDef,
                        ui::zqTask& task, const std::string& tableName, ConversionOptions* options) {
    history_ = true;
    xvPMT::ConvertFile(list, entry, progress, printDef, task, tableName, options);
}

void xvPMH::PrefillTables(OpenFilesList& list, const TextFileEntry& entry, ConvertProgress* progress,
                          ui::zqTask& task, void* prefillContext) {
    history_ = true;
    xvPMT::PrefillTables(list, entry, progress, task, prefillContext);
}

}  // namespace dz::app
