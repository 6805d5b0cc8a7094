#include "media/AudioOutput.h"

#include "media/PulseOutput.h"
#include "media/SdlOutput.h"

#include <cstdlib>
#include <cstring>

MCIERROR AudioOutput::Supports(int rate, int channels)
{
    if (channels < 1 || channels > maxChannels)
        return MCIERR_TOO_MANY_CHANNELS;
    if (rate < minRate || rate > maxRate)
        return MCIERR_UNSUPPORTED_RATE;
    return MMSYSERR_NOERROR;
}

// A sound server is asked first, unless SDL_AUDIODRIVER names another driver (the silent and the
// disk driver of the tests, ALSA): SDL cannot tell what a server still holds of a stream, and its
// own PipeWire driver does not keep time.
MCIERROR AudioOutput::Open(int rate, int channels, AudioSource &source, std::unique_ptr<AudioOutput> &output,
                           const std::string &sink)
{
    if (const MCIERROR unsupported = Supports(rate, channels))
        return unsupported;
    if (PulseOutput::Wanted()) {
        const MCIERROR result = PulseOutput::Open(rate, channels, source, sink, output);
        if (result != MCIERR_NO_OUTPUT_DEVICE)
            return result;
    }
    return SdlOutput::Open(rate, channels, source, output);
}
