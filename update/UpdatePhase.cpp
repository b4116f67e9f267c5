#include "update/UpdatePhase.h"

#include "link/Pacing.h"
#include "link/Protocol.h"

namespace zelvor
{
int runUpdatePhase (FirmwareManager& link,
                    FirmwareKind kind,
                    const std::function<void (double)>& progress,
                    const std::function<bool()>& shouldCancel)
{
    const bool isQex = kind == FirmwareKind::qex;
    auto poll = [&link, isQex] { return isQex ? link.pollQexResult() : link.pollDspResult(); };

    auto cancelNow = [&shouldCancel] { return shouldCancel != nullptr && shouldCancel(); };

    Pacing::sleep (Protocol::beforePhaseMs);
    if (cancelNow())
        return phaseCancelled;

    // A cancel of the calling thread also reaches the start operation (the QEX handshake
    // can take a minute), which then gives up.
    const bool started = isQex ? link.startQexUpdate() : link.startDspUpdate();

    bool cancelled = ! started && cancelNow();
    int result = poll();
    while (result == 0)
    {
        // A send that never completes fails the run; the worker stuck in it keeps the ports
        // until it ends, and the wait for it is bounded so that the window comes back.
        const bool stalled = link.sendStalled();
        if (cancelNow() || stalled)
        {
            if (stalled)
                link.noteFailure (RunFailure::Cause::sendStalled);
            link.signalThreadShouldExit();
            if (link.waitForWorkerToEnd())
                poll();
            cancelled = ! stalled;
            break;
        }

        if (progress != nullptr)
            progress (link.overallProgress.load());
        Pacing::sleep (Protocol::phasePollMs);
        result = poll();
    }

    // After QEX a wait that a cancel cuts short; after DSP a plain sleep.
    if (isQex)
    {
        const double end = Pacing::elapsedMilliseconds() + Protocol::afterQexMs;
        while (! cancelled && ! cancelNow() && Pacing::elapsedMilliseconds() < end)
            Pacing::sleep (Protocol::afterQexStepMs);
    }
    else
    {
        Pacing::sleep (Protocol::afterDspMs);
    }
    Pacing::sleep (Protocol::afterPhaseMs);

    if (cancelled)
        return phaseCancelled;
    return started && result == phaseSucceeded ? phaseSucceeded : phaseFailed;
}

std::array<FirmwareKind, 2> fullUpdateOrder (FirmwareManager::UnitMode mode)
{
    if (mode == FirmwareManager::UnitMode::loader)
        return {FirmwareKind::qex, FirmwareKind::dsp};
    return {FirmwareKind::dsp, FirmwareKind::qex};
}

FirmwareManager::UnitMode askUnitModeForUpdate (FirmwareManager& link)
{
    using Mode = FirmwareManager::UnitMode;
    auto mode = link.askUnitMode();
    if (mode == Mode::unknown)
        mode = link.askUnitMode();
    return mode != Mode::unknown ? mode : link.lastKnownMode();
}

std::optional<ImageRefused> selectImagesToWrite (FirmwareManager& link, const ImagesToWrite& images)
{
    std::optional<ImageRefused> refused;
    if (images.qex)
    {
        if (images.qexFile == juce::File())
            link.loadBuiltInQexImage();
        else
            link.loadQexImageFile (images.qexFile);
        if (! link.qexImageValid.load())
            refused = ImageRefused{FirmwareKind::qex, link.imageError};
    }
    if (images.dsp)
    {
        const bool taken =
            images.dspFile == juce::File() ? link.loadBuiltInDspImage() : link.loadDspImageFile (images.dspFile);
        if (! taken && ! refused)
            refused = ImageRefused{FirmwareKind::dsp, link.imageError};
    }
    return refused;
}

bool dspAloneMeetsALoader (FirmwareManager& link)
{
    return link.dspImageLoaded.load() && askUnitModeForUpdate (link) == FirmwareManager::UnitMode::loader;
}

namespace
{
    // The unit restarts after its power cycle: its ports are looked for only once it has had the
    // time to go and come back, and it is given a moment with them open before it is asked
    // anything.
    bool waitAfterPowerCycle (const FullUpdateSteps& steps)
    {
        Pacing::sleep (Protocol::beforeContinueMs);
        if (! steps.waitForUnit())
            return false;
        Pacing::sleep (Protocol::afterPowerOnMs);
        return true;
    }
} // namespace

FullUpdateOutcome runFullUpdateSequence (FirmwareManager& link, const FullUpdateSteps& steps)
{
    using Mode = FirmwareManager::UnitMode;
    const auto modeBefore = askUnitModeForUpdate (link);
    const auto order = fullUpdateOrder (modeBefore);

    FullUpdateOutcome outcome;
    for (int index = 0; index < 2; ++index)
    {
        if (index == 1)
        {
            if (! steps.askForPowerCycle (order[0]) || ! waitAfterPowerCycle (steps))
            {
                outcome.result = phaseCancelled;
                outcome.stoppedBetween = true;
                return outcome;
            }

            const bool dspNext = order[1] == FirmwareKind::dsp;
            if (askUnitModeForUpdate (link) == Mode::loader && (dspNext || modeBefore == Mode::running))
            {
                outcome.result = phaseFailed;
                outcome.wrongModeAfterCycle = true;
                return outcome;
            }
        }

        outcome.lastKind = order[(size_t) index];
        outcome.result = steps.runPhase (outcome.lastKind, index);
        outcome.phasesRun = index + 1;
        if (outcome.result != phaseSucceeded)
            break;
    }
    return outcome;
}
} // namespace zelvor
