#include "app/MainWindow.h"
#include "app/TApplication.h"
#include "base/TerminationSignals.h"
#include "cli/CommandLine.h"
#include "cli/CommandLineApp.h"

#include <QIcon>
#include <cstdio>
#include <cstdlib>

namespace {

// Qt would abort with several lines of advice; one line says it.
bool displayAvailable()
{
    const auto set = [](const char *name) {
        const char *value = std::getenv(name);
        return value && *value;
    };
    return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

int runWindow(int argc, char **argv, const std::string &output)
{
    if (!displayAvailable()) {
        std::fprintf(stderr, "tamblo: no graphical display (DISPLAY and WAYLAND_DISPLAY are not set)\n"
                             "Try 'tamblo --help' for the commands that need none.\n");
        return 1;
    }
    TApplication app(argc, argv);
    app.setWindowIcon(QIcon(QStringLiteral(":/tamblo.ico")));
    MainWindow window(nullptr, output);
    // Ending the program by a signal or with the session stops a recording in progress on the
    // device first; Ctrl-Z stops it before the program stands still.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::Arrived, &window, &MainWindow::EndBySignal);
    QObject::connect(&termination, &TerminationSignals::Suspending, &window,
                     [&] { window.Suspend([&termination] { termination.Suspend(); }); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window, &MainWindow::StopRecordingForExit);
    window.show();
    const int status = app.exec();
    return termination.Received() ? 128 + termination.Received() : status;
}

} // namespace

int main(int argc, char **argv)
{
    // A command runs without any display; no arguments, or only the sound output, start the window.
    const std::optional<std::string> output = WindowOutput(argc, argv, std::getenv("TAMBLO_OUTPUT"));
    if (!output)
        return RunCommandLine(argc, argv);
    return runWindow(argc, argv, *output);
}
