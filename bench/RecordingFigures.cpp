// The recording figures of the whole program, taken where the device would hear the sound: the
// real window plays to a private sound server's null sink, parec records the sink as it plays, and
// the device simulator stamps the commands. For WAV, MP3, MIDI and RMI files:
//   lead-in = first sound at the sink - arrival of "REC1"
//   tail    = arrival of "REC" - end of the last sound at the sink (negative: the device stopped
//             recording while the file still sounded)
// and how long after the sound's start "REC" came, how long the sound lasted at the sink, and how
// far behind the sound the position was at the controller's last tick before the sound ended.
// Also CPU and memory (the capture's own thread left out). Needs an X display: tests/e2e/with-display
// build/tamblo_bench_recording
// [--rounds N] [--busy N], where --busy starts N spinning processes beside it (a loaded machine).

#include "bench/BenchFigures.h"
#include "tests/e2e/RecorderHarness.h"
#include "ui_TForm1.h"

#include "app/TApplication.h"

#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sys/resource.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
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
void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Sound {
    const char *kind;
    QString path;
    double lengthMs;
    std::vector<HeardRecording> heard{};
    std::vector<double> positionBehind{};
    std::vector<double> tickAfterSound{}; // the tick that stopped: after the end of the sound
    std::vector<double> recAfterTick{};   // "REC" at the device: after that tick
};

void printFigures(const Sound &sound)
{
    std::vector<double> leadIn, tail, stopAfter, heard;
    for (const HeardRecording &h : sound.heard) {
        leadIn.push_back(h.LeadInMs());
        tail.push_back(h.TailMs());
        stopAfter.push_back(h.StopAfterSoundMs());
        heard.push_back(h.HeardMs() - sound.lengthMs);
    }
    const auto [tailMin, tailMax] = std::minmax_element(tail.begin(), tail.end());
    const auto [stopMin, stopMax] = std::minmax_element(stopAfter.begin(), stopAfter.end());
    const auto [heardMin, heardMax] = std::minmax_element(heard.begin(), heard.end());
    std::printf("%-4s %5.0f ms, %zu recordings: lead-in median %5.1f max %5.1f | tail median %5.1f min %5.1f max %5.1f"
                " | REC after sound start %6.1f..%6.1f | heard - length %+5.1f..%+5.1f ms\n",
                sound.kind, sound.lengthMs, sound.heard.size(), Median(leadIn),
                *std::max_element(leadIn.begin(), leadIn.end()), Median(tail), *tailMin, *tailMax, *stopMin, *stopMax,
                *heardMin, *heardMax);
    const auto spread = [](const char *what, const std::vector<double> &values) {
        if (!values.empty())
            std::printf("     %s: median %.1f ms, %.1f..%.1f ms\n", what, Median(values),
                        *std::min_element(values.begin(), values.end()),
                        *std::max_element(values.begin(), values.end()));
    };
    spread("position behind the sound near its end", sound.positionBehind);
    spread("of the tail, the stopping tick after the end of the sound", sound.tickAfterSound);
    spread("of the tail, REC at the device after that tick", sound.recAfterTick);
}

} // namespace

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    int rounds = 10;
    int busy = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--busy") == 0)
            busy = std::max(0, std::atoi(argv[i + 1]));
    }
    if (!SoundSink::Available()) {
        std::fprintf(stderr, "pulseaudio and parec are needed (scripts/setup installs them)\n");
        return 1;
    }
    RecorderHarness harness(RecorderHarness::Audio::Sink);
    QString error;
    if (!harness.Start(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const auto ownCpuSeconds = [&harness] { return cpuSeconds() - harness.Sink().CaptureCpuSeconds(); };
    Ui::TForm1 &form = harness.Window().Form();
    std::vector<Sound> sounds = {
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

    std::vector<std::unique_ptr<QProcess>> spinners;
    for (int i = 0; i < busy; ++i) {
        spinners.push_back(std::make_unique<QProcess>());
        spinners.back()->start(QStringLiteral("/bin/sh"),
                               {QStringLiteral("-c"), QStringLiteral("while :; do :; done")});
    }
    std::printf("%d rounds, %d spinning processes beside, load average %.2f at the start\n", rounds, busy,
                loadAverage());

    double recordingCpu = 0;
    double recordingWall = 0;
    int recordings = 0;
    for (int round = 0; round < rounds; ++round) {
        for (Sound &sound : sounds) {
            if (!harness.LoadThroughLabel(sound.path)) {
                std::fprintf(stderr, "could not load %s\n", qPrintable(sound.path));
                return 1;
            }
            ++recordings;
            const std::int64_t from = harness.Sink().FrameCount();
            // After each tick of the controller (the last one sends "REC"), the position, with the time.
            std::vector<std::pair<Clock::time_point, double>> ticks;
            const QMetaObject::Connection follow = QObject::connect(&harness.Window().Timer1(), &QTimer::timeout, [&] {
                ticks.emplace_back(Clock::now(), form.MediaPlayer1->CurrentPosition());
            });
            const double cpuBefore = ownCpuSeconds();
            const auto wallBefore = Clock::now();
            harness.Click(form.kwFlatBtn1, recordings == 1);
            if (!harness.Device().WaitForCommand(QStringLiteral("REC"), recordings, 30000)) {
                std::fprintf(stderr, "recording %d did not stop\n", recordings);
                return 1;
            }
            QObject::disconnect(follow);
            recordingCpu += ownCpuSeconds() - cpuBefore;
            recordingWall += std::chrono::duration<double>(Clock::now() - wallBefore).count();
            const auto heard = harness.Heard(from, QStringLiteral("REC1"), &error);
            if (!heard) {
                std::fprintf(stderr, "recording %d: %s\n", recordings, qPrintable(error));
                return 1;
            }
            sound.heard.push_back(*heard);
            // The last reading before the sound ended, against where the sound was then.
            std::optional<double> behind;
            for (const auto &[when, position] : ticks) {
                const double left = std::chrono::duration<double, std::milli>(heard->soundEnd - when).count();
                if (left > 0 && position > 0)
                    behind = (sound.lengthMs - left) - position;
            }
            if (behind)
                sound.positionBehind.push_back(*behind);
            if (!ticks.empty()) {
                const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
                sound.tickAfterSound.push_back(ms(ticks.back().first - heard->soundEnd));
                sound.recAfterTick.push_back(ms(heard->stop - ticks.back().first));
            }
            std::printf("recording %3d %-4s: lead-in %5.1f ms, tail %+6.1f ms, REC %7.1f ms after the sound's start, "
                        "heard %7.1f ms, position %+5.1f ms behind\n",
                        recordings, sound.kind, heard->LeadInMs(), heard->TailMs(), heard->StopAfterSoundMs(),
                        heard->HeardMs(), behind.value_or(0));
            std::fflush(stdout);
        }
    }
    spinners.clear();

    const double idleCpuBefore = ownCpuSeconds();
    const auto idleWallBefore = Clock::now();
    idle(5000);
    const double idleCpu = ownCpuSeconds() - idleCpuBefore;
    const double idleWall = std::chrono::duration<double>(Clock::now() - idleWallBefore).count();

    std::printf("\nAt the sink (goals: tail >= 0 in every recording and <= 15 ms median, lead-in <= 20 ms median;\n"
                "MIDI and RMI: REC 1995..2040 ms after the sound's start):\n");
    for (const Sound &sound : sounds)
        printFigures(sound);
    const std::vector<double> lags = harness.Sink().CaptureLagsMs();
    if (!lags.empty())
        std::printf("capture's own delay, taken out (%zu chunks): median %.2f ms, 99th percentile %.2f ms, "
                    "maximum %.2f ms\n",
                    lags.size(), lags[lags.size() / 2], lags[lags.size() * 99 / 100], lags.back());
    std::printf("load average at the end: %.2f\n", loadAverage());
    std::printf("CPU recording:  %.2f %% of one core  (target: < 5 %%)\n", 100 * recordingCpu / recordingWall);
    std::printf("CPU idle, port open: %.3f %% of one core  (target: < 0.5 %%)\n", 100 * idleCpu / idleWall);
    std::printf("resident memory: %.1f MB now, %.1f MB at most  (target: < 80 MB), of which the capture holds "
                "%.1f MB\n",
                statusKb("VmRSS:") / 1024.0, statusKb("VmHWM:") / 1024.0,
                double(harness.Sink().FrameCount()) * 2 / (1024 * 1024) + double(lags.size()) * 16 / (1024 * 1024));
    return 0;
}
