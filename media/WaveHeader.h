#pragma once

#include <cstdint>
#include <optional>

// What the chunks of a RIFF wave file say about its sound, read apart from libsndfile: the
// encoding, the block layout of a compressed encoding, the true sample count from the fact
// chunk, and how much data the file really holds. Only little-endian RIFF files are read.
struct WaveHeader {
    // Encodings by their format tag.
    static constexpr std::uint16_t pcm = 0x0001;
    static constexpr std::uint16_t msAdpcm = 0x0002;
    static constexpr std::uint16_t ieeeFloat = 0x0003;
    static constexpr std::uint16_t aLaw = 0x0006;
    static constexpr std::uint16_t muLaw = 0x0007;
    static constexpr std::uint16_t imaAdpcm = 0x0011;
    static constexpr std::uint16_t gsm610 = 0x0031;
    static constexpr std::uint16_t nmsAdpcm = 0x0038;
    static constexpr std::uint16_t g721 = 0x0040;
    static constexpr std::uint16_t mpeg = 0x0050;
    static constexpr std::uint16_t mpegLayer3 = 0x0055;
    static constexpr std::uint16_t extensible = 0xFFFE;

    bool hasFormat = false;
    std::uint16_t formatTag = 0; // for an extensible format, its subformat's tag
    std::uint32_t bytesPerSecond = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t samplesPerBlock = 0; // 0 when the format chunk does not say
    std::optional<std::uint32_t> factFrames;
    bool hasData = false;
    std::int64_t dataBytes = 0;          // at most what the file holds after the chunk's header
    std::uint32_t declaredDataBytes = 0; // what the chunk's header says it holds

    // How much less sound the data chunk holds than its header says, in milliseconds; 0 when it
    // holds all of it, or the header's size is a placeholder that a streaming writer left.
    std::int64_t MissingMs() const;

    // Nothing for a file that is not a RIFF wave file.
    static std::optional<WaveHeader> Read(int fd);

    // Whether libsndfile decodes the encoding at all, so that a file it refuses in one of them
    // is damaged rather than in a foreign encoding.
    bool KnownEncoding() const;
};
