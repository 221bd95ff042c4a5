#include "cli/SignalStop.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/Signals.h"

namespace korvane {

TSignalStop::TSignalStop() : FSignalled(WatchTerminationSignals()), FDone(::eventfd(0, EFD_CLOEXEC)) {
    FThread = std::thread([this] {
        pollfd fds[2] = {{FSignalled, POLLIN, 0}, {FDone, POLLIN, 0}};
        while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
        }
        if (fds[0].revents & POLLIN) FSource.request_stop();
    });
}

TSignalStop::~TSignalStop() {
    const std::uint64_t one = 1;
    const ssize_t n = ::write(FDone, &one, sizeof one);
    (void)n;
    FThread.join();
    ::close(FDone);
}

} // namespace korvane
