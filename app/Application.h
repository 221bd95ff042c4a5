#pragma once
// The application object. Every exception that escapes an event handler ends up in ReportCurrentException,
// which shows the standard error box with the error's text; the program goes on.
#include <QApplication>

#include <exception>
#include <utility>

namespace korvane {

class KorvaneApplication : public QApplication {
public:
    KorvaneApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the exception being handled in the standard error box. Call only inside a catch block.
void ReportCurrentException() noexcept;

// Sets up what every start of the program needs: the title, the font substitutes.
void PrepareApplication();

// Wraps a handler so that no exception leaves it into Qt: what it throws is reported like an escaped error.
template <class F> auto Guarded(F handler) {
    return [handler = std::move(handler)]() {
        try {
            handler();
        } catch (...) {
            ReportCurrentException();
        }
    };
}

} // namespace korvane
