#include "media/SoundCards.h"

#include <SDL.h>

namespace {

void Silence(void *, Uint8 *stream, int length) { SDL_memset(stream, 0, std::size_t(length)); }

// The default output is opened paused, so nothing is played, and closed at once; a short buffer
// keeps the wait of closing short.
bool DefaultOutputOpens()
{
    SDL_AudioSpec wanted{};
    wanted.freq = 44100;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 2;
    wanted.samples = 64;
    wanted.callback = &Silence;
    SDL_AudioSpec obtained{};
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, SDL_AUDIO_ALLOW_ANY_CHANGE);
    if (device == 0)
        return false;
    SDL_CloseAudioDevice(device);
    return true;
}

} // namespace

bool InitAudioSubsystem()
{
    // SDL would otherwise turn SIGINT/SIGTERM into quit events that nobody reads in a Qt program.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

void QuitAudioSubsystem() { SDL_QuitSubSystem(SDL_INIT_AUDIO); }

// A driver may list no device, or not know how many there are, while its default output plays
// all the same (ALSA lists none when only its default is set up): then the default decides.
unsigned waveOutGetNumDevs()
{
    if (!InitAudioSubsystem())
        return 0;
    const int listed = SDL_GetNumAudioDevices(0);
    const unsigned count = listed > 0 ? unsigned(listed) : DefaultOutputOpens() ? 1 : 0;
    QuitAudioSubsystem();
    return count;
}
