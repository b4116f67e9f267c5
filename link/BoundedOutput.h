#pragma once

#include "link/MidiPortService.h"

#include <memory>

namespace zelvor
{
// An output port whose sends are bounded in time. Some platforms' sends wait for the driver
// without limit (a long message on Windows waits until the driver marks it done), so each send
// is made on a thread that belongs to this port alone, and the caller waits for it at most
// Protocol::sendLimitMs. A send not done by then never will be: the port counts as gone from
// then on and sends nothing more. No caller's thread is ever stuck in the driver (the window's
// stays live; a thread that is later ended by force holds no send), and a stuck port is left to
// its own thread, which closes it if the driver ever lets go.
class BoundedOutput
{
public:
    explicit BoundedOutput (std::unique_ptr<MidiOutputPort> port);
    ~BoundedOutput();

    // True once the bytes are handed to the port; false when the send did not complete in time,
    // or an earlier one never did.
    bool send (const juce::MidiMessage& message);

    // False once a send got stuck, or when the port itself says its device has gone.
    bool stillConnected() const;
    bool stalled() const;

    // For a program that is ending: a port whose send was stuck is never closed from then on,
    // even if its driver lets go, as the platform's MIDI service may already be gone.
    static void abandonStuckPorts();

private:
    struct Core;
    std::shared_ptr<Core> core;

    JUCE_DECLARE_NON_COPYABLE (BoundedOutput)
};
} // namespace zelvor
