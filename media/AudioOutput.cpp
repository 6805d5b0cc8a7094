#include "media/AudioOutput.h"

#include "media/SoundCards.h"

#include <SDL.h>

MCIERROR AudioOutput::Supports(int rate, int channels)
{
    if (channels < 1 || channels > maxChannels)
        return MCIERR_TOO_MANY_CHANNELS;
    if (rate < minRate || rate > maxRate)
        return MCIERR_UNSUPPORTED_RATE;
    return MMSYSERR_NOERROR;
}

MCIERROR AudioOutput::Open(int rate, int channels, AudioSource &source, std::unique_ptr<AudioOutput> &output)
{
    if (const MCIERROR unsupported = Supports(rate, channels))
        return unsupported;
    std::unique_ptr<AudioOutput> opened(new AudioOutput);
    if (!InitAudioSubsystem())
        return MCIERR_NO_OUTPUT_DEVICE;
    opened->subsystem_ = true;
    opened->source_ = &source;
    opened->channels_ = channels;

    SDL_AudioSpec wanted{};
    wanted.freq = rate;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = Uint8(channels);
    wanted.samples = bufferFrames;
    wanted.callback = &AudioOutput::Callback;
    wanted.userdata = opened.get();
    SDL_AudioSpec obtained{};
    // No allowed changes: SDL converts from our format to the device's own.
    opened->device_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    // A driver may list no device while its default output opens: only a failed open says
    // there is none.
    if (opened->device_ == 0)
        return SDL_GetNumAudioDevices(0) > 0 ? MCIERR_OUTPUT_FAILED : MCIERR_NO_OUTPUT_DEVICE;
    SDL_PauseAudioDevice(opened->device_, 0);
    output = std::move(opened);
    return MMSYSERR_NOERROR;
}

AudioOutput::~AudioOutput()
{
    if (device_ != 0)
        SDL_CloseAudioDevice(device_); // waits for the output thread to end
    if (subsystem_)
        QuitAudioSubsystem();
}

void AudioOutput::Callback(void *userdata, std::uint8_t *stream, int length)
{
    auto *output = static_cast<AudioOutput *>(userdata);
    const int frames = length / int(sizeof(float)) / output->channels_;
    output->source_->Render(reinterpret_cast<float *>(stream), frames);
}

AudioOutput::Lock::Lock(AudioOutput &output) : output_(output)
{
    SDL_LockAudioDevice(output_.device_);
}

AudioOutput::Lock::~Lock()
{
    SDL_UnlockAudioDevice(output_.device_);
}
