#include "cli/ConsolePlayer.h"

#include "media/MediaErrors.h"
#include "media/MediaPlayer.h"
#include "media/MediaSystem.h"

#include <algorithm>
#include <climits>

ConsolePlayer::~ConsolePlayer()
{
    if (device_ != 0) {
        MCI_GENERIC_PARMS parms;
        mciSendCommand(device_, MCI_CLOSE, MCI_WAIT, &parms);
    }
}

std::string ConsolePlayer::ResultText(MCIERROR result)
{
    char text[4096];
    if (!mciGetErrorString(result, text, sizeof text))
        return "Unknown error code";
    return text;
}

void ConsolePlayer::requireOpen() const
{
    if (device_ == 0)
        throw EMCIDeviceError("No MCI device open");
}

void ConsolePlayer::OpenDevice()
{
    CloseDevice();
    MCI_OPEN_PARMS parms;
    parms.lpstrElementName = fileName_.c_str();
    lastResult_ = mciSendCommand(0, MCI_OPEN, MCI_WAIT | MCI_OPEN_ELEMENT, &parms);
    if (lastResult_ != MMSYSERR_NOERROR)
        throw EMCIDeviceError(ResultText(lastResult_));
    device_ = parms.wDeviceID;
    stepFrames_ = MediaLength() / 10;
}

void ConsolePlayer::CloseDevice()
{
    if (device_ == 0)
        return;
    MCI_GENERIC_PARMS parms;
    lastResult_ = mciSendCommand(device_, MCI_CLOSE, MCI_WAIT, &parms);
    if (lastResult_ == MMSYSERR_NOERROR)
        device_ = 0;
}

void ConsolePlayer::setTimeFormatCode(int code)
{
    MCI_SET_PARMS parms;
    parms.dwTimeFormat = std::uint8_t(code);
    lastResult_ = mciSendCommand(device_, MCI_SET, MCI_SET_TIME_FORMAT | MCI_WAIT, &parms);
}

std::uint32_t ConsolePlayer::status(std::uint32_t item)
{
    MCI_STATUS_PARMS parms;
    parms.dwItem = item;
    lastResult_ = mciSendCommand(device_, MCI_STATUS, MCI_STATUS_ITEM | MCI_WAIT, &parms);
    return parms.dwReturn;
}

// A length beyond what 32 signed bits hold is the longest one: it still plays for 10 s.
std::int32_t ConsolePlayer::MediaLength()
{
    requireOpen();
    return std::int32_t(std::min<std::uint32_t>(status(MCI_STATUS_LENGTH), INT32_MAX));
}

// With no device open the request fails and the position reads 0.
std::int32_t ConsolePlayer::CurrentPosition() { return std::int32_t(status(MCI_STATUS_POSITION)); }

void ConsolePlayer::SeekTo(std::int32_t position)
{
    requireOpen();
    MCI_SEEK_PARMS parms;
    parms.dwTo = std::uint32_t(position);
    lastResult_ = mciSendCommand(device_, MCI_SEEK, MCI_WAIT | MCI_TO, &parms);
}

void ConsolePlayer::Cue()
{
    requireOpen();
    MCI_GENERIC_PARMS parms;
    lastResult_ = mciSendCommand(device_, MCI_CUE, MCI_WAIT, &parms);
    if (lastResult_ != MMSYSERR_NOERROR)
        throw EMCIDeviceError(ResultText(lastResult_));
}

void ConsolePlayer::StartPlayback()
{
    requireOpen();
    MCI_PLAY_PARMS parms;
    lastResult_ = mciSendCommand(device_, MCI_PLAY, 0, &parms);
}

void ConsolePlayer::StopPlayback()
{
    requireOpen();
    MCI_GENERIC_PARMS parms;
    lastResult_ = mciSendCommand(device_, MCI_STOP, MCI_WAIT, &parms);
}

PlaybackFault ConsolePlayer::Fault()
{
    if (device_ == 0)
        return {};
    const MCIERROR failure = status(MCI_STATUS_FAILURE);
    if (failure == 0)
        return {};
    return {failure == MCIERR_OUTPUT_LOST ? PlaybackFault::OutputLost : PlaybackFault::FileDamaged, CurrentPosition()};
}

std::string ConsolePlayer::LastError() const
{
    return lastResult_ == MMSYSERR_NOERROR ? std::string() : ResultText(lastResult_);
}
