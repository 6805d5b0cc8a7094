#pragma once

#include <string>

// The sound server's output (sink) that the media system plays into, for every device it opens
// from now on: the operator's choice, found among the server's outputs. Empty: the server's
// default, which the desktop's own sound settings can route.
void SetPlaybackSink(const std::string &sink);
std::string PlaybackSink();
