#include "media/MediaPlayer.h"
#include "tests/common/SoundSink.h"
#include "tests/media/MediaFixtures.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// A sink sample above this counts as sound (-60 dBFS); a null sink's silence is exact zeros.
constexpr int kSoundThreshold = 32;

// Plays through a private sound server while alive, then back to the silent output.
class SinkOutput {
public:
    bool Start(std::string *error)
    {
        if (!sink.Start(error))
            return false;
        sink.UseForSdl();
        return true;
    }
    ~SinkOutput()
    {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        unsetenv("PULSE_SERVER");
    }
    SoundSink sink;
};

struct Reading {
    Clock::time_point when;
    std::int32_t position;
    std::uint8_t mode;
};

// What the player reports is what the device hears: at every moment the position says, the
// sink has played that much of the sound, and the play ends once all of it has been played.
// The output takes the sound a buffer or two ahead, so the frames handed to it would run ahead.
TEST(SinkTimingTest, PositionNeverRunsAheadOfTheSoundAtTheSink)
{
    if (!SoundSink::Available())
        GTEST_SKIP() << "pulseaudio and parec are not installed (scripts/setup installs them)";
    SinkOutput output;
    std::string error;
    ASSERT_TRUE(output.Start(&error)) << error;
    SoundSink &sink = output.sink;
    FixtureDir dir;
    const std::string wave = dir.Path("tone.wav");
    WriteToneWave(wave, 44100, 44100); // 1 s

    TMediaPlayer player;
    player.setFileName(QString::fromStdString(wave));
    player.OpenDevice();
    player.setTimeFormatCode(0);
    ASSERT_EQ(player.MediaLength(), 1000);
    const std::int64_t from = sink.FrameCount();
    std::vector<Reading> readings;
    player.StartPlayback();
    ASSERT_TRUE(WaitFor([&] {
        readings.push_back({Clock::now(), player.CurrentPosition(), player.DeviceMode()});
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        return readings.back().mode == 1;
    }));
    ASSERT_TRUE(sink.WaitUntilCaptured(readings.back().when + std::chrono::milliseconds(300), std::chrono::seconds(5)));
    const auto first = sink.FirstSound(kSoundThreshold, from);
    ASSERT_TRUE(first.has_value()) << "no sound reached the sink";
    const auto last = sink.LastSound(kSoundThreshold, *first);
    ASSERT_TRUE(last.has_value());
    // All of it reached the sink (on a busy machine the server may have run dry between two
    // buffers, which makes the sound longer, never shorter).
    EXPECT_GE((*last + 1 - *first) / (SoundSink::Rate / 1000), 1000);
    // The sink's timeline is placed within a fraction of a millisecond; a millisecond is allowed.
    const auto tolerance = std::chrono::milliseconds(1);
    int moving = 0;
    for (const Reading &reading : readings) {
        if (reading.position <= 0)
            continue;
        ++moving;
        const std::int64_t frame = *first + std::int64_t(reading.position) * (SoundSink::Rate / 1000) - 1;
        ASSERT_LE(sink.FrameTime(std::min(frame, *last)), reading.when + tolerance)
            << "position " << reading.position << " before the sink got there";
    }
    EXPECT_GT(moving, 100);
    // The play ended, at its length, once the last of it had been played.
    EXPECT_EQ(readings.back().position, 1000);
    EXPECT_LE(sink.FrameTime(*last + 1), readings.back().when + tolerance);
}

} // namespace
