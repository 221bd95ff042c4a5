#include "platform/FpControl.h"

#include <cfenv>

namespace korvane {
namespace {

#if defined(__x86_64__) || defined(__i386__)
constexpr std::uint16_t kX87ExceptionMask = 0x003F; // IM DM ZM OM UM PM
constexpr std::uint32_t kSseExceptionMask = 0x1F80; // IM DM ZM OM UM PM
constexpr std::uint32_t kSseStatusFlags = 0x003F;

TFpControl Read() {
    TFpControl c;
    std::uint16_t word = 0;
    std::uint32_t mxcsr = 0;
    asm volatile("fnstcw %0" : "=m"(word));
    asm volatile("stmxcsr %0" : "=m"(mxcsr));
    c.Word = word;
    c.Mxcsr = mxcsr & ~kSseStatusFlags;
    return c;
}

void Write(const TFpControl& c) {
    std::uint16_t word = c.Word;
    std::uint32_t mxcsr = c.Mxcsr & ~kSseStatusFlags; // loading it also clears pending SSE exceptions
    asm volatile("fnclex");
    asm volatile("fldcw %0" : : "m"(word));
    asm volatile("ldmxcsr %0" : : "m"(mxcsr));
}

TFpControl AllMasked(TFpControl c) {
    c.Word |= kX87ExceptionMask;
    c.Mxcsr |= kSseExceptionMask;
    return c;
}
#else
TFpControl Read() {
    TFpControl c;
#if defined(__GLIBC__)
    c.Word = static_cast<std::uint16_t>(fegetexcept() | fegetround());
#else
    c.Word = static_cast<std::uint16_t>(fegetround());
#endif
    return c;
}

void Write(const TFpControl& c) {
    std::feclearexcept(FE_ALL_EXCEPT);
#if defined(__GLIBC__)
    fedisableexcept(FE_ALL_EXCEPT);
    feenableexcept(c.Word & FE_ALL_EXCEPT);
#endif
    std::fesetround(c.Word & ~FE_ALL_EXCEPT);
}

TFpControl AllMasked(TFpControl c) {
    c.Word = static_cast<std::uint16_t>(c.Word & ~FE_ALL_EXCEPT);
    return c;
}
#endif

// Taken while static objects are initialised, before main() and before any library changes the word.
const TFpControl gSaved = Read();

} // namespace

TFpControl SavedFpControl() {
    return gSaved;
}

TFpControl CurrentFpControl() {
    return Read();
}

void SetFpControl(const TFpControl& control) {
    Write(control);
}

void SetFpExceptions(bool enabled) {
    Write(enabled ? gSaved : AllMasked(gSaved));
}

} // namespace korvane
