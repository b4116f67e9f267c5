#include "sim/HeadlessUpdate.h"

#include "link/Pacing.h"

namespace zelvor
{
namespace
{
    // The panel's power-on wait, bounded: the virtual unit either comes back or never does.
    bool powerOnWait (FirmwareManager& link, const std::function<bool()>& cancelled)
    {
        for (int attempt = 0; attempt < 5 && ! cancelled(); ++attempt)
            if (link.reopenUnitPorts())
                return true;
        return false;
    }
} // namespace

HeadlessResult runHeadlessUpdate (const HeadlessUpdate& update, VirtualUnit& unit)
{
    return runHeadlessUpdate (update, [&unit]
                              { unit.powerCycle(); });
}

HeadlessResult runHeadlessUpdate (const HeadlessUpdate& update, const std::function<void()>& powerCycle)
{
    using Outcome = HeadlessResult::Outcome;
    FirmwareManager link;
    HeadlessResult result;

    auto cancelled = [&update]
    { return update.shouldCancel != nullptr && update.shouldCancel(); };

    auto finish = [&] (Outcome outcome, const juce::String& reason = {})
    {
        result.outcome = cancelled() && outcome != Outcome::success ? Outcome::cancelled : outcome;
        result.reason = result.outcome == Outcome::cancelled ? juce::String ("cancelled") : reason;
        result.portsReleased = link.midiIn == nullptr && link.midiOut == nullptr;
        return result;
    };

    if (! FirmwareManager::isUnitPresent())
        return finish (Outcome::failure, "Zelvor not detected");
    if (link.midiIn == nullptr || link.midiOut == nullptr)
        return finish (Outcome::failure, "Zelvor is being used by another program");

    // Both images are checked before the first message, so a bad QEX file never costs a DSP
    // rewrite.
    if (update.qex)
    {
        if (update.qexFile == juce::File())
            link.loadBuiltInQexImage();
        else
            link.loadQexImageFile (update.qexFile);
        if (! link.qexImageValid.load())
            return finish (Outcome::failure, "the QEX image cannot be used: " + link.imageError);
    }

    if (update.dsp)
    {
        const bool loaded = update.dspFile == juce::File() ? link.loadBuiltInDspImage() : link.loadDspImageFile (update.dspFile);
        if (! loaded)
            return finish (Outcome::failure, "the DSP image cannot be used: " + link.imageError);
    }

    if (! powerOnWait (link, cancelled))
        return finish (Outcome::failure, "the unit's ports could not be opened");

    auto phase = [&] (FirmwareKind kind)
    {
        return runUpdatePhase (
            link, kind, [&update, kind] (double p)
            {
                if (update.progress != nullptr)
                    update.progress (kind, p); },
            update.shouldCancel);
    };

    if (update.dsp)
    {
        const auto dsp = phase (FirmwareKind::dsp);
        if (dsp == phaseCancelled)
            return finish (Outcome::cancelled);
        if (dsp != phaseSucceeded)
            return finish (Outcome::failure, "DSP update failed");

        if (update.qex)
        {
            // The user power-cycles the unit between the two firmwares.
            if (powerCycle != nullptr)
                powerCycle();
            Pacing::sleep (4000);
            if (cancelled())
                return finish (Outcome::cancelled);
            if (! powerOnWait (link, cancelled))
                return finish (Outcome::failure, "the unit did not come back after its power cycle");
            Pacing::sleep (500);
        }
    }

    if (update.qex)
    {
        const auto qex = phase (FirmwareKind::qex);
        if (qex == phaseCancelled)
            return finish (Outcome::cancelled);
        if (qex != phaseSucceeded)
            return finish (Outcome::failure, "QEX update failed");
    }

    return finish (Outcome::success);
}
} // namespace zelvor
