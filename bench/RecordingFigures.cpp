// The recording figures of the whole program: how late the stop command reaches the device,
// how far the sound's start lies from the record command's arrival, CPU and memory. Runs the
// real window against the device simulator with disk audio; needs an X display
// (tests/e2e/with-display build/tamblo_bench_recording).

#include "media/MediaSystem.h"
#include "tests/e2e/RecorderHarness.h"
#include "ui_TForm1.h"
#include "controls/ZintarLiquidIndicator.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sys/resource.h>
#include <vector>

#include "app/TApplication.h"
#include "media/MediaPlayer.h"

namespace {

using Clock = std::chrono::steady_clock;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
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

// Runs the event loop alone for a while: no polling of our own adds to the figures.
void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    RecorderHarness harness;
    QString error;
    if (!harness.Start(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    Ui::TForm1 &form = harness.Window().Form();
    // 32 kHz: a 256-frame buffer lasts 8 ms, a whole number of the milliseconds the disk driver
    // sleeps by, so the output keeps real time and the figures are those of a real sound card.
    const QString shortFile = harness.MakeToneWav(QStringLiteral("short.wav"), 2000, 32000);
    const QString longFile = harness.MakeToneWav(QStringLiteral("long.wav"), 12000, 32000);

    std::vector<double> lateness;
    std::vector<double> wallLateness;
    std::vector<double> skew;
    double recordingCpu = 0;
    double recordingWall = 0;
    for (int i = 0; i < 10; ++i) {
        const bool isShort = i < 5;
        if (!harness.LoadThroughLabel(isShort ? shortFile : longFile)) {
            std::fprintf(stderr, "could not load the sound file\n");
            return 1;
        }
        // Beside each tick of the controller, read the position once more with the time: the
        // sound's own timeline, on which the stop's lateness is judged.
        std::vector<std::pair<Clock::time_point, double>> timeline;
        const QMetaObject::Connection follow =
            QObject::connect(&harness.Window().Timer1(), &QTimer::timeout, [&] {
                timeline.emplace_back(Clock::now(), form.MediaPlayer1->CurrentPosition());
            });
        const double cpuBefore = cpuSeconds();
        const auto wallBefore = Clock::now();
        harness.Click(form.kwFlatBtn1, i == 0);
        if (!harness.Device().WaitForCommand(QStringLiteral("REC"), i + 1, 30000)) {
            std::fprintf(stderr, "recording %d did not stop\n", i + 1);
            return 1;
        }
        QObject::disconnect(follow);
        recordingCpu += cpuSeconds() - cpuBefore;
        recordingWall += std::chrono::duration<double>(Clock::now() - wallBefore).count();

        const auto start = harness.Device().Arrival(QStringLiteral("REC1"), i + 1);
        const auto stop = harness.Device().Arrival(QStringLiteral("REC"), i + 1);
        const auto sound = MediaSystem::Instance().FirstSoundTime(form.MediaPlayer1->DeviceNumber());
        const double expected = isShort ? 2000 : 10000;
        // The fake audio drivers keep time by whole-millisecond sleeps and drift from the wall
        // clock (about 1.5 % slow here), so lateness is judged on the sound's own timeline: from
        // the last reading below the limit, the sound reaches the limit that much later.
        std::optional<Clock::time_point> reached;
        for (const auto &[when, position] : timeline) {
            if (position > 0 && position < expected)
                reached = when + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double, std::milli>(expected - position));
        }
        if (!reached) {
            std::fprintf(stderr, "recording %d: no position below the limit was read\n", i + 1);
            return 1;
        }
        lateness.push_back(milliseconds(*stop - *reached));
        wallLateness.push_back(milliseconds(*stop - *start) - expected);
        if (sound)
            skew.push_back(milliseconds(*sound - *start));
        std::printf("recording %2d: %5.0f ms file, stop %+6.1f ms late by the sound (%+7.1f ms by the wall clock), "
                    "sound starts %+6.2f ms after REC1\n",
                    i + 1, isShort ? 2000.0 : 12000.0, lateness.back(), wallLateness.back(), sound ? skew.back() : 0.0);
    }

    const double idleCpuBefore = cpuSeconds();
    const auto idleWallBefore = Clock::now();
    idle(10000);
    const double idleCpu = cpuSeconds() - idleCpuBefore;
    const double idleWall = std::chrono::duration<double>(Clock::now() - idleWallBefore).count();

    std::printf("\n");
    std::printf("stop lateness:  median %.1f ms, maximum %.1f ms  (target: median < 15 ms, maximum < 25 ms)\n",
                median(lateness), *std::max_element(lateness.begin(), lateness.end()));
    std::printf("  by the wall clock, with the driver's drift: median %.1f ms, maximum %.1f ms\n", median(wallLateness),
                *std::max_element(wallLateness.begin(), wallLateness.end()));
    if (!skew.empty())
        std::printf("start skew:     median %.2f ms  (target: < 20 ms)\n", median(skew));
    std::printf("CPU recording:  %.2f %% of one core  (target: < 5 %%)\n", 100 * recordingCpu / recordingWall);
    std::printf("CPU idle, port open: %.3f %% of one core  (target: < 0.5 %%)\n", 100 * idleCpu / idleWall);
    std::printf("resident memory: %.1f MB now, %.1f MB at most  (target: < 80 MB)\n", statusKb("VmRSS:") / 1024.0,
                statusKb("VmHWM:") / 1024.0);
    return 0;
}
