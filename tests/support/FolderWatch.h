#pragma once
// Waiting for something to happen in a folder (a file made, written or renamed there), told by the kernel
// (inotify) instead of looked for again and again.
#include <chrono>
#include <functional>
#include <string>

namespace korvane::testing {

// Returns once `done` is true, looking again each time the folder changes; false when it is still not true
// after `limit`.
bool WaitForFolder(const std::string& folder, const std::function<bool()>& done,
                   std::chrono::milliseconds limit = std::chrono::seconds(30));

} // namespace korvane::testing
