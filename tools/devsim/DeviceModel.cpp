#include "tools/devsim/DeviceModel.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string ChannelName(int channel) { return channel == 0 ? "GSM1" : "GSM2"; }

double Seconds(DeviceModel::Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

} // namespace

bool DeviceModel::Knows(const std::string &command) const
{
    return command == "REC1" || command == "REC2" || command == "REC" || command == "ERASE";
}

double DeviceModel::Filled(int channel, Clock::time_point now) const
{
    double filled = filled_[static_cast<std::size_t>(channel)];
    if (channel == recording_)
        filled += Seconds(now - since_);
    return std::min(filled, MemorySeconds);
}

std::string DeviceModel::Stop(Clock::time_point now)
{
    const int channel = recording_;
    filled_[static_cast<std::size_t>(channel)] = Filled(channel, now);
    recording_ = -1;
    char text[64];
    std::snprintf(text, sizeof text, "%s stopped at %.3f s", ChannelName(channel).c_str(),
                  filled_[static_cast<std::size_t>(channel)]);
    return text;
}

std::vector<std::string> DeviceModel::Command(const std::string &command, Clock::time_point now)
{
    std::vector<std::string> lines = Advance(now);
    if (command == "REC1" || command == "REC2") {
        const int channel = command == "REC1" ? 0 : 1;
        if (recording_ == channel) {
            lines.push_back(ChannelName(channel) + " already recording");
            return lines;
        }
        if (recording_ >= 0)
            lines.push_back(Stop(now));
        if (filled_[static_cast<std::size_t>(channel)] >= MemorySeconds) {
            lines.push_back(ChannelName(channel) + " memory full");
            return lines;
        }
        recording_ = channel;
        since_ = now;
        lines.push_back(ChannelName(channel) + " recording");
    } else if (command == "REC") {
        lines.push_back(recording_ >= 0 ? Stop(now) : "nothing recording");
    } else if (command == "ERASE") {
        if (recording_ >= 0)
            lines.push_back(Stop(now));
        filled_ = {0.0, 0.0};
        lines.push_back("memories erased");
    }
    return lines;
}

std::vector<std::string> DeviceModel::Advance(Clock::time_point now)
{
    std::vector<std::string> lines;
    if (recording_ >= 0 && Filled(recording_, now) >= MemorySeconds) {
        const int channel = recording_;
        filled_[static_cast<std::size_t>(channel)] = MemorySeconds;
        recording_ = -1;
        lines.push_back(ChannelName(channel) + " memory full");
    }
    return lines;
}

std::optional<DeviceModel::Clock::time_point> DeviceModel::NextEvent() const
{
    if (recording_ < 0)
        return std::nullopt;
    const double left = MemorySeconds - filled_[static_cast<std::size_t>(recording_)];
    return since_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(left));
}
