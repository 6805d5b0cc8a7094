#include "media/MediaSystem.h"

#include "media/MciNotify.h"
#include "media/MediaDevice.h"

#include <strings.h>

#include <limits>

namespace {

bool SameName(const char *a, const char *b) { return ::strcasecmp(a, b) == 0; }

// The device types the media system provides: sound files only. Every other type (CD audio,
// videodisc, video, VCR, scanner, ...) has no device here and fails to open.
std::optional<std::optional<SoundKind>> KindForType(const char *type)
{
    if (type == nullptr)
        return std::nullopt;
    if (SameName(type, "WaveAudio"))
        return std::optional<SoundKind>(SoundKind::Wave);
    if (SameName(type, "Sequencer"))
        return std::optional<SoundKind>(SoundKind::Midi);
    return std::nullopt;
}

} // namespace

MediaSystem &MediaSystem::Instance()
{
    static MediaSystem system;
    return system;
}

MCIERROR mciSendCommand(MCIDEVICEID device, unsigned command, std::uint32_t flags, void *parms)
{
    return MediaSystem::Instance().SendCommand(device, command, flags, parms);
}

std::shared_ptr<MediaDevice> MediaSystem::Find(MCIDEVICEID device)
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = devices_.find(device);
    return it == devices_.end() ? nullptr : it->second;
}

std::optional<std::chrono::steady_clock::time_point> MediaSystem::FirstSoundTime(MCIDEVICEID device)
{
    const std::shared_ptr<MediaDevice> open = Find(device);
    return open ? open->FirstSoundTime() : std::nullopt;
}

void MediaSystem::ReleaseIdleOutput(MCIDEVICEID device)
{
    if (const std::shared_ptr<MediaDevice> open = Find(device))
        open->ReleaseIdleOutput();
}

MCIERROR MediaSystem::SendCommand(MCIDEVICEID device, unsigned command, std::uint32_t flags, void *parms)
{
    if (parms == nullptr)
        return MCIERR_NULL_PARAMETER_BLOCK;
    if (command == MCI_OPEN)
        return Open(flags, *static_cast<MCI_OPEN_PARMS *>(parms));

    MCIERROR result = MMSYSERR_NOERROR;
    auto *generic = static_cast<MCI_GENERIC_PARMS *>(parms);
    QObject *callback = nullptr;
    if (command == MCI_CLOSE) {
        callback = generic->dwCallback;
        result = Close(device);
    } else {
        const std::shared_ptr<MediaDevice> open = Find(device);
        if (!open)
            return MCIERR_INVALID_DEVICE_ID;
        switch (command) {
        case MCI_PLAY: {
            auto &play = *static_cast<MCI_PLAY_PARMS *>(parms);
            // A play reports its own completion, when the sound has ended.
            return open->Play(flags, play);
        }
        case MCI_RESUME: return open->Resume(flags, *generic);
        case MCI_CUE:
            result = open->Cue();
            callback = generic->dwCallback;
            break;
        case MCI_STOP:
            result = open->Stop();
            callback = generic->dwCallback;
            break;
        case MCI_PAUSE:
            result = open->Pause();
            callback = generic->dwCallback;
            break;
        case MCI_SEEK: {
            auto &seek = *static_cast<MCI_SEEK_PARMS *>(parms);
            result = open->Seek(flags, seek);
            callback = seek.dwCallback;
            break;
        }
        case MCI_STATUS: {
            auto &status = *static_cast<MCI_STATUS_PARMS *>(parms);
            result = open->Status(flags, status);
            callback = status.dwCallback;
            break;
        }
        case MCI_SET: {
            auto &set = *static_cast<MCI_SET_PARMS *>(parms);
            result = open->Set(flags, set);
            callback = set.dwCallback;
            break;
        }
        case MCI_GETDEVCAPS: {
            auto &caps = *static_cast<MCI_GETDEVCAPS_PARMS *>(parms);
            result = open->GetDevCaps(flags, caps);
            callback = caps.dwCallback;
            break;
        }
        case MCI_WHERE: {
            // A sound has no picture: its source and destination are empty rectangles.
            auto &where = *static_cast<MCI_ANIM_RECT_PARMS *>(parms);
            if (!(flags & (MCI_ANIM_WHERE_SOURCE | MCI_ANIM_WHERE_DESTINATION)))
                return MCIERR_MISSING_PARAMETER;
            where.rc = MciRect{};
            callback = where.dwCallback;
            break;
        }
        case MCI_PUT:
        case MCI_WINDOW:
        case MCI_STEP: return MCIERR_NO_WINDOW;
        case MCI_RECORD: return MCIERR_CANNOT_RECORD;
        default: return MCIERR_UNRECOGNIZED_COMMAND;
        }
    }
    if (result == MMSYSERR_NOERROR && (flags & MCI_NOTIFY))
        PostMciNotify(callback, MCI_NOTIFY_SUCCESSFUL, device);
    return result;
}

MCIERROR MediaSystem::Open(std::uint32_t flags, MCI_OPEN_PARMS &parms)
{
    std::optional<SoundKind> kind;
    if (flags & MCI_OPEN_TYPE) {
        const auto known = KindForType(parms.lpstrDeviceType);
        if (!known)
            return MCIERR_INVALID_DEVICE_NAME;
        kind = *known;
    } else if (!(flags & MCI_OPEN_ELEMENT)) {
        return MCIERR_MISSING_PARAMETER;
    }
    // A typed open without MCI_OPEN_ELEMENT still plays the file named, which must then be of
    // the type's kind: a sound device with nothing loaded would be of no use.
    if (parms.lpstrElementName == nullptr || *parms.lpstrElementName == '\0')
        return (flags & MCI_OPEN_ELEMENT) ? MCIERR_FILE_NOT_FOUND : MCIERR_NO_ELEMENT;

    MCIDEVICEID id = 0;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (devices_.size() >= std::numeric_limits<MCIDEVICEID>::max() - 1)
            return MCIERR_TOO_MANY_DEVICES;
        // Identifiers are not reused at once, so a stale one does not reach a newer device.
        do {
            id = MCIDEVICEID(lastId_ + 1);
            lastId_ = id;
        } while (id == 0 || devices_.count(id) != 0);
        devices_[id] = nullptr; // reserved while the file opens
    }
    std::unique_ptr<MediaDevice> device;
    const MCIERROR result = MediaDevice::Open(id, parms.lpstrElementName, kind, device);
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (result != MMSYSERR_NOERROR)
            devices_.erase(id);
        else
            devices_[id] = std::move(device);
    }
    if (result != MMSYSERR_NOERROR)
        return result;
    parms.wDeviceID = id;
    if (flags & MCI_NOTIFY)
        PostMciNotify(parms.dwCallback, MCI_NOTIFY_SUCCESSFUL, id);
    return MMSYSERR_NOERROR;
}

MCIERROR MediaSystem::Close(MCIDEVICEID device)
{
    std::shared_ptr<MediaDevice> closing;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        auto it = devices_.find(device);
        if (it == devices_.end() || !it->second)
            return MCIERR_INVALID_DEVICE_ID;
        closing = std::move(it->second);
        devices_.erase(it);
    }
    closing->Shutdown();
    return MMSYSERR_NOERROR;
}
