#pragma once

// The recorder's sound output part as both faces connect it to the media system's output watch.
// Header only: the faces link the media system, the recorder itself does not.

#include "base/Exception.h"
#include "media/OutputWatch.h"
#include "recorder/RecorderParts.h"

#include <functional>

class OutputPart : public SoundOutputOps {
public:
    explicit OutputPart(OutputWatch &watch) : watch_(watch) {}

    // Record even onto an output that would not be heard, or what decodes of a damaged file;
    // what is wrong goes to OnForced.
    bool force = false;
    std::function<void(const std::string &)> OnForced;

    void Choose() override
    {
        std::string error;
        if (watch_.Choose(&error) != OutputWatch::Choice::Made)
            throw Exception(error);
    }
    void Measure(const std::string &path) override
    {
        watch_.Measure(path);
        refuse(watch_.Damage());
    }
    void Check() override { refuse(watch_.Refusal()); }
    void Listen() override { watch_.Listen(); }
    void AwaitCycle(std::chrono::microseconds commandTime) override { watch_.AwaitCycle(commandTime); }
    void Playing() override { watch_.Playing(); }
    bool Hears() const override { return watch_.Listening(); }
    OutputChange Change() override
    {
        const OutputChanges::Change change = watch_.Change();
        OutputChange told;
        switch (change.kind) {
        case OutputChanges::Change::None: return told;
        case OutputChanges::Change::Moved: told.kind = OutputChange::Moved; break;
        case OutputChanges::Change::Muted: told.kind = OutputChange::Muted; break;
        case OutputChanges::Change::TurnedDown: told.kind = OutputChange::TurnedDown; break;
        case OutputChanges::Change::Removed: told.kind = OutputChange::Removed; break;
        }
        told.at = change.at;
        told.output = QString::fromStdString(change.output);
        told.movedTo = QString::fromStdString(change.movedTo);
        told.volume = QString::fromStdString(change.volume);
        told.limit = QString::fromStdString(DecibelText(change.minimumDb) + " dB");
        return told;
    }
    OutputHearing Finish(std::int32_t playedMs) override { return told(watch_.Finish(playedMs)); }
    OutputHearing SoFar(std::int32_t playedMs) override { return told(watch_.SoFar(playedMs)); }
    std::optional<std::chrono::steady_clock::time_point> LastHeard() const override { return watch_.LastHeard(); }

private:
    static OutputHearing told(const OutputWatch::Hearing &heard)
    {
        OutputHearing hearing;
        hearing.listened = heard.listened;
        hearing.output = QString::fromStdString(heard.output);
        hearing.peakDb = heard.level.peakDb;
        hearing.rmsDb = heard.level.rmsDb;
        hearing.silentMs = std::int32_t(heard.silence.longest.count());
        hearing.silentFromMs = std::int32_t(heard.silence.longestFrom.count());
        return hearing;
    }

    void refuse(const std::string &refusal)
    {
        if (refusal.empty())
            return;
        if (!force)
            throw Exception(refusal);
        if (OnForced)
            OnForced(refusal);
    }

    OutputWatch &watch_;
};
