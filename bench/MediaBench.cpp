// Media figures: open plus length per file type, the analysis of a whole prompt, the sound font load that MIDI opens no
// longer repeat, the sound card check, start-to-sound latency, the cost of a position query, the CPU that playing
// takes, and how well silent playback keeps time. Runs on the silent output (SDL_AUDIODRIVER=dummy) unless told
// otherwise.

#include "bench/BenchFigures.h"
#include "fixtures/MidiWriter.h"
#include "media/MediaPlayer.h"
#include "media/MediaSystem.h"
#include "media/MidiDecoder.h"
#include "media/SoundAnalysis.h"
#include "media/SoundCards.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <fluidsynth.h>
#include <sndfile.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Files {
    QTemporaryDir dir;
    std::string wave, mp3, midi, tenSeconds, threeMinuteMidi;
};
Files *files = nullptr;

void WriteWave(const std::string &path, int seconds)
{
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    std::vector<short> block(44100 * 2);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = short(8000 * ((i / 100) % 2 ? 1 : -1));
    for (int s = 0; s < seconds; ++s)
        sf_writef_short(file, block.data(), 44100);
    sf_close(file);
}

// Two seconds a bar at 120 beats per minute: a tempo track with a change every bar, and a melody
// of eighth notes on a piano with a bass below it.
void WriteMidi(const std::string &path, int bars)
{
    std::vector<MidiEvent> tempo, notes;
    for (int bar = 0; bar < bars; ++bar)
        tempo.push_back(Tempo(bar == 0 ? 0 : 1920, 500000));
    tempo.push_back(EndOfTrack(0));
    notes.push_back({0, {0xC0, 0x00}});
    notes.push_back({0, {0xC1, 0x20}});
    for (int eighth = 0; eighth < bars * 8; ++eighth) {
        const std::uint8_t key = std::uint8_t(60 + (eighth * 7) % 12);
        const bool bass = eighth % 4 == 0;
        notes.push_back({0, {0x90, key, 90}});
        if (bass)
            notes.push_back({0, {0x91, std::uint8_t(key - 24), 80}});
        notes.push_back({240, {0x80, key, 0}});
        if (bass)
            notes.push_back({0, {0x81, std::uint8_t(key - 24), 0}});
    }
    notes.push_back(EndOfTrack(0));
    const std::vector<std::uint8_t> bytes = MidiFileBytes(1, 480, {MidiTrack(tempo), MidiTrack(notes)});
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

std::unique_ptr<TMediaPlayer> Open(const std::string &path)
{
    auto player = std::make_unique<TMediaPlayer>();
    player->setFileName(QString::fromStdString(path));
    player->OpenDevice();
    player->setTimeFormatCode(0);
    return player;
}

void OpenAndLength(benchmark::State &state, const std::string *path)
{
    TMediaPlayer player;
    player.setFileName(QString::fromStdString(*path));
    std::int32_t length = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        player.OpenDevice();
        length = player.MediaLength();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        player.CloseDevice();
        QCoreApplication::processEvents();
    }
    state.counters["length_ms"] = length;
}

// Reading the sound font as every MIDI open once did (a synthesizer of its own, samples read when
// a program first needs them): the part of the old MIDI open figure that the shared font saves.
void SoundFontLoadPerOpen(benchmark::State &state)
{
    for (auto _ : state) {
        fluid_settings_t *settings = new_fluid_settings();
        fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
        fluid_settings_setint(settings, "synth.cpu-cores", 1);
        fluid_synth_t *synth = new_fluid_synth(settings);
        if (fluid_synth_sfload(synth, MidiDecoder::SoundFontPath(), 1) == FLUID_FAILED)
            state.SkipWithError("no sound font");
        delete_fluid_synth(synth);
        delete_fluid_settings(settings);
    }
}

// A prompt decoded and measured (peak, loudness, silences, clips, envelope): whole, as the info
// command needs it, or what the device keeps of it, as a load does for the recording.
void Analyse(benchmark::State &state, const std::string *path, std::int64_t limitMs)
{
    SoundAnalysis analysis;
    for (auto _ : state) {
        if (AnalyseSound(*path, analysis, limitMs) != MMSYSERR_NOERROR)
            state.SkipWithError("the file cannot be analysed");
    }
    state.counters["length_ms"] = double(analysis.info.lengthMs);
}

void SoundCardCheck(benchmark::State &state)
{
    unsigned count = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(count = waveOutGetNumDevs());
    state.counters["devices"] = count;
}

void StartToFirstSound(benchmark::State &state)
{
    auto player = Open(files->wave);
    unsigned seed = 1;
    for (auto _ : state) {
        player->SeekTo(0);
        // Start at a random moment of the output's cycle, as a click would, not right after the
        // buffer that the previous round waited for.
        seed = seed * 1103515245 + 12345;
        std::this_thread::sleep_for(std::chrono::microseconds((seed >> 8) % 6000));
        const auto start = Clock::now();
        player->StartPlayback();
        std::optional<Clock::time_point> sounded;
        while (!(sounded = MediaSystem::Instance().FirstSoundTime(player->DeviceNumber())))
            std::this_thread::yield();
        state.SetIterationTime(std::chrono::duration<double>(*sounded - start).count());
        player->StopPlayback();
        QCoreApplication::processEvents();
    }
}

void CurrentPositionCost(benchmark::State &state)
{
    auto player = Open(files->wave);
    player->StartPlayback();
    std::int32_t position = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(position = player->CurrentPosition());
    player->StopPlayback();
    QCoreApplication::processEvents();
}

// Percent of one core used by the whole process while the file plays for a few seconds.
void PlayingCpu(benchmark::State &state, const std::string *path, bool play)
{
    auto player = Open(*path);
    double percent = 0;
    for (auto _ : state) {
        player->SeekTo(0);
        if (play)
            player->StartPlayback();
        const double cpu = ProcessCpuSeconds();
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        percent = 100.0 * (ProcessCpuSeconds() - cpu) / wall;
        player->StopPlayback();
        QCoreApplication::processEvents();
    }
    state.counters["cpu_percent_of_core"] = percent;
}

// A whole 10 s file played on the silent output: how long it took by the wall clock, and how far
// that is from the sound's length (target: within 1 %).
void SilentPlaybackPace(benchmark::State &state)
{
    auto player = Open(files->tenSeconds);
    double wallMs = 0;
    for (auto _ : state) {
        player->SeekTo(0);
        const auto start = Clock::now();
        player->StartPlayback();
        while (player->DeviceMode() != 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        state.SetIterationTime(wallMs / 1000);
        QCoreApplication::processEvents();
    }
    state.counters["length_ms"] = player->MediaLength();
    state.counters["wall_minus_length_percent"] = 100.0 * (wallMs - player->MediaLength()) / player->MediaLength();
}

} // namespace

int main(int argc, char **argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    QApplication app(argc, argv);
    Files fixtures;
    files = &fixtures;
    fixtures.wave = fixtures.dir.filePath("ten-minutes.wav").toStdString();
    fixtures.mp3 = fixtures.dir.filePath("ten-minutes.mp3").toStdString();
    fixtures.midi = fixtures.dir.filePath("five-minutes.mid").toStdString();
    WriteWave(fixtures.wave, 600);
    const std::string lame = "lame --quiet -b 128 -t '" + fixtures.wave + "' '" + fixtures.mp3 + "'";
    if (std::system(lame.c_str()) != 0)
        return 1;
    WriteMidi(fixtures.midi, 150);
    fixtures.threeMinuteMidi = fixtures.dir.filePath("three-minutes.mid").toStdString();
    WriteMidi(fixtures.threeMinuteMidi, 90);
    fixtures.tenSeconds = fixtures.dir.filePath("ten-seconds.wav").toStdString();
    WriteWave(fixtures.tenSeconds, 10);

    // Open plus length: target under 30 ms each. The MP3 has no Info frame: the length comes from a scan.
    benchmark::RegisterBenchmark("OpenAndLength/wav_10min", OpenAndLength, &fixtures.wave)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(5)
        ->Repetitions(9)
        ->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark("OpenAndLength/mp3_10min", OpenAndLength, &fixtures.mp3)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(5)
        ->Repetitions(9)
        ->ReportAggregatesOnly(true);
    // MIDI: the sound font is read at the first open of a run and shared; before, every open read
    // it again, which the figure after this one adds back.
    benchmark::RegisterBenchmark("OpenAndLength/midi_5min", OpenAndLength, &fixtures.midi)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(5)
        ->Repetitions(9)
        ->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark("SoundFontLoad/as_each_midi_open_did", SoundFontLoadPerOpen)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(5)
        ->Repetitions(9)
        ->ReportAggregatesOnly(true);
    // A whole prompt analysed: a 10-minute WAV decoded, a 3-minute MIDI song rendered.
    benchmark::RegisterBenchmark("Analyse/wav_10min", Analyse, &fixtures.wave, -1)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->Repetitions(3)
        ->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark("Analyse/midi_3min", Analyse, &fixtures.threeMinuteMidi, -1)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->Repetitions(3)
        ->ReportAggregatesOnly(true);
    // What a load measures for the recording: the first 10.5 s.
    for (const auto &[name, path] : {std::pair{"AnalyseAtLoad/wav_10min", &fixtures.wave},
                                     std::pair{"AnalyseAtLoad/midi_3min", &fixtures.threeMinuteMidi}})
        benchmark::RegisterBenchmark(name, Analyse, path, RecordingMeasureMs)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3)
            ->Repetitions(3)
            ->ReportAggregatesOnly(true);
    // The check at start-up: the listed devices, or else one try of the default output.
    benchmark::RegisterBenchmark("SoundCardCheck", SoundCardCheck)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(20)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
    // StartPlayback to the first frame with sound handed to the output (buffers of at most 20 ms):
    // target under 15 ms.
    benchmark::RegisterBenchmark("StartToFirstSound/wav", StartToFirstSound)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(20)
        ->Repetitions(9)
        ->ReportAggregatesOnly(true);
    // One position query while playing: target under 5 microseconds.
    benchmark::RegisterBenchmark("CurrentPosition", CurrentPositionCost)
        ->Unit(benchmark::kMicrosecond)
        ->Repetitions(9)
        ->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark("PlayingCpu/mp3", PlayingCpu, &fixtures.mp3, true)
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark("PlayingCpu/midi", PlayingCpu, &fixtures.midi, true)
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark("PlayingCpu/idle_open_device", PlayingCpu, &fixtures.wave, false)
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark("SilentPlaybackPace/wav_10s", SilentPlaybackPace)
        ->UseManualTime()
        ->Iterations(1)
        ->Repetitions(3)
        ->Unit(benchmark::kMillisecond);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
