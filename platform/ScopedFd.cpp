#include "platform/ScopedFd.h"

#include <cerrno>
#include <system_error>
#include <unistd.h>

namespace korvane {

TPipe::TPipe(int flags) {
    int fds[2];
    if (::pipe2(fds, flags) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
    Read.Reset(fds[0]);
    Write.Reset(fds[1]);
}

} // namespace korvane
