#include "media/SdlOutput.h"

#include "media/SoundCards.h"

#include <SDL.h>

#include <cstring>
#include <vector>

int SdlOutput::BufferFrames(int rate)
{
    int frames = 64;
    while (std::int64_t(frames) * 2 * 1000 <= std::int64_t(rate) * 20)
        frames *= 2;
    return frames;
}

MCIERROR SdlOutput::Open(int rate, int channels, AudioSource &source, std::unique_ptr<AudioOutput> &output)
{
    std::unique_ptr<SdlOutput> opened(new SdlOutput);
    if (!InitAudioSubsystem())
        return MCIERR_NO_OUTPUT_DEVICE;
    opened->subsystem_ = true;
    opened->rate_ = rate;
    opened->channels_ = channels;
    opened->source_ = &source;
    const int frames = BufferFrames(rate);

    // SDL's silent driver waits a whole number of milliseconds per buffer and so runs up to 16 %
    // fast; our own silent output keeps time by the steady clock. Like the disk driver, which
    // writes each buffer at once, it holds nothing once it has taken a buffer.
    const char *driver = SDL_GetCurrentAudioDriver();
    if (driver != nullptr && std::strcmp(driver, "dummy") == 0) {
        opened->clock_ = OutputClock(rate, 0, 0);
        opened->pacer_ = std::thread([output = opened.get(), frames] { output->Pace(frames); });
        output = std::move(opened);
        return MMSYSERR_NOERROR;
    }
    if (driver == nullptr || std::strcmp(driver, "disk") != 0) {
        // A sound card asks for the next buffer while it still has some of the sound before it
        // to play: ALSA runs on two periods of a buffer. Counting a whole buffer as held keeps
        // the count behind the sound; more than two cannot be held.
        opened->clock_ = OutputClock(rate, frames, 2 * std::int64_t(frames));
    } else {
        opened->clock_ = OutputClock(rate, 0, 0);
    }

    SDL_AudioSpec wanted{};
    wanted.freq = rate;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = Uint8(channels);
    wanted.samples = Uint16(frames);
    wanted.callback = &SdlOutput::Callback;
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

SdlOutput::~SdlOutput()
{
    if (device_ != 0)
        SDL_CloseAudioDevice(device_); // waits for the output thread to end
    if (pacer_.joinable()) {
        {
            std::lock_guard<std::mutex> guard(paceMutex_);
            stopping_ = true;
        }
        paceWake_.notify_all();
        pacer_.join();
    }
    if (subsystem_)
        QuitAudioSubsystem();
}

std::int64_t SdlOutput::Played(Clock::time_point now) const
{
    std::lock_guard<std::mutex> guard(clockMutex_);
    return clock_.Played(now);
}

// A device that was unplugged is stopped by SDL for good.
bool SdlOutput::Lost() const { return device_ != 0 && SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED; }

void SdlOutput::Callback(void *userdata, std::uint8_t *stream, int length)
{
    auto *output = static_cast<SdlOutput *>(userdata);
    output->Pull(reinterpret_cast<float *>(stream), length / int(sizeof(float)) / output->channels_);
}

void SdlOutput::Pull(float *out, int frames)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const Clock::time_point now = Clock::now();
    {
        std::lock_guard<std::mutex> guard(clockMutex_);
        clock_.Pulled(now, pulled_, frames);
    }
    source_->Render(out, frames, pulled_, now);
    pulled_ += frames;
}

// Pulls a buffer at every multiple of its length after the start, so the output keeps real time
// however long each wait overshoots. After a long stall (a suspended machine) it goes on from
// now, as a sound card that ran dry would, instead of rushing to catch up.
void SdlOutput::Pace(int frames)
{
    std::vector<float> buffer(std::size_t(frames) * std::size_t(channels_));
    const auto buffers = [this, frames](std::int64_t count) {
        const std::int64_t total = count * frames;
        constexpr std::int64_t second = 1000000000;
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::nanoseconds(total / rate_ * second + total % rate_ * second / rate_));
    };
    Clock::time_point start = Clock::now();
    std::unique_lock<std::mutex> wake(paceMutex_);
    for (std::int64_t done = 0; !stopping_;) {
        wake.unlock();
        Pull(buffer.data(), frames);
        wake.lock();
        ++done;
        if (Clock::now() - (start + buffers(done)) > buffers(4))
            start = Clock::now() - buffers(done);
        paceWake_.wait_until(wake, start + buffers(done), [this] { return stopping_; });
    }
}
