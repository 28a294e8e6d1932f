#include "app/converter_factory.h"

#include "app/interface_warning.h"
#include "convert/platform_links.h"
#include "converters/ap/xvapi.h"
#include "converters/ap/xvapm.h"
#include "converters/ar/xvarm.h"
#include "converters/gl/xvcmm.h"
#include "converters/gl/xvglm.h"
#include "converters/gl/xvglt.h"
#include "converters/jc/xvjcm.h"
#include "converters/jc/xvjcs.h"
#include "converters/jc/xvjct.h"
#include "converters/pm/xvpml.h"
#include "converters/pm/xvpmp.h"
#include "converters/pm/xvpmr.h"
#include "converters/pm/xvpmv.h"
#include "converters/pm/xvpmt.h"
#include "converters/pm/xvpmz.h"
#include "converters/pr/xvprm.h"
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
        case 101: converter = std::make_unique<gl::xvGLM>(); break;
        case 102: converter = std::make_unique<gl::xvGLT>(); break;
        case 201: converter = std::make_unique<jc::xvJCS>(); break;
        case 202: converter = std::make_unique<jc::xvJCM>(); break;
        case 203: converter = std::make_unique<jc::xvJCT>(); break;
        case 301: converter = std::make_unique<gl::xvCMM>(); break;
        case 401: converter = std::make_unique<ap::xvAPM>(); break;
        case 402: converter = std::make_unique<ap::xvAPI>(); break;
        case 501: converter = std::make_unique<pr::xvPRM>(); break;
        case 601: converter = std::make_unique<pm::xvPMP>(); break;
        case 602: converter = std::make_unique<pm::xvPML>(); break;
        case 603: converter = std::make_unique<pm::xvPMR>(); break;
        case 604: converter = std::make_unique<pm::xvPMV>(); break;
        case 605: converter = std::make_unique<pm::xvPMT>(); break;
        case 606: converter = std::make_unique<pm::xvPMH>(); break;
        case 607: converter = std::make_unique<pm::xvPMZ>(); break;
        case 701: converter = std::make_unique<ar::xvARM>(); break;
        default:
            ui::current().message(101, "This conversion type is not yet implemented");
            break;
        }
    } catch (const std::bad_alloc&) {
        converter.reset();  // no storage: no converter, and no message
    }
    return converter;
}

bool StoresNumbers(uint16_t code) { return code == 102 || code == 203 || code == 402; }

}  // namespace dz::app
