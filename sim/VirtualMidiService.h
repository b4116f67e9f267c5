#pragma once

#include "link/MidiPortService.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace zelvor
{
// In-process MIDI ports standing in for the OS MIDI service: devices plug ports in and out,
// ports can be held by "another program", and what a device sends reaches the host's open
// input on a delivery thread of the service's own, as an OS MIDI thread would deliver it.
//
// What the host writes to an output port is treated as a byte stream, as USB-MIDI does: the
// pieces of one SysEx message reach the device as one complete message; real-time bytes
// (F8..FF) pass on as messages of their own, and bytes outside a message are dropped. In the
// whole-messages-only mode each send is assembled on its own instead.
class VirtualMidiService : public MidiPortService
{
public:
    // Receives each complete message that the host wrote to a device's output port, on the
    // host's sending thread.
    using DeviceSink = std::function<void (const juce::MidiMessage&)>;

    // Sees every message in either direction: toDevice is true for what the host sends (each
    // raw sendMessageNow call, unassembled), false for what a device delivers to the host.
    using TrafficTap = std::function<void (bool toDevice, const std::uint8_t* data, int size)>;

    VirtualMidiService();
    ~VirtualMidiService() override;

    // Adds a port to the end of its list and returns its id. An input port is one the host
    // reads from (the device sends through it); an output port is one the host writes to. The
    // ports of one device share its number (newDevice); with 0 the listing tells no device, so
    // only the names pair an input with an output.
    int addInputPort (const juce::String& name, int device = 0);
    int addOutputPort (const juce::String& name, DeviceSink sink, int device = 0);

    // A number for a device's ports, new each time, as a system gives a device that
    // (re-)enumerates a new sequencer client.
    int newDevice();

    // Lists a device that is not the unit, both ways (what is sent to it is dropped), as a real
    // system lists others beside it.
    void addOtherDevice (const juce::String& name);

    // Unplugs a port: it leaves its list, and handles open on it go dead (an input receives
    // nothing more, an output's messages go nowhere).
    void removePort (int portId);

    // While held by another program a port stays listed but cannot be opened.
    void setHeld (int portId, bool held);

    // A port missing from the listings for that long (protocol ms), as a system's enumeration
    // can miss a device for a moment; handles open on it keep working.
    void hideFromListings (int portId, double milliseconds);

    // Queues a message from a device to the host; it reaches the callback of every started
    // handle on that input port after `delayMilliseconds` of protocol time.
    void deliver (int inputPortId, const juce::MidiMessage& message, double delayMilliseconds = 0.0);

    // Runs an action on the delivery thread after `delayMilliseconds` of protocol time (a
    // device's own timers, such as a restart).
    void schedule (double delayMilliseconds, std::function<void()> action);

    // Blocks until every delivery and action due so far has run.
    void waitUntilIdle();

    void setTrafficTap (TrafficTap tap);

    // Like a platform that does not tell which ports belong to one device (Windows): the
    // listings carry no device, and a name listed again is numbered as Windows numbers it
    // ("2- NAME").
    void setNamesOnly (bool namesOnly);

    // Lists the inputs, or the outputs, last added first.
    void setListingReversed (bool inputs, bool outputs);

    // Like a MIDI layer that encodes every send on its own: a send that is not made of whole
    // messages loses its unfinished part (a SysEx sent in pieces never arrives). The service
    // then reports that it takes whole messages only.
    void setWholeMessagesOnly (bool wholeOnly);

    // Like JUCE's Windows output: a send of 1 to 3 bytes that does not start with F0 goes out as
    // a short message made from other bytes, so what it carried never arrives.
    void setShortSendsLost (bool lost);

    // Like a driver that never completes a send (a unit pulled out mid-send): while set, every
    // send to an output port blocks; cleared, the blocked sends go through.
    void setSendsStall (bool stall);
    bool sendsWholeMessagesOnly() const override;
    juce::String serviceName() const override
    {
        return "virtual MIDI service";
    }

    juce::Array<MidiPortInfo> listInputs() override;
    juce::Array<MidiPortInfo> listOutputs() override;
    std::unique_ptr<MidiInputPort> openInputPort (const juce::String& identifier,
                                                  juce::MidiInputCallback* callback) override;
    std::unique_ptr<MidiOutputPort> openOutputPort (const juce::String& identifier) override;

    struct State;

private:
    std::shared_ptr<State> state;
};
} // namespace zelvor
