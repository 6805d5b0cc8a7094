#pragma once

#include "base/ExceptionSink.h"

#include <QApplication>
#include <QString>
#include <string>

// The error box's text: the message, with a "." appended when its last character sorts after
// "." (so "Access denied" gains one, "Done." and "Failed " do not). An empty message stays empty.
QString ErrorBoxText(const std::string &message);

// The application object. Its notify() is the top-level exception handler: an exception that
// leaves an event handler is shown in a modal error box captioned with the application title,
// and the program goes on.
class TApplication : public QApplication, public ExceptionSink {
    Q_OBJECT
public:
    static constexpr const char *Title = "Tamblo";
    // The name of the installed desktop entry, by which desktops match the window to it and its icon.
    static constexpr const char *DesktopId = "org.tamblo.Tamblo";

    TApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
    void HandleException(const std::exception &error) override;
};
