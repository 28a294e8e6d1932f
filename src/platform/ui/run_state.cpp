#include "platform/ui/run_state.h"

namespace dz::ui {
namespace {
RunState g_state;
volatile std::sig_atomic_t g_terminate = 0;
}  // namespace

RunState& run_state() { return g_state; }

void reset_run_state() {
    g_state = RunState{};
    g_terminate = 0;
}

bool InBackground() { return g_state.in_background; }
int CheckTerminate() { return g_terminate ? 1 : 0; }
int MacroStatus() { return g_state.macro_status; }
unsigned Code() { return g_state.code; }

void request_terminate() { g_terminate = 1; }
void clear_terminate() { g_terminate = 0; }

}  // namespace dz::ui
