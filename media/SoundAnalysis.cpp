#include "media/SoundAnalysis.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace {

constexpr std::int64_t chunkFrames = 16384;

struct LoudnessDeleter {
    void operator()(ebur128_state *state) const { ebur128_destroy(&state); }
};

} // namespace

MCIERROR AnalyseSound(const std::string &path, SoundAnalysis &analysis, std::int64_t limitMs)
{
    std::unique_ptr<Decoder> decoder;
    MCIERROR result = ReadSoundInfo(path, analysis.info);
    if (result == MMSYSERR_NOERROR)
        result = OpenSoundFile(path, decoder, analysis.info.kind);
    if (result != MMSYSERR_NOERROR)
        return result;
    const int channels = decoder->Channels();
    const std::int64_t rate = decoder->SampleRate();
    const std::int64_t wanted = limitMs < 0 ? decoder->Frames() : std::min(decoder->Frames(), limitMs * rate / 1000);

    std::unique_ptr<ebur128_state, LoudnessDeleter> loudness(
        ebur128_init(unsigned(channels), unsigned(rate), EBUR128_MODE_I));
    if (!loudness)
        return MCIERR_OUT_OF_MEMORY;
    // A mono prompt sounds from both sides of a stereo output.
    if (channels == 1)
        ebur128_set_channel(loudness.get(), 0, EBUR128_DUAL_MONO);

    const float silence = float(std::pow(10.0, Verdict::SilenceDb / 20.0));
    const float fullScale = float(std::pow(10.0, ClipDb / 20.0));
    std::vector<float> buffer(std::size_t(chunkFrames) * std::size_t(channels));
    std::vector<int> clipRun(std::size_t(channels), 0);
    float peak = 0;
    float blockPeak = 0;
    std::int64_t blockEnd = rate / 100;
    std::int64_t firstSound = -1, lastSound = -1;
    analysis.clips = 0;
    analysis.envelopeDb.clear();
    analysis.envelopeDb.reserve(std::size_t(wanted * 100 / std::max<std::int64_t>(rate, 1) + 1));

    std::int64_t frames = wanted;
    for (std::int64_t done = 0; done < frames;) {
        const std::int64_t got = decoder->Read(buffer.data(), std::min(chunkFrames, frames - done));
        if (got <= 0) {
            // It decoded up to here and no further: what decoded is measured.
            const std::int64_t atMs = done * 1000 / rate;
            SoundDamage &damage = analysis.info.damage;
            if (!damage.Found() || damage.atMs > atMs)
                damage = {atMs, "the sound does not decode on from there"};
            frames = done;
            break;
        }
        ebur128_add_frames_float(loudness.get(), buffer.data(), std::size_t(got));
        const float *sample = buffer.data();
        for (std::int64_t frame = done; frame < done + got; ++frame) {
            float loudest = 0;
            for (int channel = 0; channel < channels; ++channel, ++sample) {
                const float magnitude = std::fabs(*sample);
                loudest = std::max(loudest, magnitude);
                int &run = clipRun[std::size_t(channel)];
                run = magnitude >= fullScale ? run + 1 : 0;
                if (run == ClipRun)
                    ++analysis.clips;
            }
            if (loudest >= silence) {
                if (firstSound < 0)
                    firstSound = frame;
                lastSound = frame;
            }
            peak = std::max(peak, loudest);
            blockPeak = std::max(blockPeak, loudest);
            if (frame + 1 == blockEnd) {
                analysis.envelopeDb.push_back(float(AmplitudeToDb(blockPeak)));
                blockPeak = 0;
                blockEnd = (std::int64_t(analysis.envelopeDb.size()) + 1) * rate / 100;
            }
        }
        done += got;
    }
    if (std::int64_t(analysis.envelopeDb.size()) * rate / 100 < frames)
        analysis.envelopeDb.push_back(float(AmplitudeToDb(blockPeak)));

    analysis.peakDb = AmplitudeToDb(peak);
    double lufs = -INFINITY;
    if (ebur128_loudness_global(loudness.get(), &lufs) != EBUR128_SUCCESS)
        lufs = -INFINITY;
    analysis.loudnessLufs = lufs;
    const std::int64_t lengthMs = frames == decoder->Frames() ? analysis.info.lengthMs : frames * 1000 / rate;
    analysis.measuredMs = lengthMs;
    analysis.leadingSilenceMs = firstSound < 0 ? lengthMs : firstSound * 1000 / rate;
    analysis.trailingSilenceMs = lastSound < 0 ? lengthMs : (frames - 1 - lastSound) * 1000 / rate;
    return MMSYSERR_NOERROR;
}

std::string DamageText(const SoundAnalysis &analysis, std::int64_t withinMs)
{
    const SoundDamage &damage = analysis.info.damage;
    if (!damage.Found() || (withinMs >= 0 && damage.atMs >= withinMs))
        return {};
    return "The sound file is damaged at " + std::to_string(damage.atMs) + " ms: " + damage.what;
}

std::vector<std::string> SoundWarnings(const SoundAnalysis &analysis)
{
    std::vector<std::string> warnings;
    if (analysis.info.lengthMs > DeviceMemoryMs)
        warnings.push_back("The file is " + SecondsText(analysis.info.lengthMs)
                           + " long; the device keeps only its first " + SecondsText(DeviceMemoryMs));
    if (analysis.clips > 0)
        warnings.push_back("The file clips: " + std::to_string(analysis.clips)
                           + (analysis.clips == 1 ? " run" : " runs") + " of samples at full scale");
    // Loudness is measured over 400 ms windows: a shorter file has none, however loud it is.
    const bool measurable = analysis.info.lengthMs >= 400;
    if (analysis.loudnessLufs < QuietLufs && (measurable || !std::isinf(analysis.loudnessLufs))) {
        const std::string level =
            std::isinf(analysis.loudnessLufs) ? "too quiet to measure" : DecibelText(analysis.loudnessLufs) + " LUFS";
        warnings.push_back("The file is very quiet (" + level + ")");
    }
    return warnings;
}
