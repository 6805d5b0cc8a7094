#pragma once

#include "base/Exception.h"
#include "recorder/RecorderParts.h"

#include <chrono>
#include <deque>
#include <string>
#include <utility>
#include <vector>

// Fakes of the parts the recorder drives. Every call that changes something is written to one shared
// log, so a test sees the order of what a handler did across components.
struct CallLog {
    std::vector<std::string> calls;
    void add(std::string call) { calls.push_back(std::move(call)); }
    std::vector<std::string> sends() const
    {
        std::vector<std::string> out;
        for (const std::string &call : calls) {
            if (call.rfind("send ", 0) == 0)
                out.push_back(call.substr(5));
        }
        return out;
    }
};

struct FakeSerial : SerialPortOps {
    explicit FakeSerial(CallLog &log) : log(log) {}
    void SendText(const std::string &text) override
    {
        if (failWith)
            throw Exception(*failWith);
        log.add("send " + text);
        crashTextAtSend.push_back(crashText);
    }
    // Each wait takes the next scripted answer; none left means every command left.
    std::vector<LineTrouble> WaitSent(int) override
    {
        if (waits.empty())
            return {};
        std::vector<LineTrouble> next = waits.front();
        waits.pop_front();
        return next;
    }
    std::vector<QString> LostLines() override { return std::exchange(lost, {}); }
    bool AnyLineLeft() const override { return linesLeft; }
    void setCrashText(const std::string &text) override { crashText = text; }
    CallLog &log;
    const std::string *failWith = nullptr;
    std::deque<std::vector<LineTrouble>> waits;
    std::vector<QString> lost;
    bool linesLeft = true;
    std::string crashText;
    // What a crash would have written at each send.
    std::vector<std::string> crashTextAtSend;
};

// A player whose position is scripted: each query takes the next value, the last one repeats.
struct FakePlayer : MediaPlayerOps {
    explicit FakePlayer(CallLog &log) : log(log) {}
    std::string FileName() const override { return fileName; }
    void setFileName(const std::string &name) override
    {
        fileName = name;
        log.add("FileName " + name);
    }
    void OpenDevice() override
    {
        log.add("OpenDevice");
        open = false;
        if (openFails || fileName == refusedFile)
            throw Exception("The file is not a sound file this system knows");
        open = true;
    }
    void CloseDevice() override
    {
        log.add("CloseDevice");
        open = false;
    }
    void setStepFrames(std::int32_t frames) override { log.add("StepFrames " + std::to_string(frames)); }
    void StepForward() override { log.add("StepForward"); }
    bool NotifyRequest() const override { return notifyRequest; }
    void setNotifyRequest(bool request) override
    {
        notifyRequest = request;
        log.add(std::string("NotifyRequest ") + (request ? "true" : "false"));
    }
    void setDisplayArea(const QRect &area) override
    {
        log.add("DisplayArea " + std::to_string(area.left()) + "," + std::to_string(area.top()) + ","
                + std::to_string(area.width()) + "," + std::to_string(area.height()));
    }
    void setTimeFormatCode(int code) override { log.add("TimeFormat " + std::to_string(code)); }
    std::int32_t MediaLength() override
    {
        requireOpen();
        ++lengthQueries;
        if (faultFoundWithLength.kind != PlaybackFault::None)
            fault = faultFoundWithLength;
        return fileName == emptyFile ? 0 : length;
    }
    void SeekTo(std::int32_t position) override
    {
        requireOpen();
        log.add("SeekTo " + std::to_string(position));
    }
    void Cue() override
    {
        requireOpen();
        log.add("Cue");
        if (!cueFailure.empty())
            throw Exception(cueFailure);
    }
    void StartPlayback() override
    {
        requireOpen();
        log.add("StartPlayback");
        lastError = playFailure;
    }
    void StopPlayback() override
    {
        requireOpen();
        log.add("StopPlayback");
        if (stopFails)
            throw Exception("The sound output does not answer");
    }
    std::int32_t CurrentPosition() override
    {
        ++positionQueries;
        if (positions.empty())
            return 0;
        const std::int32_t value = positions.front();
        if (positions.size() > 1)
            positions.pop_front();
        return value;
    }
    std::string LastError() const override { return lastError; }
    PlaybackFault Fault() override { return fault; }
    void requireOpen() const
    {
        if (!open)
            throw Exception("No MCI device open");
    }

    CallLog &log;
    std::string fileName;
    bool notifyRequest = false;
    bool open = false;
    bool openFails = false;
    bool stopFails = false;
    std::string refusedFile; // a file that does not open
    std::string emptyFile;   // a file that opens with no sound
    std::string cueFailure;  // what a cue raises
    std::string playFailure; // what a play command leaves as the last error
    PlaybackFault fault;
    PlaybackFault faultFoundWithLength; // a fault that the sound thread finds while the tick runs
    std::string lastError;
    std::int32_t length = 0;
    std::deque<std::int32_t> positions;
    int positionQueries = 0;
    int lengthQueries = 0;
};

struct FakeTimer : TimerOps {
    explicit FakeTimer(CallLog &log) : log(log) {}
    void setEnabled(bool on) override
    {
        enabled = on;
        log.add(std::string("Timer ") + (on ? "on" : "off"));
    }
    bool Enabled() const override { return enabled; }
    CallLog &log;
    bool enabled = false;
};

struct FakeGauge : GaugeOps {
    FakeGauge(CallLog &log, std::string name) : log(log), name(std::move(name)) {}
    void setProgress(int value) override
    {
        progress = value;
        log.add(name + " " + std::to_string(value));
    }
    CallLog &log;
    std::string name;
    int progress = 0;
};

struct FakeDisplay : PositionDisplayOps {
    explicit FakeDisplay(CallLog &log) : log(log) {}
    void setIndicatorstring(const QString &value) override
    {
        text = value;
        log.add("LCD " + value.toStdString());
    }
    CallLog &log;
    QString text = QStringLiteral("000000");
};

struct FakeLabel : LabelOps {
    FakeLabel(CallLog &log, std::string name, QString caption)
        : log(log),
          name(std::move(name)),
          caption(std::move(caption))
    {}
    void setFontColor(TColor value) override
    {
        colour = value;
        log.add(name + " colour " + std::to_string(value));
    }
    void setCaption(const QString &value) override
    {
        caption = value;
        log.add(name + " caption " + value.toStdString());
    }
    CallLog &log;
    std::string name;
    QString caption;
    TColor colour = clGradientActiveCaption;
};

struct FakePanel : PanelOps {
    int Width() const override { return 17; }
    int Height() const override { return 17; }
};

struct FakePlatform : PlatformOps {
    explicit FakePlatform(CallLog &log) : log(log) {}
    unsigned waveOutGetNumDevs() override { return soundCards; }
    void Sleep(unsigned ms) override { log.add("Sleep " + std::to_string(ms)); }
    void ShowMessage(const QString &text) override { log.add("message " + text.toStdString()); }
    std::chrono::steady_clock::time_point Now() override { return now; }
    CallLog &log;
    unsigned soundCards = 1;
    // The clock stands still unless a test moves it.
    std::chrono::steady_clock::time_point now{};
};

// An output whose check, and what it hears, the test sets.
struct FakeOutput : SoundOutputOps {
    explicit FakeOutput(const CallLog &log) : log(log) {}
    void Choose() override
    {
        if (!unknown.empty())
            throw Exception(unknown);
    }
    void Measure(const std::string &path) override
    {
        measured = path;
        if (path == damagedFile)
            throw Exception(damage);
    }
    void Check() override
    {
        if (!refusal.empty())
            throw Exception(refusal);
    }
    void Listen() override { listening = true; }
    void AwaitCycle(std::chrono::microseconds commandTime) override
    {
        awaited = commandTime;
        awaitedAfter = log.calls.size();
    }
    void Playing() override { ++plays; }
    bool Hears() const override { return hears; }
    OutputHearing SoFar(std::int32_t) override { return sofar; }
    std::optional<std::chrono::steady_clock::time_point> LastHeard() const override { return lastHeard; }
    OutputChange Change() override { return change; }
    OutputHearing Finish(std::int32_t playedMs) override
    {
        listening = false;
        finishedAt = playedMs;
        return heard;
    }
    std::string unknown;                                            // what choosing raises
    std::string refusal;                                            // what the check raises
    OutputHearing sofar;                                            // what was heard so far
    std::optional<std::chrono::steady_clock::time_point> lastHeard; // when the monitor last delivered
    bool hears = false;                                             // the output's monitor is recorded
    std::string damagedFile;                                        // a file whose measuring raises
    std::string damage;                                             // what it raises
    std::string measured;
    bool listening = false;
    int plays = 0;
    std::int32_t finishedAt = -1;
    OutputHearing heard;
    OutputChange change;
    // The command time it last waited for a cycle with, and how many calls were logged then.
    std::chrono::microseconds awaited{-1};
    std::size_t awaitedAfter = 0;
    const CallLog &log;
};

// One set of fakes, wired the way the window wires its components.
struct FakeParts {
    CallLog log;
    FakeSerial serial{log};
    FakePlayer player{log};
    FakeTimer timer{log};
    FakeGauge gauge1{log, "Gauge1"};
    FakeGauge gauge2{log, "Gauge2"};
    FakeDisplay display{log};
    FakeLabel recGsm1{log, "RecGSM1", QStringLiteral("GSM1")};
    FakeLabel recGsm2{log, "RecGSM2", QStringLiteral("GSM2")};
    FakeLabel fname{log, "Fname", QStringLiteral("---------")};
    FakeLabel labelLength{log, "LabelLength", QStringLiteral("00.00 sec.")};
    FakePanel panel;
    FakePlatform platform{log};
    FakeOutput output{log};

    RecorderParts parts()
    {
        return RecorderParts{serial,  player, timer,       gauge1, gauge2,   display, recGsm1,
                             recGsm2, fname,  labelLength, panel,  platform, output};
    }
};
