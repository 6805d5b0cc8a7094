#include "media/PlaybackSink.h"

#include <mutex>

namespace {

std::mutex mutex;
std::string chosen; // under mutex

} // namespace

void SetPlaybackSink(const std::string &sink)
{
    std::lock_guard<std::mutex> guard(mutex);
    chosen = sink;
}

std::string PlaybackSink()
{
    std::lock_guard<std::mutex> guard(mutex);
    return chosen;
}
