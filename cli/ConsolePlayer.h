#pragma once

#include "media/MciDefs.h"
#include "recorder/RecorderParts.h"

#include <QString>
#include <string>

// The media player without its control: opens, plays, stops and positions a sound file through
// the media system's command entry point, as the window's player does for a sound (no video, no
// button bar, no completion notices).
class ConsolePlayer : public MediaPlayerOps {
public:
    ConsolePlayer() = default;
    ~ConsolePlayer() override;
    ConsolePlayer(const ConsolePlayer &) = delete;
    ConsolePlayer &operator=(const ConsolePlayer &) = delete;

    std::string FileName() const override { return fileName_; }
    void setFileName(const std::string &path) override { fileName_ = path; }
    void OpenDevice() override;
    void CloseDevice() override;
    void setStepFrames(std::int32_t frames) override { stepFrames_ = frames; }
    // A sound has no frames to step through.
    void StepForward() override { requireOpen(); }
    bool NotifyRequest() const override { return notifyRequest_; }
    void setNotifyRequest(bool request) override { notifyRequest_ = request; }
    // A sound has no picture to place.
    void setDisplayArea(const QRect &) override {}
    void setTimeFormatCode(int code) override;
    std::int32_t MediaLength() override;
    void SeekTo(std::int32_t position) override;
    void Cue() override;
    void StartPlayback() override;
    void StopPlayback() override;
    std::int32_t CurrentPosition() override;
    std::string LastError() const override;
    PlaybackFault Fault() override;

    // The media system's words for a result code, as the window's player gives them.
    static std::string ResultText(MCIERROR result);

private:
    void requireOpen() const;
    std::uint32_t status(std::uint32_t item);

    std::string fileName_;
    MCIDEVICEID device_ = 0;
    MCIERROR lastResult_ = MMSYSERR_NOERROR;
    std::int32_t stepFrames_ = 0;
    bool notifyRequest_ = false;
};
