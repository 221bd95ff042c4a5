#include "browser/DevToolsTransport.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include "browser/EngineError.h"
#include "platform/Translate.h"

namespace korvane {
namespace {

using Clock = std::chrono::steady_clock;

// write(2) with SIGPIPE held back, so that a browser that went away shows as EPIPE, not as a dead program.
ssize_t WriteNoSigpipe(int fd, const char* data, std::size_t size) {
    sigset_t pipeSet, old;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE);
    ssize_t n = ::write(fd, data, size);
    const int err = errno;
    if (n < 0 && err == EPIPE && !wasPending) {
        timespec zero{};
        sigtimedwait(&pipeSet, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = err;
    return n;
}

class TPipeTransport final : public IDevToolsTransport {
public:
    TPipeTransport(int readFd, int writeFd, bool ownFds) : FRead(readFd), FWrite(writeFd), FOwn(ownFds) {}
    ~TPipeTransport() override {
        if (!FOwn) return;
        if (FRead >= 0) ::close(FRead);
        if (FWrite >= 0 && FWrite != FRead) ::close(FWrite);
    }

    int Fd() const override { return FRead; }

    TDevToolsReader::TReadResult Receive(const TSink& sink, std::string*) override {
        const auto result = FReader.ReadFrom(FRead);
        FReader.Drain(sink);
        if (FReader.Oversized()) {
            FOversized += FReader.Oversized();
            FReader.Reset();
        }
        return result;
    }

    void SendMessage(std::string text) override {
        text.push_back('\0');
        std::string_view bytes = text;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!bytes.empty()) {
            const ssize_t n = WriteNoSigpipe(FWrite, bytes.data(), bytes.size());
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                pollfd p{FWrite, POLLOUT, 0};
                if (left > 0 && ::poll(&p, 1, static_cast<int>(left)) > 0 &&
                    !(p.revents & (POLLERR | POLLHUP)))
                    continue;
                throw EEngineError(Tr("The browser stopped reading its commands"));
            }
            throw EEngineError(Tr("The browser ended unexpectedly"));
        }
    }

    std::size_t Oversized() const override { return FOversized; }

private:
    int FRead, FWrite;
    bool FOwn;
    TDevToolsReader FReader;
    std::size_t FOversized = 0;
};

} // namespace

std::unique_ptr<IDevToolsTransport> MakePipeTransport(int readFd, int writeFd, bool ownFds) {
    return std::make_unique<TPipeTransport>(readFd, writeFd, ownFds);
}

} // namespace korvane
