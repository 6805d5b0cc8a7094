#include "media/SoundCards.h"

#include <SDL.h>

unsigned waveOutGetNumDevs()
{
    // SDL would otherwise turn SIGINT/SIGTERM into quit events that nobody reads in a Qt program.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return 0;
    const int count = SDL_GetNumAudioDevices(0);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return count > 0 ? static_cast<unsigned>(count) : 0;
}
