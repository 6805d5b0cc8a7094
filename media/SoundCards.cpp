#include "media/SoundCards.h"

#include <SDL.h>

bool InitAudioSubsystem()
{
    // SDL would otherwise turn SIGINT/SIGTERM into quit events that nobody reads in a Qt program.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

void QuitAudioSubsystem()
{
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

unsigned waveOutGetNumDevs()
{
    if (!InitAudioSubsystem())
        return 0;
    const int count = SDL_GetNumAudioDevices(0);
    QuitAudioSubsystem();
    return count > 0 ? static_cast<unsigned>(count) : 0;
}
