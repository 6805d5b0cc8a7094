#include "tests/common/SoundSink.h"

#include "tests/common/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

bool Running(pid_t pid) { return pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0; }

bool Installed(const std::string &program)
{
    const char *path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        if (::access((folders.substr(start, end - start) + "/" + program).c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

std::vector<std::string> Programs(SoundSink::ServerKind server)
{
    if (server == SoundSink::ServerKind::PipeWire)
        return {"pipewire", "wireplumber", "pipewire-pulse", "dbus-daemon", "pactl", "pw-metadata", "parec"};
    return {"pulseaudio", "parec"};
}

// Waits until the path exists or the process that makes it has ended.
bool WaitForPath(const std::string &path, pid_t maker)
{
    struct stat info {};
    for (int i = 0; i < 1000 && ::stat(path.c_str(), &info) != 0 && Running(maker); ++i)
        std::this_thread::sleep_for(10ms);
    return ::stat(path.c_str(), &info) == 0;
}

} // namespace

SoundSink::ServerKind SoundSink::Chosen()
{
    const char *chosen = std::getenv("TAMBLO_TEST_SERVER");
    return chosen != nullptr && std::strcmp(chosen, "pipewire") == 0 ? ServerKind::PipeWire : ServerKind::PulseAudio;
}

const char *SoundSink::Name(ServerKind server) { return server == ServerKind::PipeWire ? "pipewire" : "pulseaudio"; }

bool SoundSink::Available() { return Missing().empty(); }

std::string SoundSink::Missing()
{
    std::string missing;
    for (const std::string &program : Programs(Chosen())) {
        if (!Installed(program))
            missing += (missing.empty() ? "" : ", ") + program;
    }
    if (missing.empty())
        return missing;
    return "the sound server's programs are not installed (" + missing + "; scripts/setup installs them)";
}

SoundSink::SoundSink() = default;

SoundSink::~SoundSink() { stop(); }

std::string SoundSink::Server() const { return "unix:" + folder_ + "/rt/pulse/native"; }

void SoundSink::UseForSdl() const
{
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    setenv("PULSE_SERVER", Server().c_str(), 1);
}

std::vector<std::string> SoundSink::Environment() const
{
    const std::string runtime = folder_ + "/rt";
    return ChildEnvironment({{"HOME", folder_},
                             {"XDG_RUNTIME_DIR", runtime},
                             {"PULSE_SERVER", Server()},
                             {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + runtime + "/bus"},
                             {"PIPEWIRE_RUNTIME_DIR", runtime},
                             // A buffering asked of the program under test is not the capture's.
                             {"PULSE_LATENCY_MSEC", ""},
                             {"DISPLAY", ""}});
}

bool SoundSink::run(const std::vector<std::string> &argv) const
{
    pid_t pid = Spawn(argv, Environment(), logFd_, logFd_);
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool SoundSink::Start(std::string *error, Options options)
{
    server_ = Chosen();
    char folder[] = "/tmp/tamblo-sink.XXXXXX";
    if (!mkdtemp(folder)) {
        *error = std::string("no temporary folder: ") + std::strerror(errno);
        return false;
    }
    folder_ = folder;
    ::mkdir((folder_ + "/rt").c_str(), 0700);
    const std::string log = folder_ + "/server.log";
    logFd_ = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const bool started = server_ == ServerKind::PipeWire ? startPipeWire(error) : startPulseAudio(options, error);
    if (!started)
        return false;

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        *error = "no pipe for the capture";
        return false;
    }
    capture_ = Spawn({"parec", "-d", "rec.monitor", "--raw", "--format=s16le", "--rate=" + std::to_string(Rate),
                      "--channels=1", "--latency-msec=" + std::to_string(options.captureLatencyMs)},
                     Environment(), pipeFds[1], logFd_);
    ::close(pipeFds[1]);
    if (capture_ < 0) {
        ::close(pipeFds[0]);
        *error = "parec could not be started (is the pulseaudio-utils package installed?)";
        return false;
    }
    reader_ = std::thread([this, fd = pipeFds[0]] { readCapture(fd); });
    // The monitor delivers silence from the start: the first frames say the capture runs.
    for (int i = 0; i < 1000 && FrameCount() == 0 && Running(capture_); ++i)
        std::this_thread::sleep_for(10ms);
    if (FrameCount() == 0) {
        *error = "parec captured nothing from the sink; see " + log;
        return false;
    }
    return true;
}

bool SoundSink::startPulseAudio(const Options &options, std::string *error)
{
    const pid_t server =
        Spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "--log-target=stderr",
               "--load=module-null-sink sink_name=rec rate=" + std::to_string(Rate) + " channels=1"
                   + (options.rendersAhead ? "" : " norewinds=1"),
               "--load=module-native-protocol-unix auth-anonymous=1"},
              Environment(), logFd_, logFd_);
    if (server < 0) {
        *error = "pulseaudio could not be started (is the pulseaudio package installed?)";
        return false;
    }
    daemons_.push_back(server);
    if (!WaitForPath(folder_ + "/rt/pulse/native", server)) {
        *error = "the sound server did not open its socket; see " + folder_ + "/server.log";
        return false;
    }
    return true;
}

// PipeWire without a system service: a private session bus, the server, its session manager
// (which links streams to sinks) and its PulseAudio side; then a null sink made the default.
bool SoundSink::startPipeWire(std::string *error)
{
    const std::string runtime = folder_ + "/rt";
    const auto start = [&](const std::vector<std::string> &argv, const std::string &waitFor) {
        const pid_t pid = Spawn(argv, Environment(), logFd_, logFd_);
        if (pid < 0)
            return false;
        daemons_.push_back(pid);
        return waitFor.empty() || WaitForPath(waitFor, pid);
    };
    if (!start({"dbus-daemon", "--session", "--nofork", "--address=unix:path=" + runtime + "/bus"}, runtime + "/bus")
        || !start({"pipewire"}, runtime + "/pipewire-0") || !start({"wireplumber"}, "")
        || !start({"pipewire-pulse"}, runtime + "/pulse/native")) {
        *error = "PipeWire could not be started; see " + folder_ + "/server.log";
        return false;
    }
    // Its PulseAudio side may take a while to answer on a busy machine.
    bool made = false;
    for (int i = 0; i < 50 && !made; ++i) {
        made = run({"pactl", "load-module", "module-null-sink", "sink_name=rec", "rate=" + std::to_string(Rate),
                    "channels=1"});
        if (!made)
            std::this_thread::sleep_for(100ms);
    }
    // The default can be set once the session manager is up; until then the server says "Not supported".
    bool defaulted = false;
    for (int i = 0; made && i < 100 && !(defaulted = run({"pactl", "set-default-sink", "rec"})); ++i)
        std::this_thread::sleep_for(50ms);
    if (!made || !defaulted) {
        *error = "PipeWire's PulseAudio side did not make the null sink; see " + folder_ + "/server.log";
        return false;
    }
    return true;
}

bool SoundSink::ForceQuantum(int frames)
{
    return server_ == ServerKind::PipeWire
           && run({"pw-metadata", "-n", "settings", "0", "clock.force-quantum", std::to_string(frames)});
}

bool SoundSink::RemoveSink() { return run({"pactl", "unload-module", "module-null-sink"}); }

void SoundSink::KillServer()
{
    for (pid_t pid : daemons_)
        ::kill(pid, SIGKILL);
}

void SoundSink::FreezeServer(bool frozen)
{
    // PipeWire's own process comes after its session bus.
    const std::size_t server = server_ == ServerKind::PipeWire ? 1 : 0;
    if (daemons_.size() > server)
        ::kill(daemons_[server], frozen ? SIGSTOP : SIGCONT);
}

void SoundSink::readCapture(int fd)
{
    clockid_t cpu{};
    if (pthread_getcpuclockid(pthread_self(), &cpu) == 0) {
        readerClock_ = cpu;
        readerClockSet_ = true;
    }
    std::vector<char> buffer(16384);
    bool oddByte = false;
    char held = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        const Clock::time_point arrival = Clock::now();
        if (got <= 0) {
            if (got < 0 && errno == EINTR)
                continue;
            break;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        std::size_t at = 0;
        if (oddByte) {
            const unsigned char low = static_cast<unsigned char>(held);
            samples_.push_back(static_cast<std::int16_t>(low | (static_cast<unsigned char>(buffer[0]) << 8)));
            at = 1;
            oddByte = false;
        }
        for (; at + 1 < static_cast<std::size_t>(got); at += 2) {
            const unsigned char low = static_cast<unsigned char>(buffer[at]);
            samples_.push_back(static_cast<std::int16_t>(low | (static_cast<unsigned char>(buffer[at + 1]) << 8)));
        }
        if (at < static_cast<std::size_t>(got)) {
            held = buffer[at];
            oddByte = true;
        }
        // The last frame of this chunk was played no later than now.
        chunks_.emplace_back(std::int64_t(samples_.size()), arrival);
    }
    ::close(fd);
}

void SoundSink::stop()
{
    Terminate(capture_);
    if (reader_.joinable())
        reader_.join();
    for (auto pid = daemons_.rbegin(); pid != daemons_.rend(); ++pid)
        Terminate(*pid);
    daemons_.clear();
    if (logFd_ >= 0)
        ::close(logFd_);
    logFd_ = -1;
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        folder_.clear();
    }
}

std::vector<std::int16_t> SoundSink::Samples() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return samples_;
}

std::int64_t SoundSink::FrameCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<std::int64_t>(samples_.size());
}

SoundSink::Clock::time_point SoundSink::FrameTime(std::int64_t frame) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return frameTimeLocked(frame);
}

// A chunk that ends at frame e and arrived at a says that frame f < e was played no later than
// a - (e - f) / Rate. The chunks of the next quarter second give the tightest such bound: one of
// them came without delay. Looking no further keeps the sink's clock, which runs a little off
// ours (by 0.1 % while a stream plays), out of the figure.
SoundSink::Clock::time_point SoundSink::frameTimeLocked(std::int64_t frame) const
{
    auto chunk =
        std::partition_point(chunks_.begin(), chunks_.end(), [frame](const auto &c) { return c.first <= frame; });
    if (chunk == chunks_.end()) {
        if (chunks_.empty())
            return Clock::time_point();
        --chunk; // not captured yet: counted on from the latest chunk
    }
    const auto bound = [frame](const auto &c) {
        return c.second
               - std::chrono::duration_cast<Clock::duration>(
                   std::chrono::duration<double>(double(c.first - frame) / Rate));
    };
    Clock::time_point best = bound(*chunk);
    for (++chunk; chunk != chunks_.end() && chunk->first - frame <= Rate / 4; ++chunk)
        best = std::min(best, bound(*chunk));
    return best;
}

std::optional<std::int64_t> SoundSink::FirstSound(int threshold, std::int64_t from) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::int64_t i = std::max<std::int64_t>(from, 0); i < std::int64_t(samples_.size()); ++i) {
        if (std::abs(int(samples_[std::size_t(i)])) > threshold)
            return i;
    }
    return std::nullopt;
}

std::optional<std::int64_t> SoundSink::LastSound(int threshold, std::int64_t from, std::int64_t end) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const std::int64_t size = std::int64_t(samples_.size());
    const std::int64_t stop = end < 0 || end > size ? size : end;
    for (std::int64_t i = stop - 1; i >= std::max<std::int64_t>(from, 0); --i) {
        if (std::abs(int(samples_[std::size_t(i)])) > threshold)
            return i;
    }
    return std::nullopt;
}

bool SoundSink::WaitUntilCaptured(Clock::time_point moment, std::chrono::milliseconds timeout) const
{
    const Clock::time_point deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        const std::int64_t frames = FrameCount();
        if (frames > 0 && FrameTime(frames - 1) >= moment)
            return true;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

double SoundSink::CaptureCpuSeconds() const
{
    timespec used{};
    if (!readerClockSet_ || clock_gettime(readerClock_, &used) != 0)
        return 0;
    return double(used.tv_sec) + double(used.tv_nsec) / 1e9;
}

std::vector<double> SoundSink::CaptureLagsMs() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<double> lags;
    for (const auto &[frames, arrival] : chunks_)
        lags.push_back(std::chrono::duration<double, std::milli>(arrival - frameTimeLocked(frames)).count());
    std::sort(lags.begin(), lags.end());
    return lags;
}
