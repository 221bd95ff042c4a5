#include "Application.h"
#include "MainWindow.h"
#include "Program.h"
#include "platform/Signals.h"

int main(int argc, char** argv) {
    korvane::KorvaneApplication app(argc, argv);
    const int status = korvane::RunWindow(korvane::TAppPaths::ForThisProgram());
    // Told to end by a signal: everything is cleared up, and the program now ends as the signal says.
    if (const int signal = korvane::TerminationSignal()) korvane::RaiseDefault(signal);
    return status;
}
