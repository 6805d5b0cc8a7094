#include "media/OutputMonitor.h"
#include "media/SoundAnalysis.h"
#include "media/SoundOutputs.h"
#include "tests/common/ChildProcess.h"
#include "tests/common/SoundSink.h"
#include "tests/common/TestOutputs.h"
#include "tests/media/MediaFixtures.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

SoundOutput Output(const char *name, const char *description, bool isDefault = false)
{
    SoundOutput output;
    output.name = name;
    output.description = description;
    output.isDefault = isDefault;
    return output;
}

TEST(SoundOutputs, ChoiceByNameOrDescriptionListsTheOutputsWhenItFitsNoneOrSeveral)
{
    const std::vector<SoundOutput> outputs = {
        Output("alsa_output.pci.analog-stereo", "Built-in Audio Analog Stereo", true),
        Output("alsa_output.usb.analog-stereo", "USB Sound Device Analog Stereo"),
        Output("hdmi", "HDMI Monitor"),
        Output("hdmi2", "HDMI Monitor 2"),
    };
    struct Row {
        const char *choice;
        const char *chosen; // null: an error that begins with `error`
        const char *error;
    };
    const Row rows[] = {
        {"", "alsa_output.pci.analog-stereo", nullptr},
        {"alsa_output.usb.analog-stereo", "alsa_output.usb.analog-stereo", nullptr},
        {"usb sound", "alsa_output.usb.analog-stereo", nullptr},
        {"hdmi monitor", "hdmi", nullptr}, // the equal description beats the one that contains it
        {"analog", nullptr, "More than one sound output fits 'analog'; name one of them. The outputs are:"},
        {"Monitor 3", nullptr, "There is no sound output 'Monitor 3'. The outputs are:"},
        {"alsa_output", nullptr, "There is no sound output 'alsa_output'."}, // a part of a name is no choice
    };
    for (const Row &row : rows) {
        std::string error;
        const auto chosen = ChooseOutput(outputs, row.choice, &error);
        if (row.chosen) {
            ASSERT_TRUE(chosen) << row.choice << ": " << error;
            EXPECT_EQ(chosen->name, row.chosen) << row.choice;
            continue;
        }
        EXPECT_FALSE(chosen) << row.choice;
        EXPECT_EQ(error.rfind(row.error, 0), 0u) << error;
        EXPECT_NE(error.find("\n  alsa_output.pci.analog-stereo (Built-in Audio Analog Stereo, default)\n"
                             "  alsa_output.usb.analog-stereo (USB Sound Device Analog Stereo)\n"),
                  std::string::npos)
            << error;
    }
    std::string error;
    EXPECT_FALSE(ChooseOutput({}, "usb", &error));
    EXPECT_EQ(error, "There is no sound output 'usb'. The sound server has no outputs.");
}

TEST(SoundOutputs, CheckRefusesMutedQuietAndUnpluggedOutputs)
{
    struct Row {
        bool muted;
        double db;
        OutputState state;
        bool unplugged;
        OutputProblem problem;
        const char *message;
    };
    const Row rows[] = {
        {false, 0.0, OutputState::Running, false, OutputProblem::None, ""},
        {true, 0.0, OutputState::Idle, false, OutputProblem::Muted,
         "The output 'Built-in Audio Analog Stereo' is muted"},
        {false, -30.0, OutputState::Idle, false, OutputProblem::TooQuiet,
         "The output 'Built-in Audio Analog Stereo' is turned down to 32 % (−30.0 dB), below −20.0 dB"},
        {false, -INFINITY, OutputState::Idle, false, OutputProblem::TooQuiet,
         "The output 'Built-in Audio Analog Stereo' is turned down to 0 % (−inf dB), below −20.0 dB"},
        {false, -20.004, OutputState::Idle, false, OutputProblem::None, ""}, // set to the limit itself
        {false, 0.0, OutputState::Suspended, true, OutputProblem::NothingPlugged,
         "The output 'Built-in Audio Analog Stereo' is suspended and nothing is plugged into it (Headphones)"},
        {false, 0.0, OutputState::Suspended, false, OutputProblem::None, ""},
    };
    for (const Row &row : rows) {
        SoundOutput output = Output("pci", "Built-in Audio Analog Stereo");
        output.muted = row.muted;
        output.volumeDb = row.db;
        output.volumePercent = std::isinf(row.db) ? 0 : int(std::lround(100 * std::cbrt(std::pow(10, row.db / 20))));
        output.state = row.state;
        output.activePort = "Headphones";
        output.unplugged = row.unplugged;
        const OutputVerdict verdict = CheckOutput(output);
        EXPECT_EQ(verdict.problem, row.problem) << row.message;
        EXPECT_EQ(verdict.message, row.message);
    }
}

// The file's envelope and the output's blocks as text, one character per 10 ms: 's' sound,
// '.' silence, and for the output ' ' where nothing was heard.
std::vector<float> Envelope(const std::string &shape)
{
    std::vector<float> envelope;
    for (char c : shape)
        envelope.push_back(c == 's' ? -12.0f : -80.0f);
    return envelope;
}

// The output's blocks, its silences (each run of '.'), and the moment the monitor was lost.
HeardTimeline Heard(Clock::time_point start, const std::string &shape, bool lost = false)
{
    HeardTimeline heard;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == ' ')
            continue;
        const Clock::time_point at = start + i * LevelBlock;
        heard.blocks.push_back({at, at + LevelBlock, shape[i] == 's' ? SoundLevel{-12, -15} : SoundLevel{}});
        if (shape[i] != '.')
            continue;
        if (i > 0 && shape[i - 1] == '.')
            heard.silences.back().end = at + LevelBlock;
        else
            heard.silences.push_back({at, at + LevelBlock});
    }
    if (lost && !heard.blocks.empty())
        heard.lostAt = heard.blocks.back().end;
    return heard;
}

TEST(SoundOutputs, SilenceAtTheOutputCountsOnlyWhileTheFileSounds)
{
    const std::string s10(10, 's'), q10(10, '.'), g10(10, ' '), g15(15, ' ');
    const std::string file = s10 + s10 + s10 + q10 + s10 + s10 + s10 + s10;
    struct Row {
        const char *what;
        std::string heard;
        int latencyMs;
        int untilBlocks;
        int longest, from, total;
        bool lost = false;
        // A silence of its own, to the millisecond: where it begins and how long it lasts.
        int holeFromMs = 0, holeMs = 0;
    };
    const Row rows[] = {
        {"heard as played", file, 0, 80, 0, 0, 0},
        {"the file's own pause", s10 + s10 + s10 + q10 + q10 + s10 + s10 + s10, 0, 80, 100, 400, 100},
        {"silent mid-way", s10 + q10 + q10 + q10 + s10 + s10 + s10 + s10, 0, 80, 200, 100, 200},
        {"nothing heard mid-way", s10 + s10 + g15 + "....." + g15 + s10 + s10 + "sssss", 0, 80, 150, 400, 250},
        {"a gap no longer than the placing may be off", s10 + s10 + g10 + s10 + s10 + s10 + s10 + s10, 0, 80, 0, 0, 0},
        {"late within the latency", "...." + file, 50, 80, 0, 0, 0},
        {"late past the latency", q10 + file, 50, 80, 50, 50, 100}, // at each onset
        {"after the recording stopped", s10 + s10, 0, 35, 100, 200, 100, true},
        {"not delivered yet", s10 + s10, 0, 35, 0, 0, 0},
        {"two stretches", s10 + q10 + s10 + q10 + s10 + ".........." + q10 + s10, 0, 80, 200, 500, 300},
        {"a hole of 20 ms between blocks", file, 60, 80, 20, 505, 20, false, 505, 20},
        {"a hole of 19 ms", file, 60, 80, 19, 603, 19, false, 603, 19},
        {"a hole beside the file's own pause", file, 60, 80, 0, 0, 0, false, 260, 30},
    };
    const Clock::time_point start = Clock::now();
    for (const Row &row : rows) {
        HeardTimeline heard = Heard(start, row.heard, row.lost);
        if (row.holeMs > 0) {
            const Clock::time_point at = start + std::chrono::milliseconds(row.holeFromMs);
            heard.silences.push_back({at, at + std::chrono::milliseconds(row.holeMs)});
        }
        const SilenceAtOutput silence =
            FindSilenceAtOutput(Envelope(file), heard, start, std::chrono::milliseconds(row.latencyMs),
                                start + row.untilBlocks * LevelBlock);
        EXPECT_EQ(silence.longest.count(), row.longest) << row.what;
        EXPECT_EQ(silence.longestFrom.count(), row.from) << row.what;
        EXPECT_EQ(silence.total.count(), row.total) << row.what;
    }
    // A passage at -50 dBFS on an output turned down by 15 dB is below the silence floor there.
    std::vector<float> quiet = Envelope(file);
    std::fill(quiet.begin() + 10, quiet.begin() + 20, -50.0f);
    const HeardTimeline heard = Heard(start, s10 + q10 + s10 + q10 + s10 + s10 + s10 + s10);
    EXPECT_EQ(FindSilenceAtOutput(quiet, heard, start, 0ms, start + 1s).total, 100ms);
    EXPECT_EQ(FindSilenceAtOutput(quiet, heard, start, 0ms, start + 1s, -15).total, 0ms);
}

// The monitor's chunks place its frames by the tightest bound of all the chunks from each on:
// a chunk that came late places nothing later than the chunks after it show.
TEST(SoundOutputs, FramesArePlacedByTheTightestBoundOfTheChunksAfterThem)
{
    const Clock::time_point t = Clock::now();
    // 10 ms chunks at 48 kHz; the second lay in the socket for 20 ms.
    const MonitorChunks chunks = {{480, t + 10ms}, {960, t + 40ms}, {1440, t + 30ms}, {1920, t + 45ms}};
    const std::vector<Clock::time_point> origins = FrameOrigins(chunks, 48000);
    ASSERT_EQ(origins.size(), chunks.size());
    for (std::size_t i = 0; i + 1 < origins.size(); ++i)
        EXPECT_EQ(std::chrono::round<std::chrono::microseconds>(origins[i] - t).count(), 0) << i;
    // The last chunk came 5 ms late, and nothing after it tells otherwise.
    EXPECT_EQ(std::chrono::round<std::chrono::microseconds>(origins.back() - t).count(), 5000);
}

class ScopedServer {
public:
    explicit ScopedServer(const std::string &server) { setenv("PULSE_SERVER", server.c_str(), 1); }
    ~ScopedServer() { unsetenv("PULSE_SERVER"); }
};

TEST(SoundOutputs, NoServerOrOneThatNeverAnswersGivesNoVerdictInTime)
{
    FixtureDir dir;
    // A socket that takes connections but never answers, as a server that hangs would.
    const std::string path = dir.Path("silent-server");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    for (const std::string &server : {"unix:" + dir.Path("no-such-socket"), "unix:" + path}) {
        ScopedServer scoped(server);
        const Clock::time_point before = Clock::now();
        const ChosenOutput chosen = CheckChosenOutput("", Verdict::DefaultMinimumVolumeDb, 300ms);
        EXPECT_EQ(chosen.readiness, OutputReadiness::NoServer) << server;
        EXPECT_EQ(chosen.message.rfind("The sound outputs cannot be checked: ", 0), 0u) << chosen.message;
        OutputMonitor monitor;
        std::string error;
        EXPECT_FALSE(monitor.Start("", &error, 300ms)) << server;
        EXPECT_FALSE(error.empty());
        EXPECT_LT(Clock::now() - before, 10s) << server;
    }
    ::close(listener);
}

// A private server with the default output, one chosen output, a muted one and one at -30 dB.
class PrivateOutputs {
public:
    bool Start(std::string *error)
    {
        if (!sink.Start(error) || !outputs_.Add(error))
            return false;
        server_ = std::make_unique<ScopedServer>(sink.Server());
        return true;
    }
    std::string Pactl(const std::string &arguments) { return outputs_.Pactl(arguments); }
    pid_t Play(const std::string &output, const std::string &file) { return outputs_.Play(output, file); }
    const std::string &ChosenModule() const { return outputs_.ChosenModule(); }

    SoundSink sink;

private:
    TestOutputs outputs_{sink};
    std::unique_ptr<ScopedServer> server_;
};

// Skips where the sound server is not installed.
#define START_PRIVATE_OUTPUTS(outputs, error)                                                                          \
    if (!SoundSink::Available())                                                                                       \
        GTEST_SKIP() << "pulseaudio and parec are not installed (scripts/setup installs them)";                        \
    PrivateOutputs outputs;                                                                                            \
    std::string error;                                                                                                 \
    ASSERT_TRUE(outputs.Start(&error)) << error

TEST(OutputsAtTheSink, ListedChosenAndCheckedBeforeRecording)
{
    START_PRIVATE_OUTPUTS(outputs, error);
    const SoundOutputList list = ListSoundOutputs();
    ASSERT_TRUE(list.serverReached) << list.error;
    std::map<std::string, SoundOutput> byName;
    for (const SoundOutput &output : list.outputs)
        byName[output.name] = output;
    ASSERT_EQ(byName.size(), 4u) << "rec, chosen, muted and quiet";
    EXPECT_TRUE(byName["rec"].isDefault);
    EXPECT_FALSE(byName["chosen"].isDefault);
    EXPECT_EQ(byName["chosen"].description, "Chosen Output");
    EXPECT_EQ(byName["chosen"].monitor, "chosen.monitor");
    EXPECT_TRUE(byName["muted"].muted);
    EXPECT_NEAR(byName["quiet"].volumeDb, -30.0, 0.1);
    EXPECT_EQ(byName["quiet"].volumePercent, 32); // the server's cubic scale
    EXPECT_EQ(FormatVolume(byName["chosen"]), "100 % (0.0 dB)");

    struct Row {
        const char *choice;
        OutputReadiness readiness;
        const char *output;
        const char *message;
    };
    const Row rows[] = {
        {"", OutputReadiness::Ready, "rec", ""},
        {"chosen output", OutputReadiness::Ready, "chosen", ""},
        {"muted", OutputReadiness::Refused, "muted", "The output 'Muted Output' is muted"},
        {"Quiet Output", OutputReadiness::Refused, "quiet",
         "The output 'Quiet Output' is turned down to 32 % (−30.0 dB)"},
        {"Output", OutputReadiness::UnknownChoice, nullptr, "More than one sound output fits 'Output'"},
        {"speakers", OutputReadiness::UnknownChoice, nullptr, "There is no sound output 'speakers'"},
    };
    for (const Row &row : rows) {
        const ChosenOutput chosen = CheckChosenOutput(row.choice);
        EXPECT_EQ(chosen.readiness, row.readiness) << row.choice << ": " << chosen.message;
        EXPECT_EQ(chosen.message.rfind(row.message, 0), 0u) << chosen.message;
        EXPECT_EQ(chosen.output ? chosen.output->name : "", row.output ? row.output : "") << row.choice;
    }
}

// What the chosen output's monitor hears of a tone that stops reaching the output mid-way, and
// how long the output then stays silent while the file still has sound.
TEST(OutputsAtTheSink, MonitorHearsTheToneAndTheSilenceWhenItNoLongerReachesTheOutput)
{
    START_PRIVATE_OUTPUTS(outputs, error);
    FixtureDir dir;
    const std::string tone = dir.Path("tone.wav");
    WriteToneWave(tone, 48000, 48000 * 30); // -12.3 dBFS, longer than the test
    SoundAnalysis file;
    ASSERT_EQ(AnalyseSound(tone, file), 0u);

    struct Row {
        const char *what;
        std::string action; // %i: the stream; %m: the output's module
        // What undoes it before the stream ends, as a session manager remembers a stream's state.
        std::string undo;
        bool lost;
    };
    const Row rows[] = {
        {"the stream moved to another output", "move-sink-input %i rec", "move-sink-input %i chosen", false},
        {"the stream muted", "set-sink-input-mute %i 1", "set-sink-input-mute %i 0", false},
        {"the output removed", "unload-module %m", "", true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        OutputMonitor monitor;
        ASSERT_TRUE(monitor.Start("chosen", &error)) << error;
        EXPECT_GT(monitor.Rate(), 0);
        pid_t player = outputs.Play("chosen", tone);
        ASSERT_GT(player, 0);
        ASSERT_TRUE(WaitFor([&] { return monitor.Live().peakDb > -20; }));
        std::this_thread::sleep_for(300ms);
        const std::string inputs = outputs.Pactl("list short sink-inputs");
        const auto run = [&](std::string command) {
            if (const std::size_t at = command.find("%i"); at != std::string::npos)
                command.replace(at, 2, inputs.substr(0, inputs.find('\t')));
            if (const std::size_t at = command.find("%m"); at != std::string::npos)
                command.replace(at, 2, outputs.ChosenModule());
            return command.empty() || !outputs.Pactl(command).empty();
        };
        ASSERT_TRUE(run(row.action)) << row.action;
        // A server still placing a new stream may pass over a move: asked again until it is silent.
        for (int i = 0; i < 10 && !WaitFor([&] { return monitor.Live().peakDb < Verdict::SilenceDb; }, 1000); ++i) {
            if (!row.lost)
                run(row.action);
        }
        if (row.lost) {
            EXPECT_TRUE(WaitFor([&] { return monitor.LostAt().has_value(); }));
        }
        std::this_thread::sleep_for(800ms);
        const Clock::time_point until = Clock::now() - 100ms;
        monitor.Stop();
        EXPECT_TRUE(run(row.undo));
        Terminate(player);

        const HeardTimeline heard = monitor.Timeline();
        const auto first = std::find_if(heard.blocks.begin(), heard.blocks.end(), [](const HeardBlock &block) {
            return block.level.peakDb >= Verdict::SilenceDb;
        });
        ASSERT_NE(first, heard.blocks.end());
        const SoundLevel level = monitor.Overall(first->start);
        EXPECT_NEAR(level.peakDb, -12.3, 0.5);
        EXPECT_LT(level.rmsDb, level.peakDb);
        const SilenceAtOutput silence = FindSilenceAtOutput(file.envelopeDb, heard, first->start, 50ms, until);
        // Sound for at least 300 ms, then silence (or nothing at all) for the rest of the 800 ms;
        // a busy machine may let the output run dry for a moment before.
        EXPECT_GE(silence.longestFrom, 250ms);
        EXPECT_GE(silence.longest, 400ms);
        EXPECT_LE(silence.total, silence.longest + 100ms);
        EXPECT_EQ(monitor.LostAt().has_value(), row.lost);
    }
}

} // namespace
