#include "media/MediaDevice.h"

#include "media/MciNotify.h"
#include "media/MediaSystem.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
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
    opened->end_ = opened->frames_;
    result = AudioOutput::Supports(opened->rate_, opened->channels_);
    if (result != MMSYSERR_NOERROR)
        return result;
    result = AudioOutput::Open(opened->rate_, opened->channels_, *opened, opened->output_);
    if (result != MMSYSERR_NOERROR)
        return result;
    device = std::move(opened);
    return MMSYSERR_NOERROR;
}

MediaDevice::~MediaDevice()
{
    output_.reset();
}

MediaDevice::OutputLock::OutputLock(MediaDevice &device)
{
    if (device.output_)
        lock_.emplace(*device.output_);
}

void MediaDevice::Shutdown()
{
    OutputLock lock(*this);
    EndPlayLocked(MCI_NOTIFY_ABORTED);
}

void MediaDevice::ReleaseIdleOutput()
{
    if (output_ && !Playing())
        output_.reset();
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

void MediaDevice::WakeWaiters()
{
    std::lock_guard<std::mutex> guard(waitMutex_);
    playEnded_.notify_all();
}

MCIERROR MediaDevice::Play(std::uint32_t flags, const MCI_PLAY_PARMS &parms)
{
    if (!output_) {
        const MCIERROR result = AudioOutput::Open(rate_, channels_, *this, output_);
        if (result != MMSYSERR_NOERROR)
            return result;
    }
    {
        AudioOutput::Lock lock(*output_);
        std::int64_t from = handed_;
        std::int64_t to = frames_;
        if ((flags & MCI_FROM) && !ToFrames(parms.dwFrom, from))
            return MCIERR_OUTOFRANGE;
        if ((flags & MCI_TO) && (!ToFrames(parms.dwTo, to) || to < from))
            return MCIERR_OUTOFRANGE;
        if (from != handed_) {
            if (!decoder_->Seek(from))
                return MCIERR_DAMAGED_FILE;
            handed_ = from;
        }
        // A running play's notice gives way to this one.
        if (pending_ != nullptr)
            PostMciNotify(std::exchange(pending_, nullptr), (flags & MCI_NOTIFY) ? MCI_NOTIFY_SUPERSEDED : MCI_NOTIFY_ABORTED, id_);
        if (flags & MCI_NOTIFY)
            pending_ = parms.dwCallback;
        end_ = to;
        firstSound_ = 0;
        awaitingSound_ = true;
        if (from >= to) {
            // Nothing left to play: the play is complete at once.
            mode_ = MCI_MODE_STOP;
            PostMciNotify(std::exchange(pending_, nullptr), MCI_NOTIFY_SUCCESSFUL, id_);
            return MMSYSERR_NOERROR;
        }
        mode_ = MCI_MODE_PLAY;
    }
    if (flags & MCI_WAIT) {
        std::unique_lock<std::mutex> guard(waitMutex_);
        playEnded_.wait(guard, [this] { return mode_ != MCI_MODE_PLAY; });
    }
    return MMSYSERR_NOERROR;
}

// The output falls silent at once and closes a little later (see EndPlayLocked).
MCIERROR MediaDevice::Stop()
{
    OutputLock lock(*this);
    EndPlayLocked(MCI_NOTIFY_ABORTED);
    return MMSYSERR_NOERROR;
}

MCIERROR MediaDevice::Pause()
{
    OutputLock lock(*this);
    if (mode_ == MCI_MODE_PLAY)
        mode_ = MCI_MODE_PAUSE;
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
    case MCI_SEEK_TO_START:
        target = 0;
        break;
    case MCI_SEEK_TO_END:
        target = frames_;
        break;
    case 0:
        return MCIERR_MISSING_PARAMETER;
    default:
        return MCIERR_FLAGS_NOT_COMPATIBLE;
    }
    // Seeking stops a running play. The output stays: a seek mostly comes right before a play.
    OutputLock lock(*this);
    EndPlayLocked(MCI_NOTIFY_ABORTED);
    if (!decoder_->Seek(target))
        return MCIERR_DAMAGED_FILE;
    handed_ = target;
    end_ = frames_;
    return MMSYSERR_NOERROR;
}

MCIERROR MediaDevice::Status(std::uint32_t flags, MCI_STATUS_PARMS &parms) const
{
    if (!(flags & MCI_STATUS_ITEM))
        return MCIERR_MISSING_PARAMETER;
    // The sound is one track, starting at 0.
    if ((flags & MCI_TRACK) && parms.dwTrack != 1)
        return MCIERR_OUTOFRANGE;
    switch (parms.dwItem) {
    case MCI_STATUS_POSITION:
        parms.dwReturn = (flags & MCI_TRACK) ? 0 : FromFrames(handed_);
        return MMSYSERR_NOERROR;
    case MCI_STATUS_LENGTH:
        parms.dwReturn = FromFrames(frames_);
        return MMSYSERR_NOERROR;
    case MCI_STATUS_MODE:
        parms.dwReturn = mode_;
        return MMSYSERR_NOERROR;
    case MCI_STATUS_TIME_FORMAT:
        parms.dwReturn = timeFormat_;
        return MMSYSERR_NOERROR;
    case MCI_STATUS_NUMBER_OF_TRACKS:
    case MCI_STATUS_CURRENT_TRACK:
    case MCI_STATUS_READY:
        parms.dwReturn = 1;
        return MMSYSERR_NOERROR;
    default:
        return MCIERR_UNSUPPORTED_FUNCTION;
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
    case MCI_GETDEVCAPS_COMPOUND_DEVICE:
        parms.dwReturn = 1;
        return MMSYSERR_NOERROR;
    case MCI_GETDEVCAPS_CAN_RECORD:
    case MCI_GETDEVCAPS_CAN_EJECT:
    case MCI_GETDEVCAPS_HAS_VIDEO:
    case MCI_GETDEVCAPS_CAN_SAVE:
        parms.dwReturn = 0;
        return MMSYSERR_NOERROR;
    case MCI_GETDEVCAPS_DEVICE_TYPE:
        parms.dwReturn = kind_ == SoundKind::Midi ? MCI_DEVTYPE_SEQUENCER : MCI_DEVTYPE_WAVEFORM_AUDIO;
        return MMSYSERR_NOERROR;
    default:
        return MCIERR_UNSUPPORTED_FUNCTION;
    }
}

std::optional<std::chrono::steady_clock::time_point> MediaDevice::FirstSoundTime() const
{
    const std::int64_t ticks = firstSound_;
    if (ticks == 0)
        return std::nullopt;
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(ticks));
}

void MediaDevice::Render(float *out, int frames)
{
    const std::size_t samples = std::size_t(frames) * std::size_t(channels_);
    if (mode_ != MCI_MODE_PLAY) {
        std::fill(out, out + samples, 0.0f);
        return;
    }
    const std::int64_t position = handed_;
    const std::int64_t wanted = std::min<std::int64_t>(frames, end_ - position);
    const std::int64_t got = wanted > 0 ? decoder_->Read(out, wanted) : 0;
    const std::int64_t played = std::max<std::int64_t>(got, 0); // -1: the file no longer decodes
    std::fill(out + played * channels_, out + samples, 0.0f);
    if (awaitingSound_) {
        const std::size_t handed = std::size_t(played) * std::size_t(channels_);
        if (std::any_of(out, out + handed, [](float sample) { return sample != 0.0f; })) {
            firstSound_ = std::chrono::steady_clock::now().time_since_epoch().count();
            awaitingSound_ = false;
        }
    }
    handed_ = position + played;
    if (played < wanted) {
        // The file was cut short after it was opened, or no longer decodes: the sound ends where
        // its data does, and the play fails there instead of running on in silence.
        frames_ = handed_.load();
        end_ = frames_;
        EndPlayLocked(MCI_NOTIFY_FAILURE, MCIERR_DAMAGED_FILE);
        return;
    }
    if (handed_ >= end_)
        EndPlayLocked(MCI_NOTIFY_SUCCESSFUL);
}
