// Fuzz target for opening and decoding a sound file: the bytes become a file whose extension the
// first byte picks, which is then opened, read, positioned and read again.

#include "media/SoundFile.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string Folder()
{
    static std::string folder = [] {
        char pattern[] = "/dev/shm/tamblo-fuzz-XXXXXX";
        const char *made = mkdtemp(pattern);
        if (made == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        return std::string(made);
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    static const char *const extensions[] = {".wav", ".mp3", ".mid", ".rmi", ".bin"};
    const std::string path = Folder() + "/input" + extensions[data[0] % 5];
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        std::abort();
    std::fwrite(data + 1, 1, size - 1, file);
    std::fclose(file);

    std::unique_ptr<Decoder> decoder;
    SoundKind kind = SoundKind::Wave;
    if (OpenSoundFile(path, decoder, kind) == 0) {
        if (decoder->SampleRate() <= 0 || decoder->Channels() <= 0 || decoder->Frames() < 0)
            std::abort();
        // A few buffers from the start, the middle, the end and the start again, as playing,
        // seeking and a second recording would ask.
        std::vector<float> buffer(std::size_t(decoder->Channels()) * 1024);
        const std::int64_t frames = decoder->Frames();
        bool first = true;
        for (std::int64_t at : {std::int64_t(0), frames / 2, frames, std::int64_t(0)}) {
            if (!std::exchange(first, false) && !decoder->Seek(at))
                continue;
            for (int i = 0; i < 4; ++i) {
                const std::int64_t got = decoder->Read(buffer.data(), 1024);
                if (got > 1024)
                    std::abort();
                if (got <= 0)
                    break;
            }
        }
    }
    unlink(path.c_str());
    return 0;
}
