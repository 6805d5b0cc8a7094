#pragma once

#include "media/MciDefs.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

class MediaDevice;

// The media system: the table of open devices and the one entry point for their commands.
// Commands run on the caller's thread and return a result code; a command sent with MCI_NOTIFY
// posts its completion notice (MciNotify.h) to the parameter block's callback object. Playback
// runs on the devices' output threads.
class MediaSystem {
public:
    static MediaSystem &Instance();

    MCIERROR SendCommand(MCIDEVICEID device, unsigned command, std::uint32_t flags, void *parms);

    // For measurement only (benchmarks and tests): the steady_clock moment at which the first
    // frame with sound after the device's latest play was handed to the output; none before.
    std::optional<std::chrono::steady_clock::time_point> FirstSoundTime(MCIDEVICEID device);

    // Closes the sound output of a device whose play has ended; see MediaDevice.
    void ReleaseIdleOutput(MCIDEVICEID device);

private:
    MediaSystem() = default;

    MCIERROR Open(std::uint32_t flags, MCI_OPEN_PARMS &parms);
    MCIERROR Close(MCIDEVICEID device);
    std::shared_ptr<MediaDevice> Find(MCIDEVICEID device);

    std::mutex mutex_;
    std::map<MCIDEVICEID, std::shared_ptr<MediaDevice>> devices_;
    MCIDEVICEID lastId_ = 0;
};

// The entry point the player uses: MediaSystem::Instance().SendCommand.
MCIERROR mciSendCommand(MCIDEVICEID device, unsigned command, std::uint32_t flags, void *parms);
