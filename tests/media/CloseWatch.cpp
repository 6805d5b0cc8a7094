#include "tests/media/CloseWatch.h"

#include <dlfcn.h>

#include <atomic>
#include <cerrno>

namespace {

std::atomic<bool> watching{false};
std::atomic<int> badCloses{0};

} // namespace

// Stands in for the C library's close() in this test program, libraries included, and hands
// every call on to the next definition (the C library's, or a sanitizer's in between).
extern "C" int close(int fd)
{
    using Close = int (*)(int);
    static const Close next = reinterpret_cast<Close>(dlsym(RTLD_NEXT, "close"));
    const int result = next(fd);
    if (result != 0 && errno == EBADF && watching)
        ++badCloses;
    return result;
}

CloseWatch::CloseWatch()
{
    badCloses = 0;
    watching = true;
}

CloseWatch::~CloseWatch() { watching = false; }

int CloseWatch::ClosesOfClosedDescriptors() const { return badCloses; }
