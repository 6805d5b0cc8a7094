#pragma once

#include "media/Decoder.h"
#include "media/FileDescriptor.h"
#include "media/MciDefs.h"

#include <sys/types.h>

#include <memory>
#include <vector>

struct mpg123_handle_struct;

// MPEG audio (MP3, and layers I and II) through libmpg123, gapless, with the exact length from a
// scan of the frame headers.
class Mp3Decoder : public Decoder {
public:
    enum class Probe { NotMpeg, Mpeg, Damaged };
    // Looks for a chain of consecutive MPEG audio frame headers: at the start of the file (after
    // an ID3v2 tag), or anywhere near the start when searchAhead is set. A file that opens with
    // an ID3v2 tag but holds no frames is damaged.
    static Probe Examine(int fd, bool searchAhead);

    static MCIERROR Open(FileDescriptor file, std::unique_ptr<Decoder> &decoder);
    ~Mp3Decoder() override;

    int SampleRate() const override { return rate_; }
    int Channels() const override { return channels_; }
    std::int64_t Frames() const override { return frames_; }
    std::int64_t Read(float *out, std::int64_t frames) override;
    bool Seek(std::int64_t frame) override;
    SoundDamage Damage() const override { return damage_; }

private:
    static std::int64_t FirstChain(int fd, bool searchAhead, bool *tagged);

    // The file read through a buffer of its own: the scan touches every frame header, and a
    // system call per header would make opening a long file slow. libmpg123 sees the spans of
    // the file that hold frames one after the other, as if nothing lay between them.
    struct Span {
        std::int64_t offset = 0; // in the file
        std::int64_t start = 0;  // in what libmpg123 reads
        std::int64_t bytes = 0;
    };
    struct Reader {
        int fd = -1;
        std::vector<Span> spans;
        std::int64_t size = 0;
        std::vector<unsigned char> buffer;
        std::size_t used = 0;         // bytes of buffer handed out
        std::size_t filled = 0;       // bytes of buffer holding file data
        std::int64_t bufferStart = 0; // offset of buffer[0] in what libmpg123 reads
        static ssize_t Read(void *reader, void *out, std::size_t bytes);
        static off_t Seek(void *reader, off_t offset, int whence);
    };

    Mp3Decoder() = default;

    FileDescriptor file_;
    mpg123_handle_struct *handle_ = nullptr;
    Reader reader_;
    long rate_ = 0;
    int channels_ = 0;
    std::int64_t frames_ = 0;
    std::int64_t next_ = 0;      // the frame the next Read starts at
    bool formatChanged_ = false; // met since the last seek
    SoundDamage damage_;
};
