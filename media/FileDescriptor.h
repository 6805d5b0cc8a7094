#pragma once

#include <unistd.h>

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
