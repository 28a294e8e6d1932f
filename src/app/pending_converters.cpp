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

}  // namespace dz::app
