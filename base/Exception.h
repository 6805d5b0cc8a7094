#pragma once

#include <exception>
#include <string>

// The root of every exception the program raises on purpose. It carries only a message,
// which the top-level handler shows to the operator.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}

    const std::string &Message() const noexcept { return message_; }
    const char *what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// An operating-system error on a file or device, with the system's error number.
class EInOutError : public Exception {
public:
    EInOutError(std::string message, int errorCode) : Exception(std::move(message)), ErrorCode(errorCode) {}

    int ErrorCode;
};

// Memory ran out; the message is fixed.
class EOutOfMemory : public Exception {
public:
    EOutOfMemory() : Exception("Out of memory") {}
};

// An operation that the object's current state or arguments do not allow.
class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};

// A text that does not convert to the value asked for.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// printf-style formatting into a std::string, for the messages built from patterns ("Value must be between %d and %d").
std::string FormatText(const char *pattern, ...) __attribute__((format(printf, 1, 2)));
