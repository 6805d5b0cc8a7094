#pragma once

// Levels as the output monitor and the file analysis measure them, so that the two compare.

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "recorder/Verdict.h"

// The length of a block of level measurements.
constexpr std::chrono::milliseconds LevelBlock{10};

struct SoundLevel {
    // Sample peak and RMS in dBFS; -inf where everything was zero or nothing was heard.
    double peakDb = -INFINITY;
    double rmsDb = -INFINITY;
};

// A level in dBFS from a linear amplitude (-inf for 0).
inline double AmplitudeToDb(double amplitude) { return amplitude > 0 ? 20.0 * std::log10(amplitude) : -INFINITY; }

// A level as people read it: one decimal and a true minus sign ("−3.1", "0.0"), "−inf" for
// nothing at all.
inline std::string DecibelText(double db)
{
    if (std::isinf(db))
        return db < 0 ? "\u2212inf" : "inf";
    // Rounded before the sign is chosen: -0.04 reads "0.0", not "−0.0".
    const double tenths = std::round(db * 10);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", std::fabs(tenths) / 10);
    return (tenths < 0 ? "\u2212" : "") + std::string(text);
}

// A length as the results tell it: seconds with three decimals ("3.000 s").
inline std::string SecondsText(std::int64_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld s", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    return text;
}
