#include "media/MediaErrors.h"
#include "media/MediaPlayer.h"
#include "tests/media/CloseWatch.h"
#include "tests/media/MediaFixtures.h"

#include <QDir>

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

std::string OpenError(TMediaPlayer &player, const std::string &path)
{
    player.setFileName(QString::fromStdString(path));
    try {
        player.OpenDevice();
    } catch (const EMCIDeviceError &error) {
        return error.Message();
    }
    return "opened";
}

std::int32_t OpenedLength(const std::string &path)
{
    TMediaPlayer player;
    player.setFileName(QString::fromStdString(path));
    player.OpenDevice();
    player.setTimeFormatCode(0);
    return player.MediaLength();
}

std::vector<std::uint8_t> ShortSong()
{
    return MidiFileBytes(0, 480,
                         {MidiTrack({{0, {0xC0, 0}},
                                     {0, {0x90, 60, 100}},
                                     {480, {0x80, 60, 0}},
                                     Tempo(0, 1000000),
                                     {0, {0x90, 64, 100}},
                                     {240, {0x80, 64, 0}},
                                     EndOfTrack(0)})});
}

TEST(OpeningTest, WaveLengthIsExactForEveryEncoding)
{
    FixtureDir dir;
    struct Case {
        int subtype;
        int rate;
        int channels;
    };
    const Case cases[] = {
        {SF_FORMAT_PCM_U8, 8000, 1},
        {SF_FORMAT_PCM_16, 44100, 2},
        {SF_FORMAT_PCM_24, 48000, 2},
        {SF_FORMAT_PCM_32, 96000, 1},
        {SF_FORMAT_FLOAT, 22050, 2},
        {SF_FORMAT_ULAW, 8000, 1},
        {SF_FORMAT_ALAW, 11025, 1},
        // Compressed in blocks, the last one partly padding: the fact chunk counts the sound.
        {SF_FORMAT_GSM610, 8000, 1},
        {SF_FORMAT_G721_32, 8000, 1},
        {SF_FORMAT_NMS_ADPCM_16, 8000, 1},
    };
    for (const Case &c : cases) {
        const std::string path = dir.Path("pcm" + std::to_string(c.subtype) + ".wav");
        // 12345 ms of sound.
        WriteWave(path, c.rate, c.channels, (std::int64_t(c.rate) * 12345 + 999) / 1000, c.subtype);
        TMediaPlayer player;
        player.setFileName(QString::fromStdString(path));
        player.OpenDevice();
        EXPECT_EQ(player.MediaLength(), 12345) << "subtype " << c.subtype;
        EXPECT_EQ(player.StepFrames(), 1234);
        EXPECT_EQ(player.CurrentPosition(), 0);
        EXPECT_EQ(player.DeviceMode(), 1); // stopped
    }
    // ADPCM stores whole blocks; the length is that of the frames the file holds.
    for (int subtype : {SF_FORMAT_IMA_ADPCM, SF_FORMAT_MS_ADPCM}) {
        const std::string path = dir.Path("adpcm" + std::to_string(subtype) + ".wav");
        WriteWave(path, 22050, 1, 22050 * 3, subtype);
        const std::int32_t length = OpenedLength(path);
        EXPECT_GE(length, 3000);
        EXPECT_LT(length, 3000 + 2048 * 1000 / 22050);
    }
}

// libsndfile takes the pad byte after an odd-sized GSM data chunk for one more block of 40 ms.
TEST(OpeningTest, GsmWaveLengthEndsAtTheLastRealBlock)
{
    FixtureDir dir;
    const std::string path = dir.Path("prompt.wav");
    WriteWave(path, 8000, 1, 34568, SF_FORMAT_GSM610); // 4321 ms in 109 blocks of 320 frames
    EXPECT_EQ(OpenedLength(path), 4321);
    RemoveRiffChunks(path, "fact");
    EXPECT_EQ(OpenedLength(path), 109 * 320 / 8);
}

TEST(OpeningTest, Mp3LengthIsExactWithAndWithoutInfoFrame)
{
    FixtureDir dir;
    const std::string wave = dir.Path("tone.wav");
    WriteWave(wave, 44100, 2, 44100 * 2, SF_FORMAT_PCM_16);
    const std::string tagged = dir.Path("tagged.mp3");
    EncodeMp3(wave, tagged, true);
    // The Info frame records the encoder's delay and padding: exactly the 2 s that went in.
    EXPECT_EQ(OpenedLength(tagged), 2000);

    // Without it the length is every frame the decoder gives, found by scanning, not guessed.
    const std::string bare = dir.Path("bare.mp3");
    EncodeMp3(wave, bare, false);
    EXPECT_EQ(OpenedLength(bare), DecodedMp3Frames(bare) * 1000 / 44100);
    EXPECT_GT(OpenedLength(bare), 2000);
}

TEST(OpeningTest, MidiAndRmiLengthComesFromTheTempoMap)
{
    FixtureDir dir;
    // 480 ticks at 500 ms per quarter, then 240 at 1 s per quarter: 1000 ms.
    const std::string midi = dir.Path("song.mid");
    WriteBytes(midi, ShortSong());
    EXPECT_EQ(OpenedLength(midi), 1000);
    const std::string rmi = dir.Path("song.rmi");
    WriteBytes(rmi, RmiBytes(ShortSong()));
    EXPECT_EQ(OpenedLength(rmi), 1000);
}

TEST(OpeningTest, MissingSoundFontIsAnErrorTheUserSees)
{
    FixtureDir dir;
    const std::string midi = dir.Path("song.mid");
    WriteBytes(midi, ShortSong());
    setenv("TAMBLO_SOUNDFONT", dir.Path("none.sf2").c_str(), 1);
    TMediaPlayer player;
    const std::string message = OpenError(player, midi);
    unsetenv("TAMBLO_SOUNDFONT");
    EXPECT_EQ(message, "The sound font for MIDI playback could not be loaded");
    EXPECT_FALSE(player.IsOpen());
}

TEST(OpeningTest, DecoderIsChosenByContentBeforeExtension)
{
    FixtureDir dir;
    const std::string wave = dir.Path("w.wav");
    WriteWave(wave, 44100, 1, 44100, SF_FORMAT_PCM_16);
    const std::string mp3 = dir.Path("m.mp3");
    EncodeMp3(wave, mp3, true);
    // Misnamed files still open as what they are.
    ASSERT_EQ(std::rename(wave.c_str(), dir.Path("wave.mid").c_str()), 0);
    ASSERT_EQ(std::rename(mp3.c_str(), dir.Path("mpeg.wav").c_str()), 0);
    WriteBytes(dir.Path("song.mp3"), ShortSong());
    EXPECT_EQ(OpenedLength(dir.Path("wave.mid")), 1000);
    EXPECT_EQ(OpenedLength(dir.Path("mpeg.wav")), 1000);
    EXPECT_EQ(OpenedLength(dir.Path("song.mp3")), 1000);
}

TEST(OpeningTest, BadFilesRaiseClearErrors)
{
    FixtureDir dir;
    const std::string good = dir.Path("good.wav");
    WriteWave(good, 44100, 2, 44100, SF_FORMAT_PCM_16);

    std::vector<std::uint8_t> waveBytes;
    {
        FILE *file = std::fopen(good.c_str(), "rb");
        waveBytes.resize(200);
        waveBytes.resize(std::fread(waveBytes.data(), 1, waveBytes.size(), file));
        std::fclose(file);
    }
    WriteBytes(dir.Path("empty.wav"), {});
    WriteBytes(dir.Path("truncated.wav"), std::vector<std::uint8_t>(waveBytes.begin(), waveBytes.begin() + 30));
    WriteBytes(dir.Path("riff.wav"), std::vector<std::uint8_t>(waveBytes.begin(), waveBytes.begin() + 6));
    // A well-formed wave file in an encoding nothing here decodes (format tag 0x0161).
    std::vector<std::uint8_t> foreign = waveBytes;
    foreign[20] = 0x61;
    foreign[21] = 0x01;
    WriteBytes(dir.Path("foreign.wav"), foreign);
    std::vector<std::uint8_t> noise(20000);
    std::uint32_t seed = 12345;
    for (auto &byte : noise) {
        seed = seed * 1103515245 + 12345;
        byte = std::uint8_t(seed >> 16);
    }
    WriteBytes(dir.Path("noise.mp3"), noise);
    WriteBytes(dir.Path("noise.bin"), noise);
    auto brokenMidi = ShortSong();
    brokenMidi[21] += 40; // the track runs past the end of the file
    WriteBytes(dir.Path("broken.mid"), brokenMidi);
    WriteBytes(dir.Path("nodata.rmi"), RmiBytes(ShortSong(), false));
    WriteBytes(dir.Path("tagonly.mp3"), {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    mkdir(dir.Path("folder.wav").c_str(), 0755);

    const std::string damaged = "The sound file is damaged or incomplete";
    const std::string unknown = "The file is not a sound file the media system knows (wave, MIDI, MP3 or RMI)";
    const std::pair<std::string, std::string> cases[] = {
        {"empty.wav", "The sound file is empty"},
        {"truncated.wav", damaged},
        {"riff.wav", damaged},
        {"foreign.wav", "The sound file is in an encoding the media system cannot decode"},
        {"noise.mp3", unknown},
        {"noise.bin", unknown},
        {"broken.mid", damaged},
        {"nodata.rmi", damaged},
        {"tagonly.mp3", damaged},
        {"folder.wav", "The name given is a folder or a device, not a sound file"},
        {"missing.wav", "The sound file was not found"},
    };
    TMediaPlayer player;
    for (const auto &[name, message] : cases) {
        // Each failure follows a good file: the good one is closed, nothing is open after.
        player.setFileName(QString::fromStdString(good));
        player.OpenDevice();
        ASSERT_TRUE(player.IsOpen());
        EXPECT_EQ(OpenError(player, dir.Path(name)), message) << name;
        EXPECT_FALSE(player.IsOpen()) << name;
        EXPECT_EQ(player.DeviceNumber(), 0) << name;
        EXPECT_NE(player.LastMciResult(), 0u);
    }
    EXPECT_EQ(OpenError(player, "/dev/null"), "The name given is a folder or a device, not a sound file");
    EXPECT_EQ(OpenError(player, ""), "The sound file was not found");
}

int OpenDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

TEST(OpeningTest, RejectedWaveFileIsClosedOnceAndLeaksNothing)
{
    FixtureDir dir;
    const std::string good = dir.Path("good.wav");
    WriteWave(good, 8000, 1, 800, SF_FORMAT_PCM_16);
    std::vector<std::uint8_t> header(44);
    {
        FILE *file = std::fopen(good.c_str(), "rb");
        header.resize(std::fread(header.data(), 1, header.size(), file));
        std::fclose(file);
    }
    // The wave header cut off inside its format chunk: libsndfile refuses the file.
    const std::string truncated = dir.Path("truncated.wav");
    WriteBytes(truncated, std::vector<std::uint8_t>(header.begin(), header.begin() + 30));

    TMediaPlayer player;
    const int before = OpenDescriptors();
    CloseWatch watch;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(OpenError(player, truncated), "The sound file is damaged or incomplete");
        EXPECT_EQ(OpenError(player, good), "opened");
        player.CloseDevice();
    }
    EXPECT_EQ(watch.ClosesOfClosedDescriptors(), 0);
    EXPECT_EQ(OpenDescriptors(), before);
}

// Headers whose channel count or rate the output cannot take are refused when the file opens,
// before anything plays; the limits themselves open.
TEST(OpeningTest, SoundsTheOutputCannotPlayAreRefusedAtOpen)
{
    FixtureDir dir;
    const std::string channels = "The sound has more channels than the sound output can play (at most 8)";
    const std::string rate = "The sound's sample rate is outside what the sound output can play (1000 to 384000 Hz)";
    struct Case {
        int rate;
        int channels;
        std::string message;
    };
    const Case cases[] = {
        {8000, 9, channels}, {8000, 256, channels}, {8000, 257, channels}, {8000, 1024, channels}, {8000, 8, "opened"},
        {1000, 1, "opened"}, {384000, 2, "opened"}, {999, 1, rate},        {384001, 1, rate},      {1, 1, rate},
    };
    TMediaPlayer player;
    for (const Case &c : cases) {
        const std::string path = dir.Path(std::to_string(c.rate) + "x" + std::to_string(c.channels) + ".wav");
        WriteWave(path, c.rate, c.channels, 10, SF_FORMAT_PCM_16);
        EXPECT_EQ(OpenError(player, path), c.message) << c.rate << " Hz, " << c.channels << " channels";
        EXPECT_EQ(player.IsOpen(), c.message == "opened");
    }
}

TEST(OpeningTest, UnreadableFileRaises)
{
    FixtureDir dir;
    const std::string path = dir.Path("locked.wav");
    WriteWave(path, 8000, 1, 800, SF_FORMAT_PCM_16);
    chmod(path.c_str(), 0);
    TMediaPlayer player;
    // Root reads everything; take a user's rights for the open.
    const uid_t saved = geteuid();
    if (saved == 0) {
        ASSERT_EQ(seteuid(65534), 0);
    }
    const std::string message = OpenError(player, path);
    if (saved == 0) {
        ASSERT_EQ(seteuid(saved), 0);
    }
    EXPECT_EQ(message, "The sound file cannot be read");
}

TEST(OpeningTest, DeviceTypesAndErrorTexts)
{
    FixtureDir dir;
    const std::string wave = dir.Path("w.wav");
    WriteWave(wave, 44100, 1, 4410, SF_FORMAT_PCM_16);
    TMediaPlayer player;
    player.setFileName(QString::fromStdString(wave));
    // CD audio and other non-sound devices do not exist here.
    player.setDeviceType(TMediaPlayer::dtCDAudio);
    EXPECT_EQ(OpenError(player, wave), "The media system has no device of this type");
    player.setDeviceType(TMediaPlayer::dtSequencer);
    EXPECT_EQ(OpenError(player, wave), "The file is not a sound file the media system knows (wave, MIDI, MP3 or RMI)");
    player.setDeviceType(TMediaPlayer::dtWaveAudio);
    EXPECT_EQ(OpenError(player, wave), "opened");
    EXPECT_EQ(player.MediaLength(), 100);

    char text[16];
    EXPECT_FALSE(mciGetErrorString(99999, text, sizeof text));
    EXPECT_TRUE(mciGetErrorString(MCIERR_FILE_NOT_FOUND, text, sizeof text));
    EXPECT_STREQ(text, "The sound file ");
}

} // namespace
