#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The frames of an MPEG audio file as their headers chain them. libmpg123 plays such a file, but
// it tells neither where the chain of frames breaks nor how many bytes it skipped to go on, and
// past a damaged stretch it decodes loud noise out of the false headers that random bytes hold.
// So the headers are walked here, and the decoder is given only the chains of frames.
struct Mp3Frames {
    struct Header {
        int version = 0; // 1 = MPEG-1, 2 = MPEG-2, 25 = MPEG-2.5
        int layer = 0;
        int rate = 0;
        bool mono = false;
        bool crc = false;
        std::size_t length = 0; // bytes, header included
        int samples = 0;        // per channel
        bool SameStream(const Header &other) const
        {
            return version == other.version && layer == other.layer && rate == other.rate;
        }
    };
    // A stretch of the file, by its offset and length in bytes.
    struct Span {
        std::int64_t offset = 0;
        std::int64_t bytes = 0;
    };

    // The header at p (4 bytes); false for anything that is not one, free-format streams included.
    static bool ParseHeader(const std::uint8_t *p, Header &header);
    // Whether three frames in a row of one stream start at data[at], or fewer that end the data
    // (when it holds the rest of the file) or meet an ID3v1 tag.
    static bool ChainAt(const std::uint8_t *data, std::size_t size, std::size_t at, bool wholeRest);
    // Follows the frames from the first one, at start, to the end of the file.
    static Mp3Frames Walk(int fd, std::int64_t start);

    // What the decoder is given of the file: everything before the first frame (tags it skips),
    // then each chain of frames; not what lies between chains, nor the tags at the end.
    std::vector<Span> spans;
    Header first;
    // Frames of sound found; an encoder's Info frame, which holds none, is not counted.
    std::int64_t frames = 0;
    // What the encoder's Info (or Xing) frame promises, where it says.
    std::optional<std::int64_t> promisedFrames;
    std::optional<std::int64_t> promisedBytes;
    // The encoder's delay from the LAME extension of that frame, in samples; -1 when none.
    int encoderDelay = -1;
    // The first damage: the frame of sound it lies in (counted from 0), and what is wrong there.
    std::int64_t damagedFrame = -1;
    std::string damage;
    // How many places are damaged: stretches between chains, and the end of the file.
    int damagedPlaces = 0;
};
