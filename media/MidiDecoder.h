#pragma once

#include "media/Decoder.h"
#include "media/MciDefs.h"
#include "media/MidiFile.h"
#include "media/SoundFont.h"

#include <memory>

struct _fluid_hashtable_t;
struct _fluid_synth_t;
struct _fluid_player_t;

// MIDI songs (and the song inside an RMI file) rendered by FluidSynth with the shared General MIDI
// sound font. The length comes from the song's own tempo map; the song ends at its last event,
// however long the synthesizer would let the last notes ring.
class MidiDecoder : public Decoder {
public:
    static constexpr int rate = 44100;

    // The sound font: TAMBLO_SOUNDFONT when set, else the General MIDI font Debian ships.
    static const char *SoundFontPath();
    static MCIERROR Open(MidiFile song, std::unique_ptr<Decoder> &decoder);
    ~MidiDecoder() override;

    int SampleRate() const override { return rate; }
    int Channels() const override { return 2; }
    std::int64_t Frames() const override { return frames_; }
    std::int64_t Read(float *out, std::int64_t frames) override;
    bool Seek(std::int64_t frame) override;

private:
    MidiDecoder() = default;
    // Under the font's lock.
    bool StartPlayer();

    MidiFile song_;
    std::shared_ptr<SoundFont> font_; // everything below runs under its lock
    bool fontAdded_ = false;
    _fluid_hashtable_t *settings_ = nullptr;
    _fluid_synth_t *synth_ = nullptr;
    _fluid_player_t *player_ = nullptr;
    std::int64_t frames_ = 0;
    std::int64_t next_ = 0;
};
