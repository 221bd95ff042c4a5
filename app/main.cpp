#include "Application.h"
#include "MainWindow.h"

#include <memory>

int main(int argc, char** argv) {
    korvane::KorvaneApplication app(argc, argv);
    auto window = std::make_unique<korvane::TfrmKorvane>(korvane::TAppPaths::ForThisProgram());
    window->show();
    const int status = app.exec();
    window.reset(); // writes the settings back
    return status;
}
