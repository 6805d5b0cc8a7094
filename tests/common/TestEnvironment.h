#pragma once

#include <cstdlib>

// Widget tests draw offscreen and audio tests use SDL's silent dummy device, unless the caller
// chose otherwise in the environment.
inline void PrepareTestEnvironment()
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
}
