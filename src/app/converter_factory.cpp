#include "app/converter_factory.h"

#include "app/interface_warning.h"
#include "app/pending_converters.h"
#include "convert/platform_links.h"
#include "platform/ui/ui.h"

#include <new>

namespace dz::app {

std::unique_ptr<convert::xvConvert> CreateConverter(uint16_t code) {
    // Converters that write into another module's data ask through the application's window.
    static const bool warningLinked = (convert::SetInterfaceWarning(&CheckInterfaceWarning), true);
    (void)warningLinked;
    std::unique_ptr<convert::xvConvert> converter;
    try {
        switch (code) {
        case 101: converter = std::make_unique<xvGLM>(); break;
        case 102: converter = std::make_unique<xvGLT>(); break;
        case 201: converter = std::make_unique<xvJCS>(); break;
        case 202: converter = std::make_unique<xvJCM>(); break;
        case 203: converter = std::make_unique<xvJCT>(); break;
        case 301: converter = std::make_unique<xvCMM>(); break;
        case 401: converter = std::make_unique<xvAPM>(); break;
        case 402: converter = std::make_unique<xvAPI>(); break;
        case 501: converter = std::make_unique<xvPRM>(); break;
        case 601: converter = std::make_unique<xvPMP>(); break;
        case 602: converter = std::make_unique<xvPML>(); break;
        case 603: converter = std::make_unique<xvPMR>(); break;
        case 604: converter = std::make_unique<xvPMV>(); break;
        case 605: converter = std::make_unique<xvPMT>(); break;
        case 606: converter = std::make_unique<xvPMH>(); break;
        case 607: converter = std::make_unique<xvPMZ>(); break;
        case 701: converter = std::make_unique<xvARM>(); break;
        default:
            ui::current().message(101, "This conversion type is not yet implemented");
            break;
        }
    } catch (const std::bad_alloc&) {
        converter.reset();  // no storage: no converter, and no message
    }
    return converter;
}

}  // namespace dz::app
