#include "media/SoundInfo.h"

#include <cstring>
#include <fstream>

namespace {

bool IsRmi(const std::string &path)
{
    char head[12] = {};
    std::ifstream file(path, std::ios::binary);
    return file.read(head, sizeof head) && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "RMID", 4) == 0;
}

} // namespace

MCIERROR ReadSoundInfo(const std::string &path, SoundInfo &info)
{
    std::unique_ptr<Decoder> decoder;
    const MCIERROR result = OpenSoundFile(path, decoder, info.kind);
    if (result != MMSYSERR_NOERROR)
        return result;
    info.rmi = info.kind == SoundKind::Midi && IsRmi(path);
    info.rate = decoder->SampleRate();
    info.channels = decoder->Channels();
    info.frames = decoder->Frames();
    // Positions and lengths in milliseconds are whole milliseconds of frames, truncated.
    info.lengthMs = info.rate > 0 ? info.frames * 1000 / info.rate : 0;
    info.damage = decoder->Damage();
    return MMSYSERR_NOERROR;
}

const char *SoundKindName(const SoundInfo &info)
{
    switch (info.kind) {
    case SoundKind::Wave: return "WAV";
    case SoundKind::Mpeg: return "MP3";
    case SoundKind::Midi: return info.rmi ? "RMI" : "MIDI";
    }
    return "";
}
