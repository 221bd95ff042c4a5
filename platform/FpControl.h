#pragma once
// The processor's floating-point control word. The word in force when the process started is saved before
// main() runs; switching exceptions on again restores exactly that word, so the program never unmasks an
// exception that the process did not start with.
#include <cstdint>

namespace korvane {

// The floating-point state that governs exceptions, precision and rounding. On x86 this is the x87 control
// word and the SSE MXCSR register; elsewhere the word holds the enabled exceptions and the rounding mode.
struct TFpControl {
    std::uint16_t Word = 0;  // x87 control word (x86) or enabled-exception bits | rounding mode
    std::uint32_t Mxcsr = 0; // SSE control/status register without its status flags (x86 only)
    bool operator==(const TFpControl&) const = default;
};

// The state saved at process start.
TFpControl SavedFpControl();
// The state in force now.
TFpControl CurrentFpControl();
// Sets the state; pending floating-point exceptions are cleared first.
void SetFpControl(const TFpControl& control);
// True restores the saved state; False masks all floating-point exceptions and keeps precision and rounding.
// Pending exceptions are cleared first in both cases.
void SetFpExceptions(bool enabled);

} // namespace korvane
