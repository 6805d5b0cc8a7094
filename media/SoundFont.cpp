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
    // The samples are read whole now, so that no song ever waits for the disk while it renders,
    // and they are not pinned to memory, which an ordinary user may not do.
    fluid_settings_setint(settings_, "synth.dynamic-sample-loading", 0);
    fluid_settings_setint(settings_, "synth.lock-memory", 0);
    fluid_settings_setint(settings_, "synth.cpu-cores", 1);
    owner_ = new_fluid_synth(settings_);
    if (owner_ == nullptr)
        return false;
    const int id = fluid_synth_sfload(owner_, path.c_str(), 0);
    if (id == FLUID_FAILED)
        return false;
    font_ = fluid_synth_get_sfont_by_id(owner_, id);
    return font_ != nullptr;
}

SoundFont::~SoundFont()
{
    if (owner_ != nullptr)
        delete_fluid_synth(owner_); // frees the font with it
    if (settings_ != nullptr)
        delete_fluid_settings(settings_);
}
