#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

// The recording device as the simulator plays it: two channels, GSM1 and GSM2, each with a
// memory that fills while it records and holds 10 s. Commands and the passing of time produce
// the lines the simulator prints.
class DeviceModel {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr double MemorySeconds = 10.0;

    // Runs one command line (without its CR LF); returns the lines it produced. Unknown text
    // produces no line here: the caller reports it.
    std::vector<std::string> Command(const std::string &command, Clock::time_point now);
    bool Knows(const std::string &command) const;
    // Lets time pass: a channel whose memory fills up stops.
    std::vector<std::string> Advance(Clock::time_point now);
    // When Advance next has something to say, if ever.
    std::optional<Clock::time_point> NextEvent() const;
    // Seconds recorded in channel 0 or 1.
    double Filled(int channel, Clock::time_point now) const;
    // The channel recording, or -1.
    int Recording() const { return recording_; }

private:
    std::string Stop(Clock::time_point now);

    std::array<double, 2> filled_{0.0, 0.0};
    int recording_ = -1;
    Clock::time_point since_{};
};
