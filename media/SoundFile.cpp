#include "media/SoundFile.h"

#include "media/FileDescriptor.h"
#include "media/MidiDecoder.h"
#include "media/MidiFile.h"
#include "media/Mp3Decoder.h"
#include "media/WaveDecoder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// MIDI files are read whole; anything this large is not one.
constexpr off_t maxMidiBytes = 64 * 1024 * 1024;

MCIERROR ErrorFromErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return MCIERR_FILE_NOT_FOUND;
    case EISDIR: return MCIERR_NOT_A_FILE;
    case ENOMEM: return MCIERR_OUT_OF_MEMORY;
    default: return MCIERR_FILE_UNREADABLE;
    }
}

std::string Extension(const std::string &path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension;
}

bool ReadWhole(int fd, off_t size, std::vector<std::uint8_t> &bytes)
{
    bytes.resize(std::size_t(size));
    bytes.resize(ReadAt(fd, 0, bytes.data(), bytes.size()));
    return !bytes.empty();
}

MCIERROR OpenMidi(int fd, off_t size, std::unique_ptr<Decoder> &decoder)
{
    if (size > maxMidiBytes)
        return MCIERR_INVALID_FILE;
    std::vector<std::uint8_t> bytes;
    if (!ReadWhole(fd, size, bytes))
        return MCIERR_FILE_UNREADABLE;
    MidiFile song;
    switch (song.Parse(bytes)) {
    case MidiFile::Status::NotMidi: return MCIERR_INVALID_FILE;
    case MidiFile::Status::Damaged: return MCIERR_DAMAGED_FILE;
    case MidiFile::Status::Ok: break;
    }
    return MidiDecoder::Open(std::move(song), decoder);
}

} // namespace

MCIERROR OpenSoundFile(const std::string &path, std::unique_ptr<Decoder> &decoder, SoundKind &kind)
{
    if (path.empty())
        return MCIERR_FILE_NOT_FOUND;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return ErrorFromErrno(errno);
    if (!S_ISREG(info.st_mode))
        return MCIERR_NOT_A_FILE; // a folder, or a fifo or device that could block or never end
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0)
        return ErrorFromErrno(errno);
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return MCIERR_NOT_A_FILE;
    if (info.st_size == 0)
        return MCIERR_EMPTY_FILE;

    std::uint8_t head[28] = {};
    const ssize_t got = ::pread(file.Get(), head, sizeof head, 0);
    if (got < 0)
        return ErrorFromErrno(errno);
    const auto has = [&](std::size_t at, const char *id) {
        return std::size_t(got) >= at + 4 && std::memcmp(head + at, id, 4) == 0;
    };

    // Wave files: RIFF, big-endian RIFX, RF64, and Wave64 (whose GUIDs begin "riff" and "wave").
    const bool riffWave =
        ((has(0, "RIFF") || has(0, "RIFX") || has(0, "RF64")) && has(8, "WAVE")) || (has(0, "riff") && has(24, "wave"));
    const bool midi = has(0, "MThd") || (has(0, "RIFF") && has(8, "RMID"));
    Mp3Decoder::Probe mpeg = Mp3Decoder::Probe::NotMpeg;
    if (!riffWave && !midi)
        mpeg = Mp3Decoder::Examine(file.Get(), false);
    const std::string extension = Extension(path);
    if (has(0, "RIFF") && got < 12)
        return MCIERR_DAMAGED_FILE; // a RIFF header cut short

    // Only what is a wave file by its content goes to libsndfile, which would otherwise take on
    // other formats (MP3 among them) under a wave file's name.
    if (riffWave) {
        kind = SoundKind::Wave;
        return WaveDecoder::Open(std::move(file), decoder);
    }
    if (midi) {
        kind = SoundKind::Midi;
        return OpenMidi(file.Get(), info.st_size, decoder);
    }
    if (mpeg == Mp3Decoder::Probe::NotMpeg && (extension == "mp3" || extension == "mp2" || extension == "mpga"))
        mpeg = Mp3Decoder::Examine(file.Get(), true);
    switch (mpeg) {
    case Mp3Decoder::Probe::Mpeg: kind = SoundKind::Mpeg; return Mp3Decoder::Open(std::move(file), decoder);
    case Mp3Decoder::Probe::Damaged: return MCIERR_DAMAGED_FILE;
    case Mp3Decoder::Probe::NotMpeg: break;
    }
    return MCIERR_INVALID_FILE;
}
