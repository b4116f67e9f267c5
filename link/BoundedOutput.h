#pragma once

#include "link/MidiPortService.h"

#include <atomic>
#include <memory>

namespace zelvor
{
struct SendHandOver;

// An open output whose sends can be bounded in time. A driver may never complete a send (JUCE's
// Windows send waits for it without a limit), and two threads must never be held by one: the
// window's, which must keep painting, and an update run's, which JUCE kills when it does not end
// in time after a cancel (and a killed send leaves the driver with memory on a dead stack).
// Their sends are handed to a sender thread while they wait a bounded time. A port whose send
// did not complete is stuck for good: it is never written again, and only that sender closes
// it, if the send ever completes.
class BoundedOutput
{
public:
    explicit BoundedOutput (std::unique_ptr<MidiOutputPort> port);
    ~BoundedOutput();

    // Sends on the calling thread, for a caller that watches its sends itself (the link's
    // worker, whose phase bounds them). Nothing is sent on a stuck port.
    void sendHere (const juce::MidiMessage& message);

    // Hands the send to the sender thread and waits at most realLimitMs for it, keeping the
    // windows painting on the window thread. False when it did not complete in time or the port
    // was stuck already; the port is stuck from then on.
    bool sendWithin (const juce::MidiMessage& message, double realLimitMs);

    // False once stuck, or when the device has gone.
    bool stillConnected() const;
    bool stuck() const;

private:
    std::unique_ptr<MidiOutputPort> port;
    std::atomic<bool> stuckFlag{false};
    std::shared_ptr<SendHandOver> stuckOn; // the sender whose send on this port did not complete

    JUCE_DECLARE_NON_COPYABLE (BoundedOutput)
};
} // namespace zelvor
