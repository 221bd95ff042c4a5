#pragma once
// Tells ThreadSanitizer of a hand-over between threads that goes through code it cannot see (Qt's event
// queue and locks are not built with it): what one thread did before HandOver(x) happens before what another
// does after TakeOver(x). Nothing in a build without the sanitizer.
#if defined(__SANITIZE_THREAD__)
#define KORVANE_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KORVANE_THREAD_SANITIZER 1
#endif
#endif

#ifdef KORVANE_THREAD_SANITIZER
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace korvane {

inline void HandOver([[maybe_unused]] const void* token) {
#ifdef KORVANE_THREAD_SANITIZER
    __tsan_release(const_cast<void*>(token));
#endif
}

inline void TakeOver([[maybe_unused]] const void* token) {
#ifdef KORVANE_THREAD_SANITIZER
    __tsan_acquire(const_cast<void*>(token));
#endif
}

} // namespace korvane
