#pragma once

#include "sim/VirtualUnit.h"
#include "update/UpdatePhase.h"

#include <functional>

namespace zelvor
{
// An update run as the updater's panel makes it, without a window, against the virtual unit:
// both images are chosen and checked before anything is sent, then the power-on wait, and for
// a full update the panel's own sequence (runFullUpdateSequence) with the unit power-cycled
// between the two phases. The headless driver and the tests share it.
struct HeadlessUpdate
{
    bool dsp = true;
    bool qex = true;
    juce::File qexFile; // none: the built-in image
    juce::File dspFile;
    std::function<void (FirmwareKind, double)> progress; // the running phase's progress, 0..1
    std::function<bool()> shouldCancel;                  // polled as the progress window's Cancel
};

struct HeadlessResult
{
    enum class Outcome
    {
        success,
        failure,
        cancelled
    };

    Outcome outcome = Outcome::failure;
    juce::String reason;        // why it failed; empty on success
    bool portsReleased = false; // the run itself left the unit's ports closed
};

// Runs the update on the calling thread; a cancel also reaches a QEX handshake through the
// calling thread's exit flag when that thread is a juce::Thread.
HeadlessResult runHeadlessUpdate (const HeadlessUpdate& update, VirtualUnit& unit);

// The same against whatever unit the installed MIDI service reaches; powerCycle stands for the
// user switching it off and on between the two firmwares.
HeadlessResult runHeadlessUpdate (const HeadlessUpdate& update, const std::function<void()>& powerCycle);

// The same on a link of the caller's, as the panel keeps one across clicks: what the unit told it
// in a run before still counts. A link that ran before looks for the unit again first.
HeadlessResult runHeadlessUpdate (const HeadlessUpdate& update,
                                  const std::function<void()>& powerCycle,
                                  FirmwareManager& link,
                                  bool ranBefore);
} // namespace zelvor
