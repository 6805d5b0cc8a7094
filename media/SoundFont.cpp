#include "media/SoundFont.h"

#include <fluidsynth.h>

std::shared_ptr<SoundFont> SoundFont::Shared(const std::string &path)
{
    struct Kept {
        std::mutex mutex;
        std::string path;
        std::shared_ptr<SoundFont> font;
    };
    static Kept kept;
    std::lock_guard<std::mutex> guard(kept.mutex);
    if (kept.font && kept.path == path)
        return kept.font;
    std::shared_ptr<SoundFont> font(new SoundFont);
    if (!font->Load(path))
        return nullptr;
    kept.path = path;
    kept.font = font;
    return font;
}

bool SoundFont::Load(const std::string &path)
{
    // A synthesizer that lets the font go resets its channels and warns, once for each, that no
    // instrument is left: expected here, and the program writes no log.
    fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
    settings_ = new_fluid_settings();
    if (settings_ == nullptr)
        return false;
    // Every instrument's samples are read now and kept, so that no song waits for the disk while
    // it renders. They are read instrument by instrument: reading them all at once spreads the
    // work over a pool of OpenMP threads that then stays in the program. Nothing is locked in
    // memory, which an ordinary user may not do.
    fluid_settings_setint(settings_, "synth.dynamic-sample-loading", 1);
    fluid_settings_setint(settings_, "synth.lock-memory", 0);
    fluid_settings_setint(settings_, "synth.cpu-cores", 1);
    owner_ = new_fluid_synth(settings_);
    if (owner_ == nullptr)
        return false;
    const int id = fluid_synth_sfload(owner_, path.c_str(), 0);
    if (id == FLUID_FAILED)
        return false;
    font_ = fluid_synth_get_sfont_by_id(owner_, id);
    if (font_ == nullptr)
        return false;
    // An instrument that cannot be read now is read when a song first asks for it.
    fluid_sfont_iteration_start(font_);
    while (fluid_preset_t *preset = fluid_sfont_iteration_next(font_))
        fluid_synth_pin_preset(owner_, id, fluid_preset_get_banknum(preset), fluid_preset_get_num(preset));
    return true;
}

SoundFont::~SoundFont()
{
    if (owner_ != nullptr)
        delete_fluid_synth(owner_); // frees the font with it
    if (settings_ != nullptr)
        delete_fluid_settings(settings_);
}
