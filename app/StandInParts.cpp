// TEMPORARY: see StandInParts.h.
#include "app/StandInParts.h"

#include "base/Exception.h"
#include "media/SoundCards.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPalette>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

QLabel *makeLabel(QWidget *window, const QString &text, int x, int y, int w, int h)
{
    auto *label = new QLabel(text, window);
    label->setGeometry(x, y, w, h);
    return label;
}

} // namespace

StandInParts::StandInParts(QWidget *window)
{
    makeLabel(window, QStringLiteral("File:"), 24, 32, 19, 13);
    fname = makeLabel(window, QStringLiteral("---------"), 64, 32, 265, 13);
    makeLabel(window, QStringLiteral("Length:"), 24, 56, 36, 13);
    labelLength_.label = makeLabel(window, QStringLiteral("00.00 sec."), 64, 56, 80, 13);
    makeLabel(window, QStringLiteral("Position [ms]:"), 24, 80, 62, 13);
    display_.label = makeLabel(window, QStringLiteral("000000"), 88, 72, 120, 30);
    recGsm1_.label = makeLabel(window, QStringLiteral("GSM1"), 232, 88, 30, 13);
    recGsm2_.label = makeLabel(window, QStringLiteral("GSM2"), 272, 88, 30, 13);
    fname_.label = fname;
    for (QProgressBar **bar : {&gauge1_.bar, &gauge2_.bar}) {
        *bar = new QProgressBar(window);
        (*bar)->setOrientation(Qt::Vertical);
    }
    gauge1_.bar->setGeometry(232, 48, 25, 41);
    gauge2_.bar->setGeometry(272, 48, 25, 41);
    const char *captions[6] = {"GSM1", "Stop", "GSM2", "List", "Exit", "Erase"};
    const int lefts[6] = {232, 296, 264, 168, 352, 200};
    for (int i = 0; i < 6; ++i) {
        buttons[i] = new QPushButton(QString::fromLatin1(captions[i]), window);
        buttons[i]->setGeometry(lefts[i], i == 4 ? 32 : 120, 33, 25);
    }
    timer.setInterval(10);
    timer.setTimerType(Qt::PreciseTimer);
    timerOps_.timer = &timer;
    dialog_.parent = window;
    windowOps_.window = window;
    platform_.parent = window;
}

FormParts StandInParts::Parts()
{
    return FormParts{serial_,  player_,  dialog_, timerOps_,     gauge1_,  gauge2_,
                     display_, recGsm1_, recGsm2_, fname_,        labelLength_, panel_,
                     picture_, windowOps_, platform_};
}

void StandInParts::Serial::SendText(const std::string &text)
{
    std::fprintf(stderr, "serial (stand-in): %s", text.c_str());
}

void StandInParts::Player::OpenDevice()
{
    throw Exception("Sound playback is not available in this build");
}

std::int32_t StandInParts::Player::MediaLength()
{
    throw Exception("No MCI device open");
}

void StandInParts::Player::SeekTo(std::int32_t) { throw Exception("No MCI device open"); }
void StandInParts::Player::StartPlayback() { throw Exception("No MCI device open"); }
void StandInParts::Player::StopPlayback() { throw Exception("No MCI device open"); }

bool StandInParts::Dialog::Execute()
{
    chosen = QFileDialog::getOpenFileName(parent, QString(), QStringLiteral("vesk"),
                                          QStringLiteral("wav (*.wav);;midi (*.mid);;mp3 (*.mp3);;rmi (*.rmi)"),
                                          nullptr, QFileDialog::DontUseNativeDialog);
    return !chosen.isEmpty();
}

void StandInParts::Timer::setEnabled(bool enabled)
{
    if (enabled && !timer->isActive())
        timer->start();
    else if (!enabled)
        timer->stop();
}

void StandInParts::Gauge::setProgress(int progress)
{
    bar->setValue(std::clamp(progress, 0, 100));
    bar->repaint();
}

void StandInParts::Display::setIndicatorstring(const QString &text) { label->setText(text); }

void StandInParts::Label::setFontColor(TColor colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, ToQColor(colour));
    label->setPalette(palette);
}

void StandInParts::Label::setCaption(const QString &caption) { label->setText(caption); }

void StandInParts::Window::Close() { window->close(); }

unsigned StandInParts::Platform::waveOutGetNumDevs() { return ::waveOutGetNumDevs(); }

void StandInParts::Platform::Sleep(unsigned milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void StandInParts::Platform::ShowMessage(const QString &text)
{
    QMessageBox::information(parent, QString(), text);
}
