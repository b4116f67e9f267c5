#include "sim/HeadlessUpdate.h"

#include "link/Pacing.h"
#include "link/Protocol.h"
#include "update/FailureReason.h"
#include "update/Texts.h"

namespace zelvor
{
namespace
{
    constexpr int powerOnTries = 5; // the virtual unit is back well within them, or never

    // The panel's power-on wait, bounded: the virtual unit either comes back or never does.
    // Several units end it at once, as nothing tells which one to write.
    bool powerOnWait (FirmwareManager& link, const std::function<bool()>& cancelled)
    {
        for (int attempt = 0; attempt < powerOnTries && ! cancelled(); ++attempt)
        {
            if (link.reopenUnitPorts())
                return true;
            if (link.lastSearch.load() == UnitSearch::several)
                return false;
        }
        return false;
    }

    constexpr const char* severalUnitsReason = "more than one Zelvor is connected";
    constexpr const char* anotherUnitReason = Texts::becauseAnotherUnit;
} // namespace

HeadlessResult runHeadlessUpdate (const HeadlessUpdate& update, VirtualUnit& unit)
{
    return runHeadlessUpdate (update, [&unit] { unit.powerCycle(); });
}

HeadlessResult runHeadlessUpdate (const HeadlessUpdate& update, const std::function<void()>& powerCycle)
{
    FirmwareManager link;
    return runHeadlessUpdate (update, powerCycle, link, false);
}

HeadlessResult runHeadlessUpdate (const HeadlessUpdate& update,
                                  const std::function<void()>& powerCycle,
                                  FirmwareManager& link,
                                  bool ranBefore)
{
    using Outcome = HeadlessResult::Outcome;
    HeadlessResult result;
    auto cancelled = [&update] { return update.shouldCancel != nullptr && update.shouldCancel(); };

    // The ports of a run before were closed as it ended, and its unit may still be on its way
    // back from the power cycle: it is asked for until it is back, as the panel's power-on box
    // asks.
    if (ranBefore)
    {
        for (int tries = 0; tries < powerOnTries && ! FirmwareManager::isUnitPresent() && ! cancelled(); ++tries)
            Pacing::sleep (Protocol::betweenPowerOnBoxesMs);
        link.reopenUnitPorts();
    }

    auto finish = [&] (Outcome outcome, const juce::String& reason = {})
    {
        result.outcome = cancelled() && outcome != Outcome::success ? Outcome::cancelled : outcome;
        result.reason = result.outcome == Outcome::cancelled ? juce::String ("cancelled") : reason;
        result.portsReleased = link.midiIn == nullptr && link.midiOut == nullptr;
        return result;
    };

    if (! FirmwareManager::isUnitPresent())
        return finish (Outcome::failure, "Zelvor not detected");
    if (link.lastSearch.load() == UnitSearch::several)
        return finish (Outcome::failure, severalUnitsReason);
    if (link.midiIn == nullptr || link.midiOut == nullptr)
        return finish (Outcome::failure, "Zelvor is being used by another program");

    if (const auto refused = selectImagesToWrite (link, {update.qex, update.dsp, update.qexFile, update.dspFile}))
        return finish (Outcome::failure,
                       juce::String (refused->kind == FirmwareKind::qex ? "the QEX" : "the DSP") +
                           " image cannot be used: " + refused->reason);

    if (! powerOnWait (link, cancelled))
        return finish (Outcome::failure,
                       link.lastSearch.load() == UnitSearch::several ? severalUnitsReason
                                                                     : "the unit's ports could not be opened");

    auto phase = [&] (FirmwareKind kind)
    {
        return runUpdatePhase (
            link,
            kind,
            [&update, kind] (double p)
            {
                if (update.progress != nullptr)
                    update.progress (kind, p);
            },
            update.shouldCancel);
    };

    auto failedPhase = [&link] (FirmwareKind kind)
    {
        const juce::String failed = kind == FirmwareKind::dsp ? "DSP update failed" : "QEX update failed";
        const auto why =
            link.anotherUnitSeen.load() ? juce::String (anotherUnitReason) : failurePhrase (link.lastFailure());
        return why.isEmpty() ? failed : failed + ": " + why;
    };

    if (update.dsp && update.qex)
    {
        // The panel's sequence, with the user's power cycle between the two phases.
        FullUpdateSteps steps;
        steps.runPhase = [&phase] (FirmwareKind kind, int) { return phase (kind); };
        steps.askForPowerCycle = [&] (FirmwareKind)
        {
            if (powerCycle != nullptr)
                powerCycle();
            return true;
        };
        steps.waitForUnit = [&] { return ! cancelled() && powerOnWait (link, cancelled); };

        const auto outcome = runFullUpdateSequence (link, steps);
        if (outcome.stoppedBetween && ! cancelled())
            return finish (Outcome::failure,
                           link.lastSearch.load() == UnitSearch::several
                               ? anotherUnitReason
                               : "the unit did not come back after its power cycle");
        if (outcome.wrongModeAfterCycle)
            return finish (Outcome::failure,
                           outcome.lastKind == FirmwareKind::qex
                               ? "the unit still starts its loader after its power cycle"
                               : "the unit that came back after the power cycle is in its loader, not the one written");
        if (outcome.result == phaseCancelled || cancelled())
            return finish (Outcome::cancelled);
        if (outcome.result != phaseSucceeded)
            return finish (Outcome::failure, failedPhase (outcome.lastKind));
        return finish (Outcome::success);
    }

    const auto kind = update.dsp ? FirmwareKind::dsp : FirmwareKind::qex;
    if (kind == FirmwareKind::dsp && dspAloneMeetsALoader (link))
        return finish (Outcome::failure, "Zelvor is in its loader: update its QEX firmware first");

    const auto phaseResult = phase (kind);
    if (phaseResult == phaseCancelled)
        return finish (Outcome::cancelled);
    if (phaseResult != phaseSucceeded)
        return finish (Outcome::failure, failedPhase (kind));

    return finish (Outcome::success);
}
} // namespace zelvor
