#pragma once
// A file descriptor with one owner: closed when the owner goes, unless released first.
#include <unistd.h>
#include <utility>

namespace korvane {

class TScopedFd {
public:
    TScopedFd() = default;
    explicit TScopedFd(int fd) : FFd(fd) {}
    ~TScopedFd() { Reset(); }
    TScopedFd(TScopedFd&& other) noexcept : FFd(other.Release()) {}
    TScopedFd& operator=(TScopedFd&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    TScopedFd(const TScopedFd&) = delete;
    TScopedFd& operator=(const TScopedFd&) = delete;

    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    int Release() { return std::exchange(FFd, -1); }
    void Reset(int fd = -1) {
        if (FFd >= 0) ::close(FFd);
        FFd = fd;
    }

private:
    int FFd = -1;
};

// Both ends of a pipe made with pipe2(flags); throws std::system_error when none can be made.
struct TPipe {
    TScopedFd Read, Write;
    explicit TPipe(int flags);
};

} // namespace korvane
