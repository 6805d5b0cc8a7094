// tamblo-devsim: plays the two-channel GSM recorder on a pseudo-terminal, so that Tamblo, its
// tests and its demo can run without the device. It publishes the pty as COMn in a ports
// directory (the one TAMBLO_PORTS names for Tamblo) and prints one line per event:
//
//   <milliseconds since start, 3 decimals> <text>
//
// The first text is "COMn -> <pty> (monotonic <ms>)", the start on the monotonic clock; then each command received
// ("REC1", "REC", ...) or 'unknown command "<text>"', and the device's state ("GSM1 recording", "GSM1 stopped at 4.210
// s", "GSM1 memory full", "memories erased").
//
// Two signals play a line in trouble: SIGUSR1 stops the line taking data (as a stuck adapter or
// bridge does) and starts it again ("line stopped", "line started"); SIGUSR2 hangs the line up,
// as an adapter pulled out ("hung up").

#include "fixtures/PublishedPty.h"
#include "tools/devsim/DeviceModel.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Text that arrives without a line end is reported after this much silence.
constexpr auto kPartialLineTimeout = std::chrono::milliseconds(500);

struct Options {
    std::string ports;
    int com = 1;
    bool quiet = false;
};

const Clock::time_point kStart = Clock::now();

void Print(const std::string &text)
{
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - kStart).count();
    std::printf("%.3f %s\n", ms, text.c_str());
    std::fflush(stdout);
}

void Usage(std::FILE *out)
{
    std::fprintf(out, "usage: tamblo-devsim [--ports DIR] [--com N] [--quiet] [--help]\n"
                      "Plays the GSM recorder on a pseudo-terminal published as DIR/COMN.\n"
                      "  --ports DIR  directory to publish the port in (created if missing);\n"
                      "               default: $TAMBLO_PORTS, else /tmp/tamblo-ports\n"
                      "  --com N      port number, default 1\n"
                      "  --quiet      print only the first line\n");
}

bool ParseOptions(int argc, char **argv, Options &options)
{
    const char *env = std::getenv("TAMBLO_PORTS");
    options.ports = env && *env ? env : "/tmp/tamblo-ports";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            std::exit(0);
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--ports" && i + 1 < argc) {
            options.ports = argv[++i];
        } else if (arg == "--com" && i + 1 < argc) {
            char *end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || n < 1 || n > 65535) {
                std::fprintf(stderr, "tamblo-devsim: bad port number '%s'\n", argv[i]);
                return false;
            }
            options.com = static_cast<int>(n);
        } else {
            Usage(stderr);
            return false;
        }
    }
    return true;
}

std::string Escape(const std::string &text)
{
    std::string escaped;
    for (unsigned char c : text) {
        if (c == '\r')
            escaped += "\\r";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '"' || c == '\\')
            escaped += std::string("\\") + static_cast<char>(c);
        else if (c < 32 || c >= 127) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            escaped += hex;
        } else
            escaped += static_cast<char>(c);
    }
    return escaped;
}

// The line discipline of the device: commands end in CR LF; anything else is reported.
class LineReader {
public:
    LineReader(DeviceModel &model, bool quiet) : model_(model), quiet_(quiet) {}

    void Feed(const char *data, std::size_t count, Clock::time_point now)
    {
        pending_.append(data, count);
        lastByte_ = now;
        std::size_t end;
        while ((end = pending_.find('\n')) != std::string::npos) {
            Line(pending_.substr(0, end + 1), now);
            pending_.erase(0, end + 1);
        }
    }

    void Tick(Clock::time_point now)
    {
        if (!pending_.empty() && now - lastByte_ >= kPartialLineTimeout) {
            Report("unknown command \"" + Escape(pending_) + "\"");
            pending_.clear();
        }
        for (const std::string &line : model_.Advance(now))
            Report(line);
    }

    std::optional<Clock::time_point> NextDeadline() const
    {
        std::optional<Clock::time_point> next = model_.NextEvent();
        if (!pending_.empty()) {
            const Clock::time_point partial = lastByte_ + kPartialLineTimeout;
            next = next ? std::min(*next, partial) : partial;
        }
        return next;
    }

private:
    void Line(const std::string &line, Clock::time_point now)
    {
        const bool crlf = line.size() >= 2 && line[line.size() - 2] == '\r';
        const std::string command = line.substr(0, line.size() - (crlf ? 2 : 1));
        if (!crlf || !model_.Knows(command)) {
            Report("unknown command \"" + Escape(line) + "\"");
            return;
        }
        Report(command);
        for (const std::string &text : model_.Command(command, now))
            Report(text);
    }

    void Report(const std::string &text)
    {
        if (!quiet_)
            Print(text);
    }

    DeviceModel &model_;
    bool quiet_;
    std::string pending_;
    Clock::time_point lastByte_{};
};

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options))
        return 2;

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);

    PublishedPty port;
    std::string error;
    if (!port.Publish(options.ports, options.com, &error)) {
        std::fprintf(stderr, "tamblo-devsim: %s\n", error.c_str());
        return 1;
    }
    int master = port.Master();
    bool stopped = false;
    // The start on the monotonic clock lets a test put the arrivals on its own timeline.
    const double monotonicMs = std::chrono::duration<double, std::milli>(kStart.time_since_epoch()).count();
    char start[64];
    std::snprintf(start, sizeof start, " (monotonic %.3f)", monotonicMs);
    Print("COM" + std::to_string(options.com) + " -> " + port.SlaveName() + start);

    DeviceModel model;
    LineReader reader(model, options.quiet);
    int status = 0;
    for (;;) {
        int timeout = -1;
        if (const auto deadline = reader.NextDeadline()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            timeout = static_cast<int>(std::max<long long>(0, left));
        }
        pollfd entries[2] = {{master, POLLIN, 0}, {signalFd, POLLIN, 0}};
        const int ready = poll(entries, 2, timeout);
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "tamblo-devsim: poll: %s\n", std::strerror(errno));
            status = 1;
            break;
        }
        if (entries[1].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(signalFd, &info, sizeof info) != sizeof info)
                continue;
            if (info.ssi_signo == SIGUSR1) {
                // The flow of the program's end of the line, held by our own descriptor of it.
                stopped = !stopped;
                tcflow(port.Slave(), stopped ? TCOOFF : TCOON);
                Print(stopped ? "line stopped" : "line started");
                continue;
            }
            if (info.ssi_signo == SIGUSR2) {
                port.CloseMaster();
                master = -1;
                Print("hung up");
                continue;
            }
            break;
        }
        if (entries[0].revents & POLLIN) {
            char buffer[4096];
            const ssize_t got = read(master, buffer, sizeof buffer);
            if (got > 0)
                reader.Feed(buffer, static_cast<std::size_t>(got), Clock::now());
        }
        reader.Tick(Clock::now());
    }

    return status;
}
