#include "media/MediaDevice.h"

#include "media/MciNotify.h"
#include "media/MediaSystem.h"
#include "media/PlaybackSink.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
// How long an output outlives the end of its play.
constexpr std::chrono::milliseconds idleOutputDelay{500};
} // namespace

MCIERROR MediaDevice::Open(MCIDEVICEID id, const std::string &path, std::optional<SoundKind> kind,
                           std::unique_ptr<MediaDevice> &device)
{
    std::unique_ptr<MediaDevice> opened(new MediaDevice);
    opened->id_ = id;
    MCIERROR result = OpenSoundFile(path, opened->decoder_, opened->kind_);
    if (result != MMSYSERR_NOERROR)
        return result;
    if (kind && (*kind == SoundKind::Midi) != (opened->kind_ == SoundKind::Midi))
        return MCIERR_INVALID_FILE;
    opened->rate_ = opened->decoder_->SampleRate();
    opened->channels_ = opened->decoder_->Channels();
    opened->frames_ = opened->decoder_->Frames();
    opened->end_ = opened->playTo_ = opened->frames_;
    opened->fadeFrames_ = std::max<std::int64_t>(1, std::int64_t(opened->rate_) * fadeMilliseconds / 1000);
    // Half a second: more than any output holds.
    // What an output may still hold when the sound is cut short: all of it can be taken back.
    opened->historyFrames_ = std::max<std::int64_t>(1, std::int64_t(opened->rate_) * AudioOutput::holdsAtMostMs / 1000);
    opened->history_.assign(std::size_t(opened->historyFrames_) * std::size_t(opened->channels_), 0.0f);
    result = opened->OpenOutput();
    if (result != MMSYSERR_NOERROR)
        return result;
    device = std::move(opened);
    return MMSYSERR_NOERROR;
}

MediaDevice::~MediaDevice() { output_.reset(); }

MCIERROR MediaDevice::OpenOutput()
{
    std::unique_ptr<AudioOutput> output;
    const MCIERROR result = AudioOutput::Open(rate_, channels_, *this, output, PlaybackSink());
    if (result != MMSYSERR_NOERROR)
        return result;
    CloseOutput();
    // The count follows the output from its first frame on; until then it plays silence.
    AudioOutput::Lock lock(*output);
    std::lock_guard<std::mutex> progress(progressMutex_);
    segment_ = false;
    output_ = std::move(output);
    return MMSYSERR_NOERROR;
}

void MediaDevice::CloseOutput()
{
    std::unique_ptr<AudioOutput> closing;
    {
        std::lock_guard<std::mutex> progress(progressMutex_);
        closing = std::move(output_);
        segment_ = false;
    }
    // Outside the lock: closing waits for the output's thread, which may be waiting for it.
    closing.reset();
}

void MediaDevice::DropCue()
{
    if (!cued_)
        return;
    CloseOutput();
    std::lock_guard<std::mutex> progress(progressMutex_);
    cued_ = false;
    handing_ = false;
    awaitingSound_ = false;
    if (handed_ != cueFrom_ && decoder_->Seek(cueFrom_))
        handed_ = cueFrom_;
}

void MediaDevice::CheckOutput()
{
    if (!output_ || !Playing() || !output_->Lost())
        return;
    AudioOutput::Lock lock(*output_);
    std::int64_t played = 0;
    {
        std::lock_guard<std::mutex> progress(progressMutex_);
        played = OutputPlayedLocked(std::chrono::steady_clock::now());
    }
    if (mode_ != MCI_MODE_STOP) // the output may have told of it meanwhile
        OutputLost(played);
}

MediaDevice::OutputLock::OutputLock(MediaDevice &device)
{
    if (device.output_)
        lock_.emplace(*device.output_);
}

void MediaDevice::Shutdown()
{
    DropCue();
    EndFadingOut();
}

void MediaDevice::EndFadingOut()
{
    // The output may hold the whole rest of the sound, handed ahead: it falls silent now, not
    // once all of that has played.
    if (output_ && mode_ == MCI_MODE_PLAY)
        output_->FadeHeldSound();
    {
        OutputLock lock(*this);
        FadeOutLocked();
        EndPlayLocked(MCI_NOTIFY_ABORTED);
    }
    WaitUntilPlayed();
}

void MediaDevice::ReleaseIdleOutput()
{
    if (!output_ || Playing() || handing_ || cued_)
        return;
    {
        std::lock_guard<std::mutex> progress(progressMutex_);
        if (!PlayedLocked(std::chrono::steady_clock::now()))
            return;
    }
    CloseOutput();
}

bool MediaDevice::ToFrames(std::uint32_t value, std::int64_t &frames) const
{
    if (timeFormat_ == MCI_FORMAT_SAMPLES)
        frames = value;
    else
        frames = (std::int64_t(value) * rate_ + 999) / 1000;
    return frames <= frames_;
}

std::uint32_t MediaDevice::FromFrames(std::int64_t frames) const
{
    if (timeFormat_ == MCI_FORMAT_SAMPLES)
        return std::uint32_t(frames);
    return std::uint32_t(frames * 1000 / rate_);
}

void MediaDevice::EndPlayLocked(unsigned noticeFlags, MCIERROR error)
{
    const bool wasPlaying = Playing();
    if (wasPlaying)
        mode_ = MCI_MODE_STOP;
    PostMciNotify(std::exchange(pending_, nullptr), noticeFlags, id_, error);
    WakeWaiters();
    // The output is closed on the commands' thread, never from its own thread (which may be the
    // one running here), and a while later: closing waits for the buffer being played, and the
    // commands that follow the end of a sound should not wait for that. The device is looked up
    // again then, as it may have been closed or be playing again.
    if (wasPlaying && QCoreApplication::instance() != nullptr) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [id = id_] {
                QTimer::singleShot(idleOutputDelay, QCoreApplication::instance(),
                                   [id] { MediaSystem::Instance().ReleaseIdleOutput(id); });
            },
            Qt::QueuedConnection);
    }
}

void MediaDevice::FadeOutLocked()
{
    if (!handing_)
        return;
    std::int64_t position = 0;
    {
        std::lock_guard<std::mutex> progress(progressMutex_);
        position = handed_;
    }
    // A fade already under way, or an end nearer than a fade, stays; the sound then ends there.
    const std::int64_t end = std::min(end_, position + fadeFrames_);
    if (fadeFrom_ < 0 || end < end_) {
        fadeFrom_ = position;
        end_ = end;
    }
}

// A play that ends where the sound goes on (before the file's end, or a song whose notes ring
// past its last event) fades out over its last few milliseconds.
std::int64_t MediaDevice::FadeStart(std::int64_t from, std::int64_t to) const
{
    return (to < frames_ || kind_ == SoundKind::Midi) ? std::max(from, to - fadeFrames_) : -1;
}

void MediaDevice::WakeWaiters()
{
    std::lock_guard<std::mutex> guard(waitMutex_);
    progressed_.notify_all();
}

void MediaDevice::WaitUntilPlayed()
{
    using Clock = std::chrono::steady_clock;
    // An output that stops taking sound (a server gone away) must not hold the command for ever.
    const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(1);
    std::unique_lock<std::mutex> guard(waitMutex_);
    for (;;) {
        const Clock::time_point now = Clock::now();
        std::int64_t left = 0;
        {
            std::lock_guard<std::mutex> progress(progressMutex_);
            if (!handing_ && PlayedLocked(now))
                return;
            if (output_ && segment_ && segmentOut_ >= 0)
                left = segmentEnd_ - OutputPlayedLocked(now);
        }
        if (now >= giveUp)
            return;
        // The clock runs on between the output's requests: wake when it should have got there,
        // or when the output takes its next buffer.
        const std::int64_t micros = std::clamp<std::int64_t>(left * 1000000 / rate_, 200, 5000);
        progressed_.wait_for(guard, std::chrono::microseconds(micros));
    }
}

std::int64_t MediaDevice::OutputPlayedLocked(std::chrono::steady_clock::time_point now) const
{
    return output_ ? output_->Played(now) : 0;
}

std::int64_t MediaDevice::PositionAtLocked(std::int64_t played) const
{
    if (!output_ || !segment_ || segmentOut_ < 0)
        return handed_;
    const std::int64_t unplayed = segmentEnd_ - played;
    return handed_ - std::clamp<std::int64_t>(unplayed, 0, handed_ - segmentFrom_);
}

std::int64_t MediaDevice::PositionLocked(std::chrono::steady_clock::time_point now) const
{
    return PositionAtLocked(OutputPlayedLocked(now));
}

bool MediaDevice::PlayedLocked(std::chrono::steady_clock::time_point now) const
{
    return !output_ || !segment_ || segmentOut_ < 0 || OutputPlayedLocked(now) >= segmentEnd_;
}

void MediaDevice::StartSegmentLocked()
{
    segment_ = true;
    segmentFrom_ = handed_;
    segmentOut_ = -1;
    segmentEnd_ = 0;
}

MCIERROR MediaDevice::Play(std::uint32_t flags, const MCI_PLAY_PARMS &parms)
{
    std::int64_t from = 0;
    std::int64_t to = frames_;
    {
        std::lock_guard<std::mutex> progress(progressMutex_);
        from = cued_ ? cueFrom_ : handed_;
    }
    if ((flags & MCI_FROM) && !ToFrames(parms.dwFrom, from))
        return MCIERR_OUTOFRANGE;
    if ((flags & MCI_TO) && (!ToFrames(parms.dwTo, to) || to < from))
        return MCIERR_OUTOFRANGE;
    if (cued_ && from == cueFrom_ && !(flags & MCI_TO) && output_ && !output_->Lost()) {
        // The cued play starts: its sound waits in the output.
        {
            AudioOutput::Lock lock(*output_);
            if (pending_ != nullptr)
                PostMciNotify(std::exchange(pending_, nullptr),
                              (flags & MCI_NOTIFY) ? MCI_NOTIFY_SUPERSEDED : MCI_NOTIFY_ABORTED, id_);
            if (flags & MCI_NOTIFY)
                pending_ = parms.dwCallback;
            cued_ = false;
            mode_ = MCI_MODE_PLAY;
        }
        output_->Start();
        return WaitIfAsked(flags);
    }
    DropCue();
    if (!output_ || output_->Lost()) {
        const MCIERROR result = OpenOutput();
        if (result != MMSYSERR_NOERROR)
            return result;
    }
    const MCIERROR result = StartHanding(flags, parms.dwCallback, from, to);
    if (result != MMSYSERR_NOERROR || mode_ != MCI_MODE_PLAY)
        return result;
    output_->Start();
    return WaitIfAsked(flags);
}

MCIERROR MediaDevice::WaitIfAsked(std::uint32_t flags)
{
    if (flags & MCI_WAIT) {
        std::unique_lock<std::mutex> guard(waitMutex_);
        progressed_.wait(guard, [this] { return mode_ != MCI_MODE_PLAY; });
    }
    return MMSYSERR_NOERROR;
}

MCIERROR MediaDevice::Cue()
{
    if (cued_ && output_ && !output_->Lost())
        return MMSYSERR_NOERROR;
    DropCue();
    // A cue fills an output that waits for its start; one that plays already (or cannot wait)
    // is replaced, so that nothing queued before the sound delays it.
    if (!output_ || output_->Lost() || (output_->Waits() && output_->Started() && !Playing() && !handing_)) {
        const MCIERROR result = OpenOutput();
        if (result != MMSYSERR_NOERROR)
            return result;
    }
    if (Playing() || !output_->Waits())
        return MMSYSERR_NOERROR; // nothing to ready: the play starts as it would
    std::int64_t from = 0;
    {
        std::lock_guard<std::mutex> progress(progressMutex_);
        from = handed_;
    }
    const MCIERROR result = StartHanding(0, nullptr, from, frames_, true);
    if (result != MMSYSERR_NOERROR || !cued_)
        return result;
    output_->Prime();
    return MMSYSERR_NOERROR;
}

// Sets the output taking sound from `from` to `to`: as a play, or, when cueing, as a play that
// waits for its start. Fails only when the decoder cannot go to `from`.
MCIERROR MediaDevice::StartHanding(std::uint32_t flags, QObject *callback, std::int64_t from, std::int64_t to, bool cue)
{
    std::int64_t current = 0;
    {
        std::lock_guard<std::mutex> progress(progressMutex_);
        current = handed_;
    }
    // A running play's notice gives way to this one.
    const auto giveWayLocked = [this, flags] {
        if (pending_ != nullptr)
            PostMciNotify(std::exchange(pending_, nullptr),
                          (flags & MCI_NOTIFY) ? MCI_NOTIFY_SUPERSEDED : MCI_NOTIFY_ABORTED, id_);
    };
    if (!handing_ || from != current) {
        // Unless the sound goes on from where it is, what was handed is heard to its end first,
        // fading out if it is cut.
        {
            AudioOutput::Lock lock(*output_);
            if (from != current)
                FadeOutLocked();
            giveWayLocked();
        }
        WaitUntilPlayed();
    }
    AudioOutput::Lock lock(*output_);
    if (from != current) {
        if (!decoder_->Seek(from))
            return MCIERR_DAMAGED_FILE;
        std::lock_guard<std::mutex> progress(progressMutex_);
        handed_ = from;
        segment_ = false;
    }
    giveWayLocked();
    if (flags & MCI_NOTIFY)
        pending_ = callback;
    playTo_ = end_ = to;
    fadeFrom_ = FadeStart(from, to);
    playError_ = 0;
    failure_ = 0;
    firstSound_ = 0;
    awaitingSound_ = true;
    if (from >= to) {
        // Nothing left to play: the play is complete at once.
        mode_ = MCI_MODE_STOP;
        PostMciNotify(std::exchange(pending_, nullptr), MCI_NOTIFY_SUCCESSFUL, id_);
        return MMSYSERR_NOERROR;
    }
    if (!handing_) {
        std::lock_guard<std::mutex> progress(progressMutex_);
        StartSegmentLocked();
    }
    handing_ = true;
    if (cue) {
        cued_ = true;
        cueFrom_ = from;
    } else {
        mode_ = MCI_MODE_PLAY;
    }
    return MMSYSERR_NOERROR;
}

// The sound fades out at once; the stop returns when the fade has been played.
MCIERROR MediaDevice::Stop()
{
    DropCue();
    EndFadingOut();
    return MMSYSERR_NOERROR;
}

MCIERROR MediaDevice::Pause()
{
    {
        OutputLock lock(*this);
        if (mode_ != MCI_MODE_PLAY)
            return MMSYSERR_NOERROR;
        FadeOutLocked();
        mode_ = MCI_MODE_PAUSE;
    }
    WaitUntilPlayed();
    return MMSYSERR_NOERROR;
}

MCIERROR MediaDevice::Resume(std::uint32_t flags, const MCI_GENERIC_PARMS &parms)
{
    OutputLock lock(*this);
    if (mode_ != MCI_MODE_PAUSE)
        return MMSYSERR_NOERROR;
    if ((flags & MCI_NOTIFY) && pending_ != nullptr)
        PostMciNotify(std::exchange(pending_, nullptr), MCI_NOTIFY_SUPERSEDED, id_);
    if (flags & MCI_NOTIFY)
        pending_ = parms.dwCallback;
    std::lock_guard<std::mutex> progress(progressMutex_);
    end_ = playTo_;
    fadeFrom_ = FadeStart(handed_, playTo_);
    if (!handing_)
        StartSegmentLocked();
    handing_ = handed_ < end_;
    mode_ = MCI_MODE_PLAY;
    return MMSYSERR_NOERROR;
}

MCIERROR MediaDevice::Seek(std::uint32_t flags, const MCI_SEEK_PARMS &parms)
{
    const std::uint32_t where = flags & (MCI_TO | MCI_SEEK_TO_START | MCI_SEEK_TO_END);
    std::int64_t target = 0;
    switch (where) {
    case MCI_TO:
        if (!ToFrames(parms.dwTo, target))
            return MCIERR_OUTOFRANGE;
        break;
    case MCI_SEEK_TO_START: target = 0; break;
    case MCI_SEEK_TO_END: target = frames_; break;
    case 0: return MCIERR_MISSING_PARAMETER;
    default: return MCIERR_FLAGS_NOT_COMPATIBLE;
    }
    // Seeking stops a running play, which fades out. The output stays: a seek mostly comes right
    // before a play.
    DropCue();
    EndFadingOut();
    OutputLock lock(*this);
    if (!decoder_->Seek(target))
        return MCIERR_DAMAGED_FILE;
    std::lock_guard<std::mutex> progress(progressMutex_);
    handed_ = target;
    segment_ = false;
    playTo_ = end_ = frames_;
    fadeFrom_ = -1;
    failure_ = 0;
    return MMSYSERR_NOERROR;
}

MCIERROR MediaDevice::Status(std::uint32_t flags, MCI_STATUS_PARMS &parms)
{
    if (!(flags & MCI_STATUS_ITEM))
        return MCIERR_MISSING_PARAMETER;
    // The sound is one track, starting at 0.
    if ((flags & MCI_TRACK) && parms.dwTrack != 1)
        return MCIERR_OUTOFRANGE;
    if (parms.dwItem == MCI_STATUS_POSITION || parms.dwItem == MCI_STATUS_MODE || parms.dwItem == MCI_STATUS_FAILURE)
        CheckOutput();
    switch (parms.dwItem) {
    case MCI_STATUS_FAILURE: parms.dwReturn = failure_; return MMSYSERR_NOERROR;
    case MCI_STATUS_POSITION: {
        if (flags & MCI_TRACK) {
            parms.dwReturn = 0;
            return MMSYSERR_NOERROR;
        }
        std::lock_guard<std::mutex> progress(progressMutex_);
        parms.dwReturn = FromFrames(PositionLocked(std::chrono::steady_clock::now()));
        return MMSYSERR_NOERROR;
    }
    case MCI_STATUS_LENGTH: parms.dwReturn = FromFrames(frames_); return MMSYSERR_NOERROR;
    case MCI_STATUS_MODE: parms.dwReturn = mode_; return MMSYSERR_NOERROR;
    case MCI_STATUS_TIME_FORMAT: parms.dwReturn = timeFormat_; return MMSYSERR_NOERROR;
    case MCI_STATUS_NUMBER_OF_TRACKS:
    case MCI_STATUS_CURRENT_TRACK:
    case MCI_STATUS_READY: parms.dwReturn = 1; return MMSYSERR_NOERROR;
    default: return MCIERR_UNSUPPORTED_FUNCTION;
    }
}

MCIERROR MediaDevice::Set(std::uint32_t flags, const MCI_SET_PARMS &parms)
{
    if (flags & MCI_SET_DOOR_OPEN)
        return MCIERR_UNSUPPORTED_FUNCTION;
    if (!(flags & MCI_SET_TIME_FORMAT))
        return MCIERR_MISSING_PARAMETER;
    // Sound devices count in milliseconds or samples. The track format belongs to CD and
    // videodisc devices, which the media system does not have, so it is refused like any other.
    if (parms.dwTimeFormat != MCI_FORMAT_MILLISECONDS && parms.dwTimeFormat != MCI_FORMAT_SAMPLES)
        return MCIERR_BAD_TIME_FORMAT;
    timeFormat_ = parms.dwTimeFormat;
    return MMSYSERR_NOERROR;
}

MCIERROR MediaDevice::GetDevCaps(std::uint32_t flags, MCI_GETDEVCAPS_PARMS &parms) const
{
    if (!(flags & MCI_GETDEVCAPS_ITEM))
        return MCIERR_MISSING_PARAMETER;
    switch (parms.dwItem) {
    case MCI_GETDEVCAPS_CAN_PLAY:
    case MCI_GETDEVCAPS_HAS_AUDIO:
    case MCI_GETDEVCAPS_USES_FILES:
    case MCI_GETDEVCAPS_COMPOUND_DEVICE: parms.dwReturn = 1; return MMSYSERR_NOERROR;
    case MCI_GETDEVCAPS_CAN_RECORD:
    case MCI_GETDEVCAPS_CAN_EJECT:
    case MCI_GETDEVCAPS_HAS_VIDEO:
    case MCI_GETDEVCAPS_CAN_SAVE: parms.dwReturn = 0; return MMSYSERR_NOERROR;
    case MCI_GETDEVCAPS_DEVICE_TYPE:
        parms.dwReturn = kind_ == SoundKind::Midi ? MCI_DEVTYPE_SEQUENCER : MCI_DEVTYPE_WAVEFORM_AUDIO;
        return MMSYSERR_NOERROR;
    default: return MCIERR_UNSUPPORTED_FUNCTION;
    }
}

std::optional<std::chrono::steady_clock::time_point> MediaDevice::FirstSoundTime() const
{
    const std::int64_t ticks = firstSound_;
    if (ticks == 0)
        return std::nullopt;
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(ticks));
}

void MediaDevice::Render(float *out, int frames, std::int64_t first, std::chrono::steady_clock::time_point when)
{
    const std::size_t samples = std::size_t(frames) * std::size_t(channels_);
    std::int64_t position = 0;
    {
        std::lock_guard<std::mutex> progress(progressMutex_);
        position = handed_;
    }
    std::int64_t played = 0;
    std::int64_t wanted = 0;
    if (handing_) {
        wanted = std::min<std::int64_t>(frames, end_ - position);
        const std::int64_t got = wanted > 0 ? decoder_->Read(out, wanted) : 0;
        played = std::max<std::int64_t>(got, 0); // -1: the file no longer decodes
        if (fadeFrom_ >= 0) {
            // A raised cosine from full to nothing over the frames from fadeFrom_ to end_, where
            // nothing is reached.
            const double length = double(end_ - fadeFrom_ + 1);
            for (std::int64_t i = std::max<std::int64_t>(0, fadeFrom_ - position); i < played; ++i) {
                const double gain = 0.5 * (1.0 + std::cos(M_PI * double(position + i - fadeFrom_ + 1) / length));
                for (int c = 0; c < channels_; ++c)
                    out[i * channels_ + c] *= float(gain);
            }
        }
    }
    std::fill(out + played * channels_, out + samples, 0.0f);
    for (int i = 0; i < frames; ++i)
        std::copy_n(out + std::size_t(i) * std::size_t(channels_), channels_,
                    history_.begin() + std::ptrdiff_t(((first + i) % historyFrames_) * channels_));
    if (awaitingSound_ && played > 0) {
        const std::size_t handed = std::size_t(played) * std::size_t(channels_);
        if (std::any_of(out, out + handed, [](float sample) { return sample != 0.0f; })) {
            firstSound_ = std::chrono::steady_clock::now().time_since_epoch().count();
            awaitingSound_ = false;
        }
    }
    bool done = false;
    {
        std::lock_guard<std::mutex> progress(progressMutex_);
        if (played > 0) {
            if (segmentOut_ < 0)
                segmentOut_ = first;
            handed_ = position + played;
            segmentEnd_ = first + played;
        }
        if (handing_) {
            if (played < wanted) {
                // The file was cut short after it was opened, or no longer decodes: the sound
                // ends where its data does, and the play fails there instead of running on in
                // silence. The failure is set first: whoever sees the shorter length sees it too.
                playError_ = failure_ = MCIERR_DAMAGED_FILE;
                frames_ = handed_;
                playTo_ = end_ = handed_;
                handing_ = false;
            } else if (handed_ >= end_) {
                handing_ = false;
            }
        }
        done = !handing_ && mode_ == MCI_MODE_PLAY && output_ && output_->Played(when) >= segmentEnd_;
    }
    // The play ends when its last frame has left the output.
    if (done)
        EndPlayLocked(playError_ != 0 ? MCI_NOTIFY_FAILURE : MCI_NOTIFY_SUCCESSFUL, playError_);
    else
        WakeWaiters();
}

// The output is gone: the sound stands where it stopped being heard, and the play fails there.
void MediaDevice::OutputLost(std::int64_t played)
{
    // An idle output that goes is opened again by the next play.
    if (!Playing() && !handing_ && !cued_)
        return;
    {
        std::lock_guard<std::mutex> progress(progressMutex_);
        const std::int64_t heard = PositionAtLocked(played);
        if (heard != handed_ && decoder_->Seek(heard))
            handed_ = heard;
        segment_ = false;
    }
    handing_ = false;
    cued_ = false;
    awaitingSound_ = false;
    failure_ = MCIERR_OUTPUT_LOST;
    EndPlayLocked(MCI_NOTIFY_FAILURE, MCIERR_OUTPUT_LOST);
}

// The sound the output still holds falls silent from `from` on: the frames handed there fade out
// over the fade's length, silence follows, and the sound now ends where the fade does.
std::int64_t MediaDevice::SoundLeft()
{
    std::lock_guard<std::mutex> progress(progressMutex_);
    return handing_ ? std::max<std::int64_t>(0, end_ - handed_) : 0;
}

bool MediaDevice::TakeBack(std::int64_t from, std::int64_t to, float *out)
{
    if (to - from > historyFrames_)
        return false;
    std::lock_guard<std::mutex> progress(progressMutex_);
    if (!segment_ || segmentOut_ < 0 || from < segmentOut_ || from >= segmentEnd_)
        return false;
    const std::int64_t sound = segmentFrom_ + (from - segmentOut_);
    const std::int64_t end = std::min(end_, sound + fadeFrames_);
    if ((fadeFrom_ >= 0 && fadeFrom_ < sound) || end <= sound || !decoder_->Seek(end))
        return false;
    const double length = double(end - sound + 1);
    for (std::int64_t i = 0; i < to - from; ++i) {
        const double gain = i < end - sound ? 0.5 * (1.0 + std::cos(M_PI * double(i + 1) / length)) : 0.0;
        const float *handed = history_.data() + ((from + i) % historyFrames_) * channels_;
        for (int c = 0; c < channels_; ++c)
            out[i * channels_ + c] = float(gain) * handed[c];
    }
    handed_ = end;
    fadeFrom_ = sound;
    end_ = end;
    segmentEnd_ = from + (end - sound);
    handing_ = false;
    return true;
}
