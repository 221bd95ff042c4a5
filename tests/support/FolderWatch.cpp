#include "tests/support/FolderWatch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace korvane::testing {

bool WaitForFolder(const std::string& folder, const std::function<bool()>& done,
                   std::chrono::milliseconds limit) {
    const int fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd < 0) return done();
    ::inotify_add_watch(fd, folder.c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool ok = done(); // watched first, looked at second: no change can fall between the two
    while (!ok) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) > 0) {
            char events[4096];
            while (::read(fd, events, sizeof events) > 0) {
            }
        }
        ok = done();
    }
    ::close(fd);
    return ok;
}

} // namespace korvane::testing
