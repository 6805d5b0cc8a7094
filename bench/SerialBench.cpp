// Serial link figures, on pseudo-terminals: the cost of SendText, the time from SendText to the
// bytes at the far end, the CPU of an open port at rest (also with unread input waiting), and
// open plus close.

#include "bench/BenchFigures.h"
#include "fixtures/PublishedPty.h"
#include "serial/ComPort.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A pseudo-terminal published as COM1 in a ports directory, at the given speed.
class BenchPort {
public:
    explicit BenchPort(speed_t speed = B9600)
    {
        setenv("TAMBLO_PORTS", dir_.path().toLocal8Bit().constData(), 1);
        std::string error;
        if (!pty_.Publish(dir_.path().toStdString(), 1, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::abort();
        }
        termios line{};
        tcgetattr(pty_.Slave(), &line);
        cfsetspeed(&line, speed);
        tcsetattr(pty_.Slave(), TCSANOW, &line);
        master = pty_.Master();
    }

    // Reads exactly count bytes from the far end.
    void Receive(std::size_t count)
    {
        char buffer[256];
        while (count > 0) {
            pollfd entry{master, POLLIN, 0};
            poll(&entry, 1, 1000);
            const ssize_t got = read(master, buffer, std::min(sizeof buffer, count));
            if (got > 0)
                count -= static_cast<std::size_t>(got);
        }
    }

    int master = -1;

private:
    QTemporaryDir dir_;
    PublishedPty pty_;
};

double Percentile(std::vector<double> samples, double fraction)
{
    std::sort(samples.begin(), samples.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[index];
}

double Micros(Clock::duration duration) { return std::chrono::duration<double, std::micro>(duration).count(); }

// Target: median under 5 microseconds (a copy and a signal).
void BM_SendText6Bytes(benchmark::State &state)
{
    BenchPort pty;
    TComPort port;
    port.setBaud(9600);
    port.setComNumber(1);
    port.setOpen(true);
    std::atomic<bool> reading{true};
    std::thread reader([&] {
        char buffer[4096];
        while (reading.load()) {
            pollfd entry{pty.master, POLLIN, 0};
            if (poll(&entry, 1, 20) > 0) [[maybe_unused]]
                ssize_t n = read(pty.master, buffer, sizeof buffer);
        }
    });

    std::vector<double> samples;
    for (auto _ : state) {
        // Keep the ring from filling: the figure is the call, not the line.
        if (port.Dispatcher()->OutputUsed() > 2048) {
            state.PauseTiming();
            while (port.Dispatcher()->OutputUsed() > 0)
                std::this_thread::yield();
            state.ResumeTiming();
        }
        const Clock::time_point start = Clock::now();
        port.SendText("REC1\r\n");
        const Clock::time_point end = Clock::now();
        samples.push_back(Micros(end - start));
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    state.counters["median_us"] = Percentile(samples, 0.5);
    state.counters["p99_us"] = Percentile(samples, 0.99);
    port.setOpen(false);
    reading = false;
    reader.join();
}
BENCHMARK(BM_SendText6Bytes)->UseManualTime()->Iterations(100000)->Unit(benchmark::kMicrosecond);

// Target: median under 1 ms.
void BM_SendTextToFarEnd(benchmark::State &state)
{
    BenchPort pty;
    TComPort port;
    port.setBaud(9600);
    port.setComNumber(1);
    port.setOpen(true);
    std::vector<double> samples;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        port.SendText("REC1\r\n");
        pty.Receive(6);
        const Clock::time_point end = Clock::now();
        samples.push_back(Micros(end - start));
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    state.counters["median_us"] = Percentile(samples, 0.5);
    state.counters["p99_us"] = Percentile(samples, 0.99);
}
BENCHMARK(BM_SendTextToFarEnd)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

// Target: under 0.5 % of one core, at rest and with input that nobody reads.
void BM_IdleCpu(benchmark::State &state)
{
    const bool unreadInput = state.range(0) != 0;
    BenchPort pty;
    TComPort port;
    port.setBaud(9600);
    port.setComNumber(1);
    port.setOpen(true);
    if (unreadInput) {
        // 8 KiB fill the input ring; 8 KiB more wait in the driver behind it.
        const std::string bytes(16384, 'x');
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = write(pty.master, bytes.data() + sent, bytes.size() - sent);
            if (n > 0)
                sent += static_cast<std::size_t>(n);
        }
        while (port.Dispatcher()->InputUsed() < TBaseDispatcher::InRingSize)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    constexpr double kSeconds = 10.0;
    for (auto _ : state) {
        const double cpuBefore = ProcessCpuSeconds();
        const Clock::time_point start = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(kSeconds));
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpu = ProcessCpuSeconds() - cpuBefore;
        state.SetIterationTime(wall);
        state.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
    }
    state.counters["input_unread_bytes"] = port.Dispatcher()->InputUsed();
}
BENCHMARK(BM_IdleCpu)->Arg(0)->Arg(1)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// Target: median under 20 ms. With argument 1 the line runs at another speed before each open,
// so the open also pays the pause of 18 characters that a line change takes.
void BM_OpenClose(benchmark::State &state)
{
    BenchPort pty(state.range(0) != 0 ? B38400 : B9600);
    TComPort port;
    port.setBaud(9600);
    port.setComNumber(1);
    std::vector<double> samples;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        port.setOpen(true);
        port.setOpen(false);
        const Clock::time_point end = Clock::now();
        samples.push_back(Micros(end - start) / 1000.0);
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    state.counters["median_ms"] = Percentile(samples, 0.5);
    state.counters["p99_ms"] = Percentile(samples, 0.99);
}
BENCHMARK(BM_OpenClose)->Arg(0)->Arg(1)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    UsePrivateLockFolder();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
