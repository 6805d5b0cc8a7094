#pragma once

#include "media/AudioOutput.h"
#include "media/Decoder.h"
#include "media/MciDefs.h"
#include "media/SoundFile.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QObject;

// One open sound: its decoder, its output and its play state. The output thread renders while
// the commands come from the caller's thread; they meet under the output's lock. The position
// is the sound that has left the output, not the frames handed to it: a play ends, and its
// position reaches its end, when its last frame has been played. A play that is cut short (stop,
// pause, seek, close, a MIDI song whose notes ring past its end) fades out over a few
// milliseconds instead of cutting the wave, and the command returns once the fade has been
// played. Position and mode can be read from any thread without waiting for the output. A play
// can be cued: the output is opened and filled with the sound's start while it waits, so that the
// play that follows is heard at once.
class MediaDevice final : public AudioSource {
public:
    // How long the sound takes to fall silent where a play is cut short.
    static constexpr int fadeMilliseconds = 4;

    // Opens the sound file; when kind is given, the file must be of that kind.
    static MCIERROR Open(MCIDEVICEID id, const std::string &path, std::optional<SoundKind> kind,
                         std::unique_ptr<MediaDevice> &device);
    ~MediaDevice() override;

    MCIDEVICEID Id() const { return id_; }

    MCIERROR Play(std::uint32_t flags, const MCI_PLAY_PARMS &parms);
    // Readies a play from the current position: fails, as the play would, when there is no
    // output; the next play without MCI_FROM or MCI_TO (or from the same place) then starts
    // within milliseconds. A seek, stop or close lets it go.
    MCIERROR Cue();
    MCIERROR Stop();
    MCIERROR Pause();
    MCIERROR Resume(std::uint32_t flags, const MCI_GENERIC_PARMS &parms);
    MCIERROR Seek(std::uint32_t flags, const MCI_SEEK_PARMS &parms);
    MCIERROR Status(std::uint32_t flags, MCI_STATUS_PARMS &parms);
    MCIERROR Set(std::uint32_t flags, const MCI_SET_PARMS &parms);
    MCIERROR GetDevCaps(std::uint32_t flags, MCI_GETDEVCAPS_PARMS &parms) const;
    // Ends playback (fading out) and aborts a pending notice; the device is about to close.
    void Shutdown();
    // Closes the sound output while nothing plays, so that an idle device costs nothing; the
    // next play opens it again. Runs on the commands' thread.
    void ReleaseIdleOutput();

    // The moment the first frame with sound after the latest play was handed to the output.
    std::optional<std::chrono::steady_clock::time_point> FirstSoundTime() const;

    void Render(float *out, int frames, std::int64_t first, std::chrono::steady_clock::time_point when) override;
    void OutputLost(std::int64_t played) override;
    bool TakeBack(std::int64_t from, std::int64_t to, float *out) override;
    std::int64_t SoundLeft() override;

private:
    MediaDevice() = default;

    // Conversions between the device's time format and frames; positions in milliseconds round
    // up to a frame so that reading the position back gives the same milliseconds.
    bool ToFrames(std::uint32_t value, std::int64_t &frames) const;
    std::uint32_t FromFrames(std::int64_t frames) const;
    MCIERROR OpenOutput();
    // Closes the output; on the commands' thread, with no lock held.
    void CloseOutput();
    // Lets a cued play go: what was handed to the output is dropped with it, and the sound
    // stands where the cue found it.
    void DropCue();
    // On the commands' thread: an output that went without telling (a removed device) is lost.
    void CheckOutput();
    MCIERROR StartHanding(std::uint32_t flags, QObject *callback, std::int64_t from, std::int64_t to, bool cue = false);
    MCIERROR WaitIfAsked(std::uint32_t flags);
    // Under the output lock: stops playing and ends the pending notice, if any, with these flags
    // (and the reason of a failure).
    void EndPlayLocked(unsigned noticeFlags, MCIERROR error = 0);
    // Under the output lock: the sound being handed fades out from here.
    void FadeOutLocked();
    // Where a play from `from` to `to` starts to fade out, or -1 when it plays to the file's end.
    std::int64_t FadeStart(std::int64_t from, std::int64_t to) const;
    // Fades out a running play, ends it (aborting its notice) and waits until the fade is heard.
    void EndFadingOut();
    // Waits until the sound handed so far has been played (or the output has stalled for long).
    void WaitUntilPlayed();
    void WakeWaiters();
    bool Playing() const { return mode_ == MCI_MODE_PLAY || mode_ == MCI_MODE_PAUSE; }
    // Under progressMutex_: positions given output frames played.
    std::int64_t PositionLocked(std::chrono::steady_clock::time_point now) const;
    std::int64_t PositionAtLocked(std::int64_t played) const;
    bool PlayedLocked(std::chrono::steady_clock::time_point now) const;
    std::int64_t OutputPlayedLocked(std::chrono::steady_clock::time_point now) const;
    void StartSegmentLocked();

    // Holds the output's lock while there is an output; without one no output thread runs.
    class OutputLock {
    public:
        explicit OutputLock(MediaDevice &device);

    private:
        std::optional<AudioOutput::Lock> lock_;
    };

    MCIDEVICEID id_ = 0;
    SoundKind kind_ = SoundKind::Wave;
    std::unique_ptr<Decoder> decoder_;
    int rate_ = 0;
    int channels_ = 0;
    std::int64_t fadeFrames_ = 0;
    // The sound's length; it shrinks to where the data ends when the file is cut short.
    std::atomic<std::int64_t> frames_{0};

    std::atomic<std::uint32_t> mode_{MCI_MODE_STOP};
    std::atomic<std::uint32_t> timeFormat_{MCI_FORMAT_MILLISECONDS};
    std::atomic<bool> awaitingSound_{false};
    std::atomic<std::int64_t> firstSound_{0}; // steady_clock ticks; 0 = not yet
    // Whether the output thread is taking sound from the decoder; changed under the output lock.
    std::atomic<bool> handing_{false};
    // Changed only under the output lock.
    std::int64_t playTo_ = 0;    // where the play asked to end
    std::int64_t end_ = 0;       // where the sound being handed ends (earlier when it fades out)
    std::int64_t fadeFrom_ = -1; // where it starts to fade, if it does
    MCIERROR playError_ = 0;     // why the sound ended early, reported when it has been played
    bool cued_ = false;          // a play is cued from cueFrom_ and waits for its start
    std::int64_t cueFrom_ = 0;
    // Why the latest play ended early, from the moment that is known (0: it did not).
    std::atomic<MCIERROR> failure_{0};
    QObject *pending_ = nullptr; // receiver of the running play's notice
    // The latest frames handed to the output, by output frame, for a fade of what it still holds.
    std::vector<float> history_;
    std::int64_t historyFrames_ = 0;

    // What has left the output. The sound handed to it since the latest play (or resume) is one
    // segment: it starts at sound frame segmentFrom_, and its frames went out as output frames
    // segmentOut_ (-1: none yet) to segmentEnd_.
    mutable std::mutex progressMutex_;
    std::int64_t handed_ = 0; // the sound frame that the output takes next
    bool segment_ = false;
    std::int64_t segmentFrom_ = 0;
    std::int64_t segmentOut_ = -1;
    std::int64_t segmentEnd_ = 0;

    std::mutex waitMutex_;
    std::condition_variable progressed_;

    // Last, so that it goes first: the output thread has ended before anything it uses is freed.
    // Open from the file's opening until its play ends, and again while it plays; only the
    // commands' thread opens and closes it, under progressMutex_, so that the position can be
    // read from any thread.
    std::unique_ptr<AudioOutput> output_;
};
