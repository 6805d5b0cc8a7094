// The recording figures of the whole program, taken where the device would hear the sound: the
// real window, and then the command line, play to a private sound server's null sink, parec
// records the sink as it plays, and device simulators stamp the commands. For WAV, MP3, MIDI and
// RMI files:
//   lead-in = first sound at the sink - arrival of "REC1"
//   tail    = arrival of "REC" - end of the last sound at the sink (negative: the device stopped
//             recording while the file still sounded)
//   gaps    = runs of silence of 1 ms or more within the sound (the server ran dry)
// and how long the sound lasted at the sink. Also CPU (the capture's own thread left out) and
// wake-ups, beside the server's own player for the same files (paplay or pw-play, and fluidsynth
// for MIDI). Needs an X display: tests/e2e/with-display build/tamblo_bench_recording
// [--server pulse|pipewire] [--quantum N] [--latency MS] [--renders-ahead] [--busy N]
// [--capture-ms N] [--rounds N]
//   --server         the sound server (TAMBLO_TEST_SERVER)
//   --quantum N      PipeWire works in periods of N frames
//   --latency MS     PULSE_LATENCY_MSEC for the program: the server holds that much
//   --renders-ahead  PulseAudio's null sink renders ahead and rewinds, as it does by default
//   --busy N         N spinning processes beside it (a loaded machine)
//   --capture-ms N   parec's latency (2): a 2 ms capture makes PipeWire run its whole graph at
//                    its 5.3 ms floor, where a busy machine makes every client gap now and then.
//                    Gaps and CPU hold at any latency; lead-in and tail only at 2 ms (PulseAudio
//                    hands a longer capture its sound too late for the stamps to be placed)

#include "bench/BenchFigures.h"
#include "tests/common/ChildProcess.h"
#include "tests/e2e/RecorderHarness.h"
#include "ui_TForm1.h"

#include "app/TApplication.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSoundThreshold = 32;
constexpr const char *kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

double seconds(const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }

// CPU seconds and context switches (each a wake-up of a thread that waited, or a preemption).
struct Usage {
    double cpu = 0;
    long switches = 0;
};

Usage OwnUsage()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return {seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_nvcsw + usage.ru_nivcsw};
}

long statusKb(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == field) {
            status >> value;
            return value;
        }
        status.ignore(4096, '\n');
    }
    return 0;
}

double loadAverage()
{
    double load = 0;
    std::ifstream("/proc/loadavg") >> load;
    return load;
}

// Runs the event loop alone for a while: no polling of our own adds to the figures.
void idle(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop as the window's own does until done() holds, looking every 50 ms: the
// harness's polling (a sleep and a look at the device every 10 ms) is no part of the window.
bool RunUntil(const std::function<bool()> &done, int timeoutMs)
{
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    look.start(50);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

std::vector<std::string> WithVariables(std::vector<std::string> environment,
                                       const std::vector<std::pair<std::string, std::string>> &set)
{
    for (const auto &[name, value] : set) {
        const std::string prefix = name + "=";
        environment.erase(std::remove_if(environment.begin(), environment.end(),
                                         [&](const std::string &entry) { return entry.rfind(prefix, 0) == 0; }),
                          environment.end());
        environment.push_back(prefix + value);
    }
    return environment;
}

// Runs a program to its end; its CPU and switches, and how long it ran. None when it failed.
std::optional<std::pair<Usage, double>> RunMeasured(const std::vector<std::string> &argv,
                                                    const std::vector<std::string> &environment)
{
    const auto started = Clock::now();
    const pid_t pid = Spawn(argv, environment, -1, -1);
    if (pid < 0)
        return std::nullopt;
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return std::make_pair(Usage{seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_nvcsw + usage.ru_nivcsw},
                          std::chrono::duration<double>(Clock::now() - started).count());
}

int GapsWithin(const std::vector<std::int16_t> &samples, std::int64_t first, std::int64_t last)
{
    int gaps = 0;
    std::int64_t quiet = 0;
    for (std::int64_t i = first; i <= last && i < std::int64_t(samples.size()); ++i) {
        quiet = std::abs(int(samples[std::size_t(i)])) > kSoundThreshold ? 0 : quiet + 1;
        gaps += quiet == SoundSink::Rate / 1000;
    }
    return gaps;
}

// Waits until the sink has played nothing for a while: a player that ended may leave sound that
// the server still holds, which would fall into the next recording.
void WaitForSilence(const SoundSink &sink)
{
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        idle(100);
        const std::int64_t frames = sink.FrameCount();
        const auto last = sink.LastSound(kSoundThreshold, std::max<std::int64_t>(0, frames - SoundSink::Rate / 2));
        if (!last && frames > SoundSink::Rate / 2)
            return;
    }
}

struct Sound {
    const char *kind;
    QString path;
    double lengthMs;
};

// The figures of one way of recording one kind of file.
struct Figures {
    std::vector<double> leadIn, tail, heard;
    int gaps = 0;
    int gapped = 0; // recordings with a gap
    Usage usage;
    double soundSeconds = 0;
};

void Add(Figures &figures, const HeardRecording &heard, const SoundSink &sink, double lengthMs)
{
    figures.leadIn.push_back(heard.LeadInMs());
    figures.tail.push_back(heard.TailMs());
    figures.heard.push_back(heard.HeardMs() - lengthMs);
    const int gaps = GapsWithin(sink.Samples(), heard.first, heard.last);
    figures.gaps += gaps;
    figures.gapped += gaps > 0;
}

std::string Spread(const std::vector<double> &values)
{
    if (values.empty())
        return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%6.1f %6.1f %6.1f", *std::min_element(values.begin(), values.end()),
                  Median(values), *std::max_element(values.begin(), values.end()));
    return text;
}

void PrintRow(const char *face, const char *kind, const Figures &f, const Figures *reference)
{
    const double perSecond = f.soundSeconds > 0 ? f.usage.cpu / f.soundSeconds : 0;
    std::printf("%-6s %-4s %3zu | %s | %s | %2d/%-3d %3d | %+5.1f..%+5.1f | %6.3f %6.0f", face, kind, f.tail.size(),
                Spread(f.leadIn).c_str(), Spread(f.tail).c_str(), f.gapped, int(f.tail.size()), f.gaps,
                f.heard.empty() ? 0 : *std::min_element(f.heard.begin(), f.heard.end()),
                f.heard.empty() ? 0 : *std::max_element(f.heard.begin(), f.heard.end()), perSecond,
                f.soundSeconds > 0 ? double(f.usage.switches) / f.soundSeconds : 0);
    if (reference != nullptr && reference->soundSeconds > 0 && reference->usage.cpu > 0)
        std::printf(" | %6.3f  x%.2f, gapped %d/%zu", reference->usage.cpu / reference->soundSeconds,
                    perSecond / (reference->usage.cpu / reference->soundSeconds), reference->gapped,
                    reference->tail.size());
    std::printf("\n");
}

} // namespace

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    UsePrivateLockFolder();
    int rounds = 10;
    int busy = 0;
    int quantum = 0;
    SoundSink::Options sinkOptions;
    for (int i = 1; i < argc; ++i) {
        const auto value = [&] { return i + 1 < argc ? argv[++i] : ""; };
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(value()));
        else if (std::strcmp(argv[i], "--busy") == 0)
            busy = std::max(0, std::atoi(value()));
        else if (std::strcmp(argv[i], "--quantum") == 0)
            quantum = std::max(0, std::atoi(value()));
        else if (std::strcmp(argv[i], "--latency") == 0)
            setenv("PULSE_LATENCY_MSEC", value(), 1);
        else if (std::strcmp(argv[i], "--server") == 0)
            setenv("TAMBLO_TEST_SERVER", std::strcmp(value(), "pipewire") == 0 ? "pipewire" : "pulseaudio", 1);
        else if (std::strcmp(argv[i], "--capture-ms") == 0)
            sinkOptions.captureLatencyMs = std::max(1, std::atoi(value()));
        else if (std::strcmp(argv[i], "--renders-ahead") == 0)
            sinkOptions.rendersAhead = true;
    }
    if (!SoundSink::Available()) {
        std::fprintf(stderr, "%s\n", SoundSink::Missing().c_str());
        return 1;
    }
    RecorderHarness harness(RecorderHarness::Audio::Sink, sinkOptions);
    QString error;
    if (!harness.Start(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    SoundSink &sink = harness.Sink();
    const bool pipeWire = sink.Kind() == SoundSink::ServerKind::PipeWire;
    if (quantum > 0 && !sink.ForceQuantum(quantum)) {
        std::fprintf(stderr, "the server has no quantum to force\n");
        return 1;
    }
    Ui::TForm1 &form = harness.Window().Form();
    const std::vector<Sound> sounds = {
        {"WAV", harness.MakeToneWav(QStringLiteral("tone.wav"), 3000, 44100), 3000},
        {"MP3", harness.MakeToneMp3(QStringLiteral("tone.mp3"), 3000, 44100), 3000},
        {"MIDI", harness.MakeHeldNoteSong(QStringLiteral("held.mid"), 2000), 2000},
        {"RMI", harness.MakeHeldNoteSong(QStringLiteral("held.rmi"), 2000, true), 2000},
    };
    for (const Sound &sound : sounds) {
        if (sound.path.isEmpty()) {
            std::fprintf(stderr, "could not write the %s file\n", sound.kind);
            return 1;
        }
    }
    // The command line records on a port of its own: the window keeps its port open.
    DeviceSimulator cliDevice(1);
    if (!cliDevice.Start(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const std::vector<std::string> clientEnvironment = sink.Environment();
    const std::vector<std::string> cliEnvironment =
        WithVariables(clientEnvironment, {{"TAMBLO_PORTS", cliDevice.PortsDirectory().toStdString()},
                                          {"SDL_AUDIODRIVER", "pulseaudio"},
                                          {"QT_QPA_PLATFORM", "offscreen"}});

    std::vector<pid_t> spinners;
    for (int i = 0; i < busy; ++i)
        spinners.push_back(Spawn({"sh", "-c", "while :; do :; done"}, ChildEnvironment(), -1, -1));
    std::printf("%s%s%s, capture at %d ms, %d rounds, %d spinning processes beside, load average %.2f at the "
                "start\n",
                SoundSink::Name(sink.Kind()), quantum > 0 ? (" quantum " + std::to_string(quantum)).c_str() : "",
                std::getenv("PULSE_LATENCY_MSEC")
                    ? (std::string(" PULSE_LATENCY_MSEC=") + std::getenv("PULSE_LATENCY_MSEC")).c_str()
                    : "",
                sinkOptions.captureLatencyMs, rounds, busy, loadAverage());

    std::vector<Figures> window(sounds.size()), cli(sounds.size()), reference(sounds.size());
    double recordingWall = 0;
    Usage recordingUsage;
    int cliRuns = 0;
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t s = 0; s < sounds.size(); ++s) {
            const Sound &sound = sounds[s];
            // The window, right after a load.
            if (!harness.LoadThroughLabel(sound.path)) {
                std::fprintf(stderr, "could not load %s\n", qPrintable(sound.path));
                return 1;
            }
            const int recordings = int(harness.Device().Commands().count(QStringLiteral("REC1"))) + 1;
            std::int64_t from = sink.FrameCount();
            const Usage before = OwnUsage();
            const double captureBefore = sink.CaptureCpuSeconds();
            const auto wallBefore = Clock::now();
            harness.Click(form.kwFlatBtn1, recordings == 1);
            const auto stopped = [&] { return harness.Device().Commands().count(QStringLiteral("REC")) >= recordings; };
            if (!RunUntil(stopped, 30000)) {
                std::fprintf(stderr, "recording %d did not stop\n", recordings);
                return 1;
            }
            const Usage after = OwnUsage();
            const double used = after.cpu - before.cpu - (sink.CaptureCpuSeconds() - captureBefore);
            recordingUsage.cpu += used;
            recordingUsage.switches += after.switches - before.switches;
            recordingWall += std::chrono::duration<double>(Clock::now() - wallBefore).count();
            auto heard = harness.Heard(from, QStringLiteral("REC1"), &error);
            if (!heard) {
                std::fprintf(stderr, "window recording %d: %s\n", recordings, qPrintable(error));
                return 1;
            }
            Add(window[s], *heard, sink, sound.lengthMs);
            window[s].usage.cpu += used;
            window[s].usage.switches += after.switches - before.switches;
            window[s].soundSeconds += sound.lengthMs / 1000;
            std::printf("window %-4s: lead-in %6.1f ms, tail %+6.1f ms, heard %7.1f ms, gaps %d\n", sound.kind,
                        heard->LeadInMs(), heard->TailMs(), heard->HeardMs(),
                        GapsWithin(sink.Samples(), heard->first, heard->last));

            if (std::strcmp(sound.kind, "RMI") == 0)
                continue; // the command line plays it as it plays MIDI
            // The command line, on a new stream each time.
            from = sink.FrameCount();
            const auto run =
                RunMeasured({TAMBLO_PATH, "record", "--channel", "1", sound.path.toStdString()}, cliEnvironment);
            if (!run || !cliDevice.WaitForCommand(QStringLiteral("REC"), ++cliRuns, 10000)) {
                std::fprintf(stderr, "the command line failed on %s\n", sound.kind);
                return 1;
            }
            const auto start = cliDevice.Arrival(QStringLiteral("REC1"), cliRuns);
            const auto stop = cliDevice.Arrival(QStringLiteral("REC"), cliRuns);
            if (!start || !stop
                || !sink.WaitUntilCaptured(*stop + std::chrono::milliseconds(300), std::chrono::seconds(5))) {
                std::fprintf(stderr, "the command line's recording of %s was not heard\n", sound.kind);
                return 1;
            }
            const auto first = sink.FirstSound(kSoundThreshold, from);
            if (!first) {
                std::fprintf(stderr, "the command line's %s did not reach the sink\n", sound.kind);
                return 1;
            }
            HeardRecording cliHeard;
            cliHeard.first = *first;
            cliHeard.last = sink.LastSound(kSoundThreshold, *first).value_or(*first);
            cliHeard.sound = sink.FrameTime(cliHeard.first);
            cliHeard.soundEnd = sink.FrameTime(cliHeard.last + 1);
            cliHeard.start = *start;
            cliHeard.stop = *stop;
            Add(cli[s], cliHeard, sink, sound.lengthMs);
            cli[s].usage.cpu += run->first.cpu;
            cli[s].usage.switches += run->first.switches;
            cli[s].soundSeconds += sound.lengthMs / 1000;
            std::printf("cli    %-4s: lead-in %6.1f ms, tail %+6.1f ms, heard %7.1f ms, gaps %d, CPU %.3f s\n",
                        sound.kind, cliHeard.LeadInMs(), cliHeard.TailMs(), cliHeard.HeardMs(),
                        GapsWithin(sink.Samples(), cliHeard.first, cliHeard.last), run->first.cpu);

            // The server's own player, for the CPU it takes.
            const bool midi = std::strcmp(sound.kind, "MIDI") == 0;
            std::vector<std::string> player;
            if (midi)
                player = {"fluidsynth", "-ni", "-q", "-a", "pulseaudio", kSoundFont, sound.path.toStdString()};
            else if (pipeWire)
                player = {"pw-play", sound.path.toStdString()};
            else
                player = {"paplay", sound.path.toStdString()};
            from = sink.FrameCount();
            if (const auto played = RunMeasured(player, clientEnvironment)) {
                reference[s].usage.cpu += played->first.cpu;
                reference[s].usage.switches += played->first.switches;
                reference[s].soundSeconds += sound.lengthMs / 1000;
            }
            WaitForSilence(sink);
            // Its gaps too: a gap there is the server's (or the capture's), not ours.
            if (const auto first = sink.FirstSound(kSoundThreshold, from)) {
                const std::int64_t last = sink.LastSound(kSoundThreshold, *first).value_or(*first);
                const int gaps = GapsWithin(sink.Samples(), *first, last);
                reference[s].gaps += gaps;
                reference[s].gapped += gaps > 0;
                reference[s].tail.push_back(0);
            }
            std::fflush(stdout);
        }
    }
    for (pid_t &pid : spinners)
        Terminate(pid);

    const Usage idleBefore = OwnUsage();
    const double captureIdleBefore = sink.CaptureCpuSeconds();
    const auto idleWallBefore = Clock::now();
    idle(5000);
    const double idleCpu = OwnUsage().cpu - idleBefore.cpu - (sink.CaptureCpuSeconds() - captureIdleBefore);
    const double idleWall = std::chrono::duration<double>(Clock::now() - idleWallBefore).count();

    std::printf("\nAt the sink (goals: no gap; tail >= 0 in every recording, median <= 15 ms; lead-in >= 0,\n"
                "median <= 20 ms, max <= 40 ms; CPU of the command line <= 2x the server's player for WAV and MP3,\n"
                "below fluidsynth for MIDI):\n");
    std::printf("face   kind   n | lead-in min med max  | tail    min    med    max | gapped gaps | heard-length "
                "| CPU s/s wakes/s | player CPU s/s, ratio, its gaps\n");
    for (std::size_t s = 0; s < sounds.size(); ++s) {
        PrintRow("window", sounds[s].kind, window[s], nullptr);
        if (!cli[s].tail.empty())
            PrintRow("cli", sounds[s].kind, cli[s], &reference[s]);
    }
    const std::vector<double> lags = sink.CaptureLagsMs();
    if (!lags.empty())
        std::printf("capture's own delay, taken out (%zu chunks): median %.2f ms, 99th percentile %.2f ms, "
                    "maximum %.2f ms\n",
                    lags.size(), lags[lags.size() / 2], lags[lags.size() * 99 / 100], lags.back());
    std::printf("load average at the end: %.2f\n", loadAverage());
    std::printf("window CPU recording: %.2f %% of one core  (target: <= 2.5 %%), %.0f context switches a second\n",
                100 * recordingUsage.cpu / recordingWall, double(recordingUsage.switches) / recordingWall);
    std::printf("window CPU idle, port open: %.3f %% of one core  (target: < 0.5 %%)\n", 100 * idleCpu / idleWall);
    std::printf("resident memory: %.1f MB now, %.1f MB at most  (target: < 80 MB), of which the capture holds "
                "%.1f MB\n",
                statusKb("VmRSS:") / 1024.0, statusKb("VmHWM:") / 1024.0,
                double(sink.FrameCount()) * 2 / (1024 * 1024) + double(lags.size()) * 16 / (1024 * 1024));
    return 0;
}
