#pragma once

#include "link/FirmwareManager.h"

#include <functional>

namespace zelvor
{
enum class FirmwareKind
{
    qex,
    dsp
};

// Outcomes of one phase of an update run.
constexpr int phaseSucceeded = 1;
constexpr int phaseFailed = -1;
constexpr int phaseCancelled = -10;

// One transfer as the update run drives it: a 1000 ms settle, the start operation, a poll of
// the link every 200 ms with progress reported as the link's overall progress (0..1), then the
// closing pauses (500 ms after QEX, which a cancel cuts short, 3000 ms after DSP, and 1000 ms).
// A start that the link refuses counts as a failure. A cancel of the calling thread
// (juce::Thread::signalThreadShouldExit) reaches the start operation, which gives up. When
// shouldCancel turns true the link is told to stop; the phase waits for the link's worker to
// end and collects its result before reporting the cancel, so the ports are never handled by
// two threads at once and the link is ready for the next run.
int runUpdatePhase (FirmwareManager& link,
                    FirmwareKind kind,
                    const std::function<void (double)>& progress,
                    const std::function<bool()>& shouldCancel);
} // namespace zelvor
