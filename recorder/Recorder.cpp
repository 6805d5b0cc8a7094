#include "recorder/Recorder.h"

#include "base/Exception.h"

#include <cmath>
#include <exception>

bool ActiveGSM1 = false;
bool ActiveGSM2 = false;

namespace {

constexpr int kGaugeFull = 100;

// Whole seconds of a length: the division in floating point, truncated toward zero.
std::int64_t wholeSeconds(std::int32_t lengthMs) { return static_cast<std::int64_t>(std::trunc(lengthMs / 1000.0)); }

// The milliseconds are widened to three digits: 5030 ms reads "5.030 sec.", not "5.30 sec.".
QString formatLength(std::int64_t seconds, std::int64_t remainder)
{
    return QString::number(seconds) + QLatin1Char('.') + QStringLiteral("%1").arg(remainder, 3, 10, QLatin1Char('0'))
           + QStringLiteral(" sec.");
}

} // namespace

QString Recorder::LengthText(std::int32_t lengthMs)
{
    const std::int64_t seconds = wholeSeconds(lengthMs);
    return formatLength(seconds, lengthMs - seconds * 1000);
}

int Recorder::GaugeValue(std::int32_t positionMs)
{
    // The default rounding mode: to nearest, ties to even (150 ms -> 2, 250 ms -> 2).
    return static_cast<int>(std::nearbyint(positionMs / 100.0));
}

std::string Recorder::EmptyFileMessage(const QString &fileName)
{
    return "The sound file is empty: " + fileName.toStdString();
}

// The length is read three times, as the label's text is built from separate queries.
QString Recorder::lengthText(std::int32_t &length)
{
    MediaPlayerOps &player = parts_.MediaPlayer1;
    const std::int64_t seconds = wholeSeconds(player.MediaLength());
    length = player.MediaLength();
    const std::int64_t remainder = length - wholeSeconds(player.MediaLength()) * 1000;
    return formatLength(seconds, remainder);
}

void Recorder::resetLabelColours()
{
    parts_.RecGSM1.setFontColor(NormalColour);
    parts_.RecGSM2.setFontColor(NormalColour);
}

// Runs a player call whose failure must not keep a device command from going out: the failure is
// held and raised once the command is on its way.
std::exception_ptr Recorder::stopPlayback()
{
    if (!parts_.MediaPlayer1.NotifyRequest())
        return nullptr;
    try {
        parts_.MediaPlayer1.StopPlayback();
    } catch (const std::exception &) {
        return std::current_exception();
    }
    return nullptr;
}

void Recorder::send(DeviceCommand command) { parts_.ComPort1.SendText(CommandText(command)); }

void Recorder::stopRecording()
{
    const std::exception_ptr failure = stopPlayback();
    parts_.Timer1.setEnabled(false);
    send(DeviceCommand::Stop);
    resetLabelColours();
    if (failure)
        std::rethrow_exception(failure);
}

bool Recorder::CanLoad() { return parts_.Platform.waveOutGetNumDevs() != 0; }

void Recorder::Load(const QString &file)
{
    MediaPlayerOps &player = parts_.MediaPlayer1;
    player.setFileName(file);
    player.OpenDevice();
    player.setStepFrames(1);
    player.StepForward();
    player.setNotifyRequest(true);
    player.setDisplayArea(QRect(0, 0, parts_.Panel1.Width(), parts_.Panel1.Height()));
    player.setTimeFormatCode(0);
    std::int32_t length = 0;
    const QString text = lengthText(length);
    if (length <= 0) {
        player.CloseDevice();
        throw Exception(EmptyFileMessage(player.FileName()));
    }
    parts_.LabelLength.setCaption(text);
    parts_.Fname.setCaption(player.FileName());
}

void Recorder::Record(int channel)
{
    send(RecordCommand(channel));
    parts_.Timer1.setEnabled(true);
    MediaPlayerOps &player = parts_.MediaPlayer1;
    if (player.NotifyRequest()) {
        // The device records from now on: if the sound cannot start, it is stopped at once.
        try {
            player.SeekTo(0);
            player.StartPlayback();
            const std::string failure = player.LastError();
            if (!failure.empty())
                throw Exception(failure);
        } catch (const std::exception &) {
            parts_.Timer1.setEnabled(false);
            send(DeviceCommand::Stop);
            throw;
        }
    }
    const bool gsm1 = channel == 1;
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

void Recorder::Stop() { stopRecording(); }

void Recorder::Erase()
{
    const std::exception_ptr failure = stopPlayback();
    parts_.Timer1.setEnabled(false);
    send(DeviceCommand::Erase);
    // Runs on the window's thread on purpose: the gauges repaint synchronously at each step.
    for (GaugeOps *gauge : {&parts_.Gauge1, &parts_.Gauge2}) {
        for (int value = kGaugeFull; value >= 0; --value) {
            gauge->setProgress(value);
            parts_.Platform.Sleep(EraseStepPauseMs);
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

void Recorder::Leave()
{
    if (parts_.Timer1.Enabled())
        stopRecording();
    parts_.Timer1.setEnabled(false);
}

// Each CurrentPosition() below is its own query of the player: the sound moves on between them.
void Recorder::Tick()
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
    stopRecording();
}

void Recorder::Start()
{
    if (parts_.Platform.waveOutGetNumDevs() == 0)
        parts_.Platform.ShowMessage(QStringLiteral("Sound card is not installed"));
    else
        parts_.MediaPlayer1.setNotifyRequest(false);
}
