#include "tests/media/MediaFixtures.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <mpg123.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

FixtureDir::FixtureDir()
{
    if (!dir_.isValid())
        throw std::runtime_error("no temporary folder");
}

std::string FixtureDir::Path(const std::string &name) const
{
    return dir_.filePath(QString::fromStdString(name)).toStdString();
}

float PatternSample(std::int64_t frame, int channel)
{
    const std::int64_t step = (frame % 32767) + 1;
    const float value = float(step) / 32768.0f;
    return channel % 2 == 0 ? value : -value;
}

void WriteWave(const std::string &path, int rate, int channels, std::int64_t frames, int subtype)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | subtype;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        throw std::runtime_error(std::string("cannot write wave: ") + sf_strerror(nullptr));
    // 16-bit files are written as integers so that reading them back as float is exact.
    std::vector<float> block(4096 * std::size_t(channels));
    std::vector<short> shorts(block.size());
    for (std::int64_t done = 0; done < frames;) {
        const std::int64_t count = std::min<std::int64_t>(4096, frames - done);
        for (std::int64_t i = 0; i < count; ++i) {
            for (int c = 0; c < channels; ++c) {
                const std::size_t at = std::size_t(i * channels + c);
                block[at] = PatternSample(done + i, c);
                shorts[at] = short(std::lround(block[at] * 32768.0f));
            }
        }
        if (subtype == SF_FORMAT_PCM_16)
            sf_writef_short(file, shorts.data(), count);
        else
            sf_writef_float(file, block.data(), count);
        done += count;
    }
    sf_close(file);
}

void WriteToneWave(const std::string &path, int rate, std::int64_t frames)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        throw std::runtime_error(std::string("cannot write wave: ") + sf_strerror(nullptr));
    std::vector<short> samples(static_cast<std::size_t>(frames));
    for (std::int64_t i = 0; i < frames; ++i) {
        // Offset by half a step, so that the sine itself is never zero.
        const double phase = 2 * M_PI * 440.0 * (double(i) + 0.5) / rate;
        samples[static_cast<std::size_t>(i)] = short(std::lround(8000 * std::sin(phase)) | 1);
    }
    const bool written = sf_writef_short(file, samples.data(), frames) == frames;
    sf_close(file);
    if (!written)
        throw std::runtime_error("cannot write wave " + path);
}

std::vector<float> DecodeWithLibsndfile(const std::string &path)
{
    SF_INFO info{};
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        throw std::runtime_error("libsndfile cannot open " + path);
    std::vector<float> samples;
    std::vector<float> block(4096 * std::size_t(info.channels));
    for (;;) {
        const sf_count_t got = sf_readf_float(file, block.data(), 4096);
        if (got <= 0)
            break;
        samples.insert(samples.end(), block.begin(), block.begin() + got * info.channels);
    }
    sf_close(file);
    return samples;
}

void RemoveRiffChunks(const std::string &path, const char *id)
{
    std::vector<std::uint8_t> bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const auto little32 = [&](std::size_t at) {
        return std::uint32_t(bytes[at]) | std::uint32_t(bytes[at + 1]) << 8 | std::uint32_t(bytes[at + 2]) << 16
               | std::uint32_t(bytes[at + 3]) << 24;
    };
    std::vector<std::uint8_t> kept(bytes.begin(), bytes.begin() + 12);
    for (std::size_t pos = 12; pos + 8 <= bytes.size();) {
        const std::size_t size = little32(pos + 4);
        const std::size_t end = std::min(bytes.size(), pos + 8 + size + (size & 1));
        if (std::memcmp(bytes.data() + pos, id, 4) != 0)
            kept.insert(kept.end(), bytes.begin() + std::ptrdiff_t(pos), bytes.begin() + std::ptrdiff_t(end));
        pos = end;
    }
    const std::uint32_t riffSize = std::uint32_t(kept.size() - 8);
    for (int i = 0; i < 4; ++i)
        kept[std::size_t(4 + i)] = std::uint8_t(riffSize >> (8 * i));
    WriteBytes(path, kept);
}

void EncodeMp3(const std::string &wavePath, const std::string &mp3Path, bool withInfoFrame)
{
    const std::string command =
        std::string("lame --quiet -b 128 ") + (withInfoFrame ? "" : "-t ") + "'" + wavePath + "' '" + mp3Path + "'";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("lame failed: " + command);
}

std::int64_t DecodedMp3Frames(const std::string &path)
{
    mpg123_init();
    mpg123_handle *handle = mpg123_new(nullptr, nullptr);
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    if (mpg123_open(handle, path.c_str()) != MPG123_OK)
        throw std::runtime_error("mpg123 cannot open " + path);
    long rate = 0;
    int channels = 0, encoding = 0;
    mpg123_getformat(handle, &rate, &channels, &encoding);
    std::vector<unsigned char> buffer(65536);
    std::size_t bytes = 0;
    for (;;) {
        std::size_t done = 0;
        const int result = mpg123_read(handle, buffer.data(), buffer.size(), &done);
        bytes += done;
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT)
            break;
    }
    mpg123_getformat(handle, &rate, &channels, &encoding);
    const std::int64_t frames = std::int64_t(bytes / std::size_t(mpg123_encsize(encoding) * channels));
    mpg123_close(handle);
    mpg123_delete(handle);
    return frames;
}

void WriteBytes(const std::string &path, const std::vector<std::uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<std::uint8_t> ReadBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteDamagedCopy(const std::string &from, const std::string &to, Damage damage, std::size_t count)
{
    std::vector<std::uint8_t> bytes = ReadBytes(from);
    if (count > bytes.size())
        throw std::runtime_error("a damaged copy of " + from + " needs more bytes");
    const std::size_t start = (bytes.size() - count) / 2;
    std::uint32_t seed = 12345;
    switch (damage) {
    case Damage::RandomOverMiddle:
        for (std::size_t i = start; i < start + count; ++i) {
            seed = seed * 1103515245 + 12345;
            bytes[i] = std::uint8_t(seed >> 16);
        }
        break;
    case Damage::ZerosOverMiddle: std::fill_n(bytes.begin() + std::ptrdiff_t(start), count, 0); break;
    case Damage::CutShort: bytes.resize(count); break;
    }
    WriteBytes(to, bytes);
}

void WriteStereoThenMonoMp3(const std::string &path, int msEach)
{
    std::vector<std::uint8_t> joined;
    for (int channels : {2, 1}) {
        const std::string part = path + ".part";
        WriteWave(part + ".wav", 44100, channels, std::int64_t(44100) * msEach / 1000, SF_FORMAT_PCM_16);
        EncodeMp3(part + ".wav", part, false);
        const std::vector<std::uint8_t> bytes = ReadBytes(part);
        joined.insert(joined.end(), bytes.begin(), bytes.end());
        std::remove((part + ".wav").c_str());
        std::remove(part.c_str());
    }
    WriteBytes(path, joined);
}

DiskCapture::DiskCapture(std::string path) : path_(std::move(path))
{
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", path_.c_str(), 1);
}

DiskCapture::~DiskCapture()
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    unsetenv("SDL_DISKAUDIOFILE");
}

std::vector<float> DiskCapture::Samples() const
{
    QFile file(QString::fromStdString(path_));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    std::vector<float> samples(std::size_t(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    return samples;
}

std::int64_t FirstSoundFrame(const std::vector<float> &samples, int channels)
{
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (samples[i] != 0.0f)
            return std::int64_t(i) / channels;
    }
    return -1;
}

std::int64_t SoundFrames(const std::vector<float> &samples, int channels)
{
    std::int64_t count = 0;
    for (std::size_t frame = 0; frame + std::size_t(channels) <= samples.size(); frame += std::size_t(channels)) {
        for (int c = 0; c < channels; ++c) {
            if (samples[frame + std::size_t(c)] != 0.0f) {
                ++count;
                break;
            }
        }
    }
    return count;
}

std::vector<std::size_t> Occurrences(const std::vector<float> &samples, const std::vector<float> &sound)
{
    std::vector<std::size_t> found;
    if (sound.empty() || sound.size() > samples.size())
        return found;
    // Candidates are checked at the sound's first non-zero sample, which silence never matches.
    std::size_t key = 0;
    while (key < sound.size() && sound[key] == 0.0f)
        ++key;
    if (key == sound.size())
        return found;
    for (std::size_t at = 0; at + sound.size() <= samples.size(); ++at) {
        if (samples[at + key] == sound[key]
            && std::equal(sound.begin(), sound.end(), samples.begin() + std::ptrdiff_t(at)))
            found.push_back(at);
    }
    return found;
}

bool WaitFor(const std::function<bool()> &done, int boundMilliseconds)
{
    QDeadlineTimer deadline(boundMilliseconds);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}
