#pragma once
// Turns SIGINT, SIGTERM and SIGHUP into a stop of the run, which then ends on its normal path (no part of a
// file stays, the browser ends); the program then ends as the signal says.
#include <stop_token>
#include <thread>

namespace korvane {

class TSignalStop {
public:
    TSignalStop();
    ~TSignalStop();
    TSignalStop(const TSignalStop&) = delete;
    TSignalStop& operator=(const TSignalStop&) = delete;
    std::stop_token Token() const { return FSource.get_token(); }

private:
    int FSignalled, FDone;
    std::stop_source FSource;
    std::thread FThread;
};

} // namespace korvane
