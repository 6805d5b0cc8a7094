#include "app/TApplication.h"

#include "base/Exception.h"

#include <QMessageBox>
#include <new>

QString ErrorBoxText(const std::string &message)
{
    QString text = QString::fromStdString(message);
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        text += QLatin1Char('.');
    return text;
}

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    setApplicationName(QString::fromLatin1(Title));
    setDesktopFileName(QString::fromLatin1(DesktopId));
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &error) {
        HandleException(error);
    }
    return false;
}

void TApplication::HandleException(const std::exception &error)
{
    // Memory running out in the runtime reads as the program's own out-of-memory error.
    const std::string message =
        dynamic_cast<const std::bad_alloc *>(&error) ? EOutOfMemory().Message() : std::string(error.what());
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(Title), ErrorBoxText(message), QMessageBox::Ok,
                    activeWindow());
    box.exec();
}
