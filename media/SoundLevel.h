#pragma once

// Levels as the output monitor and the file analysis measure them, so that the two compare.

#include <chrono>
#include <cmath>

// Below this a sound counts as silence, at the output and in a file alike.
constexpr double SilenceDb = -60.0;
// The length of a block of level measurements.
constexpr std::chrono::milliseconds LevelBlock{10};

struct SoundLevel {
    // Sample peak and RMS in dBFS; -inf where everything was zero or nothing was heard.
    double peakDb = -INFINITY;
    double rmsDb = -INFINITY;
};

// A level in dBFS from a linear amplitude (-inf for 0).
inline double AmplitudeToDb(double amplitude) { return amplitude > 0 ? 20.0 * std::log10(amplitude) : -INFINITY; }
