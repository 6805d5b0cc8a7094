#include "tests/common/TestOutputs.h"

#include "tests/common/ChildProcess.h"

#include <cstdio>
#include <unistd.h>

bool TestOutputs::Add(std::string *error)
{
    // A PulseAudio null sink that renders ahead plays a new stream late: these render in time,
    // as the server's own sink does.
    const std::string options = sink_.Kind() == SoundSink::ServerKind::PulseAudio ? " norewinds=1" : "";
    const char *load[][2] = {{"chosen", "Chosen Output"}, {"muted", "Muted Output"}, {"quiet", "Quiet Output"}};
    for (const auto &[name, description] : load) {
        const std::string module = Pactl(std::string("load-module module-null-sink sink_name=") + name + options
                                         + R"( "sink_properties=\"device.description=')" + description + R"('\"")");
        if (module.empty()) {
            *error = std::string("pactl could not add the output ") + name;
            return false;
        }
        modules_.push_back(module.substr(0, module.find_first_of("\r\n")));
    }
    Pactl("set-sink-mute muted 1");
    Pactl("set-sink-volume quiet 0.0316228"); // -30 dB; "-30dB" would be relative
    Pactl("set-default-sink rec");
    return true;
}

std::string TestOutputs::Pactl(const std::string &arguments) const
{
    const std::string command = "PULSE_SERVER='" + sink_.Server() + "' pactl " + arguments + " 2>/dev/null";
    FILE *pipe = ::popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    for (std::size_t got; pipe && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, got);
    if (!pipe || ::pclose(pipe) != 0)
        return {};
    return out.empty() ? "ok" : out;
}

pid_t TestOutputs::Play(const std::string &output, const std::string &file)
{
    const std::string name = "tamblo-test-" + std::to_string(::getpid()) + "-" + std::to_string(++players_);
    return Spawn({"paplay", "--client-name=" + name, "-d", output, file},
                 ChildEnvironment({{"PULSE_SERVER", sink_.Server()}}), -1, -1);
}

std::string TestOutputs::FirstStream() const
{
    const std::string inputs = Pactl("list short sink-inputs");
    return inputs == "ok" ? std::string() : inputs.substr(0, inputs.find('\t'));
}
