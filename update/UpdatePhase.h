#pragma once

#include "link/FirmwareManager.h"

#include <array>
#include <functional>
#include <optional>

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

// A full update of both firmwares, as the panel and the headless driver run it. The unit is
// asked who it is first (askUnitModeForUpdate). Running its main firmware, or of a mode not known,
// it gets DSP, then QEX. Left in its loader by an update cut short, it gets QEX first, since a
// loader takes only the flash commands, and DSP once it has been power-cycled into the new
// firmware.
std::array<FirmwareKind, 2> fullUpdateOrder (FirmwareManager::UnitMode mode);

// The images a run is to write: a file where one is given, the built-in image otherwise.
struct ImagesToWrite
{
    bool qex = true;
    bool dsp = true;
    juce::File qexFile;
    juce::File dspFile;
};

struct ImageRefused
{
    FirmwareKind kind;
    juce::String reason; // a sentence for the user
};

// Selects every image a run writes before its first message, so that a bad second image never
// costs a rewrite of the first. The first image refused, if any.
std::optional<ImageRefused> selectImagesToWrite (FirmwareManager& link, const ImagesToWrite& images);

// The unit's mode, to choose what may be written to it: asked, asked once more when no answer
// came (a reply lost), and otherwise what the unit last told the link. A DSP image sent to a
// loader is ignored for minutes and ends in a certain failure.
FirmwareManager::UnitMode askUnitModeForUpdate (FirmwareManager& link);

// Before a DSP update on its own: a unit left in its loader takes only its QEX firmware, so the
// DSP image is never started there. With no DSP image selected the unit is not asked (the run is
// refused anyway, and nothing at all is sent).
bool dspAloneMeetsALoader (FirmwareManager& link);

// What the panel and the headless driver each do their own way; the pauses between them are the
// sequence's.
struct FullUpdateSteps
{
    // Runs one phase (index 0 or 1) and returns phaseSucceeded, phaseFailed or phaseCancelled.
    std::function<int (FirmwareKind kind, int index)> runPhase;
    // After a first phase that succeeded: the user is asked to power-cycle the unit (the
    // driver's rig does it). False when the run stops there (the user cancelled, or quit).
    std::function<bool (FirmwareKind written)> askForPowerCycle;
    // Then, after Protocol::beforeContinueMs, the unit is waited for and its ports opened. False
    // when the run stops there (it did not come back, or another unit came with it).
    std::function<bool()> waitForUnit;
};

struct FullUpdateOutcome
{
    int result = phaseFailed;                  // of the phase that ended the run; phaseCancelled when stopped between
    FirmwareKind lastKind = FirmwareKind::dsp; // that phase's firmware
    int phasesRun = 0;
    bool stoppedBetween = false;
    // The unit that answered after the power cycle is not in the mode the first phase left
    // its unit in: another unit, or the same one not power-cycled. Nothing of the second
    // phase was sent.
    bool wrongModeAfterCycle = false;
};

// After the power cycle the unit is asked again who it is: the second phase runs only on a unit
// in the mode the first one left it in (DSP needs its main firmware running; a unit that ran its
// main firmware before the DSP phase must not come back in its loader). No answer goes on.
FullUpdateOutcome runFullUpdateSequence (FirmwareManager& link, const FullUpdateSteps& steps);
} // namespace zelvor
