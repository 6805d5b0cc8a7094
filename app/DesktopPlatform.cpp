#include "app/DesktopPlatform.h"

#include "app/TApplication.h"
#include "media/SoundCards.h"

#include <QMessageBox>
#include <chrono>
#include <thread>

unsigned DesktopPlatform::waveOutGetNumDevs() { return ::waveOutGetNumDevs(); }

void DesktopPlatform::Sleep(unsigned milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void DesktopPlatform::ShowMessage(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(TApplication::Title), text, QMessageBox::Ok);
    box.exec();
}
