#pragma once

#include <cstdlib>
#include <string>
#include <string_view>

// The recorder's four commands. Each goes out as its word and CR LF, written whole; the device
// never answers.
enum class DeviceCommand { Record1, Record2, Stop, Erase };

// "REC1", "REC2", "REC", "ERASE": the command's word, as the device and the reports name it.
constexpr std::string_view CommandWord(DeviceCommand command)
{
    switch (command) {
    case DeviceCommand::Record1: return "REC1";
    case DeviceCommand::Record2: return "REC2";
    case DeviceCommand::Stop: return "REC";
    case DeviceCommand::Erase: return "ERASE";
    }
    // An unnamed command must not go out as another one.
    std::abort();
}

// The bytes on the wire.
inline std::string CommandText(DeviceCommand command) { return std::string(CommandWord(command)) + "\r\n"; }

// The recorder's line: 9600 baud, 8 data bits, no parity, 1 stop bit, ten bits a byte.
constexpr int LineBaud = 9600;

// The command that starts a recording on channel 1 (GSM1) or 2 (GSM2).
constexpr DeviceCommand RecordCommand(int channel)
{
    if (channel != 1 && channel != 2)
        std::abort();
    return channel == 1 ? DeviceCommand::Record1 : DeviceCommand::Record2;
}
