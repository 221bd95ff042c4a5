#pragma once
// korvane-capture's lines for the terminal or a pipe: control characters escaped (URLs come from anywhere),
// a progress line on a terminal that the next line clears, and a stream whose reader has gone (EPIPE,
// `| head -1`) gets no more lines while the run goes on.
#include <iosfwd>
#include <string>

namespace korvane {

struct TBatchProgress;

class TConsole {
public:
    // A line of standard output (the written files).
    void Out(const std::string& line);
    // A message on standard error, after the program's name.
    void Err(const std::string& line);
    // The summary line, without the program's name.
    void Summary(const std::string& line);
    void Progress(const TBatchProgress& progress);

private:
    std::string ClearProgress();
    static void Put(std::ostream& stream, bool& open, const std::string& text);
    bool FOutOpen = true, FErrOpen = true, FProgressShown = false;
};

// A number of seconds with one decimal.
std::string OneDecimal(double value);

} // namespace korvane
