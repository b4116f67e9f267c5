#include "update/UpdatePhase.h"

#include "link/Pacing.h"

namespace zelvor
{
int runUpdatePhase (FirmwareManager& link,
                    FirmwareKind kind,
                    const std::function<void (double)>& progress,
                    const std::function<bool()>& shouldCancel)
{
    const bool isQex = kind == FirmwareKind::qex;
    auto poll = [&link, isQex]
    { return isQex ? link.pollQexResult() : link.pollDspResult(); };

    auto cancelNow = [&shouldCancel]
    { return shouldCancel != nullptr && shouldCancel(); };

    Pacing::sleep (1000);
    if (cancelNow())
        return phaseCancelled;

    // A cancel of the calling thread also reaches the start operation (the QEX handshake
    // can take a minute), which then gives up.
    const bool started = isQex ? link.startQexUpdate() : link.startDspUpdate();

    bool cancelled = ! started && cancelNow();
    int result = poll();
    while (result == 0)
    {
        if (cancelNow())
        {
            link.signalThreadShouldExit();
            link.waitForWorkerToEnd();
            poll();
            cancelled = true;
            break;
        }

        if (progress != nullptr)
            progress (link.overallProgress.load());
        Pacing::sleep (200);
        result = poll();
    }

    // After QEX a wait that a cancel cuts short; after DSP a plain sleep.
    if (isQex)
    {
        const double end = Pacing::elapsedMilliseconds() + 500.0;
        while (! cancelled && ! cancelNow() && Pacing::elapsedMilliseconds() < end)
            Pacing::sleep (20);
    }
    else
    {
        Pacing::sleep (3000);
    }
    Pacing::sleep (1000);

    if (cancelled)
        return phaseCancelled;
    return started && result == phaseSucceeded ? phaseSucceeded : phaseFailed;
}
} // namespace zelvor
