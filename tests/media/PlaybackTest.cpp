#include "media/MciNotify.h"
#include "media/MediaDevice.h"
#include "media/MediaPlayer.h"
#include "media/MediaSystem.h"
#include "media/MidiDecoder.h"
#include "media/SoundFile.h"
#include "tests/media/MediaFixtures.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <sndfile.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include <gtest/gtest.h>

namespace {

constexpr int rate = 32000; // 256-frame buffers of 8 ms: the dummy and disk drivers keep time

std::unique_ptr<TMediaPlayer> OpenPlayer(const std::string &path)
{
    auto player = std::make_unique<TMediaPlayer>();
    player->setFileName(QString::fromStdString(path));
    player->OpenDevice();
    player->setTimeFormatCode(0);
    return player;
}

// The pattern frame that a captured frame holds, by its first channel.
std::int64_t PatternFrame(float sample) { return std::int64_t(std::lround(sample * 32768.0f)) - 1; }

void PlayToEnd(TMediaPlayer &player)
{
    player.StartPlayback();
    ASSERT_TRUE(WaitFor([&] { return player.DeviceMode() == 1; }));
}

class NoticeLog : public QObject {
public:
    std::vector<unsigned> flags;

protected:
    bool event(QEvent *event) override
    {
        if (event->type() != MciNotifyEvent::EventType())
            return QObject::event(event);
        flags.push_back(static_cast<MciNotifyEvent *>(event)->Flags());
        return true;
    }
};

TEST(PlaybackTest, PlaysTheWholeFileAndEndsAtItsLength)
{
    FixtureDir dir;
    const std::string wave = dir.Path("pattern.wav");
    const std::int64_t frames = rate * 3 / 4; // 750 ms
    WriteWave(wave, rate, 2, frames, SF_FORMAT_PCM_16);
    std::vector<std::int32_t> positions;
    int notices = 0;
    bool noticeOnMainThread = false;
    {
        DiskCapture capture(dir.Path("out.raw"));
        auto player = OpenPlayer(wave);
        player->OnNotify = [&](QObject *) {
            ++notices;
            noticeOnMainThread = QThread::currentThread() == qApp->thread();
        };
        player->SeekTo(0);
        player->StartPlayback();
        EXPECT_EQ(player->DeviceMode(), 2); // playing, and StartPlayback has returned
        ASSERT_TRUE(WaitFor([&] {
            positions.push_back(player->CurrentPosition());
            return player->DeviceMode() == 1;
        }));
        EXPECT_EQ(player->CurrentPosition(), 750);
        EXPECT_EQ(player->MediaLength(), 750);
        WaitFor([&] { return notices >= 2; }, 2000); // the time format's and the play's
        player.reset();
        const std::vector<float> samples = capture.Samples();
        // Every frame of the file, in order, then silence.
        const std::int64_t first = FirstSoundFrame(samples, 2);
        ASSERT_GE(first, 0);
        EXPECT_EQ(SoundFrames(samples, 2), frames);
        for (std::int64_t i = 0; i < frames; i += 997)
            ASSERT_EQ(PatternFrame(samples[std::size_t((first + i) * 2)]), i);
    }
    EXPECT_EQ(notices, 2);
    EXPECT_TRUE(noticeOnMainThread);
    ASSERT_FALSE(positions.empty());
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_GT(std::count_if(positions.begin(), positions.end(), [](std::int32_t p) { return p > 0 && p < 750; }), 0);
}

TEST(PlaybackTest, StopSilencesAtOnceAndSeekPlaysFromThere)
{
    FixtureDir dir;
    const std::string wave = dir.Path("long.wav");
    WriteWave(wave, rate, 1, rate * 20, SF_FORMAT_PCM_16);
    DiskCapture capture(dir.Path("out.raw"));
    auto player = OpenPlayer(wave);
    player->SeekTo(5000);
    player->StartPlayback();
    ASSERT_TRUE(WaitFor([&] { return player->CurrentPosition() >= 5200; }));
    player->StopPlayback();
    // In samples: the exact count of frames handed to the output.
    player->setTimeFormatCode(9);
    const std::int32_t stoppedAt = player->CurrentPosition();
    EXPECT_EQ(player->DeviceMode(), 1);
    // Give the output time to play anything still queued.
    QThread::msleep(200);
    EXPECT_EQ(player->CurrentPosition(), stoppedAt);
    player.reset();
    const std::vector<float> samples = capture.Samples();
    // The capture holds exactly the frames from 5 s up to the stop, nothing after.
    const std::int64_t first = FirstSoundFrame(samples, 1);
    ASSERT_GE(first, 0);
    EXPECT_EQ(PatternFrame(samples[std::size_t(first)]), 5 * rate % 32767);
    EXPECT_EQ(SoundFrames(samples, 1), stoppedAt - 5 * rate);
}

// An idle device holds no sound output (whose thread would wake every few milliseconds); the
// next play opens it again. The disk capture only grows while an output is open.
TEST(PlaybackTest, OutputClosesWhenPlayEndsAndOpensAgainForTheNextPlay)
{
    FixtureDir dir;
    const std::string wave = dir.Path("short.wav");
    WriteWave(wave, rate, 1, rate / 5, SF_FORMAT_PCM_16);
    const std::string out = dir.Path("out.raw");
    DiskCapture capture(out);
    const auto captured = [&] { return QFileInfo(QString::fromStdString(out)).size(); };
    auto player = OpenPlayer(wave);
    player->StartPlayback();
    ASSERT_TRUE(WaitFor([&] { return player->DeviceMode() == 1; }));
    // The output closes a little after the end; then the capture stands still.
    const auto runEvents = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    runEvents(800);
    const qint64 after = captured();
    runEvents(100);
    EXPECT_EQ(captured(), after);

    // Playing again reopens the output (a new capture) and plays the whole sound.
    player->SeekTo(0);
    player->StartPlayback();
    ASSERT_TRUE(WaitFor([&] { return player->DeviceMode() == 1; }));
    EXPECT_EQ(player->CurrentPosition(), 200);
    player.reset();
    EXPECT_EQ(SoundFrames(capture.Samples(), 1), rate / 5);
}

TEST(PlaybackTest, SeekToZeroThenPlayStartsFromTheBeginningAndRewindsAtTheEnd)
{
    FixtureDir dir;
    const std::string wave = dir.Path("short.wav");
    WriteWave(wave, rate, 1, rate / 4, SF_FORMAT_PCM_16);
    auto player = OpenPlayer(wave);
    player->StartPlayback();
    ASSERT_TRUE(WaitFor([&] { return player->DeviceMode() == 1; }));
    ASSERT_EQ(player->CurrentPosition(), 250);
    // At the end a new play rewinds by itself.
    player->StartPlayback();
    EXPECT_LT(player->CurrentPosition(), 250);
    ASSERT_TRUE(WaitFor([&] { return player->DeviceMode() == 1; }));
    EXPECT_EQ(player->CurrentPosition(), 250);
    player->setAutoRewind(false);
    player->StartPlayback();
    EXPECT_EQ(player->CurrentPosition(), 250);
    player->SeekTo(0);
    EXPECT_EQ(player->CurrentPosition(), 0);
    player->SeekTo(123);
    EXPECT_EQ(player->CurrentPosition(), 123); // exact after a seek
    player->SeekTo(251);
    EXPECT_NE(player->LastMciResult(), 0u); // beyond the end: recorded, not raised
}

TEST(PlaybackTest, PlaybackGoesOnWhileTheGuiThreadIsBlocked)
{
    FixtureDir dir;
    const std::string wave = dir.Path("block.wav");
    WriteWave(wave, rate, 1, rate * 2, SF_FORMAT_PCM_16);
    auto player = OpenPlayer(wave);
    player->StartPlayback();
    QThread::msleep(400); // no events are processed meanwhile
    EXPECT_GT(player->CurrentPosition(), 100);
}

// Without a sound service the output is silent, and keeps real time: the position never runs
// ahead of the time since the play began, and a play lasts as long as its sound. (SDL's own
// silent driver waits 11 ms for each 11.6 ms buffer at 44.1 kHz and ran 5 to 16 % fast.)
TEST(PlaybackTest, SilentOutputKeepsRealTime)
{
    FixtureDir dir;
    const std::string wave = dir.Path("silent.wav");
    WriteWave(wave, 44100, 1, 44100 * 3 / 2, SF_FORMAT_PCM_16);
    auto player = OpenPlayer(wave);
    const auto start = std::chrono::steady_clock::now();
    player->StartPlayback();
    double ahead = -1e9;
    ASSERT_TRUE(WaitFor([&] {
        const std::int32_t position = player->CurrentPosition();
        const auto elapsed = std::chrono::steady_clock::now() - start;
        ahead = std::max(ahead, position - std::chrono::duration<double, std::milli>(elapsed).count());
        return player->DeviceMode() == 1;
    }));
    const auto lasted = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(player->CurrentPosition(), 1500);
    EXPECT_LE(ahead, 1.0);
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(lasted).count(), 1500);
}

// Stopping fades the sound out over a few milliseconds instead of cutting the wave, and returns
// once the fade has been played: the position then stands where the sound ended.
TEST(PlaybackTest, StopFadesOutAndReturnsWhenTheFadeHasBeenPlayed)
{
    FixtureDir dir;
    const std::string wave = dir.Path("fade.wav");
    WriteWave(wave, rate, 1, rate * 20, SF_FORMAT_PCM_16);
    std::vector<float> samples;
    std::int32_t stoppedAt = 0;
    {
        DiskCapture capture(dir.Path("out.raw"));
        auto player = OpenPlayer(wave);
        player->StartPlayback();
        ASSERT_TRUE(WaitFor([&] { return player->CurrentPosition() >= 300; }));
        player->StopPlayback();
        player->setTimeFormatCode(9);
        stoppedAt = player->CurrentPosition();
        QThread::msleep(100);
        EXPECT_EQ(player->CurrentPosition(), stoppedAt);
        player.reset();
        samples = capture.Samples();
    }
    const std::int64_t first = FirstSoundFrame(samples, 1);
    ASSERT_GE(first, 0);
    const std::int64_t heard = SoundFrames(samples, 1);
    EXPECT_EQ(heard, stoppedAt);
    // The file's frames as they are, then a fall to nothing over the last 4 ms.
    const std::int64_t fade = rate * MediaDevice::fadeMilliseconds / 1000;
    ASSERT_GT(heard, fade);
    double gain = 1.0;
    for (std::int64_t i = 0; i < heard; ++i) {
        const double ratio = samples[std::size_t(first + i)] / PatternSample(i, 0);
        if (i < heard - fade) {
            ASSERT_FLOAT_EQ(ratio, 1.0) << i;
        } else {
            ASSERT_LE(ratio, gain + 1e-6) << i;
            gain = ratio;
        }
    }
    EXPECT_LT(gain, 0.01);
    EXPECT_GT(samples[std::size_t(first + heard - fade)] / PatternSample(heard - fade, 0), 0.99);
    EXPECT_EQ(samples[std::size_t(first + heard)], 0.0f);
}

TEST(PlaybackTest, MidiAndMp3PlayToTheirLength)
{
    FixtureDir dir;
    const std::string midi = dir.Path("song.mid");
    WriteBytes(midi,
               MidiFileBytes(0, 480,
                             {MidiTrack({{0, {0xC0, 0}}, {0, {0x90, 60, 100}}, {480, {0x80, 60, 0}}, EndOfTrack(0)})}));
    // The same note in SMPTE timing: 25 frames of 40 ticks, a tick per millisecond.
    const std::string smpte = dir.Path("smpte.mid");
    WriteBytes(smpte,
               MidiFileBytes(0, std::uint16_t((0x100 - 25) << 8 | 40),
                             {MidiTrack({{0, {0xC0, 0}}, {0, {0x90, 60, 100}}, {500, {0x80, 60, 0}}, EndOfTrack(0)})}));
    const std::string wave = dir.Path("src.wav");
    WriteWave(wave, 44100, 2, 44100 / 2, SF_FORMAT_PCM_16);
    const std::string mp3 = dir.Path("tone.mp3");
    EncodeMp3(wave, mp3, true);
    for (const std::string &path : {midi, smpte, mp3}) {
        DiskCapture capture(dir.Path("out.raw"));
        auto player = OpenPlayer(path);
        const std::int32_t length = player->MediaLength();
        EXPECT_EQ(length, 500) << path;
        // Seeks land exactly, also inside a song.
        player->SeekTo(321);
        EXPECT_EQ(player->LastMciResult(), 0u) << path;
        EXPECT_EQ(player->CurrentPosition(), 321) << path;
        player->SeekTo(length);
        EXPECT_EQ(player->CurrentPosition(), length) << path;
        player->SeekTo(0);
        player->StartPlayback();
        ASSERT_TRUE(WaitFor([&] { return player->DeviceMode() == 1; })) << path;
        EXPECT_EQ(player->CurrentPosition(), length) << path;
        player.reset();
        // Sound reached the output, and none of it lies beyond the length.
        const std::vector<float> samples = capture.Samples();
        const std::int64_t first = FirstSoundFrame(samples, 2);
        ASSERT_GE(first, 0) << path;
        std::int64_t last = first;
        for (std::size_t i = 0; i < samples.size(); ++i)
            if (samples[i] != 0.0f)
                last = std::int64_t(i) / 2;
        EXPECT_LT(last - first, 44100 / 2) << path;
    }
}

TEST(PlaybackTest, FileRemovedAfterOpeningStillPlays)
{
    FixtureDir dir;
    const std::string wave = dir.Path("gone.wav");
    WriteWave(wave, rate, 1, rate / 5, SF_FORMAT_PCM_16);
    auto player = OpenPlayer(wave);
    ASSERT_EQ(unlink(wave.c_str()), 0);
    player->StartPlayback();
    ASSERT_TRUE(WaitFor([&] { return player->DeviceMode() == 1; }));
    EXPECT_EQ(player->CurrentPosition(), 200);
}

TEST(PlaybackTest, NoticesTellHowEachPlayEnded)
{
    FixtureDir dir;
    const std::string wave = dir.Path("n.wav");
    WriteWave(wave, rate, 1, rate / 5, SF_FORMAT_PCM_16);
    const QByteArray name = QByteArray::fromStdString(wave);
    NoticeLog log;
    MCI_OPEN_PARMS open;
    open.lpstrElementName = name.constData();
    ASSERT_EQ(mciSendCommand(0, MCI_OPEN, MCI_OPEN_ELEMENT | MCI_WAIT, &open), 0u);
    const MCIDEVICEID id = open.wDeviceID;
    MCI_PLAY_PARMS play;
    play.dwCallback = &log;
    MCI_GENERIC_PARMS stop;
    stop.dwCallback = &log;

    ASSERT_EQ(mciSendCommand(id, MCI_PLAY, MCI_NOTIFY, &play), 0u);
    ASSERT_EQ(mciSendCommand(id, MCI_PLAY, MCI_NOTIFY, &play), 0u); // supersedes the first
    ASSERT_EQ(mciSendCommand(id, MCI_STOP, MCI_WAIT, &stop), 0u);   // aborts the second
    play.dwFrom = 100;
    ASSERT_EQ(mciSendCommand(id, MCI_PLAY, MCI_NOTIFY | MCI_FROM, &play), 0u);
    ASSERT_TRUE(WaitFor([&] { return log.flags.size() == 3; }));
    EXPECT_EQ(log.flags, (std::vector<unsigned>{MCI_NOTIFY_SUPERSEDED, MCI_NOTIFY_ABORTED, MCI_NOTIFY_SUCCESSFUL}));

    // A play that waits returns when the sound has ended.
    play.dwFrom = 150;
    ASSERT_EQ(mciSendCommand(id, MCI_PLAY, MCI_WAIT | MCI_FROM, &play), 0u);
    MCI_STATUS_PARMS status;
    status.dwItem = MCI_STATUS_POSITION;
    ASSERT_EQ(mciSendCommand(id, MCI_STATUS, MCI_STATUS_ITEM, &status), 0u);
    EXPECT_EQ(status.dwReturn, 200u);
    const auto firstSound = MediaSystem::Instance().FirstSoundTime(id);
    ASSERT_TRUE(firstSound.has_value());
    EXPECT_LE(*firstSound, std::chrono::steady_clock::now());

    // Commands with bad parts return codes.
    play.dwFrom = 201;
    EXPECT_EQ(mciSendCommand(id, MCI_PLAY, MCI_FROM, &play), MCIERR_OUTOFRANGE);
    MCI_SET_PARMS set;
    set.dwTimeFormat = MCI_FORMAT_TMSF;
    EXPECT_EQ(mciSendCommand(id, MCI_SET, MCI_SET_TIME_FORMAT, &set), MCIERR_BAD_TIME_FORMAT);
    EXPECT_EQ(mciSendCommand(id, MCI_RECORD, 0, &play), MCIERR_CANNOT_RECORD);
    EXPECT_EQ(mciSendCommand(id, 0x7777, 0, &play), MCIERR_UNRECOGNIZED_COMMAND);
    EXPECT_EQ(mciSendCommand(id, MCI_PLAY, 0, nullptr), MCIERR_NULL_PARAMETER_BLOCK);
    ASSERT_EQ(mciSendCommand(id, MCI_CLOSE, MCI_WAIT, &stop), 0u);
    EXPECT_EQ(mciSendCommand(id, MCI_STATUS, MCI_STATUS_ITEM, &status), MCIERR_INVALID_DEVICE_ID);
}

// libsndfile cannot seek in these telephony encodings: rewinding starts the file again, and a
// seek elsewhere decodes forward to its frame.
TEST(PlaybackTest, EncodingsWithoutSeekingPlayWholeAtEveryRecording)
{
    FixtureDir dir;
    for (int subtype : {SF_FORMAT_GSM610, SF_FORMAT_G721_32, SF_FORMAT_NMS_ADPCM_16}) {
        const std::string wave = dir.Path("prompt" + std::to_string(subtype) + ".wav");
        WriteWave(wave, 8000, 1, 4000, subtype); // 500 ms
        std::vector<float> captured;
        std::int32_t length = 0;
        {
            DiskCapture capture(dir.Path("out" + std::to_string(subtype) + ".raw"));
            auto player = OpenPlayer(wave);
            length = player->MediaLength();
            for (int recording = 0; recording < 2; ++recording) {
                player->SeekTo(0);
                EXPECT_EQ(player->LastMciResult(), 0u) << subtype;
                PlayToEnd(*player);
                EXPECT_EQ(player->CurrentPosition(), length) << subtype;
            }
            player->SeekTo(300);
            EXPECT_EQ(player->CurrentPosition(), 300) << subtype;
            PlayToEnd(*player);
            player->SeekTo(100);
            EXPECT_EQ(player->CurrentPosition(), 100) << subtype;
            PlayToEnd(*player);
            player.reset();
            captured = capture.Samples();
        }
        std::vector<float> sound = DecodeWithLibsndfile(wave);
        sound.resize(std::size_t(length) * 8);
        const std::vector<float> from100(sound.begin() + 800, sound.end());
        const std::vector<float> from300(sound.begin() + 2400, sound.end());
        EXPECT_EQ(Occurrences(captured, sound).size(), 2u) << subtype;
        EXPECT_EQ(Occurrences(captured, from100).size(), 3u) << subtype;
        EXPECT_EQ(Occurrences(captured, from300).size(), 4u) << subtype;
    }
}

// 641 ms of GSM 6.10: 17 blocks, the last partly padding, and a pad byte after the data.
TEST(PlaybackTest, GsmWaveEndsAtItsLastRealFrameWithoutNoise)
{
    FixtureDir dir;
    const std::string wave = dir.Path("prompt.wav");
    WriteWave(wave, 8000, 1, 5128, SF_FORMAT_GSM610);
    for (const bool withFact : {true, false}) {
        if (!withFact)
            RemoveRiffChunks(wave, "fact");
        const std::size_t frames = withFact ? 5128 : 17 * 320;
        std::vector<float> captured;
        {
            DiskCapture capture(dir.Path(withFact ? "fact.raw" : "nofact.raw"));
            auto player = OpenPlayer(wave);
            EXPECT_EQ(player->MediaLength(), std::int32_t(frames / 8));
            player->SeekTo(0);
            PlayToEnd(*player);
            EXPECT_EQ(player->CurrentPosition(), std::int32_t(frames / 8));
            player.reset();
            captured = capture.Samples();
        }
        std::vector<float> sound = DecodeWithLibsndfile(wave);
        sound.resize(frames);
        const std::vector<std::size_t> found = Occurrences(captured, sound);
        ASSERT_EQ(found.size(), 1u) << "fact chunk " << withFact;
        // After the sound the output carries silence only.
        EXPECT_TRUE(std::all_of(captured.begin() + std::ptrdiff_t(found[0] + frames), captured.end(),
                                [](float sample) { return sample == 0.0f; }))
            << "fact chunk " << withFact;
    }
}

// Where a wave file's data chunk begins, found by walking its chunks.
std::size_t DataOffset(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (std::size_t pos = 12; pos + 8 <= bytes.size();) {
        std::uint32_t size = 0;
        std::memcpy(&size, bytes.data() + pos + 4, 4);
        if (std::memcmp(bytes.data() + pos, "data", 4) == 0)
            return pos + 8;
        pos += 8 + size + (size & 1);
    }
    return 0;
}

// The player's view of the end of a play: the notice that comes with the device stopped, and the
// last error then.
struct EndWatch {
    explicit EndWatch(TMediaPlayer &player) : player(player)
    {
        QCoreApplication::processEvents(); // notices of earlier commands
        player.OnNotify = [this](QObject *) {
            const MCIERROR error = this->player.LastMciResult();
            const QString text = this->player.LastMciResultText();
            if (this->player.DeviceMode() == 1) {
                ++ends;
                errorAtEnd = error;
                errorTextAtEnd = text;
            }
        };
    }
    TMediaPlayer &player;
    int ends = 0;
    MCIERROR errorAtEnd = 0;
    QString errorTextAtEnd;
};

// A file cut short on disk while it plays ends where its data ends, and the play fails with the
// file reported as damaged: no silence stands in for the missing sound.
TEST(PlaybackTest, FileCutShortWhilePlayingIsReportedDamagedAndEndsThere)
{
    FixtureDir dir;
    const std::string wave = dir.Path("cut.wav");
    WriteWave(wave, rate, 1, rate * 4, SF_FORMAT_PCM_16);
    std::int64_t cut = 0;
    std::vector<float> captured;
    {
        DiskCapture capture(dir.Path("out.raw"));
        auto player = OpenPlayer(wave);
        player->setTimeFormatCode(9); // samples: frames exactly
        EndWatch watch(*player);
        player->StartPlayback();
        ASSERT_TRUE(WaitFor([&] { return player->CurrentPosition() > 0; }));
        player->PauseOrResume(); // paused: the cut lands half a second ahead, wherever the play is
        ASSERT_EQ(player->DeviceMode(), 5);
        cut = player->CurrentPosition() + rate / 2;
        ASSERT_LT(cut, rate * 4);
        ASSERT_EQ(truncate(wave.c_str(), off_t(DataOffset(wave) + std::size_t(cut) * 2)), 0);
        player->PauseOrResume();
        ASSERT_TRUE(WaitFor([&] { return watch.ends > 0; }));
        EXPECT_EQ(watch.errorAtEnd, MCIERR_DAMAGED_FILE);
        EXPECT_EQ(watch.errorTextAtEnd, "The sound file is damaged or incomplete");
        EXPECT_EQ(player->PlayFailure(), MCIERR_DAMAGED_FILE);
        EXPECT_EQ(player->DeviceMode(), 1);
        EXPECT_EQ(player->CurrentPosition(), cut);
        // The sound now ends there, so a caller waiting for the end sees it.
        EXPECT_EQ(player->MediaLength(), cut);
        player.reset();
        captured = capture.Samples();
    }
    EXPECT_EQ(SoundFrames(captured, 1), cut);
}

// A header that claims more data than the file holds is common (a writer that never came back to
// fix it): the sound is the data there is, opens with that length, and plays to it without error.
TEST(PlaybackTest, HeaderOverstatingTheDataPlaysTheDataThereIs)
{
    FixtureDir dir;
    const std::string wave = dir.Path("over.wav");
    WriteWave(wave, rate, 1, rate / 4, SF_FORMAT_PCM_16);
    {
        std::fstream file(wave, std::ios::in | std::ios::out | std::ios::binary);
        const std::uint32_t claimed = rate * 2; // a second of data, twice the 250 ms there is
        file.seekp(std::streamoff(DataOffset(wave) - 4));
        file.write(reinterpret_cast<const char *>(&claimed), 4);
    }
    auto player = OpenPlayer(wave);
    EndWatch watch(*player);
    EXPECT_EQ(player->MediaLength(), 250);
    player->StartPlayback();
    ASSERT_TRUE(WaitFor([&] { return watch.ends > 0; }));
    EXPECT_EQ(watch.errorAtEnd, 0u);
    EXPECT_EQ(player->CurrentPosition(), 250);
}

// A song ends at its last event, though its notes ring on: its last 4 ms fall off to nothing
// instead of the wave being cut at full level.
TEST(PlaybackTest, MidiSongsFadeOutAtTheirEnd)
{
    FixtureDir dir;
    const std::string song = dir.Path("held.mid");
    // A square lead held for the whole half second: an even level up to the end.
    WriteBytes(
        song, MidiFileBytes(0, 480,
                            {MidiTrack({{0, {0xC0, 80}}, {0, {0x90, 84, 100}}, {480, {0x80, 84, 0}}, EndOfTrack(0)})}));
    std::vector<float> samples;
    {
        DiskCapture capture(dir.Path("out.raw"));
        auto player = OpenPlayer(song);
        PlayToEnd(*player);
        EXPECT_EQ(player->CurrentPosition(), 500);
        player.reset();
        samples = capture.Samples();
    }
    const std::int64_t first = FirstSoundFrame(samples, 2);
    ASSERT_GE(first, 0);
    const auto peak = [&](std::int64_t from, std::int64_t to) {
        float level = 0;
        const std::int64_t stop = std::min<std::int64_t>((first + to) * 2, std::int64_t(samples.size()));
        for (std::int64_t i = (first + from) * 2; i < stop; ++i)
            level = std::max(level, std::fabs(samples[std::size_t(i)]));
        return level;
    };
    const std::int64_t end = 44100 / 2;
    const std::int64_t ms = 44;
    const float held = peak(end - 20 * ms, end - 5 * ms);
    ASSERT_GT(held, 0.01f);
    EXPECT_LT(peak(end - ms, end), 0.25f * held);
    EXPECT_LT(peak(end - 2 * ms, end - ms), peak(end - 4 * ms, end - 3 * ms));
    EXPECT_EQ(peak(end, end + 20 * ms), 0.0f);
}

std::vector<std::uint8_t> HalfSecondSong(std::uint8_t program)
{
    return MidiFileBytes(
        0, 480, {MidiTrack({{0, {0xC0, program}}, {0, {0x90, 60, 100}}, {480, {0x80, 60, 0}}, EndOfTrack(0)})});
}

// The sound font is read at the first MIDI open of a run and kept: later opens do not read it.
TEST(PlaybackTest, SoundFontIsReadOncePerRun)
{
    FixtureDir dir;
    const std::string song = dir.Path("song.mid");
    WriteBytes(song, HalfSecondSong(0));
    const std::string font = dir.Path("font.sf2");
    ASSERT_EQ(symlink(MidiDecoder::SoundFontPath(), font.c_str()), 0);
    setenv("TAMBLO_SOUNDFONT", font.c_str(), 1);
    OpenPlayer(song).reset();
    ASSERT_EQ(unlink(font.c_str()), 0);
    std::vector<float> captured;
    {
        DiskCapture capture(dir.Path("out.raw"));
        std::unique_ptr<TMediaPlayer> player;
        EXPECT_NO_THROW(player = OpenPlayer(song));
        if (player) {
            PlayToEnd(*player);
            EXPECT_EQ(player->CurrentPosition(), 500);
            player.reset();
        }
        captured = capture.Samples();
    }
    unsetenv("TAMBLO_SOUNDFONT");
    EXPECT_GE(FirstSoundFrame(captured, 2), 0);
}

// Two songs render at the same time on two threads with the one font, each as it does alone.
TEST(PlaybackTest, TwoMidiSongsRenderAtOnceAsEachDoesAlone)
{
    FixtureDir dir;
    const std::string paths[2] = {dir.Path("piano.mid"), dir.Path("organ.mid")};
    WriteBytes(paths[0], HalfSecondSong(0));
    WriteBytes(paths[1], HalfSecondSong(19));
    const auto render = [](const std::string &path, std::vector<float> &samples) {
        std::unique_ptr<Decoder> decoder;
        SoundKind kind = SoundKind::Wave;
        if (OpenSoundFile(path, decoder, kind) != 0)
            return;
        samples.resize(std::size_t(decoder->Frames()) * 2);
        // In output-sized pieces, with a seek back to the start halfway, as a second recording does.
        for (int pass = 0; pass < 2; ++pass) {
            decoder->Seek(0);
            for (std::int64_t at = 0; at < decoder->Frames(); at += 256)
                decoder->Read(samples.data() + at * 2, std::min<std::int64_t>(256, decoder->Frames() - at));
        }
    };
    std::vector<float> alone[2], together[2];
    render(paths[0], alone[0]);
    render(paths[1], alone[1]);
    ASSERT_GE(FirstSoundFrame(alone[0], 2), 0);
    ASSERT_NE(alone[0], alone[1]);
    std::thread other([&] { render(paths[1], together[1]); });
    render(paths[0], together[0]);
    other.join();
    EXPECT_EQ(together[0], alone[0]);
    EXPECT_EQ(together[1], alone[1]);
}

} // namespace

// An MP3 that stops decoding midway (its stream turns to mono) fails where its sound ends: the
// player reads the failure as soon as the sound has ended, and the position tells where that was.
TEST(PlaybackTest, DamagedMp3FailsWhereItsSoundEnds)
{
    FixtureDir dir;
    const std::string mp3 = dir.Path("tone.mp3");
    WriteStereoThenMonoMp3(mp3, 1000);
    auto player = OpenPlayer(mp3);
    const std::int32_t length = player->MediaLength();
    player->StartPlayback();
    std::int32_t position = 0;
    ASSERT_TRUE(WaitFor([&] {
        position = player->CurrentPosition();
        return position >= player->MediaLength();
    }));
    EXPECT_EQ(player->PlayFailure(), MCIERR_DAMAGED_FILE);
    EXPECT_EQ(player->LastMciResultText(), QStringLiteral("The sound file is damaged or incomplete"));
    EXPECT_GT(position, length / 4);
    EXPECT_LT(position, length * 3 / 4);
    ASSERT_TRUE(WaitFor([&] { return player->DeviceMode() == 1; }));
    EXPECT_EQ(player->CurrentPosition(), position);
    // A new play from the start has not failed (yet).
    player->SeekTo(0);
    EXPECT_EQ(player->PlayFailure(), 0u);
}
