#include "app/TForm1.h"

#include <cmath>

bool ActiveGSM1 = false;
bool ActiveGSM2 = false;

namespace {

const std::string kRecord1 = "REC1\r\n";
const std::string kRecord2 = "REC2\r\n";
const std::string kStop = "REC\r\n";
const std::string kErase = "ERASE\r\n";

constexpr int kGaugeFull = 100;

// Whole seconds of a length: the division in floating point, truncated toward zero.
std::int64_t wholeSeconds(std::int32_t lengthMs)
{
    return static_cast<std::int64_t>(std::trunc(lengthMs / 1000.0));
}

QString formatLength(std::int64_t seconds, std::int64_t remainder)
{
    return QString::number(seconds) + QLatin1Char('.') + QString::number(remainder)
           + QStringLiteral(" sec.");
}

} // namespace

QString TForm1::LengthText(std::int32_t lengthMs)
{
    const std::int64_t seconds = wholeSeconds(lengthMs);
    return formatLength(seconds, lengthMs - seconds * 1000);
}

int TForm1::GaugeValue(std::int32_t positionMs)
{
    // The default rounding mode: to nearest, ties to even (150 ms -> 2, 250 ms -> 2).
    return static_cast<int>(std::nearbyint(positionMs / 100.0));
}

// The length is read three times, as the label's text is built from separate queries.
QString TForm1::lengthText()
{
    MediaPlayerOps &player = parts_.MediaPlayer1;
    const std::int64_t seconds = wholeSeconds(player.MediaLength());
    const std::int32_t length = player.MediaLength();
    const std::int64_t remainder = length - wholeSeconds(player.MediaLength()) * 1000;
    return formatLength(seconds, remainder);
}

void TForm1::resetLabelColours()
{
    parts_.RecGSM1.setFontColor(NormalColour);
    parts_.RecGSM2.setFontColor(NormalColour);
}

void TForm1::loadSoundFile(bool stopRecordingFirst)
{
    if (parts_.Platform.waveOutGetNumDevs() == 0)
        return;
    if (!parts_.OpenDialog1.Execute())
        return;
    if (stopRecordingFirst) {
        parts_.Timer1.setEnabled(false);
        parts_.ComPort1.SendText(kStop);
        resetLabelColours();
    }
    MediaPlayerOps &player = parts_.MediaPlayer1;
    player.setFileName(parts_.OpenDialog1.FileName());
    player.OpenDevice();
    player.setStepFrames(1);
    player.StepForward();
    player.setNotifyRequest(true);
    player.setDisplayArea(QRect(0, 0, parts_.Panel1.Width(), parts_.Panel1.Height()));
    player.setTimeFormatCode(0);
    parts_.LabelLength.setCaption(lengthText());
    parts_.Fname.setCaption(player.FileName());
}

void TForm1::FnameClick() { loadSoundFile(false); }

void TForm1::kwFlatBtn4Click() { loadSoundFile(true); }

void TForm1::record(const std::string &command, bool gsm1)
{
    parts_.ComPort1.SendText(command);
    parts_.Timer1.setEnabled(true);
    MediaPlayerOps &player = parts_.MediaPlayer1;
    if (player.NotifyRequest()) {
        player.SeekTo(0);
        player.StartPlayback();
    }
    ActiveGSM1 = gsm1;
    ActiveGSM2 = !gsm1;
    if (gsm1) {
        parts_.RecGSM1.setFontColor(RecordingColour);
        parts_.RecGSM2.setFontColor(NormalColour);
    } else {
        parts_.RecGSM2.setFontColor(RecordingColour);
        parts_.RecGSM1.setFontColor(NormalColour);
    }
}

void TForm1::kwFlatBtn1Click() { record(kRecord1, true); }

void TForm1::kwFlatBtn3Click() { record(kRecord2, false); }

void TForm1::kwFlatBtn2Click()
{
    if (parts_.MediaPlayer1.NotifyRequest())
        parts_.MediaPlayer1.StopPlayback();
    parts_.Timer1.setEnabled(false);
    parts_.ComPort1.SendText(kStop);
    resetLabelColours();
}

void TForm1::kwFlatBtn6Click()
{
    if (parts_.MediaPlayer1.NotifyRequest())
        parts_.MediaPlayer1.StopPlayback();
    parts_.Timer1.setEnabled(false);
    parts_.ComPort1.SendText(kErase);
    // Runs on the window's thread on purpose: the gauges repaint synchronously at each step.
    for (GaugeOps *gauge : {&parts_.Gauge1, &parts_.Gauge2}) {
        for (int value = kGaugeFull; value >= 0; --value) {
            gauge->setProgress(value);
            parts_.Platform.Sleep(EraseStepPauseMs);
        }
    }
}

void TForm1::kwFlatBtn5Click()
{
    parts_.Timer1.setEnabled(false);
    parts_.Window.Close();
}

// Each CurrentPosition() below is its own query of the player: the sound moves on between them.
void TForm1::Timer1Timer()
{
    MediaPlayerOps &player = parts_.MediaPlayer1;
    if (player.CurrentPosition() <= 0)
        return;
    if (!player.NotifyRequest())
        return;
    if (ActiveGSM1)
        parts_.Gauge1.setProgress(GaugeValue(player.CurrentPosition()));
    if (ActiveGSM2)
        parts_.Gauge2.setProgress(GaugeValue(player.CurrentPosition()));
    parts_.LCDPosition.setIndicatorstring(QString::number(player.CurrentPosition()));
    if (player.CurrentPosition() < RecordLimitMs && player.CurrentPosition() < player.MediaLength())
        return;
    if (player.NotifyRequest())
        player.StopPlayback();
    parts_.Timer1.setEnabled(false);
    parts_.ComPort1.SendText(kStop);
    resetLabelColours();
}

void TForm1::FormCreate()
{
    if (parts_.Platform.waveOutGetNumDevs() == 0)
        parts_.Platform.ShowMessage(QStringLiteral("Sound card is not installed"));
    else
        parts_.MediaPlayer1.setNotifyRequest(false);
    parts_.Image1.setTransparent(true);
}

void TForm1::FormClose() { parts_.Timer1.setEnabled(false); }
