#include "media/SoundCards.h"

#include "media/PulseOutput.h"

#include <QLoggingCategory>
#include <SDL.h>
#include <alsa/asoundlib.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

Q_LOGGING_CATEGORY(soundLog, "tamblo.sound", QtWarningMsg)

// The sound libraries' own complaints (ALSA lists every card it fails to open) go to a debug log:
// the operator sees one clear message from the program instead.
void AlsaMessage(const char *file, int line, const char *function, int error, const char *format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    qCDebug(soundLog, "ALSA %s:%d (%s): %s%s%s", file, line, function, text, error != 0 ? ": " : "",
            error != 0 ? snd_strerror(error) : "");
}

void SdlMessage(void *, int, SDL_LogPriority, const char *message) { qCDebug(soundLog, "SDL: %s", message); }

// Every driver SDL has but its PipeWire one, which does not keep time; the PipeWire server is
// reached through its PulseAudio side instead.
std::string DriversThatKeepTime()
{
    std::string drivers;
    for (int i = 0; i < SDL_GetNumAudioDrivers(); ++i) {
        const std::string name = SDL_GetAudioDriver(i);
        if (name != "pipewire")
            drivers += (drivers.empty() ? "" : ",") + name;
    }
    return drivers;
}

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
    snd_lib_error_set_handler(&AlsaMessage);
    SDL_LogSetOutputFunction(&SdlMessage, nullptr);
    const char *chosen = std::getenv("SDL_AUDIODRIVER");
    if (chosen == nullptr || *chosen == '\0')
        SDL_SetHint(SDL_HINT_AUDIODRIVER, DriversThatKeepTime().c_str());
    return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

void QuitAudioSubsystem() { SDL_QuitSubSystem(SDL_INIT_AUDIO); }

// A sound server plays on its default sink (or a null one) whatever it has. Without one, SDL's
// drivers are asked: a driver may list no device, or not know how many there are, while its default output plays
// all the same (ALSA lists none when only its default is set up): then the default decides.
unsigned waveOutGetNumDevs()
{
    if (PulseOutput::Wanted() && PulseOutput::ServerAnswers())
        return 1;
    if (!InitAudioSubsystem())
        return 0;
    const int listed = SDL_GetNumAudioDevices(0);
    const unsigned count = listed > 0 ? unsigned(listed) : DefaultOutputOpens() ? 1 : 0;
    QuitAudioSubsystem();
    return count;
}
