#include "cli/Console.h"

#include <cstdio>
#include <iostream>
#include <utility>

#include "cli/BatchRunner.h"
#include "platform/Text.h"

namespace korvane {

void TConsole::Out(const std::string& line) {
    Put(std::cout, FOutOpen, EscapeControlCharacters(line) + "\n");
}

void TConsole::Err(const std::string& line) {
    Put(std::cerr, FErrOpen, ClearProgress() + "korvane-capture: " + EscapeControlCharacters(line) + "\n");
}

void TConsole::Summary(const std::string& line) {
    Put(std::cerr, FErrOpen, ClearProgress() + line + "\n");
}

void TConsole::Progress(const TBatchProgress& p) {
    char head[64];
    std::snprintf(head, sizeof head, "[%zu/%zu] %.1f s  ", p.Done, p.Total, p.Elapsed);
    Put(std::cerr, FErrOpen, "\r\033[K" + std::string(head) + EscapeControlCharacters(p.Current));
    FProgressShown = true;
}

std::string TConsole::ClearProgress() {
    return std::exchange(FProgressShown, false) ? "\r\033[K" : "";
}

void TConsole::Put(std::ostream& stream, bool& open, const std::string& text) {
    if (!open) return;
    stream << text << std::flush;
    if (!stream) open = false;
}

std::string OneDecimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

} // namespace korvane
