#include "media/WaveHeader.h"

#include "media/FileDescriptor.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

// Real files have a handful of chunks; a long chain of tiny ones only comes from damage.
constexpr int maxChunks = 256;

std::uint16_t LittleEndian16(const std::uint8_t *p) { return std::uint16_t(p[0] | p[1] << 8); }

std::uint32_t LittleEndian32(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

bool ReadAllAt(int fd, std::int64_t offset, std::uint8_t *out, std::size_t bytes)
{
    return ReadAt(fd, offset, out, bytes) == bytes;
}

} // namespace

std::optional<WaveHeader> WaveHeader::Read(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return std::nullopt;
    const std::int64_t fileBytes = info.st_size;
    std::uint8_t riff[12];
    if (!ReadAllAt(fd, 0, riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0
        || std::memcmp(riff + 8, "WAVE", 4) != 0)
        return std::nullopt;

    WaveHeader header;
    std::int64_t pos = 12;
    for (int count = 0; count < maxChunks && pos + 8 <= fileBytes; ++count) {
        std::uint8_t chunk[8];
        if (!ReadAllAt(fd, pos, chunk, sizeof chunk))
            break;
        const std::int64_t size = LittleEndian32(chunk + 4);
        const std::int64_t body = pos + 8;
        const std::int64_t available = std::min(size, fileBytes - body);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && !header.hasFormat && available >= 16) {
            std::uint8_t format[40] = {};
            if (!ReadAllAt(fd, body, format, std::size_t(std::min<std::int64_t>(available, sizeof format))))
                break;
            header.hasFormat = true;
            header.formatTag = LittleEndian16(format);
            header.bytesPerSecond = LittleEndian32(format + 8);
            header.blockAlign = LittleEndian16(format + 12);
            const std::uint16_t extraBytes = available >= 18 ? LittleEndian16(format + 16) : 0;
            if (available >= 20 && extraBytes >= 2)
                header.samplesPerBlock = LittleEndian16(format + 18);
            if (header.formatTag == extensible && available >= 40 && extraBytes >= 22)
                header.formatTag = LittleEndian16(format + 24);
        } else if (std::memcmp(chunk, "fact", 4) == 0 && !header.factFrames && available >= 4) {
            std::uint8_t frames[4];
            if (!ReadAllAt(fd, body, frames, sizeof frames))
                break;
            header.factFrames = LittleEndian32(frames);
        } else if (std::memcmp(chunk, "data", 4) == 0 && !header.hasData) {
            header.hasData = true;
            header.dataBytes = std::max<std::int64_t>(available, 0);
            header.declaredDataBytes = std::uint32_t(size);
        }
        pos = body + size + (size & 1);
    }
    return header;
}

std::int64_t WaveHeader::MissingMs() const
{
    constexpr std::uint32_t unknownSize = 0xFFFFFFFF;
    if (!hasData || bytesPerSecond == 0 || declaredDataBytes == 0 || declaredDataBytes == unknownSize)
        return 0;
    return std::max<std::int64_t>(std::int64_t(declaredDataBytes) - dataBytes, 0) * 1000 / bytesPerSecond;
}

bool WaveHeader::KnownEncoding() const
{
    switch (formatTag) {
    case pcm:
    case msAdpcm:
    case ieeeFloat:
    case aLaw:
    case muLaw:
    case imaAdpcm:
    case gsm610:
    case nmsAdpcm:
    case g721:
    case mpeg:
    case mpegLayer3: return true;
    default: return false;
    }
}
