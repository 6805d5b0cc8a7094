// What the program learns about the sound output under the audio set-up in its environment:
// the sound card count it checks at start, then, for the sound file named, the result of opening
// it and the position where its play ended. Run by the sound card tests in a child process, so
// that each set-up starts the audio libraries afresh.

#include "media/MediaSystem.h"
#include "media/SoundCards.h"

#include <QCoreApplication>
#include <SDL.h>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Held as the outputs of open sounds hold it, so that a device the count leaves open stays.
    InitAudioSubsystem();
    std::printf("devices %u\n", waveOutGetNumDevs());
    // Output identifiers are handed out from the lowest free one: 2 when nothing else is open.
    SDL_AudioSpec wanted{};
    wanted.freq = 8000;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 1;
    wanted.samples = 256;
    wanted.callback = [](void *, Uint8 *stream, int length) { SDL_memset(stream, 0, std::size_t(length)); };
    SDL_AudioSpec obtained{};
    const SDL_AudioDeviceID probe = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, SDL_AUDIO_ALLOW_ANY_CHANGE);
    std::printf("next-output %u\n", probe);
    if (probe != 0)
        SDL_CloseAudioDevice(probe);

    if (argc > 1) {
        MCI_OPEN_PARMS open;
        open.lpstrElementName = argv[1];
        const MCIERROR opened = mciSendCommand(0, MCI_OPEN, MCI_OPEN_ELEMENT | MCI_WAIT, &open);
        std::printf("open %u\n", opened);
        if (opened == 0) {
            MCI_PLAY_PARMS play;
            std::printf("play %u\n", mciSendCommand(open.wDeviceID, MCI_PLAY, MCI_WAIT, &play));
            MCI_STATUS_PARMS status;
            status.dwItem = MCI_STATUS_POSITION;
            mciSendCommand(open.wDeviceID, MCI_STATUS, MCI_STATUS_ITEM, &status);
            std::printf("played %u\n", status.dwReturn);
            MCI_GENERIC_PARMS close;
            mciSendCommand(open.wDeviceID, MCI_CLOSE, MCI_WAIT, &close);
        }
    }
    QuitAudioSubsystem();
    return 0;
}
