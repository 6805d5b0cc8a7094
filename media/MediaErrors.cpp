#include "media/MediaErrors.h"

#include <cstring>

namespace {

struct ErrorText {
    MCIERROR code;
    const char *text;
};

constexpr ErrorText errorTexts[] = {
    {MMSYSERR_NOERROR, "The command completed successfully"},
    {MCIERR_INVALID_DEVICE_ID, "No media device is open under this identifier"},
    {MCIERR_UNRECOGNIZED_COMMAND, "The media system does not know this command"},
    {MCIERR_INVALID_DEVICE_NAME, "The media system has no device of this type"},
    {MCIERR_OUT_OF_MEMORY, "Out of memory"},
    {MCIERR_UNSUPPORTED_FUNCTION, "The media device cannot carry out this command"},
    {MCIERR_FILE_NOT_FOUND, "The sound file was not found"},
    {MCIERR_OUTOFRANGE, "The position lies outside the sound"},
    {MCIERR_FLAGS_NOT_COMPATIBLE, "The command's options cannot be used together"},
    {MCIERR_MISSING_PARAMETER, "The command lacks a required option"},
    {MCIERR_BAD_TIME_FORMAT, "The media device does not support this time format"},
    {MCIERR_INVALID_FILE, "The file is not a sound file the media system knows (wave, MIDI, MP3 or RMI)"},
    {MCIERR_NULL_PARAMETER_BLOCK, "The command was sent without its parameters"},
    {MCIERR_NO_WINDOW, "The media device has no video window"},
    {MCIERR_FILE_UNREADABLE, "The sound file cannot be read"},
    {MCIERR_NOT_A_FILE, "The name given is a folder or a device, not a sound file"},
    {MCIERR_EMPTY_FILE, "The sound file is empty"},
    {MCIERR_DAMAGED_FILE, "The sound file is damaged or incomplete"},
    {MCIERR_NO_OUTPUT_DEVICE, "No sound output device is available"},
    {MCIERR_OUTPUT_FAILED, "The sound output device could not be opened"},
    {MCIERR_OUTPUT_LOST, "The sound output was lost"},
    {MCIERR_SOUNDFONT, "The sound font for MIDI playback could not be loaded"},
    {MCIERR_TOO_MANY_DEVICES, "Too many media devices are open"},
    {MCIERR_NO_ELEMENT, "No sound file is loaded on the media device"},
    {MCIERR_CANNOT_RECORD, "The media device cannot record"},
    {MCIERR_UNSUPPORTED_ENCODING, "The sound file is in an encoding the media system cannot decode"},
    {MCIERR_TOO_MANY_CHANNELS, "The sound has more channels than the sound output can play (at most 8)"},
    {MCIERR_UNSUPPORTED_RATE, "The sound's sample rate is outside what the sound output can play (1000 to 384000 Hz)"},
};

} // namespace

bool mciGetErrorString(MCIERROR code, char *buffer, std::size_t size)
{
    if (buffer == nullptr || size == 0)
        return false;
    buffer[0] = '\0';
    for (const ErrorText &entry : errorTexts) {
        if (entry.code == code) {
            std::strncpy(buffer, entry.text, size - 1);
            buffer[size - 1] = '\0';
            return true;
        }
    }
    return false;
}
