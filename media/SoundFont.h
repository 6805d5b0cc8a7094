#pragma once

#include <memory>
#include <mutex>
#include <string>

struct _fluid_hashtable_t;
struct _fluid_synth_t;
struct _fluid_sfont_t;

// A General MIDI sound font, read once in a run and shared by every MIDI decoder. FluidSynth
// does not guard a font that several synthesizers use, so a synthesizer that holds the font does
// everything under the font's lock.
class SoundFont {
public:
    // The font at path, read at the first call and then kept, freed when the program ends (or,
    // should another path be asked for, when the last decoder using it closes). Null when it
    // cannot be read; the next call tries again.
    static std::shared_ptr<SoundFont> Shared(const std::string &path);
    ~SoundFont();
    SoundFont(const SoundFont &) = delete;
    SoundFont &operator=(const SoundFont &) = delete;

    _fluid_sfont_t *Font() const { return font_; }
    std::mutex &Mutex() { return mutex_; }

private:
    SoundFont() = default;
    bool Load(const std::string &path);

    std::mutex mutex_;
    _fluid_hashtable_t *settings_ = nullptr;
    _fluid_synth_t *owner_ = nullptr; // holds the font for the others; never plays
    _fluid_sfont_t *font_ = nullptr;
};
