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

private:
    // The file read through a buffer of its own: the scan touches every frame header, and a
    // system call per header would make opening a long file slow.
    struct Reader {
        int fd = -1;
        std::vector<unsigned char> buffer;
        std::size_t used = 0;         // bytes of buffer handed out
        std::size_t filled = 0;       // bytes of buffer holding file data
        std::int64_t bufferStart = 0; // file offset of buffer[0]
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
    std::int64_t next_ = 0; // the frame the next Read starts at
};
