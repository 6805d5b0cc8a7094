#include "recorder/Recorder.h"
#include "tests/recorder/FakeParts.h"

#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tuple>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const std::string kRed = std::to_string(Recorder::RecordingColour);
const std::string kNormal = std::to_string(clGradientActiveCaption);

class RecorderVerbs : public ::testing::Test {
protected:
    void SetUp() override
    {
        ActiveGSM1 = false;
        ActiveGSM2 = false;
    }

    // Loads a file of the given length and forgets the calls.
    void load(std::int32_t lengthMs)
    {
        fakes.player.length = lengthMs;
        recorder.Load("/sounds/tone.wav");
        fakes.log.calls.clear();
    }

    FakeParts fakes;
    Recorder recorder{fakes.parts()};
};

TEST_F(RecorderVerbs, RecordSendsCommandThenPlaysFromStart)
{
    load(4200);
    recorder.Record(1);
    // The sound is made ready before the device is told to record, and starts once REC1 has left.
    EXPECT_THAT(fakes.log.calls, ElementsAre("SeekTo 0", "Cue", "send REC1\r\n", "Timer on", "StartPlayback",
                                             "RecGSM1 colour " + kRed, "RecGSM2 colour " + kNormal));
    // A crash is to stop the device from before REC1 leaves on.
    EXPECT_EQ(fakes.serial.crashText, "REC\r\n");
    EXPECT_EQ(fakes.serial.crashTextAtSend, std::vector<std::string>{"REC\r\n"});
    // Just before REC1, the output's cycle is awaited for its 6 bytes at 9600 baud and the start.
    EXPECT_EQ(fakes.output.awaited, std::chrono::microseconds(6250 + 500));
    EXPECT_EQ(fakes.output.awaitedAfter, 2u);
    EXPECT_TRUE(ActiveGSM1);
    EXPECT_FALSE(ActiveGSM2);

    fakes.log.calls.clear();
    recorder.Record(2);
    // Switching channels sends no stop first and restarts playback.
    EXPECT_THAT(fakes.log.calls, ElementsAre("SeekTo 0", "Cue", "send REC2\r\n", "Timer on", "StartPlayback",
                                             "RecGSM2 colour " + kRed, "RecGSM1 colour " + kNormal));
    EXPECT_FALSE(ActiveGSM1);
    EXPECT_TRUE(ActiveGSM2);
}

TEST_F(RecorderVerbs, RecordWithoutFileArmsTheDeviceOnly)
{
    recorder.Record(2);
    EXPECT_THAT(fakes.log.calls,
                ElementsAre("send REC2\r\n", "Timer on", "RecGSM2 colour " + kRed, "RecGSM1 colour " + kNormal));
    // Every tick returns at its first test: the player never reports a position.
    fakes.log.calls.clear();
    for (int i = 0; i < 5; ++i)
        recorder.Tick();
    EXPECT_THAT(fakes.log.calls, IsEmpty());
    EXPECT_TRUE(fakes.timer.enabled);
}

TEST_F(RecorderVerbs, StopAndEraseWithAndWithoutFile)
{
    recorder.Stop();
    EXPECT_THAT(fakes.log.calls,
                ElementsAre("Timer off", "send REC\r\n", "RecGSM1 colour " + kNormal, "RecGSM2 colour " + kNormal));

    load(4200);
    recorder.Stop();
    EXPECT_THAT(fakes.log.calls, ElementsAre("StopPlayback", "Timer off", "send REC\r\n", "RecGSM1 colour " + kNormal,
                                             "RecGSM2 colour " + kNormal));
}

TEST_F(RecorderVerbs, EraseRunsBothGaugesDownWithoutStoppingTheRecordFirst)
{
    load(4200);
    recorder.Record(1);
    fakes.log.calls.clear();
    recorder.Erase();

    std::vector<std::string> expected{"StopPlayback", "Timer off", "send ERASE\r\n"};
    for (const char *gauge : {"Gauge1", "Gauge2"}) {
        for (int value = 100; value >= 0; --value) {
            expected.push_back(std::string(gauge) + " " + std::to_string(value));
            expected.push_back("Sleep 30");
        }
    }
    EXPECT_EQ(fakes.log.calls, expected);
    EXPECT_EQ(fakes.log.sends(), std::vector<std::string>{"ERASE\r\n"});
    // The channel label stays red and the flags stay as they were.
    EXPECT_EQ(fakes.recGsm1.colour, Recorder::RecordingColour);
    EXPECT_TRUE(ActiveGSM1);
}

// A refused file leaves the file before it loaded, as the labels still show it, and recordable;
// with no file before, or one that no longer opens, nothing is loaded and the labels say so.
TEST_F(RecorderVerbs, ARefusedFileLeavesTheFileBeforeLoadedOrNone)
{
    load(4200);
    fakes.player.refusedFile = "/sounds/broken.wav";
    fakes.player.emptyFile = "/sounds/empty.wav";
    fakes.output.damagedFile = "/sounds/damaged.mp3";
    fakes.output.damage = "The sound file is damaged at 2481 ms: 20480 bytes there are not sound";
    const std::pair<const char *, std::string> refusals[] = {
        {"/sounds/broken.wav", "The file is not a sound file this system knows"},
        {"/sounds/empty.wav", "The sound file is empty: /sounds/empty.wav"},
        {"/sounds/damaged.mp3", fakes.output.damage},
    };
    for (const auto &[refused, message] : refusals) {
        SCOPED_TRACE(refused);
        try {
            recorder.Load(refused);
            ADD_FAILURE() << "not refused";
        } catch (const Exception &error) {
            EXPECT_EQ(error.Message(), message);
        }
        EXPECT_EQ(fakes.player.fileName, "/sounds/tone.wav");
        EXPECT_TRUE(fakes.player.open);
        EXPECT_TRUE(fakes.player.notifyRequest);
        EXPECT_EQ(fakes.fname.caption, QStringLiteral("/sounds/tone.wav"));
        EXPECT_EQ(fakes.labelLength.caption, QStringLiteral("4.200 sec."));
    }
    fakes.log.calls.clear();
    recorder.Record(2);
    EXPECT_THAT(fakes.log.sends(), ElementsAre("REC2\r\n"));
    recorder.Stop();

    // The file before cannot be opened again (it was removed meanwhile).
    fakes.player.openFails = true;
    EXPECT_THROW(recorder.Load("/sounds/other.wav"), Exception);
    EXPECT_FALSE(fakes.player.open);
    EXPECT_FALSE(fakes.player.notifyRequest);
    EXPECT_EQ(fakes.fname.caption, QString());
    EXPECT_EQ(fakes.labelLength.caption, QStringLiteral("0.000 sec."));
    // A later file loads as before.
    fakes.player.openFails = false;
    recorder.Load("/sounds/other.wav");
    EXPECT_TRUE(fakes.player.notifyRequest);
    EXPECT_EQ(fakes.fname.caption, QStringLiteral("/sounds/other.wav"));
}

TEST_F(RecorderVerbs, FailedSendEndsEachHandlerWhereItStands)
{
    load(4200);
    const std::string refused = "ie_Open - device already open";
    fakes.serial.failWith = &refused;

    EXPECT_THROW(recorder.Record(1), Exception);
    EXPECT_THAT(fakes.log.calls, ElementsAre("SeekTo 0", "Cue"));
    EXPECT_FALSE(ActiveGSM1);
    EXPECT_FALSE(fakes.timer.enabled);

    fakes.log.calls.clear();
    EXPECT_THROW(recorder.Erase(), Exception);
    EXPECT_THAT(fakes.log.calls, ElementsAre("StopPlayback", "Timer off")); // no run-down

    fakes.log.calls.clear();
    EXPECT_THROW(recorder.Stop(), Exception);
    EXPECT_THAT(fakes.log.calls, ElementsAre("StopPlayback", "Timer off"));

    fakes.log.calls.clear();
    fakes.player.positions = {10000};
    EXPECT_THROW(recorder.Tick(), Exception);
    EXPECT_EQ(fakes.log.calls.back(), "Timer off");
}

TEST_F(RecorderVerbs, StopAndEraseReachTheDeviceEvenWhenThePlayerFails)
{
    load(4200);
    recorder.Record(1);
    fakes.player.stopFails = true;
    fakes.log.calls.clear();

    EXPECT_THROW(recorder.Stop(), Exception);
    EXPECT_THAT(fakes.log.sends(), ElementsAre("REC\r\n"));
    EXPECT_FALSE(fakes.timer.enabled);
    EXPECT_EQ(fakes.recGsm1.colour, clGradientActiveCaption);

    fakes.log.calls.clear();
    try {
        recorder.Erase();
        FAIL() << "the player's failure must still be shown";
    } catch (const Exception &error) {
        EXPECT_EQ(error.Message(), "The sound output does not answer");
    }
    EXPECT_THAT(fakes.log.sends(), ElementsAre("ERASE\r\n"));
    EXPECT_EQ(fakes.log.calls.size(), 3u + 2 * 101 * 2); // the gauges still run down
}

TEST_F(RecorderVerbs, RecordWhosePlaybackCannotStartStopsTheDeviceAtOnce)
{
    load(4200);
    // Without a sound output the cue fails: nothing is sent.
    fakes.player.cueFailure = "No sound output device is available.";
    EXPECT_THROW(recorder.Record(1), Exception);
    EXPECT_THAT(fakes.log.calls, ElementsAre("SeekTo 0", "Cue"));
    fakes.player.cueFailure.clear();

    // A play that fails after the command went out stops the device at once.
    fakes.log.calls.clear();
    fakes.player.playFailure = "The sound output could not be opened";
    try {
        recorder.Record(1);
        FAIL() << "a play that did not start must be shown";
    } catch (const Exception &error) {
        EXPECT_EQ(error.Message(), fakes.player.playFailure);
    }
    EXPECT_THAT(fakes.log.calls,
                ElementsAre("SeekTo 0", "Cue", "send REC1\r\n", "Timer on", "StartPlayback", "Timer off",
                            "send REC\r\n", "RecGSM1 colour " + kNormal, "RecGSM2 colour " + kNormal));
    EXPECT_FALSE(ActiveGSM1);
    EXPECT_EQ(fakes.recGsm1.colour, clGradientActiveCaption);
}

TEST_F(RecorderVerbs, TickReturnsEarlyUntilThereIsAPositionAndAFile)
{
    recorder.Record(1);
    fakes.log.calls.clear();
    fakes.player.positions = {0};
    recorder.Tick();
    EXPECT_EQ(fakes.player.positionQueries, 1);

    // A position but no file loaded: the second test returns.
    fakes.player.positions = {500};
    recorder.Tick();
    EXPECT_EQ(fakes.player.positionQueries, 2);
    EXPECT_THAT(fakes.log.calls, IsEmpty());
    EXPECT_EQ(fakes.display.text, QStringLiteral("000000"));
}

TEST_F(RecorderVerbs, TickFollowsThePositionAndStopsAtTheFilesEnd)
{
    load(4200);
    recorder.Record(1);
    fakes.log.calls.clear();
    const int lengthQueriesBefore = fakes.player.lengthQueries;

    // Each query of one tick sees the sound move on a little.
    fakes.player.positions = {1149, 1150, 1151, 1152, 1153};
    recorder.Tick();
    EXPECT_THAT(fakes.log.calls, ElementsAre("Gauge1 12", "LCD 1151"));
    EXPECT_EQ(fakes.player.lengthQueries, lengthQueriesBefore + 1);

    fakes.log.calls.clear();
    fakes.player.positions = {4200};
    recorder.Tick();
    EXPECT_THAT(fakes.log.calls, ElementsAre("Gauge1 42", "LCD 4200", "StopPlayback", "Timer off", "send REC\r\n",
                                             "RecGSM1 colour " + kNormal, "RecGSM2 colour " + kNormal));
    EXPECT_EQ(fakes.gauge2.progress, 0);
}

TEST_F(RecorderVerbs, TickStopsAtTheLimitWithoutAskingForTheLength)
{
    load(25000);
    recorder.Record(2);
    fakes.log.calls.clear();
    const int lengthQueriesBefore = fakes.player.lengthQueries;

    fakes.player.positions = {9990, 9995, 9999, 10002, 10007};
    recorder.Tick();
    // The stop test's own query saw 10007: that tick ends the recording.
    EXPECT_THAT(fakes.log.calls, ElementsAre("Gauge2 100", "LCD 9999", "StopPlayback", "Timer off", "send REC\r\n",
                                             "RecGSM1 colour " + kNormal, "RecGSM2 colour " + kNormal));
    EXPECT_EQ(fakes.player.lengthQueries, lengthQueriesBefore);
}

TEST_F(RecorderVerbs, TicksAtPositionZeroChangeNothingWhileTheSoundStarts)
{
    load(4200);
    recorder.Record(1);
    fakes.log.calls.clear();
    fakes.player.positions = {0};
    for (int i = 0; i < 3; ++i)
        recorder.Tick();
    EXPECT_THAT(fakes.log.calls, IsEmpty());
    EXPECT_EQ(fakes.display.text, QStringLiteral("000000"));
    EXPECT_TRUE(fakes.timer.enabled);
}

TEST_F(RecorderVerbs, TheStopTestsAtTheirExactBoundaries)
{
    // {length, position seen by every query, whether the tick ends the recording, and why}
    constexpr auto kEnd = StopReason::FileEnd;
    constexpr auto kLimit = StopReason::Limit;
    const std::tuple<std::int32_t, std::int32_t, bool, StopReason> cases[] = {
        {25000, 9999, false, kEnd},   {25000, 10000, true, kLimit}, {4200, 4199, false, kEnd},
        {4200, 4200, true, kEnd},     {4200, 4201, true, kEnd},     {10000, 9999, false, kEnd},
        {10001, 10000, true, kLimit}, {1000, 1000, true, kEnd},
    };
    for (const auto &[length, position, stops, reason] : cases) {
        SCOPED_TRACE(std::to_string(length) + " " + std::to_string(position));
        FakeParts own;
        Recorder controller(own.parts());
        own.player.length = length;
        controller.Load("/sounds/tone.wav");
        controller.Record(1);
        own.log.calls.clear();
        own.player.positions = {position};
        controller.Tick();
        EXPECT_EQ(own.timer.enabled, !stops);
        EXPECT_EQ(own.log.sends(), stops ? std::vector<std::string>{"REC\r\n"} : std::vector<std::string>{});
        if (stops) {
            EXPECT_EQ(controller.LastEnd().reason, reason);
            EXPECT_EQ(controller.LastEnd().playedMs, position);
            EXPECT_TRUE(controller.LastEnd().problem.isEmpty());
        }
    }
}

// A recording that went wrong is stopped at once and reported as what it is, never as whole.
TEST_F(RecorderVerbs, FaultsStopTheRecordingAndSayWhatIsWrong)
{
    using namespace std::chrono_literals;
    struct Case {
        const char *what;
        std::function<void(FakeParts &)> fault;
        StopReason reason;
        std::vector<std::string> sends; // after REC1
        const char *problem;
    };
    // clang-format off
    const Case cases[] = {
        {"output lost", [](FakeParts &f) { f.player.fault = {PlaybackFault::OutputLost, 1000}; },
         StopReason::OutputLost, {"REC\r\n"},
         "The recording on GSM1 is incomplete: the sound output was lost at 1000 ms"},
        // Told at the file's millisecond when the server told of it, the sound having started 400 ms before.
        {"output muted", [](FakeParts &f) { f.output.change = {OutputChange::Muted, f.platform.now + 60ms, QStringLiteral("Rec"), {}, {}, {}}; },
         StopReason::OutputMuted, {"REC\r\n"}, "The recording on GSM1 failed: the output 'Rec' was muted at 460 ms"},
        {"output turned down", [](FakeParts &f) {
             f.output.change = {OutputChange::TurnedDown, f.platform.now, QStringLiteral("Rec"), {},
                                QStringLiteral("20 % (−41.9 dB)"), QStringLiteral("−20.0 dB")}; },
         StopReason::OutputTurnedDown, {"REC\r\n"},
         "The recording on GSM1 failed: the output 'Rec' was turned down to 20 % (−41.9 dB), below −20.0 dB, at 400 ms"},
        {"sound moved", [](FakeParts &f) {
             f.output.change = {OutputChange::Moved, f.platform.now, QStringLiteral("Rec"), QStringLiteral("Other"), {}, {}}; },
         StopReason::OutputMoved, {"REC\r\n"},
         "The recording on GSM1 failed: the sound was moved from the output 'Rec' to 'Other' at 400 ms"},
        // The server moves the sound of a removed output elsewhere, and the sound may be lost too.
        {"output removed", [](FakeParts &f) {
             f.output.change = {OutputChange::Removed, f.platform.now, QStringLiteral("Rec"), {}, {}, {}};
             f.player.fault = {PlaybackFault::OutputLost, 500}; },
         StopReason::OutputLost, {"REC\r\n"}, "The recording on GSM1 failed: the output 'Rec' was removed at 400 ms"},
        // The sound up to where the data ends has been played.
        {"damaged file", [](FakeParts &f) {
             f.player.fault = {PlaybackFault::FileDamaged, 1500}; f.player.length = 1671; f.player.positions = {1671}; },
         StopReason::FileDamaged, {"REC\r\n"},
         "The recording on GSM1 is incomplete: the sound file is damaged after 1671 ms"},
        {"damage found during the tick", [](FakeParts &f) {
             f.player.faultFoundWithLength = {PlaybackFault::FileDamaged, 0}; f.player.length = 1671; f.player.positions = {1671}; },
         StopReason::FileDamaged, {"REC\r\n"},
         "The recording on GSM1 is incomplete: the sound file is damaged after 1671 ms"},
        {"paused", [](FakeParts &f) { f.platform.now += 3500ms; }, StopReason::Paused, {"REC\r\n"},
         "The recording on GSM1 was interrupted: the device recorded 3900 ms while only 500 ms of sound were played "
         "(the program stood still for 3500 ms)"},
        {"line lost", [](FakeParts &f) { f.serial.lost = {QStringLiteral("COM1")}; f.serial.linesLeft = false; },
         StopReason::LineLost, {},
         "The recorder on COM1 was disconnected during the recording of GSM1 and may still be recording"},
        {"silent output", [](FakeParts &f) {
             f.output.heard = {true, QStringLiteral("Chosen Output"), -12, -15, 450, 1200}; f.player.positions = {10000}; },
         StopReason::SilentOutput, {"REC\r\n"},
         "The recording on GSM1 failed: the output 'Chosen Output' was silent for 450 ms, from 1200 ms into the file, "
         "where it has sound"},
        {"REC stalled", [](FakeParts &f) { f.platform.now += 400ms; f.serial.waits = {{{QStringLiteral("COM1")}}}; },
         StopReason::Limit, {"REC\r\n"},
         "REC was not delivered to COM1 (the line stopped taking data); the recorder may still be recording"},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        FakeParts own;
        Recorder controller(own.parts());
        own.player.length = 25000;
        controller.Load("/sounds/tone.wav");
        controller.Record(1);
        // The sound has started: 400 ms of it played.
        own.player.positions = {400};
        controller.Tick();
        own.log.calls.clear();
        own.player.positions = {500};
        c.fault(own);
        if (c.reason == StopReason::Limit)
            own.player.positions = {10000};
        try {
            controller.Tick();
            FAIL() << "the tick must raise the problem";
        } catch (const Exception &error) {
            EXPECT_EQ(error.Message(), c.problem);
        }
        EXPECT_EQ(own.log.sends(), c.sends);
        EXPECT_FALSE(own.timer.enabled);
        EXPECT_FALSE(controller.Recording());
        EXPECT_EQ(own.recGsm1.colour, clGradientActiveCaption);
        EXPECT_EQ(controller.LastEnd().reason, c.reason);
    }
}

// A gap in a recording is told by whoever made it, as this program's own clock shows: a sound
// server that stopped playing while the ticks came on time stops the recording at once; this
// program standing still does too where the output is not heard, and where it is, what the
// output played decides (a hole fails the recording, a REC that only came late is a note).
TEST_F(RecorderVerbs, AGapIsToldByWhoMadeIt)
{
    using namespace std::chrono_literals;
    struct Row {
        const char *what;
        bool heard;         // the output's monitor is recorded
        int serverStallMs;  // the position stands while the ticks come every 50 ms; negative: the monitor
                            // delivers nothing from 1000 ms on while the position runs
        int programStallMs; // one tick comes this late, the sound having played on as far as
        int playedDuringMs; // the output's buffer held
        int holeMs;         // what the monitor heard missing; negative: heard at 1000 ms
        StopReason reason;
        const char *problem; // empty: whole
        const char *note;
    };
    const Row rows[] = {
        {"the server stalls", false, 400, 0, 0, 0, StopReason::ServerStalled,
         "The recording on GSM1 failed: the sound server stopped playing at 1000 ms; the device recorded 1150 ms "
         "while only 1000 ms of sound were played",
         ""},
        {"the server stalls, heard", true, 400, 0, 0, 0, StopReason::ServerStalled,
         "The recording on GSM1 failed: the sound server stopped playing at 1000 ms; the device recorded 1150 ms "
         "while only 1000 ms of sound were played",
         ""},
        {"the program stands still", false, 0, 1500, 240, 0, StopReason::Paused,
         "The recording on GSM1 was interrupted: the device recorded 2500 ms while only 1240 ms of sound were "
         "played (the program stood still for 1500 ms)",
         ""},
        {"the program stands still, heard: a hole", true, 0, 1500, 240, 1260, StopReason::SilentOutput,
         "The recording on GSM1 failed: the output 'Out' was silent for 1260 ms, from 1240 ms into the file, where "
         "it has sound (the program stood still for 1500 ms)",
         ""},
        {"the program stands still at the end, heard: REC late", true, 0, 400, 200, 0, StopReason::FileEnd, "",
         "REC left 200 ms after the sound ended (the program stood still for 400 ms): the recording on GSM1 ends "
         "with 200 ms of silence"},
        {"the same unheard", false, 0, 400, 200, 0, StopReason::Paused,
         "The recording on GSM1 was interrupted: the device recorded 1400 ms while only 1200 ms of sound were "
         "played (the program stood still for 400 ms)",
         ""},
        // Heard while it happens: a hole, or a monitor that falls quiet while the position runs on.
        {"a hole heard at once", true, 0, 0, 0, -30, StopReason::SilentOutput,
         "The recording on GSM1 failed: the output 'Out' was silent for 30 ms, from 900 ms into the file, where it "
         "has sound",
         ""},
        {"a monitor quiet for 300 ms", true, -300, 0, 0, 0, StopReason::ServerStalled,
         "The recording on GSM1 failed: the sound server stopped playing at 1300 ms; nothing was heard from the "
         "output for 300 ms",
         ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        FakeParts own;
        Recorder controller(own.parts());
        own.player.length = row.programStallMs == 400 ? 1200 : 4200;
        own.output.hears = row.heard;
        own.output.heard = {row.heard, QStringLiteral("Out"), -3, -6, std::max(row.holeMs, 0), 1240};
        controller.Load("/sounds/tone.wav");
        controller.Record(1);
        QString problem;
        std::int32_t position = 0;
        const auto tick = [&](std::chrono::milliseconds later, std::int32_t played) {
            own.platform.now += later;
            position += played;
            own.player.positions = {position};
            if (row.heard && (row.serverStallMs >= 0 || position <= 1000))
                own.output.lastHeard = own.platform.now;
            if (row.holeMs < 0 && position >= 1000)
                own.output.sofar = {true, QStringLiteral("Out"), -3, -6, -row.holeMs, 900};
            try {
                controller.Tick();
            } catch (const Exception &error) {
                problem = QString::fromStdString(error.Message());
            }
        };
        for (int i = 0; i < 20; ++i)
            tick(50ms, 50);
        for (int waited = 0; waited < row.serverStallMs && controller.Recording(); waited += 50)
            tick(50ms, 0);
        if (row.programStallMs > 0)
            tick(std::chrono::milliseconds(row.programStallMs), row.playedDuringMs);
        while (controller.Recording())
            tick(50ms, 50);
        EXPECT_EQ(controller.LastEnd().reason, row.reason);
        EXPECT_EQ(problem.toStdString(), row.problem);
        EXPECT_EQ(controller.LastEnd().note.toStdString(), row.note);
    }
}

// The output is found before the file is opened on it, checked before anything is sent, and
// listened to from before REC1 goes out until the recording ends.
TEST_F(RecorderVerbs, TheOutputIsFoundCheckedAndHeardAroundTheRecording)
{
    fakes.output.unknown = "There is no sound output 'usb'.";
    EXPECT_THROW(recorder.Load("/sounds/tone.wav"), Exception);
    EXPECT_THAT(fakes.log.calls, IsEmpty());
    fakes.output.unknown.clear();
    load(4200);
    EXPECT_EQ(fakes.output.measured, "/sounds/tone.wav");

    fakes.output.refusal = "The output 'Built-in Audio Analog Stereo' is muted";
    try {
        recorder.Record(1);
        FAIL() << "a muted output must be refused";
    } catch (const Exception &error) {
        EXPECT_EQ(error.Message(), fakes.output.refusal);
    }
    EXPECT_THAT(fakes.log.calls, ElementsAre("SeekTo 0"));
    EXPECT_FALSE(fakes.output.listening);
    fakes.output.refusal.clear();

    recorder.Record(1);
    EXPECT_TRUE(fakes.output.listening);
    EXPECT_EQ(fakes.output.plays, 1);
    // A silence of 19 ms at the output is no hole: the recording is whole.
    fakes.output.heard = {true, QStringLiteral("USB"), -3.1, -6, 19, 1000};
    fakes.player.positions = {4200};
    recorder.Tick();
    EXPECT_FALSE(fakes.output.listening);
    EXPECT_EQ(fakes.output.finishedAt, 4200);
    EXPECT_EQ(recorder.LastEnd().reason, StopReason::FileEnd);
    EXPECT_EQ(recorder.LastEnd().heard.peakDb, -3.1);
    EXPECT_EQ(recorder.LastEnd().file, "/sounds/tone.wav");
}

// An output whose sound comes out late (a sink that renders far ahead, Bluetooth) starts late and
// then keeps time: that is no pause.
TEST_F(RecorderVerbs, SoundThatStartsLateIsNoPause)
{
    using namespace std::chrono_literals;
    load(4200);
    recorder.Record(1);
    fakes.platform.now += 1900ms;
    fakes.player.positions = {10};
    recorder.Tick();
    fakes.platform.now += 4190ms;
    fakes.player.positions = {4200};
    recorder.Tick();
    EXPECT_EQ(recorder.LastEnd().reason, StopReason::FileEnd);
    EXPECT_TRUE(recorder.LastEnd().problem.isEmpty()) << recorder.LastEnd().problem.toStdString();
}

// With several recorders, one that is unplugged is told and the others record on.
TEST_F(RecorderVerbs, ALineLostBesideOthersIsToldAndTheRecordingGoesOn)
{
    load(4200);
    QStringList problems;
    recorder.OnProblem = [&](const QString &problem) { problems << problem; };
    recorder.Record(2);
    fakes.serial.lost = {QStringLiteral("COM3")};
    fakes.player.positions = {1000};
    recorder.Tick();
    EXPECT_EQ(problems,
              QStringList{QStringLiteral(
                  "The recorder on COM3 was disconnected during the recording of GSM2 and may still be recording")});
    EXPECT_TRUE(recorder.Recording());
    EXPECT_TRUE(fakes.timer.enabled);
}

// A red label means the device may be recording: whatever ends the program then sends REC.
TEST_F(RecorderVerbs, NoLabelStaysRedOnceRecGoesOutAndARedOneIsStoppedOnTheWayOut)
{
    load(4200);
    recorder.Record(1);
    fakes.player.playFailure = "The sound output could not be opened";
    EXPECT_THROW(recorder.Record(2), Exception);
    EXPECT_EQ(fakes.recGsm1.colour, clGradientActiveCaption);
    EXPECT_EQ(fakes.recGsm2.colour, clGradientActiveCaption);

    fakes.player.playFailure.clear();
    recorder.Record(1);
    recorder.Erase();
    fakes.log.calls.clear();
    recorder.Leave();
    EXPECT_THAT(fakes.log.sends(), ElementsAre("REC\r\n"));
}

TEST(LengthText, SecondsDotThreeDigitsOfMilliseconds)
{
    const std::pair<std::int32_t, const char *> cases[] = {
        {7350, "7.350 sec."},   {12005, "12.005 sec."}, {5030, "5.030 sec."}, {900, "0.900 sec."},
        {60000, "60.000 sec."}, {0, "0.000 sec."},      {999, "0.999 sec."},  {1001, "1.001 sec."},
    };
    for (const auto &[length, text] : cases)
        EXPECT_EQ(Recorder::LengthText(length), QString::fromLatin1(text)) << length;
}

TEST(GaugeValue, RoundsHalfToEven)
{
    const std::pair<std::int32_t, int> cases[] = {
        {50, 0}, {150, 2}, {250, 2}, {1050, 10}, {1150, 12}, {9950, 100}, {10051, 101}, {12000, 120},
    };
    for (const auto &[position, value] : cases)
        EXPECT_EQ(Recorder::GaugeValue(position), value) << position;
}

} // namespace
