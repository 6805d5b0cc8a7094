// The command line's figures: how far apart several recorders get each command when one
// `tamblo record` feeds them all, how long the program takes from its start to the record
// command on the wire, and how much CPU and memory a recording costs. Runs the real program
// against device simulators; needs no display.

#include "bench/BenchFigures.h"
#include "tests/common/DeviceSimulator.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sndfile.h>
#include <sys/resource.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double maximum(const std::vector<double> &values) { return *std::max_element(values.begin(), values.end()); }

double milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A 32 kHz tone: a 256-frame buffer lasts 8 ms, so the dummy output keeps real time.
bool writeTone(const QString &path, int milliseconds)
{
    SF_INFO info{};
    info.samplerate = 32000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    std::vector<short> samples(std::size_t(32 * milliseconds));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = short(std::lround(8000 * std::sin(2 * M_PI * 440.0 * double(i) / 32000)) | 1);
    const bool written =
        sf_writef_short(file, samples.data(), sf_count_t(samples.size())) == sf_count_t(samples.size());
    sf_close(file);
    return written;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    UsePrivateLockFolder();
    QTemporaryDir scratch;
    const QString tone = scratch.filePath(QStringLiteral("tone.wav"));
    if (!writeTone(tone, 1000)) {
        std::fprintf(stderr, "cannot write the tone\n");
        return 1;
    }
    constexpr int kRuns = 5;
    for (int ports : {1, 2, 4, 8}) {
        std::vector<std::unique_ptr<DeviceSimulator>> devices;
        QStringList arguments{QStringLiteral("record"), QStringLiteral("--channel"), QStringLiteral("1")};
        for (int n = 1; n <= ports; ++n) {
            devices.push_back(std::make_unique<DeviceSimulator>(n, scratch.path()));
            QString error;
            if (!devices.back()->Start(&error)) {
                std::fprintf(stderr, "%s\n", qPrintable(error));
                return 1;
            }
            arguments << QStringLiteral("--port") << QString::number(n);
        }
        arguments << tone;

        std::vector<double> startSkew, stopSkew, launch;
        for (int run = 1; run <= kRuns; ++run) {
            QProcess tamblo;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("TAMBLO_PORTS"), scratch.path());
            environment.insert(QStringLiteral("XDG_STATE_HOME"), scratch.path());
            environment.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
            environment.remove(QStringLiteral("DISPLAY"));
            tamblo.setProcessEnvironment(environment);
            const auto started = Clock::now();
            tamblo.start(QStringLiteral(TAMBLO_PATH), arguments);
            if (!tamblo.waitForFinished(30000) || tamblo.exitCode() != 0) {
                std::fprintf(stderr, "run %d failed: %s\n", run, tamblo.readAllStandardError().constData());
                return 1;
            }
            std::vector<Clock::time_point> starts, stops;
            for (auto &device : devices) {
                if (!device->WaitForCommand(QStringLiteral("REC"), run, 10000)) {
                    std::fprintf(stderr, "run %d: a device got no REC\n", run);
                    return 1;
                }
                starts.push_back(*device->Arrival(QStringLiteral("REC1"), run));
                stops.push_back(*device->Arrival(QStringLiteral("REC"), run));
            }
            const auto [firstStart, lastStart] = std::minmax_element(starts.begin(), starts.end());
            const auto [firstStop, lastStop] = std::minmax_element(stops.begin(), stops.end());
            startSkew.push_back(milliseconds(*lastStart - *firstStart));
            stopSkew.push_back(milliseconds(*lastStop - *firstStop));
            launch.push_back(milliseconds(*firstStart - started));
        }
        std::printf("%d port%s: command skew median %.3f ms, maximum %.3f ms (stop: %.3f, %.3f)  (target: < 2 ms); "
                    "start to REC1 median %.0f ms\n",
                    ports, ports == 1 ? " " : "s", Median(startSkew), maximum(startSkew), Median(stopSkew),
                    maximum(stopSkew), Median(launch));
    }
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    // Each run records 1 s of sound.
    std::printf("all %d recordings: %.2f s of CPU in the recorder processes, resident memory at most %.1f MB\n",
                4 * kRuns,
                double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                    + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6,
                double(usage.ru_maxrss) / 1024.0);
    return 0;
}
