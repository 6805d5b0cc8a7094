#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <utility>

// An open file descriptor and its one owner: closed once, when the owner goes.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(FileDescriptor &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor &operator=(FileDescriptor &&other) noexcept
    {
        FileDescriptor(std::move(other)).Swap(*this);
        return *this;
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int Get() const { return fd_; }
    void Swap(FileDescriptor &other) noexcept { std::swap(fd_, other.fd_); }

private:
    int fd_;
};

// Reads up to `bytes` bytes at `offset` without moving the descriptor's position, going on after
// short reads and signals. Returns how many it got before the end of the file or an error.
inline std::size_t ReadAt(int fd, std::int64_t offset, void *out, std::size_t bytes)
{
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t got = ::pread(fd, static_cast<char *>(out) + done, bytes - done, off_t(offset) + off_t(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += std::size_t(got);
    }
    return done;
}
