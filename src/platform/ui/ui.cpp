#include "platform/ui/ui.h"

namespace dz::ui {
namespace {
class SilentUi final : public Ui {
public:
    int message(int kind, const std::string&) override { return kOk; }
};
SilentUi g_silent;
Ui* g_current = &g_silent;
}  // namespace

Ui& current() { return *g_current; }
void set_current(Ui* ui) { g_current = ui ? ui : &g_silent; }

}  // namespace dz::ui
