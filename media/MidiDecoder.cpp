#include "media/MidiDecoder.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

const char *MidiDecoder::SoundFontPath()
{
    const char *path = std::getenv("TAMBLO_SOUNDFONT");
    return path != nullptr && *path != '\0' ? path : "/usr/share/sounds/sf2/TimGM6mb.sf2";
}

MCIERROR MidiDecoder::Open(MidiFile song, std::unique_ptr<Decoder> &decoder)
{
    std::unique_ptr<MidiDecoder> midi(new MidiDecoder);
    midi->song_ = std::move(song);
    // Round to the nearest frame; the length in milliseconds is then taken from the frames, like
    // every other sound's.
    midi->frames_ = (midi->song_.LengthMicroseconds() * rate + 500000) / 1000000;

    midi->font_ = SoundFont::Shared(SoundFontPath());
    if (!midi->font_)
        return MCIERR_SOUNDFONT;
    midi->settings_ = new_fluid_settings();
    if (midi->settings_ == nullptr)
        return MCIERR_OUT_OF_MEMORY;
    // The player follows the rendered samples, not the wall clock, so the song's time is exactly
    // the frames we hand out.
    fluid_settings_setstr(midi->settings_, "player.timing-source", "sample");
    fluid_settings_setnum(midi->settings_, "synth.sample-rate", rate);
    fluid_settings_setint(midi->settings_, "synth.cpu-cores", 1);
    std::lock_guard<std::mutex> lock(midi->font_->Mutex());
    midi->synth_ = new_fluid_synth(midi->settings_);
    if (midi->synth_ == nullptr)
        return MCIERR_OUT_OF_MEMORY;
    if (fluid_synth_add_sfont(midi->synth_, midi->font_->Font()) == FLUID_FAILED)
        return MCIERR_SOUNDFONT;
    midi->fontAdded_ = true;
    if (!midi->StartPlayer())
        return MCIERR_DAMAGED_FILE;
    decoder = std::move(midi);
    return MMSYSERR_NOERROR;
}

MidiDecoder::~MidiDecoder()
{
    if (font_) {
        std::lock_guard<std::mutex> lock(font_->Mutex());
        if (player_ != nullptr) {
            fluid_player_stop(player_);
            delete_fluid_player(player_);
        }
        if (synth_ != nullptr) {
            // Deleting a synthesizer deletes the fonts it holds: the shared one is taken back first.
            if (fontAdded_)
                fluid_synth_remove_sfont(synth_, font_->Font());
            delete_fluid_synth(synth_);
        }
    }
    if (settings_ != nullptr)
        delete_fluid_settings(settings_);
}

// A fresh player at the song's start, with the synthesizer silenced and reset.
bool MidiDecoder::StartPlayer()
{
    if (player_ != nullptr) {
        fluid_player_stop(player_);
        delete_fluid_player(player_);
        player_ = nullptr;
    }
    fluid_synth_all_sounds_off(synth_, -1);
    fluid_synth_system_reset(synth_);
    player_ = new_fluid_player(synth_);
    if (player_ == nullptr)
        return false;
    const std::vector<std::uint8_t> &smf = song_.Smf();
    if (fluid_player_add_mem(player_, smf.data(), smf.size()) != FLUID_OK)
        return false;
    return fluid_player_play(player_) == FLUID_OK;
}

std::int64_t MidiDecoder::Read(float *out, std::int64_t frames)
{
    frames = std::min(frames, frames_ - next_);
    if (frames <= 0)
        return 0;
    std::lock_guard<std::mutex> lock(font_->Mutex());
    if (fluid_synth_write_float(synth_, int(frames), out, 0, 2, out, 1, 2) != FLUID_OK)
        return -1;
    next_ += frames;
    return frames;
}

bool MidiDecoder::Seek(std::int64_t frame)
{
    if (frame < 0 || frame > frames_)
        return false;
    next_ = frame;
    if (frame == frames_)
        return true; // at the end nothing more is rendered
    std::lock_guard<std::mutex> lock(font_->Mutex());
    if (!StartPlayer())
        return false;
    const std::int64_t tick = song_.TickAt(frame * 1000000 / rate);
    if (tick <= 0)
        return true;
    // The player loads the song on its first render and only then accepts a seek; the few frames
    // rendered for that are dropped, and the seek takes effect at the next render.
    float scratch[2 * 64];
    fluid_synth_write_float(synth_, 64, scratch, 0, 2, scratch, 1, 2);
    fluid_synth_all_sounds_off(synth_, -1);
    return fluid_player_seek(player_, int(std::min<std::int64_t>(tick, 0x7FFFFFFF))) == FLUID_OK;
}
