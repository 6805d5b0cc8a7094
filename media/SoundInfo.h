#pragma once

#include "media/MciDefs.h"
#include "media/SoundFile.h"

#include <cstdint>
#include <string>

// What a sound file is, as the media system reads it: its kind, its format and its length in
// milliseconds as a device opened on it reports it.
struct SoundInfo {
    SoundKind kind = SoundKind::Wave;
    // A MIDI song wrapped in a RIFF RMID form.
    bool rmi = false;
    int rate = 0;
    int channels = 0;
    std::int64_t frames = 0;
    std::int64_t lengthMs = 0;
    // What opening found damaged in the file.
    SoundDamage damage;
};

// Reads the file's description without opening a sound output: 0, or the result code (with its
// text from mciGetErrorString) that opening the file would give.
MCIERROR ReadSoundInfo(const std::string &path, SoundInfo &info);

// "WAV", "MP3", "MIDI" or "RMI".
const char *SoundKindName(const SoundInfo &info);
